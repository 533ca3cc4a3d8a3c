// The node heap's primitives over raw arrays of ids and keys, for every width
// the engine uses: the single-source run keeps its pointers and the heap size
// in registers. Positions run from 1; key[0] lies below every key, so that no
// climb passes the root. Holes move instead of swaps.
#pragma once

#include <cstdint>
#include <type_traits>

namespace engine {

// Where the heap keeps its ids: the array itself, or that array and beside it
// a copy of the ids' low 16 bits, which the heap scan then reads instead of
// the ids (heap_scans.h). Every move of an id goes through set().
template <typename IdT>
struct IdSlots {
    using Id = IdT;
    Id* id;
    Id get(int64_t i) const { return id[i]; }
    void set(int64_t i, Id v) const { id[i] = v; }
};

template <typename IdT>
struct ShadowedIdSlots {
    using Id = IdT;
    Id* id;
    uint16_t* low;
    Id get(int64_t i) const { return id[i]; }
    void set(int64_t i, Id v) const {
        id[i] = v;
        low[i] = static_cast<uint16_t>(v);
    }
};

// a when c holds, else b. Written with a mask so that the compiler emits a
// conditional move: the choices of the sift are as often one way as the
// other, and a branch would be mispredicted half the time.
template <typename T>
inline T choose(bool c, T a, T b) {
    using U = std::make_unsigned_t<T>;
    return static_cast<T>(static_cast<U>(b) ^ ((static_cast<U>(a) ^ static_cast<U>(b)) & -static_cast<U>(c)));
}

// The heap's two tie rules, used at every step that compares keys.
//
// Sifting down, a key wins against one it equals: a child whose key is at
// most its parent's moves up (an element sinks below children with equal
// keys), and the right child wins a tie with the left.
template <typename Key>
inline bool siftPrefers(Key challenger, Key holder) {
    return challenger <= holder;
}

// Climbing, a key moves up only while strictly below its parent's: equal keys
// stop the climb. key[0] holds the lowest value of the key type, and only this
// strict test keeps a climb from passing the root onto it.
template <typename Key>
inline bool climbsAbove(Key key, Key parent) {
    return key < parent;
}

// Index of the child of i that moves up. Reads key[left + 1] even when it is
// past k (the arrays have room for it) but only uses it inside the heap.
template <typename Key>
inline int64_t smallerChild(const Key* key, int64_t left, int64_t k) {
    return left + ((left < k) & siftPrefers(key[left + 1], key[left]));
}

// Restores heap order downward from position i in a heap of k elements.
template <typename Slots, typename Key>
inline void siftDown(const Slots& ids, Key* key, int64_t i, int64_t k) {
    using Id = typename Slots::Id;
    const Id moving = ids.get(i);
    const Key moving_key = key[i];
    for (int64_t child = 2 * i; child <= k; child = 2 * i) {
        child = smallerChild(key, child, k);
        if (!siftPrefers(key[child], moving_key)) break;
        ids.set(i, ids.get(child));
        key[i] = key[child];
        i = child;
    }
    ids.set(i, moving);
    key[i] = moving_key;
}

// Puts node v with key kv at position i and moves it up while climbsAbove
// its parent. Most climbs take no step or one, which a branch would guess
// wrong often, so the first two steps are taken without branches.
template <typename Slots, typename Key>
inline void climb(const Slots& ids, Key* key, int64_t i, typename Slots::Id v, Key kv) {
    using Id = typename Slots::Id;
    const int64_t p1 = i >> 1;  // i >= 1: shifts, not signed divisions
    const int64_t p2 = i >> 2;
    const Key k1 = key[p1];
    const Key k2 = key[p2];
    const Id i1 = ids.get(p1);
    const Id i2 = ids.get(p2);
    const bool up1 = climbsAbove(kv, k1);
    const bool up2 = up1 & climbsAbove(kv, k2);
    ids.set(i, choose(up1, i1, v));
    key[i] = choose(up1, k1, kv);
    ids.set(p1, choose(up2, i2, choose(up1, v, i1)));
    key[p1] = choose(up2, k2, choose(up1, kv, k1));
    if (!up2) return;
    i = p2;
    while (climbsAbove(kv, key[i / 2])) {
        ids.set(i, ids.get(i / 2));
        key[i] = key[i / 2];
        i /= 2;
    }
    ids.set(i, v);
    key[i] = kv;
}


// The same from the root, for extraction, where the moving element came from
// the bottom and nearly always goes back there: it first follows the path of
// moving children to a leaf without comparing, then climbs back while its
// parent's key is greater. The path's keys never decrease downward, so it
// stops exactly where siftDown would have put it: below every path key that
// is at most its own, above every one that is greater.
//
// In a heap of k elements the levels above floor(log2 k) are full, so the
// descent takes that many steps less one without any test of the size, and
// the last step, which may find no child, is done without a branch.
//
// kBranchFreeBack: the climb back takes its first steps without branches (see
// climb), which pays where the sift is on the run's critical path; otherwise
// a plain loop, fewer instructions when the element stays at the leaf.
template <bool kBranchFreeBack = true, typename Slots, typename Key>
inline void siftDownFromRoot(const Slots& ids, Key* key, int64_t k) {
    using Id = typename Slots::Id;
    if (k < 2) return;
    const Id moving = ids.get(1);
    const Key moving_key = key[1];
    const int depth = 63 - __builtin_clzll(static_cast<unsigned long long>(k));
    int64_t i = 1;
    // Two levels a step: the four grandchildren's keys are loaded with the two
    // children's, so the choice of grandchild waits for no further load.
    for (int steps = (depth - 1) / 2; steps > 0; --steps) {
        const Key a = key[2 * i], b = key[2 * i + 1];
        const Key g0 = key[4 * i], g1 = key[4 * i + 1], g2 = key[4 * i + 2], g3 = key[4 * i + 3];
        const bool right = siftPrefers(b, a);
        const int64_t child = 2 * i + right;
        const Key ga = choose(right, g2, g0);
        const Key gb = choose(right, g3, g1);
        const bool grand_right = siftPrefers(gb, ga);
        const int64_t grandchild = 2 * child + grand_right;
        ids.set(i, ids.get(child));
        key[i] = choose(right, b, a);
        ids.set(child, ids.get(grandchild));
        key[child] = choose(grand_right, gb, ga);
        i = grandchild;
    }
    if ((depth - 1) % 2 != 0) {
        const Key a = key[2 * i], b = key[2 * i + 1];
        const bool right = siftPrefers(b, a);
        const int64_t child = 2 * i + right;
        ids.set(i, ids.get(child));
        key[i] = choose(right, b, a);
        i = child;
    }
    // The bottom level may or may not hold a child of i: masks, not a branch.
    const int64_t has_child = -static_cast<int64_t>(2 * i <= k);
    const int64_t left = 2 * i & has_child;  // position 0 is a harmless read
    const int64_t child = (smallerChild(key, left, k) & has_child) | (i & ~has_child);
    ids.set(i, ids.get(child));
    key[i] = key[child];
    // Back up while the parent's key is greater.
    if constexpr (kBranchFreeBack) {
        climb(ids, key, child, moving, moving_key);
    } else {
        i = child;
        while (i > 1 && climbsAbove(moving_key, key[i / 2])) {
            ids.set(i, ids.get(i / 2));
            key[i] = key[i / 2];
            i /= 2;
        }
        ids.set(i, moving);
        key[i] = moving_key;
    }
}

}  // namespace engine
