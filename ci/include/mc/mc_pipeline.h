#ifndef MC_PIPELINE_H
#define MC_PIPELINE_H
/*
 * Module configuration: the floating-point settings of every block of one ISP context, their
 * defaults, and their conversion into register values of CI_PIPELINE. Each block starts with
 * updateNeeded; a conversion runs only for a flagged block, clears the flag and reports the
 * update groups it touched.
 */
#include "qor_errors.h"
#include "qor_types.h"
#include "ci/ci_pipeline.h"

typedef struct MC_MODULE_IIF {
    QOR_BOOL8 updateNeeded;
    QOR_UINT8 ui8Imager;
    MOSAICType eBayerFormat;
    QOR_UINT16 ui16ImagerOffset[2]; /* Bayer cells */
    QOR_UINT16 ui16ImagerSize[2];   /* Bayer cells */
    QOR_UINT16 ui16ImagerDecimation[2];
    QOR_UINT8 ui8BlackBorderOffset;
} MC_MODULE_IIF;
typedef MC_MODULE_IIF MC_IIF;

typedef struct MC_BLC {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bBlackFrame;
    QOR_BOOL8 bRowAverage;
    double ui16PixelMax;
    double fRowAverage;
    QOR_INT8 aFixedOffset[4];
} MC_BLC;

typedef struct MC_MODULE_RLT {
    QOR_BOOL8 updateNeeded;
    CI_RLT_MODES eMode;
    QOR_UINT16 aPoints[4][16];
} MC_MODULE_RLT;
typedef MC_MODULE_RLT MC_RLT;

typedef struct MC_LSH {
    QOR_BOOL8 updateNeeded;
    double aGradients[4][2];
} MC_LSH;

typedef struct MC_LSH_WBC {
    QOR_BOOL8 updateNeeded;
    double aGain[4];
    double aClip[4];
    WBC_MODES eRGBThresholdMode;
    double afRGBThreshold[3];
    double afRGBGain[3];
} MC_LSH_WBC;
typedef MC_LSH_WBC MC_WBC;

typedef struct MC_DNS {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bCombineChannels;
    double aPixThresLUT[21];
    QOR_UINT8 ui8SensorBitdepth;
    double fGreyscalePixelThreshold;
} MC_DNS;

typedef struct MC_DPF {
    QOR_BOOL8 updateNeeded;
    QOR_UINT8 eDPFEnable;
    QOR_UINT16 *apDefectInput; /* borrowed from the block's writer */
    QOR_UINT32 ui32NDefect;
    QOR_UINT16 ui16NbLines;
    QOR_UINT32 ui32OutputMapSize;
    QOR_UINT8 aSkip[2];
    QOR_UINT16 aOffset[2];
    QOR_UINT8 ui8Threshold;
    double fWeight;
} MC_DPF;

typedef struct MC_LCA {
    QOR_BOOL8 updateNeeded;
    double aCoeffRed[3][2];
    QOR_UINT16 aOffsetRed[2];
    double aCoeffBlue[3][2];
    QOR_UINT16 aOffsetBlue[2];
    QOR_UINT8 aShift[2];
    QOR_UINT8 aDec[2];
} MC_LCA;

typedef struct MC_CCM {
    QOR_BOOL8 updateNeeded;
    double aCoeff[3][4];
    double aOffset[3];
} MC_CCM;

typedef struct MC_GAMUTMAPPER {
    QOR_BOOL8 updateNeeded;
    double fClipMin;
    double fClipMax;
    double fSrcNorm;
    double aSlope[3];
    double aCoeff[6];
} MC_GAMUTMAPPER;
typedef MC_GAMUTMAPPER MC_MGM;
typedef MC_GAMUTMAPPER MC_DGM;

typedef struct MC_MODULE_GMA {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bBypass;
} MC_MODULE_GMA;
typedef MC_MODULE_GMA MC_GMA;

typedef struct MC_PLANECONV {
    QOR_BOOL8 updateNeeded;
    ePlaneConvType eType;
    double aCoeff[3][3];
    double aOffset[3];
} MC_PLANECONV;
typedef MC_PLANECONV MC_R2Y;
typedef MC_PLANECONV MC_Y2R;

typedef struct MC_MIE {
    QOR_BOOL8 updateNeeded;
    double fBlackLevel;
    QOR_BOOL8 bVibrancy;
    double aVibrancySatMul[32];
    QOR_BOOL8 bMemoryColour;
    double aYOffset[4];
    double aYScale[4];
    double aCOffset[4];
    double aCScale[4];
    double aRot[8];
    double aGaussMinY[4];
    double aGaussScaleY[4];
    double aGaussCB[4];
    double aGaussCR[4];
    double aGaussRot[8];
    double aGaussKB[4];
    double aGaussKR[4];
    double aGaussScale[12];
    double aGaussGain[12];
} MC_MIE;

