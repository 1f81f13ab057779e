#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "ci/ci_connection_internal.h"
#include "ci/ci_ioctrl.h"
#include "ci/ci_load_hw2.h"
#include "ci/ci_pipeline.h"
#include "mc/mc_pipeline.h"
#include "platform/sim_lsdecoder.h"
#include "platform/sim_pipeline.h"
#include "support/sim_fixture.h"
#include "support/output_capture.h"

using norva_test::contains;
using norva_test::stderrOf;
using norva_test::stdoutOf;

using norva_test::SimTest;
using norva_test::stderrOf;

namespace {

/** A connection and one pipeline carrying the default converted configuration of a 1920x1080 imager. */
class Pipeline : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(CI_DriverInit(&conn), QOR_RES_OK);
        ASSERT_EQ(CI_PipelineCreate(&pipe, conn), QOR_RES_OK);
        mc.reset(new MC_PIPELINE());
        memset(mc.get(), 0, sizeof(MC_PIPELINE));
        MC_IIFInit(&mc->sIIF);
        mc->sIIF.ui16ImagerSize[0] = 960;
        mc->sIIF.ui16ImagerSize[1] = 540;
        ASSERT_EQ(MC_PipelineInit(mc.get(), &conn->sHWInfo), QOR_RES_OK);
        mc->eEncOutput = YUV_420_PL12_8;
        mc->sESC.aOutputSize[1] = 1080;
        int mask = 0;
        ASSERT_EQ(MC_PipelineConvert(mc.get(), pipe, &mask), QOR_RES_OK);
        pipe->config.ui8Context = 0;
        pipe->sImagerInterface.ui8Imager = 0;
    }
    void TearDown() override {
        if (pipe != nullptr) {
            EXPECT_EQ(CI_PipelineDestroy(pipe), QOR_RES_OK);
        }
        EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
        SimTest::TearDown();
    }
    INT_PIPELINE *internal() { return reinterpret_cast<INT_PIPELINE *>(pipe); }
    std::vector<norva_sim::TraceEntry> commands(unsigned nr) {
        std::vector<norva_sim::TraceEntry> out;
        for (const auto &e : norva_sim::Trace()) {
            if (e.nr == static_cast<int>(nr))
                out.push_back(e);
        }
        return out;
    }
    static int maskOf(const norva_sim::TraceEntry &e, bool after = false) {
        const std::vector<uint8_t> &rec = after ? e.argOut : e.argIn;
        int mask;
        memcpy(&mask, &rec[offsetof(CI_PIPE_PARAM, eUpdateMask)], sizeof(mask));
        return mask;
    }

    CI_CONNECTION *conn = nullptr;
    CI_PIPELINE *pipe = nullptr;
    std::unique_ptr<MC_PIPELINE> mc;
};

TEST_F(Pipeline, CreateSetsDefaultsAndRefusesBadArguments) {
    CI_PIPELINE *fresh = nullptr;
    ASSERT_EQ(CI_PipelineCreate(&fresh, conn), QOR_RES_OK);
    EXPECT_EQ(fresh->config.ui8Context, 2);
    EXPECT_EQ(fresh->config.eDataExtraction, CI_INOUT_NONE);
    EXPECT_EQ(fresh->config.ui16SysBlackLevel, 64);
    EXPECT_EQ(fresh->sImagerInterface.ui8Imager, conn->sHWInfo.config_ui8NImagers);
    EXPECT_EQ(fresh->sBlackCorrection.ui16PixelMax, (1 << conn->sHWInfo.config_ui8BitDepth) - 1);
    EXPECT_EQ(fresh->sDisplayScaler.bIsDisplay, 1);
    EXPECT_EQ(fresh->sDisplayScaler.bBypassScaler, 1);
    EXPECT_EQ(fresh->sEncoderScaler.bBypassScaler, 1);
    EXPECT_EQ(fresh->sYCCToRGB.eType, YCC_TO_RGB);
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineVerify(fresh), QOR_RES_NOT_SUPPORTED); });
    EXPECT_TRUE(contains(err, "chosen context 2 is not supported (max 2)\n")) << err;
    EXPECT_EQ(CI_PipelineCreate(&fresh, conn), QOR_RES_IN_USE);
    EXPECT_EQ(CI_PipelineCreate(nullptr, conn), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(CI_PipelineDestroy(fresh), QOR_RES_OK);
}

