// The end of a network in spc_sweep, on rank 0, as one transaction safe to
// repeat after a crash or a failure at any step: with a checkpoint
// directory the figures are made durable first (the finished record, which
// holds every source's figures), the checkpoint gives way to it, and then
// each output is written and marked written. A rerun writes exactly the
// outputs still missing. Also what a run cut short says.
#pragma once

#include <cstdint>
#include <string>

#include "spc_sweep/checkpoint/checkpoint_file.h"
#include "spc_sweep/checkpoint/finished_record.h"
#include "options.h"
#include "outputs.h"
#include "spc_sweep/plan/chosen_sources.h"
#include "spc_sweep/plan/tally.h"

// Which network of the command: its name as given, and which occurrence of
// that name in the command (1 for the first).
struct NetworkItem {
    std::string name;
    int occurrence = 1;
};

// The tool's line after the four result lines.
struct SummaryFigures {
    int ranks = 1;
    int threads = 1;  // of all ranks
    std::string build;
    std::string method;  // the method phast's words, else empty
    std::string sources;  // chosen sources' words (chosenSourcesWords), else empty
    double wall_seconds = 0;
    double cpu_seconds = 0;
    int64_t chunks = 0;
    int repetitions = 4;
    int64_t resumed = 0;  // source runs
    int64_t diameter = 0;
    int64_t radius = -1;  // -1: no source reaches every node
};
std::string sweepSummaryLine(const SummaryFigures& s);

// The method phast's facts for the tool's line and the JSON record (the
// heap method has none). A PHAST time never goes into the run log, which
// holds the heap method's.
struct MethodFacts {
    bool phast = false;
    std::string words;  // "method phast, its hierarchy built in 12.5 s, 40 MiB"
    double hierarchy_seconds = -1;  // below 0: loaded from its file
    uint64_t hierarchy_bytes = 0;
};

// A complete sweep: writes the report (the four result lines and the tool's
// line, which names the ranks' build), the finished record in place of the
// checkpoint, then every output.
// Whatever fails is said on standard error, and what a rerun needs is kept.
// Returns whether everything was written.
// With chosen sources the figures are theirs: no run-log line (it is not the
// network's sweep), and the tool's line says which sources they are.
bool finishSweep(const NetworkItem& item, const SweepOptions& options, const SweepTally& tally,
                 CheckpointFile& checkpoint, const CheckpointHeader& header, const NetworkTotals& totals,
                 const std::string& build, const MethodFacts& method = {}, const ChosenSources& chosen = {});

// A network finished by an earlier run: writes the outputs its record has not
// served, then its report with a line that says so. Returns whether
// everything was written.
bool serveFinishedRecord(const NetworkItem& item, const SweepOptions& options, FinishedRecord& record,
                         const CheckpointHeader& header, const ChosenSources& chosen = {});

// What chosen sources' figures are, for the tool's line: "figures over a
// sample of 100 sources (seed 1), not all 5000 nodes; ..." with a sample's
// estimate of the whole network's sum of distances; empty for every node.
// The estimate also goes into `json`.
std::string chosenSourcesWords(const ChosenSources& chosen, int64_t nodes, const SweepTally& tally, JsonRecord* json);

// What a run cut short by a signal says on standard error.
void reportInterruption(const std::string& name, const SweepOptions& options, int signal, int64_t recorded,
                        int64_t total, const std::string& checkpoint_error);
