/* Zero subsampling factors in the models that use them (YUV, YUVA, Bayer): no division by zero, and the
 * file is either refused with a message or read with planes the buffer can hold. */
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image_nrv.h"
#include "nrv_test_helpers.h"
#include "norvacommon/userlog.h"
#include "sim_image.h"
#include "support/scoped_env.h"

namespace {

std::string Segment(const std::string &meta, size_t pixelBytes) {
    std::string px(pixelBytes, '\x01');
    char hdr[65];
    std::snprintf(hdr, sizeof(hdr), "NRV1\n04 %013d %013zu %013zu %013zu\n", 64, meta.size(), 64 + meta.size(),
                  px.size());
    return std::string(hdr, 64) + meta + px;
}

TEST(NrvZeroSubsampling, ReadWithoutDividingAndRefusedByTheDataGeneratorInput) {
    norva_test::ScopedEnv noLevel("NORVA_LOG_LEVEL", nullptr);
    LOG_SetLevel(LOG_LEVEL_INFO);
    const std::string dir = nrvtest::TempDir("zero_subsampling");
    const struct {
        const char *name, *meta;
        bool bayer;
    } rows[] = {
        {"yuv", "WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=YUV\nSUBSAMPLING_HOR=0\nSUBSAMPLING_VER=0\n", false},
        {"yuv_chroma", "WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=YUV\nSUBSAMPLING_HOR=1 0 0\nSUBSAMPLING_VER=1 0 0\n", false},
        {"yuva", "WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=YUVA\nSUBSAMPLING_HOR=0\nSUBSAMPLING_VER=0\n", false},
        {"rggb", "WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=RGGB\nSUBSAMPLING_HOR=0\nSUBSAMPLING_VER=0\nBITDEPTH=10\n", true},
        {"rggb_one_channel",
         "WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=RGGB\nSUBSAMPLING_HOR=2 0 2 2\nSUBSAMPLING_VER=2 2 0 2\nBITDEPTH=10\n",
         true},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const std::string path = dir + "/" + r.name + ".nrv";
        const std::string bytes = Segment(r.meta, 64);
        nrvtest::WriteBytes(path, std::vector<unsigned char>(bytes.begin(), bytes.end()));

        /* The container reads it; whatever planes it makes lie within the image. */
        CImageNrv im;
        const char *msg = im.LoadFileHeader(path.c_str(), nullptr);
        if (msg == nullptr)
            msg = im.LoadFileData(0);
        if (msg == nullptr) {
            for (int c = 0; c < im.GetNColChannels(); ++c) {
                EXPECT_GE(im.chnl[c].chnlWidth, 1) << c;
                EXPECT_LE(im.chnl[c].chnlWidth, im.width) << c;
                EXPECT_GE(im.chnl[c].chnlHeight, 1) << c;
                EXPECT_LE(im.chnl[c].chnlHeight, im.height) << c;
            }
        }

        /* The data-generator input takes only Bayer files of a known order, RGB and RGBA. */
        sSimImageIn in;
        SimImageIn_init(&in);
        testing::internal::CaptureStderr();
        EXPECT_EQ(SimImageIn_loadNRV(&in, path.c_str()), QOR_RES_NOT_SUPPORTED);
        const std::string err = testing::internal::GetCapturedStderr();
        if (r.bayer) {
            EXPECT_NE(err.find("Mode not supported!"), std::string::npos) << err;
        }
        SimImageIn_close(&in);
    }
}

} // namespace
