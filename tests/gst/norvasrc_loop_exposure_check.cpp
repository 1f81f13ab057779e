// Auto exposure through norvasrc on sensors of the board under the simulated light: the brightness meta reaches the
// target band and stays in it; when the light drops tenfold the exposure time rises to its limit before the gain
// leaves 1, and when the light comes back the gain returns to 1; with flicker avoidance at 50 or 60 Hz every
// exposure of a period or longer is a whole number of half periods of the mains.
#include "norvasrc_loops.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {

/** The target brightness of the setup file and the half-width of the band around it where the loop rests. */
constexpr double kTarget = 0.0;
constexpr double kBracket = 0.05;
/** Frames in a row inside the band that count as settled. */
constexpr guint kSettled = 9;
/** The exposure limit given to the loop, microseconds: above the chart's exposure under the bright light. */
constexpr guint kMaxTimeUs = 20000;

/** Sensors of families with other Bayer orders and gain ranges, each at a small mode. */
struct AeSensor {
    const char *name;
    guint mode;
};
const AeSensor kSensors[] = {
    {"OV4689_0", 0x21}, /* BGGR, gain 1 to 16 */
    {"AR330", 0x00},    /* GRBG on the parallel port, gain 1 to 16 */
};

bool inBand(const LoopFrame &f) { return f.hasBrightness && std::fabs(f.brightness - kTarget) < kBracket; }

/** Pulls until kSettled frames in a row lie in the band (at most `limit` frames); what came, into *frames. */
bool settle(Loop &loop, guint limit, std::vector<LoopFrame> *frames) {
    guint run = 0;
    for (guint i = 0; i < limit && run < kSettled; i++) {
        LoopFrame f;
        fail_unless(loop.pull(&f), "%s", loop.error().c_str());
        frames->push_back(f);
        run = inBand(f) ? run + 1 : 0;
    }
    return run == kSettled;
}

std::string describe(const std::vector<LoopFrame> &frames) {
    std::string text;
    for (const LoopFrame &f : frames)
        text += "\n  frame " + std::to_string(f.index) + ": brightness " + std::to_string(f.brightness) + ", " +
                std::to_string(f.exposureUs) + " us, gain " + std::to_string(f.gain);
    return text;
}

std::string setupFile(const TempDir &dir) {
    return writeSetup(dir, NORVA_REFERENCE_SETUP,
                      "AE_TARGET_BRIGHTNESS " + std::to_string(kTarget) + "\nAE_BRACKET_SIZE " +
                          std::to_string(kBracket) + "\n");
}

GST_START_TEST(test_dim_and_back) {
    const AeSensor &s = kSensors[__i__];
    fail_unless(plugSensors(s.name));
    norva_sim::SetLightLevel(1.0);
    TempDir dir;
    Loop loop(s.name, s.mode, setupFile(dir));
    g_object_set(loop.src, "exposure-auto", TRUE, "exposure-auto-level", kTarget, "exposure-auto-max-time", kMaxTimeUs,
                 nullptr);
    fail_unless(loop.play(), "%s", loop.error().c_str());

    std::vector<LoopFrame> bright;
    fail_unless(settle(loop, 90, &bright), "%s: the brightness did not settle in the band:%s", s.name,
                describe(bright).c_str());
    const LoopFrame brightEnd = bright.back();
    fail_unless(brightEnd.exposureUs < kMaxTimeUs * 0.9 && brightEnd.gain < 1.05,
                "%s: the bright chart needs %u us at gain %g", s.name, brightEnd.exposureUs, brightEnd.gain);

    // A tenth of the light: the exposure climbs to its limit, and only then does the gain rise.
    norva_sim::SetLightLevel(0.1);
    std::vector<LoopFrame> dim;
    fail_unless(settle(loop, 240, &dim), "%s: the brightness did not come back to the band in the dim light:%s",
                s.name, describe(dim).c_str());
    // The row time quantises the limit: one row under it counts as at it.
    const double atLimit = kMaxTimeUs * 0.99;
    for (const LoopFrame &f : dim)
        fail_unless(f.gain < 1.02 || f.exposureUs >= atLimit, "%s: gain %g at %u us, before the exposure limit:%s",
                    s.name, f.gain, f.exposureUs, describe(dim).c_str());
    const LoopFrame dimEnd = dim.back();
    fail_unless(dimEnd.exposureUs >= atLimit && dimEnd.exposureUs <= kMaxTimeUs,
                "%s: settled at %u us in the dim light", s.name, dimEnd.exposureUs);
    fail_unless(dimEnd.gain > 3.0, "%s: settled at gain %g in a tenth of the light", s.name, dimEnd.gain);

    // The light again: the gain goes back to 1 and the brightness to the band.
    norva_sim::SetLightLevel(1.0);
    std::vector<LoopFrame> back;
    fail_unless(settle(loop, 90, &back), "%s: the brightness did not settle after the light came back:%s", s.name,
                describe(back).c_str());
    fail_unless(back.back().gain < 1.02, "%s: gain %g after the light came back", s.name, back.back().gain);
    fail_unless(back.back().exposureUs < kMaxTimeUs * 0.9, "%s: %u us after the light came back", s.name,
                back.back().exposureUs);
}
GST_END_TEST;

