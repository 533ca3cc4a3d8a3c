// End-to-end runs of the built program in a fresh directory with scripted
// standard input, and the report's formats.
#include "program_run.h"
#include "report/report.h"

using namespace spc_test;

namespace {

TEST_F(ProgramRun, ExitAtTheFirstPrompt) {
    run("-1\n");
    EXPECT_EQ(out_, kPrompt + "exit\n");
    EXPECT_EQ(status_, 0);
    EXPECT_FALSE(logExists());
}

TEST_F(ProgramRun, WrongNamesAreAskedAgainAndABlankSplitsAName) {
    run("missing.gr my net.gr\n-1\n");
    EXPECT_EQ(out_, kPrompt + "failed. wrong filename.\n" + kPrompt + "failed. wrong filename.\n" + kPrompt +
                        "failed. wrong filename.\n" + kPrompt + "exit\n");
    EXPECT_EQ(status_, 0);
}

TEST_F(ProgramRun, ProcessesTheWorkedExampleAndAppendsOneLine) {
    writeFile(dir_ / "spc_heap_output.txt", "earlier line\n");
    writeFile(dir_ / "net4.gr", kNet4);
    run("net4.gr\n-1\n");
    EXPECT_EQ(maskTimes(out_), kPrompt + "opened\n" + kNet4Report + kPrompt + "exit\n");
    EXPECT_EQ(status_, 0);
    EXPECT_EQ(maskTimes(log()), "earlier line\nnet4.gr     18     T     6     18\n");
    EXPECT_EQ(err_, "");  // no progress line when standard error is not a terminal
}

TEST_F(ProgramRun, TwoFilesAndTheSameFileTwice) {
    writeFile(dir_ / "net4.gr", kNet4);
    writeFile(dir_ / "pair.gr", "c two nodes\np sp 2 2\na 1 2 3\na 2 1 4\n");
    run("net4.gr pair.gr net4.gr\n-1\n");
    const std::string pair_report =
        "Sum of distances: 7\nRunning time of SP computation: T (ms)\n"
        "trivial_triple_comparisons: 4\nnontrivial_triple_comparisons: -4\n";
    EXPECT_EQ(maskTimes(out_), kPrompt + "opened\n" + kNet4Report + kPrompt + "opened\n" + pair_report + kPrompt +
                                   "opened\n" + kNet4Report + kPrompt + "exit\n");
    EXPECT_EQ(maskTimes(log()),
              "net4.gr     18     T     6     18\npair.gr     7     T     4     -4\nnet4.gr     18     T     6     18\n");
}

TEST_F(ProgramRun, AFileNamedMinusOneIsProcessedBeforeTheProgramEnds) {
    writeFile(dir_ / "-1", kNet4);
    run("-1\n");
    EXPECT_EQ(maskTimes(out_), kPrompt + "opened\n" + kNet4Report + "exit\n");
    EXPECT_EQ(maskTimes(log()), "-1     18     T     6     18\n");
}

TEST_F(ProgramRun, EndOfInputEndsAsForMinusOne) {
    writeFile(dir_ / "net4.gr", kNet4);
    run("net4.gr");
    EXPECT_EQ(maskTimes(out_), kPrompt + "opened\n" + kNet4Report + kPrompt + "exit\n");
    EXPECT_EQ(status_, 0);
    run("nosuch.gr\n");
    EXPECT_EQ(out_, kPrompt + "failed. wrong filename.\n" + kPrompt + "exit\n");
    run("");
    EXPECT_EQ(out_, kPrompt + "exit\n");
}

TEST_F(ProgramRun, ReadOnlyFilesDirectoriesAndFifosAreWrongNames) {
    if (!canRunAsNobody()) GTEST_SKIP() << "cannot drop privileges here";
    writeFile(dir_ / "readonly.gr", kNet4);
    fs::permissions(dir_ / "readonly.gr", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directory(dir_ / "folder.gr");
    ASSERT_EQ(mkfifo((dir_ / "pipe.gr").c_str(), 0666), 0);
    run("readonly.gr folder.gr pipe.gr -1\n", true);
    const std::string wrong = "failed. wrong filename.\n";
    EXPECT_EQ(out_, kPrompt + wrong + kPrompt + wrong + kPrompt + wrong + kPrompt + "exit\n");
    EXPECT_EQ(status_, 0);
}

TEST_F(ProgramRun, UnopenableRunLogEndsTheProgramAfterTheReport) {
    writeFile(dir_ / "net4.gr", kNet4);
    fs::create_directory(dir_ / "spc_heap_output.txt");
    run("net4.gr\n-1\n");
    EXPECT_EQ(maskTimes(out_), kPrompt + "opened\n" + kNet4Report + "Failed to open file.\n");
    EXPECT_EQ(status_, 1);
}

TEST_F(ProgramRun, RunLogWriteErrorIsNotReportedAsSuccess) {
    writeFile(dir_ / "net4.gr", kNet4);
    fs::create_symlink("/dev/full", dir_ / "spc_heap_output.txt");
    run("net4.gr\n-1\n");
    EXPECT_EQ(maskTimes(out_), kPrompt + "opened\n" + kNet4Report + "Failed to write file.\n");
    EXPECT_EQ(status_, 1);
}

TEST_F(ProgramRun, RejectedFilesAreNeitherSweptNorLogged) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"badlength.gr", "p sp 3 2\na 1 2 4\na 2 3 x\n"},
        {"cut.gr", "p sp 3 2\na 1 2 4\na 2 3"},
        {"range.gr", "p sp 3 1\na 1 2 99999999999\n"},
        {"noproblem.gr", "c only a comment\n"},
        {"twoproblems.gr", "p sp 2 0\np sp 2 0\n"},
        {"early.gr", "a 1 2 3\np sp 2 1\n"},
        {"toomany.gr", "p sp 2 1\na 1 2 3\na 2 1 3\n"},
        {"toofew.gr", "p sp 2 2\na 1 2 3\n"},
        {"outside.gr", "c\nc\nc\nc\nc\np sp 4 1\na 1 9 1\n"},
        {"nonodes.gr", "p sp 0 0\n"},
        {"negative.gr", "p sp 2 -1\n"},
        {"huge.gr", "p sp 2000000000 2000000000\na 1 2 3\na 2 3 4\na 3 1 5\n"},
        {"toolarge.gr", "p sp 2000000000 1\na 1 2 3\n"},
    };
    std::string input;
    for (const auto& [name, text] : files) {
        writeFile(dir_ / name, text);
        input += name + "\n";
    }
    writeFile(dir_ / "net4.gr", kNet4);
    run(input + "net4.gr\n-1\n");
    EXPECT_EQ(status_, 0);
    std::istringstream lines(out_);
    std::string line;
    std::vector<std::string> failures;
    while (std::getline(lines, line)) {
        if (line.rfind("failed. ", 0) == 0) failures.push_back(line);
    }
    ASSERT_EQ(failures.size(), files.size()) << out_;
    EXPECT_EQ(failures[0], "failed. line 3: length 'x' of an arc is not a number");
    EXPECT_EQ(failures[1], "failed. line 3: length of an arc is missing at end of file");
    EXPECT_EQ(failures[8], "failed. line 7: head 9 of arc 1 -> 9 is outside 1..4");
    EXPECT_NE(failures[12].find("needs about"), std::string::npos) << failures[12];
    // Every rejected file said "opened" first, then its failure, and nothing reached the log.
    size_t opened = 0;
    for (size_t at = out_.find("opened\n"); at != std::string::npos; at = out_.find("opened\n", at + 1)) ++opened;
    EXPECT_EQ(opened, files.size() + 1);
    EXPECT_EQ(maskTimes(log()), "net4.gr     18     T     6     18\n");
}

