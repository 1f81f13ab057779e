/*
 * ISP model, the tone mapper: the tables built from its registers and the per-row mapping of the luma and chroma
 * planes (after the RGB-to-YUV conversion). Conventions: platform/isp-model.md, "Tone mapper".
 *
 * The block works on 8-bit levels with headroom: a normalised luma Y (0 to 1, the conversion's 10-bit luma / 1024)
 * sits at level 64 + 128 · Y and a chroma C (−0.5 to 0.5) at 128 · C about the mid level, so the default input
 * span −64…64 about 128 is exactly the nominal luma range.
 */
#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim_isp_internal.h"

namespace norva_sim {
namespace isp {

namespace {

/** The registers the tables depend on (every field but the column index). */
bool sameTone(const CI_MODULE_TNM &a, const CI_MODULE_TNM &b) {
    return std::memcmp(a.aCurve, b.aCurve, sizeof(a.aCurve)) == 0 && (a.bBypassTNM != 0) == (b.bBypassTNM != 0) &&
           a.histFlattenMin == b.histFlattenMin && a.histFlattenThreshold[0] == b.histFlattenThreshold[0] &&
           a.histFlattenThreshold[1] == b.histFlattenThreshold[1] && a.updateWeights == b.updateWeights &&
           a.chromaSaturationScale == b.chromaSaturationScale &&
           a.chromaConfigurationScale == b.chromaConfigurationScale && a.chromaIOScale == b.chromaIOScale &&
           a.localColWidth[0] == b.localColWidth[0] && a.localColumns == b.localColumns &&
           a.localWeights == b.localWeights && a.inputLumaOffset == b.inputLumaOffset &&
           a.inputLumaScale == b.inputLumaScale && a.outputLumaOffset == b.outputLumaOffset &&
           a.outputLumaScale == b.outputLumaScale;
}

/** The global curve at t in [0, 1]: through (0, 0) and the knots ((i + 1) / 64, point / 2048), linear, the last
 *  segment extended to t = 1. */
double curveAt(const QOR_UINT16 *points, double t) {
    const double x = t * 64.0;
    const int k = std::min(static_cast<int>(x), 62); /* segment from knot k - 1 (k = 0: the origin) to knot k */
    const double y0 = k == 0 ? 0.0 : points[k - 1] / 2048.0;
    const double y1 = points[k] / 2048.0;
    if (k < 62 || x < 63.0) {
        return y0 + (x - k) * (y1 - y0);
    }
    // past the last knot: the segment from knot 61 to knot 62 continued
    const double a = points[61] / 2048.0;
    return y1 + (x - 63.0) * (y1 - a);
}

/**
 * The tone mapper's pass-intact set-up: the chroma scales, the weights and the flattening all 0. No working set-up
 * writes that (black-and-white mode keeps the full colour confidence), so the block reads it as "pass the data
 * intact", as it reads its bypass bit.
 */
bool passIntact(const CI_MODULE_TNM &tnm) {
    return tnm.histFlattenMin == 0 && tnm.histFlattenThreshold[0] == 0 && tnm.histFlattenThreshold[1] == 0 &&
           tnm.chromaSaturationScale == 0 && tnm.chromaConfigurationScale == 0 && tnm.localWeights == 0 &&
           tnm.updateWeights == 0;
}

constexpr int kLevels = 1024; /* curve inputs, t = index / 1023 */
/* a column's shift (mid scale − mean index) lies in [−(kLevels / 2 − 1), kLevels / 2] */
constexpr int kPad = kLevels / 2;

} // namespace

bool BuildToneLut(IspModel::Impl &m, const CI_MODULE_TNM &tnm) {
    if (m.tnmValid && sameTone(m.tnmKey, tnm)) {
        return false;
    }
    m.tnmValid = true;
    m.tnmKey = tnm;
    m.tnmLut.resize(1024);
    m.tnmIn.resize(1024);
    m.tnmOut.resize(kLevels);
    m.tnmChroma.resize(kLevels);
    m.tnmChromaOfLuma.resize(1024);
    m.tnmEntry.resize(1024);
    if (tnm.bBypassTNM || passIntact(tnm)) {
        for (int v = 0; v < 1024; v++) {
            m.tnmLut[v] = static_cast<uint16_t>(v);
            m.tnmChromaOfLuma[v] = 4096;
            m.tnmEntry[v] = uint64_t(4096u) | uint64_t(v) << 48;
        }
        m.tnmLocalWeight = 0;
        m.tnmIdentity = true;
        return true;
    }
    // registers: offsets U8.4 (levels), luma scales U4.12, chroma in/out U2.14, saturation U4.8, confidence U6.10
    const double inOffset = tnm.inputLumaOffset / 16.0, inScale = tnm.inputLumaScale / 4096.0;
    const double outOffset = tnm.outputLumaOffset / 16.0, outScale = tnm.outputLumaScale / 4096.0;
    const double io = tnm.chromaIOScale / 16384.0, saturation = tnm.chromaSaturationScale / 256.0;
    const double confidence = tnm.chromaConfigurationScale / 1024.0;
    for (int i = 0; i < kLevels; i++) {
        const double t = i / double(kLevels - 1);
        const double y = std::min(std::max(curveAt(tnm.aCurve, t), 0.0), 1.0);
        const double level = outOffset + y * 256.0 * outScale;
        m.tnmOut[i] = static_cast<uint16_t>(clampi(static_cast<int32_t>(std::lround(level * 4.0)), 0, 1023));
        // chroma follows the curve's luma gain as far as the confidence says (1: fully, 0: not at all)
        const double gain = (y + 1.0 / 64.0) / (t + 1.0 / 64.0);
        const double follow = std::min(std::max(1.0 + confidence * (gain - 1.0), 0.0), 4.0);
        // chroma level 128 · C in, 4 × level out on the 10-bit scale: 10-bit codes times io / 2
        m.tnmChroma[i] = static_cast<int32_t>(std::lround(io * saturation * follow / 2.0 * 4096.0));
    }
    for (int v = 0; v < 1024; v++) {
        const double level = 64.0 + v / 8.0;
        const double t = std::min(std::max((level - inOffset) * inScale / 256.0, 0.0), 1.0);
        const uint16_t index = static_cast<uint16_t>(std::lround(t * (kLevels - 1)));
        m.tnmIn[v] = index;
        m.tnmLut[v] = m.tnmOut[index];
        m.tnmChromaOfLuma[v] = m.tnmChroma[index];
        m.tnmEntry[v] =
            uint64_t(static_cast<uint32_t>(m.tnmChromaOfLuma[v])) | uint64_t(index) << 32 | uint64_t(m.tnmLut[v]) << 48;
    }
    m.tnmOutPadded.resize(kLevels + 2 * kPad);
    for (int i = 0; i < kLevels + 2 * kPad; i++) {
        m.tnmOutPadded[i] = m.tnmOut[clampi(i - kPad, 0, kLevels - 1)];
    }
    m.tnmLocalWeight = std::min<uint32_t>(tnm.localWeights, 1024u);
    m.tnmColumns = uint32_t(tnm.localColumns) + 1u;
    m.tnmColumnWidth = tnm.localColWidth[0];
    bool identity = m.tnmLocalWeight == 0;
    for (int v = 0; v < 1024 && identity; v++) {
        identity = m.tnmLut[v] == v && m.tnmChromaOfLuma[v] == 4096;
    }
    m.tnmIdentity = identity;
    return true;
}

namespace {

/**
 * Chroma of a row times the gain of each pixel's luma (4096 = 1, the low 32 bits of its entry), about the mid
 * level, rounded, 10-bit.
 */
ISP_INLINE void toneChromaBody(const uint64_t *__restrict entry, uint32_t W, uint16_t *__restrict C0,
                               uint16_t *__restrict C2) {
    for (uint32_t x = 0; x < W; x++) {
        const int32_t g = static_cast<int32_t>(static_cast<uint32_t>(entry[x]));
        C0[x] = static_cast<uint16_t>(clampi(512 + (((int32_t(C0[x]) - 512) * g + 2048) >> 12), 0, 1023));
        C2[x] = static_cast<uint16_t>(clampi(512 + (((int32_t(C2[x]) - 512) * g + 2048) >> 12), 0, 1023));
    }
}
void toneChromaBase(const uint64_t *entry, uint32_t W, uint16_t *C0, uint16_t *C2) { toneChromaBody(entry, W, C0, C2); }
#if NORVA_ISP_AVX2
/** The gains (low 32 bits) of 8 entries, in order. */
ISP_TARGET_AVX2 inline __m256i toneGains8(const uint64_t *entry) {
    const __m256 a = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(entry)));
    const __m256 b = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(entry + 4)));
    // pixels 0, 1, 4, 5 | 2, 3, 6, 7, then in order
    return _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0x88)), 0xD8);
}

