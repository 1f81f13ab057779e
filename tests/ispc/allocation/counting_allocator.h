#ifndef NORVA_TESTS_COUNTING_ALLOCATOR_H
#define NORVA_TESTS_COUNTING_ALLOCATOR_H

// The global allocation functions of the allocation test program, replaced so that they count.
// They live in a translation unit of their own: inlined into their callers, the compiler would see a pointer
// from operator new reach free() and report a mismatched allocation.

#include <atomic>

namespace counting_allocator {
/** Allocations are counted while this is set. */
extern std::atomic<bool> gCounting;
/** The allocations counted. */
extern std::atomic<long> gAllocations;
/** Depth of this thread's system calls into the simulated platform; their allocations are not counted. */
extern thread_local int tInDevice;
} // namespace counting_allocator

#endif
