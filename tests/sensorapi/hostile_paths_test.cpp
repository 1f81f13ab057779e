// Board files and register lists named by hostile paths: each reader answers at once, in a child process that must
// finish within seconds, and a path that is there but cannot be read is named in the log.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unistd.h>

#include "ci/ci_api.h"
#include "norvacommon/dyncmd.h"
#include "platform/sim_standalone_sensors.h"
#include "sensorapi/board_config.h"
#include "sensorapi/sensorapi.h"
#include "sensors/ar330.h"
#include "support/board_fixture.h"
#include "support/hostile_files.h"
#include "support/output_capture.h"

namespace {

using norva_test::BoardWiring;
using norva_test::contains;
using norva_test::HostileFiles;
using norva_test::logOf;

class HostileBoardFile : public norva_test::BoardTest {
protected:
    std::string UserBoardFile() const { return Home() + "/.norva/boardcfg/default.cfg"; }
};

/**
 * The user's board file is the hostile path and no other board file exists: the lookup fails as without any file,
 * naming the path that is there but not a file it reads. An empty file reads as a board without keys.
 */
TEST_F(HostileBoardFile, UserBoardFileThatCannotBeReadIsNamed) {
    const HostileFiles hostile;
    if (!hostile.skipped().empty())
        std::printf("not checked: %s\n", hostile.skipped().c_str());
    for (const HostileFiles::Entry &e : hostile.all()) {
        std::remove(UserBoardFile().c_str());
        ASSERT_EQ(symlink(e.path.c_str(), UserBoardFile().c_str()), 0);
        std::string expected;
        switch (e.kind) {
        case HostileFiles::MISSING:
            expected = "Failed to open board params file!";
            break;
        case HostileFiles::EMPTY:
            expected = "Board_reset_need parameter not defined!";
            break;
        case HostileFiles::UNREADABLE:
            expected = "cannot read '" + UserBoardFile() + "'";
            break;
        default:
            expected = "'" + UserBoardFile() + "' is not a regular file";
            break;
        }
        EXPECT_TRUE(norva_test::ReturnsTrueWithin(10, e,
                                                  [&](const char *) {
                                                      board_params p;
                                                      QOR_RESULT r = QOR_RES_OK;
                                                      const std::string log =
                                                          logOf([&] { r = GetBoardParameters(0, &p); });
                                                      return r == QOR_RES_INVALID_PARAM && contains(log, expected);
                                                  }))
            << e.what << " (expected \"" << expected << "\")";
    }
}

/** A user's file that is a directory is no board file: it is named, and the system's default is read instead. */
TEST_F(HostileBoardFile, DirectoryInPlaceOfTheUserFileLeavesTheSystemDefault) {
    std::filesystem::create_directories(UserBoardFile());
    WriteEtcBoard(norva_test::TextOf(norva_test::KeysOf(BoardWiring{})));
    board_params p;
    QOR_RESULT r = QOR_RES_FAILED;
    const std::string log = logOf([&] { r = GetBoardParameters(0, &p); });
    EXPECT_EQ(r, QOR_RES_OK);
    EXPECT_TRUE(contains(log, "'" + UserBoardFile() + "' is not a regular file\n")) << log;
    EXPECT_TRUE(contains(log, "Board file found: /etc/norva/boardcfg/default.cfg\n")) << log;
    EXPECT_FLOAT_EQ(p.clk_freq, 27.0f);
}

/** The AR330's register list of its special mode, read from a file the caller names. */
class HostileRegisterList : public norva_test::BoardTest {
public:
    void SetUp() override {
        BoardTest::SetUp();
        model_ = norva_sim::AttachAr330();
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
        BoardTest::TearDown();
    }

protected:
    static constexpr QOR_UINT16 kAr330 = 1;
    std::shared_ptr<norva_sim::Ar330Model> model_;
    SENSOR_HANDLE handle_ = nullptr;
    CI_CONNECTION *conn_ = nullptr;
};

TEST_F(HostileRegisterList, RefusedAtOnce) {
    const HostileFiles hostile;
    for (const HostileFiles::Entry &e : hostile.all()) {
        const bool empty = e.kind == HostileFiles::EMPTY;
        EXPECT_TRUE(norva_test::ReturnsTrueWithin(10, e, [&](const char *path) {
            QOR_RESULT r = QOR_RES_OK;
            const std::string log = logOf([&] { r = AR330_LoadSpecialModeRegisters(handle_, path); });
            if (empty)
                return r == QOR_RES_FAILED;
            return r == QOR_RES_INVALID_PARAM && contains(log, "Failed to open '" + e.path + "'");
        })) << e.what;
    }
}

} // namespace
