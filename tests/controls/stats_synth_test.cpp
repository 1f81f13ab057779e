// The statistics synthesiser against the rules the hardware keeps (exact totals, tiles clipped to the image, the
// monotonic interrupt clock) and against the simulated ISP's histograms.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "support/stats_synth.h"

using norva_test::StatsSynth;
using norva_test::SynthScene;
using norva_test::SynthState;
namespace L = norva_sim::stats_layout;

namespace {

uint32_t rd32(const std::vector<uint8_t> &p, size_t o) {
    return p[o] | (p[o + 1] << 8) | (p[o + 2] << 16) | (uint32_t(p[o + 3]) << 24);
}

SynthState gridState(unsigned left, unsigned top, unsigned tw, unsigned th) {
    SynthState s;
    s.hisLeft = left, s.hisTop = top, s.hisTileW = tw, s.hisTileH = th;
    s.fosLeft = left, s.fosTop = top, s.fosTileW = tw, s.fosTileH = th;
    s.exposureUs = 1000, s.gain = 1;
    return s;
}

uint64_t tileArea(unsigned n, unsigned start, unsigned tile, int t) {
    const int64_t a = int64_t(start) + int64_t(t) * tile;
    return uint64_t(std::max<int64_t>(0, std::min<int64_t>(a + tile, n) - std::min<int64_t>(a, n)));
}

TEST(StatsSynth, CountsEveryPixelOnceAndClipsTilesToTheImage) {
    struct Case {
        unsigned left, top, tw, th;
    } cases[] = {{1, 1, 274 / 6, 154 / 6}, {100, 50, 40, 40}, {0, 0, 10, 8}, {0, 0, 0, 0}};
    const SynthScene scene = SynthScene::Chart(320, 240, 0.0001, 0.002);
    StatsSynth synth;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.left);
        const SynthState st = gridState(c.left, c.top, c.tw, c.th);
        ISPC::Metadata md{};
        synth.frame(scene, st, md);
        uint64_t total = 0;
        for (QOR_UINT32 v : md.histogramStats.globalHistogram) {
            total += v;
        }
        EXPECT_EQ(total, 320u * 240u);
        for (int r = 0; r < 7; r++) {
            for (int col = 0; col < 7; col++) {
                uint64_t sum = 0;
                for (QOR_UINT32 v : md.histogramStats.regionHistograms[r][col]) {
                    sum += v;
                }
                EXPECT_EQ(sum, tileArea(320, c.left, c.tw, col) * tileArea(240, c.top, c.th, r)) << r << "," << col;
            }
        }
        EXPECT_EQ(md.histogramConfig.ui16Width, c.tw);
    }
}

TEST(StatsSynth, BrightnessFollowsExposureGainAndFNumber) {
    const SynthScene scene = SynthScene::Flat(64, 48, 0.0002);
    SynthState st = gridState(0, 0, 9, 6);
    st.exposureUs = 1000; // v = 0.2
    const unsigned base = StatsSynth::lumaCode(0.0002, st);
    EXPECT_EQ(base, unsigned(std::lround(1023 * std::pow(0.2, 1 / 2.2))));
    SynthState twice = st;
    twice.gain = 2;
    SynthState stopped = twice;
    stopped.fNumber = std::sqrt(2.0);
    EXPECT_GT(StatsSynth::lumaCode(0.0002, twice), base);
    EXPECT_EQ(StatsSynth::lumaCode(0.0002, stopped), base);
    SynthState dark = st;
    dark.exposureUs = 0;
    EXPECT_EQ(StatsSynth::lumaCode(0.0002, dark), 0u);
    st.exposureUs = 1e9;
    EXPECT_EQ(StatsSynth::lumaCode(0.0002, st), 1023u);

    ISPC::Metadata md{};
    StatsSynth synth;
    synth.frame(scene, twice, md);
    EXPECT_EQ(md.histogramStats.globalHistogram[StatsSynth::lumaCode(0.0002, twice) >> 4], 64u * 48u);
}