/** Flicker avoidance: the mode of "ff-mode" and the period of the light's flicker (half the mains period). */
struct FlickerRow {
    const char *sensor;
    guint mode;
    const char *ffMode;
    double periodUs;
};
const FlickerRow kFlicker[] = {
    {"OV4689_0", 0x21, "FREE50", 1e6 / 100.0},
    {"IMX327", 0x00, "FREE60", 1e6 / 120.0},
};

void onRowTimeNs(GstElement *, guint64 rowTime, gpointer data) { *static_cast<guint64 *>(data) = rowTime; }

GST_START_TEST(test_flicker_free) {
    const FlickerRow &row = kFlicker[__i__];
    fail_unless(plugSensors(row.sensor));
    // Dim enough that the exposure climbs through several periods.
    norva_sim::SetLightLevel(0.25);
    TempDir dir;
    Loop loop(row.sensor, row.mode, setupFile(dir));
    guint64 rowTimeNs = 0;
    g_signal_connect(loop.src, "sensor-row-time", G_CALLBACK(onRowTimeNs), &rowTimeNs);
    g_object_set(loop.src, "exposure-auto", TRUE, "exposure-auto-level", kTarget, "exposure-auto-max-time", 40000u,
                 nullptr);
    gst_util_set_object_arg(G_OBJECT(loop.src), "ff-mode", row.ffMode);
    fail_unless(loop.play(), "%s", loop.error().c_str());
    std::vector<LoopFrame> frames;
    fail_unless(loop.pull(75, &frames), "%s", loop.error().c_str());
    fail_unless(rowTimeNs > 0);
    // The exposure lands on the sensor's rows: a whole number of periods rounded down to a row.
    const double rowUs = rowTimeNs / 1000.0;
    std::vector<guint> onPeriods;
    for (const LoopFrame &f : frames) {
        if (f.index < 3 || f.exposureUs < row.periodUs - rowUs)
            continue; /* the sensor's own exposure before the first plan; or shorter than one period */
        const double periods = std::round(f.exposureUs / row.periodUs);
        const double off = periods * row.periodUs - f.exposureUs;
        fail_unless(off >= -1.0 && off <= rowUs + 1.0,
                    "%s %s: %u us is not a whole number of %g us periods (rows of %g us):%s", row.sensor, row.ffMode,
                    f.exposureUs, row.periodUs, rowUs, describe(frames).c_str());
        if (std::find(onPeriods.begin(), onPeriods.end(), f.exposureUs) == onPeriods.end())
            onPeriods.push_back(f.exposureUs);
    }
    fail_unless(onPeriods.size() >= 2, "%s %s: the exposure did not climb through the periods:%s", row.sensor,
                row.ffMode, describe(frames).c_str());
    fail_unless(inBand(frames.back()), "%s %s: not settled:%s", row.sensor, row.ffMode, describe(frames).c_str());
}
GST_END_TEST;

Suite *suite() {
    Suite *s = suite_create("norvasrc_loop_exposure");
    TCase *tc = tcase_create("exposure");
    tcase_set_timeout(tc, 600);
    tcase_add_loop_test(tc, test_dim_and_back, 0, G_N_ELEMENTS(kSensors));
    tcase_add_loop_test(tc, test_flicker_free, 0, G_N_ELEMENTS(kFlicker));
    suite_add_tcase(s, tc);
    return s;
}

} // namespace

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    return gst_check_run_suite(suite(), "norvasrc_loop_exposure", __FILE__) != 0;
}
