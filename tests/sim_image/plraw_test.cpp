/* Plain raw files: names, the mosaic against the grey map raster of the same mosaic, ffmpeg's demosaic of the
 * file, range mapping on writing and damaged requests. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format_test_helpers.h"
#include "image_formats.h"
#include "nrv_test_helpers.h"

namespace {

using fmttest::Str;

TEST(PlainRaw, GeometryComesFromTheFileName) {
    struct Row {
        const char *name;
        const char *message;
        CM_xxx model;
        SUBS_xxx subs;
        int bits, width, height;
        int formatPart; /* offset of the format part in the name, -1 for none */
    };
    const Row kRows[] = {
        {"scene_4000x3000_12bit_bggr.raw", nullptr, CM_RGGB, SUBS_BGGR, 12, 4000, 3000, 6},
        {"scene_4000x3000.rgb", nullptr, CM_RGB, SUBS_UNDEF, 8, 4000, 3000, 6},
        {"scene_4000x3000_rggbx.raw", nullptr, CM_RGB, SUBS_UNDEF, 8, 4000, 3000, 6},
        {"rggb_4000x3000.raw", nullptr, CM_RGB, SUBS_UNDEF, 8, 4000, 3000, 5},
        {"dir/SHOT_GRBG_10-bit_64x48.RAW", nullptr, CM_RGGB, SUBS_GRBG, 10, 64, 48, 9},
        /* 16-bit names are common: taken, never read as 8 bits; deeper than the loader takes: refused. */
        {"x_640x480_16bit_rggb.raw", nullptr, CM_RGGB, SUBS_RGGB, 16, 640, 480, 2},
        {"x_640x480_31bit_rggb.raw", "Unable to detect plain raw format from file name", CM_UNDEF, SUBS_UNDEF, 0, 0, 0,
         -1},
        {"x_64x48_0bit_rggb.raw", nullptr, CM_RGGB, SUBS_RGGB, 8, 64, 48, 2},
        /* The whole path is scanned from the left, a later size or depth overriding an earlier one; the layout
         * comes from the file's own name. */
        {"data/640x480/clip_rggb.raw", nullptr, CM_RGGB, SUBS_RGGB, 8, 640, 480, 5},
        {"run/1920x1080/clip_64x48_12bit_grbg.raw", nullptr, CM_RGGB, SUBS_GRBG, 12, 64, 48, 4},
        {"data/10bit/clip_64x48_rggb.raw", nullptr, CM_RGGB, SUBS_RGGB, 10, 64, 48, 5},
        {"31bit/x_64x48_12bit_rggb.raw", nullptr, CM_RGGB, SUBS_RGGB, 12, 64, 48, 0},
        {"x_rggb/clip_64x48.raw", nullptr, CM_RGB, SUBS_UNDEF, 8, 64, 48, 12},
        {"clip_10001x480.raw", "Unable to detect plain raw format from file name", CM_UNDEF, SUBS_UNDEF, 0, 0, 0, -1},
        {"clip_99999999999999999999999x480.raw", "Unable to detect plain raw format from file name", CM_UNDEF,
         SUBS_UNDEF, 0, 0, 0, -1},
    };
    for (const Row &r : kRows) {
        PLRAWLOADFORMAT f;
        const char *part = nullptr;
        EXPECT_EQ(Str(CImagePlRaw::GetLoadFormat(&f, r.name, &part)), Str(r.message)) << r.name;
        EXPECT_EQ(f.colorModel, r.model) << r.name;
        EXPECT_EQ(f.subsMode, r.subs) << r.name;
        EXPECT_EQ(f.bitDepth, r.bits) << r.name;
        EXPECT_EQ(f.width, r.width) << r.name;
        EXPECT_EQ(f.height, r.height) << r.name;
        EXPECT_EQ(part ? int(part - r.name) : -1, r.formatPart) << r.name;
    }
    CImagePlRaw im;
    ASSERT_TRUE(im.CreateNewImage(4000, 3000, CM_RGGB, SUBS_GRBG, nullptr, nullptr));
    PLRAWSAVEFORMAT sf = {10, {0}, {1}};
    EXPECT_STREQ(im.GetFormatString(&sf), "4000x3000_10bit_grbg");
}

TEST(PlainRaw, SmallBayerFrameHoldsItsSamplesInMosaicOrder) {
    const std::string dir = nrvtest::TempDir("plraw_small");
    const std::string path = dir + "/f_2x2_12bit_grbg.raw";
    nrvtest::WriteBytes(path, {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0xFF, 0x0F});
    PLRAWLOADFORMAT lf;
    ASSERT_EQ(CImagePlRaw::GetLoadFormat(&lf, path.c_str(), nullptr), nullptr);
    CImagePlRaw im;
    ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), &lf)), "(success)");
    EXPECT_EQ(im.frameSize, 8);
    ASSERT_EQ(Str(im.LoadFileData(0)), "(success)");
    EXPECT_EQ(im.chnl[1].data[0], 1);     /* G1 */
    EXPECT_EQ(im.chnl[0].data[0], 2);     /* R */
    EXPECT_EQ(im.chnl[3].data[0], 3);     /* B: row 1, column 0 */
    EXPECT_EQ(im.chnl[2].data[0], 0xFFF); /* G2 */
    EXPECT_EQ(Str(im.LoadFileData(1)), "Error reading frame data");
    EXPECT_FALSE(im.IsDataLoaded());
}

