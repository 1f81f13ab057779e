// The OV4689 driver on the framework, against the simulated board and the sensor's register model.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "platform/sim_board.h"
#include "platform/sim_sensor.h"
#include "sensorapi/sensorapi.h"
#include "sensors/ov4689.h"
#include "support/board_fixture.h"

namespace {

using norva_test::contains;
using norva_test::HexOf;
using norva_test::logOf;

constexpr QOR_UINT16 kOv4689_0 = 3;

/** The register writes on the bus since the log was cleared, one "AA AA VV" per entry. */
std::vector<std::string> writes() {
    std::vector<std::string> out;
    for (const norva_sim::I2cTransaction &t : norva_sim::I2cLog()) {
        if (t.kind == 'w' && t.bytes.size() == 3)
            out.push_back(HexOf(t.bytes));
    }
    return out;
}

class Ov4689 : public norva_test::BoardTest {
public:
    void SetUp() override {
        BoardTest::SetUp();
        Wire("27.0");
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
    /** Writes the board file from the wiring and puts the sensor on the board, clocked as the board says. */
    void Wire(const std::string &clockMHz) {
        board_.clockMHz = clockMHz;
        WriteBoard(board_);
        norva_sim::SensorWiring w;
        w.bus = board_.slots[0].bus;
        w.pwdnChip = board_.slots[0].pwdnChip;
        w.pwdnLine = board_.slots[0].pwdnLine;
        w.pwdnActive = static_cast<int>(board_.pwdnValue);
        w.resetChip = board_.slots[0].resetChip;
        w.resetLine = board_.slots[0].resetLine;
        w.clockMHz = std::stod(clockMHz);
        model_ = norva_sim::AttachOv4689(w);
    }
    void Create() {
        ASSERT_EQ(Sensor_Initialise(kOv4689_0, &handle_), QOR_RES_OK);
        ASSERT_EQ(CI_DriverInit(&conn_), QOR_RES_OK);
        ASSERT_EQ(Sensor_SetPhyConnection(handle_, conn_), QOR_RES_OK);
    }
    void Start(QOR_UINT16 mode, QOR_UINT8 flip = SENSOR_FLIP_NONE) {
        Create();
        ASSERT_EQ(Sensor_SetMode(handle_, mode, flip), QOR_RES_OK);
        ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
    }

    norva_test::BoardWiring board_;
    std::shared_ptr<norva_sim::Ov4689Model> model_;
    SENSOR_HANDLE handle_ = nullptr;
    CI_CONNECTION *conn_ = nullptr;
};

TEST_F(Ov4689, BringUpAndDestroyOnTheBoard) {
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
                                              "I2C_SLAVE 0x36",
                                              "write 30 0a",
                                              "read 2"};
    EXPECT_EQ(norva_sim::BoardEvents(), bringUp);
    EXPECT_TRUE(model_->state().powered);
    SENSOR_INFO info;
    ASSERT_EQ(Sensor_GetInfo(handle_, &info), QOR_RES_OK);
    EXPECT_STREQ(info.pszSensorName, "OV4689_0");
    EXPECT_STREQ(info.pszSensorVersion, "0x4688");
    EXPECT_EQ(info.eBayerOriginal, MOSAIC_BGGR);
    EXPECT_EQ(info.ui8Imager, 0);
    EXPECT_EQ(info.ui8NumConfig, 3);
    EXPECT_EQ(info.sStatus.eState, SENSOR_STATE_IDLE);

