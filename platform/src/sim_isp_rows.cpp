/*
 * ISP model, the per-row image functions: look-up tables of the raw curve and gamma, then per window row the
 * imager window, black level and raw curve, lens shading, white-balance gains and clips, demosaic, RGB gains,
 * colour correction and main gamut mapper, gamma, RGB to YUV and the call of the tone mapper. Conventions:
 * platform/isp-model.md.
 */
#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim_isp_internal.h"

namespace norva_sim {
namespace isp {

namespace {

/**
 * Piecewise curve through (0, 0) and the knots, evaluated at x in [0, 1]: linear, or a monotone cubic
 * (Fritsch-Carlson tangents) through the same knots. Past the last knot the last segment is extended.
 */
class Curve {
public:
    void set(const double *kx, const double *ky, int n, bool cubic) {
        m_n = n + 1;
        m_x[0] = 0.0;
        m_y[0] = 0.0;
        for (int i = 0; i < n; i++) {
            m_x[i + 1] = kx[i];
            m_y[i + 1] = ky[i];
        }
        m_cubic = cubic;
        if (!cubic) {
            return;
        }
        double d[kMax];
        for (int i = 0; i + 1 < m_n; i++) {
            d[i] = (m_y[i + 1] - m_y[i]) / (m_x[i + 1] - m_x[i]);
        }
        m_m[0] = d[0];
        m_m[m_n - 1] = d[m_n - 2];
        for (int i = 1; i + 1 < m_n; i++) {
            m_m[i] = (d[i - 1] * d[i] <= 0.0) ? 0.0 : (d[i - 1] + d[i]) / 2.0;
        }
        for (int i = 0; i + 1 < m_n; i++) {
            if (d[i] == 0.0) {
                m_m[i] = m_m[i + 1] = 0.0;
                continue;
            }
            const double a = m_m[i] / d[i];
            const double b = m_m[i + 1] / d[i];
            const double s = a * a + b * b;
            if (s > 9.0) {
                const double t = 3.0 / std::sqrt(s);
                m_m[i] = t * a * d[i];
                m_m[i + 1] = t * b * d[i];
            }
        }
    }

