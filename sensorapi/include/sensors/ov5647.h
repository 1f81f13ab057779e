#ifndef NORVA_SENSORS_OV5647_H
#define NORVA_SENSORS_OV5647_H

/* The OV5647 driver (2592 x 1944 MIPI sensor) on the driver framework. Log tag "OV5647_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OV5647_LOG_TAG "OV5647_SENSOR"

QOR_RESULT OV5647_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor);
/** "OV5647_0" or "OV5647_1" for the two board positions, NULL otherwise. */
const char *OV5647_SENSOR_INFO_NAME(sensor_num num);

QOR_RESULT OV5647_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT OV5647_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT OV5647_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void OV5647_ApplyConfig(CAM_STRUCT *psCam);
void OV5647_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT OV5647_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT OV5647_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void OV5647_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_OV5647_H */
