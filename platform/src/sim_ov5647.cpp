// The simulated OV5647: identifier 0x5647 at 0x300A, software reset 0x0103, streaming through 0x0100, the PLL
// (control 0, 1, multiplier, control 3, SRB), lanes, output size, totals, exposure in sixteenths of a line, a
// 10-bit gain in sixteenths and the flip registers 0x3820/0x3821 (whole 2x2 cells, BGGR).
#include <memory>

#include "platform/sim_sensor_models.h"

namespace norva_sim {
namespace {

unsigned be16(const std::vector<uint8_t> &r, uint16_t reg) { return (r[reg] << 8) | r[reg + 1]; }

const unsigned kP[16] = {2, 2, 4, 6, 8, 3, 12, 5, 16, 2, 2, 2, 2, 2, 2, 2};
const unsigned kB[16] = {2, 2, 2, 2, 2, 2, 2, 2, 4, 2, 5, 2, 2, 2, 2, 2};
const unsigned kD[4] = {1, 2, 4, 1};

class Ov5647Model : public RegisterSensorModel {
public:
    explicit Ov5647Model(const SensorWiring &w) : RegisterSensorModel(w, 2) {
        setFixed(0x300A, 0x56);
        setFixed(0x300B, 0x47);
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
        s->lanes = r[0x3018] >> 5;
        s->bitDepth = r[0x3034] & 0x0F;
        s->width = be16(r, 0x3808);
        s->height = be16(r, 0x380A);
        s->hts = be16(r, 0x380C);
        s->vts = be16(r, 0x380E);
        const unsigned ctrl1 = r[0x3035] >> 4;
        const unsigned system = ctrl1 == 0 ? 16 : ctrl1;
        const unsigned root = (r[0x3037] & 0x10) ? 2 : 1;
        s->pixelClock = wiring().clockMHz * 1e6 * 2.0 / kP[r[0x3037] & 0x0F] * r[0x3036] * 2.0 / system / root /
                        kB[r[0x3034] & 0x0F] / kD[(r[0x3106] >> 2) & 3];
        s->rowTimeUs = s->pixelClock > 0 ? s->hts / s->pixelClock * 1e6 : 0;
        s->frameRate = s->rowTimeUs > 0 && s->vts ? 1e6 / (s->rowTimeUs * s->vts) : 0;
        s->lines = ((r[0x3500] & 0x0F) << 12) | (r[0x3501] << 4) | (r[0x3502] >> 4);
        s->analogueGain = (((r[0x350A] & 3) << 8) | r[0x350B]) / 16.0;
        s->digitalGain = 1.0;
        s->vflip = (r[0x3820] & 0x06) != 0;
        s->hflip = (r[0x3821] & 0x06) != 0;
    }
};

} // namespace

std::shared_ptr<RegisterSensorModel> AttachOv5647(SensorWiring wiring) {
    wiring.address = 0x36;
    auto model = std::make_shared<Ov5647Model>(wiring);
    AttachSensorModel(model);
    return model;
}

} // namespace norva_sim
