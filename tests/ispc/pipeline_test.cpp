// The pipeline object on the simulated device: registry, load and set-up orders, programming
// (registration, then updates of the converted groups) and its error states.
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
#include "platform/sim_pipeline.h"
#include "support/sim_fixture.h"
#include "support/test_sensor.h"
#include "support/output_capture.h"

using norva_test::contains;
using norva_test::stderrOf;

using namespace ISPC;
using norva_test::SimTest;
using norva_test::stderrOf;

namespace {

/** A connection to the simulated device and a 1920x1080 sensor. */
class PipelineOnSim : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(CI_DriverInit(&conn), QOR_RES_OK);
        sensor.reset(new norva_test::TestSensor());
        norva_sim::ClearTrace();
    }
    void TearDown() override {
        pipeline.reset();
        sensor.reset();
        EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
        SimTest::TearDown();
    }

    Pipeline &make(unsigned context = 0) {
        pipeline.reset(new Pipeline(conn, context, sensor.get()));
        return *pipeline;
    }
    /** The four modules the camera registers first, loaded from the test setup file and set up. */
    void registerLoadAndSetUp(Pipeline &p) {
        for (SetupModule *m :
             std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(), new ModuleFOS()}) {
            ASSERT_EQ(p.registerModule(m), QOR_RES_OK);
        }
        const ParameterList setup = ParameterFileParser::parseFile(NORVA_ISPC_TEST_DIR "/data/pipeline_setup.txt");
        ASSERT_TRUE(setup.exists("OUT_ENC"));
        ASSERT_EQ(p.reloadAll(setup), QOR_RES_OK);
        ASSERT_EQ(p.setupAll(), QOR_RES_OK);
    }
    INT_PIPELINE &internal() { return *reinterpret_cast<INT_PIPELINE *>(pipeline->getCIPipeline()); }

    /** The configuration updates of the trace and the mask each carried. */
    static std::vector<int> updateMasks() {
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
    static std::vector<int> commandNumbers() {
        std::vector<int> nrs;
        for (const auto &e : norva_sim::Trace())
            nrs.push_back(e.nr);
        return nrs;
    }

    CI_CONNECTION *conn = nullptr;
    std::unique_ptr<norva_test::TestSensor> sensor;
    std::unique_ptr<Pipeline> pipeline;
};

} // namespace

TEST_F(PipelineOnSim, ConstructionTakesTheSensorGeometry) {
    sensor->uiImager = 1;
    Pipeline &p = make(1);
    EXPECT_EQ(p.getStatus(), ISPC_Ctx_INIT);
    EXPECT_EQ(p.getMCPipeline()->sIIF.ui16ImagerSize[0], 960);
    EXPECT_EQ(p.getMCPipeline()->sIIF.ui16ImagerSize[1], 540);
    EXPECT_EQ(p.getCIPipeline()->config.ui8Context, 1);
    EXPECT_EQ(p.getCIPipeline()->sImagerInterface.ui8Imager, 1);
    EXPECT_EQ(p.getMaxEncoderWidth(), 1920u);
    EXPECT_EQ(p.getMaxDisplayHeight(), 1080u);
    EXPECT_FALSE(p.tilingEnabled());
    EXPECT_EQ(p.getSensor(), sensor.get());
    EXPECT_EQ(p.getConnection(), conn);
}

TEST_F(PipelineOnSim, RegistersOnceThenUpdatesTheConvertedGroups) {
    Pipeline &p = make();
    registerLoadAndSetUp(p);
    const MC_PIPELINE &mc = *p.getMCPipeline();
    EXPECT_EQ(mc.eEncOutput, YUV_420_PL12_8);
    EXPECT_EQ(mc.eDispOutput, RGB_888_32);
    EXPECT_EQ(mc.sIIF.ui16ImagerSize[0], 960);
    EXPECT_EQ(mc.sIIF.ui16ImagerSize[1], 540);
    EXPECT_EQ(mc.ui16SystemBlackLevel, 100);

    norva_sim::ClearTrace();
    ASSERT_EQ(p.programPipeline(false), QOR_RES_OK);
    EXPECT_EQ(p.getStatus(), ISPC_Ctx_SETUP);
    EXPECT_EQ(commandNumbers(), (std::vector<int>{CI_PIPELINE_REGISTER, CI_CONFIG_UPDATE}));
    EXPECT_EQ(updateMasks(), std::vector<int>{CI_UPD_ALL});
    norva_sim::SimPipelineView view;
    ASSERT_TRUE(norva_sim::GetSimPipeline(internal().ui32Identifier, &view));
    EXPECT_EQ(view.decoded.sBlackCorrection.i8FixedOffset[0], -16);
    EXPECT_EQ(view.decoded.sBlackCorrection.i8FixedOffset[2], 100);
    EXPECT_EQ(view.decoded.stats.sFocusStats.ui16ROILeft, 100);
    EXPECT_EQ(view.decoded.stats.sFocusStats.ui16ROIRight, 199);

    // A control moves the focus region: only the requested module is set up again, and the next
    // programming sends the groups the conversion touched, not all of them.
    ModuleFOS *fos = static_cast<ModuleFOS *>(p.getModule(STP_FOS));
    fos->aRoiStartCoord[0] = 10;
    fos->aRoiEndCoord[0] = 19;
    fos->requestUpdate();
    ASSERT_EQ(p.setupRequested(), QOR_RES_OK);
    EXPECT_FALSE(fos->isUpdateRequested());
    norva_sim::ClearTrace();
    ASSERT_EQ(p.programPipeline(true), QOR_RES_OK);
    EXPECT_EQ(p.getStatus(), ISPC_Ctx_SETUP);
    const std::vector<int> masks = updateMasks();
    ASSERT_EQ(masks.size(), 1u);
    EXPECT_NE(masks[0] & CI_UPD_FOS, 0);
    EXPECT_NE(masks[0], CI_UPD_ALL);
    EXPECT_EQ(masks[0] & ~CI_UPD_ALL, 0);
    const std::vector<uint8_t> record = norva_sim::Trace().back().argIn;
    EXPECT_EQ(record[offsetof(CI_PIPE_PARAM, bUpdateASAP)], 1);
    ASSERT_TRUE(norva_sim::GetSimPipeline(internal().ui32Identifier, &view));
    EXPECT_EQ(view.decoded.stats.sFocusStats.ui16ROILeft, 10);
    EXPECT_EQ(view.decoded.stats.sFocusStats.ui16ROIRight, 19);
}