TEST(Report, IntegersAreExactFarBeyondSixtyFourBits) {
    EXPECT_EQ(formatInteger(0), "0");
    EXPECT_EQ(formatInteger(-12), "-12");
    EXPECT_EQ(formatInteger(INT64_MAX), "9223372036854775807");
    const int128 big = static_cast<int128>(INT64_MAX) * 1000 + 999;
    EXPECT_EQ(formatInteger(big), "9223372036854775807999");
    EXPECT_EQ(formatInteger(-big), "-9223372036854775807999");
    const int128 lowest = -(static_cast<int128>(1) << 126) * 2;
    EXPECT_EQ(formatInteger(lowest), "-170141183460469231731687303715884105728");
}

// The time mask takes every time the report can write, and nothing else.
TEST(Report, TheTimeMaskTakesTheReportsTimesOnly) {
    for (float ms : {0.0f, 0.25f, 1.5f, 9999.75f, 10000.25f, 12345.75f, 99999.5f, 100000.25f, 999999.75f,
                     1000000.0f, 2500000.0f, 1.5e9f}) {
        const std::string line = resultLines(1, ms, 2, 3);
        EXPECT_EQ(maskTimes(line), "Sum of distances: 1\nRunning time of SP computation: T (ms)\n"
                                   "trivial_triple_comparisons: 2\nnontrivial_triple_comparisons: 3\n")
            << line;
        EXPECT_EQ(maskTimes(runLogLine("a.gr", 1, ms, 2, 3)), "a.gr     1     T     2     3\n");
    }
    for (const char* wrong : {"1.35e+03", "1350.2", "0.3", "12345.25", "1234567", "1e+05", "-1", "01"}) {
        const std::string line = std::string("Running time of SP computation: ") + wrong + " (ms)\n";
        EXPECT_EQ(maskTimes(line), line);
        EXPECT_EQ(maskTimes(std::string("a.gr     1     ") + wrong + "     2     3\n"),
                  std::string("a.gr     1     ") + wrong + "     2     3\n");
    }
}

TEST(Report, ResultLinesUseTheStreamsDefaultFloatNotation) {
    EXPECT_EQ(resultLines(18, 1234.75f, 6, -6),
              "Sum of distances: 18\nRunning time of SP computation: 1234.75 (ms)\n"
              "trivial_triple_comparisons: 6\nnontrivial_triple_comparisons: -6\n");
    EXPECT_NE(resultLines(0, 123457.5f, 0, 0).find(": 123458 (ms)"), std::string::npos);
    EXPECT_NE(resultLines(0, 2500000.0f, 0, 0).find(": 2.5e+06 (ms)"), std::string::npos);
}

TEST(Report, RunLogLineUsesTheStreamsDefaultFloatNotation) {
    const auto runLogLine = [](int128 sum, float time) { return ::runLogLine("net.gr", sum, time, 6, -6); };
    EXPECT_EQ(runLogLine(18, 0.0f), "net.gr     18     0     6     -6\n");
    EXPECT_EQ(runLogLine(18, 12.25f), "net.gr     18     12.25     6     -6\n");
    EXPECT_EQ(runLogLine(18, 560.5f), "net.gr     18     560.5     6     -6\n");
    EXPECT_EQ(runLogLine(18, 2500000.0f), "net.gr     18     2.5e+06     6     -6\n");
    // Seven significant digits round to six, ties to even.
    EXPECT_EQ(runLogLine(18, 123456.5f), "net.gr     18     123456     6     -6\n");
    EXPECT_EQ(runLogLine(18, 123457.5f), "net.gr     18     123458     6     -6\n");
    EXPECT_EQ(runLogLine(18, 1234.75f), "net.gr     18     1234.75     6     -6\n");
}

}  // namespace
