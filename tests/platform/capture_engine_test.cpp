#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

#include "support/capture_fixture.h"
#include "ci/ci_connection_internal.h"
#include "ci/ci_ioctrl.h"
#include "ci/sys_userio.h"
#include "platform/sim_capture.h"
#include "platform/sim_pipeline.h"
#include "platform/sim_platform.h"

using norva_test::CaptureTest;

namespace {

/** The device seen through raw commands on the pipeline of the capture fixture. */
class CaptureEngine : public CaptureTest {
protected:
    int command(CI_eIOCTL nr, void *arg) {
        return SYS_IO_Control(reinterpret_cast<INT_CONNECTION *>(conn)->fileDesc, CI_IOCTL_CMD(nr),
                              static_cast<long>(reinterpret_cast<intptr_t>(arg)));
    }
    int commandValue(CI_eIOCTL nr, long value) {
        return SYS_IO_Control(reinterpret_cast<INT_CONNECTION *>(conn)->fileDesc, CI_IOCTL_CMD(nr), value);
    }
    int trigger(bool blocking) {
        CI_BUFFER_TRIGG t;
        memset(&t, 0, sizeof(t));
        t.captureId = pipelineId();
        t.bBlocking = blocking;
        t.bufferIds.encId = enc.empty() ? 0 : enc[triggered % enc.size()];
        triggered++;
        return command(CI_CAPTURE_TRIGGER, &t);
    }
    int acquire(bool blocking, CI_BUFFER_PARAM *param) {
        memset(param, 0, sizeof(*param));
        param->captureId = pipelineId();
        param->bBlocking = blocking;
        return command(CI_CAPTURE_ACQUIRE, param);
    }
    int release(int shotId) {
        CI_BUFFER_TRIGG t;
        memset(&t, 0, sizeof(t));
        t.captureId = pipelineId();
        t.shotId = shotId;
        return command(CI_CAPTURE_RELEASE, &t);
    }
    unsigned triggered = 0;
};

TEST_F(CaptureEngine, NothingFinishedAndTimeouts) {
    startWith(1, 3, 0);
    norva_sim::SetCaptureTimeoutMs(30);
    CI_BUFFER_PARAM p;
    EXPECT_EQ(acquire(false, &p), -EALREADY);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(acquire(true, &p), -ETIME);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(30));
    // One shot: a second trigger finds none free.
    ASSERT_EQ(trigger(false), 0);
    EXPECT_EQ(trigger(false), -EBUSY);
    EXPECT_EQ(trigger(true), -ETIME);
    // Unknown or busy buffers are refused; a release of a shot that is not acquired too.
    CI_BUFFER_TRIGG t;
    memset(&t, 0, sizeof(t));
    t.captureId = pipelineId();
    t.bufferIds.dispId = enc[2]; // an encoder buffer named as display
    EXPECT_EQ(command(CI_CAPTURE_TRIGGER, &t), -EINVAL);
    EXPECT_EQ(release(12345), -EINVAL);
}

