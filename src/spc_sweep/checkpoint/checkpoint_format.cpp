#include "checkpoint_format.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>

#include "durable_files.h"
#include "report/report.h"

namespace {

std::string headerBody(const CheckpointHeader& h, int format) {
    return "spc_sweep checkpoint " + std::to_string(format) + " nodes " + std::to_string(h.network.nodes) + " arcs " +
           std::to_string(h.network.arcs) + " hash " + hexText(h.network.hash, 16) + " repetitions " +
           std::to_string(h.repetitions) + (h.phast ? " method phast" : "") +
           (h.sources > 0 ? " sources " + std::to_string(h.sources) + " " + hexText(h.sources_hash, 16) : "") +
           (h.harmonic ? " harmonic" : "");
}

std::string networkPrefix(const std::string& dir, const NetworkFingerprint& n) {
    return dir + "/spc_sweep-n" + std::to_string(n.nodes) + "-m" + std::to_string(n.arcs) + "-" + hexText(n.hash, 16);
}

std::string namePrefix(const std::string& dir, const CheckpointHeader& h) {
    return networkPrefix(dir, h.network) + "-r" + std::to_string(h.repetitions) + (h.phast ? "-phast" : "") +
           (h.sources > 0 ? "-s" + std::to_string(h.sources) + "-" + hexText(h.sources_hash, 16) : "") +
           (h.harmonic ? "-h" : "");
}

template <typename T>
bool take(std::istringstream& in, int128 lo, int128 hi, T& out) {
    std::string word;
    int128 value = 0;
    if (!(in >> word) || !parseInteger(word, lo, hi, value)) return false;
    out = static_cast<T>(value);
    return true;
}

bool takeWord(std::istringstream& in, const char* expected) {
    std::string word;
    return in >> word && word == expected;
}

bool atEnd(std::istringstream& in) {
    std::string rest;
    return !(in >> rest);
}

constexpr int128 kLongestTime = int128{1} << 62;       // ns: about 146 years
constexpr int128 kLongestTotal = (int128{1} << 63) - 1;  // ns of many repetitions
constexpr int128 kLargestLabel = int128{1} << 62;      // a walk of 2^31 arcs of 2^31
constexpr int128 kLargestSum = kLargestLabel << 31;    // 2^31 nodes of that

// FIRST LAST and the figures of each source from `in`.
bool takeSources(std::istringstream& in, int64_t nodes, int64_t arcs, CheckpointLine& line) {
    if (!take(in, 1, nodes, line.first) ||
        !take(in, line.first, std::min<int128>(nodes, line.first + kLargestChunk - 1), line.last)) {
        return false;
    }
    line.sources.assign(static_cast<size_t>(line.last - line.first + 1), {});
    for (SourceFigures& f : line.sources) {
        if (!take(in, 1, nodes, f.reached) || !take(in, -kLargestSum, kLargestSum, f.sum) ||
            !take(in, 0, kLargestLabel, f.largest) || !take(in, 0, arcs, f.scans)) {
            return false;
        }
        if (f.reached == 1 && (f.sum != 0 || f.largest != 0)) return false;  // the source alone: label 0
    }
    // Then each source's harmonic sum, as the bits of a double; lines of an
    // earlier spc_sweep end before it, and leave it unknown.
    std::string word;
    in >> std::ws;
    if (in.peek() == std::char_traits<char>::eof()) return true;
    if (!(in >> word) || word != "h") return false;
    for (SourceFigures& f : line.sources) {
        if (!(in >> word) || word.size() != 16 || word.find_first_not_of("0123456789abcdef") != std::string::npos) {
            return false;
        }
        const uint64_t bits = std::stoull(word, nullptr, 16);
        std::memcpy(&f.harmonic, &bits, sizeof bits);
        if (!(f.harmonic >= 0 && f.harmonic <= static_cast<double>(f.reached))) return false;  // NaN fails too
    }
    return true;
}

bool parseRunBody(const std::string& body, const CheckpointHeader& h, CheckpointLine& line) {
    std::istringstream in(body);
    std::string check;
    line.kind = CheckpointLine::run;
    if (!takeWord(in, "run") || !take(in, 1, h.repetitions, line.repetition) || !take(in, 1, h.network.nodes, line.first) ||
        !take(in, line.first, std::min<int128>(h.network.nodes, line.first + kLargestChunk - 1), line.last) ||
        !takeWord(in, "ns") || !take(in, 0, kLongestTime, line.cpu_ns) || !takeWord(in, "check") || !(in >> check) ||
        check.size() != 16 || check.find_first_not_of("0123456789abcdef") != std::string::npos || !atEnd(in)) {
        return false;
    }
    line.repetition -= 1;
    line.check = std::stoull(check, nullptr, 16);
    return true;
}

bool parseDoneBody(const std::string& body, const CheckpointHeader& h, CheckpointLine& line) {
    std::istringstream in(body);
    line.kind = CheckpointLine::done;
    if (!takeWord(in, "done") || !take(in, 1, h.repetitions, line.repetition) ||
        !take(in, line.repetition, h.repetitions, line.last_repetition) || !takeWord(in, "ns") ||
        !take(in, 0, kLongestTotal, line.cpu_ns) || !atEnd(in)) {
        return false;
    }
    line.repetition -= 1;
    line.last_repetition -= 1;
    return true;
}

// A run line of the earlier format: "run REP FIRST LAST ns T sources ...",
// every source's figures for every repetition. Read as its figures and a
// run line of this format.
bool parseEarlierRunBody(const std::string& body, const CheckpointHeader& h, CheckpointLine& figures,
                         CheckpointLine& run) {
    std::istringstream in(body);
    int32_t repetition = 0;
    uint64_t ns = 0;
    int64_t first = 0, last = 0;
    if (!takeWord(in, "run") || !take(in, 1, h.repetitions, repetition) || !take(in, 1, h.network.nodes, first) ||
        !take(in, first, std::min<int128>(h.network.nodes, first + kLargestChunk - 1), last) || !takeWord(in, "ns") ||
        !take(in, 0, kLongestTime, ns) || !takeWord(in, "sources")) {
        return false;
    }
    std::ostringstream sources;
    sources << first << " " << last << " " << in.rdbuf();
    std::istringstream rest(sources.str());
    figures = {};
    if (!takeSources(rest, h.network.nodes, h.network.arcs, figures) || !atEnd(rest)) return false;
    run = {};
    run.kind = CheckpointLine::run;
    run.repetition = repetition - 1;
    run.first = first;
    run.last = last;
    run.cpu_ns = ns;
    run.check = figuresCheck(figures.sources.data(), figures.sources.size());
    return true;
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

// The lines a body stands for: none (a mark), one, or two (a run line of the
// earlier format). False when it holds what no run writes.
bool linesOf(const std::string& body, const CheckpointHeader& h, bool earlier, std::vector<CheckpointLine>& out) {
    out.clear();
    CheckpointLine one, two;
    if (earlier) {
        if (!parseEarlierRunBody(body, h, one, two)) return false;
        out = {one, two};
        return true;
    }
    if (body.compare(0, 8, "figures ") == 0) {
        std::istringstream in(body.substr(8));
        one.kind = CheckpointLine::figures;
        if (!takeSources(in, h.network.nodes, h.network.arcs, one) || !atEnd(in)) return false;
    } else if (!parseRunBody(body, h, one) && !parseDoneBody(body, h, one)) {
        return false;
    }
    out = {one};
    return true;
}

}  // namespace

bool parseInteger(const std::string& text, int128 lo, int128 hi, int128& out) {
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

std::string hexText(uint64_t value, int digits) {
    char text[17];
    std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

bool parseFiguresBody(const std::string& body, int64_t nodes, int64_t arcs, CheckpointLine& line) {
    if (body.compare(0, 8, "figures ") != 0) return false;
    std::istringstream in(body.substr(8));
    line = {};
    line.kind = CheckpointLine::figures;
    return takeSources(in, nodes, arcs, line) && atEnd(in);
}

ReadAt readAtOf(int fd) {
    return [fd](uint64_t offset, char* to, size_t size) -> int64_t {
        for (;;) {
            const ssize_t n = ::pread(fd, to, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    };
}

bool LineReader::next(std::string& line, uint64_t& at, bool& ended, bool& too_long) {
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

bool LineReader::refill() {
    const int64_t got = read_(file_offset_, buffer_.data(), buffer_.size());
    if (got < 0) failed_ = true;
    pos_ = 0;
    len_ = got > 0 ? static_cast<size_t>(got) : 0;
    file_offset_ += len_;
    return len_ > 0;
}

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

std::string withCrc(const std::string& body) { return body + " crc " + hexText(crc32(body), 8) + "\n"; }

bool checkedBody(const std::string& line, std::string& body) {
    const size_t at = line.rfind(" crc ");
    if (at == std::string::npos || line.size() != at + 13) return false;
    body = line.substr(0, at);
    return hexText(crc32(body), 8) == line.substr(at + 5);
}

std::string checkpointPath(const std::string& dir, const CheckpointHeader& h) {
    return namePrefix(dir, h) + ".checkpoint";
}
std::string finishedPath(const std::string& dir, const CheckpointHeader& h) { return namePrefix(dir, h) + ".done"; }
std::string hierarchyPath(const std::string& dir, const NetworkFingerprint& network) {
    return networkPrefix(dir, network) + ".hierarchy";
}

size_t longestCheckpointName() {
    const CheckpointHeader widest{{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(), 0},
                                  kMostRepetitions, true, std::numeric_limits<int32_t>::max(), 0, true};
    return baseNameOf(checkpointPath(".", widest)).size();
}

std::string headerLine(const CheckpointHeader& header) { return withCrc(headerBody(header, 3)); }

std::string figuresLine(int64_t first, const SourceFigures* figures, size_t count) {
    std::string body = "figures " + std::to_string(first) + " " + std::to_string(first + static_cast<int64_t>(count) - 1);
    for (size_t i = 0; i < count; ++i) {
        const SourceFigures& f = figures[i];
        body += " " + std::to_string(f.reached) + " " + formatInteger(f.sum) + " " + std::to_string(f.largest) + " " +
                std::to_string(f.scans);
    }
    // The harmonic sums when every source has one (else the line is as an
    // earlier spc_sweep wrote it).
    bool all_known = true;
    for (size_t i = 0; i < count; ++i) all_known = all_known && figures[i].harmonicKnown();
    if (!all_known) return withCrc(body);
    body += " h";
    for (size_t i = 0; i < count; ++i) {
        uint64_t bits = 0;
        std::memcpy(&bits, &figures[i].harmonic, sizeof bits);
        body += " " + hexText(bits, 16);
    }
    return withCrc(body);
}

std::string runLine(int32_t repetition, int64_t first, int64_t last, uint64_t cpu_ns, uint64_t check) {
    return withCrc("run " + std::to_string(int64_t{repetition} + 1) + " " + std::to_string(first) + " " +
                   std::to_string(last) + " ns " + std::to_string(cpu_ns) + " check " + hexText(check, 16));
}

std::string doneLine(int32_t from, int32_t to, uint64_t cpu_ns) {
    return withCrc("done " + std::to_string(int64_t{from} + 1) + " " + std::to_string(int64_t{to} + 1) + " ns " +
                   std::to_string(cpu_ns));
}

std::string markLine(uint64_t at) { return withCrc("synced " + std::to_string(at)); }

std::string readCheckpoint(const ReadAt& read, const CheckpointHeader& expected, const LineSink& sink,
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
    scan.earlier_format = body == headerBody(expected, 2);
    if (body != headerBody(expected, 3) && !scan.earlier_format) {
        return "it belongs to another network or repetition count (its header says " + headerSays(body) + ")";
    }
    scan.good_bytes = line.size() + 1;
    std::vector<CheckpointLine> taken;
    for (int64_t number = 2; lines.next(line, at, ended, too_long); ++number) {
        const bool intact = ended && !too_long && checkedBody(line, body);
        if (!intact) {
            if (at < synced_end) return "line " + std::to_string(number) + " is damaged";
            scan.dropped_tail = true;  // after the last mark: not yet on the disk when it was cut
            return lines.failed() ? "it cannot be read" : "";
        }
        if (body.compare(0, 7, "synced ") == 0) {
            if (!isMarkAt(body, at)) return "line " + std::to_string(number) + " is damaged";
        } else if (linesOf(body, expected, scan.earlier_format, taken)) {
            for (const CheckpointLine& one : taken) {
                const std::string refused = sink(one, number);
                if (!refused.empty()) return "line " + std::to_string(number) + ": " + refused;
            }
            ++scan.lines;
        } else {
            return "line " + std::to_string(number) + " is damaged (it holds what no run writes)";
        }
        scan.good_bytes = at + line.size() + 1;
    }
    return lines.failed() ? "it cannot be read" : "";
}
