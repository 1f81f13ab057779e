#ifndef CI_PIPELINE_H
#define CI_PIPELINE_H
/*
 * Register-level configuration of one ISP context: the record the driver receives (binding
 * layout, little-endian, natural alignment), its update groups and statistics-output flags.
 */
#include <cstddef>

#include "ci/ci_api.h"
#include "linkedlist.h"
#include "norvacommon/pixel_transform.h"
#include "qor_errors.h"
#include "qor_types.h"

/** Update groups of the load structure and the parts sent beside it. */
enum CI_MODULE_UPDATE {
    CI_UPD_NONE = 0,
    CI_UPD_GRP_0 = 1,
    CI_UPD_GRP_1 = 2,
    CI_UPD_GRP_2 = 4,
    CI_UPD_GRP_3 = 8,
    CI_UPD_GRP_4 = 16,
    CI_UPD_GRP_5 = 32,
    CI_UPD_GRP_6 = 64,
    CI_UPD_GRP_ALL = 127,
    CI_UPD_LSH_REG = 128,
    CI_UPD_DPF_INPUT = 256,
    CI_UPD_AWS_REG = 512,
    CI_UPD_HDR = 1024,
    CI_UPD_ALL = 2047,

    CI_UPD_BLC = CI_UPD_GRP_0,
    CI_UPD_RLT = CI_UPD_GRP_0,
    CI_UPD_EXS = CI_UPD_GRP_0,
    CI_UPD_AWS_GRP = CI_UPD_GRP_0,
    CI_UPD_LSH_GRP = CI_UPD_GRP_0,
    CI_UPD_DNS = CI_UPD_GRP_1,
    CI_UPD_DPF = CI_UPD_GRP_1,
    CI_UPD_LCA = CI_UPD_GRP_1,
    CI_UPD_FOS = CI_UPD_GRP_1,
    CI_UPD_CCM = CI_UPD_GRP_2,
    CI_UPD_MGM = CI_UPD_GRP_2,
    CI_UPD_GMA = CI_UPD_GRP_2,
    CI_UPD_R2Y = CI_UPD_GRP_2,
    CI_UPD_WBS = CI_UPD_GRP_2,
    CI_UPD_WBC = CI_UPD_GRP_0 | CI_UPD_GRP_2,
    CI_UPD_HIS = CI_UPD_GRP_3,
    CI_UPD_MIE = CI_UPD_GRP_3,
    CI_UPD_TNM = CI_UPD_GRP_3,
    CI_UPD_FLD = CI_UPD_GRP_3,
    CI_UPD_SHA = CI_UPD_GRP_4,
    CI_UPD_ESC = CI_UPD_GRP_5,
    CI_UPD_DSC = CI_UPD_GRP_6,
    CI_UPD_Y2R = CI_UPD_GRP_6,
    CI_UPD_DGM = CI_UPD_GRP_6,
    CI_UPD_LSH = CI_UPD_GRP_0 | CI_UPD_LSH_REG,
    CI_UPD_AWS = CI_UPD_GRP_0 | CI_UPD_AWS_REG,
};

/** Statistics the hardware saves with each frame (bits of eOutputConfig). */
enum CI_SAVE_CONFIG_FLAGS {
    CI_SAVE_NO_STATS = 0,
    CI_SAVE_EXS_GLOBAL = 1,
    CI_SAVE_EXS_REGION = 2,
    CI_SAVE_FOS_ROI = 4,
    CI_SAVE_FOS_GRID = 8,
    CI_SAVE_WHITEBALANCE = 16,
    CI_SAVE_WHITEBALANCE_EXT = 32,
    CI_SAVE_HIST_GLOBAL = 64,
    CI_SAVE_HIST_REGION = 128,
    CI_SAVE_FLICKER = 256,
    CI_SAVE_CRC = 512,
    CI_SAVE_TIMESTAMP = 1024,
    CI_SAVE_ENS = 2048,
    CI_SAVE_ALL = 4095,
};

