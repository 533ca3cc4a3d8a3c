// spc_sweep: the figures of spc_heap1 for networks too large for one core,
// over MPI ranks on many cores and machines, resumable after a crash.
#include <cstdio>
#include <string>
#include <vector>

#include "sweep_network.h"
#include "sweep_options.h"
#include "sweep_ranks.h"

namespace {

const char* const kHelp =
    "Sweeps each NETWORK (a file in the format spc_heap1 reads) from every node, R times,\n"
    "and writes spc_heap1's four result lines for it, then a line of its own, to standard\n"
    "output; appends spc_heap1's run-log line to the run log once the network is done.\n"
    "Run it under mpiexec -n P or srun to spread the work over P ranks; alone it runs as\n"
    "one process.\n"
    "\n"
    "  --repetitions R   sweeps per network (default 4, as spc_heap1)\n"
    "  --checkpoint DIR  record every finished block of sources in DIR, so that the same\n"
    "                    command after a crash goes on where it stopped\n"
    "  --log FILE        the run log (default spc_heap_output.txt)\n"
    "\n"
    "Exit status: 0 when every network was swept and logged, 1 when one was not, 2 on bad\n"
    "usage.\n";

}  // namespace

int main(int argc, char** argv) {
    startRanks(&argc, &argv);
    const bool rank_zero = myRank() == 0;
    SweepOptions options;
    const std::string why = parseSweepOptions(std::vector<std::string>(argv + 1, argv + argc), options);
    int status = 0;
    if (!why.empty()) {
        if (rank_zero) std::fprintf(stderr, "spc_sweep: %s\n%s\n", why.c_str(), kSweepUsage);
        status = 2;
    } else if (options.help) {
        if (rank_zero) std::printf("%s\n\n%s", kSweepUsage, kHelp);
    } else {
        for (const std::string& name : options.networks) {
            if (!sweepNetwork(name, options)) status = 1;
        }
    }
    stopRanks();
    return status;
}
