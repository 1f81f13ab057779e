/* The statistics blocks: defaults (Init) and conversion into the statistics configuration of the pipeline. */
#include <cmath>
#include <cstring>

#include "mc/mc_fixedpoint.h"
#include "mc/mc_pipeline.h"
#include "mc_block_internal.h"
#include "norvacommon/userlog.h"

namespace {

/** Inclusive end of a region, 0 when it is empty; clipped to 15 bits. */
QOR_UINT16 regionEnd(int start, int size) {
    if (start + size == 0) {
        return 0;
    }
    return static_cast<QOR_UINT16>(QOR_clip(start + size - 1, 15, QOR_FALSE, "WBS_ROI_END"));
}

bool isPowerOfTwo(QOR_UINT32 v) { return v != 0 && (v & (v - 1)) == 0; }

int floorLog2(QOR_UINT32 v) {
    int b = 0;
    while (v > 1) {
        v >>= 1;
        b++;
    }
    return b;
}

} // namespace

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

QOR_RESULT MC_EXSConvert(MC_EXS *pMC, CI_MODULE_EXS *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_EXS);
    pCI->ui16Left = pMC->ui16Left;
    pCI->ui16Top = pMC->ui16Top;
    pCI->ui16Width = pMC->ui16Width;
    pCI->ui16Height = pMC->ui16Height;
    pCI->ui16PixelMax = static_cast<QOR_UINT16>(MC_TruncInt(pMC->fPixelMax) & 0xFFFF);
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

QOR_RESULT MC_FOSConvert(MC_FOS *pMC, CI_MODULE_FOS *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_FOS);
    pCI->ui16Left = pMC->ui16Left;
    pCI->ui16Top = pMC->ui16Top;
    pCI->ui16Width = pMC->ui16Width;
    pCI->ui16Height = pMC->ui16Height;
    pCI->ui16ROILeft = pMC->ui16ROILeft;
    pCI->ui16ROITop = pMC->ui16ROITop;
    pCI->ui16ROIRight = static_cast<QOR_UINT16>(pMC->ui16ROILeft + pMC->ui16ROIWidth - 1);
    pCI->ui16ROIBottom = static_cast<QOR_UINT16>(pMC->ui16ROITop + pMC->ui16ROIHeight - 1);
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

QOR_RESULT MC_WBSConvert(MC_WBS *pMC, CI_MODULE_WBS *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_WBS);
    pCI->ui8ActiveROI = static_cast<QOR_UINT8>(pMC->ui8ActiveROI >= 1 ? pMC->ui8ActiveROI - 1 : 0);
    pCI->ui16RGBOffset = static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->fRGBOffset, 9, 4, QOR_TRUE, "WBS_RGB_OFFSET"));
    pCI->ui16YOffset = static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->fYOffset, 9, 4, QOR_TRUE, "WBS_Y_OFFSET"));
    for (int k = 0; k < 2; k++) {
        pCI->aRoiLeft[k] = pMC->aRoiLeft[k];
        pCI->aRoiTop[k] = pMC->aRoiTop[k];
        pCI->aRoiRight[k] = regionEnd(pMC->aRoiLeft[k], pMC->aRoiWidth[k]);
        pCI->aRoiBottom[k] = regionEnd(pMC->aRoiTop[k], pMC->aRoiHeight[k]);
        const bool warn = pMC->ui8ActiveROI >= k + 2;
        if (warn && pMC->aRoiLeft[k] + pMC->aRoiWidth[k] == 0) {
            QOR_LOG_WARNING(kTag,
                            "WBS CI::aRoiRigh[%d] forced to 0 because (MC::aRoiLeft[%d] + MC::aRoiWidth[%d]) <= 0\n", k,
                            k, k);
        }
        if (warn && pMC->aRoiTop[k] + pMC->aRoiHeight[k] == 0) {
            QOR_LOG_WARNING(kTag,
                            "WBS CI::aRoiBottom[%d] forced to 0 because (MC::aRoiTop[%d] + MC::aRoiHeight[%d]) <= 0\n",
                            k, k, k);
        }
        pCI->aRMax[k] = pMC->aRMax[k];
        pCI->aGMax[k] = pMC->aGMax[k];
        pCI->aBMax[k] = pMC->aBMax[k];
        pCI->aYMax[k] = pMC->aYMax[k];
    }
    pCI->counters = pMC->counters;
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

