/* Aptina raw captures: Python-packed 10-bit frames with their info files (commas or spaces, section case,
 * several frames) load to the expected mosaic; the info file's rules and damaged inputs. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format_test_helpers.h"
#include "image_formats.h"
#include "nrv_test_helpers.h"

namespace {

using fmttest::Str;

void WriteText(const std::string &path, const std::string &text) {
    nrvtest::WriteBytes(path, std::vector<unsigned char>(text.begin(), text.end()));
}

/* Packs frames of v(x, y, f) = (37x + 11y + 3f) mod 1024 LSB first, plus half a frame more. */
const char *const kPacker = R"(
import sys
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
out = bytearray()
for f in range(3):
    for y in range(h if f < 2 else h // 2):
        acc = 0
        for x in range(w):
            acc |= ((37 * x + 11 * y + 3 * f) % 1024) << (10 * x)
        out += acc.to_bytes((w * 10 + 7) // 8, 'little')
open(path, 'wb').write(out)
)";

TEST(AptinaOracle, PythonPackedFramesLoadToTheMosaic) {
    FMT_REQUIRE_TOOL(fmttest::kPython);
    const std::string dir = nrvtest::TempDir("aptina_frames");
    const std::string packer = dir + "/pack.py";
    WriteText(packer, kPacker);
    struct Info {
        const char *rawName;
        const char *infoName;
        const char *text;
    };
    const Info kInfos[] = {
        {"a.raw", "a_info.txt", "[Other]\nIMAGE=2,2,BAYER-10\n[Raw Image Format]\nIMAGE=6,4,BAYER-10\n[Next]\n"},
        {"b.RAW", "b_info.txt", "[raw image format]\r\nimage= 6 4 bayer-10\r\n"},
    };
    for (const Info &info : kInfos) {
        const std::string raw = dir + "/" + info.rawName;
        ASSERT_EQ(fmttest::Shell(std::string(fmttest::kPython) + " " + packer + " " + raw + " 6 4"), 0);
        WriteText(dir + "/" + info.infoName, info.text);
        EXPECT_TRUE(CImageAptinaRaw::DetectFormat(raw.c_str()));
        CImageAptinaRaw im;
        ASSERT_EQ(Str(im.LoadFileHeader(raw.c_str(), nullptr)), "(success)") << info.text;
        EXPECT_EQ(im.width, 6);
        EXPECT_EQ(im.height, 4);
        EXPECT_EQ(im.subsMode, SUBS_GRBG);
        EXPECT_EQ(im.frameSize, 4 * 8);
        EXPECT_EQ(im.GetNFrames(), 2);
        EXPECT_EQ(im.GetProperty(PROPERTY_IS_VIDEO), 1);
        for (int f : {1, 0}) {
            ASSERT_EQ(Str(im.LoadFileData(f)), "(success)");
            std::vector<long> expected;
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 6; ++x)
                    expected.push_back((37 * x + 11 * y + 3 * f) % 1024);
            EXPECT_EQ(fmttest::Mosaic(im), expected) << info.rawName << " frame " << f;
        }
        EXPECT_EQ(Str(im.LoadFileData(2)), "Error reading frame data");
        EXPECT_FALSE(im.IsDataLoaded());
    }
}

