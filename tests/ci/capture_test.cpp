#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "support/capture_fixture.h"
#include "ci/ci_connection_internal.h"
#include "ci/ci_ioctrl.h"
#include "ci/sys_userio.h"
#include "platform/sim_node.h"
#include "platform/sim_platform.h"
#include "support/output_capture.h"

using norva_test::contains;
using norva_test::stderrOf;
using norva_test::stdoutOf;

using norva_test::CaptureTest;
using norva_test::stderrOf;
using norva_test::stdoutOf;

namespace {

unsigned commandCount(unsigned nr) {
    unsigned n = 0;
    for (const auto &e : norva_sim::Trace())
        n += e.nr == static_cast<int>(nr) ? 1u : 0u;
    return n;
}

uint64_t nowNs(clockid_t clock) {
    struct timespec ts;
    clock_gettime(clock, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

/** Runs f and returns everything it logged on either stream. */
template <typename F> std::string logOf(F &&f) {
    std::string out;
    const std::string err = stderrOf([&] { out = stdoutOf(f); });
    return out + err;
}

// A long run through three shots, NV12 encoder and RGB display: every frame carries the pattern at the
// strides and offsets it reports, the private value counts up and wraps, injected faults arrive as they
// should, and stopping returns pending buffers while an acquired shot stays acquired.
TEST_F(CaptureTest, ThousandFramesThroughThreeShots) {
    startWith(3, 3, 3, 8192);
    // Every other frame names its buffers with a layout of its own; the others take the first available ones.
    unsigned triggers = 0;
    auto trigger = [&] {
        if (triggers++ % 2 == 0)
            return CI_PipelineTriggerShoot(pipe);
        CI_BUFFID ids;
        const QOR_RESULT found = CI_PipelineFindFirstAvailable(pipe, &ids);
        if (found != QOR_RES_OK)
            return found;
        ids.encStrideY = 128;
        ids.encStrideC = 96;
        ids.encOffsetY = 256;
        ids.encOffsetC = 256 + 128 * kHeight + 64;
        ids.dispStride = 256;
        ids.dispOffset = 128;
        return CI_PipelineTriggerSpecifiedShoot(pipe, &ids);
    };
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(trigger(), QOR_RES_OK);

    const int kFrames = 1000;
    const int kStatusError = 500, kDriverError = 700, kInterrupted = 300, kPolled = 400;
    unsigned patternFaults = 0, privateFaults = 0, customLayouts = 0;
    for (int i = 0; i < kFrames; i++) {
        CI_SHOT *shot = nullptr;
        if (i == kPolled) {
            CI_SHOT *untouched = reinterpret_cast<CI_SHOT *>(0x1);
            CI_SHOT *polled = untouched;
            const std::string log =
                logOf([&] { EXPECT_EQ(CI_PipelineAcquireShotNB(pipe, &polled), QOR_RES_IN_PROGRESS); });
            EXPECT_EQ(log, "");
            EXPECT_EQ(polled, untouched);
        }
        if (i == kStatusError)
            norva_sim::InjectFrameError(pipelineId(), true);
        if (i == kDriverError)
            norva_sim::InjectFrameError(pipelineId(), false);
        if (i == kInterrupted) {
            norva_sim::ClearTrace();
            norva_sim::InjectCommandFault(CI_CAPTURE_ACQUIRE, -EINTR);
        }
        const uint64_t before = nowNs(CLOCK_MONOTONIC);
        ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK) << "frame " << i;
        const uint64_t after = nowNs(CLOCK_MONOTONIC);
        if (i == kInterrupted) {
            EXPECT_EQ(commandCount(CI_CAPTURE_ACQUIRE), 2u);
        }

        patternFaults += CaptureTest::shotMismatches(shot, static_cast<uint64_t>(i) + 1) != 0 ? 1u : 0u;
        customLayouts += shot->aEncOffset[0] == 256 && shot->aEncYSize[0] == 128 && shot->aEncCbCrSize[0] == 96 &&
                         shot->aDispSize[0] == 256 && shot->ui32DispOffset == 128;
        privateFaults += shot->ui8PrivateValue != static_cast<QOR_UINT8>(i) ? 1u : 0u;
        EXPECT_EQ(shot->pExtraParams, &internal()->sExtraParams[shot->ui8PrivateValue]);
        EXPECT_EQ(shot->bFrameError != 0, i == kStatusError || i == kDriverError) << "frame " << i;
        EXPECT_EQ(shot->i32MissedFrames, 0);
        EXPECT_NE(shot->encId, 0u);
        EXPECT_NE(shot->dispId, 0u);
        EXPECT_EQ(shot->eOutputConfig, pipe->config.eOutputConfig);
        EXPECT_LE(before, shot->ui64InterruptSysTime);
        EXPECT_GE(after, shot->ui64InterruptSysTime);
        EXPECT_LE(shot->ui64LinkedListSysTime, shot->ui64InterruptSysTime);
        ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
        if (i + 3 < kFrames) {
            ASSERT_EQ(trigger(), QOR_RES_OK);
        }
    }
    EXPECT_EQ(patternFaults, 0u);
    EXPECT_EQ(privateFaults, 0u);
    EXPECT_EQ(customLayouts, kFrames / 2u);
    EXPECT_EQ(pipe->config.ui8PrivateValue, static_cast<QOR_UINT8>(kFrames));

    // Stop with one shot acquired and two frames pending.
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    CI_SHOT *held = nullptr;
    const uint64_t dayBefore = nowNs(CLOCK_REALTIME);
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &held), QOR_RES_OK);
    EXPECT_LE(dayBefore, held->ui64InterruptTimeOfDay);
    EXPECT_GE(nowNs(CLOCK_REALTIME), held->ui64InterruptTimeOfDay);
    EXPECT_TRUE(CI_PipelineHasPending(pipe));
    ASSERT_EQ(CI_PipelineStopCapture(pipe), QOR_RES_OK);
    EXPECT_FALSE(CI_PipelineHasPending(pipe));
    EXPECT_FALSE(CI_PipelineIsStarted(pipe));
    for (QOR_UINT32 id : enc)
        EXPECT_EQ(available(id), id != held->encId) << id;
    for (QOR_UINT32 id : disp)
        EXPECT_EQ(available(id), id != held->dispId) << id;
    EXPECT_TRUE(CI_PipelineHasAcquired(pipe));
    norva_sim::SimCaptureView v = device();
    EXPECT_EQ(v.shotsAcquired, 1u);
    EXPECT_EQ(v.shotsPending + v.shotsFinished, 0u);
    EXPECT_EQ(v.buffersAcquired, 2u);
    EXPECT_EQ(CaptureTest::shotMismatches(held, kFrames + 1), 0u);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, held), QOR_RES_OK);
    EXPECT_FALSE(CI_PipelineHasAcquired(pipe));

    ASSERT_EQ(CI_PipelineDestroy(pipe), QOR_RES_OK);
    pipe = nullptr;
    const norva_sim::PlatformCounters c = norva_sim::GetCounters();
    EXPECT_EQ(c.liveMappings, 0);
    EXPECT_EQ(c.driverObjects, 0);
    EXPECT_EQ(c.deviceMemoryAreas, 0);
}

