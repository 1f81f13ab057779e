// The driver framework's register layer and generic operations on the simulated board.

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "platform/sim_board.h"
#include "platform/sim_sensor.h"
#include "sensorapi/sensor_common.h"
#include "support/board_fixture.h"

namespace {

class SensorFramework : public norva_test::BoardTest {};

TEST_F(SensorFramework, RegisterArrays) {
    auto wide = std::make_shared<norva_sim::I2cRegisterDevice>(2);
    auto narrow = std::make_shared<norva_sim::I2cRegisterDevice>(1);
    norva_sim::AttachI2cDevice(1, 0x36, wide);
    norva_sim::AttachI2cDevice(1, 0x37, narrow);
    const int fd = SEAM_Open("/dev/i2c-1", O_RDWR, 0);
    ASSERT_GE(fd, 0);
    const sensor_i2c_dev wideDev{fd, 0x36, 0x36, 2};
    const sensor_i2c_dev narrowDev{fd, 0x37, 0x37, 1};

    struct Case {
        const char *name;
        sensor_i2c_dev dev;
        std::vector<QOR_UINT8> data;
        QOR_RESULT result;
        std::vector<std::string> events; /* board events of the call */
    };
    const std::vector<Case> cases = {
        {"not whole entries", wideDev, {0x30, 0x00, 0x01, 0x30}, 11, {}},
        {"delay entry on a 2-byte bus",
         wideDev,
         {0x30, 0x00, 0x01, 0xFE, 0x0A, 0x77, 0x30, 0x01, 0x02},
         0,
         {"I2C_SLAVE 0x36", "write 30 00 01", "sleep 10000", "write 30 01 02"}},
        {"0xFE is a register on a 1-byte bus",
         narrowDev,
         {0xFE, 0x00, 0x10, 0x05},
         0,
         {"I2C_SLAVE 0x37", "write fe 00", "write 10 05"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        norva_sim::ClearBoardEvents();
        EXPECT_EQ(sensor_i2c_write8(c.dev, c.data.data(), static_cast<unsigned>(c.data.size())), c.result);
        EXPECT_EQ(norva_sim::BoardEvents(), c.events);
    }
    EXPECT_EQ(wide->readRegister(0x3001), 0x02);
    EXPECT_EQ(narrow->readRegister(0x10), 0x05);

    QOR_UINT16 v16 = 0;
    QOR_UINT8 v8 = 0;
    EXPECT_EQ(sensor_i2c_read16(wideDev, 0x3000, &v16), QOR_RES_OK);
    EXPECT_EQ(v16, 0x0102);
    EXPECT_EQ(sensor_i2c_read8(narrowDev, 0x10, &v8), QOR_RES_OK);
    EXPECT_EQ(v8, 0x05);
    // Bus failures are reported: a failed address set-up or short write is 24, a short read 3.
    norva_sim::InjectI2cFault(1, norva_sim::I2cFault::FailIoctl);
    const QOR_UINT8 one[] = {0x30, 0x05, 0x01};
    EXPECT_EQ(sensor_i2c_write8(wideDev, one, 3), QOR_RES_IO_FAILED);
    norva_sim::InjectI2cFault(1, norva_sim::I2cFault::ShortWrite);
    const QOR_UINT8 two[] = {0x30, 0x05, 0x01, 0x30, 0x06, 0x02};
    EXPECT_EQ(sensor_i2c_write8(wideDev, two, 6), QOR_RES_IO_FAILED);
    EXPECT_EQ(wide->readRegister(0x3006), 0x00) << "nothing after the failed entry";
    norva_sim::InjectI2cFault(1, norva_sim::I2cFault::ShortRead);
    EXPECT_EQ(sensor_i2c_read16(wideDev, 0x3000, &v16), QOR_RES_FAILED);
    norva_sim::InjectI2cFault(1, norva_sim::I2cFault::FailIoctl);
    EXPECT_EQ(sensor_i2c_read8(wideDev, 0x3000, &v8), QOR_RES_IO_FAILED);
    EXPECT_EQ(SEAM_Close(fd), 0);
}

TEST_F(SensorFramework, TablesAndModeChecks) {
    static const QOR_UINT8 empty[] = {0xFF, 0xFF, 0xFF};
    static const QOR_UINT8 two[] = {0x01, 0x00, 0x01, 0x02, 0x00, 0x02, 0xFF, 0xFF, 0xFF};
    sensor_mode descriptors[] = {{0, empty, 0, 3, 0, 0, 0}, {0, two, 0, 3, 0, 0, 0}};
    unsigned n = 99;
    EXPECT_EQ(SensorModeGetRegisters(descriptors, 2, 0, &n), empty);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(SensorModeGetRegisters(descriptors, 2, 1, &n), two);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(descriptors[1].nRegisters, 2u) << "the count is cached";
    n = 99;
    EXPECT_EQ(SensorModeGetRegisters(descriptors, 2, 2, &n), nullptr);
    EXPECT_EQ(n, 99u);

    CAM_STRUCT cam;
    std::memset(&cam, 0, sizeof cam);
    static const QOR_UINT8 numModes[] = {4};
    cam.pConfigs = descriptors;
    cam.uiConfigsSize = 1;
    cam.pNumModes = numModes;
    cam.uiNumModesSize = 1;
    const std::string log = norva_test::logOf([&] {
        EXPECT_EQ(CamCheckMode(&cam, 0x03), QOR_RES_OK);
        EXPECT_EQ(CamCheckMode(&cam, 0x04), QOR_RES_NOT_SUPPORTED);
        EXPECT_EQ(CamCheckMode(&cam, 0x14), QOR_RES_NOT_SUPPORTED);
    });
    EXPECT_TRUE(norva_test::contains(log, "Mode 4 not supported\n")) << log;
    EXPECT_TRUE(norva_test::contains(log, "Mode 20 not supported\n")) << log;

    EXPECT_EQ(DiffBytesCount(0x00000000, 0x00000000, 0xFFFFFFFF), 0);
    EXPECT_EQ(DiffBytesCount(0x00000100, 0x00000001, 0xFFFFFFFF), 2);
    EXPECT_EQ(DiffBytesCount(0x12345678, 0x87654321, 0x0000FF00), 1);
    EXPECT_EQ(DiffBytesCount(0x00000000, 0xFFFFFFFF, 0xFFFFFFFF), 4);
}

// With no reset line the whole reset step is skipped, the power-down pulse included: the line stays at its
// initial (power-down) level and the sensor never answers.
TEST_F(SensorFramework, NoResetLineKeepsThePowerDownLevel) {
    norva_test::BoardWiring board;
    board.slots[0].resetLine = -1;
    WriteBoard(board);
    norva_sim::SensorWiring w;
    w.resetLine = -1;
    auto model = norva_sim::AttachOv4689(w);
    norva_sim::ClearBoardEvents();
    SENSOR_HANDLE h = nullptr;
    EXPECT_EQ(Sensor_Initialise(3, &h), QOR_RES_DEVICE_FAILED);
    const std::vector<std::string> expected = {"open /dev/sensor_phy0",
                                               "open gpiochip0",
                                               "open gpiochip0",
                                               "request 11 out \"Sensor\" =0",
                                               "sleep 1000",
                                               "sleep 100000",
                                               "open /dev/i2c-1",
                                               "I2C_SLAVE 0x36",
                                               "write 30 0a NACK",
                                               "read 2 NACK",
                                               "close /dev/i2c-1",
                                               "close gpiochip0",
                                               "close gpiochip0",
                                               "close /dev/sensor_phy0"};
    EXPECT_EQ(norva_sim::BoardEvents(), expected);

    // Without a pulse the line goes straight to its active level.
    board.pwdnPulse = 0;
    WriteBoard(board);
    ASSERT_EQ(Sensor_Initialise(3, &h), QOR_RES_OK);
    EXPECT_TRUE(model->state().powered);
    SENSOR_MODE m{};
    ASSERT_EQ(Sensor_SetMode(h, 0x00, 0), QOR_RES_OK);
    ASSERT_EQ(Sensor_GetMode(h, 0x00, &m), QOR_RES_OK);
    QOR_UINT32 exposure = 0;
    ASSERT_EQ(Sensor_GetExposure(h, &exposure, 0), QOR_RES_OK);
    EXPECT_EQ(exposure, 302u * m.ui32ExposureMin);
    double gain = 0;
    EXPECT_EQ(Sensor_GetExposure(h, &exposure, 5), QOR_RES_NOT_SUPPORTED);
    EXPECT_EQ(Sensor_GetCurrentGain(h, &gain, 5), QOR_RES_NOT_SUPPORTED);
    double lo = 0, hi = 0;
    QOR_UINT8 contexts = 9;
    EXPECT_EQ(Sensor_GetGainRange(h, &lo, &hi, &contexts), QOR_RES_OK);
    EXPECT_EQ(contexts, 0);
    ASSERT_EQ(Sensor_Destroy(h), QOR_RES_OK);
    EXPECT_EQ(norva_sim::GpioLevel(0, 11), 1) << "Destroy closes the chips without driving the lines";
    EXPECT_TRUE(model->state().powered);
}

TEST_F(SensorFramework, DestroyStopsAStreamingSensor) {
    WriteBoard(norva_test::BoardWiring{});
    auto model = norva_sim::AttachOv4689(norva_sim::SensorWiring{});
    SENSOR_HANDLE h = nullptr;
    CI_CONNECTION *conn = nullptr;
    ASSERT_EQ(Sensor_Initialise(3, &h), QOR_RES_OK);
    ASSERT_EQ(CI_DriverInit(&conn), QOR_RES_OK);
    ASSERT_EQ(Sensor_SetPhyConnection(h, conn), QOR_RES_OK);
    ASSERT_EQ(Sensor_SetMode(h, 0x12, 0), QOR_RES_OK);
    ASSERT_EQ(Sensor_Enable(h), QOR_RES_OK);
    EXPECT_TRUE(model->state().streaming);
    ASSERT_EQ(Sensor_Destroy(h), QOR_RES_OK);
    EXPECT_FALSE(norva_sim::GetPhyState(0).enabled);
    EXPECT_FALSE(model->state().streaming);
    EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
}

} // namespace

namespace {

// A board value other than 0 and 1 for the power-down line's active level: the initial (power-down) level of a
// pulse is its logical inverse, low, never a bitwise inverse that would read as high.
TEST_F(SensorFramework, PowerDownPulseStartsLowForAnyActiveValue) {
    norva_test::BoardWiring board;
    board.pwdnValue = 2;
    WriteBoard(board);
    auto model = norva_sim::AttachOv4689(norva_sim::SensorWiring{});
    norva_sim::ClearBoardEvents();
    SENSOR_HANDLE h = nullptr;
    ASSERT_EQ(Sensor_Initialise(3, &h), QOR_RES_OK);
    const std::vector<std::string> ev = norva_sim::BoardEvents();
    ASSERT_GE(ev.size(), 4u);
    EXPECT_EQ(ev[3], "request 11 out \"Sensor\" =0");
    EXPECT_TRUE(model->state().powered);
    EXPECT_EQ(norva_sim::GpioLevel(0, 11), 1) << "the pulse ends at the active level";
    ASSERT_EQ(Sensor_Destroy(h), QOR_RES_OK);
}

} // namespace
