// spc_sweep as a job on a cluster runs it: signals stop it and the same
// command resumes it; one run per checkpoint; finished networks are not
// swept again; rank 0 answers while it runs a long source; the ranks of a
// machine share one copy of the network; the estimate before a run.
#include <sys/time.h>

#include <algorithm>

#include <map>

#include "engine/arc_layout.h"
#include "program/program_engine.h"
#include "spc_sweep/checkpoint/checkpoint_format.h"
#include "sweep_run.h"

using namespace spc_test;

namespace {

constexpr int kInterrupted = 75;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A network whose hubs' sources take long: a hub puts every node in the heap
// at once, the last node first out, and each node then lowers the label of
// each of the k before it (arcs of length j^2 to the j-th: a nearer node
// offers a shorter way), each lowering a scan of a heap of most of the
// nodes. Any other source s reaches the nodes before it only (those of its
// block, when blocks are asked for: then it is cheap), never a hub.
std::string slowSources(int32_t n, int32_t k, const std::vector<int32_t>& hubs, int32_t block = 0) {
    std::string arcs;
    int64_t count = 0;
    const auto hub = [&](int32_t v) { return std::find(hubs.begin(), hubs.end(), v) != hubs.end(); };
    for (int32_t h : hubs) {
        for (int32_t v = 2; v <= n; ++v) {
            if (hub(v)) continue;
            arcs += "a " + std::to_string(h) + " " + std::to_string(v) + " " + std::to_string(1000000 + 3 * (n - v)) + "\n";
            ++count;
        }
    }
    for (int32_t u = 3; u <= n; ++u) {
        for (int32_t j = 1; j <= k && u - j >= 2; ++j) {
            if (hub(u) || hub(u - j)) continue;  // no way back to a hub
            if (block > 0 && (u - 1) / block != (u - j - 1) / block) continue;
            arcs += "a " + std::to_string(u) + " " + std::to_string(u - j) + " " + std::to_string(j * j) + "\n";
            ++count;
        }
    }
    return "p sp " + std::to_string(n) + " " + std::to_string(count) + "\n" + arcs;
}
std::string slowFirstSource(int32_t n, int32_t k) { return slowSources(n, k, {1}); }

// Seconds of source 1's run of the network in this process.
double firstSourceSeconds(const std::string& text) {
    EXPECT_TRUE(loadText(text));
    prepareEngine();
    const auto start = std::chrono::steady_clock::now();
    user_source_node = 1;
    heap();
    return secondsSince(start);
}

class SweepJob : public SweepRun {
protected:
    // A grid that takes a few seconds on two cores, and its figures.
    void SetUp() override {
        SweepRun::SetUp();
        spec_ = {"grid", 70, 70, 11, 1, 10000};
        expected_ = writeNetwork("g.gr", spec_);
    }
    // Starts the run, waits until part of it is recorded (and `shown` is on
    // standard error, when given), signals the process given, and checks
    // what the interrupted run left.
    void interruptMidRun(int ranks, const std::string& args, const std::function<pid_t()>& target,
                         const std::string& shown = "") {
        const int64_t nodes = spec_.first * spec_.second;
        std::string path = waitForCheckpoint(dir_ / "ck", 0, nodes);  // one left by an earlier run, if any
        const std::string before = path.empty() ? "" : readAll(path);
        start(ranks, args);
        if (path.empty()) path = waitForCheckpoint(dir_ / "ck", 60, nodes);
        ASSERT_FALSE(path.empty()) << "no checkpoint appeared";
        ASSERT_TRUE(waitForLines(path, std::count(before.begin(), before.end(), '\n') + 30));
        if (!shown.empty()) {
            ASSERT_TRUE(waitForText((dir_ / ".stderr").string(), shown)) << readAll(dir_ / ".stderr");
        }
        pid_t pid = 0;
        for (int i = 0; i < 100 && pid == 0; ++i) {
            pid = target();
            if (pid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_GT(pid, 0);
        ASSERT_EQ(kill(pid, SIGTERM), 0);
        wait();
        EXPECT_EQ(log().find("g.gr "), std::string::npos);  // no run-log line for what was cut short
        EXPECT_TRUE(fs::exists(path));
    }
    int64_t recordedSaid() const {
        const size_t at = err_.find(" source runs are recorded");
        return at == std::string::npos ? -1 : std::atoll(err_.c_str() + err_.rfind(": ", at) + 2);
    }
    // The same command again gives the uninterrupted figures, resuming what was recorded.
    void expectResumed(int ranks, const std::string& args, int64_t recorded) {
        sweep(ranks, args);
        EXPECT_EQ(status_, 0) << err_;
        EXPECT_EQ(sweepReports(out_, ranks), std::vector<std::string>{expected_});
        EXPECT_EQ(resumedOf(out_), recorded);
        EXPECT_EQ(logLines(), 1);
    }
    NetworkSpec spec_;
    std::string expected_;
};

TEST_F(SweepJob, ASignalToTheToolAloneStopsItAndTheSameCommandResumes) {
    interruptMidRun(1, "--checkpoint ck --progress 0.2 g.gr", [&] { return rankProcess(dir_, 0, false); },
                    " source runs done (");
    EXPECT_EQ(status_, kInterrupted);
    EXPECT_EQ(out_, "");
    // Standard error is no terminal: a progress line every 0.2 s, then the stop.
    const std::string duration = "[0-9]+[mh] [0-9]+[ms]";
    EXPECT_TRUE(std::regex_search(err_, std::regex("^spc_sweep: g.gr: [0-9]+ of 19600 source runs done \\([0-9.]+%\\), "
                                                   "processor time " + duration + ", wall-clock " + duration +
                                                   ", about " + duration + " left\n")))
        << err_;
    EXPECT_NE(err_.find("\nspc_sweep: g.gr: stopped by SIGTERM: "), std::string::npos) << err_;
    EXPECT_NE(err_.find(" of 19600 source runs are recorded in the checkpoint, and the same command resumes them\n"),
              std::string::npos)
        << err_;
    const int64_t recorded = recordedSaid();
    EXPECT_GT(recorded, 0);
    expectResumed(1, "--checkpoint ck g.gr", recorded);
}

TEST_F(SweepJob, ASignalToRankZeroOrToTheLauncherStopsEveryRank) {
    if (!kOverMpi) GTEST_SKIP() << "built without MPI";
    interruptMidRun(2, "--checkpoint ck g.gr", [&] { return rankProcess(dir_, 0, true); });
    EXPECT_EQ(status_, kInterrupted);  // mpiexec passes on the ranks' status
    EXPECT_NE(err_.find("spc_sweep: g.gr: stopped by SIGTERM: "), std::string::npos) << err_;
    int64_t recorded = recordedSaid();
    EXPECT_GT(recorded, 0);
    // The launcher: Open MPI's mpiexec hands the signal on, then ends the
    // ranks a second later with its own status; the message comes first.
    fs::remove(dir_ / ".status");
    interruptMidRun(2, "--checkpoint ck g.gr", [&] { return launcherProcess(dir_); });
    EXPECT_NE(status_, 0);
    EXPECT_NE(err_.find("spc_sweep: g.gr: stopped by SIGTERM: "), std::string::npos) << err_;
    EXPECT_GT(recordedSaid(), recorded);
    recorded = recordedSaid();
    expectResumed(2, "--checkpoint ck g.gr", recorded);
}

TEST_F(SweepJob, WithoutACheckpointASignalSaysNothingWasKept) {
    start(1, "--progress 0 g.gr");
    pid_t pid = 0;
    for (int i = 0; i < 3000 && pid == 0; ++i) {
        pid = rankProcess(dir_, 0, false);
        if (pid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(waitUntilCatching(pid, SIGINT)) << "the tool never caught SIGINT";  // a loaded machine starts it late
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(kill(pid, SIGINT), 0);
    wait();
    EXPECT_EQ(status_, kInterrupted);
    EXPECT_EQ(err_, "spc_sweep: g.gr: stopped by SIGINT; nothing was kept (no --checkpoint), so the same command "
                    "starts it again\n");
    EXPECT_FALSE(logExists());
}

TEST_F(SweepJob, ASecondRunOnTheSameCheckpointIsRefusedAndTheFirstGoesOn) {
    start(1, "--checkpoint ck g.gr");
    const std::string path = waitForCheckpoint(dir_ / "ck");
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(waitForLines(path, 5));
    // Refused while the first runs (a wait for its lock would have ended
    // with the network recorded). The first is held still meanwhile, its
    // lock kept: on free cores it would otherwise finish first.
    const pid_t first = rankProcess(dir_, 0, false);
    ASSERT_GT(first, 0);
    ASSERT_EQ(kill(first, SIGSTOP), 0);
    const std::string second = "cd '" + dir_.string() + "' && " + command(1, "--checkpoint ck g.gr") +
                               " > .second.out 2> .second.err";
    const int raw = std::system(second.c_str());
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_EQ(readAll(dir_ / ".second.out"), "");
    EXPECT_EQ(readAll(dir_ / ".second.err"), "spc_sweep: g.gr: the checkpoint ck/" + fs::path(path).filename().string() +
                                                 " is in use by another run; nothing was changed\n");
    ASSERT_EQ(kill(first, SIGCONT), 0);
    wait();
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>{expected_});
    EXPECT_EQ(resumedOf(out_), 0);
    EXPECT_EQ(logLines(), 1);
}

TEST_F(SweepJob, AnInterruptedCommandRunAgainSweepsNoNetworkTwice) {
    writeFile(dir_ / "net4.gr", kNet4);
    interruptMidRun(1, "--checkpoint ck net4.gr g.gr", [&] { return rankProcess(dir_, 0, false); });
    EXPECT_EQ(status_, kInterrupted);
    // net4.gr was done before the signal: its figures and log line stand.
    EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>{kNet4Report});
    EXPECT_EQ(maskTimes(log()), "net4.gr     18     T     6     18\n");
    sweep(1, "--checkpoint ck net4.gr g.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(sweepReports(out_, 1), (std::vector<std::string>{kNet4Report, expected_}));
    EXPECT_NE(out_.find("spc_sweep: recorded by an earlier run on 1 rank, "), std::string::npos) << out_;
    EXPECT_EQ(logLines(), 2);
    sweep(1, "--checkpoint ck net4.gr g.gr");  // both recorded now: nothing swept, nothing logged
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(logLines(), 2);
    EXPECT_EQ(sweepReports(out_, 1), (std::vector<std::string>{kNet4Report, expected_}));
}

// Rank 0 runs a source of seconds on its compute thread while it keeps the
// other rank fed and the checkpoint synced; a signal then ends the tool at
// once, without waiting for that source.
TEST_F(SweepJob, RankZeroAnswersAndStopsWhileItRunsALongSource) {
    if (SPC_EMULATED) GTEST_SKIP() << "too slow under emulation";
    int32_t n = 20000;
    std::string text = slowFirstSource(n, 16);
    double seconds = firstSourceSeconds(text);
    for (int i = 0; i < 8 && seconds < 6; ++i) {
        n = static_cast<int32_t>(n * std::min(2.0, std::sqrt(7 / seconds)));
        text = slowFirstSource(n, 16);
        seconds = firstSourceSeconds(text);
    }
    ASSERT_GE(seconds, 3) << "the first source should take seconds";
    writeFile(dir_ / "slow.gr", text);
    const int ranks = kOverMpi ? 2 : 1;
    start(ranks, "--checkpoint ck --repetitions 1 slow.gr");
    const std::string path = waitForCheckpoint(dir_ / "ck");
    ASSERT_FALSE(path.empty());
    if (kOverMpi) {
        // Rank 1 goes on with chunk after chunk, and rank 0 syncs them.
        ASSERT_TRUE(waitForLines(path, 20)) << readAll(path).substr(0, 300);
        EXPECT_TRUE(waitForText(path, "\nsynced ", headerLine({}).size() + 30)) << readAll(path).substr(0, 300);
    }
    ASSERT_EQ(kill(rankProcess(dir_, 0, kOverMpi), SIGTERM), 0);
    wait();
    EXPECT_EQ(status_, kInterrupted) << err_;
    // The tool did not wait for source 1, rank 0's first: its chunk never
    // came back, and what rank 1 ran is kept.
    const std::string kept = readAll(path);
    EXPECT_EQ(kept.find("\nrun 1 1 "), std::string::npos) << kept.substr(0, 300);
    if (kOverMpi) {
        EXPECT_NE(kept.find("\nrun 1 "), std::string::npos);
    }
}

// Ranks of one machine map one copy of the arc table: in every rank it is
// shared memory, and each rank's proportional share of it is a third.
TEST_F(SweepJob, RanksOfOneMachineReadOneCopyOfTheNetwork) {
    if (!kOverMpi) GTEST_SKIP() << "built without MPI";
    writeFile(dir_ / "dense.gr", networkText({"random", 30000, 3000000, 4, 1, 100}));
    ASSERT_TRUE(loadText(readAll(dir_ / "dense.gr")));
    const uint64_t copy = planArcLayout(program_network).bytes;
    ASSERT_GT(copy, 10u << 20);
    start(3, "--checkpoint ck dense.gr");
    ASSERT_FALSE(waitForCheckpoint(dir_ / "ck").empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (int rank = 0; rank < 3; ++rank) {
        const pid_t pid = rankProcess(dir_, rank, true);
        ASSERT_GT(pid, 0);
        // The mapping that holds the copy: its pages are shared, and this
        // rank's proportional share is a third of them. No rank holds a
        // private mapping as large.
        std::istringstream smaps(readAll("/proc/" + std::to_string(pid) + "/smaps"));
        std::string line;
        int64_t rss = 0, pss = 0, shared = 0, copies = 0, private_copies = 0;
        while (std::getline(smaps, line)) {
            int64_t kib = 0;
            if (std::sscanf(line.c_str(), "Rss: %ld kB", &kib) == 1) rss = kib;
            if (std::sscanf(line.c_str(), "Pss: %ld kB", &kib) == 1) pss = kib;
            if (std::sscanf(line.c_str(), "Shared_Clean: %ld kB", &kib) == 1) shared = kib;
            if (std::sscanf(line.c_str(), "Shared_Dirty: %ld kB", &kib) == 1) {
                shared += kib;
                if (rss * 1024 < static_cast<int64_t>(copy) * 9 / 10) continue;
                if (shared >= rss * 9 / 10) {
                    ++copies;
                    EXPECT_LE(pss, rss / 2) << "rank " << rank;
                } else {
                    ++private_copies;
                }
            }
        }
        EXPECT_EQ(copies, 1) << "rank " << rank;
#ifndef __SANITIZE_ADDRESS__  // its quarantine keeps the arcs rank 0 read, freed, in memory
        EXPECT_EQ(private_copies, 0) << "rank " << rank;
#endif
    }
    kill(launcherProcess(dir_), SIGUSR1);  // handed on to the ranks
    wait();
    EXPECT_EQ(status_, kInterrupted) << err_;
    EXPECT_NE(err_.find("stopped by SIGUSR1"), std::string::npos) << err_;
}

// The estimate sweeps and logs nothing and names what it predicts; a
// network that cannot be read is said so.
TEST_F(SweepJob, TheEstimateRunsASampleAndPredicts) {
    writeFile(dir_ / "cycle.gr", networkText({"random", 4000, 4000, 6, 5, 5}));  // a cycle of equal arcs
    sweep(1, "--checkpoint ck --estimate 0.2 --ranks 1,2,64 --repetitions 2 cycle.gr missing.gr");
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(err_, "spc_sweep: missing.gr: cannot be opened: No such file or directory\n");
    EXPECT_FALSE(logExists());
    EXPECT_TRUE(waitForCheckpoint(dir_ / "ck", 0).empty());
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out_, m, std::regex("^spc_sweep: estimate: cycle.gr: processor time per sweep "
                                                      "([0-9.]+) s \\(19 times in 20 between ([0-9.]+) and ([0-9.]+) "
                                                      "s\\), ([0-9.]+) core-hours; 2 sweeps ([0-9.]+) s \\(([0-9.]+) "
                                                      "to ([0-9.]+) s\\)")))
        << out_;
    const double per_sweep = std::stod(m[1]), low = std::stod(m[2]), high = std::stod(m[3]);
    EXPECT_GT(per_sweep, 0);
    EXPECT_LE(low, per_sweep);
    EXPECT_GE(high, per_sweep);
    char hours[32];
    std::snprintf(hours, sizeof hours, "%.1f", per_sweep / 3600);
    EXPECT_EQ(m[4].str(), hours);
    EXPECT_NEAR(std::stod(m[5]), 2 * per_sweep, 0.002);
    EXPECT_NEAR(std::stod(m[6]), 2 * low, 0.002);
    EXPECT_NEAR(std::stod(m[7]), 2 * high, 0.002);
    // Memory, worked out from the layout here: 4 bytes an id and key.
    ASSERT_TRUE(loadText(readAll(dir_ / "cycle.gr")));
    const ArcLayout layout = planArcLayout(program_network);
    const auto text = [](double bytes) {
        char shown[32];
        std::snprintf(shown, sizeof shown, bytes >= 1e9 ? "%.2f GB" : bytes >= 1e6 ? "%.1f MB" : "%.1f kB",
                      bytes >= 1e9 ? bytes / 1e9 : bytes >= 1e6 ? bytes / 1e6 : bytes / 1e3);
        return std::string(shown);
    };
    EXPECT_NE(out_.find("\n  memory: at most " + text(static_cast<double>(engineOwnBytes(layout, EngineUse::figures))) +
                        " per thread (its engine), " + text(static_cast<double>(layout.bytes)) +
                        " per machine for its ranks' shared copy of the network, " + text(4000.0 * 32) +
                        " more on rank 0\n"),
              std::string::npos)
        << out_;
    EXPECT_NE(out_.find("\n  wall-clock on 1 rank x "), std::string::npos) << out_;
    EXPECT_NE(out_.find("; on 64 ranks x "), std::string::npos) << out_;
}

// A checkpoint written by two compute threads resumes with three, and that
// one's with one: the figures and files of a run never cut.
TEST_F(SweepJob, ACheckpointResumesUnderOtherThreadCounts) {
    sweep(1, "--threads 1 --per-source whole.tsv --log whole.log g.gr");
    ASSERT_EQ(status_, 0) << err_;
    for (const char* threads : {"2", "3"}) {
        interruptMidRun(1, std::string("--threads ") + threads + " --checkpoint ck --per-source g.tsv g.gr",
                        [&] { return rankProcess(dir_, 0, false); });
        EXPECT_EQ(status_, kInterrupted) << err_;
    }
    const int64_t recorded = recordedSaid();
    EXPECT_GT(recorded, 0);
    sweep(1, "--threads 1 --checkpoint ck --per-source g.tsv g.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>{expected_});
    EXPECT_EQ(resumedOf(out_), recorded);
    EXPECT_EQ(readAll(dir_ / "g.tsv"), readAll(dir_ / "whole.tsv"));
}

// A sample's run stopped and resumed, on other ranks, gives the whole
// sweep's rows of its sources; a checkpoint of other sources is not taken.
TEST_F(SweepJob, AStoppedSampleResumesAndGivesTheWholeSweepsRows) {
    sweep(1, "--per-source whole.tsv --log whole.log g.gr");
    ASSERT_EQ(status_, 0) << err_;
    const std::string args = "--sample 3000 --seed 8 --checkpoint ck --per-source s.tsv g.gr";
    interruptMidRun(1, args, [&] { return rankProcess(dir_, 0, false); });
    ASSERT_EQ(status_, kInterrupted) << err_;
    const int64_t recorded = recordedSaid();
    EXPECT_GT(recorded, 0);
    sweep(1, "--sample 3000 --seed 9 --checkpoint ck --per-source t.tsv g.gr");  // another sample: from nothing
    ASSERT_EQ(status_, 0) << err_;
    EXPECT_EQ(resumedOf(out_), 0);
    sweep(kOverMpi ? 2 : 1, args);
    ASSERT_EQ(status_, 0) << err_;
    EXPECT_EQ(resumedOf(out_), recorded);
    std::map<int64_t, std::string> whole;
    std::istringstream lines(readAll(dir_ / "whole.tsv"));
    std::string line;
    while (std::getline(lines, line)) whole[std::atoll(line.c_str())] = line;
    std::istringstream chosen(readAll(dir_ / "s.tsv"));
    int64_t rows = 0;
    while (std::getline(chosen, line)) {
        if (line[0] == '#') continue;
        ++rows;
        EXPECT_EQ(line, whole[std::atoll(line.c_str())]);
    }
    EXPECT_EQ(rows, 3000);
    EXPECT_FALSE(fs::exists(dir_ / "spc_heap_output.txt"));
}

// Two of three threads run sources of seconds (the first of their chunks)
// while the third records chunk after chunk; a signal stops the tool at
// once, what the third recorded is kept, and the same command resumes to the
// figures of a run never cut.
TEST_F(SweepJob, AStopWhileThreadsRunLongSourcesKeepsWhatCameBack) {
    if (SPC_EMULATED) GTEST_SKIP() << "too slow under emulation";
    // Chunks of 64 (what is left over four times three threads): the first
    // two chunks start with a hub, whose source takes seconds.
    int32_t n = 12000;
    std::string text = slowSources(n, 16, {1, 65}, 64);
    double seconds = firstSourceSeconds(text);
    for (int i = 0; i < 8 && seconds < 4; ++i) {
        n = static_cast<int32_t>(n * std::min(2.0, std::sqrt(5 / seconds)));
        text = slowSources(n, 16, {1, 65}, 64);
        seconds = firstSourceSeconds(text);
    }
    ASSERT_GE(seconds, 2) << "a hub's source should take seconds";
    writeFile(dir_ / "slow.gr", text);
    sweep(1, "--threads 3 --repetitions 1 --per-source whole.tsv --log whole.log slow.gr");
    ASSERT_EQ(status_, 0) << err_;
    const std::string whole = sweepReports(out_, 1).at(0);
    start(1, "--threads 3 --repetitions 1 --checkpoint ck --per-source s.tsv slow.gr");
    const std::string path = waitForCheckpoint(dir_ / "ck");
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(waitForLines(path, 20)) << readAll(path).substr(0, 300);
    ASSERT_EQ(kill(rankProcess(dir_, 0, false), SIGTERM), 0);
    wait();
    EXPECT_EQ(status_, kInterrupted) << err_;
    const std::string kept = readAll(path);
    EXPECT_EQ(kept.find("\nrun 1 1 "), std::string::npos) << kept.substr(0, 300);
    EXPECT_EQ(kept.find("\nrun 1 65 "), std::string::npos) << kept.substr(0, 300);
    EXPECT_NE(kept.find("\nrun 1 129 "), std::string::npos) << kept.substr(0, 300);
    const int64_t recorded = recordedSaid();
    EXPECT_GT(recorded, 0);
    sweep(1, "--threads 3 --repetitions 1 --checkpoint ck --per-source s.tsv slow.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>{whole});
    EXPECT_EQ(resumedOf(out_), recorded);
    EXPECT_EQ(readAll(dir_ / "s.tsv"), readAll(dir_ / "whole.tsv"));
}

}  // namespace
