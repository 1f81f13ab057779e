/* Grey and pixel maps: files made by netpbm load to the values netpbm prints, files the library writes read
 * back identically in netpbm, ImageMagick and Pillow, plus the format's edge cases and damaged files. */
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "format_test_helpers.h"
#include "image_formats.h"
#include "nrv_test_helpers.h"

namespace {

using fmttest::Str;

std::vector<unsigned char> Bytes(const std::string &s) { return std::vector<unsigned char>(s.begin(), s.end()); }

std::string WriteFile(const std::string &dir, const std::string &name, const std::string &content) {
    const std::string path = dir + "/" + name;
    nrvtest::WriteBytes(path, Bytes(content));
    return path;
}

const PXMLOADFORMAT kDownsize = {CM_UNDEF, SUBS_UNDEF, false, LOADBD_DOWNSIZE};

TEST(PnmOracle, NetpbmFilesLoadToTheValuesNetpbmPrints) {
    FMT_REQUIRE_TOOL("pgmramp");
    const std::string dir = nrvtest::TempDir("pnm_netpbm");
    struct Depth {
        long maxval;
        int bits;
    };
    const Depth kDepths[] = {{1, 1}, {255, 8}, {1023, 10}, {4095, 12}, {65535, 16}};
    const char *const kVariants[] = {"P5", "P6", "P2", "P3"};
    for (const Depth &d : kDepths) {
        for (const char *variant : kVariants) {
            const bool grey = variant[1] == '5' || variant[1] == '2';
            const bool text = variant[1] == '2' || variant[1] == '3';
            const std::string path = dir + "/" + variant + "_" + std::to_string(d.maxval) + ".pnm";
            const std::string cmd = std::string(grey ? "pgmramp -lr 13 7" : "ppmpat -g2 13 7") + " | pamdepth " +
                                    std::to_string(d.maxval) + (text ? " | pamtopnm -plain" : "") + " > " + path;
            ASSERT_EQ(fmttest::Shell(cmd), 0) << cmd;
            /* netpbm writes a text grey map of maxval 1 as a bitmap (P1), which is not this format. */
            if (nrvtest::ReadBytes(path).at(1) == '1')
                continue;
            std::string printed;
            ASSERT_EQ(fmttest::Shell("pamtable " + path + " | tr '|' ' '", &printed), 0);
            std::vector<long> expected;
            std::istringstream in(printed);
            for (long v; in >> v;)
                expected.push_back(v);
            ASSERT_EQ(expected.size(), size_t(13 * 7 * (grey ? 1 : 3))) << printed;

            CImagePxm im;
            PXMLOADFORMAT lf = kDownsize;
            ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), &lf)), "(success)") << path;
            ASSERT_EQ(Str(im.LoadFileData(0)), "(success)") << path;
            EXPECT_EQ(im.colorModel, grey ? CM_GRAY : CM_RGB) << path;
            EXPECT_EQ(im.chnl[0].bitDepth, d.bits) << path;
            EXPECT_FALSE(im.chnl[0].isSigned) << path;
            EXPECT_EQ(fmttest::Interleaved(im), expected) << path;
        }
    }
}

/* Reads a file with a public tool and returns what it decoded as a plain PNM. */
bool ReadWith(const std::string &tool, const std::string &path, int bits, fmttest::PlainPnm *out) {
    std::string cmd;
    if (tool == "netpbm")
        cmd = "pamtopnm -plain " + path;
    else if (tool == "imagemagick")
        cmd = "convert-im6.q16 " + path + " -depth " + (bits > 8 ? "16" : "8") + " -compress none pnm:-";
    else
        cmd = std::string(fmttest::kPython) + " -c \"import sys\nfrom PIL import Image\nim=Image.open(sys.argv[1])\n" +
              "m={'L':255,'RGB':255,'I':65535,'I;16':65535,'I;16B':65535}[im.mode]\n" +
              "print('P3' if im.mode=='RGB' else 'P2', im.size[0], im.size[1], m)\n" +
              "for p in im.getdata(): print(*(p if isinstance(p,tuple) else (p,)))\" " + path;
    std::string text;
    return fmttest::Shell(cmd + " 2>/dev/null", &text) == 0 && fmttest::ParsePlainPnm(text, out);
}

