#include "ispc/ModuleGMA.h"

#include "ispc/Pipeline.h"

namespace ISPC {

const ParamDefSingle<bool> ModuleGMA::GMA_BYPASS("GMA_BYPASS", false);

const char *const ModuleGMA::GROUP_NAME = "ModuleGMA";
const char *const ModuleGMA::GROUP_HEADER = "// Gamma Look Up Table parameters";

const std::vector<ModuleGMA::Binding> &ModuleGMA::bindings() {
    static const std::vector<Binding> table = {
        bind(GMA_BYPASS, &ModuleGMA::bBypass),
    };
    return table;
}

ModuleGMA::ModuleGMA() : SetupModuleImpl<ModuleGMA, STP_GMA>("ISPC_MOD_GMA"), bBypass(false) { loadDefaults(); }

QOR_RESULT ModuleGMA::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleGMA::writeSetup(MC_PIPELINE &mc) {
    mc.sGMA.bBypass = bBypass;
    markUpdated(mc.sGMA);
    return QOR_RES_OK;
}

} // namespace ISPC
