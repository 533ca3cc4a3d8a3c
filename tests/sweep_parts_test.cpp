// The batch tool's parts: its command line, its blocks and tally, its
// checkpoint file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "engine/shortest_path.h"
#include "generator/network_generator.h"
#include "program_run.h"
#include "spc_sweep/sweep_blocks.h"
#include "spc_sweep/sweep_checkpoint.h"
#include "spc_sweep/sweep_options.h"
#include "sweep/sweep.h"
#include "test_support.h"

namespace {

SweepOptions parsed(const std::vector<std::string>& args, std::string& why) {
    SweepOptions options;
    why = parseSweepOptions(args, options);
    return options;
}

TEST(SweepOptions, AcceptsEveryFormAndRefusesBadUse) {
    std::string why;
    SweepOptions o = parsed({"--repetitions", "2", "--checkpoint=ck", "--log", "my.log", "a.gr", "--", "-b.gr"}, why);
    EXPECT_EQ(why, "");
    EXPECT_EQ(o.repetitions, 2);
    EXPECT_EQ(o.checkpoint_dir, "ck");
    EXPECT_EQ(o.log_file, "my.log");
    EXPECT_EQ(o.networks, (std::vector<std::string>{"a.gr", "-b.gr"}));
    o = parsed({"a.gr"}, why);
    EXPECT_EQ(o.repetitions, 4);
    EXPECT_EQ(o.log_file, "spc_heap_output.txt");
    EXPECT_TRUE(parsed({"--help"}, why).help);
    EXPECT_EQ(why, "");
    const std::string repetitions = "--repetitions needs a whole number from 1 to 1000000";
    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{}, "no network file given"},
             {{"--repetitions", "0", "a.gr"}, repetitions},
             {{"--repetitions", "1000001", "a.gr"}, repetitions},
             {{"--repetitions=x", "a.gr"}, repetitions},
             {{"--repetitions", "3x", "a.gr"}, repetitions},
             {{"a.gr", "--repetitions"}, repetitions},
             {{"a.gr", "--checkpoint"}, "--checkpoint needs a directory"},
             {{"--log=", "a.gr"}, "--log needs a file name"},
             {{"--speed", "a.gr"}, "unknown option --speed"}}) {
        parsed(args, why);
        EXPECT_EQ(why, message);
    }
    parsed({"--repetitions", "1000000", "a.gr"}, why);
    EXPECT_EQ(why, "");
}

TEST(SweepBlocks, BlocksDependOnTheNodeCountAlone) {
    EXPECT_EQ(planSweep(1, 4).block_size, 1);
    EXPECT_EQ(planSweep(4096, 4).block_size, 1);
    EXPECT_EQ(planSweep(4097, 4).block_size, 2);
    EXPECT_EQ(planSweep(4096 * 64, 4).block_size, 64);
    EXPECT_EQ(planSweep(4096 * 64 + 1, 4).block_size, 64);
    const SweepPlan plan = planSweep(10000, 3);  // blocks of 3, the last of 1
    EXPECT_EQ(plan.blocks, 3334);
    EXPECT_EQ(plan.units(), 3334 * 3);
    EXPECT_EQ(plan.firstSource(3333), 10000);
    EXPECT_EQ(plan.lastSource(3333), 10000);
    EXPECT_EQ(plan.lastSource(0), 3);
    EXPECT_EQ(plan.blockOf(3334 + 5), 5);
    EXPECT_EQ(plan.repetitionOf(2 * 3334), 2);
}

// The units of a sweep give the console program's figures.
TEST(SweepBlocks, UnitsAddUpToTheSweep) {
    const GeneratedNetwork net = generateNetwork({"random", 300, 1500, 9, -20, 100});
    loadArcs(net.nodes, net.arcs);
    const SweepResult whole = sweepAllSources();
    const int64_t whole_scans = trivial_triple_comparisons;
    const SweepPlan plan = planSweep(num_nodes, 2);
    SweepTally tally(plan);
    uint64_t cpu_ns = 0;
    for (int64_t unit = plan.units() - 1; unit >= 0; --unit) {  // any order
        EXPECT_FALSE(tally.complete());
        const UnitRecord record = runUnit(plan, unit);
        cpu_ns += record.cpu_ns;
        ASSERT_EQ(tally.add(record), "");
    }
    EXPECT_TRUE(tally.complete());
    EXPECT_TRUE(tally.sum() == whole.sum_of_distances);
    EXPECT_EQ(tally.scans(), whole_scans);
    EXPECT_GT(cpu_ns, 0u);
    EXPECT_EQ(tally.cpuNs(), cpu_ns);  // the time of every unit's runs
    EXPECT_EQ(tally.timePerSweep(), timePerSweepMs(cpu_ns, 2));
}

