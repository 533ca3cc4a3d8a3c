#include "network_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>

#include "hierarchy_run.h"
#include "compressed/network_file.h"
#include "outputs.h"
#include "progress.h"
#include "say.h"
#include "spc_sweep/checkpoint/checkpoint_file.h"
#include "spc_sweep/checkpoint/durable_files.h"
#include "spc_sweep/ranks/compute_threads.h"
#include "spc_sweep/ranks/coordinator.h"
#include "spc_sweep/ranks/ranks.h"
#include "spc_sweep/ranks/signals.h"
#include "spc_sweep/ranks/worker.h"

namespace {

// Every output the run will write, before the network is read: a problem
// found now costs nothing, one found after the sweep costs the sweep.
std::string checkOutputs(const std::string& name, const SweepOptions& o) {
    std::string why = checkAppendable(o.log_file);
    if (!why.empty()) return "the run log " + o.log_file + " cannot be written: " + why;
    if (!o.checkpoint_dir.empty()) {
        why = checkDirectory(o.checkpoint_dir);
        if (!why.empty()) return "the checkpoint directory " + o.checkpoint_dir + " cannot be written: " + why;
    }
    if (!o.per_source.empty()) {
        const std::string path = perSourcePath(o.per_source, name);
        why = checkReplaceable(path);
        if (!why.empty()) return "the per-source file " + path + " cannot be written: " + why;
    }
    if (!o.json_file.empty()) {
        why = checkAppendable(o.json_file);
        if (!why.empty()) return "the JSON record file " + o.json_file + " cannot be written: " + why;
    }
    return {};
}

// What rank 0 keeps of a network while the ranks sweep it.
struct RankZeroState {
    Network network;  // as read, until the ranks hold its arc table
    std::unique_ptr<SweepSchedule> schedule;
    std::unique_ptr<SweepTally> tally;
    CheckpointFile checkpoint;
    CheckpointHeader header;
    FinishedRecord record;
    PreparedHierarchy hierarchy;  // the method phast's
    ChosenSources chosen;         // every node unless --sources or --sample
    bool reported = false;     // finished by an earlier run: nothing to sweep
    bool interrupted = false;  // a signal stopped the reading
};

std::string sources(int64_t first, int64_t last) { return "sources " + std::to_string(first) + ".." + std::to_string(last); }

// A resumed checkpoint's lines into the plan and the tally.
LineSink resumeInto(RankZeroState& z) {
    return [&z](const CheckpointLine& l, int64_t) -> std::string {
        std::string refused;
        switch (l.kind) {
            case CheckpointLine::figures: return z.tally->learn(l.first, l.sources, "the checkpoint");
            case CheckpointLine::run:
                refused = z.schedule->markDone(l.repetition, l.first, l.last);
                if (!refused.empty()) return refused;
                if (!z.tally->allKnown(l.first, l.last)) {
                    return "a run of " + sources(l.first, l.last) + " whose figures no line before it holds";
                }
                if (z.tally->checkOf(l.first, l.last) != l.check) {
                    return "repetition " + std::to_string(int64_t{l.repetition} + 1) + " of " +
                           sources(l.first, l.last) +
                           " disagrees with the figures recorded for them; a machine may be at fault";
                }
                break;
            case CheckpointLine::done:
                refused = z.schedule->markRepetitions(l.repetition, l.last_repetition);
                if (!refused.empty()) return refused;
                if (z.tally->knownSources() != z.tally->nodes()) {
                    return "repetitions are done before every source's figures are recorded";
                }
                break;
        }
        z.tally->addCpu(l.cpu_ns);
        return {};
    };
}

// With a finished record of this network: what it serves. Returns an empty
// string, or why the network cannot go on.
std::string takeFinishedRecord(const NetworkItem& item, const SweepOptions& o, RankZeroState& z) {
    const std::string path = finishedPath(o.checkpoint_dir, z.header);
    std::string why;
    switch (z.record.openRecord(path, z.header, why)) {
        case FinishedRecord::Read::absent: return {};
        case FinishedRecord::Read::in_use: return "the record " + path + " is in use by another run; nothing was changed";
        case FinishedRecord::Read::refused:
            complain(item.name, "the record of a finished run " + path + " is ignored (" + why + "); the network is swept");
            return {};
        case FinishedRecord::Read::ok: break;
    }
    if (z.record.earlier() && !o.per_source.empty()) {
        std::error_code error;
        const std::string table = perSourcePath(o.per_source, item.name);
        if (!std::filesystem::exists(table, error)) {
            complain(item.name, "a run that ended " + z.record.totals().ended + " recorded its figures, but the "
                                "per-source file " + table + " is missing; the network is swept again");
            z.record.forget();
            return {};
        }
    }
    z.reported = true;
    // A checkpoint left by a crash between the record and its removal.
    const std::string left = checkpointPath(o.checkpoint_dir, z.header);
    const int fd = ::open(left.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (checkTrusted(fd).empty() && lockWhole(fd) == 0) ::unlink(left.c_str());
        ::close(fd);
    }
    return {};
}

// Rank 0: checks the outputs, reads the network, takes a finished record,
// or opens the checkpoint and takes in its lines. Returns an empty string or
// why the network cannot be swept.
std::string prepareOnRankZero(const NetworkItem& item, const SweepOptions& o, RankZeroState& z) {
    std::string why = checkOutputs(item.name, o);
    if (why.empty()) why = loadNetworkFile(item.name, z.network);
    if (!why.empty()) {
        z.interrupted = interruption() != 0;
        return why;
    }
    const int32_t nodes = z.network.nodes;
    if (o.sample > 0) why = drawSample(nodes, o.sample, o.seed, z.chosen);
    if (!o.sources_file.empty()) {
        why = readSourcesFile(o.sources_file, nodes, z.chosen);
        if (!why.empty()) why = "the sources file " + o.sources_file + ": " + why;
    }
    if (!why.empty()) return why;
    const int64_t sources = z.chosen.all() ? 0 : static_cast<int64_t>(z.chosen.ids.size());
    // Chunks sized for every compute thread of every rank.
    int threads = 0;
    for (int t : o.threads_per_rank) threads += t;
    z.schedule = std::make_unique<SweepSchedule>(sources > 0 ? sources : nodes, o.repetitions, std::max(threads, 1));
    z.tally = std::make_unique<SweepTally>(sources > 0 ? sources : nodes, nodes);
    const bool phast = o.method == SweepMethod::phast;
    const uint64_t sources_hash = sources > 0 ? z.chosen.hash() : 0;
    const bool harmonic = !o.per_source.empty();
    z.header = {{nodes, z.network.arcs, 0}, o.repetitions, phast, sources, sources_hash, harmonic};
    if (!o.checkpoint_dir.empty()) {
        z.header = {fingerprintOf(z.network), o.repetitions, phast, sources, sources_hash, harmonic};
        why = takeFinishedRecord(item, o, z);
        if (why.empty() && !z.reported && harmonic) {
            // A run without a per-source file left a record without the
            // harmonic sums: it serves the file rather than a new sweep.
            z.header.harmonic = false;
            why = takeFinishedRecord(item, o, z);
            if (z.reported) {
                complain(item.name, "the record of a run without a per-source file has no harmonic sums: the "
                                    "per-source file's fifth column is - (a run without that record works them out)");
            }
            if (!z.reported) z.header.harmonic = true;
        }
        if (!why.empty() || z.reported) return why;
    }
    if (phast) {
        why = prepareHierarchy(item.name, o, z.network, z.hierarchy);
        if (!why.empty()) {
            z.interrupted = interruption() != 0;
            return why;
        }
    }
    if (o.checkpoint_dir.empty()) return {};
    const std::string path = checkpointPath(o.checkpoint_dir, z.header);
    removeLeftoverTemporaries(path);
    CheckpointScan scan;
    const CheckpointFile::OpenResult opened = z.checkpoint.openAndRead(path, z.header, resumeInto(z), scan);
    if (!opened.note.empty()) complain(item.name, "the checkpoint " + path + ": " + opened.note);
    switch (opened.outcome) {
        case CheckpointFile::Opened::in_use:
            return "the checkpoint " + path + " is in use by another run; nothing was changed";
        case CheckpointFile::Opened::refused:
            return "the checkpoint " + path + " is refused: " + opened.why + "; it is left as it is";
        case CheckpointFile::Opened::failed: return "the checkpoint " + path + " cannot be used: " + opened.why;
        case CheckpointFile::Opened::ok: break;
    }
    if (scan.earlier_format || z.checkpoint.compactionDue(z.tally->knownSources())) {
        const std::string error = z.checkpoint.compact(*z.tally);
        if (!error.empty() && scan.earlier_format) {
            z.checkpoint.closeKeeping();
            return "the checkpoint " + path + ", of an earlier spc_sweep, cannot be written anew: " + error;
        }
        if (!error.empty()) complain(item.name, "the checkpoint " + path + " cannot be written anew: " + error);
    }
    return {};
}

// Rank 0's side once the ranks hold the network.
NetworkResult coordinateNetwork(const NetworkItem& item, const SweepOptions& o, RankZeroState& z,
                                ComputeThreads& own) {
    const auto link = linkToOtherRanks();
    const int64_t resumed = z.schedule->done();
    RunProgress progress(item.name, o.repetitions, z.schedule->total(), resumed, o.progress_seconds);
    const std::string started = isoTimeNow();
    const auto start = std::chrono::steady_clock::now();
    const CoordinatorHooks hooks{[&](int64_t done, uint64_t cpu_ns) { progress.update(done, cpu_ns); },
                                 [&](const std::string& what) { complain(item.name, what); }};
    Coordinator coordinator(*z.schedule, *z.tally, z.checkpoint, *link, own, o.threads_per_rank, hooks);
    const RunOutcome outcome = coordinator.run();
    progress.end();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (outcome.end == RunEnd::interrupted) {
        const std::string error = z.checkpoint.closeKeeping();
        reportInterruption(item.name, o, outcome.signal, resumed + coordinator.sourcesRecorded(), z.schedule->total(),
                           error);
        return NetworkResult::interrupted;
    }
    if (outcome.end == RunEnd::failed) {
        z.checkpoint.closeKeeping();
        complain(item.name, outcome.failure);
        return NetworkResult::failed;
    }
    own.finish();
    const SweepTally& t = *z.tally;
    int threads = 0;
    for (int n : o.threads_per_rank) threads += n;
    const NetworkTotals totals{t.sum(),   t.scans(), t.cpuNs(),     wall,         link->ranks(), threads, resumed,
                               z.schedule->chunksHandedOut(), t.diameter(), t.radius(), started, isoTimeNow(), hostName()};
    MethodFacts method;
    if (o.method == SweepMethod::phast) {
        method = {true, hierarchyWords(z.hierarchy), z.hierarchy.loaded ? -1 : z.hierarchy.build_seconds,
                  z.hierarchy.image.size()};
    }
    return finishSweep(item, o, t, z.checkpoint, z.header, totals, ranksBuild(), method, z.chosen)
               ? NetworkResult::swept
               : NetworkResult::failed;
}

// A run cut short ends the tool at once: the compute thread may be inside a
// run of seconds, which is abandoned. Without MPI_Finalize, which would take
// the machine's copy of the network from under that run; the launchers
// (mpiexec, srun) still pass the status on.
[[noreturn]] void endInterrupted() {
    std::fflush(nullptr);
    std::_Exit(kInterruptedStatus);
}

enum Decision : int64_t { kGo = 1, kSkip = 2, kReported = 3, kInterrupted = 4 };

}  // namespace

