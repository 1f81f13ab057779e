#ifndef NORVA_SIM_LINE_FORMAT_H
#define NORVA_SIM_LINE_FORMAT_H

/*
 * The receiving side of the data generator's line formats: turns the bytes of a data-generator frame back into
 * the 16-bit samples of the frame, as a gasket receiving a parallel or MIPI CSI-2 sensor would, checking every
 * CSI-2 packet header (ECC, data type, word count, frame and line numbers) and every payload checksum.
 *
 * Layout of a frame: line i starts at i × stride and carries width / 2 pairs of samples (an odd last sample is
 * not sent). MIPI: a frame start packet precedes line 0 at offset 0, a frame end packet follows the last line
 * directly; each line is one long packet (header, payload, CRC-16), framed in the long format by a line start
 * and a line end packet carrying the line number (1 for the first line).
 */

#include <cstddef>
#include <cstdint>

#include "ci/ci_datagen.h"

namespace norva_sim {

/** What unpacking found wrong; counts per frame. */
struct LineErrors {
    uint32_t crc = 0;          /* payload checksums that do not match (the samples are still delivered) */
    uint32_t header = 0;       /* wrong data type, word count, frame or line number, missing packet */
    uint32_t ecc = 0;          /* packet headers whose ECC shows an uncorrectable error (line lost) */
    uint32_t eccCorrected = 0; /* packet headers repaired by their ECC (single-bit error) */
    bool any() const { return crc != 0 || header != 0 || ecc != 0; }
};

/** Description of a packed frame. */
struct PackedFrameLayout {
    CI_CONV_FMT format;
    unsigned bitDepth; /* parallel 10 or 12; MIPI 10, 12 or 14 */
    uint32_t stride;   /* bytes from one line to the next */
    uint32_t width;    /* samples per line */
    uint32_t height;   /* lines */
};

/** Whether the format and depth are a combination the receiver knows. */
bool LineFormatSupported(CI_CONV_FMT format, unsigned bitDepth);
/** Bytes of one packed line (for MIPI the long packet plus, in the long format, the line packets). */
uint64_t PackedLineBytes(CI_CONV_FMT format, unsigned bitDepth, uint32_t width);
/** Bytes the frame needs in memory: the last line's start plus its bytes plus the frame packets; 0 unknown. */
uint64_t PackedFrameBytes(const PackedFrameLayout &layout);

/**
 * Unpacks a frame into width × height samples (row-major, masked to the bit depth; an odd last sample of each
 * line reads 0). Returns false when the layout is unknown or does not fit `size` bytes (nothing written);
 * otherwise true, with the format errors found in *errors (lines whose header is lost read 0).
 */
bool UnpackFrame(const uint8_t *data, size_t size, const PackedFrameLayout &layout, uint16_t *samples,
                 LineErrors *errors);

/** CSI-2 payload checksum: CRC-16, polynomial 0x1021 processed least significant bit first, start 0xFFFF. */
uint16_t Csi2Crc16(const uint8_t *bytes, size_t count);
/** CSI-2 packet-header ECC of the 24 bits of bytes 0-2 (bits 6 and 7 zero). */
uint8_t Csi2Ecc(const uint8_t header[3]);

} // namespace norva_sim

#endif /* NORVA_SIM_LINE_FORMAT_H */
