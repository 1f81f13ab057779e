/* The dispatchers of the sensor API: argument checks, then the driver's operation. */

#include <cstring>

#include "norvacommon/userlog.h"
#include "sensorapi/sensorapi.h"

namespace {

// The list a driver without extra parameters reports.
const char *NotSupported[] = {nullptr};

// Extra parameters are addressed by an 8-bit index, so only the first 256 names can be reached.
constexpr unsigned kMaxExtraParams = 256;

} // namespace

// The checks log with the dispatcher's own name, so they are macros expanded inside it.
#define SENSOR_CHECK_HANDLE(h)                                                                                         \
    do {                                                                                                               \
        if (!(h)) {                                                                                                    \
            QOR_LOG_ERROR(SENSOR_LOG_TAG, "hHandle is NULL\n");                                                        \
            return QOR_RES_INVALID_PARAM;                                                                              \
        }                                                                                                              \
    } while (0)

#define SENSOR_CHECK_POINTER(isNull, message)                                                                          \
    do {                                                                                                               \
        if (isNull) {                                                                                                  \
            QOR_LOG_ERROR(SENSOR_LOG_TAG, message);                                                                    \
            return QOR_RES_INVALID_PARAM;                                                                              \
        }                                                                                                              \
    } while (0)

// Operations every driver has: an empty slot is a failure worth a message.
#define SENSOR_REQUIRE_SLOT(h, slot)                                                                                   \
    do {                                                                                                               \
        if (!(h)->slot) {                                                                                              \
            QOR_LOG_ERROR(SENSOR_LOG_TAG, #slot " is not defined!\n");                                                 \
            return QOR_RES_FAILED;                                                                                     \
        }                                                                                                              \
    } while (0)

// Operations only some drivers have: an empty slot quietly means "not supported".
#define SENSOR_OPTIONAL_SLOT(h, slot)                                                                                  \
    do {                                                                                                               \
        if (!(h)->slot) {                                                                                              \
            return QOR_RES_NOT_SUPPORTED;                                                                              \
        }                                                                                                              \
    } while (0)

QOR_RESULT Sensor_GetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nIndex, SENSOR_MODE *psModes) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!psModes, "psModes is NULL\n");
    std::memset(psModes, 0, sizeof(*psModes));
    SENSOR_REQUIRE_SLOT(hHandle, GetMode);
    return hHandle->GetMode(hHandle, nIndex, psModes);
}

QOR_RESULT Sensor_GetState(SENSOR_HANDLE hHandle, SENSOR_STATUS *psStatus) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!psStatus, "psStatus is NULL\n");
    SENSOR_REQUIRE_SLOT(hHandle, GetState);
    return hHandle->GetState(hHandle, psStatus);
}

QOR_RESULT Sensor_SetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_REQUIRE_SLOT(hHandle, SetMode);
    return hHandle->SetMode(hHandle, nMode, ui8Flipping);
}

QOR_RESULT Sensor_Enable(SENSOR_HANDLE hHandle) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_REQUIRE_SLOT(hHandle, Enable);
    return hHandle->Enable(hHandle);
}

QOR_RESULT Sensor_Disable(SENSOR_HANDLE hHandle) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_REQUIRE_SLOT(hHandle, Disable);
    return hHandle->Disable(hHandle);
}

QOR_RESULT Sensor_Destroy(SENSOR_HANDLE hHandle) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_REQUIRE_SLOT(hHandle, Destroy);
    return hHandle->Destroy(hHandle);
}

QOR_RESULT Sensor_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!psInfo, "psInfo is NULL\n");
    std::memset(psInfo, 0, sizeof(*psInfo));
    SENSOR_REQUIRE_SLOT(hHandle, GetInfo);

    QOR_RESULT ret = Sensor_GetState(hHandle, &psInfo->sStatus);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(SENSOR_LOG_TAG, "failed to get sensor's state\n");
        return ret;
    }
    // The driver fills the static facts and leaves status and mode alone.
    ret = hHandle->GetInfo(hHandle, psInfo);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(SENSOR_LOG_TAG, "failed to get sensor's info\n");
        return ret;
    }
    ret = Sensor_GetMode(hHandle, psInfo->sStatus.ui16CurrentMode, &psInfo->sMode);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(SENSOR_LOG_TAG, "failed to get sensor's mode\n");
        return ret;
    }
    return QOR_RES_OK;
}

