// Saving what a capture context's camera captured: one frame of one output on request, and the per-shot recording
// mode (writers per output, raw buffers without their stride padding, defect maps and encoder statistics).
#include <atomic>
#include <cstdio>
#include <sstream>

#include "ispc/ModuleDPF.h"
#include "ispc/ModuleOUT.h"
#include "norvacommon/regular_file.h"
#include "norvacommon/userlog.h"
#include "testcontext.h"

namespace {

constexpr const char *kTag = "norvalib";

const char *const kSaveTypeNames[] = {"Bayer", "Bayer_TIFF", "Display", "RGB_EXT", "RGB_INS", "YUV", "Bytes"};

/* File numbers of the per-shot mode, shared by every context of the process. */
std::atomic<unsigned> g_rawSaves{0};
std::atomic<unsigned> g_dpfSaves{0};
std::atomic<unsigned> g_ensSaves{0};

/** Bytes per line of a raw buffer: its stride when tiled, else whole packed groups of the format. */
unsigned lineBytesOf(const ISPC::Buffer &b, bool tiled, bool bayer, MOSAICType mosaic) {
    if (tiled)
        return b.stride;
    PIXELTYPE type = {};
    const QOR_RESULT ret =
        bayer ? PixelTransformBayer(&type, b.pxlFormat, mosaic) : PixelTransformRGB(&type, b.pxlFormat);
    if (ret != QOR_RES_OK || type.ui8PackedElements == 0)
        return 0;
    return (b.width + type.ui8PackedElements - 1u) / type.ui8PackedElements * type.ui8PackedStride;
}

std::string rawName(const char *prefix, int context, unsigned counter, const ISPC::Buffer &b, unsigned tiledScheme,
                    unsigned lineBytes, const char *extension) {
    std::ostringstream s;
    s << prefix << context << "_" << counter << "_" << b.width << "x" << b.height;
    if (b.isTiled)
        s << "_tiled" << tiledScheme;
    const char *format = FormatString(b.pxlFormat);
    s << "_str" << lineBytes << "_" << (format != nullptr ? format : "") << extension;
    return s.str();
}

} // namespace

bool SaveTypeFromString(const std::string &name, ISPC::Save::SaveType &type) {
    for (unsigned i = 0; i < sizeof(kSaveTypeNames) / sizeof(kSaveTypeNames[0]); i++) {
        if (name == kSaveTypeNames[i]) {
            type = static_cast<ISPC::Save::SaveType>(i);
            return true;
        }
    }
    return false;
}

const char *SaveTypeString(ISPC::Save::SaveType type) {
    const int i = static_cast<int>(type);
    if (i < 0 || i >= static_cast<int>(sizeof(kSaveTypeNames) / sizeof(kSaveTypeNames[0])))
        return nullptr;
    return kSaveTypeNames[i];
}

int saveRawBuffer(const ISPC::Buffer &buffer, unsigned lineBytes, const std::string &filename) {
    if (lineBytes == 0 || lineBytes > buffer.stride || buffer.data == nullptr) {
        QOR_LOG_ERROR(kTag, "given stride %u is bigger than the buffer's stride (%d) or is 0\n", lineBytes,
                      static_cast<int>(buffer.stride));
        return 1;
    }
    std::FILE *f = QOR_CreateFile(filename.c_str(), "wb");
    if (f == nullptr)
        return 1;
    const QOR_UINT8 *first = buffer.firstData();
    for (unsigned line = 0; line < buffer.height; line++) {
        if (std::fwrite(first + static_cast<size_t>(line) * buffer.stride, 1, lineBytes, f) != lineBytes) {
            QOR_LOG_ERROR(kTag, "failed to save %u bytes for line %d/%d\n", lineBytes, static_cast<int>(line + 1),
                          static_cast<int>(buffer.height));
            std::fclose(f);
            return 1;
        }
    }
    return std::fclose(f) == 0 ? 0 : 1;
}

