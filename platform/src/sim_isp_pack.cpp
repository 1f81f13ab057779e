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

void PlaneWriter::useScratch(std::vector<uint8_t> *scratch) {
    m_scratch = scratch;
    if (m_tileStride != 0 && m_scratch->size() < m_stride) {
        m_scratch->resize(m_stride);
    }
}

uint8_t *PlaneWriter::row(uint32_t y) {
    if (m_tileStride == 0) {
        return m_base + size_t(y) * m_stride;
    }
    // the packers may leave the end of a row's last group unwritten: zeros, not the previous row, are copied
    std::memset(m_scratch->data(), 0, m_rowBytes);
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

using detail::pack10in32;

void PackLuma(const uint16_t *y10, uint32_t n, unsigned bitDepth, uint8_t *out) {
    PackLumaInline(y10, n, bitDepth, out);
}

void PackChroma(const uint16_t *first10, const uint16_t *second10, uint32_t n, unsigned bitDepth, uint8_t *out) {
    PackChromaInline(first10, second10, n, bitDepth, out);
}

void PackTriplets(pxlFormat format, const uint16_t *o0, const uint16_t *o1, const uint16_t *o2, uint32_t n,
                  uint8_t *out) {
    PackTripletsInline(format, o0, o1, o2, n, out);
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
