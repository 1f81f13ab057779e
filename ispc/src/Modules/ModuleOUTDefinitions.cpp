#include "ispc/ModuleOUTDefinitions.h"

#include "norvacommon/pixel_transform.h"

namespace ISPC {

// The format names first: FormatString hands out texts that live for the whole program.
const char *const NV21_8 = FormatString(YVU_420_PL12_8);
const char *const NV12_8 = FormatString(YUV_420_PL12_8);
const char *const NV61_8 = FormatString(YVU_422_PL12_8);
const char *const NV16_8 = FormatString(YUV_422_PL12_8);
const char *const NV21_10 = FormatString(YVU_420_PL12_10);
const char *const NV12_10 = FormatString(YUV_420_PL12_10);
const char *const NV61_10 = FormatString(YVU_422_PL12_10);
const char *const NV16_10 = FormatString(YUV_422_PL12_10);
const char *const FMT_444IL3YCrCb8_STR = FormatString(PXL_ISP_444IL3YCrCb8);
const char *const FMT_444IL3YCbCr8_STR = FormatString(PXL_ISP_444IL3YCbCr8);
const char *const FMT_444IL3YCrCb10_STR = FormatString(PXL_ISP_444IL3YCrCb10);
const char *const FMT_444IL3YCbCr10_STR = FormatString(PXL_ISP_444IL3YCbCr10);

// Built in this order during static initialisation; the default "NONE" leaves an output off.
const ParamDefSingle<std::string> ModuleOUTDefinitions::ENCODER_TYPE("OUT_ENC", "NONE");
const ParamDefSingle<std::string> ModuleOUTDefinitions::DISPLAY_TYPE("OUT_DISP", "NONE");
const ParamDefSingle<std::string> ModuleOUTDefinitions::DATAEXTRA_TYPE("OUT_DE", "NONE");
const ParamDef<int> ModuleOUTDefinitions::DATAEXTRA_POINT("OUT_DE_POINT", 1, 3, 1);
const ParamDefSingle<std::string> ModuleOUTDefinitions::HDREXTRA_TYPE("OUT_DE_HDF", "NONE");
const ParamDefSingle<std::string> ModuleOUTDefinitions::HDRINS_TYPE("OUT_DI_HDF", "NONE");
const ParamDefSingle<std::string> ModuleOUTDefinitions::RAW2DEXTRA_TYPE("OUT_DE_RAW2D", "NONE");

} // namespace ISPC
