#ifndef NORVA_CI_CONNECTION_INTERNAL_H
#define NORVA_CI_CONNECTION_INTERNAL_H

/* The library's record behind a CI_CONNECTION handle. */

#include <stddef.h>

#include "ci/ci_api_structs.h"
#include "ci/sys_userio.h"
#include "linkedlist.h"

#define CI_DEVICE_PATH "/dev/qornorva0"

struct CI_GASKET;

typedef struct INT_CONNECTION {
    /** The handle given to callers is the address of this member. */
    CI_CONNECTION publicConnection;
    SYS_FILE *fileDesc;
    /** INT_PIPELINE records created on this connection. */
    LinkedList_T sList_pipelines;
    /** Data generators created on this connection. */
    LinkedList_T sList_datagen;
    /** Left null: the library never sets them. */
    struct CI_GASKET *aGaskets[CI_N_IMAGERS];
} INT_CONNECTION;

#ifdef __cplusplus
static_assert(offsetof(INT_CONNECTION, publicConnection) == 0, "the handle is the first member");
/** Steps back from a handle to its record. */
inline INT_CONNECTION *INT_ConnectionFromHandle(CI_CONNECTION *pConnection) {
    return reinterpret_cast<INT_CONNECTION *>(pConnection);
}
#endif

#endif /* NORVA_CI_CONNECTION_INTERNAL_H */
