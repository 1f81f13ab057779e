#include "support/bayer_scene.h"

#include <algorithm>
#include <cmath>

namespace norva_test {

std::vector<double> TestChartRgb(uint32_t width, uint32_t height) {
    const ChartLayout l = TestChartLayout(width, height);
    std::vector<double> rgb(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; y++) {
        norva_sim::ChartRow(l, width, y, &rgb[size_t(y) * width * 3]);
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
