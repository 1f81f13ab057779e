#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/capture_fixture.h"
#include "ci/ci_datagen.h"
#include "support/dg_packer.h"
#include "platform/sim_capture.h"
#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "platform/sim_lsdecoder.h"
#include "platform/sim_pipeline.h"
#include "support/bayer_scene.h"

using norva_test::CaptureTest;

namespace {

uint32_t word(const void *area, size_t offset) {
    const uint8_t *p = static_cast<const uint8_t *>(area) + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

/**
 * Data-generator frames of a 10-bit RGGB chart played on the capture fixture's imager, with the global exposure
 * and histogram statistics enabled: the engine processes them with the pipeline's image model.
 */
class CaptureModel : public CaptureTest {
protected:
    void arrange(MC_PIPELINE &mc) override {
        mc.sEXS.bGlobalEnable = 1;
        mc.sEXS.fPixelMax = 4095.0; // only the maximum code counts as clipped
        mc.sHIS.bGlobalEnable = 1;
        mc.sFLD.bEnable = 1;
    }
    void SetUp() override {
        CaptureTest::SetUp();
        norva_test::SceneOptions o;
        o.width = kWidth;
        o.height = kHeight;
        o.bitDepth = 10;
        o.mosaic = MOSAIC_RGGB;
        scene = norva_test::MakeTestChart(o);
        ASSERT_EQ(CI_DatagenCreate(&dg, conn), QOR_RES_OK);
        dg->ui8IIFDGIndex = 0;
        dg->eFormat = CI_DGFMT_MIPI;
        dg->ui8FormatBitdepth = 10;
        dg->ui8Gasket = 0;
        dg->eBayerMosaic = MOSAIC_RGGB;
        stride = dg_packer::stride(CI_DGFMT_MIPI, 10, kWidth);
        for (int i = 0; i < 2; i++)
            ASSERT_EQ(CI_DatagenAllocateFrame(dg, stride * kHeight, nullptr), QOR_RES_OK);
        ASSERT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
        norva_sim::SetCaptureTimeoutMs(200);
    }
    void TearDown() override {
        if (dg != nullptr) {
            EXPECT_EQ(CI_DatagenDestroy(dg), QOR_RES_OK);
        }
        CaptureTest::TearDown();
    }

    void insert(const std::vector<uint16_t> &samples) {
        CI_DG_FRAME *frame = CI_DatagenGetAvailableFrame(dg);
        ASSERT_NE(frame, nullptr);
        dg_packer::fill(frame, dg->eFormat, 10, MOSAIC_RGGB, samples.data(), kWidth, kHeight, stride);
        ASSERT_EQ(CI_DatagenInsertFrame(frame), QOR_RES_OK);
    }

    /** What the image model gives for `samples` with the shot's own load structure, at the shot's layout. */
    struct Expected {
        std::vector<uint8_t> enc, disp, stats;
    };
    Expected expected(const CI_SHOT *shot, const std::vector<uint16_t> &samples) {
        norva_sim::SimPipelineView view;
        EXPECT_TRUE(norva_sim::GetSimPipeline(pipelineId(), &view));
        CI_PIPELINE registers = view.decoded;
        EXPECT_EQ(SimLS_Decode(static_cast<const QOR_UINT8 *>(shot->pLoadStruct), shot->loadSize, &registers),
                  QOR_RES_OK);
        Expected e;
        e.enc.assign(bufferSize(CI_TYPE_ENCODER), 0);
        e.disp.assign(bufferSize(CI_TYPE_DISPLAY), 0);
        e.stats.assign(norva_sim::kIspStatsSize, 0);
        norva_sim::IspFrameOutputs out;
        out.encoder.data = e.enc.data();
        out.encoder.size = e.enc.size();
        out.encoder.offset = shot->aEncOffset[0];
        out.encoder.stride = shot->aEncYSize[0];
        out.encoder.chromaOffset = shot->aEncOffset[1];
        out.encoder.chromaStride = shot->aEncCbCrSize[0];
        out.display.data = e.disp.data();
        out.display.size = e.disp.size();
        out.display.offset = shot->ui32DispOffset;
        out.display.stride = shot->aDispSize[0];
        out.statistics = e.stats.data();
        norva_sim::IspFrameSettings settings;
        settings.registers = &registers;
        settings.info = &view.info;
        settings.gamma = &conn->sGammaLUT;
        settings.privateValue = shot->ui8PrivateValue;
        if (!view.defectMap.empty()) {
            settings.defectMap = view.defectMap.data();
            settings.defectCount = static_cast<uint32_t>(view.defectMap.size() / 2);
        }
        norva_sim::IspInputFrame input;
        input.samples = samples.data();
        input.width = kWidth;
        input.height = kHeight;
        input.bitDepth = 10;
        norva_sim::IspModel model;
        EXPECT_EQ(model.process(input, settings, out), QOR_RES_OK);
        return e;
    }

    static unsigned differences(const void *got, const std::vector<uint8_t> &want, size_t from, size_t to) {
        const uint8_t *g = static_cast<const uint8_t *>(got);
        unsigned n = 0;
        for (size_t i = from; i < to && i < want.size(); i++)
            n += g[i] != want[i] ? 1u : 0u;
        return n;
    }

    /** Outputs and statistics (all but the timestamps) of a shot against the model's. */
    void expectModelOutput(const CI_SHOT *shot, const std::vector<uint16_t> &samples) {
        const Expected e = expected(shot, samples);
        EXPECT_EQ(differences(shot->pEncoderOutput, e.enc, 0, e.enc.size()), 0u);
        EXPECT_EQ(differences(shot->pDisplayOutput, e.disp, 0, e.disp.size()), 0u);
        EXPECT_EQ(differences(shot->pStatistics, e.stats, 0, norva_sim::stats_layout::kTimestamps), 0u);
    }

    CI_DATAGEN *dg = nullptr;
    uint32_t stride = 0;
    norva_test::BayerScene scene;
};

TEST_F(CaptureModel, DataGeneratorFramesGoThroughTheImageModel) {
    startWith(2, 2, 2);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    insert(scene.samples);
    CI_SHOT *shot = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    expectModelOutput(shot, scene.samples);
    EXPECT_GT(CaptureTest::shotMismatches(shot, 1), 0u); // not the test pattern
    // Every pixel of the window counts once in the global histogram; the clipped patch shows in the clip counts.
    uint64_t total = 0;
    for (int b = 0; b < 64; b++)
        total += word(shot->pStatistics, norva_sim::stats_layout::kHisGlobal + 4 * b);
    EXPECT_EQ(total, uint64_t(kWidth) * kHeight);
    uint64_t clipped = 0;
    for (int ch = 0; ch < 4; ch++)
        clipped += word(shot->pStatistics, norva_sim::stats_layout::kExsGlobal + 4 * ch);
    EXPECT_EQ(clipped, scene.layout.clipped.area());
    // Status: no error, the private value of the shot; the engine stamps the timestamps.
    const uint32_t status = word(shot->pStatistics, CI_SAVE_STATUS_OFFSET);
    EXPECT_EQ(status & CI_SAVE_STATUS_ERROR, 0u);
    EXPECT_EQ(status >> CI_SAVE_STATUS_PRIVATE_SHIFT & 0xFFu, shot->ui8PrivateValue);
    EXPECT_NE(word(shot->pStatistics, norva_sim::stats_layout::kTimestamps), 0u);
    EXPECT_EQ(shot->bFrameError, 0);
    EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_FALSE), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
}

// A frame is processed with the registers applied when it was triggered: an update between the trigger and the
// frame changes only the frames triggered after it.
TEST_F(CaptureModel, FramesUseTheRegistersOfTheirTrigger) {
    startWith(2, 2, 2);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    for (int c = 0; c < 4; c++)
        pipe->sWhiteBalance.aGain[c] = static_cast<QOR_UINT16>(pipe->sWhiteBalance.aGain[c] / 2);
    int failed = 0;
    ASSERT_EQ(CI_PipelineUpdate(pipe, CI_UPD_ALL, &failed), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    insert(scene.samples);
    insert(scene.samples);

    CI_SHOT *before = nullptr, *after = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &before), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &after), QOR_RES_OK);
    expectModelOutput(before, scene.samples);
    expectModelOutput(after, scene.samples);
    // Halved gains: the later frame is darker.
    const uint8_t *y0 = static_cast<const uint8_t *>(before->pEncoderOutput) + before->aEncOffset[0];
    const uint8_t *y1 = static_cast<const uint8_t *>(after->pEncoderOutput) + after->aEncOffset[0];
    uint64_t sum0 = 0, sum1 = 0;
    for (uint32_t y = 0; y < kHeight; y++) {
        for (uint32_t x = 0; x < kWidth; x++) {
            sum0 += y0[y * before->aEncYSize[0] + x];
            sum1 += y1[y * after->aEncYSize[0] + x];
        }
    }
    EXPECT_GT(sum0, sum1 + uint64_t(kWidth) * kHeight * 5);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, before), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, after), QOR_RES_OK);
}

