#ifndef NORVA_TESTS_CONTROLS_CHART_SEGMENTS_H
#define NORVA_TESTS_CONTROLS_CHART_SEGMENTS_H

// Data-generator files for step tests: segments of frames of the test chart, each segment with its own linear
// transform of the chart (a level v becomes offset + scale x v), written as one Bayer NRV file.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "sim_image.h"
#include "support/bayer_scene.h"

namespace norva_test {

struct ChartSegment {
    double scale;    /**< multiplies every linear level */
    double offset;   /**< added after the scale */
    unsigned frames; /**< frames of this segment */
};

/** Writes the segments in order as a 10-bit RGGB NRV file of width x height. True on success. */
inline bool writeChartSegments(const std::string &path, uint32_t width, uint32_t height,
                               const std::vector<ChartSegment> &segments) {
    const std::vector<double> rgb = TestChartRgb(width, height);
    const double maxCode = 1023.0;
    sSimImageOut out;
    SimImageOut_init(&out);
    out.info.ui8BitDepth = 10;
    out.info.ui32Width = width;
    out.info.ui32Height = height;
    out.info.eColourModel = SimImage_RGGB;
    out.info.fGain = 1.0;
    bool ok = SimImageOut_create(&out) == QOR_RES_OK && SimImageOut_open(&out, path.c_str()) == QOR_RES_OK;
    std::vector<uint16_t> cells(static_cast<size_t>(width) * height);
    for (const ChartSegment &seg : segments) {
        // The writer takes each 2 x 2 cell as top-left, top-right, bottom-left, bottom-right.
        size_t i = 0;
        for (uint32_t cy = 0; cy < height / 2; cy++) {
            for (uint32_t cx = 0; cx < width / 2; cx++) {
                for (int k = 0; k < 4; k++) {
                    const uint32_t x = 2 * cx + (k & 1), y = 2 * cy + (k >> 1);
                    const double v = rgb[(size_t(y) * width + x) * 3 + BayerColourAt(MOSAIC_RGGB, x, y)];
                    const double code = std::clamp(seg.offset + seg.scale * std::min(v, 1.0), 0.0, 1.0) * maxCode;
                    cells[i++] = static_cast<uint16_t>(std::lround(code));
                }
            }
        }
        for (unsigned f = 0; ok && f < seg.frames; f++) {
            ok = SimImageOut_addFrame(&out, cells.data(), cells.size() * 2) == QOR_RES_OK &&
                 SimImageOut_write(&out) == QOR_RES_OK;
        }
    }
    ok = SimImageOut_close(&out) == QOR_RES_OK && ok;
    SimImageOut_clean(&out);
    return ok;
}

} // namespace norva_test

#endif
