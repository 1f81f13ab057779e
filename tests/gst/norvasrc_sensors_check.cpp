// Every sensor of the registry but the data generator streams through norvasrc on the simulated platform's default
// board, plugged with NORVA_SIM_SENSORS: 30 buffers then the end of stream (see kBuffers for the sanitizer builds), caps at the size of the mode asked for,
// the sensor's row time signalled, the exposure and gain limits of the sensor, and the chart in the picture (the
// clipped patch at full scale, the grey ramp rising to the right, the colour patches in their colours). One sensor
// of each family also mirrors (the picture mirrored, its colours those of the unmirrored one and of the chart: the
// Bayer order follows the flip) and plays a second mode. A wrong board variable, and a sensor that the board does not carry, fail at once with one message that
// names the variable.
#include "norvasrc_board.h"

#include "gstnorvameta.h"
#include "platform/sim_chart.h"
#include "platform/sim_world.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {

/**
 * Buffers of a sensor's stream. The sanitizer builds (NORVA_QUICK_TESTS) take fewer of them at a fixed exposure
 * (kQuickExposureUs): the rows check the stream, its limits and the picture, not how automatic exposure gets there;
 * and they stream one of the twins of a driver (OV4689_0 and OV4689_1, ...). The optimised builds run it all.
 */
constexpr guint kBuffers = NORVA_QUICK_TESTS ? 5 : 30;
constexpr guint kFamilyBuffers = NORVA_QUICK_TESTS ? 5 : 12;
constexpr guint kQuickExposureUs = 4000;

/**
 * A sensor of the registry at a small mode of its own, the range of gains its driver gives, and an exposure for the
 * sensors that automatic exposure brings to the chart too slowly (0: automatic): the S5K3P9 reports no exposure
 * until one is set, so automatic exposure starts from the sensor's shortest and is still short after 30 frames.
 * `twin`: a second sensor of a driver on another slot, which the sanitizer builds leave to the optimised ones.
 */
struct SensorRow {
    const char *name;
    guint mode;
    guint width, height;
    double minGain, maxGain; /* multipliers */
    guint exposureUs;
    bool twin;
};

const SensorRow kSensors[] = {
    {"AR330", 0x00, 1280, 720, 1.0, 16.0, 0, false},      {"OV4688", 0x00, 1280, 720, 1.0, 16.0, 0, false},
    {"OV4689_0", 0x21, 1280, 720, 1.0, 16.0, 0, false},   {"OV4689_1", 0x21, 1280, 720, 1.0, 16.0, 0, true},
    {"OV2718_0", 0x01, 1280, 720, 0.5, 16.0, 0, true},    {"OV2718_1", 0x01, 1280, 720, 0.5, 16.0, 0, false},
    {"OV10823_0", 0x03, 1920, 1080, 1.0, 64.0, 0, false}, {"OV10823_1", 0x03, 1920, 1080, 1.0, 64.0, 0, true},
    {"OV5647_0", 0x00, 1920, 1080, 1.0, 32.0, 0, true},   {"OV5647_1", 0x00, 1920, 1080, 1.0, 32.0, 0, false},
    {"IMX415", 0x0B, 1932, 1096, 1.0, 3981.0, 0, false},  {"OV5695_0", 0x03, 1296, 972, 1.0, 15.5, 0, true},
    {"OV5695_1", 0x03, 1296, 972, 1.0, 15.5, 0, false},   {"OV5695_2", 0x03, 1296, 972, 1.0, 15.5, 0, true},
    {"S5K3P9", 0x06, 1280, 720, 1.0, 16.0, 4000, false},  {"IMX219_0", 0x02, 1920, 1080, 1.0, 170.0, 0, false},
    {"IMX219_1", 0x02, 1920, 1080, 1.0, 170.0, 0, true},  {"IMX335", 0x00, 2592, 1944, 1.0, 3981.0, 0, false},
    {"IMX327", 0x00, 1920, 1080, 1.0, 2818.0, 0, false},  {"ZYNQ", 0x01, 640, 480, 1.0, 1.0, 0, false},
    {"GC8034", 0x10, 1632, 1224, 1.0, 16.0, 0, false},    {"GC5035", 0x00, 2592, 1944, 1.0, 16.0, 0, false},
    {"IMX662", 0x02, 1936, 1100, 1.0, 3981.0, 0, false},  {"IMX477_0", 0x01, 1920, 1080, 1.0, 22.26, 0, true},
    {"IMX477_1", 0x01, 1920, 1080, 1.0, 22.26, 0, false},
};

