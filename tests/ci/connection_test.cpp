#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "ci/ci_api.h"
#include "ci/ci_connection_internal.h"
#include "ci/ci_datagen.h"
#include "ci/ci_ioctrl.h"
#include "ci/ci_pipeline.h"
#include "support/sim_fixture.h"
#include "support/output_capture.h"
#include "support/connection_members.h"

using norva_test::contains;
using norva_test::stderrOf;
using norva_test::stdoutOf;

using norva_sim::FaultMode;
using norva_test::SimTest;
using norva_test::stderrOf;
using norva_test::stdoutOf;

namespace {

class Connection : public SimTest {
protected:
    void TearDown() override {
        if (conn != nullptr) {
            EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
            conn = nullptr;
        }
        SimTest::TearDown();
    }

    void connect() {
        ASSERT_EQ(CI_DriverInit(&conn), QOR_RES_OK);
        ASSERT_NE(conn, nullptr);
    }

    CI_CONNECTION *conn = nullptr;
};

TEST_F(Connection, InitReadsTheDescriptionAndFinaliseLeavesNothing) {
    connect();
    const CI_CONNECTION expected = norva_sim::DefaultDescription();
    EXPECT_EQ(norva_test::DifferentMembers(*conn, expected), "");
    EXPECT_EQ(conn->sHWInfo.uiSizeOfPipeline, 16376u);
    EXPECT_EQ(norva_sim::GetCounters().openDescriptors, 1);

    const auto trace = norva_sim::Trace();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].request, 0x40082100ul);
    EXPECT_EQ(trace[0].nr, CI_INFO_GET);

    // Pipelines and data generators left on the connection are destroyed with it.
    CI_PIPELINE *pipe = nullptr;
    CI_DATAGEN *dg = nullptr;
    ASSERT_EQ(CI_PipelineCreate(&pipe, conn), QOR_RES_OK);
    ASSERT_EQ(CI_DatagenCreate(&dg, conn), QOR_RES_OK);
    EXPECT_EQ(List_nElem(&INT_ConnectionFromHandle(conn)->sList_pipelines), 1u);
    EXPECT_EQ(List_nElem(&INT_ConnectionFromHandle(conn)->sList_datagen), 1u);

    EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
    conn = nullptr;
    EXPECT_EQ(norva_sim::GetCounters().openDescriptors, 0);
    EXPECT_EQ(norva_sim::GetCounters().liveMappings, 0);
}

TEST_F(Connection, InitRefusals) {
    struct Case {
        const char *what;
        void (*arrange)();
        QOR_RESULT result;
        const char *message;
    };
    const Case cases[] = {
        {"device absent", [] { norva_sim::SetDeviceAbsent(true); }, QOR_RES_FAILED,
         "Failed to initialise the device\n"},
        {"pipeline size 16375", [] { norva_sim::IspDevice().description.sHWInfo.uiSizeOfPipeline = 16375; },
         QOR_RES_FAILED,
         "The kernel-side CI_PIPELINE driver is not compatible with the user-side. Are you using the correct "
         "driver/app?\n"},
        {"information refused", [] { norva_sim::InjectCommandFault(CI_INFO_GET, -ENOMEM); }, QOR_RES_NO_MEMORY,
         "Failed to ask for driver information (returned -12)\n"},
        {"information and close refused",
         [] {
             norva_sim::InjectCommandFault(CI_INFO_GET, -EINVAL);
             norva_sim::FailNextClose(EIO);
         },
         QOR_RES_INVALID_PARAM, "Failed to ask for driver information (returned -22)\n"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        norva_sim::ResetPlatform();
        k.arrange();
        CI_CONNECTION *c = nullptr;
        const std::string err = stderrOf([&] { EXPECT_EQ(CI_DriverInit(&c), k.result); });
        EXPECT_EQ(c, nullptr);
        EXPECT_TRUE(contains(err, "ERROR [CI_API]: CI_DriverInit():")) << err;
        EXPECT_TRUE(contains(err, k.message)) << err;
        EXPECT_EQ(norva_sim::GetCounters().openDescriptors, 0);
    }
    const std::string err = stderrOf([] { EXPECT_EQ(CI_DriverInit(nullptr), QOR_RES_INVALID_PARAM); });
    EXPECT_TRUE(contains(err, "ppConnection is NULL\n"));
    norva_sim::ResetPlatform();
    norva_sim::SetDeviceAbsent(true);
    CI_CONNECTION *c = nullptr;
    EXPECT_TRUE(contains(stderrOf([&] { CI_DriverInit(&c); }), "ERROR [SYS_USERIO]: SYS_IO_Open():"));
}

TEST_F(Connection, FinaliseFreesEverythingWhenTheCloseFails) {
    connect();
    norva_sim::FailNextClose(EIO);
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_FAILED); });
    conn = nullptr; // freed anyway: the leak checker of the sanitiser build would report it otherwise
    EXPECT_TRUE(contains(err, "Failed to close the device (returned -1)\n")) << err;
    EXPECT_EQ(norva_sim::GetCounters().openDescriptors, 0);

    EXPECT_TRUE(contains(stderrOf([] { EXPECT_EQ(CI_DriverFinalise(nullptr), QOR_RES_INVALID_PARAM); }),
                         "pConnection is NULL\n"));
}