/** 8 chroma samples times their gains about the mid level, rounded, not yet clamped (32-bit lanes). */
ISP_TARGET_AVX2 inline __m256i toneChroma8(const uint16_t *c, __m256i gain) {
    const __m256i v = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(c)));
    const __m256i p = _mm256_mullo_epi32(_mm256_sub_epi32(v, _mm256_set1_epi32(512)), gain);
    return _mm256_add_epi32(_mm256_srai_epi32(_mm256_add_epi32(p, _mm256_set1_epi32(2048)), 12),
                            _mm256_set1_epi32(512));
}

/** The same, 16 pixels a step. */
ISP_TARGET_AVX2 void toneChromaAvx2(const uint64_t *entry, uint32_t W, uint16_t *C0, uint16_t *C2) {
    uint32_t x = 0;
    for (; x + 16 <= W; x += 16) {
        const __m256i g0 = toneGains8(entry + x), g1 = toneGains8(entry + x + 8);
        uint16_t *planes[2] = {C0, C2};
        for (uint16_t *c : planes) {
            // the clamp to 10 bits on the packed values: packing saturates below at 0
            const __m256i packed = _mm256_min_epu16(
                _mm256_packus_epi32(toneChroma8(c + x, g0), toneChroma8(c + x + 8, g1)), _mm256_set1_epi16(1023));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(c + x), _mm256_permute4x64_epi64(packed, 0xD8));
        }
    }
    toneChromaBody(entry + x, W - x, C0 + x, C2 + x);
}
#endif

