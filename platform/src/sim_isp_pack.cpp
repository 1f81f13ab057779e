/* Output packing of the ISP model. */
#include "sim_isp_pack.h"

#include <cstring>

namespace norva_sim {
namespace isp {

bool PlaneWriter::setup(const IspOutputBuffer &buffer, size_t planeOffset, uint32_t stride, uint32_t rows,
                        size_t rowBytes, std::vector<uint8_t> *scratch) {
    m_base = nullptr;
    if (buffer.data == nullptr || rows == 0 || stride < rowBytes) {
        return false;
    }
    uint64_t need = 0;
    if (buffer.tileStride != 0) {
        if (buffer.tileHeight == 0 || stride % buffer.tileStride != 0) {
            return false;
        }
        const uint64_t bands = (uint64_t(rows) + buffer.tileHeight - 1) / buffer.tileHeight;
        need = uint64_t(planeOffset) + bands * uint64_t(stride) * buffer.tileHeight;
    } else {
        need = uint64_t(planeOffset) + uint64_t(rows - 1) * stride + rowBytes;
    }
    if (need > buffer.size) {
        return false;
    }
    m_base = buffer.data + planeOffset;
    m_stride = stride;
    m_rowBytes = rowBytes;
    m_tileStride = buffer.tileStride;
    m_tileHeight = buffer.tileHeight;
    m_scratch = scratch;
    if (m_tileStride != 0 && m_scratch->size() < stride) {
        m_scratch->resize(stride);
    }
    return true;
}

uint8_t *PlaneWriter::row(uint32_t y) {
    if (m_tileStride == 0) {
        return m_base + size_t(y) * m_stride;
    }
    return m_scratch->data();
}

void PlaneWriter::commit(uint32_t y) {
    if (m_tileStride == 0) {
        return;
    }
    const uint8_t *src = m_scratch->data();
    const size_t tileBytes = size_t(m_tileStride) * m_tileHeight;
    uint8_t *bandBase =
        m_base + size_t(y / m_tileHeight) * m_stride * m_tileHeight + size_t(y % m_tileHeight) * m_tileStride;
    for (size_t x = 0, tile = 0; x < m_rowBytes; x += m_tileStride, tile++) {
        const size_t n = m_rowBytes - x < m_tileStride ? m_rowBytes - x : m_tileStride;
        std::memcpy(bandBase + tile * tileBytes, src + x, n);
    }
}

size_t PackedRowBytes(const PIXELTYPE &type, uint32_t width) {
    if (type.ui8PackedElements == 0) {
        return 0;
    }
    return (size_t(width) + type.ui8PackedElements - 1) / type.ui8PackedElements * type.ui8PackedStride;
}

namespace {

inline uint8_t to8(uint16_t v10) {
    const unsigned v = (unsigned(v10) + 2u) >> 2;
    return static_cast<uint8_t>(v > 255u ? 255u : v);
}

/** Little-endian stores; on a little-endian machine one plain store, which the compiler can vectorize. */
inline void put32(uint8_t *p, uint32_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(p, &w, sizeof(w));
#else
    p[0] = static_cast<uint8_t>(w);
    p[1] = static_cast<uint8_t>(w >> 8);
    p[2] = static_cast<uint8_t>(w >> 16);
    p[3] = static_cast<uint8_t>(w >> 24);
#endif
}

inline void put16(uint8_t *p, uint16_t w) {
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
template <typename Word> void putWords(uint32_t n, Word word, uint8_t *out) {
    constexpr uint32_t kChunk = 256;
    uint32_t buffer[kChunk];
    for (uint32_t i0 = 0; i0 < n; i0 += kChunk) {
        const uint32_t k = n - i0 < kChunk ? n - i0 : kChunk;
        for (uint32_t i = 0; i < k; i++) {
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
template <typename Get> void pack10in32(uint32_t n, Get get, uint8_t *out) {
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

} // namespace

void PackLuma(const uint16_t *__restrict y10, uint32_t n, unsigned bitDepth, uint8_t *__restrict out) {
    if (bitDepth <= 8) {
        for (uint32_t i = 0; i < n; i++) {
            out[i] = to8(y10[i]);
        }
        return;
    }
    pack10in32(
        n, [y10](uint32_t i) { return y10[i]; }, out);
}

void PackChroma(const uint16_t *__restrict first10, const uint16_t *__restrict second10, uint32_t n, unsigned bitDepth,
                uint8_t *__restrict out) {
    if (bitDepth <= 8) {
        for (uint32_t i = 0; i < n; i++) {
            put16(out + 2 * i, static_cast<uint16_t>(to8(first10[i]) | (to8(second10[i]) << 8)));
        }
        return;
    }
    pack10in32(
        2 * n, [first10, second10](uint32_t i) { return (i & 1u) ? second10[i >> 1] : first10[i >> 1]; }, out);
}

void PackTriplets(pxlFormat format, const uint16_t *__restrict o0, const uint16_t *__restrict o1,
                  const uint16_t *__restrict o2, uint32_t n, uint8_t *__restrict out) {
    switch (format) {
    case RGB_888_24:
    case BGR_888_24:
    case PXL_ISP_444IL3YCrCb8:
    case PXL_ISP_444IL3YCbCr8:
        for (uint32_t i = 0; i < n; i++) {
            out[3 * i] = to8(o2[i]);
            out[3 * i + 1] = to8(o1[i]);
            out[3 * i + 2] = to8(o0[i]);
        }
        break;
    case RGB_888_32:
    case BGR_888_32:
        putWords(
            n,
            [o0, o1, o2](uint32_t i) {
                return uint32_t(to8(o2[i])) | (uint32_t(to8(o1[i])) << 8) | (uint32_t(to8(o0[i])) << 16);
            },
            out);
        break;
    case RGB_101010_32:
    case BGR_101010_32:
    case PXL_ISP_444IL3YCrCb10:
    case PXL_ISP_444IL3YCbCr10:
        putWords(
            n, [o0, o1, o2](uint32_t i) { return uint32_t(o2[i]) | (uint32_t(o1[i]) << 10) | (uint32_t(o0[i]) << 20); },
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

void PackBayer(pxlFormat format, const uint16_t *v16, uint32_t n, uint8_t *out) {
    switch (format) {
    case BAYER_RGGB_8:
        for (uint32_t i = 0; i < n; i++) {
            out[i] = static_cast<uint8_t>(v16[i] >> 8);
        }
        break;
    case BAYER_RGGB_10:
        pack10in32(
            n, [v16](uint32_t i) { return static_cast<uint16_t>(v16[i] >> 6); }, out);
        break;
    case BAYER_RGGB_12: {
        // two samples per three bytes: the little-endian 24-bit value a | b << 12
        for (uint32_t i = 0; i < n; i += 2, out += 3) {
            const uint32_t a = v16[i] >> 4;
            const uint32_t b = i + 1 < n ? (v16[i + 1] >> 4) : 0u;
            const uint32_t w = a | (b << 12);
            out[0] = static_cast<uint8_t>(w);
            out[1] = static_cast<uint8_t>(w >> 8);
            out[2] = static_cast<uint8_t>(w >> 16);
        }
        break;
    }
    case BAYER_TIFF_10:
    case BAYER_TIFF_12: {
        // a most-significant-bit-first stream of the samples
        const unsigned bits = format == BAYER_TIFF_10 ? 10u : 12u;
        uint64_t acc = 0;
        unsigned have = 0;
        for (uint32_t i = 0; i < n; i++) {
            acc = (acc << bits) | (v16[i] >> (16u - bits));
            have += bits;
            while (have >= 8) {
                have -= 8;
                *out++ = static_cast<uint8_t>(acc >> have);
            }
        }
        if (have > 0) {
            *out++ = static_cast<uint8_t>(acc << (8 - have));
        }
        break;
    }
    default:
        break;
    }
}

} // namespace isp
} // namespace norva_sim
