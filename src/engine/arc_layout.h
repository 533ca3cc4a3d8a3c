// The arc table as the runs read it: the offsets, and the heads and lengths
// in the network's widths, padded for the filters, in one block of memory.
// The console program's engine keeps its own block; spc_sweep lays the block
// out once per machine, and the ranks of the machine share it.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

#include "base/aligned_vector.h"
#include "engine_widths.h"
#include "network/network.h"

struct ArcLayout {
    EngineWidths widths{32, 64, 32};
    NetworkBounds bounds;
    int64_t nodes = 0;
    int64_t arcs = 0;
    int32_t max_degree = 0;    // the largest out-degree: the filters' lists need room for it
    bool fixed_slots = false;  // nodes with few arcs take fixed slots (see single_source_run.h)
    // Byte offsets in the block, each on a cache line, and the block's size.
    size_t point_offset = 0;
    size_t head_offset = 0;
    size_t length_offset = 0;
    size_t bytes = 0;
};

// The layout of the network in the widths the engine chooses for it.
ArcLayout planArcLayout(const Network& network);

// Where the arrays of a network of this size lie in the widths given (what
// planArcLayout works out, without a network: for sizing).
ArcLayout layoutOf(int64_t nodes, int64_t arcs, const EngineWidths& widths);

// Writes the network's arc table into block, which holds layout.bytes bytes
// and starts on a cache line.
void writeArcLayout(const Network& network, const ArcLayout& layout, void* block);

// A laid-out table with a block of its own: what one process runs over.
struct LaidOutNetwork {
    ArcLayout layout;
    AlignedVector<unsigned char> block;
};
// Lays the network out (large blocks on 2 MiB pages where the kernel gives
// them).
void layOut(const Network& network, LaidOutNetwork& out);

// Bytes of an engine's own arrays (labels, heap, list of reached nodes, the
// filters' lists) for a network of this layout, besides the block, at most:
// the heap's arrays count whole, though runs seldom fill them.
enum class EngineUse;
uint64_t engineOwnBytes(const ArcLayout& layout, EngineUse use);

// Fills the vector with n values; a large one (4 MiB or more, read at random
// by runs: labels, the arc table) is first asked onto 2 MiB pages where the
// kernel gives them, so that the addresses of millions of nodes fit the
// translation buffers.
template <typename Vector>
void assignOnLargePages(Vector& v, size_t n, typename Vector::value_type value) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
    if (v.capacity() < n && n * sizeof(value) >= 2 * kLargePage) {
        Vector().swap(v);
        v.reserve(n);
        const auto begin = (reinterpret_cast<uintptr_t>(v.data()) + kLargePage - 1) / kLargePage * kLargePage;
        const auto end = reinterpret_cast<uintptr_t>(v.data() + n) / kLargePage * kLargePage;
        if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#endif
    v.assign(n, value);
}
