// Rank 0's coordinator against ranks that misbehave on purpose: a stand-in for
// the ranks layer whose ranks answer from figures worked out beforehand.
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "generator/network_generator.h"
#include "spc_sweep/sweep_coordinator.h"
#include "spc_sweep/sweep_signals.h"
#include "test_support.h"

namespace {

// Ranks 1 .. ranks-1, answering each chunk at once with the right figures,
// unless told to misbehave.
class StandInRanks : public RankLink {
public:
    enum class Fault { none, wrong_sources, wrong_rank, disagree, short_record, interrupted };
    StandInRanks(int ranks, const std::map<int64_t, SourceFigures>& truth, Fault fault)
        : ranks_(ranks), truth_(truth), fault_(fault) {}
    int ranks() const override { return ranks_; }
    void assign(int rank, const Chunk& chunk) override {
        ChunkRecord r{chunk, 1000, {}, rank};
        for (int64_t s = chunk.first; s <= chunk.last; ++s) r.sources.push_back(truth_.at(s));
        FromRank message{FromRank::record, rank, r};
        if (++assigned_ == 5) {  // the fifth chunk handed out goes wrong
            switch (fault_) {
                case Fault::wrong_sources: message.chunk_record.chunk.first = chunk.first + 1;
                                           message.chunk_record.sources.pop_back(); break;
                case Fault::wrong_rank: message.rank = message.chunk_record.rank = rank == 1 ? 2 : 1; break;
                case Fault::disagree: message.chunk_record.sources[0].scans += 1; break;
                case Fault::short_record: message.chunk_record.sources.pop_back(); break;
                case Fault::interrupted: message = {FromRank::interrupted, rank, {}}; break;
                case Fault::none: break;
            }
        }
        inbox_.push_back(message);
    }
    void stop(int rank, bool) override {
        ++stops_;
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

private:
    int ranks_;
    const std::map<int64_t, SourceFigures>& truth_;
    Fault fault_;
    int assigned_ = 0;
    std::deque<FromRank> inbox_;
};

class CoordinatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        const GeneratedNetwork net = generateNetwork({"grid", 12, 10, 3, 1, 50});
        loadArcs(net.nodes, net.arcs);
        const ChunkRecord all = runChunk({0, 0, 1, num_nodes});
        for (int64_t s = 1; s <= num_nodes; ++s) truth_[s] = all.sources[static_cast<size_t>(s - 1)];
    }
    void TearDown() override { pretendInterruption(0); }
    RunOutcome run(StandInRanks::Fault fault) {
        schedule_ = std::make_unique<SweepSchedule>(num_nodes, 2, 3);
        tally_ = std::make_unique<SweepTally>(num_nodes);
        ranks_ = std::make_unique<StandInRanks>(3, truth_, fault);
        ComputeThread own;
        RunProgress progress("g.gr", 2, schedule_->total(), 0, 0);
        CheckpointFile none;
        Coordinator coordinator("g.gr", *schedule_, *tally_, none, *ranks_, own, progress);
        const RunOutcome outcome = coordinator.run();
        recorded_ = coordinator.sourcesRecorded();
        return outcome;
    }
    std::map<int64_t, SourceFigures> truth_;
    std::unique_ptr<SweepSchedule> schedule_;
    std::unique_ptr<SweepTally> tally_;
    std::unique_ptr<StandInRanks> ranks_;
    int64_t recorded_ = 0;
};

TEST_F(CoordinatorTest, RanksThatBehaveGiveEveryFigure) {
    const RunOutcome outcome = run(StandInRanks::Fault::none);
    ASSERT_EQ(outcome.end, RunEnd::complete) << outcome.failure;
    EXPECT_EQ(recorded_, 2 * num_nodes);
    EXPECT_EQ(ranks_->stops_, 2);
    for (int64_t s = 1; s <= num_nodes; ++s) ASSERT_TRUE(tally_->figures(s) == truth_[s]) << s;
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

TEST_F(CoordinatorTest, FiguresThatDisagreeOrFallShortFailTheNetwork) {
    RunOutcome outcome = run(StandInRanks::Fault::disagree);
    ASSERT_EQ(outcome.end, RunEnd::failed);
    EXPECT_EQ(outcome.failure.rfind("the repetitions disagree on source ", 0), 0u) << outcome.failure;
    outcome = run(StandInRanks::Fault::short_record);
    ASSERT_EQ(outcome.end, RunEnd::failed);
    EXPECT_NE(outcome.failure.find("sources' figures"), std::string::npos) << outcome.failure;
}

TEST_F(CoordinatorTest, ASignalStopsTheRunWithWhatCameBack) {
    RunOutcome outcome = run(StandInRanks::Fault::interrupted);  // another rank was signalled
    ASSERT_EQ(outcome.end, RunEnd::interrupted);
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_GT(recorded_, 0);
    EXPECT_LT(recorded_, 2 * num_nodes);
    pretendInterruption(SIGTERM);  // this rank was
    outcome = run(StandInRanks::Fault::none);
    ASSERT_EQ(outcome.end, RunEnd::interrupted);
    EXPECT_EQ(outcome.signal, SIGTERM);
}

}  // namespace
