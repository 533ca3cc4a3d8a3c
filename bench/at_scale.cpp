#include "at_scale.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "peers.h"
#include "sweep_engines.h"

namespace {

struct ScaleNetwork {
    const char* name;
    NetworkSpec spec;
    bool largest = false;  // measured only when asked for (--largest)
};

// Grids and road-like networks of about 100,000, 264,000 and 1,000,000 nodes;
// random networks of those sizes with 2.8 and 5 arcs a node; and, below the
// 16-bit id limit, random networks with 5 arcs a node.
const std::vector<ScaleNetwork>& scaleNetworks() {
    static const std::vector<ScaleNetwork> list = {
        {"grid316x316", {"grid", 316, 316, 11, 1, 10000}},
        {"grid514x514", {"grid", 514, 514, 12, 1, 10000}},
        {"grid1000x1000", {"grid", 1000, 1000, 13, 1, 10000}},
        {"road316x316", {"road", 316, 316, 14, 1, 12000}},
        {"road514x514", {"road", 514, 514, 15, 1, 12000}},
        {"road1000x1000", {"road", 1000, 1000, 16, 1, 12000}},
        {"random20k-m5n", {"random", 20000, 100000, 17, 1, 10000}},
        {"random50k-m5n", {"random", 50000, 250000, 18, 1, 10000}},
        {"random65k-m5n", {"random", 65000, 325000, 19, 1, 10000}},
        {"random66k-m2.8n", {"random", 66000, 184800, 20, 1, 10000}},
        {"random66k-m5n", {"random", 66000, 330000, 21, 1, 10000}},
        {"random100k-m2.8n", {"random", 100000, 280000, 22, 1, 10000}},
        {"random100k-m5n", {"random", 100000, 500000, 23, 1, 10000}},
        {"random264k-m2.8n", {"random", 264000, 739200, 24, 1, 10000}},
        {"random264k-m5n", {"random", 264000, 1320000, 25, 1, 10000}},
        {"random1M-m2.8n", {"random", 1000000, 2800000, 26, 1, 10000}},
        {"random1M-m5n", {"random", 1000000, 5000000, 27, 1, 10000}},
        // The size of a country's road network (about 7 GB with every peer's
        // copy; minutes a source for them all).
        {"road4900x4900", {"road", 4900, 4900, 9, 1, 10000}, true},
    };
    return list;
}

struct Row {
    int32_t nodes = 0;
    int32_t arcs = 0;
    std::string widths;
    double ours_ms = 0;  // per source
    std::vector<std::pair<std::string, double>> peer_ms;  // per source, each peer
    ScanTally tally;  // per source
    bool checked = true;
};
std::map<std::string, Row>& rows() {
    static std::map<std::string, Row> all;
    return all;
}

// Evenly spaced sources 1 + i * n / K.
std::vector<int32_t> spacedSources(int32_t n, int k) {
    std::vector<int32_t> sources;
    for (int i = 0; i < k; ++i) {
        const int32_t s = static_cast<int32_t>(1 + int64_t{i} * n / k);
        if (sources.empty() || s != sources.back()) sources.push_back(s);
    }
    return sources;
}

// Our run from s: its figures, and the processor milliseconds it took.
Figures oursFrom(int32_t s, double& ms) {
    trivial_triple_comparisons = 0;
    user_source_node = s;
    const double start = processorMs();
    heap();
    ms = processorMs() - start;
    return {settled_sum, trivial_triple_comparisons};
}

void BM_AtScale(benchmark::State& state, const ScaleNetwork& net, AtScaleOptions options) {
    setShadowFrom(options.shadow_from >= 0 ? options.shadow_from : kDefaultShadowFrom);
    load(net.spec);
    Row row;
    row.nodes = num_nodes;
    row.arcs = num_arcs;
    row.widths = std::string(instructionSetName(currentInstructionSet())) + ", " + widthsName(engineWidthsInUse());
    const std::vector<int32_t> sources = spacedSources(num_nodes, options.sources);
    const auto peers = peersOverLoadedNetwork();
    const size_t engines = peers.size() + 1;  // ours is engine 0
    const double never = std::numeric_limits<double>::infinity();
    std::vector<std::vector<double>> best(engines, std::vector<double>(sources.size(), never));
    for (auto _ : state) {
        for (int pass = 0; pass < options.passes; ++pass) {
            for (size_t i = 0; i < sources.size(); ++i) {
                // Taking turns at going first, as in the paired sweeps; every
                // peer's figures checked against ours.
                Figures ours;
                for (size_t turn = 0; turn < engines; ++turn) {
                    const size_t e = (turn + i + static_cast<size_t>(pass)) % engines;
                    double ms = 0;
                    if (e == 0) {
                        ours = oursFrom(sources[i], ms);
                    } else {
                        const double start = processorMs();
                        peers[e - 1]->run(sources[i]);
                        ms = processorMs() - start;
                    }
                    best[e][i] = std::min(best[e][i], ms);
                }
                for (const auto& peer : peers) row.checked = row.checked && same(ours, peer->figures());
            }
        }
    }
    if (!row.checked) state.SkipWithError("the engines' figures differ");
    for (int32_t s : sources) {
        user_source_node = s;
        const ScanTally t = heapTallied();
        row.tally.scans += t.scans;
        row.tally.positions += t.positions;
        row.tally.bytes += t.bytes;
    }
    const double k = static_cast<double>(sources.size());
    for (size_t i = 0; i < sources.size(); ++i) row.ours_ms += best[0][i] / k;
    state.counters["ours_ms"] = row.ours_ms;
    for (size_t e = 1; e < engines; ++e) {
        double ms = 0;
        for (size_t i = 0; i < sources.size(); ++i) ms += best[e][i] / k;
        row.peer_ms.emplace_back(peers[e - 1]->name(), ms);
        state.counters[std::string(peers[e - 1]->name()) + "_ms"] = ms;
        state.counters["ours/" + std::string(peers[e - 1]->name())] = row.ours_ms / ms;
    }
    row.tally.scans = static_cast<int64_t>(static_cast<double>(row.tally.scans) / k);
    row.tally.positions = static_cast<int64_t>(static_cast<double>(row.tally.positions) / k);
    row.tally.bytes = static_cast<int64_t>(static_cast<double>(row.tally.bytes) / k);
    state.SetLabel(row.widths);
    rows()[net.name] = row;
}

template <typename T>
bool takeNumber(const char* arg, const char* name, T& out, T least) {
    const size_t len = std::strlen(name);
    if (std::strncmp(arg, name, len) != 0) return false;
    out = std::max<T>(least, std::atoll(arg + len));
    return true;
}

}  // namespace

