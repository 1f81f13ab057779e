#ifndef ISPC_MODULEMGM_H
#define ISPC_MODULEMGM_H

#include <vector>

#include "ispc/ModuleGMBase.h"
#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Main gamut mapper: clip levels, source normalisation, slopes and coefficients, written as loaded. Log tag "ISPC_MOD_MGM".
 */
class ModuleMGM : public ModuleGMBase, public SetupModuleImpl<ModuleMGM, STP_MGM> {
public:
    static const ParamDefArray<double> MGM_COEFF; /**< "MGM_COEFF", 6 values, -2 to 2 */
    static const ParamDef<double> MGM_CLIP_MIN;   /**< "MGM_CLIP_MIN", -1 to 0 */
    static const ParamDef<double> MGM_SRC_NORM;   /**< "MGM_SRC_NORM", 0 to 2 */
    static const ParamDef<double> MGM_CLIP_MAX;   /**< "MGM_CLIP_MAX", 0 to 2 */
    static const ParamDefArray<double> MGM_SLOPE; /**< "MGM_SLOPE", 3 values, 0 to 2 */

    static const char *const GROUP_NAME;   /**< "ModuleMGM" */
    static const char *const GROUP_HEADER; /**< "// Main Gamut Mapper parameters" */
    static const std::vector<Binding> &bindings();

    ModuleMGM();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
};

} // namespace ISPC

#endif /* ISPC_MODULEMGM_H */
