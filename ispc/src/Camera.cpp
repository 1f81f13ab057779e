#include "ispc/Camera.h"

#include <cstring>

#include "ispc/ModuleOUT.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
constexpr const char *kTag = "ISPC_CAMERA";
constexpr const char *kErrorState = "Unable to perform operation, camera is in error state.\n";
constexpr const char *kNoPipeline = "Camera pipeline not defined (== NULL)\n";
} // namespace

#define CAMERA_REFUSE_IN_ERROR(result)                                                                                 \
    do {                                                                                                               \
        if (state == CAM_ERROR) {                                                                                      \
            QOR_LOG_ERROR(kTag, kErrorState);                                                                          \
            return (result);                                                                                           \
        }                                                                                                              \
    } while (0)

#define CAMERA_NEEDS_PIPELINE(result)                                                                                  \
    do {                                                                                                               \
        if (pipeline == nullptr) {                                                                                     \
            QOR_LOG_ERROR(kTag, kNoPipeline);                                                                          \
            return (result);                                                                                           \
        }                                                                                                              \
    } while (0)

const char *Camera::StateName(State s) {
    static const char *const names[] = {"CAM_ERROR",  "CAM_DISCONNECTED", "CAM_CONNECTED", "CAM_REGISTERED",
                                        "CAM_SET_UP", "CAM_PROGRAMMED",   "CAM_READY",     "CAM_CAPTURING"};
    const int i = static_cast<int>(s);
    return i >= 0 && i < static_cast<int>(sizeof(names) / sizeof(names[0])) ? names[i] : "unknown";
}

Camera::Camera(unsigned contextNumber)
    : ctxNumber(contextNumber), pipeline(nullptr), sensor(nullptr), bOwnSensor(false), state(CAM_DISCONNECTED),
      bUpdateASAP(false) {
    memset(&hwInfo, 0, sizeof(hwInfo));
    CI_CONNECTION *conn = ciConnection.getConnection();
    if (conn == nullptr) {
        QOR_LOG_ERROR(kTag, "Error connecting to CI\n");
        state = CAM_ERROR;
        return;
    }
    state = CAM_CONNECTED;
    hwInfo = conn->sHWInfo;
}

Camera::Camera(unsigned contextNumber, int sensorId, int sensorMode, int sensorFlipping) : Camera(contextNumber) {
    if (state == CAM_ERROR) {
        return;
    }
    sensor = new Sensor(sensorId);
    bOwnSensor = true;
    init(sensorMode, sensorFlipping);
}

Camera::Camera(unsigned contextNumber, Sensor *pSensor) : Camera(contextNumber) {
    if (state == CAM_ERROR) {
        return;
    }
    if (pSensor == nullptr) {
        QOR_LOG_ERROR(kTag, "Given sensor is NULL\n");
        state = CAM_ERROR;
        return;
    }
    sensor = pSensor;
    bOwnSensor = false;
    init(-1, 0);
}

void Camera::init(int sensorMode, int sensorFlipping) {
    if (sensor == nullptr) {
        QOR_LOG_ERROR(kTag, "Camera has no sensor!\n");
        state = CAM_ERROR;
        return;
    }
    if (sensorMode >= 0 && sensor->configure(sensorMode, sensorFlipping) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Unable to initialize the sensor for mode %d with flipping 0x%x\n", sensorMode,
                      static_cast<unsigned>(sensorFlipping));
        state = CAM_ERROR;
        return;
    }
    // A second init replaces the pipeline (and its modules) of the first.
    delete pipeline;
    pipeline = new Pipeline(ciConnection.getConnection(), ctxNumber, sensor);
}

Camera::~Camera() {
    if (state == CAM_CAPTURING) {
        QOR_LOG_WARNING(kTag, "Camera in capture state, should be stopped before destroying.\n");
        stopCapture();
    }
    delete pipeline;
    pipeline = nullptr;
    if (bOwnSensor) {
        delete sensor;
    }
    sensor = nullptr;
    control.clearModules();
    // The connection reference goes with the last member.
}

/* Parameters and modules */

