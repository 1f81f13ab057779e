// The norvasrc element on the default sensor of the simulated board (OV4689_0) at its 1920x1080 mode, with every
// control loop on: auto exposure (with backlight compensation), white balance, lens shading (with the calibrated
// grids of the setup file), focus statistics, denoise, tone mapping (wdr-auto) and the light-based control (from the
// parameter file, the one loop no property turns on); the ISP model on 4 threads, frames paced at 30 per second.
// The setup file is the one calibrated on the sensor (data/setup/ov4689.txt, or NORVA_BENCH_SETUP), read through a
// copy whose grid files are named by absolute paths, so that the benchmark runs from any folder. Device commands
// (ISP ioctls, the sensor's I2C reads and writes) are timed on the CPU clock of the thread that issues them and
// taken out, as in norvasrc_bench.cpp.
//
// Each benchmark runs twice: argument 30, frames paced at 30 per second (the live case: between frames the thread
// sleeps and the ISP model's workers take the caches, so the stack runs on cold caches), and argument 0, frames on
// demand (as norvasrc_bench.cpp measures the data generator).
//
// SensorCamera (run first): the element's own capture context, built by the element at NULL to READY from its
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
//   fps           buffers per second of wall time;
//   stack_us      CPU time per buffer of the streaming thread outside the device;
//   element_us    stack_us minus SensorCamera's stack_us at the same argument: what the element adds to its camera;
//   allocs        heap allocations per buffer outside the device, every thread.
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
constexpr double kFps = 30.0;
constexpr unsigned kModelThreads = 4;
constexpr long kWarmUp = 60, kBuffers = 600;

/** The stack's CPU time per frame of the camera alone (SensorCamera), paced and not, microseconds; < 0 until run. */
double gCameraStackUs[2] = {-1.0, -1.0};

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

void SensorCamera(benchmark::State &state) {
    norva_bench::SetDeviceRole(norva_bench::kMainThread);
    norva_sim::SetPacedFrameRate(rateOf(state));
    setModelThreads();
    GstElement *src = makeSource();
    if (src == nullptr || gst_element_set_state(src, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        state.SkipWithError("norvasrc does not reach READY on the sensor");
        if (src != nullptr)
            gst_object_unref(src);
        return;
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
        state.SkipWithError("the element's capture context could not be configured");
        gst_element_set_state(src, GST_STATE_NULL);
        gst_object_unref(src);
        return;
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
    long frames = 0;
    const long long device0 = DeviceNs(norva_bench::kMainThread);
    const long allocs0 = norva_bench::Allocations();
    const long long cpu0 = CpuNs(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state) {
        if (!ok || !(ok = frame())) {
            state.SkipWithError("capture failed");
            break;
        }
        frames++;
    }
    const long long cpu = CpuNs(CLOCK_THREAD_CPUTIME_ID) - cpu0 - (DeviceNs(norva_bench::kMainThread) - device0);
    const long allocs = norva_bench::Allocations() - allocs0;
    if (frames > 0) {
        const double n = static_cast<double>(frames);
        const double stackUs = static_cast<double>(cpu) / 1e3 / n;
        gCameraStackUs[state.range(0) != 0 ? 1 : 0] = stackUs;
        state.counters["stack_us"] = stackUs;
        state.counters["control_us"] = static_cast<double>(controlNs) / 1e3 / n;
        for (const LoopTime &loop : loops)
            state.counters[std::string(loop.name) + "_us"] = static_cast<double>(loop.ns) / 1e3 / n;
        if (norva_bench::CountsAllocations()) {
            state.counters["allocs"] = static_cast<double>(allocs) / n;
            state.counters["control_allocs"] = static_cast<double>(controlAllocs) / n;
        }
    }
    camera.stopCapture();
    gst_element_set_state(src, GST_STATE_NULL);
    gst_object_unref(src);
    norva_sim::SetPacedFrameRate(0.0);
}
BENCHMARK(SensorCamera)->Arg(30)->Arg(0)->Iterations(300)->UseRealTime()->Unit(benchmark::kMicrosecond);

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

void SensorElement(benchmark::State &state) {
    norva_bench::SetDeviceRole(norva_bench::kMainThread);
    const double fps = rateOf(state);
    norva_sim::SetPacedFrameRate(fps);
    setModelThreads();
    GstElement *pipeline = gst_pipeline_new("bench");
    GstElement *src = makeSource();
    GstElement *filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement *sink = gst_element_factory_make("fakesink", nullptr);
    Stream stream;
    stream.times.reserve(kBuffers + 1);
    bool built = src != nullptr && filter != nullptr && sink != nullptr;
    if (built) {
        GstCaps *caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "NV12", "width", G_TYPE_INT, kWidth,
                                            "height", G_TYPE_INT, kHeight, nullptr);
        g_object_set(filter, "caps", caps, nullptr);
        gst_caps_unref(caps);
        g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
        gst_bin_add_many(GST_BIN(pipeline), src, filter, sink, nullptr);
        built = gst_element_link_many(src, filter, sink, nullptr);
        GstPad *pad = gst_element_get_static_pad(src, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, &stream, nullptr);
        gst_object_unref(pad);
    } else {
        for (GstElement *e : {src, filter, sink})
            if (e != nullptr)
                gst_object_unref(e);
    }
    if (!built || gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
        !waitForCount(stream.count, kWarmUp, 30.0) || !stream.known.load()) {
        state.SkipWithError("norvasrc ! fakesink does not stream on the sensor");
    } else {
        for (auto _ : state) {
            const long long streamDevice0 = DeviceNs(norva_bench::kStreamingThread);
            const long allocs0 = norva_bench::Allocations();
            const long long stream0 = CpuNs(stream.clock);
            const gint64 start = g_get_monotonic_time();
            const long count0 = stream.count.load();
            stream.recording.store(true);
            if (!waitForCount(stream.count, count0 + kBuffers, kBuffers / kFps * 3.0 + 30.0)) {
                state.SkipWithError("the stream stopped");
                break;
            }
            stream.recording.store(false);
            const long long cpu =
                CpuNs(stream.clock) - stream0 - (DeviceNs(norva_bench::kStreamingThread) - streamDevice0);
            const long allocs = norva_bench::Allocations() - allocs0;
            const double seconds = static_cast<double>(g_get_monotonic_time() - start) / G_USEC_PER_SEC;
            const double n = static_cast<double>(stream.count.load() - count0);
            state.SetIterationTime(seconds / n);
            if (fps > 0.0) {
                state.counters["lost"] = static_cast<double>(lostFrames(stream.times, 1e9 / fps));
                state.counters["longest_gap"] = longestGap(stream.times, 1e9 / fps);
            }
            state.counters["fps"] = n / seconds;
            state.counters["stack_us"] = static_cast<double>(cpu) / 1e3 / n;
            const double cameraUs = gCameraStackUs[fps > 0.0 ? 1 : 0];
            if (cameraUs >= 0.0)
                state.counters["element_us"] = static_cast<double>(cpu) / 1e3 / n - cameraUs;
            if (norva_bench::CountsAllocations())
                state.counters["allocs"] = static_cast<double>(allocs) / n;
        }
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    norva_sim::SetPacedFrameRate(0.0);
}
BENCHMARK(SensorElement)->Arg(30)->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

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