struct VerifyCase {
    int number;
    void (*arrange)(CI_PIPELINE *, CI_HWINFO *);
    QOR_RESULT result;
    const char *message;
};

INT_LSHMAT gBadMatrix;

const VerifyCase kVerifyCases[] = {
    {2, [](CI_PIPELINE *p, CI_HWINFO *) { p->config.ui8Context = 2; }, QOR_RES_NOT_SUPPORTED,
     "chosen context 2 is not supported (max 2)\n"},
    {3,
     [](CI_PIPELINE *p, CI_HWINFO *hw) {
         hw->eFunctionalities = 0;
         PixelTransformRGB(&p->config.eHDRExtType, BGR_101010_32);
     },
     QOR_RES_NOT_SUPPORTED, "The HDR Extraction point is not supported by HW version 2.7\n"},
    {4,
     [](CI_PIPELINE *p, CI_HWINFO *hw) {
         hw->eFunctionalities = 0;
         PixelTransformBayer(&p->config.eRaw2DExtraction, BAYER_TIFF_10, MOSAIC_RGGB);
     },
     QOR_RES_NOT_SUPPORTED, "The Raw 2D Extraction point is not supported by HW version 2.7\n"},
    {5,
     [](CI_PIPELINE *p, CI_HWINFO *hw) {
         hw->eFunctionalities = 0;
         p->config.bSupportTiling = 1;
     },
     QOR_RES_NOT_SUPPORTED, "Tiling support is not possible with HW version 2.7\n"},
    {6, [](CI_PIPELINE *p, CI_HWINFO *) { PixelTransformRGB(&p->config.eDispType, BGR_161616_64); },
     QOR_RES_NOT_SUPPORTED, "The RGB format BI_BGR64 cannot be used for display output\n"},
    {7, [](CI_PIPELINE *p, CI_HWINFO *) { PixelTransformBayer(&p->config.eDispType, BAYER_TIFF_10, MOSAIC_RGGB); },
     QOR_RES_NOT_SUPPORTED,
     "The Bayer TIFF format TIFF10 can only be used for Raw 2D Extraction - please use other format e.g. RGGB10\n"},
    {8, [](CI_PIPELINE *p, CI_HWINFO *) { PixelTransformRGB(&p->config.eHDRExtType, RGB_888_24); },
     QOR_RES_NOT_SUPPORTED,
     "The HDR Extraction format can only be BI_BGR32-10bit for this version of the HW (found BI_RGB24)\n"},
    {9, [](CI_PIPELINE *p, CI_HWINFO *) { PixelTransformRGB(&p->config.eHDRInsType, RGB_888_24); },
     QOR_RES_NOT_SUPPORTED,
     "The HDR Insertion format can only be BI_BGR64 for this version of the HW (found BI_RGB24)\n"},
    {10,
     [](CI_PIPELINE *p, CI_HWINFO *) { PixelTransformBayer(&p->config.eRaw2DExtraction, BAYER_RGGB_10, MOSAIC_RGGB); },
     QOR_RES_NOT_SUPPORTED, "The Raw2D output format RGGB10 is not supported - it needsto be a TIFF format\n"},
    {11, [](CI_PIPELINE *p, CI_HWINFO *) { p->sImagerInterface.ui16BuffThreshold = 2048; }, QOR_RES_FAILED,
     "The Imager Interface values are not correct!\n"},
    {12,
     [](CI_PIPELINE *p, CI_HWINFO *) {
         memset(&gBadMatrix, 0, sizeof(gBadMatrix));
         gBadMatrix.config.ui8BitsPerDiff = 3;
         reinterpret_cast<INT_PIPELINE *>(p)->pMatrix = &gBadMatrix;
     },
     QOR_RES_NOT_SUPPORTED, "The lens shading values are not correct!\n"},
    {13, [](CI_PIPELINE *p, CI_HWINFO *) { p->sWhiteBalance.eRGBThresholdMode = static_cast<WBC_MODES>(5); },
     QOR_RES_NOT_SUPPORTED, "The WBC configuration is not correct!\n"},
    {14, [](CI_PIPELINE *p, CI_HWINFO *) { p->sDefectivePixels.eDPFEnable = CI_DPF_WRITE_MAP_ENABLED; }, QOR_RES_FAILED,
     "The defective pixel setup is not correct!\n"},
    {15, [](CI_PIPELINE *p, CI_HWINFO *) { p->sToneMapping.localColWidth[0] = 39; }, QOR_RES_FAILED,
     "The Tone Mapping configuration is not correct\n"},
    {16, [](CI_PIPELINE *p, CI_HWINFO *) { p->sEncoderScaler.bOutput422 = 1; }, QOR_RES_FAILED,
     "The encoder scaler is configured to output 422 while pipeline output is configured for 420\n"},
    {17, [](CI_PIPELINE *p, CI_HWINFO *) { p->sEncoderScaler.aOutputSize[1] = 1078; }, QOR_RES_NOT_SUPPORTED,
     "The encoder scaler values are not correct!\n"},
    {18,
     [](CI_PIPELINE *p, CI_HWINFO *) {
         p->sDisplayScaler.bBypassScaler = 0;
         p->sDisplayScaler.HLuma[0] = 100;
     },
     QOR_RES_FAILED, "The display scaler values are not correct!\n"},
    {19, [](CI_PIPELINE *p, CI_HWINFO *) { p->stats.sExposureStats.ui16Width = 6; }, QOR_RES_FAILED,
     "Exposure statistics configuration is not correct!\n"},
    {20, [](CI_PIPELINE *p, CI_HWINFO *) { p->stats.sWhiteBalanceStats.ui8ActiveROI = 2; }, QOR_RES_FAILED,
     "White Balance statistics configuration is not correct!\n"},
    {21,
     [](CI_PIPELINE *p, CI_HWINFO *) {
         p->stats.sAutoWhiteBalanceStats.bEnable = 1;
         p->stats.sAutoWhiteBalanceStats.ui16GridTileWidth = 6;
     },
     QOR_RES_FAILED, "Auto White Balance statistics configuration is not correct!\n"},
    {22, [](CI_PIPELINE *p, CI_HWINFO *) { p->stats.sHistStats.ui16Width = 9; }, QOR_RES_FAILED,
     "Histogram statistics configuration is not correct!\n"},
    {23, [](CI_PIPELINE *p, CI_HWINFO *) { p->stats.sFlickerStats.ui8MinPN = 6; }, QOR_RES_FAILED,
     "The flicker detection values are not correct!\n"},
    // 24: the encoder-statistics check accepts everything, even with its output on
    {24,
     [](CI_PIPELINE *p, CI_HWINFO *) {
         p->config.eOutputConfig |= CI_SAVE_ENS;
         p->stats.sEncStats.ui8Log2NCouples = 255;
     },
     QOR_RES_OK, ""},
    {25, [](CI_PIPELINE *p, CI_HWINFO *) { p->config.ui16MaxEncOutWidth = 1918; }, QOR_RES_FAILED,
     "Encoder output size is too big for allocated buffers\n"},
    {26,
     [](CI_PIPELINE *p, CI_HWINFO *) {
         PixelTransformRGB(&p->config.eDispType, RGB_888_24);
         p->config.ui16MaxDispOutWidth = 1920;
         p->config.ui16MaxDispOutHeight = 1079;
         p->sDisplayScaler.aOutputSize[0] = 959;
         p->sDisplayScaler.aOutputSize[1] = 1079;
     },
     QOR_RES_FAILED, "Display output size is too big for allocated buffers\n"},
    {27,
     [](CI_PIPELINE *p, CI_HWINFO *) {
         PixelTransformBayer(&p->config.eDispType, BAYER_RGGB_12, MOSAIC_RGGB);
         p->config.eDataExtraction = CI_INOUT_BLACK_LEVEL;
     },
     QOR_RES_FAILED, "Data Extraction is enabled but display output size is 0\n"},
    {28,
     [](CI_PIPELINE *p, CI_HWINFO *hw) {
         hw->config_ui8NContexts = 1;
         p->config.ui8Context = 1;
     },
     QOR_RES_NOT_SUPPORTED, "maximum number of context is 1 (using 1)\n"},
};

