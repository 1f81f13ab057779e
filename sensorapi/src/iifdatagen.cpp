// "DOR Idazida": the pseudo-sensor that plays an NRV file into the ISP through an internal data generator.
#include "sensors/iifdatagen.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "norvacommon/userlog.h"
#include "sensors/sensor_drivers.h"

#include "sim_image_mosaic.h"

namespace {

constexpr const char *kTag = IIFDG_LOG_TAG;

IIF_DGCAM_SENSOR *sensorOf(SENSOR_HANDLE h) { return reinterpret_cast<IIF_DGCAM_SENSOR *>(h); }

/** Parallel depth used for a file of the given depth: 10 up to 10 bits, 12 for 11 and 12, else 0. */
QOR_UINT8 parallelDepthOf(QOR_UINT8 fileDepth) {
    if (fileDepth <= 10)
        return 10;
    if (fileDepth <= 12)
        return 12;
    return 0;
}

/** Blanking beyond the 16-bit field saturates rather than wrapping to a small value. */
QOR_UINT16 saturate16(QOR_UINT32 v) {
    return v > 0xFFFFu ? static_cast<QOR_UINT16>(0xFFFFu) : static_cast<QOR_UINT16>(v);
}

bool isRunning(SENSOR_HANDLE h) {
    SENSOR_STATUS status{};
    IIFDG_GetState(h, &status);
    return status.eState == SENSOR_STATE_RUNNING;
}

/** Forgets the frame held in the reader's buffer and its packed form. */
void forgetHeldFrame(IIF_DGCAM_SENSOR *s) {
    s->i32LoadedFrame = -1;
    s->bPackedValid = QOR_FALSE;
}

void freePacked(IIF_DGCAM_SENSOR *s) {
    std::free(s->pPacked);
    s->pPacked = nullptr;
    s->ui32PackedSize = 0;
    s->bPackedValid = QOR_FALSE;
}

void destroyDatagen(IIF_DGCAM_SENSOR *s) {
    if (s->pDatagen)
        CI_DatagenDestroy(s->pDatagen);
    s->pDatagen = nullptr;
}

} // namespace

/* The checks log with the operation's own name, so they are macros expanded inside it. */
#define IIFDG_CHECK_HANDLE(h)                                                                                          \
    do {                                                                                                               \
        if (!(h)) {                                                                                                    \
            QOR_LOG_ERROR(kTag, "NULL handle given\n");                                                                \
            return QOR_RES_NOT_INITIALISED;                                                                            \
        }                                                                                                              \
    } while (0)

#define IIFDG_CHECK_POINTER(p, message)                                                                                \
    do {                                                                                                               \
        if (!(p)) {                                                                                                    \
            QOR_LOG_ERROR(kTag, message);                                                                              \
            return QOR_RES_INVALID_PARAM;                                                                              \
        }                                                                                                              \
    } while (0)

#define IIFDG_REFUSE_WHILE_RUNNING(h, message)                                                                         \
    do {                                                                                                               \
        if (isRunning(h)) {                                                                                            \
            QOR_LOG_ERROR(kTag, message, static_cast<int>(SENSOR_STATE_RUNNING));                                      \
            return QOR_RES_WRONG_STATE;                                                                                \
        }                                                                                                              \
    } while (0)

