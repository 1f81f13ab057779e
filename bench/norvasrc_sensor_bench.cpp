// The norvasrc element on the default sensor of the simulated board (OV4689_0) at its 1920x1080 mode, with every
// control loop on: auto exposure (with backlight compensation), white balance, lens shading (with the calibrated
// grids of the setup file), focus statistics, denoise, tone mapping (wdr-auto) and the light-based control (from the
// parameter file, the one loop no property turns on); the ISP model on 4 threads, frames paced at 30 per second.
// The setup file is the one calibrated on the sensor (data/setup/ov4689.txt, or NORVA_BENCH_SETUP), read through a
// copy whose grid files are named by absolute paths, so that the benchmark runs from any folder. Device commands
// (ISP ioctls, the sensor's I2C reads and writes) are timed on the CPU clock of the thread that issues them and
// taken out, as in norvasrc_bench.cpp.
//
// SensorCamera and SensorElement run twice: argument 30, frames paced at 30 per second (the live case: between frames the thread
// sleeps and the ISP model's workers take the caches, so the stack runs on cold caches), and argument 0, frames on
// demand (as norvasrc_bench.cpp measures the data generator).
//
// SensorCamera: the element's own capture context, built by the element at NULL to READY from its
// properties and given the element's runtime settings, so with the same sensor mode, setup file and loops; then
// driven by this thread alone: enqueue, acquire without the controls, every enabled per-shot control's update in the
// runner's order (what the camera's control runner does after an acquire), release; 300 frames after 60.
//   stack_us      CPU time per frame of this thread outside the device;
//   control_us    the control loops' updates alone, outside the device (the sensor's exposure and gain written
//                 over I2C are device time);
//   allocs        heap allocations per frame outside the device, by the project's counter (builds without
//                 AddressSanitizer); control_allocs those of the updates;
//   <loop>_us     each loop's update (ae, awb, af, tnm, dns, lbc, lsh).
// SensorElement: norvasrc ! fakesink, 600 buffers after a warm-up of 60.
//   lost          (paced) frames a sensor running at 30 frames per second produced that no buffer carries: the span
//                 of the buffers' frame times ("timestamp/x-norva-stream" reference timestamps) in frame periods,
//                 against the buffers delivered; longest_gap, the longest time between two of them, in periods;
//   fps           buffers per second of wall time; slow is 1 when a paced stream runs below 95 % of its rate (a
//                 stream is reported stopped only when no buffer came for 30 s);
//   stack_us      CPU time per buffer of the streaming thread outside the device;
//   process_us    CPU time per buffer of the whole process (ISP model workers, sensor, every thread);
//   allocs        heap allocations per buffer outside the device, every thread.
// ElementOverCamera (paced): what the element adds to its camera per buffer. Four rounds each of SensorCamera and
// SensorElement (150 frames) in turn, so that a busy machine loads both sides alike: element_us is the median of
// the differences of their stack_us (element_us_min, element_us_max their spread), camera_us and
// element_stack_us the medians of each side.
// MainJobSensor: the main job's sensor pipeline (scripts/main_job.sh): OV4689_0 at its full 2688x1520 frame with
// the calibrated setup, auto exposure and white balance, NV12 at 672x380, videoconvert to I420, paced at 30 frames
// per second; NORVA_BENCH_FRAMES buffers (600 by default). Counters as SensorElement's; for the run on two cores:
//   NORVA_BENCH_FRAMES=3000 taskset -c 0,1 bench_norvasrc_sensor --benchmark_filter=MainJobSensor
#include <benchmark/benchmark.h>

// Before GStreamer's check library, whose macros (fail) clash with the standard library's streams.
#include "testcontext.h"
#include "testparam.h"

#include <gst/check/gstcheck.h>

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "gst_bench_device_time.h"
#include "gstnorvasrc.h"
#include "ispc/ControlModule.h"
#include "norvacommon/userlog.h"

#include "platform/sim_capture.h"
#include "platform/sim_isp.h"
#include "platform/sim_platform.h"
#include "sys/sys_seam.h"

extern "C" void gst_plugin_norvasrc_register(void);

