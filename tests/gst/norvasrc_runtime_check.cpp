// norvasrc's runtime settings: the shared exposure record "norvasrc_sensor_params" when what is found at its name
// cannot hold the record (the element goes on without sharing exposure, after one warning), the image settings as
// the capture context holds them (their defaults from the start, a change from the next frames), and a new
// exposure step taken up by the exposure loop while it rests.
// The standard headers first: the check library defines a macro named fail.
#include <grp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>

#include "testcontext.h"

#include "norvasrc_loops.h"

#include "gstnorvasrc.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {

constexpr const char *kShmName = "/norvasrc_sensor_params";
constexpr const char *kShmPath = "/dev/shm/norvasrc_sensor_params";
constexpr const char *kNv12 = "video/x-raw, format=NV12, width=320, height=240";

/** Removes whatever is at the record's name: an object, or the directory of a case. */
void clearRecordName() {
    shm_unlink(kShmName);
    rmdir(kShmPath);
}

/** A shared-memory object at the record's name holding `size` bytes, the first 16 of them `record` when it fits. */
void makeObject(off_t size, const SensorParams &record) {
    const int fd = shm_open(kShmName, O_RDWR | O_CREAT | O_EXCL, 0600);
    fail_unless(fd >= 0, "shm_open: %s", std::strerror(errno));
    fail_unless(ftruncate(fd, size) == 0);
    if (size >= static_cast<off_t>(sizeof record))
        fail_unless(pwrite(fd, &record, sizeof record, 0) == static_cast<ssize_t>(sizeof record));
    close(fd);
}

/**
 * Runs `fn` in a child process, as the unprivileged user 65534 when asked, and returns its exit status, 128 plus
 * the signal that ended it, or -1 when it did not end within two minutes (it is killed then).
 */