    double at(double x) const {
        int i = 0;
        while (i + 2 < m_n && x > m_x[i + 1]) {
            i++;
        }
        const double h = m_x[i + 1] - m_x[i];
        const double t = (x - m_x[i]) / h;
        if (!m_cubic || t > 1.0) {
            return m_y[i] + t * (m_y[i + 1] - m_y[i]);
        }
        const double t2 = t * t, t3 = t2 * t;
        return (2 * t3 - 3 * t2 + 1) * m_y[i] + (t3 - 2 * t2 + t) * h * m_m[i] + (-2 * t3 + 3 * t2) * m_y[i + 1] +
               (t3 - t2) * h * m_m[i + 1];
    }

private:
    static constexpr int kMax = 65;
    double m_x[kMax] = {}, m_y[kMax] = {}, m_m[kMax] = {};
    int m_n = 0;
    bool m_cubic = false;
};

} // namespace

int ColourOrderChannel(MOSAICType mosaic, int position) {
    // the mosaics differ from RGGB by swapping the cell's columns (GRBG), rows (GBRG) or both (BGGR)
    switch (mosaic) {
    case MOSAIC_GRBG:
        return position ^ 1;
    case MOSAIC_GBRG:
        return position ^ 2;
    case MOSAIC_BGGR:
        return position ^ 3;
    default:
        return position;
    }
}

void CellColours(MOSAICType mosaic, int colour[2][2]) {
    switch (mosaic) {
    case MOSAIC_GRBG:
        colour[0][0] = kGreen, colour[0][1] = kRed, colour[1][0] = kBlue, colour[1][1] = kGreen;
        break;
    case MOSAIC_GBRG:
        colour[0][0] = kGreen, colour[0][1] = kBlue, colour[1][0] = kRed, colour[1][1] = kGreen;
        break;
    case MOSAIC_BGGR:
        colour[0][0] = kBlue, colour[0][1] = kGreen, colour[1][0] = kGreen, colour[1][1] = kRed;
        break;
    default: // RGGB
        colour[0][0] = kRed, colour[0][1] = kGreen, colour[1][0] = kGreen, colour[1][1] = kBlue;
        break;
    }
}

/* ---- look-up tables ---- */

bool BuildFrontLut(IspModel::Impl &m, const CI_PIPELINE &reg, unsigned depth) {
    if (m.frontValid && m.frontDepth == depth &&
        std::memcmp(&m.frontBlc, &reg.sBlackCorrection, sizeof(CI_MODULE_BLC)) == 0 &&
        std::memcmp(&m.frontRlt, &reg.sRawLUT, sizeof(CI_MODULE_RLT)) == 0) {
        return false;
    }
    m.frontValid = true;
    m.frontDepth = depth;
    std::memcpy(&m.frontBlc, &reg.sBlackCorrection, sizeof(CI_MODULE_BLC));
    std::memcpy(&m.frontRlt, &reg.sRawLUT, sizeof(CI_MODULE_RLT));
    const uint32_t n = 1u << depth;
    const double maxv = double(n - 1);
    const bool rlt = reg.sRawLUT.eMode != CI_RLT_DISABLED;
    for (int c = 0; c < 4; c++) {
        Curve curve;
        if (rlt) {
            double kx[16], ky[16];
            for (int i = 0; i < 16; i++) {
                kx[i] = (i + 1) / 16.0;
                ky[i] = reg.sRawLUT.aPoints[c][i] / 65536.0;
            }
            curve.set(kx, ky, 16, reg.sRawLUT.eMode == CI_RLT_CUBIC);
        }
        const double offset = reg.sBlackCorrection.i8FixedOffset[c] * std::ldexp(1.0, int(depth) - 8);
        m.frontLut[c].resize(n);
        for (uint32_t v = 0; v < n; v++) {
            double t = std::min(std::max(v + offset, 0.0), maxv) / maxv;
            if (rlt) {
                t = curve.at(t);
            }
            m.frontLut[c][v] = static_cast<uint16_t>(std::lround(std::min(std::max(t, 0.0), 1.0) * 65535.0));
        }
    }
    return true;
}

bool BuildGammaLut(IspModel::Impl &m, const CI_MODULE_GMA_LUT &lut, bool bypass) {
    if (m.gammaValid && m.gammaBypassKey == bypass && std::memcmp(&m.gammaKey, &lut, sizeof(lut)) == 0) {
        return false;
    }
    m.gammaValid = true;
    m.gammaBypassKey = bypass;
    m.gammaKey = lut;
    const QOR_UINT16 *points[3] = {lut.aRedPoints, lut.aGreenPoints, lut.aBluePoints};
    for (int c = 0; c < 3; c++) {
        m.gammaLut[c].resize(4096);
        for (int i = 0; i < 4096; i++) {
            if (bypass) {
                m.gammaLut[c][i] = static_cast<uint16_t>(i);
                continue;
            }
            // knots at k / 62 of full scale, points in 12-bit codes
            const double x = i / 4095.0 * (GMA_N_POINTS - 1);
            const int k = std::min(static_cast<int>(x), GMA_N_POINTS - 2);
            const double f = x - k;
            const double y = points[c][k] + f * (double(points[c][k + 1]) - points[c][k]);
            m.gammaLut[c][i] = static_cast<uint16_t>(clampi(static_cast<int32_t>(std::lround(y)), 0, 4095));
        }
    }
    return true;
}

void BuildAwsLog(IspModel::Impl &m) {
    if (!m.awsLog.empty()) {
        return;
    }
    m.awsLog.assign(4097, 0); /* entry 4096: 0, the index of a cell that does not count */
    for (int i = 0; i < 4096; i++) {
        const double v8 = (i * 16 + 8) / 256.0;
        m.awsLog[i] = static_cast<uint16_t>(std::lround(std::max(0.0, std::log2(v8)) * 32.0));
    }
}

bool DecodeShading(IspModel::Impl &m, const IspFrameSettings &s, uint32_t W) {
    const CI_MODULE_LSH_MAT &cfg = s.lshConfig;
    const uint32_t vw = cfg.ui16Width, vh = cfg.ui16Height, bits = cfg.ui8BitsPerDiff;
    if (vw == 0 || vh == 0 || bits == 0 || bits > 16 || cfg.ui8TileSizeLog2 > 15) {
        return false;
    }
    const uint64_t lineBits = 16 + uint64_t(vw - 1) * bits;
    const uint64_t lineBytes = (lineBits + 7) / 8;
    if (cfg.ui32Stride < lineBytes || uint64_t(4 * vh - 1) * cfg.ui32Stride + lineBytes > s.lshMatrixSize) {
        return false;
    }
    m.lshGains.resize(size_t(4) * vw * vh);
    for (uint32_t y = 0; y < vh; y++) {
        for (uint32_t c = 0; c < 4; c++) {
            const uint8_t *line = s.lshMatrix + size_t(4 * y + c) * cfg.ui32Stride;
            int32_t v = line[0] | (line[1] << 8);
            float *out = &m.lshGains[(size_t(c) * vh + y) * vw];
            out[0] = v / 1024.0f;
            uint64_t pos = 16;
            for (uint32_t x = 1; x < vw; x++, pos += bits) {
                uint32_t d = 0;
                for (uint32_t b = 0; b < bits; b++) {
                    const uint64_t p = pos + b;
                    d |= uint32_t((line[p >> 3] >> (p & 7)) & 1u) << b;
                }
                const int32_t sd = (d & (1u << (bits - 1))) ? int32_t(d) - int32_t(1u << bits) : int32_t(d);
                v += sd;
                out[x] = v / 1024.0f;
            }
        }
    }
    // column positions: pixel x is in cell x / 2 (+ the matrix offset), tiles of 2^log2 cells; the cells between
    // the same two vertices form a run
    const float tile = float(1u << cfg.ui8TileSizeLog2);
    const uint32_t cells = W / 2;
    m.lshCol.resize(cells);
    m.lshColW.resize(cells);
    m.lshRuns.clear();
    for (uint32_t cx = 0; cx < cells; cx++) {
        const float pos = (cx + cfg.ui16OffsetX) / tile;
        int32_t i = static_cast<int32_t>(pos);
        float w = pos - i;
        if (i >= int32_t(vw) - 1) {
            i = int32_t(vw) - 2;
            w = 1.0f;
        }
        if (vw == 1) {
            i = 0;
            w = 0.0f;
        }
        m.lshCol[cx] = i;
        m.lshColW[cx] = w;
        if (cx == 0 || m.lshCol[cx - 1] != i) {
            m.lshRuns.push_back(cx);
        }
    }
    m.lshRuns.push_back(cells);
    return true;
}

namespace {

/** Gains of one window row, interpolated between vertex rows, for the two channels of that row. */
void shadingRow(const IspModel::Impl &m, const IspFrameSettings &s, Band &b, uint32_t y) {
    const CI_MODULE_LSH_MAT &cfg = s.lshConfig;
    const uint32_t vw = cfg.ui16Width, vh = cfg.ui16Height;
    const float pos = (y / 2 + cfg.ui16OffsetY) / float(1u << cfg.ui8TileSizeLog2);
    int32_t i = static_cast<int32_t>(pos);
    float w = pos - i;
    if (i >= int32_t(vh) - 1) {
        i = vh > 1 ? int32_t(vh) - 2 : 0;
        w = vh > 1 ? 1.0f : 0.0f;
    }
    const uint32_t i1 = vh > 1 ? uint32_t(i) + 1 : uint32_t(i);
    for (uint32_t c = (y & 1u) * 2; c < (y & 1u) * 2 + 2; c++) {
        const float *a = &m.lshGains[(size_t(c) * vh + uint32_t(i)) * vw];
        const float *bb = &m.lshGains[(size_t(c) * vh + i1) * vw];
        float *row = b.lshRow[c].data();
        for (uint32_t x = 0; x < vw; x++) {
            row[x] = a[x] + w * (bb[x] - a[x]);
        }
    }
}

/**
 * The matrix gains of window row y taken one run of cells between the same two vertices at a time:
 * `kernel(aE, dE, aO, dO, weights, cells, out)` gets the even and odd column gains at the run's vertex, their steps
 * to the next vertex, the cells' weights, their count and the run's first column in `row`.
 */
template <typename Kernel, typename T>
void shadingRuns(const IspModel::Impl &m, const IspFrameSettings &s, Band &b, uint32_t y, uint32_t c0, Kernel kernel,
                 T *row) {
    shadingRow(m, s, b, y);
    const float *rowE = b.lshRow[c0].data(), *rowO = b.lshRow[c0 + 1].data();
    const uint32_t step = s.lshConfig.ui16Width > 1 ? 1u : 0u;
    const uint32_t *runs = m.lshRuns.data();
    for (size_t r = 0; r + 1 < m.lshRuns.size(); r++) {
        const uint32_t i = uint32_t(m.lshCol[runs[r]]);
        kernel(rowE[i], rowE[i + step] - rowE[i], rowO[i], rowO[i + step] - rowO[i], m.lshColW.data() + runs[r],
               runs[r + 1] - runs[r], row + 2 * runs[r]);
    }
}

/** Reads window row y of the input (0 outside the input, which marks the frame as erroneous). */
void gatherRaw(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, uint16_t *out) {
    const uint32_t py = f.offY + (y / 2) * f.decY + (y & 1u);
    const uint32_t maxv = (1u << f.depth) - 1u;
    if (py >= f.in->height) {
        std::fill(out, out + f.W, 0);
        b.error = true;
        return;
    }
    const uint16_t *src = f.in->samples + size_t(py) * f.inStride;
    if (f.decX == 2 && f.offX + f.W <= f.in->width) {
        m.k.clampRow(src + f.offX, f.W, uint16_t(maxv), out);
        return;
    }
    for (uint32_t x = 0; x < f.W; x++) {
        const uint32_t px = f.offX + (x / 2) * f.decX + (x & 1u);
        if (px >= f.in->width) {
            out[x] = 0;
            b.error = true;
        } else {
            out[x] = src[px] > maxv ? uint16_t(maxv) : src[px];
        }
    }
}

/** Samples above the code range taken as its maximum. */
ISP_INLINE void clampRowBody(const uint16_t *__restrict in, uint32_t n, uint16_t maxv, uint16_t *__restrict out) {
    for (uint32_t x = 0; x < n; x++) {
        out[x] = in[x] > maxv ? maxv : in[x];
    }
}
ISP_KERNEL(clampRow, (const uint16_t *in, uint32_t n, uint16_t maxv, uint16_t *out), (in, n, maxv, out))

/** Gains of a run of cells between the same two vertices, for the even and the odd column of each cell. */
void shadingRun(float aE, float dE, float aO, float dO, const float *__restrict w, uint32_t cells,
                float *__restrict gain) {
    for (size_t k = 0; k < cells; k++) {
        gain[2 * k] = aE + w[k] * dE;
        gain[2 * k + 1] = aO + w[k] * dO;
    }
}

/** v × gain (gain clamped to 0..15, rounded to U4.12), rounded, clipped at full scale; gain is overwritten. */
ISP_INLINE void applyShadingBody(float *__restrict gain, uint32_t W, uint16_t *__restrict v) {
    // two loops, so that each vectorizes: the clamp, then the gain in U4.12 (at most 61440.5, so the signed
    // conversion is exact) and the product
    for (uint32_t x = 0; x < W; x++) {
        gain[x] = clampf(gain[x], 0.0f, 15.0f);
    }
    for (uint32_t x = 0; x < W; x++) {
        const uint32_t g = uint32_t(static_cast<int32_t>(gain[x] * 4096.0f + 0.5f));
        const uint32_t p = (uint32_t(v[x]) * g + 2048u) >> 12;
        v[x] = static_cast<uint16_t>(p > 65535u ? 65535u : p);
    }
}
ISP_KERNEL(applyShading, (float *gain, uint32_t W, uint16_t *v), (gain, W, v))

/**
 * shadingRun and applyShading in one pass over a run of cells (lens shading without gradients): the gain of each
 * column computed, clamped, rounded to U4.12 and applied to the samples, with the same arithmetic.
 */
ISP_INLINE void shadeRunBody(float aE, float dE, float aO, float dO, const float *__restrict w, uint32_t cells,
                             uint16_t *__restrict v) {
    for (size_t k = 0; k < cells; k++) {
        const float gE = clampf(aE + w[k] * dE, 0.0f, 15.0f), gO = clampf(aO + w[k] * dO, 0.0f, 15.0f);
        const uint32_t qE = uint32_t(static_cast<int32_t>(gE * 4096.0f + 0.5f));
        const uint32_t qO = uint32_t(static_cast<int32_t>(gO * 4096.0f + 0.5f));
        const uint32_t pE = (uint32_t(v[2 * k]) * qE + 2048u) >> 12, pO = (uint32_t(v[2 * k + 1]) * qO + 2048u) >> 12;
        v[2 * k] = static_cast<uint16_t>(pE > 65535u ? 65535u : pE);
        v[2 * k + 1] = static_cast<uint16_t>(pO > 65535u ? 65535u : pO);
    }
}
void shadeRunBase(float aE, float dE, float aO, float dO, const float *w, uint32_t cells, uint16_t *v) {
    shadeRunBody(aE, dE, aO, dO, w, cells, v);
}
#if NORVA_ISP_AVX2
/**
 * The same, 8 cells a step: the even and odd gains in U4.12 interleaved into column order, the products exact in
 * 32 bits (at most 65535 × 61440 + 2048).
 */
ISP_TARGET_AVX2 void shadeRunAvx2(float aE, float dE, float aO, float dO, const float *w, uint32_t cells, uint16_t *v) {
    const __m256 vaE = _mm256_set1_ps(aE), vdE = _mm256_set1_ps(dE), vaO = _mm256_set1_ps(aO), vdO = _mm256_set1_ps(dO);
    const __m256 lo = _mm256_setzero_ps(), hi = _mm256_set1_ps(15.0f), scale = _mm256_set1_ps(4096.0f),
                 half = _mm256_set1_ps(0.5f);
    const __m256i round = _mm256_set1_epi32(2048), top = _mm256_set1_epi32(65535);
    size_t k = 0;
    for (; k + 8 <= cells; k += 8) {
        const __m256 wk = _mm256_loadu_ps(w + k);
        // clampf: the lower bound, then the upper one
        const __m256 gE = _mm256_min_ps(hi, _mm256_max_ps(lo, _mm256_add_ps(vaE, _mm256_mul_ps(wk, vdE))));
        const __m256 gO = _mm256_min_ps(hi, _mm256_max_ps(lo, _mm256_add_ps(vaO, _mm256_mul_ps(wk, vdO))));
        const __m256i qE = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(gE, scale), half));
        const __m256i qO = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(gO, scale), half));
        // columns 0-3 | 8-11 and 4-7 | 12-15, then in order
        const __m256i l = _mm256_unpacklo_epi32(qE, qO), h = _mm256_unpackhi_epi32(qE, qO);
        const __m256i q0 = _mm256_permute2x128_si256(l, h, 0x20), q1 = _mm256_permute2x128_si256(l, h, 0x31);
        uint16_t *p = v + 2 * k;
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        const __m256i s0 = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(s));
        const __m256i s1 = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(s, 1));
        const __m256i p0 =
            _mm256_min_epu32(_mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(s0, q0), round), 12), top);
        const __m256i p1 =
            _mm256_min_epu32(_mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(s1, q1), round), 12), top);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p),
                            _mm256_permute4x64_epi64(_mm256_packus_epi32(p0, p1), 0xD8));
    }
    shadeRunBody(aE, dE, aO, dO, w + k, uint32_t(cells - k), v + 2 * k);
}
#endif

