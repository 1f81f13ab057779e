#ifndef NORVA_SIM_ISP_H
#define NORVA_SIM_ISP_H

/*
 * The simulated ISP device "/dev/qornorva0": what the files of platform/ build on.
 *
 * - Commands: each file registers the handlers of its command numbers with NORVA_SIM_COMMAND; the device
 *   dispatches on the exact 32-bit request values, records each command in the trace and applies injected
 *   faults before the handler runs.
 * - Per-open-file state: IspFile; a file's own objects live in an extension (IspFile::extension<T>()), created
 *   on first use and destroyed when the descriptor is closed (so a close releases whatever the stack left).
 * - Device memory: memfd-backed areas with identifiers > 0, unique across every kind, mapped by the stack at
 *   identifier × page size.
 * - Locking: one platform lock. Handlers and extension destructors run with it held; the helpers below expect
 *   it held. A handler that blocks waits on PlatformCondition() with ctx.lock, always with a timeout, and
 *   rechecks its state and ctx.file.closed after each wake; whoever changes state notifies it.
 */

#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "ci/ci_api_structs.h"
#include "ci/ci_ioctrl.h"

namespace norva_sim {

/** Base of the per-file objects of other platform files; destroyed (newest first) when the file closes. */
class FileExtension {
public:
    virtual ~FileExtension() = default;
};

/** One area of device memory. */
struct DeviceMemory {
    uint32_t id; /* > 0; the stack maps it at id × page size */
    int fd;      /* the memfd (or the imported descriptor's duplicate) */
    size_t size; /* bytes usable */
    void *host;  /* the device's own read-write view, or null until DeviceMemoryHost asks for it */
    size_t hostSize;
};

/** State of one open descriptor of the device. */
struct IspFile {
    int fd = -1;
    int flags = 0;
    /** Set when the descriptor is closed while a command on it still runs: a blocking handler returns. */
    bool closed = false;
    /** Commands running on the file; its objects are released when the last one returns after a close. */
    int inFlight = 0;
    std::map<uint32_t, DeviceMemory> memory;
    std::vector<std::pair<const void *, std::unique_ptr<FileExtension>>> extensions;

    /** The file's object of type T (derived from FileExtension), created on first use. */
    template <class T> T &extension() {
        const void *key = extensionKey<T>();
        for (auto &e : extensions) {
            if (e.first == key)
                return static_cast<T &>(*e.second);
        }
        extensions.emplace_back(key, std::unique_ptr<FileExtension>(new T()));
        return static_cast<T &>(*extensions.back().second);
    }
    /** The file's object of type T, or null when none was created. */
    template <class T> T *findExtension() {
        const void *key = extensionKey<T>();
        for (auto &e : extensions) {
            if (e.first == key)
                return static_cast<T *>(e.second.get());
        }
        return nullptr;
    }

private:
    template <class T> static const void *extensionKey() {
        static const char key = 0;
        return &key;
    }
};

/** What a handler receives. */
struct CommandContext {
    IspFile &file;
    unsigned nr;           /* the command number (CI_eIOCTL) */
    unsigned long request; /* the exact request value */
    void *arg;             /* the argument as passed: a record pointer, or an int by value */
    std::unique_lock<std::mutex> &lock;

    /** The argument of a command that takes an int by value. */
    long value() const { return static_cast<long>(reinterpret_cast<intptr_t>(arg)); }
    template <class T> T *record() const { return static_cast<T *>(arg); }
};

/** Answers a command: the non-negative answer, or -errno. */
typedef long (*CommandHandler)(CommandContext &ctx);

/**
 * Registers the handler of a command number. `argSize` is the size of the record the command points to (the
 * trace copies that many bytes before and after the call); 0 for a command that takes an int by value.
 * Returns false when the number is unknown or already taken.
 */
bool RegisterCommand(unsigned nr, size_t argSize, CommandHandler handler);

#define NORVA_SIM_CONCAT2(a, b) a##b
#define NORVA_SIM_CONCAT(a, b) NORVA_SIM_CONCAT2(a, b)
/** Registers a handler from a static initialiser of the calling file. */
#define NORVA_SIM_COMMAND(nr, argSize, handler)                                                                        \
    static const bool NORVA_SIM_CONCAT(norvaSimCommand_, __LINE__) =                                                   \
        ::norva_sim::RegisterCommand((nr), (argSize), (handler))

/** Called by ResetPlatform after the defaults are restored, without the platform lock (register from a static
 * initialiser). */
bool RegisterResetHook(void (*hook)());
/** Called by the device's CI_RESET command, with the platform lock held. */
bool RegisterDeviceResetHook(void (*hook)());

/** Runs the device-reset hooks (the CI_RESET handler does, with the platform lock held). */
void RunDeviceResetHooks();

/** The platform lock. */
std::mutex &PlatformMutex();
/** Notified on every state change that a blocked command may wait for (and when a file is closed). */
std::condition_variable &PlatformCondition();

/** Allocates `size` bytes of zeroed device memory for the file; null with *error set (-errno) on failure. */
DeviceMemory *AllocateDeviceMemory(IspFile &file, size_t size, int *error);
/** Imports a descriptor (a dmabuf) of at least `size` bytes as device memory; null with *error on failure. */
DeviceMemory *ImportDeviceMemory(IspFile &file, int fd, size_t size, int *error);
DeviceMemory *FindDeviceMemory(IspFile &file, uint32_t id);
/** The state of an open descriptor of the device, or null. */
IspFile *FindOpenFile(int fd);
/** The device's own read-write view of an area (mapped on first use, released with the area). */
void *DeviceMemoryHost(DeviceMemory &memory);
/** Frees an area; the stack's mappings of it stay valid until it unmaps them. */
bool FreeDeviceMemory(IspFile &file, uint32_t id);

/** Counter of driver objects (pipelines, shots, buffers, matrices, generators, frames...). */
void DriverObjectCreated();
void DriverObjectDestroyed();

/** State of the device shared by every open file. */
struct IspDeviceState {
    /** What CI_INFO_GET answers: line-store status, hardware description and gamma curve. */
    CI_CONNECTION description;
    QOR_UINT32 dpfInternalAvailable;
    CI_RTM_INFO rtm;
    std::map<std::pair<uint8_t, uint32_t>, uint32_t> debugRegisters;
    unsigned resets;
    /** Threads of the image model (the device's worker pool); default SimDefaultThreads(), 1 = no worker. */
    unsigned modelThreads;
};
/** The device state; hold the platform lock while a descriptor of the device is in use by another thread. */
IspDeviceState &IspDevice();
class SimWorkerPool;

/**
 * The worker pool of the image models, with IspDevice().modelThreads threads: started on first use and again
 * only when that count changes, never per frame. Hold the platform lock.
 */
SimWorkerPool &IspModelWorkers();

/** The default hardware description of the simulated device. */
CI_CONNECTION DefaultDescription();

} // namespace norva_sim

#endif /* NORVA_SIM_ISP_H */
