// Converter of data-generator frames: packs the lines of a Bayer mosaic into the parallel or MIPI CSI-2 line
// format of the internal data generator. Every writer counts its bytes the same way with or without an output,
// so frame sizes always agree with what is written.
#include "ci/ci_converter.h"

#include <cstdlib>
#include <cstring>

#include "norvacommon/ci_alloc_info.h"
#include "norvacommon/pixel_transform.h"
#include "norvacommon/userlog.h"
#include "sim_image.h"

#include "sim_image_mosaic.h"

namespace {

constexpr const char *kTag = CI_CONVERTER_LOG_TAG;

/* CSI-2 data types of the short packets. */
constexpr QOR_UINT8 kFrameStart = 0x00;
constexpr QOR_UINT8 kFrameEnd = 0x01;
constexpr QOR_UINT8 kLineStart = 0x02;
constexpr QOR_UINT8 kLineEnd = 0x03;
constexpr QOR_SIZE kShortPacket = 4;
constexpr QOR_SIZE kLongHeader = 4;
constexpr QOR_SIZE kChecksum = 2;

/* Parity masks of the packet-header ECC: row p is parity bit Pp, character j is data bit Dj of the 24 bits of
 * bytes 0-2. P6 and P7 are always zero. */
const char *const kEccRows[8] = {
    "111011010011010010001111", "110110101010101001001111", "101101100101100100101110", "011100011100011100011101",
    "000011111100000011111011", "000000000011111111110111", "000000000000000000000000", "000000000000000000000000",
};

/* The same table as bit masks, built once from the strings. */
struct EccMasks {
    QOR_UINT32 rows[8];
    EccMasks() {
        for (int p = 0; p < 8; ++p) {
            rows[p] = 0;
            for (int j = 0; j < 24; ++j) {
                if (kEccRows[p][j] == '1')
                    rows[p] |= 1u << j;
            }
        }
    }
};

const EccMasks &eccMasks() {
    static const EccMasks masks;
    return masks;
}

/* CRC-16 of CSI-2, one table entry per byte value (reflected polynomial 0x8408). */
struct CrcTable {
    QOR_UINT16 entries[256];
    CrcTable() {
        for (unsigned v = 0; v < 256; ++v) {
            QOR_UINT16 crc = static_cast<QOR_UINT16>(v);
            for (int b = 0; b < 8; ++b)
                crc = static_cast<QOR_UINT16>((crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1);
            entries[v] = crc;
        }
    }
};

const CrcTable &crcTable() {
    static const CrcTable table;
    return table;
}

/** Writes a short packet (4 bytes) unless out is null. */
QOR_SIZE shortPacket(const CI_CONV_MIPI_PRIV *priv, QOR_UINT8 dataType, QOR_UINT16 value, QOR_UINT8 *out) {
    if (out) {
        out[0] = static_cast<QOR_UINT8>((priv->ui8VirtualChannel & 0x3) << 6 | (dataType & 0x3F));
        out[1] = static_cast<QOR_UINT8>(value & 0xFF);
        out[2] = static_cast<QOR_UINT8>(value >> 8);
        out[3] = CI_Convert_MIPI_ECC(out);
    }
    return kShortPacket;
}

/** Sample s of a line of N pairs (s < 2N), or 0 past the end (a group's missing samples). */
inline QOR_UINT32 sampleOf(const QOR_UINT16 *in, QOR_UINT32 inStride, QOR_UINT32 N, QOR_UINT32 s) {
    if (s >= 2 * static_cast<QOR_UINT64>(N))
        return 0;
    return in[static_cast<QOR_SIZE>(s / 2) * inStride + (s & 1)];
}

inline void putWord32(QOR_UINT8 *out, QOR_UINT32 w) {
    out[0] = static_cast<QOR_UINT8>(w);
    out[1] = static_cast<QOR_UINT8>(w >> 8);
    out[2] = static_cast<QOR_UINT8>(w >> 16);
    out[3] = static_cast<QOR_UINT8>(w >> 24);
}

/** Line bytes of the payload packers, by bit depth: bytes per group of 4 samples (RAW10/14) or per pair. */
QOR_SIZE groupsOfFour(QOR_UINT32 N) { return (2 * static_cast<QOR_SIZE>(N) + 3) / 4; }

struct MipiDepth {
    QOR_UINT8 bitDepth;
    QOR_UINT8 dataId;
    CI_CONV_MIPI_WRITE_FN write;
};

const MipiDepth kMipiDepths[] = {
    {10, 0x2B, MIPI_Write_10},
    {12, 0x2C, MIPI_Write_12},
    {14, 0x2D, MIPI_Write_14},
};

struct ParallelDepth {
    QOR_UINT8 bitDepth;
    CI_CONV_LINE_FN write;
};

const ParallelDepth kParallelDepths[] = {
    {10, CI_Convert_Parallel10},
    {12, CI_Convert_Parallel12},
};

bool isMipi(CI_CONV_FMT f) { return f == CI_DGFMT_MIPI || f == CI_DGFMT_MIPI_LF; }

void clearWriters(CI_CONVERTER *c) {
    c->pfnLineConverter = nullptr;
    c->pfnHeaderWriter = nullptr;
    c->pfnFooterWriter = nullptr;
    c->privateData = nullptr;
    c->bOddWidthReported = QOR_FALSE;
}

/** Frees the MIPI private data of a converter that holds it. */
void freePrivate(CI_CONVERTER *c) {
    if (isMipi(c->eFormat) && c->privateData)
        std::free(c->privateData);
    c->privateData = nullptr;
}

/** Bytes around the lines: the larger of header and footer. */
QOR_SIZE extraBytes(const CI_CONVERTER *c, QOR_SIZE *header, QOR_SIZE *footer) {
    *header = c->pfnHeaderWriter ? c->pfnHeaderWriter(c->privateData, nullptr) : 0;
    *footer = c->pfnFooterWriter ? c->pfnFooterWriter(c->privateData, nullptr) : 0;
    return *header > *footer ? *header : *footer;
}

QOR_UINT64 roundUp(QOR_UINT64 v, QOR_UINT64 a) { return (v + a - 1) / a * a; }

/**
 * Line stride and the bytes the whole frame needs (64-bit, no overflow). A single MIPI line carries both frame
 * packets, so it needs header + line + footer bytes, which may be more than one stride.
 */
void frameGeometry(const CI_CONVERTER *c, QOR_UINT32 width, QOR_UINT32 height, QOR_UINT64 *stride, QOR_UINT64 *total,
                   QOR_SIZE *lineBytes) {
    QOR_SIZE header = 0, footer = 0;
    const QOR_SIZE line = c->pfnLineConverter(c->privateData, nullptr, 2, width / 2, nullptr);
    const QOR_SIZE extra = extraBytes(c, &header, &footer);
    *lineBytes = line;
    *stride = roundUp(static_cast<QOR_UINT64>(line) + extra, SYSMEM_ALIGNMENT);
    *total = *stride * height;
    if (height == 1) {
        const QOR_UINT64 single = roundUp(static_cast<QOR_UINT64>(header) + line + footer, SYSMEM_ALIGNMENT);
        if (single > *total)
            *total = single;
    }
}

} // namespace

extern "C" {

QOR_UINT8 CI_Convert_MIPI_ECC(const QOR_UINT8 header[3]) {
    const QOR_UINT32 d = static_cast<QOR_UINT32>(header[0]) | static_cast<QOR_UINT32>(header[1]) << 8 |
                         static_cast<QOR_UINT32>(header[2]) << 16;
    const EccMasks &m = eccMasks();
    QOR_UINT8 ecc = 0;
    for (int p = 0; p < 8; ++p) {
        ecc |= static_cast<QOR_UINT8>((__builtin_popcount(d & m.rows[p]) & 1) << p);
    }
    return ecc;
}

QOR_UINT16 CI_Convert_MIPI_CRC(const QOR_UINT8 *bytes, QOR_SIZE count) {
    const CrcTable &t = crcTable();
    QOR_UINT16 crc = 0xFFFF;
    for (QOR_SIZE i = 0; i < count; ++i)
        crc = static_cast<QOR_UINT16>((crc >> 8) ^ t.entries[(crc ^ bytes[i]) & 0xFF]);
    return crc;
}

QOR_SIZE CI_Convert_Parallel10(void * /*privateData*/, const QOR_UINT16 *in, QOR_UINT32 inStride, QOR_UINT32 N,
                               QOR_UINT8 *out) {
    const QOR_UINT32 groups = N / 3, rest = N % 3;
    const QOR_SIZE bytes = 8 * static_cast<QOR_SIZE>(groups) + (rest == 2 ? 8 : rest == 1 ? 4 : 0);
    if (!out)
        return bytes;
    auto s = [&](QOR_UINT32 pair, int second) -> QOR_UINT32 {
        return in[static_cast<QOR_SIZE>(pair) * inStride + second] & 0x3FFu;
    };
    QOR_UINT32 k = 0;
    for (QOR_UINT32 g = 0; g < groups; ++g, k += 3, out += 8) {
        putWord32(out, s(k, 0) | s(k, 1) << 10 | s(k + 1, 0) << 20);
        putWord32(out + 4, s(k + 1, 1) | s(k + 2, 0) << 10 | s(k + 2, 1) << 20);
    }
    if (rest == 2) {
        putWord32(out, s(k, 0) | s(k, 1) << 10 | s(k + 1, 0) << 20);
        putWord32(out + 4, s(k + 1, 1));
    } else if (rest == 1) {
        putWord32(out, s(k, 0) | s(k, 1) << 10);
    }
    return bytes;
}

QOR_SIZE CI_Convert_Parallel12(void * /*privateData*/, const QOR_UINT16 *in, QOR_UINT32 inStride, QOR_UINT32 N,
                               QOR_UINT8 *out) {
    const QOR_SIZE bytes = 3 * static_cast<QOR_SIZE>(N);
    if (!out)
        return bytes;
    for (QOR_UINT32 k = 0; k < N; ++k, out += 3) {
        /* The two 12-bit samples as one little-endian 24-bit value a | b << 12. */
        const QOR_UINT32 a = in[static_cast<QOR_SIZE>(k) * inStride] & 0xFFFu;
        const QOR_UINT32 b = in[static_cast<QOR_SIZE>(k) * inStride + 1] & 0xFFFu;
        out[0] = static_cast<QOR_UINT8>(a & 0xFF);
        out[1] = static_cast<QOR_UINT8>((a >> 8 | b << 4) & 0xFF);
        out[2] = static_cast<QOR_UINT8>((b >> 4) & 0xFF);
    }
    return bytes;
}

QOR_SIZE MIPI_Write_10(const QOR_UINT16 *in, QOR_UINT32 inStride, QOR_UINT32 N, QOR_UINT8 *out) {
    const QOR_SIZE groups = groupsOfFour(N);
    if (!out)
        return 5 * groups;
    for (QOR_SIZE g = 0; g < groups; ++g, out += 5) {
        QOR_UINT8 low = 0;
        for (QOR_UINT32 j = 0; j < 4; ++j) {
            const QOR_UINT32 v = sampleOf(in, inStride, N, static_cast<QOR_UINT32>(4 * g + j));
            out[j] = static_cast<QOR_UINT8>(v >> 2);
            low = static_cast<QOR_UINT8>(low | (v & 3) << (2 * j));
        }
        out[4] = low;
    }
    return 5 * groups;
}

QOR_SIZE MIPI_Write_12(const QOR_UINT16 *in, QOR_UINT32 inStride, QOR_UINT32 N, QOR_UINT8 *out) {
    const QOR_SIZE bytes = 3 * static_cast<QOR_SIZE>(N);
    if (!out)
        return bytes;
    for (QOR_UINT32 k = 0; k < N; ++k, out += 3) {
        const QOR_UINT32 a = in[static_cast<QOR_SIZE>(k) * inStride];
        const QOR_UINT32 b = in[static_cast<QOR_SIZE>(k) * inStride + 1];
        out[0] = static_cast<QOR_UINT8>(a >> 4);
        out[1] = static_cast<QOR_UINT8>(b >> 4);
        out[2] = static_cast<QOR_UINT8>((b << 4 | (a & 0xF)) & 0xFF);
    }
    return bytes;
}

QOR_SIZE MIPI_Write_14(const QOR_UINT16 *in, QOR_UINT32 inStride, QOR_UINT32 N, QOR_UINT8 *out) {
    const QOR_SIZE groups = groupsOfFour(N);
    if (!out)
        return 7 * groups;
    for (QOR_SIZE g = 0; g < groups; ++g, out += 7) {
        QOR_UINT32 low = 0;
        for (QOR_UINT32 j = 0; j < 4; ++j) {
            const QOR_UINT32 v = sampleOf(in, inStride, N, static_cast<QOR_UINT32>(4 * g + j));
            out[j] = static_cast<QOR_UINT8>(v >> 6);
            low |= (v & 0x3F) << (6 * j);
        }
        out[4] = static_cast<QOR_UINT8>(low);
        out[5] = static_cast<QOR_UINT8>(low >> 8);
        out[6] = static_cast<QOR_UINT8>(low >> 16);
    }
    return 7 * groups;
}

QOR_SIZE CI_Convert_MIPI_Header(void *privateData, QOR_UINT8 *out) {
    const CI_CONV_MIPI_PRIV *priv = static_cast<const CI_CONV_MIPI_PRIV *>(privateData);
    if (!priv)
        return 0;
    return shortPacket(priv, kFrameStart, priv->ui16FrameNumber, out);
}

QOR_SIZE CI_Convert_MIPI_Footer(void *privateData, QOR_UINT8 *out) {
    const CI_CONV_MIPI_PRIV *priv = static_cast<const CI_CONV_MIPI_PRIV *>(privateData);
    if (!priv)
        return 0;
    return shortPacket(priv, kFrameEnd, priv->ui16FrameNumber, out);
}

QOR_SIZE CI_Convert_MIPI_Line(void *privateData, const QOR_UINT16 *in, QOR_UINT32 inStride, QOR_UINT32 N,
                              QOR_UINT8 *out) {
    const CI_CONV_MIPI_PRIV *priv = static_cast<const CI_CONV_MIPI_PRIV *>(privateData);
    if (!priv || !priv->pfnMipiWrite)
        return 0;
    const QOR_SIZE payload = priv->pfnMipiWrite(in, inStride, N, nullptr);
    const QOR_SIZE bytes = payload + kLongHeader + kChecksum + (priv->bLongFormat ? 2 * kShortPacket : 0);
    if (!out)
        return bytes;

    const QOR_UINT16 wordCount = static_cast<QOR_UINT16>(payload);
    const QOR_UINT16 lineNumber = static_cast<QOR_UINT16>(priv->i32LineNumber);
    QOR_UINT8 *p = out;
    if (priv->bLongFormat)
        p += shortPacket(priv, kLineStart, lineNumber, p);
    p[0] = static_cast<QOR_UINT8>((priv->ui8VirtualChannel & 0x3) << 6 | (priv->ui8DataId & 0x3F));
    p[1] = static_cast<QOR_UINT8>(wordCount & 0xFF);
    p[2] = static_cast<QOR_UINT8>(wordCount >> 8);
    p[3] = CI_Convert_MIPI_ECC(p);
    p += kLongHeader;
    priv->pfnMipiWrite(in, inStride, N, p);
    const QOR_UINT16 crc = CI_Convert_MIPI_CRC(p, payload);
    p += payload;
    p[0] = static_cast<QOR_UINT8>(crc & 0xFF);
    p[1] = static_cast<QOR_UINT8>(crc >> 8);
    p += kChecksum;
    if (priv->bLongFormat)
        p += shortPacket(priv, kLineEnd, lineNumber, p);
    return static_cast<QOR_SIZE>(p - out);
}

QOR_RESULT CI_ConverterConfigure(CI_CONVERTER *pConverter, CI_CONV_FMT eFormat, QOR_UINT8 ui8Bitdepth) {
    if (!pConverter) {
        QOR_LOG_ERROR(kTag, "pConverter is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    /* Configuring again replaces the writers: private data of an earlier MIPI configuration is not leaked. */
    freePrivate(pConverter);
    pConverter->eFormat = eFormat;
    pConverter->ui8FormatBitdepth = ui8Bitdepth;
    clearWriters(pConverter);

    if (eFormat == CI_DGFMT_PARALLEL) {
        for (const ParallelDepth &d : kParallelDepths) {
            if (d.bitDepth == ui8Bitdepth) {
                pConverter->pfnLineConverter = d.write;
                return QOR_RES_OK;
            }
        }
        QOR_LOG_ERROR(kTag, "Unsupported bitpdeth %d for parallel format\n", ui8Bitdepth);
        return QOR_RES_NOT_SUPPORTED;
    }
    if (isMipi(eFormat)) {
        const MipiDepth *depth = nullptr;
        for (const MipiDepth &d : kMipiDepths) {
            if (d.bitDepth == ui8Bitdepth)
                depth = &d;
        }
        CI_CONV_MIPI_PRIV *priv = static_cast<CI_CONV_MIPI_PRIV *>(std::calloc(1, sizeof(CI_CONV_MIPI_PRIV)));
        if (!priv) {
            QOR_LOG_ERROR(kTag, "Failed to create MIPI private data\n");
            return QOR_RES_NO_MEMORY;
        }
        if (!depth) {
            QOR_LOG_ERROR(kTag, "Unsupported bitpdeth %d for MIPI format\n", ui8Bitdepth);
            std::free(priv); /* never left behind in the converter, so a later clear cannot free it twice */
            return QOR_RES_NOT_SUPPORTED;
        }
        priv->bLongFormat = eFormat == CI_DGFMT_MIPI_LF ? QOR_TRUE : QOR_FALSE;
        priv->ui8VirtualChannel = 0;
        priv->ui8DataId = depth->dataId;
        priv->pfnMipiWrite = depth->write;
        priv->ui16FrameNumber = 1;
        pConverter->pfnLineConverter = CI_Convert_MIPI_Line;
        pConverter->pfnHeaderWriter = CI_Convert_MIPI_Header;
        pConverter->pfnFooterWriter = CI_Convert_MIPI_Footer;
        pConverter->privateData = priv;
        return QOR_RES_OK;
    }
    QOR_LOG_ERROR(kTag, "Unsupported format %d\n", static_cast<int>(eFormat));
    return QOR_RES_NOT_SUPPORTED;
}

QOR_UINT32 CI_ConverterFrameSize(const CI_CONVERTER *pConverter, QOR_UINT32 ui32Width, QOR_UINT32 ui32Height) {
    if (!pConverter) {
        QOR_LOG_ERROR(kTag, "pConverter is NULL\n");
        return 0;
    }
    if (!pConverter->pfnLineConverter) {
        QOR_LOG_ERROR(kTag, "pConverted was not configured properly or pFrame has no attached data\n");
        return 0;
    }
    QOR_UINT64 stride = 0, total = 0;
    QOR_SIZE line = 0;
    frameGeometry(pConverter, ui32Width, ui32Height, &stride, &total, &line);
    if (total > 0xFFFFFFFFull) {
        QOR_LOG_ERROR(kTag, "a converted frame of %ux%u does not fit in 32 bits\n", ui32Width, ui32Height);
        return 0;
    }
    return static_cast<QOR_UINT32>(total);
}

QOR_RESULT CI_ConverterConvertFrame(CI_CONVERTER *pConverter, const sSimImageIn *pImage, CI_DG_FRAME *pFrame) {
    if (!pConverter || !pImage || !pFrame) {
        QOR_LOG_ERROR(kTag, "pConverter or pImage or pFrame is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (!pConverter->pfnLineConverter || !pFrame->data) {
        QOR_LOG_ERROR(kTag, "pConverted was not configured properly or pFrame has not attached data\n");
        return QOR_RES_NOT_INITIALISED;
    }
    QOR_LOG_PERF(kTag, "start\n");

    const QOR_UINT32 width = pImage->info.ui32Width;
    const QOR_UINT32 height = pImage->info.ui32Height;
    QOR_UINT64 stride = 0, needed = 0;
    QOR_SIZE lineBytes = 0;
    frameGeometry(pConverter, width, height, &stride, &needed, &lineBytes);
    if (stride > 0xFFFFFFFFull) {
        QOR_LOG_ERROR(kTag, "a converted frame of %ux%u does not fit in 32 bits\n", width, height);
        return QOR_RES_NOT_SUPPORTED;
    }

    pFrame->eFormat = pConverter->eFormat;
    pFrame->ui8FormatBitdepth = pConverter->ui8FormatBitdepth;
    pFrame->ui32Stride = static_cast<QOR_UINT32>(stride);
    pFrame->ui32Width = width;
    pFrame->ui32Height = height;

    const MOSAICType mosaic = SimImageMosaicOf(pImage->info.eColourModel);
    if (mosaic == MOSAIC_NONE) {
        QOR_LOG_ERROR(kTag, "input image needs to be BAYER!\n");
        return QOR_RES_FAILED;
    }
    pFrame->eBayerMosaic = mosaic;

    if (height == 0 || !pImage->pBuffer) {
        QOR_LOG_ERROR(kTag, "input image has no lines\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    if (pFrame->ui32AllocSize < needed) {
        QOR_LOG_ERROR(kTag, "given pFrame is too small (%d Bytes) to store converted data (%dx%d = %d Bytes)\n",
                      static_cast<int>(pFrame->ui32AllocSize), static_cast<int>(stride), static_cast<int>(height),
                      static_cast<int>(needed));
        return QOR_RES_NOT_SUPPORTED;
    }

    /* A line carries whole pairs of samples: the last column of an odd-width image is not sent. Said once per
     * configuration, not at every frame of a stream. */
    if (width % 2 != 0 && !pConverter->bOddWidthReported) {
        QOR_LOG_WARNING(kTag,
                        "image width %u is odd: the last column is not sent (a line is sent as pairs of "
                        "samples)\n",
                        width);
        pConverter->bOddWidthReported = QOR_TRUE;
    }
    QOR_UINT8 *out = static_cast<QOR_UINT8 *>(pFrame->data);
    std::memset(out, 0, pFrame->ui32AllocSize);

    CI_CONV_MIPI_PRIV *priv =
        isMipi(pConverter->eFormat) ? static_cast<CI_CONV_MIPI_PRIV *>(pConverter->privateData) : nullptr;
    QOR_SIZE header = 0;
    if (priv) {
        pFrame->ui32PacketWidth = static_cast<QOR_UINT32>(lineBytes - (priv->bLongFormat ? 2 * kShortPacket : 0));
        header = pConverter->pfnHeaderWriter(priv, out);
    }

    QOR_SIZE end = 0; /* offset just after the last line written */
    for (QOR_UINT32 i = 0; i < height; ++i) {
        if (priv)
            priv->i32LineNumber = static_cast<QOR_INT32>(i + 1);
        const QOR_SIZE start = i == 0 ? header : static_cast<QOR_SIZE>(i) * stride;
        const QOR_SIZE written = pConverter->pfnLineConverter(
            pConverter->privateData, pImage->pBuffer + static_cast<QOR_SIZE>(i) * width, 2, width / 2, out + start);
        const QOR_SIZE used = written + (i == 0 ? header : 0);
        if (used > stride) {
            QOR_LOG_ERROR(kTag, "incorrect number of bytes written (%d) for line %d (stride is %d)\n",
                          static_cast<int>(used), static_cast<int>(i), static_cast<int>(stride));
            return QOR_RES_FAILED;
        }
        end = start + written;
    }
    /* The frame end follows the last line directly, also when that line is the one after the frame start. */
    if (priv && pConverter->pfnFooterWriter)
        pConverter->pfnFooterWriter(priv, out + end);

    QOR_LOG_PERF(kTag, "done\n");
    return QOR_RES_OK;
}

QOR_RESULT CI_ConverterClear(CI_CONVERTER *pConverter) {
    if (!pConverter) {
        QOR_LOG_ERROR(kTag, "pConverter is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    freePrivate(pConverter);
    return QOR_RES_OK;
}

QOR_RESULT CI_Convert_HDRInsertion(const sSimImageIn *pImage, CI_BUFFER *pBuffer, QOR_BOOL8 bRescale) {
    if (!pImage || !pBuffer) {
        QOR_LOG_ERROR(kTag, "pImage or pBuffer is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pImage->info.eColourModel != SimImage_RGB64) {
        QOR_LOG_ERROR(kTag, "given pImage needs to be RGB\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    PIXELTYPE type;
    if (PixelTransformRGB(&type, BGR_161616_64) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to get information about %s", FormatString(BGR_161616_64));
        return QOR_RES_FAILED;
    }
    const QOR_UINT32 width = pImage->info.ui32Width;
    const QOR_UINT32 height = pImage->info.ui32Height;
    CI_SIZEINFO sizeInfo;
    if (CI_ALLOC_RGBSizeInfo(&type, width, height, nullptr, &sizeInfo) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to get allocation information about %s for image size %dx%d",
                      FormatString(BGR_161616_64), static_cast<int>(width), static_cast<int>(height));
        return QOR_RES_FAILED;
    }
    /* 64-bit, so a large image cannot wrap the check and be written past the buffer. */
    const QOR_UINT64 needed = static_cast<QOR_UINT64>(sizeInfo.ui32Stride) * height;
    if (pBuffer->ui32Size < needed) {
        QOR_LOG_ERROR(kTag, "a buffer of %u Bytes is too small - %u needed\n", pBuffer->ui32Size,
                      static_cast<unsigned>(needed));
        return QOR_RES_INVALID_PARAM;
    }
    const unsigned depth = pImage->info.ui8BitDepth;
    if (depth > 16) {
        QOR_LOG_ERROR(kTag, "unexpected large bitdepth of %d in input image!\n", static_cast<int>(depth));
        return QOR_RES_NOT_SUPPORTED;
    }
    if (height > 0 && width > 0 && (!pImage->pBuffer || !pBuffer->data)) {
        QOR_LOG_ERROR(kTag, "pImage or pBuffer is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }

    /* Spreads a sample of `depth` bits over 16 bits: shifted to the top, its high bits repeated below. */
    const unsigned up = (16u - depth) & 31u;
    const unsigned down = (2u * depth - 16u) & 31u;
    const QOR_UINT32 mask = (1u << ((17u - depth) & 31u)) - 1u;
    auto rescale = [&](QOR_UINT32 v) -> QOR_UINT16 {
        return static_cast<QOR_UINT16>((v << up) | ((v >> down) & mask));
    };
    /* Blue first in the output: samples 2, 1, 0 of an RGB input, 0, 1, 2 of a BGR one. */
    const unsigned order[3] = {pImage->info.isBGR ? 0u : 2u, 1u, pImage->info.isBGR ? 2u : 0u};

    const QOR_UINT8 *inBase = reinterpret_cast<const QOR_UINT8 *>(pImage->pBuffer);
    QOR_UINT8 *outBase = static_cast<QOR_UINT8 *>(pBuffer->data);
    for (QOR_UINT32 y = 0; y < height; ++y) {
        const QOR_UINT16 *in =
            reinterpret_cast<const QOR_UINT16 *>(inBase + static_cast<QOR_SIZE>(y) * pImage->info.stride);
        QOR_UINT16 *out = reinterpret_cast<QOR_UINT16 *>(outBase + static_cast<QOR_SIZE>(y) * sizeInfo.ui32Stride);
        for (QOR_UINT32 x = 0; x < width; ++x) {
            for (unsigned c = 0; c < 3; ++c) {
                const QOR_UINT16 v = in[4 * static_cast<QOR_SIZE>(x) + order[c]];
                out[4 * static_cast<QOR_SIZE>(x) + c] = bRescale ? rescale(v) : v;
            }
            out[4 * static_cast<QOR_SIZE>(x) + 3] = 0;
        }
    }
    return QOR_RES_OK;
}

} // extern "C"