namespace {

using norva_bench::CpuNs;
using norva_bench::DeviceNs;

constexpr const char *kSensor = "OV4689_0";
/** The sensor's 1920x1080 mode on the simulated board's two-lane slot. */
constexpr guint kSensorMode = 2;
constexpr int kWidth = 1920, kHeight = 1080;
/** The main job's sensor output: the full frame at a quarter of its size. */
constexpr int kMainJobWidth = 672, kMainJobHeight = 380;
constexpr double kFps = 30.0;
constexpr unsigned kModelThreads = 4;
constexpr long kWarmUp = 60, kBuffers = 600;

/** The frame rate of a run (its argument): kFps, or 0 for frames on demand. */
double rateOf(const benchmark::State &state) { return state.range(0) != 0 ? kFps : 0.0; }

/** The setup file the elements read: a copy of the calibrated one, set by main(). */
std::string gSetupFile;

std::string setupFile() { return gSetupFile; }

/** A norvasrc with every loop on, not yet started. */
GstElement *makeSource() {
    GstElement *src = gst_element_factory_make("norvasrc", "src");
    if (src == nullptr)
        return nullptr;
    const std::string setup = setupFile();
    g_object_set(src, "sensor", kSensor, "sensor-mode", kSensorMode, "setup-file", setup.c_str(), "use-dmabuf", FALSE,
                 "alloc-buffers", 4, "preenq-buffers", 1, "exposure-auto", TRUE, "blc-auto", TRUE, "awb-enable", TRUE,
                 "wdr-auto", TRUE, nullptr);
    return src;
}

void setModelThreads() {
    std::lock_guard<std::mutex> lock(norva_sim::PlatformMutex());
    norva_sim::IspDevice().modelThreads = kModelThreads;
}

struct LoopTime {
    ISPC::ControlID id;
    const char *name;
    long long ns = 0;
};

/** What a run of the camera alone measured; ok false with `error` set when it could not run. */
struct CameraFigures {
    bool ok = false;
    const char *error = "";
    double stackUs = 0, controlUs = 0, allocs = 0, controlAllocs = 0;
    double loopUs[7] = {};
};

/** The element's capture context driven by this thread alone: `frames` frames after the warm-up, at `fps` (0: on
 * demand). */
CameraFigures cameraRun(double fps, long frames, const char **loopNames) {
    CameraFigures out;
    norva_bench::SetDeviceRole(norva_bench::kMainThread);
    norva_sim::SetPacedFrameRate(fps);
    setModelThreads();
    GstElement *src = makeSource();
    if (src == nullptr || gst_element_set_state(src, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        out.error = "norvasrc does not reach READY on the sensor";
        if (src != nullptr)
            gst_object_unref(src);
        norva_sim::SetPacedFrameRate(0.0);
        return out;
    }
    GstNorvasrc *element = reinterpret_cast<GstNorvasrc *>(src);
    TestContext *context = element->state->main_context;
    gst_norvasrc_lock_contexts(element);
    gst_norvasrc_configure_context_runtime_unlocked(element);
    gst_norvasrc_unlock_contexts(element);
    BufferFormat nv12;
    nv12.format = YUV_420_PL12_8;
    nv12.width = kWidth;
    nv12.height = kHeight;
    if (context == nullptr || !context->configureOutput(nv12, nullptr) ||
        context->pCamera->startCapture() != QOR_RES_OK) {
        out.error = "the element's capture context could not be configured";
        gst_element_set_state(src, GST_STATE_NULL);
        gst_object_unref(src);
        norva_sim::SetPacedFrameRate(0.0);
        return out;
    }
    ISPC::Camera &camera = *context->pCamera;
    LoopTime loops[] = {{ISPC::CTRL_AWB, "awb"}, {ISPC::CTRL_AE, "ae"},   {ISPC::CTRL_AF, "af"},
                        {ISPC::CTRL_TNM, "tnm"}, {ISPC::CTRL_DNS, "dns"}, {ISPC::CTRL_LBC, "lbc"},
                        {ISPC::CTRL_LSH, "lsh"}};
    long long controlNs = 0;
    long controlAllocs = 0;
    bool measuring = false;
    // One frame as the camera's runner does it, with the updates timed one by one.
    const auto frame = [&]() {
        ISPC::Shot shot;
        if (camera.enqueueShot() != QOR_RES_OK || camera.acquireShot(shot, true, false) != QOR_RES_OK)
            return false;
        if (!shot.bFrameError) {
            for (LoopTime &loop : loops) {
                ISPC::ControlModule *m = camera.getControlModule(loop.id);
                if (m == nullptr || !m->isEnabled() || m->getUpdateType() != ISPC::UPDATE_SHOT)
                    continue;
                const long long device0 = norva_bench::tThreadDeviceNs, cpu0 = CpuNs(CLOCK_THREAD_CPUTIME_ID);
                const long allocs0 = norva_bench::Allocations();
                m->update(shot.metadata);
                if (measuring) {
                    const long long spent =
                        CpuNs(CLOCK_THREAD_CPUTIME_ID) - cpu0 - (norva_bench::tThreadDeviceNs - device0);
                    loop.ns += spent;
                    controlNs += spent;
                    controlAllocs += norva_bench::Allocations() - allocs0;
                }
            }
        }
        return camera.releaseShot(shot) == QOR_RES_OK;
    };
    bool ok = true;
    for (long i = 0; i < kWarmUp && ok; i++)
        ok = frame();
    measuring = true;
    long done = 0;
    const long long device0 = DeviceNs(norva_bench::kMainThread);
    const long allocs0 = norva_bench::Allocations();
    const long long cpu0 = CpuNs(CLOCK_THREAD_CPUTIME_ID);
    while (ok && done < frames && (ok = frame()))
        done++;
    if (!ok)
        out.error = "capture failed";
    const long long cpu = CpuNs(CLOCK_THREAD_CPUTIME_ID) - cpu0 - (DeviceNs(norva_bench::kMainThread) - device0);
    const long allocs = norva_bench::Allocations() - allocs0;
    if (ok && done > 0) {
        const double n = static_cast<double>(done);
        out.ok = true;
        out.stackUs = static_cast<double>(cpu) / 1e3 / n;
        out.controlUs = static_cast<double>(controlNs) / 1e3 / n;
        for (int i = 0; i < 7; i++)
            out.loopUs[i] = static_cast<double>(loops[i].ns) / 1e3 / n;
        out.allocs = static_cast<double>(allocs) / n;
        out.controlAllocs = static_cast<double>(controlAllocs) / n;
    }
    camera.stopCapture();
    gst_element_set_state(src, GST_STATE_NULL);
    gst_object_unref(src);
    norva_sim::SetPacedFrameRate(0.0);
    if (loopNames != nullptr)
        for (int i = 0; i < 7; i++)
            loopNames[i] = loops[i].name;
    return out;
}

void SensorCamera(benchmark::State &state) {
    const char *names[7] = {};
    CameraFigures f;
    for (auto _ : state) {
        f = cameraRun(rateOf(state), 300, names);
        if (!f.ok) {
            state.SkipWithError(f.error);
            return;
        }
    }
    state.counters["stack_us"] = f.stackUs;
    state.counters["control_us"] = f.controlUs;
    for (int i = 0; i < 7; i++)
        state.counters[std::string(names[i]) + "_us"] = f.loopUs[i];
    if (norva_bench::CountsAllocations()) {
        state.counters["allocs"] = f.allocs;
        state.counters["control_allocs"] = f.controlAllocs;
    }
}
BENCHMARK(SensorCamera)->Arg(30)->Arg(0)->Iterations(1)->Unit(benchmark::kMicrosecond);

/** What the probe on the source pad sees: the streaming thread's clock, the buffers and their frame times. */
struct Stream {
    std::atomic<bool> known{false};
    clockid_t clock{};
    std::atomic<long> count{0};
    std::vector<guint64> times; // reserved before streaming: the probe never grows it
    std::atomic<bool> recording{false};
    const GstCaps *reference = nullptr; // the caps of the frame times' reference timestamps
};

/**
 * The device's frame time of a buffer (its "timestamp/x-norva-stream" reference timestamp), or 0. The element gives
 * every buffer the same caps object as reference: found by name once, then by address, so that the probe costs the
 * streaming thread next to nothing.
 */
guint64 streamTime(GstBuffer *buffer, const GstCaps **reference) {
    gpointer iter = nullptr;
    while (GstMeta *meta = gst_buffer_iterate_meta_filtered(buffer, &iter, GST_REFERENCE_TIMESTAMP_META_API_TYPE)) {
        const GstReferenceTimestampMeta *r = reinterpret_cast<GstReferenceTimestampMeta *>(meta);
        if (*reference == nullptr && r->reference != nullptr &&
            gst_structure_has_name(gst_caps_get_structure(r->reference, 0), "timestamp/x-norva-stream"))
            *reference = r->reference;
        if (r->reference == *reference)
            return r->timestamp;
    }
    return 0;
}

GstPadProbeReturn onBuffer(GstPad *, GstPadProbeInfo *info, gpointer data) {
    Stream *s = static_cast<Stream *>(data);
    if (!s->known.load() && pthread_getcpuclockid(pthread_self(), &s->clock) == 0) {
        norva_bench::SetDeviceRole(norva_bench::kStreamingThread);
        s->known.store(true);
    }
    if (s->recording.load() && s->times.size() < s->times.capacity())
        s->times.push_back(streamTime(GST_PAD_PROBE_INFO_BUFFER(info), &s->reference));
    s->count.fetch_add(1);
    return GST_PAD_PROBE_OK;
}

/**
 * Waits (sleeping) until `count` reaches `target`; false when no buffer came for `stalledSeconds` (the stream
 * stopped). A stream that is only slow is waited for.
 */
bool waitForCount(const std::atomic<long> &count, long target, double stalledSeconds) {
    const gint64 stall = static_cast<gint64>(stalledSeconds * G_USEC_PER_SEC);
    long seen = count.load();
    gint64 lastProgress = g_get_monotonic_time();
    while (count.load() < target) {
        const long now = count.load();
        if (now != seen) {
            seen = now;
            lastProgress = g_get_monotonic_time();
        } else if (g_get_monotonic_time() - lastProgress > stall) {
            return false;
        }
        g_usleep(5000);
    }
    return true;
}

/**
 * Frames a sensor running at the paced rate produced in the span of the buffers' frame times that no buffer carries.
 * The device keeps a grid of frame times: a frame taken late but within its period loses nothing and leaves the grid
 * as it is; one taken more than a period late restarts the grid, the frame times skipped lost. So each buffer's
 * frame time minus its place in an unbroken series (first time + index x period) stays within one period of the
 * least such offset until frames are lost, and grows by a period for each one. -1 when a buffer carries no frame time.
 */
long lostFrames(const std::vector<guint64> &times, double periodNs) {
    if (times.size() < 2)
        return 0;
    double least = 0.0, last = 0.0;
    for (size_t i = 0; i < times.size(); i++) {
        if (times[i] == 0)
            return -1;
        const double offset = static_cast<double>(times[i] - times[0]) - static_cast<double>(i) * periodNs;
        least = std::min(least, offset);
        last = offset;
    }
    return static_cast<long>((last - least) / periodNs);
}

/** The longest time between two consecutive buffers' frame times, in frame periods. */
double longestGap(const std::vector<guint64> &times, double periodNs) {
    guint64 longest = 0;
    for (size_t i = 1; i < times.size(); i++)
        longest = std::max<guint64>(longest, times[i] - times[i - 1]);
    return static_cast<double>(longest) / periodNs;
}

/** The pipelines measured: the bench's own (1080p mode, every loop) and the main job's sensor pipeline. */
enum class Pipeline { EveryLoop, MainJob };

/** What a run of a pipeline measured; ok false with `error` set when it did not stream. */
struct ElementFigures {
    bool ok = false;
    const char *error = "";
    double fps = 0, stackUs = 0, processUs = 0, allocs = 0, longestGap = 0;
    long lost = 0;
};

/**
 * The pipeline playing, `buffers` buffers timed after the warm-up, at `fps` (0 on demand). The streaming thread's
 * CPU time outside the device (stackUs) and the whole process's CPU time (processUs: the ISP model's workers, the
 * sensor, every thread) per buffer.
 */
ElementFigures elementRun(Pipeline kind, double fps, long buffers) {
    ElementFigures out;
    norva_bench::SetDeviceRole(norva_bench::kMainThread);
    norva_sim::SetPacedFrameRate(fps);
    setModelThreads();
    GstElement *pipeline = gst_pipeline_new("bench");
    GstElement *src = nullptr, *filter = gst_element_factory_make("capsfilter", nullptr), *tail = nullptr,
               *sink = gst_element_factory_make("fakesink", nullptr);
    GstCaps *caps = nullptr;
    if (kind == Pipeline::EveryLoop) {
        src = makeSource();
        caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "NV12", "width", G_TYPE_INT, kWidth,
                                   "height", G_TYPE_INT, kHeight, nullptr);
    } else {
        // scripts/main_job.sh, encoder pipeline: the full frame at a quarter of its size, converted to I420
        src = gst_element_factory_make("norvasrc", "src");
        if (src != nullptr)
            g_object_set(src, "sensor", kSensor, "setup-file", setupFile().c_str(), "exposure-auto", TRUE, "awb-enable",
                         TRUE, nullptr);
        caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "NV12", "width", G_TYPE_INT, kMainJobWidth,
                                   "height", G_TYPE_INT, kMainJobHeight, nullptr);
        tail = gst_element_factory_make("videoconvert", nullptr);
    }
    Stream stream;
    stream.times.reserve(buffers + 1);
    bool built = src != nullptr && filter != nullptr && sink != nullptr && (kind == Pipeline::EveryLoop || tail);
    if (built) {
        g_object_set(filter, "caps", caps, nullptr);
        g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
        gst_bin_add_many(GST_BIN(pipeline), src, filter, sink, nullptr);
        if (tail != nullptr) {
            gst_bin_add(GST_BIN(pipeline), tail);
            GstCaps *i420 = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr);
            built = gst_element_link_many(src, filter, tail, nullptr) && gst_element_link_filtered(tail, sink, i420);
            gst_caps_unref(i420);
        } else {
            built = gst_element_link_many(src, filter, sink, nullptr);
        }
        GstPad *pad = gst_element_get_static_pad(src, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, &stream, nullptr);
        gst_object_unref(pad);
    } else {
        for (GstElement *e : {src, filter, tail, sink})
            if (e != nullptr)
                gst_object_unref(e);
    }
    if (caps != nullptr)
        gst_caps_unref(caps);
    if (!built || gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
        !waitForCount(stream.count, kWarmUp, 30.0) || !stream.known.load()) {
        out.error = "norvasrc does not stream on the sensor";
    } else {
        const long long streamDevice0 = DeviceNs(norva_bench::kStreamingThread);
        const long allocs0 = norva_bench::Allocations();
        const long long stream0 = CpuNs(stream.clock), process0 = CpuNs(CLOCK_PROCESS_CPUTIME_ID);
        const gint64 start = g_get_monotonic_time();
        const long count0 = stream.count.load();
        stream.recording.store(true);
        if (!waitForCount(stream.count, count0 + buffers, 30.0)) {
            out.error = "the stream stopped (no buffer for 30 s)";
        } else {
            stream.recording.store(false);
            const long long cpu =
                CpuNs(stream.clock) - stream0 - (DeviceNs(norva_bench::kStreamingThread) - streamDevice0);
            const long long process = CpuNs(CLOCK_PROCESS_CPUTIME_ID) - process0;
            const long allocs = norva_bench::Allocations() - allocs0;
            const double seconds = static_cast<double>(g_get_monotonic_time() - start) / G_USEC_PER_SEC;
            const double n = static_cast<double>(stream.count.load() - count0);
            out.ok = true;
            out.fps = n / seconds;
            out.stackUs = static_cast<double>(cpu) / 1e3 / n;
            out.processUs = static_cast<double>(process) / 1e3 / n;
            out.allocs = static_cast<double>(allocs) / n;
            if (fps > 0.0) {
                out.lost = lostFrames(stream.times, 1e9 / fps);
                out.longestGap = longestGap(stream.times, 1e9 / fps);
            }
        }
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    norva_sim::SetPacedFrameRate(0.0);
    return out;
}

