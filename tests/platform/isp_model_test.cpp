#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "norvacommon/pixel_transform.h"
#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "support/bayer_scene.h"
#include "support/isp_frame.h"

using norva_sim::IspFrameOutputs;
using norva_sim::IspModel;
using norva_sim::IspOutputBuffer;
using norva_test::BayerScene;
using norva_test::ChartLayout;
using norva_test::Rect;
using norva_test::SceneOptions;
namespace L = norva_sim::stats_layout;

namespace {

uint32_t rd32(const uint8_t *p, size_t o) {
    return p[o] | (p[o + 1] << 8) | (p[o + 2] << 16) | (uint32_t(p[o + 3]) << 24);
}
uint32_t rd16(const uint8_t *p, size_t o) { return p[o] | (p[o + 1] << 8); }

/** A model with neutral registers for a scene, its outputs and the means of output regions. */
struct Rig {
    CI_PIPELINE reg{};
    CI_PIPE_INFO info{};
    CI_MODULE_GMA_LUT gamma{};
    IspModel model;
    BayerScene scene;
    std::vector<uint8_t> enc, disp, stats;
    uint32_t encStride = 0, dispStride = 0;
    norva_sim::IspFrameResult result;

    explicit Rig(const SceneOptions &o) : scene(norva_test::MakeTestChart(o)) {
        norva_sim::IspNeutralSettings(o.width, o.height, &reg, &info);
        info.iifConfig.eBayerFormat = o.mosaic;
        gamma = norva_sim::DefaultDescription().sGammaLUT;
        info.config.eEncType.eFmt = YUV_420_PL12_8;
        info.config.eDispType.eFmt = RGB_888_24;
    }

    QOR_RESULT run() {
        const uint32_t W = scene.options.width, H = scene.options.height;
        encStride = (W + 63) / 64 * 64;
        dispStride = (3 * W + 63) / 64 * 64;
        enc.assign(size_t(encStride) * H * 2, 0);
        disp.assign(size_t(dispStride) * H, 0);
        stats.assign(norva_sim::kIspStatsSize, 0xEE);
        const norva_sim::IspInputFrame in = norva_test::IspInputOf(scene);
        const norva_sim::IspFrameSettings s = norva_test::IspSettingsOf(reg, info, gamma);
        IspFrameOutputs out;
        out.encoder = norva_test::SemiPlanarOutput(enc, encStride, H);
        out.display.data = disp.data();
        out.display.size = disp.size();
        out.display.stride = dispStride;
        out.statistics = stats.data();
        return model.process(in, s, out, &result);
    }

    /** Mean of display channel k (memory byte order B, G, R for RGB_888_24) over the centre of a rectangle. */
    double dispMean(const Rect &r, int byte) const {
        double sum = 0;
        uint32_t n = 0;
        for (uint32_t y = r.y + r.h / 4; y < r.y + 3 * r.h / 4; y++) {
            for (uint32_t x = r.x + r.w / 4; x < r.x + 3 * r.w / 4; x++, n++) {
                sum += disp[size_t(y) * dispStride + 3 * x + byte];
            }
        }
        return sum / n;
    }
    double red(const Rect &r) const { return dispMean(r, 2); }
    double green(const Rect &r) const { return dispMean(r, 1); }
    double blue(const Rect &r) const { return dispMean(r, 0); }