TEST(PnmOracle, FilesTheLibraryWritesReadIdenticallyInPublicTools) {
    FMT_REQUIRE_TOOL("pamtopnm");
    FMT_REQUIRE_TOOL("convert-im6.q16");
    FMT_REQUIRE_PYTHON("PIL");
    const std::string dir = nrvtest::TempDir("pnm_written");
    struct Case {
        CM_xxx model;
        int bits;
        CImagePxm::pxmTypeEnum type;
    };
    const Case kCases[] = {
        {CM_GRAY, 8, PPTYPE_PGMB},  {CM_GRAY, 8, PPTYPE_PGMT}, {CM_GRAY, 10, PPTYPE_PGMB}, {CM_GRAY, 16, PPTYPE_PGMB},
        {CM_GRAY, 16, PPTYPE_PGMT}, {CM_RGB, 8, PPTYPE_PPMB},  {CM_RGB, 8, PPTYPE_PPMT},   {CM_RGB, 12, PPTYPE_PPMB},
        {CM_RGB, 16, PPTYPE_PPMB},  {CM_RGB, 16, PPTYPE_PPMT},
    };
    int n = 0;
    for (const Case &k : kCases) {
        CImagePxm im;
        const QOR_INT8 depths[4] = {QOR_INT8(k.bits), QOR_INT8(k.bits), QOR_INT8(k.bits), QOR_INT8(k.bits)};
        ASSERT_TRUE(im.CreateNewImage(23, 5, k.model, SUBS_UNDEF, depths, nullptr));
        const long maxval = (1L << k.bits) - 1;
        for (int c = 0; c < im.GetNColChannels(); ++c)
            for (int i = 0; i < 23 * 5; ++i)
                im.chnl[c].data[i] = PIXEL((i * 7919L + c * 104729L) % (maxval + 1));
        const std::string path = dir + "/w" + std::to_string(n++) + (k.model == CM_GRAY ? ".pgm" : ".ppm");
        PXMSAVEFORMAT sf = {k.type, false};
        ASSERT_EQ(Str(im.SaveSingleFrameImage(path.c_str(), &sf)), "(success)");
        const std::vector<long> ours = fmttest::Interleaved(im);
        for (const char *tool : {"netpbm", "imagemagick", "pillow"}) {
            /* Pillow has no 16-bit RGB mode: it would hand back 8 bits. */
            if (std::string(tool) == "pillow" && k.model == CM_RGB && k.bits > 8)
                continue;
            fmttest::PlainPnm got;
            ASSERT_TRUE(ReadWith(tool, path, k.bits, &got)) << tool << " " << path;
            EXPECT_EQ(got.width, 23) << tool << " " << path;
            EXPECT_EQ(got.values, fmttest::Rescale(ours, maxval, got.maxval)) << tool << " " << path;
        }
    }
}

std::string Pgm(const std::string &header, const std::string &raster) { return header + raster; }

