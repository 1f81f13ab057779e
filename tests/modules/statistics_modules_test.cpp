// The statistics setup modules (histogram, exposure, white-balance, auto-white-balance and encoder statistics): what setup files give them, what
// the control loops write, and the blocks their set-up writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ispc/ModuleAWS.h"
#include "ispc/ModuleENS.h"
#include "ispc/ModuleEXS.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleWBS.h"
#include "mc/mc_stats.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

namespace {

struct HisValues {
    bool global, roi;
    QOR_UINT32 offset, scale, start[2], tile[2];
};

void expectValues(const ModuleHIS &m, const HisValues &v, const std::string &what) {
    EXPECT_EQ(m.bEnableGlobal, v.global) << what;
    EXPECT_EQ(m.bEnableROI, v.roi) << what;
    EXPECT_EQ(m.ui32InputOffset, v.offset) << what;
    EXPECT_EQ(m.ui32InputScale, v.scale) << what;
    EXPECT_EQ(m.aGridStartCoord[0], v.start[0]) << what;
    EXPECT_EQ(m.aGridStartCoord[1], v.start[1]) << what;
    EXPECT_EQ(m.aGridTileSize[0], v.tile[0]) << what;
    EXPECT_EQ(m.aGridTileSize[1], v.tile[1]) << what;
}

const HisValues kHisDefaults = {false, false, 256, 32767, {0, 0}, {10, 8}};

} // namespace

TEST(ModuleHIS, LoadClampsIntoTheRanges) {
    const struct {
        const char *text;
        HisValues expected;
    } cases[] = {
        {"", kHisDefaults},
        {"HIS_INPUT_OFFSET 5000\nHIS_GRID_TILE_DIMENSIONS 4 4\nHIS_GRID_START_COORDS 9000 10\n",
         {false, false, 1023, 32767, {8191, 10}, {8, 8}}},
        {"HIS_GLOBAL_ENABLE 1\nHIS_REGIONAL_ENABLE 1\nHIS_INPUT_SCALE 70000\nHIS_GRID_TILE_DIMENSIONS 300\n",
         {true, true, 256, 65535, {0, 0}, {300, 8}}},
        {"HIS_INPUT_OFFSET -1\nHIS_GLOBAL_ENABLE maybe\n", {false, false, 0, 32767, {0, 0}, {10, 8}}},
    };
    for (const auto &c : cases) {
        ModuleHIS his;
        EXPECT_EQ(his.load(listOf(c.text)), QOR_RES_OK);
        expectValues(his, c.expected, c.text);
        EXPECT_FALSE(his.isUpdateRequested());
    }
}

TEST(ModuleHIS, SetupWritesTheBlock) {
    TestRig rig;
    ModuleHIS *his = registered<ModuleHIS>(rig);
    ASSERT_EQ(his->load(listOf("HIS_GLOBAL_ENABLE 1\nHIS_INPUT_OFFSET 100\nHIS_INPUT_SCALE 65535\n"
                               "HIS_GRID_START_COORDS 8191 3\nHIS_GRID_TILE_DIMENSIONS 4095 12\n")),
              QOR_RES_OK);
    rig.mc().sHIS.updateNeeded = QOR_FALSE;
    ASSERT_EQ(his->setup(), QOR_RES_OK);
    const MC_HIS &b = rig.mc().sHIS;
    EXPECT_TRUE(b.bGlobalEnable);
    EXPECT_FALSE(b.bRegionEnable);
    EXPECT_EQ(b.fInputOffset, 100.0);
    EXPECT_EQ(b.fInputScale, 65535.0);
    EXPECT_EQ(b.ui16Left, 8191);
    EXPECT_EQ(b.ui16Top, 3);
    EXPECT_EQ(b.ui16Width, 4095);
    EXPECT_EQ(b.ui16Height, 12);
    EXPECT_TRUE(b.updateNeeded);
    EXPECT_TRUE(his->isSetup());
}

// Tiles of 8 and 9 columns pass the tag's range but the block refuses them: they are programmed 10
// wide with a warning, and the module keeps what the file said.
TEST(ModuleHIS, TilesTooNarrowForTheBlockAreWidened) {
    const struct {
        const char *text;
        QOR_UINT16 programmed;
        bool warned;
    } cases[] = {
        {"HIS_GRID_TILE_DIMENSIONS 8 8\n", 10, true},
        {"HIS_GRID_TILE_DIMENSIONS 9 8\n", 10, true},
        {"HIS_GRID_TILE_DIMENSIONS 10 8\n", 10, false},
        {"HIS_GRID_TILE_DIMENSIONS 11 8\n", 11, false},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleHIS *his = registered<ModuleHIS>(rig);
        his->load(listOf(c.text));
        const QOR_UINT32 held = his->aGridTileSize[0];
        const std::string log = stderrOf([&] { EXPECT_EQ(his->setup(), QOR_RES_OK); });
        EXPECT_EQ(rig.mc().sHIS.ui16Width, c.programmed) << c.text;
        EXPECT_EQ(rig.mc().sHIS.ui16Height, 8) << c.text;
        EXPECT_EQ(contains(log, "below the hardware minimum"), c.warned) << c.text << log;
        EXPECT_EQ(his->aGridTileSize[0], held);
    }
}

