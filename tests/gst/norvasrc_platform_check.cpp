// norvasrc on the simulated platform it shares with this program (libnorvaplatform.so: one platform per process):
// what the test does to the platform reaches the element. A frame error injected arrives as a CORRUPTED buffer;
// bad inputs end as a bus error naming the culprit, the element back in NULL and the platform as it was before.
#include "norvasrc_workspace.h"

#include <gst/check/gstharness.h>

#include <cmath>
#include <string>

#include "gstnorvameta.h"

#include "platform/sim_capture.h"
#include "platform/sim_dmabuf.h"
#include "platform/sim_pipeline.h"
#include "platform/sim_platform.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {

/** What the platform holds or has counted, compared before and after a test. */
struct PlatformState {
    norva_sim::PlatformCounters counters;
    int dmabufDevices;
    norva_sim::SimCaptureCounters capture;
};

PlatformState platformState() {
    return PlatformState{norva_sim::GetCounters(), norva_sim::GetDmabufCounters().openDevices,
                         norva_sim::GetCaptureCounters()};
}

void expectPlatformAsBefore(const PlatformState &before, const char *what) {
    const PlatformState now = platformState();
    fail_unless(now.counters.openDescriptors == before.counters.openDescriptors &&
                    now.counters.liveMappings == before.counters.liveMappings &&
                    now.counters.driverObjects == before.counters.driverObjects &&
                    now.counters.deviceMemoryAreas == before.counters.deviceMemoryAreas,
                "%s: platform counters (descriptors, mappings, objects, areas) %d %d %d %d, before %d %d %d %d", what,
                now.counters.openDescriptors, now.counters.liveMappings, now.counters.driverObjects,
                now.counters.deviceMemoryAreas, before.counters.openDescriptors, before.counters.liveMappings,
                before.counters.driverObjects, before.counters.deviceMemoryAreas);
    fail_unless_equals_int(now.dmabufDevices, before.dmabufDevices);
    fail_unless(now.capture.acquires - before.capture.acquires == now.capture.releases - before.capture.releases,
                "%s: %" G_GUINT64_FORMAT " shots acquired, %" G_GUINT64_FORMAT " released", what,
                now.capture.acquires - before.capture.acquires, now.capture.releases - before.capture.releases);
}

/** The interrupt time of a buffer's frame ("timestamp/x-norva-stream"), or GST_CLOCK_TIME_NONE. */
GstClockTime streamTime(GstBuffer *buffer) {
    GstCaps *caps = gst_caps_from_string("timestamp/x-norva-stream");
    GstReferenceTimestampMeta *meta = gst_buffer_get_reference_timestamp_meta(buffer, caps);
    gst_caps_unref(caps);
    return meta != nullptr ? meta->timestamp : GST_CLOCK_TIME_NONE;
}

/** The device's record of the frame a buffer shows, found by the buffer's interrupt time; every buffer has one. */
norva_sim::SimFrameRecord frameOf(GstBuffer *buffer, int i) {
    const GstClockTime interrupt = streamTime(buffer);
    fail_unless(GST_CLOCK_TIME_IS_VALID(interrupt), "buffer %d names no interrupt time", i);
    norva_sim::SimFrameRecord record;
    fail_unless(norva_sim::FindFrameRecord(interrupt, &record), "buffer %d: no frame at its interrupt time", i);
    return record;
}

/** The simulated pipeline that captures for the element (the only started one). */
int capturingPipeline() {
    for (int id = 0; id < 64; ++id) {
        norva_sim::SimCaptureView view;
        if (norva_sim::GetSimCapture(id, &view) && view.started)
            return id;
    }
    fail("no pipeline captures");
    return -1;
}

/** Statistics of one frame: histograms and a focus grid of levels that differ from frame to frame. */
norva_sim::SimSaveStats frameStatistics(uint32_t k) {
    norva_sim::SimSaveStats stats{};
    for (uint32_t b = 0; b < 64; ++b)
        stats.hisGlobal[b] = k * 1000 + b;
    for (auto &row : stats.hisRegion)
        for (auto &region : row)
            for (uint32_t b = 0; b < 16; ++b)
                region[b] = k * 10 + b;
    for (auto &row : stats.fosGrid)
        for (uint32_t &cell : row)
            cell = k * 50000;
    stats.fosRoi = k * 70000;
    return stats;
}

} // namespace