TEST(ErrorMapping, Table) {
    const struct {
        int driverError;
        QOR_RESULT result;
    } rows[] = {{0, 0},
                {-EINVAL, 11},
                {-E2BIG, 21},
                {-EINTR, 8},
                {-EEXIST, 18},
                {-ENOMEM, 2},
                {-EADDRINUSE, 30},
                {-ECANCELED, 15},
                {-EALREADY, 16},
                {-EOPNOTSUPP, 22},
                {-ETIME, 1},
                {-EIO, 3},
                {-ENOTTY, 3},
                {-EBUSY, 3},
                {5, 3},
                {EINVAL, 3},
                {-1, 3}};
    for (const auto &r : rows)
        EXPECT_EQ(toQorResult(r.driverError), r.result) << r.driverError;
}

TEST_F(Connection, EveryErrnoRowThroughTheDevice) {
    connect();
    const struct {
        int error;
        QOR_RESULT result;
    } rows[] = {{EINVAL, 11},    {E2BIG, 21},    {EINTR, 8},       {EEXIST, 18}, {ENOMEM, 2}, {EADDRINUSE, 30},
                {ECANCELED, 15}, {EALREADY, 16}, {EOPNOTSUPP, 22}, {ETIME, 1},   {EIO, 3},    {ENOTTY, 3}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.error);
        norva_sim::InjectCommandFault(CI_TIMEST_GET, -r.error);
        QOR_UINT32 stamp = 1234;
        const std::string err = stderrOf([&] { EXPECT_EQ(CI_DriverGetTimestamp(conn, &stamp), r.result); });
        EXPECT_EQ(stamp, 1234u); // output untouched on failure
        EXPECT_TRUE(contains(err, "Failed to get the timestamp\n"));
    }
    QOR_UINT32 stamp = 0;
    EXPECT_EQ(CI_DriverGetTimestamp(conn, &stamp), QOR_RES_OK);
}

TEST_F(Connection, DebugRegistersAndMissingDebugSupport) {
    connect();
    EXPECT_EQ(CI_DriverDebugRegWrite(conn, 2, 0x40, 0xdeadbeef), QOR_RES_OK);
    QOR_UINT32 value = 0;
    EXPECT_EQ(CI_DriverDebugRegRead(conn, 2, 0x40, &value), QOR_RES_OK);
    EXPECT_EQ(value, 0xdeadbeefu);

    const auto trace = norva_sim::Trace();
    const norva_sim::TraceEntry &write = trace[trace.size() - 2];
    ASSERT_EQ(write.argIn.size(), sizeof(CI_DEBUG_REG_PARAM));
    CI_DEBUG_REG_PARAM sent;
    std::memcpy(&sent, write.argIn.data(), sizeof(sent));
    EXPECT_EQ(sent.bRead, 0);
    EXPECT_EQ(sent.eBank, 2);
    EXPECT_EQ(sent.ui32Offset, 0x40u);
    EXPECT_EQ(sent.ui32Value, 0xdeadbeefu);

    // -ENOTTY means "no debug support" here: 22, where any other command maps it to 3.
    norva_sim::InjectCommandFault(CI_DEBUG_REG, -ENOTTY, FaultMode::Always);
    std::string err = stderrOf([&] { EXPECT_EQ(CI_DriverDebugRegRead(conn, 0, 0, &value), QOR_RES_NOT_SUPPORTED); });
    EXPECT_TRUE(contains(err, "Kernel side does not support debug functions\n"));
    EXPECT_EQ(CI_DriverDebugRegWrite(conn, 0, 0, 1), QOR_RES_NOT_SUPPORTED);

    norva_sim::InjectCommandFault(CI_DEBUG_REG, -EINVAL, FaultMode::Always);
    err = stderrOf([&] { EXPECT_EQ(CI_DriverDebugRegRead(conn, 0, 0, &value), QOR_RES_INVALID_PARAM); });
    EXPECT_TRUE(contains(err, "Failed to read register value\n"));
    err = stderrOf([&] { EXPECT_EQ(CI_DriverDebugRegWrite(conn, 0, 0, 1), QOR_RES_INVALID_PARAM); });
    EXPECT_TRUE(contains(err, "Failed to write register value\n"));
}