TEST(ModuleHIS, AutoExposureLaysTheGridOverTheSensor) {
    const struct {
        QOR_UINT32 width, height;
        QOR_UINT32 tile[2], start[2];
    } cases[] = {
        {1920, 1080, {274, 154}, {1, 1}},
        {640, 480, {91, 68}, {1, 2}},
        {56, 40, {10, 8}, {0, 2}}, // both tiles lifted to the minimum; the start keeps the quotients'
        {7, 7, {10, 8}, {0, 0}},
    };
    for (const auto &c : cases) {
        ModuleHIS his;
        EXPECT_TRUE(his.configureForExposure(c.width, c.height));
        const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height);
        expectValues(his, {true, true, 256, 32767, {c.start[0], c.start[1]}, {c.tile[0], c.tile[1]}}, what);
        EXPECT_TRUE(his.isUpdateRequested()) << what;
    }
}

TEST(ModuleHIS, AutoExposureKeepsAGridTheFileEnabled) {
    const struct {
        const char *text;
        bool written;
    } cases[] = {
        {"HIS_GLOBAL_ENABLE 1\nHIS_REGIONAL_ENABLE 1\n", false},
        {"HIS_GLOBAL_ENABLE 1\n", true},
        {"HIS_REGIONAL_ENABLE 1\n", true},
    };
    for (const auto &c : cases) {
        ModuleHIS his;
        his.load(listOf(std::string(c.text) + "HIS_INPUT_OFFSET 3\nHIS_INPUT_SCALE 4\n"
                                              "HIS_GRID_START_COORDS 5 6\nHIS_GRID_TILE_DIMENSIONS 20 30\n"));
        EXPECT_EQ(his.configureForExposure(1920, 1080), c.written) << c.text;
        if (c.written) {
            expectValues(his, {true, true, 256, 32767, {1, 1}, {274, 154}}, c.text);
        } else {
            expectValues(his, {true, true, 3, 4, {5, 6}, {20, 30}}, c.text);
            EXPECT_FALSE(his.isUpdateRequested());
        }
    }
}

TEST(ModuleHIS, SavedValuesInTableOrder) {
    ModuleHIS his;
    ParameterList l;
    ASSERT_EQ(his.save(l, ModuleBase::SAVE_VAL), QOR_RES_OK);
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
        {"HIS_GLOBAL_ENABLE", {"0"}},          {"HIS_REGIONAL_ENABLE", {"0"}},
        {"HIS_INPUT_OFFSET", {"256"}},         {"HIS_INPUT_SCALE", {"32767"}},
        {"HIS_GRID_START_COORDS", {"0", "0"}}, {"HIS_GRID_TILE_DIMENSIONS", {"10", "8"}},
    };
    for (const auto &e : expected)
        EXPECT_EQ(valuesOf(l, e.first), e.second) << e.first;
    EXPECT_EQ(ModuleHIS::getGroup().header, "// Histogram Statistics parameters");
    EXPECT_EQ(ModuleHIS::HIS_INPUTOFF.def, 256);
    EXPECT_EQ(ModuleHIS::HIS_INPUTSCALE.def, 32767);
}

TEST(ModuleEXS, LoadClampsIntoTheRanges) {
    const struct {
        const char *text;
        bool global, region;
        QOR_UINT32 start[2], tile[2];
        QOR_INT32 pixelMax;
    } cases[] = {
        {"", false, false, {0, 0}, {9, 9}, 4095},
        {"EXS_GRID_TILE_DIMENSIONS 4 9000\nEXS_GRID_START_COORDS 9000 9000\n",
         false,
         false,
         {8192, 8192},
         {8, 8191},
         4095},
        {"EXS_PIXEL_MAX -5\n", false, false, {0, 0}, {9, 9}, 0},
        {"EXS_PIXEL_MAX 70000\nEXS_GLOBAL_ENABLE 1\n", true, false, {0, 0}, {9, 9}, 4095},
        {"EXS_GRID_TILE_DIMENSIONS 16\nEXS_REGIONAL_ENABLE 1\n", false, true, {0, 0}, {16, 9}, 4095},
    };
    for (const auto &c : cases) {
        ModuleEXS exs;
        EXPECT_EQ(exs.load(listOf(c.text)), QOR_RES_OK);
        EXPECT_EQ(exs.bEnableGlobal, c.global) << c.text;
        EXPECT_EQ(exs.bEnableRegion, c.region) << c.text;
        EXPECT_EQ(exs.aGridStart[0], c.start[0]) << c.text;
        EXPECT_EQ(exs.aGridStart[1], c.start[1]) << c.text;
        EXPECT_EQ(exs.aGridTileSize[0], c.tile[0]) << c.text;
        EXPECT_EQ(exs.aGridTileSize[1], c.tile[1]) << c.text;
        EXPECT_EQ(exs.i32PixelMax, c.pixelMax) << c.text;
    }
}

