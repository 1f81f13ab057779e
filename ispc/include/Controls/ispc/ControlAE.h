#ifndef ISPC_CONTROLAE_H
#define ISPC_CONTROLAE_H

#include <chrono>
#include <deque>
#include <ostream>
#include <string>

#include "ispc/ControlModule.h"
#include "ispc/Parameter.h"
#include "ispc/ParameterDef.h"
#include "mc/mc_stats.h"
#include "qor_types.h"

namespace ISPC {

struct Metadata;

/** A state of the lens iris as a downstream element reports it. */
struct FNumberStatus {
    bool isAuto = false;                               /**< the plan may choose the F-number */
    bool isMoving = false;                             /**< the iris moves at the time of the status */
    std::chrono::steady_clock::time_point timestamp{}; /**< from when the status holds */
    double current = 1.0;                              /**< F-number set now */
    double minimum = 1.0;                              /**< widest aperture: reference of the aperture factor */
    double autoMin = 1.0, autoMax = 1.0;               /**< range allowed to automatic control */
    double nextMin = 1.0, nextMax = 1.0;               /**< range the iris can reach next */
};

/**
 * Auto exposure: meters the brightness from the 7x7 regional luma histograms, scales the total exposure
 * (exposure time x gain / F-number^2) toward the target and splits it into exposure time, gain and an aperture
 * factor (the exposure plan), then programs the owner pipeline's sensor and waits for frames taken with it.
 */
class ControlAE : public ControlModuleBase<CTRL_AE> {
public:
    typedef QOR_UINT32 microseconds_t;
    typedef std::chrono::steady_clock::time_point time_point;

    static const ParamDefSingle<bool> AE_FLICKER;
    static const ParamDefSingle<bool> AE_FLICKER_AUTODETECT;
    static const ParamDef<double> AE_FLICKER_FREQ;
    static const ParamDefSingle<bool> AE_BLC_AUTO;
    static const ParamDef<double> AE_BLC_LEVEL;
    static const ParamDef<double> AE_TARGET_BRIGHTNESS;
    static const ParamDef<double> AE_UPDATE_SPEED;
    static const ParamDef<double> AE_BRACKET_SIZE;
    static const ParamDef<double> AE_TARGET_GAIN;
    static const ParamDef<double> AE_MIN_GAIN;
    static const ParamDef<double> AE_MAX_GAIN;
    static const ParamDef<unsigned int> AE_MIN_EXPOSURE;
    static const ParamDef<unsigned int> AE_MAX_EXPOSURE;

    static const double WEIGHT_7X7_A[7][7];
    static const double WEIGHT_7X7_B[7][7];
    static const double BACKLIGHT_7X7[7][7];

    explicit ControlAE(const std::string &logTag = "ISPC_CTRL_AE");
    ~ControlAE() override = default;

    QOR_RESULT load(const ParameterList &parameters) override;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    using ModuleBase::save;
    std::ostream &printState(std::ostream &os) const override;
    QOR_RESULT update(const Metadata &metadata) override;
    QOR_RESULT configureStatistics() override;
    bool hasConverged() const override;
    static ParameterGroup getGroup();

    /* run-time settings */
    void setTargetBrightness(double value);
    double getTargetBrightness() const { return targetBrightness; }
    double getCurrentBrightness() const { return currentBrightness; }
    void setTargetBracket(double value);
    double getTargetBracket() const { return targetBracket; }
    void setUpdateSpeed(double value);
    double getUpdateSpeed() const { return updateSpeed; }
    void enableBlcAuto(bool enable);
    bool getBlcAuto() const { return blcAuto; }
    void setBlcLevel(double level);
    double getBlcLevel() const { return blcAuto ? blcLevel : blcLevelConfig; }
    void enableFlickerRejection(bool enable, double freq = 0.0);
    void enableAutoFlickerRejection(bool enable);
    bool getFlickerRejection() const { return flickerRejection; }
    bool getAutoFlickerRejection() const { return autoFlickerRejection; }
    double getFlickerFreqConfig() const { return flickerFreqConfig; }
    double getFlickerRejectionFrequency() const { return autoFlickerRejection ? flickerFreq : flickerFreqConfig; }
    void setTargetAeGain(double gain);
    void setMinAeGain(double gain);
    void setMaxAeGain(double gain);
    double getTargetAeGain() const;
    double getMinAeGain() const;
    double getMaxAeGain() const;
    void setMinAeExposure(microseconds_t exposure);
    void setMaxAeExposure(microseconds_t exposure);
    microseconds_t getMinAeExposure() const;
    microseconds_t getMaxAeExposure() const;
    void setTargetExposureTime(microseconds_t exposure);
    microseconds_t getTargetExposureTime() const { return uiTargetExposureTime; }
    void enableCorrection(bool enable) { doAE = enable; }
    bool isCorrectionEnabled() const { return doAE; }

