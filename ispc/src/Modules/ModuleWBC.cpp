#include "ispc/ModuleWBC.h"

#include <vector>

#include "ispc/ModuleLSH.h"
#include "ispc/Pipeline.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
const double kGainDef[4] = {1, 1, 1, 1};
const double kClipDef[4] = {1, 1, 1, 1};
const double kRGBGainDef[3] = {1, 1, 1};
const double kRGBThresholdDef[3] = {1, 1, 1};

template <size_t N>
void saveValues(ParameterList &list, ModuleBase::SaveType t, const ParamDefArray<double> &def, const double (&v)[N]) {
    std::vector<std::string> values;
    if (t == ModuleBase::SAVE_VAL) {
        for (size_t i = 0; i < N; i++)
            values.push_back(toString(v[i]));
    }
    saveParameter(list, t, def, values);
}

/** The checks every set-up starts with; the MC configuration, or null with the error logged. */
MC_PIPELINE *setupTarget(SetupModule &m) {
    Pipeline *pipe = m.getPipeline();
    if (pipe == nullptr) {
        QOR_LOG_ERROR(m.getLoggingName(), "pipeline not set!\n");
        return nullptr;
    }
    if (pipe->getMCPipeline() == nullptr) {
        QOR_LOG_ERROR(m.getLoggingName(), "pMCPipeline not set!\n");
    }
    return pipe->getMCPipeline();
}
} // namespace

const ParamDefArray<double> ModuleWBC::WBC_GAIN("LSH_WBGAIN", 0.5, 8.0, kGainDef, 4);
const ParamDefArray<double> ModuleWBC::WBC_CLIP("LSH_WBCLIP", 0.5, 2.0, kClipDef, 4);

ModuleWBC::ModuleWBC() : ModuleWBC("ISPC_MOD_WBC") { ModuleWBC::load(ParameterList()); }

ModuleWBC::ModuleWBC(const std::string &loggingName)
    : SetupModuleBase<STP_WBC>(loggingName), aWBGain{1, 1, 1, 1}, aWBClip{1, 1, 1, 1} {}

