/* A whole MC pipeline: its defaults, and its conversion into the register-level pipeline in the hardware order. */
#include <cstring>

#include "mc/mc_pipeline.h"
#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "MC_PIPELINE";

/** Output formats of the pipeline; fills the config and the 4:2:2 decision. */
QOR_RESULT convertOutputs(MC_PIPELINE *p, CI_PIPELINE *ci, QOR_BOOL8 *pOutput422) {
    CI_PIPELINE_CONFIG &cfg = ci->config;
    const int W = p->sIIF.ui16ImagerSize[0];
    const int H = p->sIIF.ui16ImagerSize[1];
    QOR_RESULT ret;

    memset(&cfg.eEncType, 0, sizeof(cfg.eEncType));
    ci->sImagerInterface.ui16ScalerBottomBorder = 0;
    const bool hasEnc = p->eEncOutput != PXL_NONE;
    if (hasEnc) {
        ret = PixelTransformYUV(&cfg.eEncType, p->eEncOutput);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "unexpected YUV format given\n");
            return ret;
        }
        cfg.ui16MaxEncOutWidth = static_cast<QOR_UINT16>(2 * W);
        cfg.ui16MaxEncOutHeight = static_cast<QOR_UINT16>(2 * H);
        *pOutput422 = cfg.eEncType.ui8VSubsampling == 1 ? 1 : 0;
        ci->sImagerInterface.ui16ScalerBottomBorder = 4;
    } else {
        cfg.ui16MaxEncOutWidth = 0;
        cfg.ui16MaxEncOutHeight = 0;
        *pOutput422 = 1;
        if (p->sENS.bEnable) {
            ci->sImagerInterface.ui16ScalerBottomBorder = 4;
        }
    }

    memset(&cfg.eDispType, 0, sizeof(cfg.eDispType));
    cfg.eDataExtraction = CI_INOUT_NONE;
    if (p->eDispOutput != PXL_NONE) {
        cfg.ui16MaxDispOutWidth = static_cast<QOR_UINT16>(2 * W);
        cfg.ui16MaxDispOutHeight = static_cast<QOR_UINT16>(2 * H);
        if (p->eDEPoint == CI_INOUT_NONE) {
            ret = PixelTransformDisplay(&cfg.eDispType, p->eDispOutput);
            if (ret != QOR_RES_OK) {
                QOR_LOG_ERROR(kTag, "unexpected RGB format given\n");
                return ret;
            }
            ci->sImagerInterface.ui16ScalerBottomBorder = (hasEnc || p->sENS.bEnable) ? 4 : 2;
        } else {
            ret = PixelTransformBayer(&cfg.eDispType, p->eDispOutput, p->sIIF.eBayerFormat);
            if (ret != QOR_RES_OK) {
                QOR_LOG_ERROR(kTag, "unexpected Bayer format given\n");
                return ret;
            }
            cfg.eDataExtraction = p->eDEPoint;
        }
    } else {
        cfg.ui16MaxDispOutWidth = 0;
        cfg.ui16MaxDispOutHeight = 0;
    }

    memset(&cfg.eHDRExtType, 0, sizeof(cfg.eHDRExtType));
    if (p->eHDRExtOutput != PXL_NONE) {
        ret = PixelTransformRGB(&cfg.eHDRExtType, p->eHDRExtOutput);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "unexpected RGB format given for HDR extraction\n");
            return ret;
        }
    }
    memset(&cfg.eHDRInsType, 0, sizeof(cfg.eHDRInsType));
    if (p->eHDRInsertion != PXL_NONE) {
        ret = PixelTransformRGB(&cfg.eHDRInsType, p->eHDRInsertion);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "unexpected RGB format given for HDR insertion\n");
            return ret;
        }
    }
    memset(&cfg.eRaw2DExtraction, 0, sizeof(cfg.eRaw2DExtraction));
    if (p->eRaw2DExtOutput != PXL_NONE) {
        ret = PixelTransformBayer(&cfg.eRaw2DExtraction, p->eRaw2DExtOutput, p->sIIF.eBayerFormat);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "unexpected Bayer format given to Raw 2D\n");
            return ret;
        }
        if (cfg.eRaw2DExtraction.ePackedStart != PACKED_MSB) {
            QOR_LOG_ERROR(kTag, "format is expected to be TIFF for Raw2D\n");
            return QOR_RES_NOT_SUPPORTED;
        }
    }
    return QOR_RES_OK;
}

} // namespace

