// norvasrc's frame loop on the data generator of the simulated platform: what each buffer carries (metadata,
// timestamps, corrupted frames), capture restarted after an erroneous frame, the buffer modes (copy, dmabuf
// query and event), two owners sharing one capture, and exposure shared through the shared-memory record.
// The capture context first: the check library defines a macro named fail.
#include "testcontext.h"

#include "norvasrc_workspace.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gst/allocators/gstdmabuf.h>
#include <gst/check/gstharness.h>
#include <gst/video/video.h>

#include "gstnorvameta.h"
#include "gstnorvaproxysrc.h"
#include "gstnorvasrc.h"
#include "platform/sim_capture.h"
#include "platform/sim_isp.h"
#include "platform/sim_platform.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {

constexpr const char *kNv12 = "video/x-raw, format=NV12, width=320, height=240";
constexpr const char *kShmName = "/norvasrc_sensor_params";

/** A norvasrc in a harness with the given sink caps; the caller sets properties in `configure` first. */
struct Rig {
    Workspace ws{"640", "480"};
    GstBus *bus = nullptr;
    GstElement *src = nullptr;
    GstHarness *h = nullptr;

    template <class F>
    Rig(const char *caps, bool systemClock, F configure, const std::string &params = "",
        const std::string &setup = "") {
        if (!params.empty())
            ws.writeParams(params);
        if (!setup.empty())
            Workspace::write(ws.setup, setup);
        src = makeSource(&bus);
        g_object_set(src, "use-dmabuf", FALSE, nullptr);
        configure(src);
        h = gst_harness_new_with_element(src, nullptr, "src");
        gst_harness_set_sink_caps_str(h, caps);
        if (systemClock)
            gst_harness_use_systemclock(h);
        gst_harness_play(h);
    }
    ~Rig() {
        gst_harness_teardown(h);
        gst_element_set_bus(src, nullptr);
        gst_object_unref(bus);
        gst_object_unref(src);
    }
    GstBuffer *pull() {
        GstBuffer *buffer = gst_harness_pull(h);
        fail_unless(buffer != nullptr, "no buffer: %s", errorText(bus).c_str());
        return buffer;
    }
};

/** The simulated pipeline that captures for the element (the only started one). */
int capturingPipeline() {
    for (int id = 0; id < 16; ++id) {
        norva_sim::SimCaptureView view;
        if (norva_sim::GetSimCapture(id, &view) && view.started)
            return id;
    }
    fail("no pipeline captures");
    return -1;
}

/** The position of the first traced command `nr` at or after `from`, or -1. */
int traced(const std::vector<norva_sim::TraceEntry> &trace, int nr, int from) {
    for (size_t i = static_cast<size_t>(from < 0 ? 0 : from); i < trace.size(); ++i) {
        if (trace[i].nr == nr)
            return static_cast<int>(i);
    }
    return -1;
}

constexpr int kCiReset = 9, kCaptureStart = 20, kCaptureStop = 21;

/** Bound of every wait of these tests for a condition: far beyond what a busy machine needs. */
constexpr gint64 kPatienceUs = 30 * G_TIME_SPAN_SECOND;

/** Waits until `holds` is true of the element's state under its mutex; false when it was not within the bound. */
template <class F> bool waitUnderMutex(GstElement *element, F holds) {
    NorvasrcState *state = GST_NORVASRC(element)->state;
    const gint64 deadline = g_get_monotonic_time() + kPatienceUs;
    for (;;) {
        g_mutex_lock(&state->mutex);
        const bool held = holds(*state);
        g_mutex_unlock(&state->mutex);
        if (held)
            return true;
        if (g_get_monotonic_time() > deadline)
            return false;
        g_usleep(1000);
    }
}

} // namespace

// An erroneous frame reaches downstream flagged corrupted; with "restart-on-error" capture is stopped, the
// driver reset and capture started again, and streaming goes on with automatic exposure as it was.
GST_START_TEST(test_erroneous_frame) {
    const gboolean restart = __i__ == 1;
    Rig rig(kNv12, true,
            [&](GstElement *src) { g_object_set(src, "restart-on-error", restart, "exposure-auto", TRUE, nullptr); });
    gst_buffer_unref(rig.pull());
    norva_sim::SetTraceCapacity(4096);
    norva_sim::ClearTrace();
    norva_sim::InjectFrameError(capturingPipeline(), true);
    bool corrupted = false;
    guint64 offset = 0;
    for (int i = 0; i < 6 && !corrupted; ++i) {
        GstBuffer *buffer = rig.pull();
        corrupted = GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_CORRUPTED);
        offset = GST_BUFFER_OFFSET(buffer);
        gst_buffer_unref(buffer);
    }
    fail_unless(corrupted, "no corrupted buffer after an erroneous frame");
    GstBuffer *next = rig.pull();
    fail_if(GST_BUFFER_FLAG_IS_SET(next, GST_BUFFER_FLAG_CORRUPTED));
    fail_unless_equals_uint64(GST_BUFFER_OFFSET(next), offset + 1);
    gst_buffer_unref(next);

    const std::vector<norva_sim::TraceEntry> trace = norva_sim::Trace();
    const int stop = traced(trace, kCaptureStop, 0);
    const int reset = traced(trace, kCiReset, stop);
    const int start = traced(trace, kCaptureStart, reset);
    if (restart)
        fail_unless(stop >= 0 && reset > stop && start > reset, "stop %d, reset %d, start %d", stop, reset, start);
    else
        fail_unless(stop < 0 && traced(trace, kCiReset, 0) < 0, "capture restarted without being asked to");
    gboolean autoExposure = FALSE;
    g_object_get(rig.src, "exposure-auto", &autoExposure, nullptr);
    fail_unless(autoExposure);
    fail_unless(errorText(rig.bus).empty());
}
GST_END_TEST;

