#ifndef NORVA_SENSORS_OV4688_H
#define NORVA_SENSORS_OV4688_H

/* The OV4688 driver (1280 x 720, one MIPI lane), stand-alone: its own record, register list and I2C access. Log tag
 * "OV4688_SENSOR". */

#include "sensorapi/sensorapi.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OV4688_LOG_TAG "OV4688_SENSOR"

QOR_RESULT OV4688_Create(SENSOR_HANDLE *phHandle);

/**
 * Fills the exposure and gain values of the 14-entry group write (3 bytes per entry: entries 1, 2, 3, 8, 9 and 10):
 * the gain code of the gain and the exposure in whole rows of ui32ExposureMin microseconds.
 */
void OV4688_ComputeExposureGain(QOR_UINT32 ui32Exposure, double flGain, QOR_UINT32 ui32ExposureMin,
                                QOR_UINT8 *expGainRegs);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_OV4688_H */
