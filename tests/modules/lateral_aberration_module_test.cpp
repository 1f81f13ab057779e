// The lateral chromatic aberration module: its polynomials, centres, shift and decimation, and the
// block its setup writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ispc/ModuleLCA.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

TEST(ModuleLCA, LoadClampsEachValue) {
    const struct {
        const char *text;
        std::vector<double> redX;
        std::vector<QOR_UINT32> redCentre, shift, dec;
    } cases[] = {
        {"", {0, 0, 0}, {0, 0}, {0, 0}, {0, 0}},
        {"LCA_REDPOLY_X 16 -20 0.5\n", {15.899999618530273, -16, 0.5}, {0, 0}, {0, 0}, {0, 0}},
        {"LCA_RED_CENTER 960 540\nLCA_SHIFT 5\nLCA_DEC 20 -1\n", {0, 0, 0}, {960, 540}, {3, 0}, {15, 0}},
        {"LCA_RED_CENTER 5000\nLCA_DEC 12.5 0x10\n", {0, 0, 0}, {4095, 0}, {0, 0}, {0, 0}},
        // The block's centres are unsigned: a negative centre reads as 0.
        {"LCA_RED_CENTER -100 7\n", {0, 0, 0}, {0, 7}, {0, 0}, {0, 0}},
    };
    for (const auto &c : cases) {
        ModuleLCA lca;
        EXPECT_EQ(lca.load(listOf(c.text)), QOR_RES_OK);
        EXPECT_EQ(std::vector<double>(lca.aRedPoly_X, lca.aRedPoly_X + 3), c.redX) << c.text;
        EXPECT_EQ(std::vector<QOR_UINT32>(lca.aRedCenter, lca.aRedCenter + 2), c.redCentre) << c.text;
        EXPECT_EQ(std::vector<QOR_UINT32>(lca.aShift, lca.aShift + 2), c.shift) << c.text;
        EXPECT_EQ(std::vector<QOR_UINT32>(lca.aDecimation, lca.aDecimation + 2), c.dec) << c.text;
    }
}

TEST(ModuleLCA, SetupInterleavesTheDirections) {
    TestRig rig;
    ModuleLCA *lca = registered<ModuleLCA>(rig);
    // The block's initial defaults are replaced, also by zeros.
    rig.mc().sLCA.aShift[0] = 2;
    rig.mc().sLCA.aOffsetBlue[1] = 77;
    lca->load(listOf("LCA_REDPOLY_X 0.5 -0.25 0.125\nLCA_REDPOLY_Y 1 2 3\nLCA_BLUEPOLY_Y 0 0 -1\n"
                     "LCA_RED_CENTER 960 540\nLCA_DEC 1 2\n"));
    ASSERT_EQ(lca->setup(), QOR_RES_OK);
    const MC_LCA &b = rig.mc().sLCA;
    const double red[3][2] = {{0.5, 1}, {-0.25, 2}, {0.125, 3}};
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(b.aCoeffRed[k][0], red[k][0]);
        EXPECT_EQ(b.aCoeffRed[k][1], red[k][1]);
        EXPECT_EQ(b.aCoeffBlue[k][0], 0.0);
    }
    EXPECT_EQ(b.aCoeffBlue[2][1], -1.0);
    EXPECT_EQ(b.aOffsetRed[0], 960);
    EXPECT_EQ(b.aOffsetRed[1], 540);
    EXPECT_EQ(b.aOffsetBlue[1], 0);
    EXPECT_EQ(b.aShift[0], 0);
    EXPECT_EQ(b.aDec[0], 1);
    EXPECT_EQ(b.aDec[1], 2);
    EXPECT_TRUE(b.updateNeeded);
}

TEST(ModuleLCA, SavedMaximum) {
    ModuleLCA lca;
    ParameterList l;
    lca.save(l, ModuleBase::SAVE_MAX);
    EXPECT_EQ(valuesOf(l, "LCA_REDPOLY_X"), std::vector<std::string>(3, "15.9"));
    EXPECT_EQ(valuesOf(l, "LCA_DEC"), (std::vector<std::string>{"15", "15"}));
    EXPECT_EQ(ModuleLCA::LCA_REDPOLY_X.max, 15.899999618530273);
    EXPECT_EQ(ModuleLCA::getGroup().header, "// Lateral Chromatic Aberration parameters");
}