TEST(ModuleEXS, SetupWritesTheBlock) {
    const struct {
        const char *text;
        MC_EXS expected;
    } cases[] = {
        {"", {true, false, false, 0, 0, 9, 9, 4095.0}},
        {"EXS_GLOBAL_ENABLE 1\nEXS_REGIONAL_ENABLE 1\nEXS_GRID_START_COORDS 8192 7\n"
         "EXS_GRID_TILE_DIMENSIONS 8191 8\nEXS_PIXEL_MAX 1000\n",
         {true, true, true, 8192, 7, 8191, 8, 1000.0}},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleEXS *exs = registered<ModuleEXS>(rig);
        exs->load(listOf(c.text));
        rig.mc().sEXS.updateNeeded = QOR_FALSE;
        ASSERT_EQ(exs->setup(), QOR_RES_OK);
        const MC_EXS &b = rig.mc().sEXS;
        EXPECT_EQ(b.updateNeeded, c.expected.updateNeeded) << c.text;
        EXPECT_EQ(b.bGlobalEnable, c.expected.bGlobalEnable) << c.text;
        EXPECT_EQ(b.bRegionEnable, c.expected.bRegionEnable) << c.text;
        EXPECT_EQ(b.ui16Left, c.expected.ui16Left) << c.text;
        EXPECT_EQ(b.ui16Top, c.expected.ui16Top) << c.text;
        EXPECT_EQ(b.ui16Width, c.expected.ui16Width) << c.text;
        EXPECT_EQ(b.ui16Height, c.expected.ui16Height) << c.text;
        EXPECT_EQ(b.fPixelMax, c.expected.fPixelMax) << c.text;
        EXPECT_TRUE(exs->isSetup());
    }
}

TEST(ModuleEXS, SavedBoundsAndValues) {
    ModuleEXS exs;
    const struct {
        ModuleBase::SaveType kind;
        std::vector<std::vector<std::string>> values;
    } cases[] = {
        {ModuleBase::SAVE_VAL, {{"0"}, {"0"}, {"0", "0"}, {"9", "9"}, {"4095"}}},
        {ModuleBase::SAVE_MIN, {{"0"}, {"0"}, {"0", "0"}, {"8", "8"}, {"0"}}},
        {ModuleBase::SAVE_MAX, {{"1"}, {"1"}, {"8192", "8192"}, {"8191", "8191"}, {"4095"}}},
    };
    const char *const tags[] = {"EXS_GLOBAL_ENABLE", "EXS_REGIONAL_ENABLE", "EXS_GRID_START_COORDS",
                                "EXS_GRID_TILE_DIMENSIONS", "EXS_PIXEL_MAX"};
    for (const auto &c : cases) {
        ParameterList l;
        ASSERT_EQ(exs.save(l, c.kind), QOR_RES_OK);
        for (int i = 0; i < 5; i++)
            EXPECT_EQ(valuesOf(l, tags[i]), c.values[i]) << tags[i] << " kind " << c.kind;
    }
    EXPECT_EQ(ModuleEXS::getGroup().header, "// Exposure Statistics parameters");
}

namespace {

/** A white-balance module on a rig whose main gamut mapper clips at clip. */
struct WbsRig {
    explicit WbsRig(double clip) : wbs(registered<ModuleWBS>(rig)) { rig.mc().sMGM.fClipMax = clip; }
    void region(int r, QOR_UINT32 x0, QOR_UINT32 y0, QOR_UINT32 x1, QOR_UINT32 y1) {
        wbs->aROIStartCoord[r][0] = x0;
        wbs->aROIStartCoord[r][1] = y0;
        wbs->aROIEndCoord[r][0] = x1;
        wbs->aROIEndCoord[r][1] = y1;
    }
    TestRig rig;
    ModuleWBS *wbs;
};

} // namespace

