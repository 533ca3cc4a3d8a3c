#include "network_loader.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include "base/integers.h"

namespace {

// Asks for large pages under a large array about to be written: a network of
// millions of arcs otherwise spends much of its loading in page faults.
void adviseLargePages(const void* start, size_t bytes) {
    constexpr uintptr_t kLarge = uintptr_t{1} << 21;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(start) + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(kLarge - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

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
    for (;;) {
        const char* from = in.buffer.data() + in.pos;
        const void* end = std::memchr(from, '\n', in.len - in.pos);
        if (end != nullptr) {
            in.pos += static_cast<size_t>(static_cast<const char*>(end) - from) + 1;
            ++in.line;
            return;
        }
        in.pos = in.len;
        if (!in.refill()) return;
    }
}

// The three numbers of an arc record, read straight from the buffer when
// they stand there plainly: on this line, apart by spaces or tabs, an
// optional minus, at most ten digits, in range. Reads exactly what readInt
// would; false leaves the reader as it was, for readInt to read them (and
// to word what is wrong).
bool readArcPlainly(CharReader& in, ArcTriple& arc) {
    const char* p = in.buffer.data() + in.pos;
    const char* const end = in.buffer.data() + in.len;
    for (int field = 0; field < 3; ++field) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        const bool negative = p < end && *p == '-';
        if (negative) ++p;
        const char* const digits = p;
        uint64_t value = 0;
        while (p < end && p - digits < 11 && static_cast<unsigned>(*p - '0') < 10) {
            value = value * 10 + static_cast<unsigned>(*p - '0');
            ++p;
        }
        // The number must visibly end inside the buffer; between fields a blank must follow.
        if (p == digits || p == end || p - digits > 10) return false;
        if (field < 2 && *p != ' ' && *p != '\t') return false;
        if (value > (negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1)) return false;
        arc[static_cast<size_t>(field)] = static_cast<int32_t>(negative ? -static_cast<int64_t>(value)
                                                                        : static_cast<int64_t>(value));
    }
    in.pos = static_cast<size_t>(p - in.buffer.data());
    return true;
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
            if (room * sizeof(ArcTriple) <= memory) {
                arcs.reserve(room);
                adviseLargePages(arcs.data(), room * sizeof(ArcTriple));
            }
        } else if (row_label == 'a') {
            if (!seen_problem) return lineMessage(record_line, "an arc before the problem line");
            ArcTriple arc{};
            if (!readArcPlainly(in, arc)) {
                int64_t at = 0;
                std::string why = readInt(in, "tail", "an arc", record_line, arc[0], at);
                if (why.empty()) why = readInt(in, "head", "an arc", record_line, arc[1], at);
                if (why.empty()) why = readInt(in, "length", "an arc", record_line, arc[2], at);
                if (!why.empty()) return why;
            }
            if (arcs.size() == static_cast<size_t>(arc_count)) {
                return lineMessage(record_line, "more arcs than the " + std::to_string(arc_count) +
                                                    " declared on line " + std::to_string(problem_line));
            }
            if (arc[0] < 1 || arc[0] > nodes || arc[1] < 1 || arc[1] > nodes) {
                const bool tail = arc[0] < 1 || arc[0] > nodes;
                return lineMessage(record_line, (tail ? "tail " : "head ") + std::to_string(arc[tail ? 0 : 1]) +
                                                    " of arc " + std::to_string(arc[0]) + " -> " +
                                                    std::to_string(arc[1]) + " is outside 1.." + std::to_string(nodes));
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

namespace {

// An arc's head and length as one number that orders as (head, length) does.
uint64_t headAndLength(int32_t head, int32_t length) {
    return static_cast<uint64_t>(static_cast<uint32_t>(head)) << 32 |
           (static_cast<uint32_t>(length) ^ 0x80000000u);
}

// Sorts one node's arcs: by insertion when they are few, as most are.
void sortArcsOfNode(uint64_t* first, uint64_t* last) {
    if (last - first > 32) {
        std::sort(first, last);
        return;
    }
    for (uint64_t* i = first + 1; i < last; ++i) {
        const uint64_t key = *i;
        uint64_t* j = i;
        for (; j > first && *(j - 1) > key; --j) *j = *(j - 1);
        *j = key;
    }
}

}  // namespace

void buildArcTable(std::vector<ArcTriple>& arcs, int32_t nodes, Network& network) {
    // The arcs in the order of (tail, head, length): counted into their
    // tails' places, then each tail's few sorted, in time linear in the arcs.
    const size_t m = arcs.size();
    network.point.assign(static_cast<size_t>(nodes) + 1, 0);
    for (const ArcTriple& a : arcs) {
        assert(a[0] >= 1 && a[0] <= nodes && a[1] >= 1 && a[1] <= nodes);
        ++network.point[static_cast<size_t>(a[0])];
    }
    // point[u] becomes the number of arcs whose tail is at most u.
    for (size_t u = 1; u < network.point.size(); ++u) network.point[u] += network.point[u - 1];
    {
        std::unique_ptr<uint64_t[]> keys(new uint64_t[m]);  // every slot written below: not cleared first
        adviseLargePages(keys.get(), m * sizeof(uint64_t));
        std::vector<int32_t> next(network.point.begin(), network.point.end() - 1);  // node u's next slot at u-1
        for (const ArcTriple& a : arcs) {
            keys[static_cast<size_t>(next[static_cast<size_t>(a[0] - 1)]++)] = headAndLength(a[1], a[2]);
        }
        arcs.clear();
        arcs.shrink_to_fit();
        for (size_t u = 1; u < network.point.size(); ++u) {
            sortArcsOfNode(keys.get() + network.point[u - 1], keys.get() + network.point[u]);
        }
        network.head.reserve(m);
        network.length.reserve(m);
        adviseLargePages(network.head.data(), m * sizeof(int32_t));
        adviseLargePages(network.length.data(), m * sizeof(int32_t));
        network.head.resize(m);
        network.length.resize(m);
        for (size_t e = 0; e < m; ++e) {
            network.head[e] = static_cast<int32_t>(keys[e] >> 32);
            network.length[e] = static_cast<int32_t>(static_cast<uint32_t>(keys[e]) ^ 0x80000000u);
        }
    }
    network.nodes = nodes;
    network.arcs = static_cast<int32_t>(m);
    network.generation = nextNetworkGeneration();  // an engine's arrays belong to the previous one
    arcs.clear();
    arcs.shrink_to_fit();
}

std::string readNetwork(std::streambuf& in, Network& network, const std::function<bool()>& keep_going,
                        std::string* problem_type, int64_t size_hint) {
    CharReader reader(in);
    std::vector<ArcTriple> arcs;
    int32_t nodes = 0;
    int32_t arc_count = 0;
    std::string why;
    try {
        int64_t size = size_hint;
        if (size < 0) {
            size = in.pubseekoff(0, std::ios::end, std::ios::in);
            in.pubseekoff(0, std::ios::beg, std::ios::in);
        }
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
