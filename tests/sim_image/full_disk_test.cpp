/* Writers that meet a full disk: every format reports the failure with its own message and leaves no partial file
 * behind (a device such as /dev/full stays). Each save runs in a child process, under a file-size limit below the
 * image or into /dev/full; a third target, a file without limit, shows that the same save succeeds. */
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "format_test_helpers.h"
#include "image_formats.h"
#include "nrv_test_helpers.h"
#include "savefile.h"
#include "support/hostile_files.h"

namespace {

using fmttest::Str;

const QOR_INT32 kWidth = 640, kHeight = 480;
/** Below every image saved here (the smallest, an 8-bit grey map, takes 307,200 bytes). */
const long long kFileLimit = 64 * 1024;

/** Makes a 640 x 480 image of the model in `im`, every sample of channel c = c + 1. */
void Fill(CImageBase &im, CM_xxx model, SUBS_xxx subs, QOR_INT8 depth) {
    const QOR_INT8 depths[4] = {depth, depth, depth, depth};
    const PIXEL values[4] = {1, 2, 3, 4};
    ASSERT_TRUE(im.CreateNewImage(kWidth, kHeight, model, subs, depths, values));
}

/** Saves one image through a format class; null on success, else the message. */
template <class Image, class Format>
std::string SaveImage(CM_xxx model, SUBS_xxx subs, QOR_INT8 depth, Format format, const char *path) {
    Image im;
    Fill(im, model, subs, depth);
    return Str(im.SaveSingleFrameImage(path, &format));
}

std::string SavePgm(const char *path, CImagePxm::pxmTypeEnum type) {
    return SaveImage<CImagePxm>(CM_GRAY, SUBS_UNDEF, 8, PXMSAVEFORMAT{type, false}, path);
}

std::string SaveNrv(const char *path) {
    CImageBase im;
    Fill(im, CM_RGGB, SUBS_RGGB, 10);
    NRVSAVEFORMAT f;
    CImageNrv::GetSaveFormat(&f, &im);
    CImageNrv nrv; /* the format names the image to save */
    return Str(nrv.SaveSingleFrameImage(path, &f));
}

std::string SavePlainRaw(const char *path) {
    PLRAWSAVEFORMAT f = {10, {0, 0, 0, 0}, {1023, 1023, 1023, 1023}};
    return SaveImage<CImagePlRaw>(CM_RGGB, SUBS_GRBG, 10, f, path);
}

std::string SaveBmp(const char *path) {
    BMPSAVEFORMAT f = {{1.0, 1.0, 1.0}, {0, 0, 0}};
    return SaveImage<CImageBmp>(CM_RGB, SUBS_UNDEF, 8, f, path);
}

std::string SaveYuv(const char *path) {
    return SaveImage<CImageYuv>(CM_YUV, SUBS_420, 8, YUVSAVEFORMAT{PLANEFMT_PLANAR, false}, path);
}

/** The frame writer, plain or NRV: the first result that is not 0 of open, two frames and close, as text. */
std::string SaveFrames(const char *path, bool nrv) {
    SaveFile file;
    if (SaveFile_init(&file) != QOR_RES_OK)
        return "init";
    const SimImageInfo info = {10, kWidth, kHeight, 0, SimImage_RGGB, 33, 2.0, 0};
    std::vector<QOR_UINT16> frame(static_cast<size_t>(kWidth) * kHeight, 7);
    QOR_RESULT ret = nrv ? SaveFile_openNRV(&file, path, &info) : SaveFile_open(&file, path);
    for (int i = 0; i < 2 && ret == QOR_RES_OK; ++i)
        ret = SaveFile_write(&file, frame.data(), frame.size() * sizeof(QOR_UINT16));
    const QOR_RESULT closed = SaveFile_close(&file);
    SaveFile_destroy(&file);
    ret = ret != QOR_RES_OK ? ret : closed;
    return ret == QOR_RES_OK ? "(success)" : "result " + std::to_string(ret);
}

struct WriterCase {
    const char *what;
    std::string (*save)(const char *path);
    const char *failure; /* what the save gives when its data does not all reach the file */
};

void PrintTo(const WriterCase &c, std::ostream *os) { *os << c.what; }

const WriterCase kWriters[] = {
    {"PGM binary", [](const char *p) { return SavePgm(p, PPTYPE_PGMB); }, "Error writing image data"},
    {"PGM text", [](const char *p) { return SavePgm(p, PPTYPE_PGMT); }, "Error writing image data"},
    {"BMP", SaveBmp, "Error writing image data"},
    {"raw YUV", SaveYuv, "Error writing frame data"},
    {"plain raw", SavePlainRaw, "Error writing frame data"},
    {"NRV", SaveNrv, "Error writing file"},
    {"frame writer plain", [](const char *p) { return SaveFrames(p, false); }, "result 3"},
    {"frame writer NRV", [](const char *p) { return SaveFrames(p, true); }, "result 3"},
};

class FullDisk : public testing::TestWithParam<WriterCase> {};

TEST_P(FullDisk, WriteThatFailsIsReportedAndLeavesNoPartialFile) {
    const WriterCase &w = GetParam();
    const std::string dir = nrvtest::TempDir("full_disk_" + fmttest::TestName(w.what));
    const std::string file = dir + "/image";
    const struct {
        const char *what;
        std::string path;
        long long fileLimit;
        bool fails;
    } targets[] = {
        {"a file without limit", file, -1, false},
        {"a file under a size limit below the image", file, kFileLimit, true},
        {"/dev/full", "/dev/full", -1, true},
    };
    for (const auto &t : targets) {
        std::remove(file.c_str());
        const auto saveAndLook = [&] {
            const std::string got = w.save(t.path.c_str());
            if (got != (t.fails ? w.failure : "(success)")) {
                std::printf("%s into %s: %s\n", w.what, t.what, got.c_str());
                std::fflush(stdout);
                return false;
            }
            struct stat st;
            const bool present = stat(t.path.c_str(), &st) == 0;
            if (t.path == "/dev/full")
                return present && S_ISCHR(st.st_mode);
            return t.fails ? !present : present && st.st_size > kFileLimit;
        };
        EXPECT_TRUE(norva_test::ReturnsTrueWithinFileLimit(60, t.fileLimit, saveAndLook))
            << w.what << " into " << t.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Writers, FullDisk, testing::ValuesIn(kWriters), fmttest::CaseName<WriterCase>);

} // namespace
