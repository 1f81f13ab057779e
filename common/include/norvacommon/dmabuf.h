#ifndef NORVA_DMABUF_H
#define NORVA_DMABUF_H

/*
 * Client of the dmabuf allocator device "/dev/dmabuf": one handle per buffer, holding the opened device and,
 * once exported, the buffer's own descriptor (which a pipeline imports). Log tag "DMABUF".
 */

#include "qor_errors.h"
#include "qor_types.h"

#define DMABUF_DEVICE_PATH "/dev/dmabuf"
/** Device commands: allocate (the size in bytes by value) and export (0; answers the buffer's descriptor). */
#define DMABUF_IOCTL_ALLOC 0x80084740ul
#define DMABUF_IOCTL_EXPORT 0x80084741ul

typedef struct S_DMABUFHandle {
    int bufFd;        /* the exported buffer descriptor, -1 until exported */
    int ui32DmadevFd; /* the opened allocator device */
} S_DMABUFHandle;

#ifdef __cplusplus
extern "C" {
#endif

/**
 * Opens the device and allocates a buffer of `bytes` into a new handle; *pHandle must be null. On failure
 * nothing is left open and *pHandle stays null.
 */
QOR_RESULT DMABUF_Alloc(QOR_HANDLE *pHandle, QOR_SIZE bytes);
/** Exports the buffer once and gives its descriptor; later calls give the same descriptor. */
QOR_RESULT DMABUF_GetBufferFd(QOR_HANDLE handle, int *fd);
/** Closes the buffer descriptor and the device and frees the handle. */
QOR_RESULT DMABUF_Free(QOR_HANDLE handle);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_DMABUF_H */
