#include "test_sensor.h"

namespace ISPC {

SensorFacts readSensorFacts(const Sensor &sensor) { return sensor.facts; }

} // namespace ISPC
