#ifndef NORVA_TEST_HOSTILE_FILES_H
#define NORVA_TEST_HOSTILE_FILES_H

#include <functional>
#include <string>
#include <vector>

namespace norva_test {

/**
 * Paths that a reader of files must refuse at once: a directory, a FIFO without a writer (opening it for reading
 * blocks, and so does every read), and /dev/zero (never ends). Made in a temporary folder, removed with the object.
 */
class HostileFiles {
public:
    struct Entry {
        const char *what;
        std::string path;
    };
    HostileFiles();
    ~HostileFiles();
    HostileFiles(const HostileFiles &) = delete;
    HostileFiles &operator=(const HostileFiles &) = delete;

    const std::vector<Entry> &entries() const { return entries_; }
    /** The temporary folder, for further files of a test. */
    const std::string &folder() const { return folder_; }

private:
    std::string folder_;
    std::vector<Entry> entries_;
};

/**
 * Runs `fn` in a child process and tells whether it returned true within `seconds`: a reader that blocks or
 * loops without end fails the check instead of hanging the test program. The child's standard error is kept out.
 */
bool ReturnsTrueWithin(unsigned seconds, const std::function<bool()> &fn);

} // namespace norva_test

#endif
