#include "support/stats_synth.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "ispc/ModuleFLD.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleHIS.h"
#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"

namespace norva_test {
namespace {

constexpr unsigned kLevels = 65535; // the linear value is quantised to 16 bits before the gamma
constexpr int kGrid = 7;

/** Luma codes of the 16-bit linear values: 1023 x v^(1/2.2), rounded. */
const std::vector<uint16_t> &gammaTable() {
    static const std::vector<uint16_t> table = [] {
        std::vector<uint16_t> t(kLevels + 1);
        for (unsigned q = 0; q <= kLevels; q++) {
            t[q] = static_cast<uint16_t>(std::lround(1023.0 * std::pow(double(q) / kLevels, 1.0 / 2.2)));
        }
        return t;
    }();
    return table;
}

double scaleOf(const SynthState &s) {
    const double f2 = s.fNumber * s.fNumber;
    return f2 > 0 ? s.exposureUs * s.gain / f2 : 0.0;
}

unsigned quantised(double v) {
    if (!(v > 0)) {
        return 0; // also NaN
    }
    return v >= 1.0 ? kLevels : static_cast<unsigned>(std::lround(v * kLevels));
}

/** Pixels [first, end) of tile t of a grid along an axis of n pixels; false when the tile lies outside. */
bool tileSpan(unsigned n, unsigned start, unsigned tile, int t, unsigned &first, unsigned &end) {
    const uint64_t a = uint64_t(start) + uint64_t(t) * tile;
    if (tile == 0 || a >= n) {
        return false;
    }
    first = unsigned(a);
    end = unsigned(std::min<uint64_t>(n, a + tile));
    return true;
}

QOR_UINT32 saturated(double v) { return v >= 4294967295.0 ? 0xFFFFFFFFu : v > 0 ? QOR_UINT32(v + 0.5) : 0u; }

QOR_UINT16 clip16(unsigned v) { return QOR_UINT16(std::min(v, 65535u)); }

} // namespace

SynthScene SynthScene::Flat(unsigned width, unsigned height, double luminance) {
    SynthScene s;
    s.width = width;
    s.height = height;
    s.luminance.assign(size_t(width) * height, float(luminance));
    return s;
}

SynthScene SynthScene::TwoLevel(unsigned width, unsigned height, unsigned split, double left, double right) {
    SynthScene s = Flat(width, height, right);
    for (unsigned y = 0; y < height; y++) {
        std::fill_n(s.luminance.begin() + ptrdiff_t(size_t(y) * width), std::min(split, width), float(left));
    }
    return s;
}

SynthScene SynthScene::Chart(unsigned width, unsigned height, double low, double high) {
    SynthScene s = Flat(width, height, low);
    constexpr unsigned kCols = 8, kRows = 6;
    for (unsigned y = 0; y < height; y++) {
        for (unsigned x = 0; x < width; x++) {
            const unsigned patch = (y * kRows / height) * kCols + x * kCols / width;
            s.luminance[size_t(y) * width + x] = float(low * std::pow(high / low, double(patch) / (kCols * kRows - 1)));
        }
    }
    return s;
}

SynthState SynthStateOf(const ISPC::Pipeline &pipeline) {
    SynthState s;
    s.hisGlobal = s.hisRegion = s.fosRoi = s.fosGrid = s.fldEnabled = false;
    if (const auto *his = dynamic_cast<const ISPC::ModuleHIS *>(pipeline.getModule(ISPC::STP_HIS))) {
        s.hisGlobal = his->bEnableGlobal;
        s.hisRegion = his->bEnableROI;
        s.hisLeft = his->aGridStartCoord[0];
        s.hisTop = his->aGridStartCoord[1];
        s.hisTileW = his->aGridTileSize[0];
        s.hisTileH = his->aGridTileSize[1];
    }
    if (const auto *fos = dynamic_cast<const ISPC::ModuleFOS *>(pipeline.getModule(ISPC::STP_FOS))) {
        s.fosRoi = fos->bEnableROI;
        s.fosGrid = fos->bEnableGrid;
        s.roiLeft = fos->aRoiStartCoord[0];
        s.roiTop = fos->aRoiStartCoord[1];
        s.roiRight = fos->aRoiEndCoord[0];
        s.roiBottom = fos->aRoiEndCoord[1];
        s.fosLeft = fos->aGridStartCoord[0];
        s.fosTop = fos->aGridStartCoord[1];
        s.fosTileW = fos->aGridTileSize[0];
        s.fosTileH = fos->aGridTileSize[1];
    }
    if (const auto *fld = dynamic_cast<const ISPC::ModuleFLD *>(pipeline.getModule(ISPC::STP_FLD))) {
        s.fldEnabled = fld->bEnable;
    }
    if (const ISPC::Sensor *sensor = pipeline.getSensor()) {
        s.exposureUs = double(sensor->getExposure());
        s.gain = sensor->getGain();
        s.focus = sensor->getFocusDistance();
    }
    return s;
}

unsigned StatsSynth::lumaCode(double luminance, const SynthState &state) {
    return gammaTable()[quantised(luminance * scaleOf(state))];
}

void StatsSynth::frame(const SynthScene &scene, const SynthState &state, ISPC::Metadata &md) {
    const unsigned W = scene.width, H = scene.height;
    const size_t n = size_t(W) * H;
    const bool haveScene = scene.luminance.size() >= n;
    const std::vector<uint16_t> &table = gammaTable();
    const double k = scaleOf(state);

    md.histogramStats = MC_STATS_HIS{};
    md.focusStats = MC_STATS_FOS{};
    md.flickerStats = MC_STATS_FLD{};

    // histograms: the codes once, then the global bins over every pixel and the regional bins per tile
    if (codes_.size() < n) {
        codes_.resize(n);
    }
    for (size_t i = 0; i < n; i++) {
        codes_[i] = haveScene ? table[quantised(scene.luminance[i] * k)] : 0;
    }
    if (state.hisGlobal) {
        for (size_t i = 0; i < n; i++) {
            md.histogramStats.globalHistogram[codes_[i] >> 4]++;
        }
    }
    if (state.hisRegion) {
        for (int r = 0; r < kGrid; r++) {
            unsigned y0, y1;
            if (!tileSpan(H, state.hisTop, state.hisTileH, r, y0, y1)) {
                continue;
            }
            for (int c = 0; c < kGrid; c++) {
                unsigned x0, x1;
                if (!tileSpan(W, state.hisLeft, state.hisTileW, c, x0, x1)) {
                    continue;
                }
                QOR_UINT32 *bins = md.histogramStats.regionHistograms[r][c];
                for (unsigned y = y0; y < y1; y++) {
                    const uint16_t *row = codes_.data() + size_t(y) * W;
                    for (unsigned x = x0; x < x1; x++) {
                        bins[row[x] >> 6]++;
                    }
                }
            }
        }
    }

    // focus: the texture as much as the lens keeps it, over the pixels of each area
    const double off = scene.focusWidth > 0 ? (double(state.focus) - scene.inFocus) / scene.focusWidth : 0.0;
    const double perPixel = scene.texture / (1.0 + off * off);
    if (state.fosRoi && state.roiLeft < W && state.roiTop < H && state.roiRight >= state.roiLeft &&
        state.roiBottom >= state.roiTop) {
        const double w = std::min(state.roiRight, W - 1) - state.roiLeft + 1.0;
        const double h = std::min(state.roiBottom, H - 1) - state.roiTop + 1.0;
        md.focusStats.ROISharpness = saturated(perPixel * w * h);
    }
    if (state.fosGrid) {
        for (int r = 0; r < kGrid; r++) {
            unsigned y0, y1;
            if (!tileSpan(H, state.fosTop, state.fosTileH, r, y0, y1)) {
                continue;
            }
            for (int c = 0; c < kGrid; c++) {
                unsigned x0, x1;
                if (tileSpan(W, state.fosLeft, state.fosTileW, c, x0, x1)) {
                    md.focusStats.gridSharpness[r][c] = saturated(perPixel * double(x1 - x0) * double(y1 - y0));
                }
            }
        }
    }

    if (state.fldEnabled) {
        md.flickerStats.flickerStatus = scene.flickerStatus & 7u;
    }

    // what the frame was measured with, as the configuration read-back reports it
    md.histogramConfig = MC_HIS{};
    md.histogramConfig.bGlobalEnable = state.hisGlobal;
    md.histogramConfig.bRegionEnable = state.hisRegion;
    md.histogramConfig.ui16Left = clip16(state.hisLeft);
    md.histogramConfig.ui16Top = clip16(state.hisTop);
    md.histogramConfig.ui16Width = clip16(state.hisTileW);
    md.histogramConfig.ui16Height = clip16(state.hisTileH);
    md.focusConfig = MC_FOS{};
    md.focusConfig.bGlobalEnable = state.fosRoi;
    md.focusConfig.bRegionEnable = state.fosGrid;
    md.focusConfig.ui16Left = clip16(state.fosLeft);
    md.focusConfig.ui16Top = clip16(state.fosTop);
    md.focusConfig.ui16Width = clip16(state.fosTileW);
    md.focusConfig.ui16Height = clip16(state.fosTileH);
    md.focusConfig.ui16ROILeft = clip16(state.roiLeft);
    md.focusConfig.ui16ROITop = clip16(state.roiTop);
    md.focusConfig.ui16ROIWidth = clip16(state.roiRight >= state.roiLeft ? state.roiRight - state.roiLeft + 1 : 0);
    md.focusConfig.ui16ROIHeight = clip16(state.roiBottom >= state.roiTop ? state.roiBottom - state.roiTop + 1 : 0);
    md.flickerConfig.bEnable = state.fldEnabled;

    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    md.timestamps = MC_STATS_TIMESTAMP{};
    md.timestamps.ui64InterruptSysTime = QOR_UINT64(ts.tv_sec) * 1000000000ull + QOR_UINT64(ts.tv_nsec);
}

} // namespace norva_test
