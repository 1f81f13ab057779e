#include "ispc/ModuleHIS.h"

#include "ispc/Pipeline.h"

namespace ISPC {

namespace {
const int HIS_GRIDSTART_DEF[2] = {0, 0};
const int HIS_GRIDSIZE_DEF[2] = {10, 8};
} // namespace

const ParamDefSingle<bool> ModuleHIS::HIS_GLOBAL("HIS_GLOBAL_ENABLE", false);
const ParamDefSingle<bool> ModuleHIS::HIS_GRID("HIS_REGIONAL_ENABLE", false);
const ParamDef<int> ModuleHIS::HIS_INPUTOFF("HIS_INPUT_OFFSET", 0, 1023, 256);
const ParamDef<int> ModuleHIS::HIS_INPUTSCALE("HIS_INPUT_SCALE", 0, 65535, 32767);
const ParamDefArray<int> ModuleHIS::HIS_GRIDSTART("HIS_GRID_START_COORDS", 0, 8191, HIS_GRIDSTART_DEF, 2);
const ParamDefArray<int> ModuleHIS::HIS_GRIDSIZE("HIS_GRID_TILE_DIMENSIONS", 8, 4095, HIS_GRIDSIZE_DEF, 2);

const char *const ModuleHIS::GROUP_NAME = "ModuleHIS";
const char *const ModuleHIS::GROUP_HEADER = "// Histogram Statistics parameters";

const std::vector<ModuleHIS::Binding> &ModuleHIS::bindings() {
    static const std::vector<Binding> table = {
        bind(HIS_GLOBAL, &ModuleHIS::bEnableGlobal),      bind(HIS_GRID, &ModuleHIS::bEnableROI),
        bind(HIS_INPUTOFF, &ModuleHIS::ui32InputOffset),  bind(HIS_INPUTSCALE, &ModuleHIS::ui32InputScale),
        bind(HIS_GRIDSTART, &ModuleHIS::aGridStartCoord), bind(HIS_GRIDSIZE, &ModuleHIS::aGridTileSize),
    };
    return table;
}

ModuleHIS::ModuleHIS()
    : SetupModuleImpl<ModuleHIS, STP_HIS>("ISPC_MOD_HIS"), bEnableGlobal(false), bEnableROI(false),
      ui32InputOffset(256), ui32InputScale(32767), aGridStartCoord{0, 0}, aGridTileSize{10, 8} {
    loadDefaults();
}

QOR_RESULT ModuleHIS::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleHIS::writeSetup(MC_PIPELINE &mc) {
    MC_HIS &his = mc.sHIS;
    his.bGlobalEnable = bEnableGlobal;
    his.bRegionEnable = bEnableROI;
    his.fInputOffset = static_cast<double>(ui32InputOffset);
    his.fInputScale = static_cast<double>(ui32InputScale);
    his.ui16Left = static_cast<QOR_UINT16>(aGridStartCoord[0]);
    his.ui16Top = static_cast<QOR_UINT16>(aGridStartCoord[1]);
    // The block refuses tiles narrower than 10 pixels, which the tag's range still admits: such a tile
    // is programmed 10 wide rather than making the whole pipeline unprogrammable.
    QOR_UINT32 tileWidth = aGridTileSize[0];
    if (tileWidth < MIN_TILE_WIDTH) {
        QOR_LOG_WARNING(getLoggingName(), "grid tile width %u below the hardware minimum, programming %u\n", tileWidth,
                        MIN_TILE_WIDTH);
        tileWidth = MIN_TILE_WIDTH;
    }
    his.ui16Width = static_cast<QOR_UINT16>(tileWidth);
    his.ui16Height = static_cast<QOR_UINT16>(aGridTileSize[1]);
    markUpdated(his);
    return QOR_RES_OK;
}

bool ModuleHIS::configureForExposure(QOR_UINT32 width, QOR_UINT32 height) {
    if (bEnableGlobal && bEnableROI) {
        return false; // the setup file's own grid, offset and scale stay
    }
    const QOR_UINT32 size[2] = {width, height};
    const QOR_UINT32 minimum[2] = {10, 8};
    for (int i = 0; i < 2; i++) {
        const QOR_UINT32 q = static_cast<QOR_UINT32>(size[i] / static_cast<double>(GRID_TILES));
        aGridTileSize[i] = q > minimum[i] ? q : minimum[i];
        // The start comes from the quotient before the minimum: centred when the tiles were not lifted.
        aGridStartCoord[i] = (size[i] - GRID_TILES * q) / 2;
    }
    ui32InputOffset = static_cast<QOR_UINT32>(HIS_INPUTOFF.def);
    ui32InputScale = static_cast<QOR_UINT32>(HIS_INPUTSCALE.def);
    bEnableGlobal = true;
    bEnableROI = true;
    requestUpdate();
    return true;
}

} // namespace ISPC
