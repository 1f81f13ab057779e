// The chart as the simulated sensors render it: the light's colour temperature and level, exposure and gain up to the
// clip, flips and Bayer order, lens shading, and the light read from the environment.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim_lens.h"
#include "platform/sim_platform.h"
#include "platform/sim_world.h"
#include "support/scoped_env.h"
#include "support/sim_fixture.h"

using norva_sim::SceneRect;
using norva_sim::SensorChartRenderer;
using norva_sim::SensorOutput;

namespace {

constexpr unsigned kWidth = 640, kHeight = 480;

SensorOutput output(unsigned depth, double exposureUs, double gain) {
    SensorOutput s;
    s.streaming = true;
    s.bitDepth = depth;
    s.width = kWidth;
    s.height = kHeight;
    s.exposureUs = exposureUs;
    s.gain = gain;
    return s;
}

/** Mean of the samples at Bayer position (dx, dy) of a rectangle, 4 pixels in from its sides. */
double meanOf(const std::vector<uint16_t> &f, const SceneRect &r, unsigned dx, unsigned dy) {
    double sum = 0;
    unsigned n = 0;
    for (unsigned y = r.y0 + 4 + dy; y + 4 < r.y1; y += 2)
        for (unsigned x = r.x0 + 4 + dx; x + 4 < r.x1; x += 2) {
            sum += f[static_cast<size_t>(y) * kWidth + x];
            n++;
        }
    return n ? sum / n : 0.0;
}

/** Red, green and blue above the pedestal over a rectangle of an unflipped BGGR frame. */
struct Rgb {
    double r, g, b;
};
Rgb rgbOf(const std::vector<uint16_t> &f, const SceneRect &r, unsigned depth) {
    const double p = norva_sim::SensorPedestal(depth);
    return Rgb{meanOf(f, r, 1, 1) - p, (meanOf(f, r, 1, 0) + meanOf(f, r, 0, 1)) / 2 - p, meanOf(f, r, 0, 0) - p};
}

class SensorChart : public norva_test::SimTest {};

// The written model's figures (platform/README.md, "The light and the colour filters"): a neutral surface's red and
// blue against green, relative to the 6500 K light.
struct IlluminantCase {
    double kelvin, redOverGreen, blueOverGreen;
};
const IlluminantCase kIlluminants[] = {
    {2800, 1.7494, 0.4251}, {3000, 1.6434, 0.4703}, {4000, 1.3112, 0.6695},
    {5000, 1.1396, 0.8263}, {6500, 1.0, 1.0},       {7500, 0.9441, 1.0861},
};

TEST_F(SensorChart, NeutralPatchesTakeTheTintOfTheLight) {
    SensorChartRenderer chart;
    const SceneRect patch = norva_sim::SceneNeutralPatch(4, kWidth, kHeight);
    ASSERT_TRUE(norva_sim::SetIlluminant(6500));
    const Rgb reference = rgbOf(chart.render(output(12, 10000, 1.0)), patch, 12);
    ASSERT_GT(reference.g, 500.0);
    for (const IlluminantCase &c : kIlluminants) {
        SCOPED_TRACE(c.kelvin);
        ASSERT_TRUE(norva_sim::SetIlluminant(c.kelvin));
        EXPECT_EQ(norva_sim::Illuminant(), c.kelvin);
        const Rgb under = rgbOf(chart.render(output(12, 10000, 1.0)), patch, 12);
        // Green does not change with the colour temperature; red and blue follow the filters' figures.
        EXPECT_NEAR(under.g / reference.g, 1.0, 0.002);
        EXPECT_NEAR(under.r / reference.r, c.redOverGreen, 0.003 * c.redOverGreen);
        EXPECT_NEAR(under.b / reference.b, c.blueOverGreen, 0.003 * c.blueOverGreen);
        double gains[3];
        norva_sim::IlluminantChannelGains(c.kelvin, gains);
        EXPECT_NEAR(gains[0], c.redOverGreen, 1e-4);
        EXPECT_NEAR(gains[1], 1.0, 1e-12);
        EXPECT_NEAR(gains[2], c.blueOverGreen, 1e-4);
    }
    // Warm light: red well above blue on a neutral patch.
    ASSERT_TRUE(norva_sim::SetIlluminant(3000));
    const Rgb warm = rgbOf(chart.render(output(12, 10000, 1.0)), patch, 12);
    EXPECT_GT(warm.r / warm.g, 1.5);
    EXPECT_LT(warm.b / warm.g, 0.55);
}

TEST_F(SensorChart, ColourPatchesKeepTheirHueAtTheReferenceLight) {
    SensorChartRenderer chart;
    const std::vector<uint16_t> &f = chart.render(output(10, 8000, 1.0));
    // Red, green, blue: the patch's own channel is the brightest.
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        const Rgb c = rgbOf(f, norva_sim::SceneColourPatch(i, kWidth, kHeight), 10);
        const double own = i == 0 ? c.r : i == 1 ? c.g : c.b;
        EXPECT_GT(own, 3.0 * (c.r + c.g + c.b - own) / 2);
    }
}