TEST_F(Connection, SingleValuesAndReset) {
    connect();
    norva_sim::IspDevice().dpfInternalAvailable = 777;
    norva_sim::IspDevice().rtm.aRTMEntries[3] = 33;
    QOR_UINT64 t1 = 0, t2 = 0;
    QOR_UINT32 dpf = 0, stamp = 0;
    CI_RTM_INFO rtm{};
    EXPECT_EQ(CI_DriverGetSystemTime(conn, &t1), QOR_RES_OK);
    EXPECT_EQ(CI_DriverGetSystemTime(conn, &t2), QOR_RES_OK);
    EXPECT_GT(t1, 0u);
    EXPECT_GE(t2, t1);
    EXPECT_EQ(CI_DriverGetTimestamp(conn, &stamp), QOR_RES_OK);
    EXPECT_EQ(CI_DriverGetAvailableInternalDPFBuffer(conn, &dpf), QOR_RES_OK);
    EXPECT_EQ(dpf, 777u);
    EXPECT_EQ(CI_DriverGetRTMInfo(conn, &rtm), QOR_RES_OK);
    EXPECT_EQ(rtm.aRTMEntries[3], 33u);
    EXPECT_EQ(CI_DriverReset(conn), QOR_RES_OK);
    EXPECT_EQ(norva_sim::IspDevice().resets, 1u);
    EXPECT_EQ(norva_sim::Trace().back().value, 0);

    const struct {
        CI_eIOCTL nr;
        QOR_RESULT (*call)(CI_CONNECTION *);
        const char *message;
    } failures[] = {
        {CI_SYSTIME_GET,
         [](CI_CONNECTION *c) {
             QOR_UINT64 v;
             return CI_DriverGetSystemTime(c, &v);
         },
         "Failed to get the system time\n"},
        {CI_DPFINT_GET,
         [](CI_CONNECTION *c) {
             QOR_UINT32 v;
             return CI_DriverGetAvailableInternalDPFBuffer(c, &v);
         },
         "Failed to get the current DPF internal buffer value\n"},
        {CI_RTM_GET,
         [](CI_CONNECTION *c) {
             CI_RTM_INFO v;
             return CI_DriverGetRTMInfo(c, &v);
         },
         "Failed to get the RTM values\n"},
        {CI_RESET, [](CI_CONNECTION *c) { return CI_DriverReset(c); }, "Failed to reset ISP\n"},
        {CI_GMALUT_GET, [](CI_CONNECTION *c) { return CI_DriverGetGammaLUT(c); },
         "Failed to update the Gamma LUT information\n"},
        {CI_LINESTORE_GET, [](CI_CONNECTION *c) { return CI_DriverGetLinestore(c); },
         "Failed to update the linestore information\n"},
    };
    for (const auto &f : failures) {
        SCOPED_TRACE(f.message);
        norva_sim::InjectCommandFault(f.nr, -EADDRINUSE);
        const std::string err = stderrOf([&] { EXPECT_EQ(f.call(conn), QOR_RES_IN_USE); });
        EXPECT_TRUE(contains(err, f.message)) << err;
    }
}

