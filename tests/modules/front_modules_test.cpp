// The black-level, focus-statistics and imager-interface modules: loading, saving and what their
// set-up writes into the pipeline's configuration.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ispc/ModuleBLC.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "support/test_sensor.h"
#include "support/output_capture.h"
#include "module_test_util.h"

using norva_test::listOf;
using norva_test::registered;

using norva_test::contains;
using norva_test::stderrOf;

using namespace ISPC;
using norva_test::TestRig;

using norva_test::valuesOf;

/* Black level */

TEST(ModuleBLC, LoadClampsEachChannel) {
    const struct {
        const char *text;
        QOR_INT32 black[4];
        QOR_UINT32 system;
    } cases[] = {
        {"", {127, 127, 127, 127}, 64},
        {"BLC_SENSOR_BLACK 10 20\n", {10, 20, 127, 127}, 64},
        {"BLC_SENSOR_BLACK 200 -200 -128 x\nBLC_SYS_BLACK 40000\n", {127, -128, -128, 127}, 32767},
        {"BLC_SYS_BLACK -1\n", {127, 127, 127, 127}, 0},
    };
    for (const auto &c : cases) {
        ModuleBLC blc;
        EXPECT_EQ(blc.load(listOf(c.text)), QOR_RES_OK);
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(blc.aSensorBlack[i], c.black[i]) << c.text << " channel " << i;
        }
        EXPECT_EQ(blc.ui32SystemBlack, c.system) << c.text;
        EXPECT_FALSE(blc.isUpdateRequested());
    }
}

TEST(ModuleBLC, SetupNegatesTheSensorBlackLevel) {
    TestRig rig;
    ModuleBLC *blc = registered<ModuleBLC>(rig);
    ASSERT_EQ(blc->load(listOf("BLC_SENSOR_BLACK 16 -100 0 -128\nBLC_SYS_BLACK 100\n")), QOR_RES_OK);
    rig.mc().sBLC.fRowAverage = 0.5;
    rig.mc().sBLC.updateNeeded = QOR_FALSE;
    rig.mc().sBLC.bRowAverage = QOR_TRUE;
    ASSERT_EQ(blc->setup(), QOR_RES_OK);
    const MC_BLC &b = rig.mc().sBLC;
    EXPECT_EQ(b.aFixedOffset[0], -16);
    EXPECT_EQ(b.aFixedOffset[1], 100);
    EXPECT_EQ(b.aFixedOffset[2], 0);
    // 128 does not fit the signed 8-bit offset: it stops at 127 rather than wrap to -128.
    EXPECT_EQ(b.aFixedOffset[3], 127);
    EXPECT_EQ(b.ui16PixelMax, 64.0);
    EXPECT_FALSE(b.bBlackFrame);
    EXPECT_FALSE(b.bRowAverage);
    EXPECT_EQ(b.fRowAverage, 0.5); // left as it was
    EXPECT_TRUE(b.updateNeeded);
    EXPECT_EQ(rig.mc().ui16SystemBlackLevel, 100);
    EXPECT_TRUE(blc->isSetup());
}

TEST(ModuleBLC, DefaultsFileIsGrouped) {
    ModuleBLC blc;
    ParameterList l;
    blc.save(l, ModuleBase::SAVE_DEF);
    l.addParameter(Parameter("EXTRA", "1"));
    std::ostringstream os;
    ASSERT_EQ(ParameterFileParser::saveGrouped(l, os, true), QOR_RES_OK);
    EXPECT_NE(os.str().find("// Black Level Correction parameters\n"
                            "BLC_SENSOR_BLACK 127 127 127 127 // int[4] range=[-128,127]\n"
                            "BLC_SYS_BLACK 64 // int range=[0,32767]\n"),
              std::string::npos)
        << os.str();
    EXPECT_NE(os.str().find("// Ungrouped parameters\nEXTRA 1\n"), std::string::npos) << os.str();
}

/* Focus statistics */

