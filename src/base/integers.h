// The integer types and the sentinel every part uses.
#pragma once

#include <cstdint>

// 128-bit integers for figures that can outgrow 64 bits (sums of distances,
// the triple counts of very large networks).
__extension__ typedef __int128 int128;
__extension__ typedef unsigned __int128 uint128;

// Label of a node that the current source does not reach.
constexpr int64_t M = 999999999999999999;
