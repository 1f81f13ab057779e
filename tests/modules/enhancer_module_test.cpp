// The main image enhancer (memory colours) and the vibrancy modules, which share one block: the
// parameter sets packed into slots, the extent fit, the chroma mirror of the Cb-first encoder formats,
// and the vibrancy multipliers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ispc/ModuleMIE.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleVIB.h"
#include "mc/mc_pipeline.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

namespace {

/** A pipeline with an output module writing the given encoder format and an enhancer module. */
struct EnhancerRig {
    explicit EnhancerRig(ePxlFormat encoder = YVU_420_PL12_8) {
        registered<ModuleOUT>(rig)->encoderType = encoder;
        mie = registered<ModuleMIE>(rig);
    }
    TestRig rig;
    ModuleMIE *mie;
};

} // namespace

TEST(ModuleMIE, DefaultsGiveTheNeutralBlock) {
    EnhancerRig r;
    ASSERT_EQ(r.mie->setup(), QOR_RES_OK);
    const MC_MIE &b = r.rig.mc().sMIE;
    EXPECT_EQ(b.fBlackLevel, 80.0);
    EXPECT_FALSE(b.bMemoryColour);
    for (int j = 0; j < 3; j++) {
        EXPECT_EQ(b.aYOffset[j], 0.5);
        EXPECT_EQ(b.aYScale[j], 1.0);
        EXPECT_EQ(b.aCScale[j], 1.0);
        EXPECT_EQ(b.aRot[2 * j], 127.0 / 128);
        EXPECT_EQ(b.aRot[2 * j + 1], 0.0);
        EXPECT_EQ(b.aGaussMinY[j], 0.28125);
        EXPECT_NEAR(b.aGaussScaleY[j], 1.5333333333, 1e-9);
        EXPECT_EQ(b.aGaussCB[j], 0.5);
        EXPECT_EQ(b.aGaussCR[j], 0.5);
        EXPECT_EQ(b.aGaussKB[j], 3.0);
        EXPECT_EQ(b.aGaussKR[j], 3.0);
        for (int k = 0; k < 4; k++) {
            EXPECT_EQ(b.aGaussScale[4 * j + k], 170.0);
            EXPECT_EQ(b.aGaussGain[4 * j + k], 0.0);
        }
    }
    EXPECT_TRUE(b.updateNeeded);
    EXPECT_TRUE(r.mie->isSetup());
}

TEST(ModuleMIE, ExtentFit) {
    const struct {
        double aspect;
        double extent[4];
        int kb, kr;
        double scale[4];
    } cases[] = {
        {0.0, {0.5, 0.5, 0.5, 0.5}, 3, 3, {170, 170, 170, 170}},
        {1.0, {0.5, 0.5, 0.5, 0.5}, 19, 38, {19, 19, 19, 19}},
        // The mirror image of aspect 1: the Cr spread is the wider one.
        {-1.0, {0.5, 0.5, 0.5, 0.5}, 38, 19, {19, 19, 19, 19}},
        // Spreads of 4: 255/4 = 63.75 is best met as 64 = 1 x 64 (smaller multiplier on a tie of 0.25).
        {0.0, {4, 4, 4, 4}, 1, 1, {64, 64, 64, 64}},
    };
    for (const auto &c : cases) {
        int kb = -1, kr = -1;
        double scale[4] = {-1, -1, -1, -1};
        ModuleMIE::calculateMIEExtentParameters(c.aspect, c.extent, kb, kr, scale);
        EXPECT_EQ(kb, c.kb) << c.aspect << " " << c.extent[0];
        EXPECT_EQ(kr, c.kr) << c.aspect << " " << c.extent[0];
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(scale[i], c.scale[i]) << c.aspect << " " << c.extent[0] << " slice " << i;
    }
}

