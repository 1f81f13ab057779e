#ifndef NORVA_TEST_ISPC_SIM_PLATFORM_FIXTURE_H
#define NORVA_TEST_ISPC_SIM_PLATFORM_FIXTURE_H

#include <gtest/gtest.h>

#include "ci/ci_ioctrl.h"
#include "platform/sim_platform.h"
#include "sys/sys_seam.h"

namespace norva_test {

/** A fresh simulated platform per test; the test must leave no descriptor, mapping or driver object behind. */
class IspcSimTest : public testing::Test {
protected:
    void SetUp() override {
        SEAM_Override(norva_sim::SimulationOps());
        norva_sim::ResetPlatform();
    }
    void TearDown() override {
        const norva_sim::PlatformCounters c = norva_sim::GetCounters();
        EXPECT_EQ(c.openDescriptors, 0);
        EXPECT_EQ(c.liveMappings, 0);
        EXPECT_EQ(c.driverObjects, 0);
        norva_sim::ResetPlatform();
        SEAM_Override(nullptr);
    }

    static int openDescriptors() { return norva_sim::GetCounters().openDescriptors; }

    /** How many times the device was asked for its description, i.e. how many times it was opened. */
    static int deviceOpens() {
        int n = 0;
        for (const norva_sim::TraceEntry &e : norva_sim::Trace()) {
            n += e.nr == CI_INFO_GET ? 1 : 0;
        }
        return n;
    }
};

} // namespace norva_test

#endif
