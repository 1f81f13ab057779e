/*
 * ISP model, the scalers and outputs: bilinear encoder and display scalers on the 4:4:4 planes, the encoder's
 * chroma subsampling and packing, the display's YUV to RGB with the display gamut mapper and packing.
 * Conventions: platform/isp-model.md.
 */
#include <algorithm>
#include <cstdlib>

#include "sim_isp_internal.h"

namespace norva_sim {
namespace isp {

Scaler ScalerOf(const CI_MODULE_SCALER &s, uint32_t inW, uint32_t inH) {
    Scaler sc;
    if (s.bBypassScaler) {
        sc.outW = inW;
        sc.outH = inH;
        return sc;
    }
    sc.outW = (uint32_t(s.aOutputSize[0]) + 1u) * 2u;
    sc.outH = uint32_t(s.aOutputSize[1]) + 1u;
    sc.pitchX = s.aPitch[0] == 0 ? 32768u : s.aPitch[0];
    sc.pitchY = s.aPitch[1] == 0 ? 32768u : s.aPitch[1];
    sc.offX = s.aOffset[0];
    sc.offY = s.aOffset[1];
    sc.identity = sc.pitchX == 32768u && sc.pitchY == 32768u && sc.offX == 0 && sc.offY == 0 && sc.outW <= inW;
    return sc;
}

uint32_t FirstSourceRow(const Scaler &sc, uint32_t oy, uint32_t H) {
    if (sc.identity) {
        return std::min(oy, H - 1);
    }
    const uint64_t pos = (uint64_t(sc.offY) << 16) + uint64_t(oy) * sc.pitchY * 2u;
    return std::min<uint32_t>(uint32_t(pos >> 16), H - 1);
}

uint32_t LastSourceRow(const Scaler &sc, uint32_t oy, uint32_t H) {
    if (sc.identity) {
        return std::min(oy, H - 1);
    }
    const uint64_t pos = (uint64_t(sc.offY) << 16) + uint64_t(oy) * sc.pitchY * 2u;
    return std::min(std::min<uint32_t>(uint32_t(pos >> 16), H - 1) + 1u, H - 1);
}

void PrepareTable(ScaleTable &table, const Scaler &sc, uint32_t W) {
    if (sc.identity) {
        return;
    }
    if (table.index.size() < sc.outW) {
        table.index.resize(sc.outW);
        table.index1.resize(sc.outW);
        table.frac.resize(sc.outW);
    }
    for (uint32_t x = 0; x < sc.outW; x++) {
        const uint64_t pos = (uint64_t(sc.offX) << 16) + uint64_t(x) * sc.pitchX * 2u;
        table.index[x] = std::min<uint32_t>(uint32_t(pos >> 16), W - 1);
        table.index1[x] = std::min(table.index[x] + 1u, W - 1);
        table.frac[x] = static_cast<uint16_t>((pos >> 8) & 255u);
    }
    const uint32_t blocks = (sc.outW + 7) / 8;
    table.blockBase.resize(blocks);
    table.rel.resize(size_t(blocks) * 8);
    table.rel1.resize(size_t(blocks) * 8);
    table.windowed = true;
    for (uint32_t k = 0; k < blocks; k++) {
        const uint32_t base = table.index[8 * k]; /* the columns only move right */
        table.blockBase[k] = base;
        for (uint32_t x = 8 * k; x < 8 * k + 8; x++) {
            const uint32_t i = x < sc.outW ? table.index[x] : base, j = x < sc.outW ? table.index1[x] : base;
            table.rel[x] = i - base;
            table.rel1[x] = j - base;
            table.windowed = table.windowed && j - base < 16u;
        }
    }
}

uint32_t PlaneRowsNeeded(const FrameContext &f, bool enc, bool disp) {
    uint32_t rows = 1;
    if (enc) {
        const uint32_t vsub = f.encType.ui8VSubsampling == 2 ? 2u : 1u;
        for (uint32_t oy = 0; oy < f.encSc.outH; oy += vsub) {
            const uint32_t last = LastSourceRow(f.encSc, std::min(oy + vsub - 1, f.encSc.outH - 1), f.H);
            rows = std::max(rows, last - FirstSourceRow(f.encSc, oy, f.H) + 1);
        }
    }
    if (disp) {
        for (uint32_t oy = 0; oy < f.dispSc.outH; oy++) {
            rows = std::max(rows, LastSourceRow(f.dispSc, oy, f.H) - FirstSourceRow(f.dispSc, oy, f.H) + 1);
        }
    }
    return std::min(rows, f.H);
}

namespace {

/** Vertical step of the bilinear scaler: a × (256 − f) + b × f for each column. */
ISP_INLINE void blendRowsBody(const uint16_t *__restrict a, const uint16_t *__restrict b, uint32_t f, uint32_t W,
                              uint32_t *__restrict out) {
    const uint16_t wa = static_cast<uint16_t>(256u - f), wb = static_cast<uint16_t>(f);
    for (uint32_t x = 0; x < W; x++) {
        out[x] = uint32_t(a[x]) * wa + uint32_t(b[x]) * wb;
    }
}

/** Horizontal step of the bilinear scaler on the blended rows of the three planes, rounded back to 10 bits. */
ISP_INLINE void blendColumnsBody(const uint32_t *const v[3], const uint32_t *__restrict index,
                                 const uint32_t *__restrict index1, const uint16_t *__restrict frac, uint32_t n,
                                 uint16_t *__restrict o0, uint16_t *__restrict o1, uint16_t *__restrict o2) {
    const uint32_t *__restrict v0 = v[0], *__restrict v1 = v[1], *__restrict v2 = v[2];
    for (uint32_t x = 0; x < n; x++) {
        const uint32_t i = index[x], j = index1[x], fx = frac[x], gx = 256u - fx;
        o0[x] = static_cast<uint16_t>((v0[i] * gx + v0[j] * fx + 32768u) >> 16);
        o1[x] = static_cast<uint16_t>((v1[i] * gx + v1[j] * fx + 32768u) >> 16);
        o2[x] = static_cast<uint16_t>((v2[i] * gx + v2[j] * fx + 32768u) >> 16);
    }
}
/** One output row of a scaler from its two source rows a and b of each plane (fy: weight of b, 1/256). */
void scaleRowBase(const uint16_t *const a[3], const uint16_t *const b[3], uint32_t fy, uint32_t W, const ScaleTable &t,
                  uint32_t n, uint32_t *scratch, uint16_t *o0, uint16_t *o1, uint16_t *o2) {
    const uint32_t *blended[3];
    for (int p = 0; p < 3; p++) {
        blendRowsBody(a[p], b[p], fy, W, scratch + size_t(p) * W);
        blended[p] = scratch + size_t(p) * W;
    }
    blendColumnsBody(blended, t.index.data(), t.index1.data(), t.frac.data(), n, o0, o1, o2);
}
#if NORVA_ISP_AVX2
/**
 * The same, 8 output columns a step when the table is windowed: the 16 source values from the block's first
 * column are blended vertically (pairs of 16-bit products, exact) into two vectors and each column's two sources
 * picked from them by a permutation (plane rows are padded by 16 values for the loads past their end, which no
 * column picks). The last columns take the same arithmetic one by one; other tables blend the rows first.
 */
ISP_TARGET_AVX2 void scaleRowAvx2(const uint16_t *const a[3], const uint16_t *const b[3], uint32_t fy, uint32_t W,
                                  const ScaleTable &t, uint32_t n, uint32_t *scratch, uint16_t *o0, uint16_t *o1,
                                  uint16_t *o2) {
    uint16_t *outs[3] = {o0, o1, o2};
    if (!t.windowed) {
        const uint32_t *blended[3];
        for (int p = 0; p < 3; p++) {
            blendRowsBody(a[p], b[p], fy, W, scratch + size_t(p) * W);
            blended[p] = scratch + size_t(p) * W;
        }
        blendColumnsBody(blended, t.index.data(), t.index1.data(), t.frac.data(), n, o0, o1, o2);
        return;
    }
    const __m256i seven = _mm256_set1_epi32(7), full = _mm256_set1_epi32(256), half = _mm256_set1_epi32(32768);
    const __m256i wy = Pair16(static_cast<int16_t>(256u - fy), static_cast<int16_t>(fy));
    uint32_t x = 0;
    for (; x + 8 <= n; x += 8) {
        const uint32_t base = t.blockBase[x / 8];
        const __m256i ri = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t.rel.data() + x));
        const __m256i rj = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t.rel1.data() + x));
        const __m256i hiI = _mm256_cmpgt_epi32(ri, seven), hiJ = _mm256_cmpgt_epi32(rj, seven);
        const __m256i fx = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t.frac.data() + x)));
        const __m256i gx = _mm256_sub_epi32(full, fx);
        for (int p = 0; p < 3; p++) {
            const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a[p] + base));
            const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b[p] + base));
            // values 0-3 | 8-11 and 4-7 | 12-15, then 0-7 and 8-15
            const __m256i l = _mm256_madd_epi16(_mm256_unpacklo_epi16(va, vb), wy);
            const __m256i h = _mm256_madd_epi16(_mm256_unpackhi_epi16(va, vb), wy);
            const __m256i lo = _mm256_permute2x128_si256(l, h, 0x20), hi = _mm256_permute2x128_si256(l, h, 0x31);
            const __m256i vi =
                _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, ri), _mm256_permutevar8x32_epi32(hi, ri), hiI);
            const __m256i vj =
                _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, rj), _mm256_permutevar8x32_epi32(hi, rj), hiJ);
            const __m256i sum = _mm256_srli_epi32(
                _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(vi, gx), _mm256_mullo_epi32(vj, fx)), half), 16);
            const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(sum, sum), 0x08);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(outs[p] + x), _mm256_castsi256_si128(packed));
        }
    }
    const uint32_t wa = 256u - fy;
    for (; x < n; x++) {
        const uint32_t i = t.index[x], j = t.index1[x], fxs = t.frac[x], gxs = 256u - fxs;
        for (int p = 0; p < 3; p++) {
            const uint32_t vi = uint32_t(a[p][i]) * wa + uint32_t(b[p][i]) * fy;
            const uint32_t vj = uint32_t(a[p][j]) * wa + uint32_t(b[p][j]) * fy;
            outs[p][x] = static_cast<uint16_t>((vi * gxs + vj * fxs + 32768u) >> 16);
        }
    }
}
#endif

