// The tone mapper: luma and chroma scales, the curve it writes, the local columns for each image width,
// black-and-white mode, the one-shot bypass, and the set-ups it refuses without writing anything.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ispc/ModuleTNM.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

namespace {

struct TnmRig {
    explicit TnmRig(const std::string &text = "", unsigned cellsW = 960, unsigned cellsH = 540) {
        rig.mc().sIIF.ui16ImagerSize[0] = static_cast<QOR_UINT16>(cellsW);
        rig.mc().sIIF.ui16ImagerSize[1] = static_cast<QOR_UINT16>(cellsH);
        tnm = registered<ModuleTNM>(rig);
        EXPECT_EQ(tnm->load(listOf(text)), QOR_RES_OK);
    }
    QOR_RESULT setup(std::string *log = nullptr) {
        QOR_RESULT ret = QOR_RES_FAILED;
        const std::string l = stderrOf([&] { ret = tnm->setup(); });
        if (log != nullptr)
            *log = l;
        return ret;
    }
    MC_TNM &block() { return rig.mc().sTNM; }
    TestRig rig;
    ModuleTNM *tnm;
};

} // namespace

TEST(ModuleTNM, DefaultsMapLumaOntoTheLimitedRange) {
    TnmRig r;
    ASSERT_EQ(r.setup(), QOR_RES_OK);
    const MC_TNM &b = r.block();
    EXPECT_DOUBLE_EQ(b.inputLumaScale, 256.0 / 129);
    EXPECT_EQ(b.inputLumaOffset, 64);
    EXPECT_EQ(b.outputLumaScale, 0.859375);
    EXPECT_EQ(b.outputLumaOffset, 16);
    EXPECT_DOUBLE_EQ(b.chromaIOScale, 220.0 / 129);
    EXPECT_EQ(b.chromaSaturationScale, 1);
    EXPECT_EQ(b.chromaConfigurationScale, 1);
    EXPECT_EQ(b.localWeights + b.updateWeights + b.histFlattenMin + b.histFlattenThreshold, 0);
    for (unsigned i = 0; i < ModuleTNM::N_CURVE; i++)
        EXPECT_EQ(b.aCurve[i], (i + 1) / 64.0);
    EXPECT_FALSE(b.bBypassTNM);
    EXPECT_FALSE(b.bSetTNMtoPassDataIntact);
    EXPECT_TRUE(b.updateNeeded);
    EXPECT_EQ(b.ui16LocalColumns, 16);
    TnmRig zero("TNM_IN_Y 0 0\n");
    ASSERT_EQ(zero.setup(), QOR_RES_OK);
    EXPECT_EQ(zero.block().inputLumaScale, 256);
    EXPECT_EQ(zero.block().inputLumaOffset, 128);
}

TEST(ModuleTNM, CurveWithBrightnessAndContrast) {
    const struct {
        const char *text;
        std::vector<std::pair<unsigned, double>> points;
        double member0; // the member keeps the curve before brightness and contrast
    } cases[] = {
        {"TNM_CONTRAST 0\nTNM_BRIGHTNESS 0.25\n", {{0, 0.75}, {31, 0.75}, {62, 0.75}}, 1.0 / 64},
        {"TNM_CONTRAST 2\n", {{0, 0}, {15, 0}, {16, 1.0 / 32}, {31, 0.5}, {46, 31.0 / 32}, {47, 1}, {62, 1}}, 1.0 / 64},
        // Ten curve values: the rest keep the straight line.
        {"TNM_CURVE 0 0 0 0 0 0 0 0 0 0\n", {{9, 0}, {10, 11.0 / 64}, {62, 63.0 / 64}}, 0},
    };
    for (const auto &c : cases) {
        TnmRig r(c.text);
        ASSERT_EQ(r.setup(), QOR_RES_OK);
        for (const auto &p : c.points)
            EXPECT_DOUBLE_EQ(r.block().aCurve[p.first], p.second) << c.text << " point " << p.first;
        EXPECT_EQ(r.tnm->aCurve[0], c.member0) << c.text;
    }
}

