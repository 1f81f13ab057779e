/*
 * Hardware pipelines: creation with defaults, verification against the hardware, registration and
 * updates with the driver (through the load structure), line-store placement, lens-shading matrices
 * and destruction.
 */
#include "ci/ci_pipeline.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

#include "ci/ci_capture.h"
#include "ci/ci_connection_internal.h"
#include "ci/ci_ioctrl.h"
#include "ci/ci_load_hw2.h"
#include "ci/ci_modules_verif.h"
#include "norvacommon/userlog.h"

namespace {

constexpr const char *kTag = "CI_API";

INT_PIPELINE *intPipeline(CI_PIPELINE *p) { return reinterpret_cast<INT_PIPELINE *>(p); }

int control(INT_PIPELINE *pipe, CI_eIOCTL nr, const void *arg) {
    return SYS_IO_Control(pipe->pConnection->fileDesc, CI_IOCTL_CMD(nr),
                          static_cast<long>(reinterpret_cast<intptr_t>(arg)));
}

int controlValue(INT_PIPELINE *pipe, CI_eIOCTL nr, long value) {
    return SYS_IO_Control(pipe->pConnection->fileDesc, CI_IOCTL_CMD(nr), value);
}

const CI_HWINFO &hwInfo(const INT_PIPELINE *pipe) { return pipe->pConnection->publicConnection.sHWInfo; }

/** Unmaps (when mapped through a connection) and frees a matrix. */
void freeMatrix(INT_PIPELINE *pipe, INT_LSHMAT *mat) {
    if (pipe->pConnection != nullptr && mat->memory != nullptr) {
        SYS_IO_MemUnmap(pipe->pConnection->fileDesc, mat->memory, mat->uiSize);
    }
    free(mat);
}

struct ClearParam {
    INT_PIPELINE *pipe;
};

QOR_BOOL8 List_ClearLSHMat(void *elem, void *param) {
    INT_LSHMAT *mat = static_cast<INT_LSHMAT *>(elem);
    List_detach(&mat->sCell);
    freeMatrix(static_cast<ClearParam *>(param)->pipe, mat);
    return QOR_TRUE;
}

QOR_BOOL8 List_FindMatrix(void *elem, void *param) {
    return static_cast<INT_LSHMAT *>(elem)->ID == *static_cast<QOR_INT32 *>(param) ? QOR_FALSE : QOR_TRUE;
}

INT_LSHMAT *findMatrix(INT_PIPELINE *pipe, QOR_UINT32 id) {
    QOR_INT32 key = static_cast<QOR_INT32>(id);
    Cell_T *cell = List_visitor(&pipe->sList_lshmat, &key, List_FindMatrix);
    return cell != nullptr ? static_cast<INT_LSHMAT *>(cell->object) : nullptr;
}

/** A register-level scaler's output fits the allocated buffers. */
bool fitsBuffers(const CI_MODULE_SCALER &sc, QOR_UINT16 maxWidth, QOR_UINT16 maxHeight) {
    return maxWidth >= (sc.aOutputSize[0] + 1) * 2 && maxHeight >= sc.aOutputSize[1] + 1;
}

/** Runs one block check of the verification: logs the summary after a failing check. */
#define VERIFY_STEP(call, message)                                                                                     \
    do {                                                                                                               \
        const QOR_RESULT r_ = (call);                                                                                  \
        if (r_ != QOR_RES_OK) {                                                                                        \
            QOR_LOG_ERROR(kTag, message);                                                                              \
            return r_;                                                                                                 \
        }                                                                                                              \
    } while (0)

} // namespace

