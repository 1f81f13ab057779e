#ifndef ISPC_CONTROLAWB_H
#define ISPC_CONTROLAWB_H

#include <string>

#include "ispc/ColorCorrection.h"
#include "ispc/ControlModule.h"
#include "ispc/ParameterDef.h"
#include "ispc/TemperatureCorrection.h"
#include "mc/mc_pipeline.h"
#include "mc/mc_stats.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Gain-based automatic white balance, and the base of the PID and Planckian variants. It accumulates the
 * white-balance statistics of a whole measurement (strips), adapts the statistics thresholds, maps three
 * colour averages back to sensor colours, estimates a colour temperature from them, smooths it into the
 * process-wide temperature and programs the correction for it into every pipeline it controls.
 */
class ControlAWB : public ControlModuleBase<CTRL_AWB> {
public:
    enum Correction_Types { WB_NONE = 0, WB_AC, WB_WP, WB_HLW, WB_COMBINED, WB_MANUAL };
    enum TS_State { TS_RESET = 0, TS_SCANNING, TS_FOUND };

    /** State of one adaptive threshold. */
    struct Threshold {
        TS_State currentState = TS_RESET;
        double accumulatedError = 0.0;
        double nextThreshold = 0.0;
        double errorMargin = 0.0;
        double scanningFrames = 0.0;
    };

    static const ParamDef<double> AWB_ESTIMATION_SCALE;   /**< "WB_ESTIMATION_SCALE", 0 to 20, 1 */
    static const ParamDef<double> AWB_ESTIMATION_OFFSET;  /**< "WB_ESTIMATION_OFFSET", -6500 to 6500, 0 */
    static const ParamDef<double> AWB_TARGET_TEMPERATURE; /**< "WB_TARGET_TEMPERATURE", 0 to 100000, 6500 */
    static const ParamDef<double> AWB_TARGET_PIXEL_RATIO; /**< "WB_TARGET_PIXEL_RATIO", 0 to 1, 0.075f */
    static const ParamDef<double> WB_COMBINED_AC_WEIGHT;  /**< 0 to 1, 0.25 */
    static const ParamDef<double> WB_COMBINED_HLW_WEIGHT; /**< 0 to 1, 0.35f */
    static const ParamDef<double> WB_COMBINED_WP_WEIGHT;  /**< 0 to 1, 0.4f */

    explicit ControlAWB(const std::string &logName = "ISPC_CTRL_AWB");
    ~ControlAWB() override = default;

    QOR_RESULT load(const ParameterList &parameters) override;
    using ModuleBase::save;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    QOR_RESULT setPipelineOwner(Pipeline *pipe) override;
    QOR_RESULT update(const Metadata &metadata) override;
    QOR_RESULT configureStatistics() override;
    bool hasConverged() const override { return true; }
    static ParameterGroup getGroup();

    virtual void setTargetTemperature(double t) { targetTemperature = t; }
    virtual double getTargetTemperature() const { return targetTemperature; }
    virtual double getMeasuredTemperature() const { return measuredTemperature; }
    virtual double getCorrectionTemperature() const { return correctionTemperature; }

    void setCorrectionMode(Correction_Types mode) { correctionMode = mode; }
    Correction_Types getCorrectionMode() const { return correctionMode; }
    bool isAutoCorrectionMode() const;
    static const char *CorrectionName(Correction_Types mode);
    void setRedBalance(double v) { redBalance = v; }
    double getRedBalance() const { return redBalance; }
    void setBlueBalance(double v) { blueBalance = v; }
    double getBlueBalance() const { return blueBalance; }
    const TemperatureCorrection &getTemperatureCorrections() const { return colorTempCorrection; }
    TemperatureCorrection &getTemperatureCorrectionsMutable() { return colorTempCorrection; }
    const ColorCorrection &getCurrentCCM() const { return currentCCM; }
    const ColorCorrection &getInverseCCM() const { return inverseCCM; }
    double getWPThreshold(int channel) const;
    double getHLWThreshold() const { return HLWThreshold; }

    QOR_RESULT updateWBNone();
    QOR_RESULT loadCombinedWeights(const ParameterList &parameters);
    QOR_RESULT saveCombinedWeights(ParameterList &parameters, SaveType t) const;

    /* ---- statistics accumulation and processing ---- */
    bool accumulateStats(const MC_STATS_WBS &stats, const MC_WBS &config);
    bool isFrameOrderBroken(const MC_WBS &config) const;
    void resetAccumulatedStats();

    static double estimateThreshold(Threshold &info, double meteredRatio, double targetRatio);
    static void estimateWPThresholds(const MC_STATS_WBS &stats, double imagePixels, double targetPixelRatio,
                                     Threshold &RInfo, Threshold &GInfo, Threshold &BInfo, double &RThreshold,
                                     double &GThreshold, double &BThreshold);
    static double estimateHLWThreshold(const MC_STATS_WBS &stats, double imagePixels, double targetPixelRatio,
                                       Threshold &YInfo);
    static void getACAverages(const MC_STATS_WBS &stats, double imagePixels, double &r, double &g, double &b);
    static void getWPAverages(const MC_STATS_WBS &stats, double imagePixels, double &r, double &g, double &b);
    static void getHLWAverages(const MC_STATS_WBS &stats, double imagePixels, double &r, double &g, double &b);
    /**
     * True when a channel of an average (statistics codes) lies below the few codes that rounding alone gives: the
     * statistics are too dark to read a colour from, and the estimate stays where it was.
     */
    static bool isTooDarkToMeasure(double r, double g, double b);
    /** Multiplies (R, G, B) as a row vector by the correction's matrix, that is by its transpose. */
    static void colorTransform(double R, double G, double B, const ColorCorrection &c, double &tR, double &tG,
                               double &tB);
    /** Undoes a programmed correction given its inverse, on gamma-encoded values (full scale 512). */
    static void invertColorCorrection(double R, double G, double B, const ColorCorrection &invCCM, double &iR,
                                      double &iG, double &iB);
    static double correctTemperature(double t, double offset, double scale);
    static double correctTemperature2(double t, double offset, double scale);

    /**
     * The smoothed temperature every base control of the process shares (0 before any set it). The reset
     * is for tests only: it makes the next control that needs the value start from its own target.
     */
    static double getSharedTemperature();
    static void resetSharedTemperature();

protected:
    QOR_RESULT programCorrection() override;
    /** Correction for measuredTemperature / correctionTemperature, programmed and inverted (Algorithm 3). */
    void applyCorrection();

    QOR_UINT32 imageTotalPixels;
    TemperatureCorrection colorTempCorrection;
    ColorCorrection Uncorrected;
    ColorCorrection currentCCM;
    ColorCorrection inverseCCM;
    double HLWThreshold;
    double WPThresholdR, WPThresholdG, WPThresholdB;
    Threshold thresholdInfoR, thresholdInfoG, thresholdInfoB, thresholdInfoY;
    double estimationScale;
    double estimationOffset;
    Correction_Types correctionMode;
    double targetTemperature;
    double targetPixelRatio;
    double redBalance, blueBalance;
    double combinedWeightAC, combinedWeightHLW, combinedWeightWP;
    bool statisticsRegionProgrammed;
    double measuredTemperature;
    double correctionTemperature;
    bool doAwb;
    bool configured;
    QOR_UINT32 expectedCurrentFrame;
    MC_STATS_WBS accumulatedStats;
    /** Scratch correction of the measured temperature, kept so that an update allocates nothing. */
    ColorCorrection measuredCCM;
};

} // namespace ISPC

#endif /* ISPC_CONTROLAWB_H */
