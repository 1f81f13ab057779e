// The user-side interface to the internal data generators: registration, frame buffers mapped for writing,
// insertion of filled frames, waits for processed frames, and teardown. Every state change is one command on
// the connection's device.
#include "ci/ci_datagen.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>

#include "ci/ci_connection_internal.h"
#include "ci/ci_ioctrl.h"
#include "norvacommon/userlog.h"

namespace {

constexpr const char *kTag = "CI_API";

/** Largest frame width or height the driver's 16-bit fields can carry. */
constexpr QOR_UINT32 kMaxFrameSide = 0xFFFFu;
/** A wait answered "interrupted" this many times in a row is given up (a signal storm must not spin forever). */
constexpr int kMaxInterruptedWaits = 1000;

INT_INTDATAGEN *datagenFromHandle(CI_DATAGEN *pDatagen) {
    return reinterpret_cast<INT_INTDATAGEN *>(reinterpret_cast<char *>(pDatagen) -
                                              offsetof(INT_INTDATAGEN, publicDatagen));
}

INT_DGFRAME *frameFromHandle(CI_DG_FRAME *pFrame) {
    return reinterpret_cast<INT_DGFRAME *>(reinterpret_cast<char *>(pFrame) - offsetof(INT_DGFRAME, publicFrame));
}

int control(INT_CONNECTION *conn, CI_eIOCTL nr, const void *arg) {
    return SYS_IO_Control(conn->fileDesc, CI_IOCTL_CMD(nr), static_cast<long>(reinterpret_cast<intptr_t>(arg)));
}

int controlValue(INT_CONNECTION *conn, CI_eIOCTL nr, long value) {
    return SYS_IO_Control(conn->fileDesc, CI_IOCTL_CMD(nr), value);
}

QOR_UINT16 low16(QOR_UINT32 v) { return static_cast<QOR_UINT16>(v & 0xFFFFu); }

/** Blanking beyond the 16-bit field saturates rather than wrapping to a small value. */
QOR_UINT16 saturate16(QOR_UINT32 v) { return v > 0xFFFFu ? static_cast<QOR_UINT16>(0xFFFFu) : low16(v); }

} // namespace

