#ifndef NORVA_TEST_DG_NRV_H
#define NORVA_TEST_DG_NRV_H

/*
 * Writes Bayer NRV files for the data-generator pseudo-sensor with the image library's writer, and gives the
 * mosaic each frame holds, so that what the device receives can be compared sample for sample.
 */

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim_image.h"

namespace dg_nrv {

/** Sample (x, y) of frame k of a test file: different in every frame, within the bit depth. */
inline uint16_t sample(uint32_t x, uint32_t y, unsigned k, unsigned depth) {
    return static_cast<uint16_t>((x * 7 + y * 13 + k * 101 + (x * y) % 5) & ((1u << depth) - 1));
}

/** The mosaic of frame k, row-major. */
inline std::vector<uint16_t> mosaic(uint32_t width, uint32_t height, unsigned k, unsigned depth) {
    std::vector<uint16_t> m(static_cast<size_t>(width) * height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x)
            m[static_cast<size_t>(y) * width + x] = sample(x, y, k, depth);
    }
    return m;
}

/**
 * Writes one RGGB frame of width x height 16-bit samples at the given depth (9 to 16), already in the writer's
 * order: each 2x2 cell as top-left, top-right, bottom-left, bottom-right. True on success.
 */
inline bool writeCells(const std::string &path, uint32_t width, uint32_t height, unsigned depth,
                       const std::vector<uint16_t> &cells) {
    sSimImageOut out;
    SimImageOut_init(&out);
    out.info.ui8BitDepth = static_cast<QOR_UINT8>(depth);
    out.info.ui32Width = width;
    out.info.ui32Height = height;
    out.info.eColourModel = SimImage_RGGB;
    out.info.fGain = 1.0;
    bool ok = SimImageOut_create(&out) == QOR_RES_OK && SimImageOut_open(&out, path.c_str()) == QOR_RES_OK;
    ok = ok && SimImageOut_addFrame(&out, cells.data(), cells.size() * 2) == QOR_RES_OK &&
         SimImageOut_write(&out) == QOR_RES_OK;
    ok = SimImageOut_close(&out) == QOR_RES_OK && ok;
    SimImageOut_clean(&out);
    return ok;
}

/**
 * Writes `frames` frames of width x height samples (both even) at the given depth (at most 16) and Bayer order.
 * The writer takes each 2x2 cell as top-left, top-right, bottom-left, bottom-right. True on success.
 */
inline bool write(const std::string &path, uint32_t width, uint32_t height, unsigned depth, unsigned frames,
                  sSimImageColourModel model = SimImage_RGGB) {
    sSimImageOut out;
    SimImageOut_init(&out);
    out.info.ui8BitDepth = static_cast<QOR_UINT8>(depth);
    out.info.ui32Width = width;
    out.info.ui32Height = height;
    out.info.eColourModel = model;
    out.info.fGain = 1.0;
    bool ok = SimImageOut_create(&out) == QOR_RES_OK && SimImageOut_open(&out, path.c_str()) == QOR_RES_OK;
    const size_t bytesPerSample = depth <= 8 ? 1 : 2;
    std::vector<uint8_t> cells(static_cast<size_t>(width) * height * bytesPerSample);
    for (unsigned k = 0; ok && k < frames; ++k) {
        const std::vector<uint16_t> m = mosaic(width, height, k, depth);
        size_t i = 0;
        for (uint32_t cy = 0; cy < height / 2; ++cy) {
            for (uint32_t cx = 0; cx < width / 2; ++cx) {
                const uint16_t v[4] = {m[(2 * cy) * width + 2 * cx], m[(2 * cy) * width + 2 * cx + 1],
                                       m[(2 * cy + 1) * width + 2 * cx], m[(2 * cy + 1) * width + 2 * cx + 1]};
                for (uint16_t s : v) {
                    if (bytesPerSample == 1) {
                        cells[i++] = static_cast<uint8_t>(s);
                    } else {
                        std::memcpy(&cells[i], &s, 2);
                        i += 2;
                    }
                }
            }
        }
        ok = SimImageOut_addFrame(&out, cells.data(), cells.size()) == QOR_RES_OK &&
             SimImageOut_write(&out) == QOR_RES_OK;
    }
    ok = SimImageOut_close(&out) == QOR_RES_OK && ok;
    SimImageOut_clean(&out);
    return ok;
}

} // namespace dg_nrv

#endif
