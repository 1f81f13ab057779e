// The driver registry, creation by number and name, and the mode listing over the built-in
// registry and over a registry of scripted drivers.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "norvacommon/userlog.h"
#include "support/board_fixture.h"
#include "support/scripted_sensor.h"
#include "sensor_registry_internal.h"
#include "sensorapi/sensorapi.h"
#include "support/scoped_env.h"

using namespace norva_test;

namespace {

using Log = std::vector<LogLine>;

const std::vector<std::string> kNames = {
    "DOR Idazida", "AR330",    "OV4688", "OV4689_0", "OV4689_1", "OV2718_0", "OV2718_1", "OV10823_0", "OV10823_1",
    "OV5647_0",    "OV5647_1", "IMX415", "OV5695_0", "OV5695_1", "OV5695_2", "S5K3P9",   "IMX219_0",  "IMX219_1",
    "IMX335",      "IMX327",   "ZYNQ",   "GC8034",   "GC5035",   "IMX662",   "IMX477_0", "IMX477_1",
};

// Every entry has its driver built: the data-generator pseudo-sensor, the framework drivers and the stand-alone
// drivers.
const char *const kBuilt[] = {"DOR Idazida", "OV4689_0", "OV4689_1", "OV5647_0", "OV5647_1", "OV5695_0", "OV5695_1",
                              "OV5695_2",    "IMX219_0", "IMX219_1", "IMX477_0", "IMX477_1", "GC5035",   "OV10823_0",
                              "OV10823_1",   "AR330",    "OV4688",   "S5K3P9",   "ZYNQ",     "OV2718_0", "OV2718_1",
                              "IMX415",      "IMX335",   "IMX327",   "GC8034",   "IMX662"};

// The number a caller finds for a name, as the sensor wrapper looks it up.
int SensorNumber(const char *name) {
    const char **names = Sensor_ListAll();
    for (unsigned i = 0; i < Sensor_NumberSensors() && names[i]; ++i) {
        if (std::strcmp(names[i], name) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

class SensorRegistry : public testing::Test {
protected:
    void SetUp() override { LOG_SetLevel(LOG_LEVEL_INFO); }
    void TearDown() override { LOG_SetLevel(LOG_LEVEL_INFO); }
    ScopedEnv noEnvLevel{"NORVA_LOG_LEVEL", nullptr};
};

TEST_F(SensorRegistry, ListsEveryDriverNameInSensorNumberOrder) {
    ASSERT_EQ(Sensor_NumberSensors(), 26u);
    const char **names = Sensor_ListAll();
    for (unsigned i = 0; i < kNames.size(); ++i) {
        ASSERT_NE(names[i], nullptr) << i;
        EXPECT_EQ(names[i], kNames[i]) << i;
    }
    EXPECT_EQ(names[26], nullptr);
    EXPECT_EQ(SensorNumber("OV4689_0"), 3);
    EXPECT_EQ(SensorNumber("IMX662"), 23);
    EXPECT_EQ(SensorNumber("ZYNQ"), 20);
}

TEST_F(SensorRegistry, EveryEntryHasItsDriver) {
    ASSERT_EQ(sizeof(kBuilt) / sizeof(kBuilt[0]), kNames.size());
    for (const char *built : kBuilt)
        EXPECT_GE(SensorNumber(built), 0) << built;
}

TEST_F(SensorRegistry, InitialiseChecksTheHandlePointerBeforeTheNumber) {
    SENSOR_HANDLE h = nullptr;
    QOR_RESULT r = -1;
    EXPECT_EQ(CaptureLog([&] { r = Sensor_Initialise(26, &h); }),
              Log{SensorError("Sensor_Initialise", "nSensor=26 supports 26 sensors")});
    EXPECT_EQ(r, QOR_RES_INVALID_PARAM);
    EXPECT_EQ(CaptureLog([&] { r = Sensor_Initialise(0xFFFF, &h); }),
              Log{SensorError("Sensor_Initialise", "nSensor=65535 supports 26 sensors")});
    EXPECT_EQ(r, QOR_RES_INVALID_PARAM);
    EXPECT_EQ(CaptureLog([&] { r = Sensor_Initialise(26, nullptr); }),
              Log{SensorError("Sensor_Initialise", "phHandle is NULL")});
    EXPECT_EQ(r, QOR_RES_INVALID_PARAM);
    EXPECT_EQ(CaptureLog([&] { r = Sensor_Initialise(3, nullptr); }),
              Log{SensorError("Sensor_Initialise", "phHandle is NULL")});
    EXPECT_EQ(r, QOR_RES_INVALID_PARAM);
}

// A board where no sensor answers. The AR330 is still created (its creation checks no chip), but it reports no
// configuration, so no mode of it is listed: the listing is empty.
class EmptyBoardListing : public norva_test::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        LOG_SetLevel(LOG_LEVEL_DEBUG);
    }
    void TearDown() override {
        LOG_SetLevel(LOG_LEVEL_INFO);
        BoardTest::TearDown();
    }
    ScopedEnv noEnvLevel{"NORVA_LOG_LEVEL", nullptr};
};

TEST_F(EmptyBoardListing, IsNullQuietAndPrintsNothing) {
    SENSOR_HANDLE ar330 = nullptr;
    norva_test::logOf([&] { EXPECT_EQ(Sensor_Initialise(1, &ar330), QOR_RES_OK); });
    ASSERT_NE(ar330, nullptr);
    SENSOR_INFO info;
    norva_test::logOf([&] { ASSERT_EQ(Sensor_GetInfo(ar330, &info), QOR_RES_OK); });
    EXPECT_EQ(info.ui8NumConfig, 0);
    EXPECT_EQ(info.pNumModes, nullptr);
    norva_test::logOf([&] { EXPECT_EQ(Sensor_Destroy(ar330), QOR_RES_OK); });

    SENSOR_SUPPORTED **listing = reinterpret_cast<SENSOR_SUPPORTED **>(1);
    EXPECT_EQ(CaptureLog([&] { listing = Sensor_GetSupportedModes(QOR_FALSE); }), Log{});
    EXPECT_EQ(listing, nullptr);
    EXPECT_EQ(LOG_GetLevel(), LOG_LEVEL_DEBUG);

    char *text = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&text, &size);
    ASSERT_NE(f, nullptr);
    QOR_RESULT r = -1;
    EXPECT_EQ(CaptureLog([&] { r = Sensor_PrintAllModes(f, QOR_TRUE); }), Log{});
    std::fclose(f);
    EXPECT_EQ(r, QOR_RES_DEVICE_FAILED);
    EXPECT_EQ(size, 0u) << text;
    std::free(text);

    EXPECT_EQ(CaptureLog([&] { r = Sensor_PrintAllModes(nullptr, QOR_FALSE); }),
              Log{SensorError("Sensor_PrintAllModes", "f is NULL")});
    EXPECT_EQ(r, QOR_RES_INVALID_PARAM);
    Sensor_FreeSupportedModes(nullptr);
}

// A registry of scripted drivers: the create function of slot N builds a sensor from gScripts[N].
SensorScript *gScripts[8];

template <unsigned N> QOR_RESULT CreateScripted(SENSOR_HANDLE *phHandle) {
    return ScriptedSensor::Create(gScripts[N], phHandle);
}

const SENSOR_CREATE_FUNC kScriptedCreate[] = {CreateScripted<0>, CreateScripted<1>, CreateScripted<2>,
                                              CreateScripted<3>, CreateScripted<4>, CreateScripted<5>,
                                              CreateScripted<6>, CreateScripted<7>};

class ModeListing : public SensorRegistry {
protected:
    void SetUp() override {
        SensorRegistry::SetUp();
        for (unsigned i = 0; i < 8; ++i) {
            gScripts[i] = &scripts[i];
            std::snprintf(scripts[i].info.pszSensorName, SENSOR_INFO_NAME_MAX, "%s", names[i]);
        }
        // Alpha: three configurations, the middle one empty; 0x20 is not valid with the board clock.
        scripts[1].SetModes({{MakeMode(2688, 1520, 10, 30.0, 4), MakeMode(1920, 1080, 10, 60.0, 4)},
                             {},
                             {MakeMode(1280, 720, 10, 90.0, 2, false), MakeMode(640, 480, 12, 120.5, 1)}});
        scripts[2].results["Create"] = QOR_RES_IO_FAILED; // not on the board
        // Answers, but reports no configuration (so no mode) to list.
        scripts[4].SetModes({{MakeMode(320, 240, 8, 15.0, 1)}});
        scripts[4].info.ui8NumConfig = 0;
        scripts[5].SetModes({{MakeMode(1920, 1080, 12, 25.0, 2, true, HDR_STAGGERED, CG_HIGH),
                              MakeMode(1920, 1080, 10, 29.97, 2, false, HDR_NONE, CG_LOW)}});
    }
    void TearDown() override {
        for (unsigned i = 0; i < 8; ++i) {
            EXPECT_EQ(scripts[i].live, 0) << names[i] << " was not destroyed";
            gScripts[i] = nullptr;
        }
        SensorRegistry::TearDown();
    }

