// spc_sweep --estimate: the cost of a sweep known before the run, from
// single-source runs of a sample of sources on every rank, without a sweep,
// a run-log line or a checkpoint.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "network_run.h"
#include "options.h"
#include "spc_sweep/plan/sample.h"

// Every rank calls it for each network, in the same order; rank 0 prints the
// estimate. Returns failed (on rank 0) when the network could not be read,
// interrupted (on every rank) when a signal stopped it.
NetworkResult estimateNetwork(const std::string& name, const SweepOptions& options);