TEST_F(CaptureTest, FirstAvailableBuffersInListOrderWithDefaultLayout) {
    startWith(2, 2, 1);
    norva_sim::ClearTrace();
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    const auto trace = norva_sim::Trace();
    ASSERT_EQ(trace.back().nr, CI_CAPTURE_TRIGGER);
    CI_BUFFER_TRIGG sent;
    memcpy(&sent, trace.back().argIn.data(), sizeof(sent));
    EXPECT_EQ(sent.bufferIds.encId, enc[0]);
    EXPECT_EQ(sent.bufferIds.dispId, disp[0]);
    EXPECT_EQ(sent.bufferIds.encStrideY | sent.bufferIds.encStrideC | sent.bufferIds.encOffsetY |
                  sent.bufferIds.encOffsetC | sent.bufferIds.dispStride | sent.bufferIds.dispOffset,
              0u);

    // The only display buffer is pending: the next first-available trigger fails until the shot is released.
    std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_IN_PROGRESS); });
    EXPECT_TRUE(contains(err, "Failed to find an available display output buffer!\n")) << err;
    EXPECT_TRUE(available(enc[1]));
    CI_SHOT *shot = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    // The default layout: 64-byte aligned strides, chroma after the luma rows.
    EXPECT_EQ(shot->aEncYSize[0], 64u);
    EXPECT_EQ(shot->aEncYSize[1], kHeight);
    EXPECT_EQ(shot->aEncOffset[1], 64u * kHeight);
    EXPECT_EQ(shot->aEncCbCrSize[1], kHeight / 2);
    EXPECT_EQ(shot->aDispSize[0], 192u);
    EXPECT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_IN_PROGRESS);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    EXPECT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
}

