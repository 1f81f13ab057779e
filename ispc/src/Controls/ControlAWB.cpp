#include "ispc/ControlAWB.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "ispc/ModuleCCM.h"
#include "ispc/ModuleWBC.h"
#include "ispc/ModuleWBS.h"
#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "ispc/Shot.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
constexpr const char *kStatsTag = "ISPC_CTRL_AWB";
constexpr double kGammaScale = 512.0;
constexpr double kGamma = 2.2;
/** The lowest channel average (statistics codes) that carries a colour rather than the rounding of a few codes. */
constexpr double kDarkestMeasurable = 16.0;

/** The smoothed temperature shared by every base control of the process, behind one lock. */
struct SharedTemperature {
    std::mutex lock;
    bool set = false;
    double value = 0.0;
};

SharedTemperature &sharedTemperature() {
    static SharedTemperature shared;
    return shared;
}

/** A power of a non-negative value: negative values (offsets taken off a dark value) count as 0. */
double powPositive(double v, double e) { return v > 0.0 ? std::pow(v, e) : 0.0; }

double gammaDecode(double v) { return powPositive(v / kGammaScale, kGamma) * kGammaScale; }
double gammaEncode(double v) { return powPositive(v / kGammaScale, 1.0 / kGamma) * kGammaScale; }

void addWBS(MC_STATS_WBS &acc, const MC_STATS_WBS &s) {
    for (int r = 0; r < 2; r++) {
        for (int c = 0; c < 3; c++) {
            acc.whitePatch[r].channelAccumulated[c] += s.whitePatch[r].channelAccumulated[c];
            acc.whitePatch[r].channelCount[c] += s.whitePatch[r].channelCount[c];
            acc.averageColor[r].channelAccumulated[c] += s.averageColor[r].channelAccumulated[c];
            acc.highLuminance[r].channelAccumulated[c] += s.highLuminance[r].channelAccumulated[c];
        }
        acc.highLuminance[r].lumaCount += s.highLuminance[r].lumaCount;
    }
}

/** r, g and b from out when none is 0; false, and nothing written, when one is. */
bool takeAverages(const double out[3], double &r, double &g, double &b) {
    if (out[0] == 0.0 || out[1] == 0.0 || out[2] == 0.0) {
        return false;
    }
    r = out[0];
    g = out[1];
    b = out[2];
    return true;
}

} // namespace

const ParamDef<double> ControlAWB::AWB_ESTIMATION_SCALE("WB_ESTIMATION_SCALE", 0.0, 20.0, 1.0);
const ParamDef<double> ControlAWB::AWB_ESTIMATION_OFFSET("WB_ESTIMATION_OFFSET", -6500.0, 6500.0, 0.0);
const ParamDef<double> ControlAWB::AWB_TARGET_TEMPERATURE("WB_TARGET_TEMPERATURE", 0.0, 100000.0, 6500.0);
const ParamDef<double> ControlAWB::AWB_TARGET_PIXEL_RATIO("WB_TARGET_PIXEL_RATIO", 0.0, 1.0, 0.075f);
const ParamDef<double> ControlAWB::WB_COMBINED_AC_WEIGHT("WB_COMBINED_AC_WEIGHT", 0.0, 1.0, 0.25);
const ParamDef<double> ControlAWB::WB_COMBINED_HLW_WEIGHT("WB_COMBINED_HLW_WEIGHT", 0.0, 1.0, 0.35f);
const ParamDef<double> ControlAWB::WB_COMBINED_WP_WEIGHT("WB_COMBINED_WP_WEIGHT", 0.0, 1.0, 0.4f);

ControlAWB::ControlAWB(const std::string &logName)
    : ControlModuleBase<CTRL_AWB>(logName), imageTotalPixels(4294967295u), HLWThreshold(0.75), WPThresholdR(0.4),
      WPThresholdG(0.4), WPThresholdB(0.4), estimationScale(AWB_ESTIMATION_SCALE.def),
      estimationOffset(AWB_ESTIMATION_OFFSET.def), correctionMode(WB_AC), targetTemperature(AWB_TARGET_TEMPERATURE.def),
      targetPixelRatio(AWB_TARGET_PIXEL_RATIO.def), redBalance(1.0), blueBalance(1.0),
      combinedWeightAC(WB_COMBINED_AC_WEIGHT.def), combinedWeightHLW(WB_COMBINED_HLW_WEIGHT.def),
      combinedWeightWP(WB_COMBINED_WP_WEIGHT.def), statisticsRegionProgrammed(false), measuredTemperature(0.0),
      correctionTemperature(0.0), doAwb(true), configured(false), expectedCurrentFrame(0) {
    std::memset(&accumulatedStats, 0, sizeof(accumulatedStats));
    colorTempCorrection.getColorCorrection(targetTemperature, currentCCM);
    inverseCCM = currentCCM;
    inverseCCM.inv();
}

