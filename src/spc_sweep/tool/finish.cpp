#include "finish.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "spc_sweep/checkpoint/durable_files.h"
#include "report/report.h"
#include "outputs.h"
#include "say.h"
#include "spc_sweep/ranks/signals.h"

namespace {

// spc_heap1's count of nontrivial triple comparisons, (n-1)(n-2) a source
// less its arc scans, for the sources swept.
int128 nontrivialOf(const CheckpointHeader& header, int64_t scans) {
    const int64_t n = header.network.nodes;
    return static_cast<int128>(header.positions()) * (n - 1) * (n - 2) - scans;
}

std::string eccentricities(int64_t diameter, int64_t radius) {
    return "largest eccentricity " + std::to_string(diameter) + (radius >= 0 ? "; radius " + std::to_string(radius)
                                                                             : "; no source reaches every node");
}

// One network's outputs, written from its totals and (for a per-source file)
// its figures: from the tally of the sweep just done, or read from the record.
struct Serving {
    const NetworkItem& item;
    const SweepOptions& o;
    const CheckpointHeader& header;
    const NetworkTotals& totals;
    FinishedRecord* record;   // null without a checkpoint directory
    const SweepTally* tally;  // null: the record's figures
    MethodFacts method;
    const ChosenSources& chosen;
    std::vector<std::string> written_now;

    std::string kept() const {
        return record ? "; the finished record is kept, and the same command writes what is missing" : "";
    }
    float time() const { return timePerSweepMs(totals.cpu_ns, header.repetitions); }
    int128 nontrivial() const { return nontrivialOf(header, totals.scans); }
    bool failed(const std::string& why) const {
        complain(item.name, why);
        return false;
    }

    // A line appended to a file (the run log, the JSON records), once: a
    // begun line first records where the file ended, so that a rerun after a
    // crash finds whether the line got there.
    bool appendOnce(const OutputKey& key, const std::string& what, const std::string& path, const std::string& line) {
        uint64_t at = 0;
        if (record && record->served(key)) return true;
        if (!(record && record->begun(key, at) && fileHoldsAfter(path, at, line))) {
            if (record) {
                const int64_t size = fileSize(path);
                const std::string error = record->noteBegun(key, size < 0 ? 0 : static_cast<uint64_t>(size));
                if (!error.empty()) return failed(what + " is not written: the finished record cannot note it (" + error + ")");
            }
            const std::string error = appendToFile(path, line);
            if (!error.empty()) return failed(what + " cannot be written: " + error + kept());
            written_now.push_back(what);
        }
        const std::string error = record ? record->noteServed(key) : "";
        if (!error.empty()) return failed(what + " was written, but the finished record cannot note it (" + error + ")");
        return true;
    }

    bool perSource() {
        if (o.per_source.empty()) return true;
        const std::string path = perSourcePath(o.per_source, item.name);
        const OutputKey key{"per-source", absolutePath(path)};
        uint64_t size = 0, hash = 0, now_size = 0, now_hash = 0;
        if (record && record->served(key, &size, &hash)) {
            if (hashFile(path, now_size, now_hash) && now_size == size && now_hash == hash) return true;
            complain(item.name, "the per-source file " + path + " no longer holds this network's figures; it is written again");
        }
        SweepTally from_record(header.positions(), header.network.nodes);
        const SweepTally* figures = tally;
        if (figures == nullptr) {
            const std::string why = record->readFigures(from_record);
            if (!why.empty()) return failed("the per-source file " + path + " cannot be written: the finished record " + why);
            figures = &from_record;
        }
        const std::string error =
            writePerSourceFile(path, item.name, header.network.nodes, header.network.arcs, *figures, chosen, size, hash);
        if (!error.empty()) return failed("the per-source file " + path + " cannot be written: " + error + kept());
        const std::string noted = record ? record->noteServed(key, size, hash) : "";
        if (!noted.empty()) return failed("the per-source file " + path + " was written, but the finished record cannot note it (" + noted + ")");
        written_now.push_back("the per-source file " + path);
        return true;
    }

