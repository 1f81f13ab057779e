#ifndef NORVA_CI_CONVERTER_H
#define NORVA_CI_CONVERTER_H

/*
 * Frame converter of the data generator: turns a Bayer mosaic of 16-bit samples (the data-generator image
 * input) into the bytes an internal data generator sends into the ISP, as a parallel sensor or a MIPI CSI-2
 * sensor would deliver them. Parallel: packed samples per line. MIPI: a frame start short packet, one long
 * packet per line (header with ECC, payload, CRC-16), a frame end short packet, and in the long format a line
 * start and a line end packet around every line. Log tag "CI_CONVERTER".
 *
 * Line i of a converted frame starts at i x stride (line 0 right after the frame start packet in the MIPI
 * formats); a line carries width / 2 pairs of samples, so the last column of an odd-width image is not sent
 * (warned once per configuration). The frame end packet follows the last line directly.
 */

#include "ci/ci_capture.h"
#include "ci/ci_datagen.h"
#include "qor_errors.h"
#include "qor_types.h"

struct sSimImageIn;

#ifdef __cplusplus
extern "C" {
#endif

#define CI_CONVERTER_LOG_TAG "CI_CONVERTER"

/** Writes one line: NpixelsPerCh pairs, pair k = inPixels[k * inStride] and inPixels[k * inStride + 1].
 *  A null output writes nothing; the result is always the bytes the line takes. */
typedef QOR_SIZE (*CI_CONV_LINE_FN)(void *privateData, const QOR_UINT16 *inPixels, QOR_UINT32 inStride,
                                    QOR_UINT32 NpixelsPerCh, QOR_UINT8 *outPixels);
/** Writes what precedes the first line or follows the last one; the result is the bytes it takes. */
typedef QOR_SIZE (*CI_CONV_FRAME_FN)(void *privateData, QOR_UINT8 *out);
/** Packs the payload of one MIPI line; same input convention as a line writer. */
typedef QOR_SIZE (*CI_CONV_MIPI_WRITE_FN)(const QOR_UINT16 *inPixels, QOR_UINT32 inStride, QOR_UINT32 NpixelsPerCh,
                                          QOR_UINT8 *outPixels);

/** Caller-owned converter; the converter owns only its private data (MIPI formats). */
typedef struct CI_CONVERTER {
    CI_CONV_FMT eFormat;
    QOR_UINT8 ui8FormatBitdepth;
    CI_CONV_LINE_FN pfnLineConverter;
    CI_CONV_FRAME_FN pfnHeaderWriter; /* null when the format has nothing before the first line */
    CI_CONV_FRAME_FN pfnFooterWriter; /* null when the format has nothing after the last line */
    void *privateData;                /* CI_CONV_MIPI_PRIV for the MIPI formats, else null */
    QOR_BOOL8 bOddWidthReported;      /* an odd width was warned about since the last configuration */
} CI_CONVERTER;

/** State of the MIPI writers. */
typedef struct CI_CONV_MIPI_PRIV {
    QOR_BOOL8 bLongFormat;       /* every line framed by a line start and a line end packet */
    QOR_UINT8 ui8VirtualChannel; /* CSI-2 virtual channel, 0 */
    QOR_UINT8 ui8DataId;         /* data type of the line packets: 0x2B RAW10, 0x2C RAW12, 0x2D RAW14 */
    CI_CONV_MIPI_WRITE_FN pfnMipiWrite;
    QOR_UINT16 ui16FrameNumber; /* carried by the frame start and end packets; 1 */
    QOR_INT32 i32LineNumber;    /* carried by the line start and end packets; set before each line */
} CI_CONV_MIPI_PRIV;

/** Chooses the writers of a format and bit depth (parallel 10/12; MIPI 10/12/14). On failure the converter
 *  has no line writer, so size queries and conversions refuse it. */
QOR_RESULT CI_ConverterConfigure(CI_CONVERTER *pConverter, CI_CONV_FMT eFormat, QOR_UINT8 ui8Bitdepth);
/** Bytes a converted frame of that size needs (stride x height, and for a single MIPI line room for both frame
 *  packets); with height 1 otherwise the stride. 0 when the converter cannot convert or the size overflows. */
QOR_UINT32 CI_ConverterFrameSize(const CI_CONVERTER *pConverter, QOR_UINT32 ui32Width, QOR_UINT32 ui32Height);
/** Fills pFrame->data (ui32AllocSize bytes) with the converted image and sets the frame's description. */
QOR_RESULT CI_ConverterConvertFrame(CI_CONVERTER *pConverter, const struct sSimImageIn *pImage, CI_DG_FRAME *pFrame);
/** Frees the MIPI private data; 11 for NULL. */
QOR_RESULT CI_ConverterClear(CI_CONVERTER *pConverter);
/** Writes an RGB64 image into an HDR insertion buffer as 16-bit B, G, R, 0 per pixel; with bRescale each
 *  sample of the image's bit depth is spread over 16 bits. */
QOR_RESULT CI_Convert_HDRInsertion(const struct sSimImageIn *pImage, CI_BUFFER *pBuffer, QOR_BOOL8 bRescale);

/* Writers installed by CI_ConverterConfigure. */
QOR_SIZE CI_Convert_Parallel10(void *privateData, const QOR_UINT16 *inPixels, QOR_UINT32 inStride,
                               QOR_UINT32 NpixelsPerCh, QOR_UINT8 *outPixels);
QOR_SIZE CI_Convert_Parallel12(void *privateData, const QOR_UINT16 *inPixels, QOR_UINT32 inStride,
                               QOR_UINT32 NpixelsPerCh, QOR_UINT8 *outPixels);
QOR_SIZE CI_Convert_MIPI_Line(void *privateData, const QOR_UINT16 *inPixels, QOR_UINT32 inStride,
                              QOR_UINT32 NpixelsPerCh, QOR_UINT8 *outPixels);
QOR_SIZE CI_Convert_MIPI_Header(void *privateData, QOR_UINT8 *out);
QOR_SIZE CI_Convert_MIPI_Footer(void *privateData, QOR_UINT8 *out);
QOR_SIZE MIPI_Write_10(const QOR_UINT16 *inPixels, QOR_UINT32 inStride, QOR_UINT32 NpixelsPerCh, QOR_UINT8 *outPixels);
QOR_SIZE MIPI_Write_12(const QOR_UINT16 *inPixels, QOR_UINT32 inStride, QOR_UINT32 NpixelsPerCh, QOR_UINT8 *outPixels);
QOR_SIZE MIPI_Write_14(const QOR_UINT16 *inPixels, QOR_UINT32 inStride, QOR_UINT32 NpixelsPerCh, QOR_UINT8 *outPixels);

/** CSI-2 packet-header ECC of bytes 0-2 of a packet header. */
QOR_UINT8 CI_Convert_MIPI_ECC(const QOR_UINT8 header[3]);
/** CSI-2 payload checksum (CRC-16, reflected 0x8408, start 0xFFFF, no final inversion); 0xFFFF for no bytes. */
QOR_UINT16 CI_Convert_MIPI_CRC(const QOR_UINT8 *bytes, QOR_SIZE count);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_CI_CONVERTER_H */
