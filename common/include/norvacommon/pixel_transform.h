#ifndef NORVA_PIXEL_TRANSFORM_H
#define NORVA_PIXEL_TRANSFORM_H

/*
 * The pixel formats of the stack, the memory layout each implies, and their names. Log tag "PIXEL_TRANSFORM".
 * The enumerations of a driver record have a fixed 32-bit type: any value read from a record is a valid value.
 */

#include <stddef.h>

#include "qor_errors.h"
#include "qor_types.h"

typedef enum pxlFormat : QOR_INT32 {
    PXL_NONE = 0,
    YVU_420_PL12_8 = 1,
    YUV_420_PL12_8 = 2,
    YVU_422_PL12_8 = 3,
    YUV_422_PL12_8 = 4,
    YVU_420_PL12_10 = 5,
    YUV_420_PL12_10 = 6,
    YVU_422_PL12_10 = 7,
    YUV_422_PL12_10 = 8,
    RGB_888_24 = 9,
    RGB_888_32 = 10,
    RGB_101010_32 = 11,
    BGR_888_24 = 12,
    BGR_888_32 = 13,
    BGR_101010_32 = 14,
    BGR_161616_64 = 15,
    BAYER_RGGB_8 = 16,
    BAYER_RGGB_10 = 17,
    BAYER_RGGB_12 = 18,
    BAYER_TIFF_10 = 19,
    BAYER_TIFF_12 = 20,
    PXL_ISP_444IL3YCrCb8 = 21,
    PXL_ISP_444IL3YCbCr8 = 22,
    PXL_ISP_444IL3YCrCb10 = 23,
    PXL_ISP_444IL3YCbCr10 = 24,
    PXL_N = 25,
    PXL_INVALID = 26,
} pxlFormat;
typedef pxlFormat ePxlFormat;

typedef enum MOSAICType : QOR_INT32 {
    MOSAIC_NONE = 0,
    MOSAIC_RGGB = 1,
    MOSAIC_GRBG = 2,
    MOSAIC_GBRG = 3,
    MOSAIC_BGGR = 4,
} MOSAICType;

typedef enum HDR_MODES {
    HDR_NONE = 0,
    HDR_STAGGERED = 1,
    HDR_ALTERNATE_ROW = 2,
    HDR_PIXEL_BASED = 3,
} HDR_MODES;

typedef enum CG_MODES {
    CG_NONE = 0,
    CG_LOW = 1,
    CG_HIGH = 2,
} CG_MODES;

typedef enum FORMAT_TYPES : QOR_INT32 {
    TYPE_NONE = 0,
    TYPE_RGB = 1,
    TYPE_YUV = 2,
    TYPE_BAYER = 3,
} FORMAT_TYPES;

typedef enum PACKEDSTART : QOR_INT32 {
    PACKED_LSB = 0, /* the first pixel of a packed group sits in the least significant bits */
    PACKED_MSB = 1,
} PACKEDSTART;

/** Memory layout of a format; also a member of the driver records, so its layout is fixed. */
typedef struct PIXELTYPE {
    pxlFormat eFmt;
    FORMAT_TYPES eBuffer;
    MOSAICType eMosaic;
    QOR_UINT8 ui8HSubsampling;
    QOR_UINT8 ui8VSubsampling;
    QOR_UINT8 ui8BitDepth;
    QOR_UINT8 ui8PackedElements; /* pixels per packed group */
    QOR_UINT8 ui8PackedStride;   /* bytes per packed group */
    PACKEDSTART ePackedStart;
} PIXELTYPE;