extern "C" {

/** List visitor: stops at the frame whose identifier is *param. */
static QOR_BOOL8 QOR_FindDGFrame(void *elem, void *param) {
    const INT_DGFRAME *frame = static_cast<const INT_DGFRAME *>(elem);
    return frame->ui32FrameID == *static_cast<const QOR_UINT32 *>(param) ? QOR_FALSE : QOR_TRUE;
}

/** Acquires a buffer from the driver (0: any available one) and refreshes its public part. */
static INT_DGFRAME *QOR_DatagenGetFrame(INT_INTDATAGEN *dg, QOR_UINT32 ui32FrameID) {
    CI_DG_FRAMEINFO info{};
    info.datagenId = dg->ui32DatagenID;
    info.uiFrameId = ui32FrameID;
    const int ret = control(dg->pConnection, CI_IIFDG_ACQUIRE, &info);
    if (ret < 0) {
        if (ui32FrameID != 0) {
            QOR_LOG_ERROR(kTag, "Failed to acquire DG Buffer %d\n", static_cast<int>(ui32FrameID));
        } else {
            QOR_LOG_ERROR(kTag, "Available list is empty\n");
        }
        return nullptr;
    }
    Cell_T *found = List_visitor(&dg->sListFrames, &info.uiFrameId, QOR_FindDGFrame);
    if (found == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to find the frame in the user-space list!\n");
        return nullptr;
    }
    INT_DGFRAME *frame = static_cast<INT_DGFRAME *>(found->object);
    frame->publicFrame.data = frame->data;
    frame->publicFrame.ui32AllocSize = frame->ui32AllocSize;
    frame->publicFrame.ui32FrameID = frame->ui32FrameID;
    frame->publicFrame.ui32HorizontalBlanking = CI_DG_MIN_HBLANKING;
    frame->publicFrame.ui32VerticalBlanking = CI_DG_MIN_VBLANKING;
    return frame;
}

/** Checks a frame and hands it back to the driver: sent into the pipeline (bTrigger) or unsent. */
static QOR_RESULT QOR_DatagenTrigger(INT_DGFRAME *frame, QOR_BOOL8 bTrigger) {
    INT_INTDATAGEN *dg = frame->pDatagen;
    const CI_DG_FRAME &pub = frame->publicFrame;
    if (bTrigger) {
        if (pub.ui32HorizontalBlanking < CI_DG_MIN_HBLANKING || pub.ui32VerticalBlanking < CI_DG_MIN_VBLANKING) {
            QOR_LOG_ERROR(kTag, "Cannot trigger a frame with blanking H=%u V=%u (min is H=%u V=%u)\n",
                          pub.ui32HorizontalBlanking, pub.ui32VerticalBlanking, CI_DG_MIN_HBLANKING,
                          CI_DG_MIN_VBLANKING);
            return QOR_RES_NOT_SUPPORTED;
        }
        if (pub.eFormat != dg->publicDatagen.eFormat || pub.ui8FormatBitdepth != dg->publicDatagen.ui8FormatBitdepth) {
            QOR_LOG_ERROR(kTag, "Cannot trigger a frame of a different format!\n");
            return QOR_RES_UNAVAILABLE;
        }
        // 64-bit product: a 32-bit one wraps for large strides and lets an oversized frame through.
        const QOR_UINT64 needed = static_cast<QOR_UINT64>(pub.ui32Stride) * pub.ui32Height;
        if (needed > frame->ui32AllocSize) {
            QOR_LOG_ERROR(kTag,
                          "Cannot trigger a frame that has a stride*height (%ux%u=%llu) bigger than its allocated size "
                          "%u\n",
                          pub.ui32Stride, pub.ui32Height, static_cast<unsigned long long>(needed),
                          frame->ui32AllocSize);
            return QOR_RES_INVALID_PARAM;
        }
        // The driver's fields hold 16 bits: a larger frame would be sent with a wrapped size.
        if (pub.ui32Width > kMaxFrameSide || pub.ui32Height > kMaxFrameSide) {
            QOR_LOG_ERROR(kTag, "Cannot trigger a frame of %ux%u (at most %u in each direction)\n", pub.ui32Width,
                          pub.ui32Height, kMaxFrameSide);
            return QOR_RES_NOT_SUPPORTED;
        }
    }
    QOR_UINT32 id = frame->ui32FrameID;
    if (List_visitor(&dg->sListFrames, &id, QOR_FindDGFrame) == nullptr) {
        QOR_LOG_ERROR(kTag, "Given frame %d is not in the frame list!\n", static_cast<int>(id));
        return QOR_RES_INVALID_PARAM;
    }
    CI_DG_FRAMETRIG trig{};
    trig.datagenId = dg->ui32DatagenID;
    trig.uiFrameId = frame->ui32FrameID;
    trig.uiStride = pub.ui32Stride;
    trig.uiWidth = low16(pub.ui32Width);
    trig.uiHeight = low16(pub.ui32Height);
    trig.uiHorizontalBlanking = saturate16(pub.ui32HorizontalBlanking);
    trig.uiVerticalBlanking = saturate16(pub.ui32VerticalBlanking);
    trig.bTrigger = bTrigger ? 1 : 0;
    if (trig.uiStride % SYSMEM_ALIGNMENT != 0) {
        QOR_LOG_ERROR(kTag, "Memory stride has to be a multiple of SYSMEM_ALIGNMENT (%d)\n", SYSMEM_ALIGNMENT);
        return QOR_RES_NOT_SUPPORTED;
    }
    const int ret = control(dg->pConnection, CI_IIFDG_RELEASE, &trig);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to trigger the capture of frame %d\n", static_cast<int>(frame->ui32FrameID));
        return toQorResult(ret);
    }
    return QOR_RES_OK;
}