extern "C" {

QOR_RESULT IIFDG_Create(SENSOR_HANDLE *phHandle) {
    if (!phHandle) {
        QOR_LOG_ERROR(kTag, "phHandle is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    *phHandle = nullptr;
    IIF_DGCAM_SENSOR *s = static_cast<IIF_DGCAM_SENSOR *>(std::calloc(1, sizeof(IIF_DGCAM_SENSOR)));
    if (!s) {
        QOR_LOG_ERROR(kTag, "Failed to allocate internal structure (%zd bytes)\n", sizeof(IIF_DGCAM_SENSOR));
        return QOR_RES_NO_MEMORY;
    }
    SENSOR_FUNCS &f = s->sFuncs;
    f.GetMode = IIFDG_GetMode;
    f.GetState = IIFDG_GetState;
    f.SetMode = IIFDG_SetMode;
    f.Enable = IIFDG_Enable;
    f.Disable = IIFDG_Disable;
    f.Destroy = IIFDG_Destroy;
    f.GetInfo = IIFDG_GetInfo;
    f.GetGainRange = IIFDG_GetGainRange;
    f.GetCurrentGain = IIFDG_GetCurrentGain;
    f.GetExposureRange = IIFDG_GetExposureRange;
    f.GetExposure = IIFDG_GetExposure;
    f.SetExposureGain = IIFDG_SetExposureGain;
    f.Insert = IIFDG_Insert;
    f.WaitProcessed = IIFDG_WaitProcessed;
    SimImageIn_init(&s->sImage);
    s->ui32BuffersCount = 1;
    forgetHeldFrame(s);
    *phHandle = &s->sFuncs;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_GetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nIndex, SENSOR_MODE *psModes) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(psModes, "NULL psModes given\n");
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    if (nIndex != 0) {
        QOR_LOG_ERROR(kTag, "only supports mode 0\n");
        return QOR_RES_INVALID_MODE;
    }
    if (!s->pszFilename) {
        QOR_LOG_ERROR(kTag, "must specify the source NRV file before getMode\n");
        return QOR_RES_UNAVAILABLE;
    }
    psModes->ui8BitDepth = s->sImage.info.ui8BitDepth;
    psModes->ui16Width = static_cast<QOR_UINT16>(s->sImage.info.ui32Width & 0xFFFF);
    psModes->ui16Height = static_cast<QOR_UINT16>(s->sImage.info.ui32Height & 0xFFFF);
    psModes->ui16HorizontalTotal = static_cast<QOR_UINT16>(psModes->ui16Width + s->ui16HBlanking);
    psModes->ui16VerticalTotal = static_cast<QOR_UINT16>(psModes->ui16Height + s->ui16VBlanking);
    psModes->flFrameRate = IIFDG_FRAME_RATE;
    psModes->flPixelRate =
        static_cast<double>(psModes->ui16HorizontalTotal) * psModes->ui16VerticalTotal * IIFDG_FRAME_RATE;
    psModes->ui8SupportFlipping = SENSOR_FLIP_NONE;
    psModes->ui8MipiLanes = 0;
    psModes->ui32ExposureMin = 0;
    psModes->ui32ExposureMax = 0;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_GetState(SENSOR_HANDLE hHandle, SENSOR_STATUS *psStatus) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(psStatus, "NULL psStatus given\n");
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    psStatus->ui16CurrentMode = 0;
    psStatus->eState = SENSOR_STATE_UNINITIALISED;
    if (s->pDatagen && s->pszFilename) {
        psStatus->eState = CI_DatagenIsStarted(s->pDatagen) ? SENSOR_STATE_RUNNING : SENSOR_STATE_IDLE;
    }
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_SetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping) {
    IIFDG_CHECK_HANDLE(hHandle);
    if (nMode != 0) {
        QOR_LOG_ERROR(kTag, "supports only mode 0!\n");
        return QOR_RES_INVALID_MODE;
    }
    if (ui8Flipping != 0) {
        QOR_LOG_ERROR(kTag, "cannot enable flipping!\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(psInfo, "NULL psInfo given\n");
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    std::snprintf(psInfo->pszSensorName, sizeof(psInfo->pszSensorName), "%s", IIFDG_SENSOR_NAME);
    psInfo->fNumber = 0.0;
    psInfo->fPixelSize = 1.0;
    psInfo->ui16FocalLength = 0;
    psInfo->ui32WellDepth = 0;
    psInfo->flReadNoise = 0.0;
    psInfo->ui8Imager = s->ui8Gasket;
    psInfo->bBackFacing = QOR_TRUE;
    if (s->pConnection) {
        const CI_HWINFO &hw = s->pConnection->sHWInfo;
        std::snprintf(psInfo->pszSensorVersion, sizeof(psInfo->pszSensorVersion), "%d.%d.%d", hw.rev_ui8Major,
                      hw.rev_ui8Minor, hw.rev_ui8Maint);
    } else {
        QOR_LOG_WARNING(kTag, "need the connection to have been set to get version\n");
        std::snprintf(psInfo->pszSensorVersion, sizeof(psInfo->pszSensorVersion), "%s", "not-verified");
    }
    if (!s->pszFilename) {
        QOR_LOG_WARNING(kTag, "need a filename to have been selected before getting all dg sensor information!\n");
        psInfo->eBayerOriginal = MOSAIC_RGGB;
        return QOR_RES_OK;
    }
    const MOSAICType mosaic = SimImageMosaicOf(s->sImage.info.eColourModel);
    if (mosaic == MOSAIC_NONE) {
        QOR_LOG_ERROR(kTag, "un-expected image format!\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    psInfo->eBayerOriginal = mosaic;
    psInfo->eBayerEnabled = mosaic;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_GetGainRange(SENSOR_HANDLE hHandle, double *pflMin, double *pflMax, QOR_UINT8 *puiContexts) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(pflMin && pflMax && puiContexts, "NULL pointer given\n");
    *pflMin = 1.0;
    *pflMax = 1.0;
    *puiContexts = 0;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_GetCurrentGain(SENSOR_HANDLE hHandle, double *pflCurrent, QOR_UINT8 /*ui8Context*/) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(pflCurrent, "NULL pointer given\n");
    *pflCurrent = 1.0;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_GetExposureRange(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Min, QOR_UINT32 *pui32Max,
                                  QOR_UINT8 *pui8Contexts) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(pui32Min && pui32Max && pui8Contexts, "NULL pointer given\n");
    SENSOR_MODE mode{};
    const QOR_RESULT ret = IIFDG_GetMode(hHandle, 0, &mode);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "could not get sensor mode\n");
        return ret;
    }
    *pui32Max = static_cast<QOR_UINT32>(1000000.0 / mode.flFrameRate);
    *pui32Min = *pui32Max / 1000;
    *pui8Contexts = 0;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_GetExposure(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Exposure, QOR_UINT8 ui8Context) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(pui32Exposure, "NULL pointer given\n");
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    if (ui8Context != 0) {
        QOR_LOG_ERROR(kTag, "supports only sensor context 0\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    QOR_UINT32 minimum = 0, maximum = 0;
    QOR_UINT8 contexts = 0;
    const QOR_RESULT ret = IIFDG_GetExposureRange(hHandle, &minimum, &maximum, &contexts);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "could not get exposure ranges\n");
        return ret;
    }
    if (s->ui32CurrentExposure == 0) {
        const QOR_UINT32 product = minimum * maximum; /* fits: at most 999 x 999999 */
        s->ui32CurrentExposure = static_cast<QOR_UINT32>(std::sqrt(static_cast<double>(product)));
    }
    *pui32Exposure = s->ui32CurrentExposure;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain,
                                 QOR_UINT8 /*ui8Context*/) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    if (flGain != 1.0) {
        QOR_LOG_ERROR(kTag, "cannot change gain\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    QOR_UINT32 minimum = 0, maximum = 0;
    QOR_UINT8 contexts = 0;
    const QOR_RESULT ret = IIFDG_GetExposureRange(hHandle, &minimum, &maximum, &contexts);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "could not get exposure ranges\n");
        return ret;
    }
    if (ui32Exposure < minimum || ui32Exposure > maximum) {
        QOR_LOG_ERROR(kTag, "given exposure %d is illegal (mode=%d min=%d max=%d)\n", static_cast<int>(ui32Exposure),
                      static_cast<int>(s->ui8Mode), static_cast<int>(minimum), static_cast<int>(maximum));
        return QOR_RES_INVALID_PARAM;
    }
    s->ui32CurrentExposure = ui32Exposure;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_Enable(SENSOR_HANDLE hHandle) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    if (!s->pszFilename || !s->pConnection) {
        QOR_LOG_ERROR(kTag, "selecting a connection and an input file is needed before enabling the sensor!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    s->ui32FrameNoToLoad = 0;
    destroyDatagen(s);
    QOR_RESULT ret = CI_DatagenCreate(&s->pDatagen, s->pConnection);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to create datagen object! Can HW support it?\n");
        s->pDatagen = nullptr;
        return ret;
    }
    CI_DATAGEN *dg = s->pDatagen;
    dg->ui8Gasket = s->ui8Gasket;
    dg->ui8IIFDGIndex = s->ui8IIFDG;
    dg->eFormat = CI_DGFMT_PARALLEL;
    dg->bPreload = s->bPreload;
    const SimImageInfo &info = s->sImage.info;
    const QOR_UINT8 depth = parallelDepthOf(info.ui8BitDepth);
    if (depth == 0) {
        QOR_LOG_ERROR(kTag, "input bit depth %d isn't supported (PARALLEL max is 12b)\n", info.ui8BitDepth);
        return QOR_RES_NOT_SUPPORTED;
    }
    dg->ui8FormatBitdepth = depth;
    dg->eBayerMosaic = SimImageMosaicOf(info.eColourModel);
    if (dg->eBayerMosaic == MOSAIC_NONE) {
        QOR_LOG_ERROR(kTag, "un-expected input format!\n");
        return QOR_RES_NOT_SUPPORTED;
    }

    /* The converter changes with the configuration: what was packed before is not reused. */
    s->bPackedValid = QOR_FALSE;
    do {
        ret = CI_ConverterConfigure(&s->sConverter, CI_DGFMT_PARALLEL, depth);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "failed to configure image converter from loaded image format!\n");
            break;
        }
        const QOR_UINT32 frameSize = CI_ConverterFrameSize(&s->sConverter, info.ui32Width, info.ui32Height);
        if (frameSize == 0) {
            QOR_LOG_ERROR(kTag, "failed to get frame size from image's sizes\n");
            ret = QOR_RES_FAILED;
            break;
        }
        for (QOR_UINT32 i = 0; i < s->ui32BuffersCount && ret == QOR_RES_OK; ++i) {
            ret = CI_DatagenAllocateFrame(dg, frameSize, nullptr);
            if (ret != QOR_RES_OK) {
                QOR_LOG_ERROR(kTag, "failed to allocate frame %d/%d\n", static_cast<int>(i + 1),
                              static_cast<int>(s->ui32BuffersCount));
            }
        }
        if (ret != QOR_RES_OK)
            break;
        ret = CI_DatagenStart(dg);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "failed to start datagen!\n");
            break;
        }
        return QOR_RES_OK;
    } while (false);
    destroyDatagen(s);
    return ret;
}

