#include "contraction.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <queue>
#include <utility>
#include <vector>

namespace {

constexpr int64_t kFar = std::numeric_limits<int64_t>::max() / 4;

struct WorkArc {
    int32_t node;
    int64_t length;
};

class Contractor {
public:
    Contractor(const Network& network, const ContractionLimits& limits) : n_(network.nodes), limits_(limits) {
        out_.resize(static_cast<size_t>(n_));
        in_.resize(static_cast<size_t>(n_));
        for (int32_t u = 1; u <= n_; ++u) {
            for (int32_t e = network.point[u - 1]; e < network.point[u]; ++e) {
                const int32_t v = network.head[static_cast<size_t>(e)];
                // Sorted by head, then length: the first of parallel arcs is the shortest.
                if (v == u || (!out_[u - 1].empty() && out_[u - 1].back().node == v - 1)) continue;
                out_[u - 1].push_back({v - 1, network.length[static_cast<size_t>(e)]});
                in_[v - 1].push_back({u - 1, network.length[static_cast<size_t>(e)]});
            }
        }
        removed_.assign(static_cast<size_t>(n_), 0);
        depth_.assign(static_cast<size_t>(n_), 0);
        removed_neighbours_.assign(static_cast<size_t>(n_), 0);
        priority_.assign(static_cast<size_t>(n_), 0);
        dist_.assign(static_cast<size_t>(n_), kFar);
        target_.assign(static_cast<size_t>(n_), 0);
        shortcut_limit_ = static_cast<int64_t>(limits.shortcuts_per_arc * network.arcs) + limits.extra;
        work_limit_ = limits.work_per_node * n_ + limits.extra_work;
    }

    // Removes every node in order; false when the guard or a stop ended it.
    bool run(ContractionReport& report, std::vector<int32_t>& order, std::vector<int64_t>& up_start,
             std::vector<WorkArc>& up, std::vector<int64_t>& down_start, std::vector<WorkArc>& down) {
        using Entry = std::pair<int64_t, int32_t>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
        for (int32_t v = 0; v < n_; ++v) {
            priority_[static_cast<size_t>(v)] = priority(v);
            queue.emplace(priority_[static_cast<size_t>(v)], v);
            if ((v & 1023) == 1023 && limits_.keep_going && !limits_.keep_going()) {
                report.why_not = "stopped by a signal";
                return false;
            }
        }
        while (!queue.empty()) {
            const auto [p, v] = queue.top();
            queue.pop();
            if (removed_[static_cast<size_t>(v)] || p != priority_[static_cast<size_t>(v)]) continue;  // stale
            const int64_t now = priority(v);
            if (now > p && !queue.empty() && now > queue.top().first) {
                priority_[static_cast<size_t>(v)] = now;
                queue.emplace(now, v);
                continue;
            }
            up_start.push_back(static_cast<int64_t>(up.size()));
            down_start.push_back(static_cast<int64_t>(down.size()));
            for (const WorkArc& a : out_[static_cast<size_t>(v)]) up.push_back(a);
            for (const WorkArc& a : in_[static_cast<size_t>(v)]) down.push_back(a);
            for (const int32_t w : contract(v)) {
                priority_[static_cast<size_t>(w)] = priority(w);
                queue.emplace(priority_[static_cast<size_t>(w)], w);
            }
            order.push_back(v);
            report.contracted = static_cast<int64_t>(order.size());
            report.shortcuts = shortcuts_;
            report.work = work_;
            if (shortcuts_ > shortcut_limit_ || work_ > work_limit_) {
                report.why_not = shortcuts_ > shortcut_limit_ ? "the shortcuts outgrew their bound" : "the witness searches outgrew their bound";
                return false;
            }
            if ((order.size() & 1023) == 0 && limits_.keep_going && !limits_.keep_going()) {
                report.why_not = "stopped by a signal";
                return false;
            }
        }
        up_start.push_back(static_cast<int64_t>(up.size()));
        down_start.push_back(static_cast<int64_t>(down.size()));
        return true;
    }

private:
    // A search from u over the remaining nodes but `skip`, up to `most`, for
    // the nodes marked as targets (`targets` of them); leaves distances in dist_.
    void witnessSearch(int32_t u, int32_t skip, int64_t most, int targets, int most_settled) {
        using Entry = std::pair<int64_t, int32_t>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<>> heap;
        dist_[static_cast<size_t>(u)] = 0;
        touched_.push_back(u);
        heap.emplace(0, u);
        int settled = 0;
        while (!heap.empty() && targets > 0 && settled < most_settled) {
            const auto [d, w] = heap.top();
            heap.pop();
            if (d != dist_[static_cast<size_t>(w)]) continue;
            if (d > most) break;
            ++settled;
            if (target_[static_cast<size_t>(w)]) --targets;
            work_ += static_cast<int64_t>(out_[static_cast<size_t>(w)].size()) + 1;
            for (const WorkArc& a : out_[static_cast<size_t>(w)]) {
                if (a.node == skip) continue;
                const int64_t candidate = d + a.length;
                if (candidate >= dist_[static_cast<size_t>(a.node)]) continue;
                if (dist_[static_cast<size_t>(a.node)] == kFar) touched_.push_back(a.node);
                dist_[static_cast<size_t>(a.node)] = candidate;
                heap.emplace(candidate, a.node);
            }
        }
    }