TEST_F(Pipeline, EachVerificationCheckGivesItsMessageAndCode) {
    ASSERT_EQ(CI_PipelineVerify(pipe), QOR_RES_OK);
    const CI_PIPELINE base = *pipe;
    const CI_HWINFO hwBase = conn->sHWInfo;
    for (const VerifyCase &c : kVerifyCases) {
        *pipe = base;
        conn->sHWInfo = hwBase;
        internal()->pMatrix = nullptr;
        c.arrange(pipe, &conn->sHWInfo);
        const std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineVerify(pipe), c.result) << "check " << c.number; });
        EXPECT_TRUE(contains(err, c.message)) << "check " << c.number << ": " << err;
    }
    *pipe = base;
    conn->sHWInfo = hwBase;
    internal()->pMatrix = nullptr;
    EXPECT_EQ(CI_PipelineVerify(nullptr), QOR_RES_INVALID_PARAM);
}

TEST_F(Pipeline, VerifyOfANullPipelineNamesIt) {
    // Check 1 of the verification table: its message as well as its code.
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineVerify(nullptr), QOR_RES_INVALID_PARAM); });
    EXPECT_TRUE(contains(err, "ERROR [CI_API]: CI_PipelineVerify():")) << err;
    EXPECT_TRUE(contains(err, "pPipeline is NULL\n")) << err;
}

