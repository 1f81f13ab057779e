#ifndef NORVA_TEST_STATS_SYNTH_H
#define NORVA_TEST_STATS_SYNTH_H
/*
 * The statistics synthesiser: fills an ISPC::Metadata as the statistics hardware would for a scene seen with the
 * state the controls program, without an image pipeline. It shares no code with the controls or the ISP model.
 *
 * Scene: a linear luminance per pixel (full scale per microsecond of exposure at gain 1 and F-number 1), a texture
 * (per-pixel contrast on the 0..255 scale of the focus block) that the lens blurs away from its in-focus position,
 * and the flicker detector's verdict.
 *
 * Per pixel: v = min(1, L x exposure x gain / F^2), luma code = round(1023 x v^(1/2.2)) (the gamma the histograms
 * see), 64-bin global histogram of 16 codes per bin over the whole image, 16-bin regional histograms of 64 codes per
 * bin over the 7x7 grid (tiles clipped to the image, so regional totals are the tile areas inside it); every pixel
 * measured is counted once. Focus: per grid tile (and the ROI) texture x pixels x sharpness(focus), sharpness =
 * 1 / (1 + ((focus - inFocus) / focusWidth)^2). Interrupt time: CLOCK_MONOTONIC nanoseconds when the frame is
 * synthesised.
 *
 * Link library norva_test_stats_synth (it needs the control core for SynthStateOf).
 */
#include <cstdint>
#include <vector>

#include "ispc/Shot.h"

namespace ISPC {
class Pipeline;
}

namespace norva_test {

/** What the camera looks at. */
struct SynthScene {
    unsigned width = 0, height = 0;
    std::vector<float> luminance;              /**< width x height, row-major */
    double texture = 40.0;                     /**< per-pixel contrast when sharp, 0..255 */
    double inFocus = 500.0;                    /**< lens position where the scene is sharp */
    double focusWidth = 100.0;                 /**< lens travel that halves the sharpness */
    QOR_UINT32 flickerStatus = FLD_NO_FLICKER; /**< verdict of the flicker detector (any 3-bit value) */

    /** Every pixel at one luminance. */
    static SynthScene Flat(unsigned width, unsigned height, double luminance);
    /** Columns below split at left, the others at right. */
    static SynthScene TwoLevel(unsigned width, unsigned height, unsigned split, double left, double right);
    /** A chart of 8 x 6 patches whose luminances are spread log-uniformly from low to high. */
    static SynthScene Chart(unsigned width, unsigned height, double low, double high);
};

/** The state the controls program, as the hardware would apply it to the frame. */
struct SynthState {
    /* histogram block: grid origin and tile size in pixels */
    bool hisGlobal = true, hisRegion = true;
    unsigned hisLeft = 0, hisTop = 0, hisTileW = 0, hisTileH = 0;
    /* focus block: ROI (inclusive bounds) and grid in pixels */
    bool fosRoi = true, fosGrid = true;
    unsigned roiLeft = 0, roiTop = 0, roiRight = 0, roiBottom = 0;
    unsigned fosLeft = 0, fosTop = 0, fosTileW = 0, fosTileH = 0;
    bool fldEnabled = true;
    /* sensor and lens */
    double exposureUs = 0, gain = 1.0, fNumber = 1.0;
    unsigned focus = 0;
};

/**
 * The state of a pipeline as its modules and sensor stand now: the HIS, FOS and FLD module fields (as the next
 * setup would program them) and the sensor's read-back exposure, gain and focus. Modules missing leave their block
 * off.
 */
SynthState SynthStateOf(const ISPC::Pipeline &pipeline);

/** Makes the statistics of frames; holds its scratch so that no frame allocates. */
class StatsSynth {
public:
    /** Fills the statistics of one frame and the configuration read-back; stamps the interrupt time now. */
    void frame(const SynthScene &scene, const SynthState &state, ISPC::Metadata &metadata);

    /** The luma code of a luminance at a state (what a pixel of that luminance measures). */
    static unsigned lumaCode(double luminance, const SynthState &state);

private:
    std::vector<uint16_t> codes_;
};

} // namespace norva_test

#endif
