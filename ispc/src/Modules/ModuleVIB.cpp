#include "ispc/ModuleVIB.h"

#include <algorithm>

#include "ispc/Pipeline.h"

namespace ISPC {

namespace {

struct IdentityCurve {
    double v[ModuleVIB::N_POINTS];
    IdentityCurve() { ModuleVIB::toIndentity(v, ModuleVIB::N_POINTS); }
};
const IdentityCurve kIdentity;

/** The piecewise-linear curve through (0, 0), (p1, q1), (p2, q2) and (1, 1) at i/31. */
void threeSegments(double p1, double q1, double p2, double q2, double *c) {
    const double a = p1 > 0.0 ? q1 / p1 : 0.0;
    const double b = p1 < p2 ? (q2 - q1) / (p2 - p1) : 0.0;
    const double d = p2 < 1.0 ? (1.0 - q2) / (1.0 - p2) : 0.0;
    for (int i = 0; i < ModuleVIB::N_POINTS; i++) {
        const double x = i / 31.0;
        if (x <= p1) {
            c[i] = a * x;
        } else if (x <= p2) {
            c[i] = b * x + (q1 - b * p1);
        } else {
            c[i] = d * x + (q2 - d * p2);
        }
    }
}

} // namespace

const ParamDefSingle<bool> ModuleVIB::VIB_ON("MIE_VIB_ON", false);
const ParamDefArray<double> ModuleVIB::VIB_SATURATION_CURVE("MIE_VIB_SAT_CURVE", 0.0, 1.0, kIdentity.v, N_POINTS);

const char *const ModuleVIB::GROUP_NAME = "ModuleVIB";
const char *const ModuleVIB::GROUP_HEADER = "// Vibrancy parameters";

const std::vector<ModuleVIB::Binding> &ModuleVIB::bindings() {
    static const std::vector<Binding> table = {
        bind(VIB_ON, &ModuleVIB::bVibrancyOn),
        bind(VIB_SATURATION_CURVE, &ModuleVIB::aSaturationCurve),
    };
    return table;
}

ModuleVIB::ModuleVIB() : SetupModuleImpl<ModuleVIB, STP_VIB>("ISPC_MOD_VIB"), bVibrancyOn(false) {
    toIndentity(aSaturationCurve, N_POINTS);
    loadDefaults();
}

void ModuleVIB::gainsFromSaturationCurve(const double *satCurve, double *satGains) {
    satGains[0] = 1.0;
    for (int i = 1; i < N_POINTS; i++) {
        satGains[i] = satCurve[i] / (i / 31.0);
    }
}

void ModuleVIB::toIndentity(double *curve, int s) {
    curve[0] = 0.0;
    for (int i = 1; i < s; i++) {
        curve[i] = static_cast<double>(i) / static_cast<double>(s - 1);
    }
}

void ModuleVIB::saturationCurve(double in1, double out1, double in2, double out2, double *satCurve) {
    if (in1 > in2) {
        std::swap(in1, in2);
        std::swap(out1, out2);
    }
    threeSegments(in1, out1, in2, out2, satCurve);
}

void ModuleVIB::setupDoublePoints(double in1, double out1, double in2, double out2, double *satMult) {
    double c[N_POINTS];
    threeSegments(in1, out1, std::max(in1, in2), out2, c);
    double s[N_POINTS];
    for (int i = 0; i < N_POINTS; i++) {
        s[i] = (i >= 2 && i <= 29) ? ((((c[i - 2] + c[i - 1]) + c[i]) + c[i + 1]) + c[i + 2]) / 5 : c[i];
    }
    satMult[0] = in1 > 0.0 ? out1 / in1 : 1.0;
    for (int i = 1; i < N_POINTS; i++) {
        satMult[i] = s[i] / (i / 31.0);
    }
}

QOR_RESULT ModuleVIB::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleVIB::writeSetup(MC_PIPELINE &mc) {
    mc.sMIE.bVibrancy = bVibrancyOn ? QOR_TRUE : QOR_FALSE;
    gainsFromSaturationCurve(aSaturationCurve, mc.sMIE.aVibrancySatMul);
    markUpdated(mc.sMIE);
    return QOR_RES_OK;
}

} // namespace ISPC
