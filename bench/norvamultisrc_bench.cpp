// norvamultisrc on the data generator of the simulated platform (libnorvaplatform.so, shared with the plug-in), in
// the process, paced at 30 frames per second, frames written as the test pattern: one capture served to 1, 2 and 3
// branches behind queues (NV12 640 x 480, BGRx 320 x 240, NV12 640 x 480 again: the ISP has one YUV and one RGB
// output, and a third format would ask for the slave context). Each branch is queue ! capsfilter ! fakesink; a
// buffer probe before the fakesink records the buffer's offset (the frame number), its arrival time and the
// interrupt time of its "timestamp/x-norva-stream" reference timestamp meta (CLOCK_MONOTONIC ns), then frees the
// buffer itself, timed, and keeps it from the sink. A probe on each request pad records when the element pushed
// the frame there.
//
// The element's own CPU time is told apart from the device's as in norvasrc_bench.cpp: every device command is
// timed with its thread's CPU clock, and that time is taken out of the CPU time of the threads measured.
//
// Branches/N/M: N branches, buffer mode M (0 pass, the capture buffers themselves; 2 copy, a copy per branch);
// kFrames frames counted from a frame after the warm-up:
//   bK_lost           frames of the window branch K did not receive: a frame still queued for a branch that has
//                     not taken it is dropped for that branch when the pool is full (the victim rule), so a slow
//                     branch loses frames the others received;
//   lost_all          frames of the window no branch received: losses the victim rule does not explain when
//                     another branch was ready;
//   bK_lat_ms/_max    mean and largest time from the frame's interrupt to its arrival at branch K's end;
//   bK_lat_periods    the largest of these in frame periods (target below 2);
//   bK_src_max_ms     the largest time from the interrupt to the push on K's request pad (the element's part);
//   pads_us           CPU time per frame of the element's streaming threads (one per request pad: the fetcher's
//                     frame loop, buffer building, copies in copy mode, the push into the queue), device commands
//                     excluded;
//   release_us        CPU time per frame of freeing the branches' buffers at their ends (the memories' release,
//                     the shot given back to the camera, waits for the element's locks), device commands excluded;
//   element_us        the two together;
//   branch_us         (two branches or more) what one more branch costs per frame: the CPU time of a request pad's
//                     streaming thread from one push to the next when another pad fetched the frame (woken, builds
//                     its buffer, pushes it into its queue), device commands excluded, plus the freeing of one
//                     buffer at a branch's end; medians over the window's iterations and buffers of every branch
//                     (target at most 50 us). An iteration counts as a fetch when its thread acquired a frame;
//   fetch_us          (two branches or more) what the fetch adds to a pad's iteration: the capture work of a frame
//                     in the element and the capture context (runtime settings, control loops, the data
//                     generator's frame), done once per frame whatever the number of branches. Paced at 30 fps,
//                     threads sleep between frames and run each frame on cold caches: whole runs vary by a factor
//                     of two or three, so that differences of element_us between runs say little;
//   device_cpu_us     CPU time of the device commands per frame (the simulated driver and ISP);
//   allocs            heap allocations per frame, every thread (builds without AddressSanitizer).
// SaveStall: two branches, pass mode; a full-frame "take-nrv-image" ("YUV", context 0) emitted on the bin halfway
// through:
//   bK_stall_ms       largest inter-arrival gap of branch K from the emission to a second after it, minus the
//                     frame period (branch 1 is the one that does not serve the internal source);
//   bK_gap_ms         the same measure over the frames before the emission, for comparison;
//   emit_ms           time the emission took on the application thread; saved: 1 when the file was written.
#include <benchmark/benchmark.h>

#include <gst/gst.h>

#include <glib/gstdio.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "gst_bench_device_time.h"
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
constexpr int kPushRing = 1024;
constexpr int kMaxBranches = 3;

using norva_bench::CpuNs;
using norva_bench::DeviceNs;

/** Device time by role: the request pads' streaming threads, the branches' ends (where buffers are freed). */
constexpr norva_bench::DeviceRole kPadThread = norva_bench::kStreamingThread;
constexpr norva_bench::DeviceRole kBranchThread = norva_bench::kMainThread;

uint64_t monotonicNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

/** The scene, setup and parameter files, written once per process (the element reads the parameter file once). */
using norva_bench::files;

