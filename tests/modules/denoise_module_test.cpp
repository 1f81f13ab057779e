// The denoise module: its parameters, the noise model it takes from the sensor and the threshold
// table its set-up computes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ispc/ModuleDNS.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

namespace {

/** A sensor with the given noise model and last programmed gain. */
std::function<void(TestSensor &)> noiseModel(double gain, unsigned bitDepth, unsigned wellDepth, double readNoise) {
    return [=](TestSensor &s) {
        s.setProgrammedGain(gain);
        s.uiBitDepth = bitDepth;
        s.uiWellDepth = wellDepth;
        s.flReadNoise = readNoise;
    };
}

} // namespace

TEST(ModuleDNS, FreshModuleHoldsTheFixedNoiseModelAndWritesZeroThresholds) {
    TestRig rig(1920, 1080, MOSAIC_RGGB, 0x1F, noiseModel(3.0, 12, 9000, 2.0));
    ModuleDNS *dns = registered<ModuleDNS>(rig); // registering does not load
    EXPECT_TRUE(dns->bCombine);
    EXPECT_EQ(dns->fStrength, 0.0);
    EXPECT_EQ(dns->fGreyscaleThreshold, 0.25);
    EXPECT_EQ(dns->fSensorGain, 1.0);
    EXPECT_EQ(dns->ui32SensorBitdepth, 10u);
    EXPECT_EQ(dns->ui32SensorWellDepth, 10u);
    EXPECT_EQ(dns->fSensorReadNoise, 1.0);
    for (double &t : rig.mc().sDNS.aPixThresLUT)
        t = -1.0;
    ASSERT_EQ(dns->setup(), QOR_RES_OK);
    for (double t : rig.mc().sDNS.aPixThresLUT)
        EXPECT_EQ(t, 0.0);
    EXPECT_TRUE(rig.mc().sDNS.bCombineChannels);
    EXPECT_EQ(rig.mc().sDNS.fGreyscalePixelThreshold, 0.25);
    EXPECT_EQ(rig.mc().sDNS.ui8SensorBitdepth, 10);
    EXPECT_TRUE(rig.mc().sDNS.updateNeeded);
    EXPECT_TRUE(dns->isSetup());
}

TEST(ModuleDNS, ThresholdsFollowTheNoiseModel) {
    const struct {
        double strength, gain;
        QOR_UINT32 wellDepth;
        double readNoise;
        std::vector<std::pair<int, double>> expected; // (index, threshold); index 1 is x = 2, 8 is 16, 14 is 64
    } cases[] = {
        {1.0, 1.0, 10000, 5.0, {{0, 0.128}, {1, 0.25997}, {14, 1.28638}, {20, 2.56320}}},
        {2.0, 4.0, 6000, 2.5, {{0, 0.853333}, {8, 3.413333}}},
        // Strength 0 switches the table off whatever the sensor.
        {0.0, 16.0, 300, 40.0, {{0, 0.0}, {10, 0.0}, {20, 0.0}}},
        // No read noise: nothing at black, shot noise above it.
        {1.0, 1.0, 256, 0.0, {{0, 0.0}, {1, std::sqrt(2.0)}, {20, 16.0}}},
        // A well depth of 0 has no noise model: the table is left off rather than filled with infinities.
        {1.0, 1.0, 0, 5.0, {{0, 0.0}, {20, 0.0}}},
        {6.0, 2.0, 0, 0.0, {{0, 0.0}, {20, 0.0}}},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleDNS *dns = registered<ModuleDNS>(rig);
        dns->fStrength = c.strength;
        dns->fSensorGain = c.gain;
        dns->ui32SensorWellDepth = c.wellDepth;
        dns->fSensorReadNoise = c.readNoise;
        QOR_RESULT ret = QOR_RES_FAILED;
        const std::string log = stderrOf([&] { ret = dns->setup(); });
        ASSERT_EQ(ret, QOR_RES_OK);
        const MC_DNS &b = rig.mc().sDNS;
        for (const auto &e : c.expected) {
            EXPECT_NEAR(b.aPixThresLUT[e.first], e.second, 5e-6)
                << "strength " << c.strength << " well " << c.wellDepth << " index " << e.first;
        }
        for (double t : b.aPixThresLUT)
            EXPECT_TRUE(std::isfinite(t));
        EXPECT_EQ(contains(log, "sensor well depth is 0"), c.wellDepth == 0) << log;
    }
}

