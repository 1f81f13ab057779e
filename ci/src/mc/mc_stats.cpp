/*
 * Statistics of a frame from its save structure, the statistics configuration of the frame from the
 * register image the hardware applied to it, and the revert of that configuration into the MC records.
 */
#include "mc/mc_stats.h"

#include <cstddef>
#include <cstring>

#include "ci/ci_capture.h"
#include "mc/mc_fixedpoint.h"

namespace {

/** Little-endian words of the hardware's memory, whatever the host order. */
QOR_UINT32 rd32(const void *blob, size_t offset) {
    const unsigned char *p = static_cast<const unsigned char *>(blob) + offset;
    return static_cast<QOR_UINT32>(p[0]) | static_cast<QOR_UINT32>(p[1]) << 8 | static_cast<QOR_UINT32>(p[2]) << 16 |
           static_cast<QOR_UINT32>(p[3]) << 24;
}

QOR_UINT16 rd16(const void *blob, size_t offset) {
    const unsigned char *p = static_cast<const unsigned char *>(blob) + offset;
    return static_cast<QOR_UINT16>(p[0] | p[1] << 8);
}

QOR_BOOL8 flag(QOR_UINT32 eConfig, QOR_UINT32 bit) { return (eConfig & bit) != 0 ? QOR_TRUE : QOR_FALSE; }

/** What the exposure, focus and histogram statistics revert alike: their two enables and their grid. */
template <class CI, class MC>
void revertGrid(const CI *pCI, QOR_UINT32 eConfig, QOR_UINT32 globalBit, QOR_UINT32 regionBit, MC *pMC) {
    pMC->bGlobalEnable = flag(eConfig, globalBit);
    pMC->bRegionEnable = flag(eConfig, regionBit);
    pMC->ui16Left = pCI->ui16Left;
    pMC->ui16Top = pCI->ui16Top;
    pMC->ui16Width = pCI->ui16Width;
    pMC->ui16Height = pCI->ui16Height;
}

/** 2^e as a 32-bit count; exponents the register cannot hold saturate at 2^31. */
QOR_UINT32 powerOfTwo(unsigned e) { return e > 31 ? 0x80000000u : (1u << e); }

/* ---- statistics configuration registers of the load structure ---- */

struct RegisterField {
    QOR_UINT16 word; /* byte offset of the 32-bit word */
    QOR_UINT8 lo;
    QOR_UINT8 hi;
    QOR_UINT16 dest; /* byte offset in CI_PIPELINE_STATS */
    QOR_UINT8 bytes; /* 1, 2 or 4 */
};

#define S(member) static_cast<QOR_UINT16>(offsetof(CI_PIPELINE_STATS, member))
const RegisterField kStatsRegisters[] = {
    {0, 0, 15, S(sExposureStats.ui16Left), 2},
    {0, 16, 31, S(sExposureStats.ui16Top), 2},
    {4, 0, 13, S(sExposureStats.ui16Width), 2},
    {4, 16, 29, S(sExposureStats.ui16Height), 2},
    {8, 0, 11, S(sExposureStats.ui16PixelMax), 2},
    {228, 0, 15, S(sFocusStats.ui16Left), 2},
    {228, 16, 31, S(sFocusStats.ui16Top), 2},
    {232, 0, 13, S(sFocusStats.ui16Width), 2},
    {232, 16, 29, S(sFocusStats.ui16Height), 2},
    {236, 1, 15, S(sFocusStats.ui16ROILeft), 2},
    {236, 16, 30, S(sFocusStats.ui16ROITop), 2},
    {240, 0, 14, S(sFocusStats.ui16ROIRight), 2},
    {240, 16, 30, S(sFocusStats.ui16ROIBottom), 2},
    {460, 0, 14, S(sWhiteBalanceStats.aRoiLeft[0]), 2},
    {460, 16, 30, S(sWhiteBalanceStats.aRoiTop[0]), 2},
    {464, 0, 14, S(sWhiteBalanceStats.aRoiLeft[1]), 2},
    {464, 16, 30, S(sWhiteBalanceStats.aRoiTop[1]), 2},
    {468, 0, 14, S(sWhiteBalanceStats.aRoiRight[0]), 2},
    {468, 16, 30, S(sWhiteBalanceStats.aRoiBottom[0]), 2},
    {472, 0, 14, S(sWhiteBalanceStats.aRoiRight[1]), 2},
    {472, 16, 30, S(sWhiteBalanceStats.aRoiBottom[1]), 2},
    {476, 0, 0, S(sWhiteBalanceStats.ui8ActiveROI), 1},
    {476, 4, 16, S(sWhiteBalanceStats.ui16RGBOffset), 2},
    {476, 18, 30, S(sWhiteBalanceStats.ui16YOffset), 2},
    {480, 0, 11, S(sWhiteBalanceStats.aRMax[0]), 2},
    {480, 12, 23, S(sWhiteBalanceStats.aGMax[0]), 2},
    {484, 0, 11, S(sWhiteBalanceStats.aRMax[1]), 2},
    {484, 12, 23, S(sWhiteBalanceStats.aGMax[1]), 2},
    {488, 0, 11, S(sWhiteBalanceStats.aBMax[0]), 2},
    {488, 12, 23, S(sWhiteBalanceStats.aYMax[0]), 2},
    {492, 0, 11, S(sWhiteBalanceStats.aBMax[1]), 2},
    {492, 12, 23, S(sWhiteBalanceStats.aYMax[1]), 2},
    {520, 0, 9, S(sHistStats.ui16InputOffset), 2},
    {520, 16, 31, S(sHistStats.ui16InputScale), 2},
    {524, 0, 13, S(sHistStats.ui16Left), 2},
    {524, 16, 29, S(sHistStats.ui16Top), 2},
    {528, 0, 13, S(sHistStats.ui16Width), 2},
    {528, 16, 29, S(sHistStats.ui16Height), 2},
    {904, 0, 14, S(sFlickerStats.ui16FracStep50), 2},
    {904, 16, 30, S(sFlickerStats.ui16FracStep60), 2},
    {908, 0, 14, S(sFlickerStats.ui16CoefDiff), 2},
    {908, 16, 30, S(sFlickerStats.ui16NFThreshold), 2},
    {912, 0, 19, S(sFlickerStats.ui32SceneChange), 4},
    {916, 0, 5, S(sFlickerStats.ui8RShift), 1},
    {916, 6, 11, S(sFlickerStats.ui8MinPN), 1},
    {916, 12, 17, S(sFlickerStats.ui8PN), 1},
    {920, 0, 0, S(sFlickerStats.bReset), 1},
    {1124, 0, 2, S(sEncStats.ui8Log2NCouples), 1},
    {1128, 0, 2, S(sEncStats.ui8SubExp), 1},
};
#undef S

/** The register image must reach the last word decoded. */
constexpr size_t kRegisterImageNeeded = 1132;

} // namespace

