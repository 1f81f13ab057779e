// The pipeline's capture on the simulated device: registered, programmed, shots and buffers, capture, frames
// acquired into ISPC::Shot with the statistics the device wrote, released; and the filling of a shot from a
// driver shot on its own.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "ci/ci_ioctrl.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "ispc/Pipeline.h"
#include "ci/ci_converter.h"
#include "ispc/Shot.h"
#include "sim_image.h"
#include "platform/sim_capture.h"
#include "platform/sim_pipeline.h"
#include "support/sim_fixture.h"
#include "support/test_sensor.h"
#include "support/output_capture.h"
#include "support/same_members.h"

using norva_test::contains;
using norva_test::stderrOf;

using namespace ISPC;
using norva_test::DifferentMembers;
using norva_test::SimTest;
using norva_test::stderrOf;

namespace {

std::vector<int> commandNumbers() {
    std::vector<int> nrs;
    for (const auto &e : norva_sim::Trace())
        nrs.push_back(e.nr);
    return nrs;
}

std::vector<int> updateMasks() {
    std::vector<int> masks;
    for (const auto &e : norva_sim::Trace()) {
        if (e.nr == CI_CONFIG_UPDATE) {
            int mask;
            memcpy(&mask, &e.argIn[offsetof(CI_PIPE_PARAM, eUpdateMask)], sizeof(mask));
            masks.push_back(mask);
        }
    }
    return masks;
}

/** Statistics with a distinct value in every field the extraction reads. */
norva_sim::SimSaveStats distinctStatistics() {
    norva_sim::SimSaveStats s;
    memset(&s, 0, sizeof(s));
    uint32_t v = 1;
    for (auto &x : s.exsGlobal)
        x = v++;
    for (auto &r : s.exsRegion)
        for (auto &c : r)
            for (auto &x : c)
                x = static_cast<uint16_t>(v++);
    s.fosRoi = 0x12345;
    for (auto &r : s.fosGrid)
        for (auto &x : r)
            x = v++;
    for (auto &w : s.wbs) {
        for (int k = 0; k < 3; k++) {
            w.whitePatchSum[k] = v++;
            w.whitePatchCount[k] = v++;
            w.averageSum[k] = v++;
            w.highLumaSum[k] = v++;
        }
        w.highLumaCount = v++;
    }
    for (auto &x : s.hisGlobal)
        x = v++;
    for (auto &r : s.hisRegion)
        for (auto &c : r)
            for (auto &x : c)
                x = v++;
    for (auto &r : s.aws)
        for (auto &t : r) {
            t.red = 32 * v++;
            t.blue = 32 * v++ + 16;
            t.green = 32 * v++;
            t.count = 0xFFC00000u | v++; // only bits 21:0 count
        }
    s.dpfFixed = 7;
    s.dpfModifications = 30;
    s.dpfDropped = 4;
    s.flicker = 0xF9; // verdict in bits 2:0: 1 (50 Hz)
    for (int i = 0; i < 5; i++)
        s.timestamps[i] = 1000u + 10u * i;
    return s;
}

class PipelineCapture : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(CI_DriverInit(&conn), QOR_RES_OK);
        sensor.reset(new norva_test::TestSensor());
        pipeline.reset(new Pipeline(conn, 0, sensor.get()));
        for (SetupModule *m :
             std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(), new ModuleFOS()}) {
            ASSERT_EQ(pipeline->registerModule(m), QOR_RES_OK);
        }
        const ParameterList setup = ParameterFileParser::parseFile(NORVA_ISPC_TEST_DIR "/data/pipeline_setup.txt");
        ASSERT_EQ(pipeline->reloadAll(setup), QOR_RES_OK);
        ASSERT_EQ(pipeline->setupAll(), QOR_RES_OK);
        norva_sim::ClearTrace();
    }
    void TearDown() override {
        pipeline.reset();
        sensor.reset();
        EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
        SimTest::TearDown();
    }
    int pipelineId() { return reinterpret_cast<INT_PIPELINE *>(pipeline->getCIPipeline())->ui32Identifier; }

    /** Programs, adds two shots and two buffers of each output, starts. */
    void programAndStart() {
        Pipeline &p = *pipeline;
        ASSERT_EQ(p.programPipeline(false), QOR_RES_OK);
        ASSERT_EQ(p.addShots(2), QOR_RES_OK);
        EXPECT_EQ(p.getStatus(), ISPC_Ctx_READY);
        for (CI_BUFFTYPE t : {CI_TYPE_ENCODER, CI_TYPE_ENCODER, CI_TYPE_DISPLAY, CI_TYPE_DISPLAY}) {
            QOR_UINT32 id = 0;
            ASSERT_EQ(p.allocateBuffer(t, 0, false, &id), QOR_RES_OK); // sized by the pipeline
            EXPECT_NE(id, 0u);
        }
        ASSERT_EQ(p.startCapture(), QOR_RES_OK);
    }

    CI_CONNECTION *conn = nullptr;
    std::unique_ptr<norva_test::TestSensor> sensor;
    std::unique_ptr<Pipeline> pipeline;
};

} // namespace

