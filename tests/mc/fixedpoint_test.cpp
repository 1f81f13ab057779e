#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "mc/mc_fixedpoint.h"

namespace {

struct ClipCase {
    double value;
    int intBits;
    int fractBits;
    bool isSigned;
    QOR_INT32 expected;
};

void PrintTo(const ClipCase &c, std::ostream *os) {
    *os << c.value << " as " << (c.isSigned ? "S" : "U") << c.intBits << "." << c.fractBits << " -> " << c.expected;
}

class FixClip : public ::testing::TestWithParam<ClipCase> {};

TEST_P(FixClip, RoundsAndSaturates) {
    const ClipCase &c = GetParam();
    EXPECT_EQ(QOR_Fix_Clip(c.value, c.intBits, c.fractBits, c.isSigned, "TEST"), c.expected)
        << c.value << " as " << (c.isSigned ? "S" : "U") << c.intBits << "." << c.fractBits;
}

INSTANTIATE_TEST_SUITE_P(ReferenceValues, FixClip,
                         ::testing::Values(ClipCase{2.5, 8, 0, true, 3}, ClipCase{-2.5, 8, 0, true, -3},
                                           ClipCase{-2.5, 8, 0, false, 0}, ClipCase{0.49, 0, 1, false, 1},
                                           ClipCase{1.0, 6, 10, false, 1024}, ClipCase{1023.0, 6, 2, false, 255},
                                           ClipCase{1e20, 6, 10, false, 65535}, ClipCase{4.0, 3, 9, true, 2047},
                                           ClipCase{-5.0, 3, 9, true, -2048}, ClipCase{100.7, 8, -2, false, 25},
                                           ClipCase{-100.7, 8, -2, true, -25},
                                           // beyond the 32-bit range the intermediate saturates before the field clip
                                           ClipCase{-1e20, 16, 0, true, -32768},
                                           ClipCase{1e20, 31, 0, false, 2147483647},
                                           ClipCase{std::numeric_limits<double>::quiet_NaN(), 8, 4, true, 0},
                                           // the S-1.12 gradient format: an 11-bit field
                                           ClipCase{-0.01, -1, 12, true, -41}, ClipCase{0.3, -1, 12, true, 1023}));

struct ClipIntCase {
    QOR_INT32 value;
    int nBits;
    bool isSigned;
    QOR_INT32 expected;
};

void PrintTo(const ClipIntCase &c, std::ostream *os) {
    *os << c.value << " in " << c.nBits << (c.isSigned ? " signed" : " unsigned") << " bits -> " << c.expected;
}

class IntClip : public ::testing::TestWithParam<ClipIntCase> {};

TEST_P(IntClip, LimitsToTheFieldRange) {
    const ClipIntCase &c = GetParam();
    EXPECT_EQ(QOR_clip(c.value, c.nBits, c.isSigned, "TEST"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(ReferenceValues, IntClip,
                         ::testing::Values(ClipIntCase{70000, 16, false, 65535}, ClipIntCase{-5, 16, false, 0},
                                           ClipIntCase{600, 10, true, 511}, ClipIntCase{-600, 10, true, -512},
                                           ClipIntCase{511, 10, true, 511}, ClipIntCase{-512, 10, true, -512},
                                           // a 1-bit field: -1 and 0 signed, 0 and 1 unsigned
                                           ClipIntCase{5, 1, true, 0}, ClipIntCase{-5, 1, true, -1},
                                           ClipIntCase{-1, 1, true, -1}, ClipIntCase{5, 1, false, 1},
                                           ClipIntCase{-5, 0, true, 0}));

struct RevertCase {
    QOR_INT32 reg;
    int intBits;
    int fractBits;
    bool isSigned;
    double expected;
};

void PrintTo(const RevertCase &c, std::ostream *os) {
    *os << c.reg << " as " << (c.isSigned ? "S" : "U") << c.intBits << "." << c.fractBits << " -> " << c.expected;
}

class FixRevert : public ::testing::TestWithParam<RevertCase> {};

TEST_P(FixRevert, GivesTheRealValue) {
    const RevertCase &c = GetParam();
    EXPECT_DOUBLE_EQ(QOR_Fix_Revert(c.reg, c.intBits, c.fractBits, c.isSigned, "TEST"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(ReferenceValues, FixRevert,
                         ::testing::Values(RevertCase{2048, 3, 9, true, 4.0},
                                           RevertCase{2049, 3, 9, true, -3.998046875},
                                           RevertCase{-16384, 5, 10, true, -16.0}, RevertCase{16384, 5, 10, true, 16.0},
                                           RevertCase{100, 8, -2, false, 400.0}, RevertCase{1024, 6, 10, false, 1.0}));

} // namespace
