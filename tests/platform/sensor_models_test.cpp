// Register models of simulated sensors, driven straight over their I2C bus: what they store, what a read returns and
// when they stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <string>
#include <vector>

#include "platform/sim_board.h"
#include "platform/sim_sensor_models.h"
#include "platform/sim_standalone_sensors.h"
#include "support/sim_fixture.h"

namespace {

constexpr unsigned long kI2cSlave = 0x0703ul;

/** An open bus addressed to one device; closed at the end of the scope. */
class Bus {
public:
    Bus(unsigned bus, uint8_t address) : fd_(SEAM_Open(("/dev/i2c-" + std::to_string(bus)).c_str(), O_RDWR, 0)) {
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(SEAM_Ioctl(fd_, kI2cSlave, reinterpret_cast<void *>(static_cast<uintptr_t>(address))), 0);
    }
    ~Bus() { SEAM_Close(fd_); }
    void write(const std::vector<uint8_t> &bytes) {
        EXPECT_EQ(SEAM_Write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::vector<uint8_t> read(size_t n) {
        std::vector<uint8_t> out(n);
        EXPECT_EQ(SEAM_Read(fd_, out.data(), n), static_cast<ssize_t>(n));
        return out;
    }

private:
    int fd_;
};

class SensorModels : public norva_test::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        norva_sim::SetVirtualClock(true);
    }
};

/** Powered for good: neither a power-down nor a reset line is wired. */
norva_sim::SensorWiring alwaysPowered() {
    norva_sim::SensorWiring w;
    w.pwdnLine = -1;
    w.resetLine = -1;
    w.clockMHz = 24.0;
    return w;
}

// The MIPI PLL (0xF7) must be set up for the lane count the output control (page-0 0x3F) streams on.
TEST_F(SensorModels, Gc8034StreamsOnlyWithThePllOfItsLaneCount) {
    struct Case {
        uint8_t pll, output;
        bool streaming;
        unsigned lanes;
    };
    const Case cases[] = {
        {0x9D, 0xD0, true, 4},  // four lanes, four-lane PLL
        {0x95, 0x91, true, 2},  // two lanes, two-lane PLL
        {0x9D, 0x91, false, 2}, // two lanes left on the four-lane PLL
        {0x95, 0xD0, false, 4}, // four lanes on the two-lane PLL
        {0x9D, 0x00, false, 2}, // streaming off
    };
    auto model = norva_sim::AttachGc8034(alwaysPowered());
    Bus bus(1, 0x37);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.pll) + "/" + std::to_string(c.output));
        bus.write({0xF7, c.pll});
        bus.write({0xFE, 0x03}); // the PLL is the same on every page; the output control is on page 0
        bus.write({0xFE, 0x00});
        bus.write({0x3F, c.output});
        const norva_sim::SimSensorState s = model->state();
        EXPECT_EQ(s.streaming, c.streaming);
        EXPECT_EQ(s.lanes, c.lanes);
    }
}

// A read starts at the register of the last write: the driver sets it up with the address and a zero value.
TEST_F(SensorModels, Ar330ReadsFromTheRegisterOfTheLastWrite) {
    auto model = norva_sim::AttachAr330();
    Bus bus(0, 0x10);
    struct Case {
        const char *what;
        std::vector<uint8_t> write;
        uint16_t value; /* the first two bytes read */
        uint16_t reg;   /* and what the register holds afterwards */
        uint16_t holds;
    };
    const Case cases[] = {
        {"revision, read-only", {0x30, 0xF0, 0x00, 0x00}, 0x1200, 0x30F0, 0x1200},
        {"test data takes the zero", {0x30, 0x72, 0x00, 0x00}, 0x0000, 0x3072, 0x0000},
        {"a written value reads back", {0x30, 0x12, 0x01, 0x65}, 0x0165, 0x3012, 0x0165},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        bus.write(c.write);
        const std::vector<uint8_t> got = bus.read(4);
        EXPECT_EQ((got[0] << 8) | got[1], c.value);
        EXPECT_EQ(model->value(c.reg), c.holds);
    }
}

TEST_F(SensorModels, Imx662ExtraExposureGainIsTwoAtPowerOn) {
    norva_sim::SensorWiring w = alwaysPowered();
    auto model = norva_sim::AttachImx662(w);
    Bus bus(w.bus, 0x1A);
    bus.write({0x30, 0x81});
    EXPECT_EQ(bus.read(1), std::vector<uint8_t>{0x02});
    bus.write({0x30, 0x81, 0x04});
    EXPECT_EQ(model->peek(0x3081), 0x04);
}

} // namespace