TEST(StatsSynth, FocusPeaksAtTheInFocusPositionAndFlickerIsTheScenesVerdict) {
    SynthScene scene = SynthScene::Flat(70, 70, 0.0001);
    scene.inFocus = 430;
    scene.flickerStatus = FLD_60HZ;
    SynthState st = gridState(0, 0, 10, 10);
    st.roiLeft = 20, st.roiTop = 20, st.roiRight = 29, st.roiBottom = 39;
    StatsSynth synth;
    QOR_UINT32 best = 0;
    unsigned bestAt = 0;
    for (unsigned p = 0; p <= 1000; p += 10) {
        st.focus = p;
        ISPC::Metadata md{};
        synth.frame(scene, st, md);
        if (md.focusStats.gridSharpness[3][3] > best) {
            best = md.focusStats.gridSharpness[3][3], bestAt = p;
        }
        EXPECT_EQ(md.flickerStats.flickerStatus, QOR_UINT32(FLD_60HZ));
        if (p == 430) {
            EXPECT_EQ(md.focusStats.gridSharpness[0][0], 40u * 100u); // texture 40 over 10 x 10 pixels, sharp
            EXPECT_EQ(md.focusStats.ROISharpness, 40u * 200u);
        }
    }
    EXPECT_EQ(bestAt, 430u);
    st.fldEnabled = false;
    ISPC::Metadata md{};
    synth.frame(scene, st, md);
    EXPECT_EQ(md.flickerStats.flickerStatus, 0u);
}

TEST(StatsSynth, InterruptTimeIsTheMonotonicClockAtProduction) {
    const SynthScene scene = SynthScene::Flat(16, 16, 0.001);
    StatsSynth synth;
    ISPC::Metadata a{}, b{};
    const auto before = std::chrono::steady_clock::now().time_since_epoch();
    synth.frame(scene, gridState(0, 0, 2, 2), a);
    synth.frame(scene, gridState(0, 0, 2, 2), b);
    const auto after = std::chrono::steady_clock::now().time_since_epoch();
    using std::chrono::nanoseconds;
    EXPECT_GE(a.timestamps.ui64InterruptSysTime, QOR_UINT64(std::chrono::duration_cast<nanoseconds>(before).count()));
    EXPECT_GE(b.timestamps.ui64InterruptSysTime, a.timestamps.ui64InterruptSysTime);
    EXPECT_LE(b.timestamps.ui64InterruptSysTime, QOR_UINT64(std::chrono::duration_cast<nanoseconds>(after).count()));
}

/* ---- against the simulated ISP ---- */

/** The ISP model with neutral registers over a raw frame; the statistics it writes. */
std::vector<uint8_t> ispStatistics(const std::vector<uint16_t> &raw, unsigned W, unsigned H, const SynthState &st) {
    CI_PIPELINE reg{};
    CI_PIPE_INFO info{};
    norva_sim::IspNeutralSettings(W, H, &reg, &info);
    info.iifConfig.eBayerFormat = MOSAIC_BGGR;
    CI_MODULE_GMA_LUT gamma = norva_sim::DefaultDescription().sGammaLUT;
    CI_MODULE_HIS &h = reg.stats.sHistStats;
    h.ui16Left = QOR_UINT16(st.hisLeft), h.ui16Top = QOR_UINT16(st.hisTop);
    h.ui16Width = QOR_UINT16(st.hisTileW), h.ui16Height = QOR_UINT16(st.hisTileH);
    h.ui16InputOffset = 256, h.ui16InputScale = 32767;
    std::vector<uint8_t> stats(norva_sim::kIspStatsSize, 0);
    norva_sim::IspInputFrame in;
    in.samples = raw.data();
    in.width = W, in.height = H, in.bitDepth = 10;
    norva_sim::IspFrameSettings s;
    s.registers = &reg, s.info = &info, s.gamma = &gamma;
    norva_sim::IspFrameOutputs out;
    out.statistics = stats.data();
    norva_sim::IspModel model;
    EXPECT_EQ(model.process(in, s, out, nullptr), QOR_RES_OK);
    return stats;
}

