#ifndef NORVA_CI_API_STRUCTS_H
#define NORVA_CI_API_STRUCTS_H

/*
 * Connection-level records exchanged with the ISP kernel driver. Laid out exactly as the driver lays them out
 * (little-endian, natural alignment); every size and offset is pinned below.
 */

#include <stddef.h>

#include "qor_types.h"

/** Bits of CI_HWINFO.eFunctionalities. */
typedef enum CI_INFO_eSUPPORTED {
    CI_INFO_SUPPORTED_NONE = 0,
    CI_INFO_SUPPORTED_TILING = 1,
    CI_INFO_SUPPORTED_HDR_EXT = 2,
    CI_INFO_SUPPORTED_HDR_INS = 4,
    CI_INFO_SUPPORTED_RAW2D_EXT = 8,
    CI_INFO_SUPPORTED_IIF_DATAGEN = 16,
    CI_INFO_SUPPORTED_IIF_PARTERNGEN = 32,
} CI_INFO_eSUPPORTED;

#define CI_N_CONTEXT 2
#define CI_N_IMAGERS 4
#define CI_N_RTM_ENTRIES 8
#define CI_N_RTM_POSITIONS 8
#define GMA_N_POINTS 63

typedef struct CI_LINESTORE {
    /** Start column of each context's part of the line store; negative disables it. */
    QOR_INT32 aStart[CI_N_CONTEXT];
    /** Width given to each context. */
    QOR_UINT32 aSize[CI_N_CONTEXT];
    /** The driver reports the context as running. */
    QOR_BOOL8 aActive[CI_N_CONTEXT];
} CI_LINESTORE;

typedef struct CI_MODULE_GMA_LUT {
    QOR_UINT16 aRedPoints[GMA_N_POINTS];
    QOR_UINT16 aGreenPoints[GMA_N_POINTS];
    QOR_UINT16 aBluePoints[GMA_N_POINTS];
} CI_MODULE_GMA_LUT;

typedef struct CI_HWINFO {
    QOR_UINT8 ui8GroupId;
    QOR_UINT8 ui8AllocationId;
    QOR_UINT16 ui16ConfigId;
    QOR_UINT8 rev_ui8Designer;
    QOR_UINT8 rev_ui8Major;
    QOR_UINT8 rev_ui8Minor;
    QOR_UINT8 rev_ui8Maint;
    QOR_UINT32 rev_uid;
    QOR_UINT8 config_ui8PixPerClock;
    QOR_UINT8 config_ui8Parallelism;
    QOR_UINT8 config_ui8BitDepth;
    QOR_UINT8 config_ui8NContexts;
    QOR_UINT8 config_ui8NImagers;
    QOR_UINT8 config_ui8NIIFDataGenerator;
    QOR_UINT16 config_ui16MemLatency;
    QOR_UINT32 config_ui32DPFInternalSize;
    QOR_UINT8 config_ui8NRTMRegisters;
    QOR_UINT8 scaler_ui8EncHLumaTaps;
    QOR_UINT8 scaler_ui8EncVLumaTaps;
    QOR_UINT8 scaler_ui8EncVChromaTaps;
    QOR_UINT8 scaler_ui8DispHLumaTaps;
    QOR_UINT8 scaler_ui8DispVLumaTaps;
    QOR_UINT8 gasket_aImagerPortWidth[CI_N_IMAGERS];
    QOR_UINT8 gasket_aType[CI_N_IMAGERS];
    QOR_UINT16 gasket_aMaxWidth[CI_N_IMAGERS];
    QOR_UINT8 gasket_aBitDepth[CI_N_IMAGERS];
    QOR_UINT16 context_aMaxWidthMult[CI_N_CONTEXT];
    QOR_UINT16 context_aMaxHeight[CI_N_CONTEXT];
    QOR_UINT16 context_aMaxWidthSingle[CI_N_CONTEXT];
    QOR_UINT8 context_aBitDepth[CI_N_CONTEXT];
    QOR_UINT8 context_aPendingQueue[CI_N_CONTEXT];
    QOR_UINT32 ui32MaxLineStore;
    QOR_UINT32 ui32LSHRamSizeBits;
    QOR_UINT32 eFunctionalities; /* CI_INFO_eSUPPORTED bits */
    QOR_UINT32 uiSizeOfPipeline;
    QOR_UINT32 uiSizeOfLoadStruct;
    QOR_UINT32 uiChangelist;
    QOR_UINT32 uiTiledScheme;
    QOR_UINT8 mmu_ui8Enabled;
    QOR_UINT8 mmu_ui8RevMajor;
    QOR_UINT8 mmu_ui8RevMinor;
    QOR_UINT8 mmu_ui8RevMaint;
    QOR_UINT32 mmu_ui32PageSize;
    QOR_UINT32 ui32RefClockMhz;
} CI_HWINFO;

