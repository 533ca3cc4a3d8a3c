// The node heap's operations on the program's heap H, and its position scan.
#include "shortest_path.h"

#include <cassert>
#include <cstdint>

#include "heap_primitives.h"
#include "heap_scans.h"

namespace {

template <typename Id>
int32_t scanWith(InstructionSet set, const Id* ids, int32_t count, int32_t v) {
    switch (set) {
#ifdef SPC_X86
        case InstructionSet::sse2: return engine::scanSse2(ids, count, v);
        case InstructionSet::avx2: return engine::scanAvx2(ids, count, v);
        case InstructionSet::avx512: return engine::scanAvx512(ids, count, v);
#endif
        default: return engine::scanPortable(ids, count, v);
    }
}

}  // namespace

namespace {

// The heap's arrays hold positions 0..count, and the ids the scans' padding.
engine::IdSlots<int32_t> programHeap() { return {H.data()}; }

[[maybe_unused]] bool heapHasRoomFor(int64_t count) {
    return count >= 0 && static_cast<size_t>(count) + 2 <= H_key.size() &&
           static_cast<size_t>(count) + 1 + kHeapScanPadding <= H.size();
}

int32_t scanShadowedWith(InstructionSet set, const uint16_t* low, const int32_t* ids, int32_t count, int32_t v) {
    switch (set) {
#ifdef SPC_X86
        case InstructionSet::sse2: return engine::scanShadowedSse2(low, ids, count, v);
        case InstructionSet::avx2: return engine::scanShadowedAvx2(low, ids, count, v);
        case InstructionSet::avx512: return engine::scanShadowedAvx512(low, ids, count, v);
#endif
        default: return engine::scanShadowedPortable(low, ids, count, v);
    }
}

}  // namespace

void minHeapify(int32_t i, int32_t k) {
    assert(i >= 1 && heapHasRoomFor(k));
    engine::siftDown(programHeap(), H_key.data(), i, k);
}

void decreaseKey(int32_t i, int64_t key) {
    assert(i >= 1 && i <= heap_count && heapHasRoomFor(heap_count));
    const int32_t v = H[static_cast<size_t>(i)];
    d[static_cast<size_t>(v) - 1] = key;
    engine::climb(programHeap(), H_key.data(), i, v, key);
}

void insertNode(int32_t v, int64_t key) {
    assert(v >= 1 && v <= num_nodes && heapHasRoomFor(heap_count + 1));
    ++heap_count;
    H[static_cast<size_t>(heap_count)] = v;
    decreaseKey(heap_count, key);
}

int32_t extractMin() {
    assert(heap_count >= 1 && heapHasRoomFor(heap_count));
    int32_t* id = H.data();
    int64_t* key = H_key.data();
    const int32_t root = id[1];
    id[1] = id[heap_count];
    key[1] = key[heap_count];
    --heap_count;
    engine::siftDownFromRoot(programHeap(), key, heap_count);
    return root;
}

int32_t findInHeap(const int32_t* ids, int32_t count, int32_t v) {
    return scanWith(currentInstructionSet(), ids, count, v);
}
int32_t findInHeap(const uint16_t* ids, int32_t count, int32_t v) {
    return scanWith(currentInstructionSet(), ids, count, v);
}

int32_t findInShadowedHeap(const uint16_t* low, const int32_t* ids, int32_t count, int32_t v) {
    return scanShadowedWith(currentInstructionSet(), low, ids, count, v);
}

int32_t heapPosition(int32_t v) {
    assert(heapHasRoomFor(heap_count));
    return findInHeap(H.data(), heap_count, v);
}

static_assert(kHeapScanPadding == engine::kScanPadding, "the scans' padding is the one the header promises");
