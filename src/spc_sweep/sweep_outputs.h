// What spc_sweep writes besides standard output: the run log, the
// per-source file, the JSON records; and the checks that each can be
// written, made before a network is read.
#pragma once

#include <cstdint>
#include <string>

#include "sweep_tally.h"

// Appends the line to the file with one write. Returns an empty string or the error.
std::string appendLine(const std::string& path, const std::string& line);

// Whether a file can be appended to at path (made if absent: its directory
// must take new files). Changes nothing. Returns an empty string or why not.
std::string checkAppendable(const std::string& path);
// Whether a file can be put at path by renaming a new one into place.
std::string checkReplaceable(const std::string& path);
// Makes the directory if absent; whether it takes new files.
std::string checkDirectory(const std::string& dir);

// The per-source file: header lines starting with #, then one line per
// source: id, nodes reached, sum of distances, largest distance, tab-separated.
// The same whatever the ranks, the repetitions and the resumes.
std::string writePerSourceFile(const std::string& path, const std::string& network, int64_t nodes, int64_t arcs,
                               const SweepTally& tally);

// The moment now, ISO 8601 in UTC: 2026-12-08T20:01:50Z.
std::string isoTimeNow();
std::string hostName();

// One completed network's JSON record.
struct JsonRecord {
    std::string network;
    int128 sum = 0;
    float time_per_sweep = 0;
    int64_t trivial = 0;
    int128 nontrivial = 0;
    int64_t diameter = 0;
    int64_t radius = -1;  // -1: no source reaches every node
    int ranks = 1;
    int repetitions = 4;
    double wall_seconds = 0;
    double processor_seconds = 0;
    int64_t resumed = 0;
    std::string started;
    std::string ended;
    std::string host;
};
// Appends the record as one line of JSON. Returns an empty string or the error.
std::string appendJsonRecord(const std::string& path, const JsonRecord& record);
std::string jsonText(const JsonRecord& record);
