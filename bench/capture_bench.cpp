// Per-frame cost of capture through the simulated device: trigger, acquire and release of one 640x480 frame with
// an NV12 encoder and an RGB display output, three shots in flight.
//
// CaptureLoopPattern: the device writes the test pattern into both outputs (about 1.4 MB per frame).
// CaptureLoopNoImage: the frame source writes nothing, so the figure is the library's and the engine's own
// cost per frame (the device's command trace included).
// CaptureLoopModel1080/threads: a 1920x1080 Bayer source whose frames go through the image model (NV12 encoder and
// RGB display outputs, every statistic) on the device's worker pool of 1 or 4 threads.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "ci/ci_api.h"
#include "ci/ci_capture.h"
#include "ci/ci_pipeline.h"
#include "mc/mc_pipeline.h"
#include "norvacommon/ci_alloc_info.h"
#include "platform/sim_capture.h"
#include "platform/sim_isp.h"
#include "platform/sim_platform.h"
#include "support/bayer_scene.h"
#include "sys/sys_seam.h"

namespace {

constexpr unsigned kWidth = 640, kHeight = 480;

/** A Bayer chart delivered as the gasket's samples: the device processes it with the image model. */
class BayerChart : public norva_sim::SimFrameSource {
public:
    BayerChart(uint32_t w, uint32_t h) {
        norva_test::SceneOptions o;
        o.width = w;
        o.height = h;
        o.bitDepth = 10;
        o.mosaic = MOSAIC_RGGB;
        scene = norva_test::MakeTestChart(o);
    }
    bool ready(unsigned) override { return true; }
    bool begin(unsigned) override { return true; }
    void render(const norva_sim::SimFrameContext &) override {}
    bool bayer(unsigned, norva_sim::IspInputFrame *frame) override {
        frame->samples = scene.samples.data();
        frame->width = scene.options.width;
        frame->height = scene.options.height;
        frame->rowStride = scene.options.width;
        frame->bitDepth = scene.options.bitDepth;
        return true;
    }
    void end(unsigned) override {}

private:
    norva_test::BayerScene scene;
};

class NoImage : public norva_sim::SimFrameSource {
public:
    bool ready(unsigned) override { return true; }
    bool begin(unsigned) override { return true; }
    void render(const norva_sim::SimFrameContext &) override {}
    void end(unsigned) override {}
};

struct Capture {
    CI_CONNECTION *conn = nullptr;
    CI_PIPELINE *pipe = nullptr;
    std::unique_ptr<MC_PIPELINE> mc{new MC_PIPELINE()};

    explicit Capture(norva_sim::SimFrameSource *source, unsigned width = kWidth, unsigned height = kHeight,
                     unsigned threads = 0) {
        SEAM_Override(norva_sim::SimulationOps());
        norva_sim::ResetPlatform();
        if (threads != 0) {
            std::lock_guard<std::mutex> lock(norva_sim::PlatformMutex());
            norva_sim::IspDevice().modelThreads = threads;
        }
        norva_sim::SetFrameSource(0, source);
        CI_DriverInit(&conn);
        CI_PipelineCreate(&pipe, conn);
        memset(mc.get(), 0, sizeof(MC_PIPELINE));
        MC_IIFInit(&mc->sIIF);
        mc->sIIF.ui16ImagerSize[0] = width / 2;
        mc->sIIF.ui16ImagerSize[1] = height / 2;
        MC_PipelineInit(mc.get(), &conn->sHWInfo);
        mc->eEncOutput = YUV_420_PL12_8;
        mc->eDispOutput = RGB_888_24;
        int mask = 0;
        MC_PipelineConvert(mc.get(), pipe, &mask);
        pipe->sToneMapping.bBypassTNM = 1;
        pipe->config.ui8Context = 0;
        pipe->sImagerInterface.ui8Imager = 0;
        if (CI_PipelineRegister(pipe) != QOR_RES_OK || CI_PipelineComputeLinestore(pipe) != QOR_RES_OK ||
            CI_PipelineAddPool(pipe, 3) != QOR_RES_OK) {
            abort();
        }
        CI_SIZEINFO enc, disp;
        CI_ALLOC_YUVSizeInfo(&pipe->config.eEncType, width, height, nullptr, &enc);
        CI_ALLOC_RGBSizeInfo(&pipe->config.eDispType, width, height, nullptr, &disp);
        for (int i = 0; i < 3; i++) {
            if (CI_PipelineAllocateBuffer(pipe, CI_TYPE_ENCODER,
                                          enc.ui32Stride * enc.ui32Height + enc.ui32CStride * enc.ui32CHeight, 0,
                                          nullptr) != QOR_RES_OK ||
                CI_PipelineAllocateBuffer(pipe, CI_TYPE_DISPLAY, disp.ui32Stride * disp.ui32Height, 0, nullptr) !=
                    QOR_RES_OK) {
                abort();
            }
        }
        if (CI_PipelineStartCapture(pipe) != QOR_RES_OK)
            abort();
        for (int i = 0; i < 3; i++)
            CI_PipelineTriggerShoot(pipe);
    }
    ~Capture() {
        CI_PipelineDestroy(pipe);
        CI_DriverFinalise(conn);
        norva_sim::SetFrameSource(0, nullptr);
        norva_sim::ResetPlatform();
        SEAM_Override(nullptr);
    }
    void frame(benchmark::State &state) {
        CI_SHOT *shot = nullptr;
        if (CI_PipelineAcquireShot(pipe, &shot) != QOR_RES_OK || CI_PipelineReleaseShot(pipe, shot) != QOR_RES_OK ||
            CI_PipelineTriggerShoot(pipe) != QOR_RES_OK) {
            state.SkipWithError("capture failed");
        }
    }
};

void run(benchmark::State &state, norva_sim::SimFrameSource *source, unsigned width = kWidth, unsigned height = kHeight,
         unsigned threads = 0) {
    Capture c(source, width, height, threads);
    for (auto _ : state) {
        c.frame(state);
        if ((state.iterations() & 1023) == 0)
            norva_sim::ClearTrace();
    }
    norva_sim::ClearTrace();
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_CaptureLoopPattern(benchmark::State &state) { run(state, nullptr); }
BENCHMARK(BM_CaptureLoopPattern);

void BM_CaptureLoopNoImage(benchmark::State &state) {
    NoImage source;
    run(state, &source);
}
BENCHMARK(BM_CaptureLoopNoImage);

void BM_CaptureLoopModel1080(benchmark::State &state) {
    BayerChart source(1920, 1080);
    run(state, &source, 1920, 1080, static_cast<unsigned>(state.range(0)));
}
BENCHMARK(BM_CaptureLoopModel1080)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(4)
    ->Iterations(120)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
