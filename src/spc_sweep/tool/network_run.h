// One network's sweep in spc_sweep, on every rank.
#pragma once

#include <string>

#include "finish.h"
#include "network/network.h"
#include "options.h"

enum class NetworkResult { swept, failed, interrupted };

// Every rank calls it for each network, in the same order. Rank 0 checks the
// outputs, reads the file (opened for reading only), hands out the chunks,
// keeps the checkpoint, and writes the report and the outputs. It returns
// what became of the network; the other ranks return swept, or interrupted
// when the run was cut short.
NetworkResult sweepNetwork(const NetworkItem& item, const SweepOptions& options);

// Loads the network from the file (plain or compressed), opened for reading
// only; a signal stops the reading. Returns an empty string or why it cannot be swept.
std::string loadNetworkFile(const std::string& name, Network& network);
