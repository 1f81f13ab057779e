// The gasket's receiver of data-generator frames: parallel 10/12-bit words and MIPI CSI-2 RAW10/12/14 packets,
// with the packet-header ECC (single-bit correction) and the payload CRC-16 checked on every line.
#include "platform/sim_line_format.h"

#include <cstring>
#include <initializer_list>

namespace norva_sim {
namespace {

// CSI-2 packet-header data types.
constexpr uint8_t kFrameStart = 0x00;
constexpr uint8_t kFrameEnd = 0x01;
constexpr uint8_t kLineStart = 0x02;
constexpr uint8_t kLineEnd = 0x03;
constexpr size_t kShortPacket = 4;
constexpr size_t kLongHeader = 4;
constexpr size_t kChecksum = 2;

/** The data bits D0-D23 that each parity bit P0-P5 of the header ECC covers. */
constexpr uint32_t bits(std::initializer_list<int> list) {
    uint32_t m = 0;
    for (int b : list)
        m |= 1u << b;
    return m;
}
constexpr uint32_t kParityMasks[6] = {
    bits({0, 1, 2, 4, 5, 7, 10, 11, 13, 16, 20, 21, 22, 23}),
    bits({0, 1, 3, 4, 6, 8, 10, 12, 14, 17, 20, 21, 22, 23}),
    bits({0, 2, 3, 5, 6, 9, 11, 12, 15, 18, 20, 21, 22}),
    bits({1, 2, 3, 7, 8, 9, 13, 14, 15, 19, 20, 21, 23}),
    bits({4, 5, 6, 7, 8, 9, 16, 17, 18, 19, 20, 22, 23}),
    bits({10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 21, 22, 23}),
};

uint8_t eccOf(uint32_t data) {
    uint8_t ecc = 0;
    for (int p = 0; p < 6; ++p) {
        if (__builtin_parity(data & kParityMasks[p]))
            ecc |= static_cast<uint8_t>(1u << p);
    }
    return ecc;
}

/** The syndrome a flipped data bit produces: the parity bits that cover it. */
uint8_t columnOf(int bit) { return eccOf(1u << bit); }

struct Header {
    uint8_t vc;
    uint8_t dataType;
    uint16_t value;
};

/** Reads a packet header, repairing a single-bit error; false when the header is beyond repair. */
bool readHeader(const uint8_t *p, Header *h, LineErrors *errors) {
    uint32_t data = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
    const uint8_t syndrome = static_cast<uint8_t>(eccOf(data) ^ p[3]);
    if (syndrome != 0) {
        if ((syndrome & (syndrome - 1)) == 0) {
            errors->eccCorrected++; // a parity bit itself was hit
        } else {
            int bad = -1;
            for (int b = 0; b < 24 && bad < 0; ++b) {
                if (columnOf(b) == syndrome)
                    bad = b;
            }
            if (bad < 0) {
                errors->ecc++;
                return false;
            }
            data ^= 1u << bad;
            errors->eccCorrected++;
        }
    }
    h->vc = static_cast<uint8_t>((data >> 6) & 0x3u);
    h->dataType = static_cast<uint8_t>(data & 0x3Fu);
    h->value = static_cast<uint16_t>(data >> 8);
    return true;
}

uint8_t dataTypeOf(unsigned bitDepth) {
    switch (bitDepth) {
    case 10:
        return 0x2B;
    case 12:
        return 0x2C;
    case 14:
        return 0x2D;
    default:
        return 0;
    }
}

/** Bytes of the payload (parallel: the whole line) carrying `samples` samples. */
uint64_t payloadBytes(CI_CONV_FMT format, unsigned bitDepth, uint64_t samples) {
    if (format == CI_DGFMT_PARALLEL) {
        return bitDepth == 10 ? 4 * ((samples + 2) / 3) : 3 * (samples / 2);
    }
    switch (bitDepth) {
    case 10:
        return 5 * ((samples + 3) / 4);
    case 12:
        return 3 * (samples / 2);
    case 14:
        return 7 * ((samples + 3) / 4);
    default:
        return 0;
    }
}

/** Unpacks `count` samples (an even number) of one payload. */
void unpackPayload(CI_CONV_FMT format, unsigned bitDepth, const uint8_t *in, uint32_t count, uint16_t *out) {
    const uint16_t mask = static_cast<uint16_t>((1u << bitDepth) - 1);
    if (format == CI_DGFMT_PARALLEL && bitDepth == 10) {
        for (uint32_t j = 0; j < count; ++j) {
            const uint8_t *w = in + 4 * (j / 3);
            const uint32_t word = static_cast<uint32_t>(w[0]) | static_cast<uint32_t>(w[1]) << 8 |
                                  static_cast<uint32_t>(w[2]) << 16 | static_cast<uint32_t>(w[3]) << 24;
            out[j] = static_cast<uint16_t>((word >> (10 * (j % 3))) & 0x3FFu);
        }
    } else if (format == CI_DGFMT_PARALLEL) { // 12 bits: a pair is the 24-bit value a | b << 12
        for (uint32_t k = 0; k < count / 2; ++k) {
            const uint8_t *p = in + 3 * k;
            const uint32_t v =
                static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
            out[2 * k] = static_cast<uint16_t>(v & 0xFFFu);
            out[2 * k + 1] = static_cast<uint16_t>(v >> 12);
        }
    } else if (bitDepth == 12) { // RAW12: two high bytes, then both low nibbles
        for (uint32_t k = 0; k < count / 2; ++k) {
            const uint8_t *p = in + 3 * k;
            out[2 * k] = static_cast<uint16_t>((p[0] << 4 | (p[2] & 0xF)) & mask);
            out[2 * k + 1] = static_cast<uint16_t>((p[1] << 4 | (p[2] >> 4)) & mask);
        }
    } else { // RAW10 and RAW14: four high bytes, then the four samples' low bits packed least significant first
        const unsigned lowBits = bitDepth - 8;
        const size_t group = 4 + lowBits / 2; // 5 or 7 bytes
        for (uint32_t j = 0; j < count; ++j) {
            const uint8_t *g = in + group * (j / 4);
            uint32_t lows = 0;
            for (size_t b = 4; b < group; ++b)
                lows |= static_cast<uint32_t>(g[b]) << (8 * (b - 4));
            const uint32_t low = (lows >> (lowBits * (j % 4))) & ((1u << lowBits) - 1);
            out[j] = static_cast<uint16_t>(((static_cast<uint32_t>(g[j % 4]) << lowBits) | low) & mask);
        }
    }
}

bool isMipi(CI_CONV_FMT format) { return format == CI_DGFMT_MIPI || format == CI_DGFMT_MIPI_LF; }

} // namespace

bool LineFormatSupported(CI_CONV_FMT format, unsigned bitDepth) {
    if (format == CI_DGFMT_PARALLEL)
        return bitDepth == 10 || bitDepth == 12;
    if (isMipi(format))
        return bitDepth == 10 || bitDepth == 12 || bitDepth == 14;
    return false;
}

uint64_t PackedLineBytes(CI_CONV_FMT format, unsigned bitDepth, uint32_t width) {
    if (!LineFormatSupported(format, bitDepth))
        return 0;
    const uint64_t payload = payloadBytes(format, bitDepth, width / 2 * 2ull);
    if (!isMipi(format))
        return payload;
    return kLongHeader + payload + kChecksum + (format == CI_DGFMT_MIPI_LF ? 2 * kShortPacket : 0);
}

uint64_t PackedFrameBytes(const PackedFrameLayout &l) {
    if (!LineFormatSupported(l.format, l.bitDepth) || l.width == 0 || l.height == 0 || l.stride == 0)
        return 0;
    const uint64_t line = PackedLineBytes(l.format, l.bitDepth, l.width);
    const uint64_t first = isMipi(l.format) ? kShortPacket + line : line; // line 0 follows the frame start
    if (l.height > 1 && first > l.stride)
        return 0; // lines would overlap
    const uint64_t lastStart =
        l.height > 1 ? static_cast<uint64_t>(l.height - 1) * l.stride : (isMipi(l.format) ? kShortPacket : 0);
    return lastStart + line + (isMipi(l.format) ? kShortPacket : 0);
}

bool UnpackFrame(const uint8_t *data, size_t size, const PackedFrameLayout &l, uint16_t *samples, LineErrors *errors) {
    const uint64_t needed = PackedFrameBytes(l);
    if (needed == 0 || needed > size || data == nullptr || samples == nullptr || errors == nullptr)
        return false;
    *errors = LineErrors{};
    const uint32_t count = l.width / 2 * 2;
    std::memset(samples, 0, static_cast<size_t>(l.width) * l.height * sizeof(uint16_t));

    if (!isMipi(l.format)) {
        for (uint32_t i = 0; i < l.height; ++i) {
            unpackPayload(l.format, l.bitDepth, data + static_cast<size_t>(i) * l.stride, count,
                          samples + static_cast<size_t>(i) * l.width);
        }
        return true;
    }

    const bool longFormat = l.format == CI_DGFMT_MIPI_LF;
    const uint64_t payload = payloadBytes(l.format, l.bitDepth, count);
    const uint8_t dataType = dataTypeOf(l.bitDepth);
    Header fs{};
    const bool haveStart = readHeader(data, &fs, errors);
    if (haveStart && fs.dataType != kFrameStart)
        errors->header++;
    const uint8_t vc = haveStart ? fs.vc : 0;

    size_t pos = 0;
    for (uint32_t i = 0; i < l.height; ++i) {
        pos = i == 0 ? kShortPacket : static_cast<size_t>(i) * l.stride;
        const uint16_t lineNumber = static_cast<uint16_t>(i + 1);
        Header h{};
        if (longFormat) {
            if (readHeader(data + pos, &h, errors) &&
                (h.dataType != kLineStart || h.value != lineNumber || h.vc != vc)) {
                errors->header++;
            }
            pos += kShortPacket;
        }
        const bool headerOk = readHeader(data + pos, &h, errors);
        if (headerOk && (h.dataType != dataType || h.value != payload || h.vc != vc)) {
            errors->header++; // a packet of another kind or length: its bytes cannot be trusted as this line
        } else if (headerOk) {
            const uint8_t *body = data + pos + kLongHeader;
            const uint16_t sent = static_cast<uint16_t>(body[payload] | body[payload + 1] << 8);
            if (Csi2Crc16(body, static_cast<size_t>(payload)) != sent)
                errors->crc++;
            unpackPayload(l.format, l.bitDepth, body, count, samples + static_cast<size_t>(i) * l.width);
        }
        pos += kLongHeader + static_cast<size_t>(payload) + kChecksum;
        if (longFormat) {
            if (readHeader(data + pos, &h, errors) && (h.dataType != kLineEnd || h.value != lineNumber || h.vc != vc)) {
                errors->header++;
            }
            pos += kShortPacket;
        }
    }
    Header fe{};
    if (readHeader(data + pos, &fe, errors) &&
        (fe.dataType != kFrameEnd || fe.vc != vc || (haveStart && fe.value != fs.value))) {
        errors->header++;
    }
    return true;
}

uint16_t Csi2Crc16(const uint8_t *bytes, size_t count) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
    }
    return crc;
}

uint8_t Csi2Ecc(const uint8_t header[3]) {
    return eccOf(static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
                 static_cast<uint32_t>(header[2]) << 16);
}

} // namespace norva_sim
