#ifndef ISPC_CONTROLLBC_H
#define ISPC_CONTROLLBC_H

#include <ostream>
#include <string>
#include <vector>

#include "ispc/ControlModule.h"
#include "ispc/LightCorrection.h"
#include "ispc/ParameterDef.h"
#include "qor_errors.h"

namespace ISPC {

/**
 * Light-based control: meters a light level on every frame (exposure in seconds x gain / mean brightness of
 * the global histogram), smooths it exponentially, interpolates the calibrated configurations (sorted by light
 * level) at it and writes the sharpening strength and the RGB-to-YUV saturation, brightness and contrast into
 * every pipeline of the list. Log name "ISPC_CTRL_LBC".
 */
class ControlLBC : public ControlModuleBase<CTRL_LBC> {
public:
    /** Most configurations the parameters can hold. */
    static constexpr int MAX_CONFIGURATIONS = 20;

    static const ParamDef<double> LBC_UPDATE_SPEED; /**< "LBC_UPDATE_SPEED", 0 to 1, 0.1 */
    static const ParamDef<int> LBC_CONFIGURATIONS;  /**< "LBC_CONFIGURATIONS", 0 to 20, 0 */
    /* Per configuration, used as NAME_index. */
    static const ParamDef<double> LBC_LIGHT_LEVEL_S; /**< "LBC_LIGHT_LEVEL", 0 to 1e8, 0 */
    static const ParamDef<double> LBC_SHARPNESS_S;   /**< "LBC_SHARPNESS", 0 to 1, 0.4 */
    static const ParamDef<double> LBC_SATURATION_S;  /**< "LBC_SATURATION", 0.1 to 10, 1 */
    static const ParamDef<double> LBC_BRIGHTNESS_S;  /**< "LBC_BRIGHTNESS", -0.5 to 0.5, 0 */
    static const ParamDef<double> LBC_CONTRAST_S;    /**< "LBC_CONTRAST", 0 to 2, 1 */

    explicit ControlLBC(const std::string &logname = "ISPC_CTRL_LBC");

    /** The update speed and the configurations (the list is replaced); the light levels are kept. */
    QOR_RESULT load(const ParameterList &parameters) override;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    using ModuleBase::save;
    /** Header "// Light Based Controls parameters": the count, the speed and the indexed tags 0 to 19. */
    static ParameterGroup getGroup();
    std::ostream &printState(std::ostream &os) const override;

    QOR_RESULT configureStatistics() override;
    /** Meters, smooths, interpolates and programs; frames of brightness 0 change nothing. */
    QOR_RESULT update(const Metadata &metadata) override;
    bool hasConverged() const override { return true; }

    /** Stored when 0 <= value <= 1, else an error and the old value kept. */
    void setUpdateSpeed(double value);
    double getUpdateSpeed() const { return updateSpeed; }
    void setAllowHISConfig(bool allow) { configureHis = allow; }
    bool getAllowHISConfig() const { return configureHis; }

    void clearConfigurations() { configurations.clear(); }
    /**
     * Appends and sorts by ascending light level. The sort is stable: configurations of equal light level keep
     * the order in which they were added, so the first one added is the one an equal level selects.
     */
    void addConfiguration(const LightCorrection &correction);
    int getConfigurationsNumber() const { return static_cast<int>(configurations.size()); }
    /** Configuration index of the sorted list; the caller keeps index in range. */
    LightCorrection getCorrection(int index) const { return configurations[static_cast<size_t>(index)]; }

    LightCorrection getCurrentCorrection() const { return currentConfiguration; }
    double getLightLevel() const { return lightLevel; }
    double getMeteredLightLevel() const { return meteredLightLevel; }

    /**
     * The correction for a light level: the first configuration below the lowest level, the last above the
     * highest, the first configuration of an equal level, else the linear interpolation of the two neighbours.
     */
    LightCorrection getLumaConfiguration(double level) const;
    /** Mean bin index of the global histogram over 63 (0 to 1); 0 for a histogram without counts. */
    static double calculateBrightness(const Metadata &metadata);

protected:
    /** Writes the current correction into the sharpening and RGB-to-YUV modules of every pipeline. */
    QOR_RESULT programCorrection() override;

    std::vector<LightCorrection> configurations;
    LightCorrection currentConfiguration;
    double updateSpeed;
    double meteredLightLevel;
    double lightLevel;
    bool configureHis;
};

} // namespace ISPC

#endif /* ISPC_CONTROLLBC_H */
