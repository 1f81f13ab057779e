// The HDR module: the exposure ratio taken from the sensor's bit depth, the merge weights, the tone
// curve, and its finite results where the formulas would divide by zero.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "ispc/ModuleHDR.h"
#include "mc/mc_pipeline.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

namespace {

std::function<void(TestSensor &)> bitDepth(unsigned b) {
    return [=](TestSensor &s) { s.uiBitDepth = b; };
}

/** Loads the text into a module registered with a sensor of the given bit depth and sets it up. */
struct HdrRig {
    HdrRig(unsigned bits, const std::string &text) : rig(1920, 1080, MOSAIC_RGGB, 0x1F, bitDepth(bits)) {
        hdr = registered<ModuleHDR>(rig);
        log = stderrOf([&] { loaded = hdr->load(listOf(text)); });
        EXPECT_EQ(loaded, QOR_RES_OK);
        EXPECT_EQ(hdr->setup(), QOR_RES_OK);
    }
    const MC_HDR &block() { return rig.mc().sHDR; }
    TestRig rig;
    ModuleHDR *hdr;
    QOR_RESULT loaded = QOR_RES_FAILED;
    std::string log;
};

} // namespace

TEST(ModuleHDR, ExposureRatioFromTheSensorBitDepth) {
    const struct {
        unsigned bits;
        const char *text;
        double ratio;  // held by the module
        double merged; // written into the block
        bool warned;
    } cases[] = {
        {8, "", 4, 4, false},
        {10, "", 16, 16, false},
        {12, "", 64, 64, false},
        // No ratio for 14 bits: the module holds 0 and the merge is built for ratio 1.
        {14, "", 0, 1, true},
        {10, "HDR_EXPOSURE_RATIO 0.5\n", 1, 1, false},
        {10, "HDR_EXPOSURE_RATIO 1000\n", 256, 256, false},
        {10, "HDR_EXPOSURE_RATIO 0\n", 1, 1, false},
        // A ratio that does not parse reads the definition's default 0, merged as 1.
        {10, "HDR_EXPOSURE_RATIO fast\n", 0, 1, false},
    };
    for (const auto &c : cases) {
        HdrRig r(c.bits, c.text);
        EXPECT_EQ(r.hdr->fExposureRatio, c.ratio) << c.bits << " " << c.text;
        EXPECT_EQ(r.block().fExposureRatio, c.merged) << c.bits << " " << c.text;
        EXPECT_EQ(r.block().fGain, 256.0 / c.merged) << c.bits << " " << c.text;
        EXPECT_TRUE(std::isfinite(r.block().aWeightCurve[4095]));
        const bool warned =
            r.log.find("Could not define exposure ratio for sensor bit-depth 14\n") != std::string::npos;
        EXPECT_EQ(warned, c.warned) << r.log;
    }
}

TEST(ModuleHDR, MergeWeights) {
    const struct {
        unsigned bits;
        const char *text;
        std::vector<std::pair<int, double>> weights;
    } cases[] = {
        {10, "", {{0, 1.0}, {1, 0.99611}, {2048, 0.98889}, {3072, 0.95289}, {4032, 0.06437}, {4095, 0.0000166}}},
        {8, "HDR_BLACK_LEVEL 0 64\n", {{2048, 0.86478}, {3072, 0.59472}, {4032, 0.0}, {4095, 0.0}}},
        {10, "HDR_MERGE_MODE LONG_ONLY\n", {{0, 1.0}, {2048, 1.0}, {4095, 1.0}}},
        {10, "HDR_MERGE_MODE SHORT_ONLY\n", {{0, 0.0}, {2048, 0.0}, {4095, 0.0}}},
        {10, "HDR_MERGE_MODE long_only\n", {{2048, 0.98889}}},
    };
    for (const auto &c : cases) {
        HdrRig r(c.bits, c.text);
        for (const auto &w : c.weights)
            EXPECT_NEAR(r.block().aWeightCurve[w.first], w.second, 5e-6) << c.text << " at " << w.first;
    }
}

// The tone curve is the extended Reinhard operator y = (x/W^2 + S) x / (x S + 1) on a logarithmic axis.
TEST(ModuleHDR, ToneCurve) {
    const struct {
        const char *text;
        std::vector<std::pair<int, double>> points;
    } cases[] = {
        {"", {{0, 0.0}, {1, std::ldexp(1.0, -20)}, {256, std::ldexp(1.0, -12)}, {2048, 0.03125}, {3327, 0.998046875}}},
        {"HDR_TNM_SCALE 2\nHDR_TNM_WHITE 0.5\n", {{2048, 0.0625}, {3071, 0.998046875}, {3327, 1.0}}},
        // A white point of 0: every point above 0 saturates, the undefined first point stays 0.
        {"HDR_TNM_WHITE 0\n", {{0, 0.0}, {1, 1.0}, {3327, 1.0}}},
    };
    for (const auto &c : cases) {
        HdrRig r(10, c.text);
        for (const auto &p : c.points)
            EXPECT_DOUBLE_EQ(r.block().aTNMCurve[p.first], p.second) << c.text << " at " << p.first;
    }
}

