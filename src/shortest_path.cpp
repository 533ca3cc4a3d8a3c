#include "shortest_path.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SPC_X86 1
#endif

namespace {

// Out-degree up to which a node's arcs are filtered before the extraction's sift.
constexpr int32_t kFewArcs = 8;

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
int32_t scanPortable(const Id* h, int32_t count, int32_t v) {
    for (int32_t j = 1; j <= count; ++j) {
        if (h[j] == v) return j;
    }
    return 0;
}

#ifdef SPC_X86
// Each block is two vector loads.
int32_t scanSse2(const int32_t* h, int32_t count, int32_t v) {
    const __m128i key = _mm_set1_epi32(v);
    return scanBackward<8, 0>(count, [&](int32_t j) {
        const __m128i a = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j)), key);
        const __m128i b = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j + 4)), key);
        return uint64_t{static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(a)))} |
               uint64_t{static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(b)))} << 4;
    });
}

int32_t scanSse2(const uint16_t* h, int32_t count, int32_t v) {
    const __m128i key = _mm_set1_epi16(static_cast<short>(v));
    return scanBackward<16, 1>(count, [&](int32_t j) {
        const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j)), key);
        const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j + 8)), key);
        return uint64_t{static_cast<unsigned>(_mm_movemask_epi8(a))} |
               uint64_t{static_cast<unsigned>(_mm_movemask_epi8(b))} << 16;
    });
}

__attribute__((target("avx2"))) int32_t scanAvx2(const int32_t* h, int32_t count, int32_t v) {
    const __m256i key = _mm256_set1_epi32(v);
    return scanBackward<16, 0>(count, [&](int32_t j) __attribute__((target("avx2"))) {
        const __m256i a = _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j)), key);
        const __m256i b = _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j + 8)), key);
        return uint64_t{static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(a)))} |
               uint64_t{static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(b)))} << 8;
    });
}

__attribute__((target("avx2"))) int32_t scanAvx2(const uint16_t* h, int32_t count, int32_t v) {
    const __m256i key = _mm256_set1_epi16(static_cast<short>(v));
    return scanBackward<32, 1>(count, [&](int32_t j) __attribute__((target("avx2"))) {
        const __m256i a = _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j)), key);
        const __m256i b = _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j + 16)), key);
        return uint64_t{static_cast<unsigned>(_mm256_movemask_epi8(a))} |
               uint64_t{static_cast<unsigned>(_mm256_movemask_epi8(b))} << 32;
    });
}

__attribute__((target("avx512f,avx512bw"))) int32_t scanAvx512(const int32_t* h, int32_t count, int32_t v) {
    const __m512i key = _mm512_set1_epi32(v);
    return scanBackward<32, 0>(count, [&](int32_t j) __attribute__((target("avx512f,avx512bw"))) {
        return uint64_t{_mm512_cmpeq_epi32_mask(_mm512_loadu_si512(h + j), key)} |
               uint64_t{_mm512_cmpeq_epi32_mask(_mm512_loadu_si512(h + j + 16), key)} << 16;
    });
}

__attribute__((target("avx512f,avx512bw"))) int32_t scanAvx512(const uint16_t* h, int32_t count, int32_t v) {
    const __m512i key = _mm512_set1_epi16(static_cast<short>(v));
    // Two loads a block: a scan ends with one mispredicted branch, and the
    // fewer blocks it takes, the sooner that branch is resolved.
    return scanBackward<64, 0>(count, [&](int32_t j) __attribute__((target("avx512f,avx512bw"))) {
        return _cvtmask64_u64(_mm512_kunpackd(_mm512_cmpeq_epi16_mask(_mm512_loadu_si512(h + j + 32), key),
                                              _mm512_cmpeq_epi16_mask(_mm512_loadu_si512(h + j), key)));
    });
}
#endif

// Arc filters: the arcs begin..end of a node with label du whose candidate
// du + length is below their head's label, listed in slot order (heads in
// out_v, candidates in out_c); returns how many. The scalar filters are part
// of the run; the vector ones serve the narrow engine. Their stores write up
// to 16 entries from the end of the list, so the lists have room for 16 more
// than the largest out-degree; they read up to 7 arcs past a node's last,
// which the narrow arc arrays' padding holds.
constexpr size_t kFilterSpill = 16;

