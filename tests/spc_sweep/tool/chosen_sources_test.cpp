// Chosen sources: a list's or a sample's figures are the whole sweep's rows
// of those sources on any ranks and threads, the sample the same everywhere;
// bad lists are said with their line, and the other networks go on.
#include <map>

#include "report/report.h"
#include "sweep_run.h"

namespace {

using namespace spc_test;

// The rows of a per-source file by source id.
std::map<int64_t, std::string> rowsOf(const std::string& text) {
    std::map<int64_t, std::string> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] != '#') rows[std::atoll(line.c_str())] = line;
    }
    return rows;
}

class ChosenSources : public SweepRun {
protected:
    void SetUp() override {
        SweepRun::SetUp();
        writeNetwork("big.gr", {"random", 400, 2000, 0, 60, 3});
        writeNetwork("small.gr", {"grid", 5, 1, 1, 1, 9});
        sweep(1, "--per-source full.tsv --log full.log big.gr");
        ASSERT_EQ(status_, 0) << err_;
        full_ = rowsOf(readAll(dir_ / "full.tsv"));
        ASSERT_EQ(full_.size(), 400u);
    }
    // The per-source file holds the whole sweep's rows of exactly these ids,
    // the four lines sum their figures, and the radius is theirs (the
    // network is strongly connected: every source reaches its 400 nodes).
    void expectRowsOf(const std::string& file, const std::vector<int64_t>& ids) {
        const std::map<int64_t, std::string> rows = rowsOf(readAll(dir_ / file));
        ASSERT_EQ(rows.size(), ids.size()) << file;
        int128 sum = 0;
        int64_t radius = -1;
        for (int64_t id : ids) {
            ASSERT_EQ(rows.count(id), 1u) << id;
            EXPECT_EQ(rows.at(id), full_.at(id));
            std::istringstream fields(rows.at(id));
            std::string source, reached, total, largest;
            fields >> source >> reached >> total >> largest;
            EXPECT_EQ(reached, "400");
            sum += std::stoll(total);
            radius = radius < 0 ? std::stoll(largest) : std::min<int64_t>(radius, std::stoll(largest));
        }
        EXPECT_NE(out_.find("Sum of distances: " + formatInteger(sum) + "\n"), std::string::npos) << out_;
        EXPECT_NE(out_.find("; radius " + std::to_string(radius) + "\n"), std::string::npos) << out_;
    }
    std::map<int64_t, std::string> full_;
};

TEST_F(ChosenSources, FiguresAreTheWholeSweepsRowsOnAnyRanksAndThreads) {
    writeFile(dir_ / "list.ss", "c five sources\np aux sp ss 5\ns 400\ns 3\ns 17\ns 250\ns 1\n");
    std::string first_sample;
    for (const auto& [ranks, threads] : std::vector<std::pair<int, int>>{{1, 1}, {1, 3}, {2, 2}, {3, 1}}) {
        if (ranks > 1 && !kOverMpi) continue;
        const std::string run = std::to_string(ranks) + "x" + std::to_string(threads);
        sweep(ranks, "--threads " + std::to_string(threads) + " --sources list.ss --per-source " + run + "-list.tsv big.gr");
        ASSERT_EQ(status_, 0) << err_;
        expectRowsOf(run + "-list.tsv", {1, 3, 17, 250, 400});
        EXPECT_NE(out_.find("; figures over 5 sources from the file list.ss, not all 400 nodes; "), std::string::npos)
            << out_;

        sweep(ranks, "--threads " + std::to_string(threads) + " --sample 60 --seed 4 --per-source " + run +
                         "-sample.tsv big.gr");
        ASSERT_EQ(status_, 0) << err_;
        const std::map<int64_t, std::string> rows = rowsOf(readAll(dir_ / (run + "-sample.tsv")));
        std::vector<int64_t> ids;
        for (const auto& row : rows) ids.push_back(row.first);
        ASSERT_EQ(ids.size(), 60u);
        expectRowsOf(run + "-sample.tsv", ids);
        EXPECT_NE(out_.find("figures over a sample of 60 sources (seed 4), not all 400 nodes; the sum of distances "
                            "over every source is estimated at "),
                  std::string::npos)
            << out_;
        // The same sample on every machine and every run.
        if (first_sample.empty()) first_sample = readAll(dir_ / (run + "-sample.tsv"));
        EXPECT_EQ(readAll(dir_ / (run + "-sample.tsv")), first_sample);
    }
    EXPECT_FALSE(fs::exists(dir_ / "spc_heap_output.txt"));  // no run-log line: not the network's sweep
    sweep(1, "--sample 60 --seed 5 --per-source other.tsv big.gr");
    EXPECT_NE(readAll(dir_ / "other.tsv"), first_sample);  // another seed, another sample
}

TEST_F(ChosenSources, BadListsAreSaidWithTheirLineAndTheOtherNetworksGoOn) {
    const struct {
        std::string list;   // the sources file, or the options when it starts with --
        std::string small;  // what is said of small.gr (5 nodes)
        bool big_swept;     // whether big.gr (400 nodes) is swept
    } cases[] = {
        {"1\n2\n300\n", "the sources file s.txt: line 3: node 300 is outside 1..5", true},
        {"1\n\n# x\nfive\n", "the sources file s.txt: line 4: 'five' is not a node id", false},
        {"4\n2\n4\n", "the sources file s.txt: line 3: node 4 is listed twice (first on line 1)", false},
        {"# no ids\n\n", "the sources file s.txt: lists no source", false},
        {"p aux sp ss 3\ns 1\ns 2\n", "the sources file s.txt: the problem line (line 1) declares 3 sources, but the file lists 2", false},
        {"s 1\n", "the sources file s.txt: line 1: a source line before the problem line 'p aux sp ss COUNT'", false},
        {"--sample 6", "a sample of 6 sources cannot be drawn from a network of 5 nodes", true},
        {"--sources none.txt", "the sources file none.txt: cannot be opened", false},
    };
    for (const auto& c : cases) {
        writeFile(dir_ / "s.txt", c.list);
        sweep(1, (c.list.rfind("--", 0) == 0 ? c.list : "--sources s.txt") + " small.gr big.gr");
        EXPECT_EQ(status_, 1) << c.list;
        EXPECT_NE(err_.find("spc_sweep: small.gr: " + c.small + "\n"), std::string::npos) << err_;
        EXPECT_EQ(out_.find("Sum of distances") != std::string::npos, c.big_swept) << c.list << out_ << err_;
    }
}

}  // namespace
