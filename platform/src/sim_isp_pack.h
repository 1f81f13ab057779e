#ifndef NORVA_SIM_ISP_PACK_H
#define NORVA_SIM_ISP_PACK_H

/* Output packing of the ISP model: rows of 10-bit components or 16-bit Bayer samples into the formats' bytes. */

#include <cstddef>
#include <cstdint>
#include <cstring>
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
    /** Another scratch row for a tiled layout (a copy of the writer used by another thread). */
    void useScratch(std::vector<uint8_t> *scratch);
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
/** The body of PackTriplets, inlined into the vector builds of the model's kernels. */
#define NORVA_PACK_INLINE inline __attribute__((always_inline))

namespace detail {

NORVA_PACK_INLINE uint8_t to8(uint16_t v10) {
    const unsigned v = (unsigned(v10) + 2u) >> 2;
    return static_cast<uint8_t>(v > 255u ? 255u : v);
}

/** Little-endian stores; on a little-endian machine one plain store, which the compiler can vectorize. */
NORVA_PACK_INLINE void put32(uint8_t *p, uint32_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(p, &w, sizeof(w));
#else
    p[0] = static_cast<uint8_t>(w);
    p[1] = static_cast<uint8_t>(w >> 8);
    p[2] = static_cast<uint8_t>(w >> 16);
    p[3] = static_cast<uint8_t>(w >> 24);
#endif
}

NORVA_PACK_INLINE void put16(uint8_t *p, uint16_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(p, &w, sizeof(w));
#else
    p[0] = static_cast<uint8_t>(w);
    p[1] = static_cast<uint8_t>(w >> 8);
#endif
}

/**
 * n little-endian 32-bit words word(i) from out on: computed into a small buffer (a loop the compiler vectorizes),
 * then copied.
 */
template <typename Word> NORVA_PACK_INLINE void putWords(uint32_t n, Word word, uint8_t *out) {
    constexpr uint32_t kChunk = 256;
    uint32_t buffer[kChunk];
    for (size_t i0 = 0; i0 < n; i0 += kChunk) {
        const size_t k = n - i0 < kChunk ? n - i0 : kChunk;
        // a pointer-sized index, so that the compiler can vectorize the loop
        for (size_t i = 0; i < k; i++) {
            buffer[i] = word(i0 + i);
        }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::memcpy(out + 4 * size_t(i0), buffer, 4 * size_t(k));
#else
        for (uint32_t i = 0; i < k; i++) {
            put32(out + 4 * size_t(i0 + i), buffer[i]);
        }
#endif
    }
}

/** Samples three per little-endian 32-bit word (bits 0-9, 10-19, 20-29); a last partial word is completed. */
template <typename Get> NORVA_PACK_INLINE void pack10in32(uint32_t n, Get get, uint8_t *out) {
    uint32_t i = 0;
    for (; i + 3 <= n; i += 3, out += 4) {
        put32(out, uint32_t(get(i)) | (uint32_t(get(i + 1)) << 10) | (uint32_t(get(i + 2)) << 20));
    }
    if (i < n) {
        uint32_t w = 0;
        for (unsigned k = 0; i + k < n; k++) {
            w |= uint32_t(get(i + k)) << (10 * k);
        }
        put32(out, w);
    }
}

} // namespace detail

/** The bodies of PackLuma and PackChroma, inlined into the vector builds of the model's kernels. */
NORVA_PACK_INLINE void PackLumaInline(const uint16_t *__restrict y10, uint32_t n, unsigned bitDepth,
                                      uint8_t *__restrict out) {
    if (bitDepth <= 8) {
        for (uint32_t i = 0; i < n; i++) {
            out[i] = detail::to8(y10[i]);
        }
        return;
    }
    detail::pack10in32(
        n, [y10](uint32_t i) { return y10[i]; }, out);
}

NORVA_PACK_INLINE void PackChromaInline(const uint16_t *__restrict first10, const uint16_t *__restrict second10,
                                        uint32_t n, unsigned bitDepth, uint8_t *__restrict out) {
    if (bitDepth <= 8) {
        for (uint32_t i = 0; i < n; i++) {
            detail::put16(out + 2 * i,
                          static_cast<uint16_t>(detail::to8(first10[i]) | (detail::to8(second10[i]) << 8)));
        }
        return;
    }
    detail::pack10in32(
        2 * n, [first10, second10](uint32_t i) { return (i & 1u) ? second10[i >> 1] : first10[i >> 1]; }, out);
}

NORVA_PACK_INLINE void PackTripletsInline(pxlFormat format, const uint16_t *__restrict o0,
                                          const uint16_t *__restrict o1, const uint16_t *__restrict o2, uint32_t n,
                                          uint8_t *__restrict out) {
    switch (format) {
    case RGB_888_24:
    case BGR_888_24:
    case PXL_ISP_444IL3YCrCb8:
    case PXL_ISP_444IL3YCbCr8:
        for (uint32_t i = 0; i < n; i++) {
            out[3 * i] = detail::to8(o2[i]);
            out[3 * i + 1] = detail::to8(o1[i]);
            out[3 * i + 2] = detail::to8(o0[i]);
        }
        break;
    case RGB_888_32:
    case BGR_888_32:
        detail::putWords(
            n,
            [o0, o1, o2](size_t i) {
                return uint32_t(detail::to8(o2[i])) | (uint32_t(detail::to8(o1[i])) << 8) |
                       (uint32_t(detail::to8(o0[i])) << 16);
            },
            out);
        break;
    case RGB_101010_32:
    case BGR_101010_32:
    case PXL_ISP_444IL3YCrCb10:
    case PXL_ISP_444IL3YCbCr10:
        detail::putWords(
            n, [o0, o1, o2](size_t i) { return uint32_t(o2[i]) | (uint32_t(o1[i]) << 10) | (uint32_t(o0[i]) << 20); },
            out);
        break;
    case BGR_161616_64:
        for (uint32_t i = 0; i < n; i++, out += 8) {
            const uint16_t c[4] = {o2[i], o1[i], o0[i], 0};
            for (unsigned k = 0; k < 4; k++) {
                // 10 bits widened to 16 by repeating the top bits
                const uint16_t v = k < 3 ? static_cast<uint16_t>((c[k] << 6) | (c[k] >> 4)) : 0;
                out[2 * k] = static_cast<uint8_t>(v);
                out[2 * k + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
        break;
    default:
        break;
    }
}

/** Bayer samples (16-bit scale) into a Bayer format: LSB-first packing, or MSB-first for the TIFF formats. */
void PackBayer(pxlFormat format, const uint16_t *v16, uint32_t n, uint8_t *out);

} // namespace isp
} // namespace norva_sim

#endif