QOR_RESULT MC_AWSConvert(MC_AWS *pMC, CI_MODULE_AWS *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_AWS);
    pCI->bEnable = pMC->bEnable;
    pCI->bDebugBitmap = pMC->bDebugBitmap;
    pCI->ui16Log2_R_Qeff = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fLog2_R_Qeff, 8, 5, QOR_TRUE, "AWS_LOG2_R_QEFF"));
    pCI->ui16Log2_B_Qeff = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fLog2_B_Qeff, 8, 5, QOR_TRUE, "AWS_LOG2_B_QEFF"));
    pCI->ui16RedDarkThresh = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fRedDarkThresh, 8, 8, QOR_FALSE, "AWS_THRESH"));
    pCI->ui16BlueDarkThresh =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fBlueDarkThresh, 8, 8, QOR_FALSE, "AWS_THRESH"));
    pCI->ui16GreenDarkThresh =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fGreenDarkThresh, 8, 8, QOR_FALSE, "AWS_THRESH"));
    pCI->ui16RedClipThresh = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fRedClipThresh, 8, 8, QOR_FALSE, "AWS_THRESH"));
    pCI->ui16BlueClipThresh =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fBlueClipThresh, 8, 8, QOR_FALSE, "AWS_THRESH"));
    pCI->ui16GreenClipThresh =
        static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fGreenClipThresh, 8, 8, QOR_FALSE, "AWS_THRESH"));
    pCI->ui16BbDist = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->fBbDist, 7, 5, QOR_FALSE, "AWS_BB_DIST"));
    pCI->ui16GridStartRow = static_cast<QOR_UINT16>(pMC->ui16GridStartRow / 2);
    pCI->ui16GridStartColumn = static_cast<QOR_UINT16>(pMC->ui16GridStartColumn / 2);
    pCI->ui16GridTileWidth = static_cast<QOR_UINT16>(pMC->ui16GridTileWidth / 2 - 1);
    pCI->ui16GridTileHeight = static_cast<QOR_UINT16>(pMC->ui16GridTileHeight / 2 - 1);
    for (int i = 0; i < 5; i++) {
        pCI->sCurveCoeffs.aCurveCoeffX[i] =
            static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->aCurveCoeffX[i], 5, 10, QOR_TRUE, "AWS_CURVE"));
        pCI->sCurveCoeffs.aCurveCoeffY[i] =
            static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->aCurveCoeffY[i], 5, 10, QOR_TRUE, "AWS_CURVE"));
        pCI->sCurveCoeffs.aCurveOffset[i] =
            static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->aCurveOffset[i], 5, 10, QOR_TRUE, "AWS_CURVE"));
        pCI->sCurveCoeffs.aCurveBoundary[i] =
            static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->aCurveBoundary[i], 5, 10, QOR_TRUE, "AWS_CURVE"));
    }
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

QOR_RESULT MC_HISConvert(MC_HIS *pMC, CI_MODULE_HIS *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_HIS);
    const QOR_INT32 off = MC_TruncInt(pMC->fInputOffset);
    const QOR_INT32 scale = MC_TruncInt(pMC->fInputScale);
    pCI->ui16InputOffset = static_cast<QOR_UINT16>(off < 0 ? 0 : off);
    pCI->ui16InputScale = static_cast<QOR_UINT16>(scale < 0 ? 0 : scale);
    pCI->ui16Left = pMC->ui16Left;
    pCI->ui16Top = pMC->ui16Top;
    pCI->ui16Width = pMC->ui16Width;
    pCI->ui16Height = pMC->ui16Height;
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

QOR_RESULT MC_FLDConvert(MC_FLD *pMC, CI_MODULE_FLD *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_FLD);
    const double L = pMC->ui16VTot * pMC->fFrameRate;
    double s50 = 12800.0 / L;
    double s60 = 15360.0 / L;
    // Limited to 0 ... 1.0; a zero line rate gives the upper limit.
    s50 = std::isnan(s50) ? 1.0 : std::fmin(std::fmax(s50, 0.0), 1.0);
    s60 = std::isnan(s60) ? 1.0 : std::fmin(std::fmax(s60, 0.0), 1.0);
    pCI->ui16FracStep50 = static_cast<QOR_UINT16>(QOR_Fix_Clip(s50, 1, 14, QOR_FALSE, "FLD_FRAC_STEP_50"));
    pCI->ui16FracStep60 = static_cast<QOR_UINT16>(QOR_Fix_Clip(s60, 1, 14, QOR_FALSE, "FLD_FRAC_STEP_60"));
    pCI->ui16VertTotal = pMC->ui16VTot;
    pCI->ui16CoefDiff = pMC->ui16CoefDiff;
    pCI->ui16NFThreshold = pMC->ui16NFThreshold;
    pCI->ui32SceneChange = pMC->ui32SceneChange;
    pCI->ui8RShift = pMC->ui8RShift;
    pCI->ui8MinPN = pMC->ui8MinPN;
    pCI->ui8PN = pMC->ui8PN;
    pCI->bReset = pMC->bReset;
    return QOR_RES_OK;
}

QOR_RESULT MC_ENSInit(MC_ENS *pENS) {
    memset(pENS, 0, sizeof(*pENS));
    pENS->updateNeeded = 1;
    pENS->ui32NLines = 8;
    return QOR_RES_OK;
}

QOR_RESULT MC_ENSConvert(MC_ENS *pMC, CI_MODULE_ENS *pCI) {
    if (!pMC->updateNeeded) {
        return QOR_RES_OK;
    }
    pMC->updateNeeded = 0;
    QOR_UINT32 n = pMC->ui32NLines;
    if (n < 8 || n > 1024) {
        const QOR_UINT32 limited = n < 8 ? 8 : 1024;
        QOR_LOG_WARNING(kTag, "nb of couples clipped from %d to %d (min=%d, max=%d)\n", static_cast<int>(n),
                        static_cast<int>(limited), 8, 1024);
        n = limited;
    }
    if (!isPowerOfTwo(n)) {
        // Refused before anything is written, so the record keeps its previous settings.
        QOR_LOG_ERROR(kTag, "nb of lines should be a power of 2 (%u given)\n", n);
        return QOR_RES_FAILED;
    }
    const int b = floorLog2(n);
    const QOR_UINT32 s = pMC->ui32KernelSubsampling;
    QOR_UINT8 subExp = 0;
    if (s >= 2) {
        if (!isPowerOfTwo(s)) {
            QOR_LOG_ERROR(kTag, "kernel subsampling should be a power of 2 (%u given)\n", s);
            return QOR_RES_FAILED;
        }
        subExp = static_cast<QOR_UINT8>(floorLog2(s));
    }
    pCI->ui8Log2NCouples = static_cast<QOR_UINT8>(b - 3);
    pCI->ui8SubExp = subExp;
    return QOR_RES_OK;
}
