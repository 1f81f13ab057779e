/* The colour, tone and output blocks: defaults (Init) and conversion into register values. */
#include <cmath>
#include <cstring>

#include "ci/ci_modules_verif.h"
#include "mc/mc_fixedpoint.h"
#include "mc/mc_pipeline.h"
#include "mc_block_internal.h"
#include "norvacommon/userlog.h"

namespace {

/** Truncation to an unsigned integer saturated in the 8-bit field (negative values give 0). */
QOR_UINT8 truncU8(double v) {
    const QOR_INT32 i = MC_TruncInt(v);
    return static_cast<QOR_UINT8>(i < 0 ? 0 : (i > 255 ? 255 : i));
}

void gamutMapperConvert(const MC_GAMUTMAPPER *pMC, CI_MODULE_GAMUTMAPPER *pCI) {
    pCI->i16ClipMin = static_cast<QOR_INT16>(QOR_Fix_Clip(256.0 * pMC->fClipMin, 10, 2, QOR_TRUE, "GM_CLIP_MIN"));
    pCI->ui16ClipMax = static_cast<QOR_UINT16>(QOR_Fix_Clip(256.0 * pMC->fClipMax, 10, 2, QOR_TRUE, "GM_CLIP_MAX"));
    pCI->ui16SrcNorm = static_cast<QOR_UINT16>(QOR_Fix_Clip(256.0 * pMC->fSrcNorm, 10, 2, QOR_TRUE, "GM_SRC_NORM"));
    for (int k = 0; k < 3; k++) {
        pCI->aSlope[k] = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->aSlope[k], 2, 10, QOR_FALSE, "GM_SLOPE"));
    }
    for (int k = 0; k < 6; k++) {
        pCI->aCoeff[k] = static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->aCoeff[k], 2, 6, QOR_TRUE, "GM_COEFF"));
    }
}

void planeConvert(const MC_PLANECONV *pMC, CI_MODULE_PLANECONV *pCI, int coeffInt, int coeffFract, int offInt) {
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            pCI->aCoeff[i][j] =
                static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->aCoeff[i][j], coeffInt, coeffFract, QOR_TRUE, "PC_COEFF"));
        }
        pCI->aOffset[i] = static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->aOffset[i], offInt, 2, QOR_TRUE, "PC_OFFSET"));
    }
}

/** Bypass, sizes, offsets and pitches common to both scalers; NOT_SUPPORTED for upsampling. */
QOR_RESULT scalerSetup(QOR_BOOL8 bypass, const QOR_UINT16 outSize[2], const QOR_UINT16 offset[2], const double pitch[2],
                       CI_MODULE_SCALER *pCI) {
    pCI->bBypassScaler = bypass;
    pCI->aOutputSize[0] = static_cast<QOR_UINT16>(outSize[0] >= 2 ? outSize[0] / 2 - 1 : 0);
    pCI->aOutputSize[1] = static_cast<QOR_UINT16>(outSize[1] != 0 ? outSize[1] - 1 : 0);
    pCI->aOffset[0] = offset[0];
    pCI->aOffset[1] = offset[1];
    if (!(pitch[0] >= 1.0) || !(pitch[1] >= 1.0)) {
        QOR_LOG_ERROR(kTag, "upsampling not supported: pitch < 1.0 is not valid (given: %f %f)\n", pitch[0], pitch[1]);
        return QOR_RES_NOT_SUPPORTED;
    }
    for (int k = 0; k < 2; k++) {
        pCI->aPitch[k] = static_cast<QOR_UINT32>(QOR_Fix_Clip(pitch[k], 6, 15, QOR_FALSE, "SCAL_PITCH"));
    }
    return QOR_RES_OK;
}

/** Defaults shared by the encoder and the display scalers: the imager's size, no scaling. */
template <class Scaler> QOR_RESULT scalerInit(Scaler *p, const MC_IIF *pIIF) {
    memset(p, 0, sizeof(*p));
    p->updateNeeded = 1;
    p->bAdjustCutoff = 1;
    p->aOutputSize[0] = static_cast<QOR_UINT16>(2 * pIIF->ui16ImagerSize[0]);
    p->aOutputSize[1] = static_cast<QOR_UINT16>(2 * pIIF->ui16ImagerSize[1]);
    p->aPitch[0] = 1.0;
    p->aPitch[1] = 1.0;
    return QOR_RES_OK;
}

