// Helpers of the engine's tests: heaps and labels as vectors, runs from one source.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/shortest_path.h"
#include "test_support.h"

using Labels = std::vector<int64_t>;
using Ids = std::vector<int32_t>;

// The program's heap ids at positions 1..heap_count.
inline Ids heapIds() { return Ids(H.begin() + 1, H.begin() + 1 + heap_count); }

// The labels of a run from s, with the arc-scan counter of that run alone.
inline Labels runFrom(int32_t s) {
    trivial_triple_comparisons = 0;
    user_source_node = s;
    heap();
    return d;
}
