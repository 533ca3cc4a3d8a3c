// The sample networks: each made again by the generator, and its figures
// recomputed by methods that share nothing with the engine.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "program/program_engine.h"
#include "loader/network_loader.h"
#include "program/program_loader.h"
#include "state/program_state.h"
#include "test_support.h"

namespace {

const std::string kExamples = SPC_EXAMPLES_DIR;

struct Example {
    std::string file;
    std::string nodes;
    std::string arcs;
    std::string command;  // spc_gen's arguments; empty for a file written by hand
    std::string sum;
    std::string trivial;
    std::string nontrivial;
};

std::vector<Example> listedExamples() {
    std::vector<Example> examples;
    std::istringstream readme(readAllBytes(kExamples + "/README.md"));
    static const std::regex row(
        R"(^\| (\S+\.gr) \| (\d+) \| (\d+) \| (.*?) \| (-?\d+) \| (-?\d+) \| (-?\d+) \|$)");
    std::string line;
    std::smatch m;
    while (std::getline(readme, line)) {
        if (!std::regex_match(line, m, row)) continue;
        // "./build/spc_gen ARGS -o examples/FILE", run from the top folder.
        std::string command;
        const std::string listed = m[4].str(), prefix = "./build/spc_gen ", suffix = " -o examples/" + m[1].str();
        if (listed.rfind(prefix, 0) == 0) {
            EXPECT_EQ(listed.substr(listed.size() - suffix.size()), suffix) << listed;
            command = listed.substr(prefix.size(), listed.size() - prefix.size() - suffix.size());
        }
        examples.push_back({m[1], m[2], m[3], command, m[5], m[6], m[7]});
    }
    return examples;
}

// Shortest-path figures by Floyd–Warshall and a reachability search, for
// non-negative lengths.
struct Figures {
    int64_t sum = 0;
    int64_t trivial = 0;
    int64_t nontrivial = 0;
    bool negative = false;
};

Figures independentFigures(const std::string& text) {
    std::istringstream in(text);
    std::string word;
    int64_t n = 0, m = 0;
    std::vector<std::array<int64_t, 3>> arcs;
    while (in >> word) {
        if (word == "c") {
            std::getline(in, word);
        } else if (word == "p") {
            in >> word >> n >> m;
        } else if (word == "a") {
            std::array<int64_t, 3> a{};
            in >> a[0] >> a[1] >> a[2];
            arcs.push_back(a);
        }
    }
    Figures f;
    const int64_t inf = INT64_MAX / 4;
    std::vector<std::vector<int64_t>> dist(n, std::vector<int64_t>(n, inf));
    std::vector<std::vector<int64_t>> out(n);
    std::vector<int64_t> degree(n, 0);
    for (int64_t v = 0; v < n; ++v) dist[v][v] = 0;
    for (const auto& a : arcs) {
        f.negative |= a[2] < 0;
        dist[a[0] - 1][a[1] - 1] = std::min(dist[a[0] - 1][a[1] - 1], a[2]);
        out[a[0] - 1].push_back(a[1] - 1);
        ++degree[a[0] - 1];
    }
    for (int64_t k = 0; k < n; ++k)
        for (int64_t i = 0; i < n; ++i)
            for (int64_t j = 0; j < n; ++j)
                if (dist[i][k] < inf && dist[k][j] < inf) dist[i][j] = std::min(dist[i][j], dist[i][k] + dist[k][j]);
    for (int64_t s = 0; s < n; ++s) {
        std::vector<bool> seen(n, false);
        std::vector<int64_t> stack{s};
        seen[s] = true;
        while (!stack.empty()) {
            const int64_t u = stack.back();
            stack.pop_back();
            f.trivial += degree[u];
            for (int64_t v : out[u]) {
                if (seen[v]) continue;
                seen[v] = true;
                stack.push_back(v);
            }
        }
        for (int64_t v = 0; v < n; ++v)
            if (dist[s][v] < inf) f.sum += dist[s][v];
    }
    f.nontrivial = n * (n - 1) * (n - 2) - f.trivial;
    return f;
}

TEST(Examples, AreListedAndMadeAgainByteForByte) {
    const std::vector<Example> examples = listedExamples();
    ASSERT_GE(examples.size(), 8u);
    for (const Example& e : examples) {
        SCOPED_TRACE(e.file);
        std::istringstream text(readAllBytes(kExamples + "/" + e.file));
        for (std::string line; std::getline(text, line);) {
            if (line.rfind("p sp ", 0) == 0) {
                EXPECT_EQ(line, "p sp " + e.nodes + " " + e.arcs);
            }
        }
        if (e.command.empty()) continue;
        const std::string made = testing::TempDir() + "example_" + std::to_string(getpid()) + ".gr";
        ASSERT_EQ(std::system((std::string(SPC_GEN_PATH) + " " + e.command + " -o " + made).c_str()), 0);
        EXPECT_EQ(readAllBytes(made), readAllBytes(kExamples + "/" + e.file));
        std::remove(made.c_str());
    }
}

TEST(Examples, IndependentMethodsAgreeWithTheListedFigures) {
    for (const Example& e : listedExamples()) {
        SCOPED_TRACE(e.file);
        const Figures f = independentFigures(readAllBytes(kExamples + "/" + e.file));
        if (f.negative) continue;  // label-setting figures are not shortest paths there
        EXPECT_EQ(std::to_string(f.sum), e.sum);
        EXPECT_EQ(std::to_string(f.trivial), e.trivial);
        EXPECT_EQ(std::to_string(f.nontrivial), e.nontrivial);
    }
}

TEST(Examples, TheProgramReportsTheListedFigures) {
    const std::vector<Example> examples = listedExamples();
    char pattern[] = "/tmp/spc_examples_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = std::string(pattern) + "/";
    std::string input;
    for (const Example& e : examples) input += kExamples + "/" + e.file + "\n";
    std::ofstream(dir + "examples.in") << input << "-1\n";
    const std::string command = "cd " + dir + " && " + SPC_HEAP1_PATH + " < examples.in > examples.out";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string report = readAllBytes(dir + "examples.out");
    std::string expected;
    for (const Example& e : examples) {
        expected += "Sum of distances: " + e.sum + "|trivial_triple_comparisons: " + e.trivial +
                    "|nontrivial_triple_comparisons: " + e.nontrivial + "|";
    }
    std::string got;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("Sum of") != std::string::npos || line.find("triple_comparisons") != std::string::npos) {
            got += line + "|";
        }
    }
    EXPECT_EQ(got, expected);
    std::filesystem::remove_all(dir);
}

}  // namespace