/** Defaults shared by the main and the display gamut mappers. */
QOR_RESULT gamutMapperInit(MC_GAMUTMAPPER *p) {
    memset(p, 0, sizeof(*p));
    p->updateNeeded = 1;
    p->fClipMin = -0.5;
    p->fClipMax = 1.5;
    p->fSrcNorm = 1.0;
    p->aSlope[0] = 1.0;
    p->aSlope[1] = 1.0;
    return QOR_RES_OK;
}

} // namespace

QOR_RESULT MC_MGMInit(MC_MGM *pMGM) { return gamutMapperInit(pMGM); }

QOR_RESULT MC_MGMConvert(MC_MGM *pMC, CI_MODULE_MGM *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_MGM);
    gamutMapperConvert(pMC, pCI);
    return QOR_RES_OK;
}

QOR_RESULT MC_DGMInit(MC_DGM *pDGM) { return gamutMapperInit(pDGM); }

QOR_RESULT MC_DGMConvert(MC_DGM *pMC, CI_MODULE_DGM *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_DGM);
    gamutMapperConvert(pMC, pCI);
    return QOR_RES_OK;
}

QOR_RESULT MC_GMAInit(MC_GMA *pGMA) {
    memset(pGMA, 0, sizeof(*pGMA));
    pGMA->updateNeeded = 1;
    return QOR_RES_OK;
}

QOR_RESULT MC_GMAConvert(MC_GMA *pMC, CI_MODULE_GMA *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_GMA);
    pCI->bBypass = pMC->bBypass;
    return QOR_RES_OK;
}

QOR_RESULT MC_R2YInit(MC_R2Y *pR2Y) {
    static const double coeff[3][3] = {{0.439, -0.399, -0.04}, {0.183, 0.614, 0.062}, {-0.101, -0.338, 0.439}};
    memset(pR2Y, 0, sizeof(*pR2Y));
    pR2Y->updateNeeded = 1;
    pR2Y->eType = RGB_TO_YCC;
    memcpy(pR2Y->aCoeff, coeff, sizeof(coeff));
    pR2Y->aOffset[1] = 0.5;
    return QOR_RES_OK;
}

QOR_RESULT MC_R2YConvert(MC_R2Y *pMC, CI_MODULE_R2Y *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_R2Y);
    planeConvert(pMC, pCI, 2, 10, 8);
    return QOR_RES_OK;
}

QOR_RESULT MC_Y2RInit(MC_Y2R *pY2R) {
    static const double coeff[3][3] = {{1.5748, 1.0, 0}, {-0.4681242606, 1.0, -0.18732430448}, {0, 1.0, 1.8556}};
    memset(pY2R, 0, sizeof(*pY2R));
    pY2R->updateNeeded = 1;
    pY2R->eType = RGB_TO_YCC; // 0, as the defaults give it
    memcpy(pY2R->aCoeff, coeff, sizeof(coeff));
    pY2R->aOffset[0] = -128.0;
    pY2R->aOffset[1] = -16.0;
    pY2R->aOffset[2] = -128.0;
    return QOR_RES_OK;
}

QOR_RESULT MC_Y2RConvert(MC_Y2R *pMC, CI_MODULE_Y2R *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_Y2R);
    planeConvert(pMC, pCI, 3, 9, 9);
    return QOR_RES_OK;
}

QOR_RESULT MC_MIEInit(MC_MIE *pMIE) {
    memset(pMIE, 0, sizeof(*pMIE));
    pMIE->updateNeeded = 1;
    return QOR_RES_OK;
}

