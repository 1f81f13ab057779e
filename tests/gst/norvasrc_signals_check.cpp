// norvasrc's action signals and the upstream event "fnum-status": which focus windows are accepted and how they
// are stored, the exposure ranges written without marks or notifications, image requests, and the iris status
// handed to the exposure control of the data generator's camera.
// The capture context comes before the check library, whose fail() macro would rename std::ios::fail.
#include "ispc/ControlAE.h"
#include "ispc/ModuleFOS.h"
#include "testcontext.h"

#include "norvasrc_workspace.h"

#include <cmath>
#include <string>
#include <vector>

#include <gst/check/gstharness.h>
#include <gst/video/video.h>

#include "gstnorvasrc.h"

extern "C" void gst_plugin_norvasrc_register(void);
gboolean gst_norvasrc_handle_event(GstNorvasrc *src, GstEvent *event);

using namespace norvasrc_test;

namespace {

struct WindowCase {
    const char *name;
    gfloat left, top, right, bottom;
    gboolean accepted;
};

const WindowCase kWindows[] = {
    {"whole frame", -1.0f, 1.0f, 1.0f, -1.0f, TRUE},         {"asymmetric", -0.5f, 0.75f, 0.25f, -0.125f, TRUE},
    {"left equals right", 0.25f, 0.5f, 0.25f, -0.5f, FALSE}, {"top equals bottom", -0.5f, 0.25f, 0.5f, 0.25f, FALSE},
    {"top below bottom", -0.5f, -0.5f, 0.5f, 0.5f, FALSE},   {"right left of left", 0.5f, 0.5f, -0.5f, -0.5f, FALSE},
    {"left beyond -1", -1.01f, 0.5f, 0.5f, -0.5f, FALSE},    {"top beyond 1", -0.5f, 1.01f, 0.5f, -0.5f, FALSE},
    {"right beyond 1", -0.5f, 0.5f, 1.5f, -0.5f, FALSE},     {"bottom beyond -1", -0.5f, 0.5f, 0.5f, -2.0f, FALSE},
    {"not a number", NAN, 0.5f, 0.5f, -0.5f, FALSE},
};

void countNotify(GObject *, GParamSpec *, gpointer count) { ++*static_cast<int *>(count); }

} // namespace

// Each window is offered after an accepted asymmetric one: a refused window leaves that one in place; an accepted
// one is stored as bottom, left, right, top.
GST_START_TEST(test_focus_window) {
    const WindowCase &c = kWindows[__i__];
    GstElement *element = gst_element_factory_make("norvasrc", nullptr);
    GstNorvasrc *src = GST_NORVASRC(element);
    gboolean accepted = FALSE;
    g_signal_emit_by_name(element, "set-fvalue-window", 0.125f, 0.5f, 0.75f, -0.25f, &accepted);
    fail_unless(accepted);
    g_signal_emit_by_name(element, "set-fvalue-window", c.left, c.top, c.right, c.bottom, &accepted);
    fail_unless_equals_int(accepted, c.accepted);
    const gfloat *stored = src->state->props.focus_window;
    const gfloat expected[4] = {c.accepted ? c.bottom : -0.25f, c.accepted ? c.left : 0.125f,
                                c.accepted ? c.right : 0.75f, c.accepted ? c.top : 0.5f};
    for (int i = 0; i < 4; ++i)
        fail_unless(stored[i] == expected[i], "%s: entry %d is %g, expected %g", c.name, i, stored[i], expected[i]);
    gst_object_unref(element);
}
GST_END_TEST;

