// The capture context's outputs: the formats they have, could have or still may take, the switch of one output to
// a negotiated format (scaler factors and crop keeping the pixel aspect ratio), and the frame buffers of each
// output, allocated by the driver or allocated from the dmabuf allocator and imported.
#include <sys/mman.h>

#include <cmath>
#include <sstream>

#include "ispc/ModuleDGM.h"
#include "ispc/ModuleDSC.h"
#include "ispc/ModuleESC.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleY2R.h"
#include "norvacommon/ci_alloc_info.h"
#include "norvacommon/dmabuf.h"
#include "norvacommon/userlog.h"
#include "sys/sys_seam.h"
#include "testcontext.h"

void disableOutputs(ISPC::ParameterList &list);

namespace {

constexpr const char *kTag = "norvalib";

/** Every format an output can take, in the order they are offered. */
const pxlFormat kSupportedFormats[] = {
    RGB_888_24,
    BGR_888_24,
    RGB_888_32,
    BGR_888_32,
    RGB_101010_32,
    BGR_101010_32,
    PXL_ISP_444IL3YCrCb8,
    PXL_ISP_444IL3YCbCr8,
    PXL_ISP_444IL3YCrCb10,
    PXL_ISP_444IL3YCbCr10,
    YVU_420_PL12_8,
    YUV_420_PL12_8,
    YVU_422_PL12_8,
    YUV_422_PL12_8,
    YVU_420_PL12_10,
    YUV_420_PL12_10,
    YVU_422_PL12_10,
    YUV_422_PL12_10,
    BAYER_RGGB_8,
    BAYER_RGGB_10,
    BAYER_RGGB_12,
};

template <class T> std::string text(T value) {
    std::ostringstream s;
    s << value;
    return s.str();
}

void setText(ISPC::ParameterList &list, const std::string &tag, const std::string &value) {
    list.addParameter(ISPC::Parameter(tag, value), true);
}

unsigned roundUp16(unsigned v) { return (v + 15u) & ~15u; }

/** How an encoder or display output takes its picture out of the image. */
struct Scaling {
    double u;  /* horizontal factor */
    double vs; /* vertical factor */
    unsigned marginX;
    unsigned marginY;
};

/**
 * The largest part of the W × H image that the requested size shows at pixel aspect ratio p without scaling up:
 * the rows or the columns are cropped evenly. False when no such part exists.
 */
bool scalingFor(unsigned W, unsigned H, unsigned width, unsigned height, double p, Scaling &s) {
    // A ratio that is not a positive finite number would turn the crop arithmetic into an undefined conversion.
    if (!(p > 0.0) || !std::isfinite(p))
        return false;
    double vs = static_cast<double>(H) / height;
    double hs = static_cast<double>(W) / width;
    double u = p * vs;
    unsigned marginX = 0, marginY = 0;
    if (u > hs) {
        const unsigned t = static_cast<unsigned>(height * hs / p);
        const unsigned d = H - t;
        marginY = d / 2;
        vs = static_cast<double>(H - (d & ~1u)) / height;
        u = p * vs;
    } else {
        const double wide = width * u;
        const unsigned t = wide >= W ? W : static_cast<unsigned>(wide);
        const unsigned d = W - t;
        marginX = d / 2;
        hs = static_cast<double>(W - (d & ~1u)) / width;
    }
    if (hs < u) {
        vs = hs / p;
        u = hs;
    }
    if (u < 1.0 || vs < 1.0)
        return false;
    s = Scaling{u, vs, marginX, marginY};
    return true;
}

} // namespace

