#include "compute_threads.h"

#include <sched.h>

#include <algorithm>
#include <ctime>

uint64_t threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

namespace {

int32_t nodeOf(const RunChoices& choices, int64_t position) {
    return choices.nodes ? (*choices.nodes)[static_cast<size_t>(position - 1)] : static_cast<int32_t>(position);
}

}  // namespace

ChunkRecord runChunk(Engine& engine, const Chunk& chunk, const std::function<bool()>& keep_going,
                     const RunChoices& choices) {
    ChunkRecord record;
    record.chunk = chunk;
    record.sources.reserve(static_cast<size_t>(chunk.sources()));
    for (int64_t s = chunk.first; s <= chunk.last; ++s) {
        if (keep_going && !keep_going()) break;
        const uint64_t start = threadCpuNs();
        const RunFigures& f = engine.run(nodeOf(choices, s));
        record.cpu_ns += threadCpuNs() - start;  // the run alone, as spc_heap1 times it
        record.sources.push_back(
            {f.reached, f.sum, engine.largestLabel(), f.scans, choices.harmonic ? engine.harmonicOfRun() : -1});
    }
    return record;
}

ChunkRecord runChunk(PhastEngine& engine, const Chunk& chunk, const std::function<bool()>& keep_going,
                     const RunChoices& choices) {
    ChunkRecord record;
    record.chunk = chunk;
    record.sources.reserve(static_cast<size_t>(chunk.sources()));
    int32_t sources[kMostTrees];
    TreeFigures figures[kMostTrees];
    for (int64_t s = chunk.first; s <= chunk.last;) {
        if (keep_going && !keep_going()) break;
        const int count = static_cast<int>(std::min<int64_t>(engine.trees(), chunk.last - s + 1));
        for (int t = 0; t < count; ++t) sources[t] = nodeOf(choices, s + t);
        const uint64_t start = threadCpuNs();
        engine.run(sources, count, figures);
        record.cpu_ns += threadCpuNs() - start;
        for (int t = 0; t < count; ++t) {
            record.sources.push_back(
                {figures[t].reached, figures[t].sum, figures[t].largest, figures[t].scans, figures[t].harmonic});
        }
        s += count;
    }
    return record;
}

namespace {

class HeapRunner : public ChunkRunner {
public:
    HeapRunner(const ArcTable& table, const RunChoices& choices) : choices_(choices) {
        engine_.prepare(table, EngineUse::figures);
    }
    ChunkRecord run(const Chunk& chunk, const std::function<bool()>& keep_going) override {
        return runChunk(engine_, chunk, keep_going, choices_);
    }

private:
    Engine engine_;
    RunChoices choices_;
};

class PhastRunner : public ChunkRunner {
public:
    PhastRunner(const HierarchyView& hierarchy, const RunChoices& choices) : choices_(choices) {
        engine_.prepare(hierarchy, kMostTrees);
        engine_.setHarmonic(choices.harmonic);
    }
    ChunkRecord run(const Chunk& chunk, const std::function<bool()>& keep_going) override {
        return runChunk(engine_, chunk, keep_going, choices_);
    }

private:
    PhastEngine engine_;
    RunChoices choices_;
};

}  // namespace

std::unique_ptr<ChunkRunner> heapRunner(const ArcTable& table, const RunChoices& choices) {
    return std::make_unique<HeapRunner>(table, choices);
}
std::unique_ptr<ChunkRunner> phastRunner(const HierarchyView& hierarchy, const RunChoices& choices) {
    return std::make_unique<PhastRunner>(hierarchy, choices);
}

ComputeThreads::ComputeThreads(const ArcTable& table, int count, const RunChoices& choices) {
    for (int i = 0; i < count; ++i) runners_.push_back(heapRunner(table, choices));
    start();
}

ComputeThreads::ComputeThreads(int count, const std::function<std::unique_ptr<ChunkRunner>()>& make) {
    for (int i = 0; i < count; ++i) runners_.push_back(make());
    start();
}

void ComputeThreads::start() {
    for (const auto& runner : runners_) threads_.emplace_back([this, r = runner.get()] { loop(*r); });
}

ComputeThreads::~ComputeThreads() { finish(); }

void ComputeThreads::loop(ChunkRunner& runner) {
    for (;;) {
        Chunk chunk;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            work_.wait(lock, [this] { return abandoned_ || finishing_ || !todo_.empty(); });
            if (abandoned_ || todo_.empty()) return;
            chunk = todo_.front();
            todo_.pop_front();
            ++running_;
        }
        ChunkRecord record = runner.run(chunk, [this] { return !abandoned_; });
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --running_;
            if (abandoned_) return;  // incomplete, or not wanted any more
            done_.push_back(std::move(record));
        }
        results_.notify_all();
    }
}

void ComputeThreads::give(const Chunk& chunk) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        todo_.push_back(chunk);
    }
    work_.notify_one();
}

bool ComputeThreads::take(ChunkRecord& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_.empty()) return false;
    record = std::move(done_.front());
    done_.pop_front();
    return true;
}

int ComputeThreads::held() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(todo_.size() + done_.size()) + running_;
}

void ComputeThreads::waitForRecord(std::chrono::microseconds most) {
    std::unique_lock<std::mutex> lock(mutex_);
    results_.wait_for(lock, most, [this] { return !done_.empty(); });
}

void ComputeThreads::abandon() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = true;
        todo_.clear();  // the records already done stay to be taken
    }
    work_.notify_all();
}

void ComputeThreads::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_) {
        if (t.joinable()) t.join();
    }
}

int allowedCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return std::max(1, CPU_COUNT(&set));
}
