#ifndef ISPC_MODULEFOS_H
#define ISPC_MODULEFOS_H

#include <vector>

#include "ispc/ModuleFOSDefinitions.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Focus statistics of one pipeline: a sharpness measure over one region of interest and over a
 * 7 x 7 grid of equal tiles, positions in pixels of the image the pipeline receives. Log tag
 * "ISPC_MOD_FOS".
 */
class ModuleFOS : public SetupModuleImpl<ModuleFOS, STP_FOS>, public ModuleFOSDefinitions {
public:
    static const char *const GROUP_NAME;   /**< "ModuleFOS" */
    static const char *const GROUP_HEADER; /**< "// Focus Statistics parameters" */
    static const std::vector<Binding> &bindings();

    ModuleFOS();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    bool bEnableROI;
    QOR_UINT32 aRoiStartCoord[2];
    QOR_UINT32 aRoiEndCoord[2]; /**< inclusive */
    bool bEnableGrid;
    QOR_UINT32 aGridStartCoord[2];
    QOR_UINT32 aGridTileSize[2];
};

} // namespace ISPC

#endif /* ISPC_MODULEFOS_H */
