#ifndef NORVA_SIM_ISP_PACK_H
#define NORVA_SIM_ISP_PACK_H

/* Output packing of the ISP model: rows of 10-bit components or 16-bit Bayer samples into the formats' bytes. */

#include <cstddef>
#include <cstdint>
#include <vector>

#include "norvacommon/pixel_transform.h"
#include "platform/sim_isp_model.h"

namespace norva_sim {
namespace isp {

/** Rows of one plane of a caller's buffer, linear or tiled. */
class PlaneWriter {
public:
    /**
     * Checks that `rows` rows of `rowBytes` bytes fit at `planeOffset` with `stride` in the buffer; false when
     * they do not (or the tiling does not divide the stride). `scratch` holds a tiled row before it is scattered.
     */
    bool setup(const IspOutputBuffer &buffer, size_t planeOffset, uint32_t stride, uint32_t rows, size_t rowBytes,
               std::vector<uint8_t> *scratch);
    /** Where to write row y (rowBytes bytes). */
    uint8_t *row(uint32_t y);
    /** Finishes row y (scatters it into its tiles). */
    void commit(uint32_t y);
    bool active() const { return m_base != nullptr; }

private:
    uint8_t *m_base = nullptr;
    uint32_t m_stride = 0;
    size_t m_rowBytes = 0;
    uint32_t m_tileStride = 0;
    uint32_t m_tileHeight = 0;
    std::vector<uint8_t> *m_scratch = nullptr;
};

/** Bytes of a packed row of `width` pixels (or samples) of a format. */
size_t PackedRowBytes(const PIXELTYPE &type, uint32_t width);

/** Luma of a semi-planar format: 10-bit samples into 8-bit bytes or 10-bit words (three per 32-bit word). */
void PackLuma(const uint16_t *y10, uint32_t n, unsigned bitDepth, uint8_t *out);
/** Chroma of a semi-planar format: n pairs, first then second component of each, in the converter's order. */
void PackChroma(const uint16_t *first10, const uint16_t *second10, uint32_t n, unsigned bitDepth, uint8_t *out);
/**
 * Three-component pixels (RGB and packed 4:4:4) from the converter's outputs o0, o1, o2 (10-bit): bytes o2, o1,
 * o0 (and a zero byte) for 8-bit formats, o2 | o1 << 10 | o0 << 20 in a 32-bit word for 10-bit formats,
 * 16-bit words o2, o1, o0, 0 for the 64-bit format.
 */
void PackTriplets(pxlFormat format, const uint16_t *o0, const uint16_t *o1, const uint16_t *o2, uint32_t n,
                  uint8_t *out);
/** Bayer samples (16-bit scale) into a Bayer format: LSB-first packing, or MSB-first for the TIFF formats. */
void PackBayer(pxlFormat format, const uint16_t *v16, uint32_t n, uint8_t *out);

} // namespace isp
} // namespace norva_sim

#endif