// The range signals sort their arguments, keep the gains' linear companions and neither mark nor notify.
GST_START_TEST(test_exposure_ranges) {
    GstElement *element = gst_element_factory_make("norvasrc", nullptr);
    GstNorvasrc *src = GST_NORVASRC(element);
    int notified = 0;
    g_signal_connect(element, "notify", G_CALLBACK(countNotify), &notified);
    g_signal_emit_by_name(element, "set-exposure-auto-time-range", 20000u, 100u);
    g_signal_emit_by_name(element, "set-exposure-auto-gain-range", 24.0f, 6.0f);
    guint minTime = 0, maxTime = 0;
    gfloat minGain = 0, maxGain = 0;
    g_object_get(element, "exposure-auto-min-time", &minTime, "exposure-auto-max-time", &maxTime,
                 "exposure-auto-min-gain", &minGain, "exposure-auto-max-gain", &maxGain, nullptr);
    fail_unless_equals_int(minTime, 100);
    fail_unless_equals_int(maxTime, 20000);
    fail_unless(minGain == 6.0f && maxGain == 24.0f, "gains %g, %g", minGain, maxGain);
    const NorvasrcProperties &props = src->state->props;
    fail_unless(std::fabs(props.exposure_auto_min_gain_linear - 1.99526f) < 1e-4f);
    fail_unless(std::fabs(props.exposure_auto_max_gain_linear - 15.8489f) < 1e-3f);
    for (guint id : {PROP_EXPOSURE_AUTO_MIN_TIME, PROP_EXPOSURE_AUTO_MAX_TIME, PROP_EXPOSURE_AUTO_MIN_GAIN,
                     PROP_EXPOSURE_AUTO_MAX_GAIN})
        fail_unless_equals_int(props.changed[id], 0);
    fail_unless_equals_int(notified, 0);

    g_signal_emit_by_name(element, "set-exposure-auto-time-range", 500u, 500u); // equal limits
    g_object_get(element, "exposure-auto-min-time", &minTime, "exposure-auto-max-time", &maxTime, nullptr);
    fail_unless(minTime == 500 && maxTime == 500);

    // A gain range that is not a number leaves the range as it was; one past the properties' range is held to it.
    GParamSpecFloat *limits =
        G_PARAM_SPEC_FLOAT(g_object_class_find_property(G_OBJECT_GET_CLASS(element), "exposure-auto-max-gain"));
    const struct {
        gfloat a, b, min, max;
    } gains[] = {{NAN, 12.0f, 6.0f, 24.0f},
                 {3.0f, NAN, 6.0f, 24.0f},
                 {-1e9f, 1e9f, limits->minimum, limits->maximum},
                 {-INFINITY, INFINITY, limits->minimum, limits->maximum}};
    for (const auto &g : gains) {
        g_signal_emit_by_name(element, "set-exposure-auto-gain-range", 24.0f, 6.0f);
        g_signal_emit_by_name(element, "set-exposure-auto-gain-range", g.a, g.b);
        g_object_get(element, "exposure-auto-min-gain", &minGain, "exposure-auto-max-gain", &maxGain, nullptr);
        fail_unless(minGain == g.min && maxGain == g.max, "(%g, %g) gave %g, %g", g.a, g.b, minGain, maxGain);
        fail_unless(std::isfinite(props.exposure_auto_min_gain_linear) &&
                    std::isfinite(props.exposure_auto_max_gain_linear));
    }
    gst_object_unref(element);
}
GST_END_TEST;

// A request is stored until the next shot; a later one replaces it; one without file name or type is refused
// when it is made and leaves the pending one in place.
GST_START_TEST(test_image_requests) {
    GstElement *element = gst_element_factory_make("norvasrc", nullptr);
    const NorvasrcState *state = GST_NORVASRC(element)->state;
    fail_if(state->save_pending);
    g_signal_emit_by_name(element, "take-nrv-image", "first.yuv", "YUV", 0u);
    g_signal_emit_by_name(element, "take-nrv-image", "second.nrv", "Bayer", 1u);
    fail_unless(state->save_pending);
    fail_unless_equals_string(state->save_file, "second.nrv");
    fail_unless_equals_string(state->save_type, "Bayer");
    fail_unless_equals_int(state->save_context, 1);
    ASSERT_CRITICAL(g_signal_emit_by_name(element, "take-nrv-image", nullptr, "YUV", 0u));
    ASSERT_CRITICAL(g_signal_emit_by_name(element, "take-nrv-image", "third.yuv", nullptr, 0u));
    fail_unless(state->save_pending);
    fail_unless_equals_string(state->save_file, "second.nrv");
    fail_unless_equals_string(state->save_type, "Bayer");
    gst_object_unref(element);
}
GST_END_TEST;

