#include "ispc/ControlAE.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "ispc/ModuleFLD.h"
#include "ispc/ModuleHIS.h"
#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "ispc/Shot.h"
#include "norvacommon/userlog.h"

namespace ISPC {
namespace {

constexpr const char *kFlickerTag = "ISPC_CTRL_AE";
constexpr double kMaxDouble = std::numeric_limits<double>::max();
constexpr double kMaxMicroseconds = 4294967295.0;

/** A double as microseconds toward zero, saturating (NaN and negatives give 0). */
ControlAE::microseconds_t toMicroseconds(double v) {
    if (!(v > 0)) {
        return 0;
    }
    return v >= kMaxMicroseconds ? 0xFFFFFFFFu : static_cast<ControlAE::microseconds_t>(v);
}

/** v clamped to [lo, hi]; a NaN gives hi. */
double clampTo(double v, double lo, double hi) {
    if (std::isnan(v)) {
        return hi;
    }
    return v < lo ? lo : v > hi ? hi : v;
}

ControlAE::time_point timeOf(QOR_UINT64 nanoseconds) {
    return ControlAE::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::nanoseconds(nanoseconds)));
}

} // namespace

const ParamDefSingle<bool> ControlAE::AE_FLICKER("AE_FLICKER_REJECTION", false);
const ParamDefSingle<bool> ControlAE::AE_FLICKER_AUTODETECT("AE_FLICKER_AUTODETECT", true);
const ParamDef<double> ControlAE::AE_FLICKER_FREQ("AE_FLICKER_FREQ", 1.0, 200.0, 50.0);
const ParamDefSingle<bool> ControlAE::AE_BLC_AUTO("AE_BLC_AUTO", false);
const ParamDef<double> ControlAE::AE_BLC_LEVEL("AE_BLC_LEVEL", 0.0, 1.0, 0.0);
const ParamDef<double> ControlAE::AE_TARGET_BRIGHTNESS("AE_TARGET_BRIGHTNESS", -1.0, 1.0, 0.0);
const ParamDef<double> ControlAE::AE_UPDATE_SPEED("AE_UPDATE_SPEED", 0.0, 1.0, 1.0);
const ParamDef<double> ControlAE::AE_BRACKET_SIZE("AE_BRACKET_SIZE", 0.0, 1.0, 0.05);
const ParamDef<double> ControlAE::AE_TARGET_GAIN("AE_TARGET_GAIN", 1.0, kMaxDouble, 256.0);
const ParamDef<double> ControlAE::AE_MIN_GAIN("AE_MIN_GAIN", 1.0, kMaxDouble, 1.0);
const ParamDef<double> ControlAE::AE_MAX_GAIN("AE_MAX_GAIN", 1.0, kMaxDouble, 256.0);
const ParamDef<unsigned int> ControlAE::AE_MIN_EXPOSURE("AE_MIN_EXPOSURE", 1u, 4294967295u, 1u);
const ParamDef<unsigned int> ControlAE::AE_MAX_EXPOSURE("AE_MAX_EXPOSURE", 1u, 4294967295u, 4294967295u);

// Broad centre weighting; rows 4 to 6 repeat rows 2 to 0.
const double ControlAE::WEIGHT_7X7_A[7][7] = {
    {0.0129, 0.0161, 0.0183, 0.0191, 0.0183, 0.0161, 0.0129}, {0.0161, 0.0200, 0.0227, 0.0237, 0.0227, 0.0200, 0.0161},
    {0.0183, 0.0227, 0.0259, 0.0271, 0.0259, 0.0227, 0.0183}, {0.0191, 0.0237, 0.0271, 0.0283, 0.0271, 0.0237, 0.0191},
    {0.0183, 0.0227, 0.0259, 0.0271, 0.0259, 0.0227, 0.0183}, {0.0161, 0.0200, 0.0227, 0.0237, 0.0227, 0.0200, 0.0161},
    {0.0129, 0.0161, 0.0183, 0.0191, 0.0183, 0.0161, 0.0129}};

// Narrow centre weighting; rows 4 to 6 repeat rows 2 to 0.
const double ControlAE::WEIGHT_7X7_B[7][7] = {{0, 0, 0, 0.0001, 0, 0, 0},
                                              {0, 0.0003, 0.0036, 0.0086, 0.0036, 0.0003, 0},
                                              {0, 0.0036, 0.0487, 0.1160, 0.0487, 0.0036, 0},
                                              {0.0001, 0.0086, 0.1160, 0.2763, 0.1160, 0.0086, 0.0001},
                                              {0, 0.0036, 0.0487, 0.1160, 0.0487, 0.0036, 0},
                                              {0, 0.0003, 0.0036, 0.0086, 0.0036, 0.0003, 0},
                                              {0, 0, 0, 0.0001, 0, 0, 0}};

