/* NRAW captures: numpy-made files of every image type and both header versions load to the expected planes
 * and items (second frames of the packed RGB types included), and damaged headers are refused. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format_test_helpers.h"
#include "image_formats.h"
#include "nrv_test_helpers.h"

namespace {

using fmttest::Str;
typedef std::vector<unsigned char> Bytes;

struct Case {
    CImageNRaw::imageTypesEnum type;
    int w, h, bd, bps, bayer, version;
};

const Case kCases[] = {
    {CImageNRaw::IT_BAYER, 6, 4, 10, 2, 1, 0x0100},  {CImageNRaw::IT_BAYER, 4, 2, 12, 3, 3, 0x0200},
    {CImageNRaw::IT_YUV422, 5, 3, 10, 2, 0, 0x0200}, {CImageNRaw::IT_RGB565, 5, 2, 16, 2, 0, 0x0100},
    {CImageNRaw::IT_RGB444, 3, 2, 4, 1, 0, 0x0200},  {CImageNRaw::IT_RGB888, 4, 2, 8, 1, 0, 0x0100},
};

/* The generator: frame f of each case, with bits above the depth set where the container has room. */
const char *const kGenerator = R"(
import numpy as np, struct, sys
d = sys.argv[1]
for i, item in enumerate(sys.argv[2:]):
    t, w, h, bd, bps, bayer, ver = map(int, item.split(','))
    hd = b'NRAW' + struct.pack('<8H', w, h, bd, bps, bayer, ver, 3 if i == 0 else 0, t) + bytes(12)
    hd += struct.pack('<I', 0x1234 if i == 0 else 0) + (b'1.2' if i == 0 else b'').ljust(14, b'\0')
    hd += b''.ljust(30, b'\0') + (b'CamX' if i == 0 else b'').ljust(32, b'\0')
    hd += struct.pack('<2H4H', 0, 2, *((64, 64, 64, 64) if i == 0 else (0, 0, 0, 0)))
    out = [hd.ljust(1024, b'\0')]
    y, x = np.mgrid[0:h, 0:w].astype(np.int64)
    def samples(v):
        v = v % (1 << bd)
        if bd < 8 * bps:
            v = v + (1 << bd)
        return v.astype('<u8').view(np.uint8).reshape(v.shape + (8,))[..., :bps].tobytes()
    for f in range(2):
        if t == 0:
            out.append(samples(x * 7 + y * 13 + f * 5))
        elif t == 1:
            cy, cx = np.mgrid[0:h, 0:(w + 1) // 2].astype(np.int64)
            out += [samples(x + 2 * y + f), samples(3 * cx + cy + f), samples(cx + 5 * cy + f)]
        elif t == 2:
            out.append(((x * 97 + y * 31 + f * 11) % 65536).astype('<u2').tobytes())
        elif t == 3:
            r, g, b = (x + y + f) % 16, (2 * x + y + f) % 16, (x + 3 * y + f) % 16
            rows = []
            for yy in range(h):
                row = []
                for xx in range(0, w - 1, 2):
                    row += [r[yy, xx] | g[yy, xx] << 4, b[yy, xx] | r[yy, xx + 1] << 4, g[yy, xx + 1] | b[yy, xx + 1] << 4]
                if w % 2:
                    row += [r[yy, w - 1] | g[yy, w - 1] << 4, b[yy, w - 1]]
                rows += row
            out.append(bytes(int(v) for v in rows))
        else:
            out.append(np.stack([(x * 3 + y + f) % 256, (x + y * 5 + f) % 256, (x * 7 + y + f) % 256], -1).astype(np.uint8).tobytes())
    open('%s/c%d.nraw' % (d, i), 'wb').write(b''.join(out))
)";

/* Expected value of channel c at plane position (px, py) of frame f, from the same formulas. */
long Expected(const Case &k, const CImageBase &im, int c, int px, int py, int f) {
    const long m = (1L << k.bd) - 1;
    switch (k.type) {
    case CImageNRaw::IT_BAYER:
        for (int y = 0; y < k.h; ++y)
            for (int x = 0; x < k.w; ++x)
                if (((im.subsMode - SUBS_RGGB) ^ (2 * (y % 2) + x % 2)) == c && x / 2 == px && y / 2 == py)
                    return (x * 7 + y * 13 + f * 5) & m;
        return -1;
    case CImageNRaw::IT_YUV422:
        return (c == 0 ? px + 2 * py : c == 1 ? 3 * px + py : px + 5 * py) + f;
    case CImageNRaw::IT_RGB565: {
        const long w = (px * 97 + py * 31 + f * 11) % 65536;
        return c == 0 ? w & 31 : c == 1 ? (w >> 5) & 63 : w >> 11;
    }
    case CImageNRaw::IT_RGB444:
        return ((c == 0 ? px + py : c == 1 ? 2 * px + py : px + 3 * py) + f) & 15;
    default:
        return ((c == 0 ? px * 3 + py : c == 1 ? px + py * 5 : px * 7 + py) + f) & 255;
    }
}

