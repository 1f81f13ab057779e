#ifndef ISPC_MATRIX_H
#define ISPC_MATRIX_H

#include <ostream>
#include <vector>

namespace ISPC {

/**
 * A small dense matrix of doubles with a validity state. Errors never stop the caller: they are
 * logged under "ISPC_MATRIX" and the operation returns zeros or leaves the matrix unchanged.
 */
class Matrix {
public:
    enum state { INVALID = 0, NOT_INITIALIZED = 1, VALID = 2 };

    Matrix(int rows, int cols);
    /** Row by row from pValues (rows x cols values read). */
    Matrix(int rows, int cols, const double *pValues);

    int numRows() const { return rows; }
    int numCols() const { return cols; }
    state getState() const { return matrixState; }

    /** Row index, or the last row (with an error logged) when index is out of range. */
    std::vector<double> &operator[](int index);
    const std::vector<double> &operator[](int index) const;

    void zeros();
    void ones();
    /** 1.0 on the first min(rows, cols) diagonal places; other coefficients unchanged. */
    void identity();
    /** Every coefficient becomes min(c, value). */
    Matrix &applyMin(double value);
    /** Every coefficient becomes max(c, value). */
    Matrix &applyMax(double value);
    Matrix &normaliseSum();
    Matrix &normaliseMax();

    double sum() const;
    double max() const;
    double min() const;

    Matrix operator+(const Matrix &otherMatrix) const;
    Matrix operator-(const Matrix &otherMatrix) const;
    Matrix operator+(double value) const;
    Matrix operator*(double value) const;
    Matrix operator/(double value) const;
    Matrix power(double value) const;
    /** other x blending + (1 - blending) x this. */
    Matrix blend(const Matrix &otherMatrix, double blending) const;
    /**
     * 3x3 only: each cofactor divided by the determinant, in the cofactor's own place (not
     * transposed). This is the inverse only for symmetric matrices; the colour-correction code relies
     * on exactly this result.
     */
    Matrix inv() const;
    /**
     * The same into result, a valid 3x3 matrix whose storage is reused (no allocation): false, result
     * zeroed and the error logged, when there is no inverse.
     */
    bool inv(Matrix &result) const;

    /** Row 0 as a text bar chart of 14 steps of 1/14 under an overflow line. */
    static void plotAsHistogram(const Matrix &histogram, std::ostream &os, char symbol);

private:
    std::vector<std::vector<double>> coefficients;
    int rows;
    int cols;
    state matrixState;

    template <class Op> Matrix elementwise(Op op) const;
    /** Every coefficient set to value; an invalid matrix is left as it is, logged under function. */
    void fill(double value, const char *function);
    /** op applied to every coefficient in place. */
    template <class Op> Matrix &eachCoefficient(Op op);
    /** elementwise on two valid matrices of the same size, else an empty result logged under function. */
    template <class Op> Matrix combine(const Matrix &o, const char *function, Op op) const;
};

std::ostream &operator<<(std::ostream &os, const Matrix &m);

} // namespace ISPC

#endif /* ISPC_MATRIX_H */
