#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "network_generator.h"
#include "reference_engine.h"
#include "shortest_path.h"
#include "spc_heap1.h"
#include "test_support.h"

namespace {

using Labels = std::vector<int64_t>;
using Ids = std::vector<int32_t>;

// Heap with the given ids at positions 1.. and their keys in d.
void setHeap(const Ids& ids, const Labels& keys) {
    num_nodes = static_cast<int32_t>(keys.size());
    prepareEngine();
    d = keys;
    for (int32_t v : ids) insertNode(v, keys[static_cast<size_t>(v) - 1]);
}

Ids heapIds() { return Ids(H.begin() + 1, H.begin() + 1 + heap_count); }

void loadExample() { loadArcs(4, {{1, 2, 5}, {1, 3, 2}, {3, 2, 7}, {3, 4, 1}}); }

Labels runFrom(int32_t s) {
    trivial_triple_comparisons = 0;
    user_source_node = s;
    heap();
    return d;
}

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

// Every variant on heaps of both id widths, at every size across the block
// boundaries of the vector scans; the ids past the heap are stale and must not
// be found.
template <typename Id>
void checkPositionScans(const char* width) {
    const ScanVariant saved = currentScanVariant();
    std::vector<Id> ids(101 + kHeapScanPadding);
    for (int32_t j = 1; j < static_cast<int32_t>(ids.size()); ++j) ids[j] = static_cast<Id>((j * 37) % 100 + 1);
    for (ScanVariant variant : {ScanVariant::portable, ScanVariant::sse2, ScanVariant::avx2, ScanVariant::avx512}) {
        if (!scanVariantSupported(variant)) continue;
        setScanVariant(variant);
        SCOPED_TRACE(std::string(scanVariantName(variant)) + ", " + width + " ids");
        for (int32_t count = 0; count <= 100; ++count) {
            for (int32_t v = 1; v <= 101; ++v) {
                int32_t expected = 0;
                for (int32_t j = count; j >= 1; --j) expected = ids[j] == v ? j : expected;
                ASSERT_EQ(findInHeap(ids.data(), count, v), expected) << "heap of " << count << ", node " << v;
            }
        }
    }
    setScanVariant(saved);
}

TEST(NodeHeap, PositionScanFindsTheNodeInsideTheHeapOnly) {
    checkPositionScans<int32_t>("32-bit");
    checkPositionScans<uint16_t>("16-bit");
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

EngineWidths chosenWidths() {
    prepareEngine();
    return engineWidthsInUse();
}

TEST(EngineWidths, EachWidthIsChosenExactlyWhereItFits) {
    // 65,535 nodes take 16-bit ids, one more 32-bit ones.
    NetworkBounds b;
    b.nodes = 65535;
    EXPECT_EQ(narrowestWidths(b), (EngineWidths{16, 32, 16}));
    b.nodes = 65536;
    EXPECT_EQ(narrowestWidths(b), (EngineWidths{32, 32, 16}));
    // Lengths of -32768..32767 take 16 bits.
    loadArcs(3, {{1, 2, -32768}, {2, 3, 32767}});
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 32, 16}));
    loadArcs(3, {{1, 2, -32769}, {2, 3, 1}});
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    loadArcs(3, {{1, 2, 1}, {2, 3, 32768}});
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    // Keys of 32 bits while the span, over the nodes, of the longest arc out
    // of each plus the most negative one's magnitude is at most 2^32 - 2;
    // past it, checked 32-bit keys without negative lengths, else 64 bits.
    loadArcs(3, {{1, 2, 2147483647}, {2, 3, 2147483647}, {2, 1, 5}});
    EXPECT_EQ(networkBounds().span(), 4294967294);
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    EXPECT_FALSE(keysChecked(engineWidthsInUse(), networkBounds()));
    loadArcs(3, {{1, 2, 2147483647}, {2, 3, 2147483647}, {3, 1, 1}});
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    EXPECT_TRUE(keysChecked(engineWidthsInUse(), networkBounds()));
    loadArcs(3, {{1, 2, 2147483647}, {2, 3, 2147483647}, {3, 1, -1}});
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 64, 32}));
    loadArcs(3, {{1, 2, -2147483647 - 1}, {2, 3, -2147483646}});
    EXPECT_EQ(networkBounds().span(), 4294967294);
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    loadArcs(3, {{1, 2, -2147483647 - 1}, {2, 3, -2147483646}, {2, 2, 1}});
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 64, 32}));
    // A wider choice fits wherever a narrower one does.
    for (const EngineWidths& w : engineWidthChoices()) {
        EXPECT_TRUE(widthsFit(w, NetworkBounds{})) << widthsName(w);
        EXPECT_EQ(widthsFit(w, networkBounds()), w.key_bits == 64 && w.length_bits == 32) << widthsName(w);
    }
}

