#ifndef NORVA_SENSORS_IMX477_H
#define NORVA_SENSORS_IMX477_H

/* The IMX477 driver (4056 x 3040 MIPI sensor) on the driver framework. Log tag "IMX477_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define IMX477_LOG_TAG "IMX477_SENSOR"

QOR_RESULT IMX477_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor);
/** "IMX477_0" or "IMX477_1" for the two board positions, NULL otherwise. */
const char *IMX477_SENSOR_INFO_NAME(sensor_num num);

QOR_RESULT IMX477_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT IMX477_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT IMX477_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void IMX477_ApplyConfig(CAM_STRUCT *psCam);
void IMX477_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT IMX477_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT IMX477_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void IMX477_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_IMX477_H */
