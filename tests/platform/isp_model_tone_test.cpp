// The simulated tone mapper: input and output luma ranges, chroma scales, black-and-white, bypass and the local
// correction, on the test chart with the conversion writing full-range BT.709 (as the colour-space module does);
// and the display side of the colour chain: the display converter's offsets and the packed-YCbCr configuration.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "support/bayer_scene.h"
#include "support/isp_frame.h"

using norva_test::Rect;

namespace {

/** The chart through the model; the encoder output is NV21-ordered (hardware order: Cr first). */
struct ToneRig {
    CI_PIPELINE reg{};
    CI_PIPE_INFO info{};
    CI_MODULE_GMA_LUT gamma{};
    norva_sim::IspModel model;
    norva_test::BayerScene scene;
    std::vector<uint8_t> enc, disp, stats;
    uint32_t W, H;

    explicit ToneRig(uint32_t w = 320, uint32_t h = 240) : scene(chart(w, h)), W(w), H(h) {
        norva_sim::IspNeutralSettings(W, H, &reg, &info);
        gamma = norva_sim::DefaultDescription().sGammaLUT;
        info.config.eEncType.eFmt = YVU_420_PL12_8;
        info.config.eDispType.eFmt = RGB_888_24;
        // full-range BT.709 rows (S2.10) and no luma offset, as the colour-space module writes them
        static const QOR_INT16 r2y[3][3] = {{512, -465, -47}, {218, 732, 74}, {-117, -395, 512}};
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++) {
                reg.sRGBToYCC.aCoeff[i][j] = r2y[i][j];
            }
            reg.sRGBToYCC.aOffset[i] = 0;
        }
    }

    static norva_test::BayerScene chart(uint32_t w, uint32_t h) {
        norva_test::SceneOptions o;
        o.width = w;
        o.height = h;
        o.bitDepth = 12;
        return norva_test::MakeTestChart(o);
    }

    /** The tone-mapper registers the module writes with its defaults for this width (identity curve). */
    void moduleDefaults() {
        CI_MODULE_TNM &t = reg.sToneMapping;
        t.bBypassTNM = 0;
        t.inputLumaOffset = 64 * 16;                                                 /* U8.4 of 64 */
        t.inputLumaScale = static_cast<QOR_UINT16>(std::lround(256.0 / 129 * 4096)); /* U4.12 */
        t.outputLumaOffset = 16 * 16;
        t.outputLumaScale = 3520;                                                    /* 0.859375 */
        t.chromaIOScale = static_cast<QOR_UINT16>(std::lround(220.0 / 129 * 16384)); /* U2.14 */
        t.chromaSaturationScale = 256;
        t.chromaConfigurationScale = 1024;
        t.localColumns = 15;
        t.localColWidth[0] = static_cast<QOR_UINT16>((W + 15) / 16);
        t.localWeights = 0;
    }

    void run() {
        enc.assign(size_t(W) * H * 3 / 2, 0);
        disp.assign(size_t(W) * H * 3, 0);
        stats.assign(norva_sim::kIspStatsSize, 0);
        const norva_sim::IspInputFrame in = norva_test::IspInputOf(scene);
        const norva_sim::IspFrameSettings s = norva_test::IspSettingsOf(reg, info, gamma);
        norva_sim::IspFrameOutputs out;
        out.encoder = norva_test::SemiPlanarOutput(enc, W, H);
        out.display.data = disp.data();
        out.display.size = disp.size();
        out.display.stride = 3 * W;
        out.statistics = stats.data();
        norva_sim::IspFrameResult result;
        ASSERT_EQ(model.process(in, s, out, &result), QOR_RES_OK);
    }

    /** Mean over the centre half of a rectangle: plane 0 luma, 1 first chroma (Cr), 2 second chroma (Cb). */
    double mean(const Rect &r, int plane) const {
        double sum = 0;
        uint32_t n = 0;
        for (uint32_t y = r.y + r.h / 4; y < r.y + 3 * r.h / 4; y++) {
            for (uint32_t x = r.x + r.w / 4; x < r.x + 3 * r.w / 4; x++, n++) {
                sum += plane == 0 ? enc[size_t(y) * W + x]
                                  : enc[size_t(W) * H + size_t(y / 2) * W + (x & ~1u) + plane - 1];
            }
        }
        return sum / n;
    }
    double luma(const Rect &r) const { return mean(r, 0); }
};

} // namespace

