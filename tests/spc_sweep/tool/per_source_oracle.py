#!/usr/bin/env python3
"""Checks spc_sweep's per-source file of a network against NetworkX's
single-source Dijkstra: for every source, the nodes reached (itself included),
the sum and the largest of their distances.

    per_source_oracle.py NETWORK.gr PER_SOURCE.tsv

Lengths must not be negative (then the method's figures are its own).
Exit status 0 when every line agrees, 1 otherwise, 77 without NetworkX."""
import sys

try:
    import networkx as nx
except ImportError:
    print("skipped: NetworkX is not installed (apt-get install python3-networkx)")
    sys.exit(77)


def read_network(path):
    graph = nx.DiGraph()
    with open(path) as f:
        for line in f:
            fields = line.split()
            if not fields:
                continue
            if fields[0] == "p":
                graph.add_nodes_from(range(1, int(fields[2]) + 1))
            elif fields[0] == "a":
                u, v, w = int(fields[1]), int(fields[2]), int(fields[3])
                # Parallel arcs: the shortest is the one that counts.
                if not graph.has_edge(u, v) or graph[u][v]["weight"] > w:
                    graph.add_edge(u, v, weight=w)
    return graph


def main():
    graph = read_network(sys.argv[1])
    with open(sys.argv[2]) as f:
        lines = [line.rstrip("\n") for line in f if not line.startswith("#")]
    if len(lines) != graph.number_of_nodes():
        print(f"{len(lines)} lines for {graph.number_of_nodes()} sources")
        return 1
    wrong = 0
    for line in lines:
        source, reached, total, largest = (int(x) for x in line.split("\t"))
        distances = nx.single_source_dijkstra_path_length(graph, source)
        expected = (len(distances), sum(distances.values()), max(distances.values()))
        if (reached, total, largest) != expected:
            wrong += 1
            if wrong <= 5:
                print(f"source {source}: file says {(reached, total, largest)}, NetworkX {expected}")
    print(f"{len(lines) - wrong} of {len(lines)} sources agree")
    return 1 if wrong else 0


sys.exit(main())
