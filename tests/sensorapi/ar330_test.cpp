// The stand-alone AR330 driver against its simulated sensor on the first I2C bus.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "platform/sim_board.h"
#include "platform/sim_standalone_sensors.h"
#include "sensorapi/sensorapi.h"
#include "sensors/ar330.h"
#include "support/board_fixture.h"

namespace {

using norva_test::contains;
using norva_test::logOf;

constexpr QOR_UINT16 kAr330 = 1;

/** The 16-bit register writes to the sensor since the log was cleared, as {register, value}. */
std::vector<std::pair<unsigned, unsigned>> writes() {
    std::vector<std::pair<unsigned, unsigned>> out;
    for (const norva_sim::I2cTransaction &t : norva_sim::I2cLog())
        if (t.kind == 'w' && t.address == 0x10 && t.ok && t.bytes.size() == 4)
            out.push_back({(t.bytes[0] << 8) | t.bytes[1], (t.bytes[2] << 8) | t.bytes[3]});
    return out;
}

class Ar330 : public norva_test::BoardTest {
public:
    void SetUp() override {
        BoardTest::SetUp();
        model_ = norva_sim::AttachAr330();
        // No board file: the driver reads none.
        ASSERT_EQ(Sensor_Initialise(kAr330, &handle_), QOR_RES_OK);
        ASSERT_EQ(CI_DriverInit(&conn_), QOR_RES_OK);
        ASSERT_EQ(Sensor_SetPhyConnection(handle_, conn_), QOR_RES_OK);
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            EXPECT_EQ(Sensor_Destroy(handle_), QOR_RES_OK);
        }
        if (conn_ != nullptr) {
            EXPECT_EQ(CI_DriverFinalise(conn_), QOR_RES_OK);
        }
        EXPECT_EQ(norva_sim::I2cOpenDescriptors(), 0);
        EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
        BoardTest::TearDown();
    }
    std::string WriteFile(const std::string &name, const std::string &text) {
        const std::string path = Home() + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    std::shared_ptr<norva_sim::Ar330Model> model_;
    SENSOR_HANDLE handle_ = nullptr;
    CI_CONNECTION *conn_ = nullptr;
};

TEST_F(Ar330, ModeFigures) {
    struct Row {
        unsigned width, height, line, frame;
        double rate, fps;
    };
    const Row rows[] = {
        {1280, 720, 964, 730, 12.6, 17.905},    {1280, 720, 1014, 864, 14.4, 16.437},
        {1280, 720, 1014, 864, 25.8, 29.449},   {1920, 1080, 1104, 1248, 28.8, 20.903},
        {2304, 1296, 1248, 1308, 44.4, 27.2},   {2304, 1296, 1248, 1308, 28.8, 17.643},
        {2304, 1296, 1248, 1308, 40.8, 24.994}, {2304, 1296, 1248, 1308, 32.4, 19.848},
        {1280, 720, 1014, 864, 12.9, 14.725},   {1280, 720, 1014, 864, 14.4, 16.437},
        {1280, 720, 1014, 864, 15.0, 17.122},   {1280, 720, 1014, 864, 13.2, 15.067},
        {1920, 1088, 2112, 1212, 14.4, 5.626},  {1280, 720, 964, 864, 43.2, 51.867},
        {1280, 720, 964, 730, 12.6, 17.905},
    };
    for (QOR_UINT16 m = 0; m < 15; m++) {
        SCOPED_TRACE(m);
        SENSOR_MODE mode{};
        ASSERT_EQ(Sensor_GetMode(handle_, m, &mode), QOR_RES_OK);
        const Row &r = rows[m];
        EXPECT_EQ(mode.ui16Width, r.width);
        EXPECT_EQ(mode.ui16Height, r.height);
        EXPECT_EQ(mode.ui16HorizontalTotal, 2 * r.line);
        EXPECT_EQ(mode.ui16VerticalTotal, r.frame);
        EXPECT_NEAR(mode.flPixelRate, r.rate, 1e-9);
        EXPECT_NEAR(mode.flFrameRate, r.fps, 0.001);
        EXPECT_NEAR(mode.flTrow, r.line / r.rate, 1e-9);
        EXPECT_EQ(mode.ui32ExposureMin, static_cast<QOR_UINT32>(r.line / r.rate));
        EXPECT_EQ(mode.ui8BitDepth, 10);
        EXPECT_EQ(mode.ui8SupportFlipping, SENSOR_FLIP_BOTH);
        EXPECT_EQ(mode.bValidFrequency, 0) << "not part of the description";
    }
    SENSOR_MODE m4{};
    ASSERT_EQ(Sensor_GetMode(handle_, 4, &m4), QOR_RES_OK);
    EXPECT_EQ(m4.ui32ExposureMin, 28u);
    EXPECT_EQ(m4.ui32ExposureMax, 1834980u);

    SENSOR_INFO info;
    ASSERT_EQ(Sensor_GetInfo(handle_, &info), QOR_RES_OK);
    EXPECT_STREQ(info.pszSensorName, "AR330");
    EXPECT_STREQ(info.pszSensorVersion, "not-verified");
    EXPECT_EQ(info.eBayerOriginal, MOSAIC_GRBG);
    EXPECT_DOUBLE_EQ(info.fNumber, 1.2);
    EXPECT_EQ(info.ui16FocalLength, 30);
    EXPECT_EQ(info.ui32WellDepth, 7500u);
    // The fields the driver does not know stay as the API zeroed them.
    EXPECT_EQ(info.fPixelSize, 0.0);
    EXPECT_EQ(info.ui8NumConfig, 0);
    EXPECT_EQ(info.pNumModes, nullptr);
    // The imager port its frames arrive on (parallel port 2), which the pipeline reads.
    EXPECT_EQ(info.ui8Imager, 2);
}

TEST_F(Ar330, SetModeWritesTheListAndTheParallelGasket) {
    norva_sim::ClearI2cLog();
    ASSERT_EQ(Sensor_SetMode(handle_, 4, SENSOR_FLIP_BOTH), QOR_RES_OK);
    const auto w = writes();
    ASSERT_EQ(w.size(), 36u);
    EXPECT_EQ(w.front(), std::make_pair(0x301Au, 0x0058u));
    unsigned readMode = 0;
    for (const auto &p : w)
        if (p.first == 0x3040) {
            EXPECT_EQ(p.second & 0xC000u, 0xC000u);
            readMode++;
        }
    EXPECT_EQ(readMode, 3u);
    EXPECT_TRUE(model_->state().hflip);
    EXPECT_TRUE(model_->state().vflip);
    EXPECT_FALSE(model_->state().streaming);

    norva_sim::ClearPhyLog();
    norva_sim::ClearI2cLog();
    const std::string enableLog = logOf([&] { ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK); });
    // The PHY takes the bit depth and the frame size; the gasket is acquired as parallel.
    const std::vector<norva_sim::PhyRecord> phy = norva_sim::PhyLog();
    ASSERT_FALSE(phy.empty());
    const uint8_t *r = phy.front().record;
    uint32_t width = 0, height = 0;
    std::memcpy(&width, r + 16, 4);
    std::memcpy(&height, r + 20, 4);
    EXPECT_EQ(r[6], 10);
    EXPECT_EQ(width, 2304u);
    EXPECT_EQ(height, 1296u);
    // Stream on, then each read: the register's address with two zero bytes, then four bytes read, the value first.
    // The revision ignores the zero; the test data register takes it.
    const std::vector<std::pair<unsigned, unsigned>> on = {{0x301A, 0x005C}, {0x30F0, 0x0000}, {0x3072, 0x0000}};
    EXPECT_EQ(writes(), on);
    unsigned fourByteReads = 0;
    for (const norva_sim::I2cTransaction &t : norva_sim::I2cLog())
        fourByteReads += t.kind == 'r' && t.ok && t.bytes.size() == 4;
    EXPECT_EQ(fourByteReads, 2u);
    EXPECT_TRUE(contains(enableLog, "0x30F0 = 0x1200 - TEST_DATA_RED = 0x0000\n")) << enableLog;
    EXPECT_EQ(model_->value(0x30F0), 0x1200);
    EXPECT_TRUE(model_->state().streaming);