TEST_F(Pipeline, SixteenBitDisplayFormatPassesOnlyWithDataExtraction) {
    PixelTransformRGB(&pipe->config.eDispType, BGR_161616_64);
    pipe->config.eDataExtraction = CI_INOUT_FILTER_LINESTORE;
    pipe->config.ui16MaxDispOutWidth = 1920;
    pipe->config.ui16MaxDispOutHeight = 1080;
    EXPECT_EQ(CI_PipelineVerify(pipe), QOR_RES_OK);
    pipe->config.eDataExtraction = CI_INOUT_NONE;
    EXPECT_EQ(CI_PipelineVerify(pipe), QOR_RES_NOT_SUPPORTED);
}

TEST_F(Pipeline, RegistrationIsOneRegisterThenOneFullUpdate) {
    norva_sim::ClearTrace();
    ASSERT_EQ(CI_PipelineRegister(pipe), QOR_RES_OK);
    const auto trace = norva_sim::Trace();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].nr, CI_PIPELINE_REGISTER);
    EXPECT_EQ(trace[1].nr, CI_CONFIG_UPDATE);
    EXPECT_EQ(maskOf(trace[1]), CI_UPD_ALL);
    EXPECT_EQ(CI_PipelineRegister(pipe), QOR_RES_ALREADY);

    // The device applied the library's load structure and reads back the same registers.
    norva_sim::SimPipelineView view;
    ASSERT_TRUE(norva_sim::GetSimPipeline(internal()->ui32Identifier, &view));
    EXPECT_EQ(memcmp(view.registers.data(), internal()->pLoadStructure, CI_LOAD_STRUCT_SIZE), 0);
    EXPECT_EQ(view.decoded.sWhiteBalance.aGain[0], pipe->sWhiteBalance.aGain[0]);
    EXPECT_EQ(memcmp(view.decoded.sToneMapping.aCurve, pipe->sToneMapping.aCurve, sizeof(pipe->sToneMapping.aCurve)),
              0);
    EXPECT_EQ(view.decoded.stats.sFlickerStats.ui32SceneChange, 300000u);
    EXPECT_EQ(view.info.iifConfig.ui16ImagerSize[0], 959);
}

TEST_F(Pipeline, HundredFramesWithDefaultsPrintNothing) {
    ASSERT_EQ(CI_PipelineRegister(pipe), QOR_RES_OK);
    const std::string out = norva_test::stdoutOf([&] {
        for (int frame = 0; frame < 100; frame++) {
            int mask = 0;
            ASSERT_EQ(MC_PipelineConvert(mc.get(), pipe, &mask), QOR_RES_OK);
            ASSERT_EQ(mask, CI_UPD_GRP_0 | CI_UPD_GRP_2);
            ASSERT_EQ(CI_PipelineUpdate(pipe, mask, nullptr), QOR_RES_OK);
        }
    });
    EXPECT_EQ(out, "");
    norva_sim::SimPipelineView view;
    ASSERT_TRUE(norva_sim::GetSimPipeline(internal()->ui32Identifier, &view));
    EXPECT_EQ(view.updates, 101u);
    EXPECT_EQ(view.lastAppliedMask, CI_UPD_GRP_0 | CI_UPD_GRP_2);
}

