#include "sweep_network.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#include "engine/shortest_path.h"
#include "loader/network_loader.h"
#include "report/report.h"
#include "sweep/progress_line.h"
#include "sweep_blocks.h"
#include "sweep_checkpoint.h"
#include "sweep_ranks.h"

namespace {

void complain(const std::string& name, const std::string& why) {
    std::fflush(stdout);
    std::fprintf(stderr, "spc_sweep: %s: %s\n", name.c_str(), why.c_str());
}

// Loads the network from the file, opened for reading only. Returns an empty
// string or why it cannot be swept.
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

// Appends the line to the run log with one write. Returns an empty string or
// the error.
std::string appendToLog(const std::string& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return std::strerror(errno);
    const ssize_t written = ::write(fd, line.data(), line.size());
    const int write_errno = errno;
    if (::close(fd) != 0 && written == static_cast<ssize_t>(line.size())) return std::strerror(errno);
    if (written != static_cast<ssize_t>(line.size())) return written < 0 ? std::strerror(write_errno) : "short write";
    return {};
}

// Why a rank's record for a unit it was not given stops the sweep.
std::string strayRecord(const SweepPlan& plan, const UnitRecord& r) {
    return "rank " + std::to_string(r.rank) + " sent figures for block run " + std::to_string(r.unit) + " of " +
           std::to_string(plan.units()) + ", which it was not given; a rank may be at fault, so no figure is reported";
}

// Rank 0's side of a sweep: runs units itself and hands them out to the
// other ranks, two at a time so that none waits for its next one; records
// every finished unit. Returns an empty string or why the sweep failed.
std::string coordinate(const std::string& name, const SweepPlan& plan, SweepTally& tally, CheckpointWriter& checkpoint) {
    std::deque<int64_t> pending;
    for (int64_t unit = 0; unit < plan.units(); ++unit) {
        if (!tally.has(unit)) pending.push_back(unit);
    }
    const int ranks = rankCount();
    std::vector<int> outstanding(static_cast<size_t>(ranks), 0);
    // The rank each unit was handed to, so that a record from any other rank,
    // or one that never comes, is a fault and not a figure.
    std::vector<int> holder(static_cast<size_t>(plan.units()), -1);
    std::vector<bool> stopped(static_cast<size_t>(ranks), false);
    stopped[0] = true;
    std::string failure;
    ProgressLine progress(plan.repetitions);

    auto record = [&](const UnitRecord& r) {
        const std::string disagreement = tally.add(r);
        if (!disagreement.empty()) {
            if (failure.empty()) failure = disagreement;
            pending.clear();  // the others finish what they hold, and stop
            return;
        }
        if (checkpoint.isOpen()) {
            const std::string error = checkpoint.append(r);
            if (!error.empty()) {
                complain(name, "the checkpoint cannot be written (" + error + "); the run goes on without it");
                checkpoint.close(false);
            }
        }
        progress.update(tally.unitsDone(), plan.units());
    };
    auto reply = [&](int rank) {
        const size_t r = static_cast<size_t>(rank);
        if (!pending.empty()) {
            sendUnit(rank, pending.front());
            holder[static_cast<size_t>(pending.front())] = rank;
            pending.pop_front();
            ++outstanding[r];
        } else if (outstanding[r] == 0 && !stopped[r]) {
            sendUnit(rank, kNoMoreUnits);
            stopped[r] = true;
        }
    };
    // Takes a record that has come, if any, and answers its rank.
    auto serve = [&] {
        UnitRecord r;
        if (!receiveRecord(r)) return false;
        --outstanding[static_cast<size_t>(r.rank)];
        if (r.unit < 0 || r.unit >= plan.units() || holder[static_cast<size_t>(r.unit)] != r.rank) {
            if (failure.empty()) failure = strayRecord(plan, r);
            pending.clear();
        } else {
            holder[static_cast<size_t>(r.unit)] = -1;
            record(r);
        }
        reply(r.rank);
        return true;
    };
    auto keep_synced = [&] {
        const std::string error = checkpoint.syncIfDue();
        if (!error.empty()) {
            complain(name, "the checkpoint cannot be synced (" + error + "); the run goes on without it");
            checkpoint.close(false);
        }
    };
    const auto serve_waiting = [&] {
        while (serve()) {
        }
        keep_synced();
    };

    for (int rank = 1; rank < ranks; ++rank) {
        reply(rank);
        reply(rank);
    }
    for (;;) {
        serve_waiting();
        if (!pending.empty()) {
            const int64_t unit = pending.front();
            pending.pop_front();
            UnitRecord r = runUnit(plan, unit, serve_waiting);
            r.rank = 0;
            record(r);
        } else if (std::all_of(stopped.begin(), stopped.end(), [](bool s) { return s; })) {
            break;
        } else if (!serve()) {
            keep_synced();  // waiting for the others, who send what is left
        }
    }
    progress.end();
    if (failure.empty() && tally.unitsDone() != plan.units()) {
        failure = "only " + std::to_string(tally.unitsDone()) + " of the " + std::to_string(plan.units()) +
                  " block runs came back; a rank may be at fault, so no figure is reported";
    }
    return failure;
}

// The other ranks' side: run the units rank 0 sends until it says no more.
void work(const SweepPlan& plan) {
    std::deque<int64_t> queue;
    for (;;) {
        int64_t unit = 0;
        while (receiveUnit(false, unit)) {
            if (unit == kNoMoreUnits) return;
            queue.push_back(unit);
        }
        if (queue.empty()) {
            receiveUnit(true, unit);
            if (unit == kNoMoreUnits) return;
            queue.push_back(unit);
        }
        unit = queue.front();
        queue.pop_front();
        sendRecord(runUnit(plan, unit));
    }
}

// Rank 0: reads the network and its checkpoint, and opens the checkpoint to
// record what this run adds. Returns an empty string or why the network
// cannot be swept.
std::string prepareOnRankZero(const std::string& name, const SweepOptions& options, CheckpointContents& contents,
                              CheckpointWriter& checkpoint) {
    const std::string why = readNetworkFile(name);
    if (!why.empty()) return why;
    if (options.checkpoint_dir.empty()) return {};
    const SweepPlan plan = planSweep(num_nodes, options.repetitions);
    const CheckpointHeader header{fingerprintLoadedNetwork(), options.repetitions, plan.block_size};
    std::error_code error;
    std::filesystem::create_directories(options.checkpoint_dir, error);
    if (error) return "the checkpoint directory " + options.checkpoint_dir + " cannot be made: " + error.message();
    const std::string path = checkpointPath(options.checkpoint_dir, header);
    const std::string refused = readCheckpoint(path, header, contents);
    if (!refused.empty()) return "the checkpoint " + path + " is refused: " + refused + "; it is left as it is";
    const std::string unwritable = checkpoint.open(path, header, contents.good_bytes);
    if (!unwritable.empty()) return "the checkpoint " + path + " cannot be written: " + unwritable;
    return {};
}

}  // namespace

