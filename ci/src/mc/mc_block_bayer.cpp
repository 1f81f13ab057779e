/* The Bayer-domain blocks and the colour-correction matrix: defaults (Init) and conversion into register values. */
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mc/mc_fixedpoint.h"
#include "mc/mc_pipeline.h"
#include "mc_block_internal.h"
#include "norvacommon/userlog.h"

QOR_RESULT MC_IIFInit(MC_IIF *pIIF) {
    memset(pIIF, 0, sizeof(*pIIF));
    pIIF->updateNeeded = 1;
    pIIF->ui8Imager = 2;
    pIIF->eBayerFormat = MOSAIC_RGGB;
    return QOR_RES_OK;
}

QOR_RESULT MC_IIFConvert(const MC_IIF *pMC, CI_MODULE_IIF *pCI) {
    pCI->ui8Imager = pMC->ui8Imager;
    pCI->eBayerFormat = pMC->eBayerFormat;
    pCI->ui8BlackBorderOffset = pMC->ui8BlackBorderOffset;
    for (int i = 0; i < 2; i++) {
        pCI->ui16ImagerOffset[i] = pMC->ui16ImagerOffset[i];
        pCI->ui16ImagerDecimation[i] = pMC->ui16ImagerDecimation[i];
        pCI->ui16ImagerSize[i] = static_cast<QOR_UINT16>(pMC->ui16ImagerSize[i] - 1);
    }
    pCI->ui16BuffThreshold = static_cast<QOR_UINT16>(2 * pCI->ui16ImagerSize[0] - 1);
    return QOR_RES_OK;
}

QOR_RESULT MC_BLCInit(MC_BLC *pBLC, QOR_UINT8 ui8BitDepth) {
    memset(pBLC, 0, sizeof(*pBLC));
    pBLC->updateNeeded = 1;
    pBLC->ui16PixelMax = static_cast<double>((1u << ui8BitDepth) - 1u);
    return QOR_RES_OK;
}

QOR_RESULT MC_BLCConvert(MC_BLC *pMC, CI_MODULE_BLC *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_BLC);
    memset(pCI, 0, sizeof(*pCI));
    pCI->bBlackFrame = pMC->bBlackFrame;
    pCI->bRowAverage = pMC->bRowAverage;
    pCI->ui16PixelMax = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->ui16PixelMax, 6, 2, QOR_FALSE, "BLACK_PIXEL_MAX"));
    if (pMC->bRowAverage == 1) {
        if (pMC->fRowAverage != 0.0) {
            pCI->ui16RowReciprocal =
                static_cast<QOR_UINT16>(QOR_Fix_Clip(1.0 / pMC->fRowAverage, 1, 9, QOR_FALSE, "BLACK_ROW_RECIPROCAL"));
        }
    } else {
        for (int c = 0; c < 4; c++) {
            pCI->i8FixedOffset[c] = pMC->aFixedOffset[c];
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_RLTInit(MC_RLT *pRLT) {
    memset(pRLT, 0, sizeof(*pRLT));
    pRLT->updateNeeded = 1;
    pRLT->eMode = CI_RLT_DISABLED;
    return QOR_RES_OK;
}

QOR_RESULT MC_RLTConvert(MC_RLT *pMC, CI_MODULE_RLT *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_RLT);
    memset(pCI, 0, sizeof(*pCI));
    pCI->eMode = pMC->eMode;
    for (int c = 0; c < 4; c++) {
        for (int i = 0; i < 16; i++) {
            pCI->aPoints[c][i] = static_cast<QOR_UINT16>(QOR_clip(pMC->aPoints[c][i], 16, QOR_FALSE, "RLT_POINT"));
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_LSHInit(MC_LSH *pLSH) {
    memset(pLSH, 0, sizeof(*pLSH));
    pLSH->updateNeeded = 1;
    return QOR_RES_OK;
}

QOR_RESULT MC_LSHConvert(MC_LSH *pMC, CI_MODULE_LSH *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_LSH_GRP | CI_UPD_LSH_REG);
    for (int c = 0; c < 4; c++) {
        pCI->aGradientsX[c] =
            static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->aGradients[c][0], -1, 12, QOR_TRUE, "LSH_GRADIENT_X"));
        pCI->aGradientsY[c] =
            static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->aGradients[c][1], -1, 12, QOR_TRUE, "LSH_GRADIENT_Y"));
    }
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