/** White-balance gains (U6.10) and clips of `cells` pairs of samples: the even ones, then the odd ones. */
ISP_INLINE void whiteBalanceGainsBody(const uint16_t *__restrict in, size_t cells, uint32_t gE, uint32_t gO,
                                      uint32_t kE, uint32_t kO, uint16_t *__restrict out) {
    for (size_t k = 0; k < cells; k++) {
        const uint32_t a = (in[2 * k] * gE + 512u) >> 10;
        const uint32_t b = (in[2 * k + 1] * gO + 512u) >> 10;
        out[2 * k] = static_cast<uint16_t>(a < kE ? a : kE);
        out[2 * k + 1] = static_cast<uint16_t>(b < kO ? b : kO);
    }
}
ISP_KERNEL(whiteBalanceGains,
           (const uint16_t *in, size_t cells, uint32_t gE, uint32_t gO, uint32_t kE, uint32_t kO, uint16_t *out),
           (in, cells, gE, gO, kE, kO, out))

/**
 * Bilinear demosaic of a row from the rows above and below (all padded by 2), into the row's own colour c (red
 * or blue), green and the other colour o. Both kinds of site are computed for every column and the column's
 * parity picks one, so that the loads and stores are contiguous and the loop vectorizes. The outputs are centred
 * (value − kCentre, so 16 bits hold them), which lets the colour matrix multiply on 16-bit lanes.
 */
