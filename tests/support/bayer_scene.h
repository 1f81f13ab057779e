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

namespace norva_test {

struct Rect {
    uint32_t x = 0, y = 0, w = 0, h = 0;
    uint64_t area() const { return uint64_t(w) * h; }
    bool contains(uint32_t px, uint32_t py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

/** Where each part of the chart lies, in pixels (rectangles lie on even coordinates, even sizes). */
struct ChartLayout {
    static constexpr int kPatches = 6;
    Rect ramp;             /* grey ramp from black (left) to 0.95 of full scale (right) */
    Rect grey[kPatches];   /* neutral patches, linear levels kGreyLevels */
    Rect colour[kPatches]; /* colour patches, linear RGB kColourPatches */
    Rect edges;            /* bars and checks of 2 to 8 pixels */
    Rect clipped;          /* beyond full scale: every sample at the maximum code */
};

extern const double kGreyLevels[ChartLayout::kPatches];
extern const double kColourPatches[ChartLayout::kPatches][3];
/** Linear level of the background around the edges and the clipped patch. */
extern const double kChartBackground;
extern const double kRampTop;  /* linear level at the right end of the ramp */
extern const double kEdgeHigh; /* linear levels of the bars and checks */
extern const double kEdgeLow;

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
ChartLayout TestChartLayout(uint32_t width, uint32_t height);

/** The chart as linear RGB, three doubles per pixel, before tint, blur and mosaic. */
std::vector<double> TestChartRgb(uint32_t width, uint32_t height);

/** Builds the chart. */
BayerScene MakeTestChart(const SceneOptions &options);

/** Colour (0 red, 1 green, 2 blue) at pixel (x, y) of a Bayer order. */
int BayerColourAt(MOSAICType mosaic, uint32_t x, uint32_t y);

} // namespace norva_test

#endif
