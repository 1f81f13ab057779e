/*
 * ISP model, lateral chromatic aberration: red and blue are resampled (bilinearly, among the samples of their own
 * colour) at positions displaced by a polynomial in x about the colour's centre column and one in y about its
 * centre row. Green passes unchanged. The block needs rows above and below the one it outputs, so when it is on
 * the bands first write their white-balanced Bayer rows into a frame, then resample from it. Conventions:
 * platform/isp-model.md.
 */
#include <algorithm>
#include <cstring>

#include "sim_isp_internal.h"

namespace norva_sim {
namespace isp {

namespace {

/**
 * Displacement in 1/256 pixel at distance d from the centre: (a0 + a1 u + a2 u²) / 128 pixels with
 * u = d / 2^(10 + shift), in integers (rounded to nearest, halves up).
 */
int64_t displacement(const QOR_INT16 a[3][2], int axis, int64_t d, unsigned shift) {
    const unsigned s = 10u + shift;
    const int64_t num = int64_t(a[0][axis]) * (int64_t(1) << (2 * s + 1)) +
                        int64_t(a[1][axis]) * d * (int64_t(1) << (s + 1)) + int64_t(a[2][axis]) * d * d * 2;
    return (num + (int64_t(1) << (2 * s - 1))) >> (2 * s);
}

/**
 * Source cells and weights of one axis: position p = 2k + parity displaced, then taken among the n samples of
 * the colour on that axis (p − parity) / 2, clamped to the first and last.
 */
void axisTable(const QOR_INT16 coeff[3][2], int axis, uint32_t centre, unsigned shift, uint32_t parity, uint32_t n,
               std::vector<uint32_t> &i0, std::vector<uint32_t> &i1, std::vector<uint16_t> &frac) {
    i0.resize(n);
    i1.resize(n);
    frac.resize(n);
    for (uint32_t k = 0; k < n; k++) {
        const int64_t p = 2 * int64_t(k) + parity;
        const int64_t pos = p * 256 + displacement(coeff, axis, p - int64_t(centre), shift) - int64_t(parity) * 256;
        // pos / 2 in 1/256 of a cell, clamped to the samples there are
        const int64_t q =
            std::min<int64_t>(std::max<int64_t>(pos / 2 - (pos < 0 && pos % 2 != 0 ? 1 : 0), 0), int64_t(n - 1) * 256);
        i0[k] = uint32_t(q >> 8);
        i1[k] = std::min(i0[k] + 1u, n - 1u);
        frac[k] = static_cast<uint16_t>(q & 255);
    }
}

void positionOf(const FrameContext &f, int colour, uint32_t *px, uint32_t *py) {
    for (uint32_t r = 0; r < 2; r++) {
        for (uint32_t q = 0; q < 2; q++) {
            if (f.colour[r][q] == colour) {
                *px = q;
                *py = r;
            }
        }
    }
}

} // namespace

bool PrepareLca(IspModel::Impl &m, FrameContext &f) {
    const CI_MODULE_LCA &l = f.reg->sChromaAberration;
    f.lca = false;
    f.lcaFrame = nullptr;
    for (int k = 0; k < 3; k++) {
        f.lca = f.lca || (l.aCoeffRed[k][0] | l.aCoeffRed[k][1] | l.aCoeffBlue[k][0] | l.aCoeffBlue[k][1]) != 0;
    }
    if (!f.lca) {
        return false;
    }
    const size_t size = size_t(f.W) * f.H;
    if (m.lcaFrame.size() < size) {
        m.lcaFrame.resize(size);
    }
    f.lcaFrame = m.lcaFrame.data();
    const struct {
        int colour;
        const QOR_INT16 (*coeff)[2];
        const QOR_UINT16 *centre;
        LcaTable *table;
    } planes[2] = {{kRed, l.aCoeffRed, l.aOffsetRed, &m.lcaRed}, {kBlue, l.aCoeffBlue, l.aOffsetBlue, &m.lcaBlue}};
    for (const auto &p : planes) {
        uint32_t px = 0, py = 0;
        positionOf(f, p.colour, &px, &py);
        axisTable(p.coeff, 0, p.centre[0], l.aShift[0] & 3u, px, f.W / 2, p.table->col0, p.table->col1,
                  p.table->colFrac);
        axisTable(p.coeff, 1, p.centre[1], l.aShift[1] & 3u, py, f.H / 2, p.table->row0, p.table->row1,
                  p.table->rowFrac);
    }
    return true;
}

void LcaBayerRows(const IspModel::Impl &m, const FrameContext &f, Band &b) {
    uint16_t *scratch = b.ring[0].data();
    if (b.y0 >= b.y1) {
        return;
    }
    if ((b.y0 & 1u) != 0) {
        // the even row of the first cell row, for the auto-white-balance statistics of the odd row
        BayerRow(m, f, b, b.y0 - 1, false, scratch);
    }
    for (uint32_t y = b.y0; y < b.y1; y++) {
        BayerRow(m, f, b, y, true, scratch);
        std::memcpy(f.lcaFrame + size_t(y) * f.W, scratch + 2, f.W * sizeof(uint16_t));
    }
}

void LcaRow(const IspModel::Impl &m, const FrameContext &f, uint32_t y, uint16_t *dst) {
    const uint32_t W = f.W;
    uint16_t *out = dst + 2;
    std::memcpy(out, f.lcaFrame + size_t(y) * W, W * sizeof(uint16_t));
    const int colours[2] = {kRed, kBlue};
    const LcaTable *tables[2] = {&m.lcaRed, &m.lcaBlue};
    for (int c = 0; c < 2; c++) {
        uint32_t px = 0, py = 0;
        positionOf(f, colours[c], &px, &py);
        if ((y & 1u) != py) {
            continue;
        }
        const LcaTable &t = *tables[c];
        const uint32_t k = y / 2;
        const uint16_t *r0 = f.lcaFrame + size_t(2 * t.row0[k] + py) * W + px;
        const uint16_t *r1 = f.lcaFrame + size_t(2 * t.row1[k] + py) * W + px;
        const uint32_t fy = t.rowFrac[k], gy = 256u - fy;
        const uint32_t *c0 = t.col0.data(), *c1 = t.col1.data();
        const uint16_t *fx = t.colFrac.data();
        for (uint32_t j = 0; j < W / 2; j++) {
            const uint32_t a = 2 * c0[j], bcol = 2 * c1[j], wx = fx[j], gx = 256u - wx;
            const uint32_t top = r0[a] * gx + r0[bcol] * wx, bottom = r1[a] * gx + r1[bcol] * wx;
            out[2 * j + px] = static_cast<uint16_t>((top * gy + bottom * fy + 32768u) >> 16);
        }
    }
    out[-1] = out[1];
    out[-2] = out[2];
    out[W] = out[W - 2];
    out[W + 1] = W >= 3 ? out[W - 3] : out[W - 1];
}

} // namespace isp
} // namespace norva_sim
