/* Bitmaps: files made by netpbm, Pillow and ImageMagick decode to what bmptopnm gives, the library's 24-bit
 * output reads identically in all three, run-length vectors and the header, palette and stream faults. */
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "format_test_helpers.h"
#include "image_formats.h"
#include "nrv_test_helpers.h"
#include "support/same_members.h"

namespace {

using fmttest::Str;
typedef std::vector<unsigned char> Bytes;

void Put32(Bytes &b, size_t at, long v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>((static_cast<unsigned long>(v) >> (8 * i)) & 0xFF);
}

struct BmpLayout {
    long width = 4, height = 2;
    int bits = 8;
    long compression = 0;
    long headerSize = 40;
    int planes = 1;
    long clrUsed = -1; /* -1: the palette's entry count */
    std::vector<unsigned> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080}; /* 0xRRGGBB */
};

/* A bitmap file of a 14-byte file header, an info header of layout.headerSize bytes, the palette and the data. */
Bytes MakeBmp(const BmpLayout &s, const Bytes &data) {
    const size_t pal = s.bits < 24 ? s.palette.size() * 4 : 0;
    const size_t info = static_cast<size_t>(s.headerSize < 40 ? 40 : s.headerSize);
    Bytes b(14 + info + pal, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, long(b.size() + data.size()));
    Put32(b, 10, long(b.size()));
    Put32(b, 14, s.headerSize);
    Put32(b, 18, s.width);
    Put32(b, 22, s.height);
    b[26] = static_cast<unsigned char>(s.planes);
    b[28] = static_cast<unsigned char>(s.bits);
    Put32(b, 30, s.compression);
    Put32(b, 46, s.clrUsed < 0 ? long(s.palette.size()) : s.clrUsed);
    for (size_t i = 0; s.bits < 24 && i < s.palette.size(); ++i) {
        b[14 + info + 4 * i] = s.palette[i] & 0xFF;
        b[14 + info + 4 * i + 1] = (s.palette[i] >> 8) & 0xFF;
        b[14 + info + 4 * i + 2] = (s.palette[i] >> 16) & 0xFF;
    }
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

/* Palette indexes of the decoded image, one per pixel in image order (top row first). */
std::vector<int> Indexes(const CImageBase &im, const BmpLayout &s) {
    std::vector<int> out;
    for (long i = 0; i < long(im.width) * im.height; ++i) {
        const unsigned rgb =
            unsigned(im.chnl[0].data[i]) << 16 | unsigned(im.chnl[1].data[i]) << 8 | unsigned(im.chnl[2].data[i]);
        int idx = -1;
        for (size_t k = 0; k < s.palette.size() && idx < 0; ++k)
            if (s.palette[k] == rgb)
                idx = int(k);
        out.push_back(idx);
    }
    return out;
}

std::vector<long> PamValues(const std::string &cmd) {
    std::string text;
    std::vector<long> v;
    if (fmttest::Shell(cmd + " | pamtable | tr '|' ' '", &text) != 0)
        return v;
    std::istringstream in(text);
    for (long x; in >> x;)
        v.push_back(x);
    return v;
}

/* Loads a bitmap and returns its samples, or the failure message as the only element's text. */
std::vector<long> LoadBmp(const std::string &path, std::string *msg) {
    CImageBmp im;
    *msg = Str(im.LoadFileHeader(path.c_str(), nullptr));
    if (*msg == "(success)")
        *msg = Str(im.LoadFileData(0));
    return *msg == "(success)" ? fmttest::Interleaved(im) : std::vector<long>();
}

TEST(BmpOracle, PublicToolFilesDecodeToWhatBmptopnmGives) {
    FMT_REQUIRE_TOOL("ppmtobmp");
    FMT_REQUIRE_TOOL("convert-im6.q16");
    FMT_REQUIRE_PYTHON("PIL");
    const std::string dir = nrvtest::TempDir("bmp_tools");
    const std::string py = std::string(fmttest::kPython) + " -c \"import sys\nfrom PIL import Image\n" +
                           "im=Image.open(sys.argv[1])\nim.convert(sys.argv[3]).save(sys.argv[2])\" ";
    ASSERT_EQ(fmttest::Shell("ppmpat -g2 13 7 > " + dir +
                             "/g.ppm && pgmramp -lr 13 7 | pamdepth 1 | pgmtoppm white > " + dir +
                             "/bw.ppm && convert-im6.q16 rose: " + dir + "/rose.ppm"),
              0);
    const std::string kMakers[][2] = {
        {"ppmtobmp -bpp 1 bw.ppm", "p1.bmp"},
        {"ppmtobmp -bpp 4 g.ppm", "p4.bmp"},
        {"ppmtobmp -bpp 8 g.ppm", "p8.bmp"},
        {"ppmtobmp -bpp 24 g.ppm", "p24.bmp"},
        {py + "bw.ppm pil1.bmp 1 && cat pil1.bmp", "pil1.bmp"},
        {py + "rose.ppm pilp.bmp P && cat pilp.bmp", "pilp.bmp"},
        {py + "rose.ppm pil24.bmp RGB && cat pil24.bmp", "pil24.bmp"},
        {"convert-im6.q16 rose: BMP3:-", "im3.bmp"},
        {"convert-im6.q16 rose: bmp:-", "im5.bmp"},
        {"convert-im6.q16 rose: -colors 16 -compress RLE BMP3:-", "imrle8.bmp"},
        {"convert-im6.q16 rose: -colors 200 -compress RLE bmp:-", "imrle8v5.bmp"},
    };
    for (const auto &m : kMakers) {
        const std::string path = dir + "/" + m[1];
        ASSERT_EQ(fmttest::Shell("cd " + dir + " && (" + m[0] + ") > " + m[1] + ".tmp 2>/dev/null && mv " + m[1] +
                                 ".tmp " + m[1]),
                  0)
            << m[0];
        /* ImageMagick pads every run-length row to a multiple of four pixels, which netpbm 11 refuses; Pillow
         * and ImageMagick drop the padding pixels and agree, so they decode those files instead. */
        const bool rle = std::string(m[1]).rfind("imrle", 0) == 0;
        const std::vector<long> expected =
            PamValues(rle ? "convert-im6.q16 " + path + " ppm:-" : "bmptopnm " + path + " 2>/dev/null | ppmtoppm");
        if (rle) {
            EXPECT_EQ(expected, PamValues(std::string(fmttest::kPython) +
                                          " -c \"import sys\nfrom PIL import Image\nImage.open(sys.argv[1])" +
                                          ".convert('RGB').save(sys.stdout.buffer, 'PPM')\" " + path));
        }
        ASSERT_FALSE(expected.empty()) << m[1];
        std::string msg;
        EXPECT_EQ(LoadBmp(path, &msg), expected) << m[1];
        EXPECT_EQ(msg, "(success)") << m[1];
    }
    std::string info;
    fmttest::Shell("identify-im6.q16 -verbose " + dir + "/imrle8.bmp | grep -c 'Compression: RLE'", &info);
    EXPECT_EQ(info, "1\n") << "ImageMagick wrote run-length data";
}

TEST(BmpOracle, HandMadeRunLengthStreamsDecodeLikePublicTools) {
    FMT_REQUIRE_TOOL("bmptopnm");
    FMT_REQUIRE_TOOL("convert-im6.q16");
    const std::string dir = nrvtest::TempDir("bmp_handmade");
    BmpLayout rle4;
    rle4.width = 6;
    rle4.bits = 4;
    rle4.compression = 2;
    const std::string rle4Path = dir + "/rle4.bmp";
    nrvtest::WriteBytes(rle4Path, MakeBmp(rle4, {5, 0x12, 1, 0x30, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 1, 0x10, 0, 1}));
    std::string msg;
    EXPECT_EQ(LoadBmp(rle4Path, &msg), PamValues("bmptopnm " + rle4Path + " 2>/dev/null"));
    /* netpbm does not take delta codes; ImageMagick does. */
    BmpLayout delta;
    delta.width = delta.height = 3;
    delta.compression = 1;
    const std::string deltaPath = dir + "/delta.bmp";
    nrvtest::WriteBytes(deltaPath, MakeBmp(delta, {1, 1, 0, 2, 1, 1, 1, 2, 0, 0, 2, 3, 0, 1}));
    EXPECT_EQ(LoadBmp(deltaPath, &msg), PamValues("convert-im6.q16 " + deltaPath + " ppm:- 2>/dev/null"));
    /* Runs carried past the end of a row, with and without an end-of-line code behind them. */
    struct Carried {
        long width, height;
        Bytes data;
    };
    const Carried kCarried[] = {
        {4, 2, {6, 5, 0, 0, 0, 1}},
        {5, 2, {7, 5, 0, 0, 1, 4, 0, 1}},
        {5, 2, {9, 5, 0, 0, 1, 4, 0, 1}},
        {5, 3, {0, 9, 1, 2, 3, 4, 1, 2, 3, 4, 5, 0, 0, 0, 0, 1}},
        {3, 3, {1, 1, 0, 2, 4, 0, 1, 2, 0, 1}},
    };
    for (const Carried &c : kCarried) {
        BmpLayout s;
        s.width = c.width;
        s.height = c.height;
        s.compression = 1;
        const std::string path = dir + "/carried.bmp";
        nrvtest::WriteBytes(path, MakeBmp(s, c.data));
        const std::vector<long> expected = PamValues("convert-im6.q16 " + path + " ppm:- 2>/dev/null");
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(LoadBmp(path, &msg), expected) << c.width << "x" << c.height << " " << testing::PrintToString(c.data);
    }
}

TEST(BmpOracle, LibraryOutputReadsIdenticallyInPublicTools) {
    FMT_REQUIRE_TOOL("bmptopnm");
    FMT_REQUIRE_TOOL("convert-im6.q16");
    FMT_REQUIRE_PYTHON("PIL");
    const std::string dir = nrvtest::TempDir("bmp_written");
    CImageBmp im;
    ASSERT_TRUE(im.CreateNewImage(13, 5, CM_RGB, SUBS_UNDEF, nullptr, nullptr));
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 13 * 5; ++i)
            im.chnl[c].data[i] = (i * 37 + c * 101) % 256;
    const std::string path = dir + "/out.bmp";
    ASSERT_EQ(Str(im.SaveSingleFrameImage(path.c_str(), nullptr)), "(success)");
    const std::vector<long> ours = fmttest::Interleaved(im);
    EXPECT_EQ(PamValues("bmptopnm " + path + " 2>/dev/null"), ours);
    EXPECT_EQ(PamValues("convert-im6.q16 " + path + " ppm:-"), ours);
    EXPECT_EQ(PamValues(std::string(fmttest::kPython) +
                        " -c \"import sys\nfrom PIL import Image\nImage.open(sys.argv[1]).save(sys.stdout.buffer, " +
                        "'PPM')\" " + path),
              ours);
}

