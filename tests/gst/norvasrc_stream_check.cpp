// norvasrc streaming on the data generator of the simulated platform: the size fixation and the free-buffer
// rule as functions, then caps negotiated with a harness sink, refusals on the bus, and the buffers themselves.
#include "norvasrc_workspace.h"

#include <gst/check/gstharness.h>
#include <gst/video/video.h>

#include "gstnorvasrc.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {

struct FitCase {
    gint W, H, mw, mh;
    gint width, height;
};

// The largest image of the sensor's aspect ratio inside downstream's limits.
const FitCase kFitCases[] = {
    {1920, 1080, G_MAXINT, G_MAXINT, 1920, 1080}, // no limits: the sensor's size
    {1920, 1080, 1280, 720, 1280, 720},           // both limits bind, same aspect ratio
    {1920, 1080, 1280, G_MAXINT, 1280, 720},      // the width binds
    {1920, 1080, G_MAXINT, 540, 960, 540},        // the height binds
    {1920, 1080, 1000, 1000, 1000, 563},          // rounding the width back up stays within the limit
    {960, 1080, 1280, 720, 640, 720},             // pixel-aspect-ratio 2/1 halved the width
};

} // namespace

GST_START_TEST(test_fit_size) {
    for (const FitCase &c : kFitCases) {
        gint w = 0, h = 0;
        gst_norvasrc_fit_size(c.W, c.H, c.mw, c.mh, &w, &h);
        fail_unless(w == c.width && h == c.height, "%dx%d in %dx%d: got %dx%d, expected %dx%d", c.W, c.H, c.mw, c.mh, w,
                    h, c.width, c.height);
    }
}
GST_END_TEST;

GST_START_TEST(test_int_max_of_caps_fields) {
    const struct {
        const char *structure;
        gint expected;
    } cases[] = {
        {"video/x-raw, width=(int)640", 640},
        {"video/x-raw, width=(int)[ 2, 1280 ]", 1280},
        {"video/x-raw, width=(int){ 320, 1024, 640 }", 1024},
        {"video/x-raw, width={ (string)wide, (int)800, (string)narrow, (int)400 }", 800},
        {"video/x-raw, width={ (string)wide, (string)narrow }", G_MAXINT},
        {"video/x-raw, width=(string)wide", G_MAXINT},
        {"video/x-raw", G_MAXINT},
    };
    for (const auto &c : cases) {
        GstStructure *s = gst_structure_from_string(c.structure, nullptr);
        fail_unless(s != nullptr, "%s", c.structure);
        fail_unless_equals_int(gst_structure_get_int_max(s, "width"), c.expected);
        gst_structure_free(s);
    }
}
GST_END_TEST;

GST_START_TEST(test_fetch_free_buffer) {
    // Frames are named by numbers; queues are given in ascending owner order, oldest first.
    using Ids = std::vector<guintptr>;
    const struct {
        const char *what;
        guint64 preenq, alloc;
        Ids held;
        std::vector<Ids> queues;
        gboolean free;
        guintptr victim;
    } cases[] = {
        {"room for one more enqueue", 1, 4, {1, 2}, {}, TRUE, 0},
        {"three held downstream, none merely queued", 1, 4, {1, 2, 3}, {}, FALSE, 0},
        {"a frame held by two pads counts once", 1, 4, {1, 1, 2}, {{}}, TRUE, 0},
        {"held and queued frames below the limit", 1, 4, {1}, {{1}, {2}}, TRUE, 0},
        {"queued frames count too: the first untaken one goes", 1, 4, {1}, {{2}, {2, 3}}, TRUE, 2},
        {"queues are scanned in owner order, front to back", 1, 4, {1}, {{1, 3}, {2}}, TRUE, 3},
        {"frames held downstream are never victims", 1, 4, {1, 2}, {{1, 2}, {3}}, TRUE, 3},
        {"every queued frame is held too", 1, 3, {1, 2}, {{1}, {2}}, FALSE, 0},
        {"one buffer, none held", 0, 1, {}, {}, TRUE, 0},
        {"one buffer, held", 0, 1, {1}, {}, FALSE, 0},
        {"no wrap-around", G_MAXUINT64, 4, {1}, {}, FALSE, 0},
    };
    std::vector<guintptr> work;
    for (const auto &c : cases) {
        guintptr victim = 99;
        const gboolean free = norvasrc_free_buffer_rule(c.preenq, c.alloc, c.held, c.queues, work, &victim);
        fail_unless(free == c.free && victim == c.victim, "%s: free %d victim %lu", c.what, free,
                    static_cast<unsigned long>(victim));
    }
}
GST_END_TEST;