#ifdef SPC_X86
__attribute__((target("avx512f,avx512bw,avx512vl"))) int32_t filterAvx512(const uint16_t* head, const int16_t* length,
                                                                           int32_t begin, int32_t end, int32_t du,
                                                                           const int32_t* label, int32_t* out_v,
                                                                           int32_t* out_c) {
    const __m512i base = _mm512_set1_epi32(du);
    const __m512i one = _mm512_set1_epi32(1);
    int32_t improving = 0;
    for (int32_t e = begin; e < end; e += 16) {
        const int32_t left = end - e;
        const __mmask16 valid = left >= 16 ? __mmask16(0xffff) : static_cast<__mmask16>((1u << left) - 1);
        const __m512i v = _mm512_maskz_cvtepu16_epi32(valid, _mm256_maskz_loadu_epi16(valid, head + e));
        const __m512i c =
            _mm512_add_epi32(base, _mm512_maskz_cvtepi16_epi32(valid, _mm256_maskz_loadu_epi16(valid, length + e)));
        const __m512i l = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), valid, _mm512_sub_epi32(v, one), label, 4);
        const __mmask16 better = _mm512_mask_cmplt_epi32_mask(valid, c, l);
        _mm512_storeu_si512(out_v + improving, _mm512_maskz_compress_epi32(better, v));
        _mm512_storeu_si512(out_c + improving, _mm512_maskz_compress_epi32(better, c));
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
constexpr CompressTable kCompress;

// Eight arcs a step: the eight labels come in one gather.
__attribute__((target("avx2"))) int32_t filterAvx2(const uint16_t* head, const int16_t* length, int32_t begin,
                                                    int32_t end, int32_t du, const int32_t* label, int32_t* out_v,
                                                    int32_t* out_c) {
    const __m256i base = _mm256_set1_epi32(du);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    int32_t improving = 0;
    for (int32_t e = begin; e < end; e += 8) {
        const __m256i valid = _mm256_cmpgt_epi32(_mm256_set1_epi32(end - e), lane);
        const __m256i v = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(head + e)));
        const __m256i c =
            _mm256_add_epi32(base, _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(length + e))));
        const __m256i l = _mm256_i32gather_epi32(label, _mm256_sub_epi32(v, one), 4);
        const unsigned better =
            static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_and_si256(valid, _mm256_cmpgt_epi32(l, c)))));
        const __m256i order = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(kCompress.lanes[better])));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out_v + improving), _mm256_permutevar8x32_epi32(v, order));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out_c + improving), _mm256_permutevar8x32_epi32(c, order));
        improving += __builtin_popcount(better);
    }
    return improving;
}
#endif

template <typename Id>
using ScanFunction = int32_t (*)(const Id*, int32_t, int32_t);

template <typename Id>
ScanFunction<Id> scanFunctionFor(ScanVariant variant) {
    switch (variant) {
#ifdef SPC_X86
        case ScanVariant::sse2: return scanSse2;
        case ScanVariant::avx2: return scanAvx2;
        case ScanVariant::avx512: return scanAvx512;
#endif
        default: return scanPortable<Id>;
    }
}

ScanVariant fastestScanVariant() {
    for (ScanVariant v : {ScanVariant::avx512, ScanVariant::avx2, ScanVariant::sse2}) {
        if (scanVariantSupported(v)) return v;
    }
    return ScanVariant::portable;
}

ScanVariant scan_variant = fastestScanVariant();
ScanFunction<int32_t> scan_function = scanFunctionFor<int32_t>(scan_variant);
ScanFunction<uint16_t> scan_function16 = scanFunctionFor<uint16_t>(scan_variant);

// The vector code of one instruction set, for the runs compiled for it (see
// runFromSource): the heap scan for both id widths and the narrow engine's
// vector filter, for nodes with many arcs and, where it pays, with few.
struct PortableKernels {
    template <typename Id>
    static int32_t scan(const Id* h, int32_t count, int32_t v) { return scanPortable(h, count, v); }
    static constexpr bool kFilterMany = false;
    static constexpr bool kFilterFew = false;
};

#ifdef SPC_X86
struct Sse2Kernels {
    template <typename Id>
    static int32_t scan(const Id* h, int32_t count, int32_t v) { return scanSse2(h, count, v); }
    static constexpr bool kFilterMany = false;
    static constexpr bool kFilterFew = false;
};

struct Avx2Kernels {
    template <typename Id>
    static int32_t scan(const Id* h, int32_t count, int32_t v) { return scanAvx2(h, count, v); }
    static constexpr auto& filter = filterAvx2;
    static constexpr auto& filterFew = filterAvx2;
    static constexpr bool kFilterMany = true;
    static constexpr bool kFilterFew = true;
};

