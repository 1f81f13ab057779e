// A camera that owns the "DOR Idazida" pseudo-sensor: the sensor is enabled with the capture and disabled
// with its stop, also when the pipeline's stop fails; frames inserted from an NRV file arrive as shots.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "ci/ci_ioctrl.h"
#include "support/dg_nrv.h"
#include "ispc/Camera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "platform/sim_capture.h"
#include "sensors/iifdatagen.h"
#include "support/sim_fixture.h"

using namespace ISPC;
using norva_test::SimTest;
using norva_test::stderrOf;

namespace {

class CameraOnDataGenerator : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char pattern[] = "/tmp/norva-camera-dg-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir + "/frames.nrv";
        ASSERT_TRUE(dg_nrv::write(path, 640, 480, 12, 2));
    }
    void TearDown() override {
        stderrOf([&] { camera.reset(); });
        std::system(("rm -rf '" + dir + "'").c_str());
        SimTest::TearDown();
    }

    /** An owned pseudo-sensor playing the file, configured in mode 0; modules registered, loaded, programmed. */
    Camera &programmed() {
        const int id = Sensor::GetSensorId(IIFDG_SENSOR_NAME);
        EXPECT_GE(id, 0);
        // Mode -1: the sensor is not configured yet, it needs its file first.
        camera.reset(new Camera(0, id, -1, 0));
        Camera &c = *camera;
        EXPECT_EQ(c.state, Camera::CAM_CONNECTED);
        EXPECT_TRUE(c.ownsSensor());
        SENSOR_HANDLE h = c.getSensor()->getHandle();
        EXPECT_EQ(IIFDG_ExtendedSetConnection(h, c.getConnection()), QOR_RES_OK);
        EXPECT_EQ(IIFDG_ExtendedSetSourceFile(h, path.c_str()), QOR_RES_OK);
        EXPECT_EQ(IIFDG_ExtendedSetIsVideo(h, QOR_TRUE), QOR_RES_OK);
        EXPECT_EQ(IIFDG_ExtendedSetBlanking(h, 100, 14), QOR_RES_OK);
        c.init(0, 0);
        EXPECT_EQ(c.getSensor()->getState(), Sensor::SENSOR_CONFIGURED);
        EXPECT_EQ(c.getSensor()->uiWidth, 640u);
        for (SetupModule *m :
             std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(), new ModuleFOS()}) {
            EXPECT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
        }
        c.state = Camera::CAM_REGISTERED;
        const ParameterList setup = ParameterFileParser::parseFile(NORVA_ISPC_TEST_DIR "/data/camera_setup.txt");
        EXPECT_EQ(c.loadParameters(setup), QOR_RES_OK);
        EXPECT_EQ(c.program(), QOR_RES_OK);
        EXPECT_EQ(c.allocateBufferPool(2), QOR_RES_OK);
        EXPECT_EQ(c.state, Camera::CAM_READY);
        return c;
    }

    std::string dir;
    std::string path;
    std::unique_ptr<Camera> camera;
};

} // namespace

TEST_F(CameraOnDataGenerator, OwnedSensorFollowsTheCapture) {
    Camera &c = programmed();
    Sensor &sensor = *c.getSensor();
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    EXPECT_EQ(sensor.getState(), Sensor::SENSOR_ENABLED);
    for (int frame = 0; frame < 4; frame++) {
        ASSERT_EQ(c.enqueueShot(), QOR_RES_OK) << frame;
        ASSERT_EQ(sensor.insert(), QOR_RES_OK) << frame;
        Shot shot;
        ASSERT_EQ(c.acquireShot(shot), QOR_RES_OK) << frame;
        EXPECT_NE(shot.YUV.data, nullptr);
        EXPECT_NE(shot.DISPLAY.data, nullptr);
        EXPECT_EQ(shot.YUV.width, 640);
        ASSERT_EQ(sensor.waitProcessed(), QOR_RES_OK) << frame;
        ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK) << frame;
    }
    ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
    EXPECT_EQ(sensor.getState(), Sensor::SENSOR_CONFIGURED);
    EXPECT_EQ(c.state, Camera::CAM_READY);

    // A failing pipeline stop still stops the sensor the camera owns.
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    norva_sim::InjectCommandFault(CI_CAPTURE_STOP, -EIO);
    QOR_RESULT ret = QOR_RES_OK;
    stderrOf([&] { ret = c.stopCapture(); });
    EXPECT_EQ(ret, QOR_RES_FAILED);
    EXPECT_EQ(c.state, Camera::CAM_ERROR);
    EXPECT_EQ(sensor.getState(), Sensor::SENSOR_CONFIGURED);
}

TEST_F(CameraOnDataGenerator, DestroyingWhileCapturingStopsPipelineAndSensor) {
    Camera &c = programmed();
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
    norva_sim::ClearTrace();
    stderrOf([&] { camera.reset(); });
    bool stopped = false;
    for (const auto &e : norva_sim::Trace())
        stopped = stopped || e.nr == CI_CAPTURE_STOP;
    EXPECT_TRUE(stopped);
    // The generator went with the sensor and the device was closed with the last reference.
    EXPECT_EQ(norva_sim::GetCounters().openDescriptors, 0);
}
