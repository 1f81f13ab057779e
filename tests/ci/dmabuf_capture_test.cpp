// Buffers from the dmabuf allocator: exported, imported into a pipeline, captured into, and each frame seen
// through a mapping of the exported descriptor of its own (the way a downstream consumer sees it).
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstring>
#include <vector>

#include "support/capture_fixture.h"
#include "norvacommon/dmabuf.h"
#include "platform/sim_dmabuf.h"
#include "sys/sys_seam.h"

using norva_test::CaptureTest;

TEST_F(CaptureTest, DmabufBuffersAreCapturedIntoAndSeenThroughTheirExportedDescriptors) {
    const uint32_t size = bufferSize(CI_TYPE_ENCODER);
    constexpr unsigned kBuffers = 3;
    std::vector<QOR_HANDLE> handles(kBuffers, nullptr);
    std::vector<int> fds(kBuffers, -1);
    std::vector<QOR_UINT32> ids(kBuffers, 0);
    ASSERT_EQ(CI_PipelineAddPool(pipe, kBuffers), QOR_RES_OK);
    for (unsigned i = 0; i < kBuffers; i++) {
        ASSERT_EQ(DMABUF_Alloc(&handles[i], size), QOR_RES_OK);
        ASSERT_EQ(DMABUF_GetBufferFd(handles[i], &fds[i]), QOR_RES_OK);
        ASSERT_GT(fds[i], 0);
        ASSERT_EQ(CI_PipelineImportBuffer(pipe, CI_TYPE_ENCODER, size, 0, static_cast<QOR_UINT32>(fds[i]), &ids[i]),
                  QOR_RES_OK);
        QOR_UINT32 found = 0;
        ASSERT_EQ(CI_PipelineFindBufferFromImportFd(pipe, static_cast<QOR_UINT32>(fds[i]), &found), QOR_RES_OK);
        EXPECT_EQ(found, ids[i]);
    }
    EXPECT_EQ(norva_sim::GetDmabufCounters().exports, static_cast<int>(kBuffers));
    ASSERT_EQ(CI_PipelineStartCapture(pipe), QOR_RES_OK);

    // Frame k goes into buffer k, named explicitly; the display output is not used.
    for (unsigned i = 0; i < kBuffers; i++) {
        CI_BUFFID named;
        memset(&named, 0, sizeof(named));
        named.encId = ids[i];
        ASSERT_EQ(CI_PipelineTriggerSpecifiedShoot(pipe, &named), QOR_RES_OK);
        CI_SHOT *shot = nullptr;
        ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
        ASSERT_NE(shot, nullptr);
        EXPECT_EQ(shot->encId, ids[i]);

        const void *view = SEAM_Mmap(nullptr, size, PROT_READ, MAP_SHARED, fds[i], 0);
        ASSERT_NE(view, MAP_FAILED);
        EXPECT_EQ(patternMismatches(view, i + 1, norva_sim::SIM_OUT_ENC, 0, shot->aEncOffset[0], shot->aEncYSize[0],
                                    kWidth, kHeight),
                  0u)
            << "buffer " << i;
        EXPECT_EQ(patternMismatches(view, i + 1, norva_sim::SIM_OUT_ENC, 1, shot->aEncOffset[1], shot->aEncCbCrSize[0],
                                    kWidth, kHeight / 2),
                  0u)
            << "buffer " << i;
        // The library's own mapping shows the same bytes.
        EXPECT_EQ(memcmp(view, shot->pEncoderOutput, size), 0) << "buffer " << i;
        EXPECT_EQ(SEAM_Munmap(const_cast<void *>(view), size), 0);
        ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    }

    ASSERT_EQ(CI_PipelineStopCapture(pipe), QOR_RES_OK);
    for (unsigned i = 0; i < kBuffers; i++) {
        EXPECT_EQ(CI_PipelineDeregisterBuffer(pipe, ids[i]), QOR_RES_OK);
        // The memory stays the caller's: freed after the pipeline let go of it.
        EXPECT_EQ(DMABUF_Free(handles[i]), QOR_RES_OK);
    }
    EXPECT_EQ(norva_sim::GetDmabufCounters().openDevices, 0);
}
