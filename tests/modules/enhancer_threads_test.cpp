// The enhancer, vibrancy, sharpening and HDR modules build their saved group, the enhancer its list of
// deprecated tags and the vibrancy module its default curve once per process: threads that load and
// save at the same time, first use included, all see them whole.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ispc/ModuleHDR.h"
#include "ispc/ModuleMIE.h"
#include "ispc/ModuleSHA.h"
#include "ispc/ModuleVIB.h"
#include "module_test_util.h"

using namespace ISPC;

TEST(EnhancerModulesThreads, ConcurrentFirstSavesAndLoadsSeeWholeStatics) {
    constexpr int kThreads = 8;
    std::vector<ParameterList> lists(kThreads);
    std::vector<double> curveEnd(kThreads, -1.0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; i++) {
        threads.emplace_back([&, i] {
            ParameterList &l = lists[i];
            ModuleMIE().save(l, ModuleBase::SAVE_DEF);
            ModuleVIB vib;
            vib.save(l, ModuleBase::SAVE_DEF);
            ModuleSHA().save(l, ModuleBase::SAVE_DEF);
            ModuleHDR().save(l, ModuleBase::SAVE_DEF);
            ModuleMIE mie;
            mie.load(norva_test::listOf("MIE_MC_HUE 1\n"));
            curveEnd[i] = vib.aSaturationCurve[31];
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (int i = 0; i < kThreads; i++) {
        const ParameterList &l = lists[i];
        EXPECT_EQ(l.getGroup("ModuleMIE").parameters.size(), 110u);
        EXPECT_EQ(l.getGroup("ModuleVIB").parameters.size(), 2u);
        EXPECT_EQ(l.getGroup("ModuleSHA").parameters.size(), 6u);
        EXPECT_EQ(l.getGroup("ModuleHDR").parameters.size(), 6u);
        EXPECT_EQ(norva_test::valuesOf(l, "MIE_VIB_SAT_CURVE").size(), 32u);
        EXPECT_EQ(curveEnd[i], 1.0);
    }
}
