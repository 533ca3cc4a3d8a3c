// A contraction hierarchy of a network with lengths >= 0, laid out for PHAST:
// every arc between a node and one of higher rank (removed later) kept once,
// the shortest:
//
//   upward arcs   from a node to nodes of higher rank, by tail;
//   downward arcs into a node from nodes of higher rank, by head.
//
// The nodes are numbered by depth (0 for a node no downward arc enters, else
// one more than its deepest tail), within a depth by the network's ids: every
// downward arc comes from a smaller index, and the pass reads nearby labels.
// A tree from s: a Dijkstra search from s over the upward arcs, then one pass
// over the nodes in index order, each taking the minimum over its downward
// arcs of the tail's label plus the length. The labels are the distances.
// Built once (contraction.h), read by any number of engines at once, through
// a view: of the built arrays, or of the same arrays laid out in one block
// (hierarchy_file.h), as a file holds them and as the ranks of a machine
// share them.
#pragma once

#include <cstdint>
#include <vector>

#include "network/network.h"

struct Hierarchy {
    NetworkFingerprint network;  // of the network it was built from
    int32_t nodes = 0;
    std::vector<int32_t> original;  // index -> the node's id in the network (1..nodes)
    std::vector<int32_t> index_of;  // id - 1 -> index
    // Upward arcs of index i: up_head/up_length[up_first[i] .. up_first[i+1]).
    std::vector<int64_t> up_first;
    std::vector<int32_t> up_head;
    std::vector<int64_t> up_length;
    // Downward arcs into index i: down_tail/down_length[down_first[i] .. down_first[i+1]).
    std::vector<int64_t> down_first;
    std::vector<int32_t> down_tail;
    std::vector<int64_t> down_length;
    // Arcs leaving each index's node in the network itself (parallel arcs and
    // self-loops included): what the binary-heap method examines there.
    std::vector<int32_t> out_degree;

    int64_t arcs() const { return static_cast<int64_t>(up_head.size() + down_tail.size()); }
    // Bytes the hierarchy holds.
    uint64_t bytes() const;
};

// The arrays of a hierarchy, wherever they lie; read only.
struct HierarchyView {
    NetworkFingerprint network;
    int32_t nodes = 0;
    int64_t up_arcs = 0, down_arcs = 0;
    const int32_t* original = nullptr;
    const int32_t* index_of = nullptr;
    const int32_t* out_degree = nullptr;
    const int64_t* up_first = nullptr;
    const int32_t* up_head = nullptr;
    const int64_t* up_length = nullptr;
    const int64_t* down_first = nullptr;
    const int32_t* down_tail = nullptr;
    const int64_t* down_length = nullptr;
};

inline HierarchyView viewOf(const Hierarchy& h) {
    return {h.network,           h.nodes,         static_cast<int64_t>(h.up_head.size()),
            static_cast<int64_t>(h.down_tail.size()), h.original.data(), h.index_of.data(),
            h.out_degree.data(), h.up_first.data(), h.up_head.data(),
            h.up_length.data(),  h.down_first.data(), h.down_tail.data(),
            h.down_length.data()};
}
