// spc_sweep --estimate: the cost of a sweep known before the run, from
// single-source runs of a sample of sources on every rank, without a sweep,
// a run-log line or a checkpoint.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sweep_options.h"
#include "sweep_sample.h"

// Every rank calls it for each network, in the same order; rank 0 prints the
// estimate. Returns false (on rank 0) when the network could not be read.
bool estimateNetwork(const std::string& name, const SweepOptions& options);