// Signal above the pedestal at the centre of the lens (neutral background): level x white radiance x exposure x
// gain, 2^(depth - 10) codes per 10-bit code, until the top code.
struct ExposureCase {
    unsigned depth;
    double exposureUs, gain;
    bool clipped;
};
const ExposureCase kExposures[] = {
    {10, 1000, 1.0, false}, {10, 2000, 1.0, false}, {10, 1000, 2.0, false}, {10, 8000, 4.0, false},
    {12, 8000, 4.0, false}, {8, 8000, 4.0, false},  {10, 33000, 8.0, true}, {12, 0, 1.0, false},
};

TEST_F(SensorChart, SignalIsExposureTimesGainUpToTheClip) {
    SensorChartRenderer chart;
    const unsigned cx = kWidth / 2 - 2, cy = kHeight / 2;
    ASSERT_DOUBLE_EQ(norva_sim::ChartLevelAt(kWidth, kHeight, cx, cy, 1), norva_sim::kChartBackground);
    for (const ExposureCase &c : kExposures) {
        SCOPED_TRACE(std::to_string(c.depth) + " bits, " + std::to_string(c.exposureUs) + " us x " +
                     std::to_string(c.gain));
        const std::vector<uint16_t> &f = chart.render(output(c.depth, c.exposureUs, c.gain));
        const double top = (1u << c.depth) - 1, pedestal = norva_sim::SensorPedestal(c.depth);
        const double expected = pedestal + norva_sim::kChartBackground * norva_sim::kWhiteRadiance * c.exposureUs *
                                               c.gain * std::ldexp(1.0, int(c.depth) - 10);
        for (unsigned pos = 0; pos < 4; pos++) {
            const double v = f[static_cast<size_t>(cy + (pos >> 1)) * kWidth + cx + (pos & 1)];
            if (c.clipped) {
                EXPECT_EQ(v, top) << "position " << pos;
            } else {
                ASSERT_LT(expected, top);
                EXPECT_NEAR(v, expected, 1.0) << "position " << pos;
            }
        }
        // The clipped patch is at the top code whenever anything is exposed.
        const SceneRect clip = norva_sim::SceneClippedPatch(kWidth, kHeight);
        if (c.exposureUs >= 1000) {
            EXPECT_EQ(meanOf(f, clip, 0, 0), top);
            EXPECT_EQ(meanOf(f, clip, 1, 1), top);
        }
    }
}

TEST_F(SensorChart, LightLevelScalesTheSignal) {
    SensorChartRenderer chart;
    const SceneRect patch = norva_sim::SceneGreyPatch(kWidth, kHeight);
    const Rgb full = rgbOf(chart.render(output(12, 10000, 1.0)), patch, 12);
    for (double level : {0.5, 0.1, 2.0}) {
        SCOPED_TRACE(level);
        ASSERT_TRUE(norva_sim::SetLightLevel(level));
        EXPECT_EQ(norva_sim::LightLevel(), level);
        const Rgb dimmed = rgbOf(chart.render(output(12, 10000, 1.0)), patch, 12);
        EXPECT_NEAR(dimmed.g / full.g, level, 0.005 * level + 0.5 / full.g);
        EXPECT_NEAR(dimmed.r / full.r, level, 0.005 * level + 0.5 / full.r);
    }
    // In the dark every sample is at the pedestal, the light source too.
    ASSERT_TRUE(norva_sim::SetLightLevel(0.0));
    const std::vector<uint16_t> &dark = chart.render(output(10, 30000, 8.0));
    for (uint16_t v : dark)
        ASSERT_EQ(v, norva_sim::SensorPedestal(10));
    // Out of range: refused, nothing changed.
    EXPECT_FALSE(norva_sim::SetLightLevel(-0.1));
    EXPECT_FALSE(norva_sim::SetLightLevel(101));
    EXPECT_FALSE(norva_sim::SetLightLevel(std::nan("")));
    EXPECT_EQ(norva_sim::LightLevel(), 0.0);
    EXPECT_FALSE(norva_sim::SetIlluminant(1999));
    EXPECT_FALSE(norva_sim::SetIlluminant(10001));
    EXPECT_EQ(norva_sim::Illuminant(), norva_sim::kDefaultIlluminant);
}