TEST_F(CaptureTest, SpecifiedTriggersAndTheirRefusals) {
    startWith(3, 2, 2);
    CI_BUFFID ids;
    memset(&ids, 0, sizeof(ids));
    ids.encId = enc[0];
    ids.dispId = disp[0];
    ASSERT_EQ(CI_PipelineTriggerSpecifiedShoot(pipe, &ids), QOR_RES_OK);

    // A pending display buffer named again: refused, and the encoder buffer named with it stays available.
    ids.encId = enc[1];
    std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineTriggerSpecifiedShootNB(pipe, &ids), QOR_RES_IN_PROGRESS); });
    EXPECT_TRUE(
        contains(err, "Display buffer " + std::to_string(disp[0]) + " found but it is not available for capture\n"))
        << err;
    EXPECT_TRUE(available(enc[1]));

    // Deregistering a pending buffer is refused.
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineDeregisterBuffer(pipe, disp[0]), QOR_RES_UNAVAILABLE); });
    EXPECT_TRUE(contains(err, "Cannot deregister a buffer that is acquired or pending for capture")) << err;

    // An unknown identifier; a layout whose size wraps 32 bits (stride x rows = 2^32) is refused by the device.
    ids.dispId = 0x5555;
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineTriggerSpecifiedShoot(pipe, &ids), QOR_RES_IN_PROGRESS); });
    EXPECT_TRUE(contains(err, "Failed to find specified display output buffer 0x5555!\n")) << err;
    ids.dispId = disp[1];
    ids.encStrideY = 0x10000000u; // x 48 rows = 3 x 2^32: 0 in 32-bit arithmetic
    EXPECT_EQ(CI_PipelineTriggerSpecifiedShoot(pipe, &ids), QOR_RES_INVALID_PARAM);
    EXPECT_TRUE(available(enc[1]));
    EXPECT_TRUE(available(disp[1]));

    // Explicit strides and offsets reach the frame.
    ids.encStrideY = 64;
    ids.encStrideC = 64;
    ids.encOffsetY = 0;
    ids.encOffsetC = 64 * kHeight;
    ASSERT_EQ(CI_PipelineTriggerSpecifiedShoot(pipe, &ids), QOR_RES_OK);
    CI_SHOT *first = nullptr;
    CI_SHOT *second = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &first), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &second), QOR_RES_OK);
    EXPECT_EQ(first->encId, enc[0]);
    EXPECT_EQ(second->encId, enc[1]);
    EXPECT_EQ(CaptureTest::shotMismatches(second, 2), 0u);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, first), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, second), QOR_RES_OK);
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineReleaseShot(pipe, second), QOR_RES_NOT_INITIALISED); });
    EXPECT_TRUE(contains(err, "pPipeline is not registered or buffer was not acquired\n")) << err;
    EXPECT_EQ(CI_PipelineDeregisterBuffer(pipe, disp[0]), QOR_RES_OK);
    EXPECT_EQ(CI_PipelineHasBuffers(pipe), 3);
}

struct CreateCase {
    CI_BUFFTYPE role;
    QOR_BOOL8 tiled;
    QOR_RESULT result;
    const char *message;
};