/** Buffer freeing at the branches' ends is timed while this is set. */
std::atomic<bool> gMeasuring{false};

/** What one branch saw, in fixed storage: the probes add nothing per frame. */
struct Branch {
    struct Record {
        uint64_t offset;
        uint64_t arrivalNs;
        uint64_t interruptNs;
        uint64_t pushNs;
    };
    Record records[kMaxRecords];
    std::atomic<int> count{0};
    GstCaps *streamCaps = nullptr;
    /** Push times on the branch's request pad, by frame number modulo the ring. */
    std::atomic<uint64_t> pushNs[kPushRing] = {};
    std::atomic<uint64_t> lastPushed{0};
    /** The CPU clock of the request pad's streaming thread. */
    std::atomic<bool> padThreadKnown{false};
    clockid_t padClock{};
    std::atomic<long long> releaseNs{0};
    /** Iterations of the request pad's streaming thread (push to push) while measuring, device time excluded:
     *  those in which it fetched the frame, and those in which it only took its own buffer; and the freeing of
     *  each buffer at the branch's end. Each array has one writer. */
    long long fetchNs[kMaxRecords] = {}, ownNs[kMaxRecords] = {}, freeNs[kMaxRecords] = {};
    std::atomic<int> fetches{0}, owns{0}, frees{0};
};

/** Appends a sample to a branch's array, dropping it when the array is full. */
void addSample(long long *samples, std::atomic<int> &count, long long ns) {
    const int i = count.load(std::memory_order_relaxed);
    if (i < kMaxRecords) {
        samples[i] = ns;
        count.store(i + 1, std::memory_order_release);
    }
}

/** The last push of the calling streaming thread: its CPU clock, device time and acquired frames then. */
struct PushMark {
    long long cpuNs = -1;
    long long deviceNs = 0;
    long acquires = 0;
};
thread_local PushMark tLastPush;

