/* Inputs the fuzzers kept (tests/sim_image/fuzz_regressions) go through the grey/pixel map and bitmap loaders
 * the way the harnesses drive them, under the sanitizers of the test build. */
#include <gtest/gtest.h>

#include <dirent.h>

#include <string>

#include "image_formats.h"

namespace {

void ThroughPnm(const std::string &path) {
    const PXMLOADFORMAT formats[] = {{CM_UNDEF, SUBS_UNDEF, true, LOADBD_DOWNSIZE},
                                     {CM_RGGB, SUBS_UNDEF, true, LOADBD_SIGNED},
                                     {CM_RGBW, SUBS_UNDEF, false, LOADBD_SIGNED}};
    for (int k = -1; k < 3; ++k) {
        PXMLOADFORMAT lf = k >= 0 ? formats[k] : PXMLOADFORMAT();
        CImagePxm im;
        if (im.LoadFileHeader(path.c_str(), k >= 0 ? &lf : nullptr))
            continue;
        im.LoadFileData(1);
        im.LoadFileData(0);
    }
}

void ThroughBmp(const std::string &path) {
    CImageBmp im;
    if (im.LoadFileHeader(path.c_str(), nullptr))
        return;
    im.LoadFileData(0);
    im.LoadFileData(0);
}

TEST(FormatFuzz, KeptInputsLoadWithoutFault) {
    const std::string dir = std::string(NORVA_SIM_IMAGE_TEST_DIR) + "/fuzz_regressions";
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    int files = 0;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        ++files;
        ThroughPnm(dir + "/" + e->d_name);
        ThroughBmp(dir + "/" + e->d_name);
    }
    closedir(d);
    EXPECT_GT(files, 0);
}

/* The bitmap fuzz target starts from these seeds: each must pass the headers and decode whole, or the fuzzer would
 * spend its time on the headers. */
TEST(FormatFuzz, BitmapSeedsLoadWhole) {
    const std::string dir = std::string(NORVA_FUZZ_CORPUS_DIR) + "/bmp";
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    int files = 0;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        ++files;
        const std::string path = dir + "/" + e->d_name;
        CImageBmp im;
        EXPECT_EQ(im.LoadFileHeader(path.c_str(), nullptr), nullptr) << e->d_name;
        EXPECT_EQ(im.LoadFileData(0), nullptr) << e->d_name;
        EXPECT_EQ(im.width, 5) << e->d_name;
        EXPECT_EQ(im.height, 3) << e->d_name;
    }
    closedir(d);
    EXPECT_GE(files, 7);
}

} // namespace
