#include "network_loader.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <fstream>
#include <limits>
#include <new>
#include <sys/resource.h>
#include <unistd.h>

#include "base/integers.h"

namespace {

// Buffered reading of single characters with a line count for messages.
struct CharReader {
    std::streambuf& source;
    std::vector<char> buffer = std::vector<char>(1 << 16);
    size_t pos = 0;
    size_t len = 0;
    int64_t line = 1;  // line of the next character

    explicit CharReader(std::streambuf& in) : source(in) {}

    bool refill() {
        std::streamsize got = source.sgetn(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        pos = 0;
        len = got > 0 ? static_cast<size_t>(got) : 0;
        return len > 0;
    }
    int peek() {
        if (pos == len && !refill()) return EOF;
        return static_cast<unsigned char>(buffer[pos]);
    }
    int get() {
        int c = peek();
        if (c == EOF) return EOF;
        ++pos;
        if (c == '\n') ++line;
        return c;
    }
};

bool isBlank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Offending text for a message: printable characters as they are, others escaped.
std::string shown(const std::string& raw) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned char c : raw) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

constexpr size_t kShownChars = 24;  // longest piece of a bad field quoted in a message

// Consumes the rest of a token for the message about it.
void takeToken(CharReader& in, std::string& text) {
    while (in.peek() != EOF && !isBlank(in.peek())) {
        int c = in.get();
        if (text.size() < kShownChars) text += static_cast<char>(c);
    }
}

std::string lineMessage(int64_t line, const std::string& what) {
    return "line " + std::to_string(line) + ": " + what;
}

// Formatted extraction of one 32-bit integer: skips blanks, takes an optional
// sign and the digits after it, and stops at the first character that cannot
// continue the number. Returns an empty string or the reason it failed.
// A field missing at end of file is reported on the line of its record.
std::string readInt(CharReader& in, const char* field, const char* record, int64_t record_line, int32_t& out,
                    int64_t& line) {
    while (isBlank(in.peek())) in.get();
    line = in.line;
    if (in.peek() == EOF) {
        return lineMessage(record_line, std::string(field) + " of " + record + " is missing at end of file");
    }
    std::string text;
    bool negative = false;
    if (in.peek() == '+' || in.peek() == '-') {
        negative = in.get() == '-';
        text += negative ? '-' : '+';
    }
    int64_t magnitude = 0;
    bool any_digit = false;
    bool cut = false;  // more digits than the message shows
    while (in.peek() >= '0' && in.peek() <= '9') {
        int c = in.get();
        any_digit = true;
        if (text.size() < kShownChars) {
            text += static_cast<char>(c);
        } else {
            cut = true;
        }
        // Past 2^32 the value is out of range whatever follows; it stays past.
        if (magnitude <= (int64_t{1} << 32)) magnitude = magnitude * 10 + (c - '0');
    }
    if (!any_digit) {
        takeToken(in, text);
        return lineMessage(line, std::string(field) + " '" + shown(text) + "' of " + record + " is not a number");
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
        if (cut) text += "...";
        return lineMessage(line, std::string(field) + " " + text + " of " + record +
                                     " is outside the 32-bit signed range");
    }
    out = static_cast<int32_t>(value);
    return {};
}

// Formatted extraction of one word (the problem type); only its first
// characters are kept, since it is never used.
std::string readWord(CharReader& in, int64_t record_line, std::string* out) {
    while (isBlank(in.peek())) in.get();
    if (in.peek() == EOF) {
        return lineMessage(record_line, "problem type of the problem line is missing at end of file");
    }
    std::string word;
    takeToken(in, word);
    if (out) *out = word;
    return {};
}

void skipRestOfLine(CharReader& in) {
    int c;
    do {
        c = in.get();
    } while (c != EOF && c != '\n');
}

std::string mib(uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

// Reads every record and checks the file against the limits of the format.
// Leaves the arcs in `arcs`; returns an empty string or the reason for rejection.
std::string readRecords(CharReader& in, int64_t file_size, std::vector<ArcTriple>& arcs, int32_t& nodes,
                        int32_t& arc_count, const std::function<bool()>& keep_going, std::string* problem_type) {
    bool seen_problem = false;
    int64_t problem_line = 0;
    const uint64_t memory = availableMemory();
    for (uint32_t looked = 0;; ++looked) {
        const int64_t record_line = in.line;
        const int row_label = in.get();
        if (row_label == EOF) break;
        if ((looked & 0xffff) == 0 && keep_going && !keep_going()) {
            return lineMessage(record_line, "reading stopped before the end of the file");
        }
        if (row_label == 'c' || row_label == 'n') {
            skipRestOfLine(in);
        } else if (row_label == 'p') {
            if (seen_problem) {
                return lineMessage(record_line, "a second problem line (the first is on line " +
                                                    std::to_string(problem_line) + ")");
            }
            int64_t at = 0;
            std::string why = readWord(in, record_line, problem_type);
            if (why.empty()) why = readInt(in, "node count", "the problem line", record_line, nodes, at);
            if (why.empty()) why = readInt(in, "arc count", "the problem line", record_line, arc_count, at);
            if (!why.empty()) return why;
            if (nodes < 1) return lineMessage(at, "node count " + std::to_string(nodes) + " is below 1");
            if (arc_count < 0) return lineMessage(at, "arc count " + std::to_string(arc_count) + " is negative");
            seen_problem = true;
            problem_line = record_line;
            // Room for the arcs declared, but never more than the file can hold:
            // an arc record takes at least six characters.
            const uint64_t room = std::min<uint64_t>(static_cast<uint64_t>(arc_count),
                                                     static_cast<uint64_t>(std::max<int64_t>(file_size, 0)) / 6 + 1);
            if (room * sizeof(ArcTriple) <= memory) arcs.reserve(room);
        } else if (row_label == 'a') {
            if (!seen_problem) return lineMessage(record_line, "an arc before the problem line");
            ArcTriple arc{};
            int64_t at = 0;
            std::string why = readInt(in, "tail", "an arc", record_line, arc[0], at);
            if (why.empty()) why = readInt(in, "head", "an arc", record_line, arc[1], at);
            if (why.empty()) why = readInt(in, "length", "an arc", record_line, arc[2], at);
            if (!why.empty()) return why;
            if (arcs.size() == static_cast<size_t>(arc_count)) {
                return lineMessage(record_line, "more arcs than the " + std::to_string(arc_count) +
                                                    " declared on line " + std::to_string(problem_line));
            }
            const std::string arc_name = std::to_string(arc[0]) + " -> " + std::to_string(arc[1]);
            const std::string range = " is outside 1.." + std::to_string(nodes);
            if (arc[0] < 1 || arc[0] > nodes) {
                return lineMessage(record_line, "tail " + std::to_string(arc[0]) + " of arc " + arc_name + range);
            }
            if (arc[1] < 1 || arc[1] > nodes) {
                return lineMessage(record_line, "head " + std::to_string(arc[1]) + " of arc " + arc_name + range);
            }
            if (arcs.size() == arcs.capacity() &&
                (arcs.size() * 2 + 1) * sizeof(ArcTriple) > memory) {
                return "the arcs read so far already need more than the " + mib(memory) +
                       " of memory available";
            }
            arcs.push_back(arc);
        }
        // Any other character, upper-case letters included, is no record letter.
    }
    if (!seen_problem) return "no problem line (p sp NODES ARCS) in the file";
    if (arcs.size() != static_cast<size_t>(arc_count)) {
        return "the problem line (line " + std::to_string(problem_line) + ") declares " +
               std::to_string(arc_count) + " arcs, but the file has " + std::to_string(arcs.size());
    }
    const uint64_t need = networkMemoryNeed(nodes, arc_count);
    if (need > memory) {
        return "a network of " + std::to_string(nodes) + " nodes and " + std::to_string(arc_count) +
               " arcs needs about " + mib(need) + " of memory, but only " + mib(memory) + " are available";
    }
    return {};
}

}  // namespace

uint64_t networkMemoryNeed(int64_t nodes, int64_t arcs) {
    // Per node: offset, label, per-source sum, heap id and key, settled list,
    // the engine's own label, key and id for narrow widths, and the low halves
    // of the heap's ids.
    const uint64_t per_node = sizeof(int32_t) + sizeof(int64_t) + sizeof(int128) + sizeof(int32_t) +
                              sizeof(int64_t) + sizeof(int32_t) + 3 * sizeof(int32_t) + sizeof(uint16_t);
    // Per arc: the staged triple and its head and length in the table. The
    // engine's copy of head and length (at most 8 bytes) comes after the
    // staged triples are freed.
    const uint64_t per_arc = sizeof(ArcTriple) + 2 * sizeof(int32_t);
    return static_cast<uint64_t>(nodes) * per_node + static_cast<uint64_t>(arcs) * per_arc;
}

uint64_t memory_limit = 0;

uint64_t availableMemory() {
    if (memory_limit != 0) return memory_limit;
    uint64_t available = std::numeric_limits<uint64_t>::max();
    // MemAvailable counts what the kernel can hand out without swapping.
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    uint64_t kib = 0;
    bool found = false;
    while (!found && meminfo >> key >> kib) {
        found = key == "MemAvailable:";
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    if (found) {
        available = kib * 1024;
    } else {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long page_size = sysconf(_SC_PAGESIZE);
        if (pages > 0 && page_size > 0) available = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        available = std::min<uint64_t>(available, limit.rlim_cur);
    }
    return available;
}

void buildArcTable(std::vector<ArcTriple>& arcs, int32_t nodes, Network& network) {
    std::sort(arcs.begin(), arcs.end());
    const size_t m = arcs.size();
    network.point.assign(static_cast<size_t>(nodes) + 1, 0);
    network.head.resize(m);
    network.length.resize(m);
    for (size_t e = 0; e < m; ++e) {
        assert(arcs[e][0] >= 1 && arcs[e][0] <= nodes && arcs[e][1] >= 1 && arcs[e][1] <= nodes);
        ++network.point[static_cast<size_t>(arcs[e][0])];
        network.head[e] = arcs[e][1];
        network.length[e] = arcs[e][2];
    }
    // point[u] becomes the number of arcs whose tail is at most u.
    for (size_t u = 1; u < network.point.size(); ++u) network.point[u] += network.point[u - 1];
    network.nodes = nodes;
    network.arcs = static_cast<int32_t>(m);
    network.generation = nextNetworkGeneration();  // an engine's arrays belong to the previous one
    arcs.clear();
    arcs.shrink_to_fit();
}

std::string readNetwork(std::streambuf& in, Network& network, const std::function<bool()>& keep_going,
                        std::string* problem_type) {
    CharReader reader(in);
    std::vector<ArcTriple> arcs;
    int32_t nodes = 0;
    int32_t arc_count = 0;
    std::string why;
    try {
        const int64_t size = in.pubseekoff(0, std::ios::end, std::ios::in);
        in.pubseekoff(0, std::ios::beg, std::ios::in);
        why = readRecords(reader, size, arcs, nodes, arc_count, keep_going, problem_type);
        if (why.empty()) {
            buildArcTable(arcs, nodes, network);
            return {};
        }
    } catch (const std::bad_alloc&) {
        why = "not enough memory to hold the network";
    }
    clearNetwork(network);
    return why;
}
