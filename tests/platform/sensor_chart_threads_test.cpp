// The simulated light or scene changed from one thread while another renders, as a test changes them while the
// device's threads render frames: every frame is rendered under one light and of one scene, never a mix.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/sim_world.h"
#include "support/sim_fixture.h"

namespace {

class SensorChartThreads : public norva_test::SimTest {};

// A streaming 320×240 frame of 10 ms at unit gain.
norva_sim::SensorOutput StreamingOutput(unsigned bitDepth) {
    norva_sim::SensorOutput s;
    s.streaming = true;
    s.bitDepth = bitDepth;
    s.width = 320;
    s.height = 240;
    s.exposureUs = 10000;
    s.gain = 1.0;
    return s;
}

TEST_F(SensorChartThreads, EachFrameSeesOneLight) {
    constexpr unsigned kW = 320, kH = 240;
    norva_sim::SensorOutput s = StreamingOutput(12);
    const norva_sim::SceneRect patch = norva_sim::SceneNeutralPatch(4, kW, kH);
    const unsigned x = (patch.x0 + patch.x1) / 2 & ~1u, y = (patch.y0 + patch.y1) / 2 & ~1u;
    const double pedestal = norva_sim::SensorPedestal(12);
    // Red over green at one cell of the patch (BGGR: red at (1, 1), green at (1, 0)) under each light.
    const auto redOverGreen = [&](const std::vector<uint16_t> &f) {
        return (f[(y + 1) * kW + x + 1] - pedestal) / (f[y * kW + x + 1] - pedestal);
    };
    norva_sim::SensorChartRenderer chart;
    ASSERT_TRUE(norva_sim::SetIlluminant(6500));
    const double neutral = redOverGreen(chart.render(s));
    ASSERT_TRUE(norva_sim::SetIlluminant(3000));
    const double warm = redOverGreen(chart.render(s));
    ASSERT_GT(warm, 1.4 * neutral);

    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (unsigned i = 0; !done; i++) {
            norva_sim::SetIlluminant(i % 2 ? 3000 : 6500);
            norva_sim::SetLightLevel(i % 3 ? 1.0 : 0.5);
        }
    });
    unsigned mixed = 0;
    for (int frame = 0; frame < 200; frame++) {
        const double ratio = redOverGreen(chart.render(s));
        const bool one = std::abs(ratio - neutral) < 0.01 * neutral || std::abs(ratio - warm) < 0.01 * warm;
        mixed += one ? 0 : 1;
        EXPECT_GT(norva_sim::Illuminant(), 0.0);
    }
    done = true;
    changer.join();
    EXPECT_EQ(mixed, 0u);
}

TEST_F(SensorChartThreads, EachFrameSeesOneScene) {
    constexpr unsigned kW = 320, kH = 240;
    norva_sim::SensorOutput s = StreamingOutput(10);
    // The first row (the ramp's dark end on the chart) and the clipped patch, on the flat field both at its level.
    const norva_sim::SceneRect clip = norva_sim::SceneClippedPatch(kW, kH);
    const size_t top = 1, light = static_cast<size_t>(clip.y0 + 4) * kW + clip.x0 + 5;
    norva_sim::SensorChartRenderer chart;
    const std::vector<uint16_t> onChart = chart.render(s);
    norva_sim::SetScene(norva_sim::Scene::Flat);
    const std::vector<uint16_t> onFlat = chart.render(s);
    ASSERT_NE(onChart[top], onFlat[top]);
    ASSERT_NE(onChart[light], onFlat[light]);

    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (unsigned i = 0; !done; i++)
            norva_sim::SetScene(i % 2 ? norva_sim::Scene::Flat : norva_sim::Scene::Chart);
    });
    unsigned mixed = 0;
    for (int frame = 0; frame < 100; frame++) {
        const std::vector<uint16_t> &f = chart.render(s);
        const bool chartFrame = f[top] == onChart[top] && f[light] == onChart[light];
        const bool flatFrame = f[top] == onFlat[top] && f[light] == onFlat[light];
        mixed += chartFrame || flatFrame ? 0 : 1;
    }
    done = true;
    changer.join();
    EXPECT_EQ(mixed, 0u);
}

} // namespace
