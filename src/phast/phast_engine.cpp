#include "phast_engine.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>
#include <type_traits>

#include "engine/instruction_sets.h"

namespace {

// The labels of a node not reached. In 64 bits: above every distance (at
// most 2^31 - 2 arcs of 2^31 - 1), and far enough below the type's end that
// adding a length cannot overflow. In 32 bits: the type's end, which no
// distance of a 32-bit run may reach.
template <typename Label>
constexpr int64_t kUnreached = std::is_same<Label, uint32_t>::value ? int64_t{0xffffffff} : int64_t{1} << 62;

// K lanes: the K trees' labels of a node side by side, whose minimum the
// compiler takes with the widest vectors the instruction set has. Sums work
// in 64-bit lanes whatever the labels' width.
template <int K, typename Label>
struct LaneTypes {
    typedef int64_t Signed __attribute__((vector_size(8 * K)));
    typedef uint64_t Unsigned __attribute__((vector_size(8 * K)));
    typedef Label Stored __attribute__((vector_size(sizeof(Label) * K)));
};
template <int K>
using Lanes = typename LaneTypes<K, int64_t>::Signed;
template <int K>
using UnsignedLanes = typename LaneTypes<K, int64_t>::Unsigned;
template <int K, typename Label>
using StoredLanes = typename LaneTypes<K, Label>::Stored;

// What the pass adds up for each of K trees. The sums of distances go in 64
// bits with a count of carries: a tree's sum can pass 64 bits.
template <int K>
struct PassSums {
    UnsignedLanes<K> low{};
    UnsignedLanes<K> carries{};
    Lanes<K> reached{};
    Lanes<K> largest{};
    Lanes<K> scans{};
};

// The downward pass of K trees: every node, in index order, takes the least
// of its upward labels (`up`, sorted by index and ended by an entry of index
// n) and its downward arcs' tails' labels plus their lengths.
template <int K, typename Label>
inline void downwardPass(const HierarchyView& h, unsigned char* __restrict labels, const UpLabel* up, PassSums<K>& s) {
    constexpr size_t kNodeBytes = sizeof(Label) * K;
    const int32_t n = h.nodes;
    const int64_t* const first = h.down_first;
    const int32_t* const tail = h.down_tail;
    const int64_t* const length = h.down_length;
    const int32_t* const degree = h.out_degree;
    const Lanes<K> unreached = Lanes<K>{} + kUnreached<Label>;
    int32_t next_up = up->index;
    for (int32_t i = 0; i < n; ++i) {
        Lanes<K> lab = unreached;
        if (i == next_up) {
            for (; up->index == i; ++up) lab[up->tree] = up->distance;
            next_up = up->index;
        }
        for (int64_t e = first[i]; e < first[i + 1]; ++e) {
            StoredLanes<K, Label> stored;
            std::memcpy(&stored, labels + static_cast<size_t>(tail[e]) * kNodeBytes, sizeof stored);
            // An unreached tail gives at least `unreached`: never below lab's start.
            const Lanes<K> candidate = __builtin_convertvector(stored, Lanes<K>) + length[e];
            lab = candidate < lab ? candidate : lab;
        }
        const StoredLanes<K, Label> stored = __builtin_convertvector(lab, StoredLanes<K, Label>);
        std::memcpy(labels + static_cast<size_t>(i) * kNodeBytes, &stored, sizeof stored);
        const Lanes<K> reached = lab < unreached;  // -1 where reached, else 0
        const UnsignedLanes<K> x = reinterpret_cast<UnsignedLanes<K>>(lab & reached);
        s.reached -= reached;
        s.low += x;
        s.carries -= reinterpret_cast<UnsignedLanes<K>>(s.low < x);
        const Lanes<K> signed_x = reinterpret_cast<Lanes<K>>(x);
        s.largest = signed_x > s.largest ? signed_x : s.largest;
        s.scans += reached & degree[i];
    }
}

// Compiled once per instruction set, everything inlined.
template <int K, typename Label>
__attribute__((flatten)) void passPortable(const HierarchyView& h, unsigned char* labels, const UpLabel* up, PassSums<K>& s) {
    downwardPass<K, Label>(h, labels, up, s);
}
#ifdef SPC_X86
template <int K, typename Label>
SPC_TARGET_AVX2 __attribute__((flatten)) void passAvx2(const HierarchyView& h, unsigned char* labels, const UpLabel* up,
                                                       PassSums<K>& s) {
    downwardPass<K, Label>(h, labels, up, s);
}
template <int K, typename Label>
SPC_TARGET_AVX512 __attribute__((flatten)) void passAvx512(const HierarchyView& h, unsigned char* labels, const UpLabel* up,
                                                           PassSums<K>& s) {
    downwardPass<K, Label>(h, labels, up, s);
}
#endif

template <int K, typename Label>
PassSums<K> pass(const HierarchyView& h, unsigned char* labels, const UpLabel* up) {
    PassSums<K> s;
    switch (currentInstructionSet()) {
#ifdef SPC_X86
        case InstructionSet::avx512: passAvx512<K, Label>(h, labels, up, s); break;
        case InstructionSet::avx2: passAvx2<K, Label>(h, labels, up, s); break;
#endif
        default: passPortable<K, Label>(h, labels, up, s); break;
    }
    return s;
}

}  // namespace

