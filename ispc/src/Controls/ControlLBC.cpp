#include "ispc/ControlLBC.h"

#include <algorithm>
#include <cmath>

#include "GlobalHistogram.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleSHA.h"
#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "ispc/Shot.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
constexpr const char *kTag = "ISPC_CTRL_LBC";

/** The five per-configuration definitions of configuration index. */
struct IndexedDefs {
    ParamDef<double> lightLevel, sharpness, saturation, brightness, contrast;
    explicit IndexedDefs(unsigned index)
        : lightLevel(ControlLBC::LBC_LIGHT_LEVEL_S.indexed(index)),
          sharpness(ControlLBC::LBC_SHARPNESS_S.indexed(index)),
          saturation(ControlLBC::LBC_SATURATION_S.indexed(index)),
          brightness(ControlLBC::LBC_BRIGHTNESS_S.indexed(index)), contrast(ControlLBC::LBC_CONTRAST_S.indexed(index)) {
    }
};
} // namespace

const ParamDef<double> ControlLBC::LBC_UPDATE_SPEED("LBC_UPDATE_SPEED", 0.0, 1.0, 0.1);
const ParamDef<int> ControlLBC::LBC_CONFIGURATIONS("LBC_CONFIGURATIONS", 0, ControlLBC::MAX_CONFIGURATIONS, 0);
const ParamDef<double> ControlLBC::LBC_LIGHT_LEVEL_S("LBC_LIGHT_LEVEL", 0.0, 1e8, 0.0);
// The ranges are those of the sharpening and RGB-to-YUV modules' own parameters; the defaults are those of
// the default LightCorrection. Written as literals so that no other file's static objects are read here.
const ParamDef<double> ControlLBC::LBC_SHARPNESS_S("LBC_SHARPNESS", 0.0, 1.0, 0.4);
const ParamDef<double> ControlLBC::LBC_SATURATION_S("LBC_SATURATION", 0.1, 10.0, 1.0);
const ParamDef<double> ControlLBC::LBC_BRIGHTNESS_S("LBC_BRIGHTNESS", -0.5, 0.5, 0.0);
const ParamDef<double> ControlLBC::LBC_CONTRAST_S("LBC_CONTRAST", 0.0, 2.0, 1.0);

ControlLBC::ControlLBC(const std::string &logname)
    : ControlModuleBase<CTRL_LBC>(logname), updateSpeed(LBC_UPDATE_SPEED.def), meteredLightLevel(0.0), lightLevel(1.0),
      configureHis(false) {}

void ControlLBC::setUpdateSpeed(double value) {
    if (!(value >= 0.0 && value <= 1.0)) {
        QOR_LOG_ERROR(kTag, "Update speed value must be between 0.0 and 1.0 (received %f)\n", value);
        return;
    }
    updateSpeed = value;
}

void ControlLBC::addConfiguration(const LightCorrection &correction) {
    configurations.push_back(correction);
    std::stable_sort(configurations.begin(), configurations.end());
}

LightCorrection ControlLBC::getLumaConfiguration(double level) const {
    if (configurations.empty()) {
        return LightCorrection();
    }
    const LightCorrection *low = &configurations.front();
    const LightCorrection *high = low;
    for (const LightCorrection &c : configurations) {
        if (c.lightLevel <= level) {
            low = &c;
        }
        high = &c;
        if (c.lightLevel >= level) {
            break;
        }
    }
    if (low->lightLevel == high->lightLevel) {
        return *low;
    }
    return low->blend(*high, (level - low->lightLevel) / (high->lightLevel - low->lightLevel));
}

double ControlLBC::calculateBrightness(const Metadata &metadata) {
    double weighted = 0.0;
    double total = 0.0;
    for (int i = 0; i < 64; i++) {
        const double h = static_cast<double>(metadata.histogramStats.globalHistogram[i]);
        weighted += i * h;
        total += h;
    }
    if (total == 0.0) {
        return 0.0;
    }
    return weighted / total / 63.0;
}

QOR_RESULT ControlLBC::configureStatistics() {
    Pipeline *owner = getPipelineOwner();
    if (owner == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlLBC has no pipeline owner! Cannot configure statistics.\n");
        return QOR_RES_NOT_INITIALISED;
    }
    ModuleHIS *his = static_cast<ModuleHIS *>(owner->getModule(STP_HIS));
    if (his == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlLBC cannot find HIS module\n");
        return QOR_RES_UNAVAILABLE;
    }
    if (!enableGlobalHistogram(*his, configureHis)) {
        QOR_LOG_WARNING(kTag, "Global Histograms in HIS are not enabled! The LBC will not be able to compute the "
                              "estimated brightness.\n");
    }
    return QOR_RES_OK;
}

