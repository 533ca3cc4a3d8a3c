// The sample spc_sweep --estimate runs, and what its times say of a sweep.
#pragma once

#include <cstdint>
#include <vector>

// A well-mixed 64-bit value of x.
uint64_t mixBits(uint64_t x);

// The source at a position of the sample: a fixed pseudo-random order of
// 1..nodes, the same on every machine, each source once.
int64_t sampledSource(int64_t position, int64_t nodes);

// One sweep's processor time from the sampled runs' times: the sample's mean
// times the node count, and the range that holds the sweep's time 19 times in
// 20 (from the sample's spread, for a sample drawn without replacement).
struct SweepCost {
    int64_t sampled = 0;
    double per_sweep = 0;
    double low = 0;
    double high = 0;
};
SweepCost costFromSample(const std::vector<double>& seconds, int64_t nodes);
