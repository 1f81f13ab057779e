#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "ci/ci_api.h"
#include "ci/ci_datagen.h"
#include "ci/ci_gasket.h"
#include "ci/ci_ioctrl.h"
#include "support/sim_fixture.h"
#include "support/output_capture.h"
#include "support/same_members.h"

using norva_test::contains;
using norva_test::stderrOf;

using norva_test::SimTest;
using norva_test::stderrOf;

namespace {

class Gasket : public SimTest {
public:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(CI_DriverInit(&conn), QOR_RES_OK);
    }
    void TearDown() override {
        norva_sim::ClearCommandFaults();
        if (conn != nullptr) {
            EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
        }
        SimTest::TearDown();
    }

    /** The default description: gasket 0 MIPI (4 lanes), gasket 1 parallel 12-bit, both at most 4096 wide. */
    static CI_GASKET mipi() {
        CI_GASKET g;
        CI_GasketInit(&g);
        g.uiGasket = 0;
        g.uiWidth = 1920;
        g.uiHeight = 1080;
        return g;
    }
    static CI_GASKET parallel() {
        CI_GASKET g = mipi();
        g.uiGasket = 1;
        g.bParallel = 1;
        g.bVSync = 1;
        g.bHSync = 1;
        g.ui8ParallelBitdepth = 12;
        return g;
    }

    CI_CONNECTION *conn = nullptr;
};

TEST_F(Gasket, InitClearsEveryFieldIncludingTheIndex) {
    CI_GASKET g;
    std::memset(&g, 0xA5, sizeof(g));
    ASSERT_EQ(CI_GasketInit(&g), QOR_RES_OK);
    EXPECT_EQ(g.uiGasket, 0); // gasket 0 is a real gasket: callers set the index afterwards
    EXPECT_EQ(g.bParallel, 0);
    EXPECT_EQ(g.uiWidth, 0);
    EXPECT_EQ(g.uiHeight, 0);
    EXPECT_EQ(g.bVSync, 0);
    EXPECT_EQ(g.bHSync, 0);
    EXPECT_EQ(g.ui8ParallelBitdepth, 0);
}

TEST_F(Gasket, AcquireInfoRelease) {
    CI_GASKET m = mipi(), p = parallel();
    ASSERT_EQ(CI_GasketAcquire(&m, conn), QOR_RES_OK);
    ASSERT_EQ(CI_GasketAcquire(&p, conn), QOR_RES_OK);
    EXPECT_EQ(norva_sim::GetCounters().driverObjects, 2);

    // The record reaches the device byte for byte.
    const auto trace = norva_sim::Trace();
    ASSERT_GE(trace.size(), 2u);
    ASSERT_EQ(trace[trace.size() - 1].argIn.size(), sizeof(CI_GASKET));
    EXPECT_EQ(std::memcmp(trace[trace.size() - 1].argIn.data(), &p, sizeof(p)), 0);

    CI_GASKET_INFO info;
    ASSERT_EQ(CI_GasketGetInfo(&info, 0, conn), QOR_RES_OK);
    EXPECT_EQ(info.eType, CI_GASKET_MIPI);
    EXPECT_EQ(info.ui32FrameCount, 0u);
    EXPECT_EQ(info.ui8MipiEnabledLanes, 4);
    EXPECT_EQ(info.ui8MipiCrcError + info.ui8MipiHdrError + info.ui8MipiEccError + info.ui8MipiEccCorrected, 0);
    ASSERT_EQ(CI_GasketGetInfo(&info, 1, conn), QOR_RES_OK);
    EXPECT_EQ(info.eType, CI_GASKET_PARALLEL);
    EXPECT_EQ(info.ui8MipiEnabledLanes, 0);

    ASSERT_EQ(CI_GasketRelease(&m, conn), QOR_RES_OK);
    ASSERT_EQ(CI_GasketRelease(&p, conn), QOR_RES_OK);
    ASSERT_EQ(CI_GasketGetInfo(&info, 0, conn), QOR_RES_OK);
    EXPECT_EQ(info.ui8MipiEnabledLanes, 0); // released: no lane enabled
    EXPECT_EQ(norva_sim::GetCounters().driverObjects, 0);
    // Released ports can be claimed again.
    ASSERT_EQ(CI_GasketAcquire(&m, conn), QOR_RES_OK);
    ASSERT_EQ(CI_GasketRelease(&m, conn), QOR_RES_OK);
}