QOR_RESULT IIFDG_Insert(SENSOR_HANDLE hHandle) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    if (!isRunning(hHandle)) {
        QOR_LOG_ERROR(kTag, "cannot insert before enabling the sensor!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    CI_DG_FRAME *frame = CI_DatagenGetAvailableFrame(s->pDatagen);
    if (!frame) {
        QOR_LOG_ERROR(kTag, "failed to acquire an available frame\n");
        return QOR_RES_IN_PROGRESS;
    }
    QOR_RESULT ret = QOR_RES_OK;
    do {
        /* One packing buffer for every frame; it only changes if the generator's buffers do. */
        if (!s->pPacked || s->ui32PackedSize != frame->ui32AllocSize) {
            freePacked(s);
            s->pPacked = static_cast<QOR_UINT8 *>(std::malloc(frame->ui32AllocSize ? frame->ui32AllocSize : 1));
            if (!s->pPacked) {
                QOR_LOG_ERROR(kTag, "failed to allocate temporary memory\n");
                ret = QOR_RES_NO_MEMORY;
                break;
            }
            s->ui32PackedSize = frame->ui32AllocSize;
        }
        const QOR_UINT32 frameNo = s->ui32FrameNoToLoad;
        /* A frame already in the reader's buffer is not read from the file again. */
        if (s->i32LoadedFrame < 0 || static_cast<QOR_UINT32>(s->i32LoadedFrame) != frameNo) {
            forgetHeldFrame(s);
            ret = frameNo > 0x7FFFFFFFu ? QOR_RES_INVALID_PARAM
                                        : SimImageIn_convertFrame(&s->sImage, static_cast<QOR_INT32>(frameNo));
            if (ret != QOR_RES_OK) {
                QOR_LOG_ERROR(kTag, "failed to load frame %d from '%s'\n", static_cast<int>(frameNo), s->pszFilename);
                break;
            }
            s->i32LoadedFrame = static_cast<QOR_INT32>(frameNo);
        }
        /* Nor packed again when the packing buffer already holds it. */
        if (!s->bPackedValid) {
            CI_DG_FRAME packed = *frame;
            packed.data = s->pPacked;
            ret = CI_ConverterConvertFrame(&s->sConverter, &s->sImage, &packed);
            if (ret != QOR_RES_OK) {
                QOR_LOG_ERROR(kTag, "failed to convert frame!\n");
                break;
            }
            s->sPackedFrame = packed;
            s->bPackedValid = QOR_TRUE;
        }
        CI_DG_FRAME out = s->sPackedFrame;
        out.data = frame->data;
        out.ui32AllocSize = frame->ui32AllocSize;
        out.ui32FrameID = frame->ui32FrameID;
        out.ui32HorizontalBlanking = s->ui16HBlanking;
        out.ui32VerticalBlanking = s->ui16VBlanking;
        /* The mapping is written once, sequentially, in one copy of the whole buffer. */
        std::memcpy(frame->data, s->pPacked, frame->ui32AllocSize);
        *frame = out;
        ret = CI_DatagenInsertFrame(frame);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "failed to trigger frame!\n");
            break;
        }
        /* Only a frame that was sent moves the sequence on: a refused insertion sends the same frame next time. */
        if (s->bIsVideo) {
            s->ui32FrameNoToLoad = frameNo + 1;
            if (s->ui32FrameCount != 0)
                s->ui32FrameNoToLoad %= s->ui32FrameCount;
        }
        return QOR_RES_OK;
    } while (false);
    CI_DatagenReleaseFrame(frame);
    return ret;
}

