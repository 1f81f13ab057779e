#ifndef NORVA_SENSORS_IMX219_H
#define NORVA_SENSORS_IMX219_H

/* The IMX219 driver (3280 x 2464 MIPI sensor) on the driver framework. Log tag "IMX219_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define IMX219_LOG_TAG "IMX219_SENSOR"

QOR_RESULT IMX219_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor);
/** "IMX219_0" or "IMX219_1" for the two board positions, NULL otherwise. */
const char *IMX219_SENSOR_INFO_NAME(sensor_num num);

QOR_RESULT IMX219_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT IMX219_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT IMX219_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void IMX219_ApplyConfig(CAM_STRUCT *psCam);
void IMX219_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT IMX219_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT IMX219_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void IMX219_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_IMX219_H */