namespace {

/** A streaming norvasrc on the data generator behind a harness; the exposure control of its main context. */
struct Streaming {
    Workspace ws{"320", "240"};
    GstBus *bus = nullptr;
    GstElement *element = nullptr;
    GstHarness *h = nullptr;

    Streaming() {
        element = makeSource(&bus);
        g_object_set(element, "use-dmabuf", FALSE, nullptr);
        h = gst_harness_new_with_element(element, nullptr, "src");
        gst_harness_set_sink_caps_str(h, "video/x-raw, format=NV12, width=320, height=240");
        gst_harness_use_systemclock(h);
    }
    void play() {
        gst_harness_play(h);
        gst_buffer_unref(gst_harness_pull(h));
    }
    ~Streaming() {
        gst_harness_teardown(h);
        gst_element_set_bus(element, nullptr);
        gst_object_unref(bus);
        gst_object_unref(element);
    }
    /** The iris status the exposure control holds, read under the lock the streaming thread updates it under. */
    ISPC::FNumberStatus fnumberStatus() const {
        GstNorvasrc *src = GST_NORVASRC(element);
        gst_norvasrc_lock_contexts(src);
        TestContext *context = src->state->main_context;
        const ISPC::ControlAE *ae =
            context != nullptr ? dynamic_cast<ISPC::ControlAE *>(context->pCamera->getControlModule(ISPC::CTRL_AE))
                               : nullptr;
        const ISPC::FNumberStatus status = ae != nullptr ? ae->getFNumberStatus() : ISPC::FNumberStatus();
        gst_norvasrc_unlock_contexts(src);
        fail_unless(ae != nullptr);
        return status;
    }
};

GstEvent *fnumStatus(GstStructure *s) { return gst_event_new_custom(GST_EVENT_CUSTOM_UPSTREAM, s); }

} // namespace

// Without a capture context the event is not consumed; once streaming it is, and fields left out keep their
// defaults.
GST_START_TEST(test_fnum_status_defaults) {
    Streaming s;
    GstEvent *early = fnumStatus(gst_structure_new("fnum-status", "position", G_TYPE_DOUBLE, 2.8, nullptr));
    fail_if(gst_norvasrc_handle_event(GST_NORVASRC(s.element), early));
    fail_if(gst_harness_push_upstream_event(s.h, early));

    s.play();
    fail_unless(gst_harness_push_upstream_event(
        s.h, fnumStatus(gst_structure_new("fnum-status", "position", G_TYPE_DOUBLE, 2.8, nullptr))));
    const ISPC::FNumberStatus status = s.fnumberStatus();
    fail_unless(status.current == 2.8);
    fail_if(status.isAuto);
    fail_if(status.isMoving);
    fail_unless(status.timestamp.time_since_epoch().count() == 0);
    for (const double f : {status.minimum, status.autoMin, status.autoMax, status.nextMin, status.nextMax})
        fail_unless(f == 1.0, "a missing F-number reads %g", f);

    // Every field given; a field of another type keeps its default.
    fail_unless(gst_harness_push_upstream_event(
        s.h, fnumStatus(gst_structure_new("fnum-status", "is-auto", G_TYPE_BOOLEAN, TRUE, "is-moving", G_TYPE_BOOLEAN,
                                          TRUE, "timestamp", G_TYPE_UINT64, G_GUINT64_CONSTANT(0), "position",
                                          G_TYPE_DOUBLE, 4.0, "minimum", G_TYPE_DOUBLE, 1.4, "auto-min", G_TYPE_DOUBLE,
                                          2.0, "auto-max", G_TYPE_DOUBLE, 8.0, "next-min", G_TYPE_DOUBLE, 2.8,
                                          "next-max", G_TYPE_INT, 11, nullptr))));
    const ISPC::FNumberStatus full = s.fnumberStatus();
    fail_unless(full.isAuto && full.isMoving);
    fail_unless(full.current == 4.0 && full.minimum == 1.4 && full.autoMin == 2.0 && full.autoMax == 8.0);
    fail_unless(full.nextMin == 2.8 && full.nextMax == 1.0);

    // Other upstream events are not the element's.
    GstEvent *other = fnumStatus(gst_structure_new("iris-status", "position", G_TYPE_DOUBLE, 2.0, nullptr));
    fail_if(gst_norvasrc_handle_event(GST_NORVASRC(s.element), other));
    gst_event_unref(other);
    fail_unless(errorText(s.bus).empty());
}
GST_END_TEST;

