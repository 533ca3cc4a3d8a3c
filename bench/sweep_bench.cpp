// Time of one all-sources sweep on seeded networks: this program's engine, the
// plain reference engine of the tests, and the peers built in (the Boost Graph
// Library, LEMON, igraph: peers.h).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include <unistd.h>

#include <cstring>

#include "at_scale.h"
#include "reference_engine.h"
#include "peers.h"
#include "sweep_engines.h"
#include "test_support.h"

namespace {

struct Family {
    const char* name;
    NetworkSpec spec;
};

const std::vector<Family>& families() {
    static const std::vector<Family> list = {
        {"grid55x55", {"grid", 55, 55, 1, 1, 10000}},
        {"random2000x10000", {"random", 2000, 10000, 2, 1, 10000}},
        {"random2000x40000", {"random", 2000, 40000, 3, 1, 10000}},
        {"random1000x100000", {"random", 1000, 100000, 4, 1, 10000}},
        // Wide lengths: labels outgrow 32 bits on these by any simple bound.
        {"grid55x55-1e6", {"grid", 55, 55, 5, 1, 1000000}},
        {"grid55x55-1e8", {"grid", 55, 55, 6, 1, 100000000}},
        {"random2000x40000-1e6", {"random", 2000, 40000, 7, 1, 1000000}},
        {"random2000x40000-1e8", {"random", 2000, 40000, 8, 1, 100000000}},
        // Road-like: about 2.7 arcs per node and long paths, lengths like a
        // city's in metres, and twenty times those.
        {"road58x58", {"road", 58, 58, 9, 1, 12000}},
        {"road58x58-x20", {"road", 58, 58, 10, 20, 240000}},
    };
    return list;
}

Figures referenceOnce() {
    Figures f;
    ReferenceRun run;
    for (int32_t s = 1; s <= num_nodes; ++s) {
        run.run(s);
        for (int64_t x : run.label) f.sum += x != M ? x : 0;
    }
    f.scans = run.scans;
    return f;
}

// Sources per chunk of the paired sweep: long enough for the clock, short
// against the spells of a shared machine.
constexpr int32_t kPairChunk = 16;

// Our runs from the sources first..last.
void oursFrom(int32_t first, int32_t last) {
    for (int32_t s = first; s <= last; ++s) {
        user_source_node = s;
        heap();
    }
}

// The reference engine's figures for a family, computed once for all repetitions.
const Figures& referenceFigures(const Family& family) {
    static std::map<std::string, Figures> figures;
    const auto it = figures.find(family.name);
    if (it != figures.end()) return it->second;
    return figures[family.name] = referenceOnce();
}

void BM_Ours(benchmark::State& state, const Family& family) {
    load(family.spec);
    if (!same(oursOnce(), referenceFigures(family))) state.SkipWithError("figures differ from the reference engine");
    for (auto _ : state) benchmark::DoNotOptimize(oursOnce());
    state.SetLabel(std::string(instructionSetName(currentInstructionSet())) + ", " + widthsName(engineWidthsInUse()));
}

void BM_Reference(benchmark::State& state, const Family& family) {
    load(family.spec);
    for (auto _ : state) benchmark::DoNotOptimize(referenceOnce());
}

// One peer's whole sweeps, its figures checked against the reference engine's.
void BM_Peer(benchmark::State& state, const Family& family, size_t which) {
    load(family.spec);
    const auto peers = peersOverLoadedNetwork();
    Peer& peer = *peers[which];
    if (!same(peerSweep(peer), referenceFigures(family))) {
        state.SkipWithError((std::string(peer.name()) + "'s sum or arc count differs from ours").c_str());
    }
    for (auto _ : state) benchmark::DoNotOptimize(peerSweep(peer));
}

// Our engine and every peer over the same sources in alternating chunks, so
// that a slow spell of the machine falls on all alike, which separate runs
// cannot promise; the order turns from chunk to chunk. Each iteration is one
// sweep of each; per chunk, the fastest iteration counts. The figures were
// checked by BM_Ours and BM_Peer.
void BM_Paired(benchmark::State& state, const Family& family) {
    load(family.spec);
    const auto peers = peersOverLoadedNetwork();
    const size_t engines = peers.size() + 1;  // ours is engine 0
    const int32_t chunks = (num_nodes + kPairChunk - 1) / kPairChunk;
    const double never = std::numeric_limits<double>::infinity();
    std::vector<std::vector<double>> best(engines, std::vector<double>(static_cast<size_t>(chunks), never));
    for (auto _ : state) {
        for (int32_t c = 0; c < chunks; ++c) {
            const int32_t first = c * kPairChunk + 1;
            const int32_t last = std::min(num_nodes, first + kPairChunk - 1);
            for (size_t turn = 0; turn < engines; ++turn) {
                const size_t e = (turn + static_cast<size_t>(c)) % engines;
                const double start = processorMs();
                if (e == 0) {
                    oursFrom(first, last);
                } else {
                    runPeer(*peers[e - 1], first, last);
                }
                double& b = best[e][static_cast<size_t>(c)];
                b = std::min(b, processorMs() - start);
            }
        }
    }
    const double ours = std::accumulate(best[0].begin(), best[0].end(), 0.0);
    state.counters["ours_ms"] = ours;
    for (size_t e = 1; e < engines; ++e) {
        const double theirs = std::accumulate(best[e].begin(), best[e].end(), 0.0);
        state.counters[std::string(peers[e - 1]->name()) + "_ms"] = theirs;
        state.counters["ours/" + std::string(peers[e - 1]->name())] = ours / theirs;
    }
}

// Collects the time per sweep of each run for the ratio table at the end: the
// fastest of the repetitions, as the others were slowed by whatever else the
// machine was doing. Colours only on a terminal. Google Benchmark's own lines
// only with --raw; otherwise one progress line per benchmark on standard
// error, and the table at the end is all that standard output gets.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(bool raw)
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular), raw_(raw) {}
    bool ReportContext(const Context& context) override { return !raw_ || ConsoleReporter::ReportContext(context); }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const double t = run.GetAdjustedCPUTime() / 1e6;
            auto [it, added] = ms.emplace(run.run_name.function_name, t);
            if (!added && t < it->second) it->second = t;
            for (const auto& [counter, value] : run.counters) {
                if (counter.rfind("ours/", 0) == 0) paired[run.run_name.function_name][counter.substr(5)] = value.value;
            }
            if (run.run_type == Run::RT_Iteration && !raw_) {
                std::fprintf(stderr, "[%d] %s\n", ++done_, run.benchmark_name().c_str());
            }
        }
        if (raw_) ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> ms;  // by benchmark name, CPU time in ms (time unit ns)
    // Of the paired sweeps, by benchmark name: ours over each peer's time.
    std::map<std::string, std::map<std::string, double>> paired;