// Every buffer carries the video meta of its stream, both reference timestamps of its frame and the control
// results; the histogram only on request.
GST_START_TEST(test_metadata_records) {
    const gboolean histogram = __i__ == 1;
    Rig rig(kNv12, true, [&](GstElement *src) { g_object_set(src, "add-histogram-meta", histogram, nullptr); });
    for (int i = 0; i < 3; ++i) {
        GstBuffer *buffer = rig.pull();
        GstVideoMeta *video = gst_buffer_get_video_meta(buffer);
        fail_unless(video != nullptr);
        fail_unless(video->format == GST_VIDEO_FORMAT_NV12 && video->n_planes == 2);
        fail_unless(video->width == 320 && video->height == 240);
        fail_unless(video->offset[1] >= static_cast<gsize>(video->stride[0]) * 240, "chroma inside the luma plane");

        const char *expected[] = {"timestamp/x-unix-utc", "timestamp/x-norva-stream"};
        gpointer state = nullptr;
        int n = 0;
        while (GstMeta *meta =
                   gst_buffer_iterate_meta_filtered(buffer, &state, GST_REFERENCE_TIMESTAMP_META_API_TYPE)) {
            GstReferenceTimestampMeta *ref = reinterpret_cast<GstReferenceTimestampMeta *>(meta);
            fail_unless(n < 2);
            fail_unless(gst_structure_has_name(gst_caps_get_structure(ref->reference, 0), expected[n]));
            fail_unless_equals_uint64(ref->duration, 33333333);
            ++n;
        }
        fail_unless_equals_int(n, 2);
        fail_unless(gst_buffer_get_meta(buffer, gst_iris_correction_meta_api_get_type()) != nullptr);
        fail_unless(gst_buffer_get_meta(buffer, gst_focus_value_meta_api_get_type()) != nullptr);
        fail_unless(gst_buffer_get_meta(buffer, gst_norva_current_brightness_meta_api_get_type()) != nullptr);
        fail_unless_equals_int(gst_buffer_get_meta(buffer, gst_norva_brightness_hist_meta_api_get_type()) != nullptr,
                               histogram);
        gst_buffer_unref(buffer);
    }
}
GST_END_TEST;

namespace {

struct MemoryKind {
    gboolean dmabuf, mapped;
};
const MemoryKind kMemoryKinds[] = {{FALSE, FALSE}, {TRUE, FALSE}, {TRUE, TRUE}};

} // namespace

// The video meta describes the planes as the device wrote them: with the device's test pattern, every byte read
// through the meta's offsets and strides is the pattern's byte at that plane, column and row. The memory is
// read-only unless it is a mapped dmabuf; dmabuf memory carries the descriptor.
GST_START_TEST(test_planes_as_the_device_wrote_them) {
    const MemoryKind kind = kMemoryKinds[__i__];
    Rig rig(kNv12, true, [&](GstElement *src) {
        norva_sim::RenderDatagenAsTestPattern(true);
        g_object_set(src, "use-dmabuf", kind.dmabuf, "use-mapped-dmabuf", kind.mapped, nullptr);
    });
    for (int n = 0; n < 2; ++n) {
        GstBuffer *buffer = rig.pull();
        GstMemory *memory = gst_buffer_peek_memory(buffer, 0);
        fail_unless_equals_int(gst_is_fd_memory(memory), kind.dmabuf && !kind.mapped);
        fail_unless_equals_int(GST_MEMORY_IS_READONLY(memory), !(kind.dmabuf && kind.mapped));
        GstVideoMeta *meta = gst_buffer_get_video_meta(buffer);
        fail_unless(meta != nullptr && meta->n_planes == 2);
        GstMapInfo map;
        fail_unless(gst_buffer_map(buffer, &map, GST_MAP_READ));
        const guint8 origin = map.data[meta->offset[0]];
        const guint32 rows[2] = {240, 120};
        for (guint plane = 0; plane < 2; ++plane) {
            for (guint32 y : {0u, 1u, rows[plane] / 2, rows[plane] - 1}) {
                for (guint32 x : {0u, 1u, 77u, 319u}) {
                    const gsize at = meta->offset[plane] + static_cast<gsize>(meta->stride[plane]) * y + x;
                    fail_unless(at < map.size);
                    const guint8 expected = static_cast<guint8>(origin + plane * 101u + x * 3u + y * 5u);
                    fail_unless(map.data[at] == expected, "plane %u (%u, %u): %u, expected %u", plane, x, y,
                                map.data[at], expected);
                }
            }
        }
        gst_buffer_unmap(buffer, &map);
        gst_buffer_unref(buffer);
    }
    fail_unless(errorText(rig.bus).empty());
}
GST_END_TEST;

