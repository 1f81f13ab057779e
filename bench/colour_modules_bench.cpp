// Per-frame cost of the colour setup modules that controls rewrite every frame: the tone mapper (its
// curve and local weight) and the RGB-to-YUV converter (brightness, contrast, saturation), each set up
// and converted into registers as the pipeline does before a shot. "allocs_per_frame" counts heap
// allocations on that path (counted in builds without AddressSanitizer); it must stay 0.
#include <benchmark/benchmark.h>

#include "alloc_counter.h"

#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleTNM.h"
#include "mc/mc_pipeline.h"
#include "support/test_sensor.h"

namespace {

struct Rig {
    norva_test::TestRig rig;
    ISPC::ModuleTNM *tnm = new ISPC::ModuleTNM();
    ISPC::ModuleR2Y *r2y = new ISPC::ModuleR2Y();
    Rig() {
        rig.mc().sIIF.ui16ImagerSize[0] = 960;
        rig.mc().sIIF.ui16ImagerSize[1] = 540;
        ISPC::ModuleOUT *out = new ISPC::ModuleOUT();
        out->encoderType = YUV_420_PL12_8;
        rig.pipeline->registerModule(out);
        rig.pipeline->registerModule(tnm);
        rig.pipeline->registerModule(r2y);
    }
};

void TnmSetupAndConvert(benchmark::State &state) {
    Rig r;
    CI_MODULE_TNM reg{};
    long frames = 0;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        // What the tone control writes each frame.
        for (unsigned i = 0; i < ISPC::ModuleTNM::N_CURVE; i++)
            r.tnm->aCurve[i] = (i + 1 + (frames & 1)) / 65.0;
        r.tnm->fWeightLocal = (frames & 3) / 4.0;
        int mask = 0;
        if (r.tnm->setup() != QOR_RES_OK ||
            MC_TNMConvert(&r.rig.mc().sTNM, &r.rig.mc().sIIF, 1, &reg, &mask) != QOR_RES_OK) {
            state.SkipWithError("tone mapper setup failed");
        }
        benchmark::DoNotOptimize(reg);
        frames++;
    }
    state.counters["allocs_per_frame"] = double(norva_bench::Allocations() - before) / double(frames);
}
BENCHMARK(TnmSetupAndConvert);

void R2YSetupAndConvert(benchmark::State &state) {
    Rig r;
    CI_MODULE_R2Y reg{};
    long frames = 0;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        // What the light-based correction writes each frame.
        r.r2y->fBrightness = (frames & 7) / 64.0;
        r.r2y->fContrast = 1.0 + (frames & 3) / 16.0;
        r.r2y->fSaturation = 1.0 + (frames & 1) / 8.0;
        int mask = 0;
        if (r.r2y->setup() != QOR_RES_OK || MC_R2YConvert(&r.rig.mc().sR2Y, &reg, &mask) != QOR_RES_OK) {
            state.SkipWithError("converter setup failed");
        }
        benchmark::DoNotOptimize(reg);
        frames++;
    }
    state.counters["allocs_per_frame"] = double(norva_bench::Allocations() - before) / double(frames);
}
BENCHMARK(R2YSetupAndConvert);

} // namespace

BENCHMARK_MAIN();
