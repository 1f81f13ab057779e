#include "ispc/Save.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>

#include "ci/ci_api.h"
#include "ispc/Camera.h"
#include "ispc/ModuleOUT.h"
#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "norvacommon/ci_alloc_info.h"
#include "norvacommon/pixel_transform.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {

const char *const kTag = "ISPC_Save";
/** Bytes of one tile of a tiled buffer. */
const unsigned kTileBytes = 4096;

bool IsPackedYcc(ePxlFormat f) { return PixelFormatIsPackedYcc(f) == QOR_TRUE; }

/** The colour model of an NRV Bayer file for the sensor's order, or false for no mosaic. */
bool BayerModel(MOSAICType m, sSimImageColourModel *model) {
    switch (m) {
    case MOSAIC_RGGB:
        *model = SimImage_RGGB;
        return true;
    case MOSAIC_GRBG:
        *model = SimImage_GRBG;
        return true;
    case MOSAIC_GBRG:
        *model = SimImage_GBRG;
        return true;
    case MOSAIC_BGGR:
        *model = SimImage_BGGR;
        return true;
    default:
        return false;
    }
}

/** Bytes of one line of a YUV plane: the width, or whole packets for the 10-bit formats. */
size_t YuvLineBytes(const PIXELTYPE &t, unsigned width) {
    if (t.ui8PackedElements <= 1) {
        return size_t(width) * t.ui8PackedStride;
    }
    return (size_t(width) + t.ui8PackedElements - 1) / t.ui8PackedElements * t.ui8PackedStride;
}

const ModuleOUT *OutputModule(const Pipeline &context) {
    return static_cast<const ModuleOUT *>(context.getModule(STP_OUT));
}

} // namespace

Save::Save() : file(nullptr), type(None), tileScheme(0) {}

Save::~Save() {
    if (file) {
        close();
    }
}

QOR_RESULT Save::dropFile() {
    if (!file) {
        return QOR_RES_OK;
    }
    const QOR_RESULT ret = SaveFile_destroy(file);
    delete file;
    file = nullptr;
    return ret;
}

QOR_RESULT Save::open(SaveType t, const Pipeline &context, const std::string &name) {
    if (file) {
        QOR_LOG_ERROR(kTag, "file '%s' is already open\n", filename.c_str());
        return QOR_RES_ALREADY;
    }
    type = t;
    filename = name;
    file = new (std::nothrow) SaveFile;
    if (!file || SaveFile_init(file) != QOR_RES_OK) {
        delete file;
        file = nullptr;
        QOR_LOG_ERROR(kTag, "failed to allocate SaveFile object\n");
        return QOR_RES_NO_MEMORY;
    }
    QOR_RESULT ret = QOR_RES_OK;
    const ModuleOUT *out = OutputModule(context);
    if (!out) {
        QOR_LOG_ERROR(kTag, "registered context does not have an output module!\n");
        ret = QOR_RES_UNAVAILABLE;
    } else if (!context.getSensor()) {
        QOR_LOG_ERROR(kTag, "registered context does not have sensor!\n");
        ret = QOR_RES_FAILED;
    } else if (!context.getConnection()) {
        QOR_LOG_ERROR(kTag, "registered context does not have a connection!\n");
        ret = QOR_RES_UNAVAILABLE;
    }
    if (ret == QOR_RES_OK) {
        tileScheme = context.getConnection()->sHWInfo.uiTiledScheme;
        const Global_Setup g = context.getGlobalSetup();
        switch (t) {
        case Bayer:
            ret = openBayer(context, false);
            break;
        case Bayer_TIFF:
            ret = openBayer(context, true);
            break;
        case Display:
            ret = openDisplayFile(context, out->displayType, g.ui32DispWidth, g.ui32DispHeight);
            break;
        case RGB_EXT:
            ret = openDisplayFile(context, out->hdrExtractionType, g.ui32ImageWidth, g.ui32ImageHeight);
            break;
        case RGB_INS:
            ret = openDisplayFile(context, out->hdrInsertionType, g.ui32ImageWidth, g.ui32ImageHeight);
            break;
        case YUV:
        case Bytes:
            ret = openBytes();
            break;
        default:
            QOR_LOG_ERROR(kTag, "unknown save type %d\n", int(t));
            ret = QOR_RES_NOT_INITIALISED;
            break;
        }
    }
    if (ret != QOR_RES_OK) {
        dropFile();
    }
    return ret;
}

