// spc_sweep: the figures of spc_heap1 for networks too large for one core,
// over MPI ranks on many cores and machines, resumable after a crash.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "compressed/compressed_input.h"
#include "spc_sweep/checkpoint/durable_files.h"
#include "outputs.h"

#include "estimate.h"
#include "network_run.h"
#include "options.h"
#include "spc_sweep/ranks/compute_threads.h"
#include "spc_sweep/ranks/ranks.h"
#include "spc_sweep/ranks/signals.h"

namespace {

const char* const kHelp =
    "Sweeps each NETWORK (a file in the format spc_heap1 reads) from every node, R times,\n"
    "and writes spc_heap1's four result lines for it, then a line of its own, to standard\n"
    "output; appends spc_heap1's run-log line to the run log once the network is done.\n"
    "Run it under mpiexec -n P or srun to spread the work over P ranks; alone it runs as\n"
    "one process. A NETWORK may be compressed; read are @PACKED@,\n"
    "told by the file's first bytes.\n"
    "\n"
    "  --method M         heap (default): the binary-heap method spc_heap1 times; phast:\n"
    "                     PHAST trees over a contraction hierarchy, the same figures far\n"
    "                     cheaper on road networks (lengths >= 0; no run-log line, as the\n"
    "                     time is not the heap method's; the hierarchy is kept in the\n"
    "                     checkpoint directory for later runs)\n"
    "  --repetitions R    sweeps per network (default 4, as spc_heap1)\n"
    "  --threads N        compute threads per rank, each with an engine of its own over\n"
    "                     the rank's one copy of the network (default: the cores the\n"
    "                     process may use, shared by the ranks of its machine)\n"
    "  --checkpoint DIR   record every finished chunk of sources in DIR, so that the same\n"
    "                     command after a crash or a stop goes on where it stopped; a\n"
    "                     completed network leaves a record there, and the same command\n"
    "                     reports it again without sweeping\n"
    "  --log FILE         the run log (default spc_heap_output.txt)\n"
    "  --per-source FILE  write every source's figures (nodes reached, sum and largest of\n"
    "                     the distances, the sum of 1/d over distances d > 0) to FILE;\n"
    "                     %n in FILE stands for the network's file name, and is needed\n"
    "                     with several networks\n"
    "  --json FILE        append one JSON record per completed network to FILE@JSON@\n"
    "  --sources FILE     sweep from the nodes FILE lists alone: a .ss problem file\n"
    "                     (p aux sp ss K, then s ID lines) or one id a line; the\n"
    "                     figures are those sources', and no run-log line is written\n"
    "  --sample K         sweep from K nodes drawn at random without replacement, the\n"
    "                     same on every machine; the tool's line adds the estimate of\n"
    "                     the whole network's sum of distances with a 95 % interval\n"
    "  --seed S           the sample's seed (default 1)\n"
    "  --progress SECONDS a progress line every SECONDS when standard error is no\n"
    "                     terminal (default 600; 0: none)\n"
    "  --estimate SECONDS sweep nothing: spend about SECONDS of processor time per rank on\n"
    "                     runs from a sample of sources, and predict the time of the sweep\n"
    "                     by each method (phast: its hierarchy's build included), the\n"
    "                     memory and wall-clock time for the one --method names\n"
    "  --ranks P[xN],...  with --estimate: the ranks (of N threads each; default this\n"
    "                     command's) to predict the wall-clock time for\n"
    "\n"
    "Exit status: 0 when every network was swept and logged, 1 when one was not, 2 on bad\n"
    "usage, 75 when a signal (SIGTERM, SIGINT, SIGUSR1) stopped the run: the same command\n"
    "then resumes it from the checkpoint.\n";

}  // namespace

int main(int argc, char** argv) {
    startRanks(&argc, &argv);
    catchInterruptions();
    // A reader that has gone makes a write fail (EPIPE), which is said and
    // keeps what the checkpoint holds, instead of ending the tool unheard.
    std::signal(SIGPIPE, SIG_IGN);
    noteUmask();
    const bool rank_zero = myRank() == 0;
    SweepOptions options;
    std::string why = parseSweepOptions(std::vector<std::string>(argv + 1, argv + argc), options);
    if (why.empty() && !options.help && options.estimate_seconds <= 0 && rank_zero) why = checkOutputsApart(options);
    // By default the cores this process may use, shared by its machine's ranks.
    const int machine_ranks = ranksOnThisMachine();
    if (options.threads == 0) options.threads = std::max(1, allowedCores() / machine_ranks);
    for (uint64_t t : gatherAtRankZero({static_cast<uint64_t>(options.threads)})) {
        options.threads_per_rank.push_back(static_cast<int>(t));
    }
    int status = 0;
    if (!shareFlag(why.empty())) {
        if (rank_zero) std::fprintf(stderr, "spc_sweep: %s\n%s\n", why.c_str(), kSweepUsage);
        status = 2;
    } else if (options.help) {
        if (rank_zero) {
            std::string help = kHelp;
            help.replace(help.find("@JSON@"), 6,
                         jsonRecordsBuilt() ? "" : "\n                     (not in this build: made without a JSON library)");
            help.replace(help.find("@PACKED@"), 8, compressionsBuiltText());
            std::printf("%s\n\n%s", kSweepUsage, help.c_str());
        }
    } else {
        std::map<std::string, int> seen;  // each name's occurrences so far
        for (const std::string& name : options.networks) {
            const NetworkItem item{name, ++seen[name]};
            const NetworkResult result =
                options.estimate_seconds > 0 ? estimateNetwork(name, options) : sweepNetwork(item, options);
            if (result == NetworkResult::interrupted) {
                status = kInterruptedStatus;
                break;
            }
            if (result != NetworkResult::swept) status = 1;
        }
    }
    std::fflush(nullptr);
    if (rank_zero && std::ferror(stdout)) status = status == 0 ? 1 : status;
    stopRanks();
    return status;
}
