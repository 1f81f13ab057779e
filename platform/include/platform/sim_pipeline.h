#ifndef NORVA_SIM_PIPELINE_H
#define NORVA_SIM_PIPELINE_H

/*
 * Pipelines and lens-shading matrices of the simulated ISP: commands CI_PIPELINE_REGISTER,
 * CI_PIPELINE_DEREGISTER, CI_CONFIG_UPDATE, CI_CREATE_BUFF / CI_DEREGISTER_BUFF (matrices) and
 * CI_PIPELINE_GET_LSH / SET_LSH / CHANGE_LSH. Observations and fault injection for tests.
 */

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "ci/ci_pipeline.h"

namespace norva_sim {

enum class SimMatrixState { Available, Acquired, InUse };

struct SimMatrix {
    uint32_t size;
    CI_MODULE_LSH_MAT config;
    SimMatrixState state;
};

/** What the device holds for one registered pipeline. */
struct SimPipelineView {
    int id = 0;
    int fd = -1;
    CI_PIPE_INFO info;              /* last registration or update record */
    std::vector<uint8_t> registers; /* the applied register image (1268 bytes) */
    CI_PIPELINE decoded;            /* that image through the device's decoder */
    uint8_t nextPrivateValue = 0;
    unsigned updates = 0; /* CI_CONFIG_UPDATE calls that applied something */
    int lastAppliedMask = 0;
    uint32_t activeMatrix = 0; /* 0: none */
    std::map<uint32_t, SimMatrix> matrices;
    /** Defect read map (pairs {x, y}), copied through apDefectInput at registration or with update group 256. */
    std::vector<uint16_t> defectMap;
    /** HDR merge record (weights, tone curve, ratio) loaded at registration and with update group 1024. */
    CI_MODULE_HDR hdr;
    unsigned hdrLoads = 0; /* times the record was loaded */
};

/** The device's view of pipeline `id`; false when it is not registered. */
bool GetSimPipeline(int id, SimPipelineView *out);
/** One configuration the device applied to a pipeline, as its decoder read it. */
struct SimConfigRecord {
    unsigned update = 0; /* SimPipelineView::updates after it was applied (1 for the first update) */
    int appliedMask = 0; /* the update groups applied */
    CI_PIPELINE decoded; /* the whole applied register image, decoded */
};
/** Depth of the per-pipeline configuration trace. */
constexpr size_t kConfigTraceDepth = 8;
/**
 * The newest configurations applied to pipeline `id` (at most kConfigTraceDepth, oldest first), so a test can see
 * what each pipeline received frame by frame; empty when it is not registered.
 */
std::vector<SimConfigRecord> SimPipelineConfigTrace(int id);

/** The device's record of pipeline `id` (platform lock held), or null. */
SimPipelineView *FindSimPipelineLocked(int id);
/** Number of registered pipelines (all files). */
unsigned SimPipelineCount();

/**
 * The next CI_CONFIG_UPDATE fails with negErrno: the groups of `failedGroups` that were asked for are
 * not applied and are written back as the failed mask; the other groups are applied.
 */
void FailNextUpdate(int failedGroups, int negErrno);

} // namespace norva_sim

#endif /* NORVA_SIM_PIPELINE_H */
