#ifndef ISPC_MODULEHDR_H
#define ISPC_MODULEHDR_H

#include <string>
#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * HDR merge of a two-exposure sensor: black levels, merge mode, exposure ratio (by default derived from
 * the sensor's bit depth), the luminance coefficients and the tone curve that compresses the merged
 * image. Writes the HDR record with its 4096-point merge weights and 3328-point tone curve; the sensor's
 * HDR layout is copied as the pipeline reports it. Log tag "ISPC_MOD_HDR".
 */
class ModuleHDR : public SetupModuleImpl<ModuleHDR, STP_HDR> {
public:
    enum MergeMode { HDR_MERGE_NORMAL = 0, HDR_MERGE_SHORT_ONLY = 1, HDR_MERGE_LONG_ONLY = 2 };

    static constexpr unsigned N_WEIGHTS = 4096;
    static constexpr unsigned N_TNM = 3328;

    static const ParamDefArray<int> HDR_BLACK_LEVEL;         /**< "HDR_BLACK_LEVEL", 2 values 0 to 4095 */
    static const ParamDefSingle<std::string> HDR_MERGE_MODE; /**< "HDR_MERGE_MODE", "NORMAL" */
    static const ParamDef<double> HDR_EXPOSURE_RATIO;        /**< "HDR_EXPOSURE_RATIO", 1 to 256, default 0 */
    static const ParamDefArray<double> HDR_LUM_COEFFS;       /**< "HDR_LUM_COEFFS", 3 values 0 to 1 */
    static const ParamDef<double> HDR_TNM_SCALE;             /**< "HDR_TNM_SCALE", 0 to 1e8, 1 */
    static const ParamDef<double> HDR_TNM_WHITE;             /**< "HDR_TNM_WHITE", 0 to 1e8, 1 */

    static const char *const GROUP_NAME;   /**< "ModuleHDR" */
    static const char *const GROUP_HEADER; /**< "// High Dynamic Range parameters" */
    static const std::vector<Binding> &bindings();

    /** "NORMAL", "SHORT_ONLY", "LONG_ONLY"; any other name is HDR_MERGE_NORMAL. */
    static MergeMode getMergeMode(const std::string &stringFormat);
    static std::string getMergeModeString(MergeMode mode);

    ModuleHDR();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
    /** The exposure ratio: the list's, or 2^(b - 6) for a sensor of b = 8 to 12 bits. */
    QOR_RESULT afterLoad(const ParameterList &parameters);

    /** The weight of the long exposure at each of the 4096 input levels. */
    void calculateWeightCurve(double *pWeightCurve) const;
    /** The tone curve at 3328 logarithmically spaced inputs. */
    void calculateTNMCurve(double *pTNMCurve) const;

    QOR_UINT32 aBlackLevel[2];
    MergeMode eMergeMode;
    double fExposureRatio;
    double aLumCoeffs[3];
    double fTNMScale;
    double fTNMWhite;
};

} // namespace ISPC

#endif /* ISPC_MODULEHDR_H */
