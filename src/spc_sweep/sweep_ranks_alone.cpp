// spc_sweep built without MPI: one rank, which runs every chunk itself.
#include <new>

#include "engine/shortest_path.h"
#include "loader/network_loader.h"
#include "sweep_ranks.h"

namespace {

class NoOtherRanks : public RankLink {
public:
    int ranks() const override { return 1; }
    void assign(int, const Chunk&) override {}
    void stop(int, bool) override {}
    bool receive(FromRank&) override { return false; }
    bool flush(double) override { return true; }
};

std::string mib(uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB"; }

}  // namespace

void startRanks(int*, char***) {}
void stopRanks() {}
int rankCount() { return 1; }
int myRank() { return 0; }
std::string ranksBuild() { return "built without MPI"; }
bool shareFlag(bool value) { return value; }
int64_t shareNumber(int64_t value) { return value; }
bool allRanksAgree(bool value) { return value; }
std::vector<uint64_t> gatherAtRankZero(const std::vector<uint64_t>& mine) { return mine; }
double measureHandoutSeconds() { return 0; }

std::string shareNetwork(const ArcLayout& layout, uint64_t rank_zero_extra) {
    const uint64_t need = layout.bytes + engineOwnBytes(layout, EngineUse::figures) + rank_zero_extra;
    const uint64_t available = availableMemory();
    if (need > available) {
        return "the machine lacks the memory for the network: it needs about " + mib(need) + ", " + mib(available) +
               " are available";
    }
    try {
        prepareEngine(EngineUse::figures);
    } catch (const std::bad_alloc&) {
        releaseEngine();
        return "the machine lacks the memory for the network's engine";
    }
    return {};
}

void releaseNetworkCopy() { releaseEngine(); }

std::unique_ptr<RankLink> linkToOtherRanks() { return std::make_unique<NoOtherRanks>(); }
std::unique_ptr<WorkerLink> linkToRankZero() { return nullptr; }
