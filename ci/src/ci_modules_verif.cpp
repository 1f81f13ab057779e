/* Capability checks of the register-level blocks. */
#include "ci/ci_modules_verif.h"

#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "CI_API";

/* Width of each tap position, from the outside in. */
const int kTapBits[16] = {4, 4, 4, 4, 5, 5, 6, 7, 7, 6, 5, 5, 4, 4, 4, 4};

} // namespace

QOR_BOOL scalerVerifTaps(const QOR_INT8 *matrix, int nTaps) {
    if (matrix == nullptr || nTaps < 1 || nTaps > 16) {
        return QOR_FALSE;
    }
    const int first = (nTaps == 2) ? 6 : (16 - nTaps) / 2;
    for (int p = 0; p < 4; p++) {
        for (int k = 0; k < nTaps; k++) {
            const int a = kTapBits[first + k];
            const int v = matrix[p * nTaps + k];
            const int upper = (a == 7) ? (1 << 7) - 1 : (1 << a);
            if (v < -(1 << a) || v > upper) {
                return QOR_FALSE;
            }
        }
    }
    return QOR_TRUE;
}

QOR_RESULT CI_ModuleIIF_verif(const CI_MODULE_IIF *pIIF, QOR_UINT8 ui8Context, const CI_HWINFO *pHWInfo) {
    if (pIIF == nullptr || pHWInfo == nullptr || ui8Context >= 2) {
        QOR_LOG_ERROR(kTag, "pIIF or pHWInfo is NULL or the context is invalid\n");
        return QOR_RES_INVALID_PARAM;
    }
    const int width = pHWInfo->context_aMaxWidthSingle[ui8Context];
    if (pIIF->ui16BuffThreshold >= width) {
        QOR_LOG_ERROR(kTag, "The buffer threshold (%d) cannot be bigger than the maximum context width-1 (%d-1)\n",
                      pIIF->ui16BuffThreshold, width);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_ModuleLSH_verif(const CI_MODULE_LSH_MAT *pMatrix, const CI_MODULE_IIF *pIIF, const CI_HWINFO *pHWInfo) {
    if (pMatrix == nullptr) {
        QOR_LOG_ERROR(kTag, "pLensShading is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pIIF == nullptr || pHWInfo == nullptr) {
        QOR_LOG_ERROR(kTag, "pIIF or pHWInfo is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pMatrix->ui8BitsPerDiff < 4 || pMatrix->ui8BitsPerDiff > 10) {
        QOR_LOG_ERROR(kTag, "LSH %u bits per difference is not supported (supports [%u ; %u] bits)\n",
                      pMatrix->ui8BitsPerDiff, 4u, 10u);
        return QOR_RES_NOT_SUPPORTED;
    }
    // A tile of 2^log2 cells; the shift is bounded so that a corrupt value cannot overflow.
    const unsigned log2 = pMatrix->ui8TileSizeLog2 > 16 ? 16u : pMatrix->ui8TileSizeLog2;
    const unsigned long tile = 1ul << log2;
    if (pMatrix->ui16SkipX >= tile || pMatrix->ui16SkipY >= tile) {
        QOR_LOG_ERROR(kTag,
                      "LSH: skip values %u,%u is too big for the tile size %u (must at least hit 1 element per tile)\n",
                      pMatrix->ui16SkipX, pMatrix->ui16SkipY, static_cast<unsigned>(tile));
        return QOR_RES_NOT_SUPPORTED;
    }
    if (!(tile * pMatrix->ui16Width > pIIF->ui16ImagerSize[0] &&
          tile * pMatrix->ui16Height > pIIF->ui16ImagerSize[1])) {
        QOR_LOG_ERROR(
            kTag,
            "LSH: grid size %dx%d with tile %d CFA does not cover the image processed by the pipeline (%dx%d CFA)\n",
            pMatrix->ui16Width, pMatrix->ui16Height, static_cast<int>(tile), pIIF->ui16ImagerSize[0] + 1,
            pIIF->ui16ImagerSize[1] + 1);
        return QOR_RES_NOT_SUPPORTED;
    }
    if (tile < 16 && pHWInfo->ui32MaxLineStore < 2000) {
        QOR_LOG_ERROR(kTag,
                      "LSH: tile size of less than 16 is not available when max active width (i.e. max line store "
                      "size) is smaller than 2000 - max active width is %u\n",
                      pHWInfo->ui32MaxLineStore);
        return QOR_RES_NOT_SUPPORTED;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_ModuleScaler_verif(const CI_MODULE_SCALER *pScaler) {
    if (pScaler == nullptr) {
        QOR_LOG_ERROR(kTag, "pScaler is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pScaler->bBypassScaler == 1) {
        return QOR_RES_OK;
    }
    const bool disp = pScaler->bIsDisplay == 1;
    const int hLuma = disp ? 8 : 16;
    const int vLuma = disp ? 4 : 8;
    const int vChroma = disp ? 2 : 4;
    const int hChroma = disp ? 4 : 8;
    if (!disp && pScaler->bOutput422 != 1 && (pScaler->aOutputSize[1] % 2) == 0) {
        QOR_LOG_ERROR(kTag, "output height must be even\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    if (!(scalerVerifTaps(pScaler->VLuma, vLuma) && scalerVerifTaps(pScaler->HLuma, hLuma) &&
          scalerVerifTaps(pScaler->VChroma, vChroma) && scalerVerifTaps(pScaler->HChroma, hChroma))) {
        QOR_LOG_ERROR(kTag, "internal error while computing the scaler taps\n");
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_ModuleWBC_verif(const CI_MODULE_WBC *pWBC) {
    if (pWBC == nullptr) {
        QOR_LOG_ERROR(kTag, "pWBC is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pWBC->eRGBThresholdMode != WBC_SATURATION && pWBC->eRGBThresholdMode != WBC_THRESHOLD) {
        QOR_LOG_ERROR(kTag, "unsupported mode %d for WBC\n", static_cast<int>(pWBC->eRGBThresholdMode));
        return QOR_RES_NOT_SUPPORTED;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_ModuleTNM_verif(const CI_MODULE_TNM *pTNM) {
    if (pTNM == nullptr) {
        QOR_LOG_ERROR(kTag, "pTNM is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pTNM->bBypassTNM) {
        return QOR_RES_OK;
    }
    if (pTNM->localColWidth[0] < 40 || pTNM->localColWidth[0] > 16383) {
        QOR_LOG_ERROR(kTag, "number pixels per columns not met (val=%u min=%u max=%u)\n", pTNM->localColWidth[0], 40u,
                      16383u);
        return QOR_RES_FAILED;
    }
    // localColumns holds the column count minus one in a 5-bit register: at most 32 columns.
    if (pTNM->localColumns + 1u > 32u) {
        QOR_LOG_ERROR(kTag, "TNM configured to use %u columns but has only %u\n", pTNM->localColumns + 1u, 32u);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_ModuleDPF_verif(const CI_MODULE_DPF *pDPF, const CI_HWINFO *pHWInfo) {
    if (pDPF == nullptr || pHWInfo == nullptr) {
        QOR_LOG_ERROR(kTag, "pDPF or pHWInfo is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if ((pDPF->eDPFEnable & CI_DPF_WRITE_MAP_ENABLED) && !(pDPF->eDPFEnable & CI_DPF_DETECT_ENABLED)) {
        QOR_LOG_ERROR(kTag, "Enabling writing of the DPF map without enabling HW DPF is not valid\n");
        return QOR_RES_FAILED;
    }
    if (pDPF->sInput.ui32NDefect > 0 && pDPF->sInput.apDefectInput == nullptr) {
        QOR_LOG_ERROR(kTag, "number of defect > 0 while the defect map is not allocated!\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pDPF->sInput.apDefectInput != nullptr &&
        pDPF->sInput.ui16InternalBufSize > pHWInfo->config_ui32DPFInternalSize) {
        QOR_LOG_ERROR(kTag, "cannot ask for DPF read size %d - total HW read size is %d\n",
                      pDPF->sInput.ui16InternalBufSize, static_cast<int>(pHWInfo->config_ui32DPFInternalSize));
        return QOR_RES_NOT_SUPPORTED;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_StatsEXS_verif(const CI_MODULE_EXS *pEXS) {
    if (pEXS == nullptr) {
        QOR_LOG_ERROR(kTag, "pEXS is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (!(pEXS->ui16Width > 6 && pEXS->ui16Height > 6)) {
        QOR_LOG_ERROR(kTag, "EXS sizes are too small (width %u+1 vs min %u - height %u+1 vs min %u)\n", pEXS->ui16Width,
                      8u, pEXS->ui16Height, 8u);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_StatsFLD_verif(const CI_MODULE_FLD *pFLD) {
    if (pFLD == nullptr) {
        QOR_LOG_ERROR(kTag, "pFLD is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if ((pFLD->ui8MinPN % 4) != 0 || (pFLD->ui8PN % 4) != 0 || pFLD->ui8PN < pFLD->ui8MinPN) {
        QOR_LOG_ERROR(kTag, "ui8MinPN(%u) or ui8PN(%u) are not multiple of 4 - or ui8MinPN is bigger than ui8PN\n",
                      pFLD->ui8MinPN, pFLD->ui8PN);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_StatsWBS_verif(const CI_MODULE_WBS *pWBS) {
    if (pWBS == nullptr) {
        QOR_LOG_ERROR(kTag, "pWBS is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pWBS->ui8ActiveROI >= 2) {
        QOR_LOG_ERROR(kTag, "ui8ActiveROI(%u) is too big - max nb active ROI %u (nb ROI %u)\n", pWBS->ui8ActiveROI, 1u,
                      2u);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_StatsHIS_verif(const CI_MODULE_HIS *pHIS) {
    if (pHIS == nullptr) {
        QOR_LOG_ERROR(kTag, "pHIS is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (!(pHIS->ui16Width > 9 && pHIS->ui16Height > 7)) {
        QOR_LOG_ERROR(kTag, "invalid tile configuration in HIS\n");
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_StatsAWS_verif(const CI_MODULE_AWS *pAWS, const CI_MODULE_IIF *pIIF) {
    if (pAWS == nullptr || pIIF == nullptr) {
        QOR_LOG_ERROR(kTag, "pAWS or pIIF is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (!pAWS->bEnable) {
        return QOR_RES_OK;
    }
    const int tileW = (pAWS->ui16GridTileWidth + 1) * 2;
    const int tileH = (pAWS->ui16GridTileHeight + 1) * 2;
    const int startCol = pAWS->ui16GridStartColumn * 2;
    const int startRow = pAWS->ui16GridStartRow * 2;
    const int width = (pIIF->ui16ImagerSize[0] + 1) * 2;
    const int height = (pIIF->ui16ImagerSize[1] + 1) * 2;
    if (tileW < 16 || tileH < 16 || startCol > width || startRow > height) {
        QOR_LOG_ERROR(kTag, "Invalid tile configuration in AWS from %d,%d; tile size %dx%d px\n", startCol, startRow,
                      tileW, tileH);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_StatsENS_verif(const CI_MODULE_ENS * /*pENS*/) { return QOR_RES_OK; }