private:
    bool raw_;
    int done_ = 0;
};

// Takes --raw out of the arguments; true when it was there.
bool takeRawArgument(int& argc, char** argv) {
    bool raw = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--raw") == 0) {
            raw = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return raw;
}

// Repetitions of each benchmark; the table takes the fastest.
constexpr int kRepetitions = 5;
// Sweeps of each engine in a paired benchmark.
constexpr int kPairedSweeps = 5;

// The names of the peers built in.
std::vector<std::string> peerNames() {
    loadArcs(1, {});
    std::vector<std::string> names;
    for (const auto& peer : peersOverLoadedNetwork()) names.push_back(peer->name());
    return names;
}

// The suite's table: the fastest time of each engine per network, and ours
// over each peer's time in the paired sweeps, the fastest peer's last.
void printSuiteTable(const RatioReporter& reporter) {
    for (const std::string& missing : missingPeers()) std::printf("\nBuilt without %s: no comparison with it.", missing.c_str());
    const std::vector<std::string> peers = peerNames();
    std::printf("\n%-22s %10s %12s", "network", "ours ms", "reference ms");
    for (const std::string& p : peers) std::printf(" %10s", (p + " ms").c_str());
    for (const std::string& p : peers) std::printf(" %12s", ("ours/" + p).c_str());
    std::printf(" %14s\n", "ours/fastest");
    for (const Family& f : families()) {
        auto get = [&](const std::string& kind) {
            const auto it = reporter.ms.find(kind + "/" + f.name);
            return it == reporter.ms.end() ? 0.0 : it->second;
        };
        const auto paired = reporter.paired.find(std::string("Paired/") + f.name);
        if (get("Ours") == 0 && paired == reporter.paired.end()) continue;
        std::printf("%-22s %10.2f %12.2f", f.name, get("Ours"), get("Reference"));
        for (const std::string& p : peers) std::printf(" %10.2f", get("Peer/" + p));
        double fastest = 0;
        for (const std::string& p : peers) {
            const double ratio = paired == reporter.paired.end() ? 0.0 : paired->second.count(p) ? paired->second.at(p) : 0.0;
            std::printf(" %12.3f", ratio);
            fastest = std::max(fastest, ratio);  // the largest ratio: the peer with the least time
        }
        std::printf(" %14.3f\n", fastest);
    }
    std::printf("\nTimes: the fastest of %d sweeps; ours/peer: paired sweeps, chunks of %d sources taking turns.\n",
                kRepetitions, kPairChunk);
}

void registerSuite() {
    const std::vector<std::string> peers = peerNames();
    for (const Family& f : families()) {
        auto add = [&](const std::string& name, auto function) {
            benchmark::RegisterBenchmark((name + "/" + f.name).c_str(), function)
                ->Unit(benchmark::kNanosecond)
                ->Repetitions(kRepetitions);
        };
        add("Ours", [f](benchmark::State& s) { BM_Ours(s, f); });
        add("Reference", [f](benchmark::State& s) { BM_Reference(s, f); });
        for (size_t i = 0; i < peers.size(); ++i) {
            add("Peer/" + peers[i], [f, i](benchmark::State& s) { BM_Peer(s, f, i); });
        }
        if (peers.empty()) continue;
        benchmark::RegisterBenchmark((std::string("Paired/") + f.name).c_str(), BM_Paired, f)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(kPairedSweeps);
    }
}

}  // namespace

int main(int argc, char** argv) {
    AtScaleOptions at_scale_options;
    const bool at_scale = takeAtScaleArguments(argc, argv, at_scale_options);
    const bool raw = takeRawArgument(argc, argv);
    if (at_scale) {
        registerAtScaleBenchmarks(at_scale_options);
    } else {
        registerSuite();
    }
    // Repetitions of the benchmarks take turns, so that a slow spell of the
    // machine does not fall on one engine's repetitions only. A flag on the
    // command line comes later and overrides this one.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
    RatioReporter reporter(raw);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (at_scale) {
        printAtScaleTable();
    } else {
        printSuiteTable(reporter);
    }
    benchmark::Shutdown();
    return 0;
}
