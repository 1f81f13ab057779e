#include "ispc/ModuleOUTDefinitions.h"

namespace ISPC {

// Built in this order during static initialisation; the default "NONE" leaves an output off.
const ParamDefSingle<std::string> ModuleOUTDefinitions::ENCODER_TYPE("OUT_ENC", "NONE");
const ParamDefSingle<std::string> ModuleOUTDefinitions::DISPLAY_TYPE("OUT_DISP", "NONE");
const ParamDefSingle<std::string> ModuleOUTDefinitions::DATAEXTRA_TYPE("OUT_DE", "NONE");
const ParamDef<int> ModuleOUTDefinitions::DATAEXTRA_POINT("OUT_DE_POINT", 1, 3, 1);
const ParamDefSingle<std::string> ModuleOUTDefinitions::HDREXTRA_TYPE("OUT_DE_HDF", "NONE");
const ParamDefSingle<std::string> ModuleOUTDefinitions::HDRINS_TYPE("OUT_DI_HDF", "NONE");
const ParamDefSingle<std::string> ModuleOUTDefinitions::RAW2DEXTRA_TYPE("OUT_DE_RAW2D", "NONE");

} // namespace ISPC
