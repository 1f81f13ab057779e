/* Image enhancer (memory colours), vibrancy and sharpening of the ISP image model. */
#include "sim_isp_enhance.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

// The loops below carry no dependence between iterations; GCC is told so, other compilers find it themselves.
#if defined(__GNUC__) && !defined(__clang__)
#define NORVA_IVDEP _Pragma("GCC ivdep")
#else
#define NORVA_IVDEP
#endif

namespace norva_sim {
namespace isp {

namespace {

inline float clampf01(float v, float hi) { return v < 0.0f ? 0.0f : (v > hi ? hi : v); }

/** Rounded to the nearest 10-bit code (half up: the value is not negative once clamped). */
inline uint16_t toCode(float v) { return static_cast<uint16_t>(clampf01(v, 1023.0f) + 0.5f); }

void decodeSlot(const CI_MODULE_MIE &r, int j, EnhancerTables &t, int slot) {
    MemoryColour &c = t.mc[slot];
    const double minY = r.aGaussMinY[j] / 1023.0;
    const double scaleY = r.aGaussScaleY[j] / 16.0;
    const double windowScale = minY < 1.0 ? scaleY / (1.0 - minY) : 0.0;
    for (int v = 0; v < 1024; v++) {
        const double y = std::min(std::max((v - 64) / 876.0, 0.0), 1.0);
        const double pos = (0.5 * y + 0.25 - minY) * windowScale;
        t.slice[slot][v] = static_cast<int8_t>(pos >= 0.0 && pos < 1.0 ? int(pos * 4.0) : -1);
    }
    // The position does not decrease with the code (every step of it rounds monotonically and the window's scale
    // is not negative): outside below, slices 0 to 3 in order, outside above; each part may be empty.
    int lo = 0;
    while (lo < 1024 && t.slice[slot][lo] < 0) {
        lo++;
    }
    int hi = lo;
    while (hi < 1024 && t.slice[slot][hi] >= 0) {
        hi++;
    }
    int32_t *step = t.sliceStep[slot];
    step[0] = lo - 1;
    step[4] = hi - 1;
    for (int k = 1; k < 4; k++) {
        int from = lo;
        while (from < hi && t.slice[slot][from] < k) {
            from++;
        }
        step[k] = from - 1;
    }
    for (int i = 0; i < 4; i++) {
        const double gain = r.aGaussGain[4 * j + i] / 256.0;
        for (int q = 0; q < EnhancerTables::kWeightEntries; q++) {
            const double w = std::floor(256.0 * gain * std::exp(-0.5 * q / EnhancerTables::kWeightSteps) + 0.5);
            t.weight[slot][i][q] = static_cast<uint8_t>(std::min(w, 255.0));
        }
        // a pixel at or beyond the table's end (q >= 32) is outside the ellipse
        t.weight[slot][i][EnhancerTables::kWeightEntries] = 0;
        int zero = EnhancerTables::kWeightEntries;
        while (zero > 0 && t.weight[slot][i][zero - 1] == 0) {
            zero--;
        }
        t.zeroFrom[slot][i] = zero;
        const float sv = r.aGaussScale[4 * j + i] / 255.0f;
        c.slice2[i] = sv * sv;
    }
    c.kb = r.aGaussKB[j];
    c.kr = r.aGaussKR[j];
    c.centreCb = r.aGaussCB[j] / 1023.0f;
    c.centreCr = r.aGaussCR[j] / 1023.0f;
    c.gaussCos = r.aGaussRot[2 * j] / 128.0f;
    c.gaussSin = r.aGaussRot[2 * j + 1] / 128.0f;
    c.yScale = r.aYScale[j] / 16.0f;
    c.yOffset = r.aYOffset[j] / 8192.0f;
    c.cScale = r.aCScale[j] / 16.0f;
    c.hueCos = r.aRot[2 * j] / 128.0f;
    c.hueSin = r.aRot[2 * j + 1] / 128.0f;
}

} // namespace

bool BuildEnhancer(EnhancerTables &t, const CI_MODULE_MIE &mie, const CI_MODULE_SHA &sha) {
    if (t.valid && std::memcmp(&t.mieKey, &mie, sizeof(mie)) == 0 && std::memcmp(&t.shaKey, &sha, sizeof(sha)) == 0) {
        return false;
    }
    t.valid = true;
    std::memset(t.weightPad, 0, sizeof(t.weightPad));
    t.mieKey = mie;
    t.shaKey = sha;

    t.slots = 0;
    if (mie.bMemoryColour) {
        for (int j = 0; j < 3; j++) {
            bool any = false;
            for (int i = 0; i < 4; i++) {
                any = any || mie.aGaussGain[4 * j + i] != 0;
            }
            if (any) {
                decodeSlot(mie, j, t, t.slots++);
            }
        }
    }
    t.vibrancy = mie.bVibrancy != 0;
    for (int i = 0; i < 32; i++) {
        t.vibMul[i] = mie.aVibrancySatMul[i] / 256.0f;
    }
    t.vibMul[32] = t.vibMul[31];
    t.vibIdentity = true;
    for (int i = 0; i < 32; i++) {
        t.vibStep[i] = t.vibMul[i + 1] - t.vibMul[i];
        t.vibIdentity = t.vibIdentity && mie.aVibrancySatMul[i] == 256;
    }

    t.sharpen = sha.ui8Strength != 0;
    t.w0 = sha.aGainWeight[0];
    t.w1 = sha.aGainWeight[1];
    t.w2 = sha.aGainWeight[2];
    t.threshold = sha.ui8Threshold;
    t.strength = sha.ui8Strength / 64.0f;
    const int limit = int(sha.ui8ELWScale) + 2 * int(sha.i8ELWOffset);
    t.limit = limit > 0 ? 4.0f * float(limit) : 0.0f;
    // For m in (n, n + 1], a point p lies below m when p <= n and at or above it when p > n.
    for (int n = 0; n <= 256; n++) {
        int above = 0, similar = 0;
        for (int k = 0; k < 7; k++) {
            above += sha.aDNAvoid[k] <= n ? 1 : 0;
            similar += sha.aDNSimil[k] > n ? 1 : 0;
        }
        t.gate[n] = sha.bDenoiseBypass != 0 ? 1.0f : (above > similar ? float(above - similar) / 7.0f : 0.0f);
    }
    return true;
}

namespace {

/**
 * Memory colours of n pixels. A pixel that no slot weighs keeps its samples (every change is then 0), so a slot
 * whose weights are all 0 over the pixels adds nothing and pixels no slot weighs are not rewritten.
 */
void memoryColours(const EnhancerTables &t, uint16_t *Y, uint16_t *C0, uint16_t *C2, uint32_t W, float *scratch) {
    // Rows of W floats: luma 0..1, chroma centred (codes), the changes, and the weight inputs of a slot.
    float *__restrict y = scratch, *__restrict cb = scratch + W, *__restrict cr = scratch + 2 * W;
    float *__restrict dY = scratch + 3 * W, *__restrict dCb = scratch + 4 * W, *__restrict dCr = scratch + 5 * W;
    float *__restrict q = scratch + 6 * W, *__restrict w = scratch + 7 * W;
    NORVA_IVDEP
    for (uint32_t x = 0; x < W; x++) {
        y[x] = clampf01((float(Y[x]) - 64.0f) / 876.0f, 1.0f);
        cb[x] = float(C2[x]) - 512.0f;
        cr[x] = float(C0[x]) - 512.0f;
        dY[x] = dCb[x] = dCr[x] = 0.0f;
    }
    bool changed = false;
    for (int j = 0; j < t.slots; j++) {
        const MemoryColour &c = t.mc[j];
        const int8_t *slice = t.slice[j];
        // the ellipse's distance without the slice values: q = (u kb)^2 + (v kr)^2 along its axes, the
        // slice value squared multiplying it (kept below the table's end so that the product stays finite)
        NORVA_IVDEP
        for (uint32_t x = 0; x < W; x++) {
            const float dx = cb[x] * (1.0f / 1024.0f) - c.centreCb, dz = cr[x] * (1.0f / 1024.0f) - c.centreCr;
            const float u = (c.gaussCos * dx + c.gaussSin * dz) * c.kb;
            const float v = (c.gaussCos * dz - c.gaussSin * dx) * c.kr;
            q[x] = std::min(u * u + v * v, 1e9f);
        }
        bool weighs = false;
        for (uint32_t x = 0; x < W; x++) {
            // a pixel outside the luma window takes slice 0 and weight 0, one beyond q = 32 the table's last
            // entry, 0
            const int s = slice[Y[x]];
            const int si = s < 0 ? 0 : s;
            const float d = std::min(q[x] * c.slice2[si], 32.0f);
            const uint8_t weight = t.weight[j][si][int(d * float(EnhancerTables::kWeightSteps))];
            w[x] = s < 0 ? 0.0f : float(weight) / 256.0f;
            weighs = weighs || (s >= 0 && weight != 0);
        }
        if (!weighs) {
            continue;
        }
        changed = true;
        const float yBase = 0.5f + 0.5f * c.yOffset - 0.5f * c.yScale;
        const float a = c.cScale * c.hueCos - 1.0f, b = c.cScale * c.hueSin;
        NORVA_IVDEP
        for (uint32_t x = 0; x < W; x++) {
            // target luma (y - 0.5) yScale + 0.5 + yOffset / 2; chroma rotated and scaled
            dY[x] += w[x] * (y[x] * (c.yScale - 1.0f) + yBase) * 876.0f;
            dCb[x] += w[x] * (a * cb[x] - b * cr[x]);
            dCr[x] += w[x] * (b * cb[x] + a * cr[x]);
        }
    }
    if (!changed) {
        return;
    }
    NORVA_IVDEP
    for (uint32_t x = 0; x < W; x++) {
        Y[x] = toCode(float(Y[x]) + dY[x]);
        C2[x] = toCode(512.0f + cb[x] + dCb[x]);
        C0[x] = toCode(512.0f + cr[x] + dCr[x]);
    }
}

void vibrancy(const EnhancerTables &t, uint16_t *C0, uint16_t *C2, uint32_t W, float *scratch) {
    float *__restrict q = scratch + 6 * W, *__restrict w = scratch + 7 * W;
    NORVA_IVDEP
    for (uint32_t x = 0; x < W; x++) {
        const float a = float(C0[x]) - 512.0f, b = float(C2[x]) - 512.0f;
        q[x] = clampf01(std::sqrt(a * a + b * b) * (31.0f / 512.0f), 31.0f);
    }
    NORVA_IVDEP
    for (uint32_t x = 0; x < W; x++) {
        const int i = int(q[x]);
        w[x] = t.vibMul[i] + (q[x] - float(i)) * t.vibStep[i];
    }
    NORVA_IVDEP
    for (uint32_t x = 0; x < W; x++) {
        C0[x] = toCode(512.0f + (float(C0[x]) - 512.0f) * w[x]);
        C2[x] = toCode(512.0f + (float(C2[x]) - 512.0f) * w[x]);
    }
}

/** Sharpening of luma samples [x0, x1) of a row from the padded copy p (p[-2] to p[W + 1] readable). */
void sharpenSpan(const EnhancerTables &t, uint16_t *Y, const uint16_t *p, uint32_t x0, uint32_t x1) {
    for (uint32_t x = x0; x < x1; x++) {
        const uint16_t *q = p + x;
        const float hp = (2.0f * t.w0 * q[0] - t.w1 * float(q[-1] + q[1]) - t.w2 * float(q[-2] + q[2])) / 128.0f;
        const float mag = std::fabs(hp) / 4.0f; /* 8-bit codes */
        const float cored = mag - t.threshold;
        if (cored <= 0.0f) {
            continue;
        }
        const int n = int(std::ceil(mag)) - 1;
        const float gate = t.gate[n < 0 ? 0 : (n > 256 ? 256 : n)];
        float d = (hp < 0.0f ? -4.0f : 4.0f) * cored * gate * t.strength;
        d = d > t.limit ? t.limit : (d < -t.limit ? -t.limit : d);
        Y[x] = toCode(float(q[0]) + d);
    }
}

/** The row padded by two samples mirrored at each end, into s; returns the row's first sample in s. */
const uint16_t *padRow(const uint16_t *Y, uint32_t W, uint16_t *s) {
    uint16_t *p = s + 2;
    std::memcpy(p, Y, W * sizeof(uint16_t));
    p[-1] = p[1];
    p[-2] = p[2];
    p[W] = p[W - 2];
    p[W + 1] = p[W - 3];
    return p;
}

} // namespace

void EnhanceRow(const EnhancerTables &t, uint16_t *Y, uint16_t *C0, uint16_t *C2, uint32_t W, float *scratch) {
    if (t.slots > 0) {
        memoryColours(t, Y, C0, C2, W, scratch);
    }
    if (t.vibrancy && !t.vibIdentity) {
        vibrancy(t, C0, C2, W, scratch);
    }
}

void SharpenRow(const EnhancerTables &t, uint16_t *Y, uint32_t W, uint16_t *s) {
    if (!t.sharpen || W < 3) {
        return;
    }
    sharpenSpan(t, Y, padRow(Y, W, s), 0, W);
}

#if defined(__x86_64__) && defined(__GNUC__)

/*
 * The AVX2 kernels: eight pixels a step with the arithmetic of the baseline in the same order (no fused
 * multiply-add), the look-ups as gathers; the pixels left over go through the baseline code.
 */
namespace {

#define ENH_AVX2 __attribute__((target("avx2")))

/** Rounded to the nearest 10-bit code, as toCode. */
ENH_AVX2 inline __m256i toCode8(__m256 v) {
    v = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1023.0f));
    return _mm256_cvttps_epi32(_mm256_add_ps(v, _mm256_set1_ps(0.5f)));
}

ENH_AVX2 inline __m256i load8(const uint16_t *p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

ENH_AVX2 inline void store8(uint16_t *p, __m256i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p),
                     _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

/**
 * Entries i (0 to 31) of a table of 32 floats held in four registers: permutes by the low 3 bits, blends by bits
 * 3 and 4 (cheaper than a gather).
 */
ENH_AVX2 inline __m256 lookUp32(const __m256 *table, __m256 bit3, __m256 bit4, __m256i i) {
    const __m256 lo =
        _mm256_blendv_ps(_mm256_permutevar8x32_ps(table[0], i), _mm256_permutevar8x32_ps(table[1], i), bit3);
    const __m256 hi =
        _mm256_blendv_ps(_mm256_permutevar8x32_ps(table[2], i), _mm256_permutevar8x32_ps(table[3], i), bit3);
    return _mm256_blendv_ps(lo, hi, bit4);
}

/** Vibrancy of eight pixels' chroma codes (epi32), in place; mul and step: vibMul and vibStep, 8 to a register. */
ENH_AVX2 inline void vibrancy8(const __m256 *mul, const __m256 *step, __m256i &c0, __m256i &c2) {
    const __m256 mid = _mm256_set1_ps(512.0f);
    const __m256 a = _mm256_sub_ps(_mm256_cvtepi32_ps(c0), mid), b = _mm256_sub_ps(_mm256_cvtepi32_ps(c2), mid);
    __m256 q = _mm256_mul_ps(_mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(a, a), _mm256_mul_ps(b, b))),
                             _mm256_set1_ps(31.0f / 512.0f));
    q = _mm256_min_ps(_mm256_max_ps(q, _mm256_setzero_ps()), _mm256_set1_ps(31.0f));
    const __m256i i = _mm256_cvttps_epi32(q);
    // the blends take the sign bits: bits 3 and 4 of the index shifted there
    const __m256 bit3 = _mm256_castsi256_ps(_mm256_slli_epi32(i, 28)),
                 bit4 = _mm256_castsi256_ps(_mm256_slli_epi32(i, 27));
    const __m256 w = _mm256_add_ps(lookUp32(mul, bit3, bit4, i), _mm256_mul_ps(_mm256_sub_ps(q, _mm256_cvtepi32_ps(i)),
                                                                               lookUp32(step, bit3, bit4, i)));
    c0 = toCode8(_mm256_add_ps(mid, _mm256_mul_ps(a, w)));
    c2 = toCode8(_mm256_add_ps(mid, _mm256_mul_ps(b, w)));
}

} // namespace

