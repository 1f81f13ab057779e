// Per-frame cost of the white-balance path of one pipeline: a white-balance loop writes a new colour
// correction and asks the white-balance statistics for the next strip; the pipeline runs both setups
// (setupRequested) and the two blocks are converted into their register records. "allocs_per_frame"
// counts the heap allocations of one frame (builds without AddressSanitizer); it must stay 0.
#include <benchmark/benchmark.h>

#include "alloc_counter.h"

#include "ci/ci_pipeline.h"
#include "ispc/ModuleCCM.h"
#include "ispc/ModuleWBS.h"
#include "mc/mc_pipeline.h"
#include "support/test_sensor.h"

using namespace ISPC;

namespace {

void WhiteBalancePath(benchmark::State &state) {
    // A 4096 x 2160 region at clip 1.5 is measured in four strips: the strip advances every frame.
    norva_test::TestRig rig(4096, 2160);
    ModuleCCM *ccm = new ModuleCCM();
    ModuleWBS *wbs = new ModuleWBS();
    rig.pipeline->registerModule(ccm);
    rig.pipeline->registerModule(wbs);
    rig.mc().sMGM.fClipMax = 1.5;
    for (int r = 0; r < 2; r++) {
        wbs->aROIEndCoord[r][0] = 4095;
        wbs->aROIEndCoord[r][1] = 2159;
    }
    wbs->ui32NROIEnabled = 2;
    CI_MODULE_CCM ccmRegs = {};
    CI_MODULE_WBS wbsRegs = {};
    double gain = 1.0;
    long frames = 0;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        gain = gain > 1.5 ? 1.0 : gain + 0.001;
        for (int i = 0; i < 9; i++)
            ccm->aMatrix[i] = (i % 4 == 0) ? gain : 0.01;
        ccm->aOffset[0] = -gain;
        wbs->aRedMaxTH[0] = 0.7 + gain / 10;
        ccm->requestUpdate();
        wbs->requestUpdate();
        if (rig.pipeline->setupRequested() != QOR_RES_OK) {
            state.SkipWithError("setup failed");
            break;
        }
        int mask = 0;
        MC_CCMConvert(&rig.mc().sCCM, &ccmRegs, &mask);
        MC_WBSConvert(&rig.mc().sWBS, &wbsRegs, &mask);
        benchmark::DoNotOptimize(ccmRegs);
        benchmark::DoNotOptimize(wbsRegs);
        frames++;
    }
    if (norva_bench::CountsAllocations() && frames > 0) {
        state.counters["allocs_per_frame"] =
            static_cast<double>(norva_bench::Allocations() - before) / static_cast<double>(frames);
    }
}
BENCHMARK(WhiteBalancePath);

} // namespace

BENCHMARK_MAIN();
