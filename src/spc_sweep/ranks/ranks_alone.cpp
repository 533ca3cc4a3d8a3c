// spc_sweep built without MPI: one rank, which runs every chunk itself.
#include <new>

#include "engine/arc_layout.h"
#include "loader/network_loader.h"
#include "ranks.h"

namespace {

class NoOtherRanks : public RankLink {
public:
    int ranks() const override { return 1; }
    void assign(int, const Chunk&) override {}
    void stop(int, bool) override {}
    bool receive(FromRank&) override { return false; }
    bool flush(double) override { return true; }
};

// The one copy of the arc table.
LaidOutNetwork copy;

}  // namespace

void startRanks(int*, char***) {}
void stopRanks() {}
int rankCount() { return 1; }
int myRank() { return 0; }
std::string ranksBuild() { return "built without MPI"; }
bool shareFlag(bool value) { return value; }
int64_t shareNumber(int64_t value) { return value; }
void shareIds(std::vector<int32_t>&) {}
bool allRanksAgree(bool value) { return value; }
std::vector<uint64_t> gatherAtRankZero(const std::vector<uint64_t>& mine) { return mine; }
double measureHandoutSeconds() { return 0; }
int ranksOnThisMachine() { return 1; }

std::string shareNetwork(const Network& network, uint64_t rank_zero_extra, int engines_per_rank, ArcTable& table) {
    const ArcLayout layout = planArcLayout(network);
    const uint64_t need =
        layout.bytes + static_cast<uint64_t>(engines_per_rank) * engineOwnBytes(layout, EngineUse::figures) +
        rank_zero_extra;
    const uint64_t available = availableMemory();
    if (need > available) {
        return "the machine lacks the memory for the network: it needs about " + mebibytes(need) + ", " +
               mebibytes(available) + " are available";
    }
    try {
        layOut(network, copy);
    } catch (const std::bad_alloc&) {
        copy = {};
        return "the machine lacks the memory for the network's arc table";
    }
    table = {copy.layout, copy.block.data()};
    return {};
}

std::string shareBlock(const unsigned char* bytes, uint64_t, uint64_t rank_zero_extra, uint64_t per_rank,
                       const unsigned char*& to) {
    const uint64_t need = per_rank + rank_zero_extra;  // the block is in memory already
    const uint64_t available = availableMemory();
    if (need > available) {
        return "the machine lacks the memory for the engines: they need about " + mebibytes(need) + ", " +
               mebibytes(available) + " are available";
    }
    to = bytes;
    return {};
}

void releaseNetworkCopy() { copy = {}; }

std::unique_ptr<RankLink> linkToOtherRanks() { return std::make_unique<NoOtherRanks>(); }
std::unique_ptr<WorkerLink> linkToRankZero() { return nullptr; }
