// spc_plan_sim: how evenly spc_sweep's ranks finish, from its own plan and
// hand-out code with the single-source runs replaced by times sampled from
// real runs of a network. Compares the plan of fixed blocks (clamp(n/4096, 1,
// 64) sources) with the guided chunks the tool hands out.
//
//   spc_plan_sim NETWORK [--sample K] [--handout SECONDS] [--threads N]
//
// Prints, for R = 1 and 4 and P = 64, 256, 1,024 and 4,096 ranks of N compute
// threads each (default 1), the efficiency of each plan: the summed run time
// over the threads times the wall-clock time. Every thread takes chunks as a
// rank does, each chunk after the hand-out time.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "loader/network_loader.h"
#include "spc_sweep/ranks/compute_threads.h"
#include "spc_sweep/plan/sample.h"
#include "spc_sweep/plan/simulation.h"
#include "spc_sweep/plan/tally.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: spc_plan_sim NETWORK [--sample K] [--handout SECONDS] [--threads N]\n");
        return 2;
    }
    int64_t sample = 64;
    int threads = 1;
    double handout = 50e-6;  // a message each way between machines
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--sample") == 0) sample = std::atoll(argv[i + 1]);
        if (std::strcmp(argv[i], "--handout") == 0) handout = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--threads") == 0) threads = std::atoi(argv[i + 1]);
    }
    std::filebuf file;
    Network network;
    const std::string why = file.open(argv[1], std::ios::in | std::ios::binary) == nullptr
                                ? "cannot be opened"
                                : readNetwork(file, network);
    if (!why.empty()) {
        std::fprintf(stderr, "spc_plan_sim: %s: %s\n", argv[1], why.c_str());
        return 1;
    }
    const int64_t n = network.nodes;
    std::fprintf(stderr, "%s: %lld nodes, %lld arcs; sampling %lld sources\n", argv[1], static_cast<long long>(n),
                 static_cast<long long>(network.arcs), static_cast<long long>(sample));
    LaidOutNetwork table;
    layOut(network, table);
    Engine engine;
    engine.prepare({table.layout, table.block.data()}, EngineUse::figures);
    std::vector<double> seconds;
    for (int64_t p = 0; p < sample && p < n; ++p) {
        const uint64_t start = threadCpuNs();
        engine.run(static_cast<int32_t>(sampledSource(p, n)));
        seconds.push_back(static_cast<double>(threadCpuNs() - start) / 1e9);
    }
    double mean = 0;
    for (double s : seconds) mean += s / static_cast<double>(seconds.size());
    std::printf("network: %s, %lld nodes; per source %.4f s on average (%zu sampled); hand-out %.0f us\n", argv[1],
                static_cast<long long>(n), mean, seconds.size(), handout * 1e6);
    const auto time_of = [&](int64_t s) { return seconds[mixBits(static_cast<uint64_t>(s)) % seconds.size()]; };
    std::printf("| R | P | threads a rank | fixed blocks | guided chunks |\n|---|---|---|---|---|\n");
    for (int r : {1, 4}) {
        for (int p : {64, 256, 1024, 4096}) {
            const int workers = p * threads;
            const SimulatedRun fixed = simulateRun(n, r, workers, Handout::fixed_blocks, time_of, handout);
            const SimulatedRun guided = simulateRun(n, r, workers, Handout::guided, time_of, handout);
            std::printf("| %d | %d | %d | %.3f | %.3f |\n", r, p, threads, fixed.efficiency(), guided.efficiency());
            std::fflush(stdout);
        }
    }
    return 0;
}