TEST_F(PipelineOnSim, RunningCaptureIsNotSentTheMatrixDefectAndCurveGroups) {
    Pipeline &p = make();
    registerLoadAndSetUp(p);
    ASSERT_EQ(p.programPipeline(false), QOR_RES_OK);
    ASSERT_EQ(p.addShots(1), QOR_RES_OK);
    QOR_UINT32 enc = 0, disp = 0;
    ASSERT_EQ(p.allocateBuffer(CI_TYPE_ENCODER, 0, false, &enc), QOR_RES_OK);
    ASSERT_EQ(p.allocateBuffer(CI_TYPE_DISPLAY, 0, false, &disp), QOR_RES_OK);
    const int matrixDefectCurve = CI_UPD_LSH_REG | CI_UPD_DPF_INPUT | CI_UPD_AWS_REG;
    for (bool started : {false, true}) {
        if (started) {
            ASSERT_EQ(p.startCapture(), QOR_RES_OK);
        }
        // What the lens-shading and auto-white-balance modules' set-ups flag.
        p.getMCPipeline()->sLSH.updateNeeded = QOR_TRUE;
        p.getMCPipeline()->sAWS.updateNeeded = QOR_TRUE;
        norva_sim::ClearTrace();
        ASSERT_EQ(p.programPipeline(false), QOR_RES_OK);
        // Whether the capture runs is asked to the driver, right before the update.
        EXPECT_EQ(commandNumbers(), (std::vector<int>{CI_CAPTURE_ISSTARTED, CI_CONFIG_UPDATE})) << started;
        const std::vector<int> masks = updateMasks();
        ASSERT_EQ(masks.size(), 1u);
        EXPECT_NE(masks[0] & CI_UPD_GRP_0, 0);
        EXPECT_EQ(masks[0] & matrixDefectCurve, started ? 0 : (CI_UPD_LSH_REG | CI_UPD_AWS_REG)) << started;
    }
    ASSERT_EQ(p.stopCapture(), QOR_RES_OK);
}

TEST_F(PipelineOnSim, MaximumOutputSizesReachTheDriverIn16Bits) {
    Pipeline &p = make();
    registerLoadAndSetUp(p);
    EXPECT_EQ(p.setEncoderDimensions(65536 + 1920, 65536 + 1080), QOR_RES_OK);
    EXPECT_EQ(p.setDisplayDimensions(1920, 1080), QOR_RES_OK);
    ASSERT_EQ(p.programPipeline(false), QOR_RES_OK);
    EXPECT_EQ(p.getCIPipeline()->config.ui16MaxEncOutWidth, 1920);
    EXPECT_EQ(p.getCIPipeline()->config.ui16MaxEncOutHeight, 1080);
    EXPECT_EQ(p.getMaxEncoderWidth(), 65536u + 1920u);
    EXPECT_EQ(p.getCIPipeline()->config.bSupportTiling, 0);
}

