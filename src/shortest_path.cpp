#include "shortest_path.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SPC_X86 1
#endif

namespace {

// Extra slots after the heap so that vector loads of the scan never leave the
// array. They hold stale ids, and a match there is no match.
constexpr size_t kScanPadding = 64;

// Out-degree up to which a node's arcs are filtered before the extraction's sift.
constexpr int32_t kFewArcs = 8;

int32_t scanPortable(const int32_t* h, int32_t count, int32_t v) {
    for (int32_t j = 1; j <= count; ++j) {
        if (h[j] == v) return j;
    }
    return 0;
}

// The vector scans search from the end of the heap down. A node is in the heap
// at most once, so the position they find is the first one that holds it, as
// in the forward scan; but the nodes whose labels improve tend to have large
// labels, and those sit near the bottom of the heap, which is its end.
// Positions past the heap hold stale ids, so only positions 1..count are read
// as candidates: full blocks from the top, then the rest from position 1 with
// the positions beyond it masked off.
#ifdef SPC_X86
int32_t scanSse2(const int32_t* h, int32_t count, int32_t v) {
    const __m128i key = _mm_set1_epi32(v);
    auto match = [&](int32_t j) {
        const __m128i a = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j)), key);
        const __m128i b = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j + 4)), key);
        return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(a))) |
               static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(b))) << 4;
    };
    int32_t j = count + 1;
    while (j > 8) {
        j -= 8;
        if (const unsigned m = match(j)) return j + __builtin_ctz(m);
    }
    const unsigned m = match(1) & ((1u << (j - 1)) - 1);
    return m != 0 ? 1 + __builtin_ctz(m) : 0;
}

__attribute__((target("avx2"))) int32_t scanAvx2(const int32_t* h, int32_t count, int32_t v) {
    const __m256i key = _mm256_set1_epi32(v);
    auto match = [&](int32_t j) __attribute__((target("avx2"))) {
        const __m256i a = _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j)), key);
        const __m256i b = _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j + 8)), key);
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(a))) |
               static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(b))) << 8;
    };
    int32_t j = count + 1;
    while (j > 16) {
        j -= 16;
        if (const unsigned m = match(j)) return j + __builtin_ctz(m);
    }
    const unsigned m = match(1) & ((1u << (j - 1)) - 1);
    return m != 0 ? 1 + __builtin_ctz(m) : 0;
}

__attribute__((target("avx512f"))) int32_t scanAvx512(const int32_t* h, int32_t count, int32_t v) {
    const __m512i key = _mm512_set1_epi32(v);
    auto match = [&](int32_t j) __attribute__((target("avx512f"))) {
        const unsigned a = _mm512_cmpeq_epi32_mask(_mm512_loadu_si512(h + j), key);
        const unsigned b = _mm512_cmpeq_epi32_mask(_mm512_loadu_si512(h + j + 16), key);
        return a | b << 16;
    };
    int32_t j = count + 1;
    while (j > 32) {
        j -= 32;
        if (const unsigned m = match(j)) return j + __builtin_ctz(m);
    }
    const unsigned m = match(1) & ((1u << (j - 1)) - 1);  // fewer than 32 positions left
    return m != 0 ? 1 + __builtin_ctz(m) : 0;
}
#endif

using ScanFunction = int32_t (*)(const int32_t*, int32_t, int32_t);

ScanFunction scanFunctionFor(ScanVariant variant) {
    switch (variant) {
#ifdef SPC_X86
        case ScanVariant::sse2: return scanSse2;
        case ScanVariant::avx2: return scanAvx2;
        case ScanVariant::avx512: return scanAvx512;
#endif
        default: return scanPortable;
    }
}

ScanVariant fastestScanVariant() {
    for (ScanVariant v : {ScanVariant::avx512, ScanVariant::avx2, ScanVariant::sse2}) {
        if (scanVariantSupported(v)) return v;
    }
    return ScanVariant::portable;
}

ScanVariant scan_variant = fastestScanVariant();
ScanFunction scan_function = scanFunctionFor(scan_variant);

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
        case ScanVariant::avx512: return __builtin_cpu_supports("avx512f");
#endif
        default: return false;
    }
}

