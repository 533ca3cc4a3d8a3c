// spc_sweep end to end: alone and over 2 and 3 MPI ranks it gives the console
// program's figures and the same per-source files; a run cut short by a
// killed rank resumes; damaged and foreign checkpoints are refused and left
// alone; bad names, bad usage and outputs that cannot be written.
#include "base/harmonic.h"
#include "program/program_engine.h"
#include "engine_support.h"
#include "report/report.h"
#include "spc_sweep/ranks/compute_threads.h"
#include "spc_sweep/checkpoint/checkpoint_format.h"
#include "spc_sweep/tool/options.h"
#include "spc_sweep/plan/plan.h"
#include "sweep_run.h"

using namespace spc_test;

namespace {

// Networks of every family: the samples, and generated ones with negative
// lengths, long arcs whose sums pass 64 bits, and more than 65,535 nodes.
std::vector<std::string> writeNetworks(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(SPC_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".gr") continue;
        fs::copy_file(entry.path(), dir / entry.path().filename());
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    const std::vector<std::pair<std::string, NetworkSpec>> generated = {
        {"grid.gr", {"grid", 13, 9, 1, 0, 50}},
        {"road.gr", {"road", 17, 11, 2, 1, 12000}},
        {"random-negative.gr", {"random", 300, 1500, 3, -40, 100}},
        {"complete.gr", {"complete", 25, 0, 4, 1, 1000}},
        {"path-long.gr", {"path", 3000, 0, 5, 2147483647, 2147483647}},
    };
    for (const auto& [name, spec] : generated) {
        writeFile(dir / name, networkText(spec));
        names.push_back(name);
    }
    // 70,000 nodes, most without arcs: 32-bit ids, cheap to sweep.
    std::string wide = "p sp 70000 6\n";
    for (const char* arc : {"a 1 65537 3\n", "a 65537 69999 -2\n", "a 69999 1 4\n", "a 69999 2 1\n", "a 2 70000 7\n",
                            "a 70000 70000 0\n"}) {
        wide += arc;
    }
    writeFile(dir / "wide.gr", wide);
    names.push_back("wide.gr");
    return names;
}

// Ranks and compute threads a rank.
class SweepFigures : public SweepRun, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(SweepFigures, AreTheConsoleProgramsOnEveryFamily) {
    const auto [ranks, threads] = GetParam();
    if (ranks > 1 && !kOverMpi) GTEST_SKIP() << "built without MPI";
    const std::vector<std::string> names = writeNetworks(dir_);
    const std::vector<std::string> expected = consoleReports(names);
    ASSERT_EQ(expected.size(), names.size()) << out_;
    const std::string console_log = maskTimes(log());
    fs::remove(dir_ / "spc_heap_output.txt");

    std::string args = "--threads " + std::to_string(threads) + " --per-source ps/%n.tsv ";
    for (const std::string& name : names) args += name + " ";
    fs::create_directory(dir_ / "ps");
    sweep(ranks, args);
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(err_, "");
    EXPECT_EQ(sweepReports(out_, ranks), expected);
    EXPECT_EQ(maskTimes(log()), console_log);  // the same run-log lines
    // Every source's figures are those of its run here, whatever the ranks.
    for (const std::string& name : {std::string("random-negative.gr"), std::string("grid-8x6.gr")}) {
        std::ifstream file(dir_ / "ps" / (name + ".tsv"));
        ASSERT_TRUE(loadText(readAll(dir_ / name)));
        std::string line;
        std::getline(file, line);
        EXPECT_EQ(line.rfind("# spc_sweep per-source figures of " + name + ": ", 0), 0u) << line;
        std::getline(file, line);
        EXPECT_EQ(line, "# source\treached\tsum\tlargest\tharmonic");
        for (int32_t s = 1; s <= num_nodes; ++s) {
            const Labels labels = runFrom(s);
            const RunSummary r = summaryOf(labels);
            // 1/d over the distances d > 0, taken in the order of the node ids.
            HarmonicSum harmonic;
            for (int64_t d : labels) harmonic.add(d == M ? 0 : d);
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", harmonic.value());
            ASSERT_TRUE(std::getline(file, line));
            ASSERT_EQ(line, std::to_string(s) + "\t" + std::to_string(r.reached) + "\t" + formatInteger(r.sum) + "\t" +
                                std::to_string(r.largest) + "\t" + text);
        }
        EXPECT_FALSE(std::getline(file, line));
    }
}

INSTANTIATE_TEST_SUITE_P(RanksAndThreads, SweepFigures,
                         ::testing::Values(std::make_pair(1, 1), std::make_pair(1, 2), std::make_pair(1, 3),
                                           std::make_pair(2, 1), std::make_pair(2, 2), std::make_pair(3, 1)),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "_ranks_" + std::to_string(info.param.second) +
                                    "_threads";
                         });

