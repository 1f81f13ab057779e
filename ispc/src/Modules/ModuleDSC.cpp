#include "ispc/ModuleDSC.h"

#include "ispc/Pipeline.h"

namespace ISPC {

namespace {
const double DSC_PITCH_DEF[2] = {1.0, 1.0};
const int DSC_RECT_DEF[4] = {0, 0, 0, 0};

const ModuleScalerBase::Texts kTexts = {
    "forcing the DSC width to the imager's size\n",
    "forcing the DSC height to the imager's size\n",
    "the width %d to compute the DSC horizontal pitch from is bigger than the imager's width (%d)!\n",
    "the height %d to compute the DSC vertical pitch from is bigger than the imager's height (%d)!\n",
    "force rectangle type to be output sizes to compute the DSC pitch\n",
};
} // namespace

const ParamDefSingle<std::string> ModuleDSC::DSC_RECTTYPE("DSC_RECT_TYPE", "croprect");
const ParamDefSingle<bool> ModuleDSC::DSC_ADJUSTCUTOFF("DSC_ADJUST_CUTOFF_FREQ", false);
const ParamDefArray<double> ModuleDSC::DSC_PITCH("DSC_PITCH", 0.0, 16.0, DSC_PITCH_DEF, 2);
const ParamDefArray<int> ModuleDSC::DSC_RECT("DSC_RECT", 0, 8192, DSC_RECT_DEF, 4);

const char *const ModuleDSC::GROUP_NAME = "ModuleDSC";
const char *const ModuleDSC::GROUP_HEADER = "// Display pipeline Scaler parameters";

const std::vector<ModuleDSC::Binding> &ModuleDSC::bindings() {
    typedef ModuleDSC M;
    static const std::vector<Binding> table = {
        custom(
            DSC_RECTTYPE.name, [](M &, const ParameterList &) {}, // read by beforeLoad
            [](const M &m, ParameterList &l, ModuleBase::SaveType t) {
                if (t == ModuleBase::SAVE_VAL) {
                    const char *name = rectTypeName(m.eRectType);
                    l.addParameter(DSC_RECTTYPE, std::string(name != nullptr ? name : "croprect"), true);
                } else {
                    saveParameter(l, t, DSC_RECTTYPE, DSC_RECTTYPE.def);
                }
            })
            .withDefInfo("{cliprect, croprect, outsize}"),
        bind(DSC_ADJUSTCUTOFF, static_cast<bool M::*>(&M::bAdjustTaps)),
        bind(DSC_PITCH, static_cast<double(M::*)[2]>(&M::aPitch)),
        bind(DSC_RECT, static_cast<QOR_UINT32(M::*)[4]>(&M::aRect)),
    };
    return table;
}

ModuleDSC::ModuleDSC() : SetupModuleImpl<ModuleDSC, STP_DSC>("ISPC_MOD_DSC") { loadDefaults(); }

QOR_RESULT ModuleDSC::beforeLoad(const ParameterList &parameters) {
    const std::string type = parameters.getParameter(DSC_RECTTYPE);
    ScalerRectType t;
    if (!rectTypeOf(type, t)) {
        LOG_Error("load", __LINE__, getLoggingName(), "Inavalid rectangle type: %s\n", type.c_str());
        return QOR_RES_FAILED;
    }
    eRectType = t;
    return QOR_RES_OK;
}

QOR_RESULT ModuleDSC::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleDSC::writeSetup(MC_PIPELINE &mc) {
    if (mc.sIIF.ui16ImagerSize[0] == 0 || mc.sIIF.ui16ImagerSize[1] == 0) {
        QOR_LOG_ERROR(getLoggingName(), "IIF should have been setup beforehand!\n");
        return QOR_RES_UNAVAILABLE;
    }
    MC_DSC &dsc = mc.sDSC;
    QOR_UINT32 outW = 0, outH = 0;
    const QOR_RESULT ret = computeOutput(getLoggingName(), kTexts, 2u * mc.sIIF.ui16ImagerSize[0],
                                         2u * mc.sIIF.ui16ImagerSize[1], DSC_PITCH.max, dsc.aOutputSize, outW, outH);
    if (ret != QOR_RES_OK) {
        return ret;
    }
    dsc.aPitch[0] = aPitch[0];
    dsc.aPitch[1] = aPitch[1];
    dsc.aOffset[0] = static_cast<QOR_UINT16>(aRect[0]);
    dsc.aOffset[1] = static_cast<QOR_UINT16>(aRect[1]);
    // The display output is written in pixel pairs; its height may be odd.
    dsc.aOutputSize[0] = static_cast<QOR_UINT16>(outW & ~1u);
    dsc.aOutputSize[1] = static_cast<QOR_UINT16>(outH);
    dsc.bBypassDSC = QOR_FALSE;
    dsc.bAdjustCutoff = bAdjustTaps;
    markUpdated(dsc);
    return QOR_RES_OK;
}

} // namespace ISPC