QOR_RESULT MC_WBCConvert(MC_WBC *pMC, CI_MODULE_WBC *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_WBC);
    memset(pCI, 0, sizeof(*pCI));
    for (int c = 0; c < 4; c++) {
        pCI->aGain[c] = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->aGain[c], 6, 10, QOR_FALSE, "WHITE_BALANCE_GAIN_0"));
        pCI->aClip[c] = static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->aClip[c], 9, 4, QOR_FALSE, "WHITE_BALANCE_CLIP_0"));
    }
    pCI->eRGBThresholdMode = pMC->eRGBThresholdMode;
    for (int k = 0; k < 3; k++) {
        const QOR_INT32 v = MC_TruncInt(pMC->afRGBThreshold[k] * 511.0 - 1.0);
        pCI->aRGBThreshold[k] = static_cast<QOR_UINT16>(QOR_clip(v, 9, QOR_FALSE, "WBC_THRES"));
        pCI->aRGBGain[k] = static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->afRGBGain[k], 4, 4, QOR_FALSE, "WBC_GAIN"));
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_DNSInit(MC_DNS *pDNS) {
    memset(pDNS, 0, sizeof(*pDNS));
    pDNS->updateNeeded = 1;
    pDNS->fGreyscalePixelThreshold = 0.25;
    return QOR_RES_OK;
}

QOR_RESULT MC_DNSConvert(MC_DNS *pMC, CI_MODULE_DNS *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_DNS);
    pCI->bCombineChannels = pMC->bCombineChannels;
    for (int i = 0; i < 21; i++) {
        pCI->aPixThresLUT[i] =
            static_cast<QOR_UINT16>(QOR_Fix_Clip(pMC->aPixThresLUT[i], 8, 5, QOR_FALSE, "PIX_THRESH_LUT"));
    }
    pCI->i8Log2PixThresh = static_cast<QOR_INT8>(
        QOR_Fix_Clip(std::log2(pMC->fGreyscalePixelThreshold), 3, 3, QOR_TRUE, "LOG2_GREYSC_PIXTHRESH_MULT"));
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