// The enhancer sees chroma in the encoder's order: for the Cb-first formats its chroma settings are
// mirrored (centres and multipliers exchanged, sines negated).
TEST(ModuleMIE, CbFirstEncoderMirrorsTheChromaSettings) {
    const std::string text = "MIE_MEMORY_COLOURS 1\nMIE_ENABLED_0 1\nMIE_CCENTER_0 -0.1 0.2\nMIE_CASPECT_0 1\n"
                             "MIE_CEXTENT_0 0.5 0.5 0.5 0.5\nMIE_OUT_HUE_0 0.5\nMIE_CROTATION_0 0.25\n";
    EnhancerRig crFirst(YVU_420_PL12_8), cbFirst(YUV_420_PL12_8);
    for (EnhancerRig *r : {&crFirst, &cbFirst}) {
        ASSERT_EQ(r->mie->load(listOf(text)), QOR_RES_OK);
        ASSERT_EQ(r->mie->setup(), QOR_RES_OK);
    }
    const MC_MIE &a = crFirst.rig.mc().sMIE, &b = cbFirst.rig.mc().sMIE;
    EXPECT_EQ(a.aRot[0], 0.0);
    EXPECT_EQ(a.aRot[1], 127.0 / 128);
    EXPECT_EQ(b.aRot[0], 0.0);
    EXPECT_EQ(b.aRot[1], -127.0 / 128);
    EXPECT_EQ(b.aGaussRot[0], a.aGaussRot[0]);
    EXPECT_EQ(b.aGaussRot[1], -a.aGaussRot[1]);
    EXPECT_NEAR(a.aGaussCB[0], 0.4, 1e-12);
    EXPECT_NEAR(a.aGaussCR[0], 0.7, 1e-12);
    EXPECT_EQ(b.aGaussCB[0], a.aGaussCR[0]);
    EXPECT_EQ(b.aGaussCR[0], a.aGaussCB[0]);
    EXPECT_EQ(a.aGaussKB[0], 19.0);
    EXPECT_EQ(a.aGaussKR[0], 38.0);
    EXPECT_EQ(b.aGaussKB[0], 38.0);
    EXPECT_EQ(b.aGaussKR[0], 19.0);
    EXPECT_TRUE(a.bMemoryColour);
}

TEST(ModuleMIE, EnabledSetsArePackedIntoTheThreeSlots) {
    const struct {
        const char *text;
        std::vector<bool> enabled;
        std::vector<double> yMin; // of each slot
        bool warned;
    } cases[] = {
        {"MIE_MEMORY_COLOURS 5\nMIE_ENABLED_0 1\nMIE_YMIN_0 0.1\nMIE_ENABLED_3 1\nMIE_YMIN_3 0.4\n",
         {true, true, false},
         {0.1, 0.4, 0.0},
         false},
        {"MIE_MEMORY_COLOURS 5\nMIE_ENABLED_0 1\nMIE_ENABLED_1 1\nMIE_ENABLED_2 1\nMIE_ENABLED_3 1\nMIE_ENABLED_4 1\n"
         "MIE_YMIN_0 0.1\nMIE_YMIN_1 0.2\nMIE_YMIN_2 0.3\nMIE_YMIN_3 0.4\n",
         {true, true, true},
         {0.1, 0.2, 0.3},
         true},
        // A count of 0 reads no set; one above 9 reads the nine there are.
        {"MIE_MEMORY_COLOURS 0\nMIE_ENABLED_0 1\n", {false, false, false}, {0, 0, 0}, false},
        {"MIE_MEMORY_COLOURS 12\nMIE_ENABLED_8 1\nMIE_YMIN_8 0.5\n", {true, false, false}, {0.5, 0, 0}, false},
        // Sets beyond the count are not read.
        {"MIE_MEMORY_COLOURS 1\nMIE_ENABLED_1 1\n", {false, false, false}, {0, 0, 0}, false},
    };
    for (const auto &c : cases) {
        ModuleMIE m;
        QOR_RESULT ret = QOR_RES_FAILED;
        const std::string log = stderrOf([&] { ret = m.load(listOf(c.text)); });
        ASSERT_EQ(ret, QOR_RES_OK);
        for (int j = 0; j < 3; j++) {
            EXPECT_EQ(m.bEnabled[j], c.enabled[j]) << c.text << " slot " << j;
            EXPECT_EQ(m.aYMin[j], c.yMin[j]) << c.text << " slot " << j;
        }
        const bool warned = log.find("Number of enabled memory colours in parameters is 5 while HW only supports 3 - "
                                     "the first 3 were enabled the other ignored.\n") != std::string::npos;
        EXPECT_EQ(warned, c.warned) << log;
    }
}

TEST(ModuleMIE, SavedValuesUseTheSlotIndices) {
    ModuleMIE m;
    ASSERT_EQ(m.load(listOf("MIE_MEMORY_COLOURS 9\nMIE_ENABLED_7 1\nMIE_CCENTER_7 0.25 -0.125\n")), QOR_RES_OK);
    ParameterList l;
    ASSERT_EQ(m.save(l, ModuleBase::SAVE_VAL), QOR_RES_OK);
    EXPECT_EQ(valuesOf(l, "MIE_MEMORY_COLOURS"), std::vector<std::string>{"3"});
    EXPECT_EQ(valuesOf(l, "MIE_ENABLED_0"), std::vector<std::string>{"1"});
    EXPECT_EQ(valuesOf(l, "MIE_CCENTER_0"), (std::vector<std::string>{"0.25", "-0.125"}));
    EXPECT_FALSE(l.exists("MIE_ENABLED_7"));
    EXPECT_EQ(l.getGroup("ModuleMIE").parameters.size(), 110u);
}