TEST_F(CaptureTest, BufferCreationRefusals) {
    const CreateCase cases[] = {
        {CI_TYPE_NONE, 0, QOR_RES_INVALID_PARAM, "pPipeline is NULL or buffer type is NONE\n"},
        {CI_TYPE_ENCODER, 1, QOR_RES_NOT_SUPPORTED, "Pipeline is not configured to support tiling"},
        {CI_TYPE_DATAEXT, 0, QOR_RES_NOT_SUPPORTED,
         "Given buffer type 3 is not configured in current Pipeline setup (encoder=2, display=1, hdrExt=0, hdrIns=0, "
         "raw2D=0)\n"},
        {CI_TYPE_HDRINS, 0, QOR_RES_NOT_SUPPORTED, "Given buffer type 5 is not configured"},
        {CI_TYPE_RAW2D, 0, QOR_RES_NOT_SUPPORTED, "Given buffer type 6 is not configured"},
        {static_cast<CI_BUFFTYPE>(7), 0, QOR_RES_FAILED, "unsupoprted buffer format configured!\n"},
    };
    for (const CreateCase &c : cases) {
        QOR_UINT32 id = 0;
        const std::string err =
            stderrOf([&] { EXPECT_EQ(CI_PipelineAllocateBuffer(pipe, c.role, 4096, c.tiled, &id), c.result); });
        EXPECT_TRUE(contains(err, c.message)) << c.role << ": " << err;
    }
    std::string err = stderrOf(
        [&] { EXPECT_EQ(CI_PipelineImportBuffer(pipe, CI_TYPE_ENCODER, 4096, 0, 0, nullptr), QOR_RES_INVALID_PARAM); });
    EXPECT_TRUE(contains(err, "Given buffer ID 0 is invalid!\n")) << err;
    EXPECT_EQ(CI_PipelineHasBuffers(pipe), 0);

    // Without a size the driver answers with the size the configured output needs, which the buffer keeps.
    QOR_UINT32 id = 0;
    for (CI_BUFFTYPE role : {CI_TYPE_ENCODER, CI_TYPE_DISPLAY}) {
        ASSERT_EQ(CI_PipelineAllocateBuffer(pipe, role, 0, 0, &id), QOR_RES_OK) << role;
        CI_BUFFER_INFO info;
        ASSERT_EQ(CI_PipelineGetBufferInfo(pipe, id, &info), QOR_RES_OK);
        EXPECT_EQ(info.ui32Size, bufferSize(role)) << role;
        EXPECT_EQ(CI_PipelineDeregisterBuffer(pipe, id), QOR_RES_OK);
    }
}

