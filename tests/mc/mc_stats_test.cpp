#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "support/capture_fixture.h"
#include "mc/mc_stats.h"
#include "platform/sim_capture.h"

using norva_test::CaptureTest;

namespace {

/** Statistics with every value chosen at random (fixed seed), in the ranges of their fields. */
norva_sim::SimSaveStats randomStats(unsigned seed) {
    std::mt19937 rng(seed);
    auto u32 = [&] { return static_cast<uint32_t>(rng()); };
    norva_sim::SimSaveStats s;
    memset(&s, 0, sizeof(s));
    for (auto &v : s.exsGlobal)
        v = u32();
    for (auto &r : s.exsRegion) {
        for (auto &c : r) {
            for (auto &v : c)
                v = static_cast<uint16_t>(u32());
        }
    }
    s.fosRoi = u32();
    for (auto &r : s.fosGrid) {
        for (auto &v : r)
            v = u32();
    }
    for (auto &k : s.wbs) {
        for (int ch = 0; ch < 3; ch++) {
            k.whitePatchSum[ch] = u32();
            k.whitePatchCount[ch] = u32();
            k.averageSum[ch] = u32();
            k.highLumaSum[ch] = u32();
        }
        k.highLumaCount = u32();
    }
    for (auto &v : s.hisGlobal)
        v = u32();
    for (auto &r : s.hisRegion) {
        for (auto &c : r) {
            for (auto &v : c)
                v = u32();
        }
    }
    for (auto &r : s.aws) {
        for (auto &t : r) {
            t.red = u32();
            t.blue = u32();
            t.green = u32();
            t.count = u32() & 0x3FFFFFu;
        }
    }
    s.dpfFixed = u32();
    s.dpfModifications = u32();
    s.dpfDropped = u32();
    s.flicker = static_cast<uint8_t>(u32() & 7u);
    for (auto &v : s.timestamps)
        v = u32();
    return s;
}

/** Every extraction of a save structure against the statistics written into it. */
void expectExtracted(const void *blob, const norva_sim::SimSaveStats &s) {
    MC_STATS_EXS exs;
    MC_STATS_FOS fos;
    MC_STATS_HIS his;
    MC_STATS_WBS wbs;
    MC_STATS_AWS aws;
    MC_STATS_FLD fld;
    MC_STATS_TIMESTAMP ts;
    MC_STATS_DPF dpf;
    EXPECT_EQ(MC_EXSExtract(blob, &exs), QOR_RES_OK);
    EXPECT_EQ(MC_FOSExtract(blob, &fos), QOR_RES_OK);
    EXPECT_EQ(MC_HISExtract(blob, &his), QOR_RES_OK);
    EXPECT_EQ(MC_WBSExtract(blob, &wbs), QOR_RES_OK);
    EXPECT_EQ(MC_AWSExtract(blob, &aws), QOR_RES_OK);
    EXPECT_EQ(MC_FLDExtract(blob, &fld), QOR_RES_OK);
    EXPECT_EQ(MC_TimestampExtract(blob, &ts), QOR_RES_OK);
    EXPECT_EQ(MC_DPFExtract(blob, &dpf), QOR_RES_OK);
    unsigned wrong = 0;
    for (int ch = 0; ch < 4; ch++)
        wrong += exs.globalClipped[ch] != s.exsGlobal[ch];
    wrong += fos.ROISharpness != s.fosRoi;
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            for (int ch = 0; ch < 4; ch++)
                wrong += exs.regionClipped[r][c][ch] != s.exsRegion[r][c][ch];
            wrong += fos.gridSharpness[r][c] != s.fosGrid[r][c];
            for (int b = 0; b < 16; b++)
                wrong += his.regionHistograms[r][c][b] != s.hisRegion[r][c][b];
            const MC_TILE_STATS_AWS &t = aws.tileStats[r][c];
            wrong += t.fCollectedRed != s.aws[r][c].red / 32.0;
            wrong += t.fCollectedBlue != s.aws[r][c].blue / 32.0;
            wrong += t.fCollectedGreen != s.aws[r][c].green / 32.0;
            wrong += t.numCFAs != s.aws[r][c].count;
        }
    }
    for (int b = 0; b < 64; b++)
        wrong += his.globalHistogram[b] != s.hisGlobal[b];
    for (int k = 0; k < 2; k++) {
        for (int ch = 0; ch < 3; ch++) {
            wrong += wbs.whitePatch[k].channelAccumulated[ch] != s.wbs[k].whitePatchSum[ch];
            wrong += wbs.whitePatch[k].channelCount[ch] != s.wbs[k].whitePatchCount[ch];
            wrong += wbs.averageColor[k].channelAccumulated[ch] != s.wbs[k].averageSum[ch];
            wrong += wbs.highLuminance[k].channelAccumulated[ch] != s.wbs[k].highLumaSum[ch];
        }
        wrong += wbs.highLuminance[k].lumaCount != s.wbs[k].highLumaCount;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(fld.flickerStatus, s.flicker);
    EXPECT_EQ(ts.ui32StartFrameIn, s.timestamps[0]);
    EXPECT_EQ(ts.ui32EndFrameIn, s.timestamps[1]);
    EXPECT_EQ(ts.ui32StartFrameOut, s.timestamps[2]);
    EXPECT_EQ(ts.ui32EndFrameEncOut, s.timestamps[3]);
    EXPECT_EQ(ts.ui32EndFrameDispOut, s.timestamps[4]);
    EXPECT_EQ(ts.ui32LinkedListUpdated | ts.ui32InterruptServiced, 0u);
    EXPECT_EQ(ts.ui64LinkedListSysTime | ts.ui64InterruptSysTime | ts.ui64InterruptTimeOfDay, 0u);
    EXPECT_EQ(dpf.ui32FixedPixels, s.dpfFixed);
    EXPECT_EQ(dpf.ui32MapModifications, s.dpfModifications);
    EXPECT_EQ(dpf.ui32DroppedMapModifications, s.dpfDropped);
    EXPECT_EQ(dpf.ui32NOutCorrection, s.dpfModifications - s.dpfDropped);
}

