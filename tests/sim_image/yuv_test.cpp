/* Raw YUV files: ffmpeg clips load and save back byte-identically, layouts ffmpeg cannot write are checked with
 * numpy, the file-name rules and the short-file, frame and sample edge cases. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format_test_helpers.h"
#include "image_formats.h"
#include "nrv_test_helpers.h"

namespace {

using fmttest::Planes;
using fmttest::Str;

/* Loads every frame of a file named by its format, keeping the planes of each frame, and writes them back
 * in the file's own layout to `copy`. */
std::vector<std::vector<long>> LoadAndSaveBack(const std::string &path, const std::string &copy) {
    std::vector<std::vector<long>> frames;
    YUVLOADFORMAT lf;
    EXPECT_EQ(Str(CImageYuv::GetLoadFormat(&lf, path.c_str(), nullptr)), "(success)") << path;
    CImageYuv im;
    EXPECT_EQ(Str(im.LoadFileHeader(path.c_str(), &lf)), "(success)") << path;
    YUVSAVEFORMAT sf;
    EXPECT_EQ(CImageYuv::GetSaveFormat(&sf, &im), nullptr);
    void *sc = nullptr;
    for (int f = 0; f < im.GetNFrames(); ++f) {
        EXPECT_EQ(Str(im.LoadFileData(f)), "(success)") << path;
        if (f == 0) {
            EXPECT_EQ(Str(im.SaveFileStart(copy.c_str(), &sf, &sc)), "(success)") << copy;
        }
        if (sc) {
            EXPECT_EQ(Str(im.SaveFileData(sc)), "(success)") << copy;
        }
        frames.push_back(Planes(im));
    }
    if (sc)
        im.SaveFileEnd(sc);
    return frames;
}

TEST(YuvOracle, FfmpegClipsLoadAndSaveBackByteIdentically) {
    FMT_REQUIRE_TOOL("ffmpeg");
    const std::string dir = nrvtest::TempDir("yuv_ffmpeg");
    struct Clip {
        const char *pixFmt;
        const char *name; /* what GetFormatString gives for the loaded clip */
    };
    const Clip kClips[] = {
        {"yuv420p", "64x48_8bit_420p"},       {"yuv422p", "64x48_8bit_422p"},       {"yuv444p", "64x48_8bit_444p"},
        {"yuv420p10le", "64x48_10bit_420pl"}, {"yuv420p12le", "64x48_12bit_420pl"}, {"yuyv422", "64x48_8bit_422i"},
        {"uyvy422", "64x48_8bit_uyvy"},       {"yvyu422", "64x48_8bit_yvyu"},
    };
    /* One ffmpeg run writes every clip. */
    std::string cmd = "ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=11";
    for (const Clip &c : kClips)
        cmd += std::string(" -frames:v 3 -pix_fmt ") + c.pixFmt + " -f rawvideo -y " + dir + "/clip_" + c.name + ".yuv";
    ASSERT_EQ(fmttest::Shell(cmd), 0) << cmd;
    std::vector<std::vector<long>> planar422;
    for (const Clip &c : kClips) {
        const std::string path = dir + "/clip_" + c.name + ".yuv";
        const std::vector<std::vector<long>> frames = LoadAndSaveBack(path, path + ".copy");
        EXPECT_EQ(frames.size(), 3u) << c.pixFmt;
        EXPECT_EQ(nrvtest::ReadBytes(path + ".copy"), nrvtest::ReadBytes(path)) << c.pixFmt;
        YUVLOADFORMAT lf;
        ASSERT_EQ(CImageYuv::GetLoadFormat(&lf, path.c_str(), nullptr), nullptr);
        CImageYuv im;
        ASSERT_EQ(im.LoadFileHeader(path.c_str(), &lf), nullptr);
        YUVSAVEFORMAT sf;
        ASSERT_EQ(CImageYuv::GetSaveFormat(&sf, &im), nullptr);
        EXPECT_STREQ(im.GetFormatString(&sf), c.name);
        if (std::string(c.pixFmt) == "yuv422p")
            planar422 = frames;
    }
    /* The packed clips hold the same pictures as the planar 4:2:2 one once ffmpeg rearranges that one. */
    const char *const kPacked[] = {"yuyv422", "uyvy422", "yvyu422"};
    std::string rearrange =
        "ffmpeg -v error -f rawvideo -pix_fmt yuv422p -s 64x48 -i " + dir + "/clip_64x48_8bit_422p.yuv";
    for (const char *packed : kPacked)
        rearrange += std::string(" -pix_fmt ") + packed + " -f rawvideo -y " + dir + "/packed_64x48_" +
                     std::string(packed).substr(0, 4) + ".yuv";
    ASSERT_EQ(fmttest::Shell(rearrange), 0) << rearrange;
    for (const char *packed : kPacked) {
        const std::string path = dir + "/packed_64x48_" + std::string(packed).substr(0, 4) + ".yuv";
        EXPECT_EQ(LoadAndSaveBack(path, path + ".copy"), planar422) << packed;
    }
}

