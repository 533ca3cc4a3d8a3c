// Bad files, vanishing files, an unwritable run log and tight memory, end to end.
#include <random>

#include "program_run.h"

using namespace spc_test;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif
// A cross build runs the program under an emulator.
constexpr bool kEmulated = SPC_EMULATED;

// A shell loop that waits (30 s at most) until the run log has `lines` lines.
std::string waitForLogLines(int lines) {
    return "for i in $(seq 600); do [ \"$(wc -l 2>/dev/null < spc_heap_output.txt || echo 0)\" -ge " +
           std::to_string(lines) + " ] && break; sleep 0.05; done";
}

const std::string kOpenedNet4 = "opened\n" + kNet4Report;

TEST_F(ProgramRun, RunLogTurnedUnwritableKeepsItsEarlierLines) {
    if (!canRunAsNobody()) GTEST_SKIP() << "cannot drop privileges here";
    writeFile(dir_ / "net4.gr", kNet4);
    fs::permissions(dir_ / "net4.gr", fs::perms::all);  // the program runs as nobody and opens it read-write
    runFed("echo net4.gr; echo net4.gr; " + waitForLogLines(2) +
               "; chmod 444 spc_heap_output.txt; echo net4.gr; echo -1",
           true);
    EXPECT_EQ(maskTimes(out_), kPrompt + kOpenedNet4 + kPrompt + kOpenedNet4 + kPrompt + kOpenedNet4 +
                                   "Failed to open file.\n");
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(maskTimes(log()), "net4.gr     18     T     6     18\nnet4.gr     18     T     6     18\n");
}

TEST_F(ProgramRun, NetworkFileRemovedOrMadeUnreadableBetweenPrompts) {
    if (!canRunAsNobody()) GTEST_SKIP() << "cannot drop privileges here";
    writeFile(dir_ / "a.gr", kNet4);
    writeFile(dir_ / "b.gr", kNet4);
    fs::permissions(dir_ / "a.gr", fs::perms::all);  // the program runs as nobody and opens them read-write
    fs::permissions(dir_ / "b.gr", fs::perms::all);
    runFed("echo a.gr b.gr; " + waitForLogLines(2) + "; rm a.gr; chmod 000 b.gr; echo a.gr b.gr -1", true);
    const std::string wrong = "failed. wrong filename.\n";
    EXPECT_EQ(maskTimes(out_), kPrompt + kOpenedNet4 + kPrompt + kOpenedNet4 + kPrompt + wrong + kPrompt + wrong +
                                   kPrompt + "exit\n");
    EXPECT_EQ(status_, 0);
    EXPECT_EQ(maskTimes(log()), "a.gr     18     T     6     18\nb.gr     18     T     6     18\n");
}

// Runs with the address space limited to 200 MB: a header's counts must not
// size anything, and a network too large must be refused with what it needs.
TEST_F(ProgramRun, HugeCountsAreRefusedWithinBoundedMemory) {
    if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
    if (kEmulated) GTEST_SKIP() << "the emulator alone needs more address space than the limit";
    writeFile(dir_ / "huge.gr", "p sp 2000000000 2000000000\na 1 2 3\na 2 3 4\na 3 1 5\n");
    writeFile(dir_ / "big.gr", "p sp 10000000 1\na 1 2 3\n");
    writeFile(dir_ / "net4.gr", kNet4);
    runFed("echo huge.gr big.gr net4.gr -1", false, "ulimit -v 200000");
    EXPECT_EQ(status_, 0);
    std::istringstream lines(maskTimes(out_));
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line)) all.push_back(line);
    ASSERT_GE(all.size(), 4u) << out_;
    EXPECT_EQ(all[1], "failed. the problem line (line 1) declares 2000000000 arcs, but the file has 3");
    EXPECT_EQ(all[3].rfind("failed. a network of 10000000 nodes and 1 arcs needs about 554 MiB of memory, but only ", 0),
              0u)
        << all[3];
    EXPECT_NE(maskTimes(out_).find(kOpenedNet4), std::string::npos);  // and the next file still runs
}

TEST_F(ProgramRun, GarbageGivesOneFailedLineAndTheProgramGoesOn) {
    {
        std::ofstream noise(dir_ / "noise.bin", std::ios::binary);
        std::mt19937_64 engine(7);
        std::vector<uint64_t> block(1 << 16);
        for (int chunk = 0; chunk < 200; ++chunk) {  // 100 MiB
            for (uint64_t& x : block) x = engine();
            noise.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
        }
    }
    writeFile(dir_ / "comment.gr", "c" + std::string(50 << 20, 'x'));
    writeFile(dir_ / "digits.gr", "p sp 2 1 a 1 2 " + std::string(50 << 20, '7') + "\n");
    writeFile(dir_ / "nul.gr", std::string("p sp 3 1\na 1 2\0 5\n", 18));
    writeFile(dir_ / "net4.gr", kNet4);
    run("noise.bin comment.gr digits.gr nul.gr net4.gr -1\n");
    EXPECT_EQ(status_, 0);
    std::istringstream lines(maskTimes(out_));
    std::string line;
    std::vector<std::string> failures;
    while (std::getline(lines, line)) {
        if (line.rfind("failed. ", 0) == 0) failures.push_back(line);
    }
    ASSERT_EQ(failures.size(), 4u) << out_.substr(0, 2000);
    EXPECT_LT(failures[0].size(), 200u);
    EXPECT_EQ(failures[1], "failed. no problem line (p sp NODES ARCS) in the file");
    EXPECT_EQ(failures[2],
              "failed. line 1: length 777777777777777777777777... of an arc is outside the 32-bit signed range");
    EXPECT_EQ(failures[3], "failed. line 2: length '\\x00' of an arc is not a number");
    EXPECT_NE(maskTimes(out_).find(kOpenedNet4), std::string::npos);
    EXPECT_EQ(maskTimes(log()), "net4.gr     18     T     6     18\n");
}

}  // namespace