QOR_RESULT MC_PipelineInit(MC_PIPELINE *p, const CI_HWINFO *pHWInfo) {
    if (p == nullptr || pHWInfo == nullptr) {
        QOR_LOG_ERROR(kTag, "pMCPipeline or pHWInfo is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    p->pHWInfo = pHWInfo;
    if (p->sIIF.ui16ImagerSize[0] == 0 || p->sIIF.ui16ImagerSize[1] == 0) {
        QOR_LOG_WARNING(kTag, "IIF sizes should be configured before running %s\n", __func__);
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

QOR_RESULT MC_PipelineConvert(MC_PIPELINE *p, CI_PIPELINE *ci, int *eUpdateMask) {
    if (p == nullptr || ci == nullptr || p->pHWInfo == nullptr || eUpdateMask == nullptr) {
        return QOR_RES_INVALID_PARAM;
    }
    // Black level and white balance are converted from copies (HDR neutralises them), so
    // their flags stay set and they are sent with every conversion.
    MC_BLC blc = p->sBLC;
    MC_WBC wbc = p->sWBC;

    MC_IIFConvert(&p->sIIF, &ci->sImagerInterface);
    QOR_BOOL8 output422 = 1;
    QOR_RESULT ret = convertOutputs(p, ci, &output422);
    if (ret != QOR_RES_OK) {
        return ret;
    }

    int mask = 0;
    *eUpdateMask = 0;
    int failed = 0;
    const bool hdr = p->sHDR.eHDRMode != HDR_NONE;
    if (hdr) {
        memset(blc.aFixedOffset, 0, sizeof(blc.aFixedOffset));
    }
    failed |= MC_BLCConvert(&blc, &ci->sBlackCorrection, &mask);
    failed |= MC_RLTConvert(&p->sRLT, &ci->sRawLUT, &mask);
    if (hdr) {
        for (double &g : wbc.aGain) {
            g = 1.0;
        }
    }
    failed |= MC_WBCConvert(&wbc, &ci->sWhiteBalance, &mask);
    failed |= MC_LSHConvert(&p->sLSH, &ci->sDeshading, &mask);
    failed |= MC_DNSConvert(&p->sDNS, &ci->sDenoiser, &mask);
    failed |= MC_DPFConvert(&p->sDPF, &p->sIIF, &ci->sDefectivePixels, &mask);
    ci->config.ui32DPFWriteMapSize = p->sDPF.ui32OutputMapSize;
    failed |= MC_LCAConvert(&p->sLCA, &ci->sChromaAberration, &mask);
    failed |= MC_CCMConvert(&p->sCCM, &ci->sColourCorrection, &mask);
    failed |= MC_MGMConvert(&p->sMGM, &ci->sMainGamutMapper, &mask);
    failed |= MC_GMAConvert(&p->sGMA, &ci->sGammaCorrection, &mask);
    failed |= MC_R2YConvert(&p->sR2Y, &ci->sRGBToYCC, &mask);
    failed |= MC_MIEConvert(&p->sMIE, &ci->sImageEnhancer, p->pHWInfo, &mask);
    failed |= MC_TNMConvert(&p->sTNM, &p->sIIF, p->pHWInfo->config_ui8Parallelism, &ci->sToneMapping, &mask);
    failed |= MC_SHAConvert(&p->sSHA, &ci->sSharpening, p->pHWInfo, &mask);
    failed |= MC_ESCConvert(&p->sESC, &ci->sEncoderScaler, output422, &mask);
    failed |= MC_DSCConvert(&p->sDSC, &ci->sDisplayScaler, &mask);
    failed |= MC_Y2RConvert(&p->sY2R, &ci->sYCCToRGB, &mask);
    failed |= MC_DGMConvert(&p->sDGM, &ci->sDisplayGamutMapper, &mask);
    failed |= MC_HDRConvert(&p->sHDR, &p->sWBC, &ci->sHDR, &mask);
    *eUpdateMask = mask;

    ci->config.eOutputConfig = 0;
    if (failed != 0) {
        QOR_LOG_ERROR(kTag, "failed when converting a main module configuration\n");
        return QOR_RES_FAILED;
    }
    QOR_UINT32 out = 0;
    if (p->bEnableCRC == 1) {
        out |= CI_SAVE_CRC;
    }
    if (p->bEnableTimestamp == 1) {
        out |= CI_SAVE_TIMESTAMP;
    }

    CI_PIPELINE_STATS &st = ci->stats;
    failed |= MC_EXSConvert(&p->sEXS, &st.sExposureStats, &mask);
    out |=
        (p->sEXS.bGlobalEnable == 1 ? CI_SAVE_EXS_GLOBAL : 0) | (p->sEXS.bRegionEnable == 1 ? CI_SAVE_EXS_REGION : 0);
    failed |= MC_FOSConvert(&p->sFOS, &st.sFocusStats, &mask);
    out |= (p->sFOS.bGlobalEnable == 1 ? CI_SAVE_FOS_GRID : 0) | (p->sFOS.bRegionEnable == 1 ? CI_SAVE_FOS_ROI : 0);
    failed |= MC_WBSConvert(&p->sWBS, &st.sWhiteBalanceStats, &mask);
    out |= p->sWBS.ui8ActiveROI != 0 ? CI_SAVE_WHITEBALANCE : 0;
    failed |= MC_AWSConvert(&p->sAWS, &st.sAutoWhiteBalanceStats, &mask);
    out |= p->sAWS.bEnable != 0 ? CI_SAVE_WHITEBALANCE_EXT : 0;
    failed |= MC_HISConvert(&p->sHIS, &st.sHistStats, &mask);
    out |=
        (p->sHIS.bGlobalEnable == 1 ? CI_SAVE_HIST_GLOBAL : 0) | (p->sHIS.bRegionEnable == 1 ? CI_SAVE_HIST_REGION : 0);
    failed |= MC_FLDConvert(&p->sFLD, &st.sFlickerStats, &mask);
    out |= p->sFLD.bEnable == 1 ? CI_SAVE_FLICKER : 0;
    failed |= MC_ENSConvert(&p->sENS, &st.sEncStats);
    out |= p->sENS.bEnable == 1 ? CI_SAVE_ENS : 0;
    ci->config.eOutputConfig = out;
    *eUpdateMask = mask;
    if (failed != 0) {
        QOR_LOG_ERROR(kTag, "failed when converting a statistic configuration\n");
        return QOR_RES_FAILED;
    }
    ci->config.ui16SysBlackLevel = p->ui16SystemBlackLevel;
    return QOR_RES_OK;
}
