// The colour-correction value type and the colour-temperature model: undoing a correction, interpolation,
// the calibrated locus and the three temperature estimators, including the degenerate inputs that must
// still give a finite temperature.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "ispc/ControlAWB.h"
#include "ispc/TemperatureCorrection.h"
#include "support/output_capture.h"
#include "wb_test_util.h"

using namespace ISPC;
using norva_test::stderrOf;
using norva_test::wbListOf;

namespace {

TemperatureCorrection loaded(const std::string &text) {
    TemperatureCorrection tc;
    stderrOf([&] { tc.loadParameters(wbListOf(text)); });
    return tc;
}

/** Calibration of n points: temperatures and red and blue gains. */
std::string calibration(const std::vector<std::array<double, 3>> &points) {
    std::ostringstream os;
    os << "WB_CORRECTIONS " << points.size() << "\n";
    for (size_t i = 0; i < points.size(); i++) {
        os << "WB_TEMPERATURE_" << i << " " << points[i][0] << "\n";
        os << "WB_GAINS_" << i << " " << points[i][1] << " 1 1 " << points[i][2] << "\n";
    }
    return os.str();
}

} // namespace

// The block applies out = M (gains . in) + offsets with rows of M as output channels. The matrix inverse gives
// the cofactors over the determinant untransposed, i.e. the transpose of the true inverse, and colorTransform
// multiplies by its matrix's transpose: the two together apply the true inverse, so the undo is exact and the
// inverse is kept as it is.
TEST(ColourCorrectionInverse, UndoesANonSymmetricCorrectionExactly) {
    const double ccm[9] = {1.5, -0.3, -0.2, -0.25, 1.4, -0.15, 0, -0.5, 1.5};
    const double offs[3] = {16, -8, 0};
    const double gains[4] = {2, 1, 1, 1.5};
    const ColorCorrection c(ccm, offs, gains, 3000);
    ColorCorrection inv = c;
    inv.inv();

    // M times the matrix the undo applies (the transpose of what inv() holds) is the identity
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            double s = 0;
            for (int k = 0; k < 3; k++)
                s += c.coefficients[i][k] * inv.coefficients[j][k];
            EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-12) << i << "," << j;
        }
    }

    const double in[3] = {100, 200, 300};
    const double g[3] = {gains[0], (gains[1] + gains[2]) / 2, gains[3]};
    double out[3];
    for (int i = 0; i < 3; i++) {
        out[i] = offs[i];
        for (int j = 0; j < 3; j++)
            out[i] += ccm[3 * i + j] * g[j] * in[j];
    }
    // the undo as the statistics path does it: offsets, matrix (by the transpose), gains
    double r, gg, b;
    ControlAWB::colorTransform(out[0] + inv.offsets[0][0], out[1] + inv.offsets[0][1], out[2] + inv.offsets[0][2], inv,
                               r, gg, b);
    EXPECT_NEAR(r * inv.gains[0][0], in[0], 1e-9);
    EXPECT_NEAR(gg * (inv.gains[0][1] + inv.gains[0][2]) / 2, in[1], 1e-9);
    EXPECT_NEAR(b * inv.gains[0][3], in[2], 1e-9);

    // the same through the full gamma-encoded undo (full scale 512)
    double enc[3], dec[3];
    for (int k = 0; k < 3; k++)
        enc[k] = std::pow(out[k] / 512.0, 1 / 2.2) * 512.0;
    ControlAWB::invertColorCorrection(enc[0], enc[1], enc[2], inv, dec[0], dec[1], dec[2]);
    for (int k = 0; k < 3; k++) {
        EXPECT_NEAR(std::pow(dec[k] / 512.0, 2.2) * 512.0, in[k], 1e-9) << k;
    }
}

TEST(ColourCorrectionInverse, IdentityUndoKeepsTheInput) {
    ColorCorrection id;
    id.inv();
    double r, g, b;
    ControlAWB::invertColorCorrection(100, 250, 400, id, r, g, b);
    EXPECT_NEAR(r, 100, 1e-9);
    EXPECT_NEAR(g, 250, 1e-9);
    EXPECT_NEAR(b, 400, 1e-9);
}

