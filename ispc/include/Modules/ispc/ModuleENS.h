#ifndef ISPC_MODULEENS_H
#define ISPC_MODULEENS_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Encoder statistics: a table per frame over regions of a number of lines, with a subsampled kernel.
 * Both numbers are powers of two, as the block needs; load rounds other values up, with a warning.
 * Log tag "ISPC_MOD_ENS".
 */
class ModuleENS : public SetupModuleImpl<ModuleENS, STP_ENS> {
public:
    static const ParamDefSingle<bool> ENS_ENABLE;   /**< "ENS_ENABLE", default 0 */
    static const ParamDef<int> ENS_REGION_NUMLINES; /**< "ENS_REGION_NUMLINES", 8 to 256, default 16 */
    static const ParamDef<int> ENS_SUBS_FACTOR;     /**< "ENS_SUBS_FACTOR", 1 to 32, default 1 */

    static const char *const GROUP_NAME;   /**< "ModuleENS" */
    static const char *const GROUP_HEADER; /**< "// Encoder Statistics parameters" */
    static const std::vector<Binding> &bindings();

    ModuleENS();
    ~ModuleENS() override = default;

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
    /** Rounds both numbers up to powers of two. */
    QOR_RESULT afterLoad(const ParameterList &parameters);

    bool bEnable;
    QOR_UINT32 ui32NLines;            /**< lines per statistics region */
    QOR_UINT32 ui32SubsamplingFactor; /**< kernel subsampling */
};

} // namespace ISPC

#endif /* ISPC_MODULEENS_H */
