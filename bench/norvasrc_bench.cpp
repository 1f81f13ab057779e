// The norvasrc element on the data generator at 640 x 480 NV12, in the process (GstHarness), on the simulated
// platform it shares with this program (libnorvaplatform.so).
//
// How the element's own cost is told apart. The simulated device does its work (the frame written as the test
// pattern, about 1 ms per frame here, and the data generator's frame unpacking) inside the device commands, on the
// thread that issues them: the element's streaming thread. Wall time per buffer is therefore mostly the device's,
// and so was the CPU time of the whole process. Here every device command is timed with the CPU clock of its own
// thread (CLOCK_THREAD_CPUTIME_ID) and that time is taken out of the CPU time of the threads that issue it:
//   stream_us     CPU time per buffer of the element's streaming thread (found by a buffer probe on its first
//                 buffer and read through its CPU clock), device commands excluded: runtime settings, enqueue,
//                 acquire (with the control modules), buffer building, and GstBaseSrc's push into the harness;
//   release_us    CPU time per buffer of the pulling thread's gst_buffer_unref, device commands excluded: the
//                 memory's release, the shot given back to the camera;
//   stack_us      the two together: everything the stack does per buffer outside the device.
// CameraPerFrame (run first) drives the same device work (same scene, same capture parameters, the test pattern)
// through the capture context alone, one thread doing enqueue, acquire and release, and gives its stack_us the
// same way. PerBuffer's element_us is its stack_us minus the camera's: what the element adds to the camera per
// buffer (run with --benchmark_filter=PerBuffer alone, element_us is not given). The device's work cancels out
// rather than being subtracted as a wall time, and time spent waiting for the other thread costs no CPU (waking it
// does, see InThread).
//
// PerBuffer, further counters:
//   device_us     CPU time of the device commands per buffer (every thread);
//   copies        buffers whose memory is not the capture buffer itself (the element's allocator);
//   allocs        heap allocations per buffer, every thread, by the project's counter (builds without
//                 AddressSanitizer), device commands excluded;
//   records       output memory records the element's allocator made over the whole run (they are reused);
//   gst_objects   GStreamer objects (buffers, memories, metas...) made per buffer, by the leaks tracer: only
//                 when run with GST_TRACERS=leaks, whose tracking then adds allocations of its own (read allocs
//                 from a run without it).
// InThread: norvasrc ! fakesink, each buffer freed on the streaming thread itself before the next frame is fetched;
// stack_us is that thread's CPU time per buffer outside the device, element_us the same minus the camera's. In
// PerBuffer the pulling thread frees buffers while the streaming thread holds the element's object lock through the
// next acquire: the release waits for it, and the hand-over of the two locks (element mutex, object lock) costs
// both threads kernel time (futex wake and wait) that InThread does not have.
// CoreBuffer: GStreamer's own part of building a buffer alone, as the element does it (a buffer, one memory of
// the element's allocator with its release function, two reference timestamps, video meta and the three norva
// metas), then freeing it: core_allocs are the allocations GStreamer and GLib make per buffer there.
// PlayingToFirstBuffer: a new element from NULL to PLAYING (context built at READY) until the first buffer is
// pulled.
#include <benchmark/benchmark.h>

// Before GStreamer's check library, whose macros (fail) clash with the standard library's streams.
#include "testcontext.h"
#include "testparam.h"

#include <gst/check/gstcheck.h>
#include <gst/check/gstharness.h>

#include <gst/video/video.h>

#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "alloc_counter.h"
#include "gst_bench_device_time.h"
#include "gst_bench_files.h"
#include "gstnorvabuf.h"
#include "gstnorvameta.h"
#include "norvacommon/userlog.h"

#include "platform/sim_capture.h"
#include "platform/sim_node.h"
#include "platform/sim_platform.h"
#include "sys/sys_seam.h"

extern "C" void gst_plugin_norvasrc_register(void);