// A buffer imported from a descriptor is captured into and the frame is visible through the caller's own
// mapping of that descriptor.
TEST_F(CaptureTest, ImportedBufferIsVisibleThroughItsDescriptor) {
    const uint32_t size = bufferSize(CI_TYPE_ENCODER);
    const int fd = memfd_create("imported", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    ASSERT_EQ(CI_PipelineAddPool(pipe, 1), QOR_RES_OK);
    QOR_UINT32 id = 0;
    ASSERT_EQ(CI_PipelineImportBuffer(pipe, CI_TYPE_ENCODER, size, 0, static_cast<QOR_UINT32>(fd), &id), QOR_RES_OK);
    QOR_UINT32 found = 0;
    ASSERT_EQ(CI_PipelineFindBufferFromImportFd(pipe, static_cast<QOR_UINT32>(fd), &found), QOR_RES_OK);
    EXPECT_EQ(found, id);
    CI_BUFFER_INFO info;
    ASSERT_EQ(CI_PipelineGetBufferInfo(pipe, id, &info), QOR_RES_OK);
    EXPECT_EQ(info.ionFd, fd);
    EXPECT_EQ(info.type, CI_ALLOC_ENC);
    EXPECT_EQ(info.ui32Size, size);
    std::string err =
        stderrOf([&] { EXPECT_EQ(CI_PipelineFindBufferFromImportFd(pipe, 9999, &found), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(err, "Failed to find provided ionFd=9999")) << err;

    // Display output goes nowhere: only the encoder buffer is named.
    ASSERT_EQ(CI_PipelineStartCapture(pipe), QOR_RES_OK);
    CI_BUFFID ids;
    memset(&ids, 0, sizeof(ids));
    ids.encId = id;
    ASSERT_EQ(CI_PipelineTriggerSpecifiedShoot(pipe, &ids), QOR_RES_OK);
    CI_SHOT *shot = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    EXPECT_EQ(shot->dispId, 0u);
    EXPECT_EQ(shot->pDisplayOutput, nullptr);
    void *view = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(view, MAP_FAILED);
    EXPECT_EQ(CaptureTest::patternMismatches(view, 1, norva_sim::SIM_OUT_ENC, 0, shot->aEncOffset[0],
                                             shot->aEncYSize[0], kWidth, kHeight),
              0u);
    EXPECT_EQ(CaptureTest::patternMismatches(view, 1, norva_sim::SIM_OUT_ENC, 1, shot->aEncOffset[1],
                                             shot->aEncCbCrSize[0], kWidth, kHeight / 2),
              0u);
    munmap(view, size);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineStopCapture(pipe), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineDeregisterBuffer(pipe, id), QOR_RES_OK);
    close(fd);
}

// A frame whose answer names a buffer the library does not know: the shot and the buffers it names go back to
// the driver instead of staying acquired and forgotten, and capture goes on. The buffer the frame really used
// cannot be told from the answer: it stays pending here until the capture stops.
TEST_F(CaptureTest, AcquireNamingAnUnknownBufferGivesTheShotBack) {
    startWith(2, 2, 1);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    norva_sim::AnswerUnknownBuffer(pipelineId());
    CI_SHOT *shot = nullptr;
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_FAILED); });
    EXPECT_TRUE(
        contains(err, "Failed to find the acquired the specified enc buffer (id=2147418112) in the user side list!\n"))
        << err;
    EXPECT_EQ(shot, nullptr);
    EXPECT_FALSE(CI_PipelineHasAcquired(pipe));
    EXPECT_EQ(device().shotsAcquired, 0u);
    EXPECT_EQ(device().buffersFree, 3u);
    EXPECT_TRUE(available(disp[0]));
    EXPECT_FALSE(available(enc[0]));
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    EXPECT_EQ(shot->encId, enc[1]);
    EXPECT_EQ(CaptureTest::shotMismatches(shot, 2), 0u);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineStopCapture(pipe), QOR_RES_OK);
    EXPECT_TRUE(available(enc[0]));
}

// A layout whose size wraps 32 bits (2^28 x 16 rows) is not handed to the caller: the shot goes back.
TEST_F(CaptureTest, AcquireRefusesALayoutBeyondTheBuffer) {
    startWith(1, 1, 1);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    norva_sim::AnswerWrappingLayout(pipelineId());
    CI_SHOT *shot = nullptr;
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(err, "The encoder layout of frame")) << err;
    EXPECT_EQ(shot, nullptr);
    EXPECT_EQ(device().shotsAcquired, 0u);
    EXPECT_TRUE(available(enc[0]));
    EXPECT_TRUE(available(disp[0]));
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    // Deleting the pool with the shot acquired gives its buffers back too.
    ASSERT_EQ(CI_PipelineStopCapture(pipe), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineDeleteShots(pipe), QOR_RES_OK);
    EXPECT_TRUE(available(enc[0]));
    EXPECT_TRUE(available(disp[0]));
    EXPECT_EQ(device().buffersFree, 2u);
}

// A shot whose areas could not be mapped stays known: a frame that lands in it is handed straight back to the
// driver, and the pool (driver shots included) is deleted completely.
TEST_F(CaptureTest, ShotThatCouldNotBeMappedIsNotStranded) {
    norva_sim::FailNthMapping(1, ENOMEM);
    std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineAddPool(pipe, 1), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(err, "Failed to map the statistics to user-space 0/1\n")) << err;
    EXPECT_EQ(norva_sim::GetCounters().liveMappings, 0);
    startWith(1, 2, 2);
    EXPECT_EQ(device().shots, 2u);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    CI_SHOT *shot = nullptr;
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(err, "Failed to find the acquired buffer in the user side list!")) << err;
    EXPECT_EQ(device().shotsAcquired, 0u);
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    EXPECT_EQ(CaptureTest::shotMismatches(shot, 2), 0u);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineStopCapture(pipe), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineDeleteShots(pipe), QOR_RES_OK);
    EXPECT_EQ(device().shots, 0u);
}