TEST(ColourCorrection, StreamsSixLines) {
    const double ccm[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const double offs[3] = {1, 2, 3};
    const double gains[4] = {1, 2, 3, 4};
    std::ostringstream os;
    os << ColorCorrection(ccm, offs, gains, 5000);
    EXPECT_EQ(os.str(), "Temp:   \t5000\nCoeffs: \t1\t2\t3\n        \t4\t5\t6\n        \t7\t8\t9\nOffsets:\t1\t2\t3\n"
                        "Gains:  \t1\t2\t3\t4\n");
}

TEST(TemperatureCorrectionLookup, BlendsInsideAndClampsAtTheEnds) {
    const TemperatureCorrection tc = loaded(norva_test::twoPointCalibration());
    const ColorCorrection mid = tc.getColorCorrection(4750);
    EXPECT_TRUE(mid.initialized);
    EXPECT_DOUBLE_EQ(mid.temperature, 4750);
    EXPECT_DOUBLE_EQ(mid.gains[0][0], (1.2 + 1.9) / 2);
    EXPECT_DOUBLE_EQ(mid.gains[0][3], (2.8 + 1.6) / 2);
    EXPECT_DOUBLE_EQ(mid.coefficients[0][1], (-0.3 - 0.2) / 2);
    struct Case {
        double t, expectedTemperature, redGain;
    } cases[] = {{2000, 3000, 1.2}, {3000, 3000, 1.2}, {9000, 6500, 1.9}, {6500, 6500, 1.9}};
    for (const Case &c : cases) {
        const ColorCorrection cc = tc.getColorCorrection(c.t);
        EXPECT_EQ(cc.temperature, c.expectedTemperature) << c.t;
        EXPECT_EQ(cc.gains[0][0], c.redGain) << c.t;
    }
    EXPECT_EQ(tc.getCorrectionIndex(3000), 0);
    EXPECT_EQ(tc.getCorrectionIndex(3001), -1);
}

TEST(TemperatureCorrectionLookup, OneCorrectionGivesTheIdentityAndNoLocus) {
    TemperatureCorrection tc;
    const std::string log = stderrOf([&] { tc.loadParameters(wbListOf(calibration({{{4000, 1.5, 2}}}))); });
    EXPECT_NE(log.find("Less than 2 calibration points loaded - can't approximate temperature!\n"), std::string::npos);
    EXPECT_FALSE(tc.hasCalibrationPoints());
    EXPECT_FALSE(tc.getColorCorrection(4000).initialized);
    EXPECT_EQ(tc.getColorCorrection(4000).gains[0][0], 1.0);
    EXPECT_EQ(tc.getMinGain(0), 0.5);
    EXPECT_NEAR(tc.getCorrelatedTemperature(1, 1, 1), 6503.83, 0.01); // McCamy
}

TEST(TemperatureCorrectionLookup, MissingCountKeepsTheCalibration) {
    TemperatureCorrection tc = loaded(norva_test::twoPointCalibration());
    QOR_RESULT r = QOR_RES_OK;
    const std::string log = stderrOf([&] { r = tc.loadParameters(wbListOf("WB_TEMPERATURE_0 1000\n")); });
    EXPECT_EQ(r, QOR_RES_INVALID_PARAM);
    EXPECT_NE(log.find("'WB_CORRECTIONS' not defined"), std::string::npos);
    EXPECT_EQ(tc.size(), 2);
    EXPECT_TRUE(tc.hasCalibrationPoints());
}

TEST(TemperatureCorrectionLookup, SaveAndLoadKeepTheCalibration) {
    const TemperatureCorrection tc = loaded(norva_test::twoPointCalibration());
    ParameterList saved;
    EXPECT_EQ(tc.saveParameters(saved, ModuleBase::SAVE_VAL), QOR_RES_OK);
    const TemperatureCorrection again = [&] {
        TemperatureCorrection t;
        stderrOf([&] { t.loadParameters(saved); });
        return t;
    }();
    ASSERT_EQ(again.size(), 2);
    for (unsigned i = 0; i < 2; i++) {
        const ColorCorrection a = tc.getCorrection(i), b = again.getCorrection(i);
        EXPECT_EQ(a.temperature, b.temperature);
        for (int k = 0; k < 9; k++)
            EXPECT_NEAR(a.coefficients[k / 3][k % 3], b.coefficients[k / 3][k % 3], 1e-6);
        for (int k = 0; k < 4; k++)
            EXPECT_NEAR(a.gains[0][k], b.gains[0][k], 1e-6);
    }
    ParameterList mins;
    tc.saveParameters(mins, ModuleBase::SAVE_MIN);
    EXPECT_EQ(mins.getParameter("WB_GAINS_0")->getValues(), std::vector<std::string>(4, "0.5"));
    EXPECT_EQ(mins.getParameter("WB_CORRECTIONS")->getValues(), std::vector<std::string>{"0"});
}

TEST(WhiteLocus, VerticesInterpolationAndExtrapolation) {
    // three points: 2500 K (gains 1, 3), 4000 K (1.5, 2), 6500 K (2, 1.5)
    const TemperatureCorrection tc = loaded(calibration({{{2500, 1, 3}}, {{4000, 1.5, 2}}, {{6500, 2, 1.5}}}));
    ASSERT_EQ(tc.getLines().size(), 2u);
    auto at = [&](double rGain, double bGain) {
        // a neutral under the light of those gains, scaled by the 6500 K gains
        return tc.getCorrelatedTemperature_Calibrated(2.0 / rGain, 1.0, 1.5 / bGain);
    };
    EXPECT_NEAR(at(1, 3), 2500, 1e-9);
    EXPECT_NEAR(at(1.5, 2), 4000, 1e-9);
    EXPECT_NEAR(at(2, 1.5), 6500, 1e-9);
    // beyond the open ends the locus extrapolates along its end segments
    EXPECT_LT(at(0.8, 3.6), 2500);
    EXPECT_GT(at(2.6, 1.2), 6500);

    // Outside the corner between the two segments both project onto their shared vertex.
    const LineSegment &first = tc.getLines().front();
    const double vx = first.x2, vy = first.y2;
    const double dx = first.x2 - first.x1, dy = first.y2 - first.y1;
    const LineSegment &second = tc.getLines().back();
    const double ex = second.x2 - second.x1, ey = second.y2 - second.y1;
    // a point beyond the vertex: further along the first segment and behind the start of the second
    const double cornerX = vx + 0.2 * (dx / first.length) - 0.2 * (ex / second.length);
    const double cornerY = vy + 0.2 * (dy / first.length) - 0.2 * (ey / second.length);
    EXPECT_NEAR(tc.getLines().getTemperature(cornerX, cornerY), 4000, 1e-6);
}

TEST(WhiteLocus, EstimatesExtrapolatePastTheCalibratedEnds) {
    // the calibration of the test above: the estimate is the locus reading, past the ends as well
    const TemperatureCorrection tc = loaded(calibration({{{2500, 1, 3}}, {{4000, 1.5, 2}}, {{6500, 2, 1.5}}}));
    struct Case {
        const char *name;
        double r, g, b;
        bool outside; // the reading lies outside 2500..6500
    } cases[] = {
        {"neutral at the 4000 K point", 2.0 / 1.5, 1, 1.5 / 2, false},
        {"past the cool end", 2.0 / 0.8, 1, 1.5 / 3.6, true},
        {"past the warm end", 2.0 / 2.6, 1, 1.5 / 1.2, true},
    };
    for (const Case &c : cases) {
        const double locus = tc.getCorrelatedTemperature_Calibrated(c.r, c.g, c.b);
        EXPECT_EQ(locus < 2500 || locus > 6500, c.outside) << c.name << ": " << locus;
        EXPECT_EQ(tc.getCorrelatedTemperature(c.r, c.g, c.b), locus) << c.name;
    }
}

TEST(WhiteLocus, EqualDistancesChooseTheCoolerSegment) {
    LineSegments lines;
    lines.push_back(LineSegment(0, 0, 1, 0, 3000, 4000));
    lines.push_back(LineSegment(0, 2, 1, 2, 5000, 6000));
    EXPECT_EQ(lines.getClosestLine(0.5, 1.0)->t1, 3000);
    EXPECT_EQ(lines.getClosestLine(0.5, 1.1)->t1, 5000);
}

TEST(WhiteLocus, DegenerateCalibrationsStayFinite) {
    struct Case {
        const char *name;
        std::string text;
    } cases[] = {
        {"equal unit gains", calibration({{{3000, 1, 1}}, {{6500, 1, 1}}})},
        {"equal red gains", calibration({{{3000, 1.5, 2.8}}, {{6500, 1.5, 1.6}}})},
    };
    for (const Case &c : cases) {
        TemperatureCorrection tc;
        const std::string log = stderrOf([&] { tc.loadParameters(wbListOf(c.text)); });
        EXPECT_FALSE(tc.hasCalibrationPoints()) << c.name;
        EXPECT_NE(log.find("share a red gain"), std::string::npos) << c.name;
        for (const std::array<double, 3> &rgb :
             {std::array<double, 3>{1, 1, 1}, std::array<double, 3>{0, 0, 0}, std::array<double, 3>{0, 1, 2}}) {
            EXPECT_TRUE(std::isfinite(tc.getCorrelatedTemperature(rgb[0], rgb[1], rgb[2]))) << c.name;
        }
    }
}

TEST(WhiteLocus, BlackAndNonFiniteInputsGiveFiniteTemperatures) {
    const TemperatureCorrection tc = loaded(norva_test::twoPointCalibration());
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const std::array<double, 3> inputs[] = {{0, 0, 0}, {0, 1, 1}, {1, 1, 0}, {1, 0, 1}, {inf, 1, 1}, {nan, nan, nan}};
    for (const auto &in : inputs) {
        EXPECT_TRUE(std::isfinite(tc.getCorrelatedTemperature(in[0], in[1], in[2])));
        EXPECT_TRUE(std::isfinite(TemperatureCorrection::getCorrelatedTemperature_McCamy(in[0], in[1], in[2], true)));
        EXPECT_TRUE(std::isfinite(TemperatureCorrection::getCorrelatedTemperature_sRGB(in[0], in[1], in[2])));
    }
}

namespace {
/** The sRGB transfer function inverted, so that a linear triple goes in as McCamy's method expects it. */
double srgbEncode(double v) { return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }

/** Linear sRGB of a chromaticity (Y = 1). */
std::array<double, 3> rgbOfXy(double x, double y) {
    const double X = x / y, Y = 1, Z = (1 - x - y) / y;
    // inverse of the 4-decimal sRGB matrix
    const double m[3][3] = {{0.4124, 0.3576, 0.1805}, {0.2126, 0.7152, 0.0722}, {0.0193, 0.1192, 0.9505}};
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    double inv[3][3];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            const int a = (j + 1) % 3, b = (j + 2) % 3, c = (i + 1) % 3, d = (i + 2) % 3;
            inv[i][j] = (m[a][c] * m[b][d] - m[a][d] * m[b][c]) / det;
        }
    return {inv[0][0] * X + inv[0][1] * Y + inv[0][2] * Z, inv[1][0] * X + inv[1][1] * Y + inv[1][2] * Z,
            inv[2][0] * X + inv[2][1] * Y + inv[2][2] * Z};
}

double publishedMcCamy(double x, double y) {
    const double n = (x - 0.3320) / (0.1858 - y);
    return 449 * n * n * n + 3525 * n * n + 6823.3 * n + 5520.33;
}
} // namespace

