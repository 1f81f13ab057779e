#ifndef ISPC_MODULEWBS_H
#define ISPC_MODULEWBS_H

#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * White-balance statistics: up to two regions, each with white-patch thresholds per channel and a
 * high-luminance luma threshold. A region whose largest channel sum would overflow a 32-bit count is
 * measured in vertical strips, one per frame; each setup programs the next strip, and the strip index
 * and count travel with the frame's configuration. Log tag "ISPC_MOD_WBS".
 */
class ModuleWBS : public SetupModuleImpl<ModuleWBS, STP_WBS> {
public:
    static const ParamDef<int> WBS_ROI;           /**< "WBS_ROI_ENABLE", 0 to 2, default 0 */
    static const ParamDefArray<double> WBS_R_MAX; /**< "WBS_RMAX_TH", 2 values 0 to 1, {0.75, 0.75} */
    static const ParamDefArray<double> WBS_G_MAX; /**< "WBS_GMAX_TH", 2 values 0 to 1, {0.75, 0.75} */
    static const ParamDefArray<double> WBS_B_MAX; /**< "WBS_BMAX_TH", 2 values 0 to 1, {0.75, 0.75} */
    static const ParamDefArray<double> WBS_Y_HLW; /**< "WBS_YHLW_TH", 2 values 0 to 1, {0.75, 0.75} */
    static const ParamDefArray<int> WBS_ROISTART; /**< "WBS_ROI_START_COORDS", 4 values 0 to 32767 */
    static const ParamDefArray<int> WBS_ROIEND;   /**< "WBS_ROI_END_COORDS", 4 values 0 to 32767 */

    static const char *const GROUP_NAME;   /**< "ModuleWBS" */
    static const char *const GROUP_HEADER; /**< "// White Balance Statistics parameters" */
    static const std::vector<Binding> &bindings();

    static const QOR_UINT32 FRAME_COUNT_DEFAULT = 1;
    static const QOR_UINT32 MAX_ROI = 2;

    ModuleWBS();
    ~ModuleWBS() override = default;

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
    /**
     * Strips belong to shots: a capture starts each region's cycle afresh, so that its first shot measures strip
     * 0, and while a region is measured in several strips every shot asks for a setup, so that the next shot
     * measures the next strip (also the shots queued before any consumer has read a frame).
     */
    void captureStarted() override;
    void shotProgrammed() override;

    QOR_UINT32 ui32NROIEnabled;
    double aRedMaxTH[2];
    double aGreenMaxTH[2];
    double aBlueMaxTH[2];
    double aYHLWTH[2];
    QOR_UINT32 aROIStartCoord[2][2]; /**< per region: [0] column, [1] row of the first pixel */
    QOR_UINT32 aROIEndCoord[2][2];   /**< per region: [0] column, [1] row of the last pixel (inclusive) */

    QOR_UINT32 frameCount[2];   /**< strips in one measurement cycle */
    QOR_UINT32 currentFrame[2]; /**< strip the next setup programs */
    QOR_UINT32 startX[2];       /**< latched at the start of a cycle */
    QOR_UINT32 startY[2];
    QOR_UINT32 fullWidth[2];
    QOR_UINT32 fullHeight[2];
    QOR_UINT32 roiWidth[2]; /**< width of one strip */

    /* The coordinates are four values each: column and row of region 0, then of region 1. */
    static void loadCoords(ModuleWBS &m, const ParameterList &list);
    static void saveCoords(const ModuleWBS &m, ParameterList &list, ModuleBase::SaveType t, bool end);
};

} // namespace ISPC

#endif /* ISPC_MODULEWBS_H */