QOR_RESULT IIFDG_WaitProcessed(SENSOR_HANDLE hHandle) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    if (!isRunning(hHandle)) {
        QOR_LOG_ERROR(kTag, "cannot wait for processed frame if not enabled!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    return CI_DatagenWaitProcessedFrame(s->pDatagen, QOR_TRUE);
}

QOR_RESULT IIFDG_Disable(SENSOR_HANDLE hHandle) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    if (!isRunning(hHandle)) {
        QOR_LOG_ERROR(kTag, "cannot disable before enabling the sensor!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (CI_DatagenStop(s->pDatagen) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to stop the data-generator!\n");
        return QOR_RES_FAILED;
    }
    for (QOR_UINT32 i = 0; i < s->ui32BuffersCount; ++i) {
        CI_DG_FRAME *frame = CI_DatagenGetAvailableFrame(s->pDatagen);
        if (!frame) {
            QOR_LOG_WARNING(kTag, "failed to get frame %d/%d for destruction\n", static_cast<int>(i + 1),
                            static_cast<int>(s->ui32BuffersCount));
            continue;
        }
        if (CI_DatagenDestroyFrame(frame) != QOR_RES_OK) {
            QOR_LOG_WARNING(kTag, "failed to destroy frame %d/%d\n", static_cast<int>(i + 1),
                            static_cast<int>(s->ui32BuffersCount));
        }
    }
    destroyDatagen(s);
    freePacked(s);
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_Destroy(SENSOR_HANDLE hHandle) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    if (isRunning(hHandle)) {
        QOR_LOG_WARNING(kTag, "destroying a running sensor! forces to stop\n");
        if (IIFDG_Disable(hHandle) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "could not stop a sensor before destruction!\n");
        }
    }
    /* A generator left stopped by a refused enable (or one that could not be stopped) goes with the sensor. */
    destroyDatagen(s);
    std::free(s->pszFilename);
    SimImageIn_close(&s->sImage);
    CI_ConverterClear(&s->sConverter);
    freePacked(s);
    std::free(s);
    return QOR_RES_OK;
}

