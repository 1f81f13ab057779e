#ifndef ISPC_MODULEVIB_H
#define ISPC_MODULEVIB_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Vibrancy: a saturation curve of 32 points (output saturation at the inputs i/31) that the image
 * enhancer block applies as 32 saturation multipliers. Writes only the vibrancy fields of the enhancer
 * block it shares with ModuleMIE. Log tag "ISPC_MOD_VIB".
 */
class ModuleVIB : public SetupModuleImpl<ModuleVIB, STP_VIB> {
public:
    static constexpr int N_POINTS = 32;

    static const ParamDefSingle<bool> VIB_ON;                /**< "MIE_VIB_ON", default 0 */
    static const ParamDefArray<double> VIB_SATURATION_CURVE; /**< "MIE_VIB_SAT_CURVE", 32 values 0 to 1, i/31 */

    static const char *const GROUP_NAME;   /**< "ModuleVIB" */
    static const char *const GROUP_HEADER; /**< "// Vibrancy parameters" */
    static const std::vector<Binding> &bindings();

    /** satGains[i] = satCurve[i] / (i/31), satGains[0] = 1: the identity curve gives 32 ones. */
    static void gainsFromSaturationCurve(const double *satCurve, double *satGains);
    /** curve[i] = i / (s - 1). */
    static void toIndentity(double *curve, int s);
    /** A curve through (0, 0), the two points (in either order) and (1, 1), sampled at i/31. */
    static void saturationCurve(double in1, double out1, double in2, double out2, double *satCurve);
    /** Multipliers of a two-point curve smoothed by a five-point box. */
    static void setupDoublePoints(double in1, double out1, double in2, double out2, double *satMult);

    ModuleVIB();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    bool bVibrancyOn;
    double aSaturationCurve[N_POINTS];
};

} // namespace ISPC

#endif /* ISPC_MODULEVIB_H */
