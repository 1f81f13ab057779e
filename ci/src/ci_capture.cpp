/*
 * Capture on a registered pipeline: shots (with their statistics, defect-map, encoder-statistics and
 * load areas mapped read-only), buffers allocated by the driver or imported from a descriptor, start
 * and stop, triggering, acquiring and releasing frames, HDR insertion buffers and the queries.
 */
#include "ci/ci_capture.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

#include "ci/ci_connection_internal.h"
#include "ci/ci_ioctrl.h"
#include "norvacommon/userlog.h"

namespace {

constexpr const char *kTag = "CI_API";

INT_PIPELINE *intPipeline(CI_PIPELINE *p) { return reinterpret_cast<INT_PIPELINE *>(p); }

INT_SHOT *intShot(CI_SHOT *shot) {
    return reinterpret_cast<INT_SHOT *>(reinterpret_cast<char *>(shot) - offsetof(INT_SHOT, publicShot));
}

const INT_SHOT *intShot(const CI_SHOT *shot) {
    return reinterpret_cast<const INT_SHOT *>(reinterpret_cast<const char *>(shot) - offsetof(INT_SHOT, publicShot));
}

int control(INT_PIPELINE *pipe, CI_eIOCTL nr, const void *arg) {
    return SYS_IO_Control(pipe->pConnection->fileDesc, CI_IOCTL_CMD(nr),
                          static_cast<long>(reinterpret_cast<intptr_t>(arg)));
}

int controlValue(INT_PIPELINE *pipe, CI_eIOCTL nr, long value) {
    return SYS_IO_Control(pipe->pConnection->fileDesc, CI_IOCTL_CMD(nr), value);
}

bool registered(const INT_PIPELINE *pipe) { return pipe->ui32Identifier > 0; }

/** How each caller's role is created: allocation kind, the format it needs and the mapping. */
struct RoleRow {
    CI_BUFFTYPE role;
    int allocKind;
    size_t formatOffset;   /* of the PIXELTYPE in CI_PIPELINE_CONFIG */
    unsigned allowedKinds; /* bit per FORMAT_TYPES value */
    int prot;
};
#define KIND(k) (1u << (k))
const RoleRow kRoles[] = {
    {CI_TYPE_ENCODER, CI_ALLOC_ENC, offsetof(CI_PIPELINE_CONFIG, eEncType), KIND(TYPE_YUV), PROT_READ},
    {CI_TYPE_DISPLAY, CI_ALLOC_DISP, offsetof(CI_PIPELINE_CONFIG, eDispType), KIND(TYPE_RGB) | KIND(TYPE_YUV),
     PROT_READ},
    {CI_TYPE_DATAEXT, CI_ALLOC_DISP, offsetof(CI_PIPELINE_CONFIG, eDispType), KIND(TYPE_BAYER), PROT_READ},
    {CI_TYPE_HDREXT, CI_ALLOC_HDREXT, offsetof(CI_PIPELINE_CONFIG, eHDRExtType), KIND(TYPE_RGB), PROT_READ},
    {CI_TYPE_HDRINS, CI_ALLOC_HDRINS, offsetof(CI_PIPELINE_CONFIG, eHDRInsType), KIND(TYPE_RGB), PROT_WRITE},
    {CI_TYPE_RAW2D, CI_ALLOC_RAW2D, offsetof(CI_PIPELINE_CONFIG, eRaw2DExtraction), KIND(TYPE_BAYER), PROT_READ},
};
#undef KIND

const PIXELTYPE &formatAt(const CI_PIPELINE_CONFIG &cfg, size_t offset) {
    return *reinterpret_cast<const PIXELTYPE *>(reinterpret_cast<const char *>(&cfg) + offset);
}

/* ---- buffer list ---- */

struct FindById {
    QOR_INT32 id;
};

QOR_BOOL8 List_FindBufferById(void *elem, void *param) {
    return static_cast<INT_BUFFER *>(elem)->ID == static_cast<FindById *>(param)->id ? QOR_FALSE : QOR_TRUE;
}

INT_BUFFER *findBuffer(INT_PIPELINE *pipe, QOR_UINT32 id) {
    FindById key = {static_cast<QOR_INT32>(id)};
    Cell_T *cell = List_visitor(&pipe->sList_buffers, &key, List_FindBufferById);
    return cell != nullptr ? static_cast<INT_BUFFER *>(cell->object) : nullptr;
}

QOR_BOOL8 List_FindBufferByFd(void *elem, void *param) {
    return static_cast<INT_BUFFER *>(elem)->ionFd == *static_cast<QOR_INT32 *>(param) ? QOR_FALSE : QOR_TRUE;
}

struct FindAvailable {
    int kind;
};

QOR_BOOL8 List_FindAvailable(void *elem, void *param) {
    const INT_BUFFER *b = static_cast<INT_BUFFER *>(elem);
    return b->type == static_cast<FindAvailable *>(param)->kind && b->eStatus == INT_BUFFER_AVAILABLE &&
                   !b->bHDRReserved
               ? QOR_FALSE
               : QOR_TRUE;
}

INT_BUFFER *firstAvailable(INT_PIPELINE *pipe, int kind) {
    FindAvailable key = {kind};
    Cell_T *cell = List_visitor(&pipe->sList_buffers, &key, List_FindAvailable);
    return cell != nullptr ? static_cast<INT_BUFFER *>(cell->object) : nullptr;
}

QOR_BOOL8 List_PendingToAvailable(void *elem, void *) {
    INT_BUFFER *b = static_cast<INT_BUFFER *>(elem);
    if (b->eStatus == INT_BUFFER_PENDING)
        b->eStatus = INT_BUFFER_AVAILABLE;
    return QOR_TRUE;
}

void pendingToAvailable(INT_PIPELINE *pipe) { List_visitor(&pipe->sList_buffers, nullptr, List_PendingToAvailable); }

/* ---- shot list ---- */

struct FindShot {
    int id;
};

QOR_BOOL8 List_FindShot(void *elem, void *param) {
    return static_cast<INT_SHOT *>(elem)->iIdentifier == static_cast<FindShot *>(param)->id ? QOR_FALSE : QOR_TRUE;
}

INT_SHOT *findShot(INT_PIPELINE *pipe, int id) {
    FindShot key = {id};
    Cell_T *cell = List_visitor(&pipe->sList_shots, &key, List_FindShot);
    return cell != nullptr ? static_cast<INT_SHOT *>(cell->object) : nullptr;
}

QOR_BOOL8 List_IsAcquired(void *elem, void *) {
    return static_cast<INT_SHOT *>(elem)->bAcquired ? QOR_FALSE : QOR_TRUE;
}

/** One mapped area of a shot. */
struct ShotArea {
    int mapIndex;
    size_t sizeOffset;    /* of the QOR_UINT32 size in CI_SHOT */
    size_t addressOffset; /* of the address in CI_SHOT */
    const char *failure;
};
const ShotArea kShotAreas[] = {
    {CI_POOL_MAP_ID_STAT, offsetof(CI_SHOT, statsSize), offsetof(CI_SHOT, pStatistics),
     "Failed to map the statistics to user-space %d/%d\n"},
    {CI_POOL_MAP_ID_DPF, offsetof(CI_SHOT, uiDPFSize), offsetof(CI_SHOT, pDPFMap),
     "Failed to map the DPF output to user-space %d/%d\n"},
    {CI_POOL_MAP_ID_ENS, offsetof(CI_SHOT, uiENSSize), offsetof(CI_SHOT, pENSOutput),
     "Failed to map the ENS output to user-space %d/%d\n"},
    // The load structure the hardware applied to the frame: the configuration read-back decodes it.
    {CI_POOL_MAP_ID_LOAD, offsetof(CI_SHOT, loadSize), offsetof(CI_SHOT, pLoadStruct),
     "Failed to map the load structure to user-space %d/%d\n"},
};

QOR_UINT32 &areaSize(CI_SHOT &shot, const ShotArea &a) {
    return *reinterpret_cast<QOR_UINT32 *>(reinterpret_cast<char *>(&shot) + a.sizeOffset);
}

void *&areaAddress(CI_SHOT &shot, const ShotArea &a) {
    return *reinterpret_cast<void **>(reinterpret_cast<char *>(&shot) + a.addressOffset);
}

void unmapShot(INT_PIPELINE *pipe, INT_SHOT *shot) {
    for (const ShotArea &a : kShotAreas) {
        void *&addr = areaAddress(shot->publicShot, a);
        if (addr != nullptr && pipe->pConnection != nullptr) {
            SYS_IO_MemUnmap(pipe->pConnection->fileDesc, addr, areaSize(shot->publicShot, a));
        }
        addr = nullptr;
    }
}

/** Attached buffers of a shot, in the order encoder, display, HDR extraction, raw 2D. */
INT_BUFFER **attached(INT_SHOT *shot, int i) {
    INT_BUFFER **slots[] = {&shot->pEncOutput, &shot->pDispOutput, &shot->pHDRExtOutput, &shot->pRaw2DExtOutput};
    return slots[i];
}

void freeBuffer(INT_PIPELINE *pipe, INT_BUFFER *buffer) {
    if (pipe->pConnection != nullptr && buffer->memory != nullptr) {
        SYS_IO_MemUnmap(pipe->pConnection->fileDesc, buffer->memory, buffer->uiSize);
    }
    free(buffer);
}

/** Gives a driver shot back (after a failed acquire) and frees the buffers it named. */
bool giveBack(INT_PIPELINE *pipe, const CI_BUFFER_PARAM &param) {
    CI_BUFFER_TRIGG release;
    memset(&release, 0, sizeof(release));
    release.captureId = pipe->ui32Identifier;
    release.shotId = param.shotId;
    const int ret = control(pipe, CI_CAPTURE_RELEASE, &release);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to give shot %d back to the driver (returned %d)\n", param.shotId, ret);
        return false;
    }
    const QOR_UINT32 ids[] = {param.shot.encId, param.shot.dispId, param.shot.HDRExtId, param.shot.raw2DExtId};
    for (QOR_UINT32 id : ids) {
        INT_BUFFER *b = id != 0 ? findBuffer(pipe, id) : nullptr;
        if (b != nullptr && b->eStatus != INT_BUFFER_AVAILABLE)
            b->eStatus = INT_BUFFER_AVAILABLE;
    }
    return true;
}