/* ------------------------------------------------------------------------------------------- extra settings */

QOR_RESULT IIFDG_ExtendedSetConnection(SENSOR_HANDLE hHandle, CI_CONNECTION *pConnection) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    IIFDG_CHECK_POINTER(pConnection, "NULL conn given\n");
    if (s->pConnection)
        return QOR_RES_ALREADY;
    s->pConnection = pConnection;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedSetSourceFile(SENSOR_HANDLE hHandle, const char *filename) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    IIFDG_REFUSE_WHILE_RUNNING(hHandle, "sensor is in wrong state %d to change parameter source file\n");
    IIFDG_CHECK_POINTER(filename, "NULL filename given\n");
    /* The copy is made before the previous name is freed: the name given may be the stored one (a reload). */
    char *copy = strdup(filename);
    std::free(s->pszFilename);
    s->pszFilename = copy;
    SimImageIn_close(&s->sImage);
    forgetHeldFrame(s);
    QOR_RESULT ret = QOR_RES_OK;
    if (!copy) {
        QOR_LOG_ERROR(kTag, "failed to load '%s'\n", "(no memory for the name)");
        ret = QOR_RES_NO_MEMORY;
    } else if (SimImageIn_loadNRV(&s->sImage, copy) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to load '%s'\n", copy);
        SimImageIn_close(&s->sImage); /* no file loaded: no frame count either */
        ret = QOR_RES_INVALID_PARAM;
    }
    s->ui32FrameCount = s->sImage.nFrames;
    QOR_LOG_INFO(kTag, "change input file to '%s' containing %d frames\n", copy ? copy : "",
                 static_cast<int>(s->ui32FrameCount));
    if (ret != QOR_RES_OK) {
        std::free(s->pszFilename);
        s->pszFilename = nullptr;
    }
    return ret;
}

