#include "coordinator.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "signals.h"

namespace {

constexpr int kHeldPerThread = 2;
// How long rank 0 waits for the others' goodbyes at the end of a network.
constexpr double kGoodbyeSeconds = 10;

std::string sourcesOf(const Chunk& c) {
    return "sources " + std::to_string(c.first) + ".." + std::to_string(c.last) + " of repetition " +
           std::to_string(int64_t{c.repetition} + 1);
}

}  // namespace

Coordinator::Coordinator(SweepSchedule& schedule, SweepTally& tally, CheckpointFile& checkpoint, RankLink& link,
                         ComputeThreads& own, const std::vector<int>& threads, const CoordinatorHooks& hooks)
    : schedule_(schedule),
      tally_(tally),
      checkpoint_(checkpoint),
      link_(link),
      own_(own),
      most_held_(static_cast<size_t>(link.ranks()), kHeldPerThread),
      hooks_(hooks),
      holding_(static_cast<size_t>(link.ranks()), 0),
      said_bye_(static_cast<size_t>(link.ranks()), false),
      done_(schedule.done()) {
    for (size_t rank = 0; rank < most_held_.size() && rank < threads.size(); ++rank) {
        most_held_[rank] = kHeldPerThread * std::max(threads[rank], 1);
    }
}

// Keeps every rank's two chunks a thread, rank 0's own compute threads first.
void Coordinator::handOut() {
    for (int rank = 0; rank < link_.ranks() && handing_out_; ++rank) {
        Chunk chunk;
        while (holding_[static_cast<size_t>(rank)] < most_held_[static_cast<size_t>(rank)] && schedule_.next(chunk)) {
            held_[chunk.id] = {rank, chunk};
            ++holding_[static_cast<size_t>(rank)];
            if (rank == 0) {
                own_.give(chunk);
            } else {
                link_.assign(rank, chunk);
            }
        }
    }
}

// A record is a figure only from the rank that holds its chunk, whole.
void Coordinator::take(const ChunkRecord& r) {
    const auto held = held_.find(r.chunk.id);
    if (held == held_.end() || held->second.rank != r.rank || held->second.chunk.first != r.chunk.first ||
        held->second.chunk.last != r.chunk.last || held->second.chunk.repetition != r.chunk.repetition) {
        fail("rank " + std::to_string(r.rank) + " sent figures for " + sourcesOf(r.chunk) +
             ", which it was not given; a rank may be at fault, so no figure is reported");
        return;
    }
    --holding_[static_cast<size_t>(r.rank)];
    held_.erase(held);
    if (outcome_.end != RunEnd::failed) record(r);  // a stop keeps what came back
}

void Coordinator::record(const ChunkRecord& r) {
    const auto unknown = tally_.unknownStretches(r.chunk.first, r.chunk.last);
    const std::string disagreement = tally_.add(r);
    if (!disagreement.empty()) {
        fail(disagreement);
        return;
    }
    done_ += r.chunk.sources();
    if (checkpoint_.isOpen()) {
        keepCheckpoint(checkpoint_.appendChunk(r, unknown), "written");
        if (checkpoint_.isOpen() && checkpoint_.compactionDue(tally_.knownSources())) {
            keepCheckpoint(checkpoint_.compact(tally_), "written anew");
        }
        if (checkpoint_.isOpen()) recorded_ += r.chunk.sources();
    } else {
        recorded_ += r.chunk.sources();
    }
    if (hooks_.progress) hooks_.progress(done_, tally_.cpuNs());
}

// A checkpoint that fails mid-run: the figures are still right, so the run
// goes on without it.
void Coordinator::keepCheckpoint(const std::string& error, const char* what) {
    if (error.empty()) return;
    if (hooks_.warn) hooks_.warn("the checkpoint cannot be " + std::string(what) + " (" + error + "); the run goes on without it");
    checkpoint_.closeKeeping();
}

// A run already interrupted stays so: it ends with the signal's status, and
// what failed is found again when the same command resumes.
void Coordinator::fail(const std::string& why) {
    if (outcome_.end == RunEnd::complete) outcome_ = {RunEnd::failed, why, 0};
    handing_out_ = false;
}

void Coordinator::hearFromRanks() {
    ChunkRecord r;
    while (own_.take(r)) {
        r.rank = 0;
        take(r);
    }
    FromRank message;
    while (link_.receive(message)) {
        if (message.kind == FromRank::record) {
            take(message.chunk_record);
        } else if (message.kind == FromRank::interrupted) {
            if (outcome_.end != RunEnd::interrupted) interrupt(interruption());  // 0: another rank's signal
        } else {
            said_bye_[static_cast<size_t>(message.rank)] = true;
        }
    }
}

// Starts nothing new; the run in progress here is dropped, and what has
// come back is still recorded: this thread's finished chunks, and what the
// other ranks send once told, until they say goodbye.
void Coordinator::interrupt(int signal) {
    outcome_ = {RunEnd::interrupted, {}, signal};
    handing_out_ = false;
    own_.abandon();
    for (int rank = 1; rank < link_.ranks(); ++rank) link_.stop(rank, true);
    wind_down_until_ = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                              std::chrono::duration<double>(kGoodbyeSeconds));
}

bool Coordinator::allSaidBye() const {
    return std::all_of(said_bye_.begin() + 1, said_bye_.end(), [](bool b) { return b; });
}

// Tells the others to stop, and waits for their goodbyes: after one, nothing
// of this network comes from that rank any more, so the next network starts
// clean. Records that come meanwhile count for nothing (the run is complete
// or failed).
void Coordinator::partWays() {
    own_.abandon();
    for (int rank = 1; rank < link_.ranks(); ++rank) link_.stop(rank, false);
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(kGoodbyeSeconds);
    FromRank message;
    while (!allSaidBye() && std::chrono::steady_clock::now() < until) {
        while (link_.receive(message)) {
            if (message.kind == FromRank::bye) said_bye_[static_cast<size_t>(message.rank)] = true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    link_.flush(1);
}

RunOutcome Coordinator::run() {
    for (;;) {
        if (interruption() != 0 && outcome_.end != RunEnd::interrupted) interrupt(interruption());
        // Records first, then new chunks at once: a rank's next chunk is
        // always queued while it works, so a slow wake-up costs no run time.
        hearFromRanks();
        handOut();
        if (outcome_.end == RunEnd::interrupted) {
            if (allSaidBye() || std::chrono::steady_clock::now() > wind_down_until_) {
                link_.flush(0.5);
                break;
            }
        } else if (outcome_.end == RunEnd::failed || (held_.empty() && schedule_.left() == 0)) {
            partWays();
            break;
        }
        keepCheckpoint(checkpoint_.syncIfDue(), "synced");
        own_.waitForRecord(std::chrono::microseconds(link_.ranks() > 1 ? 1000 : 100000));
    }
    if (outcome_.end == RunEnd::complete && done_ != schedule_.total()) {
        fail("only " + std::to_string(done_) + " of the " + std::to_string(schedule_.total()) +
             " source runs came back; a rank may be at fault, so no figure is reported");
    }
    return outcome_;
}