typedef struct MC_TNM {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bBypassTNM;
    QOR_BOOL8 bSetTNMtoPassDataIntact;
    double aCurve[63];
    double histFlattenMin;
    double histFlattenThreshold;
    double chromaSaturationScale;
    double chromaConfigurationScale;
    double chromaIOScale;
    QOR_UINT16 ui16LocalColumns;
    QOR_UINT16 ui16ColumnsIndex;
    double localWeights;
    double updateWeights;
    double inputLumaOffset;
    double inputLumaScale;
    double outputLumaOffset;
    double outputLumaScale;
} MC_TNM;

typedef struct MC_SHA {
    QOR_BOOL8 updateNeeded;
    QOR_UINT16 ui16Threshold;
    double fStrength;
    double fDetail;
    QOR_BOOL8 bDenoise;
    double aGainWeigth[6];
    double fELWScale;
    QOR_INT16 i16ELWOffset;
    QOR_UINT16 aDNSimil[7];
    QOR_UINT16 aDNAvoid[7];
} MC_SHA;

typedef struct MC_ESC {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bBypassESC;
    QOR_BOOL8 bAdjustCutoff;
    QOR_UINT16 aOutputSize[2];
    QOR_UINT16 aOffset[2];
    double aPitch[2];
    QOR_BOOL8 bChromaInter;
} MC_ESC;

typedef struct MC_DSC {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bBypassDSC;
    QOR_BOOL8 bAdjustCutoff;
    QOR_UINT16 aOutputSize[2];
    QOR_UINT16 aOffset[2];
    double aPitch[2];
} MC_DSC;

typedef struct MC_MODULE_HDR {
    QOR_BOOL8 updateNeeded;
    HDR_MODES eHDRMode;
    MOSAICType eBayerMode;
    QOR_BOOL8 bLongExpFirst;
    QOR_UINT16 aFrameSize[2];
    QOR_UINT32 ui32LineGap;
    QOR_UINT16 aBlackLevel[2];
    double fExposureRatio;
    double fGain;
    double aWeightCurve[4096];
    double aLumCoeffs[3];
    double aTNMCurve[3328];
} MC_MODULE_HDR;
typedef MC_MODULE_HDR MC_HDR;

typedef struct MC_EXS {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bGlobalEnable;
    QOR_BOOL8 bRegionEnable;
    QOR_UINT16 ui16Left;
    QOR_UINT16 ui16Top;
    QOR_UINT16 ui16Width;
    QOR_UINT16 ui16Height;
    double fPixelMax;
} MC_EXS;

typedef struct MC_FOS {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bGlobalEnable;
    QOR_BOOL8 bRegionEnable;
    QOR_UINT16 ui16Left;
    QOR_UINT16 ui16Top;
    QOR_UINT16 ui16Width;
    QOR_UINT16 ui16Height;
    QOR_UINT16 ui16ROILeft;
    QOR_UINT16 ui16ROITop;
    QOR_UINT16 ui16ROIWidth;
    QOR_UINT16 ui16ROIHeight;
} MC_FOS;

typedef CI_WBS_FRAME_COUNTERS MC_FRAME_COUNTERS_WBS;

typedef struct MC_WBS {
    QOR_BOOL8 updateNeeded;
    QOR_UINT8 ui8ActiveROI;
    double fRGBOffset;
    double fYOffset;
    QOR_UINT16 aRoiLeft[2];
    QOR_UINT16 aRoiTop[2];
    QOR_UINT16 aRoiWidth[2];
    QOR_UINT16 aRoiHeight[2];
    QOR_UINT16 aRMax[2];
    QOR_UINT16 aGMax[2];
    QOR_UINT16 aBMax[2];
    QOR_UINT16 aYMax[2];
    MC_FRAME_COUNTERS_WBS counters;
} MC_WBS;

typedef struct MC_AWS {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bEnable;
    QOR_BOOL8 bDebugBitmap;
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
    QOR_UINT16 ui16GridTileWidth;
    QOR_UINT16 ui16GridTileHeight;
    double aCurveCoeffX[5];
    double aCurveCoeffY[5];
    double aCurveOffset[5];
    double aCurveBoundary[5];
} MC_AWS;

typedef struct MC_HIS {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bGlobalEnable;
    QOR_BOOL8 bRegionEnable;
    double fInputOffset;
    double fInputScale;
    QOR_UINT16 ui16Left;
    QOR_UINT16 ui16Top;
    QOR_UINT16 ui16Width;
    QOR_UINT16 ui16Height;
} MC_HIS;

