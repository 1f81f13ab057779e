#ifndef NORVA_SYS_USERIO_H
#define NORVA_SYS_USERIO_H

/* Thin layer over a device file, through the system-call seam. Log tag "SYS_USERIO". */

#include <stddef.h>
#include <sys/types.h>

typedef struct __SYS_FILE {
    int file; /* the open descriptor */
} SYS_FILE;

#ifdef __cplusplus
static_assert(sizeof(SYS_FILE) == sizeof(int), "SYS_FILE holds the descriptor only");
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Opens the path (no creation mode; `extra` is ignored); null on failure. */
SYS_FILE *SYS_IO_Open(const char *path, int flags, int extra);
/** Closes; the record is freed only when the close succeeded. Returns the close's result (0 or -1). */
int SYS_IO_Close(SYS_FILE *pFile);
/** Issues an ioctl: the driver's non-negative answer, or -errno. */
int SYS_IO_Control(SYS_FILE *pFile, unsigned long command, long parameter);
/** Maps `length` bytes at mapping identifier `offset` (× the system page size); null on failure. */
void *SYS_IO_MemMap2(SYS_FILE *pFile, size_t length, int prot, int flags, unsigned long offset);
int SYS_IO_MemUnmap(SYS_FILE *pFile, void *addr, size_t length);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SYS_USERIO_H */
