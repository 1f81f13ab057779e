#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "mc/mc_lsh.h"
#include "mc_test_support.h"
#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "support/output_capture.h"

namespace {

struct Grid {
    LSH_GRID g{};
    Grid(uint16_t w, uint16_t h, uint16_t tile = 16, float value = 1.0f) {
        EXPECT_EQ(LSH_AllocateMatrix(&g, w, h, tile), QOR_RES_OK);
        for (int c = 0; c < 4; c++) {
            for (size_t i = 0; i < size_t(w) * h; i++) {
                g.apMatrix[c][i] = value;
            }
        }
    }
    ~Grid() { LSH_Free(&g); }
    float &at(int c, unsigned x, unsigned y) { return g.apMatrix[c][size_t(y) * g.ui16Width + x]; }
};

/** A matrix buffer of the size the grid needs at b bits (or a given size). */
struct Matrix {
    std::vector<uint8_t> mem;
    CI_LSHMAT m{};
    explicit Matrix(size_t size) : mem(size, 0xA5) {
        m.data = mem.data();
        m.ui32Size = uint32_t(size);
    }
};

/** Difference x of a packed line, read back bit by bit (independent of the packer's accumulator). */
int32_t Diff(const uint8_t *line, unsigned bits, unsigned x) {
    uint32_t d = 0;
    for (unsigned b = 0; b < bits; b++) {
        const unsigned j = bits * (x - 1) + b;
        d |= uint32_t((line[2 + j / 8] >> (j % 8)) & 1u) << b;
    }
    return (d & (1u << (bits - 1))) ? int32_t(d) - int32_t(1u << bits) : int32_t(d);
}

/** Runs a 640x480 16-bit frame through the simulated ISP with a lens-shading matrix; the 12-bit Bayer data
 * extracted after the lens shading, as samples. */
std::vector<uint16_t> ShadeThroughModel(const std::vector<uint16_t> &input, const Matrix &mx) {
    const uint32_t W = 640, H = 480;
    CI_PIPELINE reg{};
    CI_PIPE_INFO info{};
    norva_sim::IspNeutralSettings(W, H, &reg, &info);
    info.config.eDispType.eFmt = BAYER_RGGB_12;
    info.config.eDataExtraction = CI_INOUT_FILTER_LINESTORE;
    reg.config = info.config;
    CI_MODULE_GMA_LUT gamma = norva_sim::DefaultDescription().sGammaLUT;
    const uint32_t stride = 1024;
    std::vector<uint8_t> out(size_t(stride) * H, 0);
    norva_sim::IspInputFrame in;
    in.samples = input.data();
    in.width = W;
    in.height = H;
    in.bitDepth = 16;
    norva_sim::IspFrameSettings s;
    s.registers = &reg;
    s.info = &info;
    s.gamma = &gamma;
    s.lshMatrix = mx.mem.data();
    s.lshMatrixSize = mx.mem.size();
    s.lshConfig = mx.m.config;
    norva_sim::IspFrameOutputs o;
    o.display.data = out.data();
    o.display.size = out.size();
    o.display.stride = stride;
    norva_sim::IspModel model;
    std::vector<uint16_t> samples;
    if (model.process(in, s, o) != QOR_RES_OK) {
        return samples;
    }
    samples.resize(size_t(W) * H);
    for (uint32_t y = 0; y < H; y++) {
        for (uint32_t x = 0; x < W; x++) {
            const uint8_t *p = &out[size_t(y) * stride + 12 * x / 8];
            samples[size_t(y) * W + x] = uint16_t(((p[0] | p[1] << 8) >> (12 * x % 8)) & 0xFFFu);
        }
    }
    return samples;
}

/** A bowl grid of 21x16 vertices at tiles of 16 cells (a 640x480 window), packed at its minimal bits. */
struct PackedBowl {
    Grid g{1, 1};
    std::unique_ptr<Matrix> mx;
    uint8_t bits = 0;
    int maxDiff = 0;
    static constexpr float kBowls[4][5] = {{2.0f, 2.2f, 1.9f, 2.4f, 1.0f},
                                           {1.8f, 1.7f, 2.1f, 2.0f, 1.05f},
                                           {2.5f, 2.3f, 2.2f, 2.0f, 0.9f},
                                           {1.5f, 1.6f, 1.7f, 1.8f, 1.1f}};
    PackedBowl() {
        LSH_Free(&g.g);
        EXPECT_EQ(LSH_CreateMatrix(&g.g, 320, 240, 16), QOR_RES_OK);
        for (int c = 0; c < 4; c++) {
            EXPECT_EQ(LSH_FillBowl(&g.g, c, kBowls[c]), QOR_RES_OK);
        }
        bits = MC_LSHComputeMinBitdiff(&g.g, &maxDiff);
        mx.reset(new Matrix(MC_LSHGetSizes(&g.g, bits, nullptr, nullptr)));
        EXPECT_EQ(MC_LSHConvertGrid(&g.g, bits, &mx->m), QOR_RES_OK);
    }
    /** The bowl of channel c between the vertices, at colour-filter cell (cx, cy). */
    static double at(int c, double cx, double cy) {
        const float *b = kBowls[c];
        const double fx = cx / 320.0, fy = cy / 240.0, e = b[4];
        const double ramp = (1 - fy) * (1 - fx) * (b[0] - e) + (1 - fy) * fx * (b[1] - e) + fy * (1 - fx) * (b[2] - e) +
                            fy * fx * (b[3] - e);
        const double w = ((1 - std::cos((fx - 0.5) * M_PI)) + (1 - std::cos((fy - 0.5) * M_PI))) / 2;
        return e + ramp * w;
    }
};
constexpr float PackedBowl::kBowls[4][5];

TEST(LshPacking, SizesFollowTheLineAndStrideRules) {
    struct Case {
        uint16_t w;
        uint8_t bits;
        uint32_t line, stride;
    } cases[] = {{5, 4, 16, 64}, {33, 7, 32, 64}, {65, 10, 96, 128}, {2, 4, 16, 64}};
    for (const Case &c : cases) {
        Grid g(c.w, 3);
        uint32_t line = 0, stride = 0;
        EXPECT_EQ(MC_LSHGetSizes(&g.g, c.bits, &line, &stride), 3 * c.stride * 4) << c.w;
        EXPECT_EQ(line, c.line) << c.w;
        EXPECT_EQ(stride, c.stride) << c.w;
    }
    norva_test::stderrOf([] { EXPECT_EQ(MC_LSHGetSizes(nullptr, 4, nullptr, nullptr), 0u); });
    // the widest grid a file can declare: the size needs more than 32 bits only in 64-bit arithmetic terms, and
    // it never fits the device's memory
    LSH_GRID huge{};
    huge.ui16Width = 65535;
    huge.ui16Height = 65535;
    huge.ui16TileSize = 16;
    EXPECT_EQ(MC_LSHGetSizes(&huge, 10, nullptr, nullptr), 0u);
    const CI_HWINFO hw = mctest::defaultHWInfo();
    CI_HWINFO sim = hw;
    sim.ui32LSHRamSizeBits = 2097152;
    norva_test::stderrOf([&] { EXPECT_EQ(MC_LSHCheckRamSize(&huge, 10, &sim), QOR_RES_TOO_BIG); });
    Grid fits(61, 35);
    EXPECT_EQ(MC_LSHCheckRamSize(&fits.g, 10, &sim), QOR_RES_OK);
    sim.ui32LSHRamSizeBits = 35 * 128 * 4 * 8 - 8;
    norva_test::stderrOf([&] { EXPECT_EQ(MC_LSHCheckRamSize(&fits.g, 10, &sim), QOR_RES_TOO_BIG); });
}

TEST(LshPacking, FlatGridPacksToItsFirstVertexOnly) {
    Grid g(5, 2);
    EXPECT_EQ(MC_LSHComputeMinBitdiff(&g.g, nullptr), 4);
    Matrix mx(2 * 64 * 4);
    mx.m.config.ui16SkipX = 3;
    ASSERT_EQ(MC_LSHConvertGrid(&g.g, 4, &mx.m), QOR_RES_OK);
    for (size_t line = 0; line < 8; line++) {
        const uint8_t *p = &mx.mem[line * 64];
        EXPECT_EQ(p[0], 0x00) << line;
        EXPECT_EQ(p[1], 0x04) << line;
        for (int i = 2; i < 64; i++) {
            ASSERT_EQ(p[i], 0) << line << " " << i;
        }
    }
    const CI_MODULE_LSH_MAT &c = mx.m.config;
    EXPECT_EQ(c.ui8TileSizeLog2, 4);
    EXPECT_EQ(c.ui8BitsPerDiff, 4);
    EXPECT_EQ(c.ui16Width, 5);
    EXPECT_EQ(c.ui16Height, 2);
    EXPECT_EQ(c.ui16LineSize, 0);
    EXPECT_EQ(c.ui32Stride, 64u);
    EXPECT_EQ(c.ui16SkipX, 3); // not the packer's to write
}

TEST(LshPacking, DifferencesAreTwosComplementLsbFirstPerRowAndChannel) {
    Grid g(9, 2, 32);
    const int steps[8] = {3, -4, 7, -8, 0, 1, -1, 5};
    for (int c = 0; c < 4; c++) {
        for (unsigned y = 0; y < 2; y++) {
            int v = 1024 + 100 * c + 10 * int(y);
            g.at(c, 0, y) = float(v) / 1024.0f;
            for (unsigned x = 1; x < 9; x++) {
                v += steps[(x - 1 + c + y) % 8];
                g.at(c, x, y) = float(v) / 1024.0f;
            }
        }
    }
    ASSERT_EQ(MC_LSHComputeMinBitdiff(&g.g, nullptr), 4);
    Matrix mx(2 * 64 * 4);
    ASSERT_EQ(MC_LSHConvertGrid(&g.g, 4, &mx.m), QOR_RES_OK);
    EXPECT_EQ(mx.m.config.ui8TileSizeLog2, 5);
    for (int c = 0; c < 4; c++) {
        for (unsigned y = 0; y < 2; y++) {
            const uint8_t *line = &mx.mem[(4 * y + c) * 64];
            EXPECT_EQ(line[0] | line[1] << 8, 1024 + 100 * c + 10 * int(y));
            for (unsigned x = 1; x < 9; x++) {
                EXPECT_EQ(Diff(line, 4, x), steps[(x - 1 + c + y) % 8]) << c << " " << x << " " << y;
            }
            EXPECT_EQ(line[6], 0); // 2 bytes + 8 x 4 bits
        }
    }
}

TEST(LshPacking, BitsBoundTheLargestDifference) {
    struct Case {
        int step;
        uint8_t bits;
        QOR_RESULT convert;
        int minBits;
    } cases[] = {
        {-8, 4, QOR_RES_OK, 4},        /* magnitude 7 */
        {7, 4, QOR_RES_OK, 4},         /* the largest positive a 4-bit field holds */
        {8, 4, QOR_RES_FAILED, 5},     /* would read back as -8 */
        {9, 4, QOR_RES_FAILED, 5},     /* */
        {-9, 4, QOR_RES_FAILED, 5},    /* */
        {8, 5, QOR_RES_OK, 5},         /* */
        {-512, 10, QOR_RES_OK, 10},    /* */
        {511, 10, QOR_RES_OK, 10},     /* */
        {512, 10, QOR_RES_FAILED, 11}, /* beyond what the hardware takes */
    };
    for (const Case &c : cases) {
        Grid g(4, 1, 16, 2.0f);
        g.at(2, 2, 0) = g.at(2, 3, 0) = float(2048 + c.step) / 1024.0f; // one step, then flat
        int maxDiff = -1;
        EXPECT_EQ(MC_LSHComputeMinBitdiff(&g.g, &maxDiff), c.minBits) << c.step;
        EXPECT_EQ(maxDiff, c.step >= 0 ? c.step : -c.step - 1) << c.step;
        Matrix mx(64 * 4);
        std::string err =
            norva_test::stderrOf([&] { EXPECT_EQ(MC_LSHConvertGrid(&g.g, c.bits, &mx.m), c.convert) << c.step; });
        if (c.convert != QOR_RES_OK) {
            EXPECT_EQ(mx.m.config.ui8BitsPerDiff, 0) << "configuration written on failure";
            EXPECT_TRUE(norva_test::contains(err, "isn't enough to store the maximum difference")) << err;
        }
    }
}

TEST(LshPacking, ExtremeGainsClampToTheVertexRange) {
    // A row of two vertices: the value under test, then 1.0 (vertex 1024). Grids from files hold finite values
    // only; the infinities and NaN stand for a grid built in memory.
    struct Case {
        const char *what;
        float value;
        int vertex;  // first vertex packed; -1: refused as negative
        int maxDiff; // largest difference magnitude
    } cases[] = {
        {"largest finite", FLT_MAX, 8191, 7166},
        {"8191 / 1024", 8191.0f / 1024.0f, 8191, 7166},
        {"8", 8.0f, 8191, 7166},
        {"+infinity", HUGE_VALF, 8191, 7166},
        {"smallest denormal", FLT_TRUE_MIN, 0, 1024},
        {"-0", -0.0f, 0, 1024},
        {"NaN", std::nanf(""), 0, 1024},
        {"-infinity", -HUGE_VALF, -1, 0},
        {"most negative finite", -FLT_MAX, -1, 0},
    };
    for (const Case &c : cases) {
        Grid g(2, 1, 16, 1.0f);
        for (int ch = 0; ch < 4; ch++) {
            g.at(ch, 0, 0) = c.value;
        }
        int maxDiff = 0;
        norva_test::stderrOf([&] {
            const QOR_UINT8 bits = MC_LSHComputeMinBitdiff(&g.g, &maxDiff);
            EXPECT_EQ(bits == 0, c.vertex < 0) << c.what;
            Matrix mx(64 * 4);
            const QOR_RESULT r = MC_LSHConvertGrid(&g.g, MC_LSH_MAX_BITS, &mx.m);
            if (c.vertex < 0) {
                EXPECT_EQ(r, QOR_RES_NOT_SUPPORTED) << c.what;
            } else {
                EXPECT_EQ(mx.mem[0] | mx.mem[1] << 8, c.vertex) << c.what;
                EXPECT_EQ(maxDiff, c.maxDiff) << c.what;
            }
            // the repair ends and leaves a grid that converts to vertices in range
            EXPECT_EQ(MC_LSHPreCheckTest(&g.g, MC_LSH_MAX_BITS), QOR_RES_OK) << c.what;
            EXPECT_NE(MC_LSHComputeMinBitdiff(&g.g, nullptr), 0) << c.what;
        });
    }
}

TEST(LshPacking, RefusalsLeaveTheGridAlone) {
    Grid g(2, 2);
    Matrix mx(512);
    Matrix small(100);
    LSH_GRID noPlanes{};
    noPlanes.ui16Width = noPlanes.ui16Height = 2;
    noPlanes.ui16TileSize = 16;
    struct Case {
        const char *what;
        uint16_t tile;
        uint8_t bits;
        CI_LSHMAT *m;
        QOR_RESULT expected;
        const char *message;
    } cases[] = {
        {"tile 0", 0, 4, &mx.m, QOR_RES_NOT_SUPPORTED, "tile size has to be a power of 2 (0 given)"},
        {"tile 3", 3, 4, &mx.m, QOR_RES_NOT_SUPPORTED, "tile size has to be a power of 2 (3 given)"},
        {"3 bits", 16, 3, &mx.m, QOR_RES_NOT_SUPPORTED, "grid needs 3 bits while HW can support 4 to 10"},
        {"11 bits", 16, 11, &mx.m, QOR_RES_NOT_SUPPORTED, "grid needs 11 bits"},
        {"100-byte buffer", 16, 4, &small.m, QOR_RES_NOT_SUPPORTED, "needs 512 Bytes but given buffer only has 100"},
        {"no matrix", 16, 4, nullptr, QOR_RES_INVALID_PARAM, "pLSH or pMatrix is NULL"},
    };
    for (const Case &c : cases) {
        g.g.ui16TileSize = c.tile;
        std::string err =
            norva_test::stderrOf([&] { EXPECT_EQ(MC_LSHConvertGrid(&g.g, c.bits, c.m), c.expected) << c.what; });
        EXPECT_TRUE(norva_test::contains(err, c.message)) << c.what << ": " << err;
    }
    EXPECT_EQ(small.mem[0], 0xA5);
    norva_test::stderrOf([&] {
        EXPECT_EQ(MC_LSHConvertGrid(&noPlanes, 4, &mx.m), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(MC_LSHComputeMinBitdiff(&noPlanes, nullptr), 0);
        EXPECT_EQ(MC_LSHPreCheckTest(&noPlanes, 4), QOR_RES_INVALID_PARAM);
    });
    g.g.ui16TileSize = 1;
    ASSERT_EQ(MC_LSHConvertGrid(&g.g, 4, &mx.m), QOR_RES_OK);
    EXPECT_EQ(mx.m.config.ui8TileSizeLog2, 0);
}

TEST(LshPacking, PreCheckRepairsSpikesAndNegativesSoTheGridPacks) {
    Grid g(8, 3, 16, 1.0f);
    g.at(1, 3, 1) = 3.0f;  // a spike of +2048
    g.at(2, 5, 2) = -0.5f; // a negative value
    g.at(3, 0, 0) = -1.0f; // negative first value of a row
    norva_test::stderrOf([&] {
        EXPECT_EQ(MC_LSHComputeMinBitdiff(&g.g, nullptr), 0);
        Matrix before(3 * 64 * 4);
        EXPECT_EQ(MC_LSHConvertGrid(&g.g, 10, &before.m), QOR_RES_NOT_SUPPORTED);
    });
    const std::string err = norva_test::stderrOf([&] { EXPECT_EQ(MC_LSHPreCheckTest(&g.g, 10), QOR_RES_OK); });
    EXPECT_TRUE(norva_test::contains(err, "WARNING: fixing lsh negative value!\n")) << err;
    EXPECT_TRUE(
        norva_test::contains(err, "WARNING: fixing lsh diff c=1 x=3,y=1 3.000000 => 1.249023 (prev=1.000000)\n"))
        << err;
    EXPECT_FLOAT_EQ(g.at(1, 3, 1), 1.0f + 255.0f / 1024.0f);
    EXPECT_EQ(g.at(3, 0, 0), 0.0f);
    // the step from 0 up to 1.0 is repaired too, in steps of at most 255
    for (unsigned x = 1; x < 8; x++) {
        EXPECT_LE(std::lround((g.at(3, x, 0) - g.at(3, x - 1, 0)) * 1024), 255) << x;
    }
    const uint8_t bits = MC_LSHComputeMinBitdiff(&g.g, nullptr);
    ASSERT_GE(bits, 4);
    ASSERT_LE(bits, 10);
    uint32_t size = MC_LSHGetSizes(&g.g, bits, nullptr, nullptr);
    Matrix mx(size);
    EXPECT_EQ(MC_LSHConvertGrid(&g.g, bits, &mx.m), QOR_RES_OK);
    // an empty grid is fine
    LSH_GRID empty{};
    empty.ui16TileSize = 16;
    float plane = 0;
    for (auto &p : empty.apMatrix) {
        p = &plane;
    }
    EXPECT_EQ(MC_LSHPreCheckTest(&empty, 4), QOR_RES_OK);
}

TEST(LshPacking, SimulatedIspDecodesABowlGridToItsGains) {
    PackedBowl bowl;
    ASSERT_EQ(bowl.g.g.ui16Width, 21);
    ASSERT_EQ(bowl.g.g.ui16Height, 16);
    ASSERT_GE(bowl.bits, 4);
    // one bit fewer does not hold the grid
    if (bowl.bits > 4) {
        Matrix fewer(MC_LSHGetSizes(&bowl.g.g, uint8_t(bowl.bits - 1), nullptr, nullptr));
        norva_test::stderrOf(
            [&] { EXPECT_EQ(MC_LSHConvertGrid(&bowl.g.g, uint8_t(bowl.bits - 1), &fewer.m), QOR_RES_FAILED); });
    }
    // a flat frame at a quarter of full scale, extracted as 12-bit Bayer after the lens shading: at each vertex
    // the 12-bit code is the gain in U3.10
    const std::vector<uint16_t> out = ShadeThroughModel(std::vector<uint16_t>(size_t(640) * 480, 16384), *bowl.mx);
    ASSERT_FALSE(out.empty());
    double worst = 0;
    for (unsigned j = 0; j * 16 < 240; j++) {
        for (unsigned i = 0; i * 16 < 320; i++) {
            for (unsigned c = 0; c < 4; c++) {
                const uint32_t x = 32 * i + (c & 1u), y = 32 * j + (c >> 1);
                worst = std::max(worst, std::fabs(out[size_t(y) * 640 + x] / 1024.0 - bowl.g.at(int(c), i, j)));
            }
        }
    }
    EXPECT_LE(worst, 1.0 / 1024) << "bits " << int(bowl.bits) << ", largest step " << bowl.maxDiff;
}

TEST(LshPacking, InverseGridFlattensAShadedScene) {
    // a flat scene darkened towards the edges by the bowl's inverse (a lens falloff), corrected by the bowl
    PackedBowl bowl;
    const double level = 16384;
    std::vector<uint16_t> scene(size_t(640) * 480);
    for (uint32_t y = 0; y < 480; y++) {
        for (uint32_t x = 0; x < 640; x++) {
            const int c = int((y & 1u) * 2 + (x & 1u));
            scene[size_t(y) * 640 + x] = uint16_t(std::lround(level / PackedBowl::at(c, x / 2, y / 2)));
        }
    }
    const std::vector<uint16_t> out = ShadeThroughModel(scene, *bowl.mx);
    ASSERT_FALSE(out.empty());
    double lo = 1e9, hi = 0;
    for (uint16_t v : out) {
        lo = std::min(lo, double(v));
        hi = std::max(hi, double(v));
    }
    EXPECT_LE((hi - 1024) / 1024, 0.02) << "brightest " << hi;
    EXPECT_LE((1024 - lo) / 1024, 0.02) << "darkest " << lo;
}

} // namespace