int inChild(bool unprivileged, const std::function<int()> &fn) {
    fflush(stdout);
    fflush(stderr);
    const pid_t child = fork();
    fail_unless(child >= 0);
    if (child == 0) {
        if (unprivileged && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(90);
        _exit(fn());
    }
    for (int i = 0; i < 2400; ++i) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        g_usleep(50000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
}

/** The warnings an element posts, counted as they are posted (reading the bus for errors drops them). */
struct Warnings {
    std::mutex mutex;
    guint count = 0;
    std::string texts;

    static GstBusSyncReply take(GstBus *, GstMessage *msg, gpointer data) {
        if (GST_MESSAGE_TYPE(msg) != GST_MESSAGE_WARNING)
            return GST_BUS_PASS;
        auto *self = static_cast<Warnings *>(data);
        GError *error = nullptr;
        gchar *debug = nullptr;
        gst_message_parse_warning(msg, &error, &debug);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->count++;
        self->texts += std::string(error->message) + " (" + (debug != nullptr ? debug : "") + ")\n";
        g_error_free(error);
        g_free(debug);
        return GST_BUS_PASS;
    }
};

/** What is found at the record's name when an element with "-sensorExposureSync" starts. */
struct RecordCase {
    const char *what;
    std::function<void()> make;
    bool unprivileged; /**< the element runs as another user than the object's owner */
    bool usable;       /**< the element shares exposure through it */
};

const SensorParams kStale{12345, 2.0};

const RecordCase kRecordCases[] = {
    // A creator killed between creating the object and sizing it.
    {"an empty object", [] { makeObject(0, kStale); }, false, false},
    {"an object of 8 bytes", [] { makeObject(8, kStale); }, false, false},
    {"a directory", [] { fail_unless(mkdir(kShmPath, 0700) == 0, "%s", std::strerror(errno)); }, false, false},
    // Root's record, mode 0600: another user can neither open nor create one.
    {"another user's record", [] { makeObject(sizeof(SensorParams), kStale); }, true, false},
    // The record of a creator killed while it streamed: its name stays, and the values it wrote last.
    {"the record of a killed creator", [] { makeObject(sizeof(SensorParams), kStale); }, false, true},
};

/**
 * An element with manual exposure and "-sensorExposureSync" (a reader of the record) streams four frames in a child
 * process: 0 when it delivered them with the exposure the case calls for and posted the warnings it should, else a
 * code naming the fault (its detail on standard error).
 */
int streamAsReader(const RecordCase &c) {
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    Warnings warnings;
    gst_bus_set_sync_handler(bus, &Warnings::take, &warnings, nullptr);
    g_object_set(src, "use-dmabuf", FALSE, "exposure-auto", FALSE, "exposure-time", 500u, nullptr);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, kNv12);
    int result = 0;
    if (gst_element_set_state(h->element, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        result = 1;
    for (int i = 0; result == 0 && i < 4; ++i) {
        GstBuffer *buffer = pullOrError(h, bus);
        if (buffer == nullptr)
            result = 1;
        else
            gst_buffer_unref(buffer);
    }
    guint exposure = 0;
    g_object_get(src, "exposure-time", &exposure, nullptr);
    gst_element_set_state(h->element, GST_STATE_NULL);
    const std::string error = errorText(bus);
    if (result == 0 && !error.empty())
        result = 1;
    else if (result == 0 && warnings.count != (c.usable ? 0u : 1u))
        result = 2;
    else if (result == 0 && (exposure == kStale.exposure) != c.usable)
        result = 3;
    if (result != 0)
        std::fprintf(stderr, "%s: %d; exposure-time %u; error: %s; %u warnings:\n%s", c.what, result, exposure,
                     error.c_str(), warnings.count, warnings.texts.c_str());
    gst_harness_teardown(h);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
    return result;
}

} // namespace

// What is found at the record's name when the element starts: an object too small for the record (empty, as a
// creator killed before sizing it leaves it, or 8 bytes), a directory, or a record the element's user may not open
// make it go on without sharing exposure after one warning on its bus, never a crash (a too small mapping ended the
// process with SIGBUS at its first frame). The record of a creator killed while it streamed is used: its exposure
// reaches the reader. What was there is left as it was.
GST_START_TEST(test_what_is_found_at_the_record_name) {
    const RecordCase &c = kRecordCases[__i__];
    privateSharedMemory();
    Workspace ws;
    ws.writeParams("-sensorExposureSync");
    if (c.unprivileged) {
        // The other user reads the workspace.
        for (const std::string &f : {ws.scene, ws.setup, ws.params})
            fail_unless(chmod(f.c_str(), 0644) == 0);
        fail_unless(chmod(ws.dir.c_str(), 0755) == 0);
    }
    clearRecordName();
    c.make();
    struct stat before {};
    fail_unless(stat(kShmPath, &before) == 0);

    const int status = inChild(c.unprivileged, [&] { return streamAsReader(c); });

    struct stat after {};
    const bool left = stat(kShmPath, &after) == 0;
    clearRecordName();
    fail_unless(status != 90, "%s: cannot become another user", c.what);
    fail_unless(status == 0, "%s: the element's process ended with %d (1: no frames, 2: warnings, 3: exposure)", c.what,
                status);
    fail_unless(left && after.st_size == before.st_size && after.st_mode == before.st_mode, "%s was changed", c.what);
}
GST_END_TEST;

namespace {

/** An image setting: its property and what the main capture context holds for it. */
struct ImageSetting {
    const char *property;
    double (TestContext::*held)() const;
    gfloat changed; /**< a value the test sets while frames flow */
};

const ImageSetting kImageSettings[] = {
    {"brightness", &TestContext::getBrightness, -0.25f},       {"contrast", &TestContext::getContrast, 2.5f},
    {"saturation", &TestContext::getSaturation, 0.75f},        {"sharpness", &TestContext::getSharpness, 0.8f},
    {"denoiser-level", &TestContext::getDenoiserLevel, 0.25f}, {"wdr-level", &TestContext::getWDRLevel, 0.7f},
};

/** A setup file that gives each image setting another value than the property's default. */
constexpr const char *kImageSetup = "SHA_STRENGTH 0.4\nDNS_STRENGTH 1.2\nTNM_BRIGHTNESS 0.3\nTNM_CONTRAST 1.5\n"
                                    "TNM_COLOUR_SATURATION 1.4\nTNM_WEIGHT_LOCAL 0.6\n";

/** Each image setting's property against what the capture context holds; an empty string when they agree. */
std::string imageSettingsDiffer(GstElement *element) {
    GstNorvasrc *src = GST_NORVASRC(element);
    std::string differ;
    for (const ImageSetting &s : kImageSettings) {
        gfloat property = 0;
        g_object_get(element, s.property, &property, nullptr);
        gst_norvasrc_lock_contexts(src);
        const double held = (src->state->main_context->*s.held)();
        gst_norvasrc_unlock_contexts(src);
        if (std::fabs(held - property) > 1e-6)
            differ += std::string(" ") + s.property + " reads " + std::to_string(property) + ", the context holds " +
                      std::to_string(held) + ";";
    }
    return differ;
}

} // namespace

// The image settings reach the capture context from the first frame, their defaults included (the setup file has
// other values for each of them), and a change while frames flow reaches it for the next frames: what the
// properties read is what the frames are made with.
GST_START_TEST(test_image_settings_as_the_context_holds_them) {
    Workspace ws;
    Workspace::write(ws.setup, kImageSetup);
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "use-dmabuf", FALSE, nullptr);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, kNv12);
    gst_harness_play(h);
    for (int i = 0; i < 2; ++i) {
        GstBuffer *buffer = pullOrError(h, bus);
        fail_unless(buffer != nullptr, "%s", errorText(bus).c_str());
        gst_buffer_unref(buffer);
    }
    const std::string defaults = imageSettingsDiffer(src);
    for (const ImageSetting &s : kImageSettings)
        g_object_set(src, s.property, s.changed, nullptr);
    // The streaming thread applies the change before the next frame it fetches: buffers it queued before the change
    // may come first, so frames are taken until the context holds the new values, at most a few queues' worth.
    std::string changed;
    for (int i = 0; i < 30; ++i) {
        GstBuffer *buffer = pullOrError(h, bus);
        fail_unless(buffer != nullptr, "%s", errorText(bus).c_str());
        gst_buffer_unref(buffer);
        changed = imageSettingsDiffer(src);
        if (i >= 1 && changed.empty())
            break;
    }
    gst_harness_teardown(h);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
    fail_unless(defaults.empty(), "with the defaults:%s", defaults.c_str());
    fail_unless(changed.empty(), "after a change:%s", changed.c_str());
}
GST_END_TEST;