// Foreground mask of the backlight compensation: middle columns, lower rows. Sums to 20.
const double ControlAE::BACKLIGHT_7X7[7][7] = {
    {0, 0, 0, 0, 0, 0, 0},     {0, 0, 0, 0.5, 0, 0, 0},     {0, 0, 0.5, 1, 0.5, 0, 0},  {0, 0.25, 1, 1, 1, 0.25, 0},
    {0, 0.5, 1, 1, 1, 0.5, 0}, {0, 0.75, 1, 1, 1, 0.75, 0}, {0.25, 1, 1, 1, 1, 1, 0.25}};

ControlAE::ControlAE(const std::string &logTag)
    : ControlModuleBase<CTRL_AE>(logTag), fNumConverged(true), lastProgramTime(), startFrameTime(),
      startPrevFrameTime(), startPrevPrevFrameTime(), targetBrightnessActual(0), currentBrightness(0),
      targetBrightness(AE_TARGET_BRIGHTNESS.def), updateSpeed(AE_UPDATE_SPEED.def), flickerRejection(AE_FLICKER.def),
      autoFlickerRejection(AE_FLICKER_AUTODETECT.def), autoFlickerDetectionSupported(false),
      flickerFreqConfig(AE_FLICKER_FREQ.def), flickerFreq(0), prevFlickerFreq(0), blcAuto(AE_BLC_AUTO.def),
      blcLevelConfig(AE_BLC_LEVEL.def), blcLevel(0), targetBracket(AE_BRACKET_SIZE.def), underexposed(false),
      overexposed(false), configured(false), fMinAeGain(AE_MIN_GAIN.def), fMaxAeGain(AE_MAX_GAIN.def),
      fMinSensorGain(1.0), fMaxSensorGain(kMaxDouble), fTargetAeGain(AE_TARGET_GAIN.def),
      uiMinAeExposure(AE_MIN_EXPOSURE.def), uiMaxAeExposure(AE_MAX_EXPOSURE.def), uiTargetExposureTime(0),
      uiMinSensorExposure(1), uiMaxSensorExposure(0xFFFFFFFFu), fSensorFrameDuration(1e6 / 30.0), fNewGain(1.0),
      uiNewExposure(0), fApertureFactor(1.0), fFixedAeGain(0), useFixedAeGain(false), uiFixedAeExposure(0),
      useFixedAeExposure(false), fWavelength(0.55), doAE(true), settingsUpdated(true), regionOverExp(),
      regionUnderExp(), regionRatio() {
    updateTargetBrightnessActual();
}

ParameterGroup ControlAE::getGroup() {
    static const ParameterGroup group = [] {
        ParameterGroup g;
        g.header = "// Auto Exposure parameters";
        g.parameters = {AE_FLICKER.name,     AE_FLICKER_AUTODETECT.name, AE_FLICKER_FREQ.name, AE_BLC_AUTO.name,
                        AE_BLC_LEVEL.name,   AE_TARGET_BRIGHTNESS.name,  AE_UPDATE_SPEED.name, AE_BRACKET_SIZE.name,
                        AE_TARGET_GAIN.name, AE_MIN_GAIN.name,           AE_MAX_GAIN.name,     AE_MIN_EXPOSURE.name,
                        AE_MAX_EXPOSURE.name};
        return g;
    }();
    return group;
}

QOR_RESULT ControlAE::load(const ParameterList &parameters) {
    flickerRejection = parameters.getParameter(AE_FLICKER);
    autoFlickerRejection = parameters.getParameter(AE_FLICKER_AUTODETECT);
    flickerFreqConfig = parameters.getParameter(AE_FLICKER_FREQ);
    blcAuto = parameters.getParameter(AE_BLC_AUTO);
    blcLevelConfig = parameters.getParameter(AE_BLC_LEVEL);
    targetBrightness = parameters.getParameter(AE_TARGET_BRIGHTNESS);
    updateSpeed = parameters.getParameter(AE_UPDATE_SPEED);
    targetBracket = parameters.getParameter(AE_BRACKET_SIZE);
    fTargetAeGain = parameters.getParameter(AE_TARGET_GAIN);
    fMinAeGain = parameters.getParameter(AE_MIN_GAIN);
    fMaxAeGain = parameters.getParameter(AE_MAX_GAIN);
    uiMinAeExposure = parameters.getParameter(AE_MIN_EXPOSURE);
    uiMaxAeExposure = parameters.getParameter(AE_MAX_EXPOSURE);
    updateTargetBrightnessActual();
    return QOR_RES_OK;
}

