// Auto exposure through norvasrc on sensors of the board under the simulated light: the brightness meta reaches the
// target band and stays in it; when the light drops tenfold the exposure time rises to its limit before the gain
// leaves 1, and when the light comes back the gain returns to 1; with flicker avoidance at 50 or 60 Hz every
// exposure of a period or longer is a whole number of half periods of the mains.
#include "norvasrc_loops.h"

using namespace norvasrc_test;

namespace {

/** The target brightness of the setup file and the half-width of the band around it where the loop rests. */
constexpr double kTarget = 0.0;
constexpr double kBracket = 0.05;
/** Frames in a row inside the band that count as settled (fewer in the sanitizer builds). */
constexpr guint kSettled = NORVA_QUICK_TESTS ? 5 : 9;
/** The most frames the loop may take to settle: in the bright light, in the dim light, and back. */
constexpr guint kBrightLimit = 90, kDimLimit = 240, kBackLimit = 90;
/** The exposure limit given to the loop, microseconds: above the chart's exposure under the bright light. */
constexpr guint kMaxTimeUs = 20000;

/**
 * Sensors of families with other Bayer orders and gain ranges, each at a small mode. Both show the same rule: the
 * sanitizer builds run the first alone.
 */
struct AeSensor {
    const char *name;
    guint mode;
};
const AeSensor kSensors[] = {
    {"OV4689_0", 0x21}, /* BGGR, gain 1 to 16 */
    {"AR330", 0x00},    /* GRBG on the parallel port, gain 1 to 16 */
};
constexpr int kDimSensors = NORVA_QUICK_TESTS ? 1 : static_cast<int>(G_N_ELEMENTS(kSensors));

void onRowTimeNs(GstElement *, guint64 rowTime, gpointer data) { *static_cast<guint64 *>(data) = rowTime; }

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

/** The last frames (at most 24: the check library's messages are short). */
std::string describe(const std::vector<LoopFrame> &frames) {
    std::string text;
    for (size_t i = frames.size() > 24 ? frames.size() - 24 : 0; i < frames.size(); i++) {
        const LoopFrame &f = frames[i];
        text += "\n  frame " + std::to_string(f.index) + ": brightness " + std::to_string(f.brightness) + ", " +
                std::to_string(f.exposureUs) + " us, gain " + std::to_string(f.gain);
    }
    return text;
}

/** Once in the band the loop rests: the settled frames share one exposure and gain. */
bool rests(const std::vector<LoopFrame> &frames) {
    for (size_t i = frames.size() - kSettled; i < frames.size(); i++)
        if (frames[i].exposureUs != frames.back().exposureUs || frames[i].gain != frames.back().gain)
            return false;
    return true;
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
    guint64 rowTimeNs = 0;
    g_signal_connect(loop.src, "sensor-row-time", G_CALLBACK(onRowTimeNs), &rowTimeNs);
    g_object_set(loop.src, "exposure-auto", TRUE, "exposure-auto-level", kTarget, "exposure-auto-max-time", kMaxTimeUs,
                 nullptr);
    fail_unless(loop.play(), "%s", loop.error().c_str());
    std::vector<LoopFrame> bright, dim, back;
    const bool brightSettled = settle(loop, kBrightLimit, &bright);
    // A tenth of the light, then the light again.
    norva_sim::SetLightLevel(0.1);
    const bool dimSettled = settle(loop, kDimLimit, &dim);
    norva_sim::SetLightLevel(1.0);
    const bool backSettled = settle(loop, kBackLimit, &back);
    loop.stop();

    fail_unless(brightSettled, "%s: the brightness did not settle in the band:%s", s.name, describe(bright).c_str());
    fail_unless(rests(bright), "%s: the exposure moves in the band:%s", s.name, describe(bright).c_str());
    const LoopFrame brightEnd = bright.back();
    fail_unless(brightEnd.exposureUs < kMaxTimeUs * 0.9 && brightEnd.gain < 1.05,
                "%s: the bright chart needs %u us at gain %g", s.name, brightEnd.exposureUs, brightEnd.gain);

    // In the dim light the exposure climbs to its limit, and only then does the gain rise. The sensor takes whole
    // rows, so an exposure within a row of the limit is at it.
    fail_unless(dimSettled, "%s: the brightness did not come back to the band in the dim light:%s", s.name,
                describe(dim).c_str());
    const double rowUs = rowTimeNs / 1000.0;
    fail_unless(rowUs > 0 && rowUs < kMaxTimeUs / 100.0, "rows of %g us", rowUs);
    const auto atLimit = [&](const LoopFrame &f) { return std::fabs(f.exposureUs - double(kMaxTimeUs)) <= rowUs + 1; };
    for (const LoopFrame &f : dim)
        fail_unless(f.gain < 1.02 || atLimit(f), "%s: gain %g at %u us, before the exposure limit:%s", s.name, f.gain,
                    f.exposureUs, describe(dim).c_str());
    fail_unless(rests(dim), "%s: the exposure moves in the band:%s", s.name, describe(dim).c_str());
    fail_unless(atLimit(dim.back()), "%s: settled at %u us in the dim light", s.name, dim.back().exposureUs);
    fail_unless(dim.back().gain > 1.2, "%s: settled at gain %g in a tenth of the light", s.name, dim.back().gain);

    // The light again: the gain goes back to 1 and the brightness to the band.
    fail_unless(backSettled, "%s: the brightness did not settle after the light came back:%s", s.name,
                describe(back).c_str());
    fail_unless(rests(back), "%s: the exposure moves in the band:%s", s.name, describe(back).c_str());
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
/** Frames pulled: the exposure climbs through several periods within them. */
constexpr guint kFlickerFrames = 75;
const FlickerRow kFlicker[] = {
    {"OV4689_0", 0x21, "FREE50", 1e6 / 100.0},
    {"IMX327", 0x00, "FREE60", 1e6 / 120.0},
};

GST_START_TEST(test_flicker_free) {
    const FlickerRow &row = kFlicker[__i__];
    fail_unless(plugSensors(row.sensor));
    // Dim enough that the exposure climbs through several periods, beyond a target time of about one period, where
    // the exposure is no longer held at the target time while the gain rises.
    norva_sim::SetLightLevel(0.05);
    TempDir dir;
    Loop loop(row.sensor, row.mode, setupFile(dir));
    guint64 rowTimeNs = 0;
    g_signal_connect(loop.src, "sensor-row-time", G_CALLBACK(onRowTimeNs), &rowTimeNs);
    g_object_set(loop.src, "exposure-auto", TRUE, "exposure-auto-level", kTarget, "exposure-auto-max-time", 40000u,
                 "exposure-auto-target-time", 10000u, nullptr);
    gst_util_set_object_arg(G_OBJECT(loop.src), "ff-mode", row.ffMode);
    fail_unless(loop.play(), "%s", loop.error().c_str());
    std::vector<LoopFrame> frames;
    const bool pulled = loop.pull(kFlickerFrames, &frames);
    loop.stop();
    fail_unless(pulled, "%s", loop.error().c_str());
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
    fail_unless(onPeriods.size() >= 3, "%s %s: the exposure did not climb through the periods:%s", row.sensor,
                row.ffMode, describe(frames).c_str());
}
GST_END_TEST;

Suite *suite() {
    Suite *s = suite_create("norvasrc_loop_exposure");
    tcase_add_loop_test(loopCase(s, "dim", kBrightLimit + kDimLimit + kBackLimit), test_dim_and_back, 0, kDimSensors);
    tcase_add_loop_test(loopCase(s, "flicker", kFlickerFrames), test_flicker_free, 0, G_N_ELEMENTS(kFlicker));
    return s;
}

} // namespace

NORVASRC_LOOP_MAIN(suite, "norvasrc_loop_exposure")