QOR_RESULT Save::openBayer(const Pipeline &context, bool tiff) {
    if (!file) {
        QOR_LOG_ERROR(kTag, "file should have been allocated!\n");
        return QOR_RES_UNAVAILABLE;
    }
    const ModuleOUT &out = *OutputModule(context);
    const Sensor &sensor = *context.getSensor();
    const Global_Setup g = context.getGlobalSetup();
    const ePxlFormat fmt = tiff ? out.raw2DExtractionType : out.dataExtractionType;
    PIXELTYPE t;
    if (PixelTransformBayer(&t, fmt, g.eSensor_bayer_format) != QOR_RES_OK ||
        (tiff != (fmt == BAYER_TIFF_10 || fmt == BAYER_TIFF_12))) {
        QOR_LOG_ERROR(kTag, "registered context does not have a correct bayer format: %s\n", FormatString(fmt));
        return QOR_RES_NOT_SUPPORTED;
    }
    SimImageInfo info;
    std::memset(&info, 0, sizeof info);
    if (!BayerModel(g.eSensor_bayer_format, &info.eColourModel)) {
        QOR_LOG_ERROR(kTag, "unsupported bayer format in sensor\n");
        return QOR_RES_FAILED;
    }
    info.ui8BitDepth = t.ui8BitDepth;
    info.ui32Width = g.ui32ImageWidth;
    info.ui32Height = g.ui32ImageHeight;
    info.stride = (tiff ? 2u : 8u) * g.ui32ImageWidth;
    if (!tiff) {
        info.ui32ExposureTime = QOR_UINT32(sensor.getExposure());
        info.fGain = sensor.getGain();
    }
    const QOR_RESULT ret = SaveFile_openNRV(file, filename.c_str(), &info);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to open '%s' as DE output\n", filename.c_str());
    }
    return ret;
}

QOR_RESULT Save::openDisplayFile(const Pipeline &context, int format, unsigned width, unsigned height) {
    (void)context;
    if (!file) {
        QOR_LOG_ERROR(kTag, "file should have been allocated!\n");
        return QOR_RES_UNAVAILABLE;
    }
    const ePxlFormat fmt = static_cast<ePxlFormat>(format);
    PIXELTYPE t;
    if (PixelTransformDisplay(&t, fmt) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "registered context does not have a correct RGB or YUV444 format: %s\n", FormatString(fmt));
        return QOR_RES_NOT_SUPPORTED;
    }
    if (IsPackedYcc(fmt)) {
        return openBytes();
    }
    SimImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.ui32Width = width;
    info.ui32Height = height;
    // NRV RGB files hold blue first. The RGB formats are blue-first in memory (the 10-bit ones in the low
    // bits), so the writer takes their channels as they are; the BGR ones hold red first and are exchanged.
    info.isBGR = !(fmt == BGR_888_24 || fmt == BGR_888_32 || fmt == BGR_101010_32);
    info.stride = size_t(width) * t.ui8PackedStride;
    switch (fmt) {
    case RGB_888_24:
    case BGR_888_24:
        info.eColourModel = SimImage_RGB24;
        info.ui8BitDepth = 8;
        break;
    case RGB_888_32:
    case BGR_888_32:
        info.eColourModel = SimImage_RGB32;
        info.ui8BitDepth = 8;
        break;
    case RGB_101010_32:
    case BGR_101010_32:
        info.eColourModel = SimImage_RGB32;
        info.ui8BitDepth = 10;
        break;
    default:
        info.eColourModel = SimImage_RGB64;
        info.ui8BitDepth = 16;
        break;
    }
    const QOR_RESULT ret = SaveFile_openNRV(file, filename.c_str(), &info);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to open '%s' as display output\n", filename.c_str());
    }
    return ret;
}

