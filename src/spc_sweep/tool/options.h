// The command line of spc_sweep.
#pragma once

#include <string>
#include <vector>

// How the figures are computed: the binary-heap method the benchmark times,
// or PHAST over a contraction hierarchy (lengths >= 0; the same figures).
enum class SweepMethod { heap, phast };

struct SweepOptions {
    int repetitions = 4;
    SweepMethod method = SweepMethod::heap;
    std::string checkpoint_dir;  // empty: no checkpoint
    std::string log_file = "spc_heap_output.txt";
    std::string per_source;      // empty: none; %n stands for the network's file name
    std::string json_file;       // empty: none
    double progress_seconds = 600;  // between progress lines when standard error is no terminal; 0: none
    double estimate_seconds = 0;    // above 0: estimate the cost instead of sweeping
    int threads = 0;                // compute threads a rank; 0: the cores it may use, shared by its machine's ranks
    // The ranks (and threads a rank, 0: this command's) to predict for.
    struct RankCount {
        int ranks = 1;
        int threads = 0;
        bool operator<(const RankCount& o) const { return ranks != o.ranks ? ranks < o.ranks : threads < o.threads; }
    };
    std::vector<RankCount> estimate_ranks;
    // Chosen sources instead of every node: the ids of a file, or a sample.
    std::string sources_file;  // --sources
    int64_t sample = 0;        // --sample K; 0: none
    uint64_t seed = 1;         // --seed, of the sample
    bool chosenSources() const { return !sources_file.empty() || sample > 0; }
    // Not an option: each rank's threads, known to rank 0 once the ranks have
    // told it (the threads of a rank may differ where machines differ).
    std::vector<int> threads_per_rank;
    std::vector<std::string> networks;
    bool help = false;
};

extern const char* const kSweepUsage;

// Whether this build writes JSON records (--json).
bool jsonRecordsBuilt();

// Reads the arguments after the program's name. Returns an empty string, or
// what is wrong with them (the caller prints it with the usage line).
std::string parseSweepOptions(const std::vector<std::string>& args, SweepOptions& options);

// The per-source file of a network: the pattern with %n replaced by the
// network's file name (without its directory) and %% by %.
std::string perSourcePath(const std::string& pattern, const std::string& network);
