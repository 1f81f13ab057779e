/* libFuzzer harness over the NRV loaders: the header walk, frame decoding of every packing, the writer
 * given whatever loaded, and the data-generator input that rebuilds frames into its 16-bit buffer. The input is served as a file
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

std::string MemFilePath(const char *name) {
    const int fd = memfd_create(name, 0);
    return fd < 0 ? std::string() : "/proc/self/fd/" + std::to_string(fd);
}

std::string InputPath() {
    static std::string path;
    if (path.empty()) {
        path = MemFilePath("nrv_fuzz_input");
        LOG_SetLevel(LOG_LEVEL_SILENCE);
    }
    return path;
}

std::string OutputPath() {
    static const std::string path = MemFilePath("nrv_fuzz_output");
    return path;
}

bool Serve(const uint8_t *data, size_t size) {
    const std::string path = InputPath();
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!Serve(data, size))
        return 0;
    const std::string path = InputPath();

    CImageNrv im;
    if (!im.LoadFileHeader(path.c_str(), nullptr)) {
        const int frames = im.GetNFrames();
        for (int f = 0; f < frames && f < 4; ++f)
            im.LoadFileData(f);
        im.LoadFileData(frames); /* one past the end */
        /* Whatever loads is written again, with its own format and without one, and read back. */
        const std::string out = OutputPath();
        if (!out.empty() && !im.LoadFileData(0)) {
            NRVSAVEFORMAT fmt;
            CImageNrv::GetSaveFormat(&fmt, &im);
            CImageNrv saver;
            if (!saver.SaveSingleFrameImage(out.c_str(), &fmt)) {
                CImageNrv back;
                if (!back.LoadFileHeader(out.c_str(), nullptr))
                    back.LoadFileData(0);
            }
            im.SaveSingleFrameImage(out.c_str(), nullptr);
        }
    }

    sSimImageIn in;
    SimImageIn_init(&in);
    if (SimImageIn_loadNRV(&in, path.c_str()) == QOR_RES_OK)
        for (QOR_UINT32 f = 0; f < in.nFrames && f < 3; ++f)
            SimImageIn_convertFrame(&in, static_cast<QOR_INT32>(f));
    SimImageIn_close(&in);

    unsigned segments = 0, frames = 0;
    SimImageIn_checkMultiSegment(path.c_str(), &segments, &frames);
    return 0;
}
