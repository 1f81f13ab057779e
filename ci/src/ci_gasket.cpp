// Gaskets: acquire, release and counters, each one command on the connection's device.
#include "ci/ci_gasket.h"

#include <cstdint>

#include "ci/ci_connection_internal.h"
#include "ci/ci_ioctrl.h"
#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "CI_API";

int control(CI_CONNECTION *pConnection, CI_eIOCTL nr, long parameter) {
    return SYS_IO_Control(INT_ConnectionFromHandle(pConnection)->fileDesc, CI_IOCTL_CMD(nr), parameter);
}

long pointerArg(const void *p) { return static_cast<long>(reinterpret_cast<intptr_t>(p)); }
} // namespace

extern "C" {

QOR_RESULT CI_GasketInit(CI_GASKET *pGasket) {
    if (pGasket == nullptr) {
        QOR_LOG_ERROR(kTag, "pGasket is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    *pGasket = CI_GASKET{};
    return QOR_RES_OK;
}

QOR_RESULT CI_GasketAcquire(CI_GASKET *pGasket, CI_CONNECTION *pConnection) {
    if (pGasket == nullptr || pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pGasket or pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    const int ret = control(pConnection, CI_GASKET_ACQUIRE, pointerArg(pGasket));
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to acquire the gasket\n");
        return toQorResult(ret);
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_GasketRelease(CI_GASKET *pGasket, CI_CONNECTION *pConnection) {
    if (pGasket == nullptr || pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pGasket or pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    const int ret = control(pConnection, CI_GASKET_RELEASE, pGasket->uiGasket);
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to release the gasket\n");
        return toQorResult(ret);
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_GasketGetInfo(CI_GASKET_INFO *pGasketInfo, QOR_UINT8 uiGasket, CI_CONNECTION *pConnection) {
    if (pGasketInfo == nullptr || pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "pGasket or pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    CI_GASKET_PARAM param{};
    param.uiGasket = uiGasket;
    const int ret = control(pConnection, CI_GASKET_GETINFO, pointerArg(&param));
    if (ret < 0) {
        QOR_LOG_ERROR(kTag, "Failed to get gasket's information\n");
        return toQorResult(ret);
    }
    *pGasketInfo = param.sGasketInfo;
    return QOR_RES_OK;
}

} // extern "C"
