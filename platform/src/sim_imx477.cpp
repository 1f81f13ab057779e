// The simulated IMX477: identifier 0x0477 at 0x0016, streaming through 0x0100, lanes (0x0114), bit depth
// (0x0113), frame and line length, output size on an 840 MHz pixel clock at a 24 MHz reference, coarse
// integration, the analogue gain code and the orientation register 0x0101. Flips mirror single pixels, so the
// Bayer order follows them (RGGB unflipped).
#include <memory>

#include "platform/sim_sensor_models.h"

namespace norva_sim {
namespace {

unsigned be16(const std::vector<uint8_t> &r, uint16_t reg) { return (r[reg] << 8) | r[reg + 1]; }

class Imx477Model : public RegisterSensorModel {
public:
    explicit Imx477Model(const SensorWiring &w) : RegisterSensorModel(w, 2) {
        pixelFlip_ = true;
        phaseX_ = 1;
        phaseY_ = 1;
        setFixed(0x0016, 0x04);
        setFixed(0x0017, 0x77);
    }

protected:
    bool streamOn() const override { return (regs_[0x0100] & 1) != 0; }
    void decode(SimSensorState *s) const override {
        const std::vector<uint8_t> &r = regs_;
        s->lanes = (r[0x0114] & 3) == 3 ? 4 : 2;
        s->bitDepth = r[0x0113] & 0x0F;
        s->vts = be16(r, 0x0340);
        s->hts = be16(r, 0x0342);
        s->width = be16(r, 0x034C);
        s->height = be16(r, 0x034E);
        s->pixelClock = 840e6 * wiring().clockMHz / 24.0;
        s->rowTimeUs = s->hts / s->pixelClock * 1e6;
        s->frameRate = s->vts ? 1e6 / (s->rowTimeUs * s->vts) : 0;
        s->lines = be16(r, 0x0202);
        const unsigned code = ((r[0x0204] & 7) << 8) | r[0x0205];
        s->analogueGain = code < 1024 ? 1024.0 / (1024.0 - code) : 0;
        s->digitalGain = 1.0;
        s->hflip = (r[0x0101] & 1) != 0;
        s->vflip = (r[0x0101] & 2) != 0;
    }
};

} // namespace

std::shared_ptr<RegisterSensorModel> AttachImx477(SensorWiring wiring) {
    wiring.address = 0x1A;
    auto model = std::make_shared<Imx477Model>(wiring);
    AttachSensorModel(model);
    return model;
}

} // namespace norva_sim