extern "C" {

QOR_RESULT INT_CI_Load_HW2(const INT_PIPELINE *pIntPipeline, char *loadstruct, int eUpdateMask) {
    if (pIntPipeline == nullptr || pIntPipeline->pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pIntPipeline is NULL or not connected\n");
        return QOR_RES_INVALID_PARAM;
    }
    return HW_CI_LoadPipeline(&hwInfo(pIntPipeline), &pIntPipeline->publicPipeline, loadstruct, eUpdateMask);
}

QOR_RESULT CI_PipelineCreate(CI_PIPELINE **ppPipeline, CI_CONNECTION *pConnection) {
    if (ppPipeline == nullptr || pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "ppPipeline or pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (*ppPipeline != nullptr) {
        QOR_LOG_ERROR(kTag, "pipeline already allocated\n");
        return QOR_RES_IN_USE;
    }
    INT_PIPELINE *pipe = static_cast<INT_PIPELINE *>(calloc(1, sizeof(INT_PIPELINE)));
    if (pipe == nullptr) {
        QOR_LOG_ERROR(kTag, "failed to allocate internal configuration object (%lu B)\n",
                      static_cast<unsigned long>(sizeof(INT_PIPELINE)));
        return QOR_RES_NO_MEMORY;
    }
    pipe->pLoadStructure = static_cast<char *>(calloc(1, INT_CI_SizeLS_HW2()));
    pipe->pParam = static_cast<CI_PIPE_PARAM *>(calloc(1, sizeof(CI_PIPE_PARAM)));
    if (pipe->pLoadStructure == nullptr || pipe->pParam == nullptr) {
        QOR_LOG_ERROR(kTag, "failed to allocate internal load structure object (%u B)\n", INT_CI_SizeLS_HW2());
        free(pipe->pLoadStructure);
        free(pipe->pParam);
        free(pipe);
        return QOR_RES_NO_MEMORY;
    }
    const CI_HWINFO &hw = pConnection->sHWInfo;
    CI_PIPELINE &p = pipe->publicPipeline;
    p.config.ui8Context = hw.config_ui8NContexts; // one past the last: the caller must choose
    p.config.eDataExtraction = CI_INOUT_NONE;
    p.config.eOutputConfig = 0;
    p.config.ui16SysBlackLevel = 64;

    QOR_RESULT ret = List_init(&pipe->sList_shots);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to create the shot list\n");
    } else if ((ret = List_init(&pipe->sList_buffers)) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to create the buffer list\n");
    } else if ((ret = List_init(&pipe->sList_lshmat)) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to create the LSH matrix list\n");
    }
    if (ret != QOR_RES_OK) {
        free(pipe->pLoadStructure);
        free(pipe->pParam);
        free(pipe);
        *ppPipeline = nullptr;
        return ret;
    }

    p.sImagerInterface.ui8Imager = hw.config_ui8NImagers; // one past the last as well
    p.sBlackCorrection.ui16PixelMax = static_cast<QOR_UINT16>((1u << hw.config_ui8BitDepth) - 1u);
    p.sDenoiser.bCombineChannels = 1;
    p.sRGBToYCC.eType = RGB_TO_YCC;
    p.sSharpening.bDenoiseBypass = 1;
    p.sEncoderScaler.bIsDisplay = 0;
    p.sEncoderScaler.bBypassScaler = 1;
    p.sDisplayScaler.bIsDisplay = 1;
    p.sDisplayScaler.bBypassScaler = 1;
    p.sYCCToRGB.eType = YCC_TO_RGB;

    pipe->pConnection = INT_ConnectionFromHandle(pConnection);
    pipe->sCell.object = pipe;
    List_pushBack(&pipe->pConnection->sList_pipelines, &pipe->sCell);
    *ppPipeline = &pipe->publicPipeline;
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineVerify(CI_PIPELINE *pPipeline) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    const CI_HWINFO &hw = hwInfo(pipe);
    const CI_PIPELINE &p = *pPipeline;
    const CI_PIPELINE_CONFIG &cfg = p.config;

    if (cfg.ui8Context > 1) {
        QOR_LOG_ERROR(kTag, "chosen context %d is not supported (max %d)\n", cfg.ui8Context, 2);
        return QOR_RES_NOT_SUPPORTED;
    }
    if (cfg.eHDRExtType.eFmt != PXL_NONE && !(hw.eFunctionalities & CI_INFO_SUPPORTED_HDR_EXT)) {
        QOR_LOG_ERROR(kTag, "The HDR Extraction point is not supported by HW version %d.%d\n", hw.rev_ui8Major,
                      hw.rev_ui8Minor);
        return QOR_RES_NOT_SUPPORTED;
    }
    if (cfg.eRaw2DExtraction.eFmt != PXL_NONE && !(hw.eFunctionalities & CI_INFO_SUPPORTED_RAW2D_EXT)) {
        QOR_LOG_ERROR(kTag, "The Raw 2D Extraction point is not supported by HW version %d.%d\n", hw.rev_ui8Major,
                      hw.rev_ui8Minor);
        return QOR_RES_NOT_SUPPORTED;
    }
    if (cfg.bSupportTiling && !(hw.eFunctionalities & CI_INFO_SUPPORTED_TILING)) {
        QOR_LOG_ERROR(kTag, "Tiling support is not possible with HW version %d.%d\n", hw.rev_ui8Major, hw.rev_ui8Minor);
        return QOR_RES_NOT_SUPPORTED;
    }
    if (cfg.eDataExtraction == CI_INOUT_NONE && cfg.eDispType.ui8BitDepth > 10) {
        QOR_LOG_ERROR(kTag, "The RGB format %s cannot be used for display output\n", FormatString(cfg.eDispType.eFmt));
        return QOR_RES_NOT_SUPPORTED;
    }
    if (cfg.eDispType.eFmt == BAYER_TIFF_10 || cfg.eDispType.eFmt == BAYER_TIFF_12) {
        QOR_LOG_ERROR(
            kTag, "The Bayer TIFF format %s can only be used for Raw 2D Extraction - please use other format e.g. %s\n",
            FormatString(cfg.eDispType.eFmt), FormatString(BAYER_RGGB_10));
        return QOR_RES_NOT_SUPPORTED;
    }
    if (cfg.eHDRExtType.eFmt != PXL_NONE && cfg.eHDRExtType.eFmt != BGR_101010_32) {
        QOR_LOG_ERROR(kTag, "The HDR Extraction format can only be %s for this version of the HW (found %s)\n",
                      FormatString(BGR_101010_32), FormatString(cfg.eHDRExtType.eFmt));
        return QOR_RES_NOT_SUPPORTED;
    }
    if (cfg.eHDRInsType.eFmt != PXL_NONE && cfg.eHDRInsType.eFmt != BGR_161616_64) {
        QOR_LOG_ERROR(kTag, "The HDR Insertion format can only be %s for this version of the HW (found %s)\n",
                      FormatString(BGR_161616_64), FormatString(cfg.eHDRInsType.eFmt));
        return QOR_RES_NOT_SUPPORTED;
    }
    const pxlFormat raw2d = cfg.eRaw2DExtraction.eFmt;
    if (raw2d != PXL_NONE && raw2d != BAYER_TIFF_10 && raw2d != BAYER_TIFF_12) {
        QOR_LOG_ERROR(kTag, "The Raw2D output format %s is not supported - it needsto be a TIFF format\n",
                      FormatString(raw2d));
        return QOR_RES_NOT_SUPPORTED;
    }
    VERIFY_STEP(CI_ModuleIIF_verif(&p.sImagerInterface, cfg.ui8Context, &hw),
                "The Imager Interface values are not correct!\n");
    if (pipe->pMatrix != nullptr) {
        VERIFY_STEP(CI_ModuleLSH_verif(&pipe->pMatrix->config, &p.sImagerInterface, &hw),
                    "The lens shading values are not correct!\n");
    }
    VERIFY_STEP(CI_ModuleWBC_verif(&p.sWhiteBalance), "The WBC configuration is not correct!\n");
    VERIFY_STEP(CI_ModuleDPF_verif(&p.sDefectivePixels, &hw), "The defective pixel setup is not correct!\n");
    VERIFY_STEP(CI_ModuleTNM_verif(&p.sToneMapping), "The Tone Mapping configuration is not correct\n");
    if (cfg.eEncType.ui8VSubsampling == 2 && p.sEncoderScaler.bOutput422) {
        QOR_LOG_ERROR(kTag,
                      "The encoder scaler is configured to output 422 while pipeline output is configured for 420\n");
        return QOR_RES_FAILED;
    }
    VERIFY_STEP(CI_ModuleScaler_verif(&p.sEncoderScaler), "The encoder scaler values are not correct!\n");
    VERIFY_STEP(CI_ModuleScaler_verif(&p.sDisplayScaler), "The display scaler values are not correct!\n");
    if (cfg.eOutputConfig & CI_SAVE_EXS_REGION) {
        VERIFY_STEP(CI_StatsEXS_verif(&p.stats.sExposureStats), "Exposure statistics configuration is not correct!\n");
    }
    VERIFY_STEP(CI_StatsWBS_verif(&p.stats.sWhiteBalanceStats),
                "White Balance statistics configuration is not correct!\n");
    VERIFY_STEP(CI_StatsAWS_verif(&p.stats.sAutoWhiteBalanceStats, &p.sImagerInterface),
                "Auto White Balance statistics configuration is not correct!\n");
    if (cfg.eOutputConfig & (CI_SAVE_HIST_GLOBAL | CI_SAVE_HIST_REGION)) {
        VERIFY_STEP(CI_StatsHIS_verif(&p.stats.sHistStats), "Histogram statistics configuration is not correct!\n");
    }
    if (cfg.eOutputConfig & CI_SAVE_FLICKER) {
        VERIFY_STEP(CI_StatsFLD_verif(&p.stats.sFlickerStats), "The flicker detection values are not correct!\n");
    }
    if (cfg.eOutputConfig & CI_SAVE_ENS) {
        VERIFY_STEP(CI_StatsENS_verif(&p.stats.sEncStats), "The Encoder Stats values are not correct!\n");
    }
    if (cfg.eEncType.eBuffer != TYPE_NONE &&
        !fitsBuffers(p.sEncoderScaler, cfg.ui16MaxEncOutWidth, cfg.ui16MaxEncOutHeight)) {
        QOR_LOG_ERROR(kTag, "Encoder output size is too big for allocated buffers\n");
        return QOR_RES_FAILED;
    }
    if (cfg.eDispType.eBuffer != TYPE_NONE && cfg.eDataExtraction == CI_INOUT_NONE &&
        !fitsBuffers(p.sDisplayScaler, cfg.ui16MaxDispOutWidth, cfg.ui16MaxDispOutHeight)) {
        QOR_LOG_ERROR(kTag, "Display output size is too big for allocated buffers\n");
        return QOR_RES_FAILED;
    }
    if (cfg.eDataExtraction != CI_INOUT_NONE &&
        static_cast<QOR_UINT32>(cfg.ui16MaxDispOutWidth) * cfg.ui16MaxDispOutHeight == 0) {
        QOR_LOG_ERROR(kTag, "Data Extraction is enabled but display output size is 0\n");
        return QOR_RES_FAILED;
    }
    if (cfg.ui8Context >= hw.config_ui8NContexts) {
        QOR_LOG_ERROR(kTag, "maximum number of context is %u (using %u)\n",
                      static_cast<unsigned>(hw.config_ui8NContexts), static_cast<unsigned>(cfg.ui8Context));
        return QOR_RES_NOT_SUPPORTED;
    }
    return QOR_RES_OK;
}

