// PHAST over a contraction hierarchy gives the binary-heap method's figures
// for every source: on every family, with lengths of 0 and of 2^31 - 1,
// parallel arcs, self-loops, one-way and disconnected networks, sources that
// reach only themselves, and real road networks; k trees at once as k
// alone; a saved and loaded hierarchy as the one built; a damaged or foreign
// file refused; negative lengths and the guard's networks refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "engine/engine.h"
#include "generator/network_generator.h"
#include "loader/network_loader.h"
#include "phast/contraction.h"
#include "phast/hierarchy_file.h"
#include "phast/phast_engine.h"

namespace {

struct Case {
    std::string name;
    Network network;
};

Network fromArcs(int32_t nodes, std::vector<ArcTriple> arcs) {
    Network network;
    buildArcTable(arcs, nodes, network);
    return network;
}

Network generated(const NetworkSpec& spec) {
    GeneratedNetwork g = generateNetwork(spec);
    return fromArcs(g.nodes, g.arcs);
}

std::vector<Case> cases() {
    std::vector<Case> all;
    all.push_back({"grid", generated({"grid", 14, 11, 1, 0, 1000})});
    all.push_back({"road", generated({"road", 16, 12, 2, 1, 12000})});
    all.push_back({"random", generated({"random", 300, 1200, 3, 0, 5})});  // many ties
    all.push_back({"complete", generated({"complete", 18, 0, 4, 1, 100})});
    all.push_back({"path of the longest lengths", generated({"path", 400, 0, 5, 2147483647, 2147483647})});
    // A hub every spoke leads back to, so the hub comes last in the order:
    // from it the upward search finds nothing and the distances past 2^32
    // come from the downward pass alone.
    std::vector<ArcTriple> spokes;
    for (int32_t i = 0; i < 30; ++i) {
        const int32_t a = 2 + 3 * i;
        spokes.insert(spokes.end(), {{1, a, 2147483647}, {a, a + 1, 2147483647}, {a + 1, a + 2, 2147483647}, {a + 2, 1, 1}});
    }
    all.push_back({"hub of long spokes", fromArcs(91, spokes)});
    // Parallel arcs, self-loops, zero lengths, a one-way cycle, a node that
    // reaches only itself (9), one no node reaches (8), and a second part.
    all.push_back({"odd arcs", fromArcs(12, {{1, 2, 5}, {1, 2, 3}, {1, 2, 3}, {2, 2, 0}, {2, 3, 0}, {3, 4, 7}, {4, 1, 0},
                                              {4, 4, 9}, {8, 1, 1}, {10, 11, 2}, {11, 12, 0}, {12, 10, 2147483647},
                                              {3, 1, 0}, {1, 3, 4}})});
    return all;
}

// The heap engine's figures of every source.
std::vector<TreeFigures> heapFigures(const Network& network) {
    LaidOutNetwork laid;
    layOut(network, laid);
    Engine engine;
    engine.prepare({laid.layout, laid.block.data()}, EngineUse::figures);
    std::vector<TreeFigures> all;
    for (int32_t s = 1; s <= network.nodes; ++s) {
        const RunFigures& f = engine.run(s);
        all.push_back({f.reached, f.sum, engine.largestLabel(), f.scans});
    }
    return all;
}

void expectSame(const TreeFigures& a, const TreeFigures& b, int32_t source) {
    EXPECT_EQ(a.reached, b.reached) << "source " << source;
    EXPECT_TRUE(a.sum == b.sum) << "source " << source;
    EXPECT_EQ(a.largest, b.largest) << "source " << source;
    EXPECT_EQ(a.scans, b.scans) << "source " << source;
}

TEST(Phast, EveryFigureOfEverySourceIsTheHeapMethodsAndKTreesAreKSingleOnes) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        Hierarchy h;
        const ContractionReport report = buildHierarchy(c.network, {}, h);
        ASSERT_TRUE(report.built) << report.why_not;
        const std::vector<TreeFigures> expected = heapFigures(c.network);
        for (int k : {1, 2, 4, 8}) {
            PhastEngine engine;
            engine.prepare(h, k);
            for (int32_t first = 1; first <= c.network.nodes; first += k) {
                int32_t sources[kMostTrees];
                const int count = std::min<int32_t>(k, c.network.nodes - first + 1);
                for (int t = 0; t < count; ++t) sources[t] = first + t;
                TreeFigures got[kMostTrees];
                engine.run(sources, count, got);
                for (int t = 0; t < count; ++t) expectSame(got[t], expected[static_cast<size_t>(sources[t] - 1)], sources[t]);
            }
        }
    }
}

