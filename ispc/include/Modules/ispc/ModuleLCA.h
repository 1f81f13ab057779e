#ifndef ISPC_MODULELCA_H
#define ISPC_MODULELCA_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Lateral chromatic aberration: the red and blue planes are resampled at positions displaced by
 * polynomials in x and y about a centre of each plane. Values are copied into the block as they are.
 * Log tag "ISPC_MOD_LCA".
 */
class ModuleLCA : public SetupModuleImpl<ModuleLCA, STP_LCA> {
public:
    static const ParamDefArray<double> LCA_REDPOLY_X;  /**< "LCA_REDPOLY_X", 3 values -16 to 15.9 (single precision) */
    static const ParamDefArray<double> LCA_REDPOLY_Y;  /**< "LCA_REDPOLY_Y" */
    static const ParamDefArray<double> LCA_BLUEPOLY_X; /**< "LCA_BLUEPOLY_X" */
    static const ParamDefArray<double> LCA_BLUEPOLY_Y; /**< "LCA_BLUEPOLY_Y" */
    static const ParamDefArray<int> LCA_REDCENTER;     /**< "LCA_RED_CENTER", 2 values -4095 to 4095 */
    static const ParamDefArray<int> LCA_BLUECENTER;    /**< "LCA_BLUE_CENTER" */
    static const ParamDefArray<int> LCA_SHIFT;         /**< "LCA_SHIFT", 2 values 0 to 3 */
    static const ParamDefArray<int> LCA_DEC;           /**< "LCA_DEC", 2 values 0 to 15 */

    static const char *const GROUP_NAME;   /**< "ModuleLCA" */
    static const char *const GROUP_HEADER; /**< "// Lateral Chromatic Aberration parameters" */
    static const std::vector<Binding> &bindings();

    ModuleLCA();
    ~ModuleLCA() override = default;

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    double aRedPoly_X[3];
    double aRedPoly_Y[3];
    double aBluePoly_X[3];
    double aBluePoly_Y[3];
    QOR_UINT32 aRedCenter[2];  /**< x, y; a negative centre in a setup file reads as 0 */
    QOR_UINT32 aBlueCenter[2]; /**< x, y; a negative centre in a setup file reads as 0 */
    QOR_UINT32 aShift[2];
    QOR_UINT32 aDecimation[2];

private:
    static Binding centre(const ParamDefArray<int> &def, QOR_UINT32 (ModuleLCA::*member)[2]);
};

} // namespace ISPC

#endif /* ISPC_MODULELCA_H */
