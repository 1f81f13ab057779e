// The simulated ISP device node: descriptors, command dispatch on the exact request values, trace, fault
// injection, device memory and counters. Commands themselves are registered by their own files.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <condition_variable>
#include <map>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/sim_platform.h"
#include "platform/sim_worker_pool.h"

namespace norva_sim {
namespace {

constexpr const char *kDevicePath = "/dev/qornorva0";

/** The device's command table: request value of each number, as the driver defines it. */
constexpr uint32_t kRequests[CI_IOCTL_N] = {
    0x40082100u, 0x40082101u, 0x80082102u, 0x40082103u, 0x80082104u, 0x40082105u, 0x40082106u, 0x40082107u, 0x40082108u,
    0x80042109u, 0x8008210au, 0x8004210bu, 0xc008210cu, 0x8004210du, 0x8008210eu, 0xc008210fu, 0x80082110u, 0x80082111u,
    0x80082112u, 0x80082113u, 0x80042114u, 0x80042115u, 0x80082116u, 0xc0082117u, 0x80082118u, 0x80042119u, 0x8004211au,
    0xc008211bu, 0x8004211cu, 0x8008211du, 0x8004211eu, 0xc008211fu, 0x80042120u, 0x80082121u, 0x80042122u, 0x80042123u,
    0xc0082124u, 0xc0082125u, 0x80082126u, 0x80082127u, 0x80082128u, 0xc0082129u,
};

struct Command {
    CommandHandler handler = nullptr;
    size_t argSize = 0;
};

struct Fault {
    long answer;
    FaultMode mode;
    unsigned skip;
};

/** Commands the trace keeps unless a test asks for another bound: the newest ones. */
constexpr size_t kDefaultTraceCapacity = 256;

/**
 * The trace: a ring of the newest commands, so that a process streaming for days keeps flat memory. Slots are
 * reused in place (their record copies keep their storage), so recording a command allocates nothing once the
 * ring has filled.
 */
class TraceRing {
public:
    /** The slot for the next command, overwriting the oldest when full; null when the bound is 0. */
    TraceEntry *next() {
        if (capacity_ == 0)
            return nullptr;
        if (count_ < slots_.size()) // room in slots kept from before a clear
            return &slots_[(first_ + count_++) % slots_.size()];
        if (slots_.size() < capacity_) { // still growing: the entries fill the slots from the first one
            slots_.emplace_back();
            ++count_;
            return &slots_.back();
        }
        TraceEntry *oldest = &slots_[first_];
        first_ = (first_ + 1) % slots_.size();
        return oldest;
    }
    /** Oldest first. */
    std::vector<TraceEntry> entries() const {
        std::vector<TraceEntry> out;
        out.reserve(count_);
        for (size_t i = 0; i < count_; ++i)
            out.push_back(slots_[(first_ + i) % slots_.size()]);
        return out;
    }
    /** Forgets the entries; their slots stay for the next commands. */
    void clear() {
        first_ = 0;
        count_ = 0;
    }
    /** Keeps the newest `capacity` entries and releases the storage beyond them. */
    void setCapacity(size_t capacity) {
        std::vector<TraceEntry> kept = entries();
        if (kept.size() > capacity)
            kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(capacity));
        slots_.swap(kept);
        slots_.shrink_to_fit();
        capacity_ = capacity;
        first_ = 0;
        count_ = slots_.size();
    }
    size_t capacity() const { return capacity_; }

private:
    std::vector<TraceEntry> slots_; /* grows to the capacity, then is reused */
    size_t capacity_ = kDefaultTraceCapacity;
    size_t first_ = 0; /* the oldest entry once the ring is full */
    size_t count_ = 0;
};

struct Device {
    std::mutex lock;
    Command commands[CI_IOCTL_N];
    std::map<int, std::shared_ptr<IspFile>> files;
    std::condition_variable changed;
    std::map<unsigned, Fault> faults;
    TraceRing trace;
    std::vector<void (*)()> resetHooks;
    std::vector<void (*)()> deviceResetHooks;
    IspDeviceState state;
    std::unique_ptr<SimWorkerPool> workers;
    bool absent = false;
    int failNextClose = 0;
    int driverObjects = 0;
    int memoryAreas = 0;
    uint32_t nextMemoryId = 1;
};

void restoreState(IspDeviceState &state) {
    state.description = DefaultDescription();
    state.dpfInternalAvailable = state.description.sHWInfo.config_ui32DPFInternalSize;
    state.rtm = CI_RTM_INFO{};
    state.debugRegisters.clear();
    state.resets = 0;
    state.modelThreads = SimDefaultThreads();
}

Device &device() {
    static Device *d = [] {
        Device *created = new Device(); // never destroyed: static initialisers of other files register into it
        restoreState(created->state);
        return created;
    }();
    return *d;
}

int commandNumber(unsigned long request) {
    for (unsigned nr = 0; nr < CI_IOCTL_N; ++nr) {
        if (kRequests[nr] == request)
            return static_cast<int>(nr);
    }
    return -1;
}

void releaseMemory(Device &d, DeviceMemory &mem) {
    if (mem.host != nullptr)
        ::munmap(mem.host, mem.hostSize);
    ::close(mem.fd);
    d.memoryAreas--;
}

/** Releases what the stack left behind: the file's objects (newest first), then its device memory. */
void releaseFile(Device &d, IspFile &file) {
    while (!file.extensions.empty())
        file.extensions.pop_back();
    for (auto &m : file.memory)
        releaseMemory(d, m.second);
    file.memory.clear();
}

int ispOpen(const char * /*path*/, int flags) {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    if (d.absent)
        return -ENOENT;
    if ((flags & O_ACCMODE) != O_RDWR)
        return -EACCES;
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return -errno;
    std::shared_ptr<IspFile> file(new IspFile());
    file->fd = fd;
    file->flags = flags;
    d.files[fd] = std::move(file);
    return fd;
}

int ispClose(int fd) {
    Device &d = device();
    std::unique_lock<std::mutex> lock(d.lock);
    auto it = d.files.find(fd);
    if (it == d.files.end())
        return -EBADF;
    std::shared_ptr<IspFile> file = std::move(it->second);
    d.files.erase(it);
    file->closed = true;
    d.changed.notify_all();
    // A command still running on the file (a blocking wait) releases it when it returns.
    if (file->inFlight == 0)
        releaseFile(d, *file);
    ::close(fd);
    if (d.failNextClose != 0) {
        const int error = d.failNextClose;
        d.failNextClose = 0;
        return -error;
    }
    return 0;
}

long ispIoctl(int fd, unsigned long request, void *arg) {
    Device &d = device();
    std::unique_lock<std::mutex> lock(d.lock);
    auto it = d.files.find(fd);
    if (it == d.files.end())
        return -EBADF;
    const std::shared_ptr<IspFile> keep = it->second;
    IspFile &file = *keep;

    const int nr = commandNumber(request);
    const Command *cmd = nr >= 0 ? &d.commands[nr] : nullptr;
    const size_t argSize = cmd != nullptr ? cmd->argSize : 0;
    const uint8_t *bytes = static_cast<const uint8_t *>(arg);
    // The record as it came in, kept per thread: a blocking command releases the lock while others are traced.
    thread_local std::vector<uint8_t> argIn;
    if (argSize > 0 && arg != nullptr)
        argIn.assign(bytes, bytes + argSize);
    else
        argIn.clear();

    long result = 0;
    bool injected = false;
    auto fault = nr >= 0 ? d.faults.find(static_cast<unsigned>(nr)) : d.faults.end();
    if (fault != d.faults.end() && fault->second.skip > 0) {
        fault->second.skip--;
        fault = d.faults.end();
    }
    if (fault != d.faults.end()) {
        result = fault->second.answer;
        injected = true;
        if (fault->second.mode == FaultMode::Once)
            d.faults.erase(fault);
    } else if (cmd == nullptr || cmd->handler == nullptr) {
        result = -ENOTTY;
    } else if (argSize > 0 && arg == nullptr) {
        result = -EFAULT;
    } else {
        CommandContext ctx{file, static_cast<unsigned>(nr), request, arg, lock};
        file.inFlight++;
        result = cmd->handler(ctx);
        file.inFlight--;
        if (file.closed && file.inFlight == 0)
            releaseFile(d, file);
    }
    if (TraceEntry *entry = d.trace.next()) {
        entry->fd = fd;
        entry->request = request;
        entry->nr = nr;
        entry->value = static_cast<long>(reinterpret_cast<intptr_t>(arg));
        entry->argIn.assign(argIn.begin(), argIn.end());
        if (argSize > 0 && arg != nullptr)
            entry->argOut.assign(bytes, bytes + argSize);
        else
            entry->argOut.clear();
        entry->result = result;
        entry->injected = injected;
    }
    return result;
}

void *ispMmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset, int *error) {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    auto it = d.files.find(fd);
    const long page = sysconf(_SC_PAGESIZE);
    if (it == d.files.end()) {
        *error = EBADF;
        return MAP_FAILED;
    }
    if (offset < 0 || offset % page != 0) {
        *error = EINVAL;
        return MAP_FAILED;
    }
    DeviceMemory *mem = FindDeviceMemory(*it->second, static_cast<uint32_t>(offset / page));
    const size_t pages = mem != nullptr ? (mem->size + page - 1) / page * page : 0;
    if (mem == nullptr || length == 0 || length > pages) {
        *error = EINVAL;
        return MAP_FAILED;
    }
    void *mapped = ::mmap(addr, length, prot, flags, mem->fd, 0);
    if (mapped == MAP_FAILED)
        *error = errno;
    return mapped;
}

