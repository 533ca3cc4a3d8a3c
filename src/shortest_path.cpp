#include "shortest_path.h"

#include <chrono>
#include <cstdio>
#include <ctime>
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

int32_t scanPortable(const int32_t* h, int32_t count, int32_t v) {
    for (int32_t j = 1; j <= count; ++j) {
        if (h[j] == v) return j;
    }
    return 0;
}

// Position of the first match at or after j, accepted only inside the heap.
inline int32_t matchAt(int32_t j, unsigned mask, int32_t count) {
    const int32_t p = j + __builtin_ctz(mask);
    return p <= count ? p : 0;
}

#ifdef SPC_X86
int32_t scanSse2(const int32_t* h, int32_t count, int32_t v) {
    const __m128i key = _mm_set1_epi32(v);
    for (int32_t j = 1; j <= count; j += 8) {
        const __m128i a = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j)), key);
        const __m128i b = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + j + 4)), key);
        const unsigned mask = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(a))) |
                              static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(b))) << 4;
        if (mask != 0) return matchAt(j, mask, count);
    }
    return 0;
}

__attribute__((target("avx2"))) int32_t scanAvx2(const int32_t* h, int32_t count, int32_t v) {
    const __m256i key = _mm256_set1_epi32(v);
    for (int32_t j = 1; j <= count; j += 16) {
        const __m256i a = _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j)), key);
        const __m256i b = _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + j + 8)), key);
        if (!_mm256_testz_si256(_mm256_or_si256(a, b), _mm256_or_si256(a, b))) {
            const unsigned mask = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(a))) |
                                  static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(b))) << 8;
            return matchAt(j, mask, count);
        }
    }
    return 0;
}

__attribute__((target("avx512f"))) int32_t scanAvx512(const int32_t* h, int32_t count, int32_t v) {
    const __m512i key = _mm512_set1_epi32(v);
    for (int32_t j = 1; j <= count; j += 32) {
        const unsigned a = _mm512_cmpeq_epi32_mask(_mm512_loadu_si512(h + j), key);
        const unsigned b = _mm512_cmpeq_epi32_mask(_mm512_loadu_si512(h + j + 16), key);
        if ((a | b) != 0) return matchAt(j, a | b << 16, count);
    }
    return 0;
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

void minHeapify(int32_t i, int32_t k) {
    int32_t* h = H.data();
    int64_t* key = H_key.data();
    const int32_t moving = h[i];
    const int64_t moving_key = key[i];
    // Move a hole down instead of swapping. The right child wins a tie with the
    // left, and a child whose key equals the moving one still moves up.
    for (;;) {
        const int64_t left = 2 * static_cast<int64_t>(i);
        if (left > k) break;
        int64_t child = left;
        if (left < k && key[left + 1] <= key[left]) child = left + 1;
        if (key[child] > moving_key) break;
        h[i] = h[child];
        key[i] = key[child];
        i = static_cast<int32_t>(child);
    }
    h[i] = moving;
    key[i] = moving_key;
}

void decreaseKey(int32_t i, int64_t key) {
    int32_t* h = H.data();
    int64_t* hk = H_key.data();
    const int32_t v = h[i];
    d[static_cast<size_t>(v) - 1] = key;
    while (i > 1 && key < hk[i / 2]) {  // equal keys stop the climb
        h[i] = h[i / 2];
        hk[i] = hk[i / 2];
        i /= 2;
    }
    h[i] = v;
    hk[i] = key;
}

void insertNode(int32_t v, int64_t key) {
    ++heap_count;
    H[static_cast<size_t>(heap_count)] = v;
    decreaseKey(heap_count, key);
}

int32_t extractMin() {
    const int32_t root = H[1];
    H[1] = H[static_cast<size_t>(heap_count)];
    H_key[1] = H_key[static_cast<size_t>(heap_count)];
    --heap_count;
    minHeapify(1, heap_count);
    return root;
}

int32_t heapPosition(int32_t v) { return scan_function(H.data(), heap_count, v); }

void prepareEngine() {
    const size_t n = num_nodes > 0 ? static_cast<size_t>(num_nodes) : 0;
    d.assign(n, M);
    H.assign(n + 1 + kScanPadding, 0);
    H_key.assign(n + 2, 0);
    settled.assign(n, 0);
    settled_count = 0;
    heap_count = 0;
}

void heap() {
    if (d.size() != static_cast<size_t>(num_nodes)) prepareEngine();
    int64_t* label = d.data();
    // Only the nodes the previous run reached carry a label other than M.
    for (int32_t i = 0; i < settled_count; ++i) label[settled[static_cast<size_t>(i)] - 1] = M;
    settled_count = 0;
    deleted_node = 0;

    const int32_t s = user_source_node;
    label[s - 1] = 0;
    heap_count = 1;
    H[1] = s;
    H_key[1] = 0;

    const int32_t* first_arc = point.data();
    const int32_t* head = graph_head.data();
    const int32_t* length = graph_length.data();
    int32_t* reached = settled.data();
    int64_t scans = 0;
    while (heap_count > 0) {
        const int32_t u = extractMin();
        deleted_node = u;
        reached[settled_count++] = u;
        const int64_t du = label[u - 1];
        const int32_t end = first_arc[u];
        scans += end - first_arc[u - 1];
        for (int32_t e = first_arc[u - 1]; e < end; ++e) {
            const int32_t v = head[e];
            const int64_t candidate = du + length[e];
            const int64_t dv = label[v - 1];
            if (candidate >= dv) continue;
            if (dv == M) {
                insertNode(v, candidate);
            } else {
                // Without a node-to-position table the heap is searched; a node
                // already extracted is not found and keeps its label.
                const int32_t j = heapPosition(v);
                if (j != 0) decreaseKey(j, candidate);
            }
        }
    }
    trivial_triple_comparisons += scans;
}

int128 tripleCount(int64_t n) { return static_cast<int128>(n) * (n - 1) * (n - 2); }

float timePerSweep(uint64_t start_ms, uint64_t end_ms) {
    return static_cast<float>(end_ms - start_ms) * 0.25f;
}

SweepResult sweepAllSources() {
    const int32_t n = num_nodes;
    one_to_all_distance.assign(n > 0 ? static_cast<size_t>(n) : 0, 0);
    prepareEngine();
    ProgressLine progress;
    progress.begin();
    int32_t until_look = kSourcesPerLook;
    my_timer = processorMilliseconds();
    for (int repetition = 0; repetition < 4; ++repetition) {
        trivial_triple_comparisons = 0;
        nontrivial_triple_comparisons = 0;
        if (n < 1) break;
        for (int32_t s = 1; s <= n; ++s) {
            user_source_node = s;
            heap();
            // The nodes reached are exactly those with a finite label.
            int128 sum = 0;
            for (int32_t i = 0; i < settled_count; ++i) sum += d[static_cast<size_t>(settled[static_cast<size_t>(i)]) - 1];
            one_to_all_distance[static_cast<size_t>(s) - 1] = sum;
            if (progress.out != nullptr && --until_look == 0) {
                until_look = kSourcesPerLook;
                progress.update(int64_t{repetition} * n + s, int64_t{4} * n);
            }
        }
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
