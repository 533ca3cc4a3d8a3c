// spc_sweep end to end: alone and over 2 and 3 MPI ranks it gives the console
// program's figures; a run cut short by a killed rank resumes; damaged and
// foreign checkpoints are refused and left alone; bad names and bad usage.
#include <dirent.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "engine/shortest_path.h"
#include "generator/network_generator.h"
#include "program_run.h"
#include "report/report.h"
#include "spc_sweep/sweep_blocks.h"
#include "spc_sweep/sweep_checkpoint.h"
#include "sweep/sweep.h"

using namespace spc_test;

namespace {

constexpr bool kOverMpi = SPC_SWEEP_MPI;

class SweepRun : public ProgramRun {
protected:
    void SetUp() override {
        ProgramRun::SetUp();
        // Open MPI refuses root unless told, and stays on this machine.
        setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
        setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
        setenv("OMPI_MCA_btl", "self,vader", 1);
    }

    // The command that starts spc_sweep on `ranks` ranks (1: alone, without
    // a launcher). MPI's libraries keep memory to the end, which
    // LeakSanitizer would report as leaks of the tool's.
    static std::string command(int ranks, const std::string& args, bool as_nobody = false) {
        std::string launch = "env ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 ";
        if (as_nobody) launch += "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        if (ranks > 1) {
            launch += std::string(SPC_MPIEXEC) + " " + SPC_MPIEXEC_NUMPROC_FLAG + " " + std::to_string(ranks) + " " +
                      SPC_MPIEXEC_PREFLAGS + " ";
        }
        return launch + "timeout 300 " + SPC_SWEEP_PATH + " " + args;
    }

    void sweep(int ranks, const std::string& args, bool as_nobody = false) {
        const std::string line =
            "cd '" + dir_.string() + "' && " + command(ranks, args, as_nobody) + " > .stdout 2> .stderr";
        const int raw = std::system(line.c_str());
        ASSERT_TRUE(WIFEXITED(raw));
        status_ = WEXITSTATUS(raw);
        out_ = readAll(dir_ / ".stdout");
        err_ = readAll(dir_ / ".stderr");
    }

    // The console program's report of the files, one after the other.
    std::vector<std::string> consoleReports(const std::vector<std::string>& names) {
        std::string input;
        for (const std::string& name : names) input += name + "\n";
        run(input + "-1\n");
        EXPECT_EQ(status_, 0);
        std::vector<std::string> reports;
        std::istringstream lines(maskTimes(out_));
        std::string line, report;
        while (std::getline(lines, line)) {
            if (line.rfind("Sum of distances", 0) == 0 || line.rfind("Running time", 0) == 0 ||
                line.rfind("trivial_", 0) == 0) {
                report += line + "\n";
            } else if (line.rfind("nontrivial_", 0) == 0) {
                reports.push_back(report + line + "\n");
                report.clear();
            }
        }
        return reports;
    }

    // spc_sweep's output split into its reports: four result lines and its
    // own line each.
    static std::vector<std::string> sweepReports(const std::string& out, int ranks) {
        std::vector<std::string> reports;
        std::istringstream lines(maskTimes(out));
        std::string line, report;
        while (std::getline(lines, line)) {
            if (line.rfind("spc_sweep: ", 0) == 0) {
                EXPECT_EQ(line.rfind("spc_sweep: " + std::to_string(ranks) + " rank", 0), 0u) << line;
                reports.push_back(report);
                report.clear();
            } else {
                report += line + "\n";
            }
        }
        EXPECT_EQ(report, "");
        return reports;
    }

    std::string checkpointDir() const { return (dir_ / "ck").string(); }
};

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

class SweepFigures : public SweepRun, public ::testing::WithParamInterface<int> {};

TEST_P(SweepFigures, AreTheConsoleProgramsOnEveryFamily) {
    const int ranks = GetParam();
    if (ranks > 1 && !kOverMpi) GTEST_SKIP() << "built without MPI";
    const std::vector<std::string> names = writeNetworks(dir_);
    const std::vector<std::string> expected = consoleReports(names);
    ASSERT_EQ(expected.size(), names.size()) << out_;
    const std::string console_log = maskTimes(log());
    fs::remove(dir_ / "spc_heap_output.txt");

    std::string args;
    for (const std::string& name : names) args += name + " ";
    sweep(ranks, args);
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(err_, "");
    EXPECT_EQ(sweepReports(out_, ranks), expected);
    EXPECT_EQ(maskTimes(log()), console_log);  // the same run-log lines
}

INSTANTIATE_TEST_SUITE_P(Ranks, SweepFigures, ::testing::Values(1, 2, 3),
                         [](const auto& info) { return std::to_string(info.param) + "_ranks"; });