// An image setting reaches the context whether the application set it or not: its default replaces the setup
// file's value; a value set holds.
GST_START_TEST(test_image_settings_set_or_not_reach_the_context) {
    const bool set = __i__ == 1;
    Rig rig(
        kNv12, true,
        [&](GstElement *src) {
            if (set)
                g_object_set(src, "sharpness", 0.75f, nullptr);
        },
        "", "SHA_STRENGTH 0.25\n");
    for (int i = 0; i < 2; ++i)
        gst_buffer_unref(rig.pull());
    GstNorvasrc *src = GST_NORVASRC(rig.src);
    GST_OBJECT_LOCK(src);
    const double sharpness = src->state->main_context->getSharpness();
    GST_OBJECT_UNLOCK(src);
    fail_unless(std::fabs(sharpness - (set ? 0.75 : 0.5)) < 1e-6, "sharpness %g", sharpness);
}
GST_END_TEST;

// A manual exposure outside the sensor's limits (0, the default, is below every minimum) reaches the sensor at
// its limit, and programming it on every frame logs nothing: standard error stays empty over several frames.
GST_START_TEST(test_manual_exposure_within_limits_logs_nothing) {
    Rig rig(kNv12, true,
            [](GstElement *src) { g_object_set(src, "exposure-auto", FALSE, "exposure-time", 0u, nullptr); });
    gst_buffer_unref(rig.pull());
    fflush(stderr);
    char path[] = "/tmp/norvasrc_stderr_XXXXXX";
    const int log = mkstemp(path);
    fail_unless(log >= 0);
    const int saved = dup(STDERR_FILENO);
    dup2(log, STDERR_FILENO);
    for (int i = 0; i < 4; ++i)
        gst_buffer_unref(rig.pull());
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    char text[512] = {0};
    const ssize_t n = pread(log, text, sizeof text - 1, 0);
    close(log);
    unlink(path);
    fail_unless(n == 0, "logged while streaming: %s", text);
    GstNorvasrc *src = GST_NORVASRC(rig.src);
    GST_OBJECT_LOCK(src);
    const ISPC::Sensor *sensor = src->state->main_context->getSensor();
    const unsigned long exposure = sensor->getExposure(), minimum = sensor->getMinExposure();
    GST_OBJECT_UNLOCK(src);
    fail_unless(exposure == minimum, "exposure %lu, minimum %lu", exposure, minimum);
}
GST_END_TEST;

// Under the harness's test clock: a frame older than the running time is stamped 0; later ones carry the running
// time minus their age, and never go back; with do-timestamp the base class stamps the running time itself.
GST_START_TEST(test_timestamps) {
    const gboolean doTimestamp = __i__ == 1;
    Rig rig(kNv12, false, [&](GstElement *src) { gst_base_src_set_do_timestamp(GST_BASE_SRC(src), doTimestamp); });
    // Running time 0: every frame is older than that.
    GstBuffer *initial = rig.pull();
    if (!doTimestamp)
        fail_unless_equals_uint64(GST_BUFFER_PTS(initial), 0);
    gst_buffer_unref(initial);

    const GstClockTime run = 100 * GST_SECOND;
    fail_unless(gst_harness_set_time(rig.h, run));
    // Buffers built before the clock moved are still queued in the harness. The test clock stands still while
    // frames keep coming: a frame's age grows, and its stamp would go back, so later frames get the running time.
    // How many queued frames come first depends on the machine's speed: pulled until one carries the running time.
    GstClockTime previous = 0;
    bool aged = false;
    for (int i = 0; i < 300 && previous != run; ++i) {
        GstBuffer *buffer = rig.pull();
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        fail_unless(GST_CLOCK_TIME_IS_VALID(pts));
        fail_unless(pts >= previous, "timestamps went back: %" G_GUINT64_FORMAT " after %" G_GUINT64_FORMAT, pts,
                    previous);
        fail_unless(pts <= run);
        if (doTimestamp)
            fail_unless(pts == 0 || pts == run, "pts %" G_GUINT64_FORMAT, pts);
        aged = aged || (pts > run - GST_SECOND && pts < run);
        if (!doTimestamp)
            fail_unless_equals_uint64(GST_BUFFER_DTS(buffer), pts);
        previous = pts;
        gst_buffer_unref(buffer);
    }
    fail_unless_equals_uint64(previous, run);
    // The element's own stamp is the running time less the frame's age; the base class stamps the running time.
    fail_unless_equals_int(aged, !doTimestamp);
}
GST_END_TEST;

