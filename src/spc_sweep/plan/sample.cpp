#include "sample.h"

#include <algorithm>
#include <cmath>

namespace {

// Student's t at 97.5 % for the degrees of freedom, then the normal's.
double t975(int64_t freedom) {
    static const double table[] = {12.706, 4.303, 3.182, 2.776, 2.571, 2.447, 2.365, 2.306, 2.262, 2.228,
                                   2.201,  2.179, 2.160, 2.145, 2.131, 2.120, 2.110, 2.101, 2.093, 2.086,
                                   2.080,  2.074, 2.069, 2.064, 2.060, 2.056, 2.052, 2.048, 2.045, 2.042};
    if (freedom < 1) return table[0];
    if (freedom <= 30) return table[freedom - 1];
    return freedom <= 60 ? 2.000 : freedom <= 120 ? 1.980 : 1.960;
}

}  // namespace

uint64_t mixBits(uint64_t x) {  // splitmix64's finaliser
    x += 0x9e3779b97f4a7c15u;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
    return x ^ (x >> 31);
}

int64_t sampledSource(int64_t position, int64_t nodes) {
    // A Feistel permutation of 0 .. 2^(2h) - 1, walked until it lands below nodes.
    int half = 1;
    while ((int64_t{1} << (2 * half)) < nodes) ++half;
    const uint64_t mask = (uint64_t{1} << half) - 1;
    uint64_t x = static_cast<uint64_t>(position);
    do {
        uint64_t left = x >> half, right = x & mask;
        for (uint64_t round = 0; round < 4; ++round) {
            const uint64_t next = left ^ (mixBits(right * 4 + round + 0x5bd1e995u) & mask);
            left = right;
            right = next;
        }
        x = left << half | right;
    } while (x >= static_cast<uint64_t>(nodes));
    return static_cast<int64_t>(x) + 1;
}

SweepCost costFromSample(const std::vector<double>& seconds, int64_t nodes) {
    SweepCost cost;
    cost.sampled = static_cast<int64_t>(seconds.size());
    if (seconds.empty()) return cost;
    const double k = static_cast<double>(seconds.size()), n = static_cast<double>(nodes);
    double mean = 0;
    for (double x : seconds) mean += x;
    mean /= k;
    double squares = 0;
    for (double x : seconds) squares += (x - mean) * (x - mean);
    const double sd = seconds.size() > 1 ? std::sqrt(squares / (k - 1)) : mean;
    // The sweep is the whole population: the finite population correction.
    const double correction = nodes > 1 ? std::sqrt(std::max(0.0, (n - k) / (n - 1))) : 0;
    const double half_width = t975(cost.sampled - 1) * sd / std::sqrt(k) * correction;
    cost.per_sweep = n * mean;
    cost.low = std::max(0.0, n * (mean - half_width));
    cost.high = n * (mean + half_width);
    return cost;
}

