// The contraction hierarchy a sweep by the method phast runs over, on rank
// 0: loaded from the checkpoint directory where an earlier job of the chain
// kept it, else built once and kept there for the next.
#pragma once

#include <string>

#include "network/network.h"
#include "options.h"
#include "phast/hierarchy_file.h"

struct PreparedHierarchy {
    HierarchyImage image;
    bool loaded = false;       // from its file, not built now
    double build_seconds = 0;  // when built now
};

// The method's words for the tool's line: how the hierarchy came and its
// memory, e.g. "method phast, its hierarchy built in 12.5 s, 40 MiB".
std::string hierarchyWords(const PreparedHierarchy& h);

// Loads or builds the network's hierarchy. A file of it in the checkpoint
// directory is taken when it is this user's, sound and of this network;
// otherwise (said on standard error when one was there) the hierarchy is
// built, a signal stopping the build, and kept in the directory. Returns an
// empty string, or why the network cannot be swept by PHAST (negative
// lengths, the build's guard, a signal).
std::string prepareHierarchy(const std::string& name, const SweepOptions& options, const Network& network,
                             PreparedHierarchy& out);

// Rank 0's hierarchy (of `network`, read on rank 0 only) to every rank, one
// copy a machine, with memory for `threads` PHAST engines a rank; `view` is
// this rank's. Every rank calls it. Empty string or (on rank 0) why not; on
// failure no rank holds a copy.
std::string shareHierarchy(const PreparedHierarchy& hierarchy, const Network& network, uint64_t rank_zero_extra,
                           int threads, HierarchyView& view);
