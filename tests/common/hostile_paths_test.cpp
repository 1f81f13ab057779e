// Paths that are not files to read or write: every reader and writer of the common library answers at once.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "norvacommon/dpf_map.h"
#include "norvacommon/dyncmd.h"
#include "norvacommon/lshgrid.h"
#include "norvacommon/regular_file.h"
#include "support/hostile_files.h"
#include "support/output_capture.h"

namespace {

using norva_test::contains;
using norva_test::HostileFiles;
using norva_test::logOf;

/** The errno a reading open leaves for each kind of hostile path; 0 where the open succeeds (the empty file). */
int readingErrno(HostileFiles::Kind kind) {
    switch (kind) {
    case HostileFiles::MISSING:
        return ENOENT;
    case HostileFiles::DIRECTORY:
        return EISDIR;
    case HostileFiles::FIFO:
    case HostileFiles::ENDLESS_DEVICE:
        return EINVAL;
    case HostileFiles::UNREADABLE:
        return EACCES;
    case HostileFiles::EMPTY:
        break;
    }
    return 0;
}

/** A reader of the common library: true when it answers a hostile path as it should. */
struct Reader {
    const char *name;
    std::function<bool(const HostileFiles::Entry &)> answers;
};

const Reader kReaders[] = {
    {"QOR_OpenRegularFile",
     [](const HostileFiles::Entry &e) {
         errno = 0;
         FILE *f = QOR_OpenRegularFile(e.path.c_str(), "rb");
         if (f == nullptr)
             return errno == readingErrno(e.kind);
         const bool atEnd = std::fgetc(f) == EOF;
         std::fclose(f);
         return e.kind == HostileFiles::EMPTY && atEnd;
     }},
    {"QOR_OpenRegularFd",
     [](const HostileFiles::Entry &e) {
         errno = 0;
         const int fd = QOR_OpenRegularFd(e.path.c_str());
         if (fd < 0)
             return errno == readingErrno(e.kind);
         char c;
         const bool atEnd = read(fd, &c, 1) == 0;
         close(fd);
         return e.kind == HostileFiles::EMPTY && atEnd;
     }},
    // The registry reads an empty file as no tokens; a path that exists but cannot be read is named.
    {"DYNCMD_AddFile",
     [](const HostileFiles::Entry &e) {
         QOR_RESULT ret = QOR_RES_FAILED;
         const std::string log = logOf([&] { ret = DYNCMD_AddFile(e.path.c_str(), "#"); });
         QOR_UINT32 unknown = 99;
         if (e.kind == HostileFiles::EMPTY)
             return ret == QOR_RES_OK &&
                    DYNCMD_RegisterParameter("-x", DYNCMDTYPE_COMMAND, "x", nullptr) == RET_NOT_FOUND &&
                    DYNCMD_HasUnregisteredElements(&unknown) == QOR_RES_OK && unknown == 0;
         const bool named = contains(log, "'" + e.path + "'") == (e.kind != HostileFiles::MISSING);
         return ret == QOR_RES_IN_PROGRESS && named;
     }},
    {"LSH_Load_bin",
     [](const HostileFiles::Entry &e) {
         LSH_GRID g = {};
         QOR_RESULT ret = QOR_RES_OK;
         const std::string log = logOf([&] { ret = LSH_Load_bin(&g, e.path.c_str()); });
         const bool nothing = g.apMatrix[0] == nullptr;
         LSH_Free(&g);
         if (e.kind == HostileFiles::EMPTY)
             return ret == QOR_RES_FAILED && nothing;
         return ret == QOR_RES_INVALID_PARAM && nothing && contains(log, "Failed to open file " + e.path);
     }},
    {"DPF_Load_bin",
     [](const HostileFiles::Entry &e) {
         QOR_UINT16 *map = nullptr;
         QOR_UINT32 n = 7;
         QOR_RESULT ret = QOR_RES_OK;
         const std::string log = logOf([&] { ret = DPF_Load_bin(&map, &n, e.path.c_str()); });
         std::free(map);
         if (e.kind == HostileFiles::EMPTY)
             return ret == QOR_RES_OK && map == nullptr && n == 0;
         return ret == QOR_RES_FAILED && map == nullptr && contains(log, "failed to open " + e.path);
     }},
};

TEST(HostilePaths, EveryReaderAnswersAtOnce) {
    const HostileFiles hostile;
    if (!hostile.skipped().empty())
        std::printf("not checked: %s\n", hostile.skipped().c_str());
    for (const Reader &r : kReaders) {
        for (const HostileFiles::Entry &e : hostile.all()) {
            EXPECT_TRUE(norva_test::ReturnsTrueWithin(10, e, [&](const char *) { return r.answers(e); }))
                << r.name << " given the " << e.what;
        }
    }
}

/** A writer of the common library, and its result when the file cannot be made. */
struct Writer {
    const char *name;
    QOR_RESULT (*write)(const LSH_GRID *, const char *);
};

/** Saves neither block on a FIFO nor write into a directory; /dev/null takes what they write. */
TEST(HostilePaths, GridSavesRefuseWhatIsNotAFileAtOnce) {
    const HostileFiles hostile;
    const Writer writers[] = {
        {"LSH_Save_bin", LSH_Save_bin}, {"LSH_Save_txt", LSH_Save_txt}, {"LSH_Save_pgm", LSH_Save_pgm}};
    for (const Writer &w : writers) {
        for (const HostileFiles::Entry &e : hostile.entries()) {
            if (e.kind == HostileFiles::ENDLESS_DEVICE)
                continue; // a character device is written as it is, like /dev/null below
            EXPECT_TRUE(norva_test::ReturnsTrueWithin(10,
                                                      [&] {
                                                          LSH_GRID g = {};
                                                          if (LSH_AllocateMatrix(&g, 2, 2, 16) != QOR_RES_OK)
                                                              return false;
                                                          QOR_RESULT ret = QOR_RES_OK;
                                                          const std::string log =
                                                              logOf([&] { ret = w.write(&g, e.path.c_str()); });
                                                          LSH_Free(&g);
                                                          return ret == QOR_RES_INVALID_PARAM && contains(log, e.path);
                                                      }))
                << w.name << " into the " << e.what;
        }
        EXPECT_TRUE(norva_test::ReturnsTrueWithin(10,
                                                  [&] {
                                                      LSH_GRID g = {};
                                                      const bool made = LSH_AllocateMatrix(&g, 2, 2, 16) == QOR_RES_OK;
                                                      const bool saved = made && w.write(&g, "/dev/null") == QOR_RES_OK;
                                                      LSH_Free(&g);
                                                      return saved;
                                                  }))
            << w.name << " into /dev/null";
    }
}

/** The writing open: what it makes of each kind of target. */
TEST(HostilePaths, WritingOpenTakesFilesAndCharacterDevicesOnly) {
    const HostileFiles hostile;
    const std::string fifo = hostile.folder() + "/fifo";
    const std::string dir = hostile.folder() + "/folder";
    const std::string existing = hostile.folder() + "/existing";
    {
        FILE *f = std::fopen(existing.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("old contents", f);
        std::fclose(f);
    }
    const struct {
        const char *what;
        std::string path;
        bool readerOnFifo;
        int expectedErrno; // 0: opened
    } cases[] = {
        {"FIFO nobody reads", fifo, false, ENXIO},
        {"FIFO with a reader", fifo, true, EINVAL},
        {"directory", dir, false, EISDIR},
        {"/dev/null", "/dev/null", false, 0},
        {"new file", hostile.folder() + "/new", false, 0},
        {"existing file", existing, false, 0},
    };
    for (const auto &c : cases) {
        EXPECT_TRUE(norva_test::ReturnsTrueWithin(10, [&] {
            // The reader holds the FIFO open without blocking, so that opening it for writing would not fail.
            const int reader = c.readerOnFifo ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -2;
            if (reader == -1)
                return false;
            errno = 0;
            FILE *f = QOR_CreateFile(c.path.c_str(), "wb");
            const int err = errno;
            if (f == nullptr)
                return err == c.expectedErrno;
            const bool written = std::fputs("x", f) >= 0;
            const bool closed = std::fclose(f) == 0;
            struct stat st;
            const bool sized = c.path == "/dev/null" || (stat(c.path.c_str(), &st) == 0 && st.st_size == 1);
            return c.expectedErrno == 0 && written && closed && sized;
        })) << c.what;
    }
    errno = 0;
    EXPECT_EQ(QOR_CreateFile(existing.c_str(), "r"), nullptr);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(QOR_OpenRegularFile(existing.c_str(), "w"), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

} // namespace

namespace {

/** Ending a write: a file whose data did not all land is reported and removed; a device is never removed. */
TEST(HostilePaths, ClosingAWrittenFileReportsLostDataAndRemovesThePartialFile) {
    const HostileFiles hostile;
    const std::string file = hostile.folder() + "/written";
    const struct {
        const char *what;
        std::string path;
        long long fileLimit; // -1: none
        bool discard;
        bool kept; // the close reports success and the file stays
    } cases[] = {
        {"a file", file, -1, false, true},
        {"a file the writer gives up", file, -1, true, false},
        {"a file under a size limit below its data", file, 1000, false, false},
        {"/dev/full", "/dev/full", -1, false, false},
        {"/dev/null", "/dev/null", -1, false, true},
    };
    for (const auto &c : cases) {
        std::remove(file.c_str());
        EXPECT_TRUE(norva_test::ReturnsTrueWithinFileLimit(10, c.fileLimit, [&] {
            FILE *f = QOR_CreateFile(c.path.c_str(), "wb");
            if (f == nullptr)
                return false;
            const std::string data(5000, 'x'); // within the stream's buffer: only the flush or close can fail
            std::fwrite(data.data(), 1, data.size(), f);
            errno = 0;
            const int ret = QOR_CloseCreatedFile(f, c.path.c_str(), c.discard);
            if (ret != (c.kept ? 0 : -1) || (!c.kept && errno == 0))
                return false;
            struct stat st;
            const bool present = stat(c.path.c_str(), &st) == 0;
            if (c.path[1] == 'd') // a device stays whatever happened
                return present && S_ISCHR(st.st_mode);
            return c.kept ? present && st.st_size == 5000 : !present;
        })) << c.what;
    }
    // A write that failed earlier (the stream's error flag) is reported although the close succeeds.
    FILE *f = QOR_CreateFile(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputc('x', f);
    std::fgetc(f); // reading a stream open for writing only sets its error flag
    ASSERT_NE(std::ferror(f), 0);
    EXPECT_EQ(QOR_CloseCreatedFile(f, file.c_str(), 0), -1);
    EXPECT_NE(access(file.c_str(), F_OK), 0);
}

} // namespace