    norva_sim::ClearBoardEvents();
    ASSERT_EQ(Sensor_Destroy(handle_), QOR_RES_OK);
    handle_ = nullptr;
    // The chips close without the lines being driven: they keep their levels, and the sensor its power.
    const std::vector<std::string> destroy = {"close gpiochip0", "close gpiochip0", "close /dev/sensor_phy0",
                                              "close /dev/i2c-1"};
    EXPECT_EQ(norva_sim::BoardEvents(), destroy);
    EXPECT_TRUE(model_->state().powered);
}

TEST_F(Ov4689, EachBringUpStepFailing) {
    struct Case {
        const char *name;
        std::function<void(Ov4689 &)> arrange;
        std::string message;
        bool leftPowered; /* the power-up sequence had completed */
    };
    using norva_sim::GpioFault;
    const std::vector<Case> cases = {
        {"board file missing", [](Ov4689 &t) { t.WriteHomeBoard("# empty\n"); },
         "Board_reset_need parameter not defined!\n", false},
        {"PHY", [](Ov4689 &) { norva_sim::SetPhyAbsent(0, true); }, "Failed to create sensor phy!\n", false},
        {"power-down chip", [](Ov4689 &) { norva_sim::SetGpioChipAbsent(0, true); },
         "PWDN GPIO controller not found!\n", false},
        {"reset chip",
         [](Ov4689 &t) {
             t.board_.slots[0].resetChip = 1;
             t.WriteBoard(t.board_);
             norva_sim::SetGpioChipAbsent(1, true);
         },
         "Reset GPIO controller not found!\n", false},
        {"power-down line", [](Ov4689 &) { norva_sim::InjectGpioFault(0, 11, GpioFault::GetLine); },
         "Failed to get PWDN GPIO\n", false},
        {"power-down request", [](Ov4689 &) { norva_sim::InjectGpioFault(0, 11, GpioFault::Request); },
         "Failed to request PWDN GPIO\n", false},
        {"reset line", [](Ov4689 &) { norva_sim::InjectGpioFault(0, 10, GpioFault::GetLine); },
         "Failed get Reset GPIO\n", false},
        {"reset request", [](Ov4689 &) { norva_sim::InjectGpioFault(0, 10, GpioFault::Request); },
         "Failed to request Reset GPIO\n", false},
        {"reset low", [](Ov4689 &) { norva_sim::InjectGpioFault(0, 10, GpioFault::Set); },
         "Failed to set Reset GPIO to LOW\n", false},
        {"power-down non-active", [](Ov4689 &) { norva_sim::InjectGpioFault(0, 11, GpioFault::Set); },
         "Failed to set PWDN GPIO to non-active level\n", false},
        {"multiplexer chip",
         [](Ov4689 &t) {
             t.board_.muxNeed = 1;
             t.WriteBoard(t.board_);
             norva_sim::SetGpioChipAbsent(6, true);
         },
         "GPIO controller for csi multiplexer not found!\n", true},
        {"multiplexer select",
         [](Ov4689 &t) {
             t.board_.muxNeed = 1;
             t.WriteBoard(t.board_);
             norva_sim::InjectGpioFault(6, 2, GpioFault::GetLine);
         },
         "Failed get csi multiplexer SEL GPIO\n", true},
        {"I2C open", [](Ov4689 &) { norva_sim::SetI2cBusAbsent(1, true); },
         "Failed to open I2C device: \"/dev/i2c-1\", err = -1\n", true},
        {"identifier read", [](Ov4689 &) { norva_sim::AttachI2cDevice(1, 0x36, nullptr); },
         "Failed to read the I2C device, ret=3 \n", true},
        {"wrong identifier",
         [](Ov4689 &) {
             auto other = std::make_shared<norva_sim::I2cRegisterDevice>(2);
             other->writeRegister(0x300A, 0x56);
             other->writeRegister(0x300B, 0x47);
             norva_sim::AttachI2cDevice(1, 0x36, other);
         },
         "Failed to ensure that the I2C device has a compatible sensor! chip_version=0x5647 (expect chip 0x4688)\n",
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        norva_sim::ResetBoard();
        UseBoardIspDescription();
        board_ = norva_test::BoardWiring{};
        Wire("27.0");
        c.arrange(*this);
        SENSOR_FUNCS stale{};
        SENSOR_HANDLE h = &stale;
        QOR_RESULT r = -1;
        const std::string log = logOf([&] { r = Sensor_Initialise(kOv4689_0, &h); });
        EXPECT_EQ(r, QOR_RES_DEVICE_FAILED);
        EXPECT_EQ(h, nullptr);
        EXPECT_TRUE(contains(log, c.message)) << log;
        EXPECT_EQ(norva_sim::GpioOpenChips(), 0);
        EXPECT_EQ(norva_sim::I2cOpenDescriptors(), 0);
        EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
        // Closing the chips drives no line: the sensor stays as far powered as the sequence had brought it.
        EXPECT_EQ(model_->state().powered, c.leftPowered);
    }
}

TEST_F(Ov4689, ModesAt27MHz) {
    Create();
    struct Row {
        QOR_UINT16 mode;
        unsigned w, h, hts, vts, lanes, bits;
        double trow, fps;
        QOR_UINT32 expMin;
        double pixelRate;
        QOR_UINT8 hs;
    };
    const Row rows[] = {
        {0x00, 2688, 1520, 2576, 1554, 2, 10, 21.20, 30.35, 22, 243.0, 0x02},
        {0x01, 2016, 1520, 2576, 1554, 2, 10, 21.20, 30.35, 22, 243.0, 0x02},
        {0x02, 1920, 1080, 2608, 1116, 2, 10, 21.47, 41.75, 22, 243.0, 0x02},
        {0x03, 1344, 760, 2632, 797, 2, 10, 21.66, 57.92, 22, 243.0, 0x02},
        {0x10, 2688, 1520, 1116, 1605, 4, 10, 9.19, 67.83, 10, 486.0, 0x0A},
        {0x11, 2016, 1520, 860, 1554, 4, 10, 7.08, 90.91, 8, 486.0, 0x0A},
        {0x12, 1920, 1080, 816, 1116, 4, 10, 6.72, 133.42, 7, 486.0, 0x0A},
        {0x13, 1344, 760, 840, 797, 4, 10, 6.91, 181.48, 7, 486.0, 0x0A},
        {0x20, 1920, 1080, 4300, 1116, 1, 8, 34.96, 25.63, 35, 123.0, 0x02},
        {0x21, 1280, 720, 5312, 756, 1, 8, 43.19, 30.63, 44, 123.0, 0x02},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.mode);
        SENSOR_MODE m{};
        ASSERT_EQ(Sensor_GetMode(handle_, r.mode, &m), QOR_RES_OK);
        EXPECT_EQ(m.ui16Width, r.w);
        EXPECT_EQ(m.ui16Height, r.h);
        EXPECT_EQ(m.ui16HorizontalTotal, r.hts);
        EXPECT_EQ(m.ui16VerticalTotal, r.vts);
        EXPECT_EQ(m.ui8MipiLanes, r.lanes);
        EXPECT_EQ(m.ui8BitDepth, r.bits);
        EXPECT_NEAR(m.flTrow, r.trow, 0.005);
        EXPECT_NEAR(m.flFrameRate, r.fps, 0.005);
        EXPECT_EQ(m.ui32ExposureMin, r.expMin);
        EXPECT_EQ(m.ui32ExposureMax, r.expMin * 1048575u);
        EXPECT_NEAR(m.flPixelRate, r.pixelRate, 1e-6);
        EXPECT_EQ(m.ui8MipiHsFreqRange, r.hs);
        EXPECT_EQ(m.ui8SupportFlipping, SENSOR_FLIP_BOTH);
        EXPECT_EQ(m.bValidFrequency, 1);
    }
    SENSOR_MODE m{};
    EXPECT_EQ(Sensor_GetMode(handle_, 0x22, &m), QOR_RES_NOT_SUPPORTED);
    EXPECT_EQ(Sensor_GetMode(handle_, 0x30, &m), QOR_RES_NOT_SUPPORTED);
}

TEST_F(Ov4689, ReferenceClockOf24And19_2MHz) {
    Wire("24.0");
    Start(0x00);
    SENSOR_MODE m{};
    ASSERT_EQ(Sensor_GetMode(handle_, 0x00, &m), QOR_RES_OK);
    EXPECT_NEAR(m.flTrow, 21.47, 0.005);
    EXPECT_NEAR(m.flFrameRate, 29.98, 0.005);
    EXPECT_NEAR(m.flPixelRate, 240.0, 1e-6);
    const norva_sim::Ov4689State s = model_->state();
    EXPECT_EQ(s.pll1Multiplier, 27u);
    EXPECT_EQ(s.pll2Multiplier, 30u);
    EXPECT_NEAR(s.sclk, 120e6, 1.0) << "the sensor's own clock and PLL give the driver's system clock";
    EXPECT_NEAR(s.rowTimeUs, m.flTrow, 1e-6);
    ASSERT_EQ(Sensor_Destroy(handle_), QOR_RES_OK);
    handle_ = nullptr;
    ASSERT_EQ(CI_DriverFinalise(conn_), QOR_RES_OK);
    conn_ = nullptr;

    Wire("19.2");
    Create();
    ASSERT_EQ(Sensor_GetMode(handle_, 0x00, &m), QOR_RES_OK);
    EXPECT_EQ(m.bValidFrequency, 0);
    ASSERT_EQ(Sensor_SetMode(handle_, 0x00, 0), QOR_RES_OK);
    norva_sim::ClearI2cLog();
    const std::string log = logOf([&] { Sensor_Enable(handle_); });
    EXPECT_TRUE(contains(log, "Reference clock frequency 19.200000 MHz not supported!\n")) << log;
    for (const std::string &w : writes())
        EXPECT_NE(w.substr(0, 5), "01 03") << "no configuration written";
}

TEST_F(Ov4689, ExposureAndGainBytes) {
    Start(0x00);
    norva_sim::ClearI2cLog();
    ASSERT_EQ(Sensor_SetExposureGain(handle_, 1000, 2.0, 0), QOR_RES_OK);
    const std::vector<std::string> expected = {"32 08 01", "35 07 00", "35 08 01", "35 09 78", "32 08 11",
                                               "32 0B 00", "32 08 E1", "32 08 02", "35 00 00", "35 01 02",
                                               "35 02 F0", "38 46 08", "32 08 12", "32 0B 00", "32 08 E2"};
    EXPECT_EQ(writes(), expected);
    norva_sim::Ov4689State s = model_->state();
    EXPECT_EQ(s.lines, 47u);
    EXPECT_DOUBLE_EQ(s.gain, 2.0);

    struct Case {
        QOR_UINT16 mode;
        QOR_UINT32 exposure;
        double gain;
        const char *exposureBytes; /* 0x3500 to 0x3502 */
        uint16_t code;
    };
    const Case cases[] = {
        {0x00, 10000, 0.5, "00 1D 80", 0x0080},
        {0x03, 5000, 1.0, "00 0E 70", 0x0080},
        {0x00, 1000, 1.5, "00 02 F0", 0x00C0},
        {0x00, 1000, 3.0, "00 02 F0", 0x01B8},
        {0x00, 1000, 5.0, "00 02 F0", 0x0394},
        {0x00, 1000, 8.0, "00 02 F0", 0x0778},
        {0x00, 1000, 16.0, "00 02 F0", 0x07F7},
        // Out of range: clamped to the limits before the bytes are computed, the line count saturating.
        {0x00, 0, 100.0, "00 00 10", 0x07F7},
        {0x00, 0xFFFFFFFFu, 0.1, "0F FF F0", 0x0080},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.exposure) + " us, gain " + std::to_string(c.gain));
        ASSERT_EQ(Sensor_SetMode(handle_, c.mode, 0), QOR_RES_OK);
        norva_sim::ClearI2cLog();
        ASSERT_EQ(Sensor_SetExposureGain(handle_, c.exposure, c.gain, 0), QOR_RES_OK);
        const std::vector<std::string> w = writes();
        ASSERT_EQ(w.size(), 15u);
        EXPECT_EQ(w[8].substr(6) + " " + w[9].substr(6) + " " + w[10].substr(6), c.exposureBytes);
        EXPECT_EQ(OV4689_GainCode(c.gain < 1.0 ? 1.0 : (c.gain > 16.0 ? 16.0 : c.gain)), c.code);
        s = model_->state();
        EXPECT_EQ(s.gainCode, c.code) << "the sensor decodes what the driver meant";
        // Also where the line count saturates (the last case): the exposure reported is the one the sensor runs with
        // (the sensor runs mode 0x00; another mode is only selected, it reaches the sensor at the next Enable).
        QOR_UINT32 exposure = 0;
        ASSERT_EQ(Sensor_GetExposure(handle_, &exposure, 0), QOR_RES_OK);
        if (c.mode == 0x00) {
            EXPECT_NEAR(s.exposureUs, exposure, s.rowTimeUs / 2);
        }
    }
    // The highest context used so far is kept in 0x3846.
    ASSERT_EQ(Sensor_SetExposureGain(handle_, 1000, 1.0, 2), QOR_RES_OK);
    norva_sim::ClearI2cLog();
    ASSERT_EQ(Sensor_SetExposureGain(handle_, 1000, 1.0, 0), QOR_RES_OK);
    EXPECT_EQ(writes()[11], "38 46 0A");
    EXPECT_EQ(model_->peek(0x3846), 0x0A);
    EXPECT_EQ(Sensor_SetExposureGain(handle_, 1000, 1.0, 5), QOR_RES_NOT_SUPPORTED);
}

