#ifndef NORVA_TEST_DG_PACKER_H
#define NORVA_TEST_DG_PACKER_H

/*
 * A small reference packer of data-generator frames for tests, written from the line-format rules: parallel
 * 10-bit (three samples per little-endian word) and 12-bit (a | b << 12 in three bytes); MIPI RAW10/12/14 long
 * packets with header ECC and CRC-16, frame start/end packets, and line start/end packets in the long format.
 */

#include <cstdint>
#include <cstring>
#include <vector>

#include "ci/ci_datagen.h"

namespace dg_packer {

/** Parity rows of the header ECC: character j is '1' when data bit j counts into the parity bit. */
inline uint8_t ecc(const uint8_t b[3]) {
    static const char *const rows[6] = {
        "111011010011010010001111", "110110101010101001001111", "101101100101100100101110",
        "011100011100011100011101", "000011111100000011111011", "000000000011111111110111",
    };
    const uint32_t d = b[0] | b[1] << 8 | b[2] << 16;
    uint8_t e = 0;
    for (int p = 0; p < 6; ++p) {
        int parity = 0;
        for (int j = 0; j < 24; ++j)
            parity ^= rows[p][j] == '1' ? (d >> j) & 1 : 0;
        e |= static_cast<uint8_t>(parity << p);
    }
    return e;
}

inline uint16_t crc16(const uint8_t *p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        for (int b = 0; b < 8; ++b) {
            const bool bit = ((p[i] >> b) & 1) != (crc & 1);
            crc = static_cast<uint16_t>((crc >> 1) ^ (bit ? 0x8408 : 0));
        }
    }
    return crc;
}