QOR_RESULT QOR_CI_PipelineToInfo(CI_PIPELINE *pPipeline, CI_PIPE_INFO *pInfo) {
    if (pPipeline == nullptr || pInfo == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline or pInfo is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    memset(pInfo, 0, sizeof(*pInfo));
    pInfo->config = pPipeline->config;
    pInfo->iifConfig = pPipeline->sImagerInterface;
    pInfo->ensConfig = pPipeline->stats.sEncStats;
    pInfo->lshConfig = pPipeline->sDeshading;
    pInfo->dpfConfig = pPipeline->sDefectivePixels;
    pInfo->sAWSCurveCoeffs = pPipeline->stats.sAutoWhiteBalanceStats.sCurveCoeffs;
    pInfo->hdrConfig = pPipeline->sHDR;
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineRegister(CI_PIPELINE *pPipeline) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (pipe->ui32Identifier > 0) {
        QOR_LOG_ERROR(kTag, "already registered!\n");
        return QOR_RES_ALREADY;
    }
    QOR_RESULT ret = CI_PipelineVerify(pPipeline);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Configuration is not correct!\n");
        return ret;
    }
    CI_PIPE_INFO *info = &pipe->pParam->info;
    QOR_CI_PipelineToInfo(pPipeline, info);
    const int id = control(pipe, CI_PIPELINE_REGISTER, info);
    if (id <= 0) {
        QOR_LOG_ERROR(kTag, "Failed to register the configuration (returned %d - 0 is invalid ID)\n", id);
        return id < 0 ? toQorResult(id) : QOR_RES_FAILED;
    }
    pipe->ui32Identifier = id;
    pipe->bSupportTiling = pPipeline->config.bSupportTiling;
    pipe->ePendingUpdate = 0;
    ret = CI_PipelineUpdate(pPipeline, CI_UPD_ALL, nullptr);
    if (ret != QOR_RES_OK) {
        // A pipeline the driver never received a full configuration for must not look usable:
        // undo the registration and report the failure.
        QOR_LOG_ERROR(kTag, "Failed to do the 1st update!\n");
        controlValue(pipe, CI_PIPELINE_DEREGISTER, pipe->ui32Identifier);
        pipe->ui32Identifier = 0;
        pipe->ePendingUpdate = 0;
        return ret;
    }
    return QOR_RES_OK;
}

