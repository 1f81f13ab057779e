#include "ispc/ModuleEXS.h"

#include "ispc/Pipeline.h"

namespace ISPC {

namespace {
const int EXS_GRIDSTART_DEF[2] = {0, 0};
const int EXS_GRIDTILE_DEF[2] = {9, 9};
} // namespace

const ParamDefSingle<bool> ModuleEXS::EXS_GLOBAL("EXS_GLOBAL_ENABLE", false);
const ParamDefSingle<bool> ModuleEXS::EXS_REGIONAL("EXS_REGIONAL_ENABLE", false);
const ParamDefArray<int> ModuleEXS::EXS_GRIDSTART("EXS_GRID_START_COORDS", 0, 8192, EXS_GRIDSTART_DEF, 2);
const ParamDefArray<int> ModuleEXS::EXS_GRIDTILE("EXS_GRID_TILE_DIMENSIONS", 8, 8191, EXS_GRIDTILE_DEF, 2);
const ParamDef<int> ModuleEXS::EXS_PIXELMAX("EXS_PIXEL_MAX", 0, 4095, 4095);

const char *const ModuleEXS::GROUP_NAME = "ModuleEXS";
const char *const ModuleEXS::GROUP_HEADER = "// Exposure Statistics parameters";

const std::vector<ModuleEXS::Binding> &ModuleEXS::bindings() {
    static const std::vector<Binding> table = {
        bind(EXS_GLOBAL, &ModuleEXS::bEnableGlobal), bind(EXS_REGIONAL, &ModuleEXS::bEnableRegion),
        bind(EXS_GRIDSTART, &ModuleEXS::aGridStart), bind(EXS_GRIDTILE, &ModuleEXS::aGridTileSize),
        bind(EXS_PIXELMAX, &ModuleEXS::i32PixelMax),
    };
    return table;
}

ModuleEXS::ModuleEXS()
    : SetupModuleImpl<ModuleEXS, STP_EXS>("ISPC_MOD_EXS"), bEnableGlobal(false),
      bEnableRegion(false), aGridStart{0, 0}, aGridTileSize{9, 9}, i32PixelMax(4095) {
    loadDefaults();
}

QOR_RESULT ModuleEXS::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleEXS::writeSetup(MC_PIPELINE &mc) {
    MC_EXS &exs = mc.sEXS;
    exs.bGlobalEnable = bEnableGlobal;
    exs.bRegionEnable = bEnableRegion;
    exs.ui16Left = static_cast<QOR_UINT16>(aGridStart[0]);
    exs.ui16Top = static_cast<QOR_UINT16>(aGridStart[1]);
    exs.ui16Width = static_cast<QOR_UINT16>(aGridTileSize[0]);
    exs.ui16Height = static_cast<QOR_UINT16>(aGridTileSize[1]);
    exs.fPixelMax = static_cast<double>(i32PixelMax);
    markUpdated(exs);
    return QOR_RES_OK;
}

} // namespace ISPC