namespace {

struct RefusedCase {
    const char *field;
    double value;
};

const RefusedCase kRefused[] = {
    {"position", 0.0}, {"minimum", -1.4}, {"auto-min", NAN}, {"auto-max", INFINITY}, {"next-max", -0.0},
};

} // namespace

// The exposure control divides by the F-numbers: a status carrying one that is not positive is refused with a
// warning on the bus, and the status in force stays.
GST_START_TEST(test_fnum_status_refused) {
    const RefusedCase &c = kRefused[__i__];
    Streaming s;
    s.play();
    fail_unless(gst_harness_push_upstream_event(
        s.h, fnumStatus(gst_structure_new("fnum-status", "position", G_TYPE_DOUBLE, 5.6, nullptr))));
    GstEvent *event = fnumStatus(gst_structure_new("fnum-status", c.field, G_TYPE_DOUBLE, c.value, nullptr));
    fail_if(gst_norvasrc_handle_event(GST_NORVASRC(s.element), event), "%s = %g consumed", c.field, c.value);
    gst_event_unref(event);
    fail_unless(s.fnumberStatus().current == 5.6);
    GstMessage *msg = gst_bus_pop_filtered(s.bus, GST_MESSAGE_WARNING);
    fail_unless(msg != nullptr, "%s = %g: no warning", c.field, c.value);
    gst_message_unref(msg);
}
GST_END_TEST;

namespace {

/**
 * What the save test observes: each "image-ready", and the first buffer delivered after it. The streaming thread
 * writes it until streaming stops: it outlives the element's streaming.
 */
struct SaveWatch {
    SaveWatch() { g_mutex_init(&lock); }
    ~SaveWatch() { g_mutex_clear(&lock); }
    SaveWatch(const SaveWatch &) = delete;
    SaveWatch &operator=(const SaveWatch &) = delete;

    std::string path;
    GMutex lock;
    std::vector<gboolean> results;
    bool fileAtReady = false;
    bool haveBuffer = false;
    bool fileAtBuffer = false;
    std::string bytes; /**< the planes of that buffer, rows without padding */
};

void onImageReady(GstElement *, gboolean saved, gpointer data) {
    SaveWatch *w = static_cast<SaveWatch *>(data);
    g_mutex_lock(&w->lock);
    w->results.push_back(saved);
    w->fileAtReady = g_file_test(w->path.c_str(), G_FILE_TEST_EXISTS);
    g_mutex_unlock(&w->lock);
}

/** NV12 planes of a buffer as a file of rows without padding would hold them. */
std::string packedNv12(GstBuffer *buffer) {
    GstVideoMeta *meta = gst_buffer_get_video_meta(buffer);
    fail_unless(meta != nullptr);
    GstMapInfo map;
    fail_unless(gst_buffer_map(buffer, &map, GST_MAP_READ));
    std::string out;
    for (guint plane = 0; plane < 2; ++plane) {
        const guint rows = plane == 0 ? meta->height : meta->height / 2;
        for (guint y = 0; y < rows; ++y)
            out.append(reinterpret_cast<const char *>(map.data) + meta->offset[plane] + y * meta->stride[plane],
                       meta->width);
    }
    gst_buffer_unmap(buffer, &map);
    return out;
}

GstPadProbeReturn watchBuffers(GstPad *, GstPadProbeInfo *info, gpointer data) {
    SaveWatch *w = static_cast<SaveWatch *>(data);
    g_mutex_lock(&w->lock);
    if (!w->results.empty() && !w->haveBuffer) {
        w->haveBuffer = true;
        w->fileAtBuffer = g_file_test(w->path.c_str(), G_FILE_TEST_EXISTS);
        w->bytes = packedNv12(GST_PAD_PROBE_INFO_BUFFER(info));
    }
    g_mutex_unlock(&w->lock);
    return GST_PAD_PROBE_OK;
}

std::string fileText(const std::string &path) {
    gchar *text = nullptr;
    gsize size = 0;
    if (!g_file_get_contents(path.c_str(), &text, &size, nullptr))
        return std::string();
    std::string out(text, size);
    g_free(text);
    return out;
}

struct SaveCase {
    const char *name;
    const char *file; /**< in the workspace unless absolute */
    const char *type;
    guint context;
    gboolean saved;
};

const SaveCase kSaves[] = {
    {"encoder output", "f.yuv", "YUV", 0, TRUE},
    {"type in the wrong case", "f.yuv", "yuv", 0, FALSE},
    {"folder that does not exist", "/nonexistent-norva/f.yuv", "YUV", 0, FALSE},
    {"context without capture", "f.yuv", "YUV", 1, FALSE},
};

} // namespace

