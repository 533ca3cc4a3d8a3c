// Engines and networks as values: two engines over one arc table run at once
// on two threads, each in an instruction set of its own; two networks live
// in one process, each swept by its own engine, their runs interleaved.
#include <gtest/gtest.h>

#include <thread>

#include "engine/engine.h"
#include "generator/network_generator.h"
#include "loader/network_loader.h"
#include "reference_engine.h"

namespace {

struct Loaded {
    Network network;
    LaidOutNetwork laid_out;
    ArcTable table() const { return {laid_out.layout, laid_out.block.data()}; }
};

void load(const NetworkSpec& spec, Loaded& out) {
    GeneratedNetwork net = generateNetwork(spec);
    buildArcTable(net.arcs, net.nodes, out.network);
    layOut(out.network, out.laid_out);
}

// Every source's labels by the plain reference engine.
std::vector<std::vector<int64_t>> referenceLabels(const Network& network) {
    std::vector<std::vector<int64_t>> labels;
    ReferenceRun reference;
    reference.network = &network;
    for (int32_t s = 1; s <= network.nodes; ++s) {
        reference.run(s);
        labels.push_back(reference.label);
    }
    return labels;
}

InstructionSet plainest() { return InstructionSet::portable; }
InstructionSet fastest() {
    InstructionSet best = InstructionSet::portable;
    for (InstructionSet set : allInstructionSets()) {
        if (instructionSetSupported(set)) best = set;
    }
    return best;
}

TEST(EngineValues, TwoEnginesOverOneTableRunAtOnceOnTwoThreads) {
    for (const NetworkSpec& spec : {NetworkSpec{"grid", 15, 12, 1, 1, 100}, NetworkSpec{"random", 250, 2000, 2, -30, 100},
                                    NetworkSpec{"road", 20, 14, 3, 1, 40000}}) {
        SCOPED_TRACE(spec.family);
        Loaded loaded;
        load(spec, loaded);
        const auto expected = referenceLabels(loaded.network);
        const int32_t n = loaded.network.nodes;
        // One engine keeps labels, in the fastest instruction set; the other
        // only figures, in the plainest; sources from both ends at once.
        std::vector<std::vector<int64_t>> labels(static_cast<size_t>(n));
        std::vector<RunFigures> figures(static_cast<size_t>(n));
        std::thread forward([&] {
            Engine engine;
            engine.setInstructionSet(fastest());
            engine.prepare(loaded.table());
            for (int32_t s = 1; s <= n; s += 2) {
                engine.run(s);
                labels[static_cast<size_t>(s - 1)] = engine.labels();
            }
        });
        std::thread backward([&] {
            Engine engine;
            engine.setInstructionSet(plainest());
            engine.prepare(loaded.table(), EngineUse::figures);
            for (int32_t s = n - (n % 2 == 0 ? 0 : 1); s >= 2; s -= 2) figures[static_cast<size_t>(s - 1)] = engine.run(s);
        });
        forward.join();
        backward.join();
        for (int32_t s = 1; s <= n; ++s) {
            const std::vector<int64_t>& want = expected[static_cast<size_t>(s - 1)];
            if (s % 2 == 1) {
                ASSERT_EQ(labels[static_cast<size_t>(s - 1)], want) << "source " << s;
                continue;
            }
            int64_t reached = 0;
            int128 sum = 0;
            for (int64_t x : want) {
                if (x == M) continue;
                ++reached;
                sum += x;
            }
            const RunFigures& f = figures[static_cast<size_t>(s - 1)];
            ASSERT_EQ(f.source, s);
            ASSERT_EQ(f.reached, reached) << "source " << s;
            ASSERT_TRUE(f.sum == sum) << "source " << s;
        }
    }
}

// Two networks in one process: their runs interleaved, each engine over its
// own table, each sweep's sum as the reference gives it.
TEST(EngineValues, TwoNetworksInOneProcessEachSweptByItsEngine) {
    Loaded grid, random;
    load({"grid", 12, 9, 4, 1, 1000}, grid);
    load({"random", 2000, 9000, 5, 1, 100000000}, random);  // another width: 32-bit lengths, checked keys
    EXPECT_NE(grid.network.generation, random.network.generation);
    EXPECT_FALSE(grid.laid_out.layout.widths == random.laid_out.layout.widths);
    int128 expected_grid = 0, expected_random = 0;
    for (const auto& labels : referenceLabels(grid.network)) {
        for (int64_t x : labels) expected_grid += x == M ? 0 : x;
    }
    for (const auto& labels : referenceLabels(random.network)) {
        for (int64_t x : labels) expected_random += x == M ? 0 : x;
    }
    Engine on_grid, on_random;
    on_grid.prepare(grid.table(), EngineUse::figures);
    on_random.prepare(random.table());
    int128 sum_grid = 0, sum_random = 0;
    for (int32_t s = 1; s <= random.network.nodes; ++s) {
        if (s <= grid.network.nodes) sum_grid += on_grid.run(s).sum;
        sum_random += on_random.run(s).sum;
    }
    EXPECT_TRUE(sum_grid == expected_grid);
    EXPECT_TRUE(sum_random == expected_random);
    // Released, then prepared again over the other table.
    on_grid.release();
    EXPECT_FALSE(on_grid.prepared());
    on_grid.prepare(random.table());
    EXPECT_EQ(on_grid.run(7).reached, on_random.run(7).reached);
    EXPECT_EQ(on_grid.labels(), on_random.labels());
}

}  // namespace
