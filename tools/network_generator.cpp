#include "network_generator.h"

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
    if (spec.family != "grid" && spec.family != "random" && spec.family != "complete" && spec.family != "path") {
        return "unknown family '" + spec.family + "' (grid, random, complete or path)";
    }
    if (spec.first < 1 || (spec.family == "grid" && spec.second < 1)) return "the sizes must be at least 1";
    if (!fitsInt32(spec.min_length) || !fitsInt32(spec.max_length)) {
        return "lengths must lie within the 32-bit signed range";
    }
    if (spec.min_length > spec.max_length) return "the lowest length is above the highest";
    if (spec.family == "random" && spec.second < spec.first) {
        return "random N M needs M >= N (the cycle through all nodes takes N arcs)";
    }
    if (spec.first > kMaxCount || spec.second > kMaxCount || specNodes(spec) > kMaxCount) {
        return "the node count does not fit in 32 bits";
    }
    if (specArcs(spec) > kMaxCount) return "the arc count does not fit in 32 bits";
    return {};
}

int64_t specNodes(const NetworkSpec& spec) {
    if (spec.family == "grid") {
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
    if (spec.family == "random") return spec.second;
    if (spec.family == "complete") return n > kMaxCount ? kMaxCount + 1 : n * (n - 1);
    return n - 1;
}

GeneratedNetwork generateNetwork(const NetworkSpec& spec) {
    std::mt19937_64 engine(spec.seed);
    auto length = [&] { return uniformInteger(engine, spec.min_length, spec.max_length); };
    GeneratedNetwork net;
    net.nodes = static_cast<int32_t>(specNodes(spec));
    net.arcs.reserve(static_cast<size_t>(specArcs(spec)));
    const int64_t n = net.nodes;
    if (spec.family == "grid") {
        const int64_t w = spec.first, h = spec.second;
        for (int64_t y = 0; y < h; ++y) {
            for (int64_t x = 0; x < w; ++x) {
                const int64_t v = y * w + x + 1;
                if (x + 1 < w) {
                    net.arcs.push_back(arc(v, v + 1, length()));
                    net.arcs.push_back(arc(v + 1, v, length()));
                }
                if (y + 1 < h) {
                    net.arcs.push_back(arc(v, v + w, length()));
                    net.arcs.push_back(arc(v + w, v, length()));
                }
            }
        }
    } else if (spec.family == "random") {
        for (int64_t v = 1; v <= n; ++v) net.arcs.push_back(arc(v, v % n + 1, length()));
        for (int64_t k = n; k < spec.second; ++k) {
            const int64_t tail = uniformInteger(engine, 1, n);
            const int64_t head = uniformInteger(engine, 1, n);
            net.arcs.push_back(arc(tail, head, length()));
        }
    } else if (spec.family == "complete") {
        for (int64_t u = 1; u <= n; ++u) {
            for (int64_t v = 1; v <= n; ++v) {
                if (u != v) net.arcs.push_back(arc(u, v, length()));
            }
        }
    } else {
        for (int64_t v = 1; v < n; ++v) net.arcs.push_back(arc(v, v + 1, length()));
    }
    return net;
}

std::string specComment(const NetworkSpec& spec) {
    std::string text = "c spc_gen " + spec.family + " " + std::to_string(spec.first);
    if (spec.family == "grid" || spec.family == "random") text += " " + std::to_string(spec.second);
    text += " --seed " + std::to_string(spec.seed) + " --lengths " + std::to_string(spec.min_length) + " " +
            std::to_string(spec.max_length);
    return text;
}

namespace {

// Appends the header and the arc lines to `out` through `flush`, which takes
// each full chunk. Returns false as soon as a flush fails.
template <typename Flush>
bool emitNetwork(const NetworkSpec& spec, const GeneratedNetwork& net, Flush flush) {
    std::string chunk = specComment(spec) + "\np sp " + std::to_string(net.nodes) + " " +
                        std::to_string(net.arcs.size()) + "\n";
    constexpr size_t kChunk = 1 << 20;
    chunk.reserve(kChunk + 64);
    char field[16];
    for (const ArcTriple& a : net.arcs) {
        chunk += 'a';
        for (int32_t x : a) {
            chunk += ' ';
            const auto end = std::to_chars(field, field + sizeof field, x).ptr;
            chunk.append(field, end);
        }
        chunk += '\n';
        if (chunk.size() >= kChunk) {
            if (!flush(chunk)) return false;
            chunk.clear();
        }
    }
    return flush(chunk);
}

}  // namespace

bool writeNetwork(std::FILE* out, const NetworkSpec& spec, const GeneratedNetwork& network) {
    return emitNetwork(spec, network, [out](const std::string& chunk) {
        return std::fwrite(chunk.data(), 1, chunk.size(), out) == chunk.size();
    });
}

std::string networkText(const NetworkSpec& spec, const GeneratedNetwork& network) {
    std::string text;
    emitNetwork(spec, network, [&text](const std::string& chunk) {
        text += chunk;
        return true;
    });
    return text;
}
