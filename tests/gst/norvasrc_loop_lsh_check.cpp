// Lens shading through norvasrc on the board's OV4689 at its full frame (in the sanitizer builds its binned mode,
// with the grids made to fit it: kCalibratedMode), looking at a flat field: with the calibrated grids of
// data/setup/ov4689.txt the corners of the output come within 3 % of its centre under a 3000 K light and, after the
// light changes to 6500 K, under that one too; the device switches to the other grid once, when the measured
// temperature passes the midpoint of the two calibrated temperatures, and at every frame uses the grid of the
// calibrated temperature nearest to the measured one. Without the grids the corners are over 15 % off.
#include "norvasrc_loops.h"

#include "platform/sim_pipeline.h"

using namespace norvasrc_test;

namespace {

/** At the mode the grids were calibrated for, or its binned mode with the grids made to fit it (kCalibratedMode). */
constexpr const char *kSensor = "OV4689_0";
/** The temperatures of the calibrated grids and the midpoint where the choice changes. */
constexpr double kWarm = 3000, kCool = 6500, kMidpoint = kWarm + (kCool - kWarm) / 2;
/** The measured temperature counts as following the light within this fraction, for this many frames in a row. */
constexpr double kFollows = 0.10;
constexpr guint kHeld = 3;
/** Frames by which the measured temperature follows a light. */
constexpr guint kFollowLimit = 40;

/**
 * The largest relative difference from the centre of the picture, on any channel, over blocks of 1/16 of its width
 * and height at its four corners.
 */
double cornerError(const Image &image) {
    const guint w = image.width / 16, h = image.height / 16, W = image.width, H = image.height;
    const norva_sim::SceneRect centre{W / 2 - w / 2, H / 2 - h / 2, W / 2 + w / 2, H / 2 + h / 2};
    const Rgb mid = meanRgb(image, centre, 0.0);
    double worst = 0;
    for (const norva_sim::SceneRect &r :
         {norva_sim::SceneRect{0, 0, w, h}, norva_sim::SceneRect{W - w, 0, W, h}, norva_sim::SceneRect{0, H - h, w, H},
          norva_sim::SceneRect{W - w, H - h, W, H}}) {
        const Rgb c = meanRgb(image, r, 0.0);
        for (const auto &pair : {std::make_pair(c.r, mid.r), std::make_pair(c.g, mid.g), std::make_pair(c.b, mid.b)})
            worst = std::max(worst, pair.second > 0 ? std::fabs(pair.first / pair.second - 1.0) : 1.0);
    }
    return worst;
}

/** The device's pipeline of context 0, or -1. */
int contextPipeline() {
    for (int id = 1; id < 64; id++) {
        norva_sim::SimPipelineView v;
        if (norva_sim::GetSimPipeline(id, &v) && v.info.config.ui8Context == 0)
            return id;
    }
    return -1;
}

/** After each frame: the temperature the element reported and the matrix the device applies from then on. */
struct Choice {
    guint index;
    double temperature;
    uint32_t matrix;
};

/** Frames from `from` on, at most the last 16 (the check library's messages are short). */
std::string describe(const std::vector<Choice> &choices, size_t from = 0) {
    std::string text;
    for (size_t i = std::max(from, choices.size() > 16 ? choices.size() - 16 : 0); i < choices.size(); i++)
        text += "\n  frame " + std::to_string(choices[i].index) + ": " + std::to_string(choices[i].temperature) +
                " K, matrix " + std::to_string(choices[i].matrix);
    return text;
}

/** Pulls until the measured temperature has followed `kelvin` for kHeld frames (at most `limit`); the last picture. */
Image follow(Loop &loop, double kelvin, guint limit) {
    guint run = 0;
    Image image;
    for (guint i = 0; i < limit && run < kHeld; i++) {
        LoopFrame f;
        fail_unless(loop.pull(&f), "%s", loop.error().c_str());
        run = std::fabs(f.temperature / kelvin - 1.0) < kFollows ? run + 1 : 0;
    }
    fail_unless(run == kHeld, "the measured temperature did not follow %.0f K in %u frames", kelvin, limit);
    LoopFrame f;
    fail_unless(loop.pull(&f, &image), "%s", loop.error().c_str());
    return image;
}

GST_START_TEST(test_grids_follow_the_light) {
    fail_unless(plugSensors(kSensor));
    norva_sim::SetScene(norva_sim::Scene::Flat);
    norva_sim::SetIlluminant(kWarm);
    TempDir dir;
    Loop loop(kSensor, kCalibratedMode,
              writeSetup(dir, NORVA_SETUP_DIR "/ov4689.txt", std::string(), "setup.txt", kCalibratedGridDivisor));
    g_object_set(loop.src, "exposure-auto", TRUE, "awb-enable", TRUE, nullptr);
    std::mutex lock;
    std::vector<Choice> choices;
    int pipeline = -1;
    loop.onFrame = [&](LoopFrame &f) {
        if (pipeline < 0)
            pipeline = contextPipeline();
        norva_sim::SimPipelineView v;
        fail_unless(norva_sim::GetSimPipeline(pipeline, &v));
        std::lock_guard<std::mutex> guard(lock);
        choices.push_back(Choice{f.index, f.temperature, v.activeMatrix});
    };
    fail_unless(loop.play(), "%s", loop.error().c_str());

    const double warmError = cornerError(follow(loop, kWarm, kFollowLimit));
    size_t changedAt = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        changedAt = choices.size();
    }
    norva_sim::SetIlluminant(kCool);
    const double coolError = cornerError(follow(loop, kCool, kFollowLimit));
    // The streaming thread adds to `choices` until it is joined: stopped before the checks, and before `choices`
    // goes out of scope ahead of `loop`.
    loop.stop();

