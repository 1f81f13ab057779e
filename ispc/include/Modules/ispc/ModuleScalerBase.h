#ifndef ISPC_MODULESCALERBASE_H
#define ISPC_MODULESCALERBASE_H

#include "ispc/ModuleBase.h"
#include "ispc/Parameter.h"
#include "ispc/ParameterDef.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/** How a scaler's rectangle is read. */
enum ScalerRectType : QOR_INT32 {
    SCALER_RECT_CLIP = 0, /**< "cliprect": left, top, right, bottom of the input window */
    SCALER_RECT_CROP = 1, /**< "croprect": left, top, then the margins cut off at the right and bottom */
    SCALER_RECT_SIZE = 2, /**< "outsize": left, top, then the output width and height */
};

/**
 * The members the encoder and display scalers share and the computation of their output: offset,
 * pitches (automatic below 1.0) and output size.
 */
class ModuleScalerBase {
public:
    bool bAdjustTaps;         /**< cut-off adjustment handed to the tap computation */
    double aPitch[2];         /**< input pixels per output pixel; below 1.0: computed from the output size */
    ScalerRectType eRectType; /**< how aRect is read */
    QOR_UINT32 aRect[4];      /**< the rectangle */

    /** The words in which the two scalers report the same situations. */
    struct Texts {
        const char *forceWidth, *forceHeight;
        const char *widthTooBig, *heightTooBig;
        const char *forceType;
    };

    /** Name of a rectangle type; nullptr for a value outside the three. */
    static const char *rectTypeName(ScalerRectType t);
    /** The type named by text; false for any other text. */
    static bool rectTypeOf(const std::string &text, ScalerRectType &t);

protected:
    ModuleScalerBase() : bAdjustTaps(false), aPitch{1.0, 1.0}, eRectType(SCALER_RECT_CROP), aRect{0, 0, 0, 0} {}

    /**
     * The pitches, offsets and output size (before the even-size rule) for an image of W x H pixels.
     * An automatic pitch is stored in the members. 3 with the block untouched when an automatic pitch is
     * asked for an output larger than the image, or when a clip or crop rectangle does not lie within
     * the image.
     */
    QOR_RESULT computeOutput(const char *logName, const Texts &texts, QOR_UINT32 W, QOR_UINT32 H, double maxPitch,
                             const QOR_UINT16 current[2], QOR_UINT32 &outW, QOR_UINT32 &outH);
};

} // namespace ISPC

#endif /* ISPC_MODULESCALERBASE_H */
