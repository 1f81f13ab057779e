// Reading back the raw codes of a camera's TIFF10 extraction and averaging one Bayer position of a scene patch.
#ifndef NORVA_TEST_SUPPORT_RAW_PATCH_H
#define NORVA_TEST_SUPPORT_RAW_PATCH_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ispc/Shot.h"
#include "platform/sim_sensor.h"

namespace norva_test {

/** The raw codes of a TIFF10 extraction (10-bit samples, most significant bit first, rows at the stride). */
inline std::vector<uint16_t> rawOf(const ISPC::Buffer &b, unsigned width, unsigned height) {
    std::vector<uint16_t> out(static_cast<size_t>(width) * height);
    for (unsigned y = 0; y < height; y++) {
        const uint8_t *row = b.firstData() + static_cast<size_t>(y) * b.stride;
        for (unsigned x = 0; x < width; x++) {
            const size_t bit = static_cast<size_t>(x) * 10;
            const unsigned word = (row[bit / 8] << 8) | row[bit / 8 + 1];
            out[static_cast<size_t>(y) * width + x] = static_cast<uint16_t>((word >> (6 - bit % 8)) & 0x3FF);
        }
    }
    return out;
}

/** Mean of one Bayer position (dx, dy) of a rectangle, shrunk by a margin against the demosaic's neighbours. */
inline double meanOf(const std::vector<uint16_t> &raw, unsigned width, const norva_sim::SceneRect &r, unsigned dx,
                     unsigned dy) {
    double sum = 0;
    unsigned n = 0;
    for (unsigned y = r.y0 + 4 + dy; y < r.y1 - 4; y += 2)
        for (unsigned x = r.x0 + 4 + dx; x < r.x1 - 4; x += 2) {
            sum += raw[static_cast<size_t>(y) * width + x];
            n++;
        }
    return n ? sum / n : 0;
}

} // namespace norva_test

#endif
