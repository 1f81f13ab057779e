#ifndef ISPC_MODULERLT_H
#define ISPC_MODULERLT_H

#include <string>
#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Raw look-up table: a curve of 16 points for each of the four Bayer channels, interpolated linearly
 * or with a cubic, or the block off. The data-generator camera rewrites eMode and aLUTPoints after
 * each shot to imitate the sensor exposure, then requests an update. Log tag "ISPC_MOD_RLT".
 */
class ModuleRLT : public SetupModuleImpl<ModuleRLT, STP_RLT> {
public:
    /** The block's modes, with the values of CI_RLT_MODES. */
    enum Mode { RLT_DISABLED = 0, RLT_LINEAR = 1, RLT_CUBIC = 2 };

    static const ParamDefSingle<std::string> RLT_CORRECTION_MODE; /**< "RLT_CORRECTION_MODE", default "DISABLED" */
    /** "RLT_POINTS", 16 points of 0 to 65536; used only through its indexed forms RLT_POINTS_0 to _3. */
    static const ParamDefArray<unsigned int> RLT_POINTS_S;

    static const char *const GROUP_NAME;   /**< "ModuleRLT" */
    static const char *const GROUP_HEADER; /**< "// Raw Look Up Table parameters" */
    static const std::vector<Binding> &bindings();

    ModuleRLT();
    ~ModuleRLT() override = default;

    QOR_RESULT setup() override;
    /* The performance hooks around load. */
    QOR_RESULT beforeLoad(const ParameterList &parameters);
    QOR_RESULT afterLoad(const ParameterList &parameters);
    /** 3 for a mode outside the three, writing nothing. */
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    /** "LINEAR" and "CUBIC" (exactly); anything else is RLT_DISABLED. */
    static Mode getRLTMode(const std::string &stringFormat);
    /** "LINEAR", "CUBIC", and "DISABLED" for every other value. */
    static std::string getRLTModeString(Mode mode);

    static constexpr unsigned N_CHANNELS = 4;
    static constexpr unsigned N_POINTS = 16;

    Mode eMode;
    QOR_UINT16 aLUTPoints[N_CHANNELS][N_POINTS]; /**< [channel][point], 16-bit output units */
};

} // namespace ISPC

#endif /* ISPC_MODULERLT_H */
