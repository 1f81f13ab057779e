// The simulated IMX219: identifier 0x0219 at 0x0000, streaming through 0x0100, frame and line length, output size,
// PLL, coarse integration, analogue and digital gain and the orientation register decoded. Flips mirror single
// pixels, so the Bayer order follows them (RGGB unflipped).
#include <memory>

#include "platform/sim_sensor_models.h"

namespace norva_sim {
namespace {

unsigned be16(const std::vector<uint8_t> &r, uint16_t reg) { return (r[reg] << 8) | r[reg + 1]; }

class Imx219Model : public RegisterSensorModel {
public:
    explicit Imx219Model(const SensorWiring &w) : RegisterSensorModel(w, 2) {
        pixelFlip_ = true;
        phaseX_ = 1;
        phaseY_ = 1;
        setFixed(0x0000, 0x02);
        setFixed(0x0001, 0x19);
    }

protected:
    bool streamOn() const override { return (regs_[0x0100] & 1) != 0; }
    void decode(SimSensorState *s) const override {
        const std::vector<uint8_t> &r = regs_;
        s->lanes = (r[0x0114] & 3) == 3 ? 4 : 2;
        s->bitDepth = r[0x018D] & 0x0F;
        s->vts = be16(r, 0x0160);
        s->hts = be16(r, 0x0162);
        s->width = be16(r, 0x016C) & 0xFFF;
        s->height = be16(r, 0x016E) & 0xFFF;
        const unsigned div = r[0x0301] & 0x1F, prediv = r[0x0304], mult = be16(r, 0x0306) & 0x7FF;
        const double clock = wiring().clockMHz * 1e6;
        // Two pixels per pixel-clock cycle.
        s->pixelClock = div != 0 && prediv != 0 ? 2.0 * clock / prediv * mult / div : 0;
        s->rowTimeUs = s->pixelClock > 0 ? s->hts / s->pixelClock * 1e6 : 0;
        s->frameRate = s->rowTimeUs > 0 && s->vts ? 1e6 / (s->rowTimeUs * s->vts) : 0;
        s->lines = be16(r, 0x015A);
        s->analogueGain = 256.0 / (256.0 - r[0x0157]);
        s->digitalGain = be16(r, 0x0158) / 256.0;
        s->hflip = (r[0x0172] & 1) != 0;
        s->vflip = (r[0x0172] & 2) != 0;
    }
};

} // namespace

std::shared_ptr<RegisterSensorModel> AttachImx219(SensorWiring wiring) {
    wiring.address = 0x10;
    auto model = std::make_shared<Imx219Model>(wiring);
    AttachSensorModel(model);
    return model;
}

} // namespace norva_sim