TEST_F(PipelineCapture, FramesCarryTheStatisticsTheDeviceWrote) {
    Pipeline &p = *pipeline;
    ASSERT_EQ(p.programPipeline(false), QOR_RES_OK);
    EXPECT_EQ(commandNumbers(), (std::vector<int>{CI_PIPELINE_REGISTER, CI_CONFIG_UPDATE}));
    EXPECT_EQ(updateMasks(), std::vector<int>{CI_UPD_ALL});

    // Shots first: without them the context is not ready and no buffer is sized for a capture.
    Shot early;
    stderrOf([&] { EXPECT_EQ(p.startCapture(), QOR_RES_UNAVAILABLE); });
    norva_sim::ClearTrace();
    ASSERT_EQ(p.addShots(2), QOR_RES_OK);
    EXPECT_EQ(p.getStatus(), ISPC_Ctx_READY);
    std::vector<QOR_UINT32> ids;
    for (CI_BUFFTYPE t : {CI_TYPE_ENCODER, CI_TYPE_ENCODER, CI_TYPE_DISPLAY, CI_TYPE_DISPLAY}) {
        QOR_UINT32 id = 0;
        ASSERT_EQ(p.allocateBuffer(t, 0, false, &id), QOR_RES_OK);
        ids.push_back(id);
    }
    ASSERT_EQ(p.startCapture(), QOR_RES_OK);
    const std::vector<int> start = commandNumbers();
    ASSERT_GE(start.size(), 4u);
    EXPECT_EQ((std::vector<int>(start.end() - 4, start.end())),
              (std::vector<int>{CI_CAPTURE_ISSTARTED, CI_LINESTORE_GET, CI_LINESTORE_SET, CI_CAPTURE_START}));
    stderrOf([&] { EXPECT_EQ(p.startCapture(), QOR_RES_OK); }); // already started: a warning

    // While running, the lens-shading matrix, defect input and AWS curve groups are not sent.
    p.getMCPipeline()->sLSH.updateNeeded = QOR_TRUE;
    p.getMCPipeline()->sAWS.updateNeeded = QOR_TRUE;
    norva_sim::ClearTrace();
    ASSERT_EQ(p.programPipeline(false), QOR_RES_OK);
    ASSERT_EQ(updateMasks().size(), 1u);
    EXPECT_EQ(updateMasks()[0] & 0x380, 0);
    EXPECT_NE(updateMasks()[0], 0);

    // Nothing triggered: a poll answers 16 without a word.
    Shot shot;
    QOR_RESULT polled = QOR_RES_OK;
    EXPECT_EQ(stderrOf([&] { polled = p.acquireShot(shot, false); }), "");
    EXPECT_EQ(polled, QOR_RES_IN_PROGRESS);
    EXPECT_EQ(shot.pCIBuffer, nullptr);

    const norva_sim::SimSaveStats written = distinctStatistics();
    norva_sim::QueueStatistics(pipelineId(), written);
    norva_sim::ClearTrace();
    ASSERT_EQ(p.programShot(), QOR_RES_OK);
    EXPECT_EQ(commandNumbers(), (std::vector<int>{CI_CAPTURE_ISSTARTED, CI_CAPTURE_TRIGGER}));
    ASSERT_EQ(p.acquireShot(shot, true), QOR_RES_OK);
    ASSERT_NE(shot.pCIBuffer, nullptr);
    EXPECT_FALSE(shot.bFrameError);

    // Outputs: NV12 encoder and RGB display, with the frame the device wrote.
    EXPECT_EQ(shot.YUV.pxlFormat, YUV_420_PL12_8);
    EXPECT_EQ(shot.DISPLAY.pxlFormat, RGB_888_32);
    EXPECT_EQ(shot.BAYER.data, nullptr);
    EXPECT_EQ(shot.HDREXT.data, nullptr);
    ASSERT_NE(shot.YUV.data, nullptr);
    ASSERT_NE(shot.DISPLAY.data, nullptr);
    EXPECT_EQ(shot.YUV.stride, shot.pCIBuffer->aEncYSize[0]);
    EXPECT_EQ(shot.YUV.offsetCbCr, shot.pCIBuffer->aEncOffset[1]);
    EXPECT_EQ(shot.YUV.firstDataCbCr(), shot.YUV.data + shot.YUV.offsetCbCr);
    EXPECT_EQ(shot.DISPLAY.firstDataCbCr(), nullptr);
    EXPECT_EQ(shot.YUV.firstData()[5], norva_sim::TestPatternByte(1, norva_sim::SIM_OUT_ENC, 0, 5, 0));
    EXPECT_EQ(shot.YUV.firstDataCbCr()[3], norva_sim::TestPatternByte(1, norva_sim::SIM_OUT_ENC, 1, 3, 0));
    EXPECT_EQ(shot.DISPLAY.firstData()[7], norva_sim::TestPatternByte(1, norva_sim::SIM_OUT_DISP, 0, 7, 0));

    // Statistics: what the device wrote, read back field by field...
    const Metadata &md = shot.metadata;
    EXPECT_EQ(md.clippingStats.globalClipped[2], written.exsGlobal[2]);
    EXPECT_EQ(md.clippingStats.regionClipped[6][5][3], written.exsRegion[6][5][3]);
    EXPECT_EQ(md.focusStats.ROISharpness, written.fosRoi);
    EXPECT_EQ(md.focusStats.gridSharpness[3][4], written.fosGrid[3][4]);
    EXPECT_EQ(md.histogramStats.globalHistogram[63], written.hisGlobal[63]);
    EXPECT_EQ(md.histogramStats.regionHistograms[6][6][15], written.hisRegion[6][6][15]);
    EXPECT_EQ(md.autoWhiteBalanceStats.tileStats[2][3].numCFAs, written.aws[2][3].count & 0x3FFFFFu);
    EXPECT_DOUBLE_EQ(md.autoWhiteBalanceStats.tileStats[2][3].fCollectedBlue, written.aws[2][3].blue / 32.0);
    EXPECT_EQ(md.flickerStats.flickerStatus, 1u);
    EXPECT_EQ(md.defectiveStats.ui32FixedPixels, 7u);
    EXPECT_EQ(md.defectiveStats.ui32NOutCorrection, 26u);
    EXPECT_EQ(md.timestamps.ui32StartFrameIn, written.timestamps[0]);
    EXPECT_EQ(md.timestamps.ui32EndFrameDispOut, written.timestamps[4]);
    EXPECT_EQ(md.timestamps.ui32LinkedListUpdated, shot.pCIBuffer->ui32LinkedListTS);
    EXPECT_EQ(md.timestamps.ui64InterruptTimeOfDay, shot.pCIBuffer->ui64InterruptTimeOfDay);
    // ... and as a whole, against the extraction of the same bytes.
    std::vector<uint8_t> area(norva_sim::kSaveStructureSize);
    norva_sim::WriteSaveStructure(written, area.data(), area.size());
    Metadata expected;
    memset(&expected, 0, sizeof(expected));
    MC_EXSExtract(area.data(), &expected.clippingStats);
    MC_HISExtract(area.data(), &expected.histogramStats);
    MC_FOSExtract(area.data(), &expected.focusStats);
    MC_WBSExtract(area.data(), &expected.whiteBalanceStats);
    MC_AWSExtract(area.data(), &expected.autoWhiteBalanceStats);
    EXPECT_EQ(memcmp(&md.clippingStats, &expected.clippingStats, sizeof(MC_STATS_EXS)), 0);
    EXPECT_EQ(memcmp(&md.histogramStats, &expected.histogramStats, sizeof(MC_STATS_HIS)), 0);
    EXPECT_EQ(memcmp(&md.focusStats, &expected.focusStats, sizeof(MC_STATS_FOS)), 0);
    // The white-balance records have padding: member by member.
    for (int i = 0; i < 2; i++) {
        const MC_STATS_WBS &g = md.whiteBalanceStats, &w = expected.whiteBalanceStats;
        EXPECT_EQ(DifferentMembers(
                      g.whitePatch[i], w.whitePatch[i],
                      {NORVA_MEMBER(MC_STATS_WBS_WP, channelAccumulated), NORVA_MEMBER(MC_STATS_WBS_WP, channelCount)}),
                  "")
            << "white patch " << i;
        EXPECT_EQ(memcmp(&g.averageColor[i], &w.averageColor[i], sizeof(MC_STATS_WBS_AC)), 0) << "average " << i;
        EXPECT_EQ(DifferentMembers(
                      g.highLuminance[i], w.highLuminance[i],
                      {NORVA_MEMBER(MC_STATS_WBS_HLW, channelAccumulated), NORVA_MEMBER(MC_STATS_WBS_HLW, lumaCount)}),
                  "")
            << "high luminance " << i;
    }
    for (int y = 0; y < 7; y++) {
        for (int x = 0; x < 7; x++) {
            EXPECT_EQ(
                DifferentMembers(
                    md.autoWhiteBalanceStats.tileStats[y][x], expected.autoWhiteBalanceStats.tileStats[y][x],
                    {NORVA_MEMBER(MC_TILE_STATS_AWS, fCollectedRed), NORVA_MEMBER(MC_TILE_STATS_AWS, fCollectedBlue),
                     NORVA_MEMBER(MC_TILE_STATS_AWS, fCollectedGreen), NORVA_MEMBER(MC_TILE_STATS_AWS, numCFAs)}),
                "")
                << "tile " << x << "," << y;
        }
    }
    // The configuration the frame was taken with: the focus window of the setup file.
    EXPECT_EQ(md.focusConfig.ui16ROILeft, 100);
    EXPECT_EQ(md.focusConfig.ui16ROIWidth, 100);
    EXPECT_EQ(shot.stats.size, 6108u);
    EXPECT_EQ(shot.stats.data, shot.pCIBuffer->pStatistics);

    // An acquired shot keeps its pool: deleting the shots is refused, while started and after the stop.
    std::string log = stderrOf([&] { EXPECT_EQ(p.deleteShots(), QOR_RES_UNAVAILABLE); });
    EXPECT_TRUE(contains(log, "Pipeline is started - cannot delete shots\n")) << log;
    ASSERT_EQ(p.stopCapture(), QOR_RES_OK);
    log = stderrOf([&] { EXPECT_EQ(p.deleteShots(), QOR_RES_UNAVAILABLE); });
    EXPECT_TRUE(contains(log, "Pipeline has acquired Shots - cannot delete shots\n")) << log;
    log = stderrOf([&] { EXPECT_EQ(p.programShot(), QOR_RES_UNAVAILABLE); });
    EXPECT_TRUE(contains(log, "Capture not started, unable to program shot.\n")) << log;

    ASSERT_EQ(p.releaseShot(shot), QOR_RES_OK);
    for (const Buffer *b : {&shot.DISPLAY, &shot.YUV, &shot.BAYER, &shot.HDREXT, &shot.RAW2DEXT}) {
        EXPECT_EQ(b->data, nullptr);
        EXPECT_EQ(b->pxlFormat, PXL_NONE);
        EXPECT_EQ(b->width, 0);
    }
    EXPECT_EQ(shot.pCIBuffer, nullptr);
    // Given back once only.
    stderrOf([&] { EXPECT_EQ(p.releaseShot(shot), QOR_RES_FAILED); });
    for (QOR_UINT32 id : ids)
        EXPECT_EQ(p.deregisterBuffer(id), QOR_RES_OK);
    EXPECT_EQ(p.deleteShots(), QOR_RES_OK);
}