QOR_RESULT ModuleWBC::load(const ParameterList &parameters) {
    for (unsigned i = 0; i < 4; i++) {
        aWBGain[i] = parameters.getParameter(WBC_GAIN, i);
        aWBClip[i] = parameters.getParameter(WBC_CLIP, i);
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleWBC::save(ParameterList &parameters, SaveType t) const {
    static const ParameterGroup group = ModuleWBC::getGroup();
    parameters.addGroup("ModuleWBC", group);
    saveValues(parameters, t, WBC_GAIN, aWBGain);
    saveValues(parameters, t, WBC_CLIP, aWBClip);
    return QOR_RES_OK;
}

ParameterGroup ModuleWBC::getGroup() {
    ParameterGroup g;
    g.header = "// White Balance Correction parameters";
    g.parameters.insert(WBC_GAIN.name);
    g.parameters.insert(WBC_CLIP.name);
    return g;
}

QOR_RESULT ModuleWBC::setup() {
    LOG_Perf_In(getLoggingName(), __FILE__, __func__, __LINE__);
    MC_PIPELINE *mc = setupTarget(*this);
    if (mc == nullptr) {
        return QOR_RES_UNAVAILABLE;
    }
    double scale = 1.0;
    const ModuleLSH *lsh = static_cast<const ModuleLSH *>(getPipeline()->getModule(STP_LSH));
    if (lsh != nullptr) {
        scale = lsh->getCurrentScaleWB();
    } else {
        QOR_LOG_WARNING(getLoggingName(), "pipeline does not have an LSH module to get scaleWB from\n");
    }
    for (int c = 0; c < 4; c++) {
        mc->sWBC.aGain[c] = aWBGain[c] * scale;
        mc->sWBC.aClip[c] = aWBClip[c] * 256.0;
    }
    mc->sWBC.updateNeeded = true;
    setupFlag = true;
    LOG_Perf_Out(getLoggingName(), __FILE__, __func__, __LINE__);
    return QOR_RES_OK;
}

/* ---- 2.6 ---- */

const ParamDefArray<double> ModuleWBC2_6::WBC_RGB_GAIN("WBC_RGB_GAIN", 0.0, 16.0, kRGBGainDef, 3);
const ParamDefArray<double> ModuleWBC2_6::WBC_RGB_THRESHOLD("WBC_RGB_THRESHOLD", 0.0, 1.0, kRGBThresholdDef, 3);
const ParamDefSingle<std::string> ModuleWBC2_6::WBC_RGB_MODE("WBC_RGB_MODE", "saturation");

ModuleWBC2_6::ModuleWBC2_6()
    : ModuleWBC("ISPC_MOD_WBC2_6"), afRGBGain{1, 1, 1}, afRGBThreshold{1, 1, 1}, eRGBThresholdMode(WBC_SATURATION) {
    ModuleWBC2_6::load(ParameterList());
}

WBC_MODES ModuleWBC2_6::getRGBMode(const std::string &text) {
    if (text == "saturation")
        return WBC_SATURATION;
    if (text == "threshold")
        return WBC_THRESHOLD;
    return static_cast<WBC_MODES>(-1);
}

std::string ModuleWBC2_6::getRGBModeString(WBC_MODES mode) {
    switch (mode) {
    case WBC_SATURATION:
        return "saturation";
    case WBC_THRESHOLD:
        return "threshold";
    default:
        return "unknown";
    }
}

QOR_RESULT ModuleWBC2_6::load(const ParameterList &parameters) {
    const QOR_RESULT r = ModuleWBC::load(parameters);
    if (r != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "loading ModuleWBC parameters - returned %d\n", r);
        return r;
    }
    for (unsigned k = 0; k < 3; k++) {
        afRGBGain[k] = parameters.getParameter(WBC_RGB_GAIN, k);
        afRGBThreshold[k] = parameters.getParameter(WBC_RGB_THRESHOLD, k);
    }
    const std::string text = parameters.getParameter(WBC_RGB_MODE);
    eRGBThresholdMode = getRGBMode(text);
    if (eRGBThresholdMode == static_cast<WBC_MODES>(-1)) {
        QOR_LOG_ERROR(getLoggingName(), "Invalid saturation mode value %s\n", text.c_str());
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleWBC2_6::save(ParameterList &parameters, SaveType t) const {
    const QOR_RESULT r = ModuleWBC::save(parameters, t);
    if (r != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "failed to save ModuleWBC parameters - returned %d\n", r);
        return r;
    }
    static const ParameterGroup group = ModuleWBC2_6::getGroup();
    parameters.addGroup("ModuleWBC2_6", group);
    saveValues(parameters, t, WBC_RGB_GAIN, afRGBGain);
    saveValues(parameters, t, WBC_RGB_THRESHOLD, afRGBThreshold);
    switch (t) {
    case SAVE_VAL:
        parameters.addParameter(WBC_RGB_MODE, getRGBModeString(eRGBThresholdMode), true);
        break;
    case SAVE_MIN:
    case SAVE_MAX: {
        Parameter p(WBC_RGB_MODE.name, WBC_RGB_MODE.def);
        p.setInfo("string");
        parameters.addParameter(p, true);
        break;
    }
    case SAVE_DEF:
        parameters.addParameterDef(WBC_RGB_MODE, true);
        break;
    default:
        break;
    }
    return QOR_RES_OK;
}

ParameterGroup ModuleWBC2_6::getGroup() {
    ParameterGroup g;
    g.header = "// White Balance Clipping parameters (HW 2.6)";
    g.parameters.insert(WBC_RGB_GAIN.name);
    g.parameters.insert(WBC_RGB_THRESHOLD.name);
    g.parameters.insert(WBC_RGB_MODE.name);
    return g;
}

QOR_RESULT ModuleWBC2_6::setup() {
    LOG_Perf_In(getLoggingName(), __FILE__, __func__, __LINE__);
    MC_PIPELINE *mc = setupTarget(*this);
    if (mc == nullptr) {
        return QOR_RES_UNAVAILABLE;
    }
    const QOR_RESULT r = ModuleWBC::setup();
    if (r != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "failed to setup ModuleWBC - returned %d\n", r);
        return r;
    }
    for (int k = 0; k < 3; k++) {
        mc->sWBC.afRGBGain[k] = afRGBGain[k];
        mc->sWBC.afRGBThreshold[k] = afRGBThreshold[k];
    }
    mc->sWBC.eRGBThresholdMode = eRGBThresholdMode;
    mc->sWBC.updateNeeded = true;
    setupFlag = true;
    LOG_Perf_Out(getLoggingName(), __FILE__, __func__, __LINE__);
    return QOR_RES_OK;
}

} // namespace ISPC
