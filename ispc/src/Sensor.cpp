#include "ispc/Sensor.h"

#include "ispc/SensorFacts.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "ISPC_SENSOR";
} // namespace

namespace ISPC {

namespace {

// Defaults shared by the parameter definitions and the initial members. Constants, so a sensor built
// from another unit's static initialiser still starts from them.
constexpr double kExposureMsMax = 5000.0;
constexpr double kExposureMsDef = 35.0;
constexpr double kGainMax = 128.0;
constexpr double kGainDef = 1.0;
constexpr unsigned kBitDepthDef = 10;
constexpr unsigned kWellDepthDef = 5000;
constexpr double kReadNoiseDef = 0.0;
constexpr double kFrameRateDef = 30.0;
constexpr unsigned kSizeDef[2] = {1280, 720};
constexpr unsigned kVTotDef = 525;

// Rounds a request up to the next multiple of step; a result beyond 32 bits saturates, so the driver's
// range clamps it to its maximum instead of a wrapped, far shorter exposure.
QOR_UINT32 stepExposure(unsigned long uSeconds, QOR_UINT32 step) {
    const uint64_t s = step != 0 ? step : 1;
    const uint64_t e = uSeconds;
    const uint64_t q = e / s + (e % s != 0 ? 1 : 0);
    if (q > UINT32_MAX / s) {
        return UINT32_MAX;
    }
    return static_cast<QOR_UINT32>(q * s);
}

} // namespace

const ParamDef<double> Sensor::SENSOR_EXPOSURE("SENSOR_EXPOSURE_MS", 0.0, kExposureMsMax, kExposureMsDef);
const ParamDef<double> Sensor::SENSOR_GAIN("SENSOR_GAIN", 0.0, kGainMax, kGainDef);
const ParamDef<unsigned> Sensor::SENSOR_BITDEPTH("SENSOR_BITDEPTH", 8, 16, kBitDepthDef);
const ParamDef<unsigned> Sensor::SENSOR_WELLDEPTH("SENSOR_WELL_DEPTH", 0, 65535, kWellDepthDef);
const ParamDef<double> Sensor::SENSOR_READNOISE("SENSOR_READ_NOISE", 0.0, 100.0, kReadNoiseDef);
const ParamDef<double> Sensor::SENSOR_FRAMERATE("SENSOR_FRAME_RATE", 1.0, 255.0, kFrameRateDef);
const ParamDefArray<unsigned> Sensor::SENSOR_SIZE("SENSOR_ACTIVE_SIZE", 0, 16384, kSizeDef, 2);
const ParamDef<unsigned> Sensor::SENSOR_VTOT("SENSOR_VTOT", 0, 16383, kVTotDef);

Sensor::Sensor()
    : hSensorHandle(nullptr),
      // The exposure parameter's default and range (milliseconds) taken as integers, until configure.
      programmedExposure(static_cast<QOR_UINT32>(kExposureMsDef)), programmedGain(kGainDef), programmedFocus(0),
      minExposure(0), maxExposure(static_cast<QOR_UINT32>(kExposureMsMax)), exposureStep(1), minFocus(0), maxFocus(0),
      minGain(0.0), maxGain(kGainMax), state(SENSOR_ERROR), focusSupported(false), uiWidth(kSizeDef[0]),
      uiHeight(kSizeDef[1]), uiImager(0), nVTot(kVTotDef), flTrow(0.0), eBayerFormat(MOSAIC_NONE), ui8SensorContexts(0),
      uiBitDepth(kBitDepthDef), flFrameRate(kFrameRateDef), uiWellDepth(kWellDepthDef), flReadNoise(kReadNoiseDef),
      flAperture(0.0), flPixelSize(0.0), uiFocalLength(0), eHDRMode(HDR_NONE), bLongExpFirst(false), ui32LineGap(0) {}

Sensor::Sensor(int sensorId) : Sensor() { init(sensorId); }

Sensor::~Sensor() { releaseDriver(); }

void Sensor::releaseDriver() {
    if (hSensorHandle == nullptr) {
        return;
    }
    if (state == SENSOR_ENABLED) {
        Sensor_Disable(hSensorHandle);
    }
    Sensor_Destroy(hSensorHandle);
    hSensorHandle = nullptr;
}

void Sensor::init(int sensorId) {
    // A second init must not leak the driver of the first.
    releaseDriver();
    state = SENSOR_ERROR;
    SENSOR_HANDLE handle = nullptr;
    QOR_RESULT ret = QOR_RES_INVALID_PARAM;
    if (sensorId >= 0 && sensorId <= UINT16_MAX) {
        ret = Sensor_Initialise(static_cast<QOR_UINT16>(sensorId), &handle);
    }
    if (ret != QOR_RES_OK || handle == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to get a sensor handle for identifier %d.\n", sensorId);
        return;
    }
    attachDriver(handle, sensorId);
}

void Sensor::attachDriver(SENSOR_HANDLE handle, int sensorId) {
    if (handle != hSensorHandle) {
        releaseDriver();
    }
    hSensorHandle = handle;
    state = SENSOR_ERROR;
    if (Sensor_SetPhyConnection(hSensorHandle, ciConnection.getConnection()) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to set connection for identifier %d.\n", sensorId);
        return;
    }
    state = SENSOR_INITIALIZED;
}

const char *Sensor::StateName(State s) {
    switch (s) {
    case SENSOR_ERROR:
        return "SENSOR_ERROR";
    case SENSOR_INITIALIZED:
        return "SENSOR_INITIALIZED";
    case SENSOR_ENABLED:
        return "SENSOR_ENABLED";
    case SENSOR_CONFIGURED:
        return "SENSOR_CONFIGURED";
    }
    return "UNKNOWN";
}

QOR_RESULT Sensor::configure(int sensorMode, int flipping) {
    // The names are the driver's static strings; copied so the list cannot change under the loop below.
    std::vector<std::string> extraNames;
    for (const char **name = Sensor_GetSupportedExtraParams(hSensorHandle); name != nullptr && *name != nullptr;
         ++name) {
        extraNames.emplace_back(*name);
    }

    if (state == SENSOR_ENABLED) {
        QOR_LOG_ERROR(kTag, "Sensor is in state %s, expecting !=%s\n", StateName(state), StateName(state));
        return QOR_RES_NOT_SUPPORTED;
    }

    QOR_RESULT ret =
        Sensor_SetMode(hSensorHandle, static_cast<QOR_UINT16>(sensorMode), static_cast<QOR_UINT8>(flipping));
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to set sensor's mode to %d with flipping 0x%x\n", sensorMode,
                      static_cast<unsigned>(flipping));
        state = SENSOR_ERROR;
        return ret;
    }

    SENSOR_INFO info;
    std::memset(&info, 0, sizeof(info));
    ret = Sensor_GetInfo(hSensorHandle, &info);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to get sensor's info\n");
        state = SENSOR_ERROR;
        return ret;
    }
    uiWidth = info.sMode.ui16Width;
    uiHeight = info.sMode.ui16Height;
    uiBitDepth = info.sMode.ui8BitDepth;
    flTrow = info.sMode.flTrow;
    flFrameRate = info.sMode.flFrameRate;
    nVTot = info.sMode.ui16VerticalTotal;
    eHDRMode = info.sMode.eHDRMode;
    bLongExpFirst = info.sMode.bLongExpFirst != 0;
    ui32LineGap = info.sMode.ui32LineGap;
    eBayerFormat = info.eBayerEnabled;
    uiImager = info.ui8Imager;
    uiWellDepth = info.ui32WellDepth;
    flReadNoise = info.flReadNoise;
    flAperture = info.fNumber;
    flPixelSize = info.fPixelSize;
    uiFocalLength = info.ui16FocalLength;
    state = SENSOR_CONFIGURED;

    ret = Sensor_GetExposure(hSensorHandle, &programmedExposure, 0);
    if (ret != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "Failed to get initial exposure (returned %d)\n", static_cast<int>(ret));
        state = SENSOR_ERROR;
        return QOR_RES_FAILED;
    }
    ret = Sensor_GetExposureRange(hSensorHandle, &minExposure, &maxExposure, &ui8SensorContexts);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to get exposure range (returned %d)!\n", static_cast<int>(ret));
        state = SENSOR_ERROR;
        return QOR_RES_FAILED;
    }
    ret = Sensor_GetGainRange(hSensorHandle, &minGain, &maxGain, &ui8SensorContexts);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to get gain range (returned %d)!\n", static_cast<int>(ret));
        state = SENSOR_ERROR;
        return QOR_RES_FAILED;
    }
    programmedGain = 1.0;
    ret = Sensor_SetExposureGain(hSensorHandle, programmedExposure, programmedGain, ui8SensorContexts);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to set initial gain to 1.0 (returned %d)\n", static_cast<int>(ret));
        state = SENSOR_ERROR;
        return QOR_RES_FAILED;
    }

    for (const std::string &name : extraNames) {
        QOR_UINT8 &value = programmedExtraParams[name]; // 0 when new
        Sensor_GetExtraParam(hSensorHandle, name.c_str(), &value);
        QOR_LOG_INFO(kTag, "Extra parameter: %s, %d\n", name.c_str(), static_cast<int>(value));
    }

    programmedFocus = 0;
    focusSupported = false;
    if (Sensor_GetFocusRange(hSensorHandle, &minFocus, &maxFocus) == QOR_RES_OK) {
        focusSupported = true;
        if (Sensor_GetCurrentFocus(hSensorHandle, &programmedFocus) != QOR_RES_OK) {
            QOR_LOG_WARNING(kTag, "failed to get initial focus\n");
            state = SENSOR_ERROR;
            return QOR_RES_FAILED;
        }
    }

    QOR_LOG_INFO(kTag, "Sensor information (mode %d)\n", sensorMode);
    QOR_LOG_INFO(kTag, "\tResolution: %dx%d @ %3.2f FPS\n", static_cast<int>(uiWidth), static_cast<int>(uiHeight),
                 flFrameRate);
    QOR_LOG_INFO(kTag, "\tExposure min: %d, max: %d, programmed: %d\n", static_cast<int>(minExposure),
                 static_cast<int>(maxExposure), static_cast<int>(programmedExposure));
    QOR_LOG_INFO(kTag, "\tGain min: %f, max %f, programmed %f\n", minGain, maxGain, programmedGain);
    if (focusSupported) {
        QOR_LOG_INFO(kTag, "\tFocus min: %u, max %u, current %u\n", unsigned{minFocus}, unsigned{maxFocus},
                     unsigned{programmedFocus});
    } else {
        QOR_LOG_INFO(kTag, "\tFocus: N/A\n");
    }
    return QOR_RES_OK;
}

