// The self-updating progress line of a long sweep, on standard error when
// that is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

// Where sweeps show their progress line. By default (nullptr) a sweep shows it
// on standard error when that is a terminal, and nowhere otherwise; tests name
// a stream and shorter delays.
void setProgressStream(std::FILE* stream, int first_after_ms = 500, int refresh_ms = 250);

struct ProgressLine {
    // Starts the clock; active() tells whether the line has anywhere to go.
    explicit ProgressLine(int repetitions = 4);
    bool active() const { return out_ != nullptr; }
    // Shows the share done of total when the refresh time has come; the time
    // left counts the pace since the line began, of the work done since
    // (done - done_before: a resumed run's earlier work took no time here).
    void update(int64_t done, int64_t total, int64_t done_before = 0);
    // Erases the line if it was ever written.
    void end();

    // "4m 05s", or "2h 03m" from an hour on.
    static std::string duration(double seconds);
    // The line's text after `elapsed` seconds.
    static std::string text(double elapsed, int64_t done, int64_t total, int64_t done_before, int repetitions);

    using Clock = std::chrono::steady_clock;
    std::FILE* out_ = nullptr;
    Clock::time_point start_;
    Clock::time_point next_;
    bool written_ = false;
    int repetitions_;
};
