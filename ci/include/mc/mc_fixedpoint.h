#ifndef MC_FIXEDPOINT_H
#define MC_FIXEDPOINT_H
/*
 * Real values to fixed-point register fields and back. Um.f is unsigned with m integer and f
 * fraction bits, Sm.f two's complement with m integer bits including the sign; m or f may be
 * negative. Out-of-range values are clipped silently.
 */
#include "qor_types.h"

/** Rounds fl * 2^fractBits (half away from zero when signed, half up otherwise) into the field. */
QOR_INT32 QOR_Fix_Clip(double fl, QOR_INT32 intBits, QOR_INT32 fractBits, QOR_BOOL isSigned, const char *dbg_regname);
/** Limits val to the range of an nBits-wide field. */
QOR_INT32 QOR_clip(QOR_INT32 val, QOR_INT32 nBits, QOR_BOOL isSigned, const char *dbg_regname);
/** The real value held by a register field. */
double QOR_Fix_Revert(QOR_INT32 reg, QOR_INT32 intBits, QOR_INT32 fractBits, QOR_BOOL isSigned,
                      const char *dbg_regname);

#endif /* MC_FIXEDPOINT_H */