TEST(SweepBlocks, RepetitionsThatDisagreeAreRefused) {
    const SweepPlan plan = planSweep(10, 2);
    SweepTally tally(plan);
    UnitRecord first{3, 100, 7, 5, 0};
    ASSERT_EQ(tally.add(first), "");
    UnitRecord second{3 + plan.blocks, 101, 7, 5, 1};
    EXPECT_EQ(tally.add(second),
              "the repetitions disagree on sources 4..4: repetition 1 (run by rank 0) gave sum 100 and 7 arc scans, "
              "repetition 2 (run by rank 1) gave sum 101 and 7; a machine may be at fault, so no figure is reported");
    second.sum = 100;
    second.scans = 8;
    EXPECT_NE(tally.add(second), "");
    EXPECT_FALSE(tally.has(second.unit));
    second.scans = 7;
    EXPECT_EQ(tally.add(second), "");
    EXPECT_EQ(tally.unitsDone(), 2);
    EXPECT_NE(tally.add(UnitRecord{plan.units(), 0, 0, 0, 0}), "");
}

TEST(SweepBlocks, TimeIsWholeMillisecondsOverTheRepetitions) {
    EXPECT_EQ(timePerSweepMs(999999, 4), 0.0f);
    EXPECT_EQ(timePerSweepMs(1000000, 4), 0.25f);
    EXPECT_EQ(timePerSweepMs(10001999999, 4), timePerSweep(0, 10001));
    EXPECT_EQ(timePerSweepMs(3000000, 3), 1.0f);
    EXPECT_EQ(timePerSweepMs(1000000, 3), 1.0f / 3.0f);
}

class Checkpoint : public ::testing::Test {
protected:
    void SetUp() override {
        header_ = {{12, 30, 0x0123456789abcdefu}, 2, 1};
        plan_ = planSweep(12, 2);  // 24 units
        for (int64_t unit : {0, 5, 23}) text_ += recordLine({unit, -(int128{1} << 70), unit, 1000, -1});
        text_ = headerLine(header_) + text_;
    }
    std::string parse(const std::string& text) { return parseCheckpoint(text, header_, contents_); }
    CheckpointHeader header_;
    SweepPlan plan_;
    std::string text_;
    CheckpointContents contents_;
};

TEST_F(Checkpoint, ReadsBackWhatWasWritten) {
    EXPECT_EQ(parse(text_), "");
    ASSERT_EQ(contents_.records.size(), 3u);
    EXPECT_EQ(contents_.records[1].unit, 5);
    EXPECT_TRUE(contents_.records[1].sum == -(int128{1} << 70));
    EXPECT_EQ(contents_.records[2].scans, 23);
    EXPECT_EQ(contents_.records[2].cpu_ns, 1000u);
    EXPECT_EQ(contents_.good_bytes, text_.size());
    EXPECT_FALSE(contents_.dropped_tail);
    EXPECT_EQ(crc32("123456789"), 0xcbf43926u);  // the standard check value
}

TEST_F(Checkpoint, DropsALastLineCutShortOrDamaged) {
    const size_t good = text_.size() - recordLine({23, -(int128{1} << 70), 23, 1000, -1}).size();
    for (size_t cut = good + 1; cut < text_.size(); ++cut) {  // every point within the last line
        ASSERT_EQ(parse(text_.substr(0, cut)), "") << cut;
        EXPECT_EQ(contents_.records.size(), 2u);
        EXPECT_EQ(contents_.good_bytes, good);
        EXPECT_TRUE(contents_.dropped_tail);
    }
    std::string damaged = text_;
    damaged[damaged.size() - 3] ^= 1;  // within the last line's CRC
    EXPECT_EQ(parse(damaged), "");
    EXPECT_EQ(contents_.records.size(), 2u);
    // A header cut short is where the file began: it starts afresh.
    EXPECT_EQ(parse(headerLine(header_).substr(0, 20)), "");
    EXPECT_EQ(contents_.good_bytes, 0u);
    EXPECT_EQ(parse(""), "");
    EXPECT_FALSE(contents_.dropped_tail);
}

