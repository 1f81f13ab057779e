#ifndef ISPC_MODULEDPF_H
#define ISPC_MODULEDPF_H

#include <string>
#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Defective-pixel correction: detection with a threshold and a weight, correction of the pixels of a
 * read map loaded from a defect-map file, and a write map of the corrections with every frame. The
 * module owns the read map (loaded once, freed on destruction) and lends it to the block. Map
 * coordinates are columns and rows of the image the pipeline receives. Log tag "ISPC_MOD_DPF".
 */
class ModuleDPF : public SetupModuleImpl<ModuleDPF, STP_DPF> {
public:
    static const ParamDefSingle<bool> DPF_DETECT_ENABLE;        /**< "DPF_DETECT_ENABLE" */
    static const ParamDefSingle<bool> DPF_READ_ENABLE;          /**< "DPF_READ_MAP_ENABLE" */
    static const ParamDefSingle<bool> DPF_WRITE_ENABLE;         /**< "DPF_WRITE_MAP_ENABLE" */
    static const ParamDef<int> DPF_THRESHOLD;                   /**< "DPF_THRESHOLD", 0 to 63, default 0 */
    static const ParamDef<double> DPF_WEIGHT;                   /**< "DPF_WEIGHT", 0 to 255, default 16 */
    static const ParamDefSingle<std::string> DPF_READ_MAP_FILE; /**< "DPF_READ_MAP_FILE", default "" */

    static const char *const GROUP_NAME;   /**< "ModuleDPF" */
    static const char *const GROUP_HEADER; /**< "// Defective Pixels parameters" */
    static const std::vector<Binding> &bindings();

    /** Largest weight the block holds; larger weights are programmed as this, with a warning. */
    static constexpr double MAX_PROGRAMMED_WEIGHT = 63.0;

    ModuleDPF();
    ~ModuleDPF() override;
    ModuleDPF(const ModuleDPF &) = delete;
    ModuleDPF &operator=(const ModuleDPF &) = delete;

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
    /** Loads the read map named by the list, unless one is held already. */
    QOR_RESULT afterLoad(const ParameterList &parameters);

    /** A map with at least one defect is held. */
    bool hasInputMap() const;

    bool bDetect;
    bool bRead;
    bool bWrite;
    QOR_UINT32 ui32Threshold;
    double fWeight;
    QOR_UINT16 *pDefectMap; /**< x, y of each defect; owned */
    QOR_UINT32 ui32NbDefects;
    std::string readMapFilename;
};

} // namespace ISPC

#endif /* ISPC_MODULEDPF_H */
