// Frames of a streaming simulated sensor on its imager port: the chart as the sensor sees it under the simulated
// light (platform/sim_world.h) at the sensor's size, bit depth, exposure, gain, flips and Bayer order, then through
// the port's lens.
#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sim_capture.h"
#include "platform/sim_isp.h"
#include "platform/sim_lens.h"
#include "platform/sim_sensor.h"
#include "platform/sim_world.h"
#include "sim_board_internal.h"
#include "sim_gasket_internal.h"

namespace norva_sim {
namespace {

constexpr unsigned kMaxSide = 8192;

/** The frame source of one port. Every call but the constructor is made with the platform lock held. */
class SensorFrames : public SimFrameSource {
public:
    SensorFrames(std::weak_ptr<FrameSensor> model, unsigned port) : model_(std::move(model)), port_(port) {}

    bool ready(unsigned gasket) override {
        SensorOutput s;
        return streaming(gasket, &s);
    }
    bool begin(unsigned gasket) override {
        SensorOutput s;
        if (!streaming(gasket, &s))
            return false;
        render(s);
        GasketFrameReceived(gasket, LineErrors{});
        counters_.frames++;
        return true;
    }
    void render(const SimFrameContext &ctx) override { TestPatternSource().render(ctx); }
    bool bayer(unsigned /*gasket*/, IspInputFrame *frame) override {
        frame->samples = samples_;
        frame->width = chart_.width();
        frame->height = chart_.height();
        frame->rowStride = chart_.width();
        frame->bitDepth = chart_.depth();
        return true;
    }
    void end(unsigned /*gasket*/) override {}

    /** The sensor streams into the port: powered, stream on, the PHY on with the sensor's lanes. */
    bool streaming(unsigned gasket, SensorOutput *s) {
        auto m = model_.lock();
        if (!m)
            return false;
        *s = m->output();
        const PhyState phy = GetPhyState(port_);
        // A parallel sensor (no lanes) needs no PHY lanes on its port.
        const bool parallel = s->lanes == 0;
        if (!s->streaming || (!parallel && !phy.enabled) || gasket != port_ || !GasketClaimed(gasket))
            return false;
        if (!parallel && phy.lanes != s->lanes) {
            counters_.laneMismatches++;
            return false;
        }
        return s->width > 0 && s->height > 0 && s->width <= kMaxSide && s->height <= kMaxSide;
    }

    /** Renders the current frame: the chart as the sensor sees it, then through the port's lens. */
    void render(const SensorOutput &s) {
        std::vector<uint16_t> &frame = chart_.render(s);
        const float pedestal = static_cast<float>(SensorPedestal(chart_.depth()));
        const float top = static_cast<float>((1u << chart_.depth()) - 1);
        RenderThroughLens(port_, frame.data(), chart_.width(), chart_.height(), pedestal, top);
        samples_ = frame.data();
    }

    const uint16_t *samples() const { return samples_; }
    unsigned width() const { return chart_.width(); }
    unsigned height() const { return chart_.height(); }
    unsigned depth() const { return chart_.depth(); }
    SensorFrameCounters counters_;

private:
    std::weak_ptr<FrameSensor> model_;
    unsigned port_;
    SensorChartRenderer chart_;
    const uint16_t *samples_ = nullptr;
};

std::unique_ptr<SensorFrames> g_sources[CI_N_IMAGERS];

void unplugSources() {
    for (unsigned p = 0; p < CI_N_IMAGERS; p++) {
        if (g_sources[p]) {
            SetFrameSource(p, nullptr);
            std::lock_guard<std::mutex> lock(PlatformMutex());
            g_sources[p].reset();
        }
    }
}
const bool g_resetRegistered = RegisterResetHook(unplugSources);

} // namespace

SceneRect SceneRectOf(const ChartRect &r) { return SceneRect{r.x, r.y, r.x + r.w, r.y + r.h}; }
SceneRect SceneRamp(unsigned width, unsigned height) { return SceneRectOf(ChartLayoutOf(width, height).ramp); }
SceneRect SceneNeutralPatch(int i, unsigned width, unsigned height) {
    return i >= 0 && i < ChartLayout::kPatches ? SceneRectOf(ChartLayoutOf(width, height).grey[i]) : SceneRect{};
}
SceneRect SceneColourPatch(int i, unsigned width, unsigned height) {
    return i >= 0 && i < ChartLayout::kPatches ? SceneRectOf(ChartLayoutOf(width, height).colour[i]) : SceneRect{};
}
SceneRect SceneEdges(unsigned width, unsigned height) { return SceneRectOf(ChartLayoutOf(width, height).edges); }
SceneRect SceneGreyPatch(unsigned width, unsigned height) { return SceneNeutralPatch(kSceneGreyPatch, width, height); }
SceneRect SceneClippedPatch(unsigned width, unsigned height) {
    return SceneRectOf(ChartLayoutOf(width, height).clipped);
}

float SceneRadiance(unsigned x, unsigned y, unsigned width, unsigned height) {
    if (x >= width || y >= height)
        return 0.0f;
    // BGGR: (even, even) blue, (odd, odd) red, the others green.
    const unsigned c = (y & 1u) == 0 ? ((x & 1u) == 0 ? 2u : 1u) : ((x & 1u) == 0 ? 1u : 0u);
    double gains[3];
    IlluminantChannelGains(Illuminant(), gains);
    return static_cast<float>(ChartLevelAt(width, height, x, y, c) * kWhiteRadiance * LightLevel() * gains[c] *
                              LensShading(c, x, y, width, height));
}

unsigned SensorPedestal(unsigned bitDepth) { return bitDepth >= 10 ? 64u << (bitDepth - 10) : 64u >> (10 - bitDepth); }

SensorFrameCounters GetSensorFrameCounters(unsigned port) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    return port < CI_N_IMAGERS && g_sources[port] ? g_sources[port]->counters_ : SensorFrameCounters{};
}

bool RenderSensorFrame(unsigned port, const uint16_t **samples, unsigned *width, unsigned *height, unsigned *bitDepth) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    if (port >= CI_N_IMAGERS || !g_sources[port])
        return false;
    SensorFrames &src = *g_sources[port];
    SensorOutput s;
    if (!src.streaming(port, &s))
        return false;
    src.render(s);
    *samples = src.samples();
    *width = src.width();
    *height = src.height();
    *bitDepth = src.depth();
    return true;
}

void PlugSensorFrames(const std::shared_ptr<FrameSensor> &model, unsigned port) {
    if (port >= CI_N_IMAGERS)
        return;
    auto source = std::make_unique<SensorFrames>(model, port);
    SetFrameSource(port, source.get());
    std::lock_guard<std::mutex> lock(PlatformMutex());
    g_sources[port] = std::move(source);
}

} // namespace norva_sim
