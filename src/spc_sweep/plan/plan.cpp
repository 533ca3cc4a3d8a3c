#include "plan.h"

#include <algorithm>
#include <iterator>

int64_t fixedBlockSize(int64_t nodes) { return std::clamp<int64_t>((nodes + 4095) / 4096, 1, 64); }

SweepSchedule::SweepSchedule(int64_t nodes, int repetitions, int ranks, Handout handout)
    : nodes_(std::max<int64_t>(nodes, 0)),
      repetitions_(std::max(repetitions, 0)),
      ranks_(std::max(ranks, 1)),
      handout_(handout) {}

namespace {

std::string outOfRange(int32_t repetition, int64_t first, int64_t last) {
    return "sources " + std::to_string(first) + ".." + std::to_string(last) + " of repetition " +
           std::to_string(int64_t{repetition} + 1) + " are out of range";
}

std::string twice(const std::string& what) { return what + " are recorded twice"; }

}  // namespace

std::string SweepSchedule::markDone(int32_t repetition, int64_t first, int64_t last) {
    if (repetition < 0 || repetition >= repetitions_ || first < 1 || last < first || last > nodes_) {
        return outOfRange(repetition, first, last);
    }
    const std::string what = "sources of " + std::to_string(first) + ".." + std::to_string(last) + " in repetition " +
                             std::to_string(int64_t{repetition} + 1);
    const auto whole = complete_.upper_bound(repetition);
    if (whole != complete_.begin() && std::prev(whole)->second >= repetition) return twice(what);
    std::map<int64_t, int64_t>& done = marked_[repetition];
    // The stretch that starts at or before `first`, and the one after it.
    auto after = done.upper_bound(first);
    const bool overlaps_before = after != done.begin() && std::prev(after)->second >= first;
    const bool overlaps_after = after != done.end() && after->first <= last;
    if (overlaps_before || overlaps_after) return twice(what);
    done.emplace(first, last);
    done_ += last - first + 1;
    return {};
}

std::string SweepSchedule::markRepetitions(int32_t from, int32_t to) {
    if (from < 0 || to < from || to >= repetitions_) {
        return "repetitions " + std::to_string(int64_t{from} + 1) + ".." + std::to_string(int64_t{to} + 1) +
               " are out of range";
    }
    const std::string what = "repetitions " + std::to_string(int64_t{from} + 1) + ".." + std::to_string(int64_t{to} + 1);
    auto after = complete_.upper_bound(from);
    if ((after != complete_.begin() && std::prev(after)->second >= from) ||
        (after != complete_.end() && after->first <= to)) {
        return twice(what);
    }
    const auto partial = marked_.lower_bound(from);
    if (partial != marked_.end() && partial->first <= to && !partial->second.empty()) return twice(what);
    complete_.emplace(from, to);
    done_ += (int64_t{to} - from + 1) * nodes_;
    return {};
}

// Moves the hand-out to the next repetition not complete, with the
// stretches of it that no record covers. False past the last repetition.
bool SweepSchedule::enterNextRepetition() {
    int32_t r = repetition_ + 1;
    const auto whole = complete_.upper_bound(r);
    if (whole != complete_.begin() && std::prev(whole)->second >= r) r = std::prev(whole)->second + 1;
    if (r >= repetitions_) return false;
    repetition_ = r;
    int64_t from = 1;
    const auto marks = marked_.find(r);
    if (marks != marked_.end()) {
        for (const auto& [first, last] : marks->second) {
            if (first > from) gaps_.emplace_back(from, first - 1);
            from = last + 1;
        }
        marked_.erase(marks);  // not needed once handed out
    }
    if (from <= nodes_) gaps_.emplace_back(from, nodes_);
    return true;
}

int64_t SweepSchedule::chunkSize() const {
    if (handout_ == Handout::fixed_blocks) return fixedBlockSize(nodes_);
    const int64_t share = 4 * int64_t{ranks_};
    return std::clamp<int64_t>((left() + share - 1) / share, 1, kLargestChunk);
}

bool SweepSchedule::next(Chunk& chunk) {
    if (left() <= 0 || nodes_ < 1) return false;
    while (gaps_.empty()) {
        if (!enterNextRepetition()) return false;
    }
    const int64_t size = chunkSize();
    auto& [first, last] = gaps_.front();
    chunk.repetition = repetition_;
    chunk.first = first;
    chunk.last = std::min(last, first + size - 1);
    first = chunk.last + 1;
    if (first > last) gaps_.pop_front();
    chunk.id = next_id_++;
    handed_out_ += chunk.sources();
    return true;
}
