#ifndef NORVA_TOOLS_CALIBRATION_H
#define NORVA_TOOLS_CALIBRATION_H

// What the calibration tool (norva_calibrate) computes from the frames it captures: Bayer frames as four planes,
// lens-shading grids fitted to flat fields, white-balance gains from neutral patches, colour matrices fitted to the
// chart's colour patches, and the text of the setup file that uses them. No GStreamer here: the tool's capture
// side hands frames in, the tests hand in frames of their own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "norvacommon/lshgrid.h"

namespace norva_calibration {

/** A rectangle of pixels: [x0, x1) x [y0, y1). */
struct Rect {
    unsigned x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

/** Red, green, blue. */
struct Rgb {
    double r = 0, g = 0, b = 0;
};

/**
 * A Bayer frame as four planes of cells, one per position of the 2 x 2 cell (0 top-left, 1 top-right, 2 bottom-left,
 * 3 bottom-right, the order of the lens-shading grid's planes), samples in codes of `bits` bits.
 */
struct BayerFrame {
    unsigned width = 0, height = 0; /* pixels, even */
    unsigned bits = 12;
    std::string mosaic; /* the colour of each position: "bggr", "rggb", "grbg" or "gbrg" */
    std::vector<float> planes[4];

    unsigned cellsX() const { return width / 2; }
    unsigned cellsY() const { return height / 2; }
    float at(unsigned p, unsigned cx, unsigned cy) const { return planes[p][static_cast<size_t>(cy) * cellsX() + cx]; }
    /** The colour of position p: 0 red, 1 green, 2 blue. */
    unsigned colour(unsigned p) const;
    double fullScale() const { return double((1u << bits) - 1); }
};

/**
 * Fills a frame from packed 12-bit Bayer rows (two samples per three bytes, the little-endian 24-bit value
 * a | b << 12) at `offset` + y x `stride`. False when the rows do not fit `size` bytes or the size is odd.
 */
bool UnpackBayer12(const uint8_t *data, size_t size, size_t offset, size_t stride, unsigned width, unsigned height,
                   const std::string &mosaic, BayerFrame *frame);

/** An RGB frame with 8 bits a channel, as the display output delivers it. */
struct RgbImage {
    unsigned width = 0, height = 0;
    std::vector<float> channels[3]; /* red, green, blue; rows of width samples */
};
/** Fills an image from BGRx rows (blue, green, red, unused) at `offset` + y x `stride`; false when they do not fit. */
bool UnpackBgrx(const uint8_t *data, size_t size, size_t offset, size_t stride, unsigned width, unsigned height,
                RgbImage *image);
/** Mean red, green and blue over a rectangle. */
Rgb MeanRgb(const RgbImage &image, const Rect &r);
/**
 * The largest relative difference from the centre of an image, over blocks of 1/16 of its width and height at its
 * four corners, on every channel.
 */
double CornerError(const RgbImage &image);

/**
 * Mean red, green and blue over a rectangle, `inset` pixels in from its sides; each sample divided by the gain
 * `shading` gives at its cell when a grid is given (the frame as the lens-shading block would correct it).
 */
Rgb MeanRgb(const BayerFrame &f, const Rect &r, unsigned inset, const LSH_GRID *shading = nullptr);
/** Mean of each position's plane over a rectangle of cells. */
void MeanPlanes(const BayerFrame &f, unsigned cx0, unsigned cy0, unsigned cx1, unsigned cy1, double out[4]);

/** The tile (a power of two, colour-filter cells) that cuts a frame `cellsX` cells wide into 20 to 40 tiles. */
unsigned DefaultTile(unsigned cellsX);

/**
 * The lens-shading grid of a flat field: for each plane, the gain that brings each vertex to the level of the
 * frame's centre, from a weighted quadratic fit of the plane's block means around the vertex (so that vertices on
 * and past the frame's edges are measured as well as inner ones). The grid covers the frame (LSH_CreateMatrix of
 * its cells); the caller frees it with LSH_Free. False when the frame is too small for the tile.
 */
bool ShadingGrid(const BayerFrame &flat, unsigned tile, LSH_GRID *grid);
/** The gain of a grid at a cell of plane p, bilinear between vertices as the lens-shading block applies it. */
double GridGain(const LSH_GRID &grid, unsigned p, double cx, double cy);
/**
 * The largest relative difference from the centre of a flat field, corrected by a grid when one is given, over the
 * blocks of 8 x 8 cells at its four corners, on every plane.
 */
double CornerError(const BayerFrame &flat, const LSH_GRID *grid);

/** White-balance gains of a neutral surface's mean colour: red, the two greens, blue (green at 1). */
void NeutralGains(const Rgb &neutral, double gains[4]);

/**
 * The colour matrix M (rows sum to 1: neutral stays neutral) that brings white-balanced camera colours nearest to
 * their targets in the least-squares sense, M x camera[i] ~ target[i]. False when the colours do not determine it
 * (fewer than three, or all alike).
 */
bool FitColourMatrix(const std::vector<Rgb> &camera, const std::vector<Rgb> &target, double m[9]);
/** Root mean square of M x camera[i] - target[i] over every channel of every colour. */
double ColourResidual(const std::vector<Rgb> &camera, const std::vector<Rgb> &target, const double m[9]);

/** One measured colour temperature. */
struct WhiteBalancePoint {
    double kelvin = 0;
    double ccm[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double offsets[3] = {0, 0, 0};
    double gains[4] = {1, 1, 1, 1};
};
/** One lens-shading grid file. */
struct ShadingPoint {
    double kelvin = 0;
    std::string file; /* as the setup file names it */
    double scaleWb = 1.0;
};

/** Text as comment lines ("// ...") of at most `width` characters, broken between words. */
std::string CommentLines(const std::string &text, size_t width = 116);

/** The calibration that goes into a setup file. */
struct Calibration {
    std::string header;       /* comment lines ("// ...") put first */
    int sensorBlack[4] = {};  /* BLC_SENSOR_BLACK, 8-bit codes */
    std::string blackComment; /* the comment above it */
    std::vector<WhiteBalancePoint> whiteBalance;
    std::string whiteBalanceComment;
    std::vector<ShadingPoint> shading;
    int bitsPerDiff = 0;
    std::string shadingComment;
    double gamutClip = 0;     /* MGM_CLIP_MAX; 0 keeps the base file's */
    std::string gamutComment; /* the comment above it */
};

/**
 * The upper clip of the main gamut mapper for a frame of width x height pixels: full scale (1) when the white-balance
 * statistics of the whole frame then fit one measurement (every sum of a channel within 32 bits), else 0 (the base
 * file's clip stays). The gamma curve after the mapper clamps at full scale anyway, so the picture does not change.
 */
double StatisticsGamutClip(unsigned width, unsigned height);

/**
 * The setup file: the base file's lines as they are, except the black level and, when the calibration sets one, the
 * gamut clip (each with the comment lines right above it), which the calibration's replace; then the white-balance
 * corrections and the lens-shading grids. Tags of the
 * calibration that the base file holds are dropped from it. Colour matrices are written with three decimals, each
 * row keeping its sum.
 */
std::string SetupFileText(const std::string &baseText, const Calibration &c);

} // namespace norva_calibration

#endif
