#include "ispc/TemperatureCorrection.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
constexpr const char *kTag = "ISPC_TEMPCTRL";
constexpr double kDefaultTemperature = 6500.0;

const double kCcmDef[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
const double kOffsetsDef[3] = {0, 0, 0};
const double kGainsDef[4] = {1, 1, 1, 1};

/** McCamy's cubic, in the sign of n used here, with its integer coefficients. */
double mcCamy(double R, double G, double B) {
    const double X = 0.4124 * R + 0.3576 * G + 0.1805 * B;
    const double Y = 0.2126 * R + 0.7152 * G + 0.0722 * B;
    const double Z = 0.0193 * R + 0.1192 * G + 0.9505 * B;
    const double s = X + Y + Z;
    const double x = X / s, y = Y / s;
    const double n = (x - 0.332) / (y - 0.1858);
    return -449.0 * n * n * n + 3525.0 * n * n - 6823.0 * n + 5520.0;
}

/** Smallest ratio the calibrated method takes the logarithm of: a zero channel stays finite. */
constexpr double kMinRatio = 1e-6;

} // namespace

/* ---- LineSegment ---- */

LineSegment::LineSegment(double _x1, double _y1, double _x2, double _y2, double _t1, double t2)
    : x1(_x1), y1(_y1), t1(_t1), x2(_x2), y2(_y2), lowBound(true), highBound(true) {
    lengthPow2 = getLengthPow2(x1, y1, x2, y2);
    length = std::sqrt(lengthPow2);
    temperatureDensity = (t2 - t1) / length;
}

double LineSegment::getLengthPow2(double ax, double ay, double bx, double by) {
    return (bx - ax) * (bx - ax) + (by - ay) * (by - ay);
}

double LineSegment::getLength(double ax, double ay, double bx, double by) {
    return std::sqrt(getLengthPow2(ax, ay, bx, by));
}

void LineSegment::getRbProj(double R, double B, double &Xp, double &Yp) const {
    const double dx = x2 - x1, dy = y2 - y1;
    const double c = y1 * dx - x1 * dy;
    Xp = (dx * (dx * R + dy * B) - dy * c) / (dx * dx + dy * dy);
    Yp = (Xp * dy + c) / dx;
    if (lowBound) {
        if ((x1 <= x2 && Xp < x1) || (x1 >= x2 && Xp > x1))
            Xp = x1;
        if ((y1 <= y2 && Yp < y1) || (y1 >= y2 && Yp > y1))
            Yp = y1;
    }
    if (highBound) {
        if ((x1 <= x2 && Xp > x2) || (x1 >= x2 && Xp < x2))
            Xp = x2;
        if ((y1 <= y2 && Yp > y2) || (y1 >= y2 && Yp < y2))
            Yp = y2;
    }
}

double LineSegment::getDistancePow2(double R, double B) const {
    if (x1 == x2 && y1 == y2) {
        return getLengthPow2(R, B, x1, y1);
    }
    double Xp = 0.0, Yp = 0.0;
    getRbProj(R, B, Xp, Yp);
    return getLengthPow2(R, B, Xp, Yp);
}

double LineSegment::getTemperature(double R, double B) const {
    double Xp = 0.0, Yp = 0.0;
    getRbProj(R, B, Xp, Yp);
    const double d = getLength(x1, y1, Xp, Yp);
    const double s = (x2 - x1) * (x1 - Xp) >= 0.0 ? -1.0 : 1.0;
    return t1 + s * d * temperatureDensity;
}

/* ---- LineSegments ---- */

LineSegments::const_iterator LineSegments::getClosestLine(double R, double B) const {
    double best = DBL_MAX;
    const_iterator closest = end();
    for (const_iterator it = begin(); it != end(); ++it) {
        const double d = it->getDistancePow2(R, B);
        if (d < best) {
            best = d;
            closest = it;
        }
    }
    return closest;
}

bool LineSegments::getRbProj(double R, double B, double &Xp, double &Yp) const {
    const_iterator it = getClosestLine(R, B);
    if (it == end()) {
        return false;
    }
    it->getRbProj(R, B, Xp, Yp);
    return true;
}

double LineSegments::getTemperature(double R, double B) const {
    const_iterator it = getClosestLine(R, B);
    return it == end() ? kDefaultTemperature : it->getTemperature(R, B);
}

/* ---- TemperatureCorrection ---- */

