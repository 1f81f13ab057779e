// Cost of saving one 1920x1080 capture of each kind to a memory-backed file (/dev/shm) with the one-shot functions
// (kinds 0 Bayer, 1 raw 2D TIFF, 2 RGB display, 3 NV12, 4 raw statistics, 5 text statistics and camera state) and
// of appending a frame to a file already open, of untiling a tiled
// 3840x2160 NV12 frame, and of packing a lens-shading grid into the hardware matrix. The captures come from the
// data-generator camera on the simulated platform, once, before the timing. "allocs_per_op" counts the heap
// allocations of one operation (builds without AddressSanitizer).
#include <benchmark/benchmark.h>

#include "alloc_counter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "ispc/Camera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "ispc/Save.h"
#include "mc/mc_lsh.h"
#include "norvacommon/userlog.h"
#include "platform/sim_platform.h"
#include "sensors/iifdatagen.h"
#include "support/dg_nrv.h"
#include "sys/sys_seam.h"

using namespace ISPC;

namespace {

constexpr uint32_t kW = 1920, kH = 1080;

/** One programmed data-generator camera at 1080p with one shot acquired. */
struct Captured {
    std::unique_ptr<Camera> camera;
    Shot shot;
    bool held = false;

    Captured(const std::string &nrv, const std::string &outputs) {
        camera.reset(new Camera(0, Sensor::GetSensorId(IIFDG_SENSOR_NAME), -1, 0));
        Camera &c = *camera;
        SENSOR_HANDLE h = c.getSensor()->getHandle();
        IIFDG_ExtendedSetConnection(h, c.getConnection());
        IIFDG_ExtendedSetSourceFile(h, nrv.c_str());
        IIFDG_ExtendedSetIsVideo(h, QOR_TRUE);
        IIFDG_ExtendedSetBlanking(h, 100, 14);
        c.init(0, 0);
        c.getPipeline()->registerModule(new ModuleOUT());
        c.getPipeline()->registerModule(new ModuleIIF());
        c.getPipeline()->registerModule(new ModuleBLC());
        c.state = Camera::CAM_REGISTERED;
        std::istringstream text(outputs + "\nBLC_SENSOR_BLACK 0 0 0 0\n");
        ParameterList setup;
        ParameterFileParser::parse(text, setup);
        if (c.loadParameters(setup) != QOR_RES_OK || c.program() != QOR_RES_OK ||
            c.allocateBufferPool(1) != QOR_RES_OK || c.startCapture() != QOR_RES_OK || c.enqueueShot() != QOR_RES_OK ||
            c.getSensor()->insert() != QOR_RES_OK || c.acquireShot(shot) != QOR_RES_OK) {
            std::fprintf(stderr, "capture of '%s' failed\n", outputs.c_str());
            return;
        }
        held = true;
        c.getSensor()->waitProcessed();
    }
    ~Captured() {
        if (held) {
            camera->releaseShot(shot);
        }
        camera->stopCapture();
    }
};

/** The input file and the capture in use; one camera at a time, since they share the data generator. */
struct Fixture {
    std::string nrv;
    std::unique_ptr<Captured> current;
    bool currentIsBayer = false;

    Fixture() {
        LOG_SetLevel(LOG_LEVEL_WARNING);
        SEAM_Override(norva_sim::SimulationOps());
        norva_sim::ResetPlatform();
        nrv = "/dev/shm/norva_bench_save_input.nrv";
        dg_nrv::write(nrv, kW, kH, 12, 1);
    }
    ~Fixture() { std::remove(nrv.c_str()); }

    const Captured &capture(bool bayer) {
        if (!current || currentIsBayer != bayer) {
            current.reset();
            current.reset(new Captured(nrv, bayer ? "OUT_DE BAYER12\nOUT_DE_POINT 1"
                                                  : "OUT_ENC NV12\nOUT_DISP RGB888_24\nOUT_DE_RAW2D TIFF12"));
            currentIsBayer = bayer;
        }
        return *current;
    }
};

Fixture &fixture() {
    static Fixture f;
    return f;
}

void Report(benchmark::State &state, long allocs) {
    if (norva_bench::CountsAllocations()) {
        state.counters["allocs_per_op"] = double(allocs) / double(state.iterations());
    }
}

enum Kind { kBayer, kTiff, kDisplay, kYuv, kStats, kText };

void BM_Save1080p(benchmark::State &state) {
    Fixture &f = fixture();
    const Kind kind = Kind(state.range(0));
    const Captured &c = f.capture(kind == kBayer);
    if (!c.held) {
        state.SkipWithError("no capture");
        return;
    }
    const Pipeline &p = *c.camera->getPipeline();
    const std::string out = "/dev/shm/norva_bench_save.out";
    QOR_RESULT ret = QOR_RES_OK;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        switch (kind) {
        case kBayer:
            ret |= Save::Single(p, c.shot, Save::Bayer, out);
            break;
        case kTiff:
            ret |= Save::Single(p, c.shot, Save::Bayer_TIFF, out);
            break;
        case kDisplay:
            ret |= Save::Single(p, c.shot, Save::Display, out);
            break;
        case kYuv:
            ret |= Save::Single(p, c.shot, Save::YUV, out);
            break;
        case kStats:
            ret |= Save::SingleStats(p, c.shot, out);
            break;
        case kText:
            ret |= Save::SingleTxtStats(*c.camera, c.shot, out);
            break;
        }
    }
    Report(state, norva_bench::Allocations() - before);
    std::remove(out.c_str());
    if (ret != QOR_RES_OK) {
        state.SkipWithError("a save failed");
    }
}
BENCHMARK(BM_Save1080p)
    ->ArgName("kind")
    ->Arg(kBayer)
    ->Arg(kTiff)
    ->Arg(kDisplay)
    ->Arg(kYuv)
    ->Arg(kStats)
    ->Arg(kText)
    ->Unit(benchmark::kMillisecond);

