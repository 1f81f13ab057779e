/* libFuzzer harness over the board-file reader: the input is the user's board file ($HOME/.norva/boardcfg/
 * default.cfg, a link to an in-memory file), read for sensor slots 0 and 1. Every read ends in 0 or 11; a slot that
 * reads has a positive clock, a divider that is not 0, an I2C path "/dev/i2c-<n>", and leaves the parameter
 * registry empty for the next user. */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_file.h"
#include "norvacommon/dyncmd.h"
#include "sensorapi/board_config.h"

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

char g_home[] = "/tmp/norva-board-fuzz-XXXXXX";

void removeHome() {
    const std::string home = g_home;
    unlink((home + "/.norva/boardcfg/default.cfg").c_str());
    rmdir((home + "/.norva/boardcfg").c_str());
    rmdir((home + "/.norva").c_str());
    rmdir(home.c_str());
}

/** A HOME of the harness's own whose board file is the input; set up once, removed at exit. */
const std::string &BoardInput() {
    static std::string input;
    if (!input.empty())
        return input;
    input = fuzzfile::InputPath("board_config_fuzz_input");
    check(!input.empty() && mkdtemp(g_home) != nullptr);
    std::atexit(removeHome);
    const std::string home = g_home;
    check(mkdir((home + "/.norva").c_str(), 0700) == 0 && mkdir((home + "/.norva/boardcfg").c_str(), 0700) == 0);
    // The link names the descriptor of this process: each run makes its own folder.
    check(symlink(input.c_str(), (home + "/.norva/boardcfg/default.cfg").c_str()) == 0);
    check(setenv("HOME", home.c_str(), 1) == 0 && setenv("NORVA_PLATFORM", "hw", 1) == 0);
    return input;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string &path = BoardInput();
    if (!fuzzfile::Serve(path, data, size))
        return 0;
    for (QOR_UINT8 slot = 0; slot < 2; slot++) {
        board_params p;
        std::memset(&p, 0xA5, sizeof p);
        const QOR_RESULT ret = GetBoardParameters(slot, &p);
        check(ret == QOR_RES_OK || ret == QOR_RES_INVALID_PARAM);
        if (ret != QOR_RES_OK)
            continue;
        check(std::isfinite(p.clk_freq) && p.clk_freq > 0.0f);
        check(p.freq_divider != 0);
        check(std::memchr(p.i2c_dev_path, '\0', sizeof p.i2c_dev_path) != nullptr);
        check(std::strncmp(p.i2c_dev_path, "/dev/i2c-", 9) == 0);
    }
    // The registry is released after every read: a registration now finds no tokens (its message is kept out).
    unsigned probe = 0;
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO), null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    check(saved >= 0 && null >= 0 && dup2(null, STDERR_FILENO) >= 0);
    const DYNCMDLINE_RETURN_CODE probed = DYNCMD_RegisterParameter("-probe", DYNCMDTYPE_UINT, "probe", &probe);
    std::fflush(stderr);
    check(dup2(saved, STDERR_FILENO) >= 0);
    close(saved);
    close(null);
    check(probed == RET_ERROR);
    return 0;
}
