// The camera on the simulated device with a borrowed test sensor: its state machine, a capture loop with
// control modules, destruction while capturing, and driver failures.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "ci/ci_ioctrl.h"
#include "ispc/Camera.h"
#include "ispc/ControlModule.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "platform/sim_capture.h"
#include "support/sim_fixture.h"
#include "sys/sys_seam.h"
#include "support/test_sensor.h"
#include "support/output_capture.h"

using norva_test::contains;
using norva_test::stderrOf;

using namespace ISPC;
using norva_test::SimTest;
using norva_test::stderrOf;

namespace {

/** What the test controls did, in order: "AWB 7" for an update of frame 7. */
std::vector<std::string> gUpdates;

/**
 * A control that records its updates; the frame number is what the test put into the focus statistics of
 * the frame. It fails on every `failEvery`-th frame.
 */
class FrameControl : public ControlModule {
public:
    FrameControl(ControlID id, int failEvery = 0) : ControlModule("TEST_CTRL"), id(id), failEvery(failEvery) {}
    ControlID getModuleID() const override { return id; }
    QOR_RESULT update(const Metadata &md) override {
        const int frame = static_cast<int>(md.focusStats.ROISharpness);
        gUpdates.push_back(std::string(ModuleBase::controlIDName(id)).substr(5) + " " + std::to_string(frame));
        return (failEvery > 0 && frame % failEvery == 0) ? QOR_RES_FAILED : QOR_RES_OK;
    }
    QOR_RESULT configureStatistics() override { return QOR_RES_OK; }
    QOR_RESULT load(const ParameterList &) override { return QOR_RES_OK; }
    QOR_RESULT save(ParameterList &, SaveType) const override { return QOR_RES_OK; }
    bool hasConverged() const override { return true; }

    ControlID id;
    int failEvery;

protected:
    QOR_RESULT programCorrection() override { return QOR_RES_OK; }
};

class CameraOnSim : public SimTest {
public:
    void SetUp() override {
        SimTest::SetUp();
        gUpdates.clear();
        sensor.reset(new norva_test::TestSensor(640, 480));
        setup = ParameterFileParser::parseFile(NORVA_ISPC_TEST_DIR "/data/camera_setup.txt");
        ASSERT_TRUE(setup.exists("OUT_ENC"));
    }
    void TearDown() override {
        camera.reset();
        sensor.reset();
        for (int fd : fds)
            close(fd);
        SimTest::TearDown();
    }

    Camera &make() {
        camera.reset(new Camera(0, sensor.get()));
        return *camera;
    }
    /** What the module-registering component does. */
    static void registerModules(Camera &c) {
        for (SetupModule *m :
             std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(), new ModuleFOS()}) {
            ASSERT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
        }
        c.state = Camera::CAM_REGISTERED;
    }
    /** Walks a fresh camera along the ordinary road up to `target`. */
    void reach(Camera &c, Camera::State target) {
        if (target == Camera::CAM_ERROR) {
            stderrOf([&] { c.loadParameters(setup); });
            return;
        }
        const std::vector<std::function<void()>> road = {
            [&] { registerModules(c); },
            [&] { ASSERT_EQ(c.loadParameters(setup), QOR_RES_OK); },
            [&] { ASSERT_EQ(c.program(), QOR_RES_OK); },
            [&] {
                ASSERT_EQ(c.addShots(2), QOR_RES_OK);
                QOR_UINT32 id = 0;
                ASSERT_EQ(c.allocateBuffer(CI_TYPE_ENCODER, false, &id), QOR_RES_OK);
                ASSERT_EQ(c.allocateBuffer(CI_TYPE_DISPLAY, false, &id), QOR_RES_OK);
            },
            [&] { ASSERT_EQ(c.startCapture(), QOR_RES_OK); },
        };
        for (int s = Camera::CAM_CONNECTED; s < target; s++) {
            road[s - Camera::CAM_CONNECTED]();
        }
        ASSERT_EQ(c.state, target);
    }
    /** A descriptor of `size` bytes to import; closed after the camera is gone. */
    QOR_UINT32 descriptor(size_t size) {
        const int fd = memfd_create("camera-import", MFD_CLOEXEC);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
        fds.push_back(fd);
        return static_cast<QOR_UINT32>(fd);
    }
    int pipelineId() {
        return reinterpret_cast<INT_PIPELINE *>(camera->getPipeline()->getCIPipeline())->ui32Identifier;
    }
    static int openDescriptorsNow() { return norva_sim::GetCounters().openDescriptors; }
    norva_sim::SimCaptureView device() {
        norva_sim::SimCaptureView v;
        EXPECT_TRUE(norva_sim::GetSimCapture(pipelineId(), &v));
        return v;
    }