    std::lock_guard<std::mutex> guard(lock);
    fail_unless(warmError < 0.03, "corners %.1f %% off the centre under %.0f K with the grids", 100 * warmError, kWarm);
    fail_unless(coolError < 0.03, "corners %.1f %% off the centre under %.0f K with the grids", 100 * coolError, kCool);
    // The first matrix is the warm grid, made current before the first frame.
    const uint32_t warmGrid = choices.front().matrix;
    fail_unless(warmGrid != 0, "no grid in use at the start:%s", describe(choices).c_str());
    uint32_t coolGrid = 0;
    for (const Choice &c : choices) {
        if (c.temperature > kMidpoint) {
            coolGrid = coolGrid == 0 ? c.matrix : coolGrid;
            fail_unless(c.matrix != warmGrid && c.matrix == coolGrid,
                        "frame %u at %.0f K, past the midpoint, not on the cool grid:%s", c.index, c.temperature,
                        describe(choices).c_str());
        } else {
            fail_unless(c.matrix == warmGrid, "frame %u at %.0f K, below the midpoint, not on the warm grid:%s",
                        c.index, c.temperature, describe(choices).c_str());
        }
    }
    guint switches = 0;
    for (size_t i = changedAt; i < choices.size(); i++)
        switches += choices[i].matrix != choices[i - 1].matrix ? 1u : 0u;
    fail_unless(switches == 1, "%u grid switches after the light changed:%s", switches,
                describe(choices, changedAt - 1).c_str());
    g_print("with the grids: corners %.2f %% off the centre under %.0f K, %.2f %% under %.0f K\n", 100 * warmError,
            kWarm, 100 * coolError, kCool);
}
GST_END_TEST;

GST_START_TEST(test_without_grids) {
    fail_unless(plugSensors(kSensor));
    norva_sim::SetScene(norva_sim::Scene::Flat);
    norva_sim::SetIlluminant(kWarm);
    TempDir dir;
    Loop loop(kSensor, kCalibratedMode,
              writeSetup(dir, NORVA_SETUP_DIR "/ov4689.txt", "LSH_CTRL_CORRECTIONS 0\n", "setup.txt",
                         kCalibratedGridDivisor));
    g_object_set(loop.src, "exposure-auto", TRUE, "awb-enable", TRUE, nullptr);
    fail_unless(loop.play(), "%s", loop.error().c_str());
    const double error = cornerError(follow(loop, kWarm, kFollowLimit));
    fail_unless(error > 0.15, "corners only %.1f %% off the centre without the grids", 100 * error);
    g_print("without the grids: corners %.1f %% off the centre under %.0f K\n", 100 * error, kWarm);
}
GST_END_TEST;

Suite *suite() {
    Suite *s = suite_create("norvasrc_loop_lsh");
    // Each light followed, and one picture after it.
    TCase *tc = loopCase(s, "lens_shading", 2 * (kFollowLimit + 1));
    tcase_add_test(tc, test_grids_follow_the_light);
    tcase_add_test(tc, test_without_grids);
    return s;
}

} // namespace

NORVASRC_LOOP_MAIN(suite, "norvasrc_loop_lsh")
