#include "ispc/ModuleSHA.h"

#include <algorithm>
#include <cmath>

#include "ispc/Pipeline.h"
#include "ispc/SensorFacts.h"

namespace ISPC {

namespace {

/* Noise index breakpoints and the noise model measured at each. */
constexpr int kSamples = 15;
const double kNoiseIndex[kSamples] = {0.5, 0.75, 1, 1.5, 2, 3, 4, 6, 8, 12, 16, 24, 32, 64, 128};
const double kSampleSigma[kSamples] = {0.525623,  0.525717,  0.563392,  0.538484,  0.538585,
                                       0.218964,  0.172387,  0.139622,  0.125163,  0.0808885,
                                       0.0453782, 0.0442295, 0.0440522, 0.0250851, 0.0159695};
const double kSampleTau[kSamples] = {13.998,  16.0988, 14.0367, 19.2767, 14.4795, 31.1354, 37.9553, 44.1746,
                                     44.8372, 46.4815, 47.2445, 48.1339, 45.4722, 48.1982, 48.5187};

double log2Of(double x) { return std::log10(x) / 0.3010299956639812; }

/** A comparison point: the integer part of value + 0.5, saturated in the 16-bit field. */
QOR_UINT16 comparisonPoint(double m, double a, double scale) {
    const double v = std::fma(m * a, scale, 0.5);
    if (!(v >= 0.0)) {
        return 0;
    }
    return v >= 65535.0 ? QOR_UINT16(65535) : static_cast<QOR_UINT16>(v);
}

} // namespace

const ParamDef<double> ModuleSHA::SHA_RADIUS("SHA_RADIUS", 0.5, 10.0, 2.5);
const ParamDef<double> ModuleSHA::SHA_STRENGTH("SHA_STRENGTH", 0.0, 1.0, 0.4);
const ParamDef<double> ModuleSHA::SHA_THRESH("SHA_THRESH", 0.0, 1.0, 0.0);
const ParamDef<double> ModuleSHA::SHA_DETAIL("SHA_DETAIL", 0.0, 1.0, 1.0);
const ParamDef<double> ModuleSHA::SHA_EDGE_SCALE("SHA_EDGE_SCALE", 0.0, 1.0, 0.25);
const ParamDef<double> ModuleSHA::SHA_EDGE_OFFSET("SHA_EDGE_OFFSET", -1.0, 1.0, 0.0);
const ParamDefSingle<bool> ModuleSHA::SHA_DENOISE_BYPASS("SHA_DENOISE_BYPASS", false);
const ParamDef<double> ModuleSHA::SHADN_TAU("SHA_DN_TAU_MULTIPLIER", 0.0, 16.0, 1.0);
const ParamDef<double> ModuleSHA::SHADN_SIGMA("SHA_DN_SIGMA_MULTIPLIER", 0.0, 16.0, 1.0);

const char *const ModuleSHA::GROUP_NAME = "ModuleSHA";
const char *const ModuleSHA::GROUP_HEADER = "// Sharpening parameters";

const std::vector<ModuleSHA::Binding> &ModuleSHA::bindings() {
    static const std::vector<Binding> table = {
        bind(SHA_RADIUS, &ModuleSHA::fRadius),
        bind(SHA_STRENGTH, &ModuleSHA::fStrength),
        bind(SHA_THRESH, &ModuleSHA::fThreshold),
        bind(SHA_DETAIL, &ModuleSHA::fDetail),
        bind(SHA_EDGE_SCALE, &ModuleSHA::fEdgeScale),
        bind(SHA_EDGE_OFFSET, &ModuleSHA::fEdgeOffset),
        bind(SHA_DENOISE_BYPASS, &ModuleSHA::bBypassDenoise),
        bind(SHADN_TAU, &ModuleSHA::fDenoiseTau),
        bind(SHADN_SIGMA, &ModuleSHA::fDenoiseSigma),
    };
    return table;
}

ParameterGroup ModuleSHA::getGroup() {
    ParameterGroup g;
    g.header = GROUP_HEADER;
    g.parameters = {SHA_RADIUS.name, SHA_STRENGTH.name,   SHA_THRESH.name,
                    SHA_DETAIL.name, SHA_EDGE_SCALE.name, SHA_EDGE_OFFSET.name};
    return g;
}

ModuleSHA::ModuleSHA()
    : SetupModuleImpl<ModuleSHA, STP_SHA>("ISPC_MOD_SHA"), fRadius(2.5), fStrength(0.4), fThreshold(0.0), fDetail(1.0),
      fEdgeScale(0.25), fEdgeOffset(0.0), bBypassDenoise(false), fDenoiseTau(1.0), fDenoiseSigma(1.0) {
    loadDefaults();
}

void ModuleSHA::noiseModel(double n, double &sigma, double &tau) {
    if (std::isnan(n)) {
        sigma = tau = 0.0;
        return;
    }
    if (n >= kNoiseIndex[kSamples - 1]) {
        sigma = kSampleSigma[kSamples - 1];
        tau = kSampleTau[kSamples - 1];
        return;
    }
    if (n <= kNoiseIndex[0]) {
        sigma = kSampleSigma[0];
        tau = kSampleTau[0];
        return;
    }
    int hi = 1;
    while (kNoiseIndex[hi] <= n) {
        hi++;
    }
    const int lo = hi - 1;
    const double t = (log2Of(n) - log2Of(kNoiseIndex[lo])) / (log2Of(kNoiseIndex[hi]) - log2Of(kNoiseIndex[lo]));
    sigma = std::fma(kSampleSigma[hi], t, (1.0 - t) * kSampleSigma[lo]);
    tau = std::fma(kSampleTau[hi], t, (1.0 - t) * kSampleTau[lo]);
}

void ModuleSHA::gainWeights(double radius, double (&w)[3]) {
    const double r = std::min(radius, 10.0);
    const double e1 = std::exp(-1.0 / (r * r));
    const double e2 = std::exp(-4.0 / (r * r));
    const double sum = (e1 + 1.0) + e2;
    w[1] = std::floor(63.0 * e1 / sum);
    w[2] = std::floor(63.0 * e2 / sum);
    w[0] = 63.0 - std::floor(63.0 / sum);
    const int rem = static_cast<int>(w[0] - w[1] - w[2]);
    if (rem >= 1) {
        w[2] += rem;
    } else {
        w[0] += rem;
    }
    w[0] = w[1] + w[2];
}

QOR_RESULT ModuleSHA::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleSHA::writeSetup(MC_PIPELINE &mc) {
    const Sensor *sensor = getSensor();
    if (sensor == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "Pipeline does not have a sensor to get information from!\n");
        return QOR_RES_UNAVAILABLE;
    }
    const SensorFacts facts = readSensorFacts(*sensor);
    MC_SHA &sha = mc.sSHA;

