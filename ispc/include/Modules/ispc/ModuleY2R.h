#ifndef ISPC_MODULEY2R_H
#define ISPC_MODULEY2R_H

#include <vector>

#include "ispc/ModuleR2YBase.h"
#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * The YUV-to-RGB converter of the display path (or the re-ordering of packed YCbCr): matrix standard, brightness, contrast, saturation, hue, range multipliers and chroma
 * offsets, with the chroma order of the output formats. Log tag "ISPC_MOD_Y2R".
 */
class ModuleY2R : public SetupModuleImpl<ModuleY2R, STP_Y2R>, public ModuleR2YBase {
public:
    static const ParamDefSingle<std::string> Y2R_MATRIX_STD; /**< "Y2R_MATRIX", "BT601" or "BT709" */
    static const ParamDef<double> Y2R_BRIGHTNESS;            /**< "Y2R_BRIGHTNESS", -0.5 to 0.5 */
    static const ParamDef<double> Y2R_CONTRAST;              /**< "Y2R_CONTRAST", 0.1 to 10.0 */
    static const ParamDef<double> Y2R_SATURATION;            /**< "Y2R_SATURATION", 0.1 to 10 */
    static const ParamDef<double> Y2R_HUE;                   /**< "Y2R_HUE", -30 to 30 degrees */
    static const ParamDef<double> Y2R_OFFSETU;               /**< "Y2R_OFFSETU", -0.5 to 0.5, default -0.5 */
    static const ParamDef<double> Y2R_OFFSETV;               /**< "Y2R_OFFSETV", -0.5 to 0.5, default -0.5 */
    static const ParamDefArray<double> Y2R_RANGEMULT;        /**< "Y2R_RANGE_MUL", 3 values, 0 to 2 */

    static const char *const GROUP_NAME;   /**< "ModuleY2R" */
    static const char *const GROUP_HEADER; /**< "// YUV to RGB parameters" */
    static const std::vector<Binding> &bindings();

    ModuleY2R();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
    /** The matrix name is checked first: a name other than the two standards changes nothing. */
    QOR_RESULT beforeLoad(const ParameterList &parameters);
};

} // namespace ISPC

#endif /* ISPC_MODULEY2R_H */