TEST_F(PipelineCapture, SpecifiedBuffersAndFrameErrors) {
    programAndStart();
    Pipeline &p = *pipeline;
    for (bool inStatusWord : {true, false}) {
        CI_BUFFID ids;
        ASSERT_EQ(p.getFirstAvailableBuffers(ids), QOR_RES_OK);
        EXPECT_NE(ids.encId, 0u);
        EXPECT_NE(ids.dispId, 0u);
        norva_sim::InjectFrameError(pipelineId(), inStatusWord);
        ASSERT_EQ(p.programSpecifiedShot(ids), QOR_RES_OK);
        Shot shot;
        ASSERT_EQ(p.acquireShot(shot, true), QOR_RES_OK);
        // An erroneous frame is delivered complete, with its flag.
        EXPECT_TRUE(shot.bFrameError) << inStatusWord;
        EXPECT_EQ(shot.YUV.id, ids.encId);
        EXPECT_EQ(shot.DISPLAY.id, ids.dispId);
        EXPECT_NE(shot.YUV.data, nullptr);
        ASSERT_EQ(p.releaseShot(shot), QOR_RES_OK);
    }
    ASSERT_EQ(p.stopCapture(), QOR_RES_OK);
    std::string log = stderrOf([&] {
        CI_BUFFID none;
        memset(&none, 0, sizeof(none));
        EXPECT_EQ(p.programSpecifiedShot(none), QOR_RES_UNAVAILABLE);
    });
    EXPECT_TRUE(contains(log, "Capture not started, unable to program shot.\n")) << log;
}

