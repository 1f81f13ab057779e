#ifndef NORVA_SENSORS_SENSOR_DRIVERS_H
#define NORVA_SENSORS_SENSOR_DRIVERS_H

/*
 * The create functions of the sensor registry, one per registry entry. A create function builds
 * one driver instance, whose record begins with its SENSOR_FUNCS, and stores its address in
 * *phHandle; on failure it releases what it took and leaves *phHandle NULL.
 */

#include "sensorapi/sensorapi.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef QOR_RESULT (*SENSOR_CREATE_FUNC)(SENSOR_HANDLE *phHandle);

QOR_RESULT IIFDG_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT AR330_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT OV4688_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT OV4689_Create_0(SENSOR_HANDLE *phHandle);
QOR_RESULT OV4689_Create_1(SENSOR_HANDLE *phHandle);
QOR_RESULT OV2718_Create_0(SENSOR_HANDLE *phHandle);
QOR_RESULT OV2718_Create_1(SENSOR_HANDLE *phHandle);
QOR_RESULT OV10823_Create_0(SENSOR_HANDLE *phHandle);
QOR_RESULT OV10823_Create_1(SENSOR_HANDLE *phHandle);
QOR_RESULT OV5647_Create_0(SENSOR_HANDLE *phHandle);
QOR_RESULT OV5647_Create_1(SENSOR_HANDLE *phHandle);
QOR_RESULT IMX415_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT OV5695_Create_0(SENSOR_HANDLE *phHandle);
QOR_RESULT OV5695_Create_1(SENSOR_HANDLE *phHandle);
QOR_RESULT OV5695_Create_2(SENSOR_HANDLE *phHandle);
QOR_RESULT S5K3P9_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT IMX219_Create_0(SENSOR_HANDLE *phHandle);
QOR_RESULT IMX219_Create_1(SENSOR_HANDLE *phHandle);
QOR_RESULT IMX335_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT IMX327_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT ZYNQ_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT GC8034_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT GC5035_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT IMX662_Create(SENSOR_HANDLE *phHandle);
QOR_RESULT IMX477_Create_0(SENSOR_HANDLE *phHandle);
QOR_RESULT IMX477_Create_1(SENSOR_HANDLE *phHandle);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORS_SENSOR_DRIVERS_H */