TEST_F(SensorChart, CornersAreDarkerRedTheMost) {
    SensorChartRenderer chart;
    const std::vector<uint16_t> &f = chart.render(output(12, 20000, 1.0));
    const double p = norva_sim::SensorPedestal(12);
    // Both bottom corners and the centre lie on the neutral background.
    const auto at = [&](unsigned x, unsigned y) { return f[static_cast<size_t>(y) * kWidth + x] - p; };
    const unsigned cx = kWidth / 2, cy = kHeight / 2;
    ASSERT_DOUBLE_EQ(norva_sim::ChartLevelAt(kWidth, kHeight, 0, kHeight - 1, 1), norva_sim::kChartBackground);
    ASSERT_DOUBLE_EQ(norva_sim::ChartLevelAt(kWidth, kHeight, kWidth - 1, kHeight - 1, 1), norva_sim::kChartBackground);
    // BGGR: blue (0, 0), green (1, 0), red (1, 1) of each cell.
    const unsigned dx[3] = {1, 1, 0}, dy[3] = {1, 0, 0};
    double corner[3];
    for (unsigned c = 0; c < 3; c++) {
        SCOPED_TRACE(c);
        const double centre = at(cx + dx[c], cy + dy[c]);
        corner[c] = at(dx[c], kHeight - 2 + dy[c]) / centre;
        EXPECT_NEAR(corner[c], norva_sim::kLensCornerShading[c], 0.01);
        EXPECT_NEAR(at(kWidth - 2 + dx[c], kHeight - 2 + dy[c]) / centre, corner[c], 0.005) << "symmetric";
        EXPECT_LT(corner[c], 0.85);
    }
    EXPECT_LT(corner[0], corner[2]);
    EXPECT_LT(corner[2], corner[1]);
}

// The lens shades the ramp, yet it rises across the whole frame on every channel, wide frames too.
TEST_F(SensorChart, RampRisesToTheRightEdge) {
    for (const auto &size : {std::pair<unsigned, unsigned>{640, 480}, {1920, 1080}, {2000, 1000}}) {
        SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
        SensorChartRenderer chart;
        SensorOutput s = output(12, 16000, 1.0);
        s.width = size.first;
        s.height = size.second;
        const std::vector<uint16_t> &f = chart.render(s);
        const SceneRect ramp = norva_sim::SceneRamp(s.width, s.height);
        ASSERT_EQ(ramp.x1, s.width);
        for (unsigned y : {ramp.y0, ramp.y0 + 1, (ramp.y0 + ramp.y1) / 2, ramp.y1 - 2, ramp.y1 - 1}) {
            const uint16_t *row = &f[static_cast<size_t>(y) * s.width];
            unsigned falls = 0;
            for (unsigned x = 2; x < s.width; x++)
                falls += row[x] < row[x - 2];
            EXPECT_EQ(falls, 0u) << "row " << y;
            EXPECT_LT(row[s.width - 1], (1u << 12) - 1) << "row " << y;
            EXPECT_GT(row[s.width - 1], row[1] + 1500) << "row " << y;
        }
    }
}

// Flips as the sensors do them: whole 2x2 cells (the colour at a position stays), or single pixels (the Bayer
// phase moves); either way the flipped frame is the straight one read backwards.
struct FlipCase {
    const char *name;
    bool hflip, vflip, pixelFlip;
    unsigned phaseX, phaseY;
};
const FlipCase kFlips[] = {
    {"CellsMirrored", true, false, false, 0, 0}, {"CellsUpsideDown", false, true, false, 0, 0},
    {"CellsBoth", true, true, false, 0, 0},      {"PixelsMirroredRggb", true, false, true, 1, 1},
    {"PixelsBothRggb", true, true, true, 1, 1},  {"CellsMirroredGbrg", true, false, false, 1, 0},
};
void PrintTo(const FlipCase &c, std::ostream *os) { *os << c.name; }

class SensorChartFlips : public SensorChart, public testing::WithParamInterface<FlipCase> {};

