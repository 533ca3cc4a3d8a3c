// The sources a study chooses instead of every node: the ids of a file (a
// shortest-path challenge's .ss problem file, or one id a line), or a sample
// of K nodes drawn without replacement, the same on every machine for the
// same seed. The sweep then runs positions 1..K of the list, in ascending
// order of id.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/integers.h"

struct ChosenSources {
    std::vector<int32_t> ids;  // ascending, distinct, in 1..nodes; empty: every node
    bool sample = false;
    uint64_t seed = 0;         // of a sample
    std::string file;          // of a list

    bool all() const { return ids.empty(); }
    // The node of position 1..count (every node: the position itself).
    int32_t node(int64_t position) const {
        return all() ? static_cast<int32_t>(position) : ids[static_cast<size_t>(position - 1)];
    }
    // A 64-bit FNV-1a hash of the ids: what a checkpoint's name and header
    // carry, so that it is resumed only for the same sources.
    uint64_t hash() const;
    // "100 sources from the file study.ss" or "a sample of 100 sources (seed 7)".
    std::string words() const;
};

// Reads the ids of a sources file for a network of `nodes` nodes: a .ss file
// (c comment lines, "p aux sp ss K", then "s ID" lines, K of them) or one id
// a line (blank lines and lines starting with # or c skipped). Returns an
// empty string, or what is wrong and on which line: an id that is no number
// or outside 1..nodes, an id listed twice, no id at all.
std::string readSourcesFile(const std::string& path, int64_t nodes, ChosenSources& chosen);

// K ids drawn without replacement from 1..nodes (Floyd's method over the
// 64-bit Mersenne Twister, whose output the C++ standard fixes, with ranges
// drawn by rejection): the same ids on every machine. An empty string, or
// why not (K above the nodes).
std::string drawSample(int64_t nodes, int64_t k, uint64_t seed, ChosenSources& chosen);

// A sample's estimate of the sum of distances over every source: the
// sample's mean times the nodes, with a 95 % interval (normal, with the
// finite-population correction). `known` is false for a sample of one.
struct SumEstimate {
    long double sum = 0;
    long double low = 0;
    long double high = 0;
    bool interval = false;
};
SumEstimate estimateWholeSum(const std::vector<int128>& sample_sums, int64_t nodes);