QOR_RESULT ControlAE::save(ParameterList &parameters, SaveType t) const {
    parameters.addGroup("ControlAE", getGroup());
    saveParameter(parameters, t, AE_FLICKER, flickerRejection);
    saveParameter(parameters, t, AE_FLICKER_AUTODETECT, autoFlickerRejection);
    saveParameter(parameters, t, AE_FLICKER_FREQ, flickerFreqConfig);
    saveParameter(parameters, t, AE_BLC_AUTO, blcAuto);
    saveParameter(parameters, t, AE_BLC_LEVEL, blcLevelConfig);
    saveParameter(parameters, t, AE_TARGET_BRIGHTNESS, targetBrightness);
    saveParameter(parameters, t, AE_UPDATE_SPEED, updateSpeed);
    saveParameter(parameters, t, AE_BRACKET_SIZE, targetBracket);
    saveParameter(parameters, t, AE_TARGET_GAIN, getTargetAeGain());
    saveParameter(parameters, t, AE_MIN_GAIN, getMinAeGain());
    saveParameter(parameters, t, AE_MAX_GAIN, getMaxAeGain());
    saveParameter(parameters, t, AE_MIN_EXPOSURE, static_cast<unsigned int>(getMinAeExposure()));
    saveParameter(parameters, t, AE_MAX_EXPOSURE, static_cast<unsigned int>(getMaxAeExposure()));
    return QOR_RES_OK;
}

std::ostream &ControlAE::printState(std::ostream &os) const {
    os << "  " << getLoggingName() << ":\n";
    os << "    config:\n";
    os << "    enabled = " << (enabled ? 1 : 0) << "\n";
    const char *six = "      ";
    os << six << "flickerRejection = " << flickerRejection << "\n";
    os << six << "autoFlickerRejection = " << autoFlickerRejection << "\n";
    os << six << "flickerFreqConfig = " << flickerFreqConfig << "\n";
    os << six << "blcAuto = " << blcAuto << "\n";
    os << six << "blcLevelConfig = " << blcLevelConfig << "\n";
    os << six << "targetBrightness = " << targetBrightness << "\n";
    os << six << "updateSpeed = " << updateSpeed << "\n";
    os << six << "targetBracket = " << targetBracket << "\n";
    os << six << "fTargetAeGain = " << fTargetAeGain << "\n";
    os << six << "fMinAeGain = " << fMinAeGain << "\n";
    os << six << "fMaxAeGain = " << fMaxAeGain << "\n";
    os << six << "uiMinAeExposure = " << uiMinAeExposure << "\n";
    os << six << "uiMaxAeExposure = " << uiMaxAeExposure << "\n";
    os << six << "uiMaxSensorExposure = " << uiMaxSensorExposure << "\n";
    os << six << "fSensorFrameDuration = " << fSensorFrameDuration << "\n";
    os << six << "useFixedAeGain = " << useFixedAeGain << "\n";
    os << six << "fFixedAeGain = " << fFixedAeGain << "\n";
    os << six << "useFixedAeExposure = " << useFixedAeExposure << "\n";
    os << six << "uiFixedAeExposure = " << uiFixedAeExposure << "\n";
    os << "    state:\n";
    os << six << "hasConverged = " << hasConverged() << "\n";
    os << six << "currentBrightness = " << currentBrightness << "\n";
    os << six << "fNewGain = " << fNewGain << "\n";
    os << six << "uiNewExposure = " << uiNewExposure << "\n";
    return os;
}

bool ControlAE::hasConverged() const { return std::fabs(targetBrightnessActual - currentBrightness) < targetBracket; }

/* ---- statistics configuration and the per-shot loop ---- */

