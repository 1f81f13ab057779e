#include "ispc/ModuleGMBase.h"

namespace ISPC {

QOR_RESULT ModuleGMBase::configure(MC_GAMUTMAPPER &gamut) const {
    gamut.fClipMin = fClipMin;
    gamut.fClipMax = fClipMax;
    gamut.fSrcNorm = fSrcNorm;
    for (int k = 0; k < 3; k++) {
        gamut.aSlope[k] = aSlope[k];
    }
    for (int k = 0; k < 6; k++) {
        gamut.aCoeff[k] = aCoeff[k];
    }
    return QOR_RES_OK;
}

} // namespace ISPC
