/*
 * ISP model, the per-frame driver: the sizes and neutral settings, the checks of the output layouts, the tables
 * and block settings of a frame, the row bands on the worker pool and the save structure. The stages are in
 * sim_isp_rows.cpp, sim_isp_stats.cpp and sim_isp_scale.cpp (see sim_isp_internal.h); conventions:
 * platform/isp-model.md.
 */
#include "platform/sim_isp_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "norvacommon/ci_alloc_info.h"
#include "norvacommon/userlog.h"
#include "platform/sim_worker_pool.h"
#include "sim_isp_internal.h"

namespace norva_sim {

using isp::kBlue;
using isp::kGreen;
using isp::kGrid;
using isp::kRed;

IspImageSizes IspOutputSizes(const CI_PIPELINE &registers, const CI_PIPE_INFO &info) {
    IspImageSizes s;
    s.windowWidth = (uint32_t(info.iifConfig.ui16ImagerSize[0]) + 1u) * 2u;
    s.windowHeight = (uint32_t(info.iifConfig.ui16ImagerSize[1]) + 1u) * 2u;
    const isp::Scaler enc = isp::ScalerOf(registers.sEncoderScaler, s.windowWidth, s.windowHeight);
    const isp::Scaler disp = isp::ScalerOf(registers.sDisplayScaler, s.windowWidth, s.windowHeight);
    s.encoderWidth = enc.outW;
    s.encoderHeight = enc.outH;
    s.displayWidth = disp.outW;
    s.displayHeight = disp.outH;
    return s;
}

void IspNeutralSettings(uint32_t width, uint32_t height, CI_PIPELINE *r, CI_PIPE_INFO *info) {
    std::memset(r, 0, sizeof(*r));
    std::memset(info, 0, sizeof(*info));
    const uint16_t cw = static_cast<uint16_t>(width / 2), ch = static_cast<uint16_t>(height / 2);
    CI_MODULE_IIF &iif = info->iifConfig;
    iif.eBayerFormat = MOSAIC_RGGB;
    iif.ui16ImagerSize[0] = static_cast<uint16_t>(cw - 1);
    iif.ui16ImagerSize[1] = static_cast<uint16_t>(ch - 1);
    info->config.eDataExtraction = CI_INOUT_NONE;
    info->config.eOutputConfig = CI_SAVE_EXS_GLOBAL | CI_SAVE_EXS_REGION | CI_SAVE_FOS_ROI | CI_SAVE_FOS_GRID |
                                 CI_SAVE_WHITEBALANCE | CI_SAVE_WHITEBALANCE_EXT | CI_SAVE_HIST_GLOBAL |
                                 CI_SAVE_HIST_REGION | CI_SAVE_FLICKER | CI_SAVE_TIMESTAMP;
    r->config = info->config;
    r->sImagerInterface = iif;

    for (int c = 0; c < 4; c++) {
        r->sWhiteBalance.aGain[c] = 1024;
        r->sWhiteBalance.aClip[c] = 8191;
    }
    r->sWhiteBalance.eRGBThresholdMode = WBC_THRESHOLD;
    for (int k = 0; k < 3; k++) {
        r->sWhiteBalance.aRGBGain[k] = 16;
        r->sWhiteBalance.aRGBThreshold[k] = 510;
        r->sColourCorrection.aCoeff[k][k] = 512;
    }
    for (CI_MODULE_GAMUTMAPPER *gm : {&r->sMainGamutMapper, &r->sDisplayGamutMapper}) {
        gm->i16ClipMin = -512;
        gm->ui16ClipMax = 1536;
        gm->ui16SrcNorm = 1024;
        gm->aSlope[0] = gm->aSlope[1] = 1024;
    }
    // BT.709, limited range, hardware chroma order (Cr, Y, Cb)
    static const double r2y[3][3] = {{0.439, -0.399, -0.040}, {0.183, 0.614, 0.062}, {-0.101, -0.338, 0.439}};
    static const double y2r[3][3] = {{1.5748 * 255.0 / 224.0, 255.0 / 219.0, 0.0},
                                     {-0.4681 * 255.0 / 224.0, 255.0 / 219.0, -0.1873 * 255.0 / 224.0},
                                     {0.0, 255.0 / 219.0, 1.8556 * 255.0 / 224.0}};
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            r->sRGBToYCC.aCoeff[i][j] = static_cast<QOR_INT16>(std::lround(r2y[i][j] * 1024.0));
            r->sYCCToRGB.aCoeff[i][j] = static_cast<QOR_INT16>(std::lround(y2r[i][j] * 512.0));
        }
    }
    r->sRGBToYCC.aOffset[1] = 16 * 4;
    r->sYCCToRGB.aOffset[0] = -128 * 4;
    r->sYCCToRGB.aOffset[1] = -16 * 4;
    r->sYCCToRGB.aOffset[2] = -128 * 4;
    for (int i = 0; i < 63; i++) {
        r->sToneMapping.aCurve[i] = static_cast<QOR_UINT16>((i + 1) * 32);
    }
    // tone mapper keeping every value: the span 64…192 of its input levels onto 0…256, chroma in/out 2.0
    CI_MODULE_TNM &tnm = r->sToneMapping;
    tnm.inputLumaOffset = 64 * 16;
    tnm.inputLumaScale = 2 * 4096;
    tnm.outputLumaScale = 4096;
    tnm.chromaIOScale = 2 * 16384;
    tnm.chromaSaturationScale = 256;
    tnm.chromaConfigurationScale = 1024;
    r->sEncoderScaler.bBypassScaler = 1;
    r->sDisplayScaler.bBypassScaler = 1;
    r->sDisplayScaler.bIsDisplay = 1;

    CI_PIPELINE_STATS &st = r->stats;
    st.sExposureStats.ui16Width = static_cast<QOR_UINT16>(width / kGrid);
    st.sExposureStats.ui16Height = static_cast<QOR_UINT16>(height / kGrid);
    st.sExposureStats.ui16PixelMax = 4095;
    st.sFocusStats.ui16Width = static_cast<QOR_UINT16>(width / kGrid);
    st.sFocusStats.ui16Height = static_cast<QOR_UINT16>(height / kGrid);
    st.sFocusStats.ui16ROIRight = static_cast<QOR_UINT16>(width - 1);
    st.sFocusStats.ui16ROIBottom = static_cast<QOR_UINT16>(height - 1);
    st.sWhiteBalanceStats.aRoiRight[0] = static_cast<QOR_UINT16>(width - 1);
    st.sWhiteBalanceStats.aRoiBottom[0] = static_cast<QOR_UINT16>(height - 1);
    st.sWhiteBalanceStats.aRMax[0] = st.sWhiteBalanceStats.aGMax[0] = st.sWhiteBalanceStats.aBMax[0] = 1843;
    st.sWhiteBalanceStats.aYMax[0] = 1843;
    CI_MODULE_AWS &aws = st.sAutoWhiteBalanceStats;
    aws.bEnable = 1;
    aws.ui16RedClipThresh = aws.ui16GreenClipThresh = aws.ui16BlueClipThresh = 255 * 256;
    aws.ui16GridTileWidth = static_cast<QOR_UINT16>(cw / kGrid - 1);
    aws.ui16GridTileHeight = static_cast<QOR_UINT16>(ch / kGrid - 1);
    st.sHistStats.ui16InputOffset = 256;
    st.sHistStats.ui16InputScale = 32767;
    st.sHistStats.ui16Width = static_cast<QOR_UINT16>(width / kGrid);
    st.sHistStats.ui16Height = static_cast<QOR_UINT16>(height / kGrid);
}

