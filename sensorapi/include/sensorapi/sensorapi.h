#ifndef NORVA_SENSORAPI_H
#define NORVA_SENSORAPI_H

/*
 * The sensor API: one table of operations that every sensor driver (real or data generator) fills,
 * plain dispatchers that check their arguments and call the driver, and the fixed registry that
 * turns a sensor number into a driver instance. Log tag "SENSOR".
 */

#include <stdio.h>

#include "ci/ci_api_structs.h"
#include "norvacommon/pixel_transform.h"
#include "qor_errors.h"
#include "qor_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SENSOR_LOG_TAG "SENSOR"

/** Longest name or version text of a sensor, terminator included. */
#define SENSOR_INFO_NAME_MAX 64
/** Modes one sensor can hold in the mode listing. */
#define SENSOR_MAX_LISTED_MODES 16
/** A mode number is (configuration << SENSOR_MODE_CONFIG_SHIFT) + index within the configuration. */
#define SENSOR_MODE_CONFIG_SHIFT 4
#define SENSOR_MODE_INDEX_MASK 0x0F
#define SENSOR_MODE_NUMBER(config, index)                                                                              \
    ((QOR_UINT16)(((config) << SENSOR_MODE_CONFIG_SHIFT) + ((index)&SENSOR_MODE_INDEX_MASK)))
#define SENSOR_MODE_CONFIG(mode) ((mode) >> SENSOR_MODE_CONFIG_SHIFT)
#define SENSOR_MODE_INDEX(mode) ((mode)&SENSOR_MODE_INDEX_MASK)

typedef enum _Sensor_State_ {
    SENSOR_STATE_UNINITIALISED = 0,
    SENSOR_STATE_IDLE = 1,
    SENSOR_STATE_RUNNING = 2,
} SENSOR_STATE;

/** Flipping bits. */
enum _Sensor_Flipping_ {
    SENSOR_FLIP_NONE = 0,
    SENSOR_FLIP_HORIZONTAL = 1,
    SENSOR_FLIP_VERTICAL = 2,
    SENSOR_FLIP_BOTH = 3,
};

/** One operating mode as the driver describes it. */
typedef struct _Sensor_Mode_ {
    QOR_UINT8 ui8BitDepth;
    QOR_UINT16 ui16Width;
    QOR_UINT16 ui16Height;
    double flTrow;      /**< line period, microseconds */
    double flFrameRate; /**< frames per second */
    double flPixelRate; /**< as the driver computes it */
    QOR_UINT16 ui16HorizontalTotal;
    QOR_UINT16 ui16VerticalTotal;
    QOR_UINT8 ui8SupportFlipping; /**< mask of SENSOR_FLIP_* bits */
    QOR_UINT32 ui32ExposureMin;   /**< microseconds */
    QOR_UINT32 ui32ExposureMax;   /**< microseconds */
    QOR_UINT8 ui8MipiLanes;
    QOR_UINT8 ui8MipiHsFreqRange;
    QOR_UINT16 ui8MipiOscFreq; /**< 16 bits wide despite the prefix */
    HDR_MODES eHDRMode;
    QOR_BOOL8 bLongExpFirst;
    QOR_UINT32 ui32LineGap;
    QOR_BOOL8 bValidFrequency; /**< the mode works with the board's reference clock */
    CG_MODES eConvGainMode;
} SENSOR_MODE;

typedef struct _Sensor_Status_ {
    QOR_UINT16 ui16CurrentMode;
    QOR_UINT8 ui8Flipping;
    SENSOR_STATE eState;
} SENSOR_STATUS;

typedef struct _Sensor_Info_ {
    MOSAICType eBayerOriginal;
    MOSAICType eBayerEnabled;
    char pszSensorName[SENSOR_INFO_NAME_MAX];
    char pszSensorVersion[SENSOR_INFO_NAME_MAX];
    double fNumber;
    double fPixelSize; /**< micrometres */
    QOR_UINT16 ui16FocalLength;
    QOR_UINT32 ui32WellDepth;
    double flReadNoise;
    QOR_UINT8 ui8Imager;
    QOR_BOOL bBackFacing;
    SENSOR_STATUS sStatus; /**< filled by Sensor_GetInfo */
    SENSOR_MODE sMode;     /**< current mode, filled by Sensor_GetInfo */
    QOR_UINT8 ui8NumConfig;
    const QOR_UINT8 *pNumModes; /**< mode count per configuration, the driver's static array */
} SENSOR_INFO;

