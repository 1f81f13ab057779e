// The layout of the frames a pad hands to a peer that does not read GstVideoMeta: rows of the format's default
// stride, one frame long, equal to the frame a peer reading the meta gets from the device's padded rows. Bayer and
// NV12 of a sensor whose width needs padding, through a plain sink, bayer2rgb and filesink.
#include "norvasrc_workspace.h"

#include <string>
#include <vector>

#include <gst/check/gstharness.h>
#include <gst/video/video.h>

#include "gstnorvamultisrc.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {

// A width the device pads: its rows are 64-byte aligned.
constexpr int kWidth = 200;
constexpr int kHeight = 120;

struct Plane {
    int rowBytes;
    int rows;
};

struct LayoutCase {
    const char *caps;
    std::vector<Plane> planes; /**< the default layout: rows of GST_ROUND_UP_4(rowBytes) */
};

const LayoutCase kCases[] = {
    {"video/x-bayer, format=rggb, width=200, height=120", {{kWidth, kHeight}}},
    {"video/x-raw, format=NV12, width=200, height=120", {{kWidth, kHeight}, {kWidth, kHeight / 2}}},
};

/** The frame of a buffer read through its video meta, in the default layout of `c`. */
std::string throughMeta(GstBuffer *buffer, const LayoutCase &c, bool *padded) {
    GstVideoMeta *meta = gst_buffer_get_video_meta(buffer);
    fail_unless(meta != nullptr);
    fail_unless_equals_int(meta->n_planes, c.planes.size());
    GstMapInfo map;
    fail_unless(gst_buffer_map(buffer, &map, GST_MAP_READ));
    std::string frame;
    *padded = false;
    for (guint p = 0; p < meta->n_planes; ++p) {
        const int stride = GST_ROUND_UP_4(c.planes[p].rowBytes);
        *padded = *padded || meta->stride[p] != stride;
        for (int r = 0; r < c.planes[p].rows; ++r) {
            const gsize at = meta->offset[p] + gsize(meta->stride[p]) * r;
            fail_unless(at + stride <= map.size);
            frame.append(reinterpret_cast<const char *>(map.data) + at, stride);
        }
    }
    gst_buffer_unmap(buffer, &map);
    return frame;
}

std::string bytesOf(GstBuffer *buffer) {
    GstMapInfo map;
    fail_unless(gst_buffer_map(buffer, &map, GST_MAP_READ));
    std::string bytes(reinterpret_cast<const char *>(map.data), map.size);
    gst_buffer_unmap(buffer, &map);
    return bytes;
}

/** Two branches of one capture: `reader` reads the video meta; `plain` is set up by the caller. */
struct Branches {
    GstElement *multi = nullptr;
    GstBus *bus = nullptr;
    GstHarness *reader = nullptr;
    GstHarness *plain = nullptr;

    explicit Branches(const char *caps) {
        multi = gst_element_factory_make("norvamultisrc", nullptr);
        bus = gst_bus_new();
        gst_element_set_bus(multi, bus);
        g_object_set(multi, "sensor", kDataGenerator, "use-dmabuf", FALSE, "alloc-buffers", 8u, nullptr);
        reader = gst_harness_new_with_element(multi, nullptr, "src_%u");
        gst_harness_add_propose_allocation_meta(reader, GST_VIDEO_META_API_TYPE, nullptr);
        plain = gst_harness_new_with_element(multi, nullptr, "src_%u");
        for (GstHarness *h : {reader, plain}) {
            gst_harness_set_sink_caps_str(h, caps);
            gst_harness_use_systemclock(h);
        }
    }
    ~Branches() {
        gst_harness_teardown(plain);
        gst_harness_teardown(reader);
        gst_element_set_state(multi, GST_STATE_NULL);
        gst_element_set_bus(multi, nullptr);
        gst_object_unref(bus);
        gst_object_unref(multi);
    }
    void play() {
        gst_harness_play(reader);
        gst_harness_play(plain);
    }
    /** The reader's frame of `offset` through the meta (frames before it are dropped). */
    std::string readerFrame(guint64 offset, const LayoutCase &c) {
        for (;;) {
            GstBuffer *b = pullWithin(reader);
            fail_unless(b != nullptr, "no frame on the reader's branch");
            const guint64 got = GST_BUFFER_OFFSET(b);
            bool padded = false;
            const std::string frame = throughMeta(b, c, &padded);
            gst_buffer_unref(b);
            fail_unless(got <= offset, "frame %" G_GUINT64_FORMAT " skipped", offset);
            if (got == offset) {
                fail_unless(padded, "the device did not pad the rows of width %d", kWidth);
                return frame;
            }
        }
    }
    static GstBuffer *pullWithin(GstHarness *h) {
        for (int i = 0; i < 2000; ++i) {
            GstBuffer *buffer = gst_harness_try_pull(h);
            if (buffer != nullptr)
                return buffer;
            g_usleep(10000);
        }
        return nullptr;
    }
};

} // namespace