    std::unique_ptr<norva_test::TestSensor> sensor;
    std::unique_ptr<Camera> camera;
    ParameterList setup;
    std::vector<int> fds;
};

} // namespace

TEST_F(CameraOnSim, StateMachine) {
    typedef std::function<QOR_RESULT(CameraOnSim &, Camera &)> Op;
    const struct {
        const char *name;
        Camera::State from;
        Op op;
        QOR_RESULT result;
        Camera::State to;
        const char *log; // a part of what is logged; "" when nothing may be logged; null: not checked
    } rows[] = {
        {"load before registration", Camera::CAM_CONNECTED,
         [](CameraOnSim &t, Camera &c) { return c.loadParameters(t.setup); }, QOR_RES_UNAVAILABLE, Camera::CAM_ERROR,
         "Camera modules must be registered before loading parameters.\n"},
        {"set up before registration", Camera::CAM_CONNECTED, [](CameraOnSim &, Camera &c) { return c.setupModules(); },
         QOR_RES_UNAVAILABLE, Camera::CAM_ERROR, "Camera modules must be registered before set up.\n"},
        {"shots before programming", Camera::CAM_CONNECTED, [](CameraOnSim &, Camera &c) { return c.addShots(2); },
         QOR_RES_UNAVAILABLE, Camera::CAM_ERROR, "Invalid camera state 2\n"},
        {"program before set up", Camera::CAM_REGISTERED, [](CameraOnSim &, Camera &c) { return c.program(); },
         QOR_RES_UNAVAILABLE, Camera::CAM_REGISTERED,
         "Camera modules must be set up before programming the pipeline.\n"},
        {"load", Camera::CAM_REGISTERED, [](CameraOnSim &t, Camera &c) { return c.loadParameters(t.setup); },
         QOR_RES_OK, Camera::CAM_SET_UP, nullptr},
        {"set up", Camera::CAM_REGISTERED, [](CameraOnSim &, Camera &c) { return c.setupModules(); }, QOR_RES_OK,
         Camera::CAM_SET_UP, nullptr},
        {"buffer before programming", Camera::CAM_SET_UP,
         [](CameraOnSim &, Camera &c) {
             QOR_UINT32 id;
             return c.allocateBuffer(CI_TYPE_ENCODER, false, &id);
         },
         QOR_RES_UNAVAILABLE, Camera::CAM_ERROR, "invalid camera state (4)\n"},
        {"program", Camera::CAM_SET_UP, [](CameraOnSim &, Camera &c) { return c.program(); }, QOR_RES_OK,
         Camera::CAM_PROGRAMMED, nullptr},
        {"no shots", Camera::CAM_PROGRAMMED, [](CameraOnSim &, Camera &c) { return c.addShots(0); },
         QOR_RES_INVALID_PARAM, Camera::CAM_PROGRAMMED, "Given number of Shots to add is too small: 0\n"},
        {"buffer before shots, then start", Camera::CAM_PROGRAMMED,
         [](CameraOnSim &, Camera &c) {
             QOR_UINT32 id;
             EXPECT_EQ(c.allocateBuffer(CI_TYPE_ENCODER, false, &id), QOR_RES_OK);
             EXPECT_EQ(c.addShots(1), QOR_RES_OK);
             EXPECT_EQ(c.state, Camera::CAM_PROGRAMMED);
             return c.startCapture();
         },
         QOR_RES_UNAVAILABLE, Camera::CAM_PROGRAMMED, "Camera not ready to start capture.\n"},
        {"two imports before shots", Camera::CAM_PROGRAMMED,
         [](CameraOnSim &t, Camera &c) {
             QOR_UINT32 id;
             const size_t size = 640 * 480 * 2;
             EXPECT_EQ(c.importBuffer(CI_TYPE_ENCODER, t.descriptor(size), size, false, &id), QOR_RES_OK);
             EXPECT_EQ(c.state, Camera::CAM_PROGRAMMED);
             return c.importBuffer(CI_TYPE_ENCODER, t.descriptor(size), size, false, &id);
         },
         QOR_RES_OK, Camera::CAM_READY, nullptr},
        {"pool of two", Camera::CAM_PROGRAMMED,
         [](CameraOnSim &, Camera &c) {
             std::list<unsigned> ids;
             const QOR_RESULT r = c.allocateBufferPool(2, ids);
             EXPECT_EQ(ids.size(), 4u); // two encoder buffers, then two display buffers
             if (ids.size() == 4u) {
                 CI_BUFFER_INFO info;
                 CI_PIPELINE *p = c.getPipeline()->getCIPipeline();
                 const std::vector<unsigned> v(ids.begin(), ids.end());
                 for (unsigned i = 0; i < 4; i++) {
                     EXPECT_EQ(CI_PipelineGetBufferInfo(p, v[i], &info), QOR_RES_OK);
                     EXPECT_EQ(info.type, i < 2 ? CI_ALLOC_ENC : CI_ALLOC_DISP) << i;
                 }
             }
             return r;
         },
         QOR_RES_OK, Camera::CAM_READY, nullptr},
        {"extraction without a point", Camera::CAM_PROGRAMMED,
         [](CameraOnSim &, Camera &c) {
             ModuleOUT *out = static_cast<ModuleOUT *>(c.getPipeline()->getModule(STP_OUT));
             out->displayType = PXL_NONE;
             out->dataExtractionType = BAYER_RGGB_10;
             out->dataExtractionPoint = CI_INOUT_NONE;
             const QOR_RESULT r = c.allocateBufferPool(2);
             EXPECT_EQ(c.getPipeline()->getStatus(), ISPC_Ctx_SETUP); // refused before any shot was added
             return r;
         },
         QOR_RES_NOT_SUPPORTED, Camera::CAM_PROGRAMMED,
         "Data extraction enabled but data extraction point set to NONE\n"},
        {"import of size 0", Camera::CAM_READY,
         [](CameraOnSim &t, Camera &c) {
             QOR_UINT32 id;
             return c.importBuffer(CI_TYPE_ENCODER, t.descriptor(4096), 0, false, &id);
         },
         QOR_RES_INVALID_PARAM, Camera::CAM_READY, "size is 0\n"},
        {"enqueue before start", Camera::CAM_READY, [](CameraOnSim &, Camera &c) { return c.enqueueShot(); },
         QOR_RES_UNAVAILABLE, Camera::CAM_ERROR,
         "Camera must me programmed and buffers allocated before enqueuing a shot.\n"},
        {"start", Camera::CAM_READY, [](CameraOnSim &, Camera &c) { return c.startCapture(); }, QOR_RES_OK,
         Camera::CAM_CAPTURING, nullptr},
        {"stop twice", Camera::CAM_CAPTURING,
         [](CameraOnSim &, Camera &c) {
             EXPECT_EQ(c.stopCapture(), QOR_RES_OK);
             EXPECT_EQ(c.state, Camera::CAM_READY);
             return c.stopCapture();
         },
         QOR_RES_UNAVAILABLE, Camera::CAM_READY, "Camera was not capturing.\n"},
        {"sizes while capturing", Camera::CAM_CAPTURING,
         [](CameraOnSim &, Camera &c) { return c.setEncoderDimensions(64, 64); }, QOR_RES_UNAVAILABLE,
         Camera::CAM_CAPTURING, "Can't change encoder buffer size when pipeline is running"},
        {"poll with nothing triggered", Camera::CAM_CAPTURING,
         [](CameraOnSim &, Camera &c) {
             Shot shot;
             return c.tryAcquireShot(shot);
         },
         QOR_RES_IN_PROGRESS, Camera::CAM_CAPTURING, ""},
        {"error state refuses", Camera::CAM_ERROR, [](CameraOnSim &, Camera &c) { return c.program(); },
         QOR_RES_UNAVAILABLE, Camera::CAM_ERROR, "Unable to perform operation, camera is in error state.\n"},
        {"error state refuses a pool with 3", Camera::CAM_ERROR,
         [](CameraOnSim &, Camera &c) { return c.allocateBufferPool(2); }, QOR_RES_FAILED, Camera::CAM_ERROR,
         "Unable to perform operation, camera is in error state.\n"},
        {"error state still saves", Camera::CAM_ERROR,
         [](CameraOnSim &, Camera &c) {
             ParameterList saved;
             return c.saveParameters(saved, ModuleBase::SAVE_VAL);
         },
         QOR_RES_OK, Camera::CAM_ERROR, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Camera &c = make();
        ASSERT_EQ(c.state, Camera::CAM_CONNECTED);
        reach(c, row.from);
        QOR_RESULT ret = QOR_RES_OK;
        const std::string log = stderrOf([&] { ret = row.op(*this, c); });
        EXPECT_EQ(ret, row.result);
        EXPECT_STREQ(Camera::StateName(c.state), Camera::StateName(row.to));
        if (row.log != nullptr && row.log[0] == '\0') {
            EXPECT_EQ(log, "");
        } else if (row.log != nullptr) {
            EXPECT_TRUE(contains(log, row.log)) << log;
        }
        stderrOf([&] { camera.reset(); });
    }
    // A borrowed sensor is never enabled.
    EXPECT_NE(sensor->getState(), Sensor::SENSOR_ENABLED);
    EXPECT_STREQ(Camera::StateName(static_cast<Camera::State>(8)), "unknown");
}

TEST_F(CameraOnSim, HundredFramesWithThreeControls) {
    Camera &c = make();
    registerModules(c);
    // Registered in another order than they run.
    ASSERT_EQ(c.registerControlModule(new FrameControl(CTRL_AF)), QOR_RES_OK);
    ASSERT_EQ(c.registerControlModule(new FrameControl(CTRL_AE, 10)), QOR_RES_OK);
    ASSERT_EQ(c.registerControlModule(new FrameControl(CTRL_AWB)), QOR_RES_OK);
    ASSERT_EQ(c.loadParameters(setup), QOR_RES_OK);
    ASSERT_EQ(c.program(), QOR_RES_OK);
    ASSERT_EQ(c.allocateBufferPool(3), QOR_RES_OK);
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);

    const auto erroneous = [](int frame) { return frame % 7 == 3; };
    std::vector<std::string> expected;
    Shot shot;
    for (int frame = 1; frame <= 100; frame++) {
        norva_sim::SimSaveStats stats;
        memset(&stats, 0, sizeof(stats));
        stats.fosRoi = static_cast<uint32_t>(frame);
        norva_sim::QueueStatistics(pipelineId(), stats);
        if (erroneous(frame))
            norva_sim::InjectFrameError(pipelineId(), true);
        ASSERT_EQ(c.enqueueShot(), QOR_RES_OK) << frame;
        QOR_RESULT ret = QOR_RES_OK;
        const std::string log = stderrOf([&] { ret = c.acquireShot(shot); });
        if (erroneous(frame)) {
            EXPECT_EQ(ret, QOR_RES_OK) << frame;
            EXPECT_TRUE(shot.bFrameError) << frame;
            EXPECT_TRUE(contains(log, "frame is erroneous - skipping control module writing\n")) << log;
        } else {
            for (const char *name : {"AWB ", "AE ", "AF "})
                expected.push_back(name + std::to_string(frame));
            EXPECT_EQ(ret, frame % 10 == 0 ? QOR_RES_FAILED : QOR_RES_OK) << frame;
        }
        // Whatever the result, a shot handed out is given back.
        ASSERT_NE(shot.pCIBuffer, nullptr) << frame;
        ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK) << frame;
    }
    EXPECT_EQ(gUpdates, expected);
    const norva_sim::SimCaptureView v = device();
    EXPECT_EQ(v.framesCompleted, 100u);
    EXPECT_EQ(v.shotsAcquired, 0u);
    EXPECT_EQ(v.shotsFree, 3u);
    EXPECT_FALSE(CI_PipelineHasAcquired(c.getPipeline()->getCIPipeline()));
    ASSERT_EQ(c.stopCapture(), QOR_RES_OK);

    std::ostringstream os;
    c.printState(os);
    EXPECT_TRUE(contains(os.str(), "Camera:\n  state = CAM_READY\n  ctx = 0\n  ownSensor = 0\nControls:\n"))
        << os.str();
}