// Copy mode gives buffers in system memory, with every record, and releases each frame at once: buffers kept
// downstream do not hold capture buffers.
GST_START_TEST(test_copy_mode) {
    Rig rig(kNv12, true, [](GstElement *src) {
        gst_util_set_object_arg(G_OBJECT(src), "buf-mode", "copy");
        g_object_set(src, "alloc-buffers", 3, "preenq-buffers", 1, nullptr);
    });
    std::vector<GstBuffer *> kept;
    for (int i = 0; i < 6; ++i) {
        GstBuffer *buffer = rig.pull();
        GstMemory *memory = gst_buffer_peek_memory(buffer, 0);
        fail_unless(gst_memory_is_type(memory, GST_ALLOCATOR_SYSMEM), "not system memory");
        fail_unless(gst_buffer_get_video_meta(buffer) != nullptr);
        fail_unless(gst_buffer_get_meta(buffer, gst_norva_current_brightness_meta_api_get_type()) != nullptr);
        fail_unless(gst_buffer_get_meta(buffer, gst_focus_value_meta_api_get_type()) != nullptr);
        kept.push_back(buffer);
    }
    for (GstBuffer *buffer : kept)
        gst_buffer_unref(buffer);
    fail_unless(errorText(rig.bus).empty());
}
GST_END_TEST;

namespace {

gboolean findDmabufEvent(GstHarness *h, guint *seqnum, guint *entries) {
    while (GstEvent *event = gst_harness_try_pull_event(h)) {
        const GstStructure *s = gst_event_get_structure(event);
        const bool found = s != nullptr && gst_structure_has_name(s, "dmabuf_event");
        if (found) {
            fail_unless(gst_structure_get_uint(s, "seq-num", seqnum));
            const GValue *list = gst_structure_get_value(s, "fd_list");
            fail_unless(list != nullptr && GST_VALUE_HOLDS_ARRAY(list));
            *entries = gst_value_array_get_size(list);
            guint size = 0;
            fail_unless(gst_structure_get_uint(s, "buffer_size", &size) && size > 0);
            fail_unless(gst_structure_has_field_typed(s, "caps_structure", GST_TYPE_STRUCTURE));
        }
        gst_event_unref(event);
        if (found)
            return TRUE;
    }
    return FALSE;
}

/** Pulls buffers until one is of the given format. */
void pullUntilFormat(Rig &rig, GstVideoFormat format) {
    for (int i = 0; i < 20; ++i) {
        GstBuffer *buffer = rig.pull();
        GstVideoMeta *meta = gst_buffer_get_video_meta(buffer);
        const bool done = meta != nullptr && meta->format == format;
        gst_buffer_unref(buffer);
        if (done)
            return;
    }
    fail("the stream did not change to %s", gst_video_format_to_string(format));
}

} // namespace

// In event mode the capture buffers are announced once per configuration: seq-num 0 at the first negotiation,
// 1 after a reconfiguration to another output, none when renegotiation keeps the format.
GST_START_TEST(test_dmabuf_event) {
    Rig rig(kNv12, true, [](GstElement *src) {
        g_object_set(src, "use-dmabuf", TRUE, "alloc-buffers", 3, "preenq-buffers", 1, nullptr);
        gst_util_set_object_arg(G_OBJECT(src), "buf-mode", "event");
    });
    gst_buffer_unref(rig.pull());
    guint seqnum = 99, entries = 0;
    fail_unless(findDmabufEvent(rig.h, &seqnum, &entries), "no dmabuf_event");
    fail_unless_equals_int(seqnum, 0);
    fail_unless_equals_int(entries, 2 * 3); // descriptor and address of each capture buffer
    GValue list = G_VALUE_INIT;
    g_value_init(&list, GST_TYPE_ARRAY);
    g_object_get_property(G_OBJECT(rig.src), "dmabuf-fd-list", &list);
    fail_unless_equals_int(gst_value_array_get_size(&list), 3);
    g_value_unset(&list);

    constexpr const char *kDisplay = "video/x-raw, format=BGRx, width=160, height=120";
    gst_harness_set_sink_caps_str(rig.h, kDisplay);
    pullUntilFormat(rig, GST_VIDEO_FORMAT_BGRx);
    fail_unless(findDmabufEvent(rig.h, &seqnum, &entries), "no dmabuf_event after reconfiguration");
    fail_unless_equals_int(seqnum, 1);

    // The same format again: nothing to announce.
    gst_harness_set_sink_caps_str(rig.h, kDisplay);
    gst_pad_mark_reconfigure(GST_BASE_SRC_PAD(rig.src));
    for (int i = 0; i < 3; ++i)
        gst_buffer_unref(rig.pull());
    fail_if(findDmabufEvent(rig.h, &seqnum, &entries), "a dmabuf_event without reconfiguration (%u)", seqnum);
    fail_unless(errorText(rig.bus).empty());
}
GST_END_TEST;