TEST(ModuleDNS, KnotsLieAtTheTableIntensities) {
    // Gain 1 over a well of 256 without read noise: each threshold is the root of its intensity.
    const double knots[21] = {0, 2, 4, 6, 8, 10, 12, 14, 16, 24, 32, 40, 48, 56, 64, 96, 128, 160, 192, 224, 256};
    TestRig rig;
    ModuleDNS *dns = registered<ModuleDNS>(rig);
    dns->fStrength = 1.0;
    dns->ui32SensorWellDepth = 256;
    dns->fSensorReadNoise = 0.0;
    ASSERT_EQ(dns->setup(), QOR_RES_OK);
    for (int i = 0; i < 21; i++) {
        EXPECT_DOUBLE_EQ(rig.mc().sDNS.aPixThresLUT[i], std::sqrt(knots[i])) << "knot " << i;
    }
}

TEST(ModuleDNS, LoadReadsItsParametersAndClampsThem) {
    const struct {
        const char *text;
        bool combine;
        double strength, greyscale;
    } cases[] = {
        {"", true, 0.0, 0.25},
        {"DNS_STRENGTH 9\nDNS_GREYSC_PIXTHRESH_MULT 0.01\n", true, 6.0, 0.07},
        {"DNS_STRENGTH -1\nDNS_GREYSC_PIXTHRESH_MULT 20\nDNS_COMBINE_ENABLE 0\n", false, 0.0, 14.5},
        {"DNS_STRENGTH 2.5\nDNS_GREYSC_PIXTHRESH_MULT 1e0\nDNS_COMBINE_ENABLE 2\n", true, 2.5, 1.0},
        // Text that is no whole number reads the default.
        {"DNS_STRENGTH 3x\nDNS_GREYSC_PIXTHRESH_MULT half\nDNS_COMBINE_ENABLE true\n", true, 0.0, 0.25},
        {"DNS_COMBINE_ENABLE 1.0\n", true, 0.0, 0.25},
    };
    for (const auto &c : cases) {
        ModuleDNS dns;
        dns.bCombine = !c.combine;
        EXPECT_EQ(dns.load(listOf(c.text)), QOR_RES_OK);
        EXPECT_EQ(dns.bCombine, c.combine) << c.text;
        EXPECT_EQ(dns.fStrength, c.strength) << c.text;
        EXPECT_EQ(dns.fGreyscaleThreshold, c.greyscale) << c.text;
        EXPECT_FALSE(dns.isUpdateRequested());
    }
}

TEST(ModuleDNS, NoiseModelComesFromTheSensorNotFromTheOldTags) {
    const std::string file = "DNS_WELL_DEPTH 3000\nDNS_ISO_GAIN 8\nDNS_READ_NOISE 1\nDNS_SENSOR_BITDEPTH 14\n";
    TestRig rig(1920, 1080, MOSAIC_RGGB, 0x1F, noiseModel(2.0, 12, 3500, 4.25));
    ModuleDNS *dns = registered<ModuleDNS>(rig);
    ASSERT_EQ(dns->load(listOf(file)), QOR_RES_OK);
    EXPECT_EQ(dns->fSensorGain, 2.0);
    EXPECT_EQ(dns->ui32SensorBitdepth, 12u);
    EXPECT_EQ(dns->ui32SensorWellDepth, 3500u);
    EXPECT_EQ(dns->fSensorReadNoise, 4.25);

    // Without a sensor the fixed model replaces what an earlier load took from one.
    rig.pipeline->setSensor(nullptr);
    ASSERT_EQ(dns->load(listOf(file)), QOR_RES_OK);
    EXPECT_EQ(dns->fSensorGain, 1.0);
    EXPECT_EQ(dns->ui32SensorBitdepth, 10u);
    EXPECT_EQ(dns->ui32SensorWellDepth, 10u);
    EXPECT_EQ(dns->fSensorReadNoise, 1.0);
    rig.pipeline->setSensor(&rig.sensor);
}