QOR_RESULT ControlAE::configureStatistics() {
    Pipeline *pipeline = getPipelineOwner();
    if (pipeline == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAE has no pipeline owner! Cannot configure statistics.\n");
        return QOR_RES_NOT_INITIALISED;
    }
    auto *his = dynamic_cast<ModuleHIS *>(pipeline->getModule(STP_HIS));
    auto *fld = dynamic_cast<ModuleFLD *>(pipeline->getModule(STP_FLD));
    configured = false;
    if (his == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAE cannot find HIS module\n");
        return QOR_RES_UNAVAILABLE;
    }
    Sensor *sensor = getSensor();
    if (sensor == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAE owner has no sensors!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    his->configureForExposure(sensor->uiWidth, sensor->uiHeight);

    takeSensorRanges(*sensor);
    plannedSensor = sensorInputsOf(*sensor);

    if (fld != nullptr) {
        autoFlickerDetectionSupported = true;
        SENSOR_INFO info{};
        (void)Sensor_GetInfo(sensor->getHandle(), &info);
        fld->bEnable = true;
        fld->iVTotal = info.sMode.ui16VerticalTotal;
        fld->fFrameRate = info.sMode.flFrameRate;
        fld->setup();
        fld->requestUpdate();
    } else {
        QOR_LOG_INFO(kFlickerTag, "FLD module not configured. Flicker detection not supported!\n");
    }
    configured = true;
    settingsUpdated = true;
    return QOR_RES_OK;
}

ControlAE::SensorInputs ControlAE::sensorInputsOf(const Sensor &sensor) {
    SensorInputs in;
    in.step = sensor.getExposureTimeStep();
    in.minExposure = sensor.getMinExposure();
    in.maxExposure = sensor.getMaxExposure();
    in.minGain = sensor.getMinGain();
    in.maxGain = sensor.getMaxGain();
    in.frameRate = sensor.flFrameRate;
    return in;
}

void ControlAE::takeSensorRanges(const Sensor &sensor) {
    fSensorFrameDuration = 1e6 / sensor.flFrameRate;
    fMinSensorGain = sensor.getMinGain();
    fMaxSensorGain = sensor.getMaxGain();
    uiMinSensorExposure = static_cast<microseconds_t>(sensor.getMinExposure());
    uiMaxSensorExposure = static_cast<microseconds_t>(sensor.getMaxExposure());
}

QOR_RESULT ControlAE::update(const Metadata &metadata) {
    startPrevPrevFrameTime = startPrevFrameTime;
    startPrevFrameTime = startFrameTime;
    startFrameTime = timeOf(metadata.timestamps.ui64InterruptSysTime);

    updateFNumDeque();

    // Frames still exposed with the settings before the last programming are not metered.
    if (startPrevPrevFrameTime < lastProgramTime) {
        return QOR_RES_OK;
    }
    currentBrightness = getBrightnessMetering(metadata.histogramStats, metadata.clippingStats);

    Sensor *sensor = getSensor();
    if (sensor == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAE owner has no sensors!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (!configured) {
        QOR_LOG_WARNING(getLoggingName(), "ControlAE Statistics were not configured! Trying to configure them now.\n");
        (void)configureStatistics();
        prevFlickerFreq = flickerFreq;
        return QOR_RES_OK;
    }

    if (autoFlickerDetectionSupported && autoFlickerRejection) {
        switch (metadata.flickerStats.flickerStatus) {
        case FLD_50HZ:
            flickerFreq = 100.0;
            break;
        case FLD_60HZ:
            flickerFreq = 120.0;
            break;
        case FLD_NO_FLICKER:
        case FLD_UNDETERMINED:
            flickerFreq = 0.0;
            break;
        default: // waiting, or a value outside the verdicts: keep the frequency
            break;
        }
    } else {
        flickerFreq = flickerFreqConfig;
    }

    // The sensor's step, ranges and frame rate reach the plan without a setter of this control: a change asks for
    // a new plan, on the values in force, as a changed setting does (otherwise a settled loop would keep an
    // exposure off the new step until some setting changed).
    const SensorInputs sensorNow = sensorInputsOf(*sensor);
    if (!(sensorNow == plannedSensor)) {
        takeSensorRanges(*sensor);
        plannedSensor = sensorNow;
        settingsUpdated = true;
    }
    const bool steady = !settingsUpdated && hasConverged() && flickerFreq == prevFlickerFreq && fNumConverged;
    if (!steady) {
        const double fnum = fNumStatus.current;
        const double prevExposure = double(sensor->getExposure()) * sensor->getGain() / (fnum * fnum);
        getAutoExposure(sensor->flPixelSize, prevExposure, static_cast<microseconds_t>(sensor->getExposureTimeStep()),
                        getMinAeExposure(), getMaxAeExposure(), getMinAeGain(), getMaxAeGain(), fNewGain, uiNewExposure,
                        fApertureFactor);
        if (doAE) {
            programCorrection();
        }
        settingsUpdated = false;
    }
    prevFlickerFreq = flickerFreq;
    return QOR_RES_OK;
}

QOR_RESULT ControlAE::programCorrection() {
    Sensor *sensor = getSensor();
    if (sensor == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAE owner has no sensors!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    const unsigned long exposure = sensor->getExposure();
    const double gain = sensor->getGain();
    (void)sensor->setExposureGain(uiNewExposure, fNewGain);
    if (sensor->getExposure() != exposure || sensor->getGain() != gain) {
        lastProgramTime = std::chrono::steady_clock::now();
    } else {
        lastProgramTime = time_point();
    }
    return QOR_RES_OK;
}

/* ---- run-time settings ---- */

void ControlAE::setTargetBrightness(double value) {
    if (value != targetBrightness) {
        targetBrightness = value;
        updateTargetBrightnessActual();
    }
}

void ControlAE::setTargetBracket(double value) {
    if (value != targetBracket) {
        targetBracket = value;
        updateTargetBrightnessActual();
    }
}

void ControlAE::setUpdateSpeed(double value) {
    if (value < 0.0 || value > 1.0) {
        QOR_LOG_ERROR(getLoggingName(), "Update speed must be between 0.0 and 1.0 (received: %f)\n", value);
        return;
    }
    updateSpeed = value;
}

void ControlAE::enableBlcAuto(bool enable) {
    if (enable != blcAuto) {
        blcAuto = enable;
        settingsUpdated = true;
        updateTargetBrightnessActual();
    }
}

void ControlAE::setBlcLevel(double level) {
    level = clampTo(level, 0.0, 1.0);
    if (level != blcLevelConfig) {
        settingsUpdated = true;
        blcLevelConfig = level;
        updateTargetBrightnessActual();
    }
}

void ControlAE::enableFlickerRejection(bool enable, double freq) {
    bool changed = enable != flickerRejection;
    flickerRejection = enable;
    if (freq > 0) {
        changed = changed || autoFlickerRejection || flickerFreqConfig != freq;
        autoFlickerRejection = false;
        flickerFreqConfig = freq;
    } else {
        changed = changed || !autoFlickerRejection;
        autoFlickerRejection = true;
    }
    if (changed) {
        settingsUpdated = true;
    }
}

void ControlAE::enableAutoFlickerRejection(bool enable) {
    // Only a change asks for a new plan: the element repeats the setting before every frame, and the loop would
    // otherwise never rest once converged.
    if (enable != autoFlickerRejection) {
        settingsUpdated = true;
    }
    autoFlickerRejection = enable;
}

namespace {
/** value clamped into the range of two sensor limits, the smaller being the lower bound. */
template <typename T> T clampToSensor(T value, T a, T b) {
    const T lo = std::min(a, b), hi = std::max(a, b);
    return value < lo ? lo : value > hi ? hi : value;
}
} // namespace

template <typename T> void ControlAE::markIfChanged(T &field, T value) {
    // The element applies every setting before every frame: only a change asks for a new plan, or the loop would
    // never rest once converged.
    if (field != value) {
        settingsUpdated = true;
    }
    field = value;
}

void ControlAE::setTargetAeGain(double gain) {
    const Sensor *s = getSensor();
    markIfChanged(fTargetAeGain, s != nullptr ? clampToSensor(gain, s->getMinGain(), s->getMaxGain()) : gain);
}

void ControlAE::setMinAeGain(double gain) {
    const Sensor *s = getSensor();
    markIfChanged(fMinAeGain, s != nullptr ? clampToSensor(gain, s->getMinGain(), s->getMaxGain()) : gain);
}

void ControlAE::setMaxAeGain(double gain) {
    const Sensor *s = getSensor();
    markIfChanged(fMaxAeGain, s != nullptr ? clampToSensor(gain, s->getMinGain(), s->getMaxGain()) : gain);
}

double ControlAE::getTargetAeGain() const { return std::min(fTargetAeGain, fMaxSensorGain); }
double ControlAE::getMinAeGain() const { return std::max(fMinAeGain, fMinSensorGain); }
double ControlAE::getMaxAeGain() const { return std::min(fMaxAeGain, fMaxSensorGain); }

void ControlAE::setMinAeExposure(microseconds_t exposure) {
    const Sensor *s = getSensor();
    markIfChanged(uiMinAeExposure, s != nullptr ? static_cast<microseconds_t>(clampToSensor<unsigned long>(
                                                      exposure, s->getMinExposure(), s->getMaxExposure()))
                                                : exposure);
}

void ControlAE::setMaxAeExposure(microseconds_t exposure) {
    const Sensor *s = getSensor();
    markIfChanged(uiMaxAeExposure, s != nullptr ? static_cast<microseconds_t>(clampToSensor<unsigned long>(
                                                      exposure, s->getMinExposure(), s->getMaxExposure()))
                                                : exposure);
}

ControlAE::microseconds_t ControlAE::roundedToStep(microseconds_t value) const {
    const Sensor *s = getSensor();
    const uint64_t step = s != nullptr ? std::max<uint64_t>(1, s->getExposureTimeStep()) : 1;
    uint64_t e = (uint64_t(value) + step - 1) / step * step;
    if (e > uiMaxSensorExposure) {
        e = uint64_t(uiMaxSensorExposure) / step * step;
    }
    return static_cast<microseconds_t>(e);
}

ControlAE::microseconds_t ControlAE::getMinAeExposure() const {
    return std::max(roundedToStep(uiMinAeExposure), uiMinSensorExposure);
}

ControlAE::microseconds_t ControlAE::getMaxAeExposure() const {
    return std::min(roundedToStep(uiMaxAeExposure), uiMaxSensorExposure);
}

void ControlAE::setTargetExposureTime(microseconds_t exposure) { markIfChanged(uiTargetExposureTime, exposure); }

/* ---- metering ---- */

void ControlAE::normalizeHistogram(const QOR_UINT32 *sourceH, double *destinationH, int nBins) {
    if (nBins <= 0) {
        return;
    }
    double total = 0;
    for (int i = 0; i < nBins; i++) {
        total += sourceH[i];
    }
    for (int i = 0; i < nBins; i++) {
        destinationH[i] = total == 0 ? 0.0 : sourceH[i] / total;
    }
}

void ControlAE::getHistogramStats(const double *nHistogram, int nBins, double &avgValue, double &underExposureF,
                                  double &overExposureF) {
    avgValue = 0;
    underExposureF = 0;
    overExposureF = 0;
    for (int i = 0; i < nBins; i++) {
        // a single bin sits at position 0
        const double b = nBins > 1 ? i * (63.0 / (nBins - 1)) / 63.0 : 0.0;
        avgValue += nHistogram[i] * b;
        overExposureF += nHistogram[i] * b * b * b;
        underExposureF += nHistogram[i] * (1 - b) * (1 - b) * (1 - b);
    }
    avgValue -= 0.5;
}

void ControlAE::getBackLightMeasure(const double gridStats[7][7], double &foregroundAvg, double &backgroundAvg) {
    foregroundAvg = 0;
    backgroundAvg = 0;
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            foregroundAvg += BACKLIGHT_7X7[r][c] * gridStats[r][c];
            backgroundAvg += (1 - BACKLIGHT_7X7[r][c]) * gridStats[r][c];
        }
    }
    foregroundAvg /= 20;
    backgroundAvg /= 29;
}

double ControlAE::getWeightedStatsBlended(const double gridStats[7][7], double combinationWeight) {
    double sum = 0;
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            sum += (combinationWeight * WEIGHT_7X7_A[r][c] + (1 - combinationWeight) * WEIGHT_7X7_B[r][c]) *
                   gridStats[r][c];
        }
    }
    return sum;
}

