#include "ispc/ModuleR2Y.h"

#include "ispc/ModuleOUT.h"
#include "ispc/Pipeline.h"

namespace ISPC {

namespace {
const double R2Y_RANGEMULT_DEF[3] = {1.0, 1.0, 1.0};
} // namespace

const ParamDefSingle<std::string> ModuleR2Y::R2Y_MATRIX_STD("R2Y_MATRIX", "BT709");
const ParamDef<double> ModuleR2Y::R2Y_BRIGHTNESS("R2Y_BRIGHTNESS", -0.5, 0.5, 0.0);
const ParamDef<double> ModuleR2Y::R2Y_CONTRAST("R2Y_CONTRAST", 0.0, 2.0, 1.0);
const ParamDef<double> ModuleR2Y::R2Y_SATURATION("R2Y_SATURATION", 0.1, 10.0, 1.0);
const ParamDef<double> ModuleR2Y::R2Y_HUE("R2Y_HUE", -30.0, 30.0, 0.0);
const ParamDef<double> ModuleR2Y::R2Y_OFFSETU("R2Y_OFFSETU", -0.5, 0.5, 0.0);
const ParamDef<double> ModuleR2Y::R2Y_OFFSETV("R2Y_OFFSETV", -0.5, 0.5, 0.0);
const ParamDefArray<double> ModuleR2Y::R2Y_RANGEMULT("R2Y_RANGE_MUL", 0.0, 2.0, R2Y_RANGEMULT_DEF, 3);

const char *const ModuleR2Y::GROUP_NAME = "ModuleR2Y";
const char *const ModuleR2Y::GROUP_HEADER = "// RGB to YUV parameters";

const std::vector<ModuleR2Y::Binding> &ModuleR2Y::bindings() {
    typedef ModuleR2Y M;
    static const std::vector<Binding> table = {
        custom(
            R2Y_MATRIX_STD.name, [](M &, const ParameterList &) {}, // read by beforeLoad
            [](const M &m, ParameterList &l, ModuleBase::SaveType t) {
                r2y_detail::saveMatrix(R2Y_MATRIX_STD, m.eMatrix, l, t);
            }),
        bind(R2Y_BRIGHTNESS, static_cast<double M::*>(&M::fBrightness)),
        bind(R2Y_CONTRAST, static_cast<double M::*>(&M::fContrast)),
        bind(R2Y_SATURATION, static_cast<double M::*>(&M::fSaturation)),
        bind(R2Y_HUE, static_cast<double M::*>(&M::fHue)),
        bind(R2Y_OFFSETU, static_cast<double M::*>(&M::fOffsetU)),
        bind(R2Y_OFFSETV, static_cast<double M::*>(&M::fOffsetV)),
        bind(R2Y_RANGEMULT, static_cast<double(M::*)[3]>(&M::aRangeMult)),
    };
    return table;
}

ModuleR2Y::ModuleR2Y() : SetupModuleImpl<ModuleR2Y, STP_R2Y>("ISPC_MOD_R2Y"), ModuleR2YBase() {
    eMatrix = BT709;
    loadDefaults();
}

QOR_RESULT ModuleR2Y::beforeLoad(const ParameterList &parameters) {
    return r2y_detail::readMatrix(R2Y_MATRIX_STD, parameters, getLoggingName(), eMatrix);
}

QOR_RESULT ModuleR2Y::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleR2Y::writeSetup(MC_PIPELINE &mc) {
    const ModuleOUT *out = static_cast<const ModuleOUT *>(getPipeline()->getModule(STP_OUT));
    if (out == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "pipeline has no output module\n");
        return QOR_RES_UNAVAILABLE;
    }
    mc.sR2Y.eType = RGB_TO_YCC;
    const QOR_RESULT ret = configure(mc.sR2Y, false, isCbFirst(out->encoderType));
    if (ret == QOR_RES_OK) {
        markUpdated(mc.sR2Y);
    }
    return ret;
}

} // namespace ISPC