const NodeOps kIspNode = {ispOpen, ispClose, ispIoctl, ispMmap};
const bool g_registered = RegisterNode(kDevicePath, &kIspNode);

} // namespace

bool RegisterCommand(unsigned nr, size_t argSize, CommandHandler handler) {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    if (nr >= CI_IOCTL_N || d.commands[nr].handler != nullptr || handler == nullptr)
        return false;
    d.commands[nr].handler = handler;
    d.commands[nr].argSize = argSize;
    return true;
}

bool RegisterResetHook(void (*hook)()) {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    d.resetHooks.push_back(hook);
    return true;
}

bool RegisterDeviceResetHook(void (*hook)()) {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    d.deviceResetHooks.push_back(hook);
    return true;
}

void RunDeviceResetHooks() {
    for (auto hook : device().deviceResetHooks)
        hook();
}

std::mutex &PlatformMutex() { return device().lock; }

std::condition_variable &PlatformCondition() { return device().changed; }

IspDeviceState &IspDevice() { return device().state; }

SimWorkerPool &IspModelWorkers() {
    Device &d = device();
    if (!d.workers || d.workers->threads() != std::max(1u, d.state.modelThreads)) {
        d.workers.reset(new SimWorkerPool(d.state.modelThreads));
    }
    return *d.workers;
}

