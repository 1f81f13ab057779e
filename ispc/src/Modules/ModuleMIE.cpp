#include "ispc/ModuleMIE.h"

#include <cmath>
#include <string>
#include <utility>

#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2YBase.h"
#include "ispc/Pipeline.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {

constexpr const char *kTag = "ISPC_MOD_MIE";

const double mie_ccenter_def[2] = {0.0, 0.0};
const double mie_ygains_def[4] = {0.0, 0.0, 0.0, 0.0};
const double mie_cextent_def[4] = {0.5, 0.5, 0.5, 0.5};

/* The register images were made with this value of pi. */
constexpr double kPi = 3.14159;

/** A rotation term in the block's 1/128 steps: a multiple of 1/128 from -1 to 127/128. */
double rotationStep(double v) { return std::ceil(std::fma(127.5, v, -0.5)) / 128.0; }

/** The best slice value s (0 to 254) for multiplier k against g and its error; ties keep the smaller s. */
double bestSlice(int k, double g, int &best) {
    double err = std::fabs(0.0 - g);
    best = 0;
    for (int s = 1; s <= 254; s++) {
        const double e = std::fabs(static_cast<double>(s * k) - g);
        if (e < err) {
            err = e;
            best = s;
        }
    }
    return err;
}

} // namespace

const ParamDef<double> ModuleMIE::MIE_BLC("MIE_BLACK_LEVEL", 0.0, 1.0, 0.0625);
const ParamDef<unsigned int> ModuleMIE::MIE_MEMORY_COLOURS("MIE_MEMORY_COLOURS", 0, 9, 3);
const ParamDefSingle<bool> ModuleMIE::MIE_ENABLED_S("MIE_ENABLED", false);
const ParamDef<double> ModuleMIE::MIE_YMIN_S("MIE_YMIN", 0.0, 1.0, 0.0);
const ParamDef<double> ModuleMIE::MIE_YMAX_S("MIE_YMAX", 0.0, 2.0, 1.0);
const ParamDefArray<double> ModuleMIE::MIE_CCENTER_S("MIE_CCENTER", -0.5, 0.5, mie_ccenter_def, 2);
const ParamDefArray<double> ModuleMIE::MIE_YGAINS_S("MIE_YGAINS", 0.0, 1.0, mie_ygains_def, 4);
const ParamDefArray<double> ModuleMIE::MIE_CEXTENT_S("MIE_CEXTENT", 0.0039, 4.0, mie_cextent_def, 4);
const ParamDef<double> ModuleMIE::MIE_CASPECT_S("MIE_CASPECT", -2.0, 2.0, 0.0);
const ParamDef<double> ModuleMIE::MIE_CROTATION_S("MIE_CROTATION", -1.0, 1.0, 0.0);
const ParamDef<double> ModuleMIE::MIE_OUT_BRIGHTNESS_S("MIE_OUT_BRIGHTNESS", -1.0, 1.0, 0.0);
const ParamDef<double> ModuleMIE::MIE_OUT_CONTRAST_S("MIE_OUT_CONTRAST", 0.0, 4.0, 1.0);
const ParamDef<double> ModuleMIE::MIE_OUT_SATURATION_S("MIE_OUT_SATURATION", 0.0, 4.0, 1.0);
const ParamDef<double> ModuleMIE::MIE_OUT_HUE_S("MIE_OUT_HUE", -1.0, 1.0, 0.0);

const char *const ModuleMIE::GROUP_NAME = "ModuleMIE";
const char *const ModuleMIE::GROUP_HEADER = "// Image Enhancer parameters";

void checkDeprecated(const ParameterList &parameters) {
    static const char *const kDeprecated[] = {
        "MIE_MC_ON",         "MIE_MC_YMIN",      "MIE_MC_YMAX",       "MIE_MC_YGAIN_1", "MIE_MC_YGAIN_2",
        "MIE_MC_YGAIN_3",    "MIE_MC_YGAIN_4",   "MIE_MC_CB0",        "MIE_MC_CR0",     "MIE_MC_CEXTENT_1",
        "MIE_MC_CEXTENT_2",  "MIE_MC_CEXTENT_3", "MIE_MC_CEXTENT_4",  "MIE_MC_CASPECT", "MIE_MC_CROTATION",
        "MIE_MC_BRIGHTNESS", "MIE_MC_CONTRAST",  "MIE_MC_SATURATION", "MIE_MC_HUE"};
    for (const char *tag : kDeprecated) {
        if (parameters.exists(tag)) {
            LOG_Warning("checkDeprecated", __LINE__, kTag, "%s is deprecated! Update your MIE settings.\n", tag);
        }
    }
}

