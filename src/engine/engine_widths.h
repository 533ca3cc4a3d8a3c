// The widths the engine runs in, chosen for each network from its own bounds.
//
// Ids (and the arcs' heads) take 16 bits when the network has at most 65,535
// nodes, else 32. Lengths take 16 bits when every length lies in -32768..32767,
// else 32. Keys and labels take 32 bits when every label the run can form
// provably fits, else 64:
//
//   Every label the run sets is d(u) + w(u, v) for a node u just extracted,
//   and d(u) was set the same way from a node extracted before u. Following
//   these steps back from u reaches the source through nodes extracted in
//   strictly earlier order, so they are distinct: every label, and every
//   candidate d(u) + w compared against one, is the length of a walk whose
//   arcs leave distinct nodes. Such a length lies in -N..P, where P sums over
//   the nodes the largest positive length of an arc leaving each, and N the
//   largest negative one's magnitude. With span = N + P <= 2^32 - 2, keys of
//   label + (INT32_MIN + N) lie in INT32_MIN..INT32_MAX - 1: exact in 32 bits,
//   below the unreached key INT32_MAX, and order and ties are those of the
//   labels, as the offset is the same for all.
//
// Where the span is larger but no length is negative, keys still take 32
// bits, checked as the run goes: labels are then extracted in nondecreasing
// order, so every candidate formed while a node u's arcs are scanned is at
// most d(u) + the longest length. With keys of label + INT32_MIN, a run that
// extracts a node whose key is above INT32_MAX - 1 - longest stops before
// scanning it; until then every key it formed was exact. The source then runs
// again in 64-bit keys, as do the network's later sources.
//
// 64-bit keys are the labels themselves. Any wider choice is exact wherever
// a narrower one is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct EngineWidths {
    int id_bits;      // 16 or 32
    int key_bits;     // 32 or 64
    int length_bits;  // 16 or 32
};
constexpr bool operator==(const EngineWidths& a, const EngineWidths& b) {
    return a.id_bits == b.id_bits && a.key_bits == b.key_bits && a.length_bits == b.length_bits;
}

// Every combination the engine is compiled for, narrowest first: the one list
// that the choice, the compiled runs and the tests all follow. 16-bit ids and
// lengths always fit 32-bit keys (65,535 nodes each reaching at most 32,767 +
// 32,768 keep the span below 2^32 - 2), so ids 16 / keys 64 / lengths 16 is
// not among them.
inline constexpr EngineWidths kEngineWidths[] = {
    {16, 32, 16}, {16, 32, 32}, {16, 64, 32}, {32, 32, 16}, {32, 32, 32}, {32, 64, 16}, {32, 64, 32},
};

struct NetworkBounds {
    int64_t nodes = 0;
    int64_t min_length = 0;  // over all arcs; 0 without arcs
    int64_t max_length = 0;
    int64_t negative_reach = 0;  // N above
    int64_t positive_reach = 0;  // P above
    int64_t span() const { return negative_reach + positive_reach; }
};

// The bounds of a network.
struct Network;
NetworkBounds networkBounds(const Network& network);

// Whether the engine is exact on the network in these widths.
bool widthsFit(const EngineWidths& widths, const NetworkBounds& bounds);

// Whether 32-bit keys on this network are checked as the run goes (see above).
bool keysChecked(const EngineWidths& widths, const NetworkBounds& bounds);

// The narrowest widths that fit.
EngineWidths narrowestWidths(const NetworkBounds& bounds);

// The widths the engine takes for a network: the narrowest that fit, or
// those a test forces (below).
EngineWidths chosenWidths(const NetworkBounds& bounds);

// kEngineWidths as a vector.
const std::vector<EngineWidths>& engineWidthChoices();

// "ids16/keys32/lengths16"
std::string widthsName(const EngineWidths& widths);

// Tests run the engine in chosen widths: planArcLayout() takes `widths`
// while it is set (precondition: they fit every network laid out), and the
// narrowest that fit again after forceEngineWidths(nullptr).
void forceEngineWidths(const EngineWidths* widths);
// Changes with every call of forceEngineWidths: a layout planned before is stale.
uint64_t widthChoiceVersion();
