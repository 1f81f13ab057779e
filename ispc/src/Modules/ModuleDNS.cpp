#include "ispc/ModuleDNS.h"

#include <cmath>

#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "ispc/SensorFacts.h"

namespace ISPC {

namespace {

constexpr const char *kTag = "ISPC_MOD_DNS";

/* The noise model of a module that cannot reach a sensor. */
constexpr double kNoSensorGain = 1.0;
constexpr QOR_UINT32 kNoSensorBitDepth = 10;
constexpr QOR_UINT32 kNoSensorWellDepth = 10;
constexpr double kNoSensorReadNoise = 1.0;

/* The sharpening module's denoise tags, listed in this module's group of a grouped setup file. */
const char *const kSharpeningDenoiseTags[] = {"SHA_DENOISE_BYPASS", "SHA_DN_TAU_MULTIPLIER", "SHA_DN_SIGMA_MULTIPLIER"};

} // namespace

const ParamDefSingle<bool> ModuleDNS::DNS_COMBINE("DNS_COMBINE_ENABLE", true);
const ParamDef<double> ModuleDNS::DNS_STRENGTH("DNS_STRENGTH", 0.0, 6.0, 0.0);
const ParamDef<double> ModuleDNS::DNS_GREYSCALE_THRESH("DNS_GREYSC_PIXTHRESH_MULT", 0.07, 14.5, 0.25);
const ParamDef<double> ModuleDNS::DNS_ISOGAIN("DNS_ISO_GAIN", 0.0, 128.0, 1.0);
const ParamDef<int> ModuleDNS::DNS_SENSORDEPTH("DNS_SENSOR_BITDEPTH", 8, 16, 10);
const ParamDef<int> ModuleDNS::DNS_WELLDEPTH("DNS_WELL_DEPTH", 0, 65535, 5000);
const ParamDef<double> ModuleDNS::DNS_READNOISE("DNS_READ_NOISE", 0.0, 100.0, 0.0);

const char *const ModuleDNS::GROUP_NAME = "ModuleDNS";
const char *const ModuleDNS::GROUP_HEADER = "// Denoiser parameters";

const double ModuleDNS::THRESHOLD_INTENSITY[N_THRESHOLDS] = {0,  2,  4,  6,  8,  10,  12,  14,  16,  24, 32,
                                                             40, 48, 56, 64, 96, 128, 160, 192, 224, 256};

const std::vector<ModuleDNS::Binding> &ModuleDNS::bindings() {
    static const std::vector<Binding> table = {
        bind(DNS_COMBINE, &ModuleDNS::bCombine),
        bind(DNS_STRENGTH, &ModuleDNS::fStrength),
        bind(DNS_GREYSCALE_THRESH, &ModuleDNS::fGreyscaleThreshold),
    };
    return table;
}

ParameterGroup ModuleDNS::GetGroup() {
    ParameterGroup g;
    g.header = GROUP_HEADER;
    g.parameters = {DNS_COMBINE.name,     DNS_STRENGTH.name,  DNS_GREYSCALE_THRESH.name, DNS_ISOGAIN.name,
                    DNS_SENSORDEPTH.name, DNS_WELLDEPTH.name, DNS_READNOISE.name};
    for (const char *tag : kSharpeningDenoiseTags) {
        g.parameters.insert(tag);
    }
    return g;
}

ModuleDNS::ModuleDNS()
    : SetupModuleImpl<ModuleDNS, STP_DNS>(kTag), bCombine(true), fStrength(0.0), fGreyscaleThreshold(0.25),
      fSensorGain(kNoSensorGain), ui32SensorBitdepth(kNoSensorBitDepth), ui32SensorWellDepth(kNoSensorWellDepth),
      fSensorReadNoise(kNoSensorReadNoise) {
    loadDefaults();
}

QOR_RESULT ModuleDNS::afterLoad(const ParameterList &) {
    const Sensor *sensor = getSensor();
    if (sensor != nullptr) {
        const SensorFacts s = readSensorFacts(*sensor);
        fSensorGain = s.flGain;
        ui32SensorBitdepth = s.uiBitDepth;
        ui32SensorWellDepth = s.uiWellDepth;
        fSensorReadNoise = s.flReadNoise;
    } else {
        fSensorGain = kNoSensorGain;
        ui32SensorBitdepth = kNoSensorBitDepth;
        ui32SensorWellDepth = kNoSensorWellDepth;
        fSensorReadNoise = kNoSensorReadNoise;
    }
    zeroWellReported = false;
    return QOR_RES_OK;
}

QOR_RESULT ModuleDNS::afterSave(ParameterList &parameters, ModuleBase::SaveType t) const {
    if (t != SAVE_VAL && t != SAVE_MIN && t != SAVE_MAX && t != SAVE_DEF) {
        return QOR_RES_OK;
    }
    // Written as comment lines of a setup file; the reader skips them.
    const struct {
        const std::string &old;
        const std::string &replacement;
    } deprecated[] = {
        {DNS_ISOGAIN.name, Sensor::SENSOR_GAIN.name},
        {DNS_SENSORDEPTH.name, Sensor::SENSOR_BITDEPTH.name},
        {DNS_WELLDEPTH.name, Sensor::SENSOR_WELLDEPTH.name},
        {DNS_READNOISE.name, Sensor::SENSOR_READNOISE.name},
    };
    for (const auto &d : deprecated) {
        parameters.addParameter(Parameter("// " + d.old, "deprecated see " + d.replacement), true);
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleDNS::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleDNS::writeSetup(MC_PIPELINE &mc) {
    MC_DNS &dns = mc.sDNS;
    dns.bCombineChannels = bCombine ? QOR_TRUE : QOR_FALSE;
    dns.fGreyscalePixelThreshold = fGreyscaleThreshold;

    // Noise of a sample at intensity x, in 8-bit units: sqrt(a·x + b), a = 256·gain / W (shot noise),
    // b = (256·gain·readNoise / W)² (read noise).
    const double W = static_cast<double>(ui32SensorWellDepth);
    if (ui32SensorWellDepth == 0) {
        // No well, no noise model: the division would fill the table with infinities or NaN. The
        // denoiser is left without thresholds instead.
        if (!zeroWellReported) {
            LOG_Warning("setup", __LINE__, kTag, "sensor well depth is 0: denoise thresholds set to 0\n");
            zeroWellReported = true;
        }
        for (unsigned i = 0; i < N_THRESHOLDS; i++) {
            dns.aPixThresLUT[i] = 0.0;
        }
    } else {
        const double g = fSensorGain * 256.0;
        const double a = g / W;
        const double c = (g * fSensorReadNoise) / W;
        const double b = c * c;
        for (unsigned i = 0; i < N_THRESHOLDS; i++) {
            const double variance = a * THRESHOLD_INTENSITY[i] + b;
            // A negative gain written at run time would make the root undefined: no threshold then.
            dns.aPixThresLUT[i] = variance > 0.0 ? fStrength * std::sqrt(variance) : 0.0;
        }
    }
    dns.ui8SensorBitdepth = static_cast<QOR_UINT8>(ui32SensorBitdepth & 0xFFu);
    markUpdated(dns);
    return QOR_RES_OK;
}

} // namespace ISPC
