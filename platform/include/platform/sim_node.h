#ifndef NORVA_SIM_NODE_H
#define NORVA_SIM_NODE_H

/*
 * The simulated platform behind the system-call seam: device nodes registered by path. A node hands out real
 * kernel descriptors (memfd, eventfd), so they never collide with real files and can be polled and closed;
 * calls on descriptors and paths the simulation does not own go to the real system calls.
 */

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "sys/sys_seam.h"

namespace norva_sim {

/** What a simulated device node does; every call is made without any platform lock held. */
struct NodeOps {
    /** Opens the node: a kernel descriptor the node owns, or -errno. */
    int (*open)(const char *path, int flags);
    /** Releases the node's state of the descriptor and closes it: 0 or -errno. */
    int (*close)(int fd);
    /** The driver's non-negative answer, or -errno. Null: -ENOTTY. */
    long (*ioctl)(int fd, unsigned long request, void *arg);
    /** Maps device memory: the address, or MAP_FAILED with *error set to an errno. Null: -ENODEV. */
    void *(*mmap)(void *addr, size_t length, int prot, int flags, int fd, off_t offset, int *error);
    /** read(2) on the node: the bytes read, or -errno. Null: -EINVAL. */
    ssize_t (*read)(int fd, void *buf, size_t count) = nullptr;
    /** write(2) on the node: the bytes written, or -errno. Null: -EINVAL. */
    ssize_t (*write)(int fd, const void *buf, size_t count) = nullptr;
};

/** Registers a node for an exact path (from a static initialiser of the node's file). */
bool RegisterNode(const char *path, const NodeOps *ops);

/** The seam table of the simulation (registered with SEAM_RegisterSimulation when the library loads). */
const SEAM_OPS *SimulationOps();

/** Counters of what the stack holds through the seam. */
struct SeamCounters {
    int openDescriptors; /* descriptors of simulated nodes not yet closed */
    int liveMappings;    /* mappings of simulated device memory not yet unmapped */
};
SeamCounters GetSeamCounters();

/** The nth mapping of simulated device memory from now fails with the errno (1 = the next one; 0 cancels). */
void FailNthMapping(unsigned n, int error);

/** Sleeps: real by default; with the virtual clock on, a sleep only advances the virtual time. */
void SetVirtualClock(bool on);
uint64_t VirtualTimeUs();

/** Clears the mapping fault and the virtual time (called by ResetPlatform). */
void ResetSeam();

} // namespace norva_sim

#endif /* NORVA_SIM_NODE_H */
