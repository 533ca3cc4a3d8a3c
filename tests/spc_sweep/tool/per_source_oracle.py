#!/usr/bin/env python3
"""Checks spc_sweep's per-source file of a network against NetworkX's
single-source Dijkstra: for every source, the nodes reached (itself included),
the sum and the largest of their distances; and its harmonic sum against
NetworkX's harmonic_centrality, to 1e-12 relative. NetworkX sums 1/d over the
nodes that reach a node, the file over the nodes a source reaches: NetworkX's
is taken on the network with every arc turned around.

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
    harmonic = nx.harmonic_centrality(graph.reverse(copy=True), distance="weight")
    wrong = 0
    for line in lines:
        fields = line.split("\t")
        source, reached, total, largest = (int(x) for x in fields[:4])
        distances = nx.single_source_dijkstra_path_length(graph, source)
        expected = (len(distances), sum(distances.values()), max(distances.values()))
        said = float(fields[4])
        if (reached, total, largest) != expected or abs(said - harmonic[source]) > 1e-12 * harmonic[source]:
            wrong += 1
            if wrong <= 5:
                print(f"source {source}: file says {(reached, total, largest, said)}, "
                      f"NetworkX {expected + (harmonic[source],)}")
    print(f"{len(lines) - wrong} of {len(lines)} sources agree")
    return 1 if wrong else 0


sys.exit(main())
