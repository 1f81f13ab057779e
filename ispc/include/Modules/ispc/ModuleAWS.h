#ifndef ISPC_MODULEAWS_H
#define ISPC_MODULEAWS_H

#include <list>
#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Auto-white-balance statistics: per-tile colour sums of a 7 x 7 grid, within dark and clip thresholds
 * and near a black-body curve of up to five lines. With a sensor the tiles default to a seventh of
 * the sensor (at least 16 pixels). Without curve lines a set-up leaves the block's curve untouched.
 * Log tag "ISPC_MOD_AWS".
 */
class ModuleAWS : public SetupModuleImpl<ModuleAWS, STP_AWS> {
public:
    /** One line of the curve; it applies from fBoundary on. */
    struct curveLine {
        double fBoundary;
        double fXcoeff;
        double fYcoeff;
        double fOffset;
    };
    typedef std::list<curveLine> linesSet;

    static const ParamDefSingle<bool> AWS_ENABLED;           /**< "AWS_ENABLED" */
    static const ParamDefSingle<bool> AWS_DEBUG_MODE;        /**< "AWS_DEBUG_MODE" */
    static const ParamDefArray<short> AWS_TILE_START_COORDS; /**< "AWS_TILE_START_COORDS": column, row */
    static const ParamDefArray<short> AWS_TILE_SIZE;         /**< "AWS_TILE_SIZE": width, height */
    static const ParamDef<double> AWS_LOG2_R_QEFF;           /**< "AWS_LOG2_R_QEFF", 0 to 256, 1.0 */
    static const ParamDef<double> AWS_LOG2_B_QEFF;           /**< "AWS_LOG2_B_QEFF", 0 to 256, 1.0 */
    static const ParamDef<double> AWS_R_DARK_THRESH;
    static const ParamDef<double> AWS_G_DARK_THRESH;
    static const ParamDef<double> AWS_B_DARK_THRESH;
    static const ParamDef<double> AWS_R_CLIP_THRESH;
    static const ParamDef<double> AWS_G_CLIP_THRESH;
    static const ParamDef<double> AWS_B_CLIP_THRESH;
    static const ParamDef<double> AWS_BB_DIST;
    static const ParamDef<int> AWS_CURVES_NUM; /**< "AWS_CURVES_NUM", 0 to 5 */
    static const ParamDefArray<double> AWS_CURVE_X_COEFFS;
    static const ParamDefArray<double> AWS_CURVE_Y_COEFFS;
    static const ParamDefArray<double> AWS_CURVE_OFFSETS;
    static const ParamDefArray<double> AWS_CURVE_BOUNDARIES;

    static const char *const GROUP_NAME;   /**< "ModuleAWS" */
    static const char *const GROUP_HEADER; /**< "// Auto White Balance Statistics parameters (AWS block)" */
    static const std::vector<Binding> &bindings();

    static const short AWS_TILE_WIDTH_MIN = 16;
    static const short AWS_TILE_HEIGHT_MIN = 16;
    static const unsigned MAX_LINES = 5;

    ModuleAWS();
    ~ModuleAWS() override = default;

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);

    /** Appends the lines the list describes and returns their number; -1, reading nothing, when lines is not empty. */
    static int loadLinesParams(const ParameterList &parameters, linesSet &lines);

    bool enabled;
    bool debugMode;
    double fLog2_R_Qeff;
    double fLog2_B_Qeff;
    double fRedDarkThresh;
    double fBlueDarkThresh;
    double fGreenDarkThresh;
    double fRedClipThresh;
    double fBlueClipThresh;
    double fGreenClipThresh;
    double fBbDist;
    QOR_UINT16 ui16GridStartRow;
    QOR_UINT16 ui16GridStartColumn;
    QOR_UINT16 ui16TileWidth;
    QOR_UINT16 ui16TileHeight;
    linesSet fLines;

private:
    /** Default tile of the sensor (a seventh of each side, at least 16); 16 x 16 without one. */
    void defaultTile(short &width, short &height) const;
    static Binding curveBinding(const ParamDefArray<double> &def, double curveLine::*field);
};

/** Orders curve lines by their boundaries. */
bool operator<(const ModuleAWS::curveLine &a, const ModuleAWS::curveLine &b);

} // namespace ISPC

#endif /* ISPC_MODULEAWS_H */
