// One network's sweep in spc_sweep, on every rank.
#pragma once

#include <string>

#include "sweep_options.h"

// Every rank calls it for each network, in the same order. Rank 0 reads the
// file (opened for reading only), hands out the units, records them in the
// checkpoint, and writes the report and the run-log line; it returns whether
// the network was swept and logged. The other ranks run units and return true.
bool sweepNetwork(const std::string& name, const SweepOptions& options);

// The tool's line after the four result lines.
std::string sweepSummaryLine(int ranks, const std::string& build, double wall_seconds, double cpu_seconds,
                             int32_t blocks, int32_t block_size, int repetitions, int64_t resumed_units);
