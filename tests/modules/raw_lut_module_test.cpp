// The raw look-up table module: reading its curves and mode, saving them, and what its set-up writes,
// also when the data-generator camera rewrites the members between shots.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ispc/ModuleRLT.h"
#include "module_test_util.h"
#include "support/same_members.h"

using namespace ISPC;
using namespace norva_test;

namespace {

typedef std::map<std::pair<int, int>, QOR_UINT16> Points; // (channel, point) -> value; others 0

void expectPoints(const ModuleRLT &m, const Points &expected, const std::string &what) {
    for (int c = 0; c < 4; c++) {
        for (int i = 0; i < 16; i++) {
            const auto it = expected.find({c, i});
            EXPECT_EQ(m.aLUTPoints[c][i], it == expected.end() ? 0 : it->second)
                << what << ": channel " << c << " point " << i;
        }
    }
}

/** The curve the data-generator camera writes at unit exposure ratio: a straight line to full scale. */
void writeUnitCurve(ModuleRLT &m) {
    m.eMode = ModuleRLT::RLT_CUBIC;
    for (int c = 0; c < 4; c++) {
        for (int i = 0; i < 15; i++)
            m.aLUTPoints[c][i] = static_cast<QOR_UINT16>((i + 1) * 4096);
        m.aLUTPoints[c][15] = 65535;
    }
}

} // namespace

TEST(ModuleRLT, LoadReadsModeAndPointsOfEachChannel) {
    const struct {
        const char *text;
        ModuleRLT::Mode mode;
        Points points;
    } cases[] = {
        {"", ModuleRLT::RLT_DISABLED, {}},
        {"RLT_CORRECTION_MODE CUBIC\n", ModuleRLT::RLT_CUBIC, {}},
        {"RLT_CORRECTION_MODE LINEAR\n", ModuleRLT::RLT_LINEAR, {}},
        // Exact, case-sensitive words; anything else switches the block off without a message.
        {"RLT_CORRECTION_MODE cubic\n", ModuleRLT::RLT_DISABLED, {}},
        {"RLT_CORRECTION_MODE CUBICS\n", ModuleRLT::RLT_DISABLED, {}},
        // A short list sets its own points only.
        {"RLT_POINTS_2 1 2 3 4 5 6 7 8\n",
         ModuleRLT::RLT_DISABLED,
         {{{2, 0}, 1}, {{2, 1}, 2}, {{2, 2}, 3}, {{2, 3}, 4}, {{2, 4}, 5}, {{2, 5}, 6}, {{2, 6}, 7}, {{2, 7}, 8}}},
        // Malformed values read the default 0; the maximum 65536 and beyond hold the 16-bit full scale.
        {"RLT_POINTS_0 40000 0x10 12abc 65536 70000 65535\n",
         ModuleRLT::RLT_DISABLED,
         {{{0, 0}, 40000}, {{0, 3}, 65535}, {{0, 4}, 65535}, {{0, 5}, 65535}}},
        // A negative text is no unsigned value within the range: it reads as the top of the range.
        {"RLT_POINTS_1 -1\n", ModuleRLT::RLT_DISABLED, {{{1, 0}, 65535}}},
        {"RLT_POINTS_3 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 9 77\nRLT_CORRECTION_MODE LINEAR\n",
         ModuleRLT::RLT_LINEAR,
         {{{3, 15}, 9}}},
        // The bare name of the definition is no tag of the module, nor is a fifth channel.
        {"RLT_POINTS 5 5 5\nRLT_POINTS_4 5 5 5\n", ModuleRLT::RLT_DISABLED, {}},
    };
    for (const auto &c : cases) {
        ModuleRLT rlt;
        EXPECT_EQ(rlt.load(listOf(c.text)), QOR_RES_OK);
        EXPECT_EQ(rlt.eMode, c.mode) << c.text;
        expectPoints(rlt, c.points, c.text);
        EXPECT_FALSE(rlt.isUpdateRequested());
    }
}

