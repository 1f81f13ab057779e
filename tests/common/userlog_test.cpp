#include <gtest/gtest.h>

#include <string>

#include "norvacommon/userlog.h"
#include "support/scoped_env.h"

using norva_test::ScopedEnv;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

struct Captured {
    std::string out;
    std::string err;
};

template <typename F> Captured capture(F &&f) {
    CaptureStdout();
    CaptureStderr();
    f();
    fflush(stdout);
    fflush(stderr);
    Captured c;
    c.out = GetCapturedStdout();
    c.err = GetCapturedStderr();
    return c;
}

// Resets the level to the default with no environment in force.
class UserLog : public testing::Test {
protected:
    void SetUp() override {
        ScopedEnv none("NORVA_LOG_LEVEL", nullptr);
        LOG_SetLevel(LOG_LEVEL_INFO);
    }
    void TearDown() override { SetUp(); }
};

TEST_F(UserLog, LineFormatsAndStreams) {
    LOG_SetLevel(LOG_LEVEL_PERF);
    Captured c = capture([] {
        LOG_Error("fnE", 10, "TAG", "e %d\n", 1);
        LOG_Warning("fnW", 11, "TAG", "w\n");
        LOG_Info("fnI", 12, "TAG", "i\n");
        LOG_Debug("fnD", 13, "TAG", "d\n");
    });
    EXPECT_EQ(c.err, "ERROR [TAG]: fnE():10 e 1\nWARNING [TAG]: fnW() w\nDEBUG [TAG]: fnD():13 d\n");
    EXPECT_EQ(c.out, "INFO [TAG]: fnI() i\n");

    Captured p = capture([] { LOG_Perf("fnP", 14, "TAG", "p\n"); });
    // "PERF [TAG]: fnP() <sec>:<6-digit usec> p\n"
    ASSERT_EQ(p.out.rfind("PERF [TAG]: fnP() ", 0), 0u) << p.out;
    const std::string rest = p.out.substr(std::string("PERF [TAG]: fnP() ").size());
    const size_t colon = rest.find(':');
    ASSERT_NE(colon, std::string::npos);
    EXPECT_EQ(rest.substr(colon + 7), " p\n");
    for (size_t i = colon + 1; i < colon + 7; ++i)
        EXPECT_TRUE(isdigit(rest[i])) << rest;
}

TEST_F(UserLog, LevelFiltersEachKind) {
    struct Case {
        int level;
        bool error, warning, info, debug, perf;
    };
    const Case cases[] = {
        {-1, false, false, false, false, false}, {0, true, false, false, false, false},
        {1, true, true, false, false, false},    {2, true, true, true, false, false},
        {3, true, true, true, true, false},      {4, true, true, true, true, true},
        {7, true, true, true, true, true},
    };
    for (const Case &k : cases) {
        LOG_SetLevel(k.level);
        Captured c = capture([] {
            LOG_Error("f", 1, "T", "E\n");
            LOG_Warning("f", 1, "T", "W\n");
            LOG_Info("f", 1, "T", "I\n");
            LOG_Debug("f", 1, "T", "D\n");
            LOG_Perf("f", 1, "T", "P\n");
        });
        SCOPED_TRACE(k.level);
        EXPECT_EQ(c.err.find("ERROR") != std::string::npos, k.error);
        EXPECT_EQ(c.err.find("WARNING") != std::string::npos, k.warning);
        EXPECT_EQ(c.out.find("INFO") != std::string::npos, k.info);
        EXPECT_EQ(c.err.find("DEBUG") != std::string::npos, k.debug);
        EXPECT_EQ(c.out.find("PERF") != std::string::npos, k.perf);
    }
}

TEST_F(UserLog, EnvironmentValues) {
    struct Case {
        const char *env;
        int before;
        int expected;
        const char *stdoutText;
    };
    const Case cases[] = {
        {"5", 2, 2,
         "INFO [userlog]: LOG_ReadLogLevelFromEnv() Failed to apply log level 5: value is out of range [-1; 4]\n"},
        {"-2", 2, 2,
         "INFO [userlog]: LOG_ReadLogLevelFromEnv() Failed to apply log level -2: value is out of range [-1; 4]\n"},
        {"-1", 2, -1, ""},
        {"0", 2, 0, ""},
        {"3", 2, 3,
         "INFO [userlog]: LOG_ReadLogLevelFromEnv() Apply log level from the NORVA_LOG_LEVEL environment variable = "
         "3\n"},
        {"3x", 0, 3,
         "INFO [userlog]: LOG_ReadLogLevelFromEnv() Apply log level from the NORVA_LOG_LEVEL environment variable = "
         "3\n"},
        {"", 2, 0, ""},
        {"abc", 2, 0, ""},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.env);
        {
            ScopedEnv none("NORVA_LOG_LEVEL", nullptr);
            LOG_SetLevel(k.before);
        }
        ScopedEnv env("NORVA_LOG_LEVEL", k.env);
        Captured c = capture([] { LOG_ReadLogLevelFromEnv(); });
        EXPECT_EQ(LOG_GetLevel(), k.expected);
        EXPECT_EQ(c.out, k.stdoutText);
    }
}

TEST_F(UserLog, SetLevelClampsNegativeAndEnvironmentWins) {
    LOG_SetLevel(-5);
    EXPECT_EQ(LOG_GetLevel(), -1);
    LOG_SetLevel(9);
    EXPECT_EQ(LOG_GetLevel(), 9);
    {
        ScopedEnv env("NORVA_LOG_LEVEL", "3");
        capture([] { LOG_SetLevel(1); });
        EXPECT_EQ(LOG_GetLevel(), 3);
    }
    {
        ScopedEnv env("NORVA_LOG_LEVEL", "-1");
        Captured c = capture([] {
            LOG_SetLevel(4);
            LOG_Error("f", 1, "T", "hidden\n");
        });
        EXPECT_EQ(LOG_GetLevel(), -1);
        EXPECT_EQ(c.out + c.err, "");
    }
}

TEST_F(UserLog, LongMessageIsCutButKeepsItsNewline) {
    const std::string body(600, 'x');
    Captured c = capture([&] { LOG_Info("f", 1, "T", "%s\n", body.c_str()); });
    const std::string prefix = "INFO [T]: f() ";
    ASSERT_EQ(c.out.size(), prefix.size() + 511);
    EXPECT_EQ(c.out.substr(prefix.size(), 510), std::string(510, 'x'));
    EXPECT_EQ(c.out.back(), '\n');

    // Without a newline of its own a cut message gets none.
    Captured d = capture([&] { LOG_Info("f", 1, "T", "%s", body.c_str()); });
    EXPECT_EQ(d.out, prefix + std::string(511, 'x'));
}

} // namespace