const std::vector<ModuleMIE::Binding> &ModuleMIE::bindings() {
    static const std::vector<Binding> table = {
        bind(MIE_BLC, &ModuleMIE::fBlackLevel),
        custom(
            MIE_MEMORY_COLOURS.name, [](ModuleMIE &m, const ParameterList &l) { m.loadSets(l); },
            [](const ModuleMIE &m, ParameterList &l, ModuleBase::SaveType t) { m.saveSets(l, t); }),
    };
    return table;
}

ParameterGroup ModuleMIE::GetGroup() {
    ParameterGroup g;
    g.header = GROUP_HEADER;
    g.parameters.insert(MIE_BLC.name);
    g.parameters.insert(MIE_MEMORY_COLOURS.name);
    for (unsigned i = 0; i < MIE_MEMORY_COLOURS.max; i++) {
        for (const std::string &tag :
             {MIE_ENABLED_S.name, MIE_YMIN_S.name, MIE_YMAX_S.name, MIE_CCENTER_S.name, MIE_YGAINS_S.name,
              MIE_CEXTENT_S.name, MIE_CASPECT_S.name, MIE_CROTATION_S.name, MIE_OUT_BRIGHTNESS_S.name,
              MIE_OUT_CONTRAST_S.name, MIE_OUT_SATURATION_S.name, MIE_OUT_HUE_S.name}) {
            g.parameters.insert(tag + "_" + std::to_string(i));
        }
    }
    return g;
}

ModuleMIE::ModuleMIE() : SetupModuleImpl<ModuleMIE, STP_MIE>(kTag), fBlackLevel(0.0625) { loadDefaults(); }

void ModuleMIE::loadSets(const ParameterList &l) {
    checkDeprecated(l);
    const unsigned n = l.getParameter(MIE_MEMORY_COLOURS);
    for (unsigned j = 0; j < N_SLOTS; j++) {
        bEnabled[j] = false;
        aCbCenter[j] = MIE_CCENTER_S.defaultAt(0);
        aCrCenter[j] = MIE_CCENTER_S.defaultAt(1);
        for (unsigned k = 0; k < 4; k++) {
            aYGain[j][k] = MIE_YGAINS_S.defaultAt(k);
            aCExtent[j][k] = MIE_CEXTENT_S.defaultAt(k);
        }
        aYMin[j] = MIE_YMIN_S.def;
        aYMax[j] = MIE_YMAX_S.def;
        aCAspect[j] = MIE_CASPECT_S.def;
        aCRotation[j] = MIE_CROTATION_S.def;
        aOutBrightness[j] = MIE_OUT_BRIGHTNESS_S.def;
        aOutContrast[j] = MIE_OUT_CONTRAST_S.def;
        aOutStaturation[j] = MIE_OUT_SATURATION_S.def;
        aOutHue[j] = MIE_OUT_HUE_S.def;
    }
    unsigned b = 0;
    for (unsigned i = 0; i < n; i++) {
        if (!l.getParameter(MIE_ENABLED_S.indexed(i))) {
            continue;
        }
        if (b < N_SLOTS) {
            bEnabled[b] = true;
            const ParamDefArray<double> centre = MIE_CCENTER_S.indexed(i);
            aCbCenter[b] = l.getParameter(centre, 0);
            aCrCenter[b] = l.getParameter(centre, 1);
            const ParamDefArray<double> gains = MIE_YGAINS_S.indexed(i);
            const ParamDefArray<double> extents = MIE_CEXTENT_S.indexed(i);
            for (unsigned k = 0; k < 4; k++) {
                aYGain[b][k] = l.getParameter(gains, k);
            }
            for (unsigned k = 0; k < 4; k++) {
                aCExtent[b][k] = l.getParameter(extents, k);
            }
            aYMin[b] = l.getParameter(MIE_YMIN_S.indexed(i));
            aYMax[b] = l.getParameter(MIE_YMAX_S.indexed(i));
            aCAspect[b] = l.getParameter(MIE_CASPECT_S.indexed(i));
            aCRotation[b] = l.getParameter(MIE_CROTATION_S.indexed(i));
            aOutBrightness[b] = l.getParameter(MIE_OUT_BRIGHTNESS_S.indexed(i));
            aOutContrast[b] = l.getParameter(MIE_OUT_CONTRAST_S.indexed(i));
            aOutStaturation[b] = l.getParameter(MIE_OUT_SATURATION_S.indexed(i));
            aOutHue[b] = l.getParameter(MIE_OUT_HUE_S.indexed(i));
        }
        b++;
    }
    if (b > N_SLOTS) {
        LOG_Warning("load", __LINE__, getLoggingName(),
                    "Number of enabled memory colours in parameters is %d while HW only supports %d - the first %d "
                    "were enabled the other ignored.\n",
                    static_cast<int>(b), static_cast<int>(N_SLOTS), static_cast<int>(N_SLOTS));
    }
}

