// The batch tool's plan: the schedule of chunks, the simulation of a run,
// the estimate's statistics and sample, the tally.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>

#include "program/program_engine.h"
#include "engine_support.h"
#include "generator/network_generator.h"
#include "spc_sweep/ranks/compute_threads.h"
#include "spc_sweep/plan/sample.h"
#include "spc_sweep/plan/plan.h"
#include "spc_sweep/plan/simulation.h"
#include "spc_sweep/plan/tally.h"
#include "sweep/sweep.h"
#include "test_support.h"

namespace {

// Every chunk the schedule hands out, with what each source of each
// repetition was given; checks that no source is given twice.
std::vector<Chunk> drain(SweepSchedule& schedule, std::map<std::pair<int, int64_t>, int>& given) {
    std::vector<Chunk> chunks;
    Chunk c;
    while (schedule.next(c)) {
        EXPECT_GE(c.sources(), 1);
        EXPECT_LE(c.sources(), kLargestChunk);
        for (int64_t s = c.first; s <= c.last; ++s) {
            const std::pair<int, int64_t> run{c.repetition, s};
            EXPECT_EQ(++given[run], 1) << s;
        }
        chunks.push_back(c);
    }
    EXPECT_EQ(schedule.left(), 0);
    return chunks;
}

TEST(SweepSchedule, EverySourceOfEveryRepetitionOnceForAnyRanksAndResumes) {
    std::mt19937_64 random(5);
    for (int64_t n : {1, 2, 63, 64, 65, 130, 1000, 4097}) {
        for (int ranks : {1, 2, 3, 64, 1000}) {
            for (int repetitions : {1, 3}) {
                SCOPED_TRACE("n " + std::to_string(n) + ", P " + std::to_string(ranks) + ", R " +
                             std::to_string(repetitions));
                SweepSchedule first(n, repetitions, ranks);
                std::map<std::pair<int, int64_t>, int> given;
                const std::vector<Chunk> chunks = drain(first, given);
                ASSERT_EQ(static_cast<int64_t>(given.size()), n * repetitions);
                // Guided: the last 2P chunks hold one source each, where the run is large enough.
                if (n * repetitions >= 4 * ranks) {
                    EXPECT_EQ(chunks.back().sources(), 1);
                }
                // Resumed under other ranks: some chunks were recorded, in no order.
                SweepSchedule resumed(n, repetitions, ranks == 1 ? 7 : 1);
                std::map<std::pair<int, int64_t>, int> again;
                for (const Chunk& c : chunks) {
                    if (random() % 3 != 0) continue;
                    ASSERT_EQ(resumed.markDone(c.repetition, c.first, c.last), "");
                    for (int64_t s = c.first; s <= c.last; ++s) again[std::make_pair(c.repetition, s)] = 1;
                }
                const int64_t marked = static_cast<int64_t>(again.size());
                EXPECT_EQ(resumed.done(), marked);
                drain(resumed, again);
                EXPECT_EQ(static_cast<int64_t>(again.size()), n * repetitions);
            }
        }
    }
}

TEST(SweepSchedule, RefusesRecordsOutOfRangeOrTwiceAndReachesTheLastId) {
    SweepSchedule s(100, 2, 4);
    EXPECT_EQ(s.markDone(0, 10, 20), "");
    EXPECT_EQ(s.markDone(0, 21, 21), "");
    EXPECT_EQ(s.markDone(1, 10, 20), "");
    EXPECT_EQ(s.markDone(0, 20, 30), "sources of 20..30 in repetition 1 are recorded twice");
    EXPECT_EQ(s.markDone(0, 5, 10), "sources of 5..10 in repetition 1 are recorded twice");
    EXPECT_EQ(s.markDone(0, 1, 100), "sources of 1..100 in repetition 1 are recorded twice");
    EXPECT_EQ(s.markDone(2, 1, 1), "sources 1..1 of repetition 3 are out of range");
    EXPECT_EQ(s.markDone(0, 0, 1), "sources 0..1 of repetition 1 are out of range");
    EXPECT_EQ(s.markDone(0, 90, 101), "sources 90..101 of repetition 1 are out of range");
    // A network of 2^31 - 1 nodes: the last source is handed out, and no count overflows.
    const int64_t most = 2147483647;
    SweepSchedule huge(most, 1000000, 1024);
    EXPECT_EQ(huge.total(), most * 1000000);
    ASSERT_EQ(huge.markDone(999999, 1, most - 3), "");
    Chunk c;
    ASSERT_TRUE(huge.next(c));
    EXPECT_EQ(c.repetition, 0);
    SweepSchedule tail(most, 1, 4);
    ASSERT_EQ(tail.markDone(0, 1, most - 100), "");
    int64_t last = 0;
    while (tail.next(c)) last = c.last;
    EXPECT_EQ(last, most);
}

TEST(SweepSimulation, GuidedChunksFinishTogetherWhereFixedBlocksDoNot) {
    // 20,000 sources of varying cost on 1,024 ranks, about 20 each: fixed
    // blocks of five leave ranks idle at the end.
    const auto cost = [](int64_t s) { return 1.0 + static_cast<double>((s * 7919) % 13) / 13; };
    // One rank is busy from its first chunk's arrival to the end: it always
    // holds the next chunk.
    const SimulatedRun one = simulateRun(5000, 1, 1, Handout::guided, cost, 0.001);
    double busy = 0;
    for (int64_t s = 1; s <= 5000; ++s) busy += cost(s);
    EXPECT_NEAR(one.busy_seconds, busy, 1e-6);
    EXPECT_NEAR(one.wall_seconds, busy + 0.001, 1e-6);
    const SimulatedRun guided = simulateRun(20000, 1, 1024, Handout::guided, cost, 0.001);
    const SimulatedRun fixed = simulateRun(20000, 1, 1024, Handout::fixed_blocks, cost, 0.001);
    EXPECT_NEAR(guided.busy_seconds, fixed.busy_seconds, 1e-6);
    EXPECT_GT(guided.efficiency(), 0.9);
    EXPECT_GT(guided.efficiency(), fixed.efficiency());
}

TEST(SweepEstimate, TheSampleIsEverySourceOnceAndTheRangeFollowsItsSpread) {
    for (int64_t n : {1, 2, 3, 5, 17, 1000, 65537}) {
        std::vector<bool> seen(static_cast<size_t>(n) + 1, false);
        for (int64_t p = 0; p < n; ++p) {
            const int64_t s = sampledSource(p, n);
            ASSERT_GE(s, 1);
            ASSERT_LE(s, n);
            ASSERT_FALSE(seen[static_cast<size_t>(s)]) << n << " " << s;
            seen[static_cast<size_t>(s)] = true;
        }
    }
    EXPECT_NE(sampledSource(0, 1000) + 1, sampledSource(1, 1000));  // not in order
    // Every source the same: the range is the exact time.
    SweepCost cost = costFromSample(std::vector<double>(50, 0.002), 10000);
    EXPECT_NEAR(cost.per_sweep, 20, 1e-9);
    EXPECT_NEAR(cost.low, 20, 1e-9);
    EXPECT_NEAR(cost.high, 20, 1e-9);
    // Spread: mean 2 over 100 of 10,000 sources; Student's t at 99 degrees of
    // freedom, the sample's standard deviation, the finite population correction.
    std::vector<double> spread;
    for (int i = 0; i < 50; ++i) spread.insert(spread.end(), {1.0, 3.0});
    cost = costFromSample(spread, 10000);
    EXPECT_NEAR(cost.per_sweep, 20000, 1e-6);
    const double half = 1.980 * std::sqrt(100.0 / 99.0) / 10 * std::sqrt(9900.0 / 9999.0) * 10000;
    EXPECT_NEAR(cost.high - cost.per_sweep, half, 1e-6);
    EXPECT_NEAR(cost.per_sweep - cost.low, half, 1e-6);
    // The whole network sampled: the time is known exactly.
    cost = costFromSample(spread, 100);
    EXPECT_NEAR(cost.low, cost.high, 1e-9);
}

// Over many networks of known source costs, the range drawn from a sample
// of 2 % holds the whole sweep's cost about 19 times in 20.
TEST(SweepEstimate, TheRangeHoldsTheSweep19TimesIn20) {
    std::mt19937_64 random(11);
    int held = 0;
    constexpr int kTrials = 2000;
    for (int trial = 0; trial < kTrials; ++trial) {
        const int64_t n = 5000;
        std::lognormal_distribution<double> cost(0.0, 0.5);
        std::vector<double> costs(static_cast<size_t>(n));
        double total = 0;
        for (double& c : costs) total += c = cost(random);
        std::vector<double> sample;
        for (int64_t p = 0; p < n / 50; ++p) {
            sample.push_back(costs[static_cast<size_t>(sampledSource(p + trial, n) - 1)]);
        }
        const SweepCost estimate = costFromSample(sample, n);
        held += estimate.low <= total && total <= estimate.high;
    }
    EXPECT_GT(held, kTrials * 92 / 100);
    EXPECT_LT(held, kTrials * 98 / 100);
}

// The chunks of a sweep give the console program's figures, and every
// source's figures are those of its run.
TEST(SweepTally, ChunksAddUpToTheSweepAndEachSourceIsItsRun) {
    const GeneratedNetwork net = generateNetwork({"random", 300, 1500, 9, -20, 100});
    loadArcs(net.nodes, net.arcs);
    const SweepResult whole = sweepAllSources();
    const int64_t whole_scans = trivial_triple_comparisons;
    SweepSchedule schedule(num_nodes, 2, 3);
    SweepTally tally(num_nodes);
    Chunk c;
    std::vector<ChunkRecord> records;
    while (schedule.next(c)) records.push_back(runChunk(preparedProgramEngine(), c));
    std::reverse(records.begin(), records.end());  // any order
    uint64_t cpu_ns = 0;
    for (const ChunkRecord& r : records) {
        ASSERT_EQ(tally.add(r), "");
        cpu_ns += r.cpu_ns;
    }
    EXPECT_TRUE(tally.sum() == whole.sum_of_distances);
    EXPECT_EQ(tally.scans(), whole_scans);
    EXPECT_EQ(tally.cpuNs(), cpu_ns);
    for (int32_t s = 1; s <= num_nodes; ++s) {
        const RunSummary expected = summaryOf(runFrom(s));
        const SourceFigures f = tally.figures(s);
        ASSERT_EQ((RunSummary{f.reached, f.sum, f.largest}), expected) << s;
        ASSERT_EQ(f.scans, trivial_triple_comparisons) << s;
    }
}

TEST(SweepTally, RepetitionsThatDisagreeAndImpossibleFiguresAreRefused) {
    SweepTally tally(10);
    ChunkRecord first{{0, 0, 4, 5}, 100, {{3, 7, 4, 2}, {1, 0, 0, 0}}, 0};
    ASSERT_EQ(tally.add(first), "");
    ChunkRecord second{{1, 1, 3, 4}, 100, {{1, 0, 0, 0}, {3, 8, 4, 2}}, 1};
    EXPECT_EQ(tally.add(second),
              "the repetitions disagree on source 4: repetition 2 (run by rank 1) gave sum 8, 2 arc scans, 3 nodes "
              "reached, largest label 4, an earlier one gave sum 7, 2 arc scans, 3 nodes reached, largest label 4; "
              "a machine may be at fault, so no figure is reported");
    EXPECT_FALSE(tally.known(3));  // nothing of a refused record is kept
    second.sources[1].sum = 7;
    EXPECT_EQ(tally.add(second), "");
    EXPECT_TRUE(tally.known(3));
    EXPECT_EQ(tally.cpuNs(), 200u);
    ChunkRecord impossible{{2, 0, 6, 6}, 1, {{11, 0, 0, 0}}, -1};
    EXPECT_EQ(tally.add(impossible), "source 6 of repetition 1 (read from the checkpoint) has impossible figures (sum 0, "
                                     "0 arc scans, 11 nodes reached, largest label 0)");
    ChunkRecord short_record{{3, 0, 6, 7}, 1, {{1, 0, 0, 0}}, 2};
    EXPECT_EQ(tally.add(short_record), "a record of sources 6..7 holds 1 sources' figures");
    // A sum past 64 bits is kept whole.
    ChunkRecord wide{{4, 0, 8, 8}, 1, {{10, int128{1} << 70, 1, 3}}, 0};
    ASSERT_EQ(tally.add(wide), "");
    EXPECT_TRUE(tally.figures(8).sum == int128{1} << 70);
    EXPECT_TRUE(tally.sum() == (int128{1} << 70) + 7);
}

TEST(SweepTally, DiameterAndRadius) {
    // 1 -> 2 -> 3 -> 1 with lengths 1, 2, 3, and 4 reaching no one.
    loadArcs(4, {{1, 2, 1}, {2, 3, 2}, {3, 1, 3}});
    SweepTally tally(4);
    ASSERT_EQ(tally.add(runChunk(preparedProgramEngine(), {0, 0, 1, 4})), "");
    EXPECT_EQ(tally.diameter(), 5);  // 2 -> 1 and 3 -> 2
    EXPECT_EQ(tally.radius(), -1);   // nobody reaches 4
    loadArcs(3, {{1, 2, 1}, {2, 3, 2}, {3, 1, 3}});
    SweepTally cycle(3);
    ASSERT_EQ(cycle.add(runChunk(preparedProgramEngine(), {0, 0, 1, 3})), "");
    EXPECT_EQ(cycle.diameter(), 5);
    EXPECT_EQ(cycle.radius(), 3);  // from 1: 1 and 3
    EXPECT_EQ(cycle.figures(2).reached, 3);
    EXPECT_TRUE(cycle.figures(2).sum == 2 + 5);
}

}  // namespace