typedef struct _Mode_Supported_ {
    QOR_UINT8 ui8ModeNum;
    QOR_UINT8 ui8BitDepth;
    QOR_UINT16 ui16Width;
    QOR_UINT16 ui16Height;
    double flFrameRate;
    QOR_UINT8 ui8MipiLanes;
    HDR_MODES eHDRMode;
    CG_MODES eConvGainMode;
} MODE_SUPPORTED;

typedef struct _Sensor_Supported_ {
    char pszSensorName[SENSOR_INFO_NAME_MAX];
    QOR_UINT8 ui8NumSupportedModes;
    MODE_SUPPORTED supportedModes[SENSOR_MAX_LISTED_MODES];
} SENSOR_SUPPORTED;

typedef struct _Sensor_Functions_ SENSOR_FUNCS;
/** The address of a driver instance, whose record begins with its SENSOR_FUNCS. */
typedef SENSOR_FUNCS *SENSOR_HANDLE;

/** The operation table at the start of every driver record, in slot order. A slot may be NULL. */
struct _Sensor_Functions_ {
    QOR_RESULT (*GetMode)(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, SENSOR_MODE *psModes);
    QOR_RESULT (*GetState)(SENSOR_HANDLE hHandle, SENSOR_STATUS *psStatus);
    QOR_RESULT (*SetMode)(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping);
    QOR_RESULT (*Enable)(SENSOR_HANDLE hHandle);
    QOR_RESULT (*Disable)(SENSOR_HANDLE hHandle);
    QOR_RESULT (*Destroy)(SENSOR_HANDLE hHandle);
    QOR_RESULT (*GetInfo)(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
    QOR_RESULT (*GetGainRange)(SENSOR_HANDLE hHandle, double *pflMin, double *pflMax, QOR_UINT8 *puiContexts);
    QOR_RESULT (*GetCurrentGain)(SENSOR_HANDLE hHandle, double *pflCurrent, QOR_UINT8 ui8Context);
    // clang-format 14 splits a long function-pointer member before its parameter list; keep these two as written.
    // clang-format off
    QOR_RESULT (*GetExposureRange)(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Min, QOR_UINT32 *pui32Max,
                                   QOR_UINT8 *pui8Contexts);
    QOR_RESULT (*GetExposure)(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Exposure, QOR_UINT8 ui8Context);
    QOR_RESULT (*SetExposureGain)(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
    QOR_RESULT (*GetFocusRange)(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Min, QOR_UINT16 *pui16Max);
    QOR_RESULT (*GetCurrentFocus)(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Current);
    QOR_RESULT (*SetFocus)(SENSOR_HANDLE hHandle, QOR_UINT16 ui16Focus);
    QOR_RESULT (*ConfigureFlash)(SENSOR_HANDLE hHandle, QOR_BOOL bAlwaysOn, QOR_INT16 i16FrameDelay,
                                 QOR_INT16 i16Frames, QOR_UINT16 ui16FlashPulseWidth);
    // clang-format on
    QOR_RESULT (*Insert)(SENSOR_HANDLE hHandle);
    QOR_RESULT (*WaitProcessed)(SENSOR_HANDLE hHandle);
    const char **(*GetSupportedExtraParams)(SENSOR_HANDLE hHandle);
    QOR_RESULT (*SetExtraParam)(SENSOR_HANDLE hHandle, QOR_UINT8 ui8Index, QOR_UINT8 ui8Value);
    QOR_RESULT (*GetExtraParam)(SENSOR_HANDLE hHandle, QOR_UINT8 ui8Index, QOR_UINT8 *pui8Value);
    QOR_RESULT (*SetConnection)(SENSOR_HANDLE hHandle, CI_CONNECTION *pConn);
};

/* Registry and mode listing */

/** The registry names followed by NULL; static, never freed. The index of a name is its sensor number. */
const char **Sensor_ListAll(void);
/** The number of registry entries. */
unsigned Sensor_NumberSensors(void);
/** Creates a driver instance through registry entry nSensor; *phHandle is NULL unless it succeeds. */
QOR_RESULT Sensor_Initialise(QOR_UINT16 nSensor, SENSOR_HANDLE *phHandle);
/** Probes every real driver and lists its modes: a NULL-terminated heap array, or NULL. */
SENSOR_SUPPORTED **Sensor_GetSupportedModes(QOR_BOOL8 bValidOnly);
/** Frees a listing of Sensor_GetSupportedModes; NULL does nothing. */
void Sensor_FreeSupportedModes(SENSOR_SUPPORTED **sensors);
/** Prints the mode listing to f: 0, or QOR_RES_DEVICE_FAILED when nothing could be listed. */
QOR_RESULT Sensor_PrintAllModes(FILE *f, QOR_BOOL8 bValidOnly);

/* Dispatchers: the handle is checked first, then pointer arguments, then the driver's slot. */

QOR_RESULT Sensor_GetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nIndex, SENSOR_MODE *psModes);
QOR_RESULT Sensor_GetState(SENSOR_HANDLE hHandle, SENSOR_STATUS *psStatus);
QOR_RESULT Sensor_SetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping);
QOR_RESULT Sensor_Enable(SENSOR_HANDLE hHandle);
QOR_RESULT Sensor_Disable(SENSOR_HANDLE hHandle);
/** Ends the instance; the handle is invalid afterwards. */
QOR_RESULT Sensor_Destroy(SENSOR_HANDLE hHandle);
/** Fills the static facts, the current state and the current mode. */
QOR_RESULT Sensor_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT Sensor_GetGainRange(SENSOR_HANDLE hHandle, double *pflMin, double *pflMax, QOR_UINT8 *puiContexts);
QOR_RESULT Sensor_GetCurrentGain(SENSOR_HANDLE hHandle, double *pflCurrent, QOR_UINT8 ui8Context);
QOR_RESULT Sensor_GetExposureRange(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Min, QOR_UINT32 *pui32Max,
                                   QOR_UINT8 *pui8Contexts);
