// Denoise and tone mapping through norvasrc on a board sensor in a dim light, where auto exposure raises the gain
// frame after frame, with automatic local tone mapping ("wdr-auto"): what the device receives for each frame (its
// applied configuration) carries denoise thresholds and a local tone-mapping weight that follow the gain the sensor
// reported after the frame before.
#include "norvasrc_loops.h"

#include "support/sim_pipeline_of.h"

using namespace norvasrc_test;

namespace {

/** Frames pulled: the gain doubles within them. */
constexpr guint kFrames = 60;

/** One configuration the device applied, and the frame after which the test found it. */
struct Applied {
    guint frame = 0;
    unsigned update = 0;
    double localWeight = 0;  /* the tone mapper's local weight, 0 to 1 */
    double thresholdSum = 0; /* the denoiser's threshold table, summed */
    std::vector<unsigned> thresholds;
};

GST_START_TEST(test_follow_gain) {
    fail_unless(plugSensors("OV4689_0"));
    norva_sim::SetLightLevel(0.05);
    TempDir dir;
    Loop loop("OV4689_0", 0x21, writeSetup(dir, NORVA_REFERENCE_SETUP));
    g_object_set(loop.src, "exposure-auto", TRUE, "exposure-auto-max-time", 20000u, "wdr-auto", TRUE, "denoiser-level",
                 0.5f, nullptr);
    std::vector<Applied> applied;
    unsigned lastUpdate = 0;
    loop.onFrame = [&](LoopFrame &f) {
        const int id = norva_test::DevicePipelineOfContext(0);
        fail_unless(id > 0);
        for (const norva_sim::SimConfigRecord &r : norva_sim::SimPipelineConfigTrace(id)) {
            if (r.update <= lastUpdate)
                continue;
            lastUpdate = r.update;
            Applied a;
            a.frame = f.index;
            a.update = r.update;
            a.localWeight = r.decoded.sToneMapping.localWeights / 1024.0;
            for (unsigned v : r.decoded.sDenoiser.aPixThresLUT) {
                a.thresholds.push_back(v);
                a.thresholdSum += v;
            }
            applied.push_back(a);
        }
    };
    fail_unless(loop.play(), "%s", loop.error().c_str());
    std::vector<LoopFrame> frames;
    const bool pulled = loop.pull(kFrames, &frames);
    loop.stop();
    fail_unless(pulled, "%s", loop.error().c_str());
    const double maxGain = std::pow(10.0, doubleProperty(G_OBJECT(loop.src), "exposure-max-gain") / 20.0);
    fail_unless(maxGain > 2.0);

    // The configuration the device applies with frame k + 1 was set up after frame k, from the gain the sensor
    // reported then: the tone mapper's local weight is (gain - 1) / (maximum gain - 1), which the element also
    // reads back as "wdr-level" (a 10-bit register: one step of 1/1024).
    std::vector<std::pair<double, double>> thresholdsByGain;
    guint compared = 0;
    for (const LoopFrame &f : frames) {
        const Applied *next = nullptr;
        for (const Applied &a : applied)
            if (a.frame == f.index + 1)
                next = &a;
        if (next == nullptr)
            continue;
        compared++;
        const double expected = (f.gain - 1.0) / (maxGain - 1.0);
        fail_unless(std::fabs(next->localWeight - f.wdrLevel) <= 1.5 / 1024,
                    "frame %u: local weight %g applied, %g read back", f.index, next->localWeight, f.wdrLevel);
        fail_unless(std::fabs(next->localWeight - std::max(expected, 0.0)) <= 1.5 / 1024,
                    "frame %u: local weight %g at gain %g of %g", f.index, next->localWeight, f.gain, maxGain);
        thresholdsByGain.emplace_back(f.gain, next->thresholdSum);
    }
    fail_unless(compared + 2 >= frames.size(), "only %u of %zu frames had a configuration applied after them", compared,
                frames.size());

    // The denoiser's thresholds rise with the gain, and only with it.
    std::sort(thresholdsByGain.begin(), thresholdsByGain.end());
    for (size_t i = 1; i < thresholdsByGain.size(); i++) {
        const auto &lo = thresholdsByGain[i - 1], &hi = thresholdsByGain[i];
        fail_unless(hi.second >= lo.second, "thresholds %g at gain %g, %g at gain %g", hi.second, hi.first, lo.second,
                    lo.first);
        if (hi.first > lo.first * 1.01)
            fail_unless(hi.second > lo.second, "thresholds %g at gain %g as at gain %g", hi.second, hi.first, lo.first);
    }
    // The light is dim enough that the gain doubles within the frames pulled, and the thresholds grow with it.
    const auto &first = thresholdsByGain.front(), &last = thresholdsByGain.back();
    fail_unless(first.first < 1.01 && last.first > 1.8, "gains from %g to %g", first.first, last.first);
    fail_unless(last.second > first.second * 1.25, "thresholds from %g to %g as the gain went from %g to %g",
                first.second, last.second, first.first, last.first);
}
GST_END_TEST;

Suite *suite() {
    Suite *s = suite_create("norvasrc_loop_denoise");
    tcase_add_test(loopCase(s, "denoise", kFrames), test_follow_gain);
    return s;
}

} // namespace

NORVASRC_LOOP_MAIN(suite, "norvasrc_loop_denoise")