double ControlAE::getBrightnessMetering(const MC_STATS_HIS &histogram, const MC_STATS_EXS & /*expClipping*/) {
    double maxOver = 0, maxUnder = 0;
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            double h[16], avg, under, over;
            normalizeHistogram(histogram.regionHistograms[r][c], h, 16);
            getHistogramStats(h, 16, avg, under, over);
            regionUnderExp[r][c] = under;
            regionOverExp[r][c] = over;
            regionRatio[r][c] = over * over - under * under;
            maxOver = std::max(maxOver, over);
            maxUnder = std::max(maxUnder, under);
        }
    }
    double foreground, background;
    getBackLightMeasure(regionRatio, foreground, background);
    if (blcAuto) {
        blcLevel += std::fabs(foreground - background) > 0.5 ? 0.025 : -0.025;
        blcLevel = clampTo(blcLevel, 0.0, 1.0);
    } else {
        blcLevel = blcLevelConfig;
    }
    const double weighted = getWeightedStatsBlended(regionRatio, 0.65);
    const double m = 0.8 * weighted + 0.2 * (maxOver - maxUnder);
    return m + 0.75 * blcLevel * (foreground - m);
}

double ControlAE::getTargetBrightnessByBLC(double level) {
    const bool savedAuto = blcAuto;
    const double savedLevel = blcLevel, savedConfig = blcLevelConfig;
    blcAuto = false;
    blcLevel = blcLevelConfig = level;
    double best = 0, bestDelta = kMaxDouble;
    MC_STATS_HIS synthetic{};
    const MC_STATS_EXS noClipping{};
    for (int j = 0; j < 16; j++) {
        for (auto &row : synthetic.regionHistograms) {
            for (auto &region : row) {
                std::fill(std::begin(region), std::end(region), 0u);
                region[j] = 1;
            }
        }
        const double m = getBrightnessMetering(synthetic, noClipping);
        if (std::fabs(m - targetBrightness) < bestDelta) {
            best = m;
            bestDelta = std::fabs(m - targetBrightness);
        }
    }
    double result;
    if (std::fabs(best - targetBrightness) < targetBracket) {
        result = targetBrightness;
    } else if (targetBrightness < best) {
        result = best - 0.99 * targetBracket;
    } else {
        result = best + 0.99 * targetBracket;
    }
    blcAuto = savedAuto;
    blcLevel = savedLevel;
    blcLevelConfig = savedConfig;
    return result;
}

