// The checkpoint and the finished record on disk: appended, synced with
// marks, cut back after a crash, written anew once run lines outgrow the
// figures; one run at a time, no links followed, no file of another user
// taken, the umask honoured; the finished record's outputs noted.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "program_run.h"
#include "spc_sweep/checkpoint/checkpoint_file.h"
#include "spc_sweep/checkpoint/durable_files.h"
#include "spc_sweep/checkpoint/finished_record.h"
#include "spc_sweep/plan/plan.h"

namespace {

class CheckpointOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/spc_checkpoint_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        header_ = {{12, 30, 0x0123456789abcdefu}, 2};
        path_ = checkpointPath(dir_, header_);
        for (int64_t s = 1; s <= 12; ++s) truth_.push_back({2 + s % 10, s * 10, s, s % 3});
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    CheckpointFile::Opened open(CheckpointFile& file) {
        lines_.clear();
        return file
            .openAndRead(
                path_, header_, [&](const CheckpointLine& l, int64_t) { lines_.push_back(l); return std::string(); },
                scan_)
            .outcome;
    }
    ChunkRecord chunk(int32_t repetition, int64_t first, int64_t last, uint64_t ns = 9) const {
        ChunkRecord r{{0, repetition, first, last}, ns, {}, 0};
        for (int64_t s = first; s <= last; ++s) r.sources.push_back(truth_[static_cast<size_t>(s - 1)]);
        return r;
    }
    std::string dir_, path_;
    CheckpointHeader header_;
    CheckpointScan scan_;
    std::vector<CheckpointLine> lines_;
    std::vector<SourceFigures> truth_;
};

TEST_F(CheckpointOnDisk, AppendsSyncsWithMarksAndCutsOffATail) {
    {
        CheckpointFile file;
        ASSERT_EQ(open(file), CheckpointFile::Opened::ok);
        EXPECT_EQ(readAllBytes(path_), headerLine(header_) + markLine(headerLine(header_).size()));
        ASSERT_EQ(file.appendChunk(chunk(0, 3, 4), {{3, 4}}), "");
        ASSERT_EQ(file.appendChunk(chunk(1, 3, 4), {}), "");  // known: a run line only
        ASSERT_EQ(file.sync(), "");
        ASSERT_EQ(file.closeKeeping(), "");
    }
    const std::string kept = readAllBytes(path_);
    const size_t mark_at = kept.rfind("synced");
    EXPECT_EQ(kept.substr(mark_at), markLine(mark_at));
    spc_test::writeFile(path_, kept + "run 2 1 ");  // a crash in the middle of a line
    CheckpointFile file;
    ASSERT_EQ(open(file), CheckpointFile::Opened::ok);
    ASSERT_EQ(lines_.size(), 3u);
    EXPECT_EQ(lines_[0].kind, CheckpointLine::figures);
    EXPECT_TRUE(lines_[0].sources[1] == truth_[3]);
    EXPECT_EQ(lines_[2].repetition, 1);
    EXPECT_EQ(lines_[2].check, figuresCheck(&truth_[2], 2));
    EXPECT_TRUE(scan_.dropped_tail);
    EXPECT_EQ(readAllBytes(path_).substr(0, kept.size()), kept);  // the tail is gone, a new mark follows
    EXPECT_EQ(file.closeRemoving(), "");
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(CheckpointOnDisk, ASecondRunIsRefusedAndChangesNothing) {
    CheckpointFile first;
    ASSERT_EQ(open(first), CheckpointFile::Opened::ok);
    ASSERT_EQ(first.appendChunk(chunk(0, 1, 1), {{1, 1}}), "");
    const std::string before = readAllBytes(path_);
    CheckpointFile second;
    EXPECT_EQ(open(second), CheckpointFile::Opened::in_use);
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(readAllBytes(path_), before);
    ASSERT_EQ(first.appendChunk(chunk(0, 2, 2), {{2, 2}}), "");  // the first goes on
    ASSERT_EQ(first.closeKeeping(), "");
    CheckpointFile third;  // once the first is done, it may
    ASSERT_EQ(open(third), CheckpointFile::Opened::ok);
    EXPECT_EQ(lines_.size(), 4u);
}

// Links are not followed, and a file another user could have planted (in a
// shared directory) is not taken.
TEST_F(CheckpointOnDisk, LinksAndFilesOfOthersAreRefused) {
    const std::string target = dir_ + "/target";
    ASSERT_EQ(symlink(target.c_str(), path_.c_str()), 0);  // dangling
    CheckpointFile file;
    EXPECT_EQ(open(file), CheckpointFile::Opened::refused);
    EXPECT_FALSE(std::filesystem::exists(target));
    ASSERT_EQ(unlink(path_.c_str()), 0);
    spc_test::writeFile(path_, headerLine(header_));
    ASSERT_EQ(chmod(path_.c_str(), 0666), 0);
    EXPECT_EQ(file.openAndRead(path_, header_, [](const CheckpointLine&, int64_t) { return std::string(); }, scan_).why,
              "any user may write it, so its records are not taken");
    ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(path_.c_str(), 65534, 65534), 0);
        EXPECT_EQ(file.openAndRead(path_, header_, [](const CheckpointLine&, int64_t) { return std::string(); }, scan_).why,
                  "it belongs to another user (uid 65534), whose records are not taken");
    }
    EXPECT_EQ(readAllBytes(path_), headerLine(header_));
}