// Bremen's streets and Porto's, from the shared networks where they are:
// sources spread over each.
TEST(Phast, RealRoadNetworksGiveTheHeapMethodsFigures) {
    const std::string dir = std::string(SPC_SOURCE_DIR) + "/../shared/networks";
    int tried = 0;
    for (const char* name : {"bremen", "porto"}) {
        const std::string path = dir + "/" + name + ".gr.xz";
        if (!std::filesystem::exists(path)) continue;
        ++tried;
        std::FILE* pipe = popen(("xz -dc '" + path + "'").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string text;
        char buffer[1 << 16];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
        pclose(pipe);
        std::stringbuf in(text, std::ios::in);
        Network network;
        ASSERT_EQ(readNetwork(in, network), "");
        Hierarchy h;
        ASSERT_TRUE(buildHierarchy(network, {}, h).built);
        LaidOutNetwork laid;
        layOut(network, laid);
        Engine heap;
        heap.prepare({laid.layout, laid.block.data()}, EngineUse::figures);
        PhastEngine phast;
        phast.prepare(h, 8);
        for (int32_t first = 1; first <= network.nodes; first += network.nodes / 25) {
            int32_t sources[8];
            TreeFigures got[8];
            for (int t = 0; t < 8; ++t) sources[t] = std::min(network.nodes, first + 977 * t);
            phast.run(sources, 8, got);
            for (int t = 0; t < 8; ++t) {
                const RunFigures& f = heap.run(sources[t]);
                expectSame(got[t], {f.reached, f.sum, heap.largestLabel(), f.scans}, sources[t]);
            }
        }
    }
    if (tried == 0) GTEST_SKIP() << "no shared road networks at " << dir;
}

TEST(Phast, ASavedHierarchyLoadsAsBuiltAndADamagedOrForeignOneIsRefused) {
    const Network network = generated({"road", 12, 10, 7, 1, 500});
    Hierarchy built;
    ASSERT_TRUE(buildHierarchy(network, {}, built).built);
    std::FILE* file = std::tmpfile();
    ASSERT_EQ(saveHierarchy(built, file), "");
    std::rewind(file);
    std::string bytes;
    for (int ch; (ch = std::fgetc(file)) != EOF;) bytes += static_cast<char>(ch);
    std::fclose(file);
    HierarchyImage image;
    HierarchyView loaded;
    const auto load = [&](const std::string& content, const NetworkFingerprint& of) {
        std::FILE* f = std::tmpfile();
        std::fwrite(content.data(), 1, content.size(), f);
        std::rewind(f);
        const std::string why = loadImage(f, of, image, loaded);
        std::fclose(f);
        return why;
    };
    ASSERT_EQ(load(bytes, fingerprintOf(network)), "");
    ASSERT_EQ(loaded.nodes, built.nodes);
    EXPECT_TRUE(std::equal(built.original.begin(), built.original.end(), loaded.original));
    EXPECT_TRUE(std::equal(built.down_length.begin(), built.down_length.end(), loaded.down_length));
    EXPECT_EQ(loaded.down_arcs, static_cast<int64_t>(built.down_tail.size()));
    // The image in memory is the file's content, byte for byte.
    EXPECT_EQ(std::string(image.begin(), image.end()), bytes);
    PhastEngine a, b;
    a.prepare(built, 4);
    b.prepare(loaded, 4);
    const int32_t sources[4] = {1, 17, 60, 120};
    TreeFigures fa[4], fb[4];
    a.run(sources, 4, fa);
    b.run(sources, 4, fb);
    for (int t = 0; t < 4; ++t) expectSame(fa[t], fb[t], sources[t]);
    // Another network's; damage at every kind of place; cut short; longer.
    NetworkFingerprint other = fingerprintOf(network);
    other.hash ^= 1;
    const unsigned char* kept = image.data();
    EXPECT_EQ(load(bytes, other), "it is of another network");
    for (size_t at : {size_t{3}, size_t{17}, size_t{20}, size_t{100}, bytes.size() / 2, bytes.size() - 3}) {
        std::string damaged = bytes;
        damaged[at] ^= 0x10;
        EXPECT_NE(load(damaged, fingerprintOf(network)), "") << at;
    }
    EXPECT_EQ(load(bytes.substr(0, bytes.size() - 9), fingerprintOf(network)), "it is cut short");
    EXPECT_EQ(load(bytes.substr(0, 40), fingerprintOf(network)), "it is cut short");
    EXPECT_EQ(load(bytes + "x", fingerprintOf(network)), "it is damaged");
    EXPECT_EQ(load("hello", fingerprintOf(network)), "it is not a hierarchy of spc_sweep");
    EXPECT_EQ(image.data(), kept);  // a refused file leaves what was loaded as it was
    EXPECT_EQ(loaded.nodes, built.nodes);
}

TEST(Phast, NegativeLengthsAndNetworksPastTheGuardAreNotBuilt) {
    Hierarchy h;
    ContractionReport report = buildHierarchy(fromArcs(3, {{1, 2, 4}, {2, 3, -1}}), {}, h);
    EXPECT_FALSE(report.built);
    EXPECT_EQ(report.why_not, "the method needs lengths >= 0, and this network has a negative one");
    // A random network with a tight guard: shortcuts explode in its core.
    ContractionLimits tight;
    tight.shortcuts_per_arc = 0.5;
    tight.extra = 0;
    const Network random = generated({"random", 3000, 12000, 8, 1, 100});
    report = buildHierarchy(random, tight, h);
    EXPECT_FALSE(report.built);
    EXPECT_EQ(report.why_not, "the shortcuts outgrew their bound");
    EXPECT_GT(report.shortcuts, 6000);
    EXPECT_LT(report.contracted, 3000);
    EXPECT_NE(describe(report, random).find(" of 3000 nodes removed, "), std::string::npos);
}

}  // namespace