/**
 * YUV to RGB of one row (inputs in the hardware order) with the display gamut mapper's clip, 10-bit.
 * Σ a · (in + offset) = Σ a · in + Σ a · offset: products of 16-bit coefficients and 10-bit codes on 16-bit
 * lanes, sums taken modulo 2^32 (the exact sum fits 32 bits, the partial ones need not).
 */
ISP_INLINE void yuvToRgbBody(const int16_t *coeff, const int32_t *k, int32_t lo, int32_t hi,
                             const uint16_t *__restrict c0, const uint16_t *__restrict y, const uint16_t *__restrict c2,
                             uint32_t n, uint16_t *__restrict o0, uint16_t *__restrict o1, uint16_t *__restrict o2) {
    const int16_t a00 = coeff[0], a01 = coeff[1], a02 = coeff[2];
    const int16_t a10 = coeff[3], a11 = coeff[4], a12 = coeff[5];
    const int16_t a20 = coeff[6], a21 = coeff[7], a22 = coeff[8];
    const uint32_t k0 = uint32_t(k[0]), k1 = uint32_t(k[1]), k2 = uint32_t(k[2]);
    for (uint32_t x = 0; x < n; x++) {
        const int16_t i0 = static_cast<int16_t>(c0[x]), i1 = static_cast<int16_t>(y[x]),
                      i2 = static_cast<int16_t>(c2[x]);
        const uint32_t s0 = uint32_t(a00 * i0) + uint32_t(a01 * i1) + uint32_t(a02 * i2) + k0;
        const uint32_t s1 = uint32_t(a10 * i0) + uint32_t(a11 * i1) + uint32_t(a12 * i2) + k1;
        const uint32_t s2 = uint32_t(a20 * i0) + uint32_t(a21 * i1) + uint32_t(a22 * i2) + k2;
        o0[x] = static_cast<uint16_t>(clampi(static_cast<int32_t>(s0) >> 9, lo, hi));
        o1[x] = static_cast<uint16_t>(clampi(static_cast<int32_t>(s1) >> 9, lo, hi));
        o2[x] = static_cast<uint16_t>(clampi(static_cast<int32_t>(s2) >> 9, lo, hi));
    }
}
void yuvToRgbBase(const int16_t *coeff, const int32_t *k, int32_t lo, int32_t hi, const uint16_t *c0, const uint16_t *y,
                  const uint16_t *c2, uint32_t n, uint16_t *o0, uint16_t *o1, uint16_t *o2) {
    yuvToRgbBody(coeff, k, lo, hi, c0, y, c2, n, o0, o1, o2);
}
#if NORVA_ISP_AVX2
/** The same with 16 pixels a step, the products summed by pairs on 16-bit lanes (a clip within 0 ≤ lo ≤ hi). */
ISP_TARGET_AVX2 void yuvToRgbAvx2(const int16_t *coeff, const int32_t *k, int32_t lo, int32_t hi, const uint16_t *c0,
                                  const uint16_t *y, const uint16_t *c2, uint32_t n, uint16_t *o0, uint16_t *o1,
                                  uint16_t *o2) {
    uint32_t x = 0;
    if (0 <= lo && lo <= hi) {
        __m256i ab[3], c1[3], kk[3];
        for (int r = 0; r < 3; r++) {
            ab[r] = Pair16(coeff[3 * r], coeff[3 * r + 1]);
            c1[r] = Pair16(coeff[3 * r + 2], 0);
            kk[r] = _mm256_set1_epi32(k[r]);
        }
        // the clip on the packed 16-bit values: packing saturates below at 0 ≤ lo, above at 65535 ≥ hi
        const __m256i vlo = _mm256_set1_epi16(static_cast<int16_t>(lo)),
                      vhi = _mm256_set1_epi16(static_cast<int16_t>(hi));
        uint16_t *outs[3] = {o0, o1, o2};
        for (; x + 16 <= n; x += 16) {
            const Interleaved3 v = Interleave3(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(c0 + x)),
                                               _mm256_loadu_si256(reinterpret_cast<const __m256i *>(y + x)),
                                               _mm256_loadu_si256(reinterpret_cast<const __m256i *>(c2 + x)));
            for (int r = 0; r < 3; r++) {
                const __m256i a = _mm256_srai_epi32(_mm256_add_epi32(Sum3Lo(v, ab[r], c1[r]), kk[r]), 9);
                const __m256i b = _mm256_srai_epi32(_mm256_add_epi32(Sum3Hi(v, ab[r], c1[r]), kk[r]), 9);
                const __m256i packed = _mm256_packus_epi32(a, b);
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(outs[r] + x),
                                    _mm256_min_epu16(_mm256_max_epu16(packed, vlo), vhi));
            }
        }
    }
    yuvToRgbBody(coeff, k, lo, hi, c0 + x, y + x, c2 + x, n - x, o0 + x, o1 + x, o2 + x);
}
#endif