TEST(YuvOracle, LayoutsFfmpegCannotWriteMatchNumpy) {
    FMT_REQUIRE_TOOL("ffmpeg");
    FMT_REQUIRE_PYTHON("numpy");
    const std::string dir = nrvtest::TempDir("yuv_numpy");
    for (const char *fmt : {"yuv444p", "yuv422p", "yuv420p10le"})
        ASSERT_EQ(fmttest::Shell(std::string("ffmpeg -v error -f lavfi -i testsrc2=size=32x16:rate=11 -frames:v 2 ") +
                                 "-pix_fmt " + fmt + " -f rawvideo -y " + dir + "/" + fmt + ".yuv"),
                  0);
    /* 4:4:4 pixel-interleaved, VYUY packed and MSB-aligned 10-bit planar, each made from an ffmpeg clip. */
    const std::string script = std::string(fmttest::kPython) + " - " + dir + " <<'EOF'\n" +
                               "import numpy as np, sys\n"
                               "d = sys.argv[1]\n"
                               "a = np.fromfile(d + '/yuv444p.yuv', np.uint8).reshape(2, 3, 16, 32)\n"
                               "a.transpose(0, 2, 3, 1).tofile(d + '/c_32x16_444i.yuv')\n"
                               "b = np.fromfile(d + '/yuv422p.yuv', np.uint8).reshape(2, -1)\n"
                               "y = b[:, :512].reshape(2, 16, 16, 2)\n"
                               "u = b[:, 512:768].reshape(2, 16, 16)\n"
                               "v = b[:, 768:].reshape(2, 16, 16)\n"
                               "np.stack([v, y[..., 0], u, y[..., 1]], -1).tofile(d + '/c_32x16_vyuy.yuv')\n"
                               "c = np.fromfile(d + '/yuv420p10le.yuv', '<u2')\n"
                               "(c << 6).astype('<u2').tofile(d + '/c_32x16_10bit_420pm.yuv')\n"
                               "EOF";
    ASSERT_EQ(fmttest::Shell(script), 0);
    struct Pair {
        const char *made, *source;
    };
    const Pair kPairs[] = {{"c_32x16_444i.yuv", "s_32x16_444p.yuv"},
                           {"c_32x16_vyuy.yuv", "s_32x16_422p.yuv"},
                           {"c_32x16_10bit_420pm.yuv", "s_32x16_10bit_420pl.yuv"}};
    fmttest::Shell("cd " + dir + " && mv yuv444p.yuv s_32x16_444p.yuv && mv yuv422p.yuv s_32x16_422p.yuv && " +
                   "mv yuv420p10le.yuv s_32x16_10bit_420pl.yuv");
    for (const Pair &p : kPairs) {
        const std::string made = dir + "/" + p.made;
        EXPECT_EQ(LoadAndSaveBack(made, made + ".copy"), LoadAndSaveBack(dir + "/" + p.source, made + ".src"))
            << p.made;
        EXPECT_EQ(nrvtest::ReadBytes(made + ".copy"), nrvtest::ReadBytes(made)) << p.made;
    }
}

