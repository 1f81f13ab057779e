#ifndef NORVA_SENSORS_IIFDATAGEN_H
#define NORVA_SENSORS_IIFDATAGEN_H

/*
 * "DOR Idazida": a sensor driver without a sensor. It plays the frames of an NRV file into the ISP through an
 * internal data generator, in the parallel line format (10 bits for files of up to 10 bits, 12 for 11 or 12).
 * One mode derived from the file, fixed at 11 frames per second. Settings a real sensor does not have are
 * set with the IIFDG_Extended* functions. Log tag "IntDG_SENSOR".
 *
 * Per frame, the next frame of the file is packed into one buffer kept by the driver and copied into the
 * generator's mapping in one piece. A frame already held (the same frame again outside video mode) is neither
 * read from the file again nor packed again.
 */

#include "ci/ci_api_structs.h"
#include "ci/ci_converter.h"
#include "ci/ci_datagen.h"
#include "sensorapi/sensorapi.h"
#include "sim_image.h"

#ifdef __cplusplus
extern "C" {
#endif

#define IIFDG_SENSOR_NAME "DOR Idazida"
#define IIFDG_LOG_TAG "IntDG_SENSOR"
/** The fixed frame rate of the one mode. */
#define IIFDG_FRAME_RATE 11.0

/** The driver record; the handle is its address. */
typedef struct IIF_DGCAM_SENSOR {
    SENSOR_FUNCS sFuncs;
    CI_CONNECTION *pConnection;     /* not owned */
    CI_DATAGEN *pDatagen;           /* created at enable, destroyed at disable */
    CI_CONVERTER sConverter;        /* configured at every enable, cleared at destruction */
    QOR_UINT8 ui8Mode;              /* always 0 */
    QOR_UINT32 ui32CurrentExposure; /* microseconds; 0 until set or first read */
    char *pszFilename;              /* owned copy; null when no file is loaded */
    sSimImageIn sImage;             /* reader of the source file */
    QOR_UINT32 ui32FrameCount;      /* frames played before the frame number wraps */
    QOR_UINT32 ui32FrameNoToLoad;   /* next frame to insert */
    QOR_UINT32 ui32BuffersCount;    /* generator buffers allocated at enable */
    QOR_BOOL8 bIsVideo;             /* advance to the next frame after every insertion */
    QOR_UINT8 ui8IIFDG;             /* hardware data generator */
    QOR_UINT8 ui8Gasket;            /* imager port fed */
    QOR_UINT16 ui16HBlanking;
    QOR_UINT16 ui16VBlanking;
    QOR_BOOL8 bPreload;

    /* The packing buffer, kept from the first insertion to disable. */
    QOR_UINT8 *pPacked;
    QOR_UINT32 ui32PackedSize;
    /* Frame of the file held in the reader's buffer (-1: none), and whether pPacked holds it converted with the
     * description sPackedFrame. */
    QOR_INT32 i32LoadedFrame;
    QOR_BOOL8 bPackedValid;
    CI_DG_FRAME sPackedFrame;
} IIF_DGCAM_SENSOR;

/* Driver operations (also reached through the SENSOR_FUNCS table). */
QOR_RESULT IIFDG_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT IIFDG_GetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nIndex, SENSOR_MODE *psModes);
QOR_RESULT IIFDG_GetState(SENSOR_HANDLE hHandle, SENSOR_STATUS *psStatus);
QOR_RESULT IIFDG_SetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping);
QOR_RESULT IIFDG_Enable(SENSOR_HANDLE hHandle);
QOR_RESULT IIFDG_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT IIFDG_Destroy(SENSOR_HANDLE hHandle);
QOR_RESULT IIFDG_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT IIFDG_GetGainRange(SENSOR_HANDLE hHandle, double *pflMin, double *pflMax, QOR_UINT8 *puiContexts);
QOR_RESULT IIFDG_GetCurrentGain(SENSOR_HANDLE hHandle, double *pflCurrent, QOR_UINT8 ui8Context);
QOR_RESULT IIFDG_GetExposureRange(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Min, QOR_UINT32 *pui32Max,
                                  QOR_UINT8 *pui8Contexts);
QOR_RESULT IIFDG_GetExposure(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Exposure, QOR_UINT8 ui8Context);
QOR_RESULT IIFDG_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
QOR_RESULT IIFDG_Insert(SENSOR_HANDLE hHandle);
QOR_RESULT IIFDG_WaitProcessed(SENSOR_HANDLE hHandle);

/* Extra settings. A NULL handle logs "NULL handle given" and gives 17; the setters marked so are refused with
 * 26 while the sensor is running. */
QOR_RESULT IIFDG_ExtendedSetConnection(SENSOR_HANDLE hHandle, CI_CONNECTION *pConnection);
QOR_RESULT IIFDG_ExtendedSetSourceFile(SENSOR_HANDLE hHandle, const char *filename); /* refused while running */
QOR_RESULT IIFDG_ExtendedGetSourceFile(SENSOR_HANDLE hHandle, const char **filename);
QOR_RESULT IIFDG_ExtendedSetGasket(SENSOR_HANDLE hHandle, QOR_UINT8 ui8Gasket); /* refused while running */
QOR_RESULT IIFDG_ExtendedGetGasket(SENSOR_HANDLE hHandle, QOR_UINT8 *pGasket);
QOR_RESULT IIFDG_ExtendedSetDatagen(SENSOR_HANDLE hHandle, QOR_UINT8 ui8Context); /* refused while running */
QOR_RESULT IIFDG_ExtendedGetDatagen(SENSOR_HANDLE hHandle, QOR_UINT8 *pContext);
QOR_RESULT IIFDG_ExtendedSetFrameCap(SENSOR_HANDLE hHandle, QOR_UINT32 ui32FrameCap);
QOR_RESULT IIFDG_ExtendedGetFrameCap(SENSOR_HANDLE hHandle, QOR_UINT32 *pFrameCap);
/** The index of the next frame to insert (17 for a NULL handle). */
QOR_UINT32 IIFDG_ExtendedGetFrameNO(SENSOR_HANDLE hHandle);
/** The frame count of the loaded file, 0 when none (17 for a NULL handle). */
QOR_UINT32 IIFDG_ExtendedGetFrameCount(SENSOR_HANDLE hHandle);
QOR_RESULT IIFDG_ExtendedSetIsVideo(SENSOR_HANDLE hHandle, QOR_BOOL8 bIsVideo);
QOR_RESULT IIFDG_ExtendedGetIsVideo(SENSOR_HANDLE hHandle, QOR_BOOL8 *pIsVideo);
QOR_RESULT IIFDG_ExtendedSetNbBuffers(SENSOR_HANDLE hHandle, QOR_UINT32 ui32NBuffers); /* refused while running */
QOR_RESULT IIFDG_ExtendedGetNbBuffers(SENSOR_HANDLE hHandle, QOR_UINT32 *pNBuffers);
QOR_RESULT IIFDG_ExtendedSetBlanking(SENSOR_HANDLE hHandle, QOR_UINT32 ui32HBlanking, QOR_UINT32 ui32VBlanking);
QOR_RESULT IIFDG_ExtendedGetBlanking(SENSOR_HANDLE hHandle, QOR_UINT32 *pHBlanking, QOR_UINT32 *pVBlanking);
QOR_RESULT IIFDG_ExtendedSetPreload(SENSOR_HANDLE hHandle, QOR_BOOL8 bPreload); /* refused while running */
QOR_RESULT IIFDG_ExtendedGetPreload(SENSOR_HANDLE hHandle, QOR_BOOL8 *pbPreload);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_IIFDATAGEN_H */
