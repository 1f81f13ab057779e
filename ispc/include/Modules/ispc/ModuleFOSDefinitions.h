#ifndef ISPC_MODULEFOSDEFINITIONS_H
#define ISPC_MODULEFOSDEFINITIONS_H

#include "ispc/ParameterDef.h"

namespace ISPC {

/**
 * The setup-file parameters of the focus-statistics module. ISPC::ModuleFOS derives from this class,
 * so the definitions read as ModuleFOS::FOS_ROI and so on.
 */
struct ModuleFOSDefinitions {
    static const ParamDefSingle<bool> FOS_ROI;     /**< "FOS_ROI_ENABLE" */
    static const ParamDefSingle<bool> FOS_GRID;    /**< "FOS_GRID_ENABLE" */
    static const ParamDefArray<int> FOS_ROISTART;  /**< "FOS_ROI_START_COORDS", x and y */
    static const ParamDefArray<int> FOS_ROIEND;    /**< "FOS_ROI_END_COORDS", x and y (inclusive) */
    static const ParamDefArray<int> FOS_GRIDSTART; /**< "FOS_GRID_START_COORDS", x and y */
    static const ParamDefArray<int> FOS_GRIDSIZE;  /**< "FOS_GRID_TILE_SIZE", width and height */
};

} // namespace ISPC

#endif /* ISPC_MODULEFOSDEFINITIONS_H */