bool TestContext::saveImage(const ISPC::Shot &shot, const std::string &filename, ISPC::Save::SaveType type) {
    const ISPC::Buffer *needed = nullptr;
    if (type == ISPC::Save::YUV)
        needed = &shot.YUV;
    else if (type == ISPC::Save::Display)
        needed = &shot.DISPLAY;
    else if (type == ISPC::Save::Bayer)
        needed = &shot.BAYER;
    if (needed != nullptr && needed->data == nullptr) {
        const char *name = SaveTypeString(type);
        QOR_LOG_ERROR(kTag, "Buffer for %s is empty\n", name != nullptr ? name : "");
        return false;
    }
    if (pCamera == nullptr || pCamera->getPipeline() == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to save image to '%s'\n", filename.c_str());
        return false;
    }
    const char *name = SaveTypeString(type);
    QOR_LOG_INFO(kTag, "Save type is %s\n", name != nullptr ? name : "");
    if (ISPC::Save::Single(*pCamera->getPipeline(), shot, type, filename) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to save image to '%s'\n", filename.c_str());
        return false;
    }
    QOR_LOG_INFO(kTag, "Image was saved into '%s'\n", filename.c_str());
    return true;
}

int TestContext::configureSaves() {
    if (pParam == nullptr || pParam->bNoWrite)
        return 0;
    const ISPC::ModuleOUT *out = module<ISPC::ModuleOUT>();
    if (out == nullptr)
        return 1;
    const ISPC::Pipeline &pipeline = *pCamera->getPipeline();
    const CI_HWINFO &hw = pCamera->hwInfo;
    const int ctx = static_cast<int>(pCamera->getContextNumber());
    auto numbered = [ctx](const char *format) {
        char name[64];
        std::snprintf(name, sizeof(name), format, ctx);
        return std::string(name);
    };
    auto open = [&](ISPC::Save *&field, ISPC::Save::SaveType type, const std::string &filename) {
        field = new ISPC::Save();
        if (field->open(type, pipeline, filename) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "failed to open output file '%s'\n", filename.c_str());
            return false;
        }
        return true;
    };
    if (out->displayType != PXL_NONE) {
        if (!open(pDisplaySave, ISPC::Save::Display, numbered("display%d.nrv")))
            return 1;
    } else if (out->dataExtractionType != PXL_NONE && out->dataExtractionPoint != CI_INOUT_NONE) {
        if (!open(pDisplaySave, ISPC::Save::Bayer, numbered("dataExtraction%d.nrv")))
            return 1;
    }
    if (out->encoderType != PXL_NONE && !open(pEncoderSave, ISPC::Save::YUV, ISPC::Save::getEncoderFilename(pipeline)))
        return 1;
    if ((hw.eFunctionalities & CI_INFO_SUPPORTED_HDR_EXT) != 0 && out->hdrExtractionType != PXL_NONE &&
        !open(pHDRExtSave, ISPC::Save::RGB_EXT, numbered("hdrExtraction%d.nrv")))
        return 1;
    if ((hw.eFunctionalities & CI_INFO_SUPPORTED_RAW2D_EXT) != 0 && out->raw2DExtractionType != PXL_NONE &&
        !open(pRaw2DSave, ISPC::Save::Bayer_TIFF, numbered("raw2DExtraction%d.nrv")))
        return 1;
    if (pParam->bSaveStats[iContext] && !open(pStatsSave, ISPC::Save::Bytes, numbered("ctx_%d_stats.dat")))
        return 1;
    return 0;
}

