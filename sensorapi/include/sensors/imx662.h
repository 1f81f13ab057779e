#ifndef NORVA_SENSORS_IMX662_H
#define NORVA_SENSORS_IMX662_H

/* The IMX662 driver (1920 x 1080 MIPI sensor, standby-controlled) on the driver framework. Log tag "IMX662_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define IMX662_LOG_TAG "IMX662_SENSOR"

QOR_RESULT IMX662_SetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping);
QOR_RESULT IMX662_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT IMX662_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT IMX662_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void IMX662_ApplyConfig(CAM_STRUCT *psCam);
void IMX662_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT IMX662_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT IMX662_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void IMX662_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);
double IMX662_GetActualGain(const QOR_UINT8 *regs, const SENSOR_MODE *mode);
/** The extra parameters: {"expGain", NULL}; "expGain" (0 to 5, 2 after creation) is register 0x3081. */
const char **IMX662_GetSupportedExtraParams(SENSOR_HANDLE hHandle);
QOR_RESULT IMX662_SetExtraParam(SENSOR_HANDLE hHandle, QOR_UINT8 ui8Index, QOR_UINT8 ui8Value);
QOR_RESULT IMX662_GetExtraParam(SENSOR_HANDLE hHandle, QOR_UINT8 ui8Index, QOR_UINT8 *pui8Value);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_IMX662_H */
