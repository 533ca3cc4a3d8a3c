// spc_sweep's ranks over MPI. Only each rank's main thread calls MPI
// (MPI_THREAD_FUNNELED); the compute thread never does. Every message between
// ranks is sent synchronously and without waiting (MPI_Issend), so that the
// tool never relies on MPI buffering what it sends, however many ranks.
#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <list>
#include <thread>
#include <vector>

#include "ranks.h"

namespace {

constexpr int kTagAssign = 1;
constexpr int kTagStop = 2;
constexpr int kTagInterrupt = 3;
constexpr int kTagRecord = 4;
constexpr int kTagInterrupted = 5;
constexpr int kTagBye = 6;

// Messages in flight: each buffer lives until its send completes.
class Outbox {
public:
    void send(std::vector<uint64_t> message, int to, int tag) {
        sends_.push_back({std::move(message), MPI_REQUEST_NULL});
        Send& s = sends_.back();
        MPI_Issend(s.data.data(), static_cast<int>(s.data.size()), MPI_UINT64_T, to, tag, MPI_COMM_WORLD, &s.request);
        progress();
    }
    // Frees the sends that completed.
    void progress() {
        for (auto it = sends_.begin(); it != sends_.end();) {
            int done = 0;
            MPI_Test(&it->request, &done, MPI_STATUS_IGNORE);
            it = done ? sends_.erase(it) : std::next(it);
        }
    }
    bool flush(double most_seconds, const std::function<void()>& meanwhile) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(most_seconds);
        for (;;) {
            progress();
            if (sends_.empty()) return true;
            if (std::chrono::steady_clock::now() > until) return false;
            if (meanwhile) meanwhile();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

private:
    struct Send {
        std::vector<uint64_t> data;
        MPI_Request request;
    };
    std::list<Send> sends_;
};

// A message that has come from `from` (MPI_ANY_SOURCE: anyone), if any.
bool receiveFrom(int from, int& tag, int& source, std::vector<uint64_t>& data) {
    int waiting = 0;
    MPI_Status status;
    MPI_Iprobe(from, MPI_ANY_TAG, MPI_COMM_WORLD, &waiting, &status);
    if (!waiting) return false;
    int count = 0;
    MPI_Get_count(&status, MPI_UINT64_T, &count);
    data.resize(static_cast<size_t>(std::max(count, 0)));
    MPI_Recv(data.data(), count, MPI_UINT64_T, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD, &status);
    tag = status.MPI_TAG;
    source = status.MPI_SOURCE;
    return true;
}

class MpiRankLink : public RankLink {
public:
    int ranks() const override { return rankCount(); }
    void assign(int rank, const Chunk& c) override {
        outbox_.send({static_cast<uint64_t>(c.id), static_cast<uint64_t>(c.repetition), static_cast<uint64_t>(c.first),
                      static_cast<uint64_t>(c.last)},
                     rank, kTagAssign);
    }
    void stop(int rank, bool interrupted) override { outbox_.send({}, rank, interrupted ? kTagInterrupt : kTagStop); }
    bool receive(FromRank& m) override {
        outbox_.progress();
        int tag = 0;
        if (!receiveFrom(MPI_ANY_SOURCE, tag, m.rank, data_)) return false;
        m.kind = tag == kTagRecord ? FromRank::record : tag == kTagInterrupted ? FromRank::interrupted : FromRank::bye;
        if (m.kind == FromRank::record && !unpackRecord(data_, m.chunk_record)) m.chunk_record = {};
        m.chunk_record.rank = m.rank;
        return true;
    }
    bool flush(double most_seconds) override { return outbox_.flush(most_seconds, {}); }

private:
    Outbox outbox_;
    std::vector<uint64_t> data_;
};

class MpiWorkerLink : public WorkerLink {
public:
    bool receive(ToRank& m) override {
        outbox_.progress();
        int tag = 0, source = 0;
        if (!receiveFrom(0, tag, source, data_)) return false;
        m.kind = tag == kTagAssign ? ToRank::assign : tag == kTagStop ? ToRank::stop : ToRank::interrupt;
        if (m.kind == ToRank::assign && data_.size() == 4) {
            m.chunk = {static_cast<int64_t>(data_[0]), static_cast<int32_t>(data_[1]), static_cast<int64_t>(data_[2]),
                       static_cast<int64_t>(data_[3])};
        }
        return true;
    }
    void send(const ChunkRecord& record) override { outbox_.send(packRecord(record), 0, kTagRecord); }
    void sendInterrupted() override { outbox_.send({}, 0, kTagInterrupted); }
    void sendBye() override { outbox_.send({}, 0, kTagBye); }
    bool flush(double most_seconds) override { return outbox_.flush(most_seconds, {}); }

private:
    Outbox outbox_;
    std::vector<uint64_t> data_;
};

}  // namespace

void startRanks(int* argc, char*** argv) {
    int provided = 0;
    MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided);
    if (provided < MPI_THREAD_FUNNELED) {
        std::fprintf(stderr, "spc_sweep: the MPI library gives no thread support; the tool needs MPI_THREAD_FUNNELED\n");
        MPI_Abort(MPI_COMM_WORLD, 1);
    }
}
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