TEST(ModuleTNM, LocalColumnsFollowTheImageWidth) {
    const struct {
        unsigned pixels;
        QOR_RESULT ret;
        int columns;
        const char *log;
    } cases[] = {
        {1920, QOR_RES_OK, 16, ""},
        {640, QOR_RES_OK, 16, ""},
        {600, QOR_RES_OK, 15, "Invalid number of columns. Number of columns set to 15\n"},
        {40, QOR_RES_OK, 1, "Invalid number of columns. Number of columns set to 1\n"},
        {38, QOR_RES_NOT_SUPPORTED, -1,
         "The given input size 38 for the imager is too small for the tone mapper to work (min=40)! Disable TNM or "
         "use a bigger image setup\n"},
    };
    for (const auto &c : cases) {
        TnmRig r("", c.pixels / 2);
        r.block().ui16LocalColumns = 99;
        std::string log;
        EXPECT_EQ(r.setup(&log), c.ret) << c.pixels;
        if (*c.log == '\0')
            EXPECT_EQ(log, "") << c.pixels;
        else
            EXPECT_NE(log.find(c.log), std::string::npos) << c.pixels << log;
        EXPECT_EQ(r.block().ui16LocalColumns, c.columns < 0 ? 99 : c.columns) << c.pixels;
    }
}

TEST(ModuleTNM, BlackAndWhiteModeForcesTheChromaScales) {
    TnmRig r("TNM_BW_MODE 1\nTNM_COLOUR_SATURATION 3\nTNM_COLOUR_CONFIDENCE 2\n");
    ASSERT_EQ(r.setup(), QOR_RES_OK);
    EXPECT_EQ(r.block().chromaSaturationScale, 0);
    EXPECT_EQ(r.block().chromaConfigurationScale, 64);
}

// A bypass applies to one set-up: it writes the pass-through values with the pass-intact flag, leaves the
// block's hardware bypass as it was, and is consumed, so a save writes 0 and the next set-up the normal values.
TEST(ModuleTNM, BypassAppliesToOneSetup) {
    const struct {
        const char *how; // a setup file, or a caller setting the member
        QOR_BOOL8 hardwareBypassBefore;
    } cases[] = {{"load", QOR_FALSE}, {"load", QOR_TRUE}, {"member", QOR_FALSE}};
    for (const auto &c : cases) {
        const std::string what = std::string(c.how) + " hardware bypass " + std::to_string(c.hardwareBypassBefore);
        const bool byLoad = std::string(c.how) == "load";
        TnmRig r(std::string(byLoad ? "TNM_BYPASS 1\n" : "") +
                 "TNM_WEIGHT_LOCAL 0.5\nTNM_WEIGHT_LINE 0.25\nTNM_FLAT_MIN 0.2\nTNM_FLAT_FACTOR 0.3\n"
                 "TNM_COLOUR_SATURATION 2\nTNM_COLOUR_CONFIDENCE 3\nTNM_BRIGHTNESS 0.25\n");
        if (!byLoad)
            r.tnm->bBypass = true;
        r.block().bBypassTNM = c.hardwareBypassBefore;
        ASSERT_EQ(r.setup(), QOR_RES_OK) << what;
        const MC_TNM &b = r.block();
        EXPECT_TRUE(b.bSetTNMtoPassDataIntact) << what;
        EXPECT_EQ(b.bBypassTNM, c.hardwareBypassBefore) << what;
        const double passThrough[6] = {b.histFlattenMin,           b.histFlattenThreshold, b.chromaSaturationScale,
                                       b.chromaConfigurationScale, b.localWeights,         b.updateWeights};
        for (double v : passThrough)
            EXPECT_EQ(v, 0) << what;
        // The curve, scales and columns are written as usual.
        EXPECT_EQ(b.aCurve[0], 1.0 / 64 + 0.25) << what;
        EXPECT_EQ(b.outputLumaOffset, 16) << what;
        EXPECT_EQ(b.ui16LocalColumns, 16) << what;
        EXPECT_FALSE(r.tnm->bBypass) << what;
        ParameterList val;
        r.tnm->save(val, ModuleBase::SAVE_VAL);
        EXPECT_EQ(valuesOf(val, "TNM_BYPASS"), std::vector<std::string>{"0"}) << what;

        ASSERT_EQ(r.setup(), QOR_RES_OK) << what;
        EXPECT_FALSE(b.bSetTNMtoPassDataIntact) << what;
        EXPECT_FALSE(b.bBypassTNM) << what;
        EXPECT_EQ(b.localWeights, 0.5) << what;
        EXPECT_EQ(b.updateWeights, 0.25) << what;
        EXPECT_EQ(b.histFlattenMin, 0.2) << what;
        EXPECT_EQ(b.histFlattenThreshold, 0.3) << what;
        EXPECT_EQ(b.chromaSaturationScale, 2) << what;
        EXPECT_EQ(b.chromaConfigurationScale, 3) << what;
    }
}

