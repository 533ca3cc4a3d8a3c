// The console program's network loading under the names the program gives
// it: readFile over myFile, and the same over any stream, into
// program_network, with load_error saying why a file was refused.
#pragma once

#include <streambuf>

// Reads the network from myFile, which must be open, and closes it. On success
// num_nodes, num_arcs, point, graph_head and graph_length describe the network
// and load_error is empty; otherwise load_error says what is wrong and where,
// and no network is loaded.
void readFile();

// The same reader over any stream of characters (used by readFile, the tests
// and the fuzzer). Returns true when the network was loaded.
bool loadNetwork(std::streambuf& in);
