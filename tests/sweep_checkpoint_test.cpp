// The batch tool's checkpoint: its text read back, the tail a crash leaves
// dropped, damage before a sync refused, values no run writes refused; the
// file opened without following links and under a lock; the record of a
// finished network.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "program_run.h"
#include "spc_sweep/checkpoint_file.h"
#include "spc_sweep/sweep_checkpoint.h"
#include "test_support.h"

namespace {

class CheckpointText : public ::testing::Test {
protected:
    void SetUp() override {
        header_ = {{12, 30, 0x0123456789abcdefu}, 2};
        text_ = headerLine(header_);
        records_ = {{{0, 0, 1, 2}, 1000, {{12, -(int128{1} << 70), 5, 3}, {1, 0, 0, 2}}, -1},
                    {{1, 1, 5, 5}, 7, {{3, 9, 6, 30}}, -1},
                    {{2, 0, 12, 12}, 0, {{2, 4, 4, 1}}, -1}};
        text_ += recordLine(records_[0]) + recordLine(records_[1]);
        synced_ = text_.size();  // a mark: everything before it was synced
        text_ += markLine(synced_) + recordLine(records_[2]);
    }
    std::string read(const std::string& text) {
        got_.clear();
        return readCheckpointText(
            text, header_,
            [&](const ChunkRecord& r, int64_t line) {
                got_.push_back(r);
                lines_.push_back(line);
                return std::string();
            },
            scan_);
    }
    // The text with one record line replaced by a body of our own, CRC and all.
    std::string withLine(size_t index, const std::string& body) {
        std::string text = headerLine(header_);
        for (size_t i = 0; i < 2; ++i) text += i == index ? withCrc(body) : recordLine(records_[i]);
        return text;
    }
    CheckpointHeader header_;
    std::vector<ChunkRecord> records_;
    std::string text_;
    size_t synced_ = 0;
    std::vector<ChunkRecord> got_;
    std::vector<int64_t> lines_;
    CheckpointScan scan_;
};

TEST_F(CheckpointText, ReadsBackWhatWasWritten) {
    ASSERT_EQ(read(text_), "");
    ASSERT_EQ(got_.size(), 3u);
    EXPECT_EQ(got_[1].chunk.repetition, 1);
    EXPECT_EQ(got_[1].chunk.first, 5);
    EXPECT_EQ(got_[0].cpu_ns, 1000u);
    EXPECT_TRUE(got_[0].sources[0] == records_[0].sources[0]);
    EXPECT_TRUE(got_[0].sources[1] == records_[0].sources[1]);
    EXPECT_EQ(lines_.back(), 5);  // header, two records, the mark, the record
    EXPECT_EQ(scan_.good_bytes, text_.size());
    EXPECT_FALSE(scan_.dropped_tail);
    EXPECT_EQ(crc32("123456789"), 0xcbf43926u);  // the standard check value
}

TEST_F(CheckpointText, AfterTheLastMarkDamageIsATailToDrop) {
    // Cut at every point after the mark.
    for (size_t cut = synced_ + markLine(synced_).size() + 1; cut < text_.size(); ++cut) {
        ASSERT_EQ(read(text_.substr(0, cut)), "") << cut;
        EXPECT_EQ(got_.size(), 2u);
        EXPECT_EQ(scan_.good_bytes, synced_ + markLine(synced_).size());
        EXPECT_TRUE(scan_.dropped_tail);
    }
    // A power loss zeroes a page of what was not yet synced: the records
    // before it stay, those after it go.
    std::string zeroed = text_;
    for (int i = 0; i < 5; ++i) zeroed += recordLine(records_[1]);
    const size_t page_at = text_.size() - 10;
    zeroed.replace(page_at, 40, std::string(40, '\0'));
    ASSERT_EQ(read(zeroed), "");
    EXPECT_EQ(got_.size(), 2u);
    EXPECT_TRUE(scan_.dropped_tail);
    // A header cut short is where the file began: it starts afresh.
    EXPECT_EQ(read(headerLine(header_).substr(0, 20)), "");
    EXPECT_EQ(scan_.good_bytes, 0u);
    EXPECT_EQ(read(""), "");
    EXPECT_FALSE(scan_.dropped_tail);
}

TEST_F(CheckpointText, DamageBeforeAMarkAndForeignHeadersAreRefused) {
    std::string damaged = text_;
    damaged[headerLine(header_).size() + 10] ^= 1;  // within the first record
    EXPECT_EQ(read(damaged), "line 2 is damaged");
    // A line past the cap, before a mark.
    const std::string long_line = text_.substr(0, synced_) + std::string(20000, 'x') + "\n" + markLine(synced_ + 20001);
    EXPECT_EQ(read(long_line), "line 4 is damaged");
    damaged = text_;
    damaged[4] = 'X';
    EXPECT_EQ(read(damaged), "its header line is damaged");
    EXPECT_EQ(read("hello\n"), "its header line is damaged");
    EXPECT_EQ(read("hello"), "it is not a checkpoint of spc_sweep");
    EXPECT_EQ(read(withCrc("spc_sweep checkpoint 1 nodes 12 arcs 30 hash 0 repetitions 2 block 1")),
              "it was written by an earlier spc_sweep, whose checkpoints this one does not read");
    for (const CheckpointHeader& other : {CheckpointHeader{{13, 30, header_.network.hash}, 2},
                                          CheckpointHeader{{12, 30, header_.network.hash + 1}, 2},
                                          CheckpointHeader{header_.network, 3}}) {
        const std::string why = read(headerLine(other) + text_.substr(headerLine(header_).size()));
        EXPECT_EQ(why.rfind("it belongs to another network or repetition count (its header says nodes ", 0), 0u)
            << why;
    }
    // A mark that says it is somewhere else.
    EXPECT_EQ(read(text_ + markLine(3)), "line 6 is damaged");
}

// Lines whose CRC holds but that no run could have written: refused with
// their line number, wherever they are.
TEST_F(CheckpointText, ValuesNoRunWritesAreRefused) {
    const std::string why = "line 2 is damaged (it holds what no run writes)";
    for (const std::string& body : {
             std::string("run 1 1 1 ns -5 sources 1 0 0 0"),                     // negative time
             std::string("run 1 1 1 ns 5 sources 1 ") + std::string(40, '9') + " 0 0",  // a sum past 128 bits
             std::string("run 3 1 1 ns 5 sources 1 0 0 0"),                      // repetition 3 of 2
             std::string("run 1 0 0 ns 5 sources 1 0 0 0"),                      // source 0
             std::string("run 1 12 13 ns 5 sources 1 0 0 0 1 0 0 0"),            // source 13 of 12
             std::string("run 1 1 2 ns 5 sources 1 0 0 0"),                      // one source's figures for two
             std::string("run 1 1 1 ns 5 sources 0 0 0 0"),                      // nothing reached
             std::string("run 1 1 1 ns 5 sources 13 0 0 0"),                     // 13 of 12 reached
             std::string("run 1 1 1 ns 5 sources 2 0 0 31"),                     // 31 of 30 arcs
             std::string("run 1 1 1 ns 5 sources 1 4 0 0"),                      // alone, yet a distance
             std::string("run 1 1 65 ns 5 sources 1 0 0 0"),                     // longer than a chunk
             std::string("run 1 1 1 ns 5 sources 2 0 0 0 extra"),
             std::string("unit 3 sum 0 scans 0 ns 0"),  // a line of the earlier format
         }) {
        EXPECT_EQ(read(withLine(0, body)), why) << body;
    }
    // Sources recorded twice, or figures that disagree: the sink refuses.
    const std::string twice = text_ + recordLine(records_[0]);
    EXPECT_EQ(readCheckpointText(twice, header_,
                                 [](const ChunkRecord& r, int64_t) {
                                     return r.chunk.first == 1 && r.cpu_ns == 1000 ? std::string("again") : "";
                                 },
                                 scan_),
              "line 2: again");
}

class CheckpointOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/spc_checkpoint_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        header_ = {{12, 30, 0x0123456789abcdefu}, 2};
        path_ = checkpointPath(dir_, header_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string open(CheckpointFile& file) {
        records_.clear();
        std::string note;
        return file.open(
            path_, header_, [&](const ChunkRecord& r, int64_t) { records_.push_back(r); return std::string(); }, scan_,
            note);
    }
    std::string dir_, path_;
    CheckpointHeader header_;
    CheckpointScan scan_;
    std::vector<ChunkRecord> records_;
};

TEST_F(CheckpointOnDisk, AppendsSyncsWithMarksAndCutsOffATail) {
    const ChunkRecord record{{0, 1, 3, 4}, 9, {{2, 5, 5, 1}, {1, 0, 0, 0}}, 0};
    {
        CheckpointFile file;
        ASSERT_EQ(open(file), "");
        EXPECT_EQ(readAllBytes(path_), headerLine(header_) + markLine(headerLine(header_).size()));
        ASSERT_EQ(file.append(record), "");
        ASSERT_EQ(file.sync(), "");
        ASSERT_EQ(file.close(), "");
    }
    const std::string kept = readAllBytes(path_);
    const size_t mark_at = kept.rfind("synced");
    EXPECT_EQ(kept.substr(mark_at), markLine(mark_at));
    spc_test::writeFile(path_, kept + "run 2 1 ");  // a crash in the middle of a line
    CheckpointFile file;
    ASSERT_EQ(open(file), "");
    ASSERT_EQ(records_.size(), 1u);
    EXPECT_TRUE(records_[0].sources[0] == record.sources[0]);
    EXPECT_TRUE(scan_.dropped_tail);
    EXPECT_EQ(readAllBytes(path_).substr(0, kept.size()), kept);  // the tail is gone, a new mark follows
    EXPECT_EQ(file.remove(), "");
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(CheckpointOnDisk, ASecondRunIsRefusedAndChangesNothing) {
    CheckpointFile first;
    ASSERT_EQ(open(first), "");
    ASSERT_EQ(first.append({{0, 0, 1, 1}, 1, {{1, 0, 0, 0}}, 0}), "");
    const std::string before = readAllBytes(path_);
    CheckpointFile second;
    EXPECT_EQ(open(second), CheckpointFile::kInUse);
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(readAllBytes(path_), before);
    ASSERT_EQ(first.append({{1, 0, 2, 2}, 1, {{1, 0, 0, 0}}, 0}), "");  // the first goes on
    ASSERT_EQ(first.close(), "");
    CheckpointFile third;  // once the first is done, it may
    ASSERT_EQ(open(third), "");
    EXPECT_EQ(records_.size(), 2u);
}

TEST_F(CheckpointOnDisk, SymbolicLinksAreNotFollowed) {
    const std::string target = dir_ + "/target";
    ASSERT_EQ(symlink(target.c_str(), path_.c_str()), 0);  // dangling
    CheckpointFile file;
    EXPECT_EQ(open(file), "it is a symbolic link, which is not followed");
    EXPECT_FALSE(std::filesystem::exists(target));
    spc_test::writeFile(target, "");
    EXPECT_EQ(open(file), "it is a symbolic link, which is not followed");
    EXPECT_EQ(readAllBytes(target), "");
}

TEST_F(CheckpointOnDisk, TheFinishedRecordReadsBackAndRefusesOthers) {
    const FinishedRecord written{-(int128{1} << 80), 123, 456789, 1.5, 3, 7, 42, -1, "2026-12-08T20:01:50Z"};
    const std::string path = finishedPath(dir_, header_);
    ASSERT_EQ(writeFileSafely(path, finishedText(header_, written)), "");
    FinishedRecord r;
    ASSERT_EQ(readFinished(path, header_, r), "");
    EXPECT_TRUE(r.sum == written.sum);
    EXPECT_EQ(r.scans, 123);
    EXPECT_EQ(r.cpu_ns, 456789u);
    EXPECT_EQ(r.wall_seconds, 1.5);
    EXPECT_EQ(r.ranks, 3);
    EXPECT_EQ(r.resumed, 7);
    EXPECT_EQ(r.diameter, 42);
    EXPECT_EQ(r.radius, -1);
    EXPECT_EQ(r.ended, "2026-12-08T20:01:50Z");
    EXPECT_EQ(readFinished(dir_ + "/none", header_, r), "absent");
    EXPECT_EQ(readFinished(path, {header_.network, 3}, r), "it is of another network or repetition count");
    std::string text = readAllBytes(path);
    text[text.size() - 20] ^= 1;
    spc_test::writeFile(path, text);
    EXPECT_EQ(readFinished(path, header_, r), "it is damaged");
}

}  // namespace
