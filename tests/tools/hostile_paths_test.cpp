// The tools given paths that are not files to read or write: each answers at once with exit status 1, reports a
// write that did not reach the disk (/dev/full, or a file-size limit below its output) and leaves no partial file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/hostile_files.h"

namespace {

using norva_test::ExitStatusWithin;
using norva_test::HostileFiles;

/** Generous: the tools answer at once, but a sanitizer build on a busy machine is slow to start. */
constexpr unsigned kSeconds = 60;
/** Below every output written here. */
constexpr long long kFileLimit = 16 * 1024;

void writeFile(const std::string &path, const std::string &bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(std::fclose(f), 0);
}

bool exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

/** A path `name` in the folder that leads to `target` (a symbolic link), so that it carries the extension a tool
 *  reads its kind from. */
std::string linkTo(const HostileFiles &h, const std::string &target, const std::string &name) {
    const std::string link = h.folder() + "/" + name;
    unlink(link.c_str());
    EXPECT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
    return link;
}

class ToolPaths : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(hostile_.folder().empty());
        // The tools load GLib and GStreamer, whose caches the leak checker would count against the exit status.
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
#ifdef NORVA_PLUGIN_DIR
        setenv("GST_PLUGIN_PATH_1_0", NORVA_PLUGIN_DIR, 1);
        setenv("GST_REGISTRY", (hostile_.folder() + "/registry.bin").c_str(), 1);
        setenv("GST_REGISTRY_FORK", "no", 1);
#endif
    }
    HostileFiles hostile_;
};

/** The targets a writer meets: a file (written whole), a file under a size limit, /dev/full, a FIFO, a folder. */
struct WriteTarget {
    const char *what;
    int status;          // exit status expected
    long long fileLimit; // -1: none
    bool fileKept;       // the file written stays
};
const WriteTarget kWriteTargets[] = {
    {"a file", 0, -1, true},     {"a file under a size limit below the output", 1, kFileLimit, false},
    {"/dev/full", 1, -1, false}, {"a FIFO", 1, -1, false},
    {"a folder", 1, -1, false},
};

/** The path of a target for an output named `name` (its extension chooses the kind written). */
std::string targetPath(const HostileFiles &h, const WriteTarget &t, const std::string &name) {
    const std::string what = t.what;
    if (what == "/dev/full")
        return linkTo(h, "/dev/full", "full-" + name);
    if (what == "a FIFO")
        return linkTo(h, h.folder() + "/fifo", "fifo-" + name);
    if (what == "a folder")
        return linkTo(h, h.folder() + "/folder", "folder-" + name);
    const std::string path = h.folder() + "/out-" + name;
    unlink(path.c_str());
    return path;
}

/** Runs a writing tool against each target; `argsFor` gives its command line for an output path. */
template <class Args> void checkWriter(const HostileFiles &h, const std::string &name, Args argsFor) {
    for (const WriteTarget &t : kWriteTargets) {
        const std::string path = targetPath(h, t, name);
        EXPECT_EQ(ExitStatusWithin(kSeconds, argsFor(path), false, t.fileLimit), t.status)
            << argsFor(path)[0] << " writing " << name << " into " << t.what;
        struct stat st;
        if (std::string(t.what) == "/dev/full") {
            EXPECT_TRUE(stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode)) << "/dev/full stays a device";
        } else if (t.fileLimit >= 0 || t.fileKept) {
            EXPECT_EQ(exists(path), t.fileKept) << name << " into " << t.what;
        }
    }
}

#ifdef NORVA_IMGCONV
/** A grey map of 256 x 256 8-bit samples (64 KiB of data). */
std::string greyMap() {
    std::string pgm = "P5\n256 256\n255\n";
    for (int i = 0; i < 256 * 256; ++i)
        pgm.push_back(static_cast<char>(i * 7));
    return pgm;
}

TEST_F(ToolPaths, ImageConverterRefusesInputsThatAreNotFilesAtOnce) {
    const std::string never = hostile_.folder() + "/never.pgm";
    const char *const kinds[] = {"nrv", "pgm", "bmp", "16x16_420p.yuv", "16x16_rggb.raw"};
    for (const HostileFiles::Entry &e : hostile_.all()) {
        for (const char *kind : kinds) {
            const std::string in = linkTo(hostile_, e.path, std::string("in-") + std::to_string(e.kind) + "." + kind);
            EXPECT_EQ(ExitStatusWithin(kSeconds, {NORVA_IMGCONV, in, never}, e.unprivileged), 1)
                << "reading the " << e.what << " as " << kind;
        }
    }
    EXPECT_FALSE(exists(never));
    if (!hostile_.skipped().empty())
        std::printf("not checked: %s\n", hostile_.skipped().c_str());
}

TEST_F(ToolPaths, ImageConverterReportsOutputsThatDidNotReachTheDisk) {
    const std::string grey = hostile_.folder() + "/grey.pgm";
    writeFile(grey, greyMap());
    std::string yuvBytes(256 * 256 * 3 / 2, '\x40');
    const std::string yuv = hostile_.folder() + "/clip_256x256_420p.yuv";
    writeFile(yuv, yuvBytes);
    const struct {
        const char *output;
        std::vector<std::string> options; // before the input and output
        std::string input;
    } rows[] = {
        {"image.pgm", {}, grey},
        {"image.ppm", {"--plain"}, grey},
        {"image.bmp", {}, grey},
        {"image.nrv", {"--bayer", "GRBG"}, grey},
        {"image.raw", {"--bayer", "RGGB"}, grey},
        {"image.yuv", {}, yuv},
    };
    for (const auto &r : rows)
        checkWriter(hostile_, r.output, [&](const std::string &out) {
            std::vector<std::string> args = {NORVA_IMGCONV};
            args.insert(args.end(), r.options.begin(), r.options.end());
            args.push_back(r.input);
            args.push_back(out);
            return args;
        });
}
#endif

#ifdef NORVA_SCENE
TEST_F(ToolPaths, SceneWriterReportsOutputsThatDidNotReachTheDisk) {
    checkWriter(hostile_, "scene.nrv", [](const std::string &out) {
        return std::vector<std::string>{NORVA_SCENE, out, "128", "128", "2"};
    });
}
#endif

#if defined(NORVA_FRAMES) && defined(NORVA_PLUGIN_DIR)
/** The CSV file is opened once the pipeline is built: a FIFO or a folder is refused at once, not waited on. */
TEST_F(ToolPaths, FrameRecorderRefusesACsvPathThatIsNotAFileAtOnce) {
    for (const char *name : {"fifo", "folder"}) {
        const std::string csv = hostile_.folder() + "/" + name;
        EXPECT_EQ(ExitStatusWithin(kSeconds, {NORVA_FRAMES, "--csv", csv, "--", "norvasrc", "!", "fakesink"}), 1)
            << "--csv " << name;
    }
}
#endif

#ifdef NORVA_CALIBRATE
TEST_F(ToolPaths, CalibrationRefusesABaseSetupThatIsNotAFileAtOnce) {
    const std::string out = hostile_.folder() + "/calibration";
    for (const HostileFiles::Entry &e : hostile_.all()) {
        if (e.kind == HostileFiles::EMPTY)
            continue; // an empty setup file is a setup file
        EXPECT_EQ(ExitStatusWithin(kSeconds, {NORVA_CALIBRATE, "--base", e.path, out}, e.unprivileged), 1)
            << "--base the " << e.what;
    }
    EXPECT_FALSE(exists(out));
}
#endif

} // namespace