TEST(ModuleRLT, ModeNames) {
    const struct {
        const char *text;
        ModuleRLT::Mode mode;
    } cases[] = {
        {"LINEAR", ModuleRLT::RLT_LINEAR}, {"CUBIC", ModuleRLT::RLT_CUBIC},     {"DISABLED", ModuleRLT::RLT_DISABLED},
        {"", ModuleRLT::RLT_DISABLED},     {"linear", ModuleRLT::RLT_DISABLED}, {"CUBIC ", ModuleRLT::RLT_DISABLED},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ModuleRLT::getRLTMode(c.text), c.mode) << '"' << c.text << '"';
    }
    EXPECT_EQ(ModuleRLT::getRLTModeString(ModuleRLT::RLT_DISABLED), "DISABLED");
    EXPECT_EQ(ModuleRLT::getRLTModeString(ModuleRLT::RLT_LINEAR), "LINEAR");
    EXPECT_EQ(ModuleRLT::getRLTModeString(ModuleRLT::RLT_CUBIC), "CUBIC");
    EXPECT_EQ(ModuleRLT::getRLTModeString(static_cast<ModuleRLT::Mode>(3)), "DISABLED");
}

TEST(ModuleRLT, SetupCopiesModeAndPoints) {
    TestRig rig;
    ModuleRLT *rlt = registered<ModuleRLT>(rig);
    ASSERT_EQ(rlt->load(listOf("RLT_CORRECTION_MODE LINEAR\nRLT_POINTS_1 100 200 300\n"
                               "RLT_POINTS_3 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 65536\n")),
              QOR_RES_OK);
    rig.mc().sRLT.updateNeeded = QOR_FALSE;
    ASSERT_EQ(rlt->setup(), QOR_RES_OK);
    const MC_RLT &b = rig.mc().sRLT;
    EXPECT_EQ(b.eMode, CI_RLT_LINEAR);
    for (int c = 0; c < 4; c++) {
        for (int i = 0; i < 16; i++)
            EXPECT_EQ(b.aPoints[c][i], rlt->aLUTPoints[c][i]) << c << "," << i;
    }
    EXPECT_EQ(b.aPoints[1][2], 300);
    EXPECT_EQ(b.aPoints[3][15], 65535);
    EXPECT_TRUE(b.updateNeeded);
    EXPECT_TRUE(rlt->isSetup());
}

TEST(ModuleRLT, SetupRefusesAModeOutsideTheThreeAndWritesNothing) {
    TestRig rig;
    ModuleRLT *rlt = registered<ModuleRLT>(rig);
    writeUnitCurve(*rlt);
    rlt->eMode = static_cast<ModuleRLT::Mode>(3);
    rig.mc().sRLT.updateNeeded = QOR_FALSE;
    const MC_RLT before = rig.mc().sRLT;
    QOR_RESULT ret = QOR_RES_OK;
    const std::string log = stderrOf([&] { ret = rlt->setup(); });
    EXPECT_EQ(ret, QOR_RES_FAILED);
    EXPECT_TRUE(contains(log, "[ISPC_MOD_RLT]")) << log;
    EXPECT_TRUE(contains(log, "unknown RLT mode 3\n")) << log;
    EXPECT_EQ(norva_test::DifferentMembers(
                  rig.mc().sRLT, before,
                  {NORVA_MEMBER(MC_RLT, updateNeeded), NORVA_MEMBER(MC_RLT, eMode), NORVA_MEMBER(MC_RLT, aPoints)}),
              "");
    EXPECT_FALSE(rlt->isSetup());
}