double ControlAWB::getSharedTemperature() {
    SharedTemperature &s = sharedTemperature();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.set ? s.value : 0.0;
}

void ControlAWB::resetSharedTemperature() {
    SharedTemperature &s = sharedTemperature();
    std::lock_guard<std::mutex> guard(s.lock);
    s.set = false;
    s.value = 0.0;
}

bool ControlAWB::isAutoCorrectionMode() const {
    switch (correctionMode) {
    case WB_AC:
    case WB_WP:
    case WB_HLW:
    case WB_COMBINED:
        return true;
    case WB_NONE:
    case WB_MANUAL:
        return false;
    default:
        QOR_LOG_ERROR(getLoggingName(), "Unknown correction mode: %d\n", static_cast<int>(correctionMode));
        return false;
    }
}

const char *ControlAWB::CorrectionName(Correction_Types mode) {
    switch (mode) {
    case WB_NONE:
        return "NONE";
    case WB_AC:
        return "Average Colour";
    case WB_WP:
        return "White Patch";
    case WB_HLW:
        return "High Luminance White";
    case WB_COMBINED:
        return "Combined";
    case WB_MANUAL:
        return "Manual";
    default:
        return "unknown";
    }
}

double ControlAWB::getWPThreshold(int channel) const {
    return channel == 0 ? WPThresholdR : (channel == 1 ? WPThresholdG : WPThresholdB);
}

QOR_RESULT ControlAWB::setPipelineOwner(Pipeline *pipe) {
    const QOR_RESULT r = ControlModule::setPipelineOwner(pipe);
    if (r != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "parent's setPipelineOwner failed");
        return r;
    }
    const Sensor *sensor = pipe != nullptr ? pipe->getSensor() : nullptr;
    if (sensor != nullptr) {
        imageTotalPixels = sensor->uiWidth * sensor->uiHeight;
    } else {
        QOR_LOG_WARNING(getLoggingName(), "Pipeline set but imageTotalPixels cannot be computed because pipeline does "
                                          "not have a sensor!\n");
        imageTotalPixels = 4294967295u;
    }
    return QOR_RES_OK;
}

QOR_RESULT ControlAWB::configureStatistics() {
    Pipeline *owner = getPipelineOwner();
    if (owner == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAWB has no pipeline owner! Cannot configure statistics.\n");
        return QOR_RES_NOT_INITIALISED;
    }
    ModuleWBS *wbs = static_cast<ModuleWBS *>(owner->getModule(STP_WBS));
    configured = false;
    if (wbs == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAWB cannot find WBS module.");
        return QOR_RES_UNAVAILABLE;
    }
    if (!statisticsRegionProgrammed) {
        const Sensor *sensor = getSensor();
        if (sensor == nullptr) {
            QOR_LOG_ERROR(getLoggingName(), "ControlAWB has no sensor! Cannot configure statistics.\n");
            return QOR_RES_NOT_INITIALISED;
        }
        for (int k = 0; k < 2; k++) {
            wbs->aROIStartCoord[k][0] = 0;
            wbs->aROIStartCoord[k][1] = 0;
            wbs->aROIEndCoord[k][0] = sensor->uiWidth - 1;
            wbs->aROIEndCoord[k][1] = sensor->uiHeight - 1;
        }
        wbs->ui32NROIEnabled = 2;
        statisticsRegionProgrammed = true;
    }
    wbs->aRedMaxTH[0] = WPThresholdR;
    wbs->aGreenMaxTH[0] = WPThresholdG;
    wbs->aBlueMaxTH[0] = WPThresholdB;
    wbs->aYHLWTH[0] = HLWThreshold;
    wbs->aRedMaxTH[1] = 0.45f;
    wbs->aGreenMaxTH[1] = 0.45f;
    wbs->aBlueMaxTH[1] = 0.45f;
    wbs->aYHLWTH[1] = 0.9f;
    wbs->requestUpdate();
    configured = true;
    return QOR_RES_OK;
}

