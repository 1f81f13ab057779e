/* Image enhancer (memory colours), vibrancy and sharpening of the ISP image model. */
#include "sim_isp_enhance.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
    for (int i = 0; i < 4; i++) {
        const double gain = r.aGaussGain[4 * j + i] / 256.0;
        for (int q = 0; q < EnhancerTables::kWeightEntries; q++) {
            const double w = std::floor(256.0 * gain * std::exp(-0.5 * q / EnhancerTables::kWeightSteps) + 0.5);
            t.weight[slot][i][q] = static_cast<uint8_t>(std::min(w, 255.0));
        }
        // a pixel at or beyond the table's end (q >= 32) is outside the ellipse
        t.weight[slot][i][EnhancerTables::kWeightEntries] = 0;
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

void EnhanceRow(const EnhancerTables &t, uint16_t *Y, uint16_t *C0, uint16_t *C2, uint32_t W, float *scratch) {
    if (t.slots == 0 && !t.vibrancy) {
        return;
    }
    // Rows of W floats: luma 0..1, chroma centred (codes), the changes, and the weight inputs of a slot.
    float *__restrict y = scratch, *__restrict cb = scratch + W, *__restrict cr = scratch + 2 * W;
    float *__restrict dY = scratch + 3 * W, *__restrict dCb = scratch + 4 * W, *__restrict dCr = scratch + 5 * W;
    float *__restrict q = scratch + 6 * W, *__restrict w = scratch + 7 * W;
    if (t.slots > 0) {
        NORVA_IVDEP
        for (uint32_t x = 0; x < W; x++) {
            y[x] = clampf01((float(Y[x]) - 64.0f) / 876.0f, 1.0f);
            cb[x] = float(C2[x]) - 512.0f;
            cr[x] = float(C0[x]) - 512.0f;
            dY[x] = dCb[x] = dCr[x] = 0.0f;
        }
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
            NORVA_IVDEP
            for (uint32_t x = 0; x < W; x++) {
                // without branches: a pixel outside the luma window takes slice 0 and weight 0, one beyond
                // q = 32 the table's last entry, 0
                const int s = slice[Y[x]];
                const int si = s < 0 ? 0 : s;
                const float d = std::min(q[x] * c.slice2[si], 32.0f);
                const float weight = float(t.weight[j][si][int(d * float(EnhancerTables::kWeightSteps))]) / 256.0f;
                w[x] = s < 0 ? 0.0f : weight;
            }
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
        NORVA_IVDEP
        for (uint32_t x = 0; x < W; x++) {
            Y[x] = toCode(float(Y[x]) + dY[x]);
            C2[x] = toCode(512.0f + cb[x] + dCb[x]);
            C0[x] = toCode(512.0f + cr[x] + dCr[x]);
        }
    }
    if (t.vibrancy) {
        NORVA_IVDEP
        for (uint32_t x = 0; x < W; x++) {
            const float a = float(C0[x]) - 512.0f, b = float(C2[x]) - 512.0f;
            q[x] = clampf01(std::sqrt(a * a + b * b) * (31.0f / 512.0f), 31.0f);
        }
        NORVA_IVDEP
        for (uint32_t x = 0; x < W; x++) {
            const int i = int(q[x]);
            w[x] = t.vibMul[i] + (q[x] - float(i)) * (t.vibMul[i + 1] - t.vibMul[i]);
        }
        NORVA_IVDEP
        for (uint32_t x = 0; x < W; x++) {
            C0[x] = toCode(512.0f + (float(C0[x]) - 512.0f) * w[x]);
            C2[x] = toCode(512.0f + (float(C2[x]) - 512.0f) * w[x]);
        }
    }
}

void SharpenRow(const EnhancerTables &t, uint16_t *Y, uint32_t W, uint16_t *s) {
    if (!t.sharpen || W < 3) {
        return;
    }
    // the row padded by two samples mirrored at each end
    uint16_t *p = s + 2;
    std::memcpy(p, Y, W * sizeof(uint16_t));
    p[-1] = p[1];
    p[-2] = p[2];
    p[W] = p[W - 2];
    p[W + 1] = p[W - 3];
    for (uint32_t x = 0; x < W; x++) {
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

} // namespace isp
} // namespace norva_sim
