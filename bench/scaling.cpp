// spc_scaling: how the time of one all-sources sweep grows with the network,
// for this program's engine and (when built with Boost) the Boost Graph
// Library's Dijkstra, on seeded grids and random networks. Writes one CSV row
// per network and engine; shows its progress on standard error.
//
//   spc_scaling [--quick] [-o FILE]     (default FILE: scaling.csv)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <string>
#include <vector>

#include "report/report.h"
#include "peers.h"
#include "sweep_engines.h"

namespace {

struct StudyNetwork {
    std::string family;
    int64_t size;  // grid: side; random: node count
    NetworkSpec spec;
};

// Grids k x k with k from 16 to 128 and random networks of n = 500 to 16,000
// nodes with 5n arcs, each size about twice the nodes of the one before.
// --quick: a few small ones, for tests.
std::vector<StudyNetwork> studyNetworks(bool quick) {
    std::vector<StudyNetwork> list;
    const std::vector<int64_t> sides = quick ? std::vector<int64_t>{8, 12} : std::vector<int64_t>{16, 23, 32, 45, 64, 91, 128};
    const std::vector<int64_t> counts =
        quick ? std::vector<int64_t>{100, 200} : std::vector<int64_t>{500, 1000, 2000, 4000, 8000, 16000};
    for (int64_t k : sides) list.push_back({"grid", k, {"grid", k, k, static_cast<uint64_t>(k), 1, 10000}});
    for (int64_t n : counts) list.push_back({"random", n, {"random", n, 5 * n, static_cast<uint64_t>(n), 1, 10000}});
    return list;
}

// Sweeps once, and again (three times at most) while less than a second of
// processor time is spent; the fastest counts.
template <typename Sweep>
double fastestSweepMs(Sweep sweep, Figures& figures) {
    double best = 0;
    double spent = 0;
    for (int done = 0; done < 3 && (done == 0 || spent < 1000); ++done) {
        const double start = processorMs();
        figures = sweep();
        const double ms = processorMs() - start;
        best = done == 0 ? ms : std::min(best, ms);
        spent += ms;
    }
    return best;
}

void writeRow(std::FILE* out, const StudyNetwork& net, const char* engine, double ms, const Figures& f) {
    std::fprintf(out, "%s,%lld,%d,%d,%s,%.3f,%s,%lld\n", net.family.c_str(), static_cast<long long>(net.size), num_nodes,
                 num_arcs, engine, ms, formatInteger(f.sum).c_str(), static_cast<long long>(f.scans));
}

// "Intel(R) Xeon(R) Processor, 2 cores, avx512": where the times were taken.
std::string machineDescription() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, model = "unknown processor";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return model + ", " + std::to_string(cores) + " core" + (cores == 1 ? "" : "s") + ", " +
           instructionSetName(currentInstructionSet());
}

int usage(const char* why) {
    std::fprintf(stderr, "spc_scaling: %s\nusage: spc_scaling [--quick] [-o FILE]\n", why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::string path = "scaling.csv";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
            path = argv[++i];
        } else {
            return usage((std::string("unknown argument ") + argv[i]).c_str());
        }
    }
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "spc_scaling: cannot open %s for writing\n", path.c_str());
        return 1;
    }
    // The machine first, as a comment line: the plot names it.
    std::fprintf(out, "# machine: %s\n", machineDescription().c_str());
    std::fprintf(out, "family,size,nodes,arcs,engine,ms_per_sweep,sum_of_distances,arc_scans\n");
#ifndef SPC_HAVE_BGL
    std::fprintf(stderr, "spc_scaling: built without the Boost Graph Library: this engine only\n");
#endif
    // The study's peer is BGL, as its plot has always shown.
    const std::vector<StudyNetwork> networks = studyNetworks(quick);
    int failures = 0;
    for (size_t i = 0; i < networks.size(); ++i) {
        const StudyNetwork& net = networks[i];
        load(net.spec);
        std::fprintf(stderr, "[%zu/%zu] %s %lld (%d nodes, %d arcs): ours ", i + 1, networks.size(),
                     net.family.c_str(), static_cast<long long>(net.size), num_nodes, num_arcs);
        Figures ours;
        const double ours_ms = fastestSweepMs(oursOnce, ours);
        std::fprintf(stderr, "%.1f ms", ours_ms);
        writeRow(out, net, "ours", ours_ms, ours);
        for (const auto& peer : peersOverLoadedNetwork()) {
            if (std::string(peer->name()) != "BGL") continue;
            Figures bgl;
            const double bgl_ms = fastestSweepMs([&] { return peerSweep(*peer); }, bgl);
            std::fprintf(stderr, ", BGL %.1f ms", bgl_ms);
            writeRow(out, net, "BGL", bgl_ms, bgl);
            if (!same(ours, bgl)) {
                std::fprintf(stderr, " - the sums or arc counts differ");
                ++failures;
            }
        }
        std::fprintf(stderr, "\n");
        std::fflush(out);
    }
    const bool written = std::fclose(out) == 0;
    if (!written) std::fprintf(stderr, "spc_scaling: write error on %s\n", path.c_str());
    return failures == 0 && written ? 0 : 1;
}