QOR_RESULT MC_MIEConvert(MC_MIE *pMC, CI_MODULE_MIE *pCI, const CI_HWINFO * /*pHWInfo*/, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_MIE);
    pCI->ui16BlackLevel = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fBlackLevel, 8, 2, QOR_FALSE, "MIE_BLACK_LEVEL"));
    pCI->bVibrancy = pMC->bVibrancy;
    for (int i = 0; i < 32; i++) {
        pCI->aVibrancySatMul[i] =
            static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->aVibrancySatMul[i], 4, 8, QOR_FALSE, "MIE_VIB_SATMULT"));
    }
    pCI->bMemoryColour = pMC->bMemoryColour;
    for (int k = 0; k < 3; k++) {
        pCI->aYOffset[k] = static_cast<QOR_INT16>(
            QOR_clip(MC_TruncInt(pMC->aYOffset[k] * 16383.0 - 8192.0), 14, QOR_TRUE, "MIE_MC_YOFF"));
        pCI->aYScale[k] = static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->aYScale[k], 2, 4, QOR_FALSE, "MIE_MC_YSCALE"));
        pCI->aCOffset[k] = static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->aCOffset[k], 9, 1, QOR_TRUE, "MIE_MC_COFF"));
        pCI->aCScale[k] = static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->aCScale[k], 4, 4, QOR_FALSE, "MIE_MC_CSCALE"));
        pCI->aRot[2 * k] = static_cast<QOR_INT8>(QOR_Fix_Clip(pMC->aRot[2 * k], 1, 7, QOR_TRUE, "MIE_MC_ROT"));
        pCI->aRot[2 * k + 1] = static_cast<QOR_INT8>(QOR_Fix_Clip(pMC->aRot[2 * k + 1], 1, 7, QOR_TRUE, "MIE_MC_ROT"));
        pCI->aGaussMinY[k] = static_cast<QOR_UINT16>(
            QOR_clip(MC_TruncInt(pMC->aGaussMinY[k] * 1023.0), 10, QOR_FALSE, "MIE_MC_GAUSS_MINY"));
        pCI->aGaussScaleY[k] =
            static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->aGaussScaleY[k], 4, 4, QOR_FALSE, "MIE_MC_GAUSS_SCALEY"));
        // The record keeps 8 signed bits: clip there, so a value outside -128..127 saturates
        // instead of wrapping into a value of the other sign.
        pCI->aGaussCB[k] = static_cast<QOR_INT8>(
            QOR_clip(MC_TruncInt(pMC->aGaussCB[k] * 1023.0 - 512.0), 8, QOR_TRUE, "MIE_MC_GAUSS_CB"));
        pCI->aGaussCR[k] = static_cast<QOR_INT8>(
            QOR_clip(MC_TruncInt(pMC->aGaussCR[k] * 1023.0 - 512.0), 8, QOR_TRUE, "MIE_MC_GAUSS_CR"));
        pCI->aGaussRot[2 * k] =
            static_cast<QOR_INT8>(QOR_Fix_Clip(pMC->aGaussRot[2 * k], 1, 7, QOR_TRUE, "MIE_MC_GAUSS_ROT"));
        pCI->aGaussRot[2 * k + 1] =
            static_cast<QOR_INT8>(QOR_Fix_Clip(pMC->aGaussRot[2 * k + 1], 1, 7, QOR_TRUE, "MIE_MC_GAUSS_ROT"));
        pCI->aGaussKB[k] = static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->aGaussKB[k], 8, 0, QOR_FALSE, "MIE_MC_GAUSS_KB"));
        pCI->aGaussKR[k] = static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->aGaussKR[k], 8, 0, QOR_FALSE, "MIE_MC_GAUSS_KR"));
    }
    for (int i = 0; i < 12; i++) {
        pCI->aGaussScale[i] =
            static_cast<QOR_UINT8>(QOR_clip(MC_TruncInt(pMC->aGaussScale[i]), 8, QOR_FALSE, "MIE_MC_GAUSS_SCALE"));
        pCI->aGaussGain[i] =
            static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->aGaussGain[i], 0, 8, QOR_FALSE, "MIE_MC_GAUSS_GAIN"));
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_TNMInit(MC_TNM *pTNM, const MC_IIF * /*pIIF*/, const CI_HWINFO * /*pHWInfo*/) {
    memset(pTNM, 0, sizeof(*pTNM));
    pTNM->updateNeeded = 1;
    for (int i = 0; i < 63; i++) {
        pTNM->aCurve[i] = (i + 1) / 64.0;
    }
    pTNM->chromaSaturationScale = 1.0;
    pTNM->chromaConfigurationScale = 1.0;
    pTNM->chromaIOScale = 1.75;
    pTNM->ui16LocalColumns = 16;
    pTNM->inputLumaOffset = 1.0;
    pTNM->inputLumaScale = 256.0 / 255.0;
    pTNM->outputLumaOffset = 16.0;
    pTNM->outputLumaScale = 0.859375;
    return QOR_RES_OK;
}

