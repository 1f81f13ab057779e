#ifndef NORVA_SENSOR_REGISTRY_INTERNAL_H
#define NORVA_SENSOR_REGISTRY_INTERNAL_H

/* The mode listing over any registry, so that it can also run over a registry of test drivers. */

#include <stdio.h>

#include "sensors/sensor_drivers.h"

namespace norva_sensor {

/** Parallel tables of names and create functions, count entries each. */
struct RegistryView {
    const char *const *names;
    const SENSOR_CREATE_FUNC *create;
    unsigned count;
};

/** The registry behind Sensor_Initialise. */
RegistryView BuiltinRegistry();

/** Sensor_GetSupportedModes over the given registry. */
SENSOR_SUPPORTED **ListSupportedModes(const RegistryView &registry, QOR_BOOL8 bValidOnly);

/** Prints a listing as Sensor_PrintAllModes does; a NULL listing gives QOR_RES_DEVICE_FAILED. */
QOR_RESULT PrintModes(FILE *f, SENSOR_SUPPORTED *const *listing);

} // namespace norva_sensor

#endif /* NORVA_SENSOR_REGISTRY_INTERNAL_H */
