#include <gtest/gtest.h>

#include "loader/network_loader.h"
#include "program/program_loader.h"
#include "test_support.h"

namespace {

using Arcs = std::vector<ArcTriple>;
using Offsets = std::vector<int32_t>;

TEST(ArcTable, SortsArcsIntoForwardStarOrder) {
    ASSERT_TRUE(loadText("p sp 4 4\na 3 4 1\na 1 3 2\na 3 2 7\na 1 2 5\n")) << load_error;
    EXPECT_EQ(num_nodes, 4);
    EXPECT_EQ(num_arcs, 4);
    EXPECT_EQ(arcTable(), (Arcs{{1, 2, 5}, {1, 3, 2}, {3, 2, 7}, {3, 4, 1}}));
    EXPECT_EQ(point, (Offsets{0, 2, 2, 4, 4}));
}

TEST(ArcTable, KeepsDuplicatesOrdersParallelArcsAndGathersScatteredTails) {
    ASSERT_TRUE(loadText("p sp 5 6\na 4 2 9\na 3 1 1\na 4 2 3\na 3 1 1\na 4 1 7\na 3 5 0\n")) << load_error;
    EXPECT_EQ(arcTable(), (Arcs{{3, 1, 1}, {3, 1, 1}, {3, 5, 0}, {4, 1, 7}, {4, 2, 3}, {4, 2, 9}}));
    // Nodes below the smallest tail start at slot 0; nodes above the largest end at num_arcs.
    EXPECT_EQ(point, (Offsets{0, 0, 0, 3, 6, 6}));
}

TEST(ArcTable, NetworkWithoutArcsHasEmptyRanges) {
    ASSERT_TRUE(loadText("c nothing but nodes\np sp 3 0\n")) << load_error;
    EXPECT_EQ(num_nodes, 3);
    EXPECT_EQ(num_arcs, 0);
    EXPECT_EQ(point, (Offsets{0, 0, 0, 0}));
}

TEST(Reader, ReadsTheSmallExample) {
    ASSERT_TRUE(loadText("p sp 3 2\na 1 2 4\na 2 3 1\n")) << load_error;
    EXPECT_EQ(arcTable(), (Arcs{{1, 2, 4}, {2, 3, 1}}));
    EXPECT_EQ(point, (Offsets{0, 1, 2, 2}));
}

TEST(Reader, DispatchesOnSingleCharacters) {
    const std::string text =
        "c a comment with a 1 2 3 inside\n"
        "c a carriage return\rp sp 9 9 stays in the comment\n"
        "n 1 s\n"
        "C UPPER CASE LETTERS START NO RECORD\r\n"
        "A 1 2 5\r\n"
        "p sp 3 5\r\n"
        "x a 1 2 3\n"        // the x and the blank are skipped
        "a 2 3 4 c note\n"   // the rest of the line after c is a comment
        "a\n3\n1\n-6\n"      // fields may continue on following lines
        "\t\v\fa 1 3 5x a 3 3 0";  // a number ends at the first character that cannot continue it
    ASSERT_TRUE(loadText(text)) << load_error;
    EXPECT_EQ(arcTable(), (Arcs{{1, 2, 3}, {1, 3, 5}, {2, 3, 4}, {3, 1, -6}, {3, 3, 0}}));
    EXPECT_EQ(load_error, "");
}

TEST(Reader, AcceptsSignsAndTheLimitsOfThe32BitRange) {
    ASSERT_TRUE(loadText("p sp +2 +2\na 1 2 -2147483648\na 2 1 2147483647\n")) << load_error;
    EXPECT_EQ(arcTable(), (Arcs{{1, 2, -2147483648}, {2, 1, 2147483647}}));
    // Tails and heads from 1 to the node count.
    ASSERT_TRUE(loadText("p sp 4 2\na 4 1 0\na 1 4 0\n")) << load_error;
    EXPECT_EQ(arcTable(), (Arcs{{1, 4, 0}, {4, 1, 0}}));
}

struct Rejection {
    const char* text;
    const char* message;
};

class RejectedFile : public ::testing::TestWithParam<Rejection> {};

TEST_P(RejectedFile, SaysWhatAndWhereAndLoadsNothing) {
    ASSERT_TRUE(loadText("p sp 2 1\na 1 2 3\n"));  // a network loaded before must not survive
    EXPECT_FALSE(loadText(GetParam().text));
    EXPECT_EQ(load_error, GetParam().message);
    EXPECT_EQ(num_nodes, 0);
    EXPECT_EQ(num_arcs, 0);
}

INSTANTIATE_TEST_SUITE_P(
    BadFields, RejectedFile,
    ::testing::Values(
        Rejection{"p sp 3 2\na 1 2 4\na 2 3 x\n", "line 3: length 'x' of an arc is not a number"},
        Rejection{"p sp 3 2\na 1 2 4\na 2 3", "line 3: length of an arc is missing at end of file"},
        Rejection{"p sp 3 2\na 1 2 4\na 2 3\n\n", "line 3: length of an arc is missing at end of file"},
        Rejection{"p sp 3 1\na 1 2 2147483648\n",
                  "line 2: length 2147483648 of an arc is outside the 32-bit signed range"},
        Rejection{"p sp 3 1\na 1 2 -2147483649\n",
                  "line 2: length -2147483649 of an arc is outside the 32-bit signed range"},
        Rejection{"p sp 3 1\na 1 2 4294967296\n",
                  "line 2: length 4294967296 of an arc is outside the 32-bit signed range"},
        Rejection{"p sp 2147483648 1\n", "line 1: node count 2147483648 of the problem line is outside the 32-bit "
                                          "signed range"},
        Rejection{"p sp 3 1\na 1 -99999999999999999999999999 1\n",
                  "line 2: head -99999999999999999999999... of an arc is outside the 32-bit signed range"},
        Rejection{"p sp 3 1\na 1 - 1\n", "line 2: head '-' of an arc is not a number"},
        Rejection{"p sp 4", "line 1: arc count of the problem line is missing at end of file"},
        Rejection{"p", "line 1: problem type of the problem line is missing at end of file"},
        Rejection{"c\np sp four 4\n", "line 2: node count 'four' of the problem line is not a number"}));

INSTANTIATE_TEST_SUITE_P(
    BrokenLimits, RejectedFile,
    ::testing::Values(
        Rejection{"c empty\n", "no problem line (p sp NODES ARCS) in the file"},
        Rejection{"a 1 2 3\np sp 2 1\n", "line 1: an arc before the problem line"},
        Rejection{"p sp 2 1\na 1 2 3\np sp 2 1\n", "line 3: a second problem line (the first is on line 1)"},
        Rejection{"P sp 4 4\na 1 2 5\n", "line 2: arc count 'a' of the problem line is not a number"},
        Rejection{"p sp 2 1\na 1 2 3\na 2 1 3\n", "line 3: more arcs than the 1 declared on line 1"},
        Rejection{"p sp 2 3\na 1 2 3\n", "the problem line (line 1) declares 3 arcs, but the file has 1"},
        Rejection{"c\nc\nc\nc\nc\np sp 4 1\na 1 9 1\n", "line 7: head 9 of arc 1 -> 9 is outside 1..4"},
        Rejection{"p sp 4 1\na 0 2 1\n", "line 2: tail 0 of arc 0 -> 2 is outside 1..4"},
        Rejection{"p sp 4 1\na 5 2 1\n", "line 2: tail 5 of arc 5 -> 2 is outside 1..4"},
        Rejection{"p sp 4 1\na 4 5 1\n", "line 2: head 5 of arc 4 -> 5 is outside 1..4"},
        Rejection{"p sp 4 1\na 4 0 1\n", "line 2: head 0 of arc 4 -> 0 is outside 1..4"},
        Rejection{"p sp 0 0\n", "line 1: node count 0 is below 1"},
        Rejection{"p sp 3 -1\n", "line 1: arc count -1 is negative"},
        Rejection{"p sp 2000000000 2000000000\na 1 2 3\na 2 3 4\na 3 1 5\n",
                  "the problem line (line 1) declares 2000000000 arcs, but the file has 3"}));

TEST(Reader, NulByteIsShownEscaped) {
    EXPECT_FALSE(loadText(std::string("p sp 3 1\na 1 2\0\n", 16)));
    EXPECT_EQ(load_error, "line 2: length '\\x00' of an arc is not a number");
}

TEST(Reader, RejectsANetworkTooLargeForMemoryAndSaysWhatItNeeds) {
    EXPECT_FALSE(loadText("p sp 2000000000 1\na 1 2 3\n"));
    EXPECT_NE(load_error.find("a network of 2000000000 nodes and 1 arcs needs about "), std::string::npos)
        << load_error;
    EXPECT_NE(load_error.find(" MiB of memory, but only "), std::string::npos) << load_error;
}

TEST(Reader, MemoryNeedGrowsWithNodesAndArcs) {
    EXPECT_GT(networkMemoryNeed(2000000000, 1), uint64_t{24} << 30);
    EXPECT_LT(networkMemoryNeed(1000, 1000000), uint64_t{64} << 20);
    EXPECT_GT(availableMemory(), uint64_t{0});
}

}  // namespace
