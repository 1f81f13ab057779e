#include "ispc/DGSensor.h"

#include "ispc/ModuleDNS.h"
#include "ispc/ModuleFLD.h"
#include "norvacommon/userlog.h"
#include "sensors/iifdatagen.h"

namespace {
constexpr const char *kTag = "ISPC_SENSOR";
} // namespace

namespace ISPC {

namespace {

/** The value of the deprecated tag when the list has it (with a warning), else the sensor tag's. */
template <typename T, typename Deprecated, typename Current>
T readFact(const ParameterList &list, const ParamDef<Deprecated> &deprecated, const ParamDef<Current> &current) {
    if (list.exists(deprecated.name)) {
        QOR_LOG_WARNING(kTag, "%s is deprecated use %s instead!\n", deprecated.name.c_str(), current.name.c_str());
        return static_cast<T>(list.getParameter(deprecated));
    }
    return static_cast<T>(list.getParameter(current));
}

} // namespace

DGSensor::DGSensor(const std::string &filename, QOR_UINT8 gasketNumber, bool isInternal)
    : Sensor(), isInternal(isInternal) {
    CI_CONNECTION *connection = ciConnection.getConnection();
    if (connection == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to connect to CI\n");
        return;
    }
    if (!isInternal) {
        QOR_LOG_ERROR(kTag, "external DG not supported!\n");
        return;
    }
    init(GetSensorId(IIFDG_SENSOR_NAME));
    if (state == SENSOR_ERROR) {
        QOR_LOG_ERROR(kTag, "Failed to initialise sensor\n");
        return;
    }
    // The pseudo-sensor's own settings, in order; the first failure leaves the sensor unusable.
    if (IIFDG_ExtendedSetConnection(hSensorHandle, connection) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to setup IIFDG connection\n");
        state = SENSOR_ERROR;
    } else if (IIFDG_ExtendedSetSourceFile(hSensorHandle, filename.c_str()) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to setup IIFDG source file\n");
        state = SENSOR_ERROR;
    } else if (IIFDG_ExtendedSetGasket(hSensorHandle, gasketNumber) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to setup IIFDG gasket\n");
        state = SENSOR_ERROR;
    } else if (IIFDG_ExtendedSetIsVideo(hSensorHandle, QOR_TRUE) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to setup IIFDG isVideo\n");
        state = SENSOR_ERROR;
    }
}

DGSensor::~DGSensor() {
    if (hSensorHandle != nullptr && state == SENSOR_ENABLED) {
        Sensor_Disable(hSensorHandle);
        state = SENSOR_CONFIGURED;
    }
}

QOR_RESULT DGSensor::load(const ParameterList &parameters) {
    programmedGain = readFact<double>(parameters, ModuleDNS::DNS_ISOGAIN, SENSOR_GAIN);
    uiWellDepth = readFact<unsigned>(parameters, ModuleDNS::DNS_WELLDEPTH, SENSOR_WELLDEPTH);
    flReadNoise = readFact<double>(parameters, ModuleDNS::DNS_READNOISE, SENSOR_READNOISE);
    flFrameRate = readFact<double>(parameters, ModuleFLD::FLD_FRAMERATE, SENSOR_FRAMERATE);
    return QOR_RES_OK;
}

} // namespace ISPC