// The flicker verdict is injected per pipeline; a frame that does not cover the imager window is erroneous.
TEST_F(CaptureModel, FlickerVerdictAndShortFrames) {
    startWith(2, 2, 2);
    norva_sim::InjectFlickerVerdict(pipelineId(), norva_sim::kFlicker50Hz);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    insert(scene.samples);
    CI_SHOT *shot = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    ASSERT_NE(pipe->config.eOutputConfig & CI_SAVE_FLICKER, 0u);
    EXPECT_EQ(static_cast<const uint8_t *>(shot->pStatistics)[norva_sim::stats_layout::kFlicker],
              norva_sim::kFlicker50Hz);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_FALSE), QOR_RES_OK);

    // A frame of half the imager's height.
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    CI_DG_FRAME *frame = CI_DatagenGetAvailableFrame(dg);
    ASSERT_NE(frame, nullptr);
    const std::vector<uint8_t> bytes =
        dg_packer::frame(dg->eFormat, 10, scene.samples.data(), kWidth, kHeight / 2, stride);
    memcpy(frame->data, bytes.data(), bytes.size());
    frame->eFormat = dg->eFormat;
    frame->ui8FormatBitdepth = 10;
    frame->eBayerMosaic = MOSAIC_RGGB;
    frame->ui32Stride = stride;
    frame->ui32Width = kWidth;
    frame->ui32Height = kHeight / 2;
    ASSERT_EQ(CI_DatagenInsertFrame(frame), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    EXPECT_EQ(word(shot->pStatistics, CI_SAVE_STATUS_OFFSET) & CI_SAVE_STATUS_ERROR, CI_SAVE_STATUS_ERROR);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
}