TEST(Aptina, InfoFileRulesAndDamagedInputs) {
    const std::string dir = nrvtest::TempDir("aptina_info");
    struct Row {
        const char *what;
        const char *rawName;
        const char *info; /* null: no info file */
        long rawBytes;    /* -1: no raw file */
        const char *headerMessage;
        const char *dataMessage;
        int width, height, frames;
    };
    const Row kRows[] = {
        {"640 x 480, two and a half frames", "v.raw", "[Raw Image Format]\nIMAGE=640,480,BAYER-10\n",
         480L * 800 * 5 / 2, nullptr, nullptr, 640, 480, 2},
        {"lower-case line with spaces", "l.raw", "[Raw Image Format]\nimage=640 480 bayer-10\n", 480L * 800, nullptr,
         nullptr, 640, 480, 1},
        {"IMAGE line before the section", "p.raw", "IMAGE=640,480,BAYER-10\n[Raw Image Format]\n", 10,
         "Incomplete header", nullptr, 0, 0, 0},
        {"BAYER-12", "t.raw", "[Raw Image Format]\nIMAGE=640,480,BAYER-12\n", 10, "Incomplete header", nullptr, 0, 0,
         0},
        {"numbers unreadable", "n.raw", "[Raw Image Format]\nIMAGE=wide,480,BAYER-10\n", 10, "Incomplete header",
         nullptr, 0, 0, 0},
        {"65535 x 65535 in 100 bytes", "h.raw", "[Raw Image Format]\nIMAGE=65535,65535,BAYER-10\n", 100,
         "Incomplete header", nullptr, 0, 0, 0},
        {"30000 x 30000 in 100 bytes", "k.raw", "[Raw Image Format]\nIMAGE=30000,30000,BAYER-10\n", 100, nullptr,
         "Error reading frame data", 30000, 30000, 0},
        {"other extension", "x.bin", "[Raw Image Format]\nIMAGE=4,2,BAYER-10\n", 10, "Error loading header", nullptr, 0,
         0, 0},
        {"no info file", "m.raw", nullptr, 10, "Error reading _info file", nullptr, 0, 0, 0},
        {"no raw file", "r.raw", "[Raw Image Format]\nIMAGE=4,2,BAYER-10\n", -1, "Error opening file", nullptr, 0, 0,
         0},
    };
    for (const Row &r : kRows) {
        const std::string raw = dir + "/" + r.rawName;
        const std::string base = raw.substr(0, raw.rfind('.'));
        if (r.info)
            WriteText(base + "_info.txt", r.info);
        if (r.rawBytes >= 0)
            nrvtest::WriteBytes(raw, std::vector<unsigned char>(static_cast<size_t>(r.rawBytes), 0x55));
        CImageAptinaRaw im;
        EXPECT_EQ(Str(im.LoadFileHeader(raw.c_str(), nullptr)), Str(r.headerMessage)) << r.what;
        EXPECT_EQ(im.width, r.width) << r.what;
        EXPECT_EQ(im.height, r.height) << r.what;
        EXPECT_EQ(im.GetNFrames(), r.frames) << r.what;
        if (r.headerMessage) {
            EXPECT_FALSE(im.IsHeaderLoaded()) << r.what;
            continue;
        }
        EXPECT_EQ(Str(im.LoadFileData(0)), Str(r.dataMessage)) << r.what;
        EXPECT_EQ(im.IsDataLoaded(), r.dataMessage == nullptr) << r.what;
    }
    EXPECT_FALSE(CImageAptinaRaw::DetectFormat((dir + "/x.bin").c_str()));
    {
        /* The first bytes FF 03 00: sample 0 is 0x3FF, sample 1 is 0. */
        WriteText(dir + "/s_info.txt", "[Raw Image Format]\nIMAGE=4,2,BAYER-10\n");
        nrvtest::WriteBytes(dir + "/s.raw", {0xFF, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
        CImageAptinaRaw im;
        ASSERT_EQ(Str(im.LoadFileHeader((dir + "/s.raw").c_str(), nullptr)), "(success)");
        ASSERT_EQ(Str(im.LoadFileData(0)), "(success)");
        EXPECT_EQ(im.chnl[1].data[0], 0x3FF); /* G1 at (0, 0) */
        EXPECT_EQ(im.chnl[0].data[0], 0);     /* R at (1, 0) */
        EXPECT_EQ(im.GetProperty(PROPERTY_IS_VIDEO), 0);
        EXPECT_EQ(Str(im.SaveFileStart((dir + "/o.raw").c_str(), nullptr, nullptr)), "Not supported");
    }
}

} // namespace
