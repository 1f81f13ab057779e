// The statistics kernels of the ISP model on the vector code path against the baseline, at the edges the random
// configurations of the band test seldom reach: thresholds at and beyond the ends of the values, offsets at both
// ends of their register, spans that start and end off a vector step, up to the largest span of one call; steps
// of values spanning a few bins or many, across bin edges, over more values than one chunk of 16-bit counts;
// sharpness of samples at both ends of their range; exposure counts at thresholds at and beyond 16 bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "sim_isp_internal.h"

namespace {

using norva_sim::isp::Kernels;

#if NORVA_ISP_AVX2
bool VectorPath(Kernels *base, Kernels *avx2) {
    if (!__builtin_cpu_supports("avx2")) {
        return false;
    }
    norva_sim::isp::StatsKernels(base, false);
    norva_sim::isp::StatsKernels(avx2, true);
    return true;
}

struct WbsCase {
    int32_t rgbOff;
    int32_t thresholds[4];
};

TEST(IspStatsKernels, WhiteBalanceSumsSameOnEveryCodePath) {
    Kernels base{}, avx2{};
    if (!VectorPath(&base, &avx2)) {
        GTEST_SKIP() << "no AVX2 on this machine";
    }
    // luma lies in 0..3070 (0..1023 plus an offset of at most 2047); channels in 0..3070
    const WbsCase cases[] = {
        {0, {100, 100, 100, 100}},          {-2048, {0, 0, 0, -1}},
        {-2048, {-1, -5, -40000, -40000}},  {2047, {3069, 3070, 3071, 3069}},
        {2047, {3070, 40000, 32767, 3070}}, {2047, {32767, 32768, -32769, 5118}},
        {2047, {1, 2, 3, 40000}},           {-1, {254, 255, 256, 0}},
        {17, {600, 700, 800, 32767}},       {17, {600, 700, 800, -32768}},
    };
    struct Span {
        uint32_t x0, x1;
    };
    const Span spans[] = {{0, 0}, {0, 15}, {3, 19}, {1, 4097}, {0, 4096}, {5, 1000}};
    std::mt19937 rng(7);
    std::vector<int16_t> r(4200), g(4200), b(4200);
    for (size_t x = 0; x < r.size(); x++) {
        // runs of the extreme codes between random ones
        const bool edge = (x / 40) % 3 == 0;
        r[x] = static_cast<int16_t>(edge ? (x % 2 ? 4095 : 0) : rng() % 4096);
        g[x] = static_cast<int16_t>(edge ? 4095 : rng() % 4096);
        b[x] = static_cast<int16_t>(edge ? (x % 3 ? 4095 : 0) : rng() % 4096);
    }
    for (const WbsCase &c : cases) {
        for (const Span &s : spans) {
            uint32_t want[13], got[13];
            base.whiteBalanceSums(r.data(), g.data(), b.data(), s.x0, s.x1, c.rgbOff, c.thresholds, want);
            avx2.whiteBalanceSums(r.data(), g.data(), b.data(), s.x0, s.x1, c.rgbOff, c.thresholds, got);
            EXPECT_EQ(std::vector<uint32_t>(got, got + 13), std::vector<uint32_t>(want, want + 13))
                << "offset " << c.rgbOff << ", luma threshold " << c.thresholds[3] << ", columns " << s.x0 << ".."
                << s.x1;
        }
    }
}

TEST(IspStatsKernels, HistogramBinsSameOnEveryCodePath) {
    Kernels base{}, avx2{};
    if (!VectorPath(&base, &avx2)) {
        GTEST_SKIP() << "no AVX2 on this machine";
    }
    // steps of 16 values spanning one to six bins, runs across bin edges and at both ends of the range, noise
    const size_t n = 70000; /* beyond the kernel's chunk of 16-bit counts */
    std::mt19937 rng(11);
    std::vector<uint16_t> luma(n);
    for (size_t i = 0; i < n; i++) {
        const size_t step = i / 16, lane = i % 16;
        const uint16_t patterns[6] = {
            1023,                                               /* the top bin */
            static_cast<uint16_t>(16 * (step % 64)),            /* one bin, from its first code */
            static_cast<uint16_t>(16 * (step % 61) + lane * 4), /* four bins */
            static_cast<uint16_t>(16 * (step % 59) + lane * 5), /* five or six bins */
            static_cast<uint16_t>(15 + (lane & 1)),             /* two bins across an edge */
            static_cast<uint16_t>(rng() % 1024),                /* noise */
        };
        luma[i] = patterns[step % 6];
    }
    const size_t offsets[] = {0, 1, 7};
    const uint32_t lengths[] = {0, 5, 16, 47, 1920, 32768, 40000, 69000};
    for (size_t first : offsets) {
        for (uint32_t len : lengths) {
            uint32_t want[64], got[64];
            for (int b = 0; b < 64; b++) {
                want[b] = got[b] = static_cast<uint32_t>(b); /* the kernels add to the bins */
            }
            base.histogramBins(luma.data() + first, len, want);
            avx2.histogramBins(luma.data() + first, len, got);
            EXPECT_EQ(std::vector<uint32_t>(got, got + 64), std::vector<uint32_t>(want, want + 64))
                << "values from " << first << ", " << len << " of them";
        }
    }
}

TEST(IspStatsKernels, FocusSharpnessSameOnEveryCodePath) {
    Kernels base{}, avx2{};
    if (!VectorPath(&base, &avx2)) {
        GTEST_SKIP() << "no AVX2 on this machine";
    }
    // samples at both ends of 16 bits beside random ones: differences up to 65535 each, sums past 16 bits
    std::mt19937 rng(5);
    std::vector<uint16_t> cur(2100), dn(2100);
    for (size_t i = 0; i < cur.size(); i++) {
        const uint16_t ends[3] = {0, 65535, static_cast<uint16_t>(rng())};
        cur[i] = ends[(i / 2) % 3];
        dn[i] = ends[(i / 3) % 3];
    }
    const uint32_t counts[] = {0, 1, 16, 17, 18, 33, 960, 1049};
    for (size_t first : {size_t(0), size_t(1)}) {
        for (uint32_t n : counts) {
            std::vector<uint16_t> want(n), got(n);
            base.focusSharpness(cur.data() + first, dn.data() + first, n, want.data());
            avx2.focusSharpness(cur.data() + first, dn.data() + first, n, got.data());
            EXPECT_EQ(got, want) << "samples from " << first << ", " << n << " of them";
        }
    }
}

TEST(IspStatsKernels, CountAboveSameOnEveryCodePath) {
    Kernels base{}, avx2{};
    if (!VectorPath(&base, &avx2)) {
        GTEST_SKIP() << "no AVX2 on this machine";
    }
    std::mt19937 rng(9);
    std::vector<uint16_t> raw(70000);
    for (size_t i = 0; i < raw.size(); i++) {
        const uint16_t values[4] = {0, 65535, 4096, static_cast<uint16_t>(rng())};
        raw[i] = values[(i / 5) % 4];
    }
    const uint32_t thresholds[] = {0, 1, 4095, 4096, 4097, 65535, 65536, 1u << 20};
    struct Span {
        uint32_t x0, x1;
    };
    // spans of either parity, shorter than a step, and longer than the kernel's 16-bit counts hold
    const Span spans[] = {{0, 0}, {3, 2}, {0, 15}, {1, 18}, {2, 1921}, {7, 70000}};
    for (uint32_t thr : thresholds) {
        for (const Span &s : spans) {
            uint32_t want[2] = {5, 6}, got[2] = {5, 6}; /* the kernels add to the counts */
            base.countAbove(raw.data(), s.x0, s.x1, thr, want);
            avx2.countAbove(raw.data(), s.x0, s.x1, thr, got);
            EXPECT_EQ(got[0], want[0]) << "threshold " << thr << ", columns " << s.x0 << ".." << s.x1;
            EXPECT_EQ(got[1], want[1]) << "threshold " << thr << ", columns " << s.x0 << ".." << s.x1;
        }
    }
}
#endif

} // namespace