TEST(Bmp, RowsPalettesAndRunLengthVectors) {
    struct Vector {
        const char *what;
        BmpLayout layout;
        Bytes data;
        std::vector<int> indexes; /* image order, top row first */
    };
    auto layout = [](long w, long h, int bits, long compression) {
        BmpLayout s;
        s.width = w;
        s.height = h;
        s.bits = bits;
        s.compression = compression;
        return s;
    };
    BmpLayout sixteen = layout(2, 1, 4, 0);
    sixteen.palette.resize(16, 0x010101);
    sixteen.palette[15] = 0xABCDEF;
    sixteen.clrUsed = 0;
    BmpLayout topDown = layout(2, -2, 8, 0);
    BmpLayout shortPalette = layout(2, 1, 4, 0);
    shortPalette.palette.resize(2);
    const Vector kVectors[] = {
        {"1-bit 0x80", layout(8, 1, 1, 0), {0x80, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0, 0}},
        {"8-bit rows bottom first", layout(2, 2, 8, 0), {1, 2, 0, 0, 3, 4, 0, 0}, {3, 4, 1, 2}},
        {"8-bit rows top first", topDown, {1, 2, 0, 0, 3, 4, 0, 0}, {1, 2, 3, 4}},
        {"4-bit, 16 entries when none are counted", sixteen, {0xF1, 0, 0, 0}, {15, 1}},
        {"index past a short palette reads entry 0", shortPalette, {0x15, 0, 0, 0}, {1, 0}},
        {"RLE8 run, end of line", layout(4, 2, 8, 1), {3, 5, 0, 0, 0, 1}, {0, 0, 0, 0, 5, 5, 5, 0}},
        {"RLE4 run", layout(6, 1, 4, 2), {5, 0x12, 0, 1}, {1, 2, 1, 2, 1, 0}},
        {"RLE8 absolute 3 + pad", layout(4, 1, 8, 1), {0, 3, 1, 2, 3, 0, 1, 4, 0, 1}, {1, 2, 3, 4}},
        {"RLE4 absolute 5 + pad", layout(6, 1, 4, 2), {0, 5, 0x12, 0x34, 0x50, 0, 1, 0x10, 0, 1}, {1, 2, 3, 4, 5, 1}},
        {"RLE4 absolute 4, no pad", layout(5, 1, 4, 2), {0, 4, 0x12, 0x34, 1, 0x50, 0, 1}, {1, 2, 3, 4, 5}},
        /* A run that passes the end of a row goes on at the start of the next row; an end-of-line code then
         * starts that row at its first pixel, so padding pixels a writer adds to a row are overwritten. */
        {"RLE8 run carried into the next row", layout(4, 2, 8, 1), {6, 5, 0, 0, 0, 1}, {5, 5, 0, 0, 5, 5, 5, 5}},
        {"RLE8 runs go on across rows", layout(4, 2, 8, 1), {6, 5, 2, 3, 0, 1}, {5, 5, 3, 3, 5, 5, 5, 5}},
        {"RLE8 run passing the row end, then end of line", layout(2, 2, 8, 1), {3, 4, 0, 0, 1, 5, 0, 1}, {5, 0, 4, 4}},
        {"RLE8 carried run partly overwritten",
         layout(5, 2, 8, 1),
         {7, 5, 0, 0, 1, 4, 0, 1},
         {4, 5, 0, 0, 0, 5, 5, 5, 5, 5}},
        {"RLE8 end of line fills what a carried run wrote",
         layout(4, 2, 8, 1),
         {6, 5, 0, 0, 1, 3, 0, 0, 0, 1},
         {3, 0, 0, 0, 5, 5, 5, 5}},
        {"RLE8 delta over what a carried run wrote",
         layout(4, 2, 8, 1),
         {6, 5, 0, 0, 0, 2, 1, 0, 1, 3, 0, 1},
         {0, 3, 0, 0, 5, 5, 5, 5}},
        {"RLE8 absolute run carried into the next row",
         layout(3, 2, 8, 1),
         {0, 4, 1, 2, 3, 4, 0, 1},
         {4, 0, 0, 1, 2, 3}},
        {"RLE4 run carried into the next row", layout(3, 2, 4, 2), {5, 0x12, 0, 1}, {2, 1, 0, 1, 2, 1}},
        {"RLE8 run carried, rows top first", layout(4, -2, 8, 1), {6, 5, 0, 1}, {5, 5, 5, 5, 5, 5, 0, 0}},
        {"RLE8 absolute run passing the end of the image", layout(2, 1, 8, 1), {0, 3, 1, 2, 3, 0, 0, 1}, {1, 2}},
        {"RLE8 run passing the end of the image", layout(2, 2, 8, 1), {9, 1, 0, 1}, {1, 1, 1, 1}},
        {"RLE8 delta", layout(3, 3, 8, 1), {1, 1, 0, 2, 1, 1, 1, 2, 0, 0, 2, 3, 0, 1}, {3, 3, 0, 0, 0, 2, 1, 0, 0}},
        {"RLE8 with a 4-bit palette index past it", layout(2, 1, 4, 1), {1, 200, 1, 1, 0, 1}, {0, 1}},
    };
    const std::string dir = nrvtest::TempDir("bmp_vectors");
    for (const Vector &v : kVectors) {
        const std::string path = dir + "/v.bmp";
        nrvtest::WriteBytes(path, MakeBmp(v.layout, v.data));
        CImageBmp im;
        ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), nullptr)), "(success)") << v.what;
        ASSERT_EQ(Str(im.LoadFileData(0)), "(success)") << v.what;
        EXPECT_EQ(Indexes(im, v.layout), v.indexes) << v.what;
        if (v.layout.bits < 24) {
            EXPECT_EQ(Str(im.LoadFileData(0)), "Palette not loaded") << v.what;
            EXPECT_TRUE(im.IsDataLoaded()) << v.what;
        }
    }
    {
        /* 24-bit: blue, green, red per pixel, rows padded to four bytes. */
        BmpLayout s = layout(3, 2, 24, 0);
        Bytes data(24, 0);
        data[0] = 1;  /* bottom row, pixel 0, blue */
        data[11] = 9; /* padding */
        data[14] = 7; /* top row, pixel 0, red */
        const std::string path = dir + "/24.bmp";
        nrvtest::WriteBytes(path, MakeBmp(s, data));
        std::string msg;
        const std::vector<long> v = LoadBmp(path, &msg);
        ASSERT_EQ(msg, "(success)");
        EXPECT_EQ(v[0], 7);
        EXPECT_EQ(v[3 * 3 + 2], 1);
    }
    {
        /* The library's file for a 3x2 image: rows of 9 pixel bytes and 3 padding bytes, bottom row first. */
        CImageBmp im;
        const PIXEL colour[3] = {10, 20, 30};
        ASSERT_TRUE(im.CreateNewImage(3, 2, CM_RGB, SUBS_UNDEF, nullptr, colour));
        im.chnl[0].data[0] = 99;
        const std::string path = dir + "/w.bmp";
        ASSERT_EQ(Str(im.SaveSingleFrameImage(path.c_str(), nullptr)), "(success)");
        const Bytes b = nrvtest::ReadBytes(path);
        ASSERT_EQ(b.size(), 54u + 24u);
        EXPECT_EQ(Bytes(b.begin() + 54, b.begin() + 66), (Bytes{30, 20, 10, 30, 20, 10, 30, 20, 10, 0, 0, 0}));
        EXPECT_EQ(b[66 + 2], 99);
    }
}