QOR_RESULT Save::openBytes() {
    if (!file) {
        QOR_LOG_ERROR(kTag, "file should have been allocated!\n");
        return QOR_RES_UNAVAILABLE;
    }
    const QOR_RESULT ret = SaveFile_open(file, filename.c_str());
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to open '%s' as generic output!\n", filename.c_str());
    }
    return ret;
}

QOR_RESULT Save::close() {
    if (!file) {
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_RESULT ret = dropFile();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to finish '%s'\n", filename.c_str());
    }
    return ret;
}

/* ---- untiling ---- */

QOR_RESULT Save::untile(const Shot &shot, Buffer &result) const {
    // a scheme of 0 would give tiles of no width and a division by zero
    if (tileScheme == 0 || tileScheme > kTileBytes) {
        QOR_LOG_ERROR(kTag, "tiling scheme %u is not usable\n", tileScheme);
        return QOR_RES_NOT_SUPPORTED;
    }
    const unsigned tileW = tileScheme, tileH = kTileBytes / tileScheme;
    switch (type) {
    case Display:
        return untileRGB(shot.DISPLAY, tileW, tileH, result);
    case RGB_EXT:
        return untileRGB(shot.HDREXT, tileW, tileH, result);
    case YUV:
        return untileYUV(shot.YUV, tileW, tileH, result);
    case Bayer:
    case Bayer_TIFF:
    case Bytes:
        QOR_LOG_ERROR(kTag, "Cannot untile the associated save format\n");
        return QOR_RES_NOT_SUPPORTED;
    default:
        return QOR_RES_NOT_SUPPORTED;
    }
}

QOR_RESULT Save::untileRGB(const Buffer &buffer, unsigned tileW, unsigned tileH, Buffer &result) {
    if (!buffer.isTiled || !buffer.data) {
        QOR_LOG_ERROR(kTag, "RGB buffer is not tiled! Cannot untile it!\n");
        return QOR_RES_INVALID_PARAM;
    }
    PIXELTYPE t;
    if (PixelTransformDisplay(&t, buffer.pxlFormat) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "the given format '%s' is not RGB\n", FormatString(buffer.pxlFormat));
        return QOR_RES_NOT_SUPPORTED;
    }
    QOR_LOG_INFO(kTag, "untiling RGB buffer %dx%d - str=%d\n", int(tileW), int(tileH), int(buffer.stride));
    const size_t size = size_t(buffer.stride) * buffer.vstride;
    QOR_UINT8 *copy = static_cast<QOR_UINT8 *>(std::calloc(size ? size : 1, 1));
    if (!copy) {
        QOR_LOG_ERROR(kTag, "failed to allocate untiled memory\n");
        return QOR_RES_NO_MEMORY;
    }
    if (BufferDeTile(tileW, tileH, buffer.stride, buffer.firstData(), copy, buffer.stride, buffer.vstride) !=
        QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to detile RGB buffer\n");
        std::free(copy);
        return QOR_RES_FAILED;
    }
    result = buffer;
    result.data = copy;
    result.offset = 0;
    result.id = 0;
    result.isTiled = false;
    return QOR_RES_OK;
}