QOR_RESULT QOR_CI_PipelineUpdate(CI_PIPELINE *pPipeline, int eUpdateMask, int *peFailure, QOR_BOOL8 bASAP) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (peFailure != nullptr) {
        *peFailure = 0;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (pipe->ui32Identifier <= 0) {
        QOR_LOG_ERROR(kTag, "The capture is not registered\n");
        return QOR_RES_NOT_INITIALISED;
    }
    QOR_RESULT ret = CI_PipelineVerify(pPipeline);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to verify the capture\n");
        return ret;
    }
    // Groups a failed update did not deliver go again with this one.
    const int mask = eUpdateMask | pipe->ePendingUpdate;
    CI_PIPE_PARAM *param = pipe->pParam; // no allocation per update
    QOR_CI_PipelineToInfo(pPipeline, &param->info);
    param->loadstructure = pipe->pLoadStructure;
    param->identifier = pipe->ui32Identifier;
    param->eUpdateMask = mask;
    param->bUpdateASAP = bASAP;
    ret = INT_CI_Load_HW2(pipe, pipe->pLoadStructure, mask);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to write the load structure!\n");
        return ret;
    }
    const int answer = control(pipe, CI_CONFIG_UPDATE, param);
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to update the capture (ret %d)\n", answer);
        pipe->ePendingUpdate |= param->eUpdateMask;
        if (peFailure != nullptr) {
            *peFailure = param->eUpdateMask;
        }
        return toQorResult(answer);
    }
    pipe->ePendingUpdate = 0;
    return answer;
}

