#include "ispc/ControlTNM.h"

#include <algorithm>
#include <cmath>

#include "GlobalHistogram.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleTNM.h"
#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "ispc/Shot.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
constexpr const char *kTag = "ISPC_CTRL_TNM";
constexpr int kBins = ControlTNM::HIST_BINS;
constexpr int kPoints = ControlTNM::CURVE_POINTS;

bool hasColumns(const Matrix &m, int cols) { return m.numRows() == 1 && m.numCols() == cols; }

QOR_RESULT refuseSize(int cols) {
    QOR_LOG_ERROR(kTag, "Expecting matrix with 1x%d elements\n", cols);
    return QOR_RES_INVALID_PARAM;
}

/** Seven-tap smoothing of in into out (distinct arrays); taps past an end fold onto the end bin. */
void smoothBins(const double *in, double *out) {
    static const double kKernel[7] = {0.05, 0.1, 0.2, 0.3, 0.2, 0.1, 0.05};
    for (int i = 0; i < kBins; i++) {
        double v = 0.0;
        for (int t = -3; t <= 3; t++) {
            const int j = std::min(std::max(i + t, 0), kBins - 1);
            v += kKernel[t + 3] * in[j];
        }
        out[i] = v;
    }
}

/** h = (1 - a) h + a K(h), in place. */
void smoothBins(double *h, double amount) {
    double smoothed[kBins];
    smoothBins(h, smoothed);
    for (int i = 0; i < kBins; i++) {
        h[i] = (1.0 - amount) * h[i] + amount * smoothed[i];
    }
}

/**
 * Divides every bin by the sum. A histogram without weight (possible when both clip levels are 0) has all
 * its bins equal, so it becomes the flat histogram, as any other histogram of equal bins does; dividing by
 * zero would leave the curve not-a-number.
 */
void normaliseSum(double *h) {
    double sum = 0.0;
    for (int i = 0; i < kBins; i++) {
        sum += h[i];
    }
    if (sum > 0.0) {
        for (int i = 0; i < kBins; i++) {
            h[i] /= sum;
        }
    } else {
        std::fill(h, h + kBins, 1.0 / kBins);
    }
}

void accumulate(const double *h, double *a) {
    a[0] = 0.0;
    for (int k = 1; k < kPoints; k++) {
        a[k] = a[k - 1] + h[k - 1];
    }
    a[kPoints - 1] = 1.0;
}

/** A numeric setter: 0 and stored within the definition's range, else 11 with the value kept. */
QOR_RESULT setChecked(const char *logName, const ParamDef<float> &def, double value, double &member) {
    if (value < def.min || value > def.max || std::isnan(value)) {
        QOR_LOG_ERROR(logName, "Programmed value (%f) must be between %f and %f\n", value, static_cast<double>(def.min),
                      static_cast<double>(def.max));
        return QOR_RES_INVALID_PARAM;
    }
    member = value;
    return QOR_RES_OK;
}
} // namespace

const ParamDef<float> ControlTNM::TNMC_TEMPERING("TNMC_TEMPERING", 0.0f, 1.0f, 0.2f);
const ParamDef<float> ControlTNM::TNMC_HISTMIN("TNMC_HIST_CLIP_MIN", 0.0f, 1.0f, 0.035f);
const ParamDef<float> ControlTNM::TNMC_HISTMAX("TNMC_HIST_CLIP_MAX", 0.0f, 1.0f, 0.25f);
const ParamDef<float> ControlTNM::TNMC_SMOOTHING("TNMC_SMOOTHING", 0.0f, 1.0f, 0.4f);
const ParamDef<float> ControlTNM::TNMC_UPDATESPEED("TNMC_UPDATE_SPEED", 0.0f, 1.0f, 0.5f);
const ParamDefSingle<bool> ControlTNM::TNMC_LOCAL("TNMC_LOCAL", false);
const ParamDef<float> ControlTNM::TNMC_LOCAL_STRENGTH("TNMC_LOCALSTRENGTH", 0.0f, 1.0f, 0.0f);
const ParamDefSingle<bool> ControlTNM::TNMC_ADAPTIVE("TNMC_ADAPTIVE", false);