/* Loads a netpbm-made grey map as a mosaic and saves it as plain raw: the file must equal the raster. */
void CheckAgainstGreyMapRaster(int maxval, int bits) {
    const std::string dir = nrvtest::TempDir("plraw_vs_pgm_" + std::to_string(bits));
    const std::string pgm = dir + "/m.pgm";
    ASSERT_EQ(fmttest::Shell("pgmramp -diagonal 16 6 | pamdepth " + std::to_string(maxval) + " > " + pgm), 0);
    CImagePxm mosaic;
    PXMLOADFORMAT lf = {CM_UNDEF, SUBS_GBRG, true, LOADBD_DOWNSIZE};
    ASSERT_EQ(Str(mosaic.LoadFileHeader(pgm.c_str(), &lf)), "(success)");
    ASSERT_EQ(Str(mosaic.LoadFileData(0)), "(success)");
    PLRAWSAVEFORMAT sf;
    ASSERT_EQ(CImagePlRaw::GetSaveFormat(&sf, &mosaic), nullptr);
    const std::string raw = dir + "/m_16x6_" + std::to_string(bits) + "bit_gbrg.raw";
    CImagePlRaw writer;
    ASSERT_TRUE(writer.CreateNewImage(16, 6, CM_RGGB, SUBS_GBRG, nullptr, nullptr));
    writer.SwapWith(&mosaic);
    ASSERT_EQ(Str(writer.SaveSingleFrameImage(raw.c_str(), &sf)), "(success)");

    std::vector<unsigned char> raster = nrvtest::ReadBytes(pgm);
    raster.erase(raster.begin(), raster.begin() + mosaic.foffsetData);
    if (bits > 8)
        for (size_t i = 0; i + 1 < raster.size(); i += 2)
            std::swap(raster[i], raster[i + 1]);
    EXPECT_EQ(nrvtest::ReadBytes(raw), raster);

    /* And it reads back to the same planes. */
    PLRAWLOADFORMAT rf;
    ASSERT_EQ(CImagePlRaw::GetLoadFormat(&rf, raw.c_str(), nullptr), nullptr);
    CImagePlRaw back;
    ASSERT_EQ(Str(back.LoadFileHeader(raw.c_str(), &rf)), "(success)");
    ASSERT_EQ(Str(back.LoadFileData(0)), "(success)");
    EXPECT_EQ(fmttest::Mosaic(back), fmttest::Mosaic(writer));
}

TEST(PlainRawOracle, BayerFileEqualsTheGreyMapRasterOfTheSameMosaic) {
    FMT_REQUIRE_TOOL("pgmramp");
    CheckAgainstGreyMapRaster(255, 8);
    CheckAgainstGreyMapRaster(65535, 16);
}

TEST(PlainRawOracle, FfmpegDemosaicsTheFileWithTheColoursInPlace) {
    FMT_REQUIRE_TOOL("ffmpeg");
    const std::string dir = nrvtest::TempDir("plraw_ffmpeg");
    const PIXEL kColour[4] = {230, 40, 40, 90}; /* R, G1, G2, B */
    const char *const kOrders[] = {"rggb", "grbg", "gbrg", "bggr"};
    for (int o = 0; o < 4; ++o) {
        CImagePlRaw im;
        ASSERT_TRUE(im.CreateNewImage(16, 16, CM_RGGB, SUBS_xxx(SUBS_RGGB + o), nullptr, kColour));
        PLRAWSAVEFORMAT sf;
        ASSERT_EQ(CImagePlRaw::GetSaveFormat(&sf, &im), nullptr);
        const std::string raw = dir + "/flat_" + im.GetFormatString(&sf) + ".raw";
        ASSERT_EQ(Str(im.SaveSingleFrameImage(raw.c_str(), &sf)), "(success)");
        std::string rgb;
        ASSERT_EQ(fmttest::Shell("ffmpeg -v error -f rawvideo -pix_fmt bayer_" + std::string(kOrders[o]) +
                                     "8 -s 16x16 -i " + raw + " -f rawvideo -pix_fmt rgb24 -",
                                 &rgb),
                  0);
        ASSERT_EQ(rgb.size(), 16u * 16u * 3u);
        const size_t centre = (8 * 16 + 8) * 3;
        EXPECT_NEAR(static_cast<unsigned char>(rgb[centre]), 230, 3) << kOrders[o];
        EXPECT_NEAR(static_cast<unsigned char>(rgb[centre + 1]), 40, 3) << kOrders[o];
        EXPECT_NEAR(static_cast<unsigned char>(rgb[centre + 2]), 90, 3) << kOrders[o];
    }
}