TEST(Yuv, GeometryComesFromTheFileName) {
    struct Row {
        const char *name;
        const char *message;
        int width, height, bits;
        SUBS_xxx subs;
        PLANEFMT_xxx plane;
        bool msb;
        int formatPart;
    };
    const char *const kNo = "Unable to detect YUV format from file name";
    const Row kRows[] = {
        {"sequence_1920x1080_10bit_420pl.yuv", nullptr, 1920, 1080, 10, SUBS_420, PLANEFMT_PLANAR, false, 9},
        {"clip_640x480_uyvy.yuv", nullptr, 640, 480, 8, SUBS_422, PLANEFMT_INTER_UYVY, false, 5},
        {"clip_640x480.yuv", nullptr, 640, 480, 8, SUBS_420, PLANEFMT_PLANAR, false, 5},
        {"x_4440x480_420p.yuv", nullptr, 4440, 480, 8, SUBS_420, PLANEFMT_PLANAR, false, 2},
        {"clip_640x480_444pm.yuv", nullptr, 640, 480, 10, SUBS_444, PLANEFMT_PLANAR, true, 5},
        /* 16-bit names are taken as 16 bits; deeper ones are refused rather than read as 8 bits. */
        {"clip_640x480_16bit_420p.yuv", nullptr, 640, 480, 16, SUBS_420, PLANEFMT_PLANAR, false, 5},
        {"clip_640x480_17bit_420p.yuv", kNo, 0, 0, 0, SUBS_UNDEF, PLANEFMT_PLANAR, false, -1},
        {"clip_10bit.yuv", kNo, 0, 0, 0, SUBS_UNDEF, PLANEFMT_PLANAR, false, -1},
        {"clip_10001x480.yuv", kNo, 0, 0, 0, SUBS_UNDEF, PLANEFMT_PLANAR, false, -1},
        {"clip_640x10001.yuv", kNo, 0, 0, 0, SUBS_UNDEF, PLANEFMT_PLANAR, false, -1},
        /* The whole path is scanned from the left, a later size or depth overriding an earlier one; the layout
         * comes from the file's own name. */
        {"data/640x480/clip.yuv", nullptr, 640, 480, 8, SUBS_420, PLANEFMT_PLANAR, false, 5},
        {"run/1920x1080/clip_64x48_uyvy.yuv", nullptr, 64, 48, 8, SUBS_422, PLANEFMT_INTER_UYVY, false, 4},
        {"clips/10bit/a_64x48_420p.yuv", nullptr, 64, 48, 10, SUBS_420, PLANEFMT_PLANAR, false, 6},
        {"444p/a_64x48.yuv", nullptr, 64, 48, 8, SUBS_420, PLANEFMT_PLANAR, false, 7},
        {"clip_64x48_0bit_420p.yuv", nullptr, 64, 48, 8, SUBS_420, PLANEFMT_PLANAR, false, 5},
    };
    for (const Row &r : kRows) {
        YUVLOADFORMAT f;
        const char *part = nullptr;
        EXPECT_EQ(Str(CImageYuv::GetLoadFormat(&f, r.name, &part)), Str(r.message)) << r.name;
        EXPECT_EQ(f.width, r.width) << r.name;
        EXPECT_EQ(f.height, r.height) << r.name;
        EXPECT_EQ(f.bitDepth, r.bits) << r.name;
        EXPECT_EQ(f.subsMode, r.subs) << r.name;
        EXPECT_EQ(f.planeFormat, r.plane) << r.name;
        EXPECT_EQ(f.msbAligned, r.msb) << r.name;
        EXPECT_EQ(part ? int(part - r.name) : -1, r.formatPart) << r.name;
    }
}

TEST(Yuv, FramesAreCountedFromTheFileSize) {
    const std::string dir = nrvtest::TempDir("yuv_frames");
    struct Row {
        size_t bytes;
        const char *message;
        int frames;
    };
    const Row kRows[] = {
        {36, nullptr, 3}, {35, nullptr, 2}, {12, nullptr, 1}, {11, "File too short for a single frame", 0}};
    for (const Row &r : kRows) {
        const std::string path = dir + "/f_4x2_420p.yuv";
        nrvtest::WriteBytes(path, std::vector<unsigned char>(r.bytes, 9));
        YUVLOADFORMAT lf;
        ASSERT_EQ(CImageYuv::GetLoadFormat(&lf, path.c_str(), nullptr), nullptr);
        CImageYuv im;
        EXPECT_EQ(Str(im.LoadFileHeader(path.c_str(), &lf)), Str(r.message)) << r.bytes;
        EXPECT_EQ(im.GetNFrames(), r.frames) << r.bytes;
        EXPECT_EQ(im.GetProperty(PROPERTY_IS_VIDEO), r.frames > 1 ? 1 : 0) << r.bytes;
        if (r.message) {
            EXPECT_FALSE(im.IsHeaderLoaded());
            continue;
        }
        EXPECT_EQ(im.frameSize, 12);
        EXPECT_EQ(Str(im.LoadFileData(r.frames)), "Invalid frame index");
        EXPECT_EQ(Str(im.LoadFileData(r.frames - 1)), "(success)");
    }
}

