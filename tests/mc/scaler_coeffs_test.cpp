#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "mc/mc_pipeline.h"

namespace {

struct CoeffCase {
    int taps;
    double pitch;
    std::vector<int> expected; // leading phases, phase after phase
};

void PrintTo(const CoeffCase &c, std::ostream *os) { *os << c.taps << " taps, pitch " << c.pitch; }

class ScalerCoefficients : public ::testing::TestWithParam<CoeffCase> {};

TEST_P(ScalerCoefficients, MatchReferenceTables) {
    const CoeffCase &c = GetParam();
    QOR_INT8 table[64] = {};
    QOR_CalculateScalerCoefficients(c.pitch, table, 1, static_cast<QOR_UINT8>(c.taps));
    for (size_t i = 0; i < c.expected.size(); i++) {
        EXPECT_EQ(table[i], c.expected[i]) << "entry " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ReferenceValues, ScalerCoefficients,
    ::testing::Values(CoeffCase{2, 1.0, {64, 0, 53, 11, 38, 26, 23, 41}},
                      CoeffCase{2, 2.0, {31, 33, 27, 37, 24, 40, 21, 43}},
                      CoeffCase{4, 2.0, {13, 20, 19, 12, 11, 19, 20, 14, 10, 19, 20, 15, 9, 18, 21, 16}},
                      CoeffCase{8, 2.0, {2, 7, 13, 15, 14, 9, 4, 0}},
                      CoeffCase{16, 1.0, {0, 0, 0, 0, 0, 0, 0, 64, 0, 0, 0, 0, 0, 0, 0, 0}},
                      CoeffCase{8, 1.0, {0, 0, 0, 64, 0, 0, 0, 0}}, CoeffCase{4, 1.0, {0, 64, 0, 0}}));

TEST(ScalerCoefficients, EveryPhaseSumsTo64) {
    for (int taps : {2, 4, 8, 16}) {
        for (int step = 0; step <= 31 * 8; step++) {
            const double pitch = 1.0 + step / 8.0;
            for (QOR_BOOL8 adjust : {0, 1}) {
                QOR_INT8 table[64] = {};
                QOR_CalculateScalerCoefficients(pitch, table, adjust, static_cast<QOR_UINT8>(taps));
                for (int p = 0; p < 4; p++) {
                    int sum = 0;
                    for (int k = 0; k < taps; k++) {
                        sum += table[p * taps + k];
                    }
                    ASSERT_EQ(sum, 64) << taps << " taps, pitch " << pitch << ", phase " << p;
                }
            }
        }
    }
}

TEST(ModifiedBessel, SeriesValues) {
    EXPECT_DOUBLE_EQ(QOR_ModifiedBessel(0.0, 0), 1.0);
    EXPECT_NEAR(QOR_ModifiedBessel(3.0, 0), 4.880792585865024, 1e-9);
    EXPECT_NEAR(QOR_ModifiedBessel(2.0, 1), 0.22389077914123567, 1e-9); // J0(2)
}

} // namespace
