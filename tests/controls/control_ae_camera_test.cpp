// The exposure loop on cameras of the simulated platform: the device stamps each frame's interrupt time on the
// monotonic clock when it renders it, and on the data-generator camera (exposure through the raw look-up table,
// one shot in flight) an under-exposed chart converges as the update rule predicts on the simulation's own
// brightness.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ae_probe.h"
#include "control_rig.h"
#include "ispc/DGCamera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ParameterFileParser.h"
#include "scenes/scene_nrv.h"
#include "sensors/iifdatagen.h"

using norva_test::AeProbe;

namespace {

QOR_UINT64 steadyNow() {
    return QOR_UINT64(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

class AeOnStreamingSensor : public norva_test::ControlRig {};

TEST_F(AeOnStreamingSensor, InterruptTimeIsStampedOnTheMonotonicClockAtRendering) {
    ISPC::Camera &c = make(norva_test::kS5k3p9Mode720);
    ASSERT_EQ(c.getPipeline()->registerModule(new ISPC::ModuleOUT()), QOR_RES_OK);
    ASSERT_EQ(c.getPipeline()->registerModule(new ISPC::ModuleIIF()), QOR_RES_OK);
    c.state = ISPC::Camera::CAM_REGISTERED;
    std::istringstream text("OUT_ENC NV12\n");
    ISPC::ParameterList setup;
    ASSERT_EQ(ISPC::ParameterFileParser::parse(text, setup), QOR_RES_OK);
    ASSERT_EQ(c.loadParameters(setup), QOR_RES_OK);
    ASSERT_EQ(c.program(), QOR_RES_OK);
    ASSERT_EQ(c.allocateBufferPool(1), QOR_RES_OK);
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    QOR_UINT64 previous = 0;
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
        const QOR_UINT64 before = steadyNow();
        ISPC::Shot shot;
        ASSERT_EQ(c.acquireShot(shot, true), QOR_RES_OK);
        const QOR_UINT64 after = steadyNow();
        const QOR_UINT64 t = shot.metadata.timestamps.ui64InterruptSysTime;
        // rendered when the acquire needed it: between the two readings of the steady clock
        EXPECT_GE(t, before);
        EXPECT_LE(t, after);
        EXPECT_GT(t, previous);
        previous = t;
        ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
    }
    ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
}

/* ---- the data-generator camera ---- */

class AeOnDataGenerator : public norva_test::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char pattern[] = "/tmp/norva-aeloop-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        file = dir + "/chart.nrv";
        ASSERT_EQ(norva_scenes::WriteSceneNrv(file, 320, 240, 10, MOSAIC_RGGB, 1), QOR_RES_OK);
    }
    void TearDown() override {
        if (camera && camera->state == ISPC::Camera::CAM_CAPTURING) {
            norva_test::stderrOf([&] { camera->stopCapture(); });
        }
        norva_test::stderrOf([&] { camera.reset(); });
        std::system(("rm -rf '" + dir + "'").c_str());
        SimTest::TearDown();
    }

    /** The camera with the exposure control registered (not yet started). */
    AeProbe &capturing() {
        camera.reset(new ISPC::DGCamera(0, file, 0, true));
        EXPECT_EQ(IIFDG_ExtendedSetBlanking(camera->getSensor()->getHandle(), 100, 14), QOR_RES_OK);
        for (ISPC::SetupModule *m : std::initializer_list<ISPC::SetupModule *>{
                 new ISPC::ModuleOUT(), new ISPC::ModuleIIF(), new ISPC::ModuleBLC(), new ISPC::ModuleRLT(),
                 new ISPC::ModuleHIS()}) {
            EXPECT_EQ(camera->getPipeline()->registerModule(m), QOR_RES_OK);
        }
        camera->state = ISPC::Camera::CAM_REGISTERED;
        std::istringstream text("OUT_ENC NV12\nBLC_SENSOR_BLACK 0 0 0 0\n");
        ISPC::ParameterList setup;
        EXPECT_EQ(ISPC::ParameterFileParser::parse(text, setup), QOR_RES_OK);
        EXPECT_EQ(camera->loadParameters(setup), QOR_RES_OK);
        auto *ae = new AeProbe();
        EXPECT_EQ(camera->registerControlModule(ae), QOR_RES_OK);
        // The tone mapper needs 40 pixels per local column: a frame this small bypasses it.
        MC_PIPELINE &mc = *camera->getPipeline()->getMCPipeline();
        mc.sTNM.bBypassTNM = 1;
        mc.sTNM.updateNeeded = 1;
        EXPECT_EQ(camera->programExposure(), QOR_RES_OK);
        EXPECT_EQ(camera->program(), QOR_RES_OK);
        EXPECT_EQ(camera->allocateBufferPool(1), QOR_RES_OK);
        EXPECT_EQ(camera->startCapture(), QOR_RES_OK);
        return *ae;
    }

