/*
 * ISP model, the statistics: exposure (raw window samples), auto white balance (cells after lens shading), focus
 * (Bayer after white balance), white balance (linear RGB after the main gamut mapper), histograms (after gamma),
 * and the save structure they are written to with the flicker verdict and the status word. Conventions:
 * platform/isp-model.md.
 */
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "sim_isp_internal.h"

namespace norva_sim {
namespace isp {

void Accumulators::clear() { std::memset(this, 0, sizeof(*this)); }

void Accumulators::add(const Accumulators &o) {
    for (int ch = 0; ch < 4; ch++) {
        exsGlobal[ch] += o.exsGlobal[ch];
    }
    for (int r = 0; r < kGrid; r++) {
        for (int c = 0; c < kGrid; c++) {
            for (int ch = 0; ch < 4; ch++) {
                exsRegion[r][c][ch] += o.exsRegion[r][c][ch];
            }
            fosGrid[r][c] += o.fosGrid[r][c];
            for (int b = 0; b < 16; b++) {
                hisRegion[r][c][b] += o.hisRegion[r][c][b];
            }
            for (int k = 0; k < 3; k++) {
                awsSum[r][c][k] += o.awsSum[r][c][k];
            }
            awsCount[r][c] += o.awsCount[r][c];
        }
    }
    fosRoi += o.fosRoi;
    for (int k = 0; k < 2; k++) {
        for (int ch = 0; ch < 3; ch++) {
            wbsWhiteSum[k][ch] += o.wbsWhiteSum[k][ch];
            wbsWhiteCount[k][ch] += o.wbsWhiteCount[k][ch];
            wbsAvg[k][ch] += o.wbsAvg[k][ch];
            wbsHighSum[k][ch] += o.wbsHighSum[k][ch];
        }
        wbsHighCount[k] += o.wbsHighCount[k];
    }
    for (int b = 0; b < 64; b++) {
        hisGlobal[b] += o.hisGlobal[b];
    }
}

namespace {

/** Samples of v[x0, x1) at or above thr, added to count[] by the parity of x. */
void countAboveBase(const uint16_t *__restrict v, uint32_t x0, uint32_t x1, uint32_t thr, uint32_t count[2]) {
    if (x0 >= x1) {
        return;
    }
    uint32_t even = 0, odd = 0;
    if (x0 & 1u) {
        odd += v[x0] >= thr;
        x0++;
    }
    // pairs from an even column, indexed so that the loop vectorizes
    const uint16_t *__restrict p = v + x0;
    const size_t pairs = (x1 - x0) / 2;
    for (size_t k = 0; k < pairs; k++) {
        even += p[2 * k] >= thr;
        odd += p[2 * k + 1] >= thr;
    }
    if ((x1 - x0) & 1u) {
        even += v[x1 - 1] >= thr;
    }
    count[0] += even;
    count[1] += odd;
}

#if NORVA_ISP_AVX2
/** Sum of the eight 32-bit lanes. */
ISP_TARGET_AVX2 inline uint32_t sum32(__m256i v) {
    const __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    const __m128i t = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
    return uint32_t(_mm_cvtsi128_si32(_mm_add_epi32(t, _mm_shuffle_epi32(t, 0xB1))));
}

/**
 * The same, 16 samples a step: each lane counts its samples at or above the threshold (the larger of the two is
 * the sample) in 16 bits over at most 4096 steps, then the lanes of even and of odd columns are summed apart.
 */
ISP_TARGET_AVX2 void countAboveAvx2(const uint16_t *v, uint32_t x0, uint32_t x1, uint32_t thr, uint32_t count[2]) {
    if (x0 >= x1 || thr > 65535) {
        return; /* no 16-bit sample reaches a larger threshold */
    }
    const __m256i t = _mm256_set1_epi16(static_cast<int16_t>(thr)), low = _mm256_set1_epi32(0xFFFF);
    __m256i first = _mm256_setzero_si256(), second = _mm256_setzero_si256();
    uint32_t x = x0;
    while (x + 16 <= x1) {
        __m256i lanes = _mm256_setzero_si256();
        for (uint32_t step = 0; step < 4096 && x + 16 <= x1; step++, x += 16) {
            const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(v + x));
            lanes = _mm256_sub_epi16(lanes, _mm256_cmpeq_epi16(_mm256_max_epu16(s, t), s));
        }
        first = _mm256_add_epi32(first, _mm256_and_si256(lanes, low));
        second = _mm256_add_epi32(second, _mm256_srli_epi32(lanes, 16));
    }
    // the even lanes hold the columns of x0's parity
    const uint32_t p = x0 & 1u;
    count[p] += sum32(first);
    count[p ^ 1u] += sum32(second);
    countAboveBase(v, x, x1, thr, count);
}
#endif

/** Focus sharpness of n green samples (every other sample of cur from its start), 8-bit scale. */
ISP_INLINE void focusSharpnessBody(const uint16_t *__restrict cur, const uint16_t *__restrict dn, uint32_t n,
                                   uint16_t *__restrict sharp) {
    for (size_t k = 0; k < n; k++) {
        const int32_t g = cur[2 * k];
        const int32_t dh = std::abs(g - int32_t(cur[2 * k + 2]));
        const int32_t dd = std::abs(g - int32_t(dn[2 * k + 1]));
        sharp[k] = static_cast<uint16_t>(uint32_t(dh + dd) >> 8);
    }
}
void focusSharpnessBase(const uint16_t *cur, const uint16_t *dn, uint32_t n, uint16_t *sharp) {
    focusSharpnessBody(cur, dn, n, sharp);
}
#if NORVA_ISP_AVX2
/** Differences of 16 samples to their neighbours at `right` and `below`, their sum >> 8 (on every lane). */
ISP_TARGET_AVX2 inline __m256i sharpness16(const uint16_t *at, const uint16_t *right, const uint16_t *below) {
    const __m256i g = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
    const __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(right));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(below));
    const __m256i dh = _mm256_or_si256(_mm256_subs_epu16(g, h), _mm256_subs_epu16(h, g));
    const __m256i dd = _mm256_or_si256(_mm256_subs_epu16(g, d), _mm256_subs_epu16(d, g));
    // (dh + dd) >> 8 without its 17th bit: the rounded-up mean less the odd half, >> 7
    const __m256i half =
        _mm256_sub_epi16(_mm256_avg_epu16(dh, dd), _mm256_and_si256(_mm256_xor_si256(dh, dd), _mm256_set1_epi16(1)));
    return _mm256_srli_epi16(half, 7);
}

