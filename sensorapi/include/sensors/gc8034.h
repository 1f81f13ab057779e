#ifndef NORVA_SENSORS_GC8034_H
#define NORVA_SENSORS_GC8034_H

/* The GC8034 driver (3264 x 2448 MIPI sensor with a lens actuator at I2C address 0x0C) on the driver framework.
 * Log tag "GC8034_SENSOR". */

#include "sensorapi/sensor_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define GC8034_LOG_TAG "GC8034_SENSOR"

QOR_RESULT GC8034_Disable(SENSOR_HANDLE hHandle);
QOR_RESULT GC8034_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo);
QOR_RESULT GC8034_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context);
void GC8034_ApplyConfig(CAM_STRUCT *psCam);
void GC8034_ApplyMode(CAM_STRUCT *psCam);
QOR_RESULT GC8034_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
QOR_RESULT GC8034_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
void GC8034_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);
QOR_RESULT GC8034_GetFocusRange(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Min, QOR_UINT16 *pui16Max);
QOR_RESULT GC8034_GetCurrentFocus(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Current);
QOR_RESULT GC8034_SetFocus(SENSOR_HANDLE hHandle, QOR_UINT16 ui16Focus);
/**
 * The actuator code of a focus distance: linear in 1/distance between the calibration points (distances ascending,
 * codes descending), the first and last code outside them.
 */
QOR_UINT16 GC8034_CalculateFocus(const QOR_UINT16 *pui16DACDist, const QOR_UINT16 *pui16DACValues, QOR_UINT8 ui8Entries,
                                 QOR_UINT16 ui16Requested);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_GC8034_H */
