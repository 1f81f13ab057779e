#ifndef ISPC_MODULEGMA_H
#define ISPC_MODULEGMA_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Gamma: whether the gamma block is bypassed. The curve itself is the driver's table. Log tag
 * "ISPC_MOD_GMA".
 */
class ModuleGMA : public SetupModuleImpl<ModuleGMA, STP_GMA> {
public:
    static const ParamDefSingle<bool> GMA_BYPASS; /**< "GMA_BYPASS", default 0 */

    static const char *const GROUP_NAME;   /**< "ModuleGMA" */
    static const char *const GROUP_HEADER; /**< "// Gamma Look Up Table parameters" */
    static const std::vector<Binding> &bindings();

    ModuleGMA();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    bool bBypass; /**< true: the gamma block is bypassed */
};

} // namespace ISPC

#endif /* ISPC_MODULEGMA_H */