std::string loadNetworkFile(const std::string& name, Network& network) {
    const std::string why = readNetworkFile(name, network, [] { return interruption() == 0; });
    if (!why.empty() && interruption() != 0) {
        return std::string("stopped by ") + signalName(interruption()) + " while it was read";
    }
    return why;
}

NetworkResult sweepNetwork(const NetworkItem& item, const SweepOptions& o) {
    const bool zero = myRank() == 0;
    RankZeroState z;
    std::string why;
    if (zero) {
        try {
            why = prepareOnRankZero(item, o, z);
        } catch (const std::bad_alloc&) {
            why = "rank 0 lacks the memory for the network's bookkeeping";
        }
    }
    const int64_t decision =
        shareNumber(z.interrupted ? kInterrupted : !why.empty() ? kSkip : z.reported ? kReported : kGo);
    if (decision == kInterrupted) {
        if (zero) complain(item.name, why + "; nothing was swept, and the same command starts it again");
        endInterrupted();
    }
    if (decision != kGo) {
        if (!why.empty()) complain(item.name, why);
        const bool served = decision == kReported && zero && serveFinishedRecord(item, o, z.record, z.header, z.chosen);
        return zero && !served ? NetworkResult::failed : NetworkResult::swept;
    }
    const uint64_t rank_zero_extra =
        static_cast<uint64_t>(z.network.nodes) * (SweepTally::kBytesPerSource + sizeof(int32_t)) +
        static_cast<uint64_t>(z.network.arcs) * 2 * sizeof(int32_t);
    const bool phast = o.method == SweepMethod::phast;
    ArcTable table;
    HierarchyView hierarchy;
    why = phast ? shareHierarchy(z.hierarchy, z.network, rank_zero_extra, o.threads, hierarchy)
                : shareNetwork(z.network, rank_zero_extra, o.threads, table);
    clearNetwork(z.network);  // the engines read the machine's copy
    std::vector<int32_t> chosen = z.chosen.ids;  // rank 0's, then every rank's
    if (o.chosenSources()) shareIds(chosen);
    // The harmonic sums cost a division a node reached: worked out only for a per-source file.
    const RunChoices choices{o.chosenSources() ? &chosen : nullptr, !o.per_source.empty()};
    if (!why.empty()) {
        if (zero) complain(item.name, why);
        return zero ? NetworkResult::failed : NetworkResult::swept;
    }
    NetworkResult result = NetworkResult::swept;
    {
        std::unique_ptr<ComputeThreads> compute;
        bool prepared = true;
        try {
            compute = phast ? std::make_unique<ComputeThreads>(o.threads, [&] { return phastRunner(hierarchy, choices); })
                            : std::make_unique<ComputeThreads>(table, o.threads, choices);
        } catch (const std::bad_alloc&) {
            prepared = false;
        }
        if (!allRanksAgree(prepared)) {
            compute.reset();
            releaseNetworkCopy();
            if (zero) complain(item.name, "a rank lacks the memory for its engines");
            return zero ? NetworkResult::failed : NetworkResult::swept;
        }
        if (zero) {
            result = coordinateNetwork(item, o, z, *compute);
            if (result == NetworkResult::interrupted) endInterrupted();
        } else {
            const WorkerEnd end = serveRankZero(*linkToRankZero(), *compute);
            if (end != WorkerEnd::stopped) endInterrupted();
        }
    }
    releaseNetworkCopy();
    return result;
}