ISP_INLINE void demosaicSites(const uint16_t *__restrict up, const uint16_t *__restrict cur,
                              const uint16_t *__restrict dn, uint32_t n, uint32_t colourParity, int16_t *__restrict c,
                              int16_t *__restrict g, int16_t *__restrict o) {
    for (ptrdiff_t x = 0; x < ptrdiff_t(n); x++) {
        const int32_t here = cur[x];
        const int32_t hs = int32_t(cur[x - 1]) + cur[x + 1];
        const int32_t vs = int32_t(up[x]) + dn[x];
        const int32_t ds = int32_t(up[x - 1]) + up[x + 1] + dn[x - 1] + dn[x + 1];
        // all ones at a colour site, 0 at a green site (a mask rather than a branch, so that the loop vectorizes)
        const int32_t site = int32_t((uint32_t(x) ^ colourParity) & 1u) - 1;
        c[x] = static_cast<int16_t>(((here & site) | (((hs + 1) >> 1) & ~site)) - kCentre);
        g[x] = static_cast<int16_t>(((((hs + vs + 2) >> 2) & site) | (here & ~site)) - kCentre);
        o[x] = static_cast<int16_t>(((((ds + 2) >> 2) & site) | (((vs + 1) >> 1) & ~site)) - kCentre);
    }
}

ISP_INLINE void demosaicRowBody(const uint16_t *up, const uint16_t *cur, const uint16_t *dn, uint32_t W,
                                const int colourRow[2], int16_t *R, int16_t *G, int16_t *B) {
    const uint32_t parity = colourRow[0] == kGreen ? 1u : 0u;
    const int colour = colourRow[parity];
    demosaicSites(up, cur, dn, W, parity, colour == kRed ? R : B, G, colour == kRed ? B : R);
}
void demosaicRowBase(const uint16_t *up, const uint16_t *cur, const uint16_t *dn, uint32_t W, const int colourRow[2],
                     int16_t *R, int16_t *G, int16_t *B) {
    demosaicRowBody(up, cur, dn, W, colourRow, R, G, B);
}
#if NORVA_ISP_AVX2
ISP_TARGET_AVX2 inline __m256i load16(const uint16_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

/** (a + b + c + d + 2) >> 2 of 16-bit values, exactly, on 16-bit lanes: the quarters summed, then their remainders. */
ISP_TARGET_AVX2 inline __m256i average4(__m256i a, __m256i b, __m256i c, __m256i d) {
    const __m256i three = _mm256_set1_epi16(3);
    const __m256i q = _mm256_add_epi16(_mm256_add_epi16(_mm256_srli_epi16(a, 2), _mm256_srli_epi16(b, 2)),
                                       _mm256_add_epi16(_mm256_srli_epi16(c, 2), _mm256_srli_epi16(d, 2)));
    const __m256i r = _mm256_add_epi16(_mm256_add_epi16(_mm256_and_si256(a, three), _mm256_and_si256(b, three)),
                                       _mm256_add_epi16(_mm256_and_si256(c, three), _mm256_and_si256(d, three)));
    return _mm256_add_epi16(q, _mm256_srli_epi16(_mm256_add_epi16(r, _mm256_set1_epi16(2)), 2));
}

/**
 * The same, 16 columns a step on 16-bit lanes: two-sample means are the rounded average instruction, four-sample
 * means average4; centring flips the top bit.
 */
ISP_TARGET_AVX2 void demosaicRowAvx2(const uint16_t *up, const uint16_t *cur, const uint16_t *dn, uint32_t W,
                                     const int colourRow[2], int16_t *R, int16_t *G, int16_t *B) {
    const uint32_t parity = colourRow[0] == kGreen ? 1u : 0u;
    const int colour = colourRow[parity];
    int16_t *c = colour == kRed ? R : B, *o = colour == kRed ? B : R;
    // the colour sites: the even columns, or the odd ones
    const __m256i site = _mm256_set1_epi32(parity == 0 ? 0x0000FFFF : int32_t(0xFFFF0000u));
    const __m256i flip = _mm256_set1_epi16(int16_t(0x8000));
    uint32_t x = 0;
    for (; x + 16 <= W; x += 16) {
        const __m256i l = load16(cur + x - 1), here = load16(cur + x), r = load16(cur + x + 1);
        const __m256i u = load16(up + x), d = load16(dn + x);
        const __m256i g4 = average4(l, r, u, d);
        const __m256i d4 = average4(load16(up + x - 1), load16(up + x + 1), load16(dn + x - 1), load16(dn + x + 1));
        const __m256i cv = _mm256_blendv_epi8(_mm256_avg_epu16(l, r), here, site);
        const __m256i gv = _mm256_blendv_epi8(here, g4, site);
        const __m256i ov = _mm256_blendv_epi8(_mm256_avg_epu16(u, d), d4, site);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(c + x), _mm256_xor_si256(cv, flip));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(G + x), _mm256_xor_si256(gv, flip));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(o + x), _mm256_xor_si256(ov, flip));
    }
    // x is even: the same sites
    demosaicSites(up + x, cur + x, dn + x, W - x, parity, c + x, G + x, o + x);
}
#endif

/**
 * Colour matrix and main gamut mapper from the centred demosaic outputs into R, G, B (16-bit scale, signed), or
 * with kIndex straight into the gamma table indices of R, G, B (the 16-bit scale clamped, >> 4).
 * Σ c · v = Σ c · (v − kCentre) + kCentre · Σ c: 16-bit products, sums taken modulo 2^32 (the exact sum fits
 * 32 bits, the partial ones need not).
 */
