// The norvasrc element on the data generator at 640 x 480 NV12, in the process (GstHarness), on the simulated
// platform it shares with this program (libnorvaplatform.so).
//
// PerBuffer: buffers pulled in steady state. The data generator's frames are written as the test pattern, so the
// device's share is small; the time spent in device commands (the simulated driver, image output included) is
// measured through the seam and reported apart:
//   device_us        device commands per buffer;
//   overhead_us      the rest of the wall time per buffer: the element with the capture context and camera under
//                    it (runtime settings, module updates, enqueue, acquire and release, wrapping), and the waits
//                    of the hand-over between the streaming thread and the thread that pulls;
//   cpu_us           CPU time per buffer of every thread but the device commands' (the waits left out);
//   copies           buffers whose memory is not the capture buffer itself (the element's allocator);
//   allocs           heap allocations per buffer, every thread, by the project's counter (builds without
//                    AddressSanitizer), device commands excluded;
//   gst_objects      GStreamer objects (buffers, memories, events...) made per buffer, by the leaks tracer: only
//                    when run with GST_TRACERS=leaks, whose weak references then add allocations of their own
//                    (read allocs from a run without it).
// CameraPerFrame: the same frames without the element, through the capture context it uses (exported by the
// plug-in): enqueue, acquire and release of a shot, with overhead_us, cpu_us and allocs measured the same way. The element's own
// cost per buffer is PerBuffer's overhead_us minus this one.
// PlayingToFirstBuffer: a new element from NULL to PLAYING (context built at READY) until the first buffer is
// pulled.
#include <benchmark/benchmark.h>

// Before GStreamer's check library, whose macros (fail) clash with the standard library's streams.
#include "testcontext.h"
#include "testparam.h"

#include <gst/check/gstcheck.h>
#include <gst/check/gstharness.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "alloc_counter.h"
#include "gst_bench_files.h"

#include "platform/sim_capture.h"
#include "platform/sim_node.h"
#include "platform/sim_platform.h"
#include "sys/sys_seam.h"

extern "C" void gst_plugin_norvasrc_register(void);

