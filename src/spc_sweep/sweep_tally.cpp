#include "sweep_tally.h"

#include <ctime>
#include <limits>

#include "engine/shortest_path.h"
#include "report/report.h"

namespace {

std::string describe(const SourceFigures& f) {
    return "sum " + formatInteger(f.sum) + ", " + std::to_string(f.scans) + " arc scans, " +
           std::to_string(f.reached) + " nodes reached, largest label " + std::to_string(f.largest);
}

std::string who(const ChunkRecord& r) {
    return r.rank < 0 ? "read from the checkpoint" : "run by rank " + std::to_string(r.rank);
}

}  // namespace

uint64_t threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

ChunkRecord runChunk(const Chunk& chunk, const std::function<bool()>& keep_going) {
    ChunkRecord record;
    record.chunk = chunk;
    record.sources.reserve(static_cast<size_t>(chunk.sources()));
    for (int64_t s = chunk.first; s <= chunk.last; ++s) {
        if (keep_going && !keep_going()) break;
        const int64_t scans_before = trivial_triple_comparisons;
        const uint64_t start = threadCpuNs();
        user_source_node = static_cast<int32_t>(s);
        heap();
        record.cpu_ns += threadCpuNs() - start;
        record.sources.push_back(
            {settled_count, settled_sum, largestLabelOfLastRun(), trivial_triple_comparisons - scans_before});
    }
    return record;
}

SweepTally::SweepTally(int64_t nodes)
    : nodes_(nodes),
      sum_(static_cast<size_t>(nodes), 0),
      largest_(static_cast<size_t>(nodes), 0),
      reached_(static_cast<size_t>(nodes), 0),
      scans_(static_cast<size_t>(nodes), 0) {}

SourceFigures SweepTally::figures(int64_t source) const {
    const size_t i = static_cast<size_t>(source - 1);
    const auto wide = wide_sums_.find(source);
    return {reached_[i], wide != wide_sums_.end() ? wide->second : int128{sum_[i]}, largest_[i], scans_[i]};
}

void SweepTally::store(int64_t source, const SourceFigures& f) {
    const size_t i = static_cast<size_t>(source - 1);
    reached_[i] = static_cast<uint32_t>(f.reached);
    scans_[i] = static_cast<uint32_t>(f.scans);
    largest_[i] = f.largest;
    if (f.sum >= std::numeric_limits<int64_t>::min() && f.sum <= std::numeric_limits<int64_t>::max()) {
        sum_[i] = static_cast<int64_t>(f.sum);
    } else {
        wide_sums_[source] = f.sum;
    }
}

std::string SweepTally::add(const ChunkRecord& r) {
    const Chunk& c = r.chunk;
    if (c.first < 1 || c.last > nodes_ || static_cast<int64_t>(r.sources.size()) != c.sources()) {
        return "a record of sources " + std::to_string(c.first) + ".." + std::to_string(c.last) + " holds " +
               std::to_string(r.sources.size()) + " sources' figures";
    }
    for (int64_t s = c.first; s <= c.last; ++s) {
        const SourceFigures& f = r.sources[static_cast<size_t>(s - c.first)];
        // Within what a run can give: a node count, an arc count of 32 bits.
        if (f.reached < 1 || f.reached > nodes_ || f.scans < 0 || f.scans > std::numeric_limits<int32_t>::max() ||
            f.largest < 0) {
            return "source " + std::to_string(s) + " " + who(r) + " has impossible figures (" + describe(f) + ")";
        }
        if (known(s) && !(figures(s) == f)) {
            return "the repetitions disagree on source " + std::to_string(s) + ": repetition " +
                   std::to_string(int64_t{c.repetition} + 1) + " (" + who(r) + ") gave " + describe(f) +
                   ", an earlier one gave " + describe(figures(s)) +
                   "; a machine may be at fault, so no figure is reported";
        }
    }
    for (int64_t s = c.first; s <= c.last; ++s) {
        if (!known(s)) store(s, r.sources[static_cast<size_t>(s - c.first)]);
    }
    cpu_ns_ += r.cpu_ns;
    return {};
}

int128 SweepTally::sum() const {
    int128 total = 0;
    for (int64_t x : sum_) total += x;
    for (const auto& [source, wide] : wide_sums_) total += wide;
    return total;
}

int64_t SweepTally::scans() const {
    int64_t total = 0;
    for (uint32_t x : scans_) total += x;
    return total;
}

int64_t SweepTally::diameter() const {
    int64_t largest = 0;
    for (int64_t x : largest_) largest = std::max(largest, x);
    return largest;
}

int64_t SweepTally::radius() const {
    int64_t smallest = -1;
    for (size_t i = 0; i < reached_.size(); ++i) {
        if (reached_[i] != nodes_) continue;
        if (smallest < 0 || largest_[i] < smallest) smallest = largest_[i];
    }
    return smallest;
}

float timePerSweepMs(uint64_t cpu_ns, int repetitions) {
    const uint64_t ms = cpu_ns / 1000000u;
    return static_cast<float>(ms) / static_cast<float>(repetitions);
}
