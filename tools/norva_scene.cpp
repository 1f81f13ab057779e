// Writes the generated test chart as an NRV file the data generator plays (10-bit samples, RGGB mosaic): the
// scene of the main job (run.sh).
//   norva_scene PATH WIDTH HEIGHT FRAMES
// Exit status: 0 written, 1 the file could not be written, 2 wrong command line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scenes/scene_nrv.h"

namespace {

/** A whole number from 1 to `max`, else 0. */
uint32_t number(const char *text, uint32_t max) {
    char *end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 10);
    return end != text && *end == '\0' && text[0] != '-' && v >= 1 && v <= max ? static_cast<uint32_t>(v) : 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "Usage: norva_scene PATH WIDTH HEIGHT FRAMES\n");
        return 2;
    }
    const uint32_t width = number(argv[2], 4096), height = number(argv[3], 4096), frames = number(argv[4], 1000);
    if (width == 0 || height == 0 || frames == 0 || width % 2 != 0 || height % 2 != 0) {
        std::fprintf(stderr, "norva_scene: %s x %s, %s frames: even sizes up to 4096 and 1 to 1000 frames\n", argv[2],
                     argv[3], argv[4]);
        return 2;
    }
    if (norva_scenes::WriteSceneNrv(argv[1], width, height, 10, MOSAIC_RGGB, frames) != QOR_RES_OK) {
        std::fprintf(stderr, "norva_scene: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