QOR_RESULT MC_TNMConvert(MC_TNM *pMC, const MC_IIF *pIIF, QOR_UINT8 ui8Parallelism, CI_MODULE_TNM *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_TNM);
    memset(pCI, 0, sizeof(*pCI));
    pCI->bBypassTNM = pMC->bBypassTNM;
    for (int i = 0; i < 63; i++) {
        pCI->aCurve[i] = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->aCurve[i], 1, 11, QOR_FALSE, "TNM_CURVE_POINT_0"));
    }
    pCI->histFlattenMin =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->histFlattenMin, 0, 11, QOR_FALSE, "TNM_HIST_FLATTEN_MIN"));
    pCI->histFlattenThreshold[0] =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->histFlattenThreshold, 0, 11, QOR_FALSE, "TNM_HIST_FLATTEN_THRES"));
    const double recip = pMC->histFlattenThreshold != 0.0 ? 1.0 / (1.0 - pMC->histFlattenThreshold) : 1.0;
    pCI->histFlattenThreshold[1] =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(recip, 4, 12, QOR_FALSE, "TNM_HIST_FLATTEN_RECIP"));

    // The register holds columns - 1 in 5 bits: 1 to 32 columns. A count of 0 would divide by
    // zero below, so it is taken as one column.
    int columns = pMC->ui16LocalColumns;
    if (columns < 1 || columns > 32) {
        const int limited = columns < 1 ? 1 : 32;
        QOR_LOG_WARNING(kTag, "TNM local columns %d limited to %d\n", columns, limited);
        columns = limited;
    }
    const int width = 2 * pIIF->ui16ImagerSize[0];
    const int cw = (width + columns - 1) / columns;
    pCI->localColWidth[0] = static_cast<QOR_UINT16>(cw);
    pCI->localColWidth[1] =
        cw != 0 ? static_cast<QOR_UINT16>(QOR_Fix_Clip(1.0 / cw, 0, 16, QOR_FALSE, "TNM_LOCAL_COL_WIDTH_INV")) : 0;
    const int p = ui8Parallelism;
    const int last = width - (columns - 1) * cw;
    pCI->histNormFactor =
        (p * cw) > 0 ? static_cast<QOR_UINT16>(QOR_Fix_Clip(1.0 / (p * cw), 0, 16, QOR_FALSE, "TNM_NORM")) : 0;
    // The last column takes the rest of the width; when nothing is left it has no norm.
    pCI->histNormLastFactor =
        (p * last) > 0 ? static_cast<QOR_UINT16>(QOR_Fix_Clip(1.0 / (p * last), 0, 16, QOR_FALSE, "TNM_NORM_LAST")) : 0;
    pCI->chromaSaturationScale =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->chromaSaturationScale, 4, 8, QOR_FALSE, "TNM_CHR_SAT_SCALE"));
    pCI->chromaConfigurationScale =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->chromaConfigurationScale, 6, 10, QOR_FALSE, "TNM_CHR_CONF_SCALE"));
    pCI->chromaIOScale =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->chromaIOScale, 2, 14, QOR_FALSE, "TNM_CHR_IO_SCALE"));
    pCI->localColumns = static_cast<QOR_UINT16>(columns - 1);
    pCI->columnsIdx = pMC->ui16ColumnsIndex;
    pCI->localWeights = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->localWeights, 0, 10, QOR_FALSE, "TNM_LOCAL_WEIGHT"));
    pCI->updateWeights =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->updateWeights, 0, 16, QOR_FALSE, "TNM_UPDATE_WEIGHT"));
    pCI->inputLumaOffset =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->inputLumaOffset, 8, 4, QOR_FALSE, "TNM_INPUT_LUMA_OFFSET"));
    pCI->inputLumaScale =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->inputLumaScale, 4, 12, QOR_FALSE, "TNM_INPUT_LUMA_SCALE"));
    pCI->outputLumaOffset =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->outputLumaOffset, 8, 4, QOR_FALSE, "TNM_OUTPUT_LUMA_OFFSET"));
    pCI->outputLumaScale =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->outputLumaScale, 4, 12, QOR_FALSE, "TNM_OUTPUT_LUMA_SCALE"));
    return QOR_RES_OK;
}