/* The members of both header records, for comparing them with the bytes of a file. */
std::string DifferentHeaders(const CImageBmp::BMPFILEHEAD &a, const CImageBmp::BMPFILEHEAD &b) {
    typedef CImageBmp::BMPFILEHEAD F;
    return norva_test::DifferentMembers(a, b,
                                        {NORVA_MEMBER(F, wType), NORVA_MEMBER(F, dwSize), NORVA_MEMBER(F, wRes1),
                                         NORVA_MEMBER(F, wRes2), NORVA_MEMBER(F, dwOffBits)});
}
std::string DifferentHeaders(const CImageBmp::BMPINFOHEAD &a, const CImageBmp::BMPINFOHEAD &b) {
    typedef CImageBmp::BMPINFOHEAD I;
    return norva_test::DifferentMembers(a, b,
                                        {NORVA_MEMBER(I, dwSize), NORVA_MEMBER(I, dwWidth), NORVA_MEMBER(I, dwHeight),
                                         NORVA_MEMBER(I, wPlanes), NORVA_MEMBER(I, wBitCount),
                                         NORVA_MEMBER(I, dwCompression), NORVA_MEMBER(I, dwSizeImage),
                                         NORVA_MEMBER(I, dwXPelsPerMeter), NORVA_MEMBER(I, dwYPelsPerMeter),
                                         NORVA_MEMBER(I, dwClrUsed), NORVA_MEMBER(I, dwClrImportant)});
}

