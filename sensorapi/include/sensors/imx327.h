#ifndef NORVA_SENSORS_IMX327_H
#define NORVA_SENSORS_IMX327_H

/* The IMX327 driver (1920 x 1080 MIPI sensor, standby-controlled) on the driver framework. Log tag "IMX327_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define IMX327_LOG_TAG "IMX327_SENSOR"

QOR_RESULT IMX327_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT IMX327_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT IMX327_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void IMX327_ApplyConfig(CAM_STRUCT *psCam);
void IMX327_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT IMX327_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT IMX327_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void IMX327_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);
double IMX327_GetActualGain(const QOR_UINT8 *regs, const SENSOR_MODE *mode);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_IMX327_H */
