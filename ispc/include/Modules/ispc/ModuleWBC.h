#ifndef ISPC_MODULEWBC_H
#define ISPC_MODULEWBC_H

#include <string>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModule.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * White-balance correction: a gain and a clip per Bayer channel. The gains reach the block multiplied by the
 * white-balance scale of the pipeline's current lens-shading matrix. Log tag "ISPC_MOD_WBC".
 */
class ModuleWBC : public SetupModuleBase<STP_WBC> {
public:
    static const ParamDefArray<double> WBC_GAIN; /**< "LSH_WBGAIN", 4 values 0.5 to 8, default 1 */
    static const ParamDefArray<double> WBC_CLIP; /**< "LSH_WBCLIP", 4 values 0.5 to 2, default 1 */

    ModuleWBC();
    ~ModuleWBC() override = default;

    QOR_RESULT load(const ParameterList &parameters) override;
    using ModuleBase::save;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    QOR_RESULT setup() override;
    static ParameterGroup getGroup();

    double aWBGain[4]; /**< linear gain per Bayer channel */
    double aWBClip[4]; /**< relative clip level; 1.0 is 256 in the block */

protected:
    /** For derived classes: the base settings with that log name; loads nothing. */
    explicit ModuleWBC(const std::string &loggingName);
};

/** The white-balance correction of hardware 2.6 and later: an RGB gain and threshold stage. "ISPC_MOD_WBC2_6". */
class ModuleWBC2_6 : public ModuleWBC {
public:
    static const ParamDefArray<double> WBC_RGB_GAIN;       /**< "WBC_RGB_GAIN", 3 values 0 to 16, default 1 */
    static const ParamDefArray<double> WBC_RGB_THRESHOLD;  /**< "WBC_RGB_THRESHOLD", 3 values 0 to 1, default 1 */
    static const ParamDefSingle<std::string> WBC_RGB_MODE; /**< "WBC_RGB_MODE", default "saturation" */

    ModuleWBC2_6();
    ~ModuleWBC2_6() override = default;

    /** 3 with the mode -1 when "WBC_RGB_MODE" is neither "saturation" nor "threshold". */
    QOR_RESULT load(const ParameterList &parameters) override;
    using ModuleBase::save;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    QOR_RESULT setup() override;
    static ParameterGroup getGroup();

    /** Exactly "saturation" or "threshold"; anything else gives -1. */
    static WBC_MODES getRGBMode(const std::string &text);
    /** "saturation", "threshold", or "unknown". */
    static std::string getRGBModeString(WBC_MODES mode);

    double afRGBGain[3];
    double afRGBThreshold[3];
    WBC_MODES eRGBThresholdMode;
};

} // namespace ISPC

#endif /* ISPC_MODULEWBC_H */
