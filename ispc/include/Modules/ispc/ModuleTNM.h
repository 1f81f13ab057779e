#ifndef ISPC_MODULETNM_H
#define ISPC_MODULETNM_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Tone mapper: a global luma curve of 63 points (with brightness and contrast applied when written),
 * a local correction over image columns, histogram flattening, chroma scales and the mapping of an
 * input luma span onto an output luma range. Log tag "ISPC_MOD_TNM".
 *
 * A bypass ("TNM_BYPASS" 1, or bBypass set by a caller) applies to the next set-up alone: that set-up
 * tells the block to pass the data intact (no chroma scales, weights or flattening) and clears bBypass,
 * so the set-up after it programs the normal values again. The block's hardware bypass stays off.
 */
class ModuleTNM : public SetupModuleImpl<ModuleTNM, STP_TNM> {
public:
    static constexpr unsigned N_CURVE = 63;

    static const ParamDefArray<double> TNM_IN_Y;         /**< "TNM_IN_Y", 2 values, -127 to 127 */
    static const ParamDefArray<double> TNM_OUT_Y;        /**< "TNM_OUT_Y", 2 values, 0 to 255 */
    static const ParamDef<double> TNM_WEIGHT_LOCAL;      /**< "TNM_WEIGHT_LOCAL", 0 to 1 */
    static const ParamDef<double> TNM_WEIGHT_LINE;       /**< "TNM_WEIGHT_LINE", 0 to 1 */
    static const ParamDef<double> TNM_FLAT_FACTOR;       /**< "TNM_FLAT_FACTOR", 0 to 1 */
    static const ParamDef<double> TNM_FLAT_MIN;          /**< "TNM_FLAT_MIN", 0 to 1 */
    static const ParamDef<double> TNM_COLOUR_CONFIDENCE; /**< "TNM_COLOUR_CONFIDENCE", 0 to 64 */
    static const ParamDef<double> TNM_COLOUR_SATURATION; /**< "TNM_COLOUR_SATURATION", 0 to 16 */
    static const ParamDef<double> TNM_BRIGHTNESS;        /**< "TNM_BRIGHTNESS", -1 to 1 */
    static const ParamDef<double> TNM_CONTRAST;          /**< "TNM_CONTRAST", 0 to 16 */
    static const ParamDefArray<double> TNM_CURVE;        /**< "TNM_CURVE", 63 values, 0 to 1 */
    static const ParamDefSingle<bool> TNM_BYPASS;        /**< "TNM_BYPASS", default 0 */
    static const ParamDefSingle<bool> TNM_BW_MODE;       /**< "TNM_BW_MODE", default 0 */

    static const char *const GROUP_NAME;   /**< "ModuleTNM" */
    static const char *const GROUP_HEADER; /**< "// Tone Mapper parameters" */
    static const std::vector<Binding> &bindings();

    /** The straight line (i+1)/64, i = 0..62. */
    static std::vector<double> computeDefaultCurve();

    ModuleTNM();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    double aInY[2];           /**< input luma span, signed levels about 128 */
    double aOutY[2];          /**< output luma range, 0 to 255 */
    double fWeightLocal;      /**< weight of the per-column correction */
    double fWeightLine;       /**< line-to-line update weight of the curve */
    double fFlatFactor;       /**< histogram-flattening threshold */
    double fFlatMin;          /**< histogram-flattening minimum */
    double fColourConfidence; /**< chroma confidence scale */
    double fColourSaturation; /**< chroma saturation scale */
    double fBrightness;       /**< added to every curve point when written */
    double fContrast;         /**< scales every curve point about 0.5 when written */
    double aCurve[N_CURVE];   /**< the global curve, before brightness and contrast */
    bool bBypass;             /**< pass the data intact at the next set-up (cleared by it) */
    bool bBlackWhiteMode;     /**< chroma saturation forced to 0 */
};

} // namespace ISPC

#endif /* ISPC_MODULETNM_H */
