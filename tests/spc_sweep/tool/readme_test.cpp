// The README's figures of spc_sweep come from what the tool prints: its own
// line for the sample it names, the shapes of its progress, estimate and JSON
// lines, and the memory it states for the road network of the USA.
#include <regex>

#include "engine/arc_layout.h"
#include "program/program_engine.h"
#include "spc_sweep/tool/options.h"
#include "spc_sweep/tool/outputs.h"
#include "spc_sweep/tool/progress.h"
#include "spc_sweep/plan/tally.h"
#include "sweep_run.h"

using namespace spc_test;

namespace {

const char* const kSection = "Networks too big for one core";

// The README's block that starts with `start` in the section.
std::string blockStarting(const std::string& start) {
    for (const std::string& block : readmeBlocks(kSection)) {
        if (block.rfind(start, 0) == 0) return block;
    }
    return "";
}

// Times and the MPI library's name vary from run to run and build to build.
std::string maskRun(std::string line) {
    line = std::regex_replace(line, std::regex("rank, [0-9]+ threads? \\([^)]*\\)"), "rank, N threads (B)");
    return std::regex_replace(line, std::regex("[0-9]+\\.[0-9]+ s"), "T s");
}

TEST_F(SweepRun, TheReadmesToolLineIsWhatTheToolPrintsForTheSampleItNames) {
    const std::string shown = blockStarting("spc_sweep: 1 rank");
    ASSERT_FALSE(shown.empty());
    EXPECT_NE(readAllBytes(std::string(SPC_SOURCE_DIR) + "/README.md")
                  .find("here for `./build/spc_sweep examples/random-200-800.gr`"),
              std::string::npos);
    fs::copy_file(std::string(SPC_EXAMPLES_DIR) + "/random-200-800.gr", dir_ / "random-200-800.gr");
    sweep(1, "random-200-800.gr");
    ASSERT_EQ(status_, 0) << err_;
    EXPECT_EQ(maskRun(out_.substr(out_.find("spc_sweep: "))), maskRun(shown));
}

TEST(Readme, TheShapesOfTheToolsLinesAreTheToolsOwn) {
    // The progress line of a batch job.
    const std::string progress = blockStarting("spc_sweep: road.gr: ");
    const std::string made = RunProgress::batchLine("road.gr", 35712, 102400, 3130, 1651, 3065);
    EXPECT_EQ(std::regex_replace(progress, std::regex("[0-9]+"), "9"), std::regex_replace(made, std::regex("[0-9]+"), "9"));
    // The estimate's first line, which scripts read.
    const std::string estimate = blockStarting("spc_sweep: estimate: ");
    EXPECT_TRUE(std::regex_search(estimate, std::regex("^spc_sweep: estimate: [^:]+: processor time per sweep [0-9.]+ s "
                                                       "\\(19 times in 20 between [0-9.]+ and [0-9.]+ s\\), [0-9.]+ core-hours; 4 sweeps "
                                                       "[0-9.]+ s \\([0-9.]+ to [0-9.]+ s\\); from [0-9]+ sources' runs in "
                                                       "[0-9.]+ s\n(spc_sweep: estimate: [^:]+ \\(method phast\\): processor time per "
                                                       "sweep [0-9.]+ s [^\n]*\n  cheaper: the method (phast|heap), [0-9.]+ "
                                                       "times less processor time than the method (heap|phast) for 4 "
                                                       "sweeps\n)?  memory: at most ")))
        << estimate;
    // The JSON record: the same keys, in the same order.
    if (jsonRecordsBuilt()) {
        const auto keys = [](const std::string& json) {
            std::string all;
            const std::regex key("\"([a-z_]+)\":");
            for (auto it = std::sregex_iterator(json.begin(), json.end(), key); it != std::sregex_iterator(); ++it) {
                all += (*it)[1].str() + " ";
            }
            return all;
        };
        EXPECT_EQ(keys(blockStarting("{\"network\"")), keys(jsonText(JsonRecord{})));
    }
}

// The memory of the road network of the USA (23,947,347 nodes, 58,333,344
// arcs, every width 32 bits), as the README states it.
TEST(Readme, TheMemoryOfTheUsaRoadNetworkIsTheToolsOwnSum) {
    ArcLayout usa = layoutOf(23947347, 58333344, {32, 32, 32});
    usa.max_degree = 9;
    const double copy = static_cast<double>(usa.bytes) / 1e9;
    const double rank = static_cast<double>(engineOwnBytes(usa, EngineUse::figures)) / 1e9;
    const double rank_zero = 23947347.0 * SweepTally::kBytesPerSource / 1e9;
    char expected[400];
    std::snprintf(expected, sizeof expected,
                  "a copy\nof %.2f GB per machine and at most %.2f GB per thread; 32 threads on a machine\nneed at most %.1f GB, "
                  "128 threads %.1f GB (rank 0's machine %.1f GB",
                  copy, rank, copy + 32 * rank, copy + 128 * rank, rank_zero);
    const std::string readme = readAllBytes(std::string(SPC_SOURCE_DIR) + "/README.md");
    EXPECT_NE(readme.find(expected), std::string::npos) << expected;
    EXPECT_NE(readme.find("766 MB for the 24 million sources"), std::string::npos);
    EXPECT_EQ(static_cast<int64_t>(rank_zero * 1000 + 0.5), 766);
}

}  // namespace