typedef enum CI_INOUT_POINTS : QOR_INT32 {
    CI_INOUT_BLACK_LEVEL = 0,
    CI_INOUT_FILTER_LINESTORE = 1,
    CI_INOUT_NONE = 2,
} CI_INOUT_POINTS;

typedef enum CI_RLT_MODES : QOR_INT32 { CI_RLT_DISABLED = 0, CI_RLT_LINEAR = 1, CI_RLT_CUBIC = 2 } CI_RLT_MODES;
typedef enum WBC_MODES : QOR_INT32 { WBC_SATURATION = 0, WBC_THRESHOLD = 1 } WBC_MODES;
typedef enum ePlaneConvType : QOR_INT32 { RGB_TO_YCC = 0, YCC_TO_RGB = 1, YCC_TO_YCC = 2 } ePlaneConvType;

enum DPFEnable {
    CI_DPF_DETECT_ENABLED = 1,
    CI_DPF_WRITE_MAP_ENABLED = 2,
    CI_DPF_READ_MAP_ENABLED = 4,
};

typedef struct CI_PIPELINE_CONFIG {
    PIXELTYPE eEncType;
    PIXELTYPE eDispType;
    PIXELTYPE eHDRExtType;
    PIXELTYPE eHDRInsType;
    PIXELTYPE eRaw2DExtraction;
    CI_INOUT_POINTS eDataExtraction;
    QOR_UINT32 eOutputConfig;
    QOR_BOOL8 bUseEncOutLine;
    QOR_UINT8 ui8EncOutPulse;
    QOR_UINT8 ui8Context;
    QOR_UINT8 ui8PrivateValue;
    QOR_UINT16 ui16MaxEncOutWidth;
    QOR_UINT16 ui16MaxEncOutHeight;
    QOR_UINT16 ui16MaxDispOutWidth;
    QOR_UINT16 ui16MaxDispOutHeight;
    QOR_BOOL8 bSupportTiling;
    QOR_UINT32 ui32DPFWriteMapSize;
    QOR_UINT16 ui16SysBlackLevel;
} CI_PIPELINE_CONFIG;

typedef struct CI_MODULE_IIF {
    QOR_UINT16 ui16ScalerBottomBorder;
    QOR_UINT8 ui8Imager;
    MOSAICType eBayerFormat;
    QOR_UINT16 ui16BuffThreshold;
    QOR_UINT16 ui16ImagerOffset[2];
    QOR_UINT16 ui16ImagerSize[2];
    QOR_UINT16 ui16ImagerDecimation[2];
    QOR_UINT8 ui8BlackBorderOffset;
} CI_MODULE_IIF;

typedef struct CI_MODULE_BLC {
    QOR_BOOL8 bRowAverage;
    QOR_BOOL8 bBlackFrame;
    QOR_UINT16 ui16RowReciprocal;
    QOR_UINT16 ui16PixelMax;
    QOR_INT8 i8FixedOffset[4];
} CI_MODULE_BLC;

typedef struct CI_MODULE_RLT {
    CI_RLT_MODES eMode;
    QOR_UINT16 aPoints[4][16];
} CI_MODULE_RLT;

typedef struct CI_MODULE_LSH {
    QOR_UINT16 aGradientsX[4];
    QOR_UINT16 aGradientsY[4];
} CI_MODULE_LSH;

typedef struct CI_MODULE_WBC {
    QOR_UINT16 aGain[4];
    QOR_UINT16 aClip[4];
    WBC_MODES eRGBThresholdMode;
    QOR_UINT16 aRGBThreshold[3];
    QOR_UINT8 aRGBGain[3];
} CI_MODULE_WBC;

typedef struct CI_MODULE_DNS {
    QOR_BOOL8 bCombineChannels;
    QOR_INT8 i8Log2PixThresh;
    QOR_UINT16 aPixThresLUT[21];
} CI_MODULE_DNS;

typedef struct CI_MODULE_DPF_INPUT {
    QOR_UINT16 *apDefectInput;
    QOR_UINT32 ui32NDefect;
    QOR_UINT16 ui16InternalBufSize;
} CI_MODULE_DPF_INPUT;