/**
 * The same, 16 green samples a step on 16-bit lanes: the differences of every sample of the row, of which the
 * even lanes (the green samples) are kept and packed. A step reads no further than the last sample's own reads.
 */
ISP_TARGET_AVX2 void focusSharpnessAvx2(const uint16_t *cur, const uint16_t *dn, uint32_t n, uint16_t *sharp) {
    const __m256i even = _mm256_set1_epi32(0xFFFF);
    uint32_t k = 0;
    for (; k + 17 <= n; k += 16) {
        const uint16_t *c = cur + 2 * size_t(k), *d = dn + 2 * size_t(k) + 1;
        const __m256i lo = _mm256_and_si256(sharpness16(c, c + 2, d), even);
        const __m256i hi = _mm256_and_si256(sharpness16(c + 16, c + 18, d + 16), even);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(sharp + k),
                            _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8));
    }
    focusSharpnessBody(cur + 2 * size_t(k), dn + 2 * size_t(k), n - k, sharp + k);
}
#endif

/**
 * White-balance sums of the columns [x0, x1) of one region (at most 4096, so that 32 bits hold them), from the
 * gamma-encoded row (12-bit codes): channels on the 1024 scale with the RGB offset (at least 0), and their luma.
 */
ISP_INLINE void whiteBalanceSumsBody(const int16_t *__restrict r12, const int16_t *__restrict g12,
                                     const int16_t *__restrict b12, uint32_t x0, uint32_t x1, int32_t rgbOff,
                                     const int32_t *thresholds, uint32_t *sums) {
    const int32_t tr = thresholds[0], tg = thresholds[1], tb = thresholds[2], tyl = thresholds[3];
    uint32_t ws0 = 0, ws1 = 0, ws2 = 0, wc0 = 0, wc1 = 0, wc2 = 0, av0 = 0, av1 = 0, av2 = 0;
    uint32_t hs0 = 0, hs1 = 0, hs2 = 0, hc = 0;
    for (uint32_t x = x0; x < x1; x++) {
        const int32_t r = std::max(0, (r12[x] >> 2) + rgbOff);
        const int32_t g = std::max(0, (g12[x] >> 2) + rgbOff);
        const int32_t bl = std::max(0, (b12[x] >> 2) + rgbOff);
        const int32_t luma = (218 * r + 732 * g + 74 * bl) >> 10;
        av0 += uint32_t(r), av1 += uint32_t(g), av2 += uint32_t(bl);
        const uint32_t wr = r > tr, wg = g > tg, wb = bl > tb;
        ws0 += wr * uint32_t(r), wc0 += wr;
        ws1 += wg * uint32_t(g), wc1 += wg;
        ws2 += wb * uint32_t(bl), wc2 += wb;
        const uint32_t high = luma > tyl;
        hs0 += high * uint32_t(r), hs1 += high * uint32_t(g), hs2 += high * uint32_t(bl);
        hc += high;
    }
    const uint32_t out[13] = {ws0, ws1, ws2, wc0, wc1, wc2, av0, av1, av2, hs0, hs1, hs2, hc};
    for (int i = 0; i < 13; i++) {
        sums[i] = out[i];
    }
}
void whiteBalanceSumsBase(const int16_t *r12, const int16_t *g12, const int16_t *b12, uint32_t x0, uint32_t x1,
                          int32_t rgbOff, const int32_t *thresholds, uint32_t *sums) {
    whiteBalanceSumsBody(r12, g12, b12, x0, x1, rgbOff, thresholds, sums);
}
#if NORVA_ISP_AVX2

