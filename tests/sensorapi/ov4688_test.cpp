// The stand-alone OV4688 driver against its simulated sensor on the first I2C bus.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "platform/sim_board.h"
#include "platform/sim_standalone_sensors.h"
#include "sensorapi/sensorapi.h"
#include "sensors/ov4688.h"
#include "support/board_fixture.h"

namespace {

using norva_test::contains;
using norva_test::HexOf;
using norva_test::logOf;

constexpr QOR_UINT16 kOv4688 = 2;

/** The register writes on the bus since the log was cleared, one "AA AA VV" per entry. */
std::vector<std::string> writes() {
    std::vector<std::string> out;
    for (const norva_sim::I2cTransaction &t : norva_sim::I2cLog()) {
        if (t.kind == 'w' && t.bytes.size() == 3 && t.ok)
            out.push_back(HexOf(t.bytes));
    }
    return out;
}

/** The last value written to a register in the log. */
std::string lastWrite(const std::vector<std::string> &w, const char *reg) {
    std::string found;
    for (const std::string &s : w)
        if (s.compare(0, 5, reg) == 0)
            found = s.substr(6);
    return found;
}

class Ov4688 : public norva_test::BoardTest {
public:
    void SetUp() override {
        BoardTest::SetUp();
        model_ = norva_sim::AttachOv4688();
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            EXPECT_EQ(Sensor_Destroy(handle_), QOR_RES_OK);
        }
        handle_ = nullptr;
        if (conn_ != nullptr) {
            EXPECT_EQ(CI_DriverFinalise(conn_), QOR_RES_OK);
        }
        EXPECT_EQ(norva_sim::I2cOpenDescriptors(), 0);
        EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
        BoardTest::TearDown();
    }
    void Create() {
        ASSERT_EQ(Sensor_Initialise(kOv4688, &handle_), QOR_RES_OK);
        ASSERT_EQ(CI_DriverInit(&conn_), QOR_RES_OK);
        ASSERT_EQ(Sensor_SetPhyConnection(handle_, conn_), QOR_RES_OK);
    }

    std::shared_ptr<norva_sim::Ov4688Model> model_;
    SENSOR_HANDLE handle_ = nullptr;
    CI_CONNECTION *conn_ = nullptr;
};

TEST_F(Ov4688, CreatesWithoutBoardFileAndChecksItsIdentifier) {
    // No board file is written: the driver has a fixed clock and bus.
    Create();
    SENSOR_INFO info;
    ASSERT_EQ(Sensor_GetInfo(handle_, &info), QOR_RES_OK);
    EXPECT_STREQ(info.pszSensorName, "OV4688");
    EXPECT_STREQ(info.pszSensorVersion, "0x4688");
    EXPECT_EQ(info.ui8Imager, 1);
    // The driver reports no configuration table: the registry's listing has no mode to offer for it.
    EXPECT_EQ(info.ui8NumConfig, 0);
    EXPECT_EQ(info.pNumModes, nullptr);
    EXPECT_DOUBLE_EQ(info.fPixelSize, 2.0);
    ASSERT_EQ(Sensor_Destroy(handle_), QOR_RES_OK);
    handle_ = nullptr;

    model_->setChipId(0x4689);
    SENSOR_HANDLE h = reinterpret_cast<SENSOR_HANDLE>(&h);
    QOR_RESULT r = QOR_RES_OK;
    const std::string log = logOf([&] { r = Sensor_Initialise(kOv4688, &h); });
    EXPECT_EQ(r, QOR_RES_DEVICE_FAILED);
    EXPECT_EQ(h, nullptr);
    EXPECT_TRUE(contains(log, "Failed to ensure that the i2c device has a compatible OV4688 sensor! ret=0 "
                              "chip_version=0x4689 (expect chip 0x4688)\n"))
        << log;
    EXPECT_EQ(norva_sim::I2cOpenDescriptors(), 0);
    EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
}

