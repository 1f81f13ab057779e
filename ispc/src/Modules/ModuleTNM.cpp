#include "ispc/ModuleTNM.h"

#include <algorithm>

#include "ispc/Pipeline.h"

namespace ISPC {

namespace {
const double TNM_IN_Y_DEF[2] = {-64.0, 64.0};
const double TNM_OUT_Y_DEF[2] = {16.0, 235.0};

std::vector<double> defaultCurve() {
    std::vector<double> c(ModuleTNM::N_CURVE);
    for (unsigned i = 0; i < ModuleTNM::N_CURVE; i++) {
        c[i] = (i + 1) / 64.0;
    }
    return c;
}

/** Narrowest column of the local correction, in pixels. */
constexpr QOR_UINT32 kMinColumnWidth = 40;
} // namespace

const ParamDefArray<double> ModuleTNM::TNM_IN_Y("TNM_IN_Y", -127.0, 127.0, TNM_IN_Y_DEF, 2);
const ParamDefArray<double> ModuleTNM::TNM_OUT_Y("TNM_OUT_Y", 0.0, 255.0, TNM_OUT_Y_DEF, 2);
const ParamDef<double> ModuleTNM::TNM_WEIGHT_LOCAL("TNM_WEIGHT_LOCAL", 0.0, 1.0, 0.0);
const ParamDef<double> ModuleTNM::TNM_WEIGHT_LINE("TNM_WEIGHT_LINE", 0.0, 1.0, 0.0);
const ParamDef<double> ModuleTNM::TNM_FLAT_FACTOR("TNM_FLAT_FACTOR", 0.0, 1.0, 0.0);
const ParamDef<double> ModuleTNM::TNM_FLAT_MIN("TNM_FLAT_MIN", 0.0, 1.0, 0.0);
const ParamDef<double> ModuleTNM::TNM_COLOUR_CONFIDENCE("TNM_COLOUR_CONFIDENCE", 0.0, 64.0, 1.0);
const ParamDef<double> ModuleTNM::TNM_COLOUR_SATURATION("TNM_COLOUR_SATURATION", 0.0, 16.0, 1.0);
const ParamDef<double> ModuleTNM::TNM_BRIGHTNESS("TNM_BRIGHTNESS", -1.0, 1.0, 0.0);
const ParamDef<double> ModuleTNM::TNM_CONTRAST("TNM_CONTRAST", 0.0, 16.0, 1.0);
const ParamDefArray<double> ModuleTNM::TNM_CURVE("TNM_CURVE", 0.0, 1.0, defaultCurve().data(), ModuleTNM::N_CURVE);
const ParamDefSingle<bool> ModuleTNM::TNM_BYPASS("TNM_BYPASS", false);
const ParamDefSingle<bool> ModuleTNM::TNM_BW_MODE("TNM_BW_MODE", false);

const char *const ModuleTNM::GROUP_NAME = "ModuleTNM";
const char *const ModuleTNM::GROUP_HEADER = "// Tone Mapper parameters";

std::vector<double> ModuleTNM::computeDefaultCurve() { return defaultCurve(); }

const std::vector<ModuleTNM::Binding> &ModuleTNM::bindings() {
    static const std::vector<Binding> table = {
        bind(TNM_IN_Y, &ModuleTNM::aInY),
        bind(TNM_OUT_Y, &ModuleTNM::aOutY),
        bind(TNM_WEIGHT_LOCAL, &ModuleTNM::fWeightLocal),
        bind(TNM_WEIGHT_LINE, &ModuleTNM::fWeightLine),
        bind(TNM_FLAT_FACTOR, &ModuleTNM::fFlatFactor),
        bind(TNM_FLAT_MIN, &ModuleTNM::fFlatMin),
        bind(TNM_COLOUR_CONFIDENCE, &ModuleTNM::fColourConfidence),
        bind(TNM_COLOUR_SATURATION, &ModuleTNM::fColourSaturation),
        bind(TNM_BRIGHTNESS, &ModuleTNM::fBrightness),
        bind(TNM_CONTRAST, &ModuleTNM::fContrast),
        bind(TNM_CURVE, &ModuleTNM::aCurve),
        bind(TNM_BYPASS, &ModuleTNM::bBypass),
        bind(TNM_BW_MODE, &ModuleTNM::bBlackWhiteMode),
    };
    return table;
}

ModuleTNM::ModuleTNM()
    : SetupModuleImpl<ModuleTNM, STP_TNM>("ISPC_MOD_TNM"), aInY{-64, 64}, aOutY{16, 235}, fWeightLocal(0),
      fWeightLine(0), fFlatFactor(0), fFlatMin(0), fColourConfidence(1), fColourSaturation(1), fBrightness(0),
      fContrast(1), aCurve{}, bBypass(false), bBlackWhiteMode(false) {
    loadDefaults();
}

QOR_RESULT ModuleTNM::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleTNM::writeSetup(MC_PIPELINE &mc) {
    const QOR_UINT32 w = mc.sIIF.ui16ImagerSize[0];
    if (w == 0 || mc.sIIF.ui16ImagerSize[1] == 0) {
        QOR_LOG_ERROR(getLoggingName(), "IIF should be setup beforehand!\n");
        return QOR_RES_UNAVAILABLE;
    }
    // Everything is checked before anything is written: a refused set-up leaves the block as it was. (The
    // block's scales, bypass and curve would be written before the width check refuses; they are not, so that a
    // refused set-up never leaves half a configuration behind a pending update.) The width check still takes
    // the bypass request, which is for this one set-up, so that none is left for a later one.
    if (2 * w < kMinColumnWidth) {
        bBypass = false;
        QOR_LOG_ERROR(getLoggingName(),
                      "The given input size %d for the imager is too small for the tone mapper to work (min=%d)! "
                      "Disable TNM or use a bigger image setup\n",
                      static_cast<int>(2 * w), static_cast<int>(kMinColumnWidth));
        return QOR_RES_NOT_SUPPORTED;
    }
    // A reversed span would invert the luma scale; ends one apart in reverse divide by zero.
    if (!(aInY[1] >= aInY[0])) {
        QOR_LOG_ERROR(getLoggingName(), "TNM_IN_Y span %f to %f is reversed\n", aInY[0], aInY[1]);
        return QOR_RES_INVALID_PARAM;
    }

    MC_TNM &tnm = mc.sTNM;
    tnm.inputLumaScale = 256.0 / (aInY[1] - aInY[0] + 1);
    tnm.inputLumaOffset = -(-128 - aInY[0]);
    tnm.outputLumaScale = (aOutY[1] - aOutY[0] + 1) / 256.0;
    tnm.outputLumaOffset = aOutY[0];
    tnm.chromaIOScale = tnm.inputLumaScale * tnm.outputLumaScale;

    // A bypass request holds for this one set-up: the block is told to pass the data intact, the
    // request is consumed, and the next set-up writes the normal values again. The block's own
    // hardware bypass is never switched on here.
    tnm.bSetTNMtoPassDataIntact = bBypass;
    bBypass = false;
    if (tnm.bSetTNMtoPassDataIntact) {
        tnm.histFlattenMin = 0;
        tnm.histFlattenThreshold = 0;
        tnm.chromaSaturationScale = 0;
        tnm.chromaConfigurationScale = 0;
        tnm.localWeights = 0;
        tnm.updateWeights = 0;
    } else {
        tnm.bBypassTNM = QOR_FALSE;
        if (bBlackWhiteMode) {
            tnm.chromaConfigurationScale = TNM_COLOUR_CONFIDENCE.max;
            tnm.chromaSaturationScale = TNM_COLOUR_SATURATION.min;
        } else {
            tnm.chromaConfigurationScale = fColourConfidence;
            tnm.chromaSaturationScale = fColourSaturation;
        }
        tnm.updateWeights = fWeightLine;
        tnm.localWeights = fWeightLocal;
        tnm.histFlattenThreshold = fFlatFactor;
        tnm.histFlattenMin = fFlatMin;
    }
    for (unsigned i = 0; i < N_CURVE; i++) {
        tnm.aCurve[i] = std::min(std::max(fContrast * (aCurve[i] - 0.5) + 0.5 + fBrightness, 0.0), 1.0);
    }
    if (w > 319) {
        tnm.ui16LocalColumns = 16;
    } else {
        tnm.ui16LocalColumns = static_cast<QOR_UINT16>(2 * w / kMinColumnWidth);
        QOR_LOG_WARNING(getLoggingName(), "Invalid number of columns. Number of columns set to %d\n",
                        static_cast<int>(tnm.ui16LocalColumns));
    }
    tnm.ui16ColumnsIndex = 0;
    markUpdated(tnm);
    return QOR_RES_OK;
}

} // namespace ISPC
