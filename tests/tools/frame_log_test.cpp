// What norva_frames makes of the frames it sees: the window of the neutral patch in outputs of several sizes and
// pixel layouts, the mean colour read there, and when a series of frames counts as settled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <random>
#include <vector>

#include "frame_log.h"
#include "scenes/scene_nrv.h"

namespace {

using norva_tools::FrameRecord;
using norva_tools::PixelRect;

struct PatchCase {
    const char *name;
    uint32_t chartW, chartH, outW, outH;
    int patch;
};

void PrintTo(const PatchCase &c, std::ostream *os) { *os << c.name; }

class NeutralPatch : public ::testing::TestWithParam<PatchCase> {};

// The window lies inside the patch as the chart paints it, scaled to the output, and covers a good part of it:
// every pixel of it, mapped back into the chart, is on the patch's level.
TEST_P(NeutralPatch, WindowLiesOnThePatchInTheOutput) {
    const PatchCase &c = GetParam();
    const PixelRect w = norva_tools::NeutralPatchWindow(c.chartW, c.chartH, c.outW, c.outH, c.patch);
    ASSERT_GT(w.w, 0u);
    ASSERT_GT(w.h, 0u);
    EXPECT_LE(w.x + w.w, c.outW);
    EXPECT_LE(w.y + w.h, c.outH);
    const norva_scenes::Rect r = norva_scenes::SceneLayoutOf(c.chartW, c.chartH).grey[c.patch];
    // Output pixel centres back in chart pixels.
    const auto inChart = [&](uint32_t v, uint32_t out, uint32_t chart) { return (v + 0.5) * chart / out; };
    for (uint32_t y : {w.y, w.y + w.h - 1}) {
        for (uint32_t x : {w.x, w.x + w.w - 1}) {
            const double cx = inChart(x, c.outW, c.chartW), cy = inChart(y, c.outH, c.chartH);
            EXPECT_GE(cx, r.x) << x;
            EXPECT_LT(cx, r.x + r.w) << x;
            EXPECT_GE(cy, r.y) << y;
            EXPECT_LT(cy, r.y + r.h) << y;
        }
    }
    // The middle half of the patch: about a quarter of its area, scaled.
    const double area = double(w.w) * w.h * (double(c.chartW) / c.outW) * (double(c.chartH) / c.outH);
    EXPECT_GT(area, 0.2 * double(r.area()));
    EXPECT_LT(area, 0.3 * double(r.area()));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, NeutralPatch,
    ::testing::Values(PatchCase{"same_size_640x480_patch2", 640, 480, 640, 480, 2},
                      PatchCase{"sensor_2688x1520_shown_at_672x380_patch0", 2688, 1520, 672, 380, 0},
                      PatchCase{"sensor_1920x1080_shown_at_640x360_patch5", 1920, 1080, 640, 360, 5},
                      PatchCase{"upscaled_320x240_to_640x480_patch3", 320, 240, 640, 480, 3}),
    [](const ::testing::TestParamInfo<PatchCase> &i) { return std::string(i.param.name); });

TEST(NeutralPatchWindow, EmptyForAPatchOutsideTheChartOrAnEmptyChart) {
    for (int patch : {-1, 6}) {
        const PixelRect w = norva_tools::NeutralPatchWindow(640, 480, 640, 480, patch);
        EXPECT_EQ(w.w * w.h, 0u) << patch;
    }
    const PixelRect none = norva_tools::NeutralPatchWindow(0, 0, 640, 480, 2);
    EXPECT_EQ(none.w * none.h, 0u);
}

struct LayoutCase {
    const char *name;
    unsigned pixelStride;
    unsigned offsets[3]; // of red, green, blue
    size_t padding;      // bytes after each row
};

void PrintTo(const LayoutCase &c, std::ostream *os) { *os << c.name; }

class MeanRgb : public ::testing::TestWithParam<LayoutCase> {};

// A 12 x 8 image whose window (3..8 x 2..5) holds red 10 to 14, green 100, blue 200 and whose other pixels are 255:
// the mean is that of the window alone, channel by channel, whatever the pixel layout and row padding.
TEST_P(MeanRgb, ReadsEachChannelOfTheWindowOnly) {
    const LayoutCase &c = GetParam();
    constexpr uint32_t kW = 12, kH = 8;
    const size_t stride = kW * c.pixelStride + c.padding;
    std::vector<uint8_t> image(stride * kH, 255);
    const PixelRect window{3, 2, 6, 4};
    for (uint32_t y = window.y; y < window.y + window.h; y++) {
        for (uint32_t x = window.x; x < window.x + window.w; x++) {
            uint8_t *p = &image[y * stride + x * c.pixelStride];
            p[c.offsets[0]] = static_cast<uint8_t>(10 + (x - window.x) % 5); // 10..14, 10..14, ... : 10,11,12,13,14,10
            p[c.offsets[1]] = 100;
            p[c.offsets[2]] = 200;
        }
    }
    norva_tools::PackedRgb in;
    in.data = image.data();
    in.width = kW;
    in.height = kH;
    in.rowStride = stride;
    in.pixelStride = c.pixelStride;
    for (int k = 0; k < 3; k++)
        in.offsets[k] = c.offsets[k];
    double rgb[3] = {};
    ASSERT_TRUE(norva_tools::MeanRgb(in, window, rgb));
    EXPECT_DOUBLE_EQ(rgb[0], (10 + 11 + 12 + 13 + 14 + 10) / 6.0);
    EXPECT_DOUBLE_EQ(rgb[1], 100.0);
    EXPECT_DOUBLE_EQ(rgb[2], 200.0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, MeanRgb,
                         ::testing::Values(LayoutCase{"RGB", 3, {0, 1, 2}, 0},
                                           LayoutCase{"BGR_padded", 3, {2, 1, 0}, 4},
                                           LayoutCase{"BGRx", 4, {2, 1, 0}, 0}, LayoutCase{"xRGB", 4, {1, 2, 3}, 8}),
                         [](const ::testing::TestParamInfo<LayoutCase> &i) { return std::string(i.param.name); });

TEST(MeanRgbWindow, ClippedToTheImageAndRefusedWhenOutside) {
    std::vector<uint8_t> image(4 * 4 * 3, 0);
    for (size_t i = 0; i < image.size(); i += 3)
        image[i] = 90;
    norva_tools::PackedRgb in;
    in.data = image.data();
    in.width = 4;
    in.height = 4;
    in.rowStride = 12;
    double rgb[3] = {};
    EXPECT_TRUE(norva_tools::MeanRgb(in, PixelRect{2, 2, 100, 100}, rgb));
    EXPECT_DOUBLE_EQ(rgb[0], 90.0);
    EXPECT_FALSE(norva_tools::MeanRgb(in, PixelRect{4, 0, 2, 2}, rgb));
    EXPECT_FALSE(norva_tools::MeanRgb(in, PixelRect{0, 0, 0, 2}, rgb));
}

/** A frame: exposure (us), gain, brightness, kelvin, and one grey value for the three channels. */
FrameRecord F(double exposureUs, double gain, double brightness, double kelvin, double grey) {
    FrameRecord r;
    r.exposureUs = exposureUs;
    r.gain = gain;
    r.brightness = brightness;
    r.temperature = kelvin;
    r.rgb[0] = r.rgb[1] = r.rgb[2] = grey;
    return r;
}

std::vector<FrameRecord> Numbered(std::vector<FrameRecord> v) {
    for (size_t i = 0; i < v.size(); i++)
        v[i].frame = long(i);
    return v;
}

/** n copies of a frame. */
std::vector<FrameRecord> Repeat(const FrameRecord &f, size_t n) { return std::vector<FrameRecord>(n, f); }

std::vector<FrameRecord> Join(std::initializer_list<std::vector<FrameRecord>> parts) {
    std::vector<FrameRecord> all;
    for (const auto &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return Numbered(all);
}

struct SettleCase {
    const char *name;
    std::vector<FrameRecord> frames;
    long settled;
};

void PrintTo(const SettleCase &c, std::ostream *os) { *os << c.name; }

class Settle : public ::testing::TestWithParam<SettleCase> {};

TEST_P(Settle, FirstFrameFromWhichEverythingStaysNearTheLast) {
    EXPECT_EQ(norva_tools::SettledFrom(GetParam().frames), GetParam().settled);
}

const FrameRecord kSteady = F(16600, 1.0, 0.0, 3010, 118);

INSTANTIATE_TEST_SUITE_P(
    Series, Settle,
    ::testing::Values(
        SettleCase{"steady_from_the_start", Join({Repeat(kSteady, 12)}), 0},
        SettleCase{"exposure_converging",
                   Join({{F(2000, 1, -0.6, 3010, 40), F(8000, 1, -0.2, 3010, 90)}, Repeat(kSteady, 10)}), 2},
        // Exposure and gain trade against each other: only their product counts.
        SettleCase{"exposure_traded_for_gain", Join({Repeat(F(33200, 0.5, 0.0, 3010, 118), 3), Repeat(kSteady, 10)}),
                   0},
        SettleCase{"a_late_excursion_restarts_the_count",
                   Join({Repeat(kSteady, 20), {F(16600, 1.0, 0.0, 3010, 140)}, Repeat(kSteady, 10)}), 21},
        SettleCase{"white_balance_still_moving",
                   Join({Repeat(kSteady, 10), {F(16600, 1, 0, 3300, 118)}, Repeat(kSteady, 9)}), -1},
        SettleCase{"one_channel_off",
                   Join({[] {
                             FrameRecord f = kSteady;
                             f.rgb[2] = 110;
                             return Repeat(f, 5);
                         }(),
                         Repeat(kSteady, 10)}),
                   5},
        SettleCase{"small_wobble_inside_the_bands",
                   Join({{F(16900, 1, 0.02, 3040, 119), F(16400, 1, -0.02, 2985, 117)}, Repeat(kSteady, 10)}), 0},
        SettleCase{"too_few_frames_to_tell", Join({Repeat(kSteady, 9)}), -1},
        // A data generator reports no exposure and no temperature: zeros settle like any value.
        SettleCase{"zeros_of_a_data_generator", Join({{F(0, 1, 0.4, 0, 100)}, Repeat(F(0, 1, 0.05, 0, 103), 10)}), 1},
        SettleCase{"no_frames", {}, -1}),
    [](const ::testing::TestParamInfo<SettleCase> &i) { return std::string(i.param.name); });

/** The frame from which every later one stays in the bands of the last, looked for over the whole series. */
long SettledByHand(const std::vector<FrameRecord> &frames, const norva_tools::SettleBands &b = {}) {
    const auto near = [](double v, double ref, double rel, double floor) {
        return std::fabs(v - ref) <= std::max(rel * std::fabs(ref), floor);
    };
    if (frames.empty())
        return -1;
    const FrameRecord &last = frames.back();
    size_t first = frames.size();
    while (first > 0) {
        const FrameRecord &f = frames[first - 1];
        bool in = near(f.exposureUs * f.gain, last.exposureUs * last.gain, b.exposureProduct, 0.0) &&
                  std::fabs(f.brightness - last.brightness) <= b.brightness &&
                  near(f.temperature, last.temperature, b.temperature, b.temperatureFloor);
        for (int c = 0; c < 3; c++)
            in = in && near(f.rgb[c], last.rgb[c], b.patch, b.patchFloor);
        if (!in)
            break;
        first--;
    }
    return long(frames.size() - first) < b.minFrames ? -1 : frames[first].frame;
}

/**
 * Long streams: loops approaching their values, then noise, drifts and late excursions, as the tracker sees them
 * frame by frame. It keeps a bounded part of them and still answers as the whole series does; with lists too short
 * for a long drift it may answer later, never earlier.
 */
TEST(SettleTracker, AnswersAsTheWholeSeriesOverLongStreams) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int stream = 0; stream < 40; stream++) {
        const size_t n = 2000 + 500 * (stream % 7);
        const double drift = stream % 4 == 3 ? 0.05 : 0.0;     // a slowly changing light
        const double noiseScale = stream % 5 == 0 ? 0.0 : 1.0; // a perfectly steady loop
        const size_t approach = 10 + 37 * (stream % 9), excursion = stream % 3 == 0 ? n - 30 - stream : n;
        std::vector<FrameRecord> frames;
        norva_tools::SettleTracker tracker, shortLists(norva_tools::SettleBands(), 16);
        for (size_t i = 0; i < n; i++) {
            const double k = i < approach ? double(i) / approach : 1.0;
            FrameRecord f = F(2000 + k * 14600 + noiseScale * 80 * noise(random), 1.0,
                              -0.6 * (1 - k) + noiseScale * 0.01 * noise(random),
                              2500 + k * 510 + drift * double(i) + noiseScale * 15 * noise(random),
                              40 + k * 78 + noiseScale * noise(random));
            if (i == excursion)
                f.rgb[1] += 20;
            f.frame = long(i);
            frames.push_back(f);
            tracker.add(f);
            shortLists.add(f);
            if (i % 97 == 0 || i + 1 == n) {
                const long expected = SettledByHand(frames);
                // Only a drift without noise fills the lists: every frame then lies below all later ones.
                if (drift == 0.0 || noiseScale != 0.0 || i < norva_tools::SettleTracker::kCapacity)
                    ASSERT_EQ(tracker.settledFrom(), expected) << "stream " << stream << " frame " << i;
                else
                    ASSERT_TRUE(tracker.settledFrom() >= expected && tracker.settledFrom() <= expected + 5)
                        << "stream " << stream << " frame " << i << ": " << tracker.settledFrom();
                const long later = shortLists.settledFrom();
                if (expected < 0)
                    ASSERT_EQ(later, -1) << "stream " << stream << " frame " << i;
                else
                    ASSERT_TRUE(later == -1 || later >= expected) << "stream " << stream << " frame " << i;
            }
        }
        EXPECT_EQ(tracker.frames(), long(n));
        const long settled = SettledByHand(frames);
        const std::string line = tracker.line();
        if (drift != 0.0 && noiseScale == 0.0)
            continue;
        EXPECT_EQ(line.rfind(settled < 0 ? "Not settled in " + std::to_string(n) + " frames; frame " +
                                               std::to_string(n - 1) + ": "
                                         : "Settled at frame " + std::to_string(settled) + ": ",
                             0),
                  0u)
            << line;
    }
}

TEST(SettledLine, SaysWhereAndWithWhatValues) {
    std::vector<FrameRecord> frames = Join({{F(2000, 1, -0.6, 2500, 40)}, Repeat(F(16600, 1.0, 0.0, 3010, 118), 9)});
    frames[1].rgb[2] = 119;
    frames.push_back(frames.back());
    frames.back().frame = 10;
    EXPECT_EQ(norva_tools::SettledLine(frames), "Settled at frame 1: exposure 16.6 ms, gain 1.0, 3010 K, grey patch "
                                                "118/118/119");
    frames.resize(5);
    EXPECT_EQ(norva_tools::SettledLine(frames),
              "Not settled in 5 frames; frame 4: exposure 16.6 ms, gain 1.0, 3010 K, grey patch 118/118/118");
    EXPECT_EQ(norva_tools::SettledLine({}), "No frames");
}

TEST(CsvLine, OneFieldPerHeaderColumn) {
    const auto fields = [](const std::string &line) { return std::count(line.begin(), line.end(), ',') + 1; };
    FrameRecord r = F(16600, 2.5, -0.125, 3010, 118);
    r.focus = 0.5;
    EXPECT_EQ(fields(norva_tools::CsvLine(r)), fields(norva_tools::CsvHeader()));
}

} // namespace
