#include "compute_thread.h"

#include <ctime>

uint64_t threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

ChunkRecord runChunk(Engine& engine, const Chunk& chunk, const std::function<bool()>& keep_going) {
    ChunkRecord record;
    record.chunk = chunk;
    record.sources.reserve(static_cast<size_t>(chunk.sources()));
    for (int64_t s = chunk.first; s <= chunk.last; ++s) {
        if (keep_going && !keep_going()) break;
        const uint64_t start = threadCpuNs();
        const RunFigures& f = engine.run(static_cast<int32_t>(s));
        record.cpu_ns += threadCpuNs() - start;  // the run alone, as spc_heap1 times it
        record.sources.push_back({f.reached, f.sum, engine.largestLabel(), f.scans});
    }
    return record;
}

ComputeThread::ComputeThread(const ArcTable& table) {
    engine_.prepare(table, EngineUse::figures);
    thread_ = std::thread([this] { loop(); });
}

ComputeThread::~ComputeThread() {
    finish();
}

void ComputeThread::loop() {
    for (;;) {
        Chunk chunk;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            work_.wait(lock, [this] { return abandoned_ || finishing_ || !todo_.empty(); });
            if (abandoned_ || todo_.empty()) return;
            chunk = todo_.front();
            todo_.pop_front();
            running_ = true;
        }
        ChunkRecord record = runChunk(engine_, chunk, [this] {
            std::lock_guard<std::mutex> lock(mutex_);
            return !abandoned_;
        });
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_ = false;
            if (abandoned_) return;
            done_.push_back(std::move(record));
        }
        results_.notify_all();
    }
}

void ComputeThread::give(const Chunk& chunk) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        todo_.push_back(chunk);
    }
    work_.notify_one();
}

bool ComputeThread::take(ChunkRecord& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_.empty()) return false;
    record = std::move(done_.front());
    done_.pop_front();
    return true;
}

int ComputeThread::held() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(todo_.size() + done_.size()) + (running_ ? 1 : 0);
}

void ComputeThread::waitForRecord(std::chrono::microseconds most) {
    std::unique_lock<std::mutex> lock(mutex_);
    results_.wait_for(lock, most, [this] { return !done_.empty(); });
}

void ComputeThread::abandon() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = true;
        todo_.clear();  // the records already done stay to be taken
    }
    work_.notify_one();
}

void ComputeThread::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    work_.notify_one();
    if (thread_.joinable()) thread_.join();
}
