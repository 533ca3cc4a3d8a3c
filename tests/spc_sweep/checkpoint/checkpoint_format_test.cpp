// The batch tool's checkpoint as text: every kind of line read back, the tail
// a crash leaves dropped, damage before the last sync refused, values no run
// writes refused field by field, files of the earlier format read.
#include <gtest/gtest.h>

#include "spc_sweep/checkpoint/checkpoint_format.h"

namespace {

class CheckpointText : public ::testing::Test {
protected:
    void SetUp() override {
        header_ = {{12, 30, 0x0123456789abcdefu}, 2};
        figures_ = {{12, -(int128{1} << 70), 5, 3, 1.0 / 3}, {1, 0, 0, 2, 0}};
        text_ = headerLine(header_) + figuresLine(1, figures_.data(), 2) +
                runLine(0, 1, 2, 1000, figuresCheck(figures_.data(), 2));
        synced_ = text_.size();  // a mark: everything before it was synced
        text_ += markLine(synced_) + doneLine(1, 1, 77) + runLine(1, 12, 12, 5, 0xfedcba9876543210u);
    }
    std::string read(const std::string& text) {
        got_.clear();
        numbers_.clear();
        return readCheckpointText(
            text, header_,
            [&](const CheckpointLine& line, int64_t number) {
                got_.push_back(line);
                numbers_.push_back(number);
                return std::string();
            },
            scan_);
    }
    // The header, then a line of our own, CRC and all.
    std::string withBody(const std::string& body) { return headerLine(header_) + withCrc(body); }

