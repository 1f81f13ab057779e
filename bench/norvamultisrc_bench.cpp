// norvamultisrc on the data generator of the simulated platform (libnorvaplatform.so, shared with the plug-in), in
// the process, paced at 30 frames per second: one capture served to 1, 2 and 3 branches behind queues
// (NV12 640 x 480, BGRx 320 x 240, NV12 640 x 480 again: the ISP has one YUV and one RGB output,
// and a third format would ask for the slave context), each ending in a fakesink whose hand-off records the buffer's
// offset (the frame number), its arrival time and the interrupt time of its "timestamp/x-norva-stream" reference
// timestamp meta (CLOCK_MONOTONIC ns). The branches take copies (buf-mode copy): with two outputs negotiated, a
// branch given the capture buffers themselves waits for the buffers the other branch holds.
//
// Branches/N: kFrames frames counted from a frame after the warm-up, per configuration:
//   produced          frames of the capture in the window (frame numbers are consecutive);
//   bK_lost           frames of the window branch K did not receive: a frame still queued for a branch that has
//                     not taken it is dropped for that branch when the pool is full (the victim rule), so a slow
//                     branch loses frames the others received;
//   lost_all          frames of the window no branch received: losses the victim rule does not explain when
//                     another branch was ready (a victim taken by no pad yet also counts here);
//   bK_lat_ms/_max    mean and largest time from the frame's interrupt to its arrival at branch K's sink;
//   bK_lat_periods    the largest of these in frame periods (target below 2);
//   cpu_us            process CPU time (every thread) per frame; the cost of an added branch is the difference
//                     between consecutive configurations (target at most 50 us);
//   device_cpu_us     the part of it spent in device commands (the simulated driver and ISP, image output
//                     included), measured through the seam;
//   allocs            heap allocations per frame, every thread (builds without AddressSanitizer).
// SaveStall: two branches; a full-frame "take-nrv-image" ("YUV", context 0) emitted on the bin halfway through:
//   bK_stall_ms       largest inter-arrival gap of branch K from the emission to a second after it, minus the
//                     frame period (branch 1 is the one that does not serve the internal source);
//   bK_gap_ms         the same measure over the frames before the emission, for comparison;
//   saved             1 when the file was written.
#include <benchmark/benchmark.h>

#include <gst/gst.h>

#include <glib/gstdio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "gst_bench_files.h"

#include "platform/sim_capture.h"
#include "platform/sim_node.h"
#include "sys/sys_seam.h"

extern "C" void gst_plugin_norvasrc_register(void);

