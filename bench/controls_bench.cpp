// Per-frame cost of the control loops on synthesised 1920x1080 statistics: the exposure control on a frame that
// plans (metering, reachable target, the plan; the sensor is left alone), the focus control while it scans, and
// the denoise control. "allocs_per_frame" counts the heap allocations of one update (builds without
// AddressSanitizer); it must stay 0.
#include <benchmark/benchmark.h>

#include "alloc_counter.h"

#include "ispc/ControlAE.h"
#include "ispc/ControlAF.h"
#include "ispc/ControlDNS.h"
#include "ispc/ModuleDNS.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleHIS.h"
#include "support/stats_synth.h"
#include "support/test_sensor.h"

using namespace ISPC;

namespace {

/** A 1920x1080 pipeline with the statistics modules, and one frame of synthesised statistics of a dark chart. */
struct Bench {
    norva_test::TestRig rig;
    Metadata md{};

    Bench() {
        rig.pipeline->registerModule(new ModuleHIS());
        rig.pipeline->registerModule(new ModuleFOS());
        rig.pipeline->registerModule(new ModuleDNS());
    }
    void synthesise() {
        norva_test::SynthState st = norva_test::SynthStateOf(*rig.pipeline);
        st.exposureUs = 1000;
        st.gain = 1;
        norva_test::StatsSynth synth;
        synth.frame(norva_test::SynthScene::Chart(1920, 1080, 1e-6, 2e-5), st, md);
    }
    template <typename C> void attach(C &control) {
        control.addPipeline(rig.pipeline.get());
        control.setPipelineOwner(rig.pipeline.get());
    }
};

void report(benchmark::State &state, long before, long frames) {
    if (norva_bench::CountsAllocations() && frames > 0) {
        state.counters["allocs_per_frame"] =
            static_cast<double>(norva_bench::Allocations() - before) / static_cast<double>(frames);
    }
}

void AutoExposurePlan(benchmark::State &state) {
    Bench b;
    ControlAE ae;
    b.attach(ae);
    ae.configureStatistics();
    ae.enableCorrection(false); // plan on every frame (the dark chart never converges), program nothing
    b.synthesise();
    ae.update(b.md);
    long frames = 0;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        ae.update(b.md);
        benchmark::DoNotOptimize(ae.getNewExposure());
        frames++;
    }
    report(state, before, frames);
}
BENCHMARK(AutoExposurePlan);

/** The focus control with a range of 0 to 1000 on a sensor whose lens never moves: it scans for ever. */
class ScanningAF : public ControlAF {
public:
    void widen() {
        minFocusDistance = 0;
        maxFocusDistance = 1000;
    }
};

void AutoFocusScanning(benchmark::State &state) {
    Bench b;
    ScanningAF af;
    b.attach(af);
    b.synthesise();
    af.update(b.md); // initialises
    af.widen();
    af.setCommand(ControlAF::AF_TRIGGER);
    for (int i = 0; i < 4; i++) {
        af.update(b.md);
    }
    if (af.getState() != ControlAF::AF_SCANNING) {
        state.SkipWithError("not scanning");
        return;
    }
    long frames = 0;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        af.update(b.md);
        benchmark::DoNotOptimize(af.getSharpness());
        frames++;
    }
    if (af.getState() != ControlAF::AF_SCANNING) {
        state.SkipWithError("stopped scanning");
    }
    report(state, before, frames);
}
BENCHMARK(AutoFocusScanning);

void DenoiseGain(benchmark::State &state) {
    Bench b;
    ControlDNS dns;
    b.attach(dns);
    long frames = 0;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        dns.update(b.md);
        benchmark::DoNotOptimize(dns.getSensorGain());
        frames++;
    }
    report(state, before, frames);
}
BENCHMARK(DenoiseGain);

} // namespace

BENCHMARK_MAIN();
