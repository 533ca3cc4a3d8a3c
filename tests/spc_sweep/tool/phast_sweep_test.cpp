// spc_sweep --method phast: the heap method's figures and per-source files on
// every family, on ranks and threads; the hierarchy kept for the next job,
// a damaged one built again; a stop while it is built; networks the method
// does not take said and passed over; the estimate of both methods.
#include <algorithm>

#include "spc_sweep/checkpoint/durable_files.h"
#include "spc_sweep/tool/outputs.h"
#include "sweep_run.h"

using namespace spc_test;

namespace {

constexpr int kInterrupted = 75;

// Networks of every family with lengths >= 0: the samples, and generated
// ones with zero lengths and arcs of 2^31 - 1 (distances past 32 bits). A
// pass reads every node, so no network of many nodes that reach few: under
// the sanitizers and the emulator it would take most of the suite's time.
std::vector<std::string> writeNetworks(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(SPC_EXAMPLES_DIR)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".gr" || name.find("negative") != std::string::npos) continue;
        fs::copy_file(entry.path(), dir / name);
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    const std::vector<std::pair<std::string, NetworkSpec>> generated = {
        {"grid.gr", {"grid", 13, 9, 1, 0, 50}},
        {"road.gr", {"road", 17, 11, 2, 1, 12000}},
        {"random.gr", {"random", 300, 1500, 3, 0, 100}},
        {"path-long.gr", {"path", 600, 0, 5, 2147483647, 2147483647}},
    };
    for (const auto& [name, spec] : generated) {
        writeFile(dir / name, networkText(spec));
        names.push_back(name);
    }
    return names;
}

std::string joined(const std::vector<std::string>& names) {
    std::string all;
    for (const std::string& name : names) all += name + " ";
    return all;
}

class PhastSweep : public SweepRun {
protected:
    // The file of the network's hierarchy in ck, once there.
    std::string hierarchyFile() const {
        for (const auto& entry : fs::directory_iterator(dir_ / "ck")) {
            if (entry.path().extension() == ".hierarchy") return entry.path().string();
        }
        return {};
    }
};

class PhastFigures : public PhastSweep, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(PhastFigures, AreTheHeapMethodsWithTheirPerSourceFiles) {
    const auto [ranks, threads] = GetParam();
    if (ranks > 1 && !kOverMpi) GTEST_SKIP() << "built without MPI";
    const std::vector<std::string> names = writeNetworks(dir_);
    fs::create_directory(dir_ / "heap");
    fs::create_directory(dir_ / "phast");
    sweep(1, "--threads 2 --per-source heap/%n.tsv " + joined(names));
    ASSERT_EQ(status_, 0) << err_;
    const std::vector<std::string> expected = sweepReports(out_, 1);
    ASSERT_EQ(expected.size(), names.size());
    const std::string heap_log = log();

    sweep(ranks, "--method phast --threads " + std::to_string(threads) +
                     " --per-source phast/%n.tsv " +
                     (jsonRecordsBuilt() ? "--json p.json " : "") + joined(names));
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(err_, "");
    EXPECT_EQ(sweepReports(out_, ranks), expected);
    EXPECT_EQ(std::count(out_.begin(), out_.end(), '\n'), 5 * static_cast<long>(names.size()));
    EXPECT_NE(out_.find("; method phast, its hierarchy built in "), std::string::npos) << out_;
    EXPECT_EQ(log(), heap_log);  // a PHAST time is never logged as the heap method's
    for (const std::string& name : names) {
        EXPECT_EQ(readAll(dir_ / "phast" / (name + ".tsv")), readAll(dir_ / "heap" / (name + ".tsv"))) << name;
    }
    if (jsonRecordsBuilt()) {
        const std::string json = readAll(dir_ / "p.json");
        size_t records = 0;
        for (size_t at = json.find("\"method\":\"phast\",\"hierarchy_build_seconds\":"); at != std::string::npos;
             at = json.find("\"method\":\"phast\",\"hierarchy_build_seconds\":", at + 1)) {
            ++records;
        }
        EXPECT_EQ(records, names.size()) << json;
    }
}

INSTANTIATE_TEST_SUITE_P(RanksAndThreads, PhastFigures,
                         ::testing::Values(std::make_pair(1, 1), std::make_pair(1, 3), std::make_pair(2, 2),
                                           std::make_pair(3, 1)),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "_ranks_" + std::to_string(info.param.second) +
                                    "_threads";
                         });

