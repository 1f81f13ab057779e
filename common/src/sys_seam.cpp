#include "sys/sys_seam.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gpiod.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include "norvacommon/regular_file.h"
#include "norvacommon/userlog.h"

namespace {

constexpr const char *kTag = "SYS_USERIO";
constexpr const char *kIspDevice = "/dev/qornorva0";

int hwOpen(const char *path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int hwClose(int fd) { return ::close(fd); }
long hwIoctl(int fd, unsigned long request, void *arg) {
    const int ret = ::ioctl(fd, request, arg);
    return ret < 0 ? -errno : ret;
}
void *hwMmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
    return ::mmap(addr, length, prot, flags, fd, offset);
}
int hwMunmap(void *addr, size_t length) { return ::munmap(addr, length); }
ssize_t hwRead(int fd, void *buf, size_t count) { return ::read(fd, buf, count); }
ssize_t hwWrite(int fd, const void *buf, size_t count) { return ::write(fd, buf, count); }
/** Platform files are read only when they are regular files: a FIFO in a board file's place must not block. */
FILE *hwFopen(const char *path, const char *mode) {
    if (mode != nullptr && mode[0] == 'r' && std::strchr(mode, '+') == nullptr)
        return QOR_OpenRegularFile(path, mode);
    return ::fopen(path, mode);
}
void hwUsleep(uint64_t us) {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(us / 1000000u);
    ts.tv_nsec = static_cast<long>((us % 1000000u) * 1000u);
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// The GPIO calls go to the GPIO character-device library (v1 API), which needs a kernel GPIO device.
SEAM_GPIO_CHIP *hwGpioChipOpenByName(const char *name) {
    return reinterpret_cast<SEAM_GPIO_CHIP *>(gpiod_chip_open_by_name(name));
}
SEAM_GPIO_LINE *hwGpioChipGetLine(SEAM_GPIO_CHIP *chip, unsigned int offset) {
    return reinterpret_cast<SEAM_GPIO_LINE *>(gpiod_chip_get_line(reinterpret_cast<gpiod_chip *>(chip), offset));
}
int hwGpioLineRequestOutput(SEAM_GPIO_LINE *line, const char *consumer, int value) {
    return gpiod_line_request_output(reinterpret_cast<gpiod_line *>(line), consumer, value);
}
int hwGpioLineSetValue(SEAM_GPIO_LINE *line, int value) {
    return gpiod_line_set_value(reinterpret_cast<gpiod_line *>(line), value);
}
void hwGpioChipClose(SEAM_GPIO_CHIP *chip) {
    if (chip != nullptr)
        gpiod_chip_close(reinterpret_cast<gpiod_chip *>(chip));
}

const SEAM_OPS kHardwareOps = {hwOpen,
                               hwClose,
                               hwIoctl,
                               hwMmap,
                               hwMunmap,
                               hwRead,
                               hwWrite,
                               hwFopen,
                               hwUsleep,
                               hwGpioChipOpenByName,
                               hwGpioChipGetLine,
                               hwGpioLineRequestOutput,
                               hwGpioLineSetValue,
                               hwGpioChipClose};

std::atomic<const SEAM_OPS *> g_simulation{nullptr};
std::atomic<const SEAM_OPS *> g_override{nullptr};
std::atomic<const SEAM_OPS *> g_selected{nullptr};
std::mutex g_selectLock;

const SEAM_OPS *select() {
    std::lock_guard<std::mutex> lock(g_selectLock);
    const SEAM_OPS *chosen = g_selected.load();
    if (chosen != nullptr)
        return chosen;

    const char *env = std::getenv("NORVA_PLATFORM");
    bool sim;
    if (env != nullptr && std::strcmp(env, "sim") == 0) {
        sim = true;
    } else if (env != nullptr && std::strcmp(env, "hw") == 0) {
        sim = false;
    } else {
        if (env != nullptr && env[0] != '\0') {
            QOR_LOG_WARNING(kTag, "NORVA_PLATFORM=\"%s\" is neither \"sim\" nor \"hw\"\n", env);
        }
        sim = ::access(kIspDevice, F_OK) != 0;
    }
    if (sim && g_simulation.load() == nullptr) {
        QOR_LOG_WARNING(kTag, "the simulated platform is not linked in: using the hardware\n");
        sim = false;
    }
    chosen = sim ? g_simulation.load() : &kHardwareOps;
    QOR_LOG_INFO(kTag, "platform: %s\n", sim ? "sim" : "hw");
    g_selected.store(chosen);
    return chosen;
}

} // namespace

extern "C" {

const SEAM_OPS *SEAM_HardwareOps(void) { return &kHardwareOps; }

void SEAM_RegisterSimulation(const SEAM_OPS *ops) { g_simulation.store(ops); }

const SEAM_OPS *SEAM_Current(void) {
    const SEAM_OPS *ops = g_override.load();
    if (ops != nullptr)
        return ops;
    ops = g_selected.load();
    return ops != nullptr ? ops : select();
}

void SEAM_Override(const SEAM_OPS *ops) { g_override.store(ops); }

int SEAM_IsSimulated(void) {
    const SEAM_OPS *ops = SEAM_Current();
    return ops != &kHardwareOps && ops == g_simulation.load();
}

int SEAM_Open(const char *path, int flags, mode_t mode) { return SEAM_Current()->open(path, flags, mode); }
int SEAM_Close(int fd) { return SEAM_Current()->close(fd); }
long SEAM_Ioctl(int fd, unsigned long request, void *arg) { return SEAM_Current()->ioctl(fd, request, arg); }
void *SEAM_Mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
    return SEAM_Current()->mmap(addr, length, prot, flags, fd, offset);
}
int SEAM_Munmap(void *addr, size_t length) { return SEAM_Current()->munmap(addr, length); }
ssize_t SEAM_Read(int fd, void *buf, size_t count) { return SEAM_Current()->read(fd, buf, count); }
ssize_t SEAM_Write(int fd, const void *buf, size_t count) { return SEAM_Current()->write(fd, buf, count); }
FILE *SEAM_Fopen(const char *path, const char *mode) { return SEAM_Current()->fopen(path, mode); }
void SEAM_Usleep(uint64_t microseconds) { SEAM_Current()->usleep(microseconds); }
SEAM_GPIO_CHIP *SEAM_GpioChipOpenByName(const char *name) { return SEAM_Current()->gpio_chip_open_by_name(name); }
SEAM_GPIO_LINE *SEAM_GpioChipGetLine(SEAM_GPIO_CHIP *chip, unsigned int offset) {
    return SEAM_Current()->gpio_chip_get_line(chip, offset);
}
int SEAM_GpioLineRequestOutput(SEAM_GPIO_LINE *line, const char *consumer, int value) {
    return SEAM_Current()->gpio_line_request_output(line, consumer, value);
}
int SEAM_GpioLineSetValue(SEAM_GPIO_LINE *line, int value) { return SEAM_Current()->gpio_line_set_value(line, value); }
void SEAM_GpioChipClose(SEAM_GPIO_CHIP *chip) { SEAM_Current()->gpio_chip_close(chip); }

} // extern "C"
