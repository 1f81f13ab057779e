// The light-based control and its corrections: blending, interpolation between configurations, the metered and
// smoothed light level, frames without brightness, loading and saving the configurations, several pipelines,
// statistics configuration, the printed state and degenerate inputs.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ispc/ControlLBC.h"
#include "ispc/LightCorrection.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleSHA.h"
#include "support/output_capture.h"
#include "support/sim_fixture.h"
#include "tone_rig.h"

using namespace ISPC;
using norva_test::contains;
using norva_test::metadataWith;
using norva_test::ModuleRig;
using norva_test::stderrOf;

namespace {

using Bins = std::array<unsigned, 64>;

LightCorrection correction(double level, double sharpness, double saturation, double brightness, double contrast) {
    LightCorrection c;
    c.lightLevel = level;
    c.sharpness = sharpness;
    c.saturation = saturation;
    c.brightness = brightness;
    c.contrast = contrast;
    return c;
}

void expectCorrection(const LightCorrection &got, const LightCorrection &want, const std::string &what) {
    EXPECT_NEAR(got.lightLevel, want.lightLevel, 1e-12) << what;
    EXPECT_NEAR(got.sharpness, want.sharpness, 1e-12) << what;
    EXPECT_NEAR(got.saturation, want.saturation, 1e-12) << what;
    EXPECT_NEAR(got.brightness, want.brightness, 1e-12) << what;
    EXPECT_NEAR(got.contrast, want.contrast, 1e-12) << what;
}

/** What the control wrote into a pipeline's modules, as a correction (light level unused). */
LightCorrection written(ModuleRig &r) {
    const ModuleSHA &sha = r.module<ModuleSHA>();
    const ModuleR2Y &r2y = r.module<ModuleR2Y>();
    return correction(0, sha.fStrength, r2y.fSaturation, r2y.fBrightness, r2y.fContrast);
}

/** Modules holding values no configuration has, with their update flags cleared. */
void scribble(ModuleRig &r) {
    ModuleSHA &sha = r.module<ModuleSHA>();
    ModuleR2Y &r2y = r.module<ModuleR2Y>();
    sha.fStrength = 0.9;
    r2y.fSaturation = 3;
    r2y.fBrightness = -0.3;
    r2y.fContrast = 1.7;
    sha.clearFlags();
    r2y.clearFlags();
}

/** Counts in a single bin: brightness bin / 63. */
Bins binAt(unsigned bin, unsigned count = 1000) {
    Bins b{};
    b[bin] = count;
    return b;
}

const LightCorrection kDark = correction(0.1, 0.2, 0.5, 0.1, 1.2);
const LightCorrection kBright = correction(0.5, 0.6, 1.5, -0.1, 0.8);

TEST(LightCorrectionValue, DefaultsArithmeticAndBlend) {
    expectCorrection(LightCorrection(), correction(0, 0.4, 1, 0, 1), "default");
    expectCorrection(kDark + kBright, correction(0.6, 0.8, 2.0, 0.0, 2.0), "sum");
    expectCorrection(kDark * 2.0, correction(0.2, 0.4, 1.0, 0.2, 2.4), "product");
    EXPECT_TRUE(kDark < kBright);
    EXPECT_FALSE(kBright < kDark);
    EXPECT_TRUE(kBright > kDark);
    EXPECT_FALSE(kDark < correction(0.1, 9, 9, 0, 0)); // the light level alone is compared
    expectCorrection(kDark.blend(kBright, 0.0), kDark, "ratio 0");
    expectCorrection(kDark.blend(kBright, 1.0), kBright, "ratio 1");
    expectCorrection(kDark.blend(kBright, 0.25), correction(0.2, 0.3, 0.75, 0.05, 1.1), "ratio 0.25");
    for (double bad : {1.5, -0.5, std::nan("")}) {
        LightCorrection got;
        const std::string log = stderrOf([&] { got = kDark.blend(kBright, bad); });
        expectCorrection(got, LightCorrection(), "refused ratio");
        EXPECT_TRUE(contains(log, "ISPC_LIGHTCORRECTION")) << log;
        EXPECT_TRUE(contains(log, "Blend ratio value must be between 0.0 and 1.0 (received")) << log;
    }
    const std::string log = stderrOf([&] { kDark.blend(kBright, 1.5); });
    EXPECT_TRUE(contains(log, "(received 1.500000)")) << log;
}

TEST(LightInterpolation, TableOfLevels) {
    ControlLBC lbc;
    expectCorrection(lbc.getLumaConfiguration(0.3), LightCorrection(), "no configuration");
    lbc.addConfiguration(kBright);
    expectCorrection(lbc.getLumaConfiguration(0.0), kBright, "one configuration, below");
    expectCorrection(lbc.getLumaConfiguration(1e6), kBright, "one configuration, above");
    lbc.addConfiguration(kDark);
    ASSERT_EQ(lbc.getConfigurationsNumber(), 2);
    expectCorrection(lbc.getCorrection(0), kDark, "sorted first");
    const struct {
        double level;
        LightCorrection want;
    } cases[] = {
        {0.2, kDark * 0.75 + kBright * 0.25}, // the blended light level is 0.2 too
        {0.05, kDark},
        {0.0, kDark},
        {0.1, kDark},
        {0.5, kBright},
        {0.9, kBright},
        {0.3, kDark * 0.5 + kBright * 0.5},
    };
    for (const auto &c : cases)
        expectCorrection(lbc.getLumaConfiguration(c.level), c.want, "level " + std::to_string(c.level));
    // An equal level selects the first configuration of that level in the sorted list: the first one added.
    lbc.addConfiguration(correction(0.5, 0.9, 2, 0.2, 1.5));
    expectCorrection(lbc.getLumaConfiguration(0.5), kBright, "equal levels");
    expectCorrection(lbc.getCorrection(2), correction(0.5, 0.9, 2, 0.2, 1.5), "added later, sorted later");
}

class LbcControl : public norva_test::SimTest {
protected:
    std::unique_ptr<ModuleRig> rig;
    ControlLBC lbc;
    void SetUp() override {
        SimTest::SetUp();
        rig.reset(new ModuleRig{new ModuleSHA(), new ModuleR2Y(), new ModuleHIS()});
        lbc.addPipeline(rig->pipeline.get());
        lbc.setPipelineOwner(rig->pipeline.get());
    }
    void TearDown() override {
        rig.reset();
        SimTest::TearDown();
    }
};

TEST_F(LbcControl, ConstructionDefaults) {
    EXPECT_STREQ(lbc.getLoggingName(), "ISPC_CTRL_LBC");
    EXPECT_EQ(lbc.getModuleID(), CTRL_LBC);
    EXPECT_TRUE(lbc.isEnabled());
    EXPECT_EQ(lbc.getUpdateType(), UPDATE_SHOT);
    EXPECT_TRUE(lbc.hasConverged());
    EXPECT_EQ(lbc.getUpdateSpeed(), 0.1);
    EXPECT_EQ(lbc.getLightLevel(), 1.0);
    EXPECT_EQ(lbc.getMeteredLightLevel(), 0.0);
    EXPECT_EQ(lbc.getConfigurationsNumber(), 0);
    EXPECT_FALSE(lbc.getAllowHISConfig());
    expectCorrection(lbc.getCurrentCorrection(), LightCorrection(), "current");
}

TEST_F(LbcControl, MeteringSmoothingAndProgramming) {
    // Exposure 20 ms, gain 2, brightness 21/63: metered 0.04 x 3 = 0.12.
    rig->sensor.setExposureGainState(20000, 2.0);
    const Bins b = binAt(21);
    const double metered = 0.02 * 2.0 / (21.0 / 63.0);
    const struct {
        const char *name;
        std::vector<LightCorrection> configurations;
        double speed;
        double expectedLevel;
    } cases[] = {
        // Without configurations the default correction replaces whatever the modules held.
        {"no configuration", {}, 0.1, 0.9 + 0.1 * metered},
        {"one configuration", {kBright}, 0.1, 0.9 + 0.1 * metered},
        {"speed 0 keeps 1", {kDark, kBright}, 0.0, 1.0},
        {"speed 1 takes the metered level", {kDark, kBright}, 1.0, metered},
        {"speed 0.5", {kDark, kBright}, 0.5, 0.5 + 0.5 * metered},
    };
    for (const auto &c : cases) {
        ControlLBC fresh;
        fresh.addPipeline(rig->pipeline.get());
        fresh.setPipelineOwner(rig->pipeline.get());
        for (const LightCorrection &l : c.configurations)
            fresh.addConfiguration(l);
        fresh.setUpdateSpeed(c.speed);
        scribble(*rig);
        ASSERT_EQ(fresh.update(*metadataWith(b.data())), QOR_RES_OK) << c.name;
        EXPECT_NEAR(fresh.getMeteredLightLevel(), metered, 1e-14) << c.name;
        EXPECT_NEAR(fresh.getLightLevel(), c.expectedLevel, 1e-14) << c.name;
        LightCorrection want = fresh.getLumaConfiguration(c.expectedLevel);
        if (c.configurations.empty())
            want = LightCorrection();
        expectCorrection(fresh.getCurrentCorrection(), want, c.name);
        want.lightLevel = 0;
        expectCorrection(written(*rig), want, c.name);
        EXPECT_TRUE(rig->module<ModuleSHA>().isUpdateRequested()) << c.name;
        EXPECT_TRUE(rig->module<ModuleR2Y>().isUpdateRequested()) << c.name;
    }
    // The level is carried from frame to frame as an exponential average starting at 1.
    lbc.addConfiguration(kDark);
    lbc.addConfiguration(kBright);
    double level = 1.0;
    for (int n = 0; n < 30; n++) {
        ASSERT_EQ(lbc.update(*metadataWith(b.data())), QOR_RES_OK);
        level = level * 0.9 + metered * 0.1;
        EXPECT_NEAR(lbc.getLightLevel(), level, 1e-12);
    }
    // Smoothed level 0.2 between configurations at 0.1 and 0.5: three quarters of the first.
    lbc.setUpdateSpeed(1.0);
    rig->sensor.setExposureGainState(20000, 5.0); // 0.1 / (1/2) = 0.2 with brightness one half
    Bins half{};
    half[0] = 500;
    half[63] = 500;
    ASSERT_EQ(lbc.update(*metadataWith(half.data())), QOR_RES_OK);
    EXPECT_NEAR(lbc.getLightLevel(), 0.2, 1e-15);
    LightCorrection want = kDark * 0.75 + kBright * 0.25;
    expectCorrection(lbc.getCurrentCorrection(), want, "0.75 / 0.25");
    want.lightLevel = 0;
    expectCorrection(written(*rig), want, "0.75 / 0.25 written");
}

TEST_F(LbcControl, FramesWithoutBrightnessChangeNothing) {
    lbc.addConfiguration(kDark);
    lbc.addConfiguration(kBright);
    rig->sensor.setExposureGainState(10000, 1.0);
    const Bins lit = binAt(32);
    ASSERT_EQ(lbc.update(*metadataWith(lit.data())), QOR_RES_OK);
    const double level = lbc.getLightLevel();
    const LightCorrection current = lbc.getCurrentCorrection();
    for (const Bins &b : {binAt(0, 5000000), Bins{}}) {
        scribble(*rig);
        QOR_RESULT ret = QOR_RES_FAILED;
        const std::string log = stderrOf([&] { ret = lbc.update(*metadataWith(b.data())); });
        EXPECT_EQ(ret, QOR_RES_OK);
        EXPECT_TRUE(contains(log, "Image average brightness is 0, cannot compute LBC!")) << log;
        EXPECT_EQ(lbc.getMeteredLightLevel(), 0.0);
        EXPECT_EQ(lbc.getLightLevel(), level);
        expectCorrection(lbc.getCurrentCorrection(), current, "kept");
        EXPECT_EQ(rig->module<ModuleSHA>().fStrength, 0.9);
        EXPECT_FALSE(rig->module<ModuleR2Y>().isUpdateRequested());
    }
    // Without a sensor: 17 and only the metered level cleared.
    ASSERT_EQ(lbc.update(*metadataWith(lit.data())), QOR_RES_OK);
    rig->pipeline->setSensor(nullptr);
    QOR_RESULT ret = QOR_RES_OK;
    const std::string log = stderrOf([&] { ret = lbc.update(*metadataWith(lit.data())); });
    EXPECT_EQ(ret, QOR_RES_NOT_INITIALISED);
    EXPECT_TRUE(contains(log, "ControlLBC has no sensor!"));
    EXPECT_EQ(lbc.getMeteredLightLevel(), 0.0);
}

TEST_F(LbcControl, EveryPipelineGetsTheSameValuesAndIncompleteOnesNone) {
    ModuleRig second{new ModuleSHA(), new ModuleR2Y()};
    ModuleRig noSharpening{new ModuleR2Y()};
    ModuleRig noConversion{new ModuleSHA()};
    for (ModuleRig *r : {&noSharpening, &second, &noConversion})
        lbc.addPipeline(r->pipeline.get());
    lbc.addConfiguration(kDark);
    lbc.addConfiguration(kBright);
    lbc.setUpdateSpeed(1.0);
    rig->sensor.setExposureGainState(20000, 5.0);
    Bins half{};
    half[0] = 500;
    half[63] = 500;
    noSharpening.module<ModuleR2Y>().fContrast = 1.7;
    noConversion.module<ModuleSHA>().fStrength = 0.9;
    ASSERT_EQ(lbc.update(*metadataWith(half.data())), QOR_RES_OK);
    expectCorrection(written(second), written(*rig), "second pipeline");
    EXPECT_NEAR(written(*rig).sharpness, 0.75 * 0.2 + 0.25 * 0.6, 1e-12);
    EXPECT_EQ(noSharpening.module<ModuleR2Y>().fContrast, 1.7);
    EXPECT_FALSE(noSharpening.module<ModuleR2Y>().isUpdateRequested());
    EXPECT_EQ(noConversion.module<ModuleSHA>().fStrength, 0.9);
    EXPECT_FALSE(noConversion.module<ModuleSHA>().isUpdateRequested());
}

TEST_F(LbcControl, UpdateSpeedSetterAndStatisticsConfiguration) {
    for (double bad : {1.0000001, -0.1}) {
        const std::string log = stderrOf([&] { lbc.setUpdateSpeed(bad); });
        EXPECT_EQ(lbc.getUpdateSpeed(), 0.1);
        EXPECT_TRUE(contains(log, "Update speed value must be between 0.0 and 1.0 (received")) << log;
        EXPECT_TRUE(contains(log, "ISPC_CTRL_LBC")) << log;
    }
    lbc.setUpdateSpeed(0.0);
    EXPECT_EQ(lbc.getUpdateSpeed(), 0.0);
    lbc.setUpdateSpeed(1.0);
    EXPECT_EQ(lbc.getUpdateSpeed(), 1.0);

    ControlLBC orphan;
    QOR_RESULT ret = QOR_RES_OK;
    std::string log = stderrOf([&] { ret = orphan.configureStatistics(); });
    EXPECT_EQ(ret, QOR_RES_NOT_INITIALISED);
    EXPECT_TRUE(contains(log, "ControlLBC has no pipeline owner! Cannot configure statistics."));
    ModuleRig bare{new ModuleSHA()};
    orphan.addPipeline(bare.pipeline.get());
    orphan.setPipelineOwner(bare.pipeline.get());
    log = stderrOf([&] { ret = orphan.configureStatistics(); });
    EXPECT_EQ(ret, QOR_RES_UNAVAILABLE);
    EXPECT_TRUE(contains(log, "ControlLBC cannot find HIS module"));

    ModuleHIS &his = rig->module<ModuleHIS>();
    his.ui32InputScale = 5;
    log = stderrOf([&] { ret = lbc.configureStatistics(); });
    EXPECT_EQ(ret, QOR_RES_OK);
    EXPECT_TRUE(contains(log, "Global Histograms in HIS are not enabled! The LBC will not be able to compute the "
                              "estimated brightness."));
    EXPECT_FALSE(his.bEnableGlobal);
    lbc.setAllowHISConfig(true);
    EXPECT_EQ(lbc.configureStatistics(), QOR_RES_OK);
    EXPECT_TRUE(his.bEnableGlobal);
    EXPECT_EQ(his.ui32InputOffset, 256u);
    EXPECT_EQ(his.ui32InputScale, 32767u);
    EXPECT_TRUE(his.isUpdateRequested());
}

/** The list as "TAG value..." lines in tag order, with " // info" where present. */
std::string listText(const ParameterList &list) {
    std::ostringstream os;
    for (const auto &p : list) {
        os << p.second.getTag();
        for (const std::string &v : p.second.getValues())
            os << " " << v;
        if (!p.second.getInfo().empty())
            os << " // " << p.second.getInfo();
        os << "\n";
    }
    return os.str();
}

TEST(LbcParameters, LoadCountsSortsAndDefaults) {
    const struct {
        const char *name;
        const char *text;
        int count;
        std::vector<double> levels; /**< in sorted order */
    } cases[] = {
        {"absent", "", 0, {}},
        {"not an integer", "LBC_CONFIGURATIONS many\nLBC_LIGHT_LEVEL_0 3\n", 0, {}},
        {"too many", "LBC_CONFIGURATIONS 25\nLBC_LIGHT_LEVEL_19 7\nLBC_LIGHT_LEVEL_20 8\n", 20,
         std::vector<double>(19, 0.0)},
        // Index 2 is missing: a configuration of defaults at level 0, sorted first.
        {"missing index", "LBC_CONFIGURATIONS 3\nLBC_LIGHT_LEVEL_0 5\nLBC_LIGHT_LEVEL_1 2\n", 3, {0, 2, 5}},
        {"descending",
         "LBC_CONFIGURATIONS 3\nLBC_LIGHT_LEVEL_0 9\nLBC_LIGHT_LEVEL_1 4\nLBC_LIGHT_LEVEL_2 1e9\n",
         3,
         {4, 9, 1e8}},
    };
    for (const auto &c : cases) {
        ParameterList list;
        std::istringstream lines(c.text);
        std::string tag, value;
        while (lines >> tag >> value)
            list.addParameter(Parameter(tag, value));
        ControlLBC lbc;
        lbc.addConfiguration(kDark); // replaced by the load
        EXPECT_EQ(lbc.load(list), QOR_RES_OK);
        ASSERT_EQ(lbc.getConfigurationsNumber(), c.count) << c.name;
        std::vector<double> levels = c.levels;
        if (std::string(c.name) == "too many")
            levels.push_back(7);
        for (int i = 0; i < c.count; i++)
            EXPECT_EQ(lbc.getCorrection(i).lightLevel, levels[i]) << c.name << " " << i;
    }
    // The members of a configuration, clamped to their ranges, and the defaults of the missing ones.
    ParameterList list;
    list.addParameter(Parameter("LBC_CONFIGURATIONS", "2"));
    list.addParameter(Parameter("LBC_UPDATE_SPEED", "0.25"));
    list.addParameter(Parameter("LBC_LIGHT_LEVEL_0", "3"));
    list.addParameter(Parameter("LBC_SHARPNESS_0", "2"));
    list.addParameter(Parameter("LBC_SATURATION_0", "0.01"));
    list.addParameter(Parameter("LBC_BRIGHTNESS_0", "0.25"));
    list.addParameter(Parameter("LBC_CONTRAST_0", "1.5"));
    list.addParameter(Parameter("LBC_LIGHT_LEVEL_1", "3"));
    list.addParameter(Parameter("LBC_CONTRAST_1", "0.5"));
    ControlLBC lbc;
    lbc.setUpdateSpeed(1.0);
    EXPECT_EQ(lbc.load(list), QOR_RES_OK);
    EXPECT_EQ(lbc.getUpdateSpeed(), 0.25);
    EXPECT_EQ(lbc.getLightLevel(), 1.0);
    ASSERT_EQ(lbc.getConfigurationsNumber(), 2);
    // Equal light levels keep their load order.
    expectCorrection(lbc.getCorrection(0), correction(3, 1, 0.1, 0.25, 1.5), "index 0");
    expectCorrection(lbc.getCorrection(1), correction(3, 0.4, 1, 0, 0.5), "index 1");
    expectCorrection(lbc.getLumaConfiguration(3), lbc.getCorrection(0), "equal level");
}

TEST(LbcParameters, GoldenSaveAndPrintState) {
    ControlLBC lbc;
    ParameterList loaded;
    loaded.addParameter(Parameter("LBC_CONFIGURATIONS", "2"));
    loaded.addParameter(Parameter("LBC_LIGHT_LEVEL_0", "0.5"));
    loaded.addParameter(Parameter("LBC_SHARPNESS_0", "0.6"));
    loaded.addParameter(Parameter("LBC_LIGHT_LEVEL_1", "0.1"));
    loaded.addParameter(Parameter("LBC_SATURATION_1", "0.5"));
    lbc.load(loaded);
    const struct {
        ModuleBase::SaveType type;
        const char *text;
    } saves[] = {
        // Saved back in ascending light level: the indices are reversed.
        {ModuleBase::SAVE_VAL,
         "LBC_BRIGHTNESS_0 0\nLBC_BRIGHTNESS_1 0\nLBC_CONFIGURATIONS 2\nLBC_CONTRAST_0 1\nLBC_CONTRAST_1 1\n"
         "LBC_LIGHT_LEVEL_0 0.1\nLBC_LIGHT_LEVEL_1 0.5\nLBC_SATURATION_0 0.5\nLBC_SATURATION_1 1\n"
         "LBC_SHARPNESS_0 0.4\nLBC_SHARPNESS_1 0.6\nLBC_UPDATE_SPEED 0.1\n"},
        {ModuleBase::SAVE_MIN, "LBC_BRIGHTNESS_0 -0.5\nLBC_CONFIGURATIONS 0\nLBC_CONTRAST_0 0\nLBC_LIGHT_LEVEL_0 0\n"
                               "LBC_SATURATION_0 0.1\nLBC_SHARPNESS_0 0\nLBC_UPDATE_SPEED 0\n"},
        {ModuleBase::SAVE_MAX,
         "LBC_BRIGHTNESS_0 0.5\nLBC_CONFIGURATIONS 20\nLBC_CONTRAST_0 2\nLBC_LIGHT_LEVEL_0 1e+08\n"
         "LBC_SATURATION_0 10\nLBC_SHARPNESS_0 1\nLBC_UPDATE_SPEED 1\n"},
        {ModuleBase::SAVE_DEF,
         "LBC_BRIGHTNESS_0 0 // double range=[-0.5,0.5]\nLBC_CONFIGURATIONS 0 // int range=[0,20]\n"
         "LBC_CONTRAST_0 1 // double range=[0,2]\nLBC_LIGHT_LEVEL_0 0 // double range=[0,1e+08]\n"
         "LBC_SATURATION_0 1 // double range=[0.1,10]\nLBC_SHARPNESS_0 0.4 // double range=[0,1]\n"
         "LBC_UPDATE_SPEED 0.1 // double range=[0,1]\n"},
    };
    for (const auto &s : saves) {
        ParameterList list;
        EXPECT_EQ(lbc.save(list, s.type), QOR_RES_OK);
        EXPECT_EQ(listText(list), s.text) << s.type;
        ASSERT_TRUE(list.hasGroup("ControlLBC"));
        const ParameterGroup g = list.getGroup("ControlLBC");
        EXPECT_EQ(g.header, "// Light Based Controls parameters");
        EXPECT_EQ(g.parameters.size(), 2u + 5u * 20u);
        EXPECT_EQ(g.parameters.count("LBC_CONTRAST_19"), 1u);
    }
    // A value save after a load gives a list that loads back to the same configurations.
    ParameterList saved;
    lbc.save(saved);
    ControlLBC again;
    again.load(saved);
    ASSERT_EQ(again.getConfigurationsNumber(), 2);
    for (int i = 0; i < 2; i++)
        expectCorrection(again.getCorrection(i), lbc.getCorrection(i), "reloaded");

    std::ostringstream os;
    lbc.printState(os);
    EXPECT_EQ(os.str(), "  ISPC_CTRL_LBC:\n    config:\n      enabled = 1\n      updateSpeed = 0.1\n    state:\n"
                        "      meteredLightLevel = 0\n      lightLevel = 1\n");
}

TEST_F(LbcControl, DegenerateInputsGiveFiniteLevels) {
    lbc.addConfiguration(kDark);
    lbc.addConfiguration(kBright);
    const struct {
        const char *name;
        unsigned long exposure;
        double gain;
        Bins bins;
        double speed;
    } cases[] = {
        {"single dark bin", 33333, 16, binAt(1, 1), 0.1},
        {"saturated counts", 33333, 16,
         [] {
             Bins b;
             b.fill(0xFFFFFFFFu);
             return b;
         }(),
         0.1},
        {"zero gain", 10000, 0, binAt(30), 0.1},
        {"zero exposure", 0, 4, binAt(30), 0.5},
        {"huge gain", 4000000000ul, 1e300, binAt(1, 1), 0.0},
        {"infinite gain", 10000, HUGE_VAL, binAt(30), 0.0},
        {"not-a-number gain", 10000, std::nan(""), binAt(30), 1.0},
    };
    for (const auto &c : cases) {
        rig->sensor.setExposureGainState(c.exposure, c.gain);
        lbc.setUpdateSpeed(c.speed);
        stderrOf([&] { EXPECT_EQ(lbc.update(*metadataWith(c.bins.data())), QOR_RES_OK) << c.name; });
        EXPECT_TRUE(std::isfinite(lbc.getLightLevel())) << c.name;
        EXPECT_TRUE(std::isfinite(lbc.getMeteredLightLevel())) << c.name;
        const LightCorrection w = written(*rig);
        EXPECT_TRUE(std::isfinite(w.sharpness + w.saturation + w.brightness + w.contrast)) << c.name;
    }
}

} // namespace