typedef struct CI_MODULE_DPF {
    QOR_UINT8 eDPFEnable;
    QOR_UINT8 ui8Threshold;
    QOR_UINT8 ui8Weight;
    QOR_UINT8 ui8PositiveThreshold;
    QOR_UINT8 ui8NegativeThreshold;
    QOR_UINT8 aSkip[2];
    QOR_UINT16 aOffset[2];
    CI_MODULE_DPF_INPUT sInput;
} CI_MODULE_DPF;

typedef struct CI_MODULE_LCA {
    QOR_INT16 aCoeffRed[3][2];
    QOR_UINT16 aOffsetRed[2];
    QOR_INT16 aCoeffBlue[3][2];
    QOR_UINT16 aOffsetBlue[2];
    QOR_UINT8 aShift[2];
    QOR_UINT8 aDec[2];
} CI_MODULE_LCA;

typedef struct CI_MODULE_CCM {
    QOR_INT16 aCoeff[3][4];
    QOR_INT16 aOffset[3];
} CI_MODULE_CCM;

typedef struct CI_MODULE_GAMUTMAPPER {
    QOR_INT16 i16ClipMin;
    QOR_UINT16 ui16ClipMax;
    QOR_UINT16 ui16SrcNorm;
    QOR_UINT16 aSlope[3];
    QOR_INT16 aCoeff[6];
} CI_MODULE_GAMUTMAPPER;
typedef CI_MODULE_GAMUTMAPPER CI_MODULE_MGM;
typedef CI_MODULE_GAMUTMAPPER CI_MODULE_DGM;

typedef struct CI_MODULE_GMA {
    QOR_BOOL8 bBypass;
} CI_MODULE_GMA;

typedef struct CI_MODULE_PLANECONV {
    ePlaneConvType eType;
    QOR_INT16 aCoeff[3][3];
    QOR_INT16 aOffset[3];
} CI_MODULE_PLANECONV;
typedef CI_MODULE_PLANECONV CI_MODULE_R2Y;
typedef CI_MODULE_PLANECONV CI_MODULE_Y2R;

typedef struct CI_MODULE_MIE {
    QOR_UINT16 ui16BlackLevel;
    QOR_BOOL8 bVibrancy;
    QOR_UINT16 aVibrancySatMul[32];
    QOR_BOOL8 bMemoryColour;
    QOR_INT16 aYOffset[3];
    QOR_INT16 aCOffset[3];
    QOR_UINT8 aYScale[3];
    QOR_UINT8 aCScale[3];
    QOR_INT8 aRot[6];
    QOR_UINT16 aGaussMinY[3];
    QOR_UINT8 aGaussScaleY[3];
    QOR_INT8 aGaussCB[3];
    QOR_INT8 aGaussCR[3];
    QOR_INT8 aGaussRot[6];
    QOR_UINT8 aGaussKB[3];
    QOR_UINT8 aGaussKR[3];
    QOR_UINT8 aGaussScale[12];
    QOR_UINT8 aGaussGain[12];
} CI_MODULE_MIE;

typedef struct CI_MODULE_TNM {
    QOR_UINT16 aCurve[63];
    QOR_BOOL8 bBypassTNM;
    QOR_UINT16 histFlattenMin;
    QOR_UINT16 histFlattenThreshold[2];
    QOR_UINT16 histNormFactor;
    QOR_UINT16 histNormLastFactor;
    QOR_UINT16 chromaSaturationScale;
    QOR_UINT16 chromaConfigurationScale;
    QOR_UINT16 chromaIOScale;
    QOR_UINT16 localColWidth[2];
    QOR_UINT16 localColumns;
    QOR_UINT16 columnsIdx;
    QOR_UINT16 localWeights;
    QOR_UINT16 updateWeights;
    QOR_UINT16 inputLumaOffset;
    QOR_UINT16 inputLumaScale;
    QOR_UINT16 outputLumaOffset;
    QOR_UINT16 outputLumaScale;
} CI_MODULE_TNM;

