#ifndef NORVA_TEST_GST_NORVASRC_LOOPS_H
#define NORVA_TEST_GST_NORVASRC_LOOPS_H

// What the control-loop suites share: a norvasrc on a sensor of the default board with a setup file of the test's
// own, its buffers pulled one by one with what came with each (the metas, and the properties the element read back
// from the controls after that frame), the picture decoded when asked, and the mean colour of a part of the chart.
// The light and the scene change through the platform (platform/sim_world.h) while the element streams.
//
//     TempDir dir;
//     plugSensors("OV4689_0");
//     Loop loop("OV4689_0", 0x21, writeSetup(dir, NORVA_SETUP_DIR "/reference.txt", "AE_TARGET_BRIGHTNESS 0\n"));
//     g_object_set(loop.src, "exposure-auto", TRUE, nullptr);
//     fail_unless(loop.play(), "%s", loop.error().c_str());
//     LoopFrame f;
//     fail_unless(loop.pull(&f));
//     norva_sim::SetLightLevel(0.1);
//
// Every loop program ends with NORVASRC_LOOP_MAIN(suite, "name"), and gives each test case the frames its tests
// pull at most (loopCase), from which the case's time limit follows. The sanitizer builds (NORVA_QUICK_TESTS) run
// the loops on fewer frames, and on one sensor where two show the same rule; the optimised builds run them all.

#include <cstring>
#include <deque>
#include <functional>
#include <iterator>
#include <mutex>
#include <sstream>

#include "norvasrc_board.h"

#include "gstnorvameta.h"
#include "platform/sim_world.h"

extern "C" void gst_plugin_norvasrc_register(void);

namespace norvasrc_test {

/**
 * The longest a frame takes through the element and the test (the image model at the sensor's full frame in the
 * sanitizer build, on a busy two-core machine), and the time to start a test (the platform, the element, the setup
 * file): a test that pulls n frames at most gets kStartSeconds + n x kSlowFrameSeconds before the check library
 * ends it as hung. ctest's own limit for the loop programs lies above the sum of their cases' limits.
 */
constexpr double kSlowFrameSeconds = 3.0;
constexpr double kStartSeconds = 60.0;

/** A test case of `suite` named `name` (CK_RUN_CASE) whose every test pulls at most `frames` frames. */
inline TCase *loopCase(Suite *suite, const char *name, guint frames) {
    TCase *tc = tcase_create(name);
    tcase_set_timeout(tc, kStartSeconds + frames * kSlowFrameSeconds);
    suite_add_tcase(suite, tc);
    return tc;
}

/** What every loop program runs: the check library set up, the element registered, the suite `make` builds. */
inline int runLoopSuite(int argc, char **argv, Suite *(*make)(), const char *name, const char *file) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    return gst_check_run_suite(make(), name, file) != 0;
}

#define NORVASRC_LOOP_MAIN(make, name)                                                                                 \
    int main(int argc, char **argv) { return norvasrc_test::runLoopSuite(argc, argv, make, name, __FILE__); }

