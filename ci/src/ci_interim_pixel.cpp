/* Stand-in layouts of the output formats until the pixel-format library is on this branch. */
#include "ci/ci_interim_deps.h"

QOR_INT32 PixelTransformYUV(PIXELTYPE *pType, pxlFormat yuv)
{
    if (yuv == PXL_NONE) {
        pType->eBuffer = TYPE_NONE;
        return 11;
    }
    pType->eFmt = yuv;
    pType->eBuffer = TYPE_YUV;
    pType->eMosaic = MOSAIC_NONE;
    if (yuv < YVU_420_PL12_8 || yuv > YUV_422_PL12_10) {
        return 11;
    }
    const bool is420 = (yuv == YVU_420_PL12_8 || yuv == YUV_420_PL12_8 || yuv == YVU_420_PL12_10 || yuv == YUV_420_PL12_10);
    pType->ui8HSubsampling = 2;
    pType->ui8VSubsampling = is420 ? 2 : 1;
    pType->ui8BitDepth = yuv >= YVU_420_PL12_10 ? 10 : 8;
    pType->ui8PackedElements = yuv >= YVU_420_PL12_10 ? 3 : 1;
    pType->ui8PackedStride = yuv >= YVU_420_PL12_10 ? 4 : 1;
    pType->ePackedStart = PACKED_LSB;
    return 0;
}

QOR_INT32 PixelTransformRGB(PIXELTYPE *pType, pxlFormat rgb)
{
    if (rgb == PXL_NONE) {
        return 11;
    }
    pType->eFmt = rgb;
    pType->eBuffer = TYPE_RGB;
    pType->eMosaic = MOSAIC_NONE;
    pType->ui8HSubsampling = 1;
    pType->ui8VSubsampling = 1;
    if (rgb < RGB_888_24 || rgb > BGR_161616_64) {
        return 11;
    }
    pType->ui8BitDepth = (rgb == RGB_101010_32 || rgb == BGR_101010_32) ? 10 : (rgb == BGR_161616_64 ? 16 : 8);
    pType->ui8PackedElements = 1;
    pType->ui8PackedStride = (rgb == RGB_888_24 || rgb == BGR_888_24) ? 3 : (rgb == BGR_161616_64 ? 8 : 4);
    pType->ePackedStart = PACKED_LSB;
    return 0;
}

QOR_INT32 PixelTransformBayer(PIXELTYPE *pType, pxlFormat bayer, MOSAICType mosaic)
{
    if (bayer == PXL_NONE) {
        return 11;
    }
    pType->eFmt = bayer;
    pType->eBuffer = TYPE_BAYER;
    pType->eMosaic = mosaic;
    pType->ui8HSubsampling = 1;
    pType->ui8VSubsampling = 1;
    if (bayer < BAYER_RGGB_8 || bayer > BAYER_TIFF_12) {
        return 11;
    }
    pType->ui8BitDepth = (bayer == BAYER_RGGB_8) ? 8 : ((bayer == BAYER_RGGB_10 || bayer == BAYER_TIFF_10) ? 10 : 12);
    pType->ui8PackedElements = 1;
    pType->ui8PackedStride = 1;
    pType->ePackedStart = (bayer == BAYER_TIFF_10 || bayer == BAYER_TIFF_12) ? PACKED_MSB : PACKED_LSB;
    return 0;
}

QOR_INT32 PixelTransformDisplay(PIXELTYPE *pType, pxlFormat format)
{
    return PixelTransformRGB(pType, format);
}
