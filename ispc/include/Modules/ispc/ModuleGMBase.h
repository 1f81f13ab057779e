#ifndef ISPC_MODULEGMBASE_H
#define ISPC_MODULEGMBASE_H

#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/** The members the main and display gamut mappers share and their copy into a gamut-mapper block. */
class ModuleGMBase {
public:
    double aCoeff[6]; /**< the six mapping coefficients */
    double aSlope[3]; /**< the three slopes */
    double fClipMin;  /**< lower clip level */
    double fSrcNorm;  /**< source normalisation */
    double fClipMax;  /**< upper clip level */

    /** Copies the five members into the block; leaves updateNeeded alone. */
    QOR_RESULT configure(MC_GAMUTMAPPER &gamut) const;
};

} // namespace ISPC

#endif /* ISPC_MODULEGMBASE_H */
