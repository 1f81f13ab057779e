#ifndef NORVA_SIM_WORLD_H
#define NORVA_SIM_WORLD_H

/*
 * The world in front of the simulated sensors: the test chart (platform/sim_chart.h) lit by a black-body light of a
 * chosen colour temperature and level, seen through the lens (which darkens the corners) and the colour filters of
 * the sensor. The model is written down in platform/README.md ("The light and the colour filters", "Lens
 * shading").
 *
 * The light is one per process: NORVA_SIM_ILLUMINANT (kelvin, default 6500) and NORVA_SIM_LIGHT (a factor, default
 * 1.0) at start and after ResetPlatform; the setters below change it at any time, also while sensors stream (the
 * next frame rendered sees the new light). Every function here may be called from any thread.
 */

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim_chart.h"
#include "platform/sim_sensor.h"

namespace norva_sim {

constexpr double kDefaultIlluminant = 6500.0; /**< kelvin */
constexpr double kMinIlluminant = 2000.0;
constexpr double kMaxIlluminant = 10000.0;
constexpr double kDefaultLightLevel = 1.0;
constexpr double kMinLightLevel = 0.0;
constexpr double kMaxLightLevel = 100.0;

/**
 * Radiance of a white surface (level 1 of the chart) at the centre of the lens, on every channel under the 6500 K
 * light at level 1: digital numbers per microsecond of exposure at gain 1, at 10 bits.
 */
constexpr double kWhiteRadiance = 0.05;

/**
 * Reads NORVA_SIM_ILLUMINANT and NORVA_SIM_LIGHT and sets the light they give; an unset or empty variable leaves
 * its value as it is. False, with one message naming the variable in *error and nothing changed, when a value is not
 * a number or is outside its range (kelvin from kMinIlluminant to kMaxIlluminant, level from kMinLightLevel to
 * kMaxLightLevel).
 */
bool WorldFromEnvironment(std::string *error);

/** Sets the colour temperature of the light, kelvin; false (nothing changed) outside the range. */
bool SetIlluminant(double kelvin);
/** Sets the level of the light (a factor of the radiance); false (nothing changed) outside the range. */
bool SetLightLevel(double factor);
double Illuminant();
double LightLevel();

/**
 * What the colour filters of the sensor give for a white surface under a black body at `kelvin`, red, green, blue,
 * relative to the 6500 K light: 1, 1, 1 at 6500 K, green 1 at every temperature (platform/README.md, "The light and
 * the colour filters"). Kelvin outside the range are taken at the nearest end.
 */
void IlluminantChannelGains(double kelvin, double rgb[3]);

/**
 * Relative illumination of the lens for channel c (0 red, 1 green, 2 blue) at pixel (x, y) of a width x height
 * frame: 1 at the centre, falling towards the corners (platform/README.md, "Lens shading").
 */
double LensShading(unsigned channel, double x, double y, unsigned width, unsigned height);
/** Relative illumination of each channel at the corners of the frame (red, green, blue). */
extern const double kLensCornerShading[3];

/**
 * The chart as a sensor sees it, frame by frame: the radiance of each pixel in the sensor's mosaic (chart level x
 * white radiance x lens shading) is mapped once per size, bit depth, flip and Bayer phase; each frame multiplies it by
 * the light (level and channel gains of the illuminant), exposure and gain, adds the pedestal and clips. Rendering a
 * frame allocates nothing.
 */
class SensorChartRenderer {
public:
    /**
     * Renders one frame as the sensor sends it: width() x height() codes, valid until the next call. The caller may
     * process them in place (the lens blurs them).
     */
    std::vector<uint16_t> &render(const SensorOutput &s);
    unsigned width() const { return width_; }
    unsigned height() const { return height_; }
    unsigned depth() const { return depth_; }
    /** How many times the radiance map was built. */
    uint64_t builds() const { return builds_; }

private:
    void build();

    unsigned width_ = 0, height_ = 0, depth_ = 10;
    bool hflip_ = false, vflip_ = false, pixelFlip_ = false;
    unsigned phaseX_ = 0, phaseY_ = 0;
    unsigned channel_[2][2] = {}; /* colour of each position of an output 2x2 cell */
    uint64_t builds_ = 0;
    std::vector<float> radiance_;
    std::vector<uint16_t> frame_;
};

} // namespace norva_sim

#endif /* NORVA_SIM_WORLD_H */
