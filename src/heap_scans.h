// Scans of the node heap for a node's position, one per instruction set and
// id width. The heap keeps no table from node to position, so every decrease
// of a label in the heap starts with one of these.
#pragma once

#include <cstdint>

#include "instruction_sets.h"

namespace engine {

// The ids' arrays need this many entries after the heap's last position: the
// vector scans read them, and ignore what they hold.
constexpr int32_t kScanPadding = 64;

// The scans search from the end of the heap down. A node is in the heap at
// most once, so the position they find is the first one that holds it, as in
// a forward scan; but the nodes whose labels improve tend to have large labels,
// and those sit near the bottom of the heap, which is its end.
//
// match(j) returns the bits of the positions j .. j + Block - 1 that hold the
// node, 1 << Shift bits per position. Positions past the heap hold stale ids,
// so only positions 1..count are read as candidates: full blocks from the top,
// then the rest from position 1 with the positions beyond it masked off.
template <int32_t Block, int Shift, typename Match>
__attribute__((always_inline)) inline int32_t scanBackward(int32_t count, Match match) {
    static_assert(Block << Shift <= 64, "a block's bits fit one mask");
    int32_t j = count + 1;
    while (j > Block) {
        j -= Block;
        if (const uint64_t m = match(j)) return j + (__builtin_ctzll(m) >> Shift);
    }
    const uint64_t m = match(1) & ((uint64_t{1} << ((j - 1) << Shift)) - 1);  // fewer than Block positions left
    return m != 0 ? 1 + (__builtin_ctzll(m) >> Shift) : 0;
}

template <typename Id>
inline int32_t scanPortable(const Id* h, int32_t count, int32_t v) {
    for (int32_t j = 1; j <= count; ++j) {
        if (h[j] == v) return j;
    }
    return 0;
}

#ifdef SPC_X86
// Each block is two vector loads.
inline int32_t scanSse2(const int32_t* h, int32_t count, int32_t v) {
    const __m128i key = _mm_set1_epi32(v);
    return scanBackward<8, 0>(count, [&](int32_t j) {
        const __m128i a = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j)), key);
        const __m128i b = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j + 4)), key);
        return uint64_t{static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(a)))} |
               uint64_t{static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(b)))} << 4;
    });
}

inline int32_t scanSse2(const uint16_t* h, int32_t count, int32_t v) {
    const __m128i key = _mm_set1_epi16(static_cast<short>(v));
    return scanBackward<16, 1>(count, [&](int32_t j) {
        const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j)), key);
        const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j + 8)), key);
        return uint64_t{static_cast<unsigned>(_mm_movemask_epi8(a))} |
               uint64_t{static_cast<unsigned>(_mm_movemask_epi8(b))} << 16;
    });
}

SPC_TARGET_AVX2 inline int32_t scanAvx2(const int32_t* h, int32_t count, int32_t v) {
    const __m256i key = _mm256_set1_epi32(v);
    return scanBackward<16, 0>(count, [&](int32_t j) SPC_TARGET_AVX2 {
        const __m256i a = _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j)), key);
        const __m256i b = _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j + 8)), key);
        return uint64_t{static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(a)))} |
               uint64_t{static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(b)))} << 8;
    });
}

SPC_TARGET_AVX2 inline int32_t scanAvx2(const uint16_t* h, int32_t count, int32_t v) {
    const __m256i key = _mm256_set1_epi16(static_cast<short>(v));
    return scanBackward<32, 1>(count, [&](int32_t j) SPC_TARGET_AVX2 {
        const __m256i a = _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j)), key);
        const __m256i b = _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j + 16)), key);
        return uint64_t{static_cast<unsigned>(_mm256_movemask_epi8(a))} |
               uint64_t{static_cast<unsigned>(_mm256_movemask_epi8(b))} << 32;
    });
}

SPC_TARGET_AVX512 inline int32_t scanAvx512(const int32_t* h, int32_t count, int32_t v) {
    const __m512i key = _mm512_set1_epi32(v);
    return scanBackward<32, 0>(count, [&](int32_t j) SPC_TARGET_AVX512 {
        return uint64_t{_mm512_cmpeq_epi32_mask(_mm512_loadu_si512(h + j), key)} |
               uint64_t{_mm512_cmpeq_epi32_mask(_mm512_loadu_si512(h + j + 16), key)} << 16;
    });
}

SPC_TARGET_AVX512 inline int32_t scanAvx512(const uint16_t* h, int32_t count, int32_t v) {
    const __m512i key = _mm512_set1_epi16(static_cast<short>(v));
    // Two loads a block: a scan ends with one mispredicted branch, and the
    // fewer blocks it takes, the sooner that branch is resolved.
    return scanBackward<64, 0>(count, [&](int32_t j) SPC_TARGET_AVX512 {
        return _cvtmask64_u64(_mm512_kunpackd(_mm512_cmpeq_epi16_mask(_mm512_loadu_si512(h + j + 32), key),
                                              _mm512_cmpeq_epi16_mask(_mm512_loadu_si512(h + j), key)));
    });
}
#endif

}  // namespace engine
