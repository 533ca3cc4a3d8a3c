// One copy of the network per machine: the ranks of a machine share a
// read-only arc table (or a hierarchy's image) in an MPI shared-memory
// window. Rank 0 lays it out; it crosses the interconnect once per machine,
// to the machine's first rank.
#include <mpi.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "base/aligned_vector.h"
#include "engine/arc_layout.h"
#include "loader/network_loader.h"
#include "ranks.h"

namespace {

// The ranks of this machine, and the first rank of each machine.
MPI_Comm machine = MPI_COMM_NULL;
MPI_Comm first_ranks = MPI_COMM_NULL;
MPI_Win window = MPI_WIN_NULL;
void* block = nullptr;

// Large arrays go in pieces, as counts are ints.
constexpr size_t kPiece = size_t{1} << 30;

void splitByMachine() {
    if (machine != MPI_COMM_NULL) return;
    const int rank = myRank();
    MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &machine);
    int machine_rank = 0;
    MPI_Comm_rank(machine, &machine_rank);
    MPI_Comm_split(MPI_COMM_WORLD, machine_rank == 0 ? 0 : MPI_UNDEFINED, rank, &first_ranks);
    MPI_Comm_set_errhandler(machine, MPI_ERRORS_RETURN);
}

// Rank 0's bytes, as `fill` writes them, in a window every rank of each
// machine reads (`block`). Empty string or what failed, on every rank.
std::string makeSharedCopy(uint64_t bytes, const std::function<void(void*)>& fill);

bool firstOnMachine() {
    int machine_rank = 0;
    MPI_Comm_rank(machine, &machine_rank);
    return machine_rank == 0;
}

// The layout's numbers, from rank 0 to all.
void shareLayout(ArcLayout& l) {
    int64_t numbers[15] = {l.widths.id_bits, l.widths.key_bits, l.widths.length_bits, l.bounds.nodes,
                           l.bounds.min_length, l.bounds.max_length, l.bounds.negative_reach, l.bounds.positive_reach,
                           l.nodes, l.arcs, l.max_degree, l.fixed_slots, static_cast<int64_t>(l.head_offset),
                           static_cast<int64_t>(l.length_offset), static_cast<int64_t>(l.bytes)};
    MPI_Bcast(numbers, 15, MPI_INT64_T, 0, MPI_COMM_WORLD);
    l.widths = {static_cast<int>(numbers[0]), static_cast<int>(numbers[1]), static_cast<int>(numbers[2])};
    l.bounds = {numbers[3], numbers[4], numbers[5], numbers[6], numbers[7]};
    l.nodes = numbers[8];
    l.arcs = numbers[9];
    l.max_degree = static_cast<int32_t>(numbers[10]);
    l.fixed_slots = numbers[11] != 0;
    l.point_offset = 0;
    l.head_offset = static_cast<size_t>(numbers[12]);
    l.length_offset = static_cast<size_t>(numbers[13]);
    l.bytes = static_cast<size_t>(numbers[14]);
}

// Each machine adds what its ranks need to the copy and compares it with
// what it has. Returns an empty string, or (on rank 0) why not.
std::string checkMemory(uint64_t shared, uint64_t mine) {
    uint64_t ranks_need = 0;
    MPI_Reduce(&mine, &ranks_need, 1, MPI_UINT64_T, MPI_SUM, 0, machine);
    int64_t short_by = 0;
    uint64_t need = 0, available = 0;
    if (firstOnMachine()) {
        need = ranks_need + shared;
        available = availableMemory();
        short_by = need > available ? static_cast<int64_t>(need - available) : 0;
    }
    // The machine short by most tells rank 0 what it lacks.
    struct {
        int64_t short_by;
        int rank;
    } worst{short_by, myRank()}, found{};
    MPI_Allreduce(&worst, &found, 1, MPI_LONG_INT, MPI_MAXLOC, MPI_COMM_WORLD);
    if (found.short_by == 0) return {};
    uint64_t numbers[2] = {need, available};
    if (found.rank != 0) {
        if (myRank() == found.rank) MPI_Send(numbers, 2, MPI_UINT64_T, 0, 0, MPI_COMM_WORLD);
        if (myRank() == 0) MPI_Recv(numbers, 2, MPI_UINT64_T, found.rank, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    }
    return "the machine of rank " + std::to_string(found.rank) + " lacks the memory for the network: its ranks need " +
           "about " + mebibytes(numbers[0]) + " with the shared copy of " + mebibytes(shared) + ", " + mebibytes(numbers[1]) +
           " are available";
}

}  // namespace