TEST(StatsExtract, WriterAndExtractionAgreeOnEveryField) {
    for (unsigned seed = 1; seed <= 3; seed++) {
        const norva_sim::SimSaveStats s = randomStats(seed);
        std::vector<uint8_t> area(norva_sim::kSaveStructureSize, 0);
        norva_sim::WriteSaveStructure(s, area.data(), area.size());
        expectExtracted(area.data(), s);
    }
}

struct ExtractEdge {
    const char *name;
    void (*arrange)(norva_sim::SimSaveStats &);
    bool (*holds)(const void *blob);
};

const ExtractEdge kExtractEdges[] = {
    {"flicker byte 0xFF reads 7", [](norva_sim::SimSaveStats &s) { s.flicker = 0xFF; },
     [](const void *b) {
         MC_STATS_FLD f;
         MC_FLDExtract(b, &f);
         return f.flickerStatus == 7u;
     }},
    {"map modifications 5 minus dropped 9 wraps",
     [](norva_sim::SimSaveStats &s) {
         s.dpfModifications = 5;
         s.dpfDropped = 9;
     },
     [](const void *b) {
         MC_STATS_DPF d;
         MC_DPFExtract(b, &d);
         return d.ui32NOutCorrection == 4294967292u;
     }},
    {"AWS word 32 is 1.0", [](norva_sim::SimSaveStats &s) { s.aws[3][4].red = 32; },
     [](const void *b) {
         MC_STATS_AWS a;
         MC_AWSExtract(b, &a);
         return a.tileStats[3][4].fCollectedRed == 1.0;
     }},
    {"AWS count keeps bits 21:0", [](norva_sim::SimSaveStats &s) { s.aws[6][6].count = 0xFFFFFFFFu; },
     [](const void *b) {
         MC_STATS_AWS a;
         MC_AWSExtract(b, &a);
         return a.tileStats[6][6].numCFAs == 4194303u;
     }},
    {"AWS sum with the top bit set stays positive", [](norva_sim::SimSaveStats &s) { s.aws[0][0].green = 0xFFFFFFFFu; },
     [](const void *b) {
         MC_STATS_AWS a;
         MC_AWSExtract(b, &a);
         return a.tileStats[0][0].fCollectedGreen == 134217727.96875;
     }},
    {"white-balance sum is zero-extended", [](norva_sim::SimSaveStats &s) { s.wbs[1].averageSum[2] = 0xF0000000u; },
     [](const void *b) {
         MC_STATS_WBS w;
         MC_WBSExtract(b, &w);
         return w.averageColor[1].channelAccumulated[2] == 4026531840ull;
     }},
    {"region clip count is 16 bits",
     [](norva_sim::SimSaveStats &s) {
         s.exsRegion[6][6][3] = 0xFFFF;
         s.exsRegion[6][5][0] = 1;
     },
     [](const void *b) {
         MC_STATS_EXS e;
         MC_EXSExtract(b, &e);
         return e.regionClipped[6][6][3] == 65535u && e.regionClipped[6][5][0] == 1u && e.regionClipped[6][6][2] == 0u;
     }},
};

