#include "progress_line.h"

#include <unistd.h>

namespace {

std::FILE* progress_stream = nullptr;
int progress_first_ms = 500;
int progress_refresh_ms = 250;

}  // namespace

void setProgressStream(std::FILE* stream, int first_after_ms, int refresh_ms) {
    progress_stream = stream;
    progress_first_ms = first_after_ms;
    progress_refresh_ms = refresh_ms;
}

ProgressLine::ProgressLine(int repetitions)
    : out_(progress_stream != nullptr ? progress_stream : (isatty(STDERR_FILENO) ? stderr : nullptr)),
      start_(Clock::now()),
      next_(start_ + std::chrono::milliseconds(progress_first_ms)),
      repetitions_(repetitions) {}

std::string ProgressLine::duration(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ldh %02ldm", s / 3600, s / 60 % 60);
    } else {
        std::snprintf(text, sizeof text, "%ldm %02lds", s / 60, s % 60);
    }
    return text;
}

std::string ProgressLine::text(double elapsed, int64_t done, int64_t total, int64_t done_before, int repetitions) {
    const double share = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1;
    const double pace = elapsed > 0 ? static_cast<double>(done - done_before) / elapsed : 0;  // per second
    const double left = pace > 0 ? static_cast<double>(total - done) / pace : 0;
    char line[160];
    std::snprintf(line, sizeof line, "\rsweeping: %5.1f%% of %d repetition%s, %s elapsed, about %s left\x1b[K",
                  100 * share, repetitions, repetitions == 1 ? "" : "s", duration(elapsed).c_str(),
                  duration(left).c_str());
    return line;
}

void ProgressLine::update(int64_t done, int64_t total, int64_t done_before) {
    const Clock::time_point now = Clock::now();
    if (out_ == nullptr || now < next_) return;
    next_ = now + std::chrono::milliseconds(progress_refresh_ms);
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::fputs(text(elapsed, done, total, done_before, repetitions_).c_str(), out_);
    std::fflush(out_);
    written_ = true;
}

void ProgressLine::end() {
    if (!written_) return;
    std::fputs("\r\x1b[K", out_);  // erase the line
    std::fflush(out_);
}