bool Sensor::inState(State expected, const char *function, unsigned line) const {
    if (state == expected) {
        return true;
    }
    LOG_Error(function, line, kTag, "Sensor is in state %s, expecting %s\n", StateName(state), StateName(expected));
    return false;
}

QOR_RESULT Sensor::enable() {
    if (!inState(SENSOR_CONFIGURED, __func__, __LINE__)) {
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_RESULT ret = Sensor_Enable(hSensorHandle);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to start transmitting data from the sensor!\n");
        state = SENSOR_ERROR;
        return ret;
    }
    state = SENSOR_ENABLED;
    return ret;
}

QOR_RESULT Sensor::disable() {
    if (!inState(SENSOR_ENABLED, __func__, __LINE__)) {
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_RESULT ret = Sensor_Disable(hSensorHandle);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to stop transmitting data from the sensor!\n");
        state = SENSOR_ERROR;
        return ret;
    }
    state = SENSOR_CONFIGURED;
    return ret;
}

QOR_RESULT Sensor::getMode(int mode, SENSOR_MODE &sMode) const {
    return Sensor_GetMode(hSensorHandle, static_cast<QOR_UINT16>(mode), &sMode);
}

QOR_RESULT Sensor::setExposure(unsigned long uSeconds) {
    if (!inState(SENSOR_ENABLED, __func__, __LINE__)) {
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_UINT32 exposure = stepExposure(uSeconds, exposureStep);
    const QOR_RESULT ret = Sensor_SetExposureGain(hSensorHandle, exposure, programmedGain, ui8SensorContexts);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to set exposure to %u\n", exposure);
        return ret;
    }
    if (Sensor_GetExposure(hSensorHandle, &programmedExposure, ui8SensorContexts) != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "Failed to acquire new programmed exposure!\n");
    }
    return ret;
}