namespace {

struct Negotiation {
    const char *sinkCaps;
    gboolean useDmabuf;
    const char *format; // expected; null: refused
    gint width, height;
};

// The scene is 640×480 in RGGB order.
const Negotiation kNegotiations[] = {
    {"video/x-raw", TRUE, "BGR", 640, 480}, // first potential format at full size
    {"video/x-raw, format=NV12, width=320, height=240", TRUE, "NV12", 320, 240},
    {"video/x-raw, format=NV21", TRUE, "NV21", 640, 480},
    {"video/x-raw, format=NV16", FALSE, "NV16", 640, 480},
    {"video/x-raw, format=BGRx, width=[ 1, 320 ]", TRUE, "BGRx", 320, 240},
    {"video/x-raw, format=RGB, pixel-aspect-ratio=2/1", FALSE, "RGB", 320, 480},
    {"video/x-raw, format=NV12, pixel-aspect-ratio=1/2", TRUE, "NV12", 640, 240},
    {"video/x-raw, format=v308", FALSE, "v308", 640, 480},
    {"video/x-bayer, format=rggb", FALSE, "rggb", 640, 480},
    {"video/x-raw, format=v308", TRUE, nullptr, 0, 0},                         // interleaved 4:4:4 only without dmabuf
    {"video/x-raw, format=NV12, width=1280, height=960", TRUE, nullptr, 0, 0}, // larger than the sensor
    {"video/x-bayer, format=bggr", FALSE, nullptr, 0, 0},                      // another Bayer order
};

} // namespace

GST_START_TEST(test_negotiation) {
    const Negotiation &row = kNegotiations[__i__];
    Workspace ws("640", "480");
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "use-dmabuf", row.useDmabuf, "num-buffers", 2, nullptr);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, row.sinkCaps);
    gst_harness_use_systemclock(h);
    gst_harness_play(h);

    if (row.format == nullptr) {
        GstMessage *msg = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND, GST_MESSAGE_ERROR);
        fail_unless(msg != nullptr, "%s: no error on the bus", row.sinkCaps);
        GError *error = nullptr;
        gchar *debug = nullptr;
        gst_message_parse_error(msg, &error, &debug);
        const std::string text = std::string(error->message) + " " + (debug != nullptr ? debug : "");
        fail_unless(text.find("Requested caps") != std::string::npos && text.find("offered caps") != std::string::npos,
                    "%s: %s", row.sinkCaps, text.c_str());
        g_error_free(error);
        g_free(debug);
        gst_message_unref(msg);
    } else {
        GstBuffer *buffer = gst_harness_pull(h);
        fail_unless(buffer != nullptr, "%s: no buffer", row.sinkCaps);
        GstCaps *caps = gst_pad_get_current_caps(h->sinkpad);
        GstStructure *s = gst_caps_get_structure(caps, 0);
        fail_unless_equals_string(gst_structure_get_string(s, "format"), row.format);
        gint width = 0, height = 0;
        gst_structure_get_int(s, "width", &width);
        gst_structure_get_int(s, "height", &height);
        fail_unless(width == row.width && height == row.height, "%s: %dx%d", row.sinkCaps, width, height);
        gst_caps_unref(caps);
        fail_unless_equals_uint64(GST_BUFFER_OFFSET(buffer), 0);
        fail_unless_equals_uint64(GST_BUFFER_DURATION(buffer), 33333333);
        gst_buffer_unref(buffer);
        fail_unless_equals_uint64(gst_harness_query_latency(h), 33333333); // one frame period
        fail_unless(errorText(bus).empty());
    }
    gst_harness_teardown(h);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
}
GST_END_TEST;

// The buffers are the capture buffers: consecutive offsets, the video meta describing planes inside the memory,
// and the memory read-only, since it is the ISP's own buffer.
GST_START_TEST(test_buffers_show_capture_buffers) {
    Workspace ws("640", "480");
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "use-dmabuf", FALSE, nullptr);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, "video/x-raw, format=NV12, width=320, height=240");
    gst_harness_use_systemclock(h);
    gst_harness_play(h);
    for (guint64 i = 0; i < 5; ++i) {
        GstBuffer *buffer = gst_harness_pull(h);
        fail_unless(buffer != nullptr);
        fail_unless_equals_uint64(GST_BUFFER_OFFSET(buffer), i);
        fail_unless_equals_uint64(GST_BUFFER_OFFSET_END(buffer), i + 1);
        fail_unless(GST_BUFFER_PTS_IS_VALID(buffer));
        GstVideoMeta *meta = gst_buffer_get_video_meta(buffer);
        fail_unless(meta != nullptr);
        fail_unless_equals_int(meta->n_planes, 2);
        fail_unless(meta->stride[0] >= 320 && meta->stride[0] % 64 == 0);
        const gsize size = gst_buffer_get_size(buffer);
        fail_unless(meta->offset[1] + meta->stride[1] * 120 <= size, "chroma plane outside the memory");
        fail_unless(GST_MEMORY_IS_READONLY(gst_buffer_peek_memory(buffer, 0)));
        GstMapInfo map;
        fail_unless(gst_buffer_map(buffer, &map, GST_MAP_READ));
        gst_buffer_unmap(buffer, &map);
        gst_buffer_unref(buffer);
    }
    fail_unless(errorText(bus).empty());
    gst_harness_teardown(h);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
}
GST_END_TEST;

