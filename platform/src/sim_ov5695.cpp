// The simulated OV5695: identifier 0x5695 at 0x300B, software reset 0x0103, streaming through 0x0100, a system
// clock of 45 MHz at a 24 MHz reference, lanes (0x3018), bit depth (0x3031), output size, totals, exposure in
// sixteenths of a line, a gain in sixteenths (0x3508/0x3509) and the flips of 0x3820 (bit 4 vertical, bit 3
// horizontal; whole 2x2 cells, BGGR).
#include <memory>

#include "platform/sim_sensor_models.h"

namespace norva_sim {
namespace {

unsigned be16(const std::vector<uint8_t> &r, uint16_t reg) { return (r[reg] << 8) | r[reg + 1]; }

class Ov5695Model : public RegisterSensorModel {
public:
    explicit Ov5695Model(const SensorWiring &w) : RegisterSensorModel(w, 2) {
        setFixed(0x300B, 0x56);
        setFixed(0x300C, 0x95);
    }

protected:
    bool streamOn() const override { return (regs_[0x0100] & 1) != 0; }
    void store(uint16_t reg, uint8_t value) override {
        if (reg == 0x0103) {
            if (value & 1)
                reset();
            return;
        }
        regs_[reg] = value;
    }
    void decode(SimSensorState *s) const override {
        const std::vector<uint8_t> &r = regs_;
        s->lanes = ((r[0x3018] >> 5) & 3) + 1;
        s->bitDepth = r[0x3031] & 0x1F;
        s->width = be16(r, 0x3808);
        s->height = be16(r, 0x380A);
        s->hts = be16(r, 0x380C);
        s->vts = be16(r, 0x380E);
        s->pixelClock = 45e6 * wiring().clockMHz / 24.0;
        s->rowTimeUs = s->hts / s->pixelClock * 1e6;
        s->frameRate = s->vts ? 1e6 / (s->rowTimeUs * s->vts) : 0;
        s->lines = ((r[0x3500] & 0x0F) << 12) | (r[0x3501] << 4) | (r[0x3502] >> 4);
        s->analogueGain = (((r[0x3508] & 0x0F) << 8) | r[0x3509]) / 16.0;
        s->digitalGain = 1.0;
        s->vflip = (r[0x3820] & 0x10) != 0;
        s->hflip = (r[0x3820] & 0x08) != 0;
    }
};

} // namespace

std::shared_ptr<RegisterSensorModel> AttachOv5695(SensorWiring wiring) {
    wiring.address = 0x36;
    auto model = std::make_shared<Ov5695Model>(wiring);
    AttachSensorModel(model);
    return model;
}

} // namespace norva_sim
