// The vector code of each instruction set behind one small interface, for the
// single-source run compiled once per instruction set:
//   scan(ids, count, v)        the heap position of node v, 0 when absent;
//   scanShadowed(low, ids, count, v)  the same over the ids' low halves;
//   filters<Key>()             whether there are vector arc filters for keys
//                              of this width;
//   filterMany(...), filterFew(...)  those filters, for nodes with more than
//                              kFewArcs arcs and for the others.
#pragma once

#include <cstdint>

#include "arc_filters.h"
#include "heap_scans.h"

namespace engine {

struct PortableKernels {
    template <typename Id>
    static int32_t scan(const Id* h, int32_t count, int32_t v) { return scanPortable(h, count, v); }
    static int32_t scanShadowed(const uint16_t* low, const int32_t* h, int32_t count, int32_t v) {
        return scanShadowedPortable(low, h, count, v);
    }
    template <typename Key>
    static constexpr bool filters() { return false; }
    template <typename... Args>
    static int32_t filterMany(Args...) { return 0; }
    template <typename... Args>
    static int32_t filterFew(Args...) { return 0; }
};

#ifdef SPC_X86
struct Sse2Kernels : PortableKernels {
    template <typename Id>
    static int32_t scan(const Id* h, int32_t count, int32_t v) { return scanSse2(h, count, v); }
    static int32_t scanShadowed(const uint16_t* low, const int32_t* h, int32_t count, int32_t v) {
        return scanShadowedSse2(low, h, count, v);
    }
};

// Vector filters for 32-bit keys only: the gather of 64-bit keys and their
// compress need AVX-512 to pay.
struct Avx2Kernels {
    template <typename Id>
    static int32_t scan(const Id* h, int32_t count, int32_t v) { return scanAvx2(h, count, v); }
    static int32_t scanShadowed(const uint16_t* low, const int32_t* h, int32_t count, int32_t v) {
        return scanShadowedAvx2(low, h, count, v);
    }
    template <typename Key>
    static constexpr bool filters() { return sizeof(Key) == 4; }
    template <typename... Args>
    static int32_t filterMany(Args... args) { return filterAvx2(args...); }
    template <typename... Args>
    static int32_t filterFew(Args... args) { return filterAvx2(args...); }
};

// With few arcs and 32-bit keys, eight lanes: on an AVX-512 machine (Intel)
// one eight-lane step measured faster than both a sixteen-lane step and the
// scalar fixed slots. 64-bit keys take eight lanes a step anyway.
struct Avx512Kernels {
    template <typename Id>
    static int32_t scan(const Id* h, int32_t count, int32_t v) { return scanAvx512(h, count, v); }
    static int32_t scanShadowed(const uint16_t* low, const int32_t* h, int32_t count, int32_t v) {
        return scanShadowedAvx512(low, h, count, v);
    }
    template <typename Key>
    static constexpr bool filters() { return true; }
    template <typename... Args>
    static int32_t filterMany(Args... args) { return filterAvx512(args...); }
    template <typename Head, typename Length, typename Key>
    static int32_t filterFew(const Head* head, const Length* length, int32_t begin, int32_t end, Key du,
                             const Key* label, int32_t* out_v, Key* out_c) {
        if constexpr (sizeof(Key) == 4) return filterAvx2(head, length, begin, end, du, label, out_v, out_c);
        return filterAvx512(head, length, begin, end, du, label, out_v, out_c);
    }
};
#endif

}  // namespace engine