// An error injected into the next frame of whatever pipeline the element runs reaches it: exactly that buffer is
// CORRUPTED, whether the device flags the status word or the shot. A buffer that names its frame's interrupt time
// agrees with the device's record of that frame.
GST_START_TEST(test_injected_frame_error_arrives_corrupted) {
    const bool inStatusWord = __i__ == 0;
    Workspace ws("320", "240");
    const PlatformState before = platformState();
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "use-dmabuf", FALSE, "alloc-buffers", 3, "preenq-buffers", 1, nullptr);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, "video/x-raw, format=NV12, width=320, height=240");
    gst_harness_use_systemclock(h);
    gst_harness_play(h);

    int corrupted = 0;
    for (int i = 0; i < 8; i++) {
        if (i == 3) {
            // The pre-enqueued shot was triggered earlier: the error lands on the next frame the device completes.
            norva_sim::InjectNextFrameError(inStatusWord);
        }
        GstBuffer *buffer = gst_harness_pull(h);
        fail_unless(buffer != nullptr);
        const bool flagged = GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_CORRUPTED);
        corrupted += flagged ? 1 : 0;
        fail_unless(!flagged || i >= 3, "buffer %d CORRUPTED before the injection", i);
        const norva_sim::SimFrameRecord record = frameOf(buffer, i);
        fail_unless(record.error == flagged, "buffer %d: CORRUPTED %d, device error %d", i, flagged, record.error);
        gst_buffer_unref(buffer);
    }
    fail_unless_equals_int(corrupted, 1);
    fail_unless(errorText(bus).empty());
    gst_harness_teardown(h);
    dropSource(src, bus);
    expectPlatformAsBefore(before, "after streaming");
}
GST_END_TEST;

// Every buffer carries the statistics the device wrote for its own frame, found by the buffer's interrupt time:
// the histogram record holds the frame's bins, and the focus value follows the frame's focus grid (levels that
// differ from frame to frame, uniform over the grid, so the value is the level times one factor for all frames).
GST_START_TEST(test_statistics_of_each_frame) {
    Workspace ws("320", "240");
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "use-dmabuf", FALSE, "alloc-buffers", 3, "preenq-buffers", 1, "add-histogram-meta", TRUE,
                 "exposure-auto", FALSE, nullptr);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, "video/x-raw, format=NV12, width=320, height=240");
    gst_harness_use_systemclock(h);
    gst_harness_play(h);
    gst_buffer_unref(gst_harness_pull(h));
    const int pipeline = capturingPipeline();
    constexpr uint32_t kQueued = 12;
    for (uint32_t k = 1; k <= kQueued; ++k)
        norva_sim::QueueStatistics(pipeline, frameStatistics(k));

    double factor = 0.0; // focus value per unit of the focus grid's level
    int queued = 0;
    for (int i = 0; i < 16; i++) {
        GstBuffer *buffer = gst_harness_pull(h);
        fail_unless(buffer != nullptr);
        const norva_sim::SimFrameRecord record = frameOf(buffer, i);
        const GstNorvaBrightnessHistMeta *hist = reinterpret_cast<GstNorvaBrightnessHistMeta *>(
            gst_buffer_get_meta(buffer, gst_norva_brightness_hist_meta_api_get_type()));
        fail_unless(hist != nullptr, "buffer %d without histogram", i);
        guint64 global = 0, regional = 0;
        for (guint32 bin : hist->hist.globalHistogram)
            global += bin;
        for (const auto &row : hist->hist.regionHistograms)
            for (const auto &region : row)
                for (guint32 bin : region)
                    regional += bin;
        fail_unless(global == record.histogramGlobalSum && regional == record.histogramRegionSum,
                    "buffer %d: histogram sums %" G_GUINT64_FORMAT ", %" G_GUINT64_FORMAT
                    ", the frame's %" G_GUINT64_FORMAT ", %" G_GUINT64_FORMAT,
                    i, global, regional, record.histogramGlobalSum, record.histogramRegionSum);

        const GstFocusValueMeta *focus =
            reinterpret_cast<GstFocusValueMeta *>(gst_buffer_get_meta(buffer, gst_focus_value_meta_api_get_type()));
        fail_unless(focus != nullptr, "buffer %d without focus value", i);
        // Frames that got a queued record are known by its focus ROI word; the others carry the image model's.
        const uint32_t k = record.focusRoi % 70000 == 0 ? record.focusRoi / 70000 : 0;
        if (k >= 1 && k <= kQueued && record.focusGridSum == 49ull * k * 50000) {
            const double level = k * 50000.0;
            if (queued++ == 0)
                factor = focus->value / level;
            fail_unless(focus->value > 0.0f && std::fabs(focus->value / level - factor) <= 1e-4 * factor,
                        "buffer %d: focus value %g for level %g, %g expected", i, focus->value, level, factor * level);
        }
        gst_buffer_unref(buffer);
    }
    fail_unless(queued >= 8, "only %d buffers of frames with the queued statistics", queued);
    fail_unless(errorText(bus).empty());
    gst_harness_teardown(h);
    dropSource(src, bus);
}
GST_END_TEST;