bool TestContext::getOutputFormats(std::list<BufferFormat> &formats) const {
    if (!isCameraConfigured())
        return false;
    const ISPC::ModuleOUT *out = module<ISPC::ModuleOUT>();
    if (out == nullptr)
        return false;
    const ISPC::Global_Setup g = pCamera->getPipeline()->getGlobalSetup();
    formats.clear();
    if (out->dataExtractionType != PXL_NONE) {
        BufferFormat f;
        f.format = out->dataExtractionType;
        f.mosaic = g.eSensor_bayer_format;
        f.width = g.ui32ImageWidth;
        f.height = g.ui32ImageHeight;
        f.pixelAspectRatio = 1.0;
        formats.push_back(f);
    }
    if (out->displayType != PXL_NONE) {
        const ISPC::ModuleDSC *dsc = module<ISPC::ModuleDSC>();
        BufferFormat f;
        f.format = out->displayType;
        f.width = g.ui32DispWidth;
        f.height = g.ui32DispHeight;
        f.pixelAspectRatio = dsc != nullptr ? dsc->aPitch[0] / dsc->aPitch[1] : 1.0;
        formats.push_back(f);
    }
    if (out->encoderType != PXL_NONE) {
        const ISPC::ModuleESC *esc = module<ISPC::ModuleESC>();
        const ISPC::ModuleR2Y *r2y = module<ISPC::ModuleR2Y>();
        BufferFormat f;
        f.format = out->encoderType;
        f.width = g.ui32EncWidth;
        f.height = g.ui32EncHeight;
        f.pixelAspectRatio = esc != nullptr ? esc->aPitch[0] / esc->aPitch[1] : 1.0;
        f.bChromaInterstitial = esc != nullptr && esc->bChromaInterstitial;
        f.bBT601 = r2y != nullptr && r2y->eMatrix == ISPC::ModuleR2YBase::BT601;
        formats.push_back(f);
    }
    return true;
}

bool TestContext::getSupportedOutputFormats(std::list<BufferFormat> &formats) const {
    if (!isCameraConfigured())
        return false;
    const ISPC::Global_Setup g = pCamera->getPipeline()->getGlobalSetup();
    formats.clear();
    for (pxlFormat fmt : kSupportedFormats) {
        BufferFormat f;
        f.format = fmt;
        f.mosaic = BufferTypeFromPixelFormat(fmt) == CI_TYPE_DATAEXT ? g.eSensor_bayer_format : MOSAIC_NONE;
        f.width = g.ui32ImageWidth;
        f.height = g.ui32ImageHeight;
        f.pixelAspectRatio = 0.0;
        formats.push_back(f);
    }
    return true;
}

bool TestContext::getPotentialOutputFormats(std::list<BufferFormat> &formats) const {
    if (!getSupportedOutputFormats(formats))
        return false;
    const ISPC::ModuleOUT *out = module<ISPC::ModuleOUT>();
    if (out == nullptr)
        return true;
    const bool displayTaken = out->displayType != PXL_NONE || out->dataExtractionType != PXL_NONE;
    const bool encoderTaken = out->encoderType != PXL_NONE;
    formats.remove_if([&](const BufferFormat &f) {
        const CI_BUFFTYPE t = BufferTypeFromPixelFormat(f.format);
        return ((t == CI_TYPE_DISPLAY || t == CI_TYPE_DATAEXT) && displayTaken) ||
               (t == CI_TYPE_ENCODER && encoderTaken);
    });
    return true;
}