TEST_F(CameraOnSim, DestroyingACapturingCameraStopsItFirst) {
    Camera &c = make();
    reach(c, Camera::CAM_CAPTURING);
    ASSERT_EQ(c.enqueueShot(), QOR_RES_OK); // one frame left pending
    norva_sim::ClearTrace();
    const std::string log = stderrOf([&] { camera.reset(); });
    EXPECT_TRUE(contains(log, "Camera in capture state, should be stopped before destroying.\n")) << log;
    std::vector<int> nrs;
    for (const auto &e : norva_sim::Trace())
        nrs.push_back(e.nr);
    const auto stop = std::find(nrs.begin(), nrs.end(), static_cast<int>(CI_CAPTURE_STOP));
    const auto deregister = std::find(nrs.begin(), nrs.end(), static_cast<int>(CI_PIPELINE_DEREGISTER));
    ASSERT_NE(stop, nrs.end());
    ASSERT_NE(deregister, nrs.end());
    EXPECT_LT(stop, deregister);
    // The sensor still holds its connection reference, so the device stays open until it goes.
    EXPECT_EQ(openDescriptorsNow(), 1);
}

TEST_F(CameraOnSim, DriverFailuresPutPipelineAndCameraInTheirErrorStates) {
    const struct {
        const char *name;
        Camera::State from;
        unsigned command;
        int error;
        std::function<QOR_RESULT(Camera &)> op;
        QOR_RESULT result;
        Camera::State to;
        CtxStatus pipelineTo;
    } rows[] = {
        {"buffer allocation", Camera::CAM_PROGRAMMED, CI_CREATE_BUFF, -ENOMEM,
         [](Camera &c) {
             EXPECT_EQ(c.addShots(1), QOR_RES_OK);
             QOR_UINT32 id;
             return c.allocateBuffer(CI_TYPE_ENCODER, false, &id);
         },
         QOR_RES_FAILED, Camera::CAM_ERROR, ISPC_Ctx_ERROR},
        {"shot pool", Camera::CAM_PROGRAMMED, CI_CONFIG_ADDPOOL, -ENOMEM, [](Camera &c) { return c.addShots(2); },
         QOR_RES_FAILED, Camera::CAM_ERROR, ISPC_Ctx_SETUP},
        {"update while enqueuing", Camera::CAM_CAPTURING, CI_CONFIG_UPDATE, -EINVAL,
         [](Camera &c) { return c.enqueueShot(); }, QOR_RES_FAILED, Camera::CAM_ERROR, ISPC_Ctx_READY},
        {"trigger", Camera::CAM_CAPTURING, CI_CAPTURE_TRIGGER, -EBUSY, [](Camera &c) { return c.enqueueShot(); },
         QOR_RES_FAILED, Camera::CAM_ERROR, ISPC_Ctx_READY},
        {"stop with a borrowed sensor", Camera::CAM_CAPTURING, CI_CAPTURE_STOP, -EIO,
         [](Camera &c) { return c.stopCapture(); }, QOR_RES_FAILED, Camera::CAM_ERROR, ISPC_Ctx_READY},
        {"start", Camera::CAM_READY, CI_CAPTURE_START, -EBUSY, [](Camera &c) { return c.startCapture(); },
         QOR_RES_FAILED, Camera::CAM_READY, ISPC_Ctx_READY},
        {"acquire times out", Camera::CAM_CAPTURING, CI_CAPTURE_ACQUIRE, -ETIME,
         [](Camera &c) {
             Shot shot;
             EXPECT_EQ(c.enqueueShot(), QOR_RES_OK);
             const QOR_RESULT r = c.acquireShot(shot);
             EXPECT_EQ(shot.pCIBuffer, nullptr);
             return r;
         },
         QOR_RES_FAILED, Camera::CAM_CAPTURING, ISPC_Ctx_READY},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Camera &c = make();
        reach(c, row.from);
        norva_sim::InjectCommandFault(row.command, row.error);
        QOR_RESULT ret = QOR_RES_OK;
        stderrOf([&] { ret = row.op(c); });
        norva_sim::ClearCommandFaults();
        EXPECT_EQ(ret, row.result);
        EXPECT_STREQ(Camera::StateName(c.state), Camera::StateName(row.to));
        EXPECT_EQ(c.getPipeline()->getStatus(), row.pipelineTo);
        stderrOf([&] { camera.reset(); });
    }
}