TEST_F(Pipeline, FailedFirstUpdateFailsTheRegistration) {
    norva_sim::InjectCommandFault(CI_CONFIG_UPDATE, -EINVAL);
    std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineRegister(pipe), QOR_RES_INVALID_PARAM); });
    EXPECT_TRUE(contains(err, "Failed to do the 1st update!\n")) << err;
    EXPECT_EQ(internal()->ui32Identifier, 0);
    EXPECT_EQ(norva_sim::SimPipelineCount(), 0u);
    // and it can be registered again once the driver accepts updates
    EXPECT_EQ(CI_PipelineRegister(pipe), QOR_RES_OK);
}

TEST_F(Pipeline, RegisterRefusals) {
    EXPECT_EQ(CI_PipelineRegister(nullptr), QOR_RES_INVALID_PARAM);
    norva_sim::InjectCommandAnswer(CI_PIPELINE_REGISTER, 0);
    std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineRegister(pipe), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(err, "Failed to register the configuration (returned 0 - 0 is invalid ID)\n")) << err;
    pipe->config.ui8Context = 2;
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineRegister(pipe), QOR_RES_NOT_SUPPORTED); });
    EXPECT_TRUE(contains(err, "Configuration is not correct!\n")) << err;
}

TEST_F(Pipeline, UpdateOfAnUnregisteredPipelineLeavesTheLoadStructure) {
    pipe->sWhiteBalance.aGain[0] = 4321;
    EXPECT_EQ(CI_PipelineUpdate(pipe, CI_UPD_ALL, nullptr), QOR_RES_NOT_INITIALISED);
    EXPECT_EQ(std::vector<char>(internal()->pLoadStructure, internal()->pLoadStructure + CI_LOAD_STRUCT_SIZE),
              std::vector<char>(CI_LOAD_STRUCT_SIZE, 0));
}

TEST_F(Pipeline, FailedGroupsComeBackAndAreSentAgain) {
    ASSERT_EQ(CI_PipelineRegister(pipe), QOR_RES_OK);
    norva_sim::SimPipelineView before;
    ASSERT_TRUE(norva_sim::GetSimPipeline(internal()->ui32Identifier, &before));

    pipe->sWhiteBalance.aGain[1] = 2000;      // group 1
    pipe->sToneMapping.outputLumaOffset = 99; // group 8
    norva_sim::FailNextUpdate(CI_UPD_GRP_3, -EINTR);
    norva_sim::ClearTrace();
    int failed = -1;
    EXPECT_EQ(CI_PipelineUpdate(pipe, CI_UPD_GRP_0 | CI_UPD_GRP_3, &failed), QOR_RES_INTERRUPTED);
    EXPECT_EQ(failed, CI_UPD_GRP_3);
    norva_sim::SimPipelineView view;
    ASSERT_TRUE(norva_sim::GetSimPipeline(internal()->ui32Identifier, &view));
    EXPECT_EQ(view.decoded.sWhiteBalance.aGain[1], 2000);                                                // applied
    EXPECT_EQ(view.decoded.sToneMapping.outputLumaOffset, before.decoded.sToneMapping.outputLumaOffset); // not applied

    // the next update, whatever it asks, carries the group that failed
    EXPECT_EQ(CI_PipelineUpdate(pipe, CI_UPD_GRP_0, &failed), QOR_RES_OK);
    EXPECT_EQ(failed, 0);
    const auto updates = commands(CI_CONFIG_UPDATE);
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_EQ(maskOf(updates[1]), CI_UPD_GRP_0 | CI_UPD_GRP_3);
    ASSERT_TRUE(norva_sim::GetSimPipeline(internal()->ui32Identifier, &view));
    EXPECT_EQ(view.decoded.sToneMapping.outputLumaOffset, 99);
    // and once delivered it is not sent again
    EXPECT_EQ(CI_PipelineUpdate(pipe, CI_UPD_GRP_0, nullptr), QOR_RES_OK);
    EXPECT_EQ(maskOf(commands(CI_CONFIG_UPDATE).back()), CI_UPD_GRP_0);
}