    bool runLog() {
        if (header.phast) return true;  // the run log holds the heap method's times alone
        if (!chosen.all()) return true;  // nor a sweep of some sources
        const OutputKey key{"log", absolutePath(o.log_file), item.name, item.occurrence};
        return appendOnce(key, "the run-log line", o.log_file,
                          runLogLine(item.name, totals.sum, time(), totals.scans, nontrivial()));
    }

    bool json() {
        if (o.json_file.empty()) return true;
        JsonRecord r{item.name,        header.phast ? "phast" : "heap",
                           method.hierarchy_seconds, method.hierarchy_bytes,
                           totals.sum,          time(),         totals.scans,    nontrivial(),
                           totals.diameter,  totals.radius,       totals.ranks,   totals.threads, header.repetitions,
                           totals.wall_seconds, static_cast<double>(totals.cpu_ns) / 1e9, totals.resumed,
                           totals.started,   totals.ended,        totals.host,      0, "", "", "", ""};
        if (!chosen.all()) {
            SweepTally from_record(header.positions(), header.network.nodes);
            const SweepTally* figures = tally;
            if (figures == nullptr && record->readFigures(from_record).empty()) figures = &from_record;
            if (figures != nullptr) chosenSourcesWords(chosen, header.network.nodes, *figures, &r);
        }
        const OutputKey key{"json", absolutePath(o.json_file), item.name, item.occurrence};
        return appendOnce(key, "the JSON record", o.json_file, jsonText(r));
    }

    // Every output, each tried whatever became of the others.
    bool all() {
        const bool per_source_ok = perSource();
        const bool log_ok = runLog();
        const bool json_ok = json();
        return per_source_ok && log_ok && json_ok;
    }
};

bool reportOut(const std::string& name, const std::string& text, const std::string& kept) {
    errno = 0;
    if (writeOut(text)) return true;
    complain(name, std::string("the figures cannot be written to standard output: ") +
                       std::strerror(errno != 0 ? errno : EIO) + kept);
    return false;
}

std::string wholeNumberText(long double x) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0Lf", x);
    return text;
}

}  // namespace

std::string chosenSourcesWords(const ChosenSources& chosen, int64_t nodes, const SweepTally& tally, JsonRecord* json) {
    if (chosen.all()) return {};
    std::string words = "figures over " + chosen.words() + ", not all " + std::to_string(nodes) + " nodes";
    if (json) {
        json->chosen_sources = static_cast<int64_t>(chosen.ids.size());
        json->sources = chosen.words();
    }
    if (!chosen.sample) return words;
    std::vector<int128> sums;
    sums.reserve(static_cast<size_t>(tally.nodes()));
    for (int64_t s = 1; s <= tally.nodes(); ++s) sums.push_back(tally.figures(s).sum);
    const SumEstimate e = estimateWholeSum(sums, nodes);
    words += "; the sum of distances over every source is estimated at " + wholeNumberText(e.sum);
    words += e.interval ? " (95 % interval " + wholeNumberText(e.low) + " to " + wholeNumberText(e.high) + ")"
                        : " (a sample of one source gives no interval)";
    if (json) {
        json->estimated_sum = wholeNumberText(e.sum);
        if (e.interval) {
            json->estimate_low = wholeNumberText(e.low);
            json->estimate_high = wholeNumberText(e.high);
        }
    }
    return words;
}

std::string sweepSummaryLine(const SummaryFigures& s) {
    char line[1024];
    std::snprintf(line, sizeof line,
                  "spc_sweep: %d rank%s, %d thread%s (%s)%s%s%s%s; wall-clock %s s; processor time in the runs %s s; %lld "
                  "chunk%s, %d repetition%s; %lld source run%s resumed from the checkpoint; %s\n",
                  s.ranks, s.ranks == 1 ? "" : "s", s.threads, s.threads == 1 ? "" : "s", s.build.c_str(),
                  s.method.empty() ? "" : "; ", s.method.c_str(), s.sources.empty() ? "" : "; ", s.sources.c_str(),
                  plainSeconds(s.wall_seconds).c_str(),
                  plainSeconds(s.cpu_seconds).c_str(),
                  static_cast<long long>(s.chunks), s.chunks == 1 ? "" : "s", s.repetitions,
                  s.repetitions == 1 ? "" : "s", static_cast<long long>(s.resumed), s.resumed == 1 ? "" : "s",
                  eccentricities(s.diameter, s.radius).c_str());
    return line;
}

