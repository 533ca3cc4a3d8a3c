// The engine's arrays for the chosen widths, and the single-source run
// compiled once per instruction set and width.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <iterator>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "arc_layout.h"
#include "engine_kernels.h"
#include "engine_widths.h"
#include "shortest_path.h"
#include "single_source_run.h"

namespace {

// The types of the I-th entry of kEngineWidths: ids unsigned (16 bits hold
// 65,535 nodes), keys and lengths signed.
template <int Bits, bool Signed>
using IntOf = std::conditional_t<Bits == 16, std::conditional_t<Signed, int16_t, uint16_t>,
                                 std::conditional_t<Bits == 32, int32_t, int64_t>>;
template <size_t I>
using WidthTypes = engine::Widths<IntOf<kEngineWidths[I].id_bits, false>, IntOf<kEngineWidths[I].key_bits, true>,
                                  IntOf<kEngineWidths[I].length_bits, true>>;

// One width's arrays and the run's view of them. 64-bit keys use the
// program's labels d and heap keys H_key, 32-bit ids its heap H; the rest
// are the width's own. The arc table is read from the layout's block.
template <typename W>
struct WidthArrays {
    std::vector<typename W::Key> label;
    AlignedVector<typename W::Id> id;
    std::vector<typename W::Key> key;
    std::vector<typename W::Key> improving_key;
    engine::RunArrays<W> run{};
};

template <typename W>
WidthArrays<W>& arraysOf() {
    static WidthArrays<W> arrays;
    return arrays;
}

// The 64-bit-key width over the same ids and lengths, which checked 32-bit
// keys fall back on. 16-bit ids and lengths never need checked keys.
template <typename W>
using Keys64Of = engine::Widths<typename W::Id, int64_t, typename W::Length>;
template <typename W>
constexpr bool kHasFallback =
    sizeof(typename W::Key) == 4 && !(sizeof(typename W::Id) == 2 && sizeof(typename W::Length) == 2);

// Heads of the filter's list, sized for the largest out-degree.
std::vector<int32_t> improving_head;

// With 32-bit ids, the low halves of the heap's ids, kept by runs whose heap
// grew past shadow_from nodes. Below that size the heap's ids are read from
// the first levels of the cache, and keeping a second copy costs more than
// reading half the bytes saves.
AlignedVector<uint16_t> heap_low;
int64_t shadow_from = kDefaultShadowFrom;

EngineWidths widths_in_use{32, 64, 32};
// prepareEngine() ran for the network of this generation (see program_state.h).
bool engine_prepared = false;
uint64_t prepared_generation = 0;

bool enginePrepared() { return engine_prepared && prepared_generation == network_generation; }

// The console program's own block for the arc table; spc_sweep's ranks read
// one they share instead.
AlignedVector<unsigned char> own_block;

// Prepared for the figures alone (EngineUse::figures): no labels in d.
bool figures_only = false;

// Gives back the pages of a zero-filled heap array that no run has written
// yet: they read as zeros again, and cost memory only once a run writes
// them. The heap's arrays are sized for every node, but most runs fill a
// part. Position 0, which may hold a sentinel, stays.
template <typename T>
void releaseUntouchedPages(T* data, size_t count) {
    if (count < 2) return;
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<uintptr_t>(data + 1) + page - 1) / page * page;
    const auto end = reinterpret_cast<uintptr_t>(data + count) / page * page;
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

// Large arrays that runs read at random (labels, the arc table) on 2 MiB
// pages where the kernel gives them (asked for before the first write), so
// that the addresses of millions of nodes fit the translation buffers.
template <typename Vector>
void assignOnLargePages(Vector& v, size_t n, typename Vector::value_type value) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
    if (v.capacity() < n && n * sizeof(value) >= 2 * kLargePage) {
        Vector().swap(v);
        v.reserve(n);
        const auto begin = (reinterpret_cast<uintptr_t>(v.data()) + kLargePage - 1) / kLargePage * kLargePage;
        const auto end = reinterpret_cast<uintptr_t>(v.data() + n) / kLargePage * kLargePage;
        if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#endif
    v.assign(n, value);
}

// The 64-bit labels and keys, where a run prepared for the figures alone
// needs them only once its keys outgrow 32 bits.
void ensureWideKeyArrays() {
    const size_t n = static_cast<size_t>(num_nodes);
    if (d.size() == n && H_key.size() == n + 2) return;
    assignOnLargePages(d, n, M);
    H_key.assign(n + 2, 0);
    H_key[0] = std::numeric_limits<int64_t>::min();  // below every key: climbs stop at the root
}

template <typename W>
constexpr bool kKeys64 = sizeof(typename W::Key) == sizeof(int64_t);
template <typename W>
constexpr bool kIds32 = sizeof(typename W::Id) == sizeof(int32_t);

// The run's view of the arrays of width W, and of the program's.
template <typename W>
void pointRunAtArrays(WidthArrays<W>& a, const int32_t* first_arc, const typename W::Id* head,
                      const typename W::Length* length, typename W::Id* id) {
    using Key = typename W::Key;
    engine::RunArrays<W>& r = a.run;
    if constexpr (kKeys64<W>) {
        r.label = d.data();
        r.key = H_key.data();
        r.unreached = M;
    } else {
        r.label = a.label.data();
        r.key = a.key.data();
        r.unreached = std::numeric_limits<Key>::max();
    }
    r.id = id;
    r.first_arc = first_arc;
    r.head = head;
    r.length = length;
    r.improving_head = improving_head.data();
    r.improving_key = a.improving_key.data();
    r.low = heap_low.data();
    r.shadow_from = shadow_from;
}

template <typename W>
void prepareWidth(const ArcLayout& layout, const unsigned char* block, bool checked) {
    using Key = typename W::Key;
    const size_t n = static_cast<size_t>(layout.nodes);
    const size_t arc_room = static_cast<size_t>(layout.max_degree) + 1;
    const NetworkBounds& bounds = layout.bounds;
    WidthArrays<W>& a = arraysOf<W>();
    if constexpr (!kKeys64<W>) {
        assignOnLargePages(a.label, n, std::numeric_limits<Key>::max());
        a.key.assign(n + 2, 0);
        a.key[0] = std::numeric_limits<Key>::min();  // below every key: climbs stop at the root
    }
    if constexpr (kIds32<W>) {
        heap_low.assign(n + 1 + engine::kScanPadding, 0);
    } else {
        a.id.assign(n + 1 + engine::kScanPadding, 0);
    }
    const auto* first_arc = reinterpret_cast<const int32_t*>(block + layout.point_offset);
    const auto* head = reinterpret_cast<const typename W::Id*>(block + layout.head_offset);
    const auto* length = reinterpret_cast<const typename W::Length*>(block + layout.length_offset);
    assert(n >= 1 || layout.arcs == 0);
    a.improving_key.assign(arc_room + engine::kFilterSpill, 0);
    typename W::Id* id = nullptr;
    if constexpr (kIds32<W>) {
        id = H.data();
    } else {
        id = a.id.data();
    }
    pointRunAtArrays(a, first_arc, head, length, id);

    engine::RunArrays<W>& r = a.run;
    r.fixed_slots = layout.fixed_slots;
    r.monotone = bounds.min_length >= 0;
    r.offset = 0;
    r.last_safe_key = std::numeric_limits<Key>::max();
    if constexpr (!kKeys64<W>) {
        const int64_t offset = std::numeric_limits<int32_t>::min() + bounds.negative_reach;
        r.offset = static_cast<Key>(offset);
        if (checked) r.last_safe_key = static_cast<Key>(std::numeric_limits<int32_t>::max() - 1 - bounds.max_length);
    }
    // Checked keys fall back on 64-bit ones over the same arc arrays and ids.
    if constexpr (kHasFallback<W>) {
        if (checked) {
            WidthArrays<Keys64Of<W>>& f = arraysOf<Keys64Of<W>>();
            f.improving_key.assign(arc_room + engine::kFilterSpill, 0);
            pointRunAtArrays(f, first_arc, head, length, id);
            f.run.fixed_slots = r.fixed_slots;
            f.run.monotone = r.monotone;
            f.run.offset = 0;
        }
    }
}

template <typename W>
void releaseWidth() {
    arraysOf<W>() = WidthArrays<W>{};
}

// Calls f with an empty value of each compiled width's types and its widths.
template <typename F, size_t... I>
void forEachWidthIn(F f, std::index_sequence<I...>) {
    (f(WidthTypes<I>{}, kEngineWidths[I]), ...);
}
template <typename F>
void forEachWidth(F f) {
    forEachWidthIn(f, std::make_index_sequence<std::size(kEngineWidths)>{});
}

// The run is compiled once for each instruction set and width, with
// everything it calls inlined (flatten): the scan and the vector filter then
// cost no call, and the run's registers stay live across them.
template <engine::RunMode kMode, typename W>
__attribute__((flatten)) bool runPortable() {
    return engine::runFrom<kMode, engine::PortableKernels>(arraysOf<W>().run);
}
#ifdef SPC_X86
template <engine::RunMode kMode, typename W>
__attribute__((flatten)) bool runSse2() {
    return engine::runFrom<kMode, engine::Sse2Kernels>(arraysOf<W>().run);
}
template <engine::RunMode kMode, typename W>
SPC_TARGET_AVX2 __attribute__((flatten)) bool runAvx2() {
    return engine::runFrom<kMode, engine::Avx2Kernels>(arraysOf<W>().run);
}
template <engine::RunMode kMode, typename W>
SPC_TARGET_AVX512 __attribute__((flatten)) bool runAvx512() {
    return engine::runFrom<kMode, engine::Avx512Kernels>(arraysOf<W>().run);
}
#endif

template <engine::RunMode kMode, typename W>
bool runIn(InstructionSet set) {
    switch (set) {
#ifdef SPC_X86
        case InstructionSet::sse2: return runSse2<kMode, W>();
        case InstructionSet::avx2: return runAvx2<kMode, W>();
        case InstructionSet::avx512: return runAvx512<kMode, W>();
#endif
        default: return runPortable<kMode, W>();
    }
}

// The steps of a traced run, shown once it is complete.
std::vector<std::vector<int32_t>> traced_steps;

template <engine::RunMode kMode, typename W>
void runWithFallback(InstructionSet set) {
    if (runIn<kMode, W>(set)) return;
    if constexpr (kHasFallback<W>) {
        // Keys outgrew 32 bits: this source again, and the network's later
        // ones, in 64-bit keys, whose labels are d itself. The stopped run
        // copied into d the labels of the nodes it extracted and listed them
        // in settled, so the new run sets them back as it starts; the 32-bit
        // labels are not read again.
        widths_in_use.key_bits = 64;
        traced_steps.clear();
        ensureWideKeyArrays();
        engine::RunArrays<Keys64Of<W>>& wide = arraysOf<Keys64Of<W>>().run;
        wide.label = d.data();
        wide.key = H_key.data();
        runIn<kMode, Keys64Of<W>>(set);
    }
}

template <engine::RunMode kMode>
void runFromSource() {
    // The run's contracts: a source of the network, arrays sized for it.
    assert(user_source_node >= 1 && user_source_node <= num_nodes);
    [[maybe_unused]] const size_t n = static_cast<size_t>(num_nodes);
    assert(settled.size() == n && H.size() == n + 1 + engine::kScanPadding);
    assert(kMode == engine::RunMode::figures || (d.size() == n && H_key.size() == n + 2));
    const InstructionSet set = currentInstructionSet();
    const EngineWidths widths = widths_in_use;
    forEachWidth([&](auto width, const EngineWidths& w) {
        if (w == widths) runWithFallback<kMode, decltype(width)>(set);
    });
}

}  // namespace