TEST(ModuleWBS, DefaultsProgramOnePixelRegions) {
    WbsRig w(1.5);
    ASSERT_EQ(w.wbs->setup(), QOR_RES_OK);
    const MC_WBS &b = w.rig.mc().sWBS;
    for (int r = 0; r < 2; r++) {
        EXPECT_EQ(b.aRoiLeft[r], 0);
        EXPECT_EQ(b.aRoiTop[r], 0);
        EXPECT_EQ(b.aRoiWidth[r], 1);
        EXPECT_EQ(b.aRoiHeight[r], 1);
        EXPECT_EQ(b.counters.frameCount[r], 1u);
        EXPECT_EQ(b.counters.currentFrame[r], 0u);
        EXPECT_EQ(b.aRMax[r], 1536);
        EXPECT_EQ(b.aGMax[r], 1536);
        EXPECT_EQ(b.aBMax[r], 1536);
        EXPECT_EQ(b.aYMax[r], 1536);
    }
    EXPECT_EQ(b.ui8ActiveROI, 0);
    EXPECT_EQ(b.fRGBOffset, 0.0);
    EXPECT_EQ(b.fYOffset, -127.0);
    EXPECT_TRUE(b.updateNeeded);
}

TEST(ModuleWBS, ThresholdsAndRegionCount) {
    const struct {
        double threshold;
        QOR_UINT32 regions;
        QOR_UINT16 programmed;
        QOR_UINT8 active;
        bool warned;
    } cases[] = {
        {1.0, 2, 2048, 2, false},
        {0.44999998807907104, 1, 921, 1, false}, // what the white-balance control writes for region 1
        {0.0, 3, 0, 2, true},
    };
    for (const auto &c : cases) {
        WbsRig w(1.0);
        w.wbs->aRedMaxTH[1] = w.wbs->aGreenMaxTH[1] = w.wbs->aBlueMaxTH[1] = w.wbs->aYHLWTH[1] = c.threshold;
        w.wbs->ui32NROIEnabled = c.regions;
        const std::string log = stderrOf([&] { EXPECT_EQ(w.wbs->setup(), QOR_RES_OK); });
        const MC_WBS &b = w.rig.mc().sWBS;
        EXPECT_EQ(b.aRMax[1], c.programmed);
        EXPECT_EQ(b.aGMax[1], c.programmed);
        EXPECT_EQ(b.aBMax[1], c.programmed);
        EXPECT_EQ(b.aYMax[1], c.programmed);
        EXPECT_EQ(b.aRMax[0], 1536);
        EXPECT_EQ(b.ui8ActiveROI, c.active);
        EXPECT_EQ(contains(log, "Invalid number of regions activated 3, Max number is 2\n"), c.warned) << log;
    }
}

TEST(ModuleWBS, LargeRegionsAreMeasuredInStrips) {
    const struct {
        QOR_UINT32 width, height;
        double clip;
        std::vector<QOR_UINT16> left, width_;
    } cases[] = {
        {1920, 1080, 1.5, {0}, {1920}},
        {4096, 2160, 1.5, {0, 1024, 2048, 3072}, {1024, 1024, 1024, 1024}},
        {4000, 3000, 1.0, {0, 1333, 2666}, {1333, 1333, 1334}},
        // A clip so small that no sum reaches a count: one strip.
        {1, 1, 0.0001, {0}, {1}},
    };
    for (const auto &c : cases) {
        WbsRig w(c.clip);
        w.region(0, 0, 0, c.width - 1, c.height - 1);
        w.region(1, 0, 0, c.width - 1, c.height - 1);
        const QOR_UINT32 n = static_cast<QOR_UINT32>(c.left.size());
        for (QOR_UINT32 shot = 0; shot <= n; shot++) {
            const QOR_UINT32 k = shot % n;
            ASSERT_EQ(w.wbs->setup(), QOR_RES_OK);
            const MC_WBS &b = w.rig.mc().sWBS;
            for (int r = 0; r < 2; r++) {
                EXPECT_EQ(b.aRoiLeft[r], c.left[k]) << c.width << " shot " << shot;
                EXPECT_EQ(b.aRoiWidth[r], c.width_[k]) << c.width << " shot " << shot;
                EXPECT_EQ(b.aRoiHeight[r], c.height);
                EXPECT_EQ(b.counters.currentFrame[r], k);
                EXPECT_EQ(b.counters.frameCount[r], n);
            }
        }
    }
}

