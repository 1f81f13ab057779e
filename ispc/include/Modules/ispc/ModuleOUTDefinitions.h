#ifndef ISPC_MODULEOUTDEFINITIONS_H
#define ISPC_MODULEOUTDEFINITIONS_H

#include <string>

#include "ispc/ParameterDef.h"

namespace ISPC {

/*
 * Format names of the output module: the common names FormatString gives for the eight semi-planar
 * encoder formats and the four packed 4:4:4 display formats, taken when the library is loaded.
 */
extern const char *const NV21_8;                /**< "NV21", YVU_420_PL12_8 */
extern const char *const NV12_8;                /**< "NV12", YUV_420_PL12_8 */
extern const char *const NV61_8;                /**< "NV61", YVU_422_PL12_8 */
extern const char *const NV16_8;                /**< "NV16", YUV_422_PL12_8 */
extern const char *const NV21_10;               /**< "NV21-10bit", YVU_420_PL12_10 */
extern const char *const NV12_10;               /**< "NV12-10bit", YUV_420_PL12_10 */
extern const char *const NV61_10;               /**< "NV61-10bit", YVU_422_PL12_10 */
extern const char *const NV16_10;               /**< "NV16-10bit", YUV_422_PL12_10 */
extern const char *const FMT_444IL3YCrCb8_STR;  /**< "444IL3YCrCb8" */
extern const char *const FMT_444IL3YCbCr8_STR;  /**< "444IL3YCbCr8" */
extern const char *const FMT_444IL3YCrCb10_STR; /**< "444IL3YCrCb10" */
extern const char *const FMT_444IL3YCbCr10_STR; /**< "444IL3YCbCr10" */

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