QOR_RESULT Sensor_GetExposure(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Exposure, QOR_UINT8 ui8Context);
/** Clamps exposure and gain into the driver's ranges (with a warning) before programming them. */
QOR_RESULT Sensor_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
QOR_RESULT Sensor_GetFocusRange(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Min, QOR_UINT16 *pui16Max);
QOR_RESULT Sensor_GetCurrentFocus(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Current);
/** Clamps the position into the driver's focus range (with a warning) before moving the lens. */
QOR_RESULT Sensor_SetFocus(SENSOR_HANDLE hHandle, QOR_UINT16 ui16Focus);
QOR_RESULT Sensor_ConfigureFlash(SENSOR_HANDLE hHandle, QOR_BOOL bAlwaysOn, QOR_INT16 i16FrameDelay,
                                 QOR_INT16 i16Frames, QOR_UINT16 ui16FlashPulseWidth);
QOR_RESULT Sensor_Insert(SENSOR_HANDLE hHandle);
QOR_RESULT Sensor_WaitProcessed(SENSOR_HANDLE hHandle);
/** The driver's NULL-terminated list of extra parameter names (static), or an empty list. */
const char **Sensor_GetSupportedExtraParams(SENSOR_HANDLE hHandle);
/** Sets the driver's extra parameter called sName (exact match). */
QOR_RESULT Sensor_SetExtraParam(SENSOR_HANDLE hHandle, const char *sName, QOR_UINT8 ui8Value);
QOR_RESULT Sensor_GetExtraParam(SENSOR_HANDLE hHandle, const char *sName, QOR_UINT8 *pui8Value);
/** Hands the driver connection to the driver; a driver that takes none succeeds. */
QOR_RESULT Sensor_SetPhyConnection(SENSOR_HANDLE hHandle, CI_CONNECTION *pConn);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORAPI_H */
