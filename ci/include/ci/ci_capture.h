#ifndef NORVA_CI_CAPTURE_H
#define NORVA_CI_CAPTURE_H
/*
 * Capture on a registered pipeline: the pools of shots and buffers that live both in the driver and
 * here, triggering, acquiring and releasing frames, and the queries. Log tag "CI_API".
 *
 * The driver fills CI_SHOT inside CI_POOL_PARAM and CI_BUFFER_PARAM, so its layout is binding
 * (little-endian, natural alignment, 8-byte addresses).
 */
#include <stddef.h>

#include "ci/ci_pipeline.h"
#include "linkedlist.h"
#include "qor_errors.h"
#include "qor_types.h"

/** Offset of the save-structure status word: bit 0 frame error, bits 16 to 23 the private value. */
#define CI_SAVE_STATUS_OFFSET 5440u
#define CI_SAVE_STATUS_ERROR 0x1u
#define CI_SAVE_STATUS_PRIVATE_SHIFT 16u

/** Roles of the caller's buffers. */
typedef enum CI_BUFFTYPE {
    CI_TYPE_NONE = 0,
    CI_TYPE_ENCODER = 1,
    CI_TYPE_DISPLAY = 2,
    CI_TYPE_DATAEXT = 3,
    CI_TYPE_HDREXT = 4,
    CI_TYPE_HDRINS = 5,
    CI_TYPE_RAW2D = 6,
} CI_BUFFTYPE;

/** One captured frame as the driver describes it. */
typedef struct CI_SHOT {
    QOR_UINT32 aEncYSize[2];
    QOR_UINT32 aEncCbCrSize[2];
    QOR_UINT32 aEncOffset[2];
    QOR_BOOL8 bEncTiled;
    QOR_UINT32 aDispSize[2];
    QOR_UINT32 ui32DispOffset;
    QOR_BOOL8 bDispTiled;
    QOR_UINT32 aHDRExtSize[2];
    QOR_UINT32 ui32HDRExtOffset;
    QOR_BOOL8 bHDRExtTiled;
    QOR_UINT32 aHDRInsSize[2];
    QOR_UINT32 ui32HDRInsOffset;
    QOR_UINT32 aRaw2DSize[2];
    QOR_UINT32 ui32Raw2DOffset;
    QOR_UINT32 loadSize;
    QOR_UINT32 statsSize;
    QOR_UINT32 uiDPFSize;
    QOR_UINT32 uiENSSize;
    QOR_UINT8 ui8PrivateValue;
    QOR_BOOL8 bFrameError;
    QOR_INT32 i32MissedFrames;
    QOR_UINT32 encId;
    void *pEncoderOutput;
    QOR_UINT32 dispId;
    void *pDisplayOutput;
    QOR_UINT32 HDRExtId;
    void *pHDRExtOutput;
    QOR_UINT32 raw2DExtId;
    void *pRaw2DExtOutput;
    /** The frame's load structure as applied by the hardware (mapped read-only with the shot). */
    void *pLoadStruct;
    void *pStatistics;
    void *pDPFMap;
    void *pENSOutput;
    QOR_UINT32 aHDRHist[13];
    QOR_UINT32 ui32LinkedListTS;
    QOR_UINT32 ui32InterruptTS;
    QOR_UINT64 ui64LinkedListSysTime;
    QOR_UINT64 ui64InterruptSysTime;
    QOR_UINT64 ui64InterruptTimeOfDay;
    QOR_UINT32 eOutputConfig;
    CI_EXTRA_PARAMS *pExtraParams;
} CI_SHOT;

