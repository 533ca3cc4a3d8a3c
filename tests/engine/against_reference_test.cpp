// The engine against the plain reference engine: labels, scans and the heap after
// every operation, for every width and instruction set.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine_support.h"
#include "generator/network_generator.h"
#include "reference_engine.h"
#include "program/program_engine.h"

namespace {

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

class AgainstReference : public ::testing::TestWithParam<InstructionSet> {
protected:
    void SetUp() override {
        if (!instructionSetSupported(GetParam())) GTEST_SKIP() << "processor lacks " << instructionSetName(GetParam());
        saved_ = currentInstructionSet();
        setInstructionSet(GetParam());
    }
    void TearDown() override {
        setInstructionSet(saved_);
        forceEngineWidths(nullptr);
        setShadowFrom(kDefaultShadowFrom);
    }
    // Loads the network; returns the widths the engine can run it in.
    static std::vector<EngineWidths> load(const NetworkSpec& spec) {
        const GeneratedNetwork net = generateNetwork(spec);
        loadArcs(net.nodes, net.arcs);
        std::vector<EngineWidths> fitting;
        for (const EngineWidths& w : engineWidthChoices()) {
            if (widthsFit(w, networkBounds(program_network))) fitting.push_back(w);
        }
        return fitting;
    }
    // The widths and, for 32-bit ids, where the heap's low halves start to be
    // kept: never on these small networks, from the start, and mid-run.
    struct Setting {
        EngineWidths widths;
        int64_t shadow_from;
        std::string name() const { return widthsName(widths) + ", shadow from " + std::to_string(shadow_from); }
    };
    static std::vector<Setting> settings(const NetworkSpec& spec) {
        std::vector<Setting> all;
        for (const EngineWidths& w : load(spec)) {
            all.push_back({w, kDefaultShadowFrom});
            if (w.id_bits == 32) {
                all.push_back({w, 0});
                all.push_back({w, 5});
            }
        }
        return all;
    }
    static void prepare(const Setting& setting, EngineUse use = EngineUse::labels) {
        forceEngineWidths(&setting.widths);
        setShadowFrom(setting.shadow_from);
        prepareEngine(use);
        ASSERT_EQ(engineWidthsInUse(), setting.widths);
    }
    InstructionSet saved_ = InstructionSet::portable;
};

TEST_P(AgainstReference, LabelsAndScansAgreeFromEverySource) {
    for (const NetworkSpec& spec : comparisonNetworks()) {
        for (const Setting& setting : settings(spec)) {
            SCOPED_TRACE(specComment(spec) + " in " + setting.name());
            prepare(setting);
            for (int32_t s = 1; s <= num_nodes; ++s) {
                ReferenceRun reference;
                reference.run(s);
                ASSERT_EQ(runFrom(s), reference.label) << "source " << s;
                ASSERT_EQ(trivial_triple_comparisons, reference.scans) << "source " << s;
                ASSERT_EQ(summaryOfLastRun(), summaryOf(reference.label)) << "source " << s;
            }
        }
    }
}

// Prepared for the figures alone (as spc_sweep's ranks are), runs leave the
// same figures and no labels, also where checked keys fall back on 64 bits.
TEST_P(AgainstReference, FiguresAloneAgreeFromEverySource) {
    for (const NetworkSpec& spec : comparisonNetworks()) {
        for (const Setting& setting : settings(spec)) {
            SCOPED_TRACE(specComment(spec) + " in " + setting.name());
            prepare(setting, EngineUse::figures);
            if (setting.widths.key_bits == 32) {
                ASSERT_TRUE(d.empty());
            }
            for (int32_t s = 1; s <= num_nodes; ++s) {
                ReferenceRun reference;
                reference.run(s);
                trivial_triple_comparisons = 0;
                user_source_node = s;
                heap();
                ASSERT_EQ(summaryOfLastRun(), summaryOf(reference.label)) << "source " << s;
                ASSERT_EQ(trivial_triple_comparisons, reference.scans) << "source " << s;
            }
        }
    }
}

// The heap of a whole run, after every operation, in both widths.
TEST_P(AgainstReference, RunsLeaveTheHeapAsThePlainEngineDoes) {
    for (const NetworkSpec& spec : comparisonNetworks()) {
        for (const Setting& setting : settings(spec)) {
            SCOPED_TRACE(specComment(spec) + " in " + setting.name());
            prepare(setting);
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

// Nodes 65,536 apart share their low halves. The source reaches pairs of
// them, and the node it reaches first lowers both of every pair, so that the
// scans of a heap that keeps low halves meet the other node of a pair and
// must check the full id.
TEST_P(AgainstReference, ScansOfLowHalvesCheckTheFullId) {
    constexpr int32_t kApart = 65536;
    std::vector<ArcTriple> arcs = {{1, 2, 1}};
    for (int32_t k = 0; k < 100; ++k) {
        for (int32_t v : {100 + k, 100 + k + kApart}) {
            arcs.push_back({1, v, 1000 + k});
            arcs.push_back({2, v, 500 + (k * 7) % 100});
        }
    }
    loadArcs(2 * kApart + 200, arcs);
    for (int64_t shadow_from : {int64_t{0}, int64_t{150}, kDefaultShadowFrom}) {
        SCOPED_TRACE("shadow from " + std::to_string(shadow_from));
        setShadowFrom(shadow_from);
        prepareEngine();
        ASSERT_EQ(engineWidthsInUse().id_bits, 32);
        std::vector<Ids> expected, seen;
        ReferenceRun reference;
        reference.observe = [&](const Ids& h) { expected.emplace_back(h.begin() + 1, h.end()); };
        reference.run(1);
        user_source_node = 1;
        heapTraced([&](const Ids& h) { seen.push_back(h); });
        ASSERT_EQ(seen, expected);
        ASSERT_EQ(d, reference.label);
        // The scans read the halves once the heap has grown past shadow_from
        // (201 nodes at most here), the full ids before.
        const ScanTally tally = heapTallied();
        EXPECT_EQ(tally.scans, 200);
        if (shadow_from == 0) {
            EXPECT_EQ(tally.bytes, 2 * tally.positions);
        } else if (shadow_from == kDefaultShadowFrom) {
            EXPECT_EQ(tally.bytes, 4 * tally.positions);
        }
        EXPECT_EQ(d, reference.label);
    }
}

// A network whose heap grows past 4,096 nodes, where runs keep the low
// halves of 32-bit ids with the default size and fetch more arcs ahead.
TEST_P(AgainstReference, LargeHeapsAgree) {
    const NetworkSpec spec{"random", 20000, 100000, 31, 1, 10000};
    for (const EngineWidths& widths : {EngineWidths{16, 32, 16}, EngineWidths{32, 32, 16}}) {
        SCOPED_TRACE(widthsName(widths));
        load(spec);
        prepare({widths, kDefaultShadowFrom});
        for (int32_t s : {1, 12345}) {
            ReferenceRun reference;
            size_t largest = 0;
            reference.observe = [&](const Ids& h) { largest = std::max(largest, h.size() - 1); };
            reference.run(s);
            EXPECT_GT(largest, 4096u);
            ASSERT_EQ(runFrom(s), reference.label) << "source " << s;
            ASSERT_EQ(trivial_triple_comparisons, reference.scans) << "source " << s;
        }
    }
}

// A network of a million nodes, whose labels and arc table are large enough
// to be asked onto large pages: prepared again for a smaller network and
// back, its runs still agree.
TEST_P(AgainstReference, NetworksOfAMillionNodesAgree) {
    const NetworkSpec large{"road", 1050, 1000, 32, 1, 10000};
    for (const NetworkSpec& spec : {large, NetworkSpec{"grid", 30, 30, 33, 1, 100}, large}) {
        SCOPED_TRACE(specComment(spec));
        load(spec);
        prepareEngine();
        for (int32_t s : {1, num_nodes / 2 + 17}) {
            ReferenceRun reference;
            reference.run(s);
            ASSERT_EQ(runFrom(s), reference.label) << "source " << s;
            ASSERT_EQ(trivial_triple_comparisons, reference.scans) << "source " << s;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(InstructionSets, AgainstReference,
                         ::testing::ValuesIn(allInstructionSets()),
                         [](const auto& info) { return std::string(instructionSetName(info.param)); });

}  // namespace
