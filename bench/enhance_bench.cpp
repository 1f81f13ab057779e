// The image enhancer, vibrancy and sharpening: the memory-colour extent search of three slots (run at
// every set-up of all modules and at every output reconfiguration), the sharpening set-up and conversion
// that the light-based control and the sharpness setting run per frame ("allocs_per_frame" must stay 0;
// counted in builds without AddressSanitizer), and one frame of the simulated ISP model on one core with
// the three blocks on (memory colours in all three slots, a vibrancy curve, sharpening with its denoiser)
// at 640x480 and 1920x1080, with the frames per second that makes ("fps").
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "alloc_counter.h"

#include "ispc/ModuleMIE.h"
#include "ispc/ModuleSHA.h"
#include "mc/mc_pipeline.h"
#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "support/bayer_scene.h"
#include "support/test_sensor.h"

namespace {

void MieExtentSearchThreeSlots(benchmark::State &state) {
    const double aspects[3] = {0.0, 0.5, -1.3};
    const double extents[3][4] = {{0.5, 0.5, 0.5, 0.5}, {0.08, 0.1, 0.1, 0.08}, {0.02, 0.3, 1.5, 4.0}};
    for (auto _ : state) {
        for (int j = 0; j < 3; j++) {
            int kb = 0, kr = 0;
            double scale[4];
            ISPC::ModuleMIE::calculateMIEExtentParameters(aspects[j], extents[j], kb, kr, scale);
            benchmark::DoNotOptimize(kb);
            benchmark::DoNotOptimize(scale);
        }
    }
}
BENCHMARK(MieExtentSearchThreeSlots)->Unit(benchmark::kMillisecond);

void ShaSetupAndConvert(benchmark::State &state) {
    norva_test::TestRig rig;
    ISPC::ModuleSHA *sha = new ISPC::ModuleSHA();
    rig.pipeline->registerModule(sha);
    CI_MODULE_SHA reg{};
    long frames = 0;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        sha->fStrength = 0.2 + (frames & 7) / 10.0; // what the light-based control writes
        int mask = 0;
        if (sha->setup() != QOR_RES_OK || MC_SHAConvert(&rig.mc().sSHA, &reg, nullptr, &mask) != QOR_RES_OK) {
            state.SkipWithError("sharpening setup failed");
        }
        benchmark::DoNotOptimize(reg);
        frames++;
    }
    state.counters["allocs_per_frame"] = double(norva_bench::Allocations() - before) / double(frames);
}
BENCHMARK(ShaSetupAndConvert);

void enhancerOn(CI_PIPELINE &r, int blocks) {
    CI_MODULE_MIE &m = r.sImageEnhancer;
    m.bMemoryColour = (blocks & 1) != 0;
    for (int j = 0; j < 3; j++) {
        m.aYOffset[j] = 0;
        m.aYScale[j] = 16;
        m.aCScale[j] = 20;
        m.aRot[2 * j] = 121;
        m.aRot[2 * j + 1] = 39;
        m.aGaussMinY[j] = 260;
        m.aGaussScaleY[j] = 24;
        m.aGaussCB[j] = static_cast<QOR_INT8>(-40 + 40 * j);
        m.aGaussCR[j] = static_cast<QOR_INT8>(50 - 30 * j);
        m.aGaussRot[2 * j] = 127;
        m.aGaussKB[j] = 3;
        m.aGaussKR[j] = 3;
        for (int i = 0; i < 4; i++) {
            m.aGaussScale[4 * j + i] = 20; // wide: most pixels go through the weight
            m.aGaussGain[4 * j + i] = 200;
        }
    }
    m.bVibrancy = (blocks & 2) != 0;
    for (int i = 0; i < 32; i++) {
        m.aVibrancySatMul[i] = static_cast<QOR_UINT16>(std::lround(256.0 * (i < 16 ? 1.5 - i / 32.0 : 1.0)));
    }
    CI_MODULE_SHA &s = r.sSharpening;
    s.ui8Strength = (blocks & 4) != 0 ? 57 : 0;
    s.ui8Threshold = 2;
    s.aGainWeight[0] = 37;
    s.aGainWeight[1] = 22;
    s.aGainWeight[2] = 15;
    s.ui8ELWScale = 63;
    const QOR_UINT8 simil[7] = {3, 3, 2, 2, 1, 1, 0}, avoid[7] = {29, 25, 20, 16, 11, 7, 2};
    for (int k = 0; k < 7; k++) {
        s.aDNSimil[k] = simil[k];
        s.aDNAvoid[k] = avoid[k];
    }
}

void IspModelWithEnhancement(benchmark::State &state) {
    const uint32_t w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    norva_test::SceneOptions o;
    o.width = w;
    o.height = h;
    o.bitDepth = 12;
    const norva_test::BayerScene scene = norva_test::MakeTestChart(o);
    CI_PIPELINE reg{};
    CI_PIPE_INFO info{};
    norva_sim::IspNeutralSettings(w, h, &reg, &info);
    info.config.eEncType.eFmt = YUV_420_PL12_8;
    info.config.eDispType.eFmt = PXL_NONE;
    enhancerOn(reg, int(state.range(2)));
    const CI_MODULE_GMA_LUT gamma = norva_sim::DefaultDescription().sGammaLUT;
    std::vector<uint8_t> enc(size_t(w) * h * 2), stats(norva_sim::kIspStatsSize);
    norva_sim::IspInputFrame in;
    in.samples = scene.samples.data();
    in.width = w;
    in.height = h;
    in.bitDepth = 12;
    norva_sim::IspFrameSettings s;
    s.registers = &reg;
    s.info = &info;
    s.gamma = &gamma;
    norva_sim::IspFrameOutputs out;
    out.encoder.data = enc.data();
    out.encoder.size = enc.size();
    out.statistics = stats.data();
    norva_sim::IspModel model; // no worker pool: the frame is one band in this thread
    if (model.process(in, s, out) != QOR_RES_OK) {
        state.SkipWithError("model refused the frame");
        return;
    }
    long frames = 0;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        model.process(in, s, out);
        frames++;
    }
    state.counters["allocs_per_frame"] = double(norva_bench::Allocations() - before) / double(frames);
    state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
// third argument: the blocks on, 1 memory colours, 2 vibrancy, 4 sharpening (7 all, 0 the rest of the model alone)
BENCHMARK(IspModelWithEnhancement)
    ->Args({640, 480, 0})
    ->Args({640, 480, 1})
    ->Args({640, 480, 2})
    ->Args({640, 480, 4})
    ->Args({640, 480, 7})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 7})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