/** A folder of the test's own, removed with what it holds. */
struct TempDir {
    std::string path;
    TempDir() {
        gchar *made = g_dir_make_tmp("norvasrc-loops-XXXXXX", nullptr);
        fail_unless(made != nullptr);
        path = made;
        g_free(made);
    }
    ~TempDir() {
        GDir *d = g_dir_open(path.c_str(), 0, nullptr);
        if (d != nullptr) {
            for (const gchar *name = g_dir_read_name(d); name != nullptr; name = g_dir_read_name(d))
                g_remove((path + "/" + name).c_str());
            g_dir_close(d);
        }
        g_rmdir(path.c_str());
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
};

/**
 * The mode of the board's OV4689 that its calibrated setup (data/setup/ov4689.txt, made at the full frame, mode 0)
 * runs at: the full frame; in the sanitizer builds the binned mode 0x03 (1344 x 760, the same view at a quarter of
 * the pixels), with the lens-shading grids' tiles halved (writeSetup) so that they cover it as they cover the full
 * frame.
 */
constexpr guint kCalibratedMode = NORVA_QUICK_TESTS ? 0x03 : 0x00;
constexpr guint kCalibratedGridDivisor = NORVA_QUICK_TESTS ? 2 : 1;

/**
 * Copies the lens-shading grid file `from` to `to` with its tile size (the header's fifth 32-bit word, a power of
 * two) divided by `divisor`: the same vertices over a frame binned by `divisor`.
 */
inline void copyGridForBinning(const std::string &from, const std::string &to, guint divisor) {
    std::ifstream in(from, std::ios::binary);
    fail_unless(in.good(), "cannot read %s", from.c_str());
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fail_unless(bytes.size() > 20 && bytes.compare(0, 4, std::string("LSH\0", 4)) == 0, "%s: no grid", from.c_str());
    guint32 tile = 0;
    std::memcpy(&tile, &bytes[16], sizeof tile);
    fail_unless(tile >= divisor && tile % divisor == 0, "%s: tile of %u cells", from.c_str(), tile);
    tile /= divisor;
    std::memcpy(&bytes[16], &tile, sizeof tile);
    std::ofstream out(to, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    fail_unless(out.good(), "cannot write %s", to.c_str());
}

/**
 * Writes a copy of the setup file `from` into `dir`, with `extra` appended (later lines win), and returns its path.
 * Grid files named relative to the source tree ("LSH_CTRL_FILE_n data/...") are named by absolute path in the copy,
 * so that the element finds them whatever the working directory; with `gridDivisor` above 1 they are copied into
 * `dir` for a frame binned by it (copyGridForBinning), and the copy names those.
 */
inline std::string writeSetup(const TempDir &dir, const char *from, const std::string &extra = std::string(),
                              const char *name = "setup.txt", guint gridDivisor = 1) {
    std::ifstream in(from);
    fail_unless(in.good(), "cannot read %s", from);
    std::ostringstream out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string tag, value;
        words >> tag >> value;
        if (tag.rfind("LSH_CTRL_FILE_", 0) == 0 && !value.empty()) {
            std::string grid = value[0] == '/' ? value : std::string(NORVA_SOURCE_DIR) + "/" + value;
            if (gridDivisor > 1) {
                const std::string copy = dir.path + "/" + tag + ".lsh";
                copyGridForBinning(grid, copy, gridDivisor);
                grid = copy;
            }
            line = tag + " " + grid;
        }
        out << line << "\n";
    }
    out << extra;
    const std::string path = dir.path + "/" + name;
    std::ofstream(path) << out.str();
    return path;
}

/** What came with one buffer. */
struct LoopFrame {
    guint index = 0;
    bool hasBrightness = false, hasFocus = false;
    double brightness = 0; /* brightness meta: -1 dark .. 1 bright */
    double focus = 0;      /* focus-value meta */
    /* Read back by the element after this frame ("exposure-time", "exposure-gain" as a multiplier,
       "awb-measured-temperature", "measured-fvalue", "wdr-level"). */
    guint exposureUs = 0;
    double gain = 0;
    double temperature = 0;
    double fvalue = 0;
    double wdrLevel = 0;
};

/** Mean red, green and blue of a picture's rectangle, 0 to 255. */
struct Rgb {
    double r = 0, g = 0, b = 0;
    double mean() const { return (r + g + b) / 3.0; }
    /** Largest relative difference between two of the channels. */
    double spread() const {
        const double hi = std::max({r, g, b}), lo = std::min({r, g, b});
        return hi > 0 ? (hi - lo) / hi : 0.0;
    }
};

/** The mean colour of `rect` in `image`, without a border of `inset` of its size on each side (edge blur). */
inline Rgb meanRgb(const Image &image, const norva_sim::SceneRect &rect, double inset = 0.2) {
    const guint dx = static_cast<guint>((rect.x1 - rect.x0) * inset),
                dy = static_cast<guint>((rect.y1 - rect.y0) * inset);
    Rgb c;
    c.b = image.mean(rect.x0 + dx, rect.y0 + dy, rect.x1 - dx, rect.y1 - dy, 0);
    c.g = image.mean(rect.x0 + dx, rect.y0 + dy, rect.x1 - dx, rect.y1 - dy, 1);
    c.r = image.mean(rect.x0 + dx, rect.y0 + dy, rect.x1 - dx, rect.y1 - dy, 2);
    return c;
}

/**
 * A norvasrc on a board sensor in one mode with a setup file, its output taken as BGR at the sensor's size. The
 * test sets further properties on `src` before play(). `onFrame`, when set, runs on the streaming thread for each
 * buffer as it leaves the element, before the element fetches the next frame: what it reads of the platform then
 * belongs to that frame.
 */
class Loop {
public:
    GstElement *src = nullptr;
    GstBus *bus = nullptr;
    GstHarness *h = nullptr;
    gint width = 0, height = 0;
    std::function<void(LoopFrame &)> onFrame;