/** The ISP's single global bin of a flat raw level. */
int flatBin(const std::vector<uint8_t> &stats) {
    for (int b = 0; b < 64; b++) {
        if (rd32(stats, L::kHisGlobal + 4 * b) != 0) {
            return b;
        }
    }
    return -1;
}

/** Luminance that a state measures in the middle of a global bin. */
double luminanceOfBin(int bin, const SynthState &st) {
    return std::pow((16.0 * bin + 8) / 1023.0, 2.2) / (st.exposureUs * st.gain);
}

TEST(StatsSynth, FlatSceneHistogramsEqualTheSimulatedIsps) {
    const unsigned W = 320, H = 240;
    const SynthState st = gridState(1, 1, W / 7, H / 7);
    for (uint16_t level : {uint16_t(40), uint16_t(300), uint16_t(900)}) {
        SCOPED_TRACE(level);
        const std::vector<uint8_t> isp = ispStatistics(std::vector<uint16_t>(size_t(W) * H, level), W, H, st);
        const int bin = flatBin(isp);
        ASSERT_GE(bin, 0);
        ISPC::Metadata md{};
        StatsSynth synth;
        synth.frame(SynthScene::Flat(W, H, luminanceOfBin(bin, st)), st, md);
        for (int b = 0; b < 64; b++) {
            EXPECT_EQ(md.histogramStats.globalHistogram[b], rd32(isp, L::kHisGlobal + 4 * b)) << b;
        }
        for (int r = 0; r < 7; r++) {
            for (int c = 0; c < 7; c++) {
                for (int b = 0; b < 16; b++) {
                    EXPECT_EQ(md.histogramStats.regionHistograms[r][c][b],
                              rd32(isp, L::kHisRegion + 64 * (7 * r + c) + 4 * b))
                        << r << "," << c << " bin " << b;
                }
            }
        }
    }
}

TEST(StatsSynth, TwoLevelSceneHistogramsEqualTheSimulatedIspsAwayFromTheEdge) {
    // The ISP's demosaic blends the two columns either side of the edge; every other pixel counts alike. The edge
    // lies in grid column 3, so the other tiles must match bin for bin, and the edge tiles differ by at most the
    // blended columns.
    const unsigned W = 280, H = 140, split = 140;
    const SynthState st = gridState(0, 0, W / 7, H / 7);
    std::vector<uint16_t> dark(size_t(W) * H, 60), bright(size_t(W) * H, 700), two(size_t(W) * H);
    for (unsigned y = 0; y < H; y++) {
        for (unsigned x = 0; x < W; x++) {
            two[size_t(y) * W + x] = x < split ? 60 : 700;
        }
    }
    const int binDark = flatBin(ispStatistics(dark, W, H, st)), binBright = flatBin(ispStatistics(bright, W, H, st));
    ASSERT_GE(binDark, 0);
    ASSERT_GT(binBright, binDark);
    const std::vector<uint8_t> isp = ispStatistics(two, W, H, st);
    ISPC::Metadata md{};
    StatsSynth synth;
    synth.frame(SynthScene::TwoLevel(W, H, split, luminanceOfBin(binDark, st), luminanceOfBin(binBright, st)), st, md);
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            uint32_t differ = 0;
            for (int b = 0; b < 16; b++) {
                const uint32_t ours = md.histogramStats.regionHistograms[r][c][b];
                const uint32_t theirs = rd32(isp, L::kHisRegion + 64 * (7 * r + c) + 4 * b);
                differ += ours > theirs ? ours - theirs : theirs - ours;
            }
            if (c == 3) {
                EXPECT_LE(differ, 2u * 2u * (H / 7)) << r << "," << c;
            } else {
                EXPECT_EQ(differ, 0u) << r << "," << c;
            }
        }
    }
    uint32_t differ = 0;
    for (int b = 0; b < 64; b++) {
        const uint32_t ours = md.histogramStats.globalHistogram[b], theirs = rd32(isp, L::kHisGlobal + 4 * b);
        differ += ours > theirs ? ours - theirs : theirs - ours;
    }
    EXPECT_LE(differ, 2u * 2u * H);
}

} // namespace
