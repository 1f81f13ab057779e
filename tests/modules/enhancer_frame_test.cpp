// The memory colours on one simulated frame: the enhancer and colour-conversion modules set up for a
// Cr-first and a Cb-first encoder, their blocks converted, packed into the load structure, decoded by
// the device and run through the image model on a chart whose grey patches are tinted warm (skin-like).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ci/ci_load_hw2.h"
#include "ispc/ModuleMIE.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "mc/mc_pipeline.h"
#include "module_test_util.h"
#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "platform/sim_lsdecoder.h"
#include "support/bayer_scene.h"
#include "support/isp_frame.h"

using namespace ISPC;
using namespace norva_test;

namespace {

constexpr uint32_t kW = 320, kH = 240;

/** Mean luma and physical (Cb, Cr) of a region of the encoder output, 8-bit codes, chroma centred on 0. */
struct Colour {
    double y, cb, cr;
    double hue() const { return std::atan2(cr, cb); }
    double saturation() const { return std::hypot(cb, cr); }
};

/** One frame of the warm chart through modules, conversion, load structure, decoder and model. */
class FrameRig {
public:
    FrameRig(ePxlFormat encoder, const std::string &setup) : encoder(encoder) {
        SceneOptions o;
        o.width = kW;
        o.height = kH;
        o.bitDepth = 12;
        o.channelGain[0] = 1.3;
        o.channelGain[2] = 0.8;
        scene = MakeTestChart(o);

        registered<ModuleOUT>(rig)->encoderType = encoder;
        ModuleR2Y *r2y = registered<ModuleR2Y>(rig);
        ModuleMIE *mie = registered<ModuleMIE>(rig);
        const ParameterList list = listOf(setup);
        EXPECT_EQ(mie->load(list), QOR_RES_OK);
        EXPECT_EQ(r2y->setup(), QOR_RES_OK);
        EXPECT_EQ(mie->setup(), QOR_RES_OK);

        CI_PIPELINE reg{};
        norva_sim::IspNeutralSettings(kW, kH, &reg, &info);
        int mask = 0;
        EXPECT_EQ(MC_R2YConvert(&rig.mc().sR2Y, &reg.sRGBToYCC, &mask), QOR_RES_OK);
        EXPECT_EQ(MC_MIEConvert(&rig.mc().sMIE, &reg.sImageEnhancer, nullptr, &mask), QOR_RES_OK);
        const CI_HWINFO hw = norva_sim::DefaultDescription().sHWInfo;
        std::vector<char> ls(CI_LOAD_STRUCT_SIZE, 0);
        EXPECT_EQ(HW_CI_LoadPipeline(&hw, &reg, ls.data(), CI_UPD_ALL), QOR_RES_OK);
        EXPECT_EQ(SimLS_Decode(reinterpret_cast<const QOR_UINT8 *>(ls.data()), ls.size(), &decoded), QOR_RES_OK);
        info.config.eEncType.eFmt = encoder;
        info.config.eDispType.eFmt = PXL_NONE;
    }

    void run() {
        stride = (kW + 63) / 64 * 64;
        enc.assign(size_t(stride) * kH * 2, 0);
        std::vector<uint8_t> stats(norva_sim::kIspStatsSize, 0);
        const CI_MODULE_GMA_LUT gamma = norva_sim::DefaultDescription().sGammaLUT;
        const norva_sim::IspInputFrame in = norva_test::IspInputOf(scene);
        const norva_sim::IspFrameSettings s = norva_test::IspSettingsOf(decoded, info, gamma);
        norva_sim::IspFrameOutputs out;
        out.encoder = norva_test::SemiPlanarOutput(enc, stride, kH);
        out.statistics = stats.data();
        norva_sim::IspFrameResult result;
        ASSERT_EQ(model.process(in, s, out, &result), QOR_RES_OK);
    }

    Colour mean(const Rect &r) const {
        const bool cbFirst = ModuleR2YBase::isCbFirst(encoder);
        double y = 0, c0 = 0, c1 = 0;
        int n = 0;
        for (uint32_t py = r.y + r.h / 4; py < r.y + 3 * r.h / 4; py++) {
            for (uint32_t px = r.x + r.w / 4; px < r.x + 3 * r.w / 4; px++, n++) {
                y += enc[size_t(py) * stride + px];
                const size_t c = size_t(kH) * stride + size_t(py / 2) * stride + (px & ~1u);
                c0 += enc[c] - 128.0;
                c1 += enc[c + 1] - 128.0;
            }
        }
        return cbFirst ? Colour{y / n, c0 / n, c1 / n} : Colour{y / n, c1 / n, c0 / n};
    }

