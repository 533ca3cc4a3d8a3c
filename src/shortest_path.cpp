// The node heap's operations on the program's heap H, and the choice of the
// heap scan's instruction set.
#include "shortest_path.h"

#include "heap_primitives.h"
#include "heap_scans.h"

namespace {

template <typename Id>
using ScanFunction = int32_t (*)(const Id*, int32_t, int32_t);

template <typename Id>
ScanFunction<Id> scanFunctionFor(ScanVariant variant) {
    switch (variant) {
#ifdef SPC_X86
        case ScanVariant::sse2: return engine::scanSse2;
        case ScanVariant::avx2: return engine::scanAvx2;
        case ScanVariant::avx512: return engine::scanAvx512;
#endif
        default: return engine::scanPortable<Id>;
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

}  // namespace

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

void minHeapify(int32_t i, int32_t k) { engine::siftDown(H.data(), H_key.data(), i, k); }

void decreaseKey(int32_t i, int64_t key) {
    const int32_t v = H[static_cast<size_t>(i)];
    d[static_cast<size_t>(v) - 1] = key;
    engine::climb(H.data(), H_key.data(), i, v, key);
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
    engine::siftDownFromRoot(id, key, heap_count);
    return root;
}

int32_t findInHeap(const int32_t* ids, int32_t count, int32_t v) { return scan_function(ids, count, v); }
int32_t findInHeap(const uint16_t* ids, int32_t count, int32_t v) { return scan_function16(ids, count, v); }

int32_t heapPosition(int32_t v) { return findInHeap(H.data(), heap_count, v); }

static_assert(kHeapScanPadding == engine::kScanPadding, "the scans' padding is the one the header promises");