/** One sensor of a family: the mode it mirrors in, a second mode, and its exposure as in kSensors. */
struct FamilyRow {
    const char *name;
    guint mode, width, height;
    guint secondMode, secondWidth, secondHeight;
    guint exposureUs;
};

const FamilyRow kFamilies[] = {
    /* OmniVision framework drivers: whole cells flip, BGGR (the 1-lane modes have no flip registers) */
    {"OV4689_0", 0x03, 1344, 760, 0x21, 1280, 720, 0},
    {"IMX327", 0x00, 1920, 1080, 0x01, 1920, 1080, 0},   /* Sony standby group: whole cells flip, RGGB */
    {"IMX219_0", 0x02, 1920, 1080, 0x03, 1920, 1080, 0}, /* Sony streaming group: single pixels flip */
    {"GC8034", 0x10, 1632, 1224, 0x00, 3264, 2448, 0},   /* GalaxyCore: single pixels flip, pages */
    {"S5K3P9", 0x06, 1280, 720, 0x05, 720, 1600, 4000},  /* stand-alone drivers: single pixels flip, GRBG */
    {"AR330", 0x00, 1280, 720, 0x02, 1280, 720, 0},      /* parallel port, GRBG */
};

/** The exposure a row streams at: its own, else automatic, or kQuickExposureUs in the sanitizer builds. */
guint exposureOf(guint rowExposureUs) {
    return rowExposureUs != 0 || !NORVA_QUICK_TESTS ? rowExposureUs : kQuickExposureUs;
}

/**
 * The rows of kSensors that this build streams, part after part (the parts are test cases that ctest runs side by
 * side), and where each part begins: the parts hold about as many pixels times buffers each, not as many rows.
 */
std::vector<int> gStreamRows;
int gPartStart[4];

void splitStreamRows(int parts) {
    std::vector<int> rows;
    for (int i = 0; i < static_cast<int>(G_N_ELEMENTS(kSensors)); i++)
        if (!NORVA_QUICK_TESTS || !kSensors[i].twin)
            rows.push_back(i);
    const auto cost = [](int i) { return static_cast<double>(kSensors[i].width) * kSensors[i].height * kBuffers; };
    // The costliest rows first, each into the part that has the least so far.
    std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) { return cost(a) > cost(b); });
    std::vector<std::vector<int>> split(static_cast<size_t>(parts));
    std::vector<double> load(static_cast<size_t>(parts), 0.0);
    for (int row : rows) {
        const size_t p = static_cast<size_t>(std::min_element(load.begin(), load.end()) - load.begin());
        split[p].push_back(row);
        load[p] += cost(row);
    }
    gStreamRows.clear();
    for (int p = 0; p < parts; p++) {
        std::sort(split[static_cast<size_t>(p)].begin(), split[static_cast<size_t>(p)].end());
        gPartStart[p] = static_cast<int>(gStreamRows.size());
        gStreamRows.insert(gStreamRows.end(), split[static_cast<size_t>(p)].begin(),
                           split[static_cast<size_t>(p)].end());
    }
    gPartStart[parts] = static_cast<int>(gStreamRows.size());
}

/** The grey ramp's band: the top rows of the chart, below its edge and above the patches. */
void rampBand(guint width, guint height, guint *y0, guint *y1) {
    (void)width;
    *y0 = height * 4 / 100;
    *y1 = height * 18 / 100;
}

