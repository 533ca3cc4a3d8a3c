// The command line of spc_sweep.
#pragma once

#include <string>
#include <vector>

struct SweepOptions {
    int repetitions = 4;
    std::string checkpoint_dir;                // empty: no checkpoint
    std::string log_file = "spc_heap_output.txt";
    std::vector<std::string> networks;
    bool help = false;
};

extern const char* const kSweepUsage;

// Reads the arguments after the program's name. Returns an empty string, or
// what is wrong with them (the caller prints it with the usage line).
std::string parseSweepOptions(const std::vector<std::string>& args, SweepOptions& options);
