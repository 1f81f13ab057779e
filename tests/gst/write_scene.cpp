// Writes the test scene as the data generator's NRV input, for the GstCheck suites: they link the plug-in,
// which carries its own copy of the image library, so the scene is written by this separate program.
//   norva_gst_write_scene PATH WIDTH HEIGHT FRAMES
#include <cstdlib>

#include "scenes/scene_nrv.h"

int main(int argc, char **argv) {
    if (argc != 5)
        return 2;
    const auto number = [](const char *text) { return static_cast<uint32_t>(std::strtoul(text, nullptr, 10)); };
    const QOR_RESULT written =
        norva_scenes::WriteSceneNrv(argv[1], number(argv[2]), number(argv[3]), 10, MOSAIC_RGGB, number(argv[4]));
    return written == QOR_RES_OK ? 0 : 1;
}
