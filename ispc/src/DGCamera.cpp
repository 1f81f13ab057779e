#include "ispc/DGCamera.h"

#include <cmath>
#include <cstdint>

#include "ispc/Connection.h"
#include "ispc/ModuleDNS.h"
#include "ispc/ModuleRLT.h"
#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "ISPC_DGCAMERA";
} // namespace

namespace ISPC {

namespace {

/** The look-up-table point of a curve value v (0 to 1): v × 65536 truncated, held at 65535. */
QOR_UINT16 curvePoint(double v) {
    // Not a number (a zero-width range) reads as the full scale, like any value at or past the top.
    if (!(v < 65535.0 / 65536.0)) {
        return 65535;
    }
    if (v <= 0.0) {
        return 0;
    }
    return static_cast<QOR_UINT16>(v * 65536.0);
}

} // namespace

DGCamera::DGCamera(unsigned contextNumber, const std::string &filename, unsigned gasketNumber, bool isInternal)
    : Camera(contextNumber) {
    sensor = new DGSensor(filename, static_cast<QOR_UINT8>(gasketNumber), isInternal);
    bOwnSensor = true;
    if (sensor->getState() != Sensor::SENSOR_ERROR) {
        init(0, 0);
        updateSensorInfo(ParameterList());
    } else {
        QOR_LOG_ERROR(kTag, "Cannot init DG sensor!\n");
        state = CAM_ERROR;
    }
}

DGCamera::DGCamera(unsigned contextNumber, Sensor *borrowed) : Camera(contextNumber) {
    sensor = borrowed;
    bOwnSensor = false;
    init(-1, 0);
}

DGCamera::~DGCamera() = default;

QOR_RESULT DGCamera::updateSensorInfo(const ParameterList &param) {
    if (sensor == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor object is NULL\n");
        return QOR_RES_NOT_INITIALISED;
    }
    sensor->uiWellDepth = static_cast<unsigned>(param.getParameter(ModuleDNS::DNS_WELLDEPTH));
    sensor->flReadNoise = param.getParameter(ModuleDNS::DNS_READNOISE);
    return QOR_RES_OK;
}

QOR_RESULT DGCamera::enqueueShot() {
    if (sensor == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor object is NULL\n");
        return QOR_RES_NOT_INITIALISED;
    }
    QOR_LOG_INFO(kTag, "enqueue shot on DG camera\n");
    const QOR_RESULT ret = Camera::enqueueShot();
    if (ret == QOR_RES_OK && bOwnSensor) {
        return sensor->insert();
    }
    return ret;
}

QOR_RESULT DGCamera::enqueueSpecifiedShot(CI_BUFFID &buffIds) {
    if (sensor == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor object is NULL\n");
        return QOR_RES_NOT_INITIALISED;
    }
    const QOR_RESULT ret = Camera::enqueueSpecifiedShot(static_cast<const CI_BUFFID &>(buffIds));
    if (ret == QOR_RES_OK && bOwnSensor) {
        return sensor->insert();
    }
    return ret;
}

// Reached through a Camera as well: a shot of named buffers inserts its frame like any other, otherwise the
// acquire that follows would wait for a frame that never comes.
QOR_RESULT DGCamera::enqueueSpecifiedShot(const CI_BUFFID &buffIds) {
    CI_BUFFID ids = buffIds;
    return enqueueSpecifiedShot(ids);
}

QOR_RESULT DGCamera::acquireShot(Shot &shot, bool block, bool updateControl) {
    QOR_LOG_INFO(kTag, "acquire shot!\n");
    QOR_RESULT ret = Camera::acquireShot(shot, block, updateControl);
    if (ret != QOR_RES_OK || !bOwnSensor || sensor == nullptr) {
        return ret;
    }
    ret = sensor->waitProcessed();
    if (ret != QOR_RES_OK && ret != QOR_RES_NOT_SUPPORTED) {
        return ret;
    }
    return programExposure();
}

QOR_RESULT DGCamera::programExposure() {
    if (sensor == nullptr || pipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor object is NULL\n");
        return QOR_RES_NOT_INITIALISED;
    }
    ModuleRLT *rlt = static_cast<ModuleRLT *>(pipeline->getModule(STP_RLT));
    if (rlt == nullptr) {
        QOR_LOG_ERROR(kTag, "RLT module not found\n");
        return QOR_RES_FAILED;
    }
    // The exposure relative to the geometric mean of the sensor's range.
    const uint64_t range = static_cast<uint64_t>(sensor->getMinExposure()) * sensor->getMaxExposure();
    const double k = static_cast<double>(sensor->getExposure()) / std::sqrt(static_cast<double>(range));
    for (unsigned i = 0; i < ModuleRLT::N_POINTS - 1; i++) {
        const double v = 1.0 - std::pow(1.0 - (i + 1) / 16.0, k);
        const QOR_UINT16 point = curvePoint(v);
        for (unsigned c = 0; c < ModuleRLT::N_CHANNELS; c++) {
            rlt->aLUTPoints[c][i] = point;
        }
    }
    for (unsigned c = 0; c < ModuleRLT::N_CHANNELS; c++) {
        rlt->aLUTPoints[c][ModuleRLT::N_POINTS - 1] = 65535;
    }
    rlt->eMode = ModuleRLT::RLT_CUBIC;
    rlt->requestUpdate();
    return QOR_RES_OK;
}

bool DGCamera::supportIntDG() {
    CI_Connection connection;
    const CI_CONNECTION *c = connection.getConnection();
    if (c == nullptr) {
        QOR_LOG_ERROR(kTag, "failed to connect to driver to enquire about internal data generator\n");
        return false;
    }
    return (c->sHWInfo.eFunctionalities & CI_INFO_SUPPORTED_IIF_DATAGEN) != 0;
}

bool DGCamera::supportExtDG() { return false; }

} // namespace ISPC
