// Fuzz target for the capture parameter loader: any parameter file must load or be refused without fault, and a
// set that loads must hold only what its entries can: at most two sensors, gaskets and blanking as read, and
// strings that are owned copies. The file lives in memory (memfd), reached by its /proc path since the loader
// opens files by name. The usage text goes to standard output, which the target sends to /dev/null.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "norvacommon/userlog.h"
#include "testparam.h"

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

const std::string &inputPath() {
    static std::string path;
    if (path.empty()) {
        const int fd = memfd_create("testparam_fuzz_input", MFD_CLOEXEC);
        check(fd >= 0);
        path = "/proc/self/fd/" + std::to_string(fd);
        LOG_SetLevel(LOG_LEVEL_SILENCE); // refusals log by design
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        check(null >= 0 && dup2(null, STDOUT_FILENO) >= 0);
        close(null);
    }
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string &path = inputPath();
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    check(fd >= 0);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        check(n > 0);
        done += static_cast<size_t>(n);
    }
    close(fd);

    TEST_PARAM param;
    char empty[] = "", source[] = "-source";
    std::string file = path;
    char *argv[] = {empty, source, &file[0]};
    const int ret = param.load_parameters(3, argv);
    check(ret == 0 || ret == 1);
    check(param.nSensors <= kTestParamContexts || ret == 1);
    for (unsigned c = 0; c < kTestParamContexts; c++) {
        (void)param.validate(static_cast<int>(c));
        check(param.nFrames[c] != 0);
    }
    param.printTestParameters();
    return 0;
}
