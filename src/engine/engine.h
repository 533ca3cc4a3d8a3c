// The shortest-path engine as a value: one Engine holds a run's own state
// (labels, heap, list of reached nodes, counters) over an arc table it is
// given and never writes. Engines are independent of each other: many may
// run at once, on different threads, over one table, each in the widths of
// that table and the instruction set it was prepared with.
//
// Life cycle:
//
//   Engine engine;
//   engine.prepare(table);       // sizes its arrays for the table's network
//   engine.run(s);               // a run from source s
//   engine.figures();            // what the last run gave
//   engine.labels();             // its labels (EngineUse::labels)
//   engine.release();            // gives every array back (the destructor too)
//
// run(s) is the whole of a single-source run: labels set, the source put in
// the heap, the heap emptied. The runs are the binary-heap label-setting
// method step by step (the same heap after every operation, the same labels;
// see single_source_run.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "arc_layout.h"
#include "base/integers.h"
#include "engine_widths.h"
#include "instruction_sets.h"

// What runs leave: labels (the console program, the tests), or the figures
// alone (spc_sweep's ranks: no 64-bit labels where the keys are narrower, and
// the heap's arrays take memory only as far as runs fill them).
enum class EngineUse { labels, figures };

// The arc table an engine runs over: its layout, and the block that holds
// it (written by writeArcLayout). Runs read it, never write it; it must stay
// until every engine over it is prepared again or released.
struct ArcTable {
    ArcLayout layout;
    const void* block = nullptr;
};

// What a run gave.
struct RunFigures {
    int32_t source = 0;
    int64_t reached = 0;  // nodes it settled, the source included
    int128 sum = 0;       // of their labels: the finite labels
    int64_t scans = 0;    // arcs examined
    int32_t last = 0;     // the node settled last
};

// What the heap scans of a run read: scans, positions and bytes, counted
// from the heap's end down to the position found.
struct ScanTally {
    int64_t scans = 0;
    int64_t positions = 0;
    int64_t bytes = 0;
};

// With 32-bit ids, a run whose heap grows past this many nodes keeps the low
// halves of the heap's ids beside it, and its scans read those.
constexpr int64_t kDefaultShadowFrom = 4096;

class Engine {
public:
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Sizes the arrays for the table's network, every label unreached, in the
    // table's widths and the instruction set chosen (setInstructionSet, or
    // the process's: currentInstructionSet()). With EngineUse::labels the
    // labels go to `labels` when given (sized here), else to the engine's own.
    void prepare(const ArcTable& table, EngineUse use = EngineUse::labels, std::vector<int64_t>* labels = nullptr);
    bool prepared() const;

    // A run from source (1..nodes). Precondition: prepared.
    const RunFigures& run(int32_t source);
    // The same, calling observe with the heap's ids at positions 1..count
    // after every heap operation (the source's insertion, each extraction
    // with its sift, each insertion and decrease).
    const RunFigures& runTraced(int32_t source, const std::function<void(const std::vector<int32_t>&)>& observe);
    // The same, counting what its heap scans read; slower, for benchmarks.
    ScanTally runTallied(int32_t source);

    // Of the last run: its figures; its labels (EngineUse::labels: M for a
    // node not reached); the largest label (0 for a source that reaches only
    // itself), worked out on demand.
    const RunFigures& figures() const;
    const std::vector<int64_t>& labels() const;
    int64_t largestLabel() const;
    // The sum of 1/d over the nodes the last run reached at a distance d > 0
    // (base/harmonic.h: the same bits whatever the order), worked out on demand.
    double harmonicOfRun() const;

    // The widths runs take now: the table's, with 64-bit keys once a run of
    // checked 32-bit keys outgrew them (see engine_widths.h).
    EngineWidths widths() const;

    // The instruction set runs take from now on (precondition: supported);
    // and, for the next prepare, the heap size from which runs keep the
    // ids' low halves.
    void setInstructionSet(InstructionSet set);
    void setShadowFrom(int64_t heap_size);

    // Gives back every array; prepare() makes it usable again.
    void release();

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Scans of a heap of ids at positions 1..count for node v with the current
// instruction set: the first position that holds v, 0 when none does. The
// array needs kHeapScanPadding entries after position count: the vector
// scans read them, and ignore what they hold. On a cache line (an
// AlignedVector) it is read fastest.
constexpr size_t kHeapScanPadding = 128;
int32_t findInHeap(const int32_t* ids, int32_t count, int32_t v);
int32_t findInHeap(const uint16_t* ids, int32_t count, int32_t v);
// The same over a heap of 32-bit ids whose low halves are kept in `low`
// (aligned and padded alike): the scan reads the halves and checks each
// candidate's full id.
int32_t findInShadowedHeap(const uint16_t* low, const int32_t* ids, int32_t count, int32_t v);
