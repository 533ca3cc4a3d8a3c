#include "network_generator.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace {

constexpr int64_t kMaxCount = std::numeric_limits<int32_t>::max();

bool fitsInt32(int64_t x) {
    return x >= std::numeric_limits<int32_t>::min() && x <= std::numeric_limits<int32_t>::max();
}

ArcTriple arc(int64_t tail, int64_t head, int64_t length) {
    return {static_cast<int32_t>(tail), static_cast<int32_t>(head), static_cast<int32_t>(length)};
}

}  // namespace

int64_t uniformInteger(std::mt19937_64& engine, int64_t lo, int64_t hi) {
    const uint64_t range = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo) + 1;  // 0 means all 2^64
    uint64_t x = engine();
    if (range != 0) {
        // Reject the top values that would make some results more likely.
        const uint64_t limit = std::numeric_limits<uint64_t>::max() - std::numeric_limits<uint64_t>::max() % range;
        while (x >= limit) x = engine();
        x %= range;
    }
    return static_cast<int64_t>(static_cast<uint64_t>(lo) + x);
}

std::string checkSpec(const NetworkSpec& spec) {
    if (spec.family != "grid" && spec.family != "road" && spec.family != "random" && spec.family != "complete" &&
        spec.family != "path") {
        return "unknown family '" + spec.family + "' (grid, road, random, complete, path or tiles)";
    }
    if (spec.first < 1 || (hasTwoSizes(spec.family) && spec.second < 1)) return "the sizes must be at least 1";
    if (!fitsInt32(spec.min_length) || !fitsInt32(spec.max_length)) {
        return "lengths must lie within the 32-bit signed range";
    }
    if (spec.min_length > spec.max_length) return "the lowest length is above the highest";
    if (spec.family == "random" && spec.second < spec.first) {
        return "random N M needs M >= N (the cycle through all nodes takes N arcs)";
    }
    // For random networks the second size is the arc count, not a side.
    if (specNodes(spec) > kMaxCount) return "the node count does not fit in 32 bits";
    if (specArcs(spec) > kMaxCount) return "the arc count does not fit in 32 bits";
    return {};
}

bool hasTwoSizes(const std::string& family) { return family == "grid" || family == "road" || family == "random"; }

int64_t specNodes(const NetworkSpec& spec) {
    if (spec.family == "grid" || spec.family == "road") {
        if (spec.first > kMaxCount || spec.second > kMaxCount) return kMaxCount + 1;
        return spec.first * spec.second;
    }
    return spec.first;
}

int64_t specArcs(const NetworkSpec& spec) {
    const int64_t n = spec.first;
    if (spec.family == "grid") {
        const int64_t w = spec.first, h = spec.second;
        if (w > kMaxCount || h > kMaxCount) return kMaxCount + 1;
        return 2 * ((w - 1) * h + w * (h - 1));
    }
    if (spec.family == "road") {
        const int64_t w = spec.first, h = spec.second;
        if (w > kMaxCount || h > kMaxCount) return kMaxCount + 1;
        return 2 * ((w - 1) * h + roadLinks(w) * (h - 1));
    }
    if (spec.family == "random") return spec.second;
    if (spec.family == "complete") return n > kMaxCount ? kMaxCount + 1 : n * (n - 1);
    return n - 1;
}

int64_t roadLinks(int64_t width) { return (width + 2) / 3; }

