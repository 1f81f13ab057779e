#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "norvacommon/ci_alloc_info.h"
#include "norvacommon/pixel_transform.h"
#include "support/same_members.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

struct LayoutCase {
    pxlFormat fmt;
    FORMAT_TYPES kind;
    int h, v, bitDepth, elements, bytes;
    PACKEDSTART start;
    const char *name;
    const char *fileName;
};

// The layout table of the pixel formats, written out independently of the implementation's table.
const LayoutCase kLayouts[] = {
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

QOR_RESULT transform(FORMAT_TYPES kind, PIXELTYPE *t, pxlFormat fmt) {
    switch (kind) {
    case TYPE_YUV:
        return PixelTransformYUV(t, fmt);
    case TYPE_RGB:
        return PixelTransformRGB(t, fmt);
    default:
        return PixelTransformBayer(t, fmt, MOSAIC_GBRG);
    }
}

TEST(PixelFormat, EveryLayoutRowAndBothNames) {
    for (const LayoutCase &k : kLayouts) {
        SCOPED_TRACE(k.name);
        PIXELTYPE t;
        std::memset(&t, 0xff, sizeof(t));
        ASSERT_EQ(transform(k.kind, &t, k.fmt), QOR_RES_OK);
        EXPECT_EQ(t.eFmt, k.fmt);
        EXPECT_EQ(t.eBuffer, k.kind);
        EXPECT_EQ(t.eMosaic, k.kind == TYPE_BAYER ? MOSAIC_GBRG : MOSAIC_NONE);
        EXPECT_EQ(t.ui8HSubsampling, k.h);
        EXPECT_EQ(t.ui8VSubsampling, k.v);
        EXPECT_EQ(t.ui8BitDepth, k.bitDepth);
        EXPECT_EQ(t.ui8PackedElements, k.elements);
        EXPECT_EQ(t.ui8PackedStride, k.bytes);
        EXPECT_EQ(t.ePackedStart, k.start);

        EXPECT_STREQ(FormatString(k.fmt), k.name);
        EXPECT_STREQ(FormatStringForFilename(k.fmt), k.fileName);
        EXPECT_EQ(FormatIndex(k.name), k.fmt);
        EXPECT_EQ(PixelFormatIsPackedYcc(k.fmt), k.fmt >= PXL_ISP_444IL3YCrCb8 ? QOR_TRUE : QOR_FALSE);
        EXPECT_EQ(PixelFormatYccBitDepth(k.fmt), k.fmt >= PXL_ISP_444IL3YCrCb8 ? k.bitDepth : 0);
    }
}

TEST(PixelFormat, NamesOfNoneAndUnknownValues) {
    const struct {
        pxlFormat fmt;
        const char *name;
    } cases[] = {{PXL_NONE, "NONE"},
                 {PXL_N, "?fmt?"},
                 {PXL_INVALID, "?fmt?"},
                 {static_cast<pxlFormat>(99), "?fmt?"},
                 {static_cast<pxlFormat>(-1), "?fmt?"}};
    for (const auto &k : cases) {
        EXPECT_STREQ(FormatString(k.fmt), k.name);
        EXPECT_STREQ(FormatStringForFilename(k.fmt), k.name);
    }
    EXPECT_EQ(FormatIndex("NV12"), YUV_420_PL12_8);
    EXPECT_EQ(FormatIndex("nv12"), PXL_NONE); // case-sensitive
    EXPECT_EQ(FormatIndex("NONE"), PXL_NONE);
    EXPECT_EQ(FormatIndex("?fmt?"), PXL_NONE);
    EXPECT_EQ(FormatIndex("YUV_444"), PXL_NONE); // file-name forms are not format names
    EXPECT_EQ(FormatIndex(""), PXL_NONE);

    const char *mosaics[] = {"NONE", "MOSAIC_RGGB", "MOSAIC_GRBG", "MOSAIC_GBRG", "MOSAIC_BGGR"};
    for (int m = 0; m <= 4; ++m)
        EXPECT_STREQ(MosaicString(static_cast<MOSAICType>(m)), mosaics[m]);
    EXPECT_STREQ(MosaicString(static_cast<MOSAICType>(5)), "?mos?");
}

TEST(PixelFormat, TransformRefusals) {
    PIXELTYPE t{};
    // YUV with another family's format: 11, but eFmt, eBuffer and eMosaic already written.
    t.eMosaic = MOSAIC_BGGR;
    EXPECT_EQ(PixelTransformYUV(&t, RGB_888_24), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(t.eFmt, RGB_888_24);
    EXPECT_EQ(t.eBuffer, TYPE_YUV);
    EXPECT_EQ(t.eMosaic, MOSAIC_NONE);

    t = PIXELTYPE{};
    t.eBuffer = TYPE_RGB;
    EXPECT_EQ(PixelTransformYUV(&t, PXL_NONE), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(t.eBuffer, TYPE_NONE);

    PIXELTYPE untouched;
    std::memset(&untouched, 0x5a, sizeof(untouched));
    PIXELTYPE copy = untouched;
    EXPECT_EQ(PixelTransformRGB(&copy, PXL_NONE), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(norva_test::DifferentMembers(
                  copy, untouched,
                  {NORVA_MEMBER(PIXELTYPE, eFmt), NORVA_MEMBER(PIXELTYPE, eBuffer), NORVA_MEMBER(PIXELTYPE, eMosaic),
                   NORVA_MEMBER(PIXELTYPE, ui8HSubsampling), NORVA_MEMBER(PIXELTYPE, ui8VSubsampling),
                   NORVA_MEMBER(PIXELTYPE, ui8BitDepth), NORVA_MEMBER(PIXELTYPE, ui8PackedElements),
                   NORVA_MEMBER(PIXELTYPE, ui8PackedStride), NORVA_MEMBER(PIXELTYPE, ePackedStart)}),
              "");

    EXPECT_EQ(PixelTransformRGB(&t, YUV_420_PL12_8), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(t.eBuffer, TYPE_RGB);
    EXPECT_EQ(PixelTransformBayer(&t, RGB_888_32, MOSAIC_RGGB), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(t.eBuffer, TYPE_BAYER);
    EXPECT_EQ(PixelTransformBayer(&t, PXL_NONE, MOSAIC_RGGB), QOR_RES_INVALID_PARAM);
}

TEST(PixelFormat, DisplayLayout) {
    PIXELTYPE t{};
    EXPECT_EQ(PixelTransformDisplay(&t, PXL_ISP_444IL3YCbCr10), QOR_RES_OK);
    EXPECT_EQ(t.eBuffer, TYPE_YUV);
    EXPECT_EQ(t.ui8BitDepth, 10);
    EXPECT_EQ(t.ui8PackedElements, 1);
    EXPECT_EQ(t.ui8PackedStride, 4);
    EXPECT_EQ(PixelTransformDisplay(&t, BGR_888_32), QOR_RES_OK);
    EXPECT_EQ(t.eBuffer, TYPE_RGB);
    EXPECT_EQ(t.ui8PackedStride, 4);
    EXPECT_EQ(PixelTransformDisplay(&t, YUV_420_PL12_8), QOR_RES_INVALID_PARAM);
}

TEST(PixelFormat, MosaicFlipMatchesFlippingA2x2Cell) {
    // Each order spelled as its 2x2 cell (row 0 then row 1); flipping the cell gives the expected order.
    const char *cells[] = {"", "RGGB", "GRBG", "GBRG", "BGGR"};
    for (int in = 1; in <= 4; ++in) {
        for (int h = 0; h <= 1; ++h) {
            for (int v = 0; v <= 1; ++v) {
                const std::string c = cells[in];
                std::string flipped = c;
                if (h)
                    flipped = {flipped[1], flipped[0], flipped[3], flipped[2]};
                if (v)
                    flipped = {flipped[2], flipped[3], flipped[0], flipped[1]};
                const MOSAICType out =
                    MosaicFlip(static_cast<MOSAICType>(in), static_cast<QOR_BOOL8>(h), static_cast<QOR_BOOL8>(v));
                EXPECT_EQ(cells[out], flipped) << c << " h=" << h << " v=" << v;
            }
        }
    }
    EXPECT_EQ(MosaicFlip(MOSAIC_NONE, 1, 1), MOSAIC_NONE);
    EXPECT_EQ(MosaicFlip(static_cast<MOSAICType>(7), 0, 0), MOSAIC_NONE);
}

TEST(TileInfo, Schemes) {
    CI_TILINGINFO t{};
    EXPECT_EQ(CI_ALLOC_GetTileInfo(256, &t), QOR_RES_OK);
    EXPECT_EQ(t.ui32TilingStride, 256u);
    EXPECT_EQ(t.ui32TilingHeight, 16u);
    EXPECT_EQ(t.ui32MinTileStride, 512u);
    EXPECT_EQ(t.ui32MaxTileStride, 16384u);
    EXPECT_EQ(CI_ALLOC_GetTileInfo(512, &t), QOR_RES_OK);
    EXPECT_EQ(t.ui32TilingHeight, 8u);
    EXPECT_EQ(t.ui32MinTileStride, 1024u);
    EXPECT_EQ(t.ui32MaxTileStride, 32768u);
    EXPECT_EQ(CI_ALLOC_GetTileInfo(128, &t), QOR_RES_NOT_SUPPORTED);
    EXPECT_EQ(t.ui32TilingStride, 128u);
    EXPECT_EQ(CI_ALLOC_GetSysmemAlignment(), 64u);
    EXPECT_EQ(CI_ALLOC_GetMinTilingStride(), 512u);
    EXPECT_EQ(CI_ALLOC_GetMaxTilingStride(), 16384u);
}

/** The layout of a format of any family. */
PIXELTYPE layoutOf(pxlFormat fmt) {
    PIXELTYPE t{};
    if (PixelTransformYUV(&t, fmt) == QOR_RES_OK)
        return t;
    t = PIXELTYPE{};
    if (PixelTransformRGB(&t, fmt) == QOR_RES_OK)
        return t;
    t = PIXELTYPE{};
    PixelTransformBayer(&t, fmt, MOSAIC_RGGB);
    return t;
}

enum class SizeFn { YUV, RGB, RAW2D };

struct SizeCase {
    const char *what;
    SizeFn fn;
    pxlFormat fmt;
    QOR_UINT32 width, height;
    QOR_UINT32 scheme; // 0: no tiling
    QOR_RESULT result;
    CI_SIZEINFO expected;
};

const SizeCase kSizes[] = {
    {"NV12 1920x1080 linear",
     SizeFn::YUV,
     YUV_420_PL12_8,
     1920,
     1080,
     0,
     0,
     {YUV_420_PL12_8, 1920, 1080, 0, 1920, 540}},
    {"NV12 1920x1080 tiled 256",
     SizeFn::YUV,
     YUV_420_PL12_8,
     1920,
     1080,
     256,
     0,
     {YUV_420_PL12_8, 2048, 1088, 256, 2048, 544}},
    {"NV12-10bit 1920", SizeFn::YUV, YUV_420_PL12_10, 1920, 1080, 0, 0, {YUV_420_PL12_10, 2560, 1080, 0, 2560, 540}},
    {"NV16 1000x10 rounds to 64", SizeFn::YUV, YUV_422_PL12_8, 1000, 10, 0, 0, {YUV_422_PL12_8, 1024, 10, 0, 1024, 10}},
    {"packed 444 has no chroma plane",
     SizeFn::YUV,
     PXL_ISP_444IL3YCbCr8,
     100,
     7,
     256,
     0,
     {PXL_ISP_444IL3YCbCr8, 512, 16, 256, 0, 0}},
    {"YUV tiled stride above 16384", SizeFn::YUV, YUV_420_PL12_8, 16385, 16, 256, 22, {}},
    {"YUV tiled 16385 with scheme 512",
     SizeFn::YUV,
     YUV_420_PL12_8,
     16385,
     16,
     512,
     0,
     {YUV_420_PL12_8, 32768, 16, 512, 32768, 8}},
    {"RGB888_24 width 1000", SizeFn::RGB, RGB_888_24, 1000, 5, 0, 0, {RGB_888_24, 3008, 5, 0, 0, 0}},
    {"RGB888_24 width 1000 tiled", SizeFn::RGB, RGB_888_24, 1000, 5, 256, 0, {RGB_888_24, 4096, 16, 256, 0, 0}},
    {"RGB tiled stride above 16384", SizeFn::RGB, RGB_888_32, 4100, 5, 256, 22, {}},
    {"tiled BGR64 refused", SizeFn::RGB, BGR_161616_64, 64, 4, 256, 22, {}},
    {"RAW2D RGGB10 width 1001", SizeFn::RAW2D, BAYER_RGGB_10, 1001, 3, 0, 0, {BAYER_RGGB_10, 1336, 3, 0, 0, 0}},
    {"tiled RAW2D refused", SizeFn::RAW2D, BAYER_RGGB_10, 1001, 3, 256, 22, {}},
    {"width 0 gives a zeroed record", SizeFn::YUV, YUV_420_PL12_8, 0, 9, 256, 0, {YUV_420_PL12_8, 0, 9, 0, 0, 0}},
};

TEST(BufferSize, Examples) {
    for (const SizeCase &k : kSizes) {
        SCOPED_TRACE(k.what);
        const PIXELTYPE type = layoutOf(k.fmt);
        CI_TILINGINFO tile{};
        if (k.scheme != 0) {
            ASSERT_EQ(CI_ALLOC_GetTileInfo(k.scheme, &tile), QOR_RES_OK);
        }
        CI_SIZEINFO out;
        std::memset(&out, 0xee, sizeof(out));
        const CI_TILINGINFO *pTile = k.scheme != 0 ? &tile : nullptr;
        QOR_RESULT ret;
        CaptureStderr();
        switch (k.fn) {
        case SizeFn::YUV:
            ret = CI_ALLOC_YUVSizeInfo(&type, k.width, k.height, pTile, &out);
            break;
        case SizeFn::RGB:
            ret = CI_ALLOC_RGBSizeInfo(&type, k.width, k.height, pTile, &out);
            break;
        default:
            ret = CI_ALLOC_Raw2DSizeInfo(&type, k.width, k.height, pTile, &out);
            break;
        }
        const std::string err = GetCapturedStderr();
        EXPECT_EQ(ret, k.result);
        if (k.result != QOR_RES_OK) {
            EXPECT_NE(err.find("ERROR [DPF_OUT]"), std::string::npos) << err;
            continue;
        }
        EXPECT_EQ(out.eFmt, k.expected.eFmt);
        EXPECT_EQ(out.ui32Stride, k.expected.ui32Stride);
        EXPECT_EQ(out.ui32Height, k.expected.ui32Height);
        EXPECT_EQ(out.ui32TilingStride, k.expected.ui32TilingStride);
        EXPECT_EQ(out.ui32CStride, k.expected.ui32CStride);
        EXPECT_EQ(out.ui32CHeight, k.expected.ui32CHeight);
    }
}

TEST(BufferSize, RefusalMessages) {
    PIXELTYPE type{};
    CI_TILINGINFO tile{};
    CI_SIZEINFO out{};
    CI_ALLOC_GetTileInfo(256, &tile);
    const struct {
        QOR_RESULT (*fn)(const PIXELTYPE *, QOR_UINT32, QOR_UINT32, const CI_TILINGINFO *, CI_SIZEINFO *);
        pxlFormat fmt;
        QOR_UINT32 width;
        const char *message;
    } cases[] = {
        {CI_ALLOC_YUVSizeInfo, YUV_420_PL12_8, 16385,
         "Trying to use tiling stride of 32768 (encoder) - maximum supported 16384\n"},
        {CI_ALLOC_RGBSizeInfo, RGB_888_32, 4100,
         "Trying to use tiling stride of 32768 (display) - maximum supported 16384\n"},
        {CI_ALLOC_RGBSizeInfo, BGR_161616_64, 16, "Cannot insert tiled HDF buffer!\n"},
        {CI_ALLOC_Raw2DSizeInfo, BAYER_RGGB_8, 16, "Cannot configure tiled RAW2D format in current HW\n"},
    };
    for (const auto &k : cases) {
        type = layoutOf(k.fmt);
        CaptureStderr();
        EXPECT_EQ(k.fn(&type, k.width, 4, &tile, &out), QOR_RES_NOT_SUPPORTED);
        const std::string err = GetCapturedStderr();
        EXPECT_NE(err.find(k.message), std::string::npos) << err;
    }
}

TEST(BufferSize, NoneLayoutDoesNotDivideByZero) {
    PIXELTYPE none{};
    CI_SIZEINFO out;
    std::memset(&out, 0xee, sizeof(out));
    EXPECT_EQ(CI_ALLOC_YUVSizeInfo(&none, 640, 480, nullptr, &out), QOR_RES_OK);
    EXPECT_EQ(out.ui32Stride, 0u);
    EXPECT_EQ(out.ui32CStride, 0u);
    EXPECT_EQ(out.ui32TilingStride, 0u);
    EXPECT_EQ(CI_ALLOC_RGBSizeInfo(&none, 640, 480, nullptr, &out), QOR_RES_OK);
    EXPECT_EQ(CI_ALLOC_Raw2DSizeInfo(&none, 640, 480, nullptr, &out), QOR_RES_OK);
    EXPECT_EQ(out.ui32Stride, 0u);
}

} // namespace
