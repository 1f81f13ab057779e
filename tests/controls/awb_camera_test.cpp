// The white balances closing their loop on a data-generator camera of the simulated platform: a chart of
// grey patches lit by the 3000 K light of the calibration, through the modelled gains, matrix, pure 2.2
// gamma and statistics. At the end the displayed grey patches are neutral.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "ispc/Camera.h"
#include "ispc/ControlAWB.h"
#include "ispc/ControlAWB_PID.h"
#include "ispc/ControlAWB_Planckian.h"
#include "ispc/ModuleAWS.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleCCM.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleWBC.h"
#include "ispc/ModuleWBS.h"
#include "sensors/iifdatagen.h"
#include "sim_image.h"
#include "support/sim_fixture.h"
#include "wb_test_util.h"

using namespace ISPC;
using norva_test::SimTest;
using norva_test::stderrOf;

namespace {

constexpr uint32_t kW = 640, kH = 480;
constexpr unsigned kDepth = 12;
/** Grey patches: vertical bands of these reflectances. */
const double kGreys[] = {0.15, 0.25, 0.35, 0.45};

/** Raw level of reflectance g under the 3000 K light of the calibration (raw R/G 1/1.2, B/G 1/2.8). */
double rawLevel(double g, int channel) { return 0.8 * g * (channel == 0 ? 1 / 1.2 : channel == 2 ? 1 / 2.8 : 1.0); }

bool writeChart(const std::string &path, unsigned frames) {
    sSimImageOut out;
    SimImageOut_init(&out);
    out.info.ui8BitDepth = kDepth;
    out.info.ui32Width = kW;
    out.info.ui32Height = kH;
    out.info.eColourModel = SimImage_RGGB;
    out.info.fGain = 1.0;
    bool ok = SimImageOut_create(&out) == QOR_RES_OK && SimImageOut_open(&out, path.c_str()) == QOR_RES_OK;
    std::vector<uint8_t> cells(static_cast<size_t>(kW) * kH * 2);
    size_t i = 0;
    const double top = (1 << kDepth) - 1;
    for (uint32_t cy = 0; cy < kH / 2; ++cy) {
        for (uint32_t cx = 0; cx < kW / 2; ++cx) {
            const double g = kGreys[cx * 4 / (kW / 2)];
            // R, G, G, B
            const uint16_t v[4] = {static_cast<uint16_t>(std::lround(rawLevel(g, 0) * top)),
                                   static_cast<uint16_t>(std::lround(rawLevel(g, 1) * top)),
                                   static_cast<uint16_t>(std::lround(rawLevel(g, 1) * top)),
                                   static_cast<uint16_t>(std::lround(rawLevel(g, 2) * top))};
            for (uint16_t s : v) {
                std::memcpy(&cells[i], &s, 2);
                i += 2;
            }
        }
    }
    for (unsigned k = 0; ok && k < frames; ++k) {
        ok = SimImageOut_addFrame(&out, cells.data(), cells.size()) == QOR_RES_OK &&
             SimImageOut_write(&out) == QOR_RES_OK;
    }
    ok = SimImageOut_close(&out) == QOR_RES_OK && ok;
    SimImageOut_clean(&out);
    return ok;
}

class WhiteBalanceOnCamera : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ControlAWB::resetSharedTemperature();
        char pattern[] = "/tmp/norva-awb-camera-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_TRUE(writeChart(dir + "/chart.nrv", 1));
    }
    void TearDown() override {
        stderrOf([&] { camera.reset(); });
        std::system(("rm -rf '" + dir + "'").c_str());
        ControlAWB::resetSharedTemperature();
        SimTest::TearDown();
    }

    /** A camera with the white-balance modules and the control, programmed with a pure 2.2 gamma. */
    void start(ControlAWB *awb, unsigned buffers = 2) {
        camera.reset(new Camera(0, Sensor::GetSensorId(IIFDG_SENSOR_NAME), -1, 0));
        Camera &c = *camera;
        SENSOR_HANDLE h = c.getSensor()->getHandle();
        ASSERT_EQ(IIFDG_ExtendedSetConnection(h, c.getConnection()), QOR_RES_OK);
        ASSERT_EQ(IIFDG_ExtendedSetSourceFile(h, (dir + "/chart.nrv").c_str()), QOR_RES_OK);
        ASSERT_EQ(IIFDG_ExtendedSetIsVideo(h, QOR_TRUE), QOR_RES_OK);
        ASSERT_EQ(IIFDG_ExtendedSetBlanking(h, 100, 14), QOR_RES_OK);
        c.init(0, 0);
        CI_MODULE_GMA_LUT lut;
        std::memset(&lut, 0, sizeof(lut));
        for (int k = 0; k < GMA_N_POINTS; k++) {
            const QOR_UINT16 v = static_cast<QOR_UINT16>(std::lround(std::pow(k / 62.0, 1 / 2.2) * 4095));
            lut.aRedPoints[k] = lut.aGreenPoints[k] = lut.aBluePoints[k] = v;
        }
        stderrOf([&] { ASSERT_EQ(CI_DriverSetGammaLUT(c.getConnection(), &lut), QOR_RES_OK); });
        for (SetupModule *m :
             std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(), new ModuleWBC2_6(),
                                                  new ModuleCCM(), new ModuleWBS(), new ModuleAWS()}) {
            ASSERT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
        }
        c.state = Camera::CAM_REGISTERED;
        const ParameterList setup =
            norva_test::wbListOf(norva_test::twoPointCalibration() +
                                 "OUT_ENC NV12\nOUT_DISP RGB888_24\nBLC_SENSOR_BLACK 0 0 0 0\nBLC_SYS_BLACK 0\n"
                                 // the test's light is not on the default black-body curve: the filter admits
                                 // every cell, so the auto-white-balance tiles measure the whole chart
                                 "AWS_BB_DIST 128\n");
        stderrOf([&] {
            ASSERT_EQ(c.registerControlModule(awb), QOR_RES_OK);
            ASSERT_EQ(c.loadParameters(setup), QOR_RES_OK);
            ASSERT_EQ(c.loadControlParameters(setup), QOR_RES_OK);
            ASSERT_EQ(c.program(), QOR_RES_OK);
            ASSERT_EQ(c.allocateBufferPool(buffers), QOR_RES_OK);
            ASSERT_EQ(c.startCapture(), QOR_RES_OK);
        });
    }

    /** Runs frames; the last one's displayed patch centres (R, G, B codes) into codes. */
    void run(int frames, std::vector<std::array<int, 3>> &codes) {
        Camera &c = *camera;
        for (int f = 0; f < frames; f++) {
            Shot shot;
            stderrOf([&] {
                ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
                ASSERT_EQ(c.getSensor()->insert(), QOR_RES_OK);
                ASSERT_EQ(c.acquireShot(shot), QOR_RES_OK);
            });
            if (f + 1 == frames) {
                codes.clear();
                for (int p = 0; p < 4; p++) {
                    const QOR_UINT8 *px =
                        shot.DISPLAY.firstData() + (kH / 2) * shot.DISPLAY.stride + 3 * (p * kW / 4 + kW / 8);
                    codes.push_back({px[0], px[1], px[2]});
                }
            }
            stderrOf([&] {
                ASSERT_EQ(c.getSensor()->waitProcessed(), QOR_RES_OK);
                ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
            });
        }
    }

    void expectNeutral(const std::vector<std::array<int, 3>> &codes, const char *what) {
        ASSERT_EQ(codes.size(), 4u);
        for (const auto &c : codes) {
            EXPECT_GT(c[1], 40) << what; // a lit patch, not an empty buffer
            EXPECT_LE(std::abs(c[0] - c[1]), 3) << what << " " << c[0] << " " << c[1] << " " << c[2];
            EXPECT_LE(std::abs(c[2] - c[1]), 3) << what << " " << c[0] << " " << c[1] << " " << c[2];
        }
    }

    std::string dir;
    std::unique_ptr<Camera> camera;
};