bool finishSweep(const NetworkItem& item, const SweepOptions& o, const SweepTally& tally, CheckpointFile& checkpoint,
                 const CheckpointHeader& header, const NetworkTotals& t, const std::string& build,
                 const MethodFacts& method, const ChosenSources& chosen) {
    const std::string& name = item.name;
    const float time = timePerSweepMs(t.cpu_ns, header.repetitions);
    const SummaryFigures summary{t.ranks,    t.threads,      build,         method.words,
                                 chosenSourcesWords(chosen, header.network.nodes, tally, nullptr),
                                 t.wall_seconds, static_cast<double>(t.cpu_ns) / 1e9, t.chunks, header.repetitions,
                                 t.resumed,  t.diameter,     t.radius};
    const bool durable = !o.checkpoint_dir.empty();
    bool ok = reportOut(name,
                        resultLines(t.sum, time, t.scans, nontrivialOf(header, t.scans)) + sweepSummaryLine(summary),
                        durable ? "; the same command writes them again" : "");
    FinishedRecord record;
    if (durable) {
        const std::string path = finishedPath(o.checkpoint_dir, header);
        std::string error = FinishedRecord::create(path, header, tally, t);
        if (!error.empty()) {
            complain(name, "the record of the finished network " + path + " cannot be written: " + error +
                               "; nothing else is written, the checkpoint is kept, and the same command finishes the "
                               "network");
            checkpoint.closeKeeping();
            return false;
        }
        error = checkpoint.closeRemoving();
        if (!error.empty()) complain(name, "the finished checkpoint cannot be removed: " + error);
        std::string why;
        if (record.openRecord(path, header, why) != FinishedRecord::Read::ok) {
            complain(name, "the record of the finished network " + path + " cannot be opened again (" +
                               (why.empty() ? "in use by another run" : why) + "); nothing else is written now");
            return false;
        }
    }
    Serving serving{item, o, header, t, durable ? &record : nullptr, &tally, method, chosen, {}};
    return serving.all() && ok;
}

bool serveFinishedRecord(const NetworkItem& item, const SweepOptions& o, FinishedRecord& record,
                         const CheckpointHeader& header, const ChosenSources& chosen) {
    const NetworkTotals& t = record.totals();
    std::string now = "nothing was swept or logged now";
    bool ok = true;
    if (!record.earlier()) {
        Serving serving{item, o, header, t, &record, nullptr, {header.phast, "", -1, 0}, chosen, {}};
        ok = serving.all();
        now = "nothing was swept now";
        for (size_t i = 0; i < serving.written_now.size(); ++i) {
            now += (i == 0 ? "; written now: " : ", ") + serving.written_now[i];
        }
    }
    const float time = timePerSweepMs(t.cpu_ns, header.repetitions);
    std::string sources;
    if (!chosen.all()) {
        SweepTally figures(header.positions(), header.network.nodes);
        sources = "; " + (record.readFigures(figures).empty()
                              ? chosenSourcesWords(chosen, header.network.nodes, figures, nullptr)
                              : "figures over " + chosen.words());
    }
    char line[1536];
    std::snprintf(line, sizeof line,
                  "spc_sweep: recorded by an earlier run%s on %d rank%s, %d thread%s that ended %s (wall-clock %s s; "
                  "processor time in the runs %s s; %s)%s; %s\n",
                  header.phast ? " of the method phast" : "", t.ranks, t.ranks == 1 ? "" : "s", t.threads, t.threads == 1 ? "" : "s", t.ended.c_str(),
                  plainSeconds(t.wall_seconds).c_str(),
                  plainSeconds(static_cast<double>(t.cpu_ns) / 1e9).c_str(), eccentricities(t.diameter, t.radius).c_str(),
                  sources.c_str(), now.c_str());
    const std::string report =
        resultLines(t.sum, time, t.scans, nontrivialOf(header, t.scans)) + line;
    return reportOut(item.name, report, "") && ok;
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