TEST(StatsExtract, EdgeCases) {
    for (const ExtractEdge &c : kExtractEdges) {
        norva_sim::SimSaveStats s;
        memset(&s, 0, sizeof(s));
        c.arrange(s);
        std::vector<uint8_t> area(norva_sim::kSaveStructureSize, 0);
        norva_sim::WriteSaveStructure(s, area.data(), area.size());
        EXPECT_TRUE(c.holds(area.data())) << c.name;
    }
}

struct RevertEdge {
    const char *name;
    bool (*holds)();
};

const RevertEdge kRevertEdges[] = {
    {"WBS without its flag has no active region",
     [] {
         CI_MODULE_WBS ci{};
         ci.ui8ActiveROI = 1;
         MC_WBS mc{};
         mc.ui8ActiveROI = 9;
         MC_WBSRevert(&ci, CI_SAVE_ALL & ~CI_SAVE_WHITEBALANCE, &mc);
         return mc.ui8ActiveROI == 0;
     }},
    {"WBS with its flag counts regions",
     [] {
         CI_MODULE_WBS ci{};
         ci.ui8ActiveROI = 1;
         MC_WBS mc{};
         MC_WBSRevert(&ci, CI_SAVE_WHITEBALANCE, &mc);
         return mc.ui8ActiveROI == 2;
     }},
    {"WBS region with right edge 0 has width 0",
     [] {
         CI_MODULE_WBS ci{};
         ci.aRoiLeft[1] = 40;
         ci.aRoiRight[1] = 0;
         ci.aRoiTop[1] = 4;
         ci.aRoiBottom[1] = 13;
         MC_WBS mc{};
         MC_WBSRevert(&ci, 0, &mc);
         return mc.aRoiWidth[1] == 0 && mc.aRoiHeight[1] == 10 && mc.aRoiLeft[1] == 40;
     }},
    {"WBS offsets revert from S9.4",
     [] {
         CI_MODULE_WBS ci{};
         ci.ui16RGBOffset = -20;
         ci.ui16YOffset = 8;
         MC_WBS mc{};
         MC_WBSRevert(&ci, 0, &mc);
         return mc.fRGBOffset == -1.25 && mc.fYOffset == 0.5;
     }},
    {"FOS ROI right before left gives width 0",
     [] {
         CI_MODULE_FOS ci{};
         ci.ui16ROILeft = 10;
         ci.ui16ROIRight = 9;
         ci.ui16ROITop = 50;
         ci.ui16ROIBottom = 129;
         MC_FOS mc{};
         MC_FOSRevert(&ci, CI_SAVE_FOS_GRID, &mc);
         return mc.ui16ROIWidth == 0 && mc.ui16ROIHeight == 80 && mc.bGlobalEnable && !mc.bRegionEnable;
     }},
    {"FLD 1000 lines at step 4096 is 51.2 fps",
     [] {
         CI_MODULE_FLD ci{};
         ci.ui16VertTotal = 1000;
         ci.ui16FracStep50 = 4096;
         MC_FLD mc{};
         MC_FLDRevert(&ci, CI_SAVE_FLICKER, &mc);
         return std::fabs(mc.fFrameRate - 51.2) < 1e-9 && mc.bEnable && mc.ui16VTot == 1000;
     }},
    {"FLD without a line count reports rate 0, not infinity",
     [] {
         CI_MODULE_FLD ci{};
         ci.ui16FracStep50 = 4096;
         MC_FLD mc{};
         MC_FLDRevert(&ci, 0, &mc);
         return mc.fFrameRate == 0.0 && !mc.bEnable;
     }},
    {"ENS codes 0 are 8 lines and subsampling 1",
     [] {
         CI_MODULE_ENS ci{};
         MC_ENS mc{};
         MC_ENSRevert(&ci, CI_SAVE_ENS, &mc);
         return mc.ui32NLines == 8u && mc.ui32KernelSubsampling == 1u && mc.bEnable;
     }},
    {"AWS efficiency -1.5 stored as 65488 reverts to -1.5",
     [] {
         CI_MODULE_AWS ci{};
         ci.ui16Log2_R_Qeff = 65488;
         ci.ui16Log2_B_Qeff = 48;
         MC_AWS mc{};
         MC_AWSRevert(&ci, CI_SAVE_WHITEBALANCE_EXT, &mc);
         return mc.fLog2_R_Qeff == -1.5 && mc.fLog2_B_Qeff == 1.5 && mc.bEnable;
     }},
    {"AWS grid reverts to pixels",
     [] {
         CI_MODULE_AWS ci{};
         ci.ui16GridStartRow = 5;
         ci.ui16GridStartColumn = 10;
         ci.ui16GridTileWidth = 49;
         ci.ui16GridTileHeight = 29;
         ci.ui16RedDarkThresh = 384;
         ci.ui16BbDist = 48;
         ci.sCurveCoeffs.aCurveOffset[4] = -1024;
         MC_AWS mc{};
         MC_AWSRevert(&ci, 0, &mc);
         return mc.ui16GridStartRow == 10 && mc.ui16GridStartColumn == 20 && mc.ui16GridTileWidth == 100 &&
                mc.ui16GridTileHeight == 60 && mc.fRedDarkThresh == 1.5 && mc.fBbDist == 1.5 &&
                mc.aCurveOffset[4] == -1.0 && !mc.bEnable;
     }},
    {"EXS and HIS flags follow their bits",
     [] {
         CI_MODULE_EXS exs{};
         exs.ui16PixelMax = 1023;
         MC_EXS me{};
         CI_MODULE_HIS his{};
         his.ui16InputOffset = 64;
         his.ui16InputScale = 3;
         MC_HIS mh{};
         MC_EXSRevert(&exs, CI_SAVE_EXS_REGION, &me);
         MC_HISRevert(&his, CI_SAVE_HIST_GLOBAL, &mh);
         return !me.bGlobalEnable && me.bRegionEnable && me.fPixelMax == 1023.0 && mh.bGlobalEnable &&
                !mh.bRegionEnable && mh.fInputOffset == 64.0 && mh.fInputScale == 3.0;
     }},
    {"DPF revert clears the record first",
     [] {
         CI_MODULE_DPF ci{};
         ci.eDPFEnable = 3;
         ci.ui8Weight = 12;
         ci.aSkip[1] = 2;
         ci.aOffset[0] = 7;
         ci.sInput.ui32NDefect = 5;
         MC_DPF mc;
         memset(&mc, 0xAB, sizeof(mc));
         MC_DPFRevert(&ci, 0, &mc);
         return mc.eDPFEnable == 3 && mc.fWeight == 12.0 && mc.aSkip[1] == 2 && mc.aOffset[0] == 7 &&
                mc.ui32NDefect == 5 && mc.apDefectInput == nullptr && mc.updateNeeded == 0 && mc.ui16NbLines == 0;
     }},
    {"reverts leave updateNeeded alone",
     [] {
         CI_MODULE_FOS ci{};
         MC_FOS mc{};
         mc.updateNeeded = 1;
         MC_FOSRevert(&ci, 0, &mc);
         return mc.updateNeeded == 1;
     }},
};