/** One output of a shot as acquire fills it. */
struct OutputRow {
    const char *name;
    size_t idOffset;      /* QOR_UINT32 in CI_SHOT */
    size_t addressOffset; /* void* in CI_SHOT */
    size_t tiledOffset;   /* QOR_BOOL8 in CI_SHOT, or 0 when the output has none */
    const char *notFound;
};
const OutputRow kOutputs[] = {
    {"encoder", offsetof(CI_SHOT, encId), offsetof(CI_SHOT, pEncoderOutput), offsetof(CI_SHOT, bEncTiled),
     "Failed to find the acquired the specified enc buffer (id=%d) in the user side list!\n"},
    {"display", offsetof(CI_SHOT, dispId), offsetof(CI_SHOT, pDisplayOutput), offsetof(CI_SHOT, bDispTiled),
     "Failed to find the acquired the specified disp buffer (id=%d) in the user side list!\n"},
    {"HDR extraction", offsetof(CI_SHOT, HDRExtId), offsetof(CI_SHOT, pHDRExtOutput), offsetof(CI_SHOT, bHDRExtTiled),
     "Failed to find the acquired the specified HDRExt buffer (id=%d) in the user side list!\n"},
    {"raw 2D", offsetof(CI_SHOT, raw2DExtId), offsetof(CI_SHOT, pRaw2DExtOutput), 0,
     "Failed to find the acquired the specified Raw2dExt buffer (id=%d) in the user side list!\n"},
};

template <typename T> T &fieldAt(CI_SHOT &shot, size_t offset) {
    return *reinterpret_cast<T *>(reinterpret_cast<char *>(&shot) + offset);
}
template <typename T> const T &fieldAt(const CI_SHOT &shot, size_t offset) {
    return *reinterpret_cast<const T *>(reinterpret_cast<const char *>(&shot) + offset);
}

/** One plane must lie inside the buffer; computed in 64 bits so that no product wraps. */
bool planeFits(QOR_UINT64 offset, QOR_UINT64 stride, QOR_UINT64 rows, QOR_UINT64 size) {
    return offset + stride * rows <= size;
}

/** The planes the driver reports for output i lie inside the buffer it names. */
bool layoutFits(const CI_SHOT &s, int i, QOR_UINT32 size) {
    switch (i) {
    case 0:
        return planeFits(s.aEncOffset[0], s.aEncYSize[0], s.aEncYSize[1], size) &&
               planeFits(s.aEncOffset[1], s.aEncCbCrSize[0], s.aEncCbCrSize[1], size);
    case 1:
        return planeFits(s.ui32DispOffset, s.aDispSize[0], s.aDispSize[1], size);
    case 2:
        return planeFits(s.ui32HDRExtOffset, s.aHDRExtSize[0], s.aHDRExtSize[1], size);
    default:
        return planeFits(s.ui32Raw2DOffset, s.aRaw2DSize[0], s.aRaw2DSize[1], size);
    }
}