// Stop wakes a blocked acquire with -ECANCELED; a blocked trigger gets its shot when another thread releases one.
TEST_F(CaptureEngine, BlockedCallsWakeOnStopAndRelease) {
    startWith(1, 2, 0);
    norva_sim::SetFrameSource(0, nullptr);
    std::atomic<int> answer(1);
    CI_BUFFER_PARAM p;
    std::thread waiter([&] {
        CI_BUFFER_PARAM mine;
        answer = acquire(true, &mine);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(answer.load(), 1);
    ASSERT_EQ(commandValue(CI_CAPTURE_STOP, pipelineId()), 0);
    waiter.join();
    EXPECT_EQ(answer.load(), -ECANCELED);

    ASSERT_EQ(commandValue(CI_CAPTURE_START, pipelineId()), 0);
    ASSERT_EQ(trigger(true), 0);
    ASSERT_EQ(acquire(true, &p), 0);
    std::atomic<int> triggerAnswer(1);
    std::thread blocked([&] { triggerAnswer = trigger(true); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(triggerAnswer.load(), 1); // still waiting for a free shot
    ASSERT_EQ(release(p.shotId), 0);
    blocked.join();
    EXPECT_EQ(triggerAnswer.load(), 0);
    ASSERT_EQ(acquire(true, &p), 0);
    EXPECT_EQ(release(p.shotId), 0);
}

// The private value: set at registration and at every update, stamped into each accepted trigger, then counted
// up modulo 256.
TEST_F(CaptureEngine, PrivateValueFollowsRegistrationAndUpdates) {
    startWith(2, 2, 1);
    pipe->config.ui8PrivateValue = 254;
    ASSERT_EQ(CI_PipelineUpdate(pipe, CI_UPD_NONE, nullptr), QOR_RES_OK);
    const uint8_t expected[] = {254, 255, 0, 1};
    for (uint8_t want : expected) {
        ASSERT_EQ(trigger(true), 0);
        CI_BUFFER_PARAM p;
        ASSERT_EQ(acquire(true, &p), 0);
        EXPECT_EQ(p.shot.ui8PrivateValue, want);
        ASSERT_EQ(release(p.shotId), 0);
    }
    // Triggers sent around the library left its ring behind; an update sets the device's value to the library's.
    ASSERT_EQ(CI_PipelineUpdate(pipe, CI_UPD_NONE, nullptr), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    CI_SHOT *shot = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    EXPECT_EQ(shot->ui8PrivateValue, 254);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
}

/** A source that has a frame only when the test says so, like a data generator waiting for insertion. */
class GatedSource : public norva_sim::SimFrameSource {
public:
    bool ready(unsigned) override { return frames > 0; }
    bool begin(unsigned) override { return frames > 0; }
    void render(const norva_sim::SimFrameContext &ctx) override {
        delivered++;
        lastPipeline = ctx.pipelineId;
        norva_sim::TestPatternSource().render(ctx);
    }
    void end(unsigned) override { frames--; }
    int frames = 0;
    int delivered = 0;
    int lastPipeline = 0;
};

// One frame of the gasket reaches every started pipeline on it that waits for one.
TEST_F(CaptureEngine, OneFrameReachesEveryPipelineOnTheImager) {
    startWith(1, 1, 1);
    // A second pipeline, context 1, same imager.
    CI_PIPELINE *slave = nullptr;
    ASSERT_EQ(CI_PipelineCreate(&slave, conn), QOR_RES_OK);
    *slave = *pipe;
    slave->sDefectivePixels.sInput.apDefectInput = nullptr; // owned by the main pipeline
    slave->sDefectivePixels.sInput.ui32NDefect = 0;
    slave->config.ui8Context = 1;
    slave->config.ui8PrivateValue = 100;
    ASSERT_EQ(CI_PipelineRegister(slave), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineComputeLinestore(slave), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineAddPool(slave, 1), QOR_RES_OK);
    QOR_UINT32 slaveBuffer = 0;
    ASSERT_EQ(CI_PipelineAllocateBuffer(slave, CI_TYPE_ENCODER, bufferSize(CI_TYPE_ENCODER), 0, &slaveBuffer),
              QOR_RES_OK);
    ASSERT_EQ(CI_PipelineAllocateBuffer(slave, CI_TYPE_DISPLAY, bufferSize(CI_TYPE_DISPLAY), 0, &slaveBuffer),
              QOR_RES_OK);
    ASSERT_EQ(CI_PipelineStartCapture(slave), QOR_RES_OK);

    GatedSource gated;
    norva_sim::SetFrameSource(0, &gated);
    norva_sim::SetCaptureTimeoutMs(20);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    CI_SHOT *main = nullptr;
    EXPECT_EQ(CI_PipelineAcquireShot(pipe, &main), QOR_RES_TIMEOUT); // no frame inserted yet
    ASSERT_EQ(CI_PipelineTriggerShoot(slave), QOR_RES_OK);
    gated.frames = 1;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &main), QOR_RES_OK);
    EXPECT_EQ(gated.delivered, 2);
    CI_SHOT *other = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShotNB(slave, &other), QOR_RES_OK);
    EXPECT_EQ(other->ui8PrivateValue, 100);
    EXPECT_EQ(CaptureTest::shotMismatches(main, 1), 0u);
    EXPECT_EQ(CaptureTest::shotMismatches(other, 1), 0u);
    EXPECT_EQ(norva_sim::GasketFrameCount(0), 1u);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, main), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineReleaseShot(slave, other), QOR_RES_OK);
    // A frame that finds the slave without a trigger is counted as missed by it.
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    gated.frames = 1;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &main), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, main), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineTriggerShoot(slave), QOR_RES_OK);
    gated.frames = 1;
    ASSERT_EQ(CI_PipelineAcquireShot(slave, &other), QOR_RES_OK);
    EXPECT_EQ(other->i32MissedFrames, 1);
    ASSERT_EQ(CI_PipelineReleaseShot(slave, other), QOR_RES_OK);
    norva_sim::SetFrameSource(0, nullptr);
    // Destroying a started pipeline stops it and frees its driver objects.
    ASSERT_EQ(CI_PipelineDestroy(slave), QOR_RES_OK);
}

struct DeviceRefusal {
    const char *name;
    int type;
    uint32_t size;
    bool tiled;
    bool importSmall;
};

TEST_F(CaptureEngine, BufferCommandsRefuseWhatADriverRefuses) {
    const DeviceRefusal cases[] = {
        {"import without a size", CI_ALLOC_ENC, 0, false, true},
        {"tiled without tiling", CI_ALLOC_ENC, 4096, true, false},
        {"kind not configured", CI_ALLOC_RAW2D, 4096, false, false},
        {"kind out of range", 9, 4096, false, false},
        {"descriptor smaller than the size", CI_ALLOC_ENC, 8192, false, true},
    };
    const int small = memfd_create("small", MFD_CLOEXEC);
    ASSERT_GE(small, 0);
    ASSERT_EQ(ftruncate(small, 4096), 0);
    for (const DeviceRefusal &c : cases) {
        CI_ALLOC_PARAM param;
        memset(&param, 0, sizeof(param));
        param.configId = static_cast<QOR_UINT32>(pipelineId());
        param.type = c.type;
        param.uiSize = c.size;
        param.bTiled = c.tiled;
        param.fd = c.importSmall ? static_cast<QOR_UINT32>(small) : 0;
        EXPECT_EQ(command(CI_CREATE_BUFF, &param), -EINVAL) << c.name;
    }
    close(small);
    EXPECT_EQ(norva_sim::GetCounters().driverObjects, 1); // the pipeline only
    // Deregistering the pipeline drops its shots and buffers.
    startWith(2, 1, 1);
    ASSERT_EQ(commandValue(CI_CONFIG_DELPOOL, pipelineId()), -EBUSY);
    EXPECT_EQ(norva_sim::GetCounters().driverObjects, 5);
}

} // namespace
