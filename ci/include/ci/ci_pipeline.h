#ifndef NORVA_CI_PIPELINE_H
#define NORVA_CI_PIPELINE_H

/*
 * Hardware pipelines created on a connection. Minimal stand-in so that the connection can own and destroy its
 * pipelines; the pipeline configuration work replaces this header and ci/src/ci_pipeline.cpp as a whole.
 */

#include "ci/ci_api.h"
#include "linkedlist.h"

struct INT_CONNECTION;

typedef struct CI_PIPELINE {
    QOR_UINT8 aPlaceholder[CI_PIPELINE_DRIVER_SIZE];
} CI_PIPELINE;

typedef struct INT_PIPELINE {
    /** The handle given to callers is the address of this member. */
    CI_PIPELINE publicPipeline;
    /** Links the pipeline into its connection's pipeline list. */
    Cell_T sCell;
    struct INT_CONNECTION *pConnection;
} INT_PIPELINE;

#ifdef __cplusplus
extern "C" {
#endif

/** Creates a pipeline on the connection; *ppPipeline must be null. */
QOR_RESULT CI_PipelineCreate(CI_PIPELINE **ppPipeline, CI_CONNECTION *pConnection);
/** Unlinks the pipeline from its connection and frees it. */
QOR_RESULT CI_PipelineDestroy(CI_PIPELINE *pPipeline);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_CI_PIPELINE_H */
