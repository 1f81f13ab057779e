#ifndef NORVA_SENSORS_AR330_H
#define NORVA_SENSORS_AR330_H

/* The AR330 driver (10-bit parallel sensor, fifteen fixed modes and a special mode 255 loaded from a file),
 * stand-alone: its own record, lists and I2C access. Log tag "AR330_SENSOR". */

#include "sensorapi/sensorapi.h"

#ifdef __cplusplus
extern "C" {
#endif

#define AR330_LOG_TAG "AR330_SENSOR"
/** The special mode, whose registers come from a file. */
#define AR330_SPECIAL_MODE 255
/** The most register pairs a special-register file may hold. */
#define AR330_MAX_SPECIAL_REGISTERS 4096

QOR_RESULT AR330_Create(SENSOR_HANDLE *phHandle);

/**
 * Loads the registers of the special mode from a text file of "%x %x" pairs (address, value). The file is
 * untrusted: at most AR330_MAX_SPECIAL_REGISTERS pairs, no address 0xFFFF; a refused file keeps the previous
 * registers. 0, 17 (not initialised), 11 (cannot open, bad address), 3 (fewer than 2 pairs or too many),
 * 22 (the registers describe no mode).
 */
QOR_RESULT AR330_LoadSpecialModeRegisters(SENSOR_HANDLE hHandle, const char *filename);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_AR330_H */
