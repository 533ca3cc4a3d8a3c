// The timed sweep over all sources and its measurements.
#pragma once

#include <cstdint>
#include <functional>

#include "state/program_state.h"

// One repetition of the sweep: heap() from every source in ascending order,
// the finite labels of each run summed into one_to_all_distance (which must
// have num_nodes entries; prepareEngine() must have run). after_source, when
// set, is called after each source.
void sweepSources(const std::function<void(int32_t)>& after_source = {});

struct SweepResult {
    int128 sum_of_distances;
    float time_per_sweep;  // milliseconds of processor time
};

// Runs heap() from every node, four times under the processor clock, and sets
// the triple counts.
SweepResult sweepAllSources();

// Processor time from two clock readings in whole milliseconds, per sweep of four.
float timePerSweep(uint64_t start_ms, uint64_t end_ms);
