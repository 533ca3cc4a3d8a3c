// Helpers of the engine's tests: heaps and labels as vectors, runs from one source.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <vector>

#include "program/program_engine.h"
#include "test_support.h"

using Labels = std::vector<int64_t>;
using Ids = std::vector<int32_t>;

// The program's heap ids at positions 1..heap_count.
inline Ids heapIds() { return Ids(H.begin() + 1, H.begin() + 1 + heap_count); }

// What a run leaves besides its labels, and the same worked out from the
// labels: the nodes reached, the sum and the largest of their labels.
struct RunSummary {
    int64_t reached = 0;
    int128 sum = 0;
    int64_t largest = 0;
    bool operator==(const RunSummary& o) const { return reached == o.reached && sum == o.sum && largest == o.largest; }
};
inline RunSummary summaryOfLastRun() { return {settled_count, settled_sum, largestLabelOfLastRun()}; }
inline RunSummary summaryOf(const Labels& labels) {
    RunSummary s;
    for (int64_t x : labels) {
        if (x == M) continue;
        s.largest = s.reached == 0 ? x : std::max(s.largest, x);
        ++s.reached;
        s.sum += x;
    }
    return s;
}
inline std::ostream& operator<<(std::ostream& out, const RunSummary& s) {
    return out << "reached " << s.reached << ", sum " << static_cast<long double>(s.sum) << ", largest " << s.largest;
}

// The labels of a run from s, with the arc-scan counter of that run alone.
inline Labels runFrom(int32_t s) {
    trivial_triple_comparisons = 0;
    user_source_node = s;
    heap();
    return d;
}