const ParamDef<int> TemperatureCorrection::WB_CORRECTIONS("WB_CORRECTIONS", 0, MAX_CORRECTIONS, 0);
const ParamDef<double> TemperatureCorrection::WB_TEMPERATURE_S("WB_TEMPERATURE", 0.0, 100000.0, 0.0);
const ParamDefArray<double> TemperatureCorrection::WB_CCM_S("WB_CCM", -4.0, 3.998046875, kCcmDef, 9);
const ParamDefArray<double> TemperatureCorrection::WB_OFFSETS_S("WB_OFFSETS", -256.0, 255.875, kOffsetsDef, 3);
const ParamDefArray<double> TemperatureCorrection::WB_GAINS_S("WB_GAINS", 0.5, 8.0, kGainsDef, 4);

const double (&TemperatureCorrection::correlatedTemperature())[16][16] {
    // Rows R/G 0.5, 1.0 and 2.0 are the calibrated values; the others follow McCamy's cubic on the linear
    // ratios (8.5 K above it, as the given rows lie) and share the cap.
    struct Table {
        double t[16][16];
        Table() {
            static const double given[3][16] = {{6278.4, 6683.9, 7140.2, 7655.9, 8241.4, 8909.4, 9675.6, 10559.5,
                                                 11585.8, 12500, 12500, 12500, 12500, 12500, 12500, 12500},
                                                {4884.2, 5142.2, 5429.2, 5749.6, 6108.6, 6512.3, 6968.4, 7485.9, 8076.0,
                                                 8752.4, 9532.3, 10437.0, 11493.7, 12500, 12500, 12500},
                                                {3281.1, 3393.2, 3515.9, 3650.3, 3798.1, 3960.9, 4140.9, 4340.2, 4561.9,
                                                 4809.2, 5086.0, 5397.1, 5748.2, 6146.1, 6599.4, 7118.3}};
            for (int i = 0; i < 16; i++) {
                for (int j = 0; j < 16; j++) {
                    const double v = mcCamy(0.5 + 0.1 * i, 1.0, 0.5 + 0.1 * j) + 8.5;
                    t[i][j] = std::min(12500.0, v);
                }
            }
            for (int j = 0; j < 16; j++) {
                t[0][j] = given[0][j];
                t[5][j] = given[1][j];
                t[15][j] = given[2][j];
            }
        }
    };
    static const Table table;
    return table.t;
}

void TemperatureCorrection::addCorrection(const ColorCorrection &c) {
    temperatureCorrections.push_back(c);
    std::sort(temperatureCorrections.begin(), temperatureCorrections.end());
}

void TemperatureCorrection::clearCorrections() { temperatureCorrections.clear(); }