/** The chart as a sensor shows it: the clipped patch at full scale, the grey ramp rising to the right. */
void checkChart(const Image &image, const char *name, bool mirrored) {
    const norva_sim::SceneRect clip = norva_sim::SceneClippedPatch(image.width, image.height);
    const guint inset = (clip.x1 - clip.x0) / 5;
    guint x0 = clip.x0 + inset, x1 = clip.x1 - inset;
    if (mirrored) {
        const guint m0 = image.width - x1, m1 = image.width - x0;
        x0 = m0;
        x1 = m1;
    }
    const guint y0 = clip.y0 + (clip.y1 - clip.y0) / 5, y1 = clip.y1 - (clip.y1 - clip.y0) / 5;
    for (int c = 0; c < 3; c++) {
        const double v = image.mean(x0, y0, x1, y1, c);
        fail_unless(v >= 250.0, "%s: clipped patch at %.1f on channel %d", name, v, c);
    }
    guint r0 = 0, r1 = 0;
    rampBand(image.width, image.height, &r0, &r1);
    double previous = -1.0;
    for (int step = 0; step < 4; step++) {
        const guint at = image.width * (10 + 25 * step) / 100;
        const guint w = image.width / 25;
        const guint left = mirrored ? image.width - at - w : at;
        const double v = image.grey(left, r0, left + w, r1);
        if (step < 3)
            fail_unless(v > previous + 2.0, "%s: ramp at %.1f after %.1f (step %d)", name, v, previous, step);
        else
            fail_unless(v >= previous, "%s: ramp at %.1f after %.1f (step %d)", name, v, previous, step);
        previous = v;
    }
}

/**
 * The chart's radiance on the sensor's BGGR mosaic, as norva_sim::SceneRadiance gives it for one pixel, for rows of a
 * frame: each row of the chart is painted once (SceneRadiance paints it for every pixel asked).
 */
class ChartRadiance {
public:
    ChartRadiance(guint width, guint height)
        : width_(width), height_(height), layout_(norva_sim::ChartLayoutOf(width, height)), row_(width * 3u) {
        norva_sim::IlluminantChannelGains(norva_sim::Illuminant(), gains_);
        scale_ = norva_sim::kWhiteRadiance * norva_sim::LightLevel();
    }
    /** The radiance at (x, y), where y is the row asked last or a new one. */
    float at(guint x, guint y) {
        if (y != y_) {
            norva_sim::ChartRow(layout_, width_, y, row_.data());
            y_ = y;
        }
        // BGGR: (even, even) blue, (odd, odd) red, the others green.
        const unsigned c = (y & 1u) == 0 ? ((x & 1u) == 0 ? 2u : 1u) : ((x & 1u) == 0 ? 1u : 0u);
        return static_cast<float>(row_[x * 3u + c] * scale_ * gains_[c] *
                                  norva_sim::LensShading(c, x, y, width_, height_));
    }

private:
    guint width_, height_;
    norva_sim::ChartLayout layout_;
    std::vector<double> row_;
    guint y_ = G_MAXUINT;
    double gains_[3] = {1, 1, 1};
    double scale_ = 1;
};

/**
 * The chart's colours: in every box of the picture where the scene has one channel at least twice each other (a
 * colour patch), that channel leads in the output too. A Bayer order that is not the one the sensor sends swaps
 * them. The scene is read from the chart's own radiance on its BGGR mosaic.
 */
void checkColours(const Image &image, const char *name, bool mirrored) {
    const guint nx = 16, ny = 12;
    const guint w = image.width / nx & ~1u, h = image.height / ny & ~1u;
    const guint step = std::max(2u, (w / 8) & ~1u);
    ChartRadiance radiance(image.width, image.height);
    int coloured = 0;
    for (guint j = 0; j < ny; j++) {
        for (guint i = 0; i < nx; i++) {
            const guint x0 = i * w, y0 = j * h;
            double scene[3] = {0, 0, 0}; /* R, G, B */
            for (guint y = y0; y + 1 < y0 + h; y += step) {
                for (guint x = x0; x + 1 < x0 + w; x += step) {
                    scene[2] += radiance.at(x, y);
                    scene[1] += radiance.at(x + 1, y);
                }
                for (guint x = x0; x + 1 < x0 + w; x += step)
                    scene[0] += radiance.at(x + 1, y + 1);
            }
            const int lead = static_cast<int>(std::max_element(scene, scene + 3) - scene);
            if (scene[lead] < 2.0 * scene[(lead + 1) % 3] || scene[lead] < 2.0 * scene[(lead + 2) % 3])
                continue;
            coloured++;
            const guint left = mirrored ? image.width - x0 - w : x0;
            double out[3]; /* R, G, B of the output (BGR bytes) */
            for (int c = 0; c < 3; c++)
                out[c] = image.mean(left + w / 4, y0 + h / 4, left + w - w / 4, y0 + h - h / 4, 2 - c);
            const int got = static_cast<int>(std::max_element(out, out + 3) - out);
            fail_unless(got == lead, "%s: box (%u, %u) shows R %.0f G %.0f B %.0f where the chart leads with %d", name,
                        i, j, out[0], out[1], out[2], lead);
        }
    }
    fail_unless(coloured > 0, "%s: no coloured box in the chart", name);
}