TEST_F(PipelineOnSim, ConfigurationsTheHardwareCannotDoAreRefused) {
    const struct {
        const char *name;
        void (*arrange)(Pipeline &);
        const char *message;
    } cases[] = {
        {"tiling", [](Pipeline &p) { p.setTilingEnabled(true); }, "The HW 2.7 does not support tiled output\n"},
        {"HDR extraction",
         [](Pipeline &p) { static_cast<ModuleOUT *>(p.getModule(STP_OUT))->hdrExtractionType = BGR_101010_32; },
         "The HW 2.7 does not support HDR Extraction point\n"},
        {"RAW2D extraction",
         [](Pipeline &p) { static_cast<ModuleOUT *>(p.getModule(STP_OUT))->raw2DExtractionType = BAYER_TIFF_10; },
         "The HW 2.7 does not support RAW2D Extraction point\n"},
    };
    const QOR_UINT32 all = conn->sHWInfo.eFunctionalities;
    for (const auto &c : cases) {
        conn->sHWInfo.eFunctionalities = all;
        Pipeline &p = make();
        registerLoadAndSetUp(p);
        c.arrange(p);
        conn->sHWInfo.eFunctionalities = 0;
        norva_sim::ClearTrace();
        QOR_RESULT ret = QOR_RES_OK;
        const std::string log = stderrOf([&] { ret = p.programPipeline(false); });
        EXPECT_EQ(ret, QOR_RES_NOT_SUPPORTED) << c.name;
        EXPECT_TRUE(contains(log, c.message)) << c.name << log;
        EXPECT_TRUE(contains(log, "Configuration not supported\n")) << log;
        EXPECT_TRUE(norva_sim::Trace().empty()) << c.name;
        EXPECT_EQ(p.getStatus(), ISPC_Ctx_INIT);
    }
    conn->sHWInfo.eFunctionalities = all;
}

TEST_F(PipelineOnSim, DriverFailuresLeaveTheStatusAsItWas) {
    Pipeline &p = make();
    registerLoadAndSetUp(p);
    norva_sim::InjectCommandFault(CI_PIPELINE_REGISTER, -EINVAL);
    std::string log = stderrOf([&] { EXPECT_EQ(p.programPipeline(false), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(log, "Failed to register the pipeline configuration (returned")) << log;
    EXPECT_EQ(p.getStatus(), ISPC_Ctx_INIT);
    ASSERT_EQ(p.programPipeline(false), QOR_RES_OK);
    EXPECT_EQ(p.getStatus(), ISPC_Ctx_SETUP);

    norva_sim::FailNextUpdate(CI_UPD_ALL, -EINVAL);
    p.getMCPipeline()->sFOS.updateNeeded = QOR_TRUE;
    log = stderrOf([&] { EXPECT_EQ(p.programPipeline(false), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(log, "Failed to update the pipeline configuration for module ")) << log;
    EXPECT_EQ(p.getStatus(), ISPC_Ctx_SETUP);
    // The groups that failed go again with the next update.
    norva_sim::ClearTrace();
    ASSERT_EQ(p.programPipeline(false), QOR_RES_OK);
    ASSERT_EQ(updateMasks().size(), 1u);
    EXPECT_NE(updateMasks()[0] & CI_UPD_FOS, 0);
}

TEST_F(PipelineOnSim, ErrorStateRefusesAlmostEverything) {
    std::string log = stderrOf([&] { make(conn->sHWInfo.config_ui8NContexts); });
    EXPECT_TRUE(contains(log, "Invalid context number - max supported is 1\n")) << log;
    Pipeline &p = *pipeline;
    EXPECT_EQ(p.getStatus(), ISPC_Ctx_ERROR);
    ASSERT_EQ(p.registerModule(new ModuleOUT()), QOR_RES_OK);
    const ParameterList empty;
    QOR_RESULT global = QOR_RES_OK;
    stderrOf([&] {
        EXPECT_EQ(p.reloadAll(empty), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.reloadAllGlobals(empty), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.reloadModule(STP_OUT, empty), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.setupAll(), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.setupModule(STP_OUT), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.setupRequested(), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(p.programPipeline(false), QOR_RES_UNAVAILABLE);
        const Global_Setup g = p.getGlobalSetup(&global);
        EXPECT_EQ(g.ui32Sensor_width, 1920u);
        EXPECT_EQ(g.ui32EncWidth, 0xFFFFFFFFu);
        EXPECT_EQ(g.ui32DispHeight, 0xFFFFFFFFu);
    });
    EXPECT_EQ(global, QOR_RES_UNAVAILABLE);
    ParameterList saved;
    EXPECT_EQ(p.saveAll(saved, ModuleBase::SAVE_VAL), QOR_RES_OK); // saving has no status check

    log = stderrOf([&] {
        Pipeline noConnection(nullptr, 0, sensor.get());
        EXPECT_EQ(noConnection.getStatus(), ISPC_Ctx_ERROR);
        EXPECT_EQ(noConnection.verifyConfiguration(), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(noConnection.programPipeline(false), QOR_RES_UNAVAILABLE);
        Pipeline noSensor(conn, 0, nullptr);
        EXPECT_EQ(noSensor.getStatus(), ISPC_Ctx_ERROR);
        EXPECT_EQ(noSensor.getMCPipeline(), nullptr);
    });
    EXPECT_TRUE(contains(log, "Invalid CI_CONNETION parameter.\n")) << log;
    EXPECT_TRUE(contains(log, "Invalid sensor parameter.\n")) << log;
}