namespace isp {

Kernels SelectKernels() {
    Kernels k{};
    bool avx2 = false;
#if NORVA_ISP_AVX2
    const char *baseline = std::getenv("NORVA_SIM_BASELINE");
    avx2 = __builtin_cpu_supports("avx2") && (baseline == nullptr || std::strcmp(baseline, "1") != 0);
#endif
    RowKernels(&k, avx2);
    StatsKernels(&k, avx2);
    ScaleKernels(&k, avx2);
    ToneKernels(&k, avx2);
    return k;
}

} // namespace isp

IspModel::IspModel() : m_impl(new Impl) { m_impl->k = isp::SelectKernels(); }
IspModel::~IspModel() { delete m_impl; }

void IspModel::setWorkers(SimWorkerPool *workers) { m_impl->workers = workers; }

namespace {

using isp::Band;
using isp::FrameContext;

/** Columns [first, end) of each tile of a 7-tile grid that start inside n columns; returns their number. */
int gridRanges(uint32_t range[kGrid][2], uint32_t n, uint32_t start, uint32_t tile) {
    int count = 0;
    for (uint32_t t = 0; tile != 0 && t < uint32_t(kGrid) && start + uint64_t(t) * tile < n; t++, count++) {
        range[t][0] = start + t * tile;
        range[t][1] = uint32_t(std::min<uint64_t>(n, start + uint64_t(t + 1) * tile));
    }
    return count;
}

template <typename T> void atLeast(std::vector<T> &v, size_t n) {
    if (v.size() < n) {
        v.resize(n);
    }
}

/** Scratch of a band for a frame (grows only). */
/**
 * The defect write map (the bands' entries in band order, as many as the area holds, the rest zeroed) and the
 * counters of the save structure: corrected pixels, map entries produced, entries dropped past the area's end.
 */
void writeDefects(const Band *bands, unsigned nBands, const IspFrameOutputs &outputs) {
    uint32_t fixed = 0, produced = 0;
    const size_t capacity = outputs.defectOutput != nullptr ? outputs.defectOutputSize / 8 : 0;
    size_t written = 0;
    for (unsigned i = 0; i < nBands; i++) {
        fixed += bands[i].dpfFixed;
        for (const uint64_t e : bands[i].dpfEntries) {
            produced++;
            if (written < capacity) {
                for (int k = 0; k < 8; k++) {
                    outputs.defectOutput[8 * written + k] = static_cast<uint8_t>(e >> (8 * k));
                }
                written++;
            }
        }
    }
    if (outputs.defectOutput != nullptr) {
        std::memset(outputs.defectOutput + 8 * written, 0, outputs.defectOutputSize - 8 * written);
    }
    if (outputs.statistics != nullptr) {
        const uint32_t words[3] = {fixed, produced, produced - uint32_t(written)};
        for (int w = 0; w < 3; w++) {
            for (int k = 0; k < 4; k++) {
                outputs.statistics[stats_layout::kDpfCounters + 4 * w + k] = static_cast<uint8_t>(words[w] >> (8 * k));
            }
        }
    }
}

void sizeBand(Band &b, const FrameContext &f, uint32_t maxOut, uint32_t vw, bool scaled) {
    const size_t W = f.W;
    for (auto *v : {&b.raw, &b.pre, &b.awsTop, &b.hisLuma, &b.fosSharp}) {
        atLeast(*v, W);
    }
    for (auto *v : {&b.o0, &b.o1, &b.o2, &b.subC0, &b.subC2}) {
        atLeast(*v, maxOut);
    }
    for (int k = 0; k < 2; k++) {
        for (auto *v : {&b.sY[k], &b.sC0[k], &b.sC2[k]}) {
            atLeast(*v, maxOut);
        }
    }
    atLeast(b.rowGain, W);
    atLeast(b.shaRow, W + 4);
    atLeast(b.enhRows, 8 * W);
    atLeast(b.tnmEntry, W);
    atLeast(b.awsIndex, 3 * (W / 2));
    atLeast(b.tnmLocal, W);
    for (auto &r : b.ring) {
        atLeast(r, W + 4);
    }
    for (auto *v : {&b.R, &b.G, &b.B}) {
        atLeast(*v, W);
    }
    for (auto *v : {&b.r12, &b.g12, &b.b12, &b.dR, &b.dG, &b.dB}) {
        atLeast(*v, W);
    }
    for (auto *v : {&b.Y, &b.C0, &b.C2}) {
        atLeast(*v, W * f.planeRows + 16); /* the vector scaler loads up to 16 values from a row's start column */
    }
    if (scaled) {
        atLeast(b.scaleRow, 3 * W);
    }
    for (auto &r : b.lshRow) {
        atLeast(r, vw);
    }
}

/**
 * Window rows and output rows of each band: the bands share the window rows evenly; an output row (for the
 * encoder, a group of rows whose chroma is averaged) belongs to the band of the first window row it samples, and
 * its band computes the window rows up to the last row it samples.
 */
void divideRows(std::vector<Band> &bands, unsigned n, const FrameContext &f, bool enc, bool disp) {
    const uint32_t H = f.H;
    for (unsigned i = 0; i < n; i++) {
        Band &b = bands[i];
        b.y0 = uint32_t(uint64_t(H) * i / n);
        b.y1 = uint32_t(uint64_t(H) * (i + 1) / n);
        b.yEnd = b.y1;
        b.encNext = b.encEnd = b.dispNext = b.dispEnd = 0;
        b.error = false;
    }
    if (enc) {
        const isp::Scaler &sc = f.encSc;
        const uint32_t vsub = f.encType.ui8VSubsampling == 2 ? 2u : 1u;
        unsigned i = 0;
        uint32_t oy = 0;
        for (; i < n; i++) {
            Band &b = bands[i];
            b.encNext = oy;
            for (; oy < sc.outH && isp::FirstSourceRow(sc, oy, H) < b.y1; oy += vsub) {
                const uint32_t last = isp::LastSourceRow(sc, std::min(oy + vsub - 1, sc.outH - 1), H);
                b.yEnd = std::max(b.yEnd, last + 1);
            }
            b.encEnd = oy;
        }
    }
    if (disp) {
        const isp::Scaler &sc = f.dispSc;
        uint32_t oy = 0;
        for (unsigned i = 0; i < n; i++) {
            Band &b = bands[i];
            b.dispNext = oy;
            for (; oy < sc.outH && isp::FirstSourceRow(sc, oy, H) < b.y1; oy++) {
                b.yEnd = std::max(b.yEnd, isp::LastSourceRow(sc, oy, H) + 1);
            }
            b.dispEnd = oy;
        }
    }
}

/**
 * The rows of one band: the white-balanced Bayer rows from one above the band to one below its last computed
 * row live in the ring (rows outside the window mirror row 1 and H-2), then per row the demosaic, colour,
 * tone and the outputs whose window rows are ready. Statistics and taps count the band's own rows only.
 */
void processBand(const IspModel::Impl &m, const FrameContext &f, Band &b) {
    const uint32_t H = f.H;
    const bool fos = (f.eOutput & (CI_SAVE_FOS_ROI | CI_SAVE_FOS_GRID)) != 0;
    const uint32_t y0 = b.y0, y1 = b.y1, yEnd = b.yEnd;
    if (y0 >= yEnd) {
        return;
    }
    auto ring = [&b](uint32_t y) { return b.ring[y % 3].data(); };
    // with the chromatic aberration block on, the Bayer rows (and their taps) were made before: resample them
    auto bayerRow = [&](uint32_t y, bool own, uint16_t *dst) {
        if (f.lca) {
            isp::LcaRow(m, f, y, dst);
        } else {
            isp::BayerRow(m, f, b, y, own, dst);
        }
    };
    if (y0 > 0) {
        bayerRow(y0 - 1, false, ring(y0 - 1));
    }
    bayerRow(y0, y0 < y1, ring(y0));
    if (y0 + 1 < H) {
        bayerRow(y0 + 1, y0 + 1 < y1, ring(y0 + 1));
    }
    const uint32_t lastBayer = std::min(yEnd, H - 1);
    for (uint32_t y = y0; y < yEnd; y++) {
        const bool own = y < y1;
        const uint16_t *cur = ring(y) + 2;
        const uint16_t *up = (y == 0 ? ring(H > 1 ? 1 : 0) : ring(y - 1)) + 2;
        const uint16_t *dn = up;
        if (y + 1 < H) {
            dn = ring(y + 1) + 2;
        } else if (y >= 1) {
            dn = ring(y - 1) + 2;
        }
        if (y == 0 && H > 1) {
            up = dn;
        }
        isp::DemosaicRow(m, f, b, y, up, cur, dn);
        if (own && fos) {
            isp::FocusRow(m, f, b, y, cur, dn);
        }
        isp::ColourRow(m, f, b);
        isp::ToneRow(m, f, b, y, own);
        // the scalers take their rows while the window rows they sample are still in the cache
        isp::EncoderRows(m, f, b, y);
        isp::DisplayRows(m, f, b, y);
        if (y + 2 <= lastBayer) {
            bayerRow(y + 2, y + 2 < y1, ring(y + 2));
        }
    }
}

struct BandJob {
    const IspModel::Impl *m;
    const FrameContext *f;
    Band *bands;
};

void runBand(void *context, unsigned index) {
    const BandJob &job = *static_cast<const BandJob *>(context);
    processBand(*job.m, *job.f, job.bands[index]);
}

void runLcaBand(void *context, unsigned index) {
    const BandJob &job = *static_cast<const BandJob *>(context);
    isp::LcaBayerRows(*job.m, *job.f, job.bands[index]);
}

} // namespace

