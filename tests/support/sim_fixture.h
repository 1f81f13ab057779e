#ifndef NORVA_TEST_CI_SIM_FIXTURE_H
#define NORVA_TEST_CI_SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "platform/sim_platform.h"
#include "sys/sys_seam.h"
#include "support/output_capture.h"

namespace norva_test {

/** Runs a test on a fresh simulated platform and checks that it leaves no descriptor or mapping behind. */
class SimTest : public testing::Test {
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
        EXPECT_EQ(c.deviceMemoryAreas, 0);
        norva_sim::ResetPlatform();
        SEAM_Override(nullptr);
    }
};

} // namespace norva_test

#endif