TEST(NrawOracle, NumpyFilesOfEveryImageTypeLoadToTheirPlanesAndItems) {
    FMT_REQUIRE_PYTHON("numpy");
    const std::string dir = nrvtest::TempDir("nraw_numpy");
    std::string args;
    for (const Case &k : kCases)
        args += " " + std::to_string(k.type) + "," + std::to_string(k.w) + "," + std::to_string(k.h) + "," +
                std::to_string(k.bd) + "," + std::to_string(k.bps) + "," + std::to_string(k.bayer) + "," +
                std::to_string(k.version);
    nrvtest::WriteBytes(dir + "/gen.py", Bytes(kGenerator, kGenerator + std::string(kGenerator).size()));
    ASSERT_EQ(fmttest::Shell(std::string(fmttest::kPython) + " " + dir + "/gen.py " + dir + args), 0);
    const CM_xxx kModels[] = {CM_RGGB, CM_YUV, CM_RGB, CM_RGB, CM_RGB};
    for (size_t i = 0; i < sizeof(kCases) / sizeof(kCases[0]); ++i) {
        const Case &k = kCases[i];
        const std::string path = dir + "/c" + std::to_string(i) + ".nraw";
        EXPECT_TRUE(CImageNRaw::DetectFormat(path.c_str()));
        CImageNRaw im;
        ASSERT_EQ(Str(im.LoadFileHeader(path.c_str(), nullptr)), "(success)") << i;
        EXPECT_EQ(im.colorModel, kModels[k.type]) << i;
        for (int f : {1, 0}) {
            ASSERT_EQ(Str(im.LoadFileData(f)), "(success)") << i << " frame " << f;
            for (int c = 0; c < im.GetNColChannels(); ++c)
                for (int py = 0; py < im.chnl[c].chnlHeight; ++py)
                    for (int px = 0; px < im.chnl[c].chnlWidth; ++px)
                        ASSERT_EQ(im.chnl[c].data[py * im.chnl[c].chnlWidth + px], Expected(k, im, c, px, py, f))
                            << "case " << i << " frame " << f << " channel " << c << " at " << px << "," << py;
        }
        EXPECT_EQ(Str(im.LoadFileData(2)), "Error reading frame data") << i;
        EXPECT_FALSE(im.IsDataLoaded()) << i;
    }
    CImageNRaw im;
    ASSERT_EQ(im.LoadFileHeader((dir + "/c0.nraw").c_str(), nullptr), nullptr);
    EXPECT_EQ(im.subsMode, SUBS_GRBG);
    EXPECT_STREQ(im.meta.GetMetaStr("FW_VERSION", "-"), "1.2");
    EXPECT_STREQ(im.meta.GetMetaStr("CAMERA_MODEL", "-"), "CamX");
    EXPECT_STREQ(im.meta.GetMetaStr("CAMERA_MAKE", "-"), "-");
    EXPECT_STREQ(im.meta.GetMetaStr("OPTICAL_BLACK", "-"), "64 64 64 64");
    EXPECT_EQ(im.meta.GetMetaInt("CHIP_ID", 0, 0, false), 0x1234);
    EXPECT_EQ(im.meta.GetMetaInt("SENSOR_CFG_NUM", 0, 0, false), 3);
    EXPECT_EQ(im.meta.GetMetaInt("NUM_FRAMES", 0, 0, false), 2);
    ASSERT_EQ(im.LoadFileHeader((dir + "/c1.nraw").c_str(), nullptr), nullptr);
    EXPECT_EQ(im.meta.GetNItems(), 1) << "only NUM_FRAMES; the items of the earlier file are gone";
}

Bytes Header(int w, int h, int bd, int bps, int bayer, int version, int type) {
    Bytes b(1024, 0);
    b[0] = 'N', b[1] = 'R', b[2] = 'A', b[3] = 'W';
    const int v[] = {w, h, bd, bps, bayer, version, 0, type};
    for (int i = 0; i < 8; ++i) {
        b[4 + 2 * i] = static_cast<unsigned char>(v[i] & 0xFF);
        b[5 + 2 * i] = static_cast<unsigned char>((v[i] >> 8) & 0xFF);
    }
    return b;
}

