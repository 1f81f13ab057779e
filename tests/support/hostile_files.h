#ifndef NORVA_TEST_HOSTILE_FILES_H
#define NORVA_TEST_HOSTILE_FILES_H

#include <functional>
#include <string>
#include <vector>

namespace norva_test {

/**
 * Paths that a reader of files must refuse at once: a directory, a FIFO without a writer (opening it for reading
 * blocks, and so does every read), and /dev/zero (never ends); and, among all paths, a missing file, an empty file
 * and an unreadable one as well. Made in a temporary folder, removed with the object.
 */
class HostileFiles {
public:
    enum Kind { MISSING, DIRECTORY, FIFO, ENDLESS_DEVICE, EMPTY, UNREADABLE };
    struct Entry {
        const char *what;
        std::string path;
        Kind kind;
        /**
         * The path is read by a process without privileges: root reads a file whatever its mode, so the
         * unreadable file is unreadable only to another user.
         */
        bool unprivileged;
    };
    HostileFiles();
    ~HostileFiles();
    HostileFiles(const HostileFiles &) = delete;
    HostileFiles &operator=(const HostileFiles &) = delete;

    /** The paths that are not regular files: the directory, the FIFO and /dev/zero. */
    const std::vector<Entry> &entries() const { return entries_; }
    /** Every hostile path: a missing file, the entries above, an empty file and (see skipped()) an unreadable file. */
    const std::vector<Entry> &all() const { return all_; }
    /** Why the unreadable file is not among all(), or empty when it is. */
    const std::string &skipped() const { return skipped_; }
    /** The temporary folder, for further files of a test. */
    const std::string &folder() const { return folder_; }

private:
    std::string folder_;
    std::vector<Entry> entries_;
    std::vector<Entry> all_;
    std::string skipped_;
};

/**
 * Runs `fn` in a child process and tells whether it returned true within `seconds`: a reader that blocks or
 * loops without end fails the check instead of hanging the test program. The child's standard error is kept out.
 */
bool ReturnsTrueWithin(unsigned seconds, const std::function<bool()> &fn);

/**
 * The same with SIGXFSZ ignored and the files the child writes limited to `fileLimit` bytes: a write beyond the
 * limit fails with EFBIG instead of ending the child, as when a disk fills up. With /dev/full as the target (every
 * write fails with ENOSPC) these are the two ways a writer meets a full disk.
 */
bool ReturnsTrueWithinFileLimit(unsigned seconds, long long fileLimit, const std::function<bool()> &fn);

/**
 * Runs a program (argv[0] is its path) with its standard input, output and error kept out, and gives its exit
 * status, or -1 when it did not end by itself within `seconds` (the timer's signal ends it) or could not start.
 * It runs without privileges when `unprivileged` (see HostileFiles::Entry), and under a limit on the size of the
 * files it writes, as ReturnsTrueWithinFileLimit, when `fileLimit` is not negative.
 */
int ExitStatusWithin(unsigned seconds, const std::vector<std::string> &argv, bool unprivileged = false,
                     long long fileLimit = -1);

/** The same for a reader given one hostile path: the child gives up its privileges first when the entry asks so. */
bool ReturnsTrueWithin(unsigned seconds, const HostileFiles::Entry &entry,
                       const std::function<bool(const char *path)> &fn);

} // namespace norva_test

#endif