void ControlAE::updateTargetBrightnessActual() {
    if (blcAuto) {
        const double a = getTargetBrightnessByBLC(0.0), b = getTargetBrightnessByBLC(1.0);
        targetBrightnessActual = std::fabs(a - targetBrightness) < std::fabs(b - targetBrightness) ? a : b;
    } else {
        targetBrightnessActual = getTargetBrightnessByBLC(blcLevelConfig);
    }
}

double ControlAE::autoExposureCtrl(double brightnessMetering, double brightnessTarget, double prevExposure) const {
    const double d = clampTo(brightnessTarget - brightnessMetering, -1.0, 1.0);
    if (d == 0) {
        return prevExposure;
    }
    const double sign = d > 0 ? 1.0 : -1.0;
    return prevExposure * std::exp(sign * 1.5 * std::pow(std::fabs(d), 1.5) * updateSpeed);
}

/* ---- exposure plan and aperture ---- */

void ControlAE::getAutoExposure(double fPixelSize, double fPrevExposure, microseconds_t exposureStep,
                                microseconds_t minExposure, microseconds_t maxExposure, double fMinGain,
                                double fMaxGain, double &newGain, microseconds_t &newExposure,
                                double &newApertureFactor) {
    // F-number range: steerable iris, or the one in force
    const bool steerable = fNumStatus.isAuto && !fNumStatus.isMoving;
    double fnMin = fNumStatus.current, fnMax = fNumStatus.current;
    if (steerable) {
        fnMin = std::max(fNumStatus.autoMin, fNumStatus.nextMin);
        fnMax = std::min(fNumStatus.autoMax, fNumStatus.nextMax);
    }
    const double fnLo = std::min(fnMin, fnMax), fnHi = std::max(fnMin, fnMax);

    const double T = autoExposureCtrl(currentBrightness, targetBrightnessActual, fPrevExposure);

    double e = 0, gain = 0, fnumber = fnHi;
    microseconds_t emin = minExposure, emax = maxExposure;
    double gmin = fMinGain, gmax = fMaxGain;
    if (useFixedAeExposure || useFixedAeGain) {
        if (useFixedAeExposure) {
            e = uiFixedAeExposure;
            gain = getGainFixedExposure(T, uiFixedAeExposure);
        } else {
            gain = fFixedAeGain;
            e = getExposureFixedGain(T, gain);
        }
        fnumber = std::sqrt(e * gain / T);
    } else {
        const bool flicker = flickerFreq > 0 && flickerRejection;
        const double P = flicker ? 1e6 / flickerFreq : 0.0;
        if (gmin > gmax) {
            std::swap(gmin, gmax);
        }
        if (emin > emax) {
            std::swap(emin, emax);
        }
        const double Gt = clampTo(fTargetAeGain, gmin, gmax);
        double Tt =
            clampTo(uiTargetExposureTime != 0 ? double(uiTargetExposureTime) : fSensorFrameDuration, emin, emax);
        const double Fd = clampTo(fPixelSize / (1.22 * fWavelength), fnLo, fnHi);
        if (flicker) {
            const double tt = std::floor(Tt / P) * P;
            if (tt >= emin) {
                Tt = tt;
            }
            const double periods = std::trunc(emax / P) * P;
            if (periods >= emin) {
                emax = toMicroseconds(periods);
            }
        }
        const double Fd2 = Fd * Fd, fnMin2 = fnMin * fnMin;
        // the gain that gives T at exposure x and F-number squared f2 (an exposure of 0 keeps the lowest gain)
        auto gainAt = [T, gmin](double f2, double x) { return x > 0 ? T * f2 / x : gmin; };
        overexposed = underexposed = false;
        if (T < emin * gmin / (fnMax * fnMax)) {
            e = emin, gain = gmin, fnumber = fnMax;
            overexposed = true;
        } else if (T < emin * gmin / Fd2) {
            e = emin, gain = gmin, fnumber = std::sqrt(emin * gmin / T);
        } else if (T < gmin * Tt / Fd2) {
            e = toMicroseconds(T * Fd2 / gmin);
            if (flicker && P < e) {
                const double e2 = std::trunc(e / P) * P;
                if (e2 >= emin && T * Fd2 / e2 <= gmax) {
                    e = e2;
                }
            }
            gain = gainAt(Fd2, e), fnumber = Fd;
        } else if (T < Gt * Tt / Fd2) {
            e = toMicroseconds(Tt);
            gain = gainAt(Fd2, e), fnumber = Fd;
        } else if (T < Gt * Tt / fnMin2) {
            e = toMicroseconds(Tt);
            gain = Gt, fnumber = std::sqrt(e * Gt / T);
        } else if (T < Gt * emax / fnMin2) {
            e = toMicroseconds(T * fnMin2 / Gt);
            if (flicker) {
                const double up = std::ceil(e / P) * P, down = std::floor(e / P) * P;
                if (up <= emax && T * fnMin2 / up >= gmin) {
                    e = toMicroseconds(up);
                } else if (down >= emin && down > 0 && T * fnMin2 / down <= gmax) {
                    // Rounding up alone needs a gain under the target gain, which a target at the lowest gain
                    // forbids: the exposure would stay between periods and the light flicker. Whole periods below
                    // it, with the gain making up the rest, keep it out.
                    e = toMicroseconds(down);
                }
            }
            gain = gainAt(fnMin2, e), fnumber = fnMin;
        } else if (T <= gmax * emax / fnMin2) {
            e = emax, gain = gainAt(fnMin2, emax), fnumber = fnMin;
        } else {
            e = emax, gain = gmax, fnumber = fnMin;
            underexposed = true;
        }
    }

    // step quantisation; the gain absorbs the rounding
    microseconds_t e2 = 0;
    double g2 = gain;
    adjustExposureStep(exposureStep, emin, emax, toMicroseconds(e), gain, e2, g2);
    const microseconds_t lo = std::min(emin, emax), hi = std::max(emin, emax);
    newExposure = std::min(std::max(e2, lo), hi);
    newGain = useFixedAeGain ? fFixedAeGain : clampTo(g2, std::min(gmin, gmax), std::max(gmin, gmax));
    const double Fc = clampTo(fnumber, fnLo, fnHi);

    if (!fNumStatus.isAuto) {
        fNumConverged = true;
    } else if (fNumStatus.isMoving) {
        fNumConverged = false;
    } else {
        newApertureFactor = Fc > 0 ? fNumStatus.minimum * fNumStatus.minimum / (Fc * Fc) : 1.0;
        fNumConverged = fnMin < Fc && Fc < fnMax;
    }
    if ((Fc == fNumStatus.autoMin || Fc == fNumStatus.autoMax) && fNumStatus.current == Fc) {
        fNumConverged = true;
    }
}

