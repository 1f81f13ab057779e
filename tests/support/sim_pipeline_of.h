#ifndef NORVA_TEST_SIM_PIPELINE_OF_H
#define NORVA_TEST_SIM_PIPELINE_OF_H

#include "platform/sim_pipeline.h"

namespace norva_test {

/** The simulated device's pipeline registered for a capture context number; -1 when there is none. */
inline int DevicePipelineOfContext(int context) {
    for (int id = 1; id < 64; id++) {
        norva_sim::SimPipelineView v;
        if (norva_sim::GetSimPipeline(id, &v) && v.info.config.ui8Context == context)
            return id;
    }
    return -1;
}

} // namespace norva_test

#endif
