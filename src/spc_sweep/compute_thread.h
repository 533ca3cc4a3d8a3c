// A rank's compute thread, the only thread that touches the engine: the
// rank's main thread gives it chunks and takes their records, and meanwhile
// talks to the other ranks, keeps the checkpoint and watches for signals.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "sweep_tally.h"

class ComputeThread {
public:
    ComputeThread();
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