QOR_RESULT IspModel::process(const IspInputFrame &input, const IspFrameSettings &settings,
                             const IspFrameOutputs &outputs, IspFrameResult *result) {
    Impl &m = *m_impl;
    using isp::kTag;
    if (settings.registers == nullptr || settings.info == nullptr || input.samples == nullptr || input.bitDepth < 1 ||
        input.bitDepth > 16 || settings.gamma == nullptr) {
        QOR_LOG_ERROR(kTag, "missing register image, gamma curve or input frame\n");
        return QOR_RES_INVALID_PARAM;
    }
    const CI_PIPELINE &reg = *settings.registers;
    const CI_PIPE_INFO &info = *settings.info;
    FrameContext f{};
    f.settings = &settings;
    f.in = &input;
    f.reg = &reg;
    f.info = &info;
    f.depth = input.bitDepth;
    f.inStride = input.rowStride != 0 ? input.rowStride : input.width;
    const IspImageSizes sizes = IspOutputSizes(reg, info);
    f.W = sizes.windowWidth;
    f.H = sizes.windowHeight;
    if (f.W < 4 || f.H < 2 || sizes.encoderWidth < 2 || sizes.displayWidth < 2) {
        QOR_LOG_ERROR(kTag, "imager window %ux%u too small\n", f.W, f.H);
        return QOR_RES_INVALID_PARAM;
    }
    // imager window in cells of 2×2 pixels, decimation keeps one cell in (value + 1)
    f.offX = 2u * info.iifConfig.ui16ImagerOffset[0];
    f.offY = 2u * info.iifConfig.ui16ImagerOffset[1];
    f.decX = 2u * (uint32_t(info.iifConfig.ui16ImagerDecimation[0]) + 1u);
    f.decY = 2u * (uint32_t(info.iifConfig.ui16ImagerDecimation[1]) + 1u);
    isp::CellColours(info.iifConfig.eBayerFormat, f.colour);
    f.eOutput = info.config.eOutputConfig;

    // one band per thread, at most one per window row
    const unsigned nBands = std::max(1u, std::min<unsigned>(m.workers != nullptr ? m.workers->threads() : 1u, f.H));
    if (m.bands.size() < nBands) {
        m.bands.resize(nBands);
    }
    Band &b0 = m.bands[0];
    for (isp::PlaneWriter *w : {&b0.deWriter, &b0.rawWriter, &b0.hdrWriter, &b0.encY, &b0.encC, &b0.disp}) {
        *w = isp::PlaneWriter();
    }
    // ---- outputs: check every layout before anything is written
    const CI_PIPELINE_CONFIG &cfg = info.config;
    if (outputs.encoder.data != nullptr && cfg.eEncType.eFmt != PXL_NONE) {
        if (PixelTransformYUV(&f.encType, cfg.eEncType.eFmt) != QOR_RES_OK ||
            PixelFormatIsPackedYcc(cfg.eEncType.eFmt)) {
            QOR_LOG_ERROR(kTag, "encoder format %d is not semi-planar YUV\n", int(cfg.eEncType.eFmt));
            return QOR_RES_INVALID_PARAM;
        }
        const IspOutputBuffer &b = outputs.encoder;
        uint32_t stride = b.stride, cstride = b.chromaStride, rowsAlloc = sizes.encoderHeight;
        if (stride == 0 || cstride == 0) {
            CI_TILINGINFO ti{};
            const bool tiled = b.tileStride != 0 && CI_ALLOC_GetTileInfo(b.tileStride, &ti) == QOR_RES_OK;
            CI_SIZEINFO si{};
            if (CI_ALLOC_YUVSizeInfo(&f.encType, sizes.encoderWidth, sizes.encoderHeight, tiled ? &ti : nullptr, &si) !=
                QOR_RES_OK) {
                return QOR_RES_INVALID_PARAM;
            }
            stride = stride != 0 ? stride : si.ui32Stride;
            cstride = cstride != 0 ? cstride : si.ui32CStride;
            rowsAlloc = si.ui32Height;
        }
        // an odd 4:2:0 height still gets a chroma row for its last luma row
        const uint32_t vsub = f.encType.ui8VSubsampling == 2 ? 2u : 1u;
        const uint32_t cRows = (sizes.encoderHeight + vsub - 1) / vsub;
        const size_t coff = b.chromaOffset != 0 ? b.chromaOffset : size_t(b.offset) + size_t(stride) * rowsAlloc;
        if (!b0.encY.setup(b, b.offset, stride, sizes.encoderHeight, isp::PackedRowBytes(f.encType, sizes.encoderWidth),
                           &b0.tileScratch) ||
            !b0.encC.setup(b, coff, cstride, cRows, isp::PackedRowBytes(f.encType, sizes.encoderWidth),
                           &b0.tileScratch)) {
            QOR_LOG_ERROR(kTag, "encoder buffer too small for %ux%u\n", sizes.encoderWidth, sizes.encoderHeight);
            return QOR_RES_INVALID_PARAM;
        }
    }
    f.deDisplay = false;
    if (outputs.display.data != nullptr && cfg.eDispType.eFmt != PXL_NONE) {
        const IspOutputBuffer &b = outputs.display;
        const bool bayer = cfg.eDispType.eFmt >= BAYER_RGGB_8 && cfg.eDispType.eFmt <= BAYER_TIFF_12;
        QOR_RESULT ok = bayer ? PixelTransformBayer(&f.dispType, cfg.eDispType.eFmt, info.iifConfig.eBayerFormat)
                              : PixelTransformDisplay(&f.dispType, cfg.eDispType.eFmt);
        const bool point =
            cfg.eDataExtraction == CI_INOUT_BLACK_LEVEL || cfg.eDataExtraction == CI_INOUT_FILTER_LINESTORE;
        if (ok != QOR_RES_OK || (bayer && !point)) {
            QOR_LOG_ERROR(kTag, "display format %d cannot be written\n", int(cfg.eDispType.eFmt));
            return QOR_RES_INVALID_PARAM;
        }
        const uint32_t w = bayer ? f.W : sizes.displayWidth, h = bayer ? f.H : sizes.displayHeight;
        uint32_t stride = b.stride;
        if (stride == 0) {
            CI_TILINGINFO ti{};
            const bool tiled = b.tileStride != 0 && CI_ALLOC_GetTileInfo(b.tileStride, &ti) == QOR_RES_OK;
            CI_SIZEINFO si{};
            const QOR_RESULT r = bayer ? CI_ALLOC_Raw2DSizeInfo(&f.dispType, w, h, nullptr, &si)
                                       : (PixelFormatIsPackedYcc(cfg.eDispType.eFmt)
                                              ? CI_ALLOC_YUVSizeInfo(&f.dispType, w, h, tiled ? &ti : nullptr, &si)
                                              : CI_ALLOC_RGBSizeInfo(&f.dispType, w, h, tiled ? &ti : nullptr, &si));
            if (r != QOR_RES_OK) {
                return QOR_RES_INVALID_PARAM;
            }
            stride = si.ui32Stride;
        }
        isp::PlaneWriter &wr = bayer ? b0.deWriter : b0.disp;
        if (!wr.setup(b, b.offset, stride, h, isp::PackedRowBytes(f.dispType, w), &b0.tileScratch)) {
            QOR_LOG_ERROR(kTag, "display buffer too small for %ux%u\n", w, h);
            return QOR_RES_INVALID_PARAM;
        }
        f.deDisplay = bayer;
        f.dePoint = cfg.eDataExtraction;
    }
    if (outputs.hdrExtraction.data != nullptr && cfg.eHDRExtType.eFmt != PXL_NONE) {
        const IspOutputBuffer &b = outputs.hdrExtraction;
        if (PixelTransformRGB(&f.hdrType, cfg.eHDRExtType.eFmt) != QOR_RES_OK) {
            return QOR_RES_INVALID_PARAM;
        }
        const size_t rowBytes = isp::PackedRowBytes(f.hdrType, f.W);
        const uint32_t stride = b.stride != 0 ? b.stride : static_cast<uint32_t>((rowBytes + 63) / 64 * 64);
        if (!b0.hdrWriter.setup(b, b.offset, stride, f.H, rowBytes, &b0.tileScratch)) {
            return QOR_RES_INVALID_PARAM;
        }
    }
    if (outputs.raw2D.data != nullptr && cfg.eRaw2DExtraction.eFmt != PXL_NONE) {
        const IspOutputBuffer &b = outputs.raw2D;
        if (PixelTransformBayer(&f.rawType, cfg.eRaw2DExtraction.eFmt, info.iifConfig.eBayerFormat) != QOR_RES_OK ||
            b.tileStride != 0) {
            return QOR_RES_INVALID_PARAM;
        }
        const size_t rowBytes = isp::PackedRowBytes(f.rawType, f.W);
        const uint32_t stride = b.stride != 0 ? b.stride : static_cast<uint32_t>(rowBytes);
        if (!b0.rawWriter.setup(b, b.offset, stride, f.H, rowBytes, &b0.tileScratch)) {
            return QOR_RES_INVALID_PARAM;
        }
    }

    // ---- tables
    if (isp::BuildFrontLut(m, reg, f.depth)) {
        m_tableBuilds++;
    }
    if (isp::BuildGammaLut(m, *settings.gamma, reg.sGammaCorrection.bBypass != 0)) {
        m_tableBuilds++;
    }
    if (isp::BuildToneLut(m, reg.sToneMapping)) {
        m_tableBuilds++;
    }
    if (isp::BuildEnhancer(m.enh, reg.sImageEnhancer, reg.sSharpening)) {
        m_tableBuilds++;
    }
    isp::BuildAwsLog(m);
    if (m.lshCx.size() != f.W) {
        m.lshCx.resize(f.W);
        for (uint32_t x = 0; x < f.W; x++) {
            m.lshCx[x] = (float(x) - float(f.W) / 2.0f) / (float(f.W) / 2.0f);
        }
    }
    f.lsh = settings.lshMatrix != nullptr;
    if (f.lsh && !isp::DecodeShading(m, settings, f.W)) {
        QOR_LOG_ERROR(kTag, "lens-shading matrix does not fit its configuration\n");
        return QOR_RES_INVALID_PARAM;
    }

    // ---- block settings
    f.wbIdentity = true;
    for (int c = 0; c < 4; c++) {
        const int k = isp::ColourOrderChannel(info.iifConfig.eBayerFormat, c);
        f.wbGain[c] = reg.sWhiteBalance.aGain[k];
        // U9.4 with 256.0 (4096) at the sensor's full scale, that is clip × 16 on the 16-bit scale: a clip of 1.0
        // or more keeps every sample, so only levels below 1.0 clip
        const uint32_t clip = reg.sWhiteBalance.aClip[k];
        f.wbClip[c] = clip >= 4096u ? 65535 : int32_t(clip * 16u);
        f.wbIdentity = f.wbIdentity && f.wbGain[c] == 1024 && f.wbClip[c] == 65535;
    }
    const CI_PIPELINE_STATS &st = reg.stats;
    f.exs = (f.eOutput & (CI_SAVE_EXS_GLOBAL | CI_SAVE_EXS_REGION)) != 0;
    {
        // a sample is clipped when it reaches the pixel maximum on the 12-bit scale: deeper samples keep their top
        // 12 bits, shallower ones are stretched to full scale (v × 4095 / max, rounded)
        const uint32_t pm = st.sExposureStats.ui16PixelMax;
        if (f.depth >= 12) {
            f.exsThreshold = pm << (f.depth - 12);
        } else {
            const uint32_t maxv = (1u << f.depth) - 1u;
            uint32_t t = uint32_t(uint64_t(pm) * maxv / 4095u);
            t = t > 0 ? t - 1 : 0;
            while (t <= maxv && (t * 4095u + maxv / 2) / maxv < pm) {
                t++;
            }
            f.exsThreshold = t;
        }
    }
    f.aws = (f.eOutput & CI_SAVE_WHITEBALANCE_EXT) != 0;
    {
        const CI_MODULE_AWS &a = st.sAutoWhiteBalanceStats;
        f.awsStartX = a.ui16GridStartColumn;
        f.awsStartY = a.ui16GridStartRow;
        f.awsTileW = uint32_t(a.ui16GridTileWidth) + 1u;
        f.awsTileH = uint32_t(a.ui16GridTileHeight) + 1u;
        f.awsDark[kRed] = a.ui16RedDarkThresh, f.awsDark[kGreen] = a.ui16GreenDarkThresh,
        f.awsDark[kBlue] = a.ui16BlueDarkThresh;
        f.awsClipT[kRed] = a.ui16RedClipThresh, f.awsClipT[kGreen] = a.ui16GreenClipThresh,
        f.awsClipT[kBlue] = a.ui16BlueClipThresh;
        isp::PrepareAwsFilter(f, reg, info);
    }

    // ---- defective pixels: detection from the registers, read and write maps from the pipeline information
    {
        const CI_MODULE_DPF &d = reg.sDefectivePixels;
        const uint8_t bits = info.dpfConfig.eDPFEnable;
        f.dpfDetect = (d.eDPFEnable & CI_DPF_DETECT_ENABLED) != 0;
        f.dpfWrite = f.dpfDetect && (bits & CI_DPF_WRITE_MAP_ENABLED) != 0;
        f.dpfRead = (bits & CI_DPF_READ_MAP_ENABLED) != 0 && settings.defectMap != nullptr && settings.defectCount > 0;
        f.dpfThreshold =
            f.depth >= 8 ? int32_t(d.ui8Threshold) << (f.depth - 8) : int32_t(d.ui8Threshold) >> (8 - f.depth);
        f.dpfWeight = d.ui8Weight;
    }

    // ---- scalers, grids and bands
    {
        const int32_t hoff = int32_t(st.sHistStats.ui16InputOffset) - 256, hscale = st.sHistStats.ui16InputScale;
        m.hisIdentity = true;
        for (int32_t v = 0; v < 1024; v++) {
            m.hisMap[v] =
                static_cast<uint16_t>(isp::clampi(int32_t((int64_t(v + hoff) * hscale + 16384) >> 15), 0, 1023));
            m.hisIdentity = m.hisIdentity && m.hisMap[v] == v;
        }
    }
    m.exsTiles = gridRanges(m.exsRange, f.W, st.sExposureStats.ui16Left, st.sExposureStats.ui16Width);
    m.hisTiles = gridRanges(m.hisRange, f.W, st.sHistStats.ui16Left, st.sHistStats.ui16Width);
    m.fosTiles = gridRanges(m.fosRange, f.W, st.sFocusStats.ui16Left, st.sFocusStats.ui16Width);

    const bool enc = b0.encY.active(), disp = b0.disp.active();
    f.encSc = isp::ScalerOf(reg.sEncoderScaler, f.W, f.H);
    f.dispSc = isp::ScalerOf(reg.sDisplayScaler, f.W, f.H);
    if (enc) {
        isp::PrepareTable(m.encTable, f.encSc, f.W);
    }
    if (disp) {
        isp::PrepareTable(m.dispTable, f.dispSc, f.W);
    }
    f.planeRows = isp::PlaneRowsNeeded(f, enc, disp);
    const uint32_t maxOut = std::max({f.W, sizes.encoderWidth, sizes.displayWidth});
    const bool scaled = (enc && !f.encSc.identity) || (disp && !f.dispSc.identity);
    const uint32_t vw = f.lsh ? settings.lshConfig.ui16Width : 0u;
    divideRows(m.bands, nBands, f, enc, disp);
    for (unsigned i = 0; i < nBands; i++) {
        Band &b = m.bands[i];
        sizeBand(b, f, maxOut, vw, scaled);
        b.acc.clear();
        if (f.dpfDetect || f.dpfRead) {
            for (auto *v : {&b.dpfUp, &b.dpfDn, &b.dpfCur}) {
                atLeast(*v, f.W);
            }
            atLeast(b.dpfMark, f.W);
        }
        b.dpfFixed = 0;
        b.dpfEntries.clear();
        if (i > 0) {
            // the same outputs, with the band's own scratch row for tiled layouts
            isp::PlaneWriter Band::*const writers[] = {&Band::deWriter, &Band::rawWriter, &Band::hdrWriter,
                                                       &Band::encY,     &Band::encC,      &Band::disp};
            for (auto w : writers) {
                b.*w = b0.*w;
                (b.*w).useScratch(&b.tileScratch);
            }
        }
    }

    isp::PrepareEncoderStats(f, outputs, enc, m.bands.data(), nBands);

    BandJob job{&m, &f, m.bands.data()};
    if (isp::PrepareLca(m, f)) {
        if (nBands == 1 || m.workers == nullptr) {
            for (unsigned i = 0; i < nBands; i++) {
                runLcaBand(&job, i);
            }
        } else {
            m.workers->run(nBands, runLcaBand, &job);
        }
    }
    if (nBands == 1 || m.workers == nullptr) {
        for (unsigned i = 0; i < nBands; i++) {
            runBand(&job, i);
        }
    } else {
        m.workers->run(nBands, runBand, &job);
    }
    // the sums of the bands, in band order
    m.total.clear();
    bool error = false;
    for (unsigned i = 0; i < nBands; i++) {
        m.total.add(m.bands[i].acc);
        error = error || m.bands[i].error;
    }
    if (outputs.statistics != nullptr) {
        isp::WriteStatistics(m.total, f, error, settings.privateValue, m_flicker, outputs.statistics);
    }
    writeDefects(m.bands.data(), nBands, outputs);
    isp::WriteEncoderStats(f, m.bands.data(), nBands, outputs);
    if (result != nullptr) {
        result->sizes = sizes;
        result->frameError = error;
    }
    return QOR_RES_OK;
}

} // namespace norva_sim