ISP_INLINE void packTripletsBody(pxlFormat format, const uint16_t *o0, const uint16_t *o1, const uint16_t *o2,
                                 uint32_t n, uint8_t *out) {
    PackTripletsInline(format, o0, o1, o2, n, out);
}
void packTripletsBase(pxlFormat format, const uint16_t *o0, const uint16_t *o1, const uint16_t *o2, uint32_t n,
                      uint8_t *out) {
    packTripletsBody(format, o0, o1, o2, n, out);
}
#if NORVA_ISP_AVX2
/** 16 10-bit values rounded to 8 bits, clamped to 255, in 16-bit lanes. */
ISP_TARGET_AVX2 inline __m256i to8x16(const uint16_t *p) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    return _mm256_min_epu16(_mm256_srli_epi16(_mm256_adds_epu16(v, _mm256_set1_epi16(2)), 2), _mm256_set1_epi16(255));
}

/**
 * The same; the 32-bit 8-bit formats 16 pixels a step, straight into the output: each component rounded to 8 bits
 * (the saturating addition keeps the largest values at 255 as the common body does), the words o2 | o1 << 8 |
 * o0 << 16 formed on 16-bit lanes and interleaved into pixel order.
 */
ISP_TARGET_AVX2 void packTripletsAvx2(pxlFormat format, const uint16_t *o0, const uint16_t *o1, const uint16_t *o2,
                                      uint32_t n, uint8_t *out) {
    if (format != RGB_888_32 && format != BGR_888_32) {
        packTripletsBody(format, o0, o1, o2, n, out);
        return;
    }
    uint32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m256i low = _mm256_or_si256(to8x16(o2 + x), _mm256_slli_epi16(to8x16(o1 + x), 8)),
                      high = to8x16(o0 + x);
        // pixels 0-3 | 8-11 and 4-7 | 12-15, then in order
        const __m256i a = _mm256_unpacklo_epi16(low, high), b = _mm256_unpackhi_epi16(low, high);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 4 * size_t(x)), _mm256_permute2x128_si256(a, b, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 4 * size_t(x) + 32),
                            _mm256_permute2x128_si256(a, b, 0x31));
    }
    packTripletsBody(format, o0 + x, o1 + x, o2 + x, n - x, out + 4 * size_t(x));
}
#endif

