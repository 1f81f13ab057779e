#ifndef NORVA_SENSORS_OV5695_H
#define NORVA_SENSORS_OV5695_H

/* The OV5695 driver (2592 x 1944 MIPI sensor) on the driver framework. Log tag "OV5695_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OV5695_LOG_TAG "OV5695_SENSOR"

QOR_RESULT OV5695_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor);
/** "OV5695_0", "OV5695_1" or "OV5695_2" for the three board positions, NULL otherwise. */
const char *OV5695_SENSOR_INFO_NAME(sensor_num num);

QOR_RESULT OV5695_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT OV5695_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT OV5695_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void OV5695_ApplyConfig(CAM_STRUCT *psCam);
void OV5695_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT OV5695_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT OV5695_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void OV5695_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_OV5695_H */
