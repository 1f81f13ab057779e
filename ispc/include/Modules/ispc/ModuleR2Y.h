#ifndef ISPC_MODULER2Y_H
#define ISPC_MODULER2Y_H

#include <vector>

#include "ispc/ModuleR2YBase.h"
#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * The RGB-to-YUV converter of the encoder path: matrix standard, brightness, contrast, saturation, hue, range multipliers and chroma
 * offsets, with the chroma order of the output formats. Log tag "ISPC_MOD_R2Y".
 */
class ModuleR2Y : public SetupModuleImpl<ModuleR2Y, STP_R2Y>, public ModuleR2YBase {
public:
    static const ParamDefSingle<std::string> R2Y_MATRIX_STD; /**< "R2Y_MATRIX", "BT601" or "BT709" */
    static const ParamDef<double> R2Y_BRIGHTNESS;            /**< "R2Y_BRIGHTNESS", -0.5 to 0.5 */
    static const ParamDef<double> R2Y_CONTRAST;              /**< "R2Y_CONTRAST", 0.0 to 2.0 */
    static const ParamDef<double> R2Y_SATURATION;            /**< "R2Y_SATURATION", 0.1 to 10 */
    static const ParamDef<double> R2Y_HUE;                   /**< "R2Y_HUE", -30 to 30 degrees */
    static const ParamDef<double> R2Y_OFFSETU;               /**< "R2Y_OFFSETU", -0.5 to 0.5, default 0.0 */
    static const ParamDef<double> R2Y_OFFSETV;               /**< "R2Y_OFFSETV", -0.5 to 0.5, default 0.0 */
    static const ParamDefArray<double> R2Y_RANGEMULT;        /**< "R2Y_RANGE_MUL", 3 values, 0 to 2 */

    static const char *const GROUP_NAME;   /**< "ModuleR2Y" */
    static const char *const GROUP_HEADER; /**< "// RGB to YUV parameters" */
    static const std::vector<Binding> &bindings();

    ModuleR2Y();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
    /** The matrix name is checked first: a name other than the two standards changes nothing. */
    QOR_RESULT beforeLoad(const ParameterList &parameters);
};

} // namespace ISPC

#endif /* ISPC_MODULER2Y_H */
