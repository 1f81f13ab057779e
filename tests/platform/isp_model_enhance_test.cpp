// The image enhancer, vibrancy and sharpening blocks of the image model, driven by their registers:
// identity at neutral settings, vibrancy by saturation, sharpening of edges and coring of noise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "norvacommon/pixel_transform.h"
#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "support/bayer_scene.h"
#include "support/isp_frame.h"

using norva_test::BayerScene;
using norva_test::Rect;
using norva_test::SceneOptions;

namespace {

/** Neutral registers on the test chart, NV12 encoder output of 8 bits. */
struct Rig {
    CI_PIPELINE reg{};
    CI_PIPE_INFO info{};
    CI_MODULE_GMA_LUT gamma{};
    norva_sim::IspModel model;
    BayerScene scene;
    std::vector<uint8_t> enc;
    uint32_t stride = 0;

    explicit Rig(double redTint = 1.0, uint32_t w = 320, uint32_t h = 240) : scene(makeScene(w, h, redTint)) {
        norva_sim::IspNeutralSettings(w, h, &reg, &info);
        gamma = norva_sim::DefaultDescription().sGammaLUT;
        info.config.eEncType.eFmt = YUV_420_PL12_8;
        info.config.eDispType.eFmt = PXL_NONE;
    }

    static BayerScene makeScene(uint32_t w, uint32_t h, double redTint) {
        SceneOptions o;
        o.channelGain[0] = redTint;
        o.width = w;
        o.height = h;
        o.bitDepth = 12;
        return norva_test::MakeTestChart(o);
    }

    std::vector<uint8_t> run() {
        const uint32_t W = scene.options.width, H = scene.options.height;
        stride = (W + 63) / 64 * 64;
        enc.assign(size_t(stride) * H * 2, 0);
        std::vector<uint8_t> stats(norva_sim::kIspStatsSize, 0);
        const norva_sim::IspInputFrame in = norva_test::IspInputOf(scene);
        const norva_sim::IspFrameSettings s = norva_test::IspSettingsOf(reg, info, gamma);
        norva_sim::IspFrameOutputs out;
        out.encoder = norva_test::SemiPlanarOutput(enc, stride, H);
        out.statistics = stats.data();
        norva_sim::IspFrameResult result;
        EXPECT_EQ(model.process(in, s, out, &result), QOR_RES_OK);
        return enc;
    }

    uint8_t luma(uint32_t x, uint32_t y) const { return enc[size_t(y) * stride + x]; }
    /** Chroma sample k (0 first, 1 second) of the pixel's 2x2 group, centred on 0. */
    int chroma(uint32_t x, uint32_t y, int k) const {
        return int(enc[size_t(scene.options.height) * stride + size_t(y / 2) * stride + (x & ~1u) + k]) - 128;
    }
    /** Mean chroma magnitude over the centre of a rectangle. */
    double saturation(const Rect &r) const {
        double sum = 0;
        int n = 0;
        for (uint32_t y = r.y + r.h / 4; y < r.y + 3 * r.h / 4; y++) {
            for (uint32_t x = r.x + r.w / 4; x < r.x + 3 * r.w / 4; x++, n++) {
                sum += std::hypot(double(chroma(x, y, 0)), double(chroma(x, y, 1)));
            }
        }
        return sum / n;
    }
    /** Sum of the absolute luma steps between horizontal neighbours inside a rectangle. */
    double edgeEnergy(const Rect &r) const {
        double e = 0;
        for (uint32_t y = r.y + 2; y + 2 < r.y + r.h; y++) {
            for (uint32_t x = r.x + 2; x + 3 < r.x + r.w; x++) {
                e += std::abs(int(luma(x + 1, y)) - int(luma(x, y)));
            }
        }
        return e;
    }
};

void sharpening(CI_PIPELINE &r, int strength, int threshold = 1) {
    CI_MODULE_SHA &s = r.sSharpening;
    s.ui8Strength = static_cast<QOR_UINT8>(strength);
    s.ui8Threshold = static_cast<QOR_UINT8>(threshold);
    s.aGainWeight[0] = 37;
    s.aGainWeight[1] = 22;
    s.aGainWeight[2] = 15;
    s.ui8ELWScale = 255;
    s.ui8Detail = 63;
    const QOR_UINT8 simil[7] = {1, 1, 1, 1, 0, 0, 0}, avoid[7] = {29, 25, 20, 16, 11, 7, 2};
    for (int k = 0; k < 7; k++) {
        s.aDNSimil[k] = simil[k];
        s.aDNAvoid[k] = avoid[k];
    }
}

} // namespace