/** How closely the picture follows the external generator's pattern: the correlation of 4x4 box means. */
double patternCorrelation(const Image &image) {
    double sp = 0, sg = 0, spp = 0, sgg = 0, spg = 0;
    int n = 0;
    for (guint y = 0; y + 4 <= image.height; y += 4) {
        for (guint x = 0; x + 4 <= image.width; x += 4) {
            double p = 0;
            for (guint j = 0; j < 4; j++)
                for (guint i = 0; i < 4; i++)
                    p += norva_sim::ZynqPattern(x + i, y + j) / 16.0;
            const double g = image.grey(x, y, x + 4, y + 4);
            sp += p, sg += g, spp += p * p, sgg += g * g, spg += p * g;
            n++;
        }
    }
    const double cov = spg - sp * sg / n, vp = spp - sp * sp / n, vg = sgg - sg * sg / n;
    return vp > 0 && vg > 0 ? cov / std::sqrt(vp * vg) : 0.0;
}

/** Runs that end properly: every buffer, then the end of stream, no error. */
void checkStream(const SensorRun &run, const char *name, guint buffers, guint width, guint height) {
    fail_unless(run.error.empty(), "%s: %s", name, run.error.c_str());
    fail_unless_equals_int(run.buffers, buffers);
    fail_unless(run.eos, "%s: no end of stream after %u buffers", name, buffers);
    fail_unless_equals_int(run.capsWidth, width);
    fail_unless_equals_int(run.capsHeight, height);
    fail_unless_equals_string(run.capsFormat.c_str(), "BGR");
    fail_unless(run.streaming.streaming, "%s: the sensor did not stream", name);
}

/** What a buffer shows: the brightness meta and the mean colour of the whole picture. */
struct Sample {
    double brightness = 0;
    double red = 0, green = 0, blue = 0;
};

Sample sampleOf(GstBuffer *buffer, guint width, guint height) {
    Sample s;
    const GstMeta *meta = gst_buffer_get_meta(buffer, gst_norva_current_brightness_meta_api_get_type());
    fail_unless(meta != nullptr, "no brightness meta");
    s.brightness = reinterpret_cast<const GstNorvaCurrentBrightnessMeta *>(meta)->brightness;
    const Image image = imageOf(buffer, width, height);
    s.blue = image.mean(0, 0, width, height, 0);
    s.green = image.mean(0, 0, width, height, 1);
    s.red = image.mean(0, 0, width, height, 2);
    return s;
}

/** A setting changed while the element streams, and what the frames after it show against those before. */
struct RuntimeChange {
    const char *name;
    void (*start)(GstElement *src);
    void (*change)(GstElement *src);
    guint framesBefore, framesAfter;
    bool (*shows)(const Sample &before, const Sample &after);
};

void manualExposure(GstElement *src) {
    g_object_set(src, "exposure-auto", FALSE, "exposure-time", 4000u, "exposure-gain", 0.0f, nullptr);
}
void manualWhiteBalance(GstElement *src) {
    g_object_set(src, "awb-enable", FALSE, "red-balance", 1.0f, "blue-balance", 1.0f, nullptr);
}
void reddenedWhiteBalance(GstElement *src) {
    g_object_set(src, "awb-enable", FALSE, "red-balance", 2.0f, "blue-balance", 1.0f, nullptr);
}
void automaticExposure(GstElement *src) { g_object_set(src, "exposure-auto", TRUE, nullptr); }

