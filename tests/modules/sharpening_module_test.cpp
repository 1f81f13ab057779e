// The sharpening module: the denoiser's comparison points from the sensor's noise model, the Gaussian
// gain weights, the scalar fields of its block, and its refusals.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "ispc/ModuleSHA.h"
#include "mc/mc_pipeline.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

namespace {

typedef std::array<QOR_UINT16, 7> Points;

Points pointsOf(const QOR_UINT16 (&a)[7]) {
    Points p;
    for (int k = 0; k < 7; k++)
        p[k] = a[k];
    return p;
}

std::function<void(TestSensor &)> wellAndGain(unsigned wellDepth, double gain) {
    return [=](TestSensor &s) {
        s.uiWellDepth = wellDepth;
        s.setProgrammedGain(gain);
    };
}

} // namespace

TEST(ModuleSHA, ComparisonPointsFollowTheNoiseIndex) {
    const struct {
        unsigned wellDepth;
        double gain, tauMul;
        Points simil, avoid;
    } cases[] = {
        // n = 100, between the breakpoints 64 and 128.
        {10000, 1.0, 1.0, {1, 1, 1, 1, 0, 0, 0}, {29, 25, 20, 16, 11, 7, 2}},
        // n = 12.5 reached twice.
        {10000, 8.0, 1.0, {16, 14, 11, 9, 6, 4, 1}, {31, 26, 21, 16, 12, 7, 2}},
        {5000, 4.0, 1.0, {16, 14, 11, 9, 6, 4, 1}, {31, 26, 21, 16, 12, 7, 2}},
        // n = 1, exactly a breakpoint.
        {4000, 40.0, 1.0, {904, 765, 626, 487, 348, 209, 70}, {101, 86, 70, 55, 39, 23, 8}},
        // A tau multiplier of 0 makes every avoidance point infinite: saturated in the 16-bit field.
        {10000, 1.0, 0.0, {1, 1, 1, 1, 0, 0, 0}, {65535, 65535, 65535, 65535, 65535, 65535, 65535}},
        // Well depth and gain 0: no noise index, no noise model; nothing to compare against.
        {0, 0.0, 1.0, {0, 0, 0, 0, 0, 0, 0}, {65535, 65535, 65535, 65535, 65535, 65535, 65535}},
    };
    for (const auto &c : cases) {
        TestRig rig(1920, 1080, MOSAIC_RGGB, 0x1F, wellAndGain(c.wellDepth, c.gain));
        ModuleSHA *sha = registered<ModuleSHA>(rig);
        sha->fDenoiseTau = c.tauMul;
        ASSERT_EQ(sha->setup(), QOR_RES_OK);
        EXPECT_EQ(pointsOf(rig.mc().sSHA.aDNSimil), c.simil) << c.wellDepth << " / " << c.gain;
        EXPECT_EQ(pointsOf(rig.mc().sSHA.aDNAvoid), c.avoid) << c.wellDepth << " / " << c.gain;
    }
}

TEST(ModuleSHA, NoiseModelAtTheTableEnds) {
    const struct {
        double n, sigma, tau;
    } cases[] = {
        {100.0, 0.019216, 48.4046}, {12.5, 0.0758496, 46.5898}, {128.0, 0.0159695, 48.5187},
        {1e9, 0.0159695, 48.5187},  {0.5, 0.525623, 13.998},    {0.01, 0.525623, 13.998},
    };
    for (const auto &c : cases) {
        double sigma = -1, tau = -1;
        ModuleSHA::noiseModel(c.n, sigma, tau);
        EXPECT_NEAR(sigma, c.sigma, 1e-6) << c.n;
        EXPECT_NEAR(tau, c.tau, 1e-4) << c.n;
    }
}

TEST(ModuleSHA, GainWeightsFromTheRadius) {
    const struct {
        double radius, w0, w1, w2;
    } cases[] = {
        {2.5, 37, 22, 15}, {1.0, 18, 16, 2}, {0.5, 2, 1, 1}, {5.0, 41, 21, 20}, {10.0, 42, 21, 21}, {25.0, 42, 21, 21},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleSHA *sha = registered<ModuleSHA>(rig);
        sha->fRadius = c.radius;
        ASSERT_EQ(sha->setup(), QOR_RES_OK);
        const MC_SHA &b = rig.mc().sSHA;
        EXPECT_EQ(b.aGainWeigth[0], c.w0) << c.radius;
        EXPECT_EQ(b.aGainWeigth[1], c.w1) << c.radius;
        EXPECT_EQ(b.aGainWeigth[2], c.w2) << c.radius;
    }
}