/**
 * The same, 16 pixels a step on 16-bit lanes: the channels (at most 1023 + 2047) fit them, the sums gather in
 * 16-bit lanes over a few steps before they are taken in pairs into 32-bit lanes. The luma is compared on its
 * 32-bit sums (luma > t is sum >= (t + 1) << 10), and the four counts go by pairs into 8-bit lanes (at most one a
 * step), summed at the end of the steps: few enough running vectors that they all stay in registers.
 */
ISP_TARGET_AVX2 void whiteBalanceSumsAvx2(const int16_t *r12, const int16_t *g12, const int16_t *b12, uint32_t x0,
                                          uint32_t x1, int32_t rgbOff, const int32_t *thresholds, uint32_t *sums) {
    const __m256i off = _mm256_set1_epi16(static_cast<int16_t>(rgbOff)), zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi16(1);
    // a threshold above the largest value counts nothing, as 32767 does
    __m256i thr[3];
    for (int c = 0; c < 3; c++) {
        thr[c] = _mm256_set1_epi16(static_cast<int16_t>(clampi(thresholds[c], -32768, 32767)));
    }
    // luma values lie in 0..3070 (1023 plus the largest offset): a threshold outside -1..5118 gives the same
    // verdicts as its nearest end
    const __m256i lumaThr = _mm256_set1_epi32((clampi(thresholds[3], -1, 5118) + 1) * 1024 - 1);
    const __m256i lumaRG = Pair16(218, 732), lumaB = Pair16(74, 0);
    __m256i av[3] = {zero, zero, zero}, ws[3] = {zero, zero, zero}, hs[3] = {zero, zero, zero};
    // 64-bit sums of the 8-bit counts: white of channels 0 and 1, white of channel 2 and high
    __m256i count01 = zero, count2h = zero;
    const int16_t *in[3] = {r12, g12, b12};
    // the sums of the values stay in 16-bit lanes for as many steps as the largest value allows (at most
    // 1023 + rgbOff each, so at least 6 steps), then are added by pairs into the 32-bit sums
    const uint32_t steps = std::min(255u, 32767u / uint32_t(1023 + std::max(rgbOff, 0)));
    uint32_t x = x0;
    while (x + 16 <= x1) {
        __m256i av16[3] = {zero, zero, zero}, ws16[3] = {zero, zero, zero}, hs16[3] = {zero, zero, zero};
        __m256i c01 = zero, c2h = zero;
        for (uint32_t step = 0; step < steps && x + 16 <= x1; step++, x += 16) {
            __m256i v[3];
            for (int c = 0; c < 3; c++) {
                const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in[c] + x));
                v[c] = _mm256_max_epi16(_mm256_add_epi16(_mm256_srai_epi16(raw, 2), off), zero);
            }
            const Interleaved3 t = Interleave3(v[0], v[1], v[2]);
            const __m256i hLo = _mm256_cmpgt_epi32(Sum3Lo(t, lumaRG, lumaB), lumaThr);
            const __m256i hHi = _mm256_cmpgt_epi32(Sum3Hi(t, lumaRG, lumaB), lumaThr);
            const __m256i high = _mm256_packs_epi32(hLo, hHi);
            __m256i white[3];
            for (int c = 0; c < 3; c++) {
                white[c] = _mm256_cmpgt_epi16(v[c], thr[c]);
                av16[c] = _mm256_add_epi16(av16[c], v[c]);
                ws16[c] = _mm256_add_epi16(ws16[c], _mm256_and_si256(v[c], white[c]));
                hs16[c] = _mm256_add_epi16(hs16[c], _mm256_and_si256(v[c], high));
            }
            c01 = _mm256_sub_epi8(c01, _mm256_packs_epi16(white[0], white[1]));
            c2h = _mm256_sub_epi8(c2h, _mm256_packs_epi16(white[2], high));
        }
        for (int c = 0; c < 3; c++) {
            av[c] = _mm256_add_epi32(av[c], _mm256_madd_epi16(av16[c], one));
            ws[c] = _mm256_add_epi32(ws[c], _mm256_madd_epi16(ws16[c], one));
            hs[c] = _mm256_add_epi32(hs[c], _mm256_madd_epi16(hs16[c], one));
        }
        // in each 128-bit half, bytes 0..7 count the first of the pair and bytes 8..15 the second
        count01 = _mm256_add_epi64(count01, _mm256_sad_epu8(c01, zero));
        count2h = _mm256_add_epi64(count2h, _mm256_sad_epu8(c2h, zero));
    }
    alignas(32) uint64_t q01[4], q2h[4];
    _mm256_store_si256(reinterpret_cast<__m256i *>(q01), count01);
    _mm256_store_si256(reinterpret_cast<__m256i *>(q2h), count2h);
    uint32_t rest[13];
    whiteBalanceSumsBody(r12, g12, b12, x, x1, rgbOff, thresholds, rest);
    for (int c = 0; c < 3; c++) {
        sums[c] = sum32(ws[c]) + rest[c];
        sums[6 + c] = sum32(av[c]) + rest[6 + c];
        sums[9 + c] = sum32(hs[c]) + rest[9 + c];
    }
    sums[3] = uint32_t(q01[0] + q01[2]) + rest[3];
    sums[4] = uint32_t(q01[1] + q01[3]) + rest[4];
    sums[5] = uint32_t(q2h[0] + q2h[2]) + rest[5];
    sums[12] = uint32_t(q2h[1] + q2h[3]) + rest[12];
}
#endif

