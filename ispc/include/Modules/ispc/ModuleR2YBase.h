#ifndef ISPC_MODULER2YBASE_H
#define ISPC_MODULER2YBASE_H

#include <string>
#include <vector>

#include "ispc/ModuleBase.h"
#include "ispc/Parameter.h"
#include "ispc/ParameterDef.h"
#include "mc/mc_pipeline.h"
#include "norvacommon/pixel_transform.h"
#include "qor_types.h"

namespace ISPC {

/**
 * The user parameters shared by the two colour-space converters (RGB to YUV for the encoder, YUV to
 * RGB for the display) and their turning into the matrix and offsets of one converter.
 *
 * The hardware order on the YCbCr side is (Cr, Y, Cb). The offsets of both converters belong to their
 * outputs. Those of the RGB-to-YUV converter stay with their chroma row: fOffsetU with the Cr row,
 * fOffsetV with the Cb row. Those of the YUV-to-RGB converter sit at (fOffsetU, luma, fOffsetV) in the
 * hardware order; exchanging the chroma inputs leaves them there, exchanging the R and B outputs
 * exchanges them with the rows.
 */
class ModuleR2YBase {
public:
    enum StdMatrix : QOR_INT32 { STD_MIN = 0, BT601 = 0, BT709 = 1, JFIF = 2, STD_MAX = 2 };

    double fBrightness;   /**< luma offset, fraction of the 8-bit range (1.0 = 256 codes) */
    double fContrast;     /**< luma gain, also multiplies the chroma gain */
    double fSaturation;   /**< chroma gain */
    double fHue;          /**< rotation of the chroma plane, degrees */
    double aRangeMult[3]; /**< range multipliers: luma, Cb, Cr (packed YCbCr display: by output) */
    double fOffsetU;      /**< chroma offset of the Cr channel, fraction of 256 codes */
    double fOffsetV;      /**< chroma offset of the Cb channel, fraction of 256 codes */
    StdMatrix eMatrix;

    /** Fills plane.aCoeff and plane.aOffset for the kind in plane.eType; 0, 15, 22 or 11. */
    QOR_RESULT configure(MC_PLANECONV &plane, bool bSwapInput, bool bSwapOutput) const;

    static const char *stdMatrixName(StdMatrix std);
    static StdMatrix stdIndex(const char *name);

    /** The encoder formats whose chroma comes Cb first in memory. */
    static bool isCbFirst(ePxlFormat encoder);
};

namespace r2y_detail {
/**
 * The matrix standard named in a list ("BT601" or "BT709", exactly; "BT709" when the tag is absent).
 * Any other name is logged as the load's error and gives 3, out untouched.
 */
QOR_RESULT readMatrix(const ParamDefSingle<std::string> &def, const ParameterList &list, const char *logName,
                      ModuleR2YBase::StdMatrix &out);
/** Saves the matrix tag: the name of any standard (JFIF included), nothing for a value without a name. */
void saveMatrix(const ParamDefSingle<std::string> &def, ModuleR2YBase::StdMatrix value, ParameterList &list,
                ModuleBase::SaveType t);
} // namespace r2y_detail

} // namespace ISPC

#endif /* ISPC_MODULER2YBASE_H */
