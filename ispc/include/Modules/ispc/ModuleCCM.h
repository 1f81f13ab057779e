#ifndef ISPC_MODULECCM_H
#define ISPC_MODULECCM_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

extern const double CCM_MATRIX_DEF[9];  /**< identity */
extern const double CCM_OFFSETS_DEF[3]; /**< zeros */

/**
 * Colour correction: a 3 x 3 matrix over the colour channels and one offset per row. The setup files
 * give the first values; the white-balance loops then write their own corrections into the members
 * and request an update. Log tag "ISPC_MOD_CCM".
 */
class ModuleCCM : public SetupModuleImpl<ModuleCCM, STP_CCM> {
public:
    static const ParamDefArray<double> CCM_MATRIX;  /**< "CCM_MATRIX", 9 values -4 to 3.998046875, row-major */
    static const ParamDefArray<double> CCM_OFFSETS; /**< "CCM_OFFSETS", 3 values -256 to 255.875 */

    static const char *const GROUP_NAME;   /**< "ModuleCCM" */
    static const char *const GROUP_HEADER; /**< "// Colour Correction Matrix parameters" */
    static const std::vector<Binding> &bindings();

    ModuleCCM();
    ~ModuleCCM() override = default;

    /** Copies the matrix and offsets only; the target keeps its pipeline, name and flags. */
    ModuleCCM &operator=(const ModuleCCM &other);

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    double aMatrix[9]; /**< [3i + j] is row i, column j */
    double aOffset[3]; /**< one per row */
};

} // namespace ISPC

#endif /* ISPC_MODULECCM_H */
