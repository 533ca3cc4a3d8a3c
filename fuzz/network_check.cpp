#include "network_check.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "network_loader.h"
#include "program_state.h"
#include "reference_engine.h"
#include "shortest_path.h"

namespace {

// Networks up to this size are swept as well as loaded.
constexpr int32_t kSweptNodes = 64;
constexpr int32_t kSweptArcs = 4096;

void expect(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "broken expectation: %s\n", what);
    std::abort();
}

void checkArcTable() {
    const size_t n = static_cast<size_t>(num_nodes);
    expect(num_nodes >= 1 && num_arcs >= 0, "an accepted network has nodes and no negative arc count");
    expect(point.size() == n + 1, "point has num_nodes + 1 entries");
    expect(graph_head.size() == static_cast<size_t>(num_arcs) && graph_length.size() == graph_head.size(),
           "the arc table has num_arcs slots");
    expect(point[0] == 0 && point[n] == num_arcs, "the ranges start at 0 and end at num_arcs");
    for (size_t u = 1; u <= n; ++u) {
        expect(point[u - 1] <= point[u], "the ranges do not decrease");
        for (int32_t e = point[u - 1]; e < point[u]; ++e) {
            expect(graph_head[e] >= 1 && graph_head[e] <= num_nodes, "every head is a node");
            if (e > point[u - 1]) {
                const bool ordered = graph_head[e - 1] < graph_head[e] ||
                                     (graph_head[e - 1] == graph_head[e] && graph_length[e - 1] <= graph_length[e]);
                expect(ordered, "a node's arcs are ordered by head, then length");
            }
        }
    }
}

void checkMessage() {
    expect(!load_error.empty(), "a rejected file has a reason");
    for (char c : load_error) expect(c >= 0x20 && c < 0x7f, "the reason is printable text");
    expect(num_nodes == 0 && num_arcs == 0, "a rejected file leaves no network");
}

void checkSweep() {
    const SweepResult result = sweepAllSources();
    const int64_t sweep_scans = trivial_triple_comparisons;
    expect(nontrivial_triple_comparisons == tripleCount(num_nodes) - sweep_scans,
           "the nontrivial count is n(n-1)(n-2) less the arc scans");
    int128 sum = 0;
    ReferenceRun reference;
    for (int32_t s = 1; s <= num_nodes; ++s) {
        reference.run(s);
        user_source_node = s;
        heap();
        expect(d == reference.label, "labels equal the reference engine's");
        for (int64_t x : reference.label) sum += x != M ? x : 0;
    }
    expect(result.sum_of_distances == sum, "the sum of distances equals the reference engine's");
    expect(sweep_scans == reference.scans, "the arc-scan count equals the reference engine's");
}

}  // namespace

void checkNetworkInput(const uint8_t* data, size_t size) {
    const uint64_t saved_limit = memory_limit;
    memory_limit = kFuzzMemoryLimit;
    std::stringbuf input(std::string(reinterpret_cast<const char*>(data), size), std::ios::in);
    const bool accepted = loadNetwork(input);
    memory_limit = saved_limit;
    expect(accepted == load_error.empty(), "a network is accepted exactly when there is no reason to reject it");
    if (!accepted) {
        checkMessage();
        return;
    }
    checkArcTable();
    if (num_nodes <= kSweptNodes && num_arcs <= kSweptArcs) checkSweep();
}