QOR_RESULT MC_SHAInit(MC_SHA *pSHA) {
    memset(pSHA, 0, sizeof(*pSHA));
    pSHA->updateNeeded = 1;
    pSHA->fDetail = 1.0;
    pSHA->aGainWeigth[1] = 1.0 / 3.0;
    pSHA->aGainWeigth[2] = 1.0 / 3.0;
    pSHA->fELWScale = 4.0;
    return QOR_RES_OK;
}

QOR_RESULT MC_SHAConvert(MC_SHA *pMC, CI_MODULE_SHA *pCI, const CI_HWINFO * /*pHWInfo*/, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_SHA);
    pCI->ui8Threshold = static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->ui16Threshold, 8, 0, QOR_FALSE, "SHA_THRESH"));
    pCI->ui8Strength = truncU8(pMC->fStrength);
    pCI->ui8Detail = static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->fDetail, 0, 6, QOR_FALSE, "SHA_DETAIL"));
    pCI->bDenoiseBypass = pMC->bDenoise == 0 ? 1 : 0;
    for (int k = 0; k < 6; k++) {
        pCI->aGainWeight[k] = truncU8(pMC->aGainWeigth[k]);
    }
    pCI->ui8ELWScale = truncU8(pMC->fELWScale);
    // The register field holds 7 signed bits (-64 to 63): a larger offset is clipped with a message
    // instead of wrapping to the other sign.
    const QOR_INT32 elw = QOR_clip(pMC->i16ELWOffset, 7, QOR_TRUE, "SHA_ELW_OFFSET");
    if (elw != pMC->i16ELWOffset) {
        QOR_LOG_WARNING(kTag, "edge offset %d does not fit the register: %d written\n",
                        static_cast<int>(pMC->i16ELWOffset), static_cast<int>(elw));
    }
    pCI->i8ELWOffset = static_cast<QOR_INT8>(elw);
    for (int k = 0; k < 7; k++) {
        pCI->aDNSimil[k] = static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->aDNSimil[k], 8, 0, QOR_FALSE, "SHA_DN_SIMIL"));
        pCI->aDNAvoid[k] = static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->aDNAvoid[k], 8, 0, QOR_FALSE, "SHA_DN_AVOID"));
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_ESCInit(MC_ESC *pESC, const MC_IIF *pIIF) { return scalerInit(pESC, pIIF); }