TEST_F(Ov4688, ModeFigures) {
    Create();
    SENSOR_MODE m{};
    ASSERT_EQ(Sensor_GetMode(handle_, 0, &m), QOR_RES_OK);
    // The description gives neither a row time nor a clock validity: both stay as the zeroed record had them.
    EXPECT_EQ(m.flTrow, 0.0);
    EXPECT_EQ(m.bValidFrequency, QOR_FALSE);
    EXPECT_EQ(m.ui16Width, 1280);
    EXPECT_EQ(m.ui16Height, 720);
    EXPECT_EQ(m.ui16HorizontalTotal, 5312);
    EXPECT_EQ(m.ui16VerticalTotal, 756);
    EXPECT_DOUBLE_EQ(m.flPixelRate, 54000000.0);
    EXPECT_NEAR(m.flFrameRate, 13.447, 0.0005);
    EXPECT_EQ(m.ui32ExposureMin, 98u);
    EXPECT_EQ(m.ui32ExposureMax, 102760350u);
    EXPECT_EQ(m.ui8MipiLanes, 1);
    EXPECT_EQ(m.ui8BitDepth, 10);
    EXPECT_EQ(m.ui8SupportFlipping, SENSOR_FLIP_BOTH);
}

TEST_F(Ov4688, ExposureAndGainBytes) {
    struct Case {
        QOR_UINT32 exposure;
        double gain;
        uint8_t e0, e1, e2;
        uint16_t code;
    };
    const Case cases[] = {
        {10000, 2.0, 0x00, 0x06, 0x60, 0x0178}, {5000, 4.0, 0x00, 0x03, 0x30, 0x0374},
        {10000, 0.5, 0x00, 0x06, 0x60, 0x0080}, {10000, 1.0, 0x00, 0x06, 0x60, 0x0080},
        {10000, 20.0, 0x00, 0x06, 0x60, 2039},  {102760350, 16.0, 0x0F, 0xFF, 0xF0, 2039},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.exposure);
        SCOPED_TRACE(c.gain);
        QOR_UINT8 regs[42] = {};
        OV4688_ComputeExposureGain(c.exposure, c.gain, 98, regs);
        EXPECT_EQ(regs[3 * 1 + 2], 0x00);
        EXPECT_EQ((regs[3 * 2 + 2] << 8) | regs[3 * 3 + 2], c.code);
        EXPECT_EQ(regs[3 * 8 + 2], c.e0);
        EXPECT_EQ(regs[3 * 9 + 2], c.e1);
        EXPECT_EQ(regs[3 * 10 + 2], c.e2);
    }
}

TEST_F(Ov4688, GroupedExposureWriteReachesTheSensor) {
    Create();
    ASSERT_EQ(Sensor_SetMode(handle_, 0, 0), QOR_RES_OK);
    norva_sim::ClearI2cLog();
    ASSERT_EQ(Sensor_SetExposureGain(handle_, 10000, 2.0, 0), QOR_RES_OK);
    const std::vector<std::string> expected = {"32 08 01", "35 07 00", "35 08 01", "35 09 78", "32 08 11",
                                               "32 0B 00", "32 08 E1", "32 08 02", "35 00 00", "35 01 06",
                                               "35 02 60", "32 08 12", "32 0B 00", "32 08 E2"};
    EXPECT_EQ(writes(), expected);
    EXPECT_EQ(model_->state().lines, 102u);
    EXPECT_EQ(model_->state().gainCode, 0x0178);
    QOR_UINT32 e = 0;
    ASSERT_EQ(Sensor_GetExposure(handle_, &e, 0), QOR_RES_OK);
    EXPECT_EQ(e, 10000u);
    // The longest exposure has more rows than the registers hold: they saturate, and so does what is reported.
    ASSERT_EQ(Sensor_SetExposureGain(handle_, 102760350, 1.0, 0), QOR_RES_OK);
    EXPECT_EQ(model_->state().lines, 0xFFFFu);
    ASSERT_EQ(Sensor_GetExposure(handle_, &e, 0), QOR_RES_OK);
    EXPECT_EQ(e, 0xFFFFu * 98u);
}

