// The simulated external MIPI generator board: a fixed 8-bit pattern on its port while powered and linked.
#include <memory>
#include <mutex>
#include <vector>

#include "ci/ci_gasket.h"
#include "platform/sim_capture.h"
#include "platform/sim_isp.h"
#include "platform/sim_standalone_sensors.h"
#include "sim_board_internal.h"
#include "sim_gasket_internal.h"

namespace norva_sim {
namespace {

class ZynqFrames : public SimFrameSource {
public:
    explicit ZynqFrames(const SensorWiring &wiring) : wiring_(wiring) {}

    bool ready(unsigned gasket) override { return streaming(gasket, nullptr); }
    bool begin(unsigned gasket) override {
        ZynqState s;
        if (!streaming(gasket, &s))
            return false;
        if (s.width != width_ || s.height != height_) {
            width_ = s.width;
            height_ = s.height;
            frame_.assign(static_cast<size_t>(width_) * height_, 0);
            for (unsigned y = 0; y < height_; y++)
                for (unsigned x = 0; x < width_; x++)
                    frame_[static_cast<size_t>(y) * width_ + x] = ZynqPattern(x, y);
        }
        GasketFrameReceived(gasket, LineErrors{});
        frames_++;
        return true;
    }
    void render(const SimFrameContext &ctx) override { TestPatternSource().render(ctx); }
    bool bayer(unsigned /*gasket*/, IspInputFrame *frame) override {
        frame->samples = frame_.data();
        frame->width = width_;
        frame->height = height_;
        frame->rowStride = width_;
        frame->bitDepth = 8;
        return true;
    }
    void end(unsigned /*gasket*/) override {}

    bool streaming(unsigned gasket, ZynqState *out) const {
        ZynqState s = state();
        if (out != nullptr)
            *out = s;
        return s.streaming && gasket == wiring_.port;
    }
    ZynqState state() const {
        ZynqState s;
        s.powered = wiring_.pwdnLine >= 0 && wiring_.resetLine >= 0 &&
                    GpioLevel(wiring_.pwdnChip, static_cast<unsigned>(wiring_.pwdnLine)) == 1 &&
                    GpioLevel(wiring_.resetChip, static_cast<unsigned>(wiring_.resetLine)) == 1;
        const PhyState phy = GetPhyState(wiring_.port);
        const bool size =
            (phy.frameWidth == 64 && phy.frameHeight == 64) || (phy.frameWidth == 640 && phy.frameHeight == 480);
        s.streaming = s.powered && phy.enabled && phy.lanes == 2 && size && GasketClaimed(wiring_.port);
        s.width = s.streaming ? phy.frameWidth : 0;
        s.height = s.streaming ? phy.frameHeight : 0;
        s.frames = frames_;
        return s;
    }

private:
    SensorWiring wiring_;
    unsigned width_ = 0, height_ = 0;
    std::vector<uint16_t> frame_;
    uint64_t frames_ = 0;
};

std::unique_ptr<ZynqFrames> g_board;
unsigned g_port = 0;

void unplug() {
    if (g_board) {
        SetFrameSource(g_port, nullptr);
        std::lock_guard<std::mutex> lock(PlatformMutex());
        g_board.reset();
    }
}
const bool g_resetRegistered = RegisterResetHook(unplug);

} // namespace

uint16_t ZynqPattern(unsigned x, unsigned y) { return static_cast<uint16_t>((x * 3 + y * 5 + (x ^ y)) & 0xFF); }

void AttachZynqBoard(const SensorWiring &wiring) {
    if (wiring.port >= CI_N_IMAGERS)
        return;
    unplug();
    auto board = std::make_unique<ZynqFrames>(wiring);
    SetFrameSource(wiring.port, board.get());
    std::lock_guard<std::mutex> lock(PlatformMutex());
    g_port = wiring.port;
    g_board = std::move(board);
}

ZynqState GetZynqState() {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    return g_board ? g_board->state() : ZynqState{};
}

} // namespace norva_sim