QOR_RESULT IIFDG_ExtendedGetSourceFile(SENSOR_HANDLE hHandle, const char **filename) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(filename, "NULL filename given\n");
    *filename = sensorOf(hHandle)->pszFilename;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedSetGasket(SENSOR_HANDLE hHandle, QOR_UINT8 ui8Gasket) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_REFUSE_WHILE_RUNNING(hHandle, "sensor is in wrong state %d to change gasket\n");
    sensorOf(hHandle)->ui8Gasket = ui8Gasket;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedGetGasket(SENSOR_HANDLE hHandle, QOR_UINT8 *pGasket) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(pGasket, "NULL pGasket given\n");
    *pGasket = sensorOf(hHandle)->ui8Gasket;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedSetDatagen(SENSOR_HANDLE hHandle, QOR_UINT8 ui8Context) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_REFUSE_WHILE_RUNNING(hHandle, "sensor is in wrong state %d to change Datagen context\n");
    sensorOf(hHandle)->ui8IIFDG = ui8Context;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedGetDatagen(SENSOR_HANDLE hHandle, QOR_UINT8 *pContext) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(pContext, "NULL pContext given\n");
    *pContext = sensorOf(hHandle)->ui8IIFDG;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedSetFrameCap(SENSOR_HANDLE hHandle, QOR_UINT32 ui32FrameCap) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    if (ui32FrameCap > s->sImage.nFrames) {
        QOR_LOG_ERROR(kTag, "currently loaded image is %d frames - proposed cap of %d is not possible\n",
                      static_cast<int>(s->sImage.nFrames), static_cast<int>(ui32FrameCap));
        return QOR_RES_NOT_SUPPORTED;
    }
    s->ui32FrameCount = ui32FrameCap;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedGetFrameCap(SENSOR_HANDLE hHandle, QOR_UINT32 *pFrameCap) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(pFrameCap, "NULL pFrameCap given\n");
    *pFrameCap = sensorOf(hHandle)->ui32FrameCount;
    return QOR_RES_OK;
}