    norva_sim::ClearI2cLog();
    std::string log = logOf([&] { ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK); });
    EXPECT_TRUE(contains(log, "Disabling AR330 camera\n")) << log;
    const auto off = writes();
    ASSERT_EQ(off.size(), 1u);
    EXPECT_EQ(off.front(), std::make_pair(0x301Au, 0x0058u));
    EXPECT_FALSE(model_->state().streaming);
}

TEST_F(Ar330, ExposureAndGainBytes) {
    struct Case {
        QOR_UINT16 mode;
        QOR_UINT32 exposure;
        double gain;
        unsigned coarse, analogue, global;
    };
    const Case cases[] = {
        {4, 10000, 8.0, 0x0165, 0x2C2C, 160},
        {0, 10000, 3.0, 0x0083, 0x1A1A, 132},
        {0, 10000, 1.0, 0x0083, 0x0000, 128},
        {0, 10000, 0.5, 0x0083, 0x0000, 64},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.gain);
        ASSERT_EQ(Sensor_SetMode(handle_, c.mode, 0), QOR_RES_OK);
        // Straight to the driver: the API would clamp the gain into its range.
        ASSERT_EQ(handle_->SetExposureGain(handle_, c.exposure, c.gain, 0), QOR_RES_OK);
        EXPECT_EQ(model_->value(0x3012), c.coarse);
        EXPECT_EQ(model_->value(0x3060), c.analogue);
        EXPECT_EQ(model_->value(0x305E), c.global);
    }
    // More rows than the register holds (mode 4: 28 us rows): they saturate, and so does the exposure reported.
    ASSERT_EQ(Sensor_SetMode(handle_, 4, 0), QOR_RES_OK);
    ASSERT_EQ(handle_->SetExposureGain(handle_, 28u * 70000u, 1.0, 0), QOR_RES_OK);
    EXPECT_EQ(model_->value(0x3012), 0xFFFFu);
    QOR_UINT32 exposure = 0;
    ASSERT_EQ(Sensor_GetExposure(handle_, &exposure, 0), QOR_RES_OK);
    EXPECT_EQ(exposure, 28u * 0xFFFFu);
}

