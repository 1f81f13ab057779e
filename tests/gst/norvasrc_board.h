#ifndef NORVA_TEST_GST_NORVASRC_BOARD_H
#define NORVA_TEST_GST_NORVASRC_BOARD_H

// What the suites on the simulated platform's default board share: a board carrying the sensors named by
// NORVA_SIM_SENSORS, a norvasrc on one of them with the reference setup file, its output pulled through a harness
// as BGR at the sensor's size, and standard error captured around a call. Every test runs in its own process
// (libcheck forks), so a test sets the board it needs.

// The standard headers first: the check library defines a macro named fail.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sim_default_board.h"
#include "platform/sim_sensor.h"
#include "platform/sim_standalone_sensors.h"

#include "norvasrc_workspace.h"

#include <gst/check/gstharness.h>
#include <gst/video/video.h>

namespace norvasrc_test {

/** Puts the sensors on the default board (NORVA_SIM_SENSORS) for this process; false when the value is refused. */
inline bool plugSensors(const char *sensors) {
    g_unsetenv("GST_NORVASRC_PARAMS_FILE");
    g_setenv(norva_sim::kSensorsVariable, sensors, TRUE);
    return norva_sim::UseDefaultBoard();
}

/** What f writes on standard error (the library's log lines). */
template <class F> std::string stderrOf(F &&f) {
    fflush(stderr);
    char path[] = "/tmp/norvasrc_board_stderr_XXXXXX";
    const int log = mkstemp(path);
    fail_unless(log >= 0);
    const int saved = dup(STDERR_FILENO);
    dup2(log, STDERR_FILENO);
    f();
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string text;
    char chunk[4096];
    ssize_t n = 0;
    off_t at = 0;
    while ((n = pread(log, chunk, sizeof chunk, at)) > 0) {
        text.append(chunk, static_cast<size_t>(n));
        at += n;
    }
    close(log);
    unlink(path);
    return text;
}

/** Occurrences of part in text. */
inline size_t countOf(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        n++;
    return n;
}

/** A BGR image as the element sent it. */
struct Image {
    guint width = 0, height = 0, stride = 0;
    std::vector<guint8> bytes;
    /** Mean of channel c (0 blue, 1 green, 2 red) over [x0, x1) x [y0, y1). */
    double mean(guint x0, guint y0, guint x1, guint y1, int c) const {
        double sum = 0;
        for (guint y = y0; y < y1; y++)
            for (guint x = x0; x < x1; x++)
                sum += bytes[static_cast<size_t>(y) * stride + x * 3u + static_cast<guint>(c)];
        const double n = static_cast<double>(x1 - x0) * (y1 - y0);
        return n > 0 ? sum / n : 0.0;
    }
    double grey(guint x0, guint y0, guint x1, guint y1) const {
        return (mean(x0, y0, x1, y1, 0) + mean(x0, y0, x1, y1, 1) + mean(x0, y0, x1, y1, 2)) / 3.0;
    }
};

/** What one run of a norvasrc on a board sensor gave. */
struct SensorRun {
    guint buffers = 0;
    bool eos = false;
    gint capsWidth = 0, capsHeight = 0;
    std::string capsFormat;
    guint64 rowTimeNs = 0;
    guint rowTimeSignals = 0;
    double minGainDb = 0, maxGainDb = 0;
    guint minTimeUs = 0, maxTimeUs = 0;
    norva_sim::BoardSensorView streaming; /* the sensor's registers while the element streamed */
    Image last;
    std::string error;
};

inline void onRowTime(GstElement *, guint64 rowTime, gpointer data) {
    SensorRun *run = static_cast<SensorRun *>(data);
    run->rowTimeNs = rowTime;
    run->rowTimeSignals++;
}

inline double doubleProperty(GObject *object, const char *name) {
    GValue value = G_VALUE_INIT;
    GValue asDouble = G_VALUE_INIT;
    GParamSpec *spec = g_object_class_find_property(G_OBJECT_GET_CLASS(object), name);
    fail_unless(spec != nullptr, "no property %s", name);
    g_value_init(&value, G_PARAM_SPEC_VALUE_TYPE(spec));
    g_object_get_property(object, name, &value);
    g_value_init(&asDouble, G_TYPE_DOUBLE);
    fail_unless(g_value_transform(&value, &asDouble));
    const double d = g_value_get_double(&asDouble);
    g_value_unset(&value);
    g_value_unset(&asDouble);
    return d;
}

inline Image imageOf(GstBuffer *buffer, guint width, guint height) {
    Image image;
    image.width = width;
    image.height = height;
    GstVideoMeta *meta = gst_buffer_get_video_meta(buffer);
    image.stride = meta != nullptr ? static_cast<guint>(meta->stride[0]) : GST_ROUND_UP_4(width * 3u);
    GstMapInfo map;
    fail_unless(gst_buffer_map(buffer, &map, GST_MAP_READ));
    const size_t offset = meta != nullptr ? meta->offset[0] : 0;
    fail_unless(map.size >= offset + static_cast<size_t>(image.stride) * height, "buffer of %zu bytes", map.size);
    image.bytes.assign(map.data + offset, map.data + offset + static_cast<size_t>(image.stride) * height);
    gst_buffer_unmap(buffer, &map);
    return image;
}

/** The next buffer, or null once the element posted an error (or after two minutes without a buffer). */
inline GstBuffer *pullOrError(GstHarness *h, GstBus *bus) {
    const gint64 deadline = g_get_monotonic_time() + 120 * G_TIME_SPAN_SECOND;
    while (g_get_monotonic_time() < deadline) {
        GstBuffer *buffer = gst_harness_try_pull(h);
        if (buffer != nullptr)
            return buffer;
        GstMessage *error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
        if (error != nullptr) {
            // Put back for errorText.
            gst_bus_post(bus, error);
            return nullptr;
        }
        g_usleep(2000);
    }
    return nullptr;
}

/**
 * Plays a norvasrc on the board sensor `sensor` in mode `mode` with flip `flip` ("none", "horizontal", ...) and
 * the reference setup file until it has sent `buffers` buffers, then waits for its end of stream; with automatic
 * exposure, or at `exposureUs` when it is not 0. The sensor's registers are read while it streams.
 */
inline SensorRun playSensor(const char *sensor, guint mode, const char *flip, guint buffers, guint exposureUs = 0) {
    SensorRun run;
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "sensor", sensor, "sensor-mode", mode, "setup-file", NORVA_REFERENCE_SETUP, "num-buffers",
                 static_cast<gint>(buffers), nullptr);
    if (exposureUs != 0)
        g_object_set(src, "exposure-auto", FALSE, "exposure-time", exposureUs, nullptr);
    gst_util_set_object_arg(G_OBJECT(src), "sensor-flip", flip);
    g_signal_connect(src, "sensor-row-time", G_CALLBACK(onRowTime), &run);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, "video/x-raw, format=BGR");
    // Not gst_harness_play, which gives up on a pipeline that cannot start: a refusal is an outcome here.
    const bool playing = gst_element_set_state(h->element, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    for (guint i = 0; playing && i < buffers; i++) {
        GstBuffer *buffer = pullOrError(h, bus);
        if (buffer == nullptr)
            break;
        run.buffers++;
        if (i == 0) {
            GstCaps *caps = gst_pad_get_current_caps(h->sinkpad);
            fail_unless(caps != nullptr);
            const GstStructure *st = gst_caps_get_structure(caps, 0);
            gst_structure_get_int(st, "width", &run.capsWidth);
            gst_structure_get_int(st, "height", &run.capsHeight);
            run.capsFormat = gst_structure_get_string(st, "format");
            gst_caps_unref(caps);
            norva_sim::DefaultBoardSensor(sensor, &run.streaming);
            run.minGainDb = doubleProperty(G_OBJECT(src), "exposure-min-gain");
            run.maxGainDb = doubleProperty(G_OBJECT(src), "exposure-max-gain");
            run.minTimeUs = static_cast<guint>(doubleProperty(G_OBJECT(src), "exposure-min-time"));
            run.maxTimeUs = static_cast<guint>(doubleProperty(G_OBJECT(src), "exposure-max-time"));
        }
        if (i + 1 == buffers)
            run.last = imageOf(buffer, static_cast<guint>(run.capsWidth), static_cast<guint>(run.capsHeight));
        gst_buffer_unref(buffer);
    }
    if (run.buffers == buffers) {
        // The events after the last buffer: the end of stream comes within a few.
        for (int i = 0; i < 8 && !run.eos; i++) {
            GstEvent *event = gst_harness_pull_event(h);
            if (event == nullptr)
                break;
            run.eos = GST_EVENT_TYPE(event) == GST_EVENT_EOS;
            gst_event_unref(event);
        }
    }
    run.error = errorText(bus);
    gst_harness_teardown(h);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
    return run;
}

} // namespace norvasrc_test

#endif