/** Output row oy of a scaler from the band's 4:4:4 plane rows: pointers to its Y, first and second chroma. */
void scaledRow(const IspModel::Impl &m, const FrameContext &f, Band &b, const Scaler &sc, const ScaleTable &table,
               uint32_t oy, int slot, const uint16_t **y, const uint16_t **c0, const uint16_t **c2) {
    const uint32_t W = f.W, H = f.H;
    if (sc.identity) {
        const size_t o = size_t(std::min(oy, H - 1) % f.planeRows) * W;
        *y = b.Y.data() + o;
        *c0 = b.C0.data() + o;
        *c2 = b.C2.data() + o;
        return;
    }
    const uint64_t pos = (uint64_t(sc.offY) << 16) + uint64_t(oy) * sc.pitchY * 2u;
    const uint32_t i0 = std::min<uint32_t>(uint32_t(pos >> 16), H - 1), i1 = std::min(i0 + 1u, H - 1);
    const uint32_t fy = uint32_t(pos >> 8) & 255u;
    const uint16_t *planes[3] = {b.Y.data(), b.C0.data(), b.C2.data()};
    uint16_t *outs[3] = {b.sY[slot].data(), b.sC0[slot].data(), b.sC2[slot].data()};
    // bilinear: the vertical blend of the two source rows first (exact in integers, so the order of the two
    // passes does not change the result), then the horizontal blend of each output column
    const uint16_t *rowA[3], *rowB[3];
    for (int p = 0; p < 3; p++) {
        rowA[p] = planes[p] + size_t(i0 % f.planeRows) * W;
        rowB[p] = planes[p] + size_t(i1 % f.planeRows) * W;
    }
    m.k.scaleRow(rowA, rowB, fy, W, table, sc.outW, b.scaleRow.data(), outs[0], outs[1], outs[2]);
    *y = outs[0];
    *c0 = outs[1];
    *c2 = outs[2];
}

