#ifndef NORVA_SENSORS_S5K3P9_H
#define NORVA_SENSORS_S5K3P9_H

/* The S5K3P9 driver (4-lane MIPI, seven modes) with its focus actuator, stand-alone: its own record, lists, power
 * sequence and I2C access. Log tag "S5K3P9_SENSOR". */

#include "sensorapi/sensorapi.h"

#ifdef __cplusplus
extern "C" {
#endif

#define S5K3P9_LOG_TAG "S5K3P9_SENSOR"

QOR_RESULT S5K3P9_Create(SENSOR_HANDLE *phHandle);

/**
 * The actuator code of a focus distance: the first code at or below the first distance, the last at or above the
 * last, in between linear in 1/distance between the two neighbouring points (truncated).
 */
QOR_UINT16 S5K3P9_CalculateFocus(const QOR_UINT16 *pui16DACDist, const QOR_UINT16 *pui16DACValues, QOR_UINT8 ui8Entries,
                                 QOR_UINT16 ui16Requested);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_S5K3P9_H */
