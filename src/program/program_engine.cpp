#include "program_engine.h"

#include <cassert>
#include <limits>

#include "engine/heap_primitives.h"

namespace {

struct ProgramEngine {
    Engine engine;
    LaidOutNetwork table;
    bool prepared = false;
    bool figures_only = false;
    uint64_t generation = 0;       // of the network prepared for
    uint64_t width_choice = 0;     // widthChoiceVersion() then
    int64_t shadow_from = kDefaultShadowFrom;
};

ProgramEngine& program() {
    static ProgramEngine p;
    return p;
}

bool preparedForTheLoadedNetwork() {
    const ProgramEngine& p = program();
    return p.prepared && p.generation == program_network.generation && p.width_choice == widthChoiceVersion();
}

// The heap's arrays hold positions 0..count, and the ids the scans' padding.
engine::IdSlots<int32_t> programHeap() { return {H.data()}; }

[[maybe_unused]] bool heapHasRoomFor(int64_t count) {
    return count >= 0 && static_cast<size_t>(count) + 2 <= H_key.size() &&
           static_cast<size_t>(count) + 1 + kHeapScanPadding <= H.size();
}

// What the run left, in the program's variables.
void takeFigures(const RunFigures& f) {
    settled_count = static_cast<int32_t>(f.reached);
    settled_sum = f.sum;
    deleted_node = f.last;
    trivial_triple_comparisons += f.scans;
    heap_count = 0;
}

void prepareIfNeeded(bool labels) {
    if (!preparedForTheLoadedNetwork() || (labels && program().figures_only)) prepareEngine();
    program().engine.setInstructionSet(currentInstructionSet());
}

}  // namespace

Engine& programEngine() { return program().engine; }

Engine& preparedProgramEngine() {
    prepareIfNeeded(false);
    return program().engine;
}
EngineWidths engineWidthsInUse() { return program().engine.widths(); }

void prepareEngine(EngineUse use) {
    ProgramEngine& p = program();
    layOut(program_network, p.table);
    p.engine.setShadowFrom(p.shadow_from);
    p.engine.prepare({p.table.layout, p.table.block.data()}, use, &d);
    p.figures_only = use == EngineUse::figures;
    p.generation = program_network.generation;
    p.width_choice = widthChoiceVersion();
    p.prepared = true;
    const size_t n = static_cast<size_t>(num_nodes > 0 ? num_nodes : 0);
    if (use == EngineUse::labels) {
        H.assign(n + 1 + kHeapScanPadding, 0);
        H_key.assign(n + 2, 0);
        H_key[0] = std::numeric_limits<int64_t>::min();  // below every key: climbs stop at the root
    } else {
        AlignedVector<int32_t>().swap(H);
        std::vector<int64_t>().swap(H_key);
    }
    heap_count = 0;
    settled_count = 0;
}

void resetEngine() { program().prepared = false; }

void releaseEngine() {
    ProgramEngine& p = program();
    p.engine.release();
    p.table = {};
    p.prepared = false;
    AlignedVector<int32_t>().swap(H);
    std::vector<int64_t>().swap(H_key);
    std::vector<int64_t>().swap(d);
    heap_count = 0;
    settled_count = 0;
}

void setShadowFrom(int64_t heap_size) {
    program().shadow_from = heap_size;
    resetEngine();
}

void heap() {
    prepareIfNeeded(false);
    takeFigures(program().engine.run(user_source_node));
}

void heapTraced(const std::function<void(const std::vector<int32_t>&)>& observe) {
    prepareIfNeeded(true);
    takeFigures(program().engine.runTraced(user_source_node, observe));
}

ScanTally heapTallied() {
    prepareIfNeeded(true);
    const ScanTally tally = program().engine.runTallied(user_source_node);
    takeFigures(program().engine.figures());
    return tally;
}

int64_t largestLabelOfLastRun() { return program().engine.largestLabel(); }

void minHeapify(int32_t i, int32_t k) {
    assert(i >= 1 && heapHasRoomFor(k));
    engine::siftDown(programHeap(), H_key.data(), i, k);
}

void decreaseKey(int32_t i, int64_t key) {
    assert(i >= 1 && i <= heap_count && heapHasRoomFor(heap_count));
    const int32_t v = H[static_cast<size_t>(i)];
    d[static_cast<size_t>(v) - 1] = key;
    engine::climb(programHeap(), H_key.data(), i, v, key);
}

void insertNode(int32_t v, int64_t key) {
    assert(v >= 1 && v <= num_nodes && heapHasRoomFor(heap_count + 1));
    ++heap_count;
    H[static_cast<size_t>(heap_count)] = v;
    decreaseKey(heap_count, key);
}

int32_t extractMin() {
    assert(heap_count >= 1 && heapHasRoomFor(heap_count));
    int32_t* id = H.data();
    int64_t* key = H_key.data();
    const int32_t root = id[1];
    id[1] = id[heap_count];
    key[1] = key[heap_count];
    --heap_count;
    engine::siftDownFromRoot(programHeap(), key, heap_count);
    return root;
}

int32_t heapPosition(int32_t v) {
    assert(heapHasRoomFor(heap_count));
    return findInHeap(H.data(), heap_count, v);
}
