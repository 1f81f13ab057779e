#ifndef ISPC_MODULEDGM_H
#define ISPC_MODULEDGM_H

#include <vector>

#include "ispc/ModuleGMBase.h"
#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Display gamut mapper: the main mapper's parameters for the display output. Red and blue exchanged on
 * BGR displays reverse the coefficients; a packed YCbCr display gets a fixed configuration that keeps the
 * data intact, written into the members as well as the block, so it stays (and is saved) until the next
 * load. A pipeline without an output module fails the set-up with 3. Log tag "ISPC_MOD_DGM".
 */
class ModuleDGM : public ModuleGMBase, public SetupModuleImpl<ModuleDGM, STP_DGM> {
public:
    static const ParamDefArray<double> DGM_COEFF; /**< "DGM_COEFF", 6 values, -2 to 2 */
    static const ParamDef<double> DGM_CLIP_MIN;   /**< "DGM_CLIP_MIN", -1 to 0 */
    static const ParamDef<double> DGM_SRC_NORM;   /**< "DGM_SRC_NORM", 0 to 2 */
    static const ParamDef<double> DGM_CLIP_MAX;   /**< "DGM_CLIP_MAX", 0 to 2 */
    static const ParamDefArray<double> DGM_SLOPE; /**< "DGM_SLOPE", 3 values, 0 to 2 */

    static const char *const GROUP_NAME;   /**< "ModuleDGM" */
    static const char *const GROUP_HEADER; /**< "// Display Gamut Mapper parameters" */
    static const std::vector<Binding> &bindings();

    ModuleDGM();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
};

} // namespace ISPC

#endif /* ISPC_MODULEDGM_H */