// A stop mid-sweep resumes from the checkpoint, which the heap method never
// takes for its own; the hierarchy is kept for every later job, and one
// damaged is built again, never used.
TEST_F(PhastSweep, ResumesKeepsItsHierarchyAndBuildsADamagedOneAgain) {
    writeFile(dir_ / "g.gr", networkText({"grid", 120, 120, 11, 0, 10000}));
    const int ranks = kOverMpi ? 2 : 1;
    const std::string phast = "--method phast --repetitions 1 --threads 1 --checkpoint ck ";
    start(ranks, phast + "--per-source p.tsv g.gr");
    const std::string path = waitForCheckpoint(dir_ / "ck");
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path.find("-r1-phast-h.checkpoint"), std::string::npos) << path;  // with harmonic sums
    const pid_t zero = rankProcess(dir_, 0, kOverMpi);
    ASSERT_GT(zero, 0);
    // Held once the first chunk is recorded (its figures and run lines), so
    // that the sweep, a fraction of a second, cannot finish before the signal.
    ASSERT_TRUE(waitForLines(path, 3));
    ASSERT_EQ(kill(zero, SIGSTOP), 0);
    ASSERT_EQ(kill(zero, SIGTERM), 0);
    ASSERT_EQ(kill(zero, SIGCONT), 0);
    wait();
    ASSERT_EQ(status_, kInterrupted) << err_;
    ASSERT_FALSE(hierarchyFile().empty());

    // The heap method starts afresh beside it, and gives the figures to compare.
    sweep(1, "--repetitions 1 --checkpoint ck --per-source h.tsv g.gr");
    ASSERT_EQ(status_, 0) << err_;
    EXPECT_EQ(resumedOf(out_), 0);
    EXPECT_TRUE(fs::exists(path));
    const std::vector<std::string> heap = sweepReports(out_, 1);

    sweep(ranks, phast + "--per-source p.tsv g.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(sweepReports(out_, ranks), heap);
    EXPECT_GT(resumedOf(out_), 0) << out_;
    EXPECT_NE(out_.find("its hierarchy loaded from its file"), std::string::npos) << out_;
    EXPECT_EQ(readAll(dir_ / "p.tsv"), readAll(dir_ / "h.tsv"));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(logLines(), 1);  // the heap method's alone

    // A damaged file is built again, and kept anew.
    const std::string file = hierarchyFile();
    std::string bytes = readAll(file);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
    writeFile(file, bytes);
    sweep(1, "--method phast --repetitions 2 --checkpoint ck --per-source p2.tsv g.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(err_, "spc_sweep: g.gr: the hierarchy file ck/" + fs::path(file).filename().string() +
                        " is not used (it is damaged); it is built again\n");
    EXPECT_NE(out_.find("its hierarchy built in"), std::string::npos) << out_;
    EXPECT_EQ(readAll(dir_ / "p2.tsv"), readAll(dir_ / "h.tsv"));
    sweep(1, "--method phast --repetitions 3 --checkpoint ck g.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_NE(out_.find("its hierarchy loaded from its file"), std::string::npos) << out_;
    EXPECT_EQ(sweepReports(out_, 1).at(0).substr(0, 30), heap.at(0).substr(0, 30));  // the sum
}

// A signal while the hierarchy is built stops the tool at once, keeping
// nothing half-written.
TEST_F(PhastSweep, AStopWhileTheHierarchyIsBuiltKeepsNothingHalfWritten) {
    writeFile(dir_ / "road.gr", networkText({"road", 400, 400, 5, 1, 10000}));
    start(1, "--method phast --checkpoint ck road.gr");
    pid_t pid = 0;
    for (int i = 0; i < 3000 && pid == 0; ++i) {
        pid = rankProcess(dir_, 0, false);
        if (pid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(waitUntilCatching(pid, SIGTERM));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // read by then, or stopped while read: both are checked
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    wait();
    EXPECT_EQ(status_, kInterrupted) << err_;
    const bool in_build = err_.find(" while its hierarchy was built; nothing was swept") != std::string::npos;
    const bool in_reading = err_.find(" while it was read; nothing was swept") != std::string::npos;
    EXPECT_TRUE(in_build || in_reading) << err_;
    std::error_code none;
    for (const auto& entry : fs::directory_iterator(dir_ / "ck", none)) {
        EXPECT_EQ(entry.path().string().find(kTemporaryMark), std::string::npos) << entry.path();
        EXPECT_NE(entry.path().extension(), ".hierarchy");
    }
}

// Negative lengths and a network past the build's guard are said, with the
// heap method named; the other networks are swept; the estimate gives both
// methods and names the cheaper.
TEST_F(PhastSweep, NetworksTheMethodDoesNotTakeAreSaidAndTheOthersSwept) {
    writeFile(dir_ / "negative.gr", networkText({"random", 300, 1500, 3, -5, 100}));
    writeFile(dir_ / "random.gr", networkText({"random", 2000, 10000, 2, 1, 100}));
    const std::string expected = writeNetwork("g.gr", {"grid", 20, 20, 1, 0, 100});
    sweep(1, "--method phast negative.gr random.gr g.gr");
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>{expected});
    EXPECT_NE(err_.find("spc_sweep: negative.gr: the method phast needs lengths >= 0, and this network has a negative "
                        "one; --method heap sweeps it\n"),
              std::string::npos)
        << err_;
    EXPECT_NE(err_.find("spc_sweep: random.gr: the method phast does not suit this network: its hierarchy was not "
                        "built, as the "),
              std::string::npos)
        << err_;
    EXPECT_NE(err_.find("; --method heap sweeps it\n", err_.find("random.gr")), std::string::npos) << err_;

    sweep(1, "--estimate 0.2 --method phast g.gr negative.gr");
    EXPECT_EQ(status_, 1) << err_;
    EXPECT_NE(out_.find("spc_sweep: estimate: g.gr (method phast): processor time per sweep "), std::string::npos) << out_;
    EXPECT_NE(out_.find("\n  cheaper: the method "), std::string::npos) << out_;
    EXPECT_NE(out_.find("shared copy of the hierarchy"), std::string::npos) << out_;
    EXPECT_NE(out_.find("spc_sweep: estimate: negative.gr (method phast): none: the method phast needs lengths >= 0"),
              std::string::npos)
        << out_;
}

}  // namespace