TEST(EngineWidths, LabelsAtTheEdgeOfEachWidthAreExact) {
    // The largest 16-bit network: a path of 65535 nodes with the longest
    // lengths either way, whose far ends are 65534 * 32767 and 65534 * -32768
    // away.
    for (int32_t length : {32767, -32768}) {
        const GeneratedNetwork net = generateNetwork({"path", 65535, 0, 1, length, length});
        loadArcs(net.nodes, net.arcs);
        ASSERT_EQ(chosenWidths(), (EngineWidths{16, 32, 16}));
        user_source_node = 1;
        heap();
        EXPECT_EQ(d[65534], int64_t{65534} * length);
        EXPECT_TRUE(settled_sum == int128{length} * 65534 * 65535 / 2);
        user_source_node = 65535;
        heap();
        EXPECT_EQ(d[65534], 0);
        EXPECT_EQ(d[0], M);
    }
    // Spans of exactly 2^32 - 2 in 32-bit keys: labels past the 32-bit range
    // both ways, the largest key one below the unreached one.
    loadArcs(4, {{1, 2, 2147483647}, {2, 3, 2147483647}, {4, 4, 0}});
    ASSERT_EQ(chosenWidths().key_bits, 32);
    EXPECT_EQ(runFrom(1), (Labels{0, 2147483647, 4294967294, M}));
    EXPECT_TRUE(settled_sum == 6442450941);
    loadArcs(3, {{1, 2, -2147483647 - 1}, {2, 3, -2147483646}});
    ASSERT_EQ(chosenWidths().key_bits, 32);
    EXPECT_EQ(runFrom(1), (Labels{0, -2147483648, -4294967294}));
    EXPECT_TRUE(settled_sum == -6442450942);
    // Within 16-bit bounds, with a node settled before a cheaper arc to it is seen.
    loadArcs(4, {{1, 2, 32767}, {2, 3, -5}, {1, 3, 32000}, {3, 4, 1}});
    EXPECT_EQ(runFrom(1), (Labels{0, 32767, 32000, 32001}));
    EXPECT_EQ(engineWidthsInUse(), (EngineWidths{16, 32, 16}));
}