TEST(ModuleMIE, DeprecatedTagsAreWarnedAndIgnored) {
    const char *const tags[] = {"MIE_MC_ON",        "MIE_MC_YMIN",       "MIE_MC_YMAX",      "MIE_MC_YGAIN_1",
                                "MIE_MC_YGAIN_2",   "MIE_MC_YGAIN_3",    "MIE_MC_YGAIN_4",   "MIE_MC_CB0",
                                "MIE_MC_CR0",       "MIE_MC_CEXTENT_1",  "MIE_MC_CEXTENT_2", "MIE_MC_CEXTENT_3",
                                "MIE_MC_CEXTENT_4", "MIE_MC_CASPECT",    "MIE_MC_CROTATION", "MIE_MC_BRIGHTNESS",
                                "MIE_MC_CONTRAST",  "MIE_MC_SATURATION", "MIE_MC_HUE"};
    std::string text;
    for (const char *t : tags)
        text += std::string(t) + " 1\n";
    ModuleMIE m;
    const std::string log = stderrOf([&] { m.load(listOf(text)); });
    for (const char *t : tags)
        EXPECT_NE(log.find(std::string(t) + " is deprecated! Update your MIE settings.\n"), std::string::npos) << t;
    EXPECT_FALSE(m.bEnabled[0]);
    EXPECT_EQ(m.fBlackLevel, 0.0625);
}

TEST(ModuleMIE, LumaWindowScale) {
    const struct {
        const char *text;
        double minY, scaleY;
    } cases[] = {
        {"MIE_YMIN_0 0.5\nMIE_YMAX_0 1.5\n", 0.53125, (1 - 0.53125) / (1.0 - 0.53125)},
        // An empty or reversed window has no finite scale: the register's largest value is used.
        {"MIE_YMIN_0 1\nMIE_YMAX_0 1\n", 0.78125, 16.0},
        {"MIE_YMIN_0 0\nMIE_YMAX_0 0\n", 0.28125, 16.0},
    };
    for (const auto &c : cases) {
        EnhancerRig r;
        ASSERT_EQ(r.mie->load(listOf(std::string("MIE_MEMORY_COLOURS 1\nMIE_ENABLED_0 1\n") + c.text)), QOR_RES_OK);
        ASSERT_EQ(r.mie->setup(), QOR_RES_OK);
        EXPECT_EQ(r.rig.mc().sMIE.aGaussMinY[0], c.minY) << c.text;
        EXPECT_NEAR(r.rig.mc().sMIE.aGaussScaleY[0], c.scaleY, 1e-12) << c.text;
    }
}

// A centre far from neutral keeps its side in the register: the 8-bit field saturates, it does not wrap.
TEST(ModuleMIE, ChromaCentresKeepTheirSignInTheRegister) {
    const struct {
        double cb, cr;
        int ciCb, ciCr;
    } cases[] = {{-0.3, 0.3, -128, 127}, {-0.05, 0.05, -51, 50}, {0.5, -0.5, 127, -128}};
    for (const auto &c : cases) {
        EnhancerRig r;
        ASSERT_EQ(r.mie->load(listOf("MIE_MEMORY_COLOURS 1\nMIE_ENABLED_0 1\nMIE_CCENTER_0 " + std::to_string(c.cb) +
                                     " " + std::to_string(c.cr) + "\n")),
                  QOR_RES_OK);
        ASSERT_EQ(r.mie->setup(), QOR_RES_OK);
        CI_MODULE_MIE ci{};
        int mask = 0;
        ASSERT_EQ(MC_MIEConvert(&r.rig.mc().sMIE, &ci, nullptr, &mask), QOR_RES_OK);
        EXPECT_EQ(ci.aGaussCB[0], c.ciCb) << c.cb;
        EXPECT_EQ(ci.aGaussCR[0], c.ciCr) << c.cr;
    }
}

TEST(ModuleMIE, WithoutAnOutputModuleSetupIsRefused) {
    TestRig rig;
    ModuleMIE *mie = registered<ModuleMIE>(rig);
    rig.mc().sMIE.updateNeeded = 0;
    QOR_RESULT ret = QOR_RES_OK;
    const std::string log = stderrOf([&] { ret = mie->setup(); });
    EXPECT_EQ(ret, QOR_RES_UNAVAILABLE);
    EXPECT_NE(log.find("pipeline has no output module\n"), std::string::npos) << log;
    EXPECT_FALSE(rig.mc().sMIE.updateNeeded);
    EXPECT_FALSE(mie->isSetup());
}

