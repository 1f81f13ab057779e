// The pipeline's shots, buffers and capture: pass-throughs to the driver interface with the context's
// status checks, and the filling of an ISPC::Shot from each acquired driver shot.
#include <cstring>

#include "ispc/ModuleOUT.h"
#include "ispc/Pipeline.h"
#include "PipelineInternal.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
using pipeline_internal::kTag;
} // namespace

QOR_RESULT Pipeline::addShots(unsigned num) {
    PIPELINE_REFUSE_IN_ERROR();
    if (num == 0) {
        QOR_LOG_ERROR(kTag, "At least one buffer must be requested.\n");
        return QOR_RES_INVALID_PARAM;
    }
    const QOR_RESULT ret = CI_PipelineAddPool(pCIPipeline, num);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to add Shots to the pipeline (returned %d)\n", ret);
        return QOR_RES_FAILED;
    }
    if (CI_PipelineHasAvailableShots(pCIPipeline)) {
        ctxStatus = ISPC_Ctx_READY;
    }
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::deleteShots() {
    PIPELINE_REFUSE_IN_ERROR();
    if (captureStarted()) {
        QOR_LOG_ERROR(kTag, "Pipeline is started - cannot delete shots\n");
        return QOR_RES_UNAVAILABLE;
    }
    if (CI_PipelineHasPending(pCIPipeline)) {
        QOR_LOG_ERROR(kTag, "Pipeline has pending Shots - cannot delete shots\n");
        return QOR_RES_UNAVAILABLE;
    }
    if (CI_PipelineHasAcquired(pCIPipeline)) {
        QOR_LOG_ERROR(kTag, "Pipeline has acquired Shots - cannot delete shots\n");
        return QOR_RES_UNAVAILABLE;
    }
    const QOR_RESULT ret = CI_PipelineDeleteShots(pCIPipeline);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to delete Pipeline's shots\n");
    }
    return ret;
}

QOR_RESULT Pipeline::allocateBuffer(CI_BUFFTYPE eBuffer, QOR_UINT32 ui32Size, bool isTiled, QOR_UINT32 *pBufferId) {
    PIPELINE_REFUSE_IN_ERROR();
    if (ctxStatus != ISPC_Ctx_SETUP && ctxStatus != ISPC_Ctx_READY) {
        QOR_LOG_ERROR(kTag, "Context is not set up. Unable to allocate buffer\n");
        return QOR_RES_UNAVAILABLE;
    }
    const QOR_RESULT ret =
        CI_PipelineAllocateBuffer(pCIPipeline, eBuffer, ui32Size, isTiled ? QOR_TRUE : QOR_FALSE, pBufferId);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to allocate buffer (ret=%d)\n", ret);
        ctxStatus = ISPC_Ctx_ERROR;
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::importBuffer(CI_BUFFTYPE eBuffer, QOR_UINT32 ionFd, QOR_UINT32 ui32Size, bool isTiled,
                                  QOR_UINT32 *pBufferId) {
    if (eBuffer == CI_TYPE_NONE || ionFd == 0) {
        QOR_LOG_ERROR(kTag, "eBuffer is NONE or ionFD is 0\n");
        return QOR_RES_INVALID_PARAM;
    }
    PIPELINE_REFUSE_IN_ERROR();
    if (ctxStatus != ISPC_Ctx_SETUP && ctxStatus != ISPC_Ctx_READY) {
        QOR_LOG_ERROR(kTag, "Context is not set up. Unable to import buffer\n");
        return QOR_RES_UNAVAILABLE;
    }
    const QOR_RESULT ret =
        CI_PipelineImportBuffer(pCIPipeline, eBuffer, ui32Size, isTiled ? QOR_TRUE : QOR_FALSE, ionFd, pBufferId);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to import buffer (returned %d)\n", ret);
        return QOR_RES_FAILED;
    }
    ctxStatus = ISPC_Ctx_READY;
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::deregisterBuffer(QOR_UINT32 uiBufferID) {
    PIPELINE_REFUSE_IN_ERROR();
    const QOR_RESULT ret = CI_PipelineDeregisterBuffer(pCIPipeline, uiBufferID);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to deregister buffer %u (returned %d)\n", uiBufferID, ret);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::getFirstAvailableBuffers(CI_BUFFID &buffId) {
    PIPELINE_REFUSE_IN_ERROR();
    const QOR_RESULT ret = CI_PipelineFindFirstAvailable(pCIPipeline, &buffId);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to find first available buffer (returned %d)\n", ret);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::getAvailableHDRInsertion(CI_BUFFER &HDRInsertion, QOR_UINT32 id) {
    PIPELINE_REFUSE_IN_ERROR();
    const QOR_RESULT ret = CI_PipelineAcquireHDRBuffer(pCIPipeline, &HDRInsertion, id);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to find available HDR buffer (id=%d returned %d)\n", static_cast<int>(id), ret);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::startCapture() {
    PIPELINE_REFUSE_IN_ERROR();
    if (ctxStatus != ISPC_Ctx_READY) {
        QOR_LOG_ERROR(kTag, "Pipeline not ready for starting capture.\n");
        return QOR_RES_UNAVAILABLE;
    }
    if (captureStarted()) {
        QOR_LOG_WARNING(kTag, "capture already started.\n");
        return QOR_RES_OK;
    }
    QOR_RESULT ret = CI_PipelineComputeLinestore(pCIPipeline);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to compute the linestore before starting the capture (returned %d)\n", ret);
        return QOR_RES_FAILED;
    }
    ret = CI_PipelineStartCapture(pCIPipeline);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to start capture (returned %d)\n", ret);
        return QOR_RES_FAILED;
    }
    for (auto &entry : moduleRegistry) {
        entry.second->captureStarted();
    }
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::stopCapture() {
    PIPELINE_REFUSE_IN_ERROR();
    if (ctxStatus != ISPC_Ctx_READY) {
        QOR_LOG_ERROR(kTag, "Pipeline not ready.\n");
        return QOR_RES_UNAVAILABLE;
    }
    const QOR_RESULT ret = CI_PipelineStopCapture(pCIPipeline);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to stop the capture (returned %d)\n", ret);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::programShot() {
    PIPELINE_REFUSE_IN_ERROR();
    if (ctxStatus != ISPC_Ctx_READY) {
        QOR_LOG_ERROR(kTag, "Pipeline not ready for programming a shot\n");
        return QOR_RES_UNAVAILABLE;
    }
    if (!captureStarted()) {
        QOR_LOG_ERROR(kTag, "Capture not started, unable to program shot.\n");
        return QOR_RES_UNAVAILABLE;
    }
    const QOR_RESULT ret = CI_PipelineTriggerShoot(pCIPipeline);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Could not capture a frame (returned %d)\n", ret);
        return QOR_RES_FAILED;
    }
    shotProgrammed();
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::programSpecifiedShot(const CI_BUFFID &buffId) {
    if (ctxStatus != ISPC_Ctx_READY) {
        QOR_LOG_ERROR(kTag, "Pipeline not ready for programming a shot\n");
        return QOR_RES_UNAVAILABLE;
    }
    if (!captureStarted()) {
        QOR_LOG_ERROR(kTag, "Capture not started, unable to program shot.\n");
        return QOR_RES_UNAVAILABLE;
    }
    // The driver interface takes a mutable record but does not change it.
    CI_BUFFID ids = buffId;
    const QOR_RESULT ret = CI_PipelineTriggerSpecifiedShoot(pCIPipeline, &ids);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Could not trigger specified shoot (returned %d)\n", ret);
        return QOR_RES_FAILED;
    }
    shotProgrammed();
    return QOR_RES_OK;
}

