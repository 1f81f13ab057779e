// The simulated OV2718: identifier 0x2770 at 0x300A and the revision in 0x300D (0xE1 unless a test sets it),
// streaming through 0x3012, lanes from the enable bits of 0x31FE, the output mode of 0x3190 (bit 5: 10 bits, else
// 12), the PLL (0x3000 pre-divider, 0x3001 multiplier, 0x3002 post-divider), totals 0x30B0-0x30B3, output size
// 0x30AC-0x30AF, exposure lines 0x30B6/0x30B7, gain 0x315A/0x315B in 1/256 and the orientation of 0x30C0 (bit 3
// flipped, bit 2 clear mirrored). Flips move whole 2x2 cells (BGGR).
#include <memory>
#include <vector>

#include "platform/sim_sensor_models.h"

namespace norva_sim {
namespace {

unsigned be16(const std::vector<uint8_t> &r, uint16_t reg) { return (r[reg] << 8) | r[reg + 1]; }

const double kPreDivider[8] = {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 6.0, 8.0};

class Ov2718Model : public RegisterSensorModel {
public:
    explicit Ov2718Model(const SensorWiring &w) : RegisterSensorModel(w, 2) {
        setFixed(0x300A, 0x27);
        setFixed(0x300B, 0x70);
        setFixed(0x300D, 0xE1);
    }

protected:
    bool streamOn() const override { return (regs_[0x3012] & 1) != 0; }
    void decode(SimSensorState *s) const override {
        const std::vector<uint8_t> &r = regs_;
        s->lanes = 0;
        for (unsigned b = 0; b < 4; b++)
            s->lanes += (r[0x31FE] >> b) & 1u;
        s->bitDepth = (r[0x3190] & 0x20) != 0 ? 10 : 12;
        s->width = be16(r, 0x30AC);
        s->height = be16(r, 0x30AE);
        s->hts = be16(r, 0x30B0);
        s->vts = be16(r, 0x30B2);
        s->pixelClock = wiring().clockMHz * 1e6 * r[0x3001] / kPreDivider[r[0x3000] & 7] / (r[0x3002] + 1.0);
        s->rowTimeUs = s->pixelClock > 0 ? s->hts / s->pixelClock * 1e6 : 0;
        s->frameRate = s->rowTimeUs > 0 && s->vts ? 1e6 / (s->rowTimeUs * s->vts) : 0;
        s->lines = be16(r, 0x30B6);
        s->analogueGain = be16(r, 0x315A) / 256.0;
        s->digitalGain = 1.0;
        s->vflip = (r[0x30C0] & 0x08) != 0;
        s->hflip = (r[0x30C0] & 0x04) == 0;
    }
};

} // namespace

std::shared_ptr<RegisterSensorModel> AttachOv2718(SensorWiring wiring) {
    wiring.address = 0x36;
    auto model = std::make_shared<Ov2718Model>(wiring);
    AttachSensorModel(model);
    return model;
}

} // namespace norva_sim
