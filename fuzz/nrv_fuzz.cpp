/* libFuzzer harness over the NRV loaders: the header walk, frame decoding of every packing and the
 * data-generator input that rebuilds frames into its 16-bit buffer. The input is served as a file
 * (an in-memory file reached by its /proc path, since the loaders reopen files by name). */
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "image_nrv.h"
#include "norvacommon/userlog.h"
#include "sim_image.h"

namespace {

std::string InputPath() {
    static std::string path;
    if (path.empty()) {
        const int fd = memfd_create("nrv_fuzz_input", 0);
        if (fd < 0) return path;
        path = "/proc/self/fd/" + std::to_string(fd);
        LOG_SetLevel(LOG_LEVEL_SILENCE);
    }
    return path;
}

bool Serve(const uint8_t *data, size_t size) {
    const std::string path = InputPath();
    if (path.empty()) return false;
    const int fd = std::stoi(path.substr(path.rfind('/') + 1));
    if (ftruncate(fd, 0) != 0) return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!Serve(data, size)) return 0;
    const std::string path = InputPath();

    CImageNrv im;
    if (!im.LoadFileHeader(path.c_str(), nullptr)) {
        const int frames = im.GetNFrames();
        for (int f = 0; f < frames && f < 4; ++f) im.LoadFileData(f);
        im.LoadFileData(frames); /* one past the end */
    }

    sSimImageIn in;
    SimImageIn_init(&in);
    if (SimImageIn_loadNRV(&in, path.c_str()) == QOR_RES_OK)
        for (QOR_UINT32 f = 0; f < in.nFrames && f < 3; ++f) SimImageIn_convertFrame(&in, static_cast<QOR_INT32>(f));
    SimImageIn_close(&in);

    unsigned segments = 0, frames = 0;
    SimImageIn_checkMultiSegment(path.c_str(), &segments, &frames);
    return 0;
}
