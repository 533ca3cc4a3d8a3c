// Seeded networks of a chosen family and size, the same on every machine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "loader/network_loader.h"

struct NetworkSpec {
    std::string family;   // "grid", "road", "random", "complete" or "path"
    int64_t first = 0;    // grid, road: width; others: node count
    int64_t second = 0;   // grid, road: height; random: arc count; others unused
    uint64_t seed = 1;
    int64_t min_length = 1;
    int64_t max_length = 100;
};

struct GeneratedNetwork {
    int32_t nodes = 0;
    std::vector<ArcTriple> arcs;  // in the order they are written
};

// Why the spec cannot be generated, or an empty string.
std::string checkSpec(const NetworkSpec& spec);

// Whether the family takes two sizes (grid, road, random) rather than one.
bool hasTwoSizes(const std::string& family);

// Links between two neighbouring rows of a road network of this width.
int64_t roadLinks(int64_t width);

// Node and arc counts of a valid spec.
int64_t specNodes(const NetworkSpec& spec);
int64_t specArcs(const NetworkSpec& spec);

// Precondition: checkSpec(spec) is empty.
GeneratedNetwork generateNetwork(const NetworkSpec& spec);

// The comment line that names the family and every parameter, without newline.
std::string specComment(const NetworkSpec& spec);

// Writes the network in the format the program reads, generating it on the
// way. False on a write error.
bool writeNetwork(std::FILE* out, const NetworkSpec& spec);

// The network as text, for tests and benchmarks.
std::string networkText(const NetworkSpec& spec);

// Uniform integer in lo..hi from a 64-bit engine, by rejection, so that the
// sequence is the same with every standard library.
int64_t uniformInteger(std::mt19937_64& engine, int64_t lo, int64_t hi);
