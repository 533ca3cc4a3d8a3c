#include "sweep_checkpoint.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>

#include "report/report.h"

namespace {

struct Fnv {
    uint64_t hash = 14695981039346656037u;
    void add(uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {  // little-endian, whatever the machine
            hash ^= (value >> (8 * i)) & 0xff;
            hash *= 1099511628211u;
        }
    }
};

std::string hex(uint64_t value, int digits) {
    char text[17];
    std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string headerBody(const CheckpointHeader& h) {
    return "spc_sweep checkpoint 2 nodes " + std::to_string(h.network.nodes) + " arcs " +
           std::to_string(h.network.arcs) + " hash " + hex(h.network.hash, 16) + " repetitions " +
           std::to_string(h.repetitions);
}

std::string namePrefix(const std::string& dir, const CheckpointHeader& h) {
    return dir + "/spc_sweep-n" + std::to_string(h.network.nodes) + "-m" + std::to_string(h.network.arcs) + "-" +
           hex(h.network.hash, 16) + "-r" + std::to_string(h.repetitions);
}

// A decimal integer in lo..hi, nothing else.
bool parseInt(const std::string& text, int128 lo, int128 hi, int128& out) {
    size_t i = text.size() > 1 && text[0] == '-' ? 1 : 0;
    if (i == text.size() || text.size() - i > 39) return false;
    int128 value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');  // 39 digits stay below 2^127
    }
    out = text[0] == '-' ? -value : value;
    return out >= lo && out <= hi;
}

template <typename T>
bool take(std::istringstream& in, int128 lo, int128 hi, T& out) {
    std::string word;
    int128 value = 0;
    if (!(in >> word) || !parseInt(word, lo, hi, value)) return false;
    out = static_cast<T>(value);
    return true;
}

bool takeWord(std::istringstream& in, const char* expected) {
    std::string word;
    return in >> word && word == expected;
}

constexpr int128 kLongestTime = int128{1} << 62;       // ns: about 146 years
constexpr int128 kLargestLabel = int128{1} << 62;      // a walk of 2^31 arcs of 2^31
constexpr int128 kLargestSum = kLargestLabel << 31;    // 2^31 nodes of that

// "run REP FIRST LAST ns T sources ..." into a record, every value within
// what a run of this network can give.
bool parseRecordBody(const std::string& body, const CheckpointHeader& h, ChunkRecord& r) {
    std::istringstream in(body);
    const int128 n = h.network.nodes;
    int32_t repetition = 0;
    if (!takeWord(in, "run") || !take(in, 1, h.repetitions, repetition) || !take(in, 1, n, r.chunk.first) ||
        !take(in, r.chunk.first, std::min<int128>(n, r.chunk.first + kLargestChunk - 1), r.chunk.last) ||
        !takeWord(in, "ns") || !take(in, 0, kLongestTime, r.cpu_ns) || !takeWord(in, "sources")) {
        return false;
    }
    r.chunk.repetition = repetition - 1;
    r.sources.assign(static_cast<size_t>(r.chunk.sources()), {});
    for (SourceFigures& f : r.sources) {
        if (!take(in, 1, n, f.reached) || !take(in, -kLargestSum, kLargestSum, f.sum) ||
            !take(in, 0, kLargestLabel, f.largest) || !take(in, 0, h.network.arcs, f.scans)) {
            return false;
        }
        if (f.reached == 1 && (f.sum != 0 || f.largest != 0)) return false;  // the source alone: label 0
    }
    std::string rest;
    r.rank = -1;
    return !(in >> rest);
}

// What a header names, for the message that refuses it.
std::string headerSays(const std::string& body) {
    std::istringstream in(body);
    std::string word, said;
    while (in >> word) {
        if (word == "nodes" || word == "arcs" || word == "repetitions") {
            std::string value;
            in >> value;
            said += (said.empty() ? "" : ", ") + word + " " + value;
        }
    }
    return said.empty() ? "no header of spc_sweep" : said;
}

// The lines of a file read in pieces: each with where it starts, whether a
// newline ended it and whether it was longer than kLongestLine (then only
// its start is kept).
class LineReader {
public:
    explicit LineReader(const ReadAt& read) : read_(read) {}
    bool next(std::string& line, uint64_t& at, bool& ended, bool& too_long) {
        line.clear();
        at = offset_;
        too_long = false;
        for (;;) {
            if (pos_ == len_ && !refill()) {
                ended = false;
                return !line.empty() || too_long;
            }
            const char* start = buffer_.data() + pos_;
            const void* newline = std::memchr(start, '\n', len_ - pos_);
            const size_t piece = newline ? static_cast<size_t>(static_cast<const char*>(newline) - start) : len_ - pos_;
            if (line.size() + piece > kLongestLine) {
                too_long = true;
            } else {
                line.append(start, piece);
            }
            pos_ += piece;
            offset_ += piece;
            if (newline) {
                ++pos_;
                ++offset_;
                ended = true;
                return true;
            }
        }
    }
    bool failed() const { return failed_; }

private:
    bool refill() {
        const int64_t got = read_(file_offset_, buffer_.data(), buffer_.size());
        if (got < 0) failed_ = true;
        pos_ = 0;
        len_ = got > 0 ? static_cast<size_t>(got) : 0;
        file_offset_ += len_;
        return len_ > 0;
    }
    const ReadAt& read_;
    std::array<char, 65536> buffer_{};
    size_t pos_ = 0, len_ = 0;
    uint64_t file_offset_ = 0, offset_ = 0;
    bool failed_ = false;
};

bool isMarkAt(const std::string& body, uint64_t at) { return body == "synced " + std::to_string(at); }

// Where the last mark ends: everything before it was on the disk.
uint64_t lastMarkEnd(const ReadAt& read) {
    LineReader lines(read);
    std::string line, body;
    uint64_t at = 0, end = 0;
    bool ended = false, too_long = false;
    while (lines.next(line, at, ended, too_long)) {
        if (ended && !too_long && line.compare(0, 7, "synced ") == 0 && checkedBody(line, body) &&
            isMarkAt(body, at)) {
            end = at + line.size() + 1;
        }
    }
    return end;
}

}  // namespace

