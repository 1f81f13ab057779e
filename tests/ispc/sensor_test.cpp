// The sensor wrapper over a scripted test driver on the simulated platform: binding, the state table,
// the facts copied at configuration, exposure stepping, focus, extra parameters and the saved parameters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ispc/ParameterFileParser.h"
#include "ispc/Sensor.h"
#include "support/scripted_sensor.h"
#include "sim_platform_fixture.h"

using ISPC::ModuleBase;
using ISPC::ParameterList;
using ISPC::Sensor;
using norva_test::CaptureLog;
using norva_test::LogLine;
using norva_test::ScriptedSensor;
using norva_test::SensorScript;

namespace {

/** A wrapper bound to a scripted driver instead of one of the registry. */
class ScriptedWrapper : public Sensor {
public:
    explicit ScriptedWrapper(SensorScript &script) {
        SENSOR_HANDLE handle = nullptr;
        if (ScriptedSensor::Create(&script, &handle) == QOR_RES_OK) {
            attachDriver(handle, 7);
        }
    }
};

const char *kExtraNames[] = {"ANALOG_BOOST", "TEST_PATTERN", nullptr};

LogLine sensorLine(const char *level, const char *function, const std::string &message) {
    return LogLine{level, "ISPC_SENSOR", function, message};
}

bool contains(const std::vector<LogLine> &log, const LogLine &line) {
    return std::find(log.begin(), log.end(), line) != log.end();
}

std::vector<LogLine> wrapperLines(const std::vector<LogLine> &log) {
    std::vector<LogLine> out;
    for (const LogLine &l : log) {
        if (l.tag == "ISPC_SENSOR" && l.level != "INFO")
            out.push_back(l);
    }
    return out;
}

/** Runs f and returns the log lines it printed on standard output (information and debug levels). */
template <typename F> std::vector<LogLine> captureInfo(F &&f) {
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return norva_test::ParseLog(testing::internal::GetCapturedStdout());
}

class SensorWrapper : public norva_test::IspcSimTest {
protected:
    void SetUp() override {
        IspcSimTest::SetUp();
        SENSOR_MODE wide = norva_test::MakeMode(1920, 1080, 10, 30.0, 4);
        wide.flTrow = 29.6;
        wide.ui16VerticalTotal = 1125;
        SENSOR_MODE hdr = norva_test::MakeMode(1280, 720, 12, 60.0, 4, true, HDR_STAGGERED);
        hdr.flTrow = 14.2;
        hdr.ui16VerticalTotal = 750;
        hdr.bLongExpFirst = 1;
        hdr.ui32LineGap = 3;
        script.SetModes({{wide, hdr}});
        script.info.eBayerEnabled = MOSAIC_GRBG;
        script.info.ui8Imager = 1;
        script.info.ui32WellDepth = 9000;
        script.info.flReadNoise = 2.5;
        script.info.fNumber = 2.0;
        script.info.fPixelSize = 1.4;
        script.info.ui16FocalLength = 4;
        script.extraParams = kExtraNames;
        script.extraValues[0] = 7;
    }
    void TearDown() override {
        sensor.reset();
        EXPECT_EQ(script.live, 0);
        IspcSimTest::TearDown();
    }

    void make() { sensor.reset(new ScriptedWrapper(script)); }
    void configured(int mode = 1) {
        make();
        ASSERT_EQ(sensor->configure(mode, SENSOR_FLIP_NONE), QOR_RES_OK);
    }
    void enabled() {
        configured();
        ASSERT_EQ(sensor->enable(), QOR_RES_OK);
    }
    /** The exposure of the last SetExposureGain the driver received. */
    long long lastProgrammedExposure() const {
        for (auto it = script.calls.rbegin(); it != script.calls.rend(); ++it) {
            if (it->rfind("SetExposureGain(", 0) == 0)
                return std::stoll(it->substr(16));
        }
        return -1;
    }
    bool called(const std::string &prefix) const {
        for (const std::string &c : script.calls) {
            if (c.rfind(prefix, 0) == 0)
                return true;
        }
        return false;
    }

