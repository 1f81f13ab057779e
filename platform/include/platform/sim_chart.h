#ifndef NORVA_SIM_CHART_H
#define NORVA_SIM_CHART_H

/*
 * The test chart in front of the simulated cameras, defined once: the data generator's scene writer paints it into
 * its files as codes, and the simulated sensors render it as radiance under the simulated light
 * (platform/sim_world.h). Header only, without state, so that the scene writer can use it without linking the
 * platform (target norva_sim_chart).
 *
 * Layout, at any even size (every rectangle on even coordinates, with an even size; empty when the frame is too
 * small to hold it):
 *   - top quarter: a grey ramp from black at the left to kChartRampTop at the right;
 *   - second quarter: six neutral patches at kChartGreyLevels, left to right;
 *   - third quarter: six colour patches kChartColourPatches;
 *   - bottom quarter: fine edges (bars of 2, 4 and 8 pixels, then checks of 4 pixels) from 1/16 to 9/16 of the
 *     width, and a patch far beyond full scale (kChartClippedLevel) from 11/16 of the width, 1/6 of it wide;
 *   - kChartBackground everywhere else.
 * Levels are linear reflectances per colour channel (red, green, blue): 1 is a white surface. Only the clipped
 * patch goes beyond 1.
 */

#include <cstdint>
#include <vector>

