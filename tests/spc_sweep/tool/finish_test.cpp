// How spc_sweep ends a network: every output of every network written once,
// a rerun writing exactly what is missing, after failures at any step; the
// outputs checked against the inputs and for their names before anything
// runs; files made as the umask says, records of other users not taken,
// leftovers of killed runs removed; signals during the estimate.
#include <sys/stat.h>

#include "spc_sweep/checkpoint/durable_files.h"
#include "spc_sweep/tool/options.h"
#include "sweep_run.h"

using namespace spc_test;

namespace {

class SweepFinish : public SweepRun {
protected:
    std::string doneFile() const {
        for (const auto& entry : fs::directory_iterator(dir_ / "ck")) {
            if (entry.path().extension() == ".done") return entry.path().string();
        }
        return "";
    }
    int64_t linesOf(const std::string& name) const {
        const std::string text = readAll(dir_ / name);
        return std::count(text.begin(), text.end(), '\n');
    }
};

// A network under a name, another network under the same name, then the
// first again: the per-source file holds the first network's rows.
TEST_F(SweepFinish, APerSourceFileOfAnotherNetworkIsWrittenAgain) {
    writeNetwork("x.gr", {"grid", 6, 5, 1, 1, 100});
    writeNetwork("y.gr", {"grid", 6, 5, 2, 1, 100});
    fs::copy_file(dir_ / "x.gr", dir_ / "a.gr");
    sweep(1, "--per-source x.tsv x.gr");
    const std::string rows_of_x = readAll(dir_ / "x.tsv");
    for (const std::string source : {"x.gr", "y.gr", "x.gr"}) {
        fs::copy_file(dir_ / source, dir_ / "a.gr", fs::copy_options::overwrite_existing);
        sweep(1, "--checkpoint ck --per-source %n.tsv a.gr");
        ASSERT_EQ(status_, 0) << err_;
    }
    EXPECT_NE(err_.find("the per-source file a.gr.tsv no longer holds this network's figures; it is written again"),
              std::string::npos) << err_;
    EXPECT_EQ(readAll(dir_ / "a.gr.tsv"), std::regex_replace(rows_of_x, std::regex("of x.gr"), "of a.gr"));
}

// Every network of a command gets its lines, whether its content was swept
// before under another name, repeated in the command, or logged elsewhere;
// the same command again writes none.
TEST_F(SweepFinish, EveryNetworkOfTheCommandIsLoggedOnce) {
    if (!jsonRecordsBuilt()) GTEST_SKIP() << "built without JSON records";
    writeFile(dir_ / "a.gr", kNet4);
    writeFile(dir_ / "b.gr", kNet4);
    const std::string args = "--checkpoint ck --json r.json a.gr b.gr a.gr";
    for (int run = 0; run < 2; ++run) {
        sweep(1, args);
        ASSERT_EQ(status_, 0) << err_;
        EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>(3, kNet4Report));
        EXPECT_EQ(maskTimes(log()), "a.gr     18     T     6     18\nb.gr     18     T     6     18\n"
                                    "a.gr     18     T     6     18\n");
        EXPECT_EQ(linesOf("r.json"), 3);
    }
    sweep(1, "--checkpoint ck --log other.log b.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(linesOf("other.log"), 1);
    EXPECT_NE(out_.find("nothing was swept now; written now: the run-log line\n"), std::string::npos) << out_;
}

// The finished record cannot be written (here a directory took its name):
// nothing is logged; once the way is clear the same command logs once.
TEST_F(SweepFinish, NothingIsLoggedBeforeTheFiguresAreSafe) {
    writeFile(dir_ / "a.gr", kNet4);
    sweep(1, "--checkpoint ck --repetitions 2 a.gr");  // to learn the record's name
    const std::string done = doneFile();
    fs::remove(done);
    fs::remove(dir_ / "spc_heap_output.txt");
    fs::create_directories(done + "/in-the-way");
    sweep(1, "--checkpoint ck --repetitions 2 a.gr");
    EXPECT_EQ(status_, 1);
    EXPECT_NE(err_.find("cannot be written: Is a directory; nothing else is written, the checkpoint is kept"),
              std::string::npos) << err_;
    EXPECT_FALSE(logExists());
    fs::remove_all(done);
    for (int run = 0; run < 2; ++run) {
        sweep(1, "--checkpoint ck --repetitions 2 a.gr");
        EXPECT_EQ(status_, 0) << err_;
        EXPECT_EQ(logLines(), 1);
    }
}

// A JSON record that could not be written fails the run; the rerun writes it
// and nothing twice.
TEST_F(SweepFinish, AnOutputThatFailedIsWrittenByTheRerun) {
    if (!jsonRecordsBuilt()) GTEST_SKIP() << "built without JSON records";
    writeFile(dir_ / "a.gr", kNet4);
    fs::create_symlink("/dev/full", dir_ / "r.json");
    sweep(1, "--checkpoint ck --json r.json a.gr");
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(err_, "spc_sweep: a.gr: the JSON record cannot be written: No space left on device; the finished record "
                    "is kept, and the same command writes what is missing\n");
    fs::remove(dir_ / "r.json");
    sweep(1, "--checkpoint ck --json r.json a.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(linesOf("r.json"), 1);
    EXPECT_EQ(logLines(), 1);
}

// Outputs that would overwrite an input or each other, and names too long
// for the file system, are bad usage: nothing runs, nothing changes.
TEST_F(SweepFinish, OutputsAreCheckedAgainstInputsAndNamesBeforeAnythingRuns) {
    writeFile(dir_ / "a.gr", kNet4);
    const std::string long_name(250, 'x');
    for (const auto& [args, message] : std::vector<std::pair<std::string, std::string>>{
             {"--per-source %n a.gr", "--per-source a.gr would overwrite the network a.gr of this command"},
             {"--per-source ./%n a.gr", "--per-source ./a.gr would overwrite the network a.gr of this command"},
             {"--log ./a.gr a.gr", "--log ./a.gr would overwrite the network a.gr of this command"},
             {"--log r.txt --per-source r.txt a.gr", "--per-source r.txt would write the file of --log r.txt"},
             {"--per-source " + long_name + ".tsv a.gr",
              "--per-source " + long_name + ".tsv: its name is too long for its file system (254 characters; with "
              "the 21 of a temporary file at most 255)"}}) {
        sweep(1, "--checkpoint ck " + args);
        EXPECT_EQ(status_, 2) << args;
        EXPECT_EQ(err_.substr(0, err_.find('\n')), "spc_sweep: " + message) << args;
        EXPECT_EQ(readAll(dir_ / "a.gr"), kNet4);
        EXPECT_FALSE(logExists());
    }
    // A name the early check lets through, with a finished record present.
    sweep(1, "--checkpoint ck a.gr");
    sweep(1, "--checkpoint ck --per-source " + std::string(233, 'y') + " a.gr");
    EXPECT_EQ(status_, 0) << err_;
}

// New files follow the umask; a finished record planted by another user is
// not taken; what a killed run left beside an output is removed.
TEST_F(SweepFinish, FilesFollowTheUmaskAndOnlyTheUsersOwnRecordsCount) {
    writeFile(dir_ / "a.gr", kNet4);
    writeFile(dir_ / ("a.tsv" + std::string(kTemporaryMark) + "Qw3rty"), "left by a killed run");
    const std::string line = "cd '" + dir_.string() + "' && umask 027 && " + command(1, "--checkpoint ck --per-source a.tsv a.gr") + " > .stdout 2> .stderr";
    ASSERT_EQ(std::system(line.c_str()), 0) << readAll(dir_ / ".stderr");
    EXPECT_FALSE(fs::exists(dir_ / ("a.tsv" + std::string(kTemporaryMark) + "Qw3rty")));
    struct stat st {};
    for (const std::string& path : {(dir_ / "a.tsv").string(), doneFile()}) {
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u) << path;
    }
    if (geteuid() != 0) return;
    // Another user's record with figures of its own: ignored, the network swept.
    std::string planted = readAll(doneFile());
    planted = std::regex_replace(planted, std::regex("totals sum 18 "), "totals sum 99 ");
    writeFile(doneFile(), planted);
    ASSERT_EQ(chown(doneFile().c_str(), 65534, 65534), 0);
    sweep(1, "--checkpoint ck --per-source a.tsv a.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(sweepReports(out_, 1), std::vector<std::string>{kNet4Report});
    EXPECT_NE(err_.find("is ignored (it belongs to another user (uid 65534), whose records are not taken); the "
                        "network is swept"), std::string::npos) << err_;
}

// A per-source file asked for after a run without one: the record serves it,
// without a new sweep, and says that it lacks the harmonic sums.
TEST_F(SweepFinish, ARecordWithoutHarmonicSumsServesALaterPerSourceFile) {
    writeFile(dir_ / "a.gr", kNet4);
    sweep(1, "--checkpoint ck a.gr");
    ASSERT_EQ(status_, 0) << err_;
    sweep(1, "--checkpoint ck --per-source a.tsv a.gr");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_NE(out_.find("nothing was swept now; written now: the per-source file a.tsv"), std::string::npos) << out_;
    EXPECT_NE(err_.find("has no harmonic sums: the per-source file's fifth column is -"), std::string::npos) << err_;
    EXPECT_NE(readAll(dir_ / "a.tsv").find("\n1\t4\t10\t5\t-\n"), std::string::npos) << readAll(dir_ / "a.tsv");
}

TEST_F(SweepFinish, TheEstimateStopsAtASignal) {
    // A sample of every source would take minutes; the budget is longer.
    writeFile(dir_ / "g.gr", networkText({"grid", 300, 300, 1, 1, 1000}));
    start(1, "--estimate 600 g.gr");
    pid_t pid = 0;
    for (int i = 0; i < 3000 && pid == 0; ++i) {
        pid = rankProcess(dir_, 0, false);
        if (pid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(waitUntilCatching(pid, SIGINT));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(kill(pid, SIGINT), 0);
    wait();
    EXPECT_EQ(status_, 75);
    EXPECT_EQ(out_, "");
    EXPECT_NE(err_.find("spc_sweep: g.gr: stopped by SIGINT"), std::string::npos) << err_;
}

}  // namespace