typedef struct CI_MODULE_SHA {
    QOR_UINT8 ui8Threshold;
    QOR_UINT8 ui8Strength;
    QOR_UINT8 ui8Detail;
    QOR_BOOL8 bDenoiseBypass;
    QOR_UINT8 aGainWeight[6];
    QOR_UINT8 ui8ELWScale;
    QOR_INT8 i8ELWOffset;
    QOR_UINT8 aDNSimil[7];
    QOR_UINT8 aDNAvoid[7];
} CI_MODULE_SHA;

typedef struct CI_MODULE_SCALER {
    QOR_BOOL8 bIsDisplay;
    QOR_BOOL8 bBypassScaler;
    QOR_UINT16 aOutputSize[2];
    QOR_UINT32 aPitch[2];
    QOR_BOOL8 bChromaInter;
    QOR_BOOL8 bOutput422;
    QOR_UINT16 aOffset[2];
    QOR_INT8 VLuma[32];
    QOR_INT8 HLuma[64];
    QOR_INT8 VChroma[16];
    QOR_INT8 HChroma[32];
} CI_MODULE_SCALER;
typedef CI_MODULE_SCALER CI_MODULE_ESC;
typedef CI_MODULE_SCALER CI_MODULE_DSC;

typedef struct CI_MODULE_HDR {
    HDR_MODES eHDRMode;
    MOSAICType eBayerMode;
    QOR_BOOL8 bLongExpFirst;
    QOR_UINT16 aFrameSize[2];
    QOR_UINT16 aBlackLevel[2];
    QOR_UINT16 ui16ExposureRatio;
    QOR_UINT16 ui16Gain;
    QOR_UINT16 aWeightCurve[4096];
    QOR_UINT16 aWBCGains[4];
    QOR_UINT16 aLumCoeffs[3];
    QOR_UINT16 aTNMCurve[3328];
    QOR_UINT32 ui32LineGap;
    QOR_BOOL8 bUpdateWeight;
    QOR_BOOL8 bUpdateTNM;
} CI_MODULE_HDR;

typedef struct CI_MODULE_EXS {
    QOR_UINT16 ui16Left;
    QOR_UINT16 ui16Top;
    QOR_UINT16 ui16Width;
    QOR_UINT16 ui16Height;
    QOR_UINT16 ui16PixelMax;
} CI_MODULE_EXS;

typedef struct CI_MODULE_FOS {
    QOR_UINT16 ui16Left;
    QOR_UINT16 ui16Top;
    QOR_UINT16 ui16Width;
    QOR_UINT16 ui16Height;
    QOR_UINT16 ui16ROILeft;
    QOR_UINT16 ui16ROITop;
    QOR_UINT16 ui16ROIRight;
    QOR_UINT16 ui16ROIBottom;
} CI_MODULE_FOS;

typedef struct CI_WBS_FRAME_COUNTERS {
    QOR_UINT32 frameCount[2];
    QOR_UINT32 currentFrame[2];
} CI_WBS_FRAME_COUNTERS;

typedef struct CI_MODULE_WBS {
    QOR_UINT16 aRoiLeft[2];
    QOR_UINT16 aRoiTop[2];
    QOR_UINT16 aRoiRight[2];
    QOR_UINT16 aRoiBottom[2];
    QOR_UINT8 ui8ActiveROI;
    QOR_INT16 ui16RGBOffset;
    QOR_INT16 ui16YOffset;
    QOR_UINT16 aRMax[2];
    QOR_UINT16 aGMax[2];
    QOR_UINT16 aBMax[2];
    QOR_UINT16 aYMax[2];
    CI_WBS_FRAME_COUNTERS counters;
} CI_MODULE_WBS;

typedef struct CI_AWS_CURVE_COEFFS {
    QOR_INT16 aCurveCoeffX[5];
    QOR_INT16 aCurveCoeffY[5];
    QOR_INT16 aCurveOffset[5];
    QOR_INT16 aCurveBoundary[5];
} CI_AWS_CURVE_COEFFS;

