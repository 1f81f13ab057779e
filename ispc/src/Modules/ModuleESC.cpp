#include "ispc/ModuleESC.h"

#include "ispc/Pipeline.h"

namespace ISPC {

namespace {
const double ESC_PITCH_DEF[2] = {1.0, 1.0};
const int ESC_RECT_DEF[4] = {0, 0, 0, 0};

const ModuleScalerBase::Texts kTexts = {
    "forcing ESC output width to the imager's size\n",
    "forcing ESC output height to the imager's size\n",
    "the width %d to compute the ESC horizontal pitch from is bigger than the imager's width (%d)!\n",
    "ERROR - the height %d to compute the ESC vertical pitch from is bigger than the imager's height (%d)!\n",
    "force rectangle type to be output sizes to compute the ESC pitch\n",
};
} // namespace

const ParamDefSingle<std::string> ModuleESC::ESC_RECTTYPE("ESC_RECT_TYPE", "croprect");
const ParamDefSingle<std::string> ModuleESC::ESC_CHROMA_MODE("ESC_CHROMA_MODE", "inter");
const ParamDefSingle<bool> ModuleESC::ESC_ADJUSTCUTOFF("ESC_ADJUST_CUTOFF_FREQ", false);
const ParamDefArray<double> ModuleESC::ESC_PITCH("ESC_PITCH", 0.0, 16.0, ESC_PITCH_DEF, 2);
const ParamDefArray<int> ModuleESC::ESC_RECT("ESC_RECT", 0, 8192, ESC_RECT_DEF, 4);

const char *const ModuleESC::GROUP_NAME = "ModuleESC";
const char *const ModuleESC::GROUP_HEADER = "// Encoder pipeline Scaler parameters";

const std::vector<ModuleESC::Binding> &ModuleESC::bindings() {
    typedef ModuleESC M;
    static const std::vector<Binding> table = {
        custom(
            ESC_RECTTYPE.name, [](M &, const ParameterList &) {}, // read by beforeLoad
            [](const M &m, ParameterList &l, ModuleBase::SaveType t) {
                if (t == ModuleBase::SAVE_VAL) {
                    l.addParameter(ESC_RECTTYPE, std::string(rectTypeName(m.eRectType)), true);
                } else {
                    saveParameter(l, t, ESC_RECTTYPE, ESC_RECTTYPE.def);
                }
            })
            .withDefInfo("{cliprect, croprect, outsize}"),
        custom(
            ESC_CHROMA_MODE.name, [](M &, const ParameterList &) {},
            [](const M &m, ParameterList &l, ModuleBase::SaveType t) {
                saveParameter(l, t, ESC_CHROMA_MODE, std::string(m.bChromaInterstitial ? "inter" : "co-sited"));
            })
            .withDefInfo("{inter, co-sited}"),
        bind(ESC_ADJUSTCUTOFF, static_cast<bool M::*>(&M::bAdjustTaps)),
        bind(ESC_PITCH, static_cast<double(M::*)[2]>(&M::aPitch)),
        bind(ESC_RECT, static_cast<QOR_UINT32(M::*)[4]>(&M::aRect)),
    };
    return table;
}

ModuleESC::ModuleESC() : SetupModuleImpl<ModuleESC, STP_ESC>("ISPC_MOD_ESC"), bChromaInterstitial(true) {
    loadDefaults();
}

QOR_RESULT ModuleESC::beforeLoad(const ParameterList &parameters) {
    const std::string type = parameters.getParameter(ESC_RECTTYPE);
    ScalerRectType t;
    if (!rectTypeOf(type, t)) {
        LOG_Error("load", __LINE__, getLoggingName(), "Invalid rectangle type: %s\n", type.c_str());
        return QOR_RES_FAILED;
    }
    eRectType = t;
    const std::string chroma = parameters.getParameter(ESC_CHROMA_MODE);
    if (chroma != "inter" && chroma != "co-sited") {
        LOG_Error("load", __LINE__, getLoggingName(), "Invalid chroma mode: %s\n", chroma.c_str());
        return QOR_RES_FAILED;
    }
    bChromaInterstitial = chroma == "inter";
    return QOR_RES_OK;
}

QOR_RESULT ModuleESC::save(ParameterList &parameters, ModuleBase::SaveType t) const {
    if (t == ModuleBase::SAVE_VAL && rectTypeName(eRectType) == nullptr) {
        static const ParameterGroup group = getGroup();
        parameters.addGroup(GROUP_NAME, group);
        LOG_Error("save", __LINE__, getLoggingName(), "Invalid rectangle type: %d\n", static_cast<int>(eRectType));
        return QOR_RES_UNAVAILABLE;
    }
    return SetupModuleImpl<ModuleESC, STP_ESC>::save(parameters, t);
}

QOR_RESULT ModuleESC::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleESC::writeSetup(MC_PIPELINE &mc) {
    if (mc.sIIF.ui16ImagerSize[0] == 0 || mc.sIIF.ui16ImagerSize[1] == 0) {
        QOR_LOG_ERROR(getLoggingName(), "IIF should have been setup beforehand!\n");
        return QOR_RES_UNAVAILABLE;
    }
    MC_ESC &esc = mc.sESC;
    QOR_UINT32 outW = 0, outH = 0;
    const QOR_RESULT ret = computeOutput(getLoggingName(), kTexts, 2u * mc.sIIF.ui16ImagerSize[0],
                                         2u * mc.sIIF.ui16ImagerSize[1], ESC_PITCH.max, esc.aOutputSize, outW, outH);
    if (ret != QOR_RES_OK) {
        return ret;
    }
    esc.aPitch[0] = aPitch[0];
    esc.aPitch[1] = aPitch[1];
    esc.aOffset[0] = static_cast<QOR_UINT16>(aRect[0]);
    esc.aOffset[1] = static_cast<QOR_UINT16>(aRect[1]);
    // The encoder's chroma is subsampled in both directions: its output is even-sized.
    esc.aOutputSize[0] = static_cast<QOR_UINT16>(outW & ~1u);
    esc.aOutputSize[1] = static_cast<QOR_UINT16>(outH & ~1u);
    esc.bBypassESC = QOR_FALSE;
    esc.bAdjustCutoff = bAdjustTaps;
    esc.bChromaInter = bChromaInterstitial;
    markUpdated(esc);
    return QOR_RES_OK;
}

} // namespace ISPC
