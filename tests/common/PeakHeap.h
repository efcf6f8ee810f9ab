// The most heap memory held at once while a piece of code runs, counted
// through AddressSanitizer's allocation hooks (every malloc and new of the
// process, libraries included). Available only in trees built with it.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define UMBROLUX_PEAK_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UMBROLUX_PEAK_HEAP 1
#endif
#endif

#ifdef UMBROLUX_PEAK_HEAP
#include <atomic>

// AddressSanitizer's allocator interface (GCC ships no header for it).
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void *, size_t),
                                              void (*free_hook)(const volatile void *));
size_t __sanitizer_get_allocated_size(const volatile void *p);
}

namespace peak_heap {

inline std::atomic<long long> &Live()
{
    static std::atomic<long long> live{0};
    return live;
}
inline std::atomic<long long> &Peak()
{
    static std::atomic<long long> peak{0};
    return peak;
}
inline void OnMalloc(const volatile void *, size_t size)
{
    const long long now = Live() += (long long)size;
    long long seen = Peak().load();
    while (now > seen && !Peak().compare_exchange_weak(seen, now)) {
    }
}
inline void OnFree(const volatile void *p)
{
    Live() -= (long long)__sanitizer_get_allocated_size(p);
}

// Bytes above the start's that were held at the peak of `run`.
template <typename Run>
long long Measure(Run run)
{
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
    (void)installed;
    const long long start = Live().load();
    Peak() = start;
    run();
    return Peak().load() - start;
}

} // namespace peak_heap
#endif