// A peer without video meta support gets the default layout, one frame long: the reader's frame, row for row.
GST_START_TEST(test_default_layout_without_meta) {
    const LayoutCase &c = kCases[__i__];
    Workspace ws("200", "120");
    Branches branches(c.caps);
    branches.play();
    for (int i = 0; i < 5; ++i) {
        GstBuffer *b = Branches::pullWithin(branches.plain);
        fail_unless(b != nullptr, "no frame on the plain branch");
        const std::string got = bytesOf(b);
        const guint64 offset = GST_BUFFER_OFFSET(b);
        GstVideoMeta *meta = gst_buffer_get_video_meta(b);
        fail_unless(meta != nullptr && meta->stride[0] == GST_ROUND_UP_4(c.planes[0].rowBytes), "%s: stride %d", c.caps,
                    meta != nullptr ? meta->stride[0] : -1);
        gst_buffer_unref(b);
        const std::string expected = branches.readerFrame(offset, c);
        fail_unless_equals_int(got.size(), expected.size());
        fail_unless(got == expected, "%s: frame %" G_GUINT64_FORMAT " differs from the one read through the meta",
                    c.caps, offset);
    }
    fail_unless(errorText(branches.bus).empty());
}
GST_END_TEST;

// The same through GStreamer's own elements that ignore the meta: bayer2rgb converts the frame it gets as it
// converts the reader's frame, and filesink writes the reader's frame, nothing more.
GST_START_TEST(test_bayer2rgb_and_filesink) {
    GstElementFactory *bayer = gst_element_factory_find("bayer2rgb");
    GstElementFactory *file = gst_element_factory_find("filesink");
    if (bayer == nullptr || file == nullptr) {
        GST_WARNING("bayer2rgb or filesink is not installed: skipped");
        if (bayer != nullptr)
            gst_object_unref(bayer);
        if (file != nullptr)
            gst_object_unref(file);
        return;
    }
    gst_object_unref(bayer);
    gst_object_unref(file);
    const LayoutCase &c = kCases[0];
    const char *rgb = "video/x-raw, format=RGBx, width=200, height=120";
    Workspace ws("200", "120");

    // bayer2rgb as the plain branch's peer (it answers the allocation query).
    {
        Branches branches(c.caps);
        gst_harness_add_sink(branches.plain, "bayer2rgb");
        gst_harness_set_sink_caps_str(branches.plain->sink_harness, rgb);
        branches.play();
        GstBuffer *b = Branches::pullWithin(branches.plain);
        fail_unless(b != nullptr);
        const guint64 offset = GST_BUFFER_OFFSET(b);
        gst_harness_push(branches.plain->sink_harness, b);
        GstBuffer *converted = gst_harness_pull(branches.plain->sink_harness);
        fail_unless(converted != nullptr);
        const std::string frame = branches.readerFrame(offset, c);

        GstHarness *ref = gst_harness_new("bayer2rgb");
        gst_harness_set_caps_str(ref, "video/x-bayer, format=rggb, width=200, height=120, framerate=30/1", rgb);
        GstBuffer *in = gst_buffer_new_memdup(frame.data(), frame.size());
        GstBuffer *expected = gst_harness_push_and_pull(ref, in);
        fail_unless(expected != nullptr);
        fail_unless(bytesOf(converted) == bytesOf(expected), "bayer2rgb converted another image");
        gst_buffer_unref(expected);
        gst_buffer_unref(converted);
        gst_harness_teardown(ref);
        fail_unless(errorText(branches.bus).empty());
    }

    // filesink as the plain branch's peer, for Bayer and NV12.
    for (const LayoutCase &each : kCases) {
        Branches branches(each.caps);
        const std::string path = ws.dir + "/frame.raw";
        const std::string sink = "filesink async=false sync=false location=" + path;
        gst_harness_add_sink_parse(branches.plain, sink.c_str());
        branches.play();
        GstBuffer *b = Branches::pullWithin(branches.plain);
        fail_unless(b != nullptr);
        const guint64 offset = GST_BUFFER_OFFSET(b);
        fail_unless_equals_int(gst_harness_push(branches.plain->sink_harness, b), GST_FLOW_OK);
        const std::string frame = branches.readerFrame(offset, each);
        fail_unless(gst_harness_push_event(branches.plain->sink_harness, gst_event_new_eos())); // flushes the file
        gchar *written = nullptr;
        gsize length = 0;
        fail_unless(g_file_get_contents(path.c_str(), &written, &length, nullptr));
        fail_unless(std::string(written, length) == frame,
                    "%s: filesink wrote %" G_GSIZE_FORMAT " bytes, not the frame", each.caps, length);
        g_free(written);
        g_remove(path.c_str());
        fail_unless(errorText(branches.bus).empty());
    }
}
GST_END_TEST;

static Suite *norvasrc_layout_suite(void) {
    Suite *s = suite_create("norvasrc_layout");
    TCase *tc = tcase_create("layout");
    tcase_set_timeout(tc, 120);
    suite_add_tcase(s, tc);
    tcase_add_loop_test(tc, test_default_layout_without_meta, 0, G_N_ELEMENTS(kCases));
    tcase_add_test(tc, test_bayer2rgb_and_filesink);
    return s;
}

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    Suite *s = norvasrc_layout_suite();
    return gst_check_run_suite(s, "norvasrc_layout", __FILE__);
}