QOR_RESULT ControlAWB::update(const Metadata &metadata) {
    if (correctionMode == WB_NONE) {
        return updateWBNone();
    }
    const double N = static_cast<double>(imageTotalPixels);
    if (!accumulateStats(metadata.whiteBalanceStats, metadata.whiteBalanceConfig)) {
        configureStatistics();
        return QOR_RES_OK;
    }
    estimateWPThresholds(accumulatedStats, N, targetPixelRatio, thresholdInfoR, thresholdInfoG, thresholdInfoB,
                         WPThresholdR, WPThresholdG, WPThresholdB);
    HLWThreshold = estimateHLWThreshold(accumulatedStats, N, targetPixelRatio, thresholdInfoY);
    configureStatistics();

    double avg[3][3]; // high luminance, white patch, average colour
    getHLWAverages(accumulatedStats, N, avg[0][0], avg[0][1], avg[0][2]);
    getWPAverages(accumulatedStats, N, avg[1][0], avg[1][1], avg[1][2]);
    getACAverages(accumulatedStats, N, avg[2][0], avg[2][1], avg[2][2]);
    resetAccumulatedStats();
    // A measurement too dark to read a colour from leaves the estimate, and the correction, where they were.
    if (correctionMode != WB_MANUAL && isTooDarkToMeasure(avg[2][0], avg[2][1], avg[2][2])) {
        return QOR_RES_OK;
    }

    const double gR = Uncorrected.gains[0][0];
    const double gG = (Uncorrected.gains[0][1] + Uncorrected.gains[0][2]) / 2.0;
    const double gB = Uncorrected.gains[0][3];
    double T[3];
    for (int k = 0; k < 3; k++) {
        double r = 0.0, g = 0.0, b = 0.0;
        invertColorCorrection(avg[k][0], avg[k][1], avg[k][2], inverseCCM, r, g, b);
        // The statistics are gamma encoded but the calibrated locus is laid out in linear sensor ratios: the
        // undone triple is decoded before the temperature is read, otherwise the estimate is pulled towards
        // the reference temperature by the gamma exponent.
        r = gammaDecode(r) * gR;
        g = gammaDecode(g) * gG;
        b = gammaDecode(b) * gB;
        T[k] = correctTemperature(colorTempCorrection.getCorrelatedTemperature(r, g, b), estimationOffset,
                                  estimationScale);
    }
    const double tHLW = T[0], tWP = T[1], tAC = T[2];
    double manual = 0.0;
    if (correctionMode == WB_MANUAL) {
        manual = colorTempCorrection.getCorrelatedTemperature(1.0 / redBalance, 1.0, 1.0 / blueBalance);
    }

    double S = 0.0;
    {
        SharedTemperature &shared = sharedTemperature();
        std::lock_guard<std::mutex> guard(shared.lock);
        if (!shared.set) {
            shared.value = targetTemperature;
            shared.set = true;
        }
        double next = shared.value;
        switch (correctionMode) {
        case WB_AC:
            next = 0.5 * tAC + 0.5 * shared.value;
            break;
        case WB_WP:
            next = 0.5 * tWP + 0.5 * shared.value;
            break;
        case WB_HLW:
            next = 0.5 * tHLW + 0.5 * shared.value;
            break;
        case WB_COMBINED:
            next =
                0.5 * (combinedWeightAC * tAC + combinedWeightHLW * tHLW + combinedWeightWP * tWP) + 0.5 * shared.value;
            break;
        case WB_MANUAL:
            next = manual;
            break;
        default:
            break;
        }
        // one bad measurement must not poison the value every camera of the process reads
        if (std::isfinite(next)) {
            shared.value = next;
        }
        S = shared.value;
    }
    measuredTemperature = S;
    correctionTemperature = 6500.0 - (targetTemperature - S);
    if (doAwb) {
        applyCorrection();
    }
    return QOR_RES_OK;
}

void ControlAWB::applyCorrection() {
    colorTempCorrection.getColorCorrection(measuredTemperature, measuredCCM);
    const double V = measuredCCM.gains[0][0] / Uncorrected.gains[0][0];
    const double Z = measuredCCM.gains[0][3] / Uncorrected.gains[0][3];
    colorTempCorrection.getColorCorrection(correctionTemperature, currentCCM);
    if (correctionMode == WB_MANUAL) {
        currentCCM.gains[0][0] *= redBalance / V;
        currentCCM.gains[0][3] *= blueBalance / Z;
    } else {
        redBalance = V;
        blueBalance = Z;
    }
    programCorrection();
    inverseCCM = currentCCM;
    inverseCCM.inv();
}

