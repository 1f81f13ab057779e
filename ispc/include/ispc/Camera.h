#ifndef ISPC_CAMERA_H
#define ISPC_CAMERA_H

#include <list>
#include <ostream>

#include "ci/ci_api.h"
#include "ci/ci_capture.h"
#include "ispc/Connection.h"
#include "ispc/Control.h"
#include "ispc/ModuleBase.h"
#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "ispc/Shot.h"
#include "qor_errors.h"

namespace ISPC {

/**
 * Drives one hardware context from one sensor: a reference on the driver connection, the sensor (owned
 * or borrowed), the context's pipeline and the control runner, walked together through a strict sequence
 * of states. Many failures put the camera into CAM_ERROR, which only destruction leaves. Log tag
 * "ISPC_CAMERA".
 *
 * Every shot acquired is released: whenever a shot's pCIBuffer is set after an acquire, whatever its
 * result, the caller gives it back with releaseShot.
 */
class Camera {
public:
    enum State {
        CAM_ERROR = 0,
        CAM_DISCONNECTED = 1,
        CAM_CONNECTED = 2,
        CAM_REGISTERED = 3,
        CAM_SET_UP = 4,
        CAM_PROGRAMMED = 5,
        CAM_READY = 6,
        CAM_CAPTURING = 7,
    };

    /** Connection and hardware information only; no sensor, no pipeline. */
    explicit Camera(unsigned contextNumber);
    /** Creates and owns the sensor of the registry entry sensorId, configured with the mode and flipping. */
    Camera(unsigned contextNumber, int sensorId, int sensorMode, int sensorFlipping);
    /** Borrows an already configured sensor (never configured, enabled, disabled or deleted here). */
    Camera(unsigned contextNumber, Sensor *pSensor);
    /** Stops a running capture first. */
    virtual ~Camera();
    Camera(const Camera &) = delete;
    Camera &operator=(const Camera &) = delete;

    void init(int sensorMode, int sensorFlipping);

    unsigned getContextNumber() const { return ctxNumber; }
    Pipeline *getPipeline() { return pipeline; }
    const Pipeline *getPipeline() const { return pipeline; }
    Sensor *getSensor() { return sensor; }
    const Sensor *getSensor() const { return sensor; }
    bool ownsSensor() const { return bOwnSensor; }
    void setOwnSensor(bool own) { bOwnSensor = own; }
    CI_CONNECTION *getConnection() { return ciConnection.getConnection(); }
    const CI_CONNECTION *getConnection() const { return ciConnection.getConnection(); }
    static const char *StateName(State s);

    /* Parameters and modules */
    QOR_RESULT loadParameters(const ParameterList &parameters);
    QOR_RESULT loadControlParameters(const ParameterList &parameters);
    QOR_RESULT saveParameters(ParameterList &parameters, ModuleBase::SaveType t) const;
    QOR_RESULT setupModules();
    QOR_RESULT setupModule(SetupID id);
    QOR_RESULT program();
    QOR_RESULT registerControlModule(ControlModule *module);
    ControlModule *getControlModule(ControlID id);

    /* Shots and buffers */
    QOR_RESULT addShots(unsigned num);
    QOR_RESULT deleteShots();
    /** Shots and the buffers of every configured output; the identifiers are appended to bufferIds. */
    QOR_RESULT allocateBufferPool(unsigned num, std::list<unsigned> &bufferIds);
    QOR_RESULT allocateBufferPool(unsigned num);
    QOR_RESULT allocateBuffer(CI_BUFFTYPE eBuffer, QOR_UINT32 ui32Size, bool isTiled, QOR_UINT32 *pBufferId);
    QOR_RESULT allocateBuffer(CI_BUFFTYPE eBuffer, bool isTiled, QOR_UINT32 *pBufferId);
    QOR_RESULT importBuffer(CI_BUFFTYPE eBuffer, QOR_UINT32 ionFd, QOR_UINT32 ui32Size, bool isTiled,
                            QOR_UINT32 *pBufferId);
    QOR_RESULT deregisterBuffer(QOR_UINT32 uiBufferID);
    QOR_RESULT setDisplayDimensions(unsigned width, unsigned height);
    QOR_RESULT setEncoderDimensions(unsigned width, unsigned height);

    /* Capture */
    QOR_RESULT startCapture();
    QOR_RESULT stopCapture();
    virtual QOR_RESULT enqueueShot();
    virtual QOR_RESULT enqueueSpecifiedShot(const CI_BUFFID &buffIds);
    /** Acquires a frame and, unless it is erroneous, runs the per-shot controls on its statistics. */
    virtual QOR_RESULT acquireShot(Shot &shot, bool block, bool updateControl);
    QOR_RESULT acquireShot(Shot &shot, bool updateControl = true);
    QOR_RESULT tryAcquireShot(Shot &shot, bool updateControl = true);
    QOR_RESULT releaseShot(Shot &shot);

    std::ostream &printState(std::ostream &os) const;

protected:
    /** Applies requested module updates, programs the pipeline and triggers a shot (named buffers, or the first available). */
    QOR_RESULT programAndTrigger(const char *function, const CI_BUFFID *buffIds);

    CI_Connection ciConnection;
    unsigned ctxNumber;
    Pipeline *pipeline;
    Sensor *sensor;
    bool bOwnSensor;
    Control control;

public:
    CI_HWINFO hwInfo;
    State state;
    bool bUpdateASAP;
};

std::ostream &operator<<(std::ostream &os, const Camera &camera);

} // namespace ISPC

#endif /* ISPC_CAMERA_H */
