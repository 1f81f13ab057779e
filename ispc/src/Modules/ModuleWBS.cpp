#include "ispc/ModuleWBS.h"

#include "ispc/Pipeline.h"

namespace ISPC {

namespace {
const double WBS_RGBMAX_DEF[2] = {0.75, 0.75};
const double WBS_Y_HLW_DEF[2] = {0.75, 0.75};
const int WBS_ROISTART_DEF[4] = {0, 0, 0, 0};
const int WBS_ROIEND_DEF[4] = {0, 0, 0, 0};

/** Largest sum one 32-bit statistics counter holds. */
const double kMaxCount = 4294967295.0;

QOR_UINT16 threshold(double fraction) { return static_cast<QOR_UINT16>(fraction * 2048); }
} // namespace

const ParamDef<int> ModuleWBS::WBS_ROI("WBS_ROI_ENABLE", 0, 2, 0);
const ParamDefArray<double> ModuleWBS::WBS_R_MAX("WBS_RMAX_TH", 0.0, 1.0, WBS_RGBMAX_DEF, 2);
const ParamDefArray<double> ModuleWBS::WBS_G_MAX("WBS_GMAX_TH", 0.0, 1.0, WBS_RGBMAX_DEF, 2);
const ParamDefArray<double> ModuleWBS::WBS_B_MAX("WBS_BMAX_TH", 0.0, 1.0, WBS_RGBMAX_DEF, 2);
const ParamDefArray<double> ModuleWBS::WBS_Y_HLW("WBS_YHLW_TH", 0.0, 1.0, WBS_Y_HLW_DEF, 2);
const ParamDefArray<int> ModuleWBS::WBS_ROISTART("WBS_ROI_START_COORDS", 0, 32767, WBS_ROISTART_DEF, 4);
const ParamDefArray<int> ModuleWBS::WBS_ROIEND("WBS_ROI_END_COORDS", 0, 32767, WBS_ROIEND_DEF, 4);

const char *const ModuleWBS::GROUP_NAME = "ModuleWBS";
const char *const ModuleWBS::GROUP_HEADER = "// White Balance Statistics parameters";

void ModuleWBS::loadCoords(ModuleWBS &m, const ParameterList &list) {
    for (unsigned i = 0; i < 4; i++) {
        m.aROIStartCoord[i / 2][i % 2] = static_cast<QOR_UINT32>(list.getParameter(WBS_ROISTART, i));
        m.aROIEndCoord[i / 2][i % 2] = static_cast<QOR_UINT32>(list.getParameter(WBS_ROIEND, i));
    }
}

void ModuleWBS::saveCoords(const ModuleWBS &m, ParameterList &list, ModuleBase::SaveType t, bool end) {
    const ParamDefArray<int> &def = end ? WBS_ROIEND : WBS_ROISTART;
    const QOR_UINT32(&coords)[2][2] = end ? m.aROIEndCoord : m.aROIStartCoord;
    std::vector<std::string> values;
    if (t == ModuleBase::SAVE_VAL) {
        for (unsigned i = 0; i < 4; i++)
            values.push_back(toString(static_cast<int>(coords[i / 2][i % 2])));
    }
    saveParameter(list, t, def, values);
}

const std::vector<ModuleWBS::Binding> &ModuleWBS::bindings() {
    static const std::vector<Binding> table = {
        bind(WBS_ROI, &ModuleWBS::ui32NROIEnabled),
        bind(WBS_R_MAX, &ModuleWBS::aRedMaxTH),
        bind(WBS_G_MAX, &ModuleWBS::aGreenMaxTH),
        bind(WBS_B_MAX, &ModuleWBS::aBlueMaxTH),
        bind(WBS_Y_HLW, &ModuleWBS::aYHLWTH),
        // Both coordinate tags are read together (start then end, value by value).
        custom(WBS_ROISTART.name, &ModuleWBS::loadCoords,
               [](const ModuleWBS &m, ParameterList &l, ModuleBase::SaveType t) { saveCoords(m, l, t, false); }),
        custom(
            WBS_ROIEND.name, [](ModuleWBS &, const ParameterList &) {},
            [](const ModuleWBS &m, ParameterList &l, ModuleBase::SaveType t) { saveCoords(m, l, t, true); }),
    };
    return table;
}

ModuleWBS::ModuleWBS()
    : SetupModuleImpl<ModuleWBS, STP_WBS>("ISPC_MOD_WBS"),
      ui32NROIEnabled(0), aRedMaxTH{0.75, 0.75}, aGreenMaxTH{0.75, 0.75}, aBlueMaxTH{0.75, 0.75}, aYHLWTH{0.75, 0.75},
      aROIStartCoord{{0, 0}, {0, 0}}, aROIEndCoord{{0, 0}, {0, 0}}, frameCount{FRAME_COUNT_DEFAULT,
                                                                               FRAME_COUNT_DEFAULT},
      currentFrame{0, 0}, startX{0, 0}, startY{0, 0}, fullWidth{1, 1}, fullHeight{1, 1}, roiWidth{1, 1} {
    loadDefaults();
}

QOR_RESULT ModuleWBS::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleWBS::writeSetup(MC_PIPELINE &mc) {
    // The regions are taken in order, each latched, programmed and advanced before the next: when region 1
    // cannot be measured, region 0 has already moved to its next strip (the block is not marked for update).
    MC_WBS &wbs = mc.sWBS;
    for (int r = 0; r < 2; r++) {
        if (currentFrame[r] == 0) {
            const QOR_UINT32 x = aROIStartCoord[r][0], y = aROIStartCoord[r][1];
            const QOR_UINT32 width = aROIEndCoord[r][0] - x + 1, height = aROIEndCoord[r][1] - y + 1;
            // The largest sum a counter of this region can reach: none (an empty region or a clip of 0)
            // cannot be measured.
            const QOR_UINT32 area = width * height;
            const double maxSum = static_cast<double>(area) * mc.sMGM.fClipMax * 1024;
            if (maxSum == 0) {
                QOR_LOG_ERROR(getLoggingName(), "Unexpected maximum statistics value!\n");
                return QOR_RES_UNAVAILABLE;
            }
            // A clip so small (or negative) that no sum reaches a count fits one strip.
            QOR_UINT32 frames = maxSum > 1.0 ? static_cast<QOR_UINT32>((maxSum - 1) / kMaxCount + 1) : 1;
            if (frames > width) {
                frames = width; // at least one column per strip
            }
            startX[r] = x;
            startY[r] = y;
            fullWidth[r] = width;
            fullHeight[r] = height;
            frameCount[r] = frames;
            roiWidth[r] = width / frames;
        }
        const QOR_UINT32 k = currentFrame[r];
        wbs.aRoiLeft[r] = static_cast<QOR_UINT16>(startX[r] + k * roiWidth[r]);
        wbs.aRoiTop[r] = static_cast<QOR_UINT16>(startY[r]);
        wbs.aRoiWidth[r] =
            static_cast<QOR_UINT16>(k + 1 == frameCount[r] ? fullWidth[r] - k * roiWidth[r] : roiWidth[r]);
        wbs.aRoiHeight[r] = static_cast<QOR_UINT16>(fullHeight[r]);
        wbs.counters.currentFrame[r] = k;
        wbs.counters.frameCount[r] = frameCount[r];
        currentFrame[r] = (k + 1) % frameCount[r];
    }

    wbs.fRGBOffset = 0.0;
    wbs.fYOffset = -127.0;
    for (int r = 0; r < 2; r++) {
        wbs.aRMax[r] = threshold(aRedMaxTH[r]);
        wbs.aGMax[r] = threshold(aGreenMaxTH[r]);
        wbs.aBMax[r] = threshold(aBlueMaxTH[r]);
        wbs.aYMax[r] = threshold(aYHLWTH[r]);
    }
    if (ui32NROIEnabled > MAX_ROI) {
        QOR_LOG_WARNING(getLoggingName(), "Invalid number of regions activated %d, Max number is %d\n",
                        static_cast<int>(ui32NROIEnabled), static_cast<int>(MAX_ROI));
        wbs.ui8ActiveROI = MAX_ROI;
    } else {
        wbs.ui8ActiveROI = static_cast<QOR_UINT8>(ui32NROIEnabled);
    }
    markUpdated(wbs);
    return QOR_RES_OK;
}

void ModuleWBS::captureStarted() {
    currentFrame[0] = currentFrame[1] = 0;
    requestUpdate();
}

void ModuleWBS::shotProgrammed() {
    if (frameCount[0] > 1 || frameCount[1] > 1) {
        requestUpdate();
    }
}

} // namespace ISPC
