// The colour correction matrix module: what setup files give it, what the white-balance loops write
// into it, and what reaches the block and its registers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ispc/ModuleCCM.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

TEST(ModuleCCM, LoadReadsEachValueAtItsPosition) {
    const struct {
        const char *text;
        std::vector<double> matrix, offsets;
    } cases[] = {
        {"", {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}},
        {"CCM_MATRIX 1.5 -0.3 -0.2 -0.25 1.4 -0.15 0 -0.5 1.5\nCCM_OFFSETS 16 -8 0\n",
         {1.5, -0.3, -0.2, -0.25, 1.4, -0.15, 0, -0.5, 1.5},
         {16, -8, 0}},
        // Missing elements take the identity's element at their own position.
        {"CCM_MATRIX 2\n", {2, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}},
        {"CCM_MATRIX 5 -7\nCCM_OFFSETS 300 -1000\n", {3.998046875, -4, 0, 0, 1, 0, 0, 0, 1}, {255.875, -256, 0}},
        {"CCM_MATRIX 1.2abc 0x1 0 0 0x1\n", {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}},
    };
    for (const auto &c : cases) {
        ModuleCCM ccm;
        EXPECT_EQ(ccm.load(listOf(c.text)), QOR_RES_OK);
        EXPECT_EQ(std::vector<double>(ccm.aMatrix, ccm.aMatrix + 9), c.matrix) << c.text;
        EXPECT_EQ(std::vector<double>(ccm.aOffset, ccm.aOffset + 3), c.offsets) << c.text;
        EXPECT_FALSE(ccm.isUpdateRequested());
    }
}

TEST(ModuleCCM, SetupWritesRowsWithAZeroFourthColumn) {
    TestRig rig;
    ModuleCCM *ccm = registered<ModuleCCM>(rig);
    ccm->load(listOf("CCM_MATRIX 1.5 -0.3 -0.2 -0.25 1.4 -0.15 0 -0.5 1.5\nCCM_OFFSETS 16 -8 0\n"));
    for (int i = 0; i < 3; i++)
        rig.mc().sCCM.aCoeff[i][3] = 9.0;
    ASSERT_EQ(ccm->setup(), QOR_RES_OK);
    const MC_CCM &b = rig.mc().sCCM;
    const double rows[3][4] = {{1.5, -0.3, -0.2, 0}, {-0.25, 1.4, -0.15, 0}, {0, -0.5, 1.5, 0}};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 4; j++)
            EXPECT_EQ(b.aCoeff[i][j], rows[i][j]) << i << "," << j;
    EXPECT_EQ(b.aOffset[0], 16);
    EXPECT_EQ(b.aOffset[1], -8);
    EXPECT_EQ(b.aOffset[2], 0);
    EXPECT_TRUE(b.updateNeeded);
}

// What a white-balance loop writes is passed on unclamped; the register conversion then saturates
// each value to its field, so a large offset never comes out with the other sign.
TEST(ModuleCCM, LoopValuesBeyondTheRangesSaturateInTheRegisters) {
    const struct {
        double coeff, offset;
        QOR_INT16 coeffReg, offsetReg;
    } cases[] = {
        {1.0, 16.0, 512, 16},          {5.0, 3000.0, 2047, 2047},
        {-9.0, -5000.0, -2048, -2048}, {3.998046875, 2047.9, 2047, 2047},
        {-4.0, -2048.0, -2048, -2048},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleCCM *ccm = registered<ModuleCCM>(rig);
        ccm->aMatrix[0] = c.coeff;
        ccm->aOffset[0] = c.offset;
        ccm->requestUpdate();
        ASSERT_EQ(rig.pipeline->setupRequested(), QOR_RES_OK);
        EXPECT_EQ(rig.mc().sCCM.aCoeff[0][0], c.coeff);
        EXPECT_EQ(rig.mc().sCCM.aOffset[0], c.offset);
        CI_MODULE_CCM reg = {};
        int mask = 0;
        stderrOf([&] { EXPECT_EQ(MC_CCMConvert(&rig.mc().sCCM, &reg, &mask), QOR_RES_OK); });
        EXPECT_EQ(reg.aCoeff[0][0], c.coeffReg) << c.coeff;
        EXPECT_EQ(reg.aOffset[0], c.offsetReg) << c.offset;
    }
}

TEST(ModuleCCM, AssignmentCopiesOnlyTheValues) {
    TestRig rig;
    ModuleCCM *target = registered<ModuleCCM>(rig);
    ModuleCCM source;
    source.load(listOf("CCM_MATRIX 2 2 2 2 2 2 2 2 2\nCCM_OFFSETS 1 2 3\n"));
    source.requestUpdate();
    *target = source;
    EXPECT_EQ(target->aMatrix[8], 2.0);
    EXPECT_EQ(target->aOffset[2], 3.0);
    EXPECT_EQ(target->getPipeline(), rig.pipeline.get());
    EXPECT_FALSE(target->isUpdateRequested());
    EXPECT_EQ(target->getLoggingName(), std::string("ISPC_MOD_CCM"));
}

TEST(ModuleCCM, SavedBounds) {
    ModuleCCM ccm;
    ParameterList l;
    ccm.save(l, ModuleBase::SAVE_MAX);
    EXPECT_EQ(valuesOf(l, "CCM_MATRIX"), std::vector<std::string>(9, "3.99805"));
    EXPECT_EQ(valuesOf(l, "CCM_OFFSETS"), std::vector<std::string>(3, "255.875"));
    EXPECT_EQ(ModuleCCM::getGroup().header, "// Colour Correction Matrix parameters");
}
