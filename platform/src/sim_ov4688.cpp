// The simulated OV4688: a register file with software reset, register groups and the decoding of its timing, PLL,
// exposure, gain and flip registers.
#include <cstring>

#include "platform/sim_standalone_sensors.h"
#include "sim_board_internal.h"

namespace norva_sim {
namespace {

constexpr unsigned kBus = 0;
constexpr uint8_t kAddress = 0x36;
constexpr unsigned kPort = 1;
constexpr double kClockHz = 24e6;
const double kPllB[8] = {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 6.0, 8.0};
const double kPllC[8] = {1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0};

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

Ov4688Model::Ov4688Model() { reset(); }

void Ov4688Model::reset() {
    std::memset(regs_, 0, sizeof regs_);
    regs_[0x300A] = static_cast<uint8_t>(chipId_ >> 8);
    regs_[0x300B] = static_cast<uint8_t>(chipId_ & 0xFF);
    recording_ = -1;
    for (auto &g : groups_)
        g.clear();
}

void Ov4688Model::setChipId(uint16_t id) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    chipId_ = id;
    regs_[0x300A] = static_cast<uint8_t>(id >> 8);
    regs_[0x300B] = static_cast<uint8_t>(id & 0xFF);
}

uint8_t Ov4688Model::readRegister(uint16_t reg) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return regs_[reg];
}

void Ov4688Model::writeRegister(uint16_t reg, uint8_t value) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    if (reg != 0x3208 && recording_ >= 0) {
        groups_[recording_].emplace_back(reg, value);
        return;
    }
    apply(reg, value);
}

void Ov4688Model::apply(uint16_t reg, uint8_t value) {
    if (reg == 0x0103) {
        if (value & 1)
            reset();
        return;
    }
    if (reg == 0x300A || reg == 0x300B)
        return; // read-only identifier
    if (reg == 0x3208) {
        const unsigned group = value & 0x03;
        switch (value & 0xF0) {
        case 0x00:
            groups_[group].clear();
            recording_ = static_cast<int>(group);
            break;
        case 0x10:
            recording_ = -1;
            break;
        case 0xA0:
        case 0xE0:
            for (const auto &w : groups_[group])
                apply(w.first, w.second);
            groups_[group].clear();
            launches_++;
            break;
        default:
            break;
        }
    }
    regs_[reg] = value;
}

Ov4689State Ov4688Model::state() const {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Ov4689State s;
    s.powered = true;
    s.streaming = (regs_[0x0100] & 1) != 0;
    s.lanes = ((regs_[0x3018] >> 5) & 3) + 1;
    s.bitDepth = regs_[0x3031] & 0x1F;
    s.width = be16(regs_, 0x3808);
    s.height = be16(regs_, 0x380A);
    s.hts = be16(regs_, 0x380C);
    s.vts = be16(regs_, 0x380E);
    s.pll2Multiplier = be16(regs_, 0x030C);
    // PLL2: pre-divider, divider, 16-bit multiplier, two post-dividers.
    s.sclk = kClockHz / (regs_[0x0311] + 1) / kPllB[regs_[0x030B] & 7] * s.pll2Multiplier / (regs_[0x030F] + 1) /
             kPllC[regs_[0x030E] & 7];
    s.rowTimeUs = s.sclk > 0 ? s.hts / s.sclk * 1e6 : 0;
    s.frameRate = s.hts * s.vts > 0 ? s.sclk / (static_cast<double>(s.hts) * s.vts) : 0;
    s.lines = ((regs_[0x3500] & 0x0F) << 12) | (regs_[0x3501] << 4) | (regs_[0x3502] >> 4);
    s.exposureUs = s.lines * s.rowTimeUs;
    s.gainCode = static_cast<uint16_t>(be16(regs_, 0x3508));
    s.gain = gainOfCode(s.gainCode);
    s.vflip = (regs_[0x3820] & 0x06) != 0;
    s.hflip = (regs_[0x3821] & 0x06) != 0;
    s.groupLaunches = launches_;
    return s;
}

std::shared_ptr<Ov4688Model> AttachOv4688() {
    auto model = std::make_shared<Ov4688Model>();
    AttachI2cDevice(kBus, kAddress, model);
    PlugSensorFrames(model, kPort);
    return model;
}

} // namespace norva_sim
