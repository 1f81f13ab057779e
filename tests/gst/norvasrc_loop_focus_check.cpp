// Focus statistics through norvasrc on the board's sensors with a focus lens: the focus value the element reads back
// ("measured-fvalue") and sends with each buffer is higher with the chart in focus than out of focus, and follows
// the window set with "set-fvalue-window": a window on the chart's fine edges reads higher than one on a flat patch.
#include "norvasrc_loops.h"

#include <memory>

#include "platform/sim_lens.h"

using namespace norvasrc_test;

namespace {

/**
 * A sensor with a focus lens, the imager port it feeds (where its lens is), a small mode. Both show the same rule:
 * the sanitizer builds run the first alone.
 */
struct LensSensor {
    const char *name;
    unsigned port;
    guint mode;
    guint exposureUs; /* 0: automatic */
};
const LensSensor kSensors[] = {
    {"S5K3P9", 0, 0x06, 4000}, /* its own actuator, GRBG */
    {"GC8034", 1, 0x10, 0},    /* the GalaxyCore lens, one 2-byte write per code */
};

constexpr int kLensSensors = NORVA_QUICK_TESTS ? 1 : static_cast<int>(G_N_ELEMENTS(kSensors));

/** Frames of a phase that may still show the phase before (frames rendered ahead, the control a frame late). */
constexpr guint kSkip = 3;
/** Frames pulled in focus and out of focus, and in each window (three of each phase compared at least). */
constexpr guint kFocusFrames = NORVA_QUICK_TESTS ? 6 : 8;
constexpr guint kWindowFrames = 6;

/** The values of a phase once it shows: each frame's meta equals what the element read back after that frame. */
std::vector<double> valuesOf(const std::vector<LoopFrame> &frames, const char *what) {
    std::vector<double> values;
    for (size_t i = kSkip; i < frames.size(); i++) {
        const LoopFrame &f = frames[i];
        fail_unless(f.hasFocus, "%s, frame %u: no focus-value meta", what, f.index);
        fail_unless(f.focus == f.fvalue, "%s, frame %u: meta %g, \"measured-fvalue\" %g", what, f.index, f.focus,
                    f.fvalue);
        values.push_back(f.fvalue);
    }
    fail_unless(!values.empty());
    return values;
}

double lowest(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }
double highest(const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); }

/** Emits "set-fvalue-window" for a rectangle of the picture (pixels), in the element's normalised coordinates. */
bool setWindow(GstElement *src, const norva_sim::SceneRect &r, gint width, gint height) {
    const gfloat left = 2.0f * r.x0 / width - 1.0f, right = 2.0f * r.x1 / width - 1.0f;
    const gfloat top = 1.0f - 2.0f * r.y0 / height, bottom = 1.0f - 2.0f * r.y1 / height;
    gboolean accepted = FALSE;
    g_signal_emit_by_name(src, "set-fvalue-window", left, top, right, bottom, &accepted);
    return accepted != FALSE;
}

/** A norvasrc on the sensor, playing; the board's lens shows the chart sharp where the stack holds it. */
std::unique_ptr<Loop> start(const LensSensor &s, const TempDir &dir) {
    fail_unless(plugSensors(s.name));
    std::unique_ptr<Loop> loop(new Loop(s.name, s.mode, writeSetup(dir, NORVA_REFERENCE_SETUP)));
    if (s.exposureUs != 0)
        g_object_set(loop->src, "exposure-auto", FALSE, "exposure-time", s.exposureUs, nullptr);
    else
        g_object_set(loop->src, "exposure-auto", TRUE, nullptr);
    fail_unless(loop->play(), "%s", loop->error().c_str());
    return loop;
}

GST_START_TEST(test_in_and_out_of_focus) {
    const LensSensor &s = kSensors[__i__];
    TempDir dir;
    std::unique_ptr<Loop> loop = start(s, dir);
    std::vector<LoopFrame> sharp, blurred;
    const bool pulledSharp = loop->pull(kFocusFrames, &sharp);
    const double sharpRadius = norva_sim::LensBlurRadius(s.port);
    // The chart moves away from where the lens is sharp (to the far end of the actuator's codes).
    norva_sim::LensScene far;
    far.inFocus = 0;
    far.texture = 0;
    norva_sim::SetLensScene(s.port, far);
    const bool pulledBlurred = loop->pull(kFocusFrames, &blurred);
    const double blurredRadius = norva_sim::LensBlurRadius(s.port);
    loop->stop();
    fail_unless(pulledSharp && pulledBlurred, "%s", loop->error().c_str());
    fail_unless(sharpRadius == 0 && blurredRadius > 4, "%s: the lens blurs %g cells, then %g", s.name, sharpRadius,
                blurredRadius);

    const std::vector<double> inFocus = valuesOf(sharp, "in focus"), outOfFocus = valuesOf(blurred, "out of focus");
    fail_unless(lowest(inFocus) > 0, "%s: focus value 0 in focus", s.name);
    fail_unless(highest(outOfFocus) < 0.5 * lowest(inFocus), "%s: focus value %g out of focus, %g in focus", s.name,
                highest(outOfFocus), lowest(inFocus));
}
GST_END_TEST;

GST_START_TEST(test_window) {
    const LensSensor &s = kSensors[__i__];
    TempDir dir;
    std::unique_ptr<Loop> loop = start(s, dir);
    std::vector<LoopFrame> whole, edges, flat;
    const bool pulledWhole = loop->pull(kWindowFrames, &whole);
    const gint w = loop->width, h = loop->height;
    const bool edgesAccepted = setWindow(loop->src, norva_sim::SceneEdges(w, h), w, h);
    const bool pulledEdges = loop->pull(kWindowFrames, &edges);
    const bool flatAccepted = setWindow(loop->src, norva_sim::SceneGreyPatch(w, h), w, h);
    const bool pulledFlat = loop->pull(kWindowFrames, &flat);
    loop->stop();
    fail_unless(pulledWhole && pulledEdges && pulledFlat, "%s", loop->error().c_str());
    fail_unless(edgesAccepted && flatAccepted);

    // The fine edges are the sharpest part of the chart; a flat patch has no detail at all.
    const std::vector<double> wholeValues = valuesOf(whole, "whole picture"), edgeValues = valuesOf(edges, "edges"),
                              flatValues = valuesOf(flat, "flat patch");
    fail_unless(lowest(edgeValues) > 2.0 * highest(wholeValues), "%s: %g on the edges, %g over the whole picture",
                s.name, lowest(edgeValues), highest(wholeValues));
    fail_unless(highest(flatValues) < 0.1 * lowest(edgeValues), "%s: %g on a flat patch, %g on the edges", s.name,
                highest(flatValues), lowest(edgeValues));
}
GST_END_TEST;

Suite *suite() {
    Suite *s = suite_create("norvasrc_loop_focus");
    TCase *tc = loopCase(s, "focus", std::max(2 * kFocusFrames, 3 * kWindowFrames));
    tcase_add_loop_test(tc, test_in_and_out_of_focus, 0, kLensSensors);
    tcase_add_loop_test(tc, test_window, 0, kLensSensors);
    return s;
}

} // namespace

NORVASRC_LOOP_MAIN(suite, "norvasrc_loop_focus")