/** Log-table index of a cell that does not count (its entry is 0). */
constexpr uint16_t kAwsOut = 4096;

/**
 * Auto-white-balance cells: the red, green (mean of the two) and blue samples (every other sample from each
 * pointer) in [dark, clip) of their channel give their log-table indices (value >> 4), other cells kAwsOut for
 * all three; returns the number of cells within the thresholds.
 */
ISP_INLINE uint32_t awsIndicesBody(const uint16_t *__restrict pr, const uint16_t *__restrict pg1,
                                   const uint16_t *__restrict pg2, const uint16_t *__restrict pb, uint32_t n,
                                   const uint16_t *dark, const uint16_t *clip, uint16_t *__restrict iR,
                                   uint16_t *__restrict iG, uint16_t *__restrict iB) {
    const uint32_t dR = dark[kRed], dG = dark[kGreen], dB = dark[kBlue];
    const uint32_t cR = clip[kRed], cG = clip[kGreen], cB = clip[kBlue];
    uint32_t count = 0;
    for (size_t k = 0; k < n; k++) {
        const uint32_t vr = pr[2 * k], vb = pb[2 * k], vg = (uint32_t(pg1[2 * k]) + pg2[2 * k]) / 2;
        const uint32_t in = uint32_t(vr >= dR) & uint32_t(vr < cR) & uint32_t(vg >= dG) & uint32_t(vg < cG) &
                            uint32_t(vb >= dB) & uint32_t(vb < cB);
        iR[k] = static_cast<uint16_t>(in ? vr >> 4 : kAwsOut);
        iG[k] = static_cast<uint16_t>(in ? vg >> 4 : kAwsOut);
        iB[k] = static_cast<uint16_t>(in ? vb >> 4 : kAwsOut);
        count += in;
    }
    return count;
}
ISP_KERNEL_R(uint32_t, awsIndices,
             (const uint16_t *pr, const uint16_t *pg1, const uint16_t *pg2, const uint16_t *pb, uint32_t n,
              const uint16_t *dark, const uint16_t *clip, uint16_t *iR, uint16_t *iG, uint16_t *iB),
             (pr, pg1, pg2, pb, n, dark, clip, iR, iG, iB))

/**
 * The log-table entries of n cells' indices, summed per channel. Plain look-ups: the compiler's vector form of
 * this loop, which fills its lanes one load at a time, is slower, so GCC is told not to vectorize it.
 */
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-vectorize")))
#endif
void awsLogSums(const uint16_t *__restrict log2, const uint16_t *__restrict iR, const uint16_t *__restrict iG,
                const uint16_t *__restrict iB, uint32_t n, uint32_t sums[3]) {
    uint32_t sr = 0, sg = 0, sb = 0;
    for (uint32_t k = 0; k < n; k++) {
        sr += log2[iR[k]];
        sg += log2[iG[k]];
        sb += log2[iB[k]];
    }
    sums[0] = sr, sums[1] = sg, sums[2] = sb;
}

/** Sum of v[k0, k1) (values below 512, so 32 bits hold a row). */
uint32_t sumRange(const uint16_t *v, uint32_t k0, uint32_t k1) {
    uint32_t sum = 0;
    for (uint32_t k = k0; k < k1; k++) {
        sum += v[k];
    }
    return sum;
}

/** Grid row of y for a grid starting at `top` with tiles of `height` rows, or -1 outside. */
int gridRow(uint32_t y, uint32_t top, uint32_t height) {
    if (height != 0 && y >= top && (y - top) / height < uint32_t(kGrid)) {
        return int((y - top) / height);
    }
    return -1;
}

inline void put32(uint8_t *base, size_t offset, uint64_t value) {
    const uint32_t v = value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
    base[offset] = static_cast<uint8_t>(v);
    base[offset + 1] = static_cast<uint8_t>(v >> 8);
    base[offset + 2] = static_cast<uint8_t>(v >> 16);
    base[offset + 3] = static_cast<uint8_t>(v >> 24);
}

inline void put16(uint8_t *base, size_t offset, uint32_t value) {
    const uint32_t v = value > 0xFFFFu ? 0xFFFFu : value;
    base[offset] = static_cast<uint8_t>(v);
    base[offset + 1] = static_cast<uint8_t>(v >> 8);
}

