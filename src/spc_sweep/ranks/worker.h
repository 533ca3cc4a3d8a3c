// The other ranks' side of a sweep: run the chunks rank 0 sends, on the
// compute thread, and send their records back, until rank 0 says stop.
#pragma once

#include "compute_threads.h"
#include "ranks.h"

enum class WorkerEnd {
    stopped,      // rank 0 said the network is done (or failed)
    interrupted,  // the run was cut short: rank 0 said so
    lost,         // this rank was signalled and rank 0 never answered
};

WorkerEnd serveRankZero(WorkerLink& link, ComputeThreads& compute);