QOR_RESULT Save::untileYUV(const Buffer &buffer, unsigned tileW, unsigned tileH, Buffer &result) {
    if (!buffer.isTiled || !buffer.data) {
        QOR_LOG_ERROR(kTag, "YUV buffer is not tiled! Cannot untile it!\n");
        return QOR_RES_INVALID_PARAM;
    }
    PIXELTYPE t;
    if (PixelTransformYUV(&t, buffer.pxlFormat) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "the given format '%s' is not YUV\n", FormatString(buffer.pxlFormat));
        return QOR_RES_NOT_SUPPORTED;
    }
    QOR_LOG_INFO(kTag, "untiling YUV buffer %dx%d - str=%d\n", int(tileW), int(tileH), int(buffer.stride));
    const size_t lumaSize = size_t(buffer.stride) * buffer.vstride;
    const size_t size = size_t(buffer.stride) * (size_t(buffer.vstride) + buffer.vstrideCbCr);
    QOR_UINT8 *copy = static_cast<QOR_UINT8 *>(std::calloc(size ? size : 1, 1));
    if (!copy) {
        QOR_LOG_ERROR(kTag, "failed to allocate untiled memory\n");
        return QOR_RES_NO_MEMORY;
    }
    if (BufferDeTile(tileW, tileH, buffer.stride, buffer.firstData(), copy, buffer.stride, buffer.vstride) !=
        QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to convert the Y tiled buffer!\n");
        std::free(copy);
        return QOR_RES_FAILED;
    }
    if (buffer.vstrideCbCr != 0 && BufferDeTile(tileW, tileH, buffer.strideCbCr, buffer.firstDataCbCr(),
                                                copy + lumaSize, buffer.strideCbCr, buffer.vstrideCbCr) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to convert the CbCr tiled buffer!\n");
        std::free(copy);
        return QOR_RES_FAILED;
    }
    result = buffer;
    result.data = copy;
    result.offset = 0;
    result.offsetCbCr = QOR_UINT32(lumaSize);
    result.id = 0;
    result.isTiled = false;
    return QOR_RES_OK;
}

/* ---- frames ---- */

QOR_RESULT Save::save(const Shot &shot) {
    if (!file) {
        QOR_LOG_ERROR(kTag, "File is not open, cannot save\n");
        return QOR_RES_NOT_INITIALISED;
    }
    // the untiled copy of a tiled output, freed after the write
    struct Untiled {
        Buffer b{};
        ~Untiled() { std::free(const_cast<QOR_UINT8 *>(b.data)); }
    } untiled;
    auto source = [&](const Buffer &b, const Buffer *&use) -> QOR_RESULT {
        use = &b;
        if (!b.isTiled) {
            return QOR_RES_OK;
        }
        const QOR_RESULT r = untile(shot, untiled.b);
        use = &untiled.b;
        return r;
    };
    const Buffer *use = nullptr;
    QOR_RESULT ret;
    switch (type) {
    case Bayer:
        return saveBayer(shot.BAYER, false);
    case Bayer_TIFF:
        return saveBayer(shot.RAW2DEXT, true);
    case Display:
        ret = source(shot.DISPLAY, use);
        if (ret == QOR_RES_OK) {
            ret = IsPackedYcc(use->pxlFormat) ? saveYUVPacked(*use) : saveRGB(*use);
        }
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "failed to write a Display frame!\n");
        }
        return ret;
    case RGB_EXT:
        ret = source(shot.HDREXT, use);
        return ret == QOR_RES_OK ? saveRGB(*use) : ret;
    case YUV:
        ret = source(shot.YUV, use);
        return ret == QOR_RES_OK ? saveYUV(*use) : ret;
    default:
        QOR_LOG_ERROR(kTag, "saving a shot is not supported for this file type\n");
        return QOR_RES_NOT_SUPPORTED;
    }
}

QOR_RESULT Save::saveBayer(const Buffer &buffer, bool tiff) {
    if (buffer.isTiled) {
        QOR_LOG_ERROR(kTag, tiff ? "cannot save tiled TIFF buffer\n" : "cannot save tiled bayer buffer\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    PIXELTYPE t;
    const bool isTiff = buffer.pxlFormat == BAYER_TIFF_10 || buffer.pxlFormat == BAYER_TIFF_12;
    if (!buffer.data || PixelTransformBayer(&t, buffer.pxlFormat, MOSAIC_RGGB) != QOR_RES_OK || isTiff != tiff) {
        QOR_LOG_ERROR(kTag, tiff ? "the given format '%s' is not Bayer TIFF\n" : "the given format '%s' is not Bayer\n",
                      FormatString(buffer.pxlFormat));
        return QOR_RES_NOT_SUPPORTED;
    }
    QOR_UINT16 size[2] = {buffer.width, buffer.height};
    void *converted = nullptr;
    QOR_SIZE convertedSize = 0;
    QOR_RESULT ret =
        tiff ? convertToPlanarBayerTiff(size, buffer.firstData(), buffer.stride, t.ui8BitDepth, &converted,
                                        &convertedSize)
             : convertToPlanarBayer(size, buffer.firstData(), buffer.stride, t.ui8BitDepth, &converted, &convertedSize);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, tiff ? "failed to convert raw2D Tiff Bayer frame\n" : "failed to convert Bayer frame\n");
        return QOR_RES_FAILED;
    }
    ret = convertedSize ? SaveFile_write(file, converted, convertedSize) : QOR_RES_INVALID_PARAM;
    std::free(converted);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, tiff ? "failed to write a raw 2D frame!\n" : "failed to write a data-extraction frame!\n");
    }
    return ret;
}