QOR_RESULT MC_DPFConvert(MC_DPF *pMC, const MC_IIF *pIIF, CI_MODULE_DPF *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_DPF);
    if (pCI->sInput.apDefectInput != nullptr) {
        free(pCI->sInput.apDefectInput);
        *pMask |= CI_UPD_DPF_INPUT;
    }
    memset(pCI, 0, sizeof(*pCI));
    pCI->eDPFEnable = pMC->eDPFEnable;

    if (pMC->apDefectInput != nullptr) {
        if (pMC->ui32NDefect == 0) {
            // A fixed diagnostic on standard output, not a log line: callers read it there.
            printf("%s: a defect map is given without any defect\n", __func__);
            return QOR_RES_INVALID_PARAM;
        }
        const size_t n = static_cast<size_t>(pMC->ui32NDefect) * 2u;
        QOR_UINT16 *copy = static_cast<QOR_UINT16 *>(calloc(n, sizeof(QOR_UINT16)));
        if (copy == nullptr) {
            return QOR_RES_NO_MEMORY;
        }
        memcpy(copy, pMC->apDefectInput, n * sizeof(QOR_UINT16));
        pCI->sInput.apDefectInput = copy;
        pCI->sInput.ui32NDefect = pMC->ui32NDefect;

        if (pMC->ui16NbLines != 0) {
            const QOR_UINT32 h = 2u * pIIF->ui16ImagerSize[1];
            const QOR_UINT32 nWindows = h / pMC->ui16NbLines + 1;
            QOR_UINT32 maxCount = 0;
            QOR_UINT32 *counts = static_cast<QOR_UINT32 *>(calloc(nWindows, sizeof(QOR_UINT32)));
            if (counts == nullptr) {
                return QOR_RES_NO_MEMORY;
            }
            for (QOR_UINT32 i = 0; i < pMC->ui32NDefect; i++) {
                const QOR_UINT32 y = copy[2 * i + 1];
                const QOR_UINT32 w = y / pMC->ui16NbLines;
                if (w >= nWindows) {
                    QOR_LOG_ERROR(
                        kTag,
                        "The given DPF map has more lines than the IIF is setup for! Found y=%d while IIF_height=%d\n",
                        static_cast<int>(y), static_cast<int>(h));
                    free(counts);
                    return QOR_RES_NOT_SUPPORTED;
                }
                if (++counts[w] > maxCount) {
                    maxCount = counts[w];
                }
            }
            free(counts);
            const QOR_UINT32 bufSize = 4u * maxCount + 4u;
            pCI->sInput.ui16InternalBufSize = static_cast<QOR_UINT16>(bufSize > 0xFFFFu ? 0xFFFFu : bufSize);
        }
    }
    pCI->aSkip[0] = pMC->aSkip[0];
    pCI->aSkip[1] = pMC->aSkip[1];
    pCI->aOffset[0] = pMC->aOffset[0];
    pCI->aOffset[1] = pMC->aOffset[1];
    pCI->ui8Threshold = pMC->ui8Threshold;
    pCI->ui8Weight = static_cast<QOR_UINT8>(QOR_Fix_Clip(pMC->fWeight, 6, 0, QOR_FALSE, "DPF_WEIGHT"));
    pCI->ui8PositiveThreshold = 0;
    pCI->ui8NegativeThreshold = 0;
    return QOR_RES_OK;
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
        // A fixed diagnostic on standard error, not a log line: callers read it there.
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

QOR_RESULT MC_LCAConvert(MC_LCA *pMC, CI_MODULE_LCA *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_LCA);
    for (int i = 0; i < 2; i++) {
        pCI->aOffsetRed[i] = pMC->aOffsetRed[i];
        pCI->aOffsetBlue[i] = pMC->aOffsetBlue[i];
        // The shift is signed in the block (a small imager gives -1, held as 255) but its register field is
        // 2 bits unsigned: clip into 0..3 rather than let the writer wrap it.
        const int shift = static_cast<QOR_INT8>(pMC->aShift[i]);
        pCI->aShift[i] = static_cast<QOR_UINT8>(shift < 0 ? 0 : (shift > 3 ? 3 : shift));
        pCI->aDec[i] = pMC->aDec[i];
    }
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 2; j++) {
            pCI->aCoeffRed[i][j] =
                static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->aCoeffRed[i][j], 5, 7, QOR_TRUE, "LAT_CA_COEFF_RED"));
            pCI->aCoeffBlue[i][j] =
                static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->aCoeffBlue[i][j], 5, 7, QOR_TRUE, "LAT_CA_COEFF_BLUE"));
        }
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

QOR_RESULT MC_CCMConvert(MC_CCM *pMC, CI_MODULE_CCM *pCI, int *pMask) {
    MC_BEGIN_CONVERT(pMC, pMask, CI_UPD_CCM);
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 4; j++) {
            pCI->aCoeff[i][j] = static_cast<QOR_INT16>(QOR_Fix_Clip(pMC->aCoeff[i][j], 3, 9, QOR_TRUE, "CC_COEFF"));
        }
        // The register keeps 12 bits: an offset outside -2048..2047 would change sign there, so
        // it is limited here instead.
        const QOR_INT32 v = MC_TruncInt(pMC->aOffset[i]);
        pCI->aOffset[i] = static_cast<QOR_INT16>(QOR_clip(v, 12, QOR_TRUE, "CC_OFFSET"));
    }
    return QOR_RES_OK;
}