TEST(StatsRevert, EdgeCases) {
    for (const RevertEdge &c : kRevertEdges)
        EXPECT_TRUE(c.holds()) << c.name;
}

// A tile width of 100 or 101 pixels converts to 49 and reverts to 100.
TEST(StatsRevert, AwsTileRoundTrip) {
    for (QOR_UINT16 width : {100, 101}) {
        MC_AWS mc{};
        mc.updateNeeded = 1;
        mc.ui16GridTileWidth = width;
        mc.ui16GridTileHeight = 16;
        CI_MODULE_AWS ci{};
        int mask = 0;
        ASSERT_EQ(MC_AWSConvert(&mc, &ci, &mask), QOR_RES_OK);
        EXPECT_EQ(ci.ui16GridTileWidth, 49);
        MC_AWS back{};
        MC_AWSRevert(&ci, 0, &back);
        EXPECT_EQ(back.ui16GridTileWidth, 100);
    }
}

/* ---- through the simulated capture ---- */

class StatsCapture : public CaptureTest {};

// Statistics the device's writer puts into a frame's save structure come back unchanged through every
// extraction, from the shot's own mapping.
TEST_F(StatsCapture, ChosenStatisticsComeBackFromTheShot) {
    startWith(2, 2, 2);
    const norva_sim::SimSaveStats first = randomStats(11), second = randomStats(12);
    norva_sim::QueueStatistics(pipelineId(), first);
    norva_sim::QueueStatistics(pipelineId(), second);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    CI_SHOT *a = nullptr, *b = nullptr;
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &a), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineAcquireShot(pipe, &b), QOR_RES_OK);
    ASSERT_GE(a->statsSize, MC_SAVE_STRUCT_READ_SIZE);
    expectExtracted(a->pStatistics, first);
    expectExtracted(b->pStatistics, second);
    // The status word is the device's own: private value and no error.
    EXPECT_EQ(a->ui8PrivateValue, 0);
    EXPECT_EQ(b->ui8PrivateValue, 1);
    EXPECT_FALSE(a->bFrameError);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, a), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, b), QOR_RES_OK);
}