/** Frames appended to a file that stays open: the cost of each save once the file and its writer exist. */
void BM_SaveFrameToOpenFile1080p(benchmark::State &state) {
    Fixture &f = fixture();
    const Kind kind = Kind(state.range(0));
    const Captured &c = f.capture(kind == kBayer);
    if (!c.held) {
        state.SkipWithError("no capture");
        return;
    }
    static const Save::SaveType types[] = {Save::Bayer, Save::Bayer_TIFF, Save::Display, Save::YUV};
    const std::string out = "/dev/shm/norva_bench_save_frames.out";
    Save s;
    if (s.open(types[kind], *c.camera->getPipeline(), out) != QOR_RES_OK) {
        state.SkipWithError("open failed");
        return;
    }
    QOR_RESULT ret = QOR_RES_OK;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        ret |= s.save(c.shot);
    }
    Report(state, norva_bench::Allocations() - before);
    ret |= s.close();
    std::remove(out.c_str());
    if (ret != QOR_RES_OK) {
        state.SkipWithError("a save failed");
    }
}
BENCHMARK(BM_SaveFrameToOpenFile1080p)
    ->ArgName("kind")
    ->Arg(kBayer)
    ->Arg(kTiff)
    ->Arg(kDisplay)
    ->Arg(kYuv)
    ->Iterations(12)
    ->Unit(benchmark::kMillisecond);

void BM_UntileNV12_3840x2160(benchmark::State &state) {
    const uint32_t w = 3840, h = 2160;
    std::vector<uint8_t> tiled(size_t(w) * (h + h / 2 + 16), 0x5A);
    Buffer b{};
    b.width = w;
    b.height = h;
    b.stride = w;
    b.vstride = h;
    b.strideCbCr = w;
    b.vstrideCbCr = h / 2;
    b.offsetCbCr = w * h;
    b.pxlFormat = YUV_420_PL12_8;
    b.data = tiled.data();
    b.isTiled = true;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        Buffer out{};
        if (Save::untileYUV(b, 256, 16, out) != QOR_RES_OK) {
            state.SkipWithError("untiling failed");
            break;
        }
        benchmark::DoNotOptimize(out.data);
        std::free(const_cast<QOR_UINT8 *>(out.data));
    }
    Report(state, norva_bench::Allocations() - before);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(w) * h * 3 / 2);
}
BENCHMARK(BM_UntileNV12_3840x2160)->Unit(benchmark::kMillisecond);

void BM_LSHPack(benchmark::State &state) {
    LSH_GRID g{};
    LSH_CreateMatrix(&g, 960, 540, 16); // a 1920x1080 window in colour-filter cells
    const float bowl[5] = {2.0f, 2.1f, 1.9f, 2.2f, 1.0f};
    for (int c = 0; c < 4; c++) {
        LSH_FillBowl(&g, c, bowl);
    }
    const QOR_UINT8 bits = MC_LSHComputeMinBitdiff(&g, nullptr);
    std::vector<uint8_t> mem(MC_LSHGetSizes(&g, bits, nullptr, nullptr));
    CI_LSHMAT m{};
    m.data = mem.data();
    m.ui32Size = QOR_UINT32(mem.size());
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        if (MC_LSHConvertGrid(&g, bits, &m) != QOR_RES_OK) {
            state.SkipWithError("packing failed");
            break;
        }
        benchmark::DoNotOptimize(mem.data());
    }
    Report(state, norva_bench::Allocations() - before);
    state.counters["vertices"] = double(g.ui16Width) * g.ui16Height;
    LSH_Free(&g);
}
BENCHMARK(BM_LSHPack)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