EngineWidths engineWidthsInUse() { return widths_in_use; }

void resetEngine() { engine_prepared = false; }

void setShadowFrom(int64_t heap_size) {
    shadow_from = heap_size;
    resetEngine();
}

void prepareEngine(EngineUse use) {
    const ArcLayout layout = planArcLayout();
    assignOnLargePages(own_block, layout.bytes, 0);
    writeArcLayout(layout, own_block.data());
    prepareEngineOver(layout, own_block.data(), use);
}

void prepareEngineOver(const ArcLayout& layout, const void* block, EngineUse use) {
    const size_t n = static_cast<size_t>(layout.nodes);
    const size_t arc_room = static_cast<size_t>(layout.max_degree) + 1;
    widths_in_use = layout.widths;
    const bool checked = keysChecked(widths_in_use, layout.bounds);
    figures_only = use == EngineUse::figures;

    improving_head.assign(arc_room + engine::kFilterSpill, 0);
    if (figures_only && widths_in_use.key_bits == 32) {
        std::vector<int64_t>().swap(d);  // 32-bit keys: the labels are the width's own
        std::vector<int64_t>().swap(H_key);
    } else {
        std::vector<int64_t>().swap(d);  // (the network's size may have changed)
        ensureWideKeyArrays();
    }
    H.assign(n + 1 + engine::kScanPadding, 0);
    assignOnLargePages(settled, n, 0);
    settled_count = 0;
    heap_count = 0;
    forEachWidth([&](auto width, const EngineWidths&) { releaseWidth<decltype(width)>(); });
    heap_low.clear();
    forEachWidth([&](auto width, const EngineWidths& w) {
        using W = decltype(width);
        if (!(w == widths_in_use)) return;
        prepareWidth<W>(layout, static_cast<const unsigned char*>(block), checked);
        if (!figures_only) return;
        WidthArrays<W>& a = arraysOf<W>();
        releaseUntouchedPages(a.key.data(), a.key.size());
        releaseUntouchedPages(a.id.data(), a.id.size());
    });
    if (figures_only) {
        releaseUntouchedPages(H.data(), H.size());
        releaseUntouchedPages(H_key.data(), H_key.size());
        releaseUntouchedPages(heap_low.data(), heap_low.size());
    }
    engine_prepared = true;
    prepared_generation = network_generation;
}

