// The ranks of an spc_sweep run and what passes between them: MPI's ranks
// when the tool is built with MPI (sweep_ranks_mpi.cpp), else one rank
// (sweep_ranks_alone.cpp). Rank 0 reads the files, hands out the units of
// work and gathers their figures; every rank runs units.
#pragma once

#include <cstdint>
#include <string>

#include "sweep_blocks.h"

void startRanks(int* argc, char*** argv);
void stopRanks();
int rankCount();
int myRank();
// "MPI (Open MPI 4.1.4)" or "no MPI": for the tool's own line.
std::string ranksBuild();

// Collective calls: every rank makes them in the same order.
// Rank 0's value, given to every rank.
bool shareFlag(bool value);
int64_t shareNumber(int64_t value);
// Whether every rank's value is true.
bool allRanksAgree(bool value);
// Rank 0's network (num_nodes, num_arcs, point, graph_head, graph_length) to
// the others; each checks first that it has the memory. False, on every
// rank, when one of them lacks it; nothing is then loaded on the others.
bool shareNetwork();

// Rank 0 to another rank: a unit to run, or kNoMoreUnits.
constexpr int64_t kNoMoreUnits = -1;
void sendUnit(int to, int64_t unit);
// On a rank other than 0: the next unit sent, waiting for it when `wait`.
// False when none has come (without wait).
bool receiveUnit(bool wait, int64_t& unit);

// A rank other than 0 to rank 0: a unit's figures.
void sendRecord(const UnitRecord& record);
// On rank 0: a record sent (its rank set), if one has come.
bool receiveRecord(UnitRecord& record);
