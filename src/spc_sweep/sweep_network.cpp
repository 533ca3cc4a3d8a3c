#include "sweep_network.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

#include "checkpoint_file.h"
#include "compute_thread.h"
#include "engine/arc_layout.h"
#include "loader/network_loader.h"
#include "network_finish.h"
#include "state/program_state.h"
#include "sweep_coordinator.h"
#include "sweep_outputs.h"
#include "sweep_ranks.h"
#include "sweep_signals.h"
#include "sweep_worker.h"

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

void clearLoadedArcs() {
    // Swapped with empty ones: `v = {}` would keep their memory.
    std::vector<int32_t>().swap(point);
    std::vector<int32_t>().swap(graph_head);
    std::vector<int32_t>().swap(graph_length);
}

// What rank 0 keeps of a network while the ranks sweep it.
struct RankZeroState {
    std::unique_ptr<SweepSchedule> schedule;
    std::unique_ptr<SweepTally> tally;
    CheckpointFile checkpoint;
    CheckpointHeader header;
    bool reported = false;  // its figures came from a finished record: nothing to sweep
    bool written = true;    // and standard output took them
};

// Rank 0: checks the outputs, reads the network, reports a finished record,
// or opens the checkpoint and takes in its records. Returns an empty string
// or why the network cannot be swept.
std::string prepareOnRankZero(const std::string& name, const SweepOptions& o, RankZeroState& z) {
    std::string why = checkOutputs(name, o);
    if (why.empty()) why = readNetworkFile(name);
    if (!why.empty()) return why;
    z.schedule = std::make_unique<SweepSchedule>(num_nodes, o.repetitions, rankCount());
    z.tally = std::make_unique<SweepTally>(num_nodes);
    z.header = {{num_nodes, num_arcs, 0}, o.repetitions};
    if (o.checkpoint_dir.empty()) return {};
    z.header = {fingerprintLoadedNetwork(), o.repetitions};
    if (reportFinishedRecord(name, o, z.header, z.written)) {
        z.reported = true;
        return {};
    }
    const std::string path = checkpointPath(o.checkpoint_dir, z.header);
    const RecordSink sink = [&](const ChunkRecord& r, int64_t) {
        std::string refused = z.schedule->markDone(r.chunk.repetition, r.chunk.first, r.chunk.last);
        if (refused.empty()) refused = z.tally->add(r);
        return refused;
    };
    CheckpointScan scan;
    std::string note;
    why = z.checkpoint.open(path, z.header, sink, scan, note);
    if (!note.empty()) complain(name, "the checkpoint " + path + ": " + note);
    if (why == CheckpointFile::kInUse) return "the checkpoint " + path + " is in use by another run; nothing was changed";
    if (!why.empty()) return "the checkpoint " + path + " is refused: " + why + "; it is left as it is";
    return {};
}

// Rank 0's side once the ranks hold the network.
NetworkResult coordinateNetwork(const std::string& name, const SweepOptions& o, RankZeroState& z,
                                ComputeThread& own) {
    const auto link = linkToOtherRanks();
    const int64_t resumed = z.schedule->done();
    RunProgress progress(name, o.repetitions, z.schedule->total(), resumed, o.progress_seconds);
    const std::string started = isoTimeNow();
    const auto start = std::chrono::steady_clock::now();
    Coordinator coordinator(name, *z.schedule, *z.tally, z.checkpoint, *link, own, progress);
    const RunOutcome outcome = coordinator.run();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (outcome.end == RunEnd::interrupted) {
        const std::string error = z.checkpoint.close();
        reportInterruption(name, o, outcome.signal, resumed + coordinator.sourcesRecorded(), z.schedule->total(),
                           error);
        coordinator.dismiss();
        return NetworkResult::interrupted;
    }
    if (outcome.end == RunEnd::failed) {
        z.checkpoint.close();
        complain(name, outcome.failure);
        return NetworkResult::failed;
    }
    own.finish();
    const FinishedRun run{z.header, started, wall, link->ranks(), resumed, z.schedule->chunksHandedOut()};
    return finishNetwork(name, o, *z.tally, z.checkpoint, run) ? NetworkResult::swept : NetworkResult::failed;
}

// A run cut short ends the tool at once: the compute thread may be inside a
// run of seconds, which is abandoned. Without MPI_Finalize, which would take
// the machine's copy of the network from under that run; the launchers
// (mpiexec, srun) still pass the status on.
[[noreturn]] void endInterrupted() {
    std::fflush(nullptr);
    std::_Exit(kInterruptedStatus);
}

enum Decision : int64_t { kGo = 1, kSkip = 2, kReported = 3 };

}  // namespace

void complain(const std::string& name, const std::string& why) {
    std::fflush(stdout);
    std::fprintf(stderr, "spc_sweep: %s: %s\n", name.c_str(), why.c_str());
    std::fflush(stderr);
}

bool writeOut(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0 &&
           !std::ferror(stdout);
}

std::string readNetworkFile(const std::string& name) {
    std::error_code error;
    if (std::filesystem::is_directory(name, error)) return "is a directory";
    std::filebuf file;
    errno = 0;
    if (file.open(name, std::ios::in | std::ios::binary) == nullptr) {
        return std::string("cannot be opened: ") + std::strerror(errno != 0 ? errno : ENOENT);
    }
    if (!loadNetwork(file)) return load_error;
    return {};
}

NetworkResult sweepNetwork(const std::string& name, const SweepOptions& o) {
    const bool zero = myRank() == 0;
    RankZeroState z;
    std::string why;
    if (zero) {
        try {
            why = prepareOnRankZero(name, o, z);
        } catch (const std::bad_alloc&) {
            why = "rank 0 lacks the memory for the network's bookkeeping";
        }
    }
    const int64_t decision = shareNumber(why.empty() ? (z.reported ? kReported : kGo) : kSkip);
    if (decision != kGo) {
        if (!why.empty()) complain(name, why);
        clearLoadedArcs();
        const bool failed = decision == kSkip || !z.written;
        return failed && zero ? NetworkResult::failed : NetworkResult::swept;
    }
    const ArcLayout layout = zero ? planArcLayout() : ArcLayout{};
    const uint64_t rank_zero_extra =
        static_cast<uint64_t>(num_nodes) * (SweepTally::kBytesPerSource + sizeof(int32_t)) +
        static_cast<uint64_t>(num_arcs) * 2 * sizeof(int32_t);
    why = shareNetwork(layout, rank_zero_extra);
    clearLoadedArcs();  // the engine reads the machine's copy
    if (!why.empty()) {
        if (zero) complain(name, why);
        return zero ? NetworkResult::failed : NetworkResult::swept;
    }
    NetworkResult result = NetworkResult::swept;
    {
        ComputeThread compute;
        if (zero) {
            result = coordinateNetwork(name, o, z, compute);
            if (result == NetworkResult::interrupted) endInterrupted();
        } else {
            const WorkerEnd end = serveRankZero(*linkToRankZero(), compute);
            if (end != WorkerEnd::stopped) endInterrupted();
        }
    }
    releaseNetworkCopy();
    return result;
}