/**
 * 64-bin counts (value >> 4) of n values below 1024 added to bins[], in four interleaved sets so that runs of one
 * bin (flat areas) do not wait on each other's counts.
 */
ISP_INLINE void histogramBinsBody(const uint16_t *__restrict luma, uint32_t n, uint32_t *__restrict bins) {
    uint32_t four[4][64] = {};
    uint32_t x = 0;
    for (; x + 4 <= n; x += 4) {
        four[0][luma[x] >> 4]++;
        four[1][luma[x + 1] >> 4]++;
        four[2][luma[x + 2] >> 4]++;
        four[3][luma[x + 3] >> 4]++;
    }
    for (; x < n; x++) {
        four[0][luma[x] >> 4]++;
    }
    for (int bin = 0; bin < 64; bin++) {
        bins[bin] += four[0][bin] + four[1][bin] + four[2][bin] + four[3][bin];
    }
}
void histogramBinsBase(const uint16_t *luma, uint32_t n, uint32_t *bins) { histogramBinsBody(luma, n, bins); }
#if NORVA_ISP_AVX2
/**
 * The same, 16 values a step: a step whose values all fall in one bin (flat areas) is counted at once, one whose
 * values fall in at most four neighbouring bins (slopes) bin by bin from the lanes equal to each, the others one
 * by one in four sets of 16-bit counts (over at most 32768 values, so that no count overflows), cleared and summed
 * in vectors.
 */
// (every processor with AVX2 has the population count instruction)
ISP_TARGET_AVX2 __attribute__((target("popcnt"))) void histogramBinsAvx2(const uint16_t *luma, uint32_t n,
                                                                         uint32_t *bins) {
    constexpr uint32_t kChunk = 32768;
    for (uint32_t x0 = 0; x0 < n; x0 += kChunk) {
        const uint32_t x1 = std::min(n, x0 + kChunk);
        alignas(32) uint16_t four[4][64];
        for (int v = 0; v < 16; v++) {
            _mm256_store_si256(reinterpret_cast<__m256i *>(&four[0][0]) + v, _mm256_setzero_si256());
        }
        uint32_t x = x0;
        for (; x + 16 <= x1; x += 16) {
            const __m256i v = _mm256_srli_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(luma + x)), 4);
            const uint32_t first = luma[x] >> 4u;
            if (_mm256_movemask_epi8(_mm256_cmpeq_epi16(v, _mm256_set1_epi16(static_cast<int16_t>(first)))) == -1) {
                four[0][first] = static_cast<uint16_t>(four[0][first] + 16u);
                continue;
            }
            // the lowest and the highest bin of the step (the highest as the lowest of the complements)
            const __m128i a = _mm256_castsi256_si128(v), b = _mm256_extracti128_si256(v, 1);
            const uint32_t lo = uint32_t(_mm_cvtsi128_si32(_mm_minpos_epu16(_mm_min_epu16(a, b)))) & 0xFFFFu;
            const uint32_t hi =
                ~uint32_t(_mm_cvtsi128_si32(_mm_minpos_epu16(_mm_xor_si128(_mm_max_epu16(a, b), _mm_set1_epi16(-1))))) &
                0xFFFFu;
            if (hi - lo < 4) {
                for (uint32_t bin = lo; bin <= hi; bin++) {
                    const __m256i eq = _mm256_cmpeq_epi16(v, _mm256_set1_epi16(static_cast<int16_t>(bin)));
                    // two mask bits a lane
                    const uint32_t lanes = uint32_t(_mm_popcnt_u32(uint32_t(_mm256_movemask_epi8(eq)))) / 2;
                    four[0][bin] = static_cast<uint16_t>(four[0][bin] + lanes);
                }
                continue;
            }
            for (uint32_t k = 0; k < 16; k += 4) {
                four[0][luma[x + k] >> 4]++;
                four[1][luma[x + k + 1] >> 4]++;
                four[2][luma[x + k + 2] >> 4]++;
                four[3][luma[x + k + 3] >> 4]++;
            }
        }
        for (; x < x1; x++) {
            four[0][luma[x] >> 4]++;
        }
        // the four sets together count at most kChunk values: their sum fits 16 bits
        for (int q = 0; q < 4; q++) {
            __m256i sum = _mm256_setzero_si256();
            for (int set = 0; set < 4; set++) {
                sum = _mm256_add_epi16(sum, _mm256_load_si256(reinterpret_cast<const __m256i *>(&four[set][16 * q])));
            }
            __m256i *out = reinterpret_cast<__m256i *>(bins + 16 * q);
            const __m256i lo = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(sum));
            const __m256i hi = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(sum, 1));
            _mm256_storeu_si256(out, _mm256_add_epi32(_mm256_loadu_si256(out), lo));
            _mm256_storeu_si256(out + 1, _mm256_add_epi32(_mm256_loadu_si256(out + 1), hi));
        }
    }
}
#endif

} // namespace