TEST_F(SweepRun, AKilledRankThenTheSameCommandGivesTheUninterruptedFiguresAndFiles) {
    const NetworkSpec spec{"grid", 50, 50, 7, 1, 10000};
    const std::string expected = writeNetwork("g.gr", spec);
    const int ranks = kOverMpi ? 2 : 1;
    sweep(1, "--per-source whole.tsv --log whole.log g.gr");  // the file of a run that was never cut
    ASSERT_EQ(status_, 0) << err_;
    const std::string args = "--checkpoint ck --per-source g.tsv g.gr";
    // Once many chunks are recorded, kill the rank that is not rank 0
    // (alone: the tool).
    start(ranks, args);
    const std::string path = waitForCheckpoint(dir_ / "ck");
    ASSERT_FALSE(path.empty()) << "no checkpoint appeared";
    ASSERT_TRUE(waitForLines(path, 60));
    const pid_t victim = rankProcess(dir_, ranks - 1, kOverMpi);
    ASSERT_GT(victim, 0);
    ASSERT_EQ(kill(victim, SIGKILL), 0);
    wait();
    EXPECT_NE(status_, 0);
    EXPECT_FALSE(logExists());  // nothing logged for the unfinished network
    EXPECT_FALSE(fs::exists(dir_ / "g.tsv"));

    sweep(ranks, args);
    EXPECT_EQ(status_, 0) << err_;
    ASSERT_EQ(sweepReports(out_, ranks), std::vector<std::string>{expected});
    EXPECT_GT(resumedOf(out_), 0) << out_;
    EXPECT_LT(resumedOf(out_), 4 * 2500);
    EXPECT_EQ(maskTimes(log()).rfind("g.gr     ", 0), 0u);
    EXPECT_FALSE(fs::exists(path));  // done: the checkpoint is gone
    EXPECT_EQ(readAll(dir_ / "g.tsv"), readAll(dir_ / "whole.tsv"));
}

// A checkpoint of the first chunks of g.gr, computed here.
class SweepCheckpoint : public SweepRun {
protected:
    void SetUp() override {
        SweepRun::SetUp();
        spec_ = {"grid", 12, 10, 8, 1, 100};
        expected_ = writeNetwork("g.gr", spec_);
        header_ = {fingerprintOf(program_network), 4};
        fs::create_directory(dir_ / "ck");
        path_ = checkpointPath(checkpointDir(), header_);
        text_ = headerLine(header_);
        SweepSchedule schedule(num_nodes, 4, 1);
        Chunk c;
        for (int i = 0; i < 10 && schedule.next(c); ++i) {
            records_.push_back(runChunk(preparedProgramEngine(), c));
            text_ += recordText(records_.back());
        }
    }
    std::string checkpointDir() const { return (dir_ / "ck").string(); }
    // The lines a run writes for a chunk of sources it had no figures of.
    static std::string recordText(const ChunkRecord& r) {
        return figuresLine(r.chunk.first, r.sources.data(), r.sources.size()) +
               runLine(r.chunk.repetition, r.chunk.first, r.chunk.last, r.cpu_ns,
                       figuresCheck(r.sources.data(), r.sources.size()));
    }
    // Runs g.gr with the checkpoint at `path` holding `text`; expects the
    // run refused with `why` and the file left as it was.
    void expectRefused(const std::string& path, const std::string& text, const std::string& args,
                       const std::string& why) {
        writeFile(path, text);
        sweep(1, "--checkpoint ck " + args + " g.gr");
        EXPECT_EQ(status_, 1);
        EXPECT_EQ(out_, "");
        const std::string shown = "ck/" + fs::path(path).filename().string();  // as the command names it
        EXPECT_EQ(err_, "spc_sweep: g.gr: the checkpoint " + shown + " is refused: " + why + "; it is left as it is\n");
        EXPECT_EQ(readAllBytes(path), text);
        EXPECT_FALSE(logExists());
        fs::remove(path);
    }
    NetworkSpec spec_;
    std::string expected_;
    CheckpointHeader header_;
    std::string path_;
    std::string text_;
    std::vector<ChunkRecord> records_;
};