// The expected report of a network, from one sweep in this process.
std::string expectedReport(const NetworkSpec& spec) {
    const GeneratedNetwork net = generateNetwork(spec);
    loadArcs(net.nodes, net.arcs);
    one_to_all_distance.assign(static_cast<size_t>(num_nodes), 0);
    prepareEngine();
    sweepSources();
    int128 sum = 0;
    for (int128 x : one_to_all_distance) sum += x;
    const int64_t scans = trivial_triple_comparisons;
    return maskTimes(resultLines(sum, 0, scans, tripleCount(num_nodes) - scans));
}

int64_t linesOf(const std::string& path) {
    const std::string text = readAllBytes(path);
    return std::count(text.begin(), text.end(), '\n');
}

// The process of this test's run that runs as the given rank (or, alone,
// the tool itself): its working directory is the test's.
pid_t rankProcess(const fs::path& dir, int rank, bool over_mpi) {
    DIR* proc = opendir("/proc");
    pid_t found = 0;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        std::error_code error;
        if (fs::read_symlink("/proc/" + std::string(entry->d_name) + "/cwd", error) != dir) continue;
        // The tool itself, or the emulator that runs it; not the shells,
        // timeout or the launcher around it.
        const std::string cmdline = readAllBytes("/proc/" + std::string(entry->d_name) + "/cmdline");
        const std::string program = cmdline.substr(0, cmdline.find('\0'));
        const bool tool = program.size() >= 9 && program.compare(program.size() - 9, 9, "spc_sweep") == 0;
        const bool emulated = program.find("qemu") != std::string::npos && cmdline.find("spc_sweep") != std::string::npos;
        if (!tool && !emulated) continue;
        const std::string environ = readAllBytes("/proc/" + std::string(entry->d_name) + "/environ");
        const std::string wanted = "OMPI_COMM_WORLD_RANK=" + std::to_string(rank) + '\0';
        if (over_mpi && environ.find(wanted) == std::string::npos) continue;
        found = pid;
    }
    closedir(proc);
    return found;
}

