// The gamma module: the bypass switch from a setup file or a direct write reaches the block at setup.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ispc/ModuleGMA.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

TEST(ModuleGMA, BypassFromTheSetupFile) {
    const struct {
        const char *text;
        bool bypass;
    } cases[] = {{"", false}, {"GMA_BYPASS 1\n", true}, {"GMA_BYPASS 0\n", false}, {"GMA_BYPASS true\n", false}};
    for (const auto &c : cases) {
        TestRig rig;
        ModuleGMA *gma = registered<ModuleGMA>(rig);
        ASSERT_EQ(gma->load(listOf(c.text)), QOR_RES_OK);
        rig.mc().sGMA.bBypass = !c.bypass;
        rig.mc().sGMA.updateNeeded = QOR_FALSE;
        ASSERT_EQ(gma->setup(), QOR_RES_OK);
        EXPECT_EQ(bool(rig.mc().sGMA.bBypass), c.bypass) << c.text;
        EXPECT_TRUE(rig.mc().sGMA.updateNeeded);
        EXPECT_TRUE(gma->isSetup());
    }
}

TEST(ModuleGMA, DirectWriteTakesEffectAtTheNextSetup) {
    TestRig rig;
    ModuleGMA *gma = registered<ModuleGMA>(rig);
    ASSERT_EQ(gma->setup(), QOR_RES_OK);
    gma->bBypass = true;
    EXPECT_FALSE(rig.mc().sGMA.bBypass);
    ParameterList val, def;
    gma->save(val, ModuleBase::SAVE_VAL);
    gma->save(def, ModuleBase::SAVE_DEF);
    EXPECT_EQ(valuesOf(val, "GMA_BYPASS"), std::vector<std::string>{"1"});
    EXPECT_EQ(valuesOf(def, "GMA_BYPASS"), std::vector<std::string>{"0"});
    ASSERT_EQ(gma->setup(), QOR_RES_OK);
    EXPECT_TRUE(rig.mc().sGMA.bBypass);
}
