// The dmabuf allocator client: one device open and one buffer per handle, exported once.
#include "norvacommon/dmabuf.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>

#include "norvacommon/userlog.h"
#include "sys/sys_seam.h"

namespace {

constexpr const char *kTag = "DMABUF";

/** Opens the allocator device read-write: its descriptor, or -1 (logged). */
int dmabuf_Open() {
    const int fd = SEAM_Open(DMABUF_DEVICE_PATH, O_RDWR, 0);
    if (fd < 0)
        QOR_LOG_ERROR(kTag, "Could not open DMABUF Device\n");
    return fd;
}

/** Closes the device and frees the handle (the buffer descriptor, when exported, is closed by the caller). */
void release(S_DMABUFHandle *h) {
    SEAM_Close(h->ui32DmadevFd);
    std::free(h);
}

} // namespace

extern "C" {

QOR_RESULT DMABUF_Alloc(QOR_HANDLE *pHandle, QOR_SIZE bytes) {
    if (pHandle == nullptr || *pHandle != nullptr || bytes == 0)
        return QOR_RES_INVALID_PARAM;
    const int dev = dmabuf_Open();
    if (dev < 0)
        return QOR_RES_FAILED;
    S_DMABUFHandle *h = static_cast<S_DMABUFHandle *>(std::malloc(sizeof(S_DMABUFHandle)));
    if (h == nullptr) {
        QOR_LOG_ERROR(kTag, "Malloc failure while allocating BufferAllocator struct\n");
        SEAM_Close(dev);
        return QOR_RES_NO_MEMORY;
    }
    h->bufFd = -1;
    h->ui32DmadevFd = dev;
    const long ret = SEAM_Ioctl(dev, DMABUF_IOCTL_ALLOC, reinterpret_cast<void *>(static_cast<uintptr_t>(bytes)));
    if (ret != 0) {
        // Nothing of a failed allocation is handed to the caller: callers only log the failure.
        QOR_LOG_ERROR(kTag, "Could not create a DMABUF\n");
        release(h);
        return QOR_RES_FAILED;
    }
    *pHandle = h;
    return QOR_RES_OK;
}

QOR_RESULT DMABUF_GetBufferFd(QOR_HANDLE handle, int *fd) {
    if (handle == nullptr || fd == nullptr)
        return QOR_RES_INVALID_PARAM;
    S_DMABUFHandle *h = static_cast<S_DMABUFHandle *>(handle);
    if (h->ui32DmadevFd < 0)
        return QOR_RES_NOT_INITIALISED;
    if (h->bufFd == -1) {
        const long ret = SEAM_Ioctl(h->ui32DmadevFd, DMABUF_IOCTL_EXPORT, nullptr);
        if (ret < 0) {
            QOR_LOG_ERROR(kTag, "Could not export a DMABUF\n");
            return QOR_RES_FAILED;
        }
        h->bufFd = static_cast<int>(ret);
    }
    *fd = h->bufFd;
    return QOR_RES_OK;
}

QOR_RESULT DMABUF_Free(QOR_HANDLE handle) {
    if (handle == nullptr)
        return QOR_RES_INVALID_PARAM;
    S_DMABUFHandle *h = static_cast<S_DMABUFHandle *>(handle);
    if (h->ui32DmadevFd < 0)
        return QOR_RES_NOT_INITIALISED;
    if (h->bufFd >= 0)
        SEAM_Close(h->bufFd);
    release(h);
    return QOR_RES_OK;
}

} // extern "C"
