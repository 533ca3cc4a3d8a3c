// Runs of the built program in a fresh directory with scripted standard input.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;

namespace spc_test {

const std::string kPrompt = "Please input network filename (or -1 to exit) : ";
const std::string kNet4 = "p sp 4 4\na 1 2 5\na 1 3 2\na 3 2 7\na 3 4 1\n";
const std::string kNet4Report =
    "Sum of distances: 18\nRunning time of SP computation: T (ms)\n"
    "trivial_triple_comparisons: 6\nnontrivial_triple_comparisons: 18\n";

inline std::string readAll(const fs::path& path) { return readAllBytes(path.string()); }

inline void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// Times vary from run to run: they are replaced by T once checked to be one
// the report can write. A time is a multiple of 0.25 written with at most six
// significant digits: a whole number; below 10,000 a fraction .25, .5 or .75;
// below 100,000 one fraction digit 2, 5 or 8 (rounded, ties to even); from a
// million on, exponent notation.
const std::string kTimePattern =
    "(?:0|[1-9][0-9]{0,5}|(?:0|[1-9][0-9]{0,3})\\.(?:25|5|75)|[1-9][0-9]{4}\\.[258]|"
    "[1-9](?:\\.[0-9]{1,5})?e\\+(?:0[6-9]|[1-9][0-9]))";

inline std::string maskTimes(const std::string& text) {
    static const std::regex console("Running time of SP computation: " + kTimePattern + " \\(ms\\)\n");
    static const std::regex log("^(\\S+     -?[0-9]+     )" + kTimePattern + "(     -?[0-9]+     -?[0-9]+)$",
                                std::regex::multiline);
    std::string masked = std::regex_replace(text, console, "Running time of SP computation: T (ms)\n");
    return std::regex_replace(masked, log, "$1T$2");
}

inline bool canRunAsNobody() {
    return geteuid() != 0 || std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null") == 0;
}

// The indented blocks of the README's section `heading` (its ## line), in order.
inline std::vector<std::string> readmeBlocks(const std::string& heading) {
    std::istringstream readme(readAllBytes(std::string(SPC_SOURCE_DIR) + "/README.md"));
    std::vector<std::string> blocks;
    std::string line;
    bool inside = false;
    bool in_block = false;
    while (std::getline(readme, line)) {
        if (line.rfind("## ", 0) == 0) {
            inside = line == "## " + heading;
            in_block = false;
            continue;
        }
        if (!inside) continue;
        if (line.rfind("    ", 0) == 0) {
            if (!in_block) blocks.emplace_back();
            blocks.back() += line.substr(4) + "\n";
            in_block = true;
        } else if (!line.empty()) {
            in_block = false;
        }
    }
    return blocks;
}

class ProgramRun : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/spc_heap1_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::permissions(dir_, fs::perms::all);  // an unprivileged run must be able to write here
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the program in the test directory with `input` as standard input;
    // `as_nobody` drops root first.
    void run(const std::string& input, bool as_nobody = false) {
        writeFile(dir_ / ".stdin", input);
        fs::permissions(dir_ / ".stdin", fs::perms::all);
        runFed("cat .stdin", as_nobody);
    }

    // The same with standard input written by a shell command run beside the
    // program (as root), which may act between answers; `limits` are shell
    // commands run before the program, such as ulimit.
    void runFed(const std::string& feeder, bool as_nobody, const std::string& limits = "") {
        const std::string user =
            as_nobody && geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
        const std::string command = "cd '" + dir_.string() + "' && (" + feeder + ") | (" + limits +
                                    (limits.empty() ? "" : "; ") + user + "timeout 120 " + SPC_HEAP1_PATH +
                                    " > .stdout 2> .stderr)";
        const int raw = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(raw));
        status_ = WEXITSTATUS(raw);
        out_ = readAll(dir_ / ".stdout");
        err_ = readAll(dir_ / ".stderr");
    }
    std::string log() const { return readAll(dir_ / "spc_heap_output.txt"); }
    bool logExists() const { return fs::exists(dir_ / "spc_heap_output.txt"); }

    fs::path dir_;
    int status_ = -1;
    std::string out_;
    std::string err_;
};

}  // namespace spc_test
