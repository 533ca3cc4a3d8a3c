// The ranks of an spc_sweep run and what passes between them: MPI's ranks
// when the tool is built with MPI (ranks_mpi.cpp, network_copy_mpi.cpp),
// else one rank (ranks_alone.cpp). Rank 0 reads the files, hands out
// chunks of sources and gathers their records; every rank runs chunks on its
// compute thread. Only each rank's main thread calls these.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "network/network.h"
#include "spc_sweep/plan/tally.h"

void startRanks(int* argc, char*** argv);
void stopRanks();
int rankCount();
int myRank();
// "over Open MPI v4.1.4" or "built without MPI": for the tool's own line.
std::string ranksBuild();

// Collective calls: every rank makes them in the same order.
// Rank 0's value, given to every rank.
bool shareFlag(bool value);
int64_t shareNumber(int64_t value);
// Rank 0's ids (the chosen sources), given to every rank.
void shareIds(std::vector<int32_t>& ids);
// Whether every rank's value is true.
bool allRanksAgree(bool value);
// Every rank's values, end to end in rank order, on rank 0 (empty elsewhere).
std::vector<uint64_t> gatherAtRankZero(const std::vector<uint64_t>& mine);
// The ranks that share this rank's machine (this one included).
int ranksOnThisMachine();

// The time from a rank's message to rank 0 until rank 0's answer arrives,
// measured between ranks 0 and 1 (0 alone), on every rank.
double measureHandoutSeconds();

// Rank 0's network to every rank: the ranks of each machine share one copy
// of its arc table, laid out once and sent once per machine; `table` is
// this rank's view of it. `network` is read on rank 0 only (the others pass
// an empty one); rank_zero_extra is what rank 0 holds besides (its tally,
// the file as read). Each machine first checks that it has the memory for
// the copy and for an engine per compute thread of all its ranks. Returns an
// empty string, or (on rank 0) why not; on failure no rank holds a copy.
std::string shareNetwork(const Network& network, uint64_t rank_zero_extra, int engines_per_rank, ArcTable& table);
// Rank 0's block of bytes (a hierarchy's image; `bytes` on rank 0, null
// elsewhere, `size` on every rank) to every rank in the same way: one
// read-only copy per machine, `copy` this rank's view of it, 8-byte aligned.
// Each machine first checks its memory for the copy and `per_rank` bytes a
// rank (rank 0: rank_zero_extra more). Empty string or (on rank 0) why not.
// Without MPI, `copy` is `bytes` itself.
std::string shareBlock(const unsigned char* bytes, uint64_t size, uint64_t rank_zero_extra, uint64_t per_rank,
                       const unsigned char*& copy);
// Frees this machine's copy.
void releaseNetworkCopy();

// "12 MiB": bytes in whole mebibytes, rounded up.
std::string mebibytes(uint64_t bytes);

// Messages from the other ranks to rank 0.
struct FromRank {
    enum Kind { record, interrupted, bye } kind = record;
    int rank = 0;
    ChunkRecord chunk_record;  // of a record
};

// Rank 0's link to ranks 1 .. ranks() - 1. Nothing it does waits.
class RankLink {
public:
    virtual ~RankLink() = default;
    virtual int ranks() const = 0;
    virtual void assign(int rank, const Chunk& chunk) = 0;
    // No more chunks for the rank; `interrupted`: the run is cut short.
    virtual void stop(int rank, bool interrupted) = 0;
    // A message that has come, if any.
    virtual bool receive(FromRank& message) = 0;
    // Waits until every message sent has been taken; false when that takes
    // longer than the time given.
    virtual bool flush(double most_seconds) = 0;
};
std::unique_ptr<RankLink> linkToOtherRanks();

// Messages from rank 0 to another rank.
struct ToRank {
    enum Kind { assign, stop, interrupt } kind = assign;
    Chunk chunk;  // of an assignment
};

// Another rank's link to rank 0. Nothing it does waits, but flush.
class WorkerLink {
public:
    virtual ~WorkerLink() = default;
    virtual bool receive(ToRank& message) = 0;
    virtual void send(const ChunkRecord& record) = 0;
    virtual void sendInterrupted() = 0;
    virtual void sendBye() = 0;
    virtual bool flush(double most_seconds) = 0;
};
std::unique_ptr<WorkerLink> linkToRankZero();

// A record as the numbers a message carries, and back.
std::vector<uint64_t> packRecord(const ChunkRecord& record);
bool unpackRecord(const std::vector<uint64_t>& message, ChunkRecord& record);
