// Arc filters: of the arcs begin..end of a node with key du, those whose
// candidate key du + length is below their head's key, listed in slot order
// (heads in out_v, candidates in out_c); each returns how many.
//
// Labels only fall while a node's arcs are examined, so every arc that would
// improve its head in slot order is among those listed; the run takes them in
// slot order and tests each again, as a parallel arc before it may have
// lowered the label already. No filter branches on the labels.
//
// Their stores write up to kFilterSpill entries from the end of the list, so
// the lists have that much room past the largest out-degree. The scalar fixed
// slots and the AVX2 filter read up to kFewArcs arcs past a node's last, which
// the engine's padded arc arrays hold (head 1, length 0).
#pragma once

#include <cstdint>
#include <type_traits>

#include "instruction_sets.h"

namespace engine {

// Out-degree up to which a node's arcs are filtered before the extraction's sift.
constexpr int32_t kFewArcs = 8;
constexpr int32_t kFilterSpill = 16;

// du + w in the key's width, wrapping instead of overflowing. The candidates
// of a node's real arcs never wrap (the engine's width is chosen so); only the
// padding slots, whose results are thrown away, may.
template <typename Key, typename Length>
inline Key addLength(Key du, Length w) {
    using U = std::make_unsigned_t<Key>;
    return static_cast<Key>(static_cast<U>(du) + static_cast<U>(static_cast<Key>(w)));
}

// Every arc's head and candidate is stored; the list's end moves only past
// the improving ones.
template <typename Head, typename Length, typename Key>
inline int32_t filterArcs(const Head* head, const Length* length, int32_t begin, int32_t end, Key du,
                          const Key* label, int32_t* out_v, Key* out_c) {
    int32_t improving = 0;
    for (int32_t e = begin; e < end; ++e) {
        const int32_t v = head[e];
        const Key candidate = addLength(du, length[e]);
        out_v[improving] = v;
        out_c[improving] = candidate;
        improving += candidate < label[v - 1];
    }
    return improving;
}

// The same over kFewArcs slots from begin, of which the first end - begin are
// the node's arcs: no branch depends on the degree.
template <typename Head, typename Length, typename Key>
inline int32_t filterSlots(const Head* head, const Length* length, int32_t begin, int32_t end, Key du,
                           const Key* label, int32_t* out_v, Key* out_c) {
    const int32_t degree = end - begin;
    int32_t improving = 0;
    for (int32_t e = 0; e < kFewArcs; ++e) {
        const int32_t v = head[begin + e];
        const Key candidate = addLength(du, length[begin + e]);
        out_v[improving] = v;
        out_c[improving] = candidate;
        improving += (e < degree) & (candidate < label[v - 1]);
    }
    return improving;
}

#ifdef SPC_X86
// Up to 16 (or 8) entries of a 16- or 32-bit array as 32-bit lanes; lanes
// outside `valid` are zero and read nothing.
template <typename T>
SPC_TARGET_AVX512 inline __m512i load16Lanes(const T* p, __mmask16 valid) {
    if constexpr (sizeof(T) == 4) return _mm512_maskz_loadu_epi32(valid, p);
    const __m256i narrow = _mm256_maskz_loadu_epi16(valid, p);
    if constexpr (std::is_signed_v<T>) return _mm512_maskz_cvtepi16_epi32(valid, narrow);
    return _mm512_maskz_cvtepu16_epi32(valid, narrow);
}

template <typename T>
SPC_TARGET_AVX512 inline __m256i load8Lanes(const T* p, __mmask8 valid) {
    if constexpr (sizeof(T) == 4) return _mm256_maskz_loadu_epi32(valid, p);
    const __m128i narrow = _mm_maskz_loadu_epi16(valid, p);
    if constexpr (std::is_signed_v<T>) return _mm256_maskz_cvtepi16_epi32(valid, narrow);
    return _mm256_maskz_cvtepu16_epi32(valid, narrow);
}

// 32-bit keys, sixteen arcs a step: one gather of their heads' keys, one
// compare, and the improving ones compressed to the list's end.
template <typename Head, typename Length>
SPC_TARGET_AVX512 inline int32_t filterAvx512(const Head* head, const Length* length, int32_t begin, int32_t end, int32_t du,
                                       const int32_t* label, int32_t* out_v, int32_t* out_c) {
    const __m512i base = _mm512_set1_epi32(du);
    const __m512i one = _mm512_set1_epi32(1);
    int32_t improving = 0;
    for (int32_t e = begin; e < end; e += 16) {
        const int32_t left = end - e;
        const __mmask16 valid = left >= 16 ? __mmask16(0xffff) : static_cast<__mmask16>((1u << left) - 1);
        const __m512i v = load16Lanes(head + e, valid);
        const __m512i c = _mm512_add_epi32(base, load16Lanes(length + e, valid));
        const __m512i l = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), valid, _mm512_sub_epi32(v, one), label, 4);
        const __mmask16 better = _mm512_mask_cmplt_epi32_mask(valid, c, l);
        _mm512_storeu_si512(out_v + improving, _mm512_maskz_compress_epi32(better, v));
        _mm512_storeu_si512(out_c + improving, _mm512_maskz_compress_epi32(better, c));
        improving += __builtin_popcount(better);
    }
    return improving;
}

