// The stand-alone S5K3P9 driver and its focus actuator against the simulated board.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "platform/sim_board.h"
#include "platform/sim_standalone_sensors.h"
#include "sensorapi/sensorapi.h"
#include "sensors/s5k3p9.h"
#include "support/board_fixture.h"

namespace {

using norva_test::contains;
using norva_test::HexOf;
using norva_test::logOf;

constexpr QOR_UINT16 kS5k3p9 = 15;

/** The writes to one slave address since the log was cleared. */
std::vector<std::string> writesTo(uint8_t address) {
    std::vector<std::string> out;
    for (const norva_sim::I2cTransaction &t : norva_sim::I2cLog())
        if (t.kind == 'w' && t.address == address && t.ok)
            out.push_back(HexOf(t.bytes));
    return out;
}

class S5k3p9 : public norva_test::BoardTest {
public:
    void SetUp() override {
        BoardTest::SetUp();
        Wire("24.0");
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            EXPECT_EQ(Sensor_Destroy(handle_), QOR_RES_OK);
        }
        handle_ = nullptr;
        if (conn_ != nullptr) {
            EXPECT_EQ(CI_DriverFinalise(conn_), QOR_RES_OK);
        }
        EXPECT_EQ(norva_sim::GpioOpenChips(), 0);
        EXPECT_EQ(norva_sim::I2cOpenDescriptors(), 0);
        EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
        BoardTest::TearDown();
    }
    void Wire(const std::string &clockMHz) {
        board_.clockMHz = clockMHz;
        WriteBoard(board_);
        norva_sim::SensorWiring w;
        w.address = 0x2D;
        w.port = 0;
        model_ = norva_sim::AttachS5k3p9(w);
        actuator_ = norva_sim::AttachS5k3p9Actuator(w.bus);
    }
    void Create() {
        ASSERT_EQ(Sensor_Initialise(kS5k3p9, &handle_), QOR_RES_OK);
        ASSERT_EQ(CI_DriverInit(&conn_), QOR_RES_OK);
        ASSERT_EQ(Sensor_SetPhyConnection(handle_, conn_), QOR_RES_OK);
    }

    norva_test::BoardWiring board_;
    std::shared_ptr<norva_sim::S5k3p9Model> model_;
    std::shared_ptr<norva_sim::S5k3p9Actuator> actuator_;
    SENSOR_HANDLE handle_ = nullptr;
    CI_CONNECTION *conn_ = nullptr;
};

TEST_F(S5k3p9, CreationRunsThePowerSequence) {
    norva_sim::ClearBoardEvents();
    Create();
    const std::vector<std::string> bringUp = {"open /dev/sensor_phy0",
                                              "open gpiochip0",
                                              "open gpiochip0",
                                              "request 11 out \"Sensor\" =0",
                                              "sleep 1000",
                                              "request 10 out \"Sensor\" =1",
                                              "set 10=0",
                                              "sleep 1000",
                                              "set 11=1",
                                              "set 10=1",
                                              "sleep 100000",
                                              "open /dev/i2c-1",
                                              "I2C_SLAVE 0x2d",
                                              "write 00 00",
                                              "read 2"};
    EXPECT_EQ(norva_sim::BoardEvents(), bringUp);
    EXPECT_TRUE(model_->state().powered);
    SENSOR_INFO info;
    ASSERT_EQ(Sensor_GetInfo(handle_, &info), QOR_RES_OK);
    EXPECT_STREQ(info.pszSensorName, "S5K3P9");
    EXPECT_STREQ(info.pszSensorVersion, "0x3109");
    EXPECT_EQ(info.eBayerOriginal, MOSAIC_GRBG);
    EXPECT_EQ(info.ui8NumConfig, 1);
    EXPECT_EQ(info.pNumModes[0], 7);
}

