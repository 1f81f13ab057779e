// The process-wide driver connection reference: opened by the first reference, closed with the last,
// also when references are taken and given back from several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include "ci/ci_ioctrl.h"
#include "ispc/Connection.h"
#include "support/scripted_sensor.h"
#include "sim_platform_fixture.h"

using ISPC::CI_Connection;
using norva_test::CaptureLog;
using norva_test::LogLine;

namespace {

class ConnectionReference : public norva_test::IspcSimTest {};

LogLine connectionError(const char *function, const char *message) {
    return LogLine{"ERROR", "ISPC_CONNECTION", function, message};
}

TEST_F(ConnectionReference, DeviceOpenedOnceAndClosedWithTheLastReference) {
    std::unique_ptr<CI_Connection> first(new CI_Connection());
    ASSERT_NE(first->getConnection(), nullptr);
    EXPECT_EQ(first->getNConnections(), 1);
    EXPECT_EQ(openDescriptors(), 1);

    std::unique_ptr<CI_Connection> second(new CI_Connection());
    EXPECT_EQ(second->getConnection(), first->getConnection());
    EXPECT_EQ(second->getNConnections(), 2);
    EXPECT_EQ(openDescriptors(), 1);
    EXPECT_EQ(deviceOpens(), 1);

    first.reset();
    EXPECT_EQ(second->getNConnections(), 1);
    EXPECT_EQ(openDescriptors(), 1);
    ASSERT_NE(second->getConnection(), nullptr);
    EXPECT_EQ(second->getConnection()->sHWInfo.uiSizeOfPipeline, 16376u); // still the live description

    second.reset();
    EXPECT_EQ(openDescriptors(), 0);

    // A later reference opens the device again.
    CI_Connection third;
    EXPECT_NE(third.getConnection(), nullptr);
    EXPECT_EQ(third.getNConnections(), 1);
    EXPECT_EQ(deviceOpens(), 2);
}

TEST_F(ConnectionReference, AFailedOpenHoldsNoReference) {
    struct Case {
        const char *what;
        void (*arrange)();
    };
    const Case cases[] = {
        {"device absent", [] { norva_sim::SetDeviceAbsent(true); }},
        {"description refused", [] { norva_sim::InjectCommandFault(CI_INFO_GET, -EIO); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        norva_sim::ResetPlatform();
        c.arrange();
        std::vector<LogLine> log = CaptureLog([] {
            CI_Connection failed;
            EXPECT_EQ(failed.getConnection(), nullptr);
            EXPECT_EQ(failed.getNConnections(), 0);
            EXPECT_EQ(openDescriptors(), 0);
        });
        // The failure is reported once; giving back a reference never taken is not attempted.
        std::vector<LogLine> mine;
        for (const LogLine &l : log) {
            if (l.tag == "ISPC_CONNECTION")
                mine.push_back(l);
        }
        EXPECT_EQ(mine, (std::vector<LogLine>{connectionError("connect", "Unable to initialize connection to CI"),
                                              connectionError("CI_Connection", "Failed to connect (returned 3)")}));

        // The device comes back: the next reference opens it.
        norva_sim::ResetPlatform();
        CI_Connection ok;
        EXPECT_NE(ok.getConnection(), nullptr);
        EXPECT_EQ(ok.getNConnections(), 1);
    }
}

TEST_F(ConnectionReference, DisconnectWithoutAReferenceIsRefused) {
    std::vector<LogLine> log = CaptureLog([] { EXPECT_EQ(CI_Connection::disconnect(), QOR_RES_FAILED); });
    EXPECT_EQ(log, (std::vector<LogLine>{connectionError(
                       "disconnect", "Unable to close connection to CI (invalid connection counter)")}));

    // The refusal left the count alone: one reference still opens and closes the device.
    {
        CI_Connection ref;
        EXPECT_EQ(ref.getNConnections(), 1);
    }
    EXPECT_EQ(openDescriptors(), 0);
}

TEST_F(ConnectionReference, AFailingCloseStillDropsTheConnection) {
    std::unique_ptr<CI_Connection> ref(new CI_Connection());
    ASSERT_NE(ref->getConnection(), nullptr);
    norva_sim::FailNextClose(EIO);
    std::vector<LogLine> log = CaptureLog([&] { ref.reset(); });
    EXPECT_NE(std::find(log.begin(), log.end(), connectionError("disconnect", "Error closing CI connection")),
              log.end());
    EXPECT_EQ(openDescriptors(), 0);

    CI_Connection again;
    EXPECT_NE(again.getConnection(), nullptr);
    EXPECT_EQ(again.getNConnections(), 1);
    EXPECT_EQ(deviceOpens(), 2);
}

// References taken and given back from several threads: never two opens at once, never a close under a
// live reference, nothing left open at the end.
TEST_F(ConnectionReference, ThreadsShareOneConnection) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 200;
    for (bool holdOne : {true, false}) {
        SCOPED_TRACE(holdOne ? "a reference held throughout" : "no reference held");
        norva_sim::ResetPlatform();
        std::unique_ptr<CI_Connection> held(holdOne ? new CI_Connection() : nullptr);
        const CI_CONNECTION *heldConnection = held ? held->getConnection() : nullptr;

        std::atomic<int> failures{0};
        std::atomic<int> live{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; t++) {
            threads.emplace_back([&] {
                for (int i = 0; i < kRounds; i++) {
                    CI_Connection ref;
                    live++;
                    const CI_CONNECTION *c = ref.getConnection();
                    // While this reference lives the connection is open and counted.
                    if (c == nullptr || c->sHWInfo.uiSizeOfPipeline != 16376u || ref.getNConnections() < 1 ||
                        (heldConnection != nullptr && c != heldConnection) || openDescriptors() != 1) {
                        failures++;
                    }
                    live--;
                }
            });
        }
        for (std::thread &t : threads)
            t.join();
        EXPECT_EQ(failures.load(), 0);

        if (holdOne) {
            EXPECT_EQ(deviceOpens(), 1);
            EXPECT_EQ(held->getNConnections(), 1);
            EXPECT_EQ(openDescriptors(), 1);
            held.reset();
        }
        EXPECT_EQ(CI_Connection().getNConnections(), 1); // the count returned to 0 before this one
        EXPECT_EQ(openDescriptors(), 0);
    }
}

} // namespace