    Loop(const char *sensor, guint mode, const std::string &setup) {
        src = makeSource(&bus);
        g_object_set(src, "sensor", sensor, "sensor-mode", mode, "setup-file", setup.c_str(), nullptr);
        h = gst_harness_new_with_element(src, nullptr, "src");
        gst_harness_set_sink_caps_str(h, "video/x-raw, format=BGR");
        GstPad *pad = gst_element_get_static_pad(src, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &Loop::probe, this, nullptr);
        gst_object_unref(pad);
    }
    ~Loop() {
        gst_harness_teardown(h);
        gst_element_set_bus(src, nullptr);
        gst_object_unref(bus);
        gst_object_unref(src);
    }
    Loop(const Loop &) = delete;
    Loop &operator=(const Loop &) = delete;

    /** Starts streaming; false when the element refuses (error() says why). */
    bool play() { return gst_element_set_state(h->element, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE; }

    /** The next buffer with what came with it, its picture into *image when given; false on an error. */
    bool pull(LoopFrame *frame, Image *image = nullptr) {
        GstBuffer *buffer = pullOrError(h, bus);
        if (buffer == nullptr)
            return false;
        if (width == 0) {
            GstCaps *caps = gst_pad_get_current_caps(h->sinkpad);
            fail_unless(caps != nullptr);
            const GstStructure *st = gst_caps_get_structure(caps, 0);
            gst_structure_get_int(st, "width", &width);
            gst_structure_get_int(st, "height", &height);
            gst_caps_unref(caps);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            fail_unless(!seen_.empty(), "a buffer that did not pass the probe");
            *frame = seen_.front();
            seen_.pop_front();
        }
        if (image != nullptr)
            *image = imageOf(buffer, static_cast<guint>(width), static_cast<guint>(height));
        gst_buffer_unref(buffer);
        return true;
    }

    /** Pulls n buffers, appending what came with them to *frames; false on an error. */
    bool pull(guint n, std::vector<LoopFrame> *frames) {
        for (guint i = 0; i < n; i++) {
            LoopFrame f;
            if (!pull(&f))
                return false;
            frames->push_back(f);
        }
        return true;
    }

    /**
     * Stops the element (its streaming thread is joined): a test stops it before it checks what it gathered, so that
     * a failing check does not end the process under a running thread.
     */
    void stop() { gst_element_set_state(h->element, GST_STATE_NULL); }

    /** The element's first error, or "". */
    std::string error() { return errorText(bus); }

private:
    static GstPadProbeReturn probe(GstPad *, GstPadProbeInfo *info, gpointer data) {
        Loop *self = static_cast<Loop *>(data);
        GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        LoopFrame f;
        f.index = self->count_++;
        const GstNorvaCurrentBrightnessMeta *b = reinterpret_cast<const GstNorvaCurrentBrightnessMeta *>(
            gst_buffer_get_meta(buffer, gst_norva_current_brightness_meta_api_get_type()));
        if (b != nullptr) {
            f.hasBrightness = true;
            f.brightness = b->brightness;
        }
        const GstFocusValueMeta *fv = reinterpret_cast<const GstFocusValueMeta *>(
            gst_buffer_get_meta(buffer, gst_focus_value_meta_api_get_type()));
        if (fv != nullptr) {
            f.hasFocus = true;
            f.focus = fv->value;
        }
        GObject *o = G_OBJECT(self->src);
        f.exposureUs = static_cast<guint>(doubleProperty(o, "exposure-time"));
        f.gain = std::pow(10.0, doubleProperty(o, "exposure-gain") / 20.0);
        f.temperature = doubleProperty(o, "awb-measured-temperature");
        f.fvalue = doubleProperty(o, "measured-fvalue");
        f.wdrLevel = doubleProperty(o, "wdr-level");
        if (self->onFrame)
            self->onFrame(f);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->seen_.push_back(f);
        return GST_PAD_PROBE_OK;
    }

    std::mutex mutex_;
    std::deque<LoopFrame> seen_;
    guint count_ = 0;
};

} // namespace norvasrc_test

#endif