TEST_F(Pipeline, DestroyDeregistersAndFreesTheDefectCopy) {
    QOR_UINT16 defects[] = {3, 4};
    mc->sDPF.apDefectInput = defects;
    mc->sDPF.ui32NDefect = 1;
    mc->sDPF.updateNeeded = 1;
    int mask = 0;
    ASSERT_EQ(MC_PipelineConvert(mc.get(), pipe, &mask), QOR_RES_OK);
    ASSERT_NE(pipe->sDefectivePixels.sInput.apDefectInput, nullptr);
    ASSERT_EQ(CI_PipelineRegister(pipe), QOR_RES_OK);
    EXPECT_EQ(norva_sim::SimPipelineCount(), 1u);
    EXPECT_EQ(CI_PipelineDestroy(pipe), QOR_RES_OK);
    pipe = nullptr;
    EXPECT_EQ(norva_sim::SimPipelineCount(), 0u);
}

struct LinestoreCase {
    const char *what;
    bool ctx1Active;
    QOR_INT32 ctx1Start;
    QOR_UINT32 ctx1Size;
    QOR_UINT32 lineStore;
    QOR_UINT16 widthCells; /* register value: width = (value + 1) * 2 */
    QOR_RESULT result;
    QOR_INT32 start;
    const char *message;
};

TEST_F(Pipeline, LinestorePlacement) {
    const LinestoreCase cases[] = {
        {"after a running context", true, 0, 1000, 3000, 749, QOR_RES_OK, 1000, ""},
        {"before a running context", true, 2000, 1000, 3000, 749, QOR_RES_OK, 0, ""},
        {"alone: single-context width", false, -1, 0, 4096, 1023, QOR_RES_OK, 0, ""},
        {"alone: wider than single-context width", false, -1, 0, 4096, 1024, QOR_RES_NOT_SUPPORTED, -1,
         "cannot fit ctx 0 into linestore (need 2050, biggest gap found is 2048)\n"},
        {"no gap big enough", true, 1000, 1000, 3000, 749, QOR_RES_NOT_SUPPORTED, -1,
         "cannot fit ctx 0 into linestore (need 1500, biggest gap found is 1000)\n"},
        {"running context too wide", true, 0, 2049, 4096, 100, QOR_RES_NOT_SUPPORTED, -1,
         "Context 1 is running using more than its multi-context size - cannot reserve linestore for context ctx 0\n"},
    };
    for (const LinestoreCase &c : cases) {
        CI_LINESTORE &dev = norva_sim::IspDevice().description.sLinestoreStatus;
        memset(&dev, 0, sizeof(dev));
        dev.aStart[0] = -1;
        dev.aStart[1] = c.ctx1Active ? c.ctx1Start : -1;
        dev.aSize[1] = c.ctx1Size;
        dev.aActive[1] = c.ctx1Active;
        norva_sim::IspDevice().description.sHWInfo.ui32MaxLineStore = c.lineStore;
        conn->sHWInfo.ui32MaxLineStore = c.lineStore;
        pipe->sImagerInterface.ui16ImagerSize[0] = c.widthCells;
        const std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineComputeLinestore(pipe), c.result) << c.what; });
        EXPECT_TRUE(contains(err, c.message)) << c.what << ": " << err;
        if (c.result == QOR_RES_OK) {
            EXPECT_EQ(conn->sLinestoreStatus.aStart[0], c.start) << c.what;
            EXPECT_EQ(norva_sim::IspDevice().description.sLinestoreStatus.aStart[0], c.start) << c.what;
        }
    }
    CI_LINESTORE &dev = norva_sim::IspDevice().description.sLinestoreStatus;
    dev.aActive[0] = 1;
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineComputeLinestore(pipe), QOR_RES_NOT_SUPPORTED); });
    EXPECT_TRUE(contains(err, "context is already active")) << err;
    memset(&dev, 0, sizeof(dev));
}

