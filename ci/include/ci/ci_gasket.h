#ifndef NORVA_CI_GASKET_H
#define NORVA_CI_GASKET_H

/*
 * Gaskets: the imager input ports of the ISP (MIPI receivers or parallel ports). A gasket is acquired in the
 * driver with the frame geometry and the port's signalling before its sensor streams, released afterwards, and
 * its counters can be read while it runs. The library keeps no gasket state. Log tag "CI_API".
 */

#include <stddef.h>

#include "ci/ci_api.h"

typedef enum CI_GASKETTYPE {
    CI_GASKET_NONE = 0,
    CI_GASKET_MIPI = 1,
    CI_GASKET_PARALLEL = 2,
} CI_GASKETTYPE;

/** The settings of a gasket, passed to the driver unchanged. */
typedef struct CI_GASKET {
    QOR_UINT8 uiGasket;            /* gasket index (0 to 3) */
    QOR_BOOL8 bParallel;           /* parallel port rather than MIPI */
    QOR_UINT16 uiWidth;            /* frame width */
    QOR_UINT16 uiHeight;           /* frame height */
    QOR_BOOL8 bVSync;              /* parallel: vertical sync signal setting */
    QOR_BOOL8 bHSync;              /* parallel: horizontal sync signal setting */
    QOR_UINT8 ui8ParallelBitdepth; /* parallel: bits per pixel */
} CI_GASKET;

/** The counters of a gasket, filled by the driver. */
typedef struct CI_GASKET_INFO {
    QOR_UINT8 eType; /* CI_GASKETTYPE */
    QOR_UINT32 ui32FrameCount;
    QOR_UINT8 ui8MipiFifoFull;
    QOR_UINT8 ui8MipiEnabledLanes;
    QOR_UINT8 ui8MipiCrcError;
    QOR_UINT8 ui8MipiHdrError;
    QOR_UINT8 ui8MipiEccError;
    QOR_UINT8 ui8MipiEccCorrected;
    QOR_UINT16 ui16MipiSotErrorCnt;
} CI_GASKET_INFO;

/** Argument of CI_GASKET_GETINFO. */
typedef struct CI_GASKET_PARAM {
    QOR_UINT8 uiGasket;
    CI_GASKET_INFO sGasketInfo;
} CI_GASKET_PARAM;

#ifdef __cplusplus
static_assert(sizeof(CI_GASKET) == 10, "CI_GASKET");
static_assert(offsetof(CI_GASKET, uiGasket) == 0 && offsetof(CI_GASKET, bParallel) == 1 &&
                  offsetof(CI_GASKET, uiWidth) == 2 && offsetof(CI_GASKET, uiHeight) == 4 &&
                  offsetof(CI_GASKET, bVSync) == 6 && offsetof(CI_GASKET, bHSync) == 7 &&
                  offsetof(CI_GASKET, ui8ParallelBitdepth) == 8,
              "CI_GASKET layout");
static_assert(sizeof(CI_GASKET_INFO) == 16, "CI_GASKET_INFO");
static_assert(offsetof(CI_GASKET_INFO, eType) == 0 && offsetof(CI_GASKET_INFO, ui32FrameCount) == 4 &&
                  offsetof(CI_GASKET_INFO, ui8MipiFifoFull) == 8 &&
                  offsetof(CI_GASKET_INFO, ui8MipiEnabledLanes) == 9 &&
                  offsetof(CI_GASKET_INFO, ui8MipiCrcError) == 10 && offsetof(CI_GASKET_INFO, ui8MipiHdrError) == 11 &&
                  offsetof(CI_GASKET_INFO, ui8MipiEccError) == 12 &&
                  offsetof(CI_GASKET_INFO, ui8MipiEccCorrected) == 13 &&
                  offsetof(CI_GASKET_INFO, ui16MipiSotErrorCnt) == 14,
              "CI_GASKET_INFO layout");
static_assert(sizeof(CI_GASKET_PARAM) == 20, "CI_GASKET_PARAM");
static_assert(offsetof(CI_GASKET_PARAM, uiGasket) == 0 && offsetof(CI_GASKET_PARAM, sGasketInfo) == 4,
              "CI_GASKET_PARAM layout");
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Sets every field to 0 (gasket 0 included: set uiGasket afterwards). */
QOR_RESULT CI_GasketInit(CI_GASKET *pGasket);
/** Claims the gasket in the driver with the record's geometry and signalling. */
QOR_RESULT CI_GasketAcquire(CI_GASKET *pGasket, CI_CONNECTION *pConnection);
/** Frees the gasket in the driver. */
QOR_RESULT CI_GasketRelease(CI_GASKET *pGasket, CI_CONNECTION *pConnection);
/** Reads the gasket's kind and counters; the caller's record is untouched on failure. */
QOR_RESULT CI_GasketGetInfo(CI_GASKET_INFO *pGasketInfo, QOR_UINT8 uiGasket, CI_CONNECTION *pConnection);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_CI_GASKET_H */