QOR_RESULT Camera::loadParameters(const ParameterList &parameters) {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    if (state == CAM_CONNECTED) {
        QOR_LOG_ERROR(kTag, "Camera modules must be registered before loading parameters.\n");
        state = CAM_ERROR;
        return QOR_RES_UNAVAILABLE;
    }
    if (state != CAM_REGISTERED && state != CAM_SET_UP && state != CAM_PROGRAMMED) {
        QOR_LOG_WARNING(kTag, "Possible invalid camera state for registering pipeline modules\n");
    }
    QOR_RESULT ret;
    if (bOwnSensor && sensor != nullptr) {
        ret = sensor->load(parameters);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "error loading setup parameters in the sensor.\n");
            return ret;
        }
    }
    ret = pipeline->reloadAll(parameters);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "error loading setup parameters in the pipeline.\n");
        return ret;
    }
    ret = control.loadAll(parameters);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "error loading control parameters in the pipeline\n");
        return ret;
    }
    ret = pipeline->setupAll();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Setting up pipeline modules.\n");
        return ret;
    }
    if (state == CAM_REGISTERED) {
        state = CAM_SET_UP;
    }
    return QOR_RES_OK;
}

QOR_RESULT Camera::loadControlParameters(const ParameterList &parameters) {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    const QOR_RESULT ret = control.loadAll(parameters);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "error loading control parameters in the pipeline\n");
    }
    return ret;
}

QOR_RESULT Camera::saveParameters(ParameterList &parameters, ModuleBase::SaveType t) const {
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    bool failed = false;
    if (sensor != nullptr && sensor->save(parameters, t) != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "Saving the parameters of the sensor failed.\n");
        failed = true;
    }
    if (pipeline->saveAll(parameters, t) != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "Saving the parameter of the modules failed.\n");
        failed = true;
    }
    if (control.saveAll(parameters, t) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Saving the parameter of the controls failed.\n");
        failed = true;
    }
    return failed ? QOR_RES_FAILED : QOR_RES_OK;
}

QOR_RESULT Camera::setupModules() {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    if (state == CAM_CONNECTED) {
        QOR_LOG_ERROR(kTag, "Camera modules must be registered before set up.\n");
        state = CAM_ERROR;
        return QOR_RES_UNAVAILABLE;
    }
    if (state < CAM_REGISTERED || state > CAM_PROGRAMMED) {
        QOR_LOG_WARNING(kTag, "Possible invalid camera state for setting up modules.\n");
    }
    const QOR_RESULT ret = pipeline->setupAll();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "setting up modules.\n");
        return ret;
    }
    if (state == CAM_REGISTERED) {
        state = CAM_SET_UP;
    }
    return QOR_RES_OK;
}

QOR_RESULT Camera::setupModule(SetupID id) {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    if (state != CAM_REGISTERED && state != CAM_SET_UP) {
        QOR_LOG_WARNING(kTag, "Possible invalid camera state for setting up module.\n");
    }
    return pipeline->setupModule(id);
}

QOR_RESULT Camera::program() {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    if (state < CAM_SET_UP) {
        QOR_LOG_ERROR(kTag,
                      "Error programming pipeline. Camera modules must be set up before programming the pipeline.\n");
        return QOR_RES_UNAVAILABLE;
    }
    const QOR_RESULT ret = pipeline->programPipeline(bUpdateASAP);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Unable to program pipeline\n");
        return ret;
    }
    if (state == CAM_SET_UP) {
        state = CAM_PROGRAMMED;
    }
    return QOR_RES_OK;
}

QOR_RESULT Camera::registerControlModule(ControlModule *module) {
    return control.registerControlModule(module, pipeline);
}

ControlModule *Camera::getControlModule(ControlID id) { return control.getControlModule(id); }

/* Shots and buffers */

static bool programmedToCapturing(Camera::State s) {
    return s == Camera::CAM_PROGRAMMED || s == Camera::CAM_READY || s == Camera::CAM_CAPTURING;
}

QOR_RESULT Camera::addShots(unsigned num) {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    if (!programmedToCapturing(state)) {
        QOR_LOG_ERROR(kTag, "Invalid camera state %d\n", static_cast<int>(state));
        state = CAM_ERROR;
        return QOR_RES_UNAVAILABLE;
    }
    if (num == 0) {
        QOR_LOG_ERROR(kTag, "Given number of Shots to add is too small: %d\n", static_cast<int>(num));
        return QOR_RES_INVALID_PARAM;
    }
    const QOR_RESULT ret = pipeline->addShots(num);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Error adding buffer pool\n");
        state = CAM_ERROR;
    }
    return ret;
}