/** Copies output i's sizes and offsets from the driver's shot. */
void copyLayout(CI_SHOT &to, const CI_SHOT &from, int i) {
    switch (i) {
    case 0:
        memcpy(to.aEncYSize, from.aEncYSize, sizeof(to.aEncYSize));
        memcpy(to.aEncCbCrSize, from.aEncCbCrSize, sizeof(to.aEncCbCrSize));
        memcpy(to.aEncOffset, from.aEncOffset, sizeof(to.aEncOffset));
        break;
    case 1:
        memcpy(to.aDispSize, from.aDispSize, sizeof(to.aDispSize));
        to.ui32DispOffset = from.ui32DispOffset;
        break;
    case 2:
        memcpy(to.aHDRExtSize, from.aHDRExtSize, sizeof(to.aHDRExtSize));
        to.ui32HDRExtOffset = from.ui32HDRExtOffset;
        break;
    default:
        memcpy(to.aRaw2DSize, from.aRaw2DSize, sizeof(to.aRaw2DSize));
        to.ui32Raw2DOffset = from.ui32Raw2DOffset;
        break;
    }
}

// The pipeline behind a handle that must be registered, or null after logging, under the caller's name, why not.
INT_PIPELINE *registeredPipeline(CI_PIPELINE *pPipeline, const char *func,
                                 const char *notRegistered = "configuration is not registered\n") {
    if (pPipeline == nullptr) {
        LOG_Error(func, __LINE__, kTag, "pPipeline is NULL\n");
        return nullptr;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (!registered(pipe)) {
        LOG_Error(func, __LINE__, kTag, "%s", notRegistered);
        return nullptr;
    }
    return pipe;
}

QOR_BOOL8 driverQueryAvailable(CI_PIPELINE *pPipeline, const char *func, const char *failure, bool shots,
                               bool buffers) {
    INT_PIPELINE *pipe = registeredPipeline(pPipeline, func);
    if (pipe == nullptr) {
        return QOR_FALSE;
    }
    CI_HAS_AVAIL avail;
    memset(&avail, 0, sizeof(avail));
    avail.captureId = pipe->ui32Identifier;
    const int ret = control(pipe, CI_CAPTURE_HASAVAILABLE, &avail);
    if (ret < 0) {
        LOG_Error(func, __LINE__, kTag, failure, ret);
        return QOR_FALSE;
    }
    return ((!shots || avail.uiShots != 0) && (!buffers || avail.uiBuffers != 0)) ? QOR_TRUE : QOR_FALSE;
}

} // namespace