// With few arcs, eight lanes: on an AVX-512 machine (Intel) one eight-lane
// step measured faster than both a sixteen-lane step and the scalar fixed
// slots.
struct Avx512Kernels {
    template <typename Id>
    static int32_t scan(const Id* h, int32_t count, int32_t v) { return scanAvx512(h, count, v); }
    static constexpr auto& filter = filterAvx512;
    static constexpr auto& filterFew = filterAvx2;
    static constexpr bool kFilterMany = true;
    static constexpr bool kFilterFew = true;
};
#endif

// Processor time used so far, in whole milliseconds.
uint64_t processorMilliseconds() {
    return static_cast<uint64_t>(std::clock()) * 1000 / CLOCKS_PER_SEC;
}

// The self-updating progress line of a long sweep.
std::FILE* progress_stream = nullptr;
int progress_first_ms = 500;
int progress_refresh_ms = 250;

// Sources run between two looks at the clock: cheap against even a small run.
constexpr int32_t kSourcesPerLook = 8;

struct ProgressLine {
    using Clock = std::chrono::steady_clock;
    std::FILE* out = nullptr;
    Clock::time_point start;
    Clock::time_point next;
    bool shown = false;

    void begin() {
        out = progress_stream != nullptr ? progress_stream : (isatty(STDERR_FILENO) ? stderr : nullptr);
        start = Clock::now();
        next = start + std::chrono::milliseconds(progress_first_ms);
    }

    static std::string duration(double seconds) {
        const long s = static_cast<long>(seconds + 0.5);
        char text[32];
        if (s >= 3600) {
            std::snprintf(text, sizeof text, "%ldh %02ldm", s / 3600, s / 60 % 60);
        } else {
            std::snprintf(text, sizeof text, "%ldm %02lds", s / 60, s % 60);
        }
        return text;
    }

    // Shows the share done when the refresh time has come.
    void update(int64_t done, int64_t total) {
        const Clock::time_point now = Clock::now();
        if (now < next) return;
        next = now + std::chrono::milliseconds(progress_refresh_ms);
        const double elapsed = std::chrono::duration<double>(now - start).count();
        const double share = static_cast<double>(done) / static_cast<double>(total);
        const double left = share > 0 ? elapsed * (1 - share) / share : 0;
        std::fprintf(out, "\rsweeping: %5.1f%% of 4 repetitions, %s elapsed, about %s left\x1b[K", 100 * share,
                     duration(elapsed).c_str(), duration(left).c_str());
        std::fflush(out);
        shown = true;
    }

    void end() {
        if (!shown) return;
        std::fputs("\r\x1b[K", out);  // erase the line
        std::fflush(out);
    }
};

}  // namespace

void setProgressStream(std::FILE* stream, int first_after_ms, int refresh_ms) {
    progress_stream = stream;
    progress_first_ms = first_after_ms;
    progress_refresh_ms = refresh_ms;
}

bool scanVariantSupported(ScanVariant variant) {
    switch (variant) {
        case ScanVariant::portable: return true;
#ifdef SPC_X86
        case ScanVariant::sse2: return __builtin_cpu_supports("sse2");
        case ScanVariant::avx2: return __builtin_cpu_supports("avx2");
        case ScanVariant::avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vl");
#endif
        default: return false;
    }
}

void setScanVariant(ScanVariant variant) {
    scan_variant = variant;
    scan_function = scanFunctionFor<int32_t>(variant);
    scan_function16 = scanFunctionFor<uint16_t>(variant);
}

ScanVariant currentScanVariant() { return scan_variant; }

const char* scanVariantName(ScanVariant variant) {
    switch (variant) {
        case ScanVariant::sse2: return "sse2";
        case ScanVariant::avx2: return "avx2";
        case ScanVariant::avx512: return "avx512";
        default: return "portable";
    }
}