    double sigma = 0.0, tau = 0.0;
    noiseModel(static_cast<double>(facts.uiWellDepth) / (facts.flGain * 100.0), sigma, tau);
    const double s = sigma * fDenoiseSigma;
    const double similarity = 2.0 * (s * s);
    const double avoidance = 219.0 / (tau * fDenoiseTau);
    for (int k = 0; k < 7; k++) {
        const double m = 6.5 - k;
        sha.aDNSimil[k] = comparisonPoint(m, similarity, 219.0);
        sha.aDNAvoid[k] = comparisonPoint(m, avoidance, 1.0);
    }

    double w[3];
    gainWeights(fRadius, w);
    for (int k = 0; k < 3; k++) {
        sha.aGainWeigth[k] = w[k];
    }

    const double u = std::min(fThreshold * 0.125, 1.0);
    // The integer part's low 16 bits, then the cap; taken through 64 bits so that a negative threshold
    // (a direct write) is defined.
    const QOR_UINT16 v = static_cast<QOR_UINT16>(static_cast<long long>(std::fma(u, 256.0, 1.0)) & 0xFFFF);
    sha.ui16Threshold = std::min<QOR_UINT16>(v, 256);

    // A strength written by a control above 1/0.56 is capped at 255; a negative one reaches the
    // register as 0 (the conversion truncates negatives to 0).
    sha.fStrength = std::min(fStrength * 0.56, 1.0) * 255.0;
    sha.fDetail = std::min(fDetail, 1.0);
    sha.fELWScale = std::min(fEdgeScale, 1.0) * 255.0;
    sha.i16ELWOffset =
        fEdgeOffset > 1.0 ? QOR_INT16(64) : static_cast<QOR_INT16>(std::max(fEdgeOffset, -1.0) * 128.0 * 0.5);
    sha.bDenoise = bBypassDenoise ? QOR_FALSE : QOR_TRUE;
    markUpdated(sha);
    return QOR_RES_OK;
}

} // namespace ISPC