TEST(Yuv, SampleEdgeCases) {
    const std::string dir = nrvtest::TempDir("yuv_samples");
    {
        /* MSB-aligned 10 bits: 0xC0 0xFF is 0x3FF. */
        const std::string path = dir + "/m_1x1_444pm.yuv";
        nrvtest::WriteBytes(path, {0xC0, 0xFF, 0x40, 0x00, 0x00, 0x80});
        YUVLOADFORMAT lf;
        ASSERT_EQ(CImageYuv::GetLoadFormat(&lf, path.c_str(), nullptr), nullptr);
        CImageYuv im;
        ASSERT_EQ(im.LoadFileHeader(path.c_str(), &lf), nullptr);
        ASSERT_EQ(Str(im.LoadFileData(0)), "(success)");
        EXPECT_EQ(Planes(im), (std::vector<long>{0x3FF, 1, 0x200}));
    }
    {
        /* A signed chroma sample is written about the middle of the unsigned range. */
        CImageYuv im;
        const QOR_INT8 d[3] = {8, -8, -8};
        const PIXEL v[3] = {16, -3, 0};
        ASSERT_TRUE(im.CreateNewImage(1, 1, CM_YUV, SUBS_444, d, v));
        YUVSAVEFORMAT sf = {PLANEFMT_PLANAR, false};
        const std::string path = dir + "/s.yuv";
        ASSERT_EQ(Str(im.SaveSingleFrameImage(path.c_str(), &sf)), "(success)");
        EXPECT_EQ(nrvtest::ReadBytes(path), (std::vector<unsigned char>{16, 125, 128}));
    }
    {
        /* 16-bit samples written by the library load back as 16 bits. */
        CImageYuv im;
        const QOR_INT8 d[3] = {16, 16, 16};
        const PIXEL v[3] = {65535, 256, 1};
        ASSERT_TRUE(im.CreateNewImage(4, 2, CM_YUV, SUBS_422, d, v));
        YUVSAVEFORMAT sf = {PLANEFMT_INTER_UYVY, false};
        const std::string path = dir + std::string("/w_") + im.GetFormatString(&sf) + ".yuv";
        ASSERT_EQ(Str(im.SaveSingleFrameImage(path.c_str(), &sf)), "(success)");
        YUVLOADFORMAT lf;
        ASSERT_EQ(CImageYuv::GetLoadFormat(&lf, path.c_str(), nullptr), nullptr) << path;
        CImageYuv back;
        ASSERT_EQ(Str(back.LoadFileHeader(path.c_str(), &lf)), "(success)");
        ASSERT_EQ(Str(back.LoadFileData(0)), "(success)");
        EXPECT_EQ(back.chnl[0].bitDepth, 16);
        EXPECT_EQ(Planes(back), Planes(im));
    }
}

TEST(Yuv, DamagedRequestsAreRefused) {
    const std::string dir = nrvtest::TempDir("yuv_bad");
    const std::string small = dir + "/small.yuv";
    nrvtest::WriteBytes(small, std::vector<unsigned char>(100, 7));
    struct Bad {
        const char *what;
        YUVLOADFORMAT lf;
        const char *headerMessage;
        const char *dataMessage;
    };
    const Bad kBad[] = {
        {"depth 0", {4, 2, SUBS_420, 0, PLANEFMT_PLANAR, false}, "Unsupported bit depth", nullptr},
        {"depth 17", {4, 2, SUBS_420, 17, PLANEFMT_PLANAR, false}, "Unsupported bit depth", nullptr},
        {"65535 x 65535 in 100 bytes",
         {65535, 65535, SUBS_420, 8, PLANEFMT_PLANAR, false},
         "File too short for a single frame",
         nullptr},
        {"4000 x 3000 in 100 bytes",
         {4000, 3000, SUBS_420, 8, PLANEFMT_PLANAR, false},
         "File too short for a single frame",
         nullptr},
        {"packed 4:2:0", {4, 2, SUBS_420, 8, PLANEFMT_INTER_YUYV, false}, "Invalid color model", nullptr},
        {"odd packed width",
         {3, 2, SUBS_422, 8, PLANEFMT_INTER_YUYV, false},
         nullptr,
         "Error: odd width not supported"},
    };
    for (const Bad &b : kBad) {
        CImageYuv im;
        YUVLOADFORMAT lf = b.lf;
        EXPECT_EQ(Str(im.LoadFileHeader(small.c_str(), &lf)), Str(b.headerMessage)) << b.what;
        if (b.headerMessage) {
            EXPECT_FALSE(im.IsHeaderLoaded()) << b.what;
            continue;
        }
        EXPECT_EQ(Str(im.LoadFileData(0)), Str(b.dataMessage)) << b.what;
        EXPECT_FALSE(im.chnl[0].data) << b.what;
        EXPECT_TRUE(im.IsHeaderLoaded()) << b.what;
    }
    CImageYuv im;
    EXPECT_EQ(Str(im.LoadFileData(0)), "File header not loaded");
    YUVLOADFORMAT lf = {4, 2, SUBS_420, 8, PLANEFMT_PLANAR, false};
    EXPECT_EQ(Str(im.LoadFileHeader((dir + "/missing.yuv").c_str(), &lf)), "Error opening file");
    /* A file cut short after its header was read fails on reading, and keeps no planes. */
    const std::string cut = dir + "/cut.yuv";
    nrvtest::WriteBytes(cut, std::vector<unsigned char>(24, 1));
    ASSERT_EQ(im.LoadFileHeader(cut.c_str(), &lf), nullptr);
    nrvtest::WriteBytes(cut, std::vector<unsigned char>(20, 1));
    EXPECT_EQ(Str(im.LoadFileData(1)), "Error reading frame data");
    EXPECT_FALSE(im.chnl[0].data);
}

} // namespace