void report(benchmark::State &state, const ElementFigures &f, double fps) {
    state.SetIterationTime(1.0 / f.fps);
    if (fps > 0.0) {
        state.counters["lost"] = static_cast<double>(f.lost);
        state.counters["longest_gap"] = f.longestGap;
        // a stream below the paced rate is slow, not stopped: said so, with its rate
        state.counters["slow"] = f.fps < 0.95 * fps ? 1 : 0;
    }
    state.counters["fps"] = f.fps;
    state.counters["stack_us"] = f.stackUs;
    state.counters["process_us"] = f.processUs;
    if (norva_bench::CountsAllocations())
        state.counters["allocs"] = f.allocs;
}

void SensorElement(benchmark::State &state) {
    for (auto _ : state) {
        const ElementFigures f = elementRun(Pipeline::EveryLoop, rateOf(state), kBuffers);
        if (!f.ok) {
            state.SkipWithError(f.error);
            return;
        }
        report(state, f, rateOf(state));
    }
}
BENCHMARK(SensorElement)->Arg(30)->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

/**
 * What the element adds to its camera per buffer: rounds of the camera alone and of the element in turn (so that a
 * shared machine loads both alike), the median of the element's stack time minus the camera's.
 */
void ElementOverCamera(benchmark::State &state) {
    constexpr int kRoundsEach = 4;
    constexpr long kPerRound = 150;
    std::vector<double> camera, element, difference;
    for (auto _ : state) {
        for (int r = 0; r < kRoundsEach; r++) {
            const CameraFigures c = cameraRun(rateOf(state), kPerRound, nullptr);
            const ElementFigures e = elementRun(Pipeline::EveryLoop, rateOf(state), kPerRound);
            if (!c.ok || !e.ok) {
                state.SkipWithError(!c.ok ? c.error : e.error);
                return;
            }
            camera.push_back(c.stackUs);
            element.push_back(e.stackUs);
            difference.push_back(e.stackUs - c.stackUs);
        }
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 != 0 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
    };
    state.counters["camera_us"] = median(camera);
    state.counters["element_stack_us"] = median(element);
    state.counters["element_us"] = median(difference);
    state.counters["element_us_min"] = *std::min_element(difference.begin(), difference.end());
    state.counters["element_us_max"] = *std::max_element(difference.begin(), difference.end());
}
BENCHMARK(ElementOverCamera)->Arg(30)->Iterations(1)->Unit(benchmark::kMicrosecond);

