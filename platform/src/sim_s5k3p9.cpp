// The simulated S5K3P9 and its focus actuator: 16-bit registers, power from the board's lines, standby flag in
// 0x0005, the decoding of size, lanes, line length, exposure rows, gain and orientation.
#include <cstring>
#include <vector>

#include "platform/sim_standalone_sensors.h"
#include "sim_board_internal.h"

namespace norva_sim {
namespace {

constexpr double kSclkMHz = 560.0;

std::vector<std::weak_ptr<S5k3p9Model>> &models() {
    static auto *m = new std::vector<std::weak_ptr<S5k3p9Model>>();
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

} // namespace

S5k3p9Model::S5k3p9Model(const SensorWiring &wiring) : wiring_(wiring) { reset(); }

void S5k3p9Model::reset() {
    std::memset(regs_, 0, sizeof regs_);
    regs_[0x0000] = static_cast<uint8_t>(chipId_ >> 8);
    regs_[0x0001] = static_cast<uint8_t>(chipId_ & 0xFF);
}

void S5k3p9Model::setChipId(uint16_t id) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    chipId_ = id;
    regs_[0x0000] = static_cast<uint8_t>(id >> 8);
    regs_[0x0001] = static_cast<uint8_t>(id & 0xFF);
}

bool S5k3p9Model::poweredNow() const { return WiringPowered(wiring_); }

void S5k3p9Model::gpioChanged() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    const bool powered = poweredNow();
    if (!powered && wasPowered_)
        reset();
    wasPowered_ = powered;
}

bool S5k3p9Model::answers() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return poweredNow();
}

uint8_t S5k3p9Model::readRegister(uint16_t reg) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    if (reg == 0x0005) // frame counter: 0xFF in standby
        return !neverStandby_ && (regs_[0x0100] & 1) == 0 ? 0xFF : 0x01;
    return regs_[reg];
}

void S5k3p9Model::writeRegister(uint16_t reg, uint8_t value) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    if (reg <= 0x0001)
        return; // read-only identifier
    if (reg == 0x6011 && (value & 1)) {
        reset();
        return;
    }
    regs_[reg] = value;
}

Ov4689State S5k3p9Model::state() const {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Ov4689State s;
    s.powered = poweredNow();
    s.streaming = s.powered && (regs_[0x0100] & 1) != 0;
    s.lanes = regs_[0x0114] + 1u;
    s.bitDepth = 10;
    s.width = be16(regs_, 0x034C);
    s.height = be16(regs_, 0x034E);
    s.hts = be16(regs_, 0x0342);
    s.vts = be16(regs_, 0x0340);
    s.sclk = kSclkMHz * 1e6;
    s.rowTimeUs = s.hts / kSclkMHz;
    s.frameRate = s.hts * s.vts > 0 ? s.sclk / (static_cast<double>(s.hts) * s.vts) : 0;
    s.lines = be16(regs_, 0x0202);
    s.exposureUs = s.lines * s.rowTimeUs;
    s.gainCode = static_cast<uint16_t>(be16(regs_, 0x0204));
    s.gain = s.gainCode / 32.0;
    s.hflip = (regs_[0x0101] & 1) != 0;
    s.vflip = (regs_[0x0101] & 2) != 0;
    return s;
}

SensorOutput S5k3p9Model::output() const {
    // The scene's BGGR read one row down is GRBG; single pixels mirror, so a flip moves the order.
    SensorOutput o = CellFlippingOutput(state());
    o.pixelFlip = true;
    o.phaseY = 1;
    return o;
}

std::shared_ptr<S5k3p9Model> AttachS5k3p9(const SensorWiring &wiring) {
    auto model = std::make_shared<S5k3p9Model>(wiring);
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

std::shared_ptr<S5k3p9Actuator> AttachS5k3p9Actuator(unsigned bus) {
    auto actuator = std::make_shared<S5k3p9Actuator>();
    AttachI2cDevice(bus, 0x0C, actuator);
    return actuator;
}

} // namespace norva_sim
