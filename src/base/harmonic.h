// The sum of 1/d over a run's distances d > 0, exactly the same whatever the
// order the distances come in: each 1/d is rounded to a double (IEEE
// division, correctly rounded), and those are added without rounding in a
// fixed-point number of 192 bits, 120 of them below the point. A double
// 1/d with d < 2^63 has no bit below 2^-115, and a run reaches fewer than
// 2^31 nodes, so nothing is lost; the order of a heap's extractions, a
// PHAST pass's or a resumed run's gives the same bits.
#pragma once

#include <cstdint>
#include <cstring>

struct HarmonicSum {
    uint64_t w0 = 0, w1 = 0, w2 = 0;  // the number times 2^120, low word first

    // 1/d as a double, shifted into its place: its 53-bit significand and
    // the shift that puts it at 2^120 times its value (5..68 for d >= 1).
    static void term(int64_t d, uint64_t& significand, int& shift) {
        const double t = 1.0 / static_cast<double>(d);
        uint64_t bits = 0;
        std::memcpy(&bits, &t, sizeof bits);
        significand = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
        shift = static_cast<int>(bits >> 52) - 1023 + 68;
    }

    void add(int64_t d) {
        if (d <= 0) return;
        uint64_t m = 0;
        int shift = 0;
        term(d, m, shift);
        const uint64_t low = shift < 64 ? m << shift : 0;
        const uint64_t high = shift < 64 ? m >> (64 - shift) : m << (shift - 64);
        addWords(low, high);
    }

    // Adds a number of the same scale given by its two low words (below 2^121).
    void addWords(uint64_t low, uint64_t high) {
        w0 += low;
        const uint64_t carry = w0 < low ? 1 : 0;
        const uint64_t t = high + carry;
        w1 += t;
        w2 += w1 < t ? 1 : 0;
    }

    // The number l0 + l1 2^32 + l2 2^64 + l3 2^96 (sums of 32-bit limbs).
    static HarmonicSum fromLimbs(uint64_t l0, uint64_t l1, uint64_t l2, uint64_t l3) {
        HarmonicSum h;
        h.addWords(l0, 0);
        h.addWords(l1 << 32, l1 >> 32);
        h.addWords(0, l2);
        h.addWords(0, l3 << 32);
        h.w2 += l3 >> 32;
        return h;
    }

    double value() const {
        return static_cast<double>(w2) * 256.0 + static_cast<double>(w1) * 0x1p-56 + static_cast<double>(w0) * 0x1p-120;
    }
};
