// The encoder statistics, the lateral chromatic aberration and the black-body filter of the auto-white-balance
// statistics of the image model, on small synthetic frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <vector>

#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"

namespace L = norva_sim::stats_layout;

namespace {

uint32_t rd32(const uint8_t *p, size_t o) {
    return p[o] | (p[o + 1] << 8) | (p[o + 2] << 16) | (uint32_t(p[o + 3]) << 24);
}

/** A 10-bit RGGB frame through the neutral registers of its size. */
struct Rig {
    uint32_t W, H;
    CI_PIPELINE reg{};
    CI_PIPE_INFO info{};
    CI_MODULE_GMA_LUT gamma{};
    std::vector<uint16_t> samples;
    std::vector<uint8_t> enc, hdr, stats, ens;
    norva_sim::IspModel model;

    Rig(uint32_t w, uint32_t h) : W(w), H(h), samples(size_t(w) * h, 0) {
        norva_sim::IspNeutralSettings(W, H, &reg, &info);
        gamma = norva_sim::DefaultDescription().sGammaLUT;
    }
    void set(uint32_t x, uint32_t y, uint32_t v) { samples[size_t(y) * W + x] = static_cast<uint16_t>(v); }

    QOR_RESULT run() {
        reg.config = info.config;
        norva_sim::IspInputFrame in;
        in.samples = samples.data();
        in.width = W;
        in.height = H;
        in.bitDepth = 10;
        norva_sim::IspFrameSettings s;
        s.registers = &reg;
        s.info = &info;
        s.gamma = &gamma;
        norva_sim::IspFrameOutputs out;
        stats.assign(norva_sim::kIspStatsSize, 0);
        out.statistics = stats.data();
        if (info.config.eEncType.eFmt != PXL_NONE) {
            enc.assign(size_t(W) * H * 2, 0);
            out.encoder.data = enc.data();
            out.encoder.size = enc.size();
            out.encoder.stride = W;
            out.encoder.chromaStride = W;
        }
        if (info.config.eHDRExtType.eFmt != PXL_NONE) {
            hdr.assign(size_t(W) * H * 4, 0);
            out.hdrExtraction.data = hdr.data();
            out.hdrExtraction.size = hdr.size();
            out.hdrExtraction.stride = W * 4;
        }
        if (!ens.empty()) {
            out.ensOutput = ens.data();
            out.ensOutputSize = ens.size();
        }
        return model.process(in, s, out);
    }
};

// ---- encoder statistics

struct EnsCase {
    const char *name;
    bool enabled;
    uint8_t log2Couples, subExp;
    size_t areaEntries;
    uint32_t regions; /* entries written */
};

std::ostream &operator<<(std::ostream &os, const EnsCase &c) { return os << c.name; }

class EncoderStatistics : public ::testing::TestWithParam<EnsCase> {};

TEST_P(EncoderStatistics, CountersAndEntropyPerRegionOfEncoderLines) {
    const EnsCase &c = GetParam();
    Rig rig(64, 48);
    for (uint32_t y = 0; y < rig.H; y++) {
        for (uint32_t x = 0; x < rig.W; x++) {
            rig.set(x, y, (x * 37 + y * 91 + (x * y) % 13 * 29) % 1024);
        }
    }
    rig.info.config.eEncType.eFmt = YUV_420_PL12_8;
    if (c.enabled) {
        rig.info.config.eOutputConfig |= CI_SAVE_ENS;
    }
    rig.reg.stats.sEncStats.ui8Log2NCouples = c.log2Couples;
    rig.reg.stats.sEncStats.ui8SubExp = c.subExp;
    rig.ens.assign(8 * c.areaEntries + 4, 0xAB);
    ASSERT_EQ(rig.run(), QOR_RES_OK);

    // recomputed from the encoder's luma plane: couples (2k, 2k + 1), one in 2^subExp, bit length of |difference|
    const uint32_t lines = 8u << c.log2Couples;
    for (uint32_t r = 0; r < c.regions; r++) {
        uint32_t count = 0, bits = 0;
        for (uint32_t y = r * lines; y < std::min(rig.H, (r + 1) * lines); y++) {
            for (uint32_t x = 0; x + 1 < rig.W; x += 2u << c.subExp) {
                const int d = std::abs(int(rig.enc[y * rig.W + x]) - int(rig.enc[y * rig.W + x + 1]));
                bits += d == 0 ? 0 : unsigned(std::floor(std::log2(d))) + 1;
                count++;
            }
        }
        EXPECT_EQ(rd32(rig.ens.data(), 8 * r), count) << "region " << r;
        EXPECT_EQ(rd32(rig.ens.data(), 8 * r + 4), bits) << "region " << r;
        EXPECT_GT(bits, 0u) << "region " << r;
    }
    for (size_t i = 8 * c.regions; i < rig.ens.size(); i++) {
        ASSERT_EQ(rig.ens[i], 0) << "byte " << i << " past the entries";
    }
}

INSTANTIATE_TEST_SUITE_P(IspModel, EncoderStatistics,
                         ::testing::Values(EnsCase{"EightLines", true, 0, 0, 6, 6},
                                           EnsCase{"SixteenLinesOneCoupleInFour", true, 1, 2, 8, 3},
                                           EnsCase{"LastRegionShort", true, 2, 0, 2, 2},
                                           EnsCase{"RegionsPastTheAreaDropped", true, 0, 1, 4, 4},
                                           EnsCase{"DisabledAreaZeroed", false, 0, 0, 6, 0}),
                         [](const ::testing::TestParamInfo<EnsCase> &i) { return std::string(i.param.name); });

// ---- lateral chromatic aberration

/** A bright bar over the middle of a 384 × 32 window, red and blue magnified about the centre by 1 ± 1 %. */
struct AberrationRig : Rig {
    static constexpr double kCentre = 192.0, kHalf = 150.0, kMagnify = 0.01;