TEST_F(SweepCheckpoint, ALastLineCutShortIsRunAgain) {
    writeFile(path_, text_.substr(0, text_.size() - 5));
    sweep(1, "--checkpoint ck g.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>{expected_});
    int64_t kept = 0;
    for (size_t i = 0; i + 1 < records_.size(); ++i) kept += records_[i].chunk.sources();
    EXPECT_EQ(resumedOf(out_), kept) << out_;
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_EQ(maskTimes(log()).rfind("g.gr     ", 0), 0u);
}

TEST_F(SweepCheckpoint, DamageBeforeASyncAndForeignFilesAreRefusedAndLeftAlone) {
    std::string damaged = text_ + markLine(text_.size());
    damaged[headerLine(header_).size() + 8] ^= 1;  // in the first record
    expectRefused(path_, damaged, "", "line 2 is damaged");
    // Another network's records under this network's name.
    CheckpointHeader other = header_;
    other.network.hash ^= 1;
    const std::string says = "it belongs to another network or repetition count (its header says nodes 120, arcs "
                             "436, repetitions 4)";
    expectRefused(path_, headerLine(other) + text_.substr(headerLine(header_).size()), "", says);
    // A file of four repetitions where three are asked for.
    CheckpointHeader three = header_;
    three.repetitions = 3;
    expectRefused(checkpointPath(checkpointDir(), three), text_, "--repetitions 3", says);
}

TEST_F(SweepCheckpoint, RepetitionsThatDisagreeFailTheNetwork) {
    // A chunk recorded with a wrong sum: the run's own repetition of those
    // sources disagrees, and no figure is reported.
    ChunkRecord wrong = records_[0];
    wrong.sources[0].sum += 1;
    writeFile(path_, headerLine(header_) + recordText(wrong));
    sweep(1, "--checkpoint ck g.gr");
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(out_, "");
    EXPECT_NE(err_.find("spc_sweep: g.gr: the repetitions disagree on source 1: repetition 2 (run by rank 0) gave sum "),
              std::string::npos)
        << err_;
    EXPECT_FALSE(logExists());
    EXPECT_TRUE(fs::exists(path_));
}

TEST_F(SweepRun, ABadNameAmongGoodOnesIsReportedAndTheOthersGoOn) {
    writeFile(dir_ / "net4.gr", kNet4);
    writeFile(dir_ / "bad.gr", "p sp 3 1\na 1 9 1\n");
    fs::create_directory(dir_ / "folder.gr");
    sweep(1, "net4.gr missing.gr bad.gr folder.gr net4.gr");
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(err_,
              "spc_sweep: missing.gr: cannot be opened: No such file or directory\n"
              "spc_sweep: bad.gr: line 2: head 9 of arc 1 -> 9 is outside 1..3\n"
              "spc_sweep: folder.gr: is a directory\n");
    EXPECT_EQ(sweepReports(out_, 1), (std::vector<std::string>{kNet4Report, kNet4Report}));
    EXPECT_EQ(maskTimes(log()), "net4.gr     18     T     6     18\nnet4.gr     18     T     6     18\n");
}

TEST_F(SweepRun, BadUsageGivesTheUsageLine) {
    const std::string usage =
        "usage: spc_sweep [--method heap|phast] [--repetitions R] [--threads N] [--checkpoint DIR] [--log FILE]\n"
        "                 [--per-source FILE] [--json FILE] [--progress SECONDS]\n"
        "                 [--sources FILE | --sample K [--seed S]] NETWORK...\n"
        "       spc_sweep --estimate SECONDS [--method heap|phast] [--ranks P[xN][,P[xN]...]] [--threads N]\n"
        "                 [--repetitions R] NETWORK...\n";
    sweep(1, "");
    EXPECT_EQ(status_, 2);
    EXPECT_EQ(err_, "spc_sweep: no network file given\n" + usage);
    sweep(1, "--checkpoint \"\" net.gr");
    EXPECT_EQ(status_, 2);
    EXPECT_EQ(err_, "spc_sweep: --checkpoint needs a directory\n" + usage);
    sweep(1, "--help");
    EXPECT_EQ(status_, 0);
    EXPECT_EQ(out_.rfind(usage, 0), 0u);
    EXPECT_NE(out_.find("75 when a signal"), std::string::npos);
    EXPECT_FALSE(logExists());
}

// The network file is only read: a read-only one is swept. Every output is
// checked before the network is read: one that cannot be written stops that
// network at once, and the others go on.
TEST_F(SweepRun, OutputsThatCannotBeWrittenAreFoundBeforeTheSweep) {
    if (!canRunAsNobody()) GTEST_SKIP() << "cannot drop privileges here";
    writeFile(dir_ / "net4.gr", kNet4);
    fs::permissions(dir_ / "net4.gr", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    sweep(1, "--repetitions 1 net4.gr", true);
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>{kNet4Report});
    fs::create_directory(dir_ / "locked");
    fs::permissions(dir_ / "locked", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read |
                                         fs::perms::group_exec | fs::perms::others_exec);
    fs::copy_file(dir_ / "spc_heap_output.txt", dir_ / "locked" / "log.txt");
    fs::permissions(dir_ / "locked" / "log.txt", fs::perms::owner_read | fs::perms::others_read);
    const std::string denied = "cannot be written: Permission denied\n";
    for (const auto& [args, message] : std::vector<std::pair<std::string, std::string>>{
             {"--log locked/log.txt", "the run log locked/log.txt " + denied},
             {"--log locked/new.txt", "the run log locked/new.txt " + denied},
             {"--checkpoint locked/ck", "the checkpoint directory locked/ck cannot be written: Permission denied\n"},
             {"--per-source locked/%n.tsv", "the per-source file locked/NAME.tsv " + denied},
             {"--json locked/r.json", "the JSON record file locked/r.json " + denied}}) {
        if (args.rfind("--json", 0) == 0 && !jsonRecordsBuilt()) continue;
        sweep(1, args + " net4.gr missing.gr", true);
        EXPECT_EQ(status_, 1);
        EXPECT_EQ(out_, "");
        std::string expected;
        for (const std::string name : {"net4.gr", "missing.gr"}) {
            std::string said = message;
            if (said.find("NAME") != std::string::npos) said.replace(said.find("NAME"), 4, name);
            expected += "spc_sweep: " + name + ": " + said;
        }
        EXPECT_EQ(err_, expected) << args;
    }
    EXPECT_EQ(logLines(), 1);
}

// A failed write of the figures (a full disk, a reader gone from a pipe) is
// an error; the other outputs are written, and the same command writes the
// figures again from the finished record, without a second run-log line.
TEST_F(SweepRun, FiguresThatCannotBeWrittenAreSaidAndWrittenAgain) {
    writeFile(dir_ / "net4.gr", kNet4);
    sweep(1, "--checkpoint ck net4.gr", false, "> /dev/full");
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(err_, "spc_sweep: net4.gr: the figures cannot be written to standard output: No space left on device; "
                    "the same command writes them again\n");
    EXPECT_EQ(logLines(), 1);
    // A pipe whose reader has gone: the same, never a silent end. The reader
    // closes the pipe before the tool starts.
    const std::string line = "cd '" + dir_.string() + "' && { while [ ! -e .closed ]; do sleep 0.01; done; " +
                             command(1, "net4.gr") + " 2> .stderr; echo $? > .status; } | (exec 0<&-; touch .closed)";
    ASSERT_EQ(std::system(line.c_str()), 0);
    EXPECT_EQ(readAll(dir_ / ".status"), "1\n");
    EXPECT_EQ(readAll(dir_ / ".stderr"),
              "spc_sweep: net4.gr: the figures cannot be written to standard output: Broken pipe\n");
    EXPECT_EQ(logLines(), 2);
    sweep(1, "--checkpoint ck net4.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>{kNet4Report});
    EXPECT_NE(out_.find("; nothing was swept now\n"), std::string::npos) << out_;
    EXPECT_EQ(logLines(), 2);
}

TEST_F(SweepRun, TheJsonRecordHoldsTheFigures) {
    if (!jsonRecordsBuilt()) GTEST_SKIP() << "built without JSON records";
    writeFile(dir_ / "net4.gr", kNet4);
    writeFile(dir_ / "path.gr", networkText({"path", 3000, 0, 5, 2147483647, 2147483647}));
    sweep(1, "--json r.json --repetitions 2 net4.gr path.gr");
    ASSERT_EQ(status_, 0) << err_;
    const std::string json = readAll(dir_ / "r.json");
    const std::string first = json.substr(0, json.find('\n'));
    const std::regex record(
        "\\{\"network\":\"net4.gr\",\"sum_of_distances\":\"18\",\"time_per_sweep_ms\":[0-9.e+]+,"
        "\"trivial_triple_comparisons\":6,\"nontrivial_triple_comparisons\":\"18\",\"largest_eccentricity\":7,"
        "\"radius\":5,\"ranks\":1,\"threads\":[0-9]+,\"repetitions\":2,\"wall_clock_seconds\":[0-9.e+-]+,\"processor_seconds\":"
        "[0-9.e+-]+,\"source_runs_resumed\":0,\"started\":\"20[0-9-]{8}T[0-9:]{8}Z\",\"ended\":\"20[0-9-]{8}T[0-9:]{8}Z\","
        "\"host\":\"[^\"]+\",\"version\":\"[0-9.]+\"\\}");
    EXPECT_TRUE(std::regex_match(first, record)) << first;
    // Sums past 64 bits are exact strings.
    EXPECT_NE(json.find("\"network\":\"path.gr\",\"sum_of_distances\":\"" +
                        formatInteger(int128{2147483647} * 2999 * 3000 * 3001 / 6) + "\""),
              std::string::npos)
        << json;
}

}  // namespace
