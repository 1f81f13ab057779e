#ifndef ISPC_MODULEOUTDEFINITIONS_H
#define ISPC_MODULEOUTDEFINITIONS_H

#include <string>

#include "ispc/ParameterDef.h"

namespace ISPC {

/**
 * The setup-file parameters of the output-formats module. ISPC::ModuleOUT derives from this class,
 * so the definitions read as ModuleOUT::ENCODER_TYPE and so on.
 */
struct ModuleOUTDefinitions {
    static const ParamDefSingle<std::string> ENCODER_TYPE;    /**< "OUT_ENC" */
    static const ParamDefSingle<std::string> DISPLAY_TYPE;    /**< "OUT_DISP" */
    static const ParamDefSingle<std::string> DATAEXTRA_TYPE;  /**< "OUT_DE" */
    static const ParamDef<int> DATAEXTRA_POINT;               /**< "OUT_DE_POINT", 1 to 3 */
    static const ParamDefSingle<std::string> HDREXTRA_TYPE;   /**< "OUT_DE_HDF" */
    static const ParamDefSingle<std::string> HDRINS_TYPE;     /**< "OUT_DI_HDF" */
    static const ParamDefSingle<std::string> RAW2DEXTRA_TYPE; /**< "OUT_DE_RAW2D" */
};

} // namespace ISPC

#endif /* ISPC_MODULEOUTDEFINITIONS_H */
