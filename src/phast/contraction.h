// Building a contraction hierarchy: the nodes taken one at a time in an order
// of importance, each removed with shortcuts between its remaining neighbours
// where no other way (a witness) is as short.
//
// Order: a node's priority is twice the shortcuts its removal would add less
// the arcs it removes, plus its neighbours already removed and its depth (one
// more than the deepest removed neighbour's); priorities are updated lazily
// (a node taken is looked at again, and goes back when it is no longer the
// least) and for the neighbours of every node removed.
//
// Removing v: for each remaining u -> v and v -> x (u != x), the shortcut
// u -> x of length len(u,v) + len(v,x) is added unless a search from u over
// the remaining nodes but v finds x no farther (a witness; the search is
// bounded, and a shortcut added where a witness was missed costs room, never
// exactness). Parallel arcs keep the shortest; self-loops never shorten a
// path and are dropped.
//
// A guard stops the build of networks the method does not suit (random
// networks, grids without a hierarchy), where shortcuts or the searches'
// work grow past their bounds: it says so with its figures, instead of
// running for hours.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "hierarchy.h"

struct ContractionLimits {
    // Shortcuts at most this many times the network's arcs, plus `extra`.
    double shortcuts_per_arc = 3;
    int64_t extra = 100000;
    // Steps of the witness searches in all (a node settled and each arc it
    // looks at), at most this many a node, plus `extra_work`: road networks
    // take about 1,000 a node, grids about 12,000; and at most `settled`
    // nodes in one search that removes a node.
    int64_t work_per_node = 20000;
    int64_t extra_work = 100000000;
    int settled = 400;
    // The searches that only count a node's shortcuts, for its priority,
    // settle at most this many: most of the work is there, and an order a
    // little worse costs a few shortcuts more, never exactness.
    int settled_to_order = 20;
    // Asked now and then: false stops the build (a signal).
    std::function<bool()> keep_going;
};

struct ContractionReport {
    bool built = false;
    std::string why_not;  // when not built: negative lengths, the guard, a stop
    int64_t contracted = 0;  // nodes removed when it ended
    int64_t shortcuts = 0;
    int64_t work = 0;  // steps of the witness searches
    double seconds = 0;
};

ContractionReport buildHierarchy(const Network& network, const ContractionLimits& limits, Hierarchy& out);

// "built: 1,234 nodes, ..." or "stopped: ..." with the figures, for messages.
std::string describe(const ContractionReport& report, const Network& network);