bool TestContext::configureOutput(const BufferFormat &format, BufferFrameBounds *bounds) {
    ISPC::ModuleOUT *out = module<ISPC::ModuleOUT>();
    if (!isCameraConfigured() || out == nullptr) {
        QOR_LOG_ERROR(kTag, "camera not configured for context %d\n", iContext);
        return false;
    }
    const ISPC::Global_Setup g = pCamera->getPipeline()->getGlobalSetup();
    const unsigned W = g.ui32ImageWidth, H = g.ui32ImageHeight;
    const CI_BUFFTYPE type = BufferTypeFromPixelFormat(format.format);
    Scaling s{1.0, 1.0, 0, 0};
    switch (type) {
    case CI_TYPE_DISPLAY:
        if (format.bBT601) {
            QOR_LOG_ERROR(kTag, "display output doesn't support BT601 colorimetry\n");
            return false;
        }
        /* fall through */
    case CI_TYPE_ENCODER:
        if (format.width < 1 || format.width > W || format.height < 1 || format.height > H) {
            QOR_LOG_ERROR(kTag, "invalid image size %ux%u\n", format.width, format.height);
            return false;
        }
        if (!scalingFor(W, H, format.width, format.height, format.pixelAspectRatio, s)) {
            QOR_LOG_ERROR(kTag, "could not satisfy pixel aspect ratio %g\n", format.pixelAspectRatio);
            return false;
        }
        break;
    case CI_TYPE_DATAEXT:
        if (format.mosaic != g.eSensor_bayer_format) {
            QOR_LOG_ERROR(kTag, "invalid mosaic '%s'\n", MosaicString(format.mosaic));
            return false;
        }
        if (format.width != W || format.height != H) {
            QOR_LOG_ERROR(kTag, "invalid image size %ux%u\n", format.width, format.height);
            return false;
        }
        break;
    default:
        QOR_LOG_ERROR(kTag, "unsupported pixel format '%s'\n", FormatString(format.format));
        return false;
    }

    if (bounds != nullptr) {
        const unsigned rx = g.ui32FrameBoundWidth / W, ry = g.ui32FrameBoundHeight / H;
        bounds->x = static_cast<QOR_INT32>(g.ui32FrameBoundX + rx * s.marginX);
        bounds->y = static_cast<QOR_INT32>(g.ui32FrameBoundY + ry * s.marginY);
        bounds->width = g.ui32FrameBoundWidth - 2 * rx * s.marginX;
        bounds->height = g.ui32FrameBoundHeight - 2 * ry * s.marginY;
    }

    ISPC::ParameterList list;
    out->save(list, ISPC::ModuleBase::SAVE_VAL);
    const std::string name = ISPC::ModuleOUT::getPixelFormatString(format.format);
    const std::string none = ISPC::ModuleOUT::getPixelFormatString(PXL_NONE);
    if (type == CI_TYPE_ENCODER || type == CI_TYPE_DISPLAY) {
        ISPC::ModuleScalerBase *scaler = nullptr;
        ISPC::SetupModule *scalerModule = nullptr;
        if (type == CI_TYPE_ENCODER) {
            setText(list, ISPC::ModuleOUT::ENCODER_TYPE.name, name);
            const ISPC::ModuleR2YBase::StdMatrix matrix =
                format.bBT601 ? ISPC::ModuleR2YBase::BT601 : ISPC::ModuleR2YBase::BT709;
            if (ISPC::ModuleR2Y *r2y = module<ISPC::ModuleR2Y>()) {
                r2y->eMatrix = matrix;
                r2y->save(list, ISPC::ModuleBase::SAVE_VAL);
            }
            if (ISPC::ModuleY2R *y2r = module<ISPC::ModuleY2R>()) {
                y2r->eMatrix = matrix;
                y2r->save(list, ISPC::ModuleBase::SAVE_VAL);
            }
            ISPC::ModuleESC *esc = module<ISPC::ModuleESC>();
            if (esc != nullptr)
                esc->bChromaInterstitial = format.bChromaInterstitial;
            scaler = esc;
            scalerModule = esc;
        } else {
            setText(list, ISPC::ModuleOUT::DISPLAY_TYPE.name, name);
            setText(list, ISPC::ModuleOUT::DATAEXTRA_TYPE.name, none);
            ISPC::ModuleDSC *dsc = module<ISPC::ModuleDSC>();
            scaler = dsc;
            scalerModule = dsc;
        }
        if (scaler != nullptr) {
            scaler->aPitch[0] = s.u;
            scaler->aPitch[1] = s.vs;
            scaler->eRectType = ISPC::SCALER_RECT_SIZE;
            scaler->aRect[0] = s.marginX;
            scaler->aRect[1] = s.marginY;
            scaler->aRect[2] = format.width;
            scaler->aRect[3] = format.height;
            scalerModule->save(list, ISPC::ModuleBase::SAVE_VAL);
        }
    } else {
        // The module's point is that of an extraction already on, else the setup files'. Reading the module's
        // alone would take point 3 for every request, since the outputs start off: point 2 (after the filter line
        // store) could then never be had.
        int point = list.getParameter(ISPC::ModuleOUT::DATAEXTRA_POINT);
        if (point == 3)
            point = setupExtractionPoint;
        setText(list, ISPC::ModuleOUT::DATAEXTRA_POINT.name, text(point == 2 ? 2 : 1));
        setText(list, ISPC::ModuleOUT::DATAEXTRA_TYPE.name, name);
        setText(list, ISPC::ModuleOUT::DISPLAY_TYPE.name, none);
    }
    return configureOutput(list);
}