TEST(ModuleWBS, ARegionChangedMidCycleIsLatchedAtTheNextCycle) {
    WbsRig w(1.5);
    w.region(0, 0, 0, 4095, 2159);
    ASSERT_EQ(w.wbs->setup(), QOR_RES_OK);
    ASSERT_EQ(w.wbs->setup(), QOR_RES_OK);
    w.region(0, 100, 50, 1099, 549); // one strip
    ASSERT_EQ(w.wbs->setup(), QOR_RES_OK);
    EXPECT_EQ(w.rig.mc().sWBS.aRoiLeft[0], 2048);
    ASSERT_EQ(w.wbs->setup(), QOR_RES_OK);
    EXPECT_EQ(w.rig.mc().sWBS.aRoiLeft[0], 3072);
    EXPECT_EQ(w.rig.mc().sWBS.counters.currentFrame[0], 3u);
    ASSERT_EQ(w.wbs->setup(), QOR_RES_OK);
    const MC_WBS &b = w.rig.mc().sWBS;
    EXPECT_EQ(b.aRoiLeft[0], 100);
    EXPECT_EQ(b.aRoiTop[0], 50);
    EXPECT_EQ(b.aRoiWidth[0], 1000);
    EXPECT_EQ(b.aRoiHeight[0], 500);
    EXPECT_EQ(b.counters.frameCount[0], 1u);
}

// A region that cannot be measured (no pixel, or a gamut-mapper clip of 0) fails the setup without marking the
// block for update. The regions are taken in order: when region 1 fails, region 0 has been programmed with its
// next strip and advanced; when region 0 fails, neither region changes.
TEST(ModuleWBS, AnUnmeasurableRegionFailsTheSetup) {
    const struct {
        int region;
        QOR_UINT32 x0, x1;
        double clip; // set after the first setup
    } cases[] = {
        {0, 10, 9, 1.5}, // end one before start: no pixel
        {1, 10, 9, 1.5},
        {0, 0, 4095, 0.0},
    };
    for (const auto &c : cases) {
        WbsRig w(1.5);
        w.region(0, 0, 0, 4095, 2159);
        w.region(1, 0, 0, 4095, 2159);
        ASSERT_EQ(w.wbs->setup(), QOR_RES_OK); // strip 0 of 4 on both regions
        // The failing region starts a new cycle at once.
        w.wbs->currentFrame[c.region] = 0;
        w.region(c.region, c.x0, 0, c.x1, 100);
        w.rig.mc().sMGM.fClipMax = c.clip;
        const MC_WBS before = w.rig.mc().sWBS;
        w.rig.mc().sWBS.updateNeeded = QOR_FALSE;
        w.wbs->clearFlags();
        const std::string log = stderrOf([&] { EXPECT_EQ(w.wbs->setup(), QOR_RES_UNAVAILABLE); });
        EXPECT_TRUE(contains(log, "Unexpected maximum statistics value!\n")) << log;
        const MC_WBS &b = w.rig.mc().sWBS;
        if (c.region == 1) {
            EXPECT_EQ(b.aRoiLeft[0], 1024);
            EXPECT_EQ(b.counters.currentFrame[0], 1u);
            EXPECT_EQ(w.wbs->currentFrame[0], 2u);
        } else {
            EXPECT_EQ(b.aRoiLeft[0], before.aRoiLeft[0]);
            EXPECT_EQ(b.counters.currentFrame[0], before.counters.currentFrame[0]);
            EXPECT_EQ(w.wbs->currentFrame[0], 0u);
            EXPECT_EQ(w.wbs->currentFrame[1], 1u);
        }
        EXPECT_EQ(b.aRoiLeft[1], before.aRoiLeft[1]);
        EXPECT_EQ(b.counters.currentFrame[1], before.counters.currentFrame[1]);
        EXPECT_FALSE(b.updateNeeded);
        EXPECT_FALSE(w.wbs->isSetup());
    }
}