QOR_UINT32 IIFDG_ExtendedGetFrameNO(SENSOR_HANDLE hHandle) {
    IIFDG_CHECK_HANDLE(hHandle);
    return sensorOf(hHandle)->ui32FrameNoToLoad;
}

QOR_UINT32 IIFDG_ExtendedGetFrameCount(SENSOR_HANDLE hHandle) {
    IIFDG_CHECK_HANDLE(hHandle);
    return sensorOf(hHandle)->sImage.nFrames;
}

QOR_RESULT IIFDG_ExtendedSetIsVideo(SENSOR_HANDLE hHandle, QOR_BOOL8 bIsVideo) {
    IIFDG_CHECK_HANDLE(hHandle);
    sensorOf(hHandle)->bIsVideo = bIsVideo;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedGetIsVideo(SENSOR_HANDLE hHandle, QOR_BOOL8 *pIsVideo) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(pIsVideo, "NULL pIsVideo given\n");
    *pIsVideo = sensorOf(hHandle)->bIsVideo;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedSetNbBuffers(SENSOR_HANDLE hHandle, QOR_UINT32 ui32NBuffers) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_REFUSE_WHILE_RUNNING(hHandle, "sensor is in wrong state %d to change number of buffers\n");
    sensorOf(hHandle)->ui32BuffersCount = ui32NBuffers;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedGetNbBuffers(SENSOR_HANDLE hHandle, QOR_UINT32 *pNBuffers) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(pNBuffers, "NULL pNBuffers given\n");
    *pNBuffers = sensorOf(hHandle)->ui32BuffersCount;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedSetBlanking(SENSOR_HANDLE hHandle, QOR_UINT32 ui32HBlanking, QOR_UINT32 ui32VBlanking) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIF_DGCAM_SENSOR *s = sensorOf(hHandle);
    s->ui16HBlanking = saturate16(ui32HBlanking);
    s->ui16VBlanking = saturate16(ui32VBlanking);
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedGetBlanking(SENSOR_HANDLE hHandle, QOR_UINT32 *pHBlanking, QOR_UINT32 *pVBlanking) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(pHBlanking && pVBlanking, "NULL pHBlanking or pVBlanking given\n");
    *pHBlanking = sensorOf(hHandle)->ui16HBlanking;
    *pVBlanking = sensorOf(hHandle)->ui16VBlanking;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedSetPreload(SENSOR_HANDLE hHandle, QOR_BOOL8 bPreload) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_REFUSE_WHILE_RUNNING(hHandle, "sensor is in wrong state %d to change the preload option\n");
    sensorOf(hHandle)->bPreload = bPreload;
    return QOR_RES_OK;
}

QOR_RESULT IIFDG_ExtendedGetPreload(SENSOR_HANDLE hHandle, QOR_BOOL8 *pbPreload) {
    IIFDG_CHECK_HANDLE(hHandle);
    IIFDG_CHECK_POINTER(pbPreload, "pbPreload is NULL\n");
    *pbPreload = sensorOf(hHandle)->bPreload;
    return QOR_RES_OK;
}

} // extern "C"
