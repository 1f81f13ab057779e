#ifndef NORVA_SENSORS_GC5035_H
#define NORVA_SENSORS_GC5035_H

/* The GC5035 driver (2592 x 1944 MIPI sensor) on the driver framework. Log tag "GC5035_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define GC5035_LOG_TAG "GC5035_SENSOR"

QOR_RESULT GC5035_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT GC5035_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT GC5035_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void GC5035_ApplyConfig(CAM_STRUCT *psCam);
void GC5035_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT GC5035_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT GC5035_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void GC5035_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_GC5035_H */
