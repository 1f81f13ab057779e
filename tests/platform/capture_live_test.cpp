// What the capture engine offers for live runs and for tests of the layers above: the paced mode, planes that
// do not start at the beginning of their buffer, the per-frame records looked up by interrupt time, the frame
// error injected without knowing the pipeline, and the acquire and release counters.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "support/capture_fixture.h"
#include "platform/sim_capture.h"
#include "platform/sim_platform.h"

using norva_test::CaptureTest;

namespace {

class CaptureLive : public CaptureTest {
protected:
    void TearDown() override {
        norva_sim::SetPacedFrameRate(0);
        CaptureTest::TearDown();
    }
    /** Triggers one frame and acquires it. */
    CI_SHOT *next() {
        EXPECT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
        CI_SHOT *shot = nullptr;
        EXPECT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
        return shot;
    }
};

// Paced: consecutive frames are a frame period apart, also for a consumer that comes late (no burst of frames
// to catch up); back on demand, frames come at once.
TEST_F(CaptureLive, PacedModeDeliversAtTheFrameRate) {
    startWith(2, 2, 2);
    norva_sim::SetPacedFrameRate(20.0); // 50 ms
    EXPECT_EQ(norva_sim::PacedFrameRate(), 20.0);
    // Interrupt times are taken when a frame is complete, so the time the model took (and, on a loaded
    // machine, the wait for a core) shifts each one: compare the spans from the first frame, and from the
    // first frame after the late consumer, with half a period of slack. Frames on demand come far faster.
    constexpr uint64_t kPeriod = 50000000, kSlack = 25000000;
    uint64_t times[6] = {};
    for (int i = 0; i < 6; i++) {
        if (i == 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(150)); // a late consumer
        CI_SHOT *shot = next();
        ASSERT_NE(shot, nullptr);
        times[i] = shot->ui64InterruptSysTime;
        ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    }
    for (int i = 1; i < 3; i++)
        EXPECT_GE(times[i] - times[0], i * kPeriod - kSlack) << "frame " << i;
    EXPECT_GE(times[3] - times[2], 150000000u);
    for (int i = 4; i < 6; i++)
        EXPECT_GE(times[i] - times[3], (i - 3) * kPeriod - kSlack) << "frame " << i;
    // A pace of a frame every 10 s, turned off at once: paced, the next five frames would take at least four
    // periods (40 s); on demand they come at once, which the bound allows for on a machine however busy.
    norva_sim::SetPacedFrameRate(0.1);
    norva_sim::SetPacedFrameRate(0);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; i++)
        ASSERT_EQ(CI_PipelineReleaseShot(pipe, next()), QOR_RES_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// A stop wakes an acquire that waits for the next frame time.
TEST_F(CaptureLive, StopWakesAPacedAcquire) {
    startWith(2, 2, 2);
    // A frame every 30 s, and blocking calls bounded far beyond that: an acquire that the stop did not wake would
    // wait for the next frame.
    norva_sim::SetPacedFrameRate(1.0 / 30);
    norva_sim::SetCaptureTimeoutMs(60000);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, next()), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    const auto start = std::chrono::steady_clock::now();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(CI_PipelineStopCapture(pipe), QOR_RES_OK);
    });
    CI_SHOT *shot = nullptr;
    EXPECT_NE(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

struct OffsetCase {
    uint32_t offset;   // asked of the device
    uint32_t room;     // bytes the buffers have beyond the layout
    uint32_t expected; // where the first plane starts
    const char *name;
};
void PrintTo(const OffsetCase &c, std::ostream *os) { *os << c.name; }

class CaptureOffsets : public CaptureTest, public ::testing::WithParamInterface<OffsetCase> {};

// Planes start at the chosen offset where the buffer has room for it, else at 0; the image is where the shot
// says it is.
TEST_P(CaptureOffsets, PlanesStartAtTheOffsetWhenTheBufferHasRoom) {
    const OffsetCase &c = GetParam();
    norva_sim::SetPlaneOffset(c.offset);
    startWith(1, 1, 1, c.room);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    CI_SHOT *shot = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    EXPECT_EQ(shot->aEncOffset[0], c.expected);
    EXPECT_EQ(shot->aEncOffset[1], c.expected + shot->aEncYSize[0] * shot->aEncYSize[1]);
    EXPECT_EQ(shot->ui32DispOffset, c.expected);
    EXPECT_EQ(shotMismatches(shot, 1), 0u);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
}

const OffsetCase kOffsets[] = {
    {0, 4096, 0, "NoOffsetAsked"},
    {4096, 4096, 4096, "RoomForIt"},
    {4096, 100, 0, "NoRoom"},
    {96, 96, 96, "SmallOffset"},
};
INSTANTIATE_TEST_SUITE_P(Planes, CaptureOffsets, ::testing::ValuesIn(kOffsets),
                         [](const ::testing::TestParamInfo<OffsetCase> &i) { return std::string(i.param.name); });

// Each frame leaves a record found by its interrupt time: the statistics sums written and the error flag; an
// error injected for "any pipeline" hits the next frame only; acquires and releases are counted.
TEST_F(CaptureLive, FrameRecordsAndCounters) {
    startWith(2, 2, 2);
    const norva_sim::SimCaptureCounters before = norva_sim::GetCaptureCounters();
    norva_sim::SimSaveStats stats;
    memset(&stats, 0, sizeof(stats));
    for (int b = 0; b < 64; b++)
        stats.hisGlobal[b] = static_cast<uint32_t>(b + 1); // 2080
    stats.hisRegion[6][6][15] = 7;
    stats.fosRoi = 1234;
    stats.fosGrid[0][0] = 10;
    stats.fosGrid[6][6] = 20;
    norva_sim::QueueStatistics(pipelineId(), stats);

    CI_SHOT *first = next();
    ASSERT_NE(first, nullptr);
    norva_sim::SimFrameRecord r;
    ASSERT_TRUE(norva_sim::FindFrameRecord(first->ui64InterruptSysTime, &r));
    EXPECT_EQ(r.pipelineId, pipelineId());
    EXPECT_EQ(r.frame, 1u);
    EXPECT_EQ(r.histogramGlobalSum, 2080u);
    EXPECT_EQ(r.histogramRegionSum, 7u);
    EXPECT_EQ(r.focusRoi, 1234u);
    EXPECT_EQ(r.focusGridSum, 30u);
    EXPECT_FALSE(r.error);
    const uint64_t firstTime = first->ui64InterruptSysTime;
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, first), QOR_RES_OK);

    norva_sim::InjectNextFrameError(true);
    CI_SHOT *second = next();
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(norva_sim::FindFrameRecord(second->ui64InterruptSysTime, &r));
    EXPECT_TRUE(r.error);
    EXPECT_EQ(r.frame, 2u);
    EXPECT_EQ(r.histogramGlobalSum, 0u); // no queued statistics: nothing written
    const uint64_t secondTime = second->ui64InterruptSysTime;
    CI_SHOT *third = next(); // held while the second is acquired: two shots
    ASSERT_NE(third, nullptr);
    ASSERT_TRUE(norva_sim::FindFrameRecord(third->ui64InterruptSysTime, &r));
    EXPECT_FALSE(r.error);

    norva_sim::SimCaptureCounters now = norva_sim::GetCaptureCounters();
    EXPECT_EQ(now.acquires - before.acquires, 3u);
    EXPECT_EQ(now.releases - before.releases, 1u);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, second), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, third), QOR_RES_OK);
    now = norva_sim::GetCaptureCounters();
    EXPECT_EQ(now.acquires - before.acquires, now.releases - before.releases);

    EXPECT_TRUE(norva_sim::FindFrameRecord(firstTime, &r));
    EXPECT_TRUE(norva_sim::FindFrameRecord(secondTime, &r));
    EXPECT_FALSE(norva_sim::FindFrameRecord(firstTime + 1, &r));
}

// The ring keeps the newest 256 records: an old frame is forgotten, memory stays flat.
TEST_F(CaptureLive, RecordsAreABoundedRing) {
    startWith(1, 1, 1);
    CI_SHOT *shot = next();
    ASSERT_NE(shot, nullptr);
    const uint64_t oldest = shot->ui64InterruptSysTime;
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    norva_sim::SimFrameRecord r;
    for (int i = 0; i < 256; i++) {
        shot = next();
        ASSERT_NE(shot, nullptr);
        ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
        if (i == 254) {
            EXPECT_TRUE(norva_sim::FindFrameRecord(oldest, &r));
        }
    }
    EXPECT_FALSE(norva_sim::FindFrameRecord(oldest, &r));
}

} // namespace
