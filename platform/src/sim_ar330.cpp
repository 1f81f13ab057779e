// The simulated AR330: 16-bit registers, reads that start at the register of the last write, streaming on 0x301A,
// and the decoding of window, timing, PLL, exposure rows, gain (analogue step times global gain) and read mode
// (flips).
#include <cstring>

#include "platform/sim_standalone_sensors.h"
#include "sim_board_internal.h"

namespace norva_sim {
namespace {

constexpr unsigned kBus = 0;
constexpr uint8_t kAddress = 0x10;
constexpr unsigned kPort = 2;
constexpr double kClockMHz = 24.0;

/** The analogue gain of a code of 0x3060 (low byte). */
double analogueGain(unsigned code) {
    static const struct {
        unsigned code;
        double gain;
    } kSteps[] = {{0x00, 1.00}, {0x01, 1.03}, {0x02, 1.07}, {0x03, 1.10}, {0x04, 1.14}, {0x05, 1.19},
                  {0x06, 1.23}, {0x07, 1.28}, {0x08, 1.33}, {0x09, 1.39}, {0x0A, 1.45}, {0x0B, 1.52},
                  {0x0C, 1.60}, {0x0D, 1.68}, {0x0E, 1.78}, {0x0F, 1.88}, {0x10, 2.00}, {0x12, 2.13},
                  {0x14, 2.29}, {0x16, 2.46}, {0x18, 2.67}, {0x1A, 2.91}, {0x1C, 3.20}, {0x1E, 3.56},
                  {0x20, 4.00}, {0x24, 4.57}, {0x28, 5.33}, {0x2C, 6.40}, {0x30, 8.00}};
    double gain = 1.0;
    for (const auto &s : kSteps)
        if (s.code <= code)
            gain = s.gain;
    return gain;
}

} // namespace

Ar330Model::Ar330Model() {
    std::memset(regs_, 0, sizeof regs_);
    poke(0x3000, 0x2604); // chip version
    poke(0x305E, 0x0080);
    poke(0x30F0, 0x1200); // chip revision
    poke(0x3072, 0x0007); // test data red
}

uint16_t Ar330Model::value(uint16_t reg) const {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return static_cast<uint16_t>((regs_[reg & 0xFFFE] << 8) | regs_[(reg & 0xFFFE) + 1]);
}

void Ar330Model::poke(uint16_t reg, uint16_t value) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    regs_[reg & 0xFFFE] = static_cast<uint8_t>(value >> 8);
    regs_[(reg & 0xFFFE) + 1] = static_cast<uint8_t>(value & 0xFF);
}

uint8_t Ar330Model::readRegister(uint16_t /*reg*/) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    // The sensor keeps its own read pointer: back to the register of a write, then on from byte to byte.
    if (readRestarts_) {
        readRestarts_ = false;
        cursor_ = lastWritten_;
    }
    return regs_[cursor_++];
}

void Ar330Model::writeRegister(uint16_t reg, uint8_t value) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    lastWritten_ = static_cast<uint16_t>(reg & 0xFFFE);
    readRestarts_ = true;
    const uint16_t word = lastWritten_;
    if (word == 0x3000 || word == 0x30F0) // chip version and revision
        return;
    regs_[reg] = value;
}

Ov4689State Ar330Model::state() const {
    Ov4689State s;
    s.powered = true;
    s.streaming = (value(0x301A) & 0x0004) != 0;
    s.lanes = 0;
    s.bitDepth = value(0x31AC) >> 8;
    const unsigned x0 = value(0x3004), x1 = value(0x3008), y0 = value(0x3002), y1 = value(0x3006);
    s.width = x1 >= x0 ? x1 + 1 - x0 : 0;
    s.height = y1 >= y0 ? y1 + 1 - y0 : 0;
    s.hts = value(0x300C);
    s.vts = value(0x300A);
    const unsigned pre = value(0x302E), mult = value(0x3030), sys = value(0x302C), pix = value(0x302A);
    const double rateMHz = pre && sys && pix ? kClockMHz / pre * mult / sys / pix : 0.0;
    s.sclk = rateMHz * 1e6;
    s.rowTimeUs = rateMHz > 0 ? s.hts / rateMHz : 0;
    s.frameRate = s.rowTimeUs * s.vts > 0 ? 1e6 / (s.rowTimeUs * s.vts) : 0;
    s.lines = value(0x3012);
    s.exposureUs = s.lines * s.rowTimeUs;
    s.gainCode = value(0x3060);
    s.gain = analogueGain(s.gainCode & 0xFF) * value(0x305E) / 128.0;
    s.hflip = (value(0x3040) & 0x4000) != 0;
    s.vflip = (value(0x3040) & 0x8000) != 0;
    return s;
}

std::shared_ptr<Ar330Model> AttachAr330() {
    auto model = std::make_shared<Ar330Model>();
    AttachI2cDevice(kBus, kAddress, model);
    PlugSensorFrames(model, kPort);
    return model;
}

} // namespace norva_sim
