// What spc_sweep keeps of every source: the figures of its run, checked
// across repetitions, and what they add up to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/integers.h"
#include "plan.h"

// The figures of one source's run.
struct SourceFigures {
    int64_t reached = 0;  // nodes the run reached, the source included
    int128 sum = 0;       // of their labels
    int64_t largest = 0;  // the largest of them: the source's eccentricity
    int64_t scans = 0;    // arcs examined
    // The sum of 1/d over the nodes reached at a distance d > 0 (the same
    // bits for every run of the source); below 0: not known (a checkpoint
    // of an earlier spc_sweep did not keep it).
    double harmonic = -1;
    bool harmonicKnown() const { return harmonic >= 0; }
    // The integer figures, and the harmonic sum where both know it.
    bool operator==(const SourceFigures& o) const {
        return reached == o.reached && sum == o.sum && largest == o.largest && scans == o.scans &&
               (!harmonicKnown() || !o.harmonicKnown() || harmonic == o.harmonic);
    }
};

// What a chunk gave. `rank` says who ran it (-1: read from a checkpoint).
struct ChunkRecord {
    Chunk chunk;
    uint64_t cpu_ns = 0;  // processor time of its single-source runs
    std::vector<SourceFigures> sources;
    int rank = -1;
};

// Every source's figures, gathered from records that may come in any order.
// Each source's first record sets them; every later repetition must give the
// same. 32 bytes a source (sums beyond 64 bits kept aside).
class SweepTally {
public:
    // Sources 1..sources of a network of `network_nodes` nodes (the same
    // when every node is a source; chosen sources are numbered 1..K).
    explicit SweepTally(int64_t sources, int64_t network_nodes = 0);

    // Adds a complete record's figures and its processor time. Returns an
    // empty string, or what disagrees (the record is then not added).
    std::string add(const ChunkRecord& record);

    // Takes the figures of sources first, first + 1, ... as recorded in a
    // checkpoint: sources not yet known get them, known ones must agree.
    // Returns an empty string or what disagrees (nothing is then taken).
    std::string learn(int64_t first, const std::vector<SourceFigures>& figures, const std::string& from);
    void addCpu(uint64_t ns) { cpu_ns_ += ns; }
    bool allKnown(int64_t first, int64_t last) const;
    // The stretches of first..last whose figures are not yet known.
    std::vector<std::pair<int64_t, int64_t>> unknownStretches(int64_t first, int64_t last) const;
    // The check value of the known figures of first..last (figuresCheck).
    uint64_t checkOf(int64_t first, int64_t last) const;
    // Sources whose figures are known.
    int64_t knownSources() const { return known_; }

    // Of a complete tally: the sum of distances and the arcs examined by one
    // sweep, the processor time of all runs added.
    int64_t nodes() const { return nodes_; }
    int128 sum() const;
    int64_t scans() const;
    uint64_t cpuNs() const { return cpu_ns_; }
    bool known(int64_t source) const { return reached_[static_cast<size_t>(source - 1)] != 0; }
    SourceFigures figures(int64_t source) const;

    // The largest eccentricity (the diameter among connected pairs), and the
    // smallest among sources that reach every node (the radius), -1 when no
    // source does.
    int64_t diameter() const;
    int64_t radius() const;

    // Bytes per source.
    static constexpr uint64_t kBytesPerSource = 32;

private:
    void store(int64_t source, const SourceFigures& f);
    int64_t nodes_;          // sources
    int64_t network_nodes_;  // what a run may reach
    std::vector<int64_t> sum_;
    std::vector<int64_t> largest_;
    std::vector<uint32_t> reached_;  // 0: not known yet
    std::vector<uint32_t> scans_;
    std::vector<double> harmonic_;
    std::unordered_map<int64_t, int128> wide_sums_;  // sums that do not fit 64 bits
    uint64_t cpu_ns_ = 0;
    int64_t known_ = 0;
};

// A check value of consecutive sources' figures: a 64-bit hash of every
// integer field (not the harmonic sum, which checkpoints of an earlier
// spc_sweep lack), the same on every machine. What a checkpoint keeps of a source's
// later repetitions instead of the figures.
uint64_t figuresCheck(const SourceFigures* figures, size_t count);

// Milliseconds per sweep from the processor time of all runs: whole
// milliseconds, divided by the repetitions in single precision (for four,
// the console program's times 0.25).
float timePerSweepMs(uint64_t cpu_ns, int repetitions);