QOR_RESULT CI_PipelineUpdate(CI_PIPELINE *pPipeline, int eUpdateMask, int *peFailure) {
    return QOR_CI_PipelineUpdate(pPipeline, eUpdateMask, peFailure, QOR_FALSE);
}

QOR_RESULT CI_PipelineUpdateASAP(CI_PIPELINE *pPipeline, int eUpdateMask, int *peFailure) {
    return QOR_CI_PipelineUpdate(pPipeline, eUpdateMask, peFailure, QOR_TRUE);
}

QOR_RESULT CI_PipelineDestroy(CI_PIPELINE *pPipeline) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (pipe->ui32Identifier > 0 && pipe->bStarted) {
        const QOR_RESULT stopped = CI_PipelineStopCapture(pPipeline);
        if (stopped != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "could not stop the capture before destruction\n");
            return stopped;
        }
    }
    List_detach(&pipe->sCell);
    if (pipe->ui32Identifier > 0 && CI_PipelineDeleteShots(pPipeline) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to clear the shots\n");
    }
    if (List_visitor(&pipe->sList_buffers, pipe, List_ClearBuffers) != nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to clear the list of buffers\n");
    }

    ClearParam clear = {pipe};
    if (List_visitor(&pipe->sList_lshmat, &clear, List_ClearLSHMat) != nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to clear the list of LSH matrix\n");
    }
    pipe->pMatrix = nullptr;
    if (pPipeline->sDefectivePixels.sInput.apDefectInput != nullptr) {
        free(pPipeline->sDefectivePixels.sInput.apDefectInput);
        pPipeline->sDefectivePixels.sInput.apDefectInput = nullptr;
    }
    QOR_RESULT result = QOR_RES_OK;
    if (pipe->ui32Identifier > 0) {
        const int ret = controlValue(pipe, CI_PIPELINE_DEREGISTER, pipe->ui32Identifier);
        if (ret < 0) {
            QOR_LOG_ERROR(kTag, "Failed to deregister the configuration (returned %d)\n", ret);
            result = toQorResult(ret);
        }
    }
    free(pipe->pLoadStructure);
    free(pipe->pParam);
    free(pipe);
    return result;
}

