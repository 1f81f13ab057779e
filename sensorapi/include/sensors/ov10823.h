#ifndef NORVA_SENSORS_OV10823_H
#define NORVA_SENSORS_OV10823_H

/* The OV10823 driver (4336 x 2440 MIPI sensor) on the driver framework. Log tag "OV10823_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OV10823_LOG_TAG "OV10823_SENSOR"

QOR_RESULT OV10823_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor);
/** "OV10823_0" or "OV10823_1" for the two board positions, NULL otherwise. */
const char *OV10823_SENSOR_INFO_NAME(sensor_num num);

QOR_RESULT OV10823_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT OV10823_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT OV10823_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void OV10823_ApplyConfig(CAM_STRUCT *psCam);
void OV10823_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT OV10823_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT OV10823_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void OV10823_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_OV10823_H */
