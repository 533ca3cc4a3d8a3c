// The program-wide variables that the console program's parts work on, and
// the sentinel M: one network and one engine's results, under the names the
// program gives them. The network's names are views of program_network.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "base/aligned_vector.h"
#include "base/integers.h"
#include "network/network.h"

// Console driver.
extern std::string user_filename;  // last token read from standard input
extern std::fstream myFile;        // the network file being loaded
extern std::ofstream ofs;          // the run log, open only while a line is written

// Network loader: the loaded network, and its parts by their own names.
extern Network program_network;
extern std::string problem_type;  // word after the p of the problem line, never tested
extern int32_t& num_nodes;
extern int32_t& num_arcs;
extern std::string load_error;  // why the last file was rejected; empty when it loaded

// Arc table in forward-star layout: the arcs of node u are the slots e with
// point[u-1] <= e < point[u], ordered by head, then by length.
extern std::vector<int32_t>& point;         // num_nodes + 1 offsets
extern std::vector<int32_t>& graph_head;    // num_arcs heads
extern std::vector<int32_t>& graph_length;  // num_arcs lengths

// Shortest-path engine: the node heap of the heap's operations, and what
// the last run left.
extern AlignedVector<int32_t> H;      // node heap, positions 1..heap_count; H[0] unused
extern std::vector<int64_t> H_key;    // H_key[i] == d[H[i]-1], kept beside the ids
extern int32_t heap_count;            // number of nodes in the heap
extern std::vector<int64_t> d;        // labels, d[v-1] for node v
extern int32_t settled_count;         // nodes the last run reached
extern int128 settled_sum;            // sum of their labels: the finite labels
extern int32_t deleted_node;      // node most recently extracted
extern int32_t user_source_node;  // source of the current run
extern std::vector<int128> one_to_all_distance;  // per source: sum of finite labels
extern uint64_t my_timer;  // processor time in ms when the sweep began

extern int64_t trivial_triple_comparisons;     // arc scans of one sweep
extern int128 nontrivial_triple_comparisons;   // total minus trivial
extern int128 total_triple_comparisons;        // n(n-1)(n-2)
extern int128 triple_comparisons;              // n(n-1)
