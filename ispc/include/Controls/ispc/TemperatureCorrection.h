#ifndef ISPC_TEMPERATURECORRECTION_H
#define ISPC_TEMPERATURECORRECTION_H

#include <list>
#include <vector>

#include "ispc/ColorCorrection.h"
#include "ispc/ModuleBase.h"
#include "ispc/Parameter.h"
#include "ispc/ParameterDef.h"
#include "qor_errors.h"

namespace ISPC {

/** One piece of the white locus, in (log2 red ratio, log2 blue ratio) coordinates. */
class LineSegment {
public:
    LineSegment(double x1, double y1, double x2, double y2, double t1, double t2);

    static double getLengthPow2(double x1, double y1, double x2, double y2);
    static double getLength(double x1, double y1, double x2, double y2);

    /** Projection of (ratioR, ratioB) on the segment's line, clamped at the bounded ends. */
    void getRbProj(double ratioR, double ratioB, double &Xp, double &Yp) const;
    double getDistancePow2(double ratioR, double ratioB) const;
    /** Temperature of the projection: interpolated inside, extrapolated beyond an open end. */
    double getTemperature(double ratioR, double ratioB) const;

    double x1, y1, t1, x2, y2;
    bool lowBound;
    bool highBound;
    double length;
    double lengthPow2;
    double temperatureDensity; /**< kelvin per unit of distance */
};

/** The locus: segments in ascending temperature. */
class LineSegments : public std::list<LineSegment> {
public:
    /** The closest segment (ties go to the cooler one); end() when no distance is finite. */
    const_iterator getClosestLine(double ratioR, double ratioB) const;
    bool getRbProj(double ratioR, double ratioB, double &Xp, double &Yp) const;
    /** 6500 without segments or without a closest one. */
    double getTemperature(double ratioR, double ratioB) const;
};

/**
 * The colour calibration of a sensor: up to 20 corrections sorted by temperature, the white locus built
 * from their gains, interpolation of corrections and three estimators of the correlated colour
 * temperature. Log tag "ISPC_TEMPCTRL".
 */
class TemperatureCorrection {
public:
    static const ParamDef<int> WB_CORRECTIONS;       /**< "WB_CORRECTIONS", 0 to 20 */
    static const ParamDef<double> WB_TEMPERATURE_S;  /**< "WB_TEMPERATURE" + _i */
    static const ParamDefArray<double> WB_CCM_S;     /**< "WB_CCM" + _i, 9 values */
    static const ParamDefArray<double> WB_OFFSETS_S; /**< "WB_OFFSETS" + _i, 3 values */
    static const ParamDefArray<double> WB_GAINS_S;   /**< "WB_GAINS" + _i, 4 values */
    static const int MAX_CORRECTIONS = 20;
    /** sRGB table, [R/G index][B/G index], index k for the ratio 0.5 + 0.1 k; capped at 12500 K. */
    static const double (&correlatedTemperature())[16][16];

    TemperatureCorrection() = default;

    void addCorrection(const ColorCorrection &c);
    /** Removes every correction; the locus stays. */
    void clearCorrections();
    int size() const { return static_cast<int>(temperatureCorrections.size()); }
    bool hasCalibrationPoints() const { return !lines.empty(); }
    int getCorrectionIndex(double t) const;
    ColorCorrection getCorrection(unsigned i) const;
    /** The correction of temperature t (interpolated, clamped at the ends; identity with fewer than two). */
    ColorCorrection getColorCorrection(double t) const;
    /** The same into out without allocating (its matrices must have their sizes, as any correction has). */
    void getColorCorrection(double t, ColorCorrection &out) const;
    double getMinGain(int index) const;
    double getMaxGain(int index) const;
    const LineSegments &getLines() const { return lines; }

    QOR_RESULT loadParameters(const ParameterList &parameters);
    QOR_RESULT saveParameters(ParameterList &parameters, ModuleBase::SaveType t) const;
    static ParameterGroup getGroup();

    /**
     * Calibrated locus when there is one (extrapolated past the lowest and highest calibrated temperatures); else
     * McCamy with sRGB decoding. Always finite.
     */
    double getCorrelatedTemperature(double r, double g, double b) const;
    double getCorrelatedTemperature_Calibrated(double r, double g, double b) const;
    static double getCorrelatedTemperature_McCamy(double r, double g, double b, bool gammaCorrection);
    static double getCorrelatedTemperature_sRGB(double r, double g, double b);

private:
    /** The locus from the sorted corrections; refused (left empty) when two neighbours share a red gain. */
    void buildLocus();

    std::vector<ColorCorrection> temperatureCorrections;
    LineSegments lines;
};

} // namespace ISPC

#endif /* ISPC_TEMPERATURECORRECTION_H */
