// What the benchmarks share: loading a seeded network, one sweep of this
// program's engine, and the Boost Graph Library's Dijkstra as the peer (when
// Boost is there, SPC_HAVE_BGL).
#pragma once

#include <cstdint>
#include <ctime>
#include <limits>
#include <utility>
#include <vector>

#include "engine/shortest_path.h"
#include "generator/network_generator.h"
#include "loader/network_loader.h"
#include "sweep/sweep.h"

#ifdef SPC_HAVE_BGL
#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/dijkstra_shortest_paths.hpp>
#endif

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
    buildArcTable(net.arcs, net.nodes);
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

#ifdef SPC_HAVE_BGL
using BglGraph = boost::compressed_sparse_row_graph<boost::directedS, boost::no_property, int64_t>;

// The loaded network as BGL's compressed sparse row graph.
inline BglGraph bglGraph() {
    std::vector<std::pair<int32_t, int32_t>> edges;
    std::vector<int64_t> weights;
    for (int32_t u = 1; u <= num_nodes; ++u) {
        for (int32_t e = point[u - 1]; e < point[u]; ++e) {
            edges.emplace_back(u - 1, graph_head[e] - 1);
            weights.push_back(graph_length[e]);
        }
    }
    return BglGraph(boost::edges_are_sorted, edges.begin(), edges.end(), weights.begin(),
                    static_cast<size_t>(num_nodes));
}

// BGL's labels from source s (0-based) into dist.
inline void bglRun(const BglGraph& g, std::vector<int64_t>& dist, size_t s) {
    boost::dijkstra_shortest_paths(
        g, s,
        boost::distance_map(boost::make_iterator_property_map(dist.begin(), boost::get(boost::vertex_index, g)))
            .weight_map(boost::get(boost::edge_bundle, g))
            .distance_inf(std::numeric_limits<int64_t>::max()));
}

// One BGL sweep; dist has a slot per node.
inline Figures bglOnce(const BglGraph& g, std::vector<int64_t>& dist) {
    Figures f;
    const auto n = boost::num_vertices(g);
    const int64_t inf = std::numeric_limits<int64_t>::max();
    for (size_t s = 0; s < n; ++s) {
        bglRun(g, dist, s);
        for (size_t v = 0; v < n; ++v) {
            if (dist[v] == inf) continue;
            f.sum += dist[v];
            f.scans += static_cast<int64_t>(boost::out_degree(v, g));
        }
    }
    return f;
}
#endif