namespace {

constexpr double kFps = 30.0;
constexpr double kPeriodMs = 1000.0 / kFps;
constexpr int kFrames = 300;
constexpr int kSaveFrames = 150;
constexpr int kWarmup = 15;
constexpr int kMaxRecords = 512;
constexpr int kMaxBranches = 3;

SEAM_OPS gOps;
std::atomic<long long> gDeviceCpuNs{0};

long long threadCpuNs() {
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000ll + ts.tv_nsec;
}

/** Device commands, with the CPU time they take counted apart (their waits for the paced frames cost none). */
long timedIoctl(int fd, unsigned long request, void *arg) {
    const long long start = threadCpuNs();
    norva_bench::SetInDevice(true);
    const long r = norva_sim::SimulationOps()->ioctl(fd, request, arg);
    norva_bench::SetInDevice(false);
    gDeviceCpuNs.fetch_add(threadCpuNs() - start, std::memory_order_relaxed);
    return r;
}

uint64_t monotonicNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

/** CPU time of the whole process (every thread), microseconds. */
double processCpuUs() {
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

/** The scene, setup and parameter files, written once per process (the element reads the parameter file once). */
using norva_bench::files;

/** What one branch's sink saw, in fixed storage: the hand-off adds nothing per frame. */
struct Branch {
    struct Record {
        uint64_t offset;
        uint64_t arrivalNs;
        uint64_t interruptNs;
        double cpuUs;
    };
    Record records[kMaxRecords];
    std::atomic<int> count{0};
    GstCaps *streamCaps = nullptr;
};

void onHandoff(GstElement *, GstBuffer *buffer, GstPad *, gpointer data) {
    Branch *b = static_cast<Branch *>(data);
    const int i = b->count.load(std::memory_order_relaxed);
    if (i >= kMaxRecords)
        return;
    Branch::Record &r = b->records[i];
    r.arrivalNs = monotonicNs();
    r.cpuUs = processCpuUs();
    r.offset = GST_BUFFER_OFFSET(buffer);
    GstReferenceTimestampMeta *meta = gst_buffer_get_reference_timestamp_meta(buffer, b->streamCaps);
    r.interruptNs = meta != nullptr ? meta->timestamp : 0;
    b->count.store(i + 1, std::memory_order_release);
}

constexpr const char *kBranchCaps[kMaxBranches] = {"video/x-raw,format=NV12,width=640,height=480",
                                                   "video/x-raw,format=BGRx,width=320,height=240",
                                                   "video/x-raw,format=NV12,width=640,height=480"};

/** A norvamultisrc with `n` branches, each queue ! capsfilter ! fakesink with hand-offs recorded. */
struct Rig {
    GstElement *pipeline = nullptr;
    GstElement *multi = nullptr;
    Branch branches[kMaxBranches];
    int n = 0;

    explicit Rig(int branchCount) : n(std::min(std::max(branchCount, 1), kMaxBranches)) {
        std::string description = "norvamultisrc name=m sensor=\"DOR Idazida\" buf-mode=copy use-dmabuf=false "
                                  "alloc-buffers=4 preenq-buffers=1";
        for (int i = 0; i < n; i++)
            description += " m.src_" + std::to_string(i) + " ! queue ! " + kBranchCaps[i] + " ! fakesink name=s" +
                           std::to_string(i) + " sync=false async=false signal-handoffs=true";
        GError *error = nullptr;
        pipeline = gst_parse_launch(description.c_str(), &error);
        if (error != nullptr) {
            std::fprintf(stderr, "%s\n", error->message);
            g_error_free(error);
            if (pipeline != nullptr)
                gst_object_unref(pipeline);
            pipeline = nullptr;
            return;
        }
        multi = gst_bin_get_by_name(GST_BIN(pipeline), "m");
        for (int i = 0; i < n; i++) {
            branches[i].streamCaps = gst_caps_new_empty_simple("timestamp/x-norva-stream");
            GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), ("s" + std::to_string(i)).c_str());
            g_signal_connect(sink, "handoff", G_CALLBACK(onHandoff), &branches[i]);
            gst_object_unref(sink);
        }
    }
    ~Rig() {
        if (pipeline != nullptr) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(pipeline);
        }
        if (multi != nullptr)
            gst_object_unref(multi);
        for (Branch &b : branches) {
            if (b.streamCaps != nullptr)
                gst_caps_unref(b.streamCaps);
        }
    }
    bool play() {
        return pipeline != nullptr && gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    }
    /** The largest frame number any branch received so far. */
    uint64_t lastOffset() const {
        uint64_t last = 0;
        for (const Branch &b : branches) {
            const int c = b.count.load(std::memory_order_acquire);
            if (c > 0)
                last = std::max(last, b.records[c - 1].offset);
        }
        return last;
    }
    /** Waits until every branch received a frame numbered `offset` or later; false on timeout or error. */
    bool waitFor(uint64_t offset, double seconds) {
        GstBus *bus = gst_element_get_bus(pipeline);
        const uint64_t deadline = monotonicNs() + static_cast<uint64_t>(seconds * 1e9);
        bool ok = false;
        while (monotonicNs() < deadline) {
            bool all = true;
            for (int i = 0; i < n && i < kMaxBranches && all; i++) {
                const int c = branches[i].count.load(std::memory_order_acquire);
                all = c > 0 && (branches[i].records[c - 1].offset >= offset || c >= kMaxRecords);
            }
            if (all) {
                ok = true;
                break;
            }
            GstMessage *m = gst_bus_timed_pop_filtered(
                bus, 10 * GST_MSECOND, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
            if (m != nullptr) {
                gst_message_unref(m);
                break;
            }
        }
        gst_object_unref(bus);
        return ok;
    }
};

/** Records of a branch with frame numbers in [first, last]. */
struct Window {
    const Branch::Record *begin = nullptr, *end = nullptr;
};

Window window(const Branch &b, uint64_t first, uint64_t last) {
    const int c = b.count.load(std::memory_order_acquire);
    const Branch::Record *all = b.records, *stop = b.records + c;
    Window w;
    w.begin = std::find_if(all, stop, [first](const Branch::Record &r) { return r.offset >= first; });
    w.end = std::find_if(w.begin, stop, [last](const Branch::Record &r) { return r.offset > last; });
    return w;
}

/** Largest gap between consecutive arrivals of records arriving in [fromNs, toNs), ms. */
double largestGapMs(const Branch &b, uint64_t fromNs, uint64_t toNs) {
    const int c = b.count.load(std::memory_order_acquire);
    double gap = 0.0;
    for (int i = 1; i < c; i++) {
        if (b.records[i].arrivalNs < fromNs || b.records[i].arrivalNs >= toNs || b.records[i - 1].arrivalNs < fromNs)
            continue;
        gap = std::max(gap, static_cast<double>(b.records[i].arrivalNs - b.records[i - 1].arrivalNs) / 1e6);
    }
    return gap;
}