TEST_F(CaptureTest, MissedAndDroppedFramesAreReported) {
    startWith(1, 1, 1);
    norva_sim::InjectMissedFrames(pipelineId(), 2);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    CI_SHOT *shot = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    EXPECT_EQ(shot->i32MissedFrames, 2);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    norva_sim::DropFrames(0, 3);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    EXPECT_EQ(shot->i32MissedFrames, 3);
    EXPECT_EQ(norva_sim::GasketFrameCount(0), 5u);
    EXPECT_EQ(CaptureTest::shotMismatches(shot, 5), 0u);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    // The pool of a running capture stays, on both sides.
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineDeleteShots(pipe), QOR_RES_UNAVAILABLE); });
    EXPECT_TRUE(contains(err, "Cannot delete the shots of a started capture - stop it beforehand\n")) << err;
    EXPECT_EQ(List_nElem(&internal()->sList_shots), 1u);
    EXPECT_EQ(device().shots, 1u);
}

TEST_F(CaptureTest, BlockingAcquireEndsWithATimeoutAndTriggerNeedsAStartedCapture) {
    startWith(1, 1, 1);
    norva_sim::SetCaptureTimeoutMs(20);
    CI_SHOT *shot = nullptr;
    std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_TIMEOUT); });
    EXPECT_TRUE(contains(err, "Failed to acquire a buffer (returned -62 - shot id 0)\n")) << err;
    ASSERT_EQ(CI_PipelineStopCapture(pipe), QOR_RES_OK);
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_UNAVAILABLE); });
    EXPECT_TRUE(contains(err, "pipeline capture is not started\n")) << err;
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_UNAVAILABLE); });
    EXPECT_TRUE(contains(err, "returned -125")) << err;
    // The driver stopped on its own: IsStarted notices, and the pending buffers become available.
    ASSERT_EQ(CI_PipelineStartCapture(pipe), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    EXPECT_FALSE(available(enc[0]));
    EXPECT_EQ(
        SYS_IO_Control(reinterpret_cast<INT_CONNECTION *>(conn)->fileDesc, CI_IOCTL_CMD(CI_CAPTURE_STOP), pipelineId()),
        0);
    EXPECT_FALSE(CI_PipelineIsStarted(pipe));
    EXPECT_TRUE(available(enc[0]));
    EXPECT_TRUE(available(disp[0]));
    // A trigger the driver cancels because it stopped: the library learns it and frees the buffers again.
    ASSERT_EQ(CI_PipelineStartCapture(pipe), QOR_RES_OK);
    EXPECT_EQ(
        SYS_IO_Control(reinterpret_cast<INT_CONNECTION *>(conn)->fileDesc, CI_IOCTL_CMD(CI_CAPTURE_STOP), pipelineId()),
        0);
    const std::string log = logOf([&] { EXPECT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_UNAVAILABLE); });
    EXPECT_TRUE(contains(log, "Failed to add a frame to be captured\n")) << log;
    EXPECT_TRUE(contains(log, "Capture was stopped!\n")) << log;
    EXPECT_FALSE(internal()->bStarted);
    EXPECT_TRUE(available(enc[0]));
}

TEST_F(CaptureTest, QueriesFollowTheDriver) {
    EXPECT_FALSE(CI_PipelineHasAvailableShots(pipe));
    startWith(2, 1, 1);
    EXPECT_TRUE(CI_PipelineHasAvailable(pipe));
    EXPECT_EQ(CI_PipelineHasWaiting(pipe), 0);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    EXPECT_TRUE(CI_PipelineHasPending(pipe));
    EXPECT_TRUE(CI_PipelineHasAvailableShots(pipe));
    EXPECT_FALSE(CI_PipelineHasAvailableBuffers(pipe));
    EXPECT_FALSE(CI_PipelineHasAvailable(pipe));
    norva_sim::SetProduceOnPoll(true);
    EXPECT_EQ(CI_PipelineHasWaiting(pipe), 1);
    EXPECT_FALSE(CI_PipelineHasPending(pipe));
    EXPECT_EQ(CI_PipelineHasLSHBuffers(pipe), 0);
    norva_sim::InjectCommandFault(CI_CAPTURE_HASWAITING, -EIO);
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineHasWaiting(pipe), -EIO); });
    EXPECT_TRUE(contains(err, "Failed to verify if the capture has waiting buffers\n")) << err;
    CI_SHOT *shot = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShotNB(pipe, &shot), QOR_RES_OK);
    EXPECT_TRUE(CI_PipelineHasAcquired(pipe));
    // Destroying a started pipeline with a shot still acquired stops and frees everything.
    EXPECT_NE(shot, nullptr);
}

