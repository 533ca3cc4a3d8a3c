#include "estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "engine/engine.h"
#include "say.h"
#include "spc_sweep/ranks/compute_threads.h"
#include "network_run.h"
#include "spc_sweep/ranks/signals.h"
#include "report/progress_line.h"
#include "spc_sweep/ranks/ranks.h"
#include "progress.h"
#include "spc_sweep/plan/sample.h"
#include "spc_sweep/plan/simulation.h"
#include "spc_sweep/plan/tally.h"

namespace {

std::string bytesText(uint64_t bytes) {
    char text[32];
    const double b = static_cast<double>(bytes);
    if (b >= 1e9) {
        std::snprintf(text, sizeof text, "%.2f GB", b / 1e9);
    } else if (b >= 1e6) {
        std::snprintf(text, sizeof text, "%.1f MB", b / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.1f kB", b / 1e3);
    }
    return text;
}

// This rank's share of the sample: positions rank, rank + P, ... until its
// processor time reaches the seconds given. (source, ns) pairs.
std::vector<uint64_t> runSample(Engine& engine, int64_t nodes, double seconds) {
    std::vector<uint64_t> runs;
    const uint64_t budget = static_cast<uint64_t>(seconds * 1e9);
    uint64_t spent = 0;
    for (int64_t position = myRank(); position < nodes && spent < budget && interruption() == 0;
         position += rankCount()) {
        const int64_t source = sampledSource(position, nodes);
        const uint64_t start = threadCpuNs();
        engine.run(static_cast<int32_t>(source));
        const uint64_t took = threadCpuNs() - start;
        spent += took;
        runs.push_back(static_cast<uint64_t>(source));
        runs.push_back(took);
    }
    return runs;
}

void printEstimate(const std::string& name, const SweepOptions& o, const ArcLayout& layout,
                   const std::vector<uint64_t>& runs, double handout) {
    std::vector<double> seconds;
    double spent = 0;
    for (size_t i = 1; i < runs.size(); i += 2) {
        seconds.push_back(static_cast<double>(runs[i]) / 1e9);
        spent += seconds.back();
    }
    const SweepCost cost = costFromSample(seconds, layout.nodes);
    const int r = o.repetitions;
    std::printf("spc_sweep: estimate: %s: processor time per sweep %s s (19 times in 20 between %s and %s s), "
                "%.1f core-hours; %d sweep%s %s s (%s to %s s); from %lld sources' runs in %s s\n",
                name.c_str(), plainSeconds(cost.per_sweep).c_str(), plainSeconds(cost.low).c_str(),
                plainSeconds(cost.high).c_str(), cost.per_sweep / 3600, r, r == 1 ? "" : "s",
                plainSeconds(r * cost.per_sweep).c_str(), plainSeconds(r * cost.low).c_str(),
                plainSeconds(r * cost.high).c_str(), static_cast<long long>(cost.sampled), plainSeconds(spent).c_str());
    const uint64_t rank_zero = static_cast<uint64_t>(layout.nodes) * SweepTally::kBytesPerSource;
    std::printf("  memory: at most %s per thread (its engine), %s per machine for its ranks' shared copy of the "
                "network, %s more on rank 0\n",
                bytesText(engineOwnBytes(layout, EngineUse::figures)).c_str(), bytesText(layout.bytes).c_str(),
                bytesText(rank_zero).c_str());
    // Plain P: ranks of as many threads as this command's.
    std::set<SweepOptions::RankCount> counts;
    for (SweepOptions::RankCount c : o.estimate_ranks) counts.insert({c.ranks, c.threads > 0 ? c.threads : o.threads});
    if (counts.empty()) counts = {{1, o.threads}, {rankCount(), o.threads}};
    std::string line = "  wall-clock";
    for (const SweepOptions::RankCount& c : counts) {
        // Each source takes the time of a sampled run, drawn by the source's
        // id; every thread of every rank takes chunks as a rank does.
        const auto time_of = [&](int64_t s) {
            return seconds.empty() ? 0.0 : seconds[static_cast<size_t>(mixBits(static_cast<uint64_t>(s)) % seconds.size())];
        };
        const SimulatedRun run = simulateRun(layout.nodes, r, c.ranks * c.threads, Handout::guided, time_of, handout);
        char text[192];
        std::snprintf(text, sizeof text, "%s on %d rank%s x %d thread%s: %s s, %s (efficiency %.1f %%)",
                      line.size() > 12 ? ";" : "", c.ranks, c.ranks == 1 ? "" : "s", c.threads,
                      c.threads == 1 ? "" : "s", plainSeconds(run.wall_seconds).c_str(),
                      ProgressLine::duration(run.wall_seconds).c_str(), 100 * run.efficiency());
        line += text;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

NetworkResult estimateNetwork(const std::string& name, const SweepOptions& o) {
    const bool zero = myRank() == 0;
    Network network;
    const std::string why = zero ? readNetworkFile(name, network) : "";
    const int64_t read = shareNumber(why.empty() ? 0 : interruption() != 0 ? 2 : 1);
    if (read != 0) {
        if (zero) complain(name, read == 2 ? why + "; nothing is estimated" : why);
        return read == 2 ? NetworkResult::interrupted : zero ? NetworkResult::failed : NetworkResult::swept;
    }
    ArcTable table;
    const std::string shared = shareNetwork(network, 0, 1, table);
    clearNetwork(network);
    if (!shared.empty()) {
        if (zero) complain(name, shared);
        return zero ? NetworkResult::failed : NetworkResult::swept;
    }
    std::vector<uint64_t> runs;
    {
        Engine engine;
        engine.prepare(table, EngineUse::figures);
        runs = gatherAtRankZero(runSample(engine, table.layout.nodes, o.estimate_seconds));
    }
    const int signal = interruption();
    if (!allRanksAgree(signal == 0)) {
        if (zero) {
            complain(name, std::string("stopped by ") + (signal != 0 ? signalName(signal) : "a signal to another rank") +
                               " during the estimate; nothing is estimated");
        }
        releaseNetworkCopy();
        return NetworkResult::interrupted;
    }
    const double handout = measureHandoutSeconds();
    if (zero) printEstimate(name, o, table.layout, runs, handout);
    releaseNetworkCopy();
    return NetworkResult::swept;
}