/** Chroma averaged over 2 × 1 samples (below null) or 2 × 2 samples, rounded. */
ISP_INLINE void subsampleChroma(const uint16_t *__restrict c, const uint16_t *__restrict below, size_t pairs,
                                uint16_t *__restrict out) {
    if (below == nullptr) {
        for (size_t i = 0; i < pairs; i++) {
            out[i] = static_cast<uint16_t>((uint32_t(c[2 * i]) + c[2 * i + 1] + 1u) >> 1);
        }
        return;
    }
    for (size_t i = 0; i < pairs; i++) {
        out[i] = static_cast<uint16_t>((uint32_t(c[2 * i]) + c[2 * i + 1] + below[2 * i] + below[2 * i + 1] + 2u) >> 2);
    }
}

/** An encoder chroma row: both chroma planes subsampled (into s0 and s2), then packed. */
ISP_INLINE void encoderChromaBody(const uint16_t *c0, const uint16_t *c0Below, const uint16_t *c2,
                                  const uint16_t *c2Below, uint32_t pairs, unsigned depth, uint16_t *s0, uint16_t *s2,
                                  uint8_t *out) {
    subsampleChroma(c0, c0Below, pairs, s0);
    subsampleChroma(c2, c2Below, pairs, s2);
    PackChromaInline(s0, s2, pairs, depth, out);
}
void encoderChromaBase(const uint16_t *c0, const uint16_t *c0Below, const uint16_t *c2, const uint16_t *c2Below,
                       uint32_t pairs, unsigned depth, uint16_t *s0, uint16_t *s2, uint8_t *out) {
    encoderChromaBody(c0, c0Below, c2, c2Below, pairs, depth, s0, s2, out);
}
#if NORVA_ISP_AVX2
/** 16 subsampled chroma samples of one plane from 32 samples (and 32 below), 10-bit, in 16-bit lanes. */
ISP_TARGET_AVX2 inline __m256i subsample16(const uint16_t *c, const uint16_t *below) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(c));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(c + 16));
    if (below != nullptr) {
        a = _mm256_add_epi16(a, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(below)));
        b = _mm256_add_epi16(b, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(below + 16)));
    }
    // pair sums within each 128-bit half (pairs 0-3, 8-11 | 4-7, 12-15), put back in order
    const __m256i sums = _mm256_permute4x64_epi64(_mm256_hadd_epi16(a, b), 0xD8);
    return below != nullptr ? _mm256_srli_epi16(_mm256_add_epi16(sums, _mm256_set1_epi16(2)), 2)
                            : _mm256_srli_epi16(_mm256_add_epi16(sums, _mm256_set1_epi16(1)), 1);
}