/* The header records are the file's own 14 and 40 bytes: read field by field they hold what the bytes say, and
 * on a little-endian host the bytes copied into the records give the same members. */
TEST(Bmp, HeaderRecordsHoldTheFileFields) {
    BmpLayout s;
    s.width = 3;
    s.height = -2;
    Bytes file = MakeBmp(s, Bytes(8, 1));
    file[6] = 0x34, file[7] = 0x12; /* wRes1 */
    file[8] = 0x78, file[9] = 0x56; /* wRes2 */
    Put32(file, 34, 8);             /* dwSizeImage */
    Put32(file, 38, 0x01020304);    /* dwXPelsPerMeter */
    Put32(file, 42, 2835);          /* dwYPelsPerMeter */
    Put32(file, 50, 3);             /* dwClrImportant */
    const std::string dir = nrvtest::TempDir("bmp_headers");
    const std::string path = dir + "/h.bmp";
    nrvtest::WriteBytes(path, file);
    CImageBmp im;
    ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), nullptr)), "(success)");
    EXPECT_EQ(QOR_UINT32(im.fhdr.wType), 0x4D42u);
    EXPECT_EQ(QOR_UINT32(im.fhdr.dwSize), file.size());
    EXPECT_EQ(QOR_UINT32(im.fhdr.wRes1), 0x1234u);
    EXPECT_EQ(QOR_UINT32(im.fhdr.wRes2), 0x5678u);
    EXPECT_EQ(QOR_UINT32(im.fhdr.dwOffBits), 14u + 40u + 6u * 4u);
    EXPECT_EQ(im.ihdr.dwSize, 40u);
    EXPECT_EQ(im.ihdr.dwWidth, 3);
    EXPECT_EQ(im.ihdr.dwHeight, -2);
    EXPECT_EQ(im.ihdr.wPlanes, 1);
    EXPECT_EQ(im.ihdr.wBitCount, 8);
    EXPECT_EQ(im.ihdr.dwCompression, 0u);
    EXPECT_EQ(im.ihdr.dwSizeImage, 8u);
    EXPECT_EQ(im.ihdr.dwXPelsPerMeter, 0x01020304);
    EXPECT_EQ(im.ihdr.dwYPelsPerMeter, 2835);
    EXPECT_EQ(im.ihdr.dwClrUsed, 6u);
    EXPECT_EQ(im.ihdr.dwClrImportant, 3u);

    /* What the writer leaves in the records is what it wrote. */
    ASSERT_EQ(Str(im.LoadFileData(0)), "(success)");
    const std::string out = dir + "/w.bmp";
    ASSERT_EQ(Str(im.SaveSingleFrameImage(out.c_str(), nullptr)), "(success)");
    const Bytes written = nrvtest::ReadBytes(out);
    EXPECT_EQ(QOR_UINT32(im.fhdr.dwSize), written.size());
    EXPECT_EQ(im.ihdr.dwSizeImage, 2u * 12u);
    EXPECT_EQ(im.ihdr.dwHeight, 2);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (const Bytes *bytes : {static_cast<const Bytes *>(&file), &written}) {
        CImageBmp::BMPFILEHEAD f;
        CImageBmp::BMPINFOHEAD i;
        std::memcpy(&f, bytes->data(), sizeof(f));
        std::memcpy(&i, bytes->data() + sizeof(f), sizeof(i));
        CImageBmp back;
        const std::string p = dir + "/back.bmp";
        nrvtest::WriteBytes(p, *bytes);
        ASSERT_EQ(Str(back.LoadFileHeader(p.c_str(), nullptr)), "(success)");
        EXPECT_EQ(DifferentHeaders(f, back.fhdr), "");
        EXPECT_EQ(DifferentHeaders(i, back.ihdr), "");
    }
