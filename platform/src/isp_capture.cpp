// Capture engine of the simulated ISP: shot pools, output buffers, start and stop, triggers, acquire and
// release, queries, on-demand frames from the frame source of each gasket processed by the image model of each
// pipeline, statistics and fault injection.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "norvacommon/ci_alloc_info.h"
#include "platform/sim_capture.h"
#include "platform/sim_frame_source.h"
#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "platform/sim_lsdecoder.h"
#include "platform/sim_pipeline.h"
#include "platform/sim_platform.h"
#include "sim_capture_internal.h"
#include "sim_gasket_internal.h"

namespace norva_sim {
namespace {

constexpr unsigned kMaxShots = 64;
constexpr unsigned kDefaultTimeoutMs = 1000;
constexpr uint32_t kUnknownBufferId = 0x7FFF0000u;
/* Words of the load area that the driver programs from the registration record (encoder statistics). */
constexpr size_t kEnsCouplesWord = 1124;
constexpr size_t kEnsSubExpWord = 1128;

enum class ShotState { Free, Pending, Finished, Acquired };

struct SimShot {
    int id = 0;
    ShotState state = ShotState::Free;
    uint32_t areaIds[4] = {0, 0, 0, 0}; /* statistics, DPF, ENS, load */
    uint32_t sizes[4] = {0, 0, 0, 0};
    uint8_t *statistics = nullptr;
    uint8_t *dpf = nullptr; /* defect write map */
    uint8_t *ens = nullptr; /* encoder statistics */
    uint8_t *load = nullptr;
    uint64_t order = 0; /* trigger order while pending, completion order while finished */
    OutputPlan outputs[SIM_OUT_N];
    uint32_t hdrInsId = 0;
    uint8_t privateValue = 0;
    uint32_t outputConfig = 0;
    bool driverError = false;
    int missed = 0;
    uint32_t linkedTicks = 0, interruptTicks = 0;
    uint64_t linkedNs = 0, interruptNs = 0, interruptTimeOfDay = 0;
};

struct Capture {
    int pipelineId = 0;
    int fd = -1;
    bool started = false;
    std::vector<SimShot> shots;
    std::map<uint32_t, SimBuffer> buffers;
    uint64_t nextOrder = 1;
    uint64_t framesCompleted = 0;
    int missed = 0;
    bool errorInStatus = false;
    bool errorInShot = false;
    bool unknownBuffer = false;
    bool wrappingLayout = false;
    std::deque<SimSaveStats> scripted;
    /** The image model of the pipeline, kept across frames (tables and scratch reused). */
    IspModel model;
    /** The register image of the frame being processed, decoded from the shot's load area. */
    CI_PIPELINE frameRegisters{};
};

/** Newest frame records kept (a ring, filled once). */
constexpr size_t kFrameRecords = 256;

/** Frame rate of the paced mode the environment asks for (NORVA_SIM_PACED_FPS); 0: frames on demand. */
double pacedRateFromEnvironment() {
    const char *v = std::getenv("NORVA_SIM_PACED_FPS");
    if (v == nullptr || *v == '\0')
        return 0.0;
    char *end = nullptr;
    const double fps = std::strtod(v, &end);
    return end != nullptr && *end == '\0' && fps > 0.0 && fps <= 1000.0 ? fps : 0.0;
}

/** Every how many completed frames one is erroneous, as the environment asks (NORVA_SIM_ERROR_EVERY); 0: none. */
uint64_t errorPeriodFromEnvironment() {
    const char *v = std::getenv("NORVA_SIM_ERROR_EVERY");
    if (v == nullptr || *v == '\0')
        return 0;
    char *end = nullptr;
    const unsigned long long n = std::strtoull(v, &end, 10);
    return end != nullptr && *end == '\0' ? n : 0;
}

struct Engine {
    std::map<int, std::unique_ptr<Capture>> captures;
    int nextShotId = 1;
    unsigned timeoutMs = kDefaultTimeoutMs;
    bool produceOnPoll = false;
    SimFrameSource *sources[CI_N_IMAGERS] = {nullptr, nullptr, nullptr, nullptr};
    uint64_t gasketFrames[CI_N_IMAGERS] = {0, 0, 0, 0};
    unsigned dropFrames[CI_N_IMAGERS] = {0, 0, 0, 0};
    bool datagenPattern = false;
    /** Paced mode: at most one frame per gasket every 1/pacedFps seconds (0: on demand). */
    double pacedFps = pacedRateFromEnvironment();
    uint64_t nextDueNs[CI_N_IMAGERS] = {0, 0, 0, 0}; /* CLOCK_MONOTONIC; 0: a frame may come now */
    /** Planes of triggers without layout start this many bytes into their buffer when it has room. */
    uint32_t planeOffset = 0;
    /** The next frame completed for any pipeline is erroneous (status word or driver flag). */
    bool nextErrorInStatus = false;
    bool nextErrorInShot = false;
    /** Every errorPeriod-th frame completed for any pipeline is erroneous in its status word (0: none). */
    uint64_t errorPeriod = errorPeriodFromEnvironment();
    uint64_t framesCompleted = 0;
    std::vector<SimFrameRecord> records = std::vector<SimFrameRecord>(kFrameRecords);
    size_t recordCount = 0; /* records written so far; the newest is at (recordCount - 1) % kFrameRecords */
    SimCaptureCounters counters;
};

Engine &engine() {
    static Engine e;
    return e;
}

} // namespace

bool DatagenPatternWanted() { return engine().datagenPattern; }

namespace {

/* ---- clocks ---- */

uint64_t clockNs(clockid_t clock) {
    struct timespec ts;
    clock_gettime(clock, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

uint32_t hardwareTicks(uint64_t monotonicNs) {
    const uint64_t mhz = IspDevice().description.sHWInfo.ui32RefClockMhz;
    return static_cast<uint32_t>(monotonicNs / 1000ull * mhz);
}

/** The source plugged into the gasket; else the data generator that drives it; else the test pattern. */
SimFrameSource &sourceOf(unsigned gasket) {
    SimFrameSource *s = gasket < CI_N_IMAGERS ? engine().sources[gasket] : nullptr;
    if (s != nullptr)
        return *s;
    if (gasket < CI_N_IMAGERS && DatagenDrivesGasket(gasket))
        return DatagenFrameSource();
    return TestPatternSource();
}

/* ---- records ---- */

/** The capture of a pipeline the calling file registered; created on first use. */
struct FileCapture : FileExtension {
    std::vector<int> ids;
    ~FileCapture() override;
};

void dropCapture(IspFile *file, Capture &c);

FileCapture::~FileCapture() {
    // The file is closing: its device memory goes with it, only the records and counters are left to drop.
    for (int id : ids) {
        auto it = engine().captures.find(id);
        if (it == engine().captures.end())
            continue;
        dropCapture(nullptr, *it->second);
        engine().captures.erase(it);
    }
    PlatformCondition().notify_all();
}

SimPipelineView *ownedPipeline(CommandContext &ctx, int id) {
    SimPipelineView *v = FindSimPipelineLocked(id);
    return (v != nullptr && v->fd == ctx.file.fd) ? v : nullptr;
}

Capture *findCapture(int id) {
    auto it = engine().captures.find(id);
    return it == engine().captures.end() ? nullptr : it->second.get();
}

Capture &captureOf(CommandContext &ctx, int id) {
    Capture *c = findCapture(id);
    if (c != nullptr)
        return *c;
    std::unique_ptr<Capture> made(new Capture());
    made->pipelineId = id;
    made->fd = ctx.file.fd;
    c = made.get();
    engine().captures[id] = std::move(made);
    ctx.file.extension<FileCapture>().ids.push_back(id);
    return *c;
}

void freeShotAreas(IspFile *file, SimShot &s) {
    for (uint32_t id : s.areaIds) {
        if (id != 0 && file != nullptr)
            FreeDeviceMemory(*file, id);
    }
    DriverObjectDestroyed();
}

void dropCapture(IspFile *file, Capture &c) {
    for (SimShot &s : c.shots)
        freeShotAreas(file, s);
    c.shots.clear();
    for (auto &b : c.buffers) {
        if (file != nullptr)
            FreeDeviceMemory(*file, b.first);
        DriverObjectDestroyed();
    }
    c.buffers.clear();
    if (c.started) {
        SimPipelineView *v = FindSimPipelineLocked(c.pipelineId);
        if (v != nullptr && v->info.config.ui8Context < CI_N_CONTEXT) {
            IspDevice().description.sLinestoreStatus.aActive[v->info.config.ui8Context] = 0;
        }
        c.started = false;
    }
}

SimBuffer *bufferOfKind(Capture &c, uint32_t id, int kind) {
    auto it = c.buffers.find(id);
    return (it == c.buffers.end() || it->second.kind != kind) ? nullptr : &it->second;
}

void freeBuffer(Capture &c, uint32_t id) {
    auto it = c.buffers.find(id);
    if (it != c.buffers.end())
        it->second.state = BufferState::Free;
}

/** Returns a pending or finished shot and its buffers to free. */
void dropShot(Capture &c, SimShot &s) {
    for (const OutputPlan &o : s.outputs) {
        if (o.bufferId != 0)
            freeBuffer(c, o.bufferId);
    }
    if (s.hdrInsId != 0)
        freeBuffer(c, s.hdrInsId);
    s.state = ShotState::Free;
}

unsigned countShots(const Capture &c, ShotState state) {
    unsigned n = 0;
    for (const SimShot &s : c.shots)
        n += s.state == state ? 1u : 0u;
    return n;
}

SimShot *oldest(Capture &c, ShotState state) {
    SimShot *best = nullptr;
    for (SimShot &s : c.shots) {
        if (s.state == state && (best == nullptr || s.order < best->order))
            best = &s;
    }
    return best;
}

/* ---- frames ---- */

void writeStatus(SimShot &s, bool error) {
    const uint32_t status = (error ? 1u : 0u) | static_cast<uint32_t>(s.privateValue) << 16;
    uint8_t *p = s.statistics + CI_SAVE_STATUS_OFFSET;
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(status >> (8 * i));
}

void put32(uint8_t *area, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; i++)
        area[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

/** The output memory of a frame target as the image model takes it. */
IspOutputBuffer modelBuffer(const SimOutputTarget &t) {
    IspOutputBuffer b;
    if (!t.present)
        return b;
    b.data = t.memory;
    b.size = static_cast<size_t>(t.size);
    b.offset = t.offset[0];
    b.stride = t.stride[0];
    if (t.planes > 1) {
        b.chromaOffset = t.offset[1];
        b.chromaStride = t.stride[1];
    }
    if (t.tiled && t.tileWidth != 0) {
        b.tileStride = t.tileWidth;
        b.tileHeight = t.tileHeight;
    }
    return b;
}

/**
 * Processes a Bayer frame for one pipeline with its image model: the register image snapshotted in the shot's
 * load area at the trigger, the pipeline information, the device's gamma curve and the active lens-shading
 * matrix. False when the frame is erroneous (refused by the model, or not covering the imager window).
 */
bool processWithModel(Capture &c, SimShot &s, const SimPipelineView &v, const SimFrameContext &ctx,
                      const IspInputFrame &input) {
    if (input.samples == nullptr || s.load == nullptr)
        return false;
    // Fields outside the load structure (configuration, imager interface) are the pipeline's.
    c.frameRegisters = v.decoded;
    if (SimLS_Decode(s.load, s.sizes[3], &c.frameRegisters) != QOR_RES_OK)
        return false;
    IspFrameSettings settings;
    settings.registers = &c.frameRegisters;
    settings.info = &v.info;
    settings.gamma = &IspDevice().description.sGammaLUT;
    settings.privateValue = s.privateValue;
    if (v.activeMatrix != 0) {
        auto m = v.matrices.find(v.activeMatrix);
        IspFile *file = FindOpenFile(v.fd);
        DeviceMemory *memory = file != nullptr ? FindDeviceMemory(*file, v.activeMatrix) : nullptr;
        void *host = memory != nullptr ? DeviceMemoryHost(*memory) : nullptr;
        if (m != v.matrices.end() && host != nullptr) {
            settings.lshMatrix = static_cast<const uint8_t *>(host);
            settings.lshMatrixSize = std::min<size_t>(m->second.size, memory->size);
            settings.lshConfig = m->second.config;
        }
    }
    IspFrameOutputs outputs;
    outputs.encoder = modelBuffer(ctx.outputs[SIM_OUT_ENC]);
    outputs.display = modelBuffer(ctx.outputs[SIM_OUT_DISP]);
    outputs.hdrExtraction = modelBuffer(ctx.outputs[SIM_OUT_HDREXT]);
    outputs.raw2D = modelBuffer(ctx.outputs[SIM_OUT_RAW2D]);
    outputs.statistics = s.sizes[0] >= kIspStatsSize ? s.statistics : nullptr;
    if (!v.defectMap.empty()) {
        settings.defectMap = v.defectMap.data();
        settings.defectCount = static_cast<uint32_t>(v.defectMap.size() / 2);
    }
    outputs.defectOutput = s.dpf;
    outputs.defectOutputSize = s.dpf != nullptr ? s.sizes[1] : 0;
    outputs.ensOutput = s.ens;
    outputs.ensOutputSize = s.ens != nullptr ? s.sizes[2] : 0;
    IspFrameResult result;
    c.model.setWorkers(&IspModelWorkers());
    return c.model.process(input, settings, outputs, &result) == QOR_RES_OK && !result.frameError;
}

uint32_t get32(const uint8_t *area, size_t offset) {
    uint32_t v = 0;
    for (int i = 0; i < 4; i++)
        v |= static_cast<uint32_t>(area[offset + i]) << (8 * i);
    return v;
}

/** Keeps what the frame of a shot carried (the ring's entries are reused: nothing grows per frame). */
void recordFrame(const Capture &c, const SimShot &s, bool error) {
    Engine &e = engine();
    SimFrameRecord &r = e.records[e.recordCount % kFrameRecords];
    e.recordCount++;
    r = SimFrameRecord();
    r.interruptSysTime = s.interruptNs;
    r.pipelineId = c.pipelineId;
    r.frame = c.framesCompleted + 1;
    r.error = error;
    if (s.statistics == nullptr || s.sizes[0] < kSaveStructureSize)
        return;
    for (size_t b = 0; b < 64; b++)
        r.histogramGlobalSum += get32(s.statistics, kSaveHistogramGlobal + 4 * b);
    for (size_t b = 0; b < 7 * 7 * 16; b++)
        r.histogramRegionSum += get32(s.statistics, kSaveHistogramRegions + 4 * b);
    r.focusRoi = get32(s.statistics, kSaveFocusRoi);
    for (size_t i = 0; i < 7; i++) {
        for (size_t j = 0; j < 7; j++)
            r.focusGridSum += get32(s.statistics, kSaveFocusGrid + 64 * i + 4 * j);
    }
}

/** Completes the oldest pending trigger of a capture with the frame the source holds. */
void completeFrame(Capture &c, SimShot &s, SimFrameSource &source, unsigned gasket) {
    SimPipelineView *v = FindSimPipelineLocked(c.pipelineId);
    SimFrameContext ctx;
    ctx.pipelineId = c.pipelineId;
    ctx.gasket = gasket;
    ctx.frameNumber = engine().gasketFrames[gasket];
    ctx.info = &v->info;
    ctx.decoded = &v->decoded;
    ctx.statistics = s.statistics;
    ctx.statisticsSize = s.sizes[0];
    const uint32_t scheme = IspDevice().description.sHWInfo.uiTiledScheme;
    for (unsigned o = 0; o < SIM_OUT_N; o++) {
        const OutputPlan &plan = s.outputs[o];
        if (plan.bufferId == 0)
            continue;
        SimBuffer *b = bufferOfKind(c, plan.bufferId, outputAllocKind(o));
        if (b == nullptr || b->host == nullptr)
            continue;
        SimOutputTarget &t = ctx.outputs[o];
        t.present = true;
        t.format = formatOf(v->info.config, o);
        outputSize(*v, o, &t.width, &t.height);
        t.memory = b->host;
        t.size = b->size;
        t.planes = semiPlanar(t.format) ? 2 : 1;
        for (int p = 0; p < 2; p++) {
            t.stride[p] = plan.stride[p];
            t.rows[p] = plan.rows[p];
            t.offset[p] = plan.offset[p];
        }
        t.tiled = b->tiled;
        if (b->tiled && scheme != 0) {
            t.tileWidth = scheme;
            t.tileHeight = 4096 / scheme;
        }
    }
    memset(s.statistics, 0, s.sizes[0]);
    bool frameError = false;
    IspInputFrame input;
    if (source.bayer(gasket, &input)) {
        frameError = !processWithModel(c, s, *v, ctx, input);
    } else {
        source.render(ctx);
    }
    const uint64_t now = clockNs(CLOCK_MONOTONIC);
    s.interruptNs = now;
    s.interruptTicks = hardwareTicks(now);
    s.interruptTimeOfDay = clockNs(CLOCK_REALTIME);
    if (!c.scripted.empty()) {
        WriteSaveStructure(c.scripted.front(), s.statistics, s.sizes[0]);
        c.scripted.pop_front();
    } else {
        for (int i = 0; i < 5; i++)
            put32(s.statistics, 5476 + 4 * i, s.interruptTicks - 5u + static_cast<uint32_t>(i));
    }
    Engine &e = engine();
    e.framesCompleted++;
    const bool periodic = e.errorPeriod != 0 && e.framesCompleted % e.errorPeriod == 0;
    const bool statusError = c.errorInStatus || e.nextErrorInStatus || frameError || periodic;
    writeStatus(s, statusError);
    s.driverError = c.errorInShot || e.nextErrorInShot;
    c.errorInStatus = c.errorInShot = false;
    e.nextErrorInStatus = e.nextErrorInShot = false;
    recordFrame(c, s, statusError || s.driverError);
    s.missed = c.missed;
    c.missed = 0;
    // The insertion buffer was read; the library keeps it pending until the capture stops.
    if (s.hdrInsId != 0)
        freeBuffer(c, s.hdrInsId);
    s.state = ShotState::Finished;
    s.order = c.nextOrder++;
    c.framesCompleted++;
}

/** Whether a started pipeline captures from the gasket. */
bool onGasket(const Capture &c, unsigned gasket) {
    if (!c.started)
        return false;
    SimPipelineView *v = FindSimPipelineLocked(c.pipelineId);
    return v != nullptr && v->info.iifConfig.ui8Imager == gasket;
}

/**
 * Takes one frame from the gasket and delivers it to every started pipeline on it that has a pending trigger
 * (the others miss it). False when the source has no frame now.
 */
bool produceFrame(unsigned gasket) {
    if (gasket >= CI_N_IMAGERS)
        return false;
    Engine &e = engine();
    const uint64_t now = e.pacedFps > 0.0 ? clockNs(CLOCK_MONOTONIC) : 0;
    if (e.pacedFps > 0.0 && now < e.nextDueNs[gasket])
        return false;
    SimFrameSource &source = sourceOf(gasket);
    if (!source.ready(gasket) || !source.begin(gasket))
        return false;
    if (e.pacedFps > 0.0) {
        // Frames on a grid of the frame period; a consumer more than a period late restarts the grid instead
        // of receiving a burst of frames.
        const uint64_t period = static_cast<uint64_t>(1e9 / e.pacedFps);
        const uint64_t due = e.nextDueNs[gasket];
        e.nextDueNs[gasket] = (due == 0 || now > due + period) ? now + period : due + period;
    }
    e.gasketFrames[gasket]++;
    const bool dropped = e.dropFrames[gasket] > 0;
    if (dropped)
        e.dropFrames[gasket]--;
    for (auto &entry : e.captures) {
        Capture &c = *entry.second;
        if (!onGasket(c, gasket))
            continue;
        SimShot *s = dropped ? nullptr : oldest(c, ShotState::Pending);
        if (s == nullptr) {
            c.missed++;
            continue;
        }
        completeFrame(c, *s, source, gasket);
    }
    source.end(gasket);
    PlatformCondition().notify_all();
    return true;
}

/** Produces frames for a capture's pending triggers until one finishes; false when the source has none now. */
bool produceFor(Capture &c) {
    SimPipelineView *v = FindSimPipelineLocked(c.pipelineId);
    if (v == nullptr || !c.started)
        return false;
    // Dropped frames do not finish a trigger: keep taking frames while they are being dropped.
    for (unsigned guard = 0; guard < 1024; guard++) {
        if (oldest(c, ShotState::Finished) != nullptr)
            return true;
        if (oldest(c, ShotState::Pending) == nullptr)
            return false;
        if (!produceFrame(v->info.iifConfig.ui8Imager))
            return false;
    }
    return oldest(c, ShotState::Finished) != nullptr;
}

/**
 * Waits on the platform condition until `wake` (at most `deadline`); false once `deadline` has passed. Both
 * clocks are CLOCK_MONOTONIC.
 */
bool waitUntil(CommandContext &ctx, std::chrono::steady_clock::time_point wake,
               std::chrono::steady_clock::time_point deadline) {
    return PlatformCondition().wait_until(ctx.lock, wake) == std::cv_status::no_timeout ||
           std::chrono::steady_clock::now() < deadline;
}

bool waitUntil(CommandContext &ctx, std::chrono::steady_clock::time_point deadline) {
    return waitUntil(ctx, deadline, deadline);
}

/** In paced mode, when the next frame of the capture's gasket is due; otherwise never. */
std::chrono::steady_clock::time_point pacedWake(const Capture &c) {
    const Engine &e = engine();
    const SimPipelineView *v = FindSimPipelineLocked(c.pipelineId);
    const unsigned gasket = v != nullptr ? v->info.iifConfig.ui8Imager : CI_N_IMAGERS;
    if (e.pacedFps <= 0.0 || gasket >= CI_N_IMAGERS || e.nextDueNs[gasket] == 0)
        return std::chrono::steady_clock::time_point::max();
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::nanoseconds(e.nextDueNs[gasket])));
}

std::chrono::steady_clock::time_point deadlineFromNow() {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(engine().timeoutMs);
}

/* ---- commands ---- */

long addPool(CommandContext &ctx) {
    CI_POOL_PARAM *param = ctx.record<CI_POOL_PARAM>();
    SimPipelineView *v = ownedPipeline(ctx, static_cast<int>(param->configId));
    if (v == nullptr)
        return -EINVAL;
    Capture &c = captureOf(ctx, v->id);
    if (c.shots.size() >= kMaxShots)
        return -ENOMEM;
    const CI_PIPELINE_CONFIG &cfg = v->info.config;
    SimShot s;
    s.sizes[0] = kSaveStructureSize;
    s.sizes[1] = cfg.ui32DPFWriteMapSize;
    if (cfg.eOutputConfig & CI_SAVE_ENS) {
        // One 8-byte element per group of lines of the encoder output.
        const uint32_t lines = 1u << std::min<unsigned>(v->info.ensConfig.ui8Log2NCouples + 3u, 20u);
        s.sizes[2] = 8u * ((std::max<uint32_t>(cfg.ui16MaxEncOutHeight, 1u) + lines - 1) / lines);
    }
    s.sizes[3] = kLoadAreaSize;
    for (int i = 0; i < 4; i++) {
        if (s.sizes[i] == 0)
            continue;
        int error = 0;
        DeviceMemory *m = AllocateDeviceMemory(ctx.file, s.sizes[i], &error);
        if (m == nullptr || DeviceMemoryHost(*m) == nullptr) {
            for (int j = 0; j < i; j++) {
                if (s.areaIds[j] != 0)
                    FreeDeviceMemory(ctx.file, s.areaIds[j]);
            }
            if (m != nullptr)
                FreeDeviceMemory(ctx.file, m->id);
            return m == nullptr ? error : -ENOMEM;
        }
        s.areaIds[i] = m->id;
        if (i == 0)
            s.statistics = static_cast<uint8_t *>(m->host);
        if (i == 1)
            s.dpf = static_cast<uint8_t *>(m->host);
        if (i == 2)
            s.ens = static_cast<uint8_t *>(m->host);
        if (i == 3)
            s.load = static_cast<uint8_t *>(m->host);
    }
    s.id = engine().nextShotId++;
    c.shots.push_back(s);
    DriverObjectCreated();
    param->iShotId = s.id;
    for (int i = 0; i < 4; i++)
        param->aMemMapIds[i] = s.areaIds[i];
    memset(&param->sample, 0, sizeof(param->sample));
    param->sample.statsSize = s.sizes[0];
    param->sample.uiDPFSize = s.sizes[1];
    param->sample.uiENSSize = s.sizes[2];
    param->sample.loadSize = s.sizes[3];
    return 0;
}

long deletePool(CommandContext &ctx) {
    SimPipelineView *v = ownedPipeline(ctx, static_cast<int>(ctx.value()));
    if (v == nullptr)
        return -EINVAL;
    Capture *c = findCapture(v->id);
    if (c == nullptr)
        return 0;
    // The hardware writes into pending shots: the pool goes only with the capture stopped.
    if (c->started)
        return -EBUSY;
    for (SimShot &s : c->shots) {
        if (s.state != ShotState::Free)
            dropShot(*c, s);
        freeShotAreas(&ctx.file, s);
    }
    c->shots.clear();
    PlatformCondition().notify_all();
    return 0;
}

long start(CommandContext &ctx) {
    SimPipelineView *v = ownedPipeline(ctx, static_cast<int>(ctx.value()));
    if (v == nullptr)
        return -EINVAL;
    Capture &c = captureOf(ctx, v->id);
    if (c.started)
        return 0;
    const unsigned context = v->info.config.ui8Context;
    if (context >= CI_N_CONTEXT)
        return -EINVAL;
    for (auto &entry : engine().captures) {
        const Capture &other = *entry.second;
        SimPipelineView *ov = FindSimPipelineLocked(other.pipelineId);
        if (other.started && ov != nullptr && ov->info.config.ui8Context == context)
            return -EBUSY;
    }
    CI_LINESTORE &ls = IspDevice().description.sLinestoreStatus;
    const uint32_t width = (v->info.iifConfig.ui16ImagerSize[0] + 1u) * 2u;
    if (ls.aStart[context] < 0 || ls.aSize[context] < width)
        return -EINVAL;
    ls.aActive[context] = 1;
    c.started = true;
    return 0;
}

long stop(CommandContext &ctx) {
    SimPipelineView *v = ownedPipeline(ctx, static_cast<int>(ctx.value()));
    if (v == nullptr)
        return -EINVAL;
    Capture *c = findCapture(v->id);
    if (c == nullptr || !c->started)
        return 0;
    for (SimShot &s : c->shots) {
        if (s.state == ShotState::Pending || s.state == ShotState::Finished)
            dropShot(*c, s);
    }
    c->started = false;
    if (v->info.config.ui8Context < CI_N_CONTEXT) {
        IspDevice().description.sLinestoreStatus.aActive[v->info.config.ui8Context] = 0;
    }
    PlatformCondition().notify_all();
    return 0;
}

long trigger(CommandContext &ctx) {
    CI_BUFFER_TRIGG *t = ctx.record<CI_BUFFER_TRIGG>();
    SimPipelineView *v = ownedPipeline(ctx, t->captureId);
    if (v == nullptr)
        return -EINVAL;
    const int id = v->id;
    Capture *c = findCapture(id);
    if (c == nullptr || !c->started)
        return -ECANCELED;
    const CI_BUFFID &ids = t->bufferIds;

    // Resolve and plan every named buffer before anything changes.
    struct Named {
        uint32_t id;
        int kind;
        int output; /* -1: HDR insertion */
        uint32_t strideY, strideC, offsetY, offsetC;
    } named[] = {
        {ids.encId, CI_ALLOC_ENC, SIM_OUT_ENC, ids.encStrideY, ids.encStrideC, ids.encOffsetY, ids.encOffsetC},
        {ids.dispId, CI_ALLOC_DISP, SIM_OUT_DISP, ids.dispStride, 0, ids.dispOffset, 0},
        {ids.idHDRExt, CI_ALLOC_HDREXT, SIM_OUT_HDREXT, ids.HDRExtStride, 0, ids.HDRExtOffset, 0},
        {ids.idRaw2D, CI_ALLOC_RAW2D, SIM_OUT_RAW2D, ids.raw2DStride, 0, ids.raw2DOffset, 0},
        {ids.idHDRIns, CI_ALLOC_HDRINS, -1, ids.HDRInsStride, 0, ids.HDRInsOffset, 0},
    };
    OutputPlan plans[SIM_OUT_N];
    for (const Named &n : named) {
        if (n.id == 0)
            continue;
        SimBuffer *b = bufferOfKind(*c, n.id, n.kind);
        if (b == nullptr || b->state != BufferState::Free)
            return -EINVAL;
        if (n.output < 0)
            continue;
        if (formatOf(v->info.config, static_cast<unsigned>(n.output)).eFmt == PXL_NONE)
            return -EINVAL;
        // Without a layout from the stack, the planes start at the chosen offset where the buffer has room.
        const uint32_t shift = engine().planeOffset;
        const bool shifted = shift != 0 && n.strideY == 0 && n.offsetY == 0 && n.offsetC == 0 &&
                             planOutput(*v, static_cast<unsigned>(n.output), *b, 0, 0, shift, 0, &plans[n.output]);
        if (!shifted && !planOutput(*v, static_cast<unsigned>(n.output), *b, n.strideY, n.strideC, n.offsetY, n.offsetC,
                                    &plans[n.output])) {
            return -EINVAL;
        }
    }

    // A free shot and room in the context's pending queue; a blocking trigger waits (bounded) for both.
    const unsigned queue = std::max<unsigned>(
        IspDevice()
            .description.sHWInfo.context_aPendingQueue[std::min<unsigned>(v->info.config.ui8Context, CI_N_CONTEXT - 1)],
        1u);
    const auto deadline = deadlineFromNow();
    SimShot *shot = nullptr;
    for (;;) {
        c = findCapture(id);
        if (c == nullptr || !c->started || ctx.file.closed)
            return -ECANCELED;
        shot = countShots(*c, ShotState::Pending) < queue ? oldest(*c, ShotState::Free) : nullptr;
        if (shot != nullptr)
            break;
        if (!t->bBlocking)
            return -EBUSY;
        if (!waitUntil(ctx, deadline))
            return -ETIME;
    }
    // The wait may have let other commands change the buffers: check them again.
    for (const Named &n : named) {
        if (n.id == 0)
            continue;
        SimBuffer *b = bufferOfKind(*c, n.id, n.kind);
        if (b == nullptr || b->state != BufferState::Free)
            return -EINVAL;
    }
    for (const Named &n : named) {
        if (n.id != 0)
            bufferOfKind(*c, n.id, n.kind)->state = BufferState::Pending;
    }
    v = FindSimPipelineLocked(id);
    for (unsigned o = 0; o < SIM_OUT_N; o++)
        shot->outputs[o] = plans[o];
    shot->hdrInsId = ids.idHDRIns;
    shot->state = ShotState::Pending;
    shot->order = c->nextOrder++;
    // What the frame will be processed with: the applied registers (the driver also programs the encoder
    // statistics registers from the registration record) and the private value.
    memcpy(shot->load, v->registers.data(), std::min<size_t>(v->registers.size(), shot->sizes[3]));
    if (shot->sizes[3] >= kEnsSubExpWord + 4) {
        put32(shot->load, kEnsCouplesWord, v->info.ensConfig.ui8Log2NCouples & 7u);
        put32(shot->load, kEnsSubExpWord, v->info.ensConfig.ui8SubExp & 7u);
    }
    shot->privateValue = v->nextPrivateValue;
    v->nextPrivateValue = static_cast<uint8_t>(v->nextPrivateValue + 1u);
    shot->outputConfig = v->info.config.eOutputConfig;
    shot->linkedNs = clockNs(CLOCK_MONOTONIC);
    shot->linkedTicks = hardwareTicks(shot->linkedNs);
    PlatformCondition().notify_all();
    return 0;
}

void fillShot(const Capture &c, const SimShot &s, CI_SHOT &out) {
    memset(&out, 0, sizeof(out));
    struct Dest {
        uint32_t *id;
        uint32_t *size; /* {stride, rows} */
        uint32_t *offset;
        QOR_BOOL8 *tiled;
    } dests[SIM_OUT_N] = {
        {&out.encId, out.aEncYSize, out.aEncOffset, &out.bEncTiled},
        {&out.dispId, out.aDispSize, &out.ui32DispOffset, &out.bDispTiled},
        {&out.HDRExtId, out.aHDRExtSize, &out.ui32HDRExtOffset, &out.bHDRExtTiled},
        {&out.raw2DExtId, out.aRaw2DSize, &out.ui32Raw2DOffset, nullptr},
    };
    for (unsigned o = 0; o < SIM_OUT_N; o++) {
        const OutputPlan &p = s.outputs[o];
        if (p.bufferId == 0)
            continue;
        *dests[o].id = p.bufferId;
        dests[o].size[0] = p.stride[0];
        dests[o].size[1] = p.rows[0];
        dests[o].offset[0] = p.offset[0];
        auto it = c.buffers.find(p.bufferId);
        if (dests[o].tiled != nullptr && it != c.buffers.end())
            *dests[o].tiled = it->second.tiled ? 1 : 0;
    }
    out.aEncCbCrSize[0] = s.outputs[SIM_OUT_ENC].stride[1];
    out.aEncCbCrSize[1] = s.outputs[SIM_OUT_ENC].rows[1];
    out.aEncOffset[1] = s.outputs[SIM_OUT_ENC].offset[1];
    out.statsSize = s.sizes[0];
    out.uiDPFSize = s.sizes[1];
    out.uiENSSize = s.sizes[2];
    out.loadSize = s.sizes[3];
    out.ui8PrivateValue = s.privateValue;
    out.bFrameError = s.driverError ? 1 : 0;
    out.i32MissedFrames = s.missed;
    out.ui32LinkedListTS = s.linkedTicks;
    out.ui32InterruptTS = s.interruptTicks;
    out.ui64LinkedListSysTime = s.linkedNs;
    out.ui64InterruptSysTime = s.interruptNs;
    out.ui64InterruptTimeOfDay = s.interruptTimeOfDay;
    out.eOutputConfig = s.outputConfig;
}

long acquire(CommandContext &ctx) {
    CI_BUFFER_PARAM *param = ctx.record<CI_BUFFER_PARAM>();
    SimPipelineView *v = ownedPipeline(ctx, param->captureId);
    if (v == nullptr)
        return -EINVAL;
    const int id = v->id;
    const auto deadline = deadlineFromNow();
    for (;;) {
        Capture *c = findCapture(id);
        if (c == nullptr)
            return param->bBlocking ? -ECANCELED : -EALREADY;
        SimShot *s = oldest(*c, ShotState::Finished);
        if (s == nullptr && (param->bBlocking || engine().produceOnPoll) && produceFor(*c)) {
            s = oldest(*c, ShotState::Finished);
        }
        if (s != nullptr) {
            s->state = ShotState::Acquired;
            for (const OutputPlan &o : s->outputs) {
                auto it = c->buffers.find(o.bufferId);
                if (o.bufferId != 0 && it != c->buffers.end())
                    it->second.state = BufferState::Acquired;
            }
            param->shotId = s->id;
            fillShot(*c, *s, param->shot);
            engine().counters.acquires++;
            if (c->unknownBuffer) {
                param->shot.encId = kUnknownBufferId;
                c->unknownBuffer = false;
            }
            if (c->wrappingLayout && param->shot.encId != 0) {
                param->shot.aEncYSize[0] = 1u << 28;
                param->shot.aEncYSize[1] = 16;
                c->wrappingLayout = false;
            }
            return 0;
        }
        if (!param->bBlocking)
            return -EALREADY;
        if (!c->started || ctx.file.closed)
            return -ECANCELED;
        if (!waitUntil(ctx, std::min(deadline, pacedWake(*c)), deadline))
            return -ETIME;
    }
}

long release(CommandContext &ctx) {
    const CI_BUFFER_TRIGG *t = ctx.record<CI_BUFFER_TRIGG>();
    SimPipelineView *v = ownedPipeline(ctx, t->captureId);
    if (v == nullptr)
        return -EINVAL;
    Capture *c = findCapture(v->id);
    if (c == nullptr)
        return -EINVAL;
    for (SimShot &s : c->shots) {
        if (s.id != t->shotId)
            continue;
        if (s.state != ShotState::Acquired)
            return -EINVAL;
        for (OutputPlan &o : s.outputs) {
            if (o.bufferId != 0)
                freeBuffer(*c, o.bufferId);
            o = OutputPlan();
        }
        s.hdrInsId = 0;
        s.state = ShotState::Free;
        engine().counters.releases++;
        PlatformCondition().notify_all();
        return 0;
    }
    return -EINVAL;
}

Capture *queried(CommandContext &ctx, int id, long *answer) {
    SimPipelineView *v = ownedPipeline(ctx, id);
    if (v == nullptr) {
        *answer = -EINVAL;
        return nullptr;
    }
    *answer = 0;
    return findCapture(v->id);
}

long isStarted(CommandContext &ctx) {
    long answer;
    Capture *c = queried(ctx, static_cast<int>(ctx.value()), &answer);
    return answer < 0 ? answer : (c != nullptr && c->started ? 1 : 0);
}

long hasWaiting(CommandContext &ctx) {
    long answer;
    Capture *c = queried(ctx, static_cast<int>(ctx.value()), &answer);
    if (answer < 0 || c == nullptr)
        return answer;
    if (engine().produceOnPoll)
        produceFor(*c);
    return countShots(*c, ShotState::Finished);
}

long hasPending(CommandContext &ctx) {
    long answer;
    Capture *c = queried(ctx, static_cast<int>(ctx.value()), &answer);
    return (answer < 0 || c == nullptr) ? answer : static_cast<long>(countShots(*c, ShotState::Pending));
}

long hasAvailable(CommandContext &ctx) {
    CI_HAS_AVAIL *a = ctx.record<CI_HAS_AVAIL>();
    long answer;
    Capture *c = queried(ctx, a->captureId, &answer);
    if (answer < 0)
        return answer;
    a->uiShots = 0;
    a->uiBuffers = 0;
    if (c == nullptr)
        return 0;
    a->uiShots = countShots(*c, ShotState::Free);
    const SimPipelineView *v = FindSimPipelineLocked(c->pipelineId);
    for (const auto &b : c->buffers) {
        if (b.second.state != BufferState::Free)
            continue;
        bool configured = b.second.kind == CI_ALLOC_HDRINS && v->info.config.eHDRInsType.eFmt != PXL_NONE;
        for (unsigned o = 0; o < SIM_OUT_N; o++) {
            configured |= outputAllocKind(o) == b.second.kind && formatOf(v->info.config, o).eFmt != PXL_NONE;
        }
        a->uiBuffers += configured ? 1u : 0u;
    }
    return 0;
}

void resetEngine() {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    Engine &e = engine();
    e.timeoutMs = kDefaultTimeoutMs;
    e.produceOnPoll = false;
    e.datagenPattern = false;
    e.pacedFps = pacedRateFromEnvironment();
    e.errorPeriod = errorPeriodFromEnvironment();
    e.framesCompleted = 0;
    e.planeOffset = 0;
    e.nextErrorInStatus = e.nextErrorInShot = false;
    for (unsigned g = 0; g < CI_N_IMAGERS; g++) {
        e.nextDueNs[g] = 0;
        e.sources[g] = nullptr;
        e.dropFrames[g] = 0;
        e.gasketFrames[g] = 0;
    }
    for (auto &entry : e.captures) {
        Capture &c = *entry.second;
        c.missed = 0;
        c.errorInShot = c.errorInStatus = c.unknownBuffer = c.wrappingLayout = false;
        c.scripted.clear();
        c.model.setFlickerVerdict(kFlickerNone);
    }
}

NORVA_SIM_COMMAND(CI_CONFIG_ADDPOOL, sizeof(CI_POOL_PARAM), addPool);
NORVA_SIM_COMMAND(CI_CONFIG_DELPOOL, 0, deletePool);
NORVA_SIM_COMMAND(CI_CAPTURE_START, 0, start);
NORVA_SIM_COMMAND(CI_CAPTURE_STOP, 0, stop);
NORVA_SIM_COMMAND(CI_CAPTURE_TRIGGER, sizeof(CI_BUFFER_TRIGG), trigger);
NORVA_SIM_COMMAND(CI_CAPTURE_ACQUIRE, sizeof(CI_BUFFER_PARAM), acquire);
NORVA_SIM_COMMAND(CI_CAPTURE_RELEASE, sizeof(CI_BUFFER_TRIGG), release);
NORVA_SIM_COMMAND(CI_CAPTURE_ISSTARTED, 0, isStarted);
NORVA_SIM_COMMAND(CI_CAPTURE_HASWAITING, 0, hasWaiting);
NORVA_SIM_COMMAND(CI_CAPTURE_HASAVAILABLE, sizeof(CI_HAS_AVAIL), hasAvailable);
NORVA_SIM_COMMAND(CI_CAPTURE_HASPENDING, 0, hasPending);
const bool kResetHook = RegisterResetHook(resetEngine);

} // namespace

/* ---- buffers, called from the pipeline commands ---- */

long CaptureCreateBuffer(CommandContext &ctx) {
    CI_ALLOC_PARAM *param = ctx.record<CI_ALLOC_PARAM>();
    SimPipelineView *v = ownedPipeline(ctx, static_cast<int>(param->configId));
    if (v == nullptr)
        return -EINVAL;
    if (param->type < CI_ALLOC_ENC || param->type > CI_ALLOC_HDRINS)
        return -EINVAL;
    if (param->bTiled && !v->info.config.bSupportTiling)
        return -EINVAL;
    const CI_PIPELINE_CONFIG &cfg = v->info.config;
    bool configured = param->type == CI_ALLOC_HDRINS && cfg.eHDRInsType.eFmt != PXL_NONE;
    for (unsigned o = 0; o < SIM_OUT_N; o++) {
        configured |= outputAllocKind(o) == param->type && formatOf(cfg, o).eFmt != PXL_NONE;
    }
    if (!configured)
        return -EINVAL;
    if (param->uiSize == 0 && param->fd == 0) {
        // No size asked: the driver answers with the size the configured output needs.
        param->uiSize = defaultBufferSize(*v, param->type, param->bTiled != 0);
    }
    if (param->uiSize == 0)
        return -EINVAL;
    int error = 0;
    DeviceMemory *m = param->fd != 0 ? ImportDeviceMemory(ctx.file, static_cast<int>(param->fd), param->uiSize, &error)
                                     : AllocateDeviceMemory(ctx.file, param->uiSize, &error);
    if (m == nullptr)
        return error;
    if (DeviceMemoryHost(*m) == nullptr) {
        FreeDeviceMemory(ctx.file, m->id);
        return -ENOMEM;
    }
    Capture &c = captureOf(ctx, v->id);
    SimBuffer b;
    b.id = m->id;
    b.kind = param->type;
    b.size = param->uiSize;
    b.tiled = param->bTiled != 0;
    b.host = static_cast<uint8_t *>(m->host);
    c.buffers[b.id] = b;
    param->uiMemMapId = b.id;
    DriverObjectCreated();
    return 0;
}

long CaptureDeregisterBuffer(CommandContext &ctx) {
    const CI_ALLOC_PARAM *param = ctx.record<CI_ALLOC_PARAM>();
    SimPipelineView *v = ownedPipeline(ctx, static_cast<int>(param->configId));
    if (v == nullptr)
        return -EINVAL;
    Capture *c = findCapture(v->id);
    if (c == nullptr)
        return -EINVAL;
    SimBuffer *b = bufferOfKind(*c, param->uiMemMapId, param->type);
    if (b == nullptr)
        return -EINVAL;
    if (b->state != BufferState::Free)
        return -EBUSY;
    FreeDeviceMemory(ctx.file, b->id);
    c->buffers.erase(param->uiMemMapId);
    DriverObjectDestroyed();
    return 0;
}

void CaptureForgetPipeline(IspFile &file, int pipelineId) {
    auto it = engine().captures.find(pipelineId);
    if (it == engine().captures.end())
        return;
    dropCapture(&file, *it->second);
    engine().captures.erase(it);
    FileCapture *fc = file.findExtension<FileCapture>();
    if (fc != nullptr)
        fc->ids.erase(std::remove(fc->ids.begin(), fc->ids.end(), pipelineId), fc->ids.end());
    PlatformCondition().notify_all();
}

/* ---- outputs ---- */

void SimPlaneExtent(const SimOutputTarget &target, unsigned plane, uint32_t *rowBytes, uint32_t *rows) {
    *rowBytes = rowBytesOf(target.format, plane, target.width);
    uint32_t r = target.height;
    if (plane == 1)
        r = target.height / std::max<unsigned>(target.format.ui8VSubsampling, 1);
    *rows = std::min(r, target.rows[plane]);
}

uint64_t SimOutputByteOffset(const SimOutputTarget &t, unsigned plane, uint32_t x, uint32_t y) {
    const uint64_t base = t.offset[plane];
    if (!t.tiled || t.tileWidth == 0 || t.tileHeight == 0) {
        return base + static_cast<uint64_t>(y) * t.stride[plane] + x;
    }
    // Tiles of tileWidth bytes by tileHeight rows, laid left to right across the tiled stride.
    const uint64_t bandBytes = static_cast<uint64_t>(t.stride[plane]) * t.tileHeight;
    const uint64_t tileBytes = static_cast<uint64_t>(t.tileWidth) * t.tileHeight;
    return base + (y / t.tileHeight) * bandBytes + (x / t.tileWidth) * tileBytes +
           static_cast<uint64_t>(y % t.tileHeight) * t.tileWidth + (x % t.tileWidth);
}

uint8_t *SimOutputByte(const SimOutputTarget &t, unsigned plane, uint32_t x, uint32_t y) {
    return t.memory + SimOutputByteOffset(t, plane, x, y);
}

uint8_t TestPatternByte(uint64_t frame, unsigned output, unsigned plane, uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(frame * 7u + output * 61u + plane * 101u + x * 3u + y * 5u);
}

void RenderDatagenAsTestPattern(bool on) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    engine().datagenPattern = on;
}

void SetFrameSource(unsigned gasket, SimFrameSource *source) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    if (gasket < CI_N_IMAGERS)
        engine().sources[gasket] = source;
}

