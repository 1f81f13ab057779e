/* Multi-frame Bayer files (plain raw, NRAW) of odd and even sizes: frames lie width x height samples apart, as the
 * plain raw writer puts them and as cameras write NRAW files, and every frame of every depth reads back equal. */
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

const int kFrames = 3;

struct FramesCase {
    const char *what;
    bool nraw; /* else plain raw, written by the library */
    int width, height;
    SUBS_xxx subs;
};

void PrintTo(const FramesCase &k, std::ostream *os) { *os << k.what; }

/** The mosaic sample at (x, y) of frame f, within `depth` bits. */
QOR_UINT32 Sample(int f, int x, int y, int depth) {
    const QOR_UINT32 v = 0x9E3779B1u * static_cast<QOR_UINT32>(f * 7919 + y * 131 + x + 1);
    return depth >= 32 ? v : v & ((1u << depth) - 1);
}

/** The planes the frame loads to: each mosaic sample at its cell, 0 in cells no sample reaches. */
std::vector<long> ExpectedPlanes(const FramesCase &k, int f, int depth) {
    const int cw = (k.width + 1) / 2, chh = (k.height + 1) / 2;
    std::vector<long> planes(static_cast<size_t>(4 * cw * chh), 0);
    for (int y = 0; y < k.height; ++y)
        for (int x = 0; x < k.width; ++x) {
            const int c = (k.subs - SUBS_RGGB) ^ (2 * (y % 2) + x % 2);
            planes[static_cast<size_t>(c * cw * chh + (y / 2) * cw + x / 2)] = Sample(f, x, y, depth);
        }
    return planes;
}

/** Writes kFrames frames through the plain raw writer; the path names the geometry for the reader. */
std::string WritePlainRaw(const FramesCase &k, int depth, const std::string &dir) {
    static const char *const kOrders[] = {"rggb", "grbg", "gbrg", "bggr"};
    const std::string path = dir + "/f_" + std::to_string(k.width) + "x" + std::to_string(k.height) + "_" +
                             std::to_string(depth) + "bit_" + kOrders[k.subs - SUBS_RGGB] + ".raw";
    CImagePlRaw im;
    const QOR_INT8 depths[4] = {QOR_INT8(depth), QOR_INT8(depth), QOR_INT8(depth), QOR_INT8(depth)};
    EXPECT_TRUE(im.CreateNewImage(k.width, k.height, CM_RGGB, k.subs, depths, nullptr));
    PLRAWSAVEFORMAT fmt;
    EXPECT_EQ(CImagePlRaw::GetSaveFormat(&fmt, &im), nullptr);
    void *sc = nullptr;
    EXPECT_EQ(Str(im.SaveFileStart(path.c_str(), &fmt, &sc)), "(success)");
    EXPECT_EQ(Str(im.SaveFileHeader(sc)), "(success)");
    for (int f = 0; f < kFrames; ++f) {
        const std::vector<long> planes = ExpectedPlanes(k, f, depth);
        size_t i = 0;
        for (int c = 0; c < 4; ++c)
            for (long n = 0; n < long(im.chnl[c].chnlWidth) * im.chnl[c].chnlHeight; ++n)
                im.chnl[c].data[n] = static_cast<PIXEL>(planes[i++]);
        EXPECT_EQ(Str(im.SaveFileData(sc)), "(success)");
    }
    EXPECT_EQ(Str(im.SaveFileEnd(sc)), "(success)");
    return path;
}

/** Writes an NRAW file of kFrames frames as a camera does: the mosaic rows of each frame one after the other. */
std::string WriteNraw(const FramesCase &k, int depth, const std::string &dir) {
    const int bps = (depth + 7) / 8;
    Bytes data(1024, 0);
    const int fields[] = {k.width, k.height, depth, bps, k.subs - SUBS_RGGB, 0x0100, 0, 0};
    data[0] = 'N', data[1] = 'R', data[2] = 'A', data[3] = 'W';
    for (int i = 0; i < 8; ++i) {
        data[4 + 2 * i] = static_cast<unsigned char>(fields[i] & 0xFF);
        data[5 + 2 * i] = static_cast<unsigned char>(fields[i] >> 8);
    }
    for (int f = 0; f < kFrames; ++f)
        for (int y = 0; y < k.height; ++y)
            for (int x = 0; x < k.width; ++x)
                for (int b = 0; b < bps; ++b)
                    data.push_back(static_cast<unsigned char>(Sample(f, x, y, depth) >> (8 * b)));
    const std::string path = dir + "/f" + std::to_string(depth) + ".nraw";
    nrvtest::WriteBytes(path, data);
    return path;
}

class BayerFrames : public testing::TestWithParam<FramesCase> {};

TEST_P(BayerFrames, EveryFrameOfEveryDepthReadsBackEqual) {
    const FramesCase &k = GetParam();
    const std::string dir = nrvtest::TempDir("bayer_frames_" + fmttest::TestName(k.what));
    const int maxDepth = k.nraw ? 31 : CImagePlRaw::MAX_BIT_DEPTH;
    for (int depth = 1; depth <= maxDepth; ++depth) {
        SCOPED_TRACE(std::to_string(depth) + " bits");
        std::string path;
        std::unique_ptr<CImageBase> im;
        if (k.nraw) {
            path = WriteNraw(k, depth, dir);
            im.reset(new CImageNRaw);
            ASSERT_EQ(Str(im->LoadFileHeader(path.c_str(), nullptr)), "(success)");
        } else {
            path = WritePlainRaw(k, depth, dir);
            PLRAWLOADFORMAT lf;
            ASSERT_EQ(Str(CImagePlRaw::GetLoadFormat(&lf, path.c_str(), nullptr)), "(success)");
            im.reset(new CImagePlRaw);
            ASSERT_EQ(Str(im->LoadFileHeader(path.c_str(), &lf)), "(success)");
        }
        for (int f : {0, 1, kFrames - 1}) {
            ASSERT_EQ(Str(im->LoadFileData(f)), "(success)") << "frame " << f;
            EXPECT_EQ(Planes(*im), ExpectedPlanes(k, f, depth)) << "frame " << f;
        }
        EXPECT_NE(Str(im->LoadFileData(kFrames)), "(success)") << "the frame behind the last";
    }
}

const FramesCase kCases[] = {
    {"plain raw RGGB 7x5", false, 7, 5, SUBS_RGGB}, {"plain raw GRBG 8x5", false, 8, 5, SUBS_GRBG},
    {"plain raw GBRG 7x6", false, 7, 6, SUBS_GBRG}, {"plain raw BGGR 8x6", false, 8, 6, SUBS_BGGR},
    {"NRAW RGGB 7x5", true, 7, 5, SUBS_RGGB},       {"NRAW GRBG 8x5", true, 8, 5, SUBS_GRBG},
    {"NRAW GBRG 7x6", true, 7, 6, SUBS_GBRG},       {"NRAW BGGR 8x6", true, 8, 6, SUBS_BGGR},
};

INSTANTIATE_TEST_SUITE_P(Files, BayerFrames, testing::ValuesIn(kCases), fmttest::CaseName<FramesCase>);

} // namespace