typedef struct MC_FLD {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bEnable;
    QOR_UINT16 ui16VTot;
    double fFrameRate;
    QOR_UINT16 ui16CoefDiff;
    QOR_UINT16 ui16NFThreshold;
    QOR_UINT32 ui32SceneChange;
    QOR_UINT8 ui8RShift;
    QOR_UINT8 ui8MinPN;
    QOR_UINT8 ui8PN;
    QOR_BOOL8 bReset;
} MC_FLD;

typedef struct MC_ENS {
    QOR_BOOL8 updateNeeded;
    QOR_BOOL8 bEnable;
    QOR_UINT32 ui32NLines;
    QOR_UINT32 ui32KernelSubsampling;
} MC_ENS;

typedef struct MC_PIPELINE {
    const CI_HWINFO *pHWInfo;
    pxlFormat eEncOutput;
    pxlFormat eDispOutput;
    pxlFormat eHDRExtOutput;
    pxlFormat eHDRInsertion;
    pxlFormat eRaw2DExtOutput;
    CI_INOUT_POINTS eDEPoint;
    QOR_UINT16 ui16SystemBlackLevel;
    QOR_BOOL8 bEnableCRC;
    QOR_BOOL8 bEnableTimestamp;
    MC_IIF sIIF;
    MC_BLC sBLC;
    MC_RLT sRLT;
    MC_LSH sLSH;
    MC_WBC sWBC;
    MC_DNS sDNS;
    MC_DPF sDPF;
    MC_LCA sLCA;
    MC_CCM sCCM;
    MC_MGM sMGM;
    MC_GMA sGMA;
    MC_R2Y sR2Y;
    MC_MIE sMIE;
    MC_TNM sTNM;
    MC_SHA sSHA;
    MC_ESC sESC;
    MC_DSC sDSC;
    MC_Y2R sY2R;
    MC_DGM sDGM;
    MC_HDR sHDR;
    MC_EXS sEXS;
    MC_FOS sFOS;
    MC_WBS sWBS;
    MC_AWS sAWS;
    MC_HIS sHIS;
    MC_FLD sFLD;
    MC_ENS sENS;
} MC_PIPELINE;

/* Pipeline */
QOR_RESULT MC_PipelineInit(MC_PIPELINE *pMCPipeline, const CI_HWINFO *pHWInfo);
QOR_RESULT MC_PipelineConvert(MC_PIPELINE *pMCPipeline, CI_PIPELINE *pCIPipeline, int *eUpdateMask);

/* Block defaults */
QOR_RESULT MC_IIFInit(MC_IIF *pIIF);
QOR_RESULT MC_BLCInit(MC_BLC *pBLC, QOR_UINT8 ui8BitDepth);
QOR_RESULT MC_RLTInit(MC_RLT *pRLT);
QOR_RESULT MC_LSHInit(MC_LSH *pLSH);
QOR_RESULT MC_WBCInit(MC_WBC *pWBC);
QOR_RESULT MC_DNSInit(MC_DNS *pDNS);
QOR_RESULT MC_DPFInit(MC_DPF *pDPF, const CI_HWINFO *pHWInfo, const MC_IIF *pIIF);
QOR_RESULT MC_LCAInit(MC_LCA *pLCA, const MC_IIF *pIIF);
QOR_RESULT MC_CCMInit(MC_CCM *pCCM);
QOR_RESULT MC_MGMInit(MC_MGM *pMGM);
QOR_RESULT MC_GMAInit(MC_GMA *pGMA);
QOR_RESULT MC_R2YInit(MC_R2Y *pR2Y);
QOR_RESULT MC_MIEInit(MC_MIE *pMIE);
QOR_RESULT MC_TNMInit(MC_TNM *pTNM, const MC_IIF *pIIF, const CI_HWINFO *pHWInfo);
QOR_RESULT MC_SHAInit(MC_SHA *pSHA);
QOR_RESULT MC_ESCInit(MC_ESC *pESC, const MC_IIF *pIIF);
QOR_RESULT MC_DSCInit(MC_DSC *pDSC, const MC_IIF *pIIF);
QOR_RESULT MC_Y2RInit(MC_Y2R *pY2R);
QOR_RESULT MC_DGMInit(MC_DGM *pDGM);
QOR_RESULT MC_HDRInit(MC_HDR *pHDR);
QOR_RESULT MC_EXSInit(MC_EXS *pEXS, const MC_IIF *pIIF);
QOR_RESULT MC_FOSInit(MC_FOS *pFOS, const MC_IIF *pIIF);
QOR_RESULT MC_WBSInit(MC_WBS *pWBS, const MC_IIF *pIIF);
QOR_RESULT MC_AWSInit(MC_AWS *pAWS, const MC_IIF *pIIF);
QOR_RESULT MC_HISInit(MC_HIS *pHIS, const MC_IIF *pIIF);
QOR_RESULT MC_FLDInit(MC_FLD *pFLD, const MC_IIF *pIIF);
QOR_RESULT MC_ENSInit(MC_ENS *pENS);
/** Frees a defect map that this layer allocated for an MC_DPF; never call it on a borrowed map. */
void MC_DPFFree(MC_DPF *pDPF);