    /** Mean of NV12 luma (plane 0) or chroma (plane 1, component 0 or 1) over the centre of a rectangle. */
    double encMean(const Rect &r, int plane, int comp = 0) const {
        const uint32_t H = scene.options.height;
        double sum = 0;
        uint32_t n = 0;
        for (uint32_t y = r.y + r.h / 4; y < r.y + 3 * r.h / 4; y++) {
            for (uint32_t x = r.x + r.w / 4; x < r.x + 3 * r.w / 4; x++, n++) {
                sum += plane == 0 ? enc[size_t(y) * encStride + x]
                                  : enc[size_t(H) * encStride + size_t(y / 2) * encStride + (x & ~1u) + comp];
            }
        }
        return sum / n;
    }
};

SceneOptions options(MOSAICType mosaic, unsigned depth, uint32_t w = 320, uint32_t h = 240) {
    SceneOptions o;
    o.width = w;
    o.height = h;
    o.mosaic = mosaic;
    o.bitDepth = depth;
    return o;
}

/* ---- image path ---- */

struct NeutralCase {
    MOSAICType mosaic;
    unsigned depth;
};

void PrintTo(const NeutralCase &c, std::ostream *os) { *os << MosaicString(c.mosaic) << " " << c.depth << " bits"; }

class NeutralGrey : public testing::TestWithParam<NeutralCase> {};

TEST_P(NeutralGrey, GreyPatchesStayGreyAndOrdered) {
    Rig rig(options(GetParam().mosaic, GetParam().depth));
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_FALSE(rig.result.frameError);
    double previous = -1;
    for (const Rect &p : rig.scene.layout.grey) {
        const double r = rig.red(p), g = rig.green(p), b = rig.blue(p);
        EXPECT_NEAR(r, g, 2.0) << "patch at x " << p.x;
        EXPECT_NEAR(b, g, 2.0) << "patch at x " << p.x;
        EXPECT_GT(g, previous + 5.0);
        previous = g;
        EXPECT_NEAR(rig.encMean(p, 1, 0), 128.0, 2.0);
        EXPECT_NEAR(rig.encMean(p, 1, 1), 128.0, 2.0);
    }
    // linear 0.5 through the BT.709 curve is about 0.71 of full scale; luma is limited range
    const Rect &mid = rig.scene.layout.grey[4];
    EXPECT_NEAR(rig.green(mid), 0.705 * 255 * 219 / 219.0, 6.0);
    EXPECT_NEAR(rig.encMean(mid, 0), 16 + 0.705 * 219, 4.0);
}

INSTANTIATE_TEST_SUITE_P(Orders, NeutralGrey,
                         testing::Values(NeutralCase{MOSAIC_RGGB, 12}, NeutralCase{MOSAIC_GRBG, 10},
                                         NeutralCase{MOSAIC_GBRG, 12}, NeutralCase{MOSAIC_BGGR, 10}));

// The model adds the chroma mid-level but no luma foot: the luma offset register alone places luma, so a frame
// programmed without it comes out 16 codes lower, with the chroma where it was.
TEST(IspModel, LumaOffsetIsTheRegistersAlone) {
    Rig base(options(MOSAIC_RGGB, 12));
    ASSERT_EQ(base.reg.sRGBToYCC.aOffset[1], 64);
    ASSERT_EQ(base.run(), QOR_RES_OK);
    const Rect &mid = base.scene.layout.grey[4];
    for (const int16_t offset : {0, 64, -40, 200}) {
        Rig rig(options(MOSAIC_RGGB, 12));
        rig.reg.sRGBToYCC.aOffset[1] = offset;
        ASSERT_EQ(rig.run(), QOR_RES_OK);
        EXPECT_NEAR(rig.encMean(mid, 0), base.encMean(mid, 0) + (offset - 64) / 4.0, 0.5) << offset;
        EXPECT_NEAR(rig.encMean(mid, 1, 0), base.encMean(mid, 1, 0), 0.01) << offset;
        EXPECT_NEAR(rig.encMean(mid, 1, 1), base.encMean(mid, 1, 1), 0.01) << offset;
    }
}

TEST(IspModel, ColourPatchesKeepTheirDominantColour) {
    Rig rig(options(MOSAIC_GBRG, 12));
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    const ChartLayout &l = rig.scene.layout;
    EXPECT_GT(rig.red(l.colour[0]), rig.green(l.colour[0]) + 40);
    EXPECT_GT(rig.green(l.colour[1]), rig.red(l.colour[1]) + 40);
    EXPECT_GT(rig.blue(l.colour[2]), rig.green(l.colour[2]) + 40);
    EXPECT_GT(rig.red(l.colour[5]), rig.blue(l.colour[5]) + 40);
}

struct ChangeCase {
    const char *name;
    std::function<void(CI_PIPELINE &)> change;
    int redSign, greenSign, blueSign; /* expected direction of each display channel on a mid-grey patch */
};

void PrintTo(const ChangeCase &c, std::ostream *os) { *os << c.name; }

class RegisterEffect : public testing::TestWithParam<ChangeCase> {};

TEST_P(RegisterEffect, MovesTheOutputVisibly) {
    Rig base(options(MOSAIC_RGGB, 12));
    ASSERT_EQ(base.run(), QOR_RES_OK);
    Rig changed(options(MOSAIC_RGGB, 12));
    GetParam().change(changed.reg);
    ASSERT_EQ(changed.run(), QOR_RES_OK);
    const Rect &p = base.scene.layout.grey[3];
    const double d[3] = {changed.red(p) - base.red(p), changed.green(p) - base.green(p),
                         changed.blue(p) - base.blue(p)};
    const int sign[3] = {GetParam().redSign, GetParam().greenSign, GetParam().blueSign};
    for (int k = 0; k < 3; k++) {
        if (sign[k] == 0) {
            EXPECT_NEAR(d[k], 0.0, 2.0) << "channel " << k;
        } else {
            EXPECT_GT(d[k] * sign[k], 10.0) << "channel " << k;
        }
    }
}

// The white-balance controls write their gains red first; the red gain must raise red whatever the sensor's Bayer
// order, and the blue gain blue.
TEST(IspModel, WhiteBalanceGainsAreRedFirstInEveryBayerOrder) {
    for (const MOSAICType mosaic : {MOSAIC_RGGB, MOSAIC_GRBG, MOSAIC_GBRG, MOSAIC_BGGR}) {
        SCOPED_TRACE(MosaicString(mosaic));
        Rig base(options(mosaic, 12));
        ASSERT_EQ(base.run(), QOR_RES_OK);
        Rig changed(options(mosaic, 12));
        changed.reg.sWhiteBalance.aGain[0] = 1536;
        changed.reg.sWhiteBalance.aGain[3] = 700;
        ASSERT_EQ(changed.run(), QOR_RES_OK);
        const Rect &p = base.scene.layout.grey[3];
        EXPECT_GT(changed.red(p) - base.red(p), 10.0);
        EXPECT_NEAR(changed.green(p) - base.green(p), 0.0, 2.0);
        EXPECT_LT(changed.blue(p) - base.blue(p), -10.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Registers, RegisterEffect,
    testing::Values(ChangeCase{"RedGain", [](CI_PIPELINE &r) { r.sWhiteBalance.aGain[0] = 1536; }, +1, 0, 0},
                    ChangeCase{"BlueGain", [](CI_PIPELINE &r) { r.sWhiteBalance.aGain[3] = 700; }, 0, 0, -1},
                    ChangeCase{"DarkerRawCurve",
                               [](CI_PIPELINE &r) {
                                   r.sRawLUT.eMode = CI_RLT_LINEAR;
                                   for (int c = 0; c < 4; c++) {
                                       for (int i = 0; i < 16; i++) {
                                           r.sRawLUT.aPoints[c][i] = static_cast<QOR_UINT16>((i + 1) * 2048);
                                       }
                                   }
                               },
                               -1, -1, -1},
                    ChangeCase{"BrighterCubicCurve",
                               [](CI_PIPELINE &r) {
                                   r.sRawLUT.eMode = CI_RLT_CUBIC;
                                   for (int c = 0; c < 4; c++) {
                                       for (int i = 0; i < 16; i++) {
                                           const double x = (i + 1) / 16.0;
                                           r.sRawLUT.aPoints[c][i] = static_cast<QOR_UINT16>(
                                               std::min(65535.0, (1 - std::pow(1 - x, 2.0)) * 65536));
                                       }
                                   }
                               },
                               +1, +1, +1},
                    ChangeCase{"BlackOffset",
                               [](CI_PIPELINE &r) {
                                   for (auto &o : r.sBlackCorrection.i8FixedOffset)
                                       o = -40;
                               },
                               -1, -1, -1},
                    ChangeCase{"ColourMatrixSwapsRedAndBlue",
                               [](CI_PIPELINE &r) {
                                   std::memset(r.sColourCorrection.aCoeff, 0, sizeof(r.sColourCorrection.aCoeff));
                                   r.sColourCorrection.aCoeff[0][0] = 256;
                                   r.sColourCorrection.aCoeff[1][1] = 512;
                                   r.sColourCorrection.aCoeff[2][2] = 768;
                               },
                               -1, 0, +1},
                    ChangeCase{"GammaBypass", [](CI_PIPELINE &r) { r.sGammaCorrection.bBypass = 1; }, -1, -1, -1},
                    ChangeCase{"ToneCurveLifts",
                               [](CI_PIPELINE &r) {
                                   for (int i = 0; i < 63; i++) {
                                       r.sToneMapping.aCurve[i] =
                                           static_cast<QOR_UINT16>(std::sqrt((i + 1) / 64.0) * 2048);
                                   }
                               },
                               +1, +1, +1}),
    [](const testing::TestParamInfo<ChangeCase> &i) { return std::string(i.param.name); });

// The white-balance clip (U9.4) counts from the sensor's full scale at 256.0 (code 4096): from there up nothing
// clips; below it the neutral patches above the level all come out at the level, those below stay as they were.
TEST(IspModel, WhiteBalanceClipIsRelativeToFullScale) {
    Rig base(options(MOSAIC_RGGB, 12));
    ASSERT_EQ(base.run(), QOR_RES_OK);
    const struct {
        QOR_UINT16 code;
        double level;
    } cases[] = {{8191, 2.0}, {4096, 1.0}, {1229, 0.3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "clip code " << c.code);
        Rig rig(options(MOSAIC_RGGB, 12));
        for (auto &clip : rig.reg.sWhiteBalance.aClip)
            clip = c.code;
        ASSERT_EQ(rig.run(), QOR_RES_OK);
        double clipped = -1;
        for (int i = 0; i < ChartLayout::kPatches; i++) {
            const Rect &p = rig.scene.layout.grey[i];
            if (norva_test::kGreyLevels[i] < c.level) {
                EXPECT_NEAR(rig.green(p), base.green(p), 1.0) << "patch " << i;
                continue;
            }
            EXPECT_LT(rig.green(p), base.green(p) - 5.0) << "patch " << i;
            if (clipped < 0)
                clipped = rig.green(p);
            EXPECT_NEAR(rig.green(p), clipped, 1.0) << "patch " << i;
        }
    }
}

TEST(IspModel, TablesAreRebuiltOnlyWhenTheirRegistersChange) {
    Rig rig(options(MOSAIC_RGGB, 10, 64, 48));
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    const unsigned first = rig.model.tableBuilds();
    EXPECT_EQ(first, 4u); /* raw curve, gamma, tone curve, enhancer and sharpening */
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_EQ(rig.model.tableBuilds(), first);
    rig.reg.sRawLUT.eMode = CI_RLT_LINEAR;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_EQ(rig.model.tableBuilds(), first + 1);
    rig.reg.sWhiteBalance.aGain[1] = 2000; /* arithmetic, no table */
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_EQ(rig.model.tableBuilds(), first + 1);
    rig.reg.sSharpening.ui8Strength = 40;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_EQ(rig.model.tableBuilds(), first + 2);
}

TEST(IspModel, WindowCropAndDecimation) {
    // a 64×48 window at cell offset (8, 4) of a 320×240 chart, every other cell: the ramp still rises
    Rig rig(options(MOSAIC_RGGB, 12));
    rig.info.iifConfig.ui16ImagerOffset[0] = 8;
    rig.info.iifConfig.ui16ImagerOffset[1] = 4;
    rig.info.iifConfig.ui16ImagerSize[0] = 31;
    rig.info.iifConfig.ui16ImagerSize[1] = 23;
    rig.info.iifConfig.ui16ImagerDecimation[0] = 1;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_EQ(rig.result.sizes.windowWidth, 64u);
    EXPECT_EQ(rig.result.sizes.encoderHeight, 48u);
    EXPECT_FALSE(rig.result.frameError);
    const uint8_t *row = &rig.disp[size_t(4) * rig.dispStride];
    EXPECT_GT(row[3 * 60 + 1], row[3 * 4 + 1] + 40);
    // a window past the input reads zeros and marks the frame
    rig.info.iifConfig.ui16ImagerOffset[0] = 150;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_TRUE(rig.result.frameError);
    EXPECT_EQ(rd32(rig.stats.data(), L::kStatus) & 1u, 1u);
}

TEST(IspModel, LensShadingMatrixScalesTheImage) {
    Rig plain(options(MOSAIC_RGGB, 12, 128, 96));
    ASSERT_EQ(plain.run(), QOR_RES_OK);
    // a flat matrix of 3×3 vertices at gain 1.5 (1536 in U3.10), 2-bit differences of 0, tiles of 64 cells
    std::vector<uint8_t> matrix(4 * 3 * 64, 0);
    for (int line = 0; line < 12; line++) {
        matrix[size_t(line) * 64] = 1536 & 0xFF;
        matrix[size_t(line) * 64 + 1] = 1536 >> 8;
    }
    Rig shaded(options(MOSAIC_RGGB, 12, 128, 96));
    norva_sim::IspFrameSettings s;
    (void)s;
    CI_MODULE_LSH_MAT cfg{};
    cfg.ui16Width = 3;
    cfg.ui16Height = 3;
    cfg.ui8BitsPerDiff = 2;
    cfg.ui8TileSizeLog2 = 6;
    cfg.ui32Stride = 64;
    cfg.ui16LineSize = 16;
    // run through the model directly to pass the matrix
    shaded.encStride = (128 + 63) / 64 * 64;
    shaded.dispStride = (3 * 128 + 63) / 64 * 64;
    shaded.enc.assign(size_t(shaded.encStride) * 96 * 2, 0);
    shaded.disp.assign(size_t(shaded.dispStride) * 96, 0);
    norva_sim::IspInputFrame in;
    in.samples = shaded.scene.samples.data();
    in.width = 128;
    in.height = 96;
    in.bitDepth = 12;
    norva_sim::IspFrameSettings set;
    set.registers = &shaded.reg;
    set.info = &shaded.info;
    set.gamma = &shaded.gamma;
    set.lshMatrix = matrix.data();
    set.lshMatrixSize = matrix.size();
    set.lshConfig = cfg;
    IspFrameOutputs out;
    out.display.data = shaded.disp.data();
    out.display.size = shaded.disp.size();
    ASSERT_EQ(shaded.model.process(in, set, out), QOR_RES_OK);
    const Rect &p = plain.scene.layout.grey[2];
    EXPECT_GT(shaded.green(p), plain.green(p) + 15);
    EXPECT_NEAR(shaded.red(p), shaded.green(p), 2.0);
    // a matrix shorter than its configuration is refused and nothing is written
    std::fill(shaded.disp.begin(), shaded.disp.end(), 0x5A);
    set.lshMatrixSize = 100;
    EXPECT_EQ(shaded.model.process(in, set, out), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(shaded.disp[0], 0x5A);
}

TEST(IspModel, EncoderScalerHalvesTheImage) {
    Rig rig(options(MOSAIC_RGGB, 12));
    CI_MODULE_SCALER &esc = rig.reg.sEncoderScaler;
    esc.bBypassScaler = 0;
    esc.aOutputSize[0] = 160 / 2 - 1;
    esc.aOutputSize[1] = 120 - 1;
    esc.aPitch[0] = esc.aPitch[1] = 65536;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_EQ(rig.result.sizes.encoderWidth, 160u);
    EXPECT_EQ(rig.result.sizes.encoderHeight, 120u);
    Rig full(options(MOSAIC_RGGB, 12));
    ASSERT_EQ(full.run(), QOR_RES_OK);
    const Rect &p = rig.scene.layout.grey[4];
    const uint32_t cx = p.x + p.w / 2, cy = p.y + p.h / 2;
    EXPECT_NEAR(rig.enc[size_t(cy / 2) * rig.encStride + cx / 2], full.enc[size_t(cy) * full.encStride + cx], 2);
}

/* ---- statistics ---- */

TEST(IspStatistics, HistogramTotalsAreExact) {
    struct Case {
        uint16_t left, top, tileW, tileH, offset, scale;
    } cases[] = {
        {0, 0, 320 / 7, 240 / 7, 256, 32767}, /* grid inside the window */
        {100, 50, 40, 40, 256, 32767},        /* grid running off the right and bottom */
        {0, 0, 50, 30, 0, 1},                 /* the block's own defaults: everything in the lowest bins */
        {10, 10, 20, 20, 700, 60000},         /* offset and gain push values to the top bin */
    };
    for (const Case &c : cases) {
        Rig rig(options(MOSAIC_BGGR, 10));
        CI_MODULE_HIS &h = rig.reg.stats.sHistStats;
        h.ui16Left = c.left, h.ui16Top = c.top, h.ui16Width = c.tileW, h.ui16Height = c.tileH;
        h.ui16InputOffset = c.offset, h.ui16InputScale = c.scale;
        ASSERT_EQ(rig.run(), QOR_RES_OK);
        const uint8_t *st = rig.stats.data();
        uint64_t total = 0;
        for (int b = 0; b < 64; b++) {
            total += rd32(st, L::kHisGlobal + 4 * b);
        }
        EXPECT_EQ(total, 320u * 240u) << "grid at " << c.left;
        for (int r = 0; r < 7; r++) {
            for (int col = 0; col < 7; col++) {
                uint64_t sum = 0;
                for (int b = 0; b < 16; b++) {
                    sum += rd32(st, L::kHisRegion + 64 * (7 * r + col) + 4 * b);
                }
                const int64_t x0 = c.left + col * c.tileW, y0 = c.top + r * c.tileH;
                const int64_t w = std::max<int64_t>(0, std::min<int64_t>(x0 + c.tileW, 320) - x0);
                const int64_t hh = std::max<int64_t>(0, std::min<int64_t>(y0 + c.tileH, 240) - y0);
                EXPECT_EQ(sum, uint64_t(w * hh)) << "tile " << r << "," << col;
            }
        }
    }
}

TEST(IspStatistics, HistogramFollowsBrightness) {
    Rig dark(options(MOSAIC_RGGB, 12));
    dark.reg.sWhiteBalance.aGain[0] = dark.reg.sWhiteBalance.aGain[1] = dark.reg.sWhiteBalance.aGain[2] =
        dark.reg.sWhiteBalance.aGain[3] = 400;
    ASSERT_EQ(dark.run(), QOR_RES_OK);
    Rig bright(options(MOSAIC_RGGB, 12));
    ASSERT_EQ(bright.run(), QOR_RES_OK);
    auto mean = [](const Rig &r) {
        double s = 0, n = 0;
        for (int b = 0; b < 64; b++) {
            const uint32_t c = rd32(r.stats.data(), L::kHisGlobal + 4 * b);
            s += c * b, n += c;
        }
        return s / n;
    };
    EXPECT_GT(mean(bright), mean(dark) + 8);
}

TEST(IspStatistics, ClippedCountsEqualTheClippedPatch) {
    for (unsigned depth : {10u, 12u}) {
        for (MOSAICType mosaic : {MOSAIC_RGGB, MOSAIC_GBRG}) {
            Rig rig(options(mosaic, depth));
            rig.reg.stats.sExposureStats.ui16PixelMax = 4095;
            ASSERT_EQ(rig.run(), QOR_RES_OK);
            const Rect &c = rig.scene.layout.clipped;
            uint64_t total = 0, regional = 0;
            for (int ch = 0; ch < 4; ch++) {
                EXPECT_EQ(rd32(rig.stats.data(), L::kExsGlobal + 4 * ch), c.area() / 4)
                    << depth << " bits, channel " << ch;
                total += rd32(rig.stats.data(), L::kExsGlobal + 4 * ch);
                for (int r = 0; r < 7; r++) {
                    for (int col = 0; col < 7; col++) {
                        regional += rd16(rig.stats.data(), L::kExsRegion + 64 * r + 8 * col + 2 * ch);
                    }
                }
            }
            EXPECT_EQ(total, c.area());
            EXPECT_EQ(regional, c.area()); /* the 7×7 grid of width/7 tiles covers the patch */
        }
    }
}

TEST(IspStatistics, FocusIsHigherForTheSharpScene) {
    Rig sharp(options(MOSAIC_GRBG, 12));
    ASSERT_EQ(sharp.run(), QOR_RES_OK);
    SceneOptions o = options(MOSAIC_GRBG, 12);
    o.blurRadius = 2;
    Rig blurred(o);
    ASSERT_EQ(blurred.run(), QOR_RES_OK);
    const uint32_t s = rd32(sharp.stats.data(), L::kFosRoi), b = rd32(blurred.stats.data(), L::kFosRoi);
    EXPECT_GT(s, b + b / 2);
    // the tile holding the finest bars as well
    const Rect &e = sharp.scene.layout.edges;
    const uint32_t tw = 320 / 7, th = 240 / 7;
    const size_t tile = L::kFosGrid + 64 * ((e.y + e.h / 2) / th) + 4 * ((e.x + e.w / 8) / tw);
    EXPECT_GT(rd32(sharp.stats.data(), tile), rd32(blurred.stats.data(), tile) + rd32(blurred.stats.data(), tile) / 2);
}

TEST(IspStatistics, WhiteBalanceSumsOverTheRegion) {
    Rig rig(options(MOSAIC_RGGB, 12));
    const Rect &p = rig.scene.layout.grey[4];
    CI_MODULE_WBS &w = rig.reg.stats.sWhiteBalanceStats;
    w.ui8ActiveROI = 1;
    w.aRoiLeft[1] = static_cast<QOR_UINT16>(p.x + 4), w.aRoiTop[1] = static_cast<QOR_UINT16>(p.y + 4);
    w.aRoiRight[1] = static_cast<QOR_UINT16>(p.x + 13), w.aRoiBottom[1] = static_cast<QOR_UINT16>(p.y + 13);
    w.aRMax[1] = w.aGMax[1] = w.aBMax[1] = w.aYMax[1] = 2048 / 4; /* a quarter of full scale */
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    const uint8_t *st = rig.stats.data();
    const size_t roi = L::kWbsRoi + 64;
    for (int ch = 0; ch < 3; ch++) {
        // 100 pixels of linear 0.5, taken after the device's gamma (BT.709: 0.7055, 722 on the 1024 scale), all
        // above the threshold
        EXPECT_NEAR(rd32(st, roi + 24 + 4 * ch), 100 * 722, 100 * 6) << ch;
        EXPECT_EQ(rd32(st, roi + 4 + 8 * ch), 100u);
        EXPECT_EQ(rd32(st, roi + 8 * ch), rd32(st, roi + 24 + 4 * ch));
    }
    EXPECT_EQ(rd32(st, roi + 48), 100u);
    // region 0 covers the whole frame
    uint32_t wholeAvg = rd32(st, L::kWbsRoi + 24 + 4);
    EXPECT_GT(wholeAvg, 100u * 722u);
}

TEST(IspStatistics, AutoWhiteBalanceLogSumsPerCell) {
    Rig rig(options(MOSAIC_BGGR, 12));
    const Rect &p = rig.scene.layout.grey[4]; /* linear 0.5: log2(128) = 7 on the 8-bit scale */
    CI_MODULE_AWS &a = rig.reg.stats.sAutoWhiteBalanceStats;
    a.ui16GridStartColumn = static_cast<QOR_UINT16>(p.x / 2 + 2);
    a.ui16GridStartRow = static_cast<QOR_UINT16>(p.y / 2 + 2);
    a.ui16GridTileWidth = 1;  /* 2 cells */
    a.ui16GridTileHeight = 0; /* 1 cell */
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    const uint8_t *st = rig.stats.data();
    EXPECT_EQ(rd32(st, L::kAwsGrid + 12) & 0x3FFFFFu, 2u);
    for (int k = 0; k < 3; k++) {
        EXPECT_NEAR(rd32(st, L::kAwsGrid + 4 * k), 2 * 7 * 32, 4);
    }
    // a dark threshold above the patch leaves the tile empty
    a.ui16GreenDarkThresh = 200 * 256;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_EQ(rd32(st, L::kAwsGrid + 12), 0u);
}

TEST(IspStatistics, LayoutOfTheSaveStructure) {
    Rig rig(options(MOSAIC_RGGB, 10, 64, 48));
    rig.model.setFlickerVerdict(norva_sim::kFlicker60Hz);
    norva_sim::IspFrameSettings s;
    (void)s;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    const uint8_t *st = rig.stats.data();
    EXPECT_EQ(st[L::kFlicker], norva_sim::kFlicker60Hz);
    for (size_t o = L::kTimestamps; o < L::kTimestamps + 20; o++) {
        EXPECT_EQ(st[o], 0) << "timestamps are the caller's";
    }
    EXPECT_EQ(rd32(st, L::kDpfCounters), 0u);
    // a section whose output bit is off stays zero
    rig.info.config.eOutputConfig = CI_SAVE_HIST_GLOBAL;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_EQ(rd32(st, L::kExsGlobal), 0u);
    EXPECT_EQ(st[L::kFlicker], 0);
    uint64_t total = 0;
    for (int b = 0; b < 64; b++) {
        total += rd32(st, L::kHisGlobal + 4 * b);
    }
    EXPECT_EQ(total, 64u * 48u);
}

TEST(IspModel, RefusesBuffersTooSmallWithoutWriting) {
    Rig rig(options(MOSAIC_RGGB, 10, 64, 48));
    std::vector<uint8_t> small(64 * 48, 0x33);
    norva_sim::IspInputFrame in;
    in.samples = rig.scene.samples.data();
    in.width = 64, in.height = 48, in.bitDepth = 10;
    norva_sim::IspFrameSettings s;
    s.registers = &rig.reg, s.info = &rig.info, s.gamma = &rig.gamma;
    IspFrameOutputs out;
    out.encoder.data = small.data();
    out.encoder.size = small.size(); /* NV12 needs 1.5 × */
    EXPECT_EQ(rig.model.process(in, s, out), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(small.front(), 0x33);
    in.bitDepth = 17;
    EXPECT_EQ(rig.model.process(in, s, IspFrameOutputs{}), QOR_RES_INVALID_PARAM);
}

} // namespace

/* ---- driven by a load structure the library wrote ---- */

#include "ci/ci_load_hw2.h"
#include "mc/mc_pipeline.h"
#include "platform/sim_lsdecoder.h"

namespace {

TEST(IspModelFromLoadStructure, ConvertedPipelineGivesAGreyChartAndExactTotals) {
    const CI_CONNECTION dev = norva_sim::DefaultDescription();
    std::unique_ptr<MC_PIPELINE> mc(new MC_PIPELINE());
    std::unique_ptr<CI_PIPELINE> ci(new CI_PIPELINE());
    std::unique_ptr<CI_PIPELINE> decoded(new CI_PIPELINE());
    std::memset(mc.get(), 0, sizeof(MC_PIPELINE));
    std::memset(ci.get(), 0, sizeof(CI_PIPELINE));
    std::memset(decoded.get(), 0, sizeof(CI_PIPELINE));
    // the defaults of a created pipeline that the conversions do not write
    ci->config.eDataExtraction = CI_INOUT_NONE;
    ci->sEncoderScaler.bBypassScaler = 1;
    ci->sDisplayScaler.bIsDisplay = 1;
    ci->sDisplayScaler.bBypassScaler = 1;
    ci->sYCCToRGB.eType = YCC_TO_RGB;
    MC_IIFInit(&mc->sIIF);
    mc->sIIF.ui16ImagerSize[0] = 80;
    mc->sIIF.ui16ImagerSize[1] = 60;
    mc->sIIF.eBayerFormat = MOSAIC_GRBG;
    ASSERT_EQ(MC_PipelineInit(mc.get(), &dev.sHWInfo), QOR_RES_OK);
    mc->sLCA.aShift[0] = mc->sLCA.aShift[1] = 0; /* as the aberration module writes them (0 to 3) */
    mc->eEncOutput = YUV_420_PL12_8;
    mc->eDispOutput = RGB_888_24;
    // what the setup modules would write: histogram identity, clip level at the top, a half-size encoder image
    mc->sHIS.fInputOffset = 256;
    mc->sHIS.fInputScale = 32767;
    mc->sEXS.fPixelMax = 4095;
    mc->sEXS.ui16Width = 160 / 7;
    mc->sEXS.ui16Height = 120 / 7;
    mc->sDSC.bBypassDSC = 1;
    mc->sESC.bBypassESC = 0;
    mc->sESC.aOutputSize[0] = 80;
    mc->sESC.aOutputSize[1] = 60;
    mc->sESC.aPitch[0] = mc->sESC.aPitch[1] = 2.0;
    mc->sRLT.eMode = CI_RLT_CUBIC;
    for (int c = 0; c < 4; c++) {
        for (int i = 0; i < 16; i++) {
            mc->sRLT.aPoints[c][i] = static_cast<QOR_UINT16>(std::min(65535, (i + 1) * 4096));
        }
    }
    int mask = 0;
    ASSERT_EQ(MC_PipelineConvert(mc.get(), ci.get(), &mask), QOR_RES_OK);
    std::vector<char> ls(1268, 0);
    ASSERT_EQ(HW_CI_LoadPipeline(&dev.sHWInfo, ci.get(), ls.data(), CI_UPD_ALL), QOR_RES_OK);
    ASSERT_EQ(SimLS_Decode(reinterpret_cast<const QOR_UINT8 *>(ls.data()), ls.size(), decoded.get()), QOR_RES_OK);
    CI_PIPE_INFO info;
    ASSERT_EQ(QOR_CI_PipelineToInfo(ci.get(), &info), QOR_RES_OK);
    EXPECT_EQ(decoded->sRawLUT.eMode, CI_RLT_CUBIC);

    SceneOptions o = options(MOSAIC_GRBG, 10, 160, 120);
    const BayerScene scene = norva_test::MakeTestChart(o);
    std::vector<uint8_t> enc(80 * 60 * 2, 0), disp(160 * 3 * 120, 0), stats(norva_sim::kIspStatsSize);
    norva_sim::IspInputFrame in;
    in.samples = scene.samples.data();
    in.width = 160, in.height = 120, in.bitDepth = 10;
    norva_sim::IspFrameSettings s;
    s.registers = decoded.get();
    s.info = &info;
    s.gamma = &dev.sGammaLUT;
    IspFrameOutputs out;
    out.encoder.data = enc.data(), out.encoder.size = enc.size(), out.encoder.stride = out.encoder.chromaStride = 80;
    out.encoder.chromaOffset = 80 * 60;
    out.display.data = disp.data(), out.display.size = disp.size(), out.display.stride = 160 * 3;
    out.statistics = stats.data();
    IspModel model;
    norva_sim::IspFrameResult result;
    ASSERT_EQ(model.process(in, s, out, &result), QOR_RES_OK);
    EXPECT_EQ(result.sizes.encoderWidth, 80u);
    EXPECT_EQ(result.sizes.encoderHeight, 60u);
    for (const Rect &p : scene.layout.grey) {
        const size_t at = size_t(p.y + p.h / 2) * 160 * 3 + 3 * (p.x + p.w / 2);
        EXPECT_NEAR(disp[at], disp[at + 1], 3) << p.x;
        EXPECT_NEAR(disp[at + 2], disp[at + 1], 3) << p.x;
        const size_t c = 80 * 60 + size_t((p.y + p.h / 2) / 4) * 80 + ((p.x + p.w / 2) / 2 & ~1u);
        EXPECT_NEAR(enc[c], 128, 3);
        EXPECT_NEAR(enc[c + 1], 128, 3);
    }
    uint64_t total = 0;
    for (int b = 0; b < 64; b++) {
        total += rd32(stats.data(), L::kHisGlobal + 4 * b);
    }
    EXPECT_EQ(total, 160u * 120u);
    uint64_t clipped = 0;
    for (int ch = 0; ch < 4; ch++) {
        clipped += rd32(stats.data(), L::kExsGlobal + 4 * ch);
    }
    EXPECT_EQ(clipped, scene.layout.clipped.area());
}

} // namespace