/** A statistics configuration, distinct per seed, that the verification accepts. */
CI_PIPELINE_STATS chosenStats(int k) {
    CI_PIPELINE_STATS s;
    memset(&s, 0, sizeof(s));
    s.sExposureStats = CI_MODULE_EXS{static_cast<QOR_UINT16>(2 + k), static_cast<QOR_UINT16>(4 + k), 8, 6 + 1, 1000};
    s.sFocusStats = CI_MODULE_FOS{static_cast<QOR_UINT16>(1 + k),  3, 9, 7, static_cast<QOR_UINT16>(10 + k), 12,
                                  static_cast<QOR_UINT16>(40 + k), 30};
    CI_MODULE_WBS &w = s.sWhiteBalanceStats;
    w.aRoiLeft[0] = 2;
    w.aRoiTop[0] = static_cast<QOR_UINT16>(3 + k);
    w.aRoiRight[0] = 30;
    w.aRoiBottom[0] = 20;
    w.aRoiLeft[1] = 5;
    w.aRoiTop[1] = 6;
    w.aRoiRight[1] = static_cast<QOR_UINT16>(50 + k);
    w.aRoiBottom[1] = 40;
    w.ui8ActiveROI = static_cast<QOR_UINT8>(k & 1);
    w.ui16RGBOffset = static_cast<QOR_INT16>(100 + k);
    w.ui16YOffset = 200;
    w.aRMax[0] = 4000;
    w.aGMax[1] = static_cast<QOR_UINT16>(3000 + k);
    w.aBMax[0] = 2000;
    w.aYMax[1] = 1000;
    w.counters.frameCount[0] = static_cast<QOR_UINT32>(77 + k);
    w.counters.currentFrame[1] = static_cast<QOR_UINT32>(5 + k);
    s.sHistStats = CI_MODULE_HIS{static_cast<QOR_UINT16>(64 + k), 3, 2, 4, 10, 8};
    CI_MODULE_FLD &f = s.sFlickerStats;
    f.ui16FracStep50 = static_cast<QOR_UINT16>(6214 + k);
    f.ui16FracStep60 = 7457;
    f.ui16CoefDiff = 300;
    f.ui16NFThreshold = static_cast<QOR_UINT16>(200 + k);
    f.ui32SceneChange = 0x12345;
    f.ui8RShift = 10;
    f.ui8MinPN = 4;
    f.ui8PN = static_cast<QOR_UINT8>(8 + 4 * k);
    f.bReset = static_cast<QOR_BOOL8>(k & 1);
    s.sEncStats = CI_MODULE_ENS{static_cast<QOR_UINT8>(2 + k), static_cast<QOR_UINT8>(1 + k)};
    return s;
}

