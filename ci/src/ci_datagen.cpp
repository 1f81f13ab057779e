// Minimal data-generator records: creation links a zeroed generator into its connection, destruction unlinks
// and frees it. The data-generator work replaces this file together with ci/include/ci/ci_datagen.h.
#include "ci/ci_datagen.h"

#include <cstddef>
#include <cstdlib>

#include "ci/ci_connection_internal.h"
#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "CI_API";

INT_INTDATAGEN *fromHandle(CI_DATAGEN *pDatagen) {
    return reinterpret_cast<INT_INTDATAGEN *>(reinterpret_cast<char *>(pDatagen) -
                                              offsetof(INT_INTDATAGEN, publicDatagen));
}
} // namespace

extern "C" {

QOR_RESULT CI_DatagenCreate(CI_DATAGEN **ppDatagen, CI_CONNECTION *pConnection) {
    if (ppDatagen == nullptr || *ppDatagen != nullptr || pConnection == nullptr) {
        LOG_Error(__func__, __LINE__, kTag, "ppDatagen or pConnection is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_INTDATAGEN *dg = static_cast<INT_INTDATAGEN *>(std::calloc(1, sizeof(INT_INTDATAGEN)));
    if (dg == nullptr) return QOR_RES_NO_MEMORY;
    dg->pConnection = INT_ConnectionFromHandle(pConnection);
    dg->sCell.object = dg;
    List_pushBack(&dg->pConnection->sList_datagen, &dg->sCell);
    *ppDatagen = &dg->publicDatagen;
    return QOR_RES_OK;
}

QOR_RESULT CI_DatagenDestroy(CI_DATAGEN *pDatagen) {
    if (pDatagen == nullptr) {
        LOG_Error(__func__, __LINE__, kTag, "pDatagen is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    INT_INTDATAGEN *dg = fromHandle(pDatagen);
    List_detach(&dg->sCell);
    std::free(dg);
    return QOR_RES_OK;
}

} // extern "C"
