/* Bayer files of odd width or height (Aptina, plain raw, NRAW): a frame needs only the bytes of its mosaic, the
 * plane cells no mosaic sample reaches hold 0, and an NRV file saved from such an image holds the same planes. */
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "format_test_helpers.h"
#include "image_formats.h"
#include "nrv_test_helpers.h"

namespace {

using fmttest::Planes;
using fmttest::Str;
typedef std::vector<unsigned char> Bytes;

enum Kind { kAptina, kPlainRaw, kNraw };

struct OddCase {
    const char *what;
    Kind kind;
    int width, height;
    SUBS_xxx subs;
    size_t frameBytes; /* the mosaic's bytes in the file */
};

void PrintTo(const OddCase &k, std::ostream *os) { *os << k.what; }

/* Every mosaic sample of the files written here is 1023 (10 bits set). */
const PIXEL kSample = 1023;

/* Writes the case's file holding `bytes` bytes of frame data (cut short or not) and returns the path to load. */
std::string WriteFile(const OddCase &k, const std::string &dir, size_t bytes) {
    const std::string order[] = {"rggb", "grbg", "gbrg", "bggr"};
    Bytes data;
    switch (k.kind) {
    case kAptina: {
        const std::string info =
            "[Raw Image Format]\nIMAGE=" + std::to_string(k.width) + "," + std::to_string(k.height) + ",BAYER-10\n";
        nrvtest::WriteBytes(dir + "/odd_info.txt", Bytes(info.begin(), info.end()));
        data.assign(bytes, 0xFF);
        nrvtest::WriteBytes(dir + "/odd.raw", data);
        return dir + "/odd.raw";
    }
    case kPlainRaw: {
        for (size_t i = 0; i < bytes; ++i)
            data.push_back(i % 2 ? 0x03 : 0xFF);
        const std::string path = dir + "/odd_" + std::to_string(k.width) + "x" + std::to_string(k.height) + "_10bit_" +
                                 order[k.subs - SUBS_RGGB] + ".raw";
        nrvtest::WriteBytes(path, data);
        return path;
    }
    case kNraw: {
        data.assign(1024, 0);
        const int fields[] = {k.width, k.height, 10, 2, k.subs - SUBS_RGGB, 0x0100, 0, 0};
        data[0] = 'N', data[1] = 'R', data[2] = 'A', data[3] = 'W';
        for (int i = 0; i < 8; ++i) {
            data[4 + 2 * i] = static_cast<unsigned char>(fields[i] & 0xFF);
            data[5 + 2 * i] = static_cast<unsigned char>(fields[i] >> 8);
        }
        data.insert(data.end(), bytes, 0xFF);
        nrvtest::WriteBytes(dir + "/odd.nraw", data);
        return dir + "/odd.nraw";
    }
    }
    return std::string();
}

/* Loads the file's header through the case's class. */
std::unique_ptr<CImageBase> LoadHeader(const OddCase &k, const std::string &path) {
    std::unique_ptr<CImageBase> im;
    const char *msg = "no class";
    if (k.kind == kAptina) {
        im.reset(new CImageAptinaRaw);
        msg = im->LoadFileHeader(path.c_str(), nullptr);
    } else if (k.kind == kNraw) {
        im.reset(new CImageNRaw);
        msg = im->LoadFileHeader(path.c_str(), nullptr);
    } else {
        PLRAWLOADFORMAT lf;
        msg = CImagePlRaw::GetLoadFormat(&lf, path.c_str(), nullptr);
        im.reset(new CImagePlRaw);
        if (!msg)
            msg = im->LoadFileHeader(path.c_str(), &lf);
    }
    EXPECT_EQ(Str(msg), "(success)") << k.what;
    return im;
}

/* The planes, channel after channel: the sample at every cell a mosaic position reaches, 0 elsewhere. */
std::vector<long> ExpectedPlanes(const OddCase &k) {
    const int cw = (k.width + 1) / 2, chh = (k.height + 1) / 2;
    std::vector<long> planes(static_cast<size_t>(4 * cw * chh), 0);
    for (int y = 0; y < k.height; ++y)
        for (int x = 0; x < k.width; ++x) {
            const int c = (k.subs - SUBS_RGGB) ^ (2 * (y % 2) + x % 2);
            planes[static_cast<size_t>(c * cw * chh + (y / 2) * cw + x / 2)] = kSample;
        }
    return planes;
}

class OddMosaic : public testing::TestWithParam<OddCase> {};

TEST_P(OddMosaic, LoadsFromItsMosaicBytesWithUnreachedCellsZero) {
    const OddCase &k = GetParam();
    const std::string dir = nrvtest::TempDir(std::string("odd_mosaic_") + fmttest::TestName(k.what));
    {
        std::unique_ptr<CImageBase> im = LoadHeader(k, WriteFile(k, dir, k.frameBytes));
        ASSERT_TRUE(im && im->IsHeaderLoaded());
        ASSERT_EQ(Str(im->LoadFileData(0)), "(success)");
        EXPECT_EQ(Planes(*im), ExpectedPlanes(k));

        /* Saved whole into an NRV file, the planes read back as they are. */
        NRVSAVEFORMAT f;
        ASSERT_EQ(CImageNrv::GetSaveFormat(&f, im.get()), nullptr);
        CImageNrv saver;
        const std::string nrv = dir + "/odd.nrv";
        ASSERT_EQ(Str(saver.SaveSingleFrameImage(nrv.c_str(), &f)), "(success)");
        CImageNrv back;
        ASSERT_EQ(Str(back.LoadFileHeader(nrv.c_str(), nullptr)), "(success)");
        ASSERT_EQ(Str(back.LoadFileData(0)), "(success)");
        EXPECT_EQ(Planes(back), ExpectedPlanes(k));
    }
    {
        /* One byte less holds no frame. */
        std::unique_ptr<CImageBase> im = LoadHeader(k, WriteFile(k, dir, k.frameBytes - 1));
        ASSERT_TRUE(im && im->IsHeaderLoaded());
        EXPECT_EQ(Str(im->LoadFileData(0)), "Error reading frame data");
        EXPECT_FALSE(im->IsDataLoaded());
    }
}

const OddCase kOddCases[] = {
    {"Aptina 7x3", kAptina, 7, 3, SUBS_GRBG, 3 * 9},        {"Aptina 6x3", kAptina, 6, 3, SUBS_GRBG, 3 * 8},
    {"plain raw GBRG 7x5", kPlainRaw, 7, 5, SUBS_GBRG, 70}, {"plain raw RGGB 5x2", kPlainRaw, 5, 2, SUBS_RGGB, 20},
    {"plain raw BGGR 4x3", kPlainRaw, 4, 3, SUBS_BGGR, 24}, {"NRAW BGGR 5x3", kNraw, 5, 3, SUBS_BGGR, 30},
    {"NRAW GRBG 3x4", kNraw, 3, 4, SUBS_GRBG, 24},
};

INSTANTIATE_TEST_SUITE_P(Files, OddMosaic, testing::ValuesIn(kOddCases), fmttest::CaseName<OddCase>);

} // namespace