void StatsKernels(Kernels *k, bool avx2) {
    (void)avx2;
    k->countAbove = ISP_PICK(countAbove, avx2);
    k->focusSharpness = ISP_PICK(focusSharpness, avx2);
    k->whiteBalanceSums = ISP_PICK(whiteBalanceSums, avx2);
    k->awsIndices = ISP_PICK(awsIndices, avx2);
    k->histogramBins = ISP_PICK(histogramBins, avx2);
}

void ExposureRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, const uint16_t *raw) {
    const CI_MODULE_EXS &e = f.reg->stats.sExposureStats;
    const unsigned c0 = (y & 1u) * 2u;
    const int ty = gridRow(y, e.ui16Top, e.ui16Height);
    uint32_t count[2] = {0, 0};
    if (ty >= 0 && m.exsTiles > 0) {
        // the tiles, then the columns outside them: each sample is counted once
        for (int t = 0; t < m.exsTiles; t++) {
            uint32_t tile[2] = {0, 0};
            m.k.countAbove(raw, m.exsRange[t][0], m.exsRange[t][1], f.exsThreshold, tile);
            b.acc.exsRegion[ty][t][c0] += tile[0];
            b.acc.exsRegion[ty][t][c0 + 1] += tile[1];
            count[0] += tile[0];
            count[1] += tile[1];
        }
        m.k.countAbove(raw, 0, m.exsRange[0][0], f.exsThreshold, count);
        m.k.countAbove(raw, m.exsRange[m.exsTiles - 1][1], f.W, f.exsThreshold, count);
    } else {
        m.k.countAbove(raw, 0, f.W, f.exsThreshold, count);
    }
    b.acc.exsGlobal[c0] += count[0];
    b.acc.exsGlobal[c0 + 1] += count[1];
}

void AwsCells(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t cy, const uint16_t *top,
              const uint16_t *bottom) {
    if (cy < f.awsStartY || (cy - f.awsStartY) / f.awsTileH >= uint32_t(kGrid)) {
        return;
    }
    const uint32_t ty = (cy - f.awsStartY) / f.awsTileH;
    // the sample of each colour in a cell (the two greens averaged)
    const uint16_t *rows[2] = {top, bottom};
    const uint16_t *at[4] = {};
    int greens = 0;
    for (int r = 0; r < 2; r++) {
        for (int q = 0; q < 2; q++) {
            const int c = f.colour[r][q];
            at[c == kGreen ? 1 + greens++ : (c == kRed ? 0 : 3)] = rows[r] + q;
        }
    }
    const uint16_t *pr = at[0], *pg1 = at[1], *pg2 = at[2], *pb = at[3];
    const uint16_t *log2 = m.awsLog.data();
    const uint32_t cells = f.W / 2;
    for (uint32_t tx = 0; tx < uint32_t(kGrid); tx++) {
        const uint64_t first = uint64_t(f.awsStartX) + uint64_t(tx) * f.awsTileW;
        if (first >= cells) {
            break;
        }
        const uint32_t end = uint32_t(std::min<uint64_t>(cells, first + f.awsTileW));
        const uint32_t c0 = uint32_t(first), n = end - c0;
        // the thresholds in a vector kernel, which gives each cell's log-table indices (the index of a 0 for a cell
        // that does not count), then the look-ups
        uint16_t *iR = b.awsIndex.data(), *iG = iR + cells, *iB = iG + cells;
        uint32_t count =
            m.k.awsIndices(pr + 2 * c0, pg1 + 2 * c0, pg2 + 2 * c0, pb + 2 * c0, n, f.awsDark, f.awsClipT, iR, iG, iB);
        uint32_t sr = 0, sg = 0, sb = 0;
        if (f.awsAdmitAll) {
            uint32_t sums[3];
            awsLogSums(log2, iR, iG, iB, n, sums);
            sr = sums[0], sg = sums[1], sb = sums[2];
        } else {
            count = 0;
            for (uint32_t k = 0; k < n; k++) {
                if (iR[k] == kAwsOut) {
                    continue;
                }
                const uint32_t lr = log2[iR[k]], lg = log2[iG[k]], lb = log2[iB[k]];
                if (AwsNearCurve(f, int32_t(lr), int32_t(lg), int32_t(lb))) {
                    sr += lr, sg += lg, sb += lb;
                    count++;
                }
            }
        }
        b.acc.awsSum[ty][tx][kRed] += sr;
        b.acc.awsSum[ty][tx][kGreen] += sg;
        b.acc.awsSum[ty][tx][kBlue] += sb;
        b.acc.awsCount[ty][tx] += count;
    }
}

void FocusRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, const uint16_t *cur,
              const uint16_t *dn) {
    const CI_MODULE_FOS &fo = f.reg->stats.sFocusStats;
    const bool roi = (f.eOutput & CI_SAVE_FOS_ROI) != 0 && y >= fo.ui16ROITop && y <= fo.ui16ROIBottom;
    const int ty = (f.eOutput & CI_SAVE_FOS_GRID) != 0 ? gridRow(y, fo.ui16Top, fo.ui16Height) : -1;
    if (!roi && ty < 0) {
        return;
    }
    // sharpness of each green sample of the row: sample k sits in column gp + 2k
    const uint32_t gp = f.colour[y & 1u][0] == kGreen ? 0u : 1u;
    const uint32_t n = (f.W - gp + 1) / 2;
    uint16_t *sharp = b.fosSharp.data();
    m.k.focusSharpness(cur + gp, dn + gp, n, sharp);
    auto first = [gp, n](uint64_t x) { return uint32_t(std::min<uint64_t>(n, x <= gp ? 0 : (x - gp + 1) / 2)); };
    if (roi) {
        b.acc.fosRoi += sumRange(sharp, first(fo.ui16ROILeft), first(uint64_t(fo.ui16ROIRight) + 1));
    }
    if (ty >= 0) {
        for (int t = 0; t < m.fosTiles; t++) {
            b.acc.fosGrid[ty][t] += sumRange(sharp, first(m.fosRange[t][0]), first(m.fosRange[t][1]));
        }
    }
}

void WhiteBalanceRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y) {
    const CI_MODULE_WBS &w = f.reg->stats.sWhiteBalanceStats;
    const int rois = std::min(w.ui8ActiveROI + 1, 2);
    const int32_t rgbOff = w.ui16RGBOffset / 16, yOff = w.ui16YOffset / 16;
    // the gamma-encoded row (12-bit codes) on the statistics scale, 1.0 = 1024, computed in the sums of each
    // region that covers the row
    const int16_t *r12 = b.r12.data(), *g12 = b.g12.data(), *b12 = b.b12.data();
    for (int k = 0; k < rois; k++) {
        if (y < w.aRoiTop[k] || y > w.aRoiBottom[k] || w.aRoiLeft[k] >= f.W) {
            continue;
        }
        const uint32_t right = std::min<uint32_t>(w.aRoiRight[k], f.W - 1);
        const int32_t thresholds[4] = {w.aRMax[k] / 2, w.aGMax[k] / 2, w.aBMax[k] / 2, w.aYMax[k] / 2 - yOff};
        // values stay below 2^17, so blocks of 4096 pixels are summed in 32 bits, then added to the totals
        constexpr uint32_t kBlock = 4096;
        Accumulators &a = b.acc;
        for (uint32_t x0 = w.aRoiLeft[k]; x0 <= right; x0 += kBlock) {
            const uint32_t x1 = std::min(right + 1u, x0 + kBlock);
            uint32_t v[13];
            m.k.whiteBalanceSums(r12, g12, b12, x0, x1, rgbOff, thresholds, v);
            const uint32_t ws0 = v[0], ws1 = v[1], ws2 = v[2], wc0 = v[3], wc1 = v[4], wc2 = v[5], av0 = v[6],
                           av1 = v[7], av2 = v[8], hs0 = v[9], hs1 = v[10], hs2 = v[11], hc = v[12];
            a.wbsWhiteSum[k][0] += ws0, a.wbsWhiteSum[k][1] += ws1, a.wbsWhiteSum[k][2] += ws2;
            a.wbsWhiteCount[k][0] += wc0, a.wbsWhiteCount[k][1] += wc1, a.wbsWhiteCount[k][2] += wc2;
            a.wbsAvg[k][0] += av0, a.wbsAvg[k][1] += av1, a.wbsAvg[k][2] += av2;
            a.wbsHighSum[k][0] += hs0, a.wbsHighSum[k][1] += hs1, a.wbsHighSum[k][2] += hs2;
            a.wbsHighCount[k] += hc;
        }
    }
}

void HistogramRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y) {
    const uint32_t W = f.W;
    const CI_MODULE_HIS &h = f.reg->stats.sHistStats;
    const int ty = gridRow(y, h.ui16Top, h.ui16Height);
    const uint16_t *map = m.hisMap, *luma = b.hisLuma.data();
    // 64-bin counts of column ranges (with the luma kept, by the histogramBins kernel), in four interleaved sets
    // so that runs of one value (flat areas) do not wait on each other's counts; a grid tile's 16 bins of 64 codes are the sums of four of its 64 bins of 16
    // codes, so each pixel is counted once
    uint32_t global[64] = {};
    auto count = [&](auto input) {
        auto range = [&](uint32_t x, uint32_t end, uint32_t bins[64]) {
            if (m.hisIdentity) {
                std::fill(bins, bins + 64, 0u);
                if (x < end) {
                    m.k.histogramBins(luma + x, end - x, bins);
                }
                return;
            }
            uint32_t four[4][64] = {};
            for (; x + 3 < end; x += 4) {
                four[0][input(luma[x]) >> 4]++;
                four[1][input(luma[x + 1]) >> 4]++;
                four[2][input(luma[x + 2]) >> 4]++;
                four[3][input(luma[x + 3]) >> 4]++;
            }
            for (; x < end; x++) {
                four[0][input(luma[x]) >> 4]++;
            }
            for (int bin = 0; bin < 64; bin++) {
                bins[bin] = four[0][bin] + four[1][bin] + four[2][bin] + four[3][bin];
            }
        };
        uint32_t bins[64];
        if (ty < 0 || m.hisTiles == 0) {
            range(0, W, global);
            return;
        }
        const uint32_t first = m.hisRange[0][0], end = m.hisRange[m.hisTiles - 1][1];
        range(0, first, global);
        for (int t = 0; t < m.hisTiles; t++) {
            range(m.hisRange[t][0], m.hisRange[t][1], bins);
            for (int bin = 0; bin < 64; bin++) {
                global[bin] += bins[bin];
            }
            uint32_t *region = b.acc.hisRegion[ty][t];
            for (int q = 0; q < 16; q++) {
                region[q] += bins[4 * q] + bins[4 * q + 1] + bins[4 * q + 2] + bins[4 * q + 3];
            }
        }
        range(end, W, bins);
        for (int bin = 0; bin < 64; bin++) {
            global[bin] += bins[bin];
        }
    };
    // the default offset and scale keep the luma: one look-up less per pixel
    if (m.hisIdentity) {
        count([](uint16_t v) { return uint32_t(v); });
    } else {
        count([map](uint16_t v) { return uint32_t(map[v]); });
    }
    for (int bin = 0; bin < 64; bin++) {
        b.acc.hisGlobal[bin] += global[bin];
    }
}

void WriteStatistics(const Accumulators &a, const FrameContext &f, bool error, uint8_t privateValue, uint8_t flicker,
                     uint8_t *out) {
    namespace L = stats_layout;
    std::memset(out, 0, kIspStatsSize);
    const uint32_t e = f.eOutput;
    if (e & CI_SAVE_EXS_GLOBAL) {
        for (int ch = 0; ch < 4; ch++) {
            put32(out, L::kExsGlobal + 4 * ch, a.exsGlobal[ch]);
        }
    }
    if (e & CI_SAVE_EXS_REGION) {
        for (int r = 0; r < kGrid; r++) {
            for (int c = 0; c < kGrid; c++) {
                for (int ch = 0; ch < 4; ch++) {
                    put16(out, L::kExsRegion + 64 * r + 8 * c + 2 * ch, a.exsRegion[r][c][ch]);
                }
            }
        }
    }
    if (e & CI_SAVE_FOS_ROI) {
        put32(out, L::kFosRoi, a.fosRoi);
    }
    if (e & CI_SAVE_FOS_GRID) {
        for (int r = 0; r < kGrid; r++) {
            for (int c = 0; c < kGrid; c++) {
                put32(out, L::kFosGrid + 64 * r + 4 * c, a.fosGrid[r][c]);
            }
        }
    }
    if (e & CI_SAVE_WHITEBALANCE) {
        for (int k = 0; k < 2; k++) {
            const size_t b = L::kWbsRoi + 64 * k;
            for (int ch = 0; ch < 3; ch++) {
                put32(out, b + 8 * ch, a.wbsWhiteSum[k][ch]);
                put32(out, b + 4 + 8 * ch, a.wbsWhiteCount[k][ch]);
                put32(out, b + 24 + 4 * ch, a.wbsAvg[k][ch]);
                put32(out, b + 36 + 4 * ch, a.wbsHighSum[k][ch]);
            }
            put32(out, b + 48, a.wbsHighCount[k]);
        }
    }
    if (e & CI_SAVE_HIST_GLOBAL) {
        for (int b = 0; b < 64; b++) {
            put32(out, L::kHisGlobal + 4 * b, a.hisGlobal[b]);
        }
    }
    if (e & CI_SAVE_HIST_REGION) {
        for (int r = 0; r < kGrid; r++) {
            for (int c = 0; c < kGrid; c++) {
                for (int b = 0; b < 16; b++) {
                    put32(out, L::kHisRegion + 64 * (kGrid * r + c) + 4 * b, a.hisRegion[r][c][b]);
                }
            }
        }
    }
    if (e & CI_SAVE_WHITEBALANCE_EXT) {
        for (int r = 0; r < kGrid; r++) {
            for (int c = 0; c < kGrid; c++) {
                const size_t b = L::kAwsGrid + 128 * r + 16 * c;
                put32(out, b, a.awsSum[r][c][kRed]);
                put32(out, b + 4, a.awsSum[r][c][kBlue]);
                put32(out, b + 8, a.awsSum[r][c][kGreen]);
                put32(out, b + 12, a.awsCount[r][c] & 0x3FFFFFu);
            }
        }
    }
    put32(out, L::kStatus, (error ? 1u : 0u) | (uint32_t(privateValue) << 16));
    if (e & CI_SAVE_FLICKER) {
        out[L::kFlicker] = flicker;
    }
}

} // namespace isp
} // namespace norva_sim
