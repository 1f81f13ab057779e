/* Defaults of every MC block and of the whole pipeline. */
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mc/mc_pipeline.h"
#include "norvacommon/userlog.h"

#define LOG_TAG "MC_PIPELINE"

QOR_RESULT MC_IIFInit(MC_IIF *pIIF) {
    memset(pIIF, 0, sizeof(*pIIF));
    pIIF->updateNeeded = 1;
    pIIF->ui8Imager = 2;
    pIIF->eBayerFormat = MOSAIC_RGGB;
    return QOR_RES_OK;
}

QOR_RESULT MC_BLCInit(MC_BLC *pBLC, QOR_UINT8 ui8BitDepth) {
    memset(pBLC, 0, sizeof(*pBLC));
    pBLC->updateNeeded = 1;
    pBLC->ui16PixelMax = static_cast<double>((1u << ui8BitDepth) - 1u);
    return QOR_RES_OK;
}

QOR_RESULT MC_RLTInit(MC_RLT *pRLT) {
    memset(pRLT, 0, sizeof(*pRLT));
    pRLT->updateNeeded = 1;
    pRLT->eMode = CI_RLT_DISABLED;
    return QOR_RES_OK;
}

QOR_RESULT MC_LSHInit(MC_LSH *pLSH) {
    memset(pLSH, 0, sizeof(*pLSH));
    pLSH->updateNeeded = 1;
    return QOR_RES_OK;
}

