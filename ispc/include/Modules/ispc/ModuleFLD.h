#ifndef ISPC_MODULEFLD_H
#define ISPC_MODULEFLD_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Flicker detection: the switch, the sensor's frame timing (from which the block derives its 50 Hz and
 * 60 Hz line steps) and the detector's thresholds, passed through. With a sensor the timing is the
 * sensor's and the timing tags are not read. The auto-exposure control enables it with the timing of
 * the current mode and sets it up at once. Log tag "ISPC_MOD_FLD".
 */
class ModuleFLD : public SetupModuleImpl<ModuleFLD, STP_FLD> {
public:
    static const ParamDefSingle<bool> FLD_ENABLE; /**< "FLD_ENABLE", default 0 */
    static const ParamDef<double> FLD_FRAMERATE;  /**< "FLD_FRAME_RATE", 1 to 255, default 30 */
    static const ParamDef<int> FLD_VTOT;          /**< "FLD_VTOT", 0 to 16383, default 525 */
    static const ParamDef<int> FLD_SCENECHANGE;   /**< "FLD_SCENE_CHANGE_TH", 0 to 1048575, default 300000 */
    static const ParamDef<int> FLD_MINPN;         /**< "FLD_MIN_PN", 0 to 63, default 4 */
    static const ParamDef<int> FLD_PN;            /**< "FLD_PN", 0 to 63, default 16 */
    static const ParamDef<int> FLD_NFTH;          /**< "FLD_NF_TH", 0 to 32767, default 15000 */
    static const ParamDef<int> FLD_COEFDIFF;      /**< "FLD_COEF_DIFF_TH", 0 to 32767, default 50 */
    static const ParamDef<int> FLD_RSHIFT;        /**< "FLD_RSHIFT", 0 to 63, default 10 */
    static const ParamDefSingle<bool> FLD_RESET;  /**< "FLD_RESET", default 0 */

    static const char *const GROUP_NAME;   /**< "ModuleFLD" */
    static const char *const GROUP_HEADER; /**< "// Flicker Detection parameters" */
    static const std::vector<Binding> &bindings();

    /** The ten tags under the module's header. */
    static ParameterGroup GetGroup() { return getGroup(); }

    ModuleFLD();
    ~ModuleFLD() override = default;

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    bool bEnable;
    double fFrameRate; /**< frames per second */
    QOR_INT32 iVTotal; /**< lines per frame, blanking included */
    QOR_INT32 iScheneChangeTH;
    QOR_INT32 iMinPN;
    QOR_INT32 iPN;
    QOR_INT32 iNF_TH;
    QOR_INT32 iCoeffDiffTH;
    QOR_INT32 iRShift;
    bool bReset;
};

} // namespace ISPC

#endif /* ISPC_MODULEFLD_H */
