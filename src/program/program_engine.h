// The console program's engine under the names the program gives it: one
// Engine over program_network, whose runs leave their results in the
// program state (d, settled_count, settled_sum, deleted_node,
// trivial_triple_comparisons), and the node heap's operations on the
// program's heap H.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/engine.h"
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

// Lays out program_network, prepares the program's engine over it (labels
// in d), and sizes d, H and H_key for the heap's operations (every label M,
// the heap empty). The sweep calls it once per network; heap() calls it when
// nothing was prepared for the loaded network, since resetEngine(), or since
// other widths were forced (forceEngineWidths).
void prepareEngine(EngineUse use = EngineUse::labels);
// Marks the engine as not prepared, so that the next run prepares it afresh.
void resetEngine();
// Frees the engine's arrays and the program heap's.
void releaseEngine();
// The heap size from which the program engine's runs keep the ids' low
// halves (kDefaultShadowFrom unless a test or benchmark says otherwise).
void setShadowFrom(int64_t heap_size);

// Shortest-path labels from user_source_node into d; adds the arcs it examines
// to trivial_triple_comparisons, and leaves the nodes it reached in
// settled_count, the sum of their labels in settled_sum and the last in
// deleted_node. Runs in the instruction set currentInstructionSet() names.
void heap();

// The largest label of the nodes the last run reached (0 for a source that
// reaches only itself). Worked out on demand: the console program never asks.
int64_t largestLabelOfLastRun();

// heap(), calling observe with the heap's ids at positions 1..count after
// every heap operation.
void heapTraced(const std::function<void(const std::vector<int32_t>&)>& observe);

// heap(), counting what its scans read; slower, for benchmarks.
ScanTally heapTallied();

// The program's engine itself (preparedProgramEngine: prepared for the
// loaded network as heap() would), and the widths its runs take now.
Engine& programEngine();
Engine& preparedProgramEngine();
EngineWidths engineWidthsInUse();
