#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/dg_packer.h"
#include "support/capture_fixture.h"
#include "ci/ci_datagen.h"
#include "ci/ci_gasket.h"

using norva_test::CaptureTest;

namespace {

// Frames inserted by a data generator on the pipeline's imager are what the capture receives: a capture waits
// for an insertion, and each frame delivered ends the generator's wait for it.
TEST_F(CaptureTest, DataGeneratorFramesFeedTheCapture) {
    CI_DATAGEN *dg = nullptr;
    ASSERT_EQ(CI_DatagenCreate(&dg, conn), QOR_RES_OK);
    dg->ui8IIFDGIndex = 0;
    dg->eFormat = CI_DGFMT_MIPI;
    dg->ui8FormatBitdepth = 10;
    dg->ui8Gasket = 0;
    dg->eBayerMosaic = MOSAIC_RGGB;
    const uint32_t stride = dg_packer::stride(CI_DGFMT_MIPI, 10, kWidth);
    for (int i = 0; i < 2; i++)
        ASSERT_EQ(CI_DatagenAllocateFrame(dg, stride * kHeight, nullptr), QOR_RES_OK);
    ASSERT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
    startWith(2, 2, 2);
    norva_sim::SetCaptureTimeoutMs(20);
    // The frames are checked against the known pattern rather than processed by the image model.
    norva_sim::RenderDatagenAsTestPattern(true);

    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    CI_SHOT *shot = nullptr;
    EXPECT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_TIMEOUT); // nothing inserted yet
    std::vector<uint16_t> samples(kWidth * kHeight, 100);
    for (unsigned k = 1; k <= 3; k++) {
        CI_DG_FRAME *frame = CI_DatagenGetAvailableFrame(dg);
        ASSERT_NE(frame, nullptr);
        dg_packer::fill(frame, dg->eFormat, 10, MOSAIC_RGGB, samples.data(), kWidth, kHeight, stride);
        ASSERT_EQ(CI_DatagenInsertFrame(frame), QOR_RES_OK);
        if (k > 1) {
            ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
        }
        ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK) << k;
        EXPECT_EQ(CaptureTest::shotMismatches(shot, k), 0u);
        EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_FALSE), QOR_RES_OK);
        ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    }
    CI_GASKET_INFO info{};
    ASSERT_EQ(CI_GasketGetInfo(&info, 0, conn), QOR_RES_OK);
    EXPECT_EQ(info.ui32FrameCount, 3u);
    EXPECT_EQ(norva_sim::GasketFrameCount(0), 3u);
    ASSERT_EQ(CI_DatagenDestroy(dg), QOR_RES_OK);
}

} // namespace
