#ifndef NORVA_MC_BLOCK_INTERNAL_H
#define NORVA_MC_BLOCK_INTERNAL_H

/* Helpers shared by the block conversions. */

#include <cmath>

#include "qor_types.h"

// Tag of every message the block conversions log.
constexpr const char *kTag = "MC_CONVERT";

/* Common start of every flagged conversion: skip when not flagged, else clear and add groups. */
#define MC_BEGIN_CONVERT(pMC, pMask, groups)                                                                           \
    do {                                                                                                               \
        if (!(pMC)->updateNeeded) {                                                                                    \
            return QOR_RES_OK;                                                                                         \
        }                                                                                                              \
        (pMC)->updateNeeded = 0;                                                                                       \
        *(pMask) |= (groups);                                                                                          \
    } while (0)

/** Truncation toward zero into 32 bits, saturating; NaN gives 0. */
inline QOR_INT32 MC_TruncInt(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    return static_cast<QOR_INT32>(std::fmax(std::fmin(v, 2147483647.0), -2147483648.0));
}

#endif /* NORVA_MC_BLOCK_INTERNAL_H */