TEST(PlainRaw, ChannelRangesMapOntoTheFileDepth) {
    struct Case {
        const char *what;
        QOR_INT8 depth; /* image channel depth, negative for signed */
        PIXEL sample;
        int fileBits;
        int rangeMin, rangeMax; /* 0, 0: the range of the channel */
        long written;
    };
    const Case kCases[] = {
        {"signed -128", -8, -128, 8, 0, 0, 0},
        {"signed 127", -8, 127, 8, 0, 0, 255},
        {"0..255 at 10 bits", 8, 255, 10, 0, 0, 1020},
        /* A file range narrower than the data range keeps its fraction instead of writing zeros. */
        {"12 bits into 8, top", 12, 4095, 8, 0, 0, 255},
        {"12 bits into 8, middle", 12, 2048, 8, 0, 0, 127},
        {"display range", 12, 1000, 8, 1000, 2000, 0},
        {"above the range", 12, 3000, 8, 1000, 2000, 255},
    };
    const std::string dir = nrvtest::TempDir("plraw_range");
    for (const Case &k : kCases) {
        CImagePlRaw im;
        const QOR_INT8 d[3] = {k.depth, k.depth, k.depth};
        const PIXEL v[3] = {k.sample, k.sample, k.sample};
        ASSERT_TRUE(im.CreateNewImage(1, 1, CM_RGB, SUBS_UNDEF, d, v));
        PLRAWSAVEFORMAT sf;
        ASSERT_EQ(CImagePlRaw::GetSaveFormat(&sf, &im), nullptr);
        sf.bitDepth = QOR_INT8(k.fileBits);
        if (k.rangeMin || k.rangeMax)
            for (int c = 0; c < 3; ++c) {
                sf.rangeMin[c] = k.rangeMin;
                sf.rangeMax[c] = k.rangeMax;
            }
        const std::string path = dir + "/r.raw";
        ASSERT_EQ(Str(im.SaveSingleFrameImage(path.c_str(), &sf)), "(success)") << k.what;
        const std::vector<unsigned char> b = nrvtest::ReadBytes(path);
        ASSERT_EQ(b.size(), k.fileBits > 8 ? 6u : 3u) << k.what;
        EXPECT_EQ(k.fileBits > 8 ? long(b[0] | b[1] << 8) : long(b[0]), k.written) << k.what;
    }
    CImagePlRaw im;
    ASSERT_TRUE(im.CreateNewImage(1, 1, CM_RGB, SUBS_UNDEF, nullptr, nullptr));
    PLRAWSAVEFORMAT sf = {8, {5, 0, 0}, {5, 255, 255}};
    EXPECT_EQ(Str(im.SaveSingleFrameImage((dir + "/equal.raw").c_str(), &sf)), "Unsupported bit depth");
}

TEST(PlainRaw, DamagedRequestsAreRefused) {
    const std::string dir = nrvtest::TempDir("plraw_bad");
    const std::string small = dir + "/small.raw";
    nrvtest::WriteBytes(small, std::vector<unsigned char>(100, 7));
    struct Bad {
        const char *what;
        PLRAWLOADFORMAT lf;
        const char *headerMessage;
        const char *dataMessage;
    };
    const Bad kBad[] = {
        {"depth 0", {4, 4, 0, CM_RGB, SUBS_UNDEF}, "Unsupported bit depth", nullptr},
        {"depth 31", {4, 4, 31, CM_RGB, SUBS_UNDEF}, "Unsupported bit depth", nullptr},
        {"YUV", {4, 4, 8, CM_YUV, SUBS_444}, nullptr, "Unsupported color model"},
        {"Bayer without an order", {4, 4, 8, CM_RGGB, SUBS_422}, nullptr, "Unsupported pattern"},
        {"65535 x 65535 in 100 bytes", {65535, 65535, 8, CM_RGGB, SUBS_RGGB}, nullptr, "Error reading frame data"},
        {"frame past the end", {8, 8, 16, CM_RGB, SUBS_UNDEF}, nullptr, "Error reading frame data"},
        {"negative size", {-4, 4, 8, CM_RGB, SUBS_UNDEF}, nullptr, "Error reading frame data"},
    };
    for (const Bad &b : kBad) {
        CImagePlRaw im;
        PLRAWLOADFORMAT lf = b.lf;
        EXPECT_EQ(Str(im.LoadFileHeader(small.c_str(), &lf)), Str(b.headerMessage)) << b.what;
        if (b.headerMessage) {
            EXPECT_FALSE(im.IsHeaderLoaded()) << b.what;
            continue;
        }
        EXPECT_EQ(Str(im.LoadFileData(0)), Str(b.dataMessage)) << b.what;
        EXPECT_FALSE(im.chnl[0].data) << b.what;
    }
    CImagePlRaw im;
    EXPECT_EQ(Str(im.LoadFileData(0)), "File header not loaded");
    PLRAWLOADFORMAT lf = {4, 4, 8, CM_RGB, SUBS_UNDEF};
    ASSERT_EQ(Str(im.LoadFileHeader((dir + "/missing.raw").c_str(), &lf)), "(success)");
    EXPECT_EQ(Str(im.LoadFileData(0)), "Error opening file");
}

} // namespace