inline void shortPacket(std::vector<uint8_t> &out, uint8_t dataType, uint16_t value) {
    const uint8_t h[3] = {dataType, static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
    out.insert(out.end(), h, h + 3);
    out.push_back(ecc(h));
}

/** Payload (or, for the parallel format, the whole line) of the first width / 2 × 2 samples. */
inline std::vector<uint8_t> payload(CI_CONV_FMT fmt, unsigned depth, const uint16_t *s, uint32_t width) {
    const uint32_t n = width / 2 * 2;
    std::vector<uint8_t> out;
    auto at = [&](uint32_t j) -> uint32_t { return j < n ? s[j] : 0; };
    if (fmt == CI_DGFMT_PARALLEL && depth == 10) {
        for (uint32_t j = 0; j < n; j += 3) {
            uint32_t w = 0;
            for (uint32_t k = 0; k < 3 && j + k < n; ++k)
                w |= (at(j + k) & 0x3FF) << (10 * k);
            for (int b = 0; b < 4; ++b)
                out.push_back(static_cast<uint8_t>(w >> (8 * b)));
        }
    } else if (fmt == CI_DGFMT_PARALLEL) {
        for (uint32_t j = 0; j < n; j += 2) {
            const uint32_t v = (at(j) & 0xFFF) | (at(j + 1) & 0xFFF) << 12;
            for (int b = 0; b < 3; ++b)
                out.push_back(static_cast<uint8_t>(v >> (8 * b)));
        }
    } else if (depth == 12) {
        for (uint32_t j = 0; j < n; j += 2) {
            out.push_back(static_cast<uint8_t>(at(j) >> 4));
            out.push_back(static_cast<uint8_t>(at(j + 1) >> 4));
            out.push_back(static_cast<uint8_t>((at(j + 1) << 4 | (at(j) & 0xF)) & 0xFF));
        }
    } else { // RAW10, RAW14: four high bytes, then the low bits of the four samples
        const unsigned low = depth - 8;
        for (uint32_t j = 0; j < n; j += 4) {
            uint32_t lows = 0;
            for (uint32_t k = 0; k < 4; ++k) {
                out.push_back(static_cast<uint8_t>(at(j + k) >> low));
                lows |= (at(j + k) & ((1u << low) - 1)) << (low * k);
            }
            for (unsigned b = 0; b < low / 2; ++b)
                out.push_back(static_cast<uint8_t>(lows >> (8 * b)));
        }
    }
    return out;
}

inline uint8_t dataType(unsigned depth) { return depth == 10 ? 0x2B : depth == 12 ? 0x2C : 0x2D; }

/** One packed line; MIPI lines carry their line number in the long format. */
inline std::vector<uint8_t> line(CI_CONV_FMT fmt, unsigned depth, const uint16_t *s, uint32_t width,
                                 uint16_t lineNumber) {
    std::vector<uint8_t> body = payload(fmt, depth, s, width);
    if (fmt == CI_DGFMT_PARALLEL)
        return body;
    std::vector<uint8_t> out;
    if (fmt == CI_DGFMT_MIPI_LF)
        shortPacket(out, 0x02, lineNumber);
    shortPacket(out, dataType(depth), static_cast<uint16_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    const uint16_t crc = crc16(body.data(), body.size());
    out.push_back(static_cast<uint8_t>(crc & 0xFF));
    out.push_back(static_cast<uint8_t>(crc >> 8));
    if (fmt == CI_DGFMT_MIPI_LF)
        shortPacket(out, 0x03, lineNumber);
    return out;
}

/** Smallest stride (a multiple of 64) holding a line and, for MIPI, the frame packets. */
inline uint32_t stride(CI_CONV_FMT fmt, unsigned depth, uint32_t width) {
    std::vector<uint16_t> zeros(width, 0);
    const size_t bytes = line(fmt, depth, zeros.data(), width, 1).size() + (fmt == CI_DGFMT_PARALLEL ? 0 : 4);
    return static_cast<uint32_t>((bytes + 63) / 64 * 64);
}

/** A whole frame of stride × height bytes. */
inline std::vector<uint8_t> frame(CI_CONV_FMT fmt, unsigned depth, const uint16_t *s, uint32_t width, uint32_t height,
                                  uint32_t strideBytes) {
    std::vector<uint8_t> out(static_cast<size_t>(strideBytes) * height, 0);
    size_t end = 0;
    for (uint32_t i = 0; i < height; ++i) {
        std::vector<uint8_t> l =
            line(fmt, depth, s + static_cast<size_t>(i) * width, width, static_cast<uint16_t>(i + 1));
        size_t pos = static_cast<size_t>(i) * strideBytes;
        if (i == 0 && fmt != CI_DGFMT_PARALLEL) {
            std::vector<uint8_t> fs;
            shortPacket(fs, 0x00, 1);
            std::memcpy(out.data(), fs.data(), 4);
            pos = 4;
        }
        std::memcpy(out.data() + pos, l.data(), l.size());
        end = pos + l.size();
    }
    if (fmt != CI_DGFMT_PARALLEL) {
        std::vector<uint8_t> fe;
        shortPacket(fe, 0x01, 1);
        if (end + 4 > out.size())
            out.resize(end + 4, 0);
        std::memcpy(out.data() + end, fe.data(), 4);
    }
    return out;
}

/**
 * Packs `samples` (width × height, Bayer `mosaic`) into a frame of the generator's format and depth and
 * describes it, ready to insert; `damageAt` >= 0 flips one bit of that byte first. The packed frame must fit.
 */
inline void fill(CI_DG_FRAME *frame, CI_CONV_FMT fmt, unsigned depth, MOSAICType mosaic, const uint16_t *samples,
                 uint32_t width, uint32_t height, uint32_t strideBytes, long damageAt = -1) {
    std::vector<uint8_t> bytes = dg_packer::frame(fmt, depth, samples, width, height, strideBytes);
    if (damageAt >= 0)
        bytes[static_cast<size_t>(damageAt)] ^= 0x40;
    std::memcpy(frame->data, bytes.data(), bytes.size() < frame->ui32AllocSize ? bytes.size() : frame->ui32AllocSize);
    frame->eFormat = fmt;
    frame->ui8FormatBitdepth = static_cast<QOR_UINT8>(depth);
    frame->eBayerMosaic = mosaic;
    frame->ui32Stride = strideBytes;
    frame->ui32Width = width;
    frame->ui32Height = height;
}

} // namespace dg_packer

#endif /* NORVA_TEST_DG_PACKER_H */
