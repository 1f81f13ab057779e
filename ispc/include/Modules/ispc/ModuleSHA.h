#ifndef ISPC_MODULESHA_H
#define ISPC_MODULESHA_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Sharpening: the three gain weights of a Gaussian high-pass, strength, threshold, detail, the edge
 * weighting, and the block's denoiser, whose comparison points follow a noise model of the sensor (its
 * well depth and the gain last programmed). Setting up needs the pipeline's sensor. Log tag "ISPC_MOD_SHA".
 */
class ModuleSHA : public SetupModuleImpl<ModuleSHA, STP_SHA> {
public:
    static const ParamDef<double> SHA_RADIUS;             /**< "SHA_RADIUS", 0.5 to 10, default 2.5 */
    static const ParamDef<double> SHA_STRENGTH;           /**< "SHA_STRENGTH", 0 to 1, default 0.4 */
    static const ParamDef<double> SHA_THRESH;             /**< "SHA_THRESH", 0 to 1, default 0 */
    static const ParamDef<double> SHA_DETAIL;             /**< "SHA_DETAIL", 0 to 1, default 1 */
    static const ParamDef<double> SHA_EDGE_SCALE;         /**< "SHA_EDGE_SCALE", 0 to 1, default 0.25 */
    static const ParamDef<double> SHA_EDGE_OFFSET;        /**< "SHA_EDGE_OFFSET", -1 to 1, default 0 */
    static const ParamDefSingle<bool> SHA_DENOISE_BYPASS; /**< "SHA_DENOISE_BYPASS", default 0 */
    static const ParamDef<double> SHADN_TAU;              /**< "SHA_DN_TAU_MULTIPLIER", 0 to 16, default 1 */
    static const ParamDef<double> SHADN_SIGMA;            /**< "SHA_DN_SIGMA_MULTIPLIER", 0 to 16, default 1 */

    static const char *const GROUP_NAME;   /**< "ModuleSHA" */
    static const char *const GROUP_HEADER; /**< "// Sharpening parameters" */
    static const std::vector<Binding> &bindings();
    /** The six sharpening tags; the three denoise tags are saved too but belong to the denoiser's group. */
    static ParameterGroup getGroup();

    /** Noise model (sigma, tau) of a noise index: log2 interpolation over the fixed sample tables. */
    static void noiseModel(double noiseIndex, double &sigma, double &tau);
    /** The three gain weights of a Gaussian of the given radius, whole numbers totalling 63 with the centre. */
    static void gainWeights(double radius, double (&weights)[3]);

    ModuleSHA();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    double fRadius;
    double fStrength;
    double fThreshold;
    double fDetail;
    double fEdgeScale;
    double fEdgeOffset;
    bool bBypassDenoise;
    double fDenoiseTau;
    double fDenoiseSigma;
};

} // namespace ISPC

#endif /* ISPC_MODULESHA_H */