    CheckpointHeader header_;
    std::vector<SourceFigures> figures_;
    std::string text_;
    size_t synced_ = 0;
    std::vector<CheckpointLine> got_;
    std::vector<int64_t> numbers_;
    CheckpointScan scan_;
};

TEST_F(CheckpointText, ReadsBackEveryKindOfLine) {
    ASSERT_EQ(read(text_), "");
    ASSERT_EQ(got_.size(), 4u);
    EXPECT_EQ(got_[0].kind, CheckpointLine::figures);
    EXPECT_EQ(got_[0].first, 1);
    EXPECT_EQ(got_[0].last, 2);
    ASSERT_EQ(got_[0].sources.size(), 2u);
    EXPECT_TRUE(got_[0].sources[0] == figures_[0]);
    EXPECT_TRUE(got_[0].sources[1] == figures_[1]);
    EXPECT_EQ(got_[0].sources[0].harmonic, 1.0 / 3);  // to the last bit
    EXPECT_EQ(got_[0].sources[1].harmonic, 0.0);
    EXPECT_EQ(got_[1].kind, CheckpointLine::run);
    EXPECT_EQ(got_[1].repetition, 0);
    EXPECT_EQ(got_[1].cpu_ns, 1000u);
    EXPECT_EQ(got_[1].check, figuresCheck(figures_.data(), 2));
    EXPECT_EQ(got_[2].kind, CheckpointLine::done);
    EXPECT_EQ(got_[2].repetition, 1);
    EXPECT_EQ(got_[2].last_repetition, 1);
    EXPECT_EQ(got_[2].cpu_ns, 77u);
    EXPECT_EQ(got_[3].repetition, 1);
    EXPECT_EQ(got_[3].first, 12);
    EXPECT_EQ(got_[3].last, 12);
    EXPECT_EQ(got_[3].check, 0xfedcba9876543210u);
    EXPECT_EQ(numbers_, (std::vector<int64_t>{2, 3, 5, 6}));  // the mark is line 4
    EXPECT_EQ(scan_.good_bytes, text_.size());
    EXPECT_EQ(scan_.lines, 4);
    EXPECT_FALSE(scan_.dropped_tail);
    EXPECT_FALSE(scan_.earlier_format);
    EXPECT_EQ(crc32("123456789"), 0xcbf43926u);  // the standard check value
}

// The check value covers every field of every source, in order.
TEST_F(CheckpointText, TheCheckValueSeesEveryField) {
    const uint64_t check = figuresCheck(figures_.data(), 2);
    std::vector<SourceFigures> swapped = {figures_[1], figures_[0]};
    EXPECT_NE(figuresCheck(swapped.data(), 2), check);
    EXPECT_NE(figuresCheck(figures_.data(), 1), check);
    for (int field = 0; field < 5; ++field) {
        std::vector<SourceFigures> changed = figures_;
        SourceFigures& f = changed[1];
        switch (field) {
            case 0: f.reached += 1; break;
            case 1: f.sum += 1; break;
            case 2: f.sum += int128{1} << 64; break;  // the sum's high half
            case 3: f.largest += 1; break;
            default: f.scans += 1; break;
        }
        EXPECT_NE(figuresCheck(changed.data(), 2), check) << field;
    }
}

TEST_F(CheckpointText, AfterTheLastMarkDamageIsATailToDrop) {
    const size_t mark_end = synced_ + markLine(synced_).size();
    for (size_t cut = mark_end + 1; cut < text_.size(); ++cut) {
        ASSERT_EQ(read(text_.substr(0, cut)), "") << cut;
        const size_t done_end = mark_end + doneLine(1, 1, 77).size();
        EXPECT_EQ(got_.size(), cut >= done_end ? 3u : 2u) << cut;
        EXPECT_EQ(scan_.dropped_tail, cut != done_end) << cut;
    }
    // A power loss zeroes what was not yet synced: the lines before it stay.
    std::string zeroed = text_;
    zeroed.replace(mark_end + 3, 20, std::string(20, '\0'));
    ASSERT_EQ(read(zeroed), "");
    EXPECT_EQ(got_.size(), 2u);
    EXPECT_EQ(scan_.good_bytes, mark_end);
    // A header cut short is where the file began: it starts afresh.
    EXPECT_EQ(read(headerLine(header_).substr(0, 20)), "");
    EXPECT_EQ(scan_.good_bytes, 0u);
    EXPECT_TRUE(scan_.dropped_tail);
    EXPECT_EQ(read(""), "");
    EXPECT_FALSE(scan_.dropped_tail);
}

// The last mark decides: damage before it is on the disk, damage after it
// may be a crash's.
TEST_F(CheckpointText, OnlyTheLastMarkCounts) {
    const std::string second_mark = markLine(text_.size());
    std::string text = text_ + second_mark;
    std::string damaged = text;
    damaged[synced_ + markLine(synced_).size() + 5] ^= 1;  // between the marks
    EXPECT_EQ(read(damaged), "line 5 is damaged");
    // The same damage with the second mark cut off is a tail.
    ASSERT_EQ(read(damaged.substr(0, damaged.size() - 3)), "");
    EXPECT_TRUE(scan_.dropped_tail);
    EXPECT_EQ(got_.size(), 2u);
    // A mark that says it is somewhere else is damage, and marks nothing.
    EXPECT_EQ(read(text_ + markLine(3)), "line 7 is damaged");
}

TEST_F(CheckpointText, DamageBeforeAMarkAndForeignHeadersAreRefused) {
    std::string damaged = text_;
    damaged[headerLine(header_).size() + 10] ^= 1;
    EXPECT_EQ(read(damaged), "line 2 is damaged");
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
                                          CheckpointHeader{{12, 31, header_.network.hash}, 2},
                                          CheckpointHeader{{12, 30, header_.network.hash + 1}, 2},
                                          CheckpointHeader{header_.network, 3},
                                          CheckpointHeader{header_.network, 2, true}}) {  // PHAST's figures
        const std::string why = read(headerLine(other) + text_.substr(headerLine(header_).size()));
        EXPECT_EQ(why.rfind("it belongs to another network or repetition count (its header says nodes ", 0), 0u)
            << why;
    }
}

