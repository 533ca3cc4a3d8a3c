// The figures as both programs write them: the four result lines, the run
// log's line, exact integers and the triple count.
#pragma once

#include <cstdint>
#include <string>

#include "base/integers.h"

// Exact decimal text of a 128-bit integer.
std::string formatInteger(int128 value);

// The four result lines, each ended by a newline, as standard output gets
// them (spc_heap1 and spc_sweep write the same bytes).
std::string resultLines(int128 sum_of_distances, float time_per_sweep, int64_t trivial, int128 nontrivial);

// The run log's line for a file, newline included: the name, the sum, the
// time and both counts, five spaces apart.
std::string runLogLine(const std::string& name, int128 sum_of_distances, float time_per_sweep, int64_t trivial,
                       int128 nontrivial);

// n(n-1)(n-2): the ordered triples of distinct nodes.
int128 tripleCount(int64_t n);