TEST(Pnm, CfaCommentSplitsTheGreyMapIntoBayerCells) {
    const std::string dir = nrvtest::TempDir("pnm_cfa");
    const std::string path =
        WriteFile(dir, "cfa.pgm", Pgm("P5\n# CFA GRBG\n4 2\n255\n", "\x01\x02\x03\x04\x05\x06\x07\x08"));
    CImagePxm im;
    PXMLOADFORMAT lf = {CM_UNDEF, SUBS_UNDEF, true, LOADBD_SIGNED};
    ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), &lf)), "(success)");
    ASSERT_EQ(Str(im.LoadFileData(0)), "(success)");
    EXPECT_EQ(im.colorModel, CM_RGGB);
    EXPECT_EQ(im.subsMode, SUBS_GRBG);
    /* Row 0 is G1 R G1 R, row 1 B G2 B G2. */
    const std::vector<std::vector<PIXEL>> expected = {{2, 4}, {1, 3}, {6, 8}, {5, 7}};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(im.chnl[c].chnlWidth, 2);
        EXPECT_EQ(im.chnl[c].chnlHeight, 1);
        EXPECT_EQ(std::vector<PIXEL>(im.chnl[c].data, im.chnl[c].data + 2), expected[c]) << c;
    }
    /* Without a load format the same file is a plain grey map; the comment is kept all the same. */
    CImagePxm grey;
    ASSERT_EQ(Str(grey.LoadFileHeader(path.c_str(), nullptr)), "(success)");
    EXPECT_EQ(grey.colorModel, CM_GRAY);
    EXPECT_EQ(grey.width, 4);
    EXPECT_EQ(grey.chnl[0].bitDepth, 8);
    EXPECT_STREQ(grey.meta.GetMetaStr("CFA", ""), "GRBG");
    /* Saving the mosaic writes the raster back as it was read. */
    PXMSAVEFORMAT sf;
    ASSERT_EQ(CImagePxm::GetSaveFormat(&sf, &im), nullptr);
    const std::string out = dir + "/out.pgm";
    ASSERT_EQ(Str(im.SaveSingleFrameImage(out.c_str(), &sf)), "(success)");
    EXPECT_EQ(nrvtest::ReadBytes(out), Bytes(Pgm("P5\n4 2\n255\n", "\x01\x02\x03\x04\x05\x06\x07\x08")));
}

TEST(Pnm, HeaderEdgeCases) {
    const std::string dir = nrvtest::TempDir("pnm_edges");
    {
        /* 16-bit maps are marked signed unless the caller asks for unsigned samples; values are kept. */
        std::string raster = "\x12\x34";
        raster += std::string(16, '\xff');
        const std::string path = WriteFile(dir, "p16.ppm", Pgm("P6\n3 1\n65535\n", raster));
        CImagePxm im;
        ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), nullptr)), "(success)");
        ASSERT_EQ(Str(im.LoadFileData(0)), "(success)");
        EXPECT_EQ(im.colorModel, CM_RGB);
        EXPECT_TRUE(im.chnl[0].isSigned);
        EXPECT_EQ(im.chnl[0].bitDepth, 16);
        EXPECT_EQ(im.chnl[0].data[0], 0x1234);
        EXPECT_EQ(im.chnl[2].data[2], 65535);
        PXMLOADFORMAT lf = kDownsize;
        ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), &lf)), "(success)");
        EXPECT_FALSE(im.chnl[0].isSigned);
    }
    {
        const std::string path = WriteFile(dir, "bits1.pgm", Pgm("P5\n2 1\n1\n", "\x01\x00"));
        CImagePxm im;
        ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), nullptr)), "(success)");
        EXPECT_EQ(im.chnl[0].bitDepth, 1);
    }
    {
        /* Text samples: a letter is a sample of 0, and a text file holds one frame only. */
        const std::string path = WriteFile(dir, "t.pgm", "P2\n3 1\n255\n7 x 9");
        CImagePxm im;
        ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), nullptr)), "(success)");
        ASSERT_EQ(Str(im.LoadFileData(0)), "(success)");
        EXPECT_EQ(fmttest::Interleaved(im), (std::vector<long>{7, 0, 9}));
        EXPECT_EQ(Str(im.LoadFileData(1)), "Multiple images in this file type are not supported");
    }
    {
        /* Binary frames follow each other without headers. */
        const std::string path = WriteFile(dir, "two.pgm", Pgm("P5\n2 1\n255\n", "\x01\x02\x03\x04"));
        CImagePxm im;
        ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), nullptr)), "(success)");
        ASSERT_EQ(Str(im.LoadFileData(1)), "(success)");
        EXPECT_EQ(fmttest::Interleaved(im), (std::vector<long>{3, 4}));
        EXPECT_EQ(Str(im.LoadFileData(2)), "Incomplete file");
    }
    {
        /* A carriage return stays in the comment value, so "GRBG\r" names no Bayer order. */
        const std::string path = WriteFile(dir, "crlf.pgm", Pgm("P5\n# CFA GRBG\r\n2 2\n255\n", "abcd"));
        CImagePxm im;
        PXMLOADFORMAT lf = {CM_UNDEF, SUBS_UNDEF, true, LOADBD_SIGNED};
        ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), &lf)), "(success)");
        EXPECT_EQ(im.colorModel, CM_GRAY);
        EXPECT_STREQ(im.meta.GetMetaStr("CFA", ""), "GRBG\r");
    }
    {
        /* Comments keep their first 999 characters. */
        const std::string path =
            WriteFile(dir, "long.pgm", "P5\n# NOTE " + std::string(2000, 'v') + "\n# CFA BGGR\n2 2\n255\nabcd");
        CImagePxm im;
        ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), nullptr)), "(success)");
        EXPECT_EQ(std::string(im.meta.GetMetaStr("NOTE", "")), std::string(999 - 6, 'v'));
        EXPECT_STREQ(im.meta.GetMetaStr("CFA", ""), "BGGR");
    }
}

