/* Save formats across classes, and the converter: PGM (Bayer, 10-bit) → NRV → plain raw → PGM is the identity
 * and its NRV plays as data-generator input; YUV files pass through NRV unchanged. */
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "format_test_helpers.h"
#include "image_formats.h"
#include "nrv_test_helpers.h"
#include "sim_image.h"

namespace {

using fmttest::Str;

int Convert(const std::string &args) {
    return fmttest::Shell(std::string(NORVA_IMGCONV) + " " + args + " 2>/dev/null");
}

/* An NRV file of a YUV image saved with the given plane layout, loaded back. */
void LoadNrvYuv(const std::string &path, SUBS_xxx subs, std::vector<QOR_INT8> planes, CImageNrv *nrv) {
    CImageBase im;
    ASSERT_TRUE(im.CreateNewImage(4, 2, CM_YUV, subs, nullptr, nullptr));
    NRVSAVEFORMAT f;
    CImageNrv::GetSaveFormat(&f, &im);
    for (size_t p = 0; p < 4; ++p)
        f.planeFormat[p] = p < planes.size() ? planes[p] : 0;
    CImageNrv saver;
    ASSERT_EQ(Str(saver.SaveSingleFrameImage(path.c_str(), &f)), "(success)");
    ASSERT_EQ(Str(nrv->LoadFileHeader(path.c_str(), nullptr)), "(success)");
}

TEST(SaveFormats, EachClassDescribesTheOthersImages) {
    const std::string dir = nrvtest::TempDir("save_formats");
    {
        /* YUV files from NRV: one plane holding everything is interleaved. */
        struct Row {
            SUBS_xxx subs;
            std::vector<QOR_INT8> planes;
            PLANEFMT_xxx expected;
        };
        const Row kRows[] = {{SUBS_444, {3}, PLANEFMT_INTER_YUV},
                             {SUBS_444, {1, 1, 1}, PLANEFMT_PLANAR},
                             {SUBS_420, {1, 2}, PLANEFMT_PLANAR}};
        for (const Row &r : kRows) {
            CImageNrv nrv;
            LoadNrvYuv(dir + "/y.nrv", r.subs, r.planes, &nrv);
            YUVSAVEFORMAT f = {PLANEFMT_INTER_VYUY, true};
            EXPECT_EQ(CImageYuv::GetSaveFormat(&f, &nrv), nullptr);
            EXPECT_EQ(f.planeFormat, r.expected) << r.subs;
            EXPECT_FALSE(f.msbAligned);
        }
    }
    {
        /* NRV files from YUV files: interleaved 4:4:4 stays one plane. */
        struct Row {
            PLANEFMT_xxx plane;
            SUBS_xxx subs;
            QOR_INT8 first, second;
        };
        const Row kRows[] = {{PLANEFMT_INTER_YUV, SUBS_444, 3, 0},
                             {PLANEFMT_PLANAR, SUBS_444, 1, 1},
                             {PLANEFMT_INTER_UYVY, SUBS_422, 1, 1}};
        for (const Row &r : kRows) {
            CImageYuv yuv;
            ASSERT_TRUE(yuv.CreateNewImage(4, 2, CM_YUV, r.subs, nullptr, nullptr));
            yuv.planeFormat = r.plane;
            NRVSAVEFORMAT f;
            EXPECT_EQ(CImageNrv::GetSaveFormat(&f, &yuv), nullptr);
            EXPECT_EQ(f.planeFormat[0], r.first) << r.plane;
            EXPECT_EQ(f.planeFormat[1], r.second) << r.plane;
            EXPECT_EQ(f.pImData, &yuv);
            YUVSAVEFORMAT own;
            EXPECT_EQ(CImageYuv::GetSaveFormat(&own, &yuv), nullptr);
            EXPECT_EQ(own.planeFormat, r.plane);
        }
    }
    {
        /* Models a class cannot store are refused and leave the format as it was. */
        CImageBmp rgb;
        ASSERT_TRUE(rgb.CreateNewImage(2, 2, CM_RGB, SUBS_UNDEF, nullptr, nullptr));
        YUVSAVEFORMAT y = {PLANEFMT_INTER_VYUY, true};
        EXPECT_EQ(Str(CImageYuv::GetSaveFormat(&y, &rgb)), "Unsupported color model");
        EXPECT_EQ(y.planeFormat, PLANEFMT_INTER_VYUY);
        CImagePxm grey;
        EXPECT_EQ(Str(CImageYuv::GetSaveFormat(&y, &grey)), "Unsupported color model");
        CImageYuv yuv;
        ASSERT_TRUE(yuv.CreateNewImage(2, 2, CM_YUV, SUBS_444, nullptr, nullptr));
        PLRAWSAVEFORMAT p = {3, {0}, {0}};
        EXPECT_EQ(Str(CImagePlRaw::GetSaveFormat(&p, &yuv)), "Unsupported color model");
        EXPECT_EQ(p.bitDepth, 3);
        BMPSAVEFORMAT b;
        EXPECT_EQ(Str(CImageBmp::GetSaveFormat(&b, &yuv)), "Unsupported color model");
        NRVSAVEFORMAT n;
        EXPECT_EQ(CImageNrv::GetSaveFormat(&n, &rgb), nullptr);
        EXPECT_EQ(n.planeFormat[0], 1);
    }
    {
        /* Plain raw ranges from an NRV file's display range, the last value standing for later channels. */
        const std::string path = dir + "/range.nrv";
        CImageBase im;
        const QOR_INT8 d[3] = {12, 12, 12};
        ASSERT_TRUE(im.CreateNewImage(2, 2, CM_RGB, SUBS_UNDEF, d, nullptr));
        CMetaData md;
        md.UpdateStr("CHANNEL_DISPLAY_MIN", "16 32", IFEX_REPLACE);
        md.UpdateStr("CHANNEL_DISPLAY_MAX", "1000", IFEX_REPLACE);
        NRVSAVEFORMAT f;
        CImageNrv::GetSaveFormat(&f, &im);
        f.pMD = &md;
        CImageNrv saver;
        ASSERT_EQ(Str(saver.SaveSingleFrameImage(path.c_str(), &f)), "(success)");
        CImageNrv nrv;
        ASSERT_EQ(nrv.LoadFileHeader(path.c_str(), nullptr), nullptr);
        PLRAWSAVEFORMAT p;
        ASSERT_EQ(CImagePlRaw::GetSaveFormat(&p, &nrv), nullptr);
        EXPECT_EQ(p.bitDepth, 12);
        EXPECT_EQ(std::vector<int>(p.rangeMin, p.rangeMin + 3), (std::vector<int>{16, 32, 32}));
        EXPECT_EQ(std::vector<int>(p.rangeMax, p.rangeMax + 3), (std::vector<int>{1000, 1000, 1000}));
    }
}

TEST(Converter, BayerGreyMapThroughNrvAndPlainRawIsTheIdentity) {
    FMT_REQUIRE_TOOL("pgmramp");
    const std::string dir = nrvtest::TempDir("convert_chain");
    /* A 10-bit mosaic made by netpbm, with the Bayer order added as a comment (netpbm keeps none). */
    const std::string pgm = dir + "/scene.pgm";
    ASSERT_EQ(fmttest::Shell("pgmramp -diagonal 64 48 | pamdepth 1023 | sed '1a # CFA GRBG' > " + pgm), 0);
    const std::string nrv = dir + "/scene.nrv", raw = dir + "/scene_64x48_10bit_grbg.raw", back = dir + "/back.pgm";
    ASSERT_EQ(Convert(pgm + " " + nrv), 0);
    ASSERT_EQ(Convert(nrv + " " + raw), 0);
    ASSERT_EQ(Convert(raw + " " + back), 0);

    CImagePxm original;
    ASSERT_EQ(original.LoadFileHeader(pgm.c_str(), nullptr), nullptr);
    std::vector<unsigned char> expected = nrvtest::ReadBytes(pgm);
    expected.erase(expected.begin(), expected.begin() + original.foffsetData);
    const std::string header = "P5\n64 48\n1023\n";
    expected.insert(expected.begin(), header.begin(), header.end());
    EXPECT_EQ(nrvtest::ReadBytes(back), expected);
    EXPECT_EQ(nrvtest::ReadBytes(raw).size(), 64u * 48u * 2u);

    /* The NRV file is data-generator input: the rebuilt mosaic is the grey map's raster. */
    CImagePxm mosaic;
    PXMLOADFORMAT lf = {CM_UNDEF, SUBS_UNDEF, false, LOADBD_DOWNSIZE};
    ASSERT_EQ(mosaic.LoadFileHeader(pgm.c_str(), &lf), nullptr);
    ASSERT_EQ(mosaic.LoadFileData(0), nullptr);
    sSimImageIn in;
    ASSERT_EQ(SimImageIn_init(&in), 0);
    ASSERT_EQ(SimImageIn_loadNRV(&in, nrv.c_str()), 0);
    EXPECT_EQ(in.info.eColourModel, SimImage_GRBG);
    EXPECT_EQ(in.info.ui8BitDepth, 10);
    EXPECT_EQ(in.info.ui32Width, 64u);
    EXPECT_EQ(in.info.ui32Height, 48u);
    ASSERT_EQ(SimImageIn_convertFrame(&in, 0), 0);
    const std::vector<long> rebuilt(in.pBuffer, in.pBuffer + 64 * 48);
    EXPECT_EQ(rebuilt, fmttest::Interleaved(mosaic));
    SimImageIn_close(&in);
}

TEST(Converter, SixteenBitGreyMapsKeepTheirFullRange) {
    FMT_REQUIRE_TOOL("pgmramp");
    /* Loaded as signed 16-bit samples, 65535 would not survive an NRV file; the converter loads them unsigned. */
    const std::string dir = nrvtest::TempDir("convert_16bit");
    const std::string pgm = dir + "/g.pgm", nrv = dir + "/g.nrv", back = dir + "/back.pgm";
    ASSERT_EQ(fmttest::Shell("pgmramp -lr 40 3 | pamdepth 65535 > " + pgm), 0);
    ASSERT_EQ(Convert(pgm + " " + nrv), 0);
    ASSERT_EQ(Convert(nrv + " " + back), 0);
    EXPECT_EQ(nrvtest::ReadBytes(back), nrvtest::ReadBytes(pgm));
    CImagePxm im;
    ASSERT_EQ(im.LoadFileHeader(back.c_str(), nullptr), nullptr);
    ASSERT_EQ(im.LoadFileData(0), nullptr);
    EXPECT_EQ(im.chnl[0].data[39], 65535);
}

TEST(Converter, OddSizeBayerGreyMapReadsBackFromPlainRaw) {
    /* A 7x5 10-bit mosaic: its plain raw file holds the 35 samples of the mosaic, 70 bytes, and reads back. */
    const std::string dir = nrvtest::TempDir("convert_odd");
    std::string pgmText = "P5\n7 5\n1023\n";
    for (int i = 0; i < 35; ++i) {
        const int v = (i * 29 + 3) % 1024;
        pgmText += static_cast<char>(v >> 8);
        pgmText += static_cast<char>(v & 0xFF);
    }
    const std::string pgm = dir + "/odd75.pgm", raw = dir + "/odd75_7x5_10bit_gbrg.raw", back = dir + "/back.pgm";
    nrvtest::WriteBytes(pgm, std::vector<unsigned char>(pgmText.begin(), pgmText.end()));
    ASSERT_EQ(Convert("--bayer GBRG " + pgm + " " + raw), 0);
    EXPECT_EQ(nrvtest::ReadBytes(raw).size(), 70u);
    ASSERT_EQ(Convert(raw + " " + back), 0);
    EXPECT_EQ(nrvtest::ReadBytes(back), nrvtest::ReadBytes(pgm));
}

/* The items of an NRV file's metadata section, as written. */
std::string ItemsOf(const std::string &nrv) {
    CImageNrv im;
    if (im.LoadFileHeader(nrv.c_str(), nullptr) || !im.pCurrSeg)
        return "(not loaded)";
    std::string items;
    for (MDITEM *it = im.pCurrSeg->meta.list; it; it = it->next)
        items += std::string(it->name) + "=" + it->sVal + ";";
    return items;
}

TEST(Converter, NrvOutputKeepsTheItemsOfTheInput) {
    const std::string dir = nrvtest::TempDir("convert_items");
    /* An NRV capture with its exposure, gain and an item of its own. */
    const std::string capture = dir + "/capture.nrv";
    {
        CImageBase im;
        const QOR_INT8 d[4] = {10, 10, 10, 10};
        ASSERT_TRUE(im.CreateNewImage(4, 2, CM_RGGB, SUBS_GRBG, d, nullptr));
        im.exposureInfo.time = 2860;
        im.exposureInfo.gain = 1.0;
        CMetaData md;
        md.UpdateStr("CHANNEL_DISPLAY_MAX", "1000", IFEX_REPLACE);
        NRVSAVEFORMAT f;
        CImageNrv::GetSaveFormat(&f, &im);
        f.pMD = &md;
        CImageNrv saver;
        ASSERT_EQ(Str(saver.SaveSingleFrameImage(capture.c_str(), &f)), "(success)");
    }
    /* A grey map whose comments carry items: a value with "=", a name given twice (two lines joined) and an item
     * naming NRV planes cannot stand in an NRV file as they are. */
    const std::string greyMap = dir + "/grey.pgm";
    {
        const std::string text = "P5\n# SENSOR_EXPOSURE_TIME 500\n# SENSOR_GAIN 2.5\n# SCENE chart\n"
                                 "# NOTE a=b\n# LENS one\n# LENS two\n# BITDEPTH 3\n2 1\n255\n\x10\x20";
        nrvtest::WriteBytes(greyMap, std::vector<unsigned char>(text.begin(), text.end()));
    }
    /* An NRAW capture whose header carries a chip identifier and a camera model. */
    const std::string nraw = dir + "/cam.nraw";
    {
        std::vector<unsigned char> b(1024 + 4, 7);
        std::fill(b.begin(), b.begin() + 1024, 0);
        const int fields[] = {2, 2, 8, 1, 0, 0x0100, 0, 0};
        b[0] = 'N', b[1] = 'R', b[2] = 'A', b[3] = 'W';
        for (int i = 0; i < 8; ++i) {
            b[4 + 2 * i] = static_cast<unsigned char>(fields[i] & 0xFF);
            b[5 + 2 * i] = static_cast<unsigned char>(fields[i] >> 8);
        }
        b[32] = 0x34, b[33] = 0x12; /* chipID */
        b[80] = 'X', b[81] = '1';   /* model */
        nrvtest::WriteBytes(nraw, b);
    }
    struct Row {
        const char *what;
        std::string input;
        std::vector<std::string> present, absent;
    };
    const Row kRows[] = {
        {"NRV",
         capture,
         {"SENSOR_EXPOSURE_TIME=2860", "SENSOR_GAIN=1", "CHANNEL_DISPLAY_MAX=1000", "WIDTH=4", "FRAME_SIZE=16"},
         {}},
        {"grey map",
         greyMap,
         {"SENSOR_EXPOSURE_TIME=500", "SENSOR_GAIN=2.5", "SCENE=chart", "BITDEPTH=8"},
         {"NOTE", "LENS", "BITDEPTH=3"}},
        {"NRAW", nraw, {"CHIP_ID=4660", "CAMERA_MODEL=X1", "SENSOR_EXPOSURE_TIME=0"}, {}},
    };
    for (const Row &r : kRows) {
        const std::string out = dir + "/out.nrv";
        ASSERT_EQ(Convert(r.input + " " + out), 0) << r.what;
        const std::string items = ItemsOf(out);
        for (const std::string &p : r.present)
            EXPECT_NE(items.find(p + ";"), std::string::npos) << r.what << ": " << p << " in " << items;
        for (const std::string &a : r.absent)
            EXPECT_EQ(items.find(a), std::string::npos) << r.what << ": " << a << " in " << items;
    }
    /* NRV to NRV again: the second file holds what the first did. */
    const std::string again = dir + "/again.nrv";
    ASSERT_EQ(Convert(capture + " " + again), 0);
    EXPECT_EQ(ItemsOf(again), ItemsOf(capture));
}

TEST(Converter, YuvFilesPassThroughNrvUnchanged) {
    FMT_REQUIRE_TOOL("ffmpeg");
    const std::string dir = nrvtest::TempDir("convert_yuv");
    for (const char *fmt : {"yuv444p", "yuv420p10le"}) {
        const std::string part = std::string(fmt) == "yuv444p" ? "8bit_444i" : "10bit_420pl";
        const std::string src = dir + "/src_32x16_" + part + ".yuv";
        const std::string nrv = dir + "/mid.nrv", back = dir + "/back_32x16_" + part + ".yuv";
        /* ffmpeg makes the planar clip; the converter rewrites it in the layout the names ask for. */
        const std::string planar =
            dir + "/p_32x16_" + (std::string(fmt) == "yuv444p" ? "444p" : "10bit_420pl") + ".yuv";
        ASSERT_EQ(fmttest::Shell(std::string("ffmpeg -v error -f lavfi -i testsrc2=size=32x16:rate=11 -frames:v 1 ") +
                                 "-pix_fmt " + fmt + " -f rawvideo -y " + planar),
                  0);
        ASSERT_EQ(Convert(planar + " " + src), 0);
        ASSERT_EQ(Convert(src + " " + nrv), 0);
        ASSERT_EQ(Convert(nrv + " " + back), 0);
        EXPECT_EQ(nrvtest::ReadBytes(back), nrvtest::ReadBytes(src)) << fmt;
        EXPECT_EQ(nrvtest::ReadBytes(src).size(), nrvtest::ReadBytes(planar).size()) << fmt;
    }
    EXPECT_EQ(Convert(dir + "/missing.yuv " + dir + "/x.nrv"), 1);
    EXPECT_EQ(Convert(dir + "/mid.nrv " + dir + "/x.unknown"), 1);
}

} // namespace
