#ifndef ISPC_MODULEDSC_H
#define ISPC_MODULEDSC_H

#include <string>
#include <vector>

#include "ispc/ModuleScalerBase.h"
#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * The display scaler, which feeds the display output: a window of the processed image (clip rectangle, crop margins or output size with an
 * offset) filtered down by a pitch in each direction, fixed or computed from the output size. Its
 * output size is the size of that output everywhere in the system. Log tag "ISPC_MOD_DSC".
 */
class ModuleDSC : public SetupModuleImpl<ModuleDSC, STP_DSC>, public ModuleScalerBase {
public:
    static const ParamDefSingle<std::string> DSC_RECTTYPE; /**< "DSC_RECT_TYPE", "cliprect", "croprect", "outsize" */
    static const ParamDefSingle<bool> DSC_ADJUSTCUTOFF;    /**< "DSC_ADJUST_CUTOFF_FREQ", default 0 */
    static const ParamDefArray<double> DSC_PITCH;          /**< "DSC_PITCH", 2 values, 0 to 16 */
    static const ParamDefArray<int> DSC_RECT;              /**< "DSC_RECT", 4 values, 0 to 8192 */

    static const char *const GROUP_NAME;   /**< "ModuleDSC" */
    static const char *const GROUP_HEADER; /**< "// Display pipeline Scaler parameters" */
    static const std::vector<Binding> &bindings();

    ModuleDSC();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
    /** The texts (rectangle type) are read first: an unknown one gives 3. */
    QOR_RESULT beforeLoad(const ParameterList &parameters);
};

} // namespace ISPC

#endif /* ISPC_MODULEDSC_H */