TEST_F(CheckpointOnDisk, NewFilesFollowTheUmask) {
    const mode_t old = umask(027);
    noteUmask();
    CheckpointFile file;
    ASSERT_EQ(open(file), CheckpointFile::Opened::ok);
    ASSERT_EQ(writeFileSafely(dir_ + "/safe", "text"), "");
    umask(old);
    noteUmask();
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_EQ(stat((dir_ + "/safe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Many repetitions: once the run lines outgrow the figures, the file is
// written anew with complete repetitions as done lines, and a resume reads
// the same plan from it.
TEST_F(CheckpointOnDisk, RunLinesOfCompleteRepetitionsFoldIntoDoneLines) {
    header_.repetitions = 1000;
    path_ = checkpointPath(dir_, header_);
    SweepTally tally(12);
    CheckpointFile file;
    ASSERT_EQ(open(file), CheckpointFile::Opened::ok);
    // Repetitions in chunks of 1, 2, 3 sources; the last one half done.
    int64_t runs = 0;
    for (int32_t repetition = 0; repetition < 700; ++repetition) {
        for (int64_t first = 1; first <= (repetition == 699 ? 6 : 12);) {
            const int64_t last = std::min<int64_t>(12, first + repetition % 3);
            const ChunkRecord r = chunk(repetition, first, last, 1);
            const auto unknown = tally.unknownStretches(first, last);
            ASSERT_EQ(tally.add(r), "");
            ASSERT_EQ(file.appendChunk(r, unknown), "");
            ++runs;
            if (file.compactionDue(tally.knownSources())) {
                ASSERT_EQ(file.compact(tally), "");
            }
            first = last + 1;
        }
    }
    EXPECT_LE(file.runLines(), 4096 + 3);
    ASSERT_EQ(file.closeKeeping(), "");
    EXPECT_LT(readAllBytes(path_).size(), size_t{4500} * 60);  // about 60 bytes a run line kept
    // Read back: every run of the first 699 repetitions, and half of the last.
    SweepSchedule plan(12, 1000, 1);
    SweepTally back(12);
    CheckpointFile again;
    const auto sink = [&](const CheckpointLine& l, int64_t) {
        if (l.kind == CheckpointLine::figures) return back.learn(l.first, l.sources, "file");
        back.addCpu(l.cpu_ns);
        if (l.kind == CheckpointLine::done) return plan.markRepetitions(l.repetition, l.last_repetition);
        EXPECT_EQ(l.check, figuresCheck(&truth_[static_cast<size_t>(l.first - 1)], static_cast<size_t>(l.last - l.first + 1)));
        return plan.markDone(l.repetition, l.first, l.last);
    };
    ASSERT_EQ(again.openAndRead(path_, header_, sink, scan_).outcome, CheckpointFile::Opened::ok);
    EXPECT_EQ(plan.done(), 699 * 12 + 6);
    EXPECT_EQ(back.cpuNs(), static_cast<uint64_t>(runs));  // every run's time kept
    for (int64_t s = 1; s <= 12; ++s) EXPECT_TRUE(back.figures(s) == truth_[static_cast<size_t>(s - 1)]);
    Chunk next;
    ASSERT_TRUE(plan.next(next));
    EXPECT_EQ(next.repetition, 699);
    EXPECT_EQ(next.first, 7);
    // Written anew, the file is still this run's alone.
    CheckpointFile second;
    EXPECT_EQ(open(second), CheckpointFile::Opened::in_use);
}

class FinishedOnDisk : public CheckpointOnDisk {
protected:
    void SetUp() override {
        CheckpointOnDisk::SetUp();
        path_ = finishedPath(dir_, header_);
        tally_ = std::make_unique<SweepTally>(12);
        ASSERT_EQ(tally_->learn(1, truth_, "test"), "");
        totals_ = {-(int128{1} << 80), 123, 456789, 1.5, 3, 6, 7, 11, 42, -1, "2026-12-08T20:01:49Z",
                   "2026-12-08T20:01:50Z", "host with blanks%"};
        ASSERT_EQ(FinishedRecord::create(path_, header_, *tally_, totals_), "");
    }
    std::unique_ptr<SweepTally> tally_;
    NetworkTotals totals_;
};

TEST_F(FinishedOnDisk, HoldsTheTotalsEveryFigureAndTheOutputsServed) {
    const OutputKey log{"log", "/a dir/log.txt", "net 1.gr", 2};
    const OutputKey table{"per-source", "/x/t.tsv"};
    {
        FinishedRecord record;
        std::string why;
        ASSERT_EQ(record.openRecord(path_, header_, why), FinishedRecord::Read::ok) << why;
        const NetworkTotals& t = record.totals();
        EXPECT_TRUE(t.sum == totals_.sum);
        EXPECT_EQ(t.scans, 123);
        EXPECT_EQ(t.cpu_ns, 456789u);
        EXPECT_EQ(t.wall_seconds, 1.5);
        EXPECT_EQ(t.ranks, 3);
        EXPECT_EQ(t.threads, 6);
        EXPECT_EQ(t.resumed, 7);
        EXPECT_EQ(t.chunks, 11);
        EXPECT_EQ(t.diameter, 42);
        EXPECT_EQ(t.radius, -1);
        EXPECT_EQ(t.started, "2026-12-08T20:01:49Z");
        EXPECT_EQ(t.host, "host with blanks%");
        SweepTally figures(12);
        ASSERT_EQ(record.readFigures(figures), "");
        for (int64_t s = 1; s <= 12; ++s) EXPECT_TRUE(figures.figures(s) == truth_[static_cast<size_t>(s - 1)]);
        EXPECT_FALSE(record.served(log));
        ASSERT_EQ(record.noteBegun(log, 77), "");
        ASSERT_EQ(record.noteServed(table, 5, 6), "");
        FinishedRecord second;  // one run at a time
        EXPECT_EQ(second.openRecord(path_, header_, why), FinishedRecord::Read::in_use);
    }
    FinishedRecord record;
    std::string why;
    ASSERT_EQ(record.openRecord(path_, header_, why), FinishedRecord::Read::ok) << why;
    uint64_t at = 0, size = 0, hash = 0;
    EXPECT_TRUE(record.begun(log, at));
    EXPECT_EQ(at, 77u);
    EXPECT_FALSE(record.served(log));
    EXPECT_FALSE(record.begun({"log", "/a dir/log.txt", "net 1.gr", 1}, at));  // another occurrence
    EXPECT_TRUE(record.served(table, &size, &hash));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(hash, 6u);
}

// Only a last line appended after the totals may be cut short by a crash; it
// is dropped. Damage anywhere else, another network or a file of another
// user refuses the record.
TEST_F(FinishedOnDisk, ACutLastLineIsDroppedAndDamageRefused) {
    const std::string whole = readAllBytes(path_);
    spc_test::writeFile(path_, whole + "served log /l n 1 si");
    FinishedRecord record;
    std::string why;
    ASSERT_EQ(record.openRecord(path_, header_, why), FinishedRecord::Read::ok) << why;
    EXPECT_EQ(readAllBytes(path_), whole);
    record.forget();
    for (size_t at : {size_t{5}, whole.size() / 2, whole.size() - 5}) {
        std::string damaged = whole;
        damaged[at] ^= 1;
        spc_test::writeFile(path_, damaged);
        EXPECT_EQ(record.openRecord(path_, header_, why), FinishedRecord::Read::refused) << at;
        record.forget();
    }
    spc_test::writeFile(path_, whole.substr(0, whole.rfind("totals")));  // no totals: never written so
    EXPECT_EQ(record.openRecord(path_, header_, why), FinishedRecord::Read::refused);
    EXPECT_EQ(why, "it is damaged");
    record.forget();
    spc_test::writeFile(path_, whole);
    EXPECT_EQ(record.openRecord(path_, {header_.network, 3}, why), FinishedRecord::Read::refused);
    EXPECT_EQ(why, "it is of another network or repetition count");
    record.forget();
    EXPECT_EQ(record.openRecord(dir_ + "/none", header_, why), FinishedRecord::Read::absent);
    ASSERT_EQ(chmod(path_.c_str(), 0606), 0);
    EXPECT_EQ(record.openRecord(path_, header_, why), FinishedRecord::Read::refused);
    EXPECT_EQ(why, "any user may write it, so its records are not taken");
}

TEST_F(FinishedOnDisk, ARecordOfTheEarlierFormatStillReports) {
    const std::string head = "spc_sweep finished 2 nodes 12 arcs 30 hash 0123456789abcdef repetitions 2";
    spc_test::writeFile(path_, withCrc(head) + withCrc("sum 18 scans 6 ns 1000000 wall 0.5 ranks 2 resumed 0 "
                                                       "diameter 7 radius 5 ended 2026-12-08T20:01:50Z"));
    FinishedRecord record;
    std::string why;
    ASSERT_EQ(record.openRecord(path_, header_, why), FinishedRecord::Read::ok) << why;
    EXPECT_TRUE(record.earlier());
    EXPECT_TRUE(record.totals().sum == 18);
    EXPECT_EQ(record.totals().radius, 5);
    SweepTally figures(12);
    EXPECT_NE(record.readFigures(figures), "");
}

TEST(DurableFiles, LeftoverTemporariesOfDeadRunsAreRemovedAndFieldsEscaped) {
    char pattern[] = "/tmp/spc_durable_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string path = dir + "/out.tsv";
    spc_test::writeFile(path + kTemporaryMark + "abcdef", "left by a killed run");
    spc_test::writeFile(path + kTemporaryMark + "ghijkl", "being written");
    spc_test::writeFile(dir + "/other.tsv" + kTemporaryMark + "abcdef", "another file's");
    const int held = ::open((path + kTemporaryMark + "ghijkl").c_str(), O_RDWR);
    ASSERT_EQ(lockWhole(held), 0);  // a live writer holds its temporary
    removeLeftoverTemporaries(path);
    EXPECT_FALSE(std::filesystem::exists(path + kTemporaryMark + "abcdef"));
    EXPECT_TRUE(std::filesystem::exists(path + kTemporaryMark + "ghijkl"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/other.tsv" + kTemporaryMark + "abcdef"));
    ::close(held);
    std::filesystem::remove_all(dir);
    for (const std::string field : {"", "plain", "a b", "100%", "tab\there", "line\nbreak", "ü"}) {
        std::string back;
        const std::string escaped = escapeField(field);
        EXPECT_EQ(escaped.find_first_of(" \t\n"), std::string::npos) << escaped;
        ASSERT_TRUE(unescapeField(escaped, back)) << escaped;
        EXPECT_EQ(back, field);
    }
    std::string back;
    EXPECT_FALSE(unescapeField("%4", back));
    EXPECT_FALSE(unescapeField("%zz", back));
}

}  // namespace
