#ifndef ISPC_MODULEESC_H
#define ISPC_MODULEESC_H

#include <string>
#include <vector>

#include "ispc/ModuleScalerBase.h"
#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * The encoder scaler, which feeds the YUV encoder output: a window of the processed image (clip rectangle, crop margins or output size with an
 * offset) filtered down by a pitch in each direction, fixed or computed from the output size. Its
 * output size is the size of that output everywhere in the system. Log tag "ISPC_MOD_ESC".
 */
class ModuleESC : public SetupModuleImpl<ModuleESC, STP_ESC>, public ModuleScalerBase {
public:
    static const ParamDefSingle<std::string> ESC_RECTTYPE;    /**< "ESC_RECT_TYPE", "cliprect", "croprect", "outsize" */
    static const ParamDefSingle<std::string> ESC_CHROMA_MODE; /**< "ESC_CHROMA_MODE", "inter" or "co-sited" */
    static const ParamDefSingle<bool> ESC_ADJUSTCUTOFF;       /**< "ESC_ADJUST_CUTOFF_FREQ", default 0 */
    static const ParamDefArray<double> ESC_PITCH;             /**< "ESC_PITCH", 2 values, 0 to 16 */
    static const ParamDefArray<int> ESC_RECT;                 /**< "ESC_RECT", 4 values, 0 to 8192 */

    static const char *const GROUP_NAME;   /**< "ModuleESC" */
    static const char *const GROUP_HEADER; /**< "// Encoder pipeline Scaler parameters" */
    static const std::vector<Binding> &bindings();

    ModuleESC();

    using ModuleBase::save;
    /** A rectangle type outside the three is refused (15) and nothing but the group is written. */
    QOR_RESULT save(ParameterList &parameters, ModuleBase::SaveType t) const override;
    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
    /** The texts (rectangle type, chroma mode) are read first: an unknown one gives 3. */
    QOR_RESULT beforeLoad(const ParameterList &parameters);

    bool bChromaInterstitial; /**< interstitial chroma siting of the encoder output; false: co-sited */
};

} // namespace ISPC

#endif /* ISPC_MODULEESC_H */