/** Buffers named by a trigger; an identifier of 0 means none of that kind, strides of 0 the driver's default. */
typedef struct CI_BUFFID {
    QOR_UINT32 encId;
    QOR_UINT32 encStrideY;
    QOR_UINT32 encStrideC;
    QOR_UINT32 encOffsetY;
    QOR_UINT32 encOffsetC;
    QOR_UINT32 dispId;
    QOR_UINT32 dispStride;
    QOR_UINT32 dispOffset;
    QOR_UINT32 idHDRExt;
    QOR_UINT32 HDRExtStride;
    QOR_UINT32 HDRExtOffset;
    QOR_UINT32 idHDRIns;
    QOR_UINT32 HDRInsStride;
    QOR_UINT32 HDRInsOffset;
    QOR_UINT32 idRaw2D;
    QOR_UINT32 raw2DStride;
    QOR_UINT32 raw2DOffset;
} CI_BUFFID;

/** Argument of CI_CONFIG_ADDPOOL: mapping identifiers of the statistics, DPF, ENS and load areas. */
typedef struct CI_POOL_PARAM {
    QOR_UINT32 configId;
    QOR_UINT32 aMemMapIds[4];
    QOR_INT32 iShotId;
    CI_SHOT sample;
} CI_POOL_PARAM;

enum CI_POOL_MAP_ID {
    CI_POOL_MAP_ID_STAT = 0,
    CI_POOL_MAP_ID_DPF = 1,
    CI_POOL_MAP_ID_ENS = 2,
    CI_POOL_MAP_ID_LOAD = 3
};

/** Argument of CI_CAPTURE_TRIGGER and CI_CAPTURE_RELEASE. */
typedef struct CI_BUFFER_TRIGG {
    int captureId;
    QOR_BOOL8 bBlocking;
    int shotId;
    CI_BUFFID bufferIds;
} CI_BUFFER_TRIGG;

/** Argument of CI_CAPTURE_ACQUIRE. */
typedef struct CI_BUFFER_PARAM {
    int captureId;
    QOR_BOOL8 bBlocking;
    int shotId;
    CI_SHOT shot;
} CI_BUFFER_PARAM;

/** Argument of CI_CAPTURE_HASAVAILABLE. */
typedef struct CI_HAS_AVAIL {
    int captureId;
    QOR_UINT32 uiShots;
    QOR_UINT32 uiBuffers;
} CI_HAS_AVAIL;

/** An HDR insertion buffer lent to the caller for filling. */
typedef struct CI_BUFFER {
    QOR_UINT32 id;
    void *data;
    QOR_UINT32 ui32Size;
} CI_BUFFER;

typedef struct CI_BUFFER_INFO {
    QOR_UINT32 id;
    int ionFd;
    QOR_UINT32 ui32Size;
    int type; /* CI_ALLOC_BUFF */
    QOR_BOOL8 bAvailable;
    QOR_BOOL8 bIsTiled;
} CI_BUFFER_INFO;

/** The library's record of one output (or HDR insertion) buffer. */
typedef struct INT_BUFFER {
    QOR_INT32 ID;    /* the driver's identifier, also the mapping identifier */
    QOR_INT32 ionFd; /* the imported descriptor, 0 for a driver-allocated buffer */
    int type;        /* CI_ALLOC_BUFF */
    void *memory;
    QOR_UINT32 uiSize;
    QOR_BOOL8 bIsTiled;
    Cell_T sCell;
    INT_BUFFER_STATUS eStatus;
    QOR_BOOL8 bHDRReserved;
} INT_BUFFER;

/** The library's record of one shot; the handle given to callers is the address of publicShot. */
typedef struct INT_SHOT {
    int iIdentifier;
    QOR_BOOL8 bAcquired;
    /**
     * The shot's areas could not be mapped when it was added: the driver holds it but it is never handed
     * to a caller; when the driver delivers a frame into it, the frame is given straight back.
     */
    QOR_BOOL8 bUnmapped;
    CI_SHOT publicShot;
    INT_BUFFER *pEncOutput;
    INT_BUFFER *pDispOutput;
    INT_BUFFER *pHDRExtOutput;
    INT_BUFFER *pRaw2DExtOutput;
    Cell_T sCell;
} INT_SHOT;

