// Per-frame cost of the tone-mapping and light-based controls: one update on the statistics of a frame, which
// computes the correction and writes it into the setup modules of the pipeline. "allocs_per_frame" counts the
// heap allocations of one update in steady state (builds without AddressSanitizer); it must stay 0.
#include <benchmark/benchmark.h>

#include <memory>

#include "alloc_counter.h"

#include "controls/tone_rig.h"
#include "ispc/ControlTNM.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleTNM.h"

using namespace ISPC;

namespace {

/** Two frames of 1920 x 1080 pixels with different luma distributions, alternated so every update works. */
struct Frames {
    std::unique_ptr<Metadata> frame[2];
    Frames() {
        unsigned a[64], b[64];
        for (unsigned i = 0; i < 64; i++) {
            // A dark scene with a bright window, and a mid-grey scene.
            a[i] = i < 20 ? 60000 + 1000 * i : (i > 56 ? 40000 : 5000);
            b[i] = 2000 + (i > 24 && i < 40 ? 100000 : 0);
        }
        frame[0] = norva_test::metadataWith(a);
        frame[1] = norva_test::metadataWith(b);
    }
};

template <class Setup> void countAllocations(benchmark::State &state, Setup &&step) {
    long frames = 0;
    step(); // the first update may build what later ones reuse
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        step();
        frames++;
    }
    if (norva_bench::CountsAllocations() && frames > 0) {
        state.counters["allocs_per_frame"] =
            static_cast<double>(norva_bench::Allocations() - before) / static_cast<double>(frames);
    }
}

void ToneMappingUpdate(benchmark::State &state) {
    norva_test::ModuleRig rig{new ModuleTNM(), new ModuleHIS()};
    rig.sensor.setGainRange(1.0, 16.0);
    rig.sensor.setExposureGainState(33000, 4.0);
    ControlTNM tnm;
    tnm.addPipeline(rig.pipeline.get());
    tnm.setPipelineOwner(rig.pipeline.get());
    tnm.enableAdaptiveTNM(true);
    tnm.enableLocalTNM(true);
    tnm.setLocalStrength(1.0);
    tnm.setTempering(0.0); // no flattening: the whole equalisation runs
    Frames frames;
    unsigned n = 0;
    countAllocations(state, [&] {
        tnm.update(*frames.frame[n++ & 1]);
        benchmark::DoNotOptimize(rig.module<ModuleTNM>().aCurve);
    });
}
BENCHMARK(ToneMappingUpdate);

} // namespace

BENCHMARK_MAIN();