namespace {

SEAM_OPS gOps;
std::atomic<long long> gDeviceNs{0};

long timedIoctl(int fd, unsigned long request, void *arg) {
    const auto start = std::chrono::steady_clock::now();
    norva_bench::SetInDevice(true);
    const long r = norva_sim::SimulationOps()->ioctl(fd, request, arg);
    norva_bench::SetInDevice(false);
    gDeviceNs.fetch_add(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count(),
        std::memory_order_relaxed);
    return r;
}

/** CPU time of the whole process (every thread), microseconds. */
double processCpuUs() {
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

constexpr const char *kCaps = "video/x-raw, format=NV12, width=640, height=480";

/** The scene, setup and parameter files, written once per process (the element reads the parameter file once). */
using norva_bench::files;

/** A norvasrc in a harness, playing, after the first buffer. */
struct Rig {
    GstElement *src = nullptr;
    GstHarness *h = nullptr;

    Rig() {
        src = gst_element_factory_make("norvasrc", nullptr);
        if (src == nullptr)
            return;
        g_object_set(src, "sensor", "DOR Idazida", "use-dmabuf", FALSE, "alloc-buffers", 4, "preenq-buffers", 1,
                     nullptr);
        h = gst_harness_new_with_element(src, nullptr, "src");
        gst_harness_set_sink_caps_str(h, kCaps);
        gst_harness_use_systemclock(h);
    }
    ~Rig() {
        if (h != nullptr)
            gst_harness_teardown(h);
        if (src != nullptr) {
            gst_element_set_state(src, GST_STATE_NULL);
            gst_object_unref(src);
        }
    }
    bool play() { return gst_element_set_state(src, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE; }
    GstBuffer *pull() { return gst_harness_pull(h); }
};

GstTracer *leaksTracer() {
    GstTracer *found = nullptr;
    GList *tracers = gst_tracing_get_active_tracers();
    for (GList *l = tracers; l != nullptr; l = l->next) {
        if (found == nullptr && g_strcmp0(G_OBJECT_TYPE_NAME(l->data), "GstLeaksTracer") == 0)
            found = GST_TRACER(gst_object_ref(l->data));
    }
    g_list_free_full(tracers, gst_object_unref);
    return found;
}

/** Objects made since the tracer's last checkpoint (or its start of tracking). */
long objectsMade(GstTracer *tracer) {
    GstStructure *checkpoint = nullptr;
    g_signal_emit_by_name(tracer, "activity-get-checkpoint", &checkpoint);
    if (checkpoint == nullptr)
        return 0;
    const GValue *created = gst_structure_get_value(checkpoint, "objects-created-list");
    const long n = created != nullptr ? static_cast<long>(gst_value_list_get_size(created)) : 0;
    gst_structure_free(checkpoint);
    return n;
}

bool isCaptureBuffer(GstBuffer *buffer) {
    GstMemory *memory = gst_buffer_peek_memory(buffer, 0);
    return memory != nullptr && memory->allocator != nullptr &&
           g_strcmp0(G_OBJECT_TYPE_NAME(memory->allocator), "GstNorvaBufAllocator") == 0;
}

void PerBuffer(benchmark::State &state) {
    if (!files().ok) {
        state.SkipWithError("cannot write the input files");
        return;
    }
    norva_sim::RenderDatagenAsTestPattern(true);
    Rig rig;
    if (rig.h == nullptr || !rig.play()) {
        state.SkipWithError("norvasrc does not play");
        return;
    }
    // Warm-up: what is made once (tables, pools) is not a per-buffer cost.
    for (int i = 0; i < 20; i++) {
        GstBuffer *b = rig.pull();
        if (b == nullptr) {
            state.SkipWithError("no buffer");
            return;
        }
        gst_buffer_unref(b);
    }
    const long long device0 = gDeviceNs.load();
    const long allocs0 = norva_bench::Allocations();
    long buffers = 0, copies = 0;
    const double cpu0 = processCpuUs();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        GstBuffer *b = rig.pull();
        if (b == nullptr) {
            state.SkipWithError("no buffer");
            break;
        }
        copies += isCaptureBuffer(b) ? 0 : 1;
        gst_buffer_unref(b);
        buffers++;
    }
    const double wallUs = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    const long allocs = norva_bench::Allocations() - allocs0;
    const double deviceUs = static_cast<double>(gDeviceNs.load() - device0) / 1000.0;
    if (buffers > 0) {
        const double n = static_cast<double>(buffers);
        state.counters["device_us"] = deviceUs / n;
        state.counters["overhead_us"] = (wallUs - deviceUs) / n;
        state.counters["cpu_us"] = (processCpuUs() - cpu0 - deviceUs) / n;
        state.counters["copies"] = static_cast<double>(copies);
        if (norva_bench::CountsAllocations())
            state.counters["allocs"] = static_cast<double>(allocs) / n;
    }
    // The tracer's tracking allocates for every object it records: objects are counted after the timed loop.
    GstTracer *tracer = leaksTracer();
    if (tracer != nullptr && buffers > 0) {
        constexpr int kTracked = 100;
        g_signal_emit_by_name(tracer, "activity-start-tracking");
        for (int i = 0; i < kTracked; i++) {
            GstBuffer *b = rig.pull();
            if (b != nullptr)
                gst_buffer_unref(b);
        }
        state.counters["gst_objects"] = static_cast<double>(objectsMade(tracer)) / kTracked;
        g_signal_emit_by_name(tracer, "activity-stop-tracking");
    }
    if (tracer != nullptr)
        gst_object_unref(tracer);
    norva_sim::RenderDatagenAsTestPattern(false);
}
BENCHMARK(PerBuffer)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void CameraPerFrame(benchmark::State &state) {
    if (!files().ok) {
        state.SkipWithError("cannot write the input files");
        return;
    }
    norva_sim::RenderDatagenAsTestPattern(true);
    {
        TEST_PARAM param;
        const std::string scene = files().dir + "/scene.nrv", setup = files().dir + "/setup.txt";
        TEST_PARAM::setString(param.dgInputFile[0], scene.c_str());
        TEST_PARAM::setString(param.setupFiles[0], setup.c_str());
        param.gasketUsesIntDG[0] = true;
        param.gasketIntDG[0] = 0;
        param.nBuffers[0] = 4;
        param.bNoWrite = true;
        TestContext context;
        BufferFormat nv12;
        nv12.format = YUV_420_PL12_8;
        nv12.width = 640;
        nv12.height = 480;
        if (!context.preconfigure(param, 0) || !context.configureOutput(nv12, nullptr) ||
            context.pCamera->startCapture() != QOR_RES_OK) {
            state.SkipWithError("capture context could not be configured");
            norva_sim::RenderDatagenAsTestPattern(false);
            return;
        }
        const auto frame = [&context]() {
            ISPC::Shot shot;
            return context.pCamera->enqueueShot() == QOR_RES_OK &&
                   context.pCamera->acquireShot(shot, true) == QOR_RES_OK &&
                   context.pCamera->releaseShot(shot) == QOR_RES_OK;
        };
        bool ok = true;
        for (int i = 0; i < 20 && ok; i++)
            ok = frame();
        const long long device0 = gDeviceNs.load();
        long frames = 0;
        const long allocs0 = norva_bench::Allocations();
        const double cpu0 = processCpuUs();
        const auto start = std::chrono::steady_clock::now();
        for (auto _ : state) {
            if (!ok || !(ok = frame())) {
                state.SkipWithError("capture failed");
                break;
            }
            frames++;
        }
        const double wallUs =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        const double deviceUs = static_cast<double>(gDeviceNs.load() - device0) / 1000.0;
        if (frames > 0) {
            state.counters["device_us"] = deviceUs / static_cast<double>(frames);
            state.counters["overhead_us"] = (wallUs - deviceUs) / static_cast<double>(frames);
            state.counters["cpu_us"] = (processCpuUs() - cpu0 - deviceUs) / static_cast<double>(frames);
            if (norva_bench::CountsAllocations())
                state.counters["allocs"] =
                    static_cast<double>(norva_bench::Allocations() - allocs0) / static_cast<double>(frames);
        }
        context.pCamera->stopCapture();
    }
    norva_sim::RenderDatagenAsTestPattern(false);
}
BENCHMARK(CameraPerFrame)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void PlayingToFirstBuffer(benchmark::State &state) {
    if (!files().ok) {
        state.SkipWithError("cannot write the input files");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        {
            Rig rig;
            if (rig.h == nullptr) {
                state.SkipWithError("no element");
                break;
            }
            state.ResumeTiming();
            const bool played = rig.play();
            GstBuffer *b = played ? rig.pull() : nullptr;
            state.PauseTiming();
            if (b == nullptr) {
                state.SkipWithError("no first buffer");
                break;
            }
            gst_buffer_unref(b);
        }
        state.ResumeTiming();
    }
}
BENCHMARK(PlayingToFirstBuffer)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char **argv) {
    g_setenv("NORVA_PLATFORM", "sim", TRUE);
    gst_check_init(nullptr, nullptr);
    gst_plugin_norvasrc_register();
    gOps = *norva_sim::SimulationOps();
    gOps.ioctl = timedIoctl;
    SEAM_Override(&gOps);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SEAM_Override(nullptr);
    return 0;
}
