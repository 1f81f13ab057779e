/* Damaged NRV files: each is refused with its message, quickly, and leaves the image empty. The files are
 * made by the Python oracle ("bad" command) so that the damage is written independently of the reader. */
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sys/stat.h>

#include "image_nrv.h"
#include "nrv_test_helpers.h"
#include "sim_image.h"
#include "support/hostile_files.h"

namespace {

struct BadFile {
    const char *kind;
    const char *headerMessage; /* null: the header loads */
    const char *dataMessage;   /* for a header that loads: the result of loading frame 0 (null: it loads) */
};

const BadFile kBadFiles[] = {
    {"good", nullptr, nullptr},
    {"short", "Invalid NRV file", nullptr},
    {"magic", "Invalid segment header", nullptr},
    {"version", "Unsupported file version", nullptr},
    {"entries3", "Unexpected header (table size too small)", nullptr},
    {"entry_blanks", "Error in header (table format)", nullptr},
    {"entry_text", "Error in header (table format)", nullptr},
    {"meta_zero", "Missing meta data section", nullptr},
    {"pixels_zero", "Missing pixel data section", nullptr},
    {"meta_beyond", "Invalid meta data offset and/or size", nullptr},
    {"pixels_beyond", "Invalid image data offset and/or size", nullptr},
    {"meta_too_large", "Meta data size too large", nullptr},
    {"truncated", "Invalid image data offset and/or size", nullptr},
    {"second_truncated", "Invalid image data offset and/or size", nullptr},
    {"segment_beyond", "File appears truncated", nullptr},
    {"extra_short", "Can't read segment header in multi-segment file (extra data at end of file?)", nullptr},
    {"extra_garbage", "Invalid segment header", nullptr},
    {"no_equals", "Error loading meta data", nullptr},
    {"frame_size_zero", "Invalid frame size", nullptr},
    {"frame_size_negative", "Invalid frame size", nullptr},
    {"colour", "Invalid colour format", nullptr},
    /* A carriage return stays part of the value: a file with CR LF lines is not an RGGB file. */
    {"colour_cr", "Invalid colour format", nullptr},
    {"pixel_format", "Invalid pixel format", nullptr},
    {"group_missing", "Invalid group packing value", nullptr},
    {"group_zero", "Invalid group packing value", nullptr},
    {"many_entries", nullptr, nullptr},
    {"zero_subsampling", nullptr, nullptr},
    /* Guards against crafted values: negative table numbers, segments that do not advance, sizes that would
     * allocate without bound or walk for ever, bit depths whose shifts are undefined. */
    {"negative_meta", "Error in header (table format)", nullptr},
    {"negative_pair", "Error in header (table format)", nullptr},
    {"zero_segment", "Error in header (table format)", nullptr},
    {"group_huge", "Invalid group packing value", nullptr},
    {"huge_width", "Invalid frame size", nullptr},
    {"zero_width", "Invalid frame size", nullptr},
    {"bitdepth_zero", "Invalid pixel format", nullptr},
    {"bitdepth_32", "Invalid pixel format", nullptr},
    {"bitdepth_40", "Invalid pixel format", nullptr},
    {"frames_outside", "Invalid image data offset and/or size", nullptr},
    {"huge_height_fits_listed", nullptr, "Invalid frame size"},
    {"line_align_huge", nullptr, "Invalid frame size"},
    {"plane_format_many", nullptr, "Invalid plane format"},
    {"plane_format_short", nullptr, "Invalid plane format"},
};

std::string Str(const char *s) { return s ? s : "(success)"; }

TEST(NrvBadInput, EachDamagedFileIsRefusedWithItsMessageWithinASecond) {
    const std::string dir = nrvtest::TempDir("bad_input");
    std::string kinds, out;
    for (const BadFile &row : kBadFiles)
        kinds += std::string(" ") + row.kind;
    ASSERT_EQ(nrvtest::RunOracle("bad " + dir + kinds, &out), 0) << out;
    for (const BadFile &row : kBadFiles) {
        SCOPED_TRACE(row.kind);
        const std::string path = dir + "/" + row.kind + ".nrv";

        const auto start = std::chrono::steady_clock::now();
        CImageNrv im;
        const char *msg = im.LoadFileHeader(path.c_str(), nullptr);
        EXPECT_EQ(Str(msg), Str(row.headerMessage));
        if (msg) {
            EXPECT_FALSE(im.IsHeaderLoaded());
            EXPECT_EQ(im.GetNSegments(), 0);
        } else {
            msg = im.LoadFileData(0);
            EXPECT_EQ(Str(msg), Str(row.dataMessage));
            if (msg) {
                EXPECT_FALSE(im.IsDataLoaded()) << "a failed frame read keeps no planes";
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 1.0);
    }
}

TEST(NrvBadInput, MissingFileAndFrameOutOfRange) {
    CImageNrv im;
    EXPECT_EQ(Str(im.LoadFileHeader("sim_image_tmp/does/not/exist.nrv", nullptr)), "Error opening file");
    EXPECT_EQ(Str(im.LoadFileData(0)), "File header not loaded");

    const std::string dir = nrvtest::TempDir("bad_frame");
    const std::string path = dir + "/good.nrv";
    ASSERT_EQ(nrvtest::RunOracle("bad " + dir + " good", nullptr), 0);
    ASSERT_EQ(im.LoadFileHeader(path.c_str(), nullptr), nullptr);
    EXPECT_EQ(Str(im.LoadFileData(1)), "Invalid frame number");
    EXPECT_EQ(Str(im.LoadFileData(-1)), "Invalid frame number");
    /* The file is reopened for every frame: once it is gone, reading fails cleanly. */
    std::remove(path.c_str());
    EXPECT_EQ(Str(im.LoadFileData(0)), "Error opening file");
}

/* What is not a regular file is refused at once, as a file that does not open: a FIFO would block the open and
 * every read, /dev/zero would never end, a directory cannot be read. Each reader runs in a child process that
 * must answer within seconds. */
TEST(NrvBadInput, WhatIsNotARegularFileIsRefusedAtOnce) {
    const norva_test::HostileFiles hostile;
    ASSERT_EQ(hostile.entries().size(), 3u);
    struct Reader {
        const char *name;
        bool (*refuses)(const char *path);
    } readers[] = {
        {"LoadFileHeader",
         [](const char *path) {
             CImageNrv im;
             return Str(im.LoadFileHeader(path, nullptr)) == "Error opening file" && !im.IsHeaderLoaded();
         }},
        {"SimImageIn_loadNRV",
         [](const char *path) {
             sSimImageIn in;
             SimImageIn_init(&in);
             const bool refused = SimImageIn_loadNRV(&in, path) == QOR_RES_FAILED && in.loadFromNRV == nullptr;
             SimImageIn_close(&in);
             return refused;
         }},
        {"SimImageIn_checkMultiSegment",
         [](const char *path) {
             unsigned segments = 0, frames = 0;
             return SimImageIn_checkMultiSegment(path, &segments, &frames) == QOR_RES_FAILED;
         }},
    };
    for (const auto &h : hostile.entries()) {
        for (const auto &r : readers) {
            EXPECT_TRUE(norva_test::ReturnsTrueWithin(10, [&] { return r.refuses(h.path.c_str()); }))
                << r.name << " on a " << h.what;
        }
    }

    /* Frames are read through a file opened again by name: a FIFO put in the file's place is refused too. */
    const std::string dir = nrvtest::TempDir("hostile_frames");
    const std::string path = dir + "/good.nrv";
    ASSERT_EQ(nrvtest::RunOracle("bad " + dir + " good", nullptr), 0);
    EXPECT_TRUE(norva_test::ReturnsTrueWithin(10, [&] {
        CImageNrv im;
        if (im.LoadFileHeader(path.c_str(), nullptr) != nullptr || std::remove(path.c_str()) != 0 ||
            mkfifo(path.c_str(), 0600) != 0)
            return false;
        return Str(im.LoadFileData(0)) == "Error opening file";
    }));
}

} // namespace