bool takeAtScaleArguments(int& argc, char** argv, AtScaleOptions& options) {
    bool at_scale = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--at-scale") == 0) {
            at_scale = true;
        } else if (std::strcmp(argv[i], "--largest") == 0) {
            options.largest = true;
        } else if (!takeNumber(argv[i], "--sources=", options.sources, 1) &&
                   !takeNumber(argv[i], "--passes=", options.passes, 1) &&
                   !takeNumber(argv[i], "--shadow-from=", options.shadow_from, 0LL)) {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return at_scale;
}

void registerAtScaleBenchmarks(const AtScaleOptions& options) {
    for (const ScaleNetwork& net : scaleNetworks()) {
        if (net.largest && !options.largest) continue;
        benchmark::RegisterBenchmark((std::string("AtScale/") + net.name).c_str(), BM_AtScale, net, options)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
}

void printAtScaleTable() {
    for (const std::string& missing : missingPeers()) std::printf("\nBuilt without %s: no comparison with it.", missing.c_str());
    std::vector<std::string> peers;
    if (!rows().empty()) {
        for (const auto& [name, ms] : rows().begin()->second.peer_ms) peers.push_back(name);
    }
    std::printf("\n%-18s %9s %9s %-30s %10s", "network", "nodes", "arcs", "engine", "ours ms/s");
    for (const std::string& p : peers) std::printf(" %10s", (p + " ms/s").c_str());
    for (const std::string& p : peers) std::printf(" %11s", ("ours/" + p).c_str());
    std::printf(" %9s %12s %9s %8s\n", "scans/s", "positions/s", "MB/s", "GB/sec");
    for (const ScaleNetwork& net : scaleNetworks()) {
        const auto it = rows().find(net.name);
        if (it == rows().end()) continue;
        const Row& r = it->second;
        const double mb = static_cast<double>(r.tally.bytes) / 1e6;
        std::printf("%-18s %9d %9d %-30s %10.2f", net.name, r.nodes, r.arcs, r.widths.c_str(), r.ours_ms);
        for (const auto& [name, ms] : r.peer_ms) std::printf(" %10.2f", ms);
        for (const auto& [name, ms] : r.peer_ms) std::printf(" %11.3f", ms > 0 ? r.ours_ms / ms : 0.0);
        std::printf(" %9lld %12lld %9.1f %8.1f%s\n", static_cast<long long>(r.tally.scans),
                    static_cast<long long>(r.tally.positions), mb, r.ours_ms > 0 ? mb / r.ours_ms : 0.0,
                    r.checked ? "" : "  FIGURES DIFFER");
    }
    std::printf("\nPer source (/s), the average over the sources, each the fastest of its passes; MB: the\n"
                "heap-scan bytes read per source; GB/sec: those bytes over our whole run's time, a lower\n"
                "bound on the scan's own rate.\n");
}