TEST_F(SweepRun, AKilledRankThenTheSameCommandGivesTheUninterruptedFigures) {
    const NetworkSpec spec{"grid", 50, 50, 7, 1, 10000};
    writeFile(dir_ / "g.gr", networkText(spec));
    const std::string expected = expectedReport(spec);
    const int ranks = kOverMpi ? 2 : 1;
    const std::string args = "--checkpoint ck g.gr";
    // In the background; once a few hundred blocks are recorded, kill the
    // rank that is not rank 0 (alone: the tool).
    const std::string background = "cd '" + dir_.string() + "' && (" + command(ranks, args) +
                                   " > .stdout 2> .stderr; echo $? > .status) &";
    ASSERT_EQ(std::system(background.c_str()), 0);
    const SweepPlan plan = planSweep(2500, 4);
    std::string path;
    for (int i = 0; i < 6000 && path.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(dir_ / "ck", error)) path = entry.path().string();
    }
    ASSERT_FALSE(path.empty()) << "no checkpoint appeared";
    for (int i = 0; i < 6000 && linesOf(path) < 300; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const pid_t victim = rankProcess(dir_, ranks - 1, kOverMpi);
    ASSERT_GT(victim, 0);
    ASSERT_EQ(kill(victim, SIGKILL), 0);
    for (int i = 0; i < 6000 && !fs::exists(dir_ / ".status"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(readAll(dir_ / ".status"), "0\n");
    EXPECT_FALSE(logExists());  // nothing logged for the unfinished network
    const int64_t recorded = linesOf(path) - 1;
    EXPECT_GT(recorded, 250);
    EXPECT_LT(recorded, plan.units());

    sweep(ranks, args);
    EXPECT_EQ(status_, 0) << err_;
    ASSERT_EQ(sweepReports(out_, ranks), std::vector<std::string>{expected});
    // The recorded blocks were not run again (a last line cut short may be).
    ASSERT_NE(out_.find("repetitions; "), std::string::npos) << out_;
    const int64_t resumed = std::atoll(out_.c_str() + out_.find("repetitions; ") + 13);
    EXPECT_GE(resumed, recorded - 1);
    EXPECT_LE(resumed, recorded);
    EXPECT_EQ(maskTimes(log()).rfind("g.gr     ", 0), 0u);
    EXPECT_FALSE(fs::exists(path));  // done: the checkpoint is gone
}

// A checkpoint of the first `units` units of g.gr, computed here.
class SweepCheckpoint : public SweepRun {
protected:
    void SetUp() override {
        SweepRun::SetUp();
        spec_ = {"grid", 12, 10, 8, 1, 100};
        writeFile(dir_ / "g.gr", networkText(spec_));
        expected_ = expectedReport(spec_);
        plan_ = planSweep(num_nodes, 4);
        header_ = {fingerprintLoadedNetwork(), 4, plan_.block_size};
        fs::create_directory(dir_ / "ck");
        path_ = checkpointPath(checkpointDir(), header_);
        text_ = headerLine(header_);
        for (int64_t unit = 0; unit < 40; ++unit) text_ += recordLine(runUnit(plan_, unit));
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
    SweepPlan plan_;
    CheckpointHeader header_;
    std::string path_;
    std::string text_;
};

TEST_F(SweepCheckpoint, ALastLineCutShortIsRunAgain) {
    writeFile(path_, text_.substr(0, text_.size() - 5));
    sweep(1, "--checkpoint ck g.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>{expected_});
    EXPECT_NE(out_.find("; 39 block runs resumed from the checkpoint\n"), std::string::npos) << out_;
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_EQ(maskTimes(log()).rfind("g.gr     ", 0), 0u);
}

TEST_F(SweepCheckpoint, DamageElsewhereAndForeignFilesAreRefusedAndLeftAlone) {
    std::string damaged = text_;
    damaged[headerLine(header_).size() + 8] ^= 1;  // in the first record
    expectRefused(path_, damaged, "", "line 2 is damaged");
    // Another network's records under this network's name.
    CheckpointHeader other = header_;
    other.network.hash ^= 1;
    expectRefused(path_, headerLine(other) + text_.substr(headerLine(header_).size()), "",
                  "it belongs to another network or repetition count (its header says nodes 120, arcs 436, "
                  "repetitions 4, block 1)");
    // A file of four repetitions where three are asked for.
    CheckpointHeader three = header_;
    three.repetitions = 3;
    expectRefused(checkpointPath(checkpointDir(), three), text_, "--repetitions 3",
                  "it belongs to another network or repetition count (its header says nodes 120, arcs 436, "
                  "repetitions 4, block 1)");
}

TEST_F(SweepCheckpoint, RepetitionsThatDisagreeFailTheNetwork) {
    // A unit recorded with a wrong sum: the run's own repetition of that
    // block disagrees, and no figure is reported.
    UnitRecord wrong = runUnit(plan_, 3);
    wrong.sum += 1;
    writeFile(path_, headerLine(header_) + recordLine(wrong));
    sweep(1, "--checkpoint ck g.gr");
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(out_, "");
    EXPECT_NE(err_.find("spc_sweep: g.gr: the repetitions disagree on sources 4..4: repetition 1 (read from the "
                        "checkpoint) gave sum "),
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
    const std::string usage = "usage: spc_sweep [--repetitions R] [--checkpoint DIR] [--log FILE] NETWORK...\n";
    sweep(1, "");
    EXPECT_EQ(status_, 2);
    EXPECT_EQ(err_, "spc_sweep: no network file given\n" + usage);
    sweep(1, "--repetitions 0 net.gr");
    EXPECT_EQ(status_, 2);
    EXPECT_EQ(err_, "spc_sweep: --repetitions needs a whole number from 1 to 1000000\n" + usage);
    sweep(1, "--fast net.gr");
    EXPECT_EQ(status_, 2);
    EXPECT_EQ(err_, "spc_sweep: unknown option --fast\n" + usage);
    sweep(1, "--help");
    EXPECT_EQ(status_, 0);
    EXPECT_EQ(out_.rfind(usage, 0), 0u);
    EXPECT_FALSE(logExists());
}

// The network file is only read: a read-only one is swept. A run log that
// cannot be written fails the network and keeps its checkpoint.
TEST_F(SweepRun, ReadOnlyNetworksAndAnUnwritableRunLog) {
    if (!canRunAsNobody()) GTEST_SKIP() << "cannot drop privileges here";
    writeFile(dir_ / "net4.gr", kNet4);
    fs::permissions(dir_ / "net4.gr", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    sweep(1, "--repetitions 1 net4.gr", true);
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>{kNet4Report});
    fs::permissions(dir_ / "spc_heap_output.txt", fs::perms::owner_read | fs::perms::group_read |
                                                      fs::perms::others_read);
    sweep(1, "--checkpoint ck net4.gr", true);
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(err_, "spc_sweep: net4.gr: the run log spc_heap_output.txt cannot be written: Permission denied; the "
                    "checkpoint is kept\n");
    EXPECT_EQ(maskTimes(log()), "net4.gr     18     T     6     18\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "ck"), fs::directory_iterator()), 1);
}

}  // namespace
