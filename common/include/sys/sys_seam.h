#ifndef NORVA_SYS_SEAM_H
#define NORVA_SYS_SEAM_H

/*
 * The system-call seam: every contact of the stack with a platform device (the ISP driver, the dmabuf
 * device, I2C buses, sensor PHYs, GPIO lines, board files, the device-tree model, delays) goes through these
 * calls.
 * By default they are the real system calls; the simulated platform installs its own table.
 *
 * Selection: NORVA_PLATFORM = "sim" or "hw". Unset: "hw" when /dev/qornorva0 exists, else "sim".
 */

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

/* GPIO chips and lines as the GPIO character-device library hands them out (opaque here). */
typedef struct SEAM_GPIO_CHIP SEAM_GPIO_CHIP;
typedef struct SEAM_GPIO_LINE SEAM_GPIO_LINE;

typedef struct SEAM_OPS {
    /** open(2): a descriptor, or -1 with errno set. */
    int (*open)(const char *path, int flags, mode_t mode);
    /** close(2): 0, or -1 with errno set. */
    int (*close)(int fd);
    /** ioctl(2) with a pointer or integer argument: the driver's non-negative answer, or -errno. */
    long (*ioctl)(int fd, unsigned long request, void *arg);
    /** mmap(2): the address, or MAP_FAILED. */
    void *(*mmap)(void *addr, size_t length, int prot, int flags, int fd, off_t offset);
    /** munmap(2): 0, or -1 with errno set. */
    int (*munmap)(void *addr, size_t length);
    ssize_t (*read)(int fd, void *buf, size_t count);
    ssize_t (*write)(int fd, const void *buf, size_t count);
    /** fopen(3) for platform files (board files, device-tree model); reading opens only regular files. */
    FILE *(*fopen)(const char *path, const char *mode);
    /** Sleeps for the given microseconds (a virtual clock in tests). */
    void (*usleep)(uint64_t microseconds);
    /** Opens the GPIO chip called name ("gpiochip%d"): a handle, or null. */
    SEAM_GPIO_CHIP *(*gpio_chip_open_by_name)(const char *name);
    /** A line of an open chip, or null. */
    SEAM_GPIO_LINE *(*gpio_chip_get_line)(SEAM_GPIO_CHIP *chip, unsigned int offset);
    /** Requests the line as an output for consumer at the level (non-zero = high): 0, or -1. */
    int (*gpio_line_request_output)(SEAM_GPIO_LINE *line, const char *consumer, int value);
    /** Drives a requested line (non-zero = high): 0, or -1. */
    int (*gpio_line_set_value)(SEAM_GPIO_LINE *line, int value);
    /** Closes the chip and releases every line requested through it. */
    void (*gpio_chip_close)(SEAM_GPIO_CHIP *chip);
} SEAM_OPS;

#ifdef __cplusplus
extern "C" {
#endif

/* The calls the stack makes. */
int SEAM_Open(const char *path, int flags, mode_t mode);
int SEAM_Close(int fd);
long SEAM_Ioctl(int fd, unsigned long request, void *arg);
void *SEAM_Mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset);
int SEAM_Munmap(void *addr, size_t length);
ssize_t SEAM_Read(int fd, void *buf, size_t count);
ssize_t SEAM_Write(int fd, const void *buf, size_t count);
FILE *SEAM_Fopen(const char *path, const char *mode);
void SEAM_Usleep(uint64_t microseconds);
SEAM_GPIO_CHIP *SEAM_GpioChipOpenByName(const char *name);
SEAM_GPIO_LINE *SEAM_GpioChipGetLine(SEAM_GPIO_CHIP *chip, unsigned int offset);
int SEAM_GpioLineRequestOutput(SEAM_GPIO_LINE *line, const char *consumer, int value);
int SEAM_GpioLineSetValue(SEAM_GPIO_LINE *line, int value);
void SEAM_GpioChipClose(SEAM_GPIO_CHIP *chip);

/** The real system calls. */
const SEAM_OPS *SEAM_HardwareOps(void);

/** Registers the simulated platform's table; called by the platform library when it is loaded. */
void SEAM_RegisterSimulation(const SEAM_OPS *ops);

/** The table in use, chosen on first use (see above). */
const SEAM_OPS *SEAM_Current(void);

/** Replaces the table in use (tests); null restores the selection by environment. */
void SEAM_Override(const SEAM_OPS *ops);

/** True when the table in use is the simulation's. */
int SEAM_IsSimulated(void);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SYS_SEAM_H */
