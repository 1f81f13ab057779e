#ifndef NORVA_TEST_SCRIPTED_SENSOR_H
#define NORVA_TEST_SCRIPTED_SENSOR_H

#include <map>
#include <string>
#include <vector>

#include "sensorapi/sensorapi.h"

namespace norva_test {

/**
 * What a scripted test driver answers and what it was asked. Every operation records its call
 * ("SetExposureGain(100,2.000,1)") and the log level in force, and returns the scripted result of
 * that operation (0 unless set); a failing operation changes nothing.
 */
struct SensorScript {
    // GetMode answers modes[configuration][index] for mode number (configuration << 4) + index, 22 otherwise.
    std::vector<std::vector<SENSOR_MODE>> modes;
    // What GetInfo reports; SetModes fills ui8NumConfig and pNumModes from the modes.
    SENSOR_INFO info{};
    std::vector<QOR_UINT8> numModes;
    SENSOR_STATUS status{0, SENSOR_FLIP_NONE, SENSOR_STATE_IDLE};

    double gainMin = 1.0, gainMax = 16.0, gain = 1.0;
    QOR_UINT32 exposureMin = 30, exposureMax = 33000, exposure = 1000;
    QOR_UINT16 focusMin = 50, focusMax = 600, focus = 50;
    QOR_UINT8 contexts = 1;
    const char **extraParams = nullptr;
    std::vector<QOR_UINT8> extraValues = std::vector<QOR_UINT8>(8, 0);

    std::map<std::string, QOR_RESULT> results; // by operation name ("GetMode", "Create", ...)
    bool deleteOnDestroy = true;               // Destroy frees the instance, as drivers do

    std::vector<std::string> calls;
    std::map<std::string, int> logLevelAt; // log level during the last call of each operation
    int live = 0;                          // instances created and not destroyed

    void SetModes(std::vector<std::vector<SENSOR_MODE>> byConfiguration);
    QOR_RESULT ResultOf(const std::string &operation) const;
};

/** A driver record: the operation table first, as every driver's. */
struct ScriptedSensor {
    SENSOR_FUNCS funcs;
    SensorScript *script;

    /** Every slot filled with the scripted operations. */
    static SENSOR_FUNCS AllSlots();
    /** Creates an instance on the heap, as a registry create function does. */
    static QOR_RESULT Create(SensorScript *script, SENSOR_HANDLE *phHandle);
};

/** A mode with the fields the listing copies. */
SENSOR_MODE MakeMode(QOR_UINT16 width, QOR_UINT16 height, QOR_UINT8 bitDepth, double frameRate, QOR_UINT8 lanes,
                     bool validFrequency = true, HDR_MODES hdr = HDR_NONE, CG_MODES cg = CG_NONE);

/** One line of the logger's output on standard error. */
struct LogLine {
    std::string level; // "ERROR", "WARNING", ...
    std::string tag;
    std::string function;
    std::string message; // without the closing newline
    bool operator==(const LogLine &o) const {
        return level == o.level && tag == o.tag && function == o.function && message == o.message;
    }
};
std::ostream &operator<<(std::ostream &os, const LogLine &l);

/** Runs f with standard error captured and returns the log lines it printed. */
template <typename F> std::vector<LogLine> CaptureLog(F &&f);
std::vector<LogLine> ParseLog(const std::string &text);
void BeginCapture();
std::string EndCapture();

template <typename F> std::vector<LogLine> CaptureLog(F &&f) {
    BeginCapture();
    f();
    return ParseLog(EndCapture());
}

/** Shorthands for expected lines under the tag "SENSOR". */
LogLine SensorError(const std::string &function, const std::string &message);
LogLine SensorWarning(const std::string &function, const std::string &message);

} // namespace norva_test

#endif
