// Per-frame cost of the configuration path of one context: MC conversion of the default pipeline,
// load structure and pipeline update, as the owner runs it before every trigger.
//
// ConvertLoadUpdate: the update reaches a minimal driver stand-in that copies the load structure
// (what a driver does), so the figure is the library's own cost; "allocs_per_frame" counts heap
// allocations made on that path (counted in builds without AddressSanitizer).
// ConvertLoadUpdateSimulated: the same through the whole simulated device (trace and decoder included).
#include <benchmark/benchmark.h>

#include "alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ci/ci_api.h"
#include "ci/ci_ioctrl.h"
#include "ci/ci_pipeline.h"
#include "mc/mc_pipeline.h"
#include "platform/sim_node.h"
#include "platform/sim_platform.h"
#include "sys/sys_seam.h"

namespace {

SEAM_OPS gDriverStandIn;
unsigned char gDriverCopy[1268];

/** A driver that takes CI_CONFIG_UPDATE by copying the load structure; everything else goes to the simulation. */
long standInIoctl(int fd, unsigned long request, void *arg) {
    if (request == CI_IOCTL_CMD(CI_CONFIG_UPDATE)) {
        const CI_PIPE_PARAM *param = static_cast<const CI_PIPE_PARAM *>(arg);
        memcpy(gDriverCopy, param->loadstructure, sizeof(gDriverCopy));
        return 0;
    }
    return norva_sim::SimulationOps()->ioctl(fd, request, arg);
}

struct Context {
    CI_CONNECTION *conn = nullptr;
    CI_PIPELINE *pipe = nullptr;
    std::unique_ptr<MC_PIPELINE> mc{new MC_PIPELINE()};

    Context() {
        SEAM_Override(norva_sim::SimulationOps());
        norva_sim::ResetPlatform();
        CI_DriverInit(&conn);
        CI_PipelineCreate(&pipe, conn);
        memset(mc.get(), 0, sizeof(MC_PIPELINE));
        MC_IIFInit(&mc->sIIF);
        mc->sIIF.ui16ImagerSize[0] = 960;
        mc->sIIF.ui16ImagerSize[1] = 540;
        MC_PipelineInit(mc.get(), &conn->sHWInfo);
        mc->eEncOutput = YUV_420_PL12_8;
        mc->sESC.aOutputSize[1] = 1080;
        int mask = 0;
        MC_PipelineConvert(mc.get(), pipe, &mask);
        pipe->config.ui8Context = 0;
        pipe->sImagerInterface.ui8Imager = 0;
        if (CI_PipelineRegister(pipe) != QOR_RES_OK) {
            abort();
        }
    }
    ~Context() {
        SEAM_Override(norva_sim::SimulationOps());
        CI_PipelineDestroy(pipe);
        CI_DriverFinalise(conn);
        SEAM_Override(nullptr);
    }

    void frame(benchmark::State &state) {
        int mask = 0;
        if (MC_PipelineConvert(mc.get(), pipe, &mask) != QOR_RES_OK ||
            CI_PipelineUpdate(pipe, mask, nullptr) != QOR_RES_OK) {
            state.SkipWithError("frame update failed");
        }
    }
};

void BM_ConvertLoadUpdate(benchmark::State &state) {
    Context ctx;
    gDriverStandIn = *norva_sim::SimulationOps();
    gDriverStandIn.ioctl = standInIoctl;
    SEAM_Override(&gDriverStandIn);
    ctx.frame(state); // warm-up
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        ctx.frame(state);
    }
    const long allocations = norva_bench::Allocations() - before;
    if (norva_bench::CountsAllocations()) {
        state.counters["allocs_per_frame"] = static_cast<double>(allocations) / static_cast<double>(state.iterations());
        // proof that the counter sees allocations at all (setup allocates)
        state.counters["allocs_before_loop"] = static_cast<double>(before);
    }
}
BENCHMARK(BM_ConvertLoadUpdate);

void BM_ConvertLoadUpdateSimulated(benchmark::State &state) {
    Context ctx;
    for (auto _ : state) {
        ctx.frame(state);
        if ((state.iterations() & 1023) == 0) {
            norva_sim::ClearTrace();
        }
    }
    norva_sim::ClearTrace();
}
BENCHMARK(BM_ConvertLoadUpdateSimulated);

} // namespace

BENCHMARK_MAIN();