/** The curve input index of each pixel (bits 32-47 of its entry) summed over n pixels. */
ISP_INLINE uint32_t toneSumBody(const uint64_t *__restrict entry, uint32_t n) {
    uint32_t sum = 0;
    for (uint32_t x = 0; x < n; x++) {
        sum += static_cast<uint32_t>(entry[x] >> 32) & 0xFFFFu;
    }
    return sum;
}
uint32_t toneChromaSumBase(const uint64_t *entry, uint32_t n, uint16_t *C0, uint16_t *C2) {
    toneChromaBody(entry, n, C0, C2);
    return toneSumBody(entry, n);
}

/** Global result (the top 16 bits of each entry) blended with the local one by w (1024 = local only). */
ISP_INLINE void toneBlendBody(const uint64_t *__restrict entry, const uint16_t *__restrict local, uint32_t n,
                              uint32_t w, uint16_t *__restrict Y) {
    const int32_t wg = int32_t(1024 - w), wl = int32_t(w);
    for (uint32_t x = 0; x < n; x++) {
        Y[x] = static_cast<uint16_t>((int32_t(entry[x] >> 48) * wg + int32_t(local[x]) * wl + 512) >> 10);
    }
}
void toneBlendBase(const uint64_t *entry, const uint16_t *local, uint32_t n, uint32_t w, uint16_t *Y) {
    toneBlendBody(entry, local, n, w, Y);
}
#if NORVA_ISP_AVX2
/** The high 32 bits (curve input index | global result << 16) of 8 entries, in order. */
ISP_TARGET_AVX2 inline __m256i toneHigh8(const uint64_t *entry) {
    const __m256 a = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(entry)));
    const __m256 b = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(entry + 4)));
    return _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0xDD)), 0xD8);
}

