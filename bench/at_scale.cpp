#include "at_scale.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "sweep_engines.h"

namespace {

struct ScaleNetwork {
    const char* name;
    NetworkSpec spec;
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
    };
    return list;
}

struct Row {
    int32_t nodes = 0;
    int32_t arcs = 0;
    std::string widths;
    double ours_ms = 0;  // per source
    double bgl_ms = 0;
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
    const double never = std::numeric_limits<double>::infinity();
    std::vector<double> ours(sources.size(), never), bgl(sources.size(), never);
#ifdef SPC_HAVE_BGL
    const BglGraph g = bglGraph();
    std::vector<int64_t> dist(static_cast<size_t>(num_nodes));
#endif
    for (auto _ : state) {
        for (int pass = 0; pass < options.passes; ++pass) {
            for (size_t i = 0; i < sources.size(); ++i) {
                // Taking turns at going first, as in the paired sweeps.
                for (int turn = 0; turn < 2; ++turn) {
                    if ((turn + i + static_cast<size_t>(pass)) % 2 == 0) {
                        double ms = 0;
                        const Figures f = oursFrom(sources[i], ms);
                        ours[i] = std::min(ours[i], ms);
#ifdef SPC_HAVE_BGL
                        Figures b;
                        bglRun(g, dist, static_cast<size_t>(sources[i] - 1));
                        for (size_t v = 0; v < dist.size(); ++v) {
                            if (dist[v] == std::numeric_limits<int64_t>::max()) continue;
                            b.sum += dist[v];
                            b.scans += point[v + 1] - point[v];
                        }
                        row.checked = row.checked && same(f, b);
#else
                        (void)f;
#endif
                    } else {
#ifdef SPC_HAVE_BGL
                        const double start = processorMs();
                        bglRun(g, dist, static_cast<size_t>(sources[i] - 1));
                        bgl[i] = std::min(bgl[i], processorMs() - start);
                        benchmark::DoNotOptimize(dist.data());
#endif
                    }
                }
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
    for (size_t i = 0; i < sources.size(); ++i) {
        row.ours_ms += ours[i] / k;
        if (bgl[i] != never) row.bgl_ms += bgl[i] / k;
    }
    row.tally.scans = static_cast<int64_t>(static_cast<double>(row.tally.scans) / k);
    row.tally.positions = static_cast<int64_t>(static_cast<double>(row.tally.positions) / k);
    row.tally.bytes = static_cast<int64_t>(static_cast<double>(row.tally.bytes) / k);
    state.counters["ours_ms"] = row.ours_ms;
    state.counters["BGL_ms"] = row.bgl_ms;
    if (row.bgl_ms > 0) state.counters["ours/BGL"] = row.ours_ms / row.bgl_ms;
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
        benchmark::RegisterBenchmark((std::string("AtScale/") + net.name).c_str(), BM_AtScale, net, options)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
}

void printAtScaleTable() {
    std::printf("\n%-18s %9s %9s %-30s %10s %10s %9s %9s %12s %9s %8s\n", "network", "nodes", "arcs", "engine",
                "ours ms/s", "BGL ms/s", "ours/BGL", "scans/s", "positions/s", "MB/s", "GB/sec");
    for (const ScaleNetwork& net : scaleNetworks()) {
        const auto it = rows().find(net.name);
        if (it == rows().end()) continue;
        const Row& r = it->second;
        const double mb = static_cast<double>(r.tally.bytes) / 1e6;
        std::printf("%-18s %9d %9d %-30s %10.2f %10.2f %9.3f %9lld %12lld %9.1f %8.1f%s\n", net.name, r.nodes, r.arcs,
                    r.widths.c_str(), r.ours_ms, r.bgl_ms, r.bgl_ms > 0 ? r.ours_ms / r.bgl_ms : 0.0,
                    static_cast<long long>(r.tally.scans), static_cast<long long>(r.tally.positions), mb,
                    r.ours_ms > 0 ? mb / r.ours_ms : 0.0, r.checked ? "" : "  FIGURES DIFFER");
    }
    std::printf("\nPer source (/s), the average over the sources; MB: the heap-scan bytes read per source;\n"
                "GB/sec: those bytes over our whole run's time, a lower bound on the scan's own rate.\n");
}
