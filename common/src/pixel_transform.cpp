#include "norvacommon/pixel_transform.h"

#include <cstring>

namespace {

/** One row per format: its family, layout and both names. */
struct FormatRow {
    pxlFormat fmt;
    FORMAT_TYPES family;
    QOR_UINT8 h, v, bitDepth, packedElements, packedStride;
    PACKEDSTART start;
    const char *name;
    const char *fileName;
};

const FormatRow kFormats[] = {
    {PXL_NONE, TYPE_NONE, 0, 0, 0, 0, 0, PACKED_LSB, "NONE", "NONE"},
    {YVU_420_PL12_8, TYPE_YUV, 2, 2, 8, 1, 1, PACKED_LSB, "NV21", "NV21"},
    {YUV_420_PL12_8, TYPE_YUV, 2, 2, 8, 1, 1, PACKED_LSB, "NV12", "NV12"},
    {YVU_422_PL12_8, TYPE_YUV, 2, 1, 8, 1, 1, PACKED_LSB, "NV61", "NV61"},
    {YUV_422_PL12_8, TYPE_YUV, 2, 1, 8, 1, 1, PACKED_LSB, "NV16", "NV16"},
    {YVU_420_PL12_10, TYPE_YUV, 2, 2, 10, 6, 8, PACKED_LSB, "NV21-10bit", "NV21-10bit"},
    {YUV_420_PL12_10, TYPE_YUV, 2, 2, 10, 6, 8, PACKED_LSB, "NV12-10bit", "NV12-10bit"},
    {YVU_422_PL12_10, TYPE_YUV, 2, 1, 10, 6, 8, PACKED_LSB, "NV61-10bit", "NV61-10bit"},
    {YUV_422_PL12_10, TYPE_YUV, 2, 1, 10, 6, 8, PACKED_LSB, "NV16-10bit", "NV16-10bit"},
    {RGB_888_24, TYPE_RGB, 1, 1, 8, 1, 3, PACKED_LSB, "BI_RGB24", "BI_RGB24"},
    {RGB_888_32, TYPE_RGB, 1, 1, 8, 1, 4, PACKED_LSB, "BI_RGB32", "BI_RGB32"},
    {RGB_101010_32, TYPE_RGB, 1, 1, 10, 1, 4, PACKED_LSB, "BI_RGB32-10bit", "BI_RGB32-10bit"},
    {BGR_888_24, TYPE_RGB, 1, 1, 8, 1, 3, PACKED_LSB, "BI_BGR24", "BI_BGR24"},
    {BGR_888_32, TYPE_RGB, 1, 1, 8, 1, 4, PACKED_LSB, "BI_BGR32", "BI_BGR32"},
    {BGR_101010_32, TYPE_RGB, 1, 1, 10, 1, 4, PACKED_LSB, "BI_BGR32-10bit", "BI_BGR32-10bit"},
    {BGR_161616_64, TYPE_RGB, 1, 1, 16, 1, 8, PACKED_LSB, "BI_BGR64", "BI_BGR64"},
    {BAYER_RGGB_8, TYPE_BAYER, 1, 1, 8, 4, 4, PACKED_LSB, "RGGB8", "RGGB8"},
    {BAYER_RGGB_10, TYPE_BAYER, 1, 1, 10, 3, 4, PACKED_LSB, "RGGB10", "RGGB10"},
    {BAYER_RGGB_12, TYPE_BAYER, 1, 1, 12, 16, 24, PACKED_LSB, "RGGB12", "RGGB12"},
    {BAYER_TIFF_10, TYPE_BAYER, 1, 1, 10, 4, 5, PACKED_MSB, "TIFF10", "TIFF10"},
    {BAYER_TIFF_12, TYPE_BAYER, 1, 1, 12, 2, 3, PACKED_MSB, "TIFF12", "TIFF12"},
    {PXL_ISP_444IL3YCrCb8, TYPE_YUV, 1, 1, 8, 1, 3, PACKED_LSB, "444IL3YCrCb8", "YUV_444"},
    {PXL_ISP_444IL3YCbCr8, TYPE_YUV, 1, 1, 8, 1, 3, PACKED_LSB, "444IL3YCbCr8", "YVU_444"},
    {PXL_ISP_444IL3YCrCb10, TYPE_YUV, 1, 1, 10, 1, 4, PACKED_LSB, "444IL3YCrCb10", "YUV_444-10bit"},
    {PXL_ISP_444IL3YCbCr10, TYPE_YUV, 1, 1, 10, 1, 4, PACKED_LSB, "444IL3YCbCr10", "YVU_444-10bit"},
};
static_assert(sizeof(kFormats) / sizeof(kFormats[0]) == PXL_N, "one row per format");

constexpr const char *kUnknownFormat = "?fmt?";

const FormatRow *row(pxlFormat fmt) {
    const int i = static_cast<int>(fmt);
    if (i < 0 || i >= PXL_N)
        return nullptr;
    return &kFormats[i];
}

/** Copies the table's layout of a format of the wanted family; false when the format is of another one. */
bool fillLayout(PIXELTYPE *pType, pxlFormat fmt, FORMAT_TYPES family) {
    const FormatRow *r = row(fmt);
    if (r == nullptr || r->family != family)
        return false;
    pType->ui8HSubsampling = r->h;
    pType->ui8VSubsampling = r->v;
    pType->ui8BitDepth = r->bitDepth;
    pType->ui8PackedElements = r->packedElements;
    pType->ui8PackedStride = r->packedStride;
    pType->ePackedStart = r->start;
    return true;
}

} // namespace

