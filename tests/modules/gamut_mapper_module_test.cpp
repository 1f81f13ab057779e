// The main and display gamut mappers: values as loaded, clamped; the display mapper's reversal for BGR
// displays and its fixed configuration for packed YCbCr, which stays in its members until the next load.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ispc/ModuleDGM.h"
#include "ispc/ModuleMGM.h"
#include "ispc/ModuleOUT.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

namespace {

struct GamutRig {
    GamutRig(ePxlFormat disp, const std::string &text) {
        out = registered<ModuleOUT>(rig);
        out->displayType = disp;
        mgm = registered<ModuleMGM>(rig);
        dgm = registered<ModuleDGM>(rig);
        EXPECT_EQ(mgm->load(listOf(text)), QOR_RES_OK);
        EXPECT_EQ(dgm->load(listOf(text)), QOR_RES_OK);
        EXPECT_EQ(mgm->setup(), QOR_RES_OK);
        EXPECT_EQ(dgm->setup(), QOR_RES_OK);
    }
    TestRig rig;
    ModuleOUT *out;
    ModuleMGM *mgm;
    ModuleDGM *dgm;
};

std::vector<double> coeffs(const MC_GAMUTMAPPER &g) { return std::vector<double>(g.aCoeff, g.aCoeff + 6); }

const std::vector<double> kLoaded = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
const std::vector<double> kReversed = {0.6, 0.5, 0.4, 0.3, 0.2, 0.1};
const char *const kCoeffs = "MGM_COEFF 0.1 0.2 0.3 0.4 0.5 0.6\nDGM_COEFF 0.1 0.2 0.3 0.4 0.5 0.6\n";

} // namespace

TEST(GamutMappers, DefaultsAndClamping) {
    GamutRig r(RGB_888_32, "MGM_CLIP_MIN 0.5\nMGM_SLOPE -1 1 1\nMGM_COEFF 3 -3\nDGM_SRC_NORM 2.5 0.5\n");
    const MC_MGM &m = r.rig.mc().sMGM;
    EXPECT_EQ(m.fClipMin, 0.0);
    EXPECT_EQ(m.aSlope[0], 0.0);
    EXPECT_EQ(m.aCoeff[0], 2.0);
    EXPECT_EQ(m.aCoeff[1], -2.0);
    EXPECT_EQ(m.aCoeff[2], 0.0);
    EXPECT_EQ(m.fClipMax, 1.5);
    const MC_DGM &d = r.rig.mc().sDGM;
    EXPECT_EQ(d.fSrcNorm, 2.0);
    EXPECT_EQ(d.fClipMin, -0.5);
    EXPECT_EQ(d.fClipMax, 1.5);
    EXPECT_EQ(std::vector<double>(d.aSlope, d.aSlope + 3), (std::vector<double>{1, 1, 1}));
    EXPECT_EQ(coeffs(d), std::vector<double>(6, 0.0));
    EXPECT_TRUE(m.updateNeeded);
    EXPECT_TRUE(d.updateNeeded);
}

TEST(GamutMappers, CoefficientOrderByDisplayFormat) {
    const struct {
        ePxlFormat disp;
        std::vector<double> dgm;
    } cases[] = {
        {BGR_888_32, kReversed},  {BGR_888_24, kReversed}, {BGR_101010_32, kReversed},
        {BGR_161616_64, kLoaded}, {RGB_888_24, kLoaded},   {PXL_NONE, kLoaded},
    };
    for (const auto &c : cases) {
        GamutRig r(c.disp, kCoeffs);
        EXPECT_EQ(coeffs(r.rig.mc().sDGM), c.dgm) << c.disp;
        EXPECT_EQ(coeffs(r.rig.mc().sMGM), kLoaded) << c.disp;
        ParameterList val;
        r.dgm->save(val, ModuleBase::SAVE_VAL);
        EXPECT_EQ(valuesOf(val, "DGM_COEFF"), (std::vector<std::string>{"0.1", "0.2", "0.3", "0.4", "0.5", "0.6"}));
    }
}

// The fixed packed-YCbCr configuration goes into the members too: a save writes it, and another display
// keeps it until the next load brings back the file's values.
TEST(GamutMappers, PackedYccConfigurationStaysUntilTheNextLoad) {
    const std::string text = std::string(kCoeffs) + "DGM_CLIP_MAX 1.25\n";
    GamutRig r(PXL_ISP_444IL3YCbCr8, text);
    const MC_DGM &d = r.rig.mc().sDGM;
    const auto expectFixed = [&](const std::string &what) {
        EXPECT_EQ(d.fClipMin, -1.0) << what;
        EXPECT_EQ(d.fClipMax, 2.0) << what;
        EXPECT_EQ(d.fSrcNorm, 2.0) << what;
        EXPECT_EQ(std::vector<double>(d.aSlope, d.aSlope + 3), (std::vector<double>{1, 1, 0})) << what;
        EXPECT_EQ(coeffs(d), std::vector<double>(6, 0.0)) << what;
    };
    expectFixed("packed display");
    EXPECT_EQ(coeffs(r.rig.mc().sMGM), kLoaded);
    EXPECT_EQ(r.rig.mc().sMGM.fClipMax, 1.5);
    ParameterList val;
    r.dgm->save(val, ModuleBase::SAVE_VAL);
    const struct {
        const char *tag;
        std::vector<std::string> values;
    } saved[] = {
        {"DGM_CLIP_MIN", {"-1"}},
        {"DGM_SRC_NORM", {"2"}},
        {"DGM_CLIP_MAX", {"2"}},
        {"DGM_SLOPE", {"1", "1", "0"}},
        {"DGM_COEFF", std::vector<std::string>(6, "0")},
    };
    for (const auto &t : saved)
        EXPECT_EQ(valuesOf(val, t.tag), t.values) << t.tag;
    r.out->displayType = RGB_888_32;
    ASSERT_EQ(r.dgm->setup(), QOR_RES_OK);
    expectFixed("RGB display after the packed one");
    ASSERT_EQ(r.dgm->load(listOf(text)), QOR_RES_OK);
    ASSERT_EQ(r.dgm->setup(), QOR_RES_OK);
    EXPECT_EQ(d.fClipMax, 1.25);
    EXPECT_EQ(d.fClipMin, -0.5);
    EXPECT_EQ(d.aSlope[2], 1.0);
    EXPECT_EQ(coeffs(d), kLoaded);
}

TEST(GamutMappers, DisplayMapperNeedsTheOutputModule) {
    TestRig rig;
    ModuleDGM *dgm = registered<ModuleDGM>(rig);
    dgm->fClipMax = 0.75;
    rig.mc().sDGM.updateNeeded = QOR_FALSE;
    QOR_RESULT ret = QOR_RES_OK;
    const std::string log = stderrOf([&] { ret = dgm->setup(); });
    EXPECT_EQ(ret, QOR_RES_FAILED);
    EXPECT_NE(log.find("pipeline has no output module\n"), std::string::npos);
    EXPECT_NE(rig.mc().sDGM.fClipMax, 0.75);
    EXPECT_FALSE(rig.mc().sDGM.updateNeeded);
}