// Destroying the sensor closes its GPIO chips without driving the power-down or reset line: the lines keep
// their levels and the sensor its power, as with every driver of the board.
TEST_F(S5k3p9, DestroyClosesTheChipsWithoutDrivingTheLines) {
    Create();
    ASSERT_EQ(CI_DriverFinalise(conn_), QOR_RES_OK);
    conn_ = nullptr;
    norva_sim::ClearBoardEvents();
    ASSERT_EQ(Sensor_Destroy(handle_), QOR_RES_OK);
    handle_ = nullptr;
    const std::vector<std::string> destroy = {"close gpiochip0", "close gpiochip0", "close /dev/sensor_phy0",
                                              "close /dev/i2c-1"};
    EXPECT_EQ(norva_sim::BoardEvents(), destroy);
    EXPECT_EQ(norva_sim::GpioLevel(0, 11), 1);
    EXPECT_EQ(norva_sim::GpioLevel(0, 10), 1);
    EXPECT_TRUE(model_->state().powered);
}

TEST_F(S5k3p9, FailedCreationReleasesEverything) {
    struct Case {
        const char *name;
        std::function<void(S5k3p9 &)> arrange;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"board file missing", [](S5k3p9 &t) { t.WriteHomeBoard("# empty\n"); }, ""},
        {"wrong identifier", [](S5k3p9 &t) { t.model_->setChipId(0x3108); },
         "Failed to ensure that the i2c device has a compatible S5K3P9 sensor! ret=0 chip_version=0x3108 (expect "
         "chip 0x3109)\n"},
        {"identifier read", [](S5k3p9 &) { norva_sim::InjectI2cFault(1, norva_sim::I2cFault::ShortRead); },
         "Failed to read the i2c device, ret=3 \n"},
        {"slave address", [](S5k3p9 &) { norva_sim::InjectI2cFault(1, norva_sim::I2cFault::FailIoctl); },
         "Failed to write I2C slave read address!\n"},
        {"PWDN chip", [](S5k3p9 &) { norva_sim::SetGpioChipAbsent(0, true); }, "PWDN GPIO controller not found!\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        norva_sim::ResetBoard();
        UseBoardIspDescription();
        board_ = norva_test::BoardWiring{};
        Wire("24.0");
        c.arrange(*this);
        SENSOR_HANDLE h = reinterpret_cast<SENSOR_HANDLE>(&h);
        QOR_RESULT r = QOR_RES_OK;
        const std::string log = logOf([&] { r = Sensor_Initialise(kS5k3p9, &h); });
        EXPECT_EQ(r, QOR_RES_DEVICE_FAILED);
        EXPECT_EQ(h, nullptr);
        EXPECT_TRUE(contains(log, c.message)) << log;
        EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
        EXPECT_EQ(norva_sim::I2cOpenDescriptors(), 0);
        EXPECT_EQ(norva_sim::GpioOpenChips(), 0);
        EXPECT_FALSE(model_->state().powered);
    }
}