    void forgetSearch() {
        for (const int32_t w : touched_) dist_[static_cast<size_t>(w)] = kFar;
        touched_.clear();
    }

    // The shortcuts removing v calls for: (u, x, length), or only their
    // number when `add` is false.
    int64_t shortcutsOf(int32_t v, bool add) {
        const std::vector<WorkArc>& ins = in_[static_cast<size_t>(v)];
        const std::vector<WorkArc>& outs = out_[static_cast<size_t>(v)];
        int64_t count = 0;
        for (const WorkArc& in : ins) {
            int64_t most = 0;
            int targets = 0;
            for (const WorkArc& o : outs) {
                if (o.node == in.node) continue;
                most = std::max(most, in.length + o.length);
                target_[static_cast<size_t>(o.node)] = 1;
                ++targets;
            }
            if (targets == 0) continue;
            witnessSearch(in.node, v, most, targets, add ? limits_.settled : limits_.settled_to_order);
            for (const WorkArc& o : outs) {
                if (o.node == in.node) continue;
                target_[static_cast<size_t>(o.node)] = 0;
                if (dist_[static_cast<size_t>(o.node)] <= in.length + o.length) continue;  // a witness as short
                ++count;
                if (add) addShortcut(in.node, o.node, in.length + o.length);
            }
            forgetSearch();
        }
        return count;
    }

    int64_t priority(int32_t v) {
        const int64_t removed = static_cast<int64_t>(in_[static_cast<size_t>(v)].size() + out_[static_cast<size_t>(v)].size());
        return 2 * (shortcutsOf(v, false) - removed) + removed_neighbours_[static_cast<size_t>(v)] +
               depth_[static_cast<size_t>(v)];
    }

    void addShortcut(int32_t u, int32_t x, int64_t length) {
        std::vector<WorkArc>& outs = out_[static_cast<size_t>(u)];
        for (WorkArc& a : outs) {
            if (a.node != x) continue;
            if (length < a.length) {
                a.length = length;
                for (WorkArc& b : in_[static_cast<size_t>(x)]) {
                    if (b.node == u) b.length = length;
                }
            }
            return;
        }
        outs.push_back({x, length});
        in_[static_cast<size_t>(x)].push_back({u, length});
        ++shortcuts_;
    }

    static void drop(std::vector<WorkArc>& arcs, int32_t node) {
        arcs.erase(std::remove_if(arcs.begin(), arcs.end(), [node](const WorkArc& a) { return a.node == node; }),
                   arcs.end());
    }

    // Removes v with its shortcuts; returns its remaining neighbours.
    std::vector<int32_t> contract(int32_t v) {
        shortcutsOf(v, true);
        std::vector<int32_t> neighbours;
        for (const WorkArc& a : in_[static_cast<size_t>(v)]) {
            drop(out_[static_cast<size_t>(a.node)], v);
            neighbours.push_back(a.node);
        }
        for (const WorkArc& a : out_[static_cast<size_t>(v)]) {
            drop(in_[static_cast<size_t>(a.node)], v);
            neighbours.push_back(a.node);
        }
        std::vector<WorkArc>().swap(in_[static_cast<size_t>(v)]);
        std::vector<WorkArc>().swap(out_[static_cast<size_t>(v)]);
        removed_[static_cast<size_t>(v)] = 1;
        std::sort(neighbours.begin(), neighbours.end());
        neighbours.erase(std::unique(neighbours.begin(), neighbours.end()), neighbours.end());
        for (const int32_t w : neighbours) {
            ++removed_neighbours_[static_cast<size_t>(w)];
            depth_[static_cast<size_t>(w)] = std::max(depth_[static_cast<size_t>(w)], depth_[static_cast<size_t>(v)] + 1);
        }
        return neighbours;
    }

