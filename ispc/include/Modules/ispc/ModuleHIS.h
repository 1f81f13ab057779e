#ifndef ISPC_MODULEHIS_H
#define ISPC_MODULEHIS_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Histogram statistics: the global 64-bin histogram, the 7 x 7 grid of 16-bin regional histograms,
 * the offset and scale applied to the samples before binning and where the grid lies. The automatic
 * loops switch it on themselves; auto exposure lays the grid over the whole sensor
 * (configureForExposure). Log tag "ISPC_MOD_HIS".
 */
class ModuleHIS : public SetupModuleImpl<ModuleHIS, STP_HIS> {
public:
    static const ParamDefSingle<bool> HIS_GLOBAL;  /**< "HIS_GLOBAL_ENABLE", default 0 */
    static const ParamDefSingle<bool> HIS_GRID;    /**< "HIS_REGIONAL_ENABLE", default 0 */
    static const ParamDef<int> HIS_INPUTOFF;       /**< "HIS_INPUT_OFFSET", 0 to 1023, default 256 */
    static const ParamDef<int> HIS_INPUTSCALE;     /**< "HIS_INPUT_SCALE", 0 to 65535, default 32767 */
    static const ParamDefArray<int> HIS_GRIDSTART; /**< "HIS_GRID_START_COORDS", 2 values 0 to 8191, {0, 0} */
    static const ParamDefArray<int> HIS_GRIDSIZE;  /**< "HIS_GRID_TILE_DIMENSIONS", 2 values 8 to 4095, {10, 8} */

    static const char *const GROUP_NAME;   /**< "ModuleHIS" */
    static const char *const GROUP_HEADER; /**< "// Histogram Statistics parameters" */
    static const std::vector<Binding> &bindings();

    /** Grid cells each way. */
    static const unsigned GRID_TILES = 7;
    /** Narrowest tile the block accepts; narrower tiles are programmed this wide, with a warning. */
    static const unsigned MIN_TILE_WIDTH = 10;

    ModuleHIS();
    ~ModuleHIS() override = default;

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    /**
     * What auto exposure writes when it configures its statistics on a sensor of width x height
     * active pixels: unless both histograms are already on, both are switched on with the default
     * offset and scale and the grid is laid over the sensor (tiles of a seventh of each side, at
     * least 10 x 8, the remainder split around the grid); then an update is requested. Returns
     * whether anything was written.
     */
    bool configureForExposure(QOR_UINT32 width, QOR_UINT32 height);

    bool bEnableGlobal;
    bool bEnableROI;
    QOR_UINT32 ui32InputOffset;
    QOR_UINT32 ui32InputScale;
    QOR_UINT32 aGridStartCoord[2]; /**< [0] column, [1] row of the grid's top-left corner */
    QOR_UINT32 aGridTileSize[2];   /**< [0] width, [1] height of one tile */
};

} // namespace ISPC

#endif /* ISPC_MODULEHIS_H */
