#include "sweep_plan.h"

#include <algorithm>

int64_t fixedBlockSize(int64_t nodes) { return std::clamp<int64_t>((nodes + 4095) / 4096, 1, 64); }

SweepSchedule::SweepSchedule(int64_t nodes, int repetitions, int ranks, Handout handout)
    : nodes_(std::max<int64_t>(nodes, 0)),
      repetitions_(std::max(repetitions, 0)),
      ranks_(std::max(ranks, 1)),
      handout_(handout) {}

std::string SweepSchedule::markDone(int32_t repetition, int64_t first, int64_t last) {
    if (repetition < 0 || repetition >= repetitions_ || first < 1 || last < first || last > nodes_) {
        return "sources " + std::to_string(first) + ".." + std::to_string(last) + " of repetition " +
               std::to_string(int64_t{repetition} + 1) + " are out of range";
    }
    std::map<int64_t, int64_t>& done = marked_[repetition];
    // The stretch that starts at or before `first`, and the one after it.
    auto after = done.upper_bound(first);
    const bool overlaps_before = after != done.begin() && std::prev(after)->second >= first;
    const bool overlaps_after = after != done.end() && after->first <= last;
    if (overlaps_before || overlaps_after) {
        return "sources of " + std::to_string(first) + ".." + std::to_string(last) + " in repetition " +
               std::to_string(int64_t{repetition} + 1) + " are recorded twice";
    }
    done.emplace(first, last);
    done_ += last - first + 1;
    return {};
}

void SweepSchedule::gatherStretches() {
    started_ = true;
    int32_t last_marked = -1;
    for (const auto& [repetition, done] : marked_) {
        // Whole repetitions before this one that hold no record.
        for (int32_t r = last_marked + 1; r < repetition; ++r) stretches_.push_back({r, 1, nodes_});
        int64_t from = 1;
        for (const auto& [first, last] : done) {
            if (first > from) stretches_.push_back({repetition, from, first - 1});
            from = last + 1;
        }
        if (from <= nodes_) stretches_.push_back({repetition, from, nodes_});
        last_marked = repetition;
    }
    marked_.clear();
    untouched_ = last_marked + 1;
    untouched_next_ = 1;
}

int64_t SweepSchedule::chunkSize() const {
    if (handout_ == Handout::fixed_blocks) return fixedBlockSize(nodes_);
    const int64_t share = 4 * int64_t{ranks_};
    return std::clamp<int64_t>((left() + share - 1) / share, 1, kLargestChunk);
}

bool SweepSchedule::next(Chunk& chunk) {
    if (!started_) gatherStretches();
    if (left() <= 0 || nodes_ < 1) return false;
    const int64_t size = chunkSize();
    if (!stretches_.empty()) {
        Stretch& s = stretches_.front();
        chunk.repetition = s.repetition;
        chunk.first = s.first;
        chunk.last = std::min(s.last, s.first + size - 1);
        s.first = chunk.last + 1;
        if (s.first > s.last) stretches_.pop_front();
    } else {
        chunk.repetition = untouched_;
        chunk.first = untouched_next_;
        chunk.last = std::min(nodes_, untouched_next_ + size - 1);
        untouched_next_ = chunk.last + 1;
        if (untouched_next_ > nodes_) {
            ++untouched_;
            untouched_next_ = 1;
        }
    }
    chunk.id = next_id_++;
    handed_out_ += chunk.sources();
    return true;
}