TEST(Pnm, EveryHeaderLoadStartsWithEmptyMetadata) {
    const std::string dir = nrvtest::TempDir("pnm_meta");
    const std::string a = WriteFile(dir, "a.pgm", "P5\n# CFA GRBG\n2 2\n255\nabcd");
    const std::string b = WriteFile(dir, "b.pgm", "P5\n# CFA BGGR\n2 2\n255\nabcd");
    CImagePxm im;
    PXMLOADFORMAT lf = {CM_UNDEF, SUBS_UNDEF, true, LOADBD_SIGNED};
    ASSERT_EQ(im.LoadFileHeader(a.c_str(), &lf), nullptr);
    ASSERT_EQ(im.LoadFileHeader(b.c_str(), &lf), nullptr);
    EXPECT_EQ(im.subsMode, SUBS_BGGR);
    EXPECT_EQ(im.meta.GetNItems(), 1);
}

TEST(Pnm, TextOutputBreaksRowsAfterTenValues) {
    const std::string dir = nrvtest::TempDir("pnm_text");
    CImagePxm im;
    const QOR_INT8 d[1] = {12};
    ASSERT_TRUE(im.CreateNewImage(12, 1, CM_GRAY, SUBS_UNDEF, d, nullptr));
    for (int i = 0; i < 12; ++i)
        im.chnl[0].data[i] = i * 300;
    im.chnl[0].data[11] = -1; /* written by its low 16 bits */
    const std::string path = dir + "/t.pgm";
    PXMSAVEFORMAT sf = {PPTYPE_PGMT, false};
    ASSERT_EQ(Str(im.SaveSingleFrameImage(path.c_str(), &sf)), "(success)");
    EXPECT_EQ(nrvtest::ReadBytes(path),
              Bytes("P2\n12 1\n4095\n0 300 600 900 1200 1500 1800 2100 2400 2700\n3000 65535 \n"));
}

TEST(Pnm, SaveFormatsByColourModel) {
    struct Row {
        CM_xxx model;
        SUBS_xxx subs;
        const char *message;
        CImagePxm::pxmTypeEnum type;
        bool cells;
    };
    const Row kRows[] = {
        {CM_GRAY, SUBS_UNDEF, nullptr, PPTYPE_PGMB, false},
        {CM_RGBW, SUBS_UNDEF, nullptr, PPTYPE_PGMB, false},
        {CM_RGB, SUBS_UNDEF, nullptr, PPTYPE_PPMB, false},
        {CM_RGGB, SUBS_GBRG, nullptr, PPTYPE_PGMB, true},
        {CM_YUV, SUBS_444, "Unsupported color model", PPTYPE_PPMT, false},
    };
    for (const Row &r : kRows) {
        CImageBase im;
        ASSERT_TRUE(im.CreateNewImage(4, 2, r.model, r.subs, nullptr, nullptr));
        PXMSAVEFORMAT sf = {PPTYPE_PPMT, true};
        EXPECT_EQ(Str(CImagePxm::GetSaveFormat(&sf, &im)), Str(r.message)) << r.model;
        EXPECT_EQ(sf.fileFormat, r.type) << r.model;
        EXPECT_EQ(sf.useBayerCells, r.cells) << r.model;
    }
    /* A YUV file has no grey or pixel map form, whatever its planes hold. */
    CImageYuv yuv;
    PXMSAVEFORMAT sf = {PPTYPE_PPMT, true};
    EXPECT_EQ(Str(CImagePxm::GetSaveFormat(&sf, &yuv)), "Unsupported color model");
    EXPECT_EQ(sf.fileFormat, PPTYPE_PPMT);
}

