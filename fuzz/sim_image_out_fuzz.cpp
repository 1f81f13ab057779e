/* libFuzzer harness over the data-generator image writer (SimImageOut_*): the input chooses the description
 * (colour model, bit depth, size, BGR order, exposure), the order of the calls (open or not, frames added and
 * written, close or clean) and the frame bytes with their sizes. Whatever the writer accepts and closes must read
 * back as an NRV file with one frame per frame written. Files live in memory (memfd), reached by their /proc path. */
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image_nrv.h"
#include "norvacommon/userlog.h"
#include "sim_image.h"

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

const std::string &OutputPath() {
    static const std::string path = [] {
        LOG_SetLevel(LOG_LEVEL_SILENCE);
        const int fd = memfd_create("sim_image_out_fuzz", MFD_CLOEXEC);
        return fd < 0 ? std::string() : "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

/** Reads the input from the front: a byte, or a little-endian 16-bit value, 0 once it runs out. */
struct Input {
    const uint8_t *data;
    size_t size;
    uint8_t byte() {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
    uint16_t word() { return static_cast<uint16_t>(byte() | byte() << 8); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string &path = OutputPath();
    if (path.empty())
        return 0;
    Input in{data, size};

    sSimImageOut out;
    Check(SimImageOut_init(&out) == QOR_RES_OK);
    out.info.eColourModel = static_cast<sSimImageColourModel>(in.byte() % 8); /* 7 is not a model */
    out.info.ui8BitDepth = in.byte() % 34;
    out.info.ui32Width = in.byte() % 40;
    out.info.ui32Height = in.byte() % 40;
    out.info.isBGR = in.byte() & 1;
    out.info.ui32ExposureTime = in.word();
    out.info.fGain = in.byte() / 16.0;
    const uint8_t calls = in.byte();
    const bool open = (calls & 1) == 0;
    const bool clean = (calls & 2) != 0;
    const int frames = (calls >> 2) % 4;

    bool created = SimImageOut_create(&out) == QOR_RES_OK;
    const bool opened = open && SimImageOut_open(&out, path.c_str()) == QOR_RES_OK;
    Check(!opened || created);
    int written = 0;
    for (int f = 0; f < frames; ++f) {
        /* A frame of the size asked, taken from the input (short inputs give a shorter frame). */
        size_t want = in.word() % 4096;
        want = want < in.size ? want : in.size;
        const uint8_t *frame = in.data;
        in.data += want;
        in.size -= want;
        const uint8_t one = 0;
        const QOR_RESULT added = SimImageOut_addFrame(&out, want > 0 ? frame : &one, want);
        Check(added != QOR_RES_OK || created);
        if (SimImageOut_write(&out) == QOR_RES_OK) {
            Check(opened);
            ++written;
        }
    }
    if (clean) {
        Check(SimImageOut_clean(&out) == QOR_RES_OK);
        return 0;
    }
    const bool closed = SimImageOut_close(&out) == QOR_RES_OK;
    Check(!closed || opened);
    Check(SimImageOut_clean(&out) == QOR_RES_OK);
    if (closed && written > 0) {
        /* What was closed reads back: one frame per frame written. */
        CImageNrv back;
        Check(back.LoadFileHeader(path.c_str(), nullptr) == nullptr);
        Check(back.GetNFrames() == written);
        for (int f = 0; f < written; ++f)
            Check(back.LoadFileData(f) == nullptr);
    }
    return 0;
}
