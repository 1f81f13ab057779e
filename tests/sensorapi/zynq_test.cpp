// The external MIPI generator board driver against the simulated board.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "platform/sim_board.h"
#include "platform/sim_standalone_sensors.h"
#include "sensorapi/sensorapi.h"
#include "support/board_fixture.h"

namespace {

using norva_test::contains;
using norva_test::logOf;

constexpr QOR_UINT16 kZynq = 20;

class Zynq : public norva_test::BoardTest {
public:
    void SetUp() override {
        BoardTest::SetUp();
        WriteBoard(board_);
        norva_sim::AttachZynqBoard(norva_sim::SensorWiring{});
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            EXPECT_EQ(Sensor_Destroy(handle_), QOR_RES_OK);
        }
        if (conn_ != nullptr) {
            EXPECT_EQ(CI_DriverFinalise(conn_), QOR_RES_OK);
        }
        EXPECT_EQ(norva_sim::GpioOpenChips(), 0);
        EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
        BoardTest::TearDown();
    }
    /** The power-down and reset line levels. */
    static std::pair<int, int> lines() { return {norva_sim::GpioLevel(0, 11), norva_sim::GpioLevel(0, 10)}; }

    norva_test::BoardWiring board_;
    SENSOR_HANDLE handle_ = nullptr;
    CI_CONNECTION *conn_ = nullptr;
};

TEST_F(Zynq, LinesFollowCreateEnableDisable) {
    ASSERT_EQ(Sensor_Initialise(kZynq, &handle_), QOR_RES_OK);
    EXPECT_EQ(lines(), std::make_pair(0, 0));
    SENSOR_STATUS st{};
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.eState, SENSOR_STATE_UNINITIALISED);
    // With a connection the camera can use it.
    ASSERT_EQ(CI_DriverInit(&conn_), QOR_RES_OK);
    ASSERT_EQ(Sensor_SetPhyConnection(handle_, conn_), QOR_RES_OK);
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.eState, SENSOR_STATE_IDLE);
    QOR_UINT32 exposure = 0;
    EXPECT_EQ(Sensor_GetExposure(handle_, &exposure, 0), QOR_RES_OK);
    EXPECT_EQ(exposure, 1u);

    ASSERT_EQ(Sensor_SetMode(handle_, 1, 0), QOR_RES_OK);
    std::string log = logOf([&] { ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK); });
    EXPECT_TRUE(contains(log, "Enabling zynq data generator!\n")) << log;
    EXPECT_EQ(lines(), std::make_pair(1, 1));
    const norva_sim::ZynqState z = norva_sim::GetZynqState();
    EXPECT_TRUE(z.streaming);
    EXPECT_EQ(z.width, 640u);
    EXPECT_EQ(z.height, 480u);
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.eState, SENSOR_STATE_RUNNING);

    ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
    EXPECT_EQ(lines(), std::make_pair(0, 0));
    EXPECT_FALSE(norva_sim::GetZynqState().streaming);
    EXPECT_FALSE(norva_sim::GetPhyState(0).enabled);
}

TEST_F(Zynq, ModeRows) {
    ASSERT_EQ(Sensor_Initialise(kZynq, &handle_), QOR_RES_OK);
    const struct { QOR_UINT16 width, height; } rows[] = {{64, 64}, {640, 480}};
    for (QOR_UINT16 m = 0; m < 2; m++) {
        SCOPED_TRACE(m);
        SENSOR_MODE mode{};
        ASSERT_EQ(Sensor_GetMode(handle_, m, &mode), QOR_RES_OK);
        EXPECT_EQ(mode.ui16Width, rows[m].width);
        EXPECT_EQ(mode.ui16Height, rows[m].height);
        EXPECT_EQ(mode.ui8BitDepth, 8);
        EXPECT_DOUBLE_EQ(mode.flTrow, 78.0);
        EXPECT_DOUBLE_EQ(mode.flFrameRate, 30.0);
        EXPECT_EQ(mode.ui8MipiLanes, 2);
        EXPECT_EQ(mode.ui8MipiHsFreqRange, 9);
        EXPECT_EQ(mode.ui32ExposureMin, 1u);
        EXPECT_EQ(mode.ui32ExposureMax, 1u);
    }
    SENSOR_INFO info;
    ASSERT_EQ(Sensor_GetInfo(handle_, &info), QOR_RES_OK);
    EXPECT_STREQ(info.pszSensorName, "ZYNQ");
    EXPECT_EQ(info.eBayerOriginal, MOSAIC_RGGB);
}

TEST_F(Zynq, BadInput) {
    ASSERT_EQ(Sensor_Initialise(kZynq, &handle_), QOR_RES_OK);
    ASSERT_EQ(CI_DriverInit(&conn_), QOR_RES_OK);
    ASSERT_EQ(Sensor_SetPhyConnection(handle_, conn_), QOR_RES_OK);
    SENSOR_MODE m{};
    logOf([&] {
        EXPECT_EQ(Sensor_SetMode(handle_, 2, 0), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(Sensor_GetMode(handle_, 2, &m), QOR_RES_NOT_SUPPORTED);
        EXPECT_EQ(Sensor_SetMode(handle_, 1, 0), QOR_RES_OK);
        EXPECT_EQ(Sensor_SetMode(handle_, 0, 1), QOR_RES_NOT_SUPPORTED);
    });
    SENSOR_STATUS st{};
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.ui16CurrentMode, 1);

    // A line that does not follow: Enable fails and nothing is left on.
    norva_sim::InjectGpioFault(0, 10, norva_sim::GpioFault::Set);
    QOR_RESULT r = QOR_RES_OK;
    logOf([&] { r = Sensor_Enable(handle_); });
    EXPECT_EQ(r, QOR_RES_DEVICE_FAILED);
    ASSERT_EQ(Sensor_GetState(handle_, &st), QOR_RES_OK);
    EXPECT_EQ(st.eState, SENSOR_STATE_IDLE);
    EXPECT_FALSE(norva_sim::GetPhyState(0).enabled);
    EXPECT_EQ(norva_sim::GpioLevel(0, 11), 0);
}

TEST_F(Zynq, CreationFailures) {
    struct Case {
        const char *name;
        std::function<void(Zynq &)> arrange;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"board file missing", [](Zynq &t) { t.WriteHomeBoard("# empty\n"); }, ""},
        {"no power-down line",
         [](Zynq &t) {
             t.board_.slots[0].pwdnLine = -1;
             t.WriteBoard(t.board_);
         },
         "PWDN GPIO is not defined\n"},
        {"no reset line",
         [](Zynq &t) {
             t.board_.slots[0].resetLine = -1;
             t.WriteBoard(t.board_);
         },
         "RESET GPIO is not defined\n"},
        {"PHY", [](Zynq &) { norva_sim::SetPhyAbsent(0, true); }, "Failed to create sensor phy!\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        norva_sim::ResetBoard();
        UseBoardIspDescription();
        board_ = norva_test::BoardWiring{};
        WriteBoard(board_);
        c.arrange(*this);
        SENSOR_HANDLE h = reinterpret_cast<SENSOR_HANDLE>(&h);
        QOR_RESULT r = QOR_RES_OK;
        const std::string log = logOf([&] { r = Sensor_Initialise(kZynq, &h); });
        EXPECT_EQ(r, QOR_RES_DEVICE_FAILED);
        EXPECT_EQ(h, nullptr);
        EXPECT_TRUE(contains(log, c.message)) << log;
        EXPECT_EQ(norva_sim::GpioOpenChips(), 0);
        EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
    }
}

} // namespace
