#include <gtest/gtest.h>

#include "mc_test_support.h"

TEST(McStatsConvert, ExposureFocusHistogram) {
    MC_EXS exs{};
    exs.updateNeeded = 1;
    exs.fPixelMax = 255.9;
    MC_FOS fos{};
    fos.updateNeeded = 1;
    fos.ui16ROILeft = 100;
    fos.ui16ROITop = 50;
    fos.ui16ROIWidth = 200;
    fos.ui16ROIHeight = 80;
    MC_HIS his{};
    his.updateNeeded = 1;
    his.fInputOffset = 64.7;
    his.fInputScale = 3.9;
    CI_PIPELINE_STATS ci{};
    int mask = 0;
    ASSERT_EQ(MC_EXSConvert(&exs, &ci.sExposureStats, &mask), QOR_RES_OK);
    ASSERT_EQ(MC_FOSConvert(&fos, &ci.sFocusStats, &mask), QOR_RES_OK);
    ASSERT_EQ(MC_HISConvert(&his, &ci.sHistStats, &mask), QOR_RES_OK);
    EXPECT_EQ(mask, CI_UPD_GRP_0 | CI_UPD_GRP_1 | CI_UPD_GRP_3);
    EXPECT_EQ(ci.sExposureStats.ui16PixelMax, 255);
    EXPECT_EQ(ci.sFocusStats.ui16ROIRight, 299);
    EXPECT_EQ(ci.sFocusStats.ui16ROIBottom, 129);
    EXPECT_EQ(ci.sHistStats.ui16InputOffset, 64);
    EXPECT_EQ(ci.sHistStats.ui16InputScale, 3);
}

TEST(McWbsConvert, OffsetsRegionsAndActiveCount) {
    struct Case {
        QOR_UINT8 active;
        QOR_UINT8 ciActive;
    };
    for (const Case c : {Case{0, 0}, Case{1, 0}, Case{2, 1}}) {
        MC_WBS wbs{};
        wbs.updateNeeded = 1;
        wbs.ui8ActiveROI = c.active;
        wbs.fRGBOffset = -1.25;
        wbs.fYOffset = 0.5;
        wbs.aRoiLeft[1] = 40000;
        wbs.aRoiWidth[1] = 1000; // ends at 40999: clipped to 15 bits
        CI_MODULE_WBS ci{};
        int mask = 0;
        ASSERT_EQ(MC_WBSConvert(&wbs, &ci, &mask), QOR_RES_OK);
        EXPECT_EQ(mask, CI_UPD_GRP_2);
        EXPECT_EQ(ci.ui8ActiveROI, c.ciActive);
        EXPECT_EQ(ci.ui16RGBOffset, -20);
        EXPECT_EQ(ci.ui16YOffset, 8);
        EXPECT_EQ(ci.aRoiRight[1], 32767);
        EXPECT_EQ(ci.aRoiRight[0], 0); // empty region
    }
}

TEST(McAwsConvert, GridInCellsAndThresholds) {
    MC_AWS aws{};
    aws.updateNeeded = 1;
    aws.ui16GridStartColumn = 10;
    aws.ui16GridStartRow = 21;
    aws.ui16GridTileWidth = 100;
    aws.ui16GridTileHeight = 61;
    aws.fLog2_R_Qeff = -1.5;
    aws.fRedDarkThresh = 1.5;
    aws.fRedClipThresh = 200.0;
    aws.aCurveBoundary[0] = 0.25;
    CI_MODULE_AWS ci{};
    int mask = 0;
    ASSERT_EQ(MC_AWSConvert(&aws, &ci, &mask), QOR_RES_OK);
    EXPECT_EQ(mask, CI_UPD_GRP_0 | CI_UPD_AWS_REG);
    EXPECT_EQ(ci.ui16GridStartColumn, 5);
    EXPECT_EQ(ci.ui16GridStartRow, 10);
    EXPECT_EQ(ci.ui16GridTileWidth, 49);
    EXPECT_EQ(ci.ui16GridTileHeight, 29);
    EXPECT_EQ(ci.ui16Log2_R_Qeff, 65488);
    EXPECT_EQ(ci.ui16RedDarkThresh, 384);
    EXPECT_EQ(ci.ui16RedClipThresh, 51200);
    EXPECT_EQ(ci.sCurveCoeffs.aCurveBoundary[0], 256);
}

TEST(McFldConvert, StepsFromTheLineRate) {
    struct Case {
        QOR_UINT16 lines;
        QOR_UINT16 step50, step60;
    };
    for (const Case c : {Case{1125, 6214, 7457}, Case{40, 16384, 16384}, Case{0, 16384, 16384}}) {
        MC_FLD fld{};
        fld.updateNeeded = 1;
        fld.ui16VTot = c.lines;
        fld.fFrameRate = 30.0;
        CI_MODULE_FLD ci{};
        int mask = 0;
        ASSERT_EQ(MC_FLDConvert(&fld, &ci, &mask), QOR_RES_OK);
        EXPECT_EQ(mask, CI_UPD_GRP_3);
        EXPECT_EQ(ci.ui16FracStep50, c.step50) << c.lines;
        EXPECT_EQ(ci.ui16FracStep60, c.step60) << c.lines;
        EXPECT_EQ(ci.ui16VertTotal, c.lines);
    }
}

TEST(McEnsConvert, PowersOfTwoOnly) {
    struct Case {
        QOR_UINT32 lines, subsampling;
        QOR_RESULT result;
        QOR_UINT8 log2Couples, subExp;
    };
    const Case cases[] = {
        {5, 0, QOR_RES_OK, 0, 0},      {2000, 1, QOR_RES_OK, 7, 0},   {8, 4, QOR_RES_OK, 0, 2},
        {12, 0, QOR_RES_FAILED, 9, 9}, {16, 3, QOR_RES_FAILED, 9, 9}, {64, 0, QOR_RES_OK, 3, 0},
    };
    for (const Case &c : cases) {
        MC_ENS ens{};
        ens.updateNeeded = 1;
        ens.ui32NLines = c.lines;
        ens.ui32KernelSubsampling = c.subsampling;
        CI_MODULE_ENS ci{9, 9};
        EXPECT_EQ(MC_ENSConvert(&ens, &ci), c.result) << c.lines;
        // a refused count leaves the record as it was
        EXPECT_EQ(ci.ui8Log2NCouples, c.log2Couples) << c.lines;
        EXPECT_EQ(ci.ui8SubExp, c.subExp) << c.lines;
    }
}