TEST(ModuleDNS, NewGainRewritesTheTableAtTheNextRequestedSetup) {
    TestRig rig(1920, 1080, MOSAIC_RGGB, 0x1F, noiseModel(1.0, 10, 10000, 5.0));
    ModuleDNS *dns = registered<ModuleDNS>(rig);
    ASSERT_EQ(dns->load(listOf("DNS_STRENGTH 1\n")), QOR_RES_OK);
    ASSERT_EQ(dns->setup(), QOR_RES_OK);
    dns->clearFlags();
    EXPECT_NEAR(rig.mc().sDNS.aPixThresLUT[0], 0.128, 1e-12);

    // The denoise control copies the sensor's gain after a shot and requests an update.
    rig.sensor.setProgrammedGain(4.0);
    ModuleDNS *found = static_cast<ModuleDNS *>(rig.pipeline->getModule(STP_DNS));
    ASSERT_EQ(found, dns);
    found->fSensorGain = rig.sensor.getGain();
    found->requestUpdate();
    rig.mc().sDNS.updateNeeded = QOR_FALSE;
    ASSERT_EQ(rig.pipeline->setupRequested(), QOR_RES_OK);
    // Gain 4: a = 0.1024, b = 0.262144.
    EXPECT_NEAR(rig.mc().sDNS.aPixThresLUT[0], 0.512, 1e-12);
    EXPECT_NEAR(rig.mc().sDNS.aPixThresLUT[20], std::sqrt(0.1024 * 256 + 0.262144), 1e-12);
    EXPECT_TRUE(rig.mc().sDNS.updateNeeded);
}

TEST(ModuleDNS, BitDepthKeepsItsLowEightBitsAndSwitchesAreCopied) {
    TestRig rig;
    ModuleDNS *dns = registered<ModuleDNS>(rig);
    dns->ui32SensorBitdepth = 266;
    dns->bCombine = false;
    dns->fGreyscaleThreshold = 14.5;
    ASSERT_EQ(dns->setup(), QOR_RES_OK);
    EXPECT_EQ(rig.mc().sDNS.ui8SensorBitdepth, 10);
    EXPECT_FALSE(rig.mc().sDNS.bCombineChannels);
    EXPECT_EQ(rig.mc().sDNS.fGreyscalePixelThreshold, 14.5);
}

TEST(ModuleDNS, SavedListsCarryTheOldTagsAsComments) {
    const struct {
        ModuleBase::SaveType kind;
        const char *combine, *strength, *greyscale;
        bool withInfo;
    } cases[] = {
        {ModuleBase::SAVE_VAL, "1", "0", "0.25", false},
        {ModuleBase::SAVE_MIN, "0", "0", "0.07", false},
        {ModuleBase::SAVE_MAX, "1", "6", "14.5", false},
        {ModuleBase::SAVE_DEF, "1", "0", "0.25", true},
    };
    const std::vector<std::pair<std::string, std::string>> comments = {
        {"// DNS_ISO_GAIN", "deprecated see SENSOR_GAIN"},
        {"// DNS_SENSOR_BITDEPTH", "deprecated see SENSOR_BITDEPTH"},
        {"// DNS_WELL_DEPTH", "deprecated see SENSOR_WELL_DEPTH"},
        {"// DNS_READ_NOISE", "deprecated see SENSOR_READ_NOISE"},
    };
    ModuleDNS dns;
    for (const auto &c : cases) {
        ParameterList l;
        EXPECT_EQ(dns.save(l, c.kind), QOR_RES_OK);
        EXPECT_EQ(l.size(), 7u) << c.kind;
        EXPECT_EQ(valuesOf(l, "DNS_COMBINE_ENABLE"), std::vector<std::string>{c.combine}) << c.kind;
        EXPECT_EQ(valuesOf(l, "DNS_STRENGTH"), std::vector<std::string>{c.strength}) << c.kind;
        EXPECT_EQ(valuesOf(l, "DNS_GREYSC_PIXTHRESH_MULT"), std::vector<std::string>{c.greyscale}) << c.kind;
        if (c.withInfo) {
            EXPECT_EQ(infoOf(l, "DNS_COMBINE_ENABLE"), "bool {0,1}");
            EXPECT_EQ(infoOf(l, "DNS_STRENGTH"), "double range=[0,6]");
            EXPECT_EQ(infoOf(l, "DNS_GREYSC_PIXTHRESH_MULT"), "double range=[0.07,14.5]");
        }
        for (const auto &comment : comments) {
            EXPECT_EQ(valuesOf(l, comment.first), std::vector<std::string>{comment.second}) << c.kind;
            EXPECT_EQ(infoOf(l, comment.first), "") << c.kind;
        }
        for (const char *old : {"DNS_ISO_GAIN", "DNS_SENSOR_BITDEPTH", "DNS_WELL_DEPTH", "DNS_READ_NOISE"}) {
            EXPECT_FALSE(l.exists(old)) << old;
        }
    }
    ParameterList onlyGroup;
    EXPECT_EQ(dns.save(onlyGroup, static_cast<ModuleBase::SaveType>(9)), QOR_RES_OK);
    EXPECT_EQ(onlyGroup.size(), 0u);
    EXPECT_TRUE(onlyGroup.hasGroup("ModuleDNS"));
}

