// Minimal pipeline records: creation links a zeroed pipeline into its connection, destruction unlinks and
// frees it. The pipeline configuration work replaces this file together with ci/include/ci/ci_pipeline.h.
#include "ci/ci_pipeline.h"

#include <cstdlib>

#include "ci/ci_connection_internal.h"
#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "CI_API";
}

extern "C" {

QOR_RESULT CI_PipelineCreate(CI_PIPELINE **ppPipeline, CI_CONNECTION *pConnection) {
    if (ppPipeline == nullptr || *ppPipeline != nullptr || pConnection == nullptr) {
        LOG_Error(__func__, __LINE__, kTag, "ppPipeline or pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = static_cast<INT_PIPELINE *>(std::calloc(1, sizeof(INT_PIPELINE)));
    if (pipe == nullptr) return QOR_RES_NO_MEMORY;
    pipe->pConnection = INT_ConnectionFromHandle(pConnection);
    pipe->sCell.object = pipe;
    List_pushBack(&pipe->pConnection->sList_pipelines, &pipe->sCell);
    *ppPipeline = &pipe->publicPipeline;
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineDestroy(CI_PIPELINE *pPipeline) {
    if (pPipeline == nullptr) {
        LOG_Error(__func__, __LINE__, kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = reinterpret_cast<INT_PIPELINE *>(pPipeline);
    List_detach(&pipe->sCell);
    std::free(pipe);
    return QOR_RES_OK;
}

} // extern "C"