TEST(ModuleWBS, CoordinatesLoadAndSaveRegionByRegion) {
    ModuleWBS wbs;
    wbs.load(listOf("WBS_ROI_START_COORDS 1 2 3 4\nWBS_ROI_END_COORDS 100 200 40000\nWBS_RMAX_TH 2 0.5\n"
                    "WBS_ROI_ENABLE 5\n"));
    EXPECT_EQ(wbs.aROIStartCoord[0][0], 1u);
    EXPECT_EQ(wbs.aROIStartCoord[0][1], 2u);
    EXPECT_EQ(wbs.aROIStartCoord[1][0], 3u);
    EXPECT_EQ(wbs.aROIStartCoord[1][1], 4u);
    EXPECT_EQ(wbs.aROIEndCoord[0][0], 100u);
    EXPECT_EQ(wbs.aROIEndCoord[0][1], 200u);
    EXPECT_EQ(wbs.aROIEndCoord[1][0], 32767u);
    EXPECT_EQ(wbs.aROIEndCoord[1][1], 0u);
    EXPECT_EQ(wbs.aRedMaxTH[0], 1.0);
    EXPECT_EQ(wbs.aRedMaxTH[1], 0.5);
    EXPECT_EQ(wbs.ui32NROIEnabled, 2u);
    ParameterList l;
    wbs.save(l, ModuleBase::SAVE_VAL);
    EXPECT_EQ(valuesOf(l, "WBS_ROI_START_COORDS"), (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(valuesOf(l, "WBS_ROI_END_COORDS"), (std::vector<std::string>{"100", "200", "32767", "0"}));
    EXPECT_EQ(ModuleWBS::getGroup().header, "// White Balance Statistics parameters");
}

namespace {

struct Line {
    double boundary, x, y, offset;
};

/** Slots with a line hold it; the others keep what they held before, with the boundary -16 as soon as any line
 *  is programmed. */
void expectCurve(const MC_AWS &b, const MC_AWS &before, const std::vector<Line> &slots, const std::string &what) {
    for (unsigned i = 0; i < 5; i++) {
        if (i < slots.size()) {
            EXPECT_EQ(b.aCurveBoundary[i], slots[i].boundary) << what << " slot " << i;
            EXPECT_EQ(b.aCurveCoeffX[i], slots[i].x) << what << " slot " << i;
            EXPECT_EQ(b.aCurveCoeffY[i], slots[i].y) << what << " slot " << i;
            EXPECT_EQ(b.aCurveOffset[i], slots[i].offset) << what << " slot " << i;
            continue;
        }
        EXPECT_EQ(b.aCurveBoundary[i], slots.empty() ? before.aCurveBoundary[i] : -16.0) << what << " slot " << i;
        EXPECT_EQ(b.aCurveCoeffX[i], before.aCurveCoeffX[i]) << what << " slot " << i;
        EXPECT_EQ(b.aCurveCoeffY[i], before.aCurveCoeffY[i]) << what << " slot " << i;
        EXPECT_EQ(b.aCurveOffset[i], before.aCurveOffset[i]) << what << " slot " << i;
    }
}

const Line kDefaultLines[] = {
    {0.25, 0.88671875, 0.4609375, 0.0390625},
    {-0.84375, 0.966796875, 0.2548828125, 0.255859375},
    {-1.90625, 0.998046875, 0.064453125, 0.63671875},
};

} // namespace

TEST(ModuleAWS, ConstructionDefaults) {
    ModuleAWS aws;
    EXPECT_FALSE(aws.enabled);
    EXPECT_FALSE(aws.debugMode);
    EXPECT_EQ(aws.fLog2_R_Qeff, 1.0);
    EXPECT_EQ(aws.fBlueDarkThresh, 8.0);
    EXPECT_EQ(aws.fGreenClipThresh, 128.0);
    EXPECT_EQ(aws.fBbDist, 0.2);
    EXPECT_EQ(aws.ui16TileWidth, 16);
    EXPECT_EQ(aws.ui16TileHeight, 16);
    EXPECT_TRUE(aws.fLines.empty());
    EXPECT_EQ(ModuleAWS::getGroup().parameters.size(), 18u);
    EXPECT_EQ(ModuleAWS::getGroup().header, "// Auto White Balance Statistics parameters (AWS block)");
}

// The curve programmed for each set of lines. Without lines no curve field is written: the block keeps the
// curve that was there (here a recognisable one), while the other fields are set up as usual.
TEST(ModuleAWS, SetupProgramsTheCurveByDescendingBoundary) {
    const struct {
        const char *text;
        std::vector<Line> slots;
    } cases[] = {
        {"", {}},
        {"AWS_CURVES_NUM 0\nAWS_CURVE_BOUNDARIES 1 2 3\n", {}},
        {"AWS_CURVES_NUM 3\n", {kDefaultLines[0], kDefaultLines[1], kDefaultLines[2]}},
        {"AWS_CURVES_NUM 9\n",
         {{16.0, 0, 0, 0}, {16.0, 0, 0, 0}, kDefaultLines[0], kDefaultLines[1], kDefaultLines[2]}},
        {"AWS_CURVES_NUM 3\nAWS_CURVE_BOUNDARIES -1 0.5 0.2\nAWS_CURVE_X_COEFFS 1 2 3\n"
         "AWS_CURVE_Y_COEFFS 4 5 6\nAWS_CURVE_OFFSETS 7 8 -20\n",
         {{0.5, 2, 5, 8}, {0.2, 3, 6, -16.0}, {-1, 1, 4, 7}}},
        {"AWS_CURVES_NUM 1\nAWS_CURVE_BOUNDARIES -20\n", {{-16.0, 0.88671875, 0.4609375, 0.0390625}}},
    };
    for (const auto &c : cases) {
        TestRig rig;
        MC_AWS &block = rig.mc().sAWS;
        for (int i = 0; i < 5; i++) {
            block.aCurveBoundary[i] = 10.0 + i;
            block.aCurveCoeffX[i] = 20.0 + i;
            block.aCurveCoeffY[i] = 30.0 + i;
            block.aCurveOffset[i] = 40.0 + i;
        }
        block.fBbDist = 99;
        block.updateNeeded = QOR_FALSE;
        const MC_AWS before = block;
        ModuleAWS *aws = registered<ModuleAWS>(rig);
        aws->load(listOf(c.text));
        ASSERT_EQ(aws->setup(), QOR_RES_OK);
        expectCurve(block, before, c.slots, c.text);
        EXPECT_EQ(block.fBbDist, 0.2) << c.text;
        EXPECT_TRUE(block.updateNeeded) << c.text;
    }
}

// A setup without lines after one with lines leaves the programmed curve in the block.
TEST(ModuleAWS, CurveOfAnEarlierSetupStaysWithoutLines) {
    TestRig rig;
    ModuleAWS *aws = registered<ModuleAWS>(rig);
    aws->load(listOf("AWS_CURVES_NUM 2\nAWS_CURVE_BOUNDARIES -1 0.5\n"));
    ASSERT_EQ(aws->setup(), QOR_RES_OK);
    const MC_AWS programmed = rig.mc().sAWS;
    aws->load(listOf("AWS_BB_DIST 0.5\n"));
    ASSERT_EQ(aws->setup(), QOR_RES_OK);
    const MC_AWS &b = rig.mc().sAWS;
    EXPECT_EQ(b.fBbDist, 0.5);
    expectCurve(b, programmed, {}, "after a load without lines");
    EXPECT_EQ(b.aCurveBoundary[0], 0.5);
    EXPECT_EQ(b.aCurveBoundary[2], -16.0);
}

TEST(ModuleAWS, SaveAfterSetupListsTheLinesInProgrammedOrder) {
    TestRig rig;
    ModuleAWS *aws = registered<ModuleAWS>(rig);
    aws->load(listOf("AWS_CURVES_NUM 3\nAWS_CURVE_BOUNDARIES -1 0.5 0.2\n"));
    ParameterList before;
    aws->save(before, ModuleBase::SAVE_VAL);
    EXPECT_EQ(valuesOf(before, "AWS_CURVE_BOUNDARIES"), (std::vector<std::string>{"-1", "0.5", "0.2"}));
    ASSERT_EQ(aws->setup(), QOR_RES_OK);
    ParameterList after;
    aws->save(after, ModuleBase::SAVE_VAL);
    EXPECT_EQ(valuesOf(after, "AWS_CURVE_BOUNDARIES"), (std::vector<std::string>{"0.5", "0.2", "-1"}));
    EXPECT_EQ(valuesOf(after, "AWS_CURVES_NUM"), std::vector<std::string>{"3"});

    ModuleAWS::linesSet lines = aws->fLines;
    EXPECT_EQ(ModuleAWS::loadLinesParams(listOf("AWS_CURVES_NUM 5\n"), lines), -1);
    EXPECT_EQ(lines.size(), 3u);
}

TEST(ModuleAWS, TilesFollowTheSensor) {
    const struct {
        unsigned width, height;
        const char *text;
        QOR_UINT16 tile[2];
    } cases[] = {
        {1920, 1080, "", {274, 154}},
        {1920, 1080, "AWS_TILE_SIZE 8 4000\n", {16, 4000}},
        {100, 80, "", {16, 16}},
        {0, 0, "AWS_TILE_SIZE 8 4000\n", {8, 4000}}, // no sensor: the plain range
    };
    for (const auto &c : cases) {
        if (c.width == 0) {
            ModuleAWS aws;
            aws.load(listOf(c.text));
            EXPECT_EQ(aws.ui16TileWidth, c.tile[0]);
            EXPECT_EQ(aws.ui16TileHeight, c.tile[1]);
            continue;
        }
        TestRig rig(c.width, c.height);
        ModuleAWS *aws = registered<ModuleAWS>(rig);
        aws->load(listOf(c.text));
        EXPECT_EQ(aws->ui16TileWidth, c.tile[0]) << c.width << c.text;
        EXPECT_EQ(aws->ui16TileHeight, c.tile[1]) << c.width << c.text;
        ParameterList l;
        aws->save(l, ModuleBase::SAVE_DEF);
        const QOR_UINT16 w = c.width / 7 > 16 ? c.width / 7 : 16, h = c.height / 7 > 16 ? c.height / 7 : 16;
        EXPECT_EQ(valuesOf(l, "AWS_TILE_SIZE"), (std::vector<std::string>{std::to_string(w), std::to_string(h)}));
        EXPECT_FALSE(infoOf(l, "AWS_TILE_SIZE").empty());
    }
}

TEST(ModuleENS, LoadRoundsUpToPowersOfTwo) {
    const struct {
        const char *text;
        QOR_UINT32 lines, subsampling;
        const char *log; // the whole log of the load
    } cases[] = {
        {"", 16, 1, ""},
        {"ENS_REGION_NUMLINES 100\n", 128, 1,
         "loaded value for ENS_REGION_NUMLINES (100) is not a power of 2! Rounding to next power of 2: 128\n"},
        {"ENS_REGION_NUMLINES 129\n", 256, 1, "(129)"},
        {"ENS_REGION_NUMLINES 200\n", 256, 1, "(200)"},
        {"ENS_REGION_NUMLINES 5\n", 8, 1, ""},
        {"ENS_REGION_NUMLINES 300\n", 256, 1, ""},
        {"ENS_SUBS_FACTOR 3\n", 16, 4, "ENS_SUBS_FACTOR (3)"},
        {"ENS_SUBS_FACTOR 17\n", 16, 32, "ENS_SUBS_FACTOR (17)"},
        {"ENS_SUBS_FACTOR 16\n", 16, 16, ""},
        {"ENS_SUBS_FACTOR 0\n", 16, 1, ""},
        {"ENS_SUBS_FACTOR 64\n", 16, 32, ""},
        {"ENS_SUBS_FACTOR 3\nENS_REGION_NUMLINES 100\n", 128, 4, "ENS_REGION_NUMLINES (100)"},
    };
    for (const auto &c : cases) {
        ModuleENS ens;
        const std::string log = stderrOf([&] { EXPECT_EQ(ens.load(listOf(c.text)), QOR_RES_OK); });
        EXPECT_EQ(ens.ui32NLines, c.lines) << c.text;
        EXPECT_EQ(ens.ui32SubsamplingFactor, c.subsampling) << c.text;
        if (*c.log == '\0') {
            EXPECT_EQ(log, "") << c.text;
        } else {
            EXPECT_TRUE(contains(log, c.log)) << c.text << log;
            EXPECT_TRUE(contains(log, "[ISPC_MOD_ENS]")) << log;
        }
    }
    // Lines are checked first.
    ModuleENS ens;
    const std::string log = stderrOf([&] { ens.load(listOf("ENS_SUBS_FACTOR 3\nENS_REGION_NUMLINES 100\n")); });
    EXPECT_LT(log.find("ENS_REGION_NUMLINES"), log.find("ENS_SUBS_FACTOR")) << log;
    ParameterList l;
    ens.save(l, ModuleBase::SAVE_VAL);
    EXPECT_EQ(valuesOf(l, "ENS_REGION_NUMLINES"), std::vector<std::string>{"128"});
}

TEST(ModuleENS, SetupWritesTheBlock) {
    TestRig rig;
    ModuleENS *ens = registered<ModuleENS>(rig);
    ens->load(listOf("ENS_ENABLE 1\nENS_REGION_NUMLINES 64\nENS_SUBS_FACTOR 8\n"));
    ASSERT_EQ(ens->setup(), QOR_RES_OK);
    EXPECT_TRUE(rig.mc().sENS.bEnable);
    EXPECT_EQ(rig.mc().sENS.ui32NLines, 64u);
    EXPECT_EQ(rig.mc().sENS.ui32KernelSubsampling, 8u);
    EXPECT_TRUE(rig.mc().sENS.updateNeeded);
}

// The Planckian control writes negative logarithms when a reference gain is below 1: they convert
// without a range message and read back with their sign, as does the default curve's boundaries.
TEST(ModuleAWS, NegativeValuesReadBackWithTheirSign) {
    const double values[] = {-1.5, -0.03125, 0.0, 2.25};
    for (double v : values) {
        TestRig rig;
        ModuleAWS *aws = registered<ModuleAWS>(rig);
        aws->load(listOf("AWS_CURVES_NUM 3\n")); // the three default lines, two with negative boundaries
        aws->fLog2_R_Qeff = v;
        aws->fLog2_B_Qeff = -v;
        ASSERT_EQ(aws->setup(), QOR_RES_OK);
        CI_MODULE_AWS regs = {};
        int mask = 0;
        const std::string log = logOf([&] { EXPECT_EQ(MC_AWSConvert(&rig.mc().sAWS, &regs, &mask), QOR_RES_OK); });
        EXPECT_EQ(log, "") << v;
        MC_AWS back = {};
        MC_AWSRevert(&regs, 0, &back);
        EXPECT_EQ(back.fLog2_R_Qeff, v);
        EXPECT_EQ(back.fLog2_B_Qeff, -v);
        EXPECT_EQ(back.aCurveBoundary[1], -0.84375);
        EXPECT_EQ(back.aCurveBoundary[2], -1.90625);
        EXPECT_EQ(back.aCurveBoundary[3], -16.0);
    }
}
