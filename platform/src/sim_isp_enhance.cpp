/* Image enhancer (memory colours), vibrancy and sharpening of the ISP image model. */
#include "sim_isp_enhance.h"

#include <cmath>
#include <cstring>

namespace norva_sim {
namespace isp {

namespace {

inline float clampf01(float v, float hi) { return v < 0.0f ? 0.0f : (v > hi ? hi : v); }

inline uint16_t toCode(float v) { return static_cast<uint16_t>(std::lround(clampf01(v, 1023.0f))); }

void decodeSlot(const CI_MODULE_MIE &r, int j, MemoryColour &c) {
    c.minY = r.aGaussMinY[j] / 1023.0f;
    const float scaleY = r.aGaussScaleY[j] / 16.0f;
    c.windowScale = c.minY < 1.0f ? scaleY / (1.0f - c.minY) : 0.0f;
    for (int i = 0; i < 4; i++) {
        c.gain[i] = r.aGaussGain[4 * j + i] / 256.0f;
        c.invCb[i] = r.aGaussScale[4 * j + i] * float(r.aGaussKB[j]) / 255.0f;
        c.invCr[i] = r.aGaussScale[4 * j + i] * float(r.aGaussKR[j]) / 255.0f;
    }
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
                decodeSlot(mie, j, t.mc[t.slots++]);
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
    t.denoise = sha.bDenoiseBypass == 0;
    std::memcpy(t.simil, sha.aDNSimil, sizeof(t.simil));
    std::memcpy(t.avoid, sha.aDNAvoid, sizeof(t.avoid));
    return true;
}

void EnhanceRow(const EnhancerTables &t, uint16_t *Y, uint16_t *C0, uint16_t *C2, uint32_t W) {
    if (t.slots > 0) {
        for (uint32_t x = 0; x < W; x++) {
            const float y = clampf01((float(Y[x]) - 64.0f) / 876.0f, 1.0f);
            const float cb = (float(C2[x]) - 512.0f), cr = (float(C0[x]) - 512.0f);
            float dY = 0.0f, dCb = 0.0f, dCr = 0.0f;
            for (int j = 0; j < t.slots; j++) {
                const MemoryColour &c = t.mc[j];
                const float pos = (0.5f * y + 0.25f - c.minY) * c.windowScale;
                if (!(pos >= 0.0f && pos < 1.0f)) {
                    continue;
                }
                const int slice = int(pos * 4.0f);
                const float dx = cb / 1024.0f - c.centreCb, dz = cr / 1024.0f - c.centreCr;
                const float u = (c.gaussCos * dx + c.gaussSin * dz) * c.invCb[slice];
                const float v = (c.gaussCos * dz - c.gaussSin * dx) * c.invCr[slice];
                const float q = u * u + v * v;
                if (q >= 32.0f) {
                    continue;
                }
                // The weight in steps of 1/256, so that a region's far tail changes nothing.
                const float w = std::floor(256.0f * c.gain[slice] * std::exp(-0.5f * q) + 0.5f) / 256.0f;
                if (w == 0.0f) {
                    continue;
                }
                const float yT = (y - 0.5f) * c.yScale + 0.5f + 0.5f * c.yOffset;
                const float cbT = c.cScale * (c.hueCos * cb - c.hueSin * cr);
                const float crT = c.cScale * (c.hueSin * cb + c.hueCos * cr);
                dY += w * (yT - y) * 876.0f;
                dCb += w * (cbT - cb);
                dCr += w * (crT - cr);
            }
            if (dY != 0.0f || dCb != 0.0f || dCr != 0.0f) {
                Y[x] = toCode(float(Y[x]) + dY);
                C2[x] = toCode(512.0f + cb + dCb);
                C0[x] = toCode(512.0f + cr + dCr);
            }
        }
    }
    if (t.vibrancy) {
        for (uint32_t x = 0; x < W; x++) {
            const float a = float(C0[x]) - 512.0f, b = float(C2[x]) - 512.0f;
            const float sat = clampf01(std::sqrt(a * a + b * b) / 512.0f, 1.0f) * 31.0f;
            const int i = int(sat);
            const float f = sat - float(i);
            const float mul = t.vibMul[i] + f * (t.vibMul[i + 1] - t.vibMul[i]);
            C0[x] = toCode(512.0f + a * mul);
            C2[x] = toCode(512.0f + b * mul);
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
        float gate = 1.0f;
        if (t.denoise) {
            int above = 0, similar = 0;
            for (int k = 0; k < 7; k++) {
                above += float(t.avoid[k]) < mag ? 1 : 0;
                similar += float(t.simil[k]) >= mag ? 1 : 0;
            }
            gate = above > similar ? float(above - similar) / 7.0f : 0.0f;
        }
        float d = (hp < 0.0f ? -4.0f : 4.0f) * cored * gate * t.strength;
        d = d > t.limit ? t.limit : (d < -t.limit ? -t.limit : d);
        Y[x] = toCode(float(q[0]) + d);
    }
}

} // namespace isp
} // namespace norva_sim