bool TestContext::configureOutput(const ISPC::ParameterList &list) {
    ISPC::ModuleOUT *out = module<ISPC::ModuleOUT>();
    if (!isCameraConfigured() || out == nullptr) {
        QOR_LOG_ERROR(kTag, "camera not configured for context %d\n", iContext);
        return false;
    }
    std::set<CI_BUFFTYPE> toFree, toAllocate;
    auto reload = [&](ISPC::SetupModule *m) {
        if (m != nullptr) {
            m->load(list);
            m->requestUpdate();
        }
    };
    if (list.hasGroup(ISPC::ModuleESC::GROUP_NAME)) {
        reload(module<ISPC::ModuleESC>());
        toFree.insert(CI_TYPE_ENCODER);
    }
    if (list.hasGroup(ISPC::ModuleDSC::GROUP_NAME)) {
        reload(module<ISPC::ModuleDSC>());
        toFree.insert(CI_TYPE_DISPLAY);
    }
    if (list.hasGroup(ISPC::ModuleR2Y::GROUP_NAME))
        reload(module<ISPC::ModuleR2Y>());
    if (list.hasGroup(ISPC::ModuleY2R::GROUP_NAME))
        reload(module<ISPC::ModuleY2R>());
    if (list.hasGroup(ISPC::ModuleOUT::GROUP_NAME)) {
        reload(out);
        // Modules whose set-up depends on the output formats.
        for (ISPC::SetupID id : {ISPC::STP_DGM, ISPC::STP_MIE, ISPC::STP_R2Y, ISPC::STP_Y2R}) {
            if (ISPC::SetupModule *m = pCamera->getPipeline()->getModule(id))
                m->requestUpdate();
        }
        const std::pair<ePxlFormat, CI_BUFFTYPE> outputs[] = {
            {out->encoderType, CI_TYPE_ENCODER},        {out->displayType, CI_TYPE_DISPLAY},
            {out->dataExtractionType, CI_TYPE_DATAEXT}, {out->hdrExtractionType, CI_TYPE_HDREXT},
            {out->raw2DExtractionType, CI_TYPE_RAW2D},
        };
        for (const auto &o : outputs)
            (o.first != PXL_NONE ? toAllocate : toFree).insert(o.second);
    }
    if (!freeBuffers(toFree)) {
        QOR_LOG_ERROR(kTag, "failed to delete buffers for context %d\n", iContext);
        return false;
    }
    if (pCamera->getPipeline()->setupRequested() != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to setup requested modules for context %d\n", iContext);
        return false;
    }
    if (!configureModules()) {
        QOR_LOG_ERROR(kTag, "failed to configure camera modules for context %d\n", iContext);
        return false;
    }
    for (const auto &b : buffers)
        toAllocate.erase(b.second.eType);
    if (!allocateBuffers(toAllocate)) {
        QOR_LOG_ERROR(kTag, "failed to allocate buffers for context %d\n", iContext);
        return false;
    }
    return true;
}

bool TestContext::freeOutputBuffers() {
    ISPC::ModuleOUT *out = module<ISPC::ModuleOUT>();
    ISPC::ParameterList list;
    if (out != nullptr)
        out->save(list, ISPC::ModuleBase::SAVE_VAL);
    disableOutputs(list);
    const bool ok = configureOutput(list);
    if (!ok)
        QOR_LOG_ERROR(kTag, "failed to disable outputs\n");
    return ok;
}