// Two requests made before streaming: the first frame consumes the second, once, whatever the outcome. A saved file
// is on disk before that frame leaves the element and holds that frame's image; later frames save nothing.
GST_START_TEST(test_save_next_frame) {
    const SaveCase &c = kSaves[__i__];
    SaveWatch w;
    Streaming s;
    w.path = c.file[0] == '/' ? std::string(c.file) : s.ws.dir + "/" + c.file;
    g_signal_connect(s.element, "image-ready", G_CALLBACK(onImageReady), &w);
    GstPad *pad = gst_element_get_static_pad(s.element, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, watchBuffers, &w, nullptr);
    gst_object_unref(pad);
    g_signal_emit_by_name(s.element, "take-nrv-image", (s.ws.dir + "/first.yuv").c_str(), "YUV", 0u);
    g_signal_emit_by_name(s.element, "take-nrv-image", w.path.c_str(), c.type, c.context);
    s.play();
    for (int i = 0; i < 5; ++i)
        gst_buffer_unref(gst_harness_pull(s.h));

    g_mutex_lock(&w.lock);
    fail_unless(w.results.size() == 1, "%s: image-ready emitted %u times", c.name, unsigned(w.results.size()));
    fail_unless_equals_int(w.results[0], c.saved);
    fail_if(g_file_test((s.ws.dir + "/first.yuv").c_str(), G_FILE_TEST_EXISTS), "the replaced request was saved");
    if (c.saved) {
        fail_unless(w.fileAtReady && w.haveBuffer && w.fileAtBuffer);
        const std::string saved = fileText(w.path);
        fail_unless_equals_int(saved.size(), 320 * 240 * 3 / 2);
        fail_unless(saved == w.bytes, "the file holds another image than the frame's buffer");
        // A standard reader sees the same image.
        gchar *ffmpeg = g_find_program_in_path("ffmpeg");
        if (ffmpeg != nullptr) {
            const std::string out = s.ws.dir + "/read.nv12";
            const gchar *argv[] = {ffmpeg,     "-v",       "error",   "-f",        "rawvideo",     "-pix_fmt",
                                   "nv12",     "-s",       "320x240", "-i",        w.path.c_str(), "-f",
                                   "rawvideo", "-pix_fmt", "nv12",    out.c_str(), nullptr};
            gint status = -1;
            fail_unless(g_spawn_sync(nullptr, const_cast<gchar **>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr,
                                     nullptr, nullptr, &status, nullptr));
            fail_unless(g_spawn_check_wait_status(status, nullptr), "ffmpeg failed");
            fail_unless(fileText(out) == w.bytes);
            g_remove(out.c_str());
            g_free(ffmpeg);
        }
        g_remove(w.path.c_str());
    } else {
        fail_if(c.file[0] != '/' && g_file_test(w.path.c_str(), G_FILE_TEST_EXISTS));
    }
    g_mutex_unlock(&w.lock);
    fail_unless(errorText(s.bus).empty());
}
GST_END_TEST;