TEST_F(S5k3p9, ModeFigures) {
    struct Row {
        unsigned width, height, line, frame, expMin, expMax;
        double fps;
        unsigned hsFreq;
    };
    const Row rows[] = {
        {4640, 3488, 5088, 3668, 64, 33253, 30.006, 12}, {4096, 3488, 5088, 3668, 64, 33253, 30.006, 12},
        {3840, 2160, 5088, 3668, 64, 33253, 30.006, 12}, {2320, 1744, 8496, 2196, 107, 33195, 30.015, 44},
        {1920, 1080, 5088, 1833, 64, 16581, 60.045, 12}, {720, 1600, 5088, 1833, 64, 16581, 60.045, 12},
        {1280, 720, 5088, 917, 64, 8258, 120.025, 26},
    };
    for (const std::string clock : {"24.0", "25.0"}) {
        SCOPED_TRACE(clock);
        if (handle_ != nullptr) {
            ASSERT_EQ(Sensor_Destroy(handle_), QOR_RES_OK);
        }
        handle_ = nullptr;
        board_.clockMHz = clock;
        WriteBoard(board_);
        ASSERT_EQ(Sensor_Initialise(kS5k3p9, &handle_), QOR_RES_OK);
        for (QOR_UINT16 m = 0; m < 7; m++) {
            SCOPED_TRACE(m);
            SENSOR_MODE mode{};
            ASSERT_EQ(Sensor_GetMode(handle_, m, &mode), QOR_RES_OK);
            const Row &r = rows[m];
            EXPECT_EQ(mode.ui16Width, r.width);
            EXPECT_EQ(mode.ui16Height, r.height);
            EXPECT_EQ(mode.ui16HorizontalTotal, r.line);
            EXPECT_EQ(mode.ui16VerticalTotal, r.frame);
            EXPECT_NEAR(mode.flTrow, r.line / 560.0, 1e-9);
            EXPECT_EQ(mode.ui32ExposureMin, r.expMin);
            EXPECT_EQ(mode.ui32ExposureMax, r.expMax);
            EXPECT_NEAR(mode.flFrameRate, r.fps, 0.0005);
            EXPECT_EQ(mode.ui8MipiHsFreqRange, r.hsFreq);
            EXPECT_EQ(mode.ui8MipiLanes, 4);
            EXPECT_EQ(mode.ui8BitDepth, 10);
            EXPECT_EQ(mode.bValidFrequency, clock == "24.0" ? QOR_TRUE : QOR_FALSE);
        }
    }
}

TEST_F(S5k3p9, FocusCodes) {
    const QOR_UINT16 dist[] = {50, 70, 100, 300, 1500};
    const QOR_UINT16 codes[] = {1023, 800, 600, 384, 288};
    const std::pair<QOR_UINT16, QOR_UINT16> cases[] = {{10, 1023}, {50, 1023}, {60, 892},
                                                       {100, 600}, {200, 438}, {2000, 288}};
    for (const auto &c : cases)
        EXPECT_EQ(S5K3P9_CalculateFocus(dist, codes, 5, c.first), c.second) << c.first;

    Create();
    norva_sim::ClearI2cLog();
    ASSERT_EQ(Sensor_SetFocus(handle_, 100), QOR_RES_OK);
    const std::vector<std::string> expected = {"03 02", "04 58"};
    EXPECT_EQ(writesTo(0x0C), expected);
    EXPECT_EQ(actuator_->code(), 600u);
}

TEST_F(S5k3p9, ExposureAndGainBytes) {
    Create();
    struct Case {
        QOR_UINT16 mode;
        QOR_UINT32 exposure;
        double gain;
        unsigned coarse, code;
    };
    const Case cases[] = {{0, 10000, 2.0, 1101, 0x0040}, {6, 5000, 3.3, 550, 0x006A}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.exposure);
        ASSERT_EQ(Sensor_SetMode(handle_, c.mode, 0), QOR_RES_OK);
        ASSERT_EQ(Sensor_SetExposureGain(handle_, c.exposure, c.gain, 0), QOR_RES_OK);
        const norva_sim::Ov4689State s = model_->state();
        EXPECT_EQ(s.lines, c.coarse);
        EXPECT_EQ(s.gainCode, c.code);
    }
}

