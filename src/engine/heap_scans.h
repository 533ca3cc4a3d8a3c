// Scans of the node heap for a node's position, one per instruction set and
// id width. The heap keeps no table from node to position, so every decrease
// of a label in the heap starts with one of these.
#pragma once

#include <cstdint>

#include "instruction_sets.h"

namespace engine {

// The ids' arrays start on a cache line (AlignedVector) and need this many
// entries after the heap's last position: the vector scans read whole blocks,
// and ignore what lies beyond the heap.
constexpr int32_t kScanPadding = 128;

// The scans search from the end of the heap down. A node is in the heap at
// most once, so the position they find is the first one that holds it, as in
// a forward scan; but the nodes whose labels improve tend to have large labels,
// and those sit near the bottom of the heap, which is its end.
//
// They read blocks of K::kBlock positions. After the heap's last block, the
// blocks start at multiples of kBlock, so that with the array on a cache line
// (an AlignedVector) no load straddles two lines, which measured up to twice
// as fast from the second-level cache. A kernel K gives
//   kBlock, kShift: a block's positions, 1 << kShift bits of a mask each;
//   match(j): the mask of the positions j .. j + kBlock - 1 that may hold the
//       node;
//   any(j): whether any of them may hold it, asked more cheaply.
// "May": a kernel that reads a shortened copy of the ids (the low halves of
// 32-bit ids) finds candidates, and `holds` checks each against the full id.
// Only positions 1..count are candidates: the others hold the unused
// position 0 or stale ids.

// The first candidate in mask m of the block at j that holds the node: its
// position, or 0.
template <typename K, typename Holds>
__attribute__((always_inline)) inline int32_t positionHolding(uint64_t m, int32_t j, Holds holds) {
    constexpr uint64_t kLaneBits = (uint64_t{1} << (1 << K::kShift)) - 1;
    while (m != 0) {
        const int32_t lane = __builtin_ctzll(m) >> K::kShift;
        if (holds(j + lane)) return j + lane;
        m &= ~(kLaneBits << (lane << K::kShift));
    }
    return 0;
}

// The mask bits of lanes lo .. hi - 1 of a block (0 <= lo < hi <= kBlock).
template <typename K>
inline uint64_t lanes(int32_t lo, int32_t hi) {
    const uint64_t below_hi = hi == K::kBlock ? ~uint64_t{0} : (uint64_t{1} << (hi << K::kShift)) - 1;
    return below_hi & ~((uint64_t{1} << (lo << K::kShift)) - 1);
}

template <typename K, typename Holds>
__attribute__((always_inline)) inline int32_t scanBlocks(const K& k, int32_t count, Holds holds) {
    constexpr int32_t kBlock = K::kBlock;
    static_assert((kBlock & (kBlock - 1)) == 0 && (kBlock << K::kShift) <= 64, "a block's bits fit a mask");
    if (count < kBlock) {
        return count < 1 ? 0 : positionHolding<K>(k.match(0) & lanes<K>(1, count + 1), 0, holds);
    }
    // The last kBlock positions first, wherever they start: most nodes
    // sought sit there. Then aligned blocks below them; the first of those
    // may reach into the positions just searched, which does no harm.
    const int32_t top = count - kBlock + 1;
    if (const int32_t p = positionHolding<K>(k.match(top), top, holds)) return p;
    for (int32_t j = (top - 1) & ~(kBlock - 1); j > 0; j -= kBlock) {
        if (!k.any(j)) continue;
        if (const int32_t p = positionHolding<K>(k.match(j), j, holds)) return p;
    }
    return positionHolding<K>(k.match(0) & lanes<K>(1, kBlock), 0, holds);
}

// Every candidate holds the node: the scanned array is the ids themselves.
struct AlwaysHolds {
    bool operator()(int32_t) const { return true; }
};

template <typename Id>
inline int32_t scanPortable(const Id* h, int32_t count, int32_t v) {
    for (int32_t j = 1; j <= count; ++j) {
        if (h[j] == v) return j;
    }
    return 0;
}

// The scans of a heap of 32-bit ids that keeps their low halves in `low`:
// they read the halves, and check each candidate against the full id. Nodes
// that share v's low half are rare in the part of the heap scanned (one in
// 65,536 positions for ids spread evenly), so the check seldom fails.
struct HoldsId {
    const int32_t* id;
    int32_t v;
    bool operator()(int32_t p) const { return id[p] == v; }
};

inline int32_t scanShadowedPortable(const uint16_t* low, const int32_t* id, int32_t count, int32_t v) {
    const uint16_t half = static_cast<uint16_t>(v);
    for (int32_t j = 1; j <= count; ++j) {
        if (low[j] == half && id[j] == v) return j;
    }
    return 0;
}

#ifdef SPC_X86
inline uint64_t joinMasks(uint64_t low, uint64_t high, int bits) { return low | high << bits; }

template <typename Id>
struct Sse2Scan;

template <>
struct Sse2Scan<int32_t> {
    static constexpr int32_t kBlock = 16, kShift = 0;
    const int32_t* h;
    __m128i key;
    Sse2Scan(const int32_t* ids, int32_t v) : h(ids), key(_mm_set1_epi32(v)) {}
    __m128i eq(int32_t p) const { return _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + p)), key); }
    static uint64_t bits(__m128i e) { return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(e))); }
    bool any(int32_t j) const {
        return _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(eq(j), eq(j + 4)), _mm_or_si128(eq(j + 8), eq(j + 12)))) != 0;
    }
    uint64_t match(int32_t j) const {
        return joinMasks(joinMasks(bits(eq(j)), bits(eq(j + 4)), 4), joinMasks(bits(eq(j + 8)), bits(eq(j + 12)), 4), 8);
    }
};