QOR_RESULT Save::saveRGB(const Buffer &buffer) {
    if (buffer.isTiled) {
        QOR_LOG_ERROR(kTag, "cannot save tiled RGB buffer - untile it first!\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    PIXELTYPE t;
    if (!buffer.data || PixelTransformRGB(&t, buffer.pxlFormat) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "the given format '%s' is not RGB\n", FormatString(buffer.pxlFormat));
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_RESULT ret = SaveFile_writeFrame(file, buffer.firstData(), buffer.stride,
                                               size_t(buffer.width) * t.ui8PackedStride, buffer.height);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to write a RGB frame!\n");
    }
    return ret;
}

QOR_RESULT Save::saveYUVPacked(const Buffer &buffer) {
    PIXELTYPE t;
    if (!buffer.data || PixelTransformDisplay(&t, buffer.pxlFormat) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "the given format '%s' is not YUV\n", FormatString(buffer.pxlFormat));
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_RESULT ret = SaveFile_writeFrame(file, buffer.firstData(), buffer.stride,
                                               size_t(buffer.width) * t.ui8PackedStride, buffer.height);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to write YUV's luma frame!\n");
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT Save::saveYUV(const Buffer &buffer) {
    PIXELTYPE t;
    if (!buffer.data || PixelTransformYUV(&t, buffer.pxlFormat) != QOR_RES_OK || IsPackedYcc(buffer.pxlFormat)) {
        QOR_LOG_ERROR(kTag, "the given format '%s' is not YUV\n", FormatString(buffer.pxlFormat));
        return QOR_RES_NOT_SUPPORTED;
    }
    const size_t luma = YuvLineBytes(t, buffer.width);
    QOR_RESULT ret = SaveFile_writeFrame(file, buffer.firstData(), buffer.stride, luma, buffer.height);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to write YUV's luma frame!\n");
        return QOR_RES_FAILED;
    }
    const size_t chroma = luma * 2 / t.ui8HSubsampling;
    ret =
        SaveFile_writeFrame(file, buffer.firstDataCbCr(), buffer.strideCbCr, chroma, buffer.height / t.ui8VSubsampling);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to write YUV's chroma frame!\n");
    }
    return ret;
}

/* ---- raw blocks ---- */

QOR_RESULT Save::saveDPF(const Shot &shot) {
    if (!file) {
        QOR_LOG_ERROR(kTag, "File is not open, cannot save DPF\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (type != Bytes) {
        return QOR_RES_NOT_SUPPORTED;
    }
    const MC_STATS_DPF &d = shot.metadata.defectiveStats;
    QOR_LOG_INFO(kTag, "DPF corrected %d and has %d (%d dropped) in the output map '%s'\n", int(d.ui32FixedPixels),
                 int(d.ui32NOutCorrection), int(d.ui32DroppedMapModifications), filename.c_str());
    if (!shot.DPF.data || shot.DPF.elementSize == 0 || shot.DPF.size < shot.DPF.elementSize) {
        QOR_LOG_WARNING(kTag, "no pixel corrected! '%s' will be empty for that frame!\n", filename.c_str());
        return QOR_RES_OK;
    }
    const QOR_RESULT ret = SaveFile_write(file, shot.DPF.data, shot.DPF.size);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to save DPF to '%s'!\n", filename.c_str());
    }
    return ret;
}

