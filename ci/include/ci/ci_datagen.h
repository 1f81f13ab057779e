#ifndef NORVA_CI_DATAGEN_H
#define NORVA_CI_DATAGEN_H

/*
 * Internal (IIF) data generators: hardware that replaces the sensor of one gasket and sends frames prepared in
 * memory into the pipeline, in the line format of a parallel or MIPI sensor. The library registers a generator
 * with the driver, has the driver allocate frame buffers that it maps for writing, hands free buffers to the
 * caller, checks and sends filled frames, waits for processed frames and tears everything down.
 * Log tag "CI_API".
 */

#include <stddef.h>

#include "ci/ci_api.h"
#include "linkedlist.h"
#include "norvacommon/pixel_transform.h"

struct INT_CONNECTION;

/** Line format of data-generator frames. */
typedef enum CI_CONV_FMT : QOR_INT32 {
    CI_DGFMT_PARALLEL = 0, /* parallel sensor bus: packed samples, no packets */
    CI_DGFMT_MIPI = 1,     /* MIPI CSI-2: frame start/end packets and one long packet per line */
    CI_DGFMT_MIPI_LF = 2,  /* as MIPI, plus a line start and a line end packet around every line */
    CI_DGFMT_N = 3,
} CI_CONV_FMT;

/** Smallest blanking the generator accepts: pixels after each line, lines after the frame. */
#define CI_DG_MIN_HBLANKING 100u
#define CI_DG_MIN_VBLANKING 14u
/** Alignment of a frame's line stride in bytes. */
#define SYSMEM_ALIGNMENT 64

/** Public settings of one generator: filled between creation and start, sent to the driver at start. */
typedef struct CI_DATAGEN {
    QOR_UINT8 ui8IIFDGIndex;     /* hardware data generator to use */
    QOR_BOOL8 bPreload;          /* passed unchanged to the driver */
    CI_CONV_FMT eFormat;         /* line format of every frame */
    QOR_UINT8 ui8FormatBitdepth; /* parallel 10 or 12; MIPI 10, 12 or 14 */
    QOR_UINT8 ui8Gasket;         /* the imager port whose sensor the generator replaces */
    MOSAICType eBayerMosaic;
} CI_DATAGEN;

/** One frame buffer as the caller sees it. */
typedef struct CI_DG_FRAME {
    void *data;               /* the buffer's mapping, writable */
    QOR_UINT32 ui32AllocSize; /* bytes allocated */
    QOR_UINT32 ui32FrameID;   /* the driver's identifier of the buffer */
    CI_CONV_FMT eFormat;      /* format of the content; must equal the generator's at insertion */
    QOR_UINT8 ui8FormatBitdepth;
    MOSAICType eBayerMosaic;
    QOR_UINT32 ui32Stride;             /* bytes from one line to the next, a multiple of 64 */
    QOR_UINT32 ui32Width;              /* pixels per line */
    QOR_UINT32 ui32PacketWidth;        /* MIPI: bytes of one line's long packet; not sent to the driver */
    QOR_UINT32 ui32Height;             /* lines */
    QOR_UINT32 ui32HorizontalBlanking; /* pixels after each line, at least 100 */
    QOR_UINT32 ui32VerticalBlanking;   /* lines after the frame, at least 14 */
} CI_DG_FRAME;

struct INT_INTDATAGEN;

/** The library's record of a frame buffer; the handle is the address of publicFrame. */
typedef struct INT_DGFRAME {
    /* The library's own copy, written back into the public part at every acquisition. */
    void *data;
    QOR_UINT32 ui32AllocSize;
    QOR_UINT32 ui32FrameID; /* also the mapping offset in pages */
    CI_DG_FRAME publicFrame;
    struct INT_INTDATAGEN *pDatagen;
    /** Links the frame into its generator's frame list. */
    Cell_T sCell;
} INT_DGFRAME;

/** The library's record of a generator; the handle is the address of publicDatagen. */
typedef struct INT_INTDATAGEN {
    int ui32DatagenID;
    QOR_BOOL8 bStarted;
    /** INT_DGFRAME records of the generator, from allocation to freeing. */
    LinkedList_T sListFrames;
    /** Links the generator into its connection's list of data generators. */
    Cell_T sCell;
    struct INT_CONNECTION *pConnection;
    CI_DATAGEN publicDatagen;
} INT_INTDATAGEN;

/* Argument records of the generator's driver commands (little-endian, natural alignment). */

/** CI_IIFDG_START. */
typedef struct CI_DG_PARAM {
    int datagenId;
    CI_DATAGEN sDG;
} CI_DG_PARAM;

/** CI_IIFDG_ALLOCATE, CI_IIFDG_ACQUIRE and CI_IIFDG_FREE. */
typedef struct CI_DG_FRAMEINFO {
    int datagenId;
    unsigned uiSize;      /* allocation: bytes to allocate */
    QOR_UINT32 mmapId;    /* out of the allocation: identifier and mapping offset in pages */
    QOR_UINT32 uiFrameId; /* acquisition: in the frame wanted (0 any), out the frame taken; free: the frame */
} CI_DG_FRAMEINFO;

/** CI_IIFDG_RELEASE. */
typedef struct CI_DG_FRAMETRIG {
    int datagenId;
    QOR_UINT32 uiFrameId;
    QOR_UINT32 uiStride;
    QOR_UINT16 uiWidth;
    QOR_UINT16 uiHeight;
    QOR_UINT16 uiHorizontalBlanking;
    QOR_UINT16 uiVerticalBlanking;
    QOR_BOOL8 bTrigger; /* 1: send the frame into the pipeline; 0: give the buffer back unsent */
} CI_DG_FRAMETRIG;