template <>
struct Sse2Scan<uint16_t> {
    static constexpr int32_t kBlock = 32, kShift = 1;
    const uint16_t* h;
    __m128i key;
    Sse2Scan(const uint16_t* ids, int32_t v) : h(ids), key(_mm_set1_epi16(static_cast<short>(v))) {}
    __m128i eq(int32_t p) const { return _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + p)), key); }
    static uint64_t bits(__m128i e) { return static_cast<unsigned>(_mm_movemask_epi8(e)); }
    bool any(int32_t j) const {
        return _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(eq(j), eq(j + 8)), _mm_or_si128(eq(j + 16), eq(j + 24)))) != 0;
    }
    uint64_t match(int32_t j) const {
        return joinMasks(joinMasks(bits(eq(j)), bits(eq(j + 8)), 16), joinMasks(bits(eq(j + 16)), bits(eq(j + 24)), 16),
                         32);
    }
};

template <typename Id>
struct Avx2Scan;

template <>
struct Avx2Scan<int32_t> {
    static constexpr int32_t kBlock = 32, kShift = 0;
    const int32_t* h;
    __m256i key;
    SPC_TARGET_AVX2 Avx2Scan(const int32_t* ids, int32_t v) : h(ids), key(_mm256_set1_epi32(v)) {}
    SPC_TARGET_AVX2 __m256i eq(int32_t p) const {
        return _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + p)), key);
    }
    SPC_TARGET_AVX2 static uint64_t bits(__m256i e) {
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(e)));
    }
    SPC_TARGET_AVX2 bool any(int32_t j) const {
        const __m256i m = _mm256_or_si256(_mm256_or_si256(eq(j), eq(j + 8)), _mm256_or_si256(eq(j + 16), eq(j + 24)));
        return !_mm256_testz_si256(m, m);
    }
    SPC_TARGET_AVX2 uint64_t match(int32_t j) const {
        return joinMasks(joinMasks(bits(eq(j)), bits(eq(j + 8)), 8), joinMasks(bits(eq(j + 16)), bits(eq(j + 24)), 8),
                         16);
    }
};