TEST_F(Ov4689, EnableWritesTablesAndDisableStops) {
    struct FlipCase {
        QOR_UINT8 flip;
        const char *r3820;
        const char *r3821;
    };
    const FlipCase flips[] = {{SENSOR_FLIP_NONE, "38 20 00", "38 21 06"},
                              {SENSOR_FLIP_HORIZONTAL, "38 20 00", "38 21 00"},
                              {SENSOR_FLIP_VERTICAL, "38 20 06", "38 21 06"},
                              {SENSOR_FLIP_BOTH, "38 20 06", "38 21 00"}};
    Create();
    for (const FlipCase &f : flips) {
        SCOPED_TRACE(f.flip);
        ASSERT_EQ(Sensor_SetMode(handle_, 0x00, f.flip), QOR_RES_OK);
        ASSERT_EQ(Sensor_SetExposureGain(handle_, 5000, 2.0, 0), QOR_RES_OK);
        norva_sim::ClearI2cLog();
        norva_sim::ClearBoardEvents();
        ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
        const std::vector<std::string> w = writes();
        ASSERT_GE(w.size(), 30u);
        EXPECT_EQ(w[0], "01 03 01");
        EXPECT_NE(std::find(w.begin(), w.end(), "03 02 18"), w.end()) << "PLL1 multiplier 660 / 27";
        EXPECT_NE(std::find(w.begin(), w.end(), "03 0D 1B"), w.end()) << "PLL2 multiplier 730 / 27";
        // The last occurrences are the mode table's.
        auto last = [&](const std::string &prefix) {
            for (auto it = w.rbegin(); it != w.rend(); ++it)
                if (it->compare(0, 5, prefix) == 0)
                    return *it;
            return std::string();
        };
        EXPECT_EQ(last("38 20"), f.r3820);
        EXPECT_EQ(last("38 21"), f.r3821);
        // After the tables: the exposure and gain in force.
        EXPECT_EQ(w.back(), "32 08 E2");
        const std::vector<std::string> ev = norva_sim::BoardEvents();
        auto at = [&](const std::string &e) { return std::find(ev.begin(), ev.end(), e) - ev.begin(); };
        EXPECT_LT(at("phy0 configure enable=1 lanes=2 hs=0x02"), at("write 01 03 01"));
        EXPECT_EQ(at("sleep 2000"), at("write 01 00 01") + 2) << "the delay entry right after the stream start";
        EXPECT_LT(at("sleep 100000"), at("write 32 08 01"));
        const norva_sim::Ov4689State s = model_->state();
        EXPECT_TRUE(s.streaming);
        EXPECT_EQ(s.hflip, (f.flip & SENSOR_FLIP_HORIZONTAL) != 0);
        EXPECT_EQ(s.vflip, (f.flip & SENSOR_FLIP_VERTICAL) != 0);
        // Writing the mode makes the requested exposure 302 shortest exposures (22 us) again, whatever was set
        // before: that is what the sensor runs with; the gain stays as set.
        QOR_UINT32 exposure = 0;
        ASSERT_EQ(Sensor_GetExposure(handle_, &exposure, 0), QOR_RES_OK);
        EXPECT_EQ(exposure, 302u * 22u);
        EXPECT_EQ(s.lines, 313u) << "6644 us of 21.20 us rows";
        EXPECT_DOUBLE_EQ(s.gain, 2.0);
        EXPECT_TRUE(norva_sim::GetPhyState(0).enabled);

        norva_sim::ClearI2cLog();
        norva_sim::ClearBoardEvents();
        const std::string log = logOf([&] { ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK); });
        EXPECT_TRUE(contains(log, "enabled (MIPI) - frame count 0\n")) << "the port's counters: " << log;
        const std::vector<std::string> stop = {"01 00 00", "30 1A F9", "48 05 03"};
        EXPECT_EQ(writes(), stop);
        const std::vector<std::string> ev2 = norva_sim::BoardEvents();
        EXPECT_NE(std::find(ev2.begin(), ev2.end(), "sleep 200000"), ev2.end());
        EXPECT_NE(std::find(ev2.begin(), ev2.end(), "sleep 32947"), ev2.end()) << "one frame at 30.35 fps";
        EXPECT_EQ(ev2.back(), "phy0 configure enable=0 lanes=0 hs=0x00");
        EXPECT_FALSE(norva_sim::GetPhyState(0).enabled);
        EXPECT_FALSE(model_->state().streaming);
    }
    norva_sim::ClearBoardEvents();
    EXPECT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
    EXPECT_TRUE(norva_sim::BoardEvents().empty()) << "an idle Disable touches nothing";
}

