#ifndef NORVA_TEST_SUPPORT_WB_SYNTH_H
#define NORVA_TEST_SUPPORT_WB_SYNTH_H

// White-balance statistics of a synthetic scene, as the WBS and AWS blocks of the simulated ISP take them:
// a scene of equally large grey patches lit by an illuminant of known raw colour, processed by the white-
// balance gains and clips, the colour matrix and a pure 2.2 gamma as the pipeline's MC configuration holds
// them. WBS is taken after gamma (1.0 = 1024), over the strip and with the thresholds and counters the WBS
// block of that configuration programs; AWS tiles are sums of base-2 logarithms of the raw cells, before
// the gains. Nothing here calls into the stack: the control under test reads only the metadata.

#include <array>
#include <vector>

#include "ispc/Shot.h"
#include "mc/mc_pipeline.h"

namespace norva_test {

struct WbScene {
    /** Raw R, G, B of a white surface under the light, green 1. */
    double illuminant[3] = {1.0, 1.0, 1.0};
    /** Reflectances of the patches, each covering the same share of the image. */
    std::vector<double> greys = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8};
    /** Raw green level of reflectance 1 (0 to 1 of full scale). */
    double exposure = 0.9;

    /**
     * The light of calibration point k: a neutral surface reads raw R/G = 1 / redGain and B/G = 1 / blueGain,
     * redGain and blueGain being that point's "WB_GAINS" elements 0 and 3.
     */
    static WbScene underCalibration(double redGain, double blueGain);
};

/** The processed colour of a raw triple under the configuration: encoded, 1.0 = 1024. */
std::array<double, 3> processRaw(const MC_PIPELINE &mc, const std::array<double, 3> &raw);

/** 8-bit output codes (R, G, B) of each grey patch of the scene under the configuration. */
std::vector<std::array<double, 3>> greyPatchCodes(const MC_PIPELINE &mc, const WbScene &scene);

/**
 * Fills md.whiteBalanceStats and md.whiteBalanceConfig for one frame of width x height pixels: the strip,
 * thresholds and counters are those of mc.sWBS (as the WBS module's last set-up wrote them).
 */
void fillWBS(const MC_PIPELINE &mc, const WbScene &scene, unsigned width, unsigned height, ISPC::Metadata &md);

/** Fills md.autoWhiteBalanceStats: every tile with cellsPerTile raw cells of the scene's patches. */
void fillAWS(const WbScene &scene, unsigned cellsPerTile, ISPC::Metadata &md);

/** As fillAWS, with the left columns (0 to splitColumn - 1) lit by a second light. */
void fillAWSMixed(const WbScene &left, const WbScene &right, unsigned splitColumn, unsigned cellsPerTile,
                  ISPC::Metadata &md);

} // namespace norva_test

#endif /* NORVA_TEST_SUPPORT_WB_SYNTH_H */