QOR_RESULT Camera::deleteShots() {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    const QOR_RESULT ret = pipeline->deleteShots();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to delete shots\n");
    }
    return ret;
}

QOR_RESULT Camera::allocateBuffer(CI_BUFFTYPE eBuffer, QOR_UINT32 ui32Size, bool isTiled, QOR_UINT32 *pBufferId) {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    if (!programmedToCapturing(state)) {
        QOR_LOG_ERROR(kTag, "invalid camera state (%d)\n", static_cast<int>(state));
        state = CAM_ERROR;
        return QOR_RES_UNAVAILABLE;
    }
    if (state == CAM_PROGRAMMED && pipeline->getStatus() == ISPC_Ctx_READY) {
        state = CAM_READY;
    }
    const QOR_RESULT ret = pipeline->allocateBuffer(eBuffer, ui32Size, isTiled, pBufferId);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Error while allocating buffer\n");
        state = CAM_ERROR;
    }
    return ret;
}

QOR_RESULT Camera::allocateBuffer(CI_BUFFTYPE eBuffer, bool isTiled, QOR_UINT32 *pBufferId) {
    return allocateBuffer(eBuffer, 0, isTiled, pBufferId);
}

QOR_RESULT Camera::importBuffer(CI_BUFFTYPE eBuffer, QOR_UINT32 ionFd, QOR_UINT32 ui32Size, bool isTiled,
                                QOR_UINT32 *pBufferId) {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    if (ui32Size == 0) {
        QOR_LOG_ERROR(kTag, "size is 0\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (!programmedToCapturing(state)) {
        QOR_LOG_ERROR(kTag, "invalid camera state (%d)\n", static_cast<int>(state));
        state = CAM_ERROR;
        return QOR_RES_UNAVAILABLE;
    }
    if (state == CAM_PROGRAMMED && pipeline->getStatus() == ISPC_Ctx_READY) {
        state = CAM_READY;
    }
    const QOR_RESULT ret = pipeline->importBuffer(eBuffer, ionFd, ui32Size, isTiled, pBufferId);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Error while importing buffer\n");
        state = CAM_ERROR;
    }
    return ret;
}

QOR_RESULT Camera::deregisterBuffer(QOR_UINT32 uiBufferID) {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    const QOR_RESULT ret = pipeline->deregisterBuffer(uiBufferID);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to deregister buffer %d\n", static_cast<int>(uiBufferID));
    }
    return ret;
}

QOR_RESULT Camera::allocateBufferPool(unsigned num, std::list<unsigned> &bufferIds) {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_FAILED);
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    if (!programmedToCapturing(state)) {
        QOR_LOG_ERROR(kTag, "Invalid camera state (%d)\n", static_cast<int>(state));
        state = CAM_ERROR;
        return QOR_RES_FAILED;
    }
    const ModuleOUT *out = static_cast<const ModuleOUT *>(pipeline->getModule(STP_OUT));
    if (out == nullptr) {
        QOR_LOG_ERROR(kTag, "global module not found\n");
        return QOR_RES_FAILED;
    }
    // Refused before anything is added: extracted data needs a point to be taken from.
    if (out->displayType == PXL_NONE && out->dataExtractionType != PXL_NONE &&
        out->dataExtractionPoint == CI_INOUT_NONE) {
        QOR_LOG_ERROR(kTag, "Data extraction enabled but data extraction point set to NONE\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    QOR_RESULT ret = pipeline->addShots(num);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to add shots\n");
        return ret;
    }

    struct Output {
        bool configured;
        CI_BUFFTYPE type;
        const char *message;
    };
    const Output outputs[] = {
        {out->encoderType != PXL_NONE, CI_TYPE_ENCODER, "Failed to allocate Encoder buffer %d/%d\n"},
        {out->displayType != PXL_NONE, CI_TYPE_DISPLAY, "Failed to allocate Display buffer %d/%d\n"},
        {out->displayType == PXL_NONE && out->dataExtractionType != PXL_NONE, CI_TYPE_DATAEXT,
         "Failed to allocate Bayer buffer %d/%d\n"},
        {out->hdrExtractionType != PXL_NONE, CI_TYPE_HDREXT, "Failed to allocate HDRExt buffer %d/%d\n"},
        {out->hdrInsertionType != PXL_NONE, CI_TYPE_HDRINS, "Failed to allocate HDRIns buffer %d/%d\n"},
        {out->raw2DExtractionType != PXL_NONE, CI_TYPE_RAW2D, "Failed to allocate RAW2D Extraction buffer %d/%d\n"},
    };
    for (const Output &o : outputs) {
        if (!o.configured) {
            continue;
        }
        for (unsigned i = 0; i < num; i++) {
            QOR_UINT32 id = 0;
            ret = pipeline->allocateBuffer(o.type, 0, false, &id);
            if (ret != QOR_RES_OK) {
                QOR_LOG_ERROR(kTag, o.message, static_cast<int>(i + 1), static_cast<int>(num));
                return ret;
            }
            bufferIds.push_back(id);
        }
    }
    if (state == CAM_PROGRAMMED && pipeline->getStatus() == ISPC_Ctx_READY) {
        state = CAM_READY;
    }
    return QOR_RES_OK;
}

