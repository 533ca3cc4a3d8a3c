#include "progress.h"

#include <unistd.h>

#include <cstdio>

RunProgress::RunProgress(const std::string& name, int repetitions, int64_t total, int64_t resumed,
                         double every_seconds)
    : name_(name),
      total_(total),
      resumed_(resumed),
      line_(repetitions),
      batch_(!line_.active() && every_seconds > 0),
      start_(std::chrono::steady_clock::now()),
      next_(start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(every_seconds))),
      every_(every_seconds) {}

std::string RunProgress::batchLine(const std::string& name, int64_t done, int64_t total, double cpu_seconds,
                                   double wall_seconds, double left_seconds) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "spc_sweep: %s: %lld of %lld source runs done (%.1f%%), processor time %s, wall-clock %s, "
                  "about %s left\n",
                  name.c_str(), static_cast<long long>(done), static_cast<long long>(total),
                  total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0,
                  ProgressLine::duration(cpu_seconds).c_str(), ProgressLine::duration(wall_seconds).c_str(),
                  ProgressLine::duration(left_seconds).c_str());
    return text;
}

void RunProgress::update(int64_t done, uint64_t cpu_ns) {
    if (line_.active()) {
        line_.update(done, total_, resumed_);
        return;
    }
    if (!batch_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return;
    next_ = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(every_);
    const double wall = std::chrono::duration<double>(now - start_).count();
    const double pace = wall > 0 ? static_cast<double>(done - resumed_) / wall : 0;
    const double left = pace > 0 ? static_cast<double>(total_ - done) / pace : 0;
    std::fflush(stdout);
    std::fputs(batchLine(name_, done, total_, static_cast<double>(cpu_ns) / 1e9, wall, left).c_str(), stderr);
    std::fflush(stderr);
}

void RunProgress::end() { line_.end(); }
