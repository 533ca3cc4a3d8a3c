#include "simulation.h"

#include <algorithm>
#include <queue>
#include <utility>
#include <vector>

SimulatedRun simulateRun(int64_t nodes, int repetitions, int ranks, Handout handout,
                         const std::function<double(int64_t)>& source_seconds, double handout_seconds) {
    SweepSchedule schedule(nodes, repetitions, ranks, handout);
    SimulatedRun run;
    run.ranks = ranks;
    struct Held {
        double arrives;
        double takes;
    };
    // Each rank holds at most two chunks: the one it runs, and the next.
    struct Holding {
        Held chunks[2];
        int count = 0;
        bool empty() const { return count == 0; }
        const Held& front() const { return chunks[0]; }
        void pop_front() {
            chunks[0] = chunks[1];
            --count;
        }
        void push_back(const Held& h) { chunks[count++] = h; }
    };
    std::vector<Holding> held(static_cast<size_t>(ranks));
    // (time the running chunk ends, rank), earliest first.
    std::priority_queue<std::pair<double, int>, std::vector<std::pair<double, int>>, std::greater<>> ends;

    const auto handOut = [&](int rank, double now) {
        Chunk chunk;
        if (!schedule.next(chunk)) return;
        double takes = 0;
        for (int64_t s = chunk.first; s <= chunk.last; ++s) takes += source_seconds(s);
        held[static_cast<size_t>(rank)].push_back({now + handout_seconds, takes});
        run.busy_seconds += takes;
        ++run.chunks;
    };
    const auto startNext = [&](int rank, double now) {
        Holding& h = held[static_cast<size_t>(rank)];
        if (h.empty()) return;
        const double start = std::max(now, h.front().arrives);
        ends.emplace(start + h.front().takes, rank);
    };
    for (int rank = 0; rank < ranks; ++rank) {
        handOut(rank, 0);
        handOut(rank, 0);
        startNext(rank, 0);
    }
    while (!ends.empty()) {
        const auto [now, rank] = ends.top();
        ends.pop();
        held[static_cast<size_t>(rank)].pop_front();
        run.wall_seconds = std::max(run.wall_seconds, now);
        handOut(rank, now);
        startNext(rank, now);
    }
    return run;
}