// A frame whose answer names a capture buffer the stack never made fails that frame with an error; the stop that
// follows still brings the element down cleanly (no critical, every shot acquired given back, nothing kept), with
// driver buffers and with dmabuf.
GST_START_TEST(test_unknown_buffer_then_stop) {
    const gboolean dmabuf = __i__ == 1;
    Workspace ws("320", "240");
    const PlatformState before = platformState();
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "use-dmabuf", dmabuf, "alloc-buffers", 3, "preenq-buffers", 1, nullptr);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, "video/x-raw, format=NV12, width=320, height=240");
    gst_harness_use_systemclock(h);
    gst_harness_play(h);
    gst_buffer_unref(gst_harness_pull(h));
    int pipeline = -1;
    for (int id = 1; id < 64 && pipeline < 0; id++) {
        norva_sim::SimPipelineView v;
        if (norva_sim::GetSimPipeline(id, &v) && v.info.config.ui8Context == 0)
            pipeline = id;
    }
    fail_unless(pipeline > 0);
    norva_sim::AnswerUnknownBuffer(pipeline);
    GstMessage *msg = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND, GST_MESSAGE_ERROR);
    fail_unless(msg != nullptr, "no error for the unknown buffer");
    gst_message_unref(msg);
    fail_unless_equals_int(gst_element_set_state(src, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    gst_harness_teardown(h);
    expectPlatformAsBefore(before, "after the unknown buffer");
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
}
GST_END_TEST;

namespace {

struct BadInput {
    const char *name;
    const char *sensor;     // the "sensor" property
    const char *paramExtra; // appended to the parameter file
    const char *setupFile;  // the "setup-file" property, or null
    bool dmabufAbsent;      // "/dev/dmabuf" missing, the element asked to use it
    const char *message;    // the error's text
    const char *named;      // what the text or debug detail must contain (null: the parameter file's path)
};

constexpr const char *kNotConfigured = "Failed to configure context 0";
constexpr const char *kNotLoaded = "Error has occurred while loading parameters";

const BadInput kBadInputs[] = {
    {"unknown sensor", "no-such-sensor", "", nullptr, false, kNotConfigured, "Unknown sensor \"no-such-sensor\""},
    {"missing setup file", kDataGenerator, "", "/nonexistent/norva-setup.txt", false, kNotConfigured,
     "/nonexistent/norva-setup.txt"},
    {"help in the parameter file", kDataGenerator, "-h", nullptr, false, kNotLoaded, nullptr},
    {"letters for a count", kDataGenerator, "-CT0_nBuffers 3x", nullptr, false, kNotLoaded, nullptr},
    {"letters for a gain", kDataGenerator, "-CT0_sensorGain abc", nullptr, false, kNotLoaded, nullptr},
    // The capture buffers cannot be made: negotiation fails, naming the missing device.
    {"/dev/dmabuf absent", kDataGenerator, "", nullptr, true, "Cannot open the dmabuf allocator \"/dev/dmabuf\".",
     "/dev/dmabuf"},
};

} // namespace

// Each bad input fails the way to PLAYING with an error on the bus naming what is wrong, leaves the element in
// NULL, and leaves the platform as it found it (no descriptor, mapping, driver object or shot kept).
GST_START_TEST(test_bad_inputs_leave_nothing_behind) {
    const BadInput &row = kBadInputs[__i__];
    Workspace ws("320", "240");
    ws.writeParams(row.paramExtra);
    norva_sim::SetDmabufAbsent(row.dmabufAbsent);
    const PlatformState before = platformState();
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "sensor", row.sensor, nullptr);
    if (row.setupFile != nullptr)
        g_object_set(src, "setup-file", row.setupFile, nullptr);
    if (row.dmabufAbsent)
        g_object_set(src, "use-dmabuf", TRUE, nullptr);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, "video/x-raw, format=NV12, width=320, height=240");
    gst_harness_use_systemclock(h);

    // The failure comes either from the state change itself or, once streaming, as an error on the bus.
    const GstStateChangeReturn ret = gst_element_set_state(src, GST_STATE_PLAYING);
    GstMessage *msg = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND, GST_MESSAGE_ERROR);
    fail_unless(msg != nullptr, "%s: no error on the bus (state change %d)", row.name, ret);
    GError *error = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(msg, &error, &debug);
    fail_unless_equals_string(error->message, row.message);
    const std::string text = std::string(error->message) + "\n" + (debug != nullptr ? debug : "");
    g_error_free(error);
    g_free(debug);
    gst_message_unref(msg);
    const std::string named = row.named != nullptr ? row.named : ws.params;
    fail_unless(text.find(named) != std::string::npos, "%s: error \"%s\" does not name %s", row.name, text.c_str(),
                named.c_str());

    fail_unless_equals_int(gst_element_set_state(src, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    fail_unless_equals_int(GST_STATE(src), GST_STATE_NULL);
    gst_harness_teardown(h);
    expectPlatformAsBefore(before, row.name);
    norva_sim::SetDmabufAbsent(false);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
}
GST_END_TEST;

static Suite *norvasrc_platform_suite(void) {
    Suite *s = suite_create("norvasrc_platform");
    TCase *tc = tcase_create("platform");
    tcase_set_timeout(tc, 60);
    suite_add_tcase(s, tc);
    tcase_add_loop_test(tc, test_injected_frame_error_arrives_corrupted, 0, 2);
    tcase_add_test(tc, test_statistics_of_each_frame);
    tcase_add_loop_test(tc, test_unknown_buffer_then_stop, 0, 2);
    tcase_add_loop_test(tc, test_bad_inputs_leave_nothing_behind, 0, G_N_ELEMENTS(kBadInputs));
    return s;
}

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    Suite *s = norvasrc_platform_suite();
    return gst_check_run_suite(s, "norvasrc_platform", __FILE__);
}