    /* exposure plan and aperture */
    double getApertureFactor() const { return fApertureFactor; }
    void setWavelength(double wavelength);
    void updateFNumber(const FNumberStatus &fnumber);
    void updateFNumDeque();
    void setFixedAeGain(double fixedAeGain);
    double getFixedAeGain() const { return fFixedAeGain; }
    void enableFixedAeGain(bool enabled);
    void setFixedAeExposure(microseconds_t fixedAeExposure);
    microseconds_t getFixedAeExposure() const { return uiFixedAeExposure; }
    void enableFixedAeExposure(bool enabled);
    bool isUnderexposed() const { return underexposed; }
    bool isOverexposed() const { return overexposed; }
    const FNumberStatus &getFNumberStatus() const { return fNumStatus; }
    bool isFNumberConverged() const { return fNumConverged; }
    double getNewGain() const { return fNewGain; }
    microseconds_t getNewExposure() const { return uiNewExposure; }
    double getTargetBrightnessActual() const { return targetBrightnessActual; }

    /* working operations */
    static void normalizeHistogram(const QOR_UINT32 *sourceH, double *destinationH, int nBins);
    static void getHistogramStats(const double *nHistogram, int nBins, double &avgValue, double &underExposureF,
                                  double &overExposureF);
    static void getBackLightMeasure(const double gridStats[7][7], double &foregroundAvg, double &backgroundAvg);
    static double getWeightedStatsBlended(const double gridStats[7][7], double combinationWeight);
    double getBrightnessMetering(const MC_STATS_HIS &histogram, const MC_STATS_EXS &expClipping);
    double getTargetBrightnessByBLC(double level);
    void updateTargetBrightnessActual();
    double autoExposureCtrl(double brightnessMetering, double brightnessTarget, double prevExposure) const;
    void getAutoExposure(double fPixelSize, double fPrevExposure, microseconds_t exposureStep,
                         microseconds_t minExposure, microseconds_t maxExposure, double fMinGain, double fMaxGain,
                         double &newGain, microseconds_t &newExposure, double &newApertureFactor);
    static void adjustExposureStep(microseconds_t exposureStep, microseconds_t minExposure, microseconds_t maxExposure,
                                   microseconds_t targetExposure, double targetGain, microseconds_t &correctedExposure,
                                   double &correctedGain);
    microseconds_t getExposureFixedGain(const double targetExposure, const double fixedGain) const;
    double getGainFixedExposure(const double targetExposure, const microseconds_t fixedExposure) const;

protected:
    QOR_RESULT programCorrection() override;

    std::deque<FNumberStatus> fNumStatuses;
    FNumberStatus fNumStatus;
    bool fNumConverged;
    time_point lastProgramTime;
    time_point startFrameTime;
    time_point startPrevFrameTime;
    time_point startPrevPrevFrameTime;
    double targetBrightnessActual;
    double currentBrightness;
    double targetBrightness;
    double updateSpeed;
    bool flickerRejection;
    bool autoFlickerRejection;
    bool autoFlickerDetectionSupported;
    double flickerFreqConfig;
    double flickerFreq;
    double prevFlickerFreq;
    bool blcAuto;
    double blcLevelConfig;
    double blcLevel;
    double targetBracket;
    bool underexposed, overexposed;
    bool configured;
    double fMinAeGain, fMaxAeGain;
    double fMinSensorGain, fMaxSensorGain;
    double fTargetAeGain;
    microseconds_t uiMinAeExposure, uiMaxAeExposure;
    microseconds_t uiTargetExposureTime;
    microseconds_t uiMinSensorExposure, uiMaxSensorExposure;
    double fSensorFrameDuration;
    double fNewGain;
    microseconds_t uiNewExposure;
    double fApertureFactor;
    double fFixedAeGain;
    bool useFixedAeGain;
    microseconds_t uiFixedAeExposure;
    bool useFixedAeExposure;
    double fWavelength;
    bool doAE;
    bool settingsUpdated;
    double regionOverExp[7][7];
    double regionUnderExp[7][7];
    double regionRatio[7][7];

private:
    /**
     * What a plan takes from the owner sensor besides its exposure and gain: its exposure step, exposure and gain
     * ranges and frame rate. They change without a setter of this control (a new exposure step, another mode).
     */
    struct SensorInputs {
        unsigned long step = 0, minExposure = 0, maxExposure = 0;
        double minGain = 0, maxGain = 0, frameRate = 0;
        bool operator==(const SensorInputs &o) const {
            return step == o.step && minExposure == o.minExposure && maxExposure == o.maxExposure &&
                   minGain == o.minGain && maxGain == o.maxGain && frameRate == o.frameRate;
        }
    };
    static SensorInputs sensorInputsOf(const Sensor &sensor);
    /** Takes the sensor's frame duration and its gain and exposure ranges into the fields the plan reads. */
    void takeSensorRanges(const Sensor &sensor);
    SensorInputs plannedSensor; /**< the sensor's inputs when the last plan was made (or the control configured) */

    /** Rounds an exposure limit to the sensor's step, bounded by the sensor's range. */
    microseconds_t roundedToStep(microseconds_t value) const;
    /** Stores a setting; a new value raises settingsUpdated. */
    template <typename T> void markIfChanged(T &field, T value);
};

} // namespace ISPC

#endif /* ISPC_CONTROLAE_H */
