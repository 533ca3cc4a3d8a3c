// A rank's compute thread, with an engine of its own over the rank's copy of
// the arc table: the rank's main thread gives it chunks and takes their
// records, and meanwhile talks to the other ranks, keeps the checkpoint and
// watches for signals.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/engine.h"
#include "spc_sweep/plan/tally.h"

// Processor time of the calling thread in nanoseconds.
uint64_t threadCpuNs();

// Runs the chunk's sources on the engine (prepared). keep_going, when set,
// is asked before each source; the chunk stops at the first false and its
// record is then incomplete.
ChunkRecord runChunk(Engine& engine, const Chunk& chunk, const std::function<bool()>& keep_going = {});

class ComputeThread {
public:
    // Prepares the thread's engine over the table, for the figures alone
    // (throws std::bad_alloc when the memory is short), and starts it.
    explicit ComputeThread(const ArcTable& table);
    ~ComputeThread();  // finish() unless abandoned, then waits for the thread
    ComputeThread(const ComputeThread&) = delete;
    ComputeThread& operator=(const ComputeThread&) = delete;

    void give(const Chunk& chunk);
    // A finished chunk's record, if one is ready.
    bool take(ChunkRecord& record);
    // Chunks given and not yet taken back.
    int held() const;
    // Waits until a record is ready or the time has passed.
    void waitForRecord(std::chrono::microseconds most);
    // Drops every chunk not yet finished: the thread stops after the source
    // it is in and gives back nothing more, but the records of the chunks it
    // finished stay to be taken. The process may end without waiting for it.
    void abandon();
    // No more chunks: waits for the thread to run those it holds and end.
    void finish();

private:
    void loop();
    Engine engine_;
    mutable std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable results_;
    std::deque<Chunk> todo_;
    std::deque<ChunkRecord> done_;
    bool running_ = false;
    bool finishing_ = false;
    bool abandoned_ = false;
    std::thread thread_;
};