std::string shareNetwork(const Network& network, uint64_t rank_zero_extra, int engines_per_rank, ArcTable& table) {
    splitByMachine();
    const bool zero = myRank() == 0;
    ArcLayout layout = zero ? planArcLayout(network) : ArcLayout{};
    shareLayout(layout);
    const uint64_t engines = static_cast<uint64_t>(engines_per_rank) * engineOwnBytes(layout, EngineUse::figures);
    const std::string why = checkMemory(layout.bytes, engines + (zero ? rank_zero_extra : 0));
    if (!allRanksAgree(why.empty())) return why;
    const std::string failed = makeSharedCopy(layout.bytes, [&](void* to) { writeArcLayout(network, layout, to); });
    if (!failed.empty()) return failed + " of the network (" + mebibytes(layout.bytes) + ")";
    table = {layout, block};
    return {};
}

std::string shareBlock(const unsigned char* bytes, uint64_t size, uint64_t rank_zero_extra, uint64_t per_rank,
                       const unsigned char*& copy) {
    splitByMachine();
    const bool zero = myRank() == 0;
    const std::string why = checkMemory(size, per_rank + (zero ? rank_zero_extra : 0));
    if (!allRanksAgree(why.empty())) return why;
    const std::string failed = makeSharedCopy(size, [&](void* to) { std::memcpy(to, bytes, size); });
    if (!failed.empty()) return failed + " (" + mebibytes(size) + ")";
    copy = static_cast<const unsigned char*>(block);
    return {};
}

void releaseNetworkCopy() {
    if (window != MPI_WIN_NULL) {
        MPI_Win_unlock_all(window);
        MPI_Win_free(&window);
        window = MPI_WIN_NULL;
        block = nullptr;
    }
}

namespace {

std::string makeSharedCopy(uint64_t bytes_wanted, const std::function<void(void*)>& fill) {
    const bool zero = myRank() == 0;
    const size_t bytes_total = static_cast<size_t>(bytes_wanted);
    // The machine's first rank allocates the copy; the others find it. A
    // cache line more, to start the copy on one.
    const MPI_Aint size = firstOnMachine() ? static_cast<MPI_Aint>(bytes_total + kCacheLine) : 0;
    MPI_Info info;
    MPI_Info_create(&info);
    MPI_Info_set(info, "alloc_shared_noncontig", "true");
    void* mine = nullptr;
    const int made = MPI_Win_allocate_shared(size, 1, info, machine, &mine, &window);
    MPI_Info_free(&info);
    if (!allRanksAgree(made == MPI_SUCCESS)) {
        if (made == MPI_SUCCESS) MPI_Win_free(&window);
        window = MPI_WIN_NULL;
        return "a machine could not make the shared copy";
    }
    MPI_Aint got = 0;
    int unit = 1;
    void* base = nullptr;
    MPI_Win_shared_query(window, 0, &got, &unit, &base);
    block = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(base) + kCacheLine - 1) / kCacheLine * kCacheLine);
    MPI_Win_lock_all(MPI_MODE_NOCHECK, window);
    if (zero) fill(block);
    if (first_ranks != MPI_COMM_NULL) {
        auto* bytes = static_cast<unsigned char*>(block);
        for (size_t at = 0; at < bytes_total; at += kPiece) {
            const int count = static_cast<int>(std::min(kPiece, bytes_total - at));
            MPI_Bcast(bytes + at, count, MPI_BYTE, 0, first_ranks);
        }
    }
    MPI_Win_sync(window);
    MPI_Barrier(machine);
    MPI_Win_sync(window);
    return {};
}

}  // namespace
