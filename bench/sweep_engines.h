// What the benchmarks share: loading a seeded network and one sweep of this
// program's engine; the peers are in peers.h.
#pragma once

#include <cstdint>
#include <ctime>
#include <limits>
#include <utility>
#include <vector>

#include "program/program_engine.h"
#include "generator/network_generator.h"
#include "loader/network_loader.h"
#include "program/program_loader.h"
#include "sweep/sweep.h"


// The figures two engines must agree on.
struct Figures {
    int128 sum = 0;
    int64_t scans = 0;
};
inline bool same(const Figures& a, const Figures& b) { return a.sum == b.sum && a.scans == b.scans; }

// Processor time in milliseconds.
inline double processorMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

inline void load(const NetworkSpec& spec) {
    GeneratedNetwork net = generateNetwork(spec);
    num_nodes = net.nodes;
    num_arcs = static_cast<int32_t>(net.arcs.size());
    buildArcTable(net.arcs, net.nodes, program_network);
    one_to_all_distance.assign(static_cast<size_t>(num_nodes), 0);
    prepareEngine();
}

// One sweep of this program's engine over the loaded network.
inline Figures oursOnce() {
    sweepSources();
    Figures f;
    for (int128 x : one_to_all_distance) f.sum += x;
    f.scans = trivial_triple_comparisons;
    return f;
}