    int32_t n_;
    const ContractionLimits& limits_;
    std::vector<std::vector<WorkArc>> out_, in_;  // of the remaining nodes
    std::vector<uint8_t> removed_;
    std::vector<int32_t> depth_, removed_neighbours_;
    std::vector<int64_t> priority_;
    std::vector<int64_t> dist_;
    std::vector<uint8_t> target_;
    std::vector<int32_t> touched_;
    int64_t shortcuts_ = 0, work_ = 0;
    int64_t shortcut_limit_ = 0, work_limit_ = 0;
};

// The arcs recorded in the order the nodes were removed, laid out by index
// (the node removed last first).
void layOutArcs(const std::vector<int32_t>& order, const std::vector<int32_t>& index_of,
                const std::vector<int64_t>& start, const std::vector<WorkArc>& arcs, std::vector<int64_t>& first,
                std::vector<int32_t>& node, std::vector<int64_t>& length) {
    const size_t n = order.size();
    first.assign(n + 1, 0);
    node.resize(arcs.size());
    length.resize(arcs.size());
    int64_t at = 0;
    for (size_t i = 0; i < n; ++i) {
        const size_t rank = n - 1 - i;  // index i was removed rank-th
        first[i] = at;
        for (int64_t e = start[rank]; e < start[rank + 1]; ++e) {
            node[static_cast<size_t>(at)] = index_of[static_cast<size_t>(arcs[static_cast<size_t>(e)].node)];
            length[static_cast<size_t>(at)] = arcs[static_cast<size_t>(e)].length;
            ++at;
        }
    }
    first[n] = at;
}

// Renumbers the hierarchy for the downward pass's memory: by depth (a node
// without downward arcs 0, else one more than its deepest tail), and within a
// depth by the network's own ids, which in road networks run along the
// streets. Every downward arc still comes from a smaller index.
void renumberForLocality(Hierarchy& h, const Network& network) {
    const size_t n = static_cast<size_t>(h.nodes);
    // A breadth-first order of the network, arcs taken both ways: nodes near
    // each other come near each other.
    std::vector<int32_t> near(n, -1);
    {
        std::vector<std::vector<int32_t>> back(n);
        for (int32_t u = 1; u <= network.nodes; ++u) {
            for (int32_t e = network.point[static_cast<size_t>(u) - 1]; e < network.point[static_cast<size_t>(u)]; ++e) {
                back[static_cast<size_t>(network.head[static_cast<size_t>(e)]) - 1].push_back(u - 1);
            }
        }
        std::vector<int32_t> queue;
        int32_t next = 0;
        for (size_t start = 0; start < n; ++start) {
            if (near[start] >= 0) continue;
            near[start] = next++;
            queue.assign(1, static_cast<int32_t>(start));
            for (size_t q = 0; q < queue.size(); ++q) {
                const int32_t u = queue[q];
                const auto visit = [&](int32_t v) {
                    if (near[static_cast<size_t>(v)] < 0) {
                        near[static_cast<size_t>(v)] = next++;
                        queue.push_back(v);
                    }
                };
                for (int32_t e = network.point[static_cast<size_t>(u)]; e < network.point[static_cast<size_t>(u) + 1]; ++e) {
                    visit(network.head[static_cast<size_t>(e)] - 1);
                }
                for (const int32_t v : back[static_cast<size_t>(u)]) visit(v);
            }
        }
    }
    std::vector<int32_t> depth(n, 0);
    for (size_t i = 0; i < n; ++i) {
        for (int64_t e = h.down_first[i]; e < h.down_first[i + 1]; ++e) {
            depth[i] = std::max(depth[i], depth[static_cast<size_t>(h.down_tail[static_cast<size_t>(e)])] + 1);
        }
    }
    std::vector<int32_t> order(n);  // new index -> old index
    for (size_t i = 0; i < n; ++i) order[i] = static_cast<int32_t>(i);
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const int32_t da = depth[static_cast<size_t>(a)], db = depth[static_cast<size_t>(b)];
        return da != db ? da < db
                        : near[static_cast<size_t>(h.original[static_cast<size_t>(a)]) - 1] <
                              near[static_cast<size_t>(h.original[static_cast<size_t>(b)]) - 1];
    });
    std::vector<int32_t> new_of(n);
    for (size_t i = 0; i < n; ++i) new_of[static_cast<size_t>(order[i])] = static_cast<int32_t>(i);
    Hierarchy r;
    r.network = h.network;
    r.nodes = h.nodes;
    r.original.resize(n);
    r.index_of.resize(n);
    r.out_degree.resize(n);
    r.up_first.assign(1, 0);
    r.down_first.assign(1, 0);
    for (size_t i = 0; i < n; ++i) {
        const size_t old = static_cast<size_t>(order[i]);
        r.original[i] = h.original[old];
        r.index_of[static_cast<size_t>(h.original[old]) - 1] = static_cast<int32_t>(i);
        r.out_degree[i] = h.out_degree[old];
        for (int64_t e = h.up_first[old]; e < h.up_first[old + 1]; ++e) {
            r.up_head.push_back(new_of[static_cast<size_t>(h.up_head[static_cast<size_t>(e)])]);
            r.up_length.push_back(h.up_length[static_cast<size_t>(e)]);
        }
        r.up_first.push_back(static_cast<int64_t>(r.up_head.size()));
        for (int64_t e = h.down_first[old]; e < h.down_first[old + 1]; ++e) {
            r.down_tail.push_back(new_of[static_cast<size_t>(h.down_tail[static_cast<size_t>(e)])]);
            r.down_length.push_back(h.down_length[static_cast<size_t>(e)]);
        }
        r.down_first.push_back(static_cast<int64_t>(r.down_tail.size()));
    }
    h = std::move(r);
}

}  // namespace