// The load area and statistics of a shot are mapped read-only with the shot and unmapped with the pool.
TEST_F(CaptureTest, PoolMapsItsAreasAndDeleteUnmapsThem) {
    const int before = norva_sim::GetCounters().liveMappings;
    ASSERT_EQ(CI_PipelineAddPool(pipe, 2), QOR_RES_OK);
    CI_SHOT &s = static_cast<INT_SHOT *>(List_getHead(&internal()->sList_shots)->object)->publicShot;
    EXPECT_EQ(s.statsSize, 6108u);
    EXPECT_EQ(s.loadSize, 1268u);
    EXPECT_EQ(s.uiDPFSize, pipe->config.ui32DPFWriteMapSize);
    EXPECT_NE(s.pStatistics, nullptr);
    EXPECT_NE(s.pLoadStruct, nullptr);
    EXPECT_EQ(s.pDPFMap != nullptr, s.uiDPFSize != 0);
    EXPECT_EQ(s.pENSOutput != nullptr, s.uiENSSize != 0);
    const int perShot = 2 + (s.pDPFMap != nullptr) + (s.pENSOutput != nullptr);
    EXPECT_EQ(norva_sim::GetCounters().liveMappings, before + 2 * perShot);
    std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineAddPool(pipe, 0), QOR_RES_OK); });
    EXPECT_TRUE(contains(err, "no buffer to add...\n")) << err;
    ASSERT_EQ(CI_PipelineDeleteShots(pipe), QOR_RES_OK);
    EXPECT_EQ(norva_sim::GetCounters().liveMappings, before);
    norva_sim::InjectCommandFault(CI_CONFIG_ADDPOOL, -ENOMEM);
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineAddPool(pipe, 2), QOR_RES_NO_MEMORY); });
    EXPECT_TRUE(contains(err, "Failed to add buffer 0/2 to the configuration (returned -12)\n")) << err;
    EXPECT_EQ(List_nElem(&internal()->sList_shots), 0u);
}

class TiledCaptureTest : public CaptureTest {
protected:
    bool tiling() const override { return true; }
};

TEST_F(TiledCaptureTest, TiledBufferIsWrittenTileByTile) {
    ASSERT_EQ(CI_PipelineAddPool(pipe, 1), QOR_RES_OK);
    QOR_UINT32 encId = 0;
    ASSERT_EQ(CI_PipelineAllocateBuffer(pipe, CI_TYPE_ENCODER, bufferSize(CI_TYPE_ENCODER, true), 1, &encId),
              QOR_RES_OK);
    ASSERT_EQ(CI_PipelineStartCapture(pipe), QOR_RES_OK);
    CI_BUFFID ids;
    memset(&ids, 0, sizeof(ids));
    ids.encId = encId;
    ASSERT_EQ(CI_PipelineTriggerSpecifiedShoot(pipe, &ids), QOR_RES_OK);
    CI_SHOT *shot = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    EXPECT_TRUE(shot->bEncTiled);
    const uint32_t tw = conn->sHWInfo.uiTiledScheme, th = 4096 / tw;
    EXPECT_EQ(shot->aEncYSize[0], 512u); // the smallest tiled stride
    EXPECT_EQ(shot->aEncYSize[1] % th, 0u);
    EXPECT_EQ(CaptureTest::patternMismatches(shot->pEncoderOutput, 1, norva_sim::SIM_OUT_ENC, 0, shot->aEncOffset[0],
                                             shot->aEncYSize[0], kWidth, kHeight, tw, th),
              0u);
    EXPECT_EQ(CaptureTest::patternMismatches(shot->pEncoderOutput, 1, norva_sim::SIM_OUT_ENC, 1, shot->aEncOffset[1],
                                             shot->aEncCbCrSize[0], kWidth, kHeight / 2, tw, th),
              0u);
    // The same bytes read linearly would not be the pattern.
    EXPECT_NE(CaptureTest::patternMismatches(shot->pEncoderOutput, 1, norva_sim::SIM_OUT_ENC, 0, shot->aEncOffset[0],
                                             shot->aEncYSize[0], kWidth, kHeight),
              0u);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
}