extern "C" {

/* ---------------------------------------------------------------- extraction */

QOR_RESULT MC_EXSExtract(const void *blob, MC_STATS_EXS *pStats) {
    for (int ch = 0; ch < 4; ch++)
        pStats->globalClipped[ch] = rd32(blob, 4 * ch);
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            for (int ch = 0; ch < 4; ch++)
                pStats->regionClipped[r][c][ch] = rd16(blob, 64 + 64 * r + 8 * c + 2 * ch);
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_FOSExtract(const void *blob, MC_STATS_FOS *pStats) {
    pStats->ROISharpness = rd32(blob, 512);
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++)
            pStats->gridSharpness[r][c] = rd32(blob, 576 + 64 * r + 4 * c);
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_HISExtract(const void *blob, MC_STATS_HIS *pStats) {
    for (int b = 0; b < 64; b++)
        pStats->globalHistogram[b] = rd32(blob, 1152 + 4 * b);
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            for (int b = 0; b < 16; b++) {
                pStats->regionHistograms[r][c][b] = rd32(blob, 1408 + 64 * (7 * r + c) + 4 * b);
            }
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_WBSExtract(const void *blob, MC_STATS_WBS *pStats) {
    for (int k = 0; k < 2; k++) {
        const size_t base = 64 * k;
        for (int ch = 0; ch < 3; ch++) {
            pStats->whitePatch[k].channelAccumulated[ch] = rd32(blob, 1024 + base + 8 * ch);
            pStats->whitePatch[k].channelCount[ch] = rd32(blob, 1028 + base + 8 * ch);
            pStats->averageColor[k].channelAccumulated[ch] = rd32(blob, 1048 + base + 4 * ch);
            pStats->highLuminance[k].channelAccumulated[ch] = rd32(blob, 1060 + base + 4 * ch);
        }
        pStats->highLuminance[k].lumaCount = rd32(blob, 1072 + base);
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_AWSExtract(const void *blob, MC_STATS_AWS *pStats) {
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            const size_t at = 4544 + 128 * r + 16 * c;
            MC_TILE_STATS_AWS &t = pStats->tileStats[r][c];
            // U27.5 words: a 32-bit code never reaches the sign range of QOR_INT32 after the cast back, so
            // the revert is done on the unsigned value directly.
            t.fCollectedRed = static_cast<double>(rd32(blob, at)) / 32.0;
            t.fCollectedBlue = static_cast<double>(rd32(blob, at + 4)) / 32.0;
            t.fCollectedGreen = static_cast<double>(rd32(blob, at + 8)) / 32.0;
            t.numCFAs = rd32(blob, at + 12) & 0x3FFFFFu;
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_FLDExtract(const void *blob, MC_STATS_FLD *pStats) {
    pStats->flickerStatus = static_cast<const unsigned char *>(blob)[5456] & 7u;
    return QOR_RES_OK;
}

QOR_RESULT MC_TimestampExtract(const void *blob, MC_STATS_TIMESTAMP *pStats) {
    pStats->ui32LinkedListUpdated = 0;
    pStats->ui32StartFrameIn = rd32(blob, 5476);
    pStats->ui32EndFrameIn = rd32(blob, 5480);
    pStats->ui32StartFrameOut = rd32(blob, 5484);
    pStats->ui32EndFrameEncOut = rd32(blob, 5488);
    pStats->ui32EndFrameDispOut = rd32(blob, 5492);
    pStats->ui32InterruptServiced = 0;
    pStats->ui64LinkedListSysTime = 0;
    pStats->ui64InterruptSysTime = 0;
    pStats->ui64InterruptTimeOfDay = 0;
    return QOR_RES_OK;
}

QOR_RESULT MC_DPFExtract(const void *blob, MC_STATS_DPF *pStats) {
    pStats->ui32FixedPixels = rd32(blob, 5444);
    pStats->ui32MapModifications = rd32(blob, 5448);
    pStats->ui32DroppedMapModifications = rd32(blob, 5452);
    pStats->ui32NOutCorrection = pStats->ui32MapModifications - pStats->ui32DroppedMapModifications;
    return QOR_RES_OK;
}

/* ---------------------------------------------------------------- reverts */

QOR_RESULT MC_EXSRevert(const CI_MODULE_EXS *pCI, QOR_UINT32 eConfig, MC_EXS *pMC) {
    revertGrid(pCI, eConfig, CI_SAVE_EXS_GLOBAL, CI_SAVE_EXS_REGION, pMC);
    pMC->fPixelMax = pCI->ui16PixelMax;
    return QOR_RES_OK;
}

QOR_RESULT MC_FOSRevert(const CI_MODULE_FOS *pCI, QOR_UINT32 eConfig, MC_FOS *pMC) {
    revertGrid(pCI, eConfig, CI_SAVE_FOS_GRID, CI_SAVE_FOS_ROI, pMC);
    pMC->ui16ROILeft = pCI->ui16ROILeft;
    pMC->ui16ROITop = pCI->ui16ROITop;
    pMC->ui16ROIWidth = static_cast<QOR_UINT16>(pCI->ui16ROIRight - pCI->ui16ROILeft + 1);
    pMC->ui16ROIHeight = static_cast<QOR_UINT16>(pCI->ui16ROIBottom - pCI->ui16ROITop + 1);
    return QOR_RES_OK;
}

QOR_RESULT MC_HISRevert(const CI_MODULE_HIS *pCI, QOR_UINT32 eConfig, MC_HIS *pMC) {
    revertGrid(pCI, eConfig, CI_SAVE_HIST_GLOBAL, CI_SAVE_HIST_REGION, pMC);
    pMC->fInputOffset = pCI->ui16InputOffset;
    pMC->fInputScale = pCI->ui16InputScale;
    return QOR_RES_OK;
}

QOR_RESULT MC_WBSRevert(const CI_MODULE_WBS *pCI, QOR_UINT32 eConfig, MC_WBS *pMC) {
    pMC->ui8ActiveROI = flag(eConfig, CI_SAVE_WHITEBALANCE) ? static_cast<QOR_UINT8>(pCI->ui8ActiveROI + 1) : 0;
    pMC->fRGBOffset = QOR_Fix_Revert(pCI->ui16RGBOffset, 9, 4, QOR_TRUE, "WBS_RGB_OFFSET");
    pMC->fYOffset = QOR_Fix_Revert(pCI->ui16YOffset, 9, 4, QOR_TRUE, "WBS_Y_OFFSET");
    for (int k = 0; k < 2; k++) {
        pMC->aRoiLeft[k] = pCI->aRoiLeft[k];
        pMC->aRoiTop[k] = pCI->aRoiTop[k];
        pMC->aRoiWidth[k] =
            pCI->aRoiRight[k] != 0 ? static_cast<QOR_UINT16>(pCI->aRoiRight[k] - pCI->aRoiLeft[k] + 1) : 0;
        pMC->aRoiHeight[k] =
            pCI->aRoiBottom[k] != 0 ? static_cast<QOR_UINT16>(pCI->aRoiBottom[k] - pCI->aRoiTop[k] + 1) : 0;
        pMC->aRMax[k] = pCI->aRMax[k];
        pMC->aGMax[k] = pCI->aGMax[k];
        pMC->aBMax[k] = pCI->aBMax[k];
        pMC->aYMax[k] = pCI->aYMax[k];
    }
    pMC->counters = pCI->counters;
    return QOR_RES_OK;
}

QOR_RESULT MC_AWSRevert(const CI_MODULE_AWS *pCI, QOR_UINT32 eConfig, MC_AWS *pMC) {
    pMC->bEnable = flag(eConfig, CI_SAVE_WHITEBALANCE_EXT);
    pMC->bDebugBitmap = pCI->bDebugBitmap;
    // The efficiencies are stored as 16-bit two's complement: read them as the signed values they are.
    pMC->fLog2_R_Qeff = QOR_Fix_Revert(static_cast<QOR_INT16>(pCI->ui16Log2_R_Qeff), 8, 5, QOR_TRUE, "AWS_LOG2_R_QEFF");
    pMC->fLog2_B_Qeff = QOR_Fix_Revert(static_cast<QOR_INT16>(pCI->ui16Log2_B_Qeff), 8, 5, QOR_TRUE, "AWS_LOG2_B_QEFF");
    pMC->fRedDarkThresh = QOR_Fix_Revert(pCI->ui16RedDarkThresh, 8, 8, QOR_FALSE, "AWS_THRESH");
    pMC->fBlueDarkThresh = QOR_Fix_Revert(pCI->ui16BlueDarkThresh, 8, 8, QOR_FALSE, "AWS_THRESH");
    pMC->fGreenDarkThresh = QOR_Fix_Revert(pCI->ui16GreenDarkThresh, 8, 8, QOR_FALSE, "AWS_THRESH");
    pMC->fRedClipThresh = QOR_Fix_Revert(pCI->ui16RedClipThresh, 8, 8, QOR_FALSE, "AWS_THRESH");
    pMC->fBlueClipThresh = QOR_Fix_Revert(pCI->ui16BlueClipThresh, 8, 8, QOR_FALSE, "AWS_THRESH");
    pMC->fGreenClipThresh = QOR_Fix_Revert(pCI->ui16GreenClipThresh, 8, 8, QOR_FALSE, "AWS_THRESH");
    pMC->fBbDist = QOR_Fix_Revert(pCI->ui16BbDist, 7, 5, QOR_FALSE, "AWS_BB_DIST");
    pMC->ui16GridStartRow = static_cast<QOR_UINT16>(2 * pCI->ui16GridStartRow);
    pMC->ui16GridStartColumn = static_cast<QOR_UINT16>(2 * pCI->ui16GridStartColumn);
    pMC->ui16GridTileWidth = static_cast<QOR_UINT16>(2 * (pCI->ui16GridTileWidth + 1));
    pMC->ui16GridTileHeight = static_cast<QOR_UINT16>(2 * (pCI->ui16GridTileHeight + 1));
    const CI_AWS_CURVE_COEFFS &cc = pCI->sCurveCoeffs;
    for (int i = 0; i < 5; i++) {
        pMC->aCurveCoeffX[i] = QOR_Fix_Revert(cc.aCurveCoeffX[i], 5, 10, QOR_TRUE, "AWS_CURVE");
        pMC->aCurveCoeffY[i] = QOR_Fix_Revert(cc.aCurveCoeffY[i], 5, 10, QOR_TRUE, "AWS_CURVE");
        pMC->aCurveOffset[i] = QOR_Fix_Revert(cc.aCurveOffset[i], 5, 10, QOR_TRUE, "AWS_CURVE");
        pMC->aCurveBoundary[i] = QOR_Fix_Revert(cc.aCurveBoundary[i], 5, 10, QOR_TRUE, "AWS_CURVE");
    }
    return QOR_RES_OK;
}

QOR_RESULT MC_FLDRevert(const CI_MODULE_FLD *pCI, QOR_UINT32 eConfig, MC_FLD *pMC) {
    pMC->bEnable = flag(eConfig, CI_SAVE_FLICKER);
    pMC->ui16VTot = pCI->ui16VertTotal;
    const double divisor = pMC->ui16VTot * QOR_Fix_Revert(pCI->ui16FracStep50, 1, 14, QOR_FALSE, "FLD_FRAC_STEP_50");
    // The frame-line count travels outside the registers, so a read-back frame often has none: report
    // an unknown rate as 0 rather than an infinite one.
    pMC->fFrameRate = divisor > 0.0 ? 12800.0 / divisor : 0.0;
    pMC->ui16CoefDiff = pCI->ui16CoefDiff;
    pMC->ui16NFThreshold = pCI->ui16NFThreshold;
    pMC->ui32SceneChange = pCI->ui32SceneChange;
    pMC->ui8RShift = pCI->ui8RShift;
    pMC->ui8MinPN = pCI->ui8MinPN;
    pMC->ui8PN = pCI->ui8PN;
    pMC->bReset = pCI->bReset;
    return QOR_RES_OK;
}

QOR_RESULT MC_ENSRevert(const CI_MODULE_ENS *pCI, QOR_UINT32 eConfig, MC_ENS *pMC) {
    pMC->bEnable = flag(eConfig, CI_SAVE_ENS);
    pMC->ui32NLines = powerOfTwo(pCI->ui8Log2NCouples + 3u);
    pMC->ui32KernelSubsampling = powerOfTwo(pCI->ui8SubExp);
    return QOR_RES_OK;
}

QOR_RESULT MC_DPFRevert(const CI_MODULE_DPF *pCI, QOR_UINT32 /*eConfig*/, MC_DPF *pMC) {
    memset(pMC, 0, sizeof(*pMC));
    pMC->eDPFEnable = pCI->eDPFEnable;
    for (int i = 0; i < 2; i++) {
        pMC->aSkip[i] = pCI->aSkip[i];
        pMC->aOffset[i] = pCI->aOffset[i];
    }
    pMC->ui8Threshold = pCI->ui8Threshold;
    pMC->ui32NDefect = pCI->sInput.ui32NDefect;
    pMC->fWeight = QOR_Fix_Revert(pCI->ui8Weight, 6, 0, QOR_FALSE, "DPF_WEIGHT");
    return QOR_RES_OK;
}

/* ---------------------------------------------------------------- register image */

QOR_RESULT INT_CI_Revert_HW2(const CI_SHOT *pShot, CI_PIPELINE_STATS *pStats) {
    memset(&pStats->sExposureStats, 0, sizeof(pStats->sExposureStats));
    memset(&pStats->sFocusStats, 0, sizeof(pStats->sFocusStats));
    memset(&pStats->sWhiteBalanceStats, 0, sizeof(pStats->sWhiteBalanceStats));
    memset(&pStats->sHistStats, 0, sizeof(pStats->sHistStats));
    memset(&pStats->sFlickerStats, 0, sizeof(pStats->sFlickerStats));
    memset(&pStats->sEncStats, 0, sizeof(pStats->sEncStats));
    // The image is the load structure the hardware applied to the shot's frame (its load area), never the
    // statistics area, whose bytes at these offsets are counters.
    if (pShot->pLoadStruct == nullptr || pShot->loadSize < kRegisterImageNeeded) {
        return QOR_RES_FAILED;
    }
    char *base = reinterpret_cast<char *>(pStats);
    for (const RegisterField &f : kStatsRegisters) {
        const unsigned width = f.hi - f.lo + 1u;
        const QOR_UINT32 mask = width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1u);
        const QOR_UINT32 v = (rd32(pShot->pLoadStruct, f.word) >> f.lo) & mask;
        if (f.bytes == 1) {
            const QOR_UINT8 b = static_cast<QOR_UINT8>(v);
            memcpy(base + f.dest, &b, 1);
        } else if (f.bytes == 2) {
            const QOR_UINT16 h = static_cast<QOR_UINT16>(v);
            memcpy(base + f.dest, &h, 2);
        } else {
            memcpy(base + f.dest, &v, 4);
        }
    }
    return QOR_RES_OK;
}

} // extern "C"