QOR_RESULT MC_ESCConvert(MC_ESC *pMC, CI_MODULE_ESC *pCI, QOR_BOOL8 bOutput422, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_ESC);
    QOR_RESULT ret = scalerSetup(pMC->bBypassESC, pMC->aOutputSize, pMC->aOffset, pMC->aPitch, pCI);
    if (ret != QOR_RES_OK) {
        return ret;
    }
    pCI->bChromaInter = pMC->bChromaInter;
    pCI->bOutput422 = bOutput422;
    if (pCI->bBypassScaler) {
        return QOR_RES_OK;
    }
    QOR_CalculateScalerCoefficients(pMC->aPitch[0], pCI->HLuma, pMC->bAdjustCutoff, 16);
    QOR_CalculateScalerCoefficients(pMC->aPitch[1], pCI->VLuma, pMC->bAdjustCutoff, 8);
    QOR_CalculateScalerCoefficients(pMC->aPitch[0], pCI->HChroma, pMC->bAdjustCutoff, 8);
    QOR_CalculateScalerCoefficients(pMC->aPitch[1] * (bOutput422 == 1 ? 1.0 : 2.0), pCI->VChroma, pMC->bAdjustCutoff,
                                    4);
    if (CI_ModuleScaler_verif(pCI) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to configure ESC taps\n");
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_DSCInit(MC_DSC *pDSC, const MC_IIF *pIIF) { return scalerInit(pDSC, pIIF); }

QOR_RESULT MC_DSCConvert(MC_DSC *pMC, CI_MODULE_DSC *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_DSC);
    QOR_RESULT ret = scalerSetup(pMC->bBypassDSC, pMC->aOutputSize, pMC->aOffset, pMC->aPitch, pCI);
    if (ret != QOR_RES_OK) {
        return ret;
    }
    if (pCI->bBypassScaler) {
        return QOR_RES_OK;
    }
    QOR_CalculateScalerCoefficients(pMC->aPitch[0], pCI->HLuma, pMC->bAdjustCutoff, 8);
    QOR_CalculateScalerCoefficients(pMC->aPitch[1], pCI->VLuma, pMC->bAdjustCutoff, 4);
    QOR_CalculateScalerCoefficients(pMC->aPitch[0], pCI->HChroma, pMC->bAdjustCutoff, 4);
    QOR_CalculateScalerCoefficients(pMC->aPitch[1], pCI->VChroma, pMC->bAdjustCutoff, 2);
    if (CI_ModuleScaler_verif(pCI) == QOR_RES_FAILED) {
        QOR_LOG_ERROR(kTag, "failed to configure DSC taps\n");
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_HDRInit(MC_HDR *pHDR) {
    memset(pHDR, 0, sizeof(*pHDR));
    pHDR->updateNeeded = 1;
    return QOR_RES_OK;
}

QOR_RESULT MC_HDRConvert(MC_HDR *pMC, const MC_WBC *pWBC, CI_MODULE_HDR *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_HDR);
    pCI->eHDRMode = pMC->eHDRMode;
    pCI->eBayerMode = pMC->eBayerMode;
    pCI->bLongExpFirst = pMC->bLongExpFirst;
    pCI->aFrameSize[0] = pMC->aFrameSize[0];
    pCI->aFrameSize[1] = pMC->aFrameSize[1];
    pCI->aBlackLevel[0] = pMC->aBlackLevel[0];
    pCI->aBlackLevel[1] = pMC->aBlackLevel[1];
    pCI->ui32LineGap = pMC->ui32LineGap;
    pCI->ui16ExposureRatio =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fExposureRatio, 8, 8, QOR_FALSE, "HDR_EXP_RATIO"));
    pCI->ui16Gain = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fGain, 8, 8, QOR_FALSE, "HDR_GAIN"));
    pCI->bUpdateWeight = 0;
    for (int i = 0; i < 4096; i++) {
        const QOR_UINT16 v = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->aWeightCurve[i], 1, 8, QOR_FALSE, "HDR_WEIGHT"));
        if (v != pCI->aWeightCurve[i]) {
            pCI->aWeightCurve[i] = v;
            pCI->bUpdateWeight = 1;
        }
    }
    for (int c = 0; c < 4; c++) {
        pCI->aWBCGains[c] = static_cast<QOR_UINT16>(QOR_Fix_Clip(pWBC->aGain[c], 3, 10, QOR_FALSE, "HDR_WBC_GAIN"));
    }
    for (int k = 0; k < 3; k++) {
        pCI->aLumCoeffs[k] =
            static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->aLumCoeffs[k], 0, 12, QOR_FALSE, "HDR_LUM_COEFF"));
    }
    pCI->bUpdateTNM = 0;
    for (int i = 0; i < 3328; i++) {
        const QOR_UINT16 v =
            static_cast<QOR_UINT16>(QOR_Fix_Clip(4096.0 * pMC->aTNMCurve[i], 12, 0, QOR_FALSE, "HDR_TNM"));
        if (v != pCI->aTNMCurve[i]) {
            pCI->aTNMCurve[i] = v;
            pCI->bUpdateTNM = 1;
        }
    }
    return QOR_RES_OK;
}