TEST_F(Gasket, Refusals) {
    struct Case {
        const char *what;
        std::function<QOR_RESULT(Gasket &)> act;
        QOR_RESULT result;
        const char *message;
    };
    const Case cases[] = {
        {"init: null", [](Gasket &) { return CI_GasketInit(nullptr); }, 11, "pGasket is NULL\n"},
        {"acquire: null gasket", [](Gasket &t) { return CI_GasketAcquire(nullptr, t.conn); }, 11,
         "pGasket or pConnection is NULL\n"},
        {"acquire: null connection",
         [](Gasket &) {
             CI_GASKET g = mipi();
             return CI_GasketAcquire(&g, nullptr);
         },
         11, "pGasket or pConnection is NULL\n"},
        {"release: null", [](Gasket &t) { return CI_GasketRelease(nullptr, t.conn); }, 11,
         "pGasket or pConnection is NULL\n"},
        {"info: null", [](Gasket &t) { return CI_GasketGetInfo(nullptr, 0, t.conn); }, 11,
         "pGasket or pConnection is NULL\n"},
        {"acquire: gasket past the imagers",
         [](Gasket &t) {
             CI_GASKET g = mipi();
             g.uiGasket = 2;
             return CI_GasketAcquire(&g, t.conn);
         },
         11, "Failed to acquire the gasket\n"},
        {"acquire: parallel settings on the MIPI port",
         [](Gasket &t) {
             CI_GASKET g = parallel();
             g.uiGasket = 0;
             return CI_GasketAcquire(&g, t.conn);
         },
         11, "Failed to acquire the gasket\n"},
        {"acquire: wider than the port",
         [](Gasket &t) {
             CI_GASKET g = mipi();
             g.uiWidth = 4097;
             return CI_GasketAcquire(&g, t.conn);
         },
         11, "Failed to acquire the gasket\n"},
        {"acquire: deeper than the parallel port",
         [](Gasket &t) {
             CI_GASKET g = parallel();
             g.ui8ParallelBitdepth = 14;
             return CI_GasketAcquire(&g, t.conn);
         },
         11, "Failed to acquire the gasket\n"},
        {"acquire: already claimed",
         [](Gasket &t) {
             CI_GASKET g = mipi();
             CI_GasketAcquire(&g, t.conn);
             const QOR_RESULT r = CI_GasketAcquire(&g, t.conn);
             CI_GasketRelease(&g, t.conn);
             return r;
         },
         3, "Failed to acquire the gasket\n"},
        {"acquire: fed by a started data generator",
         [](Gasket &t) {
             CI_DATAGEN *dg = nullptr;
             CI_DatagenCreate(&dg, t.conn);
             dg->eFormat = CI_DGFMT_PARALLEL;
             dg->ui8FormatBitdepth = 10;
             dg->ui8Gasket = 1;
             dg->eBayerMosaic = MOSAIC_GRBG;
             EXPECT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
             CI_GASKET g = parallel();
             const QOR_RESULT r = CI_GasketAcquire(&g, t.conn);
             CI_DatagenDestroy(dg);
             return r;
         },
         3, "Failed to acquire the gasket\n"},
        {"release: not claimed",
         [](Gasket &t) {
             CI_GASKET g = parallel();
             return CI_GasketRelease(&g, t.conn);
         },
         11, "Failed to release the gasket\n"},
        {"info: unknown gasket",
         [](Gasket &t) {
             CI_GASKET_INFO info;
             std::memset(&info, 0x5A, sizeof(info));
             const QOR_RESULT r = CI_GasketGetInfo(&info, 3, t.conn);
             const CI_GASKET_INFO untouched = [] {
                 CI_GASKET_INFO i;
                 std::memset(&i, 0x5A, sizeof(i));
                 return i;
             }();
             EXPECT_EQ(
                 norva_test::DifferentMembers(
                     info, untouched,
                     {NORVA_MEMBER(CI_GASKET_INFO, eType), NORVA_MEMBER(CI_GASKET_INFO, ui32FrameCount),
                      NORVA_MEMBER(CI_GASKET_INFO, ui8MipiFifoFull), NORVA_MEMBER(CI_GASKET_INFO, ui8MipiEnabledLanes),
                      NORVA_MEMBER(CI_GASKET_INFO, ui8MipiCrcError), NORVA_MEMBER(CI_GASKET_INFO, ui8MipiHdrError),
                      NORVA_MEMBER(CI_GASKET_INFO, ui8MipiEccError), NORVA_MEMBER(CI_GASKET_INFO, ui8MipiEccCorrected),
                      NORVA_MEMBER(CI_GASKET_INFO, ui16MipiSotErrorCnt)}),
                 "");
             return r;
         },
         11, "Failed to get gasket's information\n"},
        {"info: the device refuses",
         [](Gasket &t) {
             norva_sim::InjectCommandFault(CI_GASKET_GETINFO, -EIO);
             CI_GASKET_INFO info{};
             info.ui32FrameCount = 77;
             const QOR_RESULT r = CI_GasketGetInfo(&info, 0, t.conn);
             EXPECT_EQ(info.ui32FrameCount, 77u);
             return r;
         },
         3, "Failed to get gasket's information\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QOR_RESULT result = -1;
        const std::string err = stderrOf([&] { result = c.act(*this); });
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(contains(err, c.message)) << err;
        EXPECT_EQ(norva_sim::GetCounters().driverObjects, 0);
    }
}

TEST_F(Gasket, ClaimsAreReleasedWithTheConnection) {
    CI_GASKET m = mipi();
    ASSERT_EQ(CI_GasketAcquire(&m, conn), QOR_RES_OK);
    ASSERT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
    conn = nullptr;
    EXPECT_EQ(norva_sim::GetCounters().driverObjects, 0);
    // A new connection finds the port free.
    ASSERT_EQ(CI_DriverInit(&conn), QOR_RES_OK);
    ASSERT_EQ(CI_GasketAcquire(&m, conn), QOR_RES_OK);
    ASSERT_EQ(CI_GasketRelease(&m, conn), QOR_RES_OK);
}

TEST_F(Gasket, DataGeneratorRefusesAClaimedGasket) {
    CI_GASKET p = parallel();
    ASSERT_EQ(CI_GasketAcquire(&p, conn), QOR_RES_OK);
    CI_DATAGEN *dg = nullptr;
    ASSERT_EQ(CI_DatagenCreate(&dg, conn), QOR_RES_OK);
    dg->eFormat = CI_DGFMT_PARALLEL;
    dg->ui8FormatBitdepth = 12;
    dg->ui8Gasket = 1;
    dg->eBayerMosaic = MOSAIC_BGGR;
    stderrOf([&] { EXPECT_EQ(CI_DatagenStart(dg), QOR_RES_FAILED); }); // busy port
    ASSERT_EQ(CI_GasketRelease(&p, conn), QOR_RES_OK);
    EXPECT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
    EXPECT_EQ(CI_DatagenDestroy(dg), QOR_RES_OK);
}

} // namespace