QOR_RESULT MC_WBCInit(MC_WBC *pWBC) {
    memset(pWBC, 0, sizeof(*pWBC));
    pWBC->updateNeeded = 1;
    for (int c = 0; c < 4; c++) {
        pWBC->aGain[c] = 1.0;
        pWBC->aClip[c] = 512.0;
    }
    pWBC->eRGBThresholdMode = WBC_THRESHOLD;
    for (int k = 0; k < 3; k++) {
        pWBC->afRGBThreshold[k] = 1.0;
        pWBC->afRGBGain[k] = 1.0;
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_DNSInit(MC_DNS *pDNS) {
    memset(pDNS, 0, sizeof(*pDNS));
    pDNS->updateNeeded = 1;
    pDNS->fGreyscalePixelThreshold = 0.25;
    return QOR_RES_OK;
}

QOR_RESULT MC_DPFInit(MC_DPF *pDPF, const CI_HWINFO *pHWInfo, const MC_IIF *pIIF) {
    memset(pDPF, 0, sizeof(*pDPF));
    pDPF->updateNeeded = 1;
    pDPF->ui16NbLines = static_cast<QOR_UINT16>(2 * pHWInfo->config_ui8Parallelism + 10);
    pDPF->ui32OutputMapSize = static_cast<QOR_UINT32>(pIIF->ui16ImagerSize[1]) * 256u;
    for (int i = 0; i < 2; i++) {
        pDPF->aSkip[i] = static_cast<QOR_UINT8>(pIIF->ui16ImagerDecimation[i]);
        pDPF->aOffset[i] = pIIF->ui16ImagerOffset[i];
    }
    pDPF->fWeight = 16.0;
    return QOR_RES_OK;
}

void MC_DPFFree(MC_DPF *pDPF) {
    if (pDPF != nullptr && pDPF->apDefectInput != nullptr) {
        free(pDPF->apDefectInput);
        pDPF->apDefectInput = nullptr;
        pDPF->ui32NDefect = 0;
    }
}

namespace {

/** Normalisation shift of the chromatic-aberration block for an axis of c cells. */
int lcaShift(int c) {
    if (2 * c > 1023) {
        if (c <= 2049) {
            return 0;
        }
        int e = 1;
        while (c / (1 << (e + 1)) > 1024) {
            e++;
        }
        return e;
    }
    int e = -1;
    // c * 2^(1-e) < 1024 with e <= -1: the factor is 2^(1-e) >= 4
    while (static_cast<long>(c) * (1L << (1 - e)) < 1024 && e > -30) {
        e--;
    }
    return e;
}

} // namespace

QOR_RESULT MC_LCAInit(MC_LCA *pLCA, const MC_IIF *pIIF) {
    if (pIIF->ui16ImagerSize[0] == 0 || pIIF->ui16ImagerSize[1] == 0) {
        fprintf(stderr, "IIF should be configured before configuring LCA\n");
        return QOR_RES_INVALID_PARAM;
    }
    memset(pLCA, 0, sizeof(*pLCA));
    pLCA->updateNeeded = 1;
    for (int i = 0; i < 2; i++) {
        const int c = pIIF->ui16ImagerSize[i];
        pLCA->aOffsetRed[i] = static_cast<QOR_UINT16>((pIIF->ui16ImagerOffset[i] + c) / 2);
        pLCA->aOffsetBlue[i] = pLCA->aOffsetRed[i];
        pLCA->aShift[i] = static_cast<QOR_UINT8>(lcaShift(c));
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_CCMInit(MC_CCM *pCCM) {
    memset(pCCM, 0, sizeof(*pCCM));
    pCCM->updateNeeded = 1;
    for (int i = 0; i < 3; i++) {
        pCCM->aCoeff[i][i] = 1.0;
    }
    return QOR_RES_OK;
}

static QOR_RESULT gamutMapperInit(MC_GAMUTMAPPER *p) {
    memset(p, 0, sizeof(*p));
    p->updateNeeded = 1;
    p->fClipMin = -0.5;
    p->fClipMax = 1.5;
    p->fSrcNorm = 1.0;
    p->aSlope[0] = 1.0;
    p->aSlope[1] = 1.0;
    return QOR_RES_OK;
}

QOR_RESULT MC_MGMInit(MC_MGM *pMGM) { return gamutMapperInit(pMGM); }
QOR_RESULT MC_DGMInit(MC_DGM *pDGM) { return gamutMapperInit(pDGM); }

QOR_RESULT MC_GMAInit(MC_GMA *pGMA) {
    memset(pGMA, 0, sizeof(*pGMA));
    pGMA->updateNeeded = 1;
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

QOR_RESULT MC_MIEInit(MC_MIE *pMIE) {
    memset(pMIE, 0, sizeof(*pMIE));
    pMIE->updateNeeded = 1;
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

QOR_RESULT MC_SHAInit(MC_SHA *pSHA) {
    memset(pSHA, 0, sizeof(*pSHA));
    pSHA->updateNeeded = 1;
    pSHA->fDetail = 1.0;
    pSHA->aGainWeigth[1] = 1.0 / 3.0;
    pSHA->aGainWeigth[2] = 1.0 / 3.0;
    pSHA->fELWScale = 4.0;
    return QOR_RES_OK;
}

QOR_RESULT MC_ESCInit(MC_ESC *pESC, const MC_IIF *pIIF) {
    memset(pESC, 0, sizeof(*pESC));
    pESC->updateNeeded = 1;
    pESC->bAdjustCutoff = 1;
    pESC->aOutputSize[0] = static_cast<QOR_UINT16>(2 * pIIF->ui16ImagerSize[0]);
    pESC->aOutputSize[1] = static_cast<QOR_UINT16>(2 * pIIF->ui16ImagerSize[1]);
    pESC->aPitch[0] = 1.0;
    pESC->aPitch[1] = 1.0;
    return QOR_RES_OK;
}

QOR_RESULT MC_DSCInit(MC_DSC *pDSC, const MC_IIF *pIIF) {
    memset(pDSC, 0, sizeof(*pDSC));
    pDSC->updateNeeded = 1;
    pDSC->bAdjustCutoff = 1;
    pDSC->aOutputSize[0] = static_cast<QOR_UINT16>(2 * pIIF->ui16ImagerSize[0]);
    pDSC->aOutputSize[1] = static_cast<QOR_UINT16>(2 * pIIF->ui16ImagerSize[1]);
    pDSC->aPitch[0] = 1.0;
    pDSC->aPitch[1] = 1.0;
    return QOR_RES_OK;
}

QOR_RESULT MC_HDRInit(MC_HDR *pHDR) {
    memset(pHDR, 0, sizeof(*pHDR));
    pHDR->updateNeeded = 1;
    return QOR_RES_OK;
}

QOR_RESULT MC_EXSInit(MC_EXS *pEXS, const MC_IIF *pIIF) {
    const int W = pIIF->ui16ImagerSize[0];
    const int H = pIIF->ui16ImagerSize[1];
    memset(pEXS, 0, sizeof(*pEXS));
    pEXS->updateNeeded = 1;
    pEXS->bGlobalEnable = 1;
    pEXS->bRegionEnable = 1;
    pEXS->ui16Width = static_cast<QOR_UINT16>(W > 55 ? W / 7 : 8);
    pEXS->ui16Height = static_cast<QOR_UINT16>(H > 55 ? H / 7 : 8);
    pEXS->ui16Left = static_cast<QOR_UINT16>(W / 14);
    pEXS->ui16Top = static_cast<QOR_UINT16>(H / 14);
    pEXS->fPixelMax = 255.0;
    return QOR_RES_OK;
}

QOR_RESULT MC_FOSInit(MC_FOS *pFOS, const MC_IIF *pIIF) {
    const int W = pIIF->ui16ImagerSize[0];
    const int H = pIIF->ui16ImagerSize[1];
    memset(pFOS, 0, sizeof(*pFOS));
    pFOS->updateNeeded = 1;
    pFOS->bGlobalEnable = 1;
    pFOS->bRegionEnable = 1;
    pFOS->ui16Width = static_cast<QOR_UINT16>(2 * W);
    pFOS->ui16Height = static_cast<QOR_UINT16>(2 * H);
    pFOS->ui16ROILeft = static_cast<QOR_UINT16>(W / 2);
    pFOS->ui16ROITop = static_cast<QOR_UINT16>(H / 2);
    pFOS->ui16ROIWidth = static_cast<QOR_UINT16>(W);
    pFOS->ui16ROIHeight = static_cast<QOR_UINT16>(H);
    return QOR_RES_OK;
}

QOR_RESULT MC_WBSInit(MC_WBS *pWBS, const MC_IIF *pIIF) {
    const int W = pIIF->ui16ImagerSize[0];
    const int H = pIIF->ui16ImagerSize[1];
    memset(pWBS, 0, sizeof(*pWBS));
    pWBS->updateNeeded = 1;
    pWBS->fYOffset = -0.5;
    pWBS->aRoiLeft[0] = static_cast<QOR_UINT16>(W / 2);
    pWBS->aRoiTop[0] = static_cast<QOR_UINT16>(H / 2);
    pWBS->aRoiWidth[0] = static_cast<QOR_UINT16>(W);
    pWBS->aRoiHeight[0] = static_cast<QOR_UINT16>(H);
    for (int k = 0; k < 2; k++) {
        pWBS->aRMax[k] = 9;
        pWBS->aGMax[k] = 9;
        pWBS->aBMax[k] = 9;
        pWBS->aYMax[k] = 9;
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_AWSInit(MC_AWS *pAWS, const MC_IIF *pIIF) {
    static const double coeffX[5] = {0.88671875, 0.966796875, 0.998046875, 0, 0};
    static const double coeffY[5] = {0.4609375, 0.2548828125, 0.064453125, 0, 0};
    static const double offset[5] = {0.0390625, 0.255859375, 0.63671875, 0, 0};
    static const double boundary[5] = {0.25, 31.15625, 30.09375, 16.0, 16.0};
    const int W = pIIF->ui16ImagerSize[0];
    const int H = pIIF->ui16ImagerSize[1];
    memset(pAWS, 0, sizeof(*pAWS));
    pAWS->updateNeeded = 1;
    pAWS->fLog2_R_Qeff = 255.0;
    pAWS->fLog2_B_Qeff = 255.0;
    pAWS->fRedClipThresh = 255.0;
    pAWS->fBlueClipThresh = 255.0;
    pAWS->fGreenClipThresh = 255.0;
    pAWS->fBbDist = 127.0;
    pAWS->ui16GridTileWidth = static_cast<QOR_UINT16>(W > 55 ? 2 * W / 7 : 16);
    pAWS->ui16GridTileHeight = static_cast<QOR_UINT16>(H > 55 ? 2 * H / 7 : 16);
    memcpy(pAWS->aCurveCoeffX, coeffX, sizeof(coeffX));
    memcpy(pAWS->aCurveCoeffY, coeffY, sizeof(coeffY));
    memcpy(pAWS->aCurveOffset, offset, sizeof(offset));
    memcpy(pAWS->aCurveBoundary, boundary, sizeof(boundary));
    return QOR_RES_OK;
}

QOR_RESULT MC_HISInit(MC_HIS *pHIS, const MC_IIF *pIIF) {
    const int W = pIIF->ui16ImagerSize[0];
    const int H = pIIF->ui16ImagerSize[1];
    memset(pHIS, 0, sizeof(*pHIS));
    pHIS->updateNeeded = 1;
    pHIS->bGlobalEnable = 1;
    pHIS->bRegionEnable = 1;
    pHIS->fInputScale = 1.0;
    pHIS->ui16Left = static_cast<QOR_UINT16>(W / 2);
    pHIS->ui16Top = static_cast<QOR_UINT16>(H / 2);
    pHIS->ui16Width = static_cast<QOR_UINT16>(W);
    pHIS->ui16Height = static_cast<QOR_UINT16>(H);
    return QOR_RES_OK;
}

QOR_RESULT MC_FLDInit(MC_FLD *pFLD, const MC_IIF *pIIF) {
    memset(pFLD, 0, sizeof(*pFLD));
    pFLD->updateNeeded = 1;
    pFLD->bEnable = 1;
    // Placeholder until the flicker module sets the real frame length.
    pFLD->ui16VTot = static_cast<QOR_UINT16>(2 * pIIF->ui16ImagerOffset[1]);
    pFLD->fFrameRate = 30.0;
    pFLD->ui16CoefDiff = 50;
    pFLD->ui16NFThreshold = 1500;
    pFLD->ui32SceneChange = 300000;
    pFLD->ui8RShift = 10;
    pFLD->ui8MinPN = 4;
    pFLD->ui8PN = 4;
    return QOR_RES_OK;
}

QOR_RESULT MC_ENSInit(MC_ENS *pENS) {
    memset(pENS, 0, sizeof(*pENS));
    pENS->updateNeeded = 1;
    pENS->ui32NLines = 8;
    return QOR_RES_OK;
}

QOR_RESULT MC_PipelineInit(MC_PIPELINE *p, const CI_HWINFO *pHWInfo) {
    if (p == nullptr || pHWInfo == nullptr) {
        QOR_LOG_ERROR(LOG_TAG, "pMCPipeline or pHWInfo is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    p->pHWInfo = pHWInfo;
    if (p->sIIF.ui16ImagerSize[0] == 0 || p->sIIF.ui16ImagerSize[1] == 0) {
        QOR_LOG_WARNING(LOG_TAG, "IIF sizes should be configured before running %s\n", __func__);
    }
    p->eEncOutput = PXL_NONE;
    p->eDispOutput = PXL_NONE;
    p->eHDRExtOutput = PXL_NONE;
    p->eHDRInsertion = PXL_NONE;
    p->eRaw2DExtOutput = PXL_NONE;
    p->eDEPoint = CI_INOUT_NONE;
    p->bEnableCRC = 0;
    p->bEnableTimestamp = 1;
    const int depth = pHWInfo->context_aBitDepth[0];
    p->ui16SystemBlackLevel = static_cast<QOR_UINT16>(depth < 10 ? 16 : (16u << (depth - 10)));

    const MC_IIF *iif = &p->sIIF;
    int sum = 0;
    sum += MC_BLCInit(&p->sBLC, pHWInfo->config_ui8BitDepth);
    sum += MC_RLTInit(&p->sRLT);
    sum += MC_LSHInit(&p->sLSH);
    sum += MC_WBCInit(&p->sWBC);
    sum += MC_DNSInit(&p->sDNS);
    sum += MC_DPFInit(&p->sDPF, pHWInfo, iif);
    sum += MC_LCAInit(&p->sLCA, iif);
    sum += MC_CCMInit(&p->sCCM);
    sum += MC_MGMInit(&p->sMGM);
    sum += MC_GMAInit(&p->sGMA);
    sum += MC_R2YInit(&p->sR2Y);
    sum += MC_MIEInit(&p->sMIE);
    sum += MC_TNMInit(&p->sTNM, iif, pHWInfo);
    sum += MC_SHAInit(&p->sSHA);
    sum += MC_ESCInit(&p->sESC, iif);
    sum += MC_DSCInit(&p->sDSC, iif);
    sum += MC_Y2RInit(&p->sY2R);
    sum += MC_DGMInit(&p->sDGM);
    sum += MC_HDRInit(&p->sHDR);
    sum += MC_EXSInit(&p->sEXS, iif);
    sum += MC_FOSInit(&p->sFOS, iif);
    sum += MC_WBSInit(&p->sWBS, iif);
    sum += MC_AWSInit(&p->sAWS, iif);
    sum += MC_HISInit(&p->sHIS, iif);
    sum += MC_FLDInit(&p->sFLD, iif);
    sum += MC_ENSInit(&p->sENS);
    return sum != 0 ? QOR_RES_FAILED : QOR_RES_OK;
}