// The module's default ranges with the identity curve turn full-range luma into 16…235 and shrink chroma about 128
// by the same factor; greys keep their chroma at 128.
TEST(IspModelTone, DefaultRangesGiveLimitedRange) {
    ToneRig full;
    full.reg.sToneMapping.bBypassTNM = 1;
    full.run();
    ToneRig lim;
    lim.moduleDefaults();
    lim.run();
    const auto &layout = full.scene.layout;
    const double gain = 256.0 / 129 * 220 / 256 / 2; /* per luma code of the full range */
    for (const Rect &g : layout.grey) {
        EXPECT_NEAR(lim.luma(g), 16.0 + full.luma(g) * gain, 1.0);
        EXPECT_NEAR(lim.mean(g, 1), 128.0, 1.0);
        EXPECT_NEAR(lim.mean(g, 2), 128.0, 1.0);
    }
    for (const Rect &c : layout.colour) {
        for (int p = 1; p <= 2; p++) {
            EXPECT_NEAR(lim.mean(c, p) - 128.0, (full.mean(c, p) - 128.0) * gain, 1.0) << p;
        }
    }
    // the clipped white lands one code below the top of the output range: the scales count 129 input and 220
    // output levels
    EXPECT_NEAR(lim.luma(layout.clipped), 234.0, 1.0);
}

struct ToneCase {
    const char *name;
    std::function<void(CI_MODULE_TNM &)> change;
    double lumaShift;    /* expected mean luma change on a mid grey, codes; NAN: not checked */
    double chromaFactor; /* expected chroma scale on a colour patch; NAN: not checked */
};

void PrintTo(const ToneCase &c, std::ostream *os) { *os << c.name; }

class ToneRegisters : public testing::TestWithParam<ToneCase> {};