QOR_RESULT ControlAWB::programCorrection() {
    for (Pipeline *pipe : pipelineList) {
        ModuleWBC *wbc = static_cast<ModuleWBC *>(pipe->getModule(STP_WBC));
        ModuleCCM *ccm = static_cast<ModuleCCM *>(pipe->getModule(STP_CCM));
        if (wbc == nullptr || ccm == nullptr) {
            continue;
        }
        for (int c = 0; c < 4; c++) {
            wbc->aWBGain[c] = currentCCM.gains[0][c];
        }
        wbc->requestUpdate();
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++) {
                ccm->aMatrix[3 * i + j] = currentCCM.coefficients[i][j];
            }
            ccm->aOffset[i] = currentCCM.offsets[0][i];
        }
        ccm->requestUpdate();
    }
    return QOR_RES_OK;
}

QOR_RESULT ControlAWB::updateWBNone() {
    measuredTemperature = 0.0;
    correctionTemperature = 0.0;
    colorTempCorrection.getColorCorrection(6500.0, currentCCM);
    inverseCCM = currentCCM;
    inverseCCM.inv();
    programCorrection();
    return QOR_RES_OK;
}

QOR_RESULT ControlAWB::load(const ParameterList &parameters) {
    colorTempCorrection.loadParameters(parameters);
    colorTempCorrection.getColorCorrection(6500.0, Uncorrected);
    estimationScale = parameters.getParameter(AWB_ESTIMATION_SCALE);
    estimationOffset = parameters.getParameter(AWB_ESTIMATION_OFFSET);
    targetTemperature = parameters.getParameter(AWB_TARGET_TEMPERATURE);
    targetPixelRatio = parameters.getParameter(AWB_TARGET_PIXEL_RATIO);
    loadCombinedWeights(parameters);
    return QOR_RES_OK;
}

QOR_RESULT ControlAWB::loadCombinedWeights(const ParameterList &parameters) {
    combinedWeightAC = parameters.getParameter(WB_COMBINED_AC_WEIGHT);
    combinedWeightHLW = parameters.getParameter(WB_COMBINED_HLW_WEIGHT);
    combinedWeightWP = parameters.getParameter(WB_COMBINED_WP_WEIGHT);
    if (combinedWeightAC + combinedWeightHLW + combinedWeightWP > 1.0000009536743164) {
        QOR_LOG_ERROR(getLoggingName(), "A sum of combined mode weights can't be greater than 1. Weights will be "
                                        "replaced by default values.\n");
        combinedWeightAC = WB_COMBINED_AC_WEIGHT.def;
        combinedWeightHLW = WB_COMBINED_HLW_WEIGHT.def;
        combinedWeightWP = WB_COMBINED_WP_WEIGHT.def;
    }
    QOR_LOG_INFO(getLoggingName(), "Combined weights: AC = %f HLW = %f WP = %f\n", combinedWeightAC, combinedWeightHLW,
                 combinedWeightWP);
    return QOR_RES_OK;
}

QOR_RESULT ControlAWB::saveCombinedWeights(ParameterList &parameters, SaveType t) const {
    saveParameter(parameters, t, WB_COMBINED_AC_WEIGHT, combinedWeightAC);
    saveParameter(parameters, t, WB_COMBINED_HLW_WEIGHT, combinedWeightHLW);
    saveParameter(parameters, t, WB_COMBINED_WP_WEIGHT, combinedWeightWP);
    return QOR_RES_OK;
}

QOR_RESULT ControlAWB::save(ParameterList &parameters, SaveType t) const {
    static const ParameterGroup group = ControlAWB::getGroup();
    parameters.addGroup("ControlAWB", group);
    saveParameter(parameters, t, AWB_ESTIMATION_SCALE, estimationScale);
    saveParameter(parameters, t, AWB_ESTIMATION_OFFSET, estimationOffset);
    saveParameter(parameters, t, AWB_TARGET_TEMPERATURE, targetTemperature);
    saveParameter(parameters, t, AWB_TARGET_PIXEL_RATIO, targetPixelRatio);
    saveCombinedWeights(parameters, t);
    return colorTempCorrection.saveParameters(parameters, t);
}

