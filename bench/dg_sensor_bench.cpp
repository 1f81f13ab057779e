// Per-frame cost of the data-generator pseudo-sensor "DOR Idazida" on the simulated platform: one insertion
// (load the frame when it is a new one, pack it, copy it into the generator's mapping, send it).
//
// Counters, per inserted frame:
//   allocs_per_frame  heap allocations the stack makes inside the insertion (counted in builds without
//                     AddressSanitizer); device_allocs_per_frame: those of the simulated device (its command trace)
//   file_bytes_read   bytes the process read from files during the insertions (/proc/self/io "rchar")
// The device's decoding of the frame (the capture engine's side) runs outside the timed region.
//
// StillFrame: outside video mode the same frame is sent every time; it is held and packed once, so neither
// allocation nor file reading happens per frame. Video: three frames in turn, each read from the file again.
#include <benchmark/benchmark.h>

#include "alloc_counter.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>

#include "../tests/support/dg_nrv.h"
#include "ci/ci_api.h"
#include "platform/sim_frame_source.h"
#include "platform/sim_isp.h"
#include "platform/sim_platform.h"
#include "sensorapi/sensorapi.h"
#include "sensors/iifdatagen.h"
#include "sys/sys_seam.h"
#include "norvacommon/userlog.h"

namespace {

SEAM_OPS gDevice;

/** The simulated device, with its own allocations (its command trace) counted apart from the stack's. */
long deviceIoctl(int fd, unsigned long request, void *arg) {
    norva_bench::SetInDevice(true);
    const long r = norva_sim::SimulationOps()->ioctl(fd, request, arg);
    norva_bench::SetInDevice(false);
    return r;
}

/** Bytes this process has read through read system calls so far. */
long long bytesRead() {
    FILE *f = std::fopen("/proc/self/io", "r");
    if (!f)
        return -1;
    char line[128];
    long long v = -1;
    while (std::fgets(line, sizeof(line), f)) {
        if (std::sscanf(line, "rchar: %lld", &v) == 1)
            break;
    }
    std::fclose(f);
    return v;
}

/** The NRV file of one benchmark run, removed at its end. */
std::string benchFile(uint32_t w, uint32_t h, unsigned depth, unsigned frames) {
    const std::string path = "/tmp/norva_dg_bench_" + std::to_string(getpid()) + ".nrv";
    return dg_nrv::write(path, w, h, depth, frames) ? path : std::string();
}

/** Takes the queued frame as the capture engine does, so the buffer comes back. */
void consume(unsigned gasket) {
    std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
    norva_sim::SourceFrame frame;
    if (norva_sim::TakeSourceFrame(gasket, &frame))
        norva_sim::MarkSourceFrameProcessed(frame);
}

void run(benchmark::State &state, bool video) {
    const uint32_t w = static_cast<uint32_t>(state.range(0));
    const uint32_t h = static_cast<uint32_t>(state.range(1));
    const unsigned depth = static_cast<unsigned>(state.range(2));
    const unsigned frames = video ? 3 : 1;
    LOG_SetLevel(LOG_LEVEL_ERROR);
    const std::string path = benchFile(w, h, depth, frames);
    gDevice = *norva_sim::SimulationOps();
    gDevice.ioctl = deviceIoctl;
    SEAM_Override(&gDevice);
    norva_sim::ResetPlatform();
    CI_CONNECTION *conn = nullptr;
    SENSOR_HANDLE sensor = nullptr;
    if (path.empty() || CI_DriverInit(&conn) != QOR_RES_OK || Sensor_Initialise(0, &sensor) != QOR_RES_OK ||
        IIFDG_ExtendedSetConnection(sensor, conn) != QOR_RES_OK ||
        IIFDG_ExtendedSetSourceFile(sensor, path.c_str()) != QOR_RES_OK ||
        IIFDG_ExtendedSetIsVideo(sensor, video ? QOR_TRUE : QOR_FALSE) != QOR_RES_OK ||
        IIFDG_ExtendedSetBlanking(sensor, 100, 14) != QOR_RES_OK || Sensor_Enable(sensor) != QOR_RES_OK) {
        state.SkipWithError("could not set up the pseudo-sensor");
        if (!path.empty())
            unlink(path.c_str());
        return;
    }
    // The first insertion loads and packs the frame and takes the packing buffer: not part of the steady state.
    Sensor_Insert(sensor);
    consume(0);
    Sensor_WaitProcessed(sensor);

    long allocations = 0, deviceAllocations = 0;
    const long long readBefore = bytesRead();
    for (auto _ : state) {
        const long before = norva_bench::Allocations();
        const long deviceBefore = norva_bench::DeviceAllocations();
        if (Sensor_Insert(sensor) != QOR_RES_OK) {
            state.SkipWithError("insertion failed");
            break;
        }
        allocations += norva_bench::Allocations() - before;
        deviceAllocations += norva_bench::DeviceAllocations() - deviceBefore;
        state.PauseTiming();
        consume(0);
        Sensor_WaitProcessed(sensor);
        state.ResumeTiming();
    }
    const long long readAfter = bytesRead();
    const double n = static_cast<double>(state.iterations());
#if !defined(__SANITIZE_ADDRESS__)
    state.counters["allocs_per_frame"] = n > 0 ? static_cast<double>(allocations) / n : 0.0;
    state.counters["device_allocs_per_frame"] = n > 0 ? static_cast<double>(deviceAllocations) / n : 0.0;
#else
    (void)allocations;
    (void)deviceAllocations;
#endif
    state.counters["file_bytes_read"] = n > 0 ? static_cast<double>(readAfter - readBefore) / n : 0.0;
    state.counters["frames_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(n) * w * h * 2);

    Sensor_Disable(sensor);
    Sensor_Destroy(sensor);
    CI_DriverFinalise(conn);
    norva_sim::ResetPlatform();
    SEAM_Override(nullptr);
    unlink(path.c_str());
}

void StillFrame(benchmark::State &state) { run(state, false); }
void Video(benchmark::State &state) { run(state, true); }

} // namespace

BENCHMARK(StillFrame)
    ->Args({1920, 1080, 10})
    ->Args({1920, 1080, 12})
    ->Args({3840, 2160, 12})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(Video)->Args({1920, 1080, 10})->Args({1920, 1080, 12})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
