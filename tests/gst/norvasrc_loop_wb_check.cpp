// White balance through norvasrc on the board's OV4689 with its calibrated setup (data/setup/ov4689.txt), for each
// of the three algorithms: under a 3000 K light the neutral patches of the chart come out neutral and
// "awb-measured-temperature" reads the light within 10 %; then the light changes to 6500 K in mid-stream and the
// loop follows it. The gain-based and Planckian loops settle within 60 frames of each light, the PID loop within its
// own, slower settling (its integral moves the gains by a tenth of the ratio error per measurement), which the test
// prints.
#include "norvasrc_loops.h"

using namespace norvasrc_test;

namespace {

/** Largest spread of R, G and B on a neutral patch, and of the measured temperature from the light. */
constexpr double kNeutral = 0.03;
constexpr double kTemperature = 0.10;
/** Frames in a row that must hold both for the loop to count as settled (fewer in the sanitizer builds). */
constexpr guint kHeld = NORVA_QUICK_TESTS ? 3 : 5;
/**
 * The neutral patches judged: levels 0.1 to 0.7. The darkest (0.05) is a few codes above black, where one code is
 * several per cent.
 */
constexpr int kFirstPatch = 1;

/**
 * The sensor at the mode the calibration was made for (or its binned mode with the grids made to fit it:
 * kCalibratedMode), so that its lens-shading grids apply: without them the darker red of the corners pulls the PID
 * loop's balance of the whole frame off the neutrals. The output is a quarter of the full frame's width and height
 * (the ISP's display scaler), which is all the patches need.
 */
constexpr const char *kSensor = "OV4689_0";
constexpr const char *kOutputCaps = "video/x-raw, format=BGR, width=672, height=380";

struct WbLoop {
    const char *algorithm; /* "awb-algorithm" */
    guint limit;           /* frames after the start or a change of light by which the loop has settled */
};
const WbLoop kLoops[] = {
    {"normal", 60},
    {"planckian", 60},
    {"pid", 150},
};
/** The PID loop, much slower, is a test case of its own (run beside the others). */
constexpr int kPid = 2;

/** The largest spread of R, G, B over the judged neutral patches. */
double worstSpread(const Image &image, int *patch) {
    double worst = 0;
    for (int i = kFirstPatch; i < norva_sim::ChartLayout::kPatches; i++) {
        const double s = meanRgb(image, norva_sim::SceneNeutralPatch(i, image.width, image.height)).spread();
        if (s > worst) {
            worst = s;
            *patch = i;
        }
    }
    return worst;
}

struct Step {
    guint index;
    double temperature;
    double spread;
    int patch;
    Rgb grey; /* the 0.2 patch */
};

/** The last frames seen (the check library's messages are short). */
std::string describe(const std::vector<Step> &steps) {
    std::string text;
    char line[160];
    for (size_t i = steps.size() > 12 ? steps.size() - 12 : 0; i < steps.size(); i++) {
        const Step &s = steps[i];
        std::snprintf(line, sizeof line, "\n  frame %u: %.0f K, worst spread %.1f %% (patch %d), grey %.1f/%.1f/%.1f",
                      s.index, s.temperature, 100 * s.spread, s.patch, s.grey.r, s.grey.g, s.grey.b);
        text += line;
    }
    return text;
}

/**
 * Pulls frames under the light `kelvin` until kHeld frames in a row have neutral patches and a measured temperature
 * within kTemperature of the light, at most `limit` + kHeld frames. Returns the frame, counted from the first one
 * pulled here, at which the settled run began, or -1; what was seen into *steps.
 */
int settle(Loop &loop, double kelvin, guint limit, std::vector<Step> *steps) {
    guint run = 0;
    for (guint i = 0; i < limit + kHeld && run < kHeld; i++) {
        LoopFrame f;
        Image image;
        fail_unless(loop.pull(&f, &image), "%s", loop.error().c_str());
        Step s{f.index, f.temperature, 0, 0,
               meanRgb(image, norva_sim::SceneNeutralPatch(2, image.width, image.height))};
        s.spread = worstSpread(image, &s.patch);
        steps->push_back(s);
        const bool settled = s.spread < kNeutral && std::fabs(f.temperature / kelvin - 1.0) < kTemperature;
        run = settled ? run + 1 : 0;
    }
    return run == kHeld ? static_cast<int>(steps->size() - kHeld) : -1;
}

GST_START_TEST(test_neutral_and_follows_the_light) {
    const WbLoop &w = kLoops[__i__];
    fail_unless(plugSensors(kSensor));
    norva_sim::SetIlluminant(3000);
    TempDir dir;
    Loop loop(kSensor, kCalibratedMode,
              writeSetup(dir, NORVA_SETUP_DIR "/ov4689.txt", std::string(), "setup.txt", kCalibratedGridDivisor));
    gst_harness_set_sink_caps_str(loop.h, kOutputCaps);
    g_object_set(loop.src, "exposure-auto", TRUE, "awb-enable", TRUE, nullptr);
    gst_util_set_object_arg(G_OBJECT(loop.src), "awb-algorithm", w.algorithm);
    fail_unless(loop.play(), "%s", loop.error().c_str());

    std::vector<Step> warm;
    const int warmAt = settle(loop, 3000, w.limit, &warm);
    fail_unless(warmAt >= 0 && warmAt <= static_cast<int>(w.limit), "%s: not settled under 3000 K in %u frames:%s",
                w.algorithm, w.limit, describe(warm).c_str());

    norva_sim::SetIlluminant(6500);
    std::vector<Step> cool;
    const int coolAt = settle(loop, 6500, w.limit, &cool);
    fail_unless(coolAt >= 0 && coolAt <= static_cast<int>(w.limit),
                "%s: not settled in %u frames after the light changed to 6500 K:%s", w.algorithm, w.limit,
                describe(cool).c_str());
    g_print("%s: settled at frame %d under 3000 K (%.0f K), %d frames after the change to 6500 K (%.0f K)\n",
            w.algorithm, warmAt, warm[static_cast<size_t>(warmAt)].temperature, coolAt,
            cool[static_cast<size_t>(coolAt)].temperature);
}
GST_END_TEST;

Suite *suite() {
    Suite *s = suite_create("norvasrc_loop_wb");
    // Each test settles under two lights.
    tcase_add_loop_test(loopCase(s, "gain_and_planckian", 2 * (kLoops[0].limit + kHeld)),
                        test_neutral_and_follows_the_light, 0, kPid);
    tcase_add_loop_test(loopCase(s, "pid", 2 * (kLoops[kPid].limit + kHeld)), test_neutral_and_follows_the_light, kPid,
                        kPid + 1);
    return s;
}

} // namespace

NORVASRC_LOOP_MAIN(suite, "norvasrc_loop_wb")