TEST(ModuleFOS, SetupTable) {
    const struct {
        const char *text;
        bool region, grid;
        QOR_UINT16 roi[4];  // left, top, width, height
        QOR_UINT16 tile[4]; // grid left, top, tile width, tile height
    } cases[] = {
        {"", false, false, {0, 0, 1, 1}, {0, 0, 0, 0}},
        {"FOS_ROI_ENABLE 1\nFOS_ROI_START_COORDS 100 50\nFOS_ROI_END_COORDS 199 149\n",
         true,
         false,
         {100, 50, 100, 100},
         {0, 0, 0, 0}},
        // An end before its start wraps in 16 bits.
        {"FOS_ROI_START_COORDS 2 2\nFOS_ROI_END_COORDS 0 2\n", false, false, {2, 2, 65535, 1}, {0, 0, 0, 0}},
        {"FOS_GRID_ENABLE 2\nFOS_GRID_START_COORDS 8 16\nFOS_GRID_TILE_SIZE 40000 -5\n",
         false,
         true,
         {0, 0, 1, 1},
         {8, 16, 32767, 0}},
        // One value sets x only; a word that is not a number reads the default (off).
        {"FOS_ROI_ENABLE true\nFOS_ROI_START_COORDS 7\n", false, false, {7, 0, 65530, 1}, {0, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleFOS *fos = registered<ModuleFOS>(rig);
        ASSERT_EQ(fos->load(listOf(c.text)), QOR_RES_OK);
        ASSERT_EQ(fos->setup(), QOR_RES_OK);
        const MC_FOS &f = rig.mc().sFOS;
        EXPECT_EQ(f.bRegionEnable, c.region) << c.text;
        EXPECT_EQ(f.bGlobalEnable, c.grid) << c.text;
        EXPECT_EQ(f.ui16ROILeft, c.roi[0]) << c.text;
        EXPECT_EQ(f.ui16ROITop, c.roi[1]) << c.text;
        EXPECT_EQ(f.ui16ROIWidth, c.roi[2]) << c.text;
        EXPECT_EQ(f.ui16ROIHeight, c.roi[3]) << c.text;
        EXPECT_EQ(f.ui16Left, c.tile[0]) << c.text;
        EXPECT_EQ(f.ui16Top, c.tile[1]) << c.text;
        EXPECT_EQ(f.ui16Width, c.tile[2]) << c.text;
        EXPECT_EQ(f.ui16Height, c.tile[3]) << c.text;
        EXPECT_TRUE(f.updateNeeded);
        EXPECT_TRUE(fos->isSetup());
    }
}

TEST(ModuleFOS, SavedValuesReloadToTheSameModule) {
    ModuleFOS fos;
    const ParameterList in = listOf("FOS_ROI_ENABLE 1\nFOS_ROI_START_COORDS 1 2\nFOS_ROI_END_COORDS 3 4\n"
                                    "FOS_GRID_ENABLE 0\nFOS_GRID_START_COORDS 5 6\nFOS_GRID_TILE_SIZE 7 8\n");
    ASSERT_EQ(fos.load(in), QOR_RES_OK);
    ParameterList out;
    fos.save(out, ModuleBase::SAVE_VAL);
    EXPECT_EQ(out, in);
}

/* Imager interface */

TEST(ModuleIIF, WindowAndDecimationOnA1080pSensor) {
    const struct {
        const char *text;
        QOR_UINT32 tl[2], br[2], decimation[2];
        QOR_UINT16 size[2], offset[2]; // in 2x2 cells
    } cases[] = {
        {"", {0, 0}, {1919, 1079}, {0, 0}, {960, 540}, {0, 0}},
        {"IIF_DECIMATION 2 2\n", {0, 0}, {1919, 1079}, {1, 1}, {480, 270}, {0, 0}},
        {"IIF_DECIMATION 3 1\n", {0, 0}, {1919, 1079}, {2, 0}, {320, 540}, {0, 0}},
        {"IIF_CAP_RECT_TL 10 10\nIIF_CAP_RECT_BR 1909 1069\n", {10, 10}, {1909, 1069}, {0, 0}, {950, 530}, {5, 5}},
        // 101 pixels make 51 cells: the odd last pixel counts as a whole cell.
        {"IIF_CAP_RECT_BR 100 100\n", {0, 0}, {100, 100}, {0, 0}, {51, 51}, {0, 0}},
        // Limited to the sensor and to the ranges.
        {"IIF_CAP_RECT_BR 5000 5000\nIIF_DECIMATION 0 40\n", {0, 0}, {1919, 1079}, {0, 15}, {960, 33}, {0, 0}},
        {"IIF_CAP_RECT_TL 3000 20\n", {1920, 20}, {1919, 1079}, {0, 0}, {0, 530}, {960, 10}},
        {"IIF_CAP_RECT_TL x -4\nIIF_DECIMATION two\n", {0, 0}, {1919, 1079}, {0, 0}, {960, 540}, {0, 0}},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleIIF *iif = registered<ModuleIIF>(rig);
        ASSERT_EQ(iif->load(listOf(c.text)), QOR_RES_OK) << c.text;
        EXPECT_FALSE(iif->isUpdateRequested());
        for (int k = 0; k < 2; k++) {
            EXPECT_EQ(iif->aCropTL[k], c.tl[k]) << c.text;
            EXPECT_EQ(iif->aCropBR[k], c.br[k]) << c.text;
            EXPECT_EQ(iif->aDecimation[k], c.decimation[k]) << c.text;
        }
        ASSERT_EQ(iif->setup(), QOR_RES_OK);
        const MC_IIF &b = rig.mc().sIIF;
        for (int k = 0; k < 2; k++) {
            EXPECT_EQ(b.ui16ImagerSize[k], c.size[k]) << c.text << " dimension " << k;
            EXPECT_EQ(b.ui16ImagerOffset[k], c.offset[k]) << c.text << " dimension " << k;
            EXPECT_EQ(b.ui16ImagerDecimation[k], c.decimation[k]) << c.text;
        }
        EXPECT_EQ(b.ui8BlackBorderOffset, 0);
        EXPECT_TRUE(b.updateNeeded);
        EXPECT_TRUE(iif->isSetup());
        // Saved values reload to the same window.
        ParameterList saved;
        iif->save(saved, ModuleBase::SAVE_VAL);
        ModuleIIF *again = registered<ModuleIIF>(rig);
        ASSERT_EQ(again->load(saved), QOR_RES_OK);
        for (int k = 0; k < 2; k++) {
            EXPECT_EQ(again->aCropTL[k], c.tl[k]);
            EXPECT_EQ(again->aCropBR[k], c.br[k]);
            EXPECT_EQ(again->aDecimation[k], c.decimation[k]);
        }
    }
}

TEST(ModuleIIF, PortAndBayerOrderComeFromTheSensor) {
    const struct {
        MOSAICType mosaic;
        const char *saved;
    } cases[] = {
        {MOSAIC_BGGR, "BGGR"}, {MOSAIC_GRBG, "GRBG"}, {MOSAIC_GBRG, "GBRG"},
        {MOSAIC_RGGB, "RGGB"}, {MOSAIC_NONE, "RGGB"},
    };
    for (const auto &c : cases) {
        TestRig rig(640, 480, c.mosaic, 0x1F, [](norva_test::TestSensor &s) { s.uiImager = 1; });
        ModuleIIF *iif = registered<ModuleIIF>(rig);
        ASSERT_EQ(iif->load(listOf("IIF_BAYER_FORMAT GBRG\n")), QOR_RES_OK);
        ASSERT_EQ(iif->setup(), QOR_RES_OK);
        EXPECT_EQ(rig.mc().sIIF.eBayerFormat, c.mosaic);
        EXPECT_EQ(rig.mc().sIIF.ui8Imager, 1);
        ParameterList saved;
        iif->save(saved, ModuleBase::SAVE_VAL);
        EXPECT_EQ(valuesOf(saved, "IIF_BAYER_FORMAT"), std::vector<std::string>{c.saved});
        EXPECT_EQ(valuesOf(saved, "IIF_CAP_RECT_BR"), (std::vector<std::string>{"639", "479"}));
    }
}

TEST(ModuleIIF, NeedsAPipelineWithASensor) {
    ModuleIIF alone;
    std::string log = stderrOf([&] {
        EXPECT_EQ(alone.load(listOf("IIF_DECIMATION 2 2\n")), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(alone.setup(), QOR_RES_UNAVAILABLE);
    });
    EXPECT_TRUE(contains(log, "Pipeline pointer not setup!\n")) << log;
    EXPECT_TRUE(contains(log, "pipeline not set!\n")) << log;
    EXPECT_EQ(alone.aDecimation[0], 0u);
    EXPECT_EQ(alone.aCropBR[0], 0u);
    EXPECT_FALSE(alone.isSetup());

    TestRig rig;
    ModuleIIF *iif = registered<ModuleIIF>(rig);
    const MC_IIF before = rig.mc().sIIF;
    rig.pipeline->setSensor(nullptr);
    ParameterList saved;
    log = stderrOf([&] {
        EXPECT_EQ(iif->load(listOf("IIF_DECIMATION 2 2\n")), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(iif->setup(), QOR_RES_UNAVAILABLE);
        EXPECT_EQ(iif->save(saved, ModuleBase::SAVE_VAL), QOR_RES_OK);
    });
    EXPECT_TRUE(contains(log, "Pipeline does not have a sensor to get information from!\n")) << log;
    EXPECT_TRUE(contains(log, "Cannot save sensor's Bayer format as attached pipeline does not have a sensor!\n"))
        << log;
    EXPECT_EQ(iif->aDecimation[0], 0u);
    EXPECT_EQ(rig.mc().sIIF.ui16ImagerSize[0], before.ui16ImagerSize[0]);
    EXPECT_FALSE(saved.exists("IIF_BAYER_FORMAT"));
    EXPECT_TRUE(saved.exists("IIF_DECIMATION"));

    // A module never given the sensor's window sets up one cell.
    rig.pipeline->setSensor(&rig.sensor);
    ASSERT_EQ(iif->setup(), QOR_RES_OK);
    EXPECT_EQ(rig.mc().sIIF.ui16ImagerSize[0], 1);
    EXPECT_EQ(rig.mc().sIIF.ui16ImagerSize[1], 1);
}

TEST(ModuleIIF, WindowEndingBeforeItStartsIsRefused) {
    TestRig rig;
    ModuleIIF *iif = registered<ModuleIIF>(rig);
    ASSERT_EQ(iif->load(listOf("IIF_CAP_RECT_TL 1000 10\nIIF_CAP_RECT_BR 500 1069\n")), QOR_RES_OK);
    const MC_IIF before = rig.mc().sIIF;
    QOR_RESULT ret = QOR_RES_OK;
    const std::string log = stderrOf([&] { ret = iif->setup(); });
    EXPECT_EQ(ret, QOR_RES_INVALID_PARAM);
    EXPECT_TRUE(contains(log, "Capture window (1000,10)-(500,1069) ends before it starts\n")) << log;
    EXPECT_FALSE(iif->isSetup());
    EXPECT_EQ(rig.mc().sIIF.ui16ImagerSize[0], before.ui16ImagerSize[0]);
    EXPECT_EQ(rig.mc().sIIF.ui16ImagerOffset[0], before.ui16ImagerOffset[0]);
    // One pixel before the corner still counts: an empty window of 0 cells.
    ASSERT_EQ(iif->load(listOf("IIF_CAP_RECT_TL 1001 10\nIIF_CAP_RECT_BR 999 1069\n")), QOR_RES_OK);
    ASSERT_EQ(iif->setup(), QOR_RES_OK);
    EXPECT_EQ(rig.mc().sIIF.ui16ImagerSize[0], 0);
}

TEST(ModuleIIF, DefaultsFileKeepsTheStaticCorner) {
    TestRig rig;
    ModuleIIF *iif = registered<ModuleIIF>(rig);
    ParameterList l;
    iif->save(l, ModuleBase::SAVE_DEF);
    EXPECT_EQ(valuesOf(l, "IIF_CAP_RECT_BR"), (std::vector<std::string>{"0", "0"}));
    EXPECT_EQ(l.getParameter("IIF_CAP_RECT_BR")->getInfo(), "int[2] range=[0,8192]");
    EXPECT_EQ(valuesOf(l, "IIF_DECIMATION"), (std::vector<std::string>{"1", "1"}));
    EXPECT_EQ(valuesOf(l, "IIF_BAYER_FORMAT"), std::vector<std::string>{"RGGB"});
    EXPECT_EQ(l.getParameter("IIF_BAYER_FORMAT")->getInfo(), "{RGGB, GRBG, GBRG, BGGR}");
    ParameterList minimum;
    iif->save(minimum, ModuleBase::SAVE_MIN);
    EXPECT_EQ(valuesOf(minimum, "IIF_DECIMATION"), (std::vector<std::string>{"1", "1"}));
    EXPECT_EQ(minimum.getParameter("IIF_BAYER_FORMAT")->getInfo(), "string");
}

TEST(ModuleIIF, GlobalSetupReportsTheWindowInPixels) {
    TestRig rig;
    registered<ModuleOUT>(rig);
    ModuleIIF *iif = registered<ModuleIIF>(rig);
    ASSERT_EQ(iif->load(listOf("IIF_CAP_RECT_TL 10 20\nIIF_CAP_RECT_BR 1909 1059\nIIF_DECIMATION 2 1\n")), QOR_RES_OK);
    ASSERT_EQ(iif->setup(), QOR_RES_OK);
    QOR_RESULT ret = QOR_RES_FAILED;
    Global_Setup g;
    stderrOf([&] { g = rig.pipeline->getGlobalSetup(&ret); });
    EXPECT_EQ(ret, QOR_RES_OK);
    EXPECT_EQ(g.ui32ImageWidth, 950u);   // 1900 pixels in 475 cells after halving
    EXPECT_EQ(g.ui32ImageHeight, 1040u); // 1040 pixels, 520 cells
    EXPECT_EQ(g.ui32FrameBoundWidth, 1900u);
    EXPECT_EQ(g.ui32FrameBoundHeight, 1040u);
    EXPECT_EQ(g.ui32FrameBoundX, 10u);
    EXPECT_EQ(g.ui32FrameBoundY, 20u);
}
