// A rank's compute threads, each with an engine of its own over the rank's
// one copy of the arc table: the rank's main thread gives them chunks and
// takes their records, and meanwhile talks to the other ranks, keeps the
// checkpoint and watches for signals. A chunk given goes to whichever thread
// is free first.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "phast/phast_engine.h"
#include "spc_sweep/plan/tally.h"

// Processor time of the calling thread in nanoseconds.
uint64_t threadCpuNs();

// What the runs of a sweep give: a chunk's sources are positions 1..K of a
// list of chosen nodes (nodes[position - 1]), or the nodes themselves when
// the list is null; the harmonic sums are worked out only when wanted (a
// per-source file shows them), else they are -1.
struct RunChoices {
    const std::vector<int32_t>* nodes = nullptr;
    bool harmonic = true;
};

// Runs the chunk's sources on the engine (prepared). keep_going, when set,
// is asked before each source; the chunk stops at the first false and its
// record is then incomplete.
ChunkRecord runChunk(Engine& engine, const Chunk& chunk, const std::function<bool()>& keep_going = {},
                     const RunChoices& choices = {});
// The same with PHAST, the engine's trees() sources a pass; keep_going is
// asked before each pass. The processor time is the passes'.
ChunkRecord runChunk(PhastEngine& engine, const Chunk& chunk, const std::function<bool()>& keep_going = {},
                     const RunChoices& choices = {});

// What one compute thread runs chunks with: an engine of its own.
class ChunkRunner {
public:
    virtual ~ChunkRunner() = default;
    virtual ChunkRecord run(const Chunk& chunk, const std::function<bool()>& keep_going) = 0;
};
// A heap engine over the table, for the figures alone; PHAST engines of
// kMostTrees trees over the hierarchy. Both throw std::bad_alloc when the
// memory is short.
std::unique_ptr<ChunkRunner> heapRunner(const ArcTable& table, const RunChoices& choices = {});
std::unique_ptr<ChunkRunner> phastRunner(const HierarchyView& hierarchy, const RunChoices& choices = {});

class ComputeThreads {
public:
    // Prepares `count` heap engines over the table (throws std::bad_alloc
    // when the memory is short), and starts a thread for each.
    ComputeThreads(const ArcTable& table, int count, const RunChoices& choices = {});
    // The same with the runners that `make` gives, one a thread.
    ComputeThreads(int count, const std::function<std::unique_ptr<ChunkRunner>()>& make);
    ~ComputeThreads();  // finish() unless abandoned, then waits for the threads
    ComputeThreads(const ComputeThreads&) = delete;
    ComputeThreads& operator=(const ComputeThreads&) = delete;

    int count() const { return static_cast<int>(threads_.size()); }
    void give(const Chunk& chunk);
    // A finished chunk's record, if one is ready.
    bool take(ChunkRecord& record);
    // Chunks given and not yet taken back.
    int held() const;
    // Waits until a record is ready or the time has passed.
    void waitForRecord(std::chrono::microseconds most);
    // Drops every chunk not yet finished: each thread stops after the source
    // it is in and gives back nothing more, but the records of the chunks
    // finished stay to be taken. The process may end without waiting.
    void abandon();
    // No more chunks: waits for the threads to run those they hold and end.
    void finish();

private:
    void start();
    void loop(ChunkRunner& runner);
    std::vector<std::unique_ptr<ChunkRunner>> runners_;
    mutable std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable results_;
    std::deque<Chunk> todo_;
    std::deque<ChunkRecord> done_;
    int running_ = 0;
    bool finishing_ = false;
    std::atomic<bool> abandoned_{false};
    std::vector<std::thread> threads_;
};

// The cores this process may run on (its CPU affinity: what Slurm and
// taskset allow), at least 1.
int allowedCores();
