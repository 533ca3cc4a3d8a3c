#include "tiles.h"

#include <charconv>
#include <limits>
#include <random>
#include <vector>

#include "network_generator.h"

namespace {

int64_t joins(int64_t across, int64_t down) { return (across - 1) * down + across * (down - 1); }

}  // namespace

std::string checkTiles(const Network& base, int64_t across, int64_t down) {
    constexpr int64_t most = std::numeric_limits<int32_t>::max();
    if (across < 1 || down < 1) return "the tiles across and down must be at least 1";
    if (base.nodes < 1) return "the network has no nodes";
    if (across > most || down > most || across * down > most / base.nodes) return "the node count does not fit in 32 bits";
    if (base.arcs < 1 && (across > 1 || down > 1)) return "a network without arcs has no lengths to join tiles with";
    if (across * down * base.arcs + 2 * kTileLinks * joins(across, down) > most) {
        return "the arc count does not fit in 32 bits";
    }
    return {};
}

bool writeTiles(std::FILE* out, const Network& base, int64_t across, int64_t down, uint64_t seed,
                const std::string& comment) {
    const int64_t n = base.nodes;
    const int64_t tiles = across * down;
    const int64_t arcs = tiles * base.arcs + 2 * kTileLinks * joins(across, down);
    std::string text = "c " + comment + "\np sp " + std::to_string(tiles * n) + " " + std::to_string(arcs) + "\n";
    bool ok = true;
    const auto line = [&](int64_t tail, int64_t head, int64_t length) {
        char buffer[40];
        char* at = buffer;
        *at++ = 'a';
        for (const int64_t x : {tail, head, length}) {
            *at++ = ' ';
            at = std::to_chars(at, buffer + sizeof buffer, x).ptr;
        }
        *at++ = '\n';
        text.append(buffer, static_cast<size_t>(at - buffer));
        if (text.size() >= (1 << 20)) {
            ok = ok && std::fwrite(text.data(), 1, text.size(), out) == text.size();
            text.clear();
        }
    };
    for (int64_t t = 0; t < tiles; ++t) {
        const int64_t offset = t * n;
        for (int64_t u = 1; u <= n; ++u) {
            for (int32_t e = base.point[static_cast<size_t>(u) - 1]; e < base.point[static_cast<size_t>(u)]; ++e) {
                line(offset + u, offset + base.head[static_cast<size_t>(e)], base.length[static_cast<size_t>(e)]);
            }
        }
    }
    // The joins, tile by tile: to the right neighbour, then to the lower one.
    std::mt19937_64 engine(seed);
    const auto join = [&](int64_t from, int64_t to) {
        for (int k = 0; k < kTileLinks; ++k) {
            const int64_t u = from * n + uniformInteger(engine, 1, n);
            const int64_t v = to * n + uniformInteger(engine, 1, n);
            const int64_t length = base.length[static_cast<size_t>(uniformInteger(engine, 0, base.arcs - 1))];
            line(u, v, length);
            line(v, u, length);
        }
    };
    for (int64_t row = 0; row < down; ++row) {
        for (int64_t column = 0; column < across; ++column) {
            const int64_t t = row * across + column;
            if (column + 1 < across) join(t, t + 1);
            if (row + 1 < down) join(t, t + across);
        }
    }
    return ok && std::fwrite(text.data(), 1, text.size(), out) == text.size();
}
