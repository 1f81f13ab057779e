#include "ci/sys_userio.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include "norvacommon/userlog.h"
#include "sys/sys_seam.h"

namespace {
constexpr const char *kTag = "SYS_USERIO";
}

extern "C" {

SYS_FILE *SYS_IO_Open(const char *path, int flags, int /*extra*/) {
    SYS_FILE *file = static_cast<SYS_FILE *>(std::malloc(sizeof(SYS_FILE)));
    if (file == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to allocate memory!\n");
        return nullptr;
    }
    file->file = SEAM_Open(path, flags, 0);
    if (file->file < 0) {
        QOR_LOG_ERROR(kTag, "Failed to open '%s'!\n", path != nullptr ? path : "(null)");
        std::free(file);
        return nullptr;
    }
    return file;
}

int SYS_IO_Close(SYS_FILE *pFile) {
    if (pFile == nullptr)
        return -1;
    const int ret = SEAM_Close(pFile->file);
    if (ret == 0)
        std::free(pFile);
    return ret;
}

int SYS_IO_Control(SYS_FILE *pFile, unsigned long command, long parameter) {
    if (pFile == nullptr)
        return -22; /* -EINVAL */
    const long ret = SEAM_Ioctl(pFile->file, command, reinterpret_cast<void *>(static_cast<intptr_t>(parameter)));
    return static_cast<int>(ret);
}

void *SYS_IO_MemMap2(SYS_FILE *pFile, size_t length, int prot, int flags, unsigned long offset) {
    if (pFile == nullptr)
        return nullptr;
    const long page = sysconf(_SC_PAGESIZE);
    void *addr =
        SEAM_Mmap(nullptr, length, prot, flags, pFile->file, static_cast<off_t>(offset) * static_cast<off_t>(page));
    return addr == MAP_FAILED ? nullptr : addr;
}

int SYS_IO_MemUnmap(SYS_FILE * /*pFile*/, void *addr, size_t length) { return SEAM_Munmap(addr, length); }

} // extern "C"