/** An on-demand source delivering the same Bayer frame every time. */
class ChartSource : public norva_sim::SimFrameSource {
public:
    ChartSource(const std::vector<uint16_t> &samples, uint32_t width, uint32_t height)
        : samples(samples), width(width), height(height) {}
    bool ready(unsigned) override { return true; }
    bool begin(unsigned) override { return true; }
    void render(const norva_sim::SimFrameContext &) override { rendered++; }
    bool bayer(unsigned, norva_sim::IspInputFrame *frame) override {
        frame->samples = samples.data();
        frame->width = width;
        frame->height = height;
        frame->bitDepth = 10;
        return true;
    }
    void end(unsigned) override {}

    const std::vector<uint16_t> &samples;
    uint32_t width, height;
    int rendered = 0;
};

// Any source that delivers Bayer samples goes through the image model; render is not called for it.
TEST_F(CaptureModel, AnyBayerSourceGoesThroughTheImageModel) {
    ChartSource source(scene.samples, kWidth, kHeight);
    norva_sim::SetFrameSource(0, &source);
    startWith(2, 2, 2);
    for (int frame = 0; frame < 2; frame++) {
        ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
        CI_SHOT *shot = nullptr;
        ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
        expectModelOutput(shot, scene.samples);
        ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    }
    EXPECT_EQ(source.rendered, 0);
    norva_sim::SetFrameSource(0, nullptr);
}

} // namespace

// The five frame timestamps of the save structure (start in, end in, start out, end encoder out, end display
// out) run in that order, end before the shot's interrupt and move on from one frame to the next.
TEST_F(CaptureModel, FrameTimestampsRunInOrderBeforeTheInterrupt) {
    startWith(2, 2, 2);
    uint32_t previousEnd = 0;
    for (int frame = 0; frame < 2; frame++) {
        SCOPED_TRACE(frame);
        ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
        insert(scene.samples);
        CI_SHOT *shot = nullptr;
        ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
        uint32_t ts[5];
        for (int i = 0; i < 5; i++)
            ts[i] = word(shot->pStatistics, norva_sim::stats_layout::kTimestamps + 4 * i);
        // Differences of a wrapping 32-bit counter, taken as signed.
        for (int i = 0; i < 4; i++)
            EXPECT_GT(static_cast<int32_t>(ts[i + 1] - ts[i]), 0) << i;
        EXPECT_GT(static_cast<int32_t>(shot->ui32InterruptTS - ts[4]), 0);
        if (frame > 0) {
            EXPECT_GT(static_cast<int32_t>(ts[0] - previousEnd), 0) << "a later frame starts after the earlier one";
        }
        previousEnd = ts[4];
        EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_FALSE), QOR_RES_OK);
        ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
    }
}

namespace {

/** The defect read map travels with the pipeline's registration; the device corrects its pixels in each frame. */
class CaptureModelDefects : public CaptureModel {
protected:
    void arrange(MC_PIPELINE &mc) override {
        CaptureModel::arrange(mc);
        mc.sDPF.eDPFEnable = CI_DPF_READ_MAP_ENABLED;
        mc.sDPF.apDefectInput = defects;
        mc.sDPF.ui32NDefect = 3;
        mc.sDPF.ui32OutputMapSize = 64;
    }
    QOR_UINT16 defects[6] = {5, 3, 40, 20, 7, 30};
};

TEST_F(CaptureModelDefects, ReadMapReachesTheFramesAndTheCounters) {
    startWith(2, 2, 2);
    norva_sim::SimPipelineView view;
    ASSERT_TRUE(norva_sim::GetSimPipeline(pipelineId(), &view));
    EXPECT_EQ(view.defectMap, std::vector<uint16_t>(defects, defects + 6));
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    insert(scene.samples);
    CI_SHOT *shot = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
    expectModelOutput(shot, scene.samples);
    EXPECT_EQ(word(shot->pStatistics, norva_sim::stats_layout::kDpfCounters), 3u);
    EXPECT_EQ(word(shot->pStatistics, norva_sim::stats_layout::kDpfCounters + 4), 0u);
    ASSERT_NE(shot->pDPFMap, nullptr);
    EXPECT_EQ(word(shot->pDPFMap, 0), 0u); /* nothing detected: the area holds no entry */
    EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_FALSE), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
}

} // namespace
