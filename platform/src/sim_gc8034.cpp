// The simulated GC8034 and its lens actuator. The sensor: 1-byte register addresses in pages selected by 0xFE
// (0xF0-0xFF read the same on every page), identifier 0x8044 at 0xF0, streaming while page-0 0x3F has bit 7 set
// (bit 6: 4 lanes, else 2) and the MIPI PLL 0xF7 is set up for that many lanes (bit 3: 4 lanes as in 0x9D, clear:
// 2 lanes as in 0x95; with the other lane count a receiver cannot lock to the stream), frame timing on page 0 (line blanking 0x05/0x06, vertical blanking 0x07/0x08, window
// height 0x0D/0x0E and width 0x0F/0x10: a row is (blanking + width + 454) / 320 us at 24 MHz, a frame that many
// rows plus 36), the output window on page 0 (0x95-0x98), 10 bits when page-3 0x11 is 0x2B, exposure lines
// 0x03/0x04, the analogue level 0xB6 and the digital gain 0xB1/0xB2 (0x100 = x1), flips in page-0 0x17. Flips
// mirror single pixels, so the Bayer order follows them (RGGB unflipped). The lens actuator at 0x0C takes one
// 2-byte write: the 10-bit code in bits 4 to 13 of a big-endian word.
#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sim_lens.h"
#include "platform/sim_sensor_models.h"
#include "sim_paged_sensor.h"
#include "sim_board_internal.h"

namespace norva_sim {
namespace {

/** The analogue gain (x64) of each level of 0xB6. */
const uint16_t kLevelGain64[9] = {64, 88, 125, 173, 243, 345, 490, 684, 684};

class Gc8034Model : public PagedSensorModel {
public:
    explicit Gc8034Model(const SensorWiring &w) : PagedSensorModel(w) {
        pixelFlip_ = true;
        phaseX_ = 1;
        phaseY_ = 1;
        setFixed(0xF0, 0x80);
        setFixed(0xF1, 0x44);
    }

protected:
    bool streamOn() const override {
        const unsigned lanes = (paged_[0x3F] & 0x40) != 0 ? 4 : 2;
        const unsigned pllLanes = (regs_[0xF7] & 0x08) != 0 ? 4 : 2;
        return (paged_[0x3F] & 0x80) != 0 && lanes == pllLanes;
    }
    void store(uint16_t reg, uint8_t value) override {
        reg &= 0xFF;
        if (reg >= 0xF0) {
            if (reg != 0xF0 && reg != 0xF1) // the identifier is read-only
                regs_[reg] = value;
            return;
        }
        paged_[page() * 256 + reg] = value;
    }
    void decode(SimSensorState *s) const override {
        const uint8_t *p0 = &paged_[0];
        const uint8_t *p3 = &paged_[3 * 256];
        s->lanes = (p0[0x3F] & 0x40) != 0 ? 4 : 2;
        s->bitDepth = p3[0x11] == 0x2B ? 10 : 8;
        s->height = ((p0[0x95] & 0x0F) << 8) | p0[0x96];
        s->width = ((p0[0x97] & 0x0F) << 8) | p0[0x98];
        const unsigned blank = (p0[0x05] & 0x0Fu) * 256 + p0[0x06];
        const unsigned window = (p0[0x0F] & 0x0Fu) * 256 + (p0[0x10] & 0xF7u);
        const unsigned vblank = (p0[0x07] & 0x1Fu) * 256 + p0[0x08];
        const unsigned height = (p0[0x0D] & 0x0Fu) * 256 + p0[0x0E];
        s->hts = blank + window + 454;
        s->vts = vblank + height + 36;
        s->pixelClock = 320e6 * wiring().clockMHz / 24.0;
        s->rowTimeUs = s->hts / s->pixelClock * 1e6;
        s->frameRate = 1e6 / (s->rowTimeUs * s->vts);
        s->lines = ((p0[0x03] & 0x7F) << 8) | p0[0x04];
        s->analogueGain = kLevelGain64[p0[0xB6] < 9 ? p0[0xB6] : 8] / 64.0;
        s->digitalGain = ((p0[0xB1] << 8) | p0[0xB2]) / 256.0;
        s->hflip = (p0[0x17] & 1) != 0;
        s->vflip = (p0[0x17] & 2) != 0;
    }
};

} // namespace

uint16_t Gc8034Lens::code() const {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return code_;
}

unsigned Gc8034Lens::writes() const {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return writes_;
}

void Gc8034Lens::writeRegister(uint16_t reg, uint8_t value) {
    // A 2-byte write reaches a 1-byte-address device as (register, value): the code's high and low bits.
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    code_ = static_cast<uint16_t>(((reg & 0x3F) << 4) | (value >> 4));
    writes_++;
    if (port_ >= 0)
        MoveLens(static_cast<unsigned>(port_), code_);
}

std::shared_ptr<RegisterSensorModel> AttachGc8034(SensorWiring wiring) {
    wiring.address = 0x37;
    auto model = std::make_shared<Gc8034Model>(wiring);
    AttachSensorModel(model);
    return model;
}

std::shared_ptr<Gc8034Lens> AttachGc8034Lens(unsigned bus) {
    auto lens = std::make_shared<Gc8034Lens>();
    AttachI2cDevice(bus, 0x0C, lens);
    return lens;
}

} // namespace norva_sim
