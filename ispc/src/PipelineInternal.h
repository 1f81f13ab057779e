#ifndef ISPC_PIPELINE_INTERNAL_H
#define ISPC_PIPELINE_INTERNAL_H

/* Shared by the two files that implement ISPC::Pipeline (Pipeline.cpp, PipelineCapture.cpp). */

namespace ISPC {
namespace pipeline_internal {
constexpr const char *kTag = "ISPC_PIPELINE";
constexpr const char *kErrorState = "Pipeline is in error state\n";
} // namespace pipeline_internal
} // namespace ISPC

/** In a Pipeline member: a pipeline in its error state refuses with QOR_RES_UNAVAILABLE, logged. */
#define PIPELINE_REFUSE_IN_ERROR()                                                                                     \
    do {                                                                                                               \
        if (ctxStatus == ISPC_Ctx_ERROR) {                                                                             \
            QOR_LOG_ERROR(pipeline_internal::kTag, pipeline_internal::kErrorState);                                    \
            return QOR_RES_UNAVAILABLE;                                                                                \
        }                                                                                                              \
    } while (0)

#endif /* ISPC_PIPELINE_INTERNAL_H */