TEST(ModuleSHA, ScalarFields) {
    const struct {
        const char *text;
        double threshold;
        double strength, detail, edgeScale;
        int edgeOffset;
        bool denoise;
    } cases[] = {
        {"", 1, 57.12, 1.0, 63.75, 0, true},
        {"SHA_THRESH 0.5\nSHA_STRENGTH 1\nSHA_EDGE_OFFSET 0.5\nSHA_DENOISE_BYPASS 1\n", 17, 142.8, 1.0, 63.75, 32,
         false},
        {"SHA_THRESH 1\nSHA_STRENGTH 0\nSHA_DETAIL 0.5\nSHA_EDGE_SCALE 1\nSHA_EDGE_OFFSET -0.3\n", 33, 0.0, 0.5, 255.0,
         -19, true},
        {"SHA_EDGE_OFFSET -1\n", 1, 57.12, 1.0, 63.75, -64, true},
        // Values past the ranges are clamped by the reader.
        {"SHA_STRENGTH 3\nSHA_EDGE_OFFSET 7\nSHA_THRESH -2\n", 1, 142.8, 1.0, 63.75, 64, true},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleSHA *sha = registered<ModuleSHA>(rig);
        ASSERT_EQ(sha->load(listOf(c.text)), QOR_RES_OK);
        ASSERT_EQ(sha->setup(), QOR_RES_OK);
        const MC_SHA &b = rig.mc().sSHA;
        EXPECT_EQ(b.ui16Threshold, c.threshold) << c.text;
        EXPECT_NEAR(b.fStrength, c.strength, 1e-9) << c.text;
        EXPECT_EQ(b.fDetail, c.detail) << c.text;
        EXPECT_NEAR(b.fELWScale, c.edgeScale, 1e-9) << c.text;
        EXPECT_EQ(b.i16ELWOffset, c.edgeOffset) << c.text;
        EXPECT_EQ(b.bDenoise != 0, c.denoise) << c.text;
        EXPECT_TRUE(b.updateNeeded);
    }
}

// A control or the capture context writes the strength directly; what reaches the register
// saturates in its 8 bits whatever was written.
TEST(ModuleSHA, DirectlyWrittenStrengthSaturatesInTheRegister) {
    const struct {
        double strength;
        int reg;
    } cases[] = {{0.4, 57}, {1.0, 142}, {2.0, 255}, {1e6, 255}, {-0.5, 0}};
    for (const auto &c : cases) {
        TestRig rig;
        ModuleSHA *sha = registered<ModuleSHA>(rig);
        sha->fStrength = c.strength;
        ASSERT_EQ(sha->setup(), QOR_RES_OK);
        CI_MODULE_SHA ci{};
        int mask = 0;
        ASSERT_EQ(MC_SHAConvert(&rig.mc().sSHA, &ci, nullptr, &mask), QOR_RES_OK);
        EXPECT_EQ(ci.ui8Strength, c.reg) << c.strength;
    }
}

// The greatest edge offset the module writes (64) is one more than the 7-bit register field holds.
TEST(ModuleSHA, FullEdgeOffsetReachesTheRegisterAsItsMaximum) {
    TestRig rig;
    ModuleSHA *sha = registered<ModuleSHA>(rig);
    ASSERT_EQ(sha->load(listOf("SHA_EDGE_OFFSET 1\n")), QOR_RES_OK);
    ASSERT_EQ(sha->setup(), QOR_RES_OK);
    CI_MODULE_SHA ci{};
    int mask = 0;
    const std::string log = stderrOf([&] { MC_SHAConvert(&rig.mc().sSHA, &ci, nullptr, &mask); });
    EXPECT_EQ(ci.i8ELWOffset, 63);
    EXPECT_NE(log.find("edge offset 64 does not fit the register: 63 written"), std::string::npos) << log;
}

TEST(ModuleSHA, WithoutASensorNothingIsWritten) {
    TestRig rig;
    ModuleSHA *sha = registered<ModuleSHA>(rig);
    rig.pipeline->setSensor(nullptr);
    MC_SHA before = rig.mc().sSHA;
    before.updateNeeded = 0;
    rig.mc().sSHA.updateNeeded = 0;
    QOR_RESULT ret = QOR_RES_OK;
    const std::string log = stderrOf([&] { ret = sha->setup(); });
    EXPECT_EQ(ret, QOR_RES_UNAVAILABLE);
    EXPECT_NE(log.find("[ISPC_MOD_SHA]"), std::string::npos) << log;
    EXPECT_NE(log.find("Pipeline does not have a sensor to get information from!\n"), std::string::npos) << log;
    EXPECT_FALSE(sha->isSetup());
    EXPECT_EQ(rig.mc().sSHA.updateNeeded, 0);
    EXPECT_EQ(rig.mc().sSHA.fStrength, before.fStrength);
    EXPECT_EQ(rig.mc().sSHA.aGainWeigth[0], before.aGainWeigth[0]);
}

TEST(ModuleSHA, DenoiseTagsAreSavedOutsideTheSharpeningGroup) {
    ModuleSHA sha;
    ParameterList l;
    ASSERT_EQ(sha.save(l, ModuleBase::SAVE_DEF), QOR_RES_OK);
    const ParameterGroup g = l.getGroup("ModuleSHA");
    EXPECT_EQ(g.header, "// Sharpening parameters");
    EXPECT_EQ(g.parameters.size(), 6u);
    for (const char *tag : {"SHA_DENOISE_BYPASS", "SHA_DN_TAU_MULTIPLIER", "SHA_DN_SIGMA_MULTIPLIER"}) {
        EXPECT_TRUE(l.exists(tag)) << tag;
        EXPECT_EQ(g.parameters.count(tag), 0u) << tag;
    }
    EXPECT_EQ(infoOf(l, "SHA_RADIUS"), "double range=[0.5,10]");
    EXPECT_EQ(infoOf(l, "SHA_DN_TAU_MULTIPLIER"), "double range=[0,16]");
    EXPECT_EQ(valuesOf(l, "SHA_STRENGTH"), std::vector<std::string>{"0.4"});
}