TEST(ModuleHDR, SensorFactsAndCoefficientsReachTheBlock) {
    HdrRig r(10, "HDR_LUM_COEFFS 0.3 0.6 2\nHDR_BLACK_LEVEL 12 4095\n");
    const MC_HDR &b = r.block();
    EXPECT_EQ(b.eHDRMode, HDR_NONE);
    EXPECT_EQ(b.eBayerMode, MOSAIC_RGGB);
    EXPECT_EQ(b.aFrameSize[0], 1920);
    EXPECT_EQ(b.aFrameSize[1], 1080);
    EXPECT_EQ(b.aBlackLevel[0], 12);
    EXPECT_EQ(b.aBlackLevel[1], 4095);
    EXPECT_EQ(b.aLumCoeffs[0], 0.3);
    EXPECT_EQ(b.aLumCoeffs[1], 0.6);
    EXPECT_EQ(b.aLumCoeffs[2], 1.0);
    EXPECT_TRUE(b.updateNeeded);
    HdrRig one(10, "HDR_LUM_COEFFS 0.3\n");
    EXPECT_EQ(one.block().aLumCoeffs[1], 0.7152);
    EXPECT_EQ(one.block().aLumCoeffs[2], 0.0722);
}

TEST(ModuleHDR, SavedBoundsAndDefaults) {
    ModuleHDR m;
    ParameterList max, def;
    m.save(max, ModuleBase::SAVE_MAX);
    m.save(def, ModuleBase::SAVE_DEF);
    EXPECT_EQ(valuesOf(max, "HDR_BLACK_LEVEL"), (std::vector<std::string>{"4095", "4095"}));
    EXPECT_EQ(valuesOf(max, "HDR_EXPOSURE_RATIO"), std::vector<std::string>{"256"});
    EXPECT_EQ(valuesOf(max, "HDR_TNM_SCALE"), std::vector<std::string>{"1e+08"});
    EXPECT_FALSE(max.exists("HDR_MERGE_MODE"));
    EXPECT_EQ(valuesOf(def, "HDR_MERGE_MODE"), std::vector<std::string>{"NORMAL"});
    EXPECT_EQ(infoOf(def, "HDR_MERGE_MODE"), "{NORMAL, SHORT_ONLY, LONG_ONLY}");
    EXPECT_EQ(valuesOf(def, "HDR_EXPOSURE_RATIO"), std::vector<std::string>{"0"});
    // The saved default ratio 0 reads back as the minimum 1, not as the bit-depth default.
    TestRig rig(1920, 1080, MOSAIC_RGGB, 0x1F, bitDepth(10));
    ModuleHDR *hdr = registered<ModuleHDR>(rig);
    ASSERT_EQ(hdr->load(def), QOR_RES_OK);
    EXPECT_EQ(hdr->fExposureRatio, 1.0);
}

// The HDR record converts and reports which tables changed.
TEST(ModuleHDR, ConversionReportsChangedTables) {
    HdrRig r(10, "");
    CI_MODULE_HDR ci{};
    int mask = 0;
    MC_WBC wbc{};
    ASSERT_EQ(MC_HDRConvert(&r.rig.mc().sHDR, &wbc, &ci, &mask), QOR_RES_OK);
    EXPECT_EQ(mask & CI_UPD_HDR, CI_UPD_HDR);
    EXPECT_EQ(ci.ui16ExposureRatio, 16 * 256);
    EXPECT_EQ(ci.ui16Gain, 16 * 256);
    EXPECT_EQ(ci.bUpdateWeight, 1);
    r.rig.mc().sHDR.updateNeeded = 1;
    ASSERT_EQ(MC_HDRConvert(&r.rig.mc().sHDR, &wbc, &ci, &mask), QOR_RES_OK);
    EXPECT_EQ(ci.bUpdateWeight, 0);
    EXPECT_EQ(ci.bUpdateTNM, 0);
}

// Away from the identity the curve is the extended Reinhard operator as numpy evaluates it on the same axis.
TEST(ModuleHDR, ToneCurveMatchesNumpy) {
    if (std::system("/usr/bin/python3 -c 'import numpy' > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "/usr/bin/python3 with numpy is not available";
    const char *script = "import numpy as np\n"
                         "i = np.arange(3328); e = i // 256; m = i % 256\n"
                         "v = np.where(e == 0, m, (256 + m) * 2.0 ** (e - 1)); x = v / 2.0 ** 20\n"
                         "S, W = 2.5, 0.3\n"
                         "L = x * S\n"
                         "y = L * (1 + L / (W * S) ** 2) / (1 + L)\n"
                         "print(' '.join(repr(float(t)) for t in np.clip(y, 0, 1)))\n";
    FILE *p = popen((std::string("/usr/bin/python3 -c \"") + script + "\"").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    const int status = pclose(p);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    HdrRig r(10, "HDR_TNM_SCALE 2.5\nHDR_TNM_WHITE 0.3\n");
    std::istringstream values(out);
    int checked = 0;
    for (double want; values >> want; checked++)
        EXPECT_NEAR(r.block().aTNMCurve[checked], want, 1e-12) << "point " << checked;
    EXPECT_EQ(checked, 3328);
}