TEST(EngineWidths, CheckedKeysFallBackOn64BitsOnceTheyOutgrow32) {
    const int32_t l = 2147483647;
    // Spans past 2^32 with no negative length: 32-bit keys, checked.
    loadArcs(4, {{1, 2, 1}, {2, 3, 1}, {1, 4, l}, {2, 4, l}, {3, 4, l}});
    ASSERT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    ASSERT_TRUE(keysChecked(engineWidthsInUse(), networkBounds()));
    EXPECT_EQ(runFrom(1), (Labels{0, 1, 2, l}));  // the last key is the last safe one
    EXPECT_EQ(engineWidthsInUse().key_bits, 32);
    // Labels past 2^32: the run stops, the source runs again in 64-bit keys,
    // and so do the later ones.
    loadArcs(5, {{1, 2, l}, {2, 3, l}, {3, 4, l}, {4, 5, l}, {5, 5, 0}});
    ASSERT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    EXPECT_EQ(runFrom(4), (Labels{M, M, M, 0, l}));
    EXPECT_EQ(engineWidthsInUse().key_bits, 32);
    EXPECT_EQ(runFrom(1), (Labels{0, l, 2 * int64_t{l}, 3 * int64_t{l}, 4 * int64_t{l}}));
    EXPECT_EQ(trivial_triple_comparisons, 5);  // the stopped run's scans do not count
    EXPECT_TRUE(settled_sum == 10 * int128{l});
    EXPECT_EQ(engineWidthsInUse(), (EngineWidths{16, 64, 32}));
    EXPECT_EQ(runFrom(2), (Labels{M, 0, l, 2 * int64_t{l}, 3 * int64_t{l}}));
    EXPECT_EQ(runFrom(5), (Labels{M, M, M, M, 0}));
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

// Networks with ties, zero lengths, parallel arcs, self-loops and negative lengths.
std::vector<NetworkSpec> comparisonNetworks() {
    std::vector<NetworkSpec> specs;
    uint64_t seed = 1;
    for (auto [lo, hi] : {std::pair<int64_t, int64_t>{1, 3}, {0, 2}, {-3, 10}, {-1000, 1000}, {1, 10000}}) {
        specs.push_back({"random", 60, 400, seed++, lo, hi});
        specs.push_back({"random", 150, 300, seed++, lo, hi});
        specs.push_back({"grid", 9, 7, seed++, lo, hi});
        specs.push_back({"complete", 25, 0, seed++, lo, hi});
    }
    // Lengths past 16 bits, labels past 31 bits on the larger ones: 32-bit
    // keys with their offset.
    for (auto [lo, hi] : {std::pair<int64_t, int64_t>{-40000, 100000}, {1, 50000000}, {-50000000, -1}}) {
        specs.push_back({"random", 60, 400, seed++, lo, hi});
        specs.push_back({"grid", 9, 7, seed++, lo, hi});
        specs.push_back({"complete", 25, 0, seed++, lo, hi});
    }
    // Non-negative lengths whose span passes 2^32: checked 32-bit keys, with
    // (the first) and without (the second) labels that outgrow them.
    specs.push_back({"random", 60, 400, seed++, 1, 2147483647});
    specs.push_back({"grid", 9, 7, seed++, 100000000, 200000000});
    specs.push_back({"road", 12, 9, seed++, 1, 300});
    specs.push_back({"random", 40, 40, seed++, 5, 5});
    specs.push_back({"path", 30, 0, seed++, -2147483647 - 1, 2147483647});
    return specs;
}

class AgainstReference : public ::testing::TestWithParam<ScanVariant> {
protected:
    void SetUp() override {
        if (!scanVariantSupported(GetParam())) GTEST_SKIP() << "processor lacks " << scanVariantName(GetParam());
        saved_ = currentScanVariant();
        setScanVariant(GetParam());
    }
    void TearDown() override {
        setScanVariant(saved_);
        forceEngineWidths(nullptr);
    }
    // Loads the network; returns the widths the engine can run it in.
    static std::vector<EngineWidths> load(const NetworkSpec& spec) {
        const GeneratedNetwork net = generateNetwork(spec);
        loadArcs(net.nodes, net.arcs);
        std::vector<EngineWidths> fitting;
        for (const EngineWidths& w : engineWidthChoices()) {
            if (widthsFit(w, networkBounds())) fitting.push_back(w);
        }
        return fitting;
    }
    static void prepare(const EngineWidths& widths) {
        forceEngineWidths(&widths);
        prepareEngine();
        ASSERT_EQ(engineWidthsInUse(), widths);
    }
    ScanVariant saved_ = ScanVariant::portable;
};

TEST_P(AgainstReference, LabelsAndScansAgreeFromEverySource) {
    for (const NetworkSpec& spec : comparisonNetworks()) {
        for (const EngineWidths& widths : load(spec)) {
            SCOPED_TRACE(specComment(spec) + " in " + widthsName(widths));
            prepare(widths);
            for (int32_t s = 1; s <= num_nodes; ++s) {
                ReferenceRun reference;
                reference.run(s);
                ASSERT_EQ(runFrom(s), reference.label) << "source " << s;
                ASSERT_EQ(trivial_triple_comparisons, reference.scans) << "source " << s;
            }
        }
    }
}

// The heap of a whole run, after every operation, in both widths.
TEST_P(AgainstReference, RunsLeaveTheHeapAsThePlainEngineDoes) {
    for (const NetworkSpec& spec : comparisonNetworks()) {
        for (const EngineWidths& widths : load(spec)) {
            SCOPED_TRACE(specComment(spec) + " in " + widthsName(widths));
            prepare(widths);
            for (int32_t s = 1; s <= std::min<int32_t>(num_nodes, 8); ++s) {
                std::vector<Ids> expected, seen;
                ReferenceRun reference;
                reference.observe = [&](const Ids& h) { expected.emplace_back(h.begin() + 1, h.end()); };
                reference.run(s);
                user_source_node = s;
                heapTraced([&](const Ids& h) { seen.push_back(h); });
                ASSERT_EQ(seen.size(), expected.size()) << "source " << s;
                for (size_t step = 0; step < seen.size(); ++step) {
                    ASSERT_EQ(seen[step], expected[step]) << "source " << s << " step " << step;
                }
                ASSERT_EQ(d, reference.label) << "source " << s;
            }
        }
    }
}

// Drives the engine's heap operations the way a run does and compares the heap
// with the plain one after every operation.
TEST_P(AgainstReference, HeapLayoutAgreesAfterEveryOperation) {
    for (const NetworkSpec& spec : comparisonNetworks()) {
        SCOPED_TRACE(specComment(spec));
        const GeneratedNetwork net = generateNetwork(spec);
        loadArcs(net.nodes, net.arcs);
        for (int32_t s = 1; s <= std::min<int32_t>(num_nodes, 8); ++s) {
            std::vector<Ids> layouts;
            ReferenceRun reference;
            reference.observe = [&](const Ids& h) { layouts.emplace_back(h.begin() + 1, h.end()); };
            reference.run(s);

            prepareEngine();
            size_t step = 0;
            auto check = [&] {
                ASSERT_LT(step, layouts.size());
                ASSERT_EQ(heapIds(), layouts[step]) << "source " << s << " step " << step;
                for (int32_t i = 1; i <= heap_count; ++i) ASSERT_EQ(H_key[i], d[H[i] - 1]);
                ++step;
            };
            d[s - 1] = 0;
            insertNode(s, 0);
            check();
            while (heap_count > 0) {
                const int32_t u = extractMin();
                check();
                for (int32_t e = point[u - 1]; e < point[u]; ++e) {
                    const int32_t v = graph_head[e];
                    const int64_t candidate = d[u - 1] + graph_length[e];
                    if (candidate >= d[v - 1]) continue;
                    if (d[v - 1] == M) {
                        insertNode(v, candidate);
                        check();
                    } else if (const int32_t j = heapPosition(v)) {
                        decreaseKey(j, candidate);
                        check();
                    }
                }
            }
            EXPECT_EQ(step, layouts.size());
            EXPECT_EQ(d, reference.label);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ScanVariants, AgainstReference,
                         ::testing::Values(ScanVariant::portable, ScanVariant::sse2, ScanVariant::avx2,
                                           ScanVariant::avx512),
                         [](const auto& info) { return std::string(scanVariantName(info.param)); });

}  // namespace
