#include "ispc/Matrix.h"

#include <cmath>

#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "ISPC_MATRIX";
} // namespace

namespace ISPC {

Matrix::Matrix(int _rows, int _cols) : rows(_rows), cols(_cols), matrixState(NOT_INITIALIZED) {
    if (rows < 1 || cols < 1) {
        QOR_LOG_ERROR(kTag, "Invalid dimensions for matrix\n");
        matrixState = INVALID;
        return;
    }
    coefficients.assign(static_cast<size_t>(rows), std::vector<double>(static_cast<size_t>(cols), 0.0));
    matrixState = VALID;
}

Matrix::Matrix(int _rows, int _cols, const double *pValues) : Matrix(_rows, _cols) {
    if (matrixState != VALID || pValues == nullptr) {
        return;
    }
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < cols; c++) {
            coefficients[r][c] = pValues[static_cast<size_t>(r) * cols + c];
        }
    }
}

namespace {
// Row handed out when a matrix without coefficients is indexed; emptied on every use.
thread_local std::vector<double> g_noRow;
} // namespace

std::vector<double> &Matrix::operator[](int index) {
    if (index >= 0 && index < rows && static_cast<size_t>(index) < coefficients.size()) {
        return coefficients[index];
    }
    QOR_LOG_ERROR(kTag, "invalid row!!! return last row\n");
    if (coefficients.empty()) {
        g_noRow.clear();
        return g_noRow;
    }
    return coefficients.back();
}

const std::vector<double> &Matrix::operator[](int index) const { return const_cast<Matrix &>(*this)[index]; }

template <class Op> Matrix &Matrix::eachCoefficient(Op op) {
    for (auto &row : coefficients) {
        for (double &c : row)
            op(c);
    }
    return *this;
}

void Matrix::fill(double value, const char *function) {
    if (matrixState == INVALID) {
        LOG_Error(function, __LINE__, kTag, "Invalid matrix state\n");
        return;
    }
    eachCoefficient([value](double &c) { c = value; });
}

void Matrix::zeros() { fill(0.0, __func__); }

void Matrix::ones() { fill(1.0, __func__); }

void Matrix::identity() {
    if (matrixState == INVALID) {
        QOR_LOG_ERROR(kTag, "Invalid matrix state\n");
        return;
    }
    if (rows != cols) {
        QOR_LOG_WARNING(kTag, "Matrix is not square.\n");
    }
    const int n = rows < cols ? rows : cols;
    for (int i = 0; i < n; i++) {
        coefficients[i][i] = 1.0;
    }
}

Matrix &Matrix::applyMin(double value) {
    return eachCoefficient([value](double &c) { c = value < c ? value : c; });
}

Matrix &Matrix::applyMax(double value) {
    return eachCoefficient([value](double &c) { c = c < value ? value : c; });
}

Matrix &Matrix::normaliseSum() {
    const double s = sum();
    if (s != 0.0) {
        eachCoefficient([s](double &c) { c /= s; });
    }
    return *this;
}

Matrix &Matrix::normaliseMax() {
    // A matrix without coefficients has no maximum; it stays as it is.
    if (coefficients.empty()) {
        return *this;
    }
    const double m = max();
    if (m != 0.0) {
        eachCoefficient([m](double &c) { c /= m; });
    }
    return *this;
}

double Matrix::sum() const {
    double s = 0.0;
    for (const auto &row : coefficients) {
        for (double c : row)
            s += c;
    }
    return s;
}

namespace {
// The coefficient no later one beats, the first of equals; 0 without coefficients.
template <class Beats> double extreme(const std::vector<std::vector<double>> &coefficients, Beats beats) {
    if (coefficients.empty()) {
        return 0.0;
    }
    double m = coefficients[0][0];
    for (const auto &row : coefficients) {
        for (double c : row) {
            if (beats(c, m))
                m = c;
        }
    }
    return m;
}
} // namespace

double Matrix::max() const {
    return extreme(coefficients, [](double c, double m) { return c > m; });
}

double Matrix::min() const {
    return extreme(coefficients, [](double c, double m) { return c < m; });
}

template <class Op> Matrix Matrix::elementwise(Op op) const {
    Matrix result(rows, cols);
    if (matrixState != VALID) {
        QOR_LOG_ERROR(kTag, "Invalid matrix state\n");
        return result;
    }
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < cols; c++) {
            result.coefficients[r][c] = op(r, c);
        }
    }
    return result;
}

template <class Op> Matrix Matrix::combine(const Matrix &o, const char *function, Op op) const {
    if (matrixState != VALID || o.matrixState != VALID) {
        Matrix result(rows, cols);
        LOG_Error(function, __LINE__, kTag, "Invalid matrix state\n");
        return result;
    }
    if (rows != o.rows || cols != o.cols) {
        Matrix result(rows, cols);
        LOG_Error(function, __LINE__, kTag, "unable to add matrices with different dimensions (%dx%d) and (%dx%d)\n",
                  rows, cols, o.rows, o.cols);
        return result;
    }
    return elementwise([&](int r, int c) { return op(coefficients[r][c], o.coefficients[r][c]); });
}

