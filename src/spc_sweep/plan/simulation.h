// A run of the tool's own plan and hand-out on any number of ranks, with the
// single-source runs replaced by given times: what the wall-clock time of a
// run would be, without running it. spc_sweep --estimate predicts with it;
// a benchmark compares plans with it.
#pragma once

#include <cstdint>
#include <functional>

#include "plan.h"

struct SimulatedRun {
    double wall_seconds = 0;
    double busy_seconds = 0;  // the runs' times added up
    int64_t chunks = 0;
    int ranks = 1;
    // Summed run time over ranks times wall time.
    double efficiency() const { return wall_seconds > 0 ? busy_seconds / (ranks * wall_seconds) : 1; }
};

// source_seconds(s): the time of source s's run (the same every repetition).
// handout_seconds: from a rank's record leaving it to its next chunk arriving.
// Every rank holds two chunks, as the tool's ranks do, and starts the next as
// soon as one ends; rank 0 hands out in the order records reach it.
SimulatedRun simulateRun(int64_t nodes, int repetitions, int ranks, Handout handout,
                         const std::function<double(int64_t)>& source_seconds, double handout_seconds);
