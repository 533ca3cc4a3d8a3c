// spc_bench --at-scale: networks too large for a whole sweep, measured on K
// evenly spaced sources, this engine and its peers taking turns source by
// source.
#pragma once

#include <string>

struct AtScaleOptions {
    int sources = 8;  // K
    int passes = 2;   // each source's fastest pass counts
    long long shadow_from = -1;  // the engine's own choice unless set
    bool largest = false;  // the road network of 24 million nodes as well
};

// Takes --at-scale, --largest, --sources=K, --passes=P and --shadow-from=N
// out of the arguments; true when --at-scale was among them.
bool takeAtScaleArguments(int& argc, char** argv, AtScaleOptions& options);

// Registers one benchmark per at-scale network.
void registerAtScaleBenchmarks(const AtScaleOptions& options);

// The table of the at-scale runs, from the counters of the benchmarks run.
void printAtScaleTable();
