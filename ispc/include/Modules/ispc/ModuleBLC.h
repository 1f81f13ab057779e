#ifndef ISPC_MODULEBLC_H
#define ISPC_MODULEBLC_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Black-level correction: the black level the sensor adds to each colour-filter channel and the
 * system black level of the pipeline. Log tag "ISPC_MOD_BLC".
 */
class ModuleBLC : public SetupModuleImpl<ModuleBLC, STP_BLC> {
public:
    static const ParamDefArray<int> BLC_SENSOR_BLACK; /**< "BLC_SENSOR_BLACK", 4 channels, -128 to 127 */
    static const ParamDef<int> BLC_SYS_BLACK;         /**< "BLC_SYS_BLACK", 0 to 32767 */

    static const char *const GROUP_NAME;   /**< "ModuleBLC" */
    static const char *const GROUP_HEADER; /**< "// Black Level Correction parameters" */
    static const std::vector<Binding> &bindings();

    ModuleBLC();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    QOR_INT32 aSensorBlack[4];
    QOR_UINT32 ui32SystemBlack;
};

} // namespace ISPC

#endif /* ISPC_MODULEBLC_H */