#endif
}

TEST(Bmp, SavedValuesMapEachChannelRangeOntoBytes) {
    struct Case {
        CM_xxx model;
        QOR_INT8 depth;
        PIXEL sample;
        int byte;
    };
    const Case kCases[] = {
        {CM_GRAY, 12, 4095, 255}, {CM_GRAY, 12, 0, 0},   {CM_RGB, -8, -128, 1},
        {CM_RGB, -8, 0, 128},     {CM_RGB, 8, 300, 255}, {CM_RGBA, 16, 32768, 127},
    };
    const std::string dir = nrvtest::TempDir("bmp_map");
    for (const Case &k : kCases) {
        CImageBase im;
        const QOR_INT8 d[4] = {k.depth, k.depth, k.depth, k.depth};
        const PIXEL v[4] = {k.sample, k.sample, k.sample, k.sample};
        ASSERT_TRUE(im.CreateNewImage(1, 1, k.model, SUBS_UNDEF, d, v));
        BMPSAVEFORMAT sf;
        ASSERT_EQ(CImageBmp::GetSaveFormat(&sf, &im), nullptr);
        CImageBmp bmp;
        bmp.SwapWith(&im);
        const std::string path = dir + "/m.bmp";
        ASSERT_EQ(Str(bmp.SaveSingleFrameImage(path.c_str(), &sf)), "(success)");
        const Bytes b = nrvtest::ReadBytes(path);
        ASSERT_EQ(b.size(), 58u);
        EXPECT_EQ(Bytes(b.begin() + 54, b.begin() + 57), Bytes(3, static_cast<unsigned char>(k.byte)))
            << k.model << " " << int(k.depth) << " " << k.sample;
    }
    CImageBase yuv;
    ASSERT_TRUE(yuv.CreateNewImage(2, 2, CM_YUV, SUBS_444, nullptr, nullptr));
    BMPSAVEFORMAT sf;
    EXPECT_EQ(Str(CImageBmp::GetSaveFormat(&sf, &yuv)), "Unsupported color model");
}

