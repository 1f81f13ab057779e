#ifndef ISPC_MODULEMIE_H
#define ISPC_MODULEMIE_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Main image enhancer, memory colours: up to nine parameter sets of a setup file, of which the first
 * three enabled fill the block's three slots. Each is a luma range and an elliptical chroma region
 * (centre, four extents, aspect, rotation) in which brightness, contrast, saturation and hue change.
 * The block sees the chroma in the order of the encoder format, so the settings are mirrored for the
 * Cb-first formats. Writes only the memory-colour fields of the enhancer block it shares with
 * ModuleVIB. Log tag "ISPC_MOD_MIE".
 */
class ModuleMIE : public SetupModuleImpl<ModuleMIE, STP_MIE> {
public:
    static constexpr unsigned N_SLOTS = 3;    /**< memory colours of the hardware */
    static constexpr unsigned N_SETS_MAX = 9; /**< parameter sets a setup file may hold */

    static const ParamDef<double> MIE_BLC;                  /**< "MIE_BLACK_LEVEL", 0 to 1, 0.0625 */
    static const ParamDef<unsigned int> MIE_MEMORY_COLOURS; /**< "MIE_MEMORY_COLOURS", 0 to 9, 3 */
    /* Per parameter set, used through indexed(i): "MIE_ENABLED_0" ... */
    static const ParamDefSingle<bool> MIE_ENABLED_S;
    static const ParamDef<double> MIE_YMIN_S;
    static const ParamDef<double> MIE_YMAX_S;
    static const ParamDefArray<double> MIE_CCENTER_S; /**< Cb, Cr */
    static const ParamDefArray<double> MIE_YGAINS_S;
    static const ParamDefArray<double> MIE_CEXTENT_S;
    static const ParamDef<double> MIE_CASPECT_S;
    static const ParamDef<double> MIE_CROTATION_S;
    static const ParamDef<double> MIE_OUT_BRIGHTNESS_S;
    static const ParamDef<double> MIE_OUT_CONTRAST_S;
    static const ParamDef<double> MIE_OUT_SATURATION_S;
    static const ParamDef<double> MIE_OUT_HUE_S;

    static const char *const GROUP_NAME;   /**< "ModuleMIE" */
    static const char *const GROUP_HEADER; /**< "// Image Enhancer parameters" */
    static const std::vector<Binding> &bindings();
    /** The black level, the count and the twelve tags of each of the nine sets: 110 tags. */
    static ParameterGroup GetGroup();
    static ParameterGroup getGroup() { return GetGroup(); }

    /**
     * The integer form of a region's four extents: one multiplier per chroma axis (kb, kr) and four slice
     * values (scale) whose products with the multiplier best match 255 / spread, found by exhaustive
     * search (ties keep the smaller multiplier and slice value).
     */
    static void calculateMIEExtentParameters(const double aspect, const double *extent, int &kb, int &kr,
                                             double *scale);

    ModuleMIE();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    double fBlackLevel;
    bool bEnabled[N_SLOTS];
    double aYGain[N_SLOTS][4];
    double aYMin[N_SLOTS];
    double aYMax[N_SLOTS];
    double aCbCenter[N_SLOTS];
    double aCrCenter[N_SLOTS];
    double aCExtent[N_SLOTS][4];
    double aCAspect[N_SLOTS];
    double aCRotation[N_SLOTS];
    double aOutBrightness[N_SLOTS];
    double aOutContrast[N_SLOTS];
    double aOutStaturation[N_SLOTS];
    double aOutHue[N_SLOTS];

private:
    void loadSets(const ParameterList &parameters);
    void saveSets(ParameterList &parameters, ModuleBase::SaveType t) const;
};

/** Warns about each tag of the former memory-colour settings present in the list. */
void checkDeprecated(const ParameterList &parameters);

} // namespace ISPC

#endif /* ISPC_MODULEMIE_H */