class HdrInsertionCaptureTest : public CaptureTest {
protected:
    void arrange(MC_PIPELINE &m) override { m.eHDRInsertion = BGR_161616_64; }
};

TEST_F(HdrInsertionCaptureTest, InsertionBuffersAreLentTriggeredAndReturnedAtStop) {
    ASSERT_EQ(pipe->config.eHDRInsType.eFmt, BGR_161616_64);
    startWith(2, 2, 2);
    QOR_UINT32 ins[2] = {0, 0};
    for (QOR_UINT32 &id : ins) {
        ASSERT_EQ(CI_PipelineAllocateBuffer(pipe, CI_TYPE_HDRINS, kWidth * kHeight * 8, 0, &id), QOR_RES_OK);
    }
    std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_NOT_SUPPORTED); });
    EXPECT_TRUE(contains(err, "Cannot use first available buffer when using HDR Insertion")) << err;

    CI_BUFFER lent;
    ASSERT_EQ(CI_PipelineAcquireHDRBuffer(pipe, &lent, 0), QOR_RES_OK);
    EXPECT_EQ(lent.id, ins[0]);
    EXPECT_NE(lent.data, nullptr);
    EXPECT_EQ(lent.ui32Size, kWidth * kHeight * 8);
    memset(lent.data, 0x11, lent.ui32Size); // the caller fills it through its write-only mapping
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineAcquireHDRBuffer(pipe, &lent, ins[0]), QOR_RES_IN_PROGRESS); });
    EXPECT_TRUE(contains(err, "is already reserved or not available!\n")) << err;
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineAcquireHDRBuffer(pipe, &lent, enc[0]), QOR_RES_INVALID_PARAM); });
    EXPECT_TRUE(contains(err, "is not of HDR insertion type!\n")) << err;
    EXPECT_EQ(CI_PipelineReleaseHDRBuffer(pipe, ins[1]), QOR_RES_IN_PROGRESS);

    CI_BUFFID ids;
    memset(&ids, 0, sizeof(ids));
    ids.encId = enc[0];
    ids.dispId = disp[0];
    ids.idHDRIns = enc[1];
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineTriggerSpecifiedShoot(pipe, &ids), QOR_RES_IN_PROGRESS); });
    EXPECT_TRUE(contains(err, "for HDRIns is not an HDRIns buffer\n")) << err;
    ids.idHDRIns = ins[0];
    ASSERT_EQ(CI_PipelineTriggerSpecifiedShoot(pipe, &ids), QOR_RES_OK);
    CI_SHOT *shot = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    // After its frame the insertion buffer stays pending here until the capture stops.
    EXPECT_FALSE(available(ins[0]));
    EXPECT_EQ(CI_PipelineReleaseHDRBuffer(pipe, ins[0]), QOR_RES_IN_PROGRESS);
    ASSERT_EQ(CI_PipelineStopCapture(pipe), QOR_RES_OK);
    EXPECT_TRUE(available(ins[0]));
    ASSERT_EQ(CI_PipelineAcquireHDRBuffer(pipe, &lent, ins[0]), QOR_RES_OK);
    EXPECT_EQ(CI_PipelineReleaseHDRBuffer(pipe, ins[0]), QOR_RES_OK);
    EXPECT_EQ(CI_PipelineReleaseHDRBuffer(pipe, ins[0]), QOR_RES_IN_PROGRESS);
}

} // namespace
