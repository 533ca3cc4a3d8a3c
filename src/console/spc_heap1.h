// The console driver: the dialogue with the user and the report of each file.
#pragma once

#include <string>

#include "state/program_state.h"

// Prompts for network files, loads, sweeps and reports each, until the user
// answers -1 or standard input ends (status 0) or the run log cannot be
// written (status 1).
int promptLoop();

// Writes the four figures to standard output and appends them with the file's
// name to the run log. Returns false when the run log cannot be written.
bool reportResults(int128 sum_of_distances, float time_per_sweep);