QOR_RESULT Camera::allocateBufferPool(unsigned num) {
    std::list<unsigned> ids;
    return allocateBufferPool(num, ids);
}

QOR_RESULT Camera::setDisplayDimensions(unsigned width, unsigned height) {
    if (state == CAM_CAPTURING) {
        QOR_LOG_ERROR(kTag, "Can't change display buffer size when pipeline is running");
        return QOR_RES_UNAVAILABLE;
    }
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    return pipeline->setDisplayDimensions(width, height);
}

QOR_RESULT Camera::setEncoderDimensions(unsigned width, unsigned height) {
    if (state == CAM_CAPTURING) {
        QOR_LOG_ERROR(kTag, "Can't change encoder buffer size when pipeline is running");
        return QOR_RES_UNAVAILABLE;
    }
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    return pipeline->setEncoderDimensions(width, height);
}

/* Capture */

QOR_RESULT Camera::startCapture() {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    if (state != CAM_READY) {
        QOR_LOG_ERROR(kTag, "Camera not ready to start capture.\n");
        return QOR_RES_UNAVAILABLE;
    }
    if (pipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "Camera pipeline object is NULL\n");
        return QOR_RES_NOT_INITIALISED;
    }
    QOR_RESULT ret = control.configureStatistics();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Could not configure the control modules statistics!\n");
        return ret;
    }
    ret = pipeline->setupRequested();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Unable to setup modules before starting\n");
        return ret;
    }
    ret = pipeline->programPipeline(bUpdateASAP);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Unable to program pipeline before starting\n");
        return ret;
    }
    ret = pipeline->startCapture();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Unable to start capture\n");
        return ret;
    }
    if (bOwnSensor) {
        if (sensor == nullptr) {
            QOR_LOG_ERROR(kTag, "Camera pipeline sensor object is NULL\n");
            pipeline->stopCapture();
            return QOR_RES_NOT_INITIALISED;
        }
        ret = sensor->enable();
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Unable to start sensor!\n");
            pipeline->stopCapture();
            return ret;
        }
    }
    state = CAM_CAPTURING;
    return QOR_RES_OK;
}

QOR_RESULT Camera::stopCapture() {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    if (pipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "Camera pipeline object is NULL\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (state != CAM_CAPTURING) {
        QOR_LOG_WARNING(kTag, "Camera was not capturing.\n");
        return QOR_RES_UNAVAILABLE;
    }
    const bool pipelineFailed = pipeline->stopCapture() != QOR_RES_OK;
    if (pipelineFailed) {
        QOR_LOG_ERROR(kTag, "stopping capture.\n");
        state = CAM_ERROR;
        if (!bOwnSensor) {
            return QOR_RES_FAILED;
        }
    }
    if (bOwnSensor) {
        if (sensor == nullptr) {
            QOR_LOG_ERROR(kTag, "Camera sensor object is NULL\n");
            return QOR_RES_NOT_INITIALISED;
        }
        if (sensor->disable() != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to stop the sensor!\n");
            state = CAM_ERROR;
            return QOR_RES_FAILED;
        }
    }
    if (pipelineFailed) {
        return QOR_RES_FAILED;
    }
    state = CAM_READY;
    return QOR_RES_OK;
}

