// The node heap, the single-source run and the sweep, on small networks whose
// figures are worked out by hand.
#include <gtest/gtest.h>

#include "program/program_engine.h"
#include "engine_support.h"
#include "generator/network_generator.h"
#include "report/report.h"
#include "sweep/sweep.h"
#include "test_support.h"

namespace {

// Heap with the given ids at positions 1.. and their keys in d.
void setHeap(const Ids& ids, const Labels& keys) {
    num_nodes = static_cast<int32_t>(keys.size());
    prepareEngine();
    d = keys;
    for (int32_t v : ids) insertNode(v, keys[static_cast<size_t>(v) - 1]);
}

void loadExample() { loadArcs(4, {{1, 2, 5}, {1, 3, 2}, {3, 2, 7}, {3, 4, 1}}); }

TEST(NodeHeap, EqualKeysSinkBelowTheirChildrenAndTheRightChildWinsTies) {
    setHeap({1, 2, 3}, {4, 4, 4});
    minHeapify(1, 3);
    EXPECT_EQ(heapIds(), (Ids{3, 2, 1}));
}

TEST(NodeHeap, DecreaseKeyClimbsOnlyWhileStrictlyBelowTheParent) {
    setHeap({1, 2, 3, 4}, {1, 5, 6, 7});
    decreaseKey(4, 5);  // equal to its parent at position 2: stays
    EXPECT_EQ(heapIds(), (Ids{1, 2, 3, 4}));
    EXPECT_EQ(d[3], 5);
    decreaseKey(4, 0);  // below everything: to the root
    EXPECT_EQ(heapIds(), (Ids{4, 1, 3, 2}));
    EXPECT_EQ(H_key[1], 0);
}

TEST(NodeHeap, InsertAndExtract) {
    setHeap({1, 2}, {3, 3, 9, 9});
    insertNode(3, 3);  // equal to the root: stays below it
    EXPECT_EQ(heapIds(), (Ids{1, 2, 3}));
    insertNode(4, 2);  // below every key: becomes the root
    EXPECT_EQ(heapIds(), (Ids{4, 1, 3, 2}));
    EXPECT_EQ(d[3], 2);
    EXPECT_EQ(extractMin(), 4);
    // The last node, 2, moves to the root and sinks below its equal children.
    EXPECT_EQ(heapIds(), (Ids{3, 1, 2}));
    EXPECT_EQ(extractMin(), 3);
    EXPECT_EQ(extractMin(), 1);
    EXPECT_EQ(extractMin(), 2);
    EXPECT_EQ(heap_count, 0);
    minHeapify(1, 0);
    EXPECT_EQ(heap_count, 0);
}

// Every instruction set on heaps of both id widths, at every size across the block
// boundaries of the vector scans; the ids past the heap are stale and must not
// be found.
template <typename Id>
void checkPositionScans(const char* width) {
    const InstructionSet saved = currentInstructionSet();
    // 300 positions cross the blocks of every scan; ids from 1 to 301, each
    // at most once in a heap, as in a run.
    constexpr int32_t kMost = 300;
    AlignedVector<Id> ids(kMost + 1 + kHeapScanPadding);
    for (int32_t j = 1; j < static_cast<int32_t>(ids.size()); ++j) ids[j] = static_cast<Id>((j * 37) % (kMost + 1) + 1);
    ids[0] = ids[5];  // position 0 is no heap position, whatever it holds
    for (InstructionSet set : allInstructionSets()) {
        if (!instructionSetSupported(set)) continue;
        setInstructionSet(set);
        SCOPED_TRACE(std::string(instructionSetName(set)) + ", " + width + " ids");
        for (int32_t count = 0; count <= kMost; ++count) {
            for (int32_t v = 1; v <= kMost + 1; ++v) {
                int32_t expected = 0;
                for (int32_t j = count; j >= 1; --j) expected = ids[j] == v ? j : expected;
                ASSERT_EQ(findInHeap(ids.data(), count, v), expected) << "heap of " << count << ", node " << v;
            }
        }
    }
    setInstructionSet(saved);
}

// Ids 65,536 apart share their low halves: a heap that keeps only those for
// its scans finds many candidates, and only the full id tells them apart.
void checkShadowedScans() {
    const InstructionSet saved = currentInstructionSet();
    constexpr int32_t kMost = 300;
    AlignedVector<int32_t> ids(kMost + 1 + kHeapScanPadding);
    AlignedVector<uint16_t> low(ids.size());
    for (int32_t j = 0; j < static_cast<int32_t>(ids.size()); ++j) {
        ids[j] = (j * 37) % (kMost + 1) * 65536 + j % 3 + 1;
        low[j] = static_cast<uint16_t>(ids[j]);
    }
    ids[0] = ids[5];  // position 0 is no heap position, whatever it holds
    low[0] = low[5];
    std::vector<int32_t> wanted(ids.begin() + 1, ids.end());  // in the heap, past it, or both
    for (int32_t absent : {4, 65536 + 1, 301 * 65536 + 2}) wanted.push_back(absent);
    for (InstructionSet set : allInstructionSets()) {
        if (!instructionSetSupported(set)) continue;
        setInstructionSet(set);
        SCOPED_TRACE(std::string(instructionSetName(set)) + ", low halves");
        for (int32_t count = 0; count <= kMost; ++count) {
            for (int32_t v : wanted) {
                int32_t expected = 0;
                for (int32_t j = count; j >= 1; --j) expected = ids[j] == v ? j : expected;
                ASSERT_EQ(findInShadowedHeap(low.data(), ids.data(), count, v), expected)
                    << "heap of " << count << ", node " << v;
            }
        }
    }
    setInstructionSet(saved);
}

TEST(NodeHeap, PositionScanFindsTheNodeInsideTheHeapOnly) {
    checkPositionScans<int32_t>("32-bit");
    checkPositionScans<uint16_t>("16-bit");
    checkShadowedScans();
    // The program's heap is searched the same way.
    num_nodes = 5;
    prepareEngine();
    for (int32_t v : {4, 2, 5}) insertNode(v, 0);
    EXPECT_EQ(heapPosition(2), 2);
    EXPECT_EQ(heapPosition(3), 0);
}

TEST(SingleSource, WorkedExample) {
    loadExample();
    EXPECT_EQ(runFrom(1), (Labels{0, 5, 2, 3}));
    EXPECT_EQ(trivial_triple_comparisons, 4);
    EXPECT_EQ(runFrom(3), (Labels{M, 7, 0, 1}));
    EXPECT_EQ(trivial_triple_comparisons, 2);
    EXPECT_EQ(runFrom(2), (Labels{M, 0, M, M}));  // no outgoing arcs
    EXPECT_EQ(trivial_triple_comparisons, 0);
    EXPECT_EQ(deleted_node, 2);
}

TEST(SingleSource, ParallelArcsSelfLoopsAndZeroLengths) {
    loadArcs(3, {{1, 2, 9}, {1, 2, 4}, {1, 1, 0}, {2, 3, 0}, {1, 3, 4}, {2, 2, 1}});
    EXPECT_EQ(runFrom(1), (Labels{0, 4, 4}));
    EXPECT_EQ(trivial_triple_comparisons, 6);  // every arc of every reached node
}

TEST(SingleSource, ANewNetworkOfTheSameSizeGetsFreshEngineArrays) {
    loadArcs(3, {{1, 2, 1}});
    runFrom(1);
    // Same node count, more arcs per node: the run must not use the old sizes.
    loadArcs(3, {{1, 2, 5}, {1, 3, 1}, {1, 1, 0}, {1, 2, 2}, {1, 3, 9}, {3, 2, 1}});
    EXPECT_EQ(runFrom(1), (Labels{0, 2, 1}));
    EXPECT_EQ(trivial_triple_comparisons, 6);
}

TEST(SingleSource, LabelsBeyondThe32BitRangeAreExact) {
    std::vector<ArcTriple> arcs;
    for (int32_t v = 1; v < 5; ++v) arcs.push_back({v, v + 1, 2147483647});
    loadArcs(5, arcs);
    EXPECT_EQ(runFrom(1), (Labels{0, 2147483647, 4294967294, 6442450941, 8589934588}));
}
TEST(SingleSource, NegativeLengthsGiveTheLabelSettingResult) {
    // 1 -> 2 (1), 1 -> 3 (5), 3 -> 2 (-10), 2 -> 4 (1): node 2 is settled
    // before the cheaper route through 3 is seen, so it keeps label 1.
    loadArcs(4, {{1, 2, 1}, {1, 3, 5}, {3, 2, -10}, {2, 4, 1}});
    EXPECT_EQ(runFrom(1), (Labels{0, 1, 5, 2}));
    // 1 -> 2 (5), 1 -> 3 (1), 3 -> 2 (-3): node 2 is still in the heap and improves.
    loadArcs(3, {{1, 2, 5}, {1, 3, 1}, {3, 2, -3}});
    EXPECT_EQ(runFrom(1), (Labels{0, -2, 1}));
}

TEST(Sweep, WorkedExampleFigures) {
    loadExample();
    const SweepResult result = sweepAllSources();
    EXPECT_TRUE(result.sum_of_distances == 18);
    EXPECT_EQ(one_to_all_distance.size(), 4u);
    EXPECT_TRUE(one_to_all_distance[0] == 10 && one_to_all_distance[1] == 0 && one_to_all_distance[2] == 8 &&
                one_to_all_distance[3] == 0);
    EXPECT_EQ(trivial_triple_comparisons, 6);
    EXPECT_TRUE(total_triple_comparisons == 24);
    EXPECT_TRUE(nontrivial_triple_comparisons == 18);
    EXPECT_TRUE(triple_comparisons == 12);
}

TEST(Sweep, TinyNetworksGiveNegativeNontrivialCounts) {
    loadArcs(2, {{1, 2, 3}, {2, 1, 4}, {2, 2, 1}});
    EXPECT_TRUE(sweepAllSources().sum_of_distances == 7);
    EXPECT_EQ(trivial_triple_comparisons, 6);
    EXPECT_TRUE(nontrivial_triple_comparisons == -6);

    loadArcs(1, {{1, 1, 7}, {1, 1, 2}});
    EXPECT_TRUE(sweepAllSources().sum_of_distances == 0);
    EXPECT_EQ(trivial_triple_comparisons, 2);
    EXPECT_TRUE(nontrivial_triple_comparisons == -2);

    NetworkSpec spec{"complete", 3, 0, 1, 1, 1};
    const GeneratedNetwork net = generateNetwork(spec);
    loadArcs(net.nodes, net.arcs);
    EXPECT_TRUE(sweepAllSources().sum_of_distances == 6);
    EXPECT_TRUE(nontrivial_triple_comparisons == -12);
}

TEST(Sweep, TripleCountsAreExactBeyond32And64Bits) {
    EXPECT_TRUE(tripleCount(3) == 6);
    EXPECT_TRUE(tripleCount(1) == 0 && tripleCount(2) == 0);
    EXPECT_TRUE(tripleCount(2000) == int128{7988004000});
    // The largest n whose triple count stays within 64 bits, and the next.
    EXPECT_TRUE(tripleCount(2097153) == int128{9223372036852678656});
    EXPECT_TRUE(tripleCount(2097154) == static_cast<int128>(9223385230998503424u));
    const int128 n = 2147483647;
    EXPECT_TRUE(tripleCount(2147483647) == n * (n - 1) * (n - 2));
}

TEST(Sweep, SumOfDistancesIsExactBeyondSixtyFourBits) {
    // 2147483647 * 2999 * 3000 * 3001 / 6, the path of 3000 nodes with the longest arcs.
    const GeneratedNetwork net = generateNetwork({"path", 3000, 0, 1, 2147483647, 2147483647});
    loadArcs(net.nodes, net.arcs);
    EXPECT_EQ(formatInteger(sweepAllSources().sum_of_distances), "9663675337758176500");
    EXPECT_EQ(trivial_triple_comparisons, int64_t{2999} * 3000 / 2);
}

TEST(SingleSource, ExtremeLengthsInOneNetwork) {
    const int32_t lo = -2147483647 - 1, hi = 2147483647;
    loadArcs(6, {{1, 2, hi}, {2, 3, hi}, {3, 4, hi}, {4, 5, lo}, {5, 6, hi}, {6, 1, lo}});
    EXPECT_EQ(runFrom(1), (Labels{0, 2147483647, 4294967294, 6442450941, 4294967293, 6442450940}));
    EXPECT_EQ(runFrom(6), (Labels{-2147483648, -1, 2147483646, 4294967293, 2147483645, 0}));
}

TEST(Sweep, TimeIsAQuarterOfTheElapsedMilliseconds) {
    EXPECT_EQ(timePerSweep(1000, 1000), 0.0f);
    EXPECT_EQ(timePerSweep(1000, 1001), 0.25f);
    EXPECT_EQ(timePerSweep(1000, 1002), 0.5f);
    EXPECT_EQ(timePerSweep(0, 10000001), 2500000.25f);
}

}  // namespace
