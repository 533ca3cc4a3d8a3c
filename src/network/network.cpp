#include "network.h"

#include <atomic>

uint64_t nextNetworkGeneration() {
    static std::atomic<uint64_t> last{0};
    return ++last;
}

void clearNetwork(Network& network) {
    // Swapped with empty ones: `v = {}` would keep their memory.
    std::vector<int32_t>().swap(network.point);
    std::vector<int32_t>().swap(network.head);
    std::vector<int32_t>().swap(network.length);
    network.nodes = 0;
    network.arcs = 0;
    network.generation = nextNetworkGeneration();
}

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

}  // namespace

NetworkFingerprint fingerprintOf(const Network& n) {
    Fnv f;
    f.add(static_cast<uint64_t>(n.nodes), 8);
    f.add(static_cast<uint64_t>(n.arcs), 8);
    for (int32_t x : n.point) f.add(static_cast<uint32_t>(x), 4);
    for (int32_t x : n.head) f.add(static_cast<uint32_t>(x), 4);
    for (int32_t x : n.length) f.add(static_cast<uint32_t>(x), 4);
    return {n.nodes, n.arcs, f.hash};
}