Matrix Matrix::operator+(const Matrix &o) const {
    return combine(o, __func__, [](double a, double b) { return a + b; });
}

Matrix Matrix::operator-(const Matrix &o) const {
    return combine(o, __func__, [](double a, double b) { return a - b; });
}

Matrix Matrix::operator+(double value) const {
    return elementwise([&](int r, int c) { return coefficients[r][c] + value; });
}

Matrix Matrix::operator*(double value) const {
    return elementwise([&](int r, int c) { return coefficients[r][c] * value; });
}

Matrix Matrix::operator/(double value) const {
    return elementwise([&](int r, int c) { return coefficients[r][c] / value; });
}

Matrix Matrix::power(double value) const {
    return elementwise([&](int r, int c) { return std::pow(coefficients[r][c], value); });
}

Matrix Matrix::blend(const Matrix &o, double blending) const {
    if (!(blending >= 0.0 && blending <= 1.0)) {
        Matrix result(rows, cols);
        QOR_LOG_ERROR(kTag, "Blending value must be between 0.0 and 1.0 (received:%f)\n", blending);
        return result;
    }
    if (matrixState != VALID || o.matrixState != VALID) {
        Matrix result(rows, cols);
        QOR_LOG_ERROR(kTag, "Invalid matrix state\n");
        return result;
    }
    if (rows != o.rows || cols != o.cols) {
        Matrix result(rows, cols);
        QOR_LOG_ERROR(kTag, "Unable to add matrices with different dimensions (%dx%d) and (%dx%d)\n", rows, cols,
                      o.rows, o.cols);
        return result;
    }
    return elementwise(
        [&](int r, int c) { return o.coefficients[r][c] * blending + (1.0 - blending) * coefficients[r][c]; });
}

Matrix Matrix::inv() const {
    if (matrixState != VALID) {
        Matrix result(rows, cols);
        QOR_LOG_ERROR(kTag, "Invalid matrix state\n");
        return result;
    }
    if (rows != 3 || cols != 3) {
        Matrix result(rows, cols);
        QOR_LOG_ERROR(kTag, "Inverse matrix only implemented for 3x3 matrices (current matrix %dx%d)\n", rows, cols);
        return result;
    }
    Matrix result(3, 3);
    inv(result);
    return result;
}

bool Matrix::inv(Matrix &result) const {
    if (matrixState != VALID || rows != 3 || cols != 3 || result.matrixState != VALID || result.rows != 3 ||
        result.cols != 3) {
        QOR_LOG_ERROR(kTag, "Inverse matrix only implemented for 3x3 matrices (current matrix %dx%d)\n", rows, cols);
        return false;
    }
    const auto &a = coefficients;
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    auto &r = result.coefficients;
    if (det == 0.0) {
        QOR_LOG_ERROR(kTag, "Determinant == 0, no inverse can be computed.\n");
        for (auto &row : r) {
            for (double &c : row)
                c = 0.0;
        }
        return false;
    }
    const double f = 1.0 / det;
    double t[3][3];
    t[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) * f;
    t[0][1] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) * f;
    t[0][2] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) * f;
    t[1][0] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * f;
    t[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * f;
    t[1][2] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * f;
    t[2][0] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * f;
    t[2][1] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * f;
    t[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * f;
    // computed aside first: result may be this matrix
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++)
            r[i][j] = t[i][j];
    }
    return true;
}

void Matrix::plotAsHistogram(const Matrix &histogram, std::ostream &os, char symbol) {
    const int n = histogram.numCols();
    const std::vector<double> *row0 = histogram.coefficients.empty() ? nullptr : &histogram.coefficients[0];
    auto value = [&](int j) { return row0 != nullptr ? (*row0)[j] : 0.0; };

    os << "Histogram:" << std::endl;
    os << ' ';
    for (int j = 0; j < n; j++) {
        os << (value(j) > 1.0 ? '#' : ' ');
    }
    os << std::endl;
    const double step = 1.0 / 14.0;
    for (int b = 1; b <= 14; b++) {
        const double threshold = std::fma(-static_cast<double>(b), step, 1.0);
        os << ' ';
        for (int j = 0; j < n; j++) {
            os << (value(j) > threshold ? symbol : ' ');
        }
        os << std::endl;
    }
    os << '<';
    for (int j = 0; j <= n; j++) {
        os << (j % 8 == 0 ? '|' : '_');
    }
    os << '>' << std::endl;
}

std::ostream &operator<<(std::ostream &os, const Matrix &m) {
    for (int r = 0; r < m.numRows() && m.getState() == Matrix::VALID; r++) {
        for (int c = 0; c < m.numCols(); c++) {
            os << ' ' << m[r][c];
        }
        os << std::endl;
    }
    return os;
}

} // namespace ISPC