int TemperatureCorrection::getCorrectionIndex(double t) const {
    for (size_t i = 0; i < temperatureCorrections.size(); i++) {
        if (temperatureCorrections[i].temperature == t) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

ColorCorrection TemperatureCorrection::getCorrection(unsigned i) const {
    return i < temperatureCorrections.size() ? temperatureCorrections[i] : ColorCorrection();
}

ColorCorrection TemperatureCorrection::getColorCorrection(double t) const {
    ColorCorrection out;
    getColorCorrection(t, out);
    return out;
}

void TemperatureCorrection::getColorCorrection(double t, ColorCorrection &out) const {
    if (temperatureCorrections.size() < 2) {
        static const ColorCorrection identity;
        out = identity;
        return;
    }
    const ColorCorrection *lower = &temperatureCorrections.front();
    const ColorCorrection *upper = lower;
    for (const ColorCorrection &c : temperatureCorrections) {
        if (c.temperature <= t) {
            lower = &c;
        }
        upper = &c;
        if (c.temperature >= t) {
            break;
        }
    }
    if (lower->temperature == upper->temperature) {
        out = *lower;
        return;
    }
    const double w = (t - lower->temperature) / (upper->temperature - lower->temperature);
    lower->blendInto(*upper, w, out);
    out.temperature = t;
}

double TemperatureCorrection::getMinGain(int index) const {
    if (lines.empty()) {
        return WB_GAINS_S.min;
    }
    double m = DBL_MAX;
    for (const ColorCorrection &c : temperatureCorrections) {
        m = std::min(m, c.gains[0][index]);
    }
    return m;
}

double TemperatureCorrection::getMaxGain(int index) const {
    if (lines.empty()) {
        return WB_GAINS_S.max;
    }
    double m = -DBL_MAX;
    for (const ColorCorrection &c : temperatureCorrections) {
        m = std::max(m, c.gains[0][index]);
    }
    return m;
}

QOR_RESULT TemperatureCorrection::loadParameters(const ParameterList &parameters) {
    if (!parameters.exists(WB_CORRECTIONS.name)) {
        LOG_Warning("loadParameters", __LINE__, kTag,
                    "Unable to load temperature corrections from parameters. '%s' not defined\n",
                    WB_CORRECTIONS.name.c_str());
        return QOR_RES_INVALID_PARAM;
    }
    const int n = parameters.getParameter(WB_CORRECTIONS);
    temperatureCorrections.clear();
    lines.clear();
    for (int i = 0; i < n; i++) {
        const unsigned idx = static_cast<unsigned>(i);
        ColorCorrection c;
        c.temperature = parameters.getParameter(WB_TEMPERATURE_S.indexed(idx));
        const ParamDefArray<double> ccm = WB_CCM_S.indexed(idx);
        for (unsigned k = 0; k < 9; k++) {
            c.coefficients[static_cast<int>(k / 3)][static_cast<int>(k % 3)] = parameters.getParameter(ccm, k);
        }
        const ParamDefArray<double> offs = WB_OFFSETS_S.indexed(idx);
        for (unsigned k = 0; k < 3; k++) {
            c.offsets[0][static_cast<int>(k)] = parameters.getParameter(offs, k);
        }
        const ParamDefArray<double> gns = WB_GAINS_S.indexed(idx);
        for (unsigned k = 0; k < 4; k++) {
            c.gains[0][static_cast<int>(k)] = parameters.getParameter(gns, k);
        }
        LOG_Info("loadParameters", __LINE__, kTag, "loaded correction for temperature %.2lf\n", c.temperature);
        c.initialized = true;
        addCorrection(c);
    }
    if (temperatureCorrections.size() < 2) {
        LOG_Warning("loadParameters", __LINE__, kTag,
                    "Less than 2 calibration points loaded - can't approximate temperature!\n");
        return QOR_RES_OK;
    }
    buildLocus();
    return QOR_RES_OK;
}

void TemperatureCorrection::buildLocus() {
    ColorCorrection ref;
    getColorCorrection(kDefaultTemperature, ref);
    const double gR = ref.initialized ? ref.gains[0][0] : 1.0;
    const double gB = ref.initialized ? ref.gains[0][3] : 1.0;
    LineSegments built;
    for (size_t i = 0; i + 1 < temperatureCorrections.size(); i++) {
        const ColorCorrection &a = temperatureCorrections[i];
        const ColorCorrection &b = temperatureCorrections[i + 1];
        const double xa = std::log2(gR / a.gains[0][0]), ya = std::log2(gB / a.gains[0][3]);
        const double xb = std::log2(gR / b.gains[0][0]), yb = std::log2(gB / b.gains[0][3]);
        // A segment whose ends share the red coordinate (equal red gains, or two equal points) has no
        // projection in these coordinates: such a calibration gets no locus and the estimate falls back
        // to McCamy's method, rather than a division by zero that would poison the shared temperature.
        if (!(xa != xb) || !std::isfinite(xa) || !std::isfinite(xb) || !std::isfinite(ya) || !std::isfinite(yb)) {
            LOG_Error("loadParameters", __LINE__, kTag,
                      "Calibration points at %.2lf K and %.2lf K share a red gain - no temperature locus built\n",
                      a.temperature, b.temperature);
            return;
        }
        built.push_back(LineSegment(xa, ya, xb, yb, a.temperature, b.temperature));
    }
    built.front().lowBound = false;
    built.back().highBound = false;
    lines.swap(built);
}

QOR_RESULT TemperatureCorrection::saveParameters(ParameterList &parameters, ModuleBase::SaveType t) const {
    static const ParameterGroup group = getGroup();
    parameters.addGroup("TemperatureCorrection", group);
    switch (t) {
    case ModuleBase::SAVE_VAL: {
        parameters.addParameter(WB_CORRECTIONS, size(), true);
        for (size_t i = 0; i < temperatureCorrections.size(); i++) {
            const unsigned idx = static_cast<unsigned>(i);
            const ColorCorrection &c = temperatureCorrections[i];
            parameters.addParameter(WB_TEMPERATURE_S.indexed(idx), c.temperature, true);
            std::vector<std::string> ccm, offs, gns;
            for (int k = 0; k < 9; k++)
                ccm.push_back(toString(c.coefficients[k / 3][k % 3]));
            for (int k = 0; k < 3; k++)
                offs.push_back(toString(c.offsets[0][k]));
            for (int k = 0; k < 4; k++)
                gns.push_back(toString(c.gains[0][k]));
            parameters.addParameter(WB_CCM_S.indexed(idx), ccm, true);
            parameters.addParameter(WB_OFFSETS_S.indexed(idx), offs, true);
            parameters.addParameter(WB_GAINS_S.indexed(idx), gns, true);
        }
        break;
    }
    case ModuleBase::SAVE_MIN:
    case ModuleBase::SAVE_MAX:
    case ModuleBase::SAVE_DEF:
        saveParameter(parameters, t, WB_CORRECTIONS, 0);
        saveParameter(parameters, t, WB_TEMPERATURE_S.indexed(0), 0.0);
        saveParameter(parameters, t, WB_CCM_S.indexed(0), std::vector<std::string>());
        saveParameter(parameters, t, WB_OFFSETS_S.indexed(0), std::vector<std::string>());
        saveParameter(parameters, t, WB_GAINS_S.indexed(0), std::vector<std::string>());
        break;
    default:
        break;
    }
    return QOR_RES_OK;
}

ParameterGroup TemperatureCorrection::getGroup() {
    ParameterGroup g;
    g.header = "// Temperature Correction parameters (Multi-CCM for AWB)";
    g.parameters.insert(WB_CORRECTIONS.name);
    for (unsigned i = 0; i < static_cast<unsigned>(MAX_CORRECTIONS); i++) {
        g.parameters.insert(WB_TEMPERATURE_S.indexed(i).name);
        g.parameters.insert(WB_CCM_S.indexed(i).name);
        g.parameters.insert(WB_OFFSETS_S.indexed(i).name);
        g.parameters.insert(WB_GAINS_S.indexed(i).name);
    }
    return g;
}

double TemperatureCorrection::getCorrelatedTemperature(double r, double g, double b) const {
    // Past the calibrated ends the locus extrapolates; statistics too dark to read a colour from are kept away
    // from here by the controls, which leave their estimates unchanged instead.
    return hasCalibrationPoints() ? getCorrelatedTemperature_Calibrated(r, g, b)
                                  : getCorrelatedTemperature_McCamy(r, g, b, true);
}

double TemperatureCorrection::getCorrelatedTemperature_Calibrated(double r, double g, double b) const {
    if (!std::isfinite(r))
        r = 1.0;
    if (!std::isfinite(b))
        b = 1.0;
    if (!std::isfinite(g) || g == 0.0)
        g = 1.0;
    if (lines.empty()) {
        return kDefaultTemperature;
    }
    // A black measurement says nothing about the light: the neutral temperature. A single zero (or
    // negative) channel is taken at a tiny ratio so that the logarithm stays finite.
    if (r <= 0.0 && b <= 0.0) {
        return kDefaultTemperature;
    }
    const double R = std::max(r / g, kMinRatio), B = std::max(b / g, kMinRatio);
    const double t = lines.getTemperature(std::log2(R), std::log2(B));
    return std::isfinite(t) ? t : kDefaultTemperature;
}

double TemperatureCorrection::getCorrelatedTemperature_McCamy(double r, double g, double b, bool gammaCorrection) {
    double m = r > g ? r : g;
    if (b >= m)
        m = b;
    // a black or non-finite triple has no chromaticity: the neutral temperature
    if (!(m > 0.0) || !std::isfinite(m) || !std::isfinite(r) || !std::isfinite(g) || !std::isfinite(b)) {
        return kDefaultTemperature;
    }
    double v[3] = {r / m, g / m, b / m};
    if (gammaCorrection) {
        for (double &c : v) {
            c = c > 0.04045 ? std::pow((c + 0.055) / 1.055, 2.4) : c / 12.92;
        }
    }
    const double t = mcCamy(v[0] * 100.0, v[1] * 100.0, v[2] * 100.0);
    return std::isfinite(t) ? t : kDefaultTemperature;
}

double TemperatureCorrection::getCorrelatedTemperature_sRGB(double r, double g, double b) {
    if (!std::isfinite(r))
        r = 1.0;
    if (!std::isfinite(g) || g == 0.0)
        g = 1.0;
    if (!std::isfinite(b))
        b = 1.0;
    struct Index {
        int lo, hi;
        double f;
    };
    auto index = [](double ratio) {
        if (ratio < 0.5)
            return Index{0, 0, 0.0};
        if (ratio > 2.0)
            return Index{15, 15, 0.0};
        const double h = (ratio - 0.5) / 1.5 * 15.0;
        const double fl = std::floor(h);
        return Index{static_cast<int>(fl), static_cast<int>(std::ceil(h)), h - fl};
    };
    const Index R = index(r / g), B = index(b / g);
    const double(&T)[16][16] = correlatedTemperature();
    return (1.0 - R.f) * ((1.0 - B.f) * T[R.lo][B.lo] + B.f * T[R.lo][B.hi]) +
           R.f * ((1.0 - B.f) * T[R.hi][B.lo] + B.f * T[R.hi][B.hi]);
}

} // namespace ISPC
