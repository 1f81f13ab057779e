// Pipelines of the simulated ISP: registration, configuration updates (the load structure is copied by
// update group and decoded by the device's own decoder) and lens-shading matrices.
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/sim_capture.h"
#include "platform/sim_isp.h"
#include "platform/sim_lsdecoder.h"
#include "platform/sim_pipeline.h"
#include "platform/sim_platform.h"

namespace norva_sim {
namespace {

constexpr unsigned kLoadSize = 1268;

/* Byte ranges [first, last] of the registers each update group loads; the statistics ranges are loaded
 * with every update. Group 32 loads the encoder scaler, group 64 the display scaler and the display
 * colour conversion. */
struct Range {
    int group; /* 0: statistics */
    unsigned first, last;
};
const Range kGroupRanges[] = {
    {1, 12, 152},  {1, 196, 208},  {2, 244, 296},  {2, 304, 340},   {4, 344, 404},  {4, 456, 456},    {4, 496, 516},
    {8, 532, 900}, {16, 924, 948}, {32, 952, 956}, {32, 968, 1120}, {64, 960, 964}, {64, 1132, 1264}, {0, 0, 8},
    {0, 156, 184}, {0, 228, 240},  {0, 460, 492},  {0, 520, 528},   {0, 904, 920},
};

struct PipelineRecord {
    SimPipelineView view;
    /** The newest applied configurations, a ring of kConfigTraceDepth records filled once at registration. */
    std::vector<SimConfigRecord> configTrace;
    size_t configTraceNext = 0;
    unsigned configTraceCount = 0;
};

/** Records what an update applied into the pipeline's ring (no allocation once registered). */
void traceConfig(PipelineRecord &rec) {
    SimConfigRecord &r = rec.configTrace[rec.configTraceNext];
    r.update = rec.view.updates;
    r.appliedMask = rec.view.lastAppliedMask;
    r.decoded = rec.view.decoded;
    rec.configTraceNext = (rec.configTraceNext + 1) % rec.configTrace.size();
    if (rec.configTraceCount < rec.configTrace.size())
        rec.configTraceCount++;
}

struct Registry {
    std::map<int, std::unique_ptr<PipelineRecord>> pipelines;
    int nextId = 1;
    int failGroups = 0;
    int failErrno = 0;
};

Registry &registry() {
    static Registry r;
    return r;
}

/** The pipelines of one open file; closing the file drops what it left registered. */
struct FilePipelines : FileExtension {
    std::vector<int> ids;
    ~FilePipelines() override {
        for (int id : ids) {
            auto it = registry().pipelines.find(id);
            if (it == registry().pipelines.end())
                continue;
            for (size_t i = 0; i < it->second->view.matrices.size(); ++i)
                DriverObjectDestroyed();
            registry().pipelines.erase(it);
            DriverObjectDestroyed();
        }
    }
};

PipelineRecord *findPipeline(CommandContext &ctx, int id) {
    auto it = registry().pipelines.find(id);
    if (it == registry().pipelines.end() || it->second->view.fd != ctx.file.fd)
        return nullptr;
    return it->second.get();
}

/** Most defects a read map may list: far more than a sensor has, small enough to copy in one command. */
constexpr uint32_t kMaxDefects = 1u << 20;

/** Copies the defect read map the record points to; false (nothing changed) for a map beyond the cap. */
bool copyDefectMap(SimPipelineView &v, const CI_MODULE_DPF_INPUT &in) {
    if (in.apDefectInput == nullptr || in.ui32NDefect == 0) {
        v.defectMap.clear();
        return true;
    }
    if (in.ui32NDefect > kMaxDefects)
        return false;
    v.defectMap.assign(in.apDefectInput, in.apDefectInput + 2 * size_t(in.ui32NDefect));
    return true;
}

long registerPipeline(CommandContext &ctx) {
    const CI_PIPE_INFO *info = ctx.record<CI_PIPE_INFO>();
    const CI_HWINFO &hw = IspDevice().description.sHWInfo;
    if (info->config.ui8Context >= hw.config_ui8NContexts)
        return -EINVAL;
    if (info->dpfConfig.sInput.ui32NDefect > kMaxDefects)
        return -EINVAL;
    std::unique_ptr<PipelineRecord> rec(new PipelineRecord());
    SimPipelineView &v = rec->view;
    copyDefectMap(v, info->dpfConfig.sInput);
    v.id = registry().nextId++;
    v.fd = ctx.file.fd;
    v.info = *info;
    v.hdr = info->hdrConfig;
    v.hdrLoads = 1;
    v.registers.assign(kLoadSize, 0);
    memset(&v.decoded, 0, sizeof(v.decoded));
    v.nextPrivateValue = info->config.ui8PrivateValue;
    rec->configTrace.resize(kConfigTraceDepth);
    const int id = v.id;
    registry().pipelines[id] = std::move(rec);
    ctx.file.extension<FilePipelines>().ids.push_back(id);
    DriverObjectCreated();
    return id;
}

long deregisterPipeline(CommandContext &ctx) {
    const int id = static_cast<int>(ctx.value());
    PipelineRecord *rec = findPipeline(ctx, id);
    if (rec == nullptr)
        return -EINVAL;
    CaptureForgetPipeline(ctx.file, id);
    for (auto &m : rec->view.matrices) {
        FreeDeviceMemory(ctx.file, m.first);
        DriverObjectDestroyed();
    }
    registry().pipelines.erase(id);
    auto &ids = ctx.file.extension<FilePipelines>().ids;
    for (auto it = ids.begin(); it != ids.end(); ++it) {
        if (*it == id) {
            ids.erase(it);
            break;
        }
    }
    DriverObjectDestroyed();
    return 0;
}

void applyGroups(SimPipelineView &v, const uint8_t *ls, int mask) {
    for (const Range &r : kGroupRanges) {
        if (r.group == 0 || (mask & r.group) != 0) {
            memcpy(&v.registers[r.first], ls + r.first, r.last + 4 - r.first);
        }
    }
    SimLS_Decode(v.registers.data(), v.registers.size(), &v.decoded);
}

long configUpdate(CommandContext &ctx) {
    CI_PIPE_PARAM *param = ctx.record<CI_PIPE_PARAM>();
    PipelineRecord *rec = findPipeline(ctx, param->identifier);
    if (rec == nullptr || param->loadstructure == nullptr)
        return -EINVAL;
    SimPipelineView &v = rec->view;
    // The driver copies everything it needs during the command: the caller rewrites the structure.
    uint8_t ls[kLoadSize];
    memcpy(ls, param->loadstructure, kLoadSize);
    Registry &reg = registry();
    int mask = param->eUpdateMask;
    long answer = 0;
    if (reg.failErrno != 0) {
        const int failed = mask & reg.failGroups;
        mask &= ~reg.failGroups;
        param->eUpdateMask = failed;
        answer = reg.failErrno;
        reg.failErrno = 0;
        reg.failGroups = 0;
    }
    if ((mask & CI_UPD_DPF_INPUT) != 0 && !copyDefectMap(v, param->info.dpfConfig.sInput))
        return -EINVAL;
    v.info = param->info;
    if ((mask & CI_UPD_HDR) != 0) {
        v.hdr = param->info.hdrConfig;
        v.hdrLoads++;
    }
    v.nextPrivateValue = param->info.config.ui8PrivateValue;
    applyGroups(v, ls, mask);
    v.lastAppliedMask = mask;
    v.updates++;
    traceConfig(*rec);
    return answer;
}

long createBuffer(CommandContext &ctx) {
    CI_ALLOC_PARAM *param = ctx.record<CI_ALLOC_PARAM>();
    // Output buffers belong to the capture engine; only lens-shading matrices are made here.
    if (param->type != CI_ALLOC_LSHMAT)
        return CaptureCreateBuffer(ctx);
    if (param->uiSize == 0)
        return -EINVAL;
    PipelineRecord *rec = findPipeline(ctx, static_cast<int>(param->configId));
    if (rec == nullptr)
        return -EINVAL;
    int error = 0;
    DeviceMemory *mem = AllocateDeviceMemory(ctx.file, param->uiSize, &error);
    if (mem == nullptr)
        return error;
    SimMatrix m;
    m.size = param->uiSize;
    memset(&m.config, 0, sizeof(m.config));
    m.state = SimMatrixState::Available;
    rec->view.matrices[mem->id] = m;
    param->uiMemMapId = mem->id;
    DriverObjectCreated();
    return 0;
}

long deregisterBuffer(CommandContext &ctx) {
    const CI_ALLOC_PARAM *param = ctx.record<CI_ALLOC_PARAM>();
    if (param->type != CI_ALLOC_LSHMAT)
        return CaptureDeregisterBuffer(ctx);
    PipelineRecord *rec = findPipeline(ctx, static_cast<int>(param->configId));
    if (rec == nullptr)
        return -EINVAL;
    auto it = rec->view.matrices.find(param->uiMemMapId);
    if (it == rec->view.matrices.end())
        return -EINVAL;
    if (rec->view.activeMatrix == param->uiMemMapId)
        return -EBUSY;
    FreeDeviceMemory(ctx.file, param->uiMemMapId);
    rec->view.matrices.erase(it);
    DriverObjectDestroyed();
    return 0;
}

SimMatrix *findMatrix(CommandContext &ctx, uint32_t pipelineId, uint32_t matrixId, PipelineRecord **pRec) {
    PipelineRecord *rec = findPipeline(ctx, static_cast<int>(pipelineId));
    if (rec == nullptr)
        return nullptr;
    *pRec = rec;
    auto it = rec->view.matrices.find(matrixId);
    return it == rec->view.matrices.end() ? nullptr : &it->second;
}

long getMatrix(CommandContext &ctx) {
    const CI_LSH_GET_PARAM *param = ctx.record<CI_LSH_GET_PARAM>();
    PipelineRecord *rec = nullptr;
    SimMatrix *m = findMatrix(ctx, param->configId, param->matrixId, &rec);
    if (m == nullptr)
        return -EINVAL;
    if (m->state != SimMatrixState::Available)
        return -EALREADY;
    m->state = SimMatrixState::Acquired;
    return 0;
}

long setMatrix(CommandContext &ctx) {
    const CI_LSH_SET_PARAM *param = ctx.record<CI_LSH_SET_PARAM>();
    PipelineRecord *rec = nullptr;
    SimMatrix *m = findMatrix(ctx, param->configId, param->matrixId, &rec);
    if (m == nullptr || m->state != SimMatrixState::Acquired)
        return -EINVAL;
    m->config = param->matrixConfig;
    m->state = SimMatrixState::Available;
    return 0;
}

long changeMatrix(CommandContext &ctx) {
    const CI_LSH_CHANGE_PARAM *param = ctx.record<CI_LSH_CHANGE_PARAM>();
    PipelineRecord *rec = findPipeline(ctx, static_cast<int>(param->configId));
    if (rec == nullptr)
        return -EINVAL;
    SimPipelineView &v = rec->view;
    SimMatrix *next = nullptr;
    if (param->matrixId != 0) {
        auto it = v.matrices.find(param->matrixId);
        if (it == v.matrices.end())
            return -EINVAL;
        next = &it->second;
        if (next->state != SimMatrixState::Available)
            return -EALREADY;
    }
    if (v.activeMatrix != 0) {
        auto it = v.matrices.find(v.activeMatrix);
        if (it != v.matrices.end())
            it->second.state = SimMatrixState::Available;
    }
    if (next != nullptr)
        next->state = SimMatrixState::InUse;
    v.activeMatrix = param->matrixId;
    return 0;
}

void resetPipelines() {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    registry().failErrno = 0;
    registry().failGroups = 0;
}

NORVA_SIM_COMMAND(CI_PIPELINE_REGISTER, sizeof(CI_PIPE_INFO), registerPipeline);
NORVA_SIM_COMMAND(CI_PIPELINE_DEREGISTER, 0, deregisterPipeline);
NORVA_SIM_COMMAND(CI_CONFIG_UPDATE, sizeof(CI_PIPE_PARAM), configUpdate);
NORVA_SIM_COMMAND(CI_CREATE_BUFF, sizeof(CI_ALLOC_PARAM), createBuffer);
NORVA_SIM_COMMAND(CI_DEREGISTER_BUFF, sizeof(CI_ALLOC_PARAM), deregisterBuffer);
NORVA_SIM_COMMAND(CI_PIPELINE_GET_LSH, sizeof(CI_LSH_GET_PARAM), getMatrix);
NORVA_SIM_COMMAND(CI_PIPELINE_SET_LSH, sizeof(CI_LSH_SET_PARAM), setMatrix);
NORVA_SIM_COMMAND(CI_PIPELINE_CHANGE_LSH, sizeof(CI_LSH_CHANGE_PARAM), changeMatrix);
const bool kResetHook = RegisterResetHook(resetPipelines);

} // namespace

bool GetSimPipeline(int id, SimPipelineView *out) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    auto it = registry().pipelines.find(id);
    if (it == registry().pipelines.end())
        return false;
    *out = it->second->view;
    return true;
}

std::vector<SimConfigRecord> SimPipelineConfigTrace(int id) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    std::vector<SimConfigRecord> out;
    auto it = registry().pipelines.find(id);
    if (it == registry().pipelines.end())
        return out;
    const PipelineRecord &rec = *it->second;
    const size_t n = rec.configTrace.size();
    for (size_t i = 0; i < rec.configTraceCount; i++)
        out.push_back(rec.configTrace[(rec.configTraceNext + n - rec.configTraceCount + i) % n]);
    return out;
}

SimPipelineView *FindSimPipelineLocked(int id) {
    auto it = registry().pipelines.find(id);
    return it == registry().pipelines.end() ? nullptr : &it->second->view;
}

unsigned SimPipelineCount() {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    return static_cast<unsigned>(registry().pipelines.size());
}

void FailNextUpdate(int failedGroups, int negErrno) {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    registry().failGroups = failedGroups;
    registry().failErrno = negErrno;
}

} // namespace norva_sim
