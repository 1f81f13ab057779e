#ifndef NORVA_TEST_BOARD_FIXTURE_H
#define NORVA_TEST_BOARD_FIXTURE_H

// A simulated board for sensor tests: a platform root and a HOME of the test's own, board files written from the
// board's wiring, the virtual clock on. Header-only: compiled by the programs that link the simulated platform.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ci/ci_gasket.h"
#include "platform/sim_board.h"
#include "platform/sim_isp.h"
#include "support/scoped_env.h"
#include "support/sim_fixture.h"

namespace norva_test {

/** Bytes as hex pairs parted by spaces ("30 0A 01"), as the tests write register entries. */
inline std::string HexOf(const std::vector<uint8_t> &bytes) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < bytes.size(); i++) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        s += b;
    }
    return s;
}

/** How one sensor slot is wired. */
struct SlotWiring {
    unsigned bus = 1;
    unsigned resetChip = 0;
    int resetLine = 10;
    unsigned pwdnChip = 0;
    int pwdnLine = 11;
};

/** The board: the "-Board_" keys and the slots. */
struct BoardWiring {
    unsigned resetNeed = 1;
    unsigned resetDelay = 1000;
    unsigned muxNeed = 0;
    unsigned pwdnValue = 1; /* level of the power-down line while the sensor is active */
    unsigned pwdnPulse = 1;
    unsigned pwdnDelay = 1000;
    unsigned maxSensors = 3;
    std::string clockMHz = "27.0";
    unsigned divider = 1;
    std::vector<SlotWiring> slots = {SlotWiring{}, SlotWiring{2, 0, 12, 0, 13}};
};

using BoardKeys = std::vector<std::pair<std::string, std::string>>;

/** The board file's keys in the order a board file lists them. */
inline BoardKeys KeysOf(const BoardWiring &w) {
    BoardKeys k = {{"-Board_reset_need", std::to_string(w.resetNeed)},
                   {"-Board_reset_min_delay", std::to_string(w.resetDelay)},
                   {"-Board_mux_need", std::to_string(w.muxNeed)},
                   {"-Board_pwdn_value", std::to_string(w.pwdnValue)},
                   {"-Board_pwdn_pulse_need", std::to_string(w.pwdnPulse)},
                   {"-Board_pwdn_min_delay", std::to_string(w.pwdnDelay)},
                   {"-Board_max_sensors", std::to_string(w.maxSensors)},
                   {"-Board_clock_frequency", w.clockMHz},
                   {"-Board_clock_frequency_divider", std::to_string(w.divider)}};
    for (size_t i = 0; i < w.slots.size(); i++) {
        const std::string s = "-Sensor" + std::to_string(i);
        const SlotWiring &slot = w.slots[i];
        k.push_back({s + "_i2c", std::to_string(slot.bus)});
        k.push_back({s + "_gpiochip_reset", std::to_string(slot.resetChip)});
        k.push_back({s + "_gpio_reset", std::to_string(slot.resetLine)});
        k.push_back({s + "_gpiochip_pwdn", std::to_string(slot.pwdnChip)});
        k.push_back({s + "_gpio_pwdn", std::to_string(slot.pwdnLine)});
    }
    return k;
}

inline std::string TextOf(const BoardKeys &keys) {
    std::string text = "# simulated board\n";
    for (const auto &kv : keys)
        text += kv.first + " " + kv.second + "   # " + kv.first.substr(1) + "\n";
    return text;
}

class BoardTest : public SimTest {
public:
    void SetUp() override {
        SimTest::SetUp();
        norva_sim::SetVirtualClock(true);
        const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
        base_ = testing::TempDir() + "board_" + info->test_suite_name() + "_" + info->name();
        std::filesystem::remove_all(base_);
        root_ = base_ + "/root";
        home_ = base_ + "/home";
        std::filesystem::create_directories(root_ + "/proc/device-tree");
        std::filesystem::create_directories(root_ + "/etc/norva/boardcfg");
        std::filesystem::create_directories(home_ + "/.norva/boardcfg");
        norva_sim::SetPlatformRoot(root_);
        homeEnv_ = std::make_unique<ScopedEnv>("HOME", home_.c_str());
        WriteModel("simboard");
        UseBoardIspDescription();
    }

    /** The board's ISP: imager ports 0 and 1 MIPI (4 lanes), 2 and 3 parallel. */
    static void UseBoardIspDescription() {
        CI_HWINFO &hw = norva_sim::IspDevice().description.sHWInfo;
        hw.config_ui8NImagers = 4;
        for (int i = 0; i < 4; i++) {
            hw.gasket_aType[i] = i < 2 ? CI_GASKET_MIPI : CI_GASKET_PARALLEL;
            hw.gasket_aImagerPortWidth[i] = i < 2 ? 4 : 12;
            hw.gasket_aMaxWidth[i] = 4096;
            hw.gasket_aBitDepth[i] = 12;
        }
    }
    void TearDown() override {
        homeEnv_.reset();
        SimTest::TearDown();
    }

    /** The device-tree model, NUL-terminated without a line end as the kernel writes it. */
    void WriteModel(const std::string &model) {
        std::ofstream(root_ + "/proc/device-tree/model", std::ios::binary).write(model.c_str(), model.size() + 1);
    }
    void RemoveModel() { std::filesystem::remove(root_ + "/proc/device-tree/model"); }
    void WriteHomeBoard(const std::string &text) { write(home_ + "/.norva/boardcfg/default.cfg", text); }
    void WriteEtcBoard(const std::string &text) { write(root_ + "/etc/norva/boardcfg/default.cfg", text); }
    void WriteModelBoard(const std::string &model, const std::string &text) {
        write(root_ + "/etc/norva/boardcfg/" + model + ".cfg", text);
    }
    /** The board file a user keeps, written from the wiring. */
    void WriteBoard(const BoardWiring &w) { WriteHomeBoard(TextOf(KeysOf(w))); }
    const std::string &Home() const { return home_; }

private:
    static void write(const std::string &path, const std::string &text) { std::ofstream(path) << text; }
    std::string base_, root_, home_;
    std::unique_ptr<ScopedEnv> homeEnv_;
};

} // namespace norva_test

#endif