void Pipeline::shotProgrammed() {
    for (auto &entry : moduleRegistry) {
        entry.second->shotProgrammed();
    }
}

QOR_RESULT Pipeline::acquireShot(Shot &shot, bool block) {
    PIPELINE_REFUSE_IN_ERROR();
    // Filling a shot reads the output formats: without the output module no frame is taken from the driver.
    if (getModule(STP_OUT) == nullptr) {
        QOR_LOG_ERROR(kTag, "Pipeline has no registered ModuleOUT!\n");
        return QOR_RES_UNAVAILABLE;
    }
    CI_SHOT *pCIShot = nullptr;
    if (block) {
        const QOR_RESULT ret = CI_PipelineAcquireShot(pCIPipeline, &pCIShot);
        if (ret != QOR_RES_OK || pCIShot == nullptr) {
            QOR_LOG_ERROR(kTag, "Failed to acquire buffer with blocking call (returned %d, pCIBuffer=0x%p)\n", ret,
                          static_cast<void *>(pCIShot));
            return QOR_RES_FAILED;
        }
    } else {
        const QOR_RESULT ret = CI_PipelineAcquireShotNB(pCIPipeline, &pCIShot);
        if (ret == QOR_RES_IN_PROGRESS) {
            return ret;
        }
        if (ret != QOR_RES_OK || pCIShot == nullptr) {
            QOR_LOG_ERROR(kTag, "Failed to acquire buffer with non-blocking call (returned %d, pCIBuffer=0x%p)\n", ret,
                          static_cast<void *>(pCIShot));
            return QOR_RES_FAILED;
        }
    }
    processShot(shot, pCIShot);
    return QOR_RES_OK;
}

void Pipeline::processShot(Shot &shot, CI_SHOT *pCIShot) {
    shot.clear();
    const Global_Setup g = getGlobalSetup();
    const ModuleOUT *out = static_cast<const ModuleOUT *>(getModule(STP_OUT));
    if (out == nullptr) {
        // Nothing to describe the outputs with; the driver shot is kept so that it can be released.
        QOR_LOG_ERROR(kTag, "Pipeline has no registered ModuleOUT!\n");
        shot.pCIBuffer = pCIShot;
        return;
    }
    shot.configure(pCIShot, *out, g);
}

QOR_RESULT Pipeline::releaseShot(Shot &shot) {
    const QOR_RESULT ret = CI_PipelineReleaseShot(pCIPipeline, shot.pCIBuffer);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to release the buffer (returned %d)\n", ret);
        return QOR_RES_FAILED;
    }
    shot.DISPLAY = Buffer();
    shot.YUV = Buffer();
    shot.BAYER = Buffer();
    shot.HDREXT = Buffer();
    shot.RAW2DEXT = Buffer();
    // Released: the shot no longer holds a driver shot, so it cannot be given back twice.
    shot.pCIBuffer = nullptr;
    return QOR_RES_OK;
}

#undef PIPELINE_REFUSE_IN_ERROR

} // namespace ISPC