void ControlAE::adjustExposureStep(microseconds_t exposureStep, microseconds_t minExposure, microseconds_t maxExposure,
                                   microseconds_t targetExposure, double targetGain, microseconds_t &correctedExposure,
                                   double &correctedGain) {
    const microseconds_t step = exposureStep != 0 ? exposureStep : 1;
    microseconds_t e2 = targetExposure / step * step;
    if (e2 < step) {
        e2 = step;
    }
    e2 = std::min(std::max(e2, std::min(minExposure, maxExposure)), std::max(minExposure, maxExposure));
    correctedExposure = e2;
    correctedGain = e2 != 0 ? targetGain * targetExposure / e2 : targetGain;
}

ControlAE::microseconds_t ControlAE::getExposureFixedGain(const double targetExposure, const double fixedGain) const {
    // a fixed gain of 0 asks for an endless exposure: saturated rather than converted out of range
    return toMicroseconds(std::floor(fNumStatus.current * fNumStatus.current * targetExposure / fixedGain + 0.5));
}

double ControlAE::getGainFixedExposure(const double targetExposure, const microseconds_t fixedExposure) const {
    return fNumStatus.current * fNumStatus.current * targetExposure / fixedExposure;
}

void ControlAE::setFixedAeGain(double fixedAeGain) {
    const Sensor *s = getSensor();
    const double v = s != nullptr ? clampToSensor(fixedAeGain, s->getMinGain(), s->getMaxGain()) : fixedAeGain;
    if (v != fFixedAeGain) {
        fFixedAeGain = v;
        settingsUpdated = true;
    }
}