/** CI_IIFDG_WAITPROCESSED. */
typedef struct CI_DG_FRAMEWAIT {
    int datagenId;
    QOR_BOOL8 bBlocking;
} CI_DG_FRAMEWAIT;

#ifdef __cplusplus
static_assert(sizeof(CI_CONV_FMT) == 4, "CI_CONV_FMT is a 4-byte enumeration");
static_assert(sizeof(CI_DATAGEN) == 16, "CI_DATAGEN");
static_assert(offsetof(CI_DATAGEN, ui8IIFDGIndex) == 0 && offsetof(CI_DATAGEN, bPreload) == 1 &&
                  offsetof(CI_DATAGEN, eFormat) == 4 && offsetof(CI_DATAGEN, ui8FormatBitdepth) == 8 &&
                  offsetof(CI_DATAGEN, ui8Gasket) == 9 && offsetof(CI_DATAGEN, eBayerMosaic) == 12,
              "CI_DATAGEN layout");
static_assert(sizeof(CI_DG_PARAM) == 20, "CI_DG_PARAM");
static_assert(offsetof(CI_DG_PARAM, datagenId) == 0 && offsetof(CI_DG_PARAM, sDG) == 4 &&
                  offsetof(CI_DG_PARAM, sDG) + offsetof(CI_DATAGEN, bPreload) == 5 &&
                  offsetof(CI_DG_PARAM, sDG) + offsetof(CI_DATAGEN, eFormat) == 8 &&
                  offsetof(CI_DG_PARAM, sDG) + offsetof(CI_DATAGEN, ui8FormatBitdepth) == 12 &&
                  offsetof(CI_DG_PARAM, sDG) + offsetof(CI_DATAGEN, ui8Gasket) == 13 &&
                  offsetof(CI_DG_PARAM, sDG) + offsetof(CI_DATAGEN, eBayerMosaic) == 16,
              "CI_DG_PARAM layout");
static_assert(sizeof(CI_DG_FRAMEINFO) == 16, "CI_DG_FRAMEINFO");
static_assert(offsetof(CI_DG_FRAMEINFO, datagenId) == 0 && offsetof(CI_DG_FRAMEINFO, uiSize) == 4 &&
                  offsetof(CI_DG_FRAMEINFO, mmapId) == 8 && offsetof(CI_DG_FRAMEINFO, uiFrameId) == 12,
              "CI_DG_FRAMEINFO layout");
static_assert(sizeof(CI_DG_FRAMETRIG) == 24, "CI_DG_FRAMETRIG");
static_assert(offsetof(CI_DG_FRAMETRIG, datagenId) == 0 && offsetof(CI_DG_FRAMETRIG, uiFrameId) == 4 &&
                  offsetof(CI_DG_FRAMETRIG, uiStride) == 8 && offsetof(CI_DG_FRAMETRIG, uiWidth) == 12 &&
                  offsetof(CI_DG_FRAMETRIG, uiHeight) == 14 && offsetof(CI_DG_FRAMETRIG, uiHorizontalBlanking) == 16 &&
                  offsetof(CI_DG_FRAMETRIG, uiVerticalBlanking) == 18 && offsetof(CI_DG_FRAMETRIG, bTrigger) == 20,
              "CI_DG_FRAMETRIG layout");
static_assert(sizeof(CI_DG_FRAMEWAIT) == 8, "CI_DG_FRAMEWAIT");
static_assert(offsetof(CI_DG_FRAMEWAIT, datagenId) == 0 && offsetof(CI_DG_FRAMEWAIT, bBlocking) == 4,
              "CI_DG_FRAMEWAIT layout");
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Registers a new generator; *ppDatagen must be null and receives its zeroed public settings. */
QOR_RESULT CI_DatagenCreate(CI_DATAGEN **ppDatagen, CI_CONNECTION *pConnection);
/** Sends the public settings and starts the generator (a started one: warning, 0). */
QOR_RESULT CI_DatagenStart(CI_DATAGEN *pDatagen);
/** Whether the driver reports the generator started; refreshes the library's state. False when unknown. */
QOR_BOOL8 CI_DatagenIsStarted(CI_DATAGEN *pDatagen);
/** Stops a started generator (a stopped one: warning, 0). */
QOR_RESULT CI_DatagenStop(CI_DATAGEN *pDatagen);
/** Stops it if needed, frees its buffers, deregisters and frees it. */
QOR_RESULT CI_DatagenDestroy(CI_DATAGEN *pDatagen);

/** Has the driver allocate a buffer of ui32Size bytes, maps and lists it (only before start). */
QOR_RESULT CI_DatagenAllocateFrame(CI_DATAGEN *pDatagen, QOR_UINT32 ui32Size, QOR_UINT32 *pFrameID);
/** The next available buffer, acquired for filling, or null. */
CI_DG_FRAME *CI_DatagenGetAvailableFrame(CI_DATAGEN *pDatagen);
/** The given buffer (0: any available one), acquired for filling, or null. */
CI_DG_FRAME *CI_DatagenGetFrame(CI_DATAGEN *pDatagen, QOR_UINT32 ui32FrameID);
/** Checks a filled frame and sends it into the pipeline. */
QOR_RESULT CI_DatagenInsertFrame(CI_DG_FRAME *pFrame);
/** Gives an acquired buffer back to the driver unsent. */
QOR_RESULT CI_DatagenReleaseFrame(CI_DG_FRAME *pFrame);
/** Waits in the driver for a sent frame to be processed; a non-blocking poll that finds nothing is silent. */
QOR_RESULT CI_DatagenWaitProcessedFrame(CI_DATAGEN *pDatagen, QOR_BOOL8 bBlocking);
/** Unmaps and frees one buffer and its record. */
QOR_RESULT CI_DatagenDestroyFrame(CI_DG_FRAME *pFrame);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_CI_DATAGEN_H */