/**
 * The main job's sensor pipeline (scripts/main_job.sh): OV4689_0 at its full 2688x1520 frame with the calibrated
 * setup, shown at 672x380, paced at 30 frames per second; NORVA_BENCH_FRAMES buffers (600 by default).
 */
void MainJobSensor(benchmark::State &state) {
    const char *env = std::getenv("NORVA_BENCH_FRAMES");
    const long buffers = env != nullptr && std::atol(env) > 0 ? std::atol(env) : kBuffers;
    for (auto _ : state) {
        const ElementFigures f = elementRun(Pipeline::MainJob, kFps, buffers);
        if (!f.ok) {
            state.SkipWithError(f.error);
            return;
        }
        report(state, f, kFps);
        state.counters["frames"] = static_cast<double>(buffers);
    }
}
BENCHMARK(MainJobSensor)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

/**
 * A copy of the setup file in a temporary file, its lens-shading grid files ("LSH_CTRL_FILE_<n>", named relative to
 * the repository's root) named by absolute paths. Removed at exit.
 */
struct SetupCopy {
    std::string path;
    bool ok = false;
    explicit SetupCopy(const std::string &source) {
        std::ifstream in(source);
        char name[] = "/tmp/norva-sensor-bench-setup-XXXXXX";
        const int fd = in ? mkstemp(name) : -1;
        if (fd < 0)
            return;
        close(fd);
        path = name;
        std::ofstream out(path);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string tag, file;
            if (words >> tag >> file && tag.rfind("LSH_CTRL_FILE_", 0) == 0 && file[0] != '/')
                line = tag + " " + NORVA_BENCH_SOURCE_DIR + "/" + file;
            out << line << '\n';
        }
        ok = static_cast<bool>(out.flush());
    }
    ~SetupCopy() {
        if (!path.empty())
            unlink(path.c_str());
    }
};