#ifdef __cplusplus
extern "C" {
#endif

QOR_RESULT CI_PipelineAddPool(CI_PIPELINE *pPipeline, QOR_UINT32 ui32NBuffers);
QOR_RESULT CI_PipelineDeleteShots(CI_PIPELINE *pPipeline);

QOR_RESULT CI_PipelineAllocateBuffer(CI_PIPELINE *pPipeline, CI_BUFFTYPE eBuffer, QOR_UINT32 ui32Size, QOR_BOOL8 bTiled,
                                     QOR_UINT32 *pBufferId);
QOR_RESULT CI_PipelineImportBuffer(CI_PIPELINE *pPipeline, CI_BUFFTYPE eBuffer, QOR_UINT32 ui32Size, QOR_BOOL8 bTiled,
                                   QOR_UINT32 ionFd, QOR_UINT32 *pBufferId);
QOR_RESULT QOR_CI_PipelineCreateBuffer(CI_PIPELINE *pPipeline, CI_BUFFTYPE eBuffer, QOR_UINT32 ui32Size,
                                       QOR_BOOL8 bTiled, QOR_UINT32 ionFd, QOR_UINT32 *pBufferId);
QOR_RESULT CI_PipelineDeregisterBuffer(CI_PIPELINE *pPipeline, QOR_UINT32 id);
QOR_RESULT CI_PipelineGetBufferInfo(CI_PIPELINE *pPipeline, QOR_UINT32 id, CI_BUFFER_INFO *pInfo);
QOR_RESULT CI_PipelineFindBufferFromImportFd(CI_PIPELINE *pPipeline, QOR_UINT32 ionFd, QOR_UINT32 *pBufferId);

QOR_RESULT CI_PipelineStartCapture(CI_PIPELINE *pPipeline);
QOR_RESULT CI_PipelineStopCapture(CI_PIPELINE *pPipeline);
QOR_BOOL8 CI_PipelineIsStarted(CI_PIPELINE *pPipeline);

QOR_RESULT CI_PipelineFindFirstAvailable(CI_PIPELINE *pPipeline, CI_BUFFID *pIds);
QOR_RESULT CI_PipelineTriggerShoot(CI_PIPELINE *pPipeline);
QOR_RESULT CI_PipelineTriggerShootNB(CI_PIPELINE *pPipeline);
QOR_RESULT CI_PipelineTriggerSpecifiedShoot(CI_PIPELINE *pPipeline, CI_BUFFID *pBuffId);
QOR_RESULT CI_PipelineTriggerSpecifiedShootNB(CI_PIPELINE *pPipeline, CI_BUFFID *pBuffId);
QOR_RESULT QOR_PipelineTriggerShoot(INT_PIPELINE *pIntPipeline, QOR_BOOL8 bBlocking, CI_BUFFID *pBuffId);

QOR_RESULT CI_PipelineAcquireShot(CI_PIPELINE *pPipeline, CI_SHOT **ppShot);
QOR_RESULT CI_PipelineAcquireShotNB(CI_PIPELINE *pPipeline, CI_SHOT **ppShot);
QOR_RESULT QOR_PipelineAcquireBuffer(CI_PIPELINE *pPipeline, QOR_BOOL8 bBlocking, CI_SHOT **ppShot);
QOR_RESULT CI_PipelineReleaseShot(CI_PIPELINE *pPipeline, CI_SHOT *pShot);
QOR_RESULT CI_PipelineExtractConfig(const CI_SHOT *pShot, CI_PIPELINE_STATS *pConfig);

QOR_RESULT CI_PipelineAcquireHDRBuffer(CI_PIPELINE *pPipeline, CI_BUFFER *pFrame, QOR_UINT32 id);
QOR_RESULT CI_PipelineReleaseHDRBuffer(CI_PIPELINE *pPipeline, QOR_UINT32 id);

QOR_BOOL8 CI_PipelineHasPending(CI_PIPELINE *pPipeline);
QOR_INT32 CI_PipelineHasWaiting(CI_PIPELINE *pPipeline);
QOR_BOOL8 CI_PipelineHasAvailableShots(CI_PIPELINE *pPipeline);
QOR_BOOL8 CI_PipelineHasAvailableBuffers(CI_PIPELINE *pPipeline);
QOR_BOOL8 CI_PipelineHasAvailable(CI_PIPELINE *pPipeline);
QOR_INT32 CI_PipelineHasBuffers(CI_PIPELINE *pPipeline);
QOR_INT32 CI_PipelineHasLSHBuffers(CI_PIPELINE *pPipeline);
QOR_BOOL8 CI_PipelineHasAcquired(CI_PIPELINE *pPipeline);

/**
 * Decodes the statistics configuration registers of the shot's register image (the load structure the
 * hardware applied to its frame, pLoadStruct) into pStats. 3 when the shot carries no register image.
 */
QOR_RESULT INT_CI_Revert_HW2(const CI_SHOT *pShot, CI_PIPELINE_STATS *pStats);

/** List visitor of pipeline destruction: unmaps and frees one INT_BUFFER; param is the INT_PIPELINE. */
QOR_BOOL8 List_ClearBuffers(void *elem, void *param);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(CI_SHOT) == 304, "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, bEncTiled) == 24 && offsetof(CI_SHOT, aDispSize) == 28, "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, aHDRExtSize) == 44 && offsetof(CI_SHOT, bHDRExtTiled) == 56, "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, aHDRInsSize) == 60 && offsetof(CI_SHOT, aRaw2DSize) == 72, "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, loadSize) == 84 && offsetof(CI_SHOT, uiENSSize) == 96, "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, ui8PrivateValue) == 100 && offsetof(CI_SHOT, bFrameError) == 101, "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, i32MissedFrames) == 104 && offsetof(CI_SHOT, encId) == 108, "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, pEncoderOutput) == 112 && offsetof(CI_SHOT, dispId) == 120, "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, pDisplayOutput) == 128 && offsetof(CI_SHOT, HDRExtId) == 136, "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, raw2DExtId) == 152 && offsetof(CI_SHOT, pLoadStruct) == 168, "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, pENSOutput) == 192 && offsetof(CI_SHOT, aHDRHist) == 200, "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, ui32LinkedListTS) == 252 && offsetof(CI_SHOT, ui32InterruptTS) == 256,
              "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, ui64LinkedListSysTime) == 264 && offsetof(CI_SHOT, ui64InterruptTimeOfDay) == 280,
              "CI_SHOT layout");