// The element applies the settings before a frame only when one changed: each of these is set once, mid-stream,
// after frames that kept the settings as they were (automatic exposure settled on the chart).
const RuntimeChange kRuntimeChanges[] = {
    {"exposure-time", manualExposure, [](GstElement *src) { g_object_set(src, "exposure-time", 12000u, nullptr); }, 8,
     8, [](const Sample &b, const Sample &a) { return a.green > 1.25 * b.green; }},
    {"red-balance", manualWhiteBalance, [](GstElement *src) { g_object_set(src, "red-balance", 2.0f, nullptr); }, 8, 8,
     [](const Sample &b, const Sample &a) { return a.red / a.green > 1.4 * (b.red / b.green); }},
    {"night-mode", reddenedWhiteBalance, [](GstElement *src) { g_object_set(src, "night-mode", TRUE, nullptr); }, 8, 8,
     [](const Sample &b, const Sample &a) {
         return b.red > 1.2 * b.green && std::fabs(a.red - a.green) < 2.0 && std::fabs(a.blue - a.green) < 2.0;
     }},
    {"exposure-auto-level", automaticExposure,
     [](GstElement *src) { g_object_set(src, "exposure-auto-level", 0.5f, nullptr); }, 40, 30,
     [](const Sample &b, const Sample &a) { return a.brightness > b.brightness + 0.2; }},
};

} // namespace

// A setting changed mid-stream reaches the frames after it, also once the element has stopped applying
// unchanged settings to every frame.
GST_START_TEST(test_runtime_change_reaches_the_frames) {
    const RuntimeChange &c = kRuntimeChanges[__i__];
    const guint width = 1280, height = 720;
    fail_unless(plugSensors("OV4689_0"));
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "sensor", "OV4689_0", "sensor-mode", 0x21u, "setup-file", NORVA_REFERENCE_SETUP, nullptr);
    c.start(src);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, "video/x-raw, format=BGR");
    fail_unless(gst_element_set_state(h->element, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE);
    Sample before, after;
    for (guint i = 0; i < c.framesBefore + c.framesAfter; i++) {
        if (i == c.framesBefore)
            c.change(src);
        GstBuffer *buffer = pullOrError(h, bus);
        fail_unless(buffer != nullptr, "%s: %s", c.name, errorText(bus).c_str());
        if (i + 1 == c.framesBefore)
            before = sampleOf(buffer, width, height);
        if (i + 1 == c.framesBefore + c.framesAfter)
            after = sampleOf(buffer, width, height);
        gst_buffer_unref(buffer);
    }
    fail_unless(c.shows(before, after),
                "%s: before brightness %.3f, RGB %.1f/%.1f/%.1f; after brightness %.3f, RGB %.1f/%.1f/%.1f", c.name,
                before.brightness, before.red, before.green, before.blue, after.brightness, after.red, after.green,
                after.blue);
    gst_harness_teardown(h);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
}
GST_END_TEST;

// Each sensor on the board: the stream, its size, its row time, its limits, its picture.
GST_START_TEST(test_sensor_streams) {
    const SensorRow &row = kSensors[gStreamRows[static_cast<size_t>(__i__)]];
    fail_unless(plugSensors(row.name), "%s refused: %s", row.name, norva_sim::BoardEnvironmentError().c_str());
    const SensorRun run = playSensor(row.name, row.mode, "none", kBuffers, exposureOf(row.exposureUs));
    checkStream(run, row.name, kBuffers, row.width, row.height);
    fail_unless_equals_int(run.streaming.width, row.width);
    fail_unless_equals_int(run.streaming.height, row.height);

    fail_unless_equals_int(run.rowTimeSignals, 1);
    // The element gives gains in decibels from 0: a sensor that attenuates (the OV2718 from 0.5) shows 0.
    fail_unless(std::fabs(run.minGainDb - 20.0 * std::log10(std::max(1.0, row.minGain))) < 0.01,
                "%s: minimum gain %g dB", row.name, run.minGainDb);
    fail_unless(std::fabs(run.maxGainDb - 20.0 * std::log10(row.maxGain)) < 0.01, "%s: maximum gain %g dB", row.name,
                run.maxGainDb);
    if (run.streaming.registers) {
        // The row time the element signals is the one the sensor runs at, as its registers say; the OV4688's mode
        // information carries none, and the element signals the 0 its driver reports.
        const double rowTimeUs = static_cast<double>(run.rowTimeNs) / 1000.0;
        const double sensorRowTimeUs = std::strcmp(row.name, "OV4688") == 0 ? 0.0 : run.streaming.rowTimeUs;
        fail_unless(std::fabs(rowTimeUs - sensorRowTimeUs) <= 0.01 * sensorRowTimeUs + 0.002,
                    "%s: row time %.3f us signalled, the sensor's is %.3f us", row.name, rowTimeUs, sensorRowTimeUs);
        fail_unless(run.minTimeUs > 0 && run.maxTimeUs > run.minTimeUs, "%s: exposure limits [%u, %u] us", row.name,
                    run.minTimeUs, run.maxTimeUs);
        fail_unless(run.streaming.exposureUs >= run.minTimeUs - rowTimeUs &&
                        run.streaming.exposureUs <= run.maxTimeUs + rowTimeUs,
                    "%s: the sensor exposes %.1f us outside [%u, %u]", row.name, run.streaming.exposureUs,
                    run.minTimeUs, run.maxTimeUs);
        checkChart(run.last, row.name, false);
        checkColours(run.last, row.name, false);
    } else {
        // The generator board has no registers of its own; the picture is its pattern.
        const double r = patternCorrelation(run.last);
        fail_unless(r > 0.9, "%s: the picture follows the generator's pattern with a correlation of %.3f", row.name, r);
    }
}
GST_END_TEST;

