#include "test_modules.h"

using namespace ISPC;

namespace norva_test {

namespace {
const int TST_ARRAY_DEF[4] = {127, 127, 127, 127};
const float TST_VECTOR_DEF[3] = {0.5f, 1.0f, 1.5f};
} // namespace

const ParamDef<int> ModuleTST::TST_INT("TST_INT", -10, 10, 3);
const ParamDef<double> ModuleTST::TST_GAIN("TST_GAIN", 0.5, 4.0, 1.25);
const ParamDef<unsigned int> ModuleTST::TST_UNSIGNED("TST_UNSIGNED", 0, 32767, 64);
const ParamDef<short> ModuleTST::TST_SHORT("TST_SHORT", -2048, 2047, -5);
const ParamDefArray<int> ModuleTST::TST_ARRAY("TST_ARRAY", -128, 127, TST_ARRAY_DEF, 4);
const ParamDefArray<float> ModuleTST::TST_VECTOR("TST_VECTOR", 0.f, 2.f, TST_VECTOR_DEF, 3);
const ParamDefSingle<bool> ModuleTST::TST_ENABLE("TST_ENABLE", true);
const ParamDefSingle<std::string> ModuleTST::TST_FORMAT("TST_FORMAT", "NONE");

const char *const ModuleTST::GROUP_NAME = "ModuleTST";
const char *const ModuleTST::GROUP_HEADER = "// Test module parameters";

const std::vector<ModuleTST::Binding> &ModuleTST::bindings() {
    static const std::vector<Binding> table = {
        bind(TST_INT, &ModuleTST::iValue),      bind(TST_GAIN, &ModuleTST::gain),
        bind(TST_UNSIGNED, &ModuleTST::uValue), bind(TST_SHORT, &ModuleTST::sValue),
        bind(TST_ARRAY, &ModuleTST::aValues),   bind(TST_VECTOR, &ModuleTST::vValues, 3),
        bind(TST_ENABLE, &ModuleTST::bEnable),  bind(TST_FORMAT, &ModuleTST::format),
    };
    return table;
}

ModuleTST::ModuleTST() : SetupModuleImpl<ModuleTST, STP_EXS>("ISPC_MOD_TST") { loadDefaults(); }

QOR_RESULT ModuleTST::writeSetup(FakeMC &mc) {
    if (writeResult != QOR_RES_OK) {
        return writeResult;
    }
    mc.sTST.value = iValue;
    mc.sTST.gain = gain;
    markUpdated(mc.sTST);
    return QOR_RES_OK;
}

const ParamDef<double> ModuleHKS::HKS_RATIO("HKS_RATIO", 0.0, 16.0, 0.0);
const ParamDefSingle<std::string> ModuleHKS::HKS_MODE("HKS_MODE", "LINEAR");

const char *const ModuleHKS::GROUP_NAME = "ModuleHKS";
const char *const ModuleHKS::GROUP_HEADER = "// Hook test parameters";

const std::vector<ModuleHKS::Binding> &ModuleHKS::bindings() {
    static const std::vector<Binding> table = {
        bind(HKS_RATIO, &ModuleHKS::ratio).withDefInfo("double range=[0,16] (0: no ratio)"),
        custom(
            HKS_MODE.name,
            [](ModuleHKS &m, const ParameterList &list) {
                m.mode = list.getParameter(HKS_MODE) == "CUBIC" ? MODE_CUBIC : MODE_LINEAR;
            },
            [](const ModuleHKS &m, ParameterList &list, ModuleBase::SaveType t) {
                switch (t) {
                case SAVE_VAL:
                    list.addParameter(HKS_MODE, std::string(m.mode == MODE_CUBIC ? "CUBIC" : "LINEAR"), true);
                    break;
                case SAVE_MIN:
                    list.addParameter(HKS_MODE, std::string("LINEAR"), true);
                    break;
                case SAVE_MAX:
                    list.addParameter(HKS_MODE, std::string("CUBIC"), true);
                    break;
                case SAVE_DEF:
                    list.addParameterDef(HKS_MODE, true);
                    break;
                default:
                    break;
                }
            }),
    };
    return table;
}

ModuleHKS::ModuleHKS() : SetupModuleImpl<ModuleHKS, STP_HDR>("ISPC_MOD_HKS") { loadDefaults(); }

QOR_RESULT ModuleHKS::afterLoad(const ParameterList &) {
    if (ratio < 1.0) {
        ratio = 1.0;
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleHKS::writeSetup(FakeMC &mc) {
    mc.sHKS.gain = 256.0 / ratio;
    mc.sHKS.value = mode;
    markUpdated(mc.sHKS);
    return QOR_RES_OK;
}

} // namespace norva_test