QOR_RESULT Sensor::setGain(double gain) {
    if (!inState(SENSOR_ENABLED, __func__, __LINE__)) {
        return QOR_RES_NOT_SUPPORTED;
    }
    Sensor_SetExposureGain(hSensorHandle, programmedExposure, gain, ui8SensorContexts);
    Sensor_GetCurrentGain(hSensorHandle, &programmedGain, ui8SensorContexts);
    return QOR_RES_OK;
}

QOR_RESULT Sensor::setExposureGain(unsigned long uSeconds, double gain) {
    if (!inState(SENSOR_ENABLED, __func__, __LINE__)) {
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_UINT32 exposure = stepExposure(uSeconds, exposureStep);
    const QOR_RESULT ret = Sensor_SetExposureGain(hSensorHandle, exposure, gain, ui8SensorContexts);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to set exposure to %u, gain to %f\n", exposure, gain);
        return ret;
    }
    if (Sensor_GetExposure(hSensorHandle, &programmedExposure, ui8SensorContexts) != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "Failed to acquire new programmed exposure!\n");
    }
    if (Sensor_GetCurrentGain(hSensorHandle, &programmedGain, ui8SensorContexts) != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "Failed to acquire new programmed gain!\n");
    }
    return QOR_RES_OK;
}

QOR_RESULT Sensor::setExposureTimeStep(unsigned long uSeconds) {
    // Kept in 32 bits like the exposure itself; a larger step saturates.
    exposureStep = uSeconds == 0 ? 1 : (uSeconds > UINT32_MAX ? UINT32_MAX : static_cast<QOR_UINT32>(uSeconds));
    return QOR_RES_OK;
}

