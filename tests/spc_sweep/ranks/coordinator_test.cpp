// Rank 0's coordinator against ranks that misbehave on purpose: a stand-in for
// the ranks layer whose ranks answer from figures worked out beforehand.
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "generator/network_generator.h"
#include "spc_sweep/ranks/compute_threads.h"
#include "spc_sweep/ranks/coordinator.h"
#include "spc_sweep/ranks/signals.h"
#include "test_support.h"

namespace {

// Ranks 1 .. ranks-1, answering each chunk at once with the right figures,
// unless told to misbehave.
class StandInRanks : public RankLink {
public:
    // held_until_stopped: a rank answers nothing until told to stop, then
    // sends every record it holds; the fourth chunk comes with another
    // rank's signal.
    enum class Fault {
        none, wrong_sources, wrong_rank, disagree, short_record, interrupted, held_until_stopped,
        // a record that matches the chunk given in all but one field
        wrong_repetition, wrong_last, wrong_first, wrong_id, twice
    };
    StandInRanks(int ranks, const std::map<int64_t, SourceFigures>& truth, Fault fault)
        : ranks_(ranks), truth_(truth), fault_(fault) {}
    int ranks() const override { return ranks_; }
    void assign(int rank, const Chunk& chunk) override {
        ChunkRecord r{chunk, 1000, {}, rank};
        for (int64_t s = chunk.first; s <= chunk.last; ++s) r.sources.push_back(truth_.at(s));
        FromRank message{FromRank::record, rank, r};
        // The fifth chunk handed out goes wrong; of ranks that never answer,
        // the fourth (each holds two).
        if (++assigned_ == (fault_ == Fault::held_until_stopped ? 4 : 5)) {
            switch (fault_) {
                case Fault::wrong_sources: message.chunk_record.chunk.first = chunk.first + 1;
                                           message.chunk_record.sources.pop_back(); break;
                case Fault::wrong_rank: message.rank = message.chunk_record.rank = rank == 1 ? 2 : 1; break;
                case Fault::disagree: message.chunk_record.sources[0].scans += 1; break;
                case Fault::short_record: message.chunk_record.sources.pop_back(); break;
                case Fault::interrupted: message = {FromRank::interrupted, rank, {}}; break;
                case Fault::held_until_stopped: inbox_.push_back({FromRank::interrupted, rank, {}}); break;
                case Fault::wrong_repetition: message.chunk_record.chunk.repetition ^= 1; break;
                case Fault::wrong_last: message.chunk_record.chunk.last -= 1;
                                        message.chunk_record.sources.pop_back(); break;
                case Fault::wrong_first: message.chunk_record.chunk.first += 1;
                                         message.chunk_record.sources.erase(message.chunk_record.sources.begin()); break;
                case Fault::wrong_id: message.chunk_record.chunk.id += 1000; break;
                case Fault::twice: inbox_.push_back(message); break;
                case Fault::none: break;
            }
        }
        if (fault_ == Fault::held_until_stopped) {
            held_.push_back(message);
            given_.push_back(chunk);
            return;
        }
        inbox_.push_back(message);
    }
    void stop(int rank, bool interrupted) override {
        ++stops_;
        for (const FromRank& m : held_) {
            if (interrupted && m.rank == rank) inbox_.push_back(m);
        }
        inbox_.push_back({FromRank::bye, rank, {}});
    }
    bool receive(FromRank& message) override {
        if (inbox_.empty()) return false;
        message = inbox_.front();
        inbox_.pop_front();
        return true;
    }
    bool flush(double) override { return true; }
    int stops_ = 0;
    std::vector<Chunk> given_;  // held_until_stopped: the chunks handed to these ranks

private:
    std::vector<FromRank> held_;
    int ranks_;
    const std::map<int64_t, SourceFigures>& truth_;
    Fault fault_;
    int assigned_ = 0;
    std::deque<FromRank> inbox_;
};

class CoordinatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        GeneratedNetwork net = generateNetwork({"grid", 12, 10, 3, 1, 50});
        buildArcTable(net.arcs, net.nodes, network_);
        layOut(network_, laid_out_);
        table_ = {laid_out_.layout, laid_out_.block.data()};
        Engine engine;
        engine.prepare(table_, EngineUse::figures);
        const ChunkRecord all = runChunk(engine, {0, 0, 1, network_.nodes});
        for (int64_t s = 1; s <= network_.nodes; ++s) truth_[s] = all.sources[static_cast<size_t>(s - 1)];
    }
    void TearDown() override { pretendInterruption(0); }
    RunOutcome run(StandInRanks::Fault fault) {
        schedule_ = std::make_unique<SweepSchedule>(network_.nodes, 2, 3);
        tally_ = std::make_unique<SweepTally>(network_.nodes);
        ranks_ = std::make_unique<StandInRanks>(3, truth_, fault);
        ComputeThreads own(table_, 2);
        CheckpointFile none;
        Coordinator coordinator(*schedule_, *tally_, none, *ranks_, own, {2, 1, 1}, {});
        const RunOutcome outcome = coordinator.run();
        recorded_ = coordinator.sourcesRecorded();
        return outcome;
    }
    Network network_;
    LaidOutNetwork laid_out_;
    ArcTable table_;
    std::map<int64_t, SourceFigures> truth_;
    std::unique_ptr<SweepSchedule> schedule_;
    std::unique_ptr<SweepTally> tally_;
    std::unique_ptr<StandInRanks> ranks_;
    int64_t recorded_ = 0;
};

