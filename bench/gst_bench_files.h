#ifndef NORVA_GST_BENCH_FILES_H
#define NORVA_GST_BENCH_FILES_H

// The inputs of the element benchmarks: a two-frame 640 x 480 scene, a neutral setup file and the parameter file
// that names them (GST_NORVASRC_PARAMS_FILE), in a scratch folder removed at exit.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <glib.h>
#include <stdlib.h>

namespace norva_bench {

struct Files {
    std::string dir;
    bool ok = false;
    Files() {
        char pattern[] = "/tmp/norva-gst-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            return;
        dir = pattern;
        const std::string scene = dir + "/scene.nrv", setup = dir + "/setup.txt", params = dir + "/params.txt";
        // Written by the scene tool: linking the image library here would bring a second copy of the layers the
        // plug-in takes from libnorvaplatform.so.
        const gchar *argv[] = {NORVA_SCENE_TOOL, scene.c_str(), "640", "480", "2", nullptr};
        gint status = -1;
        if (!g_spawn_sync(nullptr, const_cast<gchar **>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr,
                          nullptr, &status, nullptr) ||
            !g_spawn_check_wait_status(status, nullptr))
            return;
        std::FILE *f = std::fopen(setup.c_str(), "w");
        if (f == nullptr)
            return;
        std::fputs("// neutral\n", f);
        std::fclose(f);
        f = std::fopen(params.c_str(), "w");
        if (f == nullptr)
            return;
        std::fprintf(f,
                     "-IntDG0_inputNRV %s -IntDG0_gasket 0 -CT0_setupFile %s -CT0_nBuffers 4 -CT0_nPreenqBuffers 1\n",
                     scene.c_str(), setup.c_str());
        std::fclose(f);
        g_setenv("GST_NORVASRC_PARAMS_FILE", params.c_str(), TRUE);
        ok = true;
    }
    ~Files() {
        if (!dir.empty())
            std::system(("rm -rf '" + dir + "'").c_str());
    }
};

Files &files() {
    static Files f;
    return f;
}

} // namespace norva_bench

#endif // NORVA_GST_BENCH_FILES_H