extern "C" {

/* ---------------------------------------------------------------- shots */

QOR_RESULT CI_PipelineAddPool(CI_PIPELINE *pPipeline, QOR_UINT32 ui32NBuffers) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline or pBuffTiled is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (!registered(pipe)) {
        QOR_LOG_ERROR(kTag, "configuration is not registered\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (ui32NBuffers == 0) {
        QOR_LOG_WARNING(kTag, "no buffer to add...\n");
        return QOR_RES_OK;
    }
    const int n = static_cast<int>(ui32NBuffers);
    for (int i = 0; i < n; i++) {
        INT_SHOT *shot = static_cast<INT_SHOT *>(calloc(1, sizeof(INT_SHOT)));
        if (shot == nullptr) {
            QOR_LOG_ERROR(kTag, "Failed to allocate one of new buffer (%luB) %d/%d\n",
                          static_cast<unsigned long>(sizeof(INT_SHOT)), i, n);
            return QOR_RES_NO_MEMORY;
        }
        CI_POOL_PARAM param;
        memset(&param, 0, sizeof(param));
        param.configId = static_cast<QOR_UINT32>(pipe->ui32Identifier);
        const int ret = control(pipe, CI_CONFIG_ADDPOOL, &param);
        if (ret < 0) {
            QOR_LOG_ERROR(kTag, "Failed to add buffer %d/%d to the configuration (returned %d)\n", i, n, ret);
            free(shot);
            return toQorResult(ret);
        }
        shot->publicShot = param.sample;
        shot->iIdentifier = param.iShotId;
        shot->sCell.object = shot;
        CI_SHOT &s = shot->publicShot;
        // Addresses in the driver's sample mean nothing here.
        s.pEncoderOutput = s.pDisplayOutput = s.pHDRExtOutput = s.pRaw2DExtOutput = nullptr;
        s.pExtraParams = nullptr;
        bool mapped = true;
        for (const ShotArea &a : kShotAreas) {
            void *&addr = areaAddress(s, a);
            addr = nullptr;
            const QOR_UINT32 id = param.aMemMapIds[a.mapIndex];
            if (id == 0)
                continue;
            addr = SYS_IO_MemMap2(pipe->pConnection->fileDesc, areaSize(s, a), PROT_READ, MAP_SHARED, id);
            if (addr == nullptr) {
                QOR_LOG_ERROR(kTag, a.failure, i, n);
                mapped = false;
            }
        }
        if (!mapped) {
            // The driver holds the shot already: keep its record so that it is accounted for (deleted with
            // the pool, given straight back when a frame lands in it), but never hand it to a caller.
            unmapShot(pipe, shot);
            shot->bUnmapped = QOR_TRUE;
            const QOR_RESULT pushed = List_pushBack(&pipe->sList_shots, &shot->sCell);
            if (pushed != QOR_RES_OK)
                free(shot);
            return QOR_RES_FAILED;
        }
        const QOR_RESULT pushed = List_pushBack(&pipe->sList_shots, &shot->sCell);
        if (pushed != QOR_RES_OK) {
            unmapShot(pipe, shot);
            free(shot);
            return pushed;
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineDeleteShots(CI_PIPELINE *pPipeline) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (!registered(pipe)) {
        QOR_LOG_ERROR(kTag, "pipeline is not registered\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (pipe->bStarted) {
        // The driver keeps the pool of a running capture: freeing our side alone would forget its shots.
        QOR_LOG_ERROR(kTag, "Cannot delete the shots of a started capture - stop it beforehand\n");
        return QOR_RES_UNAVAILABLE;
    }
    Cell_T *cell;
    while ((cell = List_popFront(&pipe->sList_shots)) != nullptr) {
        INT_SHOT *shot = static_cast<INT_SHOT *>(cell->object);
        // The driver frees the buffers of an acquired shot with the pool: so do we, or they stay acquired.
        for (int i = 0; i < 4; i++) {
            INT_BUFFER *b = *attached(shot, i);
            if (b != nullptr && b->eStatus == INT_BUFFER_ACQUIRED)
                b->eStatus = INT_BUFFER_AVAILABLE;
        }
        unmapShot(pipe, shot);
        free(shot);
    }
    const int ret = controlValue(pipe, CI_CONFIG_DELPOOL, pipe->ui32Identifier);
    if (ret < 0) {
        const QOR_RESULT mapped = toQorResult(ret);
        QOR_LOG_ERROR(kTag, "Failed to remove shots (ret=%d)\n", static_cast<int>(mapped));
        return mapped;
    }
    return QOR_RES_OK;
}

/* ---------------------------------------------------------------- buffers */

QOR_RESULT QOR_CI_PipelineCreateBuffer(CI_PIPELINE *pPipeline, CI_BUFFTYPE eBuffer, QOR_UINT32 ui32Size,
                                       QOR_BOOL8 bTiled, QOR_UINT32 ionFd, QOR_UINT32 *pBufferId) {
    if (pPipeline == nullptr || eBuffer == CI_TYPE_NONE) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL or buffer type is NONE\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (!registered(pipe)) {
        QOR_LOG_ERROR(kTag, "Pipeline is not registered\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (bTiled && !pipe->bSupportTiling) {
        QOR_LOG_ERROR(kTag,
                      "Pipeline is not configured to support tiling, use bSupportTiling before registration to allow "
                      "impotation/allocation of tiled buffers\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    const RoleRow *role = nullptr;
    for (const RoleRow &r : kRoles) {
        if (r.role == eBuffer)
            role = &r;
    }
    if (role == nullptr) {
        QOR_LOG_ERROR(kTag, "unsupoprted buffer format configured!\n");
        return QOR_RES_FAILED;
    }
    const CI_PIPELINE_CONFIG &cfg = pPipeline->config;
    const unsigned kind = static_cast<unsigned>(formatAt(cfg, role->formatOffset).eBuffer);
    if (kind > TYPE_BAYER || (role->allowedKinds & (1u << kind)) == 0) {
        QOR_LOG_ERROR(kTag,
                      "Given buffer type %d is not configured in current Pipeline setup (encoder=%d, display=%d, "
                      "hdrExt=%d, hdrIns=%d, raw2D=%d)\n",
                      static_cast<int>(eBuffer), static_cast<int>(cfg.eEncType.eBuffer),
                      static_cast<int>(cfg.eDispType.eBuffer), static_cast<int>(cfg.eHDRExtType.eBuffer),
                      static_cast<int>(cfg.eHDRInsType.eBuffer), static_cast<int>(cfg.eRaw2DExtraction.eBuffer));
        return QOR_RES_NOT_SUPPORTED;
    }
    CI_ALLOC_PARAM param;
    memset(&param, 0, sizeof(param));
    param.configId = static_cast<QOR_UINT32>(pipe->ui32Identifier);
    param.fd = ionFd;
    param.type = role->allocKind;
    param.bTiled = bTiled;
    param.uiMemMapId = 0;
    param.uiSize = ui32Size;
    const int ret = control(pipe, CI_CREATE_BUFF, &param);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to create buffers in kernel space (returned %d)\n", ret);
        return toQorResult(ret);
    }
    INT_BUFFER *buffer = static_cast<INT_BUFFER *>(calloc(1, sizeof(INT_BUFFER)));
    if (buffer == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to allocate new internal Buffer\n");
        return QOR_RES_NO_MEMORY;
    }
    buffer->ID = static_cast<QOR_INT32>(param.uiMemMapId);
    buffer->ionFd = static_cast<QOR_INT32>(ionFd);
    buffer->type = role->allocKind;
    buffer->uiSize = param.uiSize;
    buffer->bIsTiled = bTiled;
    buffer->bHDRReserved = QOR_FALSE;
    buffer->eStatus = INT_BUFFER_AVAILABLE;
    buffer->sCell.object = buffer;
    buffer->memory =
        SYS_IO_MemMap2(pipe->pConnection->fileDesc, buffer->uiSize, role->prot, MAP_SHARED, param.uiMemMapId);
    if (buffer->memory == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to map Buffer to user-space\n");
        free(buffer);
        return QOR_RES_FAILED;
    }
    const QOR_RESULT pushed = List_pushBack(&pipe->sList_buffers, &buffer->sCell);
    if (pushed != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to add buffer to the Pipeline list!\n");
        freeBuffer(pipe, buffer);
        return pushed;
    }
    if (pBufferId != nullptr)
        *pBufferId = param.uiMemMapId;
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineAllocateBuffer(CI_PIPELINE *pPipeline, CI_BUFFTYPE eBuffer, QOR_UINT32 ui32Size, QOR_BOOL8 bTiled,
                                     QOR_UINT32 *pBufferId) {
    return QOR_CI_PipelineCreateBuffer(pPipeline, eBuffer, ui32Size, bTiled, 0, pBufferId);
}

QOR_RESULT CI_PipelineImportBuffer(CI_PIPELINE *pPipeline, CI_BUFFTYPE eBuffer, QOR_UINT32 ui32Size, QOR_BOOL8 bTiled,
                                   QOR_UINT32 ionFd, QOR_UINT32 *pBufferId) {
    if (ionFd == 0) {
        QOR_LOG_ERROR(kTag, "Given buffer ID %d is invalid!\n", static_cast<int>(ionFd));
        return QOR_RES_INVALID_PARAM;
    }
    return QOR_CI_PipelineCreateBuffer(pPipeline, eBuffer, ui32Size, bTiled, ionFd, pBufferId);
}

QOR_RESULT CI_PipelineDeregisterBuffer(CI_PIPELINE *pPipeline, QOR_UINT32 id) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    INT_BUFFER *buffer = findBuffer(pipe, id);
    if (buffer == nullptr) {
        QOR_LOG_ERROR(kTag, "Buffer %d not found in userspace buffer list!\n", static_cast<int>(id));
        return QOR_RES_UNAVAILABLE;
    }
    if (buffer->eStatus != INT_BUFFER_AVAILABLE) {
        QOR_LOG_ERROR(kTag,
                      "Cannot deregister a buffer that is acquired or pending for capture - release it beforehand\n");
        return QOR_RES_UNAVAILABLE;
    }
    List_detach(&buffer->sCell);
    CI_ALLOC_PARAM param;
    memset(&param, 0, sizeof(param));
    param.configId = static_cast<QOR_UINT32>(pipe->ui32Identifier);
    param.type = buffer->type;
    param.uiMemMapId = id;
    const int ret = control(pipe, CI_DEREGISTER_BUFF, &param);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to deregister buffer %d\n", static_cast<int>(id));
        List_pushBack(&pipe->sList_buffers, &buffer->sCell);
        return toQorResult(ret);
    }
    freeBuffer(pipe, buffer);
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineGetBufferInfo(CI_PIPELINE *pPipeline, QOR_UINT32 id, CI_BUFFER_INFO *pInfo) {
    if (pPipeline == nullptr || pInfo == nullptr || id == 0) {
        QOR_LOG_ERROR(kTag, "pPipeline or pBufferId is NULL or buffId is 0\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (!registered(pipe)) {
        QOR_LOG_ERROR(kTag, "configuration is not registered\n");
        return QOR_RES_NOT_INITIALISED;
    }
    const INT_BUFFER *buffer = findBuffer(pipe, id);
    if (buffer == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to find provided buffId=%d", static_cast<int>(id));
        return QOR_RES_FAILED;
    }
    memset(pInfo, 0, sizeof(*pInfo));
    pInfo->id = static_cast<QOR_UINT32>(buffer->ID);
    pInfo->ionFd = buffer->ionFd;
    pInfo->ui32Size = buffer->uiSize;
    pInfo->type = buffer->type;
    pInfo->bIsTiled = buffer->bIsTiled;
    pInfo->bAvailable = buffer->eStatus == INT_BUFFER_AVAILABLE ? QOR_TRUE : QOR_FALSE;
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineFindBufferFromImportFd(CI_PIPELINE *pPipeline, QOR_UINT32 ionFd, QOR_UINT32 *pBufferId) {
    if (pPipeline == nullptr || pBufferId == nullptr || ionFd == 0) {
        QOR_LOG_ERROR(kTag, "pPipeline or pBufferId is NULL or ionFd is 0\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (!registered(pipe)) {
        QOR_LOG_ERROR(kTag, "configuration is not registered\n");
        return QOR_RES_NOT_INITIALISED;
    }
    QOR_INT32 key = static_cast<QOR_INT32>(ionFd);
    Cell_T *cell = List_visitor(&pipe->sList_buffers, &key, List_FindBufferByFd);
    if (cell == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to find provided ionFd=%d", static_cast<int>(ionFd));
        return QOR_RES_FAILED;
    }
    *pBufferId = static_cast<QOR_UINT32>(static_cast<INT_BUFFER *>(cell->object)->ID);
    return QOR_RES_OK;
}

/* ---------------------------------------------------------------- start and stop */

QOR_RESULT CI_PipelineStartCapture(CI_PIPELINE *pPipeline) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (!registered(pipe)) {
        QOR_LOG_ERROR(kTag, "the pipeline is not registered!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    const int ret = controlValue(pipe, CI_CAPTURE_START, pipe->ui32Identifier);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to start the capture\n");
        return toQorResult(ret);
    }
    pipe->bStarted = QOR_TRUE;
    return ret;
}

QOR_RESULT CI_PipelineStopCapture(CI_PIPELINE *pPipeline) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (!pipe->bStarted) {
        QOR_LOG_ERROR(kTag, "pipeline capture is not started\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    const int ret = controlValue(pipe, CI_CAPTURE_STOP, pipe->ui32Identifier);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to stop the capture\n");
        return toQorResult(ret);
    }
    pendingToAvailable(pipe);
    pipe->bStarted = QOR_FALSE;
    return ret;
}

QOR_BOOL8 CI_PipelineIsStarted(CI_PIPELINE *pPipeline) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_FALSE;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    const int ret = controlValue(pipe, CI_CAPTURE_ISSTARTED, pipe->ui32Identifier);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to verify if the capture was started\n");
        return QOR_FALSE;
    }
    const bool was = pipe->bStarted != 0;
    pipe->bStarted = ret != 0 ? QOR_TRUE : QOR_FALSE;
    if (was && !pipe->bStarted)
        pendingToAvailable(pipe);
    return pipe->bStarted ? QOR_TRUE : QOR_FALSE;
}

/* ---------------------------------------------------------------- triggers */

QOR_RESULT CI_PipelineFindFirstAvailable(CI_PIPELINE *pPipeline, CI_BUFFID *pIds) {
    if (pPipeline == nullptr || pIds == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline or pIds is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    memset(pIds, 0, sizeof(*pIds));
    const CI_PIPELINE_CONFIG &cfg = pPipeline->config;
    struct Pick {
        const PIXELTYPE *format;
        int kind;
        QOR_UINT32 *id;
        const char *missing;
    } picks[] = {
        {&cfg.eEncType, CI_ALLOC_ENC, &pIds->encId, "Failed to find an available encoder output buffer!\n"},
        {&cfg.eDispType, CI_ALLOC_DISP, &pIds->dispId, "Failed to find an available display output buffer!\n"},
        {&cfg.eHDRExtType, CI_ALLOC_HDREXT, &pIds->idHDRExt,
         "Failed to find an available HDR Extraction output buffer!\n"},
        {&cfg.eRaw2DExtraction, CI_ALLOC_RAW2D, &pIds->idRaw2D,
         "Failed to find an available Raw2D Extraction output buffer!\n"},
    };
    for (const Pick &p : picks) {
        if (p.format->eFmt == PXL_NONE)
            continue;
        const INT_BUFFER *b = firstAvailable(pipe, p.kind);
        if (b == nullptr) {
            QOR_LOG_ERROR(kTag, "%s", p.missing);
            return QOR_RES_IN_PROGRESS;
        }
        *p.id = static_cast<QOR_UINT32>(b->ID);
    }
    return QOR_RES_OK;
}

QOR_RESULT QOR_PipelineTriggerShoot(INT_PIPELINE *pIntPipeline, QOR_BOOL8 bBlocking, CI_BUFFID *pBuffId) {
    INT_PIPELINE *pipe = pIntPipeline;
    CI_PIPELINE *pPipeline = &pipe->publicPipeline;
    if (!pipe->bStarted) {
        QOR_LOG_ERROR(kTag, "pipeline capture is not started\n");
        return QOR_RES_UNAVAILABLE;
    }
    CI_BUFFID chosen;
    const CI_BUFFID *ids = pBuffId;
    if (ids == nullptr) {
        if (pPipeline->config.eHDRInsType.eFmt != PXL_NONE) {
            QOR_LOG_ERROR(kTag,
                          "Cannot use first available buffer when using HDR Insertion - specific buffers should be "
                          "specified!\n");
            return QOR_RES_NOT_SUPPORTED;
        }
        const QOR_RESULT ret = CI_PipelineFindFirstAvailable(pPipeline, &chosen);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to find first available buffers\n");
            return ret;
        }
        ids = &chosen;
    }

    // Look every named buffer up before any changes state.
    struct Named {
        QOR_UINT32 id;
        const char *notFound;
        const char *notAvailable;
        INT_BUFFER *buffer;
    } named[] = {
        {ids->encId, "Failed to find specified encoder output buffer %#x!\n",
         "Encoder buffer %u found but it is not available for capture\n", nullptr},
        {ids->dispId, "Failed to find specified display output buffer %#x!\n",
         "Display buffer %u found but it is not available for capture\n", nullptr},
        {ids->idHDRExt, "Failed to find specified HDR extraction output buffer %u!\n",
         "HDR Extraction buffer %u found but it is not available for capture\n", nullptr},
        {ids->idHDRIns, "Failed to find specified HDRIns buffer %u!\n",
         "HDRIns buffer %u found but it is not available for capture\n", nullptr},
        {ids->idRaw2D, "Failed to find specified RAW2D extraction output buffer %u!\n",
         "Raw2D buffer %u found but it is not available for capture\n", nullptr},
    };
    const int kHDRIns = 3;
    for (int i = 0; i < 5; i++) {
        Named &n = named[i];
        if (n.id == 0)
            continue;
        n.buffer = findBuffer(pipe, n.id);
        if (n.buffer == nullptr) {
            QOR_LOG_ERROR(kTag, n.notFound, n.id);
            return QOR_RES_IN_PROGRESS;
        }
        if (i == kHDRIns && n.buffer->type != CI_ALLOC_HDRINS) {
            QOR_LOG_ERROR(kTag, "Specified buffer %d for HDRIns is not an HDRIns buffer\n", static_cast<int>(n.id));
            return QOR_RES_IN_PROGRESS;
        }
        if (n.buffer->eStatus != INT_BUFFER_AVAILABLE) {
            QOR_LOG_ERROR(kTag, n.notAvailable, n.id);
            return QOR_RES_IN_PROGRESS;
        }
    }

    CI_BUFFER_TRIGG trig;
    memset(&trig, 0, sizeof(trig));
    trig.captureId = pipe->ui32Identifier;
    trig.bBlocking = bBlocking;
    CI_BUFFID &b = trig.bufferIds;
    b.encId = ids->encId;
    b.dispId = ids->dispId;
    b.idHDRExt = ids->idHDRExt;
    b.idHDRIns = ids->idHDRIns;
    b.idRaw2D = ids->idRaw2D;
    if (pBuffId != nullptr) {
        b.encStrideY = pBuffId->encStrideY;
        b.encStrideC = pBuffId->encStrideC;
        b.encOffsetY = pBuffId->encOffsetY;
        b.encOffsetC = pBuffId->encOffsetC;
        b.dispStride = pBuffId->dispStride;
        b.dispOffset = pBuffId->dispOffset;
        b.HDRExtStride = pBuffId->HDRExtStride;
        b.HDRExtOffset = pBuffId->HDRExtOffset;
        b.HDRInsStride = pBuffId->HDRInsStride;
        b.HDRInsOffset = pBuffId->HDRInsOffset;
        b.raw2DStride = pBuffId->raw2DStride;
        b.raw2DOffset = pBuffId->raw2DOffset;
    }
    for (Named &n : named) {
        if (n.buffer == nullptr)
            continue;
        n.buffer->eStatus = INT_BUFFER_PENDING;
        n.buffer->bHDRReserved = QOR_FALSE;
    }

    const int ret = control(pipe, CI_CAPTURE_TRIGGER, &trig);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to add a frame to be captured\n");
        const QOR_RESULT mapped = toQorResult(ret);
        if (ret == -ECANCELED && !CI_PipelineIsStarted(pPipeline)) {
            QOR_LOG_INFO(kTag, "Capture was stopped!\n");
        }
        for (Named &n : named) {
            if (n.buffer != nullptr)
                n.buffer->eStatus = INT_BUFFER_AVAILABLE;
        }
        return mapped;
    }
    const QOR_UINT8 pv = pPipeline->config.ui8PrivateValue;
    pipe->sExtraParams[pv].wbsCounters = pPipeline->stats.sWhiteBalanceStats.counters;
    pPipeline->config.ui8PrivateValue = static_cast<QOR_UINT8>(pv + 1u);
    return ret;
}

QOR_RESULT CI_PipelineTriggerShoot(CI_PIPELINE *pPipeline) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    return QOR_PipelineTriggerShoot(intPipeline(pPipeline), QOR_TRUE, nullptr);
}

QOR_RESULT CI_PipelineTriggerShootNB(CI_PIPELINE *pPipeline) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    return QOR_PipelineTriggerShoot(intPipeline(pPipeline), QOR_FALSE, nullptr);
}

QOR_RESULT CI_PipelineTriggerSpecifiedShoot(CI_PIPELINE *pPipeline, CI_BUFFID *pBuffId) {
    if (pPipeline == nullptr || pBuffId == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline or pBuffId is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    return QOR_PipelineTriggerShoot(intPipeline(pPipeline), QOR_TRUE, pBuffId);
}

QOR_RESULT CI_PipelineTriggerSpecifiedShootNB(CI_PIPELINE *pPipeline, CI_BUFFID *pBuffId) {
    if (pPipeline == nullptr || pBuffId == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline or pBuffId is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    return QOR_PipelineTriggerShoot(intPipeline(pPipeline), QOR_FALSE, pBuffId);
}

/* ---------------------------------------------------------------- acquire and release */

QOR_RESULT QOR_PipelineAcquireBuffer(CI_PIPELINE *pPipeline, QOR_BOOL8 bBlocking, CI_SHOT **ppShot) {
    if (pPipeline == nullptr || ppShot == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline or ppBuffer is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (!registered(pipe)) {
        QOR_LOG_ERROR(kTag, "pPipeline is not registered\n");
        return QOR_RES_NOT_INITIALISED;
    }
    CI_BUFFER_PARAM param;
    int ret;
    do {
        memset(&param, 0, sizeof(param));
        param.captureId = pipe->ui32Identifier;
        param.bBlocking = bBlocking;
        ret = control(pipe, CI_CAPTURE_ACQUIRE, &param);
    } while (ret == -EINTR);
    if (ret < 0) {
        if (bBlocking) {
            QOR_LOG_ERROR(kTag, "Failed to acquire a buffer (returned %d - shot id %d)\n", ret, param.shotId);
        }
        return toQorResult(ret);
    }
    if (param.shotId <= 0) {
        if (bBlocking) {
            QOR_LOG_ERROR(kTag, "Failed to acquire a buffer (returned %d - shot id %d)\n", ret, param.shotId);
        }
        return QOR_RES_FAILED;
    }
    INT_SHOT *shot = findShot(pipe, param.shotId);
    if (shot == nullptr || shot->bUnmapped) {
        // A driver shot that no caller could use: give it straight back so that it is not lost.
        QOR_LOG_ERROR(kTag, "Failed to find the acquired buffer in the user side list! param.shotId=%d\n",
                      param.shotId);
        giveBack(pipe, param);
        return QOR_RES_FAILED;
    }
    CI_SHOT &s = shot->publicShot;
    const CI_SHOT &d = param.shot;
    shot->bAcquired = QOR_TRUE;
    s.ui32LinkedListTS = d.ui32LinkedListTS;
    s.ui32InterruptTS = d.ui32InterruptTS;
    s.ui64LinkedListSysTime = d.ui64LinkedListSysTime;
    s.ui64InterruptSysTime = d.ui64InterruptSysTime;
    s.ui64InterruptTimeOfDay = d.ui64InterruptTimeOfDay;

    for (int i = 0; i < 4; i++) {
        const OutputRow &o = kOutputs[i];
        const QOR_UINT32 id = fieldAt<QOR_UINT32>(d, o.idOffset);
        INT_BUFFER **slot = attached(shot, i);
        *slot = nullptr;
        fieldAt<QOR_UINT32>(s, o.idOffset) = id;
        fieldAt<void *>(s, o.addressOffset) = nullptr;
        if (id == 0)
            continue;
        INT_BUFFER *b = findBuffer(pipe, id);
        const bool known = b != nullptr;
        if (!known) {
            QOR_LOG_ERROR(kTag, o.notFound, static_cast<int>(id));
        } else if (!layoutFits(d, i, b->uiSize)) {
            QOR_LOG_ERROR(kTag, "The %s layout of frame %d does not fit buffer %d (%u B)\n", o.name, param.shotId,
                          static_cast<int>(id), b->uiSize);
        }
        if (!known || !layoutFits(d, i, b->uiSize)) {
            // Give the driver's shot and all its buffers back rather than strand them; only when that fails is
            // the shot left acquired with its buffers pending, for the caller to release.
            if (giveBack(pipe, param)) {
                for (int j = 0; j < i; j++) {
                    *attached(shot, j) = nullptr;
                    fieldAt<void *>(s, kOutputs[j].addressOffset) = nullptr;
                }
                shot->bAcquired = QOR_FALSE;
                return QOR_RES_FAILED;
            }
            for (int j = 0; j < i; j++) {
                INT_BUFFER *prev = *attached(shot, j);
                if (prev != nullptr)
                    prev->eStatus = INT_BUFFER_PENDING;
            }
            *ppShot = &s;
            return QOR_RES_FAILED;
        }
        *slot = b;
        b->eStatus = INT_BUFFER_ACQUIRED;
        fieldAt<void *>(s, o.addressOffset) = b->memory;
        copyLayout(s, d, i);
        if (o.tiledOffset != 0)
            fieldAt<QOR_BOOL8>(s, o.tiledOffset) = fieldAt<QOR_BOOL8>(d, o.tiledOffset);
    }

    QOR_UINT32 status = 0;
    if (s.pStatistics != nullptr && s.statsSize >= CI_SAVE_STATUS_OFFSET + 4) {
        memcpy(&status, static_cast<const char *>(s.pStatistics) + CI_SAVE_STATUS_OFFSET, sizeof(status));
    }
    s.ui8PrivateValue = static_cast<QOR_UINT8>((status >> CI_SAVE_STATUS_PRIVATE_SHIFT) & 0xFFu);
    s.bFrameError = ((status & CI_SAVE_STATUS_ERROR) != 0 || d.bFrameError) ? QOR_TRUE : QOR_FALSE;
    s.i32MissedFrames = d.i32MissedFrames;
    s.eOutputConfig = d.eOutputConfig;
    s.pExtraParams = &pipe->sExtraParams[s.ui8PrivateValue];
    *ppShot = &s;
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineAcquireShot(CI_PIPELINE *pPipeline, CI_SHOT **ppShot) {
    return QOR_PipelineAcquireBuffer(pPipeline, QOR_TRUE, ppShot);
}

QOR_RESULT CI_PipelineAcquireShotNB(CI_PIPELINE *pPipeline, CI_SHOT **ppShot) {
    return QOR_PipelineAcquireBuffer(pPipeline, QOR_FALSE, ppShot);
}

QOR_RESULT CI_PipelineReleaseShot(CI_PIPELINE *pPipeline, CI_SHOT *pShot) {
    if (pPipeline == nullptr || pShot == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline or pBuffer is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    INT_SHOT *shot = intShot(pShot);
    if (!registered(pipe) || !shot->bAcquired) {
        QOR_LOG_ERROR(kTag, "pPipeline is not registered or buffer was not acquired\n");
        return QOR_RES_NOT_INITIALISED;
    }
    CI_BUFFER_TRIGG release;
    memset(&release, 0, sizeof(release));
    release.captureId = pipe->ui32Identifier;
    release.bBlocking = QOR_FALSE;
    release.shotId = shot->iIdentifier;
    const int ret = control(pipe, CI_CAPTURE_RELEASE, &release);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to release a buffer (returned %d)\n", ret);
        return toQorResult(ret);
    }
    shot->bAcquired = QOR_FALSE;
    for (int i = 0; i < 4; i++) {
        INT_BUFFER **slot = attached(shot, i);
        if (*slot != nullptr) {
            (*slot)->eStatus = INT_BUFFER_AVAILABLE;
            *slot = nullptr;
        }
        fieldAt<void *>(shot->publicShot, kOutputs[i].addressOffset) = nullptr;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineExtractConfig(const CI_SHOT *pShot, CI_PIPELINE_STATS *pConfig) {
    if (pShot == nullptr || pConfig == nullptr) {
        QOR_LOG_ERROR(kTag, "pShot or pConfig is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (!intShot(pShot)->bAcquired) {
        QOR_LOG_ERROR(kTag, "pShot is not acquired!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    memset(pConfig, 0, sizeof(*pConfig));
    (void)INT_CI_Revert_HW2(pShot, pConfig);
    if (pShot->pExtraParams != nullptr) {
        pConfig->sWhiteBalanceStats.counters = pShot->pExtraParams->wbsCounters;
    }
    return QOR_RES_OK;
}

/* ---------------------------------------------------------------- HDR insertion */

QOR_RESULT CI_PipelineAcquireHDRBuffer(CI_PIPELINE *pPipeline, CI_BUFFER *pFrame, QOR_UINT32 id) {
    if (pPipeline == nullptr || pFrame == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline or pFrame is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    INT_BUFFER *buffer = id == 0 ? firstAvailable(pipe, CI_ALLOC_HDRINS) : findBuffer(pipe, id);
    if (buffer == nullptr) {
        QOR_LOG_ERROR(kTag, "Could not find Buffer (id=%d)\n", static_cast<int>(id));
        return QOR_RES_IN_PROGRESS;
    }
    if (buffer->type != CI_ALLOC_HDRINS) {
        QOR_LOG_ERROR(kTag, "Buffer %d is not of HDR insertion type!\n", static_cast<int>(id));
        return QOR_RES_INVALID_PARAM;
    }
    if (buffer->eStatus != INT_BUFFER_AVAILABLE || buffer->bHDRReserved) {
        QOR_LOG_ERROR(kTag, "HDRIns Buffer %d is already reserved or not available!\n", static_cast<int>(buffer->ID));
        return QOR_RES_IN_PROGRESS;
    }
    buffer->bHDRReserved = QOR_TRUE;
    pFrame->id = static_cast<QOR_UINT32>(buffer->ID);
    pFrame->data = buffer->memory;
    pFrame->ui32Size = buffer->uiSize;
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineReleaseHDRBuffer(CI_PIPELINE *pPipeline, QOR_UINT32 id) {
    if (pPipeline == nullptr || id == 0) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL or id is 0\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    INT_BUFFER *buffer = findBuffer(pipe, id);
    if (buffer == nullptr) {
        QOR_LOG_ERROR(kTag, "Could not find Buffer (id=%d)\n", static_cast<int>(id));
        return QOR_RES_IN_PROGRESS;
    }
    if (buffer->type != CI_ALLOC_HDRINS) {
        QOR_LOG_ERROR(kTag, "Buffer %d is not of HDR insertion type!\n", static_cast<int>(id));
        return QOR_RES_INVALID_PARAM;
    }
    if (buffer->bHDRReserved && buffer->eStatus == INT_BUFFER_AVAILABLE) {
        buffer->bHDRReserved = QOR_FALSE;
        return QOR_RES_OK;
    }
    QOR_LOG_ERROR(kTag, "HDRIns Buffer %d is not reserved or not available!\n", static_cast<int>(id));
    return QOR_RES_IN_PROGRESS;
}

/* ---------------------------------------------------------------- queries */

QOR_BOOL8 CI_PipelineHasPending(CI_PIPELINE *pPipeline) {
    INT_PIPELINE *pipe = registeredPipeline(pPipeline, __func__, "Capture is not registered\n");
    if (pipe == nullptr) {
        return QOR_FALSE;
    }
    const int ret = controlValue(pipe, CI_CAPTURE_HASPENDING, pipe->ui32Identifier);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to verify if the capture has pending buffers\n");
        return QOR_FALSE;
    }
    return ret > 0 ? QOR_TRUE : QOR_FALSE;
}

QOR_INT32 CI_PipelineHasWaiting(CI_PIPELINE *pPipeline) {
    INT_PIPELINE *pipe = registeredPipeline(pPipeline, __func__, "pipeline is not registered\n");
    if (pipe == nullptr) {
        return -1;
    }
    const int ret = controlValue(pipe, CI_CAPTURE_HASWAITING, pipe->ui32Identifier);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to verify if the capture has waiting buffers\n");
    }
    return ret;
}

QOR_BOOL8 CI_PipelineHasAvailableShots(CI_PIPELINE *pPipeline) {
    return driverQueryAvailable(
        pPipeline, __func__, "Failed to verify if the configuration has available shots (returned %d)\n", true, false);
}

QOR_BOOL8 CI_PipelineHasAvailableBuffers(CI_PIPELINE *pPipeline) {
    return driverQueryAvailable(pPipeline, __func__,
                                "Failed to verify if the configuration has available buffers (returned %d)\n", false,
                                true);
}

QOR_BOOL8 CI_PipelineHasAvailable(CI_PIPELINE *pPipeline) {
    return driverQueryAvailable(pPipeline, __func__,
                                "Failed to verify if the configuration has available buffers & shots (returned %d)\n",
                                true, true);
}

QOR_INT32 CI_PipelineHasBuffers(CI_PIPELINE *pPipeline) {
    INT_PIPELINE *pipe = registeredPipeline(pPipeline, __func__);
    if (pipe == nullptr) {
        return -1;
    }
    return static_cast<QOR_INT32>(List_nElem(&pipe->sList_buffers));
}

QOR_INT32 CI_PipelineHasLSHBuffers(CI_PIPELINE *pPipeline) {
    INT_PIPELINE *pipe = registeredPipeline(pPipeline, __func__);
    if (pipe == nullptr) {
        return -1;
    }
    return static_cast<QOR_INT32>(List_nElem(&pipe->sList_lshmat));
}

QOR_BOOL8 CI_PipelineHasAcquired(CI_PIPELINE *pPipeline) {
    INT_PIPELINE *pipe = registeredPipeline(pPipeline, __func__);
    if (pipe == nullptr) {
        return QOR_FALSE;
    }
    return List_visitor(&pipe->sList_shots, nullptr, List_IsAcquired) != nullptr ? QOR_TRUE : QOR_FALSE;
}

/* ---------------------------------------------------------------- used by pipeline destruction */

/** Unmaps and frees every buffer of the pipeline (the driver frees its side at deregistration). */
QOR_BOOL8 List_ClearBuffers(void *elem, void *param) {
    INT_BUFFER *buffer = static_cast<INT_BUFFER *>(elem);
    List_detach(&buffer->sCell);
    freeBuffer(static_cast<INT_PIPELINE *>(param), buffer);
    return QOR_TRUE;
}

} // extern "C"