void setScanVariant(ScanVariant variant) {
    scan_variant = variant;
    scan_function = scanFunctionFor(variant);
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
// pointers and the heap size in registers. Holes move instead of swaps.

// Index of the child of i that moves up: the right one wins a tie with the
// left. Reads key[2i+1] even when it is past k (the arrays have room for it)
// but only uses it inside the heap.
inline int64_t smallerChild(const int64_t* key, int64_t left, int64_t k) {
    return left + ((left < k) & (key[left + 1] <= key[left]));
}

// Restores heap order downward from position i in a heap of k elements: a
// child whose key is at most the moving key moves up.
inline void siftDown(int32_t* id, int64_t* key, int64_t i, int64_t k) {
    const int32_t moving = id[i];
    const int64_t moving_key = key[i];
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
inline void siftDownFromRoot(int32_t* id, int64_t* key, int64_t k) {
    if (k < 2) return;
    const int32_t moving = id[1];
    const int64_t moving_key = key[1];
    const int depth = 63 - __builtin_clzll(static_cast<unsigned long long>(k));
    int64_t i = 1;
    int level = 1;
    // Two levels a step: the four grandchildren's keys are loaded with the two
    // children's, so the choice of grandchild waits for no further load.
    for (; level + 1 < depth; level += 2) {
        const int64_t* pair = key + 2 * i;
        const int64_t* grand = key + 4 * i;
        const bool right = pair[1] <= pair[0];
        const int64_t child = 2 * i + right;
        // Selected with a mask: a branch here would be mispredicted half the time.
        const int64_t mask = -static_cast<int64_t>(right);
        const int64_t g0 = grand[0] ^ ((grand[0] ^ grand[2]) & mask);
        const int64_t g1 = grand[1] ^ ((grand[1] ^ grand[3]) & mask);
        const int64_t grandchild = 2 * child + (g1 <= g0);
        id[i] = id[child];
        key[i] = key[child];
        id[child] = id[grandchild];
        key[child] = key[grandchild];
        i = grandchild;
    }
    if (level < depth) {
        const int64_t child = 2 * i + (key[2 * i + 1] <= key[2 * i]);
        id[i] = id[child];
        key[i] = key[child];
        i = child;
    }
    const bool has_child = 2 * i <= k;
    const int64_t left = has_child ? 2 * i : 0;  // position 0 is a harmless read
    const int64_t child = has_child ? smallerChild(key, left, k) : i;
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
// strictly below its parent's: equal keys stop the climb.
inline void climb(int32_t* id, int64_t* key, int64_t i, int32_t v, int64_t kv) {
    while (i > 1 && kv < key[i / 2]) {
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

int32_t heapPosition(int32_t v) { return scan_function(H.data(), heap_count, v); }

// Heads and candidate labels of the arcs of the node being scanned that may
// improve their head's label, sized for the largest out-degree.
namespace {
std::vector<int32_t> improving_head;
std::vector<int64_t> improving_label;
}  // namespace

void prepareEngine() {
    const size_t n = num_nodes > 0 ? static_cast<size_t>(num_nodes) : 0;
    int32_t max_degree = 0;
    for (size_t u = 1; u < point.size() && u <= n; ++u) max_degree = std::max(max_degree, point[u] - point[u - 1]);
    improving_head.assign(static_cast<size_t>(max_degree) + 1, 0);
    improving_label.assign(static_cast<size_t>(max_degree) + 1, 0);
    d.assign(n, M);
    H.assign(n + 1 + kScanPadding, 0);
    H_key.assign(n + 2, 0);
    settled.assign(n, 0);
    settled_count = 0;
    heap_count = 0;
}

void heap() {
    if (d.size() != static_cast<size_t>(num_nodes)) prepareEngine();
    int64_t* const label = d.data();
    int32_t* const reached = settled.data();
    // Only the nodes the previous run reached carry a label other than M: few
    // are set back one by one, many with one pass over the whole array.
    if (settled_count < num_nodes / 8) {
        for (int32_t i = 0; i < settled_count; ++i) label[reached[i] - 1] = M;
    } else {
        std::fill(d.begin(), d.end(), M);
    }

    int32_t* const id = H.data();
    int64_t* const key = H_key.data();
    const int32_t* const first_arc = point.data();
    const int32_t* const head = graph_head.data();
    const int32_t* const length = graph_length.data();
    const ScanFunction scan = scan_function;
    int32_t* const improving_v = improving_head.data();
    int64_t* const improving_c = improving_label.data();

    const int32_t s = user_source_node;
    label[s - 1] = 0;
    id[1] = s;
    key[1] = 0;
    int64_t count = 1;
    int32_t reached_count = 0;
    int32_t u = 0;
    int64_t scans = 0;
    int128 sum = 0;
    while (count > 0) {
        // Extract the minimum.
        u = id[1];
        const int64_t du = key[1];
        reached[reached_count++] = u;
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
        // before or after the extraction's sift. With few arcs it goes first,
        // so that its work is not lost when the sift's hard-to-predict end is
        // mispredicted; with many, the sift goes first and its chain of
        // dependent loads overlaps the long filter.
        const int32_t begin = first_arc[u - 1];
        const int32_t end = first_arc[u];
        scans += end - begin;
        const bool few_arcs = end - begin <= kFewArcs;
        if (!few_arcs) siftDownFromRoot(id, key, count);
        int32_t improving = 0;
        for (int32_t e = begin; e < end; ++e) {
            const int32_t v = head[e];
            const int64_t candidate = du + length[e];
            improving_v[improving] = v;
            improving_c[improving] = candidate;
            improving += candidate < label[v - 1];
        }
        if (few_arcs) siftDownFromRoot(id, key, count);

        for (int32_t a = 0; a < improving; ++a) {
            const int32_t v = improving_v[a];
            const int64_t candidate = improving_c[a];
            const int64_t dv = label[v - 1];
            if (candidate >= dv) continue;
            if (dv == M) {  // not yet in the heap: insert
                label[v - 1] = candidate;
                ++count;
                climb(id, key, count, v, candidate);
            } else {
                // Without a node-to-position table the heap is searched; a node
                // already extracted is not found and keeps its label.
                const int32_t j = scan(id, static_cast<int32_t>(count), v);
                if (j != 0) {
                    label[v - 1] = candidate;
                    climb(id, key, j, v, candidate);
                }
            }
        }
    }
    heap_count = 0;
    settled_count = reached_count;
    deleted_node = u;
    settled_sum = sum;
    trivial_triple_comparisons += scans;
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