QOR_RESULT Save::saveENS(const Shot &shot) {
    if (!file) {
        QOR_LOG_ERROR(kTag, "File is not open, cannot save ENS\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (type != Bytes) {
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_UINT32 pairs = shot.ENS.elementSize ? shot.ENS.size / shot.ENS.elementSize : 0;
    QOR_LOG_INFO(kTag, "ENS %d pairs saved to output map '%s'\n", int(pairs), filename.c_str());
    if (!shot.ENS.data || shot.ENS.elementSize == 0 || shot.ENS.size < shot.ENS.elementSize) {
        QOR_LOG_WARNING(kTag, "no ENS stats generated! '%s' will be empty for that frame!\n", filename.c_str());
        return QOR_RES_OK;
    }
    const QOR_RESULT ret = SaveFile_write(file, shot.ENS.data, shot.ENS.size);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to save ENS to '%s'!\n", filename.c_str());
    }
    return ret;
}

QOR_RESULT Save::saveStats(const Shot &shot) {
    if (!file) {
        QOR_LOG_ERROR(kTag, "File is not open, cannot save statistics\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (type != Bytes) {
        return QOR_RES_NOT_SUPPORTED;
    }
    // a record that is only partly written would make the whole file unreadable: every failure is reported
    QOR_RESULT failure = QOR_RES_OK;
    char header[32];
    std::snprintf(header, sizeof header, "#stats-%dB#", int(shot.stats.size));
    if (SaveFile_write(file, header, std::strlen(header)) != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "failed to write the stats 'header'\n");
        failure = QOR_RES_FAILED;
    }
    if (shot.stats.data && shot.stats.size && SaveFile_write(file, shot.stats.data, shot.stats.size) != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "failed to write the stats\n");
        failure = QOR_RES_FAILED;
    }
    static const char kFooter[] = "#stats-done#";
    if (SaveFile_write(file, kFooter, sizeof kFooter - 1) != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "failed to write the stats 'footer'\n");
        failure = QOR_RES_FAILED;
    }
    return failure;
}

QOR_RESULT Save::saveCameraState(const Camera &camera) {
    if (!file) {
        QOR_LOG_ERROR(kTag, "File is not open, cannot save camera state\n");
        return QOR_RES_NOT_INITIALISED;
    }
    std::ostringstream os;
    os << camera << "\n";
    const std::string text = os.str();
    const QOR_RESULT ret = SaveFile_write(file, text.data(), text.size());
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to save camera state\n");
    }
    return ret;
}

/* ---- one-shot functions ---- */

namespace {

/** Closes a one-shot file and keeps the first failure. */
QOR_RESULT Finish(Save &s, QOR_RESULT ret) {
    const QOR_RESULT closed = s.close();
    return ret != QOR_RES_OK ? ret : closed;
}

/** Opens a one-shot file, writes one shot into it with `write`, logs a failure naming `what`, and closes it. */
template <typename Write>
QOR_RESULT SaveOnce(const Pipeline &context, Save::SaveType t, const std::string &name, const char *what, Write write) {
    Save s;
    QOR_RESULT ret = s.open(t, context, name);
    if (ret != QOR_RES_OK) {
        return ret;
    }
    ret = write(s);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to save %s to '%s'\n", what, name.c_str());
    }
    return Finish(s, ret);
}

} // namespace