namespace {

// The heap operations over raw arrays, so that the single-source run keeps its
// pointers and the heap size in registers, for the two widths of ids and keys
// the engine uses. Holes move instead of swaps.

// a when c holds, else b. Written with a mask so that the compiler emits a
// conditional move: the choices of the sift are as often one way as the
// other, and a branch would be mispredicted half the time.
template <typename T>
inline T choose(bool c, T a, T b) {
    using U = std::make_unsigned_t<T>;
    return static_cast<T>(static_cast<U>(b) ^ ((static_cast<U>(a) ^ static_cast<U>(b)) & -static_cast<U>(c)));
}

// Index of the child of i that moves up: the right one wins a tie with the
// left. Reads key[left + 1] even when it is past k (the arrays have room for
// it) but only uses it inside the heap.
template <typename Key>
inline int64_t smallerChild(const Key* key, int64_t left, int64_t k) {
    return left + ((left < k) & (key[left + 1] <= key[left]));
}

// Restores heap order downward from position i in a heap of k elements: a
// child whose key is at most the moving key moves up.
template <typename Id, typename Key>
inline void siftDown(Id* id, Key* key, int64_t i, int64_t k) {
    const Id moving = id[i];
    const Key moving_key = key[i];
    for (int64_t child = 2 * i; child <= k; child = 2 * i) {
        child = smallerChild(key, child, k);
        if (key[child] > moving_key) break;
        id[i] = id[child];
        key[i] = key[child];
        i = child;
    }
    id[i] = moving;
    key[i] = moving_key;
}

// The same from the root, for extraction, where the moving element came from
// the bottom and nearly always goes back there: it first follows the path of
// moving children to a leaf without comparing, then climbs back while its
// parent's key is greater. The path's keys never decrease downward, so it
// stops exactly where siftDown would have put it: below every path key that
// is at most its own, above every one that is greater.
//
// In a heap of k elements the levels above floor(log2 k) are full, so the
// descent takes that many steps less one without any test of the size, and
// the last step, which may find no child, is done without a branch.
template <typename Id, typename Key>
inline void siftDownFromRoot(Id* id, Key* key, int64_t k) {
    if (k < 2) return;
    const Id moving = id[1];
    const Key moving_key = key[1];
    const int depth = 63 - __builtin_clzll(static_cast<unsigned long long>(k));
    int64_t i = 1;
    // Two levels a step: the four grandchildren's keys are loaded with the two
    // children's, so the choice of grandchild waits for no further load.
    for (int steps = (depth - 1) / 2; steps > 0; --steps) {
        const Key a = key[2 * i], b = key[2 * i + 1];
        const Key g0 = key[4 * i], g1 = key[4 * i + 1], g2 = key[4 * i + 2], g3 = key[4 * i + 3];
        const bool right = b <= a;
        const int64_t child = 2 * i + right;
        const Key ga = choose(right, g2, g0);
        const Key gb = choose(right, g3, g1);
        const bool grand_right = gb <= ga;
        const int64_t grandchild = 2 * child + grand_right;
        id[i] = id[child];
        key[i] = choose(right, b, a);
        id[child] = id[grandchild];
        key[child] = choose(grand_right, gb, ga);
        i = grandchild;
    }
    if ((depth - 1) % 2 != 0) {
        const Key a = key[2 * i], b = key[2 * i + 1];
        const bool right = b <= a;
        const int64_t child = 2 * i + right;
        id[i] = id[child];
        key[i] = choose(right, b, a);
        i = child;
    }
    // The bottom level may or may not hold a child of i: masks, not a branch.
    const int64_t has_child = -static_cast<int64_t>(2 * i <= k);
    const int64_t left = 2 * i & has_child;  // position 0 is a harmless read
    const int64_t child = (smallerChild(key, left, k) & has_child) | (i & ~has_child);
    id[i] = id[child];
    key[i] = key[child];
    i = child;
    while (i > 1 && key[i / 2] > moving_key) {
        id[i] = id[i / 2];
        key[i] = key[i / 2];
        i /= 2;
    }
    id[i] = moving;
    key[i] = moving_key;
}

// Puts node v with key kv at position i and moves it up while its key is
// strictly below its parent's: equal keys stop the climb. Most climbs take no
// step or one, which a branch would guess wrong often, so the first two steps
// are taken without branches. key[0] is below every key: no climb passes the
// root.
template <typename Id, typename Key>
inline void climb(Id* id, Key* key, int64_t i, Id v, Key kv) {
    const int64_t p1 = i >> 1;  // i >= 1: shifts, not signed divisions
    const int64_t p2 = i >> 2;
    const Key k1 = key[p1];
    const Key k2 = key[p2];
    const Id i1 = id[p1];
    const Id i2 = id[p2];
    const bool up1 = kv < k1;
    const bool up2 = up1 & (kv < k2);
    id[i] = choose(up1, i1, v);
    key[i] = choose(up1, k1, kv);
    id[p1] = choose(up2, i2, choose(up1, v, i1));
    key[p1] = choose(up2, k2, choose(up1, kv, k1));
    if (!up2) return;
    i = p2;
    while (kv < key[i / 2]) {
        id[i] = id[i / 2];
        key[i] = key[i / 2];
        i /= 2;
    }
    id[i] = v;
    key[i] = kv;
}

}  // namespace

