// Every dispatcher of the sensor API against a scripted driver: the order of the checks, the
// refusals, what reaches the driver, the clamps and the extra-parameter names.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "norvacommon/userlog.h"
#include "support/scripted_sensor.h"
#include "sensorapi/sensorapi.h"
#include "support/scoped_env.h"

using namespace norva_test;

namespace {

// Where the dispatchers of the table write their answers.
SENSOR_MODE gMode;
SENSOR_STATUS gStatus;
SENSOR_INFO gInfo;
double gMin, gMax, gGain;
QOR_UINT32 gU32Min, gU32Max, gExposure;
QOR_UINT16 gU16Min, gU16Max, gFocus;
QOR_UINT8 gContexts, gValue;
CI_CONNECTION gConnection;

const char *kExtraNames[] = {"expGain", "hdrMode", nullptr};

using Call = QOR_RESULT (*)(SENSOR_HANDLE);

struct NullPointer {
    Call call;
    const char *message;
};

struct DispatchRow {
    const char *function;
    const char *slot; // the operation the dispatcher reaches
    void (*clear)(SENSOR_FUNCS &);
    Call call;                           // with valid arguments
    std::vector<NullPointer> nulls;      // each with one pointer argument NULL
    QOR_RESULT emptyResult;              // when the slot is empty
    bool emptyLogs;                      // "<slot> is not defined!" is logged
    std::vector<std::string> driverSees; // the driver's calls on success
};

const std::vector<DispatchRow> &Rows() {
    static const std::vector<DispatchRow> rows = {
        {"Sensor_GetMode",
         "GetMode",
         [](SENSOR_FUNCS &f) { f.GetMode = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_GetMode(h, 0x21, &gMode); },
         {{[](SENSOR_HANDLE h) { return Sensor_GetMode(h, 0x21, nullptr); }, "psModes is NULL"}},
         3,
         true,
         {"GetMode(33)"}},
        {"Sensor_GetState",
         "GetState",
         [](SENSOR_FUNCS &f) { f.GetState = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_GetState(h, &gStatus); },
         {{[](SENSOR_HANDLE h) { return Sensor_GetState(h, nullptr); }, "psStatus is NULL"}},
         3,
         true,
         {"GetState()"}},
        {"Sensor_SetMode",
         "SetMode",
         [](SENSOR_FUNCS &f) { f.SetMode = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_SetMode(h, 0x21, SENSOR_FLIP_BOTH); },
         {},
         3,
         true,
         {"SetMode(33,3)"}},
        {"Sensor_Enable",
         "Enable",
         [](SENSOR_FUNCS &f) { f.Enable = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_Enable(h); },
         {},
         3,
         true,
         {"Enable()"}},
        {"Sensor_Disable",
         "Disable",
         [](SENSOR_FUNCS &f) { f.Disable = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_Disable(h); },
         {},
         3,
         true,
         {"Disable()"}},
        {"Sensor_Destroy",
         "Destroy",
         [](SENSOR_FUNCS &f) { f.Destroy = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_Destroy(h); },
         {},
         3,
         true,
         {"Destroy()"}},
        {"Sensor_GetInfo",
         "GetInfo",
         [](SENSOR_FUNCS &f) { f.GetInfo = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_GetInfo(h, &gInfo); },
         {{[](SENSOR_HANDLE h) { return Sensor_GetInfo(h, nullptr); }, "psInfo is NULL"}},
         3,
         true,
         {"GetState()", "GetInfo()", "GetMode(0)"}},
        {"Sensor_GetGainRange",
         "GetGainRange",
         [](SENSOR_FUNCS &f) { f.GetGainRange = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_GetGainRange(h, &gMin, &gMax, &gContexts); },
         {{[](SENSOR_HANDLE h) { return Sensor_GetGainRange(h, nullptr, &gMax, &gContexts); },
           "pflMin, pflMax or puiContexts is NULL"},
          {[](SENSOR_HANDLE h) { return Sensor_GetGainRange(h, &gMin, nullptr, &gContexts); },
           "pflMin, pflMax or puiContexts is NULL"},
          {[](SENSOR_HANDLE h) { return Sensor_GetGainRange(h, &gMin, &gMax, nullptr); },
           "pflMin, pflMax or puiContexts is NULL"}},
         3,
         true,
         {"GetGainRange()"}},
        {"Sensor_GetCurrentGain",
         "GetCurrentGain",
         [](SENSOR_FUNCS &f) { f.GetCurrentGain = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_GetCurrentGain(h, &gGain, 2); },
         {{[](SENSOR_HANDLE h) { return Sensor_GetCurrentGain(h, nullptr, 2); }, "pflCurrent is NULL"}},
         3,
         true,
         {"GetCurrentGain(2)"}},
        {"Sensor_GetExposureRange",
         "GetExposureRange",
         [](SENSOR_FUNCS &f) { f.GetExposureRange = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_GetExposureRange(h, &gU32Min, &gU32Max, &gContexts); },
         {{[](SENSOR_HANDLE h) { return Sensor_GetExposureRange(h, nullptr, &gU32Max, &gContexts); },
           "pui32Min, pui32Max or pui8Contexts is NULL"},
          {[](SENSOR_HANDLE h) { return Sensor_GetExposureRange(h, &gU32Min, nullptr, &gContexts); },
           "pui32Min, pui32Max or pui8Contexts is NULL"},
          {[](SENSOR_HANDLE h) { return Sensor_GetExposureRange(h, &gU32Min, &gU32Max, nullptr); },
           "pui32Min, pui32Max or pui8Contexts is NULL"}},
         3,
         true,
         {"GetExposureRange()"}},
        {"Sensor_GetExposure",
         "GetExposure",
         [](SENSOR_FUNCS &f) { f.GetExposure = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_GetExposure(h, &gExposure, 1); },
         {{[](SENSOR_HANDLE h) { return Sensor_GetExposure(h, nullptr, 1); }, "pui32Exposure is NULL"}},
         3,
         true,
         {"GetExposure(1)"}},
        {"Sensor_SetExposureGain",
         "SetExposureGain",
         [](SENSOR_FUNCS &f) { f.SetExposureGain = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_SetExposureGain(h, 1000, 2.0, 1); },
         {},
         3,
         true,
         {"GetExposureRange()", "GetGainRange()", "SetExposureGain(1000,2.000,1)"}},
        {"Sensor_GetFocusRange",
         "GetFocusRange",
         [](SENSOR_FUNCS &f) { f.GetFocusRange = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_GetFocusRange(h, &gU16Min, &gU16Max); },
         {{[](SENSOR_HANDLE h) { return Sensor_GetFocusRange(h, nullptr, &gU16Max); }, "pui16Min or pui16Max is NULL"},
          {[](SENSOR_HANDLE h) { return Sensor_GetFocusRange(h, &gU16Min, nullptr); }, "pui16Min or pui16Max is NULL"}},
         22,
         false,
         {"GetFocusRange()"}},
        {"Sensor_GetCurrentFocus",
         "GetCurrentFocus",
         [](SENSOR_FUNCS &f) { f.GetCurrentFocus = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_GetCurrentFocus(h, &gFocus); },
         {{[](SENSOR_HANDLE h) { return Sensor_GetCurrentFocus(h, nullptr); }, "pui16Current is NULL"}},
         22,
         false,
         {"GetCurrentFocus()"}},
        {"Sensor_SetFocus",
         "SetFocus",
         [](SENSOR_FUNCS &f) { f.SetFocus = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_SetFocus(h, 300); },
         {},
         22,
         false,
         {"GetFocusRange()", "SetFocus(300)"}},
        {"Sensor_ConfigureFlash",
         "ConfigureFlash",
         [](SENSOR_FUNCS &f) { f.ConfigureFlash = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_ConfigureFlash(h, QOR_TRUE, -2, 3, 400); },
         {},
         22,
         false,
         {"ConfigureFlash(1,-2,3,400)"}},
        {"Sensor_Insert",
         "Insert",
         [](SENSOR_FUNCS &f) { f.Insert = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_Insert(h); },
         {},
         22,
         false,
         {"Insert()"}},
        {"Sensor_WaitProcessed",
         "WaitProcessed",
         [](SENSOR_FUNCS &f) { f.WaitProcessed = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_WaitProcessed(h); },
         {},
         22,
         false,
         {"WaitProcessed()"}},
        {"Sensor_SetExtraParam",
         "SetExtraParam",
         [](SENSOR_FUNCS &f) { f.SetExtraParam = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_SetExtraParam(h, "hdrMode", 7); },
         {{[](SENSOR_HANDLE h) { return Sensor_SetExtraParam(h, nullptr, 7); }, "sName is NULL"}},
         22,
         false,
         {"GetSupportedExtraParams()", "SetExtraParam(1,7)"}},
        {"Sensor_GetExtraParam",
         "GetExtraParam",
         [](SENSOR_FUNCS &f) { f.GetExtraParam = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_GetExtraParam(h, "hdrMode", &gValue); },
         {{[](SENSOR_HANDLE h) { return Sensor_GetExtraParam(h, nullptr, &gValue); }, "sName is NULL"},
          {[](SENSOR_HANDLE h) { return Sensor_GetExtraParam(h, "hdrMode", nullptr); }, "pui8Value is NULL"}},
         22,
         false,
         {"GetSupportedExtraParams()", "GetExtraParam(1)"}},
        {"Sensor_SetPhyConnection",
         "SetConnection",
         [](SENSOR_FUNCS &f) { f.SetConnection = nullptr; },
         [](SENSOR_HANDLE h) { return Sensor_SetPhyConnection(h, &gConnection); },
         {{[](SENSOR_HANDLE h) { return Sensor_SetPhyConnection(h, nullptr); }, "pConn is NULL"}},
         0,
         false,
         {"SetConnection(conn)"}},
    };
    return rows;
}

class SensorDispatch : public testing::Test {
protected:
    void SetUp() override {
        LOG_SetLevel(LOG_LEVEL_INFO);
        script.deleteOnDestroy = false; // the fixture owns the record
        script.SetModes({{MakeMode(1920, 1080, 10, 30.0, 4)},
                         {},
                         {MakeMode(1280, 720, 10, 60.0, 2), MakeMode(640, 480, 12, 90.0, 1)}});
        std::strcpy(script.info.pszSensorName, "Scripted");
        script.extraParams = kExtraNames;
        Reset();
    }
    void TearDown() override { LOG_SetLevel(LOG_LEVEL_INFO); }