// Lines whose CRC holds but that no run could have written (12 nodes, 30
// arcs, 2 repetitions): refused with their line number.
TEST_F(CheckpointText, ValuesNoRunWritesAreRefused) {
    const std::string check = " check 0123456789abcdef";
    const std::string sum129 = std::string(40, '9');
    for (const std::string& body : {
             // run lines: each field at its bounds
             "run 0 1 1 ns 5" + check, "run 3 1 1 ns 5" + check, "run 1 0 0 ns 5" + check,
             "run 1 13 13 ns 5" + check, "run 1 12 13 ns 5" + check, "run 1 5 4 ns 5" + check,
             "run 1 1 65 ns 5" + check, "run 1 1 1 ns -5" + check, "run 1 1 1 ns 4611686018427387905" + check,
             std::string("run 1 1 1 ns 5 check 0123456789ABCDEF"), std::string("run 1 1 1 ns 5 check 0123456789abcde"),
             std::string("run 1 1 1 ns 5 check 0123456789abcdefa"), "run 1 1 1 ns 5" + check + " extra",
             std::string("run 1 1 1 ns 5"), "run 1 1 1 time 5" + check,
             // figures lines
             std::string("figures 0 0 1 0 0 0"), std::string("figures 13 13 1 0 0 0"),
             std::string("figures 1 2 1 0 0 0"),      // one source's figures for two
             std::string("figures 1 1 1 0 0 0 1 0 0 0"),  // two for one
             std::string("figures 1 1 0 0 0 0"), std::string("figures 1 1 13 0 0 0"),  // reached 0 and 13 of 12
             std::string("figures 1 1 2 0 -1 0"),                                      // a negative eccentricity
             std::string("figures 1 1 2 0 0 31"), std::string("figures 1 1 2 0 0 -1"), // 31 of 30 arcs
             std::string("figures 1 1 1 4 0 0"), std::string("figures 1 1 1 0 4 0"),   // alone, yet a distance
             "figures 1 1 2 " + sum129 + " 0 0",                                       // a sum past 128 bits
             std::string("figures 1 1 2 0 4611686018427387905 0"),                     // a label past 2^62
             std::string("figures 1 1 2 0 0 0 extra"),
             // harmonic sums: all or none, 16 hex digits, within 0..reached
             std::string("figures 1 1 2 0 0 0 h"), std::string("figures 1 1 2 0 0 0 h 3ff0000000000000 0"),
             std::string("figures 1 1 2 0 0 0 h 3FF0000000000000"), std::string("figures 1 1 2 0 0 0 h 3ff000000000000"),
             std::string("figures 1 1 2 0 0 0 h fff8000000000000"),  // not a number
             std::string("figures 1 1 2 0 0 0 h bff0000000000000"),  // -1
             std::string("figures 1 1 2 0 0 0 h 4008000000000000"),  // 3, past 1/1 for each of 2 nodes
             // done lines
             std::string("done 0 1 ns 5"), std::string("done 1 3 ns 5"), std::string("done 2 1 ns 5"),
             std::string("done 1 1 ns -1"), std::string("done 1 1"), std::string("done 1 1 ns 5 more"),
             // others
             std::string("unit 3 sum 0 scans 0 ns 0"), std::string("run 1 1 1 ns 5 sources 1 0 0 0")}) {
        EXPECT_EQ(read(withBody(body)), "line 2 is damaged (it holds what no run writes)") << body;
    }
    // Just inside every bound.
    for (const std::string& body :
         {"run 2 12 12 ns 4611686018427387904" + check, "run 1 1 12 ns 0" + check, std::string("done 1 2 ns 0"),
          std::string("figures 12 12 12 -100 4611686018427387904 30"), std::string("figures 1 1 1 0 0 0"),
          std::string("figures 1 1 2 0 0 0 h 4000000000000000")}) {
        EXPECT_EQ(read(withBody(body)), "") << body;
        EXPECT_EQ(got_.size(), 1u) << body;
    }
    // A line of an earlier spc_sweep, without harmonic sums, leaves them unknown.
    ASSERT_EQ(read(withBody("figures 1 1 2 0 0 0")), "");
    EXPECT_FALSE(got_[0].sources[0].harmonicKnown());
    // What the sink refuses, with the line's number.
    EXPECT_EQ(readCheckpointText(text_, header_,
                                 [](const CheckpointLine& l, int64_t) {
                                     return l.kind == CheckpointLine::done ? std::string("again") : "";
                                 },
                                 scan_),
              "line 5: again");
}

// A file of the earlier format, whose run lines held every repetition's
// figures: each read as its figures and a run line with their check value.
TEST_F(CheckpointText, TheEarlierFormatIsReadAsFiguresAndRuns) {
    std::string earlier = headerLine(header_);
    earlier.replace(earlier.find(" checkpoint 3 "), 14, " checkpoint 2 ");
    earlier = withCrc(earlier.substr(0, earlier.rfind(" crc "))) +
              withCrc("run 2 1 2 ns 99 sources 12 -1180591620717411303424 5 3 1 0 0 2");
    ASSERT_EQ(read(earlier), "");
    EXPECT_TRUE(scan_.earlier_format);
    ASSERT_EQ(got_.size(), 2u);
    EXPECT_EQ(got_[0].kind, CheckpointLine::figures);
    EXPECT_TRUE(got_[0].sources[0] == figures_[0]);
    EXPECT_EQ(got_[1].kind, CheckpointLine::run);
    EXPECT_EQ(got_[1].repetition, 1);
    EXPECT_EQ(got_[1].cpu_ns, 99u);
    EXPECT_EQ(got_[1].check, figuresCheck(figures_.data(), 2));
    // Lines of this format after an earlier header are damage.
    const std::string mixed = earlier.substr(0, earlier.find('\n') + 1) + figuresLine(1, figures_.data(), 1);
    EXPECT_EQ(read(mixed), "line 2 is damaged (it holds what no run writes)");
}

}  // namespace