ControlTNM::ControlTNM(const std::string &logname)
    : ControlModuleBase<CTRL_TNM>(logname), adaptiveStrength(1.0), histMin(TNMC_HISTMIN.def), histMax(TNMC_HISTMAX.def),
      smoothing(TNMC_SMOOTHING.def), tempering(TNMC_TEMPERING.def), updateSpeed(TNMC_UPDATESPEED.def),
      histogram(1, kBins), mappingCurve(1, kPoints), localTNM(TNMC_LOCAL.def), adaptiveTNM(TNMC_ADAPTIVE.def),
      localStrength(TNMC_LOCAL_STRENGTH.def), configureHis(false) {
    resetHistogram(histogram);
    resetCurve(mappingCurve);
}

QOR_RESULT ControlTNM::load(const ParameterList &parameters) {
    tempering = parameters.getParameter(TNMC_TEMPERING);
    histMin = parameters.getParameter(TNMC_HISTMIN);
    histMax = parameters.getParameter(TNMC_HISTMAX);
    smoothing = parameters.getParameter(TNMC_SMOOTHING);
    updateSpeed = parameters.getParameter(TNMC_UPDATESPEED);
    localTNM = parameters.getParameter(TNMC_LOCAL);
    localStrength = parameters.getParameter(TNMC_LOCAL_STRENGTH);
    adaptiveTNM = parameters.getParameter(TNMC_ADAPTIVE);
    return QOR_RES_OK;
}

ParameterGroup ControlTNM::getGroup() {
    ParameterGroup group;
    group.header = "// Tone Mapper Control parameters";
    for (const std::string *tag :
         {&TNMC_TEMPERING.name, &TNMC_HISTMIN.name, &TNMC_HISTMAX.name, &TNMC_SMOOTHING.name, &TNMC_UPDATESPEED.name,
          &TNMC_LOCAL.name, &TNMC_LOCAL_STRENGTH.name, &TNMC_ADAPTIVE.name}) {
        group.parameters.insert(*tag);
    }
    return group;
}

QOR_RESULT ControlTNM::save(ParameterList &parameters, SaveType t) const {
    static const ParameterGroup group = getGroup();
    parameters.addGroup("ControlTNM", group);
    // The float settings are saved as the single-precision values their definitions hold.
    saveParameter(parameters, t, TNMC_TEMPERING, static_cast<float>(tempering));
    saveParameter(parameters, t, TNMC_HISTMIN, static_cast<float>(histMin));
    saveParameter(parameters, t, TNMC_HISTMAX, static_cast<float>(histMax));
    saveParameter(parameters, t, TNMC_SMOOTHING, static_cast<float>(smoothing));
    saveParameter(parameters, t, TNMC_UPDATESPEED, static_cast<float>(updateSpeed));
    saveParameter(parameters, t, TNMC_LOCAL, localTNM);
    saveParameter(parameters, t, TNMC_LOCAL_STRENGTH, static_cast<float>(localStrength));
    saveParameter(parameters, t, TNMC_ADAPTIVE, adaptiveTNM);
    return QOR_RES_OK;
}

std::ostream &ControlTNM::printState(std::ostream &os) const {
    os << "  " << logName << ":" << std::endl;
    os << "    config:" << std::endl;
    os << "      enabled = " << (enabled ? 1 : 0) << std::endl;
    os << "      adaptiveStrength = " << adaptiveStrength << std::endl;
    os << "      histMin = " << histMin << std::endl;
    os << "      histMax = " << histMax << std::endl;
    os << "      smoothing = " << smoothing << std::endl;
    os << "      tempering = " << tempering << std::endl;
    os << "      updateSpeed = " << updateSpeed << std::endl;
    os << "      localTNM = " << (localTNM ? 1 : 0) << std::endl;
    os << "      adaptiveTNM = " << (adaptiveTNM ? 1 : 0) << std::endl;
    os << "      localStrength = " << localStrength << std::endl;
    return os;
}