QOR_RESULT Sensor_GetGainRange(SENSOR_HANDLE hHandle, double *pflMin, double *pflMax, QOR_UINT8 *puiContexts) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!pflMin || !pflMax || !puiContexts, "pflMin, pflMax or puiContexts is NULL\n");
    SENSOR_REQUIRE_SLOT(hHandle, GetGainRange);
    return hHandle->GetGainRange(hHandle, pflMin, pflMax, puiContexts);
}

QOR_RESULT Sensor_GetCurrentGain(SENSOR_HANDLE hHandle, double *pflCurrent, QOR_UINT8 ui8Context) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!pflCurrent, "pflCurrent is NULL\n");
    SENSOR_REQUIRE_SLOT(hHandle, GetCurrentGain);
    return hHandle->GetCurrentGain(hHandle, pflCurrent, ui8Context);
}

QOR_RESULT Sensor_GetExposureRange(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Min, QOR_UINT32 *pui32Max,
                                   QOR_UINT8 *pui8Contexts) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!pui32Min || !pui32Max || !pui8Contexts, "pui32Min, pui32Max or pui8Contexts is NULL\n");
    SENSOR_REQUIRE_SLOT(hHandle, GetExposureRange);
    return hHandle->GetExposureRange(hHandle, pui32Min, pui32Max, pui8Contexts);
}

QOR_RESULT Sensor_GetExposure(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Exposure, QOR_UINT8 ui8Context) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!pui32Exposure, "pui32Exposure is NULL\n");
    SENSOR_REQUIRE_SLOT(hHandle, GetExposure);
    return hHandle->GetExposure(hHandle, pui32Exposure, ui8Context);
}

QOR_RESULT Sensor_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_REQUIRE_SLOT(hHandle, SetExposureGain);

    if (hHandle->GetExposureRange) {
        QOR_UINT32 expMin = 0;
        QOR_UINT32 expMax = 0;
        QOR_UINT8 contexts = 0;
        const QOR_RESULT ret = hHandle->GetExposureRange(hHandle, &expMin, &expMax, &contexts);
        if (ret != QOR_RES_OK) {
            return ret;
        }
        if (ui32Exposure > expMax) {
            QOR_LOG_WARNING(SENSOR_LOG_TAG, "Exposure value %u is greater than maximum value, set exposure = %u\n",
                            ui32Exposure, expMax);
            ui32Exposure = expMax;
        } else if (ui32Exposure < expMin) {
            QOR_LOG_WARNING(SENSOR_LOG_TAG, "Exposure value %u is lower than minimum value, set exposure = %u\n",
                            ui32Exposure, expMin);
            ui32Exposure = expMin;
        }
    }
    if (hHandle->GetGainRange) {
        double gainMin = 0.0;
        double gainMax = 0.0;
        QOR_UINT8 contexts = 0;
        const QOR_RESULT ret = hHandle->GetGainRange(hHandle, &gainMin, &gainMax, &contexts);
        if (ret != QOR_RES_OK) {
            return ret;
        }
        if (flGain > gainMax) {
            QOR_LOG_WARNING(SENSOR_LOG_TAG, "Gain value %f is greater than maximum value, set gain = %f\n", flGain,
                            gainMax);
            flGain = gainMax;
        } else if (!(flGain >= gainMin)) {
            // Also catches a gain that is not a number, which no driver can turn into a register code.
            QOR_LOG_WARNING(SENSOR_LOG_TAG, "Gain value %f is lower than minimum value, set gain = %f\n", flGain,
                            gainMin);
            flGain = gainMin;
        }
    }
    return hHandle->SetExposureGain(hHandle, ui32Exposure, flGain, ui8Context);
}

QOR_RESULT Sensor_GetFocusRange(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Min, QOR_UINT16 *pui16Max) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!pui16Min || !pui16Max, "pui16Min or pui16Max is NULL\n");
    SENSOR_OPTIONAL_SLOT(hHandle, GetFocusRange);
    return hHandle->GetFocusRange(hHandle, pui16Min, pui16Max);
}

QOR_RESULT Sensor_GetCurrentFocus(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Current) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!pui16Current, "pui16Current is NULL\n");
    SENSOR_OPTIONAL_SLOT(hHandle, GetCurrentFocus);
    return hHandle->GetCurrentFocus(hHandle, pui16Current);
}