QOR_RESULT ControlLBC::update(const Metadata &metadata) {
    meteredLightLevel = 0.0;
    const Sensor *sensor = getSensor();
    if (sensor == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlLBC has no sensor!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    const double brightness = calculateBrightness(metadata);
    if (brightness == 0.0) {
        QOR_LOG_WARNING(kTag, "Image average brightness is 0, cannot compute LBC!\n");
        return QOR_RES_OK;
    }
    const double metered = (sensor->getExposure() / 1e6) * sensor->getGain() / brightness;
    // A level that is not a finite number (a gain read back as infinite or not a number) would stay in the
    // smoothed level for good; such a frame is treated like one without brightness.
    if (!std::isfinite(metered)) {
        QOR_LOG_WARNING(kTag, "Metered light level is not finite, cannot compute LBC!\n");
        return QOR_RES_OK;
    }
    meteredLightLevel = metered;
    lightLevel = lightLevel * (1.0 - updateSpeed) + metered * updateSpeed;
    currentConfiguration = getLumaConfiguration(lightLevel);
    programCorrection();
    return QOR_RES_OK;
}

QOR_RESULT ControlLBC::programCorrection() {
    for (Pipeline *pipeline : pipelineList) {
        ModuleSHA *sha = static_cast<ModuleSHA *>(pipeline->getModule(STP_SHA));
        ModuleR2Y *r2y = static_cast<ModuleR2Y *>(pipeline->getModule(STP_R2Y));
        if (sha == nullptr || r2y == nullptr) {
            continue;
        }
        sha->fStrength = currentConfiguration.sharpness;
        r2y->fBrightness = currentConfiguration.brightness;
        r2y->fContrast = currentConfiguration.contrast;
        r2y->fSaturation = currentConfiguration.saturation;
        sha->requestUpdate();
        r2y->requestUpdate();
    }
    return QOR_RES_OK;
}

QOR_RESULT ControlLBC::load(const ParameterList &parameters) {
    updateSpeed = parameters.getParameter(LBC_UPDATE_SPEED);
    const int n = parameters.getParameter(LBC_CONFIGURATIONS);
    configurations.clear();
    for (int i = 0; i < n; i++) {
        const IndexedDefs defs(static_cast<unsigned>(i));
        LightCorrection c;
        c.lightLevel = parameters.getParameter(defs.lightLevel);
        c.sharpness = parameters.getParameter(defs.sharpness);
        c.saturation = parameters.getParameter(defs.saturation);
        c.brightness = parameters.getParameter(defs.brightness);
        c.contrast = parameters.getParameter(defs.contrast);
        addConfiguration(c);
    }
    return QOR_RES_OK;
}

ParameterGroup ControlLBC::getGroup() {
    ParameterGroup group;
    group.header = "// Light Based Controls parameters";
    group.parameters.insert(LBC_CONFIGURATIONS.name);
    group.parameters.insert(LBC_UPDATE_SPEED.name);
    for (unsigned i = 0; i < MAX_CONFIGURATIONS; i++) {
        const IndexedDefs defs(i);
        for (const std::string *tag : {&defs.lightLevel.name, &defs.sharpness.name, &defs.saturation.name,
                                       &defs.brightness.name, &defs.contrast.name}) {
            group.parameters.insert(*tag);
        }
    }
    return group;
}

QOR_RESULT ControlLBC::save(ParameterList &parameters, SaveType t) const {
    static const ParameterGroup group = getGroup();
    parameters.addGroup("ControlLBC", group);
    switch (t) {
    case SAVE_VAL:
        parameters.addParameter(LBC_CONFIGURATIONS, getConfigurationsNumber(), true);
        parameters.addParameter(LBC_UPDATE_SPEED, updateSpeed, true);
        for (size_t i = 0; i < configurations.size(); i++) {
            const IndexedDefs defs(static_cast<unsigned>(i));
            const LightCorrection &c = configurations[i];
            parameters.addParameter(defs.lightLevel, c.lightLevel, true);
            parameters.addParameter(defs.sharpness, c.sharpness, true);
            parameters.addParameter(defs.saturation, c.saturation, true);
            parameters.addParameter(defs.brightness, c.brightness, true);
            parameters.addParameter(defs.contrast, c.contrast, true);
        }
        break;
    case SAVE_MIN:
    case SAVE_MAX:
    case SAVE_DEF: {
        // The limits and defaults of the count, the speed and the tags of configuration 0.
        const IndexedDefs defs(0);
        const LightCorrection unused;
        saveParameter(parameters, t, LBC_CONFIGURATIONS, 0);
        saveParameter(parameters, t, LBC_UPDATE_SPEED, updateSpeed);
        saveParameter(parameters, t, defs.lightLevel, unused.lightLevel);
        saveParameter(parameters, t, defs.sharpness, unused.sharpness);
        saveParameter(parameters, t, defs.saturation, unused.saturation);
        saveParameter(parameters, t, defs.brightness, unused.brightness);
        saveParameter(parameters, t, defs.contrast, unused.contrast);
        break;
    }
    default:
        break;
    }
    return QOR_RES_OK;
}

std::ostream &ControlLBC::printState(std::ostream &os) const {
    os << "  " << logName << ":" << std::endl;
    os << "    config:" << std::endl;
    os << "      enabled = " << (enabled ? 1 : 0) << std::endl;
    os << "      updateSpeed = " << updateSpeed << std::endl;
    os << "    state:" << std::endl;
    os << "      meteredLightLevel = " << meteredLightLevel << std::endl;
    os << "      lightLevel = " << lightLevel << std::endl;
    return os;
}

} // namespace ISPC
