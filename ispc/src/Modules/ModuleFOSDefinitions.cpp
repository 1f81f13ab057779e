#include "ispc/ModuleFOSDefinitions.h"

namespace ISPC {

namespace {
const int FOS_ROISTART_DEF[2] = {0, 0};
const int FOS_ROIEND_DEF[2] = {0, 0};
const int FOS_GRIDSTART_DEF[2] = {0, 0};
const int FOS_GRIDSIZE_DEF[2] = {0, 0};
} // namespace

const ParamDefSingle<bool> ModuleFOSDefinitions::FOS_ROI("FOS_ROI_ENABLE", false);
const ParamDefSingle<bool> ModuleFOSDefinitions::FOS_GRID("FOS_GRID_ENABLE", false);
const ParamDefArray<int> ModuleFOSDefinitions::FOS_ROISTART("FOS_ROI_START_COORDS", 0, 32767, FOS_ROISTART_DEF, 2);
const ParamDefArray<int> ModuleFOSDefinitions::FOS_ROIEND("FOS_ROI_END_COORDS", 0, 32767, FOS_ROIEND_DEF, 2);
const ParamDefArray<int> ModuleFOSDefinitions::FOS_GRIDSTART("FOS_GRID_START_COORDS", 0, 32767, FOS_GRIDSTART_DEF, 2);
const ParamDefArray<int> ModuleFOSDefinitions::FOS_GRIDSIZE("FOS_GRID_TILE_SIZE", 0, 32767, FOS_GRIDSIZE_DEF, 2);

} // namespace ISPC