TEST_F(Ov4689, EnableWithoutModeThenDisable) {
    Create();
    std::string log = logOf([&] { EXPECT_EQ(Sensor_Enable(handle_), QOR_RES_OK); });
    EXPECT_TRUE(contains(log, "current register config not available!\n")) << log;
    EXPECT_TRUE(contains(log, "current register modes not available!\n")) << log;
    norva_sim::ClearBoardEvents();
    EXPECT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
    // The stop table's 200 ms, and no frame wait: without a mode there is no frame rate.
    std::vector<std::string> sleeps;
    for (const std::string &e : norva_sim::BoardEvents())
        if (e.rfind("sleep ", 0) == 0)
            sleeps.push_back(e);
    EXPECT_EQ(sleeps, std::vector<std::string>{"sleep 200000"});
}

TEST_F(Ov4689, BadInputChangesNothing) {
    Start(0x02, SENSOR_FLIP_VERTICAL);
    SENSOR_STATUS before{};
    ASSERT_EQ(Sensor_GetState(handle_, &before), QOR_RES_OK);
    QOR_UINT32 minBefore = 0, maxBefore = 0;
    QOR_UINT8 ctx = 0;
    ASSERT_EQ(Sensor_GetExposureRange(handle_, &minBefore, &maxBefore, &ctx), QOR_RES_OK);
    std::string log = logOf([&] { EXPECT_EQ(Sensor_SetMode(handle_, 0x14, 0), QOR_RES_NOT_SUPPORTED); });
    EXPECT_TRUE(contains(log, "Mode 20 not supported\n")) << log;
    log = logOf([&] { EXPECT_EQ(Sensor_SetMode(handle_, 0x10, 0x04), QOR_RES_NOT_SUPPORTED); });
    EXPECT_TRUE(contains(log, "sensor mode does not support selected flipping 0x4 (supports 0x3)\n")) << log;
    SENSOR_STATUS after{};
    ASSERT_EQ(Sensor_GetState(handle_, &after), QOR_RES_OK);
    EXPECT_EQ(after.ui16CurrentMode, before.ui16CurrentMode);
    EXPECT_EQ(after.ui8Flipping, before.ui8Flipping);
    QOR_UINT32 minAfter = 0, maxAfter = 0;
    ASSERT_EQ(Sensor_GetExposureRange(handle_, &minAfter, &maxAfter, &ctx), QOR_RES_OK);
    EXPECT_EQ(minAfter, minBefore);
    EXPECT_EQ(maxAfter, maxBefore);
}