// An accepted asymmetric window becomes the focus-statistics region of the next frames: edges in normalised
// coordinates (x from the left, y from the bottom) mapped onto the image, each edge where it belongs.
GST_START_TEST(test_focus_window_reaches_statistics) {
    Streaming s;
    s.play();
    gboolean accepted = FALSE;
    g_signal_emit_by_name(s.element, "set-fvalue-window", -0.5f, 0.75f, 0.25f, -0.125f, &accepted);
    fail_unless(accepted);
    // The runtime settings go to the context at the start of a fetch: the frames the harness already holds, and
    // the one being fetched now, may have been set up before the signal. The frame after that one is the first
    // whose fetch certainly started after it.
    GST_OBJECT_LOCK(s.element);
    const guint64 fetched = GST_NORVASRC(s.element)->state->shot_counter;
    GST_OBJECT_UNLOCK(s.element);
    for (;;) {
        GstBuffer *buffer = gst_harness_pull(s.h);
        fail_unless(buffer != nullptr);
        const guint64 offset = GST_BUFFER_OFFSET(buffer);
        gst_buffer_unref(buffer);
        if (offset > fetched)
            break;
    }
    GST_OBJECT_LOCK(s.element);
    TestContext *context = GST_NORVASRC(s.element)->state->main_context;
    const double W = context->getMaxImageWidth(), H = context->getMaxImageHeight();
    const ISPC::ModuleFOS *fos =
        static_cast<const ISPC::ModuleFOS *>(context->pCamera->getPipeline()->getModule(ISPC::ModuleFOS::id));
    fail_unless(fos != nullptr && fos->bEnableROI);
    const unsigned x0 = unsigned(0.5 * W * 0.5), x1 = unsigned(1.25 * W * 0.5);   // left -0.5, right 0.25
    const unsigned y0 = unsigned(0.25 * H * 0.5), y1 = unsigned(1.125 * H * 0.5); // top 0.75, bottom -0.125
    fail_unless(fos->aRoiStartCoord[0] == x0 && fos->aRoiStartCoord[1] == y0, "start %u,%u, expected %u,%u",
                fos->aRoiStartCoord[0], fos->aRoiStartCoord[1], x0, y0);
    fail_unless(fos->aRoiEndCoord[0] == x1 - 1 && fos->aRoiEndCoord[1] == y1 - 1, "end %u,%u, expected %u,%u",
                fos->aRoiEndCoord[0], fos->aRoiEndCoord[1], x1 - 1, y1 - 1);
    GST_OBJECT_UNLOCK(s.element);
    fail_unless(errorText(s.bus).empty());
}
GST_END_TEST;

static Suite *norvasrc_signals_suite(void) {
    Suite *s = suite_create("norvasrc_signals");
    TCase *signals = tcase_create("signals");
    suite_add_tcase(s, signals);
    tcase_add_loop_test(signals, test_focus_window, 0, G_N_ELEMENTS(kWindows));
    tcase_add_test(signals, test_exposure_ranges);
    tcase_add_test(signals, test_image_requests);
    TCase *events = tcase_create("events");
    tcase_set_timeout(events, 60);
    suite_add_tcase(s, events);
    tcase_add_test(events, test_fnum_status_defaults);
    tcase_add_test(events, test_focus_window_reaches_statistics);
    tcase_add_loop_test(events, test_fnum_status_refused, 0, G_N_ELEMENTS(kRefused));
    tcase_add_loop_test(events, test_save_next_frame, 0, G_N_ELEMENTS(kSaves));
    return s;
}

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    Suite *s = norvasrc_signals_suite();
    return gst_check_run_suite(s, "norvasrc_signals", __FILE__);
}
