#ifndef NORVA_SENSORS_OV2718_H
#define NORVA_SENSORS_OV2718_H

/* The OV2718 driver (1920 x 1080 MIPI sensor) on the driver framework. Log tag "OV2718_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OV2718_LOG_TAG "OV2718_SENSOR"

QOR_RESULT OV2718_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor);
/** "OV2718_0" or "OV2718_1" for the two board positions, NULL otherwise. */
const char *OV2718_SENSOR_INFO_NAME(sensor_num num);

QOR_RESULT OV2718_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT OV2718_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT OV2718_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void OV2718_ApplyConfig(CAM_STRUCT *psCam);
void OV2718_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT OV2718_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT OV2718_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void OV2718_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_OV2718_H */
