// The peer shortest-path codes the benchmarks compare with, over the loaded
// network: the Boost Graph Library, LEMON and igraph, each where the build
// found it. Each runs Dijkstra from one source at a time as a user of the
// library would, and gives back the figures ours must agree on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sweep_engines.h"

class Peer {
public:
    virtual ~Peer() = default;
    virtual const char* name() const = 0;
    // The run from source s (1-based), its labels kept until the next.
    virtual void run(int32_t s) = 0;
    // Of the last run: the sum of the distances of the nodes it reached, and
    // the arcs leaving them (the arc scans of our method).
    virtual Figures figures() const = 0;
};

// Every peer built in, each over the loaded network (num_nodes, point,
// graph_head, graph_length).
std::vector<std::unique_ptr<Peer>> peersOverLoadedNetwork();

// The peers this build lacks, for a note.
std::vector<std::string> missingPeers();

// The peer's runs from sources first..last.
inline void runPeer(Peer& peer, int32_t first, int32_t last) {
    for (int32_t s = first; s <= last; ++s) peer.run(s);
}

// One sweep of the peer, with its figures.
inline Figures peerSweep(Peer& peer) {
    Figures total;
    for (int32_t s = 1; s <= num_nodes; ++s) {
        peer.run(s);
        const Figures f = peer.figures();
        total.sum += f.sum;
        total.scans += f.scans;
    }
    return total;
}