TEST_F(S5k3p9, EnableAndDisable) {
    Create();
    ASSERT_EQ(Sensor_SetMode(handle_, 6, SENSOR_FLIP_BOTH), QOR_RES_OK);
    norva_sim::ClearI2cLog();
    std::string log = logOf([&] { ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK); });
    EXPECT_TRUE(contains(log, "Enabling S5K3P9 Camera!\n")) << log;
    const std::vector<std::string> w = writesTo(0x2D);
    // The identifier's address, the initialisation list (one pair a pause), the standby poll, the mode, the
    // orientation byte.
    ASSERT_EQ(w.size(), 1u + 1527u + 1u + 73u + 1u);
    EXPECT_EQ(w[0], "00 00");
    EXPECT_EQ(w[1], "60 28 40 00");
    EXPECT_EQ(w[2], "60 10 00 01");
    EXPECT_EQ(w[1527], "01 00 00 00");
    EXPECT_EQ(w[1528], "00 05");
    EXPECT_EQ(w[1529], "01 14 03 00");
    EXPECT_EQ(w[w.size() - 2], "01 00 01 00");
    EXPECT_EQ(w.back(), "01 01 03");
    // The start-up writes, then the focus after a mode change (600: code 324).
    const std::vector<std::string> focus = {"02 02", "06 61", "07 39", "03 01", "04 44"};
    EXPECT_EQ(writesTo(0x0C), focus);
    EXPECT_TRUE(actuator_->started());
    const norva_sim::Ov4689State s = model_->state();
    EXPECT_TRUE(s.streaming);
    EXPECT_TRUE(s.hflip);
    EXPECT_TRUE(s.vflip);
    EXPECT_EQ(s.width, 1280u);
    EXPECT_EQ(s.lanes, 4u);
    EXPECT_TRUE(norva_sim::GetPhyState(0).enabled);

    norva_sim::ClearI2cLog();
    log = logOf([&] { ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK); });
    EXPECT_TRUE(contains(log, "Disabling S5K3P9 camera\n")) << log;
    EXPECT_EQ(writesTo(0x2D).front(), "01 00 00 00");
    EXPECT_FALSE(model_->state().streaming);
    EXPECT_FALSE(norva_sim::GetPhyState(0).enabled);
}

TEST_F(S5k3p9, BadInput) {
    Create();
    SENSOR_MODE m{};
    logOf([&] {
        EXPECT_EQ(Sensor_SetMode(handle_, 7, 0), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(Sensor_GetMode(handle_, 7, &m), QOR_RES_NOT_SUPPORTED);
    });
    ASSERT_EQ(Sensor_SetMode(handle_, 0, 0), QOR_RES_OK);

    // Never in standby: five polls, 17, and nothing left running.
    model_->setNeverStandby(true);
    norva_sim::ClearI2cLog();
    QOR_RESULT r = QOR_RES_OK;
    std::string log = logOf([&] { r = Sensor_Enable(handle_); });
    EXPECT_EQ(r, QOR_RES_NOT_INITIALISED);
    EXPECT_TRUE(contains(log, "stream off error\n")) << log;
    unsigned polls = 0;
    for (const norva_sim::I2cTransaction &t : norva_sim::I2cLog())
        polls += t.kind == 'w' && t.bytes == std::vector<uint8_t>{0x00, 0x05};
    EXPECT_EQ(polls, 5u);
    EXPECT_FALSE(norva_sim::GetPhyState(0).enabled);
    SENSOR_STATUS st{};
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.eState, SENSOR_STATE_IDLE);
    model_->setNeverStandby(false);

    // A write the sensor does not take: a clear code, the PHY off and the port free for the next try.
    norva_sim::InjectI2cFault(1, norva_sim::I2cFault::ShortWrite, 40);
    log = logOf([&] { r = Sensor_Enable(handle_); });
    EXPECT_EQ(r, QOR_RES_IO_FAILED);
    EXPECT_FALSE(norva_sim::GetPhyState(0).enabled);
    EXPECT_FALSE(model_->state().streaming);
    EXPECT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
    EXPECT_EQ(Sensor_Disable(handle_), QOR_RES_OK);

    // A failed exposure write is reported, whichever of the two fails.
    for (unsigned skip : {0u, 1u}) {
        norva_sim::InjectI2cFault(1, norva_sim::I2cFault::ShortWrite, skip);
        log = logOf([&] { r = Sensor_SetExposureGain(handle_, 10000, 1.0, 0); });
        EXPECT_EQ(r, QOR_RES_IO_FAILED) << skip;
    }
}

} // namespace
