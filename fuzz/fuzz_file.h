#ifndef NORVA_FUZZ_FILE_H
#define NORVA_FUZZ_FILE_H

/* Serves fuzzer inputs as files: the image loaders open files by name (and reopen them for every frame), so
 * each input is written into an in-memory file reached through its /proc path. */
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "norvacommon/userlog.h"

namespace fuzzfile {

inline std::string MemFilePath(const char *name) {
    const int fd = memfd_create(name, 0);
    return fd < 0 ? std::string() : "/proc/self/fd/" + std::to_string(fd);
}

/** Path of the input file (created, and logging silenced, on first use). */
inline const std::string &InputPath(const char *name) {
    static std::string path;
    if (path.empty()) {
        path = MemFilePath(name);
        LOG_SetLevel(LOG_LEVEL_SILENCE);
    }
    return path;
}

/** Path of a scratch file for what the harness writes. */
inline const std::string &OutputPath() {
    static const std::string path = MemFilePath("fuzz_output");
    return path;
}

/** Replaces the input file's content; false when it cannot. */
inline bool Serve(const std::string &path, const uint8_t *data, size_t size) {
    if (path.empty())
        return false;
    const int fd = std::stoi(path.substr(path.rfind('/') + 1));
    if (ftruncate(fd, 0) != 0)
        return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace fuzzfile

#endif
