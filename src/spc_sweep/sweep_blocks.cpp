#include "sweep_blocks.h"

#include <algorithm>
#include <ctime>

#include "engine/shortest_path.h"
#include "report/report.h"

namespace {

constexpr int32_t kTargetBlocks = 4096;
constexpr int32_t kLargestBlock = 64;

std::string describe(const SweepPlan& plan, int64_t unit, int rank) {
    std::string who = rank < 0 ? "read from the checkpoint" : "run by rank " + std::to_string(rank);
    return "repetition " + std::to_string(plan.repetitionOf(unit) + 1) + " (" + who + ")";
}

}  // namespace

int32_t SweepPlan::lastSource(int32_t block) const {
    return static_cast<int32_t>(std::min<int64_t>(int64_t{block + 1} * block_size, nodes));
}

SweepPlan planSweep(int32_t nodes, int repetitions) {
    SweepPlan plan;
    plan.nodes = nodes;
    plan.repetitions = repetitions;
    plan.block_size = std::clamp((nodes + kTargetBlocks - 1) / kTargetBlocks, 1, kLargestBlock);
    plan.blocks = nodes < 1 ? 0 : (nodes - 1) / plan.block_size + 1;
    return plan;
}

uint64_t threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

UnitRecord runUnit(const SweepPlan& plan, int64_t unit, const std::function<void()>& between) {
    UnitRecord record;
    record.unit = unit;
    const int32_t block = plan.blockOf(unit);
    const int32_t first = plan.firstSource(block), last = plan.lastSource(block);
    for (int32_t s = first; s <= last; ++s) {
        const int64_t scans_before = trivial_triple_comparisons;
        const uint64_t start = threadCpuNs();
        user_source_node = s;
        heap();
        record.cpu_ns += threadCpuNs() - start;
        record.sum += settled_sum;
        record.scans += trivial_triple_comparisons - scans_before;
        if (between && s < last) between();
    }
    return record;
}

SweepTally::SweepTally(const SweepPlan& plan)
    : plan_(plan), done_(static_cast<size_t>(plan.units()), false), blocks_(static_cast<size_t>(plan.blocks)) {}

std::string SweepTally::add(const UnitRecord& record) {
    if (record.unit < 0 || record.unit >= plan_.units()) return "unit " + std::to_string(record.unit) + " is out of range";
    if (done_[static_cast<size_t>(record.unit)]) return {};  // already counted
    const int32_t block = plan_.blockOf(record.unit);
    BlockFigures& b = blocks_[static_cast<size_t>(block)];
    if (b.known && (b.sum != record.sum || b.scans != record.scans)) {
        return "the repetitions disagree on sources " + std::to_string(plan_.firstSource(block)) + ".." +
               std::to_string(plan_.lastSource(block)) + ": " + describe(plan_, b.first_unit, b.first_rank) +
               " gave sum " + formatInteger(b.sum) + " and " + std::to_string(b.scans) + " arc scans, " +
               describe(plan_, record.unit, record.rank) + " gave sum " + formatInteger(record.sum) + " and " +
               std::to_string(record.scans) + "; a machine may be at fault, so no figure is reported";
    }
    if (!b.known) b = {true, record.sum, record.scans, record.unit, record.rank};
    done_[static_cast<size_t>(record.unit)] = true;
    ++units_done_;
    cpu_ns_ += record.cpu_ns;
    return {};
}

int128 SweepTally::sum() const {
    int128 total = 0;
    for (const BlockFigures& b : blocks_) total += b.sum;
    return total;
}

int64_t SweepTally::scans() const {
    int64_t total = 0;
    for (const BlockFigures& b : blocks_) total += b.scans;
    return total;
}

float SweepTally::timePerSweep() const { return timePerSweepMs(cpu_ns_, plan_.repetitions); }

float timePerSweepMs(uint64_t cpu_ns, int repetitions) {
    const uint64_t ms = cpu_ns / 1000000u;
    return static_cast<float>(ms) / static_cast<float>(repetitions);
}
