#include "peers.h"

#include <limits>

#ifdef SPC_HAVE_BGL
#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/dijkstra_shortest_paths.hpp>
#endif
#ifdef SPC_HAVE_LEMON
#include <lemon/dijkstra.h>
#include <lemon/static_graph.h>
#endif
#ifdef SPC_HAVE_IGRAPH
#include <igraph/igraph.h>
#endif

namespace {

// Figures from labels indexed 0..n-1, `unreached` for nodes not reached.
template <typename Label>
Figures figuresOf(const std::vector<Label>& label, Label unreached) {
    Figures f;
    for (size_t v = 0; v < label.size(); ++v) {
        if (label[v] == unreached) continue;
        f.sum += static_cast<int64_t>(label[v]);
        f.scans += point[v + 1] - point[v];
    }
    return f;
}

#ifdef SPC_HAVE_BGL
// BGL's Dijkstra on a compressed sparse row graph.
class BglPeer : public Peer {
public:
    using Graph = boost::compressed_sparse_row_graph<boost::directedS, boost::no_property, int64_t>;
    BglPeer() : dist_(static_cast<size_t>(num_nodes)) {
        std::vector<std::pair<int32_t, int32_t>> edges;
        std::vector<int64_t> weights;
        for (int32_t u = 1; u <= num_nodes; ++u) {
            for (int32_t e = point[u - 1]; e < point[u]; ++e) {
                edges.emplace_back(u - 1, graph_head[e] - 1);
                weights.push_back(graph_length[e]);
            }
        }
        graph_ = Graph(boost::edges_are_sorted, edges.begin(), edges.end(), weights.begin(),
                       static_cast<size_t>(num_nodes));
    }
    const char* name() const override { return "BGL"; }
    void run(int32_t s) override {
        boost::dijkstra_shortest_paths(
            graph_, static_cast<size_t>(s - 1),
            boost::distance_map(boost::make_iterator_property_map(dist_.begin(), boost::get(boost::vertex_index, graph_)))
                .weight_map(boost::get(boost::edge_bundle, graph_))
                .distance_inf(std::numeric_limits<int64_t>::max()));
    }
    Figures figures() const override { return figuresOf(dist_, std::numeric_limits<int64_t>::max()); }

private:
    Graph graph_;
    std::vector<int64_t> dist_;
};
#endif

#ifdef SPC_HAVE_LEMON
// LEMON's Dijkstra on its static digraph, the fastest of its graphs.
class LemonPeer : public Peer {
public:
    using Graph = lemon::StaticDigraph;
    using Lengths = Graph::ArcMap<int64_t>;
    LemonPeer() {
        std::vector<std::pair<int, int>> arcs;
        for (int32_t u = 1; u <= num_nodes; ++u) {
            for (int32_t e = point[u - 1]; e < point[u]; ++e) arcs.emplace_back(u - 1, graph_head[e] - 1);
        }
        graph_.build(num_nodes, arcs.begin(), arcs.end());
        lengths_ = std::make_unique<Lengths>(graph_);
        for (size_t e = 0; e < graph_head.size(); ++e) (*lengths_)[graph_.arc(static_cast<int>(e))] = graph_length[e];
        dijkstra_ = std::make_unique<lemon::Dijkstra<Graph, Lengths>>(graph_, *lengths_);
    }
    const char* name() const override { return "LEMON"; }
    void run(int32_t s) override { dijkstra_->run(graph_.node(s - 1)); }
    Figures figures() const override {
        Figures f;
        for (int v = 0; v < num_nodes; ++v) {
            if (!dijkstra_->reached(graph_.node(v))) continue;
            f.sum += dijkstra_->dist(graph_.node(v));
            f.scans += point[static_cast<size_t>(v) + 1] - point[static_cast<size_t>(v)];
        }
        return f;
    }

private:
    Graph graph_;
    std::unique_ptr<Lengths> lengths_;
    std::unique_ptr<lemon::Dijkstra<Graph, Lengths>> dijkstra_;
};
#endif

#ifdef SPC_HAVE_IGRAPH
// igraph's Dijkstra from one source to all, into a one-row matrix.
class IgraphPeer : public Peer {
public:
    IgraphPeer() {
        igraph_vector_int_t edges;
        igraph_vector_int_init(&edges, 2 * static_cast<igraph_integer_t>(graph_head.size()));
        igraph_vector_init(&weights_, static_cast<igraph_integer_t>(graph_head.size()));
        igraph_integer_t at = 0;
        for (int32_t u = 1; u <= num_nodes; ++u) {
            for (int32_t e = point[u - 1]; e < point[u]; ++e) {
                VECTOR(edges)[2 * at] = u - 1;
                VECTOR(edges)[2 * at + 1] = graph_head[e] - 1;
                VECTOR(weights_)[at++] = graph_length[e];
            }
        }
        igraph_create(&graph_, &edges, num_nodes, IGRAPH_DIRECTED);
        igraph_vector_int_destroy(&edges);
        igraph_matrix_init(&distances_, 1, num_nodes);
    }
    ~IgraphPeer() override {
        igraph_matrix_destroy(&distances_);
        igraph_vector_destroy(&weights_);
        igraph_destroy(&graph_);
    }
    const char* name() const override { return "igraph"; }
    void run(int32_t s) override {
        igraph_distances_dijkstra(&graph_, &distances_, igraph_vss_1(s - 1), igraph_vss_all(), &weights_, IGRAPH_OUT);
    }
    Figures figures() const override {
        Figures f;
        for (int v = 0; v < num_nodes; ++v) {
            const double x = MATRIX(distances_, 0, v);
            if (x == IGRAPH_INFINITY) continue;
            f.sum += static_cast<int64_t>(x);  // exact: below 2^53
            f.scans += point[static_cast<size_t>(v) + 1] - point[static_cast<size_t>(v)];
        }
        return f;
    }

private:
    igraph_t graph_{};
    igraph_vector_t weights_{};
    igraph_matrix_t distances_{};
};
#endif

}  // namespace

std::vector<std::unique_ptr<Peer>> peersOverLoadedNetwork() {
    std::vector<std::unique_ptr<Peer>> peers;
#ifdef SPC_HAVE_BGL
    peers.push_back(std::make_unique<BglPeer>());
#endif
#ifdef SPC_HAVE_LEMON
    peers.push_back(std::make_unique<LemonPeer>());
#endif
#ifdef SPC_HAVE_IGRAPH
    peers.push_back(std::make_unique<IgraphPeer>());
#endif
    return peers;
}

std::vector<std::string> missingPeers() {
    std::vector<std::string> missing;
#ifndef SPC_HAVE_BGL
    missing.push_back("the Boost Graph Library (libboost-graph-dev)");
#endif
#ifndef SPC_HAVE_LEMON
    missing.push_back("LEMON (liblemon-dev)");
#endif
#ifndef SPC_HAVE_IGRAPH
    missing.push_back("igraph (libigraph-dev)");
#endif
    return missing;
}
