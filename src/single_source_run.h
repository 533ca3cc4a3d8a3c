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
#include "program_state.h"

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
};

// Called after every heap operation of a traced run.
inline const std::function<void(const std::vector<int32_t>&)>* heap_observer = nullptr;

template <typename Id>
void showHeap(const Id* id, int64_t count) {
    (*heap_observer)(std::vector<int32_t>(id + 1, id + 1 + count));
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

// The run from user_source_node. With 32-bit keys the labels are the run's
// own and each is copied into d when its node is extracted: a label is final
// then, and every node that gets a label is extracted. Leaves the nodes it
// reached in `settled` and the sum of their labels in settled_sum.
//
// Returns false when it stopped at a node whose key is above last_safe_key,
// before scanning its arcs; everything it computed until then was exact, but
// the labels and the settled list are left unfinished.
template <bool kTraced, typename Kernels, typename W>
bool runFrom(const RunArrays<W>& a) {
    using Id = typename W::Id;
    using Key = typename W::Key;
    constexpr bool kOwnLabels = sizeof(Key) < sizeof(int64_t);
    // A run's sum of keys: below 2^31 nodes times 2^31 with 32-bit keys.
    using Sum = std::conditional_t<kOwnLabels, int64_t, int128>;
    // Copies in registers: the run's stores of keys could alias the fields.
    const Key unreached = a.unreached;
    const Key offset = a.offset;
    const Key last_safe_key = a.last_safe_key;
    Key* const label = a.label;
    int64_t* const out = d.data();
    int32_t* const reached = settled.data();
    // Only the nodes the previous run reached carry a label other than
    // unreached: few are set back one by one, many with one pass.
    if (settled_count < num_nodes / 8) {
        for (int32_t i = 0; i < settled_count; ++i) {
            label[reached[i] - 1] = unreached;
            if constexpr (kOwnLabels) out[reached[i] - 1] = M;
        }
    } else {
        std::fill(label, label + num_nodes, unreached);
        if constexpr (kOwnLabels) std::fill(d.begin(), d.end(), M);
    }

    Id* const id = a.id;
    Key* const key = a.key;
    const int32_t* const first_arc = point.data();
    const Id* const head = a.head;
    const typename W::Length* const length = a.length;
    int32_t* const improving_v = a.improving_head;
    Key* const improving_c = a.improving_key;
    const bool fixed_slots = a.fixed_slots;

    const int32_t s = user_source_node;
    label[s - 1] = offset;
    id[1] = static_cast<Id>(s);
    key[1] = offset;
    int64_t count = 1;
    if (kTraced) showHeap(id, count);
    int32_t reached_count = 0;
    int32_t u = 0;
    int64_t scans = 0;
    Sum sum = 0;
    while (count > 0) {
        // Extract the minimum.
        u = id[1];
        const Key du = key[1];
        reached[reached_count++] = u;
        if constexpr (kOwnLabels) {
            out[u - 1] = int64_t{du} - offset;
            if (du > last_safe_key) {
                settled_count = reached_count;
                return false;
            }
        }
        sum += du;  // an extracted node keeps its label
        id[1] = id[count];
        key[1] = key[count];
        --count;

        // The labels do not depend on the heap's layout, so the filter may run
        // before or after the extraction's sift. With few arcs it goes first,
        // and the sift, then on the critical path, climbs back without
        // branches (measured 4 % faster on road-like networks); with many, the
        // sift goes first and its chain of dependent loads overlaps the long
        // filter, and the plain climb back's fewer instructions win.
        const int32_t begin = first_arc[u - 1];
        const int32_t end = first_arc[u];
        scans += end - begin;
        const bool few_arcs = end - begin <= kFewArcs;
        if (!few_arcs) siftDownFromRoot<false>(id, key, count);
        const int32_t improving = filterNode<Kernels>(few_arcs, fixed_slots, head, length, begin, end, du, label,
                                                      improving_v, improving_c);
        if (few_arcs) siftDownFromRoot<true>(id, key, count);
        if (kTraced) showHeap(id, count);
        // The root is most often the next node extracted: start fetching its
        // arcs now, while the improving arcs are applied. id[1] always holds a
        // node of the network, even in an empty heap.
        {
            const int32_t next = first_arc[id[1] - 1];
            __builtin_prefetch(head + next);
            __builtin_prefetch(length + next);
        }

        for (int32_t i = 0; i < improving; ++i) {
            const int32_t v = improving_v[i];
            const Key candidate = improving_c[i];
            const Key dv = label[v - 1];
            if (candidate >= dv) continue;
            if (dv == unreached) {  // not yet in the heap: insert
                label[v - 1] = candidate;
                ++count;
                climb(id, key, count, static_cast<Id>(v), candidate);
            } else {
                // Without a node-to-position table the heap is searched; a node
                // already extracted is not found and keeps its label.
                const int32_t j = Kernels::scan(id, static_cast<int32_t>(count), v);
                if (j == 0) continue;
                label[v - 1] = candidate;
                climb(id, key, j, static_cast<Id>(v), candidate);
            }
            if (kTraced) showHeap(id, count);
        }
    }
    heap_count = 0;
    settled_count = reached_count;
    deleted_node = u;
    settled_sum = static_cast<int128>(sum) - static_cast<int128>(offset) * reached_count;
    trivial_triple_comparisons += scans;
    return true;
}

}  // namespace engine