/**
 * toneChroma and toneSum of a column in one pass over its entries: the chroma scaled, and the curve input indices
 * summed (the order of the sum does not matter).
 */
ISP_TARGET_AVX2 uint32_t toneChromaSumAvx2(const uint64_t *entry, uint32_t n, uint16_t *C0, uint16_t *C2) {
    __m256i sum = _mm256_setzero_si256();
    const __m256i index = _mm256_set1_epi32(0xFFFF), top = _mm256_set1_epi16(1023);
    uint32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        __m256i gains[2];
        for (int h = 0; h < 2; h++) {
            const __m256 a =
                _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(entry + x + 8 * h)));
            const __m256 b =
                _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(entry + x + 8 * h + 4)));
            // pixels 0, 1, 4, 5 | 2, 3, 6, 7: the gains put in order, the indices summed as they come
            gains[h] = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0x88)), 0xD8);
            sum = _mm256_add_epi32(sum, _mm256_and_si256(_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0xDD)), index));
        }
        uint16_t *planes[2] = {C0, C2};
        for (uint16_t *c : planes) {
            const __m256i packed = _mm256_min_epu16(
                _mm256_packus_epi32(toneChroma8(c + x, gains[0]), toneChroma8(c + x + 8, gains[1])), top);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(c + x), _mm256_permute4x64_epi64(packed, 0xD8));
        }
    }
    toneChromaBody(entry + x, n - x, C0 + x, C2 + x);
    const __m128i s = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    const __m128i t = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
    return uint32_t(_mm_cvtsi128_si32(_mm_add_epi32(t, _mm_shuffle_epi32(t, 0xB1)))) + toneSumBody(entry + x, n - x);
}

/** 8 global results blended with the local ones (32-bit lanes). */
ISP_TARGET_AVX2 inline __m256i toneBlend8(const uint64_t *entry, const uint16_t *local, __m256i wg, __m256i wl) {
    const __m256i global = _mm256_srli_epi32(toneHigh8(entry), 16);
    const __m256i l = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(local)));
    const __m256i s = _mm256_add_epi32(_mm256_mullo_epi32(global, wg), _mm256_mullo_epi32(l, wl));
    return _mm256_srai_epi32(_mm256_add_epi32(s, _mm256_set1_epi32(512)), 10);
}

ISP_TARGET_AVX2 void toneBlendAvx2(const uint64_t *entry, const uint16_t *local, uint32_t n, uint32_t w, uint16_t *Y) {
    const __m256i wg = _mm256_set1_epi32(int32_t(1024 - w)), wl = _mm256_set1_epi32(int32_t(w));
    uint32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m256i packed = _mm256_packus_epi32(toneBlend8(entry + x, local + x, wg, wl),
                                                   toneBlend8(entry + x + 8, local + x + 8, wg, wl));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(Y + x), _mm256_permute4x64_epi64(packed, 0xD8));
    }
    toneBlendBody(entry + x, local + x, n - x, w, Y + x);
}
#endif

/** The global result of each entry (its top 16 bits). */
ISP_INLINE void toneGlobalBody(const uint64_t *__restrict entry, uint32_t n, uint16_t *__restrict Y) {
    for (uint32_t x = 0; x < n; x++) {
        Y[x] = static_cast<uint16_t>(entry[x] >> 48);
    }
}
ISP_KERNEL(toneGlobal, (const uint64_t *entry, uint32_t n, uint16_t *Y), (entry, n, Y))

} // namespace

void ToneKernels(Kernels *k, bool avx2) {
    (void)avx2;
    k->toneChroma = ISP_PICK(toneChroma, avx2);
    k->toneChromaSum = ISP_PICK(toneChromaSum, avx2);
    k->toneBlend = ISP_PICK(toneBlend, avx2);
    k->toneGlobal = ISP_PICK(toneGlobal, avx2);
}

