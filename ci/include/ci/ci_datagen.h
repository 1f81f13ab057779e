#ifndef NORVA_CI_DATAGEN_H
#define NORVA_CI_DATAGEN_H

/*
 * Internal data generators created on a connection. Minimal stand-in so that the connection can own and destroy
 * its generators; the data-generator work replaces this header and ci/src/ci_datagen.cpp as a whole.
 */

#include "ci/ci_api.h"
#include "linkedlist.h"

struct INT_CONNECTION;

typedef struct CI_DATAGEN {
    QOR_UINT8 ui8IIFDGIndex;
} CI_DATAGEN;

typedef struct INT_INTDATAGEN {
    int ui32DatagenID;
    QOR_BOOL8 bStarted;
    /** Links the generator into its connection's list of data generators. */
    Cell_T sCell;
    struct INT_CONNECTION *pConnection;
    /** The handle given to callers is the address of this member. */
    CI_DATAGEN publicDatagen;
} INT_INTDATAGEN;

#ifdef __cplusplus
extern "C" {
#endif

/** Creates a generator record on the connection; *ppDatagen must be null. */
QOR_RESULT CI_DatagenCreate(CI_DATAGEN **ppDatagen, CI_CONNECTION *pConnection);
/** Unlinks the generator from its connection and frees it. */
QOR_RESULT CI_DatagenDestroy(CI_DATAGEN *pDatagen);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_CI_DATAGEN_H */
