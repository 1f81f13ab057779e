#include "ispc/ModuleFOS.h"

#include "ispc/Pipeline.h"

namespace ISPC {

const char *const ModuleFOS::GROUP_NAME = "ModuleFOS";
const char *const ModuleFOS::GROUP_HEADER = "// Focus Statistics parameters";

const std::vector<ModuleFOS::Binding> &ModuleFOS::bindings() {
    static const std::vector<Binding> table = {
        bind(FOS_ROI, &ModuleFOS::bEnableROI),
        bind(FOS_ROISTART, &ModuleFOS::aRoiStartCoord),
        bind(FOS_ROIEND, &ModuleFOS::aRoiEndCoord),
        bind(FOS_GRID, &ModuleFOS::bEnableGrid),
        bind(FOS_GRIDSTART, &ModuleFOS::aGridStartCoord),
        bind(FOS_GRIDSIZE, &ModuleFOS::aGridTileSize),
    };
    return table;
}

ModuleFOS::ModuleFOS()
    : SetupModuleImpl<ModuleFOS, STP_FOS>("ISPC_MOD_FOS"), bEnableROI(false), aRoiStartCoord{0, 0}, aRoiEndCoord{0, 0},
      bEnableGrid(false), aGridStartCoord{0, 0}, aGridTileSize{0, 0} {
    loadDefaults();
}

QOR_RESULT ModuleFOS::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleFOS::writeSetup(MC_PIPELINE &mc) {
    MC_FOS &fos = mc.sFOS;
    fos.bGlobalEnable = bEnableGrid;
    fos.bRegionEnable = bEnableROI;
    // The grid fields carry one tile's size. Sizes are computed in 32 bits and keep their low 16 bits,
    // so an end before its start wraps (start 2, end 0 gives 65535).
    fos.ui16Left = static_cast<QOR_UINT16>(aGridStartCoord[0]);
    fos.ui16Top = static_cast<QOR_UINT16>(aGridStartCoord[1]);
    fos.ui16Width = static_cast<QOR_UINT16>(aGridTileSize[0]);
    fos.ui16Height = static_cast<QOR_UINT16>(aGridTileSize[1]);
    fos.ui16ROILeft = static_cast<QOR_UINT16>(aRoiStartCoord[0]);
    fos.ui16ROITop = static_cast<QOR_UINT16>(aRoiStartCoord[1]);
    fos.ui16ROIWidth = static_cast<QOR_UINT16>(aRoiEndCoord[0] - aRoiStartCoord[0] + 1u);
    fos.ui16ROIHeight = static_cast<QOR_UINT16>(aRoiEndCoord[1] - aRoiStartCoord[1] + 1u);
    markUpdated(fos);
    return QOR_RES_OK;
}

} // namespace ISPC
