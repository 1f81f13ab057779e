#ifndef NORVA_SIM_PAGED_SENSOR_H
#define NORVA_SIM_PAGED_SENSOR_H

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/sim_sensor_models.h"

namespace norva_sim {

/**
 * A sensor model with 1-byte register addresses: 0xF0 to 0xFF are global (the same on every page, 0xFE selects the
 * page), the others lie in one of 32 pages of 256. Each model decides what its writes store.
 */
class PagedSensorModel : public RegisterSensorModel {
public:
    explicit PagedSensorModel(const SensorWiring &w) : RegisterSensorModel(w, 1), paged_(kPages * 256, 0) {}

protected:
    static constexpr unsigned kPages = 0x20;

    void reset() override {
        RegisterSensorModel::reset();
        std::fill(paged_.begin(), paged_.end(), 0);
    }
    uint8_t load(uint16_t reg) const override {
        reg &= 0xFF;
        if (reg >= 0xF0)
            return regs_[reg];
        return paged_[page() * 256 + reg];
    }
    unsigned page() const { return regs_[0xFE] % kPages; }

    std::vector<uint8_t> paged_;
};

} // namespace norva_sim

#endif