QOR_RESULT Save::Single(const Pipeline &context, const Shot &shot, SaveType t, const std::string &name) {
    if (t == Bytes) {
        QOR_LOG_ERROR(kTag, "ISPC::Save::Bytes is not supported - use a specific function\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    return SaveOnce(context, t, name, "output", [&](Save &f) { return f.save(shot); });
}

QOR_RESULT Save::SingleDPF(const Pipeline &context, const Shot &shot, const std::string &name) {
    return SaveOnce(context, Bytes, name, "DPF output", [&](Save &f) { return f.saveDPF(shot); });
}

QOR_RESULT Save::SingleENS(const Pipeline &context, const Shot &shot, const std::string &name) {
    return SaveOnce(context, Bytes, name, "ENS output", [&](Save &f) { return f.saveENS(shot); });
}

QOR_RESULT Save::SingleStats(const Pipeline &context, const Shot &shot, const std::string &name) {
    return SaveOnce(context, Bytes, name, "statistics output", [&](Save &f) { return f.saveStats(shot); });
}

QOR_RESULT Save::SingleHDF(const Pipeline &context, const CI_BUFFER &hdrBuffer, const std::string &name) {
    Save s;
    QOR_RESULT ret = s.open(RGB_INS, context, name);
    if (ret != QOR_RES_OK) {
        return ret;
    }
    const SimImageInfo &info = s.file->pSimImage ? s.file->pSimImage->info : SimImageInfo();
    PIXELTYPE t;
    CI_SIZEINFO si;
    if (PixelTransformRGB(&t, BGR_161616_64) != QOR_RES_OK ||
        CI_ALLOC_RGBSizeInfo(&t, info.ui32Width, info.ui32Height, nullptr, &si) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to get allocation information from '%s'\n", name.c_str());
        return Finish(s, QOR_RES_NOT_SUPPORTED);
    }
    const size_t lineBytes = size_t(info.ui32Width) * 8;
    if (!hdrBuffer.data || uint64_t(si.ui32Stride) * info.ui32Height > hdrBuffer.ui32Size) {
        QOR_LOG_ERROR(kTag, "failed to save HDR insertion to '%s'\n", name.c_str());
        return Finish(s, QOR_RES_INVALID_PARAM);
    }
    ret = SaveFile_writeFrame(s.file, hdrBuffer.data, si.ui32Stride, lineBytes, info.ui32Height);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to save HDR insertion to '%s'\n", name.c_str());
    }
    return Finish(s, ret);
}

QOR_RESULT Save::SingleTxtStats(const Camera &camera, const Shot &shot, const std::string &name) {
    if (!camera.getPipeline()) {
        QOR_LOG_ERROR(kTag, "camera has no pipeline\n");
        return QOR_RES_UNAVAILABLE;
    }
    Save s;
    QOR_RESULT ret = s.open(Bytes, *camera.getPipeline(), name);
    if (ret != QOR_RES_OK) {
        return ret;
    }
    ret = s.saveCameraState(camera);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to save camera state to '%s'\n", name.c_str());
    } else {
        ret = s.saveTxtStats(shot);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "failed to save text statistics output to '%s'\n", name.c_str());
        }
    }
    return Finish(s, ret);
}

/* ---- names ---- */

std::string Save::getEncoderFilename(const Pipeline &context) {
    const ModuleOUT *out = OutputModule(context);
    PIXELTYPE t;
    if (!out || !context.getMCPipeline() || PixelTransformYUV(&t, out->encoderType) != QOR_RES_OK ||
        IsPackedYcc(out->encoderType)) {
        QOR_LOG_ERROR(kTag, "Invalid encoder format!\n");
        return std::string();
    }
    const MC_PIPELINE &mc = *context.getMCPipeline();
    std::ostringstream os;
    os << "encoder" << unsigned(context.getCIPipeline()->config.ui8Context) << "_" << mc.sESC.aOutputSize[0] << "x"
       << mc.sESC.aOutputSize[1] << "_" << FormatStringForFilename(out->encoderType) << "_align"
       << unsigned(t.ui8PackedStride) << ".yuv";
    return os.str();
}

std::string Save::getDisplayFilename(const Pipeline &context) {
    const ModuleOUT *out = OutputModule(context);
    PIXELTYPE t;
    if (!out || !context.getMCPipeline() || PixelTransformDisplay(&t, out->displayType) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Invalid display format!\n");
        return std::string();
    }
    std::ostringstream os;
    os << "display" << unsigned(context.getCIPipeline()->config.ui8Context);
    if (IsPackedYcc(out->displayType)) {
        const MC_PIPELINE &mc = *context.getMCPipeline();
        os << "_" << mc.sDSC.aOutputSize[0] << "x" << mc.sDSC.aOutputSize[1] << "_"
           << FormatStringForFilename(out->displayType) << "_align" << unsigned(t.ui8PackedStride) << ".yuv";
    } else {
        os << ".nrv";
    }
    return os.str();
}

} // namespace ISPC
