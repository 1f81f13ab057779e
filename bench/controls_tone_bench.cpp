// Per-frame cost of the tone-mapping and light-based controls: one update on the statistics of a 1920 x 1080 frame
// (made by the statistics synthesiser from two charts), which computes the correction and writes it into the setup
// modules of the pipeline. "allocs_per_frame" counts the
// heap allocations of one update in steady state (builds without AddressSanitizer); it must stay 0.
#include <benchmark/benchmark.h>

#include <memory>

#include "alloc_counter.h"

#include "controls/tone_rig.h"
#include "ispc/ControlLBC.h"
#include "ispc/ControlTNM.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleSHA.h"
#include "ispc/ModuleTNM.h"
#include "support/stats_synth.h"

using namespace ISPC;

namespace {

/** Two frames of 1920 x 1080 pixels with different luma distributions, alternated so every update works. */
struct Frames {
    Metadata frame[2];
    Frames() {
        norva_test::StatsSynth synth;
        norva_test::SynthState state;
        state.hisRegion = false;
        state.fosRoi = false;
        state.fosGrid = false;
        state.fldEnabled = false;
        state.exposureUs = 10000;
        state.gain = 2.0;
        // A dim chart with a wide spread of patches, and a brighter one with a narrow spread.
        synth.frame(norva_test::SynthScene::Chart(1920, 1080, 1e-6, 2e-4), state, frame[0]);
        synth.frame(norva_test::SynthScene::Chart(1920, 1080, 1e-5, 3e-5), state, frame[1]);
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
        tnm.update(frames.frame[n++ & 1]);
        benchmark::DoNotOptimize(rig.module<ModuleTNM>().aCurve);
    });
}
BENCHMARK(ToneMappingUpdate);

void LightBasedUpdate(benchmark::State &state) {
    norva_test::ModuleRig rig{new ModuleSHA(), new ModuleR2Y(), new ModuleHIS()};
    rig.sensor.setExposureGainState(10000, 2.0);
    ControlLBC lbc;
    lbc.addPipeline(rig.pipeline.get());
    lbc.setPipelineOwner(rig.pipeline.get());
    // A calibration of the full size, so the interpolation walks the whole list.
    for (int i = 0; i < ControlLBC::MAX_CONFIGURATIONS; i++) {
        LightCorrection c;
        c.lightLevel = 0.001 * (i + 1) * (i + 1);
        c.sharpness = 0.8 - 0.03 * i;
        lbc.addConfiguration(c);
    }
    Frames frames;
    unsigned n = 0;
    countAllocations(state, [&] {
        lbc.update(frames.frame[n++ & 1]);
        benchmark::DoNotOptimize(rig.module<ModuleR2Y>().fSaturation);
    });
}
BENCHMARK(LightBasedUpdate);

} // namespace
