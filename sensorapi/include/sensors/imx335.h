#ifndef NORVA_SENSORS_IMX335_H
#define NORVA_SENSORS_IMX335_H

/* The IMX335 driver (2592 x 1944 MIPI sensor, standby-controlled) on the driver framework. Log tag "IMX335_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define IMX335_LOG_TAG "IMX335_SENSOR"

QOR_RESULT IMX335_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT IMX335_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT IMX335_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void IMX335_ApplyConfig(CAM_STRUCT *psCam);
void IMX335_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT IMX335_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT IMX335_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void IMX335_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);
double IMX335_GetActualGain(const QOR_UINT8 *regs, const SENSOR_MODE *mode);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_IMX335_H */