// A refused set-up writes nothing into the block: no scale, curve or bypass of a half-done configuration. A
// set-up refused for a narrow imager has taken its bypass request all the same (the request is for that one
// set-up), so none is left behind for a later one.
TEST(ModuleTNM, RefusedSetupLeavesTheBlock) {
    const struct {
        const char *text;
        unsigned cellsW, cellsH;
        QOR_RESULT ret;
        const char *log;
        bool bypassLeft; // the bypass request is still there after the refusal
    } cases[] = {
        {"TNM_IN_Y 10 -10\nTNM_BYPASS 1\n", 960, 540, QOR_RES_INVALID_PARAM, "is reversed", true},
        {"TNM_IN_Y 5 4\n", 960, 540, QOR_RES_INVALID_PARAM, "is reversed", false},
        {"TNM_BYPASS 1\nTNM_CONTRAST 0\n", 19, 540, QOR_RES_NOT_SUPPORTED, "too small", false},
        {"TNM_BYPASS 1\n", 0, 540, QOR_RES_UNAVAILABLE, "IIF should be setup beforehand!\n", true},
        {"", 960, 0, QOR_RES_UNAVAILABLE, "IIF should be setup beforehand!\n", false},
    };
    for (const auto &c : cases) {
        TnmRig r(c.text, c.cellsW, c.cellsH);
        const MC_TNM before = r.block();
        r.block().updateNeeded = QOR_FALSE;
        std::string log;
        EXPECT_EQ(r.setup(&log), c.ret) << c.text;
        EXPECT_NE(log.find(c.log), std::string::npos) << c.text << log;
        EXPECT_EQ(r.block().inputLumaScale, before.inputLumaScale) << c.text;
        EXPECT_EQ(r.block().aCurve[0], before.aCurve[0]) << c.text;
        EXPECT_EQ(r.block().bSetTNMtoPassDataIntact, before.bSetTNMtoPassDataIntact) << c.text;
        EXPECT_FALSE(r.block().updateNeeded) << c.text;
        EXPECT_FALSE(r.tnm->isSetup()) << c.text;
        EXPECT_EQ(r.tnm->bBypass, c.bypassLeft) << c.text;
    }
}

// For every image width the tone mapper accepts, the columns it asks for convert into registers the
// hardware takes: columns at least 40 pixels wide and a last column that is not empty.
TEST(ModuleTNM, ColumnsConvertForEveryAcceptedWidth) {
    TnmRig r;
    for (unsigned cells = 20; cells <= 2048; cells++) {
        r.rig.mc().sIIF.ui16ImagerSize[0] = static_cast<QOR_UINT16>(cells);
        ASSERT_EQ(r.setup(), QOR_RES_OK) << cells;
        CI_MODULE_TNM reg{};
        int mask = 0;
        ASSERT_EQ(MC_TNMConvert(&r.block(), &r.rig.mc().sIIF, 1, &reg, &mask), QOR_RES_OK) << cells;
        const unsigned columns = r.block().ui16LocalColumns;
        EXPECT_GE(reg.localColWidth[0], 40) << 2 * cells << " pixels";
        EXPECT_GT(2 * cells, (columns - 1) * reg.localColWidth[0]) << 2 * cells << " pixels";
        EXPECT_NE(reg.histNormLastFactor, 0) << 2 * cells << " pixels";
    }
}