TEST_F(PipelineCapture, DriverFailures) {
    Pipeline &p = *pipeline;
    ASSERT_EQ(p.programPipeline(false), QOR_RES_OK);
    // Status checks come in their order: a descriptor of 0 is refused before the status.
    std::string log = stderrOf([&] {
        EXPECT_EQ(p.addShots(0), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(p.importBuffer(CI_TYPE_ENCODER, 0, 4096, false, nullptr), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(p.startCapture(), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.stopCapture(), QOR_RES_UNAVAILABLE);
    });
    EXPECT_TRUE(contains(log, "At least one buffer must be requested.\n")) << log;
    EXPECT_TRUE(contains(log, "Pipeline not ready for starting capture.\n")) << log;

    norva_sim::InjectCommandFault(CI_CONFIG_ADDPOOL, -ENOMEM);
    log = stderrOf([&] { EXPECT_EQ(p.addShots(1), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(log, "Failed to add Shots to the pipeline (returned")) << log;
    EXPECT_EQ(p.getStatus(), ISPC_Ctx_SETUP);
    ASSERT_EQ(p.addShots(1), QOR_RES_OK);

    // A failed start leaves the status; a failed buffer allocation is an error status for good.
    norva_sim::InjectCommandFault(CI_CAPTURE_START, -EBUSY);
    QOR_UINT32 id = 0;
    ASSERT_EQ(p.allocateBuffer(CI_TYPE_ENCODER, 0, false, &id), QOR_RES_OK);
    log = stderrOf([&] { EXPECT_EQ(p.startCapture(), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(log, "Failed to start capture (returned")) << log;
    EXPECT_EQ(p.getStatus(), ISPC_Ctx_READY);

    norva_sim::InjectCommandFault(CI_CREATE_BUFF, -ENOMEM);
    log = stderrOf([&] { EXPECT_EQ(p.allocateBuffer(CI_TYPE_DISPLAY, 0, false, &id), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(log, "Failed to allocate buffer (ret=")) << log;
    EXPECT_EQ(p.getStatus(), ISPC_Ctx_ERROR);
    Shot shot;
    stderrOf([&] {
        EXPECT_EQ(p.addShots(1), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.startCapture(), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.programShot(), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.acquireShot(shot, true), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.importBuffer(CI_TYPE_ENCODER, 0, 4096, false, &id), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(p.importBuffer(CI_TYPE_ENCODER, 5, 4096, false, &id), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.deleteShots(), QOR_RES_UNAVAILABLE);
    });
}

namespace {

/** A driver shot as the capture library holds it (acquired), over a save structure of our own. */
struct FakeDriverShot {
    FakeDriverShot() : save(norva_sim::kSaveStructureSize, 0), map(4096, 0) {
        memset(&shot, 0, sizeof(shot));
        shot.bAcquired = QOR_TRUE;
        CI_SHOT &s = shot.publicShot;
        s.pStatistics = save.data();
        s.statsSize = norva_sim::kSaveStructureSize;
        s.pDPFMap = map.data();
        s.aDispSize[0] = 7680;
        s.aDispSize[1] = 1080;
        s.pDisplayOutput = map.data();
        s.dispId = 9;
    }
    void corrections(uint32_t modifications, uint32_t dropped) {
        norva_sim::SimSaveStats st;
        memset(&st, 0, sizeof(st));
        st.dpfModifications = modifications;
        st.dpfDropped = dropped;
        norva_sim::WriteSaveStructure(st, save.data(), save.size());
    }
    CI_SHOT *get() { return &shot.publicShot; }
    INT_SHOT shot;
    std::vector<uint8_t> save;
    std::vector<uint8_t> map;
};

Global_Setup geometry() {
    Global_Setup g;
    memset(&g, 0, sizeof(g));
    g.ui32ImageWidth = 1920;
    g.ui32ImageHeight = 1080;
    g.ui32DispWidth = 70000; // held in 16 bits
    g.ui32DispHeight = 1080;
    return g;
}

} // namespace

TEST(ShotConfigure, DefectMapAttachedOnlyWhenTheCorrectionsFit) {
    ModuleOUT out;
    const struct {
        const char *name;
        uint32_t mapSize;
        uint32_t modifications, dropped;
        uint32_t dpfSize; // 0: not attached
        bool warns;
    } cases[] = {
        {"no map", 0, 100, 0, 0, false},
        {"one byte short", 799, 100, 0, 0, true},
        {"exactly", 800, 100, 0, 800, false},
        {"wrapping count", 4096, 0x20000001u, 0, 0, true}, // 8 in 32 bits, far too many in 64
        {"dropped above modifications", 4096, 3, 5, 0, true},
    };
    for (const auto &c : cases) {
        FakeDriverShot d;
        d.corrections(c.modifications, c.dropped);
        d.get()->uiDPFSize = c.mapSize;
        Shot shot;
        const std::string log = stderrOf([&] { shot.configure(d.get(), out, geometry()); });
        EXPECT_EQ(shot.DPF.size, c.dpfSize) << c.name;
        EXPECT_EQ(shot.DPF.data != nullptr, c.dpfSize != 0) << c.name;
        if (c.dpfSize != 0) {
            EXPECT_EQ(shot.DPF.elementSize, 8u) << c.name;
        }
        EXPECT_EQ(contains(log, "nb of correct pixels given by HW does not fit in buffer! DPF buffer not loaded\n"),
                  c.warns)
            << c.name << log;
    }
}

TEST(ShotConfigure, DisplayOrBayerOnTheSharedOutput) {
    const struct {
        const char *name;
        ePxlFormat display, extraction;
        bool display_, bayer;
    } cases[] = {
        {"display format", RGB_888_32, BAYER_RGGB_10, true, false},
        {"Bayer extraction", PXL_NONE, BAYER_RGGB_10, false, true},
        {"neither", YUV_420_PL12_8, PXL_NONE, false, false},
    };
    for (const auto &c : cases) {
        ModuleOUT out;
        out.displayType = c.display;
        out.dataExtractionType = c.extraction;
        FakeDriverShot d;
        d.get()->bFrameError = 1;
        Shot shot;
        shot.configure(d.get(), out, geometry());
        EXPECT_EQ(shot.DISPLAY.data != nullptr, c.display_) << c.name;
        EXPECT_EQ(shot.BAYER.data != nullptr, c.bayer) << c.name;
        EXPECT_TRUE(shot.bFrameError) << c.name;
        EXPECT_EQ(shot.stats.size, 6108u) << c.name;
        if (c.display_) {
            EXPECT_EQ(shot.DISPLAY.width, 70000 % 65536) << c.name;
            EXPECT_EQ(shot.DISPLAY.stride, 7680) << c.name;
            EXPECT_EQ(shot.DISPLAY.id, 9u) << c.name;
        }
        if (c.bayer) {
            EXPECT_EQ(shot.BAYER.width, 1920) << c.name;
            EXPECT_EQ(shot.BAYER.vstride, 1080) << c.name;
        }
    }
}

TEST(ShotConfigure, ANeverAcquiredShotHoldsNothing) {
    Shot shot;
    EXPECT_EQ(shot.pCIBuffer, nullptr);
    EXPECT_EQ(shot.YUV.data, nullptr);
    EXPECT_EQ(shot.stats.data, nullptr);
    EXPECT_FALSE(shot.bFrameError);
    // A save structure too small for the extraction is not read.
    ModuleOUT out;
    FakeDriverShot d;
    d.corrections(100, 0);
    d.get()->statsSize = 1024;
    const std::string log = stderrOf([&] { shot.configure(d.get(), out, geometry()); });
    EXPECT_EQ(shot.metadata.defectiveStats.ui32MapModifications, 0u);
    EXPECT_EQ(shot.stats.size, 1024u);
    EXPECT_TRUE(contains(log, "statistics area of 1024 Bytes not decoded")) << log;
}

TEST_F(PipelineCapture, HDRInsertionBufferIsFilledFromAnRGBImageAndCapturedWith) {
    Pipeline &p = *pipeline;
    static_cast<ModuleOUT *>(p.getModule(STP_OUT))->hdrInsertionType = BGR_161616_64;
    ASSERT_EQ(p.setupModule(STP_OUT), QOR_RES_OK);
    ASSERT_EQ(p.programPipeline(false), QOR_RES_OK);
    ASSERT_EQ(p.addShots(1), QOR_RES_OK);
    CI_BUFFID ids;
    memset(&ids, 0, sizeof(ids));
    ASSERT_EQ(p.allocateBuffer(CI_TYPE_ENCODER, 0, false, &ids.encId), QOR_RES_OK);
    ASSERT_EQ(p.allocateBuffer(CI_TYPE_DISPLAY, 0, false, &ids.dispId), QOR_RES_OK);
    ASSERT_EQ(p.allocateBuffer(CI_TYPE_HDRINS, 0, false, &ids.idHDRIns), QOR_RES_OK);

    CI_BUFFER insertion;
    memset(&insertion, 0, sizeof(insertion));
    ASSERT_EQ(p.getAvailableHDRInsertion(insertion, ids.idHDRIns), QOR_RES_OK);
    EXPECT_EQ(insertion.id, ids.idHDRIns);
    ASSERT_NE(insertion.data, nullptr);
    // Lent once: a second request for the same buffer is refused.
    CI_BUFFER again;
    const std::string log =
        stderrOf([&] { EXPECT_EQ(p.getAvailableHDRInsertion(again, ids.idHDRIns), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(log, "Failed to find available HDR buffer (id=")) << log;

    // An RGB image of the imager's size (960x540 after decimation), one colour.
    const Global_Setup g = p.getGlobalSetup();
    sSimImageIn image;
    memset(&image, 0, sizeof(image));
    image.info.ui32Width = g.ui32ImageWidth;
    image.info.ui32Height = g.ui32ImageHeight;
    image.info.ui8BitDepth = 10;
    image.info.eColourModel = SimImage_RGB64;
    image.info.stride = static_cast<QOR_SIZE>(g.ui32ImageWidth) * 8;
    std::vector<QOR_UINT16> samples(static_cast<size_t>(g.ui32ImageWidth) * g.ui32ImageHeight * 4);
    for (size_t i = 0; i < samples.size(); i += 4) {
        samples[i] = 0x3FF;
        samples[i + 1] = 0x200;
        samples[i + 2] = 0;
    }
    image.pBuffer = samples.data();
    ASSERT_EQ(CI_Convert_HDRInsertion(&image, &insertion, QOR_TRUE), QOR_RES_OK);

    ASSERT_EQ(p.startCapture(), QOR_RES_OK);
    ASSERT_EQ(p.programSpecifiedShot(ids), QOR_RES_OK);
    Shot shot;
    ASSERT_EQ(p.acquireShot(shot, true), QOR_RES_OK);
    EXPECT_EQ(shot.YUV.id, ids.encId);
    ASSERT_EQ(p.releaseShot(shot), QOR_RES_OK);
    ASSERT_EQ(p.stopCapture(), QOR_RES_OK);
}

TEST_F(PipelineCapture, WithoutTheOutputModuleNoFrameIsTaken) {
    programAndStart();
    Pipeline &p = *pipeline;
    ASSERT_EQ(p.programShot(), QOR_RES_OK);
    p.clearModules();
    Shot shot;
    const std::string log = stderrOf([&] { EXPECT_EQ(p.acquireShot(shot, true), QOR_RES_UNAVAILABLE); });
    EXPECT_TRUE(contains(log, "Pipeline has no registered ModuleOUT!\n")) << log;
    EXPECT_EQ(shot.pCIBuffer, nullptr);
    EXPECT_FALSE(CI_PipelineHasAcquired(p.getCIPipeline()));
    ASSERT_EQ(p.stopCapture(), QOR_RES_OK);
}