typedef struct CI_MODULE_AWS {
    QOR_BOOL8 bEnable;
    QOR_BOOL8 bDebugBitmap;
    QOR_UINT16 ui16Log2_R_Qeff;
    QOR_UINT16 ui16Log2_B_Qeff;
    QOR_UINT16 ui16RedDarkThresh;
    QOR_UINT16 ui16BlueDarkThresh;
    QOR_UINT16 ui16GreenDarkThresh;
    QOR_UINT16 ui16RedClipThresh;
    QOR_UINT16 ui16BlueClipThresh;
    QOR_UINT16 ui16GreenClipThresh;
    QOR_UINT16 ui16BbDist;
    QOR_UINT16 ui16GridStartRow;
    QOR_UINT16 ui16GridStartColumn;
    QOR_UINT16 ui16GridTileWidth;
    QOR_UINT16 ui16GridTileHeight;
    CI_AWS_CURVE_COEFFS sCurveCoeffs;
} CI_MODULE_AWS;

typedef struct CI_MODULE_HIS {
    QOR_UINT16 ui16InputOffset;
    QOR_UINT16 ui16InputScale;
    QOR_UINT16 ui16Left;
    QOR_UINT16 ui16Top;
    QOR_UINT16 ui16Width;
    QOR_UINT16 ui16Height;
} CI_MODULE_HIS;

typedef struct CI_MODULE_FLD {
    QOR_UINT16 ui16FracStep50;
    QOR_UINT16 ui16FracStep60;
    QOR_UINT16 ui16VertTotal;
    QOR_UINT16 ui16CoefDiff;
    QOR_UINT16 ui16NFThreshold;
    QOR_UINT32 ui32SceneChange;
    QOR_UINT8 ui8RShift;
    QOR_UINT8 ui8MinPN;
    QOR_UINT8 ui8PN;
    QOR_BOOL8 bReset;
} CI_MODULE_FLD;

typedef struct CI_MODULE_ENS {
    QOR_UINT8 ui8Log2NCouples;
    QOR_UINT8 ui8SubExp;
} CI_MODULE_ENS;

typedef struct CI_PIPELINE_STATS {
    CI_MODULE_EXS sExposureStats;
    CI_MODULE_FOS sFocusStats;
    CI_MODULE_WBS sWhiteBalanceStats;
    CI_MODULE_AWS sAutoWhiteBalanceStats;
    CI_MODULE_HIS sHistStats;
    CI_MODULE_FLD sFlickerStats;
    CI_MODULE_ENS sEncStats;
} CI_PIPELINE_STATS;

typedef struct CI_PIPELINE {
    CI_PIPELINE_CONFIG config;
    CI_MODULE_IIF sImagerInterface;
    CI_MODULE_BLC sBlackCorrection;
    CI_MODULE_RLT sRawLUT;
    CI_MODULE_LSH sDeshading;
    CI_MODULE_WBC sWhiteBalance;
    CI_MODULE_DNS sDenoiser;
    CI_MODULE_DPF sDefectivePixels;
    CI_MODULE_LCA sChromaAberration;
    CI_MODULE_CCM sColourCorrection;
    CI_MODULE_MGM sMainGamutMapper;
    CI_MODULE_GMA sGammaCorrection;
    CI_MODULE_R2Y sRGBToYCC;
    CI_MODULE_MIE sImageEnhancer;
    CI_MODULE_TNM sToneMapping;
    CI_MODULE_SHA sSharpening;
    CI_MODULE_ESC sEncoderScaler;
    CI_MODULE_DSC sDisplayScaler;
    CI_MODULE_Y2R sYCCToRGB;
    CI_MODULE_DGM sDisplayGamutMapper;
    CI_MODULE_HDR sHDR;
    CI_PIPELINE_STATS stats;
} CI_PIPELINE;

/** Lens-shading matrix configuration, also carried by the matrix ioctl record. */
typedef struct CI_MODULE_LSH_MAT {
    QOR_UINT16 ui16SkipX;
    QOR_UINT16 ui16SkipY;
    QOR_UINT16 ui16OffsetX;
    QOR_UINT16 ui16OffsetY;
    QOR_UINT8 ui8TileSizeLog2;
    QOR_UINT8 ui8BitsPerDiff;
    QOR_UINT16 ui16Width;
    QOR_UINT16 ui16Height;
    QOR_UINT16 ui16LineSize;
    QOR_UINT32 ui32Stride;
} CI_MODULE_LSH_MAT;

