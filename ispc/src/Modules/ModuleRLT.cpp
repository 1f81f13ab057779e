#include "ispc/ModuleRLT.h"

#include "ispc/Pipeline.h"

namespace ISPC {

namespace {

constexpr const char *kTag = "ISPC_MOD_RLT";

const unsigned int RLT_POINTS_DEF[ModuleRLT::N_POINTS] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

/** A loaded point: the definition allows 65536, which the 16-bit point holds as its full scale 65535. */
QOR_UINT16 toPoint(unsigned int v) { return static_cast<QOR_UINT16>(v > 65535u ? 65535u : v); }

typedef ModuleRLT::Binding Binding;

/** The points of channel c under the tag RLT_POINTS_<c>. */
Binding channelPoints(unsigned c) {
    // Built on each call (the table is built once): the indexed copy owns its defaults.
    const std::string tag = ModuleRLT::RLT_POINTS_S.name + "_" + std::to_string(c);
    return ModuleRLT::Binding{tag,
                              [c](ModuleRLT &m, const ParameterList &list) {
                                  const ParamDefArray<unsigned int> def = ModuleRLT::RLT_POINTS_S.indexed(c);
                                  for (unsigned i = 0; i < ModuleRLT::N_POINTS; i++) {
                                      m.aLUTPoints[c][i] = toPoint(list.getParameter(def, i));
                                  }
                              },
                              [c](const ModuleRLT &m, ParameterList &list, ModuleBase::SaveType t) {
                                  const ParamDefArray<unsigned int> def = ModuleRLT::RLT_POINTS_S.indexed(c);
                                  std::vector<std::string> values;
                                  if (t == ModuleBase::SAVE_VAL) {
                                      values.reserve(ModuleRLT::N_POINTS);
                                      for (unsigned i = 0; i < ModuleRLT::N_POINTS; i++) {
                                          values.push_back(toString(static_cast<unsigned int>(m.aLUTPoints[c][i])));
                                      }
                                  }
                                  saveParameter(list, t, def, values);
                              }};
}

} // namespace

const ParamDefSingle<std::string> ModuleRLT::RLT_CORRECTION_MODE("RLT_CORRECTION_MODE", "DISABLED");
const ParamDefArray<unsigned int> ModuleRLT::RLT_POINTS_S("RLT_POINTS", 0, 65536, RLT_POINTS_DEF, N_POINTS);

const char *const ModuleRLT::GROUP_NAME = "ModuleRLT";
const char *const ModuleRLT::GROUP_HEADER = "// Raw Look Up Table parameters";

const std::vector<ModuleRLT::Binding> &ModuleRLT::bindings() {
    // The points first, then the mode, for loading and saving alike.
    static const std::vector<Binding> table = {
        channelPoints(0),
        channelPoints(1),
        channelPoints(2),
        channelPoints(3),
        custom(
            RLT_CORRECTION_MODE.name,
            [](ModuleRLT &m, const ParameterList &list) {
                m.eMode = getRLTMode(list.getParameter(RLT_CORRECTION_MODE));
            },
            [](const ModuleRLT &m, ParameterList &list, ModuleBase::SaveType t) {
                saveParameter(list, t, RLT_CORRECTION_MODE, getRLTModeString(m.eMode));
            })
            .withDefInfo("{DISABLED, LINEAR, CUBIC}"),
    };
    return table;
}

ModuleRLT::ModuleRLT() : SetupModuleImpl<ModuleRLT, STP_RLT>(kTag), eMode(RLT_DISABLED), aLUTPoints{} {
    loadDefaults();
}

QOR_RESULT ModuleRLT::beforeLoad(const ParameterList &) {
    LOG_Perf_In(getLoggingName(), __FILE__, "load", __LINE__);
    return QOR_RES_OK;
}

QOR_RESULT ModuleRLT::afterLoad(const ParameterList &) {
    LOG_Perf_Out(getLoggingName(), __FILE__, "load", __LINE__);
    return QOR_RES_OK;
}

QOR_RESULT ModuleRLT::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleRLT::writeSetup(MC_PIPELINE &mc) {
    // Members are written directly by other code: a mode outside the three is refused, not guessed.
    if (static_cast<unsigned>(eMode) > static_cast<unsigned>(RLT_CUBIC)) {
        LOG_Error("setup", __LINE__, kTag, "unknown RLT mode %d\n", static_cast<int>(eMode));
        return QOR_RES_FAILED;
    }
    MC_RLT &rlt = mc.sRLT;
    rlt.eMode = static_cast<CI_RLT_MODES>(eMode);
    for (unsigned c = 0; c < N_CHANNELS; c++) {
        for (unsigned i = 0; i < N_POINTS; i++) {
            rlt.aPoints[c][i] = aLUTPoints[c][i];
        }
    }
    markUpdated(rlt);
    return QOR_RES_OK;
}

ModuleRLT::Mode ModuleRLT::getRLTMode(const std::string &stringFormat) {
    if (stringFormat == "LINEAR") {
        return RLT_LINEAR;
    }
    if (stringFormat == "CUBIC") {
        return RLT_CUBIC;
    }
    return RLT_DISABLED;
}

std::string ModuleRLT::getRLTModeString(Mode mode) {
    switch (mode) {
    case RLT_LINEAR:
        return "LINEAR";
    case RLT_CUBIC:
        return "CUBIC";
    default:
        return "DISABLED";
    }
}

} // namespace ISPC