TEST_P(SensorChartFlips, FlippedFrameIsTheStraightOneReadBackwards) {
    const FlipCase &c = GetParam();
    SensorChartRenderer chart;
    SensorOutput s = output(10, 8000, 1.0);
    s.pixelFlip = c.pixelFlip;
    s.phaseX = c.phaseX;
    s.phaseY = c.phaseY;
    const std::vector<uint16_t> straight = chart.render(s);
    s.hflip = c.hflip;
    s.vflip = c.vflip;
    const std::vector<uint16_t> flipped = chart.render(s);
    const auto source = [&](unsigned v, bool flip, unsigned n) {
        return !flip ? v : c.pixelFlip ? n - 1 - v : (n - 2 - (v & ~1u)) + (v & 1u);
    };
    unsigned mismatches = 0;
    for (unsigned y = 0; y < kHeight; y++)
        for (unsigned x = 0; x < kWidth; x++)
            mismatches +=
                flipped[static_cast<size_t>(y) * kWidth + x] !=
                straight[static_cast<size_t>(source(y, c.vflip, kHeight)) * kWidth + source(x, c.hflip, kWidth)];
    EXPECT_EQ(mismatches, 0u);
    EXPECT_NE(flipped, straight);

    // The red patch: red's position of the cell in the sensor's order is its brightest, wherever the flips put it.
    const SceneRect red = norva_sim::SceneColourPatch(0, kWidth, kHeight);
    const SceneRect at = {c.hflip ? kWidth - red.x1 : red.x0, c.vflip ? kHeight - red.y1 : red.y0,
                          c.hflip ? kWidth - red.x0 : red.x1, c.vflip ? kHeight - red.y0 : red.y1};
    // Unflipped, red is at (1, 1) of a BGGR cell read at (phaseX, phaseY); a pixel flip moves the phase.
    const unsigned rx = 1 ^ c.phaseX ^ (c.pixelFlip && c.hflip), ry = 1 ^ c.phaseY ^ (c.pixelFlip && c.vflip);
    const double r = meanOf(flipped, at, rx, ry);
    for (unsigned pos = 0; pos < 4; pos++) {
        if ((pos & 1) != rx || (pos >> 1) != ry) {
            EXPECT_GT(r, 2.0 * meanOf(flipped, at, pos & 1, pos >> 1)) << "position " << pos;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Flips, SensorChartFlips, testing::ValuesIn(kFlips),
                         [](const testing::TestParamInfo<FlipCase> &i) { return std::string(i.param.name); });

TEST_F(SensorChart, RadianceIsMappedOnlyWhenTheGeometryChanges) {
    SensorChartRenderer chart;
    SensorOutput s = output(10, 8000, 1.0);
    chart.render(s);
    EXPECT_EQ(chart.builds(), 1u);
    // Exposure, gain and the light: the same map.
    s.exposureUs = 16000;
    s.gain = 2.0;
    chart.render(s);
    ASSERT_TRUE(norva_sim::SetIlluminant(3000));
    ASSERT_TRUE(norva_sim::SetLightLevel(0.3));
    chart.render(s);
    EXPECT_EQ(chart.builds(), 1u);
    // Size, depth and flips: a new map each.
    s.width = 320;
    chart.render(s);
    s.bitDepth = 12;
    chart.render(s);
    s.vflip = true;
    chart.render(s);
    EXPECT_EQ(chart.builds(), 4u);
    EXPECT_EQ(chart.width(), 320u);
    EXPECT_EQ(chart.depth(), 12u);
}

TEST_F(SensorChart, TinyFramesRenderWithoutAChart) {
    SensorChartRenderer chart;
    for (unsigned side : {2u, 6u, 16u, 30u}) {
        SensorOutput s = output(10, 8000, 1.0);
        s.width = s.height = side;
        EXPECT_EQ(chart.render(s).size(), static_cast<size_t>(side) * side) << side;
    }
    const norva_sim::ChartLayout l = norva_sim::ChartLayoutOf(6, 6);
    EXPECT_EQ(l.edges.area() + l.clipped.area() + l.grey[0].area(), 0u);
}

TEST_F(SensorChart, Gc8034ActuatorMovesTheLensOfItsPort) {
    norva_sim::LensScene scene;
    scene.inFocus = 400;
    scene.blurPerCode = 0.02;
    auto actuator = norva_sim::AttachGc8034FocusLens(2, 1, scene);
    // One 2-byte write per code: 6 high bits in the first byte, 4 low bits at the top of the second.
    const auto write = [&](unsigned code) {
        actuator->writeRegister(static_cast<uint16_t>(code >> 4), static_cast<uint8_t>((code & 0xF) << 4));
    };
    EXPECT_NEAR(norva_sim::LensBlurRadius(1), 400 * 0.02, 1e-9);
    write(470);
    EXPECT_EQ(actuator->code(), 470u);
    EXPECT_NEAR(norva_sim::LensBlurRadius(1), 70 * 0.02, 1e-9);
    write(400);
    EXPECT_EQ(norva_sim::LensBlurRadius(1), 0.0);
    EXPECT_EQ(norva_sim::LensBlurRadius(0), 0.0) << "no lens on the other port";
}

/* ---- the light from the environment ---- */

struct BadVariableCase {
    const char *name;
    const char *variable;
    const char *value;
};
const BadVariableCase kBadValues[] = {
    {"IlluminantWord", "NORVA_SIM_ILLUMINANT", "warm"},   {"IlluminantWithUnit", "NORVA_SIM_ILLUMINANT", "3000K"},
    {"IlluminantTooLow", "NORVA_SIM_ILLUMINANT", "1500"}, {"IlluminantTooHigh", "NORVA_SIM_ILLUMINANT", "12000"},
    {"IlluminantNan", "NORVA_SIM_ILLUMINANT", "nan"},     {"LightNegative", "NORVA_SIM_LIGHT", "-0.5"},
    {"LightTooHigh", "NORVA_SIM_LIGHT", "1000"},          {"LightWord", "NORVA_SIM_LIGHT", "bright"},
    {"LightInfinite", "NORVA_SIM_LIGHT", "inf"},          {"LightTrailingSpace", "NORVA_SIM_LIGHT", "0.5 "},
};
void PrintTo(const BadVariableCase &c, std::ostream *os) { *os << c.name; }

class SensorChartBadEnvironment : public SensorChart, public testing::WithParamInterface<BadVariableCase> {};

TEST_P(SensorChartBadEnvironment, RefusedWithTheVariableNamed) {
    const BadVariableCase &c = GetParam();
    const bool illuminant = std::string(c.variable) == "NORVA_SIM_ILLUMINANT";
    // The other variable holds a good value, which is not applied either.
    norva_test::ScopedEnv bad(c.variable, c.value);
    norva_test::ScopedEnv good(illuminant ? "NORVA_SIM_LIGHT" : "NORVA_SIM_ILLUMINANT", illuminant ? "0.5" : "3000");
    std::string error;
    EXPECT_FALSE(norva_sim::WorldFromEnvironment(&error));
    EXPECT_NE(error.find(c.variable), std::string::npos) << error;
    EXPECT_NE(error.find(std::string("\"") + c.value + "\""), std::string::npos) << error;
    EXPECT_EQ(error.find(illuminant ? "NORVA_SIM_LIGHT" : "NORVA_SIM_ILLUMINANT"), std::string::npos) << error;
    EXPECT_EQ(norva_sim::Illuminant(), norva_sim::kDefaultIlluminant);
    EXPECT_EQ(norva_sim::LightLevel(), norva_sim::kDefaultLightLevel);
    // A platform reset takes the good value and leaves the refused one at its default.
    norva_sim::ResetPlatform();
    EXPECT_EQ(norva_sim::Illuminant(), illuminant ? norva_sim::kDefaultIlluminant : 3000.0);
    EXPECT_EQ(norva_sim::LightLevel(), illuminant ? 0.5 : norva_sim::kDefaultLightLevel);
}

INSTANTIATE_TEST_SUITE_P(Values, SensorChartBadEnvironment, testing::ValuesIn(kBadValues),
                         [](const testing::TestParamInfo<BadVariableCase> &i) { return std::string(i.param.name); });

TEST_F(SensorChart, EnvironmentSetsTheLightAndUnsetVariablesKeepIt) {
    {
        norva_test::ScopedEnv kelvin("NORVA_SIM_ILLUMINANT", "2800");
        norva_test::ScopedEnv level("NORVA_SIM_LIGHT", "0.1");
        std::string error;
        EXPECT_TRUE(norva_sim::WorldFromEnvironment(&error)) << error;
        EXPECT_EQ(norva_sim::Illuminant(), 2800.0);
        EXPECT_EQ(norva_sim::LightLevel(), 0.1);
    }
    // A test's own light stays when the variables are unset or empty.
    ASSERT_TRUE(norva_sim::SetIlluminant(4200));
    norva_test::ScopedEnv unset("NORVA_SIM_ILLUMINANT", nullptr);
    norva_test::ScopedEnv empty("NORVA_SIM_LIGHT", "");
    std::string error;
    EXPECT_TRUE(norva_sim::WorldFromEnvironment(&error)) << error;
    EXPECT_EQ(norva_sim::Illuminant(), 4200.0);
    EXPECT_EQ(norva_sim::LightLevel(), 0.1);
    // A platform reset goes back to the defaults.
    norva_sim::ResetPlatform();
    EXPECT_EQ(norva_sim::Illuminant(), norva_sim::kDefaultIlluminant);
    EXPECT_EQ(norva_sim::LightLevel(), norva_sim::kDefaultLightLevel);
}

} // namespace
