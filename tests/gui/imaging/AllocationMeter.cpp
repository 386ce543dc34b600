#include "AllocationMeter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) ||                         \
    __has_feature(thread_sanitizer)
#define LV_METER_OFF 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LV_METER_OFF 1
#endif

namespace {
std::atomic<long long> GCurrent{0};
std::atomic<long long> GPeak{0};
} // namespace

#ifndef LV_METER_OFF

#include <malloc.h>

// glibc's own allocator entry points, which the counting wrappers below pass on to.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void* __libc_valloc(size_t);
void* __libc_pvalloc(size_t);
}
// NOLINTEND(bugprone-reserved-identifier)

namespace {

void Add(void* APtr) {
    if (APtr) {
        const auto size = static_cast<long long>(malloc_usable_size(APtr));
        const long long now = GCurrent.fetch_add(size, std::memory_order_relaxed) + size;
        long long peak = GPeak.load(std::memory_order_relaxed);
        while (now > peak && !GPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
        }
    }
}

void Remove(void* APtr) {
    if (APtr) {
        GCurrent.fetch_sub(static_cast<long long>(malloc_usable_size(APtr)),
                           std::memory_order_relaxed);
    }
}

} // namespace

extern "C" {

void* malloc(size_t ASize) {
    void* p = __libc_malloc(ASize);
    Add(p);
    return p;
}

void free(void* APtr) {
    Remove(APtr);
    __libc_free(APtr);
}

void* calloc(size_t ACount, size_t ASize) {
    void* p = __libc_calloc(ACount, ASize);
    Add(p);
    return p;
}

void* realloc(void* APtr, size_t ASize) {
    const long long old = APtr ? static_cast<long long>(malloc_usable_size(APtr)) : 0;
    void* p = __libc_realloc(APtr, ASize);
    if (p || ASize == 0) {
        GCurrent.fetch_sub(old, std::memory_order_relaxed);
        Add(p);
    }
    return p;
}

void* memalign(size_t AAlign, size_t ASize) {
    void* p = __libc_memalign(AAlign, ASize);
    Add(p);
    return p;
}

void* aligned_alloc(size_t AAlign, size_t ASize) {
    return memalign(AAlign, ASize);
}

int posix_memalign(void** AOut, size_t AAlign, size_t ASize) {
    if (AAlign < sizeof(void*) || (AAlign & (AAlign - 1)) != 0) {
        return EINVAL;
    }
    void* p = memalign(AAlign, ASize);
    if (!p && ASize != 0) {
        return ENOMEM;
    }
    *AOut = p;
    return 0;
}

void* valloc(size_t ASize) {
    void* p = __libc_valloc(ASize);
    Add(p);
    return p;
}

void* pvalloc(size_t ASize) {
    void* p = __libc_pvalloc(ASize);
    Add(p);
    return p;
}

} // extern "C"

#endif

namespace AllocationMeter {

bool Available() {
#ifdef LV_METER_OFF
    return false;
#else
    return true;
#endif
}

long long Current() {
    return GCurrent.load(std::memory_order_relaxed);
}

long long Peak() {
    return GPeak.load(std::memory_order_relaxed);
}

void ResetPeak() {
    GPeak.store(GCurrent.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

} // namespace AllocationMeter