TEST_F(Checkpoint, RefusesDamageElsewhereAndOtherNetworks) {
    const size_t header_size = headerLine(header_).size();
    std::string damaged = text_;
    damaged[header_size + 7] = '9';  // the first record's unit
    EXPECT_EQ(parse(damaged), "line 2 is damaged");
    damaged = text_;
    damaged[4] = 'X';
    EXPECT_EQ(parse(damaged), "its header line is damaged");
    EXPECT_EQ(parse("hello\n"), "its header line is damaged");
    EXPECT_EQ(parse("hello"), "it is not a checkpoint of spc_sweep");
    for (const CheckpointHeader& other : {CheckpointHeader{{13, 30, header_.network.hash}, 2, 1},
                                          CheckpointHeader{{12, 30, header_.network.hash + 1}, 2, 1},
                                          CheckpointHeader{header_.network, 3, 1}}) {
        const std::string why = parse(headerLine(other) + text_.substr(header_size));
        EXPECT_EQ(why.rfind("it belongs to another network or repetition count (its header says nodes ", 0), 0u)
            << why;
    }
    // Unit 24 is past the 24 units; the same unit twice with other figures.
    EXPECT_EQ(parse(headerLine(header_) + recordLine({24, 0, 0, 0, -1}) + recordLine({1, 0, 0, 0, -1})),
              "line 2 is damaged");
    EXPECT_EQ(parse(text_ + recordLine({5, 0, 5, 1, -1}) + recordLine({6, 0, 6, 1, -1})),
              "line 5 records unit 5 again with other figures");
    EXPECT_EQ(parse(text_ + recordLine({5, -(int128{1} << 70), 5, 7, -1})), "");
    EXPECT_EQ(contents_.records.size(), 3u);
}

TEST_F(Checkpoint, WriterAppendsAfterTheGoodLinesAndRemovesTheFile) {
    char pattern[] = "/tmp/spc_checkpoint_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/c";
    spc_test::writeFile(path, text_ + "unit 7 su");  // a line cut short
    CheckpointContents read;
    ASSERT_EQ(readCheckpoint(path, header_, read), "");
    {
        CheckpointWriter writer;
        ASSERT_EQ(writer.open(path, header_, read.good_bytes), "");
        ASSERT_EQ(writer.append({7, 42, 1, 2, 0}), "");
        ASSERT_EQ(writer.close(false), "");
    }
    EXPECT_EQ(readAllBytes(path), text_ + recordLine({7, 42, 1, 2, -1}));
    CheckpointWriter writer;
    ASSERT_EQ(writer.open(path, header_, 0), "");  // afresh: just the header
    EXPECT_EQ(readAllBytes(path), headerLine(header_));
    EXPECT_EQ(writer.close(true), "");
    EXPECT_FALSE(std::filesystem::exists(path));
    std::filesystem::remove_all(pattern);
}

TEST(CheckpointName, FollowsTheNetworkAndTheRepetitions) {
    loadArcs(4, {{1, 2, 5}, {1, 3, 2}, {3, 2, 7}, {3, 4, 1}});
    const NetworkFingerprint a = fingerprintLoadedNetwork();
    EXPECT_EQ(a.nodes, 4);
    EXPECT_EQ(a.arcs, 4);
    EXPECT_EQ(a.hash, 0x721581545a39c313u);  // the same on every machine: a resumed run may move
    loadArcs(4, {{1, 2, 5}, {1, 3, 2}, {3, 2, 7}, {3, 4, 2}});
    const NetworkFingerprint b = fingerprintLoadedNetwork();
    EXPECT_NE(a.hash, b.hash);
    const std::string name = checkpointPath("dir", {a, 4, 1});
    EXPECT_EQ(name.rfind("dir/spc_sweep-n4-m4-", 0), 0u) << name;
    EXPECT_NE(name, checkpointPath("dir", {b, 4, 1}));
    EXPECT_NE(name, checkpointPath("dir", {a, 3, 1}));
}

}  // namespace