QOR_RESULT Sensor_SetFocus(SENSOR_HANDLE hHandle, QOR_UINT16 ui16Focus) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_OPTIONAL_SLOT(hHandle, SetFocus);

    if (hHandle->GetFocusRange) {
        QOR_UINT16 focusMin = 0;
        QOR_UINT16 focusMax = 0;
        const QOR_RESULT ret = hHandle->GetFocusRange(hHandle, &focusMin, &focusMax);
        if (ret != QOR_RES_OK) {
            return ret;
        }
        if (ui16Focus > focusMax) {
            QOR_LOG_WARNING(SENSOR_LOG_TAG, "Focus value %u is greater than maximum value, set focus = %u\n",
                            unsigned{ui16Focus}, unsigned{focusMax});
            ui16Focus = focusMax;
        } else if (ui16Focus < focusMin) {
            QOR_LOG_WARNING(SENSOR_LOG_TAG, "Focus value %u is lower than minimum value, set focus = %u\n",
                            unsigned{ui16Focus}, unsigned{focusMin});
            ui16Focus = focusMin;
        }
    }
    return hHandle->SetFocus(hHandle, ui16Focus);
}

QOR_RESULT Sensor_ConfigureFlash(SENSOR_HANDLE hHandle, QOR_BOOL bAlwaysOn, QOR_INT16 i16FrameDelay,
                                 QOR_INT16 i16Frames, QOR_UINT16 ui16FlashPulseWidth) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_OPTIONAL_SLOT(hHandle, ConfigureFlash);
    return hHandle->ConfigureFlash(hHandle, bAlwaysOn, i16FrameDelay, i16Frames, ui16FlashPulseWidth);
}

QOR_RESULT Sensor_Insert(SENSOR_HANDLE hHandle) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_OPTIONAL_SLOT(hHandle, Insert);
    return hHandle->Insert(hHandle);
}

QOR_RESULT Sensor_WaitProcessed(SENSOR_HANDLE hHandle) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_OPTIONAL_SLOT(hHandle, WaitProcessed);
    return hHandle->WaitProcessed(hHandle);
}

const char **Sensor_GetSupportedExtraParams(SENSOR_HANDLE hHandle) {
    if (!hHandle) {
        QOR_LOG_ERROR(SENSOR_LOG_TAG, "hHandle is NULL\n");
        return NotSupported;
    }
    if (!hHandle->GetSupportedExtraParams) {
        return NotSupported;
    }
    // A driver that answers with no list at all has no extra parameters either.
    const char **names = hHandle->GetSupportedExtraParams(hHandle);
    return names ? names : NotSupported;
}

namespace {

// The index of sName in the driver's list of extra parameters, or -1.
int extraParamIndex(SENSOR_HANDLE hHandle, const char *sName) {
    const char **names = hHandle->GetSupportedExtraParams(hHandle);
    if (!names) {
        return -1;
    }
    for (unsigned i = 0; i < kMaxExtraParams && names[i]; ++i) {
        if (std::strcmp(names[i], sName) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace

QOR_RESULT Sensor_SetExtraParam(SENSOR_HANDLE hHandle, const char *sName, QOR_UINT8 ui8Value) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!sName, "sName is NULL\n");
    SENSOR_OPTIONAL_SLOT(hHandle, SetExtraParam);
    SENSOR_OPTIONAL_SLOT(hHandle, GetSupportedExtraParams);
    const int index = extraParamIndex(hHandle, sName);
    if (index < 0) {
        return QOR_RES_NOT_SUPPORTED;
    }
    return hHandle->SetExtraParam(hHandle, static_cast<QOR_UINT8>(index), ui8Value);
}

QOR_RESULT Sensor_GetExtraParam(SENSOR_HANDLE hHandle, const char *sName, QOR_UINT8 *pui8Value) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!sName, "sName is NULL\n");
    SENSOR_CHECK_POINTER(!pui8Value, "pui8Value is NULL\n");
    SENSOR_OPTIONAL_SLOT(hHandle, GetExtraParam);
    SENSOR_OPTIONAL_SLOT(hHandle, GetSupportedExtraParams);
    const int index = extraParamIndex(hHandle, sName);
    if (index < 0) {
        return QOR_RES_NOT_SUPPORTED;
    }
    return hHandle->GetExtraParam(hHandle, static_cast<QOR_UINT8>(index), pui8Value);
}

QOR_RESULT Sensor_SetPhyConnection(SENSOR_HANDLE hHandle, CI_CONNECTION *pConn) {
    SENSOR_CHECK_HANDLE(hHandle);
    SENSOR_CHECK_POINTER(!pConn, "pConn is NULL\n");
    // A driver that receives its connection another way has nothing to take here.
    if (!hHandle->SetConnection) {
        return QOR_RES_OK;
    }
    return hHandle->SetConnection(hHandle, pConn);
}
