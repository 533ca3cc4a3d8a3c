#include "sweep_worker.h"

#include <chrono>

#include "sweep_signals.h"

namespace {

// How long a signalled rank waits for rank 0's word, and for its last
// messages to be taken.
constexpr double kAnswerSeconds = 20;

}  // namespace

WorkerEnd serveRankZero(WorkerLink& link, ComputeThread& compute) {
    bool told = false;
    std::chrono::steady_clock::time_point told_at;
    for (;;) {
        ToRank message;
        while (link.receive(message)) {
            if (message.kind == ToRank::assign) {
                compute.give(message.chunk);
            } else if (message.kind == ToRank::stop) {
                // Whatever this rank still holds is dropped; after the
                // goodbye rank 0 hears nothing more of this network from it.
                compute.abandon();
                link.sendBye();
                link.flush(kAnswerSeconds);
                return WorkerEnd::stopped;
            } else {
                return WorkerEnd::interrupted;  // the tool ends at once: nothing more is sent
            }
        }
        ChunkRecord record;
        while (compute.take(record)) link.send(record);
        if (interruption() != 0 && !told) {
            // Rank 0 stops the run; what is running here is dropped.
            told = true;
            told_at = std::chrono::steady_clock::now();
            link.sendInterrupted();
            compute.abandon();
        }
        if (told && std::chrono::steady_clock::now() - told_at > std::chrono::duration<double>(kAnswerSeconds)) {
            return WorkerEnd::lost;
        }
        compute.waitForRecord(std::chrono::microseconds(1000));
    }
}
