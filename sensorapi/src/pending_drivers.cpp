/*
 * Registry entries whose driver is not part of the build yet. Each create function refuses with
 * QOR_RES_NOT_SUPPORTED and says which sensor it is, so a caller that picks one by name gets a clear
 * answer instead of a missing symbol. A driver that joins the build removes its line here and
 * defines the same create function in its own source file.
 */

#include "norvacommon/userlog.h"
#include "sensors/sensor_drivers.h"

namespace {

QOR_RESULT refuseCreate(const char *function, const char *sensorName, SENSOR_HANDLE *phHandle) {
    if (phHandle) {
        *phHandle = nullptr;
    }
    LOG_Error(function, __LINE__, SENSOR_LOG_TAG, "sensor %s is not available in this build\n", sensorName);
    return QOR_RES_NOT_SUPPORTED;
}

} // namespace

#define NORVA_PENDING_SENSOR(createFunction, sensorName)                                                               \
    extern "C" QOR_RESULT createFunction(SENSOR_HANDLE *phHandle) {                                                    \
        return refuseCreate(__func__, sensorName, phHandle);                                                           \
    }

NORVA_PENDING_SENSOR(OV2718_Create_0, "OV2718_0")
NORVA_PENDING_SENSOR(OV2718_Create_1, "OV2718_1")
NORVA_PENDING_SENSOR(IMX415_Create, "IMX415")
NORVA_PENDING_SENSOR(IMX335_Create, "IMX335")
NORVA_PENDING_SENSOR(IMX327_Create, "IMX327")
NORVA_PENDING_SENSOR(GC8034_Create, "GC8034")
NORVA_PENDING_SENSOR(IMX662_Create, "IMX662")