void ToneMapRow(const IspModel::Impl &m, Band &b, uint32_t W, uint16_t *Y, uint16_t *C0, uint16_t *C2) {
    if (m.tnmIdentity) {
        return;
    }
    // the look-ups alone in one loop (the processor does them faster than any vector gather), the arithmetic in
    // vector kernels: one entry per pixel, of its luma (chroma gain | curve input index << 32 | global result << 48).
    // The row is mapped a piece at a time (a column of the local correction), so that the entries of a piece are
    // still in the first-level cache when the kernels read them and do not push the look-up tables out of it.
    const uint64_t *entries = m.tnmEntry.data();
    uint64_t *__restrict entry = b.tnmEntry.data();
    const auto lookUp = [entries, entry, Y](uint32_t x0, uint32_t n) {
        const uint16_t *__restrict y = Y + x0;
        uint32_t x = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // four luma codes read at once, the look-ups by their 16-bit fields: fewer loads than one per code
        for (; x + 4 <= n; x += 4) {
            uint64_t y4;
            std::memcpy(&y4, y + x, sizeof(y4));
            entry[x] = entries[y4 & 0xFFFFu];
            entry[x + 1] = entries[(y4 >> 16) & 0xFFFFu];
            entry[x + 2] = entries[(y4 >> 32) & 0xFFFFu];
            entry[x + 3] = entries[y4 >> 48];
        }
#endif
        for (; x < n; x++) {
            entry[x] = entries[y[x]];
        }
    };
    const uint32_t w = m.tnmLocalWeight, cw = m.tnmColumnWidth;
    if (w == 0 || cw == 0) {
        constexpr uint32_t kPiece = 256;
        for (uint32_t x0 = 0; x0 < W; x0 += kPiece) {
            const uint32_t n = std::min(kPiece, W - x0);
            lookUp(x0, n);
            m.k.toneChroma(entry, n, C0 + x0, C2 + x0);
            m.k.toneGlobal(entry, n, Y + x0);
        }
        return;
    }
    // local correction: per column of the row, the curve of the input moved so that the column's mean input
    // sits at mid scale, blended with the global result by the local weight
    // the output table padded on both sides with its end values takes any input index plus shift unclamped
    const uint16_t *out = m.tnmOutPadded.data() + kPad;
    uint16_t *__restrict local = b.tnmLocal.data();
    for (uint32_t c = 0; c < m.tnmColumns; c++) {
        const uint32_t x0 = c * cw;
        if (x0 >= W) {
            break;
        }
        const uint32_t x1 = c + 1 == m.tnmColumns ? W : std::min(W, x0 + cw);
        const uint32_t n = x1 - x0;
        lookUp(x0, n);
        // the chroma of the column scaled in the same pass (the columns cover the row)
        const uint32_t sum = m.k.toneChromaSum(entry, n, C0 + x0, C2 + x0);
        const int32_t shift = kLevels / 2 - static_cast<int32_t>((uint64_t(sum) + n / 2) / n);
        const uint16_t *__restrict moved = out + shift;
        // the two halves of the column in one loop: two independent look-ups a step, which the processor overlaps
        const uint32_t half = n / 2;
        const uint64_t *__restrict e1 = entry + half;
        uint16_t *__restrict l1 = local + half;
        for (uint32_t k = 0; k < half; k++) {
            local[k] = moved[static_cast<uint32_t>(entry[k] >> 32) & 0xFFFFu];
            l1[k] = moved[static_cast<uint32_t>(e1[k] >> 32) & 0xFFFFu];
        }
        if ((n & 1u) != 0) {
            local[n - 1] = moved[static_cast<uint32_t>(entry[n - 1] >> 32) & 0xFFFFu];
        }
        m.k.toneBlend(entry, local, n, w, Y + x0);
    }
}

} // namespace isp
} // namespace norva_sim
