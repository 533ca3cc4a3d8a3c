// spc_phast_bench: the binary-heap engine against PHAST over a contraction
// hierarchy, one tree at a time and eight at once, on the same sources of
// the same networks, taking turns; and what building the hierarchy cost
// (time, shortcuts, memory), or where its guard stopped it.
//
//   spc_phast_bench [--sources=K] [--passes=P] [--suite] [NETWORK...]
//
// --suite: generated networks of every family, from the benchmark suite's
// sizes to a million nodes; NETWORK: files (the road networks of
// ../shared/networks, unpacked; Bremen tiled with spc_gen tiles). Times are
// per source (per tree), each source's fastest of P passes (default 2), K
// evenly spaced sources (default 16); every tree's figures are checked
// against the heap engine's.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/engine.h"
#include "generator/network_generator.h"
#include "loader/network_loader.h"
#include "phast/contraction.h"
#include "phast/hierarchy_file.h"
#include "phast/phast_engine.h"

namespace {

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

void measure(const std::string& name, const Network& network, int k, int passes) {
    std::printf("%-24s %10d %10d ", name.c_str(), network.nodes, network.arcs);
    std::fflush(stdout);
    Hierarchy h;
    const ContractionReport built = buildHierarchy(network, {}, h);
    if (!built.built) {
        std::printf("not built: %s (%s)\n", built.why_not.c_str(), describe(built, network).c_str());
        return;
    }
    // Saved and loaded back, as a job after the first would.
    const std::string saved = "/tmp/spc_phast_bench_" + std::to_string(getpid()) + ".hierarchy";
    std::FILE* out = std::fopen(saved.c_str(), "wb");
    const std::string not_saved = out == nullptr ? "cannot be opened" : saveHierarchy(h, out);
    if (out != nullptr && std::fclose(out) != 0 && not_saved.empty()) std::printf("(not saved) ");
    const auto load_start = std::chrono::steady_clock::now();
    HierarchyImage image;
    HierarchyView loaded;
    const std::string not_loaded = not_saved.empty() ? loadImage(saved, h.network, image, loaded) : not_saved;
    const double load_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - load_start).count();
    std::remove(saved.c_str());
    if (!not_loaded.empty()) std::printf("(hierarchy file: %s) ", not_loaded.c_str());
    LaidOutNetwork laid;
    layOut(network, laid);
    Engine heap;
    heap.prepare({laid.layout, laid.block.data()}, EngineUse::figures);
    PhastEngine one, eight;
    one.prepare(h, 1);
    eight.prepare(h, 8);
    std::vector<int32_t> sources;
    for (int i = 0; i < k; ++i) sources.push_back(static_cast<int32_t>(1 + int64_t{i} * network.nodes / k));
    std::vector<double> heap_ms(sources.size(), 1e300), one_ms(sources.size(), 1e300);
    double eight_ms = 1e300;
    bool agree = true;
    for (int pass = 0; pass < passes; ++pass) {
        std::vector<TreeFigures> by_heap(sources.size());
        for (size_t i = 0; i < sources.size(); ++i) {
            double start = cpuMs();
            const RunFigures& f = heap.run(sources[i]);
            heap_ms[i] = std::min(heap_ms[i], cpuMs() - start);
            by_heap[i] = {f.reached, f.sum, heap.largestLabel(), f.scans};
            TreeFigures t;
            start = cpuMs();
            one.run(&sources[i], 1, &t);
            one_ms[i] = std::min(one_ms[i], cpuMs() - start);
            agree = agree && t.sum == by_heap[i].sum && t.reached == by_heap[i].reached && t.scans == by_heap[i].scans &&
                    t.largest == by_heap[i].largest;
        }
        const double start = cpuMs();
        for (size_t i = 0; i < sources.size(); i += 8) {
            TreeFigures t[8];
            const int count = static_cast<int>(std::min<size_t>(8, sources.size() - i));
            eight.run(&sources[i], count, t);
            for (int j = 0; j < count; ++j) agree = agree && t[j].sum == by_heap[i + static_cast<size_t>(j)].sum;
        }
        eight_ms = std::min(eight_ms, (cpuMs() - start) / static_cast<double>(sources.size()));
    }
    double heap_mean = 0, one_mean = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        heap_mean += heap_ms[i] / static_cast<double>(sources.size());
        one_mean += one_ms[i] / static_cast<double>(sources.size());
    }
    std::printf("%9.1f %7.1f %9.2f %9.1f %10.3f %10.3f %10.3f %8.3f %8.3f%s\n", built.seconds, load_s,
                static_cast<double>(built.shortcuts) / network.arcs, static_cast<double>(h.bytes()) / 1e6, heap_mean,
                one_mean, eight_ms, one_mean / heap_mean, eight_ms / heap_mean, agree ? "" : "  FIGURES DIFFER");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    int k = 16, passes = 2;
    bool suite = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--sources=", 10) == 0) {
            k = std::max(1, std::atoi(argv[i] + 10));
        } else if (std::strncmp(argv[i], "--passes=", 9) == 0) {
            passes = std::max(1, std::atoi(argv[i] + 9));
        } else if (std::strcmp(argv[i], "--suite") == 0) {
            suite = true;
        } else {
            files.push_back(argv[i]);
        }
    }
    std::printf("%-24s %10s %10s %9s %7s %9s %9s %10s %10s %10s %8s %8s\n", "network", "nodes", "arcs", "build s", "load s",
                "sc./arc", "MB", "heap ms", "phast1 ms", "phast8 ms", "1/heap", "8/heap");
    if (suite) {
        for (const NetworkSpec& spec :
             {NetworkSpec{"grid", 55, 55, 1, 1, 10000}, NetworkSpec{"road", 58, 58, 2, 1, 12000},
              NetworkSpec{"random", 2000, 10000, 3, 1, 10000}, NetworkSpec{"grid", 316, 316, 11, 1, 10000},
              NetworkSpec{"road", 316, 316, 14, 1, 12000}, NetworkSpec{"road", 1000, 1000, 16, 1, 12000},
              NetworkSpec{"random", 100000, 280000, 22, 1, 10000}}) {
            GeneratedNetwork g = generateNetwork(spec);
            Network network;
            buildArcTable(g.arcs, g.nodes, network);
            measure(spec.family + std::to_string(spec.first) + "x" + std::to_string(spec.second), network, k, passes);
        }
    }
    for (const std::string& file : files) {
        std::filebuf in;
        Network network;
        const std::string why =
            in.open(file, std::ios::in | std::ios::binary) == nullptr ? "cannot be opened" : readNetwork(in, network);
        if (!why.empty()) {
            std::fprintf(stderr, "spc_phast_bench: %s: %s\n", file.c_str(), why.c_str());
            return 1;
        }
        const size_t slash = file.rfind('/');
        measure(slash == std::string::npos ? file : file.substr(slash + 1), network, k, passes);
    }
    std::printf("\nTimes in processor milliseconds a source (phast8: a tree of eight at once); 1/heap and 8/heap:\n"
                "PHAST's time over the heap engine's; build s: the hierarchy's, on one core; load s: reading\n"
                "it back from its file (in the page cache).\n");
    return 0;
}