ParameterGroup ControlAWB::getGroup() {
    ParameterGroup g;
    g.header = "// Auto White Balance parameters";
    for (const ParamDef<double> *d :
         {&AWB_ESTIMATION_SCALE, &AWB_ESTIMATION_OFFSET, &AWB_TARGET_TEMPERATURE, &AWB_TARGET_PIXEL_RATIO,
          &WB_COMBINED_AC_WEIGHT, &WB_COMBINED_HLW_WEIGHT, &WB_COMBINED_WP_WEIGHT}) {
        g.parameters.insert(d->name);
    }
    return g;
}

/* ---- statistics ---- */

bool ControlAWB::accumulateStats(const MC_STATS_WBS &stats, const MC_WBS &config) {
    addWBS(accumulatedStats, stats);
    const MC_FRAME_COUNTERS_WBS &c = config.counters;
    bool ready = false;
    if (c.currentFrame[0] != c.currentFrame[1]) {
        LOG_Error("areStatisticsReady", __LINE__, kStatsTag, "Current frames for ROIs are different\n");
    } else if (c.frameCount[0] != c.frameCount[1]) {
        LOG_Error("areStatisticsReady", __LINE__, kStatsTag, "Frame counts for ROIs are different\n");
    } else {
        ready = c.currentFrame[0] == c.frameCount[0] - 1u;
    }
    if (isFrameOrderBroken(config)) {
        QOR_LOG_WARNING(getLoggingName(), "The frame order is broken\n");
        expectedCurrentFrame = 0;
        resetAccumulatedStats();
        return false;
    }
    expectedCurrentFrame = c.frameCount[0] != 0 ? (c.currentFrame[0] + 1u) % c.frameCount[0] : c.currentFrame[0] + 1u;
    return ready;
}

bool ControlAWB::isFrameOrderBroken(const MC_WBS &config) const {
    return expectedCurrentFrame != config.counters.currentFrame[0];
}

void ControlAWB::resetAccumulatedStats() { std::memset(&accumulatedStats, 0, sizeof(accumulatedStats)); }

double ControlAWB::estimateThreshold(Threshold &info, double m, double target) {
    const double t = std::min(1.0, std::max(0.0, target));
    const double e = m - t;
    info.accumulatedError = std::min(2.0, std::max(-2.0, e + info.accumulatedError));
    double next = info.nextThreshold;
    switch (info.currentState) {
    case TS_RESET:
        info.currentState = TS_SCANNING;
        info.accumulatedError = 0.0;
        info.errorMargin = 0.005;
        info.scanningFrames = 0.0;
        info.nextThreshold = 0.5;
        return 0.5;
    case TS_SCANNING:
        next = info.nextThreshold + 0.025 * e + 0.0025 * info.accumulatedError;
        if (std::fabs(e) < info.errorMargin && m > 0.0001) {
            info.currentState = TS_FOUND;
        }
        info.scanningFrames += 1.0;
        if (info.scanningFrames > 50.0) {
            info.errorMargin *= 1.1;
        }
        break;
    case TS_FOUND:
        info.accumulatedError = 0.0;
        next = info.nextThreshold;
        if (std::fabs(e) > info.errorMargin || m < 0.0001) {
            info.currentState = TS_SCANNING;
            info.errorMargin = 0.005;
        } else {
            info.errorMargin = std::max(0.005, info.errorMargin * 0.98);
        }
        break;
    default:
        next = info.nextThreshold;
        break;
    }
    info.nextThreshold = std::min(1.0, std::max(0.0, next));
    return info.nextThreshold;
}

void ControlAWB::estimateWPThresholds(const MC_STATS_WBS &stats, double N, double targetPixelRatio, Threshold &RInfo,
                                      Threshold &GInfo, Threshold &BInfo, double &RThreshold, double &GThreshold,
                                      double &BThreshold) {
    const QOR_UINT32 *c1 = stats.whitePatch[1].channelCount;
    const double target = std::max(c1[0], std::max(c1[1], c1[2])) / N + targetPixelRatio;
    const QOR_UINT32 *c0 = stats.whitePatch[0].channelCount;
    RThreshold = estimateThreshold(RInfo, c0[0] / N, target);
    GThreshold = estimateThreshold(GInfo, c0[1] / N, target);
    BThreshold = estimateThreshold(BInfo, c0[2] / N, target);
}

