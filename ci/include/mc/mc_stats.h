#ifndef MC_STATS_H
#define MC_STATS_H
/*
 * Per-frame statistics decoded from the save structure the hardware writes into each shot, and the
 * statistics configuration of a shot reverted into the module-configuration records. The functions
 * neither check their arguments nor log; they return 0.
 */
#include "ci/ci_pipeline.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

/** Bytes of the save structure the extraction reads (offsets 0 to 5495). */
#define MC_SAVE_STRUCT_READ_SIZE 5496u

typedef struct MC_STATS_EXS {
    QOR_UINT32 globalClipped[4];
    QOR_UINT32 regionClipped[7][7][4];
} MC_STATS_EXS;

typedef struct MC_STATS_FOS {
    QOR_UINT32 ROISharpness;
    QOR_UINT32 gridSharpness[7][7];
} MC_STATS_FOS;

typedef struct MC_STATS_HIS {
    QOR_UINT32 globalHistogram[64];
    QOR_UINT32 regionHistograms[7][7][16];
} MC_STATS_HIS;

typedef struct MC_STATS_WBS_WP {
    QOR_UINT64 channelAccumulated[3];
    QOR_UINT32 channelCount[3];
} MC_STATS_WBS_WP;

typedef struct MC_STATS_WBS_AC {
    QOR_UINT64 channelAccumulated[3];
} MC_STATS_WBS_AC;

typedef struct MC_STATS_WBS_HLW {
    QOR_UINT64 channelAccumulated[3];
    QOR_UINT32 lumaCount;
} MC_STATS_WBS_HLW;

typedef struct MC_STATS_WBS {
    MC_STATS_WBS_WP whitePatch[2];
    MC_STATS_WBS_AC averageColor[2];
    MC_STATS_WBS_HLW highLuminance[2];
} MC_STATS_WBS;

typedef struct MC_TILE_STATS_AWS {
    double fCollectedRed;
    double fCollectedBlue;
    double fCollectedGreen;
    QOR_UINT32 numCFAs;
} MC_TILE_STATS_AWS;

typedef struct MC_STATS_AWS {
    MC_TILE_STATS_AWS tileStats[7][7];
} MC_STATS_AWS;

typedef enum FLD_STATUS {
    FLD_NO_FLICKER = 0,
    FLD_50HZ = 1,
    FLD_60HZ = 2,
    FLD_UNDETERMINED = 3,
    FLD_WAITING = 4,
} FLD_STATUS;

typedef struct MC_STATS_FLD {
    /** May hold 5 to 7, values outside FLD_STATUS: the hardware field has three bits. */
    QOR_UINT32 flickerStatus;
} MC_STATS_FLD;

typedef struct MC_STATS_TIMESTAMP {
    QOR_UINT32 ui32LinkedListUpdated;
    QOR_UINT32 ui32StartFrameIn;
    QOR_UINT32 ui32EndFrameIn;
    QOR_UINT32 ui32StartFrameOut;
    QOR_UINT32 ui32EndFrameEncOut;
    QOR_UINT32 ui32EndFrameDispOut;
    QOR_UINT32 ui32InterruptServiced;
    QOR_UINT64 ui64LinkedListSysTime;
    QOR_UINT64 ui64InterruptSysTime;
    QOR_UINT64 ui64InterruptTimeOfDay;
} MC_STATS_TIMESTAMP;

typedef struct MC_STATS_DPF {
    QOR_UINT32 ui32FixedPixels;
    QOR_UINT32 ui32MapModifications;
    QOR_UINT32 ui32DroppedMapModifications;
    QOR_UINT32 ui32NOutCorrection;
} MC_STATS_DPF;

#ifdef __cplusplus
extern "C" {
#endif

QOR_RESULT MC_EXSExtract(const void *blob, MC_STATS_EXS *pStats);
QOR_RESULT MC_FOSExtract(const void *blob, MC_STATS_FOS *pStats);
QOR_RESULT MC_HISExtract(const void *blob, MC_STATS_HIS *pStats);
QOR_RESULT MC_WBSExtract(const void *blob, MC_STATS_WBS *pStats);
QOR_RESULT MC_AWSExtract(const void *blob, MC_STATS_AWS *pStats);
QOR_RESULT MC_FLDExtract(const void *blob, MC_STATS_FLD *pStats);
QOR_RESULT MC_TimestampExtract(const void *blob, MC_STATS_TIMESTAMP *pStats);
QOR_RESULT MC_DPFExtract(const void *blob, MC_STATS_DPF *pStats);

QOR_RESULT MC_EXSRevert(const CI_MODULE_EXS *pCI, QOR_UINT32 eConfig, MC_EXS *pMC);
QOR_RESULT MC_FOSRevert(const CI_MODULE_FOS *pCI, QOR_UINT32 eConfig, MC_FOS *pMC);
QOR_RESULT MC_HISRevert(const CI_MODULE_HIS *pCI, QOR_UINT32 eConfig, MC_HIS *pMC);
QOR_RESULT MC_WBSRevert(const CI_MODULE_WBS *pCI, QOR_UINT32 eConfig, MC_WBS *pMC);
QOR_RESULT MC_AWSRevert(const CI_MODULE_AWS *pCI, QOR_UINT32 eConfig, MC_AWS *pMC);
QOR_RESULT MC_FLDRevert(const CI_MODULE_FLD *pCI, QOR_UINT32 eConfig, MC_FLD *pMC);
QOR_RESULT MC_ENSRevert(const CI_MODULE_ENS *pCI, QOR_UINT32 eConfig, MC_ENS *pMC);
QOR_RESULT MC_DPFRevert(const CI_MODULE_DPF *pCI, QOR_UINT32 eConfig, MC_DPF *pMC);

#ifdef __cplusplus
}
#endif

#endif /* MC_STATS_H */
