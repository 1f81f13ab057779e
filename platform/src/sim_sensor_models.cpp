// The common body of the register models of the simulated sensors: power from the board's GPIO lines, a register
// file that forgets on power loss, and the frame output derived from each model's decoding.
#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sim_sensor_models.h"
#include "sim_board_internal.h"

namespace norva_sim {
namespace {

std::vector<std::weak_ptr<RegisterSensorModel>> &models() {
    static auto *m = new std::vector<std::weak_ptr<RegisterSensorModel>>();
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

} // namespace

RegisterSensorModel::RegisterSensorModel(const SensorWiring &wiring, unsigned addressWidth)
    : regs_(addressWidth == 1 ? 256 : 65536, 0), wiring_(wiring), addressWidth_(addressWidth) {}

void RegisterSensorModel::reset() {
    std::fill(regs_.begin(), regs_.end(), 0);
    for (const auto &f : fixed_)
        regs_[f.first] = f.second;
}

void RegisterSensorModel::setFixed(uint16_t reg, uint8_t value) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    fixed_.emplace_back(reg, value);
    regs_[reg % regs_.size()] = value;
}

bool RegisterSensorModel::poweredNow() const { return WiringPowered(wiring_); }

void RegisterSensorModel::gpioChanged() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    const bool powered = poweredNow();
    if (!powered && wasPowered_)
        reset();
    wasPowered_ = powered;
}

bool RegisterSensorModel::answers() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return poweredNow();
}

uint8_t RegisterSensorModel::readRegister(uint16_t reg) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return load(reg);
}

void RegisterSensorModel::writeRegister(uint16_t reg, uint8_t value) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    store(static_cast<uint16_t>(reg % regs_.size()), value);
}

SimSensorState RegisterSensorModel::state() const {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    SimSensorState s;
    s.powered = poweredNow();
    s.streaming = s.powered && streamOn();
    decode(&s);
    s.exposureUs = s.lines * s.rowTimeUs;
    s.gain = s.analogueGain * s.digitalGain;
    return s;
}

SensorOutput RegisterSensorModel::output() const {
    const SimSensorState s = state();
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
    o.pixelFlip = pixelFlip_;
    o.phaseX = phaseX_;
    o.phaseY = phaseY_;
    return o;
}

void AttachSensorModel(const std::shared_ptr<RegisterSensorModel> &model) {
    {
        std::lock_guard<std::recursive_mutex> guard(BoardMutex());
        models().push_back(model);
        AddGpioListener(onGpio);
        model->gpioChanged();
    }
    AttachI2cDevice(model->wiring().bus, model->wiring().address, model);
    PlugSensorFrames(model, model->wiring().port);
}

} // namespace norva_sim