TEST(ModuleDNS, WrittenFileShowsOldTagsAsCommentLinesThatReadBackAsNothing) {
    ModuleDNS dns;
    dns.fStrength = 1.5;
    ParameterList l;
    dns.save(l, ModuleBase::SAVE_VAL);
    std::ostringstream os;
    ASSERT_EQ(ParameterFileParser::saveGrouped(l, os, true), QOR_RES_OK);
    const std::string text = os.str();
    EXPECT_TRUE(contains(text, "// Denoiser parameters\n")) << text;
    EXPECT_TRUE(contains(text, "DNS_STRENGTH 1.5\n")) << text;
    EXPECT_TRUE(contains(text, "// DNS_WELL_DEPTH deprecated see SENSOR_WELL_DEPTH\n")) << text;
    const ParameterList back = listOf(text);
    EXPECT_EQ(back.size(), 3u);
    ModuleDNS reloaded;
    ASSERT_EQ(reloaded.load(back), QOR_RES_OK);
    EXPECT_EQ(reloaded.fStrength, 1.5);
}

TEST(ModuleDNS, DefinitionsOfTheOldTagsMatchTheSensorsReplacements) {
    // The data-generator sensor and camera read the old tags through these definitions.
    EXPECT_EQ(ModuleDNS::DNS_ISOGAIN.name, "DNS_ISO_GAIN");
    EXPECT_EQ(ModuleDNS::DNS_WELLDEPTH.name, "DNS_WELL_DEPTH");
    EXPECT_EQ(ModuleDNS::DNS_READNOISE.name, "DNS_READ_NOISE");
    EXPECT_EQ(ModuleDNS::DNS_SENSORDEPTH.name, "DNS_SENSOR_BITDEPTH");
    EXPECT_EQ(ModuleDNS::DNS_ISOGAIN.min, Sensor::SENSOR_GAIN.min);
    EXPECT_EQ(ModuleDNS::DNS_ISOGAIN.max, Sensor::SENSOR_GAIN.max);
    EXPECT_EQ(ModuleDNS::DNS_ISOGAIN.def, Sensor::SENSOR_GAIN.def);
    EXPECT_EQ(ModuleDNS::DNS_SENSORDEPTH.min, static_cast<int>(Sensor::SENSOR_BITDEPTH.min));
    EXPECT_EQ(ModuleDNS::DNS_SENSORDEPTH.max, static_cast<int>(Sensor::SENSOR_BITDEPTH.max));
    EXPECT_EQ(ModuleDNS::DNS_SENSORDEPTH.def, static_cast<int>(Sensor::SENSOR_BITDEPTH.def));
    EXPECT_EQ(ModuleDNS::DNS_WELLDEPTH.min, static_cast<int>(Sensor::SENSOR_WELLDEPTH.min));
    EXPECT_EQ(ModuleDNS::DNS_WELLDEPTH.max, static_cast<int>(Sensor::SENSOR_WELLDEPTH.max));
    EXPECT_EQ(ModuleDNS::DNS_WELLDEPTH.def, static_cast<int>(Sensor::SENSOR_WELLDEPTH.def));
    EXPECT_EQ(ModuleDNS::DNS_READNOISE.min, Sensor::SENSOR_READNOISE.min);
    EXPECT_EQ(ModuleDNS::DNS_READNOISE.max, Sensor::SENSOR_READNOISE.max);
    EXPECT_EQ(ModuleDNS::DNS_READNOISE.def, Sensor::SENSOR_READNOISE.def);
    // The capture context's denoiser level is the strength over this maximum.
    EXPECT_EQ(ModuleDNS::DNS_STRENGTH.max, 6.0);

    const ParameterGroup g = ModuleDNS::GetGroup();
    EXPECT_EQ(g.header, "// Denoiser parameters");
    EXPECT_EQ(g.parameters,
              (std::set<std::string>{"DNS_COMBINE_ENABLE", "DNS_STRENGTH", "DNS_GREYSC_PIXTHRESH_MULT", "DNS_ISO_GAIN",
                                     "DNS_SENSOR_BITDEPTH", "DNS_WELL_DEPTH", "DNS_READ_NOISE", "SHA_DENOISE_BYPASS",
                                     "SHA_DN_TAU_MULTIPLIER", "SHA_DN_SIGMA_MULTIPLIER"}));
}
