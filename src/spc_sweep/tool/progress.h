// What rank 0 shows of a run while it goes, on standard error: the
// self-updating line on a terminal; otherwise, for batch jobs, a line every
// so often (--progress).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "report/progress_line.h"

class RunProgress {
public:
    // total and resumed count source runs; every_seconds: 0 for no lines.
    RunProgress(const std::string& name, int repetitions, int64_t total, int64_t resumed, double every_seconds);
    // done: source runs done, the resumed ones included; cpu_ns: their processor time.
    void update(int64_t done, uint64_t cpu_ns);
    void end();

    // The batch line: "spc_sweep: NAME: D of T source runs done (P%), ..."
    static std::string batchLine(const std::string& name, int64_t done, int64_t total, double cpu_seconds,
                                 double wall_seconds, double left_seconds);

private:
    std::string name_;
    int64_t total_;
    int64_t resumed_;
    ProgressLine line_;
    bool batch_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point next_;
    std::chrono::duration<double> every_;
};