QOR_RESULT Camera::programAndTrigger(const char *function, const CI_BUFFID *buffIds) {
    // Messages name the public call (enqueueShot or enqueueSpecifiedShot).
    if (state == CAM_ERROR) {
        LOG_Error(function, __LINE__, kTag, kErrorState);
        return QOR_RES_UNAVAILABLE;
    }
    if (state != CAM_CAPTURING) {
        LOG_Error(function, __LINE__, kTag,
                  "Camera must me programmed and buffers allocated before enqueuing a shot.\n");
        state = CAM_ERROR;
        return QOR_RES_UNAVAILABLE;
    }
    if (pipeline == nullptr) {
        LOG_Error(function, __LINE__, kTag, kNoPipeline);
        return QOR_RES_FAILED;
    }
    QOR_RESULT ret = pipeline->setupRequested();
    if (ret != QOR_RES_OK) {
        LOG_Error(function, __LINE__, kTag, "Error updating requested modules\n");
        state = CAM_ERROR;
        return ret;
    }
    ret = pipeline->programPipeline(bUpdateASAP);
    if (ret != QOR_RES_OK) {
        LOG_Error(function, __LINE__, kTag, "Error programming pipeline\n");
        state = CAM_ERROR;
        return ret;
    }
    ret = buffIds != nullptr ? pipeline->programSpecifiedShot(*buffIds) : pipeline->programShot();
    if (ret != QOR_RES_OK) {
        LOG_Error(function, __LINE__, kTag, "Error programming shot\n");
        state = CAM_ERROR;
    }
    return ret;
}

QOR_RESULT Camera::enqueueShot() { return programAndTrigger(__func__, nullptr); }

QOR_RESULT Camera::enqueueSpecifiedShot(const CI_BUFFID &buffIds) { return programAndTrigger(__func__, &buffIds); }

QOR_RESULT Camera::acquireShot(Shot &shot, bool block, bool updateControl) {
    CAMERA_REFUSE_IN_ERROR(QOR_RES_UNAVAILABLE);
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    QOR_RESULT ret = pipeline->acquireShot(shot, block);
    if (ret != QOR_RES_OK) {
        if (block) {
            QOR_LOG_ERROR(kTag, "Unable to get shot\n");
        }
        return ret;
    }
    if (!updateControl) {
        return QOR_RES_OK;
    }
    if (shot.bFrameError) {
        QOR_LOG_WARNING(kTag, "frame is erroneous - skipping control module writing\n");
        return QOR_RES_OK;
    }
    // The shot stays acquired whatever the controls return: the caller releases it.
    ret = control.runControlModules(UPDATE_SHOT, shot.metadata);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Unable to run control modules\n");
    }
    return ret;
}

QOR_RESULT Camera::acquireShot(Shot &shot, bool updateControl) { return acquireShot(shot, true, updateControl); }

QOR_RESULT Camera::tryAcquireShot(Shot &shot, bool updateControl) { return acquireShot(shot, false, updateControl); }

QOR_RESULT Camera::releaseShot(Shot &shot) {
    // A shot acquired before the camera failed is still given back: no driver shot is left acquired.
    if (state == CAM_ERROR && shot.pCIBuffer == nullptr) {
        QOR_LOG_ERROR(kTag, kErrorState);
        return QOR_RES_UNAVAILABLE;
    }
    CAMERA_NEEDS_PIPELINE(QOR_RES_FAILED);
    return pipeline->releaseShot(shot);
}

std::ostream &Camera::printState(std::ostream &os) const {
    os << "Camera:" << std::endl;
    os << "  "
       << "state = " << StateName(state) << std::endl;
    os << "  "
       << "ctx = " << ctxNumber << std::endl;
    os << "  "
       << "ownSensor = " << (bOwnSensor ? 1 : 0) << std::endl;
    control.printAllState(os);
    return os;
}

std::ostream &operator<<(std::ostream &os, const Camera &camera) { return camera.printState(os); }

#undef CAMERA_REFUSE_IN_ERROR
#undef CAMERA_NEEDS_PIPELINE

} // namespace ISPC