/* Bayer-domain conversions */
QOR_RESULT MC_IIFConvert(const MC_IIF *pMC, CI_MODULE_IIF *pCI);
QOR_RESULT MC_BLCConvert(MC_BLC *pMC, CI_MODULE_BLC *pCI, int *pMask);
QOR_RESULT MC_RLTConvert(MC_RLT *pMC, CI_MODULE_RLT *pCI, int *pMask);
QOR_RESULT MC_LSHConvert(MC_LSH *pMC, CI_MODULE_LSH *pCI, int *pMask);
QOR_RESULT MC_WBCConvert(MC_WBC *pMC, CI_MODULE_WBC *pCI, int *pMask);
QOR_RESULT MC_DNSConvert(MC_DNS *pMC, CI_MODULE_DNS *pCI, int *pMask);
QOR_RESULT MC_DPFConvert(MC_DPF *pMC, const MC_IIF *pIIF, CI_MODULE_DPF *pCI, int *pMask);
QOR_RESULT MC_LCAConvert(MC_LCA *pMC, CI_MODULE_LCA *pCI, int *pMask);
QOR_RESULT MC_CCMConvert(MC_CCM *pMC, CI_MODULE_CCM *pCI, int *pMask);

/* Colour, tone and output conversions */
QOR_RESULT MC_MGMConvert(MC_MGM *pMC, CI_MODULE_MGM *pCI, int *pMask);
QOR_RESULT MC_DGMConvert(MC_DGM *pMC, CI_MODULE_DGM *pCI, int *pMask);
QOR_RESULT MC_GMAConvert(MC_GMA *pMC, CI_MODULE_GMA *pCI, int *pMask);
QOR_RESULT MC_R2YConvert(MC_R2Y *pMC, CI_MODULE_R2Y *pCI, int *pMask);
QOR_RESULT MC_Y2RConvert(MC_Y2R *pMC, CI_MODULE_Y2R *pCI, int *pMask);
QOR_RESULT MC_MIEConvert(MC_MIE *pMC, CI_MODULE_MIE *pCI, const CI_HWINFO *pHWInfo, int *pMask);
QOR_RESULT MC_TNMConvert(MC_TNM *pMC, const MC_IIF *pIIF, QOR_UINT8 ui8Parallelism, CI_MODULE_TNM *pCI, int *pMask);
QOR_RESULT MC_SHAConvert(MC_SHA *pMC, CI_MODULE_SHA *pCI, const CI_HWINFO *pHWInfo, int *pMask);
QOR_RESULT MC_ESCConvert(MC_ESC *pMC, CI_MODULE_ESC *pCI, QOR_BOOL8 bOutput422, int *pMask);
QOR_RESULT MC_DSCConvert(MC_DSC *pMC, CI_MODULE_DSC *pCI, int *pMask);
QOR_RESULT MC_HDRConvert(MC_HDR *pMC, const MC_WBC *pWBC, CI_MODULE_HDR *pCI, int *pMask);

/* Statistics conversions */
QOR_RESULT MC_EXSConvert(MC_EXS *pMC, CI_MODULE_EXS *pCI, int *pMask);
QOR_RESULT MC_FOSConvert(MC_FOS *pMC, CI_MODULE_FOS *pCI, int *pMask);
QOR_RESULT MC_WBSConvert(MC_WBS *pMC, CI_MODULE_WBS *pCI, int *pMask);
QOR_RESULT MC_AWSConvert(MC_AWS *pMC, CI_MODULE_AWS *pCI, int *pMask);
QOR_RESULT MC_HISConvert(MC_HIS *pMC, CI_MODULE_HIS *pCI, int *pMask);
QOR_RESULT MC_FLDConvert(MC_FLD *pMC, CI_MODULE_FLD *pCI, int *pMask);
QOR_RESULT MC_ENSConvert(MC_ENS *pMC, CI_MODULE_ENS *pCI);

/* Scaler coefficients */
void QOR_CalculateScalerCoefficients(double pitch, QOR_INT8 *coefficientMatrix,
                                     QOR_BOOL8 enable_cutoff_frequency_adjustment, QOR_UINT8 numTaps);
double QOR_ModifiedBessel(double x, QOR_BOOL xIsImaginary);

#endif /* MC_PIPELINE_H */
