#ifndef NORVACOMMON_REGULAR_FILE_H
#define NORVACOMMON_REGULAR_FILE_H

/*
 * Opening files that users name. A reader opens only a regular file, and the open itself never blocks: a FIFO
 * without a writer would block the open and every read, a device such as /dev/zero never ends, and a directory
 * cannot be read as a file. The opened descriptor is checked, not the name, so the file read is the file checked.
 * A writer does not block on a FIFO either: it writes into a regular file (created, or truncated once it is known
 * to be one) or into a character device such as /dev/null, and refuses anything else.
 */

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/**
 * A blocking descriptor of the regular file at path opened for reading, or -1 with errno set: the error of
 * open(2), EISDIR for a directory, EINVAL for any other file that is not regular (FIFO, device, socket).
 */
int QOR_OpenRegularFd(const char *path);

/** The same as a stream, for a reading mode ("r", "rb"); null with errno set. */
FILE *QOR_OpenRegularFile(const char *path, const char *mode);

/**
 * A stream writing into path, for a writing mode ("w", "wb"): a regular file is created or truncated, a character
 * device is written as it is. Null with errno set: the error of open(2) (ENXIO for a FIFO that nobody reads),
 * EISDIR for a directory, EINVAL for a FIFO, block device or socket, or for a mode that does not start with 'w'.
 */
FILE *QOR_CreateFile(const char *path, const char *mode);

/**
 * Ends the writing of a stream from QOR_CreateFile: 0 when everything written reached the file (no earlier write
 * failed, and the flush and the close succeed), else -1 with errno set (EIO when only an earlier write failed,
 * ECANCELED when the file was discarded).
 * When it fails, or when `discard` is not 0 (the writer gave up on the file), the partial file is removed: a
 * regular file that is still the one written at path. A character device (/dev/full, /dev/null) is never removed.
 * The stream is closed in every case.
 */
int QOR_CloseCreatedFile(FILE *f, const char *path, int discard);

/** True when errno, as set by the calls above, means the path exists but is not a file they open. */
int QOR_IsNotAFileError(int err);

#ifdef __cplusplus
}
#endif

#endif