TEST_F(Ar330, BadInput) {
    SENSOR_MODE m{};
    QOR_RESULT r = QOR_RES_OK;
    logOf([&] {
        EXPECT_EQ(Sensor_SetMode(handle_, 15, 0), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(Sensor_GetMode(handle_, 15, &m), QOR_RES_NOT_SUPPORTED);
        EXPECT_EQ(Sensor_SetMode(handle_, AR330_SPECIAL_MODE, 0), QOR_RES_INVALID_PARAM);
    });

    // A good special file: mode 0's timing in a 1280 x 720 window.
    const std::string good = WriteFile("good.txt", "302A 5\n302C 4\n302E 4\n3030 2A\n31AC 0A0A\n3004 200\n3008 6FF\n"
                                                   "3002 19C\n3006 46B\n300C 3C4\n300A 2DA\n3012 2DA\n");
    ASSERT_EQ(AR330_LoadSpecialModeRegisters(handle_, good.c_str()), QOR_RES_OK);
    ASSERT_EQ(Sensor_GetMode(handle_, AR330_SPECIAL_MODE, &m), QOR_RES_OK);
    EXPECT_EQ(m.ui16Width, 1280);

    std::string big;
    for (int i = 0; i <= AR330_MAX_SPECIAL_REGISTERS; i++)
        big += "3086 0253\n";
    struct Case {
        const char *name;
        std::string text;
        QOR_RESULT result;
    };
    const Case cases[] = {
        {"empty", "", QOR_RES_FAILED},
        {"one pair", "301A 0058\n", QOR_RES_FAILED},
        {"not hex", "register value\nmore text\n", QOR_RES_FAILED},
        {"oversized", big, QOR_RES_FAILED},
        {"address 0xFFFF", "302A 5\nFFFF 0\n302C 4\n", QOR_RES_INVALID_PARAM},
        {"value beyond 16 bits", "302A 5\n302C 12345\n", QOR_RES_INVALID_PARAM},
        {"no clock", "3004 200\n3008 6FF\n", QOR_RES_NOT_SUPPORTED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = WriteFile("special.txt", c.text);
        logOf([&] { r = AR330_LoadSpecialModeRegisters(handle_, path.c_str()); });
        EXPECT_EQ(r, c.result);
        // The registers loaded before stay in force.
        ASSERT_EQ(Sensor_GetMode(handle_, AR330_SPECIAL_MODE, &m), QOR_RES_OK);
        EXPECT_EQ(m.ui16Width, 1280);
    }
    EXPECT_EQ(AR330_LoadSpecialModeRegisters(handle_, (Home() + "/missing.txt").c_str()), QOR_RES_INVALID_PARAM);

    // A write the sensor does not take stops Enable with a clear code, the port released.
    ASSERT_EQ(Sensor_SetMode(handle_, 0, 0), QOR_RES_OK);
    norva_sim::InjectI2cFault(0, norva_sim::I2cFault::ShortWrite);
    logOf([&] { r = Sensor_Enable(handle_); });
    EXPECT_EQ(r, QOR_RES_FAILED);
    EXPECT_FALSE(model_->state().streaming);
    SENSOR_STATUS st{};
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.eState, SENSOR_STATE_IDLE);
    EXPECT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
    EXPECT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
    norva_sim::InjectI2cFault(0, norva_sim::I2cFault::FailIoctl);
    logOf([&] { r = Sensor_SetMode(handle_, 0, 0); });
    EXPECT_EQ(r, QOR_RES_IO_FAILED);
}

} // namespace
