#ifndef NORVA_TEST_CI_CAPTURE_FIXTURE_H
#define NORVA_TEST_CI_CAPTURE_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "ci/ci_api.h"
#include "ci/ci_capture.h"
#include "ci/ci_pipeline.h"
#include "mc/mc_pipeline.h"
#include "norvacommon/ci_alloc_info.h"
#include "platform/sim_capture.h"
#include "support/sim_fixture.h"

namespace norva_test {

/**
 * A registered pipeline of a 64x48 imager on context 0 and gasket 0 with an NV12 encoder output and an RGB
 * display output of the imager's size, its line store placed: ready for shots, buffers and capture.
 */
class CaptureTest : public SimTest {
protected:
    static constexpr uint32_t kWidth = 64;
    static constexpr uint32_t kHeight = 48;

    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(CI_DriverInit(&conn), QOR_RES_OK);
        ASSERT_EQ(CI_PipelineCreate(&pipe, conn), QOR_RES_OK);
        mc.reset(new MC_PIPELINE());
        memset(mc.get(), 0, sizeof(MC_PIPELINE));
        MC_IIFInit(&mc->sIIF);
        mc->sIIF.ui16ImagerSize[0] = kWidth / 2;
        mc->sIIF.ui16ImagerSize[1] = kHeight / 2;
        ASSERT_EQ(MC_PipelineInit(mc.get(), &conn->sHWInfo), QOR_RES_OK);
        mc->eEncOutput = YUV_420_PL12_8;
        mc->eDispOutput = RGB_888_24;
        arrange(*mc);
        int mask = 0;
        ASSERT_EQ(MC_PipelineConvert(mc.get(), pipe, &mask), QOR_RES_OK);
        // The tone mapper needs 40 pixels per column: a frame this small bypasses it.
        pipe->sToneMapping.bBypassTNM = 1;
        pipe->config.ui8Context = 0;
        pipe->sImagerInterface.ui8Imager = 0;
        pipe->config.bSupportTiling = tiling() ? 1 : 0;
        ASSERT_EQ(CI_PipelineRegister(pipe), QOR_RES_OK);
        ASSERT_EQ(CI_PipelineComputeLinestore(pipe), QOR_RES_OK);
    }
    void TearDown() override {
        if (pipe != nullptr) {
            EXPECT_EQ(CI_PipelineDestroy(pipe), QOR_RES_OK);
        }
        EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
        SimTest::TearDown();
    }
    virtual bool tiling() const { return false; }
    /** Changes the module configuration before it is converted and registered. */
    virtual void arrange(MC_PIPELINE &) {}

    INT_PIPELINE *internal() { return reinterpret_cast<INT_PIPELINE *>(pipe); }
    int pipelineId() { return internal()->ui32Identifier; }

    /** Bytes of a buffer of the output's format at the imager size (tiled or not). */
    uint32_t bufferSize(CI_BUFFTYPE role, bool tiled = false) {
        CI_TILINGINFO tile;
        CI_ALLOC_GetTileInfo(conn->sHWInfo.uiTiledScheme, &tile);
        CI_SIZEINFO size;
        if (role == CI_TYPE_ENCODER) {
            EXPECT_EQ(CI_ALLOC_YUVSizeInfo(&pipe->config.eEncType, kWidth, kHeight, tiled ? &tile : nullptr, &size),
                      QOR_RES_OK);
        } else {
            EXPECT_EQ(CI_ALLOC_RGBSizeInfo(&pipe->config.eDispType, kWidth, kHeight, tiled ? &tile : nullptr, &size),
                      QOR_RES_OK);
        }
        return size.ui32Stride * size.ui32Height + size.ui32CStride * size.ui32CHeight;
    }

