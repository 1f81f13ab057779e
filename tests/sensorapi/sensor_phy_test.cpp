#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "platform/sim_board.h"
#include "sensorapi/sensor_phy.h"
#include "support/board_fixture.h"

namespace {

class SensorPhy : public norva_test::BoardTest {};

TEST_F(SensorPhy, BoardTableLookups) {
    for (int n = 0; n < SENSOR_MIRAVO_TOTAL_NUM; n++) {
        ASSERT_NE(SensorPhyConfigPtr(static_cast<sensor_num>(n)), nullptr);
        EXPECT_EQ(SensorPhyConfigPtr(static_cast<sensor_num>(n))->sensor, n);
    }
    struct Row {
        sensor_num sensor;
        imager_num imager;
        QOR_UINT8 dev;
        QOR_UINT8 lanes;
    };
    const Row rows[] = {
        {SENSOR_MIRAVO_AR0330, IMAGER_MIRAVO_PARA0, 0, 0},          {SENSOR_MIRAVO_OV4689_0, IMAGER_MIRAVO_MIPI0, 0, 4},
        {SENSOR_MIRAVO_OV4689_1, IMAGER_MIRAVO_MIPI1, 1, 4},        {SENSOR_MIRAVO_OV5695_1, IMAGER_MIRAVO_MIPI1, 1, 2},
        {SENSOR_MIRAVO_OV5695_2, IMAGER_MIRAVO_MIPI1, 1, 2},        {SENSOR_MIRAVO_GC8034, IMAGER_MIRAVO_MIPI1, 1, 4},
        {SENSOR_MIRAVO_TOTAL_NUM, IMAGER_MIRAVO_TOTAL_NUM, 255, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.sensor);
        EXPECT_EQ(GetImagerNum(r.sensor), r.imager);
        EXPECT_EQ(GetDevNum(r.sensor), r.dev);
        if (r.sensor != SENSOR_MIRAVO_TOTAL_NUM)
            EXPECT_EQ(SensorPhyConfigPtr(r.sensor)->params.mipi_lanes, r.lanes);
        else
            EXPECT_EQ(SensorPhyConfigPtr(r.sensor), nullptr);
    }
    EXPECT_EQ(SensorPhyConfigPtr(SENSOR_MIRAVO_AR0330)->params.type, static_cast<QOR_UINT32>(SENSOR_IF_HISPI));
    EXPECT_EQ(SensorPhyConfigPtr(SENSOR_MIRAVO_AR0330)->params.num_phys, 1);
}

TEST_F(SensorPhy, FixedDevicePathsHonourTheBuffer) {
    char small[10];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(find_i2c_dev(small, sizeof small), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(small[0], 'x') << "nothing written into a buffer too small";
    char path[16];
    EXPECT_EQ(find_i2c_dev(path, 11), QOR_RES_OK);
    EXPECT_STREQ(path, "/dev/i2c-0");
    EXPECT_EQ(find_spi_dev(path, 14), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(find_spi_dev(path, 15), QOR_RES_OK);
    EXPECT_STREQ(path, "/dev/spidev1.3");
}

TEST_F(SensorPhy, SwitchingClaimsThePortAndWritesTheRecord) {
    EXPECT_EQ(SensorPhyInit(SENSOR_MIRAVO_TOTAL_NUM), nullptr) << "no row: device 255 does not exist";
    norva_sim::ClearBoardEvents();
    SENSOR_PHY *phy = SensorPhyInit(SENSOR_MIRAVO_OV4689_1);
    ASSERT_NE(phy, nullptr);
    EXPECT_EQ(norva_sim::BoardEvents(), std::vector<std::string>{"open /dev/sensor_phy1"});
    phy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_OV4689_1);
    const sensor_miravo_if_config saved = *phy->psConfig; // the board table is shared: restored at the end
    phy->psGasket->uiGasket = IMAGER_MIRAVO_MIPI1;

    // Without a connection the port cannot be claimed, and the PHY is left alone.
    EXPECT_NE(SensorPhyCtrl(phy, QOR_TRUE, 2, 0x02, 0), QOR_RES_OK);
    EXPECT_TRUE(norva_sim::PhyLog().empty());
    EXPECT_FALSE(norva_sim::GetPhyState(1).enabled);

    CI_CONNECTION *conn = nullptr;
    ASSERT_EQ(CI_DriverInit(&conn), QOR_RES_OK);
    SensorPhySetConnection(phy, conn);
    SensorPhySetConnection(phy, reinterpret_cast<CI_CONNECTION *>(0x1)); // a second one is ignored
    EXPECT_EQ(phy->psConnection, conn);
    phy->psConfig->params.mipi_osc_freq = 0x0123;
    ASSERT_EQ(SensorPhyCtrl(phy, QOR_TRUE, 2, 0x02, 0), QOR_RES_OK);
    ASSERT_EQ(SensorPhyCtrl(phy, QOR_FALSE, 0, 0, 0), QOR_RES_OK);
    const std::vector<norva_sim::PhyRecord> log = norva_sim::PhyLog();
    ASSERT_EQ(log.size(), 2u);
    const uint8_t on[32] = {8, 0, 0, 0, 1, 0, 0, 2, 0x02, 0, 0x23, 0x01, 0, 0, 0, 0,
                            0, 0, 0, 0, 0, 0, 0, 0, 0,    0, 0,    0,    0, 0, 0, 0};
    const uint8_t off[32] = {8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x23, 0x01, 0, 0, 0, 0,
                             0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    0,    0, 0, 0, 0};
    EXPECT_EQ(log[0].request, SENSOR_PHY_IOCTL_CONFIG);
    EXPECT_EQ(0, std::memcmp(log[0].record, on, 32));
    EXPECT_EQ(0, std::memcmp(log[1].record, off, 32));
    EXPECT_FALSE(norva_sim::GetPhyState(1).enabled);

    EXPECT_EQ(SensorPhySetGpioReset(phy, QOR_TRUE), QOR_RES_OK);
    EXPECT_EQ(norva_sim::PhyLog().back().request, SENSOR_PHY_IOCTL_RESET);
    EXPECT_EQ(norva_sim::PhyLog().back().record[28], 1);

    // A request the PHY driver refuses gives its -1, without a message of this layer.
    struct Refused {
        const char *what;
        std::function<QOR_RESULT()> request;
    };
    const Refused refused[] = {
        {"configure", [phy] { return SensorPhyCtrl(phy, QOR_TRUE, 2, 0x02, 0); }},
        {"reset line", [phy] { return SensorPhySetGpioReset(phy, QOR_FALSE); }},
        {"multiplexer", [phy] { return SensorPhySetMux(phy, QOR_TRUE); }},
    };
    for (const Refused &r : refused) {
        SCOPED_TRACE(r.what);
        norva_sim::FailNextPhyIoctl(1);
        QOR_RESULT ret = QOR_RES_OK;
        const std::string log = norva_test::logOf([&] { ret = r.request(); });
        EXPECT_EQ(ret, SENSOR_PHY_REFUSED);
        EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
    }
    ASSERT_EQ(SensorPhyCtrl(phy, QOR_FALSE, 0, 0, 0), QOR_RES_OK) << "the port claimed before the refusal is released";
    *phy->psConfig = saved;
    SensorPhyDeinit(phy);
    EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
}

} // namespace
