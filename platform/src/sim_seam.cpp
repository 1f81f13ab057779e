// The simulation's seam table: routes descriptors and paths of registered nodes, counts descriptors and
// mappings, and passes everything else to the real system calls.
#include "platform/sim_node.h"

#include "platform/sim_board.h"
#include "sim_board_internal.h"

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <sys/mman.h>

namespace norva_sim {
namespace {

struct SeamState {
    std::mutex lock;
    std::map<std::string, const NodeOps *> nodes;
    std::map<int, const NodeOps *> descriptors;
    std::map<uintptr_t, size_t> mappings;
    unsigned failMappingIn = 0;
    int failMappingErrno = 0;
    bool virtualClock = false;
    uint64_t virtualTimeUs = 0;
};

SeamState &state() {
    static SeamState *s = new SeamState(); // never destroyed: used until the very end of the process
    return *s;
}

const NodeOps *nodeOf(int fd) {
    SeamState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.descriptors.find(fd);
    return it == s.descriptors.end() ? nullptr : it->second;
}

int simOpen(const char *path, int flags, mode_t mode) {
    EnsureDefaultBoard();
    const NodeOps *ops = nullptr;
    if (path != nullptr) {
        SeamState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        auto it = s.nodes.find(path);
        if (it != s.nodes.end())
            ops = it->second;
    }
    if (ops == nullptr)
        return SEAM_HardwareOps()->open(path, flags, mode);
    const int fd = ops->open(path, flags);
    if (fd < 0) {
        errno = -fd;
        return -1;
    }
    SeamState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.descriptors[fd] = ops;
    return fd;
}

int simClose(int fd) {
    const NodeOps *ops = nodeOf(fd);
    if (ops == nullptr)
        return SEAM_HardwareOps()->close(fd);
    {
        // The node closes the kernel descriptor whatever it answers, so it is no longer ours either way.
        SeamState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        s.descriptors.erase(fd);
    }
    const int ret = ops->close(fd);
    if (ret < 0) {
        errno = -ret;
        return -1;
    }
    return 0;
}

long simIoctl(int fd, unsigned long request, void *arg) {
    const NodeOps *ops = nodeOf(fd);
    if (ops == nullptr)
        return SEAM_HardwareOps()->ioctl(fd, request, arg);
    if (ops->ioctl == nullptr)
        return -ENOTTY;
    return ops->ioctl(fd, request, arg);
}

void *simMmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
    const NodeOps *ops = nodeOf(fd);
    if (ops == nullptr)
        return SEAM_HardwareOps()->mmap(addr, length, prot, flags, fd, offset);
    SeamState &s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.failMappingIn > 0 && --s.failMappingIn == 0) {
            errno = s.failMappingErrno;
            return MAP_FAILED;
        }
    }
    if (ops->mmap == nullptr) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    int error = 0;
    void *mapped = ops->mmap(addr, length, prot, flags, fd, offset, &error);
    if (mapped == MAP_FAILED) {
        errno = error;
        return MAP_FAILED;
    }
    std::lock_guard<std::mutex> guard(s.lock);
    s.mappings[reinterpret_cast<uintptr_t>(mapped)] = length;
    return mapped;
}

int simMunmap(void *addr, size_t length) {
    SeamState &s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.mappings.erase(reinterpret_cast<uintptr_t>(addr));
    }
    return SEAM_HardwareOps()->munmap(addr, length);
}

ssize_t simRead(int fd, void *buf, size_t count) {
    const NodeOps *ops = nodeOf(fd);
    if (ops == nullptr)
        return SEAM_HardwareOps()->read(fd, buf, count);
    const ssize_t ret = ops->read != nullptr ? ops->read(fd, buf, count) : -EINVAL;
    if (ret < 0) {
        errno = static_cast<int>(-ret);
        return -1;
    }
    return ret;
}

ssize_t simWrite(int fd, const void *buf, size_t count) {
    const NodeOps *ops = nodeOf(fd);
    if (ops == nullptr)
        return SEAM_HardwareOps()->write(fd, buf, count);
    const ssize_t ret = ops->write != nullptr ? ops->write(fd, buf, count) : -EINVAL;
    if (ret < 0) {
        errno = static_cast<int>(-ret);
        return -1;
    }
    return ret;
}

/**
 * Platform files ("/etc/...", "/proc/...") are read under the platform root when one is set; without one, the
 * default board serves its own from memory.
 */
FILE *simFopen(const char *path, const char *mode) {
    if (path == nullptr) {
        errno = EFAULT;
        return nullptr;
    }
    EnsureDefaultBoard();
    FILE *served = nullptr;
    if (PlatformRoot().empty() && ServeDefaultBoardFile(path, mode, &served))
        return served;
    return SEAM_HardwareOps()->fopen(PlatformPath(path).c_str(), mode);
}

void simUsleep(uint64_t us) {
    SeamState &s = state();
    bool virtualClock = false;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        virtualClock = s.virtualClock;
        if (virtualClock)
            s.virtualTimeUs += us;
    }
    if (virtualClock) {
        // Virtual sleeps appear in the board's event log, in order with the GPIO and bus events around them.
        AddBoardEvent("sleep " + std::to_string(us));
        return;
    }
    SEAM_HardwareOps()->usleep(us);
}

const SEAM_OPS kSimulationOps = {simOpen,
                                 simClose,
                                 simIoctl,
                                 simMmap,
                                 simMunmap,
                                 simRead,
                                 simWrite,
                                 simFopen,
                                 simUsleep,
                                 SimGpioChipOpenByName,
                                 SimGpioChipGetLine,
                                 SimGpioLineRequestOutput,
                                 SimGpioLineSetValue,
                                 SimGpioChipClose};

struct Registration {
    Registration() { SEAM_RegisterSimulation(&kSimulationOps); }
} g_registration;

} // namespace

bool RegisterNode(const char *path, const NodeOps *ops) {
    SeamState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.nodes.emplace(path, ops).second;
}

const SEAM_OPS *SimulationOps() { return &kSimulationOps; }

SeamCounters GetSeamCounters() {
    SeamState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return SeamCounters{static_cast<int>(s.descriptors.size()), static_cast<int>(s.mappings.size())};
}

void FailNthMapping(unsigned n, int error) {
    SeamState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.failMappingIn = n;
    s.failMappingErrno = error;
}

void SetVirtualClock(bool on) {
    SeamState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.virtualClock = on;
}

uint64_t VirtualTimeUs() {
    SeamState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.virtualTimeUs;
}

void ResetSeam() {
    SeamState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.failMappingIn = 0;
    s.failMappingErrno = 0;
    s.virtualClock = false;
    s.virtualTimeUs = 0;
}

} // namespace norva_sim
