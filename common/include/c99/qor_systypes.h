#ifndef QOR_SYSTYPES_H
#define QOR_SYSTYPES_H

#include <stddef.h>
#include <stdint.h>

typedef int8_t QOR_INT8;
typedef int16_t QOR_INT16;
typedef int32_t QOR_INT32;
typedef int64_t QOR_INT64;
typedef uint8_t QOR_UINT8;
typedef uint16_t QOR_UINT16;
typedef uint32_t QOR_UINT32;
typedef uint64_t QOR_UINT64;
typedef int QOR_INT;
typedef unsigned int QOR_UINT;
typedef char QOR_CHAR;
typedef float QOR_FLOAT;
typedef double QOR_DOUBLE;
typedef size_t QOR_SIZE;
typedef ptrdiff_t QOR_PTRDIFF;
typedef void *QOR_HANDLE;

#endif /* QOR_SYSTYPES_H */