    /** Brightness of a frame taken at an exposure, the controls left out (the simulation's answer, cached). */
    double brightnessAt(unsigned long exposure) {
        const auto it = measured.find(exposure);
        if (it != measured.end()) {
            return it->second;
        }
        ISPC::Sensor &s = *camera->getSensor();
        EXPECT_EQ(s.setExposure(exposure), QOR_RES_OK);
        EXPECT_EQ(camera->programExposure(), QOR_RES_OK);
        EXPECT_EQ(camera->enqueueShot(), QOR_RES_OK);
        ISPC::Shot shot;
        EXPECT_EQ(camera->acquireShot(shot, true, false), QOR_RES_OK);
        AeProbe meter;
        const double b = meter.getBrightnessMetering(shot.metadata.histogramStats, shot.metadata.clippingStats);
        EXPECT_EQ(camera->releaseShot(shot), QOR_RES_OK);
        measured[s.getExposure()] = b;
        return b;
    }

    std::string dir, file;
    std::unique_ptr<ISPC::DGCamera> camera;
    std::map<unsigned long, double> measured;
};

TEST_F(AeOnDataGenerator, UnderExposedChartConvergesWithinThePredictedFrames) {
    AeProbe &ae = capturing();
    ISPC::Sensor &sensor = *camera->getSensor();
    const unsigned long lo = sensor.getMinExposure(), hi = sensor.getMaxExposure();
    const unsigned long step = sensor.getExposureTimeStep();
    // the exposure at which the chart meters mid-grey, by bisection on the simulation's brightness
    unsigned long a = lo, b = hi;
    ASSERT_LT(brightnessAt(a), 0.0);
    ASSERT_GT(brightnessAt(b), 0.0);
    while (b - a > step) {
        const unsigned long m = (a + b) / 2;
        (brightnessAt(m) < 0 ? a : b) = m;
    }
    const unsigned long start = std::max(lo, b / 10);
    ASSERT_GE(b / 10, lo) << "the data generator's range leaves no room for a 10x under-exposure";

    // the update rule on the simulation's brightness: one metered frame, then three frames per plan
    int predicted = -1;
    double T = double(start);
    for (int plans = 0; plans < 100; plans++) {
        const double brightness = brightnessAt(static_cast<unsigned long>(std::min<double>(T, hi)) / step * step);
        if (std::fabs(brightness - ae.getTargetBrightnessActual()) < ae.getTargetBracket()) {
            predicted = 1 + 3 * plans;
            break;
        }
        T = ae.autoExposureCtrl(brightness, ae.getTargetBrightnessActual(), T);
    }
    ASSERT_GT(predicted, 4);

    // the loop itself: one shot in flight, the controls run on every shot
    ASSERT_EQ(sensor.setExposure(start), QOR_RES_OK);
    ASSERT_EQ(camera->programExposure(), QOR_RES_OK);
    std::vector<double> metered;
    int frames = 0;
    double last = std::nan("");
    while (frames < predicted + 30) {
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
        ISPC::Shot shot;
        ASSERT_EQ(camera->acquireShot(shot, true), QOR_RES_OK);
        ASSERT_EQ(camera->releaseShot(shot), QOR_RES_OK);
        frames++;
        if (ae.getCurrentBrightness() != last) {
            last = ae.getCurrentBrightness();
            metered.push_back(last);
        }
        EXPECT_EQ(ae.getNewExposure() % step, 0u);
        if (ae.hasConverged() && !metered.empty()) {
            break;
        }
    }
    ASSERT_TRUE(ae.hasConverged());
    EXPECT_LE(frames, predicted + 3) << "predicted " << predicted;
    RecordProperty("frames", frames);
    RecordProperty("predicted", predicted);
    for (size_t i = 1; i < metered.size(); i++) {
        EXPECT_GE(metered[i], metered[i - 1]) << "metering " << i;
        EXPECT_LT(metered[i], ae.getTargetBrightnessActual() + ae.getTargetBracket()) << "metering " << i;
    }
    // converged: nothing is programmed any more
    const auto programmed = ae.lastProgramTime;
    const unsigned long exposure = sensor.getExposure();
    for (int i = 0; i < 5; i++) {
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
        ISPC::Shot shot;
        ASSERT_EQ(camera->acquireShot(shot, true), QOR_RES_OK);
        ASSERT_EQ(camera->releaseShot(shot), QOR_RES_OK);
    }
    EXPECT_EQ(ae.lastProgramTime, programmed);
    EXPECT_EQ(sensor.getExposure(), exposure);
}

} // namespace