TEST_F(CameraOnSim, AShotAcquiredBeforeTheCameraFailedIsStillGivenBack) {
    Camera &c = make();
    reach(c, Camera::CAM_CAPTURING);
    Shot shot;
    ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
    ASSERT_EQ(c.acquireShot(shot), QOR_RES_OK);
    norva_sim::InjectCommandFault(CI_CAPTURE_TRIGGER, -EBUSY);
    stderrOf([&] { EXPECT_EQ(c.enqueueShot(), QOR_RES_FAILED); });
    ASSERT_EQ(c.state, Camera::CAM_ERROR);
    EXPECT_EQ(c.releaseShot(shot), QOR_RES_OK);
    EXPECT_EQ(device().shotsAcquired, 0u);
    // Nothing else is accepted.
    Shot empty;
    stderrOf([&] { EXPECT_EQ(c.releaseShot(empty), QOR_RES_UNAVAILABLE); });
    stderrOf([&] { camera.reset(); });
}

TEST(CameraConstruction, WithoutADeviceOrASensor) {
    SEAM_Override(norva_sim::SimulationOps());
    norva_sim::ResetPlatform();
    {
        std::string log = stderrOf([] {
            Camera borrowedNull(0, static_cast<Sensor *>(nullptr));
            EXPECT_EQ(borrowedNull.state, Camera::CAM_ERROR);
            EXPECT_EQ(borrowedNull.getPipeline(), nullptr);
        });
        EXPECT_TRUE(contains(log, "Given sensor is NULL\n")) << log;
        norva_sim::SetDeviceAbsent(true);
        log = stderrOf([] {
            Camera noDevice(0);
            EXPECT_EQ(noDevice.state, Camera::CAM_ERROR);
            EXPECT_EQ(noDevice.getConnection(), nullptr);
        });
        EXPECT_TRUE(contains(log, "Error connecting to CI\n")) << log;
        norva_sim::SetDeviceAbsent(false);
    }
    EXPECT_EQ(norva_sim::GetCounters().openDescriptors, 0);
    norva_sim::ResetPlatform();
    SEAM_Override(nullptr);
}

