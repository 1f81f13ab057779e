// Frames of a streaming simulated sensor on its imager port: the scene at the sensor's size and bit depth,
// pedestal + radiance x exposure x gain, clipped, flipped by whole 2x2 cells or by pixels, in the sensor's Bayer
// order.
#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sim_capture.h"
#include "platform/sim_isp.h"
#include "platform/sim_lens.h"
#include "platform/sim_sensor.h"
#include "sim_board_internal.h"
#include "sim_gasket_internal.h"

namespace norva_sim {
namespace {

constexpr unsigned kMaxSide = 8192;

unsigned evenDown(double v) { return static_cast<unsigned>(v) & ~1u; }

SceneRect rectOf(double u0, double v0, double u1, double v1, unsigned w, unsigned h) {
    return SceneRect{evenDown(u0 * w), evenDown(v0 * h), evenDown(u1 * w), evenDown(v1 * h)};
}

bool inside(const SceneRect &r, unsigned x, unsigned y) { return x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1; }

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
        frame->samples = frame_.data();
        frame->width = width_;
        frame->height = height_;
        frame->rowStride = width_;
        frame->bitDepth = depth_;
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

    /** Renders the current frame; the scene map is rebuilt only when size or flips change. */
    void render(const SensorOutput &s) {
        const unsigned depth = s.bitDepth >= 8 && s.bitDepth <= 16 ? s.bitDepth : 10;
        if (s.width != width_ || s.height != height_ || s.hflip != hflip_ || s.vflip != vflip_ || depth != depth_ ||
            s.pixelFlip != pixelFlip_ || s.phaseX != phaseX_ || s.phaseY != phaseY_) {
            width_ = s.width & ~1u;
            height_ = s.height & ~1u;
            hflip_ = s.hflip;
            vflip_ = s.vflip;
            pixelFlip_ = s.pixelFlip;
            phaseX_ = s.phaseX & 1u;
            phaseY_ = s.phaseY & 1u;
            depth_ = depth;
            const float scale = static_cast<float>(1u << depth) / 1024.0f;
            radiance_.assign(static_cast<size_t>(width_) * height_, 0.0f);
            frame_.assign(radiance_.size(), 0);
            for (unsigned y = 0; y < height_; y++) {
                // A cell flip moves whole cells: the position inside the 2x2 cell (the colour) stays. A pixel flip
                // mirrors single pixels, so the colour at a position changes with it.
                const unsigned sy = !vflip_ ? y : pixelFlip_ ? height_ - 1 - y : (height_ - 2 - (y & ~1u)) + (y & 1u);
                for (unsigned x = 0; x < width_; x++) {
                    const unsigned sx = !hflip_ ? x : pixelFlip_ ? width_ - 1 - x : (width_ - 2 - (x & ~1u)) + (x & 1u);
                    radiance_[static_cast<size_t>(y) * width_ + x] =
                        SceneRadiance(sx ^ phaseX_, sy ^ phaseY_, width_, height_) * scale;
                }
            }
        }
        const float pedestal = static_cast<float>(SensorPedestal(depth_));
        const float top = static_cast<float>((1u << depth_) - 1);
        const float k = static_cast<float>(s.exposureUs * s.gain);
        const size_t n = radiance_.size();
        const float *rad = radiance_.data();
        uint16_t *out = frame_.data();
        for (size_t i = 0; i < n; i++) {
            const float v = pedestal + rad[i] * k + 0.5f;
            out[i] = static_cast<uint16_t>(v < top ? v : top);
        }
        RenderThroughLens(port_, out, width_, height_, pedestal, top);
    }

    const std::vector<uint16_t> &frame() const { return frame_; }
    unsigned width() const { return width_; }
    unsigned height() const { return height_; }
    unsigned depth() const { return depth_; }
    SensorFrameCounters counters_;

private:
    std::weak_ptr<FrameSensor> model_;
    unsigned port_;
    unsigned width_ = 0, height_ = 0, depth_ = 10;
    bool hflip_ = false, vflip_ = false, pixelFlip_ = false;
    unsigned phaseX_ = 0, phaseY_ = 0;
    std::vector<float> radiance_;
    std::vector<uint16_t> frame_;
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

SceneRect SceneGreyPatch(unsigned width, unsigned height) { return rectOf(0.10, 0.30, 0.30, 0.70, width, height); }
SceneRect SceneClippedPatch(unsigned width, unsigned height) { return rectOf(0.70, 0.30, 0.90, 0.70, width, height); }

float SceneRadiance(unsigned x, unsigned y, unsigned width, unsigned height) {
    if (width == 0 || height == 0)
        return 0.0f;
    // BGGR: (even, even) blue, (odd, odd) red, the others green.
    const unsigned channel = (y & 1u) == 0 ? ((x & 1u) == 0 ? 2u : 1u) : ((x & 1u) == 0 ? 1u : 0u); /* R G B */
    if (inside(SceneGreyPatch(width, height), x, y))
        return 0.03f;
    if (inside(SceneClippedPatch(width, height), x, y))
        return 2.0f;
    const SceneRect colours = rectOf(0.40, 0.30, 0.60, 0.70, width, height);
    if (inside(colours, x, y)) {
        static const float kColour[3][3] = {{0.03f, 0.008f, 0.004f}, {0.006f, 0.03f, 0.006f}, {0.004f, 0.008f, 0.03f}};
        const unsigned band = std::min(2u, (y - colours.y0) * 3u / std::max(1u, colours.y1 - colours.y0));
        return kColour[band][channel];
    }
    // A horizontal ramp elsewhere.
    return 0.004f + 0.016f * static_cast<float>(x) / static_cast<float>(width);
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
    *samples = src.frame().data();
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
