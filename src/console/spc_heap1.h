// The console driver: the dialogue with the user and the report of each file.
#pragma once

#include <string>

#include "program_state.h"

// Prompts for network files, loads, sweeps and reports each, until the user
// answers -1 or standard input ends (status 0) or the run log cannot be
// written (status 1).
int promptLoop();

// Writes the four figures to standard output and appends them with the file's
// name to the run log. Returns false when the run log cannot be written.
bool reportResults(int128 sum_of_distances, float time_per_sweep);

// Exact decimal text of a 128-bit integer.
std::string formatInteger(int128 value);

// The four result lines, each ended by a newline, as standard output gets
// them (the batch tool spc_sweep writes the same bytes).
std::string resultLines(int128 sum_of_distances, float time_per_sweep, int64_t trivial, int128 nontrivial);

// The run log's line for a file, newline included: the name, the sum, the
// time and both counts, five spaces apart.
std::string runLogLine(const std::string& name, int128 sum_of_distances, float time_per_sweep, int64_t trivial,
                       int128 nontrivial);
