#include "ispc/ModuleHDR.h"

#include <algorithm>
#include <cmath>

#include "ispc/Pipeline.h"
#include "ispc/SensorFacts.h"

namespace ISPC {

namespace {

const int HDR_BLACK_LEVEL_DEF[2] = {0, 0};
const double HDR_LUM_COEFFS_DEF[3] = {0.2126, 0.7152, 0.0722};

double tent(double t) { return 2.0 * std::max(0.0, std::min(t, 1.0 - t)); }
double smooth(double u) { return u * u * (3.0 - 2.0 * u); }

/** The ratio the merge uses: one below 1 (never loaded, or not derivable from the sensor) merges as 1. */
double mergeRatio(double ratio) { return ratio >= 1.0 ? ratio : 1.0; }

} // namespace

const ParamDefArray<int> ModuleHDR::HDR_BLACK_LEVEL("HDR_BLACK_LEVEL", 0, 4095, HDR_BLACK_LEVEL_DEF, 2);
const ParamDefSingle<std::string> ModuleHDR::HDR_MERGE_MODE("HDR_MERGE_MODE", "NORMAL");
const ParamDef<double> ModuleHDR::HDR_EXPOSURE_RATIO("HDR_EXPOSURE_RATIO", 1.0, 256.0, 0.0);
const ParamDefArray<double> ModuleHDR::HDR_LUM_COEFFS("HDR_LUM_COEFFS", 0.0, 1.0, HDR_LUM_COEFFS_DEF, 3);
const ParamDef<double> ModuleHDR::HDR_TNM_SCALE("HDR_TNM_SCALE", 0.0, 100000000.0, 1.0);
const ParamDef<double> ModuleHDR::HDR_TNM_WHITE("HDR_TNM_WHITE", 0.0, 100000000.0, 1.0);

const char *const ModuleHDR::GROUP_NAME = "ModuleHDR";
const char *const ModuleHDR::GROUP_HEADER = "// High Dynamic Range parameters";

const std::vector<ModuleHDR::Binding> &ModuleHDR::bindings() {
    typedef ModuleHDR M;
    static const std::vector<Binding> table = {
        bind(HDR_BLACK_LEVEL, &M::aBlackLevel),
        custom(
            HDR_MERGE_MODE.name,
            [](M &m, const ParameterList &l) { m.eMergeMode = getMergeMode(l.getParameter(HDR_MERGE_MODE)); },
            [](const M &m, ParameterList &l, ModuleBase::SaveType t) {
                if (t == SAVE_VAL) {
                    saveParameter(l, t, HDR_MERGE_MODE, getMergeModeString(m.eMergeMode));
                } else if (t == SAVE_DEF) {
                    saveParameter(l, t, HDR_MERGE_MODE, std::string());
                    l.getParameter(HDR_MERGE_MODE.name)->setInfo("{NORMAL, SHORT_ONLY, LONG_ONLY}");
                }
            }),
        custom(
            HDR_EXPOSURE_RATIO.name, [](M &, const ParameterList &) {}, // read by afterLoad, with the sensor
            [](const M &m, ParameterList &l, ModuleBase::SaveType t) {
                saveParameter(l, t, HDR_EXPOSURE_RATIO, m.fExposureRatio);
            }),
        bind(HDR_LUM_COEFFS, &M::aLumCoeffs),
        bind(HDR_TNM_SCALE, &M::fTNMScale),
        bind(HDR_TNM_WHITE, &M::fTNMWhite),
    };
    return table;
}

ModuleHDR::ModuleHDR()
    : SetupModuleImpl<ModuleHDR, STP_HDR>("ISPC_MOD_HDR"), aBlackLevel{0, 0}, eMergeMode(HDR_MERGE_NORMAL),
      fExposureRatio(0.0), aLumCoeffs{0.2126, 0.7152, 0.0722}, fTNMScale(1.0), fTNMWhite(1.0) {
    loadDefaults();
}

ModuleHDR::MergeMode ModuleHDR::getMergeMode(const std::string &s) {
    if (s == "SHORT_ONLY") {
        return HDR_MERGE_SHORT_ONLY;
    }
    if (s == "LONG_ONLY") {
        return HDR_MERGE_LONG_ONLY;
    }
    return HDR_MERGE_NORMAL;
}

std::string ModuleHDR::getMergeModeString(MergeMode mode) {
    switch (mode) {
    case HDR_MERGE_SHORT_ONLY:
        return "SHORT_ONLY";
    case HDR_MERGE_LONG_ONLY:
        return "LONG_ONLY";
    default:
        return "NORMAL";
    }
}

QOR_RESULT ModuleHDR::afterLoad(const ParameterList &parameters) {
    if (parameters.exists(HDR_EXPOSURE_RATIO.name)) {
        fExposureRatio = parameters.getParameter(HDR_EXPOSURE_RATIO);
        return QOR_RES_OK;
    }
    fExposureRatio = HDR_EXPOSURE_RATIO.def;
    const Sensor *sensor = getSensor();
    if (sensor != nullptr) {
        const unsigned b = readSensorFacts(*sensor).uiBitDepth;
        if (b >= 8 && b <= 12) {
            fExposureRatio = std::ldexp(1.0, static_cast<int>(b) - 6);
        } else {
            LOG_Warning("load", __LINE__, getLoggingName(), "Could not define exposure ratio for sensor bit-depth %d\n",
                        static_cast<int>(b));
        }
    }
    return QOR_RES_OK;
}

void ModuleHDR::calculateWeightCurve(double *w) const {
    if (eMergeMode == HDR_MERGE_SHORT_ONLY || eMergeMode == HDR_MERGE_LONG_ONLY) {
        std::fill(w, w + N_WEIGHTS, eMergeMode == HDR_MERGE_LONG_ONLY ? 1.0 : 0.0);
        return;
    }
    const double ratio = mergeRatio(fExposureRatio);
    const double kS = (1.0 / 4096.0) / ratio;
    const double kL = 1.0 / static_cast<double>(static_cast<QOR_UINT32>(4096u - aBlackLevel[1]));
    for (unsigned i = 0; i < N_WEIGHTS; i++) {
        const double wS = smooth(tent(i * kS));
        const double wL = smooth(tent(i * kL));
        const double sum = wS + wL;
        w[i] = sum == 0.0 ? 1.0 : wL / sum;
    }
}

void ModuleHDR::calculateTNMCurve(double *t) const {
    const double S = fTNMScale, W2 = fTNMWhite * fTNMWhite;
    for (unsigned i = 0; i < N_TNM; i++) {
        const unsigned e = i / 256, m = i % 256;
        const double v = e == 0 ? m : std::ldexp(256.0 + m, static_cast<int>(e) - 1);
        const double x = v / 1048576.0;
        const double y = (x / W2 + S) * x / (x * S + 1.0);
        // A white point of 0 leaves the first point undefined (0/0): it stays at the curve's origin, 0.
        t[i] = std::isnan(y) ? 0.0 : (y > 1.0 ? 1.0 : (y < 0.0 ? 0.0 : y));
    }
}

QOR_RESULT ModuleHDR::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleHDR::writeSetup(MC_PIPELINE &mc) {
    const Global_Setup g = getPipeline()->getGlobalSetup();
    MC_HDR &hdr = mc.sHDR;
    hdr.bLongExpFirst = g.bSensorLongExpFirst;
    hdr.ui32LineGap = g.ui32SensorLineGap;
    hdr.eBayerMode = g.eSensor_bayer_format;
    hdr.eHDRMode = g.eSensorHDRMode;
    hdr.aFrameSize[0] = static_cast<QOR_UINT16>(g.ui32Sensor_width & 0xFFFFu);
    hdr.aFrameSize[1] = static_cast<QOR_UINT16>(g.ui32Sensor_height & 0xFFFFu);
    for (int i = 0; i < 2; i++) {
        hdr.aBlackLevel[i] = static_cast<QOR_UINT16>(aBlackLevel[i] & 0xFFFFu);
    }
    // A ratio below 1 (none loaded, or none derivable from the sensor's bit depth) would divide by
    // zero: the merge is built for ratio 1 instead, and the record says so.
    const double ratio = mergeRatio(fExposureRatio);
    hdr.fExposureRatio = ratio;
    hdr.fGain = 256.0 / ratio;
    calculateWeightCurve(hdr.aWeightCurve);
    for (int k = 0; k < 3; k++) {
        hdr.aLumCoeffs[k] = aLumCoeffs[k];
    }
    calculateTNMCurve(hdr.aTNMCurve);
    markUpdated(hdr);
    return QOR_RES_OK;
}

} // namespace ISPC