ENH_AVX2 void EnhanceRowAvx2(const EnhancerTables &t, uint16_t *Y, uint16_t *C0, uint16_t *C2, uint32_t W,
                             float *scratch) {
    const bool vib = t.vibrancy && !t.vibIdentity;
    if (t.slots == 0 && !vib) {
        return;
    }
    const __m256 mid = _mm256_set1_ps(512.0f), zero = _mm256_setzero_ps();
    const __m256i byte = _mm256_set1_epi32(0xFF);
    __m256 vibMul[4], vibStep[4];
    for (int k = 0; k < 4; k++) {
        vibMul[k] = _mm256_loadu_ps(t.vibMul + 8 * k);
        vibStep[k] = _mm256_loadu_ps(t.vibStep + 8 * k);
    }
    uint32_t x = 0;
    for (; x + 8 <= W; x += 8) {
        __m256i y10 = load8(Y + x), c0 = load8(C0 + x), c2 = load8(C2 + x);
        bool changed = false;
        if (t.slots > 0) {
            const __m256 yf = _mm256_cvtepi32_ps(y10);
            __m256 y = zero; /* luma on 0..1: worked out (a division) for the first slot that weighs a pixel */
            const __m256 cb = _mm256_sub_ps(_mm256_cvtepi32_ps(c2), mid),
                         cr = _mm256_sub_ps(_mm256_cvtepi32_ps(c0), mid);
            __m256 dY = zero, dCb = zero, dCr = zero;
            for (int j = 0; j < t.slots; j++) {
                const MemoryColour &c = t.mc[j];
                const __m256 k = _mm256_set1_ps(1.0f / 1024.0f);
                const __m256 dx = _mm256_sub_ps(_mm256_mul_ps(cb, k), _mm256_set1_ps(c.centreCb));
                const __m256 dz = _mm256_sub_ps(_mm256_mul_ps(cr, k), _mm256_set1_ps(c.centreCr));
                const __m256 gc = _mm256_set1_ps(c.gaussCos), gs = _mm256_set1_ps(c.gaussSin);
                const __m256 u =
                    _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(gc, dx), _mm256_mul_ps(gs, dz)), _mm256_set1_ps(c.kb));
                const __m256 v =
                    _mm256_mul_ps(_mm256_sub_ps(_mm256_mul_ps(gc, dz), _mm256_mul_ps(gs, dx)), _mm256_set1_ps(c.kr));
                const __m256 q =
                    _mm256_min_ps(_mm256_add_ps(_mm256_mul_ps(u, u), _mm256_mul_ps(v, v)), _mm256_set1_ps(1e9f));
                // the luma slice from the steps of the code: compares instead of a look-up
                const int32_t *step = t.sliceStep[j];
                const __m256i inside = _mm256_andnot_si256(_mm256_cmpgt_epi32(y10, _mm256_set1_epi32(step[4])),
                                                           _mm256_cmpgt_epi32(y10, _mm256_set1_epi32(step[0])));
                const __m256i above =
                    _mm256_add_epi32(_mm256_add_epi32(_mm256_cmpgt_epi32(y10, _mm256_set1_epi32(step[1])),
                                                      _mm256_cmpgt_epi32(y10, _mm256_set1_epi32(step[2]))),
                                     _mm256_cmpgt_epi32(y10, _mm256_set1_epi32(step[3])));
                const __m256i si = _mm256_and_si256(_mm256_sub_epi32(_mm256_setzero_si256(), above), inside);
                const __m256 s2 =
                    _mm256_permutevar8x32_ps(_mm256_broadcast_ps(reinterpret_cast<const __m128 *>(c.slice2)), si);
                const __m256 d = _mm256_min_ps(_mm256_mul_ps(q, s2), _mm256_set1_ps(32.0f));
                const __m256i idx = _mm256_cvttps_epi32(_mm256_mul_ps(d, _mm256_set1_ps(128.0f)));
                // pixels past every slice's last non-zero weight (most, for a narrow colour) need no look-up
                const __m256i live = _mm256_and_si256(
                    inside, _mm256_cmpgt_epi32(
                                _mm256_permutevar8x32_epi32(_mm256_broadcastsi128_si256(_mm_loadu_si128(
                                                                reinterpret_cast<const __m128i *>(t.zeroFrom[j]))),
                                                            si),
                                idx));
                if (_mm256_testz_si256(live, live)) {
                    continue;
                }
                const __m256i off = _mm256_add_epi32(
                    _mm256_mullo_epi32(si, _mm256_set1_epi32(EnhancerTables::kWeightEntries + 1)), idx);
                const __m256i wi = _mm256_and_si256(
                    _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int *>(&t.weight[j][0][0]), off, 1),
                                     byte),
                    inside);
                if (_mm256_testz_si256(wi, wi)) {
                    continue;
                }
                if (!changed) {
                    y = _mm256_min_ps(
                        _mm256_max_ps(_mm256_div_ps(_mm256_sub_ps(yf, _mm256_set1_ps(64.0f)), _mm256_set1_ps(876.0f)),
                                      zero),
                        _mm256_set1_ps(1.0f));
                    changed = true;
                }
                const __m256 w = _mm256_mul_ps(_mm256_cvtepi32_ps(wi), _mm256_set1_ps(1.0f / 256.0f));
                const float yBase = 0.5f + 0.5f * c.yOffset - 0.5f * c.yScale;
                const float a = c.cScale * c.hueCos - 1.0f, b = c.cScale * c.hueSin;
                const __m256 av = _mm256_set1_ps(a), bv = _mm256_set1_ps(b);
                const __m256 ty =
                    _mm256_add_ps(_mm256_mul_ps(y, _mm256_set1_ps(c.yScale - 1.0f)), _mm256_set1_ps(yBase));
                dY = _mm256_add_ps(dY, _mm256_mul_ps(_mm256_mul_ps(w, ty), _mm256_set1_ps(876.0f)));
                dCb = _mm256_add_ps(dCb, _mm256_mul_ps(w, _mm256_sub_ps(_mm256_mul_ps(av, cb), _mm256_mul_ps(bv, cr))));
                dCr = _mm256_add_ps(dCr, _mm256_mul_ps(w, _mm256_add_ps(_mm256_mul_ps(bv, cb), _mm256_mul_ps(av, cr))));
            }
            if (changed) {
                y10 = toCode8(_mm256_add_ps(yf, dY));
                c2 = toCode8(_mm256_add_ps(_mm256_add_ps(mid, cb), dCb));
                c0 = toCode8(_mm256_add_ps(_mm256_add_ps(mid, cr), dCr));
                store8(Y + x, y10);
            }
        }
        if (vib) {
            vibrancy8(vibMul, vibStep, c0, c2);
            changed = true;
        }
        if (changed) {
            store8(C0 + x, c0);
            store8(C2 + x, c2);
        }
    }
    if (x < W) {
        EnhanceRow(t, Y + x, C0 + x, C2 + x, W - x, scratch);
    }
}

