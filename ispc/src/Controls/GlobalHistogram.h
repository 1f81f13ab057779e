#ifndef ISPC_CONTROLS_GLOBAL_HISTOGRAM_H
#define ISPC_CONTROLS_GLOBAL_HISTOGRAM_H

/*
 * Shared by the controls that meter the owner pipeline's global histogram (light-based controls, tone mapper
 * control). Not public.
 */

#include "ispc/ModuleHIS.h"

namespace ISPC {

/**
 * Whether the global histogram of his is on once this returns: already on, or switched on here with the default
 * input offset and scale (taken at the module's next setup) when allowConfig. False when it stays off; the caller
 * says what that costs it.
 */
inline bool enableGlobalHistogram(ModuleHIS &his, bool allowConfig) {
    if (his.bEnableGlobal) {
        return true;
    }
    if (!allowConfig) {
        return false;
    }
    his.bEnableGlobal = true;
    his.ui32InputOffset = static_cast<QOR_UINT32>(ModuleHIS::HIS_INPUTOFF.def);
    his.ui32InputScale = static_cast<QOR_UINT32>(ModuleHIS::HIS_INPUTSCALE.def);
    his.requestUpdate();
    return true;
}

} // namespace ISPC

#endif
