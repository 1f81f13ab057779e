#ifndef ISPC_MODULEIIF_H
#define ISPC_MODULEIIF_H

#include <string>
#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "norvacommon/pixel_transform.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Imager interface: the capture window cut out of the sensor frame and the decimation. The imager
 * port and the Bayer order always come from the pipeline's sensor, so load, save and setup need it.
 * Log tag "ISPC_MOD_IIF".
 */
class ModuleIIF : public SetupModuleImpl<ModuleIIF, STP_IIF> {
public:
    static const ParamDefSingle<std::string> IIF_BAYERFMT; /**< "IIF_BAYER_FORMAT", never read */
    static const ParamDefArray<int> IIF_DECIMATION;        /**< "IIF_DECIMATION", 1 to 16 */
    static const ParamDefArray<int> IIF_CAPRECT_TL;        /**< "IIF_CAP_RECT_TL", 0 to 8192 */
    static const ParamDefArray<int> IIF_CAPRECT_BR;        /**< "IIF_CAP_RECT_BR", 0 to 8192, inclusive */

    static const char *const GROUP_NAME;   /**< "ModuleIIF" */
    static const char *const GROUP_HEADER; /**< "// Imager Interface parameters" */
    static const std::vector<Binding> &bindings();

    /** Copies the definitions' defaults: loading needs a sensor, which a new module has not. */
    ModuleIIF();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
    /** 15 without pipeline or sensor, changing nothing. */
    QOR_RESULT beforeLoad(const ParameterList &parameters);

    /** "GRBG", "GBRG", "BGGR"; "RGGB" for everything else. */
    static std::string getMosaicString(MOSAICType mosaic);

    QOR_UINT32 aDecimation[2]; /**< decimation minus one: [0] horizontal, [1] vertical */
    QOR_UINT32 aCropTL[2];     /**< top-left corner in sensor pixels: x, y */
    QOR_UINT32 aCropBR[2];     /**< bottom-right corner in sensor pixels, inclusive: x, y */
};

} // namespace ISPC

#endif /* ISPC_MODULEIIF_H */