TEST(Pnm, SamplesDeeperThanSixteenBitsAreNotWritten) {
    const std::string dir = nrvtest::TempDir("pnm_deep");
    CImagePxm im;
    const QOR_INT8 d[1] = {20};
    ASSERT_TRUE(im.CreateNewImage(2, 2, CM_GRAY, SUBS_UNDEF, d, nullptr));
    const std::string path = dir + "/deep.pgm";
    PXMSAVEFORMAT sf = {PPTYPE_PGMB, false};
    EXPECT_EQ(Str(im.SaveSingleFrameImage(path.c_str(), &sf)), "File format not supported");
    struct stat st;
    EXPECT_NE(stat(path.c_str(), &st), 0) << "no file is left behind";
}

struct BadPnm {
    const char *what;
    std::string bytes;
    const char *headerMessage;
    const char *dataMessage;
};

std::string Padded(const std::string &header, size_t total) { return header + std::string(total - header.size(), 'z'); }

TEST(Pnm, DamagedFilesAreRefusedAndLeaveTheImageEmpty) {
    const BadPnm kBad[] = {
        {"first byte", "X5\n1 1\n255\n\x01", "Invalid file header", nullptr},
        {"magic 4", "P4\n1 1\n\x01", "Unrecognized PPM/PGM format", nullptr},
        {"end of file in header", "P5\n4 ", "Incomplete file", nullptr},
        {"letter for a number", "P5\n4 x 255\n", "Invalid file header (number expected)", nullptr},
        {"maxval 65536", "P5\n1 1\n65536\n\x01\x01", "Invalid maxval in header", nullptr},
        {"no space before data", "P5\n1 1\n255A", "Invalid file format (space expected before data)", nullptr},
        {"end after maxval", "P5\n1 1\n255", "Invalid file format (space expected before data)", nullptr},
        {"zero width", "P5\n0 1\n255\n", "Invalid file header", nullptr},
        {"65535 x 65535 in 100 bytes", Padded("P5\n65535 65535\n255\n", 100), "Invalid file header", nullptr},
        {"number too long", "P5\n99999999999999999999999 1\n255\n\x01", "Invalid file header", nullptr},
        {"30000 x 30000 in 100 bytes", Padded("P5\n30000 30000\n255\n", 100), nullptr, "Incomplete file"},
        {"truncated raster", "P5\n4 2\n255\n12345", nullptr, "Incomplete file"},
        {"truncated 16-bit raster", Padded("P6\n2 2\n65535\n", 13 + 15), nullptr, "Incomplete file"},
        {"truncated text", "P2\n3 3\n255\n1 2", nullptr, "Incomplete file"},
    };
    const std::string dir = nrvtest::TempDir("pnm_bad");
    for (const BadPnm &b : kBad) {
        const std::string path = WriteFile(dir, "bad.pnm", b.bytes);
        CImagePxm im;
        EXPECT_EQ(Str(im.LoadFileHeader(path.c_str(), nullptr)), Str(b.headerMessage)) << b.what;
        if (b.headerMessage) {
            EXPECT_FALSE(im.IsHeaderLoaded()) << b.what;
            EXPECT_EQ(im.meta.GetNItems(), 0) << b.what;
            continue;
        }
        EXPECT_EQ(Str(im.LoadFileData(0)), Str(b.dataMessage)) << b.what;
        EXPECT_FALSE(im.chnl[0].data) << b.what;
    }
    CImagePxm im;
    EXPECT_EQ(Str(im.LoadFileHeader((dir + "/missing.pgm").c_str(), nullptr)), "Error opening file");
    EXPECT_EQ(Str(im.LoadFileData(0)), "File header not loaded");
}

} // namespace
