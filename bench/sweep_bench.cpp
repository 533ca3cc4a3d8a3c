// Time of one all-sources sweep on seeded networks: this program's engine, the
// plain reference engine of the tests, and (when Boost is there) the Boost
// Graph Library's Dijkstra on a compressed sparse row graph.
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
#include "sweep_engines.h"

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

#ifdef SPC_HAVE_BGL
// Sources per chunk of the paired sweep: long enough for the clock, short
// against the spells of a shared machine.
constexpr int32_t kPairChunk = 16;

// The runs of both engines from the sources first..last.
void oursFrom(int32_t first, int32_t last) {
    for (int32_t s = first; s <= last; ++s) {
        user_source_node = s;
        heap();
    }
}

void bglFrom(const BglGraph& g, std::vector<int64_t>& dist, int32_t first, int32_t last) {
    for (int32_t s = first; s <= last; ++s) bglRun(g, dist, static_cast<size_t>(s - 1));
    benchmark::DoNotOptimize(dist.data());
}
#endif

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

#ifdef SPC_HAVE_BGL
void BM_BGL(benchmark::State& state, const Family& family) {
    load(family.spec);
    const BglGraph g = bglGraph();
    std::vector<int64_t> dist(static_cast<size_t>(num_nodes));
    if (!same(bglOnce(g, dist), referenceFigures(family))) {
        state.SkipWithError("BGL's sum or arc count differs from ours");
    }
    for (auto _ : state) benchmark::DoNotOptimize(bglOnce(g, dist));
}

// Both engines over the same sources in alternating chunks, so that a slow
// spell of the machine falls on both alike, which separate runs cannot
// promise. Each iteration is one sweep of each engine; per chunk, the fastest
// iteration counts. The figures were checked by BM_Ours and BM_BGL.
void BM_Paired(benchmark::State& state, const Family& family) {
    load(family.spec);
    const BglGraph g = bglGraph();
    std::vector<int64_t> dist(static_cast<size_t>(num_nodes));
    const int32_t chunks = (num_nodes + kPairChunk - 1) / kPairChunk;
    const double never = std::numeric_limits<double>::infinity();
    std::vector<double> ours(static_cast<size_t>(chunks), never), bgl(static_cast<size_t>(chunks), never);
    for (auto _ : state) {
        for (int32_t c = 0; c < chunks; ++c) {
            const int32_t first = c * kPairChunk + 1;
            const int32_t last = std::min(num_nodes, first + kPairChunk - 1);
            // Taking turns at going first: neither always finds the caches as
            // the other left them.
            double ours_ms = 0, bgl_ms = 0;
            for (int turn = 0; turn < 2; ++turn) {
                const double start = processorMs();
                if ((turn + c) % 2 == 0) {
                    oursFrom(first, last);
                    ours_ms = processorMs() - start;
                } else {
                    bglFrom(g, dist, first, last);
                    bgl_ms = processorMs() - start;
                }
            }
            ours[static_cast<size_t>(c)] = std::min(ours[static_cast<size_t>(c)], ours_ms);
            bgl[static_cast<size_t>(c)] = std::min(bgl[static_cast<size_t>(c)], bgl_ms);
        }
    }
    const double ours_sweep = std::accumulate(ours.begin(), ours.end(), 0.0);
    const double bgl_sweep = std::accumulate(bgl.begin(), bgl.end(), 0.0);
    state.counters["ours_ms"] = ours_sweep;
    state.counters["BGL_ms"] = bgl_sweep;
    state.counters["ours/BGL"] = ours_sweep / bgl_sweep;
}
#endif

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
            const auto ratio = run.counters.find("ours/BGL");
            if (ratio != run.counters.end()) paired[run.run_name.function_name] = ratio->second.value;
            if (run.run_type == Run::RT_Iteration && !raw_) {
                std::fprintf(stderr, "[%d] %s\n", ++done_, run.benchmark_name().c_str());
            }
        }
        if (raw_) ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> ms;  // by benchmark name, CPU time in ms (time unit ns)
    std::map<std::string, double> paired;  // ours/BGL of the paired sweeps, by benchmark name

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

// The suite's table: the fastest time of each engine per network and the ratios.
void printSuiteTable(const RatioReporter& reporter) {
#ifndef SPC_HAVE_BGL
    std::printf("\nBuilt without the Boost Graph Library (libboost-graph-dev): no peer comparison.\n");
#endif
    std::printf("\n%-22s %12s %12s %12s %10s %12s %10s\n", "network", "ours ms", "BGL ms", "reference ms", "ours/BGL",
                "ref/ours", "paired");
    for (const Family& f : families()) {
        auto get = [&](const char* kind) {
            const auto it = reporter.ms.find(std::string(kind) + "/" + f.name);
            return it == reporter.ms.end() ? 0.0 : it->second;
        };
        const double ours = get("Ours"), bgl = get("BGL"), ref = get("Reference");
        const auto paired = reporter.paired.find(std::string("Paired/") + f.name);
        if (ours == 0 && paired == reporter.paired.end()) continue;
        std::printf("%-22s %12.2f %12.2f %12.2f %10.3f %12.2f %10.3f\n", f.name, ours, bgl, ref,
                    ours > 0 && bgl > 0 ? ours / bgl : 0.0, ours > 0 && ref > 0 ? ref / ours : 0.0,
                    paired != reporter.paired.end() ? paired->second : 0.0);
    }
}

void registerSuite() {
    for (const Family& f : families()) {
        auto add = [&](const char* kind, auto function) {
            benchmark::RegisterBenchmark((std::string(kind) + "/" + f.name).c_str(), function, f)
                ->Unit(benchmark::kNanosecond)
                ->Repetitions(kRepetitions);
        };
        add("Ours", BM_Ours);
        add("Reference", BM_Reference);
#ifdef SPC_HAVE_BGL
        add("BGL", BM_BGL);
        benchmark::RegisterBenchmark((std::string("Paired/") + f.name).c_str(), BM_Paired, f)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(kPairedSweeps);
#endif
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
