/* Paths that are not files to read or write, given to every reader and writer of the image library: each answers at
 * once, in a child process that must finish within seconds, with the message of a file that does not open. */
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "format_test_helpers.h"
#include "image_formats.h"
#include "savefile.h"
#include "support/hostile_files.h"

namespace {

using fmttest::Str;
using norva_test::HostileFiles;

/** A header load, then frame 0 when the header loaded: the first failure, or "(success)". */
std::string HeaderThenFrame(CImageBase &im, const char *path, void *format) {
    const char *res = im.LoadFileHeader(path, format);
    return Str(res ? res : im.LoadFileData(0));
}

/** A reader of the library: what it answers for a path that does not open, and for an empty file. */
struct Reader {
    const char *name;
    std::string (*answer)(const char *path);
    const char *refused;
    const char *empty;
};

const Reader kReaders[] = {
    {"PNM",
     [](const char *p) {
         CImagePxm im;
         return HeaderThenFrame(im, p, nullptr);
     },
     "Error opening file", "Invalid file header"},
    {"BMP",
     [](const char *p) {
         CImageBmp im;
         return HeaderThenFrame(im, p, nullptr);
     },
     "Error opening file", "Error reading file header"},
    {"raw YUV",
     [](const char *p) {
         CImageYuv::yuvLoadFormatStr lf = {4, 2, SUBS_420, 8, CImageYuv::PLANEFMT_PLANAR, false};
         CImageYuv im;
         return HeaderThenFrame(im, p, &lf);
     },
     "Error opening file", "File too short for a single frame"},
    {"plain raw",
     [](const char *p) {
         PLRAWLOADFORMAT lf = {4, 2, 8, CM_RGGB, SUBS_RGGB};
         CImagePlRaw im;
         return HeaderThenFrame(im, p, &lf);
     },
     "Error opening file", "Error reading frame data"},
    {"N-bit raw detection", [](const char *p) { return std::string(CImageNRaw::DetectFormat(p) ? "NRAW" : "other"); },
     "other", "other"},
    {"N-bit raw",
     [](const char *p) {
         CImageNRaw im;
         return HeaderThenFrame(im, p, nullptr);
     },
     "Error opening file", "Error loading header"},
    {"NRV",
     [](const char *p) {
         CImageNrv im;
         return HeaderThenFrame(im, p, nullptr);
     },
     "Error opening file", "Invalid NRV file"},
};

/** The Aptina reader takes a ".raw" name and reads "<name>_info.txt" beside it: either can be the hostile one. */
struct AptinaCase {
    const char *name;
    bool hostileInfo; /* else the raw file is the hostile path and its info file is valid */
    std::string (*answer)(const char *raw);
    const char *refused;
    const char *empty;
};

const AptinaCase kAptina[] = {
    {"Aptina detection (info file)", true,
     [](const char *raw) { return std::string(CImageAptinaRaw::DetectFormat(raw) ? "Aptina" : "other"); }, "other",
     "Aptina"},
    {"Aptina (info file)", true,
     [](const char *raw) {
         CImageAptinaRaw im;
         return HeaderThenFrame(im, raw, nullptr);
     },
     "Error reading _info file", "Incomplete header"},
    {"Aptina (raw file)", false,
     [](const char *raw) {
         CImageAptinaRaw im;
         return HeaderThenFrame(im, raw, nullptr);
     },
     "Error opening file", "Error reading frame data"},
};

TEST(HostilePaths, EveryImageReaderAnswersAtOnce) {
    const HostileFiles hostile;
    if (!hostile.skipped().empty())
        std::printf("not checked: %s\n", hostile.skipped().c_str());
    for (const HostileFiles::Entry &e : hostile.all()) {
        const bool empty = e.kind == HostileFiles::EMPTY;
        for (const Reader &r : kReaders) {
            EXPECT_TRUE(norva_test::ReturnsTrueWithin(
                10, e, [&](const char *path) { return r.answer(path) == (empty ? r.empty : r.refused); }))
                << r.name << " given the " << e.what << " (expected \"" << (empty ? r.empty : r.refused) << "\")";
        }
        /* The hostile path is reached through a link named as the reader wants its files. */
        for (size_t i = 0; i < sizeof(kAptina) / sizeof(kAptina[0]); ++i) {
            const AptinaCase &a = kAptina[i];
            const std::string stem = hostile.folder() + "/aptina" + std::to_string(e.kind) + "_" + std::to_string(i);
            const std::string raw = stem + ".raw", info = stem + "_info.txt";
            if (a.hostileInfo) {
                ASSERT_EQ(symlink(e.path.c_str(), info.c_str()), 0);
            } else {
                FILE *f = std::fopen(info.c_str(), "w");
                ASSERT_NE(f, nullptr);
                std::fputs("[Raw Image Format]\nIMAGE=4,2,BAYER-10\n", f);
                std::fclose(f);
                ASSERT_EQ(symlink(e.path.c_str(), raw.c_str()), 0);
            }
            EXPECT_TRUE(norva_test::ReturnsTrueWithin(
                10, e, [&](const char *) { return a.answer(raw.c_str()) == (empty ? a.empty : a.refused); }))
                << a.name << " given the " << e.what << " (expected \"" << (empty ? a.empty : a.refused) << "\")";
        }
    }
}

/* Writers: a small image of the model each format saves, written through the format's own save format. */
template <class Image, class Format> std::string SaveSmall(const char *path, CM_xxx model, SUBS_xxx subs) {
    Image im;
    if (!im.CreateNewImage(4, 2, model, subs, nullptr, nullptr))
        return "no image";
    Format sf;
    if (const char *res = Image::GetSaveFormat(&sf, &im))
        return res;
    return Str(im.SaveSingleFrameImage(path, &sf));
}

struct Writer {
    const char *name;
    std::string (*save)(const char *path);
    const char *refused;
};

const Writer kWriters[] = {
    {"PNM", [](const char *p) { return SaveSmall<CImagePxm, PXMSAVEFORMAT>(p, CM_RGB, SUBS_UNDEF); },
     "Error creating file"},
    {"BMP", [](const char *p) { return SaveSmall<CImageBmp, BMPSAVEFORMAT>(p, CM_RGB, SUBS_UNDEF); },
     "Error creating file"},
    {"raw YUV", [](const char *p) { return SaveSmall<CImageYuv, YUVSAVEFORMAT>(p, CM_YUV, SUBS_420); },
     "Error creating file"},
    {"plain raw", [](const char *p) { return SaveSmall<CImagePlRaw, PLRAWSAVEFORMAT>(p, CM_RGGB, SUBS_RGGB); },
     "Error creating file"},
    {"NRV",
     [](const char *p) {
         /* The NRV writer saves the image its format names. */
         CImageBase im;
         if (!im.CreateNewImage(4, 2, CM_GRAY, SUBS_UNDEF, nullptr, nullptr))
             return std::string("no image");
         NRVSAVEFORMAT sf;
         if (const char *res = CImageNrv::GetSaveFormat(&sf, &im))
             return std::string(res);
         CImageNrv nrv;
         return Str(nrv.SaveSingleFrameImage(p, &sf));
     },
     "Error creating file"},
    {"capture file",
     [](const char *p) {
         SaveFile file;
         SaveFile_init(&file);
         const QOR_RESULT ret = SaveFile_open(&file, p);
         SaveFile_close(&file);
         SaveFile_destroy(&file);
         return std::to_string(ret);
     },
     "3"},
    {"capture NRV",
     [](const char *p) {
         SaveFile file;
         SaveFile_init(&file);
         const SimImageInfo info{10, 4, 2, 0, SimImage_RGGB, 33, 2.0, 0};
         const QOR_RESULT ret = SaveFile_openNRV(&file, p, &info);
         SaveFile_close(&file);
         SaveFile_destroy(&file);
         return std::to_string(ret);
     },
     "3"},
};

/** A FIFO or a directory is refused at once; /dev/null, a character device, takes what is written. */
TEST(HostilePaths, EveryImageWriterRefusesWhatIsNotAFileAtOnce) {
    const HostileFiles hostile;
    for (const Writer &w : kWriters) {
        for (const HostileFiles::Entry &e : hostile.entries()) {
            if (e.kind == HostileFiles::ENDLESS_DEVICE)
                continue;
            EXPECT_TRUE(norva_test::ReturnsTrueWithin(10, [&] { return w.save(e.path.c_str()) == w.refused; }))
                << w.name << " into the " << e.what << " (expected \"" << w.refused << "\")";
        }
        const std::string ok = w.refused[0] == 'E' ? "(success)" : "0";
        EXPECT_TRUE(norva_test::ReturnsTrueWithin(10, [&] { return w.save("/dev/null") == ok; }))
            << w.name << " into /dev/null";
    }
}

} // namespace