TEST_F(Pipeline, LensShadingMatrixStatesAgreeWithTheDevice) {
    using norva_sim::SimMatrixState;
    QOR_UINT32 id = 0;
    EXPECT_EQ(CI_PipelineAllocateLSHMatrix(pipe, 4096, &id), QOR_RES_NOT_INITIALISED);
    ASSERT_EQ(CI_PipelineRegister(pipe), QOR_RES_OK);
    EXPECT_EQ(CI_PipelineAllocateLSHMatrix(pipe, 0, &id), QOR_RES_INVALID_PARAM);
    QOR_UINT32 first = 0, second = 0;
    ASSERT_EQ(CI_PipelineAllocateLSHMatrix(pipe, 4096, &first), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineAllocateLSHMatrix(pipe, 4096, &second), QOR_RES_OK);
    EXPECT_NE(first, second);

    auto device = [&](QOR_UINT32 m) {
        norva_sim::SimPipelineView v;
        EXPECT_TRUE(norva_sim::GetSimPipeline(internal()->ui32Identifier, &v));
        return v.matrices.at(m);
    };
    auto library = [&](QOR_UINT32 m) {
        for (Cell_T *c = List_getHead(&internal()->sList_lshmat); c != nullptr; c = List_getNext(c)) {
            INT_LSHMAT *mat = static_cast<INT_LSHMAT *>(c->object);
            if (mat->ID == static_cast<QOR_INT32>(m))
                return mat->eStatus;
        }
        ADD_FAILURE() << "no matrix " << m;
        return INT_BUFFER_AVAILABLE;
    };
    auto agree = [&](QOR_UINT32 m, INT_BUFFER_STATUS lib, SimMatrixState dev) {
        EXPECT_EQ(library(m), lib) << m;
        EXPECT_EQ(device(m).state, dev) << m;
    };
    agree(first, INT_BUFFER_AVAILABLE, SimMatrixState::Available);

    CI_LSHMAT lent;
    ASSERT_EQ(CI_PipelineAcquireLSHMatrix(pipe, first, &lent), QOR_RES_OK);
    agree(first, INT_BUFFER_ACQUIRED, SimMatrixState::Acquired);
    ASSERT_NE(lent.data, nullptr);
    memset(lent.data, 0x11, lent.ui32Size);
    EXPECT_EQ(CI_PipelineAcquireLSHMatrix(pipe, first, &lent), QOR_RES_IN_PROGRESS);
    EXPECT_EQ(CI_PipelineUpdateLSHMatrix(pipe, first), QOR_RES_IN_PROGRESS);

    lent.config.ui8BitsPerDiff = 8;
    lent.config.ui8TileSizeLog2 = 6;
    lent.config.ui16Width = 16;
    lent.config.ui16Height = 10;
    ASSERT_EQ(CI_PipelineReleaseLSHMatrix(pipe, &lent), QOR_RES_OK);
    agree(first, INT_BUFFER_AVAILABLE, SimMatrixState::Available);
    EXPECT_EQ(device(first).config.ui16Width, 16);
    EXPECT_EQ(CI_PipelineReleaseLSHMatrix(pipe, &lent), QOR_RES_IN_PROGRESS);

    ASSERT_EQ(CI_PipelineUpdateLSHMatrix(pipe, first), QOR_RES_OK);
    agree(first, INT_BUFFER_PENDING, SimMatrixState::InUse);
    EXPECT_EQ(CI_PipelineAcquireLSHMatrix(pipe, first, &lent), QOR_RES_IN_PROGRESS);
    EXPECT_EQ(CI_PipelineDeregisterLSHMatrix(pipe, first), QOR_RES_IN_USE);

    // a matrix that does not cover the image is refused before the device is asked
    ASSERT_EQ(CI_PipelineAcquireLSHMatrix(pipe, second, &lent), QOR_RES_OK);
    lent.config.ui8BitsPerDiff = 8;
    lent.config.ui8TileSizeLog2 = 4;
    lent.config.ui16Width = 4;
    lent.config.ui16Height = 4;
    ASSERT_EQ(CI_PipelineReleaseLSHMatrix(pipe, &lent), QOR_RES_OK);
    EXPECT_EQ(CI_PipelineUpdateLSHMatrix(pipe, second), QOR_RES_NOT_SUPPORTED);
    agree(first, INT_BUFFER_PENDING, SimMatrixState::InUse);

    ASSERT_EQ(CI_PipelineUpdateLSHMatrix(pipe, 0), QOR_RES_OK);
    agree(first, INT_BUFFER_AVAILABLE, SimMatrixState::Available);
    EXPECT_EQ(internal()->pMatrix, nullptr);

    EXPECT_EQ(CI_PipelineDeregisterLSHMatrix(pipe, first), QOR_RES_OK);
    EXPECT_EQ(CI_PipelineDeregisterLSHMatrix(pipe, first), QOR_RES_IN_PROGRESS);
    norva_sim::SimPipelineView v;
    ASSERT_TRUE(norva_sim::GetSimPipeline(internal()->ui32Identifier, &v));
    EXPECT_EQ(v.matrices.count(first), 0u);
    EXPECT_EQ(v.matrices.count(second), 1u);
    // the second matrix goes with the pipeline
}

