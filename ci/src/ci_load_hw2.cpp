/*
 * Writer of the hardware load structure. The whole register map is the table kMap below: one row
 * per field (indexed rows stand for count registers spaced wordStep bytes apart, their sources
 * srcStep bytes apart); one loop serves every group.
 */
#include "ci/ci_load_hw2.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "CI_API";

enum Section : QOR_UINT8 {
    SEC_GRP0,
    SEC_GRP1,
    SEC_GRP2,
    SEC_GRP3,
    SEC_GRP4,
    SEC_ESC,
    SEC_DSC,
    SEC_GRP6,
    SEC_EXS_FOS_WBS,
    SEC_AWS,
    SEC_HIS_FLD,
    SEC_N
};
enum Base : QOR_UINT8 { B_PIPE, B_SCALER, B_AWS };
enum SrcType : QOR_UINT8 { T_U8, T_S8, T_U16, T_S16, T_U32, T_U32_AS_S32, T_RLT_MODE, T_WBC_MODE, T_BIT0, T_ZERO };
enum Check : QOR_UINT8 { C_NONE, C_U, C_S, C_NONZERO };
enum Cond : QOR_UINT8 { K_ALWAYS, K_VIBRANCY, K_MEMORY_COLOUR, K_TNM_ON, K_SHA_DENOISE, K_TAPS };

struct Row {
    QOR_UINT16 word;
    QOR_UINT8 count;
    QOR_UINT8 wordStep;
    QOR_UINT8 lo;
    QOR_UINT8 hi;
    QOR_UINT16 src;
    QOR_UINT8 srcStep;
    SrcType type;
    Check check;
    Section sec;
    Cond cond;
    const char *loader;
    const char *reg;
    const char *field;
};

#define P(m) static_cast<QOR_UINT16>(offsetof(CI_PIPELINE, m))
#define S(m) static_cast<QOR_UINT16>(offsetof(CI_MODULE_SCALER, m))
#define A(m) static_cast<QOR_UINT16>(offsetof(CI_MODULE_AWS, m))
/* One register field; N: an indexed field of count registers. */
#define F(sec, cond, ld, word, lo, hi, src, type, chk, reg, fld)                                                       \
    { word, 1, 0, lo, hi, src, 0, type, chk, sec, cond, ld, reg, fld }
#define N(sec, cond, ld, word, cnt, wstep, lo, hi, src, sstep, type, chk, reg, fld)                                    \
    { word, cnt, wstep, lo, hi, src, sstep, type, chk, sec, cond, ld, reg, fld }

const char *const BLC = "HW_CI_Load_BLC";
const char *const LSHWB = "HW_CI_Load_LSH_WB";
const char *const DNS = "HW_CI_Load_DNS";
const char *const DPF = "HW_CI_Load_DPF";
const char *const LCA = "HW_CI_Load_LCA";
const char *const WBC = "HW_CI_Load_WBC";
const char *const CCM = "HW_CI_Load_CCM";
const char *const MGM = "HW_CI_Load_MGM";
const char *const GMA = "HW_CI_Load_GMA";
const char *const R2Y = "HW_CI_Load_R2Y";
const char *const MIE = "HW_CI_Load_MIE";
const char *const TNM = "HW_CI_Load_TNM";
const char *const SHA = "HW_CI_Load_SHA";
const char *const ESC = "HW_CI_Load_ESC";
const char *const DSC = "HW_CI_Load_DSC";
const char *const Y2R = "HW_CI_Load_Y2R";
const char *const DGM = "HW_CI_Load_DGM";
const char *const EXS = "HW_CI_Load_EXS";
const char *const FOS = "HW_CI_Load_FOS";
const char *const WBS = "HW_CI_Load_WBS";
const char *const AWS = "HW_CI_Load_AWS";
const char *const HIS = "HW_CI_Load_HIS";
const char *const FLD = "HW_CI_Load_FLD";
const char *const NO = nullptr; /* a field without a name has no check */