ENH_AVX2 void SharpenRowAvx2(const EnhancerTables &t, uint16_t *Y, uint32_t W, uint16_t *s) {
    if (!t.sharpen || W < 3) {
        return;
    }
    const uint16_t *p = padRow(Y, W, s);
    const __m256 w0 = _mm256_set1_ps(2.0f * t.w0), w1 = _mm256_set1_ps(t.w1), w2 = _mm256_set1_ps(t.w2);
    const __m256 threshold = _mm256_set1_ps(t.threshold), strength = _mm256_set1_ps(t.strength);
    const __m256 limit = _mm256_set1_ps(t.limit), negLimit = _mm256_set1_ps(-t.limit);
    const __m256 zero = _mm256_setzero_ps(), sign = _mm256_set1_ps(-0.0f);
    uint32_t x = 0;
    for (; x + 8 <= W; x += 8) {
        const uint16_t *q = p + x;
        const __m256i q0 = load8(q);
        const __m256 f0 = _mm256_cvtepi32_ps(q0);
        const __m256 s1 = _mm256_cvtepi32_ps(_mm256_add_epi32(load8(q - 1), load8(q + 1)));
        const __m256 s2 = _mm256_cvtepi32_ps(_mm256_add_epi32(load8(q - 2), load8(q + 2)));
        const __m256 hp = _mm256_mul_ps(
            _mm256_sub_ps(_mm256_sub_ps(_mm256_mul_ps(w0, f0), _mm256_mul_ps(w1, s1)), _mm256_mul_ps(w2, s2)),
            _mm256_set1_ps(1.0f / 128.0f));
        const __m256 mag = _mm256_mul_ps(_mm256_andnot_ps(sign, hp), _mm256_set1_ps(0.25f));
        const __m256 cored = _mm256_sub_ps(mag, threshold);
        const __m256 on = _mm256_cmp_ps(cored, zero, _CMP_GT_OQ);
        if (_mm256_testz_ps(on, on)) {
            continue;
        }
        __m256i n = _mm256_sub_epi32(_mm256_cvttps_epi32(_mm256_ceil_ps(mag)), _mm256_set1_epi32(1));
        n = _mm256_min_epi32(_mm256_max_epi32(n, _mm256_setzero_si256()), _mm256_set1_epi32(256));
        __m256 d = _mm256_mul_ps(
            _mm256_mul_ps(_mm256_mul_ps(cored, _mm256_set1_ps(4.0f)), _mm256_i32gather_ps(t.gate, n, 4)), strength);
        // the change takes the sign of the high-pass (products round the same whatever their sign)
        d = _mm256_blendv_ps(d, _mm256_xor_ps(d, sign), _mm256_cmp_ps(hp, zero, _CMP_LT_OQ));
        d = _mm256_min_ps(_mm256_max_ps(d, negLimit), limit);
        const __m256i r = _mm256_blendv_epi8(q0, toCode8(_mm256_add_ps(f0, d)), _mm256_castps_si256(on));
        store8(Y + x, r);
    }
    sharpenSpan(t, Y, p, x, W);
}

#undef ENH_AVX2

#endif

} // namespace isp
} // namespace norva_sim