/* Run-length codes of 255 pixels each, cut after the given number of bytes. */
Bytes RunsWithoutEnd(size_t bytes) {
    Bytes b;
    while (b.size() < bytes)
        b.push_back(b.size() % 2 ? 1 : 255);
    return b;
}

TEST(Bmp, DamagedFilesAreRefusedAndLeaveNoPlanes) {
    struct Bad {
        const char *what;
        Bytes bytes;
        const char *headerMessage;
        const char *dataMessage;
    };
    auto with = [](void (*edit)(BmpLayout &), const Bytes &data) {
        BmpLayout s;
        edit(s);
        return MakeBmp(s, data);
    };
    const Bytes rows(8, 1);
    Bytes wrongType = MakeBmp(BmpLayout(), rows);
    wrongType[0] = 'X';
    const Bytes full = MakeBmp(BmpLayout(), rows);
    const Bad kBad[] = {
        {"short file header", Bytes(full.begin(), full.begin() + 10), "Error reading file header", nullptr},
        {"wrong type", wrongType, "Invalid file header", nullptr},
        {"short info header", Bytes(full.begin(), full.begin() + 30), "Error reading info header", nullptr},
        {"12-byte info header", with([](BmpLayout &s) { s.headerSize = 12; }, rows), "Invalid file header", nullptr},
        {"two planes", with([](BmpLayout &s) { s.planes = 2; }, rows), "Unsupported plane format", nullptr},
        {"16 bits", with([](BmpLayout &s) { s.bits = 16; }, rows), "Unsupported bit depth", nullptr},
        {"32 bits", with([](BmpLayout &s) { s.bits = 32; }, rows), "Unsupported bit depth", nullptr},
        {"zero width", with([](BmpLayout &s) { s.width = 0; }, rows), "Invalid file header", nullptr},
        {"65535 x 65535", with([](BmpLayout &s) { s.width = s.height = 65535; }, Bytes(40, 0)), "Invalid file header",
         nullptr},
        {"short palette", Bytes(full.begin(), full.begin() + 60), "Error reading palette", nullptr},
        {"huge colour count", with([](BmpLayout &s) { s.clrUsed = 0xFFFFFFFFL; }, rows), "Error reading palette",
         nullptr},
        {"compression 3", with([](BmpLayout &s) { s.compression = 3; }, rows), nullptr, "Unsupported compression"},
        {"run-length 24 bits", with([](BmpLayout &s) { s.bits = 24, s.compression = 1; }, rows), nullptr,
         "Unsupported compression"},
        {"30000 x 30000 24-bit in 100 bytes", with([](BmpLayout &s) { s.width = s.height = 30000, s.bits = 24; }, rows),
         nullptr, "Error reading image data (3)"},
        {"8192 x 8192 run-length in 100 bytes",
         with([](BmpLayout &s) { s.width = s.height = 8192, s.compression = 1; }, Bytes{0, 1}), nullptr,
         "Error reading image data (5)"},
        {"short rows", with([](BmpLayout &) {}, Bytes(5, 1)), nullptr, "Error reading image data (1)"},
        {"no end of bitmap", with([](BmpLayout &s) { s.compression = 1; }, Bytes{2, 1, 0, 0}), nullptr,
         "Error reading image data (5)"},
        /* The codes are checked before the planes of a large image are sized and filled. */
        {"27649 x 248 run-length in 115 bytes, no end of bitmap",
         with([](BmpLayout &s) { s.width = 27649, s.height = 248, s.compression = 1; }, RunsWithoutEnd(37)), nullptr,
         "Error reading image data (5)"},
        {"4096 x 4096 run-length in 115 bytes, no end of bitmap",
         with([](BmpLayout &s) { s.width = s.height = 4096, s.compression = 1; }, RunsWithoutEnd(37)), nullptr,
         "Error reading image data (5)"},
        {"cut delta", with([](BmpLayout &s) { s.compression = 1; }, Bytes{0, 2, 1}), nullptr,
         "Error reading image data (6)"},
        {"cut absolute run", with([](BmpLayout &s) { s.compression = 1; }, Bytes{0, 4, 1, 2}), nullptr,
         "Error reading image data (7)"},
        {"missing pad byte", with([](BmpLayout &s) { s.compression = 1; }, Bytes{0, 3, 1, 2, 3}), nullptr,
         "Error reading image data (8)"},
        /* Width 0 would keep a delta code from ever reducing its column; refused before any decoding. */
        {"run-length width 0", with([](BmpLayout &s) { s.width = 0, s.compression = 1; }, Bytes{0, 2, 5, 5, 0, 1}),
         "Invalid file header", nullptr},
    };
    const std::string dir = nrvtest::TempDir("bmp_bad");
    for (const Bad &b : kBad) {
        const std::string path = dir + "/bad.bmp";
        nrvtest::WriteBytes(path, b.bytes);
        const auto start = std::chrono::steady_clock::now();
        CImageBmp im;
        EXPECT_EQ(Str(im.LoadFileHeader(path.c_str(), nullptr)), Str(b.headerMessage)) << b.what;
        if (b.headerMessage) {
            EXPECT_FALSE(im.IsHeaderLoaded()) << b.what;
            EXPECT_EQ(im.pPalette, nullptr) << b.what;
            continue;
        }
        EXPECT_EQ(Str(im.LoadFileData(0)), Str(b.dataMessage)) << b.what;
        EXPECT_FALSE(im.chnl[0].data) << b.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << b.what;
    }
    CImageBmp im;
    EXPECT_EQ(Str(im.LoadFileHeader((dir + "/missing.bmp").c_str(), nullptr)), "Error opening file");
    EXPECT_EQ(Str(im.LoadFileData(0)), "Header not loaded");
}

} // namespace
