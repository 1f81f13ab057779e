#include "ispc/ModuleDGM.h"

#include "ispc/ModuleOUT.h"
#include "ispc/Pipeline.h"
#include "norvacommon/pixel_transform.h"

namespace ISPC {

namespace {
const double DGM_COEFF_DEF[6] = {0, 0, 0, 0, 0, 0};
const double DGM_SLOPE_DEF[3] = {1.0, 1.0, 1.0};
} // namespace

const ParamDefArray<double> ModuleDGM::DGM_COEFF("DGM_COEFF", -2.0, 2.0, DGM_COEFF_DEF, 6);
const ParamDef<double> ModuleDGM::DGM_CLIP_MIN("DGM_CLIP_MIN", -1.0, 0.0, -0.5);
const ParamDef<double> ModuleDGM::DGM_SRC_NORM("DGM_SRC_NORM", 0.0, 2.0, 1.0);
const ParamDef<double> ModuleDGM::DGM_CLIP_MAX("DGM_CLIP_MAX", 0.0, 2.0, 1.5);
const ParamDefArray<double> ModuleDGM::DGM_SLOPE("DGM_SLOPE", 0.0, 2.0, DGM_SLOPE_DEF, 3);

const char *const ModuleDGM::GROUP_NAME = "ModuleDGM";
const char *const ModuleDGM::GROUP_HEADER = "// Display Gamut Mapper parameters";

const std::vector<ModuleDGM::Binding> &ModuleDGM::bindings() {
    typedef ModuleDGM M;
    static const std::vector<Binding> table = {
        bind(DGM_COEFF, static_cast<double(M::*)[6]>(&M::aCoeff)),
        bind(DGM_CLIP_MIN, static_cast<double M::*>(&M::fClipMin)),
        bind(DGM_SRC_NORM, static_cast<double M::*>(&M::fSrcNorm)),
        bind(DGM_CLIP_MAX, static_cast<double M::*>(&M::fClipMax)),
        bind(DGM_SLOPE, static_cast<double(M::*)[3]>(&M::aSlope)),
    };
    return table;
}

ModuleDGM::ModuleDGM() : ModuleGMBase(), SetupModuleImpl<ModuleDGM, STP_DGM>("ISPC_MOD_DGM") { loadDefaults(); }

QOR_RESULT ModuleDGM::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleDGM::writeSetup(MC_PIPELINE &mc) {
    const ModuleOUT *out = static_cast<const ModuleOUT *>(getPipeline()->getModule(STP_OUT));
    if (out == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "pipeline has no output module\n");
        return QOR_RES_FAILED;
    }
    MC_DGM &dgm = mc.sDGM;
    const ePxlFormat disp = out->displayType;
    if (PixelFormatIsPackedYcc(disp)) {
        // Packed YCbCr gets the fixed configuration meant for that data. The members take it too:
        // a later save writes it, and it stays for any other display until the next load.
        fClipMin = -1.0;
        fClipMax = 2.0;
        fSrcNorm = 2.0;
        aSlope[0] = 1.0;
        aSlope[1] = 1.0;
        aSlope[2] = 0.0;
        for (double &c : aCoeff) {
            c = 0.0;
        }
    }
    configure(dgm);
    if (disp == BGR_888_24 || disp == BGR_888_32 || disp == BGR_101010_32) {
        for (int k = 0; k < 6; k++) {
            dgm.aCoeff[k] = aCoeff[5 - k];
        }
    }
    markUpdated(dgm);
    return QOR_RES_OK;
}

} // namespace ISPC
