// A vector whose storage starts on a cache line, so that vector code can read
// it in aligned blocks that never straddle two lines.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

constexpr size_t kCacheLine = 64;

template <typename T>
struct CacheLineAllocator {
    using value_type = T;
    CacheLineAllocator() = default;
    template <typename U>
    CacheLineAllocator(const CacheLineAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t{kCacheLine})); }
    void deallocate(T* p, size_t) { ::operator delete(p, std::align_val_t{kCacheLine}); }
    template <typename U>
    bool operator==(const CacheLineAllocator<U>&) const { return true; }
    template <typename U>
    bool operator!=(const CacheLineAllocator<U>&) const { return false; }
};

template <typename T>
using AlignedVector = std::vector<T, CacheLineAllocator<T>>;