TEST_F(Ov4688, EnablePlaysTheListAndDisableStops) {
    Create();
    ASSERT_EQ(Sensor_SetMode(handle_, 0, SENSOR_FLIP_VERTICAL), QOR_RES_OK);
    norva_sim::ClearI2cLog();
    norva_sim::ClearBoardEvents();
    std::string log = logOf([&] { ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK); });
    EXPECT_TRUE(contains(log, "Enabling OV4688 Camera!\n")) << log;
    const std::vector<std::string> w = writes();
    // 320 entries, one of them the 15 ms pause, then the group launch.
    ASSERT_EQ(w.size(), 319u + 2u);
    EXPECT_EQ(w.front(), "01 03 01");
    EXPECT_EQ(w[w.size() - 2], "32 0B 00");
    EXPECT_EQ(w.back(), "32 08 E0");
    EXPECT_EQ(lastWrite(w, "38 20"), "06");
    EXPECT_EQ(lastWrite(w, "38 21"), "00");
    const std::vector<std::string> ev = norva_sim::BoardEvents();
    EXPECT_NE(std::find(ev.begin(), ev.end(), "sleep 15000"), ev.end());
    const norva_sim::Ov4689State s = model_->state();
    EXPECT_TRUE(s.streaming);
    EXPECT_TRUE(s.vflip);
    EXPECT_FALSE(s.hflip);
    EXPECT_EQ(s.width, 1280u);
    EXPECT_TRUE(norva_sim::GetPhyState(1).enabled);
    EXPECT_EQ(norva_sim::GetPhyState(1).lanes, 1);
    SENSOR_STATUS st{};
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.eState, SENSOR_STATE_RUNNING);

    norva_sim::ClearI2cLog();
    log = logOf([&] { ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK); });
    EXPECT_TRUE(contains(log, "Disabling OV4688 camera\n")) << log;
    const std::vector<std::string> stop = {"01 00 00", "30 1A F9", "48 05 03"};
    EXPECT_EQ(writes(), stop);
    EXPECT_FALSE(model_->state().streaming);
    EXPECT_FALSE(norva_sim::GetPhyState(1).enabled);
    // Not enabled: nothing is sent.
    norva_sim::ClearI2cLog();
    EXPECT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
    EXPECT_TRUE(norva_sim::I2cLog().empty());
}

TEST_F(Ov4688, BadInput) {
    Create();
    SENSOR_MODE m{};
    std::string log = logOf([&] {
        EXPECT_EQ(Sensor_SetMode(handle_, 1, 0), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(Sensor_GetMode(handle_, 1, &m), QOR_RES_NOT_SUPPORTED);
    });
    ASSERT_EQ(Sensor_SetMode(handle_, 0, 0), QOR_RES_OK);

    // A write the sensor does not take: Enable says so and leaves the PHY off and the port free.
    norva_sim::InjectI2cFault(0, norva_sim::I2cFault::ShortWrite, 20);
    QOR_RESULT r = QOR_RES_OK;
    log = logOf([&] { r = Sensor_Enable(handle_); });
    EXPECT_EQ(r, QOR_RES_IO_FAILED);
    EXPECT_TRUE(contains(log, "Failed to write I2C data! write_len = 2, index = 20\n")) << log;
    EXPECT_FALSE(norva_sim::GetPhyState(1).enabled);
    EXPECT_FALSE(model_->state().streaming);
    SENSOR_STATUS st{};
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.eState, SENSOR_STATE_IDLE);
    // The port was released: the sensor starts on the next try.
    EXPECT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
    EXPECT_EQ(Sensor_Disable(handle_), QOR_RES_OK);

    // A failed slave address on the exposure write is reported.
    norva_sim::InjectI2cFault(0, norva_sim::I2cFault::FailIoctl);
    log = logOf([&] { r = Sensor_SetExposureGain(handle_, 10000, 1.0, 0); });
    EXPECT_EQ(r, QOR_RES_IO_FAILED);
    EXPECT_TRUE(contains(log, "Failed to write I2C slave address!\n")) << log;
}

} // namespace
