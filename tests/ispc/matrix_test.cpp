// Matrix arithmetic: construction, in-place operations, reductions, arithmetic and its failures,
// the 3x3 cofactor inverse and the text histogram.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

#include "ispc/Matrix.h"

using ISPC::Matrix;

namespace {

std::vector<std::vector<double>> rowsOf(const Matrix &m) {
    std::vector<std::vector<double>> r;
    for (int i = 0; i < m.numRows() && m.getState() == Matrix::VALID; i++)
        r.push_back(m[i]);
    return r;
}

Matrix make(int rows, int cols, std::initializer_list<double> v) {
    std::vector<double> values(v);
    return Matrix(rows, cols, values.data());
}

std::string captureErrors(const std::function<void()> &f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

bool logged(const std::string &log, const std::string &message) {
    return log.find("[ISPC_MATRIX]") != std::string::npos && log.find(message) != std::string::npos;
}

} // namespace

TEST(Matrix, Construction) {
    Matrix z(2, 3);
    EXPECT_EQ(z.getState(), Matrix::VALID);
    EXPECT_EQ(rowsOf(z), (std::vector<std::vector<double>>{{0, 0, 0}, {0, 0, 0}}));
    EXPECT_EQ(rowsOf(make(2, 2, {1, 2, 3, 4})), (std::vector<std::vector<double>>{{1, 2}, {3, 4}}));

    std::string log = captureErrors([] {
        Matrix bad(0, 3);
        EXPECT_EQ(bad.getState(), Matrix::INVALID);
        EXPECT_EQ(bad.numRows(), 0);
        EXPECT_EQ(bad.numCols(), 3);
        bad.ones();
    });
    EXPECT_TRUE(logged(log, "Invalid dimensions for matrix\n")) << log;
    EXPECT_TRUE(logged(log, "Invalid matrix state\n")) << log;
}

TEST(Matrix, InPlaceOperations) {
    Matrix m(2, 3);
    m.ones();
    EXPECT_EQ(m.sum(), 6.0);
    m.zeros();
    m.identity();
    EXPECT_EQ(rowsOf(m), (std::vector<std::vector<double>>{{1, 0, 0}, {0, 1, 0}}));

    Matrix a = make(1, 2, {0.5, 2.0});
    a.applyMin(1.0);
    EXPECT_EQ(rowsOf(a), (std::vector<std::vector<double>>{{0.5, 1.0}}));
    Matrix b = make(1, 2, {0.5, 2.0});
    b.applyMax(1.0);
    EXPECT_EQ(rowsOf(b), (std::vector<std::vector<double>>{{1.0, 2.0}}));

    Matrix s = make(1, 2, {1, 3});
    s.normaliseSum();
    EXPECT_EQ(rowsOf(s), (std::vector<std::vector<double>>{{0.25, 0.75}}));
    Matrix zero(1, 2);
    zero.normaliseSum();
    EXPECT_EQ(rowsOf(zero), (std::vector<std::vector<double>>{{0, 0}}));
    Matrix neg = make(1, 2, {-4, -2});
    neg.normaliseMax();
    EXPECT_EQ(rowsOf(neg), (std::vector<std::vector<double>>{{2, 1}}));
}

TEST(Matrix, Reductions) {
    const Matrix m = make(2, 2, {3, -1, 7, 2});
    EXPECT_EQ(m.sum(), 11.0);
    EXPECT_EQ(m.max(), 7.0);
    EXPECT_EQ(m.min(), -1.0);
    const Matrix n = make(1, 3, {1, NAN, 2});
    EXPECT_EQ(n.max(), 2.0);
    EXPECT_EQ(n.min(), 1.0);
}

TEST(Matrix, Arithmetic) {
    const Matrix a = make(1, 2, {1, 2});
    const Matrix b = make(1, 2, {3, 5});
    EXPECT_EQ(rowsOf(a + b), (std::vector<std::vector<double>>{{4, 7}}));
    EXPECT_EQ(rowsOf(b - a), (std::vector<std::vector<double>>{{2, 3}}));
    EXPECT_EQ(rowsOf(a + 1.5), (std::vector<std::vector<double>>{{2.5, 3.5}}));
    EXPECT_EQ(rowsOf(a * 3.0), (std::vector<std::vector<double>>{{3, 6}}));
    EXPECT_EQ(rowsOf(a / 2.0), (std::vector<std::vector<double>>{{0.5, 1}}));
    EXPECT_EQ(rowsOf(b.power(2.0)), (std::vector<std::vector<double>>{{9, 25}}));
    EXPECT_EQ(rowsOf(a.blend(b, 0.0)), rowsOf(a));
    EXPECT_EQ(rowsOf(a.blend(b, 0.5)), (std::vector<std::vector<double>>{{2, 3.5}}));
}

TEST(Matrix, FailuresLogAndGiveZeros) {
    const Matrix a23(2, 3);
    const Matrix a32 = make(3, 2, {1, 1, 1, 1, 1, 1});
    const Matrix one = make(1, 2, {1, 2});
    const struct {
        const char *what;
        std::function<Matrix()> op;
        std::string message;
        int rows, cols;
    } cases[] = {
        {"add dimensions", [&] { return a23 + a32; },
         "unable to add matrices with different dimensions (2x3) and (3x2)\n", 2, 3},
        {"subtract dimensions", [&] { return a32 - a23; },
         "unable to add matrices with different dimensions (3x2) and (2x3)\n", 3, 2},
        {"blend out of range", [&] { return one.blend(one, 1.5); },
         "Blending value must be between 0.0 and 1.0 (received:1.500000)\n", 1, 2},
        {"blend dimensions", [&] { return a23.blend(a32, 0.5); },
         "Unable to add matrices with different dimensions (2x3) and (3x2)\n", 2, 3},
        {"inverse not 3x3",
         [&] {
             return make(2, 2, {1, 2, 3, 4}).inv();
         },
         "Inverse matrix only implemented for 3x3 matrices (current matrix 2x2)\n", 2, 2},
        {"inverse singular",
         [&] {
             return make(3, 3, {1, 2, 3, 2, 4, 6, 0, 0, 1}).inv();
         },
         "Determinant == 0, no inverse can be computed.\n", 3, 3},
    };
    for (const auto &c : cases) {
        Matrix result(1, 1);
        const std::string log = captureErrors([&] { result = c.op(); });
        EXPECT_TRUE(logged(log, c.message)) << c.what << ": " << log;
        EXPECT_EQ(result.numRows(), c.rows) << c.what;
        EXPECT_EQ(result.numCols(), c.cols) << c.what;
        EXPECT_EQ(result.sum(), 0.0) << c.what;
        EXPECT_EQ(result.getState(), Matrix::VALID) << c.what;
    }
    const std::string log = captureErrors([] {
        const Matrix bad(0, 2);
        EXPECT_EQ((bad * 2.0).getState(), Matrix::INVALID);
    });
    EXPECT_TRUE(logged(log, "Invalid matrix state\n")) << log;
}

TEST(Matrix, InverseIsTheCofactorMatrixOverTheDeterminant) {
    EXPECT_EQ(rowsOf(make(3, 3, {2, 0, 0, 0, 4, 0, 0, 0, 8}).inv()),
              (std::vector<std::vector<double>>{{0.5, 0, 0}, {0, 0.25, 0}, {0, 0, 0.125}}));
    // Not transposed: for this non-symmetric matrix the result is the transpose of the true inverse
    // (whose row 0 is (1, -2, 0)). The colour-correction code is written against this result.
    EXPECT_EQ(rowsOf(make(3, 3, {1, 2, 0, 0, 1, 0, 0, 0, 1}).inv()),
              (std::vector<std::vector<double>>{{1, 0, 0}, {-2, 1, 0}, {0, 0, 1}}));
}

TEST(Matrix, RowAccessFallsBackToTheLastRow) {
    Matrix m = make(3, 1, {1, 2, 3});
    std::string log = captureErrors([&] { EXPECT_EQ(m[5][0], 3.0); });
    EXPECT_TRUE(logged(log, "invalid row!!! return last row\n")) << log;
    log = captureErrors([&] { EXPECT_EQ(m[-1][0], 3.0); });
    EXPECT_TRUE(logged(log, "invalid row!!! return last row\n")) << log;
    log = captureErrors([] {
        Matrix bad(2, 0);
        EXPECT_TRUE(bad[0].empty());
    });
}

TEST(Matrix, PlotAsHistogram) {
    std::ostringstream os;
    Matrix::plotAsHistogram(make(1, 4, {0, 0.5, 1.0, 1.2}), os, '*');
    std::string expected = "Histogram:\n    #\n";
    for (int b = 1; b <= 14; b++) {
        expected += std::string(" ") + ' ' + (b >= 8 ? '*' : ' ') + "**\n";
    }
    expected += "<|____>\n";
    EXPECT_EQ(os.str(), expected);
}

TEST(Matrix, StreamOutput) {
    std::ostringstream os;
    os << make(2, 2, {1, 2.5, -3, 4});
    EXPECT_EQ(os.str(), " 1 2.5\n -3 4\n");
}
