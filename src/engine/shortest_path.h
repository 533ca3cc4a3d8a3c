// The node heap, the single-source label-setting run and the timed sweep over
// all sources.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "engine_widths.h"
#include "instruction_sets.h"
#include "program_state.h"
#include "progress_line.h"

// Node heap H over positions 1..heap_count, keyed by the labels in d (a copy of
// each key is kept in H_key). A child whose key equals its parent's wins in
// minHeapify; decreaseKey climbs only while strictly below the parent.
void minHeapify(int32_t i, int32_t k);
void decreaseKey(int32_t i, int64_t key);
void insertNode(int32_t v, int64_t key);
int32_t extractMin();  // precondition: heap_count >= 1

// First position 1..heap_count that holds node v, or 0 when v is not in the heap.
int32_t heapPosition(int32_t v);

// The same over any heap of ids at positions 1..count, with the current
// instruction set's scan. The array needs kHeapScanPadding entries after
// position count: the vector scans read them, and ignore what they hold. On a
// cache line (an AlignedVector) it is read fastest.
constexpr size_t kHeapScanPadding = 128;
int32_t findInHeap(const int32_t* ids, int32_t count, int32_t v);
int32_t findInHeap(const uint16_t* ids, int32_t count, int32_t v);

// The same over a heap of 32-bit ids whose low halves are kept in `low`
// (aligned and padded alike): the scan reads the halves and checks each
// candidate's full id.
int32_t findInShadowedHeap(const uint16_t* low, const int32_t* ids, int32_t count, int32_t v);

// Sizes the labels, the heap and the settled list for num_nodes nodes, sets
// every label to M and chooses the engine's widths for the loaded network
// (see engine_widths.h). The sweep calls it once per network; heap() calls it
// when nothing was prepared since the last resetEngine().
void prepareEngine();

// With 32-bit ids, a run whose heap grows past this many nodes keeps the
// low halves of the heap's ids beside it, and its scans read those. Tests
// and benchmarks choose other sizes with setShadowFrom().
constexpr int64_t kDefaultShadowFrom = 4096;
void setShadowFrom(int64_t heap_size);

// Marks the engine as not prepared: the loader calls it whenever the network
// changes, so that no run uses arrays sized for the previous one.
void resetEngine();

// Shortest-path labels from user_source_node into d; adds the arcs it examines
// to trivial_triple_comparisons and lists the nodes it reaches in settled.
void heap();

// heap(), calling observe with the heap's ids at positions 1..count after
// every heap operation: the source's insertion, each extraction with its
// sift, each insertion and each decrease.
void heapTraced(const std::function<void(const std::vector<int32_t>&)>& observe);

// What the heap scans of one run read: scans, positions and bytes, counted
// from the heap's end down to the position found.
struct ScanTally {
    int64_t scans = 0;
    int64_t positions = 0;
    int64_t bytes = 0;
};

// heap(), counting what its scans read; slower, for benchmarks.
ScanTally heapTallied();

// One repetition of the sweep: heap() from every source in ascending order,
// the finite labels of each run summed into one_to_all_distance (which must
// have num_nodes entries; prepareEngine() must have run). after_source, when
// set, is called after each source.
void sweepSources(const std::function<void(int32_t)>& after_source = {});

struct SweepResult {
    int128 sum_of_distances;
    float time_per_sweep;  // milliseconds of processor time
};

// Runs heap() from every node, four times under the processor clock, and sets
// the triple counts.
SweepResult sweepAllSources();

// n(n-1)(n-2): the ordered triples of distinct nodes.
int128 tripleCount(int64_t n);

// Processor time from two clock readings in whole milliseconds, per sweep of four.
float timePerSweep(uint64_t start_ms, uint64_t end_ms);

