#include "ispc/ControlDNS.h"

#include "ispc/ModuleDNS.h"
#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "norvacommon/userlog.h"

namespace ISPC {

ControlDNS::ControlDNS(double defaultGain, const std::string &logname)
    : ControlModuleBase<CTRL_DNS>(logname), fSensorGain(defaultGain) {}

ParameterGroup ControlDNS::getGroup() { return ParameterGroup(); }

QOR_RESULT ControlDNS::load(const ParameterList & /*parameters*/) { return QOR_RES_OK; }

QOR_RESULT ControlDNS::save(ParameterList & /*parameters*/, SaveType /*t*/) const { return QOR_RES_OK; }

QOR_RESULT ControlDNS::configureStatistics() { return QOR_RES_OK; }

QOR_RESULT ControlDNS::update(const Metadata & /*metadata*/) {
    const Sensor *sensor = getSensor();
    if (sensor == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlDNS has no sensor!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    fSensorGain = sensor->getGain();
    (void)programCorrection();
    return QOR_RES_OK;
}

QOR_RESULT ControlDNS::programCorrection() {
    for (Pipeline *pipeline : pipelineList) {
        auto *dns = dynamic_cast<ModuleDNS *>(pipeline->getModule(STP_DNS));
        if (dns == nullptr) {
            continue;
        }
        dns->fSensorGain = fSensorGain;
        dns->requestUpdate();
    }
    return QOR_RES_OK;
}

} // namespace ISPC
