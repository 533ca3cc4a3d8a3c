// What spc_sweep writes besides standard output: the run log, the
// per-source file, the JSON records; the checks that each can be written,
// made before a network is read; and the check, made before anything runs,
// that no output is an input or another output of the same command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "options.h"
#include "spc_sweep/plan/chosen_sources.h"
#include "spc_sweep/plan/tally.h"

// Whether a file can be appended to at path (made if absent: its directory
// must take new files). Changes nothing. Returns an empty string or why not.
std::string checkAppendable(const std::string& path);
// Whether a file can be put at path by renaming a new one into place: its
// directory takes a file of the temporary's name.
std::string checkReplaceable(const std::string& path);
// Makes the directory if absent; whether it takes new files of the
// checkpoint's longest names.
std::string checkDirectory(const std::string& dir);

// The outputs of the command against its inputs: no output may be one of
// the networks, or another output. Returns an empty string or what is wrong
// (bad usage).
std::string checkOutputsApart(const SweepOptions& options);

// The path as an absolute one, links and dots resolved as far as it exists.
std::string absolutePath(const std::string& path);

// The per-source file: header lines starting with #, then one line per
// source (the chosen ones, in ascending order of id): id, nodes reached, sum
// of distances, largest distance, and the sum of 1/d over the nodes reached
// at a distance d > 0 (17 significant digits), tab-separated. The same
// whatever the ranks, the repetitions and the resumes. Gives up on a
// signal. Sets the file's size and hash (hashFile's).
std::string writePerSourceFile(const std::string& path, const std::string& network, int64_t nodes, int64_t arcs,
                               const SweepTally& tally, const ChosenSources& chosen, uint64_t& size, uint64_t& hash);

// The moment now, ISO 8601 in UTC: 2026-12-08T20:01:50Z.
std::string isoTimeNow();
std::string hostName();

// One completed network's JSON record.
struct JsonRecord {
    std::string network;
    std::string method = "heap";
    // The method phast's hierarchy: seconds of its build (below 0: loaded
    // from its file, or not known) and its bytes (0: not known).
    double hierarchy_seconds = -1;
    uint64_t hierarchy_bytes = 0;
    int128 sum = 0;
    float time_per_sweep = 0;
    int64_t trivial = 0;
    int128 nontrivial = 0;
    int64_t diameter = 0;
    int64_t radius = -1;  // -1: no source reaches every node
    int ranks = 1;
    int threads = 1;
    int repetitions = 4;
    double wall_seconds = 0;
    double processor_seconds = 0;
    int64_t resumed = 0;
    std::string started;
    std::string ended;
    std::string host;
    // Chosen sources: their words ("a sample of 100 sources (seed 1)"), and
    // a sample's estimate of the whole network's sum; empty for every node.
    int64_t chosen_sources = 0;
    std::string sources;
    std::string estimated_sum, estimate_low, estimate_high;  // "" when none
};
// The record as one line of JSON, newline included.
std::string jsonText(const JsonRecord& record);