void ControlAE::enableFixedAeGain(bool enabled) {
    if (enabled != useFixedAeGain) {
        useFixedAeGain = enabled;
        settingsUpdated = true;
    }
}

void ControlAE::setFixedAeExposure(microseconds_t fixedAeExposure) {
    const Sensor *s = getSensor();
    const microseconds_t v = s != nullptr ? static_cast<microseconds_t>(clampToSensor<unsigned long>(
                                                fixedAeExposure, s->getMinExposure(), s->getMaxExposure()))
                                          : fixedAeExposure;
    if (v != uiFixedAeExposure) {
        uiFixedAeExposure = v;
        settingsUpdated = true;
    }
}

void ControlAE::enableFixedAeExposure(bool enabled) {
    if (enabled != useFixedAeExposure) {
        useFixedAeExposure = enabled;
        settingsUpdated = true;
    }
}

void ControlAE::setWavelength(double wavelength) {
    if (wavelength != fWavelength) {
        fWavelength = wavelength;
        settingsUpdated = true;
    }
}

void ControlAE::updateFNumber(const FNumberStatus &fnumber) {
    fNumStatuses.push_back(fnumber);
    updateFNumDeque();
}

void ControlAE::updateFNumDeque() {
    const FNumberStatus inForce = fNumStatus;
    size_t due = 0;
    for (const FNumberStatus &s : fNumStatuses) {
        if (s.timestamp > startPrevFrameTime) {
            break;
        }
        due++;
        if (s.isMoving) {
            fNumConverged = false;
        }
        if (s.isAuto != inForce.isAuto || s.autoMin != inForce.autoMin || s.autoMax != inForce.autoMax ||
            s.current != inForce.current) {
            settingsUpdated = true;
        }
    }
    for (; due > 1; due--) {
        fNumStatuses.pop_front();
    }
    if (!fNumStatuses.empty()) {
        fNumStatus = fNumStatuses.front();
    }
}

} // namespace ISPC
