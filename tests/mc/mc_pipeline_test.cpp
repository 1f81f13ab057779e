#include <gtest/gtest.h>

#include "mc_test_support.h"

using mctest::Pipelines;

TEST(McPipelineConvert, FreshPipelineReportsEveryGroupThenOnlyTheStickyOnes) {
    Pipelines p;
    int mask = -1;
    ASSERT_EQ(MC_PipelineConvert(p.mc.get(), p.ci.get(), &mask), QOR_RES_OK);
    EXPECT_EQ(mask, 1791);
    EXPECT_EQ(p.ci->config.eOutputConfig, 1487u);
    EXPECT_EQ(p.ci->config.ui16SysBlackLevel, 16);

    ASSERT_EQ(MC_PipelineConvert(p.mc.get(), p.ci.get(), &mask), QOR_RES_OK);
    EXPECT_EQ(mask, CI_UPD_GRP_0 | CI_UPD_GRP_2);
    EXPECT_EQ(p.ci->config.eOutputConfig, 1487u);
}

TEST(McPipelineConvert, MissingHardwareOrMaskIsRefused) {
    Pipelines p;
    EXPECT_EQ(MC_PipelineConvert(p.mc.get(), p.ci.get(), nullptr), QOR_RES_INVALID_PARAM);
    p.mc->pHWInfo = nullptr;
    int mask = 77;
    EXPECT_EQ(MC_PipelineConvert(p.mc.get(), p.ci.get(), &mask), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(mask, 77);
}

TEST(McPipelineInit, SystemBlackLevelFollowsContextZeroBitDepth) {
    struct Case {
        QOR_UINT8 depth;
        QOR_UINT16 black;
    };
    for (const Case c : {Case{8, 16}, Case{9, 16}, Case{10, 16}, Case{12, 64}}) {
        Pipelines p;
        p.hw.context_aBitDepth[0] = c.depth;
        ASSERT_EQ(MC_PipelineInit(p.mc.get(), &p.hw), QOR_RES_OK);
        EXPECT_EQ(p.mc->ui16SystemBlackLevel, c.black) << int(c.depth);
    }
}

TEST(McPipelineInit, ZeroImagerSizeFailsLcaButInitialisesTheRest) {
    Pipelines p(0, 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MC_LCAInit(&p.mc->sLCA, &p.mc->sIIF), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "IIF should be configured before configuring LCA\n");
    EXPECT_EQ(MC_PipelineInit(p.mc.get(), &p.hw), QOR_RES_FAILED);
    EXPECT_EQ(p.mc->sFLD.ui8PN, 4);
    EXPECT_DOUBLE_EQ(p.mc->sWBC.aGain[3], 1.0);
}

TEST(McPipelineInit, LcaShiftPerAxisSize) {
    struct Case {
        QOR_UINT16 cells;
        int shift;
    };
    for (const Case c : {Case{100, -3}, Case{256, -1}, Case{511, -1}, Case{512, 0}, Case{2049, 0}, Case{2050, 1},
                         Case{4100, 2}, Case{8200, 3}}) {
        MC_IIF iif;
        MC_IIFInit(&iif);
        iif.ui16ImagerSize[0] = c.cells;
        iif.ui16ImagerSize[1] = 540;
        MC_LCA lca;
        ASSERT_EQ(MC_LCAInit(&lca, &iif), QOR_RES_OK);
        EXPECT_EQ(static_cast<QOR_INT8>(lca.aShift[0]), c.shift) << c.cells;
    }
}

TEST(McPipelineConvert, ScalerBottomBorderAndMaximumSizesFollowTheOutputs) {
    struct Case {
        pxlFormat enc;
        pxlFormat disp;
        QOR_BOOL8 ens;
        QOR_UINT16 border;
    };
    for (const Case c :
         {Case{PXL_NONE, PXL_NONE, 0, 0}, Case{PXL_NONE, PXL_NONE, 1, 4}, Case{PXL_NONE, RGB_888_24, 0, 2},
          Case{YUV_420_PL12_8, RGB_888_24, 0, 4}, Case{YUV_420_PL12_8, PXL_NONE, 0, 4}}) {
        Pipelines p;
        p.mc->eEncOutput = c.enc;
        p.mc->eDispOutput = c.disp;
        p.mc->sENS.bEnable = c.ens;
        int mask = 0;
        ASSERT_EQ(MC_PipelineConvert(p.mc.get(), p.ci.get(), &mask), QOR_RES_OK);
        EXPECT_EQ(p.ci->sImagerInterface.ui16ScalerBottomBorder, c.border);
        EXPECT_EQ(p.ci->config.ui16MaxEncOutWidth, c.enc != PXL_NONE ? 1920 : 0);
        EXPECT_EQ(p.ci->config.ui16MaxDispOutHeight, c.disp != PXL_NONE ? 1080 : 0);
    }
}

TEST(McPipelineConvert, RawTwoDimensionalFormatMustBePackedMsbFirst) {
    Pipelines p;
    p.mc->eRaw2DExtOutput = BAYER_RGGB_10;
    int mask = 0;
    EXPECT_EQ(MC_PipelineConvert(p.mc.get(), p.ci.get(), &mask), QOR_RES_NOT_SUPPORTED);
    p.mc->eRaw2DExtOutput = BAYER_TIFF_12;
    EXPECT_EQ(MC_PipelineConvert(p.mc.get(), p.ci.get(), &mask), QOR_RES_OK);
}

TEST(McPipelineConvert, HdrModeNeutralisesBlackOffsetsAndGainsButNotTheHdrGains) {
    Pipelines p;
    p.mc->sHDR.eHDRMode = HDR_STAGGERED;
    p.mc->sBLC.aFixedOffset[0] = -16;
    p.mc->sWBC.aGain[0] = 2.0;
    int mask = 0;
    ASSERT_EQ(MC_PipelineConvert(p.mc.get(), p.ci.get(), &mask), QOR_RES_OK);
    EXPECT_EQ(p.ci->sBlackCorrection.i8FixedOffset[0], 0);
    EXPECT_EQ(p.ci->sWhiteBalance.aGain[0], 1024);
    EXPECT_EQ(p.ci->sHDR.aWBCGains[0], 2048); // U3.10 of the block's own gain
    EXPECT_DOUBLE_EQ(p.mc->sWBC.aGain[0], 2.0);
}

TEST(McPipelineConvert, FailingStatisticsConversionKeepsSystemBlackUncopied) {
    Pipelines p;
    p.mc->sENS.ui32NLines = 12;
    int mask = 0;
    EXPECT_EQ(MC_PipelineConvert(p.mc.get(), p.ci.get(), &mask), QOR_RES_FAILED);
    EXPECT_EQ(p.ci->config.ui16SysBlackLevel, 64); // the created default, not the converted 16
    EXPECT_EQ(mask, 1791);
}
