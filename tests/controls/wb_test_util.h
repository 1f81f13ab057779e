#ifndef NORVA_TESTS_CONTROLS_WB_TEST_UTIL_H
#define NORVA_TESTS_CONTROLS_WB_TEST_UTIL_H

// Shared pieces of the white-balance tests: calibrations written as setup-file text, and a pipeline of the
// modules the white-balance controls program, whose statistics come from the synthesiser.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ispc/ModuleAWS.h"
#include "ispc/ModuleCCM.h"
#include "ispc/ModuleWBC.h"
#include "ispc/ModuleWBS.h"
#include "ispc/ParameterFileParser.h"
#include "support/output_capture.h"
#include "support/test_sensor.h"
#include "support/wb_synth.h"

namespace norva_test {

inline ISPC::ParameterList wbListOf(const std::string &text) {
    std::istringstream is(text);
    ISPC::ParameterList l;
    ISPC::ParameterFileParser::parse(is, l);
    return l;
}

/**
 * Two calibration points with non-symmetric, neutral-preserving matrices (every row sums to 1) and zero
 * offsets: 3000 K with gains 1.2, 1, 1, 2.8 and 6500 K with gains 1.9, 1, 1, 1.6.
 */
inline std::string twoPointCalibration() {
    return "WB_CORRECTIONS 2\n"
           "WB_TEMPERATURE_0 6500\n"
           "WB_CCM_0 1.3 -0.2 -0.1 -0.15 1.25 -0.1 0.05 -0.35 1.3\n"
           "WB_OFFSETS_0 0 0 0\n"
           "WB_GAINS_0 1.9 1 1 1.6\n"
           "WB_TEMPERATURE_1 3000\n"
           "WB_CCM_1 1.5 -0.3 -0.2 -0.25 1.4 -0.15 0 -0.5 1.5\n"
           "WB_OFFSETS_1 0 0 0\n"
           "WB_GAINS_1 1.2 1 1 2.8\n";
}

/** A 640x480 sensor's pipeline with the modules the white-balance controls use, set up once. */
struct WbRig {
    WbRig() : rig(640, 480) {
        wbc = new ISPC::ModuleWBC2_6();
        ccm = new ISPC::ModuleCCM();
        wbs = new ISPC::ModuleWBS();
        aws = new ISPC::ModuleAWS();
        for (ISPC::SetupModule *m : std::initializer_list<ISPC::SetupModule *>{wbc, ccm, wbs, aws}) {
            EXPECT_EQ(rig.pipeline->registerModule(m), QOR_RES_OK);
        }
    }
    /** Owner and only pipeline of the control. */
    void attach(ISPC::ControlModule &c) {
        ASSERT_EQ(c.addPipeline(rig.pipeline.get()), QOR_RES_OK);
        stderrOf([&] { ASSERT_EQ(c.setPipelineOwner(rig.pipeline.get()), QOR_RES_OK); });
    }
    /** Sets up the modules whose update was requested (as the next enqueue does); the LSH warning is dropped. */
    void setup() {
        for (ISPC::SetupModule *m : std::initializer_list<ISPC::SetupModule *>{wbc, ccm, wbs, aws}) {
            stderrOf([&] { m->setup(); });
        }
    }
    const MC_PIPELINE &mc() { return rig.mc(); }

    TestRig rig;
    ISPC::ModuleWBC2_6 *wbc;
    ISPC::ModuleCCM *ccm;
    ISPC::ModuleWBS *wbs;
    ISPC::ModuleAWS *aws;
};

} // namespace norva_test

#endif
