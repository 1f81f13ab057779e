#ifndef ISPC_MODULEEXS_H
#define ISPC_MODULEEXS_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Exposure statistics: counts of clipped pixels per colour channel, over the frame and per tile of a
 * 7 x 7 grid, judged against a pixel maximum. Log tag "ISPC_MOD_EXS".
 */
class ModuleEXS : public SetupModuleImpl<ModuleEXS, STP_EXS> {
public:
    static const ParamDefSingle<bool> EXS_GLOBAL;   /**< "EXS_GLOBAL_ENABLE", default 0 */
    static const ParamDefSingle<bool> EXS_REGIONAL; /**< "EXS_REGIONAL_ENABLE", default 0 */
    static const ParamDefArray<int> EXS_GRIDSTART;  /**< "EXS_GRID_START_COORDS", 2 values 0 to 8192, {0, 0} */
    static const ParamDefArray<int> EXS_GRIDTILE;   /**< "EXS_GRID_TILE_DIMENSIONS", 2 values 8 to 8191, {9, 9} */
    static const ParamDef<int> EXS_PIXELMAX;        /**< "EXS_PIXEL_MAX", 0 to 4095, default 4095 */

    static const char *const GROUP_NAME;   /**< "ModuleEXS" */
    static const char *const GROUP_HEADER; /**< "// Exposure Statistics parameters" */
    static const std::vector<Binding> &bindings();

    ModuleEXS();
    ~ModuleEXS() override = default;

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    bool bEnableGlobal;
    bool bEnableRegion;
    QOR_UINT32 aGridStart[2];    /**< [0] column, [1] row of the grid's top-left corner */
    QOR_UINT32 aGridTileSize[2]; /**< [0] width, [1] height of one tile */
    QOR_INT32 i32PixelMax;       /**< a sample at or above this counts as clipped */
};

} // namespace ISPC

#endif /* ISPC_MODULEEXS_H */