    AberrationRig() : Rig(384, 32) {
        auto bar = [](double t) {
            // edges 8 pixels wide at kCentre ± kHalf, 100 outside and 900 inside
            const double inside = std::min(std::max((kHalf - std::fabs(t - kCentre)) / 8.0 + 0.5, 0.0), 1.0);
            return 100.0 + 800.0 * inside;
        };
        for (uint32_t y = 0; y < H; y++) {
            for (uint32_t x = 0; x < W; x++) {
                const bool red = (x % 2 == 0) && (y % 2 == 0), blue = (x % 2 == 1) && (y % 2 == 1);
                const double m = red ? 1.0 + kMagnify : (blue ? 1.0 - kMagnify : 1.0);
                set(x, y, uint32_t(std::lround(bar(kCentre + (x - kCentre) / m))));
            }
        }
        info.config.eHDRExtType.eFmt = BGR_101010_32;
    }

    /** Sub-pixel position of the left and right edges of channel c (0 R, 1 G, 2 B) in the middle row. */
    std::pair<double, double> edges(int c) const {
        std::vector<double> v(W);
        for (uint32_t x = 0; x < W; x++) {
            const uint32_t w = rd32(hdr.data(), (size_t(H / 2) * W + x) * 4);
            v[x] = double((w >> (20 - 10 * c)) & 1023u);
        }
        const double mid = (*std::min_element(v.begin(), v.end()) + *std::max_element(v.begin(), v.end())) / 2;
        double left = -1, right = -1;
        for (uint32_t x = 0; x + 1 < W; x++) {
            if (left < 0 && v[x] < mid && v[x + 1] >= mid) {
                left = x + (mid - v[x]) / (v[x + 1] - v[x]);
            }
            if (v[x] >= mid && v[x + 1] < mid) {
                right = x + (v[x] - mid) / (v[x] - v[x + 1]);
            }
        }
        return {left, right};
    }
};

TEST(IspModelAberration, MatchingPolynomialsRealignRedAndBlueOnGreen) {
    AberrationRig rig;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    const auto g = rig.edges(1);
    // uncorrected: red 1.5 pixels outside green at each edge, blue 1.5 inside
    EXPECT_GT(rig.edges(0).second - g.second, 1.0);
    EXPECT_GT(g.first - rig.edges(0).first, 1.0);
    EXPECT_GT(g.second - rig.edges(2).second, 1.0);

    // displacement 0.01 × (x − centre) pixels: a1 / 128 × (x − centre) / 1024, a1 = 0.01 × 2^17
    CI_MODULE_LCA &l = rig.reg.sChromaAberration;
    l.aCoeffRed[1][0] = static_cast<QOR_INT16>(std::lround(AberrationRig::kMagnify * 131072));
    l.aCoeffBlue[1][0] = static_cast<QOR_INT16>(-std::lround(AberrationRig::kMagnify * 131072));
    l.aOffsetRed[0] = l.aOffsetBlue[0] = 192;
    l.aOffsetRed[1] = l.aOffsetBlue[1] = 16;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    const auto g2 = rig.edges(1);
    for (int c : {0, 2}) {
        SCOPED_TRACE(c == 0 ? "red" : "blue");
        EXPECT_LT(std::fabs(rig.edges(c).first - g2.first), 0.5);
        EXPECT_LT(std::fabs(rig.edges(c).second - g2.second), 0.5);
    }
}

TEST(IspModelAberration, ZeroCoefficientsAreBitIdenticalAndAConstantTermShifts) {
    AberrationRig rig;
    rig.info.config.eEncType.eFmt = YUV_420_PL12_8;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    const std::vector<uint8_t> enc = rig.enc, hdr = rig.hdr, stats = rig.stats;
    const auto red = rig.edges(0);

    CI_MODULE_LCA &l = rig.reg.sChromaAberration;
    l.aOffsetRed[0] = 17, l.aOffsetRed[1] = 5, l.aOffsetBlue[0] = 300, l.aShift[0] = 3, l.aDec[1] = 4;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_EQ(rig.enc, enc);
    EXPECT_EQ(rig.hdr, hdr);
    EXPECT_EQ(rig.stats, stats);

    // a constant term of 2 pixels samples red 2 pixels to the right: its edges move 2 pixels left
    l.aCoeffRed[0][0] = 256;
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    EXPECT_NEAR(rig.edges(0).first, red.first - 2.0, 0.25);
    EXPECT_NEAR(rig.edges(0).second, red.second - 2.0, 0.25);
}

// ---- auto-white-balance black-body filter

struct AwsCase {
    const char *name;
    int16_t qeR;       /* S8.5 */
    uint16_t bbDist;   /* U7.5 */
    int16_t boundary;  /* S5.10 of the one line */
    bool line;         /* the curve holds the line, else it is all 0 */
    bool grey, redder; /* which patch counts */
};

std::ostream &operator<<(std::ostream &os, const AwsCase &c) { return os << c.name; }

class BlackBodyFilter : public ::testing::TestWithParam<AwsCase> {};

TEST_P(BlackBodyFilter, CellsFarFromTheCurveLineDoNotCount) {
    const AwsCase &c = GetParam();
    // left half grey, right half with red 2^0.5 times green; one AWS tile per half
    Rig rig(64, 16);
    for (uint32_t y = 0; y < rig.H; y++) {
        for (uint32_t x = 0; x < rig.W; x++) {
            const bool red = x % 2 == 0 && y % 2 == 0;
            rig.set(x, y, red && x >= 32 ? 566 : 400);
        }
    }
    CI_MODULE_AWS &a = rig.reg.stats.sAutoWhiteBalanceStats;
    a.ui16GridTileWidth = 15; /* 16 cells */
    a.ui16GridTileHeight = 7;
    a.ui16Log2_R_Qeff = static_cast<QOR_UINT16>(c.qeR & 0x1FFF);
    a.ui16BbDist = c.bbDist;
    if (c.line) {
        // log2(R/G) − 0.5 = 0, from the boundary on
        CI_AWS_CURVE_COEFFS &k = rig.info.sAWSCurveCoeffs;
        k.aCurveCoeffX[0] = 1024;
        k.aCurveOffset[0] = -512;
        k.aCurveBoundary[0] = c.boundary;
        for (int i = 1; i < 5; i++) {
            k.aCurveBoundary[i] = 32767; /* slots without a line apply nowhere */
        }
    }
    ASSERT_EQ(rig.run(), QOR_RES_OK);
    const uint32_t cells = 16 * 8;
    EXPECT_EQ(rd32(rig.stats.data(), L::kAwsGrid + 12) & 0x3FFFFFu, c.grey ? cells : 0u);
    EXPECT_EQ(rd32(rig.stats.data(), L::kAwsGrid + 16 + 12) & 0x3FFFFFu, c.redder ? cells : 0u);
}

INSTANTIATE_TEST_SUITE_P(IspModel, BlackBodyFilter,
                         ::testing::Values(AwsCase{"NoCurve", 0, 0, 0, false, true, true},
                                           AwsCase{"LineThroughTheRedderPatch", 0, 8, -16384, true, false, true},
                                           AwsCase{"QeOffsetMovesTheGreyOntoTheLine", 16, 8, -16384, true, true, false},
                                           AwsCase{"NegativeQeOffset", -16, 8, -16384, true, false, false},
                                           AwsCase{"WideDistance", 0, 4095, -16384, true, true, true},
                                           AwsCase{"BoundaryAboveEveryCell", 0, 8, 2048, true, true, true}),
                         [](const ::testing::TestParamInfo<AwsCase> &i) { return std::string(i.param.name); });

} // namespace