Bytes With(Bytes b, const Bytes &data) {
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

TEST(Nraw, SampleVectorsAndDamagedFiles) {
    const std::string dir = nrvtest::TempDir("nraw_bad");
    struct Row {
        const char *what;
        Bytes bytes;
        const char *headerMessage;
        const char *dataMessage;
        std::vector<long> planes; /* channel after channel, for a file that loads */
    };
    Bytes noSig = Header(2, 2, 8, 1, 0, 0x100, 0);
    noSig[0] = 'X';
    const Row kRows[] = {
        {"10-bit 0xFF 0xFF",
         With(Header(2, 2, 10, 2, 0, 0x100, 0), Bytes(8, 0xFF)),
         nullptr,
         nullptr,
         {0x3FF, 0x3FF, 0x3FF, 0x3FF}},
        {"Bayer type 65535 is RGGB",
         With(Header(2, 2, 8, 1, 65535, 0x100, 0), {1, 2, 3, 4}),
         nullptr,
         nullptr,
         {1, 2, 3, 4}},
        {"RGB565 0xF800", With(Header(1, 1, 16, 2, 0, 0x200, 2), {0x00, 0xF8}), nullptr, nullptr, {0, 0, 31}},
        {"RGB444 row of three pixels in five bytes",
         With(Header(3, 1, 4, 1, 0, 0x200, 3), {0x21, 0x43, 0x65, 0x87, 0x09}),
         nullptr,
         nullptr,
         {1, 4, 7, 2, 5, 8, 3, 6, 9}},
        {"short header", Bytes(100, 'N'), "Error loading header", nullptr, {}},
        {"signature", noSig, "Invalid NRAW file header", nullptr, {}},
        {"version 0x0300", Header(2, 2, 8, 1, 0, 0x300, 0), "Unsupported header version", nullptr, {}},
        {"0 bytes per sample",
         Header(2, 2, 8, 0, 0, 0x100, 0),
         "Unsupported bit depth - above 31-bit signed",
         nullptr,
         {}},
        {"5 bytes per sample",
         Header(2, 2, 8, 5, 0, 0x100, 0),
         "Unsupported bit depth - above 31-bit signed",
         nullptr,
         {}},
        {"depth 32", Header(2, 2, 32, 4, 0, 0x100, 0), "Unsupported bit depth - above 31-bit signed", nullptr, {}},
        {"Bayer type 4", Header(2, 2, 8, 1, 4, 0x100, 0), "Unsupported bayer type", nullptr, {}},
        {"image type 5", Header(2, 2, 8, 1, 0, 0x100, 5), "Unsupported image type", nullptr, {}},
        {"65535 x 65535", Header(65535, 65535, 16, 4, 0, 0x100, 0), "Invalid NRAW file header", nullptr, {}},
        {"zero width", Header(0, 2, 8, 1, 0, 0x100, 0), "Invalid NRAW file header", nullptr, {}},
        {"30000 x 30000 with no frame",
         Header(30000, 30000, 16, 4, 0, 0x100, 0),
         nullptr,
         "Error reading frame data",
         {}},
        {"frame cut short", With(Header(2, 2, 8, 1, 0, 0x100, 0), {1, 2, 3}), nullptr, "Error reading frame data", {}},
    };
    for (const Row &r : kRows) {
        const std::string path = dir + "/f.nraw";
        nrvtest::WriteBytes(path, r.bytes);
        CImageNRaw im;
        EXPECT_EQ(Str(im.LoadFileHeader(path.c_str(), nullptr)), Str(r.headerMessage)) << r.what;
        if (r.headerMessage) {
            EXPECT_FALSE(im.IsHeaderLoaded()) << r.what;
            continue;
        }
        EXPECT_EQ(Str(im.LoadFileData(0)), Str(r.dataMessage)) << r.what;
        if (r.dataMessage) {
            EXPECT_FALSE(im.chnl[0].data) << r.what;
            continue;
        }
        std::vector<long> planes;
        for (int c = 0; c < im.GetNColChannels(); ++c)
            planes.insert(planes.end(), im.chnl[c].data,
                          im.chnl[c].data + im.chnl[c].chnlWidth * im.chnl[c].chnlHeight);
        EXPECT_EQ(planes, r.planes) << r.what;
    }
    const std::string two = dir + "/two";
    nrvtest::WriteBytes(two, {'N', 'R'});
    EXPECT_FALSE(CImageNRaw::DetectFormat(two.c_str()));
    CImageNRaw im;
    EXPECT_EQ(Str(im.SaveFileStart(two.c_str(), nullptr, nullptr)), "Not supported");
    EXPECT_EQ(Str(im.LoadFileData(0)), "File header not loaded");
}

} // namespace