ContractionReport buildHierarchy(const Network& network, const ContractionLimits& limits, Hierarchy& out) {
    const auto start = std::chrono::steady_clock::now();
    ContractionReport report;
    const auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    for (int32_t length : network.length) {
        if (length < 0) {
            report.why_not = "the method needs lengths >= 0, and this network has a negative one";
            return report;
        }
    }
    std::vector<int32_t> order;
    std::vector<int64_t> up_start, down_start;
    std::vector<WorkArc> up, down;
    {
        Contractor contractor(network, limits);
        if (!contractor.run(report, order, up_start, up, down_start, down)) {
            report.seconds = seconds();
            return report;
        }
    }
    const int32_t n = network.nodes;
    out = Hierarchy{};
    out.network = fingerprintOf(network);
    out.nodes = n;
    out.original.resize(static_cast<size_t>(n));
    out.index_of.resize(static_cast<size_t>(n));
    for (int32_t rank = 0; rank < n; ++rank) {
        const int32_t index = n - 1 - rank;
        out.original[static_cast<size_t>(index)] = order[static_cast<size_t>(rank)] + 1;
        out.index_of[static_cast<size_t>(order[static_cast<size_t>(rank)])] = index;
    }
    layOutArcs(order, out.index_of, up_start, up, out.up_first, out.up_head, out.up_length);
    layOutArcs(order, out.index_of, down_start, down, out.down_first, out.down_tail, out.down_length);
    out.out_degree.resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        const int32_t v = out.original[static_cast<size_t>(i)];
        out.out_degree[static_cast<size_t>(i)] = network.point[static_cast<size_t>(v)] - network.point[static_cast<size_t>(v) - 1];
    }
    renumberForLocality(out, network);
    report.built = true;
    report.seconds = seconds();
    return report;
}

uint64_t Hierarchy::bytes() const {
    return sizeof(int32_t) * (original.size() + index_of.size() + out_degree.size() + up_head.size() + down_tail.size()) +
           sizeof(int64_t) * (up_first.size() + up_length.size() + down_first.size() + down_length.size());
}

std::string describe(const ContractionReport& r, const Network& network) {
    char text[256];
    std::snprintf(text, sizeof text, "%lld of %d nodes removed, %lld shortcuts (%.2f an arc), %lld steps of witness "
                                     "searches, %.1f s",
                  static_cast<long long>(r.contracted), network.nodes, static_cast<long long>(r.shortcuts),
                  network.arcs > 0 ? static_cast<double>(r.shortcuts) / network.arcs : 0.0,
                  static_cast<long long>(r.work), r.seconds);
    return text;
}
