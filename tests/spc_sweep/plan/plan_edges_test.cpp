// spc_sweep's rules at their edges, against values worked out by hand: the
// plan's resumes at the ends of repetitions and of stretches, its chunk
// sizes; the tally's checks of every field and bound, the time per sweep.
#include <gtest/gtest.h>

#include <tuple>

#include "spc_sweep/plan/plan.h"
#include "spc_sweep/plan/tally.h"

namespace {

using SourceRun = std::tuple<int32_t, int64_t, int64_t>;  // repetition, first, last

// What the schedule hands out, as runs of sources, consecutive chunks of a
// repetition joined.
std::vector<SourceRun> handedOut(SweepSchedule& s) {
    std::vector<SourceRun> runs;
    Chunk c;
    int64_t id = 0;
    while (s.next(c)) {
        EXPECT_EQ(c.id, id++);
        if (!runs.empty() && std::get<0>(runs.back()) == c.repetition && std::get<2>(runs.back()) + 1 == c.first) {
            std::get<2>(runs.back()) = c.last;
        } else {
            runs.emplace_back(c.repetition, c.first, c.last);
        }
    }
    EXPECT_EQ(s.chunksHandedOut(), id);
    return runs;
}

struct Resume {
    const char* what;
    std::vector<SourceRun> marked;           // markDone
    std::vector<std::pair<int32_t, int32_t>> whole;  // markRepetitions
    std::vector<SourceRun> expected;         // what is handed out, of 10 nodes and 3 repetitions
};

TEST(SweepPlanEdges, AResumeHandsOutExactlyWhatNoRecordCovers) {
    const std::vector<Resume> cases = {
        {"nothing", {}, {}, {{0, 1, 10}, {1, 1, 10}, {2, 1, 10}}},
        {"a whole first repetition", {{0, 1, 10}}, {}, {{1, 1, 10}, {2, 1, 10}}},
        {"all but its last source", {{0, 1, 9}}, {}, {{0, 10, 10}, {1, 1, 10}, {2, 1, 10}}},
        {"all but its first", {{0, 2, 10}}, {}, {{0, 1, 1}, {1, 1, 10}, {2, 1, 10}}},
        {"one source between records", {{0, 1, 4}, {0, 6, 10}}, {}, {{0, 5, 5}, {1, 1, 10}, {2, 1, 10}}},
        {"records out of order", {{1, 6, 10}, {0, 3, 3}, {1, 1, 2}},
         {}, {{0, 1, 2}, {0, 4, 10}, {1, 3, 5}, {2, 1, 10}}},
        {"the last repetition only", {{2, 1, 10}}, {}, {{0, 1, 10}, {1, 1, 10}}},
        {"its last source only", {{2, 10, 10}}, {}, {{0, 1, 10}, {1, 1, 10}, {2, 1, 9}}},
        {"whole repetitions", {{0, 1, 3}}, {{1, 1}}, {{0, 4, 10}, {2, 1, 10}}},
        {"the last ones whole", {}, {{1, 2}}, {{0, 1, 10}}},
        {"every one", {}, {{0, 2}}, {}},
        {"whole and single", {{1, 5, 5}}, {{0, 0}, {2, 2}}, {{1, 1, 4}, {1, 6, 10}}},
    };
    for (const Resume& r : cases) {
        SCOPED_TRACE(r.what);
        for (int ranks : {1, 2, 100}) {
            SweepSchedule s(10, 3, ranks);
            int64_t marked = 0;
            for (const auto& [repetition, first, last] : r.marked) {
                ASSERT_EQ(s.markDone(repetition, first, last), "");
                marked += last - first + 1;
            }
            for (const auto& [from, to] : r.whole) {
                ASSERT_EQ(s.markRepetitions(from, to), "");
                marked += 10 * (to - from + 1);
            }
            EXPECT_EQ(s.done(), marked);
            EXPECT_EQ(s.left(), 30 - marked);
            EXPECT_EQ(handedOut(s), r.expected);
            EXPECT_EQ(s.left(), 0);
        }
    }
}

TEST(SweepPlanEdges, RecordsThatTouchAreTakenAndRecordsThatOverlapAreNot) {
    SweepSchedule s(10, 3, 1);
    EXPECT_EQ(s.markDone(0, 1, 5), "");
    EXPECT_EQ(s.markDone(0, 6, 6), "");    // touching after
    EXPECT_EQ(s.markDone(0, 10, 10), "");  // the last source
    EXPECT_EQ(s.markDone(1, 5, 5), "");
    EXPECT_EQ(s.markDone(1, 4, 4), "");  // touching before
    for (const SourceRun& twice : {SourceRun{0, 5, 5}, SourceRun{0, 6, 9}, SourceRun{0, 1, 1}, SourceRun{0, 4, 6}, SourceRun{0, 10, 10}, SourceRun{1, 3, 5},
                             SourceRun{1, 5, 7}, SourceRun{0, 2, 3}}) {
        const auto [repetition, first, last] = twice;
        EXPECT_NE(s.markDone(repetition, first, last).find("are recorded twice"), std::string::npos) << first;
    }
    EXPECT_EQ(s.markDone(0, 7, 9), "");  // the gap exactly
    EXPECT_EQ(s.markRepetitions(2, 2), "");
    EXPECT_EQ(s.markDone(2, 1, 1), "sources of 1..1 in repetition 3 are recorded twice");
    EXPECT_EQ(s.markRepetitions(2, 2), "repetitions 3..3 are recorded twice");
    EXPECT_EQ(s.markRepetitions(1, 1), "repetitions 2..2 are recorded twice");  // holds records
    EXPECT_EQ(s.markRepetitions(0, 3), "repetitions 1..4 are out of range");
    EXPECT_EQ(s.markRepetitions(1, 0), "repetitions 2..1 are out of range");
    EXPECT_EQ(s.markDone(3, 1, 1), "sources 1..1 of repetition 4 are out of range");
    EXPECT_EQ(s.markDone(-1, 1, 1), "sources 1..1 of repetition 0 are out of range");
    EXPECT_EQ(s.markDone(0, 11, 11), "sources 11..11 of repetition 1 are out of range");
    EXPECT_EQ(s.markDone(0, 3, 2), "sources 3..2 of repetition 1 are out of range");
    EXPECT_EQ(s.done(), 10 + 2 + 10);
    EXPECT_EQ(handedOut(s), (std::vector<SourceRun>{{1, 1, 3}, {1, 6, 10}}));
}

// Guided chunks: what is left over four times the ranks, rounded up, 1..64.
TEST(SweepPlanEdges, ChunkSizesFollowWhatIsLeft) {
    SweepSchedule one(100, 1, 1);
    std::vector<int64_t> sizes;
    Chunk c;
    while (one.next(c)) sizes.push_back(c.sources());
    EXPECT_EQ(sizes, (std::vector<int64_t>{25, 19, 14, 11, 8, 6, 5, 3, 3, 2, 1, 1, 1, 1}));
    SweepSchedule big(10000, 2, 2);  // 20,000 left over 8: 64 at most
    ASSERT_TRUE(big.next(c));
    EXPECT_EQ(c.sources(), 64);
    SweepSchedule across(10, 3, 1);  // chunks never cross a repetition's end
    while (across.next(c)) EXPECT_EQ((c.first - 1) / 10, (c.last - 1) / 10);
}

SourceFigures base() { return {5, 40, 12, 9}; }

TEST(SweepTallyEdges, EveryFieldIsCheckedAcrossRepetitions) {
    for (int field = 0; field < 5; ++field) {
        SweepTally tally(10);
        ASSERT_EQ(tally.add({{0, 0, 3, 3}, 7, {base()}, 0}), "");
        SourceFigures other = base();
        switch (field) {
            case 0: other.reached += 1; break;
            case 1: other.sum -= 1; break;
            case 2: other.sum += int128{1} << 64; break;
            case 3: other.largest += 1; break;
            default: other.scans -= 1; break;
        }
        EXPECT_EQ(tally.add({{1, 1, 3, 3}, 5, {other}, 1}).rfind("the repetitions disagree on source 3: repetition 2", 0),
                  0u)
            << field;
        EXPECT_EQ(tally.cpuNs(), 7u) << field;  // nothing of it counted
        EXPECT_EQ(tally.add({{1, 1, 3, 3}, 5, {base()}, 1}), "");
        EXPECT_EQ(tally.cpuNs(), 12u);
    }
}

TEST(SweepTallyEdges, FiguresNoRunGivesAreRefusedAtEveryBound) {
    SweepTally tally(10);
    for (const auto& [f, ok] : std::vector<std::pair<SourceFigures, bool>>{
             {{0, 0, 0, 0}, false}, {{11, 0, 0, 0}, false}, {{10, 0, 0, 0}, true},
             {{2, 0, -1, 0}, false}, {{2, 0, 0, -1}, false}, {{2, 0, 0, 2147483648}, false},
             {{2, 0, 0, 2147483647}, true}}) {
        SweepTally fresh(10);
        EXPECT_EQ(fresh.add({{0, 0, 1, 1}, 1, {f}, 0}).empty(), ok) << f.reached << " " << f.largest << " " << f.scans;
    }
    for (const ChunkRecord& r : {ChunkRecord{{0, 0, 0, 0}, 1, {base()}, 0}, ChunkRecord{{0, 0, 10, 11}, 1, {base(), base()}, 0},
                                 ChunkRecord{{0, 0, 4, 3}, 1, {}, 0}, ChunkRecord{{0, 0, 4, 5}, 1, {base()}, 0}}) {
        EXPECT_NE(tally.add(r).find("holds"), std::string::npos) << r.chunk.first;
    }
    EXPECT_EQ(tally.knownSources(), 0);
    EXPECT_EQ(tally.learn(9, {base(), base()}, "x"), "");
    EXPECT_EQ(tally.learn(10, {base(), base()}, "x"), "figures of sources 10..11 of a network of 10 nodes");
    EXPECT_EQ(tally.learn(0, {base()}, "x"), "figures of sources 0..0 of a network of 10 nodes");
    EXPECT_EQ(tally.unknownStretches(1, 10), (std::vector<std::pair<int64_t, int64_t>>{{1, 8}}));
    EXPECT_EQ(tally.knownSources(), 2);
    EXPECT_TRUE(tally.allKnown(9, 10));
    EXPECT_FALSE(tally.allKnown(8, 10));
    EXPECT_FALSE(tally.allKnown(10, 11));
}

// Whole milliseconds of all runs, over the repetitions in single precision.
TEST(SweepTallyEdges, TheTimePerSweep) {
    for (const auto& [ns, repetitions, ms] : std::vector<std::tuple<uint64_t, int, float>>{
             {0, 4, 0.0f}, {999999, 4, 0.0f}, {1000000, 4, 0.25f}, {2999999, 4, 0.5f}, {7000000, 4, 1.75f},
             {1000000, 3, 1.0f / 3.0f}, {10000000, 1, 10.0f}, {uint64_t{1} << 62, 4, 1152921504606.846976f}}) {
        EXPECT_EQ(timePerSweepMs(ns, repetitions), ms) << ns;
    }
}

}  // namespace
