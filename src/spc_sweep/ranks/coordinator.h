// Rank 0's side of a sweep: hands chunks out to every rank (its own compute
// threads among them), takes their records back, checks them, keeps the
// checkpoint and tells how far the run is. A rank holds at most two chunks a
// compute thread, one running and one waiting, so that no thread waits for
// its next while rank 0 works.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "compute_threads.h"
#include "ranks.h"
#include "spc_sweep/checkpoint/checkpoint_file.h"
#include "spc_sweep/plan/plan.h"
#include "spc_sweep/plan/tally.h"

enum class RunEnd { complete, failed, interrupted };

struct RunOutcome {
    RunEnd end = RunEnd::complete;
    std::string failure;  // why, when failed
    int signal = 0;       // what interrupted it
};

// What the coordinator tells its caller as the run goes.
struct CoordinatorHooks {
    std::function<void(int64_t done, uint64_t cpu_ns)> progress;  // source runs done (resumed ones too)
    std::function<void(const std::string& what)> warn;           // a checkpoint that failed mid-run
};

class Coordinator {
public:
    // threads: each rank's compute threads (rank 0's are `own`).
    Coordinator(SweepSchedule& schedule, SweepTally& tally, CheckpointFile& checkpoint, RankLink& link,
                ComputeThreads& own, const std::vector<int>& threads, const CoordinatorHooks& hooks);
    // Hands out every chunk and takes every record back, until the sweep is
    // complete, fails, or a signal interrupts it: then nothing new starts,
    // the records already back (and those the other ranks send once told to
    // stop) are recorded, and it returns once every rank said goodbye.
    RunOutcome run();
    // Source runs this run has recorded (in the checkpoint when there is one).
    int64_t sourcesRecorded() const { return recorded_; }

private:
    struct Held {
        int rank;
        Chunk chunk;
    };
    void handOut();
    void take(const ChunkRecord& record);
    void record(const ChunkRecord& record);
    void keepCheckpoint(const std::string& error, const char* what);
    void fail(const std::string& why);
    void hearFromRanks();
    void interrupt(int signal);
    void partWays();
    bool allSaidBye() const;

    SweepSchedule& schedule_;
    SweepTally& tally_;
    CheckpointFile& checkpoint_;
    RankLink& link_;
    ComputeThreads& own_;
    std::vector<int> most_held_;  // two chunks a thread of each rank
    CoordinatorHooks hooks_;
    std::unordered_map<int64_t, Held> held_;  // chunk id -> who holds it
    std::vector<int> holding_;                // chunks each rank holds
    std::vector<bool> said_bye_;
    int64_t recorded_ = 0;
    int64_t done_;  // source runs done, the resumed ones included
    RunOutcome outcome_;
    bool handing_out_ = true;
    std::chrono::steady_clock::time_point wind_down_until_;
};