// 64-bit keys, eight arcs a step.
template <typename Head, typename Length>
SPC_TARGET_AVX512 inline int32_t filterAvx512(const Head* head, const Length* length, int32_t begin, int32_t end, int64_t du,
                                       const int64_t* label, int32_t* out_v, int64_t* out_c) {
    const __m512i base = _mm512_set1_epi64(du);
    const __m256i one = _mm256_set1_epi32(1);
    int32_t improving = 0;
    for (int32_t e = begin; e < end; e += 8) {
        const int32_t left = end - e;
        const __mmask8 valid = left >= 8 ? __mmask8(0xff) : static_cast<__mmask8>((1u << left) - 1);
        const __m256i v = load8Lanes(head + e, valid);
        const __m512i c = _mm512_add_epi64(base, _mm512_maskz_cvtepi32_epi64(valid, load8Lanes(length + e, valid)));
        const __m512i l = _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), valid, _mm256_sub_epi32(v, one), label, 8);
        const __mmask8 better = _mm512_mask_cmplt_epi64_mask(valid, c, l);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out_v + improving), _mm256_maskz_compress_epi32(better, v));
        _mm512_storeu_si512(out_c + improving, _mm512_maskz_compress_epi64(better, c));
        improving += __builtin_popcount(better);
    }
    return improving;
}

// For each 8-bit mask, the lane indices of its set bits, lowest first, one
// byte each: the compress that AVX2 lacks, done with a permutation.
struct CompressTable {
    uint64_t lanes[256];
    constexpr CompressTable() : lanes() {
        for (int m = 0; m < 256; ++m) {
            uint64_t packed = 0;
            int k = 0;
            for (int lane = 0; lane < 8; ++lane) {
                if (m & (1 << lane)) packed |= uint64_t(lane) << (8 * k++);
            }
            lanes[m] = packed;
        }
    }
};
inline constexpr CompressTable kCompress;

// Eight entries from p as 32-bit lanes; reads all eight.
template <typename T>
SPC_TARGET_AVX2 inline __m256i load8LanesAvx2(const T* p) {
    if constexpr (sizeof(T) == 4) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m128i narrow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if constexpr (std::is_signed_v<T>) return _mm256_cvtepi16_epi32(narrow);
    return _mm256_cvtepu16_epi32(narrow);
}

// 32-bit keys, eight arcs a step: the eight keys come in one gather.
template <typename Head, typename Length>
SPC_TARGET_AVX2 inline int32_t filterAvx2(const Head* head, const Length* length, int32_t begin,
                                                           int32_t end, int32_t du, const int32_t* label,
                                                           int32_t* out_v, int32_t* out_c) {
    const __m256i base = _mm256_set1_epi32(du);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    int32_t improving = 0;
    for (int32_t e = begin; e < end; e += 8) {
        const __m256i valid = _mm256_cmpgt_epi32(_mm256_set1_epi32(end - e), lane);
        const __m256i v = load8LanesAvx2(head + e);
        const __m256i c = _mm256_add_epi32(base, load8LanesAvx2(length + e));
        const __m256i l = _mm256_i32gather_epi32(label, _mm256_sub_epi32(v, one), 4);
        const unsigned better = static_cast<unsigned>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_and_si256(valid, _mm256_cmpgt_epi32(l, c)))));
        const __m256i order = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(kCompress.lanes[better])));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out_v + improving), _mm256_permutevar8x32_epi32(v, order));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out_c + improving), _mm256_permutevar8x32_epi32(c, order));
        improving += __builtin_popcount(better);
    }
    return improving;
}
#endif

}  // namespace engine
