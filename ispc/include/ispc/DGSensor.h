#ifndef ISPC_DGSENSOR_H
#define ISPC_DGSENSOR_H

#include <string>

#include "ispc/Parameter.h"
#include "ispc/Sensor.h"
#include "qor_errors.h"
#include "qor_types.h"

namespace ISPC {

/**
 * The sensor wrapper of the "DOR Idazida" pseudo-sensor: the internal data generator plays the frames of an
 * image file into a gasket, one frame per insert(). Constructed SENSOR_INITIALIZED with the file, the gasket
 * and video mode set, or SENSOR_ERROR. Log tag "ISPC_SENSOR".
 */
class DGSensor : public Sensor {
public:
    /** Creates the pseudo-sensor's driver and points it at the file and gasket (only the internal generator). */
    DGSensor(const std::string &filename, QOR_UINT8 gasketNumber, bool isInternal);
    /** Disables a streaming driver first. */
    ~DGSensor() override;

    /**
     * Gain, well depth, read noise and frame rate from the list: "SENSOR_GAIN", "SENSOR_WELL_DEPTH",
     * "SENSOR_READ_NOISE", "SENSOR_FRAME_RATE", or their deprecated forms "DNS_ISO_GAIN", "DNS_WELL_DEPTH",
     * "DNS_READ_NOISE", "FLD_FRAME_RATE", which win (with a warning) when present. Returns 0.
     */
    QOR_RESULT load(const ParameterList &parameters) override;

    /** The internal data generator is used (an external generator is not supported). */
    bool isInternal;
};

} // namespace ISPC

#endif /* ISPC_DGSENSOR_H */