TEST(CorrelatedTemperature, McCamyReferencePoints) {
    struct Case {
        const char *name;
        double x, y, expected;
    } cases[] = {
        {"A", 0.44758, 0.40745, 2856.96}, {"D50", 0.34567, 0.35850, 5001.79}, {"D65", 0.31271, 0.32902, 6504.02}};
    for (const Case &c : cases) {
        std::array<double, 3> rgb = rgbOfXy(c.x, c.y);
        const double m = std::max(rgb[0], std::max(rgb[1], rgb[2]));
        for (double &v : rgb)
            v = srgbEncode(v / m);
        const double t = TemperatureCorrection::getCorrelatedTemperature_McCamy(rgb[0], rgb[1], rgb[2], true);
        EXPECT_NEAR(t, c.expected, 0.01) << c.name;
        EXPECT_NEAR(t, publishedMcCamy(c.x, c.y), 0.5) << c.name;
    }
    EXPECT_NEAR(TemperatureCorrection::getCorrelatedTemperature_McCamy(1, 1, 1, true), 6503.83, 0.01);
    EXPECT_NEAR(TemperatureCorrection::getCorrelatedTemperature_McCamy(2, 2, 2, true), 6503.83, 0.01);
}

TEST(CorrelatedTemperature, SrgbTableRowsCapAndOrder) {
    EXPECT_DOUBLE_EQ(TemperatureCorrection::getCorrelatedTemperature_sRGB(1, 1, 1), 6512.3);
    EXPECT_DOUBLE_EQ(TemperatureCorrection::getCorrelatedTemperature_sRGB(3, 1, 0.2), 3281.1);
    EXPECT_DOUBLE_EQ(TemperatureCorrection::getCorrelatedTemperature_sRGB(0.5, 1, 0.5), 6278.4);
    EXPECT_DOUBLE_EQ(TemperatureCorrection::getCorrelatedTemperature_sRGB(0.5, 1, 2.0), 12500);
    const double(&T)[16][16] = TemperatureCorrection::correlatedTemperature();
    for (int i = 0; i < 16; i++) {
        for (int j = 0; j < 16; j++) {
            EXPECT_LE(T[i][j], 12500.0);
            if (j > 0) {
                EXPECT_GE(T[i][j], T[i][j - 1]) << i << "," << j;
            }
            if (i > 0) {
                EXPECT_LE(T[i][j], T[i - 1][j]) << i << "," << j;
            }
        }
    }
}
