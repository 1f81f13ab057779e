#include "ispc/ColorCorrection.h"

namespace ISPC {

namespace {

/** Every coefficient of out = a x (1 - w) + b x w; the three matrices have the same size. */
void blendMatrix(const Matrix &a, const Matrix &b, double w, Matrix &out) {
    for (int i = 0; i < a.numRows(); i++) {
        for (int j = 0; j < a.numCols(); j++) {
            out[i][j] = a[i][j] * (1.0 - w) + b[i][j] * w;
        }
    }
}

void writeRow(std::ostream &os, const char *prefix, const Matrix &m, int row) {
    os << prefix;
    for (int j = 0; j < m.numCols(); j++) {
        os << (j > 0 ? "\t" : "") << m[row][j];
    }
    os << std::endl;
}

} // namespace

ColorCorrection::ColorCorrection()
    : coefficients(3, 3), offsets(1, 3), gains(1, 4), temperature(6500.0), initialized(false) {
    coefficients.identity();
    gains.ones();
}

ColorCorrection::ColorCorrection(const double *ccm, const double *offs, const double *gns, double temp)
    : coefficients(3, 3, ccm), offsets(1, 3, offs), gains(1, 4, gns), temperature(temp), initialized(true) {}

ColorCorrection ColorCorrection::blend(const ColorCorrection &other, double w) const {
    ColorCorrection out;
    blendInto(other, w, out);
    return out;
}

void ColorCorrection::blendInto(const ColorCorrection &other, double w, ColorCorrection &out) const {
    blendMatrix(coefficients, other.coefficients, w, out.coefficients);
    blendMatrix(offsets, other.offsets, w, out.offsets);
    blendMatrix(gains, other.gains, w, out.gains);
    out.temperature = (1.0 - w) * temperature + w * other.temperature;
    out.initialized = true;
}

ColorCorrection ColorCorrection::operator*(double v) const {
    ColorCorrection out(*this);
    out.coefficients = coefficients * v;
    out.offsets = offsets * v;
    out.gains = gains * v;
    out.temperature = temperature * v;
    out.initialized = true;
    return out;
}

ColorCorrection ColorCorrection::operator+(const ColorCorrection &other) const {
    ColorCorrection out(*this);
    out.coefficients = coefficients + other.coefficients;
    out.offsets = offsets + other.offsets;
    out.gains = gains + other.gains;
    out.temperature = temperature + other.temperature;
    out.initialized = true;
    return out;
}

void ColorCorrection::inv() {
    coefficients.inv(coefficients);
    for (int k = 0; k < 3; k++) {
        offsets[0][k] = -offsets[0][k];
    }
    for (int k = 0; k < 4; k++) {
        gains[0][k] = 1.0 / gains[0][k];
    }
}

std::ostream &operator<<(std::ostream &os, const ColorCorrection &c) {
    os << "Temp:   \t" << c.temperature << std::endl;
    writeRow(os, "Coeffs: \t", c.coefficients, 0);
    writeRow(os, "        \t", c.coefficients, 1);
    writeRow(os, "        \t", c.coefficients, 2);
    writeRow(os, "Offsets:\t", c.offsets, 0);
    writeRow(os, "Gains:  \t", c.gains, 0);
    return os;
}

} // namespace ISPC