template <bool kIndex, typename Out>
ISP_INLINE void colourMatrixBody(const int16_t *coeff, const int32_t *offset, int32_t lo, int32_t hi, uint32_t W,
                                 const int16_t *__restrict r16, const int16_t *__restrict g16,
                                 const int16_t *__restrict b16, Out *__restrict R, Out *__restrict G,
                                 Out *__restrict B) {
    const int16_t c00 = coeff[0], c01 = coeff[1], c02 = coeff[2];
    const int16_t c10 = coeff[3], c11 = coeff[4], c12 = coeff[5];
    const int16_t c20 = coeff[6], c21 = coeff[7], c22 = coeff[8];
    const uint32_t k0 = uint32_t(kCentre) * uint32_t(c00 + c01 + c02) + 256u;
    const uint32_t k1 = uint32_t(kCentre) * uint32_t(c10 + c11 + c12) + 256u;
    const uint32_t k2 = uint32_t(kCentre) * uint32_t(c20 + c21 + c22) + 256u;
    const int32_t off0 = offset[0], off1 = offset[1], off2 = offset[2];
    for (uint32_t x = 0; x < W; x++) {
        const int16_t r = r16[x], g = g16[x], b = b16[x];
        const uint32_t sr = uint32_t(c00 * r) + uint32_t(c01 * g) + uint32_t(c02 * b) + k0;
        const uint32_t sg = uint32_t(c10 * r) + uint32_t(c11 * g) + uint32_t(c12 * b) + k1;
        const uint32_t sb = uint32_t(c20 * r) + uint32_t(c21 * g) + uint32_t(c22 * b) + k2;
        const int32_t vr = clampi((static_cast<int32_t>(sr) >> 9) + off0, lo, hi);
        const int32_t vg = clampi((static_cast<int32_t>(sg) >> 9) + off1, lo, hi);
        const int32_t vb = clampi((static_cast<int32_t>(sb) >> 9) + off2, lo, hi);
        if (kIndex) {
            R[x] = static_cast<Out>(clampi(vr, 0, 65535) >> 4);
            G[x] = static_cast<Out>(clampi(vg, 0, 65535) >> 4);
            B[x] = static_cast<Out>(clampi(vb, 0, 65535) >> 4);
        } else {
            R[x] = static_cast<Out>(vr);
            G[x] = static_cast<Out>(vg);
            B[x] = static_cast<Out>(vb);
        }
    }
}
void colourMatrixBase(const int16_t *coeff, const int32_t *offset, int32_t lo, int32_t hi, uint32_t W,
                      const int16_t *r16, const int16_t *g16, const int16_t *b16, int32_t *R, int32_t *G, int32_t *B) {
    colourMatrixBody<false>(coeff, offset, lo, hi, W, r16, g16, b16, R, G, B);
}
void colourIndexBase(const int16_t *coeff, const int32_t *offset, int32_t lo, int32_t hi, uint32_t W,
                     const int16_t *r16, const int16_t *g16, const int16_t *b16, int16_t *R, int16_t *G, int16_t *B) {
    colourMatrixBody<true>(coeff, offset, lo, hi, W, r16, g16, b16, R, G, B);
}
#if NORVA_ISP_AVX2
/** The same with 16 pixels a step, the products summed by pairs on 16-bit lanes (a clip with lo ≤ hi). */
template <bool kIndex, typename Out>
ISP_TARGET_AVX2 inline void colourMatrixAvx2Body(const int16_t *coeff, const int32_t *offset, int32_t lo, int32_t hi,
                                                 uint32_t W, const int16_t *r16, const int16_t *g16, const int16_t *b16,
                                                 Out *R, Out *G, Out *B) {
    uint32_t x = 0;
    if (lo <= hi) {
        __m256i rg[3], b1[3], k[3], off[3];
        for (int r = 0; r < 3; r++) {
            rg[r] = Pair16(coeff[3 * r], coeff[3 * r + 1]);
            b1[r] = Pair16(coeff[3 * r + 2], 0);
            const uint32_t sum = uint32_t(coeff[3 * r] + coeff[3 * r + 1] + coeff[3 * r + 2]);
            k[r] = _mm256_set1_epi32(int32_t(uint32_t(kCentre) * sum + 256u));
            off[r] = _mm256_set1_epi32(offset[r]);
        }
        // for the indices, clamping to [lo, hi] then to 0..65535 is clamping to both ends taken into 0..65535; and
        // the index of a clamped value is the index clamped to the ends' indices (>> 4 keeps the order), which
        // lie within 16 bits, so the clamp follows the saturating pack
        const __m256i vlo = _mm256_set1_epi32(lo), vhi = _mm256_set1_epi32(hi);
        const __m256i ilo = _mm256_set1_epi16(static_cast<int16_t>(clampi(lo, 0, 65535) >> 4));
        const __m256i ihi = _mm256_set1_epi16(static_cast<int16_t>(clampi(hi, 0, 65535) >> 4));
        Out *outs[3] = {R, G, B};
        for (; x + 16 <= W; x += 16) {
            const Interleaved3 v = Interleave3(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(r16 + x)),
                                               _mm256_loadu_si256(reinterpret_cast<const __m256i *>(g16 + x)),
                                               _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b16 + x)));
            for (int r = 0; r < 3; r++) {
                __m256i a = _mm256_srai_epi32(_mm256_add_epi32(Sum3Lo(v, rg[r], b1[r]), k[r]), 9);
                __m256i c = _mm256_srai_epi32(_mm256_add_epi32(Sum3Hi(v, rg[r], b1[r]), k[r]), 9);
                a = _mm256_add_epi32(a, off[r]);
                c = _mm256_add_epi32(c, off[r]);
                // a holds pixels 0-3 and 8-11, c pixels 4-7 and 12-15
                if (kIndex) {
                    const __m256i packed = _mm256_packs_epi32(_mm256_srai_epi32(a, 4), _mm256_srai_epi32(c, 4));
                    _mm256_storeu_si256(reinterpret_cast<__m256i *>(outs[r] + x),
                                        _mm256_min_epi16(_mm256_max_epi16(packed, ilo), ihi));
                } else {
                    a = _mm256_min_epi32(_mm256_max_epi32(a, vlo), vhi);
                    c = _mm256_min_epi32(_mm256_max_epi32(c, vlo), vhi);
                    _mm256_storeu_si256(reinterpret_cast<__m256i *>(outs[r] + x),
                                        _mm256_permute2x128_si256(a, c, 0x20));
                    _mm256_storeu_si256(reinterpret_cast<__m256i *>(outs[r] + x + 8),
                                        _mm256_permute2x128_si256(a, c, 0x31));
                }
            }
        }
    }
    colourMatrixBody<kIndex>(coeff, offset, lo, hi, W - x, r16 + x, g16 + x, b16 + x, R + x, G + x, B + x);
}
ISP_TARGET_AVX2 void colourMatrixAvx2(const int16_t *coeff, const int32_t *offset, int32_t lo, int32_t hi, uint32_t W,
                                      const int16_t *r16, const int16_t *g16, const int16_t *b16, int32_t *R,
                                      int32_t *G, int32_t *B) {
    colourMatrixAvx2Body<false>(coeff, offset, lo, hi, W, r16, g16, b16, R, G, B);
}
ISP_TARGET_AVX2 void colourIndexAvx2(const int16_t *coeff, const int32_t *offset, int32_t lo, int32_t hi, uint32_t W,
                                     const int16_t *r16, const int16_t *g16, const int16_t *b16, int16_t *R, int16_t *G,
                                     int16_t *B) {
    colourMatrixAvx2Body<true>(coeff, offset, lo, hi, W, r16, g16, b16, R, G, B);
}
#endif