    norva_sensor::RegistryView View(unsigned count = 6) const {
        return norva_sensor::RegistryView{names, kScriptedCreate, count};
    }

    std::vector<std::string> Created() const {
        std::vector<std::string> out;
        for (unsigned i = 0; i < 8; ++i)
            if (!scripts[i].calls.empty())
                out.push_back(names[i]);
        return out;
    }

    static std::string Print(SENSOR_SUPPORTED **listing, QOR_RESULT *result) {
        char *text = nullptr;
        size_t size = 0;
        FILE *f = open_memstream(&text, &size);
        *result = norva_sensor::PrintModes(f, listing);
        std::fclose(f);
        std::string s(text, size);
        std::free(text);
        return s;
    }

    const char *names[9] = {"DOR Idazida", "Alpha", "Absent", "ZYNQ", "Empty", "Beta", "Gamma", "Delta", nullptr};
    SensorScript scripts[8];
};

TEST_F(ModeListing, ListsEveryModeOfEveryCreatedRealSensor) {
    LOG_SetLevel(LOG_LEVEL_WARNING);
    SENSOR_SUPPORTED **listing = nullptr;
    EXPECT_EQ(CaptureLog([&] { listing = norva_sensor::ListSupportedModes(View(), QOR_FALSE); }), Log{});
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(LOG_GetLevel(), LOG_LEVEL_WARNING);

    // The data generators are never created; the absent sensor and the one without modes leave no entry.
    EXPECT_EQ(Created(), (std::vector<std::string>{"Alpha", "Absent", "Empty", "Beta"}));
    ASSERT_NE(listing[0], nullptr);
    ASSERT_NE(listing[1], nullptr);
    EXPECT_EQ(listing[2], nullptr);

    EXPECT_STREQ(listing[0]->pszSensorName, "Alpha");
    ASSERT_EQ(listing[0]->ui8NumSupportedModes, 4);
    const QOR_UINT8 numbers[] = {0x00, 0x01, 0x20, 0x21};
    for (unsigned m = 0; m < 4; ++m)
        EXPECT_EQ(listing[0]->supportedModes[m].ui8ModeNum, numbers[m]) << m;
    const MODE_SUPPORTED &last = listing[0]->supportedModes[3];
    EXPECT_EQ(last.ui16Width, 640);
    EXPECT_EQ(last.ui16Height, 480);
    EXPECT_EQ(last.ui8BitDepth, 12);
    EXPECT_EQ(last.ui8MipiLanes, 1);
    EXPECT_DOUBLE_EQ(last.flFrameRate, 120.5);
    EXPECT_STREQ(listing[1]->pszSensorName, "Beta");

    QOR_RESULT r = -1;
    EXPECT_EQ(Print(listing, &r), "Sensor 0: Alpha\n"
                                  "Mode 0: BitDepth 10, Width 2688, Height 1520, FrameRate 30.00, NumLanes 4, HDR no\n"
                                  "Mode 1: BitDepth 10, Width 1920, Height 1080, FrameRate 60.00, NumLanes 4, HDR no\n"
                                  "Mode 32: BitDepth 10, Width 1280, Height 720, FrameRate 90.00, NumLanes 2, HDR no\n"
                                  "Mode 33: BitDepth 12, Width 640, Height 480, FrameRate 120.50, NumLanes 1, HDR no\n"
                                  "Sensor 1: Beta\n"
                                  "Mode 0: BitDepth 12, Width 1920, Height 1080, FrameRate 25.00, NumLanes 2, HDR "
                                  "yes, HCG\n"
                                  "Mode 1: BitDepth 10, Width 1920, Height 1080, FrameRate 29.97, NumLanes 2, HDR "
                                  "no, LCG\n");
    EXPECT_EQ(r, QOR_RES_OK);
    Sensor_FreeSupportedModes(listing);
}

TEST_F(ModeListing, ValidOnlySkipsModesInvalidWithTheBoardClock) {
    SENSOR_SUPPORTED **listing = norva_sensor::ListSupportedModes(View(), QOR_TRUE);
    ASSERT_NE(listing, nullptr);
    ASSERT_EQ(listing[0]->ui8NumSupportedModes, 3);
    EXPECT_EQ(listing[0]->supportedModes[2].ui8ModeNum, 0x21);
    ASSERT_EQ(listing[1]->ui8NumSupportedModes, 1);
    EXPECT_EQ(listing[1]->supportedModes[0].eConvGainMode, CG_HIGH);
    Sensor_FreeSupportedModes(listing);
}

TEST_F(ModeListing, ProbesAreSilencedAndTheLevelRestored) {
    LOG_SetLevel(LOG_LEVEL_DEBUG);
    SENSOR_SUPPORTED **listing = norva_sensor::ListSupportedModes(View(), QOR_FALSE);
    EXPECT_EQ(LOG_GetLevel(), LOG_LEVEL_DEBUG);
    EXPECT_EQ(scripts[1].logLevelAt["Create"], LOG_LEVEL_SILENCE);
    EXPECT_EQ(scripts[1].logLevelAt["GetMode"], LOG_LEVEL_SILENCE);
    EXPECT_EQ(scripts[1].logLevelAt["GetInfo"], LOG_LEVEL_ERROR);
    EXPECT_EQ(scripts[1].logLevelAt["Destroy"], LOG_LEVEL_ERROR);
    Sensor_FreeSupportedModes(listing);
}

TEST_F(ModeListing, NoSensorWithModesGivesNothingToPrint) {
    scripts[1].results["Create"] = QOR_RES_IO_FAILED;
    scripts[5].SetModes({{MakeMode(640, 480, 10, 30.0, 1, false)}});
    SENSOR_SUPPORTED **all = norva_sensor::ListSupportedModes(View(), QOR_FALSE);
    ASSERT_NE(all, nullptr); // Beta's mode is there, but not valid with the board clock
    EXPECT_EQ(all[1], nullptr);
    Sensor_FreeSupportedModes(all);
    SENSOR_SUPPORTED **listing = norva_sensor::ListSupportedModes(View(), QOR_TRUE);
    EXPECT_EQ(listing, nullptr);
    QOR_RESULT r = -1;
    EXPECT_EQ(Print(listing, &r), "");
    EXPECT_EQ(r, QOR_RES_DEVICE_FAILED);
}

TEST_F(ModeListing, ASensorThatCannotDescribeItselfAbortsTheListing) {
    scripts[5].results["GetInfo"] = QOR_RES_IO_FAILED;
    SENSOR_SUPPORTED **listing = reinterpret_cast<SENSOR_SUPPORTED **>(1);
    const Log log = CaptureLog([&] { listing = norva_sensor::ListSupportedModes(View(), QOR_FALSE); });
    EXPECT_EQ(listing, nullptr);
    EXPECT_EQ(log, (Log{SensorError("Sensor_GetInfo", "failed to get sensor's info"),
                        SensorError("Sensor_GetSupportedModes", "Failed to get info for sensor Beta!")}));
    // Alpha's entry, gathered before, is freed (the sanitizer checks) and Beta destroyed (TearDown checks).
}

TEST_F(ModeListing, ModesWithoutAListableNumberAreSkipped) {
    // Index 16 of configuration 0 would read as mode 0x10 (configuration 1's first mode), and
    // configuration 16 would read as mode 0x00 in the 8-bit mode number of the listing.
    const SENSOR_MODE invalid = MakeMode(64, 64, 8, 1.0, 1, false);
    std::vector<std::vector<SENSOR_MODE>> modes(17);
    modes[0] = std::vector<SENSOR_MODE>(16, invalid);
    modes[0].push_back(MakeMode(17, 17, 8, 1.0, 1));
    modes[1] = {MakeMode(1, 1, 8, 1.0, 1)};
    modes[16] = {MakeMode(16, 16, 8, 1.0, 1)};
    scripts[1].SetModes(modes);
    SENSOR_SUPPORTED **listing = norva_sensor::ListSupportedModes(View(), QOR_TRUE);
    ASSERT_NE(listing, nullptr);
    ASSERT_EQ(listing[0]->ui8NumSupportedModes, 1);
    EXPECT_EQ(listing[0]->supportedModes[0].ui8ModeNum, 0x10);
    EXPECT_EQ(listing[0]->supportedModes[0].ui16Width, 1);
    Sensor_FreeSupportedModes(listing);
}

TEST_F(ModeListing, ModeCountsBeyondWhatTheListingHoldsAreBounded) {
    // A sensor's listing holds 16 modes.
    std::vector<std::vector<SENSOR_MODE>> many(3, std::vector<SENSOR_MODE>(15, MakeMode(64, 64, 8, 1.0, 1)));
    scripts[1].SetModes(many);
    // A driver reporting configurations without the table of their mode counts.
    scripts[5].info.ui8NumConfig = 2;
    scripts[5].info.pNumModes = nullptr;
    SENSOR_SUPPORTED **listing = nullptr;
    CaptureLog([&] { listing = norva_sensor::ListSupportedModes(View(), QOR_FALSE); });
    ASSERT_NE(listing, nullptr);
    ASSERT_EQ(listing[0]->ui8NumSupportedModes, SENSOR_MAX_LISTED_MODES);
    for (unsigned m = 0; m < 15; ++m)
        EXPECT_EQ(listing[0]->supportedModes[m].ui8ModeNum, m);
    EXPECT_EQ(listing[0]->supportedModes[15].ui8ModeNum, 0x10);
    EXPECT_EQ(listing[1], nullptr); // Beta has nothing to list
    Sensor_FreeSupportedModes(listing);
}

TEST_F(ModeListing, ASensorNameFillingTheWholeFieldStaysTerminated) {
    std::memset(scripts[1].info.pszSensorName, 'A', SENSOR_INFO_NAME_MAX);
    SENSOR_SUPPORTED **listing = norva_sensor::ListSupportedModes(View(), QOR_FALSE);
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(std::strlen(listing[0]->pszSensorName), SENSOR_INFO_NAME_MAX - 1u);
    Sensor_FreeSupportedModes(listing);
}

} // namespace