namespace norva_sim {

/** A rectangle of the chart in pixels: [x, x + w) x [y, y + h). */
struct ChartRect {
    uint32_t x = 0, y = 0, w = 0, h = 0;
    uint64_t area() const { return uint64_t(w) * h; }
    bool contains(uint32_t px, uint32_t py) const { return px >= x && px - x < w && py >= y && py - y < h; }
};

/** Where each part of the chart lies in a frame of a given size. */
struct ChartLayout {
    static constexpr int kPatches = 6;
    ChartRect ramp;
    ChartRect grey[kPatches];
    ChartRect colour[kPatches];
    ChartRect edges;
    ChartRect clipped;
};

inline constexpr double kChartGreyLevels[ChartLayout::kPatches] = {0.05, 0.1, 0.2, 0.35, 0.5, 0.7};
/** Red, green, blue: red, green, blue, cyan, magenta, yellow. */
inline constexpr double kChartColourPatches[ChartLayout::kPatches][3] = {
    {0.50, 0.08, 0.08}, {0.08, 0.45, 0.08}, {0.08, 0.08, 0.50},
    {0.08, 0.40, 0.45}, {0.45, 0.08, 0.40}, {0.50, 0.45, 0.08},
};
inline constexpr double kChartBackground = 0.18;
inline constexpr double kChartRampTop = 0.95;
inline constexpr double kChartEdgeHigh = 0.8;
inline constexpr double kChartEdgeLow = 0.02;
/** A light source in the scene, a hundred times a white surface: it clips at any usable exposure. */
inline constexpr double kChartClippedLevel = 100.0;

namespace chart_detail {

inline uint32_t even(uint32_t v) { return v & ~1u; }
/** a - b, or 0 where b is larger (small frames). */
inline uint32_t less(uint32_t a, uint32_t b) { return a > b ? a - b : 0; }

/** A row of n patches across a band, each with a margin of an eighth of its cell (plus 2 pixels). */
inline void patchRow(ChartRect *out, int n, uint32_t y0, uint32_t bandH, uint32_t width) {
    const uint32_t cell = width / uint32_t(n);
    for (int i = 0; i < n; i++) {
        const uint32_t m = even(cell / 8 + 2);
        out[i].x = even(uint32_t(i) * cell + m);
        out[i].w = even(less(cell, 2 * m));
        out[i].y = even(y0 + bandH / 8 + 2);
        out[i].h = even(less(bandH, 2 * (out[i].y - y0)));
        if (out[i].w == 0 || out[i].h == 0)
            out[i].w = out[i].h = 0;
    }
}

/** Paints value v over [x0, x1) of one channel of an RGB row. */
inline void fill(double *rgb, uint32_t x0, uint32_t x1, const double v[3]) {
    for (uint32_t x = x0; x < x1; x++) {
        rgb[3 * x] = v[0], rgb[3 * x + 1] = v[1], rgb[3 * x + 2] = v[2];
    }
}

inline bool onRow(const ChartRect &r, uint32_t y) { return r.w != 0 && y >= r.y && y - r.y < r.h; }

} // namespace chart_detail

/** The layout of a chart of width x height pixels. */
inline ChartLayout ChartLayoutOf(uint32_t width, uint32_t height) {
    using chart_detail::even;
    using chart_detail::less;
    ChartLayout l;
    const uint32_t band = even(height / 4);
    l.ramp = ChartRect{0, 0, even(width), band};
    chart_detail::patchRow(l.grey, ChartLayout::kPatches, band, band, width);
    chart_detail::patchRow(l.colour, ChartLayout::kPatches, 2 * band, band, width);
    const uint32_t y3 = 3 * band, h3 = less(height, y3);
    l.edges = ChartRect{even(width / 16), even(y3 + h3 / 8 + 2), even(width / 2), 0};
    l.edges.h = even(less(height, l.edges.y + h3 / 8 + 2));
    l.clipped = ChartRect{even(width * 11 / 16), l.edges.y, even(width / 6), l.edges.h};
    if (l.edges.h == 0 || l.edges.w < 8) {
        l.edges = ChartRect{};
    }
    if (l.clipped.h == 0 || l.clipped.w == 0) {
        l.clipped = ChartRect{};
    }
    return l;
}

/**
 * Row y of the chart as linear levels: three doubles (red, green, blue) per pixel into rgb[0 .. 3 x width). Later
 * parts paint over earlier ones in the order ramp, neutral patches, colour patches, edges, clipped patch.
 */
inline void ChartRow(const ChartLayout &l, uint32_t width, uint32_t y, double *rgb) {
    using chart_detail::fill;
    using chart_detail::onRow;
    const double background[3] = {kChartBackground, kChartBackground, kChartBackground};
    fill(rgb, 0, width, background);
    if (onRow(l.ramp, y)) {
        for (uint32_t x = l.ramp.x; x < l.ramp.x + l.ramp.w && x < width; x++) {
            const double v = width > 1 ? kChartRampTop * double(x) / double(width - 1) : 0.0;
            rgb[3 * x] = rgb[3 * x + 1] = rgb[3 * x + 2] = v;
        }
    }
    for (int i = 0; i < ChartLayout::kPatches; i++) {
        if (onRow(l.grey[i], y)) {
            const double v[3] = {kChartGreyLevels[i], kChartGreyLevels[i], kChartGreyLevels[i]};
            fill(rgb, l.grey[i].x, l.grey[i].x + l.grey[i].w, v);
        }
        if (onRow(l.colour[i], y)) {
            fill(rgb, l.colour[i].x, l.colour[i].x + l.colour[i].w, kChartColourPatches[i]);
        }
    }
    if (onRow(l.edges, y)) {
        // left to right: bars of 2, 4 and 8 pixels, then checks of 4 pixels
        const uint32_t q = l.edges.w / 4;
        for (uint32_t u = 0; u < l.edges.w; u++) {
            bool on = false;
            if (u < q) {
                on = (u / 2) & 1u;
            } else if (u < 2 * q) {
                on = (u / 4) & 1u;
            } else if (u < 3 * q) {
                on = (u / 8) & 1u;
            } else {
                on = ((u / 4) ^ ((y - l.edges.y) / 4)) & 1u;
            }
            const double v = on ? kChartEdgeHigh : kChartEdgeLow;
            const uint32_t x = l.edges.x + u;
            rgb[3 * x] = rgb[3 * x + 1] = rgb[3 * x + 2] = v;
        }
    }
    if (onRow(l.clipped, y)) {
        const double v[3] = {kChartClippedLevel, kChartClippedLevel, kChartClippedLevel};
        fill(rgb, l.clipped.x, l.clipped.x + l.clipped.w, v);
    }
}

/** The level of channel c (0 red, 1 green, 2 blue) at one pixel (for tests and tools; paints the whole row). */
inline double ChartLevelAt(uint32_t width, uint32_t height, uint32_t x, uint32_t y, unsigned c) {
    if (x >= width || y >= height || c > 2)
        return 0.0;
    std::vector<double> row(size_t(width) * 3);
    ChartRow(ChartLayoutOf(width, height), width, y, row.data());
    return row[size_t(x) * 3 + c];
}

} // namespace norva_sim

#endif /* NORVA_SIM_CHART_H */
