// Helpers shared by the tests: loading networks from text or arcs, and reading
// the arc table back as triples.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "loader/network_loader.h"
#include "program/program_loader.h"
#include "state/program_state.h"

// The whole content of a file; empty when it cannot be read.
inline std::string readAllBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Loads a network from its text; true when it was accepted.
inline bool loadText(const std::string& text) {
    std::stringbuf buffer(text, std::ios::in);
    return loadNetwork(buffer);
}

// Loads a network straight from its arcs, as the reader would after checking them.
inline void loadArcs(int32_t nodes, std::vector<ArcTriple> arcs) {
    num_nodes = nodes;
    num_arcs = static_cast<int32_t>(arcs.size());
    buildArcTable(arcs, nodes, program_network);
}

// The arc table as (tail, head, length) triples in slot order.
inline std::vector<ArcTriple> arcTable() {
    std::vector<ArcTriple> arcs;
    for (int32_t u = 1; u <= num_nodes; ++u) {
        for (int32_t e = point[u - 1]; e < point[u]; ++e) arcs.push_back({u, graph_head[e], graph_length[e]});
    }
    return arcs;
}