TEST_F(Connection, NullArgumentsAreRefusedWithTheirMessage) {
    connect();
    const struct {
        QOR_RESULT (*call)(CI_CONNECTION *);
        bool nullConnection;
        const char *message;
    } cases[] = {
        {[](CI_CONNECTION *c) { return CI_DriverGetLinestore(c); }, true, "pConnection is NULL\n"},
        {[](CI_CONNECTION *c) {
             CI_LINESTORE l{};
             return CI_DriverVerifLinestore(c, c ? nullptr : &l);
         },
         false, "pLinestore or pConnection is NULL\n"},
        {[](CI_CONNECTION *c) { return CI_DriverSetLinestore(c, nullptr); }, false,
         "pLinestore or pConnection is NULL\n"},
        {[](CI_CONNECTION *c) { return CI_DriverGetGammaLUT(c); }, true, "pConnection is NULL\n"},
        {[](CI_CONNECTION *c) { return CI_DriverSetGammaLUT(c, nullptr); }, false,
         "pConnection or pNewGammaLUT is NULL\n"},
        {[](CI_CONNECTION *c) { return CI_DriverGetTimestamp(c, nullptr); }, false,
         "pConnection or puiCurrentStamp is NULL\n"},
        {[](CI_CONNECTION *c) { return CI_DriverGetSystemTime(c, nullptr); }, false,
         "pConnection or pui64SystemTime is NULL\n"},
        {[](CI_CONNECTION *c) {
             QOR_UINT32 v;
             return CI_DriverGetAvailableInternalDPFBuffer(c, &v);
         },
         true, "pConnection is NULL\n"},
        {[](CI_CONNECTION *c) { return CI_DriverGetAvailableInternalDPFBuffer(c, nullptr); }, false,
         "puiAvailableDPF is NULL\n"},
        {[](CI_CONNECTION *c) {
             CI_RTM_INFO v;
             return CI_DriverGetRTMInfo(c, &v);
         },
         true, "pConnection is NULL\n"},
        {[](CI_CONNECTION *c) { return CI_DriverGetRTMInfo(c, nullptr); }, false, "pRTM is NULL\n"},
        {[](CI_CONNECTION *c) { return CI_DriverDebugRegRead(c, 0, 0, nullptr); }, false,
         "pConnection or pResult is NULL\n"},
        {[](CI_CONNECTION *c) {
             (void)c;
             return CI_DriverDebugRegWrite(nullptr, 0, 0, 0);
         },
         false, "pConnection or pResult is NULL\n"},
        {[](CI_CONNECTION *c) { return CI_DriverReset(c); }, true, "pConnection is NULL\n"},
    };
    norva_sim::ClearTrace();
    for (const auto &k : cases) {
        SCOPED_TRACE(k.message);
        CI_CONNECTION *arg = k.nullConnection ? nullptr : conn;
        const std::string err = stderrOf([&] { EXPECT_EQ(k.call(arg), QOR_RES_INVALID_PARAM); });
        EXPECT_TRUE(contains(err, k.message)) << err;
    }
    EXPECT_TRUE(norva_sim::Trace().empty()); // nothing reached the driver
}

TEST_F(Connection, GammaTableGoesBothWays) {
    connect();
    CI_MODULE_GMA_LUT lut{};
    for (int i = 0; i < GMA_N_POINTS; ++i) {
        lut.aRedPoints[i] = static_cast<QOR_UINT16>(i);
        lut.aGreenPoints[i] = static_cast<QOR_UINT16>(2 * i);
        lut.aBluePoints[i] = static_cast<QOR_UINT16>(3 * i);
    }
    norva_sim::InjectCommandFault(CI_GMALUT_SET, -EINVAL);
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_DriverSetGammaLUT(conn, &lut), QOR_RES_INVALID_PARAM); });
    EXPECT_TRUE(contains(err, "Failed to set a new Gamma LUT\n"));
    EXPECT_NE(std::memcmp(&conn->sGammaLUT, &lut, sizeof(lut)), 0); // unchanged on failure

    EXPECT_EQ(CI_DriverSetGammaLUT(conn, &lut), QOR_RES_OK);
    EXPECT_EQ(std::memcmp(&conn->sGammaLUT, &lut, sizeof(lut)), 0);
    EXPECT_EQ(std::memcmp(&norva_sim::IspDevice().description.sGammaLUT, &lut, sizeof(lut)), 0);
    // Sending the connection's own table is allowed (no self-copy).
    EXPECT_EQ(CI_DriverSetGammaLUT(conn, &conn->sGammaLUT), QOR_RES_OK);

    norva_sim::IspDevice().description.sGammaLUT.aBluePoints[5] = 999;
    EXPECT_EQ(CI_DriverGetGammaLUT(conn), QOR_RES_OK);
    EXPECT_EQ(conn->sGammaLUT.aBluePoints[5], 999);
}

// Line-store examples on a line store of 1000 columns with single-context widths of 800.
class Linestore : public Connection {
protected:
    void SetUp() override {
        Connection::SetUp();
        CI_HWINFO &hw = norva_sim::IspDevice().description.sHWInfo;
        hw.ui32MaxLineStore = 1000;
        hw.context_aMaxWidthSingle[0] = 800;
        hw.context_aMaxWidthSingle[1] = 800;
        connect();
    }
};