TEST_F(CoordinatorTest, RanksThatBehaveGiveEveryFigure) {
    const RunOutcome outcome = run(StandInRanks::Fault::none);
    ASSERT_EQ(outcome.end, RunEnd::complete) << outcome.failure;
    EXPECT_EQ(recorded_, 2 * network_.nodes);
    EXPECT_EQ(ranks_->stops_, 2);
    for (int64_t s = 1; s <= network_.nodes; ++s) ASSERT_TRUE(tally_->figures(s) == truth_[s]) << s;
}

TEST_F(CoordinatorTest, ARecordOfSourcesNotGivenFailsTheNetwork) {
    for (const auto fault : {StandInRanks::Fault::wrong_sources, StandInRanks::Fault::wrong_rank}) {
        const RunOutcome outcome = run(fault);
        ASSERT_EQ(outcome.end, RunEnd::failed);
        EXPECT_NE(outcome.failure.find(", which it was not given; a rank may be at fault, so no figure is reported"),
                  std::string::npos)
            << outcome.failure;
        EXPECT_EQ(ranks_->stops_, 2);  // the others are still told to stop
    }
}

// A record is taken only when it is the chunk handed out, in every field,
// from the rank that holds it, once.
TEST_F(CoordinatorTest, ARecordDifferingFromItsChunkInAnyFieldFailsTheNetwork) {
    using F = StandInRanks::Fault;
    for (const F fault : {F::wrong_repetition, F::wrong_last, F::wrong_first, F::wrong_id, F::twice}) {
        const RunOutcome outcome = run(fault);
        ASSERT_EQ(outcome.end, RunEnd::failed) << static_cast<int>(fault);
        EXPECT_NE(outcome.failure.find(", which it was not given; a rank may be at fault"), std::string::npos)
            << outcome.failure;
    }
}

TEST_F(CoordinatorTest, FiguresThatDisagreeOrFallShortFailTheNetwork) {
    RunOutcome outcome = run(StandInRanks::Fault::disagree);
    ASSERT_EQ(outcome.end, RunEnd::failed);
    EXPECT_EQ(outcome.failure.rfind("the repetitions disagree on source ", 0), 0u) << outcome.failure;
    outcome = run(StandInRanks::Fault::short_record);
    ASSERT_EQ(outcome.end, RunEnd::failed);
    EXPECT_NE(outcome.failure.find("sources' figures"), std::string::npos) << outcome.failure;
}

// Told to stop, the other ranks send what they finished: it is recorded.
TEST_F(CoordinatorTest, AStopKeepsTheRecordsTheOtherRanksSendOnceTold) {
    const RunOutcome outcome = run(StandInRanks::Fault::held_until_stopped);
    ASSERT_EQ(outcome.end, RunEnd::interrupted);
    ASSERT_EQ(ranks_->given_.size(), 4u);
    for (const Chunk& c : ranks_->given_) {
        for (int64_t s = c.first; s <= c.last; ++s) EXPECT_TRUE(tally_->known(s)) << s;
    }
    int64_t given = 0;
    for (const Chunk& c : ranks_->given_) given += c.sources();
    EXPECT_GE(recorded_, given);
}

// A compute thread told to drop its work still gives back what it finished.
TEST_F(CoordinatorTest, AnAbandonedComputeThreadKeepsItsFinishedRecords) {
    ComputeThreads thread(table_, 1);
    thread.give({0, 0, 1, 3});
    thread.give({1, 0, 4, 6});
    thread.waitForRecord(std::chrono::microseconds(60000000));  // the first record is ready
    thread.abandon();
    ChunkRecord r;
    int taken = 0;
    while (thread.take(r)) {
        ++taken;
        EXPECT_EQ(r.sources.size(), 3u);
        EXPECT_TRUE(r.sources[0] == truth_[r.chunk.first]);
    }
    EXPECT_GE(taken, 1);  // the first chunk, finished before the abandon
}

TEST_F(CoordinatorTest, ASignalStopsTheRunWithWhatCameBack) {
    RunOutcome outcome = run(StandInRanks::Fault::interrupted);  // another rank was signalled
    ASSERT_EQ(outcome.end, RunEnd::interrupted);
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_GT(recorded_, 0);
    EXPECT_LT(recorded_, 2 * network_.nodes);
    pretendInterruption(SIGTERM);  // this rank was
    outcome = run(StandInRanks::Fault::none);
    ASSERT_EQ(outcome.end, RunEnd::interrupted);
    EXPECT_EQ(outcome.signal, SIGTERM);
}

}  // namespace
