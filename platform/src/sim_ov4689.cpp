// The simulated OV4689: a register file with power, software reset, register groups and the decoding of its
// timing, exposure, gain and flip registers, written from the sensor's register descriptions.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/sim_sensor.h"
#include "sim_board_internal.h"

namespace norva_sim {
namespace {

const double kPllB[8] = {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 6.0, 8.0};
const double kPllC[8] = {1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0};

std::vector<std::weak_ptr<Ov4689Model>> &models() {
    static auto *m = new std::vector<std::weak_ptr<Ov4689Model>>();
    return *m;
}

void onGpio(unsigned /*chip*/, unsigned /*line*/, int /*level*/) {
    auto &list = models();
    for (auto it = list.begin(); it != list.end();) {
        if (auto model = it->lock()) {
            model->gpioChanged();
            ++it;
        } else {
            it = list.erase(it);
        }
    }
}

unsigned be16(const uint8_t *regs, uint16_t reg) { return (regs[reg] << 8) | regs[reg + 1]; }

/** The gain of a code: four octaves of 128 steps above the codes 0x080, 0x178, 0x374 and 0x778. */
double gainOfCode(unsigned code) {
    if (code < 0x178)
        return code / 128.0;
    if (code < 0x374)
        return 2.0 * (1.0 + (code - 0x178) / 128.0);
    if (code < 0x778)
        return 4.0 * (1.0 + (code - 0x374) / 128.0);
    return 8.0 * (1.0 + (code - 0x778) / 128.0);
}

} // namespace

Ov4689Model::Ov4689Model(const SensorWiring &wiring) : wiring_(wiring) { reset(); }

void Ov4689Model::reset() {
    std::memset(regs_, 0, sizeof regs_);
    regs_[0x300A] = 0x46;
    regs_[0x300B] = 0x88;
    recording_ = -1;
    for (auto &g : groups_)
        g.clear();
}

bool Ov4689Model::poweredNow() const { return WiringPowered(wiring_); }

void Ov4689Model::gpioChanged() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    const bool powered = poweredNow();
    if (!powered && wasPowered_)
        reset();
    wasPowered_ = powered;
}

bool Ov4689Model::answers() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return poweredNow();
}

uint8_t Ov4689Model::readRegister(uint16_t reg) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return regs_[reg];
}

void Ov4689Model::writeRegister(uint16_t reg, uint8_t value) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    if (reg != 0x3208 && recording_ >= 0) {
        groups_[recording_].emplace_back(reg, value);
        return;
    }
    apply(reg, value);
}

void Ov4689Model::apply(uint16_t reg, uint8_t value) {
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
            launches_++;
            break;
        default:
            break;
        }
        regs_[reg] = value;
        return;
    }
    regs_[reg] = value;
}

Ov4689State Ov4689Model::state() const {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Ov4689State s;
    s.powered = poweredNow();
    s.streaming = s.powered && (regs_[0x0100] & 1) != 0;
    s.lanes = ((regs_[0x3018] >> 5) & 3) + 1;
    s.bitDepth = regs_[0x3031] & 0x1F;
    s.width = be16(regs_, 0x3808);
    s.height = be16(regs_, 0x380A);
    s.hts = be16(regs_, 0x380C);
    s.vts = be16(regs_, 0x380E);
    s.pll1Multiplier = regs_[0x0302];
    s.pll2Multiplier = regs_[0x030D];
    // PLL2 drives the system clock: pre-divider, divider, multiplier, two post-dividers.
    const double clock = wiring_.clockMHz * 1e6;
    s.sclk = clock / (regs_[0x0311] + 1) / kPllB[regs_[0x030B] & 7] * regs_[0x030D] / (regs_[0x030F] + 1) /
             kPllC[regs_[0x030E] & 7];
    s.rowTimeUs = s.sclk > 0 ? s.hts / s.sclk * 1e6 : 0;
    s.frameRate = s.hts * s.vts > 0 ? s.sclk / (static_cast<double>(s.hts) * s.vts) : 0;
    s.lines = ((regs_[0x3500] & 0x0F) << 12) | (regs_[0x3501] << 4) | (regs_[0x3502] >> 4);
    s.exposureUs = s.lines * s.rowTimeUs;
    s.gainCode = static_cast<uint16_t>(be16(regs_, 0x3508));
    s.gain = gainOfCode(s.gainCode);
    s.vflip = (regs_[0x3820] & 0x06) != 0;
    s.hflip = (regs_[0x3821] & 0x06) == 0;
    s.testPattern = (regs_[0x5040] & 0x80) != 0;
    s.groupLaunches = launches_;
    return s;
}

SensorOutput CellFlippingOutput(const Ov4689State &s) {
    SensorOutput o;
    o.streaming = s.streaming;
    o.lanes = s.lanes;
    o.bitDepth = s.bitDepth;
    o.width = s.width;
    o.height = s.height;
    o.exposureUs = s.exposureUs;
    o.gain = s.gain;
    o.hflip = s.hflip;
    o.vflip = s.vflip;
    return o;
}

SensorOutput Ov4689Model::output() const { return CellFlippingOutput(state()); }

std::shared_ptr<Ov4689Model> AttachOv4689(const SensorWiring &wiring) {
    auto model = std::make_shared<Ov4689Model>(wiring);
    {
        std::lock_guard<std::recursive_mutex> guard(BoardMutex());
        models().push_back(model);
        AddGpioListener(onGpio);
        model->gpioChanged();
    }
    AttachI2cDevice(wiring.bus, wiring.address, model);
    PlugSensorFrames(model, wiring.port);
    return model;
}

} // namespace norva_sim