    /** Adds shots and buffers of both outputs (`extra` bytes larger than needed) and starts the capture. */
    void startWith(unsigned shots, unsigned encBuffers, unsigned dispBuffers, uint32_t extra = 0) {
        ASSERT_EQ(CI_PipelineAddPool(pipe, shots), QOR_RES_OK);
        for (unsigned i = 0; i < encBuffers; i++) {
            QOR_UINT32 id = 0;
            ASSERT_EQ(CI_PipelineAllocateBuffer(pipe, CI_TYPE_ENCODER, bufferSize(CI_TYPE_ENCODER) + extra, 0, &id),
                      QOR_RES_OK);
            enc.push_back(id);
        }
        for (unsigned i = 0; i < dispBuffers; i++) {
            QOR_UINT32 id = 0;
            ASSERT_EQ(CI_PipelineAllocateBuffer(pipe, CI_TYPE_DISPLAY, bufferSize(CI_TYPE_DISPLAY) + extra, 0, &id),
                      QOR_RES_OK);
            disp.push_back(id);
        }
        ASSERT_EQ(CI_PipelineStartCapture(pipe), QOR_RES_OK);
    }

    bool available(QOR_UINT32 id) {
        CI_BUFFER_INFO info;
        EXPECT_EQ(CI_PipelineGetBufferInfo(pipe, id, &info), QOR_RES_OK);
        return info.bAvailable != 0;
    }

    norva_sim::SimCaptureView device() {
        norva_sim::SimCaptureView v;
        EXPECT_TRUE(norva_sim::GetSimCapture(pipelineId(), &v));
        return v;
    }

    /**
     * Bytes of a plane that differ from the test pattern of `frame`: rows of rowBytes at stride from offset,
     * addressed linearly or, for a tiled plane, through tiles of tileWidth x tileHeight laid across the stride.
     */
    static unsigned patternMismatches(const void *base, uint64_t frame, unsigned output, unsigned plane,
                                      uint32_t offset, uint32_t stride, uint32_t rowBytes, uint32_t rows,
                                      uint32_t tileWidth = 0, uint32_t tileHeight = 0) {
        const uint8_t *b = static_cast<const uint8_t *>(base);
        unsigned wrong = 0;
        for (uint32_t y = 0; y < rows; y++) {
            for (uint32_t x = 0; x < rowBytes; x++) {
                uint64_t at = offset + static_cast<uint64_t>(y) * stride + x;
                if (tileWidth != 0) {
                    at = offset + static_cast<uint64_t>(y / tileHeight) * stride * tileHeight +
                         static_cast<uint64_t>(x / tileWidth) * tileWidth * tileHeight + (y % tileHeight) * tileWidth +
                         x % tileWidth;
                }
                wrong += b[at] != norva_sim::TestPatternByte(frame, output, plane, x, y) ? 1u : 0u;
            }
        }
        return wrong;
    }

    /** Mismatches of the NV12 encoder and RGB display outputs of a shot against frame `frame`. */
    static unsigned shotMismatches(const CI_SHOT *s, uint64_t frame) {
        unsigned wrong = 0;
        if (s->pEncoderOutput != nullptr) {
            wrong += patternMismatches(s->pEncoderOutput, frame, norva_sim::SIM_OUT_ENC, 0, s->aEncOffset[0],
                                       s->aEncYSize[0], kWidth, kHeight);
            wrong += patternMismatches(s->pEncoderOutput, frame, norva_sim::SIM_OUT_ENC, 1, s->aEncOffset[1],
                                       s->aEncCbCrSize[0], kWidth, kHeight / 2);
        }
        if (s->pDisplayOutput != nullptr) {
            wrong += patternMismatches(s->pDisplayOutput, frame, norva_sim::SIM_OUT_DISP, 0, s->ui32DispOffset,
                                       s->aDispSize[0], kWidth * 3, kHeight);
        }
        return wrong;
    }

    CI_CONNECTION *conn = nullptr;
    CI_PIPELINE *pipe = nullptr;
    std::unique_ptr<MC_PIPELINE> mc;
    std::vector<QOR_UINT32> enc;
    std::vector<QOR_UINT32> disp;
};

} // namespace norva_test

#endif