// Buffers kept downstream hold capture buffers: once none is free the element reports it on the bus instead of
// waiting for ever, and a buffer given back first lets streaming go on.
GST_START_TEST(test_held_buffers_block_then_time_out) {
    Workspace ws("640", "480");
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "use-dmabuf", FALSE, "alloc-buffers", 3, "preenq-buffers", 1, nullptr);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, "video/x-raw, format=NV12, width=320, height=240");
    gst_harness_use_systemclock(h);
    gst_harness_play(h);
    // alloc 3 with 1 pre-enqueued: two buffers may be held.
    GstBuffer *first = gst_harness_pull(h);
    GstBuffer *second = gst_harness_pull(h);
    fail_unless(first != nullptr && second != nullptr);
    gst_buffer_unref(first);
    GstBuffer *third = gst_harness_pull(h);
    fail_unless(third != nullptr, "a released buffer did not let streaming go on");
    fail_unless_equals_uint64(GST_BUFFER_OFFSET(third), 2);

    GstMessage *msg = gst_bus_timed_pop_filtered(bus, 15 * GST_SECOND, GST_MESSAGE_ERROR);
    fail_unless(msg != nullptr, "no error while every buffer is held");
    GError *error = nullptr;
    gst_message_parse_error(msg, &error, nullptr);
    fail_unless_equals_string(error->message, "Timeout waiting for shot release");
    g_error_free(error);
    gst_message_unref(msg);
    gst_buffer_unref(second);
    gst_buffer_unref(third);
    gst_harness_teardown(h);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
}
GST_END_TEST;

// A state change while the streaming thread waits for a held buffer wakes it at once: it ends flushing, without
// an error, and the buffers given back afterwards find their shots.
GST_START_TEST(test_stop_while_waiting_for_release) {
    Workspace ws("640", "480");
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "use-dmabuf", FALSE, "alloc-buffers", 3, "preenq-buffers", 1, nullptr);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, "video/x-raw, format=NV12, width=320, height=240");
    gst_harness_use_systemclock(h);
    gst_harness_play(h);
    GstBuffer *first = gst_harness_pull(h);
    GstBuffer *second = gst_harness_pull(h);
    fail_unless(first != nullptr && second != nullptr);
    // The harness keeps the third: the streaming thread ends up waiting for one of them to come back.
    NorvasrcState *state = GST_NORVASRC(src)->state;
    bool waiting = false;
    for (const gint64 deadline = g_get_monotonic_time() + 60 * G_TIME_SPAN_SECOND;
         !waiting && g_get_monotonic_time() < deadline;) {
        g_mutex_lock(&state->mutex);
        waiting = state->release_waiters > 0;
        g_mutex_unlock(&state->mutex);
        if (!waiting)
            g_usleep(1000);
    }
    fail_unless(waiting, "the streaming thread never waited for a buffer");

    // Woken, the thread ends at once; not woken, it would wait out the rest of its five seconds.
    const gint64 start = g_get_monotonic_time();
    fail_unless_equals_int(gst_element_set_state(src, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    fail_unless(g_get_monotonic_time() - start < G_TIME_SPAN_SECOND * 4, "stopping waited for the timeout");
    fail_unless(errorText(bus).empty());
    // The capture buffers stayed readable while held.
    GstMapInfo map;
    fail_unless(gst_buffer_map(second, &map, GST_MAP_READ));
    gst_buffer_unmap(second, &map);
    gst_buffer_unref(first);
    gst_buffer_unref(second);
    gst_harness_teardown(h);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
}
GST_END_TEST;

static Suite *norvasrc_stream_suite(void) {
    Suite *s = suite_create("norvasrc_stream");
    TCase *rules = tcase_create("rules");
    suite_add_tcase(s, rules);
    tcase_add_test(rules, test_fit_size);
    tcase_add_test(rules, test_int_max_of_caps_fields);
    tcase_add_test(rules, test_fetch_free_buffer);
    TCase *stream = tcase_create("stream");
    tcase_set_timeout(stream, 60);
    suite_add_tcase(s, stream);
    tcase_add_loop_test(stream, test_negotiation, 0, G_N_ELEMENTS(kNegotiations));
    tcase_add_test(stream, test_buffers_show_capture_buffers);
    tcase_add_test(stream, test_held_buffers_block_then_time_out);
    tcase_add_test(stream, test_stop_while_waiting_for_release);
    return s;
}

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    Suite *s = norvasrc_stream_suite();
    return gst_check_run_suite(s, "norvasrc_stream", __FILE__);
}
