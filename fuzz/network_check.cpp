#include "network_check.h"

#include <sstream>
#include <string>

#include "program/program_engine.h"
#include "loader/network_loader.h"
#include "program/program_loader.h"
#include "reference_engine.h"
#include "report/report.h"
#include "state/program_state.h"
#include "sweep/sweep.h"

namespace {

// Networks up to this size are swept as well as loaded.
constexpr int32_t kSweptNodes = 64;
constexpr int32_t kSweptArcs = 4096;
// Networks up to this size without negative lengths have every run's labels
// checked by their certificate.
constexpr int32_t kCertifiedNodes = 512;

// The expectations broken by the current input, each once.
std::vector<std::string>* broken = nullptr;

void expect(bool holds, const std::string& what) {
    if (holds) return;
    for (const std::string& b : *broken) {
        if (b == what) return;
    }
    broken->push_back(what);
}

// Checks the arc table; false when it is too broken to sweep (or to check
// further) without reading outside its arrays.
bool checkArcTable() {
    const size_t n = static_cast<size_t>(num_nodes);
    const size_t m = static_cast<size_t>(num_arcs);
    expect(num_nodes >= 1 && num_arcs >= 0, "an accepted network has nodes and no negative arc count");
    expect(point.size() == n + 1, "point has num_nodes + 1 entries");
    expect(graph_head.size() == m && graph_length.size() == m, "the arc table has num_arcs slots");
    if (num_nodes < 1 || num_arcs < 0 || point.size() != n + 1 || graph_head.size() != m || graph_length.size() != m) {
        return false;
    }
    expect(point[0] == 0 && point[n] == num_arcs, "the ranges start at 0 and end at num_arcs");
    bool sound = point[0] == 0 && point[n] == num_arcs;
    for (size_t u = 1; u <= n && sound; ++u) {
        expect(point[u - 1] <= point[u], "the ranges do not decrease");
        sound = point[u - 1] <= point[u];
        for (int32_t e = point[u - 1]; e < point[u] && sound; ++e) {
            expect(graph_head[e] >= 1 && graph_head[e] <= num_nodes, "every head is a node");
            sound = graph_head[e] >= 1 && graph_head[e] <= num_nodes;
            if (e > point[u - 1]) {
                const bool ordered = graph_head[e - 1] < graph_head[e] ||
                                     (graph_head[e - 1] == graph_head[e] && graph_length[e - 1] <= graph_length[e]);
                expect(ordered, "a node's arcs are ordered by head, then length");
            }
        }
    }
    return sound;
}

void checkMessage() {
    expect(!load_error.empty(), "a rejected file has a reason");
    for (char c : load_error) expect(c >= 0x20 && c < 0x7f, "the reason is printable text");
    expect(num_nodes == 0 && num_arcs == 0, "a rejected file leaves no network");
}

// Labels are shortest-path lengths when no arc out of a reached node offers
// a shorter way (d(v) <= d(u) + w), and every reached node but the source
// has an arc in that gives its label (d(v) = d(u) + w). This needs no other
// engine; it holds for non-negative lengths.
void checkCertificate(int32_t source) {
    expect(d[static_cast<size_t>(source) - 1] == 0, "the source's label is 0");
    std::vector<bool> explained(static_cast<size_t>(num_nodes), false);
    explained[static_cast<size_t>(source) - 1] = true;
    for (int32_t u = 1; u <= num_nodes; ++u) {
        const int64_t du = d[static_cast<size_t>(u) - 1];
        if (du == M) continue;
        for (int32_t e = point[u - 1]; e < point[u]; ++e) {
            const size_t v = static_cast<size_t>(graph_head[e]) - 1;
            expect(d[v] <= du + graph_length[e], "no arc from a reached node offers a shorter way");
            if (d[v] == du + graph_length[e]) explained[v] = true;
        }
    }
    for (size_t v = 0; v < explained.size(); ++v) {
        expect(d[v] == M || explained[v], "every reached node has an arc in that gives its label");
    }
}

void checkCertificates() {
    for (int32_t length : graph_length) {
        if (length < 0) return;
    }
    for (int32_t s = 1; s <= num_nodes; ++s) {
        user_source_node = s;
        heap();
        checkCertificate(s);
    }
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

std::vector<std::string> checkNetworkInput(const uint8_t* data, size_t size) {
    std::vector<std::string> broken_here;
    broken = &broken_here;
    const uint64_t saved_limit = memory_limit;
    memory_limit = kFuzzMemoryLimit;
    std::stringbuf input(std::string(reinterpret_cast<const char*>(data), size), std::ios::in);
    const bool accepted = loadNetwork(input);
    memory_limit = saved_limit;
    expect(accepted == load_error.empty(), "a network is accepted exactly when there is no reason to reject it");
    if (!accepted) {
        checkMessage();
    } else {
        const bool sound = checkArcTable();
        if (sound && num_nodes <= kSweptNodes && num_arcs <= kSweptArcs) checkSweep();
        if (sound && num_nodes <= kCertifiedNodes && num_arcs <= kSweptArcs) checkCertificates();
    }
    broken = nullptr;
    return broken_here;
}