/* clang-format off */
const Row kMap[] = {
    /* CI_UPD_GRP_0: black level, raw look-up table, white-balance gains and clips */
    F(SEC_GRP0, K_ALWAYS, BLC, 12, 0, 0, P(sBlackCorrection.bRowAverage), T_U8, C_U, "BLACK_CONTROL", "BLACK_MODE"),
    F(SEC_GRP0, K_ALWAYS, BLC, 12, 8, 8, P(sBlackCorrection.bBlackFrame), T_U8, C_U, "BLACK_CONTROL", "BLACK_FRAME"),
    F(SEC_GRP0, K_ALWAYS, BLC, 16, 0, 7, P(sBlackCorrection.ui16PixelMax), T_U16, C_U, "BLACK_ANALYSIS", "BLACK_PIXEL_MAX"),
    F(SEC_GRP0, K_ALWAYS, BLC, 16, 16, 25, P(sBlackCorrection.ui16RowReciprocal), T_U16, C_U, "BLACK_ANALYSIS", "BLACK_ROW_RECIPROCAL"),
    N(SEC_GRP0, K_ALWAYS, BLC, 20, 1, 0, 0, 7, P(sBlackCorrection.i8FixedOffset[0]), 0, T_S8, C_NONE, NO, NO),
    N(SEC_GRP0, K_ALWAYS, BLC, 20, 1, 0, 8, 15, P(sBlackCorrection.i8FixedOffset[1]), 0, T_S8, C_NONE, NO, NO),
    N(SEC_GRP0, K_ALWAYS, BLC, 20, 1, 0, 16, 23, P(sBlackCorrection.i8FixedOffset[2]), 0, T_S8, C_NONE, NO, NO),
    N(SEC_GRP0, K_ALWAYS, BLC, 20, 1, 0, 24, 31, P(sBlackCorrection.i8FixedOffset[3]), 0, T_S8, C_NONE, NO, NO),
    F(SEC_GRP0, K_ALWAYS, BLC, 24, 0, 1, P(sRawLUT.eMode), T_RLT_MODE, C_NONE, NO, NO),
    N(SEC_GRP0, K_ALWAYS, BLC, 28, 32, 4, 0, 15, P(sRawLUT.aPoints[0][0]), 4, T_U16, C_NONE, NO, NO),
    N(SEC_GRP0, K_ALWAYS, BLC, 28, 32, 4, 16, 31, P(sRawLUT.aPoints[0][1]), 4, T_U16, C_NONE, NO, NO),
    N(SEC_GRP0, K_ALWAYS, LSHWB, 196, 2, 4, 0, 15, P(sWhiteBalance.aGain[0]), 4, T_U16, C_NONE, NO, NO),
    N(SEC_GRP0, K_ALWAYS, LSHWB, 196, 2, 4, 16, 31, P(sWhiteBalance.aGain[1]), 4, T_U16, C_NONE, NO, NO),
    F(SEC_GRP0, K_ALWAYS, LSHWB, 204, 0, 12, P(sWhiteBalance.aClip[0]), T_U16, C_U, "LSH_CLIP_0", "WHITE_BALANCE_CLIP_0"),
    F(SEC_GRP0, K_ALWAYS, LSHWB, 204, 16, 28, P(sWhiteBalance.aClip[1]), T_U16, C_U, "LSH_CLIP_0", "WHITE_BALANCE_CLIP_1"),
    F(SEC_GRP0, K_ALWAYS, LSHWB, 208, 0, 12, P(sWhiteBalance.aClip[2]), T_U16, C_U, "LSH_CLIP_1", "WHITE_BALANCE_CLIP_2"),
    F(SEC_GRP0, K_ALWAYS, LSHWB, 208, 16, 28, P(sWhiteBalance.aClip[3]), T_U16, C_U, "LSH_CLIP_1", "WHITE_BALANCE_CLIP_3"),

    /* CI_UPD_GRP_1: denoiser, defective pixels, lateral chromatic aberration */
    N(SEC_GRP1, K_ALWAYS, DNS, 244, 4, 4, 0, 12, P(sDenoiser.aPixThresLUT[0]), 4, T_U16, C_U, "PIX_THRESH_LUT_SEC0_POINTS", "PIX_THRESH_LUT_POINTS_0TO7_0"),
    N(SEC_GRP1, K_ALWAYS, DNS, 244, 4, 4, 16, 28, P(sDenoiser.aPixThresLUT[1]), 4, T_U16, C_U, "PIX_THRESH_LUT_SEC0_POINTS", "PIX_THRESH_LUT_POINTS_0TO7_1"),
    N(SEC_GRP1, K_ALWAYS, DNS, 260, 3, 4, 0, 12, P(sDenoiser.aPixThresLUT[8]), 4, T_U16, C_U, "PIX_THRESH_LUT_SEC1_POINTS", "PIX_THRESH_LUT_POINTS_8TO13_0"),
    N(SEC_GRP1, K_ALWAYS, DNS, 260, 3, 4, 16, 28, P(sDenoiser.aPixThresLUT[9]), 4, T_U16, C_U, "PIX_THRESH_LUT_SEC1_POINTS", "PIX_THRESH_LUT_POINTS_8TO13_1"),
    N(SEC_GRP1, K_ALWAYS, DNS, 272, 3, 4, 0, 12, P(sDenoiser.aPixThresLUT[14]), 4, T_U16, C_U, "PIX_THRESH_LUT_SEC2_POINTS", "PIX_THRESH_LUT_POINTS_14TO19_0"),
    N(SEC_GRP1, K_ALWAYS, DNS, 272, 3, 4, 16, 28, P(sDenoiser.aPixThresLUT[15]), 4, T_U16, C_U, "PIX_THRESH_LUT_SEC2_POINTS", "PIX_THRESH_LUT_POINTS_14TO19_1"),
    F(SEC_GRP1, K_ALWAYS, DNS, 284, 0, 12, P(sDenoiser.aPixThresLUT[20]), T_U16, C_U, "PIX_THRESH_LUT_SEC3_POINTS", "PIX_THRESH_LUT_POINT_20"),
    F(SEC_GRP1, K_ALWAYS, DNS, 288, 0, 0, P(sDenoiser.bCombineChannels), T_U8, C_U, "DENOISE_CONTROL", "DENOISE_COMBINE_1_2"),
    F(SEC_GRP1, K_ALWAYS, DNS, 288, 1, 6, P(sDenoiser.i8Log2PixThresh), T_S8, C_S, "DENOISE_CONTROL", "LOG2_GREYSC_PIXTHRESH_MULT"),
    F(SEC_GRP1, K_ALWAYS, DPF, 292, 0, 0, P(sDefectivePixels.eDPFEnable), T_BIT0, C_NONE, NO, NO),
    F(SEC_GRP1, K_ALWAYS, DPF, 296, 0, 7, P(sDefectivePixels.ui8Threshold), T_U8, C_NONE, "DPF_SENSITIVITY", NO),
    F(SEC_GRP1, K_ALWAYS, DPF, 296, 16, 21, P(sDefectivePixels.ui8Weight), T_U8, C_U, "DPF_SENSITIVITY", "DPF_WEIGHT"),
    F(SEC_GRP1, K_ALWAYS, DPF, 304, 0, 7, P(sDefectivePixels.ui8PositiveThreshold), T_U8, C_NONE, NO, NO),
    F(SEC_GRP1, K_ALWAYS, DPF, 304, 16, 23, P(sDefectivePixels.ui8NegativeThreshold), T_U8, C_NONE, NO, NO),
    N(SEC_GRP1, K_ALWAYS, LCA, 308, 3, 8, 0, 11, P(sChromaAberration.aCoeffRed[0][0]), 4, T_S16, C_S, "LAT_CA_DELTA_COEFF_RED", "LAT_CA_COEFF_X_RED"),
    N(SEC_GRP1, K_ALWAYS, LCA, 308, 3, 8, 16, 27, P(sChromaAberration.aCoeffRed[0][1]), 4, T_S16, C_S, "LAT_CA_DELTA_COEFF_RED", "LAT_CA_COEFF_Y_RED"),
    N(SEC_GRP1, K_ALWAYS, LCA, 312, 3, 8, 0, 11, P(sChromaAberration.aCoeffBlue[0][0]), 4, T_S16, C_S, "LAT_CA_DELTA_COEFF_BLUE", "LAT_CA_COEFF_X_BLUE"),
    N(SEC_GRP1, K_ALWAYS, LCA, 312, 3, 8, 16, 27, P(sChromaAberration.aCoeffBlue[0][1]), 4, T_S16, C_S, "LAT_CA_DELTA_COEFF_BLUE", "LAT_CA_COEFF_Y_BLUE"),
    F(SEC_GRP1, K_ALWAYS, LCA, 332, 0, 13, P(sChromaAberration.aOffsetRed[0]), T_U16, C_U, "LAT_CA_OFFSET_RED", "LAT_CA_OFFSET_X_RED"),
    F(SEC_GRP1, K_ALWAYS, LCA, 332, 16, 29, P(sChromaAberration.aOffsetRed[1]), T_U16, C_U, "LAT_CA_OFFSET_RED", "LAT_CA_OFFSET_Y_RED"),
    F(SEC_GRP1, K_ALWAYS, LCA, 336, 0, 13, P(sChromaAberration.aOffsetBlue[0]), T_U16, C_U, "LAT_CA_OFFSET_BLUE", "LAT_CA_OFFSET_X_BLUE"),
    F(SEC_GRP1, K_ALWAYS, LCA, 336, 16, 29, P(sChromaAberration.aOffsetBlue[1]), T_U16, C_U, "LAT_CA_OFFSET_BLUE", "LAT_CA_OFFSET_Y_BLUE"),
    F(SEC_GRP1, K_ALWAYS, LCA, 340, 0, 3, P(sChromaAberration.aDec[0]), T_U8, C_U, "LAT_CA_NORMALIZATION", "LAT_CA_DEC_X"),
    F(SEC_GRP1, K_ALWAYS, LCA, 340, 8, 9, P(sChromaAberration.aShift[0]), T_U8, C_U, "LAT_CA_NORMALIZATION", "LAT_CA_SHIFT_X"),
    F(SEC_GRP1, K_ALWAYS, LCA, 340, 16, 19, P(sChromaAberration.aDec[1]), T_U8, C_U, "LAT_CA_NORMALIZATION", "LAT_CA_DEC_Y"),
    F(SEC_GRP1, K_ALWAYS, LCA, 340, 24, 25, P(sChromaAberration.aShift[1]), T_U8, C_U, "LAT_CA_NORMALIZATION", "LAT_CA_SHIFT_Y"),

    /* CI_UPD_GRP_2: RGB white balance, colour correction, main gamut mapper, gamma, RGB to YCbCr */
    F(SEC_GRP2, K_ALWAYS, WBC, 344, 0, 7, P(sWhiteBalance.aRGBGain[0]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP2, K_ALWAYS, WBC, 344, 8, 15, P(sWhiteBalance.aRGBGain[1]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP2, K_ALWAYS, WBC, 344, 16, 23, P(sWhiteBalance.aRGBGain[2]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP2, K_ALWAYS, WBC, 348, 0, 8, P(sWhiteBalance.aRGBThreshold[0]), T_U16, C_U, "WBC_THRESHOLD", "WBC_THRES_0"),
    F(SEC_GRP2, K_ALWAYS, WBC, 348, 10, 18, P(sWhiteBalance.aRGBThreshold[1]), T_U16, C_U, "WBC_THRESHOLD", "WBC_THRES_1"),
    F(SEC_GRP2, K_ALWAYS, WBC, 348, 20, 28, P(sWhiteBalance.aRGBThreshold[2]), T_U16, C_U, "WBC_THRESHOLD", "WBC_THRES_2"),
    F(SEC_GRP2, K_ALWAYS, WBC, 348, 30, 30, P(sWhiteBalance.eRGBThresholdMode), T_WBC_MODE, C_NONE, "WBC_THRESHOLD", NO),
    N(SEC_GRP2, K_ALWAYS, CCM, 352, 3, 8, 0, 11, P(sColourCorrection.aCoeff[0][0]), 8, T_S16, C_S, "CC_COEFFS_A", "CC_COEFF_0"),
    N(SEC_GRP2, K_ALWAYS, CCM, 352, 3, 8, 16, 27, P(sColourCorrection.aCoeff[0][1]), 8, T_S16, C_S, "CC_COEFFS_A", "CC_COEFF_1"),
    N(SEC_GRP2, K_ALWAYS, CCM, 356, 3, 8, 0, 11, P(sColourCorrection.aCoeff[0][2]), 8, T_S16, C_S, "CC_COEFFS_B", "CC_COEFF_2"),
    N(SEC_GRP2, K_ALWAYS, CCM, 356, 3, 8, 16, 27, P(sColourCorrection.aCoeff[0][3]), 8, T_S16, C_S, "CC_COEFFS_B", "CC_COEFF_3"),
    F(SEC_GRP2, K_ALWAYS, CCM, 376, 0, 11, P(sColourCorrection.aOffset[0]), T_S16, C_S, "CC_OFFSETS_1_0", "CC_OFFSET_0"),
    F(SEC_GRP2, K_ALWAYS, CCM, 376, 16, 27, P(sColourCorrection.aOffset[1]), T_S16, C_S, "CC_OFFSETS_1_0", "CC_OFFSET_1"),
    F(SEC_GRP2, K_ALWAYS, CCM, 380, 0, 11, P(sColourCorrection.aOffset[2]), T_S16, C_S, "CC_OFFSETS_2", "CC_OFFSET_2"),
    F(SEC_GRP2, K_ALWAYS, MGM, 384, 0, 11, P(sMainGamutMapper.i16ClipMin), T_S16, C_S, "MGM_CLIP_IN", "MGM_CLIP_MIN"),
    F(SEC_GRP2, K_ALWAYS, MGM, 384, 16, 27, P(sMainGamutMapper.ui16ClipMax), T_U16, C_U, "MGM_CLIP_IN", "MGM_CLIP_MAX"),
    F(SEC_GRP2, K_ALWAYS, MGM, 388, 0, 11, P(sMainGamutMapper.ui16SrcNorm), T_U16, C_U, "MGM_CORE_IN_OUT", "MGM_SRC_NORM"),
    F(SEC_GRP2, K_ALWAYS, MGM, 392, 0, 11, P(sMainGamutMapper.aSlope[0]), T_U16, C_U, "MGM_SLOPE_0_1", "MGM_SLOPE_0"),
    F(SEC_GRP2, K_ALWAYS, MGM, 392, 16, 27, P(sMainGamutMapper.aSlope[1]), T_U16, C_U, "MGM_SLOPE_0_1", "MGM_SLOPE_1"),
    F(SEC_GRP2, K_ALWAYS, MGM, 396, 0, 11, P(sMainGamutMapper.aSlope[2]), T_U16, C_U, "MGM_SLOPE_2_R", "MGM_SLOPE_2"),
    F(SEC_GRP2, K_ALWAYS, MGM, 400, 0, 7, P(sMainGamutMapper.aCoeff[0]), T_S16, C_S, "MGM_COEFFS_0_3", "MGM_COEFF_0"),
    F(SEC_GRP2, K_ALWAYS, MGM, 400, 8, 15, P(sMainGamutMapper.aCoeff[1]), T_S16, C_S, "MGM_COEFFS_0_3", "MGM_COEFF_1"),
    F(SEC_GRP2, K_ALWAYS, MGM, 400, 16, 23, P(sMainGamutMapper.aCoeff[2]), T_S16, C_S, "MGM_COEFFS_0_3", "MGM_COEFF_2"),
    F(SEC_GRP2, K_ALWAYS, MGM, 400, 24, 31, P(sMainGamutMapper.aCoeff[3]), T_S16, C_S, "MGM_COEFFS_0_3", "MGM_COEFF_3"),
    F(SEC_GRP2, K_ALWAYS, MGM, 404, 0, 7, P(sMainGamutMapper.aCoeff[4]), T_S16, C_S, "MGM_COEFFS_4_5", "MGM_COEFF_4"),
    F(SEC_GRP2, K_ALWAYS, MGM, 404, 8, 15, P(sMainGamutMapper.aCoeff[5]), T_S16, C_S, "MGM_COEFFS_4_5", "MGM_COEFF_5"),
    F(SEC_GRP2, K_ALWAYS, GMA, 456, 0, 0, P(sGammaCorrection.bBypass), T_U8, C_U, "GMA_BYPASS", "GMA_BYPASS"),
    N(SEC_GRP2, K_ALWAYS, R2Y, 496, 3, 8, 0, 11, P(sRGBToYCC.aCoeff[0][0]), 6, T_S16, C_S, "RGB_TO_YCC_MATRIX_COEFFS", "RGB_TO_YCC_COEFF_COL_0"),
    N(SEC_GRP2, K_ALWAYS, R2Y, 496, 3, 8, 16, 27, P(sRGBToYCC.aCoeff[0][1]), 6, T_S16, C_S, "RGB_TO_YCC_MATRIX_COEFFS", "RGB_TO_YCC_COEFF_COL_1"),
    N(SEC_GRP2, K_ALWAYS, R2Y, 500, 3, 8, 0, 11, P(sRGBToYCC.aCoeff[0][2]), 6, T_S16, C_S, "RGB_TO_YCC_MATRIX_COEFF_OFFSET", "RGB_TO_YCC_COEFF_COL_2"),
    N(SEC_GRP2, K_ALWAYS, R2Y, 500, 3, 8, 16, 25, P(sRGBToYCC.aOffset[0]), 2, T_S16, C_S, "RGB_TO_YCC_MATRIX_COEFF_OFFSET", "RGB_TO_YCC_OFFSET"),

    /* CI_UPD_GRP_3: image enhancer and tone mapper */
    F(SEC_GRP3, K_ALWAYS, MIE, 532, 0, 0, P(sImageEnhancer.bMemoryColour), T_U8, C_U, "MIE_VIB_PARAMS_0", "MIE_MC_ON"),
    F(SEC_GRP3, K_ALWAYS, MIE, 532, 1, 1, P(sImageEnhancer.bVibrancy), T_U8, C_U, "MIE_VIB_PARAMS_0", "MIE_VIB_ON"),
    F(SEC_GRP3, K_ALWAYS, MIE, 532, 2, 11, P(sImageEnhancer.ui16BlackLevel), T_U16, C_U, "MIE_VIB_PARAMS_0", "MIE_BLACK_LEVEL"),
    N(SEC_GRP3, K_VIBRANCY, MIE, 536, 16, 4, 0, 11, P(sImageEnhancer.aVibrancySatMul[0]), 4, T_U16, C_U, "MIE_VIB_FUN", "MIE_VIB_SATMULT_0"),
    N(SEC_GRP3, K_VIBRANCY, MIE, 536, 16, 4, 16, 27, P(sImageEnhancer.aVibrancySatMul[1]), 4, T_U16, C_U, "MIE_VIB_FUN", "MIE_VIB_SATMULT_1"),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 600, 3, 4, 0, 13, P(sImageEnhancer.aYOffset[0]), 2, T_S16, C_S, "MIE_MC_PARAMS_Y", "MIE_MC_YOFF"),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 600, 3, 4, 14, 19, P(sImageEnhancer.aYScale[0]), 1, T_U8, C_U, "MIE_MC_PARAMS_Y", "MIE_MC_YSCALE"),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 612, 3, 4, 0, 9, P(sImageEnhancer.aCOffset[0]), 2, T_S16, C_S, "MIE_MC_PARAMS_C", "MIE_MC_COFF"),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 612, 3, 4, 10, 17, P(sImageEnhancer.aCScale[0]), 1, T_U8, C_NONE, "MIE_MC_PARAMS_C", NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 624, 3, 4, 0, 7, P(sImageEnhancer.aRot[0]), 2, T_S8, C_NONE, NO, NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 624, 3, 4, 8, 15, P(sImageEnhancer.aRot[1]), 2, T_S8, C_NONE, NO, NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 636, 3, 4, 0, 9, P(sImageEnhancer.aGaussMinY[0]), 2, T_U16, C_U, "MIE_MC_GAUSS_PARAMS_0", "MIE_MC_GAUSS_MINY"),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 636, 3, 4, 16, 23, P(sImageEnhancer.aGaussScaleY[0]), 1, T_U8, C_NONE, "MIE_MC_GAUSS_PARAMS_0", NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 648, 3, 4, 0, 9, P(sImageEnhancer.aGaussCB[0]), 1, T_S8, C_NONE, NO, NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 648, 3, 4, 16, 25, P(sImageEnhancer.aGaussCR[0]), 1, T_S8, C_NONE, NO, NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 660, 3, 4, 0, 7, P(sImageEnhancer.aGaussRot[0]), 2, T_S8, C_NONE, NO, NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 660, 3, 4, 8, 15, P(sImageEnhancer.aGaussRot[1]), 2, T_S8, C_NONE, NO, NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 672, 3, 4, 0, 7, P(sImageEnhancer.aGaussKB[0]), 1, T_U8, C_NONE, NO, NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 672, 3, 4, 8, 15, P(sImageEnhancer.aGaussKR[0]), 1, T_U8, C_NONE, NO, NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 684, 6, 4, 0, 7, P(sImageEnhancer.aGaussScale[0]), 2, T_U8, C_NONE, NO, NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 684, 6, 4, 8, 15, P(sImageEnhancer.aGaussScale[1]), 2, T_U8, C_NONE, NO, NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 708, 6, 4, 0, 7, P(sImageEnhancer.aGaussGain[0]), 2, T_U8, C_NONE, NO, NO),
    N(SEC_GRP3, K_MEMORY_COLOUR, MIE, 708, 6, 4, 16, 23, P(sImageEnhancer.aGaussGain[1]), 2, T_U8, C_NONE, NO, NO),
    N(SEC_GRP3, K_TNM_ON, TNM, 732, 31, 4, 0, 11, P(sToneMapping.aCurve[0]), 4, T_U16, C_U, "TNM_GLOBAL_CURVE", "TNM_CURVE_POINT_0"),
    N(SEC_GRP3, K_TNM_ON, TNM, 732, 31, 4, 16, 27, P(sToneMapping.aCurve[1]), 4, T_U16, C_U, "TNM_GLOBAL_CURVE", "TNM_CURVE_POINT_1"),
    F(SEC_GRP3, K_TNM_ON, TNM, 856, 0, 11, P(sToneMapping.aCurve[62]), T_U16, C_U, "TNM_GLOBAL_CURVE", "TNM_CURVE_POINT_0"),
    F(SEC_GRP3, K_ALWAYS, TNM, 860, 0, 0, P(sToneMapping.bBypassTNM), T_U8, C_NONZERO, NO, NO),
    F(SEC_GRP3, K_TNM_ON, TNM, 864, 0, 10, P(sToneMapping.histFlattenMin), T_U16, C_U, "TNM_HIST_FLATTEN_0", "TNM_HIST_FLATTEN_MIN"),
    F(SEC_GRP3, K_TNM_ON, TNM, 864, 16, 26, P(sToneMapping.histFlattenThreshold[0]), T_U16, C_U, "TNM_HIST_FLATTEN_0", "TNM_HIST_FLATTEN_THRES"),
    F(SEC_GRP3, K_TNM_ON, TNM, 868, 0, 15, P(sToneMapping.histFlattenThreshold[1]), T_U16, C_NONE, NO, NO),
    F(SEC_GRP3, K_TNM_ON, TNM, 872, 0, 15, P(sToneMapping.histNormLastFactor), T_U16, C_NONE, NO, NO),
    F(SEC_GRP3, K_TNM_ON, TNM, 872, 16, 31, P(sToneMapping.histNormFactor), T_U16, C_NONE, NO, NO),
    F(SEC_GRP3, K_TNM_ON, TNM, 876, 0, 11, P(sToneMapping.chromaSaturationScale), T_U16, C_U, "TNM_CHR_0", "TNM_CHR_SAT_SCALE"),
    F(SEC_GRP3, K_TNM_ON, TNM, 876, 16, 31, P(sToneMapping.chromaConfigurationScale), T_U16, C_NONE, "TNM_CHR_0", NO),
    F(SEC_GRP3, K_TNM_ON, TNM, 880, 0, 15, P(sToneMapping.chromaIOScale), T_U16, C_NONE, NO, NO),
    F(SEC_GRP3, K_TNM_ON, TNM, 884, 0, 13, P(sToneMapping.localColWidth[0]), T_U16, C_U, "TNM_LOCAL_COL", "TNM_LOCAL_COL_WIDTH"),
    F(SEC_GRP3, K_TNM_ON, TNM, 884, 16, 31, P(sToneMapping.localColWidth[1]), T_U16, C_NONE, "TNM_LOCAL_COL", NO),
    F(SEC_GRP3, K_TNM_ON, TNM, 888, 0, 6, P(sToneMapping.columnsIdx), T_U16, C_U, "TNM_CTX_LOCAL_COL", "TNM_CTX_LOCAL_COL_IDX"),
    F(SEC_GRP3, K_TNM_ON, TNM, 888, 16, 20, P(sToneMapping.localColumns), T_U16, C_U, "TNM_CTX_LOCAL_COL", "TNM_CTX_LOCAL_COLS"),
    F(SEC_GRP3, K_TNM_ON, TNM, 892, 0, 9, P(sToneMapping.localWeights), T_U16, C_U, "TNM_WEIGHTS", "TNM_LOCAL_WEIGHT"),
    F(SEC_GRP3, K_TNM_ON, TNM, 892, 16, 31, P(sToneMapping.updateWeights), T_U16, C_NONE, "TNM_WEIGHTS", NO),
    F(SEC_GRP3, K_ALWAYS, TNM, 896, 0, 11, P(sToneMapping.inputLumaOffset), T_U16, C_U, "TNM_INPUT_LUMA", "TNM_INPUT_LUMA_OFFSET"),
    F(SEC_GRP3, K_ALWAYS, TNM, 896, 16, 31, P(sToneMapping.inputLumaScale), T_U16, C_NONE, "TNM_INPUT_LUMA", NO),
    F(SEC_GRP3, K_ALWAYS, TNM, 900, 0, 11, P(sToneMapping.outputLumaOffset), T_U16, C_U, "TNM_OUTPUT_LUMA", "TNM_OUTPUT_LUMA_OFFSET"),
    F(SEC_GRP3, K_ALWAYS, TNM, 900, 16, 31, P(sToneMapping.outputLumaScale), T_U16, C_NONE, "TNM_OUTPUT_LUMA", NO),

    /* CI_UPD_GRP_4: sharpening */
    F(SEC_GRP4, K_ALWAYS, SHA, 924, 0, 7, P(sSharpening.ui8Threshold), T_U8, C_NONE, "SHA_PARAMS_0", NO),
    F(SEC_GRP4, K_ALWAYS, SHA, 924, 8, 15, P(sSharpening.ui8Strength), T_U8, C_NONE, "SHA_PARAMS_0", NO),
    F(SEC_GRP4, K_ALWAYS, SHA, 924, 16, 21, P(sSharpening.ui8Detail), T_U8, C_U, "SHA_PARAMS_0", "SHA_DETAIL"),
    F(SEC_GRP4, K_ALWAYS, SHA, 924, 22, 22, P(sSharpening.bDenoiseBypass), T_U8, C_U, "SHA_PARAMS_0", "SHA_DENOISE_BYPASS"),
    F(SEC_GRP4, K_ALWAYS, SHA, 928, 0, 5, P(sSharpening.aGainWeight[0]), T_U8, C_U, "SHA_PARAMS_1", "SHA_GWEIGHT_0"),
    F(SEC_GRP4, K_ALWAYS, SHA, 928, 6, 11, P(sSharpening.aGainWeight[1]), T_U8, C_U, "SHA_PARAMS_1", "SHA_GWEIGHT_1"),
    F(SEC_GRP4, K_ALWAYS, SHA, 928, 12, 17, P(sSharpening.aGainWeight[2]), T_U8, C_U, "SHA_PARAMS_1", "SHA_GWEIGHT_2"),
    F(SEC_GRP4, K_ALWAYS, SHA, 932, 0, 7, P(sSharpening.ui8ELWScale), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_ALWAYS, SHA, 932, 8, 14, P(sSharpening.i8ELWOffset), T_S8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 936, 0, 7, P(sSharpening.aDNSimil[0]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 936, 8, 15, P(sSharpening.aDNSimil[1]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 936, 16, 23, P(sSharpening.aDNSimil[2]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 936, 24, 31, P(sSharpening.aDNSimil[3]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 940, 0, 7, P(sSharpening.aDNSimil[4]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 940, 8, 15, P(sSharpening.aDNSimil[5]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 940, 16, 23, P(sSharpening.aDNSimil[6]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 944, 0, 7, P(sSharpening.aDNAvoid[0]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 944, 8, 15, P(sSharpening.aDNAvoid[1]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 944, 16, 23, P(sSharpening.aDNAvoid[2]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 944, 24, 31, P(sSharpening.aDNAvoid[3]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 948, 0, 7, P(sSharpening.aDNAvoid[4]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 948, 8, 15, P(sSharpening.aDNAvoid[5]), T_U8, C_NONE, NO, NO),
    F(SEC_GRP4, K_SHA_DENOISE, SHA, 948, 16, 23, P(sSharpening.aDNAvoid[6]), T_U8, C_NONE, NO, NO),

    /* Encoder-scaler registers (sources in the scaler record) */
    F(SEC_ESC, K_ALWAYS, ESC, 952, 0, 31, S(aPitch[1]), T_U32, C_NONE, NO, NO),
    F(SEC_ESC, K_ALWAYS, ESC, 956, 0, 14, S(aOutputSize[1]), T_U16, C_U, "ENC_SCAL_V_SETUP", "ENC_SCAL_OUTPUT_ROWS"),
    F(SEC_ESC, K_ALWAYS, ESC, 956, 16, 30, S(aOffset[1]), T_U16, C_U, "ENC_SCAL_V_SETUP", "ENC_SCAL_V_OFFSET"),
    F(SEC_ESC, K_ALWAYS, ESC, 956, 31, 31, S(bOutput422), T_U8, C_NONZERO, NO, NO),
    N(SEC_ESC, K_TAPS, ESC, 968, 4, 8, 0, 4, S(VLuma[0]), 8, T_S8, C_S, "ENC_SCAL_V_LUMA_TAPS_0_TO_3", "ENC_SCAL_V_LUMA_TAP_0"),
    N(SEC_ESC, K_TAPS, ESC, 968, 4, 8, 8, 12, S(VLuma[1]), 8, T_S8, C_S, "ENC_SCAL_V_LUMA_TAPS_0_TO_3", "ENC_SCAL_V_LUMA_TAP_1"),
    N(SEC_ESC, K_TAPS, ESC, 968, 4, 8, 16, 21, S(VLuma[2]), 8, T_S8, C_S, "ENC_SCAL_V_LUMA_TAPS_0_TO_3", "ENC_SCAL_V_LUMA_TAP_2"),
    N(SEC_ESC, K_TAPS, ESC, 968, 4, 8, 24, 30, S(VLuma[3]), 8, T_S8, C_NONE, "ENC_SCAL_V_LUMA_TAPS_0_TO_3", NO),
    N(SEC_ESC, K_TAPS, ESC, 972, 4, 8, 0, 6, S(VLuma[4]), 8, T_S8, C_NONE, "ENC_SCAL_V_LUMA_TAPS_4_TO_7", NO),
    N(SEC_ESC, K_TAPS, ESC, 972, 4, 8, 8, 13, S(VLuma[5]), 8, T_S8, C_S, "ENC_SCAL_V_LUMA_TAPS_4_TO_7", "ENC_SCAL_V_LUMA_TAP_5"),
    N(SEC_ESC, K_TAPS, ESC, 972, 4, 8, 16, 20, S(VLuma[6]), 8, T_S8, C_S, "ENC_SCAL_V_LUMA_TAPS_4_TO_7", "ENC_SCAL_V_LUMA_TAP_6"),
    N(SEC_ESC, K_TAPS, ESC, 972, 4, 8, 24, 28, S(VLuma[7]), 8, T_S8, C_S, "ENC_SCAL_V_LUMA_TAPS_4_TO_7", "ENC_SCAL_V_LUMA_TAP_7"),
    N(SEC_ESC, K_TAPS, ESC, 1000, 4, 4, 0, 5, S(VChroma[0]), 4, T_S8, C_S, "ENC_SCAL_V_CHROMA_TAPS_0_TO_3", "ENC_SCAL_V_CHROMA_TAP_0"),
    N(SEC_ESC, K_TAPS, ESC, 1000, 4, 4, 8, 14, S(VChroma[1]), 4, T_S8, C_NONE, "ENC_SCAL_V_CHROMA_TAPS_0_TO_3", NO),
    N(SEC_ESC, K_TAPS, ESC, 1000, 4, 4, 16, 22, S(VChroma[2]), 4, T_S8, C_NONE, "ENC_SCAL_V_CHROMA_TAPS_0_TO_3", NO),
    N(SEC_ESC, K_TAPS, ESC, 1000, 4, 4, 24, 29, S(VChroma[3]), 4, T_S8, C_S, "ENC_SCAL_V_CHROMA_TAPS_0_TO_3", "ENC_SCAL_V_CHROMA_TAP_3"),
    N(SEC_ESC, K_TAPS, ESC, 1016, 4, 16, 0, 3, S(HLuma[0]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_0_TO_3", "ENC_SCAL_H_LUMA_TAP_0"),
    N(SEC_ESC, K_TAPS, ESC, 1016, 4, 16, 8, 11, S(HLuma[1]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_0_TO_3", "ENC_SCAL_H_LUMA_TAP_1"),
    N(SEC_ESC, K_TAPS, ESC, 1016, 4, 16, 16, 19, S(HLuma[2]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_0_TO_3", "ENC_SCAL_H_LUMA_TAP_2"),
    N(SEC_ESC, K_TAPS, ESC, 1016, 4, 16, 24, 27, S(HLuma[3]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_0_TO_3", "ENC_SCAL_H_LUMA_TAP_3"),
    N(SEC_ESC, K_TAPS, ESC, 1020, 4, 16, 0, 4, S(HLuma[4]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_4_TO_7", "ENC_SCAL_H_LUMA_TAP_4"),
    N(SEC_ESC, K_TAPS, ESC, 1020, 4, 16, 8, 12, S(HLuma[5]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_4_TO_7", "ENC_SCAL_H_LUMA_TAP_5"),
    N(SEC_ESC, K_TAPS, ESC, 1020, 4, 16, 16, 21, S(HLuma[6]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_4_TO_7", "ENC_SCAL_H_LUMA_TAP_6"),
    N(SEC_ESC, K_TAPS, ESC, 1020, 4, 16, 24, 30, S(HLuma[7]), 16, T_S8, C_NONE, "ENC_SCAL_H_LUMA_TAPS_4_TO_7", NO),
    N(SEC_ESC, K_TAPS, ESC, 1024, 4, 16, 0, 6, S(HLuma[8]), 16, T_S8, C_NONE, "ENC_SCAL_H_LUMA_TAPS_8_TO_11", NO),
    N(SEC_ESC, K_TAPS, ESC, 1024, 4, 16, 8, 13, S(HLuma[9]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_8_TO_11", "ENC_SCAL_H_LUMA_TAP_9"),
    N(SEC_ESC, K_TAPS, ESC, 1024, 4, 16, 16, 20, S(HLuma[10]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_8_TO_11", "ENC_SCAL_H_LUMA_TAP_10"),
    N(SEC_ESC, K_TAPS, ESC, 1024, 4, 16, 24, 28, S(HLuma[11]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_8_TO_11", "ENC_SCAL_H_LUMA_TAP_11"),
    N(SEC_ESC, K_TAPS, ESC, 1028, 4, 16, 0, 3, S(HLuma[12]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_12_TO_15", "ENC_SCAL_H_LUMA_TAP_12"),
    N(SEC_ESC, K_TAPS, ESC, 1028, 4, 16, 8, 11, S(HLuma[13]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_12_TO_15", "ENC_SCAL_H_LUMA_TAP_13"),
    N(SEC_ESC, K_TAPS, ESC, 1028, 4, 16, 16, 19, S(HLuma[14]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_12_TO_15", "ENC_SCAL_H_LUMA_TAP_14"),
    N(SEC_ESC, K_TAPS, ESC, 1028, 4, 16, 24, 27, S(HLuma[15]), 16, T_S8, C_S, "ENC_SCAL_H_LUMA_TAPS_12_TO_15", "ENC_SCAL_H_LUMA_TAP_15"),
    N(SEC_ESC, K_TAPS, ESC, 1080, 4, 8, 0, 4, S(HChroma[0]), 8, T_S8, C_S, "ENC_SCAL_H_CHROMA_TAPS_0_TO_3", "ENC_SCAL_H_CHROMA_TAP_0"),
    N(SEC_ESC, K_TAPS, ESC, 1080, 4, 8, 8, 12, S(HChroma[1]), 8, T_S8, C_S, "ENC_SCAL_H_CHROMA_TAPS_0_TO_3", "ENC_SCAL_H_CHROMA_TAP_1"),
    N(SEC_ESC, K_TAPS, ESC, 1080, 4, 8, 16, 21, S(HChroma[2]), 8, T_S8, C_S, "ENC_SCAL_H_CHROMA_TAPS_0_TO_3", "ENC_SCAL_H_CHROMA_TAP_2"),
    N(SEC_ESC, K_TAPS, ESC, 1080, 4, 8, 24, 30, S(HChroma[3]), 8, T_S8, C_NONE, "ENC_SCAL_H_CHROMA_TAPS_0_TO_3", NO),
    N(SEC_ESC, K_TAPS, ESC, 1084, 4, 8, 0, 6, S(HChroma[4]), 8, T_S8, C_NONE, "ENC_SCAL_H_CHROMA_TAPS_4_TO_7", NO),
    N(SEC_ESC, K_TAPS, ESC, 1084, 4, 8, 8, 13, S(HChroma[5]), 8, T_S8, C_S, "ENC_SCAL_H_CHROMA_TAPS_4_TO_7", "ENC_SCAL_H_CHROMA_TAP_5"),
    N(SEC_ESC, K_TAPS, ESC, 1084, 4, 8, 16, 20, S(HChroma[6]), 8, T_S8, C_S, "ENC_SCAL_H_CHROMA_TAPS_4_TO_7", "ENC_SCAL_H_CHROMA_TAP_6"),
    N(SEC_ESC, K_TAPS, ESC, 1084, 4, 8, 24, 28, S(HChroma[7]), 8, T_S8, C_S, "ENC_SCAL_H_CHROMA_TAPS_4_TO_7", "ENC_SCAL_H_CHROMA_TAP_7"),
    F(SEC_ESC, K_ALWAYS, ESC, 1112, 0, 31, S(aPitch[0]), T_U32, C_NONE, NO, NO),
    F(SEC_ESC, K_ALWAYS, ESC, 1116, 1, 13, S(aOutputSize[0]), T_U16, C_U, "ENC_SCAL_H_SETUP", "ENC_SCAL_OUTPUT_COLUMNS"),
    F(SEC_ESC, K_ALWAYS, ESC, 1116, 16, 29, S(aOffset[0]), T_U16, C_U, "ENC_SCAL_H_SETUP", "ENC_SCAL_H_OFFSET"),
    F(SEC_ESC, K_ALWAYS, ESC, 1116, 30, 30, S(bChromaInter), T_U8, C_U, "ENC_SCAL_H_SETUP", "ENC_SCAL_CHROMA_MODE"),
    F(SEC_ESC, K_ALWAYS, ESC, 1116, 31, 31, S(bBypassScaler), T_U8, C_U, "ENC_SCAL_H_SETUP", "ENC_SCAL_BYPASS"),
    F(SEC_ESC, K_TAPS, ESC, 1120, 0, 31, 0, T_ZERO, C_NONE, NO, NO),

    /* Display-scaler registers (sources in the scaler record) */
    F(SEC_DSC, K_ALWAYS, DSC, 960, 0, 31, S(aPitch[1]), T_U32, C_NONE, NO, NO),
    F(SEC_DSC, K_ALWAYS, DSC, 964, 0, 14, S(aOutputSize[1]), T_U16, C_U, "DISP_SCAL_V_SETUP", "DISP_SCAL_OUTPUT_ROWS"),
    F(SEC_DSC, K_ALWAYS, DSC, 964, 16, 30, S(aOffset[1]), T_U16, C_U, "DISP_SCAL_V_SETUP", "DISP_SCAL_V_OFFSET"),
    N(SEC_DSC, K_TAPS, DSC, 1132, 4, 4, 0, 5, S(VLuma[0]), 4, T_S8, C_S, "DISP_SCAL_V_LUMA_TAPS_0_TO_3", "DISP_SCAL_V_LUMA_TAP_0"),
    N(SEC_DSC, K_TAPS, DSC, 1132, 4, 4, 8, 14, S(VLuma[1]), 4, T_S8, C_NONE, "DISP_SCAL_V_LUMA_TAPS_0_TO_3", NO),
    N(SEC_DSC, K_TAPS, DSC, 1132, 4, 4, 16, 22, S(VLuma[2]), 4, T_S8, C_NONE, "DISP_SCAL_V_LUMA_TAPS_0_TO_3", NO),
    N(SEC_DSC, K_TAPS, DSC, 1132, 4, 4, 24, 29, S(VLuma[3]), 4, T_S8, C_S, "DISP_SCAL_V_LUMA_TAPS_0_TO_3", "DISP_SCAL_V_LUMA_TAP_3"),
    N(SEC_DSC, K_TAPS, DSC, 1148, 4, 4, 0, 6, S(VChroma[0]), 2, T_S8, C_NONE, NO, NO),
    N(SEC_DSC, K_TAPS, DSC, 1148, 4, 4, 8, 14, S(VChroma[1]), 2, T_S8, C_NONE, NO, NO),
    N(SEC_DSC, K_TAPS, DSC, 1164, 4, 8, 0, 4, S(HLuma[0]), 8, T_S8, C_S, "DISP_SCAL_H_LUMA_TAPS_0_TO_3", "DISP_SCAL_H_LUMA_TAP_0"),
    N(SEC_DSC, K_TAPS, DSC, 1164, 4, 8, 8, 12, S(HLuma[1]), 8, T_S8, C_S, "DISP_SCAL_H_LUMA_TAPS_0_TO_3", "DISP_SCAL_H_LUMA_TAP_1"),
    N(SEC_DSC, K_TAPS, DSC, 1164, 4, 8, 16, 21, S(HLuma[2]), 8, T_S8, C_S, "DISP_SCAL_H_LUMA_TAPS_0_TO_3", "DISP_SCAL_H_LUMA_TAP_2"),
    N(SEC_DSC, K_TAPS, DSC, 1164, 4, 8, 24, 30, S(HLuma[3]), 8, T_S8, C_NONE, "DISP_SCAL_H_LUMA_TAPS_0_TO_3", NO),
    N(SEC_DSC, K_TAPS, DSC, 1168, 4, 8, 0, 6, S(HLuma[4]), 8, T_S8, C_NONE, "DISP_SCAL_H_LUMA_TAPS_4_TO_7", NO),
    N(SEC_DSC, K_TAPS, DSC, 1168, 4, 8, 8, 13, S(HLuma[5]), 8, T_S8, C_S, "DISP_SCAL_H_LUMA_TAPS_4_TO_7", "DISP_SCAL_H_LUMA_TAP_5"),
    N(SEC_DSC, K_TAPS, DSC, 1168, 4, 8, 16, 20, S(HLuma[6]), 8, T_S8, C_S, "DISP_SCAL_H_LUMA_TAPS_4_TO_7", "DISP_SCAL_H_LUMA_TAP_6"),
    N(SEC_DSC, K_TAPS, DSC, 1168, 4, 8, 24, 28, S(HLuma[7]), 8, T_S8, C_S, "DISP_SCAL_H_LUMA_TAPS_4_TO_7", "DISP_SCAL_H_LUMA_TAP_7"),
    N(SEC_DSC, K_TAPS, DSC, 1196, 4, 4, 0, 5, S(HChroma[0]), 4, T_S8, C_S, "DISP_SCAL_H_CHROMA_TAPS_0_TO_3", "DISP_SCAL_H_CHROMA_TAP_0"),
    N(SEC_DSC, K_TAPS, DSC, 1196, 4, 4, 8, 14, S(HChroma[1]), 4, T_S8, C_NONE, "DISP_SCAL_H_CHROMA_TAPS_0_TO_3", NO),
    N(SEC_DSC, K_TAPS, DSC, 1196, 4, 4, 16, 22, S(HChroma[2]), 4, T_S8, C_NONE, "DISP_SCAL_H_CHROMA_TAPS_0_TO_3", NO),
    N(SEC_DSC, K_TAPS, DSC, 1196, 4, 4, 24, 29, S(HChroma[3]), 4, T_S8, C_S, "DISP_SCAL_H_CHROMA_TAPS_0_TO_3", "DISP_SCAL_H_CHROMA_TAP_3"),
    F(SEC_DSC, K_ALWAYS, DSC, 1212, 0, 31, S(aPitch[0]), T_U32, C_NONE, NO, NO),
    F(SEC_DSC, K_ALWAYS, DSC, 1216, 1, 13, S(aOutputSize[0]), T_U16, C_U, "DISP_SCAL_H_SETUP", "DISP_SCAL_OUTPUT_COLUMNS"),
    F(SEC_DSC, K_ALWAYS, DSC, 1216, 16, 29, S(aOffset[0]), T_U16, C_U, "DISP_SCAL_H_SETUP", "DISP_SCAL_H_OFFSET"),
    F(SEC_DSC, K_ALWAYS, DSC, 1216, 31, 31, S(bBypassScaler), T_U8, C_U, "DISP_SCAL_H_SETUP", "DISP_SCAL_BYPASS"),

    /* CI_UPD_GRP_6 after its scaler: YCbCr to RGB, display gamut mapper */
    N(SEC_GRP6, K_ALWAYS, Y2R, 1220, 3, 8, 0, 11, P(sYCCToRGB.aCoeff[0][0]), 6, T_S16, C_S, "YCC_TO_RGB_MATRIX_COEFFS", "YCC_TO_RGB_COEFF_COL_0"),
    N(SEC_GRP6, K_ALWAYS, Y2R, 1220, 3, 8, 16, 27, P(sYCCToRGB.aCoeff[0][1]), 6, T_S16, C_S, "YCC_TO_RGB_MATRIX_COEFFS", "YCC_TO_RGB_COEFF_COL_1"),
    N(SEC_GRP6, K_ALWAYS, Y2R, 1224, 3, 8, 0, 11, P(sYCCToRGB.aCoeff[0][2]), 6, T_S16, C_S, "YCC_TO_RGB_MATRIX_COEFF_OFFSET", "YCC_TO_RGB_COEFF_COL_2"),
    N(SEC_GRP6, K_ALWAYS, Y2R, 1224, 3, 8, 16, 26, P(sYCCToRGB.aOffset[0]), 2, T_S16, C_S, "YCC_TO_RGB_MATRIX_COEFF_OFFSET", "YCC_TO_RGB_OFFSET"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1244, 0, 11, P(sDisplayGamutMapper.i16ClipMin), T_S16, C_S, "DGM_CLIP_IN", "DGM_CLIP_MIN"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1244, 16, 27, P(sDisplayGamutMapper.ui16ClipMax), T_U16, C_U, "DGM_CLIP_IN", "DGM_CLIP_MAX"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1248, 0, 11, P(sDisplayGamutMapper.ui16SrcNorm), T_U16, C_U, "DGM_CORE_IN_OUT", "DGM_SRC_NORM"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1252, 0, 11, P(sDisplayGamutMapper.aSlope[0]), T_U16, C_U, "DGM_SLOPE_0_1", "DGM_SLOPE_0"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1252, 16, 27, P(sDisplayGamutMapper.aSlope[1]), T_U16, C_U, "DGM_SLOPE_0_1", "DGM_SLOPE_1"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1256, 0, 11, P(sDisplayGamutMapper.aSlope[2]), T_U16, C_U, "DGM_SLOPE_2_R", "DGM_SLOPE_2"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1260, 0, 7, P(sDisplayGamutMapper.aCoeff[0]), T_S16, C_S, "DGM_COEFFS_0_3", "DGM_COEFF_0"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1260, 8, 15, P(sDisplayGamutMapper.aCoeff[1]), T_S16, C_S, "DGM_COEFFS_0_3", "DGM_COEFF_1"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1260, 16, 23, P(sDisplayGamutMapper.aCoeff[2]), T_S16, C_S, "DGM_COEFFS_0_3", "DGM_COEFF_2"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1260, 24, 31, P(sDisplayGamutMapper.aCoeff[3]), T_S16, C_S, "DGM_COEFFS_0_3", "DGM_COEFF_3"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1264, 0, 7, P(sDisplayGamutMapper.aCoeff[4]), T_S16, C_S, "DGM_COEFFS_4_5", "DGM_COEFF_4"),
    F(SEC_GRP6, K_ALWAYS, DGM, 1264, 8, 15, P(sDisplayGamutMapper.aCoeff[5]), T_S16, C_S, "DGM_COEFFS_4_5", "DGM_COEFF_5"),

    /* Statistics, written on every call: exposure, focus, white balance */
    F(SEC_EXS_FOS_WBS, K_ALWAYS, EXS, 0, 0, 15, P(stats.sExposureStats.ui16Left), T_U16, C_NONE, NO, NO),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, EXS, 0, 16, 31, P(stats.sExposureStats.ui16Top), T_U16, C_NONE, NO, NO),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, EXS, 4, 0, 13, P(stats.sExposureStats.ui16Width), T_U16, C_U, "EXS_GRID_TILE", "EXS_GRID_TILE_WIDTH"),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, EXS, 4, 16, 29, P(stats.sExposureStats.ui16Height), T_U16, C_U, "EXS_GRID_TILE", "EXS_GRID_TILE_HEIGHT"),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, EXS, 8, 0, 11, P(stats.sExposureStats.ui16PixelMax), T_U16, C_U, "EXS_PIXEL_MAX", "EXS_PIXEL_MAX"),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, FOS, 228, 0, 15, P(stats.sFocusStats.ui16Left), T_U16, C_NONE, NO, NO),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, FOS, 228, 16, 31, P(stats.sFocusStats.ui16Top), T_U16, C_NONE, NO, NO),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, FOS, 232, 0, 13, P(stats.sFocusStats.ui16Width), T_U16, C_U, "FOS_GRID_TILE", "FOS_GRID_TILE_WIDTH"),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, FOS, 232, 16, 29, P(stats.sFocusStats.ui16Height), T_U16, C_U, "FOS_GRID_TILE", "FOS_GRID_TILE_HEIGHT"),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, FOS, 236, 1, 15, P(stats.sFocusStats.ui16ROILeft), T_U16, C_U, "FOS_ROI_COORDS_START", "FOS_ROI_START_COL"),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, FOS, 236, 16, 30, P(stats.sFocusStats.ui16ROITop), T_U16, C_U, "FOS_ROI_COORDS_START", "FOS_ROI_START_ROW"),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, FOS, 240, 0, 14, P(stats.sFocusStats.ui16ROIRight), T_U16, C_U, "FOS_ROI_COORDS_END", "FOS_ROI_END_COL"),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, FOS, 240, 16, 30, P(stats.sFocusStats.ui16ROIBottom), T_U16, C_U, "FOS_ROI_COORDS_END", "FOS_ROI_END_ROW"),
    N(SEC_EXS_FOS_WBS, K_ALWAYS, WBS, 460, 2, 4, 0, 14, P(stats.sWhiteBalanceStats.aRoiLeft[0]), 2, T_U16, C_U, "WBS_ROI_START_COORDS", "WBS_ROI_COL_START"),
    N(SEC_EXS_FOS_WBS, K_ALWAYS, WBS, 460, 2, 4, 16, 30, P(stats.sWhiteBalanceStats.aRoiTop[0]), 2, T_U16, C_U, "WBS_ROI_START_COORDS", "WBS_ROI_ROW_START"),
    N(SEC_EXS_FOS_WBS, K_ALWAYS, WBS, 468, 2, 4, 0, 14, P(stats.sWhiteBalanceStats.aRoiRight[0]), 2, T_U16, C_U, "WBS_ROI_END_COORDS", "WBS_ROI_COL_END"),
    N(SEC_EXS_FOS_WBS, K_ALWAYS, WBS, 468, 2, 4, 16, 30, P(stats.sWhiteBalanceStats.aRoiBottom[0]), 2, T_U16, C_U, "WBS_ROI_END_COORDS", "WBS_ROI_ROW_END"),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, WBS, 476, 0, 0, P(stats.sWhiteBalanceStats.ui8ActiveROI), T_U8, C_U, "WBS_MISC", "WBS_ROI_ACT"),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, WBS, 476, 4, 16, P(stats.sWhiteBalanceStats.ui16RGBOffset), T_S16, C_S, "WBS_MISC", "WBS_RGB_OFFSET"),
    F(SEC_EXS_FOS_WBS, K_ALWAYS, WBS, 476, 18, 30, P(stats.sWhiteBalanceStats.ui16YOffset), T_S16, C_S, "WBS_MISC", "WBS_Y_OFFSET"),
    N(SEC_EXS_FOS_WBS, K_ALWAYS, WBS, 480, 2, 4, 0, 11, P(stats.sWhiteBalanceStats.aRMax[0]), 2, T_U16, C_U, "WBS_RGBY_TH_0", "WBS_RMAX_TH"),
    N(SEC_EXS_FOS_WBS, K_ALWAYS, WBS, 480, 2, 4, 12, 23, P(stats.sWhiteBalanceStats.aGMax[0]), 2, T_U16, C_U, "WBS_RGBY_TH_0", "WBS_GMAX_TH"),
    N(SEC_EXS_FOS_WBS, K_ALWAYS, WBS, 488, 2, 4, 0, 11, P(stats.sWhiteBalanceStats.aBMax[0]), 2, T_U16, C_U, "WBS_RGBY_TH_1", "WBS_BMAX_TH"),
    N(SEC_EXS_FOS_WBS, K_ALWAYS, WBS, 488, 2, 4, 12, 23, P(stats.sWhiteBalanceStats.aYMax[0]), 2, T_U16, C_U, "WBS_RGBY_TH_1", "WBS_YHLW_TH"),

    /* Auto-white-balance statistics (sources in the AWS record) */
    F(SEC_AWS, K_ALWAYS, AWS, 156, 0, 15, A(ui16GridStartColumn), T_U16, C_NONE, NO, NO),
    F(SEC_AWS, K_ALWAYS, AWS, 156, 16, 31, A(ui16GridStartRow), T_U16, C_NONE, NO, NO),
    F(SEC_AWS, K_ALWAYS, AWS, 160, 0, 11, A(ui16GridTileWidth), T_U16, C_U, "AWS_GRID_TILE", "AWS_GRID_TILE_CFA_WIDTH_MIN1"),
    F(SEC_AWS, K_ALWAYS, AWS, 160, 16, 27, A(ui16GridTileHeight), T_U16, C_U, "AWS_GRID_TILE", "AWS_GRID_TILE_CFA_HEIGHT_MIN1"),
    /* S8.5 values kept in 16-bit fields: checked as signed, so a gain below 1 is not reported */
    F(SEC_AWS, K_ALWAYS, AWS, 164, 0, 12, A(ui16Log2_R_Qeff), T_S16, C_S, "AWS_LOG2_QEFF", "AWS_LOG2_R_QEFF"),
    F(SEC_AWS, K_ALWAYS, AWS, 164, 16, 28, A(ui16Log2_B_Qeff), T_S16, C_S, "AWS_LOG2_QEFF", "AWS_LOG2_B_QEFF"),
    F(SEC_AWS, K_ALWAYS, AWS, 168, 0, 15, A(ui16RedDarkThresh), T_U16, C_NONE, NO, NO),
    F(SEC_AWS, K_ALWAYS, AWS, 168, 16, 31, A(ui16GreenDarkThresh), T_U16, C_NONE, NO, NO),
    F(SEC_AWS, K_ALWAYS, AWS, 172, 0, 15, A(ui16BlueDarkThresh), T_U16, C_NONE, NO, NO),
    F(SEC_AWS, K_ALWAYS, AWS, 172, 16, 31, A(ui16RedClipThresh), T_U16, C_NONE, NO, NO),
    F(SEC_AWS, K_ALWAYS, AWS, 176, 0, 15, A(ui16GreenClipThresh), T_U16, C_NONE, NO, NO),
    F(SEC_AWS, K_ALWAYS, AWS, 176, 16, 31, A(ui16BlueClipThresh), T_U16, C_NONE, NO, NO),
    F(SEC_AWS, K_ALWAYS, AWS, 180, 0, 11, A(ui16BbDist), T_U16, C_U, "AWS_BB_DIST", "AWS_BB_DIST"),
    F(SEC_AWS, K_ALWAYS, AWS, 184, 0, 0, A(bDebugBitmap), T_U8, C_NONZERO, NO, NO),

    /* Statistics, written on every call: histogram, flicker */
    F(SEC_HIS_FLD, K_ALWAYS, HIS, 520, 0, 9, P(stats.sHistStats.ui16InputOffset), T_U16, C_U, "HIS_INPUT_RANGE", "HIS_INPUT_OFFSET"),
    F(SEC_HIS_FLD, K_ALWAYS, HIS, 520, 16, 31, P(stats.sHistStats.ui16InputScale), T_U16, C_NONE, "HIS_INPUT_RANGE", NO),
    F(SEC_HIS_FLD, K_ALWAYS, HIS, 524, 0, 13, P(stats.sHistStats.ui16Left), T_U16, C_U, "HIS_REGION_GRID_START_COORDS", "HIS_REGION_GRID_COL_START"),
    F(SEC_HIS_FLD, K_ALWAYS, HIS, 524, 16, 29, P(stats.sHistStats.ui16Top), T_U16, C_U, "HIS_REGION_GRID_START_COORDS", "HIS_REGION_GRID_ROW_START"),
    F(SEC_HIS_FLD, K_ALWAYS, HIS, 528, 0, 13, P(stats.sHistStats.ui16Width), T_U16, C_U, "HIS_REGION_GRID_TILE", "HIS_REGION_GRID_TILE_WIDTH"),
    F(SEC_HIS_FLD, K_ALWAYS, HIS, 528, 16, 29, P(stats.sHistStats.ui16Height), T_U16, C_U, "HIS_REGION_GRID_TILE", "HIS_REGION_GRID_TILE_HEIGHT"),
    F(SEC_HIS_FLD, K_ALWAYS, FLD, 904, 0, 14, P(stats.sFlickerStats.ui16FracStep50), T_U16, C_U, "FLD_FRAC_STEP", "FLD_FRAC_STEP_50"),
    F(SEC_HIS_FLD, K_ALWAYS, FLD, 904, 16, 30, P(stats.sFlickerStats.ui16FracStep60), T_U16, C_U, "FLD_FRAC_STEP", "FLD_FRAC_STEP_60"),
    F(SEC_HIS_FLD, K_ALWAYS, FLD, 908, 0, 14, P(stats.sFlickerStats.ui16CoefDiff), T_U16, C_U, "FLD_TH", "FLD_COEF_DIFF_TH"),
    F(SEC_HIS_FLD, K_ALWAYS, FLD, 908, 16, 30, P(stats.sFlickerStats.ui16NFThreshold), T_U16, C_U, "FLD_TH", "FLD_NF_TH"),
    F(SEC_HIS_FLD, K_ALWAYS, FLD, 912, 0, 19, P(stats.sFlickerStats.ui32SceneChange), T_U32_AS_S32, C_S, "FLD_SCENE_CHANGE_TH", "FLD_SCENE_CHANGE_TH"),
    F(SEC_HIS_FLD, K_ALWAYS, FLD, 916, 0, 5, P(stats.sFlickerStats.ui8RShift), T_U8, C_U, "FLD_DFT", "FLD_RSHIFT"),
    F(SEC_HIS_FLD, K_ALWAYS, FLD, 916, 6, 11, P(stats.sFlickerStats.ui8MinPN), T_U8, C_U, "FLD_DFT", "FLD_MIN_PN"),
    F(SEC_HIS_FLD, K_ALWAYS, FLD, 916, 12, 17, P(stats.sFlickerStats.ui8PN), T_U8, C_U, "FLD_DFT", "FLD_PN"),
    F(SEC_HIS_FLD, K_ALWAYS, FLD, 920, 0, 0, P(stats.sFlickerStats.bReset), T_U8, C_U, "FLD_RESET", "FLD_RESET"),
};
/* clang-format on */

const size_t kRows = sizeof(kMap) / sizeof(kMap[0]);

/** First row of each section (and kRows past the last): the table is ordered by section. */
struct SectionIndex {
    size_t begin[SEC_N + 1];
    SectionIndex() {
        size_t r = 0;
        for (int s = 0; s < SEC_N; s++) {
            begin[s] = r;
            while (r < kRows && kMap[r].sec == s) {
                r++;
            }
        }
        begin[SEC_N] = r;
    }
};
const SectionIndex kSections;

bool condHolds(Cond cond, const QOR_UINT8 *base) {
    const CI_PIPELINE *p = reinterpret_cast<const CI_PIPELINE *>(base);
    switch (cond) {
    case K_VIBRANCY:
        return p->sImageEnhancer.bVibrancy != 0;
    case K_MEMORY_COLOUR:
        return p->sImageEnhancer.bMemoryColour != 0;
    case K_TNM_ON:
        return p->sToneMapping.bBypassTNM == 0;
    case K_SHA_DENOISE:
        return p->sSharpening.bDenoiseBypass == 0;
    case K_TAPS:
        return reinterpret_cast<const CI_MODULE_SCALER *>(base)->bBypassScaler == 0;
    case K_ALWAYS:
    default:
        return true;
    }
}

/** The source value, sign-extended for signed sources; isSigned tells which. */
// Mode errors are reported under the name of the block loader they belong to, not of this helper.
QOR_INT64 fetch(const Row &row, const QOR_UINT8 *src, bool *isSigned) {
    *isSigned = false;
    switch (row.type) {
    case T_U8:
        return *src;
    case T_S8:
        *isSigned = true;
        return static_cast<QOR_INT8>(*src);
    case T_U16: {
        QOR_UINT16 v;
        memcpy(&v, src, sizeof(v));
        return v;
    }
    case T_S16: {
        QOR_INT16 v;
        memcpy(&v, src, sizeof(v));
        *isSigned = true;
        return v;
    }
    case T_U32: {
        QOR_UINT32 v;
        memcpy(&v, src, sizeof(v));
        return v;
    }
    case T_U32_AS_S32: {
        QOR_INT32 v;
        memcpy(&v, src, sizeof(v));
        *isSigned = true;
        return v;
    }
    case T_RLT_MODE: {
        QOR_INT32 mode;
        memcpy(&mode, src, sizeof(mode));
        switch (mode) {
        case CI_RLT_DISABLED:
            return 0;
        case CI_RLT_LINEAR:
            return 1;
        case CI_RLT_CUBIC:
            return 3;
        default:
            LOG_Error("HW_CI_Load_RLT", __LINE__, kTag, "unknown RLT mode value!\n");
            return 1;
        }
    }
    case T_WBC_MODE: {
        QOR_INT32 mode;
        memcpy(&mode, src, sizeof(mode));
        if (mode == WBC_THRESHOLD) {
            return 1;
        }
        if (mode != WBC_SATURATION) {
            LOG_Error("HW_CI_Load_WBC", __LINE__, kTag, "unknown mode %d - using mode %d\n", mode, 0);
        }
        return 0;
    }
    case T_BIT0:
        return *src & 1;
    case T_ZERO:
    default:
        return 0;
    }
}

/** Range check of one field: prints the mismatch and carries on. */
void check(const Row &row, QOR_INT64 v, bool isSigned) {
    const int w = row.hi - row.lo + 1;
    bool fits = true;
    if (row.check == C_U) {
        // read as the unsigned source type
        const QOR_UINT64 typeMask = row.type == T_S8 ? 0xFFu : (row.type == T_S16 ? 0xFFFFu : 0xFFFFFFFFu);
        const QOR_UINT64 u = isSigned ? static_cast<QOR_UINT64>(v) & typeMask : static_cast<QOR_UINT64>(v);
        fits = u <= ((QOR_UINT64(1) << w) - 1);
    } else if (row.check == C_S) {
        fits = v >= -(QOR_INT64(1) << w) && v <= (QOR_INT64(1) << w) - 1;
    }
    if (!fits) {
        // The overflow report is a fixed line on standard output, not a log line.
        printf("%s: %d does not fit in %s:%s:%s\n", row.loader, static_cast<int>(v), "NORVA_LOAD_STRUCTURE",
               row.reg != nullptr ? row.reg : "", row.field != nullptr ? row.field : "");
    }
}

QOR_UINT32 readWord(const char *mem, unsigned word) {
    const QOR_UINT8 *b = reinterpret_cast<const QOR_UINT8 *>(mem) + word;
    return QOR_UINT32(b[0]) | (QOR_UINT32(b[1]) << 8) | (QOR_UINT32(b[2]) << 16) | (QOR_UINT32(b[3]) << 24);
}

void writeWord(char *mem, unsigned word, QOR_UINT32 v) {
    QOR_UINT8 *b = reinterpret_cast<QOR_UINT8 *>(mem) + word;
    b[0] = static_cast<QOR_UINT8>(v);
    b[1] = static_cast<QOR_UINT8>(v >> 8);
    b[2] = static_cast<QOR_UINT8>(v >> 16);
    b[3] = static_cast<QOR_UINT8>(v >> 24);
}

/** The one writer loop: every register of a section, whole words, from the record at base. */
void loadSection(char *mem, Section sec, const QOR_UINT8 *base) {
    const size_t begin = kSections.begin[sec];
    const size_t end = kSections.begin[sec + 1];
    // Each word of the section is written whole: clear the words about to be written first.
    for (size_t r = begin; r < end; r++) {
        const Row &row = kMap[r];
        if (!condHolds(row.cond, base)) {
            continue;
        }
        for (unsigned i = 0; i < row.count; i++) {
            writeWord(mem, row.word + i * row.wordStep, 0);
        }
    }
    for (size_t r = begin; r < end; r++) {
        const Row &row = kMap[r];
        if (!condHolds(row.cond, base)) {
            continue;
        }
        const int w = row.hi - row.lo + 1;
        const QOR_UINT32 mask = (w >= 32) ? 0xFFFFFFFFu : ((1u << w) - 1u);
        for (unsigned i = 0; i < row.count; i++) {
            bool isSigned = false;
            QOR_INT64 v = fetch(row, base + row.src + i * row.srcStep, &isSigned);
            if (row.check == C_NONZERO) {
                v = v != 0 ? 1 : 0;
            } else if (row.check != C_NONE) {
                check(row, v, isSigned);
            }
            const unsigned word = row.word + i * row.wordStep;
            writeWord(mem, word, readWord(mem, word) | ((static_cast<QOR_UINT32>(v) & mask) << row.lo));
        }
    }
}

void loadScaler(char *mem, const CI_MODULE_SCALER *pScaler) {
    loadSection(mem, pScaler->bIsDisplay ? SEC_DSC : SEC_ESC, reinterpret_cast<const QOR_UINT8 *>(pScaler));
}

} // namespace

QOR_UINT32 INT_CI_SizeLS_HW2(void) { return CI_LOAD_STRUCT_SIZE; }

void HW_CI_Load_ESC(char *pMemory, const CI_MODULE_SCALER *pScaler) {
    loadSection(pMemory, SEC_ESC, reinterpret_cast<const QOR_UINT8 *>(pScaler));
}

void HW_CI_Load_DSC(char *pMemory, const CI_MODULE_SCALER *pScaler) {
    loadSection(pMemory, SEC_DSC, reinterpret_cast<const QOR_UINT8 *>(pScaler));
}

void HW_CI_Load_AWS(char *pMemory, const CI_MODULE_AWS *pWhiteBalance) {
    loadSection(pMemory, SEC_AWS, reinterpret_cast<const QOR_UINT8 *>(pWhiteBalance));
}

QOR_RESULT HW_CI_LoadPipeline(const CI_HWINFO *pHWInfo, const CI_PIPELINE *pPipeline, char *loadstruct,
                              int eUpdateMask) {
    // Errors carry the name of the whole-pipeline loader (and of the per-revision block loaders below).
    if (pHWInfo == nullptr || pPipeline == nullptr || loadstruct == nullptr) {
        LOG_Error("INT_CI_Load_HW2", __LINE__, kTag, "pipeline or load structure is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pHWInfo->rev_ui8Major != 2) {
        LOG_Error("INT_CI_Load_HW2", __LINE__, kTag, "Should only be called with HW %d.X\n", 2);
        return QOR_RES_NOT_SUPPORTED;
    }
    if (pHWInfo->uiSizeOfLoadStruct != CI_LOAD_STRUCT_SIZE) {
        LOG_Error("INT_CI_Load_HW2", __LINE__, kTag, "Different load structure size from user/kernel\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_UINT8 *pipe = reinterpret_cast<const QOR_UINT8 *>(pPipeline);
    const bool rev24 = pHWInfo->rev_ui8Minor == 4;
    if (eUpdateMask & CI_UPD_GRP_0) {
        loadSection(loadstruct, SEC_GRP0, pipe);
    }
    if (eUpdateMask & CI_UPD_GRP_1) {
        loadSection(loadstruct, SEC_GRP1, pipe);
    }
    if (eUpdateMask & CI_UPD_GRP_2) {
        loadSection(loadstruct, SEC_GRP2, pipe);
    }
    if (eUpdateMask & CI_UPD_GRP_3) {
        loadSection(loadstruct, SEC_GRP3, pipe);
        if (rev24) {
            LOG_Error("HW_CI_Load_MIE_2_4", __LINE__, kTag, "not implemented yet\n");
        }
    }
    if (eUpdateMask & CI_UPD_GRP_4) {
        loadSection(loadstruct, SEC_GRP4, pipe);
        if (rev24) {
            LOG_Error("HW_CI_Load_SHA_2_4", __LINE__, kTag, "not implemented yet\n");
        }
    }
    if (eUpdateMask & CI_UPD_GRP_5) {
        loadScaler(loadstruct, &pPipeline->sEncoderScaler);
    }
    if (eUpdateMask & CI_UPD_GRP_6) {
        loadScaler(loadstruct, &pPipeline->sDisplayScaler);
        loadSection(loadstruct, SEC_GRP6, pipe);
    }
    loadSection(loadstruct, SEC_EXS_FOS_WBS, pipe);
    HW_CI_Load_AWS(loadstruct, &pPipeline->stats.sAutoWhiteBalanceStats);
    loadSection(loadstruct, SEC_HIS_FLD, pipe);
    return QOR_RES_OK;
}

/* Expanded view of the map for coverage checks. */
QOR_UINT32 HW_CI_LoadFieldCount(void) {
    QOR_UINT32 n = 0;
    for (size_t r = 0; r < kRows; r++) {
        n += kMap[r].count;
    }
    return n;
}

CI_LS_FIELD_INFO HW_CI_LoadField(QOR_UINT32 i) {
    static const QOR_UINT8 kGroupOf[SEC_N] = {CI_UPD_GRP_0,
                                              CI_UPD_GRP_1,
                                              CI_UPD_GRP_2,
                                              CI_UPD_GRP_3,
                                              CI_UPD_GRP_4,
                                              CI_UPD_GRP_5,
                                              CI_UPD_GRP_6,
                                              CI_UPD_GRP_6,
                                              0,
                                              0,
                                              0};
    CI_LS_FIELD_INFO info;
    memset(&info, 0, sizeof(info));
    for (size_t r = 0; r < kRows; r++) {
        if (i < kMap[r].count) {
            const Row &row = kMap[r];
            info.ui16Word = static_cast<QOR_UINT16>(row.word + i * row.wordStep);
            info.ui8Lo = row.lo;
            info.ui8Hi = row.hi;
            info.ui8Group = kGroupOf[row.sec];
            info.pszRegister = row.reg;
            info.pszField = row.field;
            size_t base = 0;
            if (row.sec == SEC_ESC) {
                base = offsetof(CI_PIPELINE, sEncoderScaler);
            } else if (row.sec == SEC_DSC) {
                base = offsetof(CI_PIPELINE, sDisplayScaler);
            } else if (row.sec == SEC_AWS) {
                base = offsetof(CI_PIPELINE, stats.sAutoWhiteBalanceStats);
            }
            info.ui16Source = static_cast<QOR_UINT16>(base + row.src + i * row.srcStep);
            static const QOR_UINT8 kBytes[] = {1, 1, 2, 2, 4, 4, 4, 4, 1, 0};
            info.ui8SourceBytes = kBytes[row.type];
            info.bSourceSigned = row.type == T_S8 || row.type == T_S16 || row.type == T_U32_AS_S32;
            info.bCoded = row.type >= T_RLT_MODE || row.check == C_NONZERO;
            return info;
        }
        i -= kMap[r].count;
    }
    return info;
}