uint64_t PhastEngine::bytesFor(int64_t nodes, int trees) {
    const uint64_t n = static_cast<uint64_t>(nodes);
    return n * static_cast<uint64_t>(trees) * sizeof(int64_t) + n * (sizeof(int64_t) + 2 * sizeof(int32_t));
}

void PhastEngine::prepare(const HierarchyView& hierarchy, int trees) {
    assert(trees == 1 || trees == 2 || trees == 4 || trees == 8);
    release();
    h_ = hierarchy;
    k_ = trees;
    const size_t n = static_cast<size_t>(hierarchy.nodes);
    longest_down_ = 0;
    for (int64_t e = 0; e < hierarchy.down_arcs; ++e) longest_down_ = std::max(longest_down_, hierarchy.down_length[e]);
    // Left uninitialised, so that a 32-bit run never touches the upper half's pages.
    labels_.reset(static_cast<unsigned char*>(
        ::operator new(std::max<size_t>(n * static_cast<size_t>(k_) * sizeof(int64_t), 1), std::align_val_t{kCacheLine})));
    wide_ = false;
    up_dist_.assign(n, kUnreached<int64_t>);
    heap_.assign(n + 1, 0);
    position_.assign(n, 0);
}

void PhastEngine::release() {
    labels_.reset();
    std::vector<UpLabel>().swap(up_);
    std::vector<int64_t>().swap(up_dist_);
    std::vector<int32_t>().swap(heap_);
    std::vector<int32_t>().swap(position_);
    std::vector<int32_t>().swap(touched_);
    h_ = HierarchyView{};
}

