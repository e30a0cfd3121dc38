// Counts the heap allocations of a benchmark process (malloc, calloc,
// realloc), so that a benchmark can report what a loop allocates. Include
// it in exactly one file of a benchmark program. Under a sanitizer, which
// owns the allocator, nothing is counted.
#pragma once

#include <atomic>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kCountingAllocations = false;
inline long allocations() {
    return 0;
}
#else
constexpr bool kCountingAllocations = true;
inline std::atomic<long> g_allocations{0};
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *malloc(size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
void *calloc(size_t n, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
void *realloc(void *p, size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
}
inline long allocations() {
    return g_allocations.load(std::memory_order_relaxed);
}
#endif
