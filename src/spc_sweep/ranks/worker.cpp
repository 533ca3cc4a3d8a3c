#include "worker.h"

#include <chrono>

#include "signals.h"

namespace {

// How long a signalled rank waits for rank 0's word, and for its last
// messages to be taken.
constexpr double kAnswerSeconds = 20;

void sendFinished(WorkerLink& link, ComputeThreads& compute) {
    ChunkRecord record;
    while (compute.take(record)) link.send(record);
}

}  // namespace

WorkerEnd serveRankZero(WorkerLink& link, ComputeThreads& compute) {
    bool told = false;
    std::chrono::steady_clock::time_point told_at;
    for (;;) {
        ToRank message;
        while (link.receive(message)) {
            if (message.kind == ToRank::assign) {
                compute.give(message.chunk);
                continue;
            }
            // Stop: the network is complete or failed, and whatever this rank
            // still holds is dropped. Interrupt: the run is cut short, and the
            // chunks this rank finished go to rank 0 first. After the
            // goodbye rank 0 hears nothing more of this network from it.
            compute.abandon();
            if (message.kind == ToRank::interrupt) sendFinished(link, compute);
            link.sendBye();
            link.flush(kAnswerSeconds);
            return message.kind == ToRank::stop ? WorkerEnd::stopped : WorkerEnd::interrupted;
        }
        sendFinished(link, compute);
        if (interruption() != 0 && !told) {
            // Rank 0 stops the run; what is running here is dropped, what
            // finished meanwhile still goes.
            told = true;
            told_at = std::chrono::steady_clock::now();
            compute.abandon();
            sendFinished(link, compute);
            link.sendInterrupted();
        }
        if (told && std::chrono::steady_clock::now() - told_at > std::chrono::duration<double>(kAnswerSeconds)) {
            return WorkerEnd::lost;
        }
        compute.waitForRecord(std::chrono::microseconds(1000));
    }
}
