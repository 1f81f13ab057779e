#include "support/scripted_sensor.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <ostream>
#include <regex>

#include "norvacommon/userlog.h"

namespace norva_test {

namespace {

SensorScript &scriptOf(SENSOR_HANDLE h) { return *reinterpret_cast<ScriptedSensor *>(h)->script; }

// Records the call and returns the operation's scripted result.
QOR_RESULT record(SENSOR_HANDLE h, const char *operation, const char *format = "", ...);
QOR_RESULT record(SENSOR_HANDLE h, const char *operation, const char *format, ...) {
    char args[128];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(args, sizeof(args), format, ap);
    va_end(ap);
    SensorScript &s = scriptOf(h);
    s.calls.push_back(std::string(operation) + "(" + args + ")");
    s.logLevelAt[operation] = LOG_GetLevel();
    return s.ResultOf(operation);
}

QOR_RESULT getMode(SENSOR_HANDLE h, QOR_UINT16 nMode, SENSOR_MODE *psModes) {
    QOR_RESULT r = record(h, "GetMode", "%u", unsigned{nMode});
    if (r != QOR_RES_OK)
        return r;
    const SensorScript &s = scriptOf(h);
    const unsigned config = nMode / 16u, index = nMode % 16u;
    if (config >= s.modes.size() || index >= s.modes[config].size())
        return QOR_RES_NOT_SUPPORTED;
    *psModes = s.modes[config][index];
    return QOR_RES_OK;
}

QOR_RESULT getState(SENSOR_HANDLE h, SENSOR_STATUS *psStatus) {
    QOR_RESULT r = record(h, "GetState");
    if (r == QOR_RES_OK)
        *psStatus = scriptOf(h).status;
    return r;
}

QOR_RESULT setMode(SENSOR_HANDLE h, QOR_UINT16 nMode, QOR_UINT8 flip) {
    QOR_RESULT r = record(h, "SetMode", "%u,%u", unsigned{nMode}, unsigned{flip});
    if (r == QOR_RES_OK) {
        scriptOf(h).status.ui16CurrentMode = nMode;
        scriptOf(h).status.ui8Flipping = flip;
    }
    return r;
}

QOR_RESULT enable(SENSOR_HANDLE h) {
    QOR_RESULT r = record(h, "Enable");
    if (r == QOR_RES_OK)
        scriptOf(h).status.eState = SENSOR_STATE_RUNNING;
    return r;
}

QOR_RESULT disable(SENSOR_HANDLE h) {
    QOR_RESULT r = record(h, "Disable");
    if (r == QOR_RES_OK)
        scriptOf(h).status.eState = SENSOR_STATE_IDLE;
    return r;
}

QOR_RESULT destroy(SENSOR_HANDLE h) {
    QOR_RESULT r = record(h, "Destroy");
    if (r != QOR_RES_OK)
        return r;
    SensorScript &s = scriptOf(h);
    --s.live;
    if (s.deleteOnDestroy)
        delete reinterpret_cast<ScriptedSensor *>(h);
    return r;
}

QOR_RESULT getInfo(SENSOR_HANDLE h, SENSOR_INFO *psInfo) {
    QOR_RESULT r = record(h, "GetInfo");
    if (r != QOR_RES_OK)
        return r;
    // A driver fills the static facts and leaves status and mode to the API.
    const SENSOR_STATUS status = psInfo->sStatus;
    const SENSOR_MODE mode = psInfo->sMode;
    *psInfo = scriptOf(h).info;
    psInfo->sStatus = status;
    psInfo->sMode = mode;
    return r;
}

QOR_RESULT getGainRange(SENSOR_HANDLE h, double *pMin, double *pMax, QOR_UINT8 *pContexts) {
    QOR_RESULT r = record(h, "GetGainRange");
    if (r != QOR_RES_OK)
        return r;
    const SensorScript &s = scriptOf(h);
    *pMin = s.gainMin;
    *pMax = s.gainMax;
    *pContexts = s.contexts;
    return r;
}

QOR_RESULT getCurrentGain(SENSOR_HANDLE h, double *pCurrent, QOR_UINT8 context) {
    QOR_RESULT r = record(h, "GetCurrentGain", "%u", unsigned{context});
    if (r == QOR_RES_OK)
        *pCurrent = scriptOf(h).gain;
    return r;
}

QOR_RESULT getExposureRange(SENSOR_HANDLE h, QOR_UINT32 *pMin, QOR_UINT32 *pMax, QOR_UINT8 *pContexts) {
    QOR_RESULT r = record(h, "GetExposureRange");
    if (r != QOR_RES_OK)
        return r;
    const SensorScript &s = scriptOf(h);
    *pMin = s.exposureMin;
    *pMax = s.exposureMax;
    *pContexts = s.contexts;
    return r;
}

QOR_RESULT getExposure(SENSOR_HANDLE h, QOR_UINT32 *pExposure, QOR_UINT8 context) {
    QOR_RESULT r = record(h, "GetExposure", "%u", unsigned{context});
    if (r == QOR_RES_OK)
        *pExposure = scriptOf(h).exposure;
    return r;
}

QOR_RESULT setExposureGain(SENSOR_HANDLE h, QOR_UINT32 exposure, double gain, QOR_UINT8 context) {
    QOR_RESULT r = record(h, "SetExposureGain", "%u,%.3f,%u", exposure, gain, unsigned{context});
    if (r == QOR_RES_OK) {
        scriptOf(h).exposure = exposure;
        scriptOf(h).gain = gain;
    }
    return r;
}

QOR_RESULT getFocusRange(SENSOR_HANDLE h, QOR_UINT16 *pMin, QOR_UINT16 *pMax) {
    QOR_RESULT r = record(h, "GetFocusRange");
    if (r != QOR_RES_OK)
        return r;
    *pMin = scriptOf(h).focusMin;
    *pMax = scriptOf(h).focusMax;
    return r;
}

QOR_RESULT getCurrentFocus(SENSOR_HANDLE h, QOR_UINT16 *pCurrent) {
    QOR_RESULT r = record(h, "GetCurrentFocus");
    if (r == QOR_RES_OK)
        *pCurrent = scriptOf(h).focus;
    return r;
}

QOR_RESULT setFocus(SENSOR_HANDLE h, QOR_UINT16 focus) {
    QOR_RESULT r = record(h, "SetFocus", "%u", unsigned{focus});
    if (r == QOR_RES_OK)
        scriptOf(h).focus = focus;
    return r;
}

QOR_RESULT configureFlash(SENSOR_HANDLE h, QOR_BOOL alwaysOn, QOR_INT16 delay, QOR_INT16 frames, QOR_UINT16 width) {
    return record(h, "ConfigureFlash", "%d,%d,%d,%u", alwaysOn, delay, frames, unsigned{width});
}

QOR_RESULT insert(SENSOR_HANDLE h) { return record(h, "Insert"); }

QOR_RESULT waitProcessed(SENSOR_HANDLE h) { return record(h, "WaitProcessed"); }

const char **getSupportedExtraParams(SENSOR_HANDLE h) {
    record(h, "GetSupportedExtraParams");
    return scriptOf(h).extraParams;
}

QOR_RESULT setExtraParam(SENSOR_HANDLE h, QOR_UINT8 index, QOR_UINT8 value) {
    QOR_RESULT r = record(h, "SetExtraParam", "%u,%u", unsigned{index}, unsigned{value});
    if (r == QOR_RES_OK)
        scriptOf(h).extraValues.at(index) = value;
    return r;
}

QOR_RESULT getExtraParam(SENSOR_HANDLE h, QOR_UINT8 index, QOR_UINT8 *pValue) {
    QOR_RESULT r = record(h, "GetExtraParam", "%u", unsigned{index});
    if (r == QOR_RES_OK)
        *pValue = scriptOf(h).extraValues.at(index);
    return r;
}

QOR_RESULT setConnection(SENSOR_HANDLE h, CI_CONNECTION *pConn) {
    return record(h, "SetConnection", "%s", pConn ? "conn" : "NULL");
}

} // namespace

void SensorScript::SetModes(std::vector<std::vector<SENSOR_MODE>> byConfiguration) {
    modes = std::move(byConfiguration);
    numModes.clear();
    for (const auto &c : modes)
        numModes.push_back(static_cast<QOR_UINT8>(c.size()));
    info.ui8NumConfig = static_cast<QOR_UINT8>(numModes.size());
    info.pNumModes = numModes.data();
}

QOR_RESULT SensorScript::ResultOf(const std::string &operation) const {
    auto it = results.find(operation);
    return it == results.end() ? QOR_RES_OK : it->second;
}

SENSOR_FUNCS ScriptedSensor::AllSlots() {
    SENSOR_FUNCS f;
    f.GetMode = getMode;
    f.GetState = getState;
    f.SetMode = setMode;
    f.Enable = enable;
    f.Disable = disable;
    f.Destroy = destroy;
    f.GetInfo = getInfo;
    f.GetGainRange = getGainRange;
    f.GetCurrentGain = getCurrentGain;
    f.GetExposureRange = getExposureRange;
    f.GetExposure = getExposure;
    f.SetExposureGain = setExposureGain;
    f.GetFocusRange = getFocusRange;
    f.GetCurrentFocus = getCurrentFocus;
    f.SetFocus = setFocus;
    f.ConfigureFlash = configureFlash;
    f.Insert = insert;
    f.WaitProcessed = waitProcessed;
    f.GetSupportedExtraParams = getSupportedExtraParams;
    f.SetExtraParam = setExtraParam;
    f.GetExtraParam = getExtraParam;
    f.SetConnection = setConnection;
    return f;
}

QOR_RESULT ScriptedSensor::Create(SensorScript *script, SENSOR_HANDLE *phHandle) {
    script->calls.push_back("Create()");
    script->logLevelAt["Create"] = LOG_GetLevel();
    const QOR_RESULT r = script->ResultOf("Create");
    if (r != QOR_RES_OK)
        return r;
    ScriptedSensor *sensor = new ScriptedSensor{AllSlots(), script};
    ++script->live;
    *phHandle = &sensor->funcs;
    return QOR_RES_OK;
}

SENSOR_MODE MakeMode(QOR_UINT16 width, QOR_UINT16 height, QOR_UINT8 bitDepth, double frameRate, QOR_UINT8 lanes,
                     bool validFrequency, HDR_MODES hdr, CG_MODES cg) {
    SENSOR_MODE m{};
    m.ui16Width = width;
    m.ui16Height = height;
    m.ui8BitDepth = bitDepth;
    m.flFrameRate = frameRate;
    m.ui8MipiLanes = lanes;
    m.bValidFrequency = validFrequency ? 1 : 0;
    m.eHDRMode = hdr;
    m.eConvGainMode = cg;
    return m;
}

std::ostream &operator<<(std::ostream &os, const LogLine &l) {
    return os << l.level << " [" << l.tag << "] " << l.function << "(): \"" << l.message << "\"";
}

void BeginCapture() { testing::internal::CaptureStderr(); }

std::string EndCapture() {
    std::fflush(stderr);
    return testing::internal::GetCapturedStderr();
}

std::vector<LogLine> ParseLog(const std::string &text) {
    // "ERROR [TAG]: fn():line message" and "WARNING [TAG]: fn() message"
    static const std::regex line(R"(^(\w+) \[([^\]]*)\]: (\w+)\(\)(?::\d+)? (.*)$)");
    std::vector<LogLine> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string one = text.substr(start, end - start);
        std::smatch m;
        if (std::regex_match(one, m, line)) {
            out.push_back(LogLine{m[1], m[2], m[3], m[4]});
        } else {
            out.push_back(LogLine{"?", "", "", one});
        }
        start = end + 1;
    }
    return out;
}

LogLine SensorError(const std::string &function, const std::string &message) {
    return LogLine{"ERROR", "SENSOR", function, message};
}

LogLine SensorWarning(const std::string &function, const std::string &message) {
    return LogLine{"WARNING", "SENSOR", function, message};
}

} // namespace norva_test