std::string sweepSummaryLine(int ranks, const std::string& build, double wall_seconds, double cpu_seconds,
                             int32_t blocks, int32_t block_size, int repetitions, int64_t resumed_units) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "spc_sweep: %d rank%s (%s); wall-clock %.2f s; processor time in the runs %.2f s; %d block%s of "
                  "up to %d source%s, %d repetition%s; %lld block run%s resumed from the checkpoint\n",
                  ranks, ranks == 1 ? "" : "s", build.c_str(), wall_seconds, cpu_seconds, blocks, blocks == 1 ? "" : "s",
                  block_size, block_size == 1 ? "" : "s", repetitions, repetitions == 1 ? "" : "s",
                  static_cast<long long>(resumed_units), resumed_units == 1 ? "" : "s");
    return line;
}

bool sweepNetwork(const std::string& name, const SweepOptions& options) {
    const bool rank_zero = myRank() == 0;
    CheckpointContents contents;
    CheckpointWriter checkpoint;
    std::string why;
    if (rank_zero) why = prepareOnRankZero(name, options, contents, checkpoint);
    if (!shareFlag(why.empty())) {
        if (rank_zero) complain(name, why);
        return false;
    }
    if (!shareNetwork()) {
        if (rank_zero) {
            complain(name, "not every rank has the memory for " + std::to_string(num_nodes) + " nodes and " +
                               std::to_string(num_arcs) + " arcs");
        }
        return false;
    }
    prepareEngine();
    const SweepPlan plan = planSweep(num_nodes, options.repetitions);
    if (!rank_zero) {
        work(plan);
        return true;
    }

    SweepTally tally(plan);
    for (const UnitRecord& r : contents.records) tally.add(r);
    const int64_t resumed = tally.unitsDone();
    const auto start = std::chrono::steady_clock::now();
    const std::string failure = coordinate(name, plan, tally, checkpoint);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!failure.empty()) {
        checkpoint.close(false);
        complain(name, failure);
        return false;
    }

    const int128 sum = tally.sum();
    const int64_t trivial = tally.scans();
    const int128 nontrivial = tripleCount(num_nodes) - trivial;
    const float time = tally.timePerSweep();
    std::cout << resultLines(sum, time, trivial, nontrivial)
              << sweepSummaryLine(rankCount(), ranksBuild(), wall, static_cast<double>(tally.cpuNs()) / 1e9,
                                  plan.blocks, plan.block_size, plan.repetitions, resumed)
              << std::flush;
    const std::string log_error = appendToLog(options.log_file, runLogLine(name, sum, time, trivial, nontrivial));
    if (!log_error.empty()) {
        checkpoint.close(false);
        complain(name, "the run log " + options.log_file + " cannot be written: " + log_error +
                           (options.checkpoint_dir.empty() ? "" : "; the checkpoint is kept"));
        return false;
    }
    const std::string removed = checkpoint.close(true);
    if (!removed.empty()) complain(name, "the finished checkpoint cannot be removed: " + removed);
    return true;
}
