#include "ispc/ModuleLCA.h"

#include "ispc/Pipeline.h"

namespace ISPC {

namespace {
const double LCA_POLY_DEF[3] = {0, 0, 0};
const int LCA_CENTER_DEF[2] = {0, 0};
const int LCA_SHIFT_DEF[2] = {0, 0};
const int LCA_DEC_DEF[2] = {0, 0};
const double LCA_POLY_MAX = static_cast<double>(15.9f);
} // namespace

const ParamDefArray<double> ModuleLCA::LCA_REDPOLY_X("LCA_REDPOLY_X", -16.0, LCA_POLY_MAX, LCA_POLY_DEF, 3);
const ParamDefArray<double> ModuleLCA::LCA_REDPOLY_Y("LCA_REDPOLY_Y", -16.0, LCA_POLY_MAX, LCA_POLY_DEF, 3);
const ParamDefArray<double> ModuleLCA::LCA_BLUEPOLY_X("LCA_BLUEPOLY_X", -16.0, LCA_POLY_MAX, LCA_POLY_DEF, 3);
const ParamDefArray<double> ModuleLCA::LCA_BLUEPOLY_Y("LCA_BLUEPOLY_Y", -16.0, LCA_POLY_MAX, LCA_POLY_DEF, 3);
const ParamDefArray<int> ModuleLCA::LCA_REDCENTER("LCA_RED_CENTER", -4095, 4095, LCA_CENTER_DEF, 2);
const ParamDefArray<int> ModuleLCA::LCA_BLUECENTER("LCA_BLUE_CENTER", -4095, 4095, LCA_CENTER_DEF, 2);
const ParamDefArray<int> ModuleLCA::LCA_SHIFT("LCA_SHIFT", 0, 3, LCA_SHIFT_DEF, 2);
const ParamDefArray<int> ModuleLCA::LCA_DEC("LCA_DEC", 0, 15, LCA_DEC_DEF, 2);

const char *const ModuleLCA::GROUP_NAME = "ModuleLCA";
const char *const ModuleLCA::GROUP_HEADER = "// Lateral Chromatic Aberration parameters";

ModuleLCA::Binding ModuleLCA::centre(const ParamDefArray<int> &def, QOR_UINT32 (ModuleLCA::*member)[2]) {
    Binding b = bind(def, member);
    // The block's centres are unsigned: a negative centre reads as 0 instead of a pattern that
    // would be saved as a number no later load accepts.
    b.load = [&def, member](ModuleLCA &m, const ParameterList &list) {
        for (unsigned i = 0; i < 2; i++) {
            const int v = list.getParameter(def, i);
            (m.*member)[i] = static_cast<QOR_UINT32>(v < 0 ? 0 : v);
        }
    };
    return b;
}

const std::vector<ModuleLCA::Binding> &ModuleLCA::bindings() {
    static const std::vector<Binding> table = {
        bind(LCA_REDPOLY_X, &ModuleLCA::aRedPoly_X),   bind(LCA_REDPOLY_Y, &ModuleLCA::aRedPoly_Y),
        bind(LCA_BLUEPOLY_X, &ModuleLCA::aBluePoly_X), bind(LCA_BLUEPOLY_Y, &ModuleLCA::aBluePoly_Y),
        centre(LCA_REDCENTER, &ModuleLCA::aRedCenter), centre(LCA_BLUECENTER, &ModuleLCA::aBlueCenter),
        bind(LCA_SHIFT, &ModuleLCA::aShift),           bind(LCA_DEC, &ModuleLCA::aDecimation),
    };
    return table;
}

ModuleLCA::ModuleLCA()
    : SetupModuleImpl<ModuleLCA, STP_LCA>("ISPC_MOD_LCA"), aRedPoly_X{0, 0, 0}, aRedPoly_Y{0, 0, 0},
      aBluePoly_X{0, 0, 0}, aBluePoly_Y{0, 0, 0}, aRedCenter{0, 0}, aBlueCenter{0, 0}, aShift{0, 0}, aDecimation{0, 0} {
    loadDefaults();
}

QOR_RESULT ModuleLCA::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleLCA::writeSetup(MC_PIPELINE &mc) {
    MC_LCA &lca = mc.sLCA;
    for (int k = 0; k < 3; k++) {
        lca.aCoeffRed[k][0] = aRedPoly_X[k];
        lca.aCoeffRed[k][1] = aRedPoly_Y[k];
        lca.aCoeffBlue[k][0] = aBluePoly_X[k];
        lca.aCoeffBlue[k][1] = aBluePoly_Y[k];
    }
    for (int d = 0; d < 2; d++) {
        lca.aOffsetRed[d] = static_cast<QOR_UINT16>(aRedCenter[d]);
        lca.aOffsetBlue[d] = static_cast<QOR_UINT16>(aBlueCenter[d]);
        lca.aShift[d] = static_cast<QOR_UINT8>(aShift[d]);
        lca.aDec[d] = static_cast<QOR_UINT8>(aDecimation[d]);
    }
    markUpdated(lca);
    return QOR_RES_OK;
}

} // namespace ISPC
