#ifndef QOR_TYPES_H
#define QOR_TYPES_H

#include "c99/qor_systypes.h"

typedef int QOR_BOOL;
typedef QOR_UINT8 QOR_BOOL8;

#define QOR_TRUE 1
#define QOR_FALSE 0

static_assert(sizeof(QOR_FLOAT) == 4, "QOR_FLOAT is a 32-bit IEEE float");
static_assert(sizeof(QOR_DOUBLE) == 8, "QOR_DOUBLE is a 64-bit IEEE double");
static_assert(sizeof(QOR_BOOL8) == 1, "QOR_BOOL8 is one byte");

#endif /* QOR_TYPES_H */