/** Registration record of CI_PIPELINE_REGISTER: what reaches the driver beside the load structure. */
typedef struct CI_PIPE_INFO {
    CI_PIPELINE_CONFIG config;
    CI_MODULE_IIF iifConfig;
    CI_MODULE_ENS ensConfig;
    CI_MODULE_LSH lshConfig;
    CI_MODULE_DPF dpfConfig;
    CI_AWS_CURVE_COEFFS sAWSCurveCoeffs;
    CI_MODULE_HDR hdrConfig;
} CI_PIPE_INFO;

/** Argument of CI_CONFIG_UPDATE; the driver writes the failed groups back into eUpdateMask. */
typedef struct CI_PIPE_PARAM {
    CI_PIPE_INFO info;
    char *loadstructure;
    int identifier;
    int eUpdateMask;
    QOR_BOOL8 bUpdateASAP;
} CI_PIPE_PARAM;

/** Kinds of driver buffers. */
enum CI_ALLOC_BUFF {
    CI_ALLOC_ENC = 0,
    CI_ALLOC_DISP = 1,
    CI_ALLOC_HDREXT = 2,
    CI_ALLOC_RAW2D = 3,
    CI_ALLOC_HDRINS = 4,
    CI_ALLOC_LSHMAT = 5,
};

/** Argument of CI_CREATE_BUFF and CI_DEREGISTER_BUFF. */
typedef struct CI_ALLOC_PARAM {
    QOR_UINT32 configId;
    QOR_UINT32 fd;
    int type;
    QOR_BOOL8 bTiled;
    QOR_UINT32 uiMemMapId;
    QOR_UINT32 uiSize;
} CI_ALLOC_PARAM;

/** Argument of CI_PIPELINE_SET_LSH. */
typedef struct CI_LSH_SET_PARAM {
    QOR_UINT32 configId;
    QOR_UINT32 matrixId;
    CI_MODULE_LSH_MAT matrixConfig;
} CI_LSH_SET_PARAM;

/** Argument of CI_PIPELINE_GET_LSH. */
typedef struct CI_LSH_GET_PARAM {
    QOR_UINT32 configId;
    QOR_UINT32 matrixId;
} CI_LSH_GET_PARAM;

/** Argument of CI_PIPELINE_CHANGE_LSH; matrix 0 means none. */
typedef struct CI_LSH_CHANGE_PARAM {
    QOR_UINT32 configId;
    QOR_UINT32 matrixId;
} CI_LSH_CHANGE_PARAM;

typedef enum INT_BUFFER_STATUS : QOR_INT32 {
    INT_BUFFER_AVAILABLE = 0,
    INT_BUFFER_PENDING = 1,
    INT_BUFFER_ACQUIRED = 2,
} INT_BUFFER_STATUS;

/** A lens-shading matrix buffer of a pipeline. */
typedef struct INT_LSHMAT {
    QOR_INT32 ID;
    void *memory;
    QOR_UINT32 uiSize;
    INT_BUFFER_STATUS eStatus;
    Cell_T sCell;
    CI_MODULE_LSH_MAT config;
} INT_LSHMAT;

/** What a caller gets of a matrix to fill it. */
typedef struct CI_LSHMAT {
    QOR_UINT32 id;
    void *data;
    QOR_UINT32 ui32Size;
    CI_MODULE_LSH_MAT config;
} CI_LSHMAT;

typedef struct CI_EXTRA_PARAMS {
    CI_WBS_FRAME_COUNTERS wbsCounters;
} CI_EXTRA_PARAMS;

struct INT_CONNECTION;