// The commands of one camera life: registration and the full first update, shots, buffers of the encoder
// then the display, the start (with an update before it), per frame an update, a trigger, an acquire and a
// release, the stop, and at destruction the pool and the registration given back.
TEST_F(CameraOnSim, CommandTraceOfOneCameraLife) {
    norva_sim::ClearTrace();
    {
        Camera &c = make();
        registerModules(c);
        ASSERT_EQ(c.loadParameters(setup), QOR_RES_OK);
        ASSERT_EQ(c.program(), QOR_RES_OK);
        ASSERT_EQ(c.allocateBufferPool(2), QOR_RES_OK);
        ASSERT_EQ(c.startCapture(), QOR_RES_OK);
        for (int frame = 0; frame < 3; frame++) {
            Shot shot;
            ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
            ASSERT_EQ(c.acquireShot(shot), QOR_RES_OK);
            ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
        }
        ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
        camera.reset();
    }
    std::vector<int> nrs;
    std::vector<int> masks;
    std::vector<int> kinds;
    for (const auto &e : norva_sim::Trace()) {
        nrs.push_back(e.nr);
        if (e.nr == CI_CONFIG_UPDATE) {
            int mask;
            memcpy(&mask, &e.argIn[offsetof(CI_PIPE_PARAM, eUpdateMask)], sizeof(mask));
            masks.push_back(mask);
        } else if (e.nr == CI_CREATE_BUFF) {
            int kind;
            memcpy(&kind, &e.argIn[offsetof(CI_ALLOC_PARAM, type)], sizeof(kind));
            kinds.push_back(kind);
        }
    }
    std::vector<int> expected = {CI_PIPELINE_REGISTER,    CI_CONFIG_UPDATE,     CI_CONFIG_ADDPOOL, CI_CONFIG_ADDPOOL,
                                 CI_CAPTURE_HASAVAILABLE, CI_CREATE_BUFF,       CI_CREATE_BUFF,    CI_CREATE_BUFF,
                                 CI_CREATE_BUFF,          CI_CAPTURE_ISSTARTED, CI_CONFIG_UPDATE,  CI_CAPTURE_ISSTARTED,
                                 CI_LINESTORE_GET,        CI_LINESTORE_SET,     CI_CAPTURE_START};
    for (int frame = 0; frame < 3; frame++) {
        for (int nr : {CI_CAPTURE_ISSTARTED, CI_CONFIG_UPDATE, CI_CAPTURE_ISSTARTED, CI_CAPTURE_TRIGGER,
                       CI_CAPTURE_ACQUIRE, CI_CAPTURE_RELEASE}) {
            expected.push_back(nr);
        }
    }
    for (int nr : {CI_CAPTURE_STOP, CI_CONFIG_DELPOOL, CI_PIPELINE_DEREGISTER})
        expected.push_back(nr);
    EXPECT_EQ(nrs, expected);
    EXPECT_EQ(kinds, (std::vector<int>{CI_ALLOC_ENC, CI_ALLOC_ENC, CI_ALLOC_DISP, CI_ALLOC_DISP}));
    ASSERT_EQ(masks.size(), 5u);
    EXPECT_EQ(masks[0], CI_UPD_ALL);
    // Black level and white balance are converted every time, so no update is empty; none carries the groups
    // a running capture does not take (nor need them before the start, as nothing asked for them).
    for (size_t i = 1; i < masks.size(); i++) {
        EXPECT_NE(masks[i], 0) << i;
        EXPECT_EQ(masks[i] & 0x380, 0) << i;
        EXPECT_EQ(masks[i], masks[1]) << i;
    }
}
