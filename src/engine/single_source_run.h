// The single-source label-setting run, written once for every width of ids,
// keys and lengths and every instruction set's kernels. It is the plain
// binary-heap method step by step (the same heap after every operation, the
// same labels), laid out for speed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <vector>

#include "arc_filters.h"
#include "heap_primitives.h"
#include "base/integers.h"

namespace engine {

// The types of one width: node ids (also the arcs' heads), keys and labels,
// arc lengths.
template <typename IdT, typename KeyT, typename LengthT>
struct Widths {
    using Id = IdT;
    using Key = KeyT;
    using Length = LengthT;
};

// Where one run reads and writes. A key is a node's label plus `offset`; the
// label of a node not reached is `unreached`.
template <typename W>
struct RunArrays {
    using Id = typename W::Id;
    using Key = typename W::Key;
    Key* label;           // by node; d itself for 64-bit keys
    Id* id;               // the heap's ids, positions 1..count
    Key* key;             // their keys; key[0] below every key
    const int32_t* first_arc;  // the arcs of node u: first_arc[u-1] .. first_arc[u]
    const Id* head;       // the arc table, padded by kFewArcs slots
    const typename W::Length* length;
    int32_t* improving_head;  // the filter's list
    Key* improving_key;
    Key unreached;
    Key offset;
    // 32-bit keys: the largest key whose node's arcs may be scanned. A run
    // that extracts a node with a greater key stops (see runFrom).
    Key last_safe_key;
    bool fixed_slots;  // filter nodes with few arcs over fixed slots
    bool monotone;     // no negative length: nodes leave the heap in order of their labels
    // 32-bit ids: the low halves of the heap's ids, kept once the heap holds
    // more than shadow_from nodes (see runFrom).
    uint16_t* low;
    int64_t shadow_from;
    int32_t nodes;
    int64_t* out;      // 64-bit labels, written as nodes are extracted (narrower keys, labels kept)
    int32_t* reached;  // the nodes extracted, in order
    // Traced runs show the heap after every operation; tallied ones count
    // what the heap scans read.
    const std::function<void(const std::vector<int32_t>&)>* observer;
    struct ScanCounts* counts;
};

// A plain run; a traced one, which shows the heap after every operation to
// heap_observer; a tallied one, which counts what its heap scans read; one
// for the figures alone, which leaves no labels in d (with 32-bit keys the
// labels are the run's own: the sum, the count and the largest come from those).
enum class RunMode { plain, traced, tallied, figures };

// What the scans of tallied runs read, counted from the heap's end down to the
// position found (or all of the heap when the node is not in it).
struct ScanCounts {
    int64_t scans = 0;
    int64_t positions = 0;
    int64_t bytes = 0;
};

inline void countScan(ScanCounts* counts, int64_t count, int32_t found, int64_t bytes_per_position) {
    const int64_t positions = found == 0 ? count : count - found + 1;
    ++counts->scans;
    counts->positions += positions;
    counts->bytes += positions * bytes_per_position;
}

template <typename Id>
void showHeap(const std::function<void(const std::vector<int32_t>&)>* observer, const Id* id, int64_t count) {
    (*observer)(std::vector<int32_t>(id + 1, id + 1 + count));
}

// The filter for one node's arcs. Where nearly all nodes have the same degree
// (a grid) the plain loop's exit branch is well predicted and the loop is
// cheapest; elsewhere nodes with few arcs take fixed slots or one vector step,
// so that no branch depends on the degree.
template <typename Kernels, typename Head, typename Length, typename Key>
inline int32_t filterNode(bool few_arcs, bool fixed_slots, const Head* head, const Length* length, int32_t begin,
                          int32_t end, Key du, const Key* label, int32_t* out_v, Key* out_c) {
    constexpr bool kVector = Kernels::template filters<Key>();
    if (few_arcs) {
        if (!fixed_slots) return filterArcs(head, length, begin, end, du, label, out_v, out_c);
        if constexpr (kVector) return Kernels::filterFew(head, length, begin, end, du, label, out_v, out_c);
        return filterSlots(head, length, begin, end, du, label, out_v, out_c);
    }
    if constexpr (kVector) return Kernels::filterMany(head, length, begin, end, du, label, out_v, out_c);
    return filterArcs(head, length, begin, end, du, label, out_v, out_c);
}

// What a run carries from its plain loop into its shadowed one.
template <typename Sum>
struct RunProgress {
    int64_t count = 1;  // nodes in the heap
    int32_t reached_count = 0;
    int32_t u = 0;  // the node extracted last
    int64_t scans = 0;
    Sum sum = 0;  // of the extracted nodes' keys
};

// How a loop of the run ended: the heap emptied, a key left no room for the
// longest arc (see runFrom), or the heap grew past shadow_from.
enum class LoopEnd { done, unsafe_key, heap_grew };

// Nodes with 32-bit ids can keep their low halves beside the heap.
template <typename W>
constexpr bool kCanShadow = sizeof(typename W::Id) == sizeof(int32_t);

// The run's loop from the heap it is given: each extraction, the filter of
// the node's arcs, and the insertions and decreases they call for. kShadowed:
// the heap keeps the low halves of its ids in low[], and the scans read those.
template <RunMode kMode, typename Kernels, typename W, bool kShadowed, typename Sum>
LoopEnd runLoop(const RunArrays<W>& a, RunProgress<Sum>& progress) {
    constexpr bool kTraced = kMode == RunMode::traced;
    using Id = typename W::Id;
    using Key = typename W::Key;
    using Slots = std::conditional_t<kShadowed, ShadowedIdSlots<Id>, IdSlots<Id>>;
    constexpr bool kOwnLabels = sizeof(Key) < sizeof(int64_t);
    // Copies in registers: the run's stores of keys could alias the fields.
    const Key unreached = a.unreached;
    const Key offset = a.offset;
    const Key last_safe_key = a.last_safe_key;
    Key* const label = a.label;
    int64_t* const out = a.out;
    int32_t* const reached = a.reached;
    Id* const id = a.id;
    Slots ids{};
    ids.id = id;
    if constexpr (kShadowed) ids.low = a.low;
    Key* const key = a.key;
    const int32_t* const first_arc = a.first_arc;
    const Id* const head = a.head;
    const typename W::Length* const length = a.length;
    int32_t* const improving_v = a.improving_head;
    Key* const improving_c = a.improving_key;
    const bool fixed_slots = a.fixed_slots;
    const int64_t shadow_from = a.shadow_from;

    int64_t count = progress.count;
    int32_t reached_count = progress.reached_count;
    int32_t u = progress.u;
    int64_t scans = progress.scans;
    Sum sum = progress.sum;
    LoopEnd end = LoopEnd::done;
    while (count > 0) {
        // Extract the minimum.
        u = id[1];
        const Key du = key[1];
        reached[reached_count++] = u;
        if constexpr (kOwnLabels) {
            if constexpr (kMode != RunMode::figures) out[u - 1] = int64_t{du} - offset;
            if (du > last_safe_key) {
                end = LoopEnd::unsafe_key;
                break;
            }
        }
        sum += du;  // an extracted node keeps its label
        ids.set(1, id[count]);
        key[1] = key[count];
        --count;

        // The labels do not depend on the heap's layout, so the filter may run
        // before or after the extraction's sift. With few arcs it goes first,
        // and the sift, then on the critical path, climbs back without
        // branches (measured 4 % faster on road-like networks); with many, the
        // sift goes first and its chain of dependent loads overlaps the long
        // filter, and the plain climb back's fewer instructions win.
        const int32_t begin = first_arc[u - 1];
        const int32_t end_arc = first_arc[u];
        scans += end_arc - begin;
        const bool few_arcs = end_arc - begin <= kFewArcs;
        if (!few_arcs) siftDownFromRoot<false>(ids, key, count);
        const int32_t improving = filterNode<Kernels>(few_arcs, fixed_slots, head, length, begin, end_arc, du, label,
                                                      improving_v, improving_c);
        if (few_arcs) siftDownFromRoot<true>(ids, key, count);
        if (kTraced) showHeap(a.observer, id, count);
        // The root is most often the next node extracted: start fetching its
        // arcs now, while the improving arcs are applied. id[1] always holds a
        // node of the network, even in an empty heap.
        {
            const int32_t next = first_arc[id[1] - 1];
            __builtin_prefetch(head + next);
            __builtin_prefetch(length + next);
        }
        // A heap large enough to keep low halves belongs to a network whose
        // arc table seldom sits in the cache: fetch the arcs of the root's
        // children too, one of which is often the node extracted after the
        // next. (Elsewhere the extra code measured 3 % slower on small grids,
        // though it never ran there.)
        if (kShadowed && count >= 3) {
            for (const Id child : {id[2], id[3]}) {
                const int32_t arcs = first_arc[child - 1];
                __builtin_prefetch(head + arcs);
                __builtin_prefetch(length + arcs);
            }
        }

        for (int32_t i = 0; i < improving; ++i) {
            const int32_t v = improving_v[i];
            const Key candidate = improving_c[i];
            const Key dv = label[v - 1];
            if (candidate >= dv) continue;
            if (dv == unreached) {  // not yet in the heap: insert
                label[v - 1] = candidate;
                ++count;
                climb(ids, key, count, static_cast<Id>(v), candidate);
            } else {
                // Without a node-to-position table the heap is searched; a node
                // already extracted is not found and keeps its label.
                int32_t j = 0;
                if constexpr (kShadowed) {
                    j = Kernels::scanShadowed(a.low, id, static_cast<int32_t>(count), v);
                } else {
                    j = Kernels::scan(id, static_cast<int32_t>(count), v);
                }
                if constexpr (kMode == RunMode::tallied) countScan(a.counts, count, j, kShadowed ? 2 : sizeof(Id));
                if (j == 0) continue;
                label[v - 1] = candidate;
                climb(ids, key, j, static_cast<Id>(v), candidate);
            }
            if (kTraced) showHeap(a.observer, id, count);
        }
        if constexpr (!kShadowed && kCanShadow<W>) {
            if (count > shadow_from) {
                end = LoopEnd::heap_grew;
                break;
            }
        }
    }
    progress = {count, reached_count, u, scans, sum};
    return end;
}

// The largest label of the nodes the last run extracted (last among them the
// node `last`). Without negative lengths they leave the heap in order of
// their labels, so it is the last one's. Worked out only when asked, after
// the run: folded into the run, it cost the loop registers.
template <typename W>
int64_t largestSettledLabel(const RunArrays<W>& a, int32_t last, int32_t reached_count) {
    using Key = typename W::Key;
    Key largest = a.label[last - 1];
    if (!a.monotone) {
        for (int32_t i = 0; i < reached_count; ++i) largest = std::max(largest, a.label[a.reached[i] - 1]);
    }
    return int64_t{largest} - a.offset;
}

// What one run gives.
struct RunResult {
    bool complete = true;  // false: stopped at a key above last_safe_key
    int32_t reached = 0;   // nodes extracted (the source among them)
    int32_t last = 0;      // the node extracted last
    int128 sum = 0;        // of their labels
    int64_t scans = 0;     // arcs examined
};

// The run from `source`. With 32-bit keys the labels are the run's own and
// each is copied into `out` when its node is extracted (unless only the
// figures are wanted): a label is final then, and every node that gets a
// label is extracted. Leaves the nodes it reached in `reached`; before it
// starts, the labels of the `previous` nodes the last run reached are set
// back.
//
// Returns incomplete when it stopped at a node whose key is above
// last_safe_key, before scanning its arcs; everything it computed until then
// was exact, but the labels and the list of reached nodes are left unfinished
// (result.reached says how far).
//
// With 32-bit ids the run starts with a plain heap; once the heap holds more
// than shadow_from nodes, it copies their ids' low halves beside the heap and
// goes on keeping them there, for the scans to read half the bytes.
template <RunMode kMode, typename Kernels, typename W>
RunResult runFrom(const RunArrays<W>& a, int32_t source, int32_t previous) {
    using Id = typename W::Id;
    using Key = typename W::Key;
    constexpr bool kOwnLabels = sizeof(Key) < sizeof(int64_t);
    // A run's sum of keys: below 2^31 nodes times 2^31 with 32-bit keys.
    using Sum = std::conditional_t<kOwnLabels, int64_t, int128>;
    Key* const label = a.label;
    const int32_t* const reached = a.reached;
    // Only the nodes the previous run reached carry a label other than
    // unreached: few are set back one by one, many with one pass.
    constexpr bool kLabelsOut = kOwnLabels && kMode != RunMode::figures;
    if (previous < a.nodes / 8) {
        for (int32_t i = 0; i < previous; ++i) {
            label[reached[i] - 1] = a.unreached;
            if constexpr (kLabelsOut) a.out[reached[i] - 1] = M;
        }
    } else {
        std::fill(label, label + a.nodes, a.unreached);
        if constexpr (kLabelsOut) std::fill(a.out, a.out + a.nodes, M);
    }

    label[source - 1] = a.offset;
    a.id[1] = static_cast<Id>(source);
    a.key[1] = a.offset;
    if (kMode == RunMode::traced) showHeap(a.observer, a.id, 1);
    RunProgress<Sum> progress;
    LoopEnd end = runLoop<kMode, Kernels, W, false>(a, progress);
    if constexpr (kCanShadow<W>) {
        if (end == LoopEnd::heap_grew) {
            for (int64_t i = 1; i <= progress.count; ++i) a.low[i] = static_cast<uint16_t>(a.id[i]);
            end = runLoop<kMode, Kernels, W, true>(a, progress);
        }
    }
    RunResult result;
    result.reached = progress.reached_count;
    if (end == LoopEnd::unsafe_key) {
        result.complete = false;
        return result;
    }
    result.last = progress.u;
    result.sum = static_cast<int128>(progress.sum) - static_cast<int128>(a.offset) * progress.reached_count;
    result.scans = progress.scans;
    return result;
}

}  // namespace engine