void shareIds(std::vector<int32_t>& ids) {
    const int64_t count = shareNumber(static_cast<int64_t>(ids.size()));
    ids.resize(static_cast<size_t>(count));
    // In pieces: MPI counts are ints.
    for (int64_t at = 0; at < count; at += int64_t{1} << 30) {
        const int piece = static_cast<int>(std::min<int64_t>(count - at, int64_t{1} << 30));
        MPI_Bcast(ids.data() + at, piece, MPI_INT32_T, 0, MPI_COMM_WORLD);
    }
}

bool allRanksAgree(bool value) {
    int mine = value ? 1 : 0, all = 0;
    MPI_Allreduce(&mine, &all, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    return all != 0;
}

std::vector<uint64_t> gatherAtRankZero(const std::vector<uint64_t>& mine) {
    const int ranks = rankCount();
    int count = static_cast<int>(mine.size());
    std::vector<int> counts(static_cast<size_t>(ranks)), starts(static_cast<size_t>(ranks));
    MPI_Gather(&count, 1, MPI_INT, counts.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
    std::vector<uint64_t> all;
    if (myRank() == 0) {
        int at = 0;
        for (int r = 0; r < ranks; ++r) {
            starts[static_cast<size_t>(r)] = at;
            at += counts[static_cast<size_t>(r)];
        }
        all.resize(static_cast<size_t>(at));
    }
    MPI_Gatherv(mine.data(), count, MPI_UINT64_T, all.data(), counts.data(), starts.data(), MPI_UINT64_T, 0,
                MPI_COMM_WORLD);
    return all;
}

int ranksOnThisMachine() {
    MPI_Comm machine = MPI_COMM_NULL;
    MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, myRank(), MPI_INFO_NULL, &machine);
    int size = 1;
    MPI_Comm_size(machine, &size);
    MPI_Comm_free(&machine);
    return size;
}

double measureHandoutSeconds() {
    constexpr int kRounds = 200;
    double seconds = 0;
    if (rankCount() > 1 && myRank() < 2) {
        uint64_t word = 0;
        const double start = MPI_Wtime();
        for (int i = 0; i < kRounds; ++i) {
            if (myRank() == 0) {
                MPI_Send(&word, 1, MPI_UINT64_T, 1, 0, MPI_COMM_WORLD);
                MPI_Recv(&word, 1, MPI_UINT64_T, 1, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            } else {
                MPI_Recv(&word, 1, MPI_UINT64_T, 0, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
                MPI_Send(&word, 1, MPI_UINT64_T, 0, 0, MPI_COMM_WORLD);
            }
        }
        seconds = (MPI_Wtime() - start) / kRounds;
    }
    MPI_Bcast(&seconds, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
    return seconds;
}

std::unique_ptr<RankLink> linkToOtherRanks() { return std::make_unique<MpiRankLink>(); }
std::unique_ptr<WorkerLink> linkToRankZero() { return std::make_unique<MpiWorkerLink>(); }