// Each block's neutral settings leave the frame bit for bit as it was.
TEST(IspModelEnhance, NeutralSettingsAreTheIdentity) {
    const struct {
        const char *name;
        std::function<void(CI_PIPELINE &)> set;
    } cases[] = {
        {"memory colours on, every gain 0",
         [](CI_PIPELINE &r) {
             r.sImageEnhancer.bMemoryColour = 1;
             for (int j = 0; j < 3; j++) {
                 r.sImageEnhancer.aCScale[j] = 64;
                 r.sImageEnhancer.aRot[2 * j + 1] = 60;
             }
         }},
        {"vibrancy on, every multiplier 1",
         [](CI_PIPELINE &r) {
             r.sImageEnhancer.bVibrancy = 1;
             for (QOR_UINT16 &m : r.sImageEnhancer.aVibrancySatMul)
                 m = 256;
         }},
        {"sharpening at strength 0", [](CI_PIPELINE &r) { sharpening(r, 0); }},
    };
    Rig base;
    const std::vector<uint8_t> neutral = base.run();
    for (const auto &c : cases) {
        Rig rig;
        c.set(rig.reg);
        EXPECT_TRUE(rig.run() == neutral) << c.name;
    }
}

// A curve that lifts low saturations: a slightly tinted grey gains relatively more than a colour patch.
TEST(IspModelEnhance, VibrancyLiftsLowSaturationMore) {
    Rig base(1.15);
    base.run();
    Rig rig(1.15);
    rig.reg.sImageEnhancer.bVibrancy = 1;
    for (int i = 0; i < 32; i++) {
        // 2 at no saturation, falling linearly to 1 at half of full saturation and above
        const double m = i < 16 ? 2.0 - i / 16.0 : 1.0;
        rig.reg.sImageEnhancer.aVibrancySatMul[i] = static_cast<QOR_UINT16>(std::lround(m * 256));
    }
    rig.run();
    const Rect &dull = base.scene.layout.grey[3];
    const Rect &vivid = base.scene.layout.colour[1];
    ASSERT_GT(base.saturation(dull), 2.0);
    const double gainDull = rig.saturation(dull) / base.saturation(dull);
    const double gainVivid = rig.saturation(vivid) / base.saturation(vivid);
    EXPECT_GT(gainVivid, 1.0);
    EXPECT_GT(gainDull, gainVivid + 0.3) << gainDull << " " << gainVivid;
}

TEST(IspModelEnhance, SharpeningRaisesEdgeEnergyWithStrength) {
    double previous = -1;
    for (int strength : {0, 20, 57, 100, 142}) {
        Rig rig;
        sharpening(rig.reg, strength);
        rig.run();
        const double e = rig.edgeEnergy(rig.scene.layout.edges);
        EXPECT_GT(e, previous) << "strength " << strength;
        previous = e;
    }
}

// Noise below the threshold is not sharpened: a flat patch with noise of a few codes keeps its samples.
TEST(IspModelEnhance, SharpeningLeavesNoiseBelowTheThreshold) {
    auto noisy = [](Rig &rig) {
        const Rect &p = rig.scene.layout.grey[3];
        unsigned seed = 7;
        for (uint32_t y = p.y; y < p.y + p.h; y++) {
            for (uint32_t x = p.x; x < p.x + p.w; x++) {
                seed = seed * 1103515245u + 12345u;
                rig.scene.samples[size_t(y) * rig.scene.options.width + x] += static_cast<uint16_t>((seed >> 16) % 9);
            }
        }
    };
    Rig off;
    noisy(off);
    off.run();
    Rig on;
    noisy(on);
    sharpening(on.reg, 255, 12);
    on.run();
    const Rect &p = on.scene.layout.grey[3];
    int worst = 0;
    for (uint32_t y = p.y + 2; y + 2 < p.y + p.h; y++) {
        for (uint32_t x = p.x + 4; x + 4 < p.x + p.w; x++) {
            worst = std::max(worst, std::abs(int(on.luma(x, y)) - int(off.luma(x, y))));
        }
    }
    EXPECT_LE(worst, 1);
    // the same strength does sharpen the edges
    EXPECT_GT(on.edgeEnergy(on.scene.layout.edges), off.edgeEnergy(off.scene.layout.edges) * 1.1);
}