/** The public part of a connection, filled by the driver on CI_INFO_GET. */
typedef struct CI_CONNECTION {
    CI_LINESTORE sLinestoreStatus;
    CI_HWINFO sHWInfo;
    CI_MODULE_GMA_LUT sGammaLUT;
} CI_CONNECTION;

typedef struct CI_RTM_INFO {
    QOR_UINT32 aRTMEntries[CI_N_RTM_ENTRIES];
    QOR_UINT32 context_status[CI_N_CONTEXT];
    QOR_UINT32 context_linkEmptyness[CI_N_CONTEXT];
    QOR_UINT32 context_position[CI_N_CONTEXT][CI_N_RTM_POSITIONS];
} CI_RTM_INFO;

/** The size of CI_PIPELINE the driver must report in CI_HWINFO.uiSizeOfPipeline. */
#define CI_PIPELINE_DRIVER_SIZE 16376u

#ifdef __cplusplus
static_assert(sizeof(CI_LINESTORE) == 20, "CI_LINESTORE");
static_assert(offsetof(CI_LINESTORE, aStart) == 0 && offsetof(CI_LINESTORE, aSize) == 8 &&
                  offsetof(CI_LINESTORE, aActive) == 16,
              "CI_LINESTORE layout");

static_assert(sizeof(CI_MODULE_GMA_LUT) == 378, "CI_MODULE_GMA_LUT");
static_assert(offsetof(CI_MODULE_GMA_LUT, aRedPoints) == 0 && offsetof(CI_MODULE_GMA_LUT, aGreenPoints) == 126 &&
                  offsetof(CI_MODULE_GMA_LUT, aBluePoints) == 252,
              "CI_MODULE_GMA_LUT layout");

static_assert(sizeof(CI_HWINFO) == 108, "CI_HWINFO");
static_assert(offsetof(CI_HWINFO, ui8GroupId) == 0, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, ui8AllocationId) == 1, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, ui16ConfigId) == 2, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, rev_ui8Designer) == 4, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, rev_ui8Major) == 5, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, rev_ui8Minor) == 6, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, rev_ui8Maint) == 7, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, rev_uid) == 8, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, config_ui8PixPerClock) == 12, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, config_ui8Parallelism) == 13, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, config_ui8BitDepth) == 14, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, config_ui8NContexts) == 15, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, config_ui8NImagers) == 16, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, config_ui8NIIFDataGenerator) == 17, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, config_ui16MemLatency) == 18, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, config_ui32DPFInternalSize) == 20, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, config_ui8NRTMRegisters) == 24, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, scaler_ui8EncHLumaTaps) == 25, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, scaler_ui8EncVLumaTaps) == 26, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, scaler_ui8EncVChromaTaps) == 27, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, scaler_ui8DispHLumaTaps) == 28, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, scaler_ui8DispVLumaTaps) == 29, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, gasket_aImagerPortWidth) == 30, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, gasket_aType) == 34, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, gasket_aMaxWidth) == 38, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, gasket_aBitDepth) == 46, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, context_aMaxWidthMult) == 50, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, context_aMaxHeight) == 54, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, context_aMaxWidthSingle) == 58, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, context_aBitDepth) == 62, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, context_aPendingQueue) == 64, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, ui32MaxLineStore) == 68, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, ui32LSHRamSizeBits) == 72, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, eFunctionalities) == 76, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, uiSizeOfPipeline) == 80, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, uiSizeOfLoadStruct) == 84, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, uiChangelist) == 88, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, uiTiledScheme) == 92, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, mmu_ui8Enabled) == 96, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, mmu_ui8RevMajor) == 97, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, mmu_ui8RevMinor) == 98, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, mmu_ui8RevMaint) == 99, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, mmu_ui32PageSize) == 100, "CI_HWINFO layout");
static_assert(offsetof(CI_HWINFO, ui32RefClockMhz) == 104, "CI_HWINFO layout");

static_assert(sizeof(CI_CONNECTION) == 508, "CI_CONNECTION");
static_assert(offsetof(CI_CONNECTION, sLinestoreStatus) == 0 && offsetof(CI_CONNECTION, sHWInfo) == 20 &&
                  offsetof(CI_CONNECTION, sGammaLUT) == 128,
              "CI_CONNECTION layout");

static_assert(sizeof(CI_RTM_INFO) == 112, "CI_RTM_INFO");
static_assert(offsetof(CI_RTM_INFO, aRTMEntries) == 0 && offsetof(CI_RTM_INFO, context_status) == 32 &&
                  offsetof(CI_RTM_INFO, context_linkEmptyness) == 40 && offsetof(CI_RTM_INFO, context_position) == 48,
              "CI_RTM_INFO layout");
#endif

#endif /* NORVA_CI_API_STRUCTS_H */
