#ifndef NORVA_TEST_GST_NORVASRC_WORKSPACE_H
#define NORVA_TEST_GST_NORVASRC_WORKSPACE_H

// What the norvasrc suites share: a folder with a data-generator scene, a setup file and the parameter file that
// names them, and a source with its own bus. The parameter file's name is read once per process: every test runs
// in its own process (libcheck forks).

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <glib/gstdio.h>
#include <gst/check/gstcheck.h>

namespace norvasrc_test {

constexpr const char *kDataGenerator = "DOR Idazida";

/** A folder with a data-generator scene, an empty setup file and a parameter file naming both. */
struct Workspace {
    std::string dir;
    std::string scene;
    std::string setup;
    std::string params;

    explicit Workspace(const char *width = "320", const char *height = "240") {
        gchar *made = g_dir_make_tmp("norvasrc-XXXXXX", nullptr);
        fail_unless(made != nullptr);
        dir = made;
        g_free(made);
        scene = dir + "/scene.nrv";
        setup = dir + "/setup.txt";
        params = dir + "/params.txt";
        const gchar *argv[] = {NORVA_WRITE_SCENE, scene.c_str(), width, height, "2", nullptr};
        gint status = -1;
        fail_unless(g_spawn_sync(nullptr, const_cast<gchar **>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr,
                                 nullptr, nullptr, &status, nullptr));
        fail_unless(g_spawn_check_wait_status(status, nullptr), "scene writer failed");
        write(setup, "// no settings\n");
        writeParams("");
    }
    ~Workspace() {
        for (const std::string &f : {scene, setup, params})
            g_remove(f.c_str());
        g_rmdir(dir.c_str());
    }

    static void write(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

    /**
     * The parameter file: the scene on gasket 0 for context 0, then `extra`. Installed for the process.
     * With a parameter file, every property the test does not set takes the file's value or, when the file does
     * not name it, the capture parameters' default, not the property's: no automatic exposure (exposure time 0,
     * gain 1), no dmabuf, and the buffer counts of the file. Tests set what they rely on.
     */
    void writeParams(const std::string &extra) {
        write(params, "-IntDG0_inputNRV " + scene + " -IntDG0_gasket 0 -CT0_setupFile " + setup +
                          " -CT0_nBuffers 3 -CT0_nPreenqBuffers 1 " + extra + "\n");
        g_setenv("GST_NORVASRC_PARAMS_FILE", params.c_str(), TRUE);
    }
};

/** A norvasrc with its own bus, on the data generator unless the test names another sensor. */
inline GstElement *makeSource(GstBus **bus) {
    GstElement *src = gst_element_factory_make("norvasrc", nullptr);
    fail_unless(src != nullptr);
    *bus = gst_bus_new();
    gst_element_set_bus(src, *bus);
    g_object_set(src, "sensor", kDataGenerator, nullptr);
    return src;
}

inline void dropSource(GstElement *src, GstBus *bus) {
    gst_element_set_state(src, GST_STATE_NULL);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
}

/** The text of the first error message on the bus (user message, then debug detail), or empty. */
inline std::string errorText(GstBus *bus) {
    GstMessage *msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    if (msg == nullptr)
        return std::string();
    GError *error = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(msg, &error, &debug);
    std::string text = std::string(error->message) + "\n" + (debug != nullptr ? debug : "");
    g_error_free(error);
    g_free(debug);
    gst_message_unref(msg);
    return text;
}

/**
 * The shared exposure record "norvasrc_sensor_params" has one name on the whole machine: a test that uses it gives
 * itself, the threads it starts and the processes it spawns a shared-memory folder of their own when it may (a
 * mount namespace of the calling thread; call it first, before the test starts threads), so that another run of
 * the suite at the same time cannot write into its record. Without that right the machine's folder is used (the
 * suites that use the record hold one CTest resource lock).
 */
inline void privateSharedMemory() {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("norvasrc-test", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=1777") != 0)
        std::fprintf(stderr, "exposure sharing: the machine's shared memory (%s)\n", std::strerror(errno));
}

} // namespace norvasrc_test

#endif