TEST_F(Pipeline, DeviceRefusalOfAMatrixAcquireIsReported) {
    ASSERT_EQ(CI_PipelineRegister(pipe), QOR_RES_OK);
    QOR_UINT32 id = 0;
    ASSERT_EQ(CI_PipelineAllocateLSHMatrix(pipe, 1024, &id), QOR_RES_OK);
    CI_LSHMAT lent;
    norva_sim::InjectCommandFault(CI_PIPELINE_GET_LSH, -EALREADY);
    std::string err = stderrOf([&] { EXPECT_EQ(CI_PipelineAcquireLSHMatrix(pipe, id, &lent), QOR_RES_IN_PROGRESS); });
    EXPECT_TRUE(contains(err, "is not available in kernel\n")) << err;
    norva_sim::InjectCommandFault(CI_DEREGISTER_BUFF, -EINVAL);
    err = stderrOf([&] { EXPECT_EQ(CI_PipelineDeregisterLSHMatrix(pipe, id), QOR_RES_INVALID_PARAM); });
    EXPECT_TRUE(contains(err, "Failed to deregister LSH matrix")) << err;
    EXPECT_EQ(List_nElem(&internal()->sList_lshmat), 1u); // kept after the failure
}

} // namespace

// The HDR record travels with the pipeline information; the device loads it at registration (then with
// the first, full update) and again only with an update that carries group 1024; the trace keeps the
// record sent.
TEST_F(Pipeline, HdrRecordIsLoadedWithItsUpdateGroup) {
    ASSERT_EQ(CI_PipelineRegister(pipe), QOR_RES_OK);
    mc->sHDR.fExposureRatio = 16.0;
    mc->sHDR.fGain = 16.0;
    for (int i = 0; i < 4096; i++)
        mc->sHDR.aWeightCurve[i] = 1.0 - i / 4096.0;
    mc->sHDR.aTNMCurve[3327] = 0.5;
    mc->sHDR.updateNeeded = 1;
    int mask = 0;
    ASSERT_EQ(MC_PipelineConvert(mc.get(), pipe, &mask), QOR_RES_OK);
    ASSERT_EQ(mask & CI_UPD_HDR, CI_UPD_HDR);
    norva_sim::ClearTrace();
    ASSERT_EQ(CI_PipelineUpdate(pipe, mask, nullptr), QOR_RES_OK);
    norva_sim::SimPipelineView view;
    ASSERT_TRUE(norva_sim::GetSimPipeline(internal()->ui32Identifier, &view));
    EXPECT_EQ(view.hdrLoads, 3u);
    EXPECT_EQ(view.hdr.ui16ExposureRatio, 16 * 256);
    EXPECT_EQ(view.hdr.ui16Gain, 16 * 256);
    EXPECT_EQ(view.hdr.aWeightCurve[0], 256);
    EXPECT_EQ(view.hdr.aWeightCurve[2048], 128);
    EXPECT_EQ(view.hdr.aTNMCurve[3327], 2048);
    const auto updates = commands(CI_CONFIG_UPDATE);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(maskOf(updates[0]) & CI_UPD_HDR, CI_UPD_HDR);
    CI_MODULE_HDR sent;
    memcpy(&sent, &updates[0].argIn[offsetof(CI_PIPE_PARAM, info) + offsetof(CI_PIPE_INFO, hdrConfig)], sizeof(sent));
    EXPECT_EQ(sent.ui16ExposureRatio, 16 * 256);

    // A record changed without its group stays where it is in the device.
    pipe->sHDR.ui16ExposureRatio = 4 * 256;
    ASSERT_EQ(CI_PipelineUpdate(pipe, CI_UPD_GRP_2, nullptr), QOR_RES_OK);
    ASSERT_TRUE(norva_sim::GetSimPipeline(internal()->ui32Identifier, &view));
    EXPECT_EQ(view.hdrLoads, 3u);
    EXPECT_EQ(view.hdr.ui16ExposureRatio, 16 * 256);
}
