// spc_sweep's ranks over MPI. Waits for messages spin on the processor in
// most MPI libraries; the tool's times count only the single-source runs.
#include <mpi.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "loader/network_loader.h"
#include "state/program_state.h"
#include "sweep_ranks.h"

namespace {

constexpr int kTagUnit = 1;
constexpr int kTagRecord = 2;

// Large arrays go in pieces, as counts are ints.
constexpr size_t kPiece = size_t{1} << 26;

void broadcastInts(std::vector<int32_t>& values) {
    for (size_t at = 0; at < values.size(); at += kPiece) {
        const int count = static_cast<int>(std::min(kPiece, values.size() - at));
        MPI_Bcast(values.data() + at, count, MPI_INT32_T, 0, MPI_COMM_WORLD);
    }
}

}  // namespace

void startRanks(int* argc, char*** argv) { MPI_Init(argc, argv); }
void stopRanks() { MPI_Finalize(); }

int rankCount() {
    int size = 1;
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    return size;
}

int myRank() {
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    return rank;
}

std::string ranksBuild() {
    char version[MPI_MAX_LIBRARY_VERSION_STRING];
    int length = 0;
    MPI_Get_library_version(version, &length);
    std::string text(version, static_cast<size_t>(std::max(length, 0)));
    text = text.substr(0, text.find_first_of(",\n"));
    return "over " + text;
}

bool shareFlag(bool value) {
    int flag = value ? 1 : 0;
    MPI_Bcast(&flag, 1, MPI_INT, 0, MPI_COMM_WORLD);
    return flag != 0;
}

int64_t shareNumber(int64_t value) {
    MPI_Bcast(&value, 1, MPI_INT64_T, 0, MPI_COMM_WORLD);
    return value;
}

bool allRanksAgree(bool value) {
    int mine = value ? 1 : 0, all = 0;
    MPI_Allreduce(&mine, &all, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    return all != 0;
}

bool shareNetwork() {
    const int64_t nodes = shareNumber(num_nodes);
    const int64_t arcs = shareNumber(num_arcs);
    // The others hold the table and the engine's copy of it (8 bytes an arc
    // at most), not the arcs as read.
    const uint64_t need = networkMemoryNeed(nodes, arcs) -
                          static_cast<uint64_t>(arcs) * (sizeof(ArcTriple) - 2 * sizeof(int32_t));
    if (!allRanksAgree(myRank() == 0 || need <= availableMemory())) return false;
    bool allocated = true;
    if (myRank() != 0) {
        try {
            num_nodes = static_cast<int32_t>(nodes);
            num_arcs = static_cast<int32_t>(arcs);
            point.assign(static_cast<size_t>(nodes) + 1, 0);
            graph_head.assign(static_cast<size_t>(arcs), 0);
            graph_length.assign(static_cast<size_t>(arcs), 0);
        } catch (const std::bad_alloc&) {
            allocated = false;
        }
    }
    if (!allRanksAgree(allocated)) return false;
    broadcastInts(point);
    broadcastInts(graph_head);
    broadcastInts(graph_length);
    ++network_generation;
    return true;
}

void sendUnit(int to, int64_t unit) { MPI_Send(&unit, 1, MPI_INT64_T, to, kTagUnit, MPI_COMM_WORLD); }

bool receiveUnit(bool wait, int64_t& unit) {
    if (!wait) {
        int waiting = 0;
        MPI_Iprobe(0, kTagUnit, MPI_COMM_WORLD, &waiting, MPI_STATUS_IGNORE);
        if (!waiting) return false;
    }
    MPI_Recv(&unit, 1, MPI_INT64_T, 0, kTagUnit, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    return true;
}

void sendRecord(const UnitRecord& r) {
    const auto sum = static_cast<uint128>(r.sum);
    const uint64_t message[5] = {static_cast<uint64_t>(r.unit), static_cast<uint64_t>(sum),
                                 static_cast<uint64_t>(sum >> 64), static_cast<uint64_t>(r.scans), r.cpu_ns};
    MPI_Send(message, 5, MPI_UINT64_T, 0, kTagRecord, MPI_COMM_WORLD);
}

bool receiveRecord(UnitRecord& r) {
    MPI_Status status;
    int waiting = 0;
    MPI_Iprobe(MPI_ANY_SOURCE, kTagRecord, MPI_COMM_WORLD, &waiting, &status);
    if (!waiting) return false;
    uint64_t message[5];
    MPI_Recv(message, 5, MPI_UINT64_T, status.MPI_SOURCE, kTagRecord, MPI_COMM_WORLD, &status);
    r.unit = static_cast<int64_t>(message[0]);
    r.sum = static_cast<int128>(static_cast<uint128>(message[2]) << 64 | message[1]);
    r.scans = static_cast<int64_t>(message[3]);
    r.cpu_ns = message[4];
    r.rank = status.MPI_SOURCE;
    return true;
}