void minHeapify(int32_t i, int32_t k) { siftDown(H.data(), H_key.data(), i, k); }

void decreaseKey(int32_t i, int64_t key) {
    const int32_t v = H[static_cast<size_t>(i)];
    d[static_cast<size_t>(v) - 1] = key;
    climb(H.data(), H_key.data(), i, v, key);
}

void insertNode(int32_t v, int64_t key) {
    ++heap_count;
    H[static_cast<size_t>(heap_count)] = v;
    decreaseKey(heap_count, key);
}

int32_t extractMin() {
    int32_t* id = H.data();
    int64_t* key = H_key.data();
    const int32_t root = id[1];
    id[1] = id[heap_count];
    key[1] = key[heap_count];
    --heap_count;
    siftDownFromRoot(id, key, heap_count);
    return root;
}

int32_t findInHeap(const int32_t* ids, int32_t count, int32_t v) { return scan_function(ids, count, v); }
int32_t findInHeap(const uint16_t* ids, int32_t count, int32_t v) { return scan_function16(ids, count, v); }

int32_t heapPosition(int32_t v) { return findInHeap(H.data(), heap_count, v); }

bool narrowEngineFits(int64_t nodes, int64_t longest_arc) { return nodes <= 65535 && longest_arc <= 32767; }

namespace {

// The narrow engine's own arrays: labels and keys of 32 bits, ids and arcs of
// 16. They halve what the run moves through the caches. The wide engine works
// on the program's arrays: d, H, H_key, graph_head, graph_length.
struct NarrowArrays {
    std::vector<int32_t> label;
    std::vector<uint16_t> id;
    std::vector<int32_t> key;
    std::vector<uint16_t> head;
    std::vector<int16_t> length;
    std::vector<int32_t> improving_label;
};
NarrowArrays narrow;
constexpr int32_t kNarrowUnreached = std::numeric_limits<int32_t>::max();  // no narrow label comes near it

// Whether nodes with few arcs are filtered over a fixed number of slots. The
// loop over a node's arcs ends with a mispredicted branch whenever the degree
// differs from the last one; where nearly all nodes have the same degree (a
// grid) the loop is cheaper, elsewhere the fixed slots.
bool narrow_fixed_slots = false;

// True when at least nine in ten of the n nodes have the same out-degree.
bool mostNodesHaveOneDegree(size_t n) {
    std::vector<int64_t> with_degree(kFewArcs + 2, 0);  // the last counts all larger degrees
    for (size_t u = 1; u < point.size() && u <= n; ++u) {
        ++with_degree[static_cast<size_t>(std::min(point[u] - point[u - 1], kFewArcs + 1))];
    }
    const int64_t most = *std::max_element(with_degree.begin(), with_degree.end());
    return 10 * most >= 9 * static_cast<int64_t>(n);
}

// The scalar filters. Both store every arc's head and candidate and advance
// the list's end only past the improving ones, so no branch depends on the
// labels.
template <typename Head, typename Length, typename Key>
inline int32_t filterArcs(const Head* head, const Length* length, int32_t begin, int32_t end, Key du,
                          const Key* label, int32_t* out_v, Key* out_c) {
    int32_t improving = 0;
    for (int32_t e = begin; e < end; ++e) {
        const int32_t v = head[e];
        const Key candidate = static_cast<Key>(du + length[e]);
        out_v[improving] = v;
        out_c[improving] = candidate;
        improving += candidate < label[v - 1];
    }
    return improving;
}

// The same over Slots slots from begin, of which the first end - begin are
// the node's arcs: no branch depends on the degree. The arc arrays have Slots
// entries of room past the last arc.
template <int32_t Slots, typename Head, typename Length, typename Key>
inline int32_t filterSlots(const Head* head, const Length* length, int32_t begin, int32_t end, Key du,
                           const Key* label, int32_t* out_v, Key* out_c) {
    const int32_t degree = end - begin;
    int32_t improving = 0;
    for (int32_t e = 0; e < Slots; ++e) {
        const int32_t v = head[begin + e];
        const Key candidate = static_cast<Key>(du + length[begin + e]);
        out_v[improving] = v;
        out_c[improving] = candidate;
        improving += (e < degree) & (candidate < label[v - 1]);
    }
    return improving;
}

// The narrow engine's filter for a node's arcs: over fixed slots or a vector
// step where degrees vary, the plain loop where nearly all are the same (see
// narrow_fixed_slots); a vector filter, where there is one, for many arcs.
template <typename Kernels>
inline int32_t filterNarrow(bool few_arcs, bool fixed_slots, const uint16_t* head, const int16_t* length,
                            int32_t begin, int32_t end, int32_t du, const int32_t* label, int32_t* out_v,
                            int32_t* out_c) {
    if (few_arcs) {
        if (!fixed_slots) return filterArcs(head, length, begin, end, du, label, out_v, out_c);
        if constexpr (Kernels::kFilterFew) return Kernels::filterFew(head, length, begin, end, du, label, out_v, out_c);
        return filterSlots<kFewArcs>(head, length, begin, end, du, label, out_v, out_c);
    }
    if constexpr (Kernels::kFilterMany) return Kernels::filter(head, length, begin, end, du, label, out_v, out_c);
    return filterArcs(head, length, begin, end, du, label, out_v, out_c);
}

// Heads and candidate labels of the arcs of the node being scanned that may
// improve their head's label, sized for the largest out-degree.
std::vector<int32_t> improving_head;
std::vector<int64_t> improving_label;

bool narrow_allowed = true;
bool narrow_in_use = false;

// Called after every heap operation of a traced run.
const std::function<void(const std::vector<int32_t>&)>* heap_observer = nullptr;

template <typename Id>
void showHeap(const Id* id, int64_t count) {
    (*heap_observer)(std::vector<int32_t>(id + 1, id + 1 + count));
}

// Where one run reads and writes, in the types of one width.
template <typename Id, typename Key, typename Head, typename Length>
struct RunArrays {
    Key* label;
    Id* id;
    Key* key;
    const Head* head;
    const Length* length;
    Key* improving_label;
    Key unreached;  // the label of a node not reached
};

// The single-source run over one width's arrays. The narrow width keeps its
// own labels and copies each into d when its node is extracted: a label is
// final then, and every node that gets a label is extracted.
template <bool kTraced, typename Kernels, typename Id, typename Key, typename Head, typename Length>
void runFrom(const RunArrays<Id, Key, Head, Length>& a) {
    constexpr bool kOwnLabels = sizeof(Key) < sizeof(int64_t);
    // Sums of a run: at most 2^16 labels below 2^31 each in the narrow width.
    using Sum = std::conditional_t<kOwnLabels, int64_t, int128>;
    Key* const label = a.label;
    int64_t* const out = d.data();
    int32_t* const reached = settled.data();
    // Only the nodes the previous run reached carry a label other than
    // unreached: few are set back one by one, many with one pass.
    if (settled_count < num_nodes / 8) {
        for (int32_t i = 0; i < settled_count; ++i) {
            label[reached[i] - 1] = a.unreached;
            if constexpr (kOwnLabels) out[reached[i] - 1] = M;
        }
    } else {
        std::fill(label, label + num_nodes, a.unreached);
        if constexpr (kOwnLabels) std::fill(d.begin(), d.end(), M);
    }

    Id* const id = a.id;
    Key* const key = a.key;
    const int32_t* const first_arc = point.data();
    const Head* const head = a.head;
    const Length* const length = a.length;
    int32_t* const improving_v = improving_head.data();
    Key* const improving_c = a.improving_label;
    const bool fixed_slots = narrow_fixed_slots;

    const int32_t s = user_source_node;
    label[s - 1] = 0;
    id[1] = static_cast<Id>(s);
    key[1] = 0;
    int64_t count = 1;
    if (kTraced) showHeap(id, count);
    int32_t reached_count = 0;
    int32_t u = 0;
    int64_t scans = 0;
    Sum sum = 0;
    while (count > 0) {
        // Extract the minimum.
        u = id[1];
        const Key du = key[1];
        reached[reached_count++] = u;
        if constexpr (kOwnLabels) out[u - 1] = du;
        sum += du;  // an extracted node keeps its label
        id[1] = id[count];
        key[1] = key[count];
        --count;

        // First, without branches, the arcs whose candidate beats the head's
        // label as it is now. Labels only fall while u's arcs are examined, so
        // every arc that improves its head in slot order is among them; the
        // second loop takes them in slot order and tests each again, as a
        // parallel arc before it may have lowered the label already.
        //
        // The labels do not depend on the heap's layout, so the filter may run
        // before or after the extraction's sift. With few arcs it goes first;
        // with many, the sift goes first and its chain of dependent loads
        // overlaps the long filter.
        const int32_t begin = first_arc[u - 1];
        const int32_t end = first_arc[u];
        scans += end - begin;
        const bool few_arcs = end - begin <= kFewArcs;
        if (!few_arcs) siftDownFromRoot(id, key, count);
        int32_t improving = 0;
        if constexpr (kOwnLabels) {  // its own arc arrays: padded, 16-bit
            improving = filterNarrow<Kernels>(few_arcs, fixed_slots, head, length, begin, end, du, label,
                                              improving_v, improving_c);
        } else {
            improving = filterArcs(head, length, begin, end, du, label, improving_v, improving_c);
        }
        if (few_arcs) siftDownFromRoot(id, key, count);
        if (kTraced) showHeap(id, count);
        // The root is most often the next node extracted: start fetching its
        // arcs now, while the improving arcs are applied. id[1] always holds a
        // node of the network, even in an empty heap.
        {
            const int32_t next = first_arc[id[1] - 1];
            __builtin_prefetch(head + next);
            __builtin_prefetch(length + next);
        }

        for (int32_t i = 0; i < improving; ++i) {
            const int32_t v = improving_v[i];
            const Key candidate = improving_c[i];
            const Key dv = label[v - 1];
            if (candidate >= dv) continue;
            if (dv == a.unreached) {  // not yet in the heap: insert
                label[v - 1] = candidate;
                ++count;
                climb(id, key, count, static_cast<Id>(v), candidate);
            } else {
                // Without a node-to-position table the heap is searched; a node
                // already extracted is not found and keeps its label.
                const int32_t j = Kernels::scan(id, static_cast<int32_t>(count), v);
                if (j == 0) continue;
                label[v - 1] = candidate;
                climb(id, key, j, static_cast<Id>(v), candidate);
            }
            if (kTraced) showHeap(id, count);
        }
    }
    heap_count = 0;
    settled_count = reached_count;
    deleted_node = u;
    settled_sum = sum;
    trivial_triple_comparisons += scans;
}

template <bool kTraced, typename Kernels>
inline void runWith() {
    if (narrow_in_use) {
        runFrom<kTraced, Kernels>(RunArrays<uint16_t, int32_t, uint16_t, int16_t>{
            narrow.label.data(), narrow.id.data(), narrow.key.data(), narrow.head.data(), narrow.length.data(),
            narrow.improving_label.data(), kNarrowUnreached});
    } else {
        runFrom<kTraced, Kernels>(RunArrays<int32_t, int64_t, int32_t, int32_t>{d.data(), H.data(), H_key.data(),
                                                                               graph_head.data(), graph_length.data(),
                                                                               improving_label.data(), M});
    }
}

// The run is compiled once for each instruction set, with everything it calls
// inlined (flatten): the scan and the vector filter then cost no call, and
// the run's registers stay live across them.
template <bool kTraced>
__attribute__((flatten)) void runPortable() { runWith<kTraced, PortableKernels>(); }
#ifdef SPC_X86
template <bool kTraced>
__attribute__((flatten)) void runSse2() { runWith<kTraced, Sse2Kernels>(); }
template <bool kTraced>
__attribute__((target("avx2"), flatten)) void runAvx2() { runWith<kTraced, Avx2Kernels>(); }
template <bool kTraced>
__attribute__((target("avx512f,avx512bw,avx512vl"), flatten)) void runAvx512() { runWith<kTraced, Avx512Kernels>(); }
#endif

template <bool kTraced>
void runFromSource() {
    switch (scan_variant) {
#ifdef SPC_X86
        case ScanVariant::sse2: return runSse2<kTraced>();
        case ScanVariant::avx2: return runAvx2<kTraced>();
        case ScanVariant::avx512: return runAvx512<kTraced>();
#endif
        default: return runPortable<kTraced>();
    }
}

}  // namespace

