// How spc_sweep divides a sweep: every source of every repetition runs once,
// in chunks of consecutive sources that rank 0 hands out as ranks ask.
//
// Chunks shrink toward the end (guided): each holds what is left of the run
// divided by four times the ranks, at most kLargestChunk sources and at
// least one, so that the ranks finish close together. (Four, not one as in
// OpenMP's guided schedule: every rank holds two chunks at a time, and with
// fewer the first chunks handed out were too large to even out; the
// simulation measured 0.81 of the ranks busy against 0.95 with four.) Chunks depend on the rank
// count, but what a checkpoint records does not: a run of sources of a
// repetition. A resumed run, on any number of ranks, hands out what no
// record covers.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct Chunk {
    int64_t id = 0;          // in the order this run handed it out, from 0
    int32_t repetition = 0;  // from 0
    int64_t first = 0;       // sources first..last
    int64_t last = 0;
    int64_t sources() const { return last - first + 1; }
};

// Guided: as above. Fixed blocks: the plan before it, blocks of
// clamp(ceil(n / 4096), 1, 64) sources whatever the ranks; kept for the
// simulation that compares the two.
enum class Handout { guided, fixed_blocks };

constexpr int64_t kLargestChunk = 64;
constexpr int kMostRepetitions = 1000000;

class SweepSchedule {
public:
    SweepSchedule(int64_t nodes, int repetitions, int ranks, Handout handout = Handout::guided);

    // Sources already run (read from a checkpoint), before the first next().
    // Returns an empty string, or what is wrong: out of range, or sources
    // recorded twice.
    std::string markDone(int32_t repetition, int64_t first, int64_t last);
    // The same for whole repetitions from..to.
    std::string markRepetitions(int32_t from, int32_t to);

    // The next chunk to hand out; false when everything is handed out.
    bool next(Chunk& chunk);

    int64_t nodes() const { return nodes_; }
    int repetitions() const { return repetitions_; }
    int64_t total() const { return nodes_ * repetitions_; }  // source runs of the whole run
    int64_t done() const { return done_; }                   // marked done
    int64_t left() const { return total() - done_ - handed_out_; }  // not yet handed out
    int64_t chunksHandedOut() const { return next_id_; }

private:
    bool enterNextRepetition();
    int64_t chunkSize() const;

    int64_t nodes_;
    int repetitions_;
    int ranks_;
    Handout handout_;
    int64_t done_ = 0;
    int64_t handed_out_ = 0;
    int64_t next_id_ = 0;
    // What was marked done: whole repetitions (first -> last), and runs of
    // sources of the others (repetition -> first -> last). Memory as the
    // records, whatever the repetitions.
    std::map<int32_t, int32_t> complete_;
    std::map<int32_t, std::map<int64_t, int64_t>> marked_;
    // The hand-out walks the repetitions in order: the one it is in, and the
    // stretches of it that no record covers, still to hand out.
    int32_t repetition_ = -1;
    std::deque<std::pair<int64_t, int64_t>> gaps_;
};

// Sources per block of the fixed-block plan.
int64_t fixedBlockSize(int64_t nodes);