void releaseEngine() {
    forEachWidth([&](auto width, const EngineWidths&) { releaseWidth<decltype(width)>(); });
    // Swapped with empty ones: `v = {}` would keep their memory.
    std::vector<int32_t>().swap(improving_head);
    std::vector<int32_t>().swap(settled);
    std::vector<int64_t>().swap(d);
    std::vector<int64_t>().swap(H_key);
    AlignedVector<int32_t>().swap(H);
    AlignedVector<uint16_t>().swap(heap_low);
    AlignedVector<unsigned char>().swap(own_block);
    settled_count = 0;
    heap_count = 0;
    engine_prepared = false;
}

int64_t largestLabelOfLastRun() {
    int64_t largest = 0;
    forEachWidth([&](auto width, const EngineWidths& w) {
        using W = decltype(width);
        if (w == widths_in_use) largest = engine::largestSettledLabel(arraysOf<W>().run, deleted_node, settled_count);
    });
    return largest;
}

void heap() {
    if (!enginePrepared()) prepareEngine();
    if (figures_only) {
        runFromSource<engine::RunMode::figures>();
    } else {
        runFromSource<engine::RunMode::plain>();
    }
}

ScanTally heapTallied() {
    if (!enginePrepared() || figures_only) prepareEngine();
    engine::scan_counts = {};
    runFromSource<engine::RunMode::tallied>();
    return {engine::scan_counts.scans, engine::scan_counts.positions, engine::scan_counts.bytes};
}

void heapTraced(const std::function<void(const std::vector<int32_t>&)>& observe) {
    if (!enginePrepared() || figures_only) prepareEngine();
    traced_steps.clear();
    const std::function<void(const std::vector<int32_t>&)> record = [](const std::vector<int32_t>& h) {
        traced_steps.push_back(h);
    };
    engine::heap_observer = &record;
    runFromSource<engine::RunMode::traced>();
    engine::heap_observer = nullptr;
    for (const std::vector<int32_t>& h : traced_steps) observe(h);
    traced_steps.clear();
}