/**
 * The parameter file of the elements (GST_NORVASRC_PARAMS_FILE, read once per process): the light-based control,
 * which no property turns on. Removed at exit.
 */
struct ParamsFile {
    std::string path;
    bool ok = false;
    ParamsFile() {
        char name[] = "/tmp/norva-sensor-bench-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            return;
        path = name;
        const char text[] = "-CT0_LBC 1\n";
        ok = write(fd, text, sizeof text - 1) == static_cast<ssize_t>(sizeof text - 1);
        close(fd);
        if (ok)
            g_setenv("GST_NORVASRC_PARAMS_FILE", path.c_str(), TRUE);
    }
    ~ParamsFile() {
        if (!path.empty())
            unlink(path.c_str());
    }
};

} // namespace

int main(int argc, char **argv) {
    g_setenv("NORVA_PLATFORM", "sim", TRUE);
    const ParamsFile params;
    if (!params.ok) {
        std::fprintf(stderr, "cannot write the parameter file\n");
        return 1;
    }
    const char *source = std::getenv("NORVA_BENCH_SETUP");
    const SetupCopy setup(source != nullptr ? source : NORVA_BENCH_SETUP);
    if (!setup.ok) {
        std::fprintf(stderr, "cannot copy the setup file %s\n", source != nullptr ? source : NORVA_BENCH_SETUP);
        return 1;
    }
    gSetupFile = setup.path;
    gst_check_init(nullptr, nullptr);
    gst_plugin_norvasrc_register();
    LOG_SetLevel(1); // no message per frame
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