/** Gamma table index of a row: the 16-bit scale clamped, >> 4. */
ISP_INLINE void gammaIndexBody(const int32_t *__restrict v, uint32_t W, int16_t *__restrict out) {
    for (uint32_t x = 0; x < W; x++) {
        out[x] = static_cast<int16_t>(clampi(v[x], 0, 65535) >> 4);
    }
}
ISP_KERNEL(gammaIndex, (const int32_t *v, uint32_t W, int16_t *out), (v, W, out))

/**
 * RGB to YUV of one row of 12-bit codes into 10-bit planes (first chroma, luma, second chroma) and the luma of the
 * histograms. Products of 12-bit codes and 16-bit coefficients fit in 32 bits.
 */
ISP_INLINE void rgbToYuvBody(const int16_t *coeff, const int32_t *offset, const int16_t *__restrict r12,
                             const int16_t *__restrict g12, const int16_t *__restrict b12, uint32_t W,
                             uint16_t *__restrict luma, uint16_t *__restrict C0p, uint16_t *__restrict Yp,
                             uint16_t *__restrict C2p) {
    const int16_t a00 = coeff[0], a01 = coeff[1], a02 = coeff[2];
    const int16_t a10 = coeff[3], a11 = coeff[4], a12 = coeff[5];
    const int16_t a20 = coeff[6], a21 = coeff[7], a22 = coeff[8];
    const int32_t off0 = offset[0], off1 = offset[1], off2 = offset[2];
    for (uint32_t x = 0; x < W; x++) {
        const int32_t r = r12[x], g = g12[x], b = b12[x];
        luma[x] = static_cast<uint16_t>((218 * r + 732 * g + 74 * b) >> 12);
        C0p[x] = static_cast<uint16_t>(clampi(((a00 * r + a01 * g + a02 * b + 2048) >> 12) + off0, 0, 1023));
        Yp[x] = static_cast<uint16_t>(clampi(((a10 * r + a11 * g + a12 * b + 2048) >> 12) + off1, 0, 1023));
        C2p[x] = static_cast<uint16_t>(clampi(((a20 * r + a21 * g + a22 * b + 2048) >> 12) + off2, 0, 1023));
    }
}
void rgbToYuvBase(const int16_t *coeff, const int32_t *offset, const int16_t *r12, const int16_t *g12,
                  const int16_t *b12, uint32_t W, uint16_t *luma, uint16_t *C0p, uint16_t *Yp, uint16_t *C2p) {
    rgbToYuvBody(coeff, offset, r12, g12, b12, W, luma, C0p, Yp, C2p);
}
#if NORVA_ISP_AVX2
/** The same with 16 pixels a step: each output row's three products summed by pairs on 16-bit lanes. */
ISP_TARGET_AVX2 void rgbToYuvAvx2(const int16_t *coeff, const int32_t *offset, const int16_t *r12, const int16_t *g12,
                                  const int16_t *b12, uint32_t W, uint16_t *luma, uint16_t *C0p, uint16_t *Yp,
                                  uint16_t *C2p) {
    const __m256i lumaRG = Pair16(218, 732), lumaB = Pair16(74, 0);
    __m256i rg[3], b1[3], off[3];
    for (int r = 0; r < 3; r++) {
        rg[r] = Pair16(coeff[3 * r], coeff[3 * r + 1]);
        b1[r] = Pair16(coeff[3 * r + 2], 2048);
        off[r] = _mm256_set1_epi32(offset[r]);
    }
    // the clamp to 0..1023 on the packed values: packing saturates below at 0
    const __m256i top = _mm256_set1_epi16(1023);
    uint16_t *outs[3] = {C0p, Yp, C2p};
    uint32_t x = 0;
    for (; x + 16 <= W; x += 16) {
        const Interleaved3 v = Interleave3(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(r12 + x)),
                                           _mm256_loadu_si256(reinterpret_cast<const __m256i *>(g12 + x)),
                                           _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b12 + x)));
        const __m256i lLo = _mm256_srai_epi32(Sum3Lo(v, lumaRG, lumaB), 12);
        const __m256i lHi = _mm256_srai_epi32(Sum3Hi(v, lumaRG, lumaB), 12);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(luma + x), _mm256_packus_epi32(lLo, lHi));
        for (int r = 0; r < 3; r++) {
            const __m256i lo = _mm256_add_epi32(_mm256_srai_epi32(Sum3Lo(v, rg[r], b1[r]), 12), off[r]);
            const __m256i hi = _mm256_add_epi32(_mm256_srai_epi32(Sum3Hi(v, rg[r], b1[r]), 12), off[r]);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(outs[r] + x),
                                _mm256_min_epu16(_mm256_packus_epi32(lo, hi), top));
        }
    }
    rgbToYuvBody(coeff, offset, r12 + x, g12 + x, b12 + x, W - x, luma + x, C0p + x, Yp + x, C2p + x);
}
#endif

} // namespace

void RowKernels(Kernels *k, bool avx2) {
    (void)avx2;
    k->applyShading = ISP_PICK(applyShading, avx2);
    k->shadeRun = ISP_PICK(shadeRun, avx2);
    k->whiteBalanceGains = ISP_PICK(whiteBalanceGains, avx2);
    k->demosaicRow = ISP_PICK(demosaicRow, avx2);
    k->colourMatrix = ISP_PICK(colourMatrix, avx2);
    k->colourIndex = ISP_PICK(colourIndex, avx2);
    k->gammaIndex = ISP_PICK(gammaIndex, avx2);
    k->rgbToYuv = ISP_PICK(rgbToYuv, avx2);
    k->clampRow = ISP_PICK(clampRow, avx2);
#if NORVA_ISP_AVX2
    k->enhanceRow = avx2 ? EnhanceRowAvx2 : EnhanceRow;
    k->sharpenRow = avx2 ? SharpenRowAvx2 : SharpenRow;
#else
    k->enhanceRow = EnhanceRow;
    k->sharpenRow = SharpenRow;
#endif
}

/* ---- rows ---- */

void BayerRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, bool own, uint16_t *dst) {
    uint16_t *raw = b.raw.data();
    gatherRaw(m, f, b, y, raw);
    const uint32_t W = f.W;
    const unsigned c0 = (y & 1u) * 2u; /* channel of the even columns; odd columns are c0 + 1 */

    if (own && f.exs) {
        ExposureRow(m, f, b, y, raw);
    }
    uint16_t *pre = b.pre.data();
    if (own && b.rawWriter.active()) {
        for (uint32_t x = 0; x < W; x++) {
            pre[x] = static_cast<uint16_t>(raw[x] << (16 - f.depth));
        }
        PackBayer(f.rawType.eFmt, pre, W, b.rawWriter.row(y));
        b.rawWriter.commit(y);
    }
    if (own && f.deDisplay && f.dePoint == CI_INOUT_BLACK_LEVEL) {
        const int32_t maxv = int32_t((1u << f.depth) - 1u);
        for (uint32_t x = 0; x < W; x++) {
            const int32_t off = f.reg->sBlackCorrection.i8FixedOffset[c0 + (x & 1u)];
            const int32_t v =
                clampi(int32_t(raw[x]) + (f.depth >= 8 ? off * (1 << (f.depth - 8)) : off >> (8 - f.depth)), 0, maxv);
            pre[x] = static_cast<uint16_t>((int64_t(v) * 65535 + maxv / 2) / maxv);
        }
        PackBayer(f.dispType.eFmt, pre, W, b.deWriter.row(y));
        b.deWriter.commit(y);
    }

    if (f.dpfDetect || f.dpfRead) {
        DefectRow(m, f, b, y, own, raw);
    }

    // black level and raw look-up table
    const uint16_t *lutE = m.frontLut[c0].data(), *lutO = m.frontLut[c0 + 1].data();
    for (uint32_t x = 0; x < W; x += 2) {
        pre[x] = lutE[raw[x]];
        pre[x + 1] = lutO[raw[x + 1]];
    }

    // lens shading: matrix gains between vertices plus the linear gradients
    const CI_MODULE_LSH &grad = f.info->lshConfig;
    const bool gradients =
        (grad.aGradientsX[c0] | grad.aGradientsX[c0 + 1] | grad.aGradientsY[c0] | grad.aGradientsY[c0 + 1]) != 0;
    if (f.lsh && !gradients) {
        // the matrix alone: the gains of each run of cells computed and applied in one pass
        shadingRuns(m, *f.settings, b, y, c0, m.k.shadeRun, pre);
    } else if (f.lsh || gradients) {
        // gain of each column of this row: matrix between vertices plus the linear gradients
        float *gain = b.rowGain.data();
        if (f.lsh) {
            shadingRuns(m, *f.settings, b, y, c0, shadingRun, gain);
        } else {
            std::fill(gain, gain + W, 1.0f);
        }
        if (gradients) {
            const float cy = (float(y) - float(f.H) / 2.0f) / (float(f.H) / 2.0f);
            const float kxE = int16_t(grad.aGradientsX[c0]) / 4096.0f,
                        kxO = int16_t(grad.aGradientsX[c0 + 1]) / 4096.0f;
            const float tyE = int16_t(grad.aGradientsY[c0]) / 4096.0f * cy;
            const float tyO = int16_t(grad.aGradientsY[c0 + 1]) / 4096.0f * cy;
            const float *cx = m.lshCx.data();
            for (uint32_t x = 0; x < W; x += 2) {
                gain[x] += kxE * cx[x] + tyE;
                gain[x + 1] += kxO * cx[x + 1] + tyO;
            }
        }
        m.k.applyShading(gain, W, pre);
    }

    // auto-white-balance statistics take the cells before the white-balance gains; the even row of a cell row
    // is kept even when it is the band's halo, for the odd row that starts the band
    if (f.aws) {
        if ((y & 1u) == 0) {
            std::memcpy(b.awsTop.data(), pre, W * sizeof(uint16_t));
        } else if (own) {
            AwsCells(m, f, b, y / 2, b.awsTop.data(), pre);
        }
    }

    // white-balance gains and clips
    uint16_t *out = dst + 2;
    if (f.wbIdentity) {
        std::memcpy(out, pre, W * sizeof(uint16_t));
    } else {
        m.k.whiteBalanceGains(pre, W / 2, uint32_t(f.wbGain[c0]), uint32_t(f.wbGain[c0 + 1]), uint32_t(f.wbClip[c0]),
                              uint32_t(f.wbClip[c0 + 1]), out);
    }
    // mirror two samples at each end, keeping the colour of each position
    out[-1] = out[1];
    out[-2] = out[2];
    out[W] = out[W - 2];
    out[W + 1] = W >= 3 ? out[W - 3] : out[W - 1];

    if (own && f.deDisplay && f.dePoint == CI_INOUT_FILTER_LINESTORE) {
        PackBayer(f.dispType.eFmt, out, W, b.deWriter.row(y));
        b.deWriter.commit(y);
    }
}

void DemosaicRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, const uint16_t *up,
                 const uint16_t *cur, const uint16_t *dn) {
    m.k.demosaicRow(up, cur, dn, f.W, f.colour[y & 1u], b.dR.data(), b.dG.data(), b.dB.data());
}

void ColourRow(const IspModel::Impl &m, const FrameContext &f, Band &b) {
    const uint32_t W = f.W;
    int16_t *__restrict r16 = b.dR.data(), *__restrict g16 = b.dG.data(), *__restrict b16 = b.dB.data();
    const CI_MODULE_WBC &wb = f.reg->sWhiteBalance;
    const CI_MODULE_CCM &cc = f.reg->sColourCorrection;
    const CI_MODULE_GAMUTMAPPER &gm = f.reg->sMainGamutMapper;
    int32_t gain[3], thr[3];
    bool unit = true;
    for (int k = 0; k < 3; k++) {
        gain[k] = wb.aRGBGain[k];
        thr[k] = std::min<int32_t>(65535, int32_t((uint32_t(wb.aRGBThreshold[k]) + 1u) * 65536u / 511u));
        unit = unit && gain[k] == 16 && thr[k] >= 65535;
    }
    if (!unit) {
        // gains of at most 255 / 16 limited to a threshold of at most full scale: the values stay in 0..65535
        const int32_t g0 = gain[0], g1 = gain[1], g2 = gain[2], t0 = thr[0], t1 = thr[1], t2 = thr[2];
        for (uint32_t x = 0; x < W; x++) {
            r16[x] = static_cast<int16_t>(std::min(((r16[x] + kCentre) * g0) >> 4, t0) - kCentre);
            g16[x] = static_cast<int16_t>(std::min(((g16[x] + kCentre) * g1) >> 4, t1) - kCentre);
            b16[x] = static_cast<int16_t>(std::min(((b16[x] + kCentre) * g2) >> 4, t2) - kCentre);
        }
    }
    int16_t coeff[9];
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            coeff[3 * i + j] = cc.aCoeff[i][j];
        }
    }
    const int32_t offset[3] = {int32_t(cc.aOffset[0]) * 16, int32_t(cc.aOffset[1]) * 16,
                               int32_t(cc.aOffset[2]) * 16}; /* 12-bit codes */
    const int32_t lo = int32_t(gm.i16ClipMin) * 64, hi = int32_t(gm.ui16ClipMax) * 64;
    // the linear values are kept only for the HDR extraction; otherwise the gamma table indices come straight
    if (b.hdrWriter.active()) {
        m.k.colourMatrix(coeff, offset, lo, hi, W, r16, g16, b16, b.R.data(), b.G.data(), b.B.data());
    } else {
        m.k.colourIndex(coeff, offset, lo, hi, W, r16, g16, b16, b.r12.data(), b.g12.data(), b.b12.data());
    }
}

void ToneRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, bool own) {
    const uint32_t W = f.W;
    const int32_t *R = b.R.data(), *G = b.G.data(), *B = b.B.data();
    int16_t *r12 = b.r12.data(), *g12 = b.g12.data(), *b12 = b.b12.data();
    if (b.hdrWriter.active() && own) {
        uint16_t *__restrict o0 = b.o0.data(), *__restrict o1 = b.o1.data(), *__restrict o2 = b.o2.data();
        for (uint32_t x = 0; x < W; x++) {
            o0[x] = static_cast<uint16_t>(clampi(R[x], 0, 65535) >> 6);
            o1[x] = static_cast<uint16_t>(clampi(G[x], 0, 65535) >> 6);
            o2[x] = static_cast<uint16_t>(clampi(B[x], 0, 65535) >> 6);
        }
        m.k.packTriplets(f.hdrType.eFmt, o0, o1, o2, W, b.hdrWriter.row(y));
        b.hdrWriter.commit(y);
    }
    // gamma into 12-bit codes (table look-ups), then the conversion; ColourRow gave the table indices unless the
    // linear values were kept for the HDR extraction
    if (b.hdrWriter.active()) {
        const int32_t *in[3] = {R, G, B};
        int16_t *out[3] = {r12, g12, b12};
        for (int c = 0; c < 3; c++) {
            m.k.gammaIndex(in[c], W, out[c]);
        }
    }
    // the three look-ups of a pixel in one loop: independent loads the processor overlaps
    const uint16_t *lutR = m.gammaLut[0].data(), *lutG = m.gammaLut[1].data(), *lutB = m.gammaLut[2].data();
    for (uint32_t x = 0; x < W; x++) {
        r12[x] = static_cast<int16_t>(lutR[r12[x]]);
        g12[x] = static_cast<int16_t>(lutG[g12[x]]);
        b12[x] = static_cast<int16_t>(lutB[b12[x]]);
    }
    // white-balance statistics follow gamma in the hardware order: they read the encoded row
    if (own && (f.eOutput & CI_SAVE_WHITEBALANCE) != 0) {
        WhiteBalanceRow(m, f, b, y);
    }
    const size_t o = size_t(y % f.planeRows) * W;
    uint16_t *Yp = b.Y.data() + o, *C0p = b.C0.data() + o, *C2p = b.C2.data() + o;
    const CI_MODULE_PLANECONV &pc = f.reg->sRGBToYCC;
    int16_t coeff[9];
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            coeff[3 * i + j] = pc.aCoeff[i][j];
        }
    }
    // offsets are 8-bit codes with 2 fraction bits, that is 10-bit codes; the model adds the chroma mid-level
    // only: the luma offset (the foot of a limited-range output) is the register's
    const int32_t offset[3] = {pc.aOffset[0] + 512, pc.aOffset[1], pc.aOffset[2] + 512};
    m.k.rgbToYuv(coeff, offset, r12, g12, b12, W, b.hisLuma.data(), C0p, Yp, C2p);
    m.k.enhanceRow(m.enh, Yp, C0p, C2p, W, b.enhRows.data());
    ToneMapRow(m, b, W, Yp, C0p, C2p);
    m.k.sharpenRow(m.enh, Yp, W, b.shaRow.data());
    if (own && (f.eOutput & (CI_SAVE_HIST_GLOBAL | CI_SAVE_HIST_REGION)) != 0) {
        HistogramRow(m, f, b, y);
    }
}

/* ---- defective pixels ---- */

void DefectRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, bool own, uint16_t *raw) {
    const uint32_t W = f.W, H = f.H;
    // same-colour neighbours two rows and two columns away, mirrored inside the window
    const uint32_t yu = y >= 2 ? y - 2 : (y + 2 < H ? y + 2 : y);
    const uint32_t yd = y + 2 < H ? y + 2 : (y >= 2 ? y - 2 : y);
    b.dpfCur.assign(raw, raw + W);
    if (f.dpfRead) {
        std::fill(b.dpfMark.begin(), b.dpfMark.begin() + W, uint8_t(0));
    }
    gatherRaw(m, f, b, yu, b.dpfUp.data());
    gatherRaw(m, f, b, yd, b.dpfDn.data());
    const uint16_t *up = b.dpfUp.data(), *cur = b.dpfCur.data(), *dn = b.dpfDn.data();
    const auto left = [W](uint32_t x) { return x >= 2 ? x - 2 : (x + 2 < W ? x + 2 : x); };
    const auto right = [W](uint32_t x) { return x + 2 < W ? x + 2 : (x >= 2 ? x - 2 : x); };
    const auto fix = [&](uint32_t x) {
        const uint32_t l = left(x), r = right(x);
        raw[x] = static_cast<uint16_t>((uint32_t(cur[l]) + cur[r] + up[x] + dn[x] + 2u) / 4u);
    };
    const int shift8 = int(f.depth) - 8; /* threshold and confidence count 8-bit codes */
    uint32_t fixed = 0;
    if (f.dpfDetect) {
        for (uint32_t x = 0; x < W; x++) {
            const uint32_t l = left(x), r = right(x);
            const uint16_t n[8] = {cur[l], cur[r], up[l], up[x], up[r], dn[l], dn[x], dn[r]};
            int32_t lo = n[0], hi = n[0];
            for (int i = 1; i < 8; i++) {
                lo = std::min<int32_t>(lo, n[i]);
                hi = std::max<int32_t>(hi, n[i]);
            }
            const int32_t limit = f.dpfThreshold + f.dpfWeight * (hi - lo) / 16;
            const int32_t v = cur[x];
            const int32_t excess = v > hi + limit ? v - hi - limit : (v < lo - limit ? lo - limit - v : 0);
            if (excess == 0) {
                continue;
            }
            fix(x);
            fixed++;
            if (f.dpfRead) {
                b.dpfMark[x] = 1;
            }
            if (own && f.dpfWrite) {
                const int32_t conf = shift8 >= 0 ? excess >> shift8 : excess << -shift8;
                const uint32_t w0 = (x & 0x1FFFu) | (y & 0x1FFFu) << 16;
                const uint32_t w1 =
                    uint32_t(v & 0xFFFF) | uint32_t(std::min(conf, 255)) << 16 | (v > hi ? 0x80000000u : 0u);
                b.dpfEntries.push_back(uint64_t(w0) | uint64_t(w1) << 32);
            }
        }
    }
    if (f.dpfRead) {
        // a pixel already corrected (detected, or listed twice) is corrected and counted once
        const uint16_t *map = f.settings->defectMap;
        for (uint32_t i = 0; i < f.settings->defectCount; i++) {
            const uint32_t x = map[2 * i];
            if (map[2 * i + 1] == y && x < W && !b.dpfMark[x]) {
                fix(x);
                b.dpfMark[x] = 1;
                fixed++;
            }
        }
    }
    if (own) {
        b.dpfFixed += fixed;
    }
}

} // namespace isp
} // namespace norva_sim