/** The library's record behind a CI_PIPELINE handle. */
typedef struct INT_PIPELINE {
    /** The handle given to callers is the address of this member. */
    CI_PIPELINE publicPipeline;
    LinkedList_T sList_shots;
    LinkedList_T sList_buffers;
    LinkedList_T sList_lshmat;
    int ui32Identifier;
    QOR_BOOL bStarted;
    QOR_BOOL bSupportTiling;
    INT_LSHMAT *pMatrix;
    Cell_T sCell;
    struct INT_CONNECTION *pConnection;
    char *pLoadStructure;
    CI_EXTRA_PARAMS sExtraParams[256];
    /** Update groups a failed update left unsent; the next update sends them too. */
    int ePendingUpdate;
    /** The record sent with registration and every update, allocated once with the pipeline. */
    CI_PIPE_PARAM *pParam;
} INT_PIPELINE;

#ifdef __cplusplus
extern "C" {
#endif

QOR_RESULT CI_PipelineCreate(CI_PIPELINE **ppPipeline, CI_CONNECTION *pConnection);
QOR_RESULT CI_PipelineDestroy(CI_PIPELINE *pPipeline);
QOR_RESULT CI_PipelineVerify(CI_PIPELINE *pPipeline);
QOR_RESULT CI_PipelineRegister(CI_PIPELINE *pPipeline);
QOR_RESULT CI_PipelineUpdate(CI_PIPELINE *pPipeline, int eUpdateMask, int *peFailure);
QOR_RESULT CI_PipelineUpdateASAP(CI_PIPELINE *pPipeline, int eUpdateMask, int *peFailure);
QOR_RESULT QOR_CI_PipelineUpdate(CI_PIPELINE *pPipeline, int eUpdateMask, int *peFailure, QOR_BOOL8 bASAP);
QOR_RESULT QOR_CI_PipelineToInfo(CI_PIPELINE *pPipeline, CI_PIPE_INFO *pInfo);
QOR_RESULT CI_PipelineComputeLinestore(CI_PIPELINE *pPipeline);
QOR_RESULT CI_PipelineAllocateLSHMatrix(CI_PIPELINE *pPipeline, QOR_UINT32 ui32Size, QOR_UINT32 *pMatrixId);
QOR_RESULT CI_PipelineAcquireLSHMatrix(CI_PIPELINE *pPipeline, QOR_UINT32 matrixId, CI_LSHMAT *pMatrix);
QOR_RESULT CI_PipelineReleaseLSHMatrix(CI_PIPELINE *pPipeline, CI_LSHMAT *pMatrix);
QOR_RESULT CI_PipelineUpdateLSHMatrix(CI_PIPELINE *pPipeline, QOR_UINT32 matrixId);
QOR_RESULT CI_PipelineDeregisterLSHMatrix(CI_PIPELINE *pPipeline, QOR_UINT32 matrixId);

/** Writes the load structure of a pipeline for the groups of the mask (and the statistics). */
QOR_RESULT INT_CI_Load_HW2(const INT_PIPELINE *pIntPipeline, char *loadstruct, int eUpdateMask);

#ifdef __cplusplus
}
#endif