/**
 * The gain-based control measuring a region far larger than the chart: 4096 x 2160 at the gamut mapper's clip
 * of 1.5 is measured in four strips, as a full frame of an eight-megapixel sensor is, on a frame small enough
 * to process quickly.
 */
class WideRegionAWB : public ControlAWB {
public:
    QOR_RESULT configureStatistics() override {
        Pipeline *owner = getPipelineOwner();
        ModuleWBS *wbs = owner != nullptr ? static_cast<ModuleWBS *>(owner->getModule(STP_WBS)) : nullptr;
        if (wbs != nullptr && !statisticsRegionProgrammed) {
            for (int k = 0; k < 2; k++) {
                wbs->aROIStartCoord[k][0] = wbs->aROIStartCoord[k][1] = 0;
                wbs->aROIEndCoord[k][0] = 4095;
                wbs->aROIEndCoord[k][1] = 2159;
            }
            wbs->ui32NROIEnabled = 2;
            statisticsRegionProgrammed = true;
        }
        return ControlAWB::configureStatistics();
    }
};

} // namespace

// Shots queued before the control's first update, as the element queues them at start, each measure the next
// strip: every shot's strip follows the one before, the control never finds its strips out of order, and it
// completes a measurement every four shots.
TEST_F(WhiteBalanceOnCamera, StripsFollowEachOtherFromTheFirstQueuedShot) {
    WideRegionAWB *awb = new WideRegionAWB();
    start(awb, 4);
    Camera &c = *camera;
    const unsigned kQueued = 3, kFrames = 10;
    std::string log;
    log += stderrOf([&] {
        for (unsigned i = 0; i < kQueued; i++) {
            ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
        }
    });
    std::vector<QOR_UINT32> strips;
    for (unsigned f = 0; f < kFrames; f++) {
        Shot shot;
        log += stderrOf([&] {
            ASSERT_EQ(c.getSensor()->insert(), QOR_RES_OK);
            ASSERT_EQ(c.acquireShot(shot), QOR_RES_OK);
        });
        const MC_FRAME_COUNTERS_WBS &counters = shot.metadata.whiteBalanceConfig.counters;
        EXPECT_EQ(counters.frameCount[0], 4u) << f;
        EXPECT_EQ(counters.currentFrame[1], counters.currentFrame[0]) << f;
        strips.push_back(counters.currentFrame[0]);
        log += stderrOf([&] {
            ASSERT_EQ(c.getSensor()->waitProcessed(), QOR_RES_OK);
            ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
            ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
        });
    }
    const std::vector<QOR_UINT32> expected = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1};
    EXPECT_EQ(strips, expected);
    EXPECT_EQ(log.find("The frame order is broken"), std::string::npos) << log;
    // two measurements completed: the control has a temperature
    EXPECT_GT(awb->getMeasuredTemperature(), 0);
}

