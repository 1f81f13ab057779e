#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "norvacommon/dyncmd.h"
#include "sensorapi/board_config.h"
#include "support/board_fixture.h"

namespace {

using norva_test::BoardKeys;
using norva_test::BoardWiring;
using norva_test::contains;

BoardKeys without(BoardKeys keys, const std::string &key) {
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        if (it->first == key) {
            keys.erase(it);
            break;
        }
    }
    return keys;
}

BoardKeys with(BoardKeys keys, const std::string &key, const std::string &value) {
    for (auto &kv : keys) {
        if (kv.first == key)
            kv.second = value;
    }
    return keys;
}

class BoardConfig : public norva_test::BoardTest {};

TEST_F(BoardConfig, SlotParameters) {
    const BoardKeys base = norva_test::KeysOf(BoardWiring{});
    const BoardKeys noDefaults = without(
        without(without(without(base, "-Board_reset_min_delay"), "-Board_pwdn_pulse_need"), "-Board_pwdn_min_delay"),
        "-Board_clock_frequency_divider");
    struct Case {
        const char *name;
        BoardKeys keys;
        QOR_UINT8 slot;
        QOR_RESULT result;
        std::string message;                             /* expected in the log ("" = no error) */
        std::function<void(const board_params &)> check; /* of the stored fields on success */
    };
    const std::vector<Case> cases = {
        {"slot 0", base, 0, 0, "",
         [](const board_params &p) {
             EXPECT_FLOAT_EQ(p.clk_freq, 27.0f);
             EXPECT_EQ(p.rst_need, 1);
             EXPECT_EQ(p.pwdn_value, 1);
             EXPECT_EQ(p.pwdn_pulse_need, 1);
             EXPECT_STREQ(p.i2c_dev_path, "/dev/i2c-1");
             EXPECT_EQ(p.gpio.reset_num, 10);
             EXPECT_EQ(p.gpio.pwdn_num, 11);
         }},
        {"slot 1 keys", base, 1, 0, "",
         [](const board_params &p) {
             EXPECT_STREQ(p.i2c_dev_path, "/dev/i2c-2");
             EXPECT_EQ(p.gpio.reset_num, 12);
             EXPECT_EQ(p.gpio.pwdn_num, 13);
         }},
        {"defaults", noDefaults, 0, 0, "",
         [](const board_params &p) {
             EXPECT_EQ(p.rst_min_delay, 1000);
             EXPECT_EQ(p.pwdn_pulse_need, 0);
             EXPECT_EQ(p.pwdn_min_delay, 1000);
             EXPECT_EQ(p.freq_divider, 1);
         }},
        {"clock 0", with(base, "-Board_clock_frequency", "0"), 0, 11,
         "Incorrect clock frequency 0.000000, must be positive\n", nullptr},
        {"divider 256", with(base, "-Board_clock_frequency_divider", "256"), 0, 0, "",
         [](const board_params &p) { EXPECT_EQ(p.freq_divider, 1); }},
        {"slot at the maximum", with(base, "-Board_max_sensors", "1"), 1, 11,
         "Imager number 1 not supported for this board!\n", nullptr},
        {"slot beyond the maximum", base, 3, 11, "Imager number 3 not supported for this board!\n", nullptr},
        {"no reset line", with(base, "-Sensor0_gpio_reset", "-1"), 0, 0, "",
         [](const board_params &p) { EXPECT_LT(p.gpio.reset_num, 0); }},
        {"line 200 refused", with(base, "-Sensor0_gpio_pwdn", "200"), 0, 11, "Sensor 0 powerdown gpio 200 out of range",
         nullptr},
        {"malformed key value", with(base, "-Board_reset_need", "1x"), 0, 11,
         "Board_reset_need parameter not defined!\n", nullptr},
        {"missing reset need", without(base, "-Board_reset_need"), 0, 11, "Board_reset_need parameter not defined!\n",
         nullptr},
        {"missing mux need", without(base, "-Board_mux_need"), 0, 11, "Board_mux_need parameter not defined!\n",
         nullptr},
        {"missing pwdn value", without(base, "-Board_pwdn_value"), 0, 11, "Board_pwdn_value parameter not defined!\n",
         nullptr},
        {"missing max sensors", without(base, "-Board_max_sensors"), 0, 11,
         "Board_max_sensors parameter not defined!\n", nullptr},
        {"missing clock", without(base, "-Board_clock_frequency"), 0, 11, "Clock frequency not defined!\n", nullptr},
        {"missing i2c", without(base, "-Sensor0_i2c"), 0, 11, "I2C port not defined!\n", nullptr},
        {"missing reset chip", without(base, "-Sensor0_gpiochip_reset"), 0, 11, "Reset gpiochip number not defined!\n",
         nullptr},
        {"missing reset line", without(base, "-Sensor0_gpio_reset"), 0, 11, "Reset gpio number not defined!\n",
         nullptr},
        {"missing pwdn chip", without(base, "-Sensor0_gpiochip_pwdn"), 0, 11,
         "Powerdown gpiochip number not defined!\n", nullptr},
        {"missing pwdn line", without(base, "-Sensor0_gpio_pwdn"), 0, 11, "Powerdown gpio number not defined!\n",
         nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        WriteHomeBoard(norva_test::TextOf(c.keys));
        board_params p;
        std::memset(&p, 0x5A, sizeof p);
        QOR_RESULT ret = -1;
        const std::string log = norva_test::logOf([&] { ret = GetBoardParameters(c.slot, &p); });
        EXPECT_EQ(ret, c.result);
        if (!c.message.empty())
            EXPECT_TRUE(contains(log, c.message)) << log;
        else
            EXPECT_FALSE(contains(log, "ERROR")) << log;
        if (c.check)
            c.check(p);
    }
}

// A user's file comes before the system's default, which comes before the file named after the board.
TEST_F(BoardConfig, LookupOrder) {
    auto clockFile = [](const char *clock) {
        return norva_test::TextOf(with(norva_test::KeysOf(BoardWiring{}), "-Board_clock_frequency", clock));
    };
    WriteModelBoard("simboard", clockFile("24"));
    board_params p;
    char path[100];
    ASSERT_EQ(GetBoardParameters(0, &p), 0);
    EXPECT_FLOAT_EQ(p.clk_freq, 24.0f);
    WriteEtcBoard(clockFile("25"));
    ASSERT_EQ(GetBoardParameters(0, &p), 0);
    EXPECT_FLOAT_EQ(p.clk_freq, 25.0f);
    WriteHomeBoard(clockFile("26"));
    ASSERT_EQ(GetBoardParameters(0, &p), 0);
    EXPECT_FLOAT_EQ(p.clk_freq, 26.0f);
    {
        // Without HOME there is no user file to look for: the system's default is used.
        norva_test::ScopedEnv noHome("HOME", nullptr);
        ASSERT_EQ(GetBoardParameters(0, &p), 0);
        EXPECT_FLOAT_EQ(p.clk_freq, 25.0f);
        std::string log = norva_test::logOf([&] { EXPECT_EQ(GetBoardConfig(path, sizeof path), 0); });
        EXPECT_STREQ(path, "/etc/norva/boardcfg/default.cfg");
        EXPECT_TRUE(contains(log, "Board file found: /etc/norva/boardcfg/default.cfg\n")) << log;
        DYNCMD_ReleaseParameters();
    }
}

TEST_F(BoardConfig, NoBoardFile) {
    board_params p;
    std::string log = norva_test::logOf([&] { EXPECT_EQ(GetBoardParameters(0, &p), 11); });
    EXPECT_TRUE(contains(log, "The board is simboard\n")) << log;
    EXPECT_TRUE(contains(log, "Failed to open board params file!\n")) << log;
    EXPECT_TRUE(contains(log, "Board 'simboard' not supported!\n")) << log;
    RemoveModel();
    char path[100];
    log = norva_test::logOf([&] { EXPECT_EQ(GetBoardConfig(path, sizeof path), 5); });
    EXPECT_TRUE(contains(log, "Failed to read device tree!\n")) << log;
    EXPECT_EQ(GetBoardParameters(0, &p), 11);
}

} // namespace

namespace {

// A long HOME is not cut: the user's file is found; a buffer too small for a candidate skips it, it never names
// another file.
TEST_F(BoardConfig, LongPaths) {
    const std::string deep = Home() + "/" + std::string(120, 'd');
    std::filesystem::create_directories(deep + "/.norva/boardcfg");
    std::ofstream(deep + "/.norva/boardcfg/default.cfg") << norva_test::TextOf(norva_test::KeysOf(BoardWiring{}));
    norva_test::ScopedEnv home("HOME", deep.c_str());
    board_params p;
    EXPECT_EQ(GetBoardParameters(0, &p), 0);
    char small[40];
    std::string log = norva_test::logOf([&] { EXPECT_EQ(GetBoardConfig(small, sizeof small), 11); });
    EXPECT_TRUE(contains(log, "board file path longer than 39 characters skipped\n")) << log;
}

} // namespace