void expectSameStats(const CI_PIPELINE_STATS &got, const CI_PIPELINE_STATS &want) {
    EXPECT_EQ(memcmp(&got.sExposureStats, &want.sExposureStats, sizeof(want.sExposureStats)), 0);
    EXPECT_EQ(memcmp(&got.sFocusStats, &want.sFocusStats, sizeof(want.sFocusStats)), 0);
    const CI_MODULE_WBS &g = got.sWhiteBalanceStats, &w = want.sWhiteBalanceStats;
    EXPECT_EQ(memcmp(g.aRoiLeft, w.aRoiLeft, sizeof(w.aRoiLeft) * 4), 0);
    EXPECT_EQ(g.ui8ActiveROI, w.ui8ActiveROI);
    EXPECT_EQ(g.ui16RGBOffset, w.ui16RGBOffset);
    EXPECT_EQ(g.ui16YOffset, w.ui16YOffset);
    EXPECT_EQ(memcmp(g.aRMax, w.aRMax, sizeof(w.aRMax) * 4), 0);
    EXPECT_EQ(memcmp(&g.counters, &w.counters, sizeof(w.counters)), 0);
    EXPECT_EQ(memcmp(&got.sHistStats, &want.sHistStats, sizeof(want.sHistStats)), 0);
    CI_MODULE_FLD fld = want.sFlickerStats;
    fld.ui16VertTotal = 0; // no register holds it
    EXPECT_EQ(memcmp(&got.sFlickerStats, &fld, sizeof(fld)), 0);
    EXPECT_EQ(got.sEncStats.ui8Log2NCouples, want.sEncStats.ui8Log2NCouples);
    EXPECT_EQ(got.sEncStats.ui8SubExp, want.sEncStats.ui8SubExp);
    CI_MODULE_AWS none;
    memset(&none, 0, sizeof(none));
    EXPECT_EQ(memcmp(&got.sAutoWhiteBalanceStats, &none, sizeof(none)), 0);
}

// Each frame reports the statistics configuration it was captured with, read from the load structure the device
// applied to it, even when the configuration changed while the frame was pending.
TEST_F(StatsCapture, ConfigurationReadBackIsTheOneOfEachFrame) {
    startWith(2, 2, 2);
    const CI_PIPELINE_STATS programmed[2] = {chosenStats(0), chosenStats(1)};
    for (const CI_PIPELINE_STATS &s : programmed) {
        pipe->stats = s;
        pipe->stats.sAutoWhiteBalanceStats.ui16GridTileWidth = 31; // sent outside the read-back
        ASSERT_EQ(CI_PipelineUpdate(pipe, CI_UPD_ALL, nullptr), QOR_RES_OK);
        ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
    }
    CI_SHOT *shots[2] = {nullptr, nullptr};
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shots[i]), QOR_RES_OK);
        CI_PIPELINE_STATS back;
        memset(&back, 0xCD, sizeof(back));
        ASSERT_EQ(CI_PipelineExtractConfig(shots[i], &back), QOR_RES_OK);
        expectSameStats(back, programmed[i]);

        // And through the MC records: what the module layer would have programmed.
        MC_FOS fos{};
        MC_FOSRevert(&back.sFocusStats, shots[i]->eOutputConfig, &fos);
        EXPECT_EQ(fos.ui16ROIWidth, programmed[i].sFocusStats.ui16ROIRight - programmed[i].sFocusStats.ui16ROILeft + 1);
        MC_ENS ens{};
        MC_ENSRevert(&back.sEncStats, shots[i]->eOutputConfig, &ens);
        EXPECT_EQ(ens.ui32NLines, 1u << (programmed[i].sEncStats.ui8Log2NCouples + 3));
    }
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shots[0]), QOR_RES_OK);
    CI_PIPELINE_STATS back;
    EXPECT_EQ(CI_PipelineExtractConfig(shots[0], &back), QOR_RES_NOT_INITIALISED);
    EXPECT_EQ(CI_PipelineExtractConfig(nullptr, &back), QOR_RES_INVALID_PARAM);
    ASSERT_EQ(CI_PipelineReleaseShot(pipe, shots[1]), QOR_RES_OK);
}

// Without a register image the read-back reports a cleared configuration, never statistics counters.
TEST(StatsRevert, NoRegisterImageGivesACleanRecord) {
    std::vector<uint8_t> stats(norva_sim::kSaveStructureSize, 0xFF);
    CI_SHOT shot;
    memset(&shot, 0, sizeof(shot));
    shot.pStatistics = stats.data();
    shot.statsSize = norva_sim::kSaveStructureSize;
    CI_PIPELINE_STATS back;
    memset(&back, 0x5A, sizeof(back));
    EXPECT_EQ(INT_CI_Revert_HW2(&shot, &back), QOR_RES_FAILED);
    EXPECT_EQ(back.sExposureStats.ui16Width, 0);
    EXPECT_EQ(back.sFlickerStats.ui32SceneChange, 0u);
    EXPECT_EQ(back.sEncStats.ui8SubExp, 0);
}

} // namespace
