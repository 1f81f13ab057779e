// Internal data generators of the simulated ISP device (commands 32 to 40) and the frame source they feed:
// frame buffers in device memory, acquisition by the stack, sent frames queued on the generator's gasket until
// a capture engine takes and processes them, and bounded waits for processed frames.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "platform/sim_frame_source.h"
#include "platform/sim_isp.h"
#include "sim_gasket_internal.h"

namespace norva_sim {
namespace {

/** Largest frame buffer the device allocates. */
constexpr uint64_t kMaxFrameBytes = 256ull << 20;
constexpr unsigned kDefaultWaitTimeoutMs = 2000;

enum class FrameState { Available, Acquired, Queued, Processing };

struct Frame {
    uint32_t id = 0;
    uint32_t size = 0;
    FrameState state = FrameState::Available;
    CI_DG_FRAMETRIG sent{};        /* the description given when it was sent */
    std::vector<uint16_t> samples; /* unpacked when taken; kept to be reused by the next frame */
};

struct Generator {
    int id = -1;
    IspFile *owner = nullptr;
    bool started = false;
    CI_DATAGEN settings{};
    std::map<uint32_t, std::unique_ptr<Frame>> frames;
    std::deque<uint32_t> available; /* oldest first */
    unsigned processed = 0;         /* processed frames not yet waited for */
};

struct QueueEntry {
    int generator;
    uint32_t frame;
};

struct State {
    std::map<int, std::unique_ptr<Generator>> generators;
    int nextId = 0;
    std::deque<QueueEntry> queues[CI_N_IMAGERS];
    unsigned waitTimeoutMs = kDefaultWaitTimeoutMs;
};

State &state() {
    static State *s = new State(); // used by extension destructors until the very end of the process
    return *s;
}

Generator *findGenerator(int id) {
    auto it = state().generators.find(id);
    return it == state().generators.end() ? nullptr : it->second.get();
}

/** The file's own generator, or null. */
Generator *mine(CommandContext &ctx, long id) {
    if (id < 0 || id > INT32_MAX)
        return nullptr;
    Generator *g = findGenerator(static_cast<int>(id));
    return g != nullptr && g->owner == &ctx.file ? g : nullptr;
}

Frame *findFrame(Generator &g, uint32_t id) {
    auto it = g.frames.find(id);
    return it == g.frames.end() ? nullptr : it->second.get();
}

void makeAvailable(Generator &g, Frame &f) {
    f.state = FrameState::Available;
    g.available.push_back(f.id);
}

/** Stops feeding: frames sent but not processed are available again; waiters wake and see the stop. */
void stopGenerator(Generator &g) {
    if (g.settings.ui8Gasket < CI_N_IMAGERS) {
        auto &queue = state().queues[g.settings.ui8Gasket];
        queue.erase(
            std::remove_if(queue.begin(), queue.end(), [&](const QueueEntry &e) { return e.generator == g.id; }),
            queue.end());
    }
    for (auto &entry : g.frames) {
        Frame &f = *entry.second;
        if (f.state == FrameState::Queued || f.state == FrameState::Processing)
            makeAvailable(g, f);
    }
    g.started = false;
    g.processed = 0;
    PlatformCondition().notify_all();
}

void freeFrame(Generator &g, Frame &f) {
    const uint32_t id = f.id; // f goes with its entry
    g.available.erase(std::remove(g.available.begin(), g.available.end(), id), g.available.end());
    FreeDeviceMemory(*g.owner, id);
    g.frames.erase(id);
    DriverObjectDestroyed();
}

/** Deregisters a generator: stops it and frees every buffer it still has. */
void removeGenerator(int id) {
    Generator *g = findGenerator(id);
    if (g == nullptr)
        return;
    stopGenerator(*g);
    while (!g->frames.empty())
        freeFrame(*g, *g->frames.begin()->second);
    state().generators.erase(id);
    DriverObjectDestroyed();
}

/** Releases the generators a file still holds when it is closed. */
struct DatagenFile : FileExtension {
    IspFile *file = nullptr;
    ~DatagenFile() override {
        std::vector<int> ids;
        for (auto &entry : state().generators) {
            if (entry.second->owner == file)
                ids.push_back(entry.first);
        }
        for (int id : ids)
            removeGenerator(id);
    }
};

long dgRegister(CommandContext &ctx) {
    const long value = ctx.value();
    if (value == -1) {
        ctx.file.extension<DatagenFile>().file = &ctx.file;
        std::unique_ptr<Generator> g(new Generator());
        g->id = state().nextId++;
        g->owner = &ctx.file;
        const int id = g->id;
        state().generators[id] = std::move(g);
        DriverObjectCreated();
        return id;
    }
    if (mine(ctx, value) == nullptr)
        return -EINVAL;
    removeGenerator(static_cast<int>(value));
    return 0;
}

long dgStart(CommandContext &ctx) {
    const CI_DG_PARAM param = *ctx.record<CI_DG_PARAM>();
    Generator *g = mine(ctx, param.datagenId);
    if (g == nullptr)
        return -EINVAL;
    if (g->started)
        return -EBUSY;
    const CI_HWINFO &hw = IspDevice().description.sHWInfo;
    const CI_DATAGEN &s = param.sDG;
    const unsigned imagers = std::min<unsigned>(hw.config_ui8NImagers, CI_N_IMAGERS);
    if (s.ui8IIFDGIndex >= hw.config_ui8NIIFDataGenerator || s.ui8Gasket >= imagers)
        return -EINVAL;
    if (!LineFormatSupported(s.eFormat, s.ui8FormatBitdepth))
        return -EINVAL;
    if (s.eBayerMosaic < MOSAIC_RGGB || s.eBayerMosaic > MOSAIC_BGGR)
        return -EINVAL;
    for (auto &entry : state().generators) {
        const Generator &other = *entry.second;
        const bool sameHardware = other.settings.ui8IIFDGIndex == s.ui8IIFDGIndex;
        if (other.started && (sameHardware || other.settings.ui8Gasket == s.ui8Gasket))
            return -EBUSY;
    }
    if (GasketClaimed(s.ui8Gasket))
        return -EBUSY;
    g->settings = s;
    g->started = true;
    g->processed = 0;
    ResetGasketCounters(s.ui8Gasket);
    return 0;
}

long dgIsStarted(CommandContext &ctx) {
    Generator *g = mine(ctx, ctx.value());
    if (g == nullptr)
        return -EINVAL;
    return g->started ? 1 : 0;
}

long dgStop(CommandContext &ctx) {
    Generator *g = mine(ctx, ctx.value());
    if (g == nullptr)
        return -EINVAL;
    stopGenerator(*g);
    return 0;
}

long dgAllocate(CommandContext &ctx) {
    CI_DG_FRAMEINFO *info = ctx.record<CI_DG_FRAMEINFO>();
    Generator *g = mine(ctx, info->datagenId);
    if (g == nullptr || info->uiSize == 0)
        return -EINVAL;
    if (g->started)
        return -EBUSY;
    if (info->uiSize > kMaxFrameBytes)
        return -ENOMEM;
    int error = 0;
    DeviceMemory *mem = AllocateDeviceMemory(ctx.file, info->uiSize, &error);
    if (mem == nullptr)
        return error;
    std::unique_ptr<Frame> f(new Frame());
    f->id = mem->id;
    f->size = info->uiSize;
    g->available.push_back(f->id);
    g->frames[f->id] = std::move(f);
    DriverObjectCreated();
    info->mmapId = mem->id;
    return 0;
}

long dgAcquire(CommandContext &ctx) {
    CI_DG_FRAMEINFO *info = ctx.record<CI_DG_FRAMEINFO>();
    Generator *g = mine(ctx, info->datagenId);
    if (g == nullptr)
        return -EINVAL;
    uint32_t id = info->uiFrameId;
    if (id == 0) {
        if (g->available.empty())
            return -EALREADY;
        id = g->available.front();
    }
    Frame *f = findFrame(*g, id);
    if (f == nullptr)
        return -EINVAL;
    if (f->state != FrameState::Available)
        return -EALREADY;
    g->available.erase(std::remove(g->available.begin(), g->available.end(), id), g->available.end());
    f->state = FrameState::Acquired;
    info->uiFrameId = id;
    return 0;
}

/** Gives an acquired buffer back, or sends it: checked again here, whatever the stack checked. */
long dgRelease(CommandContext &ctx) {
    const CI_DG_FRAMETRIG trig = *ctx.record<CI_DG_FRAMETRIG>();
    Generator *g = mine(ctx, trig.datagenId);
    if (g == nullptr)
        return -EINVAL;
    Frame *f = findFrame(*g, trig.uiFrameId);
    if (f == nullptr || f->state != FrameState::Acquired)
        return -EINVAL;
    if (!trig.bTrigger) {
        makeAvailable(*g, *f);
        return 0;
    }
    if (!g->started)
        return -ECANCELED;
    if (trig.uiStride == 0 || trig.uiStride % SYSMEM_ALIGNMENT != 0 || trig.uiWidth == 0 || trig.uiHeight == 0) {
        return -EINVAL;
    }
    if (trig.uiHorizontalBlanking < CI_DG_MIN_HBLANKING || trig.uiVerticalBlanking < CI_DG_MIN_VBLANKING) {
        return -EINVAL;
    }
    if (trig.uiWidth > IspDevice().description.sHWInfo.gasket_aMaxWidth[g->settings.ui8Gasket])
        return -EINVAL;
    const PackedFrameLayout layout{g->settings.eFormat, g->settings.ui8FormatBitdepth, trig.uiStride, trig.uiWidth,
                                   trig.uiHeight};
    const uint64_t bytes = PackedFrameBytes(layout);
    if (static_cast<uint64_t>(trig.uiStride) * trig.uiHeight > f->size || bytes == 0 || bytes > f->size) {
        return -EINVAL;
    }
    f->sent = trig;
    f->state = FrameState::Queued;
    state().queues[g->settings.ui8Gasket].push_back(QueueEntry{g->id, f->id});
    PlatformCondition().notify_all();
    return 0;
}

bool inFlight(const Generator &g) {
    for (const auto &entry : g.frames) {
        if (entry.second->state == FrameState::Queued || entry.second->state == FrameState::Processing)
            return true;
    }
    return false;
}

/**
 * Waits for a processed frame. Without one: not started (or stopped meanwhile) -ECANCELED; nothing in flight,
 * or a poll, -EALREADY; a blocking wait gives up with -ETIME after the bound.
 */
long dgWaitProcessed(CommandContext &ctx) {
    const CI_DG_FRAMEWAIT wait = *ctx.record<CI_DG_FRAMEWAIT>();
    if (mine(ctx, wait.datagenId) == nullptr)
        return -EINVAL;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(state().waitTimeoutMs);
    for (;;) {
        Generator *g = mine(ctx, wait.datagenId);
        if (g == nullptr || ctx.file.closed)
            return -ECANCELED; // removed or closed during the wait
        if (g->processed > 0) {
            g->processed--;
            return 0;
        }
        if (!g->started)
            return -ECANCELED;
        if (!wait.bBlocking || !inFlight(*g))
            return -EALREADY;
        if (PlatformCondition().wait_until(ctx.lock, deadline) == std::cv_status::timeout) {
            g = mine(ctx, wait.datagenId);
            if (g != nullptr && g->processed > 0 && !ctx.file.closed) {
                g->processed--;
                return 0;
            }
            return -ETIME;
        }
    }
}

long dgFree(CommandContext &ctx) {
    const CI_DG_FRAMEINFO info = *ctx.record<CI_DG_FRAMEINFO>();
    Generator *g = mine(ctx, info.datagenId);
    if (g == nullptr)
        return -EINVAL;
    Frame *f = findFrame(*g, info.uiFrameId);
    if (f == nullptr)
        return -EINVAL;
    if (f->state == FrameState::Queued || f->state == FrameState::Processing)
        return -EBUSY;
    freeFrame(*g, *f);
    return 0;
}

void resetDatagen() {
    std::lock_guard<std::mutex> guard(PlatformMutex());
    state().waitTimeoutMs = kDefaultWaitTimeoutMs;
    if (state().generators.empty())
        state().nextId = 0; // identifiers start again from 0 on a fresh platform
}

NORVA_SIM_COMMAND(CI_IIFDG_REGISTER, 0, dgRegister);
NORVA_SIM_COMMAND(CI_IIFDG_START, sizeof(CI_DG_PARAM), dgStart);
NORVA_SIM_COMMAND(CI_IIFDG_ISSTARTED, 0, dgIsStarted);
NORVA_SIM_COMMAND(CI_IIFDG_STOP, 0, dgStop);
NORVA_SIM_COMMAND(CI_IIFDG_ALLOCATE, sizeof(CI_DG_FRAMEINFO), dgAllocate);
NORVA_SIM_COMMAND(CI_IIFDG_ACQUIRE, sizeof(CI_DG_FRAMEINFO), dgAcquire);
NORVA_SIM_COMMAND(CI_IIFDG_RELEASE, sizeof(CI_DG_FRAMETRIG), dgRelease);
NORVA_SIM_COMMAND(CI_IIFDG_WAITPROCESSED, sizeof(CI_DG_FRAMEWAIT), dgWaitProcessed);
NORVA_SIM_COMMAND(CI_IIFDG_FREE, sizeof(CI_DG_FRAMEINFO), dgFree);
const bool g_resetRegistered = RegisterResetHook(resetDatagen);

} // namespace

bool DatagenDrivesGasket(unsigned gasket) {
    for (auto &entry : state().generators) {
        if (entry.second->started && entry.second->settings.ui8Gasket == gasket)
            return true;
    }
    return false;
}

size_t QueuedSourceFrames(unsigned gasket) { return gasket < CI_N_IMAGERS ? state().queues[gasket].size() : 0; }

bool TakeSourceFrame(unsigned gasket, SourceFrame *out) {
    if (gasket >= CI_N_IMAGERS || out == nullptr)
        return false;
    auto &queue = state().queues[gasket];
    while (!queue.empty()) {
        const QueueEntry entry = queue.front();
        queue.pop_front();
        Generator *g = findGenerator(entry.generator);
        Frame *f = g != nullptr ? findFrame(*g, entry.frame) : nullptr;
        if (f == nullptr || f->state != FrameState::Queued)
            continue;
        DeviceMemory *mem = FindDeviceMemory(*g->owner, f->id);
        const uint8_t *bytes = mem != nullptr ? static_cast<const uint8_t *>(DeviceMemoryHost(*mem)) : nullptr;
        const PackedFrameLayout layout{g->settings.eFormat, g->settings.ui8FormatBitdepth, f->sent.uiStride,
                                       f->sent.uiWidth, f->sent.uiHeight};
        f->samples.resize(static_cast<size_t>(layout.width) * layout.height);
        SourceFrame frame;
        if (bytes == nullptr || !UnpackFrame(bytes, mem->size, layout, f->samples.data(), &frame.errors)) {
            frame.errors = LineErrors{};
            frame.errors.header = 1; // the frame could not be read at all: it arrives as an errored frame
            std::fill(f->samples.begin(), f->samples.end(), 0);
        }
        f->state = FrameState::Processing;
        GasketFrameReceived(gasket, frame.errors);
        frame.gasket = gasket;
        frame.generatorId = g->id;
        frame.frameId = f->id;
        frame.format = g->settings.eFormat;
        frame.bitDepth = g->settings.ui8FormatBitdepth;
        frame.mosaic = g->settings.eBayerMosaic;
        frame.width = layout.width;
        frame.height = layout.height;
        frame.stride = layout.stride;
        frame.hBlanking = f->sent.uiHorizontalBlanking;
        frame.vBlanking = f->sent.uiVerticalBlanking;
        frame.samples = f->samples.data();
        *out = frame;
        return true;
    }
    return false;
}

bool MarkSourceFrameProcessed(const SourceFrame &frame) {
    Generator *g = findGenerator(frame.generatorId);
    Frame *f = g != nullptr ? findFrame(*g, frame.frameId) : nullptr;
    if (f == nullptr || f->state != FrameState::Processing)
        return false;
    makeAvailable(*g, *f);
    g->processed++;
    PlatformCondition().notify_all();
    return true;
}

void SetDatagenWaitTimeoutMs(unsigned milliseconds) { state().waitTimeoutMs = milliseconds; }

} // namespace norva_sim
