// Per-frame cost of a capture context on the data generator at 640 x 480: the runtime settings the element applies
// before every frame, in its order, then the enqueue that sets up the requested modules and programs the pipeline.
// "NothingChanged" applies the same values every frame; "OneValueChanged" alternates the brightness. The acquire
// and release of the frame (the simulated image model) are outside the timing. "allocs_per_frame" counts the
// stack's heap allocations in the timed part (builds without AddressSanitizer; the simulated device's own are
// counted apart); it must stay 0.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "alloc_counter.h"

#include "norvacommon/userlog.h"
#include "platform/sim_platform.h"
#include "scenes/scene_nrv.h"
#include "sys/sys_seam.h"
#include "testcontext.h"
#include "testparam.h"

namespace {

SEAM_OPS gOps;

long deviceIoctl(int fd, unsigned long request, void *arg) {
    norva_bench::SetInDevice(true);
    const long r = norva_sim::SimulationOps()->ioctl(fd, request, arg);
    norva_bench::SetInDevice(false);
    return r;
}

/** A main context on a 640 × 480 scene with an NV12 output of the full size, capturing. */
struct Rig {
    std::string dir;
    TEST_PARAM param;
    std::unique_ptr<TestContext> context;
    bool ok = false;

    Rig() {
        LOG_SetLevel(LOG_LEVEL_ERROR);
        gOps = *norva_sim::SimulationOps();
        gOps.ioctl = deviceIoctl;
        SEAM_Override(&gOps);
        norva_sim::ResetPlatform();
        char pattern[] = "/tmp/norva-context-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            return;
        dir = pattern;
        const std::string scene = dir + "/scene.nrv", setup = dir + "/setup.txt";
        if (norva_scenes::WriteSceneNrv(scene, 640, 480, 10, MOSAIC_RGGB, 1) != QOR_RES_OK)
            return;
        std::FILE *f = std::fopen(setup.c_str(), "w");
        if (f == nullptr)
            return;
        std::fputs("// neutral\n", f);
        std::fclose(f);
        TEST_PARAM::setString(param.dgInputFile[0], scene.c_str());
        TEST_PARAM::setString(param.setupFiles[0], setup.c_str());
        param.gasketUsesIntDG[0] = true;
        param.gasketIntDG[0] = 0;
        param.dgInputFrames[0] = 0;
        param.nBuffers[0] = 2;
        param.bNoWrite = true;
        context.reset(new TestContext());
        BufferFormat nv12;
        nv12.format = YUV_420_PL12_8;
        nv12.width = 640;
        nv12.height = 480;
        ok = context->preconfigure(param, 0) && context->configureOutput(nv12, nullptr) &&
             context->pCamera->startCapture() == QOR_RES_OK;
        // One frame before measuring: what is made once, on first use, is not a per-frame cost.
        ok = ok && settingsAndEnqueue(0.0) && acquireAndRelease();
    }
    ~Rig() {
        context.reset();
        if (!dir.empty())
            std::system(("rm -rf '" + dir + "'").c_str());
        norva_sim::ResetPlatform();
        SEAM_Override(nullptr);
    }

    /** The element's per-frame settings in its order (manual white balance, auto exposure on, flicker at 50 Hz),
     * then the enqueue. */
    bool settingsAndEnqueue(double brightness) {
        TestContext &c = *context;
        bool ok = c.setWhiteBalanceCorrectionType(5) && c.setRedBalance(1.0) && c.setBlueBalance(1.0);
        ok = ok && c.setBrightness(brightness) && c.setContrast(1.0) && c.setSaturation(1.0) && c.setSharpness(0.5) &&
             c.setDenoiserLevel(0.5) && c.enableBlackWhiteMode(false) && c.enableWDRAuto(false) && c.setWDRLevel(0.0);
        ok = ok && c.enableFlickerRejection(true, 100.0) && c.enableAutoFlickerRejection(false);
        ok = ok && c.setFosROI(0, 0, c.getMaxImageWidth(), c.getMaxImageHeight()) &&
             c.setHistStatROI(160, 120, 320, 240);
        ISPC::Sensor &sensor = *c.getSensor();
        (void)sensor.setExposureTimeStep(1);
        ok = ok && c.enableAutoExposure(true);
        ok = ok && c.setAeTargetBrightness(0.0) && c.setMinAeGain(1.0) && c.setMaxAeGain(8.0) &&
             c.setTargetAeGain(sensor.getMinGain()) && c.setMinAeExposure(100) && c.setMaxAeExposure(30000) &&
             c.setTargetExposureTime(10000) && c.enableBlcAuto(false) && c.setBlcLevel(0.0);
        c.setWavelength(0.55);
        return ok && c.pCamera->enqueueShot() == QOR_RES_OK;
    }

    bool acquireAndRelease() {
        ISPC::Shot shot;
        const bool got = context->pCamera->acquireShot(shot, true) == QOR_RES_OK;
        const bool released = shot.pCIBuffer == nullptr || context->pCamera->releaseShot(shot) == QOR_RES_OK;
        return got && released;
    }
};

void run(benchmark::State &state, bool changeOne) {
    Rig rig;
    if (!rig.ok) {
        state.SkipWithError("capture context could not be configured");
        return;
    }
    long frames = 0, allocations = 0;
    for (auto _ : state) {
        const double brightness = changeOne && (frames % 2) != 0 ? 0.1 : 0.0;
        const long before = norva_bench::Allocations();
        if (!rig.settingsAndEnqueue(brightness)) {
            state.SkipWithError("settings or enqueue failed");
            break;
        }
        allocations += norva_bench::Allocations() - before;
        state.PauseTiming();
        const bool ok = rig.acquireAndRelease();
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("acquire failed");
            break;
        }
        frames++;
    }
    if (norva_bench::CountsAllocations() && frames > 0)
        state.counters["allocs_per_frame"] = static_cast<double>(allocations) / static_cast<double>(frames);
}

void NothingChanged(benchmark::State &state) { run(state, false); }
void OneValueChanged(benchmark::State &state) { run(state, true); }
BENCHMARK(NothingChanged)->Unit(benchmark::kMicrosecond);
BENCHMARK(OneValueChanged)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