TEST_F(Ov4689, ShortWriteInEnableIsReported) {
    Create();
    ASSERT_EQ(Sensor_SetMode(handle_, 0x00, 0), QOR_RES_OK);
    norva_sim::InjectI2cFault(1, norva_sim::I2cFault::ShortWrite, 20);
    std::string log = logOf([&] { EXPECT_EQ(Sensor_Enable(handle_), QOR_RES_IO_FAILED); });
    EXPECT_TRUE(contains(log, "Failed to write I2C data! write_len = 2, index = 0\n")) << log;
    EXPECT_FALSE(norva_sim::GetPhyState(0).enabled);
    SENSOR_STATUS st{};
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.eState, SENSOR_STATE_IDLE);
    // The port was released: the sensor can start again.
    EXPECT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
    EXPECT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
}

// A PHY driver that refuses the switch is reported by Enable and Disable (24), and the port is free again after it.
TEST_F(Ov4689, RefusedPhyIsReported) {
    Start(0x00);
    ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
    norva_sim::FailNextPhyIoctl(0);
    logOf([&] { EXPECT_EQ(Sensor_Enable(handle_), QOR_RES_IO_FAILED); });
    EXPECT_FALSE(norva_sim::GetPhyState(0).enabled);
    SENSOR_STATUS st{};
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.eState, SENSOR_STATE_IDLE);
    ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK) << "the port was released";
    norva_sim::FailNextPhyIoctl(0);
    logOf([&] { EXPECT_EQ(Sensor_Disable(handle_), QOR_RES_IO_FAILED); });
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.eState, SENSOR_STATE_IDLE);
}

TEST_F(Ov4689, EnableWithoutConnectionIsRefused) {
    ASSERT_EQ(Sensor_Initialise(kOv4689_0, &handle_), QOR_RES_OK);
    ASSERT_EQ(Sensor_SetMode(handle_, 0x00, 0), QOR_RES_OK);
    norva_sim::ClearPhyLog();
    EXPECT_NE(Sensor_Enable(handle_), QOR_RES_OK);
    EXPECT_TRUE(norva_sim::PhyLog().empty());
    EXPECT_FALSE(model_->state().streaming);
}

} // namespace