SimFrameSource *PluggedFrameSource(unsigned gasket) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    return gasket < CI_N_IMAGERS ? engine().sources[gasket] : nullptr;
}

/* ---- statistics ---- */

void WriteSaveStructure(const SimSaveStats &st, uint8_t *area, size_t size) {
    if (size < kSaveStructureSize)
        return;
    for (int ch = 0; ch < 4; ch++)
        put32(area, 4 * ch, st.exsGlobal[ch]);
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            for (int ch = 0; ch < 4; ch++) {
                const size_t at = 64 + 64 * r + 8 * c + 2 * ch;
                area[at] = static_cast<uint8_t>(st.exsRegion[r][c][ch]);
                area[at + 1] = static_cast<uint8_t>(st.exsRegion[r][c][ch] >> 8);
            }
            put32(area, 576 + 64 * r + 4 * c, st.fosGrid[r][c]);
            for (int b = 0; b < 16; b++)
                put32(area, 1408 + 64 * (7 * r + c) + 4 * b, st.hisRegion[r][c][b]);
            const size_t aws = 4544 + 128 * r + 16 * c;
            put32(area, aws, st.aws[r][c].red);
            put32(area, aws + 4, st.aws[r][c].blue);
            put32(area, aws + 8, st.aws[r][c].green);
            put32(area, aws + 12, st.aws[r][c].count);
        }
    }
    put32(area, 512, st.fosRoi);
    for (int k = 0; k < 2; k++) {
        const size_t base = 64 * k;
        for (int ch = 0; ch < 3; ch++) {
            put32(area, 1024 + base + 8 * ch, st.wbs[k].whitePatchSum[ch]);
            put32(area, 1028 + base + 8 * ch, st.wbs[k].whitePatchCount[ch]);
            put32(area, 1048 + base + 4 * ch, st.wbs[k].averageSum[ch]);
            put32(area, 1060 + base + 4 * ch, st.wbs[k].highLumaSum[ch]);
        }
        put32(area, 1072 + base, st.wbs[k].highLumaCount);
    }
    for (int b = 0; b < 64; b++)
        put32(area, 1152 + 4 * b, st.hisGlobal[b]);
    put32(area, 5444, st.dpfFixed);
    put32(area, 5448, st.dpfModifications);
    put32(area, 5452, st.dpfDropped);
    area[5456] = st.flicker;
    for (int i = 0; i < 5; i++)
        put32(area, 5476 + 4 * i, st.timestamps[i]);
}

