#ifndef NORVA_SIM_DMABUF_H
#define NORVA_SIM_DMABUF_H

/*
 * The simulated dmabuf allocator device "/dev/dmabuf": one open per buffer; allocate (0x80084740, the size by
 * value) creates a memfd of that size, export (0x80084741) answers a new descriptor of it. An exported
 * descriptor keeps the buffer alive after the device descriptor is closed, as a real dmabuf does.
 */

namespace norva_sim {

enum class DmabufFault { Open, Allocate, Export };

/** The next open, allocate or export fails with the errno (0 cancels); ResetPlatform clears every fault. */
void FailNextDmabuf(DmabufFault which, int error);

/**
 * While set, opening "/dev/dmabuf" fails with ENOENT, as on a board without the allocator. It starts set when the
 * environment has NORVA_SIM_DMABUF_ABSENT=1, and ResetPlatform restores what the variable says.
 */
void SetDmabufAbsent(bool absent);

struct DmabufCounters {
    int openDevices; /* device descriptors not closed */
    int allocations; /* allocate commands answered with success, since ResetPlatform */
    int exports;     /* export commands answered with success, since ResetPlatform */
};
DmabufCounters GetDmabufCounters();

} // namespace norva_sim

#endif /* NORVA_SIM_DMABUF_H */
