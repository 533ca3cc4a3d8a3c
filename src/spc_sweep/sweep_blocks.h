// How spc_sweep divides a sweep: the sources in blocks, each block run once
// per repetition (a unit of work), and the figures gathered from the units.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "state/program_state.h"

// Units are numbered repetition by repetition: unit = repetition * blocks +
// block. Blocks depend on the node count alone, so that a run resumed with
// another number of ranks finds the same blocks.
struct SweepPlan {
    int32_t nodes = 0;
    int32_t block_size = 1;  // sources per block; the last block may hold fewer
    int32_t blocks = 0;
    int repetitions = 1;

    int64_t units() const { return int64_t{blocks} * repetitions; }
    int32_t blockOf(int64_t unit) const { return static_cast<int32_t>(unit % blocks); }
    int repetitionOf(int64_t unit) const { return static_cast<int>(unit / blocks); }
    int32_t firstSource(int32_t block) const { return block * block_size + 1; }
    int32_t lastSource(int32_t block) const;
};

// Blocks of 1 to 64 sources: about 4,096 blocks, so that the ranks share the
// work evenly to its end and a resumed run repeats little.
SweepPlan planSweep(int32_t nodes, int repetitions);

// What one unit gave. `rank` says who ran it (-1: read from a checkpoint).
struct UnitRecord {
    int64_t unit = 0;
    int128 sum = 0;         // of the finite labels of the block's sources
    int64_t scans = 0;      // arcs examined
    uint64_t cpu_ns = 0;    // processor time of the block's single-source runs
    int rank = -1;
};

// Processor time of the calling thread in nanoseconds.
uint64_t threadCpuNs();

// Runs the sources of a unit over the loaded network (the engine prepared).
// `between`, when set, is called between two sources and is not timed.
UnitRecord runUnit(const SweepPlan& plan, int64_t unit, const std::function<void()>& between = {});

// The figures of a whole sweep gathered from its units, which may come in any
// order. Every repetition of a block must give the same sum and scans.
struct SweepTally {
    explicit SweepTally(const SweepPlan& plan);

    // Adds a unit's figures. Returns an empty string, or what disagrees: then
    // the record is not added.
    std::string add(const UnitRecord& record);
    bool has(int64_t unit) const { return done_[static_cast<size_t>(unit)]; }
    int64_t unitsDone() const { return units_done_; }
    bool complete() const { return units_done_ == plan_.units(); }

    // Of a complete tally: the sum of distances and the arcs examined by one
    // sweep, the processor time of all runs, and the time per sweep in
    // milliseconds as the console program writes it.
    int128 sum() const;
    int64_t scans() const;
    uint64_t cpuNs() const { return cpu_ns_; }
    float timePerSweep() const;

private:
    struct BlockFigures {
        bool known = false;
        int128 sum = 0;
        int64_t scans = 0;
        int64_t first_unit = 0;  // the unit that gave them
        int first_rank = -1;
    };
    SweepPlan plan_;
    std::vector<bool> done_;
    std::vector<BlockFigures> blocks_;
    int64_t units_done_ = 0;
    uint64_t cpu_ns_ = 0;
};

// Milliseconds per sweep from the processor time of all runs: whole
// milliseconds, divided by the repetitions in single precision (for four,
// the console program's times 0.25).
float timePerSweepMs(uint64_t cpu_ns, int repetitions);
