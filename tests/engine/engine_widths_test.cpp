// The engine's widths: which it chooses for a network, and exact labels at the edge of each.
#include <gtest/gtest.h>

#include <vector>

#include "program/program_engine.h"
#include "engine_support.h"
#include "generator/network_generator.h"
#include "report/report.h"

namespace {

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
    EXPECT_EQ(networkBounds(program_network).span(), 4294967294);
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    EXPECT_FALSE(keysChecked(engineWidthsInUse(), networkBounds(program_network)));
    loadArcs(3, {{1, 2, 2147483647}, {2, 3, 2147483647}, {3, 1, 1}});
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    EXPECT_TRUE(keysChecked(engineWidthsInUse(), networkBounds(program_network)));
    loadArcs(3, {{1, 2, 2147483647}, {2, 3, 2147483647}, {3, 1, -1}});
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 64, 32}));
    loadArcs(3, {{1, 2, -2147483647 - 1}, {2, 3, -2147483646}});
    EXPECT_EQ(networkBounds(program_network).span(), 4294967294);
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    loadArcs(3, {{1, 2, -2147483647 - 1}, {2, 3, -2147483646}, {2, 2, 1}});
    EXPECT_EQ(chosenWidths(), (EngineWidths{16, 64, 32}));
    // A wider choice fits wherever a narrower one does.
    for (const EngineWidths& w : engineWidthChoices()) {
        EXPECT_TRUE(widthsFit(w, NetworkBounds{})) << widthsName(w);
        EXPECT_EQ(widthsFit(w, networkBounds(program_network)), w.key_bits == 64 && w.length_bits == 32) << widthsName(w);
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
    ASSERT_TRUE(keysChecked(engineWidthsInUse(), networkBounds(program_network)));
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

// Checked keys stop a run at a node whose label leaves no room for the
// longest arc. With the longest arc L = 2^31 - 1 the last safe label is
// 2^32 - 2 - L = L: a node there is scanned in 32 bits, one a unit above is
// not. (The loops make the span need checks.)
TEST(EngineWidths, CheckedKeysStopOneAboveTheLastSafeLabel) {
    const int32_t l = 2147483647;
    ASSERT_EQ((int64_t{1} << 32) - 2 - l, l);
    // Nodes 2 and 3 at the last safe label, node 2 scanned: no fallback.
    loadArcs(5, {{1, 2, l}, {2, 3, 0}, {4, 4, l}, {5, 5, 1}});
    ASSERT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    ASSERT_TRUE(keysChecked(engineWidthsInUse(), networkBounds(program_network)));
    EXPECT_EQ(runFrom(1), (Labels{0, l, l, M, M}));
    EXPECT_EQ(engineWidthsInUse().key_bits, 32);
    // Node 3 a unit above: the run falls back on 64-bit keys before scanning
    // it, as node 4's label, 2^32 - 1, would be the unreached key.
    loadArcs(5, {{1, 2, l}, {2, 3, 1}, {3, 4, l}, {5, 5, 1}});
    ASSERT_EQ(chosenWidths(), (EngineWidths{16, 32, 32}));
    EXPECT_EQ(runFrom(1), (Labels{0, l, int64_t{l} + 1, 2 * int64_t{l} + 1, M}));
    EXPECT_EQ(engineWidthsInUse().key_bits, 64);
}

// One source's labels can sum past 2^63: a path of 93,000 nodes of the
// longest arcs, from its first node.
TEST(EngineWidths, OneSourcesSumIsExactPast64Bits) {
    const int32_t n = 93000;
    const GeneratedNetwork net = generateNetwork({"path", n, 0, 1, 2147483647, 2147483647});
    loadArcs(net.nodes, net.arcs);
    user_source_node = 1;
    heap();
    const int128 expected = int128{2147483647} * n * (n - 1) / 2;
    EXPECT_TRUE(expected > int128{INT64_MAX});
    EXPECT_EQ(formatInteger(settled_sum), formatInteger(expected));
    EXPECT_EQ(d[n - 1], int64_t{2147483647} * (n - 1));
}

}  // namespace
