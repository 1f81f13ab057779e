#ifndef QOR_ERRORS_H
#define QOR_ERRORS_H

#include "qor_types.h"

/** The result of every plain function of the stack: 0 is success. */
typedef QOR_INT32 QOR_RESULT;

enum QOR_RESULT_CODES {
    QOR_RES_OK = 0,
    QOR_RES_TIMEOUT = 1,
    QOR_RES_NO_MEMORY = 2,
    QOR_RES_FAILED = 3,
    QOR_RES_DEVICE_FAILED = 5,
    QOR_RES_INTERRUPTED = 8,
    QOR_RES_INVALID_PARAM = 11,
    QOR_RES_UNAVAILABLE = 15,
    QOR_RES_IN_PROGRESS = 16,
    QOR_RES_NOT_INITIALISED = 17,
    QOR_RES_ALREADY = 18,
    QOR_RES_INVALID_MODE = 19,
    QOR_RES_NOT_DEFINED = 20,
    QOR_RES_TOO_BIG = 21,
    QOR_RES_NOT_SUPPORTED = 22,
    QOR_RES_IO_FAILED = 24,
    QOR_RES_EMPTY = 25,
    QOR_RES_WRONG_STATE = 26,
    QOR_RES_IN_USE = 30,
};

#endif /* QOR_ERRORS_H */
