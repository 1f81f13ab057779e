#ifndef NORVA_TEST_ISPC_SIM_PLATFORM_FIXTURE_H
#define NORVA_TEST_ISPC_SIM_PLATFORM_FIXTURE_H

#include <gtest/gtest.h>

#include "ci/ci_ioctrl.h"
#include "platform/sim_platform.h"
#include "support/sim_fixture.h"
#include "sys/sys_seam.h"

namespace norva_test {

/** A fresh simulated platform per test (see SimTest), with what the control-core tests ask of it. */
class IspcSimTest : public SimTest {
protected:
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