extern "C" {

QOR_RESULT PixelTransformYUV(PIXELTYPE *pType, pxlFormat yuv) {
    if (pType == nullptr)
        return QOR_RES_INVALID_PARAM;
    if (yuv == PXL_NONE) {
        pType->eBuffer = TYPE_NONE;
        return QOR_RES_INVALID_PARAM;
    }
    pType->eFmt = yuv;
    pType->eBuffer = TYPE_YUV;
    pType->eMosaic = MOSAIC_NONE;
    return fillLayout(pType, yuv, TYPE_YUV) ? QOR_RES_OK : QOR_RES_INVALID_PARAM;
}

QOR_RESULT PixelTransformRGB(PIXELTYPE *pType, pxlFormat rgb) {
    if (pType == nullptr || rgb == PXL_NONE)
        return QOR_RES_INVALID_PARAM;
    pType->eFmt = rgb;
    pType->eBuffer = TYPE_RGB;
    pType->eMosaic = MOSAIC_NONE;
    pType->ui8HSubsampling = 1;
    pType->ui8VSubsampling = 1;
    return fillLayout(pType, rgb, TYPE_RGB) ? QOR_RES_OK : QOR_RES_INVALID_PARAM;
}

QOR_RESULT PixelTransformBayer(PIXELTYPE *pType, pxlFormat bayer, MOSAICType mosaic) {
    if (pType == nullptr || bayer == PXL_NONE)
        return QOR_RES_INVALID_PARAM;
    pType->eFmt = bayer;
    pType->eBuffer = TYPE_BAYER;
    pType->eMosaic = mosaic;
    pType->ui8HSubsampling = 1;
    pType->ui8VSubsampling = 1;
    return fillLayout(pType, bayer, TYPE_BAYER) ? QOR_RES_OK : QOR_RES_INVALID_PARAM;
}

QOR_RESULT PixelTransformDisplay(PIXELTYPE *pType, pxlFormat format) {
    if (PixelFormatIsPackedYcc(format))
        return PixelTransformYUV(pType, format);
    return PixelTransformRGB(pType, format);
}

QOR_BOOL PixelFormatIsPackedYcc(pxlFormat format) {
    return (format >= PXL_ISP_444IL3YCrCb8 && format <= PXL_ISP_444IL3YCbCr10) ? QOR_TRUE : QOR_FALSE;
}

QOR_INT PixelFormatYccBitDepth(pxlFormat format) {
    if (!PixelFormatIsPackedYcc(format))
        return 0;
    return row(format)->bitDepth;
}

const char *FormatString(pxlFormat ePxl) {
    const FormatRow *r = row(ePxl);
    return r != nullptr ? r->name : kUnknownFormat;
}

const char *FormatStringForFilename(pxlFormat ePxl) {
    const FormatRow *r = row(ePxl);
    return r != nullptr ? r->fileName : kUnknownFormat;
}

pxlFormat FormatIndex(const char *format) {
    if (format == nullptr)
        return PXL_NONE;
    for (const FormatRow &r : kFormats) {
        if (std::strcmp(r.name, format) == 0)
            return r.fmt;
    }
    return PXL_NONE;
}

const char *MosaicString(MOSAICType mos) {
    static const char *const kNames[] = {"NONE", "MOSAIC_RGGB", "MOSAIC_GRBG", "MOSAIC_GBRG", "MOSAIC_BGGR"};
    const int i = static_cast<int>(mos);
    return (i >= 0 && i <= MOSAIC_BGGR) ? kNames[i] : "?mos?";
}

MOSAICType MosaicFlip(MOSAICType input, QOR_BOOL8 bFlipH, QOR_BOOL8 bFlipV) {
    // A 2x2 cell read as (row 0: a b, row 1: c d): a horizontal flip swaps the columns, a vertical one the rows.
    // Indexed by input - 1, then [vertical][horizontal].
    static const MOSAICType kFlip[4][2][2] = {
        {{MOSAIC_RGGB, MOSAIC_GRBG}, {MOSAIC_GBRG, MOSAIC_BGGR}},
        {{MOSAIC_GRBG, MOSAIC_RGGB}, {MOSAIC_BGGR, MOSAIC_GBRG}},
        {{MOSAIC_GBRG, MOSAIC_BGGR}, {MOSAIC_RGGB, MOSAIC_GRBG}},
        {{MOSAIC_BGGR, MOSAIC_GBRG}, {MOSAIC_GRBG, MOSAIC_RGGB}},
    };
    const int i = static_cast<int>(input);
    if (i < MOSAIC_RGGB || i > MOSAIC_BGGR)
        return MOSAIC_NONE;
    return kFlip[i - 1][bFlipV ? 1 : 0][bFlipH ? 1 : 0];
}

} // extern "C"
