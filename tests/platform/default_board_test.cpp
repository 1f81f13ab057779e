// The simulated platform's default board: the sensors NORVA_SIM_SENSORS names at their positions, the platform files
// it serves from memory, the ISP it describes, a wrong value refused with its one message, and a fixture's own board
// taking over.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ci/ci_gasket.h"
#include "platform/sim_board.h"
#include "platform/sim_default_board.h"
#include "platform/sim_isp.h"
#include "platform/sim_lens.h"
#include "support/output_capture.h"
#include "support/scoped_env.h"
#include "support/sim_fixture.h"
#include "sys/sys_seam.h"

namespace {

using norva_test::ScopedEnv;

/** The whole text of a platform file as the stack reads it, or "(none)". */
std::string platformFile(const char *path) {
    FILE *f = SEAM_Fopen(path, "r");
    if (f == nullptr)
        return "(none)";
    std::string text;
    int c = 0;
    while ((c = std::fgetc(f)) != EOF)
        text.push_back(static_cast<char>(c));
    std::fclose(f);
    return text;
}

size_t lines(const std::string &text) {
    size_t n = 0;
    for (char c : text)
        n += c == '\n' ? 1 : 0;
    return n;
}

class DefaultBoard : public norva_test::SimTest {};

struct VariableCase {
    const char *name;  /* the case in CTest */
    const char *value; /* null: unset */
    std::vector<std::string> plugged;
    const char *error; /* the message's start, "" when accepted */
};

void PrintTo(const VariableCase &c, std::ostream *os) { *os << (c.value != nullptr ? c.value : "(unset)"); }
std::string CaseName(const testing::TestParamInfo<VariableCase> &info) { return info.param.name; }

class SensorsVariable : public DefaultBoard, public testing::WithParamInterface<VariableCase> {};

// Names at the positions they give, spaces and empty items ignored; unknown names, the data generator and two
// sensors at one imager port refused with a message naming the variable.
TEST_P(SensorsVariable, PlugsOrRefuses) {
    const VariableCase &c = GetParam();
    ScopedEnv env(norva_sim::kSensorsVariable, c.value);
    std::vector<std::string> names;
    std::string error;
    const bool ok = norva_sim::SensorsFromEnvironment(&names, &error);
    if (*c.error == '\0') {
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(names, c.plugged);
        const std::string log = norva_test::stderrOf([&] { EXPECT_TRUE(norva_sim::UseDefaultBoard()); });
        EXPECT_EQ(log, "");
        EXPECT_EQ(norva_sim::DefaultBoardSensors(), c.plugged);
        EXPECT_EQ(norva_sim::BoardEnvironmentError(), "");
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        const std::string log = norva_test::stderrOf([&] { EXPECT_FALSE(norva_sim::UseDefaultBoard()); });
        EXPECT_EQ(lines(log), 1u) << log;
        EXPECT_TRUE(norva_test::contains(log, "[SIM_BOARD]") && norva_test::contains(log, error + "\n")) << log;
        EXPECT_EQ(norva_sim::BoardEnvironmentError(), error);
        EXPECT_TRUE(norva_sim::DefaultBoardSensors().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, SensorsVariable,
    testing::Values(
        VariableCase{"Unset", nullptr, {"OV4689_0"}, ""}, VariableCase{"Empty", "", {}, ""},
        VariableCase{"TwoPorts", "OV4689_0,IMX219_1", {"OV4689_0", "IMX219_1"}, ""},
        VariableCase{"SpacesAndEmptyItems", " AR330 , OV4688,ZYNQ,", {"AR330", "OV4688", "ZYNQ"}, ""},
        VariableCase{"ThirdSlot", "OV5695_2,OV5695_0", {"OV5695_2", "OV5695_0"}, ""},
        VariableCase{"UnknownPosition",
                     "OV4689_2",
                     {},
                     "NORVA_SIM_SENSORS: unknown sensor \"OV4689_2\" (the board's sensors: AR330, OV4688, OV4689_0,"},
        VariableCase{"NamesAreExact", "imx219_0", {}, "NORVA_SIM_SENSORS: unknown sensor \"imx219_0\""},
        VariableCase{"DataGenerator", "DOR Idazida", {}, "NORVA_SIM_SENSORS: unknown sensor \"DOR Idazida\""},
        VariableCase{"Twice",
                     "OV4689_0,OV4689_0",
                     {},
                     "NORVA_SIM_SENSORS: \"OV4689_0\" and \"OV4689_0\" sit at one slot (imager port 0); one sensor per "
                     "slot"},
        VariableCase{"SharedPort",
                     "IMX219_1,OV5695_2",
                     {},
                     "NORVA_SIM_SENSORS: \"IMX219_1\" and \"OV5695_2\" sit at one slot (imager port 1)"},
        VariableCase{
            "FixedBusOnAPort", "OV4688,GC8034", {}, "NORVA_SIM_SENSORS: \"OV4688\" and \"GC8034\" sit at one slot"}),
    CaseName);

// The positions: one per registry name but the data generator, each slot on its own bus, the PHY feeding the port
// (the AR330's parallel port behind PHY 0).
TEST_F(DefaultBoard, PositionsFollowTheBoardTable) {
    const std::vector<norva_sim::BoardPosition> &p = norva_sim::DefaultBoardPositions();
    ASSERT_EQ(p.size(), 25u);
    for (const norva_sim::BoardPosition &pos : p) {
        SCOPED_TRACE(pos.name);
        if (pos.slot >= 0)
            EXPECT_EQ(pos.bus, static_cast<unsigned>(pos.slot) + 1);
        else
            EXPECT_EQ(pos.bus, 0u);
        if (std::strcmp(pos.name, "AR330") == 0) {
            EXPECT_EQ(pos.port, 2u);
            EXPECT_EQ(pos.phy, 0u);
        } else {
            EXPECT_EQ(pos.phy, pos.port);
        }
        const std::string name(pos.name);
        const std::string suffix = name.size() > 2 ? name.substr(name.size() - 2) : std::string();
        if (suffix == "_0" || suffix == "_1") {
            EXPECT_EQ(pos.port, suffix == "_0" ? 0u : 1u);
        }
    }
}

// The device-tree model and the board file come from memory, NUL-terminated and parseable; no other file of the
// board exists, nothing can be written; a platform root of a fixture's own takes the board over.
TEST_F(DefaultBoard, PlatformFilesFromMemory) {
    ScopedEnv env(norva_sim::kSensorsVariable, "IMX327");
    ASSERT_TRUE(norva_sim::UseDefaultBoard());
    EXPECT_EQ(platformFile("/proc/device-tree/model"), std::string("norva-simboard", 15));
    const std::string board = platformFile("/etc/norva/boardcfg/norva-simboard.cfg");
    for (const char *key : {"-Board_max_sensors 3\n", "-Board_clock_frequency 37.125\n", "-Sensor0_i2c 1\n",
                            "-Sensor1_gpio_reset 12\n", "-Sensor2_gpio_pwdn 15\n"})
        EXPECT_NE(board.find(key), std::string::npos) << key << " in\n" << board;
    EXPECT_EQ(platformFile("/etc/norva/boardcfg/default.cfg"), "(none)");
    errno = 0;
    EXPECT_EQ(SEAM_Fopen("/etc/norva/boardcfg/norva-simboard.cfg", "w"), nullptr);
    EXPECT_EQ(errno, EACCES);

    const std::string root = testing::TempDir() + "default_board_root";
    std::filesystem::create_directories(root + "/proc/device-tree");
    std::ofstream(root + "/proc/device-tree/model", std::ios::binary).write("own\0", 4);
    norva_sim::SetPlatformRoot(root);
    EXPECT_FALSE(norva_sim::DefaultBoardActive());
    EXPECT_EQ(platformFile("/proc/device-tree/model"), std::string("own", 4));
    EXPECT_EQ(platformFile("/etc/norva/boardcfg/norva-simboard.cfg"), "(none)");
    EXPECT_TRUE(norva_sim::DefaultBoardSensors().empty());
    std::filesystem::remove_all(root);
}

// The board's ISP has four imager ports and contexts as wide as its widest sensor; a reset takes the board down and
// gives the platform's own description back.
TEST_F(DefaultBoard, ResetTakesTheBoardDown) {
    ASSERT_EQ(norva_sim::IspDevice().description.sHWInfo.config_ui8NImagers, 2);
    ScopedEnv env(norva_sim::kSensorsVariable, "OV4689_0");
    ASSERT_TRUE(norva_sim::UseDefaultBoard());
    const CI_HWINFO &hw = norva_sim::IspDevice().description.sHWInfo;
    EXPECT_EQ(hw.config_ui8NImagers, 4);
    EXPECT_EQ(hw.gasket_aType[1], CI_GASKET_MIPI);
    EXPECT_EQ(hw.gasket_aType[2], CI_GASKET_PARALLEL);
    EXPECT_GE(hw.context_aMaxWidthSingle[0], 4640);
    norva_sim::BoardSensorView view;
    ASSERT_TRUE(norva_sim::DefaultBoardSensor("OV4689_0", &view));
    EXPECT_TRUE(view.registers);
    EXPECT_FALSE(view.powered) << "no line drives the sensor yet";
    EXPECT_FALSE(norva_sim::DefaultBoardSensor("OV4689_1", &view));

    norva_sim::ResetPlatform();
    EXPECT_FALSE(norva_sim::DefaultBoardActive());
    EXPECT_FALSE(norva_sim::DefaultBoardSensor("OV4689_0", &view));
    EXPECT_EQ(hw.config_ui8NImagers, 2);
    EXPECT_EQ(platformFile("/etc/norva/boardcfg/norva-simboard.cfg"), "(none)");
}

// The sensors with an actuator carry a focus lens in front of their port while they are plugged; a board built
// again without them takes the lenses off, and the ports render the sensor's frames as they are.
TEST_F(DefaultBoard, FocusLensesComeAndGoWithTheirSensors) {
    {
        ScopedEnv env(norva_sim::kSensorsVariable, "S5K3P9,GC8034");
        ASSERT_TRUE(norva_sim::UseDefaultBoard());
        // Both actuators at code 0, away from the codes where their lenses are sharp: both lenses blur.
        EXPECT_GT(norva_sim::LensBlurRadius(0), 1.0);
        EXPECT_GT(norva_sim::LensBlurRadius(1), 1.0);
    }
    ScopedEnv env(norva_sim::kSensorsVariable, "OV4689_0,OV4689_1");
    ASSERT_TRUE(norva_sim::UseDefaultBoard());
    EXPECT_EQ(norva_sim::LensBlurRadius(0), 0.0);
    EXPECT_EQ(norva_sim::LensBlurRadius(1), 0.0);
}

// With a wrong value the sensors' devices refuse to open, so a sensor fails at its first step; the message was
// logged once, when the board was built.
TEST_F(DefaultBoard, WrongEnvironmentRefusesSensorDevices) {
    ScopedEnv env(norva_sim::kSensorsVariable, "OV4689_0,OV4689_0");
    norva_test::stderrOf([] { EXPECT_FALSE(norva_sim::UseDefaultBoard()); });
    std::string log = norva_test::stderrOf([] {
        EXPECT_EQ(SEAM_Open("/dev/sensor_phy0", O_RDWR, 0), -1);
        EXPECT_EQ(SEAM_Open("/dev/i2c-1", O_RDWR, 0), -1);
    });
    EXPECT_EQ(log, "");
    EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
    EXPECT_EQ(norva_sim::I2cOpenDescriptors(), 0);
}

// A sensor that is not plugged: the first time nobody answers at an address of a bus, one message says what the
// board carries; a sensor there that is not powered is no such case.
TEST_F(DefaultBoard, NobodyAtTheAddressIsSaidOnce) {
    ScopedEnv env(norva_sim::kSensorsVariable, "OV4689_0");
    ASSERT_TRUE(norva_sim::UseDefaultBoard());
    const int fd = SEAM_Open("/dev/i2c-1", O_RDWR, 0);
    ASSERT_GE(fd, 0);
    const uint8_t address[] = {0x30, 0x0A};
    const std::string log = norva_test::stderrOf([&] {
        for (uintptr_t slave : {0x36u, 0x10u, 0x10u, 0x1Au}) {
            EXPECT_EQ(SEAM_Ioctl(fd, 0x703, reinterpret_cast<void *>(slave)), 0);
            EXPECT_EQ(SEAM_Write(fd, address, 2), -1);
        }
    });
    EXPECT_EQ(lines(log), 2u) << log;
    EXPECT_TRUE(norva_test::contains(
        log, "NORVA_SIM_SENSORS: no sensor answers at 0x10 on /dev/i2c-1; the board carries \"OV4689_0\"\n"))
        << log;
    EXPECT_TRUE(norva_test::contains(
        log, "NORVA_SIM_SENSORS: no sensor answers at 0x1a on /dev/i2c-1; the board carries \"OV4689_0\"\n"))
        << log;
    EXPECT_EQ(SEAM_Close(fd), 0);
}

} // namespace