#ifdef __cplusplus
static_assert(sizeof(pxlFormat) == 4 && sizeof(FORMAT_TYPES) == 4 && sizeof(MOSAICType) == 4, "4-byte enums");
static_assert(sizeof(PIXELTYPE) == 24, "PIXELTYPE is 24 bytes");
static_assert(offsetof(PIXELTYPE, eFmt) == 0, "PIXELTYPE layout");
static_assert(offsetof(PIXELTYPE, eBuffer) == 4, "PIXELTYPE layout");
static_assert(offsetof(PIXELTYPE, eMosaic) == 8, "PIXELTYPE layout");
static_assert(offsetof(PIXELTYPE, ui8HSubsampling) == 12, "PIXELTYPE layout");
static_assert(offsetof(PIXELTYPE, ui8VSubsampling) == 13, "PIXELTYPE layout");
static_assert(offsetof(PIXELTYPE, ui8BitDepth) == 14, "PIXELTYPE layout");
static_assert(offsetof(PIXELTYPE, ui8PackedElements) == 15, "PIXELTYPE layout");
static_assert(offsetof(PIXELTYPE, ui8PackedStride) == 16, "PIXELTYPE layout");
static_assert(offsetof(PIXELTYPE, ePackedStart) == 20, "PIXELTYPE layout");
#endif

#ifdef __cplusplus
extern "C" {
#endif

QOR_RESULT PixelTransformYUV(PIXELTYPE *pType, pxlFormat yuv);
QOR_RESULT PixelTransformRGB(PIXELTYPE *pType, pxlFormat rgb);
QOR_RESULT PixelTransformBayer(PIXELTYPE *pType, pxlFormat bayer, MOSAICType mosaic);
/** The layout of a display output: packed 4:4:4 YCbCr as YUV, anything else as PixelTransformRGB. */
QOR_RESULT PixelTransformDisplay(PIXELTYPE *pType, pxlFormat format);
QOR_BOOL PixelFormatIsPackedYcc(pxlFormat format);
QOR_INT PixelFormatYccBitDepth(pxlFormat format);

const char *FormatString(pxlFormat ePxl);
const char *FormatStringForFilename(pxlFormat ePxl);
/** The first format whose FormatString equals the text exactly; PXL_NONE when none does. */
pxlFormat FormatIndex(const char *format);
const char *MosaicString(MOSAICType mos);
MOSAICType MosaicFlip(MOSAICType input, QOR_BOOL8 bFlipH, QOR_BOOL8 bFlipV);

/*
 * Whole-buffer conversions.
 */

/**
 * Copies tiled input into linear output. The input is a sequence of tiles of ui32TileHeight rows of
 * ui32TileWidth bytes; a tile row spans ui32TileStride bytes (ui32TileStride / ui32TileWidth tiles). When the
 * output ends inside a tile row, that row's tiles are still consumed whole, as they lie in memory.
 */
QOR_RESULT BufferDeTile(QOR_UINT32 ui32TileWidth, QOR_UINT32 ui32TileHeight, QOR_UINT32 ui32TileStride,
                        const QOR_UINT8 *pInput, QOR_UINT8 *pOutput, QOR_UINT32 ui32OutputHStride,
                        QOR_UINT32 ui32OutputVStride);
/**
 * Expands 8-bit semi-planar YUV (formats 1 to 4) into three planes Y, U, V of outWidth x outHeight (malloc'd,
 * freed by the caller); bUV says the input's chroma pairs are (U, V). Null when refused.
 */
QOR_UINT8 *BufferTransformYUVTo444(const QOR_UINT8 *bufferA, QOR_BOOL8 bUV, pxlFormat eTypeA, QOR_UINT32 inWidth,
                                   QOR_UINT32 inHeight, QOR_UINT32 outWidth, QOR_UINT32 outHeight);
/**
 * Converts planar 4:4:4 YUV (Y, then U and V when bUV is set, else V and U) into a packed 8-bit RGB format
 * (malloc'd, freed by the caller): channel c = clip(sum_j (in_j + convInputOff[j]) x convMatrix[c][j]) at byte c
 * of each pixel, or 2 - c with bBGR. Formats of more than 8 bits per channel are refused (null).
 */
QOR_UINT8 *BufferTransformYUV444ToRGB(const QOR_UINT8 *bufferA, QOR_BOOL8 bUV, pxlFormat rgb, QOR_BOOL8 bBGR,
                                      QOR_UINT32 width, QOR_UINT32 height, const double convMatrix[9],
                                      const double convInputOff[3]);
/** A double to a byte: above 255 gives 255, below 0 gives 0, otherwise truncated toward zero. */
QOR_UINT8 clip(double v);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_PIXEL_TRANSFORM_H */