static_assert(offsetof(CI_SHOT, eOutputConfig) == 288 && offsetof(CI_SHOT, pExtraParams) == 296, "CI_SHOT layout");
static_assert(sizeof(CI_BUFFID) == 68 && offsetof(CI_BUFFID, idRaw2D) == 56, "CI_BUFFID layout");
static_assert(sizeof(CI_POOL_PARAM) == 328 && offsetof(CI_POOL_PARAM, iShotId) == 20 &&
                  offsetof(CI_POOL_PARAM, sample) == 24,
              "CI_POOL_PARAM layout");
static_assert(sizeof(CI_BUFFER_TRIGG) == 80 && offsetof(CI_BUFFER_TRIGG, bufferIds) == 12, "CI_BUFFER_TRIGG layout");
static_assert(sizeof(CI_BUFFER_PARAM) == 320 && offsetof(CI_BUFFER_PARAM, shot) == 16, "CI_BUFFER_PARAM layout");
static_assert(sizeof(CI_HAS_AVAIL) == 12, "CI_HAS_AVAIL layout");
static_assert(sizeof(CI_BUFFER_INFO) == 20 && offsetof(CI_BUFFER_INFO, bAvailable) == 16 &&
                  offsetof(CI_BUFFER_INFO, bIsTiled) == 17,
              "CI_BUFFER_INFO layout");
static_assert(offsetof(INT_SHOT, iIdentifier) == 0, "layout");
#endif

#endif /* NORVA_CI_CAPTURE_H */
