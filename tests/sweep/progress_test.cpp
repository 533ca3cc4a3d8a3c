// The progress line of long sweeps: where it goes, when it first shows and
// how often it refreshes, and that it leaves nothing behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "program/program_engine.h"
#include "loader/network_loader.h"
#include "program/program_loader.h"
#include "report/report.h"
#include "report/progress_line.h"
#include "sweep/sweep.h"

namespace {

// What the progress lines of f() wrote, with the given delays.
template <typename F>
std::string shownBy(int first_after_ms, int refresh_ms, F f) {
    std::FILE* capture = std::tmpfile();
    EXPECT_NE(capture, nullptr);
    setProgressStream(capture, first_after_ms, refresh_ms);
    f();
    setProgressStream(nullptr);
    std::rewind(capture);
    std::string shown;
    for (int c; (c = std::fgetc(capture)) != EOF;) shown += static_cast<char>(c);
    std::fclose(capture);
    return shown;
}

size_t linesShown(const std::string& shown) {
    size_t lines = 0;
    for (size_t at = shown.find("\rsweeping: "); at != std::string::npos; at = shown.find("\rsweeping: ", at + 1)) {
        ++lines;
    }
    return lines;
}

TEST(Progress, ShowsTheShareDoneAndErasesTheLineAtTheEnd) {
    std::ifstream file(std::string(SPC_EXAMPLES_DIR) + "/random-200-800.gr");
    ASSERT_TRUE(loadNetwork(*file.rdbuf())) << load_error;
    SweepResult result{};
    const std::string shown = shownBy(0, 0, [&] { result = sweepAllSources(); });
    EXPECT_EQ(formatInteger(result.sum_of_distances), "580546680");  // progress changes nothing
    EXPECT_EQ(shown.rfind("\rsweeping: ", 0), 0u);
    EXPECT_GT(linesShown(shown), 10u);  // no refresh delay: every look at the clock
    EXPECT_NE(shown.find("100.0% of 4 repetitions"), std::string::npos);
    EXPECT_NE(shown.find(" elapsed, about "), std::string::npos);
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K");
}

TEST(Progress, WaitsForItsFirstDelayAndRefreshesAtItsPace) {
    // Within a minute nothing shows, and a line never shown is not erased.
    EXPECT_EQ(shownBy(60000, 0,
                      [] {
                          ProgressLine line;
                          for (int i = 1; i <= 100; ++i) line.update(i, 100);
                          line.end();
                      }),
              "");
    // Shown at once, then not again within a minute.
    const std::string once = shownBy(0, 60000, [] {
        ProgressLine line(3);
        for (int i = 1; i <= 100; ++i) line.update(i, 100);
        line.end();
    });
    EXPECT_EQ(linesShown(once), 1u);
    EXPECT_EQ(once.rfind("\rsweeping:   1.0% of 3 repetitions, 0m 00s elapsed, about ", 0), 0u) << once;
    EXPECT_EQ(once.substr(once.size() - 4), "\r\x1b[K");
    EXPECT_NE(shownBy(0, 60000, [] { ProgressLine(1).update(1, 2); }).find("of 1 repetition,"), std::string::npos);
}

// A resumed run's earlier work took no time here: the time left follows the
// pace of the work done since the line began.
TEST(Progress, TheTimeLeftCountsOnlyThisRunsPace) {
    // 100 runs in 1.1 s: 100 more take as long.
    EXPECT_EQ(ProgressLine::text(1.1, 900, 1000, 800, 1),
              "\rsweeping:  90.0% of 1 repetition, 0m 01s elapsed, about 0m 01s left\x1b[K");
    // Counting the resumed 800 too would promise a tenth of that.
    EXPECT_EQ(ProgressLine::text(600, 900, 1000, 800, 4),
              "\rsweeping:  90.0% of 4 repetitions, 10m 00s elapsed, about 10m 00s left\x1b[K");
    EXPECT_EQ(ProgressLine::text(600, 900, 1000, 0, 4).substr(53), "about 1m 07s left\x1b[K");
}

TEST(Progress, DurationsInMinutesThenHours) {
    EXPECT_EQ(ProgressLine::duration(0), "0m 00s");
    EXPECT_EQ(ProgressLine::duration(59.4), "0m 59s");
    EXPECT_EQ(ProgressLine::duration(3599.4), "59m 59s");
    EXPECT_EQ(ProgressLine::duration(3599.5), "1h 00m");
    EXPECT_EQ(ProgressLine::duration(7380), "2h 03m");
}

}  // namespace
