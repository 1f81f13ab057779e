#include "ispc/ModuleENS.h"

#include "ispc/Pipeline.h"

namespace ISPC {

const ParamDefSingle<bool> ModuleENS::ENS_ENABLE("ENS_ENABLE", false);
const ParamDef<int> ModuleENS::ENS_REGION_NUMLINES("ENS_REGION_NUMLINES", 8, 256, 16);
const ParamDef<int> ModuleENS::ENS_SUBS_FACTOR("ENS_SUBS_FACTOR", 1, 32, 1);

const char *const ModuleENS::GROUP_NAME = "ModuleENS";
const char *const ModuleENS::GROUP_HEADER = "// Encoder Statistics parameters";

namespace {
/** v rounded up to a power of two, with the warning when that changes it. */
QOR_UINT32 roundedUp(QOR_UINT32 v, const char *tag, const char *logName) {
    QOR_UINT32 p = 1;
    while (p < v) {
        p <<= 1;
    }
    if (p != v && v != 0) {
        LOG_Warning("load", __LINE__, logName,
                    "loaded value for %s (%d) is not a power of 2! Rounding to next power of 2: %d\n", tag,
                    static_cast<int>(v), static_cast<int>(p));
        return p;
    }
    return v;
}
} // namespace

const std::vector<ModuleENS::Binding> &ModuleENS::bindings() {
    static const std::vector<Binding> table = {
        bind(ENS_ENABLE, &ModuleENS::bEnable),
        bind(ENS_REGION_NUMLINES, &ModuleENS::ui32NLines),
        bind(ENS_SUBS_FACTOR, &ModuleENS::ui32SubsamplingFactor),
    };
    return table;
}

ModuleENS::ModuleENS()
    : SetupModuleImpl<ModuleENS, STP_ENS>("ISPC_MOD_ENS"), bEnable(false), ui32NLines(16), ui32SubsamplingFactor(1) {
    loadDefaults();
}

QOR_RESULT ModuleENS::afterLoad(const ParameterList &) {
    ui32NLines = roundedUp(ui32NLines, ENS_REGION_NUMLINES.name.c_str(), getLoggingName());
    ui32SubsamplingFactor = roundedUp(ui32SubsamplingFactor, ENS_SUBS_FACTOR.name.c_str(), getLoggingName());
    return QOR_RES_OK;
}

QOR_RESULT ModuleENS::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleENS::writeSetup(MC_PIPELINE &mc) {
    MC_ENS &ens = mc.sENS;
    ens.bEnable = bEnable;
    ens.ui32NLines = ui32NLines;
    ens.ui32KernelSubsampling = ui32SubsamplingFactor;
    markUpdated(ens);
    return QOR_RES_OK;
}

} // namespace ISPC