/** Unmaps one buffer, asks the driver to free it (a refusal is only logged) and frees its record. */
static void QOR_deleteFrame(INT_DGFRAME *frame) {
    INT_INTDATAGEN *dg = frame->pDatagen;
    if (frame->data != nullptr)
        SYS_IO_MemUnmap(dg->pConnection->fileDesc, frame->data, frame->ui32AllocSize);
    CI_DG_FRAMEINFO info{};
    info.datagenId = dg->ui32DatagenID;
    info.uiFrameId = frame->ui32FrameID;
    const int ret = control(dg->pConnection, CI_IIFDG_FREE, &info);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to free device memory for Frame %d - returned %d\n",
                      static_cast<int>(frame->ui32FrameID), static_cast<int>(toQorResult(ret)));
    }
    List_detach(&frame->sCell);
    std::free(frame);
}

QOR_RESULT CI_DatagenCreate(CI_DATAGEN **ppDatagen, CI_CONNECTION *pConnection) {
    if (ppDatagen == nullptr || pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "ppDatagen or pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (*ppDatagen != nullptr) {
        QOR_LOG_ERROR(kTag, "datagen already allocated\n");
        return QOR_RES_IN_USE;
    }
    if ((pConnection->sHWInfo.eFunctionalities & CI_INFO_SUPPORTED_IIF_DATAGEN) == 0) {
        QOR_LOG_ERROR(kTag, "Current HW does not support IIF Data Generator\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    INT_CONNECTION *conn = INT_ConnectionFromHandle(pConnection);
    const int id = controlValue(conn, CI_IIFDG_REGISTER, -1);
    if (id < 0) {
        QOR_LOG_ERROR(kTag, "Failed to get a unique DG identifier from the kernel-module\n");
        return QOR_RES_FAILED;
    }
    INT_INTDATAGEN *dg = static_cast<INT_INTDATAGEN *>(std::calloc(1, sizeof(INT_INTDATAGEN)));
    if (dg == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to allocate INT_INTDATAGEN (%lu Bytes)\n",
                      static_cast<unsigned long>(sizeof(INT_INTDATAGEN)));
        controlValue(conn, CI_IIFDG_REGISTER, id); // give the identifier back rather than strand it
        return QOR_RES_NO_MEMORY;
    }
    dg->ui32DatagenID = id;
    List_init(&dg->sListFrames);
    dg->pConnection = conn;
    dg->sCell.object = dg;
    List_pushBack(&conn->sList_datagen, &dg->sCell);
    *ppDatagen = &dg->publicDatagen;
    return QOR_RES_OK;
}

QOR_RESULT CI_DatagenStart(CI_DATAGEN *pDatagen) {
    if (pDatagen == nullptr) {
        QOR_LOG_ERROR(kTag, "pDatagen is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_INTDATAGEN *dg = datagenFromHandle(pDatagen);
    if (dg->bStarted) {
        QOR_LOG_WARNING(kTag, "DG %d Already started\n", dg->ui32DatagenID);
        return QOR_RES_OK;
    }
    CI_DG_PARAM param{};
    param.datagenId = dg->ui32DatagenID;
    param.sDG = dg->publicDatagen;
    const int ret = control(dg->pConnection, CI_IIFDG_START, &param);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to start internal DG %d to replace imager %d\n",
                      static_cast<int>(pDatagen->ui8IIFDGIndex), static_cast<int>(pDatagen->ui8Gasket));
        return toQorResult(ret);
    }
    dg->bStarted = QOR_TRUE;
    return QOR_RES_OK;
}

QOR_BOOL8 CI_DatagenIsStarted(CI_DATAGEN *pDatagen) {
    if (pDatagen == nullptr) {
        QOR_LOG_ERROR(kTag, "pDatagen is NULL\n");
        return QOR_FALSE;
    }
    INT_INTDATAGEN *dg = datagenFromHandle(pDatagen);
    const int ret = controlValue(dg->pConnection, CI_IIFDG_ISSTARTED, dg->ui32DatagenID);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to enquire if Datagen is started (returned %d)\n",
                      static_cast<int>(toQorResult(ret)));
        return QOR_FALSE;
    }
    dg->bStarted = ret != 0 ? QOR_TRUE : QOR_FALSE;
    return dg->bStarted;
}