TEST_F(Linestore, Verification) {
    struct Case {
        const char *what;
        QOR_INT32 start0, start1;
        QOR_RESULT result;
        QOR_UINT32 size0, size1;
        const char *message;
    };
    const Case cases[] = {
        {"context 0 disabled", -1, 100, 0, 0, 800, nullptr},
        {"cut at the other start", 0, 300, 0, 300, 700, nullptr},
        {"cut the other way round", 600, 0, 0, 400, 600, nullptr},
        {"start at the end", 1000, -1, 19, 0, 0,
         "context 0 linestore start (1000) is outside of the maximum possible linestore (1000)\n"},
        {"start beyond the end", -1, 1500, 19, 0, 0,
         "context 1 linestore start (1500) is outside of the maximum possible linestore (1000)\n"},
        {"same start", 200, 200, 3, 0, 0, "linestore for context 0 and 1 start at the same position\n"},
        {"both at 0 overlap", 0, 0, 3, 0, 0, "linestore for context 0 and 1 start at the same position\n"},
        {"all disabled", -1, -1, 3, 0, 0, "all context's linestore are disabled\n"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        CI_LINESTORE ls{};
        ls.aStart[0] = k.start0;
        ls.aStart[1] = k.start1;
        const std::string err = stderrOf([&] { EXPECT_EQ(CI_DriverVerifLinestore(conn, &ls), k.result); });
        if (k.result == 0) {
            EXPECT_EQ(ls.aSize[0], k.size0);
            EXPECT_EQ(ls.aSize[1], k.size1);
        } else {
            EXPECT_TRUE(contains(err, k.message)) << err;
        }
        if (k.result == 19) {
            EXPECT_TRUE(contains(err, "failed to compute linestores' size\n"));
        }
    }
    CI_LINESTORE ls{};
    ls.aStart[0] = -1;
    ls.aStart[1] = 100;
    EXPECT_EQ(stdoutOf([&] { CI_DriverVerifLinestore(conn, &ls); })
                  .find("INFO [CI_API]: CI_DriverVerifLinestore() "
                        "context 0 linestore disabled\n"),
              0u);
}

TEST_F(Linestore, NoContextMeansAllDisabled) {
    conn->sHWInfo.config_ui8NContexts = 0;
    CI_LINESTORE ls{};
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_DriverVerifLinestore(conn, &ls), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(err, "all context's linestore are disabled\n"));
}

TEST_F(Linestore, SetProposesToTheDriverAndGetReadsBack) {
    CI_LINESTORE ls{};
    ls.aStart[0] = 0;
    ls.aStart[1] = 300;
    EXPECT_EQ(CI_DriverSetLinestore(conn, &ls), QOR_RES_OK);
    EXPECT_EQ(conn->sLinestoreStatus.aSize[0], 300u);
    EXPECT_EQ(conn->sLinestoreStatus.aSize[1], 700u);
    const CI_LINESTORE &driver = norva_sim::IspDevice().description.sLinestoreStatus;
    EXPECT_EQ(driver.aStart[1], 300);
    EXPECT_EQ(driver.aSize[1], 700u);

    // The driver refuses while the context runs: the connection's copy stays as it was.
    norva_sim::IspDevice().description.sLinestoreStatus.aActive[0] = 1;
    CI_LINESTORE moved = ls;
    moved.aStart[0] = 50;
    std::string err = stderrOf([&] { EXPECT_EQ(CI_DriverSetLinestore(conn, &moved), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(err, "Failed to propose a new linestore\n")) << err;
    EXPECT_EQ(conn->sLinestoreStatus.aStart[0], 0);

    CI_LINESTORE wrong{};
    wrong.aStart[0] = wrong.aStart[1] = -1;
    err = stderrOf([&] { EXPECT_EQ(CI_DriverSetLinestore(conn, &wrong), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(err, "Given linestore is not correct\n"));

    EXPECT_EQ(CI_DriverGetLinestore(conn), QOR_RES_OK);
    EXPECT_EQ(conn->sLinestoreStatus.aActive[0], 1);
    EXPECT_EQ(conn->sLinestoreStatus.aSize[1], 700u);
    // Proposing the connection's own record works too.
    norva_sim::IspDevice().description.sLinestoreStatus.aActive[0] = 0;
    EXPECT_EQ(CI_DriverSetLinestore(conn, &conn->sLinestoreStatus), QOR_RES_OK);
}

TEST(LinestoreOverlap, BothAtZeroOnAWideLineStoreIsRefused) {
    // Two contexts of 2000 columns both at 0 on a line store of 4000 would share the same columns.
    CI_CONNECTION c{};
    c.sHWInfo.config_ui8NContexts = 2;
    c.sHWInfo.ui32MaxLineStore = 4000;
    c.sHWInfo.context_aMaxWidthSingle[0] = c.sHWInfo.context_aMaxWidthSingle[1] = 2000;
    CI_LINESTORE ls{};
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_DriverVerifLinestore(&c, &ls), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(err, "start at the same position")) << err;
}

} // namespace