void Branches(benchmark::State &state) {
    if (!files().ok) {
        state.SkipWithError("cannot write the input files");
        return;
    }
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Rig rig(n);
        if (!rig.play() || !rig.waitFor(kWarmup, 10.0)) {
            state.SkipWithError("norvamultisrc does not stream");
            break;
        }
        const uint64_t first = rig.lastOffset() + 2, last = first + kFrames - 1;
        // Allocations are counted from the frame before the window on (the window starts at its next frame).
        if (!rig.waitFor(first - 1, 2.0)) {
            state.SkipWithError("stream stopped");
            break;
        }
        const long allocs0 = norva_bench::Allocations();
        const long long device0 = gDeviceCpuNs.load();
        const bool complete = rig.waitFor(last, kFrames / kFps + 5.0);
        const long allocs = norva_bench::Allocations() - allocs0;
        const double deviceUs = static_cast<double>(gDeviceCpuNs.load() - device0) / 1000.0;
        state.PauseTiming();
        gst_element_set_state(rig.pipeline, GST_STATE_NULL);
        state.counters["produced"] = static_cast<double>(kFrames);
        state.counters["complete"] = complete ? 1.0 : 0.0;
        std::vector<char> taken(kFrames, 0);
        for (int i = 0; i < rig.n && i < kMaxBranches; i++) {
            const Window w = window(rig.branches[i], first, last);
            const std::string k = "b" + std::to_string(i);
            const long received = w.end - w.begin;
            double sum = 0.0, worst = 0.0;
            for (const Branch::Record *r = w.begin; r != w.end; ++r) {
                taken[r->offset - first] = 1;
                const double ms = (static_cast<double>(r->arrivalNs) - static_cast<double>(r->interruptNs)) / 1e6;
                sum += ms;
                worst = std::max(worst, ms);
            }
            state.counters[k + "_lost"] = static_cast<double>(kFrames - received);
            if (received > 0) {
                state.counters[k + "_lat_ms"] = sum / static_cast<double>(received);
                state.counters[k + "_lat_max_ms"] = worst;
                state.counters[k + "_lat_periods"] = worst / kPeriodMs;
            }
            if (i == 0 && received > 1) {
                const double frames = static_cast<double>((w.end - 1)->offset - w.begin->offset);
                state.counters["cpu_us"] = ((w.end - 1)->cpuUs - w.begin->cpuUs) / frames;
                // The device's CPU time over the whole wait, the window's frames and about one more.
                state.counters["device_cpu_us"] = deviceUs / static_cast<double>(kFrames + 1);
                if (norva_bench::CountsAllocations())
                    state.counters["allocs"] = static_cast<double>(allocs) / frames;
            }
        }
        state.counters["lost_all"] = static_cast<double>(std::count(taken.begin(), taken.end(), 0));
        state.ResumeTiming();
    }
}
BENCHMARK(Branches)->Arg(1)->Arg(2)->Arg(3)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void SaveStall(benchmark::State &state) {
    if (!files().ok) {
        state.SkipWithError("cannot write the input files");
        return;
    }
    const std::string path = files().dir + "/save.yuv";
    for (auto _ : state) {
        Rig rig(2);
        if (!rig.play() || !rig.waitFor(kWarmup + kSaveFrames / 2, 15.0)) {
            state.SkipWithError("norvamultisrc does not stream");
            break;
        }
        const uint64_t before = monotonicNs() - static_cast<uint64_t>(kSaveFrames / 2 / kFps * 1e9);
        const uint64_t emitted = monotonicNs();
        g_signal_emit_by_name(rig.multi, "take-nrv-image", path.c_str(), "YUV", 0u);
        const uint64_t afterEmit = monotonicNs();
        rig.waitFor(rig.lastOffset() + kSaveFrames / 2, kSaveFrames / kFps + 5.0);
        state.PauseTiming();
        gst_element_set_state(rig.pipeline, GST_STATE_NULL);
        GStatBuf st;
        state.counters["saved"] = g_stat(path.c_str(), &st) == 0 && st.st_size > 0 ? 1.0 : 0.0;
        state.counters["emit_ms"] = static_cast<double>(afterEmit - emitted) / 1e6;
        for (int i = 0; i < 2; i++) {
            const std::string k = "b" + std::to_string(i);
            state.counters[k + "_stall_ms"] =
                std::max(0.0, largestGapMs(rig.branches[i], emitted, emitted + 1000000000ull) - kPeriodMs);
            state.counters[k + "_gap_ms"] = std::max(0.0, largestGapMs(rig.branches[i], before, emitted) - kPeriodMs);
        }
        state.ResumeTiming();
    }
}
BENCHMARK(SaveStall)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    g_setenv("NORVA_PLATFORM", "sim", TRUE);
    g_setenv("NORVA_SIM_PACED_FPS", "30", TRUE);
    gst_init(nullptr, nullptr);
    gst_plugin_norvasrc_register();
    norva_sim::SetPacedFrameRate(kFps);
    norva_sim::RenderDatagenAsTestPattern(true);
    gOps = *norva_sim::SimulationOps();
    gOps.ioctl = timedIoctl;
    SEAM_Override(&gOps);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SEAM_Override(nullptr);
    norva_sim::RenderDatagenAsTestPattern(false);
    return 0;
}
