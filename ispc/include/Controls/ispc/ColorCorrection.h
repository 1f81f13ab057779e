#ifndef ISPC_COLORCORRECTION_H
#define ISPC_COLORCORRECTION_H

#include <ostream>

#include "ispc/Matrix.h"

namespace ISPC {

/**
 * One colour correction: a 3x3 matrix (rows are output channels), three offsets, four Bayer channel gains
 * and the colour temperature it belongs to. The default is the identity at 6500 K, not initialised.
 */
class ColorCorrection {
public:
    ColorCorrection();
    /** 9 coefficients row by row, 3 offsets, 4 gains; initialised. */
    ColorCorrection(const double *ccm, const double *offs, const double *gns, double temp);

    /** this x (1 - w) + other x w, matrices and temperature; initialised. */
    ColorCorrection blend(const ColorCorrection &other, double w) const;
    /** The same written into out, whose matrices keep their storage (no allocation). */
    void blendInto(const ColorCorrection &other, double w, ColorCorrection &out) const;
    ColorCorrection operator*(double v) const;
    ColorCorrection operator+(const ColorCorrection &other) const;
    bool operator<(const ColorCorrection &other) const { return temperature < other.temperature; }
    bool operator>(const ColorCorrection &other) const { return temperature > other.temperature; }

    /**
     * In place: the matrix as the matrix inverse gives it (cofactors over the determinant, untransposed,
     * so applying it by its transpose undoes the correction), offsets negated, gains reciprocal.
     */
    void inv();

    Matrix coefficients; /**< 3x3 */
    Matrix offsets;      /**< 1x3 */
    Matrix gains;        /**< 1x4 */
    double temperature;
    bool initialized;
};

std::ostream &operator<<(std::ostream &os, const ColorCorrection &c);

} // namespace ISPC

#endif /* ISPC_COLORCORRECTION_H */