QOR_RESULT ControlTNM::setHistMin(double value) { return setChecked(getLoggingName(), TNMC_HISTMIN, value, histMin); }
QOR_RESULT ControlTNM::setHistMax(double value) { return setChecked(getLoggingName(), TNMC_HISTMAX, value, histMax); }
QOR_RESULT ControlTNM::setTempering(double value) {
    return setChecked(getLoggingName(), TNMC_TEMPERING, value, tempering);
}
QOR_RESULT ControlTNM::setSmoothing(double value) {
    return setChecked(getLoggingName(), TNMC_SMOOTHING, value, smoothing);
}
QOR_RESULT ControlTNM::setUpdateSpeed(double value) {
    return setChecked(getLoggingName(), TNMC_UPDATESPEED, value, updateSpeed);
}
QOR_RESULT ControlTNM::setLocalStrength(double value) {
    return setChecked(getLoggingName(), TNMC_LOCAL_STRENGTH, value, localStrength);
}

QOR_RESULT ControlTNM::configureStatistics() {
    Pipeline *owner = getPipelineOwner();
    if (owner == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlTNM has no pipeline owner! Cannot configure statistics.\n");
        return QOR_RES_NOT_INITIALISED;
    }
    ModuleHIS *his = static_cast<ModuleHIS *>(owner->getModule(STP_HIS));
    if (his == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlTNM cannot find HIS\n");
        return QOR_RES_UNAVAILABLE;
    }
    if (!enableGlobalHistogram(*his, configureHis)) {
        QOR_LOG_WARNING(getLoggingName(),
                        "Global Histograms in HIS are not enabled! The computed TNM curve will be flat.\n");
    }
    return QOR_RES_OK;
}

QOR_RESULT ControlTNM::update(const Metadata &metadata) {
    adaptiveStrength = 1.0;
    if (adaptiveTNM) {
        const Sensor *sensor = getSensor();
        if (sensor == nullptr) {
            QOR_LOG_ERROR(getLoggingName(), "ControlTNM has no sensor!\n");
            return QOR_RES_NOT_INITIALISED;
        }
        const double maxGain = sensor->getMaxGain();
        const double gain = sensor->getGain();
        if (maxGain != 1.0) {
            const double d = gain >= 1.0 ? gain - 1.0 : 0.0;
            adaptiveStrength = 1.0 - d / (maxGain - 1.0);
        }
    }
    loadHistogram(metadata, histogram);
    generateMappingCurve(histogram, histMin, histMax, smoothing, tempering, updateSpeed, mappingCurve);
    programCorrection();
    return QOR_RES_OK;
}

QOR_RESULT ControlTNM::programCorrection() {
    const std::vector<double> &curve = mappingCurve[0];
    const double weightLocal = localTNM ? (1.0 - adaptiveStrength) * localStrength : 0.0;
    for (Pipeline *pipeline : pipelineList) {
        ModuleTNM *tnm = static_cast<ModuleTNM *>(pipeline->getModule(STP_TNM));
        if (tnm == nullptr) {
            continue;
        }
        for (unsigned i = 0; i < ModuleTNM::N_CURVE; i++) {
            const double m = curve[i + 1];
            if (adaptiveTNM) {
                // The reference line divides by 65: at the maximum gain the curve ends at 63/65.
                const double r = (i + 1) / 65.0;
                tnm->aCurve[i] = r + adaptiveStrength * (m - r);
            } else {
                tnm->aCurve[i] = m;
            }
        }
        tnm->fWeightLocal = weightLocal;
        tnm->requestUpdate();
    }
    return QOR_RES_OK;
}

QOR_RESULT ControlTNM::resetHistogram(Matrix &hist) {
    if (!hasColumns(hist, kBins)) {
        return refuseSize(kBins);
    }
    std::vector<double> &h = hist[0];
    std::fill(h.begin(), h.end(), 1.0 / kBins);
    return QOR_RES_OK;
}

