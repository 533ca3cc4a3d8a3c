// Reading a network file and turning its arcs into the forward-star arc table.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <streambuf>
#include <string>
#include <vector>

// One arc as read from a file: tail, head, length. Compared lexicographically.
using ArcTriple = std::array<int32_t, 3>;

// Reads the network from myFile, which must be open, and closes it. On success
// num_nodes, num_arcs, point, graph_head and graph_length describe the network
// and load_error is empty; otherwise load_error says what is wrong and where,
// and no network is loaded.
void readFile();

// The same reader over any stream of characters (used by readFile, the tests
// and the fuzzer). Returns true when the network was loaded. keep_going,
// when set, is asked every 65,536 records: at false reading stops, and no
// network is loaded.
bool loadNetwork(std::streambuf& in, const std::function<bool()>& keep_going = {});

// Sorts the arcs and lays them out as the arc table of a network with `nodes`
// nodes. Every tail and head must lie in 1..nodes. Empties `arcs`.
void buildArcTable(std::vector<ArcTriple>& arcs, int32_t nodes);

// Bytes the program needs to hold and sweep a network of this size.
uint64_t networkMemoryNeed(int64_t nodes, int64_t arcs);

// Bytes of memory the program may use for a network: memory_limit when it is
// set (the fuzzer and tests set it), otherwise what the machine can give now,
// within the process's address-space limit.
uint64_t availableMemory();
extern uint64_t memory_limit;  // 0: no limit of the program's own
