#ifndef ISPC_CONNECTION_H
#define ISPC_CONNECTION_H

#include "ci/ci_api_structs.h"
#include "qor_errors.h"

namespace ISPC {

/**
 * One reference on the process-wide driver connection. The first reference in the process opens the
 * driver, the last one closes it; cameras and sensor wrappers each hold one. The class-wide count and
 * pointer are guarded by one lock, so references may be taken and given back from several threads.
 */
class CI_Connection {
public:
    /** Takes a reference; on failure the object holds none and getConnection() is null. */
    CI_Connection();
    /** Gives the reference back when this object holds one. */
    ~CI_Connection();
    // A copy would give the same reference back twice.
    CI_Connection(const CI_Connection &) = delete;
    CI_Connection &operator=(const CI_Connection &) = delete;

    /** The process-wide connection when this object holds a reference, otherwise null. */
    CI_CONNECTION *getConnection();
    const CI_CONNECTION *getConnection() const;
    /** The number of references held in the process. */
    int getNConnections() const;

    /** Counts one more reference, opening the driver for the first: 0, or 3 when it cannot be opened. */
    static QOR_RESULT connect();
    /** Counts one reference fewer, closing the driver with the last: 0, or 3 when none is counted. */
    static QOR_RESULT disconnect();

private:
    bool connected;

    static CI_CONNECTION *pCI_Connection;
    static int nCI_Connections;
};

} // namespace ISPC

#endif /* ISPC_CONNECTION_H */
