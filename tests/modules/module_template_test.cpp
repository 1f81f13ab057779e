// The setup-module template: reads through the binding table into members of other types, the
// hooks, the standard set-up and the grouped defaults file it gives.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "ispc/ParameterFileParser.h"
#include "test_modules.h"
#include "module_test_util.h"

using norva_test::listOf;

using namespace ISPC;
using norva_test::FakeMC;
using norva_test::FakePipeline;
using norva_test::ModuleHKS;
using norva_test::ModuleTST;

namespace {} // namespace

TEST(ModuleTemplate, LoadReadsEveryBindingWithClampAndDefault) {
    ModuleTST m;
    ASSERT_EQ(m.load(listOf("TST_INT 300\n"
                            "TST_GAIN 2.5\n"
                            "TST_UNSIGNED -1\n"
                            "TST_SHORT 40000\n"
                            "TST_ARRAY 10 -200\n"
                            "TST_VECTOR 0.25 x 9\n"
                            "TST_ENABLE 0\n"
                            "TST_FORMAT NV12\n")),
              QOR_RES_OK);
    EXPECT_EQ(m.iValue, 10);
    EXPECT_EQ(m.gain, 2.5);
    EXPECT_EQ(m.uValue, 32767u);
    EXPECT_EQ(m.sValue, -5);
    EXPECT_EQ(std::vector<int>(m.aValues, m.aValues + 4), (std::vector<int>{10, -128, 127, 127}));
    EXPECT_EQ(m.vValues, (std::vector<double>{0.25, 1.0, 2.0}));
    EXPECT_EQ(m.bEnable, 0);
    EXPECT_EQ(m.format, "NV12");

    ASSERT_EQ(m.load(ParameterList()), QOR_RES_OK);
    EXPECT_EQ(m.iValue, 3);
    EXPECT_EQ(m.bEnable, 1);
    EXPECT_EQ(m.format, "NONE");
}

TEST(ModuleTemplate, SaveValuesFormatsMembers) {
    ModuleTST m;
    m.gain = 1.0 / 3.0;
    m.aValues[2] = -7;
    m.bEnable = 5;
    ParameterList l;
    m.save(l);
    EXPECT_EQ(l.getParameter("TST_GAIN")->getValues(), std::vector<std::string>{"0.333333"});
    EXPECT_EQ(l.getParameter("TST_ARRAY")->getValues(), (std::vector<std::string>{"127", "127", "-7", "127"}));
    EXPECT_EQ(l.getParameter("TST_VECTOR")->getValues(), (std::vector<std::string>{"0.5", "1", "1.5"}));
    EXPECT_EQ(l.getParameter("TST_ENABLE")->getValues(), std::vector<std::string>{"1"});
}

TEST(ModuleTemplate, HooksRunAroundTheTable) {
    ModuleHKS m;
    EXPECT_EQ(m.ratio, 1.0);
    EXPECT_EQ(m.mode, ModuleHKS::MODE_LINEAR);
    m.load(listOf("HKS_RATIO 4\nHKS_MODE CUBIC\n"));
    EXPECT_EQ(m.ratio, 4.0);
    EXPECT_EQ(m.mode, ModuleHKS::MODE_CUBIC);
    m.load(listOf("HKS_RATIO 0.5\nHKS_MODE cubic\n"));
    EXPECT_EQ(m.ratio, 1.0);
    EXPECT_EQ(m.mode, ModuleHKS::MODE_LINEAR);

    ParameterList l;
    m.save(l, ModuleBase::SAVE_DEF);
    EXPECT_EQ(l.getParameter("HKS_RATIO")->getInfo(), "double range=[0,16] (0: no ratio)");
    EXPECT_EQ(l.getParameter("HKS_MODE")->getInfo(), "string");
}

TEST(ModuleTemplate, StandardSetupGuardsWritesAndFlags) {
    ModuleTST m;
    FakePipeline pipe;
    m.fakePipeline = &pipe;

    testing::internal::CaptureStderr();
    EXPECT_EQ(m.setup(), QOR_RES_UNAVAILABLE);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("[ISPC_MOD_TST]"), std::string::npos) << log;
    EXPECT_NE(log.find("pMCPipeline not set!\n"), std::string::npos) << log;
    EXPECT_FALSE(m.isSetup());

    FakeMC mc;
    pipe.mc = &mc;
    m.writeResult = QOR_RES_INVALID_PARAM;
    EXPECT_EQ(m.setup(), QOR_RES_INVALID_PARAM);
    EXPECT_FALSE(m.isSetup());
    EXPECT_FALSE(mc.sTST.updateNeeded);

    m.writeResult = QOR_RES_OK;
    m.iValue = -4;
    m.requestUpdate();
    EXPECT_EQ(m.setup(), QOR_RES_OK);
    EXPECT_TRUE(m.isSetup());
    EXPECT_EQ(mc.sTST.value, -4);
    EXPECT_TRUE(mc.sTST.updateNeeded);
    m.clearFlags();
    EXPECT_FALSE(m.isSetup());
    EXPECT_FALSE(m.isUpdateRequested());
}

TEST(ModuleTemplate, DefaultsFileFromTwoModules) {
    ParameterList l;
    ModuleTST().save(l, ModuleBase::SAVE_DEF);
    ModuleHKS().save(l, ModuleBase::SAVE_DEF);
    std::ostringstream os;
    ParameterFileParser::saveGrouped(l, os, true);
    EXPECT_EQ(os.str(), "// Hook test parameters\n"
                        "HKS_MODE LINEAR // string\n"
                        "HKS_RATIO 0 // double range=[0,16] (0: no ratio)\n"
                        "\n"
                        "// Test module parameters\n"
                        "TST_ARRAY 127 127 127 127 // int[4] range=[-128,127]\n"
                        "TST_ENABLE 1 // bool {0,1}\n"
                        "TST_FORMAT NONE // string\n"
                        "TST_GAIN 1.25 // double range=[0.5,4]\n"
                        "TST_INT 3 // int range=[-10,10]\n"
                        "TST_SHORT -5 // int range=[-2048,2047]\n"
                        "TST_UNSIGNED 64 // unsigned range=[0,32767]\n"
                        "TST_VECTOR 0.5 1 1.5 // float[3] range=[0,2]\n"
                        "\n"
                        "\n");
}

TEST(ModuleTemplate, ConcurrentSavesEachGetTheGroup) {
    std::vector<ParameterList> lists(8);
    std::vector<std::thread> threads;
    for (ParameterList &l : lists) {
        threads.emplace_back([&l] { ModuleHKS().save(l, ModuleBase::SAVE_VAL); });
    }
    for (std::thread &t : threads)
        t.join();
    for (const ParameterList &l : lists) {
        EXPECT_EQ(l.getGroup("ModuleHKS").parameters, (std::set<std::string>{"HKS_MODE", "HKS_RATIO"}));
    }
}