QOR_RESULT ControlTNM::resetCurve(Matrix &curve) {
    if (!hasColumns(curve, kPoints)) {
        return refuseSize(kPoints);
    }
    std::vector<double> &c = curve[0];
    for (int k = 0; k < kPoints; k++) {
        c[k] = k / 64.0;
    }
    return QOR_RES_OK;
}

void ControlTNM::loadHistogram(const Metadata &metadata, Matrix &hist) {
    if (!hasColumns(hist, kBins)) {
        refuseSize(kBins);
        return;
    }
    std::vector<double> &h = hist[0];
    for (int i = 0; i < kBins; i++) {
        h[i] = static_cast<double>(metadata.histogramStats.globalHistogram[i]);
    }
}

QOR_RESULT ControlTNM::smoothHistogram(Matrix &hist) {
    if (!hasColumns(hist, kBins)) {
        return refuseSize(kBins);
    }
    double copy[kBins];
    std::vector<double> &h = hist[0];
    std::copy(h.begin(), h.end(), copy);
    smoothBins(copy, h.data());
    return QOR_RES_OK;
}

QOR_RESULT ControlTNM::smoothHistogram(Matrix &hist, double amount) {
    if (!hasColumns(hist, kBins)) {
        return refuseSize(kBins);
    }
    if (!(amount >= 0.0 && amount <= 1.0)) {
        QOR_LOG_ERROR(kTag, "Smoothing amount must be between 0.0 and 1.0. Setting to 0.0.\n");
        amount = 0.0;
    }
    smoothBins(hist[0].data(), amount);
    return QOR_RES_OK;
}

Matrix ControlTNM::accumulateHistogram(const Matrix &hist) {
    Matrix a(1, kPoints);
    a.zeros();
    if (!hasColumns(hist, kBins)) {
        refuseSize(kBins);
        return a;
    }
    accumulate(hist[0].data(), a[0].data());
    return a;
}

void ControlTNM::generateMappingCurve(Matrix &hist, double minHist, double maxHist, double smoothing, double tempering,
                                      double updateSpeed, Matrix &mappingCurve) {
    if (!hasColumns(hist, kBins)) {
        refuseSize(kBins);
        return;
    }
    if (!hasColumns(mappingCurve, kPoints)) {
        refuseSize(kPoints);
        return;
    }
    // Works on the rows in place: no matrix temporaries, so a frame allocates nothing.
    double *h = hist[0].data();
    double *curve = mappingCurve[0].data();

    double sum = 0.0;
    double peak = h[0];
    for (int i = 0; i < kBins; i++) {
        sum += h[i];
        peak = std::max(peak, h[i]);
    }
    if (sum == 0.0) {
        QOR_LOG_WARNING(kTag, "The global histograms are 0, the curve cannot be computed it is forced to identity!\n");
        resetCurve(mappingCurve);
        return;
    }
    for (int i = 0; i < kBins; i++) {
        // Clip to the maximum first, then raise to the minimum: with minHist above maxHist every bin ends at
        // minHist.
        h[i] = std::max(std::min(h[i] / peak, maxHist), minHist);
    }
    if (!(smoothing >= 0.0 && smoothing <= 1.0)) {
        QOR_LOG_ERROR(kTag, "Smoothing amount must be between 0.0 and 1.0. Setting to 0.0.\n");
        smoothing = 0.0;
    }
    smoothBins(h, smoothing);
    normaliseSum(h);

    double squares = 0.0;
    for (int i = 0; i < kBins; i++) {
        squares += h[i] * h[i];
    }
    const double e = 100.0 * tempering * squares > 1.0 ? 0.0 : 1.0 - 100.0 * tempering * squares;
    for (int i = 0; i < kBins; i++) {
        h[i] = std::pow(h[i], e);
    }
    normaliseSum(h);

    double a[kPoints];
    accumulate(h, a);
    for (int k = 0; k < kPoints; k++) {
        curve[k] = (1.0 - updateSpeed) * curve[k] + updateSpeed * a[k];
    }
}

} // namespace ISPC