/** The same, 16 pairs a step for 8-bit formats: the two chroma bytes of a pair form one little-endian word. */
ISP_TARGET_AVX2 void encoderChromaAvx2(const uint16_t *c0, const uint16_t *c0Below, const uint16_t *c2,
                                       const uint16_t *c2Below, uint32_t pairs, unsigned depth, uint16_t *s0,
                                       uint16_t *s2, uint8_t *out) {
    uint32_t i = 0;
    if (depth <= 8) {
        const __m256i two = _mm256_set1_epi16(2), top = _mm256_set1_epi16(255);
        for (; i + 16 <= pairs; i += 16) {
            const size_t k = 2 * size_t(i);
            const __m256i v0 = subsample16(c0 + k, c0Below != nullptr ? c0Below + k : nullptr);
            const __m256i v2 = subsample16(c2 + k, c2Below != nullptr ? c2Below + k : nullptr);
            const __m256i b0 = _mm256_min_epu16(_mm256_srli_epi16(_mm256_add_epi16(v0, two), 2), top);
            const __m256i b2 = _mm256_min_epu16(_mm256_srli_epi16(_mm256_add_epi16(v2, two), 2), top);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + k), _mm256_or_si256(b0, _mm256_slli_epi16(b2, 8)));
        }
    }
    const size_t k = 2 * size_t(i);
    encoderChromaBody(c0 + k, c0Below != nullptr ? c0Below + k : nullptr, c2 + k,
                      c2Below != nullptr ? c2Below + k : nullptr, pairs - i, depth, s0 + i, s2 + i,
                      out + (depth <= 8 ? k : 0));
}
#endif

ISP_INLINE void packLumaBody(const uint16_t *y10, uint32_t n, unsigned depth, uint8_t *out) {
    PackLumaInline(y10, n, depth, out);
}
void packLumaBase(const uint16_t *y10, uint32_t n, unsigned depth, uint8_t *out) { packLumaBody(y10, n, depth, out); }
#if NORVA_ISP_AVX2
/** The same; 8-bit luma 32 samples a step on 16-bit lanes. */
ISP_TARGET_AVX2 void packLumaAvx2(const uint16_t *y10, uint32_t n, unsigned depth, uint8_t *out) {
    uint32_t x = 0;
    if (depth <= 8) {
        for (; x + 32 <= n; x += 32) {
            // bytes of samples 0-7, 16-23 | 8-15, 24-31, then in order
            const __m256i packed = _mm256_packus_epi16(to8x16(y10 + x), to8x16(y10 + x + 16));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), _mm256_permute4x64_epi64(packed, 0xD8));
        }
    }
    packLumaBody(y10 + x, n - x, depth, out + x);
}
#endif

} // namespace

void ScaleKernels(Kernels *k, bool avx2) {
    (void)avx2;
    k->scaleRow = ISP_PICK(scaleRow, avx2);
    k->yuvToRgb = ISP_PICK(yuvToRgb, avx2);
    k->packTriplets = ISP_PICK(packTriplets, avx2);
    k->encoderChroma = ISP_PICK(encoderChroma, avx2);
    k->packLuma = ISP_PICK(packLuma, avx2);
}

