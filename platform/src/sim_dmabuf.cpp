// The simulated dmabuf allocator device "/dev/dmabuf" over memfd.
#include "platform/sim_dmabuf.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/sim_isp.h"
#include "platform/sim_node.h"

namespace norva_sim {
namespace {

constexpr unsigned long kAllocate = 0x80084740ul;
constexpr unsigned long kExport = 0x80084741ul;
/** Largest buffer the device hands out. */
constexpr uint64_t kMaxBytes = 1ull << 30;

/** Whether the environment asks for a board without the allocator (NORVA_SIM_DMABUF_ABSENT=1). */
bool absentFromEnvironment() {
    const char *v = std::getenv("NORVA_SIM_DMABUF_ABSENT");
    return v != nullptr && std::strcmp(v, "1") == 0;
}

struct Dmabuf {
    std::mutex lock;
    std::map<int, int> buffers; /* device descriptor -> memfd (-1 until allocated) */
    int failNext[3] = {0, 0, 0};
    bool absent = absentFromEnvironment();
    int allocations = 0;
    int exports = 0;
};

Dmabuf &dmabuf() {
    static Dmabuf *d = new Dmabuf(); // used by descriptors closed at the very end of the process
    return *d;
}

/** Consumes an injected failure of the operation: its errno, or 0. */
int takeFault(Dmabuf &d, DmabufFault which) {
    int &slot = d.failNext[static_cast<int>(which)];
    const int error = slot;
    slot = 0;
    return error;
}

int dmabufOpen(const char * /*path*/, int flags) {
    Dmabuf &d = dmabuf();
    std::lock_guard<std::mutex> guard(d.lock);
    if (d.absent)
        return -ENOENT;
    if (const int error = takeFault(d, DmabufFault::Open))
        return -error;
    if ((flags & O_ACCMODE) != O_RDWR)
        return -EACCES;
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return -errno;
    d.buffers[fd] = -1;
    return fd;
}

int dmabufClose(int fd) {
    Dmabuf &d = dmabuf();
    std::lock_guard<std::mutex> guard(d.lock);
    auto it = d.buffers.find(fd);
    if (it == d.buffers.end())
        return -EBADF;
    if (it->second >= 0)
        ::close(it->second); // exported descriptors keep the memory alive
    d.buffers.erase(it);
    ::close(fd);
    return 0;
}

long dmabufIoctl(int fd, unsigned long request, void *arg) {
    Dmabuf &d = dmabuf();
    std::lock_guard<std::mutex> guard(d.lock);
    auto it = d.buffers.find(fd);
    if (it == d.buffers.end())
        return -EBADF;
    if (request == kAllocate) {
        if (const int error = takeFault(d, DmabufFault::Allocate))
            return -error;
        const uint64_t bytes = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(arg));
        if (it->second >= 0)
            return -EBUSY; // one buffer per open
        if (bytes == 0)
            return -EINVAL;
        if (bytes > kMaxBytes)
            return -ENOMEM;
        const int mem = ::memfd_create("dmabuf", MFD_CLOEXEC);
        if (mem < 0)
            return -ENOMEM;
        if (::ftruncate(mem, static_cast<off_t>(bytes)) != 0) {
            ::close(mem);
            return -ENOMEM;
        }
        it->second = mem;
        d.allocations++;
        return 0;
    }
    if (request == kExport) {
        if (const int error = takeFault(d, DmabufFault::Export))
            return -error;
        if (it->second < 0)
            return -EINVAL;
        const int copy = ::fcntl(it->second, F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            return -errno;
        d.exports++;
        return copy;
    }
    return -ENOTTY;
}

void resetDmabuf() {
    Dmabuf &d = dmabuf();
    std::lock_guard<std::mutex> guard(d.lock);
    for (int &f : d.failNext)
        f = 0;
    d.absent = absentFromEnvironment();
    d.allocations = 0;
    d.exports = 0;
}

const NodeOps kDmabufNode = {dmabufOpen, dmabufClose, dmabufIoctl, nullptr};
const bool g_registered = RegisterNode("/dev/dmabuf", &kDmabufNode);
const bool g_resetRegistered = RegisterResetHook(resetDmabuf);

} // namespace

void FailNextDmabuf(DmabufFault which, int error) {
    Dmabuf &d = dmabuf();
    std::lock_guard<std::mutex> guard(d.lock);
    d.failNext[static_cast<int>(which)] = error;
}

void SetDmabufAbsent(bool absent) {
    Dmabuf &d = dmabuf();
    std::lock_guard<std::mutex> guard(d.lock);
    d.absent = absent;
}

DmabufCounters GetDmabufCounters() {
    Dmabuf &d = dmabuf();
    std::lock_guard<std::mutex> guard(d.lock);
    return DmabufCounters{static_cast<int>(d.buffers.size()), d.allocations, d.exports};
}

} // namespace norva_sim