void ModuleMIE::saveSets(ParameterList &l, ModuleBase::SaveType t) const {
    saveParameter(l, t, MIE_MEMORY_COLOURS, N_SLOTS);
    auto values = [](const double *v, unsigned n) {
        std::vector<std::string> s;
        for (unsigned k = 0; k < n; k++) {
            s.push_back(toString(v[k]));
        }
        return s;
    };
    for (unsigned j = 0; j < N_SLOTS; j++) {
        const double centre[2] = {aCbCenter[j], aCrCenter[j]};
        saveParameter(l, t, MIE_ENABLED_S.indexed(j), bEnabled[j]);
        saveParameter(l, t, MIE_YMIN_S.indexed(j), aYMin[j]);
        saveParameter(l, t, MIE_YMAX_S.indexed(j), aYMax[j]);
        saveParameter(l, t, MIE_CCENTER_S.indexed(j), values(centre, 2));
        saveParameter(l, t, MIE_YGAINS_S.indexed(j), values(aYGain[j], 4));
        saveParameter(l, t, MIE_CEXTENT_S.indexed(j), values(aCExtent[j], 4));
        saveParameter(l, t, MIE_CASPECT_S.indexed(j), aCAspect[j]);
        saveParameter(l, t, MIE_CROTATION_S.indexed(j), aCRotation[j]);
        saveParameter(l, t, MIE_OUT_BRIGHTNESS_S.indexed(j), aOutBrightness[j]);
        saveParameter(l, t, MIE_OUT_CONTRAST_S.indexed(j), aOutContrast[j]);
        saveParameter(l, t, MIE_OUT_SATURATION_S.indexed(j), aOutStaturation[j]);
        saveParameter(l, t, MIE_OUT_HUE_S.indexed(j), aOutHue[j]);
    }
}

void ModuleMIE::calculateMIEExtentParameters(const double aspect, const double *extent, int &kb, int &kr,
                                             double *scale) {
    double sigmaCb[4], sigmaCr[4];
    const double aspCb = std::sqrt(std::pow(2.0, aspect)), aspCr = std::sqrt(std::pow(2.0, -aspect));
    double m = 510.0;
    for (int i = 0; i < 4; i++) {
        sigmaCb[i] = extent[i] * aspCb;
        sigmaCr[i] = extent[i] * aspCr;
        m = std::fmin(m, std::fmin(sigmaCb[i], sigmaCr[i]));
    }
    if (m < 1.0 / 255.0) {
        for (int i = 0; i < 4; i++) {
            sigmaCb[i] = sigmaCb[i] * (1.0 / 255.0) / m;
            sigmaCr[i] = sigmaCr[i] * (1.0 / 255.0) / m;
        }
    }
    const double *target = aspect >= 0 ? sigmaCb : sigmaCr;
    const int n = static_cast<int>(256.0 * std::pow(2.0, aspect >= 0 ? -aspect : aspect)) - 1;

    double g[4];
    for (int i = 0; i < 4; i++) {
        g[i] = 255.0 / target[i];
    }
    int bestK = 0;
    int bestS[4] = {0, 0, 0, 0};
    double bestE = ((std::fabs(0.0 - g[0]) + std::fabs(0.0 - g[1])) + std::fabs(0.0 - g[2])) + std::fabs(0.0 - g[3]);
    for (int k = 1; k < n; k++) {
        int s[4];
        double e = 0.0;
        for (int i = 0; i < 4; i++) {
            e += bestSlice(k, g[i], s[i]);
        }
        if (e < bestE) {
            bestE = e;
            bestK = k;
            for (int i = 0; i < 4; i++) {
                bestS[i] = s[i];
            }
        }
    }
    if (n <= 1) {
        kb = kr = 0;
        for (int i = 0; i < 4; i++) {
            scale[i] = 0.0;
        }
        return;
    }
    for (int i = 0; i < 4; i++) {
        scale[i] = bestS[i];
    }
    if (aspect >= 0) {
        kb = bestK;
        kr = static_cast<int>(std::floor(std::pow(2.0, aspect) * bestK));
    } else {
        kr = bestK;
        kb = static_cast<int>(std::floor(std::pow(2.0, -aspect) * bestK));
    }
}

