#include "ispc/ControlAWB_PID.h"

#include <algorithm>
#include <cmath>

#include "ispc/Shot.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
constexpr const char *kTag = "ISPC_CTRL_AWB";
constexpr double kEpsilonSquared = 0.0001;
} // namespace

const ParamDef<unsigned> ControlAWB_PID::AWB_FRAME_DELAY("WB_FRAME_DELAY", 0u, 200u, 0u);

void ControlAWB_PID::State::update(double kp, double kd, double ki, double flIQE) {
    Kp = kp;
    Kd = kd;
    Ki = ki;
    flMinGain = HWMinGain() / flIQE;
    flMaxGain = HWMaxGain() / flIQE;
    if (Ki == 0.0) {
        QOR_LOG_WARNING(kTag, "Ki==0!\n");
        flIntegral = 0.0;
    } else {
        flIntegral = flMinGain / Ki;
    }
}

void ControlAWB_PID::State::updateMinMax(double min, double max, double flIQE) {
    if (min < HWMinGain() || min > HWMaxGain()) {
        QOR_LOG_WARNING(kTag, "min value is out of range [%f; %f]\n", HWMinGain(), HWMaxGain());
        return;
    }
    if (max < HWMinGain() || max > HWMaxGain()) {
        QOR_LOG_WARNING(kTag, "max value is out of range [%f; %f]\n", HWMinGain(), HWMaxGain());
        return;
    }
    flMinGain = min / flIQE;
    flMaxGain = max / flIQE;
}

void ControlAWB_PID::State::reset() {
    flTargetRatio = 1.0;
    flLastError = 0.0;
    bClipped = false;
    bConverged = false;
}

ControlAWB_PID::ControlAWB_PID(const std::string &logname)
    : ControlAWB(logname), uiFramesToSkip(AWB_FRAME_DELAY.def), uiFramesSkipped(0), bResetStates(true) {
    targetTemperature = 6500.0;
    sRGain.reset();
    sBGain.reset();
}

double ControlAWB_PID::PIDGain(State *s, double current) {
    const double error = s->flTargetRatio - current;
    bool converged = true;
    if (error * error > kEpsilonSquared) {
        s->flIntegral = std::min(std::max(error + s->flIntegral, s->flMinGain / s->Ki), s->flMaxGain / s->Ki);
        converged = false;
    }
    const double derivative = error - s->flLastError;
    s->flLastError = error;
    s->bConverged = converged;
    const double output = s->Ki * s->flIntegral + (s->Kp * error + s->Kd * derivative);
    const double gain = std::min(std::max(output, s->flMinGain), s->flMaxGain);
    s->bClipped = gain != output;
    return gain;
}

void ControlAWB_PID::initialiseAWBPID(double Kp, double Kd, double Ki, double flRIQE, double flBIQE) {
    sBGain.update(Kp, Kd, Ki, flBIQE);
    sRGain.update(Kp, Kd, Ki, flRIQE);
    resetNumberOfSkipped();
}

void ControlAWB_PID::enableControl(bool enable) {
    if (bResetStates) {
        sRGain.reset();
        sBGain.reset();
    }
    ControlModule::enableControl(enable);
}