void EncoderRows(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t ready) {
    if (!b.encY.active()) {
        return;
    }
    const Scaler &sc = f.encSc;
    const uint32_t vsub = f.encType.ui8VSubsampling == 2 ? 2u : 1u;
    const unsigned depth = f.encType.ui8BitDepth;
    const uint32_t pairs = sc.outW / 2;
    for (; b.encNext < b.encEnd; b.encNext += vsub) {
        const uint32_t oy = b.encNext;
        if (LastSourceRow(sc, std::min(oy + vsub - 1, sc.outH - 1), f.H) > ready) {
            return;
        }
        const uint16_t *y[2], *c0[2], *c2[2];
        for (uint32_t k = 0; k < vsub; k++) {
            const uint32_t row = std::min(oy + k, sc.outH - 1);
            scaledRow(m, f, b, sc, m.encTable, row, int(k), &y[k], &c0[k], &c2[k]);
            if (oy + k < sc.outH) {
                m.k.packLuma(y[k], sc.outW, depth, b.encY.row(oy + k));
                b.encY.commit(oy + k);
                if (f.ens) {
                    EncoderStatsRow(f, b, oy + k, y[k], sc.outW);
                }
            }
        }
        uint16_t *s0 = b.subC0.data(), *s2 = b.subC2.data();
        m.k.encoderChroma(c0[0], vsub == 2 ? c0[1] : nullptr, c2[0], vsub == 2 ? c2[1] : nullptr, pairs, depth, s0, s2,
                          b.encC.row(oy / vsub));
        b.encC.commit(oy / vsub);
    }
}

namespace {

/** The offsets of the display converter's outputs, put on the inputs they apply to, in input order. */
void YuvToRgbInputOffsets(const CI_MODULE_PLANECONV &pc, int32_t in[3]) {
    // The outer outputs take their chroma from the inputs in their own positions, or crossed (the converter
    // programmed with its outputs or its chroma inputs exchanged): whichever the outer rows weigh more.
    const auto mag = [&pc](int i, int j) { return std::abs(int32_t(pc.aCoeff[i][j])); };
    const bool crossed = mag(0, 2) + mag(2, 0) > mag(0, 0) + mag(2, 2);
    in[0] = crossed ? pc.aOffset[2] : pc.aOffset[0];
    in[1] = pc.aOffset[1];
    in[2] = crossed ? pc.aOffset[0] : pc.aOffset[2];
}

} // namespace

void DisplayRows(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t ready) {
    if (!b.disp.active()) {
        return;
    }
    const Scaler &sc = f.dispSc;
    const CI_MODULE_GAMUTMAPPER &gm = f.reg->sDisplayGamutMapper;
    const int32_t lo = std::max(0, int32_t(gm.i16ClipMin) * 1023 / 1024);
    const int32_t hi = std::min(1023, int32_t(gm.ui16ClipMax) * 1023 / 1024);
    const CI_MODULE_PLANECONV &pc = f.reg->sYCCToRGB;
    int16_t coeff[9];
    int32_t k[3];
    int32_t in[3];
    YuvToRgbInputOffsets(pc, in);
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            coeff[3 * i + j] = pc.aCoeff[i][j];
        }
        k[i] = int32_t(uint32_t(pc.aCoeff[i][0]) * uint32_t(in[0]) + uint32_t(pc.aCoeff[i][1]) * uint32_t(in[1]) +
                       uint32_t(pc.aCoeff[i][2]) * uint32_t(in[2]) + 256u);
    }
    uint16_t *o0 = b.o0.data(), *o1 = b.o1.data(), *o2 = b.o2.data();
    for (; b.dispNext < b.dispEnd && LastSourceRow(sc, b.dispNext, f.H) <= ready; b.dispNext++) {
        const uint32_t oy = b.dispNext;
        const uint16_t *y, *c0, *c2;
        scaledRow(m, f, b, sc, m.dispTable, oy, 0, &y, &c0, &c2);
        m.k.yuvToRgb(coeff, k, lo, hi, c0, y, c2, sc.outW, o0, o1, o2);
        m.k.packTriplets(f.dispType.eFmt, o0, o1, o2, sc.outW, b.disp.row(oy));
        b.disp.commit(oy);
    }
}

} // namespace isp
} // namespace norva_sim
