#ifndef ISPC_DGCAMERA_H
#define ISPC_DGCAMERA_H

#include <string>

#include "ci/ci_capture.h"
#include "ispc/Camera.h"
#include "ispc/DGSensor.h"
#include "ispc/Parameter.h"
#include "ispc/Shot.h"
#include "qor_errors.h"

namespace ISPC {

/**
 * A camera fed by the internal data generator: each enqueued shot inserts the next frame of the file, each
 * acquired shot waits until that frame was processed, and since a file has no exposure the programmed exposure
 * is imitated by bending the pipeline's raw look-up table (programExposure). Log tag "ISPC_DGCAMERA".
 *
 * A camera that borrows the sensor of another data-generator camera (a second context on the same input)
 * inserts nothing, waits for nothing and leaves the look-up table alone.
 */
class DGCamera : public Camera {
public:
    /** Creates and owns a DGSensor on the file; configures it in mode 0 and creates the pipeline. */
    DGCamera(unsigned contextNumber, const std::string &filename, unsigned gasketNumber, bool isInternal);
    /** Borrows the sensor of another data-generator camera; creates the pipeline. */
    DGCamera(unsigned contextNumber, Sensor *sensor);
    ~DGCamera() override;

    /** The camera's enqueue, then (owned sensor) the insertion of the next frame. */
    QOR_RESULT enqueueShot() override;
    /** The camera's enqueue of the given buffers (no insertion). */
    QOR_RESULT enqueueSpecifiedShot(const CI_BUFFID &buffIds) override;
    /** The camera's enqueue of the given buffers, then (owned sensor) the insertion of the next frame. */
    virtual QOR_RESULT enqueueSpecifiedShot(CI_BUFFID &buffIds);
    /**
     * The camera's acquire, then (owned sensor) the wait for the frame and the look-up table of the next one.
     * The shot stays acquired whenever its buffer is set, whatever the result: the caller releases it.
     */
    QOR_RESULT acquireShot(Shot &shot, bool block, bool updateControl) override;
    using Camera::acquireShot;

    /** Well depth ("DNS_WELL_DEPTH") and read noise ("DNS_READ_NOISE") of the sensor from the list. */
    virtual QOR_RESULT updateSensorInfo(const ParameterList &param);

    /**
     * Imitates the sensor's exposure with the raw look-up table: with k the exposure over the geometric mean of
     * the sensor's range, point i (0 to 14) of every channel is (1 − (1 − (i + 1) / 16)^k) × 65536, held at
     * 65535, point 15 is 65535, cubic interpolation; the module is set up at the next enqueue. 3 without the
     * look-up-table module, 17 without a sensor.
     */
    QOR_RESULT programExposure();

    /** The hardware has an internal data generator. */
    static bool supportIntDG();
    /** External data generators are not supported: always false. */
    static bool supportExtDG();
};

} // namespace ISPC

#endif /* ISPC_DGCAMERA_H */
