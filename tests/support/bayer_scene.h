#ifndef NORVA_TEST_BAYER_SCENE_H
#define NORVA_TEST_BAYER_SCENE_H

/*
 * Synthetic Bayer test charts built in memory: a grey ramp, neutral and colour patches, a zone of fine edges and
 * a clipped patch, at any size, bit depth and Bayer order, optionally tinted or defocused. The samples are the
 * sensor's raw codes, row-major, ready to be processed or written to an image file.
 */

#include <cstdint>
#include <vector>

#include "norvacommon/pixel_transform.h"
#include "platform/sim_chart.h"

namespace norva_test {

/**
 * The chart is the one of the simulated platform (platform/sim_chart.h), the one the simulated sensors render: its
 * rectangles (even coordinates, even sizes), its layout and its linear levels.
 */
using Rect = norva_sim::ChartRect;
using ChartLayout = norva_sim::ChartLayout;
inline constexpr const auto &kGreyLevels = norva_sim::kChartGreyLevels;
inline constexpr const auto &kColourPatches = norva_sim::kChartColourPatches;
/** Linear level of the background around the edges and the clipped patch. */
inline constexpr double kChartBackground = norva_sim::kChartBackground;
inline constexpr double kRampTop = norva_sim::kChartRampTop;   /* linear level at the right end of the ramp */
inline constexpr double kEdgeHigh = norva_sim::kChartEdgeHigh; /* linear levels of the bars and checks */
inline constexpr double kEdgeLow = norva_sim::kChartEdgeLow;

struct SceneOptions {
    uint32_t width = 640;  /* even */
    uint32_t height = 480; /* even */
    unsigned bitDepth = 12;
    MOSAICType mosaic = MOSAIC_RGGB;
    uint32_t blackLevel = 0;           /* code of linear 0 */
    double channelGain[3] = {1, 1, 1}; /* tint applied to the linear R, G, B (the clipped patch stays clipped) */
    unsigned blurRadius = 0;           /* box blur of the linear scene: a defocused copy */
};

struct BayerScene {
    SceneOptions options;
    ChartLayout layout;
    std::vector<uint16_t> samples; /* width × height raw codes */
};

/** The layout of a chart of the given size. */
inline ChartLayout TestChartLayout(uint32_t width, uint32_t height) { return norva_sim::ChartLayoutOf(width, height); }

/** The chart as linear RGB, three doubles per pixel, before tint, blur and mosaic (the clipped patch beyond 1). */
std::vector<double> TestChartRgb(uint32_t width, uint32_t height);

/** Builds the chart. */
BayerScene MakeTestChart(const SceneOptions &options);

/** Colour (0 red, 1 green, 2 blue) at pixel (x, y) of a Bayer order. */
int BayerColourAt(MOSAICType mosaic, uint32_t x, uint32_t y);

} // namespace norva_test

#endif