TEST(ModuleMIE, MaximaReloadIntoTheSlots) {
    ModuleMIE first;
    ParameterList max;
    ASSERT_EQ(first.save(max, ModuleBase::SAVE_MAX), QOR_RES_OK);
    ModuleMIE m;
    ASSERT_EQ(m.load(max), QOR_RES_OK);
    for (int j = 0; j < 3; j++) {
        EXPECT_TRUE(m.bEnabled[j]);
        EXPECT_EQ(m.aYMax[j], 2.0);
        EXPECT_EQ(m.aCExtent[j][3], 4.0);
        EXPECT_EQ(m.aOutStaturation[j], 4.0);
    }
}

TEST(ModuleVIB, MultipliersFromTheCurve) {
    const struct {
        const char *text;
        bool on;
        std::vector<std::pair<int, double>> gains;
    } cases[] = {
        {"", false, {{0, 1.0}, {1, 1.0}, {15, 1.0}, {31, 1.0}}},
        {"MIE_VIB_ON 1\nMIE_VIB_SAT_CURVE 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n",
         true,
         {{0, 1.0}, {1, 31.0}, {2, 15.5}, {3, 31.0 / 3}, {31, 1.0}}},
        {"MIE_VIB_SAT_CURVE 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n",
         false,
         {{0, 1.0}, {1, 0.0}, {31, 0.0}}},
        // A value above 1 is held as 1; a curve of ten values leaves the rest on the identity.
        {"MIE_VIB_SAT_CURVE 0 1.5 0 0 0 0 0 0 0 0\n", false, {{1, 31.0}, {2, 0.0}, {9, 0.0}, {10, 1.0}, {31, 1.0}}},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleVIB *vib = registered<ModuleVIB>(rig);
        ASSERT_EQ(vib->load(listOf(c.text)), QOR_RES_OK);
        ASSERT_EQ(vib->setup(), QOR_RES_OK);
        EXPECT_EQ(rig.mc().sMIE.bVibrancy != 0, c.on) << c.text;
        for (const auto &g : c.gains)
            EXPECT_NEAR(rig.mc().sMIE.aVibrancySatMul[g.first], g.second, 1e-12) << c.text << " point " << g.first;
        EXPECT_TRUE(rig.mc().sMIE.updateNeeded);
    }
}

// The identity curve converts into 32 register multipliers of exactly 1.0 (256 in U4.8).
TEST(ModuleVIB, IdentityGivesUnitRegisterMultipliers) {
    TestRig rig;
    ModuleVIB *vib = registered<ModuleVIB>(rig);
    ASSERT_EQ(vib->setup(), QOR_RES_OK);
    CI_MODULE_MIE ci{};
    int mask = 0;
    ASSERT_EQ(MC_MIEConvert(&rig.mc().sMIE, &ci, nullptr, &mask), QOR_RES_OK);
    for (int i = 0; i < 32; i++)
        EXPECT_EQ(ci.aVibrancySatMul[i], 256) << i;
}

TEST(ModuleVIB, TwoPointCurves) {
    double a[32], b[32];
    ModuleVIB::saturationCurve(0.2, 0.4, 0.6, 0.8, a);
    ModuleVIB::saturationCurve(0.6, 0.8, 0.2, 0.4, b);
    for (int i = 0; i < 32; i++) {
        EXPECT_EQ(a[i], b[i]) << i;
        const double x = i / 31.0;
        const double expected = x <= 0.2 ? 2 * x : (x <= 0.6 ? x + 0.2 : 0.5 * x + 0.5);
        EXPECT_NEAR(a[i], expected, 1e-12) << i;
    }
    EXPECT_DOUBLE_EQ(a[31], 1.0);
    double m[32];
    ModuleVIB::setupDoublePoints(0.0, 0.3, 0.5, 0.6, m);
    EXPECT_EQ(m[0], 1.0);
    ModuleVIB::setupDoublePoints(0.5, 0.25, 0.7, 0.8, m);
    EXPECT_EQ(m[0], 0.5);
}

TEST(ModuleVIB, DefaultCurveIsSavedAsTheIdentity) {
    ModuleVIB v;
    ParameterList def, max;
    v.save(def, ModuleBase::SAVE_DEF);
    v.save(max, ModuleBase::SAVE_MAX);
    const std::vector<std::string> d = valuesOf(def, "MIE_VIB_SAT_CURVE");
    ASSERT_EQ(d.size(), 32u);
    EXPECT_EQ(d[0], "0");
    EXPECT_EQ(d[1], "0.0322581");
    EXPECT_EQ(d[2], "0.0645161");
    EXPECT_EQ(d[31], "1");
    EXPECT_EQ(valuesOf(max, "MIE_VIB_SAT_CURVE"), std::vector<std::string>(32, "1"));
}
