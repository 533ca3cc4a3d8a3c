#include "tally.h"

#include <limits>

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

SweepTally::SweepTally(int64_t nodes, int64_t network_nodes)
    : nodes_(nodes),
      network_nodes_(network_nodes > 0 ? network_nodes : nodes),
      sum_(static_cast<size_t>(nodes), 0),
      largest_(static_cast<size_t>(nodes), 0),
      reached_(static_cast<size_t>(nodes), 0),
      scans_(static_cast<size_t>(nodes), 0),
      harmonic_(static_cast<size_t>(nodes), -1) {}

SourceFigures SweepTally::figures(int64_t source) const {
    const size_t i = static_cast<size_t>(source - 1);
    const auto wide = wide_sums_.find(source);
    return {reached_[i], wide != wide_sums_.end() ? wide->second : int128{sum_[i]}, largest_[i], scans_[i],
            harmonic_[i]};
}

void SweepTally::store(int64_t source, const SourceFigures& f) {
    const size_t i = static_cast<size_t>(source - 1);
    ++known_;
    reached_[i] = static_cast<uint32_t>(f.reached);
    scans_[i] = static_cast<uint32_t>(f.scans);
    largest_[i] = f.largest;
    harmonic_[i] = f.harmonic;
    if (f.sum >= std::numeric_limits<int64_t>::min() && f.sum <= std::numeric_limits<int64_t>::max()) {
        sum_[i] = static_cast<int64_t>(f.sum);
    } else {
        wide_sums_[source] = f.sum;
    }
}

std::string SweepTally::add(const ChunkRecord& r) {
    const Chunk& c = r.chunk;
    if (c.first < 1 || c.last > nodes_ || c.last < c.first || static_cast<int64_t>(r.sources.size()) != c.sources()) {
        return "a record of sources " + std::to_string(c.first) + ".." + std::to_string(c.last) + " holds " +
               std::to_string(r.sources.size()) + " sources' figures";
    }
    const std::string refused = learn(c.first, r.sources,
                                      "repetition " + std::to_string(int64_t{c.repetition} + 1) + " (" + who(r) + ")");
    if (!refused.empty()) return refused;
    cpu_ns_ += r.cpu_ns;
    return {};
}

std::string SweepTally::learn(int64_t first, const std::vector<SourceFigures>& given, const std::string& from) {
    const int64_t last = first + static_cast<int64_t>(given.size()) - 1;
    if (first < 1 || last > nodes_) {
        return "figures of sources " + std::to_string(first) + ".." + std::to_string(last) + " of a network of " +
               std::to_string(nodes_) + " nodes";
    }
    for (int64_t s = first; s <= last; ++s) {
        const SourceFigures& f = given[static_cast<size_t>(s - first)];
        // Within what a run can give: a node count, an arc count of 32 bits.
        if (f.reached < 1 || f.reached > network_nodes_ || f.scans < 0 || f.scans > std::numeric_limits<int32_t>::max() ||
            f.largest < 0) {
            return "source " + std::to_string(s) + " of " + from + " has impossible figures (" + describe(f) + ")";
        }
        if (known(s) && !(figures(s) == f)) {
            return "the repetitions disagree on source " + std::to_string(s) + ": " + from + " gave " + describe(f) +
                   ", an earlier one gave " + describe(figures(s)) +
                   "; a machine may be at fault, so no figure is reported";
        }
    }
    for (int64_t s = first; s <= last; ++s) {
        if (!known(s)) store(s, given[static_cast<size_t>(s - first)]);
    }
    return {};
}

bool SweepTally::allKnown(int64_t first, int64_t last) const {
    if (first < 1 || last > nodes_) return false;
    for (int64_t s = first; s <= last; ++s) {
        if (!known(s)) return false;
    }
    return true;
}

std::vector<std::pair<int64_t, int64_t>> SweepTally::unknownStretches(int64_t first, int64_t last) const {
    std::vector<std::pair<int64_t, int64_t>> stretches;
    for (int64_t s = first; s <= last; ++s) {
        if (known(s)) continue;
        if (!stretches.empty() && stretches.back().second == s - 1) {
            stretches.back().second = s;
        } else {
            stretches.emplace_back(s, s);
        }
    }
    return stretches;
}

uint64_t SweepTally::checkOf(int64_t first, int64_t last) const {
    std::vector<SourceFigures> f;
    f.reserve(static_cast<size_t>(last - first + 1));
    for (int64_t s = first; s <= last; ++s) f.push_back(figures(s));
    return figuresCheck(f.data(), f.size());
}

uint64_t figuresCheck(const SourceFigures* figures, size_t count) {
    uint64_t hash = 14695981039346656037u;
    const auto add = [&hash](uint64_t value) {
        for (int i = 0; i < 8; ++i) {  // little-endian, whatever the machine
            hash ^= (value >> (8 * i)) & 0xff;
            hash *= 1099511628211u;
        }
    };
    for (size_t i = 0; i < count; ++i) {
        const auto sum = static_cast<uint128>(figures[i].sum);
        add(static_cast<uint64_t>(figures[i].reached));
        add(static_cast<uint64_t>(sum));
        add(static_cast<uint64_t>(sum >> 64));
        add(static_cast<uint64_t>(figures[i].largest));
        add(static_cast<uint64_t>(figures[i].scans));
    }
    return hash;
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
        if (reached_[i] != network_nodes_) continue;  // reaches every node of the network
        if (smallest < 0 || largest_[i] < smallest) smallest = largest_[i];
    }
    return smallest;
}

float timePerSweepMs(uint64_t cpu_ns, int repetitions) {
    const uint64_t ms = cpu_ns / 1000000u;
    return static_cast<float>(ms) / static_cast<float>(repetitions);
}