/* The driver binds to these layouts. */
static_assert(sizeof(CI_PIPELINE_CONFIG) == 152, "CI_PIPELINE_CONFIG layout");
static_assert(offsetof(CI_PIPELINE_CONFIG, eDataExtraction) == 120, "layout");
static_assert(offsetof(CI_PIPELINE_CONFIG, ui32DPFWriteMapSize) == 144, "layout");
static_assert(offsetof(CI_PIPELINE_CONFIG, ui16SysBlackLevel) == 148, "layout");
static_assert(sizeof(CI_MODULE_IIF) == 24 && offsetof(CI_MODULE_IIF, ui8BlackBorderOffset) == 22, "layout");
static_assert(sizeof(CI_MODULE_BLC) == 10, "layout");
static_assert(sizeof(CI_MODULE_RLT) == 132, "layout");
static_assert(sizeof(CI_MODULE_WBC) == 32 && offsetof(CI_MODULE_WBC, aRGBGain) == 26, "layout");
static_assert(sizeof(CI_MODULE_DNS) == 44, "layout");
static_assert(sizeof(CI_MODULE_DPF) == 32 && offsetof(CI_MODULE_DPF, aOffset) == 8, "layout");
static_assert(offsetof(CI_MODULE_DPF, sInput) + offsetof(CI_MODULE_DPF_INPUT, ui16InternalBufSize) == 28, "layout");
static_assert(sizeof(CI_MODULE_LCA) == 36, "layout");
static_assert(sizeof(CI_MODULE_CCM) == 30, "layout");
static_assert(sizeof(CI_MODULE_GAMUTMAPPER) == 24, "layout");
static_assert(sizeof(CI_MODULE_PLANECONV) == 28, "layout");
static_assert(sizeof(CI_MODULE_MIE) == 146 && offsetof(CI_MODULE_MIE, aGaussGain) == 133, "layout");
static_assert(sizeof(CI_MODULE_TNM) == 164 && offsetof(CI_MODULE_TNM, outputLumaScale) == 162, "layout");
static_assert(sizeof(CI_MODULE_SHA) == 26, "layout");
static_assert(sizeof(CI_MODULE_SCALER) == 168 && offsetof(CI_MODULE_SCALER, HChroma) == 134, "layout");
static_assert(sizeof(CI_MODULE_HDR) == 14892 && offsetof(CI_MODULE_HDR, ui32LineGap) == 14884, "layout");
static_assert(sizeof(CI_MODULE_WBS) == 56 && offsetof(CI_MODULE_WBS, counters) == 40, "layout");
static_assert(sizeof(CI_MODULE_AWS) == 68, "layout");
static_assert(sizeof(CI_MODULE_FLD) == 20 && offsetof(CI_MODULE_FLD, ui32SceneChange) == 12, "layout");
static_assert(sizeof(CI_PIPELINE_STATS) == 188 && offsetof(CI_PIPELINE_STATS, sEncStats) == 184, "layout");
static_assert(offsetof(CI_PIPELINE, sImagerInterface) == 152, "layout");
static_assert(offsetof(CI_PIPELINE, sRawLUT) == 188, "layout");
static_assert(offsetof(CI_PIPELINE, sDefectivePixels) == 416, "layout");
static_assert(offsetof(CI_PIPELINE, sMainGamutMapper) == 514, "layout");
static_assert(offsetof(CI_PIPELINE, sRGBToYCC) == 540, "layout");
static_assert(offsetof(CI_PIPELINE, sToneMapping) == 714, "layout");
static_assert(offsetof(CI_PIPELINE, sEncoderScaler) == 904, "layout");
static_assert(offsetof(CI_PIPELINE, sYCCToRGB) == 1240, "layout");
static_assert(offsetof(CI_PIPELINE, sHDR) == 1292, "layout");
static_assert(offsetof(CI_PIPELINE, stats) == 16184, "layout");
static_assert(sizeof(CI_PIPELINE) == CI_PIPELINE_DRIVER_SIZE, "CI_PIPELINE layout");
static_assert(sizeof(CI_MODULE_LSH_MAT) == 20, "layout");
static_assert(sizeof(CI_PIPE_INFO) == 15168 && offsetof(CI_PIPE_INFO, ensConfig) == 176, "layout");
static_assert(offsetof(CI_PIPE_INFO, lshConfig) == 178 && offsetof(CI_PIPE_INFO, dpfConfig) == 200, "layout");
static_assert(offsetof(CI_PIPE_INFO, sAWSCurveCoeffs) == 232 && offsetof(CI_PIPE_INFO, hdrConfig) == 272, "layout");
static_assert(sizeof(CI_PIPE_PARAM) == 15192 && offsetof(CI_PIPE_PARAM, loadstructure) == 15168, "layout");
static_assert(offsetof(CI_PIPE_PARAM, identifier) == 15176 && offsetof(CI_PIPE_PARAM, eUpdateMask) == 15180, "layout");
static_assert(offsetof(CI_PIPE_PARAM, bUpdateASAP) == 15184, "layout");
static_assert(sizeof(CI_ALLOC_PARAM) == 24 && offsetof(CI_ALLOC_PARAM, uiMemMapId) == 16, "layout");
static_assert(sizeof(CI_LSH_SET_PARAM) == 28, "layout");
static_assert(offsetof(INT_PIPELINE, publicPipeline) == 0, "the handle is the first member");

#endif /* CI_PIPELINE_H */
