#include "ispc/Connection.h"

#include <mutex>

#include "ci/ci_api.h"
#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "ISPC_CONNECTION";
} // namespace

namespace ISPC {

namespace {
// Guards the class-wide pointer and count. Constant-initialised, so usable from static constructors too.
std::mutex connectionLock;
} // namespace

CI_CONNECTION *CI_Connection::pCI_Connection = nullptr;
int CI_Connection::nCI_Connections = 0;

QOR_RESULT CI_Connection::connect() {
    std::lock_guard<std::mutex> guard(connectionLock);
    if (nCI_Connections > 0 || pCI_Connection != nullptr) {
        nCI_Connections++;
        return QOR_RES_OK;
    }
    CI_CONNECTION *opened = nullptr;
    if (CI_DriverInit(&opened) != QOR_RES_OK || opened == nullptr) {
        QOR_LOG_ERROR(kTag, "Unable to initialize connection to CI\n");
        return QOR_RES_FAILED;
    }
    pCI_Connection = opened;
    nCI_Connections = 1;
    return QOR_RES_OK;
}

QOR_RESULT CI_Connection::disconnect() {
    std::lock_guard<std::mutex> guard(connectionLock);
    if (nCI_Connections <= 0) {
        QOR_LOG_ERROR(kTag, "Unable to close connection to CI (invalid connection counter)\n");
        return QOR_RES_FAILED;
    }
    nCI_Connections--;
    if (nCI_Connections == 0) {
        if (CI_DriverFinalise(pCI_Connection) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Error closing CI connection\n");
        }
        pCI_Connection = nullptr;
    }
    return QOR_RES_OK;
}

CI_Connection::CI_Connection() : connected(false) {
    const QOR_RESULT ret = connect();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to connect (returned %d)\n", static_cast<int>(ret));
        return;
    }
    connected = true;
}

CI_Connection::~CI_Connection() {
    if (connected) {
        const QOR_RESULT ret = disconnect();
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to disconnect (returned %d)\n", static_cast<int>(ret));
        }
    }
}

CI_CONNECTION *CI_Connection::getConnection() {
    if (!connected) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(connectionLock);
    return pCI_Connection;
}

const CI_CONNECTION *CI_Connection::getConnection() const { return const_cast<CI_Connection *>(this)->getConnection(); }

int CI_Connection::getNConnections() const {
    std::lock_guard<std::mutex> guard(connectionLock);
    return nCI_Connections;
}

} // namespace ISPC