void QueueStatistics(int pipelineId, const SimSaveStats &stats) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    Capture *c = findCapture(pipelineId);
    if (c != nullptr)
        c->scripted.push_back(stats);
}

/* ---- fault injection and settings ---- */

void InjectFrameError(int pipelineId, bool inStatusWord) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    Capture *c = findCapture(pipelineId);
    if (c == nullptr)
        return;
    if (inStatusWord) {
        c->errorInStatus = true;
    } else {
        c->errorInShot = true;
    }
}

void InjectNextFrameError(bool inStatusWord) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    if (inStatusWord) {
        engine().nextErrorInStatus = true;
    } else {
        engine().nextErrorInShot = true;
    }
}

void InjectMissedFrames(int pipelineId, int n) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    Capture *c = findCapture(pipelineId);
    if (c != nullptr)
        c->missed += n;
}

void InjectFlickerVerdict(int pipelineId, uint8_t verdict) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    Capture *c = findCapture(pipelineId);
    if (c != nullptr)
        c->model.setFlickerVerdict(verdict);
}

void DropFrames(unsigned gasket, unsigned n) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    if (gasket < CI_N_IMAGERS)
        engine().dropFrames[gasket] += n;
}

void AnswerUnknownBuffer(int pipelineId) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    Capture *c = findCapture(pipelineId);
    if (c != nullptr)
        c->unknownBuffer = true;
}

