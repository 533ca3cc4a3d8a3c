#include "network_finish.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "report/report.h"
#include "sweep_network.h"
#include "sweep_outputs.h"
#include "sweep_progress.h"
#include "sweep_ranks.h"
#include "sweep_signals.h"

namespace {

std::string eccentricities(int64_t diameter, int64_t radius) {
    return "largest eccentricity " + std::to_string(diameter) + (radius >= 0 ? "; radius " + std::to_string(radius)
                                                                             : "; no source reaches every node");
}

std::string keptFor(const SweepOptions& o) {
    return o.checkpoint_dir.empty() ? "" : "; the checkpoint is kept, and the same command reports the network";
}

}  // namespace

std::string sweepSummaryLine(const SummaryFigures& s) {
    char line[640];
    std::snprintf(line, sizeof line,
                  "spc_sweep: %d rank%s (%s); wall-clock %s s; processor time in the runs %s s; %lld chunk%s, "
                  "%d repetition%s; %lld source run%s resumed from the checkpoint; %s\n",
                  s.ranks, s.ranks == 1 ? "" : "s", s.build.c_str(), plainSeconds(s.wall_seconds).c_str(),
                  plainSeconds(s.cpu_seconds).c_str(),
                  static_cast<long long>(s.chunks), s.chunks == 1 ? "" : "s", s.repetitions,
                  s.repetitions == 1 ? "" : "s", static_cast<long long>(s.resumed), s.resumed == 1 ? "" : "s",
                  eccentricities(s.diameter, s.radius).c_str());
    return line;
}

bool finishNetwork(const std::string& name, const SweepOptions& o, const SweepTally& tally,
                   CheckpointFile& checkpoint, const FinishedRun& run) {
    const int128 sum = tally.sum();
    const int64_t trivial = tally.scans();
    const int128 nontrivial = tripleCount(tally.nodes()) - trivial;
    const float time = timePerSweepMs(tally.cpuNs(), o.repetitions);
    const double cpu_seconds = static_cast<double>(tally.cpuNs()) / 1e9;
    const SummaryFigures summary{run.ranks,        ranksBuild(),     run.wall_seconds, cpu_seconds, run.chunks,
                                 o.repetitions,    run.resumed,      tally.diameter(), tally.radius()};
    errno = 0;
    if (!writeOut(resultLines(sum, time, trivial, nontrivial) + sweepSummaryLine(summary))) {
        complain(name, std::string("the figures cannot be written to standard output: ") +
                           std::strerror(errno != 0 ? errno : EIO) + "; nothing is logged" + keptFor(o));
        checkpoint.close();
        return false;
    }
    if (!o.per_source.empty()) {
        const std::string path = perSourcePath(o.per_source, name);
        const std::string error =
            writePerSourceFile(path, name, tally.nodes(), run.header.network.arcs, tally);
        if (!error.empty()) {
            complain(name, "the per-source file " + path + " cannot be written: " + error + "; nothing is logged" +
                               keptFor(o));
            checkpoint.close();
            return false;
        }
    }
    const std::string log_error = appendLine(o.log_file, runLogLine(name, sum, time, trivial, nontrivial));
    if (!log_error.empty()) {
        complain(name, "the run log " + o.log_file + " cannot be written: " + log_error + keptFor(o));
        checkpoint.close();
        return false;
    }
    bool ok = true;
    const std::string ended = isoTimeNow();
    if (!o.json_file.empty()) {
        const JsonRecord record{name,          sum,         time,           trivial,
                                nontrivial,    tally.diameter(), tally.radius(), run.ranks,
                                o.repetitions, run.wall_seconds, cpu_seconds,    run.resumed,
                                run.started,   ended,       hostName()};
        const std::string error = appendJsonRecord(o.json_file, record);
        if (!error.empty()) {
            complain(name, "the JSON record file " + o.json_file + " cannot be written: " + error);
            ok = false;
        }
    }
    if (o.checkpoint_dir.empty()) return ok;
    const FinishedRecord finished{sum,         trivial,     tally.cpuNs(),    run.wall_seconds, run.ranks,
                                  run.resumed, tally.diameter(), tally.radius(), ended};
    const std::string path = finishedPath(o.checkpoint_dir, run.header);
    const std::string error = writeFileSafely(path, finishedText(run.header, finished));
    if (!error.empty()) {
        complain(name, "the record of the finished network " + path + " cannot be written: " + error +
                           "; the checkpoint is kept");
        checkpoint.close();
        return false;
    }
    const std::string removed = checkpoint.remove();
    if (!removed.empty()) complain(name, "the finished checkpoint cannot be removed: " + removed);
    return ok;
}

bool reportFinishedRecord(const std::string& name, const SweepOptions& o, const CheckpointHeader& header,
                          bool& written) {
    const std::string path = finishedPath(o.checkpoint_dir, header);
    FinishedRecord r;
    const std::string why = readFinished(path, header, r);
    if (why == "absent") return false;
    if (!why.empty()) {
        complain(name, "the record of a finished run " + path + " is ignored (" + why + "); the network is swept");
        return false;
    }
    if (!o.per_source.empty() && !std::filesystem::exists(perSourcePath(o.per_source, name))) {
        complain(name, "a run that ended " + r.ended + " recorded its figures, but the per-source file " +
                           perSourcePath(o.per_source, name) + " is missing; the network is swept again");
        return false;
    }
    const float time = timePerSweepMs(r.cpu_ns, header.repetitions);
    char line[640];
    std::snprintf(line, sizeof line,
                  "spc_sweep: recorded by an earlier run on %d rank%s that ended %s (wall-clock %s s; processor "
                  "time in the runs %s s; %s); nothing was swept or logged now\n",
                  r.ranks, r.ranks == 1 ? "" : "s", r.ended.c_str(), plainSeconds(r.wall_seconds).c_str(),
                  plainSeconds(static_cast<double>(r.cpu_ns) / 1e9).c_str(), eccentricities(r.diameter, r.radius).c_str());
    errno = 0;
    written = writeOut(resultLines(r.sum, time, r.scans, tripleCount(header.network.nodes) - r.scans) + line);
    if (!written) {
        complain(name, std::string("the figures cannot be written to standard output: ") +
                           std::strerror(errno != 0 ? errno : EIO));
    }
    return true;
}

void reportInterruption(const std::string& name, const SweepOptions& o, int signal, int64_t recorded, int64_t total,
                        const std::string& checkpoint_error) {
    const std::string by = signal != 0 ? std::string(signalName(signal)) : "a signal to another rank";
    if (o.checkpoint_dir.empty()) {
        complain(name, "stopped by " + by + "; nothing was kept (no --checkpoint), so the same command starts it again");
        return;
    }
    std::string text = "stopped by " + by + ": " + std::to_string(recorded) + " of " + std::to_string(total) +
                       " source runs are recorded in the checkpoint, and the same command resumes them";
    if (!checkpoint_error.empty()) text += " (but its last records may be lost: " + checkpoint_error + ")";
    complain(name, text);
}