namespace {

GstPadProbeReturn answerDmabufQuery(GstPad *, GstPadProbeInfo *info, gpointer data) {
    GstQuery *query = GST_PAD_PROBE_INFO_QUERY(info);
    const GstStructure *s = gst_query_get_structure(query);
    if (GST_QUERY_TYPE(query) != GST_QUERY_CUSTOM || s == nullptr || !gst_structure_has_name(s, "dmabuf_query"))
        return GST_PAD_PROBE_OK;
    const GValue *list = gst_structure_get_value(s, "fd_list");
    guint size = 0;
    if (list != nullptr && gst_structure_get_uint(s, "buffer_size", &size) && size > 0)
        *static_cast<guint *>(data) = gst_value_array_get_size(list);
    return GST_PAD_PROBE_HANDLED;
}

} // namespace

// In query mode downstream is asked, before PLAYING, about the capture buffers' descriptors.
GST_START_TEST(test_dmabuf_query) {
    guint answered = 0;
    Rig rig(kNv12, true, [&](GstElement *src) {
        g_object_set(src, "use-dmabuf", TRUE, "alloc-buffers", 3, "preenq-buffers", 1, nullptr);
        gst_util_set_object_arg(G_OBJECT(src), "buf-mode", "query");
        GstPad *pad = gst_element_get_static_pad(src, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, answerDmabufQuery, &answered, nullptr);
        gst_object_unref(pad);
    });
    gst_buffer_unref(rig.pull());
    fail_unless_equals_int(answered, 3);
    fail_unless(errorText(rig.bus).empty());
}
GST_END_TEST;

namespace {

void fakeProxyClassInit(gpointer klass, gpointer) {
    gst_element_class_add_pad_template(GST_ELEMENT_CLASS(klass), gst_norvasrc_pad_template());
}

/** A stand-in for a norvaproxysrc: the record the element reads of its owners, on a plain base source. */
GType fakeProxyType() {
    static GType type = 0;
    if (type == 0)
        type = g_type_register_static_simple(GST_TYPE_BASE_SRC, "NorvasrcTestOwner", sizeof(GstNorvaProxySrcClass),
                                             fakeProxyClassInit, sizeof(GstNorvaProxySrc), nullptr,
                                             static_cast<GTypeFlags>(0));
    return type;
}

GstNorvaProxySrc *makeOwner(GstElement *src) {
    GstNorvaProxySrc *owner = static_cast<GstNorvaProxySrc *>(g_object_new(fakeProxyType(), "name", "owner", nullptr));
    owner->video_id = GST_NORVASRC(src)->state->video_id; // the same stream as the element's own pad
    owner->buf_mode = GST_NORVASRC_BUFFER_MODE_PASS;
    return owner;
}

} // namespace

