// The node heap and the single-source label-setting run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "engine_widths.h"
#include "instruction_sets.h"
#include "state/program_state.h"

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

// What runs leave: labels in d (the console program, the tests), or the
// figures alone (spc_sweep; see prepareEngineOver).
enum class EngineUse { labels, figures };

// Sizes the labels, the heap and the settled list for num_nodes nodes, sets
// every label to M and chooses the engine's widths for the loaded network
// (see engine_widths.h). The sweep calls it once per network; heap() calls it
// when nothing was prepared for the loaded network (network_generation) or
// since the last resetEngine().
void prepareEngine(EngineUse use = EngineUse::labels);

// The same over an arc table laid out elsewhere (arc_layout.h), which the
// runs read until the engine is prepared again or released: spc_sweep's
// ranks share one per machine. The engine's other arrays are its own.
// EngineUse::figures: runs leave the nodes they reached, the sum and the
// largest of their labels, but no labels in d (with 32-bit keys d is not
// even allocated), and the heap's arrays take memory only as far as runs
// fill them: spc_sweep's ranks need only the figures.
struct ArcLayout;
void prepareEngineOver(const ArcLayout& layout, const void* block, EngineUse use = EngineUse::labels);

// Frees every array of the engine; the next run prepares it again.
void releaseEngine();

// With 32-bit ids, a run whose heap grows past this many nodes keeps the
// low halves of the heap's ids beside it, and its scans read those. Tests
// and benchmarks choose other sizes with setShadowFrom().
constexpr int64_t kDefaultShadowFrom = 4096;
void setShadowFrom(int64_t heap_size);

// Marks the engine as not prepared, so that the next run sizes its arrays
// afresh (a new network does this by itself: see network_generation).
void resetEngine();

// Shortest-path labels from user_source_node into d; adds the arcs it examines
// to trivial_triple_comparisons and lists the nodes it reaches in settled,
// with the sum of their labels in settled_sum.
void heap();

// The largest label of the nodes the last run reached (0 for a source that
// reaches only itself). Worked out on demand: the console program never asks.
int64_t largestLabelOfLastRun();

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
