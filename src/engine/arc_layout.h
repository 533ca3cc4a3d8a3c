// The arc table as the runs read it: the offsets, and the heads and lengths
// in the network's widths, padded for the filters, in one block of memory.
// The console program's engine keeps its own block; spc_sweep lays the block
// out once per machine, and the ranks of the machine share it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine_widths.h"

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

// The layout of the loaded network (num_nodes, point, graph_head,
// graph_length) in the widths the engine would choose for it.
ArcLayout planArcLayout();

// Where the arrays of a network of this size lie in the widths given (what
// planArcLayout works out, without a network: for sizing).
ArcLayout layoutOf(int64_t nodes, int64_t arcs, const EngineWidths& widths);

// Writes the loaded network's arc table into block, which holds
// layout.bytes bytes and starts on a cache line.
void writeArcLayout(const ArcLayout& layout, void* block);

// Bytes of the engine's own arrays (labels, heap, settled list, the
// filters' lists) for a network of this layout, besides the block, at most:
// the heap's arrays count whole, though runs seldom fill them.
enum class EngineUse;
uint64_t engineOwnBytes(const ArcLayout& layout, EngineUse use);