// Two owners share one capture: each receives every frame once; one that stops taking frames costs it frames
// instead of stalling the other; unlocking it ends its wait flushing; stopping it keeps capture going.
GST_START_TEST(test_two_owners) {
    Rig rig(kNv12, true, [](GstElement *src) { g_object_set(src, "alloc-buffers", 3, "preenq-buffers", 1, nullptr); });
    gst_buffer_unref(rig.pull());
    GstNorvasrc *src = GST_NORVASRC(rig.src);
    GstNorvaProxySrc *owner = makeOwner(rig.src);

    GstBuffer *mine = nullptr;
    fail_unless_equals_int(gst_norvasrc_get_buffer(src, owner, &mine), GST_FLOW_OK);
    const guint64 taken = GST_BUFFER_OFFSET(mine);
    gst_buffer_unref(mine);
    // The element's pad receives the frames the owner received, and the owner those after it.
    bool seen = false;
    for (int i = 0; i < 6 && !seen; ++i) {
        GstBuffer *buffer = rig.pull();
        seen = GST_BUFFER_OFFSET(buffer) == taken;
        gst_buffer_unref(buffer);
    }
    fail_unless(seen, "frame %" G_GUINT64_FORMAT " did not reach the element's pad", taken);
    fail_unless_equals_int(gst_norvasrc_get_buffer(src, owner, &mine), GST_FLOW_OK);
    fail_unless_equals_uint64(GST_BUFFER_OFFSET(mine), taken + 1);
    gst_buffer_unref(mine);

    // The owner falls behind by far more frames than there are capture buffers; the element's pad goes on.
    for (int i = 0; i < 12; ++i)
        gst_buffer_unref(rig.pull());
    fail_unless(errorText(rig.bus).empty());
    fail_unless_equals_int(gst_norvasrc_get_buffer(src, owner, &mine), GST_FLOW_OK);
    fail_unless(GST_BUFFER_OFFSET(mine) > taken + 2, "the slow owner lost no frame");
    gst_buffer_unref(mine);

    // Unlocked, the owner ends flushing at once; unlocked again, it streams.
    g_atomic_int_set(&owner->flushing, 1);
    gst_norvasrc_wake_waiters(src);
    fail_unless_equals_int(gst_norvasrc_get_buffer(src, owner, &mine), GST_FLOW_FLUSHING);
    fail_unless(mine == nullptr);
    g_atomic_int_set(&owner->flushing, 0);

    fail_unless(gst_norvasrc_stop_common(src, owner));
    for (int i = 0; i < 4; ++i)
        gst_buffer_unref(rig.pull());
    fail_unless(errorText(rig.bus).empty());
    gst_object_unref(owner);
}
GST_END_TEST;