    /** Largest difference of any luma or chroma sample of a region from another frame's. */
    int largestChange(const FrameRig &o, const Rect &r) const {
        int worst = 0;
        for (uint32_t py = r.y; py < r.y + r.h; py++) {
            for (uint32_t px = r.x; px < r.x + r.w; px++) {
                const size_t l = size_t(py) * stride + px, c = size_t(kH) * stride + size_t(py / 2) * stride + px;
                worst = std::max(worst, std::abs(int(enc[l]) - int(o.enc[l])));
                worst = std::max(worst, std::abs(int(enc[c]) - int(o.enc[c])));
            }
        }
        return worst;
    }

    ePxlFormat encoder;
    TestRig rig{kW, kH};
    BayerScene scene;
    CI_PIPELINE decoded{};
    CI_PIPE_INFO info{};
    norva_sim::IspModel model;
    std::vector<uint8_t> enc;
    uint32_t stride = 0;
};

/** A memory colour centred on a colour, a luma window of +-0.06 around it, and the changes asked for. */
std::string memoryColour(const Colour &c, double hue, double saturation) {
    const double y = (4.0 * c.y - 64.0) / 876.0;
    char text[512];
    std::snprintf(text, sizeof(text),
                  "MIE_BLACK_LEVEL 0\nMIE_MEMORY_COLOURS 1\nMIE_ENABLED_0 1\nMIE_YGAINS_0 1 1 1 1\n"
                  "MIE_CCENTER_0 %.6f %.6f\nMIE_CEXTENT_0 0.03 0.03 0.03 0.03\nMIE_YMIN_0 %.6f\nMIE_YMAX_0 %.6f\n"
                  "MIE_OUT_HUE_0 %.6f\nMIE_OUT_SATURATION_0 %.6f\n",
                  c.cb / 256.0, c.cr / 256.0, y - 0.06, y + 0.06, hue, saturation);
    return text;
}

} // namespace

// The same configuration moves the same physical colour on a Cr-first (NV21) and a Cb-first (NV12)
// encoder: the memory colour's settings are mirrored with the converter's rows.
TEST(EnhancerFrame, MemoryColourMovesOnlyItsPatchInEitherChromaOrder) {
    std::vector<Colour> moved;
    for (ePxlFormat encoder : {YVU_420_PL12_8, YUV_420_PL12_8}) {
        FrameRig base(encoder, "");
        base.run();
        const norva_test::ChartLayout &l = base.scene.layout;
        const Rect &skin = l.grey[3];
        const Colour before = base.mean(skin);
        ASSERT_GT(before.saturation(), 6.0) << "the tinted patch has a hue";

        FrameRig rig(encoder, memoryColour(before, 0.1, 1.5));
        rig.run();
        const Colour after = rig.mean(skin);
        const char *name = encoder == YUV_420_PL12_8 ? "NV12" : "NV21";
        // hue 0.1 half-turn is 18 degrees; saturation 1.5 (both within the registers' steps and the weight)
        EXPECT_NEAR((after.hue() - before.hue()) * 180.0 / M_PI, 18.0, 2.0) << name;
        EXPECT_NEAR(after.saturation() / before.saturation(), 1.5, 0.1) << name;
        EXPECT_NEAR(after.y, before.y, 1.0) << name;
        // (the tinted ramp passes through the patch's colour at its luma, so part of it is inside the extent)
        for (const Rect *r : {&l.grey[0], &l.grey[1], &l.grey[2], &l.grey[4], &l.grey[5], &l.edges})
            EXPECT_LE(rig.largestChange(base, *r), 1) << name << " region at " << r->x << "," << r->y;
        for (const Rect &r : l.colour)
            EXPECT_LE(rig.largestChange(base, r), 1) << name << " colour patch at " << r.x << "," << r.y;
        moved.push_back(after);
    }
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_NEAR(moved[0].cb, moved[1].cb, 1.0);
    EXPECT_NEAR(moved[0].cr, moved[1].cr, 1.0);
}