void TestContext::handleShot(const ISPC::Shot &shot, const ISPC::Camera &camera) {
    (void)camera;
    if (pCamera == nullptr || pCamera->getPipeline() == nullptr || pParam == nullptr)
        return;
    if (pParam->bSaveRaw[iContext])
        saveRaw(shot);
    const struct {
        ISPC::Save *writer;
        const char *failure;
    } writers[] = {
        {pDisplaySave, "failed to save display/data extraction output to disk...\n"},
        {pEncoderSave, "failed to save encoder output to disk...\n"},
        {pHDRExtSave, "failed to save HDR Extraction output to disk...\n"},
        {pRaw2DSave, "failed to save Raw2D Extraction output to disk...\n"},
    };
    for (const auto &w : writers) {
        if (w.writer != nullptr && w.writer->isOpened() && w.writer->save(shot) != QOR_RES_OK)
            QOR_LOG_ERROR(kTag, "%s", w.failure);
    }
    if (pStatsSave != nullptr && pStatsSave->isOpened() && pStatsSave->saveStats(shot) != QOR_RES_OK)
        QOR_LOG_ERROR(kTag, "failed to save statistics output to disk...\n");

    const ISPC::Pipeline &pipeline = *pCamera->getPipeline();
    const ISPC::ModuleDPF *dpf = module<ISPC::ModuleDPF>();
    char name[96];
    if (dpf != nullptr && dpf->bWrite) {
        std::snprintf(name, sizeof(name), "ctx%d-%u-dpf_write_%u.dat", iContext, g_dpfSaves++,
                      shot.metadata.defectiveStats.ui32NOutCorrection);
        if (ISPC::Save::SingleDPF(pipeline, shot, name) != QOR_RES_OK)
            QOR_LOG_ERROR(kTag, "failed to save DPF write map.\n");
    }
    if (shot.ENS.size != 0) {
        const unsigned entries = shot.ENS.elementSize != 0 ? shot.ENS.size / shot.ENS.elementSize : 0;
        std::snprintf(name, sizeof(name), "ctx%d-%u-ens_%u.dat", iContext, g_ensSaves++, entries);
        if (ISPC::Save::SingleENS(pipeline, shot, name) != QOR_RES_OK)
            QOR_LOG_ERROR(kTag, "failed to save ENS output.\n");
    }
    if (shot.bFrameError)
        QOR_LOG_WARNING(kTag, "frame is erroneous!\n");
    if (shot.iMissedFrames != 0)
        QOR_LOG_WARNING(kTag, "missed %d frames!\n", shot.iMissedFrames);
}

void TestContext::saveRaw(const ISPC::Shot &shot) {
    if (pCamera == nullptr || pCamera->getPipeline() == nullptr)
        return;
    const unsigned scheme = pCamera->hwInfo.uiTiledScheme;
    const MOSAICType mosaic = pCamera->getPipeline()->getGlobalSetup().eSensor_bayer_format;
    const unsigned counter = g_rawSaves;
    auto write = [&](const ISPC::Buffer &b, const char *prefix, const char *extension, bool bayer, bool strideIfTiled,
                     const char *failure) {
        const unsigned lineBytes = lineBytesOf(b, strideIfTiled && b.isTiled, bayer, mosaic);
        const std::string file = rawName(prefix, iContext, counter, b, scheme, lineBytes, extension);
        if (saveRawBuffer(b, lineBytes, file) != 0)
            QOR_LOG_ERROR(kTag, failure, file.c_str());
    };
    if (shot.YUV.data != nullptr && shot.YUV.isTiled)
        write(shot.YUV, "encoder", ".yuv", false, true, "failed to open raw (tiled) YUV file: %s\n");
    if (shot.BAYER.data != nullptr)
        write(shot.BAYER, "dataExtraction", ".rggb", true, true, "failed to open raw DE file: %s\n");
    else if (shot.DISPLAY.data != nullptr)
        write(shot.DISPLAY, "display", ".rgb", false, true, "failed to open raw RGB file: %s\n");
    if (shot.HDREXT.data != nullptr)
        write(shot.HDREXT, "hdrExtraction", ".rgb", false, true, "failed to open raw HDR Extraction file: %s\n");
    if (shot.RAW2DEXT.data != nullptr)
        write(shot.RAW2DEXT, "raw2dExtraction", ".tiff", true, false, "failed to open raw Raw2D file: %s\n");
    g_rawSaves++;
}