TEST(ModuleRLT, MembersWrittenBetweenShotsReachTheBlockAtTheNextRequestedSetup) {
    TestRig rig;
    ModuleRLT *rlt = registered<ModuleRLT>(rig);
    ASSERT_EQ(rlt->setup(), QOR_RES_OK);
    rlt->clearFlags();
    EXPECT_EQ(rig.mc().sRLT.eMode, CI_RLT_DISABLED);

    // What the data-generator camera does after a shot: reach the module by its id, write, request.
    ModuleRLT *found = static_cast<ModuleRLT *>(rig.pipeline->getModule(STP_RLT));
    ASSERT_EQ(found, rlt);
    writeUnitCurve(*found);
    found->requestUpdate();
    ASSERT_EQ(rig.pipeline->setupRequested(), QOR_RES_OK);
    const MC_RLT &b = rig.mc().sRLT;
    EXPECT_EQ(b.eMode, CI_RLT_CUBIC);
    for (int c = 0; c < 4; c++) {
        EXPECT_EQ(b.aPoints[c][0], 4096);
        EXPECT_EQ(b.aPoints[c][7], 32768);
        EXPECT_EQ(b.aPoints[c][14], 61440);
        EXPECT_EQ(b.aPoints[c][15], 65535);
    }
    EXPECT_FALSE(rlt->isUpdateRequested());
}

TEST(ModuleRLT, SavedListsOfEachKind) {
    ModuleRLT rlt;
    const std::vector<std::string> zeros(16, "0");
    const struct {
        ModuleBase::SaveType kind;
        std::vector<std::string> points;
        const char *pointsInfo;
        const char *modeInfo;
    } cases[] = {
        {ModuleBase::SAVE_VAL, zeros, "", ""},
        {ModuleBase::SAVE_MIN, zeros, "", "string"},
        {ModuleBase::SAVE_MAX, std::vector<std::string>(16, "65536"), "", "string"},
        {ModuleBase::SAVE_DEF, zeros, "unsigned[16] range=[0,65536]", "{DISABLED, LINEAR, CUBIC}"},
    };
    for (const auto &c : cases) {
        ParameterList l;
        EXPECT_EQ(rlt.save(l, c.kind), QOR_RES_OK);
        EXPECT_EQ(l.size(), 5u) << c.kind;
        for (const char *tag : {"RLT_POINTS_0", "RLT_POINTS_1", "RLT_POINTS_2", "RLT_POINTS_3"}) {
            EXPECT_EQ(valuesOf(l, tag), c.points) << tag << " kind " << c.kind;
            EXPECT_EQ(infoOf(l, tag), c.pointsInfo) << tag << " kind " << c.kind;
        }
        EXPECT_EQ(valuesOf(l, "RLT_CORRECTION_MODE"), std::vector<std::string>{"DISABLED"}) << c.kind;
        EXPECT_EQ(infoOf(l, "RLT_CORRECTION_MODE"), c.modeInfo) << c.kind;
        EXPECT_FALSE(l.exists("RLT_POINTS"));
    }
    const ParameterGroup g = ModuleRLT::getGroup();
    EXPECT_EQ(g.header, "// Raw Look Up Table parameters");
    EXPECT_EQ(g.parameters, (std::set<std::string>{"RLT_CORRECTION_MODE", "RLT_POINTS_0", "RLT_POINTS_1",
                                                   "RLT_POINTS_2", "RLT_POINTS_3"}));
}

TEST(ModuleRLT, WrittenCurveSavesAndReloads) {
    ModuleRLT written;
    writeUnitCurve(written);
    written.aLUTPoints[2][3] = 7;
    ParameterList l;
    written.save(l, ModuleBase::SAVE_VAL);
    EXPECT_EQ(valuesOf(l, "RLT_CORRECTION_MODE"), std::vector<std::string>{"CUBIC"});
    EXPECT_EQ(valuesOf(l, "RLT_POINTS_0").back(), "65535");
    ModuleRLT reloaded;
    ASSERT_EQ(reloaded.load(l), QOR_RES_OK);
    EXPECT_EQ(reloaded.eMode, ModuleRLT::RLT_CUBIC);
    EXPECT_EQ(memcmp(reloaded.aLUTPoints, written.aLUTPoints, sizeof(written.aLUTPoints)), 0);
}