// Each register of the block moves the picture the documented way, against the module's defaults.
TEST_P(ToneRegisters, MoveThePictureAsDocumented) {
    ToneRig base;
    base.moduleDefaults();
    base.run();
    ToneRig rig;
    rig.moduleDefaults();
    GetParam().change(rig.reg.sToneMapping);
    rig.run();
    const Rect &grey = base.scene.layout.grey[3];
    const Rect &colour = base.scene.layout.colour[0];
    if (!std::isnan(GetParam().lumaShift)) {
        EXPECT_NEAR(rig.luma(grey) - base.luma(grey), GetParam().lumaShift, 1.0);
    }
    if (!std::isnan(GetParam().chromaFactor)) {
        for (int p = 1; p <= 2; p++) {
            EXPECT_NEAR(rig.mean(colour, p) - 128.0, (base.mean(colour, p) - 128.0) * GetParam().chromaFactor, 1.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tone, ToneRegisters,
    testing::Values(ToneCase{"OutputOffsetLifts", [](CI_MODULE_TNM &t) { t.outputLumaOffset += 10 * 16; }, 10.0, 1.0},
                    ToneCase{"SaturationHalves", [](CI_MODULE_TNM &t) { t.chromaSaturationScale = 128; }, 0.0, 0.5},
                    ToneCase{"BlackAndWhite",
                             [](CI_MODULE_TNM &t) {
                                 t.chromaSaturationScale = 0;
                                 t.chromaConfigurationScale = 64 * 1024 - 1;
                             },
                             0.0, 0.0},
                    ToneCase{"ChromaInOutDoubles", [](CI_MODULE_TNM &t) { t.chromaIOScale *= 2; }, 0.0, 2.0},
                    ToneCase{"CurveHalvesLuma",
                             [](CI_MODULE_TNM &t) {
                                 for (int i = 0; i < 63; i++) {
                                     t.aCurve[i] = static_cast<QOR_UINT16>((i + 1) * 16);
                                 }
                                 t.chromaConfigurationScale = 0; /* chroma does not follow the curve */
                             },
                             NAN, 1.0}),
    [](const testing::TestParamInfo<ToneCase> &i) { return std::string(i.param.name); });

// A curve that halves luma halves the luma above the foot; with the confidence at 1 chroma follows it.
TEST(IspModelTone, ChromaFollowsTheCurveByTheConfidence) {
    ToneRig base;
    base.moduleDefaults();
    base.run();
    ToneRig half;
    half.moduleDefaults();
    for (int i = 0; i < 63; i++) {
        half.reg.sToneMapping.aCurve[i] = static_cast<QOR_UINT16>((i + 1) * 16);
    }
    half.run();
    const Rect &grey = base.scene.layout.grey[4];
    const Rect &colour = base.scene.layout.colour[1];
    EXPECT_NEAR(half.luma(grey) - 16.0, (base.luma(grey) - 16.0) / 2.0, 1.0);
    for (int p = 1; p <= 2; p++) {
        EXPECT_NEAR(half.mean(colour, p) - 128.0, (base.mean(colour, p) - 128.0) / 2.0, 1.5);
    }
}

// The hardware bypass passes luma and chroma through whatever the other registers say.
TEST(IspModelTone, BypassChangesNothing) {
    ToneRig plain;
    plain.reg.sToneMapping = CI_MODULE_TNM{};
    plain.reg.sToneMapping.bBypassTNM = 1;
    plain.run();
    ToneRig odd;
    odd.moduleDefaults();
    odd.reg.sToneMapping.chromaSaturationScale = 0;
    odd.reg.sToneMapping.localWeights = 1023;
    odd.reg.sToneMapping.bBypassTNM = 1;
    odd.run();
    EXPECT_EQ(plain.enc, odd.enc);
    EXPECT_EQ(plain.disp, odd.disp);
}

// The tone mapper's pass-intact set-up (chroma scales, weights and flattening 0, curve and ranges as the module
// writes them) passes the data as the bypass does; black-and-white mode (saturation 0 at full confidence) does not.
TEST(IspModelTone, PassIntactSetUpChangesNothing) {
    ToneRig bypass;
    bypass.moduleDefaults();
    bypass.reg.sToneMapping.bBypassTNM = 1;
    bypass.run();
    ToneRig intact, grey;
    for (ToneRig *r : {&intact, &grey}) {
        r->moduleDefaults();
        r->reg.sToneMapping.chromaSaturationScale = 0;
    }
    intact.reg.sToneMapping.chromaConfigurationScale = 0;
    intact.run();
    grey.run();
    EXPECT_EQ(bypass.enc, intact.enc);
    EXPECT_EQ(bypass.disp, intact.disp);
    EXPECT_NE(bypass.enc, grey.enc);
}

// Full local weight moves each column's mean input to mid scale: a dark left half and a bright right half in two
// columns come out nearer each other than the global curve leaves them, each keeping its own detail.
TEST(IspModelTone, LocalCorrectionEvensOutColumns) {
    ToneRig global, local;
    for (ToneRig *r : {&global, &local}) {
        r->moduleDefaults();
        r->reg.sToneMapping.localColumns = 1;
        r->reg.sToneMapping.localColWidth[0] = 160;
    }
    local.reg.sToneMapping.localWeights = 1023;
    global.run();
    local.run();
    const Rect &ramp = global.scene.layout.ramp; /* dark at the left, bright at the right */
    const Rect left{ramp.x, ramp.y, 16, ramp.h}, right{ramp.x + ramp.w - 16, ramp.y, 16, ramp.h};
    const double globalGap = global.luma(right) - global.luma(left);
    const double localGap = local.luma(right) - local.luma(left);
    EXPECT_GT(globalGap, 60.0);
    EXPECT_LT(localGap, globalGap);
}

// The display converter's offsets are in output order: a converter programmed with its chroma inputs exchanged
// (Cb-first planes) keeps them, one with its R and B outputs exchanged carries them exchanged, and both give the
// colours of the plain arrangement (red and blue exchanged with the outputs). Chroma offsets that differ show it.
TEST(IspModelColour, DisplayOffsetsFollowTheOutputRows) {
    const struct {
        const char *name;
        bool cbFirst;       /* encoder converter's chroma rows and display converter's columns exchanged */
        bool rowsExchanged; /* display converter's R and B rows exchanged */
        bool offsetsExchanged;
        bool sameColours;
    } cases[] = {
        {"Cb first", true, false, false, true},
        {"R and B exchanged", false, true, true, true},
        {"both", true, true, true, true},
        {"R and B exchanged, offsets not", false, true, false, false},
    };
    const auto arrange = [](ToneRig &rig, bool cbFirst, bool rows, bool offsets) {
        rig.moduleDefaults();
        CI_MODULE_PLANECONV &y2r = rig.reg.sYCCToRGB;
        y2r.aOffset[0] = -112 * 4; /* the red difference 16 codes above the mid level */
        if (cbFirst) {
            rig.info.config.eEncType.eFmt = YUV_420_PL12_8;
            for (int j = 0; j < 3; j++) {
                std::swap(rig.reg.sRGBToYCC.aCoeff[0][j], rig.reg.sRGBToYCC.aCoeff[2][j]);
            }
            for (auto &row : y2r.aCoeff) {
                std::swap(row[0], row[2]);
            }
        }
        if (rows) {
            for (int j = 0; j < 3; j++) {
                std::swap(y2r.aCoeff[0][j], y2r.aCoeff[2][j]);
            }
        }
        if (offsets) {
            std::swap(y2r.aOffset[0], y2r.aOffset[2]);
        }
    };
    ToneRig plain;
    arrange(plain, false, false, false);
    plain.run();
    for (const auto &c : cases) {
        ToneRig rig;
        arrange(rig, c.cbFirst, c.rowsExchanged, c.offsetsExchanged);
        rig.run();
        size_t differing = 0;
        const int first = c.rowsExchanged ? 2 : 0;
        for (size_t i = 0; i < rig.disp.size(); i += 3) {
            differing += rig.disp[i + first] != plain.disp[i] || rig.disp[i + 1] != plain.disp[i + 1] ||
                         rig.disp[i + 2 - first] != plain.disp[i + 2];
        }
        EXPECT_EQ(differing == 0, c.sameColours) << c.name << ": " << differing << " pixels differ";
    }
}

// The display gamut mapper's packed-YCbCr configuration (clip -1...2, normalisation 2, slopes 1 1 0) with the
// YUV-to-YUV permutation leaves the 4:4:4 data intact: the packed luma equals the encoder's luma, greys keep their
// chroma at the mid level.
TEST(IspModelGamut, PackedYCbCrConfigurationKeepsTheData) {
    ToneRig rig;
    rig.moduleDefaults();
    rig.info.config.eDispType.eFmt = PXL_ISP_444IL3YCbCr8;
    CI_MODULE_PLANECONV &y2r = rig.reg.sYCCToRGB;
    y2r = CI_MODULE_PLANECONV{};
    y2r.aCoeff[0][2] = y2r.aCoeff[1][0] = y2r.aCoeff[2][1] = 512; /* Cb, Cr, Y from the Cr-first planes */
    CI_MODULE_GAMUTMAPPER &dgm = rig.reg.sDisplayGamutMapper;
    dgm.i16ClipMin = -512;  /* S10.2 of 256 x -1 / 2 */
    dgm.ui16ClipMax = 1024; /* S10.2 of 256 x 2 / 2 */
    dgm.ui16SrcNorm = 2048;
    dgm.aSlope[0] = dgm.aSlope[1] = 1024;
    dgm.aSlope[2] = 0;
    rig.run();
    size_t same = 0;
    for (size_t i = 0; i < size_t(rig.W) * rig.H; i++) {
        same += rig.disp[3 * i] == rig.enc[i] ? 1 : 0;
    }
    EXPECT_EQ(same, size_t(rig.W) * rig.H);
    for (const Rect &g : rig.scene.layout.grey) {
        const size_t at = 3 * (size_t(g.y + g.h / 2) * rig.W + g.x + g.w / 2);
        EXPECT_NEAR(rig.disp[at + 1], 128, 1);
        EXPECT_NEAR(rig.disp[at + 2], 128, 1);
    }
}