    SensorScript script;
    std::unique_ptr<Sensor> sensor;
};

TEST_F(SensorWrapper, InitBindsTheDriverToTheConnection) {
    struct Case {
        const char *what;
        void (*arrange)(SensorScript &);
        bool scripted;
        int registryId;
        Sensor::State state;
        const char *message; // the wrapper's error, if any
    };
    const Case cases[] = {
        {"scripted driver bound", [](SensorScript &) {}, true, 0, Sensor::SENSOR_INITIALIZED, nullptr},
        {"driver refuses the connection", [](SensorScript &s) { s.results["SetConnection"] = QOR_RES_FAILED; }, true, 0,
         Sensor::SENSOR_ERROR, "Failed to set connection for identifier 7."},
        {"no driver connection", [](SensorScript &) { norva_sim::SetDeviceAbsent(true); }, true, 0,
         Sensor::SENSOR_ERROR, "Failed to set connection for identifier 7."},
        // A registry driver whose sensor is not on the board refuses (2 is "OV4688").
        {"registry driver refuses", [](SensorScript &) {}, false, 2, Sensor::SENSOR_ERROR,
         "Failed to get a sensor handle for identifier 2."},
        {"negative identifier", [](SensorScript &) {}, false, -1, Sensor::SENSOR_ERROR,
         "Failed to get a sensor handle for identifier -1."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        norva_sim::ResetPlatform();
        script.results.clear();
        script.calls.clear();
        c.arrange(script);
        std::vector<LogLine> log = CaptureLog([&] {
            if (c.scripted) {
                make();
            } else {
                sensor.reset(new Sensor(c.registryId));
            }
        });
        EXPECT_EQ(sensor->getState(), c.state);
        if (c.message != nullptr) {
            EXPECT_TRUE(contains(log, sensorLine("ERROR", c.scripted ? "attachDriver" : "init", c.message)));
        } else {
            EXPECT_EQ(script.calls, (std::vector<std::string>{"Create()", "SetConnection(conn)"}));
        }
        sensor.reset();
        EXPECT_EQ(script.live, 0); // an unbound driver is destroyed with the wrapper as well
        EXPECT_EQ(openDescriptors(), 0);
    }

    // A second init does not leak the driver of the first.
    make();
    EXPECT_EQ(script.live, 1);
    CaptureLog([&] { sensor->init(2); });
    EXPECT_EQ(script.live, 0);
    EXPECT_EQ(sensor->getState(), Sensor::SENSOR_ERROR);
}

TEST_F(SensorWrapper, StateTable) {
    enum class From { Initialized, Configured, Enabled, Error };
    enum class Op { Configure, Enable, Disable };
    struct Row {
        const char *what;
        From from;
        const char *failing; // scripted driver operation that fails with 5, or null
        Op op;
        QOR_RESULT result;
        Sensor::State to;
        const char *level = nullptr; // the wrapper's log line, if any
        const char *function = nullptr;
        const char *message = nullptr;
    };
    const Row rows[] = {
        {"configure initialised", From::Initialized, nullptr, Op::Configure, 0, Sensor::SENSOR_CONFIGURED},
        {"configure again", From::Configured, nullptr, Op::Configure, 0, Sensor::SENSOR_CONFIGURED},
        {"configure leaves error", From::Error, nullptr, Op::Configure, 0, Sensor::SENSOR_CONFIGURED},
        {"configure while enabled", From::Enabled, nullptr, Op::Configure, 22, Sensor::SENSOR_ENABLED, "ERROR",
         "configure", "Sensor is in state SENSOR_ENABLED, expecting !=SENSOR_ENABLED"},
        {"mode refused", From::Initialized, "SetMode", Op::Configure, 5, Sensor::SENSOR_ERROR, "ERROR", "configure",
         "failed to set sensor's mode to 1 with flipping 0x0"},
        {"info refused", From::Configured, "GetInfo", Op::Configure, 5, Sensor::SENSOR_ERROR, "ERROR", "configure",
         "failed to get sensor's info"},
        {"initial exposure", From::Initialized, "GetExposure", Op::Configure, 3, Sensor::SENSOR_ERROR, "WARNING",
         "configure", "Failed to get initial exposure (returned 5)"},
        {"exposure range", From::Initialized, "GetExposureRange", Op::Configure, 3, Sensor::SENSOR_ERROR, "ERROR",
         "configure", "Failed to get exposure range (returned 5)!"},
        {"gain range", From::Initialized, "GetGainRange", Op::Configure, 3, Sensor::SENSOR_ERROR, "ERROR", "configure",
         "Failed to get gain range (returned 5)!"},
        {"initial gain", From::Initialized, "SetExposureGain", Op::Configure, 3, Sensor::SENSOR_ERROR, "ERROR",
         "configure", "Failed to set initial gain to 1.0 (returned 5)"},
        {"initial focus", From::Initialized, "GetCurrentFocus", Op::Configure, 3, Sensor::SENSOR_ERROR, "WARNING",
         "configure", "failed to get initial focus"},
        {"no focus control", From::Initialized, "GetFocusRange", Op::Configure, 0, Sensor::SENSOR_CONFIGURED},
        {"extra parameter unreadable", From::Initialized, "GetExtraParam", Op::Configure, 0, Sensor::SENSOR_CONFIGURED},
        {"enable", From::Configured, nullptr, Op::Enable, 0, Sensor::SENSOR_ENABLED},
        {"enable refused by the driver", From::Configured, "Enable", Op::Enable, 5, Sensor::SENSOR_ERROR, "ERROR",
         "enable", "Failed to start transmitting data from the sensor!"},
        {"enable unconfigured", From::Initialized, nullptr, Op::Enable, 22, Sensor::SENSOR_INITIALIZED, "ERROR",
         "enable", "Sensor is in state SENSOR_INITIALIZED, expecting SENSOR_CONFIGURED"},
        {"enable twice", From::Enabled, nullptr, Op::Enable, 22, Sensor::SENSOR_ENABLED, "ERROR", "enable",
         "Sensor is in state SENSOR_ENABLED, expecting SENSOR_CONFIGURED"},
        {"enable after an error", From::Error, nullptr, Op::Enable, 22, Sensor::SENSOR_ERROR, "ERROR", "enable",
         "Sensor is in state SENSOR_ERROR, expecting SENSOR_CONFIGURED"},
        {"disable", From::Enabled, nullptr, Op::Disable, 0, Sensor::SENSOR_CONFIGURED},
        {"disable refused by the driver", From::Enabled, "Disable", Op::Disable, 5, Sensor::SENSOR_ERROR, "ERROR",
         "disable", "Failed to stop transmitting data from the sensor!"},
        {"disable when not enabled", From::Configured, nullptr, Op::Disable, 22, Sensor::SENSOR_CONFIGURED, "ERROR",
         "disable", "Sensor is in state SENSOR_CONFIGURED, expecting SENSOR_ENABLED"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        script.results.clear();
        CaptureLog([&] {
            make();
            if (r.from == From::Error) {
                script.results["SetMode"] = QOR_RES_FAILED;
            }
            if (r.from != From::Initialized) {
                sensor->configure(0, SENSOR_FLIP_NONE);
            }
            if (r.from == From::Enabled) {
                sensor->enable();
            }
        });
        script.results.clear();
        if (r.failing != nullptr) {
            script.results[r.failing] = QOR_RES_DEVICE_FAILED;
        }
        script.calls.clear();
        QOR_RESULT result = -1;
        std::vector<LogLine> log = CaptureLog([&] {
            switch (r.op) {
            case Op::Configure:
                result = sensor->configure(1, SENSOR_FLIP_NONE);
                break;
            case Op::Enable:
                result = sensor->enable();
                break;
            case Op::Disable:
                result = sensor->disable();
                break;
            }
        });
        EXPECT_EQ(result, r.result);
        EXPECT_EQ(sensor->getState(), r.to);
        if (r.message != nullptr) {
            EXPECT_TRUE(contains(log, sensorLine(r.level, r.function, r.message))) << testing::PrintToString(log);
        } else {
            EXPECT_EQ(wrapperLines(log), std::vector<LogLine>{});
        }
        if (result == QOR_RES_NOT_SUPPORTED) { // a refusal reaches nothing in the driver
            EXPECT_FALSE(called("SetMode") || called("Enable") || called("Disable"));
        }
        if (r.failing != nullptr && std::string(r.failing) == "GetCurrentFocus") {
            EXPECT_TRUE(sensor->getFocusSupported()); // the range was read before the failure
        }
        if (r.failing != nullptr && std::string(r.failing) == "GetFocusRange") {
            EXPECT_FALSE(sensor->getFocusSupported());
        }
    }
}

TEST_F(SensorWrapper, ConfigureCopiesTheModeFactsAndStartsAtGainOne) {
    script.gain = 4.0;
    std::vector<LogLine> log = captureInfo([&] { CaptureLog([&] { configured(1); }); });
    EXPECT_EQ(sensor->uiWidth, 1280u);
    EXPECT_EQ(sensor->uiHeight, 720u);
    EXPECT_EQ(sensor->uiBitDepth, 12u);
    EXPECT_DOUBLE_EQ(sensor->flTrow, 14.2);
    EXPECT_DOUBLE_EQ(sensor->flFrameRate, 60.0);
    EXPECT_EQ(sensor->nVTot, 750u);
    EXPECT_EQ(sensor->eHDRMode, HDR_STAGGERED);
    EXPECT_TRUE(sensor->bLongExpFirst);
    EXPECT_EQ(sensor->ui32LineGap, 3u);
    EXPECT_EQ(sensor->eBayerFormat, MOSAIC_GRBG);
    EXPECT_EQ(sensor->uiImager, 1u);
    EXPECT_EQ(sensor->uiWellDepth, 9000u);
    EXPECT_DOUBLE_EQ(sensor->flReadNoise, 2.5);
    EXPECT_DOUBLE_EQ(sensor->flAperture, 2.0);
    EXPECT_DOUBLE_EQ(sensor->flPixelSize, 1.4);
    EXPECT_EQ(sensor->uiFocalLength, 4u);

    EXPECT_EQ(sensor->getExposure(), 1000u);
    EXPECT_EQ(sensor->getMinExposure(), 30u);
    EXPECT_EQ(sensor->getMaxExposure(), 33000u);
    EXPECT_DOUBLE_EQ(sensor->getGain(), 1.0);
    EXPECT_DOUBLE_EQ(sensor->getMinGain(), 1.0);
    EXPECT_DOUBLE_EQ(sensor->getMaxGain(), 16.0);
    EXPECT_TRUE(sensor->getFocusSupported());
    EXPECT_EQ(sensor->getMinFocus(), 50u);
    EXPECT_EQ(sensor->getMaxFocus(), 600u);
    EXPECT_EQ(sensor->getFocusDistance(), 50u);
    EXPECT_EQ(sensor->getExtraParameters(),
              (std::map<std::string, QOR_UINT8>{{"ANALOG_BOOST", 7}, {"TEST_PATTERN", 0}}));

    // The initial exposure is read for context 0; the driver's context value is passed back afterwards.
    EXPECT_TRUE(called("GetExposure(0)"));
    EXPECT_TRUE(called("SetExposureGain(1000,1.000,1)"));
    EXPECT_DOUBLE_EQ(script.gain, 1.0);
    EXPECT_TRUE(contains(log, sensorLine("INFO", "configure", "Sensor information (mode 1)")));
    EXPECT_TRUE(contains(log, sensorLine("INFO", "configure", "\tResolution: 1280x720 @ 60.00 FPS")));
    EXPECT_TRUE(contains(log, sensorLine("INFO", "configure", "\tExposure min: 30, max: 33000, programmed: 1000")));
    EXPECT_TRUE(contains(log, sensorLine("INFO", "configure", "\tFocus min: 50, max 600, current 50")));
    EXPECT_TRUE(contains(log, sensorLine("INFO", "configure", "Extra parameter: ANALOG_BOOST, 7")));
}

// A request is rounded up to the next multiple of the exposure step (the row time plays no part) and a
// result beyond 32 bits saturates instead of wrapping to a short exposure.
TEST_F(SensorWrapper, ExposureStepping) {
    script.exposureMin = 0;
    script.exposureMax = UINT32_MAX;
    struct Row {
        unsigned long step;
        unsigned long request;
        long long programmed;
    };
    const Row rows[] = {
        {10, 1, 10},
        {10, 10, 10},
        {10, 11, 20},
        {10, 0, 0},
        {1, 101, 101},
        {0, 33, 33}, // a step of 0 is stored as 1
        {16, 33333, 33344},
        {7, UINT32_MAX, UINT32_MAX}, // 4294967296 does not fit
        {1, 0x100000005ul, UINT32_MAX},
    };
    CaptureLog([&] { enabled(); });
    ASSERT_DOUBLE_EQ(sensor->flTrow, 14.2);
    for (const Row &r : rows) {
        for (bool withGain : {false, true}) {
            SCOPED_TRACE(testing::Message() << "step " << r.step << " request " << r.request
                                            << (withGain ? " setExposureGain" : " setExposure"));
            ASSERT_EQ(sensor->setExposureTimeStep(r.step), QOR_RES_OK);
            script.calls.clear();
            const double gainBefore = sensor->getGain();
            const QOR_RESULT result =
                withGain ? sensor->setExposureGain(r.request, 2.0) : sensor->setExposure(r.request);
            EXPECT_EQ(result, QOR_RES_OK);
            EXPECT_EQ(lastProgrammedExposure(), r.programmed);
            EXPECT_EQ(static_cast<long long>(sensor->getExposure()), r.programmed); // read back
            EXPECT_DOUBLE_EQ(sensor->getGain(), withGain ? 2.0 : gainBefore);
        }
    }
}

TEST_F(SensorWrapper, ExposureAndGainFailures) {
    enum class Op { Exposure, Gain, ExposureGain };
    struct Row {
        const char *what;
        bool enable;
        const char *failing;
        Op op;
        QOR_RESULT result;
        unsigned long exposure; // as read back afterwards
        double gain;
        const char *level = nullptr;
        const char *function = nullptr;
        const char *message = nullptr;
    };
    const Row rows[] = {
        {"exposure", true, nullptr, Op::Exposure, 0, 2000, 1.0},
        {"exposure refused", true, "SetExposureGain", Op::Exposure, 5, 1000, 1.0, "ERROR", "setExposure",
         "Failed to set exposure to 2000"},
        {"exposure not read back", true, "GetExposure", Op::Exposure, 0, 1000, 1.0, "WARNING", "setExposure",
         "Failed to acquire new programmed exposure!"},
        {"exposure while configured", false, nullptr, Op::Exposure, 22, 1000, 1.0, "ERROR", "setExposure",
         "Sensor is in state SENSOR_CONFIGURED, expecting SENSOR_ENABLED"},
        {"gain", true, nullptr, Op::Gain, 0, 1000, 3.0},
        {"gain refused: neither result counts", true, "SetExposureGain", Op::Gain, 0, 1000, 1.0},
        {"gain while configured", false, nullptr, Op::Gain, 22, 1000, 1.0, "ERROR", "setGain",
         "Sensor is in state SENSOR_CONFIGURED, expecting SENSOR_ENABLED"},
        {"both", true, nullptr, Op::ExposureGain, 0, 2000, 3.0},
        {"both refused", true, "SetExposureGain", Op::ExposureGain, 5, 1000, 1.0, "ERROR", "setExposureGain",
         "Failed to set exposure to 2000, gain to 3.000000"},
        {"gain not read back", true, "GetCurrentGain", Op::ExposureGain, 0, 2000, 1.0, "WARNING", "setExposureGain",
         "Failed to acquire new programmed gain!"},
        {"both while configured", false, nullptr, Op::ExposureGain, 22, 1000, 1.0, "ERROR", "setExposureGain",
         "Sensor is in state SENSOR_CONFIGURED, expecting SENSOR_ENABLED"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        script.results.clear();
        script.exposure = 1000;
        script.gain = 1.0;
        CaptureLog([&] {
            if (r.enable) {
                enabled();
            } else {
                configured();
            }
        });
        if (r.failing != nullptr)
            script.results[r.failing] = QOR_RES_DEVICE_FAILED;
        script.calls.clear();
        QOR_RESULT result = -1;
        std::vector<LogLine> log = CaptureLog([&] {
            switch (r.op) {
            case Op::Exposure:
                result = sensor->setExposure(2000);
                break;
            case Op::Gain:
                result = sensor->setGain(3.0);
                break;
            case Op::ExposureGain:
                result = sensor->setExposureGain(2000, 3.0);
                break;
            }
        });
        EXPECT_EQ(result, r.result);
        EXPECT_EQ(sensor->getExposure(), r.exposure);
        EXPECT_DOUBLE_EQ(sensor->getGain(), r.gain);
        if (r.message != nullptr) {
            EXPECT_EQ(wrapperLines(log), (std::vector<LogLine>{sensorLine(r.level, r.function, r.message)}));
        } else {
            EXPECT_EQ(wrapperLines(log), std::vector<LogLine>{});
        }
        if (result == QOR_RES_NOT_SUPPORTED) {
            EXPECT_TRUE(script.calls.empty());
        }
    }
}

TEST_F(SensorWrapper, ExposureTimeStepIsAtLeastTheRowTime) {
    struct Row {
        unsigned long step;
        double trow;
        unsigned long expected;
    };
    const Row rows[] = {
        {0, 0.0, 1},
        {1, 14.2, 15},
        {20, 14.2, 20},
        {1, 15.0, 15},
        {15, 15.0, 15},
        {1, -3.0, 1},
        {4, std::numeric_limits<double>::quiet_NaN(), 4},
    };
    make();
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << "step " << r.step << " row time " << r.trow);
        sensor->flTrow = r.trow;
        EXPECT_EQ(sensor->setExposureTimeStep(r.step), QOR_RES_OK);
        EXPECT_EQ(sensor->getExposureTimeStep(), r.expected);
    }
}

TEST_F(SensorWrapper, FocusOutOfRangeGoesToTheMinimum) {
    struct Row {
        unsigned request;
        unsigned programmed;
        bool warned;
    };
    const Row rows[] = {{300, 300, false}, {600, 600, false}, {50, 50, false},
                        {601, 50, true},   {49, 50, true},    {70000, 50, true}};
    // Accepted in every state.
    CaptureLog([&] { configured(); });
    for (const Row &r : rows) {
        SCOPED_TRACE(r.request);
        script.calls.clear();
        std::vector<LogLine> log = CaptureLog([&] { EXPECT_EQ(sensor->setFocusDistance(r.request), QOR_RES_OK); });
        EXPECT_EQ(sensor->getFocusDistance(), r.programmed);
        EXPECT_TRUE(called("SetFocus(" + std::to_string(r.programmed) + ")"));
        const std::vector<LogLine> expected =
            r.warned ? std::vector<LogLine>{sensorLine("WARNING", "setFocusDistance",
                                                       "Requested focus distance " + std::to_string(r.request) +
                                                           " out of range (50; 600). Setting focus distance to "
                                                           "minimum value")}
                     : std::vector<LogLine>{};
        EXPECT_EQ(wrapperLines(log), expected);
    }

    // Without focus control every request is ignored.
    script.results["GetFocusRange"] = QOR_RES_NOT_SUPPORTED;
    CaptureLog([&] { configured(); });
    script.calls.clear();
    EXPECT_EQ(sensor->setFocusDistance(300), QOR_RES_OK);
    EXPECT_TRUE(script.calls.empty());
    EXPECT_EQ(sensor->getFocusDistance(), 0u);
}

TEST_F(SensorWrapper, ExtraParameters) {
    CaptureLog([&] { configured(); });
    EXPECT_EQ(sensor->setExtraParameter("TEST_PATTERN", 3), QOR_RES_OK);
    EXPECT_EQ(sensor->getExtraParameters().at("TEST_PATTERN"), 3);
    EXPECT_EQ(script.extraValues[1], 3);

    const LogLine unknown = sensorLine("ERROR", "setExtraParameter", "Extra parameter NOPE not supported");
    EXPECT_EQ(CaptureLog([&] { EXPECT_EQ(sensor->setExtraParameter("NOPE", 1), QOR_RES_NOT_SUPPORTED); }),
              std::vector<LogLine>{unknown});
    EXPECT_EQ(sensor->getExtraParameters().count("NOPE"), 0u);

    script.results["SetExtraParam"] = QOR_RES_DEVICE_FAILED;
    std::vector<LogLine> log =
        CaptureLog([&] { EXPECT_EQ(sensor->setExtraParameter("ANALOG_BOOST", 1), QOR_RES_NOT_SUPPORTED); });
    EXPECT_TRUE(contains(log, sensorLine("ERROR", "setExtraParameter", "Extra parameter ANALOG_BOOST not supported")));
    EXPECT_EQ(sensor->getExtraParameters().at("ANALOG_BOOST"), 7);
}

std::string savedText(const Sensor &s, ModuleBase::SaveType t, ParameterList list = ParameterList()) {
    EXPECT_EQ(s.save(list, t), QOR_RES_OK);
    std::ostringstream os;
    ISPC::ParameterFileParser::saveGrouped(list, os, true);
    return os.str();
}

TEST_F(SensorWrapper, SavedParametersForEachKind) {
    // Before configuration the exposure is the millisecond default taken as microseconds: 35 us.
    make();
    EXPECT_EQ(savedText(*sensor, ModuleBase::SAVE_VAL), "// Sensor information\n"
                                                        "SENSOR_ACTIVE_SIZE 1280 720\n"
                                                        "SENSOR_BITDEPTH 10\n"
                                                        "SENSOR_EXPOSURE_MS 0.035\n"
                                                        "SENSOR_FRAME_RATE 30\n"
                                                        "SENSOR_GAIN 1\n"
                                                        "SENSOR_READ_NOISE 0\n"
                                                        "SENSOR_VTOT 525\n"
                                                        "SENSOR_WELL_DEPTH 5000\n"
                                                        "\n\n");

    script.exposureMax = 40000;
    CaptureLog([&] {
        enabled();
        sensor->setExposureGain(33333, 2.5);
    });
    EXPECT_EQ(savedText(*sensor, ModuleBase::SAVE_VAL), "// Sensor information\n"
                                                        "SENSOR_ACTIVE_SIZE 1280 720\n"
                                                        "SENSOR_BITDEPTH 12\n"
                                                        "SENSOR_EXPOSURE_MS 33.333\n"
                                                        "SENSOR_FRAME_RATE 60\n"
                                                        "SENSOR_GAIN 2.5\n"
                                                        "SENSOR_READ_NOISE 2.5\n"
                                                        "SENSOR_VTOT 750\n"
                                                        "SENSOR_WELL_DEPTH 9000\n"
                                                        "\n\n");
    EXPECT_EQ(savedText(*sensor, ModuleBase::SAVE_MIN), "// Sensor information\n"
                                                        "SENSOR_ACTIVE_SIZE 0 0\n"
                                                        "SENSOR_BITDEPTH 8\n"
                                                        "SENSOR_EXPOSURE_MS 0\n"
                                                        "SENSOR_FRAME_RATE 1\n"
                                                        "SENSOR_GAIN 0\n"
                                                        "SENSOR_READ_NOISE 0\n"
                                                        "SENSOR_VTOT 0\n"
                                                        "SENSOR_WELL_DEPTH 0\n"
                                                        "\n\n");
    EXPECT_EQ(savedText(*sensor, ModuleBase::SAVE_MAX), "// Sensor information\n"
                                                        "SENSOR_ACTIVE_SIZE 16384 16384\n"
                                                        "SENSOR_BITDEPTH 16\n"
                                                        "SENSOR_EXPOSURE_MS 5000\n"
                                                        "SENSOR_FRAME_RATE 255\n"
                                                        "SENSOR_GAIN 128\n"
                                                        "SENSOR_READ_NOISE 100\n"
                                                        "SENSOR_VTOT 16383\n"
                                                        "SENSOR_WELL_DEPTH 65535\n"
                                                        "\n\n");
    EXPECT_EQ(savedText(*sensor, ModuleBase::SAVE_DEF), "// Sensor information\n"
                                                        "SENSOR_ACTIVE_SIZE 1280 720 // unsigned[2] range=[0,16384]\n"
                                                        "SENSOR_BITDEPTH 10 // unsigned range=[8,16]\n"
                                                        "SENSOR_EXPOSURE_MS 35 // double range=[0,5000]\n"
                                                        "SENSOR_FRAME_RATE 30 // double range=[1,255]\n"
                                                        "SENSOR_GAIN 1 // double range=[0,128]\n"
                                                        "SENSOR_READ_NOISE 0 // double range=[0,100]\n"
                                                        "SENSOR_VTOT 525 // unsigned range=[0,16383]\n"
                                                        "SENSOR_WELL_DEPTH 5000 // unsigned range=[0,65535]\n"
                                                        "\n\n");

    // Parameters of the same tag are replaced, others kept; a group called "Sensor" is not replaced.
    ParameterList existing;
    existing.addParameter(ISPC::Parameter("SENSOR_GAIN", "99"));
    existing.addParameter(ISPC::Parameter("OTHER", "1"));
    ISPC::ParameterGroup mine;
    mine.header = "// mine";
    mine.parameters = {"SENSOR_GAIN"};
    existing.addGroup("Sensor", mine);
    EXPECT_EQ(savedText(*sensor, ModuleBase::SAVE_VAL, existing), "// mine\n"
                                                                  "SENSOR_GAIN 2.5\n"
                                                                  "\n\n"
                                                                  "// Ungrouped parameters\n"
                                                                  "OTHER 1\n"
                                                                  "SENSOR_ACTIVE_SIZE 1280 720\n"
                                                                  "SENSOR_BITDEPTH 12\n"
                                                                  "SENSOR_EXPOSURE_MS 33.333\n"
                                                                  "SENSOR_FRAME_RATE 60\n"
                                                                  "SENSOR_READ_NOISE 2.5\n"
                                                                  "SENSOR_VTOT 750\n"
                                                                  "SENSOR_WELL_DEPTH 9000\n");

    // A kind outside the list adds the group only.
    ParameterList other;
    EXPECT_EQ(sensor->save(other, static_cast<ModuleBase::SaveType>(7)), QOR_RES_OK);
    EXPECT_EQ(other.size(), 0u);
    EXPECT_TRUE(other.hasGroup("Sensor"));

    // load reads nothing.
    ParameterList in;
    in.addParameter(ISPC::Parameter("SENSOR_BITDEPTH", "8"));
    EXPECT_EQ(sensor->load(in), QOR_RES_OK);
    EXPECT_EQ(sensor->uiBitDepth, 12u);
}

TEST(SensorNames, RegistryNamesAndExactLookup) {
    std::list<std::pair<std::string, int>> names{{"kept", 99}};
    Sensor::GetSensorNames(names);
    ASSERT_EQ(names.size(), 1u + Sensor_NumberSensors());
    EXPECT_EQ(names.front(), std::make_pair(std::string("kept"), 99));
    int i = 0;
    for (auto it = std::next(names.begin()); it != names.end(); ++it, ++i) {
        EXPECT_EQ(it->first, Sensor_ListAll()[i]);
        EXPECT_EQ(it->second, i);
        EXPECT_EQ(Sensor::GetSensorId(it->first), i);
    }
    const std::string first = Sensor_ListAll()[0];
    EXPECT_EQ(Sensor::GetSensorId(first.substr(0, first.size() - 1)), -1); // a prefix
    EXPECT_EQ(Sensor::GetSensorId(first + " "), -1);
    EXPECT_EQ(Sensor::GetSensorId(first + std::string(1, '\0')), -1);
    EXPECT_EQ(Sensor::GetSensorId(""), -1);
}

TEST(SensorNames, StateNames) {
    EXPECT_STREQ(Sensor::StateName(Sensor::SENSOR_ERROR), "SENSOR_ERROR");
    EXPECT_STREQ(Sensor::StateName(Sensor::SENSOR_INITIALIZED), "SENSOR_INITIALIZED");
    EXPECT_STREQ(Sensor::StateName(Sensor::SENSOR_ENABLED), "SENSOR_ENABLED");
    EXPECT_STREQ(Sensor::StateName(Sensor::SENSOR_CONFIGURED), "SENSOR_CONFIGURED");
    EXPECT_STREQ(Sensor::StateName(static_cast<Sensor::State>(4)), "UNKNOWN");
}

TEST_F(SensorWrapper, DestructionDisablesThenDestroysThenGivesTheConnectionBack) {
    for (bool enable : {true, false}) {
        SCOPED_TRACE(enable ? "enabled" : "configured");
        CaptureLog([&] {
            if (enable) {
                enabled();
            } else {
                configured();
            }
        });
        EXPECT_EQ(openDescriptors(), 1);
        script.calls.clear();
        sensor.reset();
        EXPECT_EQ(script.calls, enable ? (std::vector<std::string>{"Disable()", "Destroy()"})
                                       : (std::vector<std::string>{"Destroy()"}));
        EXPECT_EQ(script.live, 0);
        EXPECT_EQ(openDescriptors(), 0);
    }
}

TEST_F(SensorWrapper, FramePushAndWaitGoToTheDriver) {
    make();
    script.results["WaitProcessed"] = QOR_RES_NOT_SUPPORTED;
    EXPECT_EQ(sensor->insert(), QOR_RES_OK);
    EXPECT_EQ(sensor->waitProcessed(), QOR_RES_NOT_SUPPORTED);
    EXPECT_EQ(script.calls,
              (std::vector<std::string>{"Create()", "SetConnection(conn)", "Insert()", "WaitProcessed()"}));
}

} // namespace
