/* Data-generator image input and capture output: Bayer orders, RGB channel order, multi-segment files,
 * and the refusals of the reader and writer. Input files are made by hand here, not by the writer. */
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image_nrv.h"
#include "norvacommon/userlog.h"
#include "nrv_test_helpers.h"
#include "sim_image.h"
#include "support/scoped_env.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

/* A segment of 16-bit little-endian unpacked planes, one channel per plane; planes[c] holds channel c. */
std::string Segment16(const std::string &meta, const std::vector<std::vector<int>> &planes, int frames = 1) {
    std::string px;
    for (int f = 0; f < frames; ++f)
        for (const auto &p : planes)
            for (int v : p) {
                px += static_cast<char>((v + f) & 0xFF);
                px += static_cast<char>(((v + f) >> 8) & 0xFF);
            }
    char hdr[65];
    std::snprintf(hdr, sizeof(hdr), "NRV1\n04 %013d %013zu %013zu %013zu\n", 64, meta.size(), 64 + meta.size(),
                  px.size());
    return std::string(hdr, 64) + meta + px;
}

void Write(const std::string &path, const std::string &bytes) {
    nrvtest::WriteBytes(path, std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

std::string BayerMeta(const char *phaseHor, const char *phaseVer, const char *depth = "10", int height = 2) {
    return "WIDTH=4\nHEIGHT=" + std::to_string(height) +
           "\nCOLOUR_FORMAT=RGGB\nSUBSAMPLING_HOR=2 2 2 2\nSUBSAMPLING_VER=2 2 2 2\nPHASE_OFFSET_HOR=" + phaseHor +
           "\nPHASE_OFFSET_VER=" + phaseVer + "\nBITDEPTH=" + depth + "\n";
}

/* Channel c holds (c + 1) x 10 + k at plane position k: every mosaic sample names its channel. */
const std::vector<std::vector<int>> kCells = {{10, 11}, {20, 21}, {30, 31}, {40, 41}};

struct OrderRow {
    const char *name, *phaseHor, *phaseVer;
    sSimImageColourModel model;
    std::vector<QOR_UINT16> mosaic;
};
const OrderRow kOrders[] = {
    {"RGGB", "0 1 0 1", "0 0 1 1", SimImage_RGGB, {10, 20, 11, 21, 30, 40, 31, 41}},
    {"GRBG", "1 0 1 0", "0 0 1 1", SimImage_GRBG, {20, 10, 21, 11, 40, 30, 41, 31}},
    {"GBRG", "0 1 0 1", "1 1 0 0", SimImage_GBRG, {30, 40, 31, 41, 10, 20, 11, 21}},
    {"BGGR", "1 0 1 0", "1 1 0 0", SimImage_BGGR, {40, 30, 41, 31, 20, 10, 21, 11}},
};

class SimImage : public testing::Test {
protected:
    void SetUp() override { LOG_SetLevel(LOG_LEVEL_INFO); }
    norva_test::ScopedEnv noLevel_{"NORVA_LOG_LEVEL", nullptr};
};

TEST_F(SimImage, BayerFilesOfEveryOrderRebuildTheirMosaic) {
    const std::string dir = nrvtest::TempDir("dg_orders");
    for (const auto &r : kOrders) {
        SCOPED_TRACE(r.name);
        const std::string path = dir + "/" + r.name + ".nrv";
        Write(path, Segment16(BayerMeta(r.phaseHor, r.phaseVer), kCells, 2));
        sSimImageIn in;
        ASSERT_EQ(SimImageIn_init(&in), 0);
        ASSERT_EQ(SimImageIn_loadNRV(&in, path.c_str()), 0);
        EXPECT_EQ(in.info.eColourModel, r.model);
        EXPECT_EQ(in.info.ui32Width, 4u);
        EXPECT_EQ(in.info.ui32Height, 2u);
        EXPECT_EQ(in.info.stride, 16u) << "two mosaic rows of 16-bit samples";
        EXPECT_EQ(in.info.ui8BitDepth, 10);
        EXPECT_EQ(in.info.isBGR, 0);
        EXPECT_EQ(in.nFrames, 2u);
        ASSERT_EQ(SimImageIn_convertFrame(&in, 0), 0);
        EXPECT_EQ(std::vector<QOR_UINT16>(in.pBuffer, in.pBuffer + 8), r.mosaic);
        ASSERT_EQ(SimImageIn_convertFrame(&in, 1), 0);
        EXPECT_EQ(in.pBuffer[0], r.mosaic[0] + 1) << "the second frame";
        EXPECT_EQ(SimImageIn_close(&in), 0);
        EXPECT_EQ(in.pBuffer, nullptr);
    }
}

TEST_F(SimImage, RgbFilesAreReadBlueFirst) {
    const std::string dir = nrvtest::TempDir("dg_rgb");
    const std::string path = dir + "/rgb.nrv";
    Write(path, Segment16("WIDTH=2\nHEIGHT=1\nCOLOUR_FORMAT=RGB\nBITDEPTH=10\n", {{1, 2}, {3, 4}, {5, 6}}));
    sSimImageIn in;
    SimImageIn_init(&in);
    ASSERT_EQ(SimImageIn_loadNRV(&in, path.c_str()), 0);
    EXPECT_EQ(in.info.eColourModel, SimImage_RGB64);
    EXPECT_EQ(in.info.isBGR, 1);
    EXPECT_EQ(in.info.ui32Width, 2u);
    EXPECT_EQ(in.info.stride, 16u);
    ASSERT_EQ(SimImageIn_convertFrame(&in, 0), 0);
    EXPECT_EQ(std::vector<QOR_UINT16>(in.pBuffer, in.pBuffer + 8), (std::vector<QOR_UINT16>{1, 3, 5, 0, 2, 4, 6, 0}));
    SimImageIn_close(&in);
}

TEST_F(SimImage, RgbColoursSurviveAWriteAndReadWithBlueInChannelZero) {
    const std::string dir = nrvtest::TempDir("dg_rgb_roundtrip");
    for (int bgr = 0; bgr < 2; ++bgr) {
        const std::string path = dir + "/rgb" + std::to_string(bgr) + ".nrv";
        sSimImageOut out;
        SimImageOut_init(&out);
        out.info = SimImageInfo{8, 2, 1, 0, SimImage_RGB24, 0, 0.0, static_cast<QOR_BOOL8>(bgr)};
        ASSERT_EQ(SimImageOut_create(&out), 0);
        ASSERT_EQ(SimImageOut_open(&out, path.c_str()), 0);
        const QOR_UINT8 frame[6] = {10, 20, 30, 11, 21, 31}; /* R G B per pixel (B G R when isBGR) */
        ASSERT_EQ(SimImageOut_addFrame(&out, frame, sizeof(frame)), 0);
        ASSERT_EQ(SimImageOut_write(&out), 0);
        ASSERT_EQ(SimImageOut_close(&out), 0);
        SimImageOut_clean(&out);

        CImageNrv nrv;
        ASSERT_EQ(nrv.LoadFileHeader(path.c_str(), nullptr), nullptr);
        ASSERT_EQ(nrv.LoadFileData(0), nullptr);
        EXPECT_EQ(nrv.chnl[0].data[0], bgr ? 10 : 30) << "NRV channel 0 holds blue";

        sSimImageIn in;
        SimImageIn_init(&in);
        ASSERT_EQ(SimImageIn_loadNRV(&in, path.c_str()), 0);
        ASSERT_EQ(SimImageIn_convertFrame(&in, 0), 0);
        EXPECT_EQ(in.info.isBGR, 1);
        const std::vector<QOR_UINT16> expected =
            bgr ? std::vector<QOR_UINT16>{10, 20, 30, 0} : std::vector<QOR_UINT16>{30, 20, 10, 0};
        EXPECT_EQ(std::vector<QOR_UINT16>(in.pBuffer, in.pBuffer + 4), expected);
        SimImageIn_close(&in);
    }
}

TEST_F(SimImage, MultiSegmentFilesPlayAsOneSequenceWhenCompatible) {
    const std::string dir = nrvtest::TempDir("dg_segments");
    const std::string same = dir + "/same.nrv", other = dir + "/other.nrv";
    const std::string rggb = BayerMeta("0 1 0 1", "0 0 1 1");
    Write(same, Segment16(rggb, kCells, 2) + Segment16(rggb, kCells, 3));
    Write(other, Segment16(rggb, kCells, 2) + Segment16(BayerMeta("0 1 0 1", "0 0 1 1", "10", 4),
                                                        {{1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}}, 3));
    const char *warning = "incompatible multi-segment image: load only from 1st segment\n";
    struct Row {
        const std::string *path;
        unsigned nFrames;
        bool warns;
    } rows[] = {{&same, 5, false}, {&other, 2, true}};
    for (const auto &r : rows) {
        SCOPED_TRACE(*r.path);
        sSimImageIn in;
        SimImageIn_init(&in);
        CaptureStderr();
        ASSERT_EQ(SimImageIn_loadNRV(&in, r.path->c_str()), 0);
        const std::string err = GetCapturedStderr();
        EXPECT_EQ(err.find(warning) != std::string::npos, r.warns) << err;
        EXPECT_EQ(in.nFrames, r.nFrames);
        EXPECT_EQ(SimImageIn_convertFrame(&in, static_cast<QOR_INT32>(r.nFrames) - 1), 0);
        SimImageIn_close(&in);

        unsigned segments = 0, total = 0;
        CaptureStderr();
        EXPECT_EQ(SimImageIn_checkMultiSegment(r.path->c_str(), &segments, &total), r.warns ? 22 : 0);
        EXPECT_EQ(GetCapturedStderr().find(warning) != std::string::npos, r.warns);
        EXPECT_EQ(segments, 2u);
        EXPECT_EQ(total, 5u);
    }
}

// Playing a file of many one-frame segments finds each frame's segment without walking the list: the segments
// looked at stay within a binary search per lookup, and each frame comes from its own segment.
// 100,000 segments; 10,000 in the sanitizer builds (NORVA_QUICK_TESTS), where a lookup takes 14 steps.
TEST_F(SimImage, PlayingAFileOfManySegmentsIsLinear) {
    constexpr int kSegments = NORVA_QUICK_TESTS ? 10000 : 100000;
    int steps = 1; // of a binary search over kSegments, plus one
    while ((1 << (steps - 1)) < kSegments)
        steps++;
    const std::string dir = nrvtest::TempDir("dg_many_segments");
    const std::string path = dir + "/many.nrv";
    const std::string rggb = BayerMeta("0 1 0 1", "0 0 1 1");
    std::string bytes;
    for (int i = 0; i < kSegments; ++i) {
        const int v = i % 1024;
        bytes += Segment16(rggb, {{v, v}, {v, v}, {v, v}, {v, v}});
    }
    Write(path, bytes);
    bytes.clear();

    sSimImageIn in;
    SimImageIn_init(&in);
    ASSERT_EQ(SimImageIn_loadNRV(&in, path.c_str()), 0);
    ASSERT_EQ(in.nFrames, static_cast<QOR_UINT32>(kSegments));
    for (int i = 0; i < kSegments; ++i) {
        ASSERT_EQ(SimImageIn_convertFrame(&in, i), 0) << i;
        ASSERT_EQ(in.pBuffer[0], i % 1024) << i;
    }
    // Two lookups per frame (its segment, then its place in the file), each a binary search (17 steps for 100,000).
    EXPECT_LE(in.loadFromNRV->GetSegmentVisits(), 2u * static_cast<unsigned>(steps) * (kSegments + 2));
    SimImageIn_close(&in);
    std::remove(path.c_str());
}

TEST_F(SimImage, ReaderRefusals) {
    const std::string dir = nrvtest::TempDir("dg_refusals");
    const std::string good = dir + "/good.nrv";
    Write(good, Segment16(BayerMeta("0 1 0 1", "0 0 1 1"), kCells, 2));
    sSimImageIn in;
    EXPECT_EQ(SimImageIn_init(nullptr), 11);
    SimImageIn_init(&in);
    EXPECT_EQ(SimImageIn_convertFrame(&in, 0), 17);
    EXPECT_EQ(SimImageIn_loadNRV(&in, (dir + "/missing.nrv").c_str()), 3);
    ASSERT_EQ(SimImageIn_loadNRV(&in, good.c_str()), 0);
    EXPECT_EQ(SimImageIn_loadNRV(&in, good.c_str()), 18) << "close before opening again";
    EXPECT_EQ(SimImageIn_convertFrame(&in, -1), 11);
    CaptureStderr();
    EXPECT_EQ(SimImageIn_convertFrame(&in, 2), 11);
    EXPECT_NE(GetCapturedStderr().find("file only has 2 frame(s), cannot convert frame 2\n"), std::string::npos);
    EXPECT_EQ(SimImageIn_convertFrame(&in, 1), 0) << "the first file stays usable";
    SimImageIn_close(&in);

    struct Row {
        const char *name;
        std::string bytes;
        QOR_RESULT result;
    } rows[] = {
        {"channel3_10bit", Segment16(BayerMeta("0 1 0 1", "0 0 1 1", "12 12 12 10"), kCells), 22},
        {"grey", Segment16("WIDTH=2\nHEIGHT=1\nCOLOUR_FORMAT=Grayscale\n", {{1, 2}}), 22},
        {"rgba", Segment16("WIDTH=1\nHEIGHT=1\nCOLOUR_FORMAT=RGBA\n", {{1}, {2}, {3}, {4}}), 22},
        /* No Bayer order: the planes are full size, and the mode is refused. */
        {"bayer_undefined_order",
         Segment16(BayerMeta("0 0 0 0", "0 0 0 0"), std::vector<std::vector<int>>(4, std::vector<int>(8, 1))), 22},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const std::string path = dir + "/" + r.name + ".nrv";
        Write(path, r.bytes);
        SimImageIn_init(&in);
        CaptureStderr();
        EXPECT_EQ(SimImageIn_loadNRV(&in, path.c_str()), r.result);
        const std::string err = GetCapturedStderr();
        if (std::string(r.name) == "grey" || std::string(r.name) == "rgba") {
            EXPECT_NE(err.find("can only load Bayer NRV, RGB or RGBA files\n"), std::string::npos);
        }
        EXPECT_EQ(in.loadFromNRV, nullptr);
        EXPECT_EQ(SimImageIn_convertFrame(&in, 0), 17);
        SimImageIn_close(&in);
    }
}

TEST_F(SimImage, BufferSizeComesFromThePlanesNotFromRawSubsamplingItems) {
    const std::string dir = nrvtest::TempDir("dg_planesize");
    struct Row {
        const char *name;
        std::string bytes;
        QOR_UINT32 width, height;
    } rows[] = {
        /* RGB planes are full size whatever "SUBSAMPLING_HOR" says: 0 must not divide, 2 must not shrink. */
        {"rgb_sub0",
         Segment16("WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=RGB\nSUBSAMPLING_HOR=0\nSUBSAMPLING_VER=0\n",
                   {{1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}}),
         4, 2},
        {"rgb_sub2",
         Segment16("WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=RGB\nSUBSAMPLING_HOR=2\nSUBSAMPLING_VER=2\n",
                   {{1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}}),
         4, 2},
        /* Only the older single word: the mosaic is the image size, not twice it. */
        {"legacy_word", Segment16("WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=RGGB\nSUBSAMPLING=GRBG\nBITDEPTH=10\n", kCells), 4,
         2},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const std::string path = dir + "/" + r.name + ".nrv";
        Write(path, r.bytes);
        sSimImageIn in;
        SimImageIn_init(&in);
        ASSERT_EQ(SimImageIn_loadNRV(&in, path.c_str()), 0);
        EXPECT_EQ(in.info.ui32Width, r.width);
        EXPECT_EQ(in.info.ui32Height, r.height);
        EXPECT_EQ(SimImageIn_convertFrame(&in, 0), 0);
        SimImageIn_close(&in);
    }
}

TEST_F(SimImage, ASegmentThatPassesTheCheckButHoldsAnotherModelCannotOverrunTheBuffer) {
    /* The segment check compares "COLOUR_FORMAT" as a number, so an RGB segment with the Bayer segment's
     * items passes; its frames would need four times the buffer. */
    const std::string dir = nrvtest::TempDir("dg_model_change");
    const std::string path = dir + "/mixed.nrv";
    const std::string rgb = "WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=RGB\nSUBSAMPLING_HOR=2 2 2 2\nSUBSAMPLING_VER=2 2 2 2\n"
                            "PHASE_OFFSET_HOR=0 1 0 1\nPHASE_OFFSET_VER=0 0 1 1\nBITDEPTH=10\n";
    Write(path, Segment16(BayerMeta("0 1 0 1", "0 0 1 1"), kCells) +
                    Segment16(rgb, std::vector<std::vector<int>>(3, std::vector<int>(8, 1))));
    sSimImageIn in;
    SimImageIn_init(&in);
    ASSERT_EQ(SimImageIn_loadNRV(&in, path.c_str()), 0);
    ASSERT_EQ(in.nFrames, 2u) << "the segments look compatible";
    CaptureStderr();
    EXPECT_EQ(SimImageIn_convertFrame(&in, 1), 3);
    const std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("SimImageIn_ConvertRGB"), std::string::npos) << err;
    EXPECT_NE(err.find("last offset = 64 in 16B allocated\n"), std::string::npos) << err;
    EXPECT_EQ(SimImageIn_convertFrame(&in, 0), 0);
    SimImageIn_close(&in);
}

TEST_F(SimImage, WriterTakesCellsInTheirOrderAndKeepsRInChannelZero) {
    const std::string dir = nrvtest::TempDir("dg_writer_grbg");
    const std::string path = dir + "/grbg.nrv";
    sSimImageOut out;
    SimImageOut_init(&out);
    out.info = SimImageInfo{10, 4, 2, 0, SimImage_GRBG, 1000, 1.5, 0};
    ASSERT_EQ(SimImageOut_create(&out), 0);
    ASSERT_EQ(SimImageOut_open(&out, path.c_str()), 0);
    /* Cells G R / B G: 1 = G1, 2 = R, 3 = B, 4 = G2. */
    const QOR_UINT16 cells[8] = {1, 2, 3, 4, 1, 2, 3, 4};
    ASSERT_EQ(SimImageOut_addFrame(&out, cells, sizeof(cells)), 0);
    ASSERT_EQ(SimImageOut_write(&out), 0);
    ASSERT_EQ(SimImageOut_close(&out), 0);
    SimImageOut_clean(&out);
    CImageNrv nrv;
    ASSERT_EQ(nrv.LoadFileHeader(path.c_str(), nullptr), nullptr);
    ASSERT_EQ(nrv.LoadFileData(0), nullptr);
    EXPECT_EQ(nrv.subsMode, SUBS_GRBG);
    EXPECT_EQ(nrv.chnl[0].data[0], 2) << "R";
    EXPECT_EQ(nrv.chnl[1].data[0], 1) << "G1";
    EXPECT_EQ(nrv.chnl[2].data[0], 4) << "G2";
    EXPECT_EQ(nrv.chnl[3].data[0], 3) << "B";
    EXPECT_STREQ(nrv.pCurrSeg->meta.GetMetaStr("SENSOR_EXPOSURE_TIME", nullptr), "1000");
    EXPECT_STREQ(nrv.pCurrSeg->meta.GetMetaStr("SENSOR_GAIN", nullptr), "1.5");
}

TEST_F(SimImage, WriterRefusals) {
    sSimImageOut out;
    SimImageOut_init(&out);
    const QOR_UINT8 data[64] = {0};
    EXPECT_EQ(SimImageOut_addFrame(&out, data, 8), 17);
    EXPECT_EQ(SimImageOut_open(&out, "x.nrv"), 11);
    EXPECT_EQ(SimImageOut_write(&out), 17);
    EXPECT_EQ(SimImageOut_close(&out), 17);
    out.info.eColourModel = static_cast<sSimImageColourModel>(7);
    EXPECT_EQ(SimImageOut_create(&out), 22);

    struct Row {
        const char *what;
        SimImageInfo info;
        QOR_SIZE size;
        QOR_RESULT result;
        const char *message;
    } rows[] = {
        {"RGB32 10-bit odd pixel count", {10, 3, 1, 0, SimImage_RGB32, 0, 0, 0}, 12, 22, "unexpected size\n"},
        {"RGB32 10-bit short frame", {10, 4, 4, 0, SimImage_RGB32, 0, 0, 0}, 16, 22, "unexpected size\n"},
        {"RGB64 short frame", {12, 4, 4, 0, SimImage_RGB64, 0, 0, 0}, 32, 22, "unexpected size\n"},
        {"RGB24 not whole pixels", {8, 4, 4, 0, SimImage_RGB24, 0, 0, 0}, 10, 22, "unexpected size\n"},
        {"Bayer not whole cells", {10, 4, 4, 0, SimImage_RGGB, 0, 0, 0}, 12, 22, nullptr},
        {"Bayer more cells than planes",
         {8, 2, 2, 0, SimImage_RGGB, 0, 0, 0},
         8,
         3,
         "trying to copy more (2) than the channel 0 can cope with (1)\n"},
        {"RGB32 8-bit fits", {8, 2, 2, 0, SimImage_RGB32, 0, 0, 0}, 16, 0, nullptr},
        {"RGB64 12-bit fits", {12, 2, 2, 0, SimImage_RGB64, 0, 0, 0}, 32, 0, nullptr},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        SimImageOut_init(&out);
        out.info = r.info;
        ASSERT_EQ(SimImageOut_create(&out), 0);
        CaptureStderr();
        EXPECT_EQ(SimImageOut_addFrame(&out, data, r.size), r.result);
        const std::string err = GetCapturedStderr();
        if (r.message) {
            EXPECT_NE(err.find(r.message), std::string::npos) << err;
        }
        SimImageOut_clean(&out);
        EXPECT_EQ(out.saveToNRV, nullptr);
    }
}

TEST_F(SimImage, CleaningAWriterThatCannotEndClosesItsFile) {
    const std::string dir = nrvtest::TempDir("dg_clean");
    const int fds = nrvtest::OpenDescriptors();
    sSimImageOut out;
    SimImageOut_init(&out);
    out.info = SimImageInfo{10, 4, 2, 0, SimImage_RGGB, 0, 0.0, 0};
    ASSERT_EQ(SimImageOut_create(&out), 0);
    ASSERT_EQ(SimImageOut_open(&out, (dir + "/noframe.nrv").c_str()), 0);
    CaptureStderr();
    EXPECT_EQ(SimImageOut_close(&out), 3) << "no frame: the file cannot be ended";
    EXPECT_NE(out.saveContext, nullptr) << "a failed close keeps the writer";
    EXPECT_EQ(SimImageOut_clean(&out), 0);
    const std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("CImageNrv::SaveFileEnd Pixel data not saved\n"), std::string::npos) << err;
    EXPECT_NE(err.find("a sSimImageOut was not closed! closing...\n"), std::string::npos) << err;
    EXPECT_EQ(out.saveContext, nullptr);
    EXPECT_EQ(nrvtest::OpenDescriptors(), fds);
}

} // namespace