TEST_F(WhiteBalanceOnCamera, GainBasedControlFindsThe3000KLight) {
    ControlAWB *awb = new ControlAWB();
    start(awb);
    std::vector<std::array<int, 3>> codes;
    run(1, codes);
    // before any correction the 3000 K light shows: red and blue far apart (the display's byte order aside)
    EXPECT_GT(std::abs(codes[3][0] - codes[3][2]), 30);
    run(30, codes);
    EXPECT_NEAR(awb->getMeasuredTemperature(), 3000, 30);
    expectNeutral(codes, "gain-based");
}

TEST_F(WhiteBalanceOnCamera, PidControlBalancesTheChart) {
    ControlAWB_PID *awb = new ControlAWB_PID();
    start(awb);
    std::vector<std::array<int, 3>> codes;
    run(250, codes);
    EXPECT_NEAR(awb->getMeasuredTemperature(), 3000, 3000 * 0.035);
    expectNeutral(codes, "PID");
}

TEST_F(WhiteBalanceOnCamera, PlanckianControlFindsTheLightInOneFrame) {
    ControlAWB_Planckian *awb = new ControlAWB_Planckian();
    start(awb);
    std::vector<std::array<int, 3>> codes;
    run(1, codes);
    EXPECT_NEAR(awb->getMeasuredTemperature(), 3000, 30);
    run(1, codes); // the gains programmed after the first frame apply to the second
    expectNeutral(codes, "Planckian");
}
