#include "ispc/ModuleAWS.h"

#include <algorithm>

#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "mc/mc_fixedpoint.h"

namespace ISPC {

namespace {
/** The curve registers: signed, 5 integer and 10 fraction bits. */
double curveRevert(int reg) { return QOR_Fix_Revert(reg, 5, 10, QOR_TRUE, "AWS_CURVE"); }

const double AWS_CURVE_REG_MIN = curveRevert(-16384);
const double AWS_CURVE_REG_MAX = curveRevert(16384);
const double awsCurveXCoeffsDef[5] = {curveRevert(908), curveRevert(990), curveRevert(1022), 0.0, 0.0};
const double awsCurveYCoeffsDef[5] = {curveRevert(472), curveRevert(261), curveRevert(66), 0.0, 0.0};
const double awsCurveOffsetsDef[5] = {curveRevert(40), curveRevert(262), curveRevert(652), 0.0, 0.0};
const double awsCurveBoundariesDef[5] = {curveRevert(256), curveRevert(31904), curveRevert(30816), curveRevert(16384),
                                         curveRevert(16384)};
const short defaultCoords[2] = {0, 0};
const short defaultSize[2] = {16, 16};
} // namespace

const ParamDefSingle<bool> ModuleAWS::AWS_ENABLED("AWS_ENABLED", false);
const ParamDefSingle<bool> ModuleAWS::AWS_DEBUG_MODE("AWS_DEBUG_MODE", false);
const ParamDefArray<short> ModuleAWS::AWS_TILE_START_COORDS("AWS_TILE_START_COORDS", 0, 32767, defaultCoords, 2);
const ParamDefArray<short> ModuleAWS::AWS_TILE_SIZE("AWS_TILE_SIZE", 0, 32767, defaultSize, 2);
const ParamDef<double> ModuleAWS::AWS_LOG2_R_QEFF("AWS_LOG2_R_QEFF", 0.0, 256.0, 1.0);
const ParamDef<double> ModuleAWS::AWS_LOG2_B_QEFF("AWS_LOG2_B_QEFF", 0.0, 256.0, 1.0);
const ParamDef<double> ModuleAWS::AWS_R_DARK_THRESH("AWS_R_DARK_THRESH", 0.0, 256.0, 8.0);
const ParamDef<double> ModuleAWS::AWS_G_DARK_THRESH("AWS_G_DARK_THRESH", 0.0, 256.0, 8.0);
const ParamDef<double> ModuleAWS::AWS_B_DARK_THRESH("AWS_B_DARK_THRESH", 0.0, 256.0, 8.0);
const ParamDef<double> ModuleAWS::AWS_R_CLIP_THRESH("AWS_R_CLIP_THRESH", 0.0, 256.0, 128.0);
const ParamDef<double> ModuleAWS::AWS_G_CLIP_THRESH("AWS_G_CLIP_THRESH", 0.0, 256.0, 128.0);
const ParamDef<double> ModuleAWS::AWS_B_CLIP_THRESH("AWS_B_CLIP_THRESH", 0.0, 256.0, 128.0);
const ParamDef<double> ModuleAWS::AWS_BB_DIST("AWS_BB_DIST", 0.0, 128.0, 0.2);
const ParamDef<int> ModuleAWS::AWS_CURVES_NUM("AWS_CURVES_NUM", 0, 5, 0);
const ParamDefArray<double> ModuleAWS::AWS_CURVE_X_COEFFS("AWS_CURVE_X_COEFFS", AWS_CURVE_REG_MIN, AWS_CURVE_REG_MAX,
                                                          awsCurveXCoeffsDef, 5);
const ParamDefArray<double> ModuleAWS::AWS_CURVE_Y_COEFFS("AWS_CURVE_Y_COEFFS", AWS_CURVE_REG_MIN, AWS_CURVE_REG_MAX,
                                                          awsCurveYCoeffsDef, 5);
const ParamDefArray<double> ModuleAWS::AWS_CURVE_OFFSETS("AWS_CURVE_OFFSETS", AWS_CURVE_REG_MIN, AWS_CURVE_REG_MAX,
                                                         awsCurveOffsetsDef, 5);
const ParamDefArray<double> ModuleAWS::AWS_CURVE_BOUNDARIES("AWS_CURVE_BOUNDARIES", AWS_CURVE_REG_MIN,
                                                            AWS_CURVE_REG_MAX, awsCurveBoundariesDef, 5);

const char *const ModuleAWS::GROUP_NAME = "ModuleAWS";
const char *const ModuleAWS::GROUP_HEADER = "// Auto White Balance Statistics parameters (AWS block)";

bool operator<(const ModuleAWS::curveLine &a, const ModuleAWS::curveLine &b) { return a.fBoundary < b.fBoundary; }

void ModuleAWS::defaultTile(short &width, short &height) const {
    width = AWS_TILE_WIDTH_MIN;
    height = AWS_TILE_HEIGHT_MIN;
    const Sensor *sensor = getSensor();
    if (sensor != nullptr) {
        width = static_cast<short>(std::max<unsigned>(AWS_TILE_WIDTH_MIN, std::min(sensor->uiWidth / 7, 32767u)));
        height = static_cast<short>(std::max<unsigned>(AWS_TILE_HEIGHT_MIN, std::min(sensor->uiHeight / 7, 32767u)));
    }
}

ModuleAWS::Binding ModuleAWS::curveBinding(const ParamDefArray<double> &def, double curveLine::*field) {
    // Read together with the other curve tags by the line count (loadLinesParams).
    return custom(
        def.name, [](ModuleAWS &, const ParameterList &) {},
        [&def, field](const ModuleAWS &m, ParameterList &list, ModuleBase::SaveType t) {
            std::vector<std::string> values;
            if (t == ModuleBase::SAVE_VAL) {
                for (const curveLine &l : m.fLines)
                    values.push_back(toString(l.*field));
            }
            saveParameter(list, t, def, values);
        });
}

const std::vector<ModuleAWS::Binding> &ModuleAWS::bindings() {
    static const std::vector<Binding> table = {
        bind(AWS_ENABLED, &ModuleAWS::enabled),
        bind(AWS_DEBUG_MODE, &ModuleAWS::debugMode),
        custom(
            AWS_TILE_START_COORDS.name,
            [](ModuleAWS &m, const ParameterList &list) {
                m.ui16GridStartColumn = static_cast<QOR_UINT16>(list.getParameter(AWS_TILE_START_COORDS, 0));
                m.ui16GridStartRow = static_cast<QOR_UINT16>(list.getParameter(AWS_TILE_START_COORDS, 1));
            },
            [](const ModuleAWS &m, ParameterList &list, ModuleBase::SaveType t) {
                saveParameter(list, t, AWS_TILE_START_COORDS,
                              std::vector<std::string>{toString(static_cast<int>(m.ui16GridStartColumn)),
                                                       toString(static_cast<int>(m.ui16GridStartRow))});
            }),
        custom(
            AWS_TILE_SIZE.name,
            [](ModuleAWS &m, const ParameterList &list) {
                if (m.getSensor() == nullptr) {
                    m.ui16TileWidth = static_cast<QOR_UINT16>(list.getParameter(AWS_TILE_SIZE, 0));
                    m.ui16TileHeight = static_cast<QOR_UINT16>(list.getParameter(AWS_TILE_SIZE, 1));
                    return;
                }
                short w, h;
                m.defaultTile(w, h);
                m.ui16TileWidth = static_cast<QOR_UINT16>(
                    list.getParameter<short>(AWS_TILE_SIZE.name, 0, AWS_TILE_WIDTH_MIN, AWS_TILE_SIZE.max, w));
                m.ui16TileHeight = static_cast<QOR_UINT16>(
                    list.getParameter<short>(AWS_TILE_SIZE.name, 1, AWS_TILE_HEIGHT_MIN, AWS_TILE_SIZE.max, h));
            },
            [](const ModuleAWS &m, ParameterList &list, ModuleBase::SaveType t) {
                if (t == ModuleBase::SAVE_DEF) {
                    short w, h;
                    m.defaultTile(w, h);
                    Parameter p(AWS_TILE_SIZE.name, std::vector<std::string>{toString(w), toString(h)});
                    p.setInfo(getParameterInfo(AWS_TILE_SIZE));
                    list.addParameter(p, true);
                    return;
                }
                saveParameter(list, t, AWS_TILE_SIZE,
                              std::vector<std::string>{toString(static_cast<int>(m.ui16TileWidth)),
                                                       toString(static_cast<int>(m.ui16TileHeight))});
            }),
        bind(AWS_LOG2_R_QEFF, &ModuleAWS::fLog2_R_Qeff),
        bind(AWS_LOG2_B_QEFF, &ModuleAWS::fLog2_B_Qeff),
        bind(AWS_R_DARK_THRESH, &ModuleAWS::fRedDarkThresh),
        bind(AWS_G_DARK_THRESH, &ModuleAWS::fGreenDarkThresh),
        bind(AWS_B_DARK_THRESH, &ModuleAWS::fBlueDarkThresh),
        bind(AWS_R_CLIP_THRESH, &ModuleAWS::fRedClipThresh),
        bind(AWS_G_CLIP_THRESH, &ModuleAWS::fGreenClipThresh),
        bind(AWS_B_CLIP_THRESH, &ModuleAWS::fBlueClipThresh),
        bind(AWS_BB_DIST, &ModuleAWS::fBbDist),
        custom(
            AWS_CURVES_NUM.name,
            [](ModuleAWS &m, const ParameterList &list) {
                m.fLines.clear();
                loadLinesParams(list, m.fLines);
            },
            [](const ModuleAWS &m, ParameterList &list, ModuleBase::SaveType t) {
                saveParameter(list, t, AWS_CURVES_NUM, static_cast<int>(m.fLines.size()));
            }),
        curveBinding(AWS_CURVE_X_COEFFS, &curveLine::fXcoeff),
        curveBinding(AWS_CURVE_Y_COEFFS, &curveLine::fYcoeff),
        curveBinding(AWS_CURVE_OFFSETS, &curveLine::fOffset),
        curveBinding(AWS_CURVE_BOUNDARIES, &curveLine::fBoundary),
    };
    return table;
}

int ModuleAWS::loadLinesParams(const ParameterList &parameters, linesSet &lines) {
    if (!lines.empty()) {
        return -1;
    }
    const int n = parameters.getParameter(AWS_CURVES_NUM);
    for (int i = 0; i < n; i++) {
        const unsigned u = static_cast<unsigned>(i);
        curveLine l;
        l.fXcoeff = parameters.getParameter(AWS_CURVE_X_COEFFS, u);
        l.fYcoeff = parameters.getParameter(AWS_CURVE_Y_COEFFS, u);
        l.fOffset = parameters.getParameter(AWS_CURVE_OFFSETS, u);
        l.fBoundary = parameters.getParameter(AWS_CURVE_BOUNDARIES, u);
        lines.push_back(l);
    }
    return n;
}

ModuleAWS::ModuleAWS()
    : SetupModuleImpl<ModuleAWS, STP_AWS>("ISPC_MOD_AWS"), enabled(false), debugMode(false), fLog2_R_Qeff(1.0),
      fLog2_B_Qeff(1.0), fRedDarkThresh(8.0), fBlueDarkThresh(8.0), fGreenDarkThresh(8.0), fRedClipThresh(128.0),
      fBlueClipThresh(128.0), fGreenClipThresh(128.0), fBbDist(0.2), ui16GridStartRow(0), ui16GridStartColumn(0),
      ui16TileWidth(16), ui16TileHeight(16) {
    loadDefaults();
}

QOR_RESULT ModuleAWS::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleAWS::writeSetup(MC_PIPELINE &mc) {
    MC_AWS &aws = mc.sAWS;
    aws.bEnable = enabled;
    aws.bDebugBitmap = debugMode;
    aws.fLog2_R_Qeff = fLog2_R_Qeff;
    aws.fLog2_B_Qeff = fLog2_B_Qeff;
    aws.fRedDarkThresh = fRedDarkThresh;
    aws.fBlueDarkThresh = fBlueDarkThresh;
    aws.fGreenDarkThresh = fGreenDarkThresh;
    aws.fRedClipThresh = fRedClipThresh;
    aws.fBlueClipThresh = fBlueClipThresh;
    aws.fGreenClipThresh = fGreenClipThresh;
    aws.fBbDist = fBbDist;
    aws.ui16GridStartRow = ui16GridStartRow;
    aws.ui16GridStartColumn = ui16GridStartColumn;
    aws.ui16GridTileWidth = ui16TileWidth;
    aws.ui16GridTileHeight = ui16TileHeight;

    // Without lines of its own the module leaves the block's curve as it is (its initialisation's or
    // an earlier set-up's). With lines, they go into the slots by descending boundary; a slot without
    // a line keeps its coefficients and gets the lowest boundary.
    if (!fLines.empty()) {
        for (unsigned i = 0; i < MAX_LINES; i++) {
            aws.aCurveBoundary[i] = AWS_CURVE_REG_MIN;
        }
        fLines.sort(); // stable, by boundary
        fLines.reverse();
        unsigned i = 0;
        for (const curveLine &l : fLines) {
            if (i >= MAX_LINES)
                break;
            aws.aCurveBoundary[i] = l.fBoundary;
            aws.aCurveCoeffX[i] = l.fXcoeff;
            aws.aCurveCoeffY[i] = l.fYcoeff;
            aws.aCurveOffset[i] = l.fOffset;
            i++;
        }
    }
    markUpdated(aws);
    return QOR_RES_OK;
}

} // namespace ISPC