    // Every slot filled, idle in mode 0, no scripted failure, nothing recorded.
    void Reset() {
        sensor.funcs = ScriptedSensor::AllSlots();
        script.status = SENSOR_STATUS{0, SENSOR_FLIP_NONE, SENSOR_STATE_IDLE};
        script.results.clear();
        script.calls.clear();
    }

    ScopedEnv noEnvLevel{"NORVA_LOG_LEVEL", nullptr};
    SensorScript script;
    ScriptedSensor sensor{ScriptedSensor::AllSlots(), &script};
    SENSOR_HANDLE h = &sensor.funcs;
};

using Log = std::vector<LogLine>;

TEST_F(SensorDispatch, NullHandleIsCheckedBeforeEverythingElse) {
    for (const DispatchRow &row : Rows()) {
        SCOPED_TRACE(row.function);
        QOR_RESULT r = -1;
        EXPECT_EQ(CaptureLog([&] { r = row.call(nullptr); }), Log{SensorError(row.function, "hHandle is NULL")});
        EXPECT_EQ(r, QOR_RES_INVALID_PARAM);
        for (const NullPointer &n : row.nulls) {
            EXPECT_EQ(CaptureLog([&] { r = n.call(nullptr); }), Log{SensorError(row.function, "hHandle is NULL")});
            EXPECT_EQ(r, QOR_RES_INVALID_PARAM);
        }
    }
    EXPECT_TRUE(script.calls.empty());
}

TEST_F(SensorDispatch, NullPointerIsRefusedBeforeTheSlotIsLookedAt) {
    for (const DispatchRow &row : Rows()) {
        SCOPED_TRACE(row.function);
        for (const NullPointer &n : row.nulls) {
            for (bool slotEmpty : {false, true}) {
                Reset();
                if (slotEmpty)
                    row.clear(sensor.funcs);
                QOR_RESULT r = -1;
                EXPECT_EQ(CaptureLog([&] { r = n.call(h); }), Log{SensorError(row.function, n.message)});
                EXPECT_EQ(r, QOR_RES_INVALID_PARAM);
                EXPECT_TRUE(script.calls.empty());
            }
        }
    }
}

TEST_F(SensorDispatch, EmptySlotFailsMandatoryAndRefusesOptionalOperations) {
    for (const DispatchRow &row : Rows()) {
        SCOPED_TRACE(row.function);
        Reset();
        row.clear(sensor.funcs);
        QOR_RESULT r = -1;
        const Log log = CaptureLog([&] { r = row.call(h); });
        EXPECT_EQ(r, row.emptyResult);
        EXPECT_EQ(log,
                  row.emptyLogs ? Log{SensorError(row.function, std::string(row.slot) + " is not defined!")} : Log{});
        EXPECT_TRUE(script.calls.empty()) << script.calls.front();
    }
}

TEST_F(SensorDispatch, DriverIsReachedAndItsResultReturnedUnchanged) {
    for (const DispatchRow &row : Rows()) {
        SCOPED_TRACE(row.function);
        Reset();
        QOR_RESULT r = -1;
        EXPECT_EQ(CaptureLog([&] { r = row.call(h); }), Log{});
        EXPECT_EQ(r, QOR_RES_OK);
        EXPECT_EQ(script.calls, row.driverSees);

        Reset();
        script.results[row.slot] = QOR_RES_IO_FAILED;
        CaptureLog([&] { r = row.call(h); });
        EXPECT_EQ(r, QOR_RES_IO_FAILED);
    }
}

TEST_F(SensorDispatch, RecordsAreZeroedWhateverTheOutcome) {
    // An unknown mode number (configuration 1 has no modes) is the driver's 22; an empty slot is 3.
    std::memset(&gMode, 0xAB, sizeof(gMode));
    CaptureLog([&] { EXPECT_EQ(Sensor_GetMode(h, 0x13, &gMode), QOR_RES_NOT_SUPPORTED); });
    EXPECT_EQ(gMode.ui16Width, 0);
    EXPECT_EQ(gMode.flFrameRate, 0.0);

    sensor.funcs.GetMode = nullptr;
    std::memset(&gMode, 0xAB, sizeof(gMode));
    CaptureLog([&] { EXPECT_EQ(Sensor_GetMode(h, 0, &gMode), QOR_RES_FAILED); });
    EXPECT_EQ(gMode.ui32ExposureMax, 0u);

    sensor.funcs.GetInfo = nullptr;
    std::memset(&gInfo, 0xAB, sizeof(gInfo));
    CaptureLog([&] { EXPECT_EQ(Sensor_GetInfo(h, &gInfo), QOR_RES_FAILED); });
    EXPECT_EQ(gInfo.pszSensorName[0], '\0');
    EXPECT_EQ(gInfo.pNumModes, nullptr);
}

TEST_F(SensorDispatch, ModeNumberIsConfigurationTimesSixteenPlusIndex) {
    EXPECT_EQ(SENSOR_MODE_NUMBER(2, 1), 0x21);
    EXPECT_EQ(SENSOR_MODE_CONFIG(0x21), 2);
    EXPECT_EQ(SENSOR_MODE_INDEX(0x21), 1);
    // The scripted driver holds 640x480 as index 1 of configuration 2.
    ASSERT_EQ(Sensor_GetMode(h, 0x21, &gMode), QOR_RES_OK);
    EXPECT_EQ(gMode.ui16Width, 640);
    EXPECT_EQ(gMode.ui8BitDepth, 12);
}

TEST_F(SensorDispatch, GetInfoReportsStateFactsAndTheCurrentMode) {
    script.status = SENSOR_STATUS{0x21, SENSOR_FLIP_VERTICAL, SENSOR_STATE_RUNNING};
    script.info.ui8Imager = 1;
    ASSERT_EQ(CaptureLog([&] { EXPECT_EQ(Sensor_GetInfo(h, &gInfo), QOR_RES_OK); }), Log{});
    EXPECT_EQ(script.calls, (std::vector<std::string>{"GetState()", "GetInfo()", "GetMode(33)"}));
    EXPECT_STREQ(gInfo.pszSensorName, "Scripted");
    EXPECT_EQ(gInfo.ui8Imager, 1);
    EXPECT_EQ(gInfo.sStatus.ui16CurrentMode, 0x21);
    EXPECT_EQ(gInfo.sStatus.ui8Flipping, SENSOR_FLIP_VERTICAL);
    EXPECT_EQ(gInfo.sStatus.eState, SENSOR_STATE_RUNNING);
    EXPECT_EQ(gInfo.sMode.ui16Width, 640);
    EXPECT_EQ(gInfo.ui8NumConfig, 3);
    EXPECT_EQ(gInfo.pNumModes[2], 2);
}

TEST_F(SensorDispatch, GetInfoStopsAtTheFirstFailingStep) {
    struct Case {
        const char *what;
        void (*prepare)(SensorScript &, SENSOR_FUNCS &);
        QOR_RESULT result;
        Log log;
        std::vector<std::string> driverSees;
    };
    const Case cases[] = {
        {"state fails",
         [](SensorScript &s, SENSOR_FUNCS &) { s.results["GetState"] = QOR_RES_IO_FAILED; },
         QOR_RES_IO_FAILED,
         {SensorError("Sensor_GetInfo", "failed to get sensor's state")},
         {"GetState()"}},
        {"no state operation",
         [](SensorScript &, SENSOR_FUNCS &f) { f.GetState = nullptr; },
         QOR_RES_FAILED,
         {SensorError("Sensor_GetState", "GetState is not defined!"),
          SensorError("Sensor_GetInfo", "failed to get sensor's state")},
         {}},
        {"info fails",
         [](SensorScript &s, SENSOR_FUNCS &) { s.results["GetInfo"] = QOR_RES_DEVICE_FAILED; },
         QOR_RES_DEVICE_FAILED,
         {SensorError("Sensor_GetInfo", "failed to get sensor's info")},
         {"GetState()", "GetInfo()"}},
        {"current mode unknown",
         [](SensorScript &s, SENSOR_FUNCS &) { s.status.ui16CurrentMode = 0x13; },
         QOR_RES_NOT_SUPPORTED,
         {SensorError("Sensor_GetInfo", "failed to get sensor's mode")},
         {"GetState()", "GetInfo()", "GetMode(19)"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        script.status = SENSOR_STATUS{0, SENSOR_FLIP_NONE, SENSOR_STATE_IDLE};
        c.prepare(script, sensor.funcs);
        QOR_RESULT r = -1;
        EXPECT_EQ(CaptureLog([&] { r = Sensor_GetInfo(h, &gInfo); }), c.log);
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(script.calls, c.driverSees);
    }
    // The record stays filled as far as it got.
    EXPECT_STREQ(gInfo.pszSensorName, "Scripted");
}

TEST_F(SensorDispatch, ExposureAndGainAreClampedIntoTheDriverRanges) {
    struct Case {
        const char *what;
        void (*prepare)(SensorScript &, SENSOR_FUNCS &);
        QOR_UINT32 exposure;
        double gain;
        QOR_RESULT result;
        std::vector<std::string> driverSees;
        Log log;
    };
    auto none = [](SensorScript &, SENSOR_FUNCS &) {};
    const std::vector<std::string> ranges{"GetExposureRange()", "GetGainRange()"};
    auto with = [&](const char *set) {
        std::vector<std::string> v = ranges;
        v.push_back(set);
        return v;
    };
    const Case cases[] = {
        {"inside", none, 1000, 2.0, 0, with("SetExposureGain(1000,2.000,1)"), {}},
        {"on the limits", none, 33000, 16.0, 0, with("SetExposureGain(33000,16.000,1)"), {}},
        {"exposure too long",
         none,
         40000,
         2.0,
         0,
         with("SetExposureGain(33000,2.000,1)"),
         {SensorWarning("Sensor_SetExposureGain",
                        "Exposure value 40000 is greater than maximum value, set exposure = 33000")}},
        {"both too low",
         none,
         10,
         0.5,
         0,
         with("SetExposureGain(30,1.000,1)"),
         {SensorWarning("Sensor_SetExposureGain", "Exposure value 10 is lower than minimum value, set exposure = 30"),
          SensorWarning("Sensor_SetExposureGain",
                        "Gain value 0.500000 is lower than minimum value, set gain = 1.000000")}},
        {"gain too high",
         none,
         500,
         20.0,
         0,
         with("SetExposureGain(500,16.000,1)"),
         {SensorWarning("Sensor_SetExposureGain",
                        "Gain value 20.000000 is greater than maximum value, set gain = 16.000000")}},
        {"gain not a number",
         none,
         500,
         std::nan(""),
         0,
         with("SetExposureGain(500,1.000,1)"),
         {SensorWarning("Sensor_SetExposureGain", "Gain value nan is lower than minimum value, set gain = 1.000000")}},
        {"no ranges: unclamped",
         [](SensorScript &, SENSOR_FUNCS &f) {
             f.GetExposureRange = nullptr;
             f.GetGainRange = nullptr;
         },
         40000,
         0.5,
         0,
         {"SetExposureGain(40000,0.500,1)"},
         {}},
        {"exposure range fails",
         [](SensorScript &s, SENSOR_FUNCS &) { s.results["GetExposureRange"] = 24; },
         1000,
         2.0,
         24,
         {"GetExposureRange()"},
         {}},
        {"gain range fails",
         [](SensorScript &s, SENSOR_FUNCS &) { s.results["GetGainRange"] = 5; },
         1000,
         2.0,
         5,
         ranges,
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        c.prepare(script, sensor.funcs);
        QOR_RESULT r = -1;
        EXPECT_EQ(CaptureLog([&] { r = Sensor_SetExposureGain(h, c.exposure, c.gain, 1); }), c.log);
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(script.calls, c.driverSees);
    }
}

TEST_F(SensorDispatch, FocusIsClampedIntoTheDriverRange) {
    struct Case {
        const char *what;
        void (*prepare)(SensorScript &, SENSOR_FUNCS &);
        QOR_UINT16 focus;
        QOR_RESULT result;
        std::vector<std::string> driverSees;
        Log log;
    };
    auto none = [](SensorScript &, SENSOR_FUNCS &) {};
    const Case cases[] = {
        {"inside", none, 300, 0, {"GetFocusRange()", "SetFocus(300)"}, {}},
        {"too far",
         none,
         1000,
         0,
         {"GetFocusRange()", "SetFocus(600)"},
         {SensorWarning("Sensor_SetFocus", "Focus value 1000 is greater than maximum value, set focus = 600")}},
        {"too near",
         none,
         10,
         0,
         {"GetFocusRange()", "SetFocus(50)"},
         {SensorWarning("Sensor_SetFocus", "Focus value 10 is lower than minimum value, set focus = 50")}},
        {"no range: unclamped",
         [](SensorScript &, SENSOR_FUNCS &f) { f.GetFocusRange = nullptr; },
         1000,
         0,
         {"SetFocus(1000)"},
         {}},
        {"range fails",
         [](SensorScript &s, SENSOR_FUNCS &) { s.results["GetFocusRange"] = 24; },
         300,
         24,
         {"GetFocusRange()"},
         {}},
        {"no lens: refused quietly without probing the range",
         [](SensorScript &, SENSOR_FUNCS &f) { f.SetFocus = nullptr; },
         1000,
         22,
         {},
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        c.prepare(script, sensor.funcs);
        QOR_RESULT r = -1;
        EXPECT_EQ(CaptureLog([&] { r = Sensor_SetFocus(h, c.focus); }), c.log);
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(script.calls, c.driverSees);
    }
}

TEST_F(SensorDispatch, ExtraParametersAreFoundByExactName) {
    struct Case {
        const char *name;
        void (*prepare)(SensorScript &, SENSOR_FUNCS &);
        QOR_RESULT result;
        std::vector<std::string> driverSees;
    };
    auto none = [](SensorScript &, SENSOR_FUNCS &) {};
    const Case cases[] = {
        {"expGain", none, 0, {"GetSupportedExtraParams()", "SetExtraParam(0,5)"}},
        {"hdrMode", none, 0, {"GetSupportedExtraParams()", "SetExtraParam(1,5)"}},
        {"ExpGain", none, 22, {"GetSupportedExtraParams()"}},
        {"expGain2", none, 22, {"GetSupportedExtraParams()"}},
        {"", none, 22, {"GetSupportedExtraParams()"}},
        {"expGain", [](SensorScript &, SENSOR_FUNCS &f) { f.GetSupportedExtraParams = nullptr; }, 22, {}},
        {"expGain",
         [](SensorScript &s, SENSOR_FUNCS &) { s.extraParams = nullptr; },
         22,
         {"GetSupportedExtraParams()"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        script.extraParams = kExtraNames;
        c.prepare(script, sensor.funcs);
        QOR_RESULT r = -1;
        EXPECT_EQ(CaptureLog([&] { r = Sensor_SetExtraParam(h, c.name, 5); }), Log{});
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(script.calls, c.driverSees);
    }

    Reset();
    script.extraParams = kExtraNames;
    ASSERT_EQ(Sensor_SetExtraParam(h, "hdrMode", 9), QOR_RES_OK);
    gValue = 0;
    ASSERT_EQ(Sensor_GetExtraParam(h, "hdrMode", &gValue), QOR_RES_OK);
    EXPECT_EQ(gValue, 9);
    EXPECT_EQ(Sensor_GetExtraParam(h, "unknown", &gValue), QOR_RES_NOT_SUPPORTED);
}

TEST_F(SensorDispatch, ExtraParameterListIsNeverNull) {
    const char **list = nullptr;
    EXPECT_EQ(CaptureLog([&] { list = Sensor_GetSupportedExtraParams(nullptr); }),
              Log{SensorError("Sensor_GetSupportedExtraParams", "hHandle is NULL")});
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], nullptr);

    EXPECT_EQ(Sensor_GetSupportedExtraParams(h), kExtraNames);

    script.extraParams = nullptr; // a driver that answers without a list
    list = Sensor_GetSupportedExtraParams(h);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], nullptr);

    sensor.funcs.GetSupportedExtraParams = nullptr;
    list = Sensor_GetSupportedExtraParams(h);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], nullptr);
}

} // namespace