namespace {

/** Frames in a row inside the band around the target that count as settled. */
constexpr guint kSettled = 6;

void onRowTimeNs(GstElement *, guint64 rowTime, gpointer data) { *static_cast<guint64 *>(data) = rowTime; }

} // namespace

// A new "exposure-time-step" while automatic exposure rests is taken up within a few frames: the exposure moves
// onto the new step (the sensor takes whole rows, so within a row of it), without any other setting changing.
GST_START_TEST(test_exposure_step_while_settled) {
    fail_unless(plugSensors("OV4689_0"));
    norva_sim::SetLightLevel(1.0);
    TempDir dir;
    Loop loop("OV4689_0", 0x21,
              writeSetup(dir, NORVA_REFERENCE_SETUP, "AE_TARGET_BRIGHTNESS 0\nAE_BRACKET_SIZE 0.05\n"));
    guint64 rowTimeNs = 0;
    g_signal_connect(loop.src, "sensor-row-time", G_CALLBACK(onRowTimeNs), &rowTimeNs);
    g_object_set(loop.src, "exposure-auto", TRUE, "exposure-auto-max-time", 20000u, nullptr);
    fail_unless(loop.play(), "%s", loop.error().c_str());
    guint run = 0;
    LoopFrame f;
    for (guint i = 0; i < 90 && run < kSettled; i++) {
        fail_unless(loop.pull(&f), "%s", loop.error().c_str());
        run = f.hasBrightness && std::fabs(f.brightness) < 0.05 ? run + 1 : 0;
    }
    fail_unless(run == kSettled, "the loop did not settle");
    const guint settled = f.exposureUs;
    const double rowUs = rowTimeNs / 1000.0;
    fail_unless(rowUs > 0 && rowUs * 4 < settled, "rows of %g us, %u us", rowUs, settled);
    // A step of about two thirds of the exposure, which lies between two of its multiples.
    const guint step = settled * 2 / 3;
    const auto onStep = [&](guint us) {
        const double k = std::round(us / double(step));
        return k >= 1 && std::fabs(k * step - us) <= rowUs + 1;
    };
    fail_unless(!onStep(settled), "%u us is on a step of %u us", settled, step);

    g_object_set(loop.src, "exposure-time-step", step, nullptr);
    std::vector<guint> after;
    for (guint i = 0; i < 10 && (after.empty() || !onStep(after.back())); i++) {
        fail_unless(loop.pull(&f), "%s", loop.error().c_str());
        after.push_back(f.exposureUs);
    }
    loop.stop();
    std::string seen;
    for (guint us : after)
        seen += " " + std::to_string(us);
    fail_unless(onStep(after.back()), "a step of %u us; %u us before, then%s", step, settled, seen.c_str());
}
GST_END_TEST;

static Suite *norvasrc_runtime_suite(void) {
    Suite *s = suite_create("norvasrc_runtime");
    TCase *record = tcase_create("record");
    tcase_set_timeout(record, 180);
    suite_add_tcase(s, record);
    tcase_add_loop_test(record, test_what_is_found_at_the_record_name, 0, G_N_ELEMENTS(kRecordCases));
    TCase *settings = tcase_create("settings");
    tcase_set_timeout(settings, 300);
    suite_add_tcase(s, settings);
    tcase_add_test(settings, test_image_settings_as_the_context_holds_them);
    tcase_add_test(settings, test_exposure_step_while_settled);
    return s;
}

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    Suite *s = norvasrc_runtime_suite();
    return gst_check_run_suite(s, "norvasrc_runtime", __FILE__);
}
