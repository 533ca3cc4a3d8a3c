#include "estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

#include "engine/engine.h"
#include "hierarchy_run.h"
#include "phast/phast_engine.h"
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

// This rank's share of the PHAST sample: passes of kMostTrees sources from
// the same order, groups rank, rank + P, ... (passes, ns) pairs.
std::vector<uint64_t> runPhastSample(PhastEngine& engine, int64_t nodes, double seconds) {
    std::vector<uint64_t> runs;
    const uint64_t budget = static_cast<uint64_t>(seconds * 1e9);
    uint64_t spent = 0;
    int32_t sources[kMostTrees];
    TreeFigures figures[kMostTrees];
    for (int64_t group = myRank(); group * kMostTrees < nodes && spent < budget && interruption() == 0;
         group += rankCount()) {
        const int count = static_cast<int>(std::min<int64_t>(kMostTrees, nodes - group * kMostTrees));
        for (int t = 0; t < count; ++t) sources[t] = static_cast<int32_t>(sampledSource(group * kMostTrees + t, nodes));
        const uint64_t start = threadCpuNs();
        engine.run(sources, count, figures);
        const uint64_t took = threadCpuNs() - start;
        spent += took;
        runs.push_back(static_cast<uint64_t>(count));
        runs.push_back(took);
    }
    return runs;
}

// One method's sampled cost.
struct MethodCost {
    bool phast = false;
    std::vector<double> per_source;  // seconds a source, sample by sample
    SweepCost cost;
    double spent = 0;
    int64_t runs = 0;          // sources run (heap) or trees (phast)
    double build_seconds = 0;  // phast: built now (0 when loaded)
    bool loaded = false;
    uint64_t shared_bytes = 0, thread_bytes = 0;
};

// The runs gathered at rank 0 as a method's cost over n nodes, in units of
// `per_unit` sources.
MethodCost costOf(const std::vector<uint64_t>& runs, int64_t nodes, int per_unit) {
    MethodCost m;
    std::vector<double> units;
    for (size_t i = 0; i + 1 < runs.size(); i += 2) {
        const double seconds = static_cast<double>(runs[i + 1]) / 1e9;
        units.push_back(seconds);
        m.spent += seconds;
        m.runs += per_unit == 1 ? 1 : static_cast<int64_t>(runs[i]);
        m.per_source.push_back(seconds / per_unit);
    }
    m.cost = costFromSample(units, (nodes + per_unit - 1) / per_unit);
    return m;
}

void printCost(const std::string& name, const SweepOptions& o, const MethodCost& m) {
    const SweepCost& cost = m.cost;
    const int r = o.repetitions;
    std::string with;
    if (m.phast) {
        with = m.loaded ? ", over its hierarchy loaded from its file"
                        : ", and its hierarchy built once in " + plainSeconds(m.build_seconds) + " s";
    }
    std::printf("spc_sweep: estimate: %s%s: processor time per sweep %s s (19 times in 20 between %s and %s s), "
                "%.1f core-hours; %d sweep%s %s s (%s to %s s); from %lld %s in %s s%s\n",
                name.c_str(), m.phast ? " (method phast)" : "", plainSeconds(cost.per_sweep).c_str(),
                plainSeconds(cost.low).c_str(), plainSeconds(cost.high).c_str(), cost.per_sweep / 3600, r,
                r == 1 ? "" : "s", plainSeconds(r * cost.per_sweep).c_str(), plainSeconds(r * cost.low).c_str(),
                plainSeconds(r * cost.high).c_str(), static_cast<long long>(m.runs),
                m.phast ? "trees" : "sources' runs", plainSeconds(m.spent).c_str(), with.c_str());
}

// The memory and wall-clock lines of the method the command names.
void printPlan(const SweepOptions& o, int64_t nodes, const MethodCost& m, double handout) {
    const uint64_t rank_zero = static_cast<uint64_t>(nodes) * SweepTally::kBytesPerSource;
    std::printf("  memory: at most %s per thread (its engine), %s per machine for its ranks' shared copy of the "
                "%s, %s more on rank 0\n",
                bytesText(m.thread_bytes).c_str(), bytesText(m.shared_bytes).c_str(),
                m.phast ? "hierarchy" : "network", bytesText(rank_zero).c_str());
    // Plain P: ranks of as many threads as this command's.
    std::set<SweepOptions::RankCount> counts;
    for (SweepOptions::RankCount c : o.estimate_ranks) counts.insert({c.ranks, c.threads > 0 ? c.threads : o.threads});
    if (counts.empty()) counts = {{1, o.threads}, {rankCount(), o.threads}};
    std::string line = "  wall-clock";
    if (m.phast && !m.loaded) line += " (the hierarchy's build included)";
    const size_t bare = line.size();
    for (const SweepOptions::RankCount& c : counts) {
        // Each source takes the time of a sampled run, drawn by the source's
        // id; every thread of every rank takes chunks as a rank does.
        const std::vector<double>& seconds = m.per_source;
        const auto time_of = [&](int64_t s) {
            return seconds.empty() ? 0.0 : seconds[static_cast<size_t>(mixBits(static_cast<uint64_t>(s)) % seconds.size())];
        };
        const SimulatedRun run = simulateRun(nodes, o.repetitions, c.ranks * c.threads, Handout::guided, time_of, handout);
        const double wall = run.wall_seconds + (m.phast ? m.build_seconds : 0);
        char text[192];
        std::snprintf(text, sizeof text, "%s on %d rank%s x %d thread%s: %s s, %s (efficiency %.1f %%)",
                      line.size() > bare ? ";" : "", c.ranks, c.ranks == 1 ? "" : "s", c.threads,
                      c.threads == 1 ? "" : "s", plainSeconds(wall).c_str(), ProgressLine::duration(wall).c_str(),
                      100 * run.efficiency());
        line += text;
    }
    std::printf("%s\n", line.c_str());
}