GstPadProbeReturn onPush(GstPad *, GstPadProbeInfo *info, gpointer data) {
    Branch *b = static_cast<Branch *>(data);
    if (!b->padThreadKnown.load(std::memory_order_relaxed) &&
        pthread_getcpuclockid(pthread_self(), &b->padClock) == 0) {
        norva_bench::SetDeviceRole(kPadThread);
        b->padThreadKnown.store(true);
    }
    const long long cpu = CpuNs(CLOCK_THREAD_CPUTIME_ID);
    if (gMeasuring.load(std::memory_order_relaxed) && tLastPush.cpuNs >= 0) {
        const long long spent = cpu - tLastPush.cpuNs - (norva_bench::tThreadDeviceNs - tLastPush.deviceNs);
        if (norva_bench::tThreadAcquires != tLastPush.acquires)
            addSample(b->fetchNs, b->fetches, spent);
        else
            addSample(b->ownNs, b->owns, spent);
    }
    tLastPush = PushMark{cpu, norva_bench::tThreadDeviceNs, norva_bench::tThreadAcquires};
    const uint64_t offset = GST_BUFFER_OFFSET(GST_PAD_PROBE_INFO_BUFFER(info));
    b->pushNs[offset % kPushRing].store(monotonicNs(), std::memory_order_relaxed);
    b->lastPushed.store(offset, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn onArrival(GstPad *, GstPadProbeInfo *info, gpointer data) {
    Branch *b = static_cast<Branch *>(data);
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const uint64_t now = monotonicNs();
    norva_bench::SetDeviceRole(kBranchThread);
    const int i = b->count.load(std::memory_order_relaxed);
    if (i < kMaxRecords) {
        Branch::Record &r = b->records[i];
        r.arrivalNs = now;
        r.offset = GST_BUFFER_OFFSET(buffer);
        r.pushNs = b->pushNs[r.offset % kPushRing].load(std::memory_order_relaxed);
        GstReferenceTimestampMeta *meta = gst_buffer_get_reference_timestamp_meta(buffer, b->streamCaps);
        r.interruptNs = meta != nullptr ? meta->timestamp : 0;
        b->count.store(i + 1, std::memory_order_release);
    }
    // The buffer ends here: freeing it gives its memory back to the element.
    if (gMeasuring.load(std::memory_order_relaxed)) {
        const long long device = DeviceNs(kBranchThread);
        const long long start = CpuNs(CLOCK_THREAD_CPUTIME_ID);
        gst_buffer_unref(buffer);
        const long long spent = CpuNs(CLOCK_THREAD_CPUTIME_ID) - start;
        b->releaseNs.fetch_add(spent - (DeviceNs(kBranchThread) - device), std::memory_order_relaxed);
        addSample(b->freeNs, b->frees, spent - (DeviceNs(kBranchThread) - device));
    } else {
        gst_buffer_unref(buffer);
    }
    GST_PAD_PROBE_INFO_DATA(info) = nullptr;
    return GST_PAD_PROBE_HANDLED;
}

constexpr const char *kBranchCaps[kMaxBranches] = {"video/x-raw,format=NV12,width=640,height=480",
                                                   "video/x-raw,format=BGRx,width=320,height=240",
                                                   "video/x-raw,format=NV12,width=640,height=480"};

void addProbe(GstElement *bin, const std::string &element, const char *pad, GstPadProbeCallback callback,
              Branch *branch) {
    GstElement *e = gst_bin_get_by_name(GST_BIN(bin), element.c_str());
    if (e == nullptr)
        return;
    GstPad *p = gst_element_get_static_pad(e, pad);
    if (p != nullptr) {
        gst_pad_add_probe(p, GST_PAD_PROBE_TYPE_BUFFER, callback, branch, nullptr);
        gst_object_unref(p);
    }
    gst_object_unref(e);
}

/** A norvamultisrc with `n` branches in buffer mode `mode`, each queue ! capsfilter ! fakesink, probed. */
struct Rig {
    GstElement *pipeline = nullptr;
    GstElement *multi = nullptr;
    Branch branches[kMaxBranches];
    int n = 0;

    Rig(int branchCount, int mode) : n(std::min(std::max(branchCount, 1), kMaxBranches)) {
        std::string description = std::string("norvamultisrc name=m sensor=\"DOR Idazida\" buf-mode=") +
                                  (mode == 2 ? "copy" : "pass") + " use-dmabuf=false alloc-buffers=4 preenq-buffers=1";
        for (int i = 0; i < n; i++)
            description += " m.src_" + std::to_string(i) + " ! queue ! " + kBranchCaps[i] + " ! fakesink name=s" +
                           std::to_string(i) + " sync=false async=false";
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
            addProbe(pipeline, "s" + std::to_string(i), "sink", onArrival, &branches[i]);
            GstPad *pad = gst_element_get_static_pad(multi, ("src_" + std::to_string(i)).c_str());
            if (pad != nullptr) {
                gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onPush, &branches[i], nullptr);
                gst_object_unref(pad);
            }
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
    /** The largest frame number pushed on any request pad so far. */
    uint64_t lastPushed() const {
        uint64_t last = 0;
        for (int i = 0; i < n && i < kMaxBranches; i++)
            last = std::max(last, branches[i].lastPushed.load());
        return last;
    }
    /** CPU time of the request pads' streaming threads so far, ns. */
    long long padsCpuNs() const {
        long long sum = 0;
        for (int i = 0; i < n && i < kMaxBranches; i++) {
            if (branches[i].padThreadKnown.load())
                sum += CpuNs(branches[i].padClock);
        }
        return sum;
    }
    bool padThreadsKnown() const {
        for (int i = 0; i < n && i < kMaxBranches; i++) {
            if (!branches[i].padThreadKnown.load())
                return false;
        }
        return true;
    }
    long long releaseNs() const {
        long long sum = 0;
        for (int i = 0; i < n && i < kMaxBranches; i++)
            sum += branches[i].releaseNs.load();
        return sum;
    }
    /** The median over every branch of one kind of sample, in us; < 0 without samples. */
    double medianUs(long long (Branch::*samples)[kMaxRecords], std::atomic<int> Branch::*count) const {
        std::vector<long long> all;
        for (int i = 0; i < n && i < kMaxBranches; i++) {
            const Branch &b = branches[i];
            all.insert(all.end(), b.*samples, b.*samples + (b.*count).load(std::memory_order_acquire));
        }
        if (all.empty())
            return -1.0;
        std::nth_element(all.begin(), all.begin() + static_cast<long>(all.size() / 2), all.end());
        return static_cast<double>(all[all.size() / 2]) / 1e3;
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
    const int mode = static_cast<int>(state.range(1));
    for (auto _ : state) {
        Rig rig(n, mode);
        if (!rig.play() || !rig.waitFor(kWarmup, 10.0) || !rig.padThreadsKnown()) {
            state.SkipWithError("norvamultisrc does not stream");
            break;
        }
        const uint64_t first = rig.lastOffset() + 2, last = first + kFrames - 1;
        // Counting starts from the frame before the window on (the window starts at its next frame).
        if (!rig.waitFor(first - 1, 2.0)) {
            state.SkipWithError("stream stopped");
            break;
        }
        const long allocs0 = norva_bench::Allocations();
        const long long device0 = DeviceNs(), padDevice0 = DeviceNs(kPadThread);
        const long long pads0 = rig.padsCpuNs(), release0 = rig.releaseNs();
        const uint64_t pushed0 = rig.lastPushed();
        gMeasuring = true;
        const bool complete = rig.waitFor(last, kFrames / kFps + 5.0);
        gMeasuring = false;
        const double frames = static_cast<double>(std::max<uint64_t>(rig.lastPushed() - pushed0, 1));
        const double padsUs =
            static_cast<double>(rig.padsCpuNs() - pads0 - (DeviceNs(kPadThread) - padDevice0)) / 1e3 / frames;
        const double releaseUs = static_cast<double>(rig.releaseNs() - release0) / 1e3 / frames;
        const long allocs = norva_bench::Allocations() - allocs0;
        const double deviceUs = static_cast<double>(DeviceNs() - device0) / 1e3 / frames;
        state.PauseTiming();
        gst_element_set_state(rig.pipeline, GST_STATE_NULL);
        state.counters["complete"] = complete ? 1.0 : 0.0;
        std::vector<char> taken(kFrames, 0);
        for (int i = 0; i < rig.n && i < kMaxBranches; i++) {
            const Window w = window(rig.branches[i], first, last);
            const std::string k = "b" + std::to_string(i);
            const long received = w.end - w.begin;
            double sum = 0.0, worst = 0.0, worstSrc = 0.0;
            for (const Branch::Record *r = w.begin; r != w.end; ++r) {
                taken[r->offset - first] = 1;
                const double ms = (static_cast<double>(r->arrivalNs) - static_cast<double>(r->interruptNs)) / 1e6;
                sum += ms;
                worst = std::max(worst, ms);
                worstSrc =
                    std::max(worstSrc, (static_cast<double>(r->pushNs) - static_cast<double>(r->interruptNs)) / 1e6);
            }
            state.counters[k + "_lost"] = static_cast<double>(kFrames - received);
            if (received > 0) {
                state.counters[k + "_lat_ms"] = sum / static_cast<double>(received);
                state.counters[k + "_lat_max_ms"] = worst;
                state.counters[k + "_lat_periods"] = worst / kPeriodMs;
                state.counters[k + "_src_max_ms"] = worstSrc;
            }
        }
        state.counters["lost_all"] = static_cast<double>(std::count(taken.begin(), taken.end(), 0));
        state.counters["pads_us"] = padsUs;
        state.counters["release_us"] = releaseUs;
        state.counters["element_us"] = padsUs + releaseUs;
        const double ownUs = rig.medianUs(&Branch::ownNs, &Branch::owns);
        const double fetchUs = rig.medianUs(&Branch::fetchNs, &Branch::fetches);
        const double freeUs = rig.medianUs(&Branch::freeNs, &Branch::frees);
        if (ownUs >= 0.0 && fetchUs >= 0.0 && freeUs >= 0.0) {
            state.counters["branch_us"] = ownUs + freeUs;
            state.counters["fetch_us"] = fetchUs - ownUs;
        }
        state.counters["device_cpu_us"] = deviceUs;
        if (norva_bench::CountsAllocations())
            state.counters["allocs"] = static_cast<double>(allocs) / frames;
        state.ResumeTiming();
    }
}
BENCHMARK(Branches)
    ->ArgNames({"branches", "mode"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({3, 0})
    ->Args({1, 2})
    ->Args({2, 2})
    ->Args({3, 2})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void SaveStall(benchmark::State &state) {
    if (!files().ok) {
        state.SkipWithError("cannot write the input files");
        return;
    }
    const std::string path = files().dir + "/save.yuv";
    for (auto _ : state) {
        Rig rig(2, 0);
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
    norva_bench::TimeDeviceCommands();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SEAM_Override(nullptr);
    return 0;
}