template <>
struct Avx2Scan<uint16_t> {
    static constexpr int32_t kBlock = 32, kShift = 1;
    const uint16_t* h;
    __m256i key;
    SPC_TARGET_AVX2 Avx2Scan(const uint16_t* ids, int32_t v) : h(ids), key(_mm256_set1_epi16(static_cast<short>(v))) {}
    SPC_TARGET_AVX2 __m256i eq(int32_t p) const {
        return _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + p)), key);
    }
    SPC_TARGET_AVX2 static uint64_t bits(__m256i e) { return static_cast<unsigned>(_mm256_movemask_epi8(e)); }
    SPC_TARGET_AVX2 bool any(int32_t j) const {
        const __m256i m = _mm256_or_si256(eq(j), eq(j + 16));
        return !_mm256_testz_si256(m, m);
    }
    SPC_TARGET_AVX2 uint64_t match(int32_t j) const { return joinMasks(bits(eq(j)), bits(eq(j + 16)), 32); }
};

// kortest asks two masks at once whether either holds the node: no
// unpacking them into one.
template <typename Id>
struct Avx512Scan;

// Blocks of two vectors: the heaps whose 32-bit ids are scanned stay small
// (larger ones keep low halves), and most scans end in their first block.
template <>
struct Avx512Scan<int32_t> {
    static constexpr int32_t kBlock = 32, kShift = 0;
    const int32_t* h;
    __m512i key;
    SPC_TARGET_AVX512 Avx512Scan(const int32_t* ids, int32_t v) : h(ids), key(_mm512_set1_epi32(v)) {}
    SPC_TARGET_AVX512 __mmask16 eq(int32_t p) const { return _mm512_cmpeq_epi32_mask(_mm512_loadu_si512(h + p), key); }
    SPC_TARGET_AVX512 bool any(int32_t j) const { return !_kortestz_mask16_u8(eq(j), eq(j + 16)); }
    SPC_TARGET_AVX512 uint64_t match(int32_t j) const { return joinMasks(eq(j), eq(j + 16), 16); }
};

template <>
struct Avx512Scan<uint16_t> {
    static constexpr int32_t kBlock = 64, kShift = 0;
    const uint16_t* h;
    __m512i key;
    SPC_TARGET_AVX512 Avx512Scan(const uint16_t* ids, int32_t v) : h(ids), key(_mm512_set1_epi16(static_cast<short>(v))) {}
    SPC_TARGET_AVX512 __mmask32 eq(int32_t p) const { return _mm512_cmpeq_epi16_mask(_mm512_loadu_si512(h + p), key); }
    SPC_TARGET_AVX512 bool any(int32_t j) const { return !_kortestz_mask32_u8(eq(j), eq(j + 32)); }
    SPC_TARGET_AVX512 uint64_t match(int32_t j) const { return _cvtmask64_u64(_mm512_kunpackd(eq(j + 32), eq(j))); }
};

template <typename Id>
inline int32_t scanSse2(const Id* h, int32_t count, int32_t v) {
    return scanBlocks(Sse2Scan<Id>(h, v), count, AlwaysHolds{});
}
template <typename Id>
SPC_TARGET_AVX2 inline int32_t scanAvx2(const Id* h, int32_t count, int32_t v) {
    return scanBlocks(Avx2Scan<Id>(h, v), count, AlwaysHolds{});
}
template <typename Id>
SPC_TARGET_AVX512 inline int32_t scanAvx512(const Id* h, int32_t count, int32_t v) {
    return scanBlocks(Avx512Scan<Id>(h, v), count, AlwaysHolds{});
}

inline int32_t scanShadowedSse2(const uint16_t* low, const int32_t* id, int32_t count, int32_t v) {
    return scanBlocks(Sse2Scan<uint16_t>(low, v), count, HoldsId{id, v});
}
SPC_TARGET_AVX2 inline int32_t scanShadowedAvx2(const uint16_t* low, const int32_t* id, int32_t count, int32_t v) {
    return scanBlocks(Avx2Scan<uint16_t>(low, v), count, HoldsId{id, v});
}
SPC_TARGET_AVX512 inline int32_t scanShadowedAvx512(const uint16_t* low, const int32_t* id, int32_t count, int32_t v) {
    return scanBlocks(Avx512Scan<uint16_t>(low, v), count, HoldsId{id, v});
}
#endif

}  // namespace engine
