// One network's sweep in spc_sweep, on every rank.
#pragma once

#include <cstdint>
#include <string>

#include "sweep_options.h"

enum class NetworkResult { swept, failed, interrupted };

// Every rank calls it for each network, in the same order. Rank 0 checks the
// outputs, reads the file (opened for reading only), hands out the chunks,
// keeps the checkpoint, and writes the report, the run-log line and the
// other outputs. It returns what became of the network; the other ranks
// return swept, or interrupted when the run was cut short.
NetworkResult sweepNetwork(const std::string& name, const SweepOptions& options);

// The tool's line after the four result lines.
struct SummaryFigures {
    int ranks = 1;
    std::string build;
    double wall_seconds = 0;
    double cpu_seconds = 0;
    int64_t chunks = 0;
    int repetitions = 4;
    int64_t resumed = 0;  // source runs
    int64_t diameter = 0;
    int64_t radius = -1;  // -1: no source reaches every node
};
std::string sweepSummaryLine(const SummaryFigures& s);

// Loads the network from the file, opened for reading only. Returns an empty
// string or why it cannot be swept.
std::string readNetworkFile(const std::string& name);

// Prints the text on standard output and flushes it; false when it could not
// be written (a full disk, a closed pipe).
bool writeOut(const std::string& text);

// Says what went wrong with a network on standard error.
void complain(const std::string& name, const std::string& why);
