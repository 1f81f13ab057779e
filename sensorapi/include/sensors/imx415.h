#ifndef NORVA_SENSORS_IMX415_H
#define NORVA_SENSORS_IMX415_H

/* The IMX415 driver (3864 x 2192 MIPI sensor, standby-controlled) on the driver framework. Log tag "IMX415_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define IMX415_LOG_TAG "IMX415_SENSOR"

QOR_RESULT IMX415_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT IMX415_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT IMX415_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void IMX415_ApplyConfig(CAM_STRUCT *psCam);
void IMX415_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT IMX415_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT IMX415_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void IMX415_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);
double IMX415_GetActualGain(const QOR_UINT8 *regs, const SENSOR_MODE *mode);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_IMX415_H */