// With "wait-release" the last stop waits for downstream to give its buffers back, but not for ever: a buffer
// kept past the bound lets the stop finish, and stays readable.
GST_START_TEST(test_wait_release_is_bounded) {
    Rig rig(kNv12, true, [](GstElement *src) { g_object_set(src, "wait-release", TRUE, nullptr); });
    GstBuffer *held = rig.pull();
    const gint64 start = g_get_monotonic_time();
    fail_unless_equals_int(gst_element_set_state(rig.src, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    const gint64 took = g_get_monotonic_time() - start;
    // The bound is the element's five-second wait; without it the stop would wait until the buffer comes back.
    fail_unless(took >= 4 * G_TIME_SPAN_SECOND && took < 30 * G_TIME_SPAN_SECOND, "stop took %" G_GINT64_FORMAT " us",
                took);
    GstMapInfo map;
    fail_unless(gst_buffer_map(held, &map, GST_MAP_READ));
    gst_buffer_unmap(held, &map);
    gst_buffer_unref(held);
    fail_unless(errorText(rig.bus).empty());
}
GST_END_TEST;

namespace {

struct Waiter {
    GstNorvasrc *src;
    GstNorvaProxySrc *owner;
    GstFlowReturn result = GST_FLOW_OK;
};

gpointer waitForFrame(gpointer data) {
    Waiter *w = static_cast<Waiter *>(data);
    GstBuffer *buffer = nullptr;
    w->result = gst_norvasrc_get_buffer(w->src, w->owner, &buffer);
    if (buffer != nullptr)
        gst_buffer_unref(buffer);
    return nullptr;
}

} // namespace

// An owner waiting for the frame another pad is fetching ends flushing as soon as it is unlocked, while the
// fetching pad, itself waiting for downstream to give a buffer back, goes on streaming afterwards.
GST_START_TEST(test_unlock_while_waiting_for_another_fetch) {
    Rig rig(kNv12, true, [](GstElement *src) { g_object_set(src, "alloc-buffers", 3, "preenq-buffers", 1, nullptr); });
    gst_buffer_unref(rig.pull());
    // The harness keeps every buffer it is given: the element's thread ends up waiting in its fetch for one back.
    fail_unless(waitUnderMutex(rig.src, [](const NorvasrcState &s) { return s.fetching && s.release_waiters > 0; }),
                "the element's thread never waited for a buffer to come back");
    GstNorvaProxySrc *owner = makeOwner(rig.src);
    Waiter waiter{GST_NORVASRC(rig.src), owner};
    GThread *thread = g_thread_new("owner", waitForFrame, &waiter);
    fail_unless(waitUnderMutex(rig.src, [](const NorvasrcState &s) { return s.queue_waiters > 0; }),
                "the owner never waited for the frame being fetched");
    g_atomic_int_set(&owner->flushing, 1);
    gst_norvasrc_wake_waiters(GST_NORVASRC(rig.src));
    g_thread_join(thread);
    fail_unless_equals_int(waiter.result, GST_FLOW_FLUSHING);
    // The owner did not wait for the other pad's fetch to end: that fetch still waits for a buffer.
    fail_unless(waitUnderMutex(rig.src, [](const NorvasrcState &s) { return s.fetching && s.release_waiters > 0; }));
    fail_unless(gst_norvasrc_stop_common(GST_NORVASRC(rig.src), owner));
    for (int i = 0; i < 4; ++i)
        gst_buffer_unref(rig.pull());
    fail_unless(errorText(rig.bus).empty());
    gst_object_unref(owner);
}
GST_END_TEST;

namespace {

/** Frees a buffer, reads a property and emits an action signal on another thread; says when it is done. */
struct Freer {
    GstBuffer *buffer = nullptr;
    GstElement *src = nullptr;
    guint buffers = 0;
    bool done = false;
    GMutex lock;
    GCond finished;
    Freer(GstBuffer *b, GstElement *s) : buffer(b), src(s) {
        g_mutex_init(&lock);
        g_cond_init(&finished);
    }
    ~Freer() {
        g_cond_clear(&finished);
        g_mutex_clear(&lock);
    }
    static gpointer run(gpointer data) {
        Freer *f = static_cast<Freer *>(data);
        gst_buffer_unref(f->buffer);
        g_object_get(f->src, "alloc-buffers", &f->buffers, nullptr);
        g_signal_emit_by_name(f->src, "set-exposure-auto-time-range", 20000u, 100u);
        g_mutex_lock(&f->lock);
        f->done = true;
        g_cond_broadcast(&f->finished);
        g_mutex_unlock(&f->lock);
        return nullptr;
    }
    bool waitDone() {
        const gint64 deadline = g_get_monotonic_time() + kPatienceUs;
        g_mutex_lock(&lock);
        while (!done && g_cond_wait_until(&finished, &lock, deadline)) {
        }
        const bool result = done;
        g_mutex_unlock(&lock);
        return result;
    }
};

/** Whether the element's fetcher is in its wait for the device, and how many freed records wait for its end. */
bool acquiring(GstElement *src, size_t *pending) {
    ShotPool &pool = GST_NORVASRC(src)->state->pool;
    std::lock_guard<std::mutex> guard(pool.lock);
    *pending = pool.pending.size();
    return pool.acquiring;
}

} // namespace

// A buffer freed while the element waits for the device's next frame goes at once: the frame goes back to the
// camera after that wait instead of holding up the freeing thread, and capture goes on with it. Property values
// and action signals do not wait for the device either. The test holds the device (the platform's lock) while the
// element's thread waits in it, so no frame can come meanwhile: whatever waited for the device would wait until
// the test gives the lock back.
GST_START_TEST(test_free_does_not_wait_for_the_device) {
    g_setenv("NORVA_SIM_PACED_FPS", "2", TRUE); // a frame every 500 ms: the element's thread mostly waits for one
    {
        Rig rig(kNv12, true,
                [](GstElement *src) { g_object_set(src, "alloc-buffers", 3, "preenq-buffers", 1, nullptr); });
        guint deferred = 0;
        for (int attempt = 0; attempt < 50 && deferred < 3; ++attempt) {
            GstBuffer *buffer = rig.pull();
            size_t pending = 0;
            const gint64 deadline = g_get_monotonic_time() + kPatienceUs;
            while (!acquiring(rig.src, &pending) && g_get_monotonic_time() < deadline)
                g_usleep(1000);
            std::unique_lock<std::mutex> device(norva_sim::PlatformMutex());
            if (!acquiring(rig.src, &pending)) {
                // The frame came before the device was held: another frame, another try.
                device.unlock();
                gst_buffer_unref(buffer);
                continue;
            }
            Freer freer(buffer, rig.src);
            GThread *thread = g_thread_new("free", Freer::run, &freer);
            const bool done = freer.waitDone();
            acquiring(rig.src, &pending);
            device.unlock();
            g_thread_join(thread);
            fail_unless(done, "freeing a buffer, reading a property or emitting a signal waited for the device");
            fail_unless_equals_int(freer.buffers, 3);
            // The record waits for the end of the fetcher's wait. None waits when the fetcher had its frame
            // already and was only finishing it: then the free took the lock the fetcher gave back.
            fail_unless(pending <= 1, "%zu records wait", pending);
            deferred += static_cast<guint>(pending);
        }
        fail_unless_equals_int(deferred, 3);
        for (int i = 0; i < 2; ++i)
            gst_buffer_unref(rig.pull());
        fail_unless(errorText(rig.bus).empty());
    }
    g_unsetenv("NORVA_SIM_PACED_FPS");
}
GST_END_TEST;

// A buffer downstream keeps stays readable and unchanged while the element renegotiates (adding an output),
// stops and starts again.
GST_START_TEST(test_held_buffer_survives_renegotiation_and_stop) {
    const gboolean dmabuf = __i__ == 1;
    Rig rig(kNv12, true, [&](GstElement *src) {
        g_object_set(src, "use-dmabuf", dmabuf, "alloc-buffers", 4, "preenq-buffers", 1, nullptr);
    });
    GstBuffer *held = rig.pull();
    GstMapInfo map;
    fail_unless(gst_buffer_map(held, &map, GST_MAP_READ));
    const std::vector<guint8> before(map.data, map.data + map.size);
    gst_buffer_unmap(held, &map);

    gst_harness_set_sink_caps_str(rig.h, "video/x-raw, format=BGRx, width=160, height=120");
    pullUntilFormat(rig, GST_VIDEO_FORMAT_BGRx);
    fail_unless_equals_int(gst_element_set_state(rig.src, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    fail_unless(gst_element_set_state(rig.src, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE);
    pullUntilFormat(rig, GST_VIDEO_FORMAT_BGRx);

    fail_unless(gst_buffer_map(held, &map, GST_MAP_READ));
    fail_unless(map.size == before.size() && memcmp(map.data, before.data(), map.size) == 0, "the held frame changed");
    gst_buffer_unmap(held, &map);
    gst_buffer_unref(held);
    for (int i = 0; i < 4; ++i)
        gst_buffer_unref(rig.pull());
    fail_unless(errorText(rig.bus).empty());
}
GST_END_TEST;

namespace {

bool shmExists() {
    const int fd = shm_open(kShmName, O_RDONLY, 0);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

} // namespace

// With "-sensorExposureSync", an element with automatic exposure publishes its sensor's exposure in the shared
// record and, as its creator, removes the name when it goes; an element with manual exposure takes the record's
// exposure into its properties before each frame and leaves a name it did not create.
GST_START_TEST(test_exposure_sharing) {
    const bool writer = __i__ == 0;
    privateSharedMemory();
    shm_unlink(kShmName);
    int fd = -1;
    SensorParams *record = nullptr;
    if (!writer) {
        fd = shm_open(kShmName, O_RDWR | O_CREAT | O_EXCL, 0600);
        fail_unless(fd >= 0 && ftruncate(fd, sizeof(SensorParams)) == 0);
        record =
            static_cast<SensorParams *>(mmap(nullptr, sizeof(SensorParams), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        fail_unless(record != MAP_FAILED);
        *record = SensorParams{12345, 1.0};
    }
    {
        Rig rig(
            kNv12, true, [&](GstElement *src) { g_object_set(src, "exposure-auto", writer, nullptr); },
            "-sensorExposureSync 1");
        for (int i = 0; i < 3; ++i)
            gst_buffer_unref(rig.pull());
        guint exposure = 0;
        g_object_get(rig.src, "exposure-time", &exposure, nullptr);
        if (writer) {
            fail_unless(shmExists());
            fd = shm_open(kShmName, O_RDONLY, 0);
            record = static_cast<SensorParams *>(mmap(nullptr, sizeof(SensorParams), PROT_READ, MAP_SHARED, fd, 0));
            fail_unless(record != MAP_FAILED);
            fail_unless(record->gain > 0.0);
            fail_unless(exposure > 0);
        } else {
            fail_unless_equals_int(exposure, 12345);
        }
    }
    munmap(record, sizeof(SensorParams));
    close(fd);
    fail_unless_equals_int(shmExists(), !writer);
    shm_unlink(kShmName);
}
GST_END_TEST;

static Suite *norvasrc_frames_suite(void) {
    Suite *s = suite_create("norvasrc_frames");
    TCase *buffers = tcase_create("buffers");
    tcase_set_timeout(buffers, 60);
    suite_add_tcase(s, buffers);
    tcase_add_loop_test(buffers, test_erroneous_frame, 0, 2);
    tcase_add_loop_test(buffers, test_metadata_records, 0, 2);
    tcase_add_loop_test(buffers, test_planes_as_the_device_wrote_them, 0, G_N_ELEMENTS(kMemoryKinds));
    tcase_add_loop_test(buffers, test_timestamps, 0, 2);
    tcase_add_test(buffers, test_copy_mode);
    tcase_add_test(buffers, test_manual_exposure_within_limits_logs_nothing);
    tcase_add_loop_test(buffers, test_image_settings_set_or_not_reach_the_context, 0, 2);
    TCase *exchange = tcase_create("exchange");
    tcase_set_timeout(exchange, 60);
    suite_add_tcase(s, exchange);
    tcase_add_test(exchange, test_dmabuf_event);
    tcase_add_test(exchange, test_dmabuf_query);
    tcase_add_test(exchange, test_two_owners);
    tcase_add_test(exchange, test_unlock_while_waiting_for_another_fetch);
    tcase_add_test(exchange, test_wait_release_is_bounded);
    tcase_add_test(exchange, test_free_does_not_wait_for_the_device);
    tcase_add_loop_test(exchange, test_held_buffer_survives_renegotiation_and_stop, 0, 2);
    tcase_add_loop_test(exchange, test_exposure_sharing, 0, 2);
    return s;
}

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    Suite *s = norvasrc_frames_suite();
    return gst_check_run_suite(s, "norvasrc_frames", __FILE__);
}
