// The simulated OV10823: identifier 0xA820 at 0x300A, software reset 0x0103, streaming through 0x0100, register
// groups (0x3208: record, end, launch), the PLL (0x308B pre-divider, 0x308D multiplier, 0x308F system
// pre-divider, 0x308E system divider), lanes (0x3012), bit depth (0x300F), output size, totals (the line counted
// per lane), exposure in sixteenths of a line, an 11-bit gain in sixteenths, and the flips of 0x3820/0x3821
// (bit 2 each; whole 2x2 cells, BGGR).
#include <memory>
#include <utility>
#include <vector>

#include "platform/sim_sensor_models.h"

namespace norva_sim {
namespace {

unsigned be16(const std::vector<uint8_t> &r, uint16_t reg) { return (r[reg] << 8) | r[reg + 1]; }

const double kPllB[8] = {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 6.0, 8.0};
const double kPllC[8] = {1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0};

class Ov10823Model : public RegisterSensorModel {
public:
    explicit Ov10823Model(const SensorWiring &w) : RegisterSensorModel(w, 2) {
        setFixed(0x300A, 0xA8);
        setFixed(0x300B, 0x20);
    }

protected:
    void reset() override {
        RegisterSensorModel::reset();
        recording_ = -1;
        for (auto &g : groups_)
            g.clear();
    }
    bool streamOn() const override { return (regs_[0x0100] & 1) != 0; }
    void store(uint16_t reg, uint8_t value) override {
        if (reg != 0x3208 && recording_ >= 0) {
            groups_[recording_].emplace_back(reg, value);
            return;
        }
        apply(reg, value);
    }
    void decode(SimSensorState *s) const override {
        const std::vector<uint8_t> &r = regs_;
        s->lanes = r[0x3012] >> 4;
        s->bitDepth = (r[0x300F] & 3) * 2 + 8;
        s->width = be16(r, 0x3808);
        s->height = be16(r, 0x380A);
        s->hts = be16(r, 0x380C);
        s->vts = be16(r, 0x380E);
        s->pixelClock =
            wiring().clockMHz * 1e6 / kPllB[r[0x308B] & 7] * r[0x308D] / (r[0x308F] + 1) / kPllC[r[0x308E] & 7];
        const unsigned line = s->lanes ? s->hts / s->lanes : s->hts;
        s->rowTimeUs = s->pixelClock > 0 ? line / s->pixelClock * 1e6 : 0;
        s->frameRate = s->rowTimeUs > 0 && s->vts ? 1e6 / (s->rowTimeUs * s->vts) : 0;
        s->lines = ((r[0x3500] & 0x0F) << 12) | (r[0x3501] << 4) | (r[0x3502] >> 4);
        s->analogueGain = (((r[0x350A] & 7) << 8) | r[0x350B]) / 16.0;
        s->digitalGain = 1.0;
        s->vflip = (r[0x3820] & 0x04) != 0;
        s->hflip = (r[0x3821] & 0x04) != 0;
    }

private:
    void apply(uint16_t reg, uint8_t value) {
        if (reg == 0x0103) {
            if (value & 1)
                reset();
            return;
        }
        if (reg == 0x3208) {
            const unsigned group = value & 0x03;
            switch (value & 0xF0) {
            case 0x00: // start recording the group
                groups_[group].clear();
                recording_ = static_cast<int>(group);
                break;
            case 0x10: // end recording
                recording_ = -1;
                break;
            case 0xA0: // quick launch
            case 0xE0: // delayed launch
                for (const auto &w : groups_[group])
                    apply(w.first, w.second);
                groups_[group].clear();
                break;
            default:
                break;
            }
        }
        regs_[reg] = value;
    }
    int recording_ = -1;
    std::vector<std::pair<uint16_t, uint8_t>> groups_[4];
};

} // namespace

std::shared_ptr<RegisterSensorModel> AttachOv10823(SensorWiring wiring) {
    wiring.address = 0x10;
    auto model = std::make_shared<Ov10823Model>(wiring);
    AttachSensorModel(model);
    return model;
}

} // namespace norva_sim
