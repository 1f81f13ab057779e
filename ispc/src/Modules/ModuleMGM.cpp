#include "ispc/ModuleMGM.h"

#include "ispc/Pipeline.h"

namespace ISPC {

namespace {
const double MGM_COEFF_DEF[6] = {0, 0, 0, 0, 0, 0};
const double MGM_SLOPE_DEF[3] = {1.0, 1.0, 1.0};
} // namespace

const ParamDefArray<double> ModuleMGM::MGM_COEFF("MGM_COEFF", -2.0, 2.0, MGM_COEFF_DEF, 6);
const ParamDef<double> ModuleMGM::MGM_CLIP_MIN("MGM_CLIP_MIN", -1.0, 0.0, -0.5);
const ParamDef<double> ModuleMGM::MGM_SRC_NORM("MGM_SRC_NORM", 0.0, 2.0, 1.0);
const ParamDef<double> ModuleMGM::MGM_CLIP_MAX("MGM_CLIP_MAX", 0.0, 2.0, 1.5);
const ParamDefArray<double> ModuleMGM::MGM_SLOPE("MGM_SLOPE", 0.0, 2.0, MGM_SLOPE_DEF, 3);

const char *const ModuleMGM::GROUP_NAME = "ModuleMGM";
const char *const ModuleMGM::GROUP_HEADER = "// Main Gamut Mapper parameters";

const std::vector<ModuleMGM::Binding> &ModuleMGM::bindings() {
    typedef ModuleMGM M;
    static const std::vector<Binding> table = {
        bind(MGM_COEFF, static_cast<double(M::*)[6]>(&M::aCoeff)),
        bind(MGM_CLIP_MIN, static_cast<double M::*>(&M::fClipMin)),
        bind(MGM_SRC_NORM, static_cast<double M::*>(&M::fSrcNorm)),
        bind(MGM_CLIP_MAX, static_cast<double M::*>(&M::fClipMax)),
        bind(MGM_SLOPE, static_cast<double(M::*)[3]>(&M::aSlope)),
    };
    return table;
}

ModuleMGM::ModuleMGM() : ModuleGMBase(), SetupModuleImpl<ModuleMGM, STP_MGM>("ISPC_MOD_MGM") { loadDefaults(); }

QOR_RESULT ModuleMGM::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleMGM::writeSetup(MC_PIPELINE &mc) {
    configure(mc.sMGM);
    markUpdated(mc.sMGM);
    return QOR_RES_OK;
}

} // namespace ISPC