// A binary heap of indices keyed by up_dist_, with each one's position.
bool PhastEngine::searchUp(int tree, int32_t source) {
    const HierarchyView& h = h_;
    int32_t count = 0;
    int64_t farthest = 0;
    const auto key = [&](int32_t pos) { return up_dist_[static_cast<size_t>(heap_[static_cast<size_t>(pos)])]; };
    const auto place = [&](int32_t pos, int32_t v) {
        heap_[static_cast<size_t>(pos)] = v;
        position_[static_cast<size_t>(v)] = pos;
    };
    const auto climb = [&](int32_t pos) {
        const int32_t v = heap_[static_cast<size_t>(pos)];
        const int64_t kv = up_dist_[static_cast<size_t>(v)];
        while (pos > 1 && kv < key(pos / 2)) {
            place(pos, heap_[static_cast<size_t>(pos / 2)]);
            pos /= 2;
        }
        place(pos, v);
    };
    const int32_t s = h.index_of[source - 1];
    up_dist_[static_cast<size_t>(s)] = 0;
    touched_.push_back(s);
    place(++count, s);
    while (count > 0) {
        const int32_t u = heap_[1];
        position_[static_cast<size_t>(u)] = 0;
        const int32_t last = heap_[static_cast<size_t>(count--)];
        if (count > 0) {  // sift the last down from the root
            int32_t pos = 1;
            for (;;) {
                int32_t child = 2 * pos;
                if (child > count) break;
                if (child < count && key(child + 1) < key(child)) ++child;
                if (up_dist_[static_cast<size_t>(last)] <= key(child)) break;
                place(pos, heap_[static_cast<size_t>(child)]);
                pos = child;
            }
            place(pos, last);
        }
        const int64_t du = up_dist_[static_cast<size_t>(u)];
        farthest = du;
        up_.push_back({u, tree, du});
        for (int64_t e = h.up_first[u]; e < h.up_first[u + 1]; ++e) {
            const int32_t x = h.up_head[e];
            const int64_t candidate = du + h.up_length[e];
            if (candidate >= up_dist_[static_cast<size_t>(x)]) continue;
            if (up_dist_[static_cast<size_t>(x)] == kUnreached<int64_t>) touched_.push_back(x);
            up_dist_[static_cast<size_t>(x)] = candidate;
            if (position_[static_cast<size_t>(x)] == 0) place(++count, x);
            climb(position_[static_cast<size_t>(x)]);
        }
    }
    for (const int32_t v : touched_) up_dist_[static_cast<size_t>(v)] = kUnreached<int64_t>;
    touched_.clear();
    return farthest < kUnreached<uint32_t>;
}

template <int K>
void PhastEngine::runTrees(int count, TreeFigures* figures) {
    PassSums<K> s;
    if (!wide_) {
        s = pass<K, uint32_t>(h_, labels_.get(), up_.data());
        // Were a distance of 2^32 - 1 or more cut to 32 bits, the first such
        // came from a tail labelled rightly, at a distance of at least
        // 2^32 - 1 less the longest arc, and counted in the largest.
        for (int t = 0; t < count && !wide_; ++t) wide_ = s.largest[t] + longest_down_ >= kUnreached<uint32_t>;
    }
    if (wide_) s = pass<K, int64_t>(h_, labels_.get(), up_.data());  // from now on in 64 bits
    for (int t = 0; t < count; ++t) {
        figures[t].reached = s.reached[t];
        figures[t].sum = static_cast<int128>((static_cast<uint128>(static_cast<uint64_t>(s.carries[t])) << 64) |
                                             static_cast<uint64_t>(s.low[t]));
        figures[t].largest = s.largest[t];
        figures[t].scans = s.scans[t];
    }
}

void PhastEngine::run(const int32_t* sources, int count, TreeFigures* figures) {
    assert(labels_ != nullptr && count >= 1 && count <= k_);
    up_.clear();
    for (int t = 0; t < count; ++t) {
        if (!searchUp(t, sources[t])) wide_ = true;
    }
    std::sort(up_.begin(), up_.end(), [](const UpLabel& a, const UpLabel& b) { return a.index < b.index; });
    up_.push_back({h_.nodes, 0, 0});  // past the last index: the pass never reaches it
    switch (k_) {
        case 1: runTrees<1>(count, figures); break;
        case 2: runTrees<2>(count, figures); break;
        case 4: runTrees<4>(count, figures); break;
        default: runTrees<8>(count, figures); break;
    }
}

int64_t PhastEngine::label(int tree, int32_t node) const {
    const size_t at = static_cast<size_t>(h_.index_of[node - 1]) * static_cast<size_t>(k_) + static_cast<size_t>(tree);
    if (wide_) {
        int64_t x;
        std::memcpy(&x, labels_.get() + at * sizeof x, sizeof x);
        return x >= kUnreached<int64_t> ? M : x;
    }
    uint32_t x;
    std::memcpy(&x, labels_.get() + at * sizeof x, sizeof x);
    return x >= kUnreached<uint32_t> ? M : int64_t{x};
}
