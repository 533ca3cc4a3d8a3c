// A loaded network: its node and arc counts and its forward-star arc table,
// with the number that tells one loaded network from another and the
// fingerprint that tells one network's content from another's. The loader
// builds it; everything after it reads it, never writes it.
#pragma once

#include <cstdint>
#include <vector>

struct Network {
    int32_t nodes = 0;
    int32_t arcs = 0;
    // The arcs of node u are the slots e with point[u-1] <= e < point[u],
    // ordered by head, then by length.
    std::vector<int32_t> point;   // nodes + 1 offsets
    std::vector<int32_t> head;    // arcs heads
    std::vector<int32_t> length;  // arcs lengths
    // Set anew whenever the table is built: what an engine was prepared for.
    uint64_t generation = 0;
};

// A generation number no network of this process had before.
uint64_t nextNetworkGeneration();

// Empties the network and gives its memory back.
void clearNetwork(Network& network);

// The network's counts and a 64-bit FNV-1a hash of its offsets, heads and
// lengths: the same on every machine for the same content.
struct NetworkFingerprint {
    int64_t nodes = 0;
    int64_t arcs = 0;
    uint64_t hash = 0;
};
NetworkFingerprint fingerprintOf(const Network& network);