DeviceMemory *AllocateDeviceMemory(IspFile &file, size_t size, int *error) {
    Device &d = device();
    if (size == 0) {
        *error = -EINVAL;
        return nullptr;
    }
    const int fd = ::memfd_create("qornorva0-mem", MFD_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        *error = -ENOMEM;
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    const uint32_t id = d.nextMemoryId++;
    d.memoryAreas++;
    DeviceMemory &mem = file.memory[id];
    mem = DeviceMemory{id, fd, size, nullptr, 0};
    return &mem;
}

DeviceMemory *ImportDeviceMemory(IspFile &file, int fd, size_t size, int *error) {
    Device &d = device();
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        *error = -EBADF;
        return nullptr;
    }
    if (size == 0 || static_cast<size_t>(st.st_size) < size) {
        *error = -EINVAL;
        return nullptr;
    }
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        *error = -errno;
        return nullptr;
    }
    const uint32_t id = d.nextMemoryId++;
    d.memoryAreas++;
    DeviceMemory &mem = file.memory[id];
    mem = DeviceMemory{id, copy, size, nullptr, 0};
    return &mem;
}

DeviceMemory *FindDeviceMemory(IspFile &file, uint32_t id) {
    auto it = file.memory.find(id);
    return it == file.memory.end() ? nullptr : &it->second;
}

IspFile *FindOpenFile(int fd) {
    Device &d = device();
    auto it = d.files.find(fd);
    return it == d.files.end() ? nullptr : it->second.get();
}

void *DeviceMemoryHost(DeviceMemory &memory) {
    if (memory.host == nullptr) {
        void *view = ::mmap(nullptr, memory.size, PROT_READ | PROT_WRITE, MAP_SHARED, memory.fd, 0);
        if (view == MAP_FAILED)
            return nullptr;
        memory.host = view;
        memory.hostSize = memory.size;
    }
    return memory.host;
}

bool FreeDeviceMemory(IspFile &file, uint32_t id) {
    auto it = file.memory.find(id);
    if (it == file.memory.end())
        return false;
    releaseMemory(device(), it->second);
    file.memory.erase(it);
    return true;
}

void DriverObjectCreated() { device().driverObjects++; }
void DriverObjectDestroyed() { device().driverObjects--; }

void ResetPlatform() {
    Device &d = device();
    std::vector<void (*)()> hooks;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        restoreState(d.state);
        d.faults.clear();
        d.trace.setCapacity(kDefaultTraceCapacity);
        d.trace.clear();
        d.absent = false;
        d.failNextClose = 0;
        hooks = d.resetHooks;
    }
    ResetSeam();
    for (auto hook : hooks)
        hook();
}

std::vector<TraceEntry> Trace() {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    return d.trace.entries();
}

void SetTraceCapacity(size_t commands) {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    d.trace.setCapacity(commands);
}

size_t TraceCapacity() {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    return d.trace.capacity();
}

void ClearTrace() {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    d.trace.clear();
}

void InjectCommandAnswer(unsigned nr, long answer, FaultMode mode, unsigned skip) {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    d.faults[nr] = Fault{answer, mode, skip};
}

void InjectCommandFault(unsigned nr, int negErrno, FaultMode mode, unsigned skip) {
    InjectCommandAnswer(nr, negErrno, mode, skip);
}

void ClearCommandFaults() {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    d.faults.clear();
}

void SetDeviceAbsent(bool absent) {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    d.absent = absent;
}

void FailNextClose(int error) {
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    d.failNextClose = error;
}

PlatformCounters GetCounters() {
    const SeamCounters seam = GetSeamCounters();
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    return PlatformCounters{seam.openDescriptors, seam.liveMappings, d.driverObjects, d.memoryAreas};
}

} // namespace norva_sim
