// The end of a network in spc_sweep, on rank 0: the report and the outputs
// of a complete sweep, the record that keeps the same command from sweeping
// it again, and what a run cut short says.
#pragma once

#include <cstdint>
#include <string>

#include "checkpoint_file.h"
#include "sweep_options.h"
#include "sweep_tally.h"

struct FinishedRun {
    CheckpointHeader header;  // the network's fingerprint and the repetitions
    std::string started;      // ISO 8601, UTC
    double wall_seconds = 0;
    int ranks = 1;
    int64_t resumed = 0;  // source runs read from the checkpoint
    int64_t chunks = 0;   // handed out by this run
};

// Writes the four result lines and the tool's line, the per-source file, the
// run-log line and the JSON record; then, with a checkpoint, the finished
// record, and removes the checkpoint. Whatever fails is said on standard
// error, and what a rerun needs is kept. Returns whether everything was written.
bool finishNetwork(const std::string& name, const SweepOptions& options, const SweepTally& tally,
                   CheckpointFile& checkpoint, const FinishedRun& run);

// With a finished record of this network in the checkpoint directory: writes
// its figures, says they were recorded earlier, and returns true (nothing is
// swept or logged); `written` says whether standard output took them. A
// record that does not match is ignored with a note.
bool reportFinishedRecord(const std::string& name, const SweepOptions& options, const CheckpointHeader& header,
                          bool& written);

// What a run cut short by a signal says on standard error.
void reportInterruption(const std::string& name, const SweepOptions& options, int signal, int64_t recorded,
                        int64_t total, const std::string& checkpoint_error);