void allowNarrowEngine(bool allowed) {
    narrow_allowed = allowed;
    d.clear();  // heap() prepares the engine anew
}

bool narrowEngineInUse() { return narrow_in_use; }

void prepareEngine() {
    const size_t n = num_nodes > 0 ? static_cast<size_t>(num_nodes) : 0;
    int32_t max_degree = 0;
    for (size_t u = 1; u < point.size() && u <= n; ++u) max_degree = std::max(max_degree, point[u] - point[u - 1]);
    int64_t longest_arc = 0;
    for (int32_t x : graph_length) longest_arc = std::max(longest_arc, x < 0 ? -int64_t{x} : int64_t{x});
    const size_t arc_room = static_cast<size_t>(max_degree) + 1;
    narrow_in_use = narrow_allowed && narrowEngineFits(static_cast<int64_t>(n), longest_arc);
    improving_head.assign(arc_room + kFilterSpill, 0);
    d.assign(n, M);
    H.assign(n + 1 + kHeapScanPadding, 0);
    H_key.assign(n + 2, 0);
    H_key[0] = std::numeric_limits<int64_t>::min();  // below every key: climbs stop at the root
    settled.assign(n, 0);
    settled_count = 0;
    heap_count = 0;
    if (narrow_in_use) {
        narrow.label.assign(n, kNarrowUnreached);
        narrow.id.assign(n + 1 + kHeapScanPadding, 0);
        narrow.key.assign(n + 2, 0);
        narrow.key[0] = std::numeric_limits<int32_t>::min();
        narrow.head.assign(graph_head.begin(), graph_head.end());
        narrow.length.assign(graph_length.begin(), graph_length.end());
        narrow.head.resize(narrow.head.size() + kFewArcs, 1);  // room for the fixed slots: node 1, length 0
        narrow.length.resize(narrow.length.size() + kFewArcs, 0);
        narrow_fixed_slots = !mostNodesHaveOneDegree(n);
        narrow.improving_label.assign(arc_room + kFilterSpill, 0);
        improving_label = {};
    } else {
        narrow = {};
        narrow_fixed_slots = false;
        improving_label.assign(arc_room, 0);
    }
}

