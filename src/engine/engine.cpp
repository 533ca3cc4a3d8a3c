// The Engine: its arrays for the table's widths, and the single-source run
// compiled once per instruction set and width.
#include "engine.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cassert>
#include <limits>

#include "base/harmonic.h"
#include "engine_arrays.h"
#include "engine_kernels.h"
#include "heap_scans.h"

namespace {

using engine::RunArrays;
using engine::RunMode;
using engine::RunResult;
using engine::WidthArrays;

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

// The 64-bit labels and keys, where a run prepared for the figures alone
// needs them only once its keys outgrow 32 bits.
void ensureWideKeyArrays(Engine::State& s) {
    const size_t n = static_cast<size_t>(s.table.layout.nodes);
    if (s.labels->size() == n && s.key64.size() == n + 2) return;
    assignOnLargePages(*s.labels, n, M);
    s.key64.assign(n + 2, 0);
    s.key64[0] = std::numeric_limits<int64_t>::min();  // below every key: climbs stop at the root
}

// The run's view of the arrays of width W.
template <typename W>
void pointRunAtArrays(Engine::State& s, WidthArrays<W>& a, const int32_t* first_arc, const typename W::Id* head,
                      const typename W::Length* length, typename W::Id* id) {
    using Key = typename W::Key;
    RunArrays<W>& r = a.run;
    if constexpr (engine::kKeys64<W>) {
        r.label = s.labels->data();
        r.key = s.key64.data();
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
    r.improving_head = s.improving_head.data();
    r.improving_key = a.improving_key.data();
    r.low = s.low.data();
    r.shadow_from = s.shadow_from;
    r.nodes = static_cast<int32_t>(s.table.layout.nodes);
    r.out = s.labels->data();
    r.reached = s.reached.data();
    r.observer = nullptr;
    r.counts = &s.counts;
}

template <typename W>
void prepareWidth(Engine::State& s, bool checked) {
    using Key = typename W::Key;
    const ArcLayout& layout = s.table.layout;
    const auto* block = static_cast<const unsigned char*>(s.table.block);
    const size_t n = static_cast<size_t>(layout.nodes);
    const size_t arc_room = static_cast<size_t>(layout.max_degree) + 1;
    WidthArrays<W>& a = s.arraysOf<W>();
    if constexpr (!engine::kKeys64<W>) {
        assignOnLargePages(a.label, n, std::numeric_limits<Key>::max());
        a.key.assign(n + 2, 0);
        a.key[0] = std::numeric_limits<Key>::min();  // below every key: climbs stop at the root
    }
    if constexpr (engine::kIds32<W>) {
        s.ids32.assign(n + 1 + engine::kScanPadding, 0);
        s.low.assign(n + 1 + engine::kScanPadding, 0);
    } else {
        a.id.assign(n + 1 + engine::kScanPadding, 0);
    }
    const auto* first_arc = reinterpret_cast<const int32_t*>(block + layout.point_offset);
    const auto* head = reinterpret_cast<const typename W::Id*>(block + layout.head_offset);
    const auto* length = reinterpret_cast<const typename W::Length*>(block + layout.length_offset);
    assert(n >= 1 || layout.arcs == 0);
    a.improving_key.assign(arc_room + engine::kFilterSpill, 0);
    typename W::Id* id = nullptr;
    if constexpr (engine::kIds32<W>) {
        id = s.ids32.data();
    } else {
        id = a.id.data();
    }
    pointRunAtArrays(s, a, first_arc, head, length, id);

    RunArrays<W>& r = a.run;
    r.fixed_slots = layout.fixed_slots;
    r.monotone = layout.bounds.min_length >= 0;
    r.offset = 0;
    r.last_safe_key = std::numeric_limits<Key>::max();
    if constexpr (!engine::kKeys64<W>) {
        const int64_t offset = std::numeric_limits<int32_t>::min() + layout.bounds.negative_reach;
        r.offset = static_cast<Key>(offset);
        if (checked) {
            r.last_safe_key = static_cast<Key>(std::numeric_limits<int32_t>::max() - 1 - layout.bounds.max_length);
        }
    }
    // Checked keys fall back on 64-bit ones over the same arc arrays and ids.
    if constexpr (engine::kHasFallback<W>) {
        if (checked) {
            WidthArrays<engine::Keys64Of<W>>& f = s.arraysOf<engine::Keys64Of<W>>();
            f.improving_key.assign(arc_room + engine::kFilterSpill, 0);
            pointRunAtArrays(s, f, first_arc, head, length, id);
            f.run.fixed_slots = r.fixed_slots;
            f.run.monotone = r.monotone;
            f.run.offset = 0;
        }
    }
}

// The run is compiled once for each instruction set and width, with
// everything it calls inlined (flatten): the scan and the vector filter then
// cost no call, and the run's registers stay live across them. The arrays'
// view comes by value: on the run's own stack it needs no register to be
// reached (through a reference, its address stayed live across the loop and
// pushed its counters out of registers: grids 3 % slower).
template <RunMode kMode, typename W>
__attribute__((flatten)) RunResult runPortable(RunArrays<W> a, int32_t source, int32_t previous) {
    return engine::runFrom<kMode, engine::PortableKernels>(a, source, previous);
}
#ifdef SPC_X86
template <RunMode kMode, typename W>
__attribute__((flatten)) RunResult runSse2(RunArrays<W> a, int32_t source, int32_t previous) {
    return engine::runFrom<kMode, engine::Sse2Kernels>(a, source, previous);
}
template <RunMode kMode, typename W>
SPC_TARGET_AVX2 __attribute__((flatten)) RunResult runAvx2(RunArrays<W> a, int32_t source, int32_t previous) {
    return engine::runFrom<kMode, engine::Avx2Kernels>(a, source, previous);
}
template <RunMode kMode, typename W>
SPC_TARGET_AVX512 __attribute__((flatten)) RunResult runAvx512(RunArrays<W> a, int32_t source, int32_t previous) {
    return engine::runFrom<kMode, engine::Avx512Kernels>(a, source, previous);
}
#endif

template <RunMode kMode, typename W>
RunResult runIn(InstructionSet set, const RunArrays<W>& a, int32_t source, int32_t previous) {
    switch (set) {
#ifdef SPC_X86
        case InstructionSet::sse2: return runSse2<kMode, W>(a, source, previous);
        case InstructionSet::avx2: return runAvx2<kMode, W>(a, source, previous);
        case InstructionSet::avx512: return runAvx512<kMode, W>(a, source, previous);
#endif
        default: return runPortable<kMode, W>(a, source, previous);
    }
}

template <RunMode kMode, typename W>
RunResult runWithFallback(Engine::State& s, int32_t source) {
    const RunResult result = runIn<kMode, W>(s.set, s.arraysOf<W>().run, source, s.previous);
    if (result.complete) return result;
    if constexpr (engine::kHasFallback<W>) {
        // Keys outgrew 32 bits: this source again, and the network's later
        // ones, in 64-bit keys, whose labels are the 64-bit labels
        // themselves. The stopped run listed the nodes it extracted (and,
        // keeping labels, wrote theirs), so the new run sets them back as it
        // starts; the 32-bit labels are not read again.
        s.widths.key_bits = 64;
        s.traced_steps.clear();
        ensureWideKeyArrays(s);
        RunArrays<engine::Keys64Of<W>>& wide = s.arraysOf<engine::Keys64Of<W>>().run;
        wide.label = s.labels->data();
        wide.key = s.key64.data();
        wide.out = s.labels->data();
        wide.observer = s.arraysOf<W>().run.observer;
        return runIn<kMode, engine::Keys64Of<W>>(s.set, wide, source, result.reached);
    }
    return result;
}

template <RunMode kMode>
const RunFigures& runFromSource(Engine::State& s, int32_t source) {
    // The run's contracts: a source of the network, arrays sized for it.
    assert(s.prepared && source >= 1 && source <= s.table.layout.nodes);
    RunResult result;
    const EngineWidths widths = s.widths;
    engine::forEachWidth([&](auto width, const EngineWidths& w) {
        if (w == widths) result = runWithFallback<kMode, decltype(width)>(s, source);
    });
    s.previous = result.reached;
    s.last = {source, result.reached, result.sum, result.scans, result.last};
    return s.last;
}

template <typename T>
void freeVector(T& v) {
    T().swap(v);  // `v = {}` would keep the memory
}

}  // namespace

Engine::Engine() : state_(std::make_unique<State>()) {}
Engine::~Engine() = default;

bool Engine::prepared() const { return state_->prepared; }
const RunFigures& Engine::figures() const { return state_->last; }
const std::vector<int64_t>& Engine::labels() const { return *state_->labels; }
EngineWidths Engine::widths() const { return state_->widths; }

void Engine::setInstructionSet(InstructionSet set) {
    state_->set = set;
    state_->set_chosen = true;
}

void Engine::setShadowFrom(int64_t heap_size) {
    state_->shadow_from = heap_size;
    state_->prepared = false;
}

void Engine::prepare(const ArcTable& table, EngineUse use, std::vector<int64_t>* labels) {
    State& s = *state_;
    s.table = table;
    const ArcLayout& layout = table.layout;
    const size_t n = static_cast<size_t>(layout.nodes);
    s.widths = layout.widths;
    const bool checked = keysChecked(s.widths, layout.bounds);
    s.figures_only = use == EngineUse::figures;
    if (!s.set_chosen) s.set = currentInstructionSet();
    if (labels != nullptr) freeVector(s.own_labels);
    s.labels = labels != nullptr ? labels : &s.own_labels;

    s.improving_head.assign(static_cast<size_t>(layout.max_degree) + 1 + engine::kFilterSpill, 0);
    freeVector(*s.labels);  // (the network's size may have changed)
    freeVector(s.key64);
    if (!(s.figures_only && s.widths.key_bits == 32)) ensureWideKeyArrays(s);  // else the labels are the width's own
    assignOnLargePages(s.reached, n, 0);
    s.previous = 0;
    s.last = {};
    s.arrays = {};
    freeVector(s.ids32);
    freeVector(s.low);
    engine::forEachWidth([&](auto width, const EngineWidths& w) {
        using W = decltype(width);
        if (!(w == s.widths)) return;
        prepareWidth<W>(s, checked);
        if (!s.figures_only) return;
        WidthArrays<W>& a = s.arraysOf<W>();
        releaseUntouchedPages(a.key.data(), a.key.size());
        releaseUntouchedPages(a.id.data(), a.id.size());
    });
    if (s.figures_only) {
        releaseUntouchedPages(s.ids32.data(), s.ids32.size());
        releaseUntouchedPages(s.key64.data(), s.key64.size());
        releaseUntouchedPages(s.low.data(), s.low.size());
    }
    s.prepared = true;
}

const RunFigures& Engine::run(int32_t source) {
    return state_->figures_only ? runFromSource<RunMode::figures>(*state_, source)
                                : runFromSource<RunMode::plain>(*state_, source);
}

const RunFigures& Engine::runTraced(int32_t source, const std::function<void(const std::vector<int32_t>&)>& observe) {
    State& s = *state_;
    assert(!s.figures_only);  // traced runs keep their labels
    s.traced_steps.clear();
    const std::function<void(const std::vector<int32_t>&)> record = [&s](const std::vector<int32_t>& h) {
        s.traced_steps.push_back(h);
    };
    engine::forEachWidth([&](auto width, const EngineWidths&) { s.arraysOf<decltype(width)>().run.observer = &record; });
    runFromSource<RunMode::traced>(s, source);
    engine::forEachWidth([&](auto width, const EngineWidths&) { s.arraysOf<decltype(width)>().run.observer = nullptr; });
    for (const std::vector<int32_t>& h : s.traced_steps) observe(h);
    s.traced_steps.clear();
    return s.last;
}

ScanTally Engine::runTallied(int32_t source) {
    State& s = *state_;
    assert(!s.figures_only);
    s.counts = {};
    runFromSource<RunMode::tallied>(s, source);
    return {s.counts.scans, s.counts.positions, s.counts.bytes};
}

int64_t Engine::largestLabel() const {
    const State& s = *state_;
    int64_t largest = 0;
    engine::forEachWidth([&](auto width, const EngineWidths& w) {
        using W = decltype(width);
        if (w == s.widths && s.last.reached > 0) {
            largest = engine::largestSettledLabel(s.arraysOf<W>().run, s.last.last, static_cast<int32_t>(s.last.reached));
        }
    });
    return largest;
}

double Engine::harmonicOfRun() const {
    const State& s = *state_;
    HarmonicSum sum;
    engine::forEachWidth([&](auto width, const EngineWidths& w) {
        using W = decltype(width);
        if (!(w == s.widths)) return;
        const auto& run = s.arraysOf<W>().run;
        for (int64_t i = 0; i < s.last.reached; ++i) {
            sum.add(static_cast<int64_t>(run.label[run.reached[i] - 1]) - static_cast<int64_t>(run.offset));
        }
    });
    return sum.value();
}

void Engine::release() {
    State& s = *state_;
    s.arrays = {};
    freeVector(s.improving_head);
    freeVector(s.reached);
    freeVector(*s.labels);
    freeVector(s.own_labels);
    s.labels = &s.own_labels;
    freeVector(s.key64);
    freeVector(s.ids32);
    freeVector(s.low);
    s.previous = 0;
    s.last = {};
    s.prepared = false;
}

namespace {

template <typename Id>
int32_t scanWith(InstructionSet set, const Id* ids, int32_t count, int32_t v) {
    switch (set) {
#ifdef SPC_X86
        case InstructionSet::sse2: return engine::scanSse2(ids, count, v);
        case InstructionSet::avx2: return engine::scanAvx2(ids, count, v);
        case InstructionSet::avx512: return engine::scanAvx512(ids, count, v);
#endif
        default: return engine::scanPortable(ids, count, v);
    }
}

}  // namespace

int32_t findInHeap(const int32_t* ids, int32_t count, int32_t v) {
    return scanWith(currentInstructionSet(), ids, count, v);
}
int32_t findInHeap(const uint16_t* ids, int32_t count, int32_t v) {
    return scanWith(currentInstructionSet(), ids, count, v);
}

int32_t findInShadowedHeap(const uint16_t* low, const int32_t* ids, int32_t count, int32_t v) {
    switch (currentInstructionSet()) {
#ifdef SPC_X86
        case InstructionSet::sse2: return engine::scanShadowedSse2(low, ids, count, v);
        case InstructionSet::avx2: return engine::scanShadowedAvx2(low, ids, count, v);
        case InstructionSet::avx512: return engine::scanShadowedAvx512(low, ids, count, v);
#endif
        default: return engine::scanShadowedPortable(low, ids, count, v);
    }
}

static_assert(kHeapScanPadding == engine::kScanPadding, "the scans' padding is the one the header promises");
