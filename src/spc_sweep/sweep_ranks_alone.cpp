// spc_sweep built without MPI: one rank, which runs every unit itself.
#include <cstdlib>

#include "sweep_ranks.h"

void startRanks(int*, char***) {}
void stopRanks() {}
int rankCount() { return 1; }
int myRank() { return 0; }
std::string ranksBuild() { return "built without MPI"; }
bool shareFlag(bool value) { return value; }
int64_t shareNumber(int64_t value) { return value; }
bool allRanksAgree(bool value) { return value; }
bool shareNetwork() { return true; }

// With one rank there is nobody to send to or hear from.
void sendUnit(int, int64_t) { std::abort(); }
bool receiveUnit(bool, int64_t&) { std::abort(); }
void sendRecord(const UnitRecord&) { std::abort(); }
bool receiveRecord(UnitRecord&) { return false; }
