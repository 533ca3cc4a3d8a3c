#include "arc_layout.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "arc_filters.h"
#include "engine.h"
#include "heap_scans.h"

namespace {

size_t onCacheLine(size_t bytes) { return (bytes + kCacheLine - 1) / kCacheLine * kCacheLine; }

// True when at least nine in ten of the n nodes have the same out-degree.
bool mostNodesHaveOneDegree(const std::vector<int32_t>& point, size_t n) {
    std::vector<int64_t> with_degree(engine::kFewArcs + 2, 0);  // the last counts all larger degrees
    for (size_t u = 1; u < point.size() && u <= n; ++u) {
        ++with_degree[static_cast<size_t>(std::min(point[u] - point[u - 1], engine::kFewArcs + 1))];
    }
    const int64_t most = *std::max_element(with_degree.begin(), with_degree.end());
    return 10 * most >= 9 * static_cast<int64_t>(n);
}

// The arcs' values in a narrower type: the widths were chosen so that they fit.
template <typename T>
void writeNarrowed(const std::vector<int32_t>& values, T padding, void* out) {
    T* to = static_cast<T*>(out);
    for (size_t e = 0; e < values.size(); ++e) to[e] = static_cast<T>(values[e]);
    std::fill(to + values.size(), to + values.size() + engine::kFewArcs, padding);
}

}  // namespace

ArcLayout layoutOf(int64_t nodes, int64_t arcs, const EngineWidths& widths) {
    ArcLayout layout;
    layout.nodes = nodes;
    layout.arcs = arcs;
    layout.widths = widths;
    // The arrays the runs read past a node's last arc are padded by kFewArcs
    // slots (head 1, length 0).
    const size_t padded = static_cast<size_t>(arcs) + engine::kFewArcs;
    layout.point_offset = 0;
    layout.head_offset = onCacheLine(static_cast<size_t>(nodes + 1) * sizeof(int32_t));
    layout.length_offset = layout.head_offset + onCacheLine(padded * static_cast<size_t>(widths.id_bits / 8));
    layout.bytes = layout.length_offset + onCacheLine(padded * static_cast<size_t>(widths.length_bits / 8));
    return layout;
}

ArcLayout planArcLayout(const Network& network) {
    const size_t n = network.nodes > 0 ? static_cast<size_t>(network.nodes) : 0;
    const std::vector<int32_t>& point = network.point;
    const NetworkBounds bounds = networkBounds(network);
    ArcLayout layout = layoutOf(static_cast<int64_t>(n), static_cast<int64_t>(network.head.size()), chosenWidths(bounds));
    layout.bounds = bounds;
    for (size_t u = 1; u < point.size() && u <= n; ++u) {
        layout.max_degree = std::max(layout.max_degree, point[u] - point[u - 1]);
    }
    layout.fixed_slots = !mostNodesHaveOneDegree(point, n);
    return layout;
}

uint64_t engineOwnBytes(const ArcLayout& layout, EngineUse use) {
    const uint64_t n = static_cast<uint64_t>(layout.nodes);
    const uint64_t heap = n + 1 + engine::kScanPadding;
    const uint64_t lists = static_cast<uint64_t>(layout.max_degree) + 1 + engine::kFilterSpill;
    const bool keys32 = layout.widths.key_bits == 32;
    // The heap's ids H and the settled list, in every width.
    uint64_t bytes = 4 * heap + 4 * n + 4 * lists;
    // 64-bit labels and keys: d and H_key, the labels of 64-bit keys or the
    // console program's output.
    if (!keys32 || use == EngineUse::labels) bytes += 8 * n + 8 * (n + 2);
    if (keys32) bytes += 4 * n + 4 * (n + 2);  // the width's own labels and keys
    bytes += 2 * heap;                          // 16-bit ids, or the low halves of 32-bit ones
    bytes += (layout.widths.key_bits / 8 + 8) * lists;  // the filters' keys, and the fallback's
    return bytes;
}

void writeArcLayout(const Network& network, const ArcLayout& layout, void* block) {
    assert(reinterpret_cast<uintptr_t>(block) % kCacheLine == 0);
    auto* base = static_cast<unsigned char*>(block);
    const size_t point_bytes = static_cast<size_t>(layout.nodes + 1) * sizeof(int32_t);
    if (network.point.size() == static_cast<size_t>(layout.nodes) + 1) {
        std::memcpy(base + layout.point_offset, network.point.data(), point_bytes);
    } else {
        std::memset(base + layout.point_offset, 0, point_bytes);
    }
    if (layout.widths.id_bits == 16) {
        writeNarrowed<uint16_t>(network.head, 1, base + layout.head_offset);
    } else {
        writeNarrowed<int32_t>(network.head, 1, base + layout.head_offset);
    }
    if (layout.widths.length_bits == 16) {
        writeNarrowed<int16_t>(network.length, 0, base + layout.length_offset);
    } else {
        writeNarrowed<int32_t>(network.length, 0, base + layout.length_offset);
    }
}

void layOut(const Network& network, LaidOutNetwork& out) {
    out.layout = planArcLayout(network);
    assignOnLargePages(out.block, out.layout.bytes, 0);
    writeArcLayout(network, out.layout, out.block.data());
}
