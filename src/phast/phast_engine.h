// PHAST trees over a contraction hierarchy: for each source a Dijkstra search
// over the upward arcs, then one pass over every node in index order taking
// the minimum over its downward arcs. k trees go at once, their labels side
// by side, so that the pass reads the hierarchy once for k sources, the
// minimum of each arc taken for the k of them with vector instructions.
//
// The figures of a tree are those of the binary-heap method's run from the
// same source (lengths >= 0): the nodes reached (the source included), the
// sum and the largest of their distances, and the arcs that method examines
// there (the out-degrees, in the network, of the nodes reached).
//
// An engine holds its labels and its search's heap; the hierarchy is read,
// never written: any number of engines may run over one at once.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "base/aligned_vector.h"
#include "base/integers.h"
#include "hierarchy.h"

// A label the upward search of one tree found.
struct UpLabel {
    int32_t index;
    int32_t tree;
    int64_t distance;
};

struct TreeFigures {
    int64_t reached = 0;
    int128 sum = 0;
    int64_t largest = 0;
    int64_t scans = 0;
    double harmonic = 0;  // the sum of 1/d over d > 0 (base/harmonic.h); -1: not asked for
};

// The trees a pass can hold: 1, 2, 4 or 8 (eight labels of a node fill a
// cache line and an AVX-512 register; sixteen measured slower).
constexpr int kMostTrees = 8;

class PhastEngine {
public:
    // Sizes the labels for `trees` trees at once over the hierarchy, which
    // must outlive the engine's runs.
    void prepare(const HierarchyView& hierarchy, int trees);
    void prepare(const Hierarchy& hierarchy, int trees) { prepare(viewOf(hierarchy), trees); }
    int trees() const { return k_; }
    // Whether runs give the harmonic sums (by default they do): a division a
    // node and tree, about a third more time a pass; without, -1.
    void setHarmonic(bool harmonic) { harmonic_ = harmonic; }

    // Trees from the sources (ids 1..nodes, at most trees() of them): their
    // figures, figures[t] for sources[t].
    void run(const int32_t* sources, int count, TreeFigures* figures);

    // After run: the distance of `node` (id) from the t-th source, or M when
    // it is not reached.
    int64_t label(int tree, int32_t node) const;

    // Bytes of the engine's own arrays for a hierarchy of n nodes, `trees` at
    // once (the labels counted at 64 bits, as the widest runs hold them).
    static uint64_t bytesFor(int64_t nodes, int trees);

    void release();

private:
    // False when a distance reached 2^32 - 1: the trees go again in 64 bits.
    bool searchUp(int tree, int32_t source);
    template <int K>
    void runTrees(int count, TreeFigures* figures);

    struct FreeAligned {
        void operator()(unsigned char* p) const { ::operator delete(p, std::align_val_t{kCacheLine}); }
    };

    HierarchyView h_;
    int k_ = 1;
    bool harmonic_ = true;
    int64_t longest_down_ = 0;  // the longest downward arc
    // Labels, index * k + tree: a node's k labels side by side. Held in 32
    // bits while every distance stays below 2^32 - 1 (half the bytes the
    // pass reads), else in 64; the block has room for 64. Every pass writes
    // every label before it reads it: never initialised.
    std::unique_ptr<unsigned char, FreeAligned> labels_;
    bool wide_ = false;
    std::vector<UpLabel> up_;  // the upward searches' labels, by index at the pass
    // The upward search: its distances, a heap of indices with positions.
    std::vector<int64_t> up_dist_;
    std::vector<int32_t> heap_;
    std::vector<int32_t> position_;  // 0: not in the heap
    std::vector<int32_t> touched_;
};
