#ifndef NORVA_SENSORS_OV4689_H
#define NORVA_SENSORS_OV4689_H

/* The OV4689 driver (2688 x 1520 MIPI sensor) on the driver framework. Log tag "OV4689_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OV4689_LOG_TAG "OV4689_SENSOR"

QOR_RESULT OV4689_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor);
/** "OV4689_0" or "OV4689_1" for the two board positions, NULL otherwise. */
const char *OV4689_SENSOR_INFO_NAME(sensor_num num);

QOR_RESULT OV4689_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT OV4689_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT OV4689_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
QOR_RESULT OV4689_GetFocusRange(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Min, QOR_UINT16 *pui16Max);
QOR_RESULT OV4689_GetCurrentFocus(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Current);
QOR_RESULT OV4689_SetFocus(SENSOR_HANDLE hHandle, QOR_UINT16 ui16Focus);

void OV4689_ApplyConfig(CAM_STRUCT *psCam);
void OV4689_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT OV4689_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT OV4689_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void OV4689_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);

/** The gain register code of a gain (1.0 to 16.0 in sixteenths, four octaves). */
QOR_UINT16 OV4689_GainCode(double flGain);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_OV4689_H */
