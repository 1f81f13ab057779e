#ifndef ISPC_MODULEDNS_H
#define ISPC_MODULEDNS_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Denoiser: a strength and a noise model of the sensor (gain, well depth, read noise) turned into 21
 * pixel thresholds over the intensity axis, the channel-combining switch and the greyscale threshold
 * multiplier. The noise model comes from the pipeline's sensor at load; the denoise control refreshes
 * fSensorGain after each shot. Log tag "ISPC_MOD_DNS".
 */
class ModuleDNS : public SetupModuleImpl<ModuleDNS, STP_DNS> {
public:
    static const ParamDefSingle<bool> DNS_COMBINE;      /**< "DNS_COMBINE_ENABLE", default 1 */
    static const ParamDef<double> DNS_STRENGTH;         /**< "DNS_STRENGTH", 0 to 6 */
    static const ParamDef<double> DNS_GREYSCALE_THRESH; /**< "DNS_GREYSC_PIXTHRESH_MULT", 0.07 to 14.5 */
    /* Replaced by the sensor's parameters and never read here; the data-generator sensor and camera
     * still read them as the old forms of its gain, well depth and read noise. */
    static const ParamDef<double> DNS_ISOGAIN;   /**< "DNS_ISO_GAIN", 0 to 128, default 1 */
    static const ParamDef<int> DNS_SENSORDEPTH;  /**< "DNS_SENSOR_BITDEPTH", 8 to 16, default 10 */
    static const ParamDef<int> DNS_WELLDEPTH;    /**< "DNS_WELL_DEPTH", 0 to 65535, default 5000 */
    static const ParamDef<double> DNS_READNOISE; /**< "DNS_READ_NOISE", 0 to 100, default 0 */

    static const char *const GROUP_NAME;   /**< "ModuleDNS" */
    static const char *const GROUP_HEADER; /**< "// Denoiser parameters" */
    static const std::vector<Binding> &bindings();

    /** The group of a grouped setup file: the module's tags, the old noise-model tags and the sharpening
     * module's three denoise tags. */
    static ParameterGroup GetGroup();
    static ParameterGroup getGroup() { return GetGroup(); }

    /** Number of thresholds and the intensities they stand for. */
    static constexpr unsigned N_THRESHOLDS = 21;
    static const double THRESHOLD_INTENSITY[N_THRESHOLDS];

    ModuleDNS();
    ~ModuleDNS() override = default;

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
    /** The noise model of the pipeline's sensor, or the fixed model without one. */
    QOR_RESULT afterLoad(const ParameterList &parameters);
    /** The old noise-model tags, as comment entries naming their replacements. */
    QOR_RESULT afterSave(ParameterList &parameters, ModuleBase::SaveType t) const;

    bool bCombine;
    double fStrength;
    double fGreyscaleThreshold;
    double fSensorGain;
    QOR_UINT32 ui32SensorBitdepth;
    QOR_UINT32 ui32SensorWellDepth;
    double fSensorReadNoise;

private:
    bool zeroWellReported = false; /**< the warning on a well depth of 0 is given once per load */
};

} // namespace ISPC

#endif /* ISPC_MODULEDNS_H */
