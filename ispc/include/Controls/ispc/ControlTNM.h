#ifndef ISPC_CONTROLTNM_H
#define ISPC_CONTROLTNM_H

#include <ostream>
#include <string>

#include "ispc/ControlModule.h"
#include "ispc/Matrix.h"
#include "ispc/ParameterDef.h"
#include "qor_errors.h"

namespace ISPC {

/**
 * Global tone mapping from each frame's 64-bin luma histogram: the histogram is normalised to its peak,
 * clipped, smoothed, normalised, tempered (raised to a power that flattens peaky histograms) and
 * accumulated into a 65-point curve, which is blended into the curve kept from earlier frames and
 * written into the tone mapper of every pipeline in the list. In adaptive mode the written curve leans
 * toward a straight line, and weight moves to local tone mapping, as the sensor gain rises from unity
 * to its maximum. Log name "ISPC_CTRL_TNM"; the static operations log under that tag too.
 */
class ControlTNM : public ControlModuleBase<CTRL_TNM> {
public:
    static constexpr int HIST_BINS = 64;
    static constexpr int CURVE_POINTS = 65;

    static const ParamDef<float> TNMC_TEMPERING;      /**< "TNMC_TEMPERING", 0 to 1, 0.2 */
    static const ParamDef<float> TNMC_HISTMIN;        /**< "TNMC_HIST_CLIP_MIN", 0 to 1, 0.035 */
    static const ParamDef<float> TNMC_HISTMAX;        /**< "TNMC_HIST_CLIP_MAX", 0 to 1, 0.25 */
    static const ParamDef<float> TNMC_SMOOTHING;      /**< "TNMC_SMOOTHING", 0 to 1, 0.4 */
    static const ParamDef<float> TNMC_UPDATESPEED;    /**< "TNMC_UPDATE_SPEED", 0 to 1, 0.5 */
    static const ParamDefSingle<bool> TNMC_LOCAL;     /**< "TNMC_LOCAL", false */
    static const ParamDef<float> TNMC_LOCAL_STRENGTH; /**< "TNMC_LOCALSTRENGTH", 0 to 1, 0 */
    static const ParamDefSingle<bool> TNMC_ADAPTIVE;  /**< "TNMC_ADAPTIVE", false */

    explicit ControlTNM(const std::string &logname = "ISPC_CTRL_TNM");

    QOR_RESULT load(const ParameterList &parameters) override;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    using ModuleBase::save;
    /** Header "// Tone Mapper Control parameters" and the eight tags. */
    static ParameterGroup getGroup();
    std::ostream &printState(std::ostream &os) const override;

    /** Switches the owner pipeline's global histogram on when allowed (setAllowHISConfig). */
    QOR_RESULT configureStatistics() override;
    /** One frame: adaptive strength from the gain, histogram, new curve, then programCorrection. */
    QOR_RESULT update(const Metadata &metadata) override;
    bool hasConverged() const override { return true; }

    /* Numeric settings: 0 when 0 <= value <= 1 (stored), else 11 with an error and the value kept. */
    QOR_RESULT setHistMin(double value);
    double getHistMin() const { return histMin; }
    QOR_RESULT setHistMax(double value);
    double getHistMax() const { return histMax; }
    QOR_RESULT setTempering(double value);
    double getTempering() const { return tempering; }
    QOR_RESULT setSmoothing(double value);
    double getSmoothing() const { return smoothing; }
    QOR_RESULT setUpdateSpeed(double value);
    double getUpdateSpeed() const { return updateSpeed; }
    QOR_RESULT setLocalStrength(double value);
    double getLocalStrength() const { return localStrength; }

    /* Switches; they take effect at the next configureStatistics or update. */
    void enableLocalTNM(bool enable) { localTNM = enable; }
    bool getLocalTNM() const { return localTNM; }
    void enableAdaptiveTNM(bool enable) { adaptiveTNM = enable; }
    bool getAdaptiveTNM() const { return adaptiveTNM; }
    void setAllowHISConfig(bool allow) { configureHis = allow; }
    bool getAllowHISConfig() const { return configureHis; }

    double getAdaptiveStrength() const { return adaptiveStrength; }
    /** The curve kept across frames: point k (0 to 64) is the output for input k/64. */
    const Matrix &getMappingCurve() const { return mappingCurve; }
    /** The histogram as the last update left it (after tempering and normalisation). */
    const Matrix &getHistogram() const { return histogram; }

    /* Static operations on 1 x 64 histograms and 1 x 65 curves; other sizes give an error and 11. */
    /** Every bin 1/64. */
    static QOR_RESULT resetHistogram(Matrix &hist);
    /** Point k = k/64. */
    static QOR_RESULT resetCurve(Matrix &curve);
    /** Bin i = the frame's global histogram bin i, not normalised. */
    static void loadHistogram(const Metadata &metadata, Matrix &hist);
    /** The seven-tap smoothing, end taps folded onto the end bins, from a copy of the input. */
    static QOR_RESULT smoothHistogram(Matrix &hist);
    /** hist = (1 - amount) hist + amount smoothed(hist); an amount outside [0, 1] is taken as 0. */
    static QOR_RESULT smoothHistogram(Matrix &hist, double amount);
    /** A[0] = 0, A[k] = A[k - 1] + hist[k - 1], A[64] = 1 exactly; zeros for a wrong size. */
    static Matrix accumulateHistogram(const Matrix &hist);
    /**
     * The equalised curve of hist (processed in place) blended into mappingCurve by updateSpeed; an
     * all-zero histogram resets mappingCurve to the identity at once.
     */
    static void generateMappingCurve(Matrix &hist, double minHist, double maxHist, double smoothing, double tempering,
                                     double updateSpeed, Matrix &mappingCurve);

protected:
    /** Writes the curve points 1 to 63 and the local weight into the tone mapper of every pipeline. */
    QOR_RESULT programCorrection() override;

    double adaptiveStrength;
    double histMin;
    double histMax;
    double smoothing;
    double tempering;
    double updateSpeed;
    Matrix histogram;
    Matrix mappingCurve;
    bool localTNM;
    bool adaptiveTNM;
    double localStrength;
    bool configureHis;
};

} // namespace ISPC

#endif /* ISPC_CONTROLTNM_H */