namespace {

// Calls sink(tail, head, length) for every arc in file order.
template <typename Sink>
void forEachArc(const NetworkSpec& spec, Sink sink) {
    std::mt19937_64 engine(spec.seed);
    auto length = [&] { return uniformInteger(engine, spec.min_length, spec.max_length); };
    const int64_t n = specNodes(spec);
    if (spec.family == "grid") {
        const int64_t w = spec.first, h = spec.second;
        for (int64_t y = 0; y < h; ++y) {
            for (int64_t x = 0; x < w; ++x) {
                const int64_t v = y * w + x + 1;
                if (x + 1 < w) {
                    sink(arc(v, v + 1, length()));
                    sink(arc(v + 1, v, length()));
                }
                if (y + 1 < h) {
                    sink(arc(v, v + w, length()));
                    sink(arc(v + w, v, length()));
                }
            }
        }
    } else if (spec.family == "road") {
        // Each row a street both ways; between two neighbouring rows, links
        // both ways at roadLinks(w) distinct columns drawn at random (a
        // partial shuffle), written from left to right.
        const int64_t w = spec.first, h = spec.second;
        std::vector<int64_t> columns(static_cast<size_t>(w));
        for (int64_t y = 0; y < h; ++y) {
            for (int64_t x = 0; x + 1 < w; ++x) {
                const int64_t v = y * w + x + 1;
                sink(arc(v, v + 1, length()));
                sink(arc(v + 1, v, length()));
            }
            if (y + 1 == h) break;
            for (int64_t x = 0; x < w; ++x) columns[static_cast<size_t>(x)] = x;
            const int64_t links = roadLinks(w);
            for (int64_t k = 0; k < links; ++k) {
                std::swap(columns[static_cast<size_t>(k)], columns[static_cast<size_t>(uniformInteger(engine, k, w - 1))]);
            }
            std::sort(columns.begin(), columns.begin() + links);
            for (int64_t k = 0; k < links; ++k) {
                const int64_t v = y * w + columns[static_cast<size_t>(k)] + 1;
                sink(arc(v, v + w, length()));
                sink(arc(v + w, v, length()));
            }
        }
    } else if (spec.family == "random") {
        for (int64_t v = 1; v <= n; ++v) sink(arc(v, v % n + 1, length()));
        for (int64_t k = n; k < spec.second; ++k) {
            const int64_t tail = uniformInteger(engine, 1, n);
            const int64_t head = uniformInteger(engine, 1, n);
            sink(arc(tail, head, length()));
        }
    } else if (spec.family == "complete") {
        for (int64_t u = 1; u <= n; ++u) {
            for (int64_t v = 1; v <= n; ++v) {
                if (u != v) sink(arc(u, v, length()));
            }
        }
    } else {
        for (int64_t v = 1; v < n; ++v) sink(arc(v, v + 1, length()));
    }
}

}  // namespace

GeneratedNetwork generateNetwork(const NetworkSpec& spec) {
    GeneratedNetwork net;
    net.nodes = static_cast<int32_t>(specNodes(spec));
    net.arcs.reserve(static_cast<size_t>(specArcs(spec)));
    forEachArc(spec, [&net](const ArcTriple& a) { net.arcs.push_back(a); });
    return net;
}

std::string specComment(const NetworkSpec& spec) {
    std::string text = "c spc_gen " + spec.family + " " + std::to_string(spec.first);
    if (hasTwoSizes(spec.family)) text += " " + std::to_string(spec.second);
    text += " --seed " + std::to_string(spec.seed) + " --lengths " + std::to_string(spec.min_length) + " " +
            std::to_string(spec.max_length);
    return text;
}

namespace {

// Formats the network into chunks of text and hands each full chunk to
// `flush`. Returns false as soon as a flush fails.
template <typename Flush>
bool emitNetwork(const NetworkSpec& spec, Flush flush) {
    const std::string header = specComment(spec) + "\np sp " + std::to_string(specNodes(spec)) + " " +
                               std::to_string(specArcs(spec)) + "\n";
    constexpr size_t kChunk = 1 << 20;
    constexpr size_t kLongestLine = 40;  // "a" and three 11-character fields with blanks
    std::vector<char> chunk(kChunk + header.size() + kLongestLine);
    char* const begin = chunk.data();
    char* at = std::copy(header.begin(), header.end(), begin);
    bool ok = true;
    forEachArc(spec, [&](const ArcTriple& a) {
        *at++ = 'a';
        for (int32_t x : a) {
            *at++ = ' ';
            at = std::to_chars(at, at + 11, x).ptr;
        }
        *at++ = '\n';
        if (static_cast<size_t>(at - begin) >= kChunk) {
            ok = ok && flush(begin, static_cast<size_t>(at - begin));
            at = begin;
        }
    });
    return ok && flush(begin, static_cast<size_t>(at - begin));
}

}  // namespace

bool writeNetwork(std::FILE* out, const NetworkSpec& spec) {
    return emitNetwork(spec, [out](const char* text, size_t size) { return std::fwrite(text, 1, size, out) == size; });
}

std::string networkText(const NetworkSpec& spec) {
    std::string text;
    emitNetwork(spec, [&text](const char* chunk, size_t size) {
        text.append(chunk, size);
        return true;
    });
    return text;
}