QOR_UINT32 TestContext::calcBufferSize(const PIXELTYPE &type, CI_BUFFTYPE bufferType, bool tiled) {
    (void)tiled; // every buffer of the system is linear
    if (pCamera == nullptr || pCamera->getPipeline() == nullptr)
        return 0;
    const ISPC::Pipeline &p = *pCamera->getPipeline();
    unsigned width, height;
    if (bufferType == CI_TYPE_ENCODER) {
        width = p.getMaxEncoderWidth();
        height = roundUp16(p.getMaxEncoderHeight());
    } else if (bufferType == CI_TYPE_DISPLAY) {
        width = p.getMaxDisplayWidth();
        height = roundUp16(p.getMaxDisplayHeight());
    } else {
        const ISPC::Global_Setup g = p.getGlobalSetup();
        width = g.ui32ImageWidth;
        height = roundUp16(g.ui32ImageHeight);
    }
    CI_SIZEINFO info = {};
    QOR_RESULT ret;
    switch (type.eBuffer) {
    case TYPE_YUV:
        ret = CI_ALLOC_YUVSizeInfo(&type, width, height, nullptr, &info);
        break;
    case TYPE_RGB:
        ret = CI_ALLOC_RGBSizeInfo(&type, width, height, nullptr, &info);
        break;
    case TYPE_BAYER:
        ret = bufferType == CI_TYPE_RAW2D ? CI_ALLOC_Raw2DSizeInfo(&type, width, height, nullptr, &info)
                                          : CI_ALLOC_RGBSizeInfo(&type, width, height, nullptr, &info);
        break;
    case TYPE_NONE:
        return 0;
    default:
        QOR_LOG_ERROR(kTag, "Invalid buffer type : %d\n", static_cast<int>(type.eBuffer));
        return 0;
    }
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to calculate buffer size!\n");
        return 0;
    }
    QOR_UINT64 size = static_cast<QOR_UINT64>(info.ui32Stride) * info.ui32Height +
                      static_cast<QOR_UINT64>(info.ui32CStride) * info.ui32CHeight;
    const QOR_UINT64 page = pCamera->hwInfo.mmu_ui32PageSize;
    if (page != 0)
        size = (size + page - 1) / page * page;
    if (size > 0xFFFFFFFFull) {
        QOR_LOG_ERROR(kTag, "Failed to calculate buffer size!\n");
        return 0;
    }
    return static_cast<QOR_UINT32>(size);
}

int TestContext::allocAndImportBuffer(const PIXELTYPE &type, CI_BUFFTYPE bufferType, bool tiled, QOR_UINT32 *id) {
    const QOR_UINT32 size = calcBufferSize(type, bufferType, tiled);
    if (size == 0)
        return QOR_RES_EMPTY;
    const bool dmabuf = pParam != nullptr && pParam->bUseDmabuf;
    if (dmabuf)
        QOR_LOG_INFO(kTag, "DMABUF type=%d, size 0x%x bytes\n", static_cast<int>(bufferType), size);
    else
        QOR_LOG_INFO(kTag, "Buffer type=%d, size 0x%x bytes\n", static_cast<int>(bufferType), size);
    BufferInfo info;
    info.size = size;
    info.eType = bufferType;
    QOR_UINT32 bufferId = 0;
    if (dmabuf) {
        QOR_HANDLE handle = nullptr;
        if (DMABUF_Alloc(&handle, size) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "DMABUF allocation failed\n");
            return 1;
        }
        int fd = -1;
        if (DMABUF_GetBufferFd(handle, &fd) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "DMABUF export failed\n");
            DMABUF_Free(handle);
            return 1;
        }
        if (pCamera->importBuffer(bufferType, static_cast<QOR_UINT32>(fd), size, tiled, &bufferId) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "DMABUF import to CI failed\n");
            DMABUF_Free(handle);
            return 1;
        }
        QOR_LOG_INFO(kTag, "DMABUF handle=0x%lx fd=%d id=%d\n", reinterpret_cast<unsigned long>(handle), fd,
                     static_cast<int>(bufferId));
        info.fd = fd;
        info.hDmabuf = handle;
        if (pParam->bMapDmabuf) {
            void *mapped = SEAM_Mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            info.pMapped = mapped != MAP_FAILED ? mapped : nullptr;
        }
    } else {
        if (pCamera->allocateBuffer(bufferType, size, tiled, &bufferId) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Can not allocate buffer\n");
            return 1;
        }
        QOR_LOG_INFO(kTag, "Buffer id=%d\n", static_cast<int>(bufferId));
    }
    if (id != nullptr)
        *id = bufferId;
    auto existing = buffers.find(bufferId);
    if (existing != buffers.end() && existing->second.pMapped != nullptr)
        SEAM_Munmap(existing->second.pMapped, existing->second.size);
    buffers[bufferId] = info;
    return 0;
}

