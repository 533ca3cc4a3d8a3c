// Reading a network file and turning its arcs into the forward-star arc table.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <streambuf>
#include <string>
#include <vector>

#include "network/network.h"

// One arc as read from a file: tail, head, length. Compared lexicographically.
using ArcTriple = std::array<int32_t, 3>;

// Reads a network from any stream of characters into `network`. Returns an
// empty string, or what is wrong and where; the network is then empty.
// keep_going, when set, is asked now and then (every 65,536 records): at
// false reading stops, and no network is loaded. `problem_type` gets the
// word after the problem line's p, which nothing uses. size_hint, when not
// negative, stands for the stream's size in bytes (which bounds the room
// reserved for arcs); otherwise the stream is asked for its size.
std::string readNetwork(std::streambuf& in, Network& network, const std::function<bool()>& keep_going = {},
                        std::string* problem_type = nullptr, int64_t size_hint = -1);

// Sorts the arcs and lays them out as the arc table of a network with `nodes`
// nodes. Every tail and head must lie in 1..nodes. Empties `arcs`.
void buildArcTable(std::vector<ArcTriple>& arcs, int32_t nodes, Network& network);

// Bytes the program needs to hold and sweep a network of this size.
uint64_t networkMemoryNeed(int64_t nodes, int64_t arcs);

// Bytes of memory the program may use for a network: memory_limit when it is
// set (the fuzzer and tests set it), otherwise what the machine can give now,
// within the process's address-space limit.
uint64_t availableMemory();
extern uint64_t memory_limit;  // 0: no limit of the program's own
