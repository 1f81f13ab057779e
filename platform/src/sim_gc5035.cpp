// The simulated GC5035: 1-byte register addresses in pages selected by 0xFE (0xF0-0xFF read the same on every
// page), identifier 0x5035 at 0xF0, streaming started by page-0 0x3E and stopped by page-0 0x3F (bit 7 each), the
// output window on page 1, exposure lines (0x03/0x04), the analogue level (0xB6) and the digital gain
// (0xB1/0xB2, 0x400 = x1) on page 0, flips in page-0 0x17. Fixed timing: 2920 x 2000 at 8.33 us per row (24 MHz).
// Flips mirror single pixels, so the Bayer order follows them (RGGB unflipped).
#include <memory>
#include <vector>

#include "platform/sim_sensor_models.h"
#include "sim_paged_sensor.h"

namespace norva_sim {
namespace {

/** The analogue gain (x64) of each 0xB6 code that selects a level. */
const struct {
    uint8_t code;
    uint16_t gain64;
} kLevels[] = {{0, 64},   {1, 76},   {2, 90},   {3, 106},  {8, 126},  {9, 150},  {10, 179}, {11, 211}, {12, 250},
               {13, 301}, {14, 358}, {15, 427}, {16, 499}, {17, 589}, {18, 704}, {19, 830}, {20, 998}};

class Gc5035Model : public PagedSensorModel {
public:
    explicit Gc5035Model(const SensorWiring &w) : PagedSensorModel(w) {
        pixelFlip_ = true;
        phaseX_ = 1;
        phaseY_ = 1;
        setFixed(0xF0, 0x50);
        setFixed(0xF1, 0x35);
    }

protected:
    void reset() override {
        PagedSensorModel::reset();
        streaming_ = false;
    }
    bool streamOn() const override { return streaming_; }
    void store(uint16_t reg, uint8_t value) override {
        reg &= 0xFF;
        if (reg >= 0xF0) {
            if (reg == 0xFE)
                regs_[reg] = value;
            return; // the identifier and the other global registers are read-only here
        }
        paged_[page() * 256 + reg] = value;
        if (page() == 0 && (reg == 0x3E || reg == 0x3F))
            streaming_ = (value & 0x80) != 0;
    }
    void decode(SimSensorState *s) const override {
        const uint8_t *p0 = &paged_[0];
        const uint8_t *p1 = &paged_[256];
        s->lanes = 2;
        s->bitDepth = 10;
        s->height = ((p1[0x95] & 0x0F) << 8) | p1[0x96];
        s->width = ((p1[0x97] & 0x0F) << 8) | p1[0x98];
        s->hts = 2920;
        s->vts = 2000;
        s->rowTimeUs = 200.0 / wiring().clockMHz;
        s->frameRate = 1e6 / (s->rowTimeUs * s->vts);
        s->lines = ((p0[0x03] & 0x3F) << 8) | p0[0x04];
        s->analogueGain = 0;
        for (const auto &l : kLevels)
            if (l.code == p0[0xB6])
                s->analogueGain = l.gain64 / 64.0;
        s->digitalGain = ((p0[0xB1] << 8) | p0[0xB2]) / 1024.0;
        s->hflip = (p0[0x17] & 1) != 0;
        s->vflip = (p0[0x17] & 2) != 0;
    }

private:
    bool streaming_ = false;
};

} // namespace

std::shared_ptr<RegisterSensorModel> AttachGc5035(SensorWiring wiring) {
    wiring.address = 0x37;
    auto model = std::make_shared<Gc5035Model>(wiring);
    AttachSensorModel(model);
    return model;
}

} // namespace norva_sim