QOR_RESULT ControlAWB_PID::update(const Metadata &metadata) {
    if (correctionMode == WB_NONE) {
        return updateWBNone();
    }
    LOG_Perf_In(getLoggingName(), __FILE__, __func__, __LINE__);
    if (!accumulateStats(metadata.whiteBalanceStats, metadata.whiteBalanceConfig)) {
        configureStatistics();
        return QOR_RES_OK;
    }
    if (uiFramesSkipped < uiFramesToSkip) {
        QOR_LOG_INFO(getLoggingName(), "skipping frame - skipped %u/%u", uiFramesSkipped, uiFramesToSkip);
        uiFramesSkipped++;
        LOG_Perf_Out(getLoggingName(), __FILE__, __func__, __LINE__);
        return QOR_RES_OK;
    }
    uiFramesSkipped = 0;
    const double N = static_cast<double>(imageTotalPixels);
    estimateWPThresholds(accumulatedStats, N, targetPixelRatio, thresholdInfoR, thresholdInfoG, thresholdInfoB,
                         WPThresholdR, WPThresholdG, WPThresholdB);
    HLWThreshold = estimateHLWThreshold(accumulatedStats, N, targetPixelRatio, thresholdInfoY);
    configureStatistics();

    double R = 1.0, G = 1.0, B = 1.0;
    switch (correctionMode) {
    case WB_AC:
        getACAverages(accumulatedStats, N, R, G, B);
        break;
    case WB_WP:
        getWPAverages(accumulatedStats, N, R, G, B);
        break;
    case WB_HLW:
        getHLWAverages(accumulatedStats, N, R, G, B);
        break;
    case WB_COMBINED: {
        double a[3], w[3], h[3];
        getACAverages(accumulatedStats, N, a[0], a[1], a[2]);
        getWPAverages(accumulatedStats, N, w[0], w[1], w[2]);
        getHLWAverages(accumulatedStats, N, h[0], h[1], h[2]);
        R = combinedWeightWP * w[0] + combinedWeightAC * a[0] + combinedWeightHLW * h[0];
        G = combinedWeightWP * w[1] + combinedWeightAC * a[1] + combinedWeightHLW * h[1];
        B = combinedWeightWP * w[2] + combinedWeightAC * a[2] + combinedWeightHLW * h[2];
        break;
    }
    case WB_MANUAL:
        break;
    default:
        LOG_Perf_Out(getLoggingName(), __FILE__, __func__, __LINE__);
        return QOR_RES_INVALID_MODE;
    }
    resetAccumulatedStats();

    double rgain = redBalance, bgain = blueBalance;
    if (correctionMode != WB_MANUAL) {
        // A set without green (a black frame) has no ratio: the controllers are not stepped and the last
        // gains stay, rather than an infinite error reaching the integrals.
        if (G > 0.0 && std::isfinite(R / G) && std::isfinite(B / G)) {
            rgain = PIDGain(&sRGain, R / G);
            bgain = PIDGain(&sBGain, B / G);
        }
    }
    if (doAwb) {
        measuredTemperature = colorTempCorrection.getCorrelatedTemperature(1.0 / rgain, 1.0, 1.0 / bgain);
        colorTempCorrection.getColorCorrection(measuredTemperature, currentCCM);
        currentCCM.gains[0][0] = rgain * Uncorrected.gains[0][0];
        currentCCM.gains[0][1] = Uncorrected.gains[0][1];
        currentCCM.gains[0][2] = Uncorrected.gains[0][2];
        currentCCM.gains[0][3] = bgain * Uncorrected.gains[0][3];
        if (correctionMode != WB_MANUAL) {
            redBalance = rgain;
            blueBalance = bgain;
        }
        programCorrection();
    }
    LOG_Perf_Out(getLoggingName(), __FILE__, __func__, __LINE__);
    return QOR_RES_OK;
}

QOR_RESULT ControlAWB_PID::load(const ParameterList &parameters) {
    colorTempCorrection.loadParameters(parameters);
    if (colorTempCorrection.getCorrectionIndex(6500.0) < 0) {
        QOR_LOG_WARNING(kTag, "loaded temperature correction does not have 6500K entry!\n");
    }
    colorTempCorrection.getColorCorrection(6500.0, Uncorrected);
    uiFramesToSkip = parameters.getParameter(AWB_FRAME_DELAY);
    if (uiFramesToSkip != AWB_FRAME_DELAY.def) {
        QOR_LOG_WARNING(getLoggingName(), "number of frames to skipped is not expected to change from default!\n");
    }
    loadCombinedWeights(parameters);
    const double flRIQE = Uncorrected.gains[0][0], flBIQE = Uncorrected.gains[0][3];
    initialiseAWBPID(0.1, 0.01, 0.1, flRIQE, flBIQE);
    if (colorTempCorrection.hasCalibrationPoints()) {
        sRGain.updateMinMax(colorTempCorrection.getMinGain(0), colorTempCorrection.getMaxGain(0), flRIQE);
        sBGain.updateMinMax(colorTempCorrection.getMinGain(3), colorTempCorrection.getMaxGain(3), flBIQE);
    }
    return QOR_RES_OK;
}

QOR_RESULT ControlAWB_PID::save(ParameterList &parameters, SaveType t) const {
    static const ParameterGroup group = ControlAWB_PID::getGroup();
    parameters.addGroup("ControlAWB_PID", group);
    saveParameter(parameters, t, AWB_FRAME_DELAY, uiFramesToSkip);
    saveCombinedWeights(parameters, t);
    return colorTempCorrection.saveParameters(parameters, t);
}

ParameterGroup ControlAWB_PID::getGroup() {
    ParameterGroup g;
    g.header = "// Auto White Balance parameters";
    g.parameters.insert(AWB_FRAME_DELAY.name);
    return g;
}

} // namespace ISPC
