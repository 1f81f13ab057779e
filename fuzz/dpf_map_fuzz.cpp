/* libFuzzer harness over the defect-map reader: the input is served as a file (an in-memory file reached
 * by its /proc path, since the reader opens files by name); whatever loads must hold exactly the whole
 * records of the input, each within the 13-bit coordinates. */
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "norvacommon/dpf_map.h"
#include "norvacommon/userlog.h"

namespace {

std::string InputPath() {
    static std::string path;
    if (path.empty()) {
        const int fd = memfd_create("dpf_map_fuzz_input", 0);
        if (fd >= 0)
            path = "/proc/self/fd/" + std::to_string(fd);
        LOG_SetLevel(LOG_LEVEL_SILENCE);
    }
    return path;
}

bool Serve(const std::string &path, const uint8_t *data, size_t size) {
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = InputPath();
    if (path.empty() || !Serve(path, data, size))
        return 0;
    QOR_UINT16 *map = nullptr;
    QOR_UINT32 n = 0;
    if (DPF_Load_bin(&map, &n, path.c_str()) == QOR_RES_OK) {
        if (n != size / 4 || (n == 0) != (map == nullptr))
            abort();
        for (QOR_UINT32 i = 0; i < 2 * n; i++)
            if (map[i] > 8191)
                abort();
    }
    free(map);
    return 0;
}