unsigned long Sensor::getExposureTimeStep() const {
    const double rowTime = std::ceil(flTrow);
    // Also false for a row time that is not a number.
    if (!(rowTime > static_cast<double>(exposureStep))) {
        return exposureStep;
    }
    return rowTime >= static_cast<double>(UINT32_MAX) ? UINT32_MAX : static_cast<unsigned long>(rowTime);
}

QOR_RESULT Sensor::setFocusDistance(unsigned focusDistance) {
    if (!focusSupported) {
        return QOR_RES_OK;
    }
    unsigned value = focusDistance;
    if (value < minFocus || value > maxFocus) {
        QOR_LOG_WARNING(kTag,
                        "Requested focus distance %d out of range (%d; %d). Setting focus distance to minimum value\n",
                        static_cast<int>(focusDistance), static_cast<int>(minFocus), static_cast<int>(maxFocus));
        value = minFocus;
    }
    Sensor_SetFocus(hSensorHandle, static_cast<QOR_UINT16>(value));
    Sensor_GetCurrentFocus(hSensorHandle, &programmedFocus);
    return QOR_RES_OK;
}

QOR_RESULT Sensor::setExtraParameter(const std::string &name, QOR_UINT8 val) {
    auto it = programmedExtraParams.find(name);
    if (it == programmedExtraParams.end() || Sensor_SetExtraParam(hSensorHandle, name.c_str(), val) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Extra parameter %s not supported\n", name.c_str());
        return QOR_RES_NOT_SUPPORTED;
    }
    Sensor_GetExtraParam(hSensorHandle, name.c_str(), &it->second);
    return QOR_RES_OK;
}

QOR_RESULT Sensor::insert() { return Sensor_Insert(hSensorHandle); }

QOR_RESULT Sensor::waitProcessed() { return Sensor_WaitProcessed(hSensorHandle); }

QOR_RESULT Sensor::load(const ParameterList &) { return QOR_RES_OK; }

ParameterGroup Sensor::GetGroup() {
    ParameterGroup group;
    group.header = "// Sensor information";
    group.parameters = {SENSOR_EXPOSURE.name,  SENSOR_GAIN.name,      SENSOR_BITDEPTH.name, SENSOR_WELLDEPTH.name,
                        SENSOR_READNOISE.name, SENSOR_FRAMERATE.name, SENSOR_SIZE.name,     SENSOR_VTOT.name};
    return group;
}

QOR_RESULT Sensor::save(ParameterList &parameters, ModuleBase::SaveType t) const {
    // Built once, on first use (thread-safe initialisation; never modified afterwards).
    static const ParameterGroup group = GetGroup();
    parameters.addGroup("Sensor", group);

    // One row per parameter: the value written for SAVE_VAL; the other kinds come from the definition.
    saveParameter(parameters, t, SENSOR_EXPOSURE, programmedExposure / 1000.0);
    saveParameter(parameters, t, SENSOR_GAIN, programmedGain);
    saveParameter(parameters, t, SENSOR_BITDEPTH, uiBitDepth);
    saveParameter(parameters, t, SENSOR_WELLDEPTH, uiWellDepth);
    saveParameter(parameters, t, SENSOR_READNOISE, flReadNoise);
    saveParameter(parameters, t, SENSOR_FRAMERATE, flFrameRate);
    saveParameter(parameters, t, SENSOR_SIZE, std::vector<std::string>{toString(uiWidth), toString(uiHeight)});
    saveParameter(parameters, t, SENSOR_VTOT, nVTot);
    return QOR_RES_OK;
}

void Sensor::GetSensorNames(std::list<std::pair<std::string, int>> &names) {
    const char **all = Sensor_ListAll();
    const unsigned n = Sensor_NumberSensors();
    for (unsigned i = 0; i < n && all[i] != nullptr; i++) {
        names.emplace_back(all[i], static_cast<int>(i));
    }
}

int Sensor::GetSensorId(const std::string &name) {
    const char **all = Sensor_ListAll();
    const unsigned n = Sensor_NumberSensors();
    for (unsigned i = 0; i < n && all[i] != nullptr; i++) {
        if (name == all[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

SensorFacts readSensorFacts(const Sensor &sensor) {
    SensorFacts f;
    f.uiWidth = sensor.uiWidth;
    f.uiHeight = sensor.uiHeight;
    f.uiImager = sensor.uiImager;
    f.uiBitDepth = sensor.uiBitDepth;
    f.uiWellDepth = sensor.uiWellDepth;
    f.eBayerFormat = sensor.eBayerFormat;
    f.flReadNoise = sensor.flReadNoise;
    f.eHDRMode = sensor.eHDRMode;
    f.bLongExpFirst = sensor.bLongExpFirst;
    f.ui32LineGap = sensor.ui32LineGap;
    f.flGain = sensor.getGain();
    return f;
}

} // namespace ISPC