void AnswerWrappingLayout(int pipelineId) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    Capture *c = findCapture(pipelineId);
    if (c != nullptr)
        c->wrappingLayout = true;
}

void SetCaptureTimeoutMs(unsigned milliseconds) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    engine().timeoutMs = milliseconds;
}

void SetPacedFrameRate(double fps) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    Engine &e = engine();
    e.pacedFps = fps > 0.0 ? fps : 0.0;
    for (uint64_t &due : e.nextDueNs)
        due = 0;
    PlatformCondition().notify_all();
}

double PacedFrameRate() {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    return engine().pacedFps;
}

void SetPlaneOffset(uint32_t bytes) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    engine().planeOffset = bytes;
}

bool FindFrameRecord(uint64_t interruptSysTime, SimFrameRecord *record) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    const Engine &e = engine();
    const size_t kept = std::min(e.recordCount, kFrameRecords);
    for (size_t i = 0; i < kept; i++) {
        const SimFrameRecord &r = e.records[(e.recordCount - 1 - i) % kFrameRecords];
        if (r.interruptSysTime == interruptSysTime) {
            *record = r;
            return true;
        }
    }
    return false;
}

SimCaptureCounters GetCaptureCounters() {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    return engine().counters;
}

void SetProduceOnPoll(bool on) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    engine().produceOnPoll = on;
}

bool GetSimCapture(int pipelineId, SimCaptureView *view) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    const Capture *c = findCapture(pipelineId);
    if (c == nullptr)
        return false;
    SimCaptureView out;
    out.started = c->started;
    out.shots = static_cast<unsigned>(c->shots.size());
    for (const SimShot &s : c->shots) {
        out.shotsFree += s.state == ShotState::Free;
        out.shotsPending += s.state == ShotState::Pending;
        out.shotsFinished += s.state == ShotState::Finished;
        out.shotsAcquired += s.state == ShotState::Acquired;
    }
    out.buffers = static_cast<unsigned>(c->buffers.size());
    for (const auto &b : c->buffers) {
        out.buffersFree += b.second.state == BufferState::Free;
        out.buffersPending += b.second.state == BufferState::Pending;
        out.buffersAcquired += b.second.state == BufferState::Acquired;
    }
    out.framesCompleted = c->framesCompleted;
    out.missedFrames = c->missed;
    *view = out;
    return true;
}

uint64_t GasketFrameCount(unsigned gasket) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    return gasket < CI_N_IMAGERS ? engine().gasketFrames[gasket] : 0;
}

} // namespace norva_sim