namespace {

struct Taken {
    QOR_INT32 start;
    QOR_UINT32 size;
    int context;
};

} // namespace

QOR_RESULT CI_PipelineComputeLinestore(CI_PIPELINE *pPipeline) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (pipe->bStarted) {
        QOR_LOG_ERROR(kTag, "cannot change linestore of started pipeline!\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    const int ctx = pPipeline->config.ui8Context;
    if (ctx >= CI_N_CONTEXT) {
        QOR_LOG_ERROR(kTag, "chosen context %d is not supported (max %d)\n", ctx, CI_N_CONTEXT);
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_UINT32 needed = (pPipeline->sImagerInterface.ui16ImagerSize[0] + 1u) * 2u;
    CI_CONNECTION *conn = &pipe->pConnection->publicConnection;
    QOR_RESULT ret = CI_DriverGetLinestore(conn);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to access the driver to get current linestore!\n");
        return ret;
    }
    CI_LINESTORE ls = conn->sLinestoreStatus;
    const CI_HWINFO &hw = conn->sHWInfo;
    if (ls.aActive[ctx]) {
        QOR_LOG_ERROR(kTag, "context is already active: no point to compute a linestore for it (will not start)\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    Taken taken[CI_N_CONTEXT];
    int nTaken = 0;
    for (int i = 0; i < CI_N_CONTEXT && i < hw.config_ui8NContexts; i++) {
        if (ls.aActive[i]) {
            if (ls.aSize[i] > hw.context_aMaxWidthMult[i]) {
                QOR_LOG_ERROR(
                    kTag,
                    "Context %d is running using more than its multi-context size - cannot reserve linestore for "
                    "context ctx %d\n",
                    i, ctx);
                return QOR_RES_NOT_SUPPORTED;
            }
            taken[nTaken++] = Taken{ls.aStart[i], ls.aSize[i], i};
        } else {
            ls.aStart[i] = -1;
            ls.aSize[i] = 0;
        }
    }
    QOR_INT64 start = -1;
    QOR_INT64 biggest = 0;
    if (nTaken == 0) {
        biggest = hw.context_aMaxWidthSingle[ctx];
        if (needed <= hw.context_aMaxWidthSingle[ctx]) {
            start = 0;
        }
    } else {
        // regions by start (at most one per context)
        for (int i = 1; i < nTaken; i++) {
            for (int j = i; j > 0 && taken[j].start < taken[j - 1].start; j--) {
                std::swap(taken[j], taken[j - 1]);
            }
        }
        QOR_INT64 gaps[CI_N_CONTEXT + 1][2];
        int nGaps = 0;
        gaps[nGaps][0] = 0;
        gaps[nGaps++][1] = taken[0].start;
        for (int i = 1; i < nTaken; i++) {
            gaps[nGaps][0] = QOR_INT64(taken[i - 1].start) + taken[i - 1].size;
            gaps[nGaps++][1] = taken[i].start;
        }
        gaps[nGaps][0] = QOR_INT64(taken[nTaken - 1].start) + taken[nTaken - 1].size;
        gaps[nGaps++][1] = hw.ui32MaxLineStore;
        QOR_INT64 previous = 0;
        for (int g = 0; g < nGaps; g++) {
            const QOR_INT64 width = gaps[g][1] - gaps[g][0];
            biggest = std::max(previous, width);
            previous = width;
            if (width >= QOR_INT64(needed)) {
                start = gaps[g][0];
                break;
            }
        }
    }
    if (start < 0) {
        QOR_LOG_ERROR(kTag, "cannot fit ctx %d into linestore (need %d, biggest gap found is %d)\n", ctx,
                      static_cast<int>(needed), static_cast<int>(biggest));
        return QOR_RES_NOT_SUPPORTED;
    }
    ls.aStart[ctx] = static_cast<QOR_INT32>(start);
    ret = CI_DriverSetLinestore(conn, &ls);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "computed linestore refused\n");
        return ret;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineAllocateLSHMatrix(CI_PIPELINE *pPipeline, QOR_UINT32 ui32Size, QOR_UINT32 *pMatrixId) {
    if (pPipeline == nullptr || ui32Size == 0) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL or size is 0\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    if (pipe->ui32Identifier <= 0) {
        QOR_LOG_ERROR(kTag, "Pipeline is not registered\n");
        return QOR_RES_NOT_INITIALISED;
    }
    CI_ALLOC_PARAM param;
    memset(&param, 0, sizeof(param));
    param.configId = static_cast<QOR_UINT32>(pipe->ui32Identifier);
    param.type = CI_ALLOC_LSHMAT;
    param.uiSize = ui32Size;
    const int ret = control(pipe, CI_CREATE_BUFF, &param);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to create lsh matrix in kernel space (returned %d)\n", ret);
        return toQorResult(ret);
    }
    INT_LSHMAT *mat = static_cast<INT_LSHMAT *>(calloc(1, sizeof(INT_LSHMAT)));
    if (mat == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to allocate new internal LSH matrix\n");
        return QOR_RES_NO_MEMORY;
    }
    mat->ID = static_cast<QOR_INT32>(param.uiMemMapId);
    mat->uiSize = param.uiSize;
    mat->eStatus = INT_BUFFER_AVAILABLE;
    mat->sCell.object = mat;
    mat->memory = SYS_IO_MemMap2(pipe->pConnection->fileDesc, mat->uiSize, PROT_WRITE, MAP_SHARED, param.uiMemMapId);
    if (mat->memory == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to map Buffer to user-space\n");
        free(mat);
        return QOR_RES_FAILED;
    }
    const QOR_RESULT pushed = List_pushBack(&pipe->sList_lshmat, &mat->sCell);
    if (pushed != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to add buffer to the Pipeline list!\n");
        freeMatrix(pipe, mat);
        return pushed;
    }
    if (pMatrixId != nullptr) {
        *pMatrixId = param.uiMemMapId;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineAcquireLSHMatrix(CI_PIPELINE *pPipeline, QOR_UINT32 matrixId, CI_LSHMAT *pMatrix) {
    if (pPipeline == nullptr || pMatrix == nullptr || matrixId == 0) {
        QOR_LOG_ERROR(kTag, "pPipeline or pMatrix is NULL or id is 0\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    INT_LSHMAT *mat = findMatrix(pipe, matrixId);
    if (mat == nullptr) {
        QOR_LOG_ERROR(kTag, "Could not find LSH matrix %d in user-side\n", static_cast<int>(matrixId));
        return QOR_RES_IN_PROGRESS;
    }
    if (mat->eStatus != INT_BUFFER_AVAILABLE) {
        QOR_LOG_ERROR(kTag, "LSH matrix %d not available\n", static_cast<int>(matrixId));
        return QOR_RES_IN_PROGRESS;
    }
    CI_LSH_GET_PARAM param = {static_cast<QOR_UINT32>(pipe->ui32Identifier), matrixId};
    const int ret = control(pipe, CI_PIPELINE_GET_LSH, &param);
    if (ret < 0) {
        if (ret == -EALREADY) {
            QOR_LOG_ERROR(kTag, "LSH matrix %d is not available in kernel\n", static_cast<int>(matrixId));
        } else {
            QOR_LOG_ERROR(kTag, "LSH matrix %d not found in kernel-side\n", static_cast<int>(matrixId));
        }
        return QOR_RES_IN_PROGRESS;
    }
    mat->eStatus = INT_BUFFER_ACQUIRED;
    pMatrix->id = matrixId;
    pMatrix->data = mat->memory;
    pMatrix->ui32Size = mat->uiSize;
    pMatrix->config = mat->config;
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineReleaseLSHMatrix(CI_PIPELINE *pPipeline, CI_LSHMAT *pMatrix) {
    if (pPipeline == nullptr || pMatrix == nullptr || pMatrix->id == 0) {
        QOR_LOG_ERROR(kTag, "pPipeline or pMatrix is NULL or id is 0\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    INT_LSHMAT *mat = findMatrix(pipe, pMatrix->id);
    if (mat == nullptr) {
        QOR_LOG_ERROR(kTag, "Could not find LSH matrix %d\n", static_cast<int>(pMatrix->id));
        return QOR_RES_IN_PROGRESS;
    }
    if (mat->eStatus != INT_BUFFER_ACQUIRED) {
        QOR_LOG_ERROR(kTag, "LSH matrix %d not acquired\n", static_cast<int>(pMatrix->id));
        return QOR_RES_IN_PROGRESS;
    }
    mat->config = pMatrix->config;
    CI_LSH_SET_PARAM param;
    memset(&param, 0, sizeof(param));
    param.configId = static_cast<QOR_UINT32>(pipe->ui32Identifier);
    param.matrixId = pMatrix->id;
    param.matrixConfig = mat->config;
    if (control(pipe, CI_PIPELINE_SET_LSH, &param) < 0) {
        QOR_LOG_ERROR(kTag, "Failed to update kernel side for LSH matrix %d!\n", static_cast<int>(pMatrix->id));
        return QOR_RES_FAILED;
    }
    mat->eStatus = INT_BUFFER_AVAILABLE;
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineUpdateLSHMatrix(CI_PIPELINE *pPipeline, QOR_UINT32 matrixId) {
    if (pPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    INT_LSHMAT *mat = nullptr;
    if (matrixId != 0) {
        mat = findMatrix(pipe, matrixId);
        if (mat == nullptr) {
            QOR_LOG_ERROR(kTag, "Could not find LSH matrix %d\n", static_cast<int>(matrixId));
            return QOR_RES_IN_PROGRESS;
        }
        if (mat->eStatus != INT_BUFFER_AVAILABLE) {
            QOR_LOG_ERROR(kTag, "LSH matrix %d is not available\n", static_cast<int>(matrixId));
            return QOR_RES_IN_PROGRESS;
        }
        const QOR_RESULT ret = CI_ModuleLSH_verif(&mat->config, &pPipeline->sImagerInterface, &hwInfo(pipe));
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "The lens shading values are not correct!\n");
            return ret;
        }
    }
    CI_LSH_CHANGE_PARAM param = {static_cast<QOR_UINT32>(pipe->ui32Identifier), matrixId};
    const int ret = control(pipe, CI_PIPELINE_CHANGE_LSH, &param);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to update kernel side for LSH matrix %d!\n", static_cast<int>(matrixId));
        return toQorResult(ret);
    }
    if (pipe->pMatrix != nullptr) {
        pipe->pMatrix->eStatus = INT_BUFFER_AVAILABLE;
    }
    if (mat != nullptr) {
        mat->eStatus = INT_BUFFER_PENDING;
    }
    pipe->pMatrix = mat;
    return QOR_RES_OK;
}

QOR_RESULT CI_PipelineDeregisterLSHMatrix(CI_PIPELINE *pPipeline, QOR_UINT32 matrixId) {
    if (pPipeline == nullptr || matrixId == 0) {
        QOR_LOG_ERROR(kTag, "pPipeline is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_PIPELINE *pipe = intPipeline(pPipeline);
    INT_LSHMAT *mat = findMatrix(pipe, matrixId);
    if (mat == nullptr) {
        QOR_LOG_ERROR(kTag, "LSH matrix %d not found in userspace buffer list!\n", static_cast<int>(matrixId));
        return QOR_RES_IN_PROGRESS;
    }
    if (mat == pipe->pMatrix) {
        // The hardware reads this matrix: switch to another one (or none) first.
        QOR_LOG_ERROR(kTag, "LSH matrix %d is in use by the hardware\n", static_cast<int>(matrixId));
        return QOR_RES_IN_USE;
    }
    List_detach(&mat->sCell);
    CI_ALLOC_PARAM param;
    memset(&param, 0, sizeof(param));
    param.configId = static_cast<QOR_UINT32>(pipe->ui32Identifier);
    param.type = CI_ALLOC_LSHMAT;
    param.uiMemMapId = matrixId;
    const int ret = control(pipe, CI_DEREGISTER_BUFF, &param);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to deregister LSH matrix %d\n", static_cast<int>(matrixId));
        List_pushBack(&pipe->sList_lshmat, &mat->sCell);
        return toQorResult(ret);
    }
    freeMatrix(pipe, mat);
    return QOR_RES_OK;
}

} // extern "C"