// One sensor of each family mirrored: the picture is the unmirrored one read from the right, colours included
// (a Bayer order that did not follow the flip would swap them); and a second mode of the sensor.
GST_START_TEST(test_family_flip_and_second_mode) {
    const FamilyRow &row = kFamilies[__i__];
    fail_unless(plugSensors(row.name));
    const guint buffers = kFamilyBuffers;
    const guint exposureUs = exposureOf(row.exposureUs);
    const SensorRun plain = playSensor(row.name, row.mode, "none", buffers, exposureUs);
    checkStream(plain, row.name, buffers, row.width, row.height);
    fail_if(plain.streaming.hflip);
    const SensorRun mirrored = playSensor(row.name, row.mode, "horizontal", buffers, exposureUs);
    checkStream(mirrored, row.name, buffers, row.width, row.height);
    fail_unless(mirrored.streaming.hflip, "%s: the sensor did not mirror", row.name);
    checkChart(mirrored.last, row.name, true);
    checkColours(plain.last, row.name, false);
    checkColours(mirrored.last, row.name, true);
    const guint nx = 8, ny = 6;
    for (guint j = 0; j < ny; j++) {
        for (guint i = 0; i < nx; i++) {
            const guint w = row.width / nx, h = row.height / ny;
            const guint x = i * w, y = j * h, xm = (nx - 1 - i) * w;
            for (int c = 0; c < 3; c++) {
                const double a = plain.last.mean(xm, y, xm + w, y + h, c);
                const double b = mirrored.last.mean(x, y, x + w, y + h, c);
                fail_unless(std::fabs(a - b) <= 6.0 + 0.05 * a,
                            "%s: box (%u, %u) channel %d: %.1f mirrored, %.1f unmirrored", row.name, i, j, c, b, a);
            }
        }
    }
    const SensorRun second = playSensor(row.name, row.secondMode, "none", buffers, exposureUs);
    checkStream(second, row.name, buffers, row.secondWidth, row.secondHeight);
    checkChart(second.last, row.name, false);
}
GST_END_TEST;

// A wrong NORVA_SIM_SENSORS: one message naming the variable when the board is built, and a sensor that then fails
// at once instead of waiting for frames.
GST_START_TEST(test_board_variable_refused) {
    struct Case {
        const char *value;
        const char *message;
    };
    const Case kCases[] = {
        {"OV4689_3", "NORVA_SIM_SENSORS: unknown sensor \"OV4689_3\""},
        {"DOR Idazida", "NORVA_SIM_SENSORS: unknown sensor \"DOR Idazida\""},
        {"OV4689_0,IMX219_0", "NORVA_SIM_SENSORS: \"OV4689_0\" and \"IMX219_0\" sit at one slot"},
        {"OV5695_1, OV5695_2", "NORVA_SIM_SENSORS: \"OV5695_1\" and \"OV5695_2\" sit at one slot"},
    };
    const Case &c = kCases[__i__];
    bool built = true;
    std::string error;
    const std::string log = stderrOf([&] {
        built = plugSensors(c.value);
        const gint64 start = g_get_monotonic_time();
        const SensorRun run = playSensor("OV4689_0", 0x21, "none", 1);
        fail_unless(g_get_monotonic_time() - start < 20 * G_TIME_SPAN_SECOND, "the failure took too long");
        fail_unless_equals_int(run.buffers, 0);
        error = run.error;
    });
    fail_if(built, "%s accepted", c.value);
    fail_unless(norva_sim::BoardEnvironmentError().rfind(c.message, 0) == 0, "%s",
                norva_sim::BoardEnvironmentError().c_str());
    fail_unless_equals_int(countOf(log, c.message), 1);
    fail_unless(error.find("Cannot set up context 0 with sensor \"OV4689_0\"") != std::string::npos, "%s",
                error.c_str());
}
GST_END_TEST;