uint32_t crc32(const std::string& text) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xffffffffu;
    for (unsigned char ch : text) c = table[(c ^ ch) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

std::string withCrc(const std::string& body) { return body + " crc " + hex(crc32(body), 8) + "\n"; }

bool checkedBody(const std::string& line, std::string& body) {
    const size_t at = line.rfind(" crc ");
    if (at == std::string::npos || line.size() != at + 13) return false;
    body = line.substr(0, at);
    return hex(crc32(body), 8) == line.substr(at + 5);
}

NetworkFingerprint fingerprintLoadedNetwork() {
    Fnv f;
    f.add(static_cast<uint64_t>(num_nodes), 8);
    f.add(static_cast<uint64_t>(num_arcs), 8);
    for (int32_t x : point) f.add(static_cast<uint32_t>(x), 4);
    for (int32_t x : graph_head) f.add(static_cast<uint32_t>(x), 4);
    for (int32_t x : graph_length) f.add(static_cast<uint32_t>(x), 4);
    return {num_nodes, num_arcs, f.hash};
}

std::string checkpointPath(const std::string& dir, const CheckpointHeader& h) {
    return namePrefix(dir, h) + ".checkpoint";
}
std::string finishedPath(const std::string& dir, const CheckpointHeader& h) { return namePrefix(dir, h) + ".done"; }

std::string headerLine(const CheckpointHeader& header) { return withCrc(headerBody(header)); }

std::string recordLine(const ChunkRecord& r) {
    std::string body = "run " + std::to_string(int64_t{r.chunk.repetition} + 1) + " " + std::to_string(r.chunk.first) +
                       " " + std::to_string(r.chunk.last) + " ns " + std::to_string(r.cpu_ns) + " sources";
    for (const SourceFigures& f : r.sources) {
        body += " " + std::to_string(f.reached) + " " + formatInteger(f.sum) + " " + std::to_string(f.largest) + " " +
                std::to_string(f.scans);
    }
    return withCrc(body);
}

std::string markLine(uint64_t at) { return withCrc("synced " + std::to_string(at)); }

std::string readCheckpoint(const ReadAt& read, const CheckpointHeader& expected, const RecordSink& sink,
                           CheckpointScan& scan) {
    scan = {};
    const uint64_t synced_end = lastMarkEnd(read);
    LineReader lines(read);
    std::string line, body;
    uint64_t at = 0;
    bool ended = false, too_long = false;
    const std::string header = headerLine(expected);
    if (!lines.next(line, at, ended, too_long)) return lines.failed() ? "it cannot be read" : "";
    if (!ended) {  // a header cut short while it was written: start afresh
        if (too_long || header.compare(0, line.size(), line) != 0) return "it is not a checkpoint of spc_sweep";
        scan.dropped_tail = true;
        return {};
    }
    if (too_long || !checkedBody(line, body)) return "its header line is damaged";
    if (body.compare(0, 23, "spc_sweep checkpoint 1 ") == 0) {
        return "it was written by an earlier spc_sweep, whose checkpoints this one does not read";
    }
    if (body != headerBody(expected)) {
        return "it belongs to another network or repetition count (its header says " + headerSays(body) + ")";
    }
    scan.good_bytes = line.size() + 1;
    for (int64_t number = 2; lines.next(line, at, ended, too_long); ++number) {
        const bool intact = ended && !too_long && checkedBody(line, body);
        if (!intact) {
            if (at < synced_end) return "line " + std::to_string(number) + " is damaged";
            scan.dropped_tail = true;  // after the last mark: not yet on the disk when it was cut
            return lines.failed() ? "it cannot be read" : "";
        }
        ChunkRecord record;
        if (body.compare(0, 7, "synced ") == 0) {
            if (!isMarkAt(body, at)) return "line " + std::to_string(number) + " is damaged";
        } else if (parseRecordBody(body, expected, record)) {
            const std::string refused = sink(record, number);
            if (!refused.empty()) return "line " + std::to_string(number) + ": " + refused;
            ++scan.records;
        } else {
            return "line " + std::to_string(number) + " is damaged (it holds what no run writes)";
        }
        scan.good_bytes = at + line.size() + 1;
    }
    return lines.failed() ? "it cannot be read" : "";
}

std::string readCheckpointText(const std::string& text, const CheckpointHeader& expected, const RecordSink& sink,
                               CheckpointScan& scan) {
    const ReadAt read = [&](uint64_t offset, char* to, size_t size) -> int64_t {
        if (offset >= text.size()) return 0;
        const size_t n = std::min<size_t>(size, text.size() - offset);
        std::memcpy(to, text.data() + offset, n);
        return static_cast<int64_t>(n);
    };
    return readCheckpoint(read, expected, sink, scan);
}
