// Cameras on the stand-alone sensors of the simulated board: each streams into its imager port, and the raw grey
// patch follows the exposure.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ispc/Camera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "platform/sim_capture.h"
#include "platform/sim_sensor.h"
#include "platform/sim_standalone_sensors.h"
#include "support/board_fixture.h"
#include "support/raw_patch.h"

using namespace ISPC;
using norva_test::meanOf;
using norva_test::rawOf;

namespace {

class CameraOnStandalone : public norva_test::BoardTest {
protected:
    void TearDown() override {
        norva_test::stderrOf([&] { camera.reset(); });
        BoardTest::TearDown();
    }

    Camera &programmed(const char *name, int mode, unsigned width) {
        const int id = Sensor::GetSensorId(name);
        EXPECT_GE(id, 0);
        camera.reset(new Camera(0, id, mode, 0));
        Camera &c = *camera;
        EXPECT_EQ(c.state, Camera::CAM_CONNECTED);
        EXPECT_EQ(c.getSensor()->uiWidth, width);
        for (SetupModule *m : std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC()})
            EXPECT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
        c.state = Camera::CAM_REGISTERED;
        std::istringstream text("OUT_DE_RAW2D TIFF10\nBLC_SENSOR_BLACK 16 16 16 16\nBLC_SYS_BLACK 64\n");
        ParameterList setup;
        EXPECT_EQ(ParameterFileParser::parse(text, setup), QOR_RES_OK);
        EXPECT_EQ(c.loadParameters(setup), QOR_RES_OK);
        EXPECT_EQ(c.program(), QOR_RES_OK);
        EXPECT_EQ(c.allocateBufferPool(2), QOR_RES_OK);
        EXPECT_EQ(c.state, Camera::CAM_READY);
        return c;
    }

    std::vector<uint16_t> capture(Camera &c, unsigned long exposure, unsigned width, unsigned height) {
        std::vector<uint16_t> raw;
        EXPECT_EQ(c.getSensor()->setExposureGain(exposure, 1.0), QOR_RES_OK);
        EXPECT_EQ(c.enqueueShot(), QOR_RES_OK);
        Shot shot;
        EXPECT_EQ(c.acquireShot(shot, false), QOR_RES_OK);
        if (shot.RAW2DEXT.data != nullptr)
            raw = rawOf(shot.RAW2DEXT, width, height);
        EXPECT_EQ(c.releaseShot(shot), QOR_RES_OK);
        return raw;
    }

    /** The grey patch above the pedestal doubles from exposure e to 2e. */
    void expectExposureDoubles(const char *name, int mode, unsigned width, unsigned height, unsigned long e) {
        Camera &c = programmed(name, mode, width);
        ASSERT_EQ(c.startCapture(), QOR_RES_OK);
        const std::vector<uint16_t> base = capture(c, e, width, height);
        const std::vector<uint16_t> twice = capture(c, 2 * e, width, height);
        ASSERT_EQ(base.size(), static_cast<size_t>(width) * height);
        ASSERT_EQ(twice.size(), base.size());
        const norva_sim::SceneRect grey = norva_sim::SceneGreyPatch(width, height);
        const double pedestal = norva_sim::SensorPedestal(10);
        for (unsigned pos = 0; pos < 4; pos++) {
            SCOPED_TRACE(pos);
            const double b = meanOf(base, width, grey, pos & 1, pos >> 1) - pedestal;
            const double t = meanOf(twice, width, grey, pos & 1, pos >> 1) - pedestal;
            EXPECT_GT(b, 50.0);
            // Whole rows: doubling the exposure doubles the signal within a row and a rounding.
            EXPECT_NEAR(t / b, 2.0, 0.03);
        }
        ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
    }

    std::unique_ptr<Camera> camera;
};

TEST_F(CameraOnStandalone, Ov4688ExposureDoublesTheGreyPatch) {
    auto model = norva_sim::AttachOv4688();
    expectExposureDoubles("OV4688", 0, 1280, 720, 8000);
    EXPECT_GE(norva_sim::GetSensorFrameCounters(1).frames, 2u);
    EXPECT_FALSE(model->state().streaming);
}

TEST_F(CameraOnStandalone, Ar330ExposureDoublesTheGreyPatch) {
    auto model = norva_sim::AttachAr330();
    expectExposureDoubles("AR330", 0, 1280, 720, 8000);
    EXPECT_GE(norva_sim::GetSensorFrameCounters(2).frames, 2u);
    EXPECT_FALSE(model->state().streaming);
}

TEST_F(CameraOnStandalone, S5k3p9ExposureDoublesTheGreyPatch) {
    norva_test::BoardWiring board;
    board.clockMHz = "24.0";
    WriteBoard(board);
    norva_sim::SensorWiring w;
    w.address = 0x2D;
    auto model = norva_sim::AttachS5k3p9(w);
    auto actuator = norva_sim::AttachS5k3p9Actuator(w.bus);
    expectExposureDoubles("S5K3P9", 6, 1280, 720, 3000);
    EXPECT_GE(norva_sim::GetSensorFrameCounters(0).frames, 2u);
    EXPECT_TRUE(actuator->started());
}

TEST_F(CameraOnStandalone, ZynqFrameEqualsItsPattern) {
    WriteBoard(norva_test::BoardWiring{});
    norva_sim::AttachZynqBoard(norva_sim::SensorWiring{});
    Camera &c = programmed("ZYNQ", 1, 640);
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
    Shot shot;
    ASSERT_EQ(c.acquireShot(shot, false), QOR_RES_OK);
    ASSERT_NE(shot.RAW2DEXT.data, nullptr);
    const std::vector<uint16_t> raw = rawOf(shot.RAW2DEXT, 640, 480);
    EXPECT_EQ(c.releaseShot(shot), QOR_RES_OK);
    // The 8-bit samples arrive in the 10-bit extraction two bits up.
    unsigned mismatches = 0;
    for (unsigned y = 0; y < 480; y++)
        for (unsigned x = 0; x < 640; x++)
            mismatches += raw[y * 640 + x] != (norva_sim::ZynqPattern(x, y) << 2);
    EXPECT_EQ(mismatches, 0u) << raw[0] << " " << raw[1] << " " << raw[641];
    ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
    EXPECT_FALSE(norva_sim::GetZynqState().streaming);
}

} // namespace