// A sensor that the board does not carry fails at its first step, with one message naming the variable.
GST_START_TEST(test_sensor_not_plugged) {
    struct Case {
        const char *plugged, *asked;
        guint mode;
        const char *message;
    };
    const Case kCases[] = {
        {"OV4689_0", "IMX219_1", 0x02,
         "NORVA_SIM_SENSORS: no sensor answers at 0x10 on /dev/i2c-2; the board carries "
         "\"OV4689_0\""},
        {"OV4689_0", "AR330", 0x00, "NORVA_SIM_SENSORS: no sensor answers at 0x10 on /dev/i2c-0"},
        {"IMX219_1", "ZYNQ", 0x01,
         "NORVA_SIM_SENSORS: no sensor is plugged behind /dev/sensor_phy0; the board carries "
         "\"IMX219_1\""},
        {"", "OV4689_0", 0x21,
         "NORVA_SIM_SENSORS: no sensor answers at 0x36 on /dev/i2c-1; the board carries no sensor"},
    };
    const Case &c = kCases[__i__];
    fail_unless(plugSensors(c.plugged));
    SensorRun run;
    const gint64 start = g_get_monotonic_time();
    const std::string log = stderrOf([&] { run = playSensor(c.asked, c.mode, "none", 1); });
    fail_unless(g_get_monotonic_time() - start < 20 * G_TIME_SPAN_SECOND, "the failure took too long");
    fail_unless_equals_int(run.buffers, 0);
    fail_if(run.error.empty(), "no error from the element");
    fail_unless_equals_int(countOf(log, c.message), 1);
}
GST_END_TEST;

/**
 * Test cases that ctest runs side by side (CK_RUN_CASE): the sensors in three parts, the families, settings changed
 * mid-stream, bad input.
 */
static Suite *norvasrc_sensors_suite(void) {
    Suite *s = suite_create("norvasrc_sensors");
    const int parts = 3;
    splitStreamRows(parts);
    for (int part = 0; part < parts; part++) {
        static const char *const kNames[] = {"stream_0", "stream_1", "stream_2"};
        TCase *stream = tcase_create(kNames[part]);
        tcase_set_timeout(stream, 1200);
        suite_add_tcase(s, stream);
        tcase_add_loop_test(stream, test_sensor_streams, gPartStart[part], gPartStart[part + 1]);
    }
    TCase *family = tcase_create("family");
    tcase_set_timeout(family, 1200);
    suite_add_tcase(s, family);
    tcase_add_loop_test(family, test_family_flip_and_second_mode, 0, G_N_ELEMENTS(kFamilies));
    TCase *runtime = tcase_create("runtime");
    tcase_set_timeout(runtime, 600);
    suite_add_tcase(s, runtime);
    tcase_add_loop_test(runtime, test_runtime_change_reaches_the_frames, 0, G_N_ELEMENTS(kRuntimeChanges));
    TCase *bad = tcase_create("bad_input");
    tcase_set_timeout(bad, 60);
    suite_add_tcase(s, bad);
    tcase_add_loop_test(bad, test_board_variable_refused, 0, 4);
    tcase_add_loop_test(bad, test_sensor_not_plugged, 0, 4);
    return s;
}

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    Suite *s = norvasrc_sensors_suite();
    return gst_check_run_suite(s, "norvasrc_sensors", __FILE__);
}
