#ifndef NORVA_BENCH_ALLOC_COUNTER_H
#define NORVA_BENCH_ALLOC_COUNTER_H

/*
 * Counts the heap allocations of a benchmark program (malloc, calloc, realloc; operator new goes through
 * malloc). Allocations made while a thread is marked "in the device" are counted apart, so the simulated
 * device's own bookkeeping does not hide or inflate what the stack does per frame. Sanitizer builds keep
 * their own allocator and count nothing.
 */

namespace norva_bench {

/** True when the counter is active in this build. */
bool CountsAllocations();
/** Allocations made outside the device so far. */
long Allocations();
/** Allocations made while the calling thread was marked in the device. */
long DeviceAllocations();
/** Marks the calling thread as running device code (true) or the stack's (false). */
void SetInDevice(bool inDevice);

} // namespace norva_bench

#endif