QOR_RESULT ModuleMIE::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleMIE::writeSetup(MC_PIPELINE &mc) {
    const ModuleOUT *out = static_cast<const ModuleOUT *>(getPipeline()->getModule(STP_OUT));
    if (out == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "pipeline has no output module\n");
        return QOR_RES_UNAVAILABLE;
    }
    const bool swap = ModuleR2YBase::isCbFirst(out->encoderType);
    MC_MIE &mie = mc.sMIE;
    mie.fBlackLevel = (fBlackLevel + 0.25) * 256.0;
    bool anyEnabled = false;
    for (unsigned j = 0; j < N_SLOTS; j++) {
        anyEnabled = anyEnabled || bEnabled[j];
        mie.aYOffset[j] = (aOutBrightness[j] + 1.0) * 0.5;
        mie.aYScale[j] = aOutContrast[j];
        mie.aCScale[j] = aOutStaturation[j] * aOutContrast[j];
        mie.aRot[2 * j] = rotationStep(std::cos(kPi * aOutHue[j]));
        mie.aRot[2 * j + 1] = rotationStep(std::sin(kPi * aOutHue[j]));
        for (unsigned k = 0; k < 4; k++) {
            mie.aGaussGain[4 * j + k] = bEnabled[j] ? aYGain[j][k] : 0.0;
        }
        const double minY = (aYMin[j] + fBlackLevel) * 0.5 + 0.25;
        const double maxY = aYMax[j] * 0.5 + 0.25;
        mie.aGaussMinY[j] = minY;
        // An empty or reversed luma window has no finite scale: the largest the register holds is used.
        mie.aGaussScaleY[j] = maxY > minY ? (1.0 - minY) / (maxY - minY) : 16.0;
        mie.aGaussCB[j] = aCbCenter[j] + 0.5;
        mie.aGaussCR[j] = aCrCenter[j] + 0.5;
        mie.aGaussRot[2 * j] = rotationStep(std::cos(kPi * aCRotation[j]));
        mie.aGaussRot[2 * j + 1] = rotationStep(std::sin(kPi * aCRotation[j]));
        int kb = 0, kr = 0;
        double scale[4];
        calculateMIEExtentParameters(aCAspect[j], aCExtent[j], kb, kr, scale);
        mie.aGaussKB[j] = kb;
        mie.aGaussKR[j] = kr;
        for (unsigned k = 0; k < 4; k++) {
            mie.aGaussScale[4 * j + k] = scale[k];
        }
    }
    mie.bMemoryColour = anyEnabled ? QOR_TRUE : QOR_FALSE;
    if (swap) {
        for (unsigned j = 0; j < N_SLOTS; j++) {
            mie.aRot[2 * j + 1] = -mie.aRot[2 * j + 1];
            mie.aGaussRot[2 * j + 1] = -mie.aGaussRot[2 * j + 1];
        }
        for (unsigned k = 0; k < 4; k++) {
            std::swap(mie.aGaussCB[k], mie.aGaussCR[k]);
            std::swap(mie.aGaussKB[k], mie.aGaussKR[k]);
        }
    }
    markUpdated(mie);
    return QOR_RES_OK;
}

} // namespace ISPC