void heap() {
    if (d.size() != static_cast<size_t>(num_nodes)) prepareEngine();
    runFromSource<false>();
}

void heapTraced(const std::function<void(const std::vector<int32_t>&)>& observe) {
    if (d.size() != static_cast<size_t>(num_nodes)) prepareEngine();
    heap_observer = &observe;
    runFromSource<true>();
    heap_observer = nullptr;
}

int128 tripleCount(int64_t n) { return static_cast<int128>(n) * (n - 1) * (n - 2); }

float timePerSweep(uint64_t start_ms, uint64_t end_ms) {
    return static_cast<float>(end_ms - start_ms) * 0.25f;
}

void sweepSources(const std::function<void(int32_t)>& after_source) {
    const int32_t n = num_nodes;
    trivial_triple_comparisons = 0;
    nontrivial_triple_comparisons = 0;
    for (int32_t s = 1; s <= n; ++s) {
        user_source_node = s;
        heap();
        one_to_all_distance[static_cast<size_t>(s) - 1] = settled_sum;
        if (after_source) after_source(s);
    }
}

SweepResult sweepAllSources() {
    const int32_t n = num_nodes;
    one_to_all_distance.assign(n > 0 ? static_cast<size_t>(n) : 0, 0);
    prepareEngine();
    ProgressLine progress;
    progress.begin();
    int32_t until_look = kSourcesPerLook;
    int repetition = 0;
    std::function<void(int32_t)> show;
    if (progress.out != nullptr) {
        show = [&](int32_t s) {
            if (--until_look != 0) return;
            until_look = kSourcesPerLook;
            progress.update(int64_t{repetition} * n + s, int64_t{4} * n);
        };
    }
    my_timer = processorMilliseconds();
    for (; repetition < 4; ++repetition) {
        if (n < 1) {
            trivial_triple_comparisons = 0;
            nontrivial_triple_comparisons = 0;
            break;
        }
        sweepSources(show);
    }
    const float time = timePerSweep(my_timer, processorMilliseconds());
    progress.end();

    int128 sum_of_distances = 0;
    for (int128 x : one_to_all_distance) sum_of_distances += x;
    triple_comparisons = static_cast<int128>(n) * (n - 1);
    total_triple_comparisons = tripleCount(n);
    nontrivial_triple_comparisons = total_triple_comparisons - trivial_triple_comparisons;
    return {sum_of_distances, time};
}
