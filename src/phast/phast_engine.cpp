#include "phast_engine.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>
#include <type_traits>

#include "base/harmonic.h"
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
    // The sums of 1/d over d > 0 (base/harmonic.h) in four limbs of 32 bits,
    // each summed in 64: no carries to take while the pass runs.
    UnsignedLanes<K> h0{}, h1{}, h2{}, h3{};
};

// The lanes (each below 2^63) as doubles, each rounded as a conversion
// rounds it: its two halves convert exactly (a half or'ed into the
// significand of 2^52), and the one addition rounds. Without AVX-512DQ a
// conversion of 64-bit lanes would go lane by lane.
template <int K, typename Doubles>
inline void lanesAsDoubles(const UnsignedLanes<K>& x, Doubles& out) {
    const uint64_t two52 = 0x4330000000000000u;  // the bits of 2^52
    const Doubles high = reinterpret_cast<Doubles>((x >> 32) | two52) - 0x1p52;
    const Doubles low = reinterpret_cast<Doubles>((x & 0xffffffffu) | two52) - 0x1p52;
    out = high * 0x1p32 + low;  // the product is exact
}

// Adds 1/d for each lane whose distance d is counted (`counted`: -1).
template <int K>
inline void addHarmonic(const Lanes<K>& distance, const Lanes<K>& counted, PassSums<K>& s) {
    typedef double Doubles __attribute__((vector_size(8 * K)));
    // Bitwise selections and arithmetic alone: vector conditions and
    // comparisons of 64-bit lanes went lane by lane without AVX-512DQ.
    const UnsignedLanes<K> keep = reinterpret_cast<UnsignedLanes<K>>(counted);
    const UnsignedLanes<K> d = (reinterpret_cast<UnsignedLanes<K>>(distance) & keep) | (~keep & 1u);  // 1 elsewhere
    Doubles t;
    lanesAsDoubles<K, Doubles>(d, t);
    t = 1.0 / t;
    const UnsignedLanes<K> bits = reinterpret_cast<UnsignedLanes<K>>(t);
    const UnsignedLanes<K> m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const UnsignedLanes<K> shift = (bits >> 52) - (1023 - 68);  // 5..68, as HarmonicSum::term
    const UnsignedLanes<K> left = m << (shift & 63);
    const UnsignedLanes<K> below = ((shift >> 6) & 1u) - 1u;  // all ones where the shift stays below 64
    const UnsignedLanes<K> low = left & below & keep;
    const UnsignedLanes<K> high = (((m >> ((64 - shift) & 63)) & below) | (left & ~below)) & keep;
    s.h0 += low;
    const UnsignedLanes<K> t1 = high - (s.h0 < low);  // a carry adds 1 (a true lane is -1)
    s.h1 += t1;
    s.h2 -= s.h1 < t1;
}

// The downward pass of K trees: every node, in index order, takes the least
// of its upward labels (`up`, sorted by index and ended by an entry of index
// n) and its downward arcs' tails' labels plus their lengths.
template <int K, typename Label, bool Harmonic>
inline void downwardPass(const HierarchyView& h, unsigned char* __restrict labels, const UpLabel* up, PassSums<K>& sums) {
    PassSums<K> s = sums;  // in registers: the labels' stores could otherwise alias them
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
        if constexpr (Harmonic) addHarmonic<K>(lab, reached & (lab > 0), s);
    }
    sums = s;
}

// Compiled once per instruction set, everything inlined; with the harmonic
// sums (a division a node and tree) only where they are wanted.
template <int K, typename Label, bool Harmonic>
__attribute__((flatten)) void passPortable(const HierarchyView& h, unsigned char* labels, const UpLabel* up, PassSums<K>& s) {
    downwardPass<K, Label, Harmonic>(h, labels, up, s);
}
#ifdef SPC_X86
template <int K, typename Label, bool Harmonic>
SPC_TARGET_AVX2 __attribute__((flatten)) void passAvx2(const HierarchyView& h, unsigned char* labels, const UpLabel* up,
                                                       PassSums<K>& s) {
    downwardPass<K, Label, Harmonic>(h, labels, up, s);
}
template <int K, typename Label, bool Harmonic>
SPC_TARGET_AVX512 __attribute__((flatten)) void passAvx512(const HierarchyView& h, unsigned char* labels, const UpLabel* up,
                                                           PassSums<K>& s) {
    downwardPass<K, Label, Harmonic>(h, labels, up, s);
}
#endif

template <int K, typename Label, bool Harmonic>
PassSums<K> passOf(const HierarchyView& h, unsigned char* labels, const UpLabel* up) {
    PassSums<K> s;
    switch (currentInstructionSet()) {
#ifdef SPC_X86
        case InstructionSet::avx512: passAvx512<K, Label, Harmonic>(h, labels, up, s); break;
        case InstructionSet::avx2: passAvx2<K, Label, Harmonic>(h, labels, up, s); break;
#endif
        default: passPortable<K, Label, Harmonic>(h, labels, up, s); break;
    }
    return s;
}

template <int K, typename Label>
PassSums<K> pass(const HierarchyView& h, unsigned char* labels, const UpLabel* up, bool harmonic) {
    return harmonic ? passOf<K, Label, true>(h, labels, up) : passOf<K, Label, false>(h, labels, up);
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
        s = pass<K, uint32_t>(h_, labels_.get(), up_.data(), harmonic_);
        // Were a distance of 2^32 - 1 or more cut to 32 bits, the first such
        // came from a tail labelled rightly, at a distance of at least
        // 2^32 - 1 less the longest arc, and counted in the largest.
        for (int t = 0; t < count && !wide_; ++t) wide_ = s.largest[t] + longest_down_ >= kUnreached<uint32_t>;
    }
    if (wide_) s = pass<K, int64_t>(h_, labels_.get(), up_.data(), harmonic_);  // from now on in 64 bits
    for (int t = 0; t < count; ++t) {
        figures[t].reached = s.reached[t];
        figures[t].sum = static_cast<int128>((static_cast<uint128>(static_cast<uint64_t>(s.carries[t])) << 64) |
                                             static_cast<uint64_t>(s.low[t]));
        figures[t].largest = s.largest[t];
        figures[t].scans = s.scans[t];
        figures[t].harmonic = harmonic_ ? HarmonicSum{s.h0[t], s.h1[t], s.h2[t]}.value() : -1;
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