double ControlAWB::estimateHLWThreshold(const MC_STATS_WBS &stats, double N, double targetPixelRatio,
                                        Threshold &YInfo) {
    return estimateThreshold(YInfo, stats.highLuminance[0].lumaCount / N,
                             1.25 * stats.highLuminance[1].lumaCount / N + targetPixelRatio);
}

void ControlAWB::getACAverages(const MC_STATS_WBS &stats, double N, double &r, double &g, double &b) {
    r = static_cast<double>(stats.averageColor[0].channelAccumulated[0]) / N;
    g = static_cast<double>(stats.averageColor[0].channelAccumulated[1]) / N;
    b = static_cast<double>(stats.averageColor[0].channelAccumulated[2]) / N;
}

bool ControlAWB::isTooDarkToMeasure(double r, double g, double b) {
    // also true for a value that is not a number
    return !(r >= kDarkestMeasurable && g >= kDarkestMeasurable && b >= kDarkestMeasurable);
}

void ControlAWB::getWPAverages(const MC_STATS_WBS &stats, double N, double &r, double &g, double &b) {
    const MC_STATS_WBS_WP &w0 = stats.whitePatch[0], &w1 = stats.whitePatch[1];
    if (w0.channelCount[0] == 0 || w0.channelCount[1] == 0 || w0.channelCount[2] == 0) {
        getACAverages(stats, N, r, g, b);
        return;
    }
    double out[3] = {0.0, 0.0, 0.0};
    for (int c = 0; c < 3; c++) {
        const double d = static_cast<double>(w0.channelCount[c]) - static_cast<double>(w1.channelCount[c]);
        if (d > 0.0 && w0.channelAccumulated[c] > w1.channelAccumulated[c]) {
            out[c] = static_cast<double>(w0.channelAccumulated[c] - w1.channelAccumulated[c]) / d;
        }
    }
    if (!takeAverages(out, r, g, b)) {
        getACAverages(stats, N, r, g, b);
    }
}

void ControlAWB::getHLWAverages(const MC_STATS_WBS &stats, double N, double &r, double &g, double &b) {
    const MC_STATS_WBS_HLW &h0 = stats.highLuminance[0], &h1 = stats.highLuminance[1];
    const double d = static_cast<double>(h0.lumaCount) - static_cast<double>(h1.lumaCount);
    if (h0.lumaCount == 0 || !(d > 0.0)) {
        getACAverages(stats, N, r, g, b);
        return;
    }
    double out[3] = {0.0, 0.0, 0.0};
    for (int c = 0; c < 3; c++) {
        if (h0.channelAccumulated[c] > h1.channelAccumulated[c]) {
            out[c] = static_cast<double>(h0.channelAccumulated[c] - h1.channelAccumulated[c]) / d;
        }
    }
    if (!takeAverages(out, r, g, b)) {
        getACAverages(stats, N, r, g, b);
    }
}

void ControlAWB::colorTransform(double R, double G, double B, const ColorCorrection &c, double &tR, double &tG,
                                double &tB) {
    const Matrix &m = c.coefficients;
    tR = m[0][0] * R + m[1][0] * G + m[2][0] * B;
    tG = m[0][1] * R + m[1][1] * G + m[2][1] * B;
    tB = m[0][2] * R + m[1][2] * G + m[2][2] * B;
}

void ControlAWB::invertColorCorrection(double R, double G, double B, const ColorCorrection &inv, double &iR, double &iG,
                                       double &iB) {
    const double r = gammaDecode(R) + inv.offsets[0][0];
    const double g = gammaDecode(G) + inv.offsets[0][1];
    const double b = gammaDecode(B) + inv.offsets[0][2];
    colorTransform(r, g, b, inv, iR, iG, iB);
    iR *= inv.gains[0][0];
    iG *= (inv.gains[0][1] + inv.gains[0][2]) / 2.0;
    iB *= inv.gains[0][3];
    iR = gammaEncode(iR);
    iG = gammaEncode(iG);
    iB = gammaEncode(iB);
}

double ControlAWB::correctTemperature(double t, double offset, double scale) {
    return std::max(0.0, (t + offset) * scale);
}

double ControlAWB::correctTemperature2(double t, double offset, double scale) {
    return std::max(0.0, t * scale + offset);
}

} // namespace ISPC
