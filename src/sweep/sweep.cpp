// The timed sweep over all sources and its figures.
#include "sweep.h"

#include <ctime>
#include <functional>

#include "program/program_engine.h"
#include "report/progress_line.h"
#include "report/report.h"

namespace {

// Processor time used so far, in whole milliseconds.
uint64_t processorMilliseconds() {
    return static_cast<uint64_t>(std::clock()) * 1000 / CLOCKS_PER_SEC;
}

// Sources run between two looks at the clock: cheap against even a small run.
constexpr int32_t kSourcesPerLook = 8;

}  // namespace

float timePerSweep(uint64_t start_ms, uint64_t end_ms) {
    return static_cast<float>(end_ms - start_ms) * 0.25f;
}

void sweepSources(const std::function<void(int32_t)>& after_source) {
    const int32_t n = num_nodes;
    trivial_triple_comparisons = 0;
    nontrivial_triple_comparisons = 0;
    // A 64-bit count, so that a network of 2^31 - 1 nodes ends too.
    for (int64_t s = 1; s <= n; ++s) {
        user_source_node = static_cast<int32_t>(s);
        heap();
        one_to_all_distance[static_cast<size_t>(s) - 1] = settled_sum;
        if (after_source) after_source(static_cast<int32_t>(s));
    }
}

SweepResult sweepAllSources() {
    const int32_t n = num_nodes;
    one_to_all_distance.assign(n > 0 ? static_cast<size_t>(n) : 0, 0);
    prepareEngine();
    ProgressLine progress;
    int32_t until_look = kSourcesPerLook;
    int repetition = 0;
    std::function<void(int32_t)> show;
    if (progress.active()) {
        show = [&](int32_t s) {
            if (--until_look != 0) return;
            until_look = kSourcesPerLook;
            progress.update(int64_t{repetition} * n + s, int64_t{4} * n);
        };
    }
    my_timer = processorMilliseconds();
    for (; repetition < 4; ++repetition) {
        if (n < 1) {
            trivial_triple_comparisons = 0;
            nontrivial_triple_comparisons = 0;
            break;
        }
        sweepSources(show);
    }
    const float time = timePerSweep(my_timer, processorMilliseconds());
    progress.end();

    int128 sum_of_distances = 0;
    for (int128 x : one_to_all_distance) sum_of_distances += x;
    triple_comparisons = static_cast<int128>(n) * (n - 1);
    total_triple_comparisons = tripleCount(n);
    nontrivial_triple_comparisons = total_triple_comparisons - trivial_triple_comparisons;
    return {sum_of_distances, time};
}