// Which method costs less processor time for the command's repetitions,
// the hierarchy's build counted.
void printCheaper(const SweepOptions& o, const MethodCost& heap, const MethodCost& phast) {
    const double h = o.repetitions * heap.cost.per_sweep;
    const double p = o.repetitions * phast.cost.per_sweep + phast.build_seconds;
    if (h <= 0 || p <= 0) return;
    std::printf("  cheaper: the method %s, %.1f times less processor time than the method %s for %d sweep%s\n",
                p < h ? "phast" : "heap", p < h ? h / p : p / h, p < h ? "heap" : "phast", o.repetitions,
                o.repetitions == 1 ? "" : "s");
}

// Stops every rank at a signal to any; true when the estimate goes on.
bool noSignal(const std::string& name) {
    const int signal = interruption();
    if (allRanksAgree(signal == 0)) return true;
    if (myRank() == 0) {
        complain(name, std::string("stopped by ") + (signal != 0 ? signalName(signal) : "a signal to another rank") +
                           " during the estimate; nothing is estimated");
    }
    return false;
}

// The heap method's sample, over the ranks' shared copy of the network.
bool sampleHeap(const std::string& name, const Network& network, const SweepOptions& o, MethodCost& out) {
    const bool zero = myRank() == 0;
    ArcTable table;
    const std::string shared = shareNetwork(network, 0, 1, table);
    if (!shared.empty()) {
        if (zero) complain(name, shared);
        return false;
    }
    std::vector<uint64_t> runs;
    {
        Engine engine;
        engine.prepare(table, EngineUse::figures);
        runs = gatherAtRankZero(runSample(engine, table.layout.nodes, o.estimate_seconds));
    }
    out = costOf(runs, table.layout.nodes, 1);
    out.shared_bytes = table.layout.bytes;
    out.thread_bytes = engineOwnBytes(table.layout, EngineUse::figures);
    releaseNetworkCopy();
    return true;
}

// PHAST's sample, over the ranks' shared copy of the hierarchy.
bool samplePhast(const std::string& name, const Network& network, const PreparedHierarchy& h, const SweepOptions& o,
                 MethodCost& out) {
    const bool zero = myRank() == 0;
    HierarchyView view;
    const std::string shared = shareHierarchy(h, network, 0, 1, view);
    if (!shared.empty()) {
        if (zero) complain(name, shared);
        return false;
    }
    std::vector<uint64_t> runs;
    {
        PhastEngine engine;
        engine.prepare(view, kMostTrees);
        runs = gatherAtRankZero(runPhastSample(engine, view.nodes, o.estimate_seconds));
    }
    out = costOf(runs, view.nodes, kMostTrees);
    out.phast = true;
    out.build_seconds = h.build_seconds;
    out.loaded = h.loaded;
    out.shared_bytes = static_cast<uint64_t>(shareNumber(static_cast<int64_t>(h.image.size())));
    out.thread_bytes = PhastEngine::bytesFor(view.nodes, kMostTrees);
    releaseNetworkCopy();
    return true;
}

}  // namespace

NetworkResult estimateNetwork(const std::string& name, const SweepOptions& o) {
    const bool zero = myRank() == 0;
    Network network;
    const std::string why = zero ? loadNetworkFile(name, network) : "";
    const int64_t read = shareNumber(why.empty() ? 0 : interruption() != 0 ? 2 : 1);
    if (read != 0) {
        if (zero) complain(name, read == 2 ? why + "; nothing is estimated" : why);
        return read == 2 ? NetworkResult::interrupted : zero ? NetworkResult::failed : NetworkResult::swept;
    }
    // PHAST's hierarchy first, while rank 0 holds the network: kept for the
    // sweep in a checkpoint directory that exists (the estimate makes none).
    PreparedHierarchy hierarchy;
    SweepOptions keeping = o;
    std::error_code none;
    if (!std::filesystem::is_directory(o.checkpoint_dir, none)) keeping.checkpoint_dir.clear();
    const std::string no_phast = zero ? prepareHierarchy(name, keeping, network, hierarchy) : "";
    if (!noSignal(name)) return NetworkResult::interrupted;
    const bool phast_ok = shareFlag(no_phast.empty());
    MethodCost heap, phast;
    const bool heap_ok = sampleHeap(name, network, o, heap);
    if (!noSignal(name)) return NetworkResult::interrupted;
    const bool phast_ran = phast_ok && allRanksAgree(heap_ok) && samplePhast(name, network, hierarchy, o, phast);
    const int64_t nodes = network.nodes;
    clearNetwork(network);
    if (!noSignal(name)) return NetworkResult::interrupted;
    if (!allRanksAgree(heap_ok)) return zero ? NetworkResult::failed : NetworkResult::swept;
    const double handout = measureHandoutSeconds();
    const bool chosen_phast = o.method == SweepMethod::phast;
    if (zero) {
        printCost(name, o, heap);
        if (phast_ran) {
            printCost(name, o, phast);
            printCheaper(o, heap, phast);
        } else if (!no_phast.empty()) {
            std::printf("spc_sweep: estimate: %s (method phast): none: %s\n", name.c_str(), no_phast.c_str());
        }
        if (!chosen_phast || phast_ran) printPlan(o, nodes, chosen_phast ? phast : heap, handout);
        std::fflush(stdout);
    }
    return zero && chosen_phast && !phast_ran ? NetworkResult::failed : NetworkResult::swept;
}
