#include "mc/mc_fixedpoint.h"
#include "mc_block_internal.h"

#include <cmath>
#include <cstdint>

QOR_INT32 QOR_clip(QOR_INT32 val, QOR_INT32 nBits, QOR_BOOL isSigned, const char * /*dbg_regname*/) {
    const int s = isSigned ? 1 : 0;
    if (nBits <= 0) {
        return 0;
    }
    if (nBits > 32) { /* every 32-bit value fits */
        return (isSigned || val >= 0) ? val : 0;
    }
    /* A 1-bit signed field holds -1 and 0. */
    const int64_t upper = (int64_t(1) << (nBits - s)) - 1;
    const int64_t lower = isSigned ? -(int64_t(1) << (nBits - 1)) : 0;
    int64_t v = val;
    if (v > upper) {
        v = upper;
    }
    if (v < lower) {
        v = lower;
    }
    return static_cast<QOR_INT32>(v);
}

QOR_INT32 QOR_Fix_Clip(double fl, QOR_INT32 intBits, QOR_INT32 fractBits, QOR_BOOL isSigned, const char *dbg_regname) {
    if (fractBits >= 0) {
        const double r = (isSigned && fl < 0.0) ? -0.5 : 0.5;
        const QOR_INT32 v = MC_TruncInt(fl * std::ldexp(1.0, fractBits) + r);
        return QOR_clip(v, intBits + fractBits, isSigned, dbg_regname);
    }
    QOR_INT32 v = MC_TruncInt(fl);
    v = QOR_clip(v, intBits, isSigned, dbg_regname);
    return v >> (-fractBits); // arithmetic shift: the field holds the value / 2^-f
}

double QOR_Fix_Revert(QOR_INT32 reg, QOR_INT32 intBits, QOR_INT32 fractBits, QOR_BOOL isSigned,
                      const char * /*dbg_regname*/) {
    const int n = intBits + fractBits;
    int64_t r = reg;
    if (isSigned && n > 0 && n < 63 && r > (int64_t(1) << (n - 1))) {
        r -= int64_t(1) << n;
    }
    return std::ldexp(static_cast<double>(r), -fractBits);
}
