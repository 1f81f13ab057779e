#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include "ci/ci_api.h"
#include "ci/ci_connection_internal.h"
#include "ci/ci_datagen.h"
#include "ci/ci_ioctrl.h"
#include "ci/ci_pipeline.h"
#include "norvacommon/userlog.h"

namespace {

constexpr const char *kTag = "CI_API";

/** The driver's error numbers the stack tells apart; any other value maps to 3. */
struct ErrnoRow {
    int driverError;
    QOR_RESULT result;
};
const ErrnoRow kErrnoTable[] = {
    {-EINVAL, QOR_RES_INVALID_PARAM},  {-E2BIG, QOR_RES_TOO_BIG},        {-EINTR, QOR_RES_INTERRUPTED},
    {-EEXIST, QOR_RES_ALREADY},        {-ENOMEM, QOR_RES_NO_MEMORY},     {-EADDRINUSE, QOR_RES_IN_USE},
    {-ECANCELED, QOR_RES_UNAVAILABLE}, {-EALREADY, QOR_RES_IN_PROGRESS}, {-EOPNOTSUPP, QOR_RES_NOT_SUPPORTED},
    {-ETIME, QOR_RES_TIMEOUT},
};

int control(INT_CONNECTION *conn, CI_eIOCTL nr, const void *arg) {
    return SYS_IO_Control(conn->fileDesc, CI_IOCTL_CMD(nr), static_cast<long>(reinterpret_cast<intptr_t>(arg)));
}

int controlValue(INT_CONNECTION *conn, CI_eIOCTL nr, long value) {
    return SYS_IO_Control(conn->fileDesc, CI_IOCTL_CMD(nr), value);
}

QOR_BOOL8 List_ClearPipeline(void *elem, void *param) {
    INT_PIPELINE *pipe = static_cast<INT_PIPELINE *>(elem);
    const QOR_RESULT ret = CI_PipelineDestroy(&pipe->publicPipeline);
    QOR_RESULT *first = static_cast<QOR_RESULT *>(param);
    if (ret != QOR_RES_OK && *first == QOR_RES_OK)
        *first = ret;
    return QOR_TRUE;
}

QOR_BOOL8 List_ClearIntdg(void *elem, void *param) {
    INT_INTDATAGEN *dg = static_cast<INT_INTDATAGEN *>(elem);
    const QOR_RESULT ret = CI_DatagenDestroy(&dg->publicDatagen);
    QOR_RESULT *first = static_cast<QOR_RESULT *>(param);
    if (ret != QOR_RES_OK && *first == QOR_RES_OK)
        *first = ret;
    return QOR_TRUE;
}

/** Sizes of the enabled contexts' parts of the line store; the starts have been checked. */
QOR_RESULT CI_LinestoreComputeSizes(const CI_HWINFO &hw, CI_LINESTORE *pLinestore) {
    const unsigned n = hw.config_ui8NContexts < CI_N_CONTEXT ? hw.config_ui8NContexts : CI_N_CONTEXT;
    QOR_UINT64 sum = 0;
    for (unsigned i = 0; i < CI_N_CONTEXT; ++i) {
        pLinestore->aSize[i] = 0;
    }
    for (unsigned i = 0; i < n; ++i) {
        const QOR_INT32 start = pLinestore->aStart[i];
        if (start < 0)
            continue;
        if (static_cast<QOR_UINT32>(start) >= hw.ui32MaxLineStore) {
            QOR_LOG_ERROR(kTag, "context %d linestore start (%u) is outside of the maximum possible linestore (%u)\n",
                          static_cast<int>(i), static_cast<unsigned>(start),
                          static_cast<unsigned>(hw.ui32MaxLineStore));
            return QOR_RES_INVALID_MODE;
        }
        QOR_UINT32 size = hw.ui32MaxLineStore - static_cast<QOR_UINT32>(start);
        if (hw.context_aMaxWidthSingle[i] < size)
            size = hw.context_aMaxWidthSingle[i];
        for (unsigned j = 0; j < n; ++j) {
            const QOR_INT32 other = pLinestore->aStart[j];
            if (j != i && other > start && static_cast<QOR_UINT32>(other - start) < size) {
                size = static_cast<QOR_UINT32>(other - start);
            }
        }
        pLinestore->aSize[i] = size;
        sum += size;
    }
    if (sum > hw.ui32MaxLineStore) {
        QOR_LOG_ERROR(kTag, "internal error while computing the linestore sizes: sum>maximum\n");
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

} // namespace

extern "C" {

QOR_RESULT toQorResult(int driverError) {
    if (driverError == 0)
        return QOR_RES_OK;
    for (const ErrnoRow &row : kErrnoTable) {
        if (row.driverError == driverError)
            return row.result;
    }
    return QOR_RES_FAILED;
}

QOR_RESULT CI_DriverInit(CI_CONNECTION **ppConnection) {
    if (ppConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "ppConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_CONNECTION *conn = static_cast<INT_CONNECTION *>(std::calloc(1, sizeof(INT_CONNECTION)));
    if (conn == nullptr) {
        QOR_LOG_ERROR(kTag, "failed to create internal connection object (%lu B)\n",
                      static_cast<unsigned long>(sizeof(INT_CONNECTION)));
        return QOR_RES_NO_MEMORY;
    }
    QOR_RESULT ret = List_init(&conn->sList_pipelines);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to create internal pipeline list\n");
        std::free(conn);
        return ret;
    }
    ret = List_init(&conn->sList_datagen);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to create internal datagen list\n");
        std::free(conn);
        return ret;
    }
    conn->fileDesc = SYS_IO_Open(CI_DEVICE_PATH, O_RDWR, 0);
    if (conn->fileDesc == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to initialise the device\n");
        std::free(conn);
        return QOR_RES_FAILED;
    }
    const int answer = control(conn, CI_INFO_GET, &conn->publicConnection);
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to ask for driver information (returned %d)\n", answer);
        if (SYS_IO_Close(conn->fileDesc) != 0)
            std::free(conn->fileDesc);
        std::free(conn);
        return toQorResult(answer);
    }
    if (conn->publicConnection.sHWInfo.uiSizeOfPipeline != CI_PIPELINE_DRIVER_SIZE) {
        QOR_LOG_ERROR(kTag,
                      "The kernel-side CI_PIPELINE driver is not compatible with the user-side. Are you using the "
                      "correct driver/app?\n");
        if (SYS_IO_Close(conn->fileDesc) != 0)
            std::free(conn->fileDesc);
        std::free(conn);
        return QOR_RES_FAILED;
    }
    *ppConnection = &conn->publicConnection;
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverFinalise(CI_CONNECTION *pConnection) {
    if (pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_CONNECTION *conn = INT_ConnectionFromHandle(pConnection);
    QOR_RESULT destroyFailure = QOR_RES_OK;
    List_visitor(&conn->sList_pipelines, &destroyFailure, List_ClearPipeline);
    List_visitor(&conn->sList_datagen, &destroyFailure, List_ClearIntdg);
    if (!List_isEmpty(&conn->sList_pipelines) || !List_isEmpty(&conn->sList_datagen)) {
        // A pipeline or generator that could not be destroyed still points at this connection: keep it (and
        // its device) alive rather than leave them dangling; the caller may finalise again.
        QOR_LOG_ERROR(kTag, "Failed to destroy %u pipeline(s) and %u data generator(s): the connection is kept\n",
                      static_cast<unsigned>(List_nElem(&conn->sList_pipelines)),
                      static_cast<unsigned>(List_nElem(&conn->sList_datagen)));
        return destroyFailure != QOR_RES_OK ? destroyFailure : QOR_RES_FAILED;
    }
    const int ret = SYS_IO_Close(conn->fileDesc);
    if (ret != 0) {
        // The kernel releases a descriptor even when its close reports an error, so nothing is left to retry:
        // free the records and report the failure as a result code.
        QOR_LOG_ERROR(kTag, "Failed to close the device (returned %d)\n", ret);
        std::free(conn->fileDesc);
        std::free(conn);
        return QOR_RES_FAILED;
    }
    std::free(conn);
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverVerifLinestore(CI_CONNECTION *pConnection, CI_LINESTORE *pLinestore) {
    if (pConnection == nullptr || pLinestore == nullptr) {
        QOR_LOG_ERROR(kTag, "pLinestore or pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    const CI_HWINFO &hw = pConnection->sHWInfo;
    const unsigned n = hw.config_ui8NContexts < CI_N_CONTEXT ? hw.config_ui8NContexts : CI_N_CONTEXT;
    unsigned enabled = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (pLinestore->aStart[i] < 0) {
            QOR_LOG_INFO(kTag, "context %d linestore disabled\n", static_cast<int>(i));
            continue;
        }
        enabled++;
        for (unsigned j = i + 1; j < n; ++j) {
            // Two enabled contexts starting at the same column overlap, column 0 included.
            if (pLinestore->aStart[j] >= 0 && pLinestore->aStart[j] == pLinestore->aStart[i]) {
                QOR_LOG_ERROR(kTag, "linestore for context %d and %d start at the same position\n", static_cast<int>(i),
                              static_cast<int>(j));
                return QOR_RES_FAILED;
            }
        }
    }
    if (enabled == 0) {
        QOR_LOG_ERROR(kTag, "all context's linestore are disabled\n");
        return QOR_RES_FAILED;
    }
    const QOR_RESULT ret = CI_LinestoreComputeSizes(hw, pLinestore);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to compute linestores' size\n");
        return ret;
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverSetLinestore(CI_CONNECTION *pConnection, CI_LINESTORE *pLinestore) {
    if (pConnection == nullptr || pLinestore == nullptr) {
        QOR_LOG_ERROR(kTag, "pLinestore or pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    QOR_RESULT ret = CI_DriverVerifLinestore(pConnection, pLinestore);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Given linestore is not correct\n");
        return ret;
    }
    const int answer = control(INT_ConnectionFromHandle(pConnection), CI_LINESTORE_SET, pLinestore);
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to propose a new linestore\n");
        return toQorResult(answer);
    }
    if (pLinestore != &pConnection->sLinestoreStatus)
        pConnection->sLinestoreStatus = *pLinestore;
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverGetLinestore(CI_CONNECTION *pConnection) {
    if (pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    CI_LINESTORE local{};
    const int answer = control(INT_ConnectionFromHandle(pConnection), CI_LINESTORE_GET, &local);
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to update the linestore information\n");
        return toQorResult(answer);
    }
    pConnection->sLinestoreStatus = local;
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverGetGammaLUT(CI_CONNECTION *pConnection) {
    if (pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    CI_MODULE_GMA_LUT local{};
    const int answer = control(INT_ConnectionFromHandle(pConnection), CI_GMALUT_GET, &local);
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to update the Gamma LUT information\n");
        return toQorResult(answer);
    }
    pConnection->sGammaLUT = local;
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverSetGammaLUT(CI_CONNECTION *pConnection, const CI_MODULE_GMA_LUT *pNewGammaLUT) {
    if (pConnection == nullptr || pNewGammaLUT == nullptr) {
        QOR_LOG_ERROR(kTag, "pConnection or pNewGammaLUT is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    const int answer = control(INT_ConnectionFromHandle(pConnection), CI_GMALUT_SET, pNewGammaLUT);
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to set a new Gamma LUT\n");
        return toQorResult(answer);
    }
    if (pNewGammaLUT != &pConnection->sGammaLUT)
        pConnection->sGammaLUT = *pNewGammaLUT;
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverGetTimestamp(CI_CONNECTION *pConnection, QOR_UINT32 *puiCurrentStamp) {
    if (pConnection == nullptr || puiCurrentStamp == nullptr) {
        QOR_LOG_ERROR(kTag, "pConnection or puiCurrentStamp is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    QOR_UINT32 local = 0;
    const int answer = control(INT_ConnectionFromHandle(pConnection), CI_TIMEST_GET, &local);
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to get the timestamp\n");
        return toQorResult(answer);
    }
    *puiCurrentStamp = local;
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverGetSystemTime(CI_CONNECTION *pConnection, QOR_UINT64 *pui64SystemTime) {
    if (pConnection == nullptr || pui64SystemTime == nullptr) {
        QOR_LOG_ERROR(kTag, "pConnection or pui64SystemTime is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    QOR_UINT64 local = 0;
    const int answer = control(INT_ConnectionFromHandle(pConnection), CI_SYSTIME_GET, &local);
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to get the system time\n");
        return toQorResult(answer);
    }
    *pui64SystemTime = local;
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverGetAvailableInternalDPFBuffer(CI_CONNECTION *pConnection, QOR_UINT32 *puiAvailableDPF) {
    if (pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (puiAvailableDPF == nullptr) {
        QOR_LOG_ERROR(kTag, "puiAvailableDPF is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    QOR_UINT32 local = 0;
    const int answer = control(INT_ConnectionFromHandle(pConnection), CI_DPFINT_GET, &local);
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to get the current DPF internal buffer value\n");
        return toQorResult(answer);
    }
    *puiAvailableDPF = local;
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverGetRTMInfo(CI_CONNECTION *pConnection, CI_RTM_INFO *pRTM) {
    if (pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pRTM == nullptr) {
        QOR_LOG_ERROR(kTag, "pRTM is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    const int answer = control(INT_ConnectionFromHandle(pConnection), CI_RTM_GET, pRTM);
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to get the RTM values\n");
        return toQorResult(answer);
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverDebugRegRead(CI_CONNECTION *pConnection, QOR_UINT8 eBank, QOR_UINT32 ui32Offset,
                                 QOR_UINT32 *pResult) {
    if (pConnection == nullptr || pResult == nullptr) {
        QOR_LOG_ERROR(kTag, "pConnection or pResult is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    CI_DEBUG_REG_PARAM param{};
    param.bRead = 1;
    param.eBank = eBank;
    param.ui32Offset = ui32Offset;
    param.ui32Value = 0;
    const int answer = control(INT_ConnectionFromHandle(pConnection), CI_DEBUG_REG, &param);
    if (answer == -ENOTTY) {
        QOR_LOG_ERROR(kTag, "Kernel side does not support debug functions\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to read register value\n");
        return toQorResult(answer);
    }
    *pResult = param.ui32Value;
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverDebugRegWrite(CI_CONNECTION *pConnection, QOR_UINT8 eBank, QOR_UINT32 ui32Offset,
                                  QOR_UINT32 ui32Value) {
    if (pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pConnection or pResult is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    CI_DEBUG_REG_PARAM param{};
    param.bRead = 0;
    param.eBank = eBank;
    param.ui32Offset = ui32Offset;
    param.ui32Value = ui32Value;
    const int answer = control(INT_ConnectionFromHandle(pConnection), CI_DEBUG_REG, &param);
    if (answer == -ENOTTY) {
        QOR_LOG_ERROR(kTag, "Kernel side does not support debug functions\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to write register value\n");
        return toQorResult(answer);
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_DriverReset(CI_CONNECTION *pConnection) {
    if (pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    const int answer = controlValue(INT_ConnectionFromHandle(pConnection), CI_RESET, 0);
    if (answer < 0) {
        QOR_LOG_ERROR(kTag, "Failed to reset ISP\n");
        return toQorResult(answer);
    }
    return QOR_RES_OK;
}

} // extern "C"
