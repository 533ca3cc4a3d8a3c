// A network with a road network's structure at every size: A x B copies of
// a given network (tiles, numbered row by row), each joined to its right and
// lower neighbours by a few two-way arcs between random node pairs, of
// lengths drawn from the network's own. The same file for the same arguments
// on every machine. Bremen's streets tiled 5 x 5 has about a million nodes,
// 24 x 25 about 24.3 million.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "network/network.h"

// Two-way links between two neighbouring tiles.
constexpr int kTileLinks = 4;

// Why the tiles cannot be made of this network, or an empty string.
std::string checkTiles(const Network& base, int64_t across, int64_t down);

// Writes the tiled network in the format the program reads. `comment` is the
// first line's text after "c ". False on a write error.
bool writeTiles(std::FILE* out, const Network& base, int64_t across, int64_t down, uint64_t seed,
                const std::string& comment);