bool TestContext::allocateBuffers(const std::set<CI_BUFFTYPE> &types) {
    const CI_PIPELINE *ci =
        pCamera != nullptr && pCamera->getPipeline() != nullptr ? pCamera->getPipeline()->getCIPipeline() : nullptr;
    if (ci == nullptr) {
        QOR_LOG_ERROR(kTag, "No CI pipeline\n");
        return false;
    }
    const unsigned count = pParam != nullptr ? pParam->nBuffers[iContext] : 0;
    const CI_BUFFTYPE displayPath = ci->config.eDispType.eBuffer == TYPE_BAYER ? CI_TYPE_DATAEXT : CI_TYPE_DISPLAY;
    const std::pair<CI_BUFFTYPE, const PIXELTYPE *> outputs[] = {
        {CI_TYPE_ENCODER, &ci->config.eEncType},
        {displayPath, &ci->config.eDispType},
        {CI_TYPE_HDREXT, &ci->config.eHDRExtType},
        {CI_TYPE_RAW2D, &ci->config.eRaw2DExtraction},
    };
    for (unsigned i = 0; i < count; i++) {
        for (const auto &o : outputs) {
            if (types.count(o.first) != 0 && allocAndImportBuffer(*o.second, o.first, false, nullptr) == 1)
                return false;
        }
    }
    return true;
}

bool TestContext::freeBuffer(unsigned id) {
    auto it = buffers.find(id);
    if (it == buffers.end())
        return false;
    QOR_LOG_INFO(kTag, "Deregister buffer id=%d\n", static_cast<int>(id));
    if (pCamera == nullptr || pCamera->deregisterBuffer(id) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to deregister buffer id=%d\n", static_cast<int>(id));
        return false;
    }
    BufferInfo &info = it->second;
    if (info.hDmabuf != nullptr) {
        QOR_LOG_INFO(kTag, "Free DMABUF handle=0x%lx fd=%d id=%d\n", reinterpret_cast<unsigned long>(info.hDmabuf),
                     info.fd, static_cast<int>(id));
        if (info.pMapped != nullptr) {
            SEAM_Munmap(info.pMapped, info.size);
            info.pMapped = nullptr;
        }
        if (DMABUF_Free(info.hDmabuf) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "failed to free DMABUF id=%d\n", static_cast<int>(id));
            return false;
        }
    }
    buffers.erase(it);
    return true;
}

bool TestContext::freeBuffers(const std::set<CI_BUFFTYPE> &types) {
    std::list<unsigned> ids;
    for (const auto &b : buffers) {
        if (types.count(b.second.eType) != 0)
            ids.push_back(b.first);
    }
    bool ok = true;
    for (unsigned id : ids)
        ok = freeBuffer(id) && ok;
    return ok;
}

bool TestContext::getBufferInfo(const int &id, BufferInfo &info) const {
    if (id < 0)
        return false;
    auto it = buffers.find(static_cast<unsigned>(id));
    if (it == buffers.end())
        return false;
    info = it->second;
    return true;
}

BufferFrameBounds TestContext::getBounds() const {
    BufferFrameBounds b = {0, 0, 0, 0};
    if (pCamera == nullptr || pCamera->getPipeline() == nullptr)
        return b;
    const ISPC::Global_Setup g = pCamera->getPipeline()->getGlobalSetup();
    b.x = static_cast<QOR_INT32>(g.ui32FrameBoundX);
    b.y = static_cast<QOR_INT32>(g.ui32FrameBoundY);
    b.width = g.ui32FrameBoundWidth;
    b.height = g.ui32FrameBoundHeight;
    return b;
}

unsigned TestContext::getMaxImageWidth() const {
    return isCameraConfigured() ? pCamera->getPipeline()->getGlobalSetup().ui32ImageWidth : 0;
}

unsigned TestContext::getMaxImageHeight() const {
    return isCameraConfigured() ? pCamera->getPipeline()->getGlobalSetup().ui32ImageHeight : 0;
}
