#include "counting_allocator.h"

#include <cstdlib>
#include <new>

namespace counting_allocator {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
thread_local int tInDevice = 0;
} // namespace counting_allocator

namespace {
void count() {
    using namespace counting_allocator;
    if (gCounting.load(std::memory_order_relaxed) && tInDevice == 0) {
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    }
}
} // namespace

void *operator new(std::size_t size) {
    count();
    if (void *p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
// Every form is replaced, so that each delete frees what its new allocated.
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    try {
        return operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return operator new(size, std::nothrow); }
void *operator new(std::size_t size, std::align_val_t align) {
    count();
    const std::size_t a = static_cast<std::size_t>(align);
    if (void *p = std::aligned_alloc(a, (size + a - 1) / a * a))
        return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size, std::align_val_t align) { return operator new(size, align); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete(void *p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void *p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void *p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t, std::align_val_t) noexcept { std::free(p); }