QOR_RESULT CI_DatagenStop(CI_DATAGEN *pDatagen) {
    if (pDatagen == nullptr) {
        QOR_LOG_ERROR(kTag, "pDatagen is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_INTDATAGEN *dg = datagenFromHandle(pDatagen);
    if (!dg->bStarted) {
        QOR_LOG_WARNING(kTag, "DG %d Already stopped\n", dg->ui32DatagenID);
        return QOR_RES_OK;
    }
    const int ret = controlValue(dg->pConnection, CI_IIFDG_STOP, dg->ui32DatagenID);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to stop Datagen\n");
        return toQorResult(ret);
    }
    dg->bStarted = QOR_FALSE;
    return QOR_RES_OK;
}

QOR_RESULT CI_DatagenDestroy(CI_DATAGEN *pDatagen) {
    if (pDatagen == nullptr) {
        QOR_LOG_ERROR(kTag, "pDatagen is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_INTDATAGEN *dg = datagenFromHandle(pDatagen);
    if (dg->bStarted) {
        const QOR_RESULT ret = CI_DatagenStop(pDatagen);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to stop a Datagen before destroying it\n");
            return ret;
        }
    }
    if (!List_isEmpty(&dg->sListFrames)) {
        INT_DGFRAME *frame = nullptr;
        while ((frame = QOR_DatagenGetFrame(dg, 0)) != nullptr)
            QOR_deleteFrame(frame);
    }
    if (dg->pConnection != nullptr) {
        const int ret = controlValue(dg->pConnection, CI_IIFDG_REGISTER, dg->ui32DatagenID);
        if (ret < 0) {
            QOR_LOG_ERROR(kTag, "Failed to deregister datagenerator!\n");
            return toQorResult(ret);
        }
        // Buffers the driver did not report available (still held by the caller) were freed by the driver with
        // the generator: only the library's mappings and records are left to release.
        Cell_T *cell = nullptr;
        while ((cell = List_popFront(&dg->sListFrames)) != nullptr) {
            INT_DGFRAME *frame = static_cast<INT_DGFRAME *>(cell->object);
            if (frame->data != nullptr) {
                SYS_IO_MemUnmap(dg->pConnection->fileDesc, frame->data, frame->ui32AllocSize);
            }
            std::free(frame);
        }
        List_detach(&dg->sCell);
    }
    std::free(dg);
    return QOR_RES_OK;
}

QOR_RESULT CI_DatagenAllocateFrame(CI_DATAGEN *pDatagen, QOR_UINT32 ui32Size, QOR_UINT32 *pFrameID) {
    if (pDatagen == nullptr) {
        QOR_LOG_ERROR(kTag, "pDatagen is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_INTDATAGEN *dg = datagenFromHandle(pDatagen);
    if (dg->bStarted) {
        QOR_LOG_WARNING(kTag, "DG %d is started - cannot allocate more buffers\n", dg->ui32DatagenID);
        return QOR_RES_UNAVAILABLE;
    }
    INT_DGFRAME *frame = static_cast<INT_DGFRAME *>(std::calloc(1, sizeof(INT_DGFRAME)));
    if (frame == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to allocate internal frame object of %ld Bytes\n",
                      static_cast<long>(sizeof(INT_DGFRAME)));
        return QOR_RES_NO_MEMORY;
    }
    CI_DG_FRAMEINFO info{};
    info.datagenId = dg->ui32DatagenID;
    info.uiSize = ui32Size;
    const int ret = control(dg->pConnection, CI_IIFDG_ALLOCATE, &info);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to allocate a DG frame of %d Bytes\n", static_cast<int>(ui32Size));
        std::free(frame);
        return toQorResult(ret);
    }
    frame->ui32AllocSize = ui32Size;
    frame->ui32FrameID = info.mmapId;
    frame->pDatagen = dg;
    frame->sCell.object = frame;
    frame->publicFrame.ui32HorizontalBlanking = CI_DG_MIN_HBLANKING;
    frame->publicFrame.ui32VerticalBlanking = CI_DG_MIN_VBLANKING;
    frame->data = SYS_IO_MemMap2(dg->pConnection->fileDesc, ui32Size, PROT_WRITE, MAP_SHARED, info.mmapId);
    if (frame->data == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to map a DG frame!\n");
        // The driver already holds the buffer: give it back rather than strand it.
        CI_DG_FRAMEINFO release{};
        release.datagenId = dg->ui32DatagenID;
        release.uiFrameId = info.mmapId;
        control(dg->pConnection, CI_IIFDG_FREE, &release);
        std::free(frame);
        return QOR_RES_FAILED;
    }
    List_pushBack(&dg->sListFrames, &frame->sCell);
    if (pFrameID != nullptr)
        *pFrameID = frame->ui32FrameID;
    return QOR_RES_OK;
}

CI_DG_FRAME *CI_DatagenGetAvailableFrame(CI_DATAGEN *pDatagen) {
    if (pDatagen == nullptr) {
        QOR_LOG_ERROR(kTag, "pDatagen is NULL\n");
        return nullptr;
    }
    INT_INTDATAGEN *dg = datagenFromHandle(pDatagen);
    if (dg->pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pDatagen does not have a connection!\n");
        return nullptr;
    }
    INT_DGFRAME *frame = QOR_DatagenGetFrame(dg, 0);
    return frame != nullptr ? &frame->publicFrame : nullptr;
}

CI_DG_FRAME *CI_DatagenGetFrame(CI_DATAGEN *pDatagen, QOR_UINT32 ui32FrameID) {
    if (pDatagen == nullptr) {
        QOR_LOG_ERROR(kTag, "pDatagen is NULL\n");
        return nullptr;
    }
    INT_DGFRAME *frame = QOR_DatagenGetFrame(datagenFromHandle(pDatagen), ui32FrameID);
    return frame != nullptr ? &frame->publicFrame : nullptr;
}

QOR_RESULT CI_DatagenInsertFrame(CI_DG_FRAME *pFrame) {
    if (pFrame == nullptr) {
        QOR_LOG_ERROR(kTag, "pFrame is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    return QOR_DatagenTrigger(frameFromHandle(pFrame), QOR_TRUE);
}

QOR_RESULT CI_DatagenReleaseFrame(CI_DG_FRAME *pFrame) {
    if (pFrame == nullptr) {
        QOR_LOG_ERROR(kTag, "pFrame is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    return QOR_DatagenTrigger(frameFromHandle(pFrame), QOR_FALSE);
}

QOR_RESULT CI_DatagenWaitProcessedFrame(CI_DATAGEN *pDatagen, QOR_BOOL8 bBlocking) {
    if (pDatagen == nullptr) {
        QOR_LOG_ERROR(kTag, "pDatagen is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_INTDATAGEN *dg = datagenFromHandle(pDatagen);
    CI_DG_FRAMEWAIT wait{};
    wait.datagenId = dg->ui32DatagenID;
    wait.bBlocking = bBlocking ? 1 : 0;
    int ret = 0;
    int interrupted = 0;
    do {
        ret = control(dg->pConnection, CI_IIFDG_WAITPROCESSED, &wait);
    } while (ret == -EINTR && ++interrupted < kMaxInterruptedWaits);
    if (ret < 0) {
        if (bBlocking)
            QOR_LOG_ERROR(kTag, "Failed to wait for processed frame\n");
        return toQorResult(ret);
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_DatagenDestroyFrame(CI_DG_FRAME *pFrame) {
    if (pFrame == nullptr) {
        QOR_LOG_ERROR(kTag, "pFrame is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_DGFRAME *frame = frameFromHandle(pFrame);
    QOR_UINT32 id = frame->ui32FrameID;
    if (frame->pDatagen == nullptr || List_visitor(&frame->pDatagen->sListFrames, &id, QOR_FindDGFrame) == nullptr) {
        QOR_LOG_ERROR(kTag, "Given frame %d is not in the frame list!\n", static_cast<int>(pFrame->ui32FrameID));
        return QOR_RES_INVALID_PARAM;
    }
    QOR_deleteFrame(frame);
    return QOR_RES_OK;
}

} // extern "C"
