#include "ispc/ModuleY2R.h"

#include "ispc/ModuleOUT.h"
#include "ispc/Pipeline.h"

namespace ISPC {

namespace {
const double Y2R_RANGEMULT_DEF[3] = {1.0, 1.0, 1.0};
} // namespace

const ParamDefSingle<std::string> ModuleY2R::Y2R_MATRIX_STD("Y2R_MATRIX", "BT709");
const ParamDef<double> ModuleY2R::Y2R_BRIGHTNESS("Y2R_BRIGHTNESS", -0.5, 0.5, 0.0);
const ParamDef<double> ModuleY2R::Y2R_CONTRAST("Y2R_CONTRAST", 0.1, 10.0, 1.0);
const ParamDef<double> ModuleY2R::Y2R_SATURATION("Y2R_SATURATION", 0.1, 10.0, 1.0);
const ParamDef<double> ModuleY2R::Y2R_HUE("Y2R_HUE", -30.0, 30.0, 0.0);
const ParamDef<double> ModuleY2R::Y2R_OFFSETU("Y2R_OFFSETU", -0.5, 0.5, -0.5);
const ParamDef<double> ModuleY2R::Y2R_OFFSETV("Y2R_OFFSETV", -0.5, 0.5, -0.5);
const ParamDefArray<double> ModuleY2R::Y2R_RANGEMULT("Y2R_RANGE_MUL", 0.0, 2.0, Y2R_RANGEMULT_DEF, 3);

const char *const ModuleY2R::GROUP_NAME = "ModuleY2R";
const char *const ModuleY2R::GROUP_HEADER = "// YUV to RGB parameters";

const std::vector<ModuleY2R::Binding> &ModuleY2R::bindings() {
    typedef ModuleY2R M;
    static const std::vector<Binding> table = {
        custom(
            Y2R_MATRIX_STD.name, [](M &, const ParameterList &) {}, // read by beforeLoad
            [](const M &m, ParameterList &l, ModuleBase::SaveType t) {
                r2y_detail::saveMatrix(Y2R_MATRIX_STD, m.eMatrix, l, t);
            }),
        bind(Y2R_BRIGHTNESS, static_cast<double M::*>(&M::fBrightness)),
        bind(Y2R_CONTRAST, static_cast<double M::*>(&M::fContrast)),
        bind(Y2R_SATURATION, static_cast<double M::*>(&M::fSaturation)),
        bind(Y2R_HUE, static_cast<double M::*>(&M::fHue)),
        bind(Y2R_OFFSETU, static_cast<double M::*>(&M::fOffsetU)),
        bind(Y2R_OFFSETV, static_cast<double M::*>(&M::fOffsetV)),
        bind(Y2R_RANGEMULT, static_cast<double(M::*)[3]>(&M::aRangeMult)),
    };
    return table;
}

ModuleY2R::ModuleY2R() : SetupModuleImpl<ModuleY2R, STP_Y2R>("ISPC_MOD_Y2R"), ModuleR2YBase() {
    eMatrix = BT709;
    loadDefaults();
}

QOR_RESULT ModuleY2R::beforeLoad(const ParameterList &parameters) {
    return r2y_detail::readMatrix(Y2R_MATRIX_STD, parameters, getLoggingName(), eMatrix);
}

QOR_RESULT ModuleY2R::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleY2R::writeSetup(MC_PIPELINE &mc) {
    const ModuleOUT *out = static_cast<const ModuleOUT *>(getPipeline()->getModule(STP_OUT));
    if (out == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "pipeline has no output module\n");
        return QOR_RES_UNAVAILABLE;
    }
    const ePxlFormat enc = out->encoderType, disp = out->displayType;
    // The YCbCr data arrives in the order the encoder's converter produced.
    const bool swapIn = isCbFirst(enc);
    bool swapOut;
    if (disp == PXL_ISP_444IL3YCrCb8 || disp == PXL_ISP_444IL3YCbCr8 || disp == PXL_ISP_444IL3YCrCb10 ||
        disp == PXL_ISP_444IL3YCbCr10) {
        mc.sY2R.eType = YCC_TO_YCC;
        swapOut = (disp == PXL_ISP_444IL3YCbCr8 || disp == PXL_ISP_444IL3YCbCr10) == swapIn;
    } else {
        mc.sY2R.eType = YCC_TO_RGB;
        swapOut = disp == BGR_888_24 || disp == BGR_888_32 || disp == BGR_101010_32;
    }
    const QOR_RESULT ret = configure(mc.sY2R, swapIn, swapOut);
    if (ret == QOR_RES_OK) {
        markUpdated(mc.sY2R);
    }
    return ret;
}

} // namespace ISPC