namespace {

using norva_bench::CpuNs;
using norva_bench::DeviceNs;

/** The stack's CPU time per frame of the capture context alone (CameraPerFrame), microseconds; < 0 until run. */
double gCameraStackUs = -1.0;

constexpr const char *kCaps = "video/x-raw, format=NV12, width=640, height=480";

/** The scene, setup and parameter files, written once per process (the element reads the parameter file once). */
using norva_bench::files;

/** The CPU clock of the element's streaming thread, taken on its first buffer. */
struct StreamingThread {
    std::atomic<bool> known{false};
    clockid_t clock{};
};

GstPadProbeReturn findStreamingThread(GstPad *, GstPadProbeInfo *, gpointer data) {
    StreamingThread *t = static_cast<StreamingThread *>(data);
    if (pthread_getcpuclockid(pthread_self(), &t->clock) == 0) {
        norva_bench::SetDeviceRole(norva_bench::kStreamingThread);
        t->known.store(true);
    }
    return GST_PAD_PROBE_REMOVE;
}

/** A norvasrc in a harness, playing, after the first buffer. */
struct Rig {
    GstElement *src = nullptr;
    GstHarness *h = nullptr;
    StreamingThread streaming;

    Rig() {
        src = gst_element_factory_make("norvasrc", nullptr);
        if (src == nullptr)
            return;
        g_object_set(src, "sensor", "DOR Idazida", "use-dmabuf", FALSE, "alloc-buffers", 4, "preenq-buffers", 1,
                     nullptr);
        h = gst_harness_new_with_element(src, nullptr, "src");
        gst_harness_set_sink_caps_str(h, kCaps);
        gst_harness_use_systemclock(h);
        GstPad *pad = gst_element_get_static_pad(src, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, findStreamingThread, &streaming, nullptr);
        gst_object_unref(pad);
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

void CameraPerFrame(benchmark::State &state) {
    if (!files().ok) {
        state.SkipWithError("cannot write the input files");
        return;
    }
    norva_bench::SetDeviceRole(norva_bench::kMainThread);
    norva_sim::RenderDatagenAsTestPattern(true);
    LOG_SetLevel(1); // the log level the element sets for its contexts: no message per frame
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
        long frames = 0;
        const long long device0 = DeviceNs(), mainDevice0 = DeviceNs(norva_bench::kMainThread);
        const long allocs0 = norva_bench::Allocations();
        const long long cpu0 = CpuNs(CLOCK_THREAD_CPUTIME_ID);
        for (auto _ : state) {
            if (!ok || !(ok = frame())) {
                state.SkipWithError("capture failed");
                break;
            }
            frames++;
        }
        const long long cpu = CpuNs(CLOCK_THREAD_CPUTIME_ID) - cpu0;
        if (frames > 0) {
            const double n = static_cast<double>(frames);
            const double stackUs =
                static_cast<double>(cpu - (DeviceNs(norva_bench::kMainThread) - mainDevice0)) / 1e3 / n;
            gCameraStackUs = stackUs;
            state.counters["stack_us"] = stackUs;
            state.counters["device_us"] = static_cast<double>(DeviceNs() - device0) / 1e3 / n;
            if (norva_bench::CountsAllocations())
                state.counters["allocs"] = static_cast<double>(norva_bench::Allocations() - allocs0) / n;
        }
        context.pCamera->stopCapture();
    }
    norva_sim::RenderDatagenAsTestPattern(false);
}
BENCHMARK(CameraPerFrame)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void PerBuffer(benchmark::State &state) {
    if (!files().ok) {
        state.SkipWithError("cannot write the input files");
        return;
    }
    norva_bench::SetDeviceRole(norva_bench::kMainThread);
    norva_sim::RenderDatagenAsTestPattern(true);
    Rig rig;
    if (rig.h == nullptr || !rig.play()) {
        state.SkipWithError("norvasrc does not play");
        return;
    }
    // Warm-up: what is made once (tables, pools, lists grown to the most buffers held at once by the two threads)
    // is not a per-buffer cost.
    for (int i = 0; i < 200; i++) {
        GstBuffer *b = rig.pull();
        if (b == nullptr) {
            state.SkipWithError("no buffer");
            return;
        }
        gst_buffer_unref(b);
    }
    if (!rig.streaming.known.load()) {
        state.SkipWithError("streaming thread not found");
        return;
    }
    const long long device0 = DeviceNs(), streamDevice0 = DeviceNs(norva_bench::kStreamingThread);
    const long allocs0 = norva_bench::Allocations();
    long buffers = 0, copies = 0;
    long long releaseNs = 0, releaseDeviceNs = 0;
    const long long stream0 = CpuNs(rig.streaming.clock);
    for (auto _ : state) {
        GstBuffer *b = rig.pull();
        if (b == nullptr) {
            state.SkipWithError("no buffer");
            break;
        }
        copies += isCaptureBuffer(b) ? 0 : 1;
        const long long mainDevice = DeviceNs(norva_bench::kMainThread);
        const long long t0 = CpuNs(CLOCK_THREAD_CPUTIME_ID);
        gst_buffer_unref(b);
        releaseNs += CpuNs(CLOCK_THREAD_CPUTIME_ID) - t0;
        releaseDeviceNs += DeviceNs(norva_bench::kMainThread) - mainDevice;
        buffers++;
    }
    // The streaming thread may be inside its next frame: a partial frame, spread over the whole run.
    const long long stream =
        CpuNs(rig.streaming.clock) - stream0 - (DeviceNs(norva_bench::kStreamingThread) - streamDevice0);
    const long allocs = norva_bench::Allocations() - allocs0;
    if (buffers > 0) {
        const double n = static_cast<double>(buffers);
        const double streamUs = static_cast<double>(stream) / 1e3 / n;
        const double releaseUs = static_cast<double>(releaseNs - releaseDeviceNs) / 1e3 / n;
        state.counters["stream_us"] = streamUs;
        state.counters["release_us"] = releaseUs;
        state.counters["stack_us"] = streamUs + releaseUs;
        if (gCameraStackUs >= 0.0)
            state.counters["element_us"] = streamUs + releaseUs - gCameraStackUs;
        state.counters["device_us"] = static_cast<double>(DeviceNs() - device0) / 1e3 / n;
        state.counters["copies"] = static_cast<double>(copies);
        if (norva_bench::CountsAllocations())
            state.counters["allocs"] = static_cast<double>(allocs) / n;
        GstMemory *memory = nullptr;
        if (GstBuffer *b = rig.pull()) {
            memory = gst_buffer_peek_memory(b, 0);
            if (memory != nullptr && GST_IS_NORVABUF_ALLOCATOR(memory->allocator)) {
                guint records = 0;
                gst_norvabuf_allocator_get_records(memory->allocator, &records, nullptr);
                state.counters["records"] = records;
            }
            gst_buffer_unref(b);
        }
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

GstPadProbeReturn countBuffer(GstPad *, GstPadProbeInfo *, gpointer data) {
    static_cast<std::atomic<long> *>(data)->fetch_add(1, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

/** Waits (sleeping) until `count` reaches `target`; false after `seconds`. */
bool waitForCount(const std::atomic<long> &count, long target, double seconds) {
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
    while (count.load() < target) {
        if (g_get_monotonic_time() > deadline)
            return false;
        g_usleep(5000);
    }
    return true;
}

void InThread(benchmark::State &state) {
    if (!files().ok) {
        state.SkipWithError("cannot write the input files");
        return;
    }
    constexpr long kBuffers = 2000;
    norva_bench::SetDeviceRole(norva_bench::kMainThread);
    norva_sim::RenderDatagenAsTestPattern(true);
    GstElement *pipeline =
        gst_parse_launch("norvasrc name=src sensor=\"DOR Idazida\" use-dmabuf=false alloc-buffers=4 preenq-buffers=1 "
                         "! video/x-raw, format=NV12, width=640, height=480 ! fakesink sync=false async=false",
                         nullptr);
    GstElement *src = pipeline != nullptr ? gst_bin_get_by_name(GST_BIN(pipeline), "src") : nullptr;
    StreamingThread streaming;
    std::atomic<long> count{0};
    if (src != nullptr) {
        GstPad *pad = gst_element_get_static_pad(src, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, findStreamingThread, &streaming, nullptr);
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, countBuffer, &count, nullptr);
        gst_object_unref(pad);
    }
    if (src == nullptr || gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
        !waitForCount(count, 200, 10.0) || !streaming.known.load()) {
        state.SkipWithError("norvasrc ! fakesink does not stream");
    } else {
        for (auto _ : state) {
            const long count0 = count.load();
            const long long device0 = DeviceNs(), streamDevice0 = DeviceNs(norva_bench::kStreamingThread);
            const long allocs0 = norva_bench::Allocations();
            const long long stream0 = CpuNs(streaming.clock);
            const gint64 start = g_get_monotonic_time();
            if (!waitForCount(count, count0 + kBuffers, 60.0)) {
                state.SkipWithError("stream stopped");
                break;
            }
            const long long stream =
                CpuNs(streaming.clock) - stream0 - (DeviceNs(norva_bench::kStreamingThread) - streamDevice0);
            const double n = static_cast<double>(count.load() - count0);
            const long allocs = norva_bench::Allocations() - allocs0;
            state.SetIterationTime(static_cast<double>(g_get_monotonic_time() - start) / G_USEC_PER_SEC / n);
            state.counters["stack_us"] = static_cast<double>(stream) / 1e3 / n;
            if (gCameraStackUs >= 0.0)
                state.counters["element_us"] = static_cast<double>(stream) / 1e3 / n - gCameraStackUs;
            state.counters["device_us"] = static_cast<double>(DeviceNs() - device0) / 1e3 / n;
            if (norva_bench::CountsAllocations())
                state.counters["allocs"] = static_cast<double>(allocs) / n;
        }
    }
    if (pipeline != nullptr) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
    if (src != nullptr)
        gst_object_unref(src);
    norva_sim::RenderDatagenAsTestPattern(false);
}
BENCHMARK(InThread)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

void releaseCounted(GstMemory *, gpointer data) { ++*static_cast<long *>(data); }

void CoreBuffer(benchmark::State &state) {
    GstAllocator *allocator = gst_norvabuf_allocator_new();
    static guint8 frame[640 * 480 * 3 / 2];
    GstCaps *utc = gst_caps_new_empty_simple("timestamp/x-unix-utc");
    GstCaps *stream = gst_caps_new_empty_simple("timestamp/x-norva-stream");
    long released = 0;
    gsize offsets[GST_VIDEO_MAX_PLANES] = {0, 640 * 480, 0, 0};
    gint strides[GST_VIDEO_MAX_PLANES] = {640, 640, 0, 0};
    const auto build = [&]() {
        GstBuffer *b = gst_buffer_new();
        GstMemory *m = gst_norvabuf_allocator_wrap(allocator, GST_MEMORY_FLAG_READONLY, frame, sizeof frame);
        gst_buffer_append_memory(b, m);
        gst_norvabuf_memory_set_release(m, releaseCounted, &released);
        gst_buffer_add_reference_timestamp_meta(b, utc, 1, 33333333);
        gst_buffer_add_reference_timestamp_meta(b, stream, 2, 33333333);
        gst_buffer_add_video_meta_full(b, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_FORMAT_NV12, 640, 480, 2, offsets,
                                       strides);
        gst_buffer_add_iris_correction_meta(b, 0.0);
        gst_buffer_add_focus_value_meta(b, 0.0f);
        gst_buffer_add_current_brightness_meta(b, 0.0f);
        gst_buffer_unref(b);
    };
    for (int i = 0; i < 20; i++)
        build();
    const long allocs0 = norva_bench::Allocations();
    long buffers = 0;
    for (auto _ : state) {
        build();
        buffers++;
    }
    const long allocs = norva_bench::Allocations() - allocs0;
    if (buffers > 0 && norva_bench::CountsAllocations())
        state.counters["core_allocs"] = static_cast<double>(allocs) / static_cast<double>(buffers);
    state.counters["released"] = released == buffers + 20 ? 1.0 : 0.0;
    gst_caps_unref(utc);
    gst_caps_unref(stream);
    gst_object_unref(allocator);
}
BENCHMARK(CoreBuffer)->Unit(benchmark::kMicrosecond);
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
    norva_bench::SetDeviceRole(norva_bench::kMainThread);
    norva_bench::TimeDeviceCommands();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SEAM_Override(nullptr);
    return 0;
}
