#include "alloc_counter.h"

#include <atomic>
#include <cstddef>

namespace {
std::atomic<long> gAllocations{0};
std::atomic<long> gDeviceAllocations{0};
thread_local bool tInDevice = false;

inline void countAllocation() {
    (tInDevice ? gDeviceAllocations : gAllocations).fetch_add(1, std::memory_order_relaxed);
}
} // namespace

#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *malloc(size_t n) {
    countAllocation();
    return __libc_malloc(n);
}
void *calloc(size_t n, size_t s) {
    countAllocation();
    return __libc_calloc(n, s);
}
void *realloc(void *p, size_t n) {
    countAllocation();
    return __libc_realloc(p, n);
}
}
#endif

namespace norva_bench {

bool CountsAllocations() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return true;
#endif
}
long Allocations() { return gAllocations.load(std::memory_order_relaxed); }
long DeviceAllocations() { return gDeviceAllocations.load(std::memory_order_relaxed); }
void SetInDevice(bool inDevice) { tInDevice = inDevice; }

} // namespace norva_bench
