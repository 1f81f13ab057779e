#include "support/bayer_scene.h"

#include <algorithm>
#include <cmath>

namespace norva_test {

const double kGreyLevels[ChartLayout::kPatches] = {0.05, 0.1, 0.2, 0.35, 0.5, 0.7};
const double kColourPatches[ChartLayout::kPatches][3] = {
    {0.50, 0.08, 0.08}, {0.08, 0.45, 0.08}, {0.08, 0.08, 0.50},
    {0.08, 0.40, 0.45}, {0.45, 0.08, 0.40}, {0.50, 0.45, 0.08},
};
const double kChartBackground = 0.18;
const double kRampTop = 0.95;
const double kEdgeHigh = 0.8;
const double kEdgeLow = 0.02;

namespace {

uint32_t even(uint32_t v) { return v & ~1u; }

/** A row of n patches across a band, each with a margin of an eighth of its cell. */
void patchRow(Rect *out, int n, uint32_t y0, uint32_t bandH, uint32_t width) {
    const uint32_t cell = width / uint32_t(n);
    for (int i = 0; i < n; i++) {
        const uint32_t m = even(cell / 8 + 2);
        out[i].x = even(uint32_t(i) * cell + m);
        out[i].w = even(cell - 2 * m);
        out[i].y = even(y0 + bandH / 8 + 2);
        out[i].h = even(bandH - 2 * (out[i].y - y0));
    }
}

} // namespace

ChartLayout TestChartLayout(uint32_t width, uint32_t height) {
    ChartLayout l;
    const uint32_t band = even(height / 4);
    l.ramp = Rect{0, 0, width, band};
    patchRow(l.grey, ChartLayout::kPatches, band, band, width);
    patchRow(l.colour, ChartLayout::kPatches, 2 * band, band, width);
    const uint32_t y3 = 3 * band, h3 = height - y3;
    l.edges = Rect{even(width / 16), even(y3 + h3 / 8 + 2), even(width / 2), 0};
    l.edges.h = even(height - l.edges.y - h3 / 8 - 2);
    l.clipped = Rect{even(width * 11 / 16), l.edges.y, even(width / 6), l.edges.h};
    return l;
}

std::vector<double> TestChartRgb(uint32_t width, uint32_t height) {
    const ChartLayout l = TestChartLayout(width, height);
    std::vector<double> rgb(size_t(width) * height * 3, kChartBackground);
    for (uint32_t y = 0; y < height; y++) {
        for (uint32_t x = 0; x < width; x++) {
            double *p = &rgb[(size_t(y) * width + x) * 3];
            double v[3] = {kChartBackground, kChartBackground, kChartBackground};
            if (l.ramp.contains(x, y)) {
                v[0] = v[1] = v[2] = kRampTop * double(x) / double(width - 1);
            }
            for (int i = 0; i < ChartLayout::kPatches; i++) {
                if (l.grey[i].contains(x, y)) {
                    v[0] = v[1] = v[2] = kGreyLevels[i];
                }
                if (l.colour[i].contains(x, y)) {
                    v[0] = kColourPatches[i][0], v[1] = kColourPatches[i][1], v[2] = kColourPatches[i][2];
                }
            }
            if (l.edges.contains(x, y)) {
                // left to right: bars of 2, 4 and 8 pixels, then checks of 4 pixels
                const uint32_t u = x - l.edges.x, q = l.edges.w / 4;
                bool on = false;
                if (u < q) {
                    on = (u / 2) & 1u;
                } else if (u < 2 * q) {
                    on = (u / 4) & 1u;
                } else if (u < 3 * q) {
                    on = (u / 8) & 1u;
                } else {
                    on = ((u / 4) ^ ((y - l.edges.y) / 4)) & 1u;
                }
                v[0] = v[1] = v[2] = on ? kEdgeHigh : kEdgeLow;
            }
            if (l.clipped.contains(x, y)) {
                v[0] = v[1] = v[2] = 4.0;
            }
            p[0] = v[0], p[1] = v[1], p[2] = v[2];
        }
    }
    return rgb;
}

int BayerColourAt(MOSAICType mosaic, uint32_t x, uint32_t y) {
    static const int kCells[4][2][2] = {
        {{0, 1}, {1, 2}}, /* RGGB */
        {{1, 0}, {2, 1}}, /* GRBG */
        {{1, 2}, {0, 1}}, /* GBRG */
        {{2, 1}, {1, 0}}, /* BGGR */
    };
    const int m = (mosaic >= MOSAIC_RGGB && mosaic <= MOSAIC_BGGR) ? int(mosaic) - 1 : 0;
    return kCells[m][y & 1u][x & 1u];
}

BayerScene MakeTestChart(const SceneOptions &o) {
    BayerScene s;
    s.options = o;
    s.layout = TestChartLayout(o.width, o.height);
    std::vector<double> rgb = TestChartRgb(o.width, o.height);
    for (size_t i = 0; i < rgb.size(); i++) {
        if (rgb[i] < 1.0) {
            rgb[i] *= o.channelGain[i % 3];
        }
    }
    if (o.blurRadius > 0) {
        // separable box blur, clamped at the borders
        const int r = int(o.blurRadius);
        std::vector<double> tmp(rgb.size());
        const int W = int(o.width), H = int(o.height);
        for (int pass = 0; pass < 2; pass++) {
            const std::vector<double> &src = pass == 0 ? rgb : tmp;
            std::vector<double> &dst = pass == 0 ? tmp : rgb;
            for (int y = 0; y < H; y++) {
                for (int x = 0; x < W; x++) {
                    for (int c = 0; c < 3; c++) {
                        double sum = 0;
                        for (int k = -r; k <= r; k++) {
                            const int xx = pass == 0 ? std::clamp(x + k, 0, W - 1) : x;
                            const int yy = pass == 1 ? std::clamp(y + k, 0, H - 1) : y;
                            sum += src[(size_t(yy) * W + xx) * 3 + c];
                        }
                        dst[(size_t(y) * W + x) * 3 + c] = sum / (2 * r + 1);
                    }
                }
            }
        }
    }
    const double maxCode = double((1u << o.bitDepth) - 1u);
    s.samples.resize(size_t(o.width) * o.height);
    for (uint32_t y = 0; y < o.height; y++) {
        for (uint32_t x = 0; x < o.width; x++) {
            const double v = rgb[(size_t(y) * o.width + x) * 3 + BayerColourAt(o.mosaic, x, y)];
            const double code = o.blackLevel + v * (maxCode - o.blackLevel);
            s.samples[size_t(y) * o.width + x] = static_cast<uint16_t>(std::lround(std::clamp(code, 0.0, maxCode)));
        }
    }
    return s;
}

} // namespace norva_test
